// The synthesizer played through its module table: notes, polyphony,
// hold pedals, cut keys, breath, MIDI parsing and tuning.
#include <algorithm>

#include "synth_rig.h"

const char *const RIG_CONF = R"(
wav tone {
  map { data "tone.raw"
    loop 4800
  }
}
wav flat {
  map { data "flat.raw"
    loop 4800
  }
}
patch 0 "Sine" {
  layer a {
    wav tone
  }
}
patch 1 "Split" {
  layer soft {
    wav tone
    shape 0 32 64 96
  }
  layer loud {
    wav flat
    shape 64 96 127 127
  }
}
patch 5 "Driven" {
  fx sat {
    level 100
  }
  layer a {
    wav tone
    output fx
  }
}
patch 7 "Held" {
  ckey 50
  layer a {
    wav tone
    release never
  }
}
drumkey 36 {
  layer a {
    wav flat
    key.pitch.base 128
  }
}
drumkey 42 {
  ckey 44
  layer a {
    wav flat
  }
}
drumkey 44 {
  layer a {
    wav flat
  }
}
)";

namespace {

// Patch list positions of the rig: 0, 1, 5, 7, then the drum kit.
constexpr int P_SINE = 0, P_SPLIT = 1, P_DRIVEN = 2, P_HELD = 3, P_KIT = 4;

class Notes : public SynthTest {
protected:
  void dry() { // no sends, so only voices reach the output
    SYNTH_MODULE.onctl(s_, 3, 0);
    SYNTH_MODULE.onctl(s_, 4, 0);
  }
};

TEST_F(Notes, PitchAndLevel) {
  make();
  dry();
  midi({0x90, 64, 127});
  run(9600);
  // Key 64 plays the recording as it is: 1000 Hz; master volume -9 steps,
  // centre pan.
  EXPECT_NEAR(testutil::frequency_of(left_, 1000, left_.size(), 48000), 1000.0, 0.5);
  const double want = 16000.0 * 4096 * std::pow(2.0, -9.0 / 18) * 0.5;
  EXPECT_NEAR(peak(4800, 9600) / want, 1.0, 0.01);
  midi({0x90, 76, 127});
  midi({0x80, 64, 0});
  left_.clear();
  run(9600);
  EXPECT_NEAR(testutil::frequency_of(left_, 4800, left_.size(), 48000), 2000.0, 1.0);
}

TEST_F(Notes, ReleaseEndsAtOnceAndGoesSilent) {
  make();
  dry();
  midi({0x90, 60, 100});
  run(512);
  EXPECT_EQ(notes(0), 1);
  EXPECT_EQ(s_->nnotes, 1);
  midi({0x80, 60, 64});
  EXPECT_EQ(notes(0), 0); // the default volume release is immediate
  EXPECT_EQ(s_->nnotes, 0);
  left_.clear();
  run(512);
  EXPECT_LT(peak(0, 512), 100); // what the effects' tails hold
}

TEST_F(Notes, SameKeyTwiceReleasesTheNewerFirst) {
  make();
  SYNTH_MODULE.onctl(s_, 0, P_HELD); // "never" layers: notes stay listed
  midi({0x90, 60, 100, 0x90, 60, 90});
  ASSERT_EQ(notes(0), 2);
  note *newer = s_->chan[0].list, *older = newer->next;
  midi({0x80, 60, 0});
  EXPECT_EQ(newer->state, NOTE_RELEASED);
  EXPECT_EQ(older->state, NOTE_ON);
}

TEST_F(Notes, StealingTakesTheOldestOfTheBusiestChannel) {
  make();
  testutil::log_capture cap(2);
  for (int i = 0; i < 32; ++i)
    midi({0x90, 20 + i, 100});
  for (int i = 0; i < 32; ++i)
    midi({0x91, 20 + i, 100});
  EXPECT_EQ(s_->nnotes, 64);
  // A tie between channels 0 and 1 goes to channel 0: its oldest is key 20.
  midi({0x92, 100, 100});
  midi({0x92, 101, 100});
  EXPECT_EQ(notes(0), 31); // then channel 1 is the longer one
  EXPECT_EQ(notes(1), 31);
  EXPECT_EQ(notes(2), 2);
  EXPECT_EQ(s_->nnotes, 64);
  EXPECT_EQ(s_->nkilled, 2);
  int dropping = 0;
  for (const std::string &l : cap.lines())
    dropping += l == "64 notes reached, dropping";
  EXPECT_EQ(dropping, 1);
  EXPECT_TRUE(cap.has("killed chan = 0x0, key = 0x14, vel = 0x64"));
  EXPECT_TRUE(cap.has("killed chan = 0x1, key = 0x14, vel = 0x64"));
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 128; ++k)
      midi({0x80 | c, k, 0});
  EXPECT_EQ(s_->nnotes, 0);
  int summary = 0;
  for (const std::string &l : cap.lines())
    summary += l == "max polyphony reached, killed 2 notes";
  EXPECT_EQ(summary, 1);
  EXPECT_EQ(s_->nkilled, 0);
}

TEST_F(Notes, SustainAndHoldControllers) {
  make();
  SYNTH_MODULE.onctl(s_, 0, P_SINE);
  midi({0xB0, 64, 127, 0x90, 60, 100, 0x80, 60, 0});
  ASSERT_EQ(notes(0), 1);
  EXPECT_EQ(s_->chan[0].list->state, NOTE_HELD);
  midi({0xB0, 64, 0});
  EXPECT_EQ(notes(0), 0);
  // Controller 65 on while notes are held releases them and stays engaged.
  midi({0xB0, 64, 127, 0x90, 61, 100, 0x80, 61, 0});
  midi({0xB0, 64, 0}); // 61 released
  midi({0xB0, 64, 127, 0x90, 62, 100, 0x80, 62, 0});
  EXPECT_EQ(s_->chan[0].list->state, NOTE_HELD);
  midi({0xB0, 65, 127});
  EXPECT_EQ(notes(0), 0);
  midi({0x90, 63, 100, 0x80, 63, 0});
  EXPECT_EQ(s_->chan[0].list->state, NOTE_HELD);
  midi({0xB0, 65, 0}); // off: held notes stay held
  EXPECT_EQ(notes(0), 1);
}

TEST_F(Notes, WheelsAsHoldPedal) {
  struct row {
    int holdmode;
    std::vector<int> engage, near;
  };
  const row rows[] = {
      {1, {0xE0, 0, 96}, {0xE0, 0, 64}},   // bend to 12288, back to 8192
      {2, {0xB0, 1, 100}, {0xB0, 1, 10}},  // modulation wheel
  };
  for (const row &w : rows) {
    make();
    SYNTH_MODULE.onctl(s_, 5, w.holdmode);
    midi({0x90, 60, 100});
    const std::vector<unsigned char> engage(w.engage.begin(), w.engage.end());
    SYNTH_MODULE.midi(s_, engage.data(), 3);
    EXPECT_EQ(s_->chan[0].hold, 1) << w.holdmode;
    midi({0x80, 60, 0});
    ASSERT_EQ(notes(0), 1);
    EXPECT_EQ(s_->chan[0].list->state, NOTE_HELD);
    const std::int32_t pitch = s_->chan[0].list->tones[0]->par[PAR_PITCH];
    EXPECT_EQ(pitch, 60 << 20); // the wheel bends nothing
    const std::vector<unsigned char> near(w.near.begin(), w.near.end());
    SYNTH_MODULE.midi(s_, near.data(), 3);
    EXPECT_EQ(notes(0), 0) << w.holdmode;
    EXPECT_EQ(s_->chan[0].bend, 8192);
    EXPECT_EQ(s_->chan[0].mod, 0);
    SYNTH_MODULE.del(s_);
    s_ = nullptr;
  }
  // In mode 1 a bend at the centre also releases what controller 64 holds.
  make();
  SYNTH_MODULE.onctl(s_, 5, 1);
  midi({0xB0, 64, 127, 0x90, 60, 100, 0x80, 60, 0, 0xE0, 0, 64});
  EXPECT_EQ(notes(0), 0);
}

TEST_F(Notes, CutKeysAndNeverRelease) {
  make();
  SYNTH_MODULE.onctl(s_, 0, P_HELD);
  midi({0x90, 50, 100, 0x80, 50, 0});
  ASSERT_EQ(notes(0), 1);
  note *n = s_->chan[0].list;
  EXPECT_EQ(n->state, NOTE_RELEASED); // "never": keeps sounding
  EXPECT_EQ(n->tones[0]->released, 0);
  run(256);
  EXPECT_EQ(notes(0), 1);
  midi({0x90, 60, 100}); // cut key 50: released by force, ends at once
  EXPECT_EQ(notes(0), 1);
  EXPECT_EQ(s_->chan[0].list->key, 60);
  // A drum key with a cut key releases that key's notes on its channel.
  SYNTH_MODULE.onctl(s_, 0, P_KIT);
  midi({0x91, 44, 100, 0x92, 44, 100});
  ASSERT_EQ(notes(1), 1);
  midi({0x91, 42, 100});
  EXPECT_EQ(notes(1), 1);
  EXPECT_EQ(s_->chan[1].list->key, 42);
  EXPECT_EQ(notes(2), 1); // another channel is not touched
}

TEST_F(Notes, PercussionSkipsKeyModulators) {
  make();
  SYNTH_MODULE.onctl(s_, 0, P_KIT);
  midi({0x90, 36, 127, 0x90, 37, 127}); // 37 has no drum key: nothing
  ASSERT_EQ(notes(0), 1);
  const tone *t = s_->chan[0].list->tones[0];
  EXPECT_EQ(t->par[PAR_PITCH], 64 << 20);
  SYNTH_MODULE.onctl(s_, 0, P_SINE);
  midi({0x91, 36, 127});
  EXPECT_EQ(s_->chan[1].list->tones[0]->par[PAR_PITCH], 36 << 20);
}

TEST_F(Notes, VelocityWeightsAndBreath) {
  make();
  SYNTH_MODULE.onctl(s_, 0, P_SPLIT);
  struct row {
    int vel;
    std::int32_t soft, loud; // -1: no voice
  };
  const row rows[] = {{16, 67108864, 0}, {80, 67108864, 67108864}, {100, 0, 134217728}};
  for (const row &w : rows) {
    midi({0x90, 60, w.vel});
    const note *n = s_->chan[0].list;
    EXPECT_EQ(synth_weight(n, 0, w.vel), w.soft) << w.vel;
    EXPECT_EQ(synth_weight(n, 1, w.vel), w.loud) << w.vel;
    EXPECT_EQ(n->tones[0]->weight, w.soft);
  }
  // Breath at 90: a note on with velocity 30 plays at 90 and follows.
  midi({0xB3, 2, 90, 0x93, 60, 30});
  note *n = s_->chan[3].list;
  EXPECT_EQ(n->vel, 90);
  EXPECT_EQ(n->follow, 1);
  const std::int32_t vol = n->tones[0]->par[PAR_VOL];
  midi({0xB3, 2, 100});
  EXPECT_EQ(n->vel, 100);
  EXPECT_EQ(n->tones[1]->weight, synth_weight(n, 1, 100));
  EXPECT_EQ(n->tones[0]->par[PAR_VOL], vol + (10 << 20)); // vel -> vol base 128.0
  midi({0xB3, 64, 127}); // the hold ends the following
  EXPECT_EQ(n->follow, 0);
  midi({0xB3, 2, 50});
  EXPECT_EQ(n->vel, 100);
}

TEST_F(Notes, ControllersMoveSoundingVoices) {
  make();
  midi({0x90, 64, 127});
  tone *t = s_->chan[0].list->tones[0];
  const std::int32_t base = t->par[PAR_PITCH];
  midi({0xE0, 0x7F, 0x7F}); // bend to 16383, amount 2.0
  EXPECT_EQ(t->par[PAR_PITCH], base + static_cast<std::int32_t>((2LL << 20) * (8191LL << 14) >> 27));
  EXPECT_EQ(s_->chan[0].bend, 16383);
  // The base glides over a tenth of a second.
  EXPECT_EQ(t->glide[0].target, t->par[PAR_PITCH]);
  EXPECT_EQ(t->glide[0].time, 4800);
  EXPECT_GT(t->glide[0].slope, 0);
  run(4790);
  EXPECT_EQ(t->glide[0].value, base);
  run(20);
  EXPECT_EQ(t->glide[0].value, t->par[PAR_PITCH]);
  // Expression 127 -> 63: vol base moves by -64 steps; repeating changes nothing.
  const std::int32_t vol = t->par[PAR_VOL];
  midi({0xB0, 11, 63, 0xB0, 11, 63});
  EXPECT_EQ(t->par[PAR_VOL], vol - (64 << 20));
  midi({0xA0, 64, 10, 0xC0, 5, 0xB0, 7, 0}); // poly pressure, program, CC 7: nothing
  EXPECT_EQ(t->par[PAR_VOL], vol - (64 << 20));
  EXPECT_EQ(s_->chan[0].patch, 0);
}

TEST_F(Notes, ParserRunningStatusAndInterruptions) {
  make();
  midi({0x90, 60, 100, 61, 100});
  EXPECT_EQ(notes(0), 2);
  midi({60, 0}); // running status note off
  EXPECT_EQ(notes(0), 1);
  midi({0x90, 0xF8, 62, 0xFE, 100}); // real-time bytes inside a message
  EXPECT_EQ(notes(0), 2);
  midi({0xF2, 63, 100, 64, 100}); // song position: data ignored
  EXPECT_EQ(notes(0), 2);
  midi({0xF7, 65, 100}); // 0xF7 restores the running status
  EXPECT_EQ(notes(0), 3);
  // One byte per call.
  for (int b : {0x91, 70, 90})
    midi({b});
  EXPECT_EQ(notes(1), 1);
  // An overlong system-exclusive message is dropped; the parser recovers.
  std::vector<unsigned char> big(600, 0x11);
  big[0] = 0xF0;
  SYNTH_MODULE.midi(s_, big.data(), static_cast<int>(big.size()));
  midi({0xF7, 0x92, 71, 90});
  EXPECT_EQ(notes(2), 1);
}

TEST_F(Notes, TuningMessage) {
  make();
  testutil::log_capture cap(1);
  midi({0xF0, 0x7F, 0x00, 0x08, 0x02, 0x00, 0x01, 0x3C, 0x3C, 0x20, 0x00, 0xF7});
  EXPECT_EQ(s_->tune[60], 262144);
  midi({0xF0, 0x7F, 0x00, 0x08, 0x02, 0x00, 0x02, 0x3D, 0x3E, 0x00, 0x00, 0xF7});
  EXPECT_TRUE(cap.has("wrong tuning sysex size, len = 12, count = 2"));
  EXPECT_EQ(s_->tune[61], 0);
  midi({0xF0, 0x7F, 0x00, 0x08, 0x02, 0x01, 0x01, 0x3D, 0x3E, 0x00, 0x00, 0xF7});
  EXPECT_EQ(s_->tune[61], 0); // tuning program 1: ignored
  EXPECT_EQ(cap.lines().size(), 1u);
  midi({0x90, 60, 127});
  EXPECT_EQ(s_->chan[0].list->tones[0]->par[PAR_PITCH], (60 << 20) + 262144);
}

TEST_F(Notes, FxLayerGoesThroughTheChain) {
  make();
  dry();
  SYNTH_MODULE.onctl(s_, 0, P_DRIVEN);
  midi({0x90, 60, 127});
  const tone *t = s_->chan[0].list->tones[0];
  EXPECT_EQ(t->bus, 4);
  EXPECT_EQ(t->revgain, 0);
  EXPECT_EQ(t->par[PAR_VOL], (127 << 20)); // level comes from the chain
  EXPECT_EQ(s_->sat->level, 90);           // 2^27 2^((-9 + 127 - 127)/18) / 2^20
  EXPECT_EQ(s_->sat->revsend, 0);
  run(4800);
  EXPECT_GT(peak(2400, 4800), 1e6);
  EXPECT_EQ(left_[4000], right_[4000]);
}

} // namespace

namespace {

TEST_F(Notes, TraceMessages) {
  make();
  testutil::log_capture cap(3);
  midi({0x90, 60, 100, 0xD0, 5, 0xF0, 0x7D, 0x01, 0xF7});
  EXPECT_TRUE(cap.has("midi voice event: 0x90 0x3c 0x64"));
  EXPECT_TRUE(cap.has("midi voice event: 0xd0 0x05"));
  EXPECT_TRUE(cap.has("received sysex: 0xf0 0x7d 0x1 0xf7"));
  EXPECT_TRUE(cap.has("weight[0] = 1"));
  bool pars = false;
  for (const std::string &l : cap.lines())
    pars = pars || l.rfind("data\\tone.raw: output = 0\npitch: base = 60 env = [0 -0.000000", 0) == 0;
  EXPECT_TRUE(pars) << cap.all();
  midi({0x80, 60, 0});
  EXPECT_TRUE(cap.has("data\\tone.raw: deleted"));
}

} // namespace
