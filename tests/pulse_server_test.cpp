#include "card_server.h"
#include "pulse_server.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace pcmtap::test {
namespace {

bool process_exists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

TEST(PulseServer, ServesAlsaAndPactlAndLeavesNothingBehind) {
  pid_t pid = -1;
  std::string dir;
  {
    PulseServer server({"load-module module-sine-source source_name=tone "
                        "frequency=441 rate=44100",
                        "set-default-source tone"});
    pid = server.pid();
    dir = server.dir();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(server.socket(), "unix:" + dir + "/native");

    // Only environment(): the recording must reach the server through the
    // ALSA configuration it names, with no system configuration at all.
    const ProcessResult rec =
        run_process({"arecord", "-q", "-D", "default", "-f", "S16_LE", "-c",
                     "2", "-r", "44100", "-t", "raw", "-d", "1"},
                    server.environment());
    ASSERT_EQ(rec.status, 0) << rec.err;
    EXPECT_EQ(rec.out.size(), 176400u);
    EXPECT_TRUE(std::any_of(rec.out.begin(), rec.out.end(),
                            [](char c) { return c != 0; }));

    server.pactl("set-source-mute tone 1");
    EXPECT_NE(server.pactl("get-source-mute tone").find("yes"),
              std::string::npos);
    EXPECT_THROW(server.pactl("get-source-mute no-such-source"),
                 std::runtime_error);
  }
  EXPECT_FALSE(process_exists(pid));
  EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(PulseServer, ReportsFailuresAndDiesOnDemand) {
  try {
    PulseServer broken({"load-module module-sine-source bogus_arg=1"});
    ADD_FAILURE() << "a bad script line did not fail";
  } catch (const std::runtime_error &e) {
    // The server's own log explains what went wrong.
    EXPECT_NE(std::string(e.what()).find("bogus_arg"), std::string::npos)
        << e.what();
  }

  PulseServer server({});
  const pid_t pid = server.pid();
  server.kill_now();
  EXPECT_FALSE(process_exists(pid));
  EXPECT_EQ(server.pid(), -1);
  EXPECT_THROW(server.pactl("info"), std::runtime_error);
}

TEST(CardServer, OffersTypedPortsThatDriveTheMixerAndCarriesTheCard) {
  const CardServer card = start_card_server();
  const PulseServer &server = *card.server;
  EXPECT_NE(server.pactl("info").find("Default Source: " + card.source),
            std::string::npos);

  // Every port, in order, with its type; availability from the jacks.
  const std::string sources = server.pactl("list sources");
  const std::string expected[][2] = {
      {"Microphone (type: Mic, ", ", available)"},
      {"Line In (type: Line, ", ", not available)"},
      {"CD (type: Unknown, ", ", availability unknown)"},
      {"Digital Input (type: Unknown, ", ", availability unknown)"}};
  size_t last = 0;
  for (size_t i = 0; i < kCardPorts.size(); ++i) {
    const std::string head = "\t\t" + kCardPorts[i] + ": " + expected[i][0];
    const size_t at = sources.find(head);
    ASSERT_NE(at, std::string::npos) << head << "\n" << sources;
    const std::string line = sources.substr(at, sources.find('\n', at) - at);
    const std::string &tail = expected[i][1];
    EXPECT_TRUE(line.size() > tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
        << line;
    EXPECT_GT(at, last) << sources;
    last = at;
  }
  EXPECT_NE(sources.find("Active Port: analog-input-mic\n"), std::string::npos);

  // Frames pass through untouched: no software volume, no conversion.
  const ProcessResult rec =
      run_process({"arecord", "-q", "-D", "default", "-f", "S16_LE", "-c", "2",
                   "-r", "44100", "-t", "raw", "-s", "22050"},
                  server.environment());
  ASSERT_EQ(rec.status, 0) << rec.err;
  const CountingCheck check = gaps_in(rec.out);
  EXPECT_EQ(check.frames, 22050u);
  EXPECT_EQ(check.errors, 0u) << "first frame " << check.first;

  server.pactl("set-source-port " + card.source + " pcmtap-cd");
  EXPECT_TRUE(card.wait_for_mixer_write("Input Source=2"));
  EXPECT_NE(server.pactl("list sources").find("Active Port: pcmtap-cd\n"),
            std::string::npos);
  server.pactl("set-source-mute " + card.source + " 1");
  EXPECT_TRUE(card.wait_for_mixer_write("Capture Switch=0,0"));
}

} // namespace
} // namespace pcmtap::test
