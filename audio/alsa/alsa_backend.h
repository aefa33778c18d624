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
  bool output_available() override;
  std::unique_ptr<Inputs> open_inputs() override;
  const char *error_text(int err) const override;
};

} // namespace pcmtap

#endif
