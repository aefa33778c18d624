#include "pulse_capture.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pcmtap {
namespace {

// The server hands audio on in pieces of at most this long, so that a
// reader downstream hears it soon; longer pieces would mean fewer
// wake-ups.
const pa_usec_t kPieceUsec = 50 * PA_USEC_PER_MSEC;
const size_t kMaxReadFrames = 16384;
// Room for what arrives in one round of the main loop, many pieces even
// on a busy machine; what does not fit waits in libpulse.
const size_t kHeldBytes = size_t{1} << 18;
// While nobody reads the stream the server keeps this much for it, 23.8 s,
// where it grants as much (PulseAudio's most for any stream).
const uint32_t kServerQueueBytes = uint32_t{1} << 22;
// The server answered a moment ago, when the device was opened.
const unsigned kConnectMillis = 5000;
// A wait only makes sure that a server gone quiet is looked at again.
const pa_usec_t kWaitUsec = PA_USEC_PER_SEC;

// Counts the time the machine slept, as a suspend often means it did.
uint64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

} // namespace

PulseCapture::PulseCapture(std::string server,
                           std::shared_ptr<const PulseChoice> choice,
                           unsigned rate, unsigned channels)
    : server_(std::move(server)), choice_(std::move(choice)), rate_(rate),
      channels_(channels), held_(new unsigned char[kHeldBytes]) {}

PulseCapture::~PulseCapture() { stop(); }

size_t PulseCapture::max_read_frames() const { return kMaxReadFrames; }

int PulseCapture::start() {
  stop();
  if (!connection_) {
    if (int err = PulseConnection::open(server_, kConnectMillis, &connection_);
        err < 0)
      return err;
  }
  pa_sample_spec format = {PA_SAMPLE_S16LE, rate_, uint8_t(channels_)};
  stream_ = pa_stream_new(connection_->context(), "pcmtap", &format, nullptr);
  if (!stream_)
    return connection_->error(-ENOMEM);
  pa_stream_set_read_callback(stream_, on_readable, this);
  pa_stream_set_suspended_callback(stream_, on_suspended, this);
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr); // -1: the server's choice
  attr.fragsize = uint32_t(pa_usec_to_bytes(kPieceUsec, &format));
  attr.maxlength = kServerQueueBytes;
  // Pieces of the size asked for, not the source's own; and a source that
  // goes away ends the recording instead of moving it to another source,
  // which would record something else.
  auto flags =
      pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  const std::string &source = choice_->source;
  if (pa_stream_connect_record(stream_, source.c_str(), &attr, flags) < 0)
    return connection_->error(-EIO);
  if (!connection_->run_until([this] {
        return pa_stream_get_state(stream_) != PA_STREAM_CREATING;
      }))
    return connection_->error(pulse_error(PA_ERR_TIMEOUT));
  if (int err = stream_error(); err < 0)
    return err;
  note_suspended(pa_stream_is_suspended(stream_) == 1);
  read_ns_ = now_ns();
  const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream_);
  if (granted) {
    buffer_millis_ = unsigned(pa_bytes_to_usec(granted->maxlength, &format) /
                              PA_USEC_PER_MSEC);
    period_frames_ = granted->fragsize / frame_bytes();
  }
  return 0;
}

void PulseCapture::stop() {
  if (!connection_)
    return;
  connection_->unwatch_stop();
  if (!stream_)
    return;
  if (piece_)
    pa_stream_drop(stream_);
  piece_ = nullptr;
  held_start_ = held_end_ = 0;
  hole_frames_ = suspend_frames_ = suspended_since_ns_ = 0;
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
  if (pa_stream_get_state(stream_) == PA_STREAM_READY)
    pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void PulseCapture::on_readable(pa_stream *, size_t, void *self) {
  static_cast<PulseCapture *>(self)->take_in();
}

void PulseCapture::on_suspended(pa_stream *stream, void *self) {
  static_cast<PulseCapture *>(self)->note_suspended(
      pa_stream_is_suspended(stream) == 1);
}

// A suspended source records nothing, and the stream just pauses: the
// time it was suspended is audio lost.
void PulseCapture::note_suspended(bool suspended) {
  if (suspended && suspended_since_ns_ == 0) {
    suspended_since_ns_ = now_ns();
  } else if (!suspended && suspended_since_ns_ != 0) {
    uint64_t ns = now_ns() - suspended_since_ns_;
    suspend_frames_ += ns * rate_ / 1000000000u;
    suspended_since_ns_ = 0;
  }
}

// Moves what libpulse holds into `held_`, as much as fits.
void PulseCapture::take_in() {
  if (pa_stream_get_state(stream_) != PA_STREAM_READY)
    return;
  if (held_start_ != 0) {
    std::memmove(held_.get(), held_.get() + held_start_, held_bytes());
    held_end_ -= held_start_;
    held_start_ = 0;
  }
  held_end_ += copy_out(held_.get() + held_end_, kHeldBytes - held_end_);
}

// Zero while the stream records.
int PulseCapture::stream_error() const {
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(connection_->context())))
    return connection_->error(pulse_error(PA_ERR_CONNECTIONTERMINATED));
  switch (pa_stream_get_state(stream_)) {
  case PA_STREAM_READY:
  case PA_STREAM_CREATING:
    return 0;
  default:
    return -ENODEV; // the source went away
  }
}

int PulseCapture::wait(const Wakeup &stop) {
  if (held_bytes() >= frame_bytes())
    return 0;
  connection_->watch_stop(stop.fd());
  // One round of the loop: it returns once the server has sent something,
  // the stop came or a second went by.
  pa_mainloop *loop = connection_->mainloop();
  if (pa_mainloop_prepare(loop, int(kWaitUsec)) < 0 ||
      pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
    return -EIO;
  // What arrived before a failure is read first.
  return held_bytes() >= frame_bytes() ? 0 : stream_error();
}

long PulseCapture::available() {
  // Takes in what reached us already.
  pa_mainloop_iterate(connection_->mainloop(), 0, nullptr);
  size_t bytes = held_bytes();
  if (stream_error() == 0) {
    size_t waiting = pa_stream_readable_size(stream_);
    if (waiting != size_t(-1))
      bytes += waiting;
  }
  return long(bytes / frame_bytes());
}

// The server's answer, in order after every piece it sent before: the
// write index is what the source has put into the stream, the read index
// (corrected by libpulse for what it holds) what we took from libpulse.
void PulseCapture::on_timing(pa_stream *stream, int success, void *self) {
  auto *capture = static_cast<PulseCapture *>(self);
  const pa_timing_info *t =
      success ? pa_stream_get_timing_info(stream) : nullptr;
  // The server's queue and libpulse's may each be full (after a long
  // hold-up): anything beyond both is not an answer.
  if (!t || t->read_index_corrupt || t->write_index_corrupt ||
      t->write_index < t->read_index ||
      t->write_index - t->read_index > 2 * int64_t{kServerQueueBytes})
    return;
  long long unread = (long long)(t->write_index - t->read_index) +
                     (long long)capture->held_bytes();
  // The part of the piece in hand already taken in is counted twice.
  if (capture->piece_)
    unread -= (long long)capture->piece_read_;
  capture->unread_answer_ = std::max(0LL, unread);
}

// What the stream recorded that we have not read, wherever it waits, as
// the server answers now; -1 without an answer.
long long PulseCapture::unread_bytes() {
  unread_answer_ = -1;
  pa_operation *op = pa_stream_update_timing_info(stream_, on_timing, this);
  if (!op || !connection_->finish(op))
    return -1;
  return unread_answer_;
}

// Everything the stream recorded before now, wherever it waits: the stop
// reads until that much has come, which takes what the server queued for
// us while we were slow or stopped.
long PulseCapture::pending() {
  long here = available();
  if (stream_error() < 0)
    return here;
  const long long unread = unread_bytes();
  if (unread < 0)
    return here;
  return std::max(here, long(unread / (long long)frame_bytes()));
}

// Copies whole pieces and parts of pieces into `dst`; a hole the server
// left in the stream counts as lost.
size_t PulseCapture::copy_out(unsigned char *dst, size_t max_bytes) {
  size_t copied = 0;
  while (copied < max_bytes) {
    if (!piece_) {
      const void *data;
      size_t size;
      if (pa_stream_peek(stream_, &data, &size) < 0 || size == 0)
        break;
      if (!data) {
        hole_frames_ += size / frame_bytes();
        pa_stream_drop(stream_);
        continue;
      }
      piece_ = static_cast<const unsigned char *>(data);
      piece_size_ = size;
      piece_read_ = 0;
    }
    size_t n = std::min(max_bytes - copied, piece_size_ - piece_read_);
    std::memcpy(dst + copied, piece_ + piece_read_, n);
    copied += n;
    piece_read_ += n;
    if (piece_read_ == piece_size_) {
      pa_stream_drop(stream_);
      piece_ = nullptr;
    }
  }
  return copied;
}

// While nobody reads the stream the server keeps what fits its queue, and
// drops the rest without a word.  Back after longer than the queue lasts:
// what the source recorded since we last read, and that neither waits for
// us now nor was lost otherwise, was dropped.
void PulseCapture::note_time_away() {
  const uint64_t now = now_ns();
  const uint64_t away_ns = now - read_ns_;
  read_ns_ = now;
  if (away_ns <= uint64_t{buffer_millis_} * 1000000u ||
      suspended_since_ns_ != 0 || stream_error() < 0)
    return;
  // A server that cannot say (PipeWire's, which keeps only the latest
  // piece then) has only what reached us.
  const long long unread = unread_bytes();
  const uint64_t made = away_ns * rate_ / 1000000000u;
  const uint64_t kept =
      (unread < 0 ? uint64_t(available()) : uint64_t(unread) / frame_bytes()) +
      hole_frames_ + suspend_frames_;
  // A piece may have been on its way when we last read.
  const uint64_t slack = 2 * kPieceUsec * rate_ / PA_USEC_PER_SEC;
  if (made > kept + slack)
    hole_frames_ += made - kept;
}

long PulseCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  take_in(); // what did not fit when it came
  note_time_away();
  lost->overrun_frames += std::exchange(hole_frames_, 0);
  lost->suspend_frames += std::exchange(suspend_frames_, 0);
  const size_t frame = frame_bytes();
  size_t frames = std::min(held_bytes() / frame, max_frames);
  std::memcpy(dst, held_.get() + held_start_, frames * frame);
  held_start_ += frames * frame;
  if (held_start_ == held_end_)
    held_start_ = held_end_ = 0;
  if (frames == 0)
    return stream_error();
  return long(frames);
}

// A source still suspended at the stop has recorded nothing since.
void PulseCapture::release_held_audio() { note_suspended(false); }

} // namespace pcmtap
