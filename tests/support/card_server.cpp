// The card server's files: an ALSA configuration for the server process
// only, a profile set with one input mapping, and two path files of our own.
#include "card_server.h"

#include "virtual_devices.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

namespace pcmtap::test {
namespace {

const char kSource[] = "vcard_input";
constexpr auto kWriteLimit = std::chrono::seconds(10);
// 2 s, as the server's own timer-driven cards have: a server held up for
// a moment (this machine pauses now and then for up to a fifth of a
// second) loses nothing inside itself, where no client could be told.
const unsigned kCardBufferFrames = 88200;

std::string quoted(const std::string &s) {
  std::string out = "\"";
  for (char c : s)
    out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
  return out + "\"";
}

// The server opens "hw:0" for the card's mixer and "front:0" (the
// mapping's device string) for its input.
std::string alsa_config(const CardServerOptions &options,
                        const std::string &mixer_log) {
  const std::vector<std::string> controls = {
      "Capture Switch=bool:1,1", "Capture Volume=int:0:100:80,80",
      "Input Source=enum:Mic,Line,CD,Digital:0",
      std::string("card:Mic Jack=bool:") + (options.mic_plugged ? "1" : "0"),
      std::string("card:Line Jack=bool:") + (options.line_plugged ? "1" : "0")};
  std::ostringstream conf;
  conf << "pcm_type.vcard { lib " << quoted(VIRTUAL_CARD_PATH) << " }\n"
       << "ctl_type.vmix { lib " << quoted(VIRTUAL_MIXER_PATH) << " }\n"
       << "ctl.hw { @args [ CARD ] @args.CARD { type string }\n"
       << "  type vmix log " << quoted(mixer_log) << " controls [";
  for (const std::string &control : controls)
    conf << " " << quoted(control);
  conf << " ] }\n"
       << "pcm.front { @args [ CARD ] @args.CARD { type string }\n"
       << "  type vcard realtime true buffer_frames " << kCardBufferFrames;
  for (const std::string &setting : options.card_settings)
    conf << " " << setting;
  conf << " }\n";
  return conf.str();
}

// Stock paths first: the server lists ports in this order.
const char kProfileSet[] = "[General]\n"
                           "auto-profiles = yes\n"
                           "\n"
                           "[Mapping input]\n"
                           "device-strings = front:%f\n"
                           "channel-map = left,right\n"
                           "paths-input = analog-input-mic analog-input-linein "
                           "pcmtap-cd pcmtap-digital\n"
                           "direction = input\n";

// A port that selects one item of "Input Source", like the stock paths do
// for Mic and Line (whose priorities are 87 and 81).
std::string path_file(const std::string &description, const std::string &item,
                      int priority) {
  return "[General]\ndescription = " + description +
         "\npriority = " + std::to_string(priority) +
         "\n\n[Element Capture]\nswitch = mute\nvolume = merge\n"
         "override-map.1 = all\noverride-map.2 = all-left,all-right\n\n"
         "[Element Input Source]\nenumeration = select\n\n"
         "[Option Input Source:" +
         item + "]\nname = input-" + item + "\n";
}

} // namespace

bool CardServer::wait_for_mixer_write(const std::string &line) const {
  const auto deadline = std::chrono::steady_clock::now() + kWriteLimit;
  for (;;) {
    if (("\n" + read_file(mixer_log)).find("\n" + line + "\n") !=
        std::string::npos)
      return true;
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

CardServer start_card_server(const CardServerOptions &options) {
  CardServer card;
  card.source = kSource;
  card.server = std::make_unique<PulseServer>(
      std::vector<std::string>{}, [&](const std::string &dir) {
        namespace fs = std::filesystem;
        card.mixer_log = dir + "/card/mixer.log";
        // Besides its own, the server reads path files from $XDG_DATA_HOME
        // (here $HOME/.local/share).
        const std::string paths =
            dir + "/.local/share/pulseaudio/alsa-mixer/paths";
        fs::create_directories(paths);
        fs::create_directories(dir + "/card");
        write_file(dir + "/card/asound.conf",
                   alsa_config(options, card.mixer_log));
        write_file(dir + "/card/profile-set.conf", kProfileSet);
        write_file(paths + "/pcmtap-cd.conf", path_file("CD", "CD", 70));
        write_file(paths + "/pcmtap-digital.conf",
                   path_file("Digital Input", "Digital", 60));
        ServerSetup setup;
        // tsched=0: woken once a period through the card's poll descriptor.
        setup.script_lines = {
            "load-module module-alsa-card device_id=0 use_ucm=0 tsched=0 "
            "card_name=vcard "
            "card_properties=\"device.description='Built-in Audio'\" "
            "source_name=" +
                std::string(kSource) + " profile_set=" + dir +
                "/card/profile-set.conf",
            // Something to play to, as a desktop has.
            "load-module module-null-sink sink_name=out"};
        setup.environment = {"ALSA_CONFIG_PATH=" + dir + "/card/asound.conf",
                             std::string("LD_PRELOAD=") + CARD_INDEX_SHIM_PATH};
        // There is no udev device behind card 0.
        setup.expected_errors = {"udev-util.c: Failed to get card object."};
        return setup;
      });
  return card;
}

} // namespace pcmtap::test
