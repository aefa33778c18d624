// The endpoint calls through Windows' MMDevice enumerator.
#include "endpoint_api.h"
#include "wasapi_stream.h"

#include <endpointvolume.h>
#include <functiondiscoverykeys_devpkey.h>

namespace pcmtap {
namespace {

// A property value, cleared when it goes.
struct Property {
  PROPVARIANT value;
  Property() { PropVariantInit(&value); }
  ~Property() { PropVariantClear(&value); }
  Property(const Property &) = delete;
  Property &operator=(const Property &) = delete;
};

HRESULT read_endpoint(IMMDevice *device, Endpoint *out) {
  CoTaskMem<WCHAR> id;
  HRESULT hr = device->GetId(id.put());
  if (FAILED(hr))
    return hr;
  out->id = id.get();
  ComRef<IPropertyStore> store;
  hr = device->OpenPropertyStore(STGM_READ, store.put());
  if (FAILED(hr))
    return hr;
  Property name;
  if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &name.value)) &&
      name.value.vt == VT_LPWSTR)
    out->name = name.value.pwszVal;
  Property form;
  if (SUCCEEDED(store->GetValue(PKEY_AudioEndpoint_FormFactor, &form.value)) &&
      form.value.vt == VT_UI4)
    out->form_factor = EndpointFormFactor(form.value.ulVal);
  DWORD state = 0;
  out->unplugged =
      SUCCEEDED(device->GetState(&state)) && state == DEVICE_STATE_UNPLUGGED;
  return S_OK;
}

HRESULT endpoint_volume(const std::wstring &id,
                        ComRef<IAudioEndpointVolume> *out) {
  ComRef<IMMDevice> device;
  HRESULT hr = open_device(id, &device);
  if (FAILED(hr))
    return hr;
  return device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                          out->put_void());
}

class MmDeviceApi final : public EndpointApi {
public:
  explicit MmDeviceApi(ComRef<IMMDeviceEnumerator> enumerator)
      : enumerator_(std::move(enumerator)) {}

  HRESULT capture_endpoints(std::vector<Endpoint> *out) override {
    ComRef<IMMDeviceCollection> collection;
    HRESULT hr = enumerator_->EnumAudioEndpoints(
        eCapture, DEVICE_STATE_ACTIVE | DEVICE_STATE_UNPLUGGED,
        collection.put());
    UINT count = 0;
    if (FAILED(hr) || FAILED(hr = collection->GetCount(&count)))
      return hr;
    for (UINT i = 0; i < count; ++i) {
      ComRef<IMMDevice> device;
      Endpoint endpoint;
      if (SUCCEEDED(collection->Item(i, device.put())) &&
          SUCCEEDED(read_endpoint(device.get(), &endpoint)))
        out->push_back(std::move(endpoint));
    }
    return S_OK;
  }

  HRESULT default_endpoint(EDataFlow flow, Endpoint *out) override {
    ComRef<IMMDevice> device;
    HRESULT hr =
        enumerator_->GetDefaultAudioEndpoint(flow, eConsole, device.put());
    return FAILED(hr) ? hr : read_endpoint(device.get(), out);
  }

  HRESULT get_mute(const std::wstring &id, bool *muted) override {
    ComRef<IAudioEndpointVolume> volume;
    BOOL mute = FALSE;
    HRESULT hr = endpoint_volume(id, &volume);
    if (SUCCEEDED(hr))
      hr = volume->GetMute(&mute);
    *muted = SUCCEEDED(hr) && mute;
    return hr;
  }

  HRESULT set_mute(const std::wstring &id, bool muted) override {
    ComRef<IAudioEndpointVolume> volume;
    HRESULT hr = endpoint_volume(id, &volume);
    return FAILED(hr) ? hr : volume->SetMute(muted, nullptr);
  }

  HRESULT try_stream(const std::wstring &id, bool loopback, unsigned rate,
                     unsigned channels) override {
    WasapiStream stream;
    return open_stream(id, loopback, rate, channels, &stream);
  }

private:
  ComRef<IMMDeviceEnumerator> enumerator_;
};

} // namespace

std::unique_ptr<EndpointApi> open_endpoint_api(HRESULT *why) {
  // Every thread of the process shares one apartment whose objects any of
  // them may call, the recording's device thread included.
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
    *why = hr;
    return nullptr;
  }
  ComRef<IMMDeviceEnumerator> enumerator;
  hr = CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                        __uuidof(IMMDeviceEnumerator), enumerator.put_void());
  if (FAILED(hr)) {
    *why = hr;
    return nullptr;
  }
  return std::make_unique<MmDeviceApi>(std::move(enumerator));
}

} // namespace pcmtap
