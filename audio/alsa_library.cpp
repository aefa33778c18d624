// The audio library's eight functions over alsa-lib.  One recording device
// at a time, as the callers expect; every function is called from one
// thread.
#include "alsa_capture.h"
#include "alsa_inputs.h"
#include "bass.h"
#include "input_types.h"
#include "recording.h"

#include <cstdio>
#include <memory>

namespace pcmtap {
namespace {

const unsigned kDefaultRate = 44100;
const unsigned kDefaultChannels = 2;

struct Library {
  std::unique_ptr<AlsaCapture> capture;
  std::unique_ptr<AlsaInputs> inputs; // opened on first use
  std::unique_ptr<Recording> recording;
  HRECORD last_handle = 0;
  bool output_ready = false;
};

Library &library() {
  static Library instance;
  return instance;
}

// Inputs of the open recording device, or null for an index it does not
// have.
AlsaInputs *inputs_for(int input) {
  Library &lib = library();
  if (!lib.capture || input < 0)
    return nullptr;
  if (!lib.inputs)
    lib.inputs = std::make_unique<AlsaInputs>();
  return size_t(input) < lib.inputs->count() ? lib.inputs.get() : nullptr;
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
    if (int err = AlsaCapture::open(freq, chans, &lib.capture); err < 0) {
      report_start_failure(snd_strerror(err));
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
              pcmtap::alsa_silence_errors();
              if (device != -1 || library().capture)
                return 0;
              return pcmtap::AlsaCapture::open(pcmtap::kDefaultRate,
                                               pcmtap::kDefaultChannels,
                                               &library().capture) == 0;
            })}

BOOL BASS_Init(int device, DWORD, DWORD, void *, void *) {
  GUARDED(0, {
    pcmtap::alsa_silence_errors();
    if (device != -1)
      return 0;
    library().output_ready = pcmtap::alsa_playback_available();
    return library().output_ready;
  })
}

const char *BASS_RecordGetInputName(int input){
    GUARDED(nullptr,
            {
              pcmtap::AlsaInputs *inputs = pcmtap::inputs_for(input);
              return inputs ? inputs->name(size_t(input)) : nullptr;
            })}

DWORD BASS_RecordGetInput(int input){
    GUARDED(0,
            {
              pcmtap::AlsaInputs *inputs = pcmtap::inputs_for(input);
              if (!inputs)
                return 0;
              inputs->refresh();
              DWORD flags =
                  pcmtap::input_type_from_name(inputs->name(size_t(input)));
              if (inputs->is_off(size_t(input)))
                flags |= BASS_INPUT_OFF;
              return flags;
            })}

BOOL BASS_RecordSetInput(int input, DWORD setting){
    GUARDED(0,
            {
              pcmtap::AlsaInputs *inputs = pcmtap::inputs_for(input);
              if (!inputs)
                return 0;
              if (setting == BASS_INPUT_SET_OFF)
                return inputs->switch_off(size_t(input)) == 0;
              if (setting == BASS_INPUT_SET_ON)
                return inputs->switch_on(size_t(input)) == 0;
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
