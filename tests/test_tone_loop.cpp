// The fast voice loops (portable and AVX2) against the plain frame-by-frame
// loop: the same bits on every bus and the same voice state afterwards,
// over increments from a quarter to the top of the pitch table, glides
// across normal speed, every filter type with moving coefficients, waves
// that end or loop every few samples, start delays, sends on and off,
// loud resonant input and block sizes from 1 up.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tone_rig.h"
#include "utils/alloc.h"
#include "utils/cpu.h"

namespace {

using run_fn = int (*)(const tone_ctx *, tone *, std::int32_t *const[4], int);

struct scene {
  const char *name;
  double semitones;   // pitch above the map's
  int filt;           // FILT_*
  int wavelen, loop;  // wave length and loop length (0: plays once)
  double lfo;         // pitch LFO depth in semitones (0: none)
  double glide;       // pitch envelope attack level in semitones (0: none)
  int delay;          // start delay in frames
  bool sends;
  int amp;            // wave amplitude
};

struct result {
  std::vector<std::int32_t> bus[4];
  int alive = 1, frames = 0;
  tone end{};
};

// Plays a scene through run in blocks of the given size.
result play(const scene &sc, run_fn run, int block, int frames) {
  tone_rig r;
  std::vector<std::int16_t> w(static_cast<std::size_t>(sc.wavelen));
  for (int i = 0; i < sc.wavelen; ++i) // two partials, so every tap matters
    w[i] = static_cast<std::int16_t>(std::lround(sc.amp * (0.7 * std::sin(i * 0.0931) + 0.3 * std::sin(i * 1.71))));
  r.set_wave(w, sc.loop);
  r.par(PAR_PITCH) = static_cast<std::int32_t>(std::lround((64 + sc.semitones) * Q20));
  r.par(PAR_CUT) = 70 * Q20;
  r.par(PAR_RES) = 90 * Q20;
  // A cut-off envelope and a resonance LFO keep both coefficients moving.
  r.par(PAR_CUT + MOD_ILEVEL) = -30 * Q20;
  r.par(PAR_CUT + MOD_ALEVEL) = 20 * Q20;
  r.par(PAR_CUT + MOD_ATIME) = 60 * Q20;
  r.par(PAR_RES + MOD_LFO) = 20 * Q20;
  r.par(PAR_RES + MOD_LFOTIME) = 40 * Q20;
  r.par(PAR_PAN + MOD_LFO) = 30 * Q20;
  r.par(PAR_PAN + MOD_LFOTIME) = 50 * Q20;
  if (sc.lfo != 0) {
    r.par(PAR_PITCH + MOD_LFO) = static_cast<std::int32_t>(std::lround(sc.lfo * Q20));
    r.par(PAR_PITCH + MOD_LFOTIME) = 45 * Q20;
  }
  if (sc.glide != 0) {
    r.par(PAR_PITCH + MOD_ILEVEL) = static_cast<std::int32_t>(std::lround(sc.glide * Q20));
    r.par(PAR_PITCH + MOD_ALEVEL) = 0;
    r.par(PAR_PITCH + MOD_ATIME) = 58 * Q20;
  }
  tone_setfilt(&r.t, sc.filt);
  if (sc.sends)
    r.t.revgain = 3 << 24, r.t.chogain = 5 << 24;
  r.t.delay = sc.delay;
  rnd_state = 12345;
  r.start();
  result out;
  std::vector<std::int32_t> b[4];
  std::int32_t *p[4];
  for (int k = 0; k < 4; ++k) {
    b[k].resize(static_cast<std::size_t>(block));
    p[k] = b[k].data();
  }
  while (out.frames < frames && out.alive) {
    const int n = std::min(block, frames - out.frames);
    for (int k = 0; k < 4; ++k) // something already on the buses
      for (int i = 0; i < n; ++i)
        b[k][i] = (i * 7919 + k * 104729) % 65536 - 32768;
    out.alive = run(&r.ctx, &r.t, p, n);
    for (int k = 0; k < 4; ++k)
      out.bus[k].insert(out.bus[k].end(), b[k].begin(), b[k].begin() + n);
    out.frames += n;
  }
  out.end = r.t;
  return out;
}

// The voice fields the loop keeps between blocks.
void same_state(const tone &a, const tone &b, const std::string &what) {
  EXPECT_EQ(a.pos, b.pos) << what;
  EXPECT_EQ(a.phase, b.phase) << what;
  EXPECT_EQ(a.ringpos, b.ringpos) << what;
  // The ring's 511 newest samples, in both copies; the slot in front of
  // the newest may hold the next sample already.
  for (int j = 0; j < TONE_RING - 1; ++j) {
    const int ia = (a.ringpos + j) % TONE_RING, ib = (b.ringpos + j) % TONE_RING;
    ASSERT_EQ(a.ring[ia], b.ring[ib]) << what << ", sample " << j;
    ASSERT_EQ(a.ring[ia + TONE_RING], b.ring[ib + TONE_RING]) << what << ", copy of sample " << j;
  }
  EXPECT_EQ(a.fa, b.fa) << what;
  EXPECT_EQ(a.fb, b.fb) << what;
  EXPECT_EQ(a.fp, b.fp) << what;
  EXPECT_EQ(a.fq, b.fq) << what;
  EXPECT_EQ(a.inc, b.inc) << what;
  EXPECT_EQ(a.gainl, b.gainl) << what;
  EXPECT_EQ(a.gainr, b.gainr) << what;
  EXPECT_EQ(a.filtf, b.filtf) << what;
  EXPECT_EQ(a.filtq, b.filtq) << what;
  EXPECT_EQ(a.delay, b.delay) << what;
}

TEST(ToneLoop, FastLoopsMatchThePlainLoop) {
  const scene scenes[] = {
      // name, semis, filter, wave, loop, lfo, glide, delay, sends, amp
      {"quarter speed", -24, FILT_LOWPASS, 3000, 3000, 0, 0, 0, true, 20000},
      {"half speed, filter off", -12, FILT_OFF, 3000, 3000, 0, 0, 0, true, 20000},
      {"just below normal", -0.01, FILT_HIGHPASS, 3000, 3000, 0, 0, 0, false, 20000},
      {"normal speed", 0, FILT_BANDPASS, 3000, 3000, 0, 0, 0, true, 20000},
      {"just above normal", 0.01, FILT_BANDREJ, 3000, 3000, 0, 0, 0, true, 20000},
      {"fifth up", 7, FILT_PEAK, 3000, 3000, 0, 0, 0, true, 20000},
      {"two octaves", 24, FILT_LOWPASS, 30000, 30000, 0, 0, 0, true, 20000},
      {"five octaves", 60, FILT_LOWPASS, 90000, 90000, 0, 0, 0, false, 20000},
      {"top of the table", 80, FILT_OFF, 90000, 90000, 0, 0, 0, true, 20000},
      {"vibrato across normal speed", 0, FILT_LOWPASS, 3000, 3000, 1.5, 0, 0, true, 20000},
      {"vibrato far above", 19, FILT_LOWPASS, 30000, 30000, 2, 0, 0, true, 20000},
      {"glide down through normal speed", -5, FILT_LOWPASS, 3000, 3000, 0, 17, 0, true, 20000},
      {"glide up through normal speed", 5, FILT_PEAK, 3000, 3000, 0, -17, 0, true, 20000},
      {"short loop", -3, FILT_LOWPASS, 400, 7, 0, 0, 0, true, 20000},
      {"one-sample loop, fast", 14, FILT_LOWPASS, 50, 1, 0, 0, 0, true, 20000},
      {"plays once, ends in a block", -7, FILT_LOWPASS, 1500, 0, 0, 0, 0, true, 20000},
      {"plays once, fast", 19, FILT_LOWPASS, 5000, 0, 0, 0, 0, true, 20000},
      {"start delay", -2, FILT_LOWPASS, 3000, 3000, 0.5, 0, 333, true, 20000},
      {"loud and resonant", -1, FILT_LOWPASS, 3000, 3000, 0, 0, 0, true, 32767},
  };
  std::vector<std::pair<const char *, run_fn>> fast = {{"portable", tone_run_portable}};
  if (cpu_avx2())
    fast.push_back({"avx2", tone_run_avx2});
  for (const scene &sc : scenes)
    for (const int block : {1, 7, 64, 256, 1000}) {
      const int frames = block == 1 ? 3000 : 12000;
      const result want = play(sc, tone_run_plain, block, frames);
      for (const auto &[kind, run] : fast) {
        const std::string what = std::string(sc.name) + ", " + kind + ", block " + std::to_string(block);
        const result got = play(sc, run, block, frames);
        ASSERT_EQ(want.frames, got.frames) << what;
        EXPECT_EQ(want.alive, got.alive) << what;
        for (int k = 0; k < 4; ++k)
          ASSERT_EQ(want.bus[k], got.bus[k]) << what << ", bus " << k;
        if (want.alive) // an ended voice is deleted as it is
          same_state(want.end, got.end, what);
      }
    }
}

// The scenes above sound: a loop that matched silence would match too.
TEST(ToneLoop, ScenesAreAudible) {
  const scene sc{"normal speed", 0, FILT_LOWPASS, 3000, 3000, 0, 0, 0, true, 20000};
  const result r = play(sc, tone_run_portable, 256, 4096);
  double e = 0;
  for (int i = 0; i < r.frames; ++i)
    e += std::abs(double(r.bus[0][i] - ((i % 256) * 7919 % 65536 - 32768)));
  EXPECT_GT(e / r.frames, 1e5);
}

} // namespace
