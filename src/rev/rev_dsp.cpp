// The reverb's portable kernels.
#include "rev/rev_dsp.h"
#include "rev/rev_tables.h"

namespace {

template <bool XFADE>
void tap_run(const rev_tapjob &j, int n, std::int32_t k0, std::int32_t kinc) {
  std::int32_t gm = j.gm, gs = j.gs, k = k0;
  for (int i = 0; i < n; ++i) {
    std::int32_t m = j.mid[i], s = j.side[i];
    if constexpr (XFADE) {
      m = rev_xfade(m, j.midn[i], k);
      s = rev_xfade(s, j.siden[i], k);
      k += kinc;
    }
    j.acc[i] += rev_mul27(gm, m) + rev_mul27(gs, s);
    gm += j.gm_inc;
    gs += j.gs_inc;
  }
}

// In-place Walsh-Hadamard transform of 16 values: v[m] becomes the sum over
// k of (-1)^popcount(m & k) v[k].
inline void fwht16(std::int64_t *v) {
#pragma GCC unroll 4
  for (int h = 1; h < 16; h <<= 1)
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i)
      if (!(i & h)) {
        const std::int64_t a = v[i], b = v[i + h];
        v[i] = a + b;
        v[i + h] = a - b;
      }
}

// rev_lowpass and q32_mulz without their saturation, which the feedback
// lanes never reach: a coefficient within 0 ... 1.0 keeps the filter's
// output between its state and its input, and a gain below 0.25 keeps the
// product below 2^29 (a test checks both bounds of the tables).
inline std::int32_t lane_lowpass(std::int32_t lp, std::int32_t c, std::int32_t x) {
  const std::int64_t v = std::int64_t{lp} * (REV_ONE - c) + std::int64_t{c} * x;
  return static_cast<std::int32_t>((v + (v < 0 ? (1 << 27) - 1 : 0)) >> 27);
}
inline std::int32_t lane_gain(std::int32_t g, std::int32_t lp) {
  const std::int64_t v = std::int64_t{g} * lp;
  return static_cast<std::int32_t>((v + (v < 0 ? (1 << 27) - 1 : 0)) >> 27);
}

} // namespace

void rev_taps(const rev_tapjob *jobs, int njobs, int n, std::int32_t k0, std::int32_t kinc) {
  for (int t = 0; t < njobs; ++t) {
    if (jobs[t].midn)
      tap_run<true>(jobs[t], n, k0, kinc);
    else
      tap_run<false>(jobs[t], n, k0, kinc);
  }
}

// Row j of the sign matrix is row 15 - j of the Walsh-Hadamard matrix,
// negated or not (a test checks the table for this form), so the 16 sums
// of each side are one fast transform of the outputs, each with the sign
// of its row's first entry.  The loop gain rounds toward zero, so a
// silent loop dies out instead of circling.
void rev_lines(rev_lanes *st, const std::int32_t (*x)[REV_CHUNK], const std::int32_t *L,
               const std::int32_t *R, int n, std::int32_t (*fb)[REV_CHUNK], std::int64_t *sum_a,
               std::int64_t *sum_b) {
  bool plus[16];
  for (int j = 0; j < 16; ++j)
    plus[j] = REV_SIGNS[j] & 1;
  std::int32_t lp[32], g[32], y[32];
  for (int c = 0; c < 32; ++c) {
    lp[c] = st->lp[c];
    g[c] = st->g[c];
    y[c] = st->y[c];
  }
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 32; ++c) {
      lp[c] = lane_lowpass(lp[c], st->coef[c], x[c][i]);
      y[c] = lane_gain(g[c], lp[c]);
      g[c] += st->ginc[c];
    }
    std::int64_t va[16], vb[16], sa = 0, sb = 0;
    for (int k = 0; k < 16; ++k) {
      sa += va[k] = y[k];
      sb += vb[k] = y[16 + k];
    }
    sum_a[i] = sa;
    sum_b[i] = sb;
    fwht16(va);
    fwht16(vb);
    for (int j = 0; j < 16; ++j) {
      fb[j][i] = q32_sat(plus[j] ? L[i] + va[15 - j] : L[i] - va[15 - j]);
      fb[16 + j][i] = q32_sat(plus[j] ? R[i] + vb[15 - j] : R[i] - vb[15 - j]);
    }
  }
  for (int c = 0; c < 32; ++c) {
    st->lp[c] = lp[c];
    st->g[c] = g[c];
    st->y[c] = y[c];
  }
}

void rev_xfade_run(std::int32_t *x, const std::int32_t *y, int n, std::int32_t k0,
                   std::int32_t kinc) {
  std::int32_t k = k0;
  for (int i = 0; i < n; ++i, k += kinc)
    x[i] = rev_xfade(x[i], y[i], k);
}
