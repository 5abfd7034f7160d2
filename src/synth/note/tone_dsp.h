// tone_dsp.h - the per-sample pieces of the voice loop, as inline free
// functions over plain state so that the loop keeps everything in
// registers and tests can drive each piece alone.
#pragma once

#include <cstdint>

#include "synth/note/tone_tables.h"
#include "utils/fixed.h"

namespace tone_dsp {

using i32 = std::int32_t;
using i64 = std::int64_t;

// The kernel's step for increment inc (Q22): 2^27 at normal speed and
// below, 2^49 / inc above (the kernel stretched, its cut-off following the
// output's Nyquist frequency).
inline i64 kernel_step(i32 inc) { return inc < (1 << 22) ? i64{1} << 27 : (i64{1} << 49) / inc; }

// One resampled value (Q20) from the ring, newest sample at ringpos, for a
// phase (Q22) past it; indices modulo Mask + 1.
template <unsigned Mask>
inline i32 resample(const i32 *ring, unsigned ringpos, i32 phase, i64 g) {
  i64 sum = 0;
  if (g == i64{1} << 27) {
    // Normal speed and below: eight taps 64 entries apart, all with the
    // same interpolation fraction.
    const i64 k = i64{phase} << 5;
    const auto e0 = static_cast<unsigned>(k >> 21);
    const i64 frac = k & 0x1FFFFF;
    for (unsigned j = 0; j < 8; ++j) {
      const unsigned e = e0 + 64 * j;
      const i32 k0 = TONE_KERNEL[e];
      const i32 kv = k0 + static_cast<i32>(((i64{TONE_KERNEL[e + 1]} - k0) * frac) >> 21);
      sum += i64{kv} * ring[(ringpos + j) & Mask];
    }
    return static_cast<i32>(sum >> 27); // times 2^27, shifted by 27
  }
  i64 k = (i64{phase} * g) >> 22;
  for (unsigned j = 0; k < (i64{1} << 30); ++j, k += g) {
    const auto e = static_cast<unsigned>(k >> 21);
    const i32 k0 = TONE_KERNEL[e];
    const i32 kv = k0 + static_cast<i32>(((i64{TONE_KERNEL[e + 1]} - k0) * (k & 0x1FFFFF)) >> 21);
    sum += i64{kv} * ring[(ringpos + j) & Mask];
  }
  return static_cast<i32>((i64{static_cast<i32>(sum >> 27)} * g) >> 27);
}

// Filter state: a = input two samples back, b = its last first difference
// (Q20); p, q = integrators with 47 fraction bits.
struct filt_state {
  i32 a, b;
  i64 p, q;
};

// One filter step: input x (Q20), coefficients f, q (Q27), input masks;
// returns the output (Q27) from before this sample, saturated: a resonant
// filter can ring far above full scale.  The input differences wrap: a + b
// rebuilds an earlier input exactly, whatever the intermediate values.
inline i32 filter(filt_state &s, i32 x, i32 f, i32 q, i32 lp, i32 bp, i32 hp) {
  constexpr i64 Q27 = i64{1} << 27;
  const i32 y = q32_sat((s.p + s.q) >> 20);
  const i32 a2 = q32_addw(s.a, s.b);
  const i32 xd = q32_subw(x, a2);
  const i32 d = q32_subw(s.a & lp, static_cast<i32>(s.p >> 27));
  const i64 t = i64{d} * f - i64{static_cast<i32>(s.q >> 27)} * q + i64{s.b & bp} * Q27;
  const i32 t2 = static_cast<i32>(t >> 27);
  const i64 np = s.p + s.q;
  s.q = s.q + i64{t2} * f + i64{q32_subw(xd, s.b) & hp} * Q27;
  s.p = np;
  s.a = a2;
  s.b = xd;
  return y;
}

} // namespace tone_dsp
