#include "winmm_backend.h"

#include "mixer_inputs.h"
#include "winmm_capture.h"
#include "winmm_wave.h"

namespace pcmtap {
namespace {

// What BASS_Init is asked to check the output for.
const unsigned kOutputRate = 44100;
const unsigned kOutputChannels = 2;

// The mixer's inputs in the library's terms.
class WinmmInputs final : public Inputs {
public:
  explicit WinmmInputs(std::unique_ptr<MixerInputs> mixer)
      : mixer_(std::move(mixer)) {}

  size_t count() const override { return mixer_->count(); }
  const char *name(size_t i) const override { return mixer_->name(i); }
  DWORD flags(size_t i) override {
    DWORD type = DWORD{mixer_->type_code(i)} << 24;
    return mixer_->is_on(i) ? type : type | BASS_INPUT_OFF;
  }
  bool switch_off(size_t i) override { return mixer_->set(i, false); }
  bool switch_on(size_t i) override { return mixer_->set(i, true); }

private:
  std::unique_ptr<MixerInputs> mixer_;
};

} // namespace

int WinmmBackend::open_capture(unsigned rate, unsigned channels,
                               std::unique_ptr<CaptureSource> *out) {
  return open_wave_in(rate, channels, out);
}

int WinmmBackend::check_output() {
  return query_wave_out(kOutputRate, kOutputChannels);
}

std::unique_ptr<Inputs> WinmmBackend::open_inputs() {
  return std::make_unique<WinmmInputs>(open_mixer_inputs());
}

const char *WinmmBackend::error_text(int err) const {
  return winmm_error_text(err);
}

} // namespace pcmtap
