#include "../stop_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace pcmtap {
namespace {

// The write end is read by the signal handler, hence a plain global.
int wake_pipe[2] = {-1, -1};

void wake() {
  int saved = errno;
  const char byte = 0;
  ssize_t n = write(wake_pipe[1], &byte, 1);
  (void)n; // a full pipe already holds a wake-up
  errno = saved;
}

void on_signal(int) { wake(); }

void handle(int signo, void (*handler)(int), int flags) {
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, nullptr);
}

} // namespace

StopWait::StopWait() {
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error_ = errno;
    return;
  }
  // SA_RESETHAND: the first signal asks for a clean stop, the second one
  // meets the default action and ends the process.
  handle(SIGINT, on_signal, SA_RESTART | SA_RESETHAND);
  handle(SIGTERM, on_signal, SA_RESTART | SA_RESETHAND);
}

StopWait::~StopWait() {
  if (wake_pipe[0] < 0)
    return;
  handle(SIGINT, SIG_DFL, 0);
  handle(SIGTERM, SIG_DFL, 0);
  close(wake_pipe[0]);
  close(wake_pipe[1]);
  wake_pipe[0] = wake_pipe[1] = -1;
}

void StopWait::recording_ended() { wake(); }

bool StopWait::wait() {
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return false; // nothing left to wait on
    }
    if (fds[1].revents & POLLIN)
      return false; // a signal, or the recording ended on its own
    // A character, the end of input, an error or no standard input at all:
    // each one ends the wait.  The character itself is not needed.
    if (fds[0].revents & POLLIN)
      return std::getc(stdin) != EOF;
    if (fds[0].revents != 0)
      return false;
  }
}

} // namespace pcmtap
