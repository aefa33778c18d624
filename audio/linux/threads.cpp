#include "../engine/threads.h"

#include <pthread.h>
#include <signal.h>

namespace pcmtap {

// Threads inherit the mask of the thread that starts them.  Signals a
// thread raises itself keep their usual effect; a write into a closed pipe
// still ends the process quietly, as in any pipeline.
void start_threads_without_signals(const std::function<void()> &start) {
  sigset_t blocked, saved;
  sigfillset(&blocked);
  for (int own : {SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
    sigdelset(&blocked, own);
  pthread_sigmask(SIG_SETMASK, &blocked, &saved);
  try {
    start();
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

} // namespace pcmtap
