#include "input_number.h"

#include <gtest/gtest.h>

#include <climits>

namespace pcmtap {
namespace {

// Each row would catch a reading that differs from atoi() where atoi() is
// defined, one that goes wrong where it is not, or a number taken for a
// name or a name for a number.
TEST(InputNumber, ReadsTheFormsAtoiReads) {
  struct Case {
    const char *arg;
    bool named;
    bool fits;
    int value;
    const char *text;
  } cases[] = {
      {"1", false, true, 1, "1"},
      {"  \t2", false, true, 2, "2"},
      {"2abc", false, true, 2, "2"},
      {"", true, true, 0, "0"},
      {"abc", true, true, 0, "0"},
      {" Mic", true, true, 0, "0"},
      {"+3", false, true, 3, "+3"},
      {" -4", false, true, -4, "-4"},
      {"-", false, true, 0, "-0"},
      {"007", false, true, 7, "007"},
      {"2147483647", false, true, INT_MAX, "2147483647"},
      {" -2147483648", false, true, INT_MIN, "-2147483648"},
      {"2147483648", false, false, 0, "2147483648"},
      {"99999999999999999999999", false, false, 0, "99999999999999999999999"},
  };
  for (const Case &c : cases) {
    InputNumber n = parse_input_number(c.arg);
    EXPECT_EQ(n.named, c.named) << '"' << c.arg << '"';
    EXPECT_EQ(n.fits_int, c.fits) << '"' << c.arg << '"';
    if (c.fits) {
      EXPECT_EQ(n.value, c.value) << '"' << c.arg << '"';
    }
    EXPECT_EQ(n.text, c.text) << '"' << c.arg << '"';
  }
}

} // namespace
} // namespace pcmtap
