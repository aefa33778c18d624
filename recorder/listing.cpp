#include "listing.h"

#include "bass.h"
#include "help.h"
#include "messages.h"

#include <cstdio>
#include <cstdlib>

namespace pcmtap {

const char *input_type_name(int input) {
  switch (BASS_RecordGetInput(input) & BASS_INPUT_TYPE_MASK) {
  case BASS_INPUT_TYPE_DIGITAL:
    return "digital";
  case BASS_INPUT_TYPE_LINE:
    return "line-in";
  case BASS_INPUT_TYPE_MIC:
    return "microphone";
  case BASS_INPUT_TYPE_SYNTH:
    return "midi synth";
  case BASS_INPUT_TYPE_CD:
    return "analog cd";
  case BASS_INPUT_TYPE_PHONE:
    return "telephone";
  case BASS_INPUT_TYPE_SPEAKER:
    return "pc speaker";
  case BASS_INPUT_TYPE_WAVE:
    return "wave/pcm";
  case BASS_INPUT_TYPE_AUX:
    return "aux";
  case BASS_INPUT_TYPE_ANALOG:
    return "analog";
  default:
    return "undefined";
  }
}

void listing_mode() {
  print_usage();
  for (int i = 0;; ++i) {
    const char *name = BASS_RecordGetInputName(i);
    if (name == nullptr)
      break;
    DWORD flags = BASS_RecordGetInput(i);
    std::printf("%c%5i. Name=\"%s\", Type=\"%s\"\n",
                flags & BASS_INPUT_OFF ? ' ' : '+', i, name,
                input_type_name(i));
  }
  std::exit(text_output_status());
}

} // namespace pcmtap
