#include "messages.h"

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
  // Text that did not reach its reader is not a success.
  if (std::fflush(stdout) != 0) {
    warn("write <stdout>: %s", std::strerror(errno));
    return 1;
  }
  return 0;
}

} // namespace pcmtap
