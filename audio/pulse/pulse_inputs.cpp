#include "pulse_inputs.h"

#include "../engine/input_types.h"

#include <cstdio>

namespace pcmtap {
namespace {

// The input type of a port, from the type the server gives it (PulseAudio
// 14 and later); 0 when it gives none that says what the input is.
DWORD type_of_port(uint32_t type) {
#if PA_CHECK_VERSION(14, 0, 0)
  switch (type) {
  case PA_DEVICE_PORT_TYPE_MIC:
  case PA_DEVICE_PORT_TYPE_HEADSET:
  case PA_DEVICE_PORT_TYPE_HANDSET:
    return BASS_INPUT_TYPE_MIC;
  case PA_DEVICE_PORT_TYPE_LINE:
    return BASS_INPUT_TYPE_LINE;
  case PA_DEVICE_PORT_TYPE_SPDIF:
  case PA_DEVICE_PORT_TYPE_HDMI:
    return BASS_INPUT_TYPE_DIGITAL;
  case PA_DEVICE_PORT_TYPE_AUX:
    return BASS_INPUT_TYPE_AUX;
  case PA_DEVICE_PORT_TYPE_PHONE:
    return BASS_INPUT_TYPE_PHONE;
  case PA_DEVICE_PORT_TYPE_ANALOG:
  case PA_DEVICE_PORT_TYPE_VIDEO:
  case PA_DEVICE_PORT_TYPE_TV:
  case PA_DEVICE_PORT_TYPE_RADIO:
    return BASS_INPUT_TYPE_ANALOG;
  default:
    break;
  }
#endif
  (void)type;
  return 0;
}

} // namespace

PulseInputs::PulseInputs(PulseConnection &connection, const std::string &source)
    : connection_(connection) {
  if (connection_.source_state(source, &now_) < 0)
    return;
  for (const SourcePort &port : now_.ports) {
    names_.push_back(port.description);
    DWORD type = type_of_port(port.type);
    types_.push_back(type ? type : input_type_from_name(names_.back().c_str()));
  }
  if (now_.ports.empty()) {
    names_.push_back(now_.description);
    types_.push_back(input_type_from_name(names_.back().c_str()));
  }
}

// The source as it is now, under the name it had when the inputs were read.
bool PulseInputs::refresh() {
  std::string source = now_.name;
  return connection_.source_state(source, &now_) == 0 &&
         (now_.ports.empty() ? count() == 1 : now_.ports.size() == count());
}

bool PulseInputs::is_on(size_t i) const {
  return !now_.muted && (!is_port(i) || now_.ports[i].name == now_.active_port);
}

DWORD PulseInputs::flags(size_t i) {
  bool on = refresh() && is_on(i);
  return on ? types_[i] : types_[i] | BASS_INPUT_OFF;
}

// Only the active port can be switched off, by muting the source; any
// other port is off already.
bool PulseInputs::switch_off(size_t i) {
  if (!refresh())
    return false;
  if (is_port(i) && now_.ports[i].name != now_.active_port)
    return true;
  return now_.muted || connection_.set_source_mute(now_.name, true);
}

bool PulseInputs::switch_on(size_t i) {
  if (!refresh())
    return false;
  if (is_port(i) && now_.ports[i].unavailable) {
    // Switching to it would make the server move its default to another
    // source, and pcmtap would record that instead.
    std::fprintf(stderr,
                 "pcmtap: cannot switch on \"%s\": nothing is plugged in\n",
                 names_[i].c_str());
    return false;
  }
  const SourceState before = now_;
  bool switched = !is_port(i) || now_.ports[i].name == now_.active_port ||
                  connection_.set_source_port(now_.name, now_.ports[i].name);
  if (switched &&
      (!now_.muted || connection_.set_source_mute(now_.name, false)))
    return true;
  // Leave the source as it was found.
  if (switched && !before.active_port.empty())
    connection_.set_source_port(before.name, before.active_port);
  connection_.set_source_mute(before.name, before.muted);
  return false;
}

} // namespace pcmtap
