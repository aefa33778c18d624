// Follows a stream of counting frames (see virtual_card.c): each must be
// one more than the last, modulo 2^32.  A jump forward is a gap, the audio
// in it lost; anything else (a frame repeated or out of order) is an error.
#ifndef PCMTAP_TESTS_COUNTING_CHECK_H
#define PCMTAP_TESTS_COUNTING_CHECK_H

#include <cstdint>

namespace pcmtap::test {

struct CountingCheck {
  uint64_t frames = 0, gaps = 0, lost = 0, errors = 0;
  uint32_t first = 0, last = 0;

  void frame(uint32_t value) {
    if (frames == 0) {
      first = value;
    } else if (value != last + 1) {
      uint32_t jump = value - last - 1;
      if (jump < 0x80000000u) {
        ++gaps;
        lost += jump;
      } else {
        ++errors;
      }
    }
    last = value;
    ++frames;
  }
};

} // namespace pcmtap::test

#endif
