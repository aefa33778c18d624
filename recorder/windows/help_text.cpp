#include "../help.h"

namespace pcmtap {

const char *const kWaysToStop =
    "Recording stops on Enter, at the end of standard input, or\n"
    "on Ctrl+C, Ctrl+Break or closing the console window; a second\n"
    "one ends pcmtap at once.\n";

const char *const kMoreHelp = "See README.md beside pcmtap.exe for more.";

} // namespace pcmtap
