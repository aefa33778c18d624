#include "pulse_backend.h"

#include "../engine/chosen_capture.h"
#include "program_capture.h"
#include "pulse_capture.h"
#include "pulse_inputs.h"

#include <cstdlib>

namespace pcmtap {

int PulseBackend::connect(const PulseTarget &target, unsigned timeout_ms,
                          std::unique_ptr<PulseBackend> *out) {
  std::unique_ptr<PulseConnection> control;
  if (int err = PulseConnection::open(target.server, timeout_ms, &control);
      err < 0)
    return err;
  out->reset(new PulseBackend(target, std::move(control)));
  return 0;
}

std::string PulseBackend::server_name(const PulseTarget &target) {
  const char *env = std::getenv("PULSE_SERVER");
  std::string server = target.server;
  if (server.empty() && env)
    server = env;
  return server.empty() ? "sound server" : "sound server \"" + server + "\"";
}

std::string PulseBackend::device_name(bool output) const {
  return server_name(target_) +
         (output ? ", default sink"
                 : ", source \"" + source_asked_for() + "\"");
}

PulseBackend::PulseBackend(const PulseTarget &target,
                           std::unique_ptr<PulseConnection> control)
    : target_(target), control_(std::move(control)),
      choice_(std::make_shared<PulseChoice>()) {}

std::string PulseBackend::source_asked_for() const {
  if (!target_.source.empty())
    return target_.source;
  const char *env = std::getenv("PULSE_SOURCE");
  return env && *env ? env : "@DEFAULT_SOURCE@";
}

int PulseBackend::open_capture(unsigned rate, unsigned channels,
                               std::unique_ptr<CaptureSource> *out) {
  // Found once by name, so that the inputs and the recording are of the
  // same source even if the server's default moves meanwhile.
  if (choice_->source.empty()) {
    SourceState state;
    if (int err = control_->source_state(source_asked_for(), &state); err < 0)
      return err;
    choice_->source = state.name;
  }
  // What it records, a source or a program, is decided when the recording
  // starts.
  auto source =
      std::make_unique<PulseCapture>(target_.server, choice_, rate, channels);
  *out = std::make_unique<ChosenCapture>(
      std::move(source),
      [server = target_.server, choice = choice_, rate,
       channels]() -> std::unique_ptr<CaptureSource> {
        if (!choice->program_chosen)
          return nullptr;
        return make_program_capture(server, choice->program_name, rate,
                                    channels);
      });
  return 0;
}

int PulseBackend::check_output() {
  return control_->has_default_sink() ? 0 : pulse_error(PA_ERR_NOENTITY);
}

std::unique_ptr<Inputs> PulseBackend::open_inputs() {
  return std::make_unique<PulseInputs>(*control_, choice_);
}

} // namespace pcmtap
