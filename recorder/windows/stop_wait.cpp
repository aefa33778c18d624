#include "../stop_wait.h"

#include <windows.h>

#include <atomic>
#include <cerrno>

namespace pcmtap {
namespace {

// Manual reset: once set, every later wait sees the stop.  Never closed: the
// reader of standard input may still set it while the process ends.
HANDLE stop_event = nullptr;
std::atomic<int> interrupts{0};
std::atomic<bool> character_read{false};

BOOL WINAPI on_console_event(DWORD event) {
  // The first asks for a clean stop, the second one ends at once.
  if (interrupts.fetch_add(1) > 0)
    ExitProcess(130);
  SetEvent(stop_event);
  // The process ends as soon as this returns from a close: wait here while
  // the capture writes what it has (Windows gives us five seconds).
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
      event == CTRL_SHUTDOWN_EVENT)
    Sleep(INFINITE);
  return TRUE;
}

// A character, the end of input, an error or no standard input at all:
// each one ends the wait.  A console hands on a line once Enter is pressed.
DWORD WINAPI read_input(void *) {
  char c;
  DWORD n = 0;
  BOOL ok = ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, nullptr);
  character_read = ok && n == 1;
  SetEvent(stop_event);
  return 0;
}

} // namespace

StopWait::StopWait() {
  if (!stop_event)
    stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stop_event) {
    error_ = ENOMEM;
    return;
  }
  ResetEvent(stop_event);
  character_read = false;
  interrupts = 0;
  SetConsoleCtrlHandler(on_console_event, TRUE);
  HANDLE reader = CreateThread(nullptr, 0, read_input, nullptr, 0, nullptr);
  if (!reader) {
    error_ = EAGAIN;
    return;
  }
  CloseHandle(reader);
}

StopWait::~StopWait() { SetConsoleCtrlHandler(on_console_event, FALSE); }

void StopWait::recording_ended() { SetEvent(stop_event); }

bool StopWait::wait() {
  WaitForSingleObject(stop_event, INFINITE);
  return character_read;
}

} // namespace pcmtap
