#include "wasapi_backend.h"

#include "../engine/chosen_capture.h"
#include "endpoint_api.h"
#include "endpoint_inputs.h"
#include "program_capture.h"
#include "session_api.h"
#include "wasapi_capture.h"
#include "wasapi_errors.h"

namespace pcmtap {
namespace {

// What the default recording endpoint is checked for.
const unsigned kRate = 44100;
const unsigned kChannels = 2;

} // namespace

WasapiBackend::WasapiBackend(std::shared_ptr<EndpointApi> api,
                             std::shared_ptr<EndpointChoice> choice)
    : api_(std::move(api)), choice_(std::move(choice)) {}

std::unique_ptr<WasapiBackend>
WasapiBackend::open(std::shared_ptr<EndpointApi> api, int *why) {
  Endpoint capture;
  HRESULT hr = api->default_endpoint(eCapture, &capture);
  if (SUCCEEDED(hr))
    hr = api->try_stream(capture.id, false, kRate, kChannels);
  if (FAILED(hr)) {
    *why = int(hr);
    return nullptr;
  }
  auto choice = std::make_shared<EndpointChoice>();
  choice->id = capture.id;
  return std::unique_ptr<WasapiBackend>(
      new WasapiBackend(std::move(api), std::move(choice)));
}

int WasapiBackend::open_capture(unsigned rate, unsigned channels,
                                std::unique_ptr<CaptureSource> *out) {
  // What it records, an endpoint or a program, is decided when the
  // recording starts.
  *out = std::make_unique<ChosenCapture>(
      make_wasapi_capture(rate, channels, choice_),
      [choice = choice_, rate, channels]() -> std::unique_ptr<CaptureSource> {
        if (choice->program.empty())
          return nullptr;
        return make_program_capture(rate, channels, choice->program,
                                    open_session_api());
      });
  return 0;
}

// Nothing is ever played: a default playback endpoint is all it takes.
int WasapiBackend::check_output() {
  Endpoint render;
  HRESULT hr = api_->default_endpoint(eRender, &render);
  return FAILED(hr) ? int(hr) : 0;
}

std::unique_ptr<Inputs> WasapiBackend::open_inputs() {
  return std::make_unique<EndpointInputs>(api_, choice_, open_session_api());
}

const char *WasapiBackend::error_text(int err) const {
  return wasapi_error_text(err);
}

} // namespace pcmtap
