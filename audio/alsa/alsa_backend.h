// The library over bare ALSA: every sound card that records, through its
// control device's mixer and its own capture device, and ALSA's default PCM
// for a plain run and for the output check.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_BACKEND_H
#define PCMTAP_AUDIO_ALSA_ALSA_BACKEND_H

#include "../engine/backend.h"
#include "alsa_cards.h"

#include <memory>
#include <string>

namespace pcmtap {

// Keeps alsa-lib from printing its own messages; we report errors ourselves.
void alsa_silence_errors();

class AlsaBackend final : public Backend {
public:
  AlsaBackend();

  // Where a card records, nothing is opened here: the inputs choose the
  // card first, and a listing must not wait for a card in use.
  int open_capture(unsigned rate, unsigned channels,
                   std::unique_ptr<CaptureSource> *out) override;
  int check_output() override;
  std::string device_name(bool) const override { return "ALSA \"default\""; }
  const char *absence_hint(bool output) const override {
    return output ? "nothing is played, but a playback device must be there"
                  : capture_hint_.c_str();
  }
  std::unique_ptr<Inputs> open_inputs() override;
  const char *error_text(int err) const override;

private:
  void find_cards();

  // Found when the device is opened, then changed by the inputs.
  std::shared_ptr<AlsaChoice> choice_;
  std::string capture_hint_;
};

} // namespace pcmtap

#endif
