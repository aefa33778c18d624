#include "engine/input_types.h"
#include "pulse/pulse_inputs.h"

#include <gtest/gtest.h>

namespace pcmtap {
namespace {

// Names as drivers and sound servers give them.  Each row would catch a
// word missing from the table, matched inside another word, or losing to a
// more general one.
TEST(InputTypes, ComeFromWholeWordsOfTheName) {
  struct Case {
    const char *name;
    DWORD type;
  } cases[] = {
      {"Mic", BASS_INPUT_TYPE_MIC},
      {"Front Mic", BASS_INPUT_TYPE_MIC},
      {"Mic Boost", BASS_INPUT_TYPE_MIC},
      {"Internal Microphone", BASS_INPUT_TYPE_MIC},
      {"Headset", BASS_INPUT_TYPE_MIC},
      {"Digital Mic", BASS_INPUT_TYPE_MIC},
      {"Analog Mic", BASS_INPUT_TYPE_MIC},
      {"mic/line", BASS_INPUT_TYPE_MIC},
      {"Line", BASS_INPUT_TYPE_LINE},
      {"LINE IN", BASS_INPUT_TYPE_LINE},
      {"Line In 1", BASS_INPUT_TYPE_LINE},
      {"CD", BASS_INPUT_TYPE_CD},
      {"Analog CD", BASS_INPUT_TYPE_CD},
      {"IEC958", BASS_INPUT_TYPE_DIGITAL},
      {"IEC958 In", BASS_INPUT_TYPE_DIGITAL},
      {"S/PDIF", BASS_INPUT_TYPE_DIGITAL},
      {"SPDIF In", BASS_INPUT_TYPE_DIGITAL},
      {"Digital", BASS_INPUT_TYPE_DIGITAL},
      {"HDMI", BASS_INPUT_TYPE_DIGITAL},
      {"Aux", BASS_INPUT_TYPE_AUX},
      {"Phone", BASS_INPUT_TYPE_PHONE},
      {"Telephone", BASS_INPUT_TYPE_PHONE},
      {"PC Speaker", BASS_INPUT_TYPE_SPEAKER},
      {"PC Beep", BASS_INPUT_TYPE_SPEAKER},
      {"Beep", BASS_INPUT_TYPE_SPEAKER},
      {"Synth", BASS_INPUT_TYPE_SYNTH},
      {"MIDI", BASS_INPUT_TYPE_SYNTH},
      {"PCM", BASS_INPUT_TYPE_WAVE},
      {"Wave", BASS_INPUT_TYPE_WAVE},
      {"Video", BASS_INPUT_TYPE_ANALOG},
      {"Analog", BASS_INPUT_TYPE_ANALOG},
      // Nothing says what these are.
      {"Capture", BASS_INPUT_TYPE_UNDEF},
      {"Master", BASS_INPUT_TYPE_UNDEF},
      {"Headphone", BASS_INPUT_TYPE_UNDEF},
      {"Micro", BASS_INPUT_TYPE_UNDEF},
      {"Linear", BASS_INPUT_TYPE_UNDEF},
      {"CDROM", BASS_INPUT_TYPE_UNDEF},
      {"PCSpeaker", BASS_INPUT_TYPE_UNDEF},
      {"", BASS_INPUT_TYPE_UNDEF},
  };
  for (const Case &c : cases)
    EXPECT_EQ(input_type_from_name(c.name), c.type) << '"' << c.name << '"';
}

// Two devices with one description would give two inputs one name, and a
// control character in a description would break the listing's line.
TEST(ServerInputNames, RepeatsAreNumberedAndControlCharactersBlanked) {
  std::vector<std::string> names = {"USB Headset", "Mic\n(A)", "USB Headset",
                                    "USB Headset 2", "USB Headset"};
  make_names_unique(&names);
  EXPECT_EQ(names,
            (std::vector<std::string>{"USB Headset", "Mic (A)", "USB Headset 2",
                                      "USB Headset 2 2", "USB Headset 3"}));
}

// A port the server gives no type is typed by its own words before its
// device's: "CD" on a digital card is a CD, not a digital input.
TEST(ServerInputNames, APortsTypeComesFromThePortBeforeItsDevice) {
  EXPECT_EQ(port_input_type(PA_DEVICE_PORT_TYPE_MIC, "Front", "Front (Card)"),
            BASS_INPUT_TYPE_MIC);
  EXPECT_EQ(
      port_input_type(PA_DEVICE_PORT_TYPE_UNKNOWN, "CD", "CD (Digital Card)"),
      BASS_INPUT_TYPE_CD);
  EXPECT_EQ(port_input_type(PA_DEVICE_PORT_TYPE_UNKNOWN, "Input 1",
                            "Input 1 (USB Headset)"),
            BASS_INPUT_TYPE_MIC);
}

} // namespace
} // namespace pcmtap
