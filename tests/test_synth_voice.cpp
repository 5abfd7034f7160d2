// What the engine gives a voice at note start and later (send gains,
// channel volume 0, start delay, pressure and modulation-wheel sources) and
// how it sums voices and effects into its buses.
#include <climits>

#include "synth_rig.h"

namespace {

constexpr std::int32_t Q20 = 1 << 20, Q27 = 1 << 27;

const char *const VOICE_CONF = R"(
wav flat {
  map { data "loud.raw"
    loop 4800
  }
}
wav tone {
  map { data "tone.raw"
    loop 4800
  }
}
patch 0 "Loud" {
  layer a {
    wav flat
  }
}
patch 1 "Sources" {
  layer a {
    wav tone
    cat.cut.base 16
    mod.res.base 8
    cat.pan.base -32
  }
}
patch 2 "Late" {
  tempo 100
  layer a {
    wav flat
    delay 12
  }
}
patch 3 "Driven" {
  fx sat {
    level 127
  }
  layer a {
    wav tone
    output fx
  }
}
)";

constexpr int P_LOUD = 0, P_SOURCES = 1, P_LATE = 2, P_DRIVEN = 3;
constexpr int C_PATCH = 0, C_VOLUME = 1, C_REVERB = 3, C_CHORUS = 4;

class Voices : public SynthTest {
protected:
  void SetUp() override {
    put("data/loud.raw", raw_const(32000, 4800));
    install(VOICE_CONF);
  }
  void set(int ctl, int v) { SYNTH_MODULE.onctl(s_, ctl, v); }
  const tone *voice(int c = 0) const { return s_->chan[c].list->tones[0]; }
  // Runs n frames (at most the block size) over output buses preset to v.
  void run_over(std::int32_t v, int n = 256) {
    left_.assign(n, v);
    right_.assign(n, v);
    std::int32_t *out[2] = {left_.data(), right_.data()};
    SYNTH_MODULE.run(s_, nullptr, out, n);
  }
  bool silent(const std::vector<std::int32_t> &s, std::size_t from = 0) const {
    for (std::size_t i = from; i < s.size(); ++i)
      if (s[i] != 0)
        return false;
    return true;
  }
};

// Send gains at note start: (value - 127) volume steps, exactly 0 for 0.
TEST_F(Voices, SendGainsAtNoteStart) {
  make();
  struct row {
    int reverb, chorus;
    std::int32_t revgain, chogain;
  };
  const row rows[] = {
      {127, 109, Q27, Q27 / 2},
      {91, 1, Q27 / 4, 1 << 20},
      {0, 73, 0, Q27 / 8},
      {55, 0, 8388608, 0}, // -72 steps: 1/16
  };
  for (const row &w : rows) {
    set(C_REVERB, w.reverb);
    set(C_CHORUS, w.chorus);
    midi({0x90, 60, 100});
    EXPECT_EQ(voice()->revgain, w.revgain) << w.reverb;
    EXPECT_EQ(voice()->chogain, w.chogain) << w.chorus;
    midi({0x80, 60, 0});
  }
}

// Volume 0 is off: voices started then are exactly silent, sounding ones
// fade out over a tenth of a second and are then exactly silent, and the
// effect chain's gains are 0; the same for sends of 0.
TEST_F(Voices, VolumeAndSendsOfZeroAreOff) {
  make();
  set(C_REVERB, 0);
  set(C_CHORUS, 0);
  set(C_VOLUME, 0);
  midi({0x90, 60, 127});
  run(4800);
  EXPECT_TRUE(silent(left_) && silent(right_));
  set(C_VOLUME, 127); // back over a tenth of a second
  left_.clear();
  run(9600);
  EXPECT_GT(peak(4800, 9600), 1e7);
  set(C_VOLUME, 0);
  left_.clear();
  right_.clear();
  run(9600);
  EXPECT_GT(peak(0, 100), 1e7);
  EXPECT_TRUE(silent(left_, 4800 + 400) && silent(right_, 4800 + 400));
  // Sounding voices with sends of 0 put nothing into the effects.
  set(C_VOLUME, 127);
  run(9600);
  ASSERT_EQ(s_->blksz, 256);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(s_->rev->in[0][i], 0) << i;
    ASSERT_EQ(s_->cho->in[0][i], 0) << i;
  }
  // The chain.
  set(C_PATCH, P_DRIVEN);
  set(C_VOLUME, 0);
  EXPECT_EQ(s_->sat->level, 0);
  EXPECT_EQ(s_->sat->level_q, 0);
  EXPECT_EQ(s_->sat->revsend_q, 0);
  EXPECT_EQ(s_->sat->chosend_q, 0);
  set(C_VOLUME, 127);
  set(C_REVERB, 1);
  EXPECT_EQ(s_->sat->level, 90);
  EXPECT_EQ(s_->sat->revsend, 1);
}

// The engine's own sums saturate: voices over nearly full output buses,
// the chain's output, the reverb's tail, and 64 loud voices' chorus sends.
TEST_F(Voices, EngineSumsSaturate) {
  make();
  set(C_REVERB, 0);
  set(C_CHORUS, 0);
  midi({0x90, 60, 127});
  run(2048);
  run_over(INT_MAX - 1000);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(left_[i], INT_MAX) << "voice " << i;
  midi({0x80, 60, 0});
  // The saturator chain over nearly full buses: never wraps to negative.
  set(C_PATCH, P_DRIVEN);
  midi({0x90, 60, 127});
  for (int k = 0; k < 8; ++k) {
    run_over(INT_MAX - 1000);
    for (int i = 0; i < 256; ++i)
      ASSERT_GT(left_[i], 0) << "chain " << i;
  }
  midi({0x80, 60, 0});
  // The reverb's tail alone over nearly full buses.
  set(C_PATCH, P_LOUD);
  set(C_REVERB, 127);
  midi({0x90, 60, 127});
  run(4096);
  midi({0x80, 60, 0});
  ASSERT_EQ(s_->nnotes, 0);
  for (int k = 0; k < 8; ++k) {
    run_over(INT_MAX - 1000);
    for (int i = 0; i < 256; ++i)
      ASSERT_GT(left_[i], 0) << "reverb " << i;
  }
  // 64 loud voices: their chorus sends add up beyond full scale.
  set(C_REVERB, 0);
  set(C_CHORUS, 127);
  for (int k = 0; k < 64; ++k)
    midi({0x90, 30 + k, 127});
  run(2048);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(s_->cho->in[0][i], INT_MAX) << "send " << i;
}

// The start delay is the patch's tempo times the layer's delay in 1/24
// beats: half a beat at 100 beats per minute is 0.3 s.
TEST_F(Voices, StartDelayFromTempoAndLayerDelay) {
  struct row {
    int rateidx;
    int delay; // frames: 600000 * 12 / (24000000 / rate)
  };
  for (const row &w : {row{8, 14400}, row{7, 13235}, row{0, 2400}}) {
    make(w.rateidx);
    set(C_REVERB, 0);
    set(C_CHORUS, 0);
    set(C_PATCH, P_LATE);
    midi({0x90, 64, 127});
    EXPECT_EQ(voice()->delay, w.delay) << w.rateidx;
    left_.clear();
    run(w.delay + 200);
    EXPECT_EQ(peak(0, w.delay), 0) << w.rateidx;
    EXPECT_GT(peak(w.delay, w.delay + 200), 1e7) << w.rateidx;
    SYNTH_MODULE.del(s_);
    s_ = nullptr;
  }
}

// Channel pressure and the modulation wheel, at note start and while the
// note sounds: destination += amount * value / 128.
TEST_F(Voices, PressureAndModWheelSources) {
  make();
  set(C_PATCH, P_SOURCES);
  midi({0xD0, 64, 0xB0, 1, 32}); // pressure 64, wheel 32
  midi({0x90, 64, 127});
  const tone *t = voice();
  EXPECT_EQ(t->par[PAR_CUT], (64 + 8) * Q20);      // 16 * 64 / 128
  EXPECT_EQ(t->par[PAR_RES], 2 * Q20);             // 8 * 32 / 128
  EXPECT_EQ(t->par[PAR_PAN], (64 - 16) * Q20);     // -32 * 64 / 128
  EXPECT_EQ(t->par[PAR_PITCH + MOD_LFO], Q20 / 4); // default: wheel -> vibrato 1.0
  midi({0xD0, 96});
  EXPECT_EQ(t->par[PAR_CUT], (64 + 12) * Q20);
  EXPECT_EQ(t->par[PAR_PAN], (64 - 24) * Q20);
  EXPECT_EQ(t->par[PAR_RES], 2 * Q20);
  EXPECT_EQ(t->glide[2].target, t->par[PAR_CUT]); // the base glides there
  midi({0xB0, 1, 96});
  EXPECT_EQ(t->par[PAR_RES], 6 * Q20);
  EXPECT_EQ(t->par[PAR_CUT], (64 + 12) * Q20);
  EXPECT_EQ(s_->chan[0].pressure, 96);
  EXPECT_EQ(s_->chan[0].mod, 96);
  // Other channels are not touched.
  midi({0x91, 64, 127});
  EXPECT_EQ(voice(1)->par[PAR_CUT], 64 * Q20);
}

} // namespace
