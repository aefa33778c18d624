#include "../help.h"

namespace pcmtap {

const char *const kWaysToStop =
    "Recording stops on Enter, at the end of standard input, or\n"
    "on SIGINT or SIGTERM; a second signal ends pcmtap at once.\n";

const char *const kMoreHelp = "See man pcmtap for more.";

} // namespace pcmtap
