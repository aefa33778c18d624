#include "engine/ring_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace pcmtap {
namespace {

// Two threads push a counting sequence through a small ring in pieces whose
// sizes do not divide it, so that wrap-around lands at every offset.  A lost,
// doubled or torn byte breaks the count.
TEST(RingBuffer, CarriesACountingSequenceAcrossThreads) {
  RingBuffer ring(64);
  const uint32_t kValues = 1000000;
  std::thread producer([&] {
    uint32_t next = 0;
    size_t piece = 1;
    while (next < kValues) {
      Region free = ring.free_region();
      size_t n = std::min({free.size / 4, piece, size_t(kValues - next)});
      if (n == 0)
        std::this_thread::yield(); // the other side needs the core
      for (size_t i = 0; i < n; ++i, ++next)
        std::memcpy(free.data + 4 * i, &next, 4);
      ring.commit(4 * n);
      piece = piece % 7 + 1;
    }
  });
  uint32_t expected = 0;
  bool intact = true;
  size_t piece = 1;
  while (expected < kValues && intact) {
    Region filled = ring.filled_region();
    size_t n = std::min(filled.size / 4, piece);
    if (n == 0)
      std::this_thread::yield();
    for (size_t i = 0; i < n && intact; ++i, ++expected) {
      uint32_t value;
      std::memcpy(&value, filled.data + 4 * i, 4);
      intact = value == expected;
    }
    ring.release(4 * n);
    piece = piece % 5 + 1;
  }
  producer.join();
  EXPECT_TRUE(intact) << "at value " << expected;
  EXPECT_EQ(ring.filled(), 0u);
}

} // namespace
} // namespace pcmtap
