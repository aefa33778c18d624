// The library over winmm: WAVE_MAPPER's devices for recording and for the
// output check, the recording device's mixer for the inputs.
#ifndef PCMTAP_AUDIO_WINMM_WINMM_BACKEND_H
#define PCMTAP_AUDIO_WINMM_WINMM_BACKEND_H

#include "../engine/backend.h"

namespace pcmtap {

class WinmmBackend final : public Backend {
public:
  int open_capture(unsigned rate, unsigned channels,
                   std::unique_ptr<CaptureSource> *out) override;
  int check_output() override;
  std::string device_name(bool output) const override {
    return output ? "the default playback device"
                  : "the default recording device";
  }
  const char *absence_hint(bool output) const override {
    return output ? "nothing is played, but a playback device must be there"
                  : "no recording device is installed or enabled";
  }
  std::unique_ptr<Inputs> open_inputs() override;
  const char *error_text(int err) const override;
};

} // namespace pcmtap

#endif
