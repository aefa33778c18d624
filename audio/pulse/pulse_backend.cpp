#include "pulse_backend.h"

#include "pulse_capture.h"
#include "pulse_inputs.h"

#include <cstdlib>

namespace pcmtap {

std::unique_ptr<PulseBackend> PulseBackend::connect(const PulseTarget &target,
                                                    unsigned timeout_ms) {
  std::unique_ptr<PulseConnection> control;
  if (PulseConnection::open(target.server, timeout_ms, &control) < 0)
    return nullptr;
  return std::unique_ptr<PulseBackend>(
      new PulseBackend(target, std::move(control)));
}

PulseBackend::PulseBackend(const PulseTarget &target,
                           std::unique_ptr<PulseConnection> control)
    : target_(target), control_(std::move(control)) {}

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
  if (source_.empty()) {
    SourceState state;
    if (int err = control_->source_state(source_asked_for(), &state); err < 0)
      return err;
    source_ = state.name;
  }
  *out =
      std::make_unique<PulseCapture>(target_.server, source_, rate, channels);
  return 0;
}

bool PulseBackend::output_available() { return control_->has_default_sink(); }

std::unique_ptr<Inputs> PulseBackend::open_inputs() {
  return std::make_unique<PulseInputs>(*control_, source_);
}

} // namespace pcmtap
