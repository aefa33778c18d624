#include "../engine/threads.h"

namespace pcmtap {

// Console control events come on a thread of their own, not as signals.
void start_threads_without_signals(const std::function<void()> &start) {
  start();
}

} // namespace pcmtap
