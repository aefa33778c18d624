// pcmtap on a desktop's default device, a PulseAudio server of the test's
// own: playing a tone whose period is exactly 100 frames, so that audio
// lost shows as missing duration and a cut as a break in the tone; or
// carrying a sound card's counting frames, where every loss is a gap.
#include "card_server.h"
#include "checked_recording.h"
#include "process.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <thread>

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

class ServerLosses : public ::testing::Test {
protected:
  void start(const std::vector<std::string> &card_settings = {}) {
    card_ = start_card_server({card_settings});
    env_ = card_.server->environment();
  }
  CardServer card_;
  std::vector<std::string> env_;
};

// A reader downstream (`pcmtap - | aplay`) hears the audio soon only if the
// server hands it on in small pieces: a sink's monitor runs at the latency
// its client asks for, where the sink would otherwise render 2 s at once.
TEST(SoundServerLatency, AsksTheServerForPiecesOfAtMost50ms) {
  PulseServer server({"load-module module-null-sink sink_name=out",
                      "load-module module-sine sink=out frequency=441",
                      "set-default-source out.monitor"});
  CheckedRecording rec(server.environment(), {"tone", "100"});
  ASSERT_TRUE(rec.wait_for_frames(kRate));
  std::string sources = server.pactl("list sources");
  size_t at = sources.find("configured ", sources.find("Name: out.monitor"));
  ASSERT_NE(at, std::string::npos) << sources;
  EXPECT_LE(std::atol(sources.c_str() + at + 11), 50000) << sources;
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 0);
}

TEST_F(ServerLosses, AStallLongerThanTheRingIsOneGapSaidOnce) {
  start();
  expect_a_long_stall_reported(env_, {"count"});
}

// A reader at half speed: the backlog must come into pcmtap's ring, not
// wait in the server or in libpulse, where the stop would cut it off.
TEST_F(ServerLosses, AReaderAtHalfSpeedGetsEverythingUpToTheStop) {
  start();
  expect_a_slow_reader_to_get_all_up_to_the_stop(env_, {"count"}, 20);
}

double seconds_between(std::chrono::steady_clock::time_point from,
                       std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

double suspend_loss(const std::string &err) {
  return reported_loss(err, "", "pcmtap: device suspended: ");
}

// Each loss is said on one line of its own, and said once.
size_t messages_in(const std::string &err) {
  size_t n = 0;
  for (size_t at = err.find("pcmtap: "); at != std::string::npos;
       at = err.find("pcmtap: ", at + 1))
    ++n;
  return n;
}

// The card's clock runs on while the server has it closed, so the time
// the source slept is a gap in the count.  Catches a suspend left out, said
// with the wrong length, or said again by the reads after it.
TEST_F(ServerLosses, ASuspendedSourceIsSaidOnceAsTheTimeItSlept) {
  start({"shared_clock true"});
  CheckedRecording rec(env_, {"count"});
  ASSERT_TRUE(rec.wait_for_frames(kRate));
  card_.server->pactl("suspend-source " + card_.source + " 1");
  std::this_thread::sleep_for(std::chrono::seconds(3));
  card_.server->pactl("suspend-source " + card_.source + " 0");
  ASSERT_TRUE(rec.wait_for_frames(3 * kRate)); // and it records on
  double lost = stop_with_one_gap(rec);
  const std::string &err = rec.recorder().err();
  EXPECT_GT(lost, 2.5);
  EXPECT_NEAR(suspend_loss(err), lost, 0.5) << err;
  EXPECT_EQ(messages_in(err), 1u) << err;
}

// Catches a suspend that is said only once the source resumes, or not
// counted up to the stop: the audio from the suspend to the Enter is lost.
TEST_F(ServerLosses, ASourceStillSuspendedAtTheStopIsSaidUpToTheStop) {
  start({"shared_clock true"});
  CheckedRecording rec(env_, {"count"});
  ASSERT_TRUE(rec.wait_for_frames(kRate));
  auto asked = std::chrono::steady_clock::now();
  card_.server->pactl("suspend-source " + card_.source + " 1");
  auto suspended = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  auto stopped = std::chrono::steady_clock::now();
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 0);
  auto ended = std::chrono::steady_clock::now();
  CheckSummary s = rec.summary();
  EXPECT_EQ(s.errors, 0u);
  EXPECT_GE(s.frames, kRate);
  const std::string &err = rec.recorder().err();
  // The server notes the suspend while pactl waits, pcmtap the Enter soon
  // after it comes: the margins are for a loaded machine.
  double lost = suspend_loss(err);
  EXPECT_GE(lost, seconds_between(suspended, stopped) - 0.5) << err;
  EXPECT_LE(lost, seconds_between(asked, ended) + 0.1) << err;
  EXPECT_EQ(messages_in(err), 1u) << err;
}

// Catches a suspend that pcmtap notices only when it changes, missing one
// that was there before the stream: the time until the resume is lost.
TEST_F(ServerLosses, ASourceSuspendedBeforeTheStartIsSaidWhenItResumes) {
  start({"shared_clock true"});
  card_.server->pactl("suspend-source " + card_.source + " 1");
  auto launched = std::chrono::steady_clock::now();
  CheckedRecording rec(env_, {"count"});
  // Connected: the server lists pcmtap's stream.
  for (int i = 0;
       i < 600 && card_.server->pactl("list short source-outputs").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto connected = std::chrono::steady_clock::now();
  ASSERT_FALSE(card_.server->pactl("list short source-outputs").empty());
  std::this_thread::sleep_for(std::chrono::seconds(3));
  auto asked = std::chrono::steady_clock::now();
  card_.server->pactl("suspend-source " + card_.source + " 0");
  auto resumed = std::chrono::steady_clock::now();
  ASSERT_TRUE(rec.wait_for_frames(kRate));
  // Said while it records, not only at the end.
  EXPECT_TRUE(rec.recorder().wait_until(
      [](const std::string &err) {
        return err.find(" s of audio lost\n") != std::string::npos;
      },
      true));
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 0);
  EXPECT_EQ(rec.summary().errors, 0u);
  const std::string &err = rec.recorder().err();
  double lost = suspend_loss(err);
  EXPECT_GE(lost, seconds_between(connected, asked) - 0.5) << err;
  EXPECT_LE(lost, seconds_between(launched, resumed) + 0.1) << err;
  EXPECT_EQ(messages_in(err), 1u) << err;
}

// A stand-in for libpulse (tests/fixtures/libpulse_wrapper.c) first on the
// library path, changing what the environment's `settings` say.
std::vector<std::string>
with_libpulse_wrapper(std::vector<std::string> env,
                      const std::vector<std::string> &settings) {
  env.push_back("LD_LIBRARY_PATH=" LIBPULSE_WRAPPER_DIR);
  env.insert(env.end(), settings.begin(), settings.end());
  return env;
}

// pcmtap is held up (stopped, as a loaded machine may hold it) for 10 s,
// more than libpulse and pcmtap hold, while the server goes on recording,
// and the Enter comes before it runs again: the stop takes all the server
// recorded before the Enter, wherever it waits (queued in the server, held in
// libpulse, or taken from libpulse but not yet written).  Catches a stop that
// drops any of them, or that cuts the recording short of the Enter.  Where
// the server gives no timing answer (stood in for), the stop cannot know
// what waits in the server: held up for 2 s, pcmtap takes in more than
// libpulse has left, and catches a stop that drops what pcmtap had taken
// from libpulse (which the stand-in counts), or counts libpulse's alone.
TEST_F(ServerLosses, AStopWhileReadingIsHeldUpKeepsWhatTheServerSent) {
  start();
  TempDir dir;
  const std::string taken = dir.file("taken");
  for (bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "timing answered" : "no timing answer");
    CheckedRecording rec(
        answers
            ? env_
            : with_libpulse_wrapper(env_, {"PCMTAP_TEST_NO_TIMING=" + taken}),
        {"count"});
    ASSERT_TRUE(rec.wait_for_frames(kRate));
    auto seen = std::chrono::steady_clock::now();
    rec.recorder().send_signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::seconds(answers ? 10 : 2));
    rec.recorder().write_stdin("\n");
    auto entered = std::chrono::steady_clock::now();
    rec.recorder().send_signal(SIGCONT);
    EXPECT_EQ(rec.recorder().wait(), 0);
    CheckSummary s = rec.summary();
    EXPECT_EQ(s.gaps, 0u);
    EXPECT_EQ(s.errors, 0u);
    EXPECT_EQ(s.partial, 0u);
    // The card had made a second when the checker had seen a second, and
    // the time since; half a second is room for the server's pace on a
    // loaded machine.
    if (answers)
      EXPECT_GE(double(s.frames) / kRate,
                1.0 + seconds_between(seen, entered) - 0.5);
    else
      EXPECT_GE(s.frames * 4, std::stoull(read_file(taken)));
    EXPECT_EQ(rec.recorder().err(), "");
  }
}

// A hole the server leaves in the stream (libpulse's peek answering no data
// for a length; stood in for, 88,200 bytes before the first piece) is that
// many bytes' worth of audio lost, in a source's recording and in a
// program's (input 5, what a player plays).  Catches its bytes said as
// frames (2.00 s), or the hole not said.
TEST_F(ServerLosses, AHoleInTheStreamIsSaidAsTheAudioItLeftOut) {
  start();
  TempDir played;
  auto player = play_counting_frames(env_, "out", played, 1, 120 * kRate);
  ASSERT_TRUE(wait_for_playing_streams(
      [&](const std::string &args) { return card_.server->pactl(args); }, 1));
  for (const char *input : {"-", "5"}) {
    SCOPED_TRACE(input);
    CheckedRecording rec(
        with_libpulse_wrapper(env_, {"PCMTAP_TEST_HOLE_BYTES=88200"}),
        {"count"}, kRate, {PCMTAP_PATH, input});
    ASSERT_TRUE(rec.wait_for_frames(kRate));
    rec.recorder().write_stdin("\n");
    EXPECT_EQ(rec.recorder().wait(), 0);
    EXPECT_EQ(rec.summary().errors, 0u);
    EXPECT_EQ(rec.recorder().err(),
              "pcmtap: overrun: 0.50 s of audio lost (device)\n");
  }
}

// Held up for longer than the server keeps for the stream (23.8 s), pcmtap
// finds gaps in what the server sent (the server drops what does not fit,
// but lets slivers through as room comes).  Catches the loss not said, said
// with another length, or said as another cause.
TEST_F(ServerLosses, AHoldUpLongerThanTheServerKeepsIsSaidAsTheDevicesLoss) {
  start();
  CheckedRecording rec(env_, {"count"});
  ASSERT_TRUE(rec.wait_for_frames(kRate));
  rec.recorder().send_signal(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::seconds(30));
  rec.recorder().send_signal(SIGCONT);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 0);
  const CheckSummary s = rec.summary();
  EXPECT_EQ(s.errors, 0u);
  EXPECT_EQ(s.partial, 0u);
  const double lost = double(s.lost) / kRate;
  const std::string &err = rec.recorder().err();
  EXPECT_GT(lost, 2.0);
  EXPECT_NEAR(said_losses(err, "device").seconds, lost, 0.02 * lost) << err;
  EXPECT_NE(said_losses(err, "device").lines, 0u) << err;
  EXPECT_EQ(said_losses(err, "output too slow").lines, 0u) << err;
}

// pcmtap sleeps through the server's last half second, then finds its
// audio and the server's end at once: the audio is not lost with the
// server.  (Half a second fits in the socket; what the server still held
// when it died was never sent.)
TEST_F(ServerLosses, AServerThatDiesLeavesAllItSentInTheOutput) {
  start();
  CheckedRecording rec(env_, {"count"});
  ASSERT_TRUE(rec.wait_for_frames(kRate));
  auto seen = std::chrono::steady_clock::now();
  rec.recorder().send_signal(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  auto died = std::chrono::steady_clock::now();
  card_.server->kill_now();
  rec.recorder().send_signal(SIGCONT);
  // Standard input stays open: pcmtap must end on its own.
  EXPECT_EQ(rec.recorder().wait(), 1);
  EXPECT_EQ(rec.recorder().err().rfind("pcmtap: recording device: ", 0), 0u)
      << rec.recorder().err();
  CheckSummary s = rec.summary();
  EXPECT_EQ(s.gaps, 0u);
  EXPECT_EQ(s.errors, 0u);
  EXPECT_EQ(s.partial, 0u);
  // The card had made a second of audio when the checker had seen it; the
  // server hands on what the card makes within a quarter of a second.
  double sent = 1.0 + std::chrono::duration<double>(died - seen).count() - 0.25;
  EXPECT_GE(double(s.frames) / kRate, sent);
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
    const char *out;
    std::string err;
  } cases[] = {
      {empty.environment(), "RecordInit falied.\n",
       "pcmtap: no recording device: sound server \"unix:"},
      {no_sink.environment(), "BASS_Init falied.\n",
       "pcmtap: no playback device: sound server \"unix:"},
      {nowhere, "RecordInit falied.\n",
       "pcmtap: no recording device: sound server \"unix:" + empty.dir() +
           "/none\": "},
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
