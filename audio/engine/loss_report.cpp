#include "loss_report.h"

#include <cstdio>

namespace pcmtap {

void LossReport::add(Cause cause, uint64_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_[cause] += frames;
}

void LossReport::say_due(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int c = 0; c < kCauses; ++c) {
    if (pending_[c] == 0 || (said_once_[c] && now - said_at_[c] < kInterval))
      continue;
    say(Cause(c));
    said_once_[c] = true;
    said_at_[c] = now;
  }
}

void LossReport::say_all() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int c = 0; c < kCauses; ++c)
    if (pending_[c] != 0)
      say(Cause(c));
}

void LossReport::say(Cause cause) {
  static const char *const kFormats[kCauses] = {
      "pcmtap: overrun: %.2f s of audio lost (device)\n",
      "pcmtap: device suspended: %.2f s of audio lost\n",
      "pcmtap: overrun: %.2f s of audio lost (output too slow)\n"};
  std::fprintf(stderr, kFormats[cause], double(pending_[cause]) / rate_);
  pending_[cause] = 0;
}

} // namespace pcmtap
