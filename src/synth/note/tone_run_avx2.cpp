// The voice loop with AVX2 sums for the resampler: the same bits as the
// portable loop.  Only called where cpu_avx2() holds.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "synth/note/tone.h"
#include "synth/note/tone_dsp.h"

#define TONE_AVX2 __attribute__((target("avx2")))

namespace {

using tone_dsp::i32;
using tone_dsp::i64;

// Sum of the four 64-bit lanes.
TONE_AVX2 inline i64 hsum(__m256i v) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  return _mm_cvtsi128_si64(s) + _mm_extract_epi64(s, 1);
}

// Eight saturating sums of 32-bit lanes, as tone_dsp::add_sat gives them.
TONE_AVX2 inline __m256i add_sat8(__m256i a, __m256i b) {
  const __m256i s = _mm256_add_epi32(a, b);
  // Overflow where a and b share a sign that the sum does not have.
  const __m256i over = _mm256_andnot_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(a, s));
  const __m256i limit = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(INT32_MAX));
  return _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(s), _mm256_castsi256_ps(limit),
                                               _mm256_castsi256_ps(over)));
}

// (g x y) >> 27 in eight lanes, products in 64 bits, for results that fit
// 32 bits: their low 32 bits are the same after a logical shift.
TONE_AVX2 inline __m256i mul_q27(__m256i g, __m256i y) {
  const __m256i even = _mm256_srli_epi64(_mm256_mul_epi32(g, y), 27);
  const __m256i odd = _mm256_srli_epi64(
      _mm256_mul_epi32(_mm256_srli_epi64(g, 32), _mm256_srli_epi64(y, 32)), 27);
  return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
}

TONE_AVX2 inline __m256i loadu8(const i32 *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
TONE_AVX2 inline void storeu8(i32 *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }

// A gain (Q27) whose values over c frames stay within 0 ... 2^27 with a
// slope that cannot wrap on the way: then every product with an output
// fits 32 bits.
inline bool gain_in_range(i32 g, i32 slope, int k0, int c) {
  const i64 first = i64{g} + i64{slope} * k0, last = first + i64{slope} * (c - 1);
  return first >= 0 && first <= (1 << 27) && last >= 0 && last <= (1 << 27);
}

struct avx2_kernels {
  // Gains and buses eight frames a time when every product fits 32 bits
  // (always, for gains made by the voice), else as the portable code.
  template <bool Sends> TONE_AVX2 static void mix(const tone_dsp::mix_job &j, int k0, int c, const i32 *ys) {
    if (!gain_in_range(j.gl, j.gls, k0, c) || !gain_in_range(j.gr, j.grs, k0, c) ||
        (Sends && (j.revgain < 0 || j.revgain > (1 << 27) || j.chogain < 0 || j.chogain > (1 << 27)))) {
      tone_dsp::mix<Sends>(j, k0, c, ys);
      return;
    }
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i gls = _mm256_set1_epi32(j.gls), grs = _mm256_set1_epi32(j.grs);
    const __m256i gl0 = _mm256_set1_epi32(j.gl), gr0 = _mm256_set1_epi32(j.gr);
    const __m256i rg = _mm256_set1_epi32(static_cast<i32>(j.revgain));
    const __m256i cg = _mm256_set1_epi32(static_cast<i32>(j.chogain));
    int k = 0;
    for (; k + 8 <= c; k += 8) {
      const int i = k0 + k;
      const __m256i at = _mm256_add_epi32(_mm256_set1_epi32(i), lane);
      const __m256i y = loadu8(ys + k);
      const __m256i l = mul_q27(_mm256_add_epi32(gl0, _mm256_mullo_epi32(gls, at)), y);
      const __m256i r = mul_q27(_mm256_add_epi32(gr0, _mm256_mullo_epi32(grs, at)), y);
      storeu8(j.left + i, add_sat8(loadu8(j.left + i), l));
      storeu8(j.right + i, add_sat8(loadu8(j.right + i), r));
      if constexpr (Sends) {
        const __m256i s = add_sat8(l, r);
        storeu8(j.rev + i, add_sat8(loadu8(j.rev + i), mul_q27(rg, s)));
        storeu8(j.cho + i, add_sat8(loadu8(j.cho + i), mul_q27(cg, s)));
      }
    }
    if (k < c)
      tone_dsp::mix<Sends>(j, k0 + k, c - k, ys + k);
  }

  // Eight taps in the eight 32-bit lanes.  The interpolation term
  // (difference x fraction) >> 21 is formed in 64 bits; its low 32 bits
  // are the same after a logical shift as after an arithmetic one.
  TONE_AVX2 static i32 near(const i32 *r, i32 phase) {
    return taps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(r)), phase);
  }
  // The eight taps over the samples x (newest in lane 0).
  TONE_AVX2 static i32 taps(__m256i x, i32 phase) {
    const i32 *kt = TONE_KTAPS[phase >> 16];
    const __m256i k = _mm256_load_si256(reinterpret_cast<const __m256i *>(kt));
    const __m256i d = _mm256_load_si256(reinterpret_cast<const __m256i *>(kt + 8));
    const __m256i frac = _mm256_set1_epi64x(i64{phase & 0xFFFF} << 5);
    const __m256i de = _mm256_srli_epi64(_mm256_mul_epi32(d, frac), 21);
    const __m256i dodd = _mm256_srli_epi64(_mm256_mul_epi32(_mm256_srli_epi64(d, 32), frac), 21);
    const __m256i kv = _mm256_add_epi32(k, _mm256_blend_epi32(de, _mm256_slli_epi64(dodd, 32), 0xAA));
    const __m256i se = _mm256_mul_epi32(kv, x);
    const __m256i so = _mm256_mul_epi32(_mm256_srli_epi64(kv, 32), _mm256_srli_epi64(x, 32));
    return static_cast<i32>(hsum(_mm256_add_epi64(se, so)) >> 27);
  }

  // Inputs of a stretch below normal speed, as tone_dsp::near_inputs
  // gives them.  The eight newest samples stay in a register and move up by
  // one lane when a sample is read: a vector load right after the store of
  // one of its samples would wait for the store to reach the cache.
  TONE_AVX2 static void near_inputs(tone_dsp::near_reader &r, int k0, int c, i32 *xs) {
    unsigned got = r.got;
    i32 ph = r.ph;
    __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(r.ring + ((r.rp0 - got) & (TONE_RING - 1))));
    const __m256i up = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
    for (int k = 0; k < c; ++k) {
      xs[k] = taps(w, ph);
      ph += tone_dsp::value_at(r.inc, r.incs, k0 + k + 1);
      const unsigned slot = (r.rp0 - got - 1) & (TONE_RING - 1);
      const i32 v = i32{r.src[got]} * 32;
      r.ring[slot] = v;
      r.ring[slot + TONE_RING] = v;
      const int step = ph >= TONE_ONE;
      got += static_cast<unsigned>(step);
      ph -= step << 22;
      const __m256i moved = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(w, up), _mm256_set1_epi32(v), 1);
      w = _mm256_blendv_epi8(w, moved, _mm256_set1_epi32(-step));
    }
    r.got = got;
    r.ph = ph;
  }

  // Eight taps a time, each lane at its own kernel position (below 2^31,
  // so 32-bit lanes hold it); lanes past the kernel's end read entry 0 and
  // count nothing.
  TONE_AVX2 static i32 wide(const i32 *r, i32 phase, i64 g) {
    const i64 k0 = (i64{phase} * g) >> 22;
    const auto g32 = static_cast<i32>(g);
    __m256i k = _mm256_add_epi32(_mm256_set1_epi32(static_cast<i32>(k0)),
                                 _mm256_mullo_epi32(_mm256_set1_epi32(g32), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
    const __m256i step = _mm256_set1_epi32(8 * g32);
    const __m256i end = _mm256_set1_epi32(static_cast<i32>(tone_dsp::KEND));
    const __m256i fmask = _mm256_set1_epi32(0x1FFFFF);
    const auto *pairs = reinterpret_cast<const int *>(TONE_KPAIRS);
    __m256i acc = _mm256_setzero_si256();
    for (i64 kk = k0; kk < tone_dsp::KEND; kk += 8 * g, r += 8) {
      const __m256i in = _mm256_cmpgt_epi32(end, k);
      const __m256i e = _mm256_and_si256(_mm256_srli_epi32(k, 21), in);
      const __m256i kv0 = _mm256_i32gather_epi32(pairs, e, 8);
      const __m256i d = _mm256_i32gather_epi32(pairs + 1, e, 8);
      const __m256i f = _mm256_and_si256(k, fmask);
      const __m256i te = _mm256_srli_epi64(_mm256_mul_epi32(d, f), 21);
      const __m256i to = _mm256_srli_epi64(
          _mm256_mul_epi32(_mm256_srli_epi64(d, 32), _mm256_srli_epi64(f, 32)), 21);
      const __m256i kv = _mm256_and_si256(
          _mm256_add_epi32(kv0, _mm256_blend_epi32(te, _mm256_slli_epi64(to, 32), 0xAA)), in);
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(r));
      acc = _mm256_add_epi64(acc, _mm256_mul_epi32(kv, x));
      acc = _mm256_add_epi64(acc, _mm256_mul_epi32(_mm256_srli_epi64(kv, 32), _mm256_srli_epi64(x, 32)));
      k = _mm256_add_epi32(k, step);
    }
    return static_cast<i32>((i64{static_cast<i32>(hsum(acc) >> 27)} * g) >> 27);
  }
};

} // namespace

// The loop itself, every function of it compiled for AVX2 so that the
// kernels inline into it.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#include "synth/note/tone_loop.h"
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

int tone_run_avx2(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n) {
  return tone_loop<avx2_kernels>::render(c, t, bus, n);
}
