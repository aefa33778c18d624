// pcmtap on a desktop's default device: a PulseAudio server of the test's
// own, playing a tone whose period is exactly 100 frames, so that audio
// lost shows as missing duration and a cut as a break in the tone.
#include "checked_recording.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <chrono>

namespace pcmtap::test {
namespace {

const uint64_t kRate = 44100;
// The sine source hands out audio in 2 s pieces, so that much may still be
// in the server when the recording stops.
const double kServerLatency = 2.5;

class SoundServer : public ::testing::Test {
protected:
  PulseServer server_{{"load-module module-sine-source source_name=tone "
                       "frequency=441 rate=44100",
                       "set-default-source tone",
                       "load-module module-null-sink sink_name=out"}};
};

TEST_F(SoundServer, AReaderThatStallsTenSecondsLosesNothing) {
  auto started = std::chrono::steady_clock::now();
  CheckedRecording rec(
      server_.environment(),
      {"tone", "100", "--stall-at", "176400", "--stall-ms", "10000"});
  ASSERT_TRUE(rec.wait_for_frames(14 * kRate));
  rec.recorder().write_stdin("\n");
  double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count();
  EXPECT_EQ(rec.recorder().wait(), 0);
  CheckSummary s = rec.summary();
  EXPECT_EQ(s.breaks, 0u);
  EXPECT_EQ(s.partial, 0u);
  EXPECT_GE(double(s.frames) / kRate, elapsed - kServerLatency);
  EXPECT_EQ(rec.recorder().err(), "");
}

TEST_F(SoundServer, AServerThatDiesEndsTheRecordingWithItsAudio) {
  CheckedRecording rec(server_.environment(), {"tone", "100"});
  ASSERT_TRUE(rec.wait_for_frames(kRate));
  server_.kill_now();
  // Standard input stays open: pcmtap must end on its own.
  EXPECT_EQ(rec.recorder().wait(), 1);
  EXPECT_NE(rec.recorder().err().find("pcmtap: recording device: "),
            std::string::npos)
      << rec.recorder().err();
  CheckSummary s = rec.summary();
  EXPECT_EQ(s.breaks, 0u);
  EXPECT_EQ(s.partial, 0u);
}

} // namespace
} // namespace pcmtap::test
