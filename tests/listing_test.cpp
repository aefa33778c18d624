// The listing, byte for byte, against virtual mixers and a sound server.
#include "process.h"
#include "pulse_server.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

namespace pcmtap::test {
namespace {

const std::string kUsage =
    "Usage: pcmtap # = use the device # from the list below\n"
    "       pcmtap - = use the default device\n\n";

Result list(VirtualDevices &devices,
            std::vector<std::string> args = {PCMTAP_PATH}) {
  ChildOptions o;
  o.env = {devices.alsa_config_env()};
  return run(args, o);
}

void with_mixer(VirtualDevices &devices,
                const std::vector<std::string> &controls) {
  devices.capture_from_file("/dev/zero").mixer(controls);
}

TEST(Listing, ADeviceWithoutInputsShowsTheUsageAlone) {
  VirtualDevices no_mixer;
  no_mixer.capture_from_file("/dev/zero");
  Result r = list(no_mixer);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);

  VirtualDevices no_inputs;
  with_mixer(no_inputs,
             {"Master Playback Switch=bool:1", "Capture Volume=int:0:9:3,3"});
  EXPECT_EQ(list(no_inputs).out, kUsage);
}

TEST(Listing, MarksTheInputsThatAreOn) {
  VirtualDevices devices;
  with_mixer(devices,
             {"Mic Capture Switch=bool:0", "Line Capture Switch=bool:0",
              "CD Capture Switch=bool:0,1"});
  const std::string expected = kUsage +
                               "     0. Name=\"Line\", Type=\"line-in\"\n"
                               "+    1. Name=\"CD\", Type=\"analog cd\"\n"
                               "     2. Name=\"Mic\", Type=\"microphone\"\n";
  EXPECT_EQ(list(devices).out, expected);
  // Any count but one argument lists, and looks at none of them.
  EXPECT_EQ(list(devices, {PCMTAP_PATH, "1", "2"}).out, expected);
  EXPECT_EQ(list(devices, {PCMTAP_PATH, "-", "x", "y"}).out, expected);
}

// In the mixer's own order, which alsa-lib sorts by name.
TEST(Listing, NamesEveryTypeAndPrintsNamesUnchanged) {
  VirtualDevices devices;
  with_mixer(devices, {
                          "Mic Capture Switch=bool:1",
                          "Line Capture Switch=bool:1",
                          "CD Capture Switch=bool:1",
                          "IEC958 Capture Switch=bool:1",
                          "Aux Capture Switch=bool:1",
                          "Phone Capture Switch=bool:1",
                          "PC Speaker Capture Switch=bool:1",
                          "Synth Capture Switch=bool:1",
                          "PCM Capture Switch=bool:1",
                          "Video Capture Switch=bool:1",
                          "Say \"Hi\" %s\\n Capture Switch=bool:1",
                      });
  EXPECT_EQ(list(devices).out,
            kUsage + "+    0. Name=\"PCM\", Type=\"wave/pcm\"\n"
                     "+    1. Name=\"Synth\", Type=\"midi synth\"\n"
                     "+    2. Name=\"Line\", Type=\"line-in\"\n"
                     "+    3. Name=\"CD\", Type=\"analog cd\"\n"
                     "+    4. Name=\"Mic\", Type=\"microphone\"\n"
                     "+    5. Name=\"Video\", Type=\"analog\"\n"
                     "+    6. Name=\"Phone\", Type=\"telephone\"\n"
                     "+    7. Name=\"IEC958\", Type=\"digital\"\n"
                     "+    8. Name=\"PC Speaker\", Type=\"pc speaker\"\n"
                     "+    9. Name=\"Aux\", Type=\"aux\"\n"
                     "+   10. Name=\"Say \"Hi\" %s\\n\", Type=\"undefined\"\n");
}

// Would catch the converter's switch listed beside the items it records,
// or an item marked while that switch is off.
TEST(Listing, ShowsTheItemsOfAnInputSourceWithTheChosenOneOn) {
  for (const std::string converter : {"1,1", "0,0"}) {
    VirtualDevices devices;
    with_mixer(devices, {"Capture Switch=bool:" + converter,
                         "Input Source=enum:Mic,Line,Front Mic:2"});
    EXPECT_EQ(list(devices).out,
              kUsage + "     0. Name=\"Mic\", Type=\"microphone\"\n" +
                  "     1. Name=\"Line\", Type=\"line-in\"\n" +
                  (converter == "1,1" ? "+" : " ") +
                  "    2. Name=\"Front Mic\", Type=\"microphone\"\n");
  }
}

TEST(Listing, AListingThatCannotBeWrittenFailsWithTheReason) {
  VirtualDevices devices;
  with_mixer(devices, {"Mic Capture Switch=bool:1"});
  ChildOptions o;
  o.env = {devices.alsa_config_env()};
  o.stdout_path = "/dev/full";
  Result r = run({PCMTAP_PATH}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pcmtap: write <stdout>: No space left on device\n");
}

// A desktop's default device leads to a sound server.  A source without
// ports is one input, named and typed by its description and on while it is
// unmuted, and what the sink plays comes last; through ALSA alone
// (PCMTAP_AUDIO=alsa) the server's mixer shows only "Capture", whose switch
// is the same mute.
TEST(Listing, FollowsTheSoundServersSource) {
  PulseServer server({"load-module module-sine-source source_name=tone "
                      "source_properties=device.description=Headset",
                      "set-default-source tone",
                      "load-module module-null-sink sink_name=out"});
  for (const char *audio : {"server", "alsa"}) {
    SCOPED_TRACE(audio);
    ChildOptions o;
    o.env = server.environment();
    o.env.push_back(std::string("PCMTAP_AUDIO=") + audio);
    const std::string line = audio[0] == 's'
                                 ? "0. Name=\"Headset\", Type=\"microphone\"\n"
                                 : "0. Name=\"Capture\", Type=\"undefined\"\n";
    const std::string sink =
        audio[0] == 's' ? "     1. Name=\"What the computer plays (Null "
                          "Output)\", Type=\"wave/pcm\"\n"
                        : "";
    EXPECT_EQ(run({PCMTAP_PATH}, o).out, kUsage + "+    " + line + sink);

    server.pactl("set-source-mute tone 1");
    EXPECT_EQ(run({PCMTAP_PATH}, o).out, kUsage + "     " + line + sink);

    Result r = run({PCMTAP_PATH, "0"}, o); // stops at once: no input
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(server.pactl("get-source-mute tone").find("no"),
              std::string::npos);
  }
}

} // namespace
} // namespace pcmtap::test
