// The WASAPI capture over a fake engine on a clock of the test's: what real
// Windows does and Wine never does, each in no time.
#include "fake_endpoints.h"
#include "fake_stream.h"
#include "wasapi/endpoint_inputs.h"
#include "wasapi/wasapi_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace pcmtap {
namespace {

const UINT64 kRate = 44100;
const UINT64 k50ms = kRate / 20;

// The device thread's loop of the recording engine, over a fake stream.
struct Recorder {
  std::shared_ptr<FakeStream> fake = std::make_shared<FakeStream>();
  std::shared_ptr<EndpointChoice> choice = std::make_shared<EndpointChoice>();
  std::unique_ptr<CaptureSource> capture;
  Wakeup stop;
  std::vector<uint32_t> out; // the frames recorded, each as one number
  DeviceLosses lost;
  std::vector<UINT64> block_times; // the clock at each block read

  // With a `pid`, a program's stream.
  explicit Recorder(bool loopback, DWORD pid = 0) {
    choice->loopback = loopback;
    choice->pid = pid;
    choice->program = "Player";
    std::shared_ptr<FakeStream> stream = fake;
    capture = make_wasapi_capture(
        44100, 2, choice,
        [stream, pid](const std::wstring &, bool, unsigned, unsigned,
                      std::shared_ptr<CaptureStream> *opened) {
          *opened = stream;
          return pid == 0 ? S_OK : E_UNEXPECTED;
        },
        [stream, pid](DWORD asked, unsigned, unsigned,
                      std::shared_ptr<CaptureStream> *opened) {
          *opened = stream;
          return asked == pid ? S_OK : E_INVALIDARG;
        });
  }
  // Records until the clock has run `millis`.
  void record(UINT64 millis) {
    if (!started) {
      ASSERT_EQ(capture->start(), 0);
      started = true;
    }
    const UINT64 until = fake->now() + millis * 10000;
    std::vector<uint32_t> block(capture->max_read_frames());
    int idle = 0; // reads and waits in a row with nothing, at one time
    UINT64 last = fake->now();
    while (fake->now() < until) {
      const long n = capture->read(block.data(), block.size(), &lost);
      ASSERT_GE(n, 0);
      if (n > 0) {
        out.insert(out.end(), block.begin(), block.begin() + n);
        block_times.push_back(fake->now());
        continue;
      }
      ASSERT_EQ(capture->wait(stop), 0);
      idle = fake->now() == last ? idle + 1 : 0;
      ASSERT_LT(idle, 100) << "wait() returns with nothing to read";
      last = fake->now();
    }
  }
  bool started = false;
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

// A program that plays for a second, falls silent for 1.5 s, plays 0.9 s
// on a new stream (its positions from 0, as Windows' process loopback may
// give them), and ends 0.1 s later.  Catches the silences left out or
// said as lost, the new stream taken for a jump back (audio dropped or
// repeated), the end not said, said more than once, or ending the
// recording where the stream then fails.
TEST(ProgramCapture, FollowsTheProgramThroughSilenceANewStreamAndItsEnd) {
  for (HRESULT after_end : {S_OK, AUDCLNT_E_DEVICE_INVALIDATED}) {
    SCOPED_TRACE(after_end == S_OK ? "stream goes on" : "stream fails");
    const UINT64 kPlayedUntil = 34 * kRate / 10;
    Recorder r(true, 4242);
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
    EXPECT_EQ(said,
              "pcmtap: Player has ended; recording silence until the stop\n");
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
