#include "endpoint_inputs.h"

#include "../engine/input_types.h"
#include "display_text.h"
#include "wasapi_errors.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace pcmtap {
namespace {

const unsigned kRate = 44100;
const unsigned kChannels = 2;

struct Program {
  DWORD pid;
  std::wstring name;
  std::wstring executable;
  bool displayed; // named by a session's display name
};

bool same_name(const std::wstring &a, const std::wstring &b) {
  return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// A path's last part, the file's name.
std::wstring file_name(const std::wstring &path) {
  return path.substr(path.find_last_of(L"\\/") + 1);
}

// One program per process, named as Windows' volume mixer names it: by a
// session's display name (unless that is a reference to a resource,
// "@%SystemRoot%\..."), else by the file it runs.  Two alike get the
// file's name beside, then a number, in the order of their names and
// then of their processes, so that the same programs get the same
// numbers.
std::vector<Program> programs_of(const std::vector<AudioSession> &sessions) {
  std::vector<Program> programs;
  for (const AudioSession &session : sessions) {
    const std::wstring executable = file_name(session.executable);
    const bool displayed =
        !session.display_name.empty() && session.display_name[0] != L'@';
    auto same =
        std::find_if(programs.begin(), programs.end(),
                     [&](const Program &p) { return p.pid == session.pid; });
    if (same != programs.end()) {
      if (displayed && !same->displayed)
        *same = {session.pid, session.display_name, executable, true};
      continue;
    }
    std::wstring name = displayed ? session.display_name
                        : !executable.empty()
                            ? executable
                            : L"process " + std::to_wstring(session.pid);
    programs.push_back({session.pid, name, executable, displayed});
  }
  std::vector<bool> repeated(programs.size());
  for (size_t i = 0; i < programs.size(); ++i)
    for (size_t j = 0; j < programs.size(); ++j)
      repeated[i] = repeated[i] ||
                    (i != j && same_name(programs[i].name, programs[j].name));
  for (size_t i = 0; i < programs.size(); ++i)
    if (repeated[i] && programs[i].displayed && !programs[i].executable.empty())
      programs[i].name += L" (" + programs[i].executable + L")";
  std::sort(programs.begin(), programs.end(),
            [](const Program &a, const Program &b) {
              const int order = _wcsicmp(a.name.c_str(), b.name.c_str());
              return order != 0 ? order < 0 : a.pid < b.pid;
            });
  for (size_t i = 1, alike = 1; i < programs.size(); ++i) {
    alike =
        same_name(programs[i].name, programs[i - alike].name) ? alike + 1 : 1;
    if (alike > 1)
      programs[i].name += L" " + std::to_wstring(alike);
  }
  return programs;
}

} // namespace

DWORD endpoint_type(EndpointFormFactor form_factor, const char *name) {
  switch (form_factor) {
  case Microphone:
  case Headset:
  case Handset:
    return BASS_INPUT_TYPE_MIC;
  case LineLevel:
    return BASS_INPUT_TYPE_LINE;
  case SPDIF:
  case DigitalAudioDisplayDevice:
  case UnknownDigitalPassthrough:
    return BASS_INPUT_TYPE_DIGITAL;
  default:
    return input_type_from_name(name);
  }
}

EndpointInputs::EndpointInputs(std::shared_ptr<EndpointApi> api,
                               std::shared_ptr<EndpointChoice> choice,
                               std::shared_ptr<SessionApi> sessions)
    : api_(std::move(api)), sessions_(std::move(sessions)),
      choice_(std::move(choice)) {
  std::vector<Endpoint> endpoints;
  api_->capture_endpoints(&endpoints);
  // In the order of their ids, Windows' own, so that a number means the
  // same endpoint in every run: Wine's enumerator gives another order in
  // the first process that sees an endpoint than in every one after.
  std::sort(endpoints.begin(), endpoints.end(),
            [](const Endpoint &a, const Endpoint &b) { return a.id < b.id; });
  for (Endpoint &endpoint : endpoints) {
    std::string shown = display_text(endpoint.name);
    DWORD type = endpoint_type(endpoint.form_factor, shown.c_str());
    inputs_.push_back(
        {std::move(endpoint), std::move(shown), type, false, 0, {}});
  }
  Endpoint capture;
  if (SUCCEEDED(api_->default_endpoint(eCapture, &capture)))
    default_id_ = capture.id;
  // The type old mixers gave their "stereo mix" line.
  Endpoint render;
  if (SUCCEEDED(api_->default_endpoint(eRender, &render))) {
    std::string shown =
        "What the computer plays (" + display_text(render.name) + ")";
    inputs_.push_back({std::move(render),
                       std::move(shown),
                       BASS_INPUT_TYPE_WAVE,
                       true,
                       0,
                       {}});
  }
  add_programs();
}

void EndpointInputs::add_programs() {
  std::vector<AudioSession> sessions;
  if (!sessions_ || FAILED(sessions_->active_sessions(&sessions)) ||
      sessions.empty())
    return;
  // Windows before 10 build 20348 has the sessions, and the call, but may
  // not record a process: a stream of pcmtap.exe's own tells.
  if (FAILED(sessions_->try_process(GetCurrentProcessId(), kRate, kChannels)))
    return;
  for (const Program &p : programs_of(sessions)) {
    std::string program = display_text(p.name);
    inputs_.push_back({Endpoint(), "What " + program + " plays",
                       BASS_INPUT_TYPE_WAVE, true, p.pid, program});
  }
}

bool EndpointInputs::switch_on_program(const Input &input) {
  // Asked now, as for what the computer plays; a program that has gone
  // since the listing is refused here.
  HRESULT hr = sessions_->try_process(input.pid, kRate, kChannels);
  if (FAILED(hr)) {
    std::fprintf(stderr, "pcmtap: what %s plays cannot be recorded: %s\n",
                 input.program.c_str(), wasapi_error_text(int(hr)));
    return false;
  }
  choice_->id.clear();
  choice_->loopback = true;
  choice_->pid = input.pid;
  choice_->program = input.program;
  return true;
}

// On: the default capture endpoint, while it is not muted.
DWORD EndpointInputs::flags(size_t i) {
  const Input &input = inputs_[i];
  bool muted = false;
  bool on = !input.loopback && input.endpoint.id == default_id_ &&
            (FAILED(api_->get_mute(input.endpoint.id, &muted)) || !muted);
  return on ? input.type : input.type | BASS_INPUT_OFF;
}

bool EndpointInputs::switch_on(size_t i) {
  const Input &input = inputs_[i];
  if (input.pid != 0)
    return switch_on_program(input);
  if (input.endpoint.unplugged) {
    std::fprintf(stderr,
                 "pcmtap: cannot switch on \"%s\": nothing is plugged in\n",
                 input.name.c_str());
    return false;
  }
  if (input.loopback) {
    // Asked now, so that a refusal is said before anything starts.
    HRESULT hr = api_->try_stream(input.endpoint.id, true, kRate, kChannels);
    if (FAILED(hr)) {
      std::fprintf(stderr,
                   "pcmtap: what the computer plays cannot be recorded "
                   "here: %s\n",
                   wasapi_error_text(int(hr)));
      return false;
    }
  } else {
    // Where Windows offers no mute (a stub), there is nothing to undo.
    bool muted = false;
    if (SUCCEEDED(api_->get_mute(input.endpoint.id, &muted)) && muted) {
      HRESULT hr = api_->set_mute(input.endpoint.id, false);
      if (FAILED(hr)) {
        std::fprintf(stderr, "pcmtap: cannot unmute \"%s\": %s\n",
                     input.name.c_str(), wasapi_error_text(int(hr)));
        return false;
      }
    }
  }
  choice_->id = input.endpoint.id;
  choice_->loopback = input.loopback;
  choice_->pid = 0;
  choice_->program.clear();
  return true;
}

} // namespace pcmtap
