// The session calls through Windows' session manager of the default
// playback endpoint.
#include "process_loopback.h"
#include "session_api.h"

#include <audiopolicy.h>

namespace pcmtap {
namespace {

using QueryImageName = BOOL(WINAPI *)(HANDLE, DWORD, LPWSTR, PDWORD);

// The full path of the file `pid` runs; empty where the process may not be
// looked at.  Looked up, since Windows XP, which
// pcmtap.exe records on through winmm, lacks the call.
std::wstring executable_path(DWORD pid) {
  static const QueryImageName query = [] {
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                   "QueryFullProcessImageNameW");
    return reinterpret_cast<QueryImageName>(reinterpret_cast<void *>(found));
  }();
  // PROCESS_QUERY_LIMITED_INFORMATION, which Vista added.
  HANDLE process = query ? OpenProcess(0x1000, FALSE, pid) : nullptr;
  if (!process)
    return {};
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  const bool found = query(process, 0, path, &length) != 0;
  CloseHandle(process);
  if (!found)
    return {};
  return std::wstring(path, length);
}

HRESULT read_session(IAudioSessionControl *control, AudioSession *out) {
  AudioSessionState state = AudioSessionStateInactive;
  HRESULT hr = control->GetState(&state);
  if (FAILED(hr) || state != AudioSessionStateActive)
    return S_FALSE;
  ComRef<IAudioSessionControl2> control2;
  hr = control->QueryInterface(__uuidof(IAudioSessionControl2),
                               control2.put_void());
  if (FAILED(hr))
    return hr;
  // A session of several processes gives the one that made it.
  if (control2->IsSystemSoundsSession() == S_OK ||
      FAILED(control2->GetProcessId(&out->pid)) || out->pid == 0)
    return S_FALSE;
  CoTaskMem<WCHAR> name;
  if (SUCCEEDED(control->GetDisplayName(name.put())) && name.get())
    out->display_name = name.get();
  out->executable = executable_path(out->pid);
  return S_OK;
}

class WindowsSessions final : public SessionApi {
public:
  HRESULT active_sessions(std::vector<AudioSession> *out) override {
    ComRef<IMMDeviceEnumerator> enumerator;
    HRESULT hr =
        CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator), enumerator.put_void());
    ComRef<IMMDevice> device;
    if (SUCCEEDED(hr))
      hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
    ComRef<IAudioSessionManager2> manager;
    if (SUCCEEDED(hr))
      hr = device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL,
                            nullptr, manager.put_void());
    ComRef<IAudioSessionEnumerator> sessions;
    if (SUCCEEDED(hr))
      hr = manager->GetSessionEnumerator(sessions.put());
    int count = 0;
    if (FAILED(hr) || FAILED(hr = sessions->GetCount(&count)))
      return hr;
    for (int i = 0; i < count; ++i) {
      ComRef<IAudioSessionControl> control;
      AudioSession session;
      if (SUCCEEDED(sessions->GetSession(i, control.put())) &&
          read_session(control.get(), &session) == S_OK)
        out->push_back(std::move(session));
    }
    return S_OK;
  }

  HRESULT try_process(DWORD pid, unsigned rate, unsigned channels) override {
    WasapiStream stream;
    return open_process_loopback(pid, rate, channels, &stream);
  }
};

} // namespace

std::unique_ptr<SessionApi> open_session_api() {
  if (!has_process_loopback())
    return nullptr;
  return std::make_unique<WindowsSessions>();
}

} // namespace pcmtap
