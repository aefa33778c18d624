// What the status line does the same on every platform: the text it shows,
// the messages it passes on, and the summary.
#include "status_line.h"

#include "status_text.h"

#include <cstdio>

namespace pcmtap {
namespace {

const double kBytesPerSecond = 44100.0 * 4;
const auto kRedrawEvery = std::chrono::milliseconds(100);

} // namespace

// Each whole line goes out on a line of its own, the status line erased
// first; a line still being written waits for its end (or for `all`).
void StatusLine::pass_on(std::string &pending, bool all) {
  size_t end = all ? pending.size() : pending.rfind('\n') + 1;
  if (end == 0 || pending.empty())
    return;
  erase();
  std::string lines = pending.substr(0, end);
  pending.erase(0, end);
  write_terminal(lines);
  for (size_t at = 0; at < lines.size();) {
    size_t eol = lines.find('\n', at);
    lost_seconds_ += lost_seconds_in(lines.substr(at, eol - at));
    at = eol == std::string::npos ? lines.size() : eol + 1;
  }
}

void StatusLine::redraw_when_due(
    std::chrono::steady_clock::time_point &next_draw) {
  if (std::chrono::steady_clock::now() < next_draw)
    return;
  draw();
  next_draw = std::chrono::steady_clock::now() + kRedrawEvery;
}

// Standard error is the terminal's again: the rest goes out, and the line
// makes way for the summary.
void StatusLine::end(std::string &pending) {
  follow_echo();
  pass_on(pending, true);
  erase();
  if (summary_wanted_)
    write_terminal(summary());
}

std::string StatusLine::status_text() {
  uint64_t bytes = bytes_.load(std::memory_order_relaxed);
  // With no new audio the last peaks stay up: no audio is not silence.
  if (bytes != metered_bytes_) {
    peaks_ = meter_.take();
    metered_bytes_ = bytes;
    clipped_[0] |= peaks_.left >= kClipMagnitude;
    clipped_[1] |= peaks_.right >= kClipMagnitude;
  }
  std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - started_;
  std::string text = clock_text(elapsed.count()) + "  " + size_text(bytes) +
                     "  " + meter_text('L', peaks_.left, clipped_[0]) + "  " +
                     meter_text('R', peaks_.right, clipped_[1]) + " dBFS";
  if (lost_seconds_ > 0) {
    char lost[48];
    std::snprintf(lost, sizeof lost, "  lost %.2f s", lost_seconds_);
    text += lost;
  }
  return text + "  Enter stops";
}

std::string StatusLine::summary() const {
  uint64_t bytes = bytes_.load(std::memory_order_relaxed);
  std::string text = "pcmtap: recorded " +
                     clock_text(double(bytes) / kBytesPerSecond) + " (" +
                     size_text(bytes) + ")";
  if (lost_seconds_ > 0) {
    char lost[64];
    std::snprintf(lost, sizeof lost, "; %.2f s of audio lost", lost_seconds_);
    text += lost;
  }
  return text + "\n";
}

} // namespace pcmtap
