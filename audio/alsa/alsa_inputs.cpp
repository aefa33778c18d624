#include "alsa_inputs.h"

#include "../engine/input_types.h"

#include <cstring>

namespace pcmtap {
namespace {

const char *const kControlDevice = "default";

std::string element_name(snd_mixer_elem_t *elem) {
  std::string name = snd_mixer_selem_get_name(elem);
  // Cards with several converters repeat names ("Capture", "Capture 1").
  if (unsigned index = snd_mixer_selem_get_index(elem); index != 0)
    name += " " + std::to_string(index);
  return name;
}

bool is_capture_source(snd_mixer_elem_t *elem) {
  if (!snd_mixer_selem_is_enumerated(elem))
    return false;
  if (snd_mixer_selem_is_enum_capture(elem))
    return true;
  // Some drivers name their capture multiplexer without a direction.
  const char *name = snd_mixer_selem_get_name(elem);
  return std::strstr(name, "Input Source") != nullptr ||
         std::strstr(name, "Capture Source") != nullptr;
}

} // namespace

AlsaInputs::AlsaInputs() {
  snd_mixer_t *mixer;
  if (snd_mixer_open(&mixer, 0) < 0)
    return;
  if (snd_mixer_attach(mixer, kControlDevice) < 0 ||
      snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    return;
  }
  mixer_ = mixer;
  for (snd_mixer_elem_t *elem = snd_mixer_first_elem(mixer_); elem;
       elem = snd_mixer_elem_next(elem))
    collect(elem);
}

AlsaInputs::~AlsaInputs() {
  if (mixer_)
    snd_mixer_close(mixer_);
}

void AlsaInputs::collect(snd_mixer_elem_t *elem) {
  if (!snd_mixer_selem_is_active(elem))
    return;
  if (snd_mixer_selem_has_capture_switch(elem)) {
    inputs_.push_back({elem, -1, element_name(elem)});
    return;
  }
  if (!is_capture_source(elem))
    return;
  int items = snd_mixer_selem_get_enum_items(elem);
  for (int item = 0; item < items; ++item) {
    char name[256];
    if (snd_mixer_selem_get_enum_item_name(elem, unsigned(item), sizeof name,
                                           name) == 0)
      inputs_.push_back({elem, item, name});
  }
}

DWORD AlsaInputs::flags(size_t i) {
  // Takes in what changed since: switching one item of a capture source
  // changes its neighbours too.
  snd_mixer_handle_events(mixer_);
  DWORD flags = input_type_from_name(name(i));
  return is_off(i) ? flags | BASS_INPUT_OFF : flags;
}

bool AlsaInputs::is_off(size_t i) const {
  const Input &input = inputs_[i];
  if (input.item >= 0) {
    unsigned selected;
    return snd_mixer_selem_get_enum_item(input.elem, SND_MIXER_SCHN_MONO,
                                         &selected) < 0 ||
           selected != unsigned(input.item);
  }
  // Off only when no channel captures.
  for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
    auto channel = snd_mixer_selem_channel_id_t(ch);
    int on;
    if (snd_mixer_selem_has_capture_channel(input.elem, channel) &&
        snd_mixer_selem_get_capture_switch(input.elem, channel, &on) == 0 && on)
      return false;
  }
  return true;
}

bool AlsaInputs::switch_off(size_t i) {
  const Input &input = inputs_[i];
  // An item of a source cannot be deselected on its own: choosing another
  // item does that.  Nothing to do, and nothing refused.
  if (input.item >= 0)
    return true;
  return snd_mixer_selem_set_capture_switch_all(input.elem, 0) == 0;
}

bool AlsaInputs::switch_on(size_t i) {
  const Input &input = inputs_[i];
  if (input.item < 0)
    return snd_mixer_selem_set_capture_switch_all(input.elem, 1) == 0;
  int err = snd_mixer_selem_set_enum_item(input.elem, SND_MIXER_SCHN_MONO,
                                          unsigned(input.item));
  // Further channels, where the source has them, follow the first.
  for (int ch = 1; err == 0 && ch <= SND_MIXER_SCHN_LAST; ++ch)
    if (snd_mixer_selem_set_enum_item(input.elem,
                                      snd_mixer_selem_channel_id_t(ch),
                                      unsigned(input.item)) < 0)
      break;
  return err == 0;
}

} // namespace pcmtap
