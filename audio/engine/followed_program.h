// What recording a program by its name is alike in on every backend: its
// streams mixed as a sink mixes them, and what is said as it comes and
// goes.
#ifndef PCMTAP_AUDIO_ENGINE_FOLLOWED_PROGRAM_H
#define PCMTAP_AUDIO_ENGINE_FOLLOWED_PROGRAM_H

#include <cstddef>
#include <string>
#include <utility>

namespace pcmtap {

// Adds 16-bit samples as a sink mixes them, clipping at full scale.
void add_saturated(unsigned char *dst, const unsigned char *src,
                   size_t samples);

// Says on standard error where the program is, each change once: that it
// is waited for (at the start only, where it does not play), that it plays
// now, that it has gone (`gone` says how: "has ended"), and that it plays
// again.
class ProgramPresence {
public:
  ProgramPresence(std::string name, std::string gone)
      : name_(std::move(name)), gone_(std::move(gone)) {}

  // A new recording: nothing is known yet.
  void restart() { state_ = State::kUnknown; }
  // Whether the program plays now, and, where it does not, whether it is
  // still there (between two streams); true when it has just gone.
  bool update(bool plays, bool here);

private:
  enum class State { kUnknown, kAwaited, kPlaying, kGone };

  const std::string name_;
  const std::string gone_;
  State state_ = State::kUnknown;
};

} // namespace pcmtap

#endif
