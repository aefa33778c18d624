// Virtual sound devices for tests: a stand-alone ALSA configuration (it
// never includes the system's, which a reachable sound server would take
// over) written into a directory of the test's own.
#ifndef PCMTAP_TESTS_SUPPORT_VIRTUAL_DEVICES_H
#define PCMTAP_TESTS_SUPPORT_VIRTUAL_DEVICES_H

#include "counting_check.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pcmtap::test {

// Frames that count: frame i holds i as a 32-bit little-endian number over
// its two 16-bit samples, so that any frame lost, repeated or reordered
// shows.
std::string counting_frames(uint32_t first, size_t count);
// Where the first frame of `bytes` breaks the count that starts at `first`,
// or -1 when none does.
long long first_miscounted_frame(const std::string &bytes, uint32_t first);
// The bytes of silence, in whole frames, before a count that a source was
// fed once its stream was running.
size_t leading_silence(const std::string &bytes);

// How the counting frames in `bytes` went.
CountingCheck gaps_in(const std::string &bytes);

class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

void write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path);

// `controls` ("NAME=values" each) with those of `changed` in place.
std::vector<std::string> with_values(std::vector<std::string> controls,
                                     const std::vector<std::string> &changed);

class VirtualDevices {
public:
  // The default capture device plays back `infile`'s bytes, unpaced.
  VirtualDevices &capture_from_file(const std::string &infile);
  // The default capture device is the virtual card, with these extra
  // settings ("realtime true", "rate 48000", ...).
  VirtualDevices &capture_from_card(const std::vector<std::string> &settings);
  VirtualDevices &without_playback();
  // A mixer on the default control device, with controls in the virtual
  // mixer's syntax ("Mic Capture Switch=bool:1,1").
  VirtualDevices &mixer(const std::vector<std::string> &controls);

  // Writes the configuration; the path is for ALSA_CONFIG_PATH.
  std::string write();
  std::string alsa_config_env() { return "ALSA_CONFIG_PATH=" + write(); }
  // Every write the mixer took, one "NAME=values" line each, in order.
  std::vector<std::string> mixer_writes() const;
  const TempDir &dir() const { return dir_; }

private:
  TempDir dir_;
  std::string capture_;
  bool playback_ = true;
  std::vector<std::string> controls_;
  bool has_mixer_ = false;
};

// Sound cards where the kernel has none: the shim SOUND_CARDS_SHIM_PATH
// stands in for the kernel's, and card N is the configuration's PCM
// "cardN" (a virtual card, or a null one for a card that only plays) and
// control "cardN" (a virtual mixer logging its writes).
struct VirtualSoundCard {
  std::string name;
  std::vector<std::string> controls; // the mixer's, as mixer() takes them
  std::string settings; // the virtual card's ("realtime true"); empty: it
                        // only plays
  bool busy = false;    // another program records from it
  // Its control device is an ALSA plugin: a write that changes a value
  // answers 1.
  bool plugin = false;
};

class VirtualSoundCards {
public:
  // `default_pcm` is the definition of pcm.!default ("{ type plug ... }").
  VirtualSoundCards(std::vector<VirtualSoundCard> cards,
                    const std::string &default_pcm);
  // ALSA_CONFIG_PATH, LD_PRELOAD and SOUND_CARDS for pcmtap.
  std::vector<std::string> env() const { return env_; }
  std::vector<std::string> mixer_writes(size_t card) const;
  // The card's controls as its mixer has them now, "NAME=values" each: as
  // it was made, with what each write it took left.
  std::vector<std::string> controls(size_t card) const;
  const TempDir &dir() const { return dir_; }

private:
  TempDir dir_;
  std::vector<std::string> env_;
  std::vector<std::vector<std::string>> made_; // each card's controls
};

} // namespace pcmtap::test

#endif
