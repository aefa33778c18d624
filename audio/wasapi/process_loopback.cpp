#include "process_loopback.h"

#include "capture_stream.h"

#include "../windows/pcm_format.h"

#include <mmdeviceapi.h>

namespace pcmtap {
namespace {

// audioclientactivationparams.h, which mingw-w64 does not have, as
// Microsoft documents it.
enum AudioClientActivationType {
  kActivationTypeDefault = 0,
  kActivationTypeProcessLoopback = 1,
};
enum ProcessLoopbackMode {
  kIncludeTargetProcessTree = 0,
  kExcludeTargetProcessTree = 1,
};
struct ProcessLoopbackParams {
  DWORD target_process_id;
  ProcessLoopbackMode mode;
};
struct AudioClientActivationParams {
  AudioClientActivationType type;
  ProcessLoopbackParams process_loopback;
};
const wchar_t kProcessLoopbackDevice[] = L"VAD\\Process_Loopback";

// Windows answers at once; this only keeps a broken activation from
// hanging pcmtap.exe.
const DWORD kActivationMillis = 10000;

ActivateAudioInterface &activate_function() {
  static ActivateAudioInterface function = [] {
    HMODULE mmdevapi = LoadLibraryW(L"mmdevapi.dll");
    FARPROC found =
        mmdevapi ? GetProcAddress(mmdevapi, "ActivateAudioInterfaceAsync")
                 : nullptr;
    return reinterpret_cast<ActivateAudioInterface>(
        reinterpret_cast<void *>(found));
  }();
  return function;
}

// Told on one of Windows' threads that the activation is done; agile, as
// Windows requires, since it holds nothing but an event.
class ActivationDone final : public IActivateAudioInterfaceCompletionHandler,
                             public IAgileObject {
public:
  ActivationDone() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~ActivationDone() {
    if (event_)
      CloseHandle(event_);
  }
  ActivationDone(const ActivationDone &) = delete;
  ActivationDone &operator=(const ActivationDone &) = delete;

  HANDLE event() const { return event_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (iid == __uuidof(IUnknown) ||
        iid == __uuidof(IActivateAudioInterfaceCompletionHandler))
      *out = static_cast<IActivateAudioInterfaceCompletionHandler *>(this);
    else if (iid == __uuidof(IAgileObject))
      *out = static_cast<IAgileObject *>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return ULONG(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
      delete this;
    return ULONG(left);
  }
  HRESULT STDMETHODCALLTYPE
  ActivateCompleted(IActivateAudioInterfaceAsyncOperation *) override {
    SetEvent(event_);
    return S_OK;
  }

private:
  LONG references_ = 1;
  HANDLE event_;
};

HRESULT activate(DWORD pid, ComRef<IAudioClient> *out) {
  ActivateAudioInterface activate_async = activate_function();
  if (!activate_async)
    return E_NOTIMPL;
  AudioClientActivationParams params = {};
  params.type = kActivationTypeProcessLoopback;
  params.process_loopback = {pid, kIncludeTargetProcessTree};
  PROPVARIANT activation;
  PropVariantInit(&activation);
  activation.vt = VT_BLOB;
  activation.blob.cbSize = sizeof params;
  activation.blob.pBlobData = reinterpret_cast<BYTE *>(&params);

  ComRef<ActivationDone> done;
  *done.put() = new ActivationDone;
  if (!done->event())
    return E_OUTOFMEMORY;
  ComRef<IActivateAudioInterfaceAsyncOperation> operation;
  HRESULT hr = activate_async(kProcessLoopbackDevice, __uuidof(IAudioClient),
                              &activation, done.get(), operation.put());
  if (FAILED(hr))
    return hr;
  if (WaitForSingleObject(done->event(), kActivationMillis) != WAIT_OBJECT_0)
    return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  ComRef<IUnknown> client;
  HRESULT result = E_FAIL;
  hr = operation->GetActivateResult(&result, client.put());
  if (FAILED(hr) || FAILED(result))
    return FAILED(hr) ? hr : result;
  return client->QueryInterface(__uuidof(IAudioClient), out->put_void());
}

} // namespace

bool has_process_loopback() { return activate_function() != nullptr; }

void activate_process_loopbacks_through(ActivateAudioInterface activate) {
  activate_function() = activate;
}

HRESULT open_process_loopback(DWORD pid, unsigned rate, unsigned channels,
                              WasapiStream *out) {
  WasapiStream stream;
  HRESULT hr = activate(pid, &stream.client);
  if (FAILED(hr))
    return hr;
  // Its GetMixFormat answers E_NOTIMPL: it mixes into whatever format it
  // is asked for.
  const WAVEFORMATEX format = pcm_format(rate, channels);
  hr = stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                 AUDCLNT_STREAMFLAGS_LOOPBACK |
                                     AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
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

HRESULT open_process_stream(DWORD pid, unsigned rate, unsigned channels,
                            std::shared_ptr<CaptureStream> *out) {
  WasapiStream stream;
  HRESULT hr = open_process_loopback(pid, rate, channels, &stream);
  if (FAILED(hr))
    return hr;
  // Waited on for the process's end; where it may not be (a process of
  // another user's), its end is not told.
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  const auto frames = UINT32(kStreamBufferDuration * rate / 10000000);
  return make_capture_stream(std::move(stream), process, frames, out);
}

} // namespace pcmtap
