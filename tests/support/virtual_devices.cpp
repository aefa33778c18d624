#include "virtual_devices.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pcmtap::test {
namespace {

std::vector<std::string> log_lines(const std::string &path) {
  std::istringstream log(read_file(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);)
    lines.push_back(line);
  return lines;
}

std::string quoted(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

} // namespace

std::string counting_frames(uint32_t first, size_t count) {
  std::string bytes(count * 4, '\0');
  for (size_t i = 0; i < count; ++i) {
    uint32_t v = first + uint32_t(i);
    unsigned char le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16),
                           uint8_t(v >> 24)};
    std::memcpy(&bytes[i * 4], le, 4);
  }
  return bytes;
}

long long first_miscounted_frame(const std::string &bytes, uint32_t first) {
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    uint32_t v = uint32_t(p[i]) | uint32_t(p[i + 1]) << 8 |
                 uint32_t(p[i + 2]) << 16 | uint32_t(p[i + 3]) << 24;
    if (v != first + uint32_t(i / 4))
      return (long long)(i / 4);
  }
  return bytes.size() % 4 ? (long long)(bytes.size() / 4) : -1;
}

size_t leading_silence(const std::string &bytes) {
  const size_t at = bytes.find_first_not_of('\0');
  return at == std::string::npos ? bytes.size() : at / 4 * 4;
}

CountingCheck gaps_in(const std::string &bytes) {
  CountingCheck check;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    uint32_t v;
    std::memcpy(&v, &bytes[i], 4);
    check.frame(v);
  }
  return check;
}

std::vector<std::string> with_values(std::vector<std::string> controls,
                                     const std::vector<std::string> &changed) {
  for (const std::string &change : changed)
    for (std::string &control : controls)
      if (control.substr(0, control.find('=')) ==
          change.substr(0, change.find('=')))
        control = change;
  return controls;
}

TempDir::TempDir() {
  char templ[] = "/tmp/pcmtap-test-XXXXXX";
  if (!mkdtemp(templ))
    throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path_ + "'";
  int status = system(command.c_str());
  (void)status;
}

void write_file(const std::string &path, const std::string &content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file)
    throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

VirtualDevices &VirtualDevices::capture_from_file(const std::string &infile) {
  capture_ = "{ type file slave.pcm { type null } file \"/dev/null\" "
             "infile " +
             quoted(infile) + " format \"raw\" }";
  return *this;
}

VirtualDevices &
VirtualDevices::capture_from_card(const std::vector<std::string> &settings) {
  capture_ = "{ type vcard";
  for (const std::string &setting : settings)
    capture_ += " " + setting;
  capture_ += " }";
  return *this;
}

VirtualDevices &VirtualDevices::without_playback() {
  playback_ = false;
  return *this;
}

VirtualDevices &
VirtualDevices::mixer(const std::vector<std::string> &controls) {
  has_mixer_ = true;
  controls_ = controls;
  return *this;
}

std::string VirtualDevices::write() {
  std::ostringstream conf;
  conf << "pcm_type.vcard { lib " << quoted(VIRTUAL_CARD_PATH) << " }\n"
       << "ctl_type.vmix { lib " << quoted(VIRTUAL_MIXER_PATH)
       << " }\n"
       // What "plug:NAME" means, for devices that need conversion.
       << "pcm.plug { @args [ SLAVE ] @args.SLAVE { type string } "
          "type plug slave.pcm $SLAVE }\n"
       << "pcm.!default { type asym";
  if (!capture_.empty())
    conf << " capture.pcm " << capture_;
  if (playback_)
    conf << " playback.pcm { type null }";
  conf << " }\n";
  if (has_mixer_) {
    conf << "ctl.!default { type vmix log " << quoted(dir_.file("mixer.log"))
         << " controls [";
    for (const std::string &control : controls_)
      conf << " " << quoted(control);
    conf << " ] }\n";
  }
  std::string path = dir_.file("asound.conf");
  write_file(path, conf.str());
  return path;
}

std::vector<std::string> VirtualDevices::mixer_writes() const {
  return log_lines(dir_.file("mixer.log"));
}

VirtualSoundCards::VirtualSoundCards(std::vector<VirtualSoundCard> cards,
                                     const std::string &default_pcm) {
  // What alsa.conf defines for the names pcmtap opens by card.
  std::ostringstream conf;
  conf << "pcm_type.vcard { lib " << quoted(VIRTUAL_CARD_PATH) << " }\n"
       << "ctl_type.vmix { lib " << quoted(VIRTUAL_MIXER_PATH) << " }\n"
       << "pcm.hw { @args [ CARD ] @args.CARD { type string } "
          "type hw card $CARD }\n"
       << "pcm.plughw { @args [ CARD ] @args.CARD { type string } "
          "type plug slave.pcm { type hw card $CARD } }\n"
       << "pcm.sysdefault { @args [ CARD ] @args.CARD { type string } "
          "type plug slave.pcm { type hw card $CARD } }\n"
       << "ctl.hw { @args [ CARD ] @args.CARD { type string } "
          "type hw card $CARD }\n"
       << "pcm.!default " << default_pcm << "\n";
  std::string list;
  for (size_t i = 0; i < cards.size(); ++i) {
    const VirtualSoundCard &card = cards[i];
    made_.push_back(card.controls);
    const std::string n = std::to_string(i);
    conf << "pcm.card" << n << " { type "
         << (card.settings.empty() ? "null" : "vcard " + card.settings)
         << " }\nctl.card" << n << " { type vmix log "
         << quoted(dir_.file("mixer" + n + ".log"))
         << (card.plugin ? " answer_changes true" : "") << " controls [";
    for (const std::string &control : card.controls)
      conf << " " << quoted(control);
    conf << " ] }\n";
    list += std::string(i ? ";" : "") +
            (card.settings.empty() ? "p:"
             : card.busy           ? "b:"
                                   : "c:") +
            card.name;
  }
  std::string path = dir_.file("asound.conf");
  write_file(path, conf.str());
  // A sanitized pcmtap wants its runtime first of all libraries; the shim
  // only stands in for alsa-lib, so its place before the runtime is safe.
  env_ = {"ALSA_CONFIG_PATH=" + path, "LD_PRELOAD=" SOUND_CARDS_SHIM_PATH,
          "SOUND_CARDS=" + list, "ASAN_OPTIONS=verify_asan_link_order=0"};
}

std::vector<std::string> VirtualSoundCards::mixer_writes(size_t card) const {
  return log_lines(dir_.file("mixer" + std::to_string(card) + ".log"));
}

std::vector<std::string> VirtualSoundCards::controls(size_t card) const {
  std::vector<std::string> now, taken;
  for (const std::string &control :
       made_[card]) // the values follow the last ':'
    now.push_back(control.substr(0, control.find('=') + 1) +
                  control.substr(control.rfind(':') + 1));
  for (const std::string &write : mixer_writes(card))
    if (write.find("=refused") == write.npos &&
        write.find("=invalid") == write.npos)
      taken.push_back(write);
  return with_values(now, taken);
}

} // namespace pcmtap::test
