// The reverb's AVX2 kernels: the same integer results as the portable ones.
// Only called where cpu_avx2() holds.
//
// _mm256_mul_epi32 multiplies the low 32 bits of each 64-bit lane as signed
// values into an exact 64-bit product.  AVX2 has no 64-bit arithmetic
// shift; the two roundings used here are built from the logical one:
// - toward minus infinity: floor(p / 2^27) = ((p + 2^62) >>> 27) - 2^35,
//   exact while |p| < 2^62 (no factor here reaches -2^31 together with
//   the other);
// - toward zero, where the result fits in 32 bits: add 2^27 - 1 to a
//   negative p, shift, and keep the low 32 bits, which the logical shift
//   gets right.
#include <immintrin.h>

#include <bit>

#include "rev/rev_dsp.h"
#include "rev/rev_tables.h"

#define REV_AVX2 __attribute__((target("avx2")))

namespace {

REV_AVX2 inline __m256i load4(const std::int32_t *p) {
  return _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}
REV_AVX2 inline __m256i load8(const std::int32_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
REV_AVX2 inline void store8(std::int32_t *p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

// floor(p / 2^27) + 2^35 (see above).
REV_AVX2 inline __m256i shr27_biased(__m256i p) {
  return _mm256_srli_epi64(_mm256_add_epi64(p, _mm256_set1_epi64x(INT64_C(1) << 62)), 27);
}

// Low 32 bits of trunc(p / 2^27) in each 64-bit lane.
REV_AVX2 inline __m256i shz27(__m256i p) {
  const __m256i neg = _mm256_cmpgt_epi64(_mm256_setzero_si256(), p);
  return _mm256_srli_epi64(_mm256_add_epi64(p, _mm256_and_si256(neg, _mm256_set1_epi64x(0x7FFFFFF))), 27);
}

// 64-bit lanes held to the 32-bit range.
REV_AVX2 inline __m256i sat32(__m256i v) {
  const __m256i hi = _mm256_set1_epi64x(INT32_MAX), lo = _mm256_set1_epi64x(INT32_MIN);
  v = _mm256_blendv_epi8(v, hi, _mm256_cmpgt_epi64(v, hi));
  return _mm256_blendv_epi8(v, lo, _mm256_cmpgt_epi64(lo, v));
}

// The low 32 bits of the lanes of a and b, in order, as eight int32.
REV_AVX2 inline __m256i pack64(__m256i a, __m256i b) {
  const __m256i idx = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  return _mm256_permute2x128_si256(_mm256_permutevar8x32_epi32(a, idx),
                                   _mm256_permutevar8x32_epi32(b, idx), 0x20);
}

// Crossfade of four values x toward y at positions k (64-bit lanes whose
// low halves hold int32 values).
REV_AVX2 inline __m256i xfade4(__m256i x, __m256i y, __m256i k) {
  const __m256i d = _mm256_sub_epi64(shr27_biased(_mm256_mul_epi32(k, y)),
                                     shr27_biased(_mm256_mul_epi32(k, x)));
  return sat32(_mm256_add_epi64(x, d));
}

// Rows r[0..7] of an 8 x 8 block of int32 become its columns.
REV_AVX2 inline void transpose8(__m256i *r) {
  __m256i t[8], u[8];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
  }
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  #pragma GCC unroll 8
  for (int i = 0; i < 4; ++i) {
    r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
    r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
  }
}

// Four 64-bit lanes from the low or high half of a vector of eight int32.
REV_AVX2 inline __m256i lo4(__m256i v) { return _mm256_cvtepi32_epi64(_mm256_castsi256_si128(v)); }
REV_AVX2 inline __m256i hi4(__m256i v) { return _mm256_cvtepi32_epi64(_mm256_extracti128_si256(v, 1)); }

// Butterflies over pairs (h = 1) and pairs of pairs (h = 2) of int32
// lanes: outputs of 4 lanes stay below 2^31 (each |y| < 2^29).
REV_AVX2 inline __m256i bfly12(__m256i v) {
  __m256i t = _mm256_shuffle_epi32(v, 0xB1);
  v = _mm256_blend_epi32(_mm256_add_epi32(v, t), _mm256_sub_epi32(t, v), 0xAA);
  t = _mm256_shuffle_epi32(v, 0x4E);
  return _mm256_blend_epi32(_mm256_add_epi32(v, t), _mm256_sub_epi32(t, v), 0xCC);
}

// Four lanes v, v + inc, v + 2 inc, v + 3 inc (int32 in the low halves).
REV_AVX2 inline __m256i ramp4(std::int32_t v, std::int32_t inc) {
  return _mm256_add_epi32(_mm256_set1_epi64x(v),
                          _mm256_mul_epi32(_mm256_set1_epi64x(inc), _mm256_setr_epi64x(0, 1, 2, 3)));
}

template <bool XFADE, bool RAMP>
REV_AVX2 void tap_run(const rev_tapjob &j, int n4, std::int32_t k0, std::int32_t kinc) {
  __m256i gm = ramp4(j.gm, j.gm_inc), gs = ramp4(j.gs, j.gs_inc), k = ramp4(k0, kinc);
  const __m256i gm4 = _mm256_set1_epi64x(static_cast<std::int32_t>(4u * j.gm_inc));
  const __m256i gs4 = _mm256_set1_epi64x(static_cast<std::int32_t>(4u * j.gs_inc));
  const __m256i k4 = _mm256_set1_epi64x(static_cast<std::int32_t>(4u * kinc));
  const __m256i bias2 = _mm256_set1_epi64x(INT64_C(1) << 36);
  for (int i = 0; i < n4; i += 4) {
    __m256i m = load4(j.mid + i), s = load4(j.side + i);
    if constexpr (XFADE) {
      m = xfade4(m, load4(j.midn + i), k);
      s = xfade4(s, load4(j.siden + i), k);
      k = _mm256_add_epi32(k, k4);
    }
    const __m256i t = _mm256_sub_epi64(_mm256_add_epi64(shr27_biased(_mm256_mul_epi32(gm, m)),
                                                        shr27_biased(_mm256_mul_epi32(gs, s))),
                                       bias2);
    __m256i *acc = reinterpret_cast<__m256i *>(j.acc + i);
    _mm256_storeu_si256(acc, _mm256_add_epi64(_mm256_loadu_si256(acc), t));
    if constexpr (RAMP) {
      gm = _mm256_add_epi32(gm, gm4);
      gs = _mm256_add_epi32(gs, gs4);
    }
  }
}

} // namespace

// Whole groups of four frames here, the rest by the portable kernel.
REV_AVX2 void rev_taps_avx2(const rev_tapjob *jobs, int njobs, int n, std::int32_t k0,
                            std::int32_t kinc) {
  const int n4 = n & ~3;
  for (int t = 0; t < njobs; ++t) {
    const rev_tapjob &j = jobs[t];
    const bool ramp = j.gm_inc != 0 || j.gs_inc != 0;
    if (j.midn)
      ramp ? tap_run<true, true>(j, n4, k0, kinc) : tap_run<true, false>(j, n4, k0, kinc);
    else
      ramp ? tap_run<false, true>(j, n4, k0, kinc) : tap_run<false, false>(j, n4, k0, kinc);
  }
  if (n4 == n)
    return;
  rev_tapjob rest[50];
  for (int t = 0; t < njobs; ++t) {
    rev_tapjob j = jobs[t];
    j.mid += n4;
    j.side += n4;
    if (j.midn) {
      j.midn += n4;
      j.siden += n4;
    }
    j.gm = static_cast<std::int32_t>(j.gm + std::int64_t{n4} * j.gm_inc);
    j.gs = static_cast<std::int32_t>(j.gs + std::int64_t{n4} * j.gs_inc);
    j.acc += n4;
    rest[t] = j;
  }
  rev_taps(rest, njobs, n - n4, static_cast<std::int32_t>(k0 + std::int64_t{n4} * kinc), kinc);
}

REV_AVX2 void rev_xfade_run_avx2(std::int32_t *x, const std::int32_t *y, int n, std::int32_t k0,
                                 std::int32_t kinc) {
  const int n8 = n & ~7;
  __m256i k = ramp4(k0, kinc);
  const __m256i k4 = _mm256_set1_epi64x(static_cast<std::int32_t>(4u * kinc));
  for (int i = 0; i < n8; i += 8) {
    const __m256i a = xfade4(load4(x + i), load4(y + i), k);
    k = _mm256_add_epi32(k, k4);
    const __m256i b = xfade4(load4(x + i + 4), load4(y + i + 4), k);
    k = _mm256_add_epi32(k, k4);
    store8(x + i, pack64(a, b));
  }
  rev_xfade_run(x + n8, y + n8, n - n8, static_cast<std::int32_t>(k0 + std::int64_t{n8} * kinc), kinc);
}

// Eight frames at a time: the lanes' reads turned into frame order, then
// per frame the damping filters and gains of all 32 lanes, the two
// transforms and the feedback values, turned back into row order.  Lanes
// whose index has an odd number of bits run with negated gains (the
// rounding toward zero is symmetric): the transform then yields row 15 - j
// of the Walsh-Hadamard matrix at position j, the order in which the
// lines store, and the plain sum of the outputs at position 15.
REV_AVX2 void rev_lines_avx2(rev_lanes *st, const std::int32_t (*x)[REV_CHUNK], const std::int32_t *L,
                             const std::int32_t *R, int n, std::int32_t (*fb)[REV_CHUNK],
                             std::int64_t *sum_a, std::int64_t *sum_b) {
  alignas(32) std::int32_t neg[32];
  for (int c = 0; c < 32; ++c)
    neg[c] = std::popcount(static_cast<unsigned>(c & 15)) & 1 ? -1 : 1;
  __m256i lp[4], g[4], ginc[4], ce[4], co[4], oe[4], oo[4];
  const __m256i one = _mm256_set1_epi32(REV_ONE);
  #pragma GCC unroll 8
  for (int q = 0; q < 4; ++q) {
    const __m256i sg = load8(neg + 8 * q);
    lp[q] = load8(st->lp + 8 * q);
    g[q] = _mm256_mullo_epi32(load8(st->g + 8 * q), sg);
    ginc[q] = _mm256_mullo_epi32(load8(st->ginc + 8 * q), sg);
    const __m256i c = load8(st->coef + 8 * q), om = _mm256_sub_epi32(one, c);
    ce[q] = c;
    co[q] = _mm256_srli_epi64(c, 32);
    oe[q] = om;
    oo[q] = _mm256_srli_epi64(om, 32);
  }
  __m256i minus[8]; // per side and 4-lane group: all ones where the row is subtracted
  #pragma GCC unroll 8
  for (int q = 0; q < 4; ++q) {
    alignas(32) std::int64_t m[4];
    #pragma GCC unroll 8
    for (int l = 0; l < 4; ++l)
      m[l] = REV_SIGNS[4 * q + l] & 1 ? 0 : -1;
    minus[q] = minus[4 + q] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(m));
  }
  __m256i y[4];
  #pragma GCC unroll 8
  for (int q = 0; q < 4; ++q)
    y[q] = _mm256_mullo_epi32(load8(st->y + 8 * q), load8(neg + 8 * q));

  for (int i0 = 0; i0 < n; i0 += 8) {
    const int m = n - i0 < 8 ? n - i0 : 8;
    alignas(32) std::int32_t xt[8][32], ft[8][32];
    #pragma GCC unroll 8
    for (int q = 0; q < 4; ++q) {
      __m256i r[8];
      #pragma GCC unroll 8
      for (int a = 0; a < 8; ++a)
        r[a] = load8(x[8 * q + a] + i0);
      transpose8(r);
      #pragma GCC unroll 8
      for (int f = 0; f < 8; ++f)
        store8(xt[f] + 8 * q, r[f]);
    }
    for (int f = 0; f < m; ++f) {
      #pragma GCC unroll 8
      for (int q = 0; q < 4; ++q) {
        const __m256i xv = load8(xt[f] + 8 * q);
        const __m256i ve = _mm256_add_epi64(_mm256_mul_epi32(lp[q], oe[q]), _mm256_mul_epi32(xv, ce[q]));
        const __m256i vo = _mm256_add_epi64(_mm256_mul_epi32(_mm256_srli_epi64(lp[q], 32), oo[q]),
                                            _mm256_mul_epi32(_mm256_srli_epi64(xv, 32), co[q]));
        lp[q] = _mm256_blend_epi32(shz27(ve), _mm256_slli_epi64(shz27(vo), 32), 0xAA);
        const __m256i pe = _mm256_mul_epi32(g[q], lp[q]);
        const __m256i po = _mm256_mul_epi32(_mm256_srli_epi64(g[q], 32), _mm256_srli_epi64(lp[q], 32));
        y[q] = _mm256_blend_epi32(shz27(pe), _mm256_slli_epi64(shz27(po), 32), 0xAA);
        g[q] = _mm256_add_epi32(g[q], ginc[q]);
      }
      #pragma GCC unroll 8
      for (int side = 0; side < 2; ++side) {
        const __m256i a = bfly12(y[2 * side]), b = bfly12(y[2 * side + 1]);
        __m256i v[4] = {lo4(a), hi4(a), lo4(b), hi4(b)};
        #pragma GCC unroll 8
        for (int h = 1; h <= 2; h <<= 1)
          #pragma GCC unroll 8
          for (int q = 0; q < 4; ++q)
            if (!(q & h)) {
              const __m256i s = _mm256_add_epi64(v[q], v[q + h]);
              v[q + h] = _mm256_sub_epi64(v[q], v[q + h]);
              v[q] = s;
            }
        const std::int32_t in = side ? R[i0 + f] : L[i0 + f];
        (side ? sum_b : sum_a)[i0 + f] = _mm256_extract_epi64(v[3], 3);
        const __m256i inv = _mm256_set1_epi64x(in);
        #pragma GCC unroll 8
        for (int q = 0; q < 4; ++q) {
          const __m256i mk = minus[4 * side + q];
          v[q] = sat32(_mm256_add_epi64(inv, _mm256_sub_epi64(_mm256_xor_si256(v[q], mk), mk)));
        }
        store8(ft[f] + 16 * side, pack64(v[0], v[1]));
        store8(ft[f] + 16 * side + 8, pack64(v[2], v[3]));
      }
    }
    #pragma GCC unroll 8
    for (int f = m; f < 8; ++f)
      for (int c = 0; c < 32; ++c)
        ft[f][c] = 0;
    #pragma GCC unroll 8
    for (int q = 0; q < 4; ++q) {
      __m256i r[8];
      #pragma GCC unroll 8
      for (int f = 0; f < 8; ++f)
        r[f] = load8(ft[f] + 8 * q);
      transpose8(r);
      #pragma GCC unroll 8
      for (int a = 0; a < 8; ++a)
        store8(fb[8 * q + a] + i0, r[a]);
    }
  }
  #pragma GCC unroll 8
  for (int q = 0; q < 4; ++q) {
    const __m256i sg = load8(neg + 8 * q);
    store8(st->lp + 8 * q, lp[q]);
    store8(st->g + 8 * q, _mm256_mullo_epi32(g[q], sg));
    store8(st->y + 8 * q, _mm256_mullo_epi32(y[q], sg));
  }
}
