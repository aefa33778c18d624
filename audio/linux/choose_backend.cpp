// Which backend records on Linux.  pcmtap follows the user's ALSA setup:
// where ALSA's default device leads to a sound server that answers, it
// speaks to that server directly; everywhere else it records through ALSA.
// PCMTAP_AUDIO=alsa or =server forces one.
#include "alsa/alsa_backend.h"
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

// Definitions lead to others through slaves and aliases; real setups are a
// few levels deep.
const int kMaxDepth = 8;

const char *string_field(snd_config_t *conf, const char *key) {
  snd_config_t *field;
  const char *value;
  if (snd_config_search(conf, key, &field) < 0 ||
      snd_config_get_string(field, &value) < 0)
    return nullptr;
  return value;
}

bool leads_to_server(snd_config_t *top, const char *name, int depth,
                     PulseTarget *target);

// Whether a PCM's definition records from a sound server, and which.
bool is_server(snd_config_t *top, snd_config_t *pcm, int depth,
               PulseTarget *target) {
  const char *type = string_field(pcm, "type");
  if (!type)
    return false;
  if (std::strcmp(type, "pulse") == 0) {
    const char *server = string_field(pcm, "server");
    const char *device = string_field(pcm, "device");
    target->server = server ? server : "";
    target->source = device ? device : "";
    return true;
  }
  if (std::strcmp(type, "pipewire") == 0)
    return true;
  // Recording goes to the capture side of an asym, and through the slave
  // of a converter.
  const char *key =
      std::strcmp(type, "asym") == 0 ? "capture.pcm" : "slave.pcm";
  snd_config_t *next;
  if (depth >= kMaxDepth || snd_config_search(pcm, key, &next) < 0)
    return false;
  const char *next_name;
  if (snd_config_get_string(next, &next_name) >= 0)
    return leads_to_server(top, next_name, depth + 1, target);
  return snd_config_get_type(next) == SND_CONFIG_TYPE_COMPOUND &&
         is_server(top, next, depth + 1, target);
}

bool leads_to_server(snd_config_t *top, const char *name, int depth,
                     PulseTarget *target) {
  snd_config_t *pcm;
  if (snd_config_search_definition(top, "pcm", name, &pcm) < 0)
    return false;
  bool server = is_server(top, pcm, depth, target);
  snd_config_delete(pcm);
  return server;
}

bool alsa_default_is_server(PulseTarget *target) {
  snd_config_t *top;
  if (snd_config_update_ref(&top) < 0)
    return false;
  bool server = leads_to_server(top, "default", 0, target);
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
