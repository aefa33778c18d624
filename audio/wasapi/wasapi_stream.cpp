#include "wasapi_stream.h"

#include "capture_stream.h"

#include "../windows/pcm_format.h"

#include <mmdeviceapi.h>
#include <mmreg.h>

namespace pcmtap {
namespace {

// Whether the engine mixes this endpoint in `format` already; Windows mixes
// in 32-bit float, mostly at 48 kHz, and then converts only when asked to.
bool mixes_in(IAudioClient *client, const WAVEFORMATEX &format) {
  CoTaskMem<WAVEFORMATEX> mix;
  if (FAILED(client->GetMixFormat(mix.put())))
    return false;
  return mix->wFormatTag == WAVE_FORMAT_PCM &&
         mix->nChannels == format.nChannels &&
         mix->nSamplesPerSec == format.nSamplesPerSec &&
         mix->wBitsPerSample == format.wBitsPerSample;
}

} // namespace

HRESULT open_device(const std::wstring &id, ComRef<IMMDevice> *out) {
  ComRef<IMMDeviceEnumerator> enumerator;
  HRESULT hr =
      CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                       __uuidof(IMMDeviceEnumerator), enumerator.put_void());
  if (FAILED(hr))
    return hr;
  return enumerator->GetDevice(id.c_str(), out->put());
}

HRESULT open_stream(const std::wstring &id, bool loopback, unsigned rate,
                    unsigned channels, WasapiStream *out) {
  ComRef<IMMDevice> device;
  HRESULT hr = open_device(id, &device);
  if (FAILED(hr))
    return hr;
  WasapiStream stream;
  hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                        stream.client.put_void());
  if (FAILED(hr))
    return hr;
  const WAVEFORMATEX format = pcm_format(rate, channels);
  DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
  if (loopback)
    flags |= AUDCLNT_STREAMFLAGS_LOOPBACK;
  if (!mixes_in(stream.client.get(), format))
    flags |= AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
             AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
  hr = stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags,
                                 kStreamBufferDuration, 0, &format, nullptr);
  if (FAILED(hr))
    return hr;
  hr = stream.client->GetService(__uuidof(IAudioCaptureClient),
                                 stream.capture.put_void());
  if (FAILED(hr))
    return hr;
  *out = std::move(stream);
  return S_OK;
}

} // namespace pcmtap

namespace pcmtap {
namespace {

UINT64 performance_ticks() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  const UINT64 c = UINT64(count.QuadPart), f = UINT64(frequency.QuadPart);
  return c / f * 10000000 + c % f * 10000000 / f;
}

class WindowsClock final : public Clock {
public:
  UINT64 now() override { return performance_ticks(); }
  DWORD wait(HANDLE stop, DWORD millis) override {
    return WaitForSingleObject(stop, millis);
  }
};

class WindowsCaptureStream final : public CaptureStream {
public:
  WindowsCaptureStream(WasapiStream stream, HANDLE event, HANDLE process,
                       UINT32 frames)
      : stream_(std::move(stream)), event_(event), process_(process),
        frames_(frames) {}
  ~WindowsCaptureStream() override {
    stream_ = WasapiStream();
    CloseHandle(event_);
    if (process_)
      CloseHandle(process_);
  }
  WindowsCaptureStream(const WindowsCaptureStream &) = delete;
  WindowsCaptureStream &operator=(const WindowsCaptureStream &) = delete;

  HRESULT start() override {
    HRESULT hr = stream_.client->SetEventHandle(event_);
    return FAILED(hr) ? hr : stream_.client->Start();
  }
  void stop() override { stream_.client->Stop(); }
  // A process loopback's GetBufferSize gives no size to go by, and its
  // GetCurrentPadding answers E_NOTIMPL: the size asked for, and the next
  // packet's, stand in.
  HRESULT buffer_frames(UINT32 *frames) override {
    if (frames_ == 0)
      return stream_.client->GetBufferSize(frames);
    *frames = frames_;
    return S_OK;
  }
  HRESULT padding(UINT32 *frames) override {
    HRESULT hr = stream_.client->GetCurrentPadding(frames);
    return FAILED(hr) && frames_ != 0
               ? stream_.capture->GetNextPacketSize(frames)
               : hr;
  }
  HRESULT get_buffer(BYTE **data, UINT32 *frames, DWORD *flags,
                     UINT64 *position, UINT64 *qpc) override {
    return stream_.capture->GetBuffer(data, frames, flags, position, qpc);
  }
  HRESULT release_buffer(UINT32 frames) override {
    return stream_.capture->ReleaseBuffer(frames);
  }
  DWORD wait(HANDLE stop, DWORD millis) override {
    HANDLE handles[] = {event_, stop};
    return WaitForMultipleObjects(2, handles, FALSE, millis);
  }
  UINT64 now() override { return performance_ticks(); }
  bool source_ended() override {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
  }

private:
  WasapiStream stream_;
  HANDLE event_;
  HANDLE process_; // the process a process loopback records, or null
  UINT32 frames_;  // a process loopback's buffer, as asked for; else 0
};

} // namespace

HRESULT make_capture_stream(WasapiStream stream, HANDLE process, UINT32 frames,
                            std::shared_ptr<CaptureStream> *out) {
  // Auto-reset: the engine signals it once per period it fills.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!event) {
    if (process)
      CloseHandle(process);
    return E_OUTOFMEMORY;
  }
  *out = std::make_shared<WindowsCaptureStream>(std::move(stream), event,
                                                process, frames);
  return S_OK;
}

HRESULT open_capture_stream(const std::wstring &id, bool loopback,
                            unsigned rate, unsigned channels,
                            std::shared_ptr<CaptureStream> *out) {
  WasapiStream stream;
  HRESULT hr = open_stream(id, loopback, rate, channels, &stream);
  return FAILED(hr) ? hr
                    : make_capture_stream(std::move(stream), nullptr, 0, out);
}

std::shared_ptr<Clock> windows_clock() {
  return std::make_shared<WindowsClock>();
}

} // namespace pcmtap
