#include "alsa_cards.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace pcmtap {
namespace {

// Definitions lead to others through slaves and aliases; real setups are a
// few levels deep.
const int kMaxDepth = 8;

struct CtlCloser {
  void operator()(snd_ctl_t *ctl) const { snd_ctl_close(ctl); }
};

// What `arecord -l` asks: whether any of the card's PCM devices has a
// capture stream.  The control device answers without opening the PCM.
bool has_capture(snd_ctl_t *ctl) {
  snd_pcm_info_t *info;
  snd_pcm_info_alloca(&info);
  for (int dev = -1; snd_ctl_pcm_next_device(ctl, &dev) == 0 && dev >= 0;) {
    snd_pcm_info_set_device(info, unsigned(dev));
    snd_pcm_info_set_subdevice(info, 0);
    snd_pcm_info_set_stream(info, SND_PCM_STREAM_CAPTURE);
    if (snd_ctl_pcm_info(ctl, info) == 0)
      return true;
  }
  return false;
}

bool follow_definition(snd_config_t *top, snd_config_t *pcm, int depth,
                       const std::function<bool(snd_config_t *)> &visit);

bool follow_name(snd_config_t *top, const char *name, int depth,
                 const std::function<bool(snd_config_t *)> &visit) {
  snd_config_t *pcm;
  if (snd_config_search_definition(top, "pcm", name, &pcm) < 0)
    return false;
  bool done = follow_definition(top, pcm, depth, visit);
  snd_config_delete(pcm);
  return done;
}

bool follow_definition(snd_config_t *top, snd_config_t *pcm, int depth,
                       const std::function<bool(snd_config_t *)> &visit) {
  if (visit(pcm))
    return true;
  const char *type = config_string(pcm, "type");
  if (!type)
    return false;
  // Recording goes to the capture side of an asym, and through the slave
  // of a converter.
  const char *key =
      std::strcmp(type, "asym") == 0 ? "capture.pcm" : "slave.pcm";
  snd_config_t *next;
  if (depth >= kMaxDepth || snd_config_search(pcm, key, &next) < 0)
    return false;
  const char *next_name;
  if (snd_config_get_string(next, &next_name) >= 0)
    return follow_name(top, next_name, depth + 1, visit);
  return snd_config_get_type(next) == SND_CONFIG_TYPE_COMPOUND &&
         follow_definition(top, next, depth + 1, visit);
}

} // namespace

const char *config_string(snd_config_t *conf, const char *key) {
  snd_config_t *field;
  const char *value;
  if (snd_config_search(conf, key, &field) < 0 ||
      snd_config_get_string(field, &value) < 0)
    return nullptr;
  return value;
}

bool follow_capture(snd_config_t *top, const char *name,
                    const std::function<bool(snd_config_t *pcm)> &visit) {
  return follow_name(top, name, 0, visit);
}

std::vector<AlsaCard> alsa_cards() {
  std::vector<AlsaCard> cards;
  for (int index = -1; snd_card_next(&index) == 0 && index >= 0;) {
    AlsaCard card{index, "card " + std::to_string(index), false};
    char *name = nullptr;
    if (snd_card_get_name(index, &name) == 0 && name && *name)
      card.name = name;
    std::free(name);
    snd_ctl_t *raw;
    if (snd_ctl_open(&raw, card_control(card).c_str(), SND_CTL_NONBLOCK) == 0) {
      std::unique_ptr<snd_ctl_t, CtlCloser> ctl(raw);
      card.records = has_capture(ctl.get());
    }
    cards.push_back(card);
  }
  return cards;
}

std::string card_label(const AlsaCard &card) {
  return "card " + std::to_string(card.index) + " \"" + card.name + "\"";
}

std::string card_device(const AlsaCard &card) {
  return "sysdefault:CARD=" + std::to_string(card.index);
}

std::string card_plug_device(const AlsaCard &card) {
  return "plughw:CARD=" + std::to_string(card.index);
}

std::string card_control(const AlsaCard &card) {
  return "hw:" + std::to_string(card.index);
}

CaptureEnd default_capture_end() {
  CaptureEnd end;
  snd_config_t *top;
  if (snd_config_update_ref(&top) < 0)
    return end;
  follow_capture(top, "default", [&end](snd_config_t *pcm) {
    const char *type = config_string(pcm, "type");
    snd_config_t *field;
    if (!type)
      return false;
    if (std::strcmp(type, "asym") == 0 &&
        snd_config_search(pcm, "capture.pcm", &field) < 0) {
      end.kind = CaptureEnd::kNothing;
      return true;
    }
    if (std::strcmp(type, "hw") != 0)
      return false;
    if (snd_config_search(pcm, "card", &field) >= 0 &&
        (end.card = snd_config_get_card(field)) >= 0)
      end.kind = CaptureEnd::kCard;
    return true;
  });
  snd_config_unref(top);
  return end;
}

int fallback_card(const AlsaChoice &choice) {
  for (size_t i = 0; i < choice.cards.size(); ++i)
    if (choice.cards[i].records)
      return int(i);
  return -1;
}

} // namespace pcmtap
