#include "../help.h"

namespace pcmtap {

const char *const kWaysToStop =
    "Recording stops on Enter, at the end of standard input, or\n"
    "on Ctrl+C, Ctrl+Break or closing the console window; a second\n"
    "one ends pcmtap at once.\n";

// What inputs are on Windows, which a user of the old mixers would not
// guess.
const char *const kMoreHelp =
    "The inputs are Windows' recording endpoints, what the computer\n"
    "plays, and what each program playing now plays (Windows 10 build\n"
    "20348 and later), which records each process of that name as it\n"
    "comes, with silence while none plays; pcmtap N records input N in\n"
    "this run only, unmuting it, and leaves Windows' default device as\n"
    "it is. See README.md beside pcmtap.exe for more.";

} // namespace pcmtap
