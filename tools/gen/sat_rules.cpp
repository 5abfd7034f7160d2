// Generating rules of the saturator's tables.
#include "gen/sat_rules.h"

#include <cmath>
#include <cstdlib>

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

// The stored curves pass through the levels they are made for: y(x) = s x
// up to the table's first step x0 = 1/512, so that playback, which reads
// the slope at 0 from the points next to it, applies the slope s; then
// y(0.01), y(0.1), y(0.5) and y(1) as given.  Between those points log y
// is a smooth function of log x whose slope e (the curve's log-log slope)
// falls from 1 at x0 and never rises: with 0 <= e <= 1 falling the curve
// rises, bends down (concave) and is odd by construction.  e is piecewise
// linear in log x, one extra knot in each interval placed so that the
// interval's rise of log y comes out exactly (a shape-preserving quadratic
// spline of log y).  Above 1 (the guard value) e keeps its last value.
struct levels {
  double s, y001, y01, y05, y1;
};
constexpr levels LEVELS[12] = {
    {21.88, 0.1478, 0.5274, 0.8207, 0.9024},  // soft_30
    {27.72, 0.2089, 0.7385, 0.9659, 0.9912},  // med_30
    {31.10, 0.2667, 0.9206, 0.9996, 1.0000},  // hard_30
    {45.76, 0.2379, 0.6043, 0.8338, 0.8989},  // soft_42
    {68.98, 0.3708, 0.8223, 0.9685, 0.9886},  // med_42
    {102.73, 0.5965, 0.9883, 1.0000, 1.0000}, // hard_42
    {76.24, 0.3229, 0.6580, 0.8451, 0.8992},  // soft_54
    {117.47, 0.4808, 0.8418, 0.9600, 0.9812}, // med_54
    {200.18, 0.7526, 0.9868, 0.9997, 1.0000}, // hard_54
    {115.69, 0.4173, 0.7205, 0.8715, 0.9145}, // soft_66
    {173.23, 0.5852, 0.8738, 0.9637, 0.9812}, // med_66
    {265.49, 0.7996, 0.9791, 0.9982, 0.9995}, // hard_66
};

constexpr int NKNOTS = 5;
constexpr double KNOT_X[NKNOTS] = {1.0 / 512, 0.01, 0.1, 0.5, 1.0};

// log y against t = log x: at each knot the value g and the slope d; in
// each interval the extra knot at fraction tau with slope z.
struct loglog {
  double t[NKNOTS], g[NKNOTS], d[NKNOTS], tau[NKNOTS - 1], z[NKNOTS - 1];
};

loglog make_loglog(const levels &lv) {
  loglog c{};
  const double y[NKNOTS] = {lv.s * KNOT_X[0], lv.y001, lv.y01, lv.y05, lv.y1};
  double m[NKNOTS - 1];
  for (int i = 0; i < NKNOTS; ++i) {
    c.t[i] = std::log(KNOT_X[i]);
    c.g[i] = std::log(y[i]);
  }
  for (int i = 0; i + 1 < NKNOTS; ++i)
    m[i] = (c.g[i + 1] - c.g[i]) / (c.t[i + 1] - c.t[i]);
  // Slopes at the knots: 1 where the straight part ends, the harmonic mean
  // of the neighbouring intervals' mean slopes inside (it lies between
  // them), and at the end the mean slope carried on in proportion.
  c.d[0] = 1.0;
  for (int i = 1; i + 1 < NKNOTS; ++i)
    c.d[i] = m[i - 1] > 0 && m[i] > 0 ? 2 / (1 / m[i - 1] + 1 / m[i]) : 0.0;
  c.d[NKNOTS - 1] = c.d[NKNOTS - 2] > 0 ? m[NKNOTS - 2] * m[NKNOTS - 2] / c.d[NKNOTS - 2] : 0.0;
  for (int i = 0; i + 1 < NKNOTS; ++i) {
    const double hi = c.d[i], lo = c.d[i + 1];
    if (!(m[i] <= hi && m[i] >= lo))
      std::abort(); // the levels do not bend down in log-log terms: no such curve
    double z = 2 * m[i] - (hi + lo) / 2;
    z = z > hi ? hi : (z < lo ? lo : z);
    c.z[i] = z;
    c.tau[i] = hi > lo ? (2 * m[i] - z - lo) / (hi - lo) : 0.5;
  }
  return c;
}

// Integral of a slope that goes linearly from a to b over length w, at u.
double ramp_integral(double a, double b, double w, double u) {
  return w > 0 ? a * u + (b - a) * u * u / (2 * w) : 0.0;
}

double stored_curve(const loglog &c, double s, double x) {
  const double a = std::fabs(x);
  double y;
  if (a <= KNOT_X[0]) {
    y = s * a;
  } else {
    const double t = std::log(a);
    int i = 0;
    while (i + 2 < NKNOTS && t > c.t[i + 1])
      ++i;
    const double w = c.t[i + 1] - c.t[i], u = t - c.t[i];
    double g;
    if (u > w) { // beyond the last knot: its slope carried on
      g = c.g[i + 1] + c.d[i + 1] * (u - w);
    } else {
      const double w1 = c.tau[i] * w;
      g = c.g[i] + (u <= w1 ? ramp_integral(c.d[i], c.z[i], w1, u)
                            : ramp_integral(c.d[i], c.z[i], w1, w1) +
                                  ramp_integral(c.z[i], c.d[i + 1], w - w1, u - w1));
    }
    y = std::exp(g);
  }
  return x < 0 ? -y : y;
}

double sinc(double x) { return x == 0 ? 1.0 : std::sin(PI * x) / (PI * x); }

} // namespace

double sat_rule_curve(int shape, double x) {
  switch (shape) {
  case 0: return poly7(x);
  case 1: return 2.0 / PI * std::atan(PI / 2.0 * GAIN7 * x);
  case 2: return std::tanh(GAIN7 * x);
  default: {
    const levels &lv = LEVELS[shape - 3];
    return stored_curve(make_loglog(lv), lv.s, x);
  }
  }
}

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
