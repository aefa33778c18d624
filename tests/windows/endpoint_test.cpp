// The inputs made of Windows' endpoints, and the choice of backend, over a
// fake enumeration: Wine fixes every form factor, so only a fake shows
// the type table at work.
#include "fake_endpoints.h"
#include "fake_sessions.h"
#include "wasapi/endpoint_inputs.h"
#include "wasapi/process_loopback.h"
#include "wasapi/wasapi_errors.h"
#include "windows/choose_backend.h"
#include "winmm/winmm_backend.h"

#include <gtest/gtest.h>

#include <functiondiscoverykeys_devpkey.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

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

// The programs that play, each a session or more of one process, with the
// paths Windows gives.  No id is a multiple of 4, as every id Windows gives
// is: none may be the test's own process, which pcmtap.exe asks about first
// (a fresh Wine server gives two programs started at once 32 and 40).
struct Programs : Endpoints {
  std::shared_ptr<FakeSessions> sessions = std::make_shared<FakeSessions>();
  Programs() {
    const std::wstring chrome =
        L"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe";
    const std::wstring firefox =
        L"C:\\Program Files\\Mozilla Firefox\\firefox.exe";
    sessions->sessions = {
        {10, L"", firefox},
        {10, L"Firefox", firefox},
        {22, L"@%SystemRoot%\\System32\\AudioSrv.Dll,-202",
         L"C:\\Windows\\System32\\svchost.exe"},
        {30, L"Teams", L"C:\\Program Files\\Teams\\teams.exe"},
        {31, L"Teams", L"C:\\Program Files\\WindowsApps\\ms-teams.exe"},
        {41, L"", chrome},
        {39, L"", chrome},
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

// Catches a program listed once per session or per process (chrome.exe's
// two), named by a resource reference, by nothing, or by its executable's
// path (or a separator left before the file's name), two programs of one
// name told apart by nothing or by their process ids (which change from
// run to run), numbers that follow the sessions' order, a program listed
// as on, and one asked for by name (PCMTAP_PROGRAM) that plays listed
// twice.
TEST(ProgramInputs, OnePerProgramAfterWhatTheComputerPlaysByName) {
  Programs s;
  const std::vector<std::string> expected = {
      "Microphone Array",
      "Line In",
      "USB Headset",
      "What the computer plays (Speakers)",
      "What chrome.exe plays",
      "What Firefox plays",
      "What process 50 plays",
      "What svchost.exe plays",
      "What Teams (ms-teams.exe) plays",
      "What Teams (teams.exe) plays"};
  EXPECT_EQ(s.names(), expected);
  std::reverse(s.sessions->sessions.begin(), s.sessions->sessions.end());
  putenv(const_cast<char *>("PCMTAP_PROGRAM=FIREFOX"));
  EXPECT_EQ(s.names(), expected);
  putenv(const_cast<char *>("PCMTAP_PROGRAM="));
  EndpointInputs inputs(s.fake, s.choice, s.sessions);
  for (size_t i = 4; i < inputs.count(); ++i)
    EXPECT_EQ(inputs.flags(i), BASS_INPUT_TYPE_WAVE | BASS_INPUT_OFF) << i;
}

// Where programs cannot be recorded, those that play are not listed: no
// session manager (Wine's enumerator answers E_NOTIMPL), no process
// loopback (Windows before 10 build 20348 refuses even pcmtap.exe's own),
// or no process loopback call at all.  The one asked for by name is, to be
// refused with the reason.  Catches programs listed there anyway, the one
// asked for left out (and its name taken for one no input has, recording
// input 0), chosen, or refused without the reason.
TEST(ProgramInputs, WhereNoneCanBeRecordedTheOneAskedForIsRefused) {
  const std::string no_loopback = "this Windows has no process loopback "
                                  "(Windows 10 build 20348 and later have it)";
  Programs wine, old, none;
  wine.sessions->sessions_result = E_NOTIMPL;
  old.sessions->refused[GetCurrentProcessId()] = E_INVALIDARG;
  none.sessions = nullptr;
  const std::pair<Programs *, std::string> cases[] = {
      {&wine, std::string("Windows' audio sessions cannot be listed: ") +
                  wasapi_error_text(int(E_NOTIMPL))},
      {&old, no_loopback + ": " + wasapi_error_text(int(E_INVALIDARG))},
      {&none, no_loopback}};
  for (auto &[s, reason] : cases) {
    SCOPED_TRACE(reason);
    EXPECT_EQ(s->names().size(), 4u);
    putenv(const_cast<char *>("PCMTAP_PROGRAM=Zoom"));
    EndpointInputs inputs(s->fake, s->choice, s->sessions);
    putenv(const_cast<char *>("PCMTAP_PROGRAM="));
    ASSERT_EQ(inputs.count(), 5u);
    EXPECT_STREQ(inputs.name(4), "What Zoom plays");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(inputs.switch_on(4));
    std::string err = testing::internal::GetCapturedStderr();
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    EXPECT_EQ(err,
              "pcmtap: what Zoom plays cannot be recorded: " + reason + "\n");
    EXPECT_EQ(s->choice->id, L"mic");
    EXPECT_TRUE(s->choice->program.empty());
  }
}

// Catches a program's input recording an endpoint, or one process of it
// rather than its name, the program asked for by name not listed while it
// plays nothing, or not chosen, and an endpoint switched on after it still
// recording the program.
TEST(ProgramInputs, SwitchingOnChoosesTheProgramByItsName) {
  Programs s;
  putenv(const_cast<char *>("PCMTAP_PROGRAM=Zoom"));
  EndpointInputs inputs(s.fake, s.choice, s.sessions);
  putenv(const_cast<char *>("PCMTAP_PROGRAM="));
  ASSERT_EQ(inputs.count(), 11u);
  ASSERT_STREQ(inputs.name(5), "What Firefox plays");
  EXPECT_TRUE(inputs.switch_on(5));
  EXPECT_EQ(s.choice->program, "Firefox");
  EXPECT_TRUE(s.choice->loopback);
  ASSERT_STREQ(inputs.name(10), "What Zoom plays");
  EXPECT_TRUE(inputs.switch_on(10));
  EXPECT_EQ(s.choice->program, "Zoom");

  EXPECT_TRUE(inputs.switch_on(2));
  EXPECT_EQ(s.choice->id, L"usb");
  EXPECT_TRUE(s.choice->program.empty());
  EXPECT_FALSE(s.choice->loopback);
}

// What ActivateAudioInterfaceAsync was last asked for: the device, and the
// activation parameters as DWORDs (the type, the process, the mode).
std::wstring activated_device;
std::vector<DWORD> activation_params;

HRESULT WINAPI refuse_activation(LPCWSTR device, REFIID, PROPVARIANT *params,
                                 IActivateAudioInterfaceCompletionHandler *,
                                 IActivateAudioInterfaceAsyncOperation **) {
  activated_device = device;
  if (params && params->vt == VT_BLOB) {
    const auto *words = reinterpret_cast<DWORD *>(params->blob.pBlobData);
    activation_params.assign(words, words + params->blob.cbSize / 4);
  }
  return E_ACCESSDENIED;
}

// Whether a program can be recorded is asked of the call itself: a process
// loopback (1) of that process, including the processes it started (0), as
// Windows documents the parameters.  Catches a loopback of everything but
// the program, of another process, or of the endpoint, and a refusal taken
// for a yes.
TEST(ProgramInputs, AskWindowsForTheProcessAndWhatItStarted) {
  activate_process_loopbacks_through(refuse_activation);
  std::unique_ptr<SessionApi> api = open_session_api();
  ASSERT_TRUE(api);
  EXPECT_EQ(api->try_process(1234, 44100, 2), E_ACCESSDENIED);
  EXPECT_EQ(activated_device, L"VAD\\Process_Loopback");
  EXPECT_EQ(activation_params, (std::vector<DWORD>{1, 1234, 0}));
}

// Windows' enumerator stood in for by a class object registered in this
// process, which CoCreateInstance finds first: endpoints in every state,
// each listed only where the state mask asks for it, as Windows does.
template <class Interface> class ComObject : public Interface {
public:
  virtual ~ComObject() = default;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0)
      delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (iid != __uuidof(IUnknown) && iid != __uuidof(Interface)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = this;
    return S_OK;
  }

private:
  std::atomic<ULONG> refs_{1};
};

struct DeviceState {
  const wchar_t *id, *name;
  DWORD state;
};

wchar_t *co_string(const wchar_t *s) {
  const size_t bytes = (std::wcslen(s) + 1) * sizeof(wchar_t);
  return static_cast<wchar_t *>(std::memcpy(CoTaskMemAlloc(bytes), s, bytes));
}

class NamedDevice final : public ComObject<IMMDevice>,
                          public ComObject<IPropertyStore> {
public:
  explicit NamedDevice(DeviceState d) : d_(d) {}
  IMMDevice *device() { return static_cast<ComObject<IMMDevice> *>(this); }
  HRESULT STDMETHODCALLTYPE Activate(REFIID, DWORD, PROPVARIANT *,
                                     void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD,
                                              IPropertyStore **out) override {
    static_cast<ComObject<IPropertyStore> *>(this)->AddRef();
    *out = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR *out) override {
    *out = co_string(d_.id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD *out) override {
    *out = d_.state;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD *n) override {
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY *key) override {
    *key = PKEY_Device_FriendlyName;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key,
                                     PROPVARIANT *value) override {
    PropVariantInit(value);
    if (key.fmtid == PKEY_Device_FriendlyName.fmtid &&
        key.pid == PKEY_Device_FriendlyName.pid) {
      value->vt = VT_LPWSTR;
      value->pwszVal = co_string(d_.name);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override {
    return E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_ACCESSDENIED; }
  // One count for both faces.
  ULONG STDMETHODCALLTYPE AddRef() override {
    return ComObject<IMMDevice>::AddRef();
  }
  ULONG STDMETHODCALLTYPE Release() override {
    return ComObject<IMMDevice>::Release();
  }

private:
  DeviceState d_;
};

class Devices final : public ComObject<IMMDeviceCollection> {
public:
  explicit Devices(std::vector<DeviceState> d) : d_(std::move(d)) {}
  HRESULT STDMETHODCALLTYPE GetCount(UINT *n) override {
    *n = UINT(d_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT i, IMMDevice **out) override {
    if (i >= d_.size())
      return E_INVALIDARG;
    *out = (new NamedDevice(d_[i]))->device();
    return S_OK;
  }

private:
  std::vector<DeviceState> d_;
};

const std::vector<DeviceState> kDeviceStates = {
    {L"{1}", L"Microphone", DEVICE_STATE_ACTIVE},
    {L"{2}", L"Line In", DEVICE_STATE_UNPLUGGED},
    {L"{3}", L"Old Webcam", DEVICE_STATE_NOTPRESENT},
    {L"{4}", L"USB Headset", DEVICE_STATE_ACTIVE}};

class Enumerator final : public ComObject<IMMDeviceEnumerator> {
public:
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(
      EDataFlow flow, DWORD mask, IMMDeviceCollection **out) override {
    std::vector<DeviceState> listed;
    for (const DeviceState &d : kDeviceStates)
      if (flow == eCapture && (d.state & mask))
        listed.push_back(d);
    *out = new Devices(listed);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole,
                                                    IMMDevice **out) override {
    *out = nullptr;
    return E_NOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice **out) override {
    for (const DeviceState &d : kDeviceStates)
      if (std::wcscmp(d.id, id) == 0) {
        *out = (new NamedDevice(d))->device();
        return S_OK;
      }
    *out = nullptr;
    return E_NOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE
  RegisterEndpointNotificationCallback(IMMNotificationClient *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterEndpointNotificationCallback(IMMNotificationClient *) override {
    return E_NOTIMPL;
  }
};

class EnumeratorClass final : public ComObject<IClassFactory> {
public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *, REFIID iid,
                                           void **out) override {
    Enumerator *e = new Enumerator;
    HRESULT hr = e->QueryInterface(iid, out);
    e->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Catches an unplugged endpoint left out of Windows' enumeration, which
// renumbers the inputs after it once it is plugged in, or taken for a
// plugged one and chosen; and one that is not there listed.
TEST(MmDeviceApi, ListsAnUnpluggedEndpointAndRefusesIt) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  EnumeratorClass *factory = new EnumeratorClass;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_MMDeviceEnumerator, factory,
                                  CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &cookie),
            S_OK);
  HRESULT why = S_OK;
  std::shared_ptr<EndpointApi> api = open_endpoint_api(&why);
  ASSERT_TRUE(api) << why;
  auto choice = std::make_shared<EndpointChoice>();
  EndpointInputs inputs(api, choice);
  ASSERT_EQ(inputs.count(), 3u);
  EXPECT_STREQ(inputs.name(1), "Line In");
  EXPECT_STREQ(inputs.name(2), "USB Headset");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(inputs.switch_on(1));
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("\"Line In\": nothing is plugged in"), std::string::npos)
      << said;
  EXPECT_TRUE(choice->id.empty());
  CoRevokeClassObject(cookie);
  factory->Release();
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
