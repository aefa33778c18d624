#include "wasapi_stream.h"

#include "../windows/pcm_format.h"

#include <mmdeviceapi.h>
#include <mmreg.h>

namespace pcmtap {
namespace {

// A second of buffer: the shortest a shared-mode stream gets is the
// engine's period, and a device thread that is late now and then loses
// nothing.
const REFERENCE_TIME kBufferDuration = 10000000;

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
                                 kBufferDuration, 0, &format, nullptr);
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
