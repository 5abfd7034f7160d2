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
  alignas(32) std::int64_t acc[8];
  for (int i = 0; i < n; ++i) {
    const std::int32_t *w = xh + i + 1;
    __m256i a0 = _mm256_setzero_si256(), a1 = _mm256_setzero_si256();
    for (int u = 0; u < 16; ++u) {
      const __m256i x = _mm256_set1_epi32(w[u]);
      a0 = _mm256_add_epi64(a0, _mm256_mul_epi32(x, k[u][0]));
      a1 = _mm256_add_epi64(a1, _mm256_mul_epi32(x, k[u][1]));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(acc), a0);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(acc + 4), a1);
    for (int j = 0; j < 8; ++j)
      sh[8 * i + j] = sat_shape(S, sat_sample(acc[j]));
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
