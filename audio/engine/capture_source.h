// What the recording engine needs from a platform's capture device.  The
// engine owns the threads and the ring; a backend only opens the device and
// moves frames.
#ifndef PCMTAP_AUDIO_ENGINE_CAPTURE_SOURCE_H
#define PCMTAP_AUDIO_ENGINE_CAPTURE_SOURCE_H

#include "wakeup.h"

#include <cstddef>
#include <cstdint>

namespace pcmtap {

// Audio that a device dropped on its own, by cause.
struct DeviceLosses {
  uint64_t overrun_frames = 0; // read too late: the machine was too busy
  uint64_t suspend_frames = 0; // the machine slept
};

class CaptureSource {
public:
  virtual ~CaptureSource() = default;

  virtual unsigned channels() const = 0;
  virtual unsigned rate() const = 0;
  // 16-bit samples.
  size_t frame_bytes() const { return 2 * size_t{channels()}; }
  // The largest read worth making in one go.
  virtual size_t max_read_frames() const = 0;
  // How much audio the device keeps for us while nobody reads it: the
  // watcher looks at least four times in that long.
  virtual unsigned buffer_millis() const { return 1000; }
  // How many frames the device hands over at a time, where it keeps to
  // periods (a card's, a sound server's pieces); 0 where it does not say.
  virtual size_t period_frames() const { return 0; }

  // All errors are negative errno values.
  virtual int start() = 0;
  // Blocks until frames can be read, or until `stop` is notified.  Called
  // by one thread at a time, not always the same one, and not always with
  // the same `stop`.
  virtual int wait(const Wakeup &stop) = 0;
  // How many frames could be read right now without blocking.
  virtual long available() = 0;
  // At the stop: the frames the device has captured and not handed over
  // yet, wherever they wait (for a sound server, also what the server and
  // its client library hold for the stream), so that the stop reads them
  // all, waiting for those on their way.  Most have them all at hand.
  virtual long pending() { return available(); }
  // Reads up to `max_frames` frames into `dst` without blocking: the number
  // read, 0 when none are ready, or an error the device did not recover
  // from.  Audio the device dropped on its own (an overrun, a suspend) is
  // recovered from here and added to `*lost`.
  virtual long read(void *dst, size_t max_frames, DeviceLosses *lost) = 0;
  // At the stop, makes readable what the device recorded but still holds
  // back, such as a buffer it has only partly filled.  Most hold nothing.
  virtual void release_held_audio() {}
  virtual void stop() = 0;

  virtual const char *error_text(int err) const = 0;
};

} // namespace pcmtap

#endif
