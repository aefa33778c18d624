#include "alsa_backend.h"

#include "alsa_capture.h"
#include "alsa_inputs.h"

#include <alsa/asoundlib.h>

namespace pcmtap {
namespace {

void ignore_alsa_error(const char *, int, const char *, int, const char *,
                       ...) {}

} // namespace

void alsa_silence_errors() { snd_lib_error_set_handler(ignore_alsa_error); }

AlsaBackend::AlsaBackend() { alsa_silence_errors(); }

int AlsaBackend::open_capture(unsigned rate, unsigned channels,
                              std::unique_ptr<CaptureSource> *out) {
  std::unique_ptr<AlsaCapture> capture;
  int err = AlsaCapture::open(rate, channels, &capture);
  if (err == 0)
    *out = std::move(capture);
  return err;
}

// The device is closed again at once, so that other programs keep using it.
int AlsaBackend::check_output() {
  snd_pcm_t *pcm;
  int err =
      snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (err == 0)
    snd_pcm_close(pcm);
  return err;
}

std::unique_ptr<Inputs> AlsaBackend::open_inputs() {
  return std::make_unique<AlsaInputs>();
}

const char *AlsaBackend::error_text(int err) const { return snd_strerror(err); }

} // namespace pcmtap
