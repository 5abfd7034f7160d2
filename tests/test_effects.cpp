// What the three effects share: nothing happens outside start ... stop,
// loud input stays defined, and silence in ends in exact zeros out.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "chorus/cho.h"
#include "fx_rig.h"
#include "rev/rev.h"
#include "rev/rev_tables.h"
#include "saturator/sat.h"
#include "saturator/sat_tables.h"

namespace {


constexpr std::int32_t FS = 1 << 27; // full scale

struct case_row {
  const char *name;
  const orka_module *mod;
  int rateidx;
  ctl_list ctls;
};

enum { C_MIX = 1, C_DEPTH = 2, C_MODEL = 3, C_DECAY = 6, C_HIFREQ = 7, C_LOCUT = 8 };

// A reproducible noise burst, different on the two sides.
std::pair<buf, buf> noise(std::size_t n, std::size_t burst, std::int32_t amp) {
  buf l(n, 0), r(n, 0);
  std::uint32_t s = 12345;
  for (std::size_t i = 0; i < burst; ++i) {
    s = s * 1664525u + 1013904223u;
    l[i] = static_cast<std::int32_t>((static_cast<std::int64_t>(s >> 8) - (1 << 23)) * amp >> 23);
    s = s * 1664525u + 1013904223u;
    r[i] = static_cast<std::int32_t>((static_cast<std::int64_t>(s >> 8) - (1 << 23)) * amp >> 24);
  }
  return {l, r};
}

} // namespace

TEST(Effects, RunOutsideStartAndStopDoesNothing) {
  struct row {
    const char *name;
    const orka_module *mod;
    bool after_stop; // the saturator's stop keeps it running
  } rows[] = {{"rev", &REV_MODULE, true}, {"cho", &CHO_MODULE, true}, {"sat", &SAT_MODULE, false}};
  for (const auto &r : rows) {
    const orka_module &m = *r.mod;
    orka_info info{};
    m.info(&info);
    buf in(256, FS / 2), l(256, 77), rr(256, -77);
    std::int32_t *ip[2] = {in.data(), in.data()}, *op[2] = {l.data(), rr.data()};
    void *inst = m.new_(nullptr, nullptr);
    for (int i = 0; i < info.nctls; ++i) { // controls before any start
      orka_ctlinfo ci{};
      m.ctlinfo(i, &ci);
      m.onctl(inst, i, ci.def);
    }
    m.run(inst, ip, op, 256);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(l[i], 77) << r.name << " before start, frame " << i;
      ASSERT_EQ(rr[i], -77) << r.name << " before start, frame " << i;
    }
    m.start(inst, 8, 256);
    m.run(inst, ip, op, 256);
    m.stop(inst);
    if (r.after_stop) {
      l.assign(256, 77);
      rr.assign(256, -77);
      m.run(inst, ip, op, 256);
      for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(l[i], 77) << r.name << " after stop, frame " << i;
        ASSERT_EQ(rr[i], -77) << r.name << " after stop, frame " << i;
      }
    }
    m.del(inst);
  }
}

// Inputs far beyond full scale must give defined results: under the
// undefined-behaviour sanitizer any signed overflow ends the test.
TEST(Effects, LoudInputStaysDefined) {
  const int n = 12000;
  std::vector<std::pair<std::string, std::pair<buf, buf>>> inputs;
  for (std::int32_t amp : {4 * FS, FS, INT32_MAX}) {
    buf l(n), r(n);
    for (int i = 0; i < n; ++i) {
      l[i] = (i / 60) % 2 ? amp : -amp - (amp == INT32_MAX); // 400 Hz
      r[i] = (i / 173) % 2 ? -amp : amp;                     // 139 Hz
    }
    inputs.push_back({"square " + std::to_string(amp), {l, r}});
  }
  inputs.push_back({"noise 4x", noise(n, n, 4 * FS)});
  const case_row rows[] = {
      {"rev small", &REV_MODULE, 8, {{C_MODEL, 0}, {C_DECAY, 127}, {C_HIFREQ, 127}}},
      {"rev medium", &REV_MODULE, 8, {{C_MODEL, 1}, {C_MIX, 127}, {C_DEPTH, 127}}},
      {"rev large", &REV_MODULE, 8, {{C_MODEL, 2}, {C_DECAY, 127}, {C_LOCUT, 90}}},
      {"cho", &CHO_MODULE, 8, {{0, 64}}},
      {"sat tanh", &SAT_MODULE, 8, {{1, 0}, {2, 127}, {3, 127}, {4, 2}}},
      {"sat hard_66", &SAT_MODULE, 8, {{4, 14}}},
  };
  for (const auto &row : rows)
    for (const auto &[name, in] : inputs) {
      effect fx(*row.mod, row.rateidx, row.ctls);
      auto out = fx.run(in.first, in.second);
      std::int64_t peak = 0;
      for (int i = 0; i < n; ++i)
        peak = std::max({peak, std::abs(std::int64_t{out.first[i]}), std::abs(std::int64_t{out.second[i]})});
      EXPECT_GT(peak, FS / 8) << row.name << ", " << name;
    }
}

// Where a sum leaves the 32-bit range the result is held at its end, not
// wrapped around to the other sign.
TEST(Effects, SumsBeyondTheRangeSaturate) {
  const int n = 4000;
  // The reverb's direct path at mix 0: inputs at the top of the range give
  // a mid signal beyond it, which comes out as loud as it can, not as -1.
  {
    effect rev(REV_MODULE, 8, {{C_MIX, 0}});
    auto out = rev.run(buf(n, INT32_MAX), buf(n, INT32_MAX));
    for (int i = 0; i < n; ++i) {
      ASSERT_GT(out.first[i], INT32_MAX / 2) << i;
      ASSERT_GT(out.second[i], INT32_MAX / 2) << i;
    }
  }
  // The chorus sums both inputs into its delay memory.
  {
    effect cho(CHO_MODULE, 8, {{0, 127}});
    auto out = cho.run(buf(n, 3 * (FS << 2)), buf(n, 3 * (FS << 2)));
    for (int i = 1000; i < n; ++i) {
      ASSERT_GT(out.first[i], INT32_MAX / 4) << i;
      ASSERT_GT(out.second[i], INT32_MAX / 4) << i;
    }
  }
  // The saturator's high-pass gives twice the step of a square that swings
  // over the whole range; the curve then holds it at +-1.0, times the level.
  {
    effect sat(SAT_MODULE, 8, {{1, 0}, {2, 127}, {3, 127}, {4, 2}});
    buf in(n);
    for (int i = 0; i < n; ++i)
      in[i] = (i / 100) % 2 ? INT32_MAX : INT32_MIN;
    auto out = sat.run(in, in).first;
    for (int i = 100; i < n; ++i) {
      if (i % 100 <= 30)
        continue; // near the edges, which ring through the kernel
      ASSERT_NEAR(out[i], in[i - 15] > 0 ? 67108832 : -67108832, 67108832 / 50) << i;
    }
  }
  // Both add into buses that may already be loud.
  for (const orka_module *m : {&CHO_MODULE, &SAT_MODULE}) {
    effect fx(*m, 8, m == &SAT_MODULE ? ctl_list{{1, 0}} : ctl_list{}); // the high-pass would end a DC
    buf in(n, FS), l(n, INT32_MAX - 1000), r(n, INT32_MAX - 1000);
    std::int32_t *ip[2] = {in.data(), in.data()}, *op[2] = {l.data(), r.data()};
    m->run(fx.inst, ip, op, n);
    for (int i = 1000; i < n; ++i)
      ASSERT_EQ(l[i], INT32_MAX) << (m == &SAT_MODULE ? "sat " : "cho ") << i;
  }
}

// After a burst the effects fall silent: every output sample is exactly 0
// once the bound given for each row has passed, and the tail did sound
// before it.
//
// Reverb: the tail falls 80 dB per decay time; the line lengths only pick
// a gain row at or below their ratio, which slows the fall by at most a
// factor 10^(3/64).  From the largest value a line can hold (2^31) to the
// 4 units below which every line's output (|gain| < 0.25) is 0 is 175 dB,
// so 175 / 80 x 10^(3/64) = 2.43 decay times, plus the longest line
// (108 ms), the longest reflection (95.5 ms) and one ramp segment
// (62.5 ms).
// Chorus: the longest tap delay, 2 ms x 4.06 + 0.952 ms, and one sample.
// Saturator: each one-pole filter with pole 1 - c needs at most 22.5 / c
// samples (from 2^31 to below one unit at the pole's rate, 21.5 / c, then
// at most 1 / c steps of the last unit), the kernel 16 samples each way.
TEST(Effects, SilenceAfterABurstEndsInExactZeros) {
  auto rev_bound = [](int decay) { return 2.43 * REV_TEXT_DECAY[decay].value + 0.27; };
  auto sat_bound = [](int rateidx, std::initializer_list<int> vals) {
    double samples = 32;
    for (int v : vals)
      if (v > 0 && v < 127)
        samples += 22.5 / (-SAT_COEF[rateidx][v] / double(FS));
    return samples / ORKA_RATES[rateidx];
  };
  struct row {
    case_row c;
    double bound_s;
  } rows[] = {
      {{"rev defaults", &REV_MODULE, 3, {}}, rev_bound(82)},
      {{"rev large, longest decay", &REV_MODULE, 0, {{C_MODEL, 2}, {C_DECAY, 127}, {C_MIX, 127}}},
       rev_bound(127)},
      {{"rev undamped", &REV_MODULE, 5, {{C_MODEL, 0}, {C_HIFREQ, 127}, {C_DEPTH, 127}}},
       rev_bound(82)},
      {{"rev darkest, lo-cut", &REV_MODULE, 3, {{C_HIFREQ, 0}, {C_LOCUT, 127}, {C_DECAY, 40}}},
       rev_bound(40)},
      {{"cho", &CHO_MODULE, 8, {{0, 100}}}, (2 * 4.06 + 0.952) / 1000 + 1.0 / 48000},
      {{"sat defaults", &SAT_MODULE, 8, {}}, sat_bound(8, {38, 117, 117})},
      {{"sat lowest filters", &SAT_MODULE, 0, {{1, 1}, {2, 1}, {3, 1}, {4, 12}}}, sat_bound(0, {1, 1, 1})},
  };
  for (const auto &r : rows) {
    const int fs = ORKA_RATES[r.c.rateidx];
    const std::size_t burst = fs / 5, bound = burst + static_cast<std::size_t>(r.bound_s * fs);
    auto in = noise(bound + fs / 4, burst, FS);
    effect fx(*r.c.mod, r.c.rateidx, r.c.ctls);
    auto out = fx.run(in.first, in.second);
    std::size_t last = 0;
    for (std::size_t i = 0; i < out.first.size(); ++i)
      if (out.first[i] != 0 || out.second[i] != 0)
        last = i;
    EXPECT_GT(last, burst) << r.c.name << ": no tail";
    EXPECT_LT(last, bound) << r.c.name << ": still " << out.first[last] << ", " << out.second[last]
                           << " at " << double(last - burst) / fs << " s after the burst";
  }
}
