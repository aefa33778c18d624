// Windows' endpoints as the MMDevice API shows them, for the endpoint
// inputs' tests: capture endpoints in order, the defaults, mute switches
// that can refuse to be read or set, and streams that open or are refused
// with the code Windows gives.
#ifndef PCMTAP_TESTS_WINDOWS_FAKE_ENDPOINTS_H
#define PCMTAP_TESTS_WINDOWS_FAKE_ENDPOINTS_H

#include "wasapi/endpoint_api.h"

#include <audioclient.h>

#include <map>

namespace pcmtap {

class FakeEndpoints final : public EndpointApi {
public:
  std::vector<Endpoint> capture;
  std::wstring default_capture; // empty: none
  bool has_render = true;
  std::map<std::wstring, bool> muted;
  // What reading or setting a mute switch fails with, as where an endpoint
  // has no volume control or the user may not change it; S_OK: it works.
  HRESULT mute_read_result = S_OK;
  HRESULT mute_set_result = S_OK;
  HRESULT stream_result = S_OK;
  HRESULT loopback_result = AUDCLNT_E_WRONG_ENDPOINT_TYPE;

  HRESULT capture_endpoints(std::vector<Endpoint> *out) override {
    *out = capture;
    return S_OK;
  }
  HRESULT default_endpoint(EDataFlow flow, Endpoint *out) override {
    if (flow == eRender) {
      if (!has_render)
        return E_NOTFOUND;
      out->id = L"render";
      out->name = L"Speakers";
      return S_OK;
    }
    for (const Endpoint &endpoint : capture)
      if (endpoint.id == default_capture) {
        *out = endpoint;
        return S_OK;
      }
    return E_NOTFOUND;
  }
  // "Not muted" where the switch cannot be read, as pcmtap's MMDevice
  // calls say.
  HRESULT get_mute(const std::wstring &id, bool *out) override {
    *out = SUCCEEDED(mute_read_result) && muted[id];
    return mute_read_result;
  }
  HRESULT set_mute(const std::wstring &id, bool on) override {
    if (FAILED(mute_set_result))
      return mute_set_result;
    muted[id] = on;
    return S_OK;
  }
  HRESULT try_stream(const std::wstring &, bool loopback, unsigned,
                     unsigned) override {
    return loopback ? loopback_result : stream_result;
  }
};

} // namespace pcmtap

#endif
