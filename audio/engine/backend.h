// What a platform's audio backend gives the library: the default recording
// device, a check of the default output device, and the recording device's
// inputs.  The library's eight functions are written once, over this.
#ifndef PCMTAP_AUDIO_ENGINE_BACKEND_H
#define PCMTAP_AUDIO_ENGINE_BACKEND_H

#include "../bass.h"
#include "capture_source.h"

#include <cstddef>
#include <memory>
#include <string>

namespace pcmtap {

// The recording device's inputs, numbered in the order the device gives
// them.
class Inputs {
public:
  virtual ~Inputs() = default;

  virtual size_t count() const = 0;
  virtual const char *name(size_t i) const = 0;
  // The flags word as the device has it now: the type code, and
  // BASS_INPUT_OFF when the input is switched off.
  virtual DWORD flags(size_t i) = 0;
  // False when the device refused; the backend has said why where the
  // reason is not plain.
  virtual bool switch_off(size_t i) = 0;
  virtual bool switch_on(size_t i) = 0;
};

class Backend {
public:
  virtual ~Backend() = default;

  // Opens the default recording device; a negative error code, for
  // error_text(), when it cannot.
  virtual int open_capture(unsigned rate, unsigned channels,
                           std::unique_ptr<CaptureSource> *out) = 0;
  // Whether the default output device can be used: 0, or a negative error
  // code.  Nothing is ever played.
  virtual int check_output() = 0;
  // For messages: the device tried (`ALSA "default"`), and what its absence
  // most likely means.
  virtual std::string device_name(bool output) const = 0;
  virtual const char *absence_hint(bool output) const = 0;
  // Never null: a device whose inputs cannot be seen has none.
  virtual std::unique_ptr<Inputs> open_inputs() = 0;
  virtual const char *error_text(int err) const = 0;
};

// The backend this process records through, chosen once by the platform.
std::unique_ptr<Backend> choose_backend();
// Where the user reads on how the device is chosen, after a reason it
// could not be had.
extern const char *const kDeviceHint;

} // namespace pcmtap

#endif
