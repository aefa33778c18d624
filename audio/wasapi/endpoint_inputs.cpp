#include "endpoint_inputs.h"

#include "../engine/input_types.h"
#include "display_text.h"
#include "session_programs.h"
#include "wasapi_errors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace pcmtap {
namespace {

const unsigned kRate = 44100;
const unsigned kChannels = 2;

// Said for a program where none can be recorded alone.
const char kNoProcessLoopback[] =
    "this Windows has no process loopback (Windows 10 build 20348 and later "
    "have it)";

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
    inputs_.push_back({std::move(endpoint), std::move(shown), type, false});
  }
  Endpoint capture;
  if (SUCCEEDED(api_->default_endpoint(eCapture, &capture)))
    default_id_ = capture.id;
  // The type old mixers gave their "stereo mix" line.
  Endpoint render;
  if (SUCCEEDED(api_->default_endpoint(eRender, &render))) {
    std::string shown =
        "What the computer plays (" + display_text(render.name) + ")";
    inputs_.push_back(
        {std::move(render), std::move(shown), BASS_INPUT_TYPE_WAVE, true});
  }
  add_programs();
}

// The programs that play, and the one asked for by name while it does not.
// Where none can be recorded, that one is listed still, to be refused with
// the reason rather than taken for a name no input has.
void EndpointInputs::add_programs() {
  const char *wanted = std::getenv("PCMTAP_PROGRAM");
  const bool asked = wanted && *wanted;
  std::vector<AudioSession> sessions;
  const HRESULT listed =
      sessions_ ? sessions_->active_sessions(&sessions) : S_OK;
  if (!asked && (FAILED(listed) || sessions.empty()))
    return;
  const std::string refusal = program_refusal(listed);
  std::vector<std::string> names;
  if (refusal.empty())
    names = program_names(processes_of(sessions));
  if (asked && std::none_of(names.begin(), names.end(), [&](auto &name) {
        return same_name(name, wanted);
      }))
    names.push_back(wanted);
  for (const std::string &name : names)
    inputs_.push_back({Endpoint(), "What " + name + " plays",
                       BASS_INPUT_TYPE_WAVE, true, name, refusal});
}

// Why no program can be recorded here, or nothing.
std::string EndpointInputs::program_refusal(HRESULT listed) const {
  if (!sessions_)
    return kNoProcessLoopback;
  // Windows before 10 build 20348 has the sessions, and the call, but may
  // not record a process: a stream of pcmtap.exe's own tells.
  HRESULT hr = sessions_->try_process(GetCurrentProcessId(), kRate, kChannels);
  if (FAILED(hr))
    return std::string(kNoProcessLoopback) + ": " + wasapi_error_text(int(hr));
  if (FAILED(listed))
    return std::string("Windows' audio sessions cannot be listed: ") +
           wasapi_error_text(int(listed));
  return {};
}

// A program is followed by its name from the start, whether or not it
// plays, so nothing is asked of its processes here.
bool EndpointInputs::switch_on_program(const Input &input) {
  if (!input.refusal.empty()) {
    std::fprintf(stderr, "pcmtap: what %s plays cannot be recorded: %s\n",
                 input.program.c_str(), input.refusal.c_str());
    return false;
  }
  choice_->id.clear();
  choice_->loopback = true;
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
  if (!input.program.empty())
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
  choice_->program.clear();
  return true;
}

} // namespace pcmtap
