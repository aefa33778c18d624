// One shared-mode stream, event-driven: the engine signals the event once
// per period it fills, and the device thread waits on that event and the
// recording's stop together.  Each packet the stream hands out is taken
// whole; what of it does not fit the reader's block waits here.
#include "wasapi_capture.h"

#include "endpoint_inputs.h"
#include "wasapi_errors.h"
#include "wasapi_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace pcmtap {
namespace {

// Blocks of at most 50 ms.
const unsigned kMaxReadMillis = 50;
// The engine signals every period (10 ms); the audio is handed on once
// this much is in, so that the thread that writes it wakes for a fifth as
// many pieces.
const unsigned kHandOnMillis = 40;
// The timeout only makes sure that a stream that stopped signalling, as
// one whose endpoint went away may, is looked at again within a second.
const DWORD kWaitMillis = 250;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

class WasapiCapture final : public CaptureSource {
public:
  WasapiCapture(unsigned rate, unsigned channels,
                std::shared_ptr<const EndpointChoice> choice)
      : rate_(rate), channels_(channels), choice_(std::move(choice)),
        event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~WasapiCapture() override { stop(); }
  WasapiCapture(const WasapiCapture &) = delete;
  WasapiCapture &operator=(const WasapiCapture &) = delete;

  unsigned channels() const override { return channels_; }
  unsigned rate() const override { return rate_; }
  size_t max_read_frames() const override {
    return size_t{rate_} * kMaxReadMillis / 1000;
  }

  int start() override;
  int wait(const Wakeup &stop) override;
  long available() override;
  long read(void *dst, size_t max_frames, DeviceLosses *lost) override;
  void stop() override;
  const char *error_text(int err) const override {
    return wasapi_error_text(err);
  }

private:
  size_t take_held(unsigned char *out, size_t max_bytes);
  HRESULT take_packet(unsigned char *out, size_t max_bytes, size_t *copied,
                      DeviceLosses *lost);

  const unsigned rate_;
  const unsigned channels_;
  std::shared_ptr<const EndpointChoice> choice_;
  std::unique_ptr<void, HandleCloser> event_;
  WasapiStream stream_;
  bool running_ = false;
  // The device position the next packet should start at, once one came.
  bool have_position_ = false;
  UINT64 next_position_ = 0;
  // The part of a packet the reader had no room for.
  std::vector<unsigned char> held_;
  size_t held_offset_ = 0;
};

int WasapiCapture::start() {
  stop();
  if (!event_)
    return -ENOMEM;
  HRESULT hr =
      open_stream(choice_->id, choice_->loopback, rate_, channels_, &stream_);
  if (SUCCEEDED(hr))
    hr = stream_.client->SetEventHandle(event_.get());
  if (SUCCEEDED(hr))
    hr = stream_.client->Start();
  if (FAILED(hr)) {
    stream_ = WasapiStream();
    return int(hr);
  }
  held_.clear();
  held_offset_ = 0;
  have_position_ = false;
  running_ = true;
  return 0;
}

void WasapiCapture::stop() {
  if (!running_)
    return;
  running_ = false;
  stream_.client->Stop();
  stream_ = WasapiStream();
}

int WasapiCapture::wait(const Wakeup &stop) {
  const UINT32 enough = rate_ * kHandOnMillis / 1000;
  HANDLE handles[] = {event_.get(), stop.handle()};
  for (;;) {
    // The event is auto-reset: one signalled after the look stays set.
    UINT32 padding = 0;
    HRESULT hr = stream_.client->GetCurrentPadding(&padding);
    if (FAILED(hr) || padding >= enough || held_offset_ < held_.size())
      return 0; // read() says what failed
    DWORD woken = WaitForMultipleObjects(2, handles, FALSE, kWaitMillis);
    if (woken == WAIT_FAILED)
      return -EINVAL;
    if (woken != WAIT_OBJECT_0)
      return 0; // the stop, or a stream that went quiet
  }
}

long WasapiCapture::available() {
  UINT32 padding = 0;
  if (FAILED(stream_.client->GetCurrentPadding(&padding)))
    padding = 0;
  return long((held_.size() - held_offset_) / frame_bytes() + padding);
}

size_t WasapiCapture::take_held(unsigned char *out, size_t max_bytes) {
  size_t n = std::min(held_.size() - held_offset_, max_bytes);
  std::memcpy(out, held_.data() + held_offset_, n);
  held_offset_ += n;
  return n;
}

// Takes the next packet, into `out` as far as it fits and the rest into
// `held_`.  AUDCLNT_S_BUFFER_EMPTY when there is none.
HRESULT WasapiCapture::take_packet(unsigned char *out, size_t max_bytes,
                                   size_t *copied, DeviceLosses *lost) {
  BYTE *data = nullptr;
  UINT32 frames = 0;
  DWORD flags = 0;
  UINT64 position = 0;
  HRESULT hr =
      stream_.capture->GetBuffer(&data, &frames, &flags, &position, nullptr);
  if (hr != S_OK)
    return hr;
  // The engine had nowhere to put what came while nobody read: the packet
  // starts later than the last one ended.
  if ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) && have_position_ &&
      position > next_position_)
    lost->overrun_frames += position - next_position_;
  have_position_ = true;
  next_position_ = position + frames;
  const size_t bytes = size_t{frames} * frame_bytes();
  const size_t n = std::min(bytes, max_bytes);
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
  return stream_.capture->ReleaseBuffer(frames);
}

long WasapiCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  if (!running_)
    return -EINVAL;
  const size_t max_bytes = max_frames * frame_bytes();
  auto *out = static_cast<unsigned char *>(dst);
  size_t done = take_held(out, max_bytes);
  HRESULT hr = S_OK;
  while (done < max_bytes) {
    size_t copied = 0;
    hr = take_packet(out + done, max_bytes - done, &copied, lost);
    if (hr != S_OK)
      break;
    done += copied;
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
                    std::shared_ptr<const EndpointChoice> choice) {
  return std::make_unique<WasapiCapture>(rate, channels, std::move(choice));
}

} // namespace pcmtap
