// The saturator: its tables' properties and what the module does to sound.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <gtest/gtest.h>
#include <vector>

#include "saturator/sat.h"
#include "saturator/sat_tables.h"
#include "testutil.h"

namespace {

constexpr double Q27 = 134217728.0;
constexpr double PI = std::numbers::pi;

// A started saturator with the given controls (level, prehp, prelp,
// postlp, shape), at 48000 Hz.
struct sat {
  void *inst;
  explicit sat(int level = 127, int prehp = 0, int prelp = 127, int postlp = 127, int shape = 0,
               int rateidx = 8) {
    inst = SAT_MODULE.new_(nullptr, nullptr);
    SAT_MODULE.start(inst, rateidx, 4096);
    int v[5] = {level, prehp, prelp, postlp, shape};
    for (int i = 0; i < 5; ++i)
      SAT_MODULE.onctl(inst, i, v[i]);
  }
  ~sat() {
    SAT_MODULE.stop(inst);
    SAT_MODULE.del(inst);
  }
  std::vector<std::int32_t> run(const std::vector<std::int32_t> &in, int block = 4096) {
    std::vector<std::int32_t> out(in.size(), 0);
    for (std::size_t at = 0; at < in.size(); at += block) {
      int n = static_cast<int>(std::min<std::size_t>(block, in.size() - at));
      std::int32_t *ip = const_cast<std::int32_t *>(in.data() + at);
      std::int32_t *op = out.data() + at;
      SAT_MODULE.run(inst, &ip, &op, n);
    }
    return out;
  }
};

// A curve table at x as playback reads it: the Catmull-Rom spline through
// the four nearest table values.
double table_at(int shape, double x) {
  const std::int32_t *S = SAT_CURVES[shape];
  const double pos = 512 + x * 512; // S[i + 2] is the point at or below x
  const int i = std::min(1023, static_cast<int>(std::floor(pos)));
  const double t = pos - i, t2 = t * t, t3 = t2 * t;
  return (S[i + 1] * (2 * t2 - t - t3) + S[i + 2] * (3 * t3 - 5 * t2 + 2) +
          S[i + 3] * (4 * t2 - 3 * t3 + t) + S[i + 4] * (t3 - t2)) /
         2 / Q27;
}

struct curve_row {
  const char *name;
  double slope, y001, y01, y05, y1;
};
const curve_row CURVES[15] = {
    {"poly", 17.09, 0.1656, 0.9652, 1.0000, 1.0000},
    {"atan", 17.09, 0.1632, 0.7721, 0.9526, 0.9763},
    {"tanh", 17.09, 0.1653, 0.9356, 1.0000, 1.0000},
    {"soft_30", 21.88, 0.1478, 0.5274, 0.8207, 0.9024},
    {"med_30", 27.72, 0.2089, 0.7385, 0.9659, 0.9912},
    {"hard_30", 31.10, 0.2667, 0.9206, 0.9996, 1.0000},
    {"soft_42", 45.76, 0.2379, 0.6043, 0.8338, 0.8989},
    {"med_42", 68.98, 0.3708, 0.8223, 0.9685, 0.9886},
    {"hard_42", 102.73, 0.5965, 0.9883, 1.0000, 1.0000},
    {"soft_54", 76.24, 0.3229, 0.6580, 0.8451, 0.8992},
    {"med_54", 117.47, 0.4808, 0.8418, 0.9600, 0.9812},
    {"hard_54", 200.18, 0.7526, 0.9868, 0.9997, 1.0000},
    {"soft_66", 115.69, 0.4173, 0.7205, 0.8715, 0.9145},
    {"med_66", 173.23, 0.5852, 0.8738, 0.9637, 0.9812},
    {"hard_66", 265.49, 0.7996, 0.9791, 0.9982, 0.9995},
};

} // namespace

TEST(SatTables, CurvesAreOddRisingAndMeetTheirPoints) {
  for (int s = 0; s < 15; ++s) {
    const auto &c = CURVES[s];
    char name[ORKA_TEXTLEN] = "";
    SAT_MODULE.selinfo(4, s, name);
    EXPECT_STREQ(name, c.name);
    const std::int32_t *S = SAT_CURVES[s];
    EXPECT_EQ(S[514], 0) << c.name;
    for (int k = 1; k <= 513; ++k)
      ASSERT_EQ(S[514 + k], -S[514 - k]) << c.name << " " << k;
    for (int i = 1; i < 1028; ++i)
      ASSERT_GE(S[i], S[i - 1]) << c.name << " " << i;
    // the slope playback applies at 0: the spline's (S[515] - S[513]) / 2 per step
    const double applied = (S[515] - S[513]) / 2.0 * 512 / Q27;
    EXPECT_NEAR(applied, c.slope, 0.02 * c.slope) << c.name;
    EXPECT_NEAR(table_at(s, 0.01), c.y001, 0.01) << c.name;
    EXPECT_NEAR(table_at(s, 0.1), c.y01, 0.01) << c.name;
    EXPECT_NEAR(table_at(s, 0.5), c.y05, 0.01) << c.name;
    EXPECT_NEAR(table_at(s, 1.0), c.y1, 0.01) << c.name;
    // playback between the points never falls either (by more than a unit)
    double prev = -2;
    for (int k = 0; k < 1024 * 16; ++k) {
      const double v = table_at(s, -1 + k / (512.0 * 16));
      ASSERT_GE(v, prev - 1 / Q27) << c.name << " at " << -1 + k / (512.0 * 16);
      prev = v;
    }
    // "_30" and "_42" bend at -30 and -42 dB: the log-log slope is about 0.55 there
    if (s >= 3 && s < 9) {
      const double x = std::pow(10.0, (s < 6 ? -30 : -42) / 20.0), r = 1.001;
      const double e = std::log(table_at(s, x * r) / table_at(s, x / r)) / std::log(r * r);
      EXPECT_NEAR(e, 0.55, 0.15) << c.name;
    }
  }
  // the first three follow their formulas exactly
  EXPECT_EQ(SAT_CURVES[2][1026], 134217728);
  EXPECT_NEAR(SAT_CURVES[1][1026], std::llround(Q27 * 2 / PI * std::atan(PI / 2 * 17.0859375)), 1);
}

TEST(SatTables, KernelShape) {
  const std::int32_t *h = SAT_FIR;
  EXPECT_EQ(h[0], 0);
  EXPECT_EQ(h[64], 83886080);
  long long sum = 0;
  for (int k = 0; k < 128; ++k)
    sum += h[k];
  EXPECT_NEAR(static_cast<double>(sum), 8.0 * Q27, 8.0);
  for (int k = 1; k < 64; ++k)
    EXPECT_EQ(h[k], h[128 - k]) << k;
  // zero crossings 12.8 taps apart, counted from the centre
  for (int z : {12, 25, 38, 51})
    EXPECT_LT(static_cast<long long>(h[64 - z]) * h[64 - z - 1], 0) << z;
  for (int j = 0; j < 8; ++j) {
    long long phase = 0;
    for (int k = j; k < 128; k += 8)
      phase += h[k];
    EXPECT_NEAR(phase / Q27, 1.0, 0.001) << j;
  }
  // the quoted taps, within the window's 6 % (see the generator)
  struct {
    int k, v;
  } quoted[] = {{1, 8741}, {8, 113659}, {32, 3119578}, {48, -11144784}, {56, 36589841}, {63, 82948214}};
  for (auto &q : quoted)
    EXPECT_NEAR(h[q.k], q.v, std::abs(q.v) * 0.06) << q.k;
}

TEST(SatTables, Coefficients) {
  EXPECT_EQ(SAT_COEF[7][0], -156253);
  for (int r = 0; r < 15; ++r)
    for (int v = 1; v < 128; ++v)
      ASSERT_LT(SAT_COEF[r][v], SAT_COEF[r][v - 1]); // higher note, faster filter
}

TEST(Saturator, DescriptorAndControls) {
  orka_info info{};
  SAT_MODULE.info(&info);
  EXPECT_EQ(info.ninputs, 1);
  EXPECT_EQ(info.noutputs, 1);
  EXPECT_EQ(info.nctls, 5);
  EXPECT_STREQ(info.preset, "default");
  const char *names[] = {"level", "prehp", "prelp", "postlp", "wave_shape"};
  const int defs[] = {127, 38, 117, 117, 0};
  for (int i = 0; i < 5; ++i) {
    orka_ctlinfo ci{};
    SAT_MODULE.ctlinfo(i, &ci);
    EXPECT_STREQ(ci.name, names[i]);
    EXPECT_EQ(ci.def, defs[i]);
    EXPECT_EQ(ci.type, i == 4 ? ORKA_CTL_SEL : ORKA_CTL_NUM);
  }
  EXPECT_EQ(SAT_MODULE.midi, nullptr);
  EXPECT_EQ(SAT_MODULE.print, nullptr);
  EXPECT_EQ(SAT_MODULE.printval, nullptr);
}

TEST(Saturator, LatencyIs15Samples) {
  sat s(127, 0, 127, 127, 2);
  std::vector<std::int32_t> in(200, 0);
  in[20] = 1 << 16; // small: the curve is linear there
  auto out = s.run(in);
  int peak = 0;
  for (int i = 0; i < 200; ++i)
    if (std::abs(out[i]) > std::abs(out[peak]))
      peak = i;
  EXPECT_EQ(peak, 35);
  EXPECT_GT(out[peak], 1 << 16); // amplified by the curve's slope of 17
}

TEST(Saturator, FiltersPassDcWhenOpen) {
  sat s(127, 0, 127, 127, 0);
  std::vector<std::int32_t> in(64, 12345678);
  s.run(in);
  auto *inst = static_cast<sat_inst *>(s.inst);
  for (int k = 0; k < 16; ++k)
    EXPECT_EQ(inst->hist[k], 12345678);
}

TEST(Saturator, TanhSquaresOffAFullScaleSine) {
  sat s(127, 0, 127, 127, 2);
  const int n = 48000 / 10;
  std::vector<std::int32_t> in(n);
  for (int i = 0; i < n; ++i)
    in[i] = static_cast<std::int32_t>(0.999 * Q27 * std::sin(2 * PI * 100.0 * i / 48000));
  auto out = s.run(in);
  double level = 127 * 528416 / Q27;
  int flat = 0, peak = 0;
  for (int i = 100; i < n; ++i) {
    double v = out[i] / Q27 / level;
    peak = std::max(peak, std::abs(out[i]));
    if (std::fabs(v) > 0.95)
      ++flat;
    EXPECT_LT(std::fabs(v), 1.1) << i;
  }
  EXPECT_GT(flat, (n - 100) * 8 / 10); // most of the time near +-1.0
  EXPECT_NEAR(peak / Q27, 0.5, 0.05);
}

TEST(Saturator, SilenceStaysSilentForEveryCurve) {
  for (int shape = 0; shape < 15; ++shape) {
    sat s(127, 38, 117, 117, shape);
    auto out = s.run(std::vector<std::int32_t>(300, 0));
    for (auto v : out)
      ASSERT_EQ(v, 0) << shape;
  }
}

TEST(Saturator, AddsAndIsBlockSizeInvariant) {
  std::vector<std::int32_t> in(3000);
  for (int i = 0; i < 3000; ++i)
    in[i] = static_cast<std::int32_t>(0.3 * Q27 * std::sin(i * 0.05) + (i % 97) * 100000);
  sat a(100, 38, 117, 90, 7), b(100, 38, 117, 90, 7);
  auto ref = a.run(in, 3000);
  for (int block : {1, 7, 64}) {
    sat c(100, 38, 117, 90, 7);
    EXPECT_EQ(c.run(in, block), ref) << block;
  }
  // run adds to what the output holds
  std::vector<std::int32_t> out(3000, 5);
  std::int32_t *ip = in.data(), *op = out.data();
  SAT_MODULE.run(b.inst, &ip, &op, 3000);
  for (int i = 0; i < 3000; ++i)
    ASSERT_EQ(out[i], ref[i] + 5);
}

TEST(Saturator, CoefficientsFollowTheRateAtTheMoment) {
  sat s(127, 10, 50, 60, 0, 7);
  auto *inst = static_cast<sat_inst *>(s.inst);
  EXPECT_EQ(inst->prehp.coef, SAT_COEF[7][10]);
  SAT_MODULE.stop(s.inst);
  SAT_MODULE.start(s.inst, 11, 256);
  EXPECT_EQ(inst->prehp.coef, SAT_COEF[7][10]); // kept until set again
  SAT_MODULE.onctl(s.inst, 1, 10);
  EXPECT_EQ(inst->prehp.coef, SAT_COEF[11][10]);
  SAT_MODULE.onctl(s.inst, 2, 127);
  EXPECT_EQ(inst->prelp.coef, -134217728);
  SAT_MODULE.onctl(s.inst, 3, 500); // beyond the table: held at its end
  EXPECT_EQ(inst->postlp.coef, -134217728);
}

TEST(SaturatorDeath, ProgrammingErrorsAbort) {
  sat s;
  EXPECT_DEATH(SAT_MODULE.onctl(s.inst, 4, 15), "sat_onctl: bad shape number");
  EXPECT_DEATH(SAT_MODULE.onctl(s.inst, 5, 0), "sat_onctl: 5: bad control number");
}

// Small signals see the filters and the curve's slope at 0: at an input
// level of a hundredth of the table's first step every curve is straight,
// and the gain is slope x level x the filters' responses (the one-pole
// high-pass (1 - z^-1) / (1 - p z^-1), the low-passes (1 - p) / (1 - p z^-1),
// p = 1 + coefficient) x the kernel's response on the way up and down.
TEST(Saturator, SmallSignalGainFollowsFiltersAndSlope) {
  struct row {
    int shape, prehp, prelp, postlp;
    double hz;
  } rows[] = {
      {2, 0, 127, 127, 1000},  {2, 60, 127, 127, 50},  {2, 60, 127, 127, 3000},
      {2, 0, 80, 127, 4000},   {2, 0, 127, 80, 4000},  {2, 38, 117, 117, 1000},
      {0, 0, 127, 127, 1000},  {1, 0, 127, 127, 1000}, {3, 0, 127, 127, 1000},
      {4, 0, 127, 127, 1000},  {5, 0, 127, 127, 1000}, {6, 0, 127, 127, 1000},
      {7, 0, 127, 127, 1000},  {8, 0, 127, 127, 1000}, {9, 0, 127, 127, 1000},
      {10, 0, 127, 127, 1000}, {11, 0, 127, 127, 1000}, {12, 0, 127, 127, 1000},
      {13, 0, 127, 127, 1000}, {14, 0, 127, 127, 1000},
  };
  const double amp = Q27 / 512 / 100;
  for (const auto &r : rows) {
    const double f = r.hz / 48000;
    const std::complex<double> z1 = std::polar(1.0, -2 * PI * f); // z^-1
    auto pole = [](int v, bool lowpass) {
      return lowpass && v == 127 ? 0.0 : 1.0 + (v == 0 && !lowpass ? 0.0 : SAT_COEF[8][v] / Q27);
    };
    const double php = pole(r.prehp, false), plp = pole(r.prelp, true), ppost = pole(r.postlp, true);
    double want = std::abs((1.0 - z1) / (1.0 - php * z1)) * std::abs((1 - plp) / (1.0 - plp * z1)) *
                  std::abs((1 - ppost) / (1.0 - ppost * z1));
    std::complex<double> k = 0;
    for (int m = 0; m < 128; ++m)
      k += SAT_FIR[m] / Q27 * std::polar(1.0, -2 * PI * f * m / 8);
    want *= std::norm(k) / 64 * CURVES[r.shape].slope * (127 * 528416 / Q27);

    sat s(127, r.prehp, r.prelp, r.postlp, r.shape);
    std::vector<std::int32_t> in(9600);
    for (std::size_t i = 0; i < in.size(); ++i)
      in[i] = static_cast<std::int32_t>(std::lround(amp * std::sin(2 * PI * f * i)));
    const double got = testutil::amplitude_at(s.run(in), f, static_cast<int>(r.hz / 20)) / amp;
    EXPECT_NEAR(got, want, 0.02 * want) << CURVES[r.shape].name << " hp " << r.prehp << " lp " << r.prelp
                                       << " post " << r.postlp << " at " << r.hz << " Hz";
  }
}

// Between two table points playback follows the curve's bend, not the
// chord: at the midpoint the spline lies h^2 |y''| / 8 above the chord of a
// falling slope (h = 1/512).  Measured with steady inputs through open
// filters at "tanh" where it bends most, y'' = -2 a^2 tanh(ax) / cosh^2(ax).
TEST(Saturator, PlaybackBendsBetweenTablePoints) {
  auto steady = [](std::int32_t v) {
    sat s(127, 0, 127, 127, 2);
    return s.run(std::vector<std::int32_t>(200, v)).back() / (127 * 528416 / Q27);
  };
  for (int i : {16, 20, 24}) {
    const std::int32_t step = 1 << 18; // 1/512 in Q27
    const double a = steady(i * step), b = steady((i + 1) * step), mid = steady(i * step + step / 2);
    const double g = 17.0859375, x = (i + 0.5) / 512.0;
    const double ypp = -2 * g * g * std::tanh(g * x) / std::pow(std::cosh(g * x), 2);
    const double want = -ypp / (512.0 * 512.0) / 8 * Q27;
    EXPECT_NEAR(mid - (a + b) / 2, want, 0.1 * want) << i;
  }
}
