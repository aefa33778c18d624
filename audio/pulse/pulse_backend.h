// The library over a sound server (PulseAudio, or PipeWire through its
// PulseAudio server), spoken to directly with libpulse: the inputs are the
// sources' ports and what the computer plays, and recording is a record
// stream on the source chosen.
#ifndef PCMTAP_AUDIO_PULSE_PULSE_BACKEND_H
#define PCMTAP_AUDIO_PULSE_PULSE_BACKEND_H

#include "../engine/backend.h"
#include "pulse_connection.h"

#include <memory>
#include <string>

namespace pcmtap {

struct PulseChoice;

// Where to record from; empty fields leave the choice to libpulse and the
// environment (PULSE_SERVER, PULSE_SOURCE), as with any client.
struct PulseTarget {
  std::string server;
  std::string source;
};

class PulseBackend final : public Backend {
public:
  // A negative error when no server answers within `timeout_ms`.
  static int connect(const PulseTarget &target, unsigned timeout_ms,
                     std::unique_ptr<PulseBackend> *out);
  // The server tried, for messages.
  static std::string server_name(const PulseTarget &target);

  int open_capture(unsigned rate, unsigned channels,
                   std::unique_ptr<CaptureSource> *out) override;
  int check_output() override;
  std::string device_name(bool output) const override;
  const char *absence_hint(bool output) const override {
    return output ? "nothing is played, but the server must have a sink"
                  : "the server has no such source";
  }
  std::unique_ptr<Inputs> open_inputs() override;
  const char *error_text(int err) const override {
    return pulse_error_text(err);
  }

private:
  PulseBackend(const PulseTarget &target,
               std::unique_ptr<PulseConnection> control);
  std::string source_asked_for() const;

  const PulseTarget target_;
  // The main thread's connection, for the inputs and the output check; a
  // capture has its own, which its device thread drives.
  std::unique_ptr<PulseConnection> control_;
  // Found when the device is opened, then changed by the inputs.
  std::shared_ptr<PulseChoice> choice_;
};

} // namespace pcmtap

#endif
