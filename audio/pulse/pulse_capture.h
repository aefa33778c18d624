// The sound server's source as a capture device: a record stream whose
// events the device thread takes in through libpulse's main loop, with the
// recording's stop in the same poll.
#ifndef PCMTAP_AUDIO_PULSE_PULSE_CAPTURE_H
#define PCMTAP_AUDIO_PULSE_PULSE_CAPTURE_H

#include "../engine/capture_source.h"
#include "pulse_connection.h"

#include <memory>
#include <string>

namespace pcmtap {

class PulseCapture final : public CaptureSource {
public:
  // Records from `source` of `server` (empty: libpulse's choice).  The
  // connection and the stream are made by start(): from then on only the
  // thread that records drives them.
  PulseCapture(std::string server, std::string source, unsigned rate,
               unsigned channels);
  ~PulseCapture() override;

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override;
  // When the server granted the queue asked for (see start()).
  bool keeps_unread_audio() const override { return keeps_unread_audio_; }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void stop() override;
  const char *error_text(int err) const override {
    return pulse_error_text(err);
  }

private:
  int stream_error() const;
  size_t copy_out(unsigned char *dst, size_t max_bytes, DeviceLosses *lost,
                  int *err);

  const std::string server_;
  const std::string source_;
  const unsigned rate_;
  const unsigned channels_;
  std::unique_ptr<PulseConnection> connection_;
  pa_stream *stream_ = nullptr;
  pa_io_event *stop_event_ = nullptr;
  bool keeps_unread_audio_ = false;
  // The piece the server handed us, while part of it is still to be read.
  const unsigned char *piece_ = nullptr;
  size_t piece_size_ = 0;
  size_t piece_read_ = 0;
  // The start of a frame that the last piece cut in two.
  unsigned char split_frame_[8] = {};
  size_t split_bytes_ = 0;
};

} // namespace pcmtap

#endif
