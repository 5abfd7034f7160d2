// A voice measured from its output: pitch, level, pan, envelopes, LFOs,
// wave ends, loops, start delay and independence from the block size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "testutil.h"
#include "tone_rig.h"
#include "utils/alloc.h"

namespace {

double peak(const std::vector<std::int32_t> &s, std::size_t from, std::size_t to) {
  double p = 0;
  for (std::size_t i = from; i < to && i < s.size(); ++i)
    p = std::fmax(p, std::fabs(double(s[i])));
  return p;
}

struct pitch_case {
  int rateidx;
  int semitones;
};

class TonePitch : public ::testing::TestWithParam<pitch_case> {};

TEST_P(TonePitch, WithinOneCent) {
  const pitch_case &c = GetParam();
  tone_rig r(c.rateidx);
  r.sine(48.0, 200); // 1000 Hz as recorded at 48000 Hz
  r.par(PAR_PITCH) = (64 + c.semitones) * Q20;
  r.start();
  const int rate = ORKA_RATES[c.rateidx];
  ASSERT_TRUE(r.render(rate));
  const double want = 1000.0 * std::pow(2.0, c.semitones / 12.0);
  const double got = testutil::frequency_of(r.out[0], 64, r.out[0].size(), rate);
  EXPECT_NEAR(1200.0 * std::log2(got / want), 0.0, 1.0) << got << " Hz, want " << want;
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, TonePitch,
    ::testing::Values(pitch_case{R48000, -24}, pitch_case{R48000, -7}, pitch_case{R48000, 0},
                      pitch_case{R48000, 7}, pitch_case{R48000, 12}, pitch_case{R48000, 31},
                      pitch_case{R44100, -24}, pitch_case{R44100, 0}, pitch_case{R44100, 12},
                      pitch_case{R44100, 31}, pitch_case{R96000, -7}, pitch_case{R96000, 0},
                      pitch_case{R96000, 31}));

TEST(Tone, LevelVolumeStepsAndPan) {
  struct row {
    int vol; // volume base
    int pan; // Q20 pan base
    double left, right; // expected share of 2^27 * 32767/32768
  };
  const row rows[] = {
      {127, 0, 1.0, 0.0},  {127, 64, 0.5, 0.5}, {109, 0, 0.5, 0.0},
      {91, 0, 0.25, 0.0},  {127, 128, 0.0, 1.0}, {145, 0, 1.0, 0.0}, // never louder
  };
  for (const row &w : rows) {
    tone_rig r;
    r.constant(32767);
    r.par(PAR_VOL) = w.vol * Q20;
    r.par(PAR_PAN) = w.pan * Q20;
    r.start();
    ASSERT_TRUE(r.render(512));
    // 32767 * 32 * 2^7 through the kernel, whose taps sum to 134213229
    // at this phase (4499 below 2^27).
    const double full = 134213632.0 * (134213229.0 / 134217728.0);
    EXPECT_NEAR(r.out[0][400], w.left * full, 200 * w.left + 2) << w.vol << " " << w.pan;
    EXPECT_NEAR(r.out[1][400], w.right * full, 200 * w.right + 2) << w.vol << " " << w.pan;
  }
}

TEST(Tone, SendsFollowTheMix) {
  tone_rig r;
  r.constant(16384);
  r.t.revgain = Q27 / 2;
  r.t.chogain = Q27 / 4;
  r.start();
  ASSERT_TRUE(r.render(300));
  const std::int32_t s = r.out[0][200] + r.out[1][200];
  EXPECT_EQ(r.out[2][200], static_cast<std::int32_t>((std::int64_t{Q27 / 2} * s) >> 27));
  EXPECT_EQ(r.out[3][200], static_cast<std::int32_t>((std::int64_t{Q27 / 4} * s) >> 27));
}

// Starts the voice at normal speed exactly: the table's unity increment is
// one unit below 2^22, which makes the read point lag by a frame now and
// then.  The LFOs are slowed so that no event (where the render values
// land on their aims) comes within the test.
void start_exact(tone_rig &r) {
  for (int p = 0; p < 5; ++p)
    r.par(16 * p + MOD_LFOTIME) = 127 * Q20;
  r.start();
  r.t.inc = r.t.aim.inc = TONE_ONE;
  r.t.incslope = 0;
}

TEST(Tone, WaveEndsAfterItsLastSample) {
  tone_rig r;
  r.set_wave(std::vector<std::int16_t>(100, 20000));
  start_exact(r);
  EXPECT_FALSE(r.render(256));
  ASSERT_EQ(r.out[0].size(), 256u);
  EXPECT_NE(r.out[0][99], 0);
  for (int i = 100; i < 256; ++i)
    ASSERT_EQ(r.out[0][i], 0) << i;
  // A block that ends exactly with the data still ends the voice.
  tone_rig e;
  e.set_wave(std::vector<std::int16_t>(100, 20000));
  start_exact(e);
  EXPECT_FALSE(e.render(100, 100));
}

TEST(Tone, LoopRepeatsTheLastSamples) {
  tone_rig r;
  std::vector<std::int16_t> s(100);
  for (int i = 0; i < 100; ++i)
    s[i] = static_cast<std::int16_t>((i * 611) % 20000 - 10000);
  r.set_wave(s, 50);
  start_exact(r);
  ASSERT_TRUE(r.render(5000));
  for (int i = 1000; i < 5000; ++i)
    ASSERT_EQ(r.out[0][i], r.out[0][i - 50]) << i;
  // A loop longer than the data is taken as the whole data.
  tone_rig l;
  l.set_wave(s, 1000);
  start_exact(l);
  ASSERT_TRUE(l.render(1000));
  EXPECT_EQ(l.out[0][900], l.out[0][800]);
}

TEST(Tone, StartDelay) {
  tone_rig r, ref;
  r.constant(20000);
  ref.constant(20000);
  r.t.delay = 1000;
  r.start();
  ref.start();
  ASSERT_TRUE(r.render(5 * 256));
  ASSERT_TRUE(ref.render(5 * 256));
  // Silent for three blocks and 232 frames of the fourth, then the same
  // output as without the delay.
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(r.out[0][i], 0) << i;
  for (int i = 1000; i < 5 * 256; ++i)
    ASSERT_EQ(r.out[0][i], ref.out[0][i - 1000]) << i;
  EXPECT_NE(r.out[0][1100], 0);
}

// The output of a voice with envelopes, LFOs and a filter sweep, rendered
// in blocks of the given size.
std::vector<std::int32_t> busy_voice(int block) {
  tone_rig r(R44100);
  r.sine(37.3, 50);
  tone_setfilt(&r.t, FILT_LOWPASS);
  r.par(PAR_VOL + MOD_ILEVEL) = -40 * Q20;
  r.par(PAR_VOL + MOD_ATIME) = 40 * Q20;
  r.par(PAR_VOL + MOD_ALEVEL) = 0;
  r.par(PAR_VOL + MOD_DTIME) = 50 * Q20;
  r.par(PAR_VOL + MOD_DLEVEL) = -10 * Q20;
  r.par(PAR_VOL + MOD_RTIME) = 45 * Q20;
  r.par(PAR_PITCH + MOD_LFO) = 2 * Q20;
  r.par(PAR_PITCH + MOD_LFOTIME) = 30 * Q20;
  r.par(PAR_CUT + MOD_BASE) = 90 * Q20;
  r.par(PAR_CUT + MOD_LFO) = 20 * Q20;
  r.par(PAR_CUT + MOD_LFOTYPE) = 2;
  r.par(PAR_RES + MOD_BASE) = 80 * Q20;
  r.start();
  r.render(3000, block);
  tone_release(&r.ctx, &r.t);
  r.render(20000, block);
  return r.out[0];
}

TEST(Tone, BlockSizeDoesNotChangeTheResult) {
  rnd_state = 99;
  auto ref = busy_voice(1);
  // The voice ends by its release; trailing frames of the last block are 0.
  while (!ref.empty() && ref.back() == 0)
    ref.pop_back();
  ASSERT_GT(ref.size(), 3500u);
  ASSERT_LT(ref.size(), 23000u);
  for (int block : {7, 64, 256, 1000}) {
    rnd_state = 99;
    auto got = busy_voice(block);
    while (!got.empty() && got.back() == 0)
      got.pop_back();
    EXPECT_TRUE(got == ref) << "block " << block;
  }
}

// Samples until the output first reaches the fraction of its final level.
int rise_time(const std::vector<std::int32_t> &s, double fraction) {
  const double top = std::fabs(double(s.back()));
  for (std::size_t i = 0; i < s.size(); ++i)
    if (std::fabs(double(s[i])) >= fraction * top)
      return static_cast<int>(i);
  return -1;
}

TEST(Tone, AttackLengthFollowsTheTimeScale) {
  for (int rate : {R44100, R48000}) {
    for (int atime : {55, 67, 79}) {
      tone_rig r(rate);
      r.constant(30000);
      r.par(PAR_VOL + MOD_ILEVEL) = -100 * Q20;
      r.par(PAR_VOL + MOD_ATIME) = atime * Q20;
      r.start();
      const int n = tone_samples(&r.ctx, std::int64_t{atime} * Q20);
      ASSERT_TRUE(r.render(n + 2000));
      // Within 1/18 step of full level only at the end of the attack.
      const int got = rise_time(r.out[0], 0.998);
      EXPECT_NEAR(got, n, 10 + n / 400) << "rate " << rate << " atime " << atime;
    }
  }
  tone_rig r(R44100);
  EXPECT_NEAR(tone_samples(&r.ctx, 79 * Q20), 44100, 90); // interpolation error
}

TEST(Tone, ReleaseDuringAttackWaitsForTheDecay) {
  tone_rig r;
  r.constant(32767);
  r.par(PAR_PAN) = 0;
  r.par(PAR_VOL + MOD_ILEVEL) = -60 * Q20;
  r.par(PAR_VOL + MOD_ATIME) = 55 * Q20; // 3000 samples
  r.par(PAR_VOL + MOD_ALEVEL) = 0;
  r.par(PAR_VOL + MOD_DTIME) = 55 * Q20;
  r.par(PAR_VOL + MOD_DLEVEL) = -30 * Q20;
  r.par(PAR_VOL + MOD_SLEVEL) = -6 * Q20;
  r.par(PAR_VOL + MOD_RTIME) = 49 * Q20; // 1500 samples
  r.par(PAR_VOL + MOD_RLEVEL) = PAR_OFF;
  r.start();
  const int seg = tone_samples(&r.ctx, 55 * Q20);
  const int rel = tone_samples(&r.ctx, 49 * Q20);
  ASSERT_EQ(seg, 3000);
  ASSERT_EQ(rel, 1500);
  ASSERT_TRUE(r.render(100));
  EXPECT_EQ(tone_release(&r.ctx, &r.t), 1);
  EXPECT_EQ(r.t.env[1].stage, 0);
  // The attack and the decay run in full...
  ASSERT_TRUE(r.render(2 * seg - 100, 1));
  EXPECT_EQ(r.t.env[1].stage, 1);
  EXPECT_NEAR(r.out[0][seg + 7] / 134213632.0, 1.0, 0.01);
  // ...then the release starts from slevel, not dlevel, and ends the voice.
  ASSERT_TRUE(r.render(1, 1));
  EXPECT_EQ(r.t.env[1].stage, 3);
  EXPECT_EQ(r.t.env[1].value, -6 * Q20);
  EXPECT_FALSE(r.render(rel + 100, 1));
  EXPECT_EQ(static_cast<int>(r.out[0].size()), 2 * seg + rel + 1);
}

TEST(Tone, DefaultEnvelopeFullAtOnceAndEndsOnRelease) {
  tone_rig r;
  r.constant(30000);
  r.start();
  ASSERT_TRUE(r.render(64));
  EXPECT_NEAR(r.out[0][40], 0.5 * 30000 * 32 * 128, 3000);
  EXPECT_EQ(tone_release(&r.ctx, &r.t), 0);
}

TEST(Tone, ForeverReleaseKeepsSounding) {
  tone_rig r;
  r.constant(30000);
  r.par(PAR_VOL + MOD_RTIME) = PAR_FOREVER;
  r.start();
  EXPECT_EQ(tone_release(&r.ctx, &r.t), 1);
  EXPECT_TRUE(r.render(48000));
  EXPECT_NEAR(r.out[0].back(), 0.5 * 30000 * 4096, 3000);
}

// Samples between LFO cycle starts (the step counter returning to 1).
std::vector<int> lfo_cycles(tone_rig &r, int p, int frames) {
  std::vector<int> starts;
  int last = r.t.lfo[p].step;
  for (int i = 0; i < frames; ++i) {
    r.render(1, 1);
    if (r.t.lfo[p].step == 1 && last != 1)
      starts.push_back(i);
    last = r.t.lfo[p].step;
  }
  std::vector<int> lens;
  for (std::size_t k = 1; k < starts.size(); ++k)
    lens.push_back(starts[k] - starts[k - 1]);
  return lens;
}

TEST(Tone, LfoCycleLengths) {
  struct row {
    int rateidx;
    int lfotime;   // Q20 units
    int lfoticks;  // 0: free-running
    int tempo;
    double cycle;  // samples; 0: the time's length, at least rate / 12
  };
  const row rows[] = {
      {R48000, 0, 0, 500000, 4000},       // capped at 12 cycles per second
      {R44100, 0, 0, 500000, 3675},
      {R48000, 67, 0, 500000, 12000},     // 0.25 s
      {R44100, 67, 0, 500000, 0},
      {R96000, 40, 0, 500000, 0},
      {R48000, 0, 24, 500000, 24000},     // one beat at 120 bpm
      {R48000, 0, 9, 600000, 10800},      // 9/24 beat at 100 bpm
      {R44100, 0, 24, 500000, 32 * 12e6 / 17408}, // 24000000 / 44100 cut to 544
  };
  for (const row &w : rows) {
    tone_rig r(w.rateidx);
    r.constant(1000, 48000);
    r.par(PAR_PITCH + MOD_LFOTIME) = w.lfotime * Q20;
    r.par(PAR_PITCH + MOD_LFOTICKS) = w.lfoticks;
    r.start(w.tempo);
    double cycle = w.cycle;
    if (cycle == 0)
      cycle = std::fmax(tone_samples(&r.ctx, std::int64_t{w.lfotime} * Q20),
                        ORKA_RATES[w.rateidx] / 12);
    const auto lens = lfo_cycles(r, 0, static_cast<int>(cycle * 3.5));
    ASSERT_GE(lens.size(), 2u);
    for (int len : lens)
      EXPECT_NEAR(len, cycle, 1.5) << w.lfotime << " " << w.lfoticks;
  }
  tone_rig t;
  t.constant(1000);
  t.par(PAR_PITCH + MOD_LFOTICKS) = 24;
  t.start();
  EXPECT_EQ(t.t.lfo[0].steplen, 750);
  EXPECT_EQ(t.t.lfo[0].frac, 0);
}

TEST(Tone, VolumeLfoOnlyLowers) {
  tone_rig r;
  r.constant(30000, 48000);
  r.par(PAR_VOL + MOD_LFO) = 6 * Q20;
  r.par(PAR_PAN) = 0;
  r.start();
  ASSERT_TRUE(r.render(48000));
  const double full = 134213632.0 * 30000 / 32767;
  const double hi = peak(r.out[0], 1000, 48000);
  double lo = hi;
  for (std::size_t i = 1000; i < r.out[0].size(); ++i)
    lo = std::fmin(lo, double(r.out[0][i]));
  EXPECT_LE(hi, full * 1.001);
  EXPECT_GT(hi, full * 0.99);
  EXPECT_NEAR(lo / full, std::pow(2.0, -12.0 / 18.0), 0.01);
}

TEST(Tone, BadLfoShapePlaysSineAndSaysSoOnce) {
  testutil::log_capture cap(1);
  tone_rig r;
  r.constant(1000);
  r.par(PAR_PITCH + MOD_LFOTYPE) = -1;
  r.par(PAR_PITCH + MOD_LFO) = Q20;
  r.start();
  EXPECT_TRUE(r.render(20000));
  int n = 0;
  for (const std::string &l : cap.lines())
    n += l == "tone_lfonext: bad lfo type";
  EXPECT_EQ(n, 1);
}

TEST(Tone, GlideTakesATenthOfASecond) {
  tone_rig r;
  r.sine(48.0, 100);
  r.start();
  ASSERT_TRUE(r.render(480));
  r.par(PAR_PITCH) = 76 * Q20; // an octave up
  tone_parchanged(&r.ctx, &r.t);
  ASSERT_TRUE(r.render(4800 + 4800));
  EXPECT_EQ(r.t.glide[0].value, 76 * Q20);
  EXPECT_EQ(r.t.glide[0].time, 0);
  const double f = testutil::frequency_of(r.out[0], 480 + 4800, r.out[0].size(), 48000);
  EXPECT_NEAR(f, 2000.0, 1.5);
}

TEST(Tone, EventsKeepTheirOrder) {
  tone_rig r;
  tone_schedule(&r.ctx, &r.t, HOOK_ENV, 0, 100);
  tone_schedule(&r.ctx, &r.t, HOOK_ENV, 1, 50);
  tone_schedule(&r.ctx, &r.t, HOOK_ENV, 2, 100); // same moment: after the first
  tone_schedule(&r.ctx, &r.t, HOOK_AMP, 0, 0);
  std::vector<std::pair<int, int>> got;
  for (const hook *h = r.t.events; h; h = h->next)
    got.push_back({h->idx + 10 * h->kind, h->dt});
  const std::vector<std::pair<int, int>> want = {{30, 0}, {1, 50}, {0, 50}, {2, 0}};
  EXPECT_EQ(got, want);
  int due = -1;
  EXPECT_TRUE(tone_unschedule(&r.ctx, &r.t, HOOK_ENV, 1, &due));
  EXPECT_EQ(due, 50);
  EXPECT_EQ(r.t.events->next->dt, 100); // its time went to the next one
  EXPECT_FALSE(tone_unschedule(&r.ctx, &r.t, HOOK_LFO, 1, &due));
}

} // namespace
