// The inputs of the sound server's source: its ports, each with the type
// the server gives it, or the source itself when it has no ports.  An
// input is on when it is the active port of an unmuted source.
#ifndef PCMTAP_AUDIO_PULSE_PULSE_INPUTS_H
#define PCMTAP_AUDIO_PULSE_PULSE_INPUTS_H

#include "../engine/backend.h"
#include "pulse_connection.h"

#include <string>
#include <vector>

namespace pcmtap {

class PulseInputs final : public Inputs {
public:
  // No inputs when the source cannot be read.
  PulseInputs(PulseConnection &connection, const std::string &source);

  size_t count() const override { return names_.size(); }
  const char *name(size_t i) const override { return names_[i].c_str(); }
  DWORD flags(size_t i) override;
  bool switch_off(size_t i) override;
  bool switch_on(size_t i) override;

private:
  bool refresh();
  bool is_on(size_t i) const;
  bool is_port(size_t i) const { return i < now_.ports.size(); }

  PulseConnection &connection_;
  std::vector<std::string> names_;
  std::vector<DWORD> types_;
  SourceState now_;
};

} // namespace pcmtap

#endif
