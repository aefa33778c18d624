// The inputs on bare ALSA: what the simple mixer of every card that records
// offers for recording (capture switches, the items of a capture source),
// card after card; a card whose mixer offers none is one input.  Where no
// card is found (a setup of plugins alone), the inputs are those of ALSA's
// default control device.  Switching an input on chooses its card for the
// run; a card's controls switched are put back when the inputs are closed.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_INPUTS_H
#define PCMTAP_AUDIO_ALSA_ALSA_INPUTS_H

#include "../engine/backend.h"
#include "alsa_cards.h"

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
  bool switch_on(size_t i) override;

private:
  // A control as it was before the first switch, to be put back.
  struct Saved {
    snd_mixer_elem_t *elem;
    bool is_enum;
    int values[SND_MIXER_SCHN_LAST + 1];
    bool has[SND_MIXER_SCHN_LAST + 1];
  };
  struct Mixer {
    snd_mixer_t *handle; // null: the card has none
    int card;            // in the choice's cards; -1: ALSA's default
    std::vector<Saved> saved;
    bool touched = false;
  };
  // An element with a capture switch, or one item (item >= 0) of an
  // enumerated capture source; no element for a card that is one input.
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
  bool is_off(size_t i) const;
  bool write_off(const Input &input);
  bool write_on(const Input &input);
  void save(Mixer &mixer);
  void put_back(const Mixer &mixer);

  std::shared_ptr<AlsaChoice> choice_;
  std::vector<Mixer> mixers_;
  std::vector<Input> inputs_;
};

} // namespace pcmtap

#endif
