// The default capture device over alsa-lib.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_CAPTURE_H
#define PCMTAP_AUDIO_ALSA_ALSA_CAPTURE_H

#include "../engine/capture_source.h"

#include <alsa/asoundlib.h>

#include <memory>

namespace pcmtap {

class AlsaCapture final : public CaptureSource {
public:
  // Opens the default capture device for 16-bit little-endian samples.
  // Devices that cannot do the format, the channel count or the rate
  // themselves get alsa-lib's plug conversions.
  static int open(unsigned rate, unsigned channels,
                  std::unique_ptr<AlsaCapture> *out);
  ~AlsaCapture() override;

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override { return max_read_; }
  unsigned buffer_millis() const override { return buffer_millis_; }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void stop() override;
  const char *error_text(int err) const override;

private:
  AlsaCapture(snd_pcm_t *pcm, unsigned rate, unsigned channels,
              snd_pcm_uframes_t buffer_frames);
  int recover(int err, DeviceLosses *lost);
  uint64_t frames_lost_since_last_read() const;

  snd_pcm_t *pcm_;
  unsigned rate_;
  unsigned channels_;
  size_t max_read_;
  unsigned buffer_millis_;
  double last_read_time_ = 0;    // monotonic seconds
  bool woke_for_device_ = false; // the last wait ended on the device
  bool read_since_wait_ = false;
  bool suspended_ = false; // seen by the last wait, for read() to recover
};

} // namespace pcmtap

#endif
