#include "../status_line.h"

namespace pcmtap {

// The live line needs a standard error that pcmtap can lead through a pipe
// of its own and a terminal that takes escape sequences; the Windows build
// does without it and adds nothing to standard error.
StatusLine::StatusLine(const std::atomic<uint64_t> &bytes, PeakMeter &meter)
    : bytes_(bytes), meter_(meter), started_(std::chrono::steady_clock::now()) {
}

void StatusLine::finish(bool) {}

} // namespace pcmtap
