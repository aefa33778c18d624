// The inputs of the programs that play, on PulseAudio and on PipeWire
// through its PulseAudio server alike: each program that plays counting
// frames of its own (stream_player) is an input after what the computer
// plays, records its frames alone, and is followed from stream to stream
// until it leaves, while nothing on the server changes.
#include "checked_recording.h"
#include "pipewire_server.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

namespace pcmtap::test {
namespace {

const size_t kRate = 44100;
const std::string kUsage =
    "Usage: pcmtap # = use the device # from the list below\n"
    "       pcmtap - = use the default device\n\n";

class ProgramInputs : public ::testing::TestWithParam<std::string> {
protected:
  void SetUp() override {
    if (GetParam() == "PulseAudio")
      pulse_ = std::make_unique<PulseServer>(
          std::vector<std::string>{"load-module module-null-sink sink_name=out",
                                   "set-default-sink out"});
    else
      // Periods as the players ask for them: a program's streams are
      // followed as a desktop runs them.
      pipewire_ = std::make_unique<PipewireServer>(0);
    options_.env = pulse_ ? pulse_->environment() : pipewire_->environment();
  }
  std::string pactl(const std::string &args) const {
    return pulse_ ? pulse_->pactl(args) : pipewire_->pactl(args);
  }
  std::string computer_plays() const {
    return std::string("What the computer plays (") +
           (pulse_ ? "Null Output" : "Dummy Output") + ")";
  }
  // A program of its own name (and binary, if given) playing `segments`
  // ("FIRST:FRAMES:PAUSE_MS"); once `streams` streams play on the server.
  std::unique_ptr<Child> play(const std::string &name,
                              const std::string &binary,
                              const std::vector<std::string> &segments,
                              size_t streams) {
    // PipeWire (0.3.65) drops periods of a stream's monitor more often
    // when the graph runs on short periods, as a player little ahead makes
    // it; PulseAudio's null sink, for its part, renders as far ahead as
    // its streams allow, before a monitor opened on a new one is there.
    // Less than 500 ms ahead, a player on a loaded machine runs short.
    const std::string latency_ms = pulse_ ? "500" : "1000";
    std::vector<std::string> argv = {STREAM_PLAYER_PATH, name, binary,
                                     latency_ms};
    argv.insert(argv.end(), segments.begin(), segments.end());
    auto player = std::make_unique<Child>(argv, options_);
    EXPECT_TRUE(wait_for_playing_streams(
        [&](const std::string &args) { return pactl(args); }, streams));
    return player;
  }
  // The streams and the sinks they play on, which recording a program
  // must leave as they are; `with_state`: and whether each sink runs.
  std::string streams_and_sinks(bool with_state = true) const {
    std::istringstream sinks(pactl("list short sinks"));
    std::string listed = pactl("list short sink-inputs");
    for (std::string sink; std::getline(sinks, sink);) // the state is last
      listed += (with_state ? sink : sink.substr(0, sink.rfind('\t'))) + "\n";
    return listed;
  }
  // PipeWire 0.3.65 now and then drops a period of a stream's monitor,
  // sending a silent one after the next in its place or not (parec
  // --monitor-stream alike; more often on a loaded machine).  On PipeWire
  // those, and only those, are mended in the count of `out`, and counted;
  // on PulseAudio the count must be whole as it came.
  size_t mend_pipewire_drops(std::string *out) const {
    if (pulse_)
      return 0;
    std::vector<uint32_t> v(out->size() / 4);
    std::memcpy(v.data(), out->data(), v.size() * 4);
    size_t mended = 0;
    for (size_t i = 1; i < v.size(); ++i) {
      const uint32_t k = v[i] - v[i - 1] - 1;
      if (v[i - 1] == 0 || v[i] == 0 || k == 0 || k > 8192)
        continue;
      const size_t zeros = i + k;
      bool silent_after = zeros + k <= v.size();
      for (size_t j = 0; silent_after && j < k; ++j)
        silent_after = v[zeros + j] == 0 && v[i + j] == v[i] + j;
      if (silent_after)
        v.erase(v.begin() + long(zeros), v.begin() + long(zeros + k));
      std::vector<uint32_t> lost(k);
      for (size_t j = 0; j < k; ++j)
        lost[j] = v[i - 1] + 1 + uint32_t(j);
      v.insert(v.begin() + long(i), lost.begin(), lost.end());
      ++mended;
    }
    out->assign(reinterpret_cast<const char *>(v.data()), v.size() * 4);
    return mended;
  }
  // Until pcmtap has written the counting frame `frame`.
  static bool wrote_frame(Child &pcmtap, uint32_t frame) {
    const std::string bytes(reinterpret_cast<const char *>(&frame), 4);
    return pcmtap.wait_until([&](const std::string &out) {
      return out.find(bytes) != std::string::npos;
    });
  }
  // Until the server has no record stream left, within a limit.
  bool no_record_stream_left() const {
    const auto limit =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pactl("list short source-outputs").empty())
      if (std::chrono::steady_clock::now() >= limit)
        return false;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
  }

  std::unique_ptr<PulseServer> pulse_;
  std::unique_ptr<PipewireServer> pipewire_;
  ChildOptions options_;
};

std::string listed(size_t n, const std::string &name) {
  return "     " + std::to_string(n) + ". Name=\"" + name +
         "\", Type=\"wave/pcm\"\n";
}

// Catches a program left out, one input per stream or per process, numbers
// out of the order of the names, and two programs of one name told apart
// by nothing.
TEST_P(ProgramInputs, ListsEachProgramOnceByNameAfterWhatTheComputerPlays) {
  const std::string frames = "0:" + std::to_string(120 * kRate);
  auto beta = play("Beta", "", {frames}, 1);
  auto alpha = play("Alpha", "", {frames}, 2);
  auto alpha_again = play("Alpha", "", {frames}, 3);
  auto gamma_b = play("Gamma", "gamma-b", {frames}, 4);
  auto gamma_a = play("Gamma", "gamma-a", {frames}, 5);
  Result r = run({PCMTAP_PATH}, options_);
  EXPECT_EQ(r.out, kUsage + listed(0, computer_plays()) +
                       listed(1, "What Alpha plays") +
                       listed(2, "What Beta plays") +
                       listed(3, "What Gamma (gamma-a) plays") +
                       listed(4, "What Gamma (gamma-b) plays"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// Catches the sink's monitor (both programs) recorded instead of the
// program's stream, the other program's input recorded, a stream moved
// or a sink added to record it, and a record stream that outlives
// pcmtap, whether it stops or is killed.
TEST_P(ProgramInputs,
       EachProgramsInputCarriesItsOwnFramesAloneChangingNothing) {
  const uint32_t alpha_first = 0x10000000, beta_first = 0x50000000;
  const size_t played = 120 * kRate;
  auto alpha =
      play("Alpha", "",
           {std::to_string(alpha_first) + ":" + std::to_string(played)}, 1);
  auto beta =
      play("Beta", "",
           {std::to_string(beta_first) + ":" + std::to_string(played)}, 2);
  const std::string before = streams_and_sinks();
  for (auto [input, first] :
       {std::pair{"1", alpha_first}, {"WHAT BETA PLAYS", beta_first}}) {
    SCOPED_TRACE(input);
    Child pcmtap({PCMTAP_PATH, input}, options_);
    std::string counted = counted_frames(pcmtap, kRate);
    EXPECT_LE(mend_pipewire_drops(&counted), 2u);
    CountingCheck c = gaps_in(counted.substr(0, kRate * 4));
    EXPECT_EQ(c.frames, kRate);
    EXPECT_EQ(c.gaps, 0u);
    EXPECT_EQ(c.errors, 0u);
    EXPECT_GE(c.first, first);
    EXPECT_LT(c.first, first + played);
    EXPECT_EQ(streams_and_sinks(), before);
    if (first == alpha_first) {
      pcmtap.write_stdin("\n");
      EXPECT_EQ(pcmtap.wait(), 0);
    } else {
      pcmtap.send_signal(SIGKILL);
      EXPECT_EQ(pcmtap.wait(), 128 + SIGKILL);
    }
    EXPECT_EQ(pcmtap.err(), "");
    EXPECT_TRUE(no_record_stream_left());
    EXPECT_EQ(streams_and_sinks(), before);
  }
}

// Two players of one name at once, one counting in the left channel, the
// other in the right, chosen by that name.  Catches a program recorded from
// one of its streams or processes only, streams that replace each other
// instead of adding up, and streams out of step with each other in the mix.
TEST_P(ProgramInputs, AProgramsStreamsAtOnceAreMixed) {
  const std::string frames = std::to_string(120 * kRate);
  auto left = play("Echo", "", {"1:" + frames + ":0:L"}, 1);
  auto right = play("Echo", "", {"1:" + frames + ":0:R"}, 2);
  Child pcmtap({PCMTAP_PATH, "What Echo plays"}, options_);
  // From the first frame where both count, a second of both.
  auto both_from = [](const std::string &out) {
    for (size_t at = 0; at + 4 <= out.size(); at += 4)
      if (out[at] | out[at + 1] && out[at + 2] | out[at + 3])
        return at;
    return out.size();
  };
  ASSERT_TRUE(pcmtap.wait_until([&](const std::string &out) {
    return out.size() >= both_from(out) + kRate * 4 ||
           out.size() >= 20 * kRate * 4;
  })) << pcmtap.err();
  const std::string out = pcmtap.out();
  const size_t from = both_from(out);
  ASSERT_LE(from + kRate * 4, out.size()) << "one of the streams is missing";
  size_t breaks = 0;
  for (size_t at = from + 4; at < from + kRate * 4; at += 4) {
    uint16_t now[2], before[2];
    std::memcpy(now, &out[at], 4);
    std::memcpy(before, &out[at - 4], 4);
    breaks +=
        now[0] != uint16_t(before[0] + 1) || now[1] != uint16_t(before[1] + 1);
  }
  // A period PipeWire drops breaks one channel's count twice.
  EXPECT_LE(breaks, pulse_ ? 0u : 4u);
  pcmtap.write_stdin("\n");
  EXPECT_EQ(pcmtap.wait(), 0);
  EXPECT_EQ(pcmtap.err(), "");
}

// The frames of a count in `out` from `at` on: where the count starts and
// how long it runs unbroken.
struct CountRun {
  uint32_t first = 0;
  size_t frames = 0;
};
CountRun count_at(const std::string &out, size_t at) {
  CountRun found;
  for (uint32_t v; at + 4 <= out.size(); at += 4, ++found.frames) {
    std::memcpy(&v, &out[at], 4);
    if (v == 0 || (found.frames != 0 && v != found.first + found.frames))
      break;
    if (found.frames == 0)
      found.first = v;
  }
  return found;
}

// A program whose stream ends and whose next one starts 2 s later, then
// leaves.  Catches a recording that ends or stalls with the first stream,
// misses the next one, drops the silence between or makes it longer than
// it was, and one that ends, says nothing or says it more than once when
// the program leaves.
TEST_P(ProgramInputs, FollowsTheProgramThroughASilenceToItsNextStreamAndAfter) {
  const uint32_t first = 0x10000000, second = 0x20000000;
  const size_t first_frames = 4 * kRate, second_frames = 2 * kRate;
  auto player = play(
      "Delta", "",
      {std::to_string(first) + ":" + std::to_string(first_frames) + ":2000",
       std::to_string(second) + ":" + std::to_string(second_frames)},
      1);
  Child pcmtap({PCMTAP_PATH, "1"}, options_);
  ASSERT_TRUE(wrote_frame(pcmtap, second + uint32_t(second_frames) - 1))
      << pcmtap.err();
  player->close_stdin();
  EXPECT_EQ(player->wait(), 0) << player->err();
  const std::string gone = "pcmtap: \"Delta\" has gone from the sound server; "
                           "recording silence until it plays again\n";
  ASSERT_TRUE(pcmtap.wait_until(
      [&](const std::string &err) { return err == gone; }, true))
      << pcmtap.err();
  // Silence goes on after it: a second more of it.
  EXPECT_TRUE(pcmtap.wait_for_output(pcmtap.out_size() + kRate * 4));
  pcmtap.write_stdin("\n");
  EXPECT_EQ(pcmtap.wait(), 0);
  EXPECT_EQ(pcmtap.err(), gone);

  std::string out = pcmtap.out();
  EXPECT_LE(mend_pipewire_drops(&out), 3u);
  const size_t start = leading_silence(out);
  const CountRun one = count_at(out, start);
  EXPECT_GE(one.first, first);
  EXPECT_EQ(one.first + one.frames, first + first_frames);
  const size_t silence_end =
      leading_silence(out.substr(start + one.frames * 4));
  const size_t silent = silence_end / 4;
  const CountRun two = count_at(out, start + one.frames * 4 + silence_end);
  EXPECT_GE(two.first, second);
  EXPECT_EQ(two.first + two.frames, second + second_frames);
  // The silence, and what the monitor missed of the next stream before it
  // was on it, are the time between: 2 s and the player's own delays.
  const double paused = std::atof(player->out().c_str() + 7);
  const double between = double(silent + (two.first - second)) / kRate;
  EXPECT_GT(paused, 1.99) << player->out();
  EXPECT_GE(between, paused - 0.4);
  EXPECT_LE(between, paused + 1.0);
  const std::string rest =
      out.substr(start + one.frames * 4 + silence_end + two.frames * 4);
  EXPECT_EQ(leading_silence(rest), rest.size());
  EXPECT_GE(rest.size(), kRate * 4);
}

// A program asked for by name before it plays, which ends and plays
// again, from a new player of its name, 2 s later.  Catches a name that
// cannot wait for its program, silence that does not keep time before it
// or between, the start of a stream lost, a program not picked up again,
// a change said more than once or not at all, and a stream moved or a sink
// added to record it.
TEST_P(ProgramInputs, AProgramByNameIsAwaitedAndRecordedWheneverItPlays) {
  const uint32_t firsts[] = {0x10000000, 0x20000000};
  const size_t frames = 2 * kRate;
  const std::string before = streams_and_sinks(false);
  Child pcmtap({PCMTAP_PATH, "what LATE plays"}, options_);
  std::string said = "pcmtap: waiting for \"LATE\" to play; recording "
                     "silence until it does\n";
  const auto said_so = [&](const std::string &err) { return err == said; };
  ASSERT_TRUE(pcmtap.wait_until(said_so, true)) << pcmtap.err();
  for (uint32_t first : firsts) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    auto player = play(
        "Late", "", {std::to_string(first) + ":" + std::to_string(frames)}, 1);
    ASSERT_TRUE(wrote_frame(pcmtap, first + uint32_t(frames) - 1))
        << pcmtap.err();
    player->close_stdin();
    EXPECT_EQ(player->wait(), 0) << player->err();
    said += first == firsts[0] ? "pcmtap: \"LATE\" plays now; recording it\n"
                               : "pcmtap: \"LATE\" plays again; recording it\n";
    said += "pcmtap: \"LATE\" has gone from the sound server; recording "
            "silence until it plays again\n";
    ASSERT_TRUE(pcmtap.wait_until(said_so, true)) << pcmtap.err();
  }
  pcmtap.write_stdin("\n");
  EXPECT_EQ(pcmtap.wait(), 0);
  EXPECT_EQ(pcmtap.err(), said);
  EXPECT_EQ(streams_and_sinks(false), before);

  std::string out = pcmtap.out();
  EXPECT_LE(mend_pipewire_drops(&out), 3u);
  size_t at = 0;
  for (uint32_t first : firsts) {
    SCOPED_TRACE(first);
    const size_t silent = leading_silence(out.substr(at)) / 4;
    const CountRun run = count_at(out, at + silent * 4);
    EXPECT_GE(double(silent) / kRate, 1.9);
    // From its first frame on, but for what the sink rendered before the
    // monitor was on the new stream: a period at most, 200 ms.
    EXPECT_LE(run.first - first, kRate / 5);
    EXPECT_EQ(run.first + run.frames, first + frames);
    at += (silent + run.frames) * 4;
  }
  EXPECT_EQ(leading_silence(out.substr(at)), out.size() - at);
}

INSTANTIATE_TEST_SUITE_P(Servers, ProgramInputs,
                         ::testing::Values("PulseAudio", "PipeWire"),
                         [](const auto &server) { return server.param; });

} // namespace
} // namespace pcmtap::test
