// The audio sessions of the default playback endpoint, and whether what
// one process plays can be recorded, one method each, so that a test can
// stand in for Windows' session manager as EndpointApi stands in for its
// enumerator.
#ifndef PCMTAP_AUDIO_WASAPI_SESSION_API_H
#define PCMTAP_AUDIO_WASAPI_SESSION_API_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace pcmtap {

struct AudioSession {
  DWORD pid = 0;
  std::wstring display_name; // empty where the program set none
  std::wstring executable;   // the file's full path, or empty
};

class SessionApi {
public:
  virtual ~SessionApi() = default;

  // The sessions that play now (active), the system sounds' left out.
  virtual HRESULT active_sessions(std::vector<AudioSession> *out) = 0;
  // Whether a process loopback of `pid` and its children gives a stream
  // of 16-bit samples at this rate and channel count; nothing is recorded.
  virtual HRESULT try_process(DWORD pid, unsigned rate, unsigned channels) = 0;
};

// Windows' session manager; null where Windows has no process loopback to
// record a session's process with (mmdevapi.dll without
// ActivateAudioInterfaceAsync).
std::unique_ptr<SessionApi> open_session_api();

} // namespace pcmtap

#endif
