// Windows' audio sessions as its session manager shows them, for the
// programs' inputs: the sessions that play, an enumerator that may be
// missing (Wine's answers E_NOTIMPL), and process loopbacks that open or
// are refused with the code Windows gives.
#ifndef PCMTAP_TESTS_WINDOWS_FAKE_SESSIONS_H
#define PCMTAP_TESTS_WINDOWS_FAKE_SESSIONS_H

#include "wasapi/session_api.h"

#include <map>

namespace pcmtap {

class FakeSessions final : public SessionApi {
public:
  std::vector<AudioSession> sessions;
  HRESULT sessions_result = S_OK;
  // Processes whose loopback is refused; pcmtap.exe's own, where Windows
  // has no process loopback at all.
  std::map<DWORD, HRESULT> refused;

  HRESULT active_sessions(std::vector<AudioSession> *out) override {
    if (FAILED(sessions_result))
      return sessions_result;
    *out = sessions;
    return S_OK;
  }
  HRESULT try_process(DWORD pid, unsigned, unsigned) override {
    auto found = refused.find(pid);
    return found == refused.end() ? S_OK : found->second;
  }
};

} // namespace pcmtap

#endif
