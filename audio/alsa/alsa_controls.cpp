#include "alsa_controls.h"

namespace pcmtap {
namespace {

ElemValue read_value(snd_hctl_elem_t *elem) {
  snd_ctl_elem_value_t *value;
  if (snd_ctl_elem_value_malloc(&value) < 0)
    return nullptr;
  ElemValue owned(value);
  if (snd_hctl_elem_read(elem, value) < 0)
    return nullptr;
  return owned;
}

bool is_writable_mixer_control(snd_hctl_elem_t *elem) {
  snd_ctl_elem_info_t *info;
  snd_ctl_elem_info_alloca(&info);
  return snd_hctl_elem_get_interface(elem) == SND_CTL_ELEM_IFACE_MIXER &&
         snd_hctl_elem_info(elem, info) >= 0 &&
         snd_ctl_elem_info_is_writable(info);
}

bool differs(snd_hctl_elem_t *elem, snd_ctl_elem_value_t *value) {
  ElemValue now = read_value(elem);
  return now && snd_ctl_elem_value_compare(now.get(), value) != 0;
}

} // namespace

ControlValues ControlValues::read(snd_hctl_t *hctl) {
  ControlValues values;
  if (!hctl)
    return values;
  for (snd_hctl_elem_t *elem = snd_hctl_first_elem(hctl); elem;
       elem = snd_hctl_elem_next(elem))
    if (is_writable_mixer_control(elem))
      if (ElemValue value = read_value(elem))
        values.controls_.push_back({elem, std::move(value)});
  return values;
}

void ControlValues::keep_changed(ControlValues before) {
  for (Control &control : before.controls_)
    if (!holds(control.elem) && differs(control.elem, control.value.get()))
      controls_.push_back(std::move(control));
}

int ControlValues::put_back() const {
  int first_err = 0;
  for (const Control &control : controls_)
    if (differs(control.elem, control.value.get()))
      if (int err = snd_hctl_elem_write(control.elem, control.value.get());
          err < 0 && first_err == 0)
        first_err = err;
  return first_err;
}

bool ControlValues::holds(const snd_hctl_elem_t *elem) const {
  for (const Control &control : controls_)
    if (control.elem == elem)
      return true;
  return false;
}

} // namespace pcmtap
