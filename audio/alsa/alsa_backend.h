// The library over plain ALSA: the default PCM for recording and for the
// output check, the default control device's mixer for the inputs.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_BACKEND_H
#define PCMTAP_AUDIO_ALSA_ALSA_BACKEND_H

#include "../engine/backend.h"

namespace pcmtap {

// Keeps alsa-lib from printing its own messages; we report errors ourselves.
void alsa_silence_errors();

class AlsaBackend final : public Backend {
public:
  AlsaBackend();

  int open_capture(unsigned rate, unsigned channels,
                   std::unique_ptr<CaptureSource> *out) override;
  int check_output() override;
  std::string device_name(bool) const override { return "ALSA \"default\""; }
  const char *absence_hint(bool output) const override {
    return output ? "nothing is played, but a playback device must be there"
                  : "no sound card or sound server found";
  }
  std::unique_ptr<Inputs> open_inputs() override;
  const char *error_text(int err) const override;
};

} // namespace pcmtap

#endif
