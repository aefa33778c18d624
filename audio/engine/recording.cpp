#include "recording.h"

#include "threads.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

// A device that has this much audio at once, without running short, is
// unpaced: real-time devices start with their buffer's worth at most (a
// second or two).
const size_t kUnpacedProofSeconds = 5;

// How often the delivery thread looks whether the device thread is still
// in the same callback, for a device that keeps its unread audio: seldom,
// as each look is a wake-up; such a device keeps many times as long.
const unsigned kWatchMillis = 2000;

} // namespace

Recording::Recording(CaptureSource &source, HRECORD handle, RECORDPROC *proc,
                     void *user, size_t ring_bytes)
    : source_(source), handle_(handle), proc_(proc), user_(user),
      ring_(ring_bytes),
      scratch_(
          new unsigned char[source.max_read_frames() * source.frame_bytes()]),
      max_block_(kMaxBlockFrames * source.frame_bytes()) {}

Recording::~Recording() { stop(); }

int Recording::start() {
  if (!data_ready_.valid() || !stop_.valid() || !hand_back_.valid())
    return -EMFILE;
  int err = source_.start();
  if (err < 0)
    return err;
  if (source_.keeps_unread_audio()) {
    keeping_ = true;
    pace_ = Pace::kKeeping;
    max_block_.store(real_time_block_frames() * source_.frame_bytes(),
                     std::memory_order_relaxed);
  }
  try {
    start_threads_without_signals([this] {
      delivery_thread_ = std::thread(&Recording::delivery_loop, this);
      device_thread_ = std::thread(&Recording::device_loop, this);
    });
  } catch (const std::system_error &e) {
    stop();
    return -(e.code().value() > 0 ? e.code().value() : EAGAIN);
  }
  return 0;
}

void Recording::stop() {
  stop_requested_.store(true, std::memory_order_release);
  stop_.notify_always();
  hand_back_.notify_always();
  if (device_thread_.joinable())
    device_thread_.join();
  else if (delivery_thread_.joinable())
    finish_producing(0); // the device thread never ran
  if (delivery_thread_.joinable())
    delivery_thread_.join();
  source_.stop();
}

void Recording::device_loop() {
  if (keeping_)
    return keeping_loop();
  int err = 0;
  while (!stop_requested_.load(std::memory_order_acquire) &&
         !consumer_done_.load(std::memory_order_acquire)) {
    long n = read_some(SIZE_MAX);
    if (n < 0 || (n == 0 && (err = source_.wait(stop_)) < 0)) {
      err = n < 0 ? int(n) : err;
      break;
    }
  }
  if (err == 0 && !consumer_done_.load(std::memory_order_acquire)) {
    source_.release_held_audio();
    drain_device();
  }
  end_overflow();
  finish_producing(err);
}

// The device thread of a device that keeps its unread audio: it reads the
// device and hands the audio on itself, letting the device go while it is
// in the callback.
void Recording::keeping_loop() {
  std::unique_lock<std::mutex> device(device_mutex_);
  int err = 0;
  while (!stop_requested_.load(std::memory_order_acquire) &&
         !consumer_done_.load(std::memory_order_acquire)) {
    long n = read_some(SIZE_MAX);
    if (n < 0) {
      err = int(n);
      break;
    }
    if (ring_.filled() != 0) {
      device.unlock();
      deliver_as_reader();
      device.lock();
      // Nobody else fills or empties the ring now: each block comes into
      // memory that is already in use, and in cache.
      if (ring_.filled() == 0)
        ring_.rewind();
      continue;
    }
    if ((err = source_.wait(stop_)) < 0)
      break;
  }
  if (err == 0 && !consumer_done_.load(std::memory_order_acquire)) {
    source_.release_held_audio();
    drain_device();
  }
  end_overflow();
  device.unlock();
  finish_producing(err);
}

void Recording::deliver_as_reader() {
  in_callback_.store(true);
  do
    callbacks_.fetch_add(1, std::memory_order_relaxed);
  while (deliver_available());
  in_callback_.store(false);
  // The stand-in, should one be reading, lets the device go at once.
  if (taken_over_.load())
    hand_back_.notify_always();
}

// The device thread has been in one callback since the last look: read the
// device into the ring until it is back, so that the device never holds
// more than it keeps.  On an error the device thread, back, meets it
// itself.
void Recording::read_for_a_stalled_reader() {
  uint64_t callbacks = callbacks_.load(std::memory_order_relaxed);
  bool stalled = in_callback_.load() && callbacks == watched_callbacks_;
  watched_callbacks_ = callbacks;
  if (!stalled)
    return;
  std::unique_lock<std::mutex> device(device_mutex_, std::try_to_lock);
  if (!device.owns_lock())
    return;
  // Set before in_callback_ is looked at again: either the device thread
  // sees it on its way back and says so, or this sees that it is back.
  taken_over_.store(true);
  while (in_callback_.load() &&
         !stop_requested_.load(std::memory_order_acquire)) {
    long n = read_some(SIZE_MAX);
    if (n < 0 || (n == 0 && source_.wait(hand_back_) < 0))
      break;
    hand_back_.consume();
  }
  taken_over_.store(false);
  hand_back_.consume();
}

// Reads up to `max_frames` from the device into the ring, fewer when the
// ring has less room in one piece.  What the device is decides who hands
// the audio on (see `Pace`).  When the ring is full, a real-time device's
// audio is still read, into scratch, and dropped, so that the stream goes
// on with later audio and the loss is known and reported.  Returns the
// frames read (0 when the device had none), or an error the device did not
// recover from.
long Recording::read_some(size_t max_frames) {
  const size_t frame = source_.frame_bytes();
  Region free = ring_.free_region();
  bool full = free.size < frame;
  unsigned char *dst = full ? scratch_.get() : free.data;
  size_t frames = full ? source_.max_read_frames() : free.size / frame;
  // An unpaced device is read in blocks that suit the callback.  A
  // real-time device is read out: leaving some of what it has for later
  // gains nothing, and PulseAudio's plugin holds on to a piece it has
  // handed out only in part (should the server die then, the next call
  // into the plugin never returns).
  if (pace_ == Pace::kUnknown || pace_ == Pace::kUnpaced)
    frames = std::min(frames, source_.max_read_frames());
  frames = std::min(frames, max_frames);
  DeviceLosses lost;
  long n = source_.read(dst, frames, &lost);
  if (lost.overrun_frames != 0 || lost.suspend_frames != 0) {
    device_lost_frames_.fetch_add(lost.overrun_frames,
                                  std::memory_order_relaxed);
    suspend_lost_frames_.fetch_add(lost.suspend_frames,
                                   std::memory_order_relaxed);
    data_ready_.notify_always(); // so that it is reported now
  }
  // An unpaced device always has all that is asked for; one that ever has
  // less makes its audio as time goes by.
  if (n >= 0 && size_t(n) < frames &&
      (pace_ == Pace::kUnknown || pace_ == Pace::kUnpaced))
    hand_over();
  if (n <= 0)
    return n;
  if (full) {
    overflow_frames_ += uint64_t(n);
    return n;
  }
  end_overflow();
  ring_.commit(size_t(n) * frame);
  if (pace_ == Pace::kUnknown && ring_.filled() >= unpaced_proof_bytes())
    pace_ = Pace::kUnpaced;
  if (pace_ == Pace::kUnpaced) {
    while (deliver_available()) {
    }
    // Each block then comes into memory that is already in use, and
    // in cache.
    if (ring_.filled() == 0)
      ring_.rewind();
  } else if (pace_ == Pace::kRealTime) {
    data_ready_.notify();
  }
  return n;
}

// The device ran short: its audio comes at its own pace, and from now on
// the delivery thread hands each piece on as soon as it is in, so that a
// slow callback costs ring space instead of audio.  Nothing was delivered
// yet, or this thread delivered everything it read.
void Recording::hand_over() {
  pace_ = Pace::kRealTime;
  max_block_.store(real_time_block_frames() * source_.frame_bytes(),
                   std::memory_order_relaxed);
  delivery_thread_delivers_.store(true, std::memory_order_release);
  data_ready_.notify_always();
}

// More audio at once than any real-time device holds when it starts.
size_t Recording::unpaced_proof_bytes() const {
  size_t seconds =
      size_t(source_.rate()) * source_.frame_bytes() * kUnpacedProofSeconds;
  return std::min(seconds, ring_.capacity() / 2);
}

size_t Recording::real_time_block_frames() const {
  return std::max<size_t>(1,
                          size_t(source_.rate()) * kRealTimeBlockMillis / 1000);
}

// An overflow episode is over: hand its loss to the delivery thread, which
// reports it once.
void Recording::end_overflow() {
  if (overflow_frames_ == 0)
    return;
  output_lost_frames_.fetch_add(overflow_frames_, std::memory_order_relaxed);
  overflow_frames_ = 0;
  data_ready_.notify_always();
}

// On stop, what the device holds already was recorded before the stop and
// belongs in the output.  Only that much is read: an unpaced device would
// otherwise never run dry.
void Recording::drain_device() {
  size_t pending = size_t(source_.available());
  while (pending > 0 && !consumer_done_.load(std::memory_order_acquire)) {
    long n = read_some(pending);
    if (n <= 0)
      break;
    pending -= std::min(pending, size_t(n));
  }
  read_some(0); // losses the device knows of only at the stop
}

void Recording::finish_producing(int err) {
  device_error_ = err;
  producer_done_.store(true, std::memory_order_release);
  data_ready_.notify_always();
}

void Recording::delivery_loop() {
  for (;;) {
    report_losses();
    if (consumer_done_.load(std::memory_order_acquire))
      return;
    // Once the producer is done, everything it committed is visible, and
    // nothing else delivers.
    bool done = producer_done_.load(std::memory_order_acquire);
    bool mine =
        done || delivery_thread_delivers_.load(std::memory_order_acquire);
    if (mine && deliver_available())
      continue;
    if (consumer_done_.load(std::memory_order_relaxed))
      return;
    data_ready_.prepare_wait();
    done = producer_done_.load(std::memory_order_acquire);
    mine = done || delivery_thread_delivers_.load(std::memory_order_acquire);
    if ((mine && ring_.filled() != 0) || has_losses_to_report()) {
      data_ready_.cancel_wait();
      continue;
    }
    if (done)
      break;
    if (keeping_ && !data_ready_.wait_for(kWatchMillis)) {
      data_ready_.cancel_wait();
      read_for_a_stalled_reader();
      continue;
    }
    if (!keeping_)
      data_ready_.wait();
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
// ring was empty or the callback asked to stop.  Runs on whichever thread
// delivers: the device thread while the device is unpaced, the delivery
// thread after.
bool Recording::deliver_available() {
  Region filled = ring_.filled_region();
  if (filled.size == 0)
    return false;
  size_t size =
      std::min(filled.size, max_block_.load(std::memory_order_relaxed));
  BOOL go_on = proc_(handle_, filled.data, DWORD(size), user_);
  ring_.release(size);
  if (!go_on) {
    consumer_done_.store(true, std::memory_order_release);
    stop_.notify_always();
    return false;
  }
  return true;
}

bool Recording::has_losses_to_report() const {
  return device_lost_frames_.load(std::memory_order_relaxed) != 0 ||
         suspend_lost_frames_.load(std::memory_order_relaxed) != 0 ||
         output_lost_frames_.load(std::memory_order_relaxed) != 0;
}

void Recording::report_losses() {
  const double rate = source_.rate();
  if (uint64_t lost = device_lost_frames_.exchange(0); lost != 0)
    std::fprintf(stderr, "pcmtap: overrun: %.2f s of audio lost (device)\n",
                 double(lost) / rate);
  if (uint64_t lost = suspend_lost_frames_.exchange(0); lost != 0)
    std::fprintf(stderr, "pcmtap: device suspended: %.2f s of audio lost\n",
                 double(lost) / rate);
  if (uint64_t lost = output_lost_frames_.exchange(0); lost != 0)
    std::fprintf(stderr,
                 "pcmtap: overrun: %.2f s of audio lost (output too slow)\n",
                 double(lost) / rate);
}

} // namespace pcmtap
