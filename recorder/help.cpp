#include "help.h"

#include "messages.h"

#include <cstdio>
#include <cstring>

namespace pcmtap {

void print_usage() {
  std::printf("Usage: pcmtap # = use the device # from the list below\n"
              "       pcmtap - = use the default device\n\n");
}

bool is_help_option(const char *arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "--version") == 0;
}

int help_mode(const char *arg) {
  if (std::strcmp(arg, "--version") == 0) {
    std::printf("pcmtap %s\n"
                "License: MIT <https://opensource.org/licenses/MIT>\n",
                PCMTAP_VERSION);
    return text_output_status();
  }
  print_usage();
  std::printf(
      "Records raw 16-bit little-endian stereo 44,100 Hz audio to standard\n"
      "output, which must not be a terminal. Run pcmtap alone to list the\n"
      "inputs, and choose one by its number or by its name as listed,\n"
      "ignoring case: pcmtap \"USB Headset\". pcmtap \"What Zoom plays\"\n"
      "records that program whenever it plays, waiting for it with\n"
      "silence. %s\n"
      "Exit status: 0 after a complete recording or listing; 1 when the\n"
      "devices, the recording or the output failed; 2 for an input the\n"
      "device lacks, or an output that is a terminal.\n\n"
      "%s\n",
      kWaysToStop, kMoreHelp);
  return text_output_status();
}

} // namespace pcmtap
