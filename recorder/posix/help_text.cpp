#include "../help.h"

namespace pcmtap {

const char *const kWaysToStop =
    "Recording stops on Enter, at the end of standard input, or\n"
    "on SIGINT or SIGTERM; a second signal ends pcmtap at once.\n";

// What inputs are on Linux, which depends on what ALSA's default leads to.
const char *const kMoreHelp =
    "On a sound server (PulseAudio, PipeWire) the inputs are every\n"
    "recording device's inputs, then what the computer plays, then what\n"
    "each program that plays now plays (that program alone, followed\n"
    "from stream to stream, with silence while it plays nothing);\n"
    "pcmtap N records input N in this run only, unmuting it, and leaves\n"
    "the server's default source as it is. On bare ALSA they are the\n"
    "sources of every sound card that records, card by card (a\n"
    "selector's items, or controls with a capture switch of their own);\n"
    "pcmtap N switches N and its card's converter on, records that card\n"
    "and puts back what it changed.\n"
    "See man pcmtap for more.";

} // namespace pcmtap
