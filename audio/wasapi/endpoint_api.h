// The MMDevice calls the endpoints are listed, checked and unmuted through,
// one method each, so that a test can stand in for Windows' enumerator.
#ifndef PCMTAP_AUDIO_WASAPI_ENDPOINT_API_H
#define PCMTAP_AUDIO_WASAPI_ENDPOINT_API_H

#include <windows.h>

#include <mmdeviceapi.h>

#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

struct Endpoint {
  std::wstring id; // the enumerator's, for opening it again
  std::wstring name;
  EndpointFormFactor form_factor = UnknownFormFactor;
  bool unplugged = false;
};

class EndpointApi {
public:
  virtual ~EndpointApi() = default;

  // The capture endpoints that are active or unplugged, in the
  // enumerator's order.
  virtual HRESULT capture_endpoints(std::vector<Endpoint> *out) = 0;
  // The default endpoint of the console role.
  virtual HRESULT default_endpoint(EDataFlow flow, Endpoint *out) = 0;
  virtual HRESULT get_mute(const std::wstring &id, bool *muted) = 0;
  virtual HRESULT set_mute(const std::wstring &id, bool muted) = 0;
  // Whether the endpoint gives a stream of 16-bit samples at this rate and
  // channel count (of what it plays, with `loopback`); nothing is
  // recorded.
  virtual HRESULT try_stream(const std::wstring &id, bool loopback,
                             unsigned rate, unsigned channels) = 0;
};

// Windows' enumerator; null, with the reason in `*why`, where there is no
// MMDevice API.
std::unique_ptr<EndpointApi> open_endpoint_api(HRESULT *why);

} // namespace pcmtap

#endif
