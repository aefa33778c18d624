#include "../standard_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace pcmtap {
namespace {

const int kPipeBytes = 1 << 20; // 5.9 s of audio

} // namespace

// Each closed one is parked on /dev/null, read-only: input ends at once,
// and writes fail the way writes to a closed descriptor do.
void reserve_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDONLY) != fd)
      return;
}

bool output_is_terminal() { return isatty(STDOUT_FILENO); }

void prepare_output_for_audio() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // A pipe gets room for a good stretch of audio, so that the reader and
  // the recorder take turns less often.
#ifdef F_SETPIPE_SZ
  struct stat st;
  if (fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode))
    fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeBytes); // a wish, not a need
#endif
}

int output_write_error() { return errno != 0 ? errno : EIO; }

} // namespace pcmtap
