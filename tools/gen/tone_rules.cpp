// The voice's table rules.  Everything is computed in double precision;
// 2^x goes through a power of ten, which is what makes the stored values
// match the ones the engine has always used (within one unit of exact).
#include "gen/tone_rules.h"

#include <cmath>

namespace tone_rules {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int RATES[15] = {8000,  11025, 12000, 16000,  22050,  24000,  32000, 44100,
                           48000, 64000, 88200, 96000, 128000, 176400, 192000};

double exp2_dec(double x) { return std::pow(10.0, x * std::log10(2.0)); }

} // namespace

std::vector<std::int64_t> gain() {
  std::vector<std::int64_t> v;
  for (int s = -359; s <= 127; ++s)
    v.push_back(static_cast<std::int64_t>(std::floor(134217728.0 * std::exp2((s - 127) / 18.0))));
  return v;
}

std::vector<std::int64_t> pitch() {
  std::vector<std::int64_t> v;
  for (int i = 0; i < 152; ++i)
    v.push_back(static_cast<std::int64_t>(std::floor(65536.0 * exp2_dec((i - 8) / 12.0))));
  return v;
}

std::vector<std::int64_t> time() {
  std::vector<std::int64_t> v;
  for (int i = 0; i < 128; ++i)
    v.push_back(static_cast<std::int64_t>(std::floor(48000.0 * std::exp2((i - 79) / 6.0))));
  return v;
}

std::vector<std::int64_t> pitchofs() {
  std::vector<std::int64_t> v;
  for (int r : RATES)
    v.push_back(std::llround(12.0 * std::log2(48000.0 / r) * 1048576.0));
  return v;
}

std::vector<std::int64_t> timeofs() {
  std::vector<std::int64_t> v;
  for (int r : RATES)
    v.push_back(std::llround(6.0 * std::log2(r / 48000.0) * 1048576.0));
  return v;
}

std::vector<std::int64_t> sine() {
  std::vector<std::int64_t> v;
  for (int s = 0; s < 32; ++s)
    v.push_back(static_cast<std::int64_t>(std::trunc(134217727.0 * std::sin(2.0 * PI * s / 32.0))));
  return v;
}

std::vector<std::int64_t> gauss() {
  std::vector<std::int64_t> v;
  for (int s = 0; s < 32; ++s) {
    const double d = s < 32 - s ? s : 32 - s;
    v.push_back(static_cast<std::int64_t>(std::floor(134217727.0 * std::exp(-std::pow(5.0 * d / 8.0, 2)))));
  }
  return v;
}

void filt_exact(int row, int col, double *f, double *q) {
  const double w = 2.0 * PI * 440.0 * std::exp2((row - 69) / 12.0) / 48000.0;
  const double Q = 0.5 * std::pow(254.0, col / 127.0);
  const double alpha = w / (2.0 * Q);
  const double d = 1.0 - 1.0 / (4.0 * Q * Q);
  const double beta = w * std::sqrt(d > 0.0 ? d : 0.0);
  const double rho = std::exp(-alpha);
  const double C = rho * std::cos(beta);
  *f = std::sqrt(1.0 + rho * rho - 2.0 * C);
  *q = (2.0 - 2.0 * C) / *f;
}

std::vector<std::int64_t> filt() {
  std::vector<std::int64_t> v;
  for (int r = 0; r < 128; ++r)
    for (int c = 0; c < 128; ++c) {
      double f, q;
      filt_exact(r, c, &f, &q);
      v.push_back(std::llround(f * 134217728.0));
      v.push_back(std::llround(q * 134217728.0));
    }
  return v;
}

double kernel_exact(int k) {
  const double t = 0.75 * (k - 256) / 64.0;
  const double sinc = t == 0.0 ? 1.0 : std::sin(PI * t) / (PI * t);
  const double n = k / 512.0;
  const double w = 0.42 - 0.5 * std::cos(2.0 * PI * n) + 0.08 * std::cos(4.0 * PI * n);
  return 134217727.0 * 0.75 * sinc * w;
}

std::vector<std::int64_t> kernel() {
  std::vector<std::int64_t> v;
  for (int k = 0; k <= 512; ++k) // the window is exactly 0 at its ends
    v.push_back(k == 0 || k == 512 ? 0 : static_cast<std::int64_t>(std::floor(kernel_exact(k))));
  return v;
}

std::vector<std::int64_t> kernel_taps() {
  const std::vector<std::int64_t> k = kernel();
  std::vector<std::int64_t> v;
  for (int e = 0; e < 64; ++e) {
    for (int j = 0; j < 8; ++j)
      v.push_back(k[e + 64 * j]);
    for (int j = 0; j < 8; ++j)
      v.push_back(k[e + 64 * j + 1] - k[e + 64 * j]);
  }
  return v;
}

std::vector<std::int64_t> kernel_pairs() {
  const std::vector<std::int64_t> k = kernel();
  std::vector<std::int64_t> v;
  for (int e = 0; e < 512; ++e) {
    v.push_back(k[e]);
    v.push_back(k[e + 1] - k[e]);
  }
  return v;
}

} // namespace tone_rules
