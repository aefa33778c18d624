#include "status_text.h"

#include "peak_meter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pcmtap {
namespace {

// The meter's bar: one cell per 6 dB, from -48 dBFS up.
const int kBarCells = 8;
const double kBarFloorDb = -48;

} // namespace

// "0:05.2", or "1:02:03.4" from an hour on; tenths are cut, not rounded,
// so that a time never reads ahead of itself.
std::string clock_text(double seconds) {
  auto tenths = static_cast<unsigned long long>(seconds * 10);
  unsigned long long s = tenths / 10, m = s / 60, h = m / 60;
  char text[32];
  if (h > 0)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%llu", h, m % 60,
                  s % 60, tenths % 10);
  else
    std::snprintf(text, sizeof text, "%llu:%02llu.%llu", m, s % 60,
                  tenths % 10);
  return text;
}

std::string size_text(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
  return text;
}

// "L ######.. -12.3 CLIP": the bar, the peak in dBFS, and the clip mark,
// which stays once a channel has clipped.
std::string meter_text(char name, unsigned magnitude, bool clipped) {
  double db = peak_dbfs(magnitude);
  int cells = 0;
  if (magnitude != 0)
    cells = std::clamp(int(std::ceil((db - kBarFloorDb) / 6)), 0, kBarCells);
  char text[48];
  char number[16];
  if (magnitude == 0)
    std::snprintf(number, sizeof number, "-inf");
  else
    std::snprintf(number, sizeof number, "%.1f", db);
  std::snprintf(text, sizeof text, "%c %s%s %5s %s", name,
                std::string(size_t(cells), '#').c_str(),
                std::string(size_t(kBarCells - cells), '.').c_str(), number,
                clipped ? "CLIP" : "    ");
  return text;
}

// The figure of a library message "...: 2.35 s of audio lost ...", or 0.
double lost_seconds_in(const std::string &line) {
  size_t at = line.find(" s of audio lost");
  if (at == std::string::npos)
    return 0;
  size_t start = at;
  while (start > 0 &&
         (std::isdigit(static_cast<unsigned char>(line[start - 1])) ||
          line[start - 1] == '.'))
    --start;
  return std::strtod(line.c_str() + start, nullptr);
}

} // namespace pcmtap
