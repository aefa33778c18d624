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

void AlsaBackend::find_cards() {
  choice_ = std::make_shared<AlsaChoice>();
  AlsaChoice &choice = *choice_;
  choice.cards = alsa_cards();
  choice.default_end = default_capture_end();
  const CaptureEnd &end = choice.default_end;
  choice.default_leads_nowhere = end.kind == CaptureEnd::kNothing;
  if (end.kind == CaptureEnd::kCard) {
    choice.default_leads_nowhere = true;
    for (size_t i = 0; i < choice.cards.size(); ++i)
      if (choice.cards[i].index == end.card && choice.cards[i].records) {
        choice.marked = int(i);
        choice.default_leads_nowhere = false;
      }
  }
  if (choice.default_leads_nowhere)
    choice.marked = fallback_card(choice);

  capture_hint_ = "no sound card or sound server found";
  if (!choice.cards.empty()) {
    capture_hint_ = "none of the sound cards records:";
    for (const AlsaCard &card : choice.cards)
      capture_hint_ +=
          (&card == &choice.cards[0] ? " " : ", ") + card_label(card);
  }
}

int AlsaBackend::open_capture(unsigned rate, unsigned channels,
                              std::unique_ptr<CaptureSource> *out) {
  if (!choice_)
    find_cards();
  auto capture = std::make_unique<AlsaCapture>(choice_, rate, channels);
  // With no card that records, ALSA's default is all there is (plugins of
  // its own, or nothing): whether it records is known only by opening it.
  if (fallback_card(*choice_) < 0)
    if (int err = capture->open_device(); err < 0)
      return err;
  *out = std::move(capture);
  return 0;
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
  if (!choice_)
    find_cards();
  return std::make_unique<AlsaInputs>(choice_);
}

const char *AlsaBackend::error_text(int err) const { return snd_strerror(err); }

} // namespace pcmtap
