#include "../status_line.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <system_error>

namespace pcmtap {
namespace {

// An anonymous pipe cannot be waited on with a timeout, so the thread
// looks into it this often.
const DWORD kLookEveryMillis = 20;
const unsigned kPipeBytes = 4096;

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

bool is_console(HANDLE handle) {
  DWORD mode;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// A console that echoes each line typed on it, as cmd.exe leaves it.
bool echoes_lines() {
  const DWORD wanted = ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT;
  DWORD mode;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  return in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode) &&
         (mode & wanted) == wanted;
}

size_t console_width(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info))
    return 0;
  return size_t(info.srWindow.Right - info.srWindow.Left + 1);
}

} // namespace

void StatusLine::write_terminal(const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    int n = _write(terminal_, text.data() + done, unsigned(text.size() - done));
    if (n <= 0)
      return; // a console that is gone takes nothing more
    done += size_t(n);
  }
}

StatusLine::StatusLine(const std::atomic<uint64_t> &bytes, PeakMeter &meter)
    : bytes_(bytes), meter_(meter), started_(std::chrono::steady_clock::now()) {
  if (!is_console(GetStdHandle(STD_ERROR_HANDLE)))
    return;
  // Messages come through in binary; the console's own descriptor, in text
  // mode, ends their lines as the console wants.
  int fds[2];
  if (_pipe(fds, kPipeBytes, _O_BINARY | _O_NOINHERIT) != 0)
    return;
  int terminal = _dup(2);
  if (terminal < 0) {
    _close(fds[0]);
    _close(fds[1]);
    return;
  }
  try {
    messages_ = fds[0];
    terminal_ = terminal;
    thread_ = std::thread(&StatusLine::run, this);
  } catch (const std::system_error &) {
    _close(fds[0]);
    _close(terminal);
    messages_ = terminal_ = -1; // no line then, and nothing else lost
  }
  if (terminal_ >= 0)
    _dup2(fds[1], 2);
  _close(fds[1]);
}

void StatusLine::finish(bool summary) {
  if (!thread_.joinable())
    return;
  summary_wanted_ = summary;
  // The pipe's last write end closes here, and the thread sees its end
  // once it has passed on everything written before.
  _dup2(terminal_, 2);
  thread_.join();
  _close(messages_);
  _close(terminal_);
  messages_ = terminal_ = -1;
}

void StatusLine::run() {
  HANDLE messages = handle_of(messages_);
  std::string pending;
  auto next_draw = std::chrono::steady_clock::now();
  for (;;) {
    follow_echo();
    DWORD ready = 0;
    // Fails once every write end is closed and all was read.
    if (!PeekNamedPipe(messages, nullptr, 0, nullptr, &ready, nullptr))
      break;
    if (ready > 0) {
      char buffer[4096];
      int n = _read(messages_, buffer,
                    unsigned(std::min<DWORD>(ready, sizeof buffer)));
      if (n <= 0)
        break;
      pending.append(buffer, size_t(n));
      pass_on(pending, false);
    } else if (std::chrono::steady_clock::now() < next_draw) {
      Sleep(kLookEveryMillis);
    }
    redraw_when_due(next_draw);
  }
  end(pending);
}

// Spaces, not escape sequences, which older consoles print as they are,
// clear what a longer line left.
void StatusLine::draw() {
  std::string text = status_text();
  // A line as wide as the console would wrap, and could not be erased.
  size_t width = console_width(handle_of(terminal_));
  if (width > 1 && text.size() >= width)
    text.resize(width - 1);
  const size_t columns = text.size();
  if (columns < drawn_)
    text.append(drawn_ - columns, ' ');
  write_terminal("\r" + text);
  drawn_ = std::max(drawn_, columns);
  shown_ = true;
}

// The console echoed the line typed, ending it: the status line's row is
// the one above the cursor.  That row and the cursor's are cleared, and
// the line goes on from its own row.
void StatusLine::follow_echo() {
  if (!line_typed_.exchange(false) || !echoes_lines())
    return;
  HANDLE console = handle_of(terminal_);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(console, &info) &&
      info.dwCursorPosition.Y > 0) {
    COORD row = {0, SHORT(info.dwCursorPosition.Y - 1)};
    DWORD written;
    FillConsoleOutputCharacterA(console, ' ', DWORD(info.dwSize.X) * 2, row,
                                &written);
    SetConsoleCursorPosition(console, row);
  }
  shown_ = false;
  drawn_ = 0;
}

void StatusLine::erase() {
  if (shown_)
    write_terminal("\r" + std::string(drawn_, ' ') + "\r");
  shown_ = false;
  drawn_ = 0;
}

} // namespace pcmtap
