// The chosen endpoint, or program, as a capture device, opened when
// recording starts so that it follows the input switched on, through
// `open` or `open_process` (Windows' own, or a test's).
#ifndef PCMTAP_AUDIO_WASAPI_WASAPI_CAPTURE_H
#define PCMTAP_AUDIO_WASAPI_WASAPI_CAPTURE_H

#include "../engine/capture_source.h"
#include "capture_stream.h"
#include "wasapi_errors.h"

#include <memory>

namespace pcmtap {

struct EndpointChoice;

// What the captures here keep alike: the format, blocks of at most 50 ms
// handed on every 40 ms, time in the performance counter's 100 ns ticks,
// and Windows' texts for errors.
class WasapiSource : public CaptureSource {
public:
  // The engine signals every period (10 ms); the audio is handed on once
  // this much is in, so that the thread that writes it wakes for a fifth as
  // many pieces.
  static constexpr unsigned kHandOnMillis = 40;
  // Silence is written up to this long before now, since a packet recorded
  // just before now may still be on its way; with the 40 ms timer, what has
  // been written is never more than 50 ms behind.
  static constexpr UINT64 kSilenceLagTicks = 10 * 10000;

  WasapiSource(unsigned rate, unsigned channels)
      : rate_(rate), channels_(channels) {}
  WasapiSource(const WasapiSource &) = delete;
  WasapiSource &operator=(const WasapiSource &) = delete;

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override { return size_t{rate_} / 20; }
  const char *error_text(int err) const override {
    return wasapi_error_text(err);
  }

protected:
  static constexpr UINT64 kTicksPerSecond = 10000000;
  UINT64 frames_in(UINT64 ticks) const {
    return ticks * rate_ / kTicksPerSecond;
  }

  const unsigned rate_;
  const unsigned channels_;
};

std::unique_ptr<CaptureSource>
make_wasapi_capture(unsigned rate, unsigned channels,
                    std::shared_ptr<const EndpointChoice> choice,
                    CaptureStreamOpener open = open_capture_stream,
                    ProcessStreamOpener open_process = open_process_stream);

} // namespace pcmtap

#endif
