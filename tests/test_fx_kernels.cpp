// The AVX2 kernels of the saturator and the reverb against the portable
// ones, value for value, on inputs the signal path rarely reaches: the
// whole 32-bit range, the curve's ends exactly at -1.0 and 1.0, every
// stretch length, gains and coefficients at the ends of their ranges.
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

#include "rev/rev_dsp.h"
#include "saturator/sat_dsp.h"
#include "saturator/sat_tables.h"
#include "utils/cpu.h"

namespace {

struct lcg {
  std::uint64_t s;
  std::uint32_t next() {
    s = s * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::uint32_t>(s >> 32);
  }
  std::int32_t any() { return static_cast<std::int32_t>(next()); }
  // Mostly moderate values, now and then the ends of the range.
  std::int32_t sample() {
    switch (next() % 8) {
    case 0: return INT32_MIN;
    case 1: return INT32_MAX;
    case 2: return any();
    default: return any() >> (next() % 12);
    }
  }
  int below(int n) { return static_cast<int>(next() % static_cast<unsigned>(n)); }
};

// Inputs x1, x2 within the 32-bit range with x1 p1 + x2 p2 = target, if
// there are any (Euclid's extended algorithm, then the smallest x1).
bool exact_pair(std::int64_t p1, std::int64_t p2, std::int64_t target, std::int32_t &x1,
                std::int32_t &x2) {
  __int128 r0 = p1, r1 = p2, s0 = 1, s1 = 0, t0 = 0, t1 = 1;
  while (r1 != 0) {
    const __int128 q = r0 / r1, r2 = r0 - q * r1, s2 = s0 - q * s1, t2 = t0 - q * t1;
    r0 = r1, r1 = r2, s0 = s1, s1 = s2, t0 = t1, t1 = t2;
  }
  if (r0 < 0)
    r0 = -r0, s0 = -s0, t0 = -t0;
  if (target % r0 != 0)
    return false;
  __int128 a = s0 * (target / r0), b = t0 * (target / r0);
  const __int128 da = p2 / r0, db = p1 / r0, k = a / da;
  a -= k * da;
  b += k * db;
  if (a > INT32_MAX || a < INT32_MIN || b > INT32_MAX || b < INT32_MIN)
    return false;
  x1 = static_cast<std::int32_t>(a);
  x2 = static_cast<std::int32_t>(b);
  return true;
}

#define SKIP_WITHOUT_AVX2()                                                                        \
  if (!cpu_avx2())                                                                                 \
  GTEST_SKIP() << "no AVX2 on this processor"

} // namespace

TEST(FxKernels, SaturatorUpsampleAtTheCurvesEnds) {
  SKIP_WITHOUT_AVX2();
  std::int32_t xh[16 + 64];
  std::int64_t a[8 * 64], b[8 * 64];
  // One input u whose product with tap (u, j) makes an oversampled value
  // exactly -1.0 or 1.0, or one unit of input either side of it.
  int shape = 0;
  for (int u = 0; u < 16; ++u)
    for (int j = 0; j < 8; ++j) {
      const std::int64_t p = SAT_POLY[u][j], mag = p < 0 ? -p : p;
      if (mag < (1 << 23))
        continue; // would need an input beyond the 32-bit range
      for (int d = -1; d <= 1; ++d)
        for (int sign : {1, -1}) {
          std::memset(xh, 0, sizeof xh);
          const std::int64_t x = (INT64_C(1) << 54) / mag + d;
          xh[1 + u] = static_cast<std::int32_t>(p < 0 ? -sign * x : sign * x);
          shape = (shape + 1) % 15;
          sat_upsample(xh, a, 1, SAT_CURVES[shape]);
          sat_upsample_avx2(xh, b, 1, SAT_CURVES[shape]);
          for (int k = 0; k < 8; ++k)
            ASSERT_EQ(a[k], b[k]) << "tap " << u << ", phase " << j << ", " << d << ", " << sign;
        }
    }
  // Two inputs that make an oversampled value exactly -1.0 or 1.0, where
  // the curve's end is taken instead of a spline that would read past it.
  int exact = 0;
  for (int j = 0; j < 8; ++j)
    for (int u1 = 0; u1 < 16; ++u1)
      for (int u2 = u1 + 1; u2 < 16; ++u2)
        for (std::int64_t target : {INT64_C(1) << 54, -(INT64_C(1) << 54)}) {
          std::int32_t x1, x2;
          if (!SAT_POLY[u1][j] || !SAT_POLY[u2][j] ||
              !exact_pair(SAT_POLY[u1][j], SAT_POLY[u2][j], target, x1, x2))
            continue;
          std::memset(xh, 0, sizeof xh);
          xh[1 + u1] = x1;
          xh[1 + u2] = x2;
          ++exact;
          shape = (shape + 1) % 15;
          sat_upsample(xh, a, 1, SAT_CURVES[shape]);
          sat_upsample_avx2(xh, b, 1, SAT_CURVES[shape]);
          ASSERT_EQ(a[j], b[j]) << "phase " << j << " at " << target / (INT64_C(1) << 54);
        }
  EXPECT_GT(exact, 0);
  // Random histories over the whole range, every curve.
  lcg g{1};
  for (int round = 0; round < 150; ++round) {
    for (auto &v : xh)
      v = g.sample();
    sat_upsample(xh, a, 64, SAT_CURVES[round % 15]);
    sat_upsample_avx2(xh, b, 64, SAT_CURVES[round % 15]);
    for (int k = 0; k < 8 * 64; ++k)
      ASSERT_EQ(a[k], b[k]) << "round " << round << ", value " << k;
  }
}

TEST(FxKernels, SaturatorDownsample) {
  SKIP_WITHOUT_AVX2();
  lcg g{2};
  constexpr int N = 64;
  std::vector<std::int64_t> sh(8 * N + 129);
  std::vector<std::int32_t> a(N), b(N);
  for (int round = 0; round < 200; ++round) {
    // Shaped values: curve values up to about 1.0, as sample x 2^27.
    for (auto &v : sh)
      v = (static_cast<std::int64_t>(g.any()) << 23) + g.any();
    const int n = 1 + g.below(N);
    sat_downsample(sh.data(), a.data(), n);
    sat_downsample_avx2(sh.data(), b.data(), n);
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(a[i], b[i]) << "round " << round << ", input " << i;
  }
}

TEST(FxKernels, ReverbTapsAndCrossfades) {
  SKIP_WITHOUT_AVX2();
  lcg g{3};
  constexpr int N = REV_CHUNK;
  std::vector<std::int32_t> ring(8 * N);
  for (int round = 0; round < 300; ++round) {
    for (auto &v : ring)
      v = g.sample();
    const int n = 1 + g.below(N), njobs = 1 + g.below(50);
    std::int64_t acc[2][2][N] = {};
    std::vector<rev_tapjob> jobs(njobs);
    for (auto &j : jobs) {
      const int at = g.below(3 * N), atn = g.below(3 * N);
      j.mid = ring.data() + at;
      j.side = ring.data() + 4 * N + at;
      const bool fade = g.below(2);
      j.midn = fade ? ring.data() + atn : nullptr;
      j.siden = fade ? ring.data() + 4 * N + atn : nullptr;
      // gains within +-2.0, ramps toward any other such gain
      j.gm = g.any() >> 3;
      j.gm_inc = g.below(3) ? ((g.any() >> 3) - j.gm) / 3000 : 0;
      j.gs = g.any() >> 3;
      j.gs_inc = g.below(3) ? ((g.any() >> 3) - j.gs) / 3000 : 0;
    }
    const std::int32_t k0 = g.below(REV_ONE + 1);
    const std::int32_t kinc = (g.below(REV_ONE + 1) - k0) / (N + g.below(3000));
    for (int pass = 0; pass < 2; ++pass) {
      for (int k = 0; k < njobs; ++k)
        jobs[k].acc = acc[pass][k & 1];
      (pass ? rev_taps_avx2 : rev_taps)(jobs.data(), njobs, n, k0, kinc);
    }
    for (int s = 0; s < 2; ++s)
      for (int i = 0; i < N; ++i)
        ASSERT_EQ(acc[0][s][i], acc[1][s][i]) << "round " << round << ", frame " << i;

    std::vector<std::int32_t> x(ring.begin(), ring.begin() + N), y = x;
    const std::int32_t *other = ring.data() + N;
    rev_xfade_run(x.data(), other, n, k0, kinc);
    rev_xfade_run_avx2(y.data(), other, n, k0, kinc);
    ASSERT_EQ(x, y) << "round " << round;
  }
}

TEST(FxKernels, ReverbFeedbackLanes) {
  SKIP_WITHOUT_AVX2();
  lcg g{4};
  constexpr int N = REV_CHUNK;
  alignas(32) std::int32_t x[32][N], fa[32][N], fb[32][N];
  std::int32_t L[N], R[N];
  std::int64_t sa[2][N], sb[2][N];
  for (int round = 0; round < 300; ++round) {
    rev_lanes st;
    for (int c = 0; c < 32; ++c) {
      for (int i = 0; i < N; ++i)
        x[c][i] = g.sample();
      st.lp[c] = g.sample();
      const int kind = g.below(4); // no damping, none passing, any
      st.coef[c] = kind == 0 ? REV_ONE : kind == 1 ? 0 : g.below(REV_ONE + 1);
      st.g[c] = g.below(2 * 33554431 + 1) - 33554431; // |gain| < 0.25
      st.ginc[c] = g.below(3) ? 0 : (g.below(2 * 33554431 + 1) - 33554431 - st.g[c]) / 3000;
      st.y[c] = g.any();
    }
    for (int i = 0; i < N; ++i) {
      L[i] = g.sample();
      R[i] = g.sample();
    }
    const int n = 1 + g.below(N);
    rev_lanes sta = st, stb = st;
    rev_lines(&sta, x, L, R, n, fa, sa[0], sb[0]);
    rev_lines_avx2(&stb, x, L, R, n, fb, sa[1], sb[1]);
    for (int c = 0; c < 32; ++c) {
      ASSERT_EQ(sta.lp[c], stb.lp[c]) << "round " << round << ", lane " << c;
      ASSERT_EQ(sta.g[c], stb.g[c]) << "round " << round << ", lane " << c;
      ASSERT_EQ(sta.y[c], stb.y[c]) << "round " << round << ", lane " << c;
      for (int i = 0; i < n; ++i)
        ASSERT_EQ(fa[c][i], fb[c][i]) << "round " << round << ", row " << c << ", frame " << i;
    }
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(sa[0][i], sa[1][i]) << "round " << round << ", frame " << i;
      ASSERT_EQ(sb[0][i], sb[1][i]) << "round " << round << ", frame " << i;
    }
  }
}
