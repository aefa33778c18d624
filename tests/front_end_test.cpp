// pcmtap's front end against the fake library: which calls it makes, what it
// writes and how it ends.
#include "process.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace pcmtap::test {
namespace {

const size_t kBlockBytes = 1024 * 4; // the fake's block

class FrontEnd : public ::testing::Test {
protected:
  ChildOptions options(std::vector<std::string> env = {}) {
    env.push_back("FAKE_LOG=" + dir_.file("calls.log"));
    ChildOptions o;
    o.env = env;
    return o;
  }
  Result run_fake(const std::vector<std::string> &args,
                  std::vector<std::string> env = {},
                  const std::string &input = "") {
    std::vector<std::string> argv = {PCMTAP_FAKE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, options(env), input);
  }
  // Waits, up to a limit that only guards against hangs, until the fake
  // was called with `prefix`.
  bool wait_for_call(const std::string &prefix) const {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (calls(prefix).empty()) {
      if (std::chrono::steady_clock::now() > limit)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  std::vector<std::string> calls(const std::string &prefix = "") const {
    std::istringstream log(read_file(dir_.file("calls.log")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
      if (line.rfind(prefix, 0) == 0)
        lines.push_back(line);
    return lines;
  }

  TempDir dir_;
};

const char *const kThreeInputs =
    "FAKE_INPUTS=03000000=Mic;02010000=Line;05010000=CD";

TEST_F(FrontEnd, FailedStartUpPrintsItsLineAloneAndFails) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{}, {"1"}, {"-"}, {"a", "b"}}) {
    Result r = run_fake(args, {"FAKE_RECORD_INIT=fail"});
    EXPECT_EQ(r.out, "RecordInit falied.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(calls(), std::vector<std::string>{"RecordInit -1"});
    std::remove(dir_.file("calls.log").c_str());

    r = run_fake(args, {"FAKE_INIT=fail", kThreeInputs});
    EXPECT_EQ(r.out, "BASS_Init falied.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(calls(), (std::vector<std::string>{
                           "RecordInit -1", "Init -1 44100 0 (nil) (nil)"}));
    std::remove(dir_.file("calls.log").c_str());
  }
}

TEST_F(FrontEnd, HelpAndVersionTouchNoDevice) {
  Result version = run_fake({"--version"}, {kThreeInputs});
  EXPECT_EQ(version.out,
            "pcmtap 1.0.0\n"
            "License: MIT <https://opensource.org/licenses/MIT>\n");
  Result help = run_fake({"--help"}, {kThreeInputs});
  EXPECT_EQ(help.out.rfind("Usage: pcmtap # = use the device # from the "
                           "list below\n",
                           0),
            0u)
      << help.out;
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  EXPECT_NE(help.out.find("man pcmtap"), std::string::npos);
  for (const Result &r : {version, help}) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(calls().empty());

  ChildOptions full = options();
  full.stdout_path = "/dev/full";
  for (const char *arg : {"--help", "--version"}) {
    Result r = run({PCMTAP_FAKE_PATH, arg}, full);
    EXPECT_EQ(r.status, 1) << arg;
    EXPECT_EQ(r.err, "pcmtap: write <stdout>: No space left on device\n");
  }
}

TEST_F(FrontEnd, DashLeavesTheInputsAlone) {
  // Only the exact help options are not recordings.
  for (const char *arg : {"-", "-1", "-abc", "--helpx", "--version=1", "-h"}) {
    Result r = run_fake({arg}, {kThreeInputs});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(calls("RecordGetInput").empty()) << arg;
    EXPECT_TRUE(calls("RecordSetInput").empty()) << arg;
    EXPECT_EQ(calls("RecordStart"),
              std::vector<std::string>{"RecordStart 44100 2 0 (nil)"});
    std::remove(dir_.file("calls.log").c_str());
  }
}

TEST_F(FrontEnd, SwitchesEveryInputOffThenTheChosenOneOn) {
  struct Case {
    const char *arg;
    const char *chosen;
  } cases[] = {
      {"1", "1"}, {"2abc", "2"}, {"", "0"}, {"abc", "0"}, {" +1", "1"}};
  for (const Case &c : cases) {
    Result r = run_fake({c.arg}, {kThreeInputs});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(calls("RecordSetInput"),
              (std::vector<std::string>{
                  "RecordSetInput 0 off -> 1", "RecordSetInput 1 off -> 1",
                  "RecordSetInput 2 off -> 1", "RecordSetInput 3 off -> 0",
                  std::string("RecordSetInput ") + c.chosen + " on -> 1"}))
        << '"' << c.arg << '"';
    std::vector<std::string> tail = calls();
    tail.erase(tail.begin(), tail.end() - 3);
    EXPECT_EQ(tail, (std::vector<std::string>{"RecordStart 44100 2 0 (nil)",
                                              "RecordFree", "Free"}));
    std::remove(dir_.file("calls.log").c_str());
  }
}

TEST_F(FrontEnd, AnInputTheDeviceLacksSwitchesAndRecordsNothing) {
  for (const char *arg : {"3", " -1", "99999999999", "2147483648"}) {
    Result r = run_fake({arg}, {kThreeInputs});
    EXPECT_EQ(r.status, 2) << arg;
    EXPECT_EQ(r.out, "");
    std::string number = std::string(arg).substr(arg[0] == ' ' ? 1 : 0);
    EXPECT_EQ(r.err, "pcmtap: there is no input " + number +
                         " on the recording device; run pcmtap without "
                         "arguments to list the inputs\n");
    EXPECT_TRUE(calls("RecordSetInput").empty()) << arg;
    EXPECT_TRUE(calls("RecordStart").empty()) << arg;
    std::remove(dir_.file("calls.log").c_str());
  }
}

TEST_F(FrontEnd, ARefusedSwitchOnPutsTheInputsBack) {
  Result r = run_fake({"2"}, {"FAKE_INPUTS=03000000=Mic;02010000=Line;"
                              "05000000=CD",
                              "FAKE_REFUSE_ON=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pcmtap: cannot switch on input 2; the inputs are left "
                   "as they were\n");
  EXPECT_EQ(calls("RecordSetInput"),
            (std::vector<std::string>{
                "RecordSetInput 0 off -> 1", "RecordSetInput 1 off -> 1",
                "RecordSetInput 2 off -> 1", "RecordSetInput 3 off -> 0",
                "RecordSetInput 2 on -> 0",
                // Only the inputs that were on before.
                "RecordSetInput 0 on -> 0", "RecordSetInput 2 on -> 0"}));
  EXPECT_TRUE(calls("RecordStart").empty());
}

TEST_F(FrontEnd, WritesEveryCapturedBlockInOrder) {
  // The stop comes at once, before most blocks were delivered: freeing the
  // library must still bring them all out.
  Result r = run_fake({"-"}, {"FAKE_BLOCKS=500"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.size(), 500 * kBlockBytes);
  EXPECT_EQ(first_miscounted_frame(r.out, 0), -1);
}

TEST_F(FrontEnd, StopsOnACharacterOrASignal) {
  // Blocks of 1001 frames: each is out the moment it came, none waits in a
  // buffer for the next one to fill it up.
  const size_t kOddBlockBytes = 1001 * 4;
  for (int how : {0, SIGINT, SIGTERM}) {
    Child child({PCMTAP_FAKE_PATH, "-"},
                options({"FAKE_BLOCKS=64", "FAKE_BLOCK_FRAMES=1001"}));
    ASSERT_TRUE(child.wait_for_output(64 * kOddBlockBytes)) << how;
    if (how == 0)
      child.write_stdin("\n");
    else
      child.send_signal(how);
    EXPECT_EQ(child.wait(), 0) << how;
    EXPECT_EQ(child.out_size(), 64 * kOddBlockBytes);
    EXPECT_EQ(first_miscounted_frame(child.out(), 0), -1);
    EXPECT_EQ(child.err(), "");
    EXPECT_EQ(calls().back(), "Free");
    std::remove(dir_.file("calls.log").c_str());
  }
}

TEST_F(FrontEnd, ASecondSignalEndsAtOnce) {
  // The reader stalls, so the first signal's orderly stop cannot finish.
  Child child({PCMTAP_FAKE_PATH, "-"}, options({"FAKE_BLOCKS=4000"}));
  ASSERT_TRUE(child.wait_for_output(1)); // recording, signals handled
  child.pause_output(true);
  child.send_signal(SIGINT);
  // Two signals sent together may arrive as one.
  ASSERT_TRUE(wait_for_call("RecordFree"));
  child.send_signal(SIGINT);
  EXPECT_EQ(child.wait(), 128 + SIGINT);
}

TEST_F(FrontEnd, AReaderThatStallsAgainAfterTheStopIsGivenUpOn) {
  // 16 MB: far more than the pipe holds, so the stop cannot finish.
  Child child({PCMTAP_FAKE_PATH, "-"}, options({"FAKE_BLOCKS=4000"}));
  ASSERT_TRUE(child.wait_for_output(1));
  child.pause_output(true);
  child.write_stdin("\n");
  ASSERT_TRUE(wait_for_call("RecordFree")); // the watch has begun
  // Some progress after the stop; then the watch must start over.
  size_t before = child.out_size();
  child.read_output(64 * 1024);
  ASSERT_TRUE(child.wait_for_output(before + 64 * 1024));
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(child.err(), "pcmtap: output stalled; stopping without writing "
                         "the rest of the recording\n");
}

TEST_F(FrontEnd, RecordingThatCannotStartEndsWithoutWaiting) {
  Child child({PCMTAP_FAKE_PATH, "-"}, options({"FAKE_START=fail"}));
  // Standard input stays open: a wait for it would hang here.
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(child.out(), "");
  EXPECT_EQ(child.err(),
            "pcmtap: cannot start recording: Device or resource busy\n");
}

TEST_F(FrontEnd, AFailedWriteStopsWithTheReason) {
  ChildOptions o = options({"FAKE_BLOCKS=100"});
  o.stdout_path = "/dev/full";
  Child child({PCMTAP_FAKE_PATH, "-"}, o);
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(child.err(), "pcmtap: write <stdout>: No space left on device\n");
  EXPECT_EQ(calls().back(), "Free");
}

TEST_F(FrontEnd, AReaderThatGoesAwayEndsItQuietly) {
  // With SIGPIPE ignored by the caller the write fails instead, and the
  // recording is still not complete.
  for (bool ignored : {false, true}) {
    ChildOptions o = options({"FAKE_BLOCKS=4000"});
    o.ignore_sigpipe = ignored;
    Child child({PCMTAP_FAKE_PATH, "-"}, o);
    ASSERT_TRUE(child.wait_for_output(1));
    child.close_output();
    EXPECT_EQ(child.wait(), ignored ? 1 : 128 + SIGPIPE);
    EXPECT_EQ(child.err(), "");
  }
}

TEST_F(FrontEnd, AFailedDeviceEndsAfterWritingWhatItHad) {
  Child child({PCMTAP_FAKE_PATH, "-"},
              options({"FAKE_BLOCKS=20", "FAKE_DEVICE_FAIL=1"}));
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(child.out_size(), 20 * kBlockBytes);
  EXPECT_EQ(first_miscounted_frame(child.out(), 0), -1);
  EXPECT_EQ(child.err(), "pcmtap: recording device: No such device\n");
  EXPECT_EQ(calls().back(), "Free");
}

} // namespace
} // namespace pcmtap::test
