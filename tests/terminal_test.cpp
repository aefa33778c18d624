// pcmtap on a terminal, over the fake library: no audio onto the screen,
// and the live status line and summary on standard error.
#include "process.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace pcmtap::test {
namespace {

// What a terminal shows once `output` is written to it, row by row, for
// the controls pcmtap uses: carriage return, newline, erase to the end of
// the row, and cursor up.
std::vector<std::string> screen(const std::string &output) {
  std::vector<std::string> rows(1);
  size_t row = 0, col = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    if (output[i] == '\r') {
      col = 0;
    } else if (output[i] == '\n') {
      if (++row == rows.size())
        rows.emplace_back();
    } else if (output.compare(i, 3, "\033[K") == 0) {
      rows[row].resize(std::min(rows[row].size(), col));
      i += 2;
    } else if (output.compare(i, 3, "\033[A") == 0) {
      row -= row > 0;
      i += 2;
    } else {
      if (rows[row].size() <= col)
        rows[row].resize(col + 1, ' ');
      rows[row][col++] = output[i];
    }
  }
  while (!rows.empty() && rows.back().empty())
    rows.pop_back();
  return rows;
}

class Terminal : public ::testing::Test {
protected:
  ChildOptions options(std::vector<std::string> env = {}) {
    env.push_back("FAKE_LOG=" + dir_.file("calls.log"));
    env.push_back("FAKE_INPUTS=03000000=Mic;02010000=Line");
    ChildOptions o;
    o.env = env;
    o.stderr_terminal = true;
    return o;
  }
  bool called(const std::string &prefix) const {
    std::istringstream log(read_file(dir_.file("calls.log")));
    for (std::string line; std::getline(log, line);)
      if (line.rfind(prefix, 0) == 0)
        return true;
    return false;
  }
  // Records until `shown` is on the terminal, then stops with Enter.
  Result record_until(const std::string &shown, ChildOptions o) {
    Child child({PCMTAP_FAKE_PATH, "-"}, o);
    bool seen = child.wait_until(
        [&](const std::string &err) {
          return err.find(shown) != std::string::npos;
        },
        o.stderr_terminal);
    EXPECT_TRUE(seen) << "never shown: " << shown << "\n" << child.err();
    child.write_stdin("\n");
    int status = child.wait();
    return {status, child.out(), child.err()};
  }

  TempDir dir_;
};

TEST_F(Terminal, RefusesToWriteAudioOntoIt) {
  for (const char *arg : {"1", "-"}) {
    for (bool err_too : {true, false}) {
      ChildOptions o = options();
      o.stdout_terminal = true;
      o.stderr_terminal = err_too;
      Result r = run({PCMTAP_FAKE_PATH, arg}, o);
      EXPECT_EQ(r.status, 2) << arg;
      std::string self = std::string("pcmtap ") + arg;
      EXPECT_NE(r.err.find("pcmtap: standard output is a terminal"),
                std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find(self + " > take.raw"), std::string::npos);
      EXPECT_NE(r.err.find(self + " | sox -t raw -r 44100 -e signed -b 16 "
                                  "-c 2 - take.wav"),
                std::string::npos);
      EXPECT_FALSE(called("RecordSetInput")) << arg;
      EXPECT_FALSE(called("RecordStart")) << arg;
    }
  }
}

// Each command suggested, run by the shell with pcmtap and sox standing in
// as functions, hands pcmtap the argument it was given.  Catches a single
// quote that ends the quoting, or is dropped or doubled.
TEST_F(Terminal, SuggestsCommandsThatPassAQuotedArgumentBackUnchanged) {
  for (const std::string arg : {"it's", "'", "-'", "a'b'' c", "-'$HOME\\'"}) {
    ChildOptions o = options();
    o.stdout_terminal = true;
    Result r = run({PCMTAP_FAKE_PATH, arg}, o);
    EXPECT_EQ(r.status, 2) << arg;
    size_t commands = 0;
    for (const std::string &row : screen(r.err)) {
      if (row.rfind("  pcmtap ", 0) != 0)
        continue;
      ++commands;
      std::remove(dir_.file("arg").c_str());
      ChildOptions shell;
      shell.env = {"ARG_FILE=" + dir_.file("arg")};
      Result ran =
          run({"/bin/sh", "-c",
               "cd \"${ARG_FILE%/*}\" || exit 1\n"
               "pcmtap() { [ $# = 1 ] && printf %s \"$1\" >\"$ARG_FILE\"; }\n"
               "sox() { cat >/dev/null; }\n" +
                   row},
              shell);
      EXPECT_EQ(ran.status, 0) << row << "\n" << ran.err;
      EXPECT_EQ(read_file(dir_.file("arg")), arg) << row;
    }
    EXPECT_EQ(commands, 2u) << r.err;
  }
}

// A square wave at full scale on the left, silence on the right: the left
// meter is full and near 0 dBFS with its clip mark, the right one empty.
// Enter, typed on the terminal and echoed there, leaves no line behind.
TEST_F(Terminal, ShowsTheLevelsWhileRecordingAndASummaryAfter) {
  ChildOptions o = options({"FAKE_BLOCKS=2600", "FAKE_TONE=32767"});
  o.stdin_terminal = true;
  Result r = record_until(
      "L ########  -0.0 CLIP  R ........  -inf      dBFS  Enter stops", o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.size(), 2600u * 4096);
  // 2,662,400 frames: 60.37 s.
  EXPECT_EQ(screen(r.err),
            std::vector<std::string>{"pcmtap: recorded 1:00.3 (10.6 MB)"})
      << r.err;

  // Redirected, standard error carries nothing but real errors.
  o.stderr_terminal = false;
  Result quiet = record_until("", o);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

// 37,234 blocks of a tenth of a second: 3,723.4 s.  Catches a summary
// whose clock reads minutes past the hour, or no hours.
TEST_F(Terminal, SaysTheLengthOfARecordingPastAnHourInHours) {
  ChildOptions o = options({"FAKE_BLOCKS=37234", "FAKE_BLOCK_FRAMES=4410"});
  o.stdout_path = "/dev/null";
  Result r = record_until("Enter stops", o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(screen(r.err),
            std::vector<std::string>{"pcmtap: recorded 1:02:03.4 (656.8 MB)"})
      << r.err;
}

// The library's messages go through pcmtap's own pipe to the terminal:
// each on a line of its own, and the losses they report add up.
TEST_F(Terminal, KeepsTheLibrarysMessagesOffTheLineAndCountsTheLoss) {
  Result r = record_until("lost 5.35 s  Enter stops",
                          options({"FAKE_BLOCKS=10", "FAKE_LOST=2.35;3.00"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(screen(r.err),
            (std::vector<std::string>{
                "pcmtap: overrun: 2.35 s of audio lost (device)",
                "pcmtap: overrun: 3.00 s of audio lost (device)",
                "pcmtap: recorded 0:00.2 (0.0 MB); 5.35 s of audio lost"}))
      << r.err;
}

} // namespace
} // namespace pcmtap::test
