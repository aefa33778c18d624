// Bare ALSA with several sound cards, stood in for by the shim over the
// virtual cards and mixers: which cards are inputs, which one a run
// records, and what it says when it cannot.
#include "checked_recording.h"
#include "process.h"
#include "virtual_devices.h"

#include <gtest/gtest.h>

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

// Records until `bytes` came, then stops.
Result record(const VirtualSoundCards &cards, const char *input,
              size_t bytes = 4 * 44100) {
  ChildOptions o;
  o.env = cards.env();
  Child child({PCMTAP_PATH, input}, o);
  bool came = child.wait_for_output(bytes);
  if (came) // or it ended on its own, and nothing reads its input
    child.write_stdin("\n");
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

// Would catch a run that records the default card rather than the chosen
// input's, switches another card's controls, or leaves them switched.
TEST(SoundCards, AnInputRecordsItsCardAndPutsItsControlsBack) {
  VirtualSoundCards cards(three_cards(), kPlaysOnly);
  Result r = record(cards, "2"); // "Line (HDA Intel PCH)"
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(first_miscounted_frame(r.out, kCard2First), -1);
  EXPECT_TRUE(cards.mixer_writes(1).empty());
  EXPECT_EQ(cards.mixer_writes(2),
            (std::vector<std::string>{"Input Source=1", "Input Source=0"}));
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
