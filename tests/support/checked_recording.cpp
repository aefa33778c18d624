#include "checked_recording.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace pcmtap::test {
namespace {

uint64_t last_progress(const std::string &out) {
  size_t at = out.rfind("progress ");
  return at == std::string::npos ? 0 : std::strtoull(&out[at + 9], nullptr, 10);
}

} // namespace

CheckedRecording::CheckedRecording(const std::vector<std::string> &env,
                                   const std::vector<std::string> &check_args,
                                   uint64_t progress_frames,
                                   const std::vector<std::string> &recorder) {
  std::string fifo = dir_.file("audio");
  if (mkfifo(fifo.c_str(), 0600) != 0)
    throw std::runtime_error("mkfifo failed");
  std::vector<std::string> argv = {FRAME_CHECK_PATH};
  argv.insert(argv.end(), check_args.begin(), check_args.end());
  argv.insert(argv.end(), {"--progress", std::to_string(progress_frames)});
  ChildOptions checking;
  checking.stdin_path = fifo;
  checker_ = std::make_unique<Child>(argv, checking);
  ChildOptions recording;
  recording.env = env;
  recording.stdout_path = fifo;
  recorder_ = std::make_unique<Child>(recorder, recording);
}

bool CheckedRecording::wait_for_frames(uint64_t frames) {
  if (checker_->wait_until(
          [&](const std::string &out) { return last_progress(out) >= frames; }))
    return true;
  // Where it stopped, for the log of a run that hung.
  std::string threads;
  for (const ThreadState &t : thread_states(recorder_->pid()))
    threads += " " + t.tid + ":" + t.state + ":" + t.wchan;
  std::fprintf(stderr, "checker at %llu frames; pcmtap's threads:%s\n%s",
               (unsigned long long)last_progress(checker_->out()),
               threads.c_str(), recorder_->err().c_str());
  return false;
}

CheckSummary CheckedRecording::summary() {
  checker_->wait();
  std::string out = checker_->out();
  CheckSummary s;
  size_t at = out.rfind("frames=");
  if (at == std::string::npos)
    throw std::runtime_error("frame_check printed no summary: " + out);
  unsigned long long v[8];
  if (std::sscanf(&out[at],
                  "frames=%llu first=%llu gaps=%llu lost=%llu errors=%llu "
                  "breaks=%llu partial=%llu shortest=%llu",
                  &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]) != 8)
    throw std::runtime_error("unreadable summary: " + out.substr(at));
  s = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
  return s;
}

void expect_unplugging_ends_it(CheckedRecording &rec,
                               const std::string &fail_file,
                               const std::string &device) {
  ASSERT_TRUE(rec.wait_for_frames(44100));
  write_file(fail_file, "");
  // Standard input stays open: pcmtap must end on its own.
  EXPECT_EQ(rec.recorder().wait(), 1);
  EXPECT_EQ(rec.recorder().err(),
            "pcmtap: recording device: " + device + "No such device\n");
  CheckSummary s = rec.summary();
  EXPECT_EQ(s.gaps, 0u);
  EXPECT_EQ(s.errors, 0u);
  EXPECT_GE(s.frames, 44100u);
  EXPECT_GE(s.shortest, 44100u / 20 * 4);
}

double stop_with_one_gap(CheckedRecording &rec) {
  rec.recorder().write_stdin("\n");
  EXPECT_EQ(rec.recorder().wait(), 0);
  CheckSummary s = rec.summary();
  EXPECT_EQ(s.gaps, 1u);
  EXPECT_EQ(s.errors, 0u);
  EXPECT_EQ(s.partial, 0u);
  return double(s.lost) / 44100;
}

void expect_a_long_stall_reported(const std::vector<std::string> &env,
                                  std::vector<std::string> check_args) {
  const uint64_t rate = 44100;
  check_args.insert(check_args.end(),
                    {"--stall-at", "176400", "--stall-ms", "35000"});
  CheckedRecording rec(env, check_args);
  // pcmtap's ring and the pipe hold some 30 s: at 33 s the checker is past
  // the gap.
  ASSERT_TRUE(rec.wait_for_frames(33 * rate));
  const double lost = stop_with_one_gap(rec);
  const std::string &err = rec.recorder().err();
  EXPECT_GT(lost, 1.0);
  EXPECT_NEAR(reported_loss(err, "output too slow"), lost, 0.02 * lost) << err;
  EXPECT_EQ(err.find("pcmtap: "), err.rfind("pcmtap: ")) << err;
}

double reported_loss(const std::string &err, const std::string &cause,
                     const std::string &head) {
  std::string tail =
      " s of audio lost" + (cause.empty() ? "" : " (" + cause + ")") + "\n";
  size_t end = err.find(tail);
  size_t start = err.rfind(head, end);
  if (end == std::string::npos || start == std::string::npos)
    return -1;
  return std::atof(err.c_str() + start + head.size());
}

std::string counted_frames(Child &pcmtap, size_t frames) {
  const size_t bytes = frames * 4;
  pcmtap.wait_until([&](const std::string &out) {
    return out.size() >= leading_silence(out) + bytes ||
           out.size() >= 30 * 44100 * 4;
  });
  const std::string out = pcmtap.out();
  return out.substr(leading_silence(out), bytes);
}

std::string headset_module_args(const std::string &name,
                                const std::string &fifo) {
  // Through /bin/sh: the description's quotes reach the server.
  return "load-module module-pipe-source source_name=" + name +
         " file=" + fifo +
         " format=s16le rate=44100 channels=2 "
         "\"source_properties='device.description=\\\"USB Headset\\\"'\"";
}

std::unique_ptr<Child> play_counting_frames(const std::vector<std::string> &env,
                                            const std::string &sink,
                                            const TempDir &dir, uint32_t first,
                                            size_t frames) {
  const std::string file = dir.file("played");
  write_file(file, counting_frames(first, frames));
  ChildOptions options;
  options.env = env;
  return std::make_unique<Child>(
      std::vector<std::string>{"/usr/bin/env", "pacat", "--raw",
                               "--format=s16le", "--rate=44100", "--channels=2",
                               "--device=" + sink, file},
      options);
}

SaidLosses said_losses(const std::string &err, const std::string &cause) {
  SaidLosses said;
  const std::string figure = " s of audio lost";
  for (size_t at = 0; at < err.size();) {
    size_t eol = err.find('\n', at);
    std::string line = err.substr(at, eol - at);
    at = eol == std::string::npos ? err.size() : eol + 1;
    size_t end = line.find(figure);
    if (end == std::string::npos)
      continue;
    size_t start = line.find_last_of(' ', end - 1) + 1;
    said.seconds += std::atof(line.c_str() + start);
    said.lines += line.find("(" + cause + ")") != std::string::npos;
  }
  return said;
}

std::string expect_a_slow_reader_to_get_all_up_to_the_stop(
    const std::vector<std::string> &env, std::vector<std::string> check_args,
    double seconds, const std::vector<std::string> &recorder) {
  const double rate = 44100;
  const uint64_t seen_frames = 4410;
  check_args.insert(check_args.end(), {"--rate", "88200"});
  CheckedRecording rec(env, check_args, seen_frames, recorder);
  if (!rec.wait_for_frames(seen_frames)) {
    ADD_FAILURE() << "no audio came: " << rec.recorder().err();
    return rec.recorder().err();
  }
  const auto seen = std::chrono::steady_clock::now();
  const auto stop_due = seen + std::chrono::duration<double>(seconds);
  std::string said_then; // pcmtap's standard error when a loss was first said
  while (std::chrono::steady_clock::now() < stop_due) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (said_then.empty() &&
        said_losses(rec.recorder().err(), "output too slow").lines != 0)
      said_then = rec.recorder().err();
  }
  const auto stopped = std::chrono::steady_clock::now();
  rec.recorder().write_stdin("\n");
  // Everything the stop took is in pcmtap's ring now: the rest may be read
  // at full speed, and the test ends sooner.
  rec.checker().send_signal(SIGUSR1);
  EXPECT_EQ(rec.recorder().wait(), 0);
  CheckSummary s = rec.summary();
  const std::string &err = rec.recorder().err();
  EXPECT_EQ(s.errors, 0u);
  EXPECT_EQ(s.partial, 0u);
  // The frame seen first was recorded before `seen`; the last one came
  // from the stop or later, the frames lost counting as time too.
  const double reached = double(s.frames + s.lost - seen_frames) / rate;
  const double due =
      std::chrono::duration<double>(stopped - seen).count() - 0.5;
  EXPECT_GE(reached, due) << err;
  const double lost = double(s.lost) / rate;
  EXPECT_NEAR(said_losses(err, "output too slow").seconds, lost,
              0.02 * lost + 0.005)
      << err;
  // Catches a full ring's loss said only at the stop, or long after it
  // began: at most half of what comes is read, so a first line of x s came
  // at most 2x s after the loss began, on a slow machine too.
  if (s.lost != 0) {
    EXPECT_NE(said_then, "") << "said only at the stop: " << err;
    EXPECT_LE(said_losses(said_then, "output too slow").seconds, 5.0)
        << said_then;
  }
  return err;
}

} // namespace pcmtap::test
