// pcmtap's inputs on PipeWire, through its PulseAudio server: a headset of
// its own beside the server's sink, listed, chosen and recorded as on
// PulseAudio.
#include "checked_recording.h"
#include "pipewire_server.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <future>

namespace pcmtap::test {
namespace {

const std::string kUsage =
    "Usage: pcmtap # = use the device # from the list below\n"
    "       pcmtap - = use the default device\n\n";

// Catches PipeWire's sources listed otherwise than PulseAudio's, and an
// input that records another source than its own: the headset's and the
// sink's counting frames start far apart.
TEST(PipewireInputs, ListsAndRecordsTheHeadsetAndWhatTheComputerPlays) {
  const size_t frames = 44100;
  const uint32_t headset_first = 0x40000000;
  const uint32_t sink_first = 0x80000000;
  PipewireServer server;
  const std::string fifo = server.dir() + "/headset";
  server.pactl(headset_module_args("headset", fifo));
  server.pactl("set-default-source headset");
  TempDir played;
  auto player = play_counting_frames(server.environment(), "auto_null", played,
                                     sink_first, 120 * frames);
  ASSERT_TRUE(wait_for_playing_streams(
      [&](const std::string &args) { return server.pactl(args); }, 1));
  ChildOptions options;
  options.env = server.environment();
  const std::string default_before = server.pactl("get-default-source");

  Result listing = run({PCMTAP_PATH}, options);
  EXPECT_EQ(listing.out,
            kUsage + "+    0. Name=\"USB Headset\", Type=\"microphone\"\n"
                     "     1. Name=\"What the computer plays (Dummy Output)\", "
                     "Type=\"wave/pcm\"\n"
                     "     2. Name=\"What pacat plays\", Type=\"wave/pcm\"\n");
  EXPECT_EQ(listing.err, "");
  EXPECT_EQ(listing.status, 0);

  // Silence flows once the stream is linked; from then on no frame fed may
  // be lost.
  Child headset({PCMTAP_PATH, "0"}, options);
  ASSERT_TRUE(headset.wait_for_output(4)) << headset.err();
  auto fed = std::async(std::launch::async, write_file, fifo,
                        counting_frames(headset_first, frames) +
                            std::string(8192 * 4, '\0'));
  const std::string counted = counted_frames(headset, frames);
  EXPECT_EQ(counted.size(), frames * 4);
  EXPECT_EQ(first_miscounted_frame(counted, headset_first), -1);
  fed.get();
  headset.write_stdin("\n");
  EXPECT_EQ(headset.wait(), 0);
  EXPECT_EQ(headset.err(), "");
  EXPECT_EQ(server.pactl("get-default-source"), default_before);

  Child plays({PCMTAP_PATH, "1"}, options);
  CountingCheck c = gaps_in(counted_frames(plays, frames));
  EXPECT_EQ(c.frames, frames);
  EXPECT_EQ(c.gaps, 0u);
  EXPECT_EQ(c.errors, 0u);
  EXPECT_GE(c.first, sink_first);
  plays.write_stdin("\n");
  EXPECT_EQ(plays.wait(), 0);
  EXPECT_EQ(plays.err(), "");
}

} // namespace
} // namespace pcmtap::test
