// pcmtap on a desktop's default device: a PulseAudio server of the test's
// own, playing a tone whose period is exactly 100 frames, so that audio
// lost shows as missing duration and a cut as a break in the tone.
#include "checked_recording.h"
#include "process.h"
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

// A server without a source gives the first start-up message, one without a
// sink the second, each with the reason beside it; so does a server that
// is asked for and not there.
TEST(SoundServerStartUp, FailsWithTheFirstMissingDeviceAndSaysWhy) {
  PulseServer empty({});
  PulseServer no_sink({"load-module module-sine-source source_name=tone"});
  std::vector<std::string> nowhere = empty.environment();
  nowhere.insert(nowhere.end(),
                 {"PCMTAP_AUDIO=server", "ALSA_CONFIG_PATH=/dev/null",
                  "PULSE_SERVER=unix:" + empty.dir() + "/none"});
  const struct {
    std::vector<std::string> env;
    const char *out, *err;
  } cases[] = {
      {empty.environment(), "RecordInit falied.\n",
       "pcmtap: no recording device: sound server \"unix:"},
      {no_sink.environment(), "BASS_Init falied.\n",
       "pcmtap: no playback device: sound server \"unix:"},
      {nowhere, "RecordInit falied.\n",
       "pcmtap: no recording device: sound server \"unix:"},
  };
  for (const auto &c : cases) {
    ChildOptions o;
    o.env = c.env;
    Result r = run({PCMTAP_PATH}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("see \"Choosing the device\" in man pcmtap)\n"),
              std::string::npos)
        << r.err;
  }
}

} // namespace
} // namespace pcmtap::test
