// The private PipeWire test bed: pipewire-pulse carries a pipe source's
// frames exactly to a recording client, and nothing outlives the server.
#include "checked_recording.h"
#include "pipewire_server.h"
#include "process.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <future>

namespace pcmtap::test {
namespace {

bool process_exists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

// Writes `bytes` into the FIFO as the pipe source takes them, which is at
// the graph's pace, until `cancel` is set. False when it takes nothing for
// 20 s (a hang).
bool feed(const std::string &fifo, const std::string &bytes,
          const std::atomic<bool> *cancel = nullptr) {
  const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  size_t done = 0;
  int idle_ms = 0;
  while (done < bytes.size() && !(cancel && *cancel)) {
    pollfd p = {fd, POLLOUT, 0};
    if (::poll(&p, 1, 100) == 0) {
      if ((idle_ms += 100) >= 20000)
        break;
      continue;
    }
    idle_ms = 0;
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += size_t(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
      break;
  }
  ::close(fd);
  return done == bytes.size() || (cancel && *cancel);
}

// pcmtap on PipeWire, through its PulseAudio server: the pipe source is an
// input without ports, its frames arrive exactly, and a server that dies
// ends the recording; nothing outlives the server.
TEST(PipewireServer, PcmtapListsAndRecordsTheSourceAndEndsWithTheServer) {
  constexpr size_t kFrames = 44100;
  std::vector<pid_t> pids;
  std::string dir;
  {
    PipewireServer server;
    pids = server.pids();
    dir = server.dir();
    ASSERT_EQ(pids.size(), 4u);
    const std::string fifo = dir + "/feed";
    server.pactl("load-module module-pipe-source source_name=feed file=" +
                 fifo + " format=s16le rate=44100 channels=2");
    server.pactl("set-default-source feed");
    ChildOptions options;
    options.env = server.environment();

    Result listing = run({PCMTAP_PATH}, options);
    EXPECT_EQ(listing.status, 0) << listing.err;
    EXPECT_NE(listing.out.find("\n+    0. Name=\"feed\", Type=\"undefined\"\n"),
              std::string::npos)
        << listing.out;

    // Silence flows once the stream is linked; from then on no frame fed
    // may be lost. The source holds back the last part of a period until
    // more comes, so silence follows the count to push it through.
    Child pcmtap({PCMTAP_PATH, "-"}, options);
    ASSERT_TRUE(pcmtap.wait_for_output(4)) << pcmtap.err();
    auto fed = std::async(
        std::launch::async, feed, fifo,
        counting_frames(1, kFrames) + std::string(8192 * 4, '\0'), nullptr);
    EXPECT_TRUE(pcmtap.wait_until([&](const std::string &out) {
      return out.size() >= leading_silence(out) + kFrames * 4;
    })) << pcmtap.err();
    EXPECT_TRUE(fed.get());
    const std::string out = pcmtap.out();
    EXPECT_EQ(first_miscounted_frame(
                  out.substr(leading_silence(out), kFrames * 4), 1),
              -1);

    pcmtap.write_stdin("\n");
    EXPECT_EQ(pcmtap.wait(), 0);
    EXPECT_EQ(pcmtap.err(), "");

    // Standard input stays open: pcmtap must end on its own.
    Child orphan({PCMTAP_PATH, "-"}, options);
    ASSERT_TRUE(orphan.wait_for_output(4)) << orphan.err();
    server.kill_now();
    EXPECT_EQ(orphan.wait(), 1);
    EXPECT_EQ(orphan.err().rfind("pcmtap: recording device: ", 0), 0u)
        << orphan.err();
    EXPECT_EQ(server.pids().size(), 3u);
  }
  for (pid_t pid : pids)
    EXPECT_FALSE(process_exists(pid)) << pid;
  EXPECT_FALSE(std::filesystem::exists(dir));
}

// Runs check against a PipeWire server whose default source is a pipe fed
// with a minute of counting frames, read by frame_check's count.
void with_counting_source(
    const std::function<void(const std::vector<std::string> &)> &check) {
  PipewireServer server;
  const std::string fifo = server.dir() + "/feed";
  server.pactl("load-module module-pipe-source source_name=feed file=" + fifo +
               " format=s16le rate=44100 channels=2");
  server.pactl("set-default-source feed");
  std::atomic<bool> cancel{false};
  auto fed = std::async(std::launch::async, feed, fifo,
                        counting_frames(1, 60 * 44100), &cancel);
  check(server.environment());
  cancel = true;
  EXPECT_TRUE(fed.get());
}

// A reader that stalls longer than pcmtap can hold for it loses the same
// on PipeWire as anywhere: one gap, said once with its length.
TEST(PipewireServer, AStallLongerThanTheRingIsOneGapSaidOnce) {
  with_counting_source([](const std::vector<std::string> &env) {
    expect_a_long_stall_reported(env, {"count", "--skip-silence", "1"});
  });
}

// The same on PipeWire: the backlog of a reader at half speed is not left
// in the server for the stop to cut.
TEST(PipewireServer, AReaderAtHalfSpeedGetsEverythingUpToTheStop) {
  with_counting_source([](const std::vector<std::string> &env) {
    expect_a_slow_reader_to_get_all_up_to_the_stop(
        env, {"count", "--skip-silence", "1"}, 20);
  });
}

} // namespace
} // namespace pcmtap::test
