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

snd_mixer_t *open_mixer(const char *control) {
  snd_mixer_t *mixer;
  if (snd_mixer_open(&mixer, 0) < 0)
    return nullptr;
  if (snd_mixer_attach(mixer, control) < 0 ||
      snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    return nullptr;
  }
  return mixer;
}

// The input's own words first: a card named "USB Headset" says nothing of
// its "Line".
DWORD type_of(const std::string &own, const std::string &card) {
  DWORD type = input_type_from_name(own.c_str());
  return type != BASS_INPUT_TYPE_UNDEF ? type
                                       : input_type_from_name(card.c_str());
}

} // namespace

AlsaInputs::AlsaInputs(std::shared_ptr<AlsaChoice> choice)
    : choice_(std::move(choice)) {
  const std::vector<AlsaCard> &cards = choice_->cards;
  if (cards.empty())
    add_card(-1, kControlDevice, "");
  for (size_t i = 0; i < cards.size(); ++i)
    if (cards[i].records)
      add_card(int(i), card_control(cards[i]).c_str(), cards[i].name);
  std::vector<std::string> names;
  for (const Input &input : inputs_)
    names.push_back(input.name);
  make_names_unique(&names);
  for (size_t i = 0; i < inputs_.size(); ++i)
    inputs_[i].name = names[i];
}

AlsaInputs::~AlsaInputs() {
  // A card's controls are put back; ALSA's default control device, where
  // there are no cards, keeps what the run chose, as it always has.
  for (const Mixer &mixer : mixers_) {
    if (mixer.touched && mixer.card >= 0)
      put_back(mixer);
    if (mixer.handle)
      snd_mixer_close(mixer.handle);
  }
}

void AlsaInputs::add_card(int card, const char *control,
                          const std::string &card_name) {
  mixers_.push_back({open_mixer(control), card, {}});
  const size_t mixer = mixers_.size() - 1;
  const size_t first = inputs_.size();
  if (snd_mixer_t *handle = mixers_[mixer].handle)
    for (snd_mixer_elem_t *elem = snd_mixer_first_elem(handle); elem;
         elem = snd_mixer_elem_next(elem))
      collect(mixer, elem, card_name);
  if (inputs_.size() == first && card >= 0)
    inputs_.push_back({mixer, nullptr, -1, card_name, type_of(card_name, "")});
}

// "Mic (USB PnP Sound Device)": the input, then its card.
void AlsaInputs::collect(size_t mixer, snd_mixer_elem_t *elem,
                         const std::string &card) {
  if (!snd_mixer_selem_is_active(elem))
    return;
  const std::string suffix = card.empty() ? "" : " (" + card + ")";
  if (snd_mixer_selem_has_capture_switch(elem)) {
    std::string own = element_name(elem);
    inputs_.push_back({mixer, elem, -1, own + suffix, type_of(own, card)});
    return;
  }
  if (!is_capture_source(elem))
    return;
  int items = snd_mixer_selem_get_enum_items(elem);
  for (int item = 0; item < items; ++item) {
    char own[256];
    if (snd_mixer_selem_get_enum_item_name(elem, unsigned(item), sizeof own,
                                           own) == 0)
      inputs_.push_back({mixer, elem, item, own + suffix, type_of(own, card)});
  }
}

// Only the card `pcmtap -` records shows what is on: '+' means what a run
// without a number gets.
DWORD AlsaInputs::flags(size_t i) {
  const Input &input = inputs_[i];
  const Mixer &mixer = mixers_[input.mixer];
  if (mixer.card != choice_->marked)
    return input.type | BASS_INPUT_OFF;
  if (!input.elem)
    return input.type;
  // Takes in what changed since: switching one item of a capture source
  // changes its neighbours too.
  snd_mixer_handle_events(mixer.handle);
  return is_off(i) ? input.type | BASS_INPUT_OFF : input.type;
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
  inputs_[i].off_asked = true;
  return true;
}

bool AlsaInputs::switch_on(size_t i) {
  const Input &input = inputs_[i];
  Mixer &mixer = mixers_[input.mixer];
  save(mixer);
  for (Input &other : inputs_)
    if (other.mixer == input.mixer && other.off_asked) {
      other.off_asked = false;
      if (!write_off(other))
        return false;
    }
  if (!write_on(input))
    return false;
  if (mixer.card >= 0)
    choice_->chosen = mixer.card;
  return true;
}

bool AlsaInputs::write_off(const Input &input) {
  // An item of a source cannot be deselected on its own: choosing another
  // item does that.  Nothing to do, and nothing refused.
  if (!input.elem || input.item >= 0)
    return true;
  return snd_mixer_selem_set_capture_switch_all(input.elem, 0) == 0;
}

bool AlsaInputs::write_on(const Input &input) {
  if (!input.elem)
    return true;
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

void AlsaInputs::save(Mixer &mixer) {
  if (mixer.touched)
    return;
  mixer.touched = true;
  for (const Input &input : inputs_) {
    if (!input.elem || &mixers_[input.mixer] != &mixer ||
        (!mixer.saved.empty() && mixer.saved.back().elem == input.elem))
      continue;
    Saved saved{input.elem, input.item >= 0, {}, {}};
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
      auto channel = snd_mixer_selem_channel_id_t(ch);
      unsigned item;
      if (saved.is_enum)
        saved.has[ch] =
            snd_mixer_selem_get_enum_item(input.elem, channel, &item) == 0;
      else
        saved.has[ch] =
            snd_mixer_selem_has_capture_channel(input.elem, channel) &&
            snd_mixer_selem_get_capture_switch(input.elem, channel,
                                               &saved.values[ch]) == 0;
      if (saved.is_enum && saved.has[ch])
        saved.values[ch] = int(item);
    }
    mixer.saved.push_back(saved);
  }
}

// Switches that were off first: in an exclusive capture group, switching
// one on switches the others off.
void AlsaInputs::put_back(const Mixer &mixer) {
  for (int pass = 0; pass < 2; ++pass)
    for (const Saved &saved : mixer.saved)
      for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        auto channel = snd_mixer_selem_channel_id_t(ch);
        if (!saved.has[ch])
          continue;
        if (saved.is_enum && pass == 0)
          snd_mixer_selem_set_enum_item(saved.elem, channel,
                                        unsigned(saved.values[ch]));
        else if (!saved.is_enum && (saved.values[ch] != 0) == (pass == 1))
          snd_mixer_selem_set_capture_switch(saved.elem, channel,
                                             saved.values[ch]);
      }
}

} // namespace pcmtap
