// pcmtap: records from the default recording device and streams the raw
// samples to standard output.
#include "bass.h"
#include "capture.h"
#include "help.h"
#include "listing.h"
#include "standard_streams.h"

#include <cstdio>

int main(int argc, char **argv) {
  pcmtap::reserve_standard_streams();
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
