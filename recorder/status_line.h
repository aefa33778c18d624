// The live status line of a recording on a terminal: time, size, a peak
// meter per channel, audio lost so far, and how to stop; then a summary.
#ifndef PCMTAP_RECORDER_STATUS_LINE_H
#define PCMTAP_RECORDER_STATUS_LINE_H

#include "peak_meter.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace pcmtap {

// When standard error is a terminal (a console on Windows), it is pointed
// at a pipe that a thread of ours reads: every message, the library's too, then reaches the
// terminal on a line of its own, and the losses it reports are added up.
// The same thread redraws the line, so that neither a slow terminal nor the
// drawing holds up the library's thread.  Anywhere else it does nothing.
class StatusLine {
public:
  // `bytes` and `meter` are the callback's; they must outlive this.
  StatusLine(const std::atomic<uint64_t> &bytes, PeakMeter &meter);
  ~StatusLine() { finish(false); }
  StatusLine(const StatusLine &) = delete;
  StatusLine &operator=(const StatusLine &) = delete;

  bool active() const { return terminal_ >= 0; }

  // Passes on what is left to pass, erases the line and, with `summary`,
  // puts the recording's summary in its place; standard error is then the
  // terminal again.  Later calls do nothing.
  void finish(bool summary);
  // A line typed on standard input stopped the recording.  A terminal has
  // echoed it, leaving the status line one row up.
  void line_typed() { line_typed_ = true; }

private:
  // The platform's.
  void run();
  void write_terminal(const std::string &text);
  void draw();
  void erase();
  void follow_echo();
  // Every platform's.
  void pass_on(std::string &pending, bool all);
  void redraw_when_due(std::chrono::steady_clock::time_point &next_draw);
  void end(std::string &pending);
  std::string status_text();
  std::string summary() const;

  int terminal_ = -1; // standard error as it was
  int messages_ = -1; // the read end of the pipe standard error leads to
  std::thread thread_;
  std::atomic<bool> summary_wanted_{false};
  std::atomic<bool> line_typed_{false};

  // The thread's own.
  const std::atomic<uint64_t> &bytes_;
  PeakMeter &meter_;
  const std::chrono::steady_clock::time_point started_;
  bool shown_ = false;
  size_t drawn_ = 0; // the columns of the line last drawn
  uint64_t metered_bytes_ = 0;
  Peaks peaks_;
  bool clipped_[2] = {false, false};
  double lost_seconds_ = 0;
};

} // namespace pcmtap

#endif
