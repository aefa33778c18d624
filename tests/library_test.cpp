// The audio library through real alsa-lib, against virtual devices.
#include "alsa/alsa_capture.h"
#include "bass.h"
#include "engine/recording.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace pcmtap::test {
namespace {

const size_t kTenSecondsOfFrames = 441000;

// Collects what the library delivers, and checks how it delivers it.
struct Collector {
  std::mutex mutex;
  std::condition_variable grew;
  std::string bytes;
  size_t calls = 0;
  bool partial_frame = false;
  bool on_callers_thread = false;
  std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> freed{false};
  std::atomic<bool> called_after_free{false};
  size_t stop_after_calls = 0; // 0: never ask to stop
  bool last_was_null = false;
  size_t stall_on_call = 0; // 0: never stall
  std::chrono::milliseconds stall{0};
  size_t last = 0, shortest = SIZE_MAX; // of the blocks but the last one

  static BOOL CALLBACK proc(HRECORD, const void *buffer, DWORD length,
                            void *user) {
    auto *self = static_cast<Collector *>(user);
    if (self->freed)
      self->called_after_free = true;
    if (self->calls + 1 == self->stall_on_call)
      std::this_thread::sleep_for(self->stall);
    std::lock_guard<std::mutex> lock(self->mutex);
    ++self->calls;
    self->partial_frame |= length % 4 != 0;
    if (self->last != 0)
      self->shortest = std::min(self->shortest, self->last);
    self->last = length;
    self->on_callers_thread |= std::this_thread::get_id() == self->caller;
    self->last_was_null = buffer == nullptr;
    if (buffer)
      self->bytes.append(static_cast<const char *>(buffer), length);
    self->grew.notify_all();
    return self->stop_after_calls == 0 || self->calls < self->stop_after_calls;
  }

  void wait_for(size_t size) {
    std::unique_lock<std::mutex> lock(mutex);
    grew.wait(lock, [&] { return bytes.size() >= size; });
  }
};

class Library : public ::testing::Test {
protected:
  void use(VirtualDevices &devices) {
    setenv("ALSA_CONFIG_PATH", devices.write().c_str(), 1);
  }
  void TearDown() override {
    BASS_RecordFree();
    BASS_Free();
    unsetenv("ALSA_CONFIG_PATH");
  }
};

TEST_F(Library, StartsOnlyWhereTheDevicesExist) {
  VirtualDevices none;
  use(none);
  EXPECT_FALSE(BASS_RecordInit(-1));

  VirtualDevices capture_only;
  capture_only.capture_from_file("/dev/zero").without_playback();
  use(capture_only);
  EXPECT_TRUE(BASS_RecordInit(-1));
  EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
  EXPECT_TRUE(BASS_RecordFree());

  VirtualDevices both;
  both.capture_from_file("/dev/zero");
  use(both);
  EXPECT_TRUE(BASS_RecordInit(-1));
  EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
}

TEST_F(Library, DeliversEveryFrameInOrderOnItsOwnThread) {
  VirtualDevices devices;
  std::string infile = devices.dir().file("in.raw");
  std::string frames = counting_frames(0, kTenSecondsOfFrames);
  write_file(infile, frames);
  devices.capture_from_file(infile);
  use(devices);
  ASSERT_TRUE(BASS_RecordInit(-1));
  Collector collector;
  ASSERT_TRUE(BASS_RecordStart(44100, 2, 0, Collector::proc, &collector));
  collector.wait_for(frames.size());
  ASSERT_TRUE(BASS_RecordFree());
  collector.freed = true;

  EXPECT_EQ(collector.bytes.substr(0, frames.size()), frames);
  EXPECT_FALSE(collector.partial_frame);
  EXPECT_FALSE(collector.on_callers_thread);
  EXPECT_FALSE(collector.called_after_free);
}

TEST_F(Library, ACallbackThatReturnsZeroStopsTheRecording) {
  VirtualDevices devices;
  devices.capture_from_file("/dev/zero");
  use(devices);
  ASSERT_TRUE(BASS_RecordInit(-1));
  Collector collector;
  collector.stop_after_calls = 3;
  ASSERT_TRUE(BASS_RecordStart(44100, 2, 0, Collector::proc, &collector));
  collector.wait_for(1);
  ASSERT_TRUE(BASS_RecordFree());
  EXPECT_EQ(collector.calls, 3u);
}

TEST_F(Library, RefusesToRecordWithoutADevice) {
  Collector collector;
  EXPECT_FALSE(BASS_RecordStart(44100, 2, 0, Collector::proc, &collector));
  EXPECT_EQ(collector.calls, 0u);
}

TEST_F(Library, ConvertsForADeviceThatCannotTakeTheFormat) {
  VirtualDevices devices;
  devices.capture_from_card({"rate 48000", "channels 1"});
  use(devices);
  ASSERT_TRUE(BASS_RecordInit(-1));
  Collector collector;
  ASSERT_TRUE(BASS_RecordStart(44100, 2, 0, Collector::proc, &collector));
  collector.wait_for(176400);
  ASSERT_TRUE(BASS_RecordFree());
  EXPECT_FALSE(collector.partial_frame);
}

// The device is opened for 44.1 kHz stereo; a recording asked for in
// another format is recorded in that one.  The card counts in mono at
// 22,050 Hz, so each sample is one more than the last only if nothing was
// converted.
TEST_F(Library, RecordsInTheFormatTheRecordingAsksFor) {
  VirtualDevices devices;
  devices.capture_from_card({"rate 22050", "channels 1"});
  use(devices);
  ASSERT_TRUE(BASS_RecordInit(-1));
  Collector collector;
  ASSERT_TRUE(BASS_RecordStart(22050, 1, 0, Collector::proc, &collector));
  collector.wait_for(44100);
  ASSERT_TRUE(BASS_RecordFree());
  const std::string &bytes = collector.bytes;
  uint16_t first;
  std::memcpy(&first, bytes.data(), 2);
  for (size_t i = 0; i + 2 <= bytes.size(); i += 2) {
    uint16_t sample;
    std::memcpy(&sample, bytes.data() + i, 2);
    ASSERT_EQ(sample, uint16_t(first + i / 2)) << i;
  }
}

TEST_F(Library, ADeviceThatGoesAwayEndsTheRecordingWithANullBlock) {
  VirtualDevices devices;
  std::string fail_file = devices.dir().file("unplugged");
  devices.capture_from_card({"fail_file \"" + fail_file + "\""});
  use(devices);
  ASSERT_TRUE(BASS_RecordInit(-1));
  Collector collector;
  ASSERT_TRUE(BASS_RecordStart(44100, 2, 0, Collector::proc, &collector));
  collector.wait_for(4 * 441000);
  testing::internal::CaptureStderr();
  write_file(fail_file, "");
  {
    std::unique_lock<std::mutex> lock(collector.mutex);
    collector.grew.wait(lock, [&] { return collector.last_was_null; });
  }
  ASSERT_TRUE(BASS_RecordFree());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "pcmtap: recording device: No such device\n");
  // Everything read before the failure came first, in order.
  EXPECT_EQ(first_miscounted_frame(collector.bytes, 0), -1);
}

// A callback that stalls longer than the ring holds: a real-time device's
// audio must not wait for it, so the excess is dropped as whole frames,
// the stream goes on, and the loss is reported once, to the frame.  The
// card's periods are 100 ms, longer than the 50 ms asked for: everything
// goes out a period a call, the backlog too, where it wraps around the
// ring's end as well.
TEST_F(Library, AStallLongerThanTheRingLosesOnlyWhatDidNotFit) {
  VirtualDevices devices;
  devices.capture_from_card(
      {"realtime true", "buffer_frames 22050", "min_period_frames 4410"});
  use(devices);
  auto capture =
      std::make_unique<AlsaCapture>(std::make_shared<AlsaChoice>(), 44100, 2);
  ASSERT_EQ(capture->open_device(), 0);
  Collector collector;
  collector.stall_on_call = 2;
  collector.stall = std::chrono::seconds(3);
  const size_t kRingBytes = size_t{1} << 18; // 1.49 s
  Recording recording(*capture, 1, Collector::proc, &collector, kRingBytes);
  testing::internal::CaptureStderr();
  ASSERT_EQ(recording.start(), 0);
  collector.wait_for(4 * 44100 * 5);
  recording.stop();
  std::string err = testing::internal::GetCapturedStderr();

  CountingCheck gaps = gaps_in(collector.bytes);
  EXPECT_EQ(gaps.gaps, 1u);
  EXPECT_EQ(gaps.errors, 0u);
  EXPECT_FALSE(collector.partial_frame);
  char expected[80];
  std::snprintf(expected, sizeof expected,
                "pcmtap: overrun: %.2f s of audio lost (output too slow)\n",
                double(gaps.lost) / 44100);
  EXPECT_EQ(err, expected);
  EXPECT_GT(gaps.lost, 44100u); // 3 s stalled, 1.5 s kept
  EXPECT_EQ(collector.shortest, 4410u * 4);
}

// A device that holds audio when the recording starts, and then delivers
// in real time: its first reads are full, yet it is real-time, so a
// callback that stalls longer than the device buffers costs nothing; the
// device is read on regardless, and the burst and what follows arrive in
// order.
TEST_F(Library, AnEarlyBurstIsDeliveredThenTheDeviceIsReadOnThroughAStall) {
  VirtualDevices devices;
  devices.capture_from_card(
      {"realtime true", "buffer_frames 32768", "start_frames 30000"});
  use(devices);
  ASSERT_TRUE(BASS_RecordInit(-1));
  Collector collector;
  collector.stall_on_call = 3;
  collector.stall = std::chrono::seconds(1); // the card holds 0.74 s
  testing::internal::CaptureStderr();
  ASSERT_TRUE(BASS_RecordStart(44100, 2, 0, Collector::proc, &collector));
  collector.wait_for(4 * 44100 * 2);
  ASSERT_TRUE(BASS_RecordFree());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(first_miscounted_frame(collector.bytes, 0), -1);
  EXPECT_FALSE(collector.partial_frame);
}

// A device whose audio is ready to read but that has not woken its reader
// yet (less than a period in): the stop must still bring that audio out.
class HeldAudioSource : public CaptureSource {
public:
  unsigned channels() const override { return 2; }
  unsigned rate() const override { return 44100; }
  size_t max_read_frames() const override { return 4096; }
  int start() override { return 0; }
  int wait(const Wakeup &stop) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      waiting = true;
    }
    changed.notify_all();
    pollfd pfd = {stop.fd(), POLLIN, 0};
    poll(&pfd, 1, 60000); // the limit only guards against a hang
    return 0;
  }
  long available() override { return long(held - next); }
  long read(void *dst, size_t max_frames, DeviceLosses *) override {
    size_t n = std::min(max_frames, size_t(held - next));
    std::string frames = counting_frames(next, n);
    std::memcpy(dst, frames.data(), frames.size());
    next += uint32_t(n);
    return long(n);
  }
  void stop() override {}
  const char *error_text(int) const override { return "?"; }

  std::mutex mutex;
  std::condition_variable changed;
  bool waiting = false;
  std::atomic<uint32_t> held{0}; // frames the device has captured
  uint32_t next = 0;             // the device thread's own
};

TEST_F(Library, AStopDeliversWhatTheDeviceStillHeld) {
  HeldAudioSource source;
  Collector collector;
  Recording recording(source, 1, Collector::proc, &collector, 1 << 16);
  ASSERT_EQ(recording.start(), 0);
  {
    std::unique_lock<std::mutex> lock(source.mutex);
    ASSERT_TRUE(source.changed.wait_for(lock, std::chrono::seconds(60),
                                        [&] { return source.waiting; }));
  }
  source.held = 10000; // more than one read's worth
  recording.stop();
  EXPECT_EQ(collector.bytes.size(), 10000u * 4);
  EXPECT_EQ(first_miscounted_frame(collector.bytes, 0), -1);
}

TEST_F(Library, NoMixerMeansNoInputs) {
  VirtualDevices devices;
  devices.capture_from_file("/dev/zero");
  use(devices);
  ASSERT_TRUE(BASS_RecordInit(-1));
  EXPECT_EQ(BASS_RecordGetInputName(0), nullptr);
  EXPECT_EQ(BASS_RecordGetInput(0), 0u);
  EXPECT_FALSE(BASS_RecordSetInput(0, BASS_INPUT_SET_OFF));
}

class Inputs : public Library {
protected:
  void SetUp() override {
    devices_.capture_from_file("/dev/zero")
        .mixer({"Master Playback Switch=bool:1", "Mic Capture Switch=bool:1,1",
                "Line Capture Switch=bool:0,0", "CD Capture Switch=bool:0,1",
                "Capture Volume=int:0:100:50,50",
                "Input Source=enum:Front Mic,Rear Mic,Line In:1"});
    use(devices_);
    ASSERT_TRUE(BASS_RecordInit(-1));
  }
  std::vector<std::string> names() {
    std::vector<std::string> result;
    for (int i = 0; const char *name = BASS_RecordGetInputName(i); ++i)
      result.push_back(name);
    return result;
  }
  VirtualDevices devices_;
};

TEST_F(Inputs, AreTheCaptureSwitchesAndTheSourceItems) {
  EXPECT_EQ(names(), (std::vector<std::string>{"Line", "CD", "Mic", "Front Mic",
                                               "Rear Mic", "Line In"}));
  // Off only where no channel captures, and where an item is not chosen.
  bool off[] = {true, false, false, true, false, true};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ((BASS_RecordGetInput(i) & BASS_INPUT_OFF) != 0, off[i]) << i;
  EXPECT_EQ(BASS_RecordGetInputName(6), nullptr);
  EXPECT_EQ(BASS_RecordGetInputName(-1), nullptr);
  EXPECT_FALSE(BASS_RecordSetInput(6, BASS_INPUT_SET_OFF));
}

TEST_F(Inputs, SwitchAllChannelsAndSelectItems) {
  EXPECT_TRUE(BASS_RecordSetInput(2, BASS_INPUT_SET_OFF)); // Mic
  EXPECT_TRUE(BASS_RecordSetInput(0, BASS_INPUT_SET_ON));  // Line
  EXPECT_TRUE(BASS_RecordSetInput(3, BASS_INPUT_SET_OFF)); // an item: no-op
  EXPECT_TRUE(BASS_RecordSetInput(5, BASS_INPUT_SET_ON));  // Line In
  EXPECT_EQ(devices_.mixer_writes(),
            (std::vector<std::string>{
                "Mic Capture Switch=0,1", "Mic Capture Switch=0,0",
                "Line Capture Switch=1,0", "Line Capture Switch=1,1",
                "Input Source=2"}));
  EXPECT_TRUE(BASS_RecordGetInput(2) & BASS_INPUT_OFF);
  EXPECT_FALSE(BASS_RecordGetInput(0) & BASS_INPUT_OFF);
  EXPECT_FALSE(BASS_RecordGetInput(5) & BASS_INPUT_OFF);
  EXPECT_TRUE(BASS_RecordGetInput(4) & BASS_INPUT_OFF);
}

} // namespace
} // namespace pcmtap::test
