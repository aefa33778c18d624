// Which backend records on Windows: WASAPI, which sees every recording
// endpoint, where it works; winmm, which only sees the default device,
// where it does not.  PCMTAP_AUDIO=wasapi or =winmm forces one.
#include "choose_backend.h"

#include "../wasapi/wasapi_backend.h"
#include "../wasapi/wasapi_errors.h"
#include "../winmm/winmm_backend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pcmtap {

const char *const kDeviceHint =
    "the default devices are chosen in Windows' Sound settings";

std::unique_ptr<Backend> choose_windows_backend(const char *forced,
                                                const EndpointApiOpener &open) {
  if (forced && std::strcmp(forced, "wasapi") != 0 &&
      std::strcmp(forced, "winmm") != 0) {
    std::fprintf(stderr,
                 "pcmtap: PCMTAP_AUDIO=%s: must be \"wasapi\" or \"winmm\"\n",
                 forced);
    return nullptr;
  }
  if (forced && std::strcmp(forced, "winmm") == 0)
    return std::make_unique<WinmmBackend>();
  HRESULT opened = S_OK;
  int why = 0;
  std::shared_ptr<EndpointApi> api = open(&opened);
  std::unique_ptr<Backend> wasapi;
  if (api)
    wasapi = WasapiBackend::open(std::move(api), &why);
  else
    why = int(opened);
  if (wasapi || !forced)
    return wasapi ? std::move(wasapi) : std::make_unique<WinmmBackend>();
  std::fprintf(stderr,
               "pcmtap: no recording device: the default recording endpoint: "
               "%s (PCMTAP_AUDIO=wasapi asks for it; %s)\n",
               wasapi_error_text(why), kDeviceHint);
  return nullptr;
}

std::unique_ptr<Backend> choose_backend() {
  const char *forced = std::getenv("PCMTAP_AUDIO");
  return choose_windows_backend(forced && *forced ? forced : nullptr,
                                open_endpoint_api);
}

} // namespace pcmtap
