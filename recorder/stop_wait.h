// The one wait of a capture: for a character (or the end) on standard input,
// an interrupt (SIGINT or SIGTERM; on Windows Ctrl+C, Ctrl+Break or the
// console closing), or the recording ending on its own.  On POSIX systems
// it is a single poll(), woken through a pipe by the signal handler and by
// the callback (posix/stop_wait.cpp); on Windows a wait on one event
// (windows/stop_wait.cpp).
#ifndef PCMTAP_RECORDER_STOP_WAIT_H
#define PCMTAP_RECORDER_STOP_WAIT_H

namespace pcmtap {

class StopWait {
public:
  // Installs the handlers; a second interrupt ends the process at once.
  StopWait();
  ~StopWait();
  StopWait(const StopWait &) = delete;
  StopWait &operator=(const StopWait &) = delete;

  // The errno that kept it from being set up, or 0.
  int error() const { return error_; }

  // Safe from any thread and from a signal handler.
  static void recording_ended();

  // Returns once any of them happened; the capture then looks at what the
  // callback recorded to tell which.  True when it was a character on
  // standard input, which a terminal has echoed.
  bool wait();

private:
  int error_ = 0;
};

} // namespace pcmtap

#endif
