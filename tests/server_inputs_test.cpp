// pcmtap on a sound server whose default source is a sound card with typed
// ports (Microphone, Line In, CD, Digital Input), beside a headset and a
// sink that plays: every port is an input, then what the computer plays,
// and each input records its own counting frames.
#include "card_server.h"
#include "checked_recording.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <future>
#include <thread>

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

  std::string default_source() { return server().pactl("get-default-source"); }

  // A headset of its own (a pipe source without ports, sorted before the
  // card) and a sink playing counting frames far from the card's and the
  // headset's, so that no input can pass for another.
  void add_headset_and_player() {
    headset_fifo_ = server().dir() + "/headset";
    headset_module_ =
        server().pactl(headset_module_args("headset", headset_fifo_));
    player_ =
        play_counting_frames(options_.env, "out", played_, kSinkFirst, kPlayed);
    ASSERT_TRUE(wait_for_playing_streams(
        [&](const std::string &args) { return server().pactl(args); }, 1));
  }
  // Once `pcmtap`'s stream is on the server (from then on no frame fed is
  // lost), feeds the headset `frames` counting frames from kHeadsetFirst,
  // then silence to push the last of them through the source; returns the
  // frames that came out.
  std::string record_the_headset(Child &pcmtap, size_t frames) {
    const auto limit =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server().pactl("list short source-outputs").empty()) {
      if (std::chrono::steady_clock::now() >= limit)
        return "no recording stream: " + pcmtap.err();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto fed = std::async(std::launch::async, write_file, headset_fifo_,
                          counting_frames(kHeadsetFirst, frames) +
                              std::string(8192 * 4, '\0'));
    std::string counted = counted_frames(pcmtap, frames);
    fed.get();
    return counted;
  }

  static constexpr uint32_t kHeadsetFirst = 0x40000000;
  static constexpr uint32_t kSinkFirst = 0x80000000;
  static constexpr size_t kPlayed = 120 * kRate; // longer than any test

  CardServer card_;
  ChildOptions options_;
  std::string headset_fifo_;
  std::string headset_module_;
  TempDir played_;
  std::unique_ptr<Child> player_;
};

// Every source but the monitors, by name, each port named with its device,
// then what the computer plays and the player; the '+' on the default
// source's active port
// only. Catches a source left out, numbers in the server's order, a monitor
// listed as a device, and a mark on a source that is not the default.
TEST_F(ServerInputs, ListsEverySourcesPortsThenWhatTheComputerPlays) {
  start();
  add_headset_and_player();
  ASSERT_EQ(default_source(), card_.source + "\n");
  const std::string lines[] = {
      "0. Name=\"USB Headset\", Type=\"microphone\"\n",
      "1. Name=\"Microphone (Built-in Audio)\", Type=\"microphone\"\n",
      "2. Name=\"Line In (Built-in Audio)\", Type=\"line-in\"\n",
      "3. Name=\"CD (Built-in Audio)\", Type=\"analog cd\"\n",
      "4. Name=\"Digital Input (Built-in Audio)\", Type=\"digital\"\n",
      "5. Name=\"What the computer plays (Null Output)\", Type=\"wave/pcm\"\n",
      "6. Name=\"What pacat plays\", Type=\"wave/pcm\"\n"};
  auto listing = [&](size_t marked) {
    std::string out = kUsage;
    for (size_t i = 0; i < std::size(lines); ++i)
      out += (i == marked ? "+    " : "     ") + lines[i];
    return out;
  };
  Result r = run({PCMTAP_PATH}, options_);
  EXPECT_EQ(r.out, listing(1));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);

  // A muted source records nothing: no input is on.
  server().pactl("set-source-mute " + card_.source + " 1");
  EXPECT_EQ(run({PCMTAP_PATH}, options_).out, listing(size_t(-1)));
}

// The headset's input comes first: the card's ports are inputs 1 to 4.
TEST_F(ServerInputs, EachInputNumberLeavesThatPortActiveAndTheSourceUnmuted) {
  start({{}, true, true}); // every port available
  add_headset_and_player();
  for (size_t n = kCardPorts.size(); n-- > 0;) {
    SCOPED_TRACE(n);
    server().pactl("set-source-mute " + card_.source + " 1");
    Result r =
        run({PCMTAP_PATH, std::to_string(n + 1)}, options_); // stops at once
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(active_port(), kCardPorts[n]);
    EXPECT_FALSE(muted());
  }
}

TEST_F(ServerInputs, APortWithNothingPluggedInIsRefusedAndNothingChanges) {
  start(); // Line In unplugged
  add_headset_and_player();
  server().pactl("set-source-port " + card_.source + " " + kCardPorts[2]);
  Result r = run({PCMTAP_PATH, "2"}, options_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"Line In (Built-in Audio)\""), std::string::npos)
      << r.err;
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

// By its number, by its name in another case, and by a name no input has,
// which reads as input 0 and is said.  Catches a recording of the default
// source instead of the one chosen, a choice that moves the server's
// default or touches the card, a name not found, and one not said.
TEST_F(ServerInputs, TheHeadsetsInputRecordsItAloneAndLeavesTheServerAsItWas) {
  start();
  add_headset_and_player();
  const std::string default_before = default_source();
  const std::string port_before = active_port();
  const size_t frames = kRate;
  for (auto [arg, said] :
       {std::pair{"0", ""},
        {"usb HEADSET", ""},
        {"Nothing Here", "pcmtap: no input is named \"Nothing Here\"; "
                         "recording input 0, \"USB Headset\"\n"}}) {
    SCOPED_TRACE(arg);
    Child pcmtap({PCMTAP_PATH, arg}, options_);
    const std::string counted = record_the_headset(pcmtap, frames);
    EXPECT_EQ(counted.size(), frames * 4) << counted;
    EXPECT_EQ(first_miscounted_frame(counted, kHeadsetFirst), -1);
    pcmtap.write_stdin("\n");
    EXPECT_EQ(pcmtap.wait(), 0);
    EXPECT_EQ(pcmtap.err(), said);
    EXPECT_EQ(default_source(), default_before);
    EXPECT_EQ(active_port(), port_before);
    EXPECT_FALSE(muted());
  }
}

// The last input is the default sink's monitor: catches the card, or
// silence, recorded instead of what the sink plays.
TEST_F(ServerInputs, TheLastInputRecordsWhatTheSinkPlays) {
  start();
  add_headset_and_player();
  const size_t frames = kRate;
  for (const char *arg : {"5", "What the computer plays (Null Output)"}) {
    SCOPED_TRACE(arg);
    Child pcmtap({PCMTAP_PATH, arg}, options_);
    CountingCheck c = gaps_in(counted_frames(pcmtap, frames));
    EXPECT_EQ(c.frames, frames);
    EXPECT_EQ(c.gaps, 0u);
    EXPECT_EQ(c.errors, 0u);
    EXPECT_GE(c.first, kSinkFirst);
    EXPECT_LT(c.first, kSinkFirst + kPlayed);
    pcmtap.write_stdin("\n");
    EXPECT_EQ(pcmtap.wait(), 0);
    EXPECT_EQ(pcmtap.err(), "");
  }
}

// The chosen source is recorded by name: when it goes away the recording
// ends with the reason and every frame it had, instead of moving on to
// another source.
TEST_F(ServerInputs, UnloadingTheChosenSourceEndsTheRecordingWithItsAudio) {
  start();
  add_headset_and_player();
  const size_t frames = kRate;
  Child pcmtap({PCMTAP_PATH, "0"}, options_);
  const std::string counted = record_the_headset(pcmtap, frames);
  server().pactl("unload-module " + headset_module_);
  // Standard input stays open: pcmtap must end on its own.
  EXPECT_EQ(pcmtap.wait(), 1);
  EXPECT_EQ(pcmtap.err(), "pcmtap: recording device: No such device\n");
  EXPECT_EQ(counted.size(), frames * 4) << counted;
  EXPECT_EQ(first_miscounted_frame(counted, kHeadsetFirst), -1);
}

} // namespace
} // namespace pcmtap::test
