// The sound server's source as a capture device: a record stream whose
// events the device thread takes in through libpulse's main loop, with the
// recording's stop in the same poll.
#ifndef PCMTAP_AUDIO_PULSE_PULSE_CAPTURE_H
#define PCMTAP_AUDIO_PULSE_PULSE_CAPTURE_H

#include "../engine/capture_source.h"
#include "pulse_connection.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pcmtap {

// The source a recording records, by name: the one asked for (the server's
// default, or PULSE_SOURCE) until an input is switched on; or, once a
// program's input is, that program.  The backend, its inputs and its
// captures share it.
struct PulseChoice {
  std::string source;
  bool program_chosen = false;
  std::string program_name; // as listed: what is followed, by name
};

class PulseCapture final : public CaptureSource {
public:
  // Records from the source `choice` names at start(), of `server` (empty:
  // libpulse's choice).  The connection and the stream are made by
  // start(): from then on only the thread that records drives them.
  PulseCapture(std::string server, std::shared_ptr<const PulseChoice> choice,
               unsigned rate, unsigned channels);
  ~PulseCapture() override;

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override;
  unsigned buffer_millis() const override { return buffer_millis_; }
  size_t period_frames() const override { return period_frames_; }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long pending() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void release_held_audio() override;
  void stop() override;
  const char *error_text(int err) const override {
    return pulse_error_text(err);
  }

private:
  static void on_readable(pa_stream *stream, size_t bytes, void *self);
  static void on_suspended(pa_stream *stream, void *self);
  static void on_timing(pa_stream *stream, int success, void *self);
  void take_in();
  void note_suspended(bool suspended);
  void note_time_away();
  long long unread_bytes();
  int stream_error() const;
  size_t held_bytes() const { return held_end_ - held_start_; }
  size_t copy_out(unsigned char *dst, size_t max_bytes);

  const std::string server_;
  const std::shared_ptr<const PulseChoice> choice_;
  const unsigned rate_;
  const unsigned channels_;
  std::unique_ptr<PulseConnection> connection_;
  pa_stream *stream_ = nullptr;
  // What the server keeps for the stream while nobody reads it.
  unsigned buffer_millis_ = 1000;
  size_t period_frames_ = 0; // the pieces it sends
  // Answered by the server when asked: the bytes the stream had recorded
  // that we had not read yet; -1 without an answer.
  long long unread_answer_ = -1;
  // The piece the server handed us, while part of it is still to be read.
  const unsigned char *piece_ = nullptr;
  size_t piece_size_ = 0;
  size_t piece_read_ = 0;
  // What came from the server and is not read yet.  libpulse refuses to
  // hand out what it holds once the connection has failed, so each piece
  // is taken in here as it arrives: a server that dies leaves its last
  // audio here, not in libpulse.
  std::unique_ptr<unsigned char[]> held_;
  size_t held_start_ = 0;
  size_t held_end_ = 0;
  // Lost audio not yet handed to the engine: holes the server left in the
  // stream, and the time the source was suspended.
  uint64_t hole_frames_ = 0;
  uint64_t suspend_frames_ = 0;
  uint64_t suspended_since_ns_ = 0; // 0 while the source runs
  uint64_t read_ns_ = 0;            // when we last read
};

} // namespace pcmtap

#endif
