#include "pulse_server.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
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

} // namespace
} // namespace pcmtap::test
