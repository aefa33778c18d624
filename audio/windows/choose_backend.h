// How the backend is chosen on Windows, apart from where its endpoints come
// from, so that a test can give it endpoints of its own.
#ifndef PCMTAP_AUDIO_WINDOWS_CHOOSE_BACKEND_H
#define PCMTAP_AUDIO_WINDOWS_CHOOSE_BACKEND_H

#include "../engine/backend.h"
#include "../wasapi/endpoint_api.h"

#include <functional>
#include <memory>

namespace pcmtap {

using EndpointApiOpener =
    std::function<std::unique_ptr<EndpointApi>(HRESULT *)>;

// WASAPI where the MMDevice API is there and its default recording endpoint
// gives pcmtap's stream, winmm otherwise; `forced` ("wasapi" or "winmm",
// or null) insists on one.  Null, having said why, when the one insisted on
// cannot be had.
std::unique_ptr<Backend> choose_windows_backend(const char *forced,
                                                const EndpointApiOpener &open);

} // namespace pcmtap

#endif
