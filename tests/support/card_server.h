// A private PulseAudio server whose default source is a sound card with
// typed ports: the virtual card and mixer, made to look like ALSA card 0,
// which the server calls "Built-in Audio".
#ifndef PCMTAP_TESTS_SUPPORT_CARD_SERVER_H
#define PCMTAP_TESTS_SUPPORT_CARD_SERVER_H

#include "pulse_server.h"

#include <memory>
#include <string>
#include <vector>

namespace pcmtap::test {

struct CardServerOptions {
  // Extra settings of the virtual card ("start_frames 4096", ...). It is
  // always paced by the clock ("realtime true"): unpaced, it is always
  // readable and the server would read it in a busy loop.
  std::vector<std::string> card_settings;
  bool mic_plugged = true;   // the "Mic Jack" control
  bool line_plugged = false; // the "Line Jack" control
};

struct CardServer {
  std::unique_ptr<PulseServer> server;
  std::string source;    // the default source's name
  std::string mixer_log; // the virtual mixer's log of writes

  // Waits until the mixer's log holds `line` ("Input Source=2"): the
  // server writes some controls (mute, volume) from its I/O thread, after
  // pactl returns. False after a limit (10 s) that only guards against hangs.
  bool wait_for_mixer_write(const std::string &line) const;
};

// The source's ports, in the order the server lists them: the stock
// analog-input-mic ("Microphone", type Mic) and analog-input-linein
// ("Line In", type Line), then our own paths, which the server gives type
// Unknown and no jack ("availability unknown"). Each selects its item of
// the mixer's "Input Source" enumeration (Mic, Line, CD, Digital).
inline const std::vector<std::string> kCardPorts = {
    "analog-input-mic", "analog-input-linein", "pcmtap-cd", "pcmtap-digital"};

// Starts the server (see PulseServer); throws std::runtime_error with its
// log if the card does not come up.
CardServer start_card_server(const CardServerOptions &options = {});

} // namespace pcmtap::test

#endif
