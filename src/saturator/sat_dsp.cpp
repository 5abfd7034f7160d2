// The saturator's portable kernels.
#include "saturator/sat_dsp.h"
#include "saturator/sat_tables.h"

namespace {
inline std::int32_t lo32(std::int64_t v) { return static_cast<std::int32_t>(v); }
} // namespace

void sat_upsample(const std::int32_t *xh, std::int64_t *sh, int n, const std::int32_t *S) {
  for (int i = 0; i < n; ++i) {
    const std::int32_t *w = xh + i + 1;
    std::int64_t acc[8] = {};
#pragma GCC unroll 16
    for (int u = 0; u < 16; ++u) {
      const std::int64_t x = w[u];
#pragma GCC unroll 8
      for (int j = 0; j < 8; ++j)
        acc[j] += x * SAT_POLY[u][j];
    }
    for (int j = 0; j < 8; ++j)
      sh[8 * i + j] = sat_shape(S, sat_sample(acc[j]));
  }
}

// The kernel is symmetric: each tap serves the pair of values it meets on
// both sides of the centre.  The shaped values are curve values of about
// 1.0 at most, so the 32-bit parts of their pair sums cannot wrap.
void sat_downsample(const std::int64_t *sh, std::int32_t *z, int n) {
  const std::int32_t *h = SAT_FIR;
  for (int i = 0; i < n; ++i) {
    const std::int64_t *b = sh + 8 * i;
    std::int64_t sum = static_cast<std::int64_t>(h[64]) * lo32(b[64] >> 27);
#pragma GCC unroll 63
    for (int m = 1; m < 64; ++m)
      sum += static_cast<std::int64_t>(h[m]) * lo32((b[128 - m] + b[m]) >> 27);
    z[i] = lo32((sum / 8) >> 27);
  }
}
