#include "messages.h"

#include "standard_streams.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pcmtap {

void warn(const char *format, ...) {
  // One buffer and one write, so that a message is never torn by another
  // thread's.
  char line[1024];
  int prefix = std::snprintf(line, sizeof line, "pcmtap: ");
  va_list args;
  va_start(args, format);
  std::vsnprintf(line + prefix, sizeof line - size_t(prefix) - 1, format, args);
  va_end(args);
  std::fprintf(stderr, "%s\n", line);
}

int text_output_status() {
  // Text that did not reach its reader is not a success.  The Windows C
  // runtime may have written it already, failing, and have nothing left
  // for the flush to fail on: the stream's error flag tells.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    if (int err = output_write_error(); err != EPIPE)
      warn("write <stdout>: %s", std::strerror(err));
    return 1; // a reader that went away needs no word
  }
  return 0;
}

} // namespace pcmtap
