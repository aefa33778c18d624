// One shared-mode stream, event-driven: the engine signals the event once
// per period it fills, and the device thread waits on that event and the
// recording's stop together.  Each packet the stream hands out is taken
// whole; what of it does not fit the reader's block waits here.
//
// A loopback stream keeps time by the clock as well.  Windows gives it no
// packets at all while nothing plays on the endpoint, and marks the first
// one after as a discontinuity: that silence is written as zeros, so that
// the recording stays as long as the time it took, and is no loss; audio is
// lost only where the stream was found full.  Before
// Windows 10 1703 a loopback stream's event never fires, so the stream is
// looked at on a timer as well.
//
// A process's stream (a process loopback) is a loopback too: it gives
// packets while the process plays, on whichever of its streams, and none
// while it is silent.  Once the process has ended the recording goes on,
// silent by the clock, whatever the stream does then: a program's
// recording (program_capture.h) closes it.
#include "wasapi_capture.h"

#include "endpoint_inputs.h"

#include <audioclient.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace pcmtap {
namespace {

// The timeout only makes sure that a stream that stopped signalling, as
// one whose endpoint went away may, is looked at again within a second.
const DWORD kWaitMillis = 250;
// A loopback stream with no packet for this long has nothing playing; a
// late period of a busy engine comes well within it.
const UINT64 kSilenceTicks = 200 * 10000;

class WasapiCapture final : public WasapiSource {
public:
  WasapiCapture(unsigned rate, unsigned channels,
                std::shared_ptr<const EndpointChoice> choice,
                CaptureStreamOpener open, ProcessStreamOpener open_process)
      : WasapiSource(rate, channels), choice_(std::move(choice)),
        open_(std::move(open)), open_process_(std::move(open_process)) {}
  ~WasapiCapture() override { stop(); }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void stop() override;

private:
  HRESULT stream_padding(UINT32 *frames);
  void note_the_end();
  size_t take_owed(unsigned char *out, size_t max_bytes);
  HRESULT take_packet(unsigned char *out, size_t max_bytes, size_t *copied,
                      DeviceLosses *lost);
  void keep_time(UINT64 start, bool anew, UINT64 position, DeviceLosses *lost);
  UINT64 silence_due(UINT64 now) const;
  UINT64 ticks_of(UINT64 frames) const {
    return frames * kTicksPerSecond / rate_;
  }
  UINT64 next_frame_time() const { return anchor_ + ticks_of(since_anchor_); }

  std::shared_ptr<const EndpointChoice> choice_;
  CaptureStreamOpener open_;
  ProcessStreamOpener open_process_;
  std::shared_ptr<CaptureStream> stream_;
  bool running_ = false;
  bool ended_ = false; // the process recorded has ended
  // The device position the next packet should start at, once one came.
  bool have_position_ = false;
  UINT64 next_position_ = 0;
  // Silence owed to the reader before anything else, then the part of a
  // packet the reader had no room for.
  UINT64 owed_zeros_ = 0;
  std::vector<unsigned char> held_;
  size_t held_offset_ = 0;
  // A loopback's time line: the next frame belongs `since_anchor_` frames
  // after `anchor_`, the time the last packet began (or the start).
  UINT32 buffer_frames_ = 0;
  UINT64 anchor_ = 0;
  UINT64 since_anchor_ = 0;
  UINT64 last_packet_ = 0; // when a packet last came
  // When the stream was last found full: Windows may have dropped what
  // came after, up to the first packet recorded since.
  bool full_ = false;
  UINT64 full_at_ = 0;
};

int WasapiCapture::start() {
  stop();
  std::shared_ptr<CaptureStream> stream;
  HRESULT hr =
      choice_->pid != 0
          ? open_process_(choice_->pid, rate_, channels_, &stream)
          : open_(choice_->id, choice_->loopback, rate_, channels_, &stream);
  UINT32 buffer_frames = 0;
  if (SUCCEEDED(hr))
    hr = stream->buffer_frames(&buffer_frames);
  if (SUCCEEDED(hr))
    hr = stream->start();
  if (FAILED(hr))
    return int(hr);
  stream_ = std::move(stream);
  owed_zeros_ = 0;
  held_.clear();
  held_offset_ = 0;
  have_position_ = false;
  buffer_frames_ = buffer_frames;
  anchor_ = last_packet_ = stream_->now();
  full_ = false;
  since_anchor_ = 0;
  ended_ = false;
  running_ = true;
  return 0;
}

// Once the process has ended, a stream that fails has nothing more.
HRESULT WasapiCapture::stream_padding(UINT32 *frames) {
  HRESULT hr = stream_->padding(frames);
  if (FAILED(hr) && ended_) {
    *frames = 0;
    return S_OK;
  }
  return hr;
}

void WasapiCapture::note_the_end() {
  ended_ = ended_ || (choice_->pid != 0 && stream_->source_ended());
}

void WasapiCapture::stop() {
  if (!running_)
    return;
  running_ = false;
  stream_->stop();
  stream_.reset();
}

// The silence a loopback stream owes by now: none while packets come.
UINT64 WasapiCapture::silence_due(UINT64 now) const {
  if (!choice_->loopback || now - last_packet_ < kSilenceTicks)
    return 0;
  const UINT64 until = now - kSilenceLagTicks;
  const UINT64 next = next_frame_time();
  return until > next ? frames_in(until - next) : 0;
}

int WasapiCapture::wait(const Wakeup &stop) {
  const UINT32 enough = rate_ * kHandOnMillis / 1000;
  // A loopback stream's event may never fire; a timer then hands the audio
  // on as often as the event would.
  const DWORD timeout = choice_->loopback ? kHandOnMillis : kWaitMillis;
  for (;;) {
    // The event is auto-reset: one signalled after the look stays set.
    UINT32 padding = 0;
    HRESULT hr = stream_padding(&padding);
    if (FAILED(hr) || padding >= enough || owed_zeros_ > 0 ||
        held_offset_ < held_.size() || silence_due(stream_->now()) >= enough)
      return 0; // read() says what failed
    DWORD woken = stream_->wait(stop.handle(), timeout);
    if (woken == WAIT_FAILED)
      return -EINVAL;
    if (woken == WAIT_OBJECT_0 + 1)
      return 0; // the stop
    if (woken != WAIT_OBJECT_0 && !choice_->loopback)
      return 0; // a stream that went quiet
    // The timer's turn: what a loopback stream has is handed on now.
    if (woken == WAIT_TIMEOUT &&
        (FAILED(stream_padding(&padding)) || padding > 0 ||
         silence_due(stream_->now()) > 0))
      return 0;
  }
}

long WasapiCapture::available() {
  UINT32 padding = 0;
  if (FAILED(stream_padding(&padding)))
    padding = 0;
  return long(owed_zeros_ + (held_.size() - held_offset_) / frame_bytes() +
              padding + silence_due(stream_->now()));
}

// Owed silence first, then the rest of the last packet.
size_t WasapiCapture::take_owed(unsigned char *out, size_t max_bytes) {
  const size_t zeros =
      size_t(std::min<UINT64>(owed_zeros_, max_bytes / frame_bytes()));
  std::memset(out, 0, zeros * frame_bytes());
  owed_zeros_ -= zeros;
  size_t n = zeros * frame_bytes();
  const size_t held = std::min(held_.size() - held_offset_, max_bytes - n);
  std::memcpy(out + n, held_.data() + held_offset_, held);
  held_offset_ += held;
  return n + held;
}

// A loopback packet that starts anew later than the last one ended, or
// than the start: the time between was silence, unless the stream was
// full, when Windows dropped what did not fit.
void WasapiCapture::keep_time(UINT64 start, bool anew, UINT64 position,
                              DeviceLosses *lost) {
  const UINT64 next = next_frame_time();
  if (anew && start > next) {
    UINT64 gap = frames_in(start - next);
    if (full_ && have_position_) {
      // The jump of the device position, where it says how much.
      const UINT64 dropped = position > next_position_
                                 ? std::min(gap, position - next_position_)
                                 : gap;
      lost->overrun_frames += dropped;
      gap -= dropped;
    }
    owed_zeros_ += gap;
  }
  if (start >= full_at_)
    full_ = false;
  anchor_ = start;
  since_anchor_ = 0;
}

// Takes the next packet, into `out` as far as it fits and the rest into
// `held_`, all of it there when silence is owed before it.
// AUDCLNT_S_BUFFER_EMPTY when there is none.
HRESULT WasapiCapture::take_packet(unsigned char *out, size_t max_bytes,
                                   size_t *copied, DeviceLosses *lost) {
  BYTE *data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  UINT64 position = 0, qpc = 0;
  HRESULT hr = stream_->get_buffer(&data, &frames, &flags, &position, &qpc);
  if (hr != S_OK)
    return hr;
  if (choice_->loopback) {
    const UINT64 now = stream_->now();
    // A packet starts anew after a silence, which Vista does not flag, or
    // where the flag comes with a jump of the position or a full stream.
    // (Wine flags packets whose frames follow on, under load.)
    const bool anew = !have_position_ || now - last_packet_ >= kSilenceTicks ||
                      ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) &&
                       (position > next_position_ || full_));
    last_packet_ = now;
    // A packet without a time had come in by now, and none was recorded
    // later than now.
    const bool timed =
        qpc != 0 && !(flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR);
    keep_time(timed ? std::min(qpc, now)
                    : now - std::min(now, ticks_of(frames)),
              anew, position, lost);
    since_anchor_ = frames;
  } else if ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) &&
             have_position_ && position > next_position_) {
    // The engine had nowhere to put what came while nobody read: the
    // packet starts later than the last one ended.
    lost->overrun_frames += position - next_position_;
  }
  have_position_ = true;
  next_position_ = position + frames;
  const size_t bytes = size_t{frames} * frame_bytes();
  const size_t n = owed_zeros_ > 0 ? 0 : std::min(bytes, max_bytes);
  const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
  if (silent)
    std::memset(out, 0, n);
  else
    std::memcpy(out, data, n);
  if (n < bytes) {
    held_.assign(bytes - n, 0);
    if (!silent)
      std::memcpy(held_.data(), data + n, bytes - n);
    held_offset_ = 0;
  }
  *copied = n;
  return stream_->release_buffer(frames);
}

long WasapiCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  if (!running_)
    return -EINVAL;
  note_the_end();
  const size_t max_bytes = max_frames * frame_bytes();
  auto *out = static_cast<unsigned char *>(dst);
  size_t done = take_owed(out, max_bytes);
  UINT32 padding = 0;
  if (choice_->loopback && SUCCEEDED(stream_padding(&padding)) &&
      padding >= buffer_frames_ - buffer_frames_ / 10) {
    full_ = true;
    full_at_ = stream_->now();
  }
  HRESULT hr = S_OK;
  while (done < max_bytes) {
    size_t copied = 0;
    hr = take_packet(out + done, max_bytes - done, &copied, lost);
    if (hr != S_OK)
      break;
    done += copied + take_owed(out + done + copied, max_bytes - done - copied);
  }
  if (FAILED(hr))
    note_the_end();
  if (FAILED(hr) && ended_)
    hr = AUDCLNT_S_BUFFER_EMPTY;
  if (hr == AUDCLNT_S_BUFFER_EMPTY) {
    const UINT64 silence = silence_due(stream_->now());
    owed_zeros_ += silence;
    since_anchor_ += silence;
    done += take_owed(out + done, max_bytes - done);
  }
  // A failure after some audio is said at the next read, which finds
  // nothing.
  if (FAILED(hr) && done == 0)
    return int(hr);
  return long(done / frame_bytes());
}

} // namespace

std::unique_ptr<CaptureSource>
make_wasapi_capture(unsigned rate, unsigned channels,
                    std::shared_ptr<const EndpointChoice> choice,
                    CaptureStreamOpener open,
                    ProcessStreamOpener open_process) {
  return std::make_unique<WasapiCapture>(rate, channels, std::move(choice),
                                         std::move(open),
                                         std::move(open_process));
}

} // namespace pcmtap
