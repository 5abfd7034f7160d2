// Generating rules of the reverb's tables.
#include "gen/rev_rules.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "orka/orka.h"

namespace {

constexpr double PI = 3.14159265358979323846;
const double K = 64.0 / std::log2(1000.0);

// Nominal line delays in milliseconds [size][channel][line].
constexpr double LINE_MS[3][2][16] = {
    {{29.335, 35.995, 36.547, 36.937, 42.731, 45.002, 50.946, 51.362, 51.836, 55.219, 55.235,
      56.365, 57.979, 59.674, 62.002, 63.677},
     {30.587, 33.463, 35.279, 38.145, 40.874, 47.721, 49.824, 50.677, 52.848, 53.655, 57.167,
      59.367, 60.854, 61.439, 61.676, 65.601}},
    {{31.673, 49.144, 49.782, 54.532, 56.655, 60.010, 64.658, 69.568, 70.055, 71.439, 74.129,
      74.907, 75.747, 78.602, 80.929, 81.274},
     {30.781, 37.930, 51.043, 55.229, 57.682, 59.927, 60.918, 68.485, 68.643, 70.739, 76.314,
      76.390, 77.428, 78.457, 80.413, 80.838}},
    {{44.929, 46.870, 51.225, 58.228, 58.289, 72.782, 73.506, 78.092, 78.104, 83.559, 88.123,
      99.328, 99.366, 100.561, 106.701, 107.852},
     {40.217, 41.511, 58.572, 64.262, 68.445, 69.837, 74.379, 78.173, 86.169, 88.331, 88.441,
      89.196, 94.090, 96.401, 108.024, 108.444}},
};

// The lengths at 48000 Hz, as the room design fixed them.
constexpr std::int32_t LINE_48K[3][2][16] = {
    {{1407, 1728, 1758, 1772, 2052, 2160, 2446, 2464, 2490, 2656, 2658, 2706, 2788, 2878, 2992, 3060},
     {1467, 1606, 1692, 1830, 1960, 2290, 2390, 2434, 2536, 2578, 2746, 2850, 2920, 2950, 2962, 3162}},
    {{1519, 2358, 2388, 2616, 2718, 2880, 3102, 3340, 3368, 3430, 3558, 3598, 3636, 3778, 3888, 3906},
     {1476, 1820, 2451, 2650, 2770, 2878, 2926, 3286, 3294, 3396, 3670, 3672, 3718, 3766, 3862, 3880}},
    {{2155, 2248, 2458, 2796, 2798, 3498, 3528, 3748, 3754, 4012, 4228, 4768, 4776, 4830, 5122, 5176},
     {1929, 1992, 2810, 3088, 3286, 3352, 3570, 3756, 4138, 4240, 4246, 4282, 4516, 4630, 5188, 5206}},
};

const char *const MIX_TEXTS[128] = {
#include "gen/rev_mixtexts.inc"
};

const char *const PAN_TEXTS[17] = {
    "-100% (L)", "-87.5% (L)", "-75.0% (L)", "-62.5% (L)", "-50.0% (L)", "-37.5% (L)",
    "-25.0% (L)", "-12.5% (L)", "0% (Center)", "+12.5% (R)", "+25.0% (R)", "+37.5% (R)",
    "+50.0% (R)", "+62.5% (R)", "+75.0% (R)", "+87.5% (R)", "+100% (R)"};
const char *const DIST_TEXTS[5] = {"0% (Front)", "25% (Back)", "50% (Back)", "75% (Back)",
                                   "100% (Back)"};

std::int32_t q(double scale, double v) { return static_cast<std::int32_t>(std::llround(scale * v)); }

// The step of a rounded display: the largest 1, 2 or 5 times a power of
// ten not above limit; its count of decimals goes to *dec.
double display_step(double limit, int *dec) {
  for (int e = 3; e >= -6; --e) {
    for (double m : {5.0, 2.0, 1.0}) {
      double s = m * std::pow(10.0, e);
      if (s <= limit * (1 + 1e-12)) {
        *dec = e < 0 ? -e : 0;
        return s;
      }
    }
  }
  *dec = 6;
  return 1e-6;
}

std::string rounded(double value, double limit, const char *unit) {
  int dec = 0;
  double s = display_step(limit, &dec);
  double r = std::round(value / s) * s;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f %s", dec, r, unit);
  return buf;
}

} // namespace

std::int32_t rev_rule_logtime(double seconds) { return q(1048576.0 * K, std::log2(seconds)); }
double rev_rule_line_delay(int m, int c, int k) { return LINE_MS[m][c][k] / 1000.0; }
std::int32_t rev_rule_line_len(int m, int c, int k, int r) {
  if (ORKA_RATES[r] == 48000)
    return LINE_48K[m][c][k];
  return static_cast<std::int32_t>(std::llround(rev_rule_line_delay(m, c, k) * ORKA_RATES[r]));
}

double rev_rule_t60(int v) {
  return v <= 64 ? 0.25 * std::pow(2.0, v / 32.0) : std::pow(2.0, 2.0 * (v - 64) / 63.0);
}
double rev_rule_bright(int v) {
  return v <= 64 ? 0.25 + 0.375 * v / 64.0 : 0.625 + 0.375 * (v - 64) / 63.0;
}
double rev_rule_mix(int v) {
  if (v <= 64)
    return 0.5 * (v / 64.0) * (v / 64.0);
  double u = (127 - v) / 63.0;
  return 1 - 0.5 * u * u;
}
double rev_rule_locut(int v) { return v == 0 ? 0.0 : 20.0 * std::pow(5.0, (v - 1) / 63.0); }

std::int32_t rev_rule_decay(int v) { return rev_rule_logtime(rev_rule_t60(v)); }
std::int32_t rev_rule_brightlog(int v) {
  if (v >= 127)
    return -134217728;
  double b = rev_rule_bright(v);
  return q(1048576.0 * K, std::log2((1 - b) / b));
}
std::int32_t rev_rule_fbgain(int i) {
  double r = std::pow(10.0, 3.0 * i / 64.0 - 5.0);
  return q(134217728.0, 0.25 * std::pow(10.0, -4.0 * r));
}
std::int32_t rev_rule_damp(int rateidx, int i) {
  double r = std::pow(10.0, 3.0 * i / 64.0 - 5.0);
  double a2 = std::pow(10.0, -8.0 * r); // a^2
  double w = 2.0 * PI * 4000.0 / ORKA_RATES[rateidx];
  double A = 1.0 - a2, B = 2.0 * a2 * (1.0 - std::cos(w));
  // positive root of A c^2 + B c - B = 0, in the form that stays exact as A -> 0
  double c = 2.0 * B / (B + std::sqrt(B * B + 4.0 * A * B));
  return q(134217728.0, c);
}
std::int32_t rev_rule_norm(int i) {
  if (i == 0)
    return -134217728;
  return q(131072.0, std::sqrt((1024.0 - i) / i));
}
std::int32_t rev_rule_mixcurve(int v) { return q(134217728.0, std::sqrt(rev_rule_mix(v))); }
std::int32_t rev_rule_circle(int k) {
  if (k > 128)
    return 0;
  double x = k / 128.0;
  return q(134217728.0, std::sqrt(1.0 - x * x));
}
void rev_rule_lowcut(int v, int rateidx, std::int32_t *coef, std::int32_t *gain) {
  if (v == 0) {
    *coef = 0;
    *gain = 134217728;
    return;
  }
  double w = 2.0 * PI * rev_rule_locut(v) / ORKA_RATES[rateidx];
  double c = std::exp(w) - 1.0;
  *coef = q(134217728.0, c);
  *gain = q(134217728.0, (2.0 - c) / std::sqrt(4.0 + c * c));
}

std::string rev_rule_text(const char *ctl, int v) {
  char buf[48];
  if (!std::strcmp(ctl, "mix"))
    return MIX_TEXTS[v];
  if (!std::strcmp(ctl, "decay"))
    return rounded(rev_rule_t60(v), rev_rule_t60(v) / 45.0, "s");
  if (!std::strcmp(ctl, "hi_freq")) {
    std::snprintf(buf, sizeof buf, "%.1f%%", std::round(rev_rule_bright(v) * 200.0) / 2.0);
    return buf;
  }
  if (!std::strcmp(ctl, "lo_cut"))
    return v == 0 ? "Disabled" : rounded(rev_rule_locut(v), rev_rule_locut(v) / 38.0, "Hz");
  if (!std::strcmp(ctl, "pan"))
    return PAN_TEXTS[v];
  if (!std::strcmp(ctl, "dist"))
    return DIST_TEXTS[v];
  return "";
}

double rev_rule_textval(const char *ctl, int v) {
  if (!std::strcmp(ctl, "mix"))
    return rev_rule_mix(v) * 100.0;
  if (!std::strcmp(ctl, "decay"))
    return rev_rule_t60(v);
  if (!std::strcmp(ctl, "hi_freq"))
    return rev_rule_bright(v) * 100.0;
  if (!std::strcmp(ctl, "lo_cut"))
    return rev_rule_locut(v);
  if (!std::strcmp(ctl, "pan"))
    return -100.0 + 12.5 * v;
  if (!std::strcmp(ctl, "dist"))
    return 25.0 * v;
  return 0;
}
