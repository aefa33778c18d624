// The audio library's eight functions, over whichever backend the platform
// chose.  One recording device at a time, as the callers expect; every
// function is called from one thread.
#include "../bass.h"
#include "backend.h"
#include "recording.h"

#include <cstdio>
#include <memory>

namespace pcmtap {
namespace {

const unsigned kDefaultRate = 44100;
const unsigned kDefaultChannels = 2;

struct Library {
  std::unique_ptr<Backend> backend; // chosen when the device is opened
  std::unique_ptr<CaptureSource> capture;
  std::unique_ptr<Inputs> inputs; // opened on first use
  std::unique_ptr<Recording> recording;
  HRECORD last_handle = 0;
  bool output_ready = false;
};

Library &library() {
  static Library instance;
  return instance;
}

// Chosen by BASS_RecordInit; every other call comes after it.
Backend &backend() { return *library().backend; }

// Inputs of the open recording device, or null for an index it does not
// have.
Inputs *inputs_for(int input) {
  Library &lib = library();
  if (!lib.capture || input < 0)
    return nullptr;
  if (!lib.inputs)
    lib.inputs = backend().open_inputs();
  return size_t(input) < lib.inputs->count() ? lib.inputs.get() : nullptr;
}

bool open_recording_device() {
  Library &lib = library();
  // Chosen anew for each device opened: the setup may have changed since.
  lib.backend = choose_backend();
  if (!lib.backend)
    return false; // it said why
  int err =
      lib.backend->open_capture(kDefaultRate, kDefaultChannels, &lib.capture);
  if (err < 0)
    std::fprintf(stderr, "pcmtap: no recording device: %s: %s (%s; %s)\n",
                 lib.backend->device_name(false).c_str(),
                 lib.backend->error_text(err), lib.backend->absence_hint(false),
                 kDeviceHint);
  return err == 0;
}

bool check_output_device() {
  Library &lib = library();
  int err = lib.backend->check_output();
  if (err < 0)
    std::fprintf(stderr, "pcmtap: no playback device: %s: %s (%s; %s)\n",
                 lib.backend->device_name(true).c_str(),
                 lib.backend->error_text(err), lib.backend->absence_hint(true),
                 kDeviceHint);
  return err == 0;
}

void report_start_failure(const char *reason) {
  std::fprintf(stderr, "pcmtap: cannot start recording: %s\n", reason);
}

HRECORD start_recording(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc,
                        void *user) {
  Library &lib = library();
  if (!lib.capture) {
    report_start_failure("the recording device is not open");
    return 0;
  }
  if (lib.recording) {
    report_start_failure("already recording");
    return 0;
  }
  // 16-bit samples only, in frames whose size divides the ring.
  if (proc == nullptr || flags != 0 || (chans != 1 && chans != 2) ||
      freq == 0) {
    report_start_failure("unsupported recording format");
    return 0;
  }
  if (freq != lib.capture->rate() || chans != lib.capture->channels()) {
    lib.capture.reset();
    if (int err = backend().open_capture(freq, chans, &lib.capture); err < 0) {
      report_start_failure(backend().error_text(err));
      return 0;
    }
  }
  HRECORD handle = ++lib.last_handle;
  auto recording =
      std::make_unique<Recording>(*lib.capture, handle, proc, user);
  if (int err = recording->start(); err < 0) {
    report_start_failure(lib.capture->error_text(err));
    return 0;
  }
  lib.recording = std::move(recording);
  return handle;
}

} // namespace
} // namespace pcmtap

using pcmtap::library;

// No exception may cross into the callers, who are C.
#define GUARDED(failure, ...)                                                  \
  try {                                                                        \
    __VA_ARGS__                                                                \
  } catch (...) {                                                              \
    return failure;                                                            \
  }

BOOL BASS_RecordInit(int device){
    GUARDED(0,
            {
              if (device != -1 || library().capture)
                return 0;
              return pcmtap::open_recording_device();
            })}

BOOL BASS_Init(int device, DWORD, DWORD, void *, void *) {
  GUARDED(0, {
    if (device != -1 || !library().backend)
      return 0;
    library().output_ready = pcmtap::check_output_device();
    return library().output_ready;
  })
}

const char *BASS_RecordGetInputName(int input){
    GUARDED(nullptr,
            {
              pcmtap::Inputs *inputs = pcmtap::inputs_for(input);
              return inputs ? inputs->name(size_t(input)) : nullptr;
            })}

DWORD BASS_RecordGetInput(int input){
    GUARDED(0,
            {
              pcmtap::Inputs *inputs = pcmtap::inputs_for(input);
              return inputs ? inputs->flags(size_t(input)) : 0;
            })}

BOOL BASS_RecordSetInput(int input, DWORD setting){
    GUARDED(0,
            {
              pcmtap::Inputs *inputs = pcmtap::inputs_for(input);
              if (!inputs)
                return 0;
              if (setting == BASS_INPUT_SET_OFF)
                return inputs->switch_off(size_t(input));
              if (setting == BASS_INPUT_SET_ON)
                return inputs->switch_on(size_t(input));
              return 0;
            })}

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc,
                         void *user){GUARDED(
    0, { return pcmtap::start_recording(freq, chans, flags, proc, user); })}

BOOL BASS_RecordFree(void){
    GUARDED(0,
            {
              pcmtap::Library &lib = library();
              if (!lib.capture)
                return 0;
              lib.recording.reset(); // delivers the rest and ends the threads
              lib.inputs.reset();
              lib.capture.reset();
              return 1;
            })}

BOOL BASS_Free(void) {
  GUARDED(0, {
    bool was_ready = library().output_ready;
    library().output_ready = false;
    return was_ready;
  })
}
