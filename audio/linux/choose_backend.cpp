// Which backend records on Linux.  pcmtap follows the user's ALSA setup:
// where ALSA's default device leads to a sound server that answers, it
// speaks to that server directly; everywhere else it records through ALSA.
// PCMTAP_AUDIO=alsa or =server forces one.
#include "alsa/alsa_backend.h"
#include "alsa/alsa_cards.h"
#include "engine/backend.h"
#include "pulse/libpulse.h"
#include "pulse/pulse_backend.h"

#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pcmtap {
namespace {

// A server that is there answers at once; one that is not refuses at once.
// The limit is for a server that hangs.
const unsigned kConnectMillis = 1000;

bool alsa_default_is_server(PulseTarget *target) {
  snd_config_t *top;
  if (snd_config_update_ref(&top) < 0)
    return false;
  bool server = follow_capture(top, "default", [target](snd_config_t *pcm) {
    const char *type = config_string(pcm, "type");
    if (type && std::strcmp(type, "pulse") == 0) {
      const char *server_field = config_string(pcm, "server");
      const char *device = config_string(pcm, "device");
      target->server = server_field ? server_field : "";
      target->source = device ? device : "";
      return true;
    }
    return type && std::strcmp(type, "pipewire") == 0;
  });
  snd_config_unref(top);
  return server;
}

// The sound server's backend, or null when no server answers.  Where one
// was asked for, its absence is said.
std::unique_ptr<Backend> server_backend(const PulseTarget &target,
                                        bool asked_for) {
  std::unique_ptr<PulseBackend> pulse;
  const char *why = "libpulse is not installed";
  if (libpulse_loaded()) {
    int err = PulseBackend::connect(target, kConnectMillis, &pulse);
    if (err == 0)
      return pulse;
    why = pulse_error_text(err);
  }
  if (asked_for)
    std::fprintf(stderr,
                 "pcmtap: no recording device: %s: %s (PCMTAP_AUDIO=server "
                 "asks for one; %s)\n",
                 PulseBackend::server_name(target).c_str(), why, kDeviceHint);
  return nullptr;
}

} // namespace

const char *const kDeviceHint = "see \"Choosing the device\" in man pcmtap";

std::unique_ptr<Backend> choose_backend() {
  alsa_silence_errors();
  const char *forced = std::getenv("PCMTAP_AUDIO");
  forced = forced && *forced ? forced : nullptr;
  if (forced && std::strcmp(forced, "alsa") != 0 &&
      std::strcmp(forced, "server") != 0) {
    std::fprintf(stderr,
                 "pcmtap: PCMTAP_AUDIO=%s: must be \"alsa\" or \"server\"\n",
                 forced);
    return nullptr;
  }
  if (forced && std::strcmp(forced, "alsa") == 0)
    return std::make_unique<AlsaBackend>();
  PulseTarget target;
  if (alsa_default_is_server(&target) || forced) {
    if (auto pulse = server_backend(target, forced != nullptr))
      return pulse;
    if (forced)
      return nullptr;
  }
  return std::make_unique<AlsaBackend>();
}

} // namespace pcmtap
