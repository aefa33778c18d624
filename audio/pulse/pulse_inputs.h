// The inputs on a sound server, as a desktop's sound settings list them:
// each port of every source that is not a monitor (a source without ports
// is one input), in the order of the sources' names, then what the computer
// plays, the default sink's monitor, and what each program that plays now
// plays, by its name; a program asked for by name (PCMTAP_PROGRAM, which
// the front end sets for "What Zoom plays") is listed too while it plays
// nothing, to wait for.  Sources can all record at once, so
// nothing is ever switched off: switching an input on makes its port the
// active one of its source, unmutes that source and chooses it for this
// run, and leaves the server's default and every other source alone.
#ifndef PCMTAP_AUDIO_PULSE_PULSE_INPUTS_H
#define PCMTAP_AUDIO_PULSE_PULSE_INPUTS_H

#include "../engine/backend.h"
#include "pulse_capture.h"
#include "pulse_connection.h"

#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

class PulseInputs final : public Inputs {
public:
  // No inputs when the server's sources cannot be read; the last input is
  // there only where there is a default sink.  The '+' marks the active
  // port of the source `choice` names now, while it is not muted.
  PulseInputs(PulseConnection &connection, std::shared_ptr<PulseChoice> choice);

  size_t count() const override { return inputs_.size(); }
  const char *name(size_t i) const override { return inputs_[i].name.c_str(); }
  DWORD flags(size_t i) override;
  bool switch_off(size_t) override { return true; }
  bool switch_on(size_t i) override;

private:
  struct Input {
    std::string source;
    std::string port; // empty: the source has none
    std::string name; // as it is printed
    DWORD type;
    bool monitor; // what the computer plays, or a program
    bool program = false;
    std::string program_name = {};
  };

  void add_source(const SourceState &source);
  void add_programs();
  bool switch_source_on(const Input &input);

  PulseConnection &connection_;
  std::shared_ptr<PulseChoice> choice_;
  std::vector<Input> inputs_;
  std::string marked_source_;
};

// The library's type code of a port: from the port type the server gives
// (PulseAudio 14 and later), otherwise from the words of `description`,
// then of `name`.
DWORD port_input_type(uint32_t port_type, const std::string &description,
                      const std::string &name);
// What the sound settings call each program, in the order of `programs`:
// its name, with its binary after it where two share a name.
std::vector<std::string> program_names(const std::vector<ProgramKey> &programs);
// Whether `program` goes by `name`, ignoring case: its name, or its name
// with its binary after it.
bool goes_by(const ProgramKey &program, const std::string &name);

} // namespace pcmtap

#endif
