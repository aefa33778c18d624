// The engine's threads and the process's signals.
#ifndef PCMTAP_AUDIO_ENGINE_THREADS_H
#define PCMTAP_AUDIO_ENGINE_THREADS_H

#include <functional>

namespace pcmtap {

// Runs `start`, which starts threads, so that those threads take none of
// the process's asynchronous signals: the front end handles them on its
// own terms.  Where a platform has no such signals it only runs `start`.
void start_threads_without_signals(const std::function<void()> &start);

} // namespace pcmtap

#endif
