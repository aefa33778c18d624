// The recording device's inputs read from and switched through a winmm
// mixer: names and types in the lines' order, and each way of switching.
#include "fake_mixer.h"
#include "winmm/mixer_inputs.h"

#include <gtest/gtest.h>

namespace pcmtap {
namespace {

struct Mixer {
  FakeMixer *fake;
  MixerInputs inputs;
};

// The inputs over a fake set up by `setup`, which the test goes on to
// read and change.
template <typename Setup> std::unique_ptr<Mixer> mixer(Setup setup) {
  auto fake = std::make_unique<FakeMixer>();
  setup(*fake);
  FakeMixer *raw = fake.get();
  return std::unique_ptr<Mixer>(new Mixer{raw, MixerInputs(std::move(fake))});
}

std::vector<bool> on_states(MixerInputs &inputs) {
  std::vector<bool> on;
  for (size_t i = 0; i < inputs.count(); ++i)
    on.push_back(inputs.is_on(i));
  return on;
}

// Catches names or types taken from the wrong line, types off by one, and
// unknown types passed through as codes.
TEST(MixerInputs, NamesAndTypesFollowTheSourceLines) {
  auto m = mixer([](FakeMixer &fake) {
    for (DWORD type = MIXERLINE_COMPONENTTYPE_SRC_FIRST;
         type <= MIXERLINE_COMPONENTTYPE_SRC_LAST + 1; ++type)
      fake.sources.push_back({"Line " + std::to_string(type), type});
  });
  ASSERT_EQ(m->inputs.count(), 12u);
  for (unsigned i = 0; i < 12; ++i) {
    EXPECT_EQ(std::string(m->inputs.name(i)),
              "Line " + std::to_string(MIXERLINE_COMPONENTTYPE_SRC_FIRST + i));
    EXPECT_EQ(m->inputs.type_code(i), i <= 10 ? i : 0) << i;
  }
  // Without any control, a line is always heard and switching it is no
  // refusal (it would end the walk over the inputs).
  EXPECT_TRUE(m->inputs.is_on(0));
  EXPECT_TRUE(m->inputs.set(0, false));
}

// Catches items matched to lines by position instead of by line ID, a MUX
// left with none or two items selected, and a refused deselection.
TEST(MixerInputs, MuxSelectsOneLine) {
  auto m = mixer([](FakeMixer &fake) {
    fake.sources = {{"Mic"}, {"Line In"}, {"CD"}};
    fake.sources[0].has_mute = true; // the MUX decides, not the mute
    fake.select_type = MIXERCONTROL_CONTROLTYPE_MUX;
    fake.selected = {false, false, true}; // item 2: source 0
  });
  EXPECT_EQ(on_states(m->inputs), (std::vector<bool>{true, false, false}));
  EXPECT_TRUE(m->inputs.set(2, true));
  EXPECT_EQ(on_states(m->inputs), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(m->fake->selected, (std::vector<bool>{true, false, false}));
  // The selected line stays selected: only choosing another deselects it.
  EXPECT_TRUE(m->inputs.set(2, false));
  EXPECT_TRUE(m->inputs.set(0, false));
  EXPECT_EQ(on_states(m->inputs), (std::vector<bool>{false, false, true}));
}

// Catches a MIXER treated as a MUX: each item is a switch of its own.
TEST(MixerInputs, MixerSwitchesEachLine) {
  auto m = mixer([](FakeMixer &fake) {
    fake.sources = {{"Mic"}, {"Line In"}, {"CD"}};
    fake.select_type = MIXERCONTROL_CONTROLTYPE_MIXER;
    fake.selected = {true, false, true}; // sources 2 and 0
  });
  EXPECT_EQ(on_states(m->inputs), (std::vector<bool>{true, false, true}));
  EXPECT_TRUE(m->inputs.set(0, false));
  EXPECT_TRUE(m->inputs.set(1, true));
  EXPECT_EQ(on_states(m->inputs), (std::vector<bool>{false, true, true}));
}

// Catches mute read as "on", and lines without a MUTE control switched
// through another line's.
TEST(MixerInputs, MuteSwitchesLinesWithoutASelectControl) {
  auto m = mixer([](FakeMixer &fake) {
    fake.sources = {{"Master Volume", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
                    {"Line In"}};
    fake.sources[0].has_mute = true;
    fake.sources[1].has_mute = true;
    fake.sources[1].muted = true;
  });
  EXPECT_EQ(on_states(m->inputs), (std::vector<bool>{true, false}));
  EXPECT_TRUE(m->inputs.set(0, false));
  EXPECT_TRUE(m->inputs.set(1, true));
  EXPECT_TRUE(m->fake->sources[0].muted);
  EXPECT_FALSE(m->fake->sources[1].muted);
}

// Catches a refusal reported as success, for both kinds of switch.
TEST(MixerInputs, RefusedSwitchIsReported) {
  auto m = mixer([](FakeMixer &fake) {
    fake.sources = {{"Mic"}, {"Line In"}};
    fake.select_type = MIXERCONTROL_CONTROLTYPE_MUX;
    fake.selected = {true, false};
    fake.refuse_sets = true;
  });
  EXPECT_FALSE(m->inputs.set(0, true));
  EXPECT_EQ(on_states(m->inputs), (std::vector<bool>{false, true}));

  auto muted = mixer([](FakeMixer &fake) {
    fake.sources = {{"Mic"}};
    fake.sources[0].has_mute = true;
    fake.refuse_sets = true;
  });
  EXPECT_FALSE(muted->inputs.set(0, false));
  EXPECT_TRUE(muted->inputs.is_on(0));
}

TEST(MixerInputs, NoMixerHasNoInputs) {
  auto m = mixer([](FakeMixer &fake) {
    fake.sources = {{"Mic"}};
    fake.opens = false;
  });
  EXPECT_EQ(m->inputs.count(), 0u);
}

} // namespace
} // namespace pcmtap
