// Reads a recording on standard input and checks it, fast enough for
// hours of audio:
//   frame_check count   frames must count up by one; a jump forward is a
//                       gap (audio lost), anything else an error
//   frame_check tone P  the signal must repeat every P frames; a frame
//                       that does not starts a break
// Options: --stall-at BYTES --stall-ms MS  stop reading for a while, as a
//          slow reader does;  --rate BYTES  read no faster than this many
//          bytes a second, as an encoder that cannot keep up does, until
//          SIGUSR1 comes;  --progress FRAMES  print "progress N" lines;
//          --skip-silence 1  leave out the silent frames before the first
//          sound, which a source fed by hand gives until it is fed.
// Unless paced, each read takes all the pipe holds, so that a piece read
// is what the writer wrote at a time, or several such, while the reader
// keeps up.
// Prints one summary line at the end of input:
//   frames=N first=F gaps=G lost=L errors=E breaks=B partial=P shortest=S
// where S is the fewest bytes a read but the last gave.
#include "counting_check.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Summary {
  uint64_t frames = 0, gaps = 0, lost = 0, errors = 0, breaks = 0;
  uint32_t first = 0;
};

class Checker {
public:
  Checker(bool tone, size_t period) : tone_(tone), history_(period + 1) {}

  void frame(uint32_t value) {
    if (tone_)
      check_tone(value);
    else
      count_.frame(value);
    ++frames_;
  }
  uint64_t frames() const { return frames_; }
  Summary summary() const {
    Summary s;
    s.frames = frames_;
    s.gaps = count_.gaps;
    s.lost = count_.lost;
    s.errors = count_.errors;
    s.breaks = breaks_;
    s.first = count_.first;
    return s;
  }

private:
  void check_tone(uint32_t value) {
    size_t period = history_.size() - 1;
    size_t at = frames_ % history_.size();
    if (frames_ >= period) {
      bool ok = history_[(at + 1) % history_.size()] == value;
      if (!ok && in_tune_)
        ++breaks_;
      in_tune_ = ok;
    }
    history_[at] = value;
  }

  bool tone_;
  std::vector<uint32_t> history_;
  bool in_tune_ = true;
  uint64_t frames_ = 0, breaks_ = 0;
  pcmtap::test::CountingCheck count_;
};

volatile sig_atomic_t full_speed = 0;
void go_full_speed(int) { full_speed = 1; }

// Keeps a reader to `rate` bytes a second from its start: sleeps until
// the bytes read so far are due, and says how much may be read next.
class Pace {
public:
  explicit Pace(uint64_t rate)
      : rate_(rate), start_(std::chrono::steady_clock::now()) {}
  size_t next_read(uint64_t bytes_so_far, size_t most) {
    if (rate_ == 0 || full_speed)
      return most;
    std::this_thread::sleep_until(
        start_ + std::chrono::microseconds(bytes_so_far * 1000000 / rate_));
    // A twentieth of a second's worth at a time, whole frames.
    return std::min(most, std::max<size_t>(4, size_t(rate_ / 20) / 4 * 4));
  }

private:
  uint64_t rate_;
  std::chrono::steady_clock::time_point start_;
};

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: frame_check count|tone PERIOD [options]\n");
    return 2;
  }
  bool tone = std::strcmp(argv[1], "tone") == 0;
  int arg = tone ? 3 : 2;
  size_t period = tone && argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
  uint64_t stall_at = UINT64_MAX, stall_ms = 0, progress = 0, rate = 0;
  bool skip_silence = false;
  for (; arg + 1 < argc; arg += 2) {
    std::string name = argv[arg];
    uint64_t value = std::strtoull(argv[arg + 1], nullptr, 10);
    if (name == "--stall-at")
      stall_at = value;
    else if (name == "--stall-ms")
      stall_ms = value;
    else if (name == "--rate")
      rate = value;
    else if (name == "--progress")
      progress = value;
    else if (name == "--skip-silence")
      skip_silence = value != 0;
  }

  struct sigaction faster = {};
  faster.sa_handler = go_full_speed;
  faster.sa_flags = SA_RESTART;
  sigaction(SIGUSR1, &faster, nullptr);
  Pace pace(rate);
  Checker checker(tone, period);
  // More than any pipe holds.
  static unsigned char buffer[1 << 22];
  size_t held = 0; // bytes of a frame split across reads
  uint64_t bytes = 0, next_progress = progress;
  size_t last = 0, shortest = SIZE_MAX;
  for (;;) {
    if (bytes >= stall_at) {
      std::this_thread::sleep_for(std::chrono::milliseconds(stall_ms));
      stall_at = UINT64_MAX;
    }
    ssize_t n =
        read(0, buffer + held, pace.next_read(bytes, sizeof buffer - held));
    if (n <= 0)
      break;
    if (last != 0)
      shortest = std::min(shortest, last);
    last = size_t(n);
    bytes += uint64_t(n);
    size_t total = held + size_t(n), whole = total / 4 * 4;
    for (size_t i = 0; i < whole; i += 4) {
      uint32_t v;
      std::memcpy(&v, buffer + i, 4);
      skip_silence = skip_silence && v == 0;
      if (!skip_silence)
        checker.frame(v);
    }
    held = total - whole;
    std::memmove(buffer, buffer + whole, held);
    if (progress && checker.frames() >= next_progress) {
      std::printf("progress %llu\n", (unsigned long long)checker.frames());
      std::fflush(stdout);
      next_progress += progress;
    }
  }
  const Summary s = checker.summary();
  std::printf("frames=%llu first=%u gaps=%llu lost=%llu errors=%llu "
              "breaks=%llu partial=%zu shortest=%zu\n",
              (unsigned long long)s.frames, s.first, (unsigned long long)s.gaps,
              (unsigned long long)s.lost, (unsigned long long)s.errors,
              (unsigned long long)s.breaks, held,
              shortest == SIZE_MAX ? 0 : shortest);
  return 0;
}
