// The chorus: voice set-up, delay range, dry/wet balance.
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

#include "chorus/cho.h"

namespace {
struct chorus {
  void *inst;
  cho_inst *rec() { return static_cast<cho_inst *>(inst); }
  explicit chorus(int wet, int rateidx = 8) {
    inst = CHO_MODULE.new_(nullptr, nullptr);
    EXPECT_EQ(CHO_MODULE.start(inst, rateidx, 512), 1);
    CHO_MODULE.onctl(inst, 0, wet);
  }
  ~chorus() { CHO_MODULE.del(inst); } // del releases the memory of a started chorus
  void run(std::vector<std::int32_t> &l, std::vector<std::int32_t> &r,
           std::vector<std::int32_t> &ol, std::vector<std::int32_t> &orr, int from, int n) {
    std::int32_t *in[2] = {l.data() + from, r.data() + from};
    std::int32_t *out[2] = {ol.data() + from, orr.data() + from};
    CHO_MODULE.run(inst, in, out, n);
  }
};
} // namespace

TEST(Chorus, TablesAndDescriptor) {
  EXPECT_EQ(CHO_SINE[0], 0);
  EXPECT_EQ(CHO_SINE[1], 26184580);
  EXPECT_EQ(CHO_SINE[2], 51362901);
  EXPECT_EQ(CHO_SINE[8], 134217728);
  EXPECT_EQ(CHO_SINE[31], -26184580);
  orka_info info{};
  CHO_MODULE.info(&info);
  EXPECT_EQ(info.ninputs, 2);
  EXPECT_EQ(info.nctls, 1);
  orka_ctlinfo ci{};
  CHO_MODULE.ctlinfo(0, &ci);
  EXPECT_STREQ(ci.name, "wet_level");
  EXPECT_EQ(ci.def, 127);
  EXPECT_EQ(CHO_MODULE.selinfo, nullptr);
  EXPECT_EQ(CHO_MODULE.print, nullptr);
}

TEST(Chorus, VoicesAtEightKilohertz) {
  chorus c(64, 0);
  EXPECT_EQ(c.rec()->voice[0].centre, 32768);
  EXPECT_EQ(c.rec()->voice[0].amp, 15603);
  // voices 1, 3, 5, 7 feed the left output
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(c.rec()->voice[i].gl, i & 1 ? 1 << 25 : 0);
    EXPECT_EQ(c.rec()->voice[i].gr, i & 1 ? 0 : 1 << 25);
  }
}

TEST(Chorus, DryOnlyAtZero) {
  chorus c(0);
  const int n = 1000;
  std::vector<std::int32_t> l(n), r(n), ol(n, 0), orr(n, 0);
  for (int i = 0; i < n; ++i) {
    l[i] = static_cast<std::int32_t>(100000000 * std::sin(i * 0.01));
    r[i] = -l[i] / 3;
  }
  c.run(l, r, ol, orr, 0, n);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(ol[i], static_cast<std::int32_t>((134217664LL * l[i]) >> 27));
    ASSERT_EQ(orr[i], static_cast<std::int32_t>((134217664LL * r[i]) >> 27));
  }
}

TEST(Chorus, DelaysStayWithinCentrePlusMinusAmplitude) {
  for (int rateidx : {0, 7, 8, 14}) {
    chorus c(127, rateidx);
    std::vector<std::int32_t> l(1, 0), r(1, 0), ol(1), orr(1);
    int lo[8], hi[8];
    for (int i = 0; i < 8; ++i)
      lo[i] = hi[i] = c.rec()->voice[i].delay;
    // three seconds, one frame at a time
    for (int f = 0; f < ORKA_RATES[rateidx] * 3; ++f) {
      c.run(l, r, ol, orr, 0, 1);
      for (int i = 0; i < 8; ++i) {
        lo[i] = std::min(lo[i], c.rec()->voice[i].delay);
        hi[i] = std::max(hi[i], c.rec()->voice[i].delay);
      }
    }
    for (int i = 0; i < 8; ++i) {
      const cho_voice &v = c.rec()->voice[i];
      EXPECT_GE(lo[i], v.centre - v.amp - 1) << rateidx << " voice " << i;
      EXPECT_LE(hi[i], v.centre + v.amp + 1) << rateidx << " voice " << i;
      // and the sine really swings most of its range
      EXPECT_GT(hi[i] - lo[i], v.amp * 3 / 2) << rateidx << " voice " << i;
    }
  }
}

TEST(Chorus, ImpulseReachesBothSidesAtTheWetGain) {
  chorus c(127);
  const int n = 600;
  std::vector<std::int32_t> l(n, 0), r(n, 0), ol(n, 0), orr(n, 0);
  l[0] = r[0] = 1 << 26;
  c.run(l, r, ol, orr, 0, n);
  long long suml = 0, sumr = 0;
  for (int i = 0; i < n; ++i) {
    suml += ol[i];
    sumr += orr[i];
  }
  // four taps of 0.25 each of L + R = 2^27, times wet 0.5: about 2^26 per side
  EXPECT_NEAR(static_cast<double>(suml), 67108832.0, 67108832.0 * 0.001);
  EXPECT_NEAR(static_cast<double>(sumr), 67108832.0, 67108832.0 * 0.001);
  // nothing before the shortest delay (2 ms = 96 frames)
  for (int i = 0; i < 90; ++i) {
    ASSERT_EQ(ol[i], 0) << i;
    ASSERT_EQ(orr[i], 0) << i;
  }
}

TEST(Chorus, ResetKeepsSoundingAndRunBeforeStartIsSafe) {
  chorus c(127);
  std::vector<std::int32_t> l(200, 1 << 24), r(200, 1 << 24), ol(200, 0), orr(200, 0);
  c.run(l, r, ol, orr, 0, 200);
  CHO_MODULE.reset(c.inst);
  std::vector<std::int32_t> z(100, 0), zl(100, 0), zr(100, 0);
  c.run(z, z, zl, zr, 0, 100);
  EXPECT_NE(zl[0], 0); // the tail of what came before
  void *fresh = CHO_MODULE.new_(nullptr, nullptr);
  std::int32_t *in[2] = {z.data(), z.data()}, *out[2] = {zl.data(), zr.data()};
  CHO_MODULE.run(fresh, in, out, 100); // no memory yet: adds nothing
  CHO_MODULE.del(fresh);
}

// The taps read between samples: a ramp into the delay memory comes out as
// a smooth ramp while the delays glide; reading whole samples only would
// step by an eighth of the ramp's rise each time a delay passes a sample.
TEST(Chorus, TapsReadBetweenSamples) {
  chorus c(127);
  const int n = 48000, rise = 4096;
  std::vector<std::int32_t> l(n), r(n), ol(n, 0), orr(n, 0);
  for (int i = 0; i < n; ++i) {
    l[i] = 3 * rise * i; // the memory holds L + R = rise x i
    r[i] = -2 * rise * i;
  }
  c.run(l, r, ol, orr, 0, n);
  for (const auto *out : {&ol, &orr}) {
    int worst = 0;
    for (int i = 1000; i < n; ++i)
      worst = std::max(worst, std::abs((*out)[i] - 2 * (*out)[i - 1] + (*out)[i - 2]));
    EXPECT_LE(worst, 16) << (out == &ol ? "left" : "right");
  }
}
