// The pcmtap binary against virtual devices, as a user runs it.
#include "process.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace pcmtap::test {
namespace {

const size_t kTenSecondsOfFrames = 441000;

// `pcmtap --help`, whole: the one place to change when the help changes
// (pcmtap.exe's is in wine_test.cpp).
const char kHelp[] = R"(Usage: pcmtap # = use the device # from the list below
       pcmtap - = use the default device

Records raw 16-bit little-endian stereo 44,100 Hz audio to standard
output, which must not be a terminal. Run pcmtap alone to list the
inputs, and choose one by its number or by its name as listed,
ignoring case: pcmtap "USB Headset". pcmtap "What Zoom plays"
records that program whenever it plays, waiting for it with
silence. Recording stops on Enter, at the end of standard input, or
on SIGINT or SIGTERM; a second signal ends pcmtap at once.

Exit status: 0 after a complete recording or listing; 1 when the
devices, the recording or the output failed; 2 for an input the
device lacks, or an output that is a terminal.

On a sound server (PulseAudio, PipeWire) the inputs are every
recording device's inputs, then what the computer plays, then what
each program that plays now plays (that program alone, followed
from stream to stream, with silence while it plays nothing);
pcmtap N records input N in this run only, unmuting it, and leaves
the server's default source as it is. On bare ALSA they are the
sources of every sound card that records, card by card (a
selector's items, or controls with a capture switch of their own);
pcmtap N switches N and its card's converter on, records that card
and puts back what it changed.
See man pcmtap for more.
)";

class EndToEnd : public ::testing::Test {
protected:
  ChildOptions options(VirtualDevices &devices) {
    ChildOptions o;
    o.env = {devices.alsa_config_env()};
    return o;
  }
};

// The device plays the file unpaced and then goes on with stale data, so
// the output is the file followed by whatever came before the stop.
TEST_F(EndToEnd, CapturesTheDeviceByteForByteUntilStopped) {
  VirtualDevices devices;
  std::string infile = devices.dir().file("in.raw");
  const std::string frames = counting_frames(0, kTenSecondsOfFrames);
  write_file(infile, frames);
  devices.capture_from_file(infile);
  for (const char *stop : {"character", "end of input", "SIGINT"}) {
    ChildOptions o = options(devices);
    o.keep_stdout = frames.size();
    Child child({PCMTAP_PATH, "-"}, o);
    ASSERT_TRUE(child.wait_for_output(frames.size())) << stop;
    if (stop[0] == 'c')
      child.write_stdin("x");
    else if (stop[0] == 'e')
      child.close_stdin();
    else
      child.send_signal(SIGINT);
    EXPECT_EQ(child.wait(), 0) << stop;
    // A 0x0A byte turned into two would shift every frame after it.
    EXPECT_EQ(first_miscounted_frame(child.out(), 0), -1) << stop;
    EXPECT_EQ(child.out().size(), frames.size());
    EXPECT_EQ(child.err(), "") << stop;
  }
}

TEST_F(EndToEnd, AFullDiskOrAVanishedReaderEndsTheRecording) {
  VirtualDevices devices;
  devices.capture_from_file("/dev/zero");
  ChildOptions full = options(devices);
  full.stdout_path = "/dev/full";
  Child on_full_disk({PCMTAP_PATH, "-"}, full);
  EXPECT_EQ(on_full_disk.wait(), 1); // with standard input still open
  EXPECT_EQ(on_full_disk.err(),
            "pcmtap: write <stdout>: No space left on device\n");

  Child into_pipe({PCMTAP_PATH, "-"}, options(devices));
  ASSERT_TRUE(into_pipe.wait_for_output(1));
  into_pipe.close_output();
  EXPECT_EQ(into_pipe.wait(), 128 + SIGPIPE);
  EXPECT_EQ(into_pipe.err(), "");
}

TEST_F(EndToEnd, FailedStartUpsSayExactlyTheirLine) {
  VirtualDevices no_capture;
  for (std::vector<std::string> args :
       {std::vector<std::string>{PCMTAP_PATH}, {PCMTAP_PATH, "-"}}) {
    Result r = run(args, options(no_capture));
    EXPECT_EQ(r.out, "RecordInit falied.\n");
    EXPECT_EQ(r.err, "pcmtap: no recording device: ALSA \"default\": Invalid "
                     "argument (no sound card or sound server found; see "
                     "\"Choosing the device\" in man pcmtap)\n");
    EXPECT_EQ(r.status, 1);
  }
  VirtualDevices no_playback;
  no_playback.capture_from_file("/dev/zero").without_playback();
  Result r = run({PCMTAP_PATH}, options(no_playback));
  EXPECT_EQ(r.out, "BASS_Init falied.\n");
  EXPECT_EQ(r.err, "pcmtap: no playback device: ALSA \"default\": Invalid "
                   "argument (nothing is played, but a playback device must be "
                   "there; see \"Choosing the device\" in man pcmtap)\n");
  EXPECT_EQ(r.status, 1);
}

// Catches any line of the help changed, lost or out of place.
TEST_F(EndToEnd, HelpAndVersionNeedNoDevice) {
  VirtualDevices none; // any device opened would fail the start-up
  for (const char *arg : {"--help", "--version"}) {
    Result r = run({PCMTAP_PATH, arg}, options(none));
    EXPECT_EQ(r.status, 0) << arg;
    EXPECT_EQ(r.out.find("falied"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    if (arg == std::string("--help")) {
      EXPECT_EQ(lines_of(r.out), lines_of(kHelp));
    }
  }
}

TEST_F(EndToEnd, ChoosingAnInputSwitchesTheOthersOffFirst) {
  VirtualDevices devices;
  devices.capture_from_file("/dev/zero")
      .mixer({"Mic Capture Switch=bool:1", "Line Capture Switch=bool:1",
              "CD Capture Switch=bool:1"});
  // The mixer lists Line, CD, Mic: input 1 is CD.  (alsa-lib leaves out
  // writes that change nothing, so every input starts on.)
  Result r = run({PCMTAP_PATH, "1"}, options(devices));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(devices.mixer_writes(),
            (std::vector<std::string>{
                "Line Capture Switch=0", "CD Capture Switch=0",
                "Mic Capture Switch=0", "CD Capture Switch=1"}));
}

TEST_F(EndToEnd, AnInputNumberTheMixerLacksIsRefusedBeforeAnySwitch) {
  VirtualDevices devices;
  devices.capture_from_file("/dev/zero")
      .mixer({"Mic Capture Switch=bool:1", "Line Capture Switch=bool:0"});
  Result r = run({PCMTAP_PATH, "2"}, options(devices));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("no input 2"), std::string::npos) << r.err;
  EXPECT_TRUE(devices.mixer_writes().empty());
}

} // namespace
} // namespace pcmtap::test
