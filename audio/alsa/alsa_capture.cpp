#include "alsa_capture.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace pcmtap {
namespace {

const char *const kDevice = "default";
const char *const kPlugDevice = "plug:default";

// A period of 50 ms keeps wake-ups rare on real-time devices; a buffer of a
// second rides out a delivery thread that is late now and then.
const unsigned kPeriodMicros = 50000;
const unsigned kBufferMicros = 1000000;
// Reads much larger than this gain nothing on an unpaced device.
const snd_pcm_uframes_t kMaxReadFrames = 16384;
const unsigned kSpuriousWakeMicros = 10000;

struct PcmCloser {
  void operator()(snd_pcm_t *pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

int configure(snd_pcm_t *pcm, unsigned rate, unsigned channels) {
  snd_pcm_hw_params_t *hw;
  snd_pcm_hw_params_alloca(&hw);
  int err;
  if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0 ||
      (err = snd_pcm_hw_params_set_access(pcm, hw,
                                          SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) <
          0 ||
      (err = snd_pcm_hw_params_set_channels(pcm, hw, channels)) < 0 ||
      (err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0)) < 0)
    return err;
  // Sizes are wishes: the device rounds them to what it can do.
  unsigned buffer_time = kBufferMicros;
  unsigned period_time = kPeriodMicros;
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_time, nullptr);
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_time, nullptr);
  if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
    return err;

  snd_pcm_uframes_t buffer_frames, period_frames;
  if ((err = snd_pcm_get_params(pcm, &buffer_frames, &period_frames)) < 0)
    return err;
  snd_pcm_sw_params_t *sw;
  snd_pcm_sw_params_alloca(&sw);
  if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0 ||
      (err = snd_pcm_sw_params_set_avail_min(pcm, sw, period_frames)) < 0 ||
      (err = snd_pcm_sw_params(pcm, sw)) < 0)
    return err;
  return 0;
}

int open_configured(const char *name, unsigned rate, unsigned channels,
                    PcmHandle *out) {
  snd_pcm_t *raw;
  int err = snd_pcm_open(&raw, name, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0)
    return err;
  PcmHandle pcm(raw);
  if ((err = configure(pcm.get(), rate, channels)) < 0)
    return err;
  *out = std::move(pcm);
  return 0;
}

double now_seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

AlsaCapture::AlsaCapture(std::shared_ptr<const AlsaChoice> choice,
                         unsigned rate, unsigned channels)
    : choice_(std::move(choice)), rate_(rate), channels_(channels) {}

int AlsaCapture::open_device() {
  const AlsaChoice &choice = *choice_;
  int card = choice.chosen;
  // The card the default leads to is recorded as the default has it: the
  // user's definition may share it or route it.
  if (card >= 0 && choice.default_end.kind == CaptureEnd::kCard &&
      choice.cards[size_t(card)].index == choice.default_end.card)
    card = -1;
  if (card >= 0)
    return open_card(choice.cards[size_t(card)]);
  const bool records_a_card = choice.default_end.kind == CaptureEnd::kCard &&
                              !choice.default_leads_nowhere;
  // Where there are cards, a message says which device failed.
  if (records_a_card && choice.marked >= 0)
    label_ = card_label(choice.cards[size_t(choice.marked)]);
  else if (!choice.cards.empty())
    label_ = "ALSA \"default\"";
  int fallback = fallback_card(choice);
  int err = open_default();
  // A default with no capture device behind it records nothing; a card
  // that records does better than a failure.
  const bool no_device = err == -ENOENT || err == -ENODEV || err == -ENXIO;
  if (err < 0 && fallback >= 0 &&
      (choice.default_leads_nowhere || (no_device && !records_a_card))) {
    const AlsaCard &instead = choice.cards[size_t(fallback)];
    std::fprintf(stderr,
                 "pcmtap: ALSA \"default\" has no capture device; recording "
                 "from %s\n",
                 card_label(instead).c_str());
    return open_card(instead);
  }
  return err;
}

int AlsaCapture::open_default() {
  PcmHandle pcm;
  int err = open_configured(kDevice, rate_, channels_, &pcm);
  // Only a device that exists but cannot take our format is worth a second
  // try through the plug converter.
  if (err == -EINVAL)
    err = open_configured(kPlugDevice, rate_, channels_, &pcm);
  if (err < 0)
    return err;
  take(pcm.release());
  return 0;
}

// The card's own default converts and, where its configuration says so,
// shares the card with other programs; a card without one is converted
// straight on its hardware.
int AlsaCapture::open_card(const AlsaCard &card) {
  label_ = card_label(card);
  PcmHandle pcm;
  int err = open_configured(card_device(card).c_str(), rate_, channels_, &pcm);
  if (err == -ENOENT || err == -EINVAL)
    err =
        open_configured(card_plug_device(card).c_str(), rate_, channels_, &pcm);
  if (err < 0)
    return err;
  take(pcm.release());
  return 0;
}

// A configured device, whose sizes are known.
void AlsaCapture::take(snd_pcm_t *pcm) {
  pcm_ = pcm;
  snd_pcm_uframes_t buffer_frames = 0, period_frames = 0;
  snd_pcm_get_params(pcm, &buffer_frames, &period_frames);
  // A read larger than the device's buffer confuses some plugins.
  max_read_ = std::min(buffer_frames, kMaxReadFrames);
  buffer_millis_ = unsigned(buffer_frames * 1000 / rate_);
  period_frames_ = period_frames;
}

// Before the device is open: as much as any read will be.
size_t AlsaCapture::max_read_frames() const {
  return pcm_ ? max_read_ : kMaxReadFrames;
}

AlsaCapture::~AlsaCapture() {
  if (pcm_)
    snd_pcm_close(pcm_);
}

int AlsaCapture::start() {
  if (!pcm_)
    if (int err = open_device(); err < 0)
      return err;
  int err = snd_pcm_prepare(pcm_);
  last_read_time_ = now_seconds();
  return err < 0 ? err : snd_pcm_start(pcm_);
}

void AlsaCapture::stop() {
  if (pcm_)
    snd_pcm_drop(pcm_);
}

int AlsaCapture::wait(const Wakeup &stop) {
  // Some plugins (PulseAudio's among them) keep their descriptor readable
  // while they have less than they will hand out.  Poll would then return
  // at once, again and again; a short sleep turns that spin into a slow
  // look every few milliseconds.
  if (woke_for_device_ && !read_since_wait_)
    usleep(kSpuriousWakeMicros);
  woke_for_device_ = false;
  read_since_wait_ = false;
  pollfd fds[16];
  fds[0] = {stop.fd(), POLLIN, 0};
  int count = snd_pcm_poll_descriptors(pcm_, fds + 1, 15);
  if (count < 0)
    return count;
  // The timeout only makes sure that a device that went quiet without
  // saying so is looked at again.
  int ready = poll(fds, nfds_t(count) + 1, 1000);
  if (ready < 0)
    return errno == EINTR ? 0 : -errno;
  if (ready == 0 || fds[0].revents != 0)
    return 0;
  woke_for_device_ = true;
  unsigned short revents = 0;
  int err = snd_pcm_poll_descriptors_revents(pcm_, fds + 1, unsigned(count),
                                             &revents);
  if (err < 0)
    return err;
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    switch (snd_pcm_state(pcm_)) {
    case SND_PCM_STATE_XRUN:
      return 0; // read() recovers
    case SND_PCM_STATE_SUSPENDED:
      // Not every plugin fails its reads while suspended: some only have
      // nothing to read.
      suspended_ = true;
      return 0;
    case SND_PCM_STATE_DISCONNECTED:
      return -ENODEV;
    default:
      // Not something read() will clear; do not spin on it.
      usleep(10000);
    }
  }
  return 0;
}

long AlsaCapture::available() {
  snd_pcm_sframes_t n = snd_pcm_avail_update(pcm_);
  return n < 0 ? 0 : long(n);
}

long AlsaCapture::read(void *dst, size_t max_frames, DeviceLosses *lost) {
  if (suspended_) {
    suspended_ = false;
    if (int err = recover(-ESTRPIPE, lost); err < 0)
      return err;
  }
  for (;;) {
    // Asking for more than is there would make alsa-lib hold out for a
    // full period (and answer -EAGAIN), though the device says it is ready.
    snd_pcm_sframes_t n = snd_pcm_avail_update(pcm_);
    if (n > 0)
      n = snd_pcm_readi(pcm_, dst, std::min(max_frames, snd_pcm_uframes_t(n)));
    if (n > 0) {
      last_read_time_ = now_seconds();
      read_since_wait_ = true;
    }
    if (n >= 0)
      return long(n);
    if (n == -EAGAIN)
      return 0;
    int err = recover(int(n), lost);
    if (err < 0)
      return err;
  }
}

// The frames lost in an overrun or a suspend: everything the device
// captured since our last read.  Drivers do not all stamp the moment they
// stopped, so the gap is measured from our side.
uint64_t AlsaCapture::frames_lost_since_last_read() const {
  double gap = now_seconds() - last_read_time_;
  return gap > 0 ? uint64_t(gap * rate_ + 0.5) : 0;
}

int AlsaCapture::recover(int err, DeviceLosses *lost) {
  if (err != -EPIPE && err != -ESTRPIPE)
    return err;
  const bool suspended = err == -ESTRPIPE;
  if (suspended) {
    // The device may need a while to come back, or a restart.
    for (int tries = 0; (err = snd_pcm_resume(pcm_)) == -EAGAIN && tries < 500;
         ++tries)
      usleep(10000);
    // Some plugins take the resume and stay suspended.
    if (err == 0 && snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING)
      err = -EBADFD;
  }
  if (err != 0 &&
      ((err = snd_pcm_prepare(pcm_)) < 0 || (err = snd_pcm_start(pcm_)) < 0))
    return err;
  (suspended ? lost->suspend_frames : lost->overrun_frames) +=
      frames_lost_since_last_read();
  last_read_time_ = now_seconds();
  return 0;
}

const char *AlsaCapture::error_text(int err) const {
  if (label_.empty())
    return snd_strerror(err);
  message_ = label_ + ": " + snd_strerror(err);
  return message_.c_str();
}

} // namespace pcmtap
