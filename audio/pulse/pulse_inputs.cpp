#include "pulse_inputs.h"

#include "../engine/input_types.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

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

DWORD port_input_type(uint32_t port_type, const std::string &description,
                      const std::string &name) {
  if (DWORD type = type_of_port(port_type))
    return type;
  // The port's own words first: the device's ("... Digital Stereo") say
  // nothing of the port.
  if (DWORD type = input_type_from_name(description.c_str()))
    return type;
  return input_type_from_name(name.c_str());
}

std::vector<std::string>
program_names(const std::vector<ProgramKey> &programs) {
  std::map<std::string, size_t> named;
  for (const ProgramKey &program : programs)
    ++named[program.name];
  std::vector<std::string> names;
  for (const ProgramKey &program : programs)
    names.push_back(named[program.name] > 1 && !program.binary.empty()
                        ? program.name + " (" + program.binary + ")"
                        : program.name);
  return names;
}

bool goes_by(const ProgramKey &program, const std::string &name) {
  return same_name(program.name, name) ||
         (!program.binary.empty() &&
          same_name(program.name + " (" + program.binary + ")", name));
}

PulseInputs::PulseInputs(PulseConnection &connection,
                         std::shared_ptr<PulseChoice> choice)
    : connection_(connection), choice_(std::move(choice)),
      marked_source_(choice_->source) {
  std::vector<SourceState> sources;
  if (connection_.sources(&sources) < 0)
    return;
  // In the order of their names, so that a number means the same input
  // from run to run while the hardware stays: the server's own order is
  // that in which the sources appeared.
  std::sort(sources.begin(), sources.end(),
            [](const SourceState &a, const SourceState &b) {
              return a.name < b.name;
            });
  for (const SourceState &source : sources)
    if (!source.monitor)
      add_source(source);
  // The type old mixers gave their "stereo mix" line.
  std::string sink, monitor;
  if (connection_.default_sink(&sink, &monitor) && !monitor.empty())
    inputs_.push_back({monitor, "", "What the computer plays (" + sink + ")",
                       BASS_INPUT_TYPE_WAVE, true});
  add_programs();
  std::vector<std::string> names;
  for (const Input &input : inputs_)
    names.push_back(input.name);
  make_names_unique(&names);
  for (size_t i = 0; i < inputs_.size(); ++i)
    inputs_[i].name = names[i];
}

// "Microphone (Built-in Audio)": the port, then its device.
void PulseInputs::add_source(const SourceState &source) {
  if (source.ports.empty()) {
    inputs_.push_back({source.name, "", source.device,
                       input_type_from_name(source.device.c_str()), false});
    return;
  }
  for (const SourcePort &port : source.ports) {
    std::string name = port.description + " (" + source.device + ")";
    DWORD type = port_input_type(port.type, port.description, name);
    inputs_.push_back({source.name, port.name, std::move(name), type, false});
  }
}

// One input a program, however many streams it plays, in the order of
// the names, so that the same programs get the same numbers.
void PulseInputs::add_programs() {
  std::vector<PlayingStream> streams;
  std::vector<ClientProgram> clients;
  if (connection_.programs(&streams, &clients) < 0)
    return;
  std::set<ProgramKey> playing;
  for (const PlayingStream &stream : streams)
    playing.insert(stream.program);
  std::vector<ProgramKey> programs(playing.begin(), playing.end());
  std::vector<std::string> names = program_names(programs);
  const char *wanted = std::getenv("PCMTAP_PROGRAM");
  if (wanted && *wanted &&
      std::none_of(names.begin(), names.end(), [&](const std::string &name) {
        return same_name(name, wanted);
      }))
    names.push_back(wanted);
  for (const std::string &name : names) {
    Input input{"", "", "What " + name + " plays", BASS_INPUT_TYPE_WAVE, true};
    input.program = true;
    input.program_name = name;
    inputs_.push_back(std::move(input));
  }
}

// On: the active port of the source a plain run records, while that source
// is not muted.
DWORD PulseInputs::flags(size_t i) {
  const Input &input = inputs_[i];
  SourceState now;
  bool on = !input.monitor && input.source == marked_source_ &&
            connection_.source_state(input.source, &now) == 0 && !now.muted &&
            (input.port.empty() || input.port == now.active_port);
  return on ? input.type : input.type | BASS_INPUT_OFF;
}

bool PulseInputs::switch_on(size_t i) {
  const Input &input = inputs_[i];
  // What the computer plays, or a program, changes nothing on the server.
  if (!input.monitor && !switch_source_on(input))
    return false;
  choice_->program_chosen = input.program;
  if (input.program) {
    choice_->program_name = input.program_name;
  } else {
    choice_->source = input.source;
  }
  return true;
}

// Makes the input's port the active one of its source and unmutes the
// source; on failure the source is left as it was found.
bool PulseInputs::switch_source_on(const Input &input) {
  SourceState before;
  if (connection_.source_state(input.source, &before) < 0) {
    std::fprintf(stderr,
                 "pcmtap: cannot switch on \"%s\": its source is gone\n",
                 input.name.c_str());
    return false;
  }
  auto port =
      std::find_if(before.ports.begin(), before.ports.end(),
                   [&](const SourcePort &p) { return p.name == input.port; });
  if (!input.port.empty() &&
      (port == before.ports.end() || port->unavailable)) {
    // It would record nothing, and the server would move its default to
    // another source.
    std::fprintf(stderr,
                 "pcmtap: cannot switch on \"%s\": nothing is plugged in\n",
                 input.name.c_str());
    return false;
  }
  bool switched = input.port.empty() || input.port == before.active_port ||
                  connection_.set_source_port(input.source, input.port);
  if (switched &&
      (!before.muted || connection_.set_source_mute(input.source, false)))
    return true;
  if (switched && !before.active_port.empty())
    connection_.set_source_port(before.name, before.active_port);
  connection_.set_source_mute(before.name, before.muted);
  return false;
}

} // namespace pcmtap
