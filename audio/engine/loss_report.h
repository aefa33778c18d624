// Audio lost, told on standard error in a few lines: at most one line per
// cause for each 10 s of recording, with the sum of that stretch, so that
// a reader that is slow for an hour gets a few hundred lines, not one per
// block.
#ifndef PCMTAP_AUDIO_ENGINE_LOSS_REPORT_H
#define PCMTAP_AUDIO_ENGINE_LOSS_REPORT_H

#include <chrono>
#include <cstdint>
#include <mutex>

namespace pcmtap {

class LossReport {
public:
  using Clock = std::chrono::steady_clock;
  enum Cause {
    kDevice,  // read too late: the machine was too busy
    kSuspend, // the device or its source slept
    kOutput,  // the ring was full: the reader of the output is too slow
    kCauses
  };
  static constexpr auto kInterval = std::chrono::seconds(10);

  explicit LossReport(unsigned rate) : rate_(rate) {}

  // Any thread: `frames` lost in an episode that is over.
  void add(Cause cause, uint64_t frames);
  // Says the sum of each cause whose last line is `kInterval` old, or
  // that has not been said yet.
  void say_due(Clock::time_point now = Clock::now());
  // Says everything not said yet; at the end of the recording.
  void say_all();

private:
  void say(Cause cause);

  const unsigned rate_;
  std::mutex mutex_;
  uint64_t pending_[kCauses] = {};
  bool said_once_[kCauses] = {};
  Clock::time_point said_at_[kCauses] = {};
};

} // namespace pcmtap

#endif
