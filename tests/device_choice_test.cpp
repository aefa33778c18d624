// Choosing the device without options: PULSE_SOURCE picks a sound server's
// source.  Two sine sources of different pitch tell which one was recorded.
#include "process.h"
#include "pulse_server.h"
#include "virtual_devices.h"

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

// ALSA's default may lead to a server on its capture side only, or name a
// server that is not there and a device to fall back on: pcmtap follows the
// server where one answers, and otherwise records through ALSA without a
// word about servers.
TEST(ChoosingTheDevice, FollowsTheCaptureSideToAServerOrFallsBackQuietly) {
  PulseServer server({"load-module module-sine-source source_name=low "
                      "frequency=441 rate=44100 "
                      "source_properties=device.description=Low",
                      "set-default-source low",
                      "load-module module-null-sink sink_name=out"});
  TempDir dir;
  auto config = [&](const std::string &server_address) {
    std::string path = dir.file("asound.conf");
    write_file(path, "pcm_type.vcard { lib \"" VIRTUAL_CARD_PATH "\" }\n"
                     "pcm.card { type vcard realtime true }\n"
                     "pcm.!default { type asym\n"
                     "  capture.pcm { type pulse server \"" +
                         server_address +
                         "\" fallback \"card\" }\n"
                         "  playback.pcm { type null } }\n");
    ChildOptions options;
    options.env = server.environment();
    options.env.push_back("ALSA_CONFIG_PATH=" + path);
    return options;
  };

  Result listing = run({PCMTAP_PATH}, config(server.socket()));
  EXPECT_EQ(listing.status, 0) << listing.err;
  EXPECT_NE(listing.out.find("+    0. Name=\"Low\""), std::string::npos)
      << listing.out;

  Child pcmtap({PCMTAP_PATH, "-"}, config("unix:" + dir.file("none")));
  ASSERT_TRUE(pcmtap.wait_for_output(kBytesPerSecond)) << pcmtap.err();
  pcmtap.write_stdin("\n");
  EXPECT_EQ(pcmtap.wait(), 0);
  EXPECT_EQ(pcmtap.err(), "");
  EXPECT_EQ(gaps_in(pcmtap.out()).errors, 0u); // the card's frames
}

} // namespace
} // namespace pcmtap::test
