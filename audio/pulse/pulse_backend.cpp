#include "pulse_backend.h"

#include "program_capture.h"
#include "pulse_capture.h"
#include "pulse_inputs.h"

#include <cstdlib>

namespace pcmtap {
namespace {

// The device is opened before an input is chosen: what it records, a
// source or a program, is decided when the recording starts.
class ChosenCapture final : public CaptureSource {
public:
  ChosenCapture(std::string server, std::shared_ptr<const PulseChoice> choice,
                unsigned rate, unsigned channels)
      : server_(std::move(server)), choice_(std::move(choice)),
        source_(
            std::make_unique<PulseCapture>(server_, choice_, rate, channels)) {}

  unsigned channels() const override { return source_->channels(); }
  unsigned rate() const override { return source_->rate(); }
  size_t max_read_frames() const override { return source_->max_read_frames(); }
  unsigned buffer_millis() const override { return source_->buffer_millis(); }
  size_t period_frames() const override { return source_->period_frames(); }
  int start() override {
    if (choice_->program_chosen && !program_) {
      source_->stop();
      source_ =
          make_program_capture(server_, choice_->program, choice_->program_name,
                               source_->rate(), source_->channels());
      program_ = true;
    }
    return source_->start();
  }
  int wait(const Wakeup &stop) override { return source_->wait(stop); }
  long available() override { return source_->available(); }
  long pending() override { return source_->pending(); }
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override {
    return source_->read(dst, max_frames, lost);
  }
  void release_held_audio() override { source_->release_held_audio(); }
  void stop() override { source_->stop(); }
  const char *error_text(int err) const override {
    return source_->error_text(err);
  }

private:
  const std::string server_;
  const std::shared_ptr<const PulseChoice> choice_;
  std::unique_ptr<CaptureSource> source_;
  bool program_ = false;
};

} // namespace

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
  *out =
      std::make_unique<ChosenCapture>(target_.server, choice_, rate, channels);
  return 0;
}

int PulseBackend::check_output() {
  return control_->has_default_sink() ? 0 : pulse_error(PA_ERR_NOENTITY);
}

std::unique_ptr<Inputs> PulseBackend::open_inputs() {
  return std::make_unique<PulseInputs>(*control_, choice_);
}

} // namespace pcmtap
