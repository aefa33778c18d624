// The capture device over alsa-lib: ALSA's default, or the card the inputs
// chose.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_CAPTURE_H
#define PCMTAP_AUDIO_ALSA_ALSA_CAPTURE_H

#include "../engine/capture_source.h"
#include "alsa_cards.h"

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

namespace pcmtap {

class AlsaCapture final : public CaptureSource {
public:
  // Records what `choice` says when the device is opened: by open_device(),
  // or else by start().
  AlsaCapture(std::shared_ptr<const AlsaChoice> choice, unsigned rate,
              unsigned channels);
  ~AlsaCapture() override;
  AlsaCapture(const AlsaCapture &) = delete;
  AlsaCapture &operator=(const AlsaCapture &) = delete;

  // Opens the device for 16-bit little-endian samples.  Devices that cannot
  // do the format, the channel count or the rate themselves get alsa-lib's
  // plug conversions.
  int open_device();

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override;
  unsigned buffer_millis() const override { return buffer_millis_; }
  size_t period_frames() const override { return period_frames_; }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void stop() override;
  const char *error_text(int err) const override;

private:
  int open_default();
  int open_card(const AlsaCard &card);
  void take(snd_pcm_t *pcm);
  int recover(int err, DeviceLosses *lost);
  uint64_t frames_lost_since_last_read() const;

  std::shared_ptr<const AlsaChoice> choice_;
  snd_pcm_t *pcm_ = nullptr;
  unsigned rate_;
  unsigned channels_;
  size_t max_read_ = 0;
  unsigned buffer_millis_ = 1000;
  size_t period_frames_ = 0;
  std::string label_;            // the card, for messages; empty for default
  mutable std::string message_;  // error_text()'s
  double last_read_time_ = 0;    // monotonic seconds
  bool woke_for_device_ = false; // the last wait ended on the device
  bool read_since_wait_ = false;
  bool suspended_ = false; // seen by the last wait, for read() to recover
};

} // namespace pcmtap

#endif
