// The effects' fast paths give the bits of the plain ones: the AVX2
// kernels those of the portable code, and a silent stretch skipped at rest
// exactly what processing every frame of it gives.  Each case runs two
// instances on the same input in the same blocks with the same control
// changes: one as started (vector kernels where the processor has them,
// rest allowed) and one started with the portable code and never resting.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

#include "chorus/cho.h"
#include "fx_rig.h"
#include "rev/rev.h"
#include "saturator/sat.h"
#include "utils/cpu.h"

namespace {

struct lcg {
  std::uint32_t s;
  std::uint32_t next() { return s = s * 1664525u + 1013904223u; }
  int below(int n) { return static_cast<int>((next() >> 8) % static_cast<unsigned>(n)); }
};

// Stretches of noise, a sine, lone impulses and silence (some long enough
// for the effect to come to rest), at levels from quiet to far beyond full
// scale; the right side differs from the left in some stretches.
std::pair<buf, buf> scene_input(lcg &g, std::size_t frames, std::size_t long_silence) {
  buf l(frames, 0), r(frames, 0);
  std::size_t at = 0;
  while (at < frames) {
    const int kind = g.below(5);
    std::size_t len = 1 + g.below(4000);
    if (kind == 4 && g.below(2))
      len = long_silence + g.below(4000);
    const std::int64_t amp = g.below(6) == 0 ? INT64_C(1) << 31 : 1 + g.below(1 << 27);
    const bool same = g.below(2);
    std::uint32_t phase = g.next();
    for (std::size_t i = at; i < std::min(frames, at + len); ++i) {
      std::int64_t a = 0, b = 0;
      if (kind == 0) {
        a = static_cast<std::int32_t>(g.next()) * amp >> 31;
        b = static_cast<std::int32_t>(g.next()) * amp >> 31;
      } else if (kind == 1) {
        phase += 30000000;
        a = b = static_cast<std::int32_t>(phase) * amp >> 31;
      } else if (kind == 2 && g.below(300) == 0) {
        a = amp - 1;
        b = -a;
      }
      l[i] = static_cast<std::int32_t>(a);
      r[i] = static_cast<std::int32_t>(same ? a : b);
    }
    at += len;
  }
  return {l, r};
}

struct control {
  int ctl, lo, hi; // values drawn from lo ... hi; ctl -1: reset
};

// Runs a scene through a fast and a plain instance and compares every
// output frame; `settle` gives the controls set before the scene (decay
// short enough for the tail to end within the silences).  Returns how many
// blocks the fast instance began at rest.
// How a test sees an instance's rest: whether it rests now, and how to
// keep it from resting.
template <class Rec> bool resting(const void *inst) { return static_cast<const Rec *>(inst)->idle; }
template <class Rec> void no_rest(void *inst) {
  static_cast<Rec *>(inst)->rest = 0;
  static_cast<Rec *>(inst)->idle = 0;
}
template <> bool resting<cho_inst>(const void *inst) {
  auto *c = static_cast<const cho_inst *>(inst);
  return c->quiet >= c->reach;
}
template <> void no_rest<cho_inst>(void *inst) { static_cast<cho_inst *>(inst)->rest = 0; }

template <class Rec>
int compare_paths(const orka_module &m, int rateidx, std::uint32_t seed, std::size_t frames,
                  std::size_t long_silence, const ctl_list &settle,
                  const std::vector<control> &moves, const std::string &name) {
  effect fast(m, rateidx, settle), plain(m, rateidx, settle, true);
  no_rest<Rec>(plain.inst);
  lcg g{seed};
  auto [l, r] = scene_input(g, frames, long_silence);
  buf fl(frames, 0), fr(frames, 0), pl(frames, 0), pr(frames, 0);
  int rests = 0;
  for (std::size_t at = 0; at < frames;) {
    const int n = static_cast<int>(std::min<std::size_t>(frames - at, 1 + g.below(g.below(4) ? 700 : 9)));
    if (g.below(40) == 0 && !moves.empty()) {
      const control &c = moves[g.below(static_cast<int>(moves.size()))];
      const int v = c.lo + g.below(c.hi - c.lo + 1);
      for (effect *e : {&fast, &plain})
        c.ctl < 0 ? e->m.reset(e->inst) : e->m.onctl(e->inst, c.ctl, v);
    }
    rests += resting<Rec>(fast.inst);
    std::int32_t *in[2] = {l.data() + at, r.data() + at};
    std::int32_t *fo[2] = {fl.data() + at, fr.data() + at}, *po[2] = {pl.data() + at, pr.data() + at};
    fast.m.run(fast.inst, in, fo, n);
    plain.m.run(plain.inst, in, po, n);
    for (int i = 0; i < n; ++i)
      if (fl[at + i] != pl[at + i] || fr[at + i] != pr[at + i]) {
        ADD_FAILURE() << name << ": frame " << at + i << ": " << fl[at + i] << ", " << fr[at + i]
                      << " against " << pl[at + i] << ", " << pr[at + i];
        return rests;
      }
    at += n;
  }
  return rests;
}

} // namespace

TEST(FxPaths, SaturatorFastPathsGiveThePlainBits) {
  if (!cpu_avx2())
    GTEST_LOG_(INFO) << "no AVX2 here: only skipping at rest is compared";
  const std::vector<control> moves = {{0, 0, 127}, {1, 0, 127}, {2, 0, 127}, {3, 0, 127}, {4, 0, 14}};
  struct row {
    int rateidx;
    ctl_list settle;
  } rows[] = {
      {8, {}},
      {0, {{1, 1}, {2, 1}, {3, 1}, {4, 12}}},                   // slowest filters
      {14, {{1, 0}, {2, 127}, {3, 127}, {4, 2}, {0, 127}}},     // filters open
      {3, {{1, 127}, {2, 127}, {3, 0}, {4, 14}}},               // extreme poles
  };
  int k = 0;
  for (const auto &r : rows) {
    const std::string name = "sat row " + std::to_string(k);
    const int rests =
        compare_paths<sat_inst>(SAT_MODULE, r.rateidx, 77 + k++, 400000, 20000, r.settle, moves, name);
    EXPECT_GT(rests, 0) << name << ": never at rest";
  }
}

// A state that no longer changes under silent input is found: after a
// burst and a silence of the filters' settling time, the saturator rests
// and a silent block leaves its output buffer alone.
TEST(FxPaths, SaturatorComesToRestAfterABurst) {
  effect s(SAT_MODULE, 8, {});
  buf in(48000, 0), out(48000, 5);
  for (int i = 0; i < 4800; ++i)
    in[i] = (i / 50) % 2 ? 1 << 26 : -(1 << 26);
  std::int32_t *ip = in.data(), *op = out.data();
  SAT_MODULE.run(s.inst, &ip, &op, 48000);
  EXPECT_EQ(static_cast<sat_inst *>(s.inst)->idle, 1);
  EXPECT_EQ(out.back(), 5);
}

TEST(FxPaths, ReverbFastPathsGiveThePlainBits) {
  if (!cpu_avx2())
    GTEST_LOG_(INFO) << "no AVX2 here: only skipping at rest is compared";
  // Every control moves (the decay within short tails, so that the tail
  // ends within the long silences), and now and then a reset.
  const std::vector<control> moves = {{0, 0, 1},  {1, 0, 127}, {2, 0, 127}, {3, 0, 2},  {4, 0, 16},
                                      {5, 0, 4},  {6, 0, 30},  {7, 0, 127}, {8, 0, 127}, {-1, 0, 0}};
  struct row {
    int rateidx;
    ctl_list settle;
  } rows[] = {
      {8, {{6, 0}}},
      {0, {{3, 2}, {6, 10}, {7, 127}, {8, 90}}}, // large, undamped, lo-cut
      {14, {{3, 0}, {6, 0}, {1, 127}, {2, 127}}},
      {6, {{0, 1}, {6, 20}, {4, 0}, {5, 4}}}, // bypassed, far left and back
  };
  int k = 0;
  for (const auto &r : rows) {
    const std::string name = "rev row " + std::to_string(k);
    const std::size_t fs = ORKA_RATES[r.rateidx];
    const int rests =
        compare_paths<rev_inst>(REV_MODULE, r.rateidx, 91 + k++, 8 * fs, 3 * fs / 2, r.settle, moves, name);
    EXPECT_GT(rests, 0) << name << ": never at rest";
  }
}

// The chorus rests as soon as its taps can reach nothing but zeros.
TEST(FxPaths, ChorusSkipsSilenceExactly) {
  const std::vector<control> moves = {{0, 0, 127}};
  for (int rateidx : {0, 8, 14}) {
    const std::string name = "cho at rate " + std::to_string(rateidx);
    const std::size_t fs = ORKA_RATES[rateidx];
    EXPECT_GT(compare_paths<cho_inst>(CHO_MODULE, rateidx, 5 + rateidx, 4 * fs, fs / 10, {}, moves, name), 0)
        << name << ": never at rest";
  }
}

// At rest the reverb still stores its outputs: a silent block overwrites
// what the output buffers held with zeros.
TEST(FxPaths, RestingReverbStoresSilence) {
  effect rv(REV_MODULE, 8, {{6, 0}});
  buf in(96000, 0), l(96000, 0), r(96000, 0);
  for (int i = 0; i < 4800; ++i)
    in[i] = (i / 50) % 2 ? 1 << 26 : -(1 << 26);
  std::int32_t *ip[2] = {in.data(), in.data()}, *op[2] = {l.data(), r.data()};
  REV_MODULE.run(rv.inst, ip, op, 96000);
  ASSERT_EQ(static_cast<rev_inst *>(rv.inst)->idle, 1);
  l.assign(512, 9);
  r.assign(512, -9);
  ip[0] = ip[1] = in.data() + 90000; // the input's silent part
  REV_MODULE.run(rv.inst, ip, op, 512);
  for (int i = 0; i < 512; ++i)
    ASSERT_TRUE(l[i] == 0 && r[i] == 0) << i;
}

// Rest needs every value of the state at 0: one value left anywhere in a
// line, a stage ring (both copies), a filter or the lo-cut keeps the reverb
// processing at the next segment start.
TEST(FxPaths, ReverbRestsOnlyWhenEveryValueIsZero) {
  using poke = void (*)(rev_inst *, int);
  struct row {
    const char *name;
    poke set;
    int count; // variants (line, stage and side index)
  } rows[] = {
      {"line ring, last slot", [](rev_inst *r, int k) { r->line[k / 2].buf[k % 2][r->line[k / 2].size[k % 2] - 1] = 3; }, 32},
      {"line ring, first slot", [](rev_inst *r, int k) { r->line[k / 2].buf[k % 2][0] = -3; }, 32},
      {"line filter", [](rev_inst *r, int k) { r->line[k / 2].filt[k % 2].lp = 1; }, 32},
      {"stage ring",
       [](rev_inst *r, int k) {
         rev_stage &s = r->stage[k / 2];
         s.buf[k % 2][s.size - 1] = s.buf[k % 2][2 * s.size - 1] = 2;
       },
       6},
      {"stage filter", [](rev_inst *r, int k) { r->stage[1 + k / 2].filt[k % 2].lp = -1; }, 4},
      {"lo-cut state", [](rev_inst *r, int k) { r->lc_state[k] = 1; }, 2},
      {"lo-cut input", [](rev_inst *r, int k) { r->lc_prev[k] = 1; }, 2},
  };
  for (const auto &rw : rows)
    for (int k = 0; k < rw.count; ++k) {
      effect rv(REV_MODULE, 8, {{6, 0}});
      auto *r = static_cast<rev_inst *>(rv.inst);
      buf in(1, 0), l(1), rr(1);
      std::int32_t *ip[2] = {in.data(), in.data()}, *op[2] = {l.data(), rr.data()};
      REV_MODULE.run(rv.inst, ip, op, 1); // the pending reset: at rest
      ASSERT_EQ(r->idle, 1);
      r->idle = 0;
      r->seg = 0; // the next frame starts a segment
      rw.set(r, k);
      REV_MODULE.run(rv.inst, ip, op, 1);
      EXPECT_EQ(r->idle, 0) << rw.name << " " << k;
    }
}
