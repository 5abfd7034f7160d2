// sat_dsp.h - the saturator's per-sample kernels, portable and AVX2.
// Both versions give the same bits; the instance picks one at start.
#pragma once

#include <cstdint>

#include "utils/fixed.h"

constexpr std::int64_t SAT_ONE = 134217728; // 1.0 in Q27

// A 64-bit value in units of 2^-27 of a sample as a sample, saturated: a
// high-pass output or an oversampled value may lie beyond the 32-bit range.
inline std::int32_t sat_sample(std::int64_t v) { return q32_sat(v >> 27); }

// The curve S at an oversampled value v (Q27), as sample x 2^27: the
// Catmull-Rom spline through the four table values around v, held at the
// curve's ends beyond -1.0 and 1.0.
inline std::int64_t sat_shape(const std::int32_t *S, std::int32_t v) {
  if (v < -SAT_ONE)
    return static_cast<std::int64_t>(S[2]) * SAT_ONE;
  if (v >= SAT_ONE) // v = 1.0 exactly needs no interpolation
    return static_cast<std::int64_t>(S[1026]) * SAT_ONE;
  const std::int64_t u = static_cast<std::int64_t>(v) + SAT_ONE;
  const std::int64_t i = u >> 18;
  const std::int64_t t = (u & 0x3FFFF) << 9;
  const std::int64_t t2 = (t * t) >> 27;
  const std::int64_t t3 = (t * t2) >> 27;
  const std::int64_t r = S[i + 1] * (2 * t2 - t - t3) + S[i + 2] * (3 * t3 - 5 * t2 + 2 * SAT_ONE) +
                         S[i + 3] * (4 * t2 - 3 * t3 + t) + S[i + 4] * (t3 - t2);
  return r / 2;
}

// Interpolation by 8 and shaping of n inputs: the eight oversampled values
// of input i, from the inputs xh[i + 1 ... i + 16] (oldest first), shaped
// by the curve S into sh[8 i ... 8 i + 7].
void sat_upsample(const std::int32_t *xh, std::int64_t *sh, int n, const std::int32_t *S);
void sat_upsample_avx2(const std::int32_t *xh, std::int64_t *sh, int n, const std::int32_t *S);

// Decimation of n inputs: z[i] from the 127 shaped values sh[8 i + 1 ...
// 8 i + 127], centred on sh[8 i + 64]; sh[8 i + 128] must be readable
// (its tap is 0).
void sat_downsample(const std::int64_t *sh, std::int32_t *z, int n);
void sat_downsample_avx2(const std::int64_t *sh, std::int32_t *z, int n);
