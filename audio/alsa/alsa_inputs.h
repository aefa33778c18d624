// The inputs on bare ALSA: the sources of every card that records, card
// after card, as the card's simple mixer lays them out.  A source is an
// element with a capture switch of its own, or an item of a selector
// ("Input Source", an AC'97 card's "Capture Source"); the converter's own
// switch ("Capture") is no source, but is switched on for whichever of its
// card's sources records.  A card whose mixer offers no source is one
// input.  Where no card is found (a setup of plugins alone), the inputs
// are those of ALSA's default control device.  Switching an input on
// chooses its card for the run; what that changed on a card is put back
// when the inputs are closed.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_INPUTS_H
#define PCMTAP_AUDIO_ALSA_ALSA_INPUTS_H

#include "../engine/backend.h"
#include "alsa_cards.h"
#include "alsa_controls.h"

#include <alsa/asoundlib.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

class AlsaInputs final : public Inputs {
public:
  explicit AlsaInputs(std::shared_ptr<AlsaChoice> choice);
  ~AlsaInputs() override;
  AlsaInputs(const AlsaInputs &) = delete;
  AlsaInputs &operator=(const AlsaInputs &) = delete;

  size_t count() const override { return inputs_.size(); }
  const char *name(size_t i) const override { return inputs_[i].name.c_str(); }
  DWORD flags(size_t i) override;
  // Only noted: the card whose input is switched on next is the one whose
  // inputs go off, so that the other cards are left alone.
  bool switch_off(size_t i) override;
  // All of the card's writes, or none: a refusal is said, naming the
  // control, and what was written before it is put back.
  bool switch_on(size_t i) override;

private:
  struct Mixer {
    snd_mixer_t *handle; // null: the card has none
    snd_hctl_t *controls;
    int card; // in the choice's cards; -1: ALSA's default
    // The converter's switch, for every source of the card.
    snd_mixer_elem_t *converter = nullptr;
    // What the run changed, as it was before.
    ControlValues changed;
  };
  // An element with a capture switch, or one item (item >= 0) of a
  // selector; no element for a card that is one input.
  struct Input {
    size_t mixer;
    snd_mixer_elem_t *elem;
    int item;
    std::string name;
    DWORD type;
    bool off_asked = false;
  };

  void add_card(int card, const char *control, const std::string &card_name);
  void collect(size_t mixer, snd_mixer_elem_t *elem, const std::string &card);
  bool is_on(const Input &input) const;
  int write_off(const Input &input);
  int write_on(const Input &input);
  int write_switch(const Mixer &mixer, snd_mixer_elem_t *elem, bool on);
  int refused(const Mixer &mixer, const std::string &what, int err) const;
  std::string label(const Mixer &mixer) const;

  std::shared_ptr<AlsaChoice> choice_;
  std::vector<Mixer> mixers_;
  std::vector<Input> inputs_;
};

} // namespace pcmtap

#endif
