// Bare ALSA with several sound cards, stood in for by the shim over the
// virtual cards and mixers: which cards are inputs, which one a run
// records, and what it says when it cannot.
#include "checked_recording.h"
#include "process.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

#include <functional>

namespace pcmtap::test {
namespace {

const std::string kUsage =
    "Usage: pcmtap # = use the device # from the list below\n"
    "       pcmtap - = use the default device\n\n";
const uint32_t kCard1First = 1u << 24, kCard2First = 2u << 24;

// A single-board computer: card 0 only plays, card 1 is a USB microphone
// and card 2 a codec with a capture source of three items.
std::vector<VirtualSoundCard> three_cards(const std::string &card1 = "",
                                          bool card1_busy = false) {
  return {{"bcm2835 Headphones", {"PCM Playback Switch=bool:1"}, "", false},
          {"USB PnP Sound Device",
           {"Mic Capture Switch=bool:1"},
           "first_frame 16777216 " + card1,
           card1_busy},
          {"HDA Intel PCH",
           {"Input Source=enum:Mic,Line,CD:0"},
           "first_frame 33554432",
           false}};
}

// The board's own default, which records nothing.
const std::string kPlaysOnly = "{ type plug slave.pcm \"hw:0\" }";
// A user's own, recording from card 2.
const std::string kUsersOwn = "{ type asym playback.pcm \"hw:0\" "
                              "capture.pcm { type plug slave.pcm \"hw:2\" } }";

Result run_with(const VirtualSoundCards &cards,
                const std::vector<std::string> &args) {
  ChildOptions o;
  o.env = cards.env();
  return run(args, o);
}

// Records until `bytes` came, then looks at what it is to look at and
// stops.
Result record(
    const VirtualSoundCards &cards, const char *input, size_t bytes = 4 * 44100,
    const std::function<void()> &meanwhile = [] {}) {
  ChildOptions o;
  o.env = cards.env();
  Child child({PCMTAP_PATH, input}, o);
  bool came = child.wait_for_output(bytes);
  if (came) { // or it ended on its own, and nothing reads its input
    meanwhile();
    child.write_stdin("\n");
  }
  Result r;
  r.status = child.wait();
  r.out = came ? child.out() : "";
  r.err = child.err();
  return r;
}

// Each row would catch a card left out or out of order, a '+' on a card
// that `-` does not record, a listing that opens a card's capture device
// (card 1 in use), a default followed to the wrong card, or a fallback
// that is not said, or said more than once.
TEST(SoundCards, ListTheCardsThatRecordAndRecordWhatTheDefaultLeadsTo) {
  const std::string card1 = "     0. Name=\"Mic (USB PnP Sound Device)\", "
                            "Type=\"microphone\"\n";
  const std::string card2 = "     1. Name=\"Mic (HDA Intel PCH)\", "
                            "Type=\"microphone\"\n"
                            "     2. Name=\"Line (HDA Intel PCH)\", "
                            "Type=\"line-in\"\n"
                            "     3. Name=\"CD (HDA Intel PCH)\", "
                            "Type=\"analog cd\"\n";
  const std::string fallback = "pcmtap: ALSA \"default\" has no capture "
                               "device; recording from card 1 \"USB PnP Sound "
                               "Device\"\n";
  struct Case {
    const char *what;
    std::string default_pcm;
    bool card1_busy;
    std::string listing;
    uint32_t first;  // of the frames `-` records; 0: it records none
    std::string err; // of `-`
  } cases[] = {
      {"the default plays only", kPlaysOnly, false,
       "+" + card1.substr(1) + card2, kCard1First, fallback},
      {"a user's own default", kUsersOwn, false, card1 + "+" + card2.substr(1),
       kCard2First, ""},
      {"card 1 in use", kPlaysOnly, true, "+" + card1.substr(1) + card2, 0,
       fallback + "pcmtap: cannot start recording: card 1 \"USB PnP Sound "
                  "Device\": Device or resource busy\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    VirtualSoundCards cards(three_cards("", c.card1_busy), c.default_pcm);
    Result listing = run_with(cards, {PCMTAP_PATH});
    EXPECT_EQ(listing.out, kUsage + c.listing);
    EXPECT_EQ(listing.err, "");
    Result r = record(cards, "-");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.first ? 0 : 1);
    if (c.first) {
      EXPECT_GT(r.out.size(), 0u);
      EXPECT_EQ(first_miscounted_frame(r.out, c.first), -1);
    }
    for (size_t card = 0; card < 3; ++card)
      EXPECT_TRUE(cards.mixer_writes(card).empty()) << card;
  }
}

// `controls` with the control named `name` refusing every write.
std::vector<std::string> refusing(std::vector<std::string> controls,
                                  const std::string &name) {
  for (std::string &control : controls)
    if (control.compare(0, name.size() + 1, name + "=") == 0)
      control.insert(control.find(':'), "!");
  return controls;
}

// Mixers as the common drivers lay theirs out, each as card 1 beside a
// USB microphone.  Each row would catch the converter's switch listed as
// an input, switched off, or left as the run set it; a second converter's
// sources listed or touched; a '+' while the converter is off; an
// exclusive group or a selector not put back in every channel; a plugin's
// answer of 1 taken for a refusal; or a refusal that leaves a control
// changed, on this card or on the one `pcmtap -` records.
TEST(SoundCards, ALaptopsCodecAnAc97CardAndAPluginRecordTheChosenSource) {
  const std::string usb_mic =
      "    0. Name=\"Mic (USB PnP Sound Device)\", Type=\"microphone\"\n";
  struct Layout {
    const char *what;
    VirtualSoundCard card;
    bool marked; // `pcmtap -` records it
    std::string listing;
    int line;                           // the number of its "Line"
    std::vector<std::string> recording; // its controls changed meanwhile
    std::string refuses;                // a control, and what is said
    std::string refusal;
  } layouts[] = {
      {"snd-hda-intel, two converters",
       {"HDA Intel PCH",
        {"Capture Switch=bool:0,0", "Capture Volume=int:0:63:39,39",
         "Capture Switch,1=bool:0,0", "Capture Volume,1=int:0:63:39,39",
         "Input Source=enum:Mic,Line,Internal Mic:0",
         "Input Source,1=enum:Mic,Line,Internal Mic:2",
         "Mic Boost Volume=int:0:3:0,0"},
        "first_frame 16777216"},
       true,
       "     1. Name=\"Mic (HDA Intel PCH)\", Type=\"microphone\"\n"
       "     2. Name=\"Line (HDA Intel PCH)\", Type=\"line-in\"\n"
       "     3. Name=\"Internal Mic (HDA Intel PCH)\", Type=\"microphone\"\n",
       2,
       {"Capture Switch=1,1", "Input Source=1"},
       "Capture Switch",
       "switch \"Capture Switch\" on"},
      {"snd-intel8x0, an exclusive group of eight",
       {"Intel 82801AA-ICH",
        {"Master Playback Switch=bool:1", "Line Playback Switch=bool:0",
         "Mic Playback Switch=bool:0", "Mic Boost (+20dB) Switch=bool:0",
         "Capture Source=enum:Mic,CD,Video,Aux,Line,Mix,Mix Mono,Phone:0,0",
         "Capture Switch=bool:0", "Capture Volume=int:0:15:0,0"},
        "first_frame 16777216"},
       false,
       "     1. Name=\"Line (Intel 82801AA-ICH)\", Type=\"line-in\"\n"
       "     2. Name=\"CD (Intel 82801AA-ICH)\", Type=\"analog cd\"\n"
       "     3. Name=\"Mic (Intel 82801AA-ICH)\", Type=\"microphone\"\n"
       "     4. Name=\"Video (Intel 82801AA-ICH)\", Type=\"analog\"\n"
       "     5. Name=\"Phone (Intel 82801AA-ICH)\", Type=\"telephone\"\n"
       "     6. Name=\"Aux (Intel 82801AA-ICH)\", Type=\"aux\"\n"
       "     7. Name=\"Mix (Intel 82801AA-ICH)\", Type=\"undefined\"\n"
       "     8. Name=\"Mix Mono (Intel 82801AA-ICH)\", Type=\"undefined\"\n",
       1,
       {"Capture Source=4,4", "Capture Switch=1"},
       "Capture Switch",
       "switch \"Capture Switch\" on"},
      {"a control plugin",
       {"Bluetooth Headset",
        {"Capture Switch=bool:0,0", "Capture Volume=int:0:100:80,80",
         "Input Source=enum:Mic,Line:0"},
        "first_frame 16777216",
        false,
        true},
       false,
       "     1. Name=\"Mic (Bluetooth Headset)\", Type=\"microphone\"\n"
       "     2. Name=\"Line (Bluetooth Headset)\", Type=\"line-in\"\n",
       2,
       {"Capture Switch=1,1", "Input Source=1"},
       "Input Source",
       "switch \"Input Source\" to \"Line\""},
  };
  const VirtualSoundCard mic = {
      "USB PnP Sound Device", {"Mic Capture Switch=bool:1"}, "first_frame 0"};
  for (const Layout &layout : layouts) {
    SCOPED_TRACE(layout.what);
    const std::string default_pcm =
        "{ type asym playback.pcm { type null } capture.pcm { type plug "
        "slave.pcm \"hw:" +
        std::string(layout.marked ? "1" : "0") + "\" } }";
    VirtualSoundCards cards({mic, layout.card}, default_pcm);
    EXPECT_EQ(run_with(cards, {PCMTAP_PATH}).out,
              kUsage + (layout.marked ? " " : "+") + usb_mic + layout.listing);
    const std::vector<std::string> before = cards.controls(1);
    std::vector<std::string> recording;
    const std::string line = std::to_string(layout.line);
    Result r = record(cards, line.c_str(), 4 * 44100,
                      [&] { recording = cards.controls(1); });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(first_miscounted_frame(r.out, kCard1First), -1);
    EXPECT_EQ(recording, with_values(before, layout.recording));
    EXPECT_EQ(cards.controls(1), before);
    EXPECT_TRUE(cards.mixer_writes(0).empty());

    VirtualSoundCard refusing_card = layout.card;
    refusing_card.controls = refusing(layout.card.controls, layout.refuses);
    VirtualSoundCards refused({mic, refusing_card}, default_pcm);
    r = run_with(refused, {PCMTAP_PATH, line});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty()) << r.out.size() << " bytes";
    EXPECT_EQ(r.err, "pcmtap: card 1 \"" + layout.card.name + "\": cannot " +
                         layout.refusal + ": Operation not permitted\n" +
                         "pcmtap: cannot switch on input " + line +
                         "; the inputs are left as they were\n");
    EXPECT_EQ(refused.controls(1), before);
    EXPECT_TRUE(refused.mixer_writes(0).empty());
  }
}

TEST(SoundCards, NoCardThatRecordsSaysWhichCardsThereAre) {
  VirtualSoundCards cards(
      {{"bcm2835 Headphones", {}, "", false}, {"vc4-hdmi", {}, "", false}},
      kPlaysOnly);
  for (const char *arg : {"", "-"}) {
    std::vector<std::string> args = {PCMTAP_PATH};
    if (*arg)
      args.push_back(arg);
    Result r = run_with(cards, args);
    EXPECT_EQ(r.out, "RecordInit falied.\n");
    EXPECT_EQ(r.err, "pcmtap: no recording device: ALSA \"default\": No such "
                     "file or directory (none of the sound cards records: card "
                     "0 \"bcm2835 Headphones\", card 1 \"vc4-hdmi\"; see "
                     "\"Choosing the device\" in man pcmtap)\n");
    EXPECT_EQ(r.status, 1);
  }
}

TEST(SoundCards, ACardUnpluggedEndsTheRecordingWithEveryFrame) {
  TempDir dir;
  const std::string unplugged = dir.file("unplugged");
  VirtualSoundCards cards(
      three_cards("realtime true fail_file \"" + unplugged + "\""), kPlaysOnly);
  CheckedRecording rec(cards.env(), {"count"}, 44100, {PCMTAP_PATH, "0"});
  expect_unplugging_ends_it(rec, unplugged,
                            "card 1 \"USB PnP Sound Device\": ");
}

} // namespace
} // namespace pcmtap::test
