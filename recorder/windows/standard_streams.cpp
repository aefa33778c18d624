#include "../standard_streams.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

namespace pcmtap {

// The C runtime gives a closed standard stream a descriptor of its own
// that fails every call; nothing else would be opened in its place.
void reserve_standard_streams() {}

// A console, not merely a character device: NUL is one too.
bool output_is_terminal() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  return out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_CHAR &&
         GetConsoleMode(out, &mode);
}

// Text mode would turn every 0x0A byte of the samples into two.
void prepare_output_for_audio() {
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

// The C runtime calls a pipe whose reader has closed it EINVAL; the Windows
// error is still there to ask.  Windows says ERROR_NO_DATA, Wine over a
// Unix pipe ERROR_PIPE_NOT_CONNECTED.  A write that failed with no error
// at all took only part of the block, which a pipe does only when its
// reader goes away halfway (the C runtime counts the part as a failure).
int output_write_error() {
  DWORD error = GetLastError();
  if (error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED ||
      error == ERROR_BROKEN_PIPE)
    return EPIPE;
  if (error == ERROR_SUCCESS &&
      GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE)
    return EPIPE;
  return errno != 0 ? errno : EIO;
}

} // namespace pcmtap
