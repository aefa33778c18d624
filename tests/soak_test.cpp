// A day of audio from an unpaced device into the checker: every frame in
// order, and pcmtap's memory the same at the end as after the first hour.
#include "checked_recording.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace pcmtap::test {
namespace {

const uint64_t kFramesPerHour = 44100ull * 3600;

long resident_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0)
      return std::atol(line.c_str() + 6);
  return -1;
}

TEST(Soak, ADayOfAudioArrivesWholeInFlatMemory) {
  // Sanitizer builds run slower; they may ask for fewer hours.
  const char *hours_env = std::getenv("PCMTAP_SOAK_HOURS");
  const uint64_t hours = hours_env ? std::strtoull(hours_env, nullptr, 10) : 24;
  VirtualDevices devices;
  devices.capture_from_card({"realtime false"});
  CheckedRecording rec({devices.alsa_config_env()}, {"count"}, kFramesPerHour);
  ASSERT_TRUE(rec.wait_for_frames(kFramesPerHour));
  long after_an_hour = resident_kib(rec.recorder().pid());
  ASSERT_TRUE(rec.wait_for_frames(hours * kFramesPerHour));
  long at_the_end = resident_kib(rec.recorder().pid());
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 0);
  CheckSummary s = rec.summary();
  EXPECT_GE(s.frames, hours * kFramesPerHour);
  EXPECT_EQ(s.first, 0u);
  EXPECT_EQ(s.gaps, 0u);
  EXPECT_EQ(s.errors, 0u);
  EXPECT_EQ(s.partial, 0u);
  EXPECT_LE(std::labs(at_the_end - after_an_hour), 1024)
      << after_an_hour << " KiB after an hour, " << at_the_end << " at the end";
  EXPECT_EQ(rec.recorder().err(), "");
}

} // namespace
} // namespace pcmtap::test
