// pcmtap: records from the default recording device and streams the raw
// samples to standard output.
#include "bass.h"
#include "capture.h"
#include "help.h"
#include "listing.h"

#include <cstdio>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// A descriptor 0, 1 or 2 that the caller closed would be handed to the next
// file we open, and audio could end up in a mixer's control file.  Park
// each on /dev/null, read-only: input ends at once, and writes fail the way
// writes to a closed descriptor do.
void reserve_standard_descriptors() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDONLY) != fd)
      return;
#endif
}

} // namespace

int main(int argc, char **argv) {
  reserve_standard_descriptors();
  if (argc == 2 && pcmtap::is_help_option(argv[1]))
    return pcmtap::help_mode(argv[1]); // touches no device
  if (!BASS_RecordInit(-1)) {
    std::printf("RecordInit falied.\n");
    return 1;
  }
  if (!BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
    std::printf("BASS_Init falied.\n");
    return 1;
  }
  if (argc == 2)
    return pcmtap::capture_mode(argv[1]);
  pcmtap::listing_mode();
}
