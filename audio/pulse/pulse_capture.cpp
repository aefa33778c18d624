#include "pulse_capture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pcmtap {
namespace {

// The server hands audio on in pieces of at most this long, so that a
// reader downstream hears it soon; longer pieces would mean fewer
// wake-ups.
const pa_usec_t kPieceUsec = 50 * PA_USEC_PER_MSEC;
const size_t kMaxReadFrames = 16384;
const uint32_t kServerQueueBytes = uint32_t{1} << 22;
// The server answered a moment ago, when the device was opened.
const unsigned kConnectMillis = 5000;

void ignore(pa_mainloop_api *, pa_io_event *, int, pa_io_event_flags_t,
            void *) {}

} // namespace

PulseCapture::PulseCapture(std::string server, std::string source,
                           unsigned rate, unsigned channels)
    : server_(std::move(server)), source_(std::move(source)), rate_(rate),
      channels_(channels) {}

PulseCapture::~PulseCapture() { stop(); }

size_t PulseCapture::max_read_frames() const { return kMaxReadFrames; }

int PulseCapture::start() {
  stop();
  keeps_unread_audio_ = false;
  if (!connection_) {
    if (int err = PulseConnection::open(server_, kConnectMillis, &connection_);
        err < 0)
      return err;
  }
  pa_sample_spec format = {PA_SAMPLE_S16LE, rate_, uint8_t(channels_)};
  stream_ = pa_stream_new(connection_->context(), "pcmtap", &format, nullptr);
  if (!stream_)
    return connection_->error(-ENOMEM);
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr); // -1: the server's choice
  attr.fragsize = uint32_t(pa_usec_to_bytes(kPieceUsec, &format));
  // While the callback stalls, the server keeps this much for us, 23.8 s,
  // where it grants as much (PulseAudio's most for any stream).
  attr.maxlength = kServerQueueBytes;
  // Pieces of the size asked for, not the source's own; and a source that
  // goes away ends the recording instead of moving it to another source,
  // which would record something else.
  auto flags =
      pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream_, source_.c_str(), &attr, flags) < 0)
    return connection_->error(-EIO);
  if (!connection_->run_until([this] {
        return pa_stream_get_state(stream_) != PA_STREAM_CREATING;
      }))
    return connection_->error(pulse_error(PA_ERR_TIMEOUT));
  if (int err = stream_error(); err < 0)
    return err;
  const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream_);
  keeps_unread_audio_ = granted && granted->maxlength >= kServerQueueBytes;
  return 0;
}

void PulseCapture::stop() {
  if (!connection_)
    return;
  if (stop_event_) {
    pa_mainloop_get_api(connection_->mainloop())->io_free(stop_event_);
    stop_event_ = nullptr;
  }
  if (!stream_)
    return;
  if (piece_)
    pa_stream_drop(stream_);
  piece_ = nullptr;
  split_bytes_ = 0;
  if (pa_stream_get_state(stream_) == PA_STREAM_READY)
    pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
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
  if (!stop_event_) {
    pa_mainloop_api *api = pa_mainloop_get_api(connection_->mainloop());
    stop_event_ = api->io_new(api, stop.fd(), PA_IO_EVENT_INPUT, ignore, this);
  }
  // One round of the loop: it returns once the server has sent something
  // or the stop came.
  if (pa_mainloop_iterate(connection_->mainloop(), 1, nullptr) < 0)
    return -EIO;
  return stream_error();
}

long PulseCapture::available() {
  // Takes in what reached us already.
  pa_mainloop_iterate(connection_->mainloop(), 0, nullptr);
  if (stream_error() < 0)
    return 0;
  size_t bytes = pa_stream_readable_size(stream_);
  if (bytes == size_t(-1))
    return 0;
  return long((bytes + split_bytes_) / frame_bytes());
}

// Copies whole pieces and parts of pieces into `dst`; a hole the server
// left in the stream counts as lost.
size_t PulseCapture::copy_out(unsigned char *dst, size_t max_bytes,
                              DeviceLosses *lost, int *err) {
  size_t copied = 0;
  while (copied < max_bytes) {
    if (!piece_) {
      const void *data;
      size_t size;
      if (pa_stream_peek(stream_, &data, &size) < 0) {
        *err = connection_->error(-EIO);
        break;
      }
      if (size == 0)
        break;
      if (!data) {
        lost->overrun_frames += size / frame_bytes();
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

long PulseCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  const size_t frame = frame_bytes();
  auto *out = static_cast<unsigned char *>(dst);
  if (max_frames == 0)
    return 0;
  std::memcpy(out, split_frame_, split_bytes_);
  int err = 0;
  size_t bytes =
      split_bytes_ + copy_out(out + split_bytes_,
                              max_frames * frame - split_bytes_, lost, &err);
  size_t whole = bytes / frame * frame;
  split_bytes_ = bytes - whole;
  std::memcpy(split_frame_, out + whole, split_bytes_);
  if (whole == 0 && err < 0)
    return err;
  return long(whole / frame);
}

} // namespace pcmtap
