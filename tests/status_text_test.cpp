// The pieces of the status line as text.
#include "status_text.h"

#include <gtest/gtest.h>

namespace pcmtap {
namespace {

// Catches a clock that counts minutes past 59, drops the hours, or rounds
// a time up ahead of itself.
TEST(StatusText, ClockReadsMinutesThenHoursFromAnHourOn) {
  const struct {
    double seconds;
    const char *text;
  } cases[] = {{0, "0:00.0"},         {5.29, "0:05.2"},
               {59.99, "0:59.9"},     {754.5, "12:34.5"},
               {3599.99, "59:59.9"},  {3600, "1:00:00.0"},
               {3723.4, "1:02:03.4"}, {36000 + 59 * 60 + 9.95, "10:59:09.9"}};
  for (const auto &c : cases)
    EXPECT_EQ(clock_text(c.seconds), c.text) << c.seconds;
}

} // namespace
} // namespace pcmtap
