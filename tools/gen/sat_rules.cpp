// Generating rules of the saturator's tables.
#include "gen/sat_rules.h"

#include <cmath>

#include "orka/orka.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double GAIN7 = 17.0859375; // 1.5^7, the slope of the first three curves

// The cubic u -> 1.5u - 0.5u^3, applied seven times, of x clamped to -1 ... 1.
double poly7(double x) {
  double u = x < -1 ? -1 : (x > 1 ? 1 : x);
  for (int k = 0; k < 7; ++k)
    u = 1.5 * u - 0.5 * u * u * u;
  return u;
}

// The stored curves: y = min(1, s x / (1 + (s x / c)^p)^(q / p)) for x >= 0,
// odd.  s is the slope at 0; c sets the level at which the curve bends, p
// how sharply, and q < 1 lets it go on rising above the bend ("soft").
// The derivative is proportional to 1 + (1 - q) u^p > 0, so the curve
// never falls.  The parameters were fitted to the levels at 0.01, 0.1,
// 0.5 and 1.0 that each curve is to pass.
struct knee {
  double s, c, p, q;
};
constexpr knee KNEES[12] = {
    {21.88, 0.958915, 0.703394, 0.971706},  // soft_30
    {27.72, 1.039642, 0.968948, 0.999808},  // med_30
    {31.10, 1.055717, 1.245419, 0.961463},  // hard_30
    {45.76, 0.681412, 0.752560, 0.920647},  // soft_42
    {68.98, 0.993998, 0.863331, 0.993526},  // med_42
    {102.73, 0.570210, 2.501007, 0.809715}, // hard_42
    {76.24, 0.605679, 0.824923, 0.912687},  // soft_54
    {117.47, 0.860773, 0.907470, 0.969880}, // med_54
    {200.18, 0.876284, 1.406709, 0.959381}, // hard_54
    {115.69, 0.624216, 0.903267, 0.923977}, // soft_66
    {173.23, 0.829530, 1.011174, 0.966920}, // med_66
    {265.49, 0.984234, 1.222617, 0.996926}, // hard_66
};

double knee_curve(const knee &k, double x) {
  double a = std::fabs(x);
  double u = k.s * a / k.c;
  double y = k.s * a / std::pow(1.0 + std::pow(u, k.p), k.q / k.p);
  if (y > 1.0)
    y = 1.0;
  return x < 0 ? -y : y;
}

double sinc(double x) { return x == 0 ? 1.0 : std::sin(PI * x) / (PI * x); }

} // namespace

double sat_rule_curve(int shape, double x) {
  switch (shape) {
  case 0: return poly7(x);
  case 1: return 2.0 / PI * std::atan(PI / 2.0 * GAIN7 * x);
  case 2: return std::tanh(GAIN7 * x);
  default: return knee_curve(KNEES[shape - 3], x);
  }
}

double sat_rule_slope0(int shape) { return shape < 3 ? GAIN7 : KNEES[shape - 3].s; }

std::int32_t sat_rule_coef(int rateidx, int v) {
  double f = 440.0 * std::pow(2.0, (v - 69) / 12.0);
  double w = 2.0 * PI * f / ORKA_RATES[rateidx];
  return static_cast<std::int32_t>(-std::llround(134217728.0 * (1.0 - std::exp(-w))));
}

void sat_rule_fir(std::int32_t h[128]) {
  // A low-pass with zero crossings every 12.8 taps (0.3125 of the input
  // rate), centre 0.625, under a Gaussian window of 0.1561 times its
  // length.  The taps other than the centre are scaled so that the whole
  // kernel sums to 8.0: each of its eight phases then sums to 1.0.
  double raw[128], side = 0;
  for (int k = 0; k < 128; ++k) {
    double d = (k / 128.0 - 0.5) / 0.1561;
    raw[k] = k == 0 ? 0.0 : 0.625 * sinc((k - 64) / 12.8) * std::exp(-0.5 * d * d);
    if (k != 64)
      side += raw[k];
  }
  double scale = (8.0 - 0.625) / side;
  for (int k = 0; k < 128; ++k)
    h[k] = static_cast<std::int32_t>(
        std::llround(134217728.0 * (k == 64 ? 0.625 : raw[k] * scale)));
}

std::int32_t sat_rule_table(int shape, int i) {
  double x = (i - 514) / 512.0;
  double y = sat_rule_curve(shape, x);
  return static_cast<std::int32_t>(std::llround(134217728.0 * y));
}
