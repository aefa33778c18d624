// One running recording.  A device thread reads frames from the capture
// device into a ring.  From an unpaced device (one that always has audio,
// as a file has) it hands each block to the callback itself: such a device
// loses nothing by waiting, and no hand-off is the cheapest.  Any other
// real-time device's audio is handed from the ring to the callback by a
// delivery thread, so that the device thread never waits for the callback
// and a slow consumer costs buffer space, not audio.
//
// A device that keeps what is not read (a sound server's stream) is read
// and handed on by the device thread alone, one wake-up a piece; should a
// callback stall, the delivery thread reads the device into the ring until
// the callback returns.  Either way nothing waits in a device or a server
// long enough to be dropped there unsaid: what the ring cannot take is
// dropped here, where it is counted and reported.
#ifndef PCMTAP_AUDIO_ENGINE_RECORDING_H
#define PCMTAP_AUDIO_ENGINE_RECORDING_H

#include "../bass.h"
#include "capture_source.h"
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
  void device_loop();
  void keeping_loop();
  void deliver_as_reader();
  void read_for_a_stalled_reader();
  long read_some(size_t max_frames);
  void hand_over();
  size_t unpaced_proof_bytes() const;
  void end_overflow();
  size_t real_time_block_frames() const;
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
  Wakeup stop_;       // stop() -> device thread
  Wakeup hand_back_;  // back from the callback -> a stalled reader's stand-in

  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> producer_done_{false};
  std::atomic<bool> consumer_done_{false};
  // Set once the device has shown itself real-time: from then on the
  // delivery thread, not the device thread, calls the callback.
  std::atomic<bool> delivery_thread_delivers_{false};
  // The largest block the callback is handed.
  std::atomic<size_t> max_block_;
  // Lost audio not yet reported, by cause.
  std::atomic<uint64_t> device_lost_frames_{0};
  std::atomic<uint64_t> suspend_lost_frames_{0};
  std::atomic<uint64_t> output_lost_frames_{0};
  int device_error_ = 0; // written before producer_done_ is released

  // A device that keeps its unread audio: whichever thread reads it holds
  // `device_mutex_`; the device thread lets it go while in the callback.
  bool keeping_ = false; // set before the threads start
  std::mutex device_mutex_;
  std::atomic<bool> in_callback_{false};
  std::atomic<uint64_t> callbacks_{0};
  std::atomic<bool> taken_over_{false};
  uint64_t watched_callbacks_ = 0; // the delivery thread's own

  // The device thread's own.
  // What the device has shown itself to be.  Until a read finds less than
  // it asked for (real time) or more audio has come than any real-time
  // device holds at its start (unpaced), nothing is delivered: the device
  // thread must never wait for the callback while a real-time device
  // could be filling up.
  enum class Pace { kUnknown, kUnpaced, kRealTime, kKeeping };
  Pace pace_ = Pace::kUnknown;
  uint64_t overflow_frames_ = 0; // dropped in the current full-ring episode

  std::thread device_thread_;
  std::thread delivery_thread_;
};

} // namespace pcmtap

#endif
