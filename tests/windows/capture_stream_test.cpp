// The WASAPI capture over a fake engine on a clock of the test's: what real
// Windows does and Wine never does, each in no time.
#include "fake_endpoints.h"
#include "fake_sessions.h"
#include "fake_stream.h"
#include "wasapi/endpoint_inputs.h"
#include "wasapi/program_capture.h"
#include "wasapi/wasapi_capture.h"
#include "wasapi/wasapi_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace pcmtap {
namespace {

const UINT64 kRate = 44100;
const UINT64 k50ms = kRate / 20;

// The device thread's loop of the recording engine, over a fake stream.
struct Recorder {
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::shared_ptr<FakeStream> fake = std::make_shared<FakeStream>(clock);
  std::shared_ptr<EndpointChoice> choice = std::make_shared<EndpointChoice>();
  std::unique_ptr<CaptureSource> capture;
  Wakeup stop;
  std::vector<uint32_t> out; // the frames recorded, each as one number
  DeviceLosses lost;
  std::vector<UINT64> block_times; // the clock at each block read

  explicit Recorder(bool loopback) {
    choice->loopback = loopback;
    std::shared_ptr<FakeStream> stream = fake;
    capture = make_wasapi_capture(
        44100, 2, choice,
        [stream](const std::wstring &, bool, unsigned, unsigned,
                 std::shared_ptr<CaptureStream> *opened) {
          *opened = stream;
          return S_OK;
        });
  }
  // Instead, the program `name` among `sessions`, each of its processes
  // recorded from the stream `stream_of` gives (none: refused).
  void follow(const std::string &name, std::shared_ptr<FakeSessions> sessions,
              std::function<std::shared_ptr<FakeStream>(DWORD)> stream_of) {
    capture = make_program_capture(
        44100, 2, name, std::move(sessions),
        [this, stream_of](DWORD pid, unsigned, unsigned,
                          std::shared_ptr<CaptureStream> *opened) {
          opened_pids.push_back(pid);
          *opened = stream_of(pid);
          return *opened ? S_OK : E_ACCESSDENIED;
        },
        clock);
  }
  // Records until the clock has run `millis`.
  void record(UINT64 millis) {
    if (!started) {
      ASSERT_EQ(capture->start(), 0);
      started = true;
    }
    const UINT64 until = clock->now() + millis * 10000;
    std::vector<uint32_t> block(capture->max_read_frames());
    int idle = 0; // reads and waits in a row with nothing, at one time
    UINT64 last = clock->now();
    while (clock->now() < until) {
      const long n = capture->read(block.data(), block.size(), &lost);
      ASSERT_GE(n, 0);
      if (n > 0) {
        out.insert(out.end(), block.begin(), block.begin() + n);
        block_times.push_back(clock->now());
        continue;
      }
      ASSERT_EQ(capture->wait(stop), 0);
      idle = clock->now() == last ? idle + 1 : 0;
      ASSERT_LT(idle, 100) << "wait() returns with nothing to read";
      last = clock->now();
    }
  }
  bool started = false;
  std::vector<DWORD> opened_pids; // a program's, as its processes are opened
};

// The index of the first frame in out[from, to) that is not the one after
// the last (the first of them is `first`), or -1.
long miscounted(const std::vector<uint32_t> &out, size_t from, size_t to,
                uint32_t first) {
  for (size_t i = from; i < to; ++i)
    if (out[i] != first + (i - from))
      return long(i);
  return -1;
}

// Real Windows gives a loopback no packets while nothing plays, and flags
// the first after as a discontinuity (but Vista does not).  Catches that
// silence left out of the recording (which then falls behind the clock),
// written late, or said as audio lost when playback resumes.
TEST(LoopbackCapture, KeepsTimeWhileNothingPlays) {
  for (bool flagged : {true, false}) {
    SCOPED_TRACE(flagged ? "flagged" : "not flagged");
    Recorder r(true);
    r.fake->flags_discontinuity = flagged;
    r.fake->plays = [](UINT64 at) { return at < kRate || at >= 3 * kRate; };
    r.record(2500);
    // Half way into the silence, it is there up to the last 50 ms.
    EXPECT_LE(r.out.size(), 2500 * kRate / 1000);
    EXPECT_GE(r.out.size(), 2500 * kRate / 1000 - k50ms);
    r.record(1500);
    ASSERT_GE(r.out.size(), 4 * kRate - k50ms);
    EXPECT_LE(r.out.size(), 4 * kRate);
    EXPECT_EQ(miscounted(r.out, 0, kRate, 1), -1);
    EXPECT_EQ(std::count(r.out.begin() + kRate, r.out.begin() + 3 * kRate, 0u),
              long(2 * kRate));
    EXPECT_EQ(miscounted(r.out, 3 * kRate, r.out.size(), 3 * kRate + 1), -1);
    EXPECT_EQ(r.lost.overrun_frames, 0u);
  }
}

// A program of one process that plays for a second, falls silent for
// 1.5 s, plays 0.9 s on a new stream (its positions from 0, as Windows'
// process loopback may give them), and ends 0.1 s later, its session left
// listed.  Catches the silences left out or said as lost, the new stream
// taken for a jump back (audio dropped or repeated), the end not said,
// said more than once, the process that ended opened again, or its end
// ending the recording where the stream then fails.
TEST(ProgramCapture, FollowsTheProgramThroughSilenceANewStreamAndItsEnd) {
  for (HRESULT after_end : {S_OK, AUDCLNT_E_DEVICE_INVALIDATED}) {
    SCOPED_TRACE(after_end == S_OK ? "stream goes on" : "stream fails");
    const UINT64 kPlayedUntil = 34 * kRate / 10;
    Recorder r(true);
    auto sessions = std::make_shared<FakeSessions>();
    sessions->sessions = {{4242, L"Player", L"C:\\Player\\player.exe"}};
    r.follow("Player", sessions, [&r](DWORD) { return r.fake; });
    r.fake->new_streams = true;
    r.fake->ends_at = 7 * kRate / 2;
    r.fake->after_end = after_end;
    r.fake->plays = [](UINT64 at) {
      return at < kRate || (at >= 5 * kRate / 2 && at < kPlayedUntil);
    };
    ::testing::internal::CaptureStderr();
    r.record(5000);
    std::string said = ::testing::internal::GetCapturedStderr();
    said.erase(std::remove(said.begin(), said.end(), '\r'), said.end());
    EXPECT_EQ(said, "pcmtap: \"Player\" has ended; recording silence until "
                    "it plays again\n");
    EXPECT_EQ(r.opened_pids, std::vector<DWORD>{4242});
    ASSERT_GE(r.out.size(), 5 * kRate - k50ms);
    EXPECT_LE(r.out.size(), 5 * kRate);
    EXPECT_EQ(miscounted(r.out, 0, kRate, 1), -1);
    EXPECT_EQ(
        std::count(r.out.begin() + kRate, r.out.begin() + 5 * kRate / 2, 0u),
        long(3 * kRate / 2));
    EXPECT_EQ(miscounted(r.out, 5 * kRate / 2, kPlayedUntil,
                         uint32_t(5 * kRate / 2 + 1)),
              -1);
    EXPECT_EQ(std::count(r.out.begin() + long(kPlayedUntil), r.out.end(), 0u),
              long(r.out.size() - kPlayedUntil));
    EXPECT_EQ(r.lost.overrun_frames, 0u);
  }
}

// A program followed by its name, "Zoom", through processes that come and
// go on one clock: each plays, while its session is listed, a stream that
// counts the frames since the start in the channels of its mask (none: its
// process loopback is refused).  Catches a process not recorded from the
// look after it came (within 300 ms), one of another name recorded, the
// processes of one name not mixed or out of step, silence that does not
// keep time before, between and after them, a coming or going not said,
// said twice, or said while another process of the name still plays, and
// a refused process unsaid or asked again.
TEST(ProgramCapture, FollowsItsProcessesAsTheyComeAndGo) {
  const uint32_t kAll = ~0u, kLeft = 0xFFFF, kRight = 0xFFFF0000;
  const std::string waiting = "waiting for \"Zoom\" to play; recording "
                              "silence until it does",
                    now = "\"Zoom\" plays now; recording it",
                    again = "\"Zoom\" plays again; recording it",
                    ended = "\"Zoom\" has ended; recording silence until it "
                            "plays again",
                    refused = std::string("process 104 of \"Zoom\" cannot be "
                                          "recorded: ") +
                              wasapi_error_text(int(E_ACCESSDENIED));
  struct Process {
    DWORD pid;
    const wchar_t *name;
    UINT64 from_ms, until_ms;
    uint32_t mask;
  };
  const struct {
    const char *what;
    std::vector<Process> processes;
    std::vector<std::string> said;
  } cases[] = {
      {"by name, before it plays",
       {{101, L"Zoom", 2500, 4000, kAll}, {102, L"Zoom", 6500, 8000, kAll}},
       {waiting, now, ended, again, ended}},
      {"by number, as it plays",
       {{101, L"Zoom", 0, 2000, kAll}, {102, L"Zoom", 4500, 6000, kAll}},
       {ended, again, ended}},
      {"two at once, beside another program",
       {{101, L"Zoom", 0, 3000, kLeft},
        {102, L"ZOOM", 1500, 4000, kRight},
        {103, L"Music", 0, 8000, kLeft}},
       {ended}},
      {"one refused",
       {{104, L"Zoom", 0, 8000, 0}, {101, L"Zoom", 1500, 3000, kAll}},
       {refused, waiting, now, ended}},
  };
  const UINT64 kEndMs = 9000, kLateMs = 300, kTailMs = 10;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Recorder r(true);
    auto sessions = std::make_shared<FakeSessions>();
    r.follow("Zoom", sessions, [&](DWORD pid) -> std::shared_ptr<FakeStream> {
      for (const Process &p : c.processes)
        if (p.pid == pid && p.mask != 0) {
          auto stream = std::make_shared<FakeStream>(r.clock);
          stream->mask = p.mask;
          stream->ends_at = p.until_ms * kRate / 1000;
          stream->plays = [end = stream->ends_at](UINT64 at) {
            return at < end;
          };
          return stream;
        }
      return nullptr;
    });
    std::vector<UINT64> times = {kEndMs};
    for (const Process &p : c.processes)
      times.insert(times.end(), {p.from_ms, p.until_ms});
    std::sort(times.begin(), times.end());
    ::testing::internal::CaptureStderr();
    for (UINT64 t : times) {
      const UINT64 at = r.clock->ticks / 10000;
      sessions->sessions.clear();
      for (const Process &p : c.processes)
        if (p.from_ms <= at && at < p.until_ms)
          sessions->sessions.push_back({p.pid, p.name, L"C:\\Apps\\app.exe"});
      r.record(t > at ? t - at : 0);
    }
    std::string said = ::testing::internal::GetCapturedStderr();
    said.erase(std::remove(said.begin(), said.end(), '\r'), said.end());
    std::string expected;
    for (const std::string &line : c.said)
      expected += "pcmtap: " + line + "\n";
    EXPECT_EQ(said, expected);
    std::sort(r.opened_pids.begin(), r.opened_pids.end());
    EXPECT_EQ(std::adjacent_find(r.opened_pids.begin(), r.opened_pids.end()),
              r.opened_pids.end());

    ASSERT_GE(r.out.size(), kEndMs * kRate / 1000 - k50ms);
    EXPECT_LE(r.out.size(), (kEndMs + kLateMs) * kRate / 1000);
    // Each channel of each frame: the count where a process plays in it,
    // silence where none does.
    size_t wrong = 0, first_wrong = 0;
    for (size_t n = 0; n < r.out.size(); ++n)
      for (uint32_t half : {kLeft, kRight}) {
        const UINT64 ms = n * 1000 / kRate;
        bool sure = false, maybe = false;
        for (const Process &p : c.processes) // not 103's, Music's, nor 104's
          if (p.pid < 103 && (p.mask & half)) {
            sure = sure || (p.from_ms + kLateMs <= ms && ms < p.until_ms);
            maybe = maybe || (p.from_ms <= ms && ms < p.until_ms + kTailMs);
          }
        const uint32_t got = r.out[n] & half;
        if ((sure && got != (uint32_t(n + 1) & half)) || (!maybe && got != 0))
          first_wrong = wrong++ == 0 ? n : first_wrong;
      }
    EXPECT_EQ(wrong, 0u) << "from frame " << first_wrong << ", "
                         << r.out[first_wrong];
    EXPECT_EQ(r.lost.overrun_frames, 0u);
  }
}

// Catches a flagged packet whose position follows on taken for one after a
// silence, as Wine's are under load: zeros in the middle of the audio.
TEST(LoopbackCapture, AFlagWithoutAJumpIsNoSilence) {
  Recorder r(true);
  r.fake->wine_flags_at = 100 * r.fake->period;
  r.record(2000);
  EXPECT_EQ(miscounted(r.out, 0, r.out.size(), 1), -1);
  EXPECT_EQ(r.lost.overrun_frames, 0u);
}

// Before Windows 10 1703 a loopback stream's event never fires.  Catches
// the audio then handed on only when a long timeout runs out, in bursts.
TEST(LoopbackCapture, WithoutItsEventHandsOnEvery50ms) {
  Recorder r(true);
  r.fake->event_fires = false;
  r.record(2000);
  EXPECT_EQ(miscounted(r.out, 0, r.out.size(), 1), -1);
  EXPECT_GE(r.out.size(), 2 * kRate - k50ms);
  UINT64 longest = 0;
  for (size_t i = 1; i < r.block_times.size(); ++i)
    longest = std::max(longest, r.block_times[i] - r.block_times[i - 1]);
  EXPECT_LE(longest, 50u * 10000);
}

// Wine 10 records what the computer plays, so only a fake refuses it.
// Catches a refusal that does not say why.
TEST(LoopbackCapture, ARefusalSaysWhy) {
  auto endpoints = std::make_shared<FakeEndpoints>();
  endpoints->capture = {{L"mic", L"Microphone", Microphone, false}};
  auto choice = std::make_shared<EndpointChoice>();
  EndpointInputs inputs(endpoints, choice);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(inputs.switch_on(1));
  std::string said = ::testing::internal::GetCapturedStderr();
  said.erase(std::remove(said.begin(), said.end(), '\r'), said.end());
  EXPECT_EQ(said, "pcmtap: what the computer plays cannot be recorded here: "
                  "this audio system cannot capture what an output plays (it "
                  "has no loopback capture)\n");
}

// The reader away for 1.5 s and the stream holding 1 s: half a second was
// dropped.  Catches the loss not said, said as the length of the packet
// after it, or, for a loopback, taken for silence.
TEST(CaptureStream, AnOverrunIsLostAsLongAsThePositionJumps) {
  for (bool loopback : {false, true}) {
    SCOPED_TRACE(loopback ? "loopback" : "endpoint");
    Recorder r(loopback);
    r.record(500);
    r.fake->advance(1500);
    r.record(500);
    ASSERT_GT(r.fake->dropped, kRate / 4);
    EXPECT_EQ(r.lost.overrun_frames, r.fake->dropped);
    // Every frame but the dropped ones, in order, and no silence for them.
    auto gap =
        std::adjacent_find(r.out.begin(), r.out.end(),
                           [](uint32_t a, uint32_t b) { return b != a + 1; });
    ASSERT_NE(gap, r.out.end());
    EXPECT_EQ(gap[1] - gap[0] - 1, r.fake->dropped);
    EXPECT_EQ(miscounted(r.out, size_t(gap - r.out.begin()) + 1, r.out.size(),
                         gap[1]),
              -1);
    EXPECT_EQ(miscounted(r.out, 0, size_t(gap - r.out.begin()) + 1, 1), -1);
  }
}

// The reader away from 0.5 s to 2 s and the stream holding 1 s: what
// played from about 1.5 s to 1.7 s was dropped, and nothing played from
// then to 2.1 s, which the position does not count here.  Catches that silence
// counted as lost with the drop, or left out of the recording.
TEST(LoopbackCapture, SilenceAfterAFullStreamIsSilenceNotLoss) {
  Recorder r(true);
  r.fake->silence_moves_position = false;
  r.fake->plays = [](UINT64 at) {
    return at < 17 * kRate / 10 || at >= 21 * kRate / 10;
  };
  r.record(500);
  r.fake->advance(1500);
  r.record(500);
  ASSERT_GT(r.fake->dropped, kRate / 10);
  // Every frame up to the drop, which ended at 1.7 s.
  const size_t played = size_t(17 * kRate / 10 - r.fake->dropped);
  const size_t silent = 2 * kRate / 5;
  EXPECT_EQ(r.lost.overrun_frames, r.fake->dropped);
  ASSERT_GT(r.out.size(), played + silent);
  EXPECT_EQ(miscounted(r.out, 0, played, 1), -1);
  EXPECT_EQ(
      std::count(r.out.begin() + played, r.out.begin() + played + silent, 0u),
      long(silent));
  EXPECT_EQ(miscounted(r.out, played + silent, r.out.size(),
                       uint32_t(21 * kRate / 10 + 1)),
            -1);
}

// Packets of 68 ms, more than a block holds.  Catches the rest of a packet
// lost, repeated or put after the next one.
TEST(CaptureStream, APacketLargerThanABlockComesWholeInOrder) {
  for (bool loopback : {false, true}) {
    SCOPED_TRACE(loopback ? "loopback" : "endpoint");
    Recorder r(loopback);
    r.fake->period = 3000;
    r.record(1000);
    ASSERT_GE(r.out.size(), 12000u);
    EXPECT_EQ(miscounted(r.out, 0, r.out.size(), 1), -1);
    EXPECT_EQ(r.lost.overrun_frames, 0u);
  }
}

// Catches a packet flagged silent copied from its buffer, which Windows
// leaves as it was.
TEST(CaptureStream, ASilentPacketIsZeros) {
  for (bool loopback : {false, true}) {
    SCOPED_TRACE(loopback ? "loopback" : "endpoint");
    Recorder r(loopback);
    r.fake->flags = AUDCLNT_BUFFERFLAGS_SILENT;
    r.fake->period = 3000; // held over from one block to the next too
    r.record(1000);
    ASSERT_GE(r.out.size(), 12000u);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), 0u), long(r.out.size()));
  }
}

} // namespace
} // namespace pcmtap
