#include "followed_program.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace pcmtap {

void add_saturated(unsigned char *dst, const unsigned char *src,
                   size_t samples) {
  for (size_t i = 0; i < samples; ++i) {
    int16_t a, b;
    std::memcpy(&a, dst + 2 * i, 2);
    std::memcpy(&b, src + 2 * i, 2);
    const auto sum = int16_t(std::clamp(int(a) + int(b), -32768, 32767));
    std::memcpy(dst + 2 * i, &sum, 2);
  }
}

bool ProgramPresence::update(bool plays, bool here) {
  const std::string quoted = "\"" + name_ + "\"";
  std::string said;
  bool gone = false;
  if (plays && state_ != State::kPlaying) {
    if (state_ == State::kAwaited)
      said = quoted + " plays now; recording it";
    else if (state_ == State::kGone)
      said = quoted + " plays again; recording it";
    state_ = State::kPlaying;
  } else if (!plays && state_ == State::kUnknown) {
    said =
        "waiting for " + quoted + " to play; recording silence until it does";
    state_ = State::kAwaited;
  } else if (!plays && !here && state_ == State::kPlaying) {
    said = quoted + " " + gone_ + "; recording silence until it plays again";
    state_ = State::kGone;
    gone = true;
  }
  if (!said.empty())
    std::fprintf(stderr, "pcmtap: %s\n", said.c_str());
  return gone;
}

} // namespace pcmtap
