// Program-change mode: a patch per channel, the drum kit on channel 10,
// the resets, the effect chain shared by the channels, and the patch
// control mode left as it was.
#include <complex>

#include "saturator/sat.h"
#include "synth_rig.h"

namespace {

// Patches 2 (the lowest), 5, 30 and 31 (through the saturator) and 33; a
// drum key 36.  Every patch plays the 1000 Hz tone recorded at key 64; the
// pitch base moves it by octaves, the volume base by halves (18 steps).
const char *const PROG_CONF = R"(
wav tone {
  map { data "tone.raw"
    loop 4800
  }
}
patch 2 "Piano" {
  layer a {
    wav tone
  }
}
patch 5 "Octave" {
  layer a {
    wav tone
    pitch.base 76
    vol.base 118
  }
}
patch 30 "Drive" {
  fx sat {
    level 100
  }
  layer a {
    wav tone
    output fx
  }
}
patch 31 "Crunch" {
  fx sat {
    level 40
    wave_shape tanh
  }
  layer a {
    wav tone
    output fx
  }
}
patch 33 "Bass" {
  layer a {
    wav tone
    pitch.base 52
    vol.base 109
    vol.rtime 60
  }
}
drumkey 36 {
  layer a {
    wav tone
    pitch.base 88
  }
}
)";

constexpr int PROGRAMS = 21; // the control's index
constexpr int POS_BASS = 4;  // patch list: 2, 5, 30, 31, 33, kit

class Programs : public SynthTest {
protected:
  void SetUp() override { install(PROG_CONF); }
  // A started instance in program-change mode without reverb or chorus.
  void start_gm() {
    make();
    SYNTH_MODULE.onctl(s_, 3, 0);
    SYNTH_MODULE.onctl(s_, 4, 0);
    SYNTH_MODULE.onctl(s_, PROGRAMS, SYNTH_PROGCHANGE);
  }
  // Amplitude of the left output's component at freq over [from, to).
  double amplitude(double freq, std::size_t from, std::size_t to) const {
    std::complex<double> sum = 0;
    for (std::size_t i = from; i < to; ++i)
      sum += double(left_[i]) * std::polar(1.0, -2 * TEST_PI * freq * double(i) / 48000);
    return 2 * std::abs(sum) / double(to - from);
  }
  int patch_of(int c) const { return s_->chan[c].patch; }
};

TEST_F(Programs, ChannelsPlayTheirOwnPatchesAtOnce) {
  start_gm();
  midi({0xC1, 33,   // channel 2: the bass, an octave down and half as loud
        0xC2, 6,    // channel 3: program 6 falls back to 5, an octave up
        0xC9, 33}); // channel 10 stays on the drum kit
  midi({0x90, 64, 127, 0x91, 64, 127, 0x92, 64, 127, 0x99, 36, 127});
  run(14400);
  // 9600 frames hold whole periods of all four tones.
  const double piano = amplitude(1000, 4800, 14400);
  EXPECT_GT(piano, 1e6);
  EXPECT_NEAR(amplitude(500, 4800, 14400) / piano, 0.5, 0.01);
  EXPECT_NEAR(amplitude(2000, 4800, 14400) / piano, std::pow(2.0, -0.5), 0.01);
  EXPECT_GT(amplitude(4000, 4800, 14400) / piano, 0.1); // the drum key, two octaves up
  EXPECT_EQ(s_->chan[9].list->patch, drumkey_table[36]);
}

TEST_F(Programs, UndefinedProgramsFallBackWithinTheirFamily) {
  struct row {
    int program, patch;
  };
  const row rows[] = {
      {2, 2},  {5, 5},   {6, 5},   {7, 5},  // defined, or the nearest below
      {0, 2},  {1, 2},   {4, 2},            // nothing below 2 in the family
      {8, 2},  {32, 2},  {120, 2},          // empty family or nothing below
      {34, 33}, {39, 33}, {31, 31},
      {127, 2},                             // never the drum kit
  };
  for (const row &r : rows)
    EXPECT_EQ(synth_program_patch(r.program), r.patch) << "program " << r.program;
  start_gm();
  midi({0xC4, 39});
  EXPECT_EQ(patch_of(4), 33);
}

TEST_F(Programs, PatchControlAuditionsEveryChannelButTheDrums) {
  start_gm();
  EXPECT_EQ(patch_of(9), SYNTH_PERCUSSION);
  midi({0xC0, 5});
  SYNTH_MODULE.onctl(s_, 0, POS_BASS);
  for (int c = 0; c < SYNTH_CHANNELS; ++c)
    EXPECT_EQ(patch_of(c), c == 9 ? SYNTH_PERCUSSION : 33) << c;
  // The host sends every control again after a restart: the same patch
  // value leaves the programs chosen since.
  midi({0xC0, 5});
  SYNTH_MODULE.onctl(s_, 0, POS_BASS);
  EXPECT_EQ(patch_of(0), 5);
  // Back to the patch control: all sixteen channels on its patch.
  SYNTH_MODULE.onctl(s_, PROGRAMS, SYNTH_PATCHCTL);
  for (int c = 0; c < SYNTH_CHANNELS; ++c)
    EXPECT_EQ(patch_of(c), 33) << c;
}

TEST_F(Programs, SystemOnAndResetAllControllers) {
  start_gm();
  midi({0xC1, 33, 0xC2, 5, 0xC9, 0});
  midi({0x91, 64, 100});
  note *held = s_->chan[1].list;
  tone *t = held->tones[0];
  const std::int32_t pitch = t->par[PAR_PITCH];
  midi({0xE1, 0, 127, 0xB1, 11, 40, 0xB1, 1, 90, 0xD1, 70, 0xB1, 64, 127});
  midi({0x81, 64, 0}); // held by the pedal
  ASSERT_EQ(held->state, NOTE_HELD);
  ASSERT_NE(t->par[PAR_PITCH], pitch);
  midi({0xE2, 0, 0, 0xB2, 11, 10}); // channel 3 moves too
  // Reset all controllers: channel 2 only, its program stays.
  midi({0xB1, 121, 0});
  const synth_chan &c1 = s_->chan[1];
  EXPECT_EQ(c1.bend, 8192);
  EXPECT_EQ(c1.expr, 127);
  EXPECT_EQ(c1.mod, 0);
  EXPECT_EQ(c1.pressure, 0);
  EXPECT_EQ(c1.hold, 0);
  EXPECT_EQ(held->state, NOTE_RELEASED); // the pedal let go of it
  EXPECT_EQ(t->par[PAR_PITCH], pitch); // no longer bent
  EXPECT_EQ(patch_of(1), 33);
  EXPECT_EQ(s_->chan[2].bend, 0);
  EXPECT_EQ(s_->chan[2].expr, 10);
  // System on (any device number): every channel to program 0 (here the
  // lowest patch) and its controllers at rest; channel 10 on the kit.
  midi({0xF0, 0x7E, 0x10, 0x09, 0x01, 0xF7});
  for (int c = 0; c < SYNTH_CHANNELS; ++c)
    EXPECT_EQ(patch_of(c), c == 9 ? SYNTH_PERCUSSION : 2) << c;
  EXPECT_EQ(s_->chan[2].bend, 8192);
  EXPECT_EQ(s_->chan[2].expr, 127);
  // Other system messages of that family change nothing: system off, and
  // a system on with a byte too many.
  midi({0xC1, 33, 0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7, 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0x00, 0xF7});
  EXPECT_EQ(patch_of(1), 33);
  // Bank select is taken and ignored.
  midi({0xB1, 0, 5, 0xB1, 32, 1});
  EXPECT_EQ(patch_of(1), 33);
}

TEST_F(Programs, TheChainFollowsTheLastChannelToSelectIt) {
  start_gm();
  auto *sat = static_cast<const sat_inst *>(s_->sat->inst);
  midi({0xC0, 30});
  const std::int32_t drive = sat->level;
  midi({0xC1, 31});
  const std::int32_t crunch = sat->level;
  EXPECT_NE(drive, crunch);
  midi({0xC2, 33}); // no chain: the saturator stays as channel 2 left it
  EXPECT_EQ(sat->level, crunch);
  // Both channels' voices go into the one saturator.
  midi({0x90, 64, 127, 0x91, 64, 127});
  EXPECT_EQ(s_->chan[0].list->tones[0]->bus, 4);
  EXPECT_EQ(s_->chan[1].list->tones[0]->bus, 4);
  run(4800);
  EXPECT_GT(peak(2400, 4800), 1e6);
  midi({0xC0, 30});
  EXPECT_EQ(sat->level, drive);
}

// Notes on two channels with controllers, program changes and resets
// between them; in patch-control mode the resets and programs must not
// change a single sample.
std::vector<std::int32_t> play(synth *s, bool with_programs) {
  std::vector<std::vector<unsigned char>> steps = {{0x90, 64, 100, 0x91, 67, 90},
                                                   {0xE1, 0, 100, 0xB0, 1, 70},
                                                   {0x80, 64, 0, 0x90, 60, 120},
                                                   {0x91, 60, 100}};
  if (with_programs) { // each a block after the bend, so a reset would be heard
    steps[1].insert(steps[1].end(), {0xC1, 33});
    steps[2].insert(steps[2].begin(), {0xB1, 121, 0, 0xC0, 5, 0xC9, 1});
    steps[3].insert(steps[3].begin(), {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  }
  std::vector<std::int32_t> out, l(1000), r(1000);
  for (const auto &b : steps) {
    SYNTH_MODULE.midi(s, b.data(), static_cast<int>(b.size()));
    std::fill(l.begin(), l.end(), 0);
    std::fill(r.begin(), r.end(), 0);
    std::int32_t *o[2] = {l.data(), r.data()};
    SYNTH_MODULE.run(s, nullptr, o, 1000);
    out.insert(out.end(), l.begin(), l.end());
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

TEST_F(Programs, PatchControlModeIgnoresProgramsAndResets) {
  make();
  const auto plain = play(s_, false);
  SYNTH_MODULE.del(s_);
  make();
  const auto with = play(s_, true);
  EXPECT_TRUE(plain == with);
  EXPECT_EQ(patch_of(1), 2);
  EXPECT_EQ(patch_of(9), 2);
}

} // namespace
