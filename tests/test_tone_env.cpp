// Envelopes on every parameter and their release from each stage, the LFO
// shapes' values, and what a voice adds into its buses: saturated sums and
// exact silence when its channel is off.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "testutil.h"
#include "tone_rig.h"
#include "utils/alloc.h"

namespace {

constexpr int SEG = 1500; // samples of time 49 at 48000 Hz
constexpr std::int32_t T49 = 49 * Q20;

// The envelope value of parameter p now: its segment's start value moved
// along its slope for the samples elapsed since it began.
double env_now(const tone_rig &r, int p) {
  const tone_env &e = r.t.env[p];
  int due = 0;
  for (const hook *h = r.t.events; h; h = h->next) {
    due += h->dt;
    if (h->kind == HOOK_ENV && h->idx == p)
      return (e.value + double(e.time - due) * e.slope) / Q20;
  }
  return double(e.value) / Q20;
}

// A full envelope on parameter slot p (0, 16, ... 64), levels in steps.
void envelope(tone_rig &r, int p, double i, double a, double d, double s, double rl,
              std::int32_t rtime = T49) {
  auto set = [&](int k, double v) { r.par(p + k) = static_cast<std::int32_t>(std::lround(v * Q20)); };
  set(MOD_ILEVEL, i), set(MOD_ALEVEL, a), set(MOD_DLEVEL, d), set(MOD_SLEVEL, s), set(MOD_RLEVEL, rl);
  r.par(p + MOD_ATIME) = r.par(p + MOD_DTIME) = r.par(p + MOD_STIME) = T49;
  r.par(p + MOD_RTIME) = rtime;
}

// Released in the attack or the decay, an envelope finishes the decay and
// releases from slevel; in the sustain segment it releases from where it
// is; in the hold, from slevel.
TEST(ToneEnvelope, ReleaseFromEachStage) {
  struct row {
    int at;         // frame of the note-off
    int starts;     // frame the release begins
    double from;    // its start value
  };
  const double sus_line = -20 + 10.0 * 700 / SEG; // 700 samples into dlevel -> slevel
  const row rows[] = {
      {700, 2 * SEG, -10},        // attack
      {2200, 2 * SEG, -10},       // decay
      {3 * SEG - 800, 3 * SEG - 800, sus_line}, // sustain segment
      {5000, 5000, -10},          // hold at slevel
  };
  for (const row &w : rows) {
    tone_rig r;
    r.constant(20000);
    envelope(r, PAR_CUT, -40, 0, -20, -10, -30);
    r.par(PAR_VOL + MOD_RTIME) = PAR_FOREVER; // keeps the voice going
    r.start();
    ASSERT_TRUE(r.render(w.at, 1));
    EXPECT_EQ(tone_release(&r.ctx, &r.t), 1);
    ASSERT_TRUE(r.render(w.starts - w.at + SEG / 2, 1));
    EXPECT_EQ(r.t.env[2].stage, 3) << w.at;
    EXPECT_NEAR(env_now(r, 2), (w.from - 30) / 2, 0.02) << "half-way, note-off at " << w.at;
    ASSERT_TRUE(r.render(SEG / 2 + 10, 1));
    EXPECT_EQ(r.t.env[2].value, -30 * Q20) << w.at;
    EXPECT_EQ(env_now(r, 2), -30) << w.at;
  }
}

// A release time above 127 stops an attack, a decay or a sustain segment
// where it is, on every parameter: nothing swings back to alevel or on to
// the release level.
TEST(ToneEnvelope, EndlessReleaseHoldsTheValueOfTheMoment) {
  struct row {
    int p;    // parameter slot
    int at;   // note-off frame
    double value; // where the envelope is then
  };
  const row rows[] = {
      {PAR_PITCH, 500, -40 + 40.0 * 500 / SEG}, {PAR_CUT, SEG + 900, -20.0 * 900 / SEG},
      {PAR_RES, 300, -40 + 40.0 * 300 / SEG},   {PAR_PAN, SEG + 200, -20.0 * 200 / SEG},
      {PAR_VOL, SEG + 750, -10},
      {PAR_CUT, 2 * SEG + 1100, -20 + 10.0 * 1100 / SEG}, // sustain segment
      {PAR_VOL, 2 * SEG + 600, -20 + 10.0 * 600 / SEG},
  };
  for (const row &w : rows) {
    tone_rig r;
    r.constant(20000);
    envelope(r, w.p, -40, 0, -20, -10, -30, PAR_FOREVER);
    r.par(PAR_VOL + MOD_RTIME) = PAR_FOREVER;
    r.start();
    ASSERT_TRUE(r.render(w.at, 1));
    EXPECT_EQ(tone_release(&r.ctx, &r.t), 1);
    EXPECT_NEAR(env_now(r, w.p / 16), w.value, 0.02) << w.p;
    ASSERT_TRUE(r.render(20000, 7));
    EXPECT_NEAR(env_now(r, w.p / 16), w.value, 0.02) << w.p;
    EXPECT_EQ(r.t.env[w.p / 16].stage, 3) << w.p;
  }
}

// A release that becomes endless after the note-off (a controller moving
// rtime) while the attack runs: the decay still finishes and the envelope
// stays at dlevel, not at the decay's start.
TEST(ToneEnvelope, ReleaseMadeEndlessDuringTheAttackHoldsDlevel) {
  for (int p : {PAR_CUT, PAR_VOL}) {
    tone_rig r;
    r.constant(20000);
    r.par(PAR_VOL + MOD_RTIME) = PAR_FOREVER;
    envelope(r, p, -40, 0, -20, -10, -30);
    r.start();
    ASSERT_TRUE(r.render(700, 1));
    EXPECT_EQ(tone_release(&r.ctx, &r.t), 1);
    r.par(p + MOD_RTIME) = PAR_FOREVER;
    ASSERT_TRUE(r.render(2 * SEG - 700 + 20000, 7)) << p;
    EXPECT_EQ(env_now(r, p / 16), -20) << p;
  }
}

// Released half-way down a decay from 0 to -30 steps, the voice stays at
// -15 steps: it does not swell back to the attack level.
TEST(ToneEnvelope, EndlessReleaseInTheDecayKeepsTheLevel) {
  tone_rig r;
  r.constant(30000);
  r.par(PAR_PAN) = 0;
  r.par(PAR_VOL + MOD_ALEVEL) = 0;
  r.par(PAR_VOL + MOD_DTIME) = T49;
  r.par(PAR_VOL + MOD_DLEVEL) = -30 * Q20;
  r.par(PAR_VOL + MOD_SLEVEL) = -30 * Q20;
  r.par(PAR_VOL + MOD_RTIME) = PAR_FOREVER;
  r.start();
  ASSERT_TRUE(r.render(SEG / 2));
  const double at_release = r.out[0].back();
  tone_release(&r.ctx, &r.t);
  ASSERT_TRUE(r.render(48000));
  const double full = 134213632.0 * 30000 / 32767;
  EXPECT_NEAR(at_release / full, std::pow(2.0, -15.0 / 18), 0.01);
  double hi = 0;
  for (std::size_t i = SEG / 2; i < r.out[0].size(); ++i)
    hi = std::fmax(hi, r.out[0][i]);
  EXPECT_LE(hi, at_release * 1.001);
  EXPECT_NEAR(r.out[0].back(), at_release, at_release * 0.001);
}

// A negative release time takes pitch, cut, res and pan to their release
// level at once, from the hold and at the end of a decay alike.
TEST(ToneEnvelope, NegativeReleaseJumpsToTheReleaseLevel) {
  for (int p : {PAR_PITCH, PAR_CUT, PAR_RES, PAR_PAN}) {
    for (int at : {5000, 700}) { // in the hold; in the attack
      tone_rig r;
      r.constant(20000);
      envelope(r, p, -40, 0, -20, -10, -30, PAR_NOTIME);
      r.par(PAR_VOL + MOD_RTIME) = PAR_FOREVER;
      r.start();
      ASSERT_TRUE(r.render(at, 1));
      EXPECT_EQ(tone_release(&r.ctx, &r.t), 1);
      ASSERT_TRUE(r.render(2 * SEG - at + 1 > 0 ? 2 * SEG - at + 1 : 1, 1));
      EXPECT_EQ(r.t.env[p / 16].value, -30 * Q20) << p << " " << at;
      EXPECT_EQ(env_now(r, p / 16), -30) << p << " " << at;
    }
  }
  // Heard: a pitch release level an octave down at once.
  tone_rig r;
  r.sine(48.0, 100);
  r.par(PAR_PITCH + MOD_RLEVEL) = -12 * Q20;
  r.par(PAR_VOL + MOD_RTIME) = 60 * Q20;
  r.start();
  ASSERT_TRUE(r.render(2400));
  tone_release(&r.ctx, &r.t);
  ASSERT_TRUE(r.render(4800));
  EXPECT_NEAR(testutil::frequency_of(r.out[0], 2400 + 500, r.out[0].size(), 48000), 500.0, 1.0);
}

// An envelope on a parameter moves the render values as the same offset of
// its base would: at the start (ilevel), in the hold (slevel) and after
// the release (rlevel).
TEST(ToneEnvelope, EnvelopesOnPitchCutResAndPan) {
  struct row {
    int p;
    double base, i, s, rl;
  };
  const row rows[] = {
      {PAR_PITCH, 64, 12, 7, -5},
      {PAR_CUT, 60, 30, -12, 20},
      {PAR_RES, 20, 60, 40, 100},
      {PAR_PAN, 64, -64, -32, 40},
  };
  auto ref_aim = [](const row &w, double level, int frames) {
    tone_rig r;
    r.constant(20000);
    tone_setfilt(&r.t, FILT_LOWPASS);
    r.par(w.p) = static_cast<std::int32_t>(std::lround((w.base + level) * Q20));
    r.start();
    const tone_aim now{r.t.inc, r.t.gainl, r.t.gainr, r.t.filtf, r.t.filtq};
    r.render(frames, 1);
    return frames == 0 ? now : r.t.aim;
  };
  auto same = [](const tone_aim &a, const tone_aim &b) {
    return a.inc == b.inc && a.gainl == b.gainl && a.gainr == b.gainr && a.filtf == b.filtf &&
           a.filtq == b.filtq;
  };
  for (const row &w : rows) {
    tone_rig r;
    r.constant(20000);
    tone_setfilt(&r.t, FILT_LOWPASS);
    r.par(w.p) = static_cast<std::int32_t>(std::lround(w.base * Q20));
    envelope(r, w.p, w.i, 0, 0, w.s, w.rl);
    r.par(PAR_VOL + MOD_RTIME) = PAR_FOREVER;
    r.start();
    const tone_aim start{r.t.inc, r.t.gainl, r.t.gainr, r.t.filtf, r.t.filtq};
    EXPECT_TRUE(same(start, ref_aim(w, w.i, 0))) << "ilevel " << w.p;
    EXPECT_FALSE(same(start, ref_aim(w, 0, 0))) << "the envelope moves " << w.p;
    const int hold = 4 * SEG;
    ASSERT_TRUE(r.render(hold, 1));
    EXPECT_TRUE(same(r.t.aim, ref_aim(w, w.s, hold))) << "slevel " << w.p;
    tone_release(&r.ctx, &r.t);
    ASSERT_TRUE(r.render(2 * SEG, 1));
    EXPECT_TRUE(same(r.t.aim, ref_aim(w, w.rl, hold + 2 * SEG))) << "rlevel " << w.p;
  }
}

// The values of every LFO shape over two cycles: the random ones draw one
// step of the shared generator per point, the others none.
TEST(ToneLfo, ShapeValues) {
  constexpr std::int32_t ONE = Q27;
  auto lcg = [](std::uint32_t &x) { return x = x * 1664525u + 1013904223u; };
  struct shape {
    int type;
    const char *name;
    bool draws;
  };
  for (const shape &sh : {shape{0, "sine", false}, shape{1, "dirac", false}, shape{2, "rand", true},
                          shape{3, "randpeak", true}, shape{4, "randbin", true},
                          shape{5, "gauss", false}}) {
    tone_rig r;
    r.par(PAR_CUT + MOD_LFOTYPE) = sh.type;
    r.t.lfo[2].step = 0;
    rnd_state = 4242;
    std::uint32_t x = 4242;
    int ones = 0, zeros = 0;
    for (int k = 0; k < 64; ++k) {
      const int s = k & 31;
      const std::int32_t got = tone_lfonext(&r.t, 2);
      std::int32_t want = 0;
      switch (sh.type) {
      case 0: want = static_cast<std::int32_t>(std::lround(134217727.0 * std::sin(2 * TEST_PI * s / 32))); break;
      case 1: want = s == 0 ? ONE : 0; break;
      case 2: want = static_cast<std::int32_t>(lcg(x) >> 3) - ONE; break;
      case 3: want = lcg(x) < (1u << 28) ? ONE : 0; break;
      case 4: want = (lcg(x) >> 31) ? ONE : 0; break;
      default: {
        const int d = s < 32 - s ? s : 32 - s;
        const std::int32_t g[7] = {134217727, 90816256, 28133563, 3990187, 259101, 7702, 104};
        want = d < 7 ? g[d] : 0;
      }
      }
      if (sh.type == 0)
        EXPECT_NEAR(got, want, 1) << sh.name << " point " << k;
      else
        EXPECT_EQ(got, want) << sh.name << " point " << k;
      ones += got == ONE;
      zeros += got == 0;
      EXPECT_EQ(r.t.lfo[2].step, (k + 1) & 31);
    }
    EXPECT_EQ(rnd_state, sh.draws ? x : 4242u) << sh.name;
    if (sh.type == 3 || sh.type == 4) { // both values occur in this draw
      EXPECT_TRUE(ones > 0 && zeros > 0) << sh.name;
    }
  }
}

// A resonant low-pass at the frequency of a -12 dBFS tone rings up to 32
// times full scale: the output holds at the 32-bit limit instead of
// wrapping round to the opposite sign.
TEST(ToneMix, ResonantFilterSaturates) {
  tone_rig r;
  r.sine(48.0, 100, 8192); // 1000 Hz
  tone_setfilt(&r.t, FILT_LOWPASS);
  r.par(PAR_CUT) = static_cast<std::int32_t>(std::lround((69 + 12 * std::log2(1000 / 440.0)) * Q20));
  r.par(PAR_RES) = 127 * Q20;
  r.start();
  ASSERT_TRUE(r.render(24000));
  int jumps = 0;
  double top = 0;
  for (std::size_t i = 1; i < r.out[0].size(); ++i) {
    jumps += std::fabs(double(r.out[0][i]) - r.out[0][i - 1]) > 11.0 * Q27;
    top = std::fmax(top, std::fabs(double(r.out[0][i])));
  }
  EXPECT_EQ(jumps, 0);
  EXPECT_GT(top, 7.9 * Q27); // half of the saturated filter output
}

// Sums into the buses saturate, at both ends: a loud voice of either sign
// over nearly full buffers.
TEST(ToneMix, BusSumsSaturate) {
  for (int sign : {1, -1}) {
    tone_rig r;
    r.constant(static_cast<std::int16_t>(sign * 30000));
    r.t.revgain = r.t.chogain = Q27;
    r.start();
    const std::int32_t limit = sign > 0 ? INT_MAX : INT_MIN;
    std::vector<std::int32_t> b[4];
    std::int32_t *bus[4];
    for (int k = 0; k < 4; ++k) {
      b[k].assign(512, limit - sign * 100);
      bus[k] = b[k].data();
    }
    ASSERT_TRUE(tone_run(&r.ctx, &r.t, bus, 512));
    for (int k = 0; k < 4; ++k)
      for (int i = 16; i < 512; ++i)
        ASSERT_EQ(b[k][i], limit) << "bus " << k << " frame " << i << " sign " << sign;
  }
}

// A muted voice adds exact zeros to every bus; unmuted it comes back over
// a tenth of a second, muted again it fades out and is exactly silent.
TEST(ToneMix, MutedVoiceAddsExactZeros) {
  auto all_zero = [](const std::vector<std::int32_t> &s, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to && i < s.size(); ++i)
      if (s[i] != 0)
        return false;
    return true;
  };
  tone_rig r;
  r.sine(37.3, 50, 30000);
  tone_setfilt(&r.t, FILT_LOWPASS);
  r.par(PAR_CUT) = 100 * Q20;
  r.t.revgain = r.t.chogain = Q27 / 3;
  r.t.muted = 1;
  r.start();
  ASSERT_TRUE(r.render(4800));
  for (int k = 0; k < 4; ++k)
    EXPECT_TRUE(all_zero(r.out[k], 0, 4800)) << "bus " << k;
  r.t.muted = 0;
  tone_parchanged(&r.ctx, &r.t);
  ASSERT_TRUE(r.render(9600));
  double hi = 0;
  for (int i = 4800 + 4800; i < 14400; ++i)
    hi = std::fmax(hi, std::fabs(double(r.out[0][i])));
  EXPECT_GT(hi, 0.4 * 30000 * 4096);
  r.t.muted = 1;
  tone_parchanged(&r.ctx, &r.t);
  ASSERT_TRUE(r.render(19200, 100));
  // Silent from the end of the fade (4800 samples) and the next event on.
  for (int k = 0; k < 4; ++k)
    EXPECT_TRUE(all_zero(r.out[k], 14400 + 4800 + 400, r.out[k].size())) << "bus " << k;
  EXPECT_EQ(r.t.gainl, 0);
  EXPECT_EQ(r.t.gainr, 0);
}

} // namespace
