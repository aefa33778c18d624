// pcmtap on a real-time device, the virtual sound card: frames appear at
// the pace of the clock and are lost like on hardware when nobody reads
// them in time.  Every frame counts, so the checker sees any loss.
#include "checked_recording.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace pcmtap::test {
namespace {

const uint64_t kRate = 44100;

class RealTime : public ::testing::Test {
protected:
  std::vector<std::string> card(std::vector<std::string> settings = {}) {
    settings.insert(settings.begin(), {"realtime true", "buffer_frames 22050"});
    devices_.capture_from_card(settings);
    return {devices_.alsa_config_env()};
  }
  VirtualDevices devices_;
};

TEST_F(RealTime, AReaderThatStallsTenSecondsGetsEveryFrame) {
  CheckedRecording rec(
      card(), {"count", "--stall-at", "176400", "--stall-ms", "10000"});
  ASSERT_TRUE(rec.wait_for_frames(12 * kRate));
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 0);
  CheckSummary s = rec.summary();
  EXPECT_EQ(s.first, 0u);
  EXPECT_EQ(s.gaps, 0u);
  EXPECT_EQ(s.errors, 0u);
  EXPECT_EQ(s.partial, 0u);
  EXPECT_EQ(rec.recorder().err(), "");
}

// Nothing of pcmtap runs for a second: the card's buffer overflows, or the
// machine sleeps and the card is suspended.  Each is told as what it was.
TEST_F(RealTime, ADeviceOverrunOrSuspendIsMeasuredReportedAndSurvived) {
  std::string asleep = devices_.dir().file("asleep");
  for (bool suspend : {false, true}) {
    SCOPED_TRACE(suspend ? "suspend" : "overrun");
    CheckedRecording rec(card({"suspend_file \"" + asleep + "\""}), {"count"});
    ASSERT_TRUE(rec.wait_for_frames(kRate));
    rec.recorder().send_signal(SIGSTOP);
    if (suspend)
      write_file(asleep, "");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    rec.recorder().send_signal(SIGCONT);
    ASSERT_TRUE(rec.wait_for_frames(3 * kRate)); // and it records on
    double lost = stop_with_one_gap(rec);
    const std::string &err = rec.recorder().err();
    double reported = suspend
                          ? reported_loss(err, "", "pcmtap: device suspended: ")
                          : reported_loss(err, "device");
    EXPECT_GT(lost, 0.5);
    EXPECT_NEAR(reported, lost, 0.05 + lost / 10) << err;
    EXPECT_EQ(err.find(suspend ? "overrun" : "suspended"), std::string::npos)
        << err;
  }
}

TEST_F(RealTime, ADeviceThatGoesAwayEndsTheRecordingWithItsAudio) {
  std::string unplugged = devices_.dir().file("unplugged");
  CheckedRecording rec(card({"fail_file \"" + unplugged + "\""}), {"count"});
  expect_unplugging_ends_it(rec, unplugged);
}

// A reader at half speed for 70 s overflows the ring by some 5 s, a block
// at a time: said in one line per 10 s at most, not one per block, and as
// the output's loss alone: the card, read at every look however full the
// ring, never overruns.
TEST_F(RealTime, AReaderAtHalfSpeedPastTheRingHearsOfItsLossesInAFewLines) {
  const double seconds = 70;
  std::string err = expect_a_slow_reader_to_get_all_up_to_the_stop(
      card(), {"count"}, seconds);
  SaidLosses said = said_losses(err, "output too slow");
  EXPECT_GT(said.seconds, 1.0) << err;
  EXPECT_LE(said.lines, size_t(seconds / 10 + 1)) << err;
  EXPECT_EQ(said_losses(err, "device").lines, 0u) << err;
}

TEST_F(RealTime, AStopWhileTheReaderStallsStillEnds) {
  CheckedRecording rec(card(),
                       {"count", "--stall-at", "0", "--stall-ms", "600000"});
  // The checker reads nothing.  Eight seconds of audio are more than the
  // pipe holds (pcmtap asks for 1 MiB), so pcmtap's way out is blocked when
  // the stop comes.
  std::this_thread::sleep_for(std::chrono::seconds(8));
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 1);
  EXPECT_EQ(rec.recorder().err(), "pcmtap: output stalled; stopping without "
                                  "writing the rest of the recording\n");
  rec.checker().send_signal(SIGKILL);
}

} // namespace
} // namespace pcmtap::test
