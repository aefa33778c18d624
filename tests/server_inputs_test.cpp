// pcmtap on a sound server whose default source is a sound card with typed
// ports (Microphone, Line In, CD, Digital Input): the ports are the inputs,
// and recording from the source carries the card's counting frames.
#include "card_server.h"
#include "checked_recording.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace pcmtap::test {
namespace {

const uint64_t kRate = 44100;
const std::string kUsage =
    "Usage: pcmtap # = use the device # from the list below\n"
    "       pcmtap - = use the default device\n\n";

class ServerInputs : public ::testing::Test {
protected:
  void start(const CardServerOptions &options = {}) {
    card_ = start_card_server(options);
    options_.env = card_.server->environment();
  }
  PulseServer &server() { return *card_.server; }
  std::string active_port() {
    std::string list = server().pactl("list sources");
    size_t at = list.find("Active Port: ");
    return at == std::string::npos
               ? ""
               : list.substr(at + 13, list.find('\n', at) - at - 13);
  }
  bool muted() {
    return server().pactl("get-source-mute " + card_.source).find("yes") !=
           std::string::npos;
  }

  CardServer card_;
  ChildOptions options_;
};

TEST_F(ServerInputs, ListsThePortsWithTheirTypesAndTheActiveOneOn) {
  start();
  const std::string lines[] = {"0. Name=\"Microphone\", Type=\"microphone\"\n",
                               "1. Name=\"Line In\", Type=\"line-in\"\n",
                               "2. Name=\"CD\", Type=\"analog cd\"\n",
                               "3. Name=\"Digital Input\", Type=\"digital\"\n"};
  Result r = run({PCMTAP_PATH}, options_);
  EXPECT_EQ(r.out, kUsage + "+    " + lines[0] + "     " + lines[1] + "     " +
                       lines[2] + "     " + lines[3]);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);

  // A muted source records nothing: every input is off.
  server().pactl("set-source-mute " + card_.source + " 1");
  EXPECT_EQ(run({PCMTAP_PATH}, options_).out,
            kUsage + "     " + lines[0] + "     " + lines[1] + "     " +
                lines[2] + "     " + lines[3]);
}

TEST_F(ServerInputs, EachInputNumberLeavesThatPortActiveAndTheSourceUnmuted) {
  start({{}, true, true}); // every port available
  for (size_t n = kCardPorts.size(); n-- > 0;) {
    SCOPED_TRACE(n);
    server().pactl("set-source-mute " + card_.source + " 1");
    Result r = run({PCMTAP_PATH, std::to_string(n)}, options_); // stops at once
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(active_port(), kCardPorts[n]);
    EXPECT_FALSE(muted());
  }
}

TEST_F(ServerInputs, APortWithNothingPluggedInIsRefusedAndNothingChanges) {
  start(); // Line In unplugged
  server().pactl("set-source-port " + card_.source + " " + kCardPorts[2]);
  Result r = run({PCMTAP_PATH, "1"}, options_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"Line In\""), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(active_port(), kCardPorts[2]);
  EXPECT_FALSE(muted());
}

TEST_F(ServerInputs, RecordsTheCardsFramesWholeUntilStopped) {
  start();
  for (bool by_signal : {false, true}) {
    SCOPED_TRACE(by_signal ? "SIGINT" : "character");
    CheckedRecording rec(options_.env, {"count"});
    ASSERT_TRUE(rec.wait_for_frames(kRate));
    if (by_signal)
      rec.recorder().send_signal(SIGINT);
    else
      rec.recorder().write_stdin("\n");
    EXPECT_EQ(rec.recorder().wait(), 0);
    CheckSummary s = rec.summary();
    EXPECT_GE(s.frames, kRate);
    EXPECT_EQ(s.gaps, 0u);
    EXPECT_EQ(s.errors, 0u);
    EXPECT_EQ(s.partial, 0u);
    EXPECT_EQ(rec.recorder().err(), "");
  }
}

// The card fails under the server, which then drops its source.
TEST_F(ServerInputs, ASourceThatGoesAwayEndsTheRecordingWithItsAudio) {
  TempDir dir;
  std::string unplugged = dir.file("unplugged");
  start({{"fail_file \"" + unplugged + "\""}});
  CheckedRecording rec(options_.env, {"count"});
  expect_unplugging_ends_it(rec, unplugged);
}

} // namespace
} // namespace pcmtap::test
