#include "engine/ring_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace pcmtap {
namespace {

// Two threads push a counting sequence through a small ring in pieces whose
// sizes do not divide it, so that wrap-around lands at every offset; the
// consumer takes each piece whole, put together where it wraps.  A lost,
// doubled or torn byte breaks the count; a ring that never gives room or
// data again stops both sides at a generous limit instead of hanging.
TEST(RingBuffer, CarriesACountingSequenceAcrossThreads) {
  RingBuffer ring(64);
  const uint32_t kValues = 1000000;
  const auto limit =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::atomic<bool> given_up{false};
  std::thread producer([&] {
    uint32_t next = 0;
    size_t piece = 1;
    while (next < kValues && !given_up) {
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
  unsigned char spare[4 * 5];
  while (expected < kValues && intact && !given_up) {
    size_t n = std::min(ring.filled() / 4, piece);
    const unsigned char *data = ring.peek(4 * n, spare);
    if (n == 0) {
      std::this_thread::yield();
      given_up = std::chrono::steady_clock::now() > limit;
    }
    for (size_t i = 0; i < n && intact; ++i, ++expected) {
      uint32_t value;
      std::memcpy(&value, data + 4 * i, 4);
      intact = value == expected;
    }
    ring.release(4 * n);
    piece = piece % 5 + 1;
  }
  given_up = true; // a producer stuck on a full ring stops too
  producer.join();
  EXPECT_TRUE(intact) << "at value " << expected;
  EXPECT_EQ(expected, kValues) << "the ring stopped moving";
  EXPECT_EQ(ring.filled(), 0u);
}

} // namespace
} // namespace pcmtap
