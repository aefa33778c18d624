#include "recording.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace pcmtap {
namespace {

// Blocks the callback sees at most from an unpaced device: large enough
// for few writes.
const size_t kMaxBlockFrames = 16384;

// A real-time device's audio goes out in blocks of at most this long, so
// that a reader downstream hears it soon.
const unsigned kRealTimeBlockMillis = 50;

// How far an unpaced device may run ahead of the callback.  Audio that
// waits no longer than this stays in the processor's cache on its way from
// the device to the output, and an unpaced device loses nothing by waiting.
const size_t kUnpacedAheadBytes = size_t{256} << 10;

void wait_readable(int fd_a, int fd_b) {
  pollfd fds[2] = {{fd_a, POLLIN, 0}, {fd_b, POLLIN, 0}};
  poll(fds, fd_b >= 0 ? 2 : 1, -1);
}

// Threads of ours must not take the process's asynchronous signals: the
// front end handles them on its own terms.  Signals a thread raises itself
// keep their usual effect; a write into a closed pipe still ends the
// process quietly, as in any pipeline.
class SignalsBlocked {
public:
  SignalsBlocked() {
    sigset_t blocked;
    sigfillset(&blocked);
    for (int own : {SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
      sigdelset(&blocked, own);
    pthread_sigmask(SIG_SETMASK, &blocked, &saved_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked &) = delete;
  SignalsBlocked &operator=(const SignalsBlocked &) = delete;

private:
  sigset_t saved_;
};

} // namespace

Recording::Recording(CaptureSource &source, HRECORD handle, RECORDPROC *proc,
                     void *user, size_t ring_bytes)
    : source_(source), handle_(handle), proc_(proc), user_(user),
      ring_(ring_bytes),
      scratch_(
          new unsigned char[source.max_read_frames() * source.frame_bytes()]),
      resume_below_(std::min(kUnpacedAheadBytes, ring_bytes) / 2),
      wake_at_(std::min(kUnpacedAheadBytes, ring_bytes) / 2),
      max_block_(kMaxBlockFrames * source.frame_bytes()) {}

Recording::~Recording() { stop(); }

int Recording::start() {
  if (!data_ready_.valid() || !room_ready_.valid() || !stop_.valid())
    return -EMFILE;
  int err = source_.start();
  if (err < 0)
    return err;
  SignalsBlocked blocked;
  try {
    delivery_thread_ = std::thread(&Recording::delivery_loop, this);
    device_thread_ = std::thread(&Recording::device_loop, this);
  } catch (const std::system_error &e) {
    stop();
    return -(e.code().value() > 0 ? e.code().value() : EAGAIN);
  }
  return 0;
}

void Recording::stop() {
  stop_requested_.store(true, std::memory_order_release);
  stop_.notify_always();
  if (device_thread_.joinable())
    device_thread_.join();
  else if (delivery_thread_.joinable())
    finish_producing(0); // the device thread never ran
  if (delivery_thread_.joinable())
    delivery_thread_.join();
  source_.stop();
}

void Recording::device_loop() {
  int err = 0;
  while (!stop_requested_.load(std::memory_order_acquire) &&
         !consumer_done_.load(std::memory_order_acquire)) {
    long n = read_some(source_.max_read_frames(), true);
    if (n < 0 || (n == 0 && (err = source_.wait(stop_.fd())) < 0)) {
      err = n < 0 ? int(n) : err;
      break;
    }
  }
  if (err == 0 && !consumer_done_.load(std::memory_order_acquire))
    drain_device();
  end_overflow();
  finish_producing(err);
}

// Reads up to `max_frames` from the device into the ring.  When the ring is
// full, an unpaced device simply waits for room: it loses nothing by that.
// A real-time device does not wait; its audio is read and dropped, so that
// the stream goes on with later audio and the loss is known and reported.
// Returns the frames read (0 when the device had none, or after waiting
// for room), or an error the device did not recover from.
long Recording::read_some(size_t max_frames, bool may_wait) {
  const size_t frame = source_.frame_bytes();
  Region free = ring_.free_region();
  bool full = free.size < frame;
  if (!paced_ && (full || ring_.filled() >= unpaced_limit())) {
    if (may_wait)
      wait_for_room(stop_.fd());
    return 0;
  }
  unsigned char *dst = full ? scratch_.get() : free.data;
  size_t frames = std::min(max_frames, full ? source_.max_read_frames()
                                            : free.size / frame);
  if (paced_)
    frames = std::min(frames, real_time_block_frames());
  uint64_t lost = 0;
  long n = source_.read(dst, frames, &lost);
  if (lost != 0) {
    device_lost_frames_.fetch_add(lost, std::memory_order_relaxed);
    data_ready_.notify_always(); // so that it is reported now
  }
  if (n == 0 && !paced_) {
    // It ran dry: audio comes at the device's pace, and each piece should
    // go out as soon as it is in.
    paced_ = true;
    resume_below_.store(ring_.capacity() - frame, std::memory_order_relaxed);
    wake_at_.store(frame, std::memory_order_relaxed);
    max_block_.store(real_time_block_frames() * frame,
                     std::memory_order_relaxed);
  }
  if (n <= 0)
    return n;
  if (full) {
    overflow_frames_ += uint64_t(n);
    return n;
  }
  end_overflow();
  ring_.commit(size_t(n) * frame);
  if (ring_.filled() >= wake_at_.load(std::memory_order_relaxed))
    data_ready_.notify();
  return n;
}

size_t Recording::real_time_block_frames() const {
  return std::max<size_t>(1,
                          size_t(source_.rate()) * kRealTimeBlockMillis / 1000);
}

// Beyond this much in the ring, an unpaced device waits.
size_t Recording::unpaced_limit() const {
  return std::min(kUnpacedAheadBytes, ring_.capacity());
}

// An overflow episode is over: hand its loss to the delivery thread, which
// reports it once.
void Recording::end_overflow() {
  if (overflow_frames_ == 0)
    return;
  output_lost_frames_.fetch_add(overflow_frames_, std::memory_order_relaxed);
  overflow_frames_ = 0;
}

// Waits until the delivery thread has made room, the recording ends, or
// `other_fd` (if not -1) is readable.
bool Recording::wait_for_room(int other_fd) {
  room_ready_.prepare_wait();
  if (ring_.filled() <= resume_below_.load(std::memory_order_relaxed) ||
      consumer_done_.load(std::memory_order_acquire)) {
    room_ready_.cancel_wait();
    return true;
  }
  wait_readable(room_ready_.fd(), other_fd);
  room_ready_.consume();
  return !consumer_done_.load(std::memory_order_acquire);
}

// On stop, what the device holds already was recorded before the stop and
// belongs in the output.  Only that much is read: an unpaced device would
// otherwise never run dry.
void Recording::drain_device() {
  size_t pending = size_t(source_.available());
  while (pending > 0 && !consumer_done_.load(std::memory_order_acquire)) {
    if (!paced_ && ring_.filled() >= unpaced_limit()) {
      wait_for_room(-1);
      continue;
    }
    long n = read_some(pending, false);
    if (n <= 0)
      return;
    pending -= std::min(pending, size_t(n));
  }
}

void Recording::finish_producing(int err) {
  device_error_ = err;
  producer_done_.store(true, std::memory_order_release);
  data_ready_.notify_always();
}

void Recording::delivery_loop() {
  for (;;) {
    report_losses();
    if (deliver_available())
      continue;
    if (consumer_done_.load(std::memory_order_relaxed))
      return;
    data_ready_.prepare_wait();
    // Once the producer is done, everything it committed is visible.
    bool done = producer_done_.load(std::memory_order_acquire);
    if (ring_.filled() >= wake_at_.load(std::memory_order_relaxed) ||
        (done && ring_.filled() != 0) || has_losses_to_report()) {
      data_ready_.cancel_wait();
      continue;
    }
    if (done)
      break;
    wait_readable(data_ready_.fd(), -1);
    data_ready_.consume();
  }
  report_losses();
  if (device_error_ < 0 && !consumer_done_.load(std::memory_order_relaxed)) {
    std::fprintf(stderr, "pcmtap: recording device: %s\n",
                 source_.error_text(device_error_));
    proc_(handle_, nullptr, 0, user_);
  }
}

// Hands the callback the next contiguous block of the ring.  False when the
// ring was empty or the callback asked to stop.
bool Recording::deliver_available() {
  Region filled = ring_.filled_region();
  if (filled.size == 0)
    return false;
  size_t size =
      std::min(filled.size, max_block_.load(std::memory_order_relaxed));
  BOOL go_on = proc_(handle_, filled.data, DWORD(size), user_);
  ring_.release(size);
  // Only wake the device thread once it can do a worthwhile read.
  if (ring_.filled() <= resume_below_.load(std::memory_order_relaxed))
    room_ready_.notify();
  if (!go_on) {
    consumer_done_.store(true, std::memory_order_release);
    room_ready_.notify_always();
    stop_.notify_always();
    return false;
  }
  return true;
}

bool Recording::has_losses_to_report() const {
  return device_lost_frames_.load(std::memory_order_relaxed) != 0 ||
         output_lost_frames_.load(std::memory_order_relaxed) != 0;
}

void Recording::report_losses() {
  const double rate = source_.rate();
  if (uint64_t lost = device_lost_frames_.exchange(0); lost != 0)
    std::fprintf(stderr, "pcmtap: overrun: %.2f s of audio lost (device)\n",
                 double(lost) / rate);
  if (uint64_t lost = output_lost_frames_.exchange(0); lost != 0)
    std::fprintf(stderr,
                 "pcmtap: overrun: %.2f s of audio lost (output too slow)\n",
                 double(lost) / rate);
}

} // namespace pcmtap
