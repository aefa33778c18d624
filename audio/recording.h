// One running recording: a device thread that moves frames from the
// capture device into a ring, and a delivery thread that hands them from the
// ring to the callback.  The device thread never waits for the callback, so
// a slow consumer costs buffer space, not audio.
#ifndef PCMTAP_AUDIO_RECORDING_H
#define PCMTAP_AUDIO_RECORDING_H

#include "bass.h"
#include "capture_source.h"
#include "ring_buffer.h"
#include "wakeup.h"

#include <atomic>
#include <cstdint>
#include <memory>
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
  void device_loop();
  long read_some(size_t max_frames, bool may_wait);
  void end_overflow();
  size_t unpaced_limit() const;
  size_t real_time_block_frames() const;
  bool wait_for_room(int other_fd);
  void drain_device();
  void finish_producing(int err);

  void delivery_loop();
  bool deliver_available();
  bool has_losses_to_report() const;
  void report_losses();

  CaptureSource &source_;
  const HRECORD handle_;
  RECORDPROC *const proc_;
  void *const user_;
  RingBuffer ring_;
  // Where a real-time device's audio goes when the ring is full.
  std::unique_ptr<unsigned char[]> scratch_;

  Wakeup data_ready_; // device thread -> delivery thread
  Wakeup room_ready_; // delivery thread -> device thread
  Wakeup stop_;       // stop() -> device thread

  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> producer_done_{false};
  std::atomic<bool> consumer_done_{false};
  // Lost audio not yet reported, by cause.
  // A waiting device thread is woken once the ring holds no more than this.
  std::atomic<size_t> resume_below_;
  // A waiting delivery thread is woken once the ring holds this much: a
  // frame for a real-time device, a batch for an unpaced one.
  std::atomic<size_t> wake_at_;
  // The largest block the callback is handed.
  std::atomic<size_t> max_block_;
  std::atomic<uint64_t> device_lost_frames_{0};
  std::atomic<uint64_t> output_lost_frames_{0};
  int device_error_ = 0; // written before producer_done_ is released

  // The device thread's own.
  bool paced_ = false;           // the device has run dry at least once
  uint64_t overflow_frames_ = 0; // dropped in the current full-ring episode

  std::thread device_thread_;
  std::thread delivery_thread_;
};

} // namespace pcmtap

#endif
