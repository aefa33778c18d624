// Buffers of at most 50 ms, many in flight, each queued again as soon as it
// is read.  The device's callback only sets an event (about all that
// winmm allows a callback to do), which the device thread waits on beside
// the recording's stop.
#include "winmm_capture.h"

#include "../windows/pcm_format.h"
#include "winmm_wave.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace pcmtap {
namespace {

// Short buffers, so that audio goes out soon; enough of them for a second,
// which rides out a device thread that is late now and then.
const unsigned kBufferMillis = 50;
const unsigned kBuffers = 20;
const size_t kMaxReadFrames = 16384;
// The timeout only makes sure that a device gone quiet without saying so
// is looked at again.
const DWORD kWaitMillis = 1000;

double now_seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

class WinmmCapture final : public CaptureSource {
public:
  WinmmCapture(unsigned rate, unsigned channels);
  ~WinmmCapture() override;
  WinmmCapture(const WinmmCapture &) = delete;
  WinmmCapture &operator=(const WinmmCapture &) = delete;
  int open();

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override { return kMaxReadFrames; }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void release_held_audio() override;
  void stop() override;
  const char *error_text(int err) const override {
    return winmm_error_text(err);
  }

private:
  static void CALLBACK on_message(HWAVEIN, UINT message, DWORD_PTR instance,
                                  DWORD_PTR, DWORD_PTR);
  bool is_done(size_t i) const;
  size_t done_bytes(size_t i) const;
  bool all_done() const;
  void requeue(size_t i);

  const unsigned rate_;
  const unsigned channels_;
  const size_t buffer_bytes_;
  std::unique_ptr<void, HandleCloser> event_; // auto-reset
  HWAVEIN wave_ = nullptr;
  std::atomic<bool> closed_{false}; // the device closed by itself
  std::vector<unsigned char> memory_;
  std::vector<WAVEHDR> headers_; // prepared while wave_ is open
  bool prepared_ = false;
  bool running_ = false;
  // The oldest buffer, the next to come back, and how much of it was read.
  size_t next_ = 0;
  size_t offset_ = 0;
  int error_ = 0; // a requeue failed: the recording ends when all is read
  double last_read_time_ = 0;
};

WinmmCapture::WinmmCapture(unsigned rate, unsigned channels)
    : rate_(rate), channels_(channels),
      buffer_bytes_(size_t(rate) * kBufferMillis / 1000 * 2 * channels),
      event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      memory_(buffer_bytes_ * kBuffers), headers_(kBuffers) {}

WinmmCapture::~WinmmCapture() {
  stop();
  if (prepared_)
    for (WAVEHDR &header : headers_)
      waveInUnprepareHeader(wave_, &header, sizeof header);
  if (wave_)
    waveInClose(wave_);
}

int WinmmCapture::open() {
  if (!event_)
    return winmm_error(MMSYSERR_NOMEM);
  WAVEFORMATEX format = pcm_format(rate_, channels_);
  MMRESULT result = waveInOpen(&wave_, WAVE_MAPPER, &format,
                               DWORD_PTR(&WinmmCapture::on_message),
                               DWORD_PTR(this), CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR) {
    wave_ = nullptr;
    return winmm_error(result);
  }
  for (size_t i = 0; i < kBuffers; ++i) {
    WAVEHDR &header = headers_[i];
    header.lpData = reinterpret_cast<LPSTR>(&memory_[i * buffer_bytes_]);
    header.dwBufferLength = DWORD(buffer_bytes_);
    if ((result = waveInPrepareHeader(wave_, &header, sizeof header)) !=
        MMSYSERR_NOERROR) {
      while (i-- > 0)
        waveInUnprepareHeader(wave_, &headers_[i], sizeof headers_[i]);
      return winmm_error(result);
    }
  }
  prepared_ = true;
  return 0;
}

// Runs on winmm's thread, where nothing but a few calls (SetEvent among
// them) may be made.
void CALLBACK WinmmCapture::on_message(HWAVEIN, UINT message,
                                       DWORD_PTR instance, DWORD_PTR,
                                       DWORD_PTR) {
  auto *self = reinterpret_cast<WinmmCapture *>(instance);
  if (message == WIM_CLOSE)
    self->closed_.store(true, std::memory_order_release);
  if (message == WIM_DATA || message == WIM_CLOSE)
    SetEvent(self->event_.get());
}

int WinmmCapture::start() {
  stop();
  next_ = 0;
  offset_ = 0;
  error_ = 0;
  for (WAVEHDR &header : headers_) {
    header.dwBytesRecorded = 0;
    if (MMRESULT result = waveInAddBuffer(wave_, &header, sizeof header);
        result != MMSYSERR_NOERROR) {
      waveInReset(wave_);
      return winmm_error(result);
    }
  }
  if (MMRESULT result = waveInStart(wave_); result != MMSYSERR_NOERROR) {
    waveInReset(wave_);
    return winmm_error(result);
  }
  running_ = true;
  last_read_time_ = now_seconds();
  return 0;
}

// The buffer being filled comes back marked done with what it holds; the
// empty ones stay queued.
void WinmmCapture::release_held_audio() {
  if (running_)
    waveInStop(wave_);
}

// Every buffer comes back marked done, with what it holds.
void WinmmCapture::stop() {
  if (!running_)
    return;
  running_ = false;
  waveInReset(wave_);
}

// The device marks a buffer done from its own thread.
bool WinmmCapture::is_done(size_t i) const {
  DWORD flags = static_cast<const volatile DWORD &>(headers_[i].dwFlags);
  std::atomic_thread_fence(std::memory_order_acquire);
  return (flags & WHDR_DONE) != 0;
}

// What is still to be read of done buffer `i`, in whole frames: a device
// only ever fills whole frames.
size_t WinmmCapture::done_bytes(size_t i) const {
  size_t bytes = headers_[i].dwBytesRecorded / frame_bytes() * frame_bytes();
  return i == next_ ? bytes - std::min(bytes, offset_) : bytes;
}

bool WinmmCapture::all_done() const {
  for (size_t i = 0; i < kBuffers; ++i)
    if (!is_done(i))
      return false;
  return true;
}

// Once a buffer is read, it goes back to the device, unless the device
// failed; then it is only marked as read.
void WinmmCapture::requeue(size_t i) {
  WAVEHDR &header = headers_[i];
  header.dwBytesRecorded = 0;
  if (running_ && error_ == 0) {
    MMRESULT result = waveInAddBuffer(wave_, &header, sizeof header);
    if (result == MMSYSERR_NOERROR)
      return;
    error_ = winmm_error(result);
  }
  header.dwFlags &= ~DWORD(WHDR_DONE);
}

int WinmmCapture::wait(const Wakeup &stop) {
  // Cleared before looking, so that a buffer done after the look sets it.
  ResetEvent(event_.get());
  if (is_done(next_) || closed_.load(std::memory_order_acquire))
    return 0;
  HANDLE handles[] = {event_.get(), stop.handle()};
  if (WaitForMultipleObjects(2, handles, FALSE, kWaitMillis) == WAIT_FAILED)
    return -EINVAL;
  return 0;
}

long WinmmCapture::available() {
  size_t bytes = 0;
  for (size_t k = 0, i = next_; k < kBuffers && is_done(i);
       ++k, i = (i + 1) % kBuffers)
    bytes += done_bytes(i);
  return long(bytes / frame_bytes());
}

long WinmmCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  const size_t frame = frame_bytes();
  const size_t max_bytes = max_frames * frame;
  auto *out = static_cast<unsigned char *>(dst);
  // With every buffer back, the device had nowhere to put what came
  // since: about as much as the time since the last read held, less what
  // the buffers took.
  const bool starved = running_ && error_ == 0 && all_done();
  const long held = starved ? available() : 0;
  const double now = now_seconds();
  size_t copied = 0;
  while (copied < max_bytes && is_done(next_)) {
    size_t n = std::min(done_bytes(next_), max_bytes - copied);
    std::memcpy(out + copied, headers_[next_].lpData + offset_, n);
    copied += n;
    offset_ += n;
    if (done_bytes(next_) != 0)
      break; // `dst` is full
    requeue(next_);
    next_ = (next_ + 1) % kBuffers;
    offset_ = 0;
  }
  if (starved) {
    double missing = (now - last_read_time_) * rate_ - double(held);
    if (missing > 0)
      lost->overrun_frames += uint64_t(missing);
  }
  if (copied != 0)
    last_read_time_ = now;
  if (copied == 0 && error_ == 0 && closed_.load(std::memory_order_acquire))
    error_ = -ENODEV; // the device went away
  return copied == 0 && error_ < 0 ? error_ : long(copied / frame);
}

} // namespace

int open_wave_in(unsigned rate, unsigned channels,
                 std::unique_ptr<CaptureSource> *out) {
  auto capture = std::make_unique<WinmmCapture>(rate, channels);
  if (int err = capture->open(); err < 0)
    return err;
  *out = std::move(capture);
  return 0;
}

} // namespace pcmtap
