// The recording device's inputs, read from and switched through the simple
// mixer of ALSA's default control device.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_INPUTS_H
#define PCMTAP_AUDIO_ALSA_ALSA_INPUTS_H

#include "../engine/backend.h"

#include <alsa/asoundlib.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

class AlsaInputs final : public Inputs {
public:
  // Empty when there is no mixer: a device without one has no inputs.
  AlsaInputs();
  ~AlsaInputs() override;
  AlsaInputs(const AlsaInputs &) = delete;
  AlsaInputs &operator=(const AlsaInputs &) = delete;

  size_t count() const override { return inputs_.size(); }
  const char *name(size_t i) const override { return inputs_[i].name.c_str(); }
  DWORD flags(size_t i) override;
  bool switch_off(size_t i) override;
  bool switch_on(size_t i) override;

private:
  // An element with a capture switch, or one item (item >= 0) of an
  // enumerated capture source.
  struct Input {
    snd_mixer_elem_t *elem;
    int item;
    std::string name;
  };

  void collect(snd_mixer_elem_t *elem);
  bool is_off(size_t i) const;

  snd_mixer_t *mixer_ = nullptr;
  std::vector<Input> inputs_;
};

} // namespace pcmtap

#endif
