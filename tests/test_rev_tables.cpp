// The reverb's generated tables against the values their rules promise.
#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "orka/orka.h"
#include "rev/rev_tables.h"

namespace {
constexpr double UNIT = 1048576.0; // one log-time unit
constexpr double Q27 = 134217728.0;
} // namespace

TEST(RevTables, LineLengths) {
  // the rows at 48000 Hz as fixed by the room design
  const std::int32_t small0[16] = {1407, 1728, 1758, 1772, 2052, 2160, 2446, 2464,
                                   2490, 2656, 2658, 2706, 2788, 2878, 2992, 3060};
  const std::int32_t large1[16] = {1929, 1992, 2810, 3088, 3286, 3352, 3570, 3756,
                                   4138, 4240, 4246, 4282, 4516, 4630, 5188, 5206};
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(REV_LINES[0][0][k][1 + 8], small0[k]);
    EXPECT_EQ(REV_LINES[2][1][k][1 + 8], large1[k]);
  }
  // every rate within 2 % of the nominal delay, taken back from its log-time value
  for (int m = 0; m < 3; ++m)
    for (int c = 0; c < 2; ++c)
      for (int k = 0; k < 16; ++k) {
        double d = std::pow(1000.0, REV_LINES[m][c][k][0] / UNIT / 64.0);
        EXPECT_GT(d, 0.029);
        EXPECT_LT(d, 0.109);
        for (int r = 0; r < ORKA_NRATES; ++r)
          EXPECT_NEAR(REV_LINES[m][c][k][1 + r], d * ORKA_RATES[r], d * ORKA_RATES[r] * 0.02);
      }
}

TEST(RevTables, SignMatrixIsHadamard) {
  for (int i = 0; i < 16; ++i)
    for (int j = 0; j < 16; ++j) {
      int dot = 0;
      for (int k = 0; k < 16; ++k)
        dot += ((REV_SIGNS[i] >> k & 1) ? 1 : -1) * ((REV_SIGNS[j] >> k & 1) ? 1 : -1);
      EXPECT_EQ(dot, i == j ? 16 : 0) << i << " " << j;
    }
}

// The feedback sums rely on this form of the matrix: row j is row 15 - j
// of the Walsh-Hadamard matrix (-1)^popcount(m & k), negated when
// popcount(15 - j) is even (so every row's sign is its entry for line 0).
TEST(RevTables, SignMatrixIsAReorderedWalshHadamard) {
  for (int j = 0; j < 16; ++j)
    for (int k = 0; k < 16; ++k) {
      const int m = 15 - j;
      const int w = (std::popcount(unsigned(m & k)) & 1 ? -1 : 1) * (std::popcount(unsigned(m)) & 1 ? 1 : -1);
      EXPECT_EQ(REV_SIGNS[j] >> k & 1, w > 0 ? 1 : 0) << j << " " << k;
    }
}

TEST(RevTables, QuotedValues) {
  EXPECT_NEAR(REV_DECAY[0] / UNIT, -12.844, 0.001);
  EXPECT_EQ(REV_DECAY[64], 0);
  EXPECT_NEAR(REV_DECAY[127] / UNIT, 12.844, 0.001);
  EXPECT_NEAR(REV_BRIGHT[0] / UNIT, 10.179, 0.001);
  EXPECT_NEAR(REV_BRIGHT[64] / UNIT, -4.733, 0.001);
  EXPECT_NEAR(REV_BRIGHT[126] / UNIT, -47.418, 0.001);
  EXPECT_EQ(REV_BRIGHT[127], -134217728);
  EXPECT_NEAR(REV_FBGAIN[0] / Q27, 0.249977, 1e-6);
  EXPECT_NEAR(REV_FBGAIN[64] / Q27, 0.228003, 1e-6);
  EXPECT_GT(REV_FBGAIN[112], 0);
  for (int i = 113; i < 128; ++i)
    EXPECT_EQ(REV_FBGAIN[i], 0);
  for (int i = 1; i < 128; ++i)
    EXPECT_LE(REV_FBGAIN[i], REV_FBGAIN[i - 1]);
  EXPECT_NEAR(REV_DAMP[7][0] / Q27, 0.999418, 1e-6);
  for (int r = 0; r < 15; ++r)
    for (int i = 1; i < 128; ++i) {
      ASSERT_LE(REV_DAMP[r][i], REV_DAMP[r][i - 1]); // a longer ratio damps more
      ASSERT_GE(REV_DAMP[r][i], 0);
    }
  EXPECT_EQ(REV_NORM[512], 131072);
  EXPECT_EQ(REV_NORM[1023], 4098);
  EXPECT_EQ(REV_CIRCLE[0], 134217728);
  EXPECT_EQ(REV_CIRCLE[128], 0);
  EXPECT_EQ(REV_CIRCLE[131], 0);
  EXPECT_EQ(REV_MIXCURVE[0], 0);
  EXPECT_EQ(REV_MIXCURVE[127], 134217728);
  EXPECT_EQ(REV_MIXCURVE[64], std::llround(Q27 * std::sqrt(0.5)));
  for (int r = 0; r < 15; ++r) {
    EXPECT_EQ(REV_LOCUT[0][r].coef, 0);
    EXPECT_EQ(REV_LOCUT[0][r].gain, 134217728);
    EXPECT_LT(REV_LOCUT[127][r].gain, 134217728);
  }
}

// The feedback kernels rely on these bounds: a damping coefficient within
// 0 ... 1.0 keeps a filter's output between its state and its input, and
// feedback gains below 0.25 keep every line output below 2^29, so sums of
// four outputs fit in 32 bits.  (Both tables fall with their row.)
TEST(RevTables, BoundsTheFeedbackKernelsRelyOn) {
  EXPECT_LT(REV_FBGAIN[0], 1 << 25);
  EXPECT_GE(REV_FBGAIN[127], 0);
  for (int r = 0; r < 15; ++r) {
    EXPECT_LE(REV_DAMP[r][0], 134217728) << r;
    EXPECT_GE(REV_DAMP[r][127], 0) << r;
  }
}

TEST(RevTables, ValueTexts) {
  struct {
    const rev_valtext *table;
    int row;
    const char *text;
    double value;
  } cases[] = {
      {REV_TEXT_MIX, 0, "0.00%", 0},          {REV_TEXT_MIX, 64, "50%", 50},
      {REV_TEXT_MIX, 127, "100.00%", 100},    {REV_TEXT_MIX, 83, "76%", 75.611},
      {REV_TEXT_DECAY, 0, "0.250 s", 0.25},   {REV_TEXT_DECAY, 1, "0.255 s", 0.255474},
      {REV_TEXT_DECAY, 4, "0.275 s", 0.272627}, {REV_TEXT_DECAY, 64, "1.00 s", 1},
      {REV_TEXT_DECAY, 96, "2.02 s", 2.02213}, {REV_TEXT_DECAY, 126, "3.90 s", 3.91294},
      {REV_TEXT_DECAY, 127, "4.00 s", 4},     {REV_TEXT_HIFREQ, 0, "25.0%", 25},
      {REV_TEXT_HIFREQ, 3, "27.0%", 26.7578}, {REV_TEXT_HIFREQ, 32, "44.0%", 43.75},
      {REV_TEXT_HIFREQ, 64, "62.5%", 62.5},   {REV_TEXT_HIFREQ, 127, "100.0%", 100},
      {REV_TEXT_LOCUT, 0, "Disabled", 0},     {REV_TEXT_LOCUT, 1, "20.0 Hz", 20},
      {REV_TEXT_LOCUT, 64, "100 Hz", 100},    {REV_TEXT_LOCUT, 127, "500 Hz", 500},
      {REV_TEXT_PAN, 8, "0% (Center)", 0},    {REV_TEXT_PAN, 1, "-87.5% (L)", -87.5},
      {REV_TEXT_DIST, 4, "100% (Back)", 100},
  };
  for (auto &c : cases) {
    EXPECT_STREQ(c.table[c.row].text, c.text);
    EXPECT_NEAR(c.table[c.row].value, c.value, std::fabs(c.value) * 1e-5 + 1e-6) << c.text;
  }
  // lo-cut steps: 0.5 Hz up to 38 Hz, then whole hertz, 2, 5 and 10
  const char *seq[] = {"38.0 Hz", "39 Hz", "76 Hz", "78 Hz", "190 Hz", "195 Hz", "380 Hz", "390 Hz"};
  for (const char *t : seq) {
    bool found = false;
    for (int v = 0; v < 128; ++v)
      found |= !std::strcmp(REV_TEXT_LOCUT[v].text, t);
    EXPECT_TRUE(found) << t;
  }
}

namespace {
const std::int32_t *rec(int model, int pan, int dist) { return REV_ROOMS[(model * 17 + pan) * 5 + dist]; }
double g(const std::int32_t *r, int tap, int j) { return r[3 + 6 * tap + 2 + j] / Q27; }
double dly(const std::int32_t *r, int tap, int side) { return r[3 + 6 * tap + side] / Q27; }
} // namespace

TEST(RevRooms, LayoutAndNormalisation) {
  for (int i = 0; i < 255; ++i) {
    const std::int32_t *r = REV_ROOMS[i];
    ASSERT_EQ(r[0], 1);
    ASSERT_EQ(r[1], 6);
    ASSERT_EQ(r[2], 18);
    EXPECT_TRUE(r[3] == 0 || r[4] == 0) << i; // the direct sound is undelayed on one side
    double e0 = 0, e1 = 0, e2 = 0;
    for (int j = 0; j < 4; ++j)
      e0 += g(r, 0, j) * g(r, 0, j);
    for (int t = 1; t < 25; ++t)
      for (int j = 0; j < 4; ++j)
        (t < 7 ? e1 : e2) += g(r, t, j) * g(r, t, j);
    EXPECT_NEAR(e0, 2.0, 1e-6) << i;
    EXPECT_NEAR(e1 + e2, 2.0, 1e-6) << i;
    // the reflection curve follows its rule within one unit
    for (int k = 0; k <= 128; ++k) {
      double x = k / 128.0;
      double rho2 = (-e1 + std::sqrt(e1 * e1 + 4 * e2 * (e1 + e2) * x * x)) / (2 * e2);
      ASSERT_NEAR(r[153 + k], Q27 * std::sqrt(rho2), 1.0) << i << " " << k;
    }
    EXPECT_EQ(r[153], 0);
    EXPECT_EQ(r[281], 134217728);
  }
}

TEST(RevRooms, DirectSoundPlacement) {
  const double tan_theta[5] = {1.0, 2.0 / 3, 0.5, 0.4, 1.0 / 3};
  const double itd_ms[3] = {0.76, 1.60, 2.58};
  for (int m = 0; m < 3; ++m) {
    double largest = 0;
    for (int d = 0; d < 5; ++d) {
      const std::int32_t *c = rec(m, 8, d);
      double th = std::atan(tan_theta[d]);
      EXPECT_EQ(c[3], 0);
      EXPECT_EQ(c[4], 0);
      EXPECT_NEAR(g(c, 0, 0), std::cos(th), 1e-7);
      EXPECT_NEAR(g(c, 0, 1), std::cos(th), 1e-7);
      EXPECT_NEAR(g(c, 0, 2), std::sin(th), 1e-7);
      EXPECT_NEAR(g(c, 0, 3), -std::sin(th), 1e-7);
      double step = -1;
      for (int p = 0; p < 17; ++p) {
        const std::int32_t *a = rec(m, p, d), *b = rec(m, 16 - p, d);
        EXPECT_EQ(a[3], b[4]);
        EXPECT_EQ(a[4], b[3]);
        EXPECT_EQ(a[5], b[6]);
        EXPECT_EQ(a[6], b[5]);
        EXPECT_EQ(a[7], -b[8]);
        EXPECT_EQ(a[8], -b[7]);
        largest = std::max({largest, dly(a, 0, 0), dly(a, 0, 1)});
        if (p < 8) { // equal steps from the centre outward
          double d0 = dly(a, 0, 1) - dly(rec(m, p + 1, d), 0, 1);
          if (step < 0)
            step = d0;
          EXPECT_NEAR(d0, step, 2e-8);
        }
      }
    }
    EXPECT_LE(largest * 1000, itd_ms[m]);
    EXPECT_GT(largest * 1000, itd_ms[m] - 0.01);
  }
}

TEST(RevRooms, ReflectionDelaysAndRoomValues) {
  const double span[3][4] = {{4.46, 17.98, 7.96, 31.62}, {2.89, 32.70, 15.51, 63.53}, {1.94, 48.74, 22.05, 95.48}};
  const double ref_ms[3] = {13.473, 25.093, 36.713};
  const double dc_small[5] = {1.0, 0.82, 0.68, 0.58, 0.50}, dc_large[5] = {1.0, 0.79, 0.64, 0.53, 0.45};
  for (int m = 0; m < 3; ++m)
    for (int p = 0; p < 17; ++p)
      for (int d = 0; d < 5; ++d) {
        const std::int32_t *r = rec(m, p, d);
        for (int t = 1; t < 25; ++t)
          for (int s = 0; s < 2; ++s) {
            double ms = dly(r, t, s) * 1000;
            double lo = span[m][t < 7 ? 0 : 2], hi = span[m][t < 7 ? 1 : 3];
            ASSERT_GE(ms, lo - 1e-4) << m << " " << p << " " << d << " " << t;
            ASSERT_LE(ms, hi + 1e-4) << m << " " << p << " " << d << " " << t;
          }
        double ref = std::pow(1000.0, r[282] / UNIT / 64.0) * 1000;
        EXPECT_NEAR(ref, ref_ms[m], 0.001);
        double dc = r[283] / Q27;
        if (d == 0) {
          EXPECT_EQ(r[283], 134217728);
        } else {
          EXPECT_LT(dc, rec(m, p, d - 1)[283] / Q27);
        }
        if (m == 0) {
          EXPECT_NEAR(dc, dc_small[d], 0.03);
        } else if (m == 2) {
          EXPECT_NEAR(dc, dc_large[d], 0.03);
        }
      }
  EXPECT_NEAR(rec(1, 8, 4)[283] / Q27, 0.46, 0.005);
  // record 0: a source far left at distance 0 in the small room
  const std::int32_t *r0 = REV_ROOMS[0];
  EXPECT_EQ(r0[3], 0);
  EXPECT_NEAR(dly(r0, 0, 1) * 1000, 0.759, 0.001);
  const double quoted[4] = {0.9951, 0.4069, 0.4889, -0.7779};
  for (int j = 0; j < 4; ++j)
    EXPECT_NEAR(g(r0, 0, j), quoted[j], 0.02);
}
