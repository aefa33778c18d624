// Peak levels of the audio on its way out, for the status line: the
// callback scans each block it writes, the status line takes what came since
// its last look.
#ifndef PCMTAP_RECORDER_PEAK_METER_H
#define PCMTAP_RECORDER_PEAK_METER_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace pcmtap {

// The largest sample magnitudes, 0 to 32768, of the left and right channel.
struct Peaks {
  unsigned left = 0;
  unsigned right = 0;
};

// A magnitude of at least this is a clipped sample.
inline constexpr unsigned kClipMagnitude = 32767;

class PeakMeter {
public:
  // Lock-free, for the library's thread: 16-bit little-endian stereo frames.
  void scan(const void *block, size_t bytes);
  // The peaks since the last take.
  Peaks take();

private:
  std::atomic<uint32_t> peaks_{0}; // left << 16 | right
};

// The level in dBFS; minus infinity for silence.
double peak_dbfs(unsigned magnitude);

} // namespace pcmtap

#endif
