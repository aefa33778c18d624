// Choosing the device without options: PULSE_SOURCE picks a sound server's
// source.  Two sine sources of different pitch tell which one was recorded.
#include "process.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace pcmtap::test {
namespace {

const size_t kBytesPerSecond = 176400;

// The pitch of a second that pcmtap recorded, from the upward zero
// crossings of its left channel.
int recorded_frequency(const std::vector<std::string> &env) {
  ChildOptions options;
  options.env = env;
  Child pcmtap({PCMTAP_PATH, "-"}, options);
  EXPECT_TRUE(pcmtap.wait_for_output(kBytesPerSecond));
  pcmtap.write_stdin("\n");
  EXPECT_EQ(pcmtap.wait(), 0) << pcmtap.err();
  std::string audio = pcmtap.out().substr(0, kBytesPerSecond);
  int crossings = 0;
  int16_t last = 0;
  for (size_t i = 0; i + 4 <= audio.size(); i += 4) {
    int16_t left;
    std::memcpy(&left, &audio[i], 2);
    crossings += last < 0 && left >= 0;
    last = left;
  }
  return crossings;
}

TEST(ChoosingTheDevice, PulseSourcePicksTheServersSource) {
  PulseServer server({"load-module module-sine-source source_name=low "
                      "frequency=441 rate=44100",
                      "load-module module-sine-source source_name=high "
                      "frequency=1000 rate=44100",
                      "set-default-source low",
                      "load-module module-null-sink sink_name=out"});
  std::vector<std::string> env = server.environment();
  EXPECT_NEAR(recorded_frequency(env), 441, 10);
  env.push_back("PULSE_SOURCE=high");
  EXPECT_NEAR(recorded_frequency(env), 1000, 10);
}

} // namespace
} // namespace pcmtap::test
