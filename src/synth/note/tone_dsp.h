// tone_dsp.h - the per-sample pieces of the voice loop, as inline free
// functions over plain state so that the loop keeps everything in
// registers and tests can drive each piece alone.
#pragma once

#include <cstdint>

#include "synth/note/tone.h"
#include "synth/note/tone_tables.h"
#include "utils/fixed.h"

namespace tone_dsp {

using i32 = std::int32_t;
using i64 = std::int64_t;

constexpr i64 KSTEP_NORMAL = i64{1} << 27; // the kernel's step at normal speed
constexpr i64 KEND = i64{1} << 30;         // the kernel's end: 512 entries, Q21

// The kernel's step for increment inc (Q22): 2^27 at normal speed and
// below, 2^49 / inc above (the kernel stretched, its cut-off following the
// output's Nyquist frequency).
inline i64 kernel_step(i32 inc) { return inc < (1 << 22) ? KSTEP_NORMAL : (i64{1} << 49) / inc; }

// One resampled value (Q20) from the ring, newest sample at ringpos, for a
// phase (Q22) past it; indices modulo Mask + 1.  The plain form of the
// sum, which the loops below must match bit for bit.
template <unsigned Mask>
inline i32 resample(const i32 *ring, unsigned ringpos, i32 phase, i64 g) {
  i64 sum = 0;
  i64 k = (i64{phase} * g) >> 22;
  for (unsigned j = 0; k < KEND; ++j, k += g) {
    const auto e = static_cast<unsigned>(k >> 21);
    const i32 k0 = TONE_KERNEL[e];
    const i32 kv = k0 + static_cast<i32>(((i64{TONE_KERNEL[e + 1]} - k0) * (k & 0x1FFFFF)) >> 21);
    sum += i64{kv} * ring[(ringpos + j) & Mask];
  }
  return static_cast<i32>((i64{static_cast<i32>(sum >> 27)} * g) >> 27);
}

// The same sum at normal speed and below (g = 2^27), r pointing at the
// newest of eight consecutive samples: the taps fall on entries e + 64 j
// with one interpolation fraction, and scaling by g / 2^27 is the
// identity.
inline i32 resample_near(const i32 *r, i32 phase) {
  const i32 *kt = TONE_KTAPS[phase >> 16];
  const i64 frac = i64{phase & 0xFFFF} << 5;
  // Entry plus interpolation stays within 32 bits (|entry| < 2^27,
  // |difference| < 2^22), so the tap is formed in 64 bits directly.
  i64 sum = 0;
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j)
    sum += (kt[j] + ((i64{kt[8 + j]} * frac) >> 21)) * r[j];
  return static_cast<i32>(sum >> 27);
}

// The resampler's side of a stretch of frames below normal speed, where
// each frame reads at most one wave sample and src holds enough samples for
// every frame of the stretch.
struct near_reader {
  i32 *ring;
  unsigned rp0;            // the newest sample's index when the stretch began
  unsigned got;            // samples read since
  i32 ph;                  // phase (Q22) of the next frame
  const std::int16_t *src; // the next unread sample
  i32 inc, incs;           // increment and its slope when the stretch began
};

// A render value k frames on: value + k slopes, wrapping as adding the
// slope frame by frame would.
inline i32 value_at(i32 v, i32 slope, int k) {
  return static_cast<i32>(static_cast<std::uint32_t>(v) +
                          static_cast<std::uint32_t>(slope) * static_cast<std::uint32_t>(k));
}

// Inputs of frames k0 ... k0 + c - 1 of such a stretch.  Every frame
// stores the next sample in front of the newest and counts it read only
// when the phase has passed it, with no branch; the slot it uses holds the
// oldest sample, which no kernel reaches.
inline void near_inputs(near_reader &r, int k0, int c, i32 *xs) {
  unsigned got = r.got;
  i32 ph = r.ph;
  for (int k = 0; k < c; ++k) {
    xs[k] = resample_near(r.ring + ((r.rp0 - got) & (TONE_RING - 1)), ph);
    ph += value_at(r.inc, r.incs, k0 + k + 1);
    const unsigned slot = (r.rp0 - got - 1) & (TONE_RING - 1);
    const i32 v = i32{r.src[got]} * 32;
    r.ring[slot] = v;
    r.ring[slot + TONE_RING] = v;
    const unsigned step = ph >= TONE_ONE;
    got += step;
    ph -= static_cast<i32>(step) << 22;
  }
  r.got = got;
  r.ph = ph;
}

// The same sum above normal speed (g < 2^27), r pointing at the newest of
// consecutive samples, as many as the stretched kernel has taps.
inline i32 resample_wide(const i32 *r, i32 phase, i64 g) {
  // Four taps a step, each with its own sum, while all four are inside the
  // kernel; then the rest one by one.
  const auto tap = [](const i32 *x, i64 k) {
    const i32 *p = TONE_KPAIRS[k >> 21];
    return (p[0] + ((i64{p[1]} * (k & 0x1FFFFF)) >> 21)) * *x;
  };
  i64 s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  i64 k = (i64{phase} * g) >> 22;
  for (; k + 3 * g < KEND; k += 4 * g, r += 4) {
    s0 += tap(r, k);
    s1 += tap(r + 1, k + g);
    s2 += tap(r + 2, k + 2 * g);
    s3 += tap(r + 3, k + 3 * g);
  }
  for (; k < KEND; k += g, ++r)
    s0 += tap(r, k);
  return static_cast<i32>((i64{static_cast<i32>((s0 + s1 + s2 + s3) >> 27)} * g) >> 27);
}

// Type off's fixed coefficients (Q27), which make the filter a plain
// three-sample delay.
constexpr i32 FILT_OFF_F = 1 << 27, FILT_OFF_Q = 1 << 28;

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

// Saturating sum of two audio values.
inline i32 add_sat(i32 a, i32 b) {
  i32 r;
  if (__builtin_add_overflow(a, b, &r)) [[unlikely]]
    r = a < 0 ? INT32_MIN : INT32_MAX;
  return r;
}
// The same with a contribution that may leave 32 bits (q32_adds), quick
// when it does not.
inline i32 add_sat(i32 a, i64 b) {
  if (b == static_cast<i32>(b)) [[likely]]
    return add_sat(a, static_cast<i32>(b));
  return q32_adds(a, b);
}

// Where a stretch of filter outputs goes: buses from the stretch's first
// frame, gains (Q27) at that frame with their slopes, send gains.
struct mix_job {
  i32 *left, *right, *rev, *cho;
  i32 gl, gls, gr, grs;
  i64 revgain, chogain;
};

// Frames k0 ... k0 + c - 1 of a stretch: outputs ys (frame k0 first)
// through the gains into the buses.  Gains are 0 ... 2^27, so the
// products stay within y's range.
template <bool Sends> inline void mix(const mix_job &j, int k0, int c, const i32 *ys) {
  for (int k = 0; k < c; ++k) {
    const int i = k0 + k;
    const i32 y = ys[k];
    const i32 l = static_cast<i32>((i64{value_at(j.gl, j.gls, i)} * y) >> 27);
    const i32 r = static_cast<i32>((i64{value_at(j.gr, j.grs, i)} * y) >> 27);
    j.left[i] = add_sat(j.left[i], l);
    j.right[i] = add_sat(j.right[i], r);
    if constexpr (Sends) {
      const i32 s = add_sat(l, r);
      j.rev[i] = add_sat(j.rev[i], (j.revgain * s) >> 27);
      j.cho[i] = add_sat(j.cho[i], (j.chogain * s) >> 27);
    }
  }
}

} // namespace tone_dsp
