#include "input_types.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <strings.h>

namespace pcmtap {
namespace {

struct TypeWord {
  const char *word; // lower case; may hold blanks and '/'
  DWORD type;
};

// Tried in this order, the first match wins: the specific before the
// general, so that "Digital Mic" is a microphone and "Analog CD" a CD.
const TypeWord kTypeWords[] = {
    {"mic", BASS_INPUT_TYPE_MIC},
    {"microphone", BASS_INPUT_TYPE_MIC},
    {"headset", BASS_INPUT_TYPE_MIC},
    {"pc speaker", BASS_INPUT_TYPE_SPEAKER},
    {"pc beep", BASS_INPUT_TYPE_SPEAKER},
    {"beep", BASS_INPUT_TYPE_SPEAKER},
    {"phone", BASS_INPUT_TYPE_PHONE},
    {"telephone", BASS_INPUT_TYPE_PHONE},
    {"synth", BASS_INPUT_TYPE_SYNTH},
    {"midi", BASS_INPUT_TYPE_SYNTH},
    {"cd", BASS_INPUT_TYPE_CD},
    {"line", BASS_INPUT_TYPE_LINE},
    {"aux", BASS_INPUT_TYPE_AUX},
    {"iec958", BASS_INPUT_TYPE_DIGITAL},
    {"s/pdif", BASS_INPUT_TYPE_DIGITAL},
    {"spdif", BASS_INPUT_TYPE_DIGITAL},
    {"digital", BASS_INPUT_TYPE_DIGITAL},
    {"hdmi", BASS_INPUT_TYPE_DIGITAL},
    {"pcm", BASS_INPUT_TYPE_WAVE},
    {"wave", BASS_INPUT_TYPE_WAVE},
    {"video", BASS_INPUT_TYPE_ANALOG},
    {"analog", BASS_INPUT_TYPE_ANALOG},
};

bool is_word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c));
}

// Whether `word` stands in `name` as a whole word, ignoring case.
bool has_word(const char *name, const char *word) {
  size_t length = std::strlen(word);
  for (const char *at = name; *at; ++at) {
    if (at != name && is_word_char(at[-1]))
      continue;
    if (strncasecmp(at, word, length) == 0 && !is_word_char(at[length]))
      return true;
  }
  return false;
}

} // namespace

DWORD input_type_from_name(const char *name) {
  for (const TypeWord &entry : kTypeWords)
    if (has_word(name, entry.word))
      return entry.type;
  return BASS_INPUT_TYPE_UNDEF;
}

void make_names_unique(std::vector<std::string> *names) {
  std::set<std::string> taken;
  for (std::string &name : *names) {
    for (char &c : name)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
        c = ' ';
    std::string unique = name;
    for (int n = 2; taken.count(unique); ++n)
      unique = name + " " + std::to_string(n);
    name = unique;
    taken.insert(name);
  }
}

bool same_name(const std::string &a, const std::string &b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

} // namespace pcmtap
