#include "recording.h"

#include "threads.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <system_error>

namespace pcmtap {
namespace {

// Blocks the callback sees at most from an unpaced device: large enough
// for few writes.
const size_t kMaxBlockFrames = 16384;

// A real-time device's audio goes out in blocks this long, or of the
// device's period where that is longer: short enough for a reader
// downstream to hear it soon, whole so that it wakes once a block.
const unsigned kRealTimeBlockMillis = 50;

// A device that has this much audio at once, without running short, is
// unpaced: real-time devices start with their buffer's worth at most (a
// second or two).
const size_t kUnpacedProofSeconds = 5;

// How long a callback may take before the watcher takes the device over:
// a quarter of what the device keeps, so that the device is read well
// before it overruns, and at most a second where it keeps more (a sound
// server's 23.8 s).  Should a take-over end early (the device failed),
// the watcher looks again as often while the callback goes on.
const unsigned kMaxLookMillis = 1000;
const unsigned kMinLookMillis = 10;
// Reading the device out takes what reached it piece by piece where the
// device takes in one piece at a time (a server's); this many reads at
// most, so that a device that always says it has more cannot keep us.
const int kMaxReadsPerReadOut = 64;

// At the stop, how long the device may take to hand over what it had
// captured (a server's audio on its way to us) before the rest is given up.
const auto kDrainLimit = std::chrono::seconds(2);

} // namespace

Recording::Recording(CaptureSource &source, HRECORD handle, RECORDPROC *proc,
                     void *user, size_t ring_bytes)
    : source_(source), handle_(handle), proc_(proc), user_(user),
      ring_(ring_bytes),
      scratch_(
          new unsigned char[source.max_read_frames() * source.frame_bytes()]),
      block_(new unsigned char[kMaxBlockFrames * source.frame_bytes()]),
      max_block_(kMaxBlockFrames * source.frame_bytes()),
      losses_(source.rate()) {}

Recording::~Recording() { stop(); }

int Recording::start() {
  if (!stop_.valid() || !watch_.valid() || !hand_back_.valid() ||
      !drain_.valid() || !write_timer_.valid())
    return -EMFILE;
  int err = source_.start();
  if (err < 0)
    return err;
  look_millis_ = look_millis();
  try {
    start_threads_without_signals([this] {
      watch_thread_ = std::thread(&Recording::watch_loop, this);
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
  watch_.notify_always();
  hand_back_.notify_always();
  if (device_thread_.joinable())
    device_thread_.join();
  finished_.store(true, std::memory_order_release); // or it never ran
  watch_.notify_always();
  if (watch_thread_.joinable())
    watch_thread_.join();
  source_.stop();
}

void Recording::device_loop() {
  std::unique_lock<std::mutex> device(device_mutex_);
  int err = record(device);
  if (err == 0 && !drained_ && !consumer_done_.load(std::memory_order_acquire))
    drain_device();
  reading_over_ = true;
  end_overflow();
  device.unlock();
  while (!consumer_done_.load(std::memory_order_acquire) &&
         deliver_available()) {
  }
  finish(err);
}

// Reads the device and hands its audio on until the stop; a negative
// errno when the device failed.  An unpaced device's audio goes out as it
// is read; one not known yet is read on until it shows what it is.
int Recording::record(std::unique_lock<std::mutex> &device) {
  while (!stop_requested_.load(std::memory_order_acquire) &&
         !consumer_done_.load(std::memory_order_acquire)) {
    const Pace pace = pace_.load(std::memory_order_relaxed);
    int err = 0;
    if (pace == Pace::kRealTime)
      err = real_time_turn(device);
    else if (pace == Pace::kUnpaced && ring_.filled() != 0)
      deliver_one(device);
    else if (long n = read_some(SIZE_MAX); n <= 0)
      err = n < 0 ? int(n) : source_.wait(stop_);
    if (err < 0)
      return err;
  }
  return 0;
}

// The device is read out at every turn, after every block of a backlog
// too, so that it never overruns, however long the writes take; what it
// has goes out once it makes a whole block, and otherwise waits in the
// ring for the device's next period.  With the ring full, a block is left
// in the device for the room the next block makes: a reader back from a
// stall takes what came meanwhile in order.
int Recording::real_time_turn(std::unique_lock<std::mutex> &device) {
  const size_t block = max_block_.load(std::memory_order_relaxed);
  if (long err = read_out(long(block / source_.frame_bytes())); err < 0)
    return int(err);
  if (ring_.filled() < block)
    return source_.wait(stop_);
  deliver_one(device);
  return 0;
}

// One block to the callback, the device let go meanwhile.  For a
// real-time device the write timer is set, so that the watcher reads the
// device should the callback take long; an unpaced one loses nothing by
// waiting.  Losses are said here too, where a message that blocks is
// covered.
void Recording::deliver_one(std::unique_lock<std::mutex> &device) {
  const bool real_time =
      pace_.load(std::memory_order_relaxed) == Pace::kRealTime;
  device.unlock();
  if (real_time) {
    writing_.store(true);
    write_timer_.arm(look_millis_);
  }
  deliver_available();
  losses_.say_due();
  if (real_time) {
    write_timer_.disarm();
    writing_.store(false);
    // The watcher, should it be reading, lets the device go at once.
    hand_back_.notify();
  }
  device.lock();
  // Nobody else fills the ring now: what is left, less than a block, moves
  // to the front, so that the next block comes into memory that is already
  // in use, and in cache.
  if (ring_.filled() < max_block_.load(std::memory_order_relaxed))
    ring_.rewind();
}

void Recording::finish(int err) {
  losses_.say_all();
  if (err < 0 && !consumer_done_.load(std::memory_order_acquire)) {
    std::fprintf(stderr, "pcmtap: recording device: %s\n",
                 source_.error_text(err));
    proc_(handle_, nullptr, 0, user_);
  }
  finished_.store(true, std::memory_order_release);
  watch_.notify_always();
}

// Sleeps until a callback takes long, or until the stop or the end.
void Recording::watch_loop() {
  while (write_timer_.wait(watch_))
    read_for_a_slow_write();
  if (!stop_requested_.load(std::memory_order_acquire) ||
      finished_.load(std::memory_order_acquire))
    return;
  // The device thread may be in a callback that takes long, or never
  // returns: what was captured before the stop is read now.
  std::lock_guard<std::mutex> device(device_mutex_);
  if (!drained_ && !reading_over_ &&
      !consumer_done_.load(std::memory_order_acquire))
    drain_device();
}

// The write timer fired: the device thread has been in the callback for a
// quarter of what the real-time device keeps.  The device is read as the
// device thread would read it, at its own pace, until that is back: a
// server's queue may keep less than it grants (PipeWire's holds what the
// socket holds), so the backlog is taken in as it comes.
void Recording::read_for_a_slow_write() {
  // Not to be had: the device thread is back and reads the device itself.
  std::unique_lock<std::mutex> device(device_mutex_, std::try_to_lock);
  if (!device.owns_lock() || reading_over_)
    return;
  hand_back_.consume(); // what the last write's return may have left
  hand_back_.prepare_wait();
  // The writer is held up for a look already: the device is emptied at
  // each look, what does not fit the ring dropped as it comes.  On an error
  // the device thread, back, meets it itself.
  while (writing_.load() && !stop_requested_.load(std::memory_order_acquire)) {
    if (read_out(0) < 0)
      break;
    losses_.say_due(); // while the writer is held up, here
    if (source_.wait(hand_back_) < 0)
      break;
  }
  hand_back_.consume();
}

// Reads what the device has now into the ring, also what reached it but
// waits to be taken in (a server's pieces on their way).  Once the ring is
// full, the device is read on, into scratch, and what is read dropped,
// until it holds no more than `keep` frames (with none to keep, a device
// that overran is restarted here too).  0, or an error the device did not
// recover from.
long Recording::read_out(long keep) {
  for (int i = 0; i < kMaxReadsPerReadOut; ++i) {
    size_t most = SIZE_MAX;
    if (keep > 0 && ring_.free_region().size < source_.frame_bytes()) {
      const long beyond = source_.available() - keep;
      if (beyond <= 0)
        return 0;
      most = size_t(beyond);
    }
    long n = read_some(most);
    if (n < 0)
      return n;
    if (n == 0 && source_.available() <= 0)
      break;
  }
  return 0;
}

unsigned Recording::look_millis() const {
  unsigned quarter = source_.buffer_millis() / 4;
  return std::clamp(quarter, kMinLookMillis, kMaxLookMillis);
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
  const Pace pace = pace_.load(std::memory_order_relaxed);
  Region free = ring_.free_region();
  bool full = free.size < frame;
  unsigned char *dst = full ? scratch_.get() : free.data;
  size_t frames = full ? source_.max_read_frames() : free.size / frame;
  // An unpaced device is read in blocks that suit the callback.  A
  // real-time device is read out: leaving some of what it has for later
  // gains nothing, and PulseAudio's plugin holds on to a piece it has
  // handed out only in part (should the server die then, the next call
  // into the plugin never returns).
  if (pace != Pace::kRealTime)
    frames = std::min(frames, source_.max_read_frames());
  frames = std::min(frames, max_frames);
  DeviceLosses lost;
  long n = source_.read(dst, frames, &lost);
  if (lost.overrun_frames != 0)
    losses_.add(LossReport::kDevice, lost.overrun_frames);
  if (lost.suspend_frames != 0)
    losses_.add(LossReport::kSuspend, lost.suspend_frames);
  // An unpaced device always has all that is asked for; one that ever has
  // less makes its audio as time goes by.
  if (n >= 0 && size_t(n) < frames && pace != Pace::kRealTime)
    hand_over();
  if (n <= 0)
    return n;
  if (full) {
    overflow_frames_ += uint64_t(n);
    return n;
  }
  end_overflow();
  ring_.commit(size_t(n) * frame);
  if (pace == Pace::kUnknown && ring_.filled() >= unpaced_proof_bytes())
    pace_.store(Pace::kUnpaced, std::memory_order_relaxed);
  return n;
}

// The device ran short: its audio comes at its own pace, in blocks short
// enough for a reader downstream to hear it soon, and the watcher reads it
// whenever the callback takes long.
void Recording::hand_over() {
  pace_.store(Pace::kRealTime, std::memory_order_relaxed);
  max_block_.store(real_time_block_frames() * source_.frame_bytes(),
                   std::memory_order_relaxed);
}

// More audio at once than any real-time device holds when it starts.
size_t Recording::unpaced_proof_bytes() const {
  size_t seconds =
      size_t(source_.rate()) * source_.frame_bytes() * kUnpacedProofSeconds;
  return std::min(seconds, ring_.capacity() / 2);
}

size_t Recording::real_time_block_frames() const {
  const size_t frames =
      std::max(size_t(source_.rate()) * kRealTimeBlockMillis / 1000,
               source_.period_frames());
  return std::clamp<size_t>(frames, 1, kMaxBlockFrames);
}

// A full-ring episode is over: its loss is said once, with the others of
// its stretch.
void Recording::end_overflow() {
  if (overflow_frames_ == 0)
    return;
  losses_.add(LossReport::kOutput, overflow_frames_);
  overflow_frames_ = 0;
}

// On stop, what the device had captured by then was recorded before the
// stop and belongs in the output.  Only that much is read: an unpaced
// device would otherwise never run dry.  Some of it may still be on its
// way (a server's), so the device is waited for, within a limit.
void Recording::drain_device() {
  drained_ = true;
  source_.release_held_audio();
  size_t pending = size_t(std::max(0L, source_.pending()));
  const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
  while (pending > 0 && !consumer_done_.load(std::memory_order_acquire)) {
    long n = read_some(pending);
    if (n < 0)
      break;
    if (n == 0) {
      if (std::chrono::steady_clock::now() >= deadline ||
          source_.wait(drain_) < 0)
        break;
      continue;
    }
    pending -= std::min(pending, size_t(n));
  }
  read_some(0); // losses the device knows of only at the stop
}

// Hands the callback the next block of the ring, in one piece.  False when
// the ring was empty or the callback asked to stop.  Only the device
// thread delivers.
bool Recording::deliver_available() {
  const size_t size =
      std::min(ring_.filled(), max_block_.load(std::memory_order_relaxed));
  if (size == 0)
    return false;
  const unsigned char *data = ring_.peek(size, block_.get());
  BOOL go_on = proc_(handle_, data, DWORD(size), user_);
  ring_.release(size);
  if (!go_on) {
    consumer_done_.store(true, std::memory_order_release);
    stop_.notify_always();
    return false;
  }
  return true;
}

} // namespace pcmtap
