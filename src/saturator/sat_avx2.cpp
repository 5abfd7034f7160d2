// The saturator's AVX2 kernels: the same sums as the portable ones, four
// 64-bit lanes at a time.  Only called where cpu_avx2() holds.
#include <immintrin.h>

#include "saturator/sat_dsp.h"
#include "saturator/sat_tables.h"

#define SAT_AVX2 __attribute__((target("avx2")))

namespace {

// Sum of the four 64-bit lanes.
SAT_AVX2 inline std::int64_t hsum(__m256i v) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  return _mm_cvtsi128_si64(s) + _mm_extract_epi64(s, 1);
}

// Four int32 values sign-extended to 64-bit lanes.
SAT_AVX2 inline __m256i widen(const std::int32_t *p) {
  return _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

// The curve S at four oversampled values (sample x 2^27, 64-bit lanes), as
// sat_shape(S, sat_sample(v)) gives them: the same spline, the four table
// values of each lane gathered by one load each and turned into four
// vectors of one table position each.
SAT_AVX2 inline __m256i shape4(const std::int32_t *S, __m256i ov) {
  const __m256i low = _mm256_cmpgt_epi64(_mm256_set1_epi64x(-(INT64_C(1) << 54)), ov); // v < -1.0
  const __m256i high = _mm256_cmpgt_epi64(ov, _mm256_set1_epi64x((INT64_C(1) << 54) - 1)); // v >= 1.0
  // u = v + 1.0 (0 ... 2^28 - 1 where the curve is read, 0 elsewhere)
  __m256i u = _mm256_and_si256(_mm256_add_epi64(_mm256_srli_epi64(ov, 27), _mm256_set1_epi64x(SAT_ONE)),
                               _mm256_set1_epi64x(0x0FFFFFFF));
  u = _mm256_andnot_si256(_mm256_or_si256(low, high), u);
  const __m256i t = _mm256_slli_epi64(_mm256_and_si256(u, _mm256_set1_epi64x(0x3FFFF)), 9);
  const __m256i t2 = _mm256_srli_epi64(_mm256_mul_epu32(t, t), 27);
  const __m256i t3 = _mm256_srli_epi64(_mm256_mul_epu32(t, t2), 27);
  const __m256i c1 = _mm256_sub_epi64(_mm256_sub_epi64(_mm256_add_epi64(t2, t2), t), t3);
  const __m256i c2 = _mm256_add_epi64(
      _mm256_sub_epi64(_mm256_mul_epu32(t3, _mm256_set1_epi64x(3)), _mm256_mul_epu32(t2, _mm256_set1_epi64x(5))),
      _mm256_set1_epi64x(2 * SAT_ONE));
  const __m256i c3 = _mm256_add_epi64(
      _mm256_sub_epi64(_mm256_slli_epi64(t2, 2), _mm256_mul_epu32(t3, _mm256_set1_epi64x(3))), t);
  const __m256i c4 = _mm256_sub_epi64(t3, t2);
  alignas(32) std::int64_t idx[4];
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(idx), _mm256_srli_epi64(u, 18));
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(S + idx[0] + 1));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(S + idx[1] + 1));
  const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(S + idx[2] + 1));
  const __m128i a3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(S + idx[3] + 1));
  const __m128i l01 = _mm_unpacklo_epi32(a0, a1), l23 = _mm_unpacklo_epi32(a2, a3);
  const __m128i h01 = _mm_unpackhi_epi32(a0, a1), h23 = _mm_unpackhi_epi32(a2, a3);
  const __m256i s1 = _mm256_cvtepi32_epi64(_mm_unpacklo_epi64(l01, l23));
  const __m256i s2 = _mm256_cvtepi32_epi64(_mm_unpackhi_epi64(l01, l23));
  const __m256i s3 = _mm256_cvtepi32_epi64(_mm_unpacklo_epi64(h01, h23));
  const __m256i s4 = _mm256_cvtepi32_epi64(_mm_unpackhi_epi64(h01, h23));
  const __m256i r = _mm256_add_epi64(
      _mm256_add_epi64(_mm256_mul_epi32(s1, c1), _mm256_mul_epi32(s2, c2)),
      _mm256_add_epi64(_mm256_mul_epi32(s3, c3), _mm256_mul_epi32(s4, c4)));
  // r / 2 rounded toward zero: add 1 to a negative r, then an arithmetic
  // shift by one (the sign bit kept by hand).
  const __m256i a = _mm256_add_epi64(r, _mm256_srli_epi64(r, 63));
  const __m256i half = _mm256_or_si256(_mm256_srli_epi64(a, 1),
                                       _mm256_and_si256(a, _mm256_set1_epi64x(INT64_MIN)));
  const __m256i ends = _mm256_blendv_epi8(_mm256_set1_epi64x(std::int64_t{S[1026]} * SAT_ONE),
                                          _mm256_set1_epi64x(std::int64_t{S[2]} * SAT_ONE), low);
  return _mm256_blendv_epi8(half, ends, _mm256_or_si256(low, high));
}

} // namespace

// _mm256_mul_epi32 multiplies the low 32 bits of each 64-bit lane as
// signed values into a 64-bit product: exactly the int32 x int32 products
// of the portable code.
SAT_AVX2 void sat_upsample_avx2(const std::int32_t *xh, std::int64_t *sh, int n,
                                const std::int32_t *S) {
  __m256i k[16][2];
  for (int u = 0; u < 16; ++u) {
    k[u][0] = widen(SAT_POLY[u]);
    k[u][1] = widen(SAT_POLY[u] + 4);
  }
  for (int i = 0; i < n; ++i) {
    const std::int32_t *w = xh + i + 1;
    __m256i a0 = _mm256_setzero_si256(), a1 = _mm256_setzero_si256();
    for (int u = 0; u < 16; ++u) {
      const __m256i x = _mm256_set1_epi32(w[u]);
      a0 = _mm256_add_epi64(a0, _mm256_mul_epi32(x, k[u][0]));
      a1 = _mm256_add_epi64(a1, _mm256_mul_epi32(x, k[u][1]));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(sh + 8 * i), shape4(S, a0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(sh + 8 * i + 4), shape4(S, a1));
  }
}

// Taps m = 0 ... 63 four at a time (tap 0 is 0): the values below the
// centre ascending, those above it loaded and turned round.  The logical
// shift leaves the same low 32 bits as the arithmetic one, and only those
// enter the product.
SAT_AVX2 void sat_downsample_avx2(const std::int64_t *sh, std::int32_t *z, int n) {
  const std::int32_t *h = SAT_FIR;
  __m256i k[16];
  for (int g = 0; g < 16; ++g)
    k[g] = widen(h + 4 * g);
  for (int i = 0; i < n; ++i) {
    const std::int64_t *b = sh + 8 * i;
    __m256i acc = _mm256_setzero_si256();
    for (int g = 0; g < 16; ++g) {
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + 4 * g));
      const __m256i hi = _mm256_permute4x64_epi64(
          _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + 125 - 4 * g)), 0x1B);
      const __m256i s = _mm256_srli_epi64(_mm256_add_epi64(lo, hi), 27);
      acc = _mm256_add_epi64(acc, _mm256_mul_epi32(s, k[g]));
    }
    const std::int64_t sum =
        hsum(acc) + static_cast<std::int64_t>(h[64]) * static_cast<std::int32_t>(b[64] >> 27);
    z[i] = static_cast<std::int32_t>((sum / 8) >> 27);
  }
}
