// The inputs made of Windows' endpoints, and the choice of backend, over a
// fake enumeration: Wine fixes every form factor, so only a fake shows
// the type table at work.
#include "fake_endpoints.h"
#include "fake_sessions.h"
#include "wasapi/endpoint_inputs.h"
#include "windows/choose_backend.h"
#include "winmm/winmm_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace pcmtap {
namespace {

Endpoint endpoint(const wchar_t *id, const wchar_t *name,
                  EndpointFormFactor form, bool unplugged = false) {
  return {id, name, form, unplugged};
}

// Catches a form factor mapped to the wrong type, one that says nothing
// taking precedence over the name, and the name's words ignored.
TEST(EndpointInputs, TypesFromTheFormFactorThenTheName) {
  EXPECT_EQ(endpoint_type(Microphone, "Line"), BASS_INPUT_TYPE_MIC);
  EXPECT_EQ(endpoint_type(Headset, ""), BASS_INPUT_TYPE_MIC);
  EXPECT_EQ(endpoint_type(Handset, ""), BASS_INPUT_TYPE_MIC);
  EXPECT_EQ(endpoint_type(LineLevel, "Mic"), BASS_INPUT_TYPE_LINE);
  EXPECT_EQ(endpoint_type(SPDIF, ""), BASS_INPUT_TYPE_DIGITAL);
  EXPECT_EQ(endpoint_type(DigitalAudioDisplayDevice, ""),
            BASS_INPUT_TYPE_DIGITAL);
  EXPECT_EQ(endpoint_type(UnknownDigitalPassthrough, ""),
            BASS_INPUT_TYPE_DIGITAL);
  EXPECT_EQ(endpoint_type(UnknownFormFactor, "CD Audio"), BASS_INPUT_TYPE_CD);
  EXPECT_EQ(endpoint_type(Speakers, "Stereo Mix"), BASS_INPUT_TYPE_UNDEF);
}

struct Endpoints {
  std::shared_ptr<FakeEndpoints> fake = std::make_shared<FakeEndpoints>();
  std::shared_ptr<EndpointChoice> choice = std::make_shared<EndpointChoice>();
  Endpoints() {
    fake->capture = {endpoint(L"mic", L"Microphone Array", Microphone),
                     endpoint(L"rear-line", L"Line In", LineLevel, true),
                     endpoint(L"usb", L"USB Headset", Headset)};
    fake->default_capture = L"mic";
    choice->id = L"mic";
  }
};

// Catches the loopback input missing or typed as its endpoint, the '+' on
// a muted or a non-default endpoint, and an unplugged endpoint listed on.
TEST(EndpointInputs, ListsEndpointsThenWhatTheComputerPlays) {
  Endpoints s;
  s.fake->muted[L"usb"] = true;
  EndpointInputs inputs(s.fake, s.choice);
  ASSERT_EQ(inputs.count(), 4u);
  EXPECT_STREQ(inputs.name(2), "USB Headset");
  EXPECT_STREQ(inputs.name(3), "What the computer plays (Speakers)");
  EXPECT_EQ(inputs.flags(0), BASS_INPUT_TYPE_MIC);
  EXPECT_EQ(inputs.flags(1), BASS_INPUT_TYPE_LINE | BASS_INPUT_OFF);
  EXPECT_EQ(inputs.flags(2), BASS_INPUT_TYPE_MIC | BASS_INPUT_OFF);
  EXPECT_EQ(inputs.flags(3), BASS_INPUT_TYPE_WAVE | BASS_INPUT_OFF);
  s.fake->muted[L"mic"] = true;
  EXPECT_EQ(inputs.flags(0), BASS_INPUT_TYPE_MIC | BASS_INPUT_OFF);

  s.fake->has_render = false;
  EXPECT_EQ(EndpointInputs(s.fake, s.choice).count(), 3u);
  // The same numbers however the enumerator orders the endpoints.
  std::reverse(s.fake->capture.begin(), s.fake->capture.end());
  EXPECT_STREQ(EndpointInputs(s.fake, s.choice).name(2), "USB Headset");
}

// Catches an unplugged endpoint chosen, a muted one recorded as silence,
// a refused loopback chosen anyway, and Windows' default changed.
TEST(EndpointInputs, SwitchingOnChoosesAndUnmutes) {
  Endpoints s;
  s.fake->muted[L"usb"] = true;
  EndpointInputs inputs(s.fake, s.choice);
  EXPECT_TRUE(inputs.switch_off(0));
  EXPECT_FALSE(inputs.switch_on(1));
  EXPECT_EQ(s.choice->id, L"mic");
  EXPECT_FALSE(inputs.switch_on(3));
  EXPECT_EQ(s.choice->id, L"mic");

  EXPECT_TRUE(inputs.switch_on(2));
  EXPECT_EQ(s.choice->id, L"usb");
  EXPECT_FALSE(s.choice->loopback);
  EXPECT_FALSE(s.fake->muted[L"usb"]);
  EXPECT_EQ(s.fake->default_capture, L"mic");

  s.fake->loopback_result = S_OK;
  EXPECT_TRUE(inputs.switch_on(3));
  EXPECT_EQ(s.choice->id, L"render");
  EXPECT_TRUE(s.choice->loopback);
}

// Catches the '+' taken off Windows' default where its mute switch cannot
// be read (an endpoint without a volume control), and such an endpoint
// refused when it is switched on.
TEST(EndpointInputs, AMuteThatCannotBeReadLeavesTheDefaultOn) {
  Endpoints s;
  s.fake->mute_read_result = E_NOINTERFACE;
  EndpointInputs inputs(s.fake, s.choice);
  EXPECT_EQ(inputs.flags(0), BASS_INPUT_TYPE_MIC);
  EXPECT_EQ(inputs.flags(2), BASS_INPUT_TYPE_MIC | BASS_INPUT_OFF);
  EXPECT_TRUE(inputs.switch_on(2));
  EXPECT_EQ(s.choice->id, L"usb");
}

// Catches a failed unmute taken for success (the muted endpoint recorded
// as silence), a refusal that does not say which input, and a refusal
// that changes the choice, a mute switch or Windows' default anyway.
TEST(EndpointInputs, AFailedUnmuteRefusesTheInputAndChangesNothing) {
  Endpoints s;
  s.fake->muted[L"usb"] = true;
  s.fake->mute_set_result = E_ACCESSDENIED;
  EndpointInputs inputs(s.fake, s.choice);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(inputs.switch_on(2));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("pcmtap: cannot unmute \"USB Headset\": ", 0), 0u) << err;
  EXPECT_EQ(s.choice->id, L"mic");
  EXPECT_TRUE(s.fake->muted[L"usb"]);
  EXPECT_FALSE(s.fake->muted[L"mic"]);
  EXPECT_EQ(s.fake->default_capture, L"mic");
  EXPECT_EQ(inputs.flags(0), BASS_INPUT_TYPE_MIC);
}

// The programs that play, each a session or more of one process.
struct Programs : Endpoints {
  std::shared_ptr<FakeSessions> sessions = std::make_shared<FakeSessions>();
  Programs() {
    sessions->sessions = {
        {10, L"", L"firefox.exe"},
        {10, L"Firefox", L"firefox.exe"},
        {20, L"@%SystemRoot%\\System32\\AudioSrv.Dll,-202", L"svchost.exe"},
        {30, L"Teams", L"teams.exe"},
        {31, L"Teams", L"ms-teams.exe"},
        {41, L"", L"chrome.exe"},
        {40, L"", L"chrome.exe"},
        {50, L"", L""}};
  }
  std::vector<std::string> names() const {
    EndpointInputs inputs(fake, choice, sessions);
    std::vector<std::string> out;
    for (size_t i = 0; i < inputs.count(); ++i)
      out.push_back(inputs.name(i));
    return out;
  }
};

// Catches a program listed once per session, named by a resource
// reference or by nothing, two programs of one name told apart by nothing
// or by their process ids (which change from run to run), numbers that
// follow the sessions' order, and a program listed as on.
TEST(ProgramInputs, OnePerProcessAfterWhatTheComputerPlaysByName) {
  Programs s;
  const std::vector<std::string> expected = {
      "Microphone Array",
      "Line In",
      "USB Headset",
      "What the computer plays (Speakers)",
      "What chrome.exe plays",
      "What chrome.exe 2 plays",
      "What Firefox plays",
      "What process 50 plays",
      "What svchost.exe plays",
      "What Teams (ms-teams.exe) plays",
      "What Teams (teams.exe) plays"};
  EXPECT_EQ(s.names(), expected);
  std::reverse(s.sessions->sessions.begin(), s.sessions->sessions.end());
  EXPECT_EQ(s.names(), expected);
  EndpointInputs inputs(s.fake, s.choice, s.sessions);
  for (size_t i = 4; i < inputs.count(); ++i)
    EXPECT_EQ(inputs.flags(i), BASS_INPUT_TYPE_WAVE | BASS_INPUT_OFF) << i;
}

// Where they could not be recorded they are not listed: no session
// manager (Wine's enumerator answers E_NOTIMPL), no process loopback
// (Windows before 10 build 20348 refuses even pcmtap.exe's own), or no
// process loopback call at all.  Catches programs listed there anyway.
TEST(ProgramInputs, AbsentWhereTheyCannotBeRecorded) {
  Programs wine;
  wine.sessions->sessions_result = E_NOTIMPL;
  EXPECT_EQ(wine.names().size(), 4u);
  Programs old;
  old.sessions->refused[GetCurrentProcessId()] = E_INVALIDARG;
  EXPECT_EQ(old.names().size(), 4u);
  Programs none;
  EXPECT_EQ(EndpointInputs(none.fake, none.choice).count(), 4u);
}

// Catches a program's input recording an endpoint, or its pid, a refused
// one chosen anyway or refused without saying which, and an endpoint
// switched on after it still recording the program.
TEST(ProgramInputs, SwitchingOnChoosesTheProcess) {
  Programs s;
  s.sessions->refused[40] = E_ACCESSDENIED;
  EndpointInputs inputs(s.fake, s.choice, s.sessions);
  ASSERT_STREQ(inputs.name(6), "What Firefox plays");
  EXPECT_TRUE(inputs.switch_on(6));
  EXPECT_EQ(s.choice->pid, 10u);
  EXPECT_TRUE(s.choice->loopback);
  EXPECT_EQ(s.choice->program, "Firefox");

  testing::internal::CaptureStderr();
  EXPECT_FALSE(inputs.switch_on(4));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("pcmtap: what chrome.exe plays cannot be recorded: ", 0),
            0u)
      << err;
  EXPECT_EQ(s.choice->pid, 10u);

  EXPECT_TRUE(inputs.switch_on(2));
  EXPECT_EQ(s.choice->id, L"usb");
  EXPECT_EQ(s.choice->pid, 0u);
  EXPECT_FALSE(s.choice->loopback);
}

bool is_winmm(const std::unique_ptr<Backend> &backend) {
  return dynamic_cast<WinmmBackend *>(backend.get()) != nullptr;
}

// Catches a missing MMDevice API or a refused format taken for a working
// WASAPI, and PCMTAP_AUDIO ignored.
TEST(ChooseBackend, FallsBackToWinmm) {
  auto with = [](HRESULT stream, bool api) {
    return [=](HRESULT *why) -> std::unique_ptr<EndpointApi> {
      if (!api) {
        *why = REGDB_E_CLASSNOTREG;
        return nullptr;
      }
      Endpoints s;
      s.fake->stream_result = stream;
      return std::make_unique<FakeEndpoints>(*s.fake);
    };
  };
  auto good = choose_windows_backend(nullptr, with(S_OK, true));
  ASSERT_TRUE(good);
  EXPECT_FALSE(is_winmm(good));
  EXPECT_TRUE(is_winmm(choose_windows_backend(
      nullptr, with(AUDCLNT_E_UNSUPPORTED_FORMAT, true))));
  EXPECT_TRUE(is_winmm(choose_windows_backend(nullptr, with(S_OK, false))));
  EXPECT_TRUE(is_winmm(choose_windows_backend("winmm", with(S_OK, true))));
  EXPECT_FALSE(choose_windows_backend("wasapi", with(S_OK, false)));
  EXPECT_FALSE(choose_windows_backend("alsa", with(S_OK, true)));
}

} // namespace
} // namespace pcmtap
