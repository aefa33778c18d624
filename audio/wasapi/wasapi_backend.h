// The library over the Windows Core Audio APIs: the inputs are the
// recording endpoints and what the computer plays, and recording is a
// shared-mode WASAPI stream on the one chosen.
#ifndef PCMTAP_AUDIO_WASAPI_WASAPI_BACKEND_H
#define PCMTAP_AUDIO_WASAPI_WASAPI_BACKEND_H

#include "../engine/backend.h"

#include <memory>

namespace pcmtap {

class EndpointApi;
struct EndpointChoice;

class WasapiBackend final : public Backend {
public:
  // Over `api`, where its default recording endpoint gives pcmtap's
  // stream; null otherwise, with the reason (a negative error) in `*why`.
  static std::unique_ptr<WasapiBackend> open(std::shared_ptr<EndpointApi> api,
                                             int *why);

  int open_capture(unsigned rate, unsigned channels,
                   std::unique_ptr<CaptureSource> *out) override;
  int check_output() override;
  std::string device_name(bool output) const override {
    return output ? "the default playback endpoint"
                  : "the default recording endpoint";
  }
  const char *absence_hint(bool output) const override {
    return output ? "nothing is played, but a playback device must be there"
                  : "no recording device is installed or enabled";
  }
  std::unique_ptr<Inputs> open_inputs() override;
  const char *error_text(int err) const override;

private:
  WasapiBackend(std::shared_ptr<EndpointApi> api,
                std::shared_ptr<EndpointChoice> choice);

  std::shared_ptr<EndpointApi> api_;
  // Shared with the inputs, which change it, and the capture, which
  // records what it says.
  std::shared_ptr<EndpointChoice> choice_;
};

} // namespace pcmtap

#endif
