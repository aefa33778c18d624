#include "alsa_inputs.h"

#include "../engine/input_types.h"

#include <cstdio>
#include <cstring>
#include <set>

namespace pcmtap {
namespace {

const char *const kControlDevice = "default";
// The converter's element: "Capture Switch" and "Capture Volume", the
// switch and gain of all the card records.  A card with several converters
// numbers them, "Capture" 0 being the one its first capture device records.
const char *const kConverter = "Capture";

bool is_converter(snd_mixer_elem_t *elem) {
  return std::strcmp(snd_mixer_selem_get_name(elem), kConverter) == 0;
}

std::string element_name(snd_mixer_elem_t *elem) {
  std::string name = snd_mixer_selem_get_name(elem);
  if (unsigned index = snd_mixer_selem_get_index(elem); index != 0)
    name += " " + std::to_string(index);
  return name;
}

bool is_selector(snd_mixer_elem_t *elem) {
  if (!snd_mixer_selem_is_enumerated(elem))
    return false;
  if (snd_mixer_selem_is_enum_capture(elem))
    return true;
  // Some drivers name their capture multiplexer without a direction.
  const char *name = snd_mixer_selem_get_name(elem);
  return std::strstr(name, "Input Source") != nullptr ||
         std::strstr(name, "Capture Source") != nullptr;
}

// An AC'97 card's "Capture Source" is, in the simple mixer, one switch per
// item, of which one is on.
bool is_exclusive(snd_mixer_elem_t *elem) {
  return snd_mixer_selem_has_capture_switch_exclusive(elem) != 0;
}

// What a write to the element's capture switch asks of the control the
// driver made, for messages.
std::string switching(snd_mixer_elem_t *elem, bool on) {
  std::string name = snd_mixer_selem_get_name(elem);
  if (is_exclusive(elem))
    return "switch \"Capture Source\" to \"" + name + "\"";
  name = is_converter(elem) ? "Capture Switch" : name + " Capture Switch";
  if (unsigned index = snd_mixer_selem_get_index(elem); index != 0)
    name += "," + std::to_string(index);
  return "switch \"" + name + (on ? "\" on" : "\" off");
}

std::string item_name(snd_mixer_elem_t *elem, int item) {
  char name[256];
  if (snd_mixer_selem_get_enum_item_name(elem, unsigned(item), sizeof name,
                                         name) < 0)
    return "";
  return name;
}

bool captures(snd_mixer_elem_t *elem) {
  for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
    auto channel = snd_mixer_selem_channel_id_t(ch);
    int on;
    if (snd_mixer_selem_has_capture_channel(elem, channel) &&
        snd_mixer_selem_get_capture_switch(elem, channel, &on) == 0 && on)
      return true;
  }
  return false;
}

// The mixer, over a control layer of our own: what a run changed is put
// back through it.  The mixer closes it.
snd_mixer_t *open_mixer(const char *control, snd_hctl_t **controls) {
  snd_mixer_t *mixer;
  if (snd_mixer_open(&mixer, 0) < 0)
    return nullptr;
  if (snd_hctl_open(controls, control, 0) < 0) {
    snd_mixer_close(mixer);
    return nullptr;
  }
  if (snd_mixer_attach_hctl(mixer, *controls) < 0) { // which closed it
    snd_mixer_close(mixer);
    return nullptr;
  }
  if (snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
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

// The converters past the first, by index: theirs are not the first
// capture device's sources.
std::set<unsigned> other_converters(snd_mixer_t *handle) {
  std::set<unsigned> indexes;
  for (snd_mixer_elem_t *elem = snd_mixer_first_elem(handle); elem;
       elem = snd_mixer_elem_next(elem))
    if (is_converter(elem) && snd_mixer_selem_get_index(elem) != 0)
      indexes.insert(snd_mixer_selem_get_index(elem));
  return indexes;
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
    if (mixer.card >= 0)
      if (int err = mixer.changed.put_back(); err < 0)
        std::fprintf(stderr, "pcmtap: %s: cannot put its controls back: %s\n",
                     label(mixer).c_str(), snd_strerror(err));
    if (mixer.handle)
      snd_mixer_close(mixer.handle);
  }
}

void AlsaInputs::add_card(int card, const char *control,
                          const std::string &card_name) {
  snd_hctl_t *controls = nullptr;
  snd_mixer_t *handle = open_mixer(control, &controls);
  mixers_.push_back({handle, controls, card, nullptr, {}});
  const size_t mixer = mixers_.size() - 1;
  const size_t first = inputs_.size();
  if (handle) {
    const std::set<unsigned> others = other_converters(handle);
    for (snd_mixer_elem_t *elem = snd_mixer_first_elem(handle); elem;
         elem = snd_mixer_elem_next(elem)) {
      unsigned index = snd_mixer_selem_get_index(elem);
      if (index != 0 &&
          (is_converter(elem) || is_selector(elem) || others.count(index) != 0))
        continue;
      collect(mixer, elem, card_name);
    }
  }
  Mixer &m = mixers_[mixer];
  // A card with nothing but the converter's switch has that one input.
  if (inputs_.size() == first && m.converter) {
    std::string own = element_name(m.converter);
    inputs_.push_back({mixer, m.converter, -1,
                       own + (card_name.empty() ? "" : " (" + card_name + ")"),
                       type_of(own, card_name)});
  }
  if (inputs_.size() == first && card >= 0)
    inputs_.push_back({mixer, nullptr, -1, card_name, type_of(card_name, "")});
}

// "Mic (USB PnP Sound Device)": the input, then its card.
void AlsaInputs::collect(size_t mixer, snd_mixer_elem_t *elem,
                         const std::string &card) {
  if (!snd_mixer_selem_is_active(elem))
    return;
  const std::string suffix = card.empty() ? "" : " (" + card + ")";
  if (is_converter(elem)) {
    if (snd_mixer_selem_has_capture_switch(elem))
      mixers_[mixer].converter = elem;
    return;
  }
  if (snd_mixer_selem_has_capture_switch(elem)) {
    std::string own = element_name(elem);
    inputs_.push_back({mixer, elem, -1, own + suffix, type_of(own, card)});
    return;
  }
  if (!is_selector(elem))
    return;
  int items = snd_mixer_selem_get_enum_items(elem);
  for (int item = 0; item < items; ++item)
    if (std::string own = item_name(elem, item); !own.empty())
      inputs_.push_back({mixer, elem, item, own + suffix, type_of(own, card)});
}

// Only the card `pcmtap -` records shows what is on: '+' means what a run
// without a number gets, and nothing records while the converter is off.
DWORD AlsaInputs::flags(size_t i) {
  const Input &input = inputs_[i];
  const Mixer &mixer = mixers_[input.mixer];
  if (mixer.card != choice_->marked)
    return input.type | BASS_INPUT_OFF;
  if (!input.elem)
    return input.type;
  // Takes in what changed since: switching one item of a selector changes
  // its neighbours too.
  snd_mixer_handle_events(mixer.handle);
  bool on = is_on(input) && (!mixer.converter || captures(mixer.converter));
  return on ? input.type : input.type | BASS_INPUT_OFF;
}

bool AlsaInputs::is_on(const Input &input) const {
  if (input.item < 0)
    return captures(input.elem);
  unsigned selected;
  return snd_mixer_selem_get_enum_item(input.elem, SND_MIXER_SCHN_MONO,
                                       &selected) == 0 &&
         selected == unsigned(input.item);
}

bool AlsaInputs::switch_off(size_t i) {
  inputs_[i].off_asked = true;
  return true;
}

bool AlsaInputs::switch_on(size_t i) {
  const Input &input = inputs_[i];
  Mixer &mixer = mixers_[input.mixer];
  if (mixer.handle)
    snd_mixer_handle_events(mixer.handle);
  ControlValues before = ControlValues::read(mixer.controls);
  int err = 0;
  for (Input &other : inputs_)
    if (other.mixer == input.mixer && other.off_asked) {
      other.off_asked = false;
      if (err == 0)
        err = write_off(other);
    }
  if (err == 0)
    err = write_on(input);
  if (err == 0 && mixer.converter)
    err = write_switch(mixer, mixer.converter, true);
  if (err < 0) {
    // The walk that asked for inputs off is over, and nothing of it stays.
    for (Input &other : inputs_)
      other.off_asked = false;
    before.put_back();
    snd_mixer_handle_events(mixer.handle);
    return false;
  }
  mixer.changed.keep_changed(std::move(before));
  if (mixer.card >= 0)
    choice_->chosen = mixer.card;
  return true;
}

// alsa-lib answers a write with 0, or with 1 where a plugin says that it
// changed the value; only a negative answer is a refusal.
int AlsaInputs::write_switch(const Mixer &mixer, snd_mixer_elem_t *elem,
                             bool on) {
  int err = snd_mixer_selem_set_capture_switch_all(elem, on);
  return err < 0 ? refused(mixer, switching(elem, on), err) : 0;
}

int AlsaInputs::write_off(const Input &input) {
  // A selector's item, or an exclusive group's, is not switched off on its
  // own: choosing another does that.
  if (!input.elem || input.item >= 0 || is_exclusive(input.elem))
    return 0;
  return write_switch(mixers_[input.mixer], input.elem, false);
}

int AlsaInputs::write_on(const Input &input) {
  const Mixer &mixer = mixers_[input.mixer];
  if (!input.elem)
    return 0;
  if (input.item < 0)
    return write_switch(mixer, input.elem, true);
  // Every channel of the selector, where it has several; a channel on the
  // item already is left as it is.
  for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
    auto channel = snd_mixer_selem_channel_id_t(ch);
    unsigned selected;
    if (snd_mixer_selem_get_enum_item(input.elem, channel, &selected) < 0 ||
        selected == unsigned(input.item))
      continue;
    if (int err = snd_mixer_selem_set_enum_item(input.elem, channel,
                                                unsigned(input.item));
        err < 0)
      return refused(mixer,
                     "switch \"" + element_name(input.elem) + "\" to \"" +
                         item_name(input.elem, input.item) + "\"",
                     err);
  }
  return 0;
}

int AlsaInputs::refused(const Mixer &mixer, const std::string &what,
                        int err) const {
  std::fprintf(stderr, "pcmtap: %s: cannot %s: %s\n", label(mixer).c_str(),
               what.c_str(), snd_strerror(err));
  return err;
}

std::string AlsaInputs::label(const Mixer &mixer) const {
  if (mixer.card < 0)
    return "ALSA \"" + std::string(kControlDevice) + "\"";
  return card_label(choice_->cards[size_t(mixer.card)]);
}

} // namespace pcmtap
