// The timer the device thread sets around each write and the watcher
// sleeps on, on Linux (timerfd) and under Wine (waitable timer) alike.
#include "engine/wakeup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace pcmtap {
namespace {

// Faults caught: a timer that fires once only (a write that goes on would
// be looked at once, and the device overrun behind it); a cleared timer
// that still fires, at once or later (the watcher would wake while the
// writer keeps up, the very wake-ups the timer is there to save); a stop
// that a set timer hides.  No bound on how long anything takes: a slow
// machine only makes the test slower.
TEST(Timer, FiresAgainWhileSetNeverOnceClearedAndGivesWayToTheStop) {
  Timer timer;
  Wakeup stop;
  ASSERT_TRUE(timer.valid());
  timer.arm(10);
  EXPECT_TRUE(timer.wait(stop));
  EXPECT_TRUE(timer.wait(stop));
  std::this_thread::sleep_for(std::chrono::milliseconds(30)); // fired again
  timer.disarm();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.notify_always();
  });
  EXPECT_FALSE(timer.wait(stop));
  stopper.join();
  timer.arm(10);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(timer.wait(stop)); // both pending: the stop first
  EXPECT_FALSE(timer.wait(stop)); // and the stop stays
}

} // namespace
} // namespace pcmtap
