// One running recording.  The device thread reads the capture device and
// hands its audio to the callback itself, one wake-up a block: a real-time
// device's in whole blocks of 50 ms (or of the device's period, where that
// is longer), one write each, what is less than a block waiting in the
// ring for the rest.  Around the callback it sets a timer at a quarter of
// what the device keeps; a watcher sleeps on that timer and, only should a
// callback take that long (a reader downstream is slow or stalls), reads
// the device into the ring at the device's pace until the callback is
// back.  Back from the callback, the device thread reads the device out
// before the next block.  Whichever of the two reads, once the ring is
// full it reads on and drops what does not fit: the backlog of a slow
// reader waits in the ring, and its loss is counted and reported as the
// output's, never left to overrun a device or a server.
//
// At the stop, whichever of the two holds the device reads what it had
// captured by then (for a sound server, also what the server and libpulse
// still hold for the stream), and the device thread delivers the ring.
#ifndef PCMTAP_AUDIO_ENGINE_RECORDING_H
#define PCMTAP_AUDIO_ENGINE_RECORDING_H

#include "../bass.h"
#include "capture_source.h"
#include "loss_report.h"
#include "ring_buffer.h"
#include "wakeup.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace pcmtap {

// Power of two, so that the ring's indices wrap with a mask: 23.8 s of
// 44.1 kHz 16-bit stereo.
inline constexpr size_t kRingBytes = size_t{1} << 22;

class Recording {
public:
  Recording(CaptureSource &source, HRECORD handle, RECORDPROC *proc, void *user,
            size_t ring_bytes = kRingBytes);
  ~Recording();
  Recording(const Recording &) = delete;
  Recording &operator=(const Recording &) = delete;

  // Starts the device and both threads; a negative errno if it could not.
  int start();
  // Reads what the device has captured so far, delivers everything, then
  // ends both threads.  Returns once no callback can run any more.
  void stop();

private:
  // The device thread.
  void device_loop();
  int record(std::unique_lock<std::mutex> &device);
  int real_time_turn(std::unique_lock<std::mutex> &device);
  void deliver_one(std::unique_lock<std::mutex> &device);
  void finish(int err);

  // The watcher.
  void watch_loop();
  void read_for_a_slow_write();
  unsigned look_millis() const;

  // Either, holding `device_mutex_`.
  long read_some(size_t max_frames);
  long read_out(long keep);
  void hand_over();
  size_t unpaced_proof_bytes() const;
  void end_overflow();
  size_t real_time_block_frames() const;
  void drain_device();

  bool deliver_available();

  CaptureSource &source_;
  const HRECORD handle_;
  RECORDPROC *const proc_;
  void *const user_;
  RingBuffer ring_;
  // Where a real-time device's audio goes when the ring is full.
  std::unique_ptr<unsigned char[]> scratch_;
  // Where a block that wraps around the ring's end is put together.
  std::unique_ptr<unsigned char[]> block_;

  Wakeup stop_;       // stop() -> device thread
  Wakeup watch_;      // stop() and the end -> watcher
  Wakeup hand_back_;  // back from the callback -> the watcher, reading
  Wakeup drain_;      // never notified: the drain waits on the device alone
  Timer write_timer_; // set while the callback runs -> watcher
  unsigned look_millis_ = 0;

  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> consumer_done_{false};
  std::atomic<bool> finished_{false};
  // The largest block the callback is handed; for a real-time device, also
  // the least but for the last.
  std::atomic<size_t> max_block_;
  LossReport losses_;

  // Whoever reads the device holds `device_mutex_`.  The device thread
  // holds it at all times but across the callback, when, for a real-time
  // device, `writing_` and the write timer are set; the watcher takes it
  // when that timer fires, unless the device thread has it back already,
  // and keeps it until `writing_` is clear again; and at the stop.
  std::mutex device_mutex_;
  std::atomic<bool> writing_{false};
  // Under `device_mutex_`: the device was read at the stop, or it is no
  // longer read at all (the recording ends).
  bool drained_ = false;
  bool reading_over_ = false;
  uint64_t overflow_frames_ = 0; // dropped in the current full-ring episode

  // What the device has shown itself to be.  Until a read finds less than
  // it asked for (real time) or more audio has come than any real-time
  // device holds at its start (unpaced), nothing is delivered: the device
  // thread must never wait for the callback while a real-time device
  // could be filling up.  Only a real-time device is read by the watcher:
  // an unpaced one loses nothing by waiting.
  enum class Pace { kUnknown, kUnpaced, kRealTime };
  std::atomic<Pace> pace_{Pace::kUnknown};

  std::thread device_thread_;
  std::thread watch_thread_;
};

} // namespace pcmtap

#endif
