#include "session_programs.h"

#include "../engine/input_types.h"
#include "display_text.h"

#include <algorithm>
#include <cwchar>

namespace pcmtap {
namespace {

bool same_text(const std::wstring &a, const std::wstring &b) {
  return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// A path's last part, the file's name.
std::wstring file_name(const std::wstring &path) {
  return path.substr(path.find_last_of(L"\\/") + 1);
}

std::wstring with_file(const SessionProcess &process) {
  return process.name + L" (" + process.executable + L")";
}

} // namespace

std::vector<SessionProcess>
processes_of(const std::vector<AudioSession> &sessions) {
  std::vector<SessionProcess> processes;
  for (const AudioSession &session : sessions) {
    const std::wstring executable = file_name(session.executable);
    const bool displayed =
        !session.display_name.empty() && session.display_name[0] != L'@';
    auto same = std::find_if(
        processes.begin(), processes.end(),
        [&](const SessionProcess &p) { return p.pid == session.pid; });
    if (same != processes.end()) {
      if (displayed && !same->displayed)
        *same = {session.pid, session.display_name, executable, true};
      continue;
    }
    std::wstring name = displayed ? session.display_name
                        : !executable.empty()
                            ? executable
                            : L"process " + std::to_wstring(session.pid);
    processes.push_back({session.pid, name, executable, displayed});
  }
  return processes;
}

std::vector<std::string>
program_names(const std::vector<SessionProcess> &processes) {
  std::vector<const SessionProcess *> programs;
  for (const SessionProcess &p : processes)
    if (std::none_of(programs.begin(), programs.end(), [&](auto *q) {
          return same_text(q->name, p.name) &&
                 same_text(q->executable, p.executable);
        }))
      programs.push_back(&p);
  std::vector<std::string> names;
  for (const SessionProcess *p : programs) {
    const bool shared =
        std::any_of(programs.begin(), programs.end(), [&](auto *q) {
          return q != p && same_text(q->name, p->name);
        });
    names.push_back(display_text(
        shared && p->displayed && !p->executable.empty() ? with_file(*p)
                                                         : p->name));
  }
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string &a, const std::string &b) {
                     return _stricmp(a.c_str(), b.c_str()) < 0;
                   });
  return names;
}

bool goes_by(const SessionProcess &process, const std::string &name) {
  return same_name(display_text(process.name), name) ||
         (process.displayed && !process.executable.empty() &&
          same_name(display_text(with_file(process)), name));
}

} // namespace pcmtap
