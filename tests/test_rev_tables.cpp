// The reverb's generated tables against the values their rules promise.
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
