#include "../status_line.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace pcmtap {
namespace {

const char kErase[] = "\r\033[K";

// A terminal that echoes each line typed on it, as a shell leaves it.
bool echoes_lines(int fd) {
  termios modes;
  return isatty(fd) && tcgetattr(fd, &modes) == 0 &&
         (modes.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON);
}

} // namespace

void StatusLine::write_terminal(const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(terminal_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return; // a terminal that is gone takes nothing more
    done += size_t(n);
  }
}

StatusLine::StatusLine(const std::atomic<uint64_t> &bytes, PeakMeter &meter)
    : bytes_(bytes), meter_(meter), started_(std::chrono::steady_clock::now()) {
  if (!isatty(STDERR_FILENO))
    return;
  int fds[2];
  int terminal = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (terminal < 0)
    return;
  if (pipe2(fds, O_CLOEXEC) != 0) {
    close(terminal);
    return;
  }
  // The thread takes none of the process's signals: they are the stop's.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  try {
    messages_ = fds[0];
    terminal_ = terminal;
    thread_ = std::thread(&StatusLine::run, this);
  } catch (const std::system_error &) {
    close(fds[0]);
    close(terminal);
    messages_ = terminal_ = -1; // no line then, and nothing else lost
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (terminal_ >= 0)
    dup2(fds[1], STDERR_FILENO);
  close(fds[1]);
}

void StatusLine::finish(bool summary) {
  if (!thread_.joinable())
    return;
  summary_wanted_ = summary;
  // The pipe's last write end closes here, and the thread sees its end
  // once it has passed on everything written before.
  dup2(terminal_, STDERR_FILENO);
  thread_.join();
  close(messages_);
  close(terminal_);
  messages_ = terminal_ = -1;
}

void StatusLine::run() {
  std::string pending;
  auto next_draw = std::chrono::steady_clock::now();
  for (;;) {
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        next_draw - std::chrono::steady_clock::now());
    pollfd pfd = {messages_, POLLIN, 0};
    int ready = poll(&pfd, 1, int(std::max<long long>(0, wait.count())));
    follow_echo();
    if (ready > 0) {
      char buffer[4096];
      ssize_t n = read(messages_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break; // standard error is the terminal's again
      pending.append(buffer, size_t(n));
      pass_on(pending, false);
    } else if (ready < 0 && errno != EINTR) {
      break;
    }
    redraw_when_due(next_draw);
  }
  end(pending);
}

void StatusLine::draw() {
  std::string text = status_text();
  // A line wider than the terminal would wrap, and could not be erased.
  winsize size = {};
  if (ioctl(terminal_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
      text.size() >= size.ws_col)
    text.resize(size_t(size.ws_col) - 1);
  write_terminal("\r" + text + "\033[K");
  shown_ = true;
}

// Before the echo the cursor was on the status line's row, drawn or
// erased; what was drawn since is on the row below.  Both are cleared and
// the line goes on from its own row.
void StatusLine::follow_echo() {
  if (!line_typed_.exchange(false) || !echoes_lines(STDIN_FILENO))
    return;
  write_terminal(kErase + std::string("\033[A") + kErase);
  shown_ = false;
}

void StatusLine::erase() {
  if (shown_)
    write_terminal(kErase);
  shown_ = false;
}

} // namespace pcmtap
