// The reverb: what it does to sound, its controls and its settings text.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <vector>

#include "rev/rev.h"
#include "rev/rev_tables.h"
#include "testutil.h"
#include "utils/log.h"

namespace {

constexpr double Q27 = 134217728.0;
enum { C_BYPASS, C_MIX, C_DEPTH, C_MODEL, C_PAN, C_DIST, C_DECAY, C_HIFREQ, C_LOCUT };

// A started reverb with every control at its default, then the changes.
struct reverb {
  void *inst;
  int vals[9];
  explicit reverb(int rateidx = 8, std::initializer_list<std::pair<int, int>> ctls = {}) {
    inst = REV_MODULE.new_(nullptr, nullptr);
    REV_MODULE.start(inst, rateidx, 512);
    for (int i = 0; i < 9; ++i) {
      orka_ctlinfo ci{};
      REV_MODULE.ctlinfo(i, &ci);
      vals[i] = ci.def;
    }
    for (auto &c : ctls)
      vals[c.first] = c.second;
    for (int i = 0; i < 9; ++i)
      REV_MODULE.onctl(inst, i, vals[i]);
    REV_MODULE.reset(inst);
  }
  ~reverb() {
    REV_MODULE.stop(inst);
    REV_MODULE.del(inst);
  }
  rev_inst *rec() { return static_cast<rev_inst *>(inst); }
  // Renders left and right inputs; returns left and right.
  std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>>
  run(const std::vector<std::int32_t> &inl, const std::vector<std::int32_t> &inr, int block = 512) {
    std::vector<std::int32_t> l(inl.size()), r(inl.size());
    for (std::size_t at = 0; at < inl.size(); at += block) {
      int n = static_cast<int>(std::min<std::size_t>(block, inl.size() - at));
      std::int32_t *ip[2] = {const_cast<std::int32_t *>(inl.data() + at),
                             const_cast<std::int32_t *>(inr.data() + at)};
      std::int32_t *op[2] = {l.data() + at, r.data() + at};
      REV_MODULE.run(inst, ip, op, n);
    }
    return {l, r};
  }
  // The same input on both sides, as the synthesizer sends it.
  std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>>
  run(const std::vector<std::int32_t> &in, int block = 512) {
    return run(in, in, block);
  }
};

// An impulse on one side (0 left, 1 right) followed by silence.
std::vector<std::int32_t> impulse(std::size_t n, std::int32_t amp) {
  std::vector<std::int32_t> v(n, 0);
  v[0] = amp;
  return v;
}

double energy(const std::vector<std::int32_t> &x, std::size_t from, std::size_t to) {
  double e = 0;
  for (std::size_t i = from; i < to; ++i)
    e += static_cast<double>(x[i]) * x[i];
  return e;
}

// Decay rate in dB per second from an impulse response: backward-integrated
// energy, a line fitted between -5 and -35 dB.
double decay_db_per_s(const std::vector<std::int32_t> &h, double rate) {
  std::vector<double> e(h.size());
  double acc = 0;
  for (std::size_t i = h.size(); i-- > 0;) {
    acc += static_cast<double>(h[i]) * h[i];
    e[i] = acc;
  }
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int n = 0;
  for (std::size_t i = 0; i < h.size(); ++i) {
    double db = 10 * std::log10(e[i] / e[0]);
    if (db > -5 || db < -35)
      continue;
    double t = i / rate;
    sx += t, sy += db, sxx += t * t, sxy += t * db, ++n;
  }
  return -(n * sxy - sx * sy) / (n * sxx - sx * sx);
}

} // namespace

TEST(Reverb, Descriptor) {
  orka_info info{};
  REV_MODULE.info(&info);
  EXPECT_EQ(info.nctls, 9);
  EXPECT_STREQ(info.preset, "Default");
  EXPECT_EQ(info.tail_ms, 8000);
  EXPECT_STREQ(info.product, "Room");
  EXPECT_EQ(info.ver_major * 100 + info.ver_minor * 10 + info.ver_patch, 158);
  char t[ORKA_TEXTLEN] = "";
  REV_MODULE.selinfo(C_PAN, 8, t);
  EXPECT_STREQ(t, "center");
  REV_MODULE.selinfo(C_DIST, 4, t);
  EXPECT_STREQ(t, "d200");
  EXPECT_EQ(REV_MODULE.midi, nullptr);
}

TEST(Reverb, SilenceAfterResetIsExactZero) {
  reverb r;
  auto out = r.run(std::vector<std::int32_t>(20000, 0));
  for (std::size_t i = 0; i < out.first.size(); ++i) {
    ASSERT_EQ(out.first[i], 0) << i;
    ASSERT_EQ(out.second[i], 0) << i;
  }
}

TEST(Reverb, MixZeroIsTheDirectPathOnly) {
  reverb r(8, {{C_MIX, 0}});
  std::vector<std::int32_t> in(8000);
  for (std::size_t i = 0; i < in.size(); ++i)
    in[i] = static_cast<std::int32_t>(0.5 * Q27 * std::sin(i * 0.01)) + (i % 13 == 0 ? 1000000 : 0);
  auto out = r.run(in);
  // centre, distance 0: left to left and right to right; both inputs equal
  for (std::size_t i = 3000; i < in.size(); ++i) {
    ASSERT_NEAR(out.first[i], in[i], 8) << i;
    ASSERT_NEAR(out.second[i], in[i], 8) << i;
  }
}

TEST(Reverb, BypassPassesTheInputExactly) {
  reverb r(8, {{C_BYPASS, 1}});
  std::vector<std::int32_t> in(12000);
  for (std::size_t i = 0; i < in.size(); ++i)
    in[i] = static_cast<std::int32_t>(0.7 * Q27 * std::sin(i * 0.003));
  auto out = r.run(in);
  for (std::size_t i = 3000; i < in.size(); ++i)
    ASSERT_EQ(out.first[i], in[i]) << i;
  // and back: after one more segment the input no longer comes through alone
  REV_MODULE.onctl(r.inst, C_BYPASS, 0);
  auto out2 = r.run(in);
  int differ = 0;
  for (std::size_t i = 6000; i < in.size(); ++i)
    differ += out2.first[i] != in[i];
  EXPECT_GT(differ, 5000);
}

TEST(Reverb, TailFalls80DbPerDecayTime) {
  for (int rateidx : {8, 7}) {
    for (int decay : {32, 64, 96}) {
      reverb r(rateidx, {{C_MIX, 127}, {C_DEPTH, 127}, {C_HIFREQ, 127}, {C_DECAY, decay}});
      const double rate = ORKA_RATES[rateidx];
      const double t60 = REV_TEXT_DECAY[decay].value;
      std::vector<std::int32_t> in(static_cast<std::size_t>(rate * t60 * 0.8), 0);
      in[0] = 1 << 26;
      auto out = r.run(in);
      double rate_db = decay_db_per_s(out.first, rate);
      EXPECT_NEAR(rate_db, 80.0 / t60, 0.15 * 80.0 / t60) << rateidx << " decay " << decay;
    }
  }
}

TEST(Reverb, LevelsSplitUnitEnergy) {
  testutil::log_capture cap(2);
  for (int mix : {0, 40, 83, 127})
    for (int depth : {0, 27, 127})
      for (int rec : {0, 40, 99, 254}) {
        rev_inst r{};
        r.mix = mix;
        r.depth = depth;
        r.room = REV_ROOMS[rec];
        rev_level lv = rev_levels(&r);
        double tot = (double(lv.dir) * lv.dir + double(lv.ref) * lv.ref + double(lv.dif) * lv.dif) / Q27 / Q27;
        EXPECT_NEAR(tot, 1.0, 1e-4) << mix << " " << depth << " " << rec;
        if (mix == 0) {
          EXPECT_EQ(lv.dir, 134217728);
        }
      }
  rev_inst r{};
  r.mix = 83, r.depth = 27, r.room = REV_ROOMS[40];
  rev_level lv = rev_levels(&r);
  EXPECT_NEAR(lv.dir / Q27, 0.4938, 0.001);
  EXPECT_NEAR(lv.ref / Q27, 0.8300, 0.001);
  EXPECT_NEAR(lv.dif / Q27, 0.2594, 0.001);
  // the logged total reads as 1.0 up to rounding
  conv_register(conv_fp, "fp:%u,%d");
  cap.clear();
  rev_levels(&r);
  conv_unregister(conv_fp);
  ASSERT_EQ(cap.lines().size(), 1u);
  const std::string &line = cap.lines()[0];
  std::size_t at = line.find("tot = ");
  ASSERT_NE(at, std::string::npos) << line;
  EXPECT_NEAR(std::atof(line.c_str() + at + 6), 1.0, 1e-4) << line;
  EXPECT_NE(line.find("dist_corr: 1 -> 1"), std::string::npos) << line;
}

TEST(Reverb, RoomChangesDoNotJump) {
  reverb r;
  const int n = 48000;
  std::vector<std::int32_t> in(n);
  for (int i = 0; i < n; ++i)
    in[i] = static_cast<std::int32_t>(0.5 * Q27 * std::sin(2 * std::numbers::pi * 220.0 * i / 48000));
  auto warm = r.run(in);
  std::int32_t prev = warm.first.back();
  std::int32_t maxstep = 0;
  for (auto [ctl, val] : std::initializer_list<std::pair<int, int>>{{C_MODEL, 2}, {C_PAN, 0}, {C_DIST, 4}, {C_MODEL, 0}}) {
    REV_MODULE.onctl(r.inst, ctl, val);
    auto out = r.run(std::vector<std::int32_t>(in.begin(), in.begin() + 12000));
    for (auto v : out.first) {
      maxstep = std::max(maxstep, std::abs(v - prev));
      prev = v;
    }
  }
  // a 220 Hz sine of 0.5 moves at most 0.5 * 2 pi * 220 / 48000 = 0.0144 per sample
  EXPECT_LT(maxstep / Q27, 0.05);
}

TEST(Reverb, ValueTexts) {
  char t[ORKA_TEXTLEN];
  struct {
    int ctl, val;
    const char *text;
  } shown[] = {{C_DECAY, 64, "1.00 s"}, {C_LOCUT, 0, "Disabled"}, {C_PAN, 8, "0% (Center)"},
               {C_BYPASS, 1, "1"},      {C_MODEL, 2, "Large"},     {C_MIX, 127, "100.00%"}};
  for (auto &s : shown) {
    REV_MODULE.printval(s.ctl, s.val, t);
    EXPECT_STREQ(t, s.text);
  }
  struct {
    int ctl;
    const char *text;
    int ok, val;
  } read[] = {{C_DECAY, "1.0", 1, 64}, {C_DECAY, "10", 1, 127}, {C_MODEL, "LARGE", 1, 2},
              {C_MODEL, "M", 1, 1},    {C_MODEL, "Medium", 1, 1}, {C_MODEL, "", 0, -1},
              {C_MODEL, "huge", 0, -1}, {C_BYPASS, "7", 1, 1},    {C_BYPASS, "x", 0, -1},
              {C_MIX, "50", 1, 64},    {C_PAN, "-100", 1, 0},     {C_LOCUT, "0", 1, 0}};
  for (auto &r : read) {
    int v = -1;
    EXPECT_EQ(REV_MODULE.scanval(r.ctl, &v, r.text), r.ok) << r.text;
    EXPECT_EQ(v, r.val) << r.text;
  }
}

TEST(Reverb, DumpAndRestore) {
  int vals[9] = {1, 100, 12, 2, 3, 4, 50, 127, 77};
  std::size_t n = REV_MODULE.print(nullptr, "Hall \"A\"", vals, nullptr);
  std::string text(n, '\0');
  REV_MODULE.print(nullptr, "Hall \"A\"", vals, text.data());
  EXPECT_NE(text.find("model = large\npan = l125\ndist = d200\n"), std::string::npos) << text;
  char name[ORKA_TEXTLEN];
  int back[9];
  EXPECT_EQ(REV_MODULE.scan(nullptr, name, back, text.data(), text.size()), text.size());
  EXPECT_STREQ(name, "Hall \"A\"");
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(back[i], vals[i]) << i;

  std::string aliases = "pan = left\ndist = far\n";
  EXPECT_EQ(REV_MODULE.scan(nullptr, name, back, aliases.data(), aliases.size()), aliases.size());
  EXPECT_STREQ(name, "Default");
  EXPECT_EQ(back[C_PAN], 4);
  EXPECT_EQ(back[C_DIST], 4);
  EXPECT_EQ(back[C_MIX], 83);

  testutil::log_capture cap(1);
  std::string bad = "model = Large\n";
  EXPECT_EQ(REV_MODULE.scan(nullptr, name, back, bad.data(), bad.size()), 0u);
  EXPECT_TRUE(cap.has("model: Large: bad value"));
  std::string unknown = "color = red\nmix = 5\n";
  EXPECT_EQ(REV_MODULE.scan(nullptr, name, back, unknown.data(), unknown.size()), unknown.size());
  EXPECT_TRUE(cap.has("rev_restore: color: ignored unknown setting"));
  EXPECT_EQ(back[C_MIX], 5);
}

TEST(Reverb, OutOfRangeValuesAreClamped) {
  reverb r(8, {{C_MODEL, 7}, {C_PAN, -3}, {C_DIST, 99}});
  EXPECT_EQ(r.rec()->room, REV_ROOMS[(2 * 17 + 0) * 5 + 4]);
  auto out = r.run(std::vector<std::int32_t>(1000, 1 << 20));
  EXPECT_NE(out.first[999], 0);
}

TEST(Reverb, SegmentsAtEveryRate) {
  for (int rateidx : {0, 7, 8, 14}) {
    reverb r(rateidx);
    r.run(std::vector<std::int32_t>(1, 0));
    EXPECT_EQ(r.rec()->seg, ORKA_RATES[rateidx] / 16 - 1);
  }
}

TEST(Reverb, EveryValueOfEveryControlRoundTrips) {
  for (int ctl = 0; ctl < 9; ++ctl) {
    orka_ctlinfo ci{};
    REV_MODULE.ctlinfo(ctl, &ci);
    for (int v = 0; v < ci.nvals; ++v) {
      int vals[9] = {0, 83, 27, 1, 8, 0, 82, 83, 0};
      vals[ctl] = v;
      std::size_t n = REV_MODULE.print(nullptr, "p", vals, nullptr);
      std::string text(n, '\0');
      REV_MODULE.print(nullptr, "p", vals, text.data());
      char name[ORKA_TEXTLEN];
      int back[9];
      ASSERT_EQ(REV_MODULE.scan(nullptr, name, back, text.data(), n), n) << ctl << " " << v;
      ASSERT_EQ(back[ctl], v) << ctl;
      // and the value text reads back to the same value
      char t[ORKA_TEXTLEN];
      REV_MODULE.printval(ctl, v, t);
      int got = -1;
      ASSERT_EQ(REV_MODULE.scanval(ctl, &got, t), 1) << ctl << " " << t;
      if (ctl != C_MIX && ctl != C_DEPTH && ctl != C_DECAY && ctl != C_HIFREQ && ctl != C_LOCUT) {
        EXPECT_EQ(got, v) << ctl << " " << t;
      } else {
        EXPECT_NEAR(got, v, 2) << ctl << " " << t; // texts are rounded displays
      }
    }
  }
}

TEST(Reverb, ZeroFramesApplyPendingWorkAndOutputIsStored) {
  reverb r;
  REV_MODULE.onctl(r.inst, C_DECAY, 10);
  EXPECT_NE(r.rec()->dirty, 0);
  std::int32_t dummy = 77;
  std::int32_t *ip[2] = {&dummy, &dummy}, *op[2] = {&dummy, &dummy};
  REV_MODULE.run(r.inst, ip, op, 0);
  EXPECT_EQ(r.rec()->dirty, 0);
  EXPECT_EQ(dummy, 77);
  // output buffers are overwritten, not added to
  std::vector<std::int32_t> in(100, 0), l(100, 12345), rr(100, 12345);
  std::int32_t *ip2[2] = {in.data(), in.data()}, *op2[2] = {l.data(), rr.data()};
  REV_MODULE.run(r.inst, ip2, op2, 100);
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(l[i], 0);
}

// A stop and a start at another rate without the host sending the controls
// again: the first run recomputes every derived value for the new rate, so
// the instance sounds exactly as one set up afresh at that rate.
TEST(Reverb, RestartAtAnotherRateRecomputesEverything) {
  const std::initializer_list<std::pair<int, int>> ctls = {
      {C_MODEL, 2}, {C_PAN, 3}, {C_DIST, 4}, {C_LOCUT, 60}, {C_DECAY, 100}};
  std::vector<std::int32_t> in(6000);
  for (std::size_t i = 0; i < in.size(); ++i)
    in[i] = static_cast<std::int32_t>(0.4 * Q27 * std::sin(i * 0.07)) + (i % 17 == 0 ? 3000000 : 0);
  for (auto [from, to] : {std::pair{14, 0}, std::pair{0, 14}, std::pair{8, 7}}) {
    reverb r(from, ctls);
    r.run(in);
    REV_MODULE.stop(r.inst);
    REV_MODULE.start(r.inst, to, 512);
    std::int32_t dummy = 0, *p[2] = {&dummy, &dummy};
    REV_MODULE.run(r.inst, p, p, 0); // applies what start left pending
    const rev_inst &ri = *r.rec();
    for (const rev_line &l : ri.line)
      for (int c = 0; c < 2; ++c) {
        ASSERT_LE(l.dly[c].old, l.size[c]) << from << " -> " << to;
        ASSERT_LE(l.dly[c].new_, l.size[c]) << from << " -> " << to;
      }
    for (const rev_tap &t : ri.tap)
      for (const rev_delay &d : t.dly)
        ASSERT_LT(d.old, ri.stage[0].size) << from << " -> " << to;
    reverb fresh(to, ctls);
    EXPECT_EQ(ri.lc_coef, fresh.rec()->lc_coef) << from << " -> " << to;
    EXPECT_EQ(r.run(in), fresh.run(in)) << from << " -> " << to;
  }
}

// The direct sound is never delayed.  Centre and distance 0 pass left to
// left and right to right; elsewhere tap 0's four gains place it: a left
// input L gives mid = side = L / sqrt 2, a right input R gives mid =
// R / sqrt 2 and side = -R / sqrt 2.
TEST(Reverb, DirectSoundOfEachSide) {
  for (int pan : {0, 4, 8, 13, 16})
    for (int dist : {0, 3}) {
      const std::int32_t *tap0 = REV_ROOMS[(1 * 17 + pan) * 5 + dist] + 3;
      const double g0 = tap0[2] / Q27, g1 = tap0[3] / Q27, g2 = tap0[4] / Q27, g3 = tap0[5] / Q27;
      const double a = (1 << 26) / std::sqrt(2.0);
      for (int side = 0; side < 2; ++side) {
        reverb r(8, {{C_MIX, 0}, {C_PAN, pan}, {C_DIST, dist}});
        auto x = impulse(200, 1 << 26), z = std::vector<std::int32_t>(200, 0);
        auto out = side == 0 ? r.run(x, z) : r.run(z, x);
        const double sgn = side == 0 ? 1 : -1;
        EXPECT_NEAR(out.first[0], (g0 + sgn * g2) * a, 4) << "pan " << pan << " dist " << dist << " side " << side;
        EXPECT_NEAR(out.second[0], (g1 + sgn * g3) * a, 4) << "pan " << pan << " dist " << dist << " side " << side;
        if (pan == 8 && dist == 0) { // nothing crosses over
          EXPECT_NEAR(out.first[0], side == 0 ? 1 << 26 : 0, 4);
          EXPECT_NEAR(out.second[0], side == 0 ? 0 : 1 << 26, 4);
        }
      }
    }
}

// Positions p and 16 - p are mirror images: their direct sound and
// reflections swap sides (the tail's lines differ between the sides, so it
// is left out: depth 0 gives it no level).
TEST(Reverb, MirroredPositionsMirrorTheEarlySound) {
  const std::size_t n = 6000;
  std::vector<std::int32_t> a(n), b(n);
  for (std::size_t i = 0; i < n; ++i) {
    a[i] = static_cast<std::int32_t>(0.3 * Q27 * std::sin(i * 0.05)) + (i % 301 == 0 ? 20000000 : 0);
    b[i] = static_cast<std::int32_t>(0.2 * Q27 * std::sin(i * 0.013 + 1)) - (i % 577 == 0 ? 30000000 : 0);
  }
  for (int model : {0, 2})
    for (int pan : {0, 5}) {
      reverb r1(8, {{C_MODEL, model}, {C_PAN, pan}, {C_DIST, 2}, {C_MIX, 100}, {C_DEPTH, 0}});
      reverb r2(8, {{C_MODEL, model}, {C_PAN, 16 - pan}, {C_DIST, 2}, {C_MIX, 100}, {C_DEPTH, 0}});
      auto o1 = r1.run(a, b), o2 = r2.run(b, a);
      double e = 0;
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_NEAR(o1.first[i], o2.second[i], 16) << model << " " << pan << " " << i;
        ASSERT_NEAR(o1.second[i], o2.first[i], 16) << model << " " << pan << " " << i;
        e += std::fabs(double(o1.first[i]) - o1.second[i]);
      }
      EXPECT_GT(e / n, 1e6) << "the two sides differ"; // so the comparison means something
    }
}

// The late tail of one side's input reaches both outputs: lines 8-15 swap
// their channels, so each side's lines carry the other's sound.
TEST(Reverb, LateTailOfOneSideReachesBoth) {
  const std::size_t n = 48000;
  for (int side = 0; side < 2; ++side) {
    reverb r(8, {{C_MIX, 127}, {C_DEPTH, 127}}); // the tail alone
    auto x = impulse(n, 1 << 26), z = std::vector<std::int32_t>(n, 0);
    auto out = side == 0 ? r.run(x, z) : r.run(z, x);
    const double near = energy(side == 0 ? out.first : out.second, 0, n);
    const double far = energy(side == 0 ? out.second : out.first, 0, n);
    EXPECT_GT(near, 0);
    EXPECT_GT(far, 0.5 * near) << "side " << side;
    EXPECT_LT(far, 2.0 * near) << "side " << side;
  }
}

// The shortest line (line 0 of the left channel, 1407 samples at 48000 Hz
// in the small room) echoes at 1407 and, fed back into itself with the
// minus sign of the sign matrix's first row, again at 2814: nothing else
// arrives at those two frames.  Undamped, each pass multiplies by the
// line's gain (negative on even lines).
TEST(Reverb, ShortestLineEchoesThroughTheSignMatrix) {
  reverb r(8, {{C_MODEL, 0}, {C_MIX, 127}, {C_DEPTH, 127}, {C_HIFREQ, 127}});
  const int d = REV_LINES[0][0][0][1 + 8];
  ASSERT_EQ(d, 1407);
  const std::int32_t amp = 1 << 26;
  auto out = r.run(impulse(3 * d, amp), std::vector<std::int32_t>(3 * d, 0));
  const double g = r.rec()->line[0].gain[0].cur / Q27, late = r.rec()->late[0].cur / Q27;
  ASSERT_LT(g, 0);
  EXPECT_NEAR(out.first[d], late * g * amp, 4);
  EXPECT_NEAR(out.first[2 * d], late * g * -1.0 * g * amp, 4);
  EXPECT_LT(out.first[2 * d], 0);
}

// The lo-cut lets the lows of the dry input pass and takes the lows out of
// the processed signal: a 30 Hz tone on the left comes out on the left at
// its own level, and hardly on the right, which only the room feeds.
TEST(Reverb, LoCutPassesDryLowsAndRemovesWetLows) {
  const int rateidx = 3; // 16000 Hz
  const double f = 30.0 / 16000;
  const std::size_t n = 32000;
  std::vector<std::int32_t> l(n), z(n, 0);
  for (std::size_t i = 0; i < n; ++i)
    l[i] = static_cast<std::int32_t>(0.25 * Q27 * std::sin(2 * std::numbers::pi * f * i));
  const double amp = 0.25 * Q27;
  double wet_lows[2];
  for (int lo_cut : {0, 127}) {
    reverb r(rateidx, {{C_MIX, 127}, {C_DEPTH, 127}, {C_DECAY, 0}, {C_LOCUT, lo_cut}});
    auto out = r.run(l, z);
    wet_lows[lo_cut ? 1 : 0] = testutil::amplitude_at(out.second, f, 30);
    if (lo_cut) {
      const double gain = REV_LOCUT[127][rateidx].gain / Q27;
      EXPECT_NEAR(testutil::amplitude_at(out.first, f, 30) / amp, gain, 0.1 * gain);
    }
  }
  EXPECT_GT(wet_lows[0], 0.05 * amp); // the room alone has lows on the right
  EXPECT_LT(wet_lows[1], 0.15 * wet_lows[0]);
}
