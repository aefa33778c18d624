// How losses are told: one line per cause for each 10 s at most, with
// the sum of that stretch, and nothing dropped from the sums.
#include "engine/loss_report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace pcmtap {
namespace {

struct Said {
  size_t lines = 0;
  double seconds = 0;
};

// The lines of `err` that end in `words`, and their seconds.
Said said(const std::string &err, const std::string &words) {
  Said s;
  for (size_t at = 0, eol; (eol = err.find('\n', at)) != std::string::npos;
       at = eol + 1) {
    std::string line = err.substr(at, eol - at);
    if (line.size() < words.size() ||
        line.compare(line.size() - words.size(), words.size(), words) != 0)
      continue;
    size_t figure = line.find_last_of(' ', line.find(" s of audio lost") - 1);
    s.seconds += std::atof(line.c_str() + figure + 1);
    ++s.lines;
  }
  return s;
}

// A reader just too slow loses a block every tenth of a second for a
// minute and a half: 900 lines before, here ten or so, each cause apart,
// and the sums whole.
TEST(LossReport, ManyShortLossesAreSaidOncePerCausePerTenSeconds) {
  LossReport report(44100);
  const auto start = LossReport::Clock::now();
  testing::internal::CaptureStderr();
  for (int tenth = 0; tenth < 900; ++tenth) {
    report.add(LossReport::kOutput, 2205);
    if (tenth % 100 == 0)
      report.add(LossReport::kDevice, 441);
    report.say_due(start + std::chrono::milliseconds(100 * tenth));
  }
  report.say_all();
  std::string err = testing::internal::GetCapturedStderr();
  Said output = said(err, "(output too slow)");
  Said device = said(err, "(device)");
  EXPECT_LE(output.lines, 10u) << err;
  EXPECT_NEAR(output.seconds, 900 * 0.05, 0.01 * double(output.lines)) << err;
  EXPECT_LE(device.lines, 10u) << err;
  EXPECT_NEAR(device.seconds, 9 * 0.01, 0.01 * double(device.lines)) << err;
}

// The first loss of a cause is said at once, not 10 s later; a loss
// left at the end is said then.
TEST(LossReport, TheFirstLossIsSaidAtOnceAndTheLastAtTheEnd) {
  LossReport report(44100);
  const auto start = LossReport::Clock::now();
  testing::internal::CaptureStderr();
  report.add(LossReport::kSuspend, 44100 * 3);
  report.say_due(start);
  std::string first = testing::internal::GetCapturedStderr();
  EXPECT_EQ(first, "pcmtap: device suspended: 3.00 s of audio lost\n");
  testing::internal::CaptureStderr();
  report.add(LossReport::kSuspend, 44100);
  report.say_due(start + std::chrono::seconds(1));
  report.say_all();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "pcmtap: device suspended: 1.00 s of audio lost\n");
}

} // namespace
} // namespace pcmtap
