// The programs Windows' audio sessions are, as its volume mixer shows
// them: each process with a session, named by a session's display name
// (unless that is a reference to a resource, "@%SystemRoot%\..."), else by
// the file it runs.  The listing gives one input per program, and a
// program's recording follows the processes that go by its name.
#ifndef PCMTAP_AUDIO_WASAPI_SESSION_PROGRAMS_H
#define PCMTAP_AUDIO_WASAPI_SESSION_PROGRAMS_H

#include "session_api.h"

#include <string>
#include <vector>

namespace pcmtap {

struct SessionProcess {
  DWORD pid;
  std::wstring name;
  std::wstring executable; // the file's name, or empty
  bool displayed;          // named by a session's display name
};

// One per process, in the order of the sessions.
std::vector<SessionProcess>
processes_of(const std::vector<AudioSession> &sessions);
// The programs' names as printed, in their order ignoring case: the
// processes of one name and one file are one program, and two programs of
// one display name get their files' names beside it ("Teams (teams.exe)").
std::vector<std::string>
program_names(const std::vector<SessionProcess> &processes);
// Whether `process` goes by `name`, ignoring case: its name, or its name
// with its file's beside it.
bool goes_by(const SessionProcess &process, const std::string &name);

} // namespace pcmtap

#endif
