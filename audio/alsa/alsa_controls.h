// The values of a card's mixer controls as alsa-lib's control layer has
// them, so that what a run changed is put back exactly: a selector in
// every channel, an exclusive group's one control, a switch per channel.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_CONTROLS_H
#define PCMTAP_AUDIO_ALSA_ALSA_CONTROLS_H

#include <alsa/asoundlib.h>

#include <memory>
#include <vector>

namespace pcmtap {

struct ElemValueFree {
  void operator()(snd_ctl_elem_value_t *value) const {
    snd_ctl_elem_value_free(value);
  }
};
using ElemValue = std::unique_ptr<snd_ctl_elem_value_t, ElemValueFree>;

class ControlValues {
public:
  // Every writable mixer control of `hctl` as it is now; none where it
  // has none or cannot be read.
  static ControlValues read(snd_hctl_t *hctl);

  // Takes over from `before` the controls whose value has changed since,
  // and that this does not hold yet: what holds is what was there first.
  void keep_changed(ControlValues before);
  // Writes back every control whose value differs from the one held.
  // Returns the first error, or 0.
  int put_back() const;
  bool empty() const { return controls_.empty(); }

private:
  struct Control {
    snd_hctl_elem_t *elem;
    ElemValue value;
  };
  bool holds(const snd_hctl_elem_t *elem) const;

  std::vector<Control> controls_;
};

} // namespace pcmtap

#endif
