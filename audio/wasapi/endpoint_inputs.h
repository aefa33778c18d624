// The inputs on Windows: every recording endpoint that is active or
// unplugged, in the order of their ids, then what the computer plays, a
// loopback of the default playback endpoint, then what each program that
// plays there plays, by its name, and the program asked for by name
// (PCMTAP_PROGRAM, which the front end sets for "What Zoom plays") while
// it plays nothing, to wait for.  Endpoints can all record at
// once, so nothing is ever switched off: switching one on chooses what this
// process records, and unmutes it.  Windows' default endpoint, which the
// '+' marks, is left as the user set it.
#ifndef PCMTAP_AUDIO_WASAPI_ENDPOINT_INPUTS_H
#define PCMTAP_AUDIO_WASAPI_ENDPOINT_INPUTS_H

#include "../engine/backend.h"
#include "endpoint_api.h"
#include "session_api.h"

#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

// What the recording records: the default capture endpoint until an input
// is switched on.
struct EndpointChoice {
  std::wstring id;
  bool loopback = false;
  // A program's: the name its processes are followed by.
  std::string program;
  // One process's stream (a process loopback), as a program's recording
  // opens one for each of its processes.
  DWORD pid = 0;
};

class EndpointInputs final : public Inputs {
public:
  // Unreadable endpoints are left out; the loopback input is there only
  // where there is a default playback endpoint, and the programs that play
  // only where `sessions` (null: none) can record them.
  EndpointInputs(std::shared_ptr<EndpointApi> api,
                 std::shared_ptr<EndpointChoice> choice,
                 std::shared_ptr<SessionApi> sessions = nullptr);

  size_t count() const override { return inputs_.size(); }
  const char *name(size_t i) const override { return inputs_[i].name.c_str(); }
  DWORD flags(size_t i) override;
  bool switch_off(size_t) override { return true; }
  bool switch_on(size_t i) override;

private:
  struct Input {
    Endpoint endpoint;
    std::string name; // as it is printed
    DWORD type;
    bool loopback;
    std::string program = {}; // a program's name alone
    std::string refusal = {}; // why it cannot be recorded, or empty
  };

  void add_programs();
  std::string program_refusal(HRESULT listed) const;
  bool switch_on_program(const Input &input);

  std::shared_ptr<EndpointApi> api_;
  std::shared_ptr<SessionApi> sessions_;
  std::shared_ptr<EndpointChoice> choice_;
  std::vector<Input> inputs_;
  std::wstring default_id_;
};

// The library's type code of a capture endpoint: from its form factor
// where that says what it is, otherwise from the words of its name.
DWORD endpoint_type(EndpointFormFactor form_factor, const char *name);

} // namespace pcmtap

#endif
