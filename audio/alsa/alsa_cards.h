// The sound cards on bare ALSA, found through their control devices only
// (no capture device is opened, so a card in use is seen as any other),
// and where ALSA's default device records from.
#ifndef PCMTAP_AUDIO_ALSA_ALSA_CARDS_H
#define PCMTAP_AUDIO_ALSA_ALSA_CARDS_H

#include <alsa/asoundlib.h>

#include <functional>
#include <string>
#include <vector>

namespace pcmtap {

struct AlsaCard {
  int index;
  std::string name; // the driver's short name ("USB PnP Sound Device")
  bool records;     // it has a capture device
};

// Every card, in card order.
std::vector<AlsaCard> alsa_cards();
// `card 1 "USB PnP Sound Device"`, for messages.
std::string card_label(const AlsaCard &card);
// The card's own device names: its configured default (which shares the
// card where its configuration shares it), and the plug converter straight
// on the hardware.
std::string card_device(const AlsaCard &card);
std::string card_plug_device(const AlsaCard &card);
// "hw:1": the card's control device.
std::string card_control(const AlsaCard &card);

// Where a PCM's capture side ends, as far as its definitions say.
struct CaptureEnd {
  enum Kind {
    kCard,    // a card's hardware: `card`
    kNothing, // no capture device behind it
    kOther,   // a plugin of its own (a file, a server, ...), or not known
  } kind = kOther;
  int card = -1;
};

// Follows `name`'s definitions along the capture side (the capture half
// of an asym, the slave of a converter) and calls `visit` on each until it
// returns true; false when none did or a definition is missing.
bool follow_capture(snd_config_t *top, const char *name,
                    const std::function<bool(snd_config_t *pcm)> &visit);
CaptureEnd default_capture_end();
// The value of `key` in `conf` when it is a string.
const char *config_string(snd_config_t *conf, const char *key);

// What the inputs choose and the capture records: a card (an index into
// `cards`), or ALSA's default (-1).  `marked` is the card `pcmtap -`
// records, if it is one.
struct AlsaChoice {
  std::vector<AlsaCard> cards;
  CaptureEnd default_end;
  int chosen = -1;
  int marked = -1;
  // The default's capture side ends at nothing, or at a card that does
  // not record.
  bool default_leads_nowhere = false;
};

// The card `pcmtap -` records when the default has nothing behind it: the
// first that records, or -1.
int fallback_card(const AlsaChoice &choice);

} // namespace pcmtap

#endif
