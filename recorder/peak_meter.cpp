#include "peak_meter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pcmtap {

namespace {

// Eight samples, four frames: left in the even lanes, right in the odd.
// GCC's and Clang's vector types give SIMD code wherever the machine has it.
typedef int16_t Lanes __attribute__((vector_size(16)));

} // namespace

void PeakMeter::scan(const void *block, size_t bytes) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                "the samples are little-endian: swap them here");
  const auto *p = static_cast<const unsigned char *>(block);
  Lanes lo = {}, hi = {};
  size_t at = 0;
  for (; at + sizeof(Lanes) <= bytes; at += sizeof(Lanes)) {
    Lanes s;
    std::memcpy(&s, p + at, sizeof s);
    lo = s < lo ? s : lo;
    hi = s > hi ? s : hi;
  }
  // The last frames, fewer than four.
  Lanes s = {};
  std::memcpy(&s, p + at, (bytes - at) / 4 * 4);
  lo = s < lo ? s : lo;
  hi = s > hi ? s : hi;
  int left = 0, right = 0;
  for (int j = 0; j < 8; j += 2) {
    left = std::max({left, int{hi[j]}, -int{lo[j]}});
    right = std::max({right, int{hi[j + 1]}, -int{lo[j + 1]}});
  }
  // Merged, not stored: the status line may have taken the peaks between
  // our load and our store.
  uint32_t old = peaks_.load(std::memory_order_relaxed);
  for (;;) {
    uint32_t merged = std::max(old >> 16, uint32_t(left)) << 16 |
                      std::max(old & 0xFFFF, uint32_t(right));
    if (merged == old ||
        peaks_.compare_exchange_weak(old, merged, std::memory_order_relaxed))
      return;
  }
}

Peaks PeakMeter::take() {
  uint32_t both = peaks_.exchange(0, std::memory_order_relaxed);
  return {both >> 16, both & 0xFFFF};
}

double peak_dbfs(unsigned magnitude) {
  if (magnitude == 0)
    return -HUGE_VAL;
  return 20 * std::log10(magnitude / 32768.0);
}

} // namespace pcmtap
