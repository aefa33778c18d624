#include "input_number.h"

#include <gtest/gtest.h>

#include <climits>

namespace pcmtap {
namespace {

// Each row would catch a reading that differs from atoi() where atoi() is
// defined, or one that goes wrong where it is not.
TEST(InputNumber, ReadsTheFormsAtoiReads) {
  struct Case {
    const char *arg;
    bool fits;
    int value;
    const char *text;
  } cases[] = {
      {"1", true, 1, "1"},
      {"  \t2", true, 2, "2"},
      {"2abc", true, 2, "2"},
      {"", true, 0, "0"},
      {"abc", true, 0, "0"},
      {"+3", true, 3, "+3"},
      {" -4", true, -4, "-4"},
      {"-", true, 0, "-0"},
      {"007", true, 7, "007"},
      {"2147483647", true, INT_MAX, "2147483647"},
      {" -2147483648", true, INT_MIN, "-2147483648"},
      {"2147483648", false, 0, "2147483648"},
      {"99999999999999999999999", false, 0, "99999999999999999999999"},
  };
  for (const Case &c : cases) {
    InputNumber n = parse_input_number(c.arg);
    EXPECT_EQ(n.fits_int, c.fits) << '"' << c.arg << '"';
    if (c.fits) {
      EXPECT_EQ(n.value, c.value) << '"' << c.arg << '"';
    }
    EXPECT_EQ(n.text, c.text) << '"' << c.arg << '"';
  }
}

} // namespace
} // namespace pcmtap
