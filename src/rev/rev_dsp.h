// rev_dsp.h - the reverb's kernels over a stretch of up to REV_CHUNK
// frames, portable and AVX2.  Both versions give the same bits; the
// instance picks one at start.  Samples, gains and crossfade positions Q27.
#pragma once

#include <cstdint>

#include "rev/rev.h"
#include "utils/fixed.h"

constexpr std::int32_t REV_ONE = 134217728;

// (a * b) >> 27 kept in 64 bits (rounding toward minus infinity): sums of
// such terms are formed in 64 bits and saturated once, where they are
// stored as 32-bit samples.
inline std::int64_t rev_mul27(std::int64_t a, std::int64_t b) { return (a * b) >> 27; }

// Crossfade from x (old delay) toward y (new delay) at position k.
inline std::int32_t rev_xfade(std::int32_t x, std::int32_t y, std::int32_t k) {
  return q32_sat(x + rev_mul27(k, y) - rev_mul27(k, x));
}

// One-pole low-pass step lp + c (x - lp), c in Q27 (0 ... 1.0).  Rounded
// toward zero: the filters sit inside the feedback loop and the lo-cut,
// and with silent input their state must shrink to exactly 0.
inline std::int32_t rev_lowpass(std::int32_t lp, std::int32_t c, std::int32_t x) {
  return q32_shz(std::int64_t{lp} * REV_ONE + std::int64_t{c} * (std::int64_t{x} - lp), 27);
}

// One side of one reflection over a stretch: frame i adds
// (gm_i * mid_i) >> 27 + (gs_i * side_i) >> 27 to acc[i], where mid_i and
// side_i are the stage's values at the old delay, crossfaded toward those
// at the new delay when midn is set, and the gains move by their steps
// after every frame.
struct rev_tapjob {
  const std::int32_t *mid, *side;   // frame 0's values at the old delay
  const std::int32_t *midn, *siden; // at the new delay; null: no crossfade
  std::int32_t gm, gm_inc, gs, gs_inc;
  std::int64_t *acc;
};

// The crossfade position of frame i is k0 + i * kinc.
void rev_taps(const rev_tapjob *jobs, int njobs, int n, std::int32_t k0, std::int32_t kinc);
void rev_taps_avx2(const rev_tapjob *jobs, int njobs, int n, std::int32_t k0, std::int32_t kinc);

// The 32 line channels as lanes: lane k < 16 is the channel of line k that
// feeds output A (channel 0 for lines 0-7, channel 1 for lines 8-15), lane
// 16 + k the other one.  fb rows: row j is what line j's channel 0 stores,
// row 16 + j its channel 1.
struct rev_lanes {
  std::int32_t lp[32];   // damping filter states
  std::int32_t coef[32]; // their coefficients
  std::int32_t g[32];    // feedback gains at frame 0
  std::int32_t ginc[32]; // and their steps
  std::int32_t y[32];    // the outputs of the last frame
};

// The feedback network over a stretch: x[lane][i] the delayed reads,
// L and R the inputs; writes fb[row][i] and the sums of the A and B lanes'
// outputs, and leaves lp, g and y at their values after the stretch.
void rev_lines(rev_lanes *st, const std::int32_t (*x)[REV_CHUNK], const std::int32_t *L,
               const std::int32_t *R, int n, std::int32_t (*fb)[REV_CHUNK], std::int64_t *sum_a,
               std::int64_t *sum_b);
void rev_lines_avx2(rev_lanes *st, const std::int32_t (*x)[REV_CHUNK], const std::int32_t *L,
                    const std::int32_t *R, int n, std::int32_t (*fb)[REV_CHUNK],
                    std::int64_t *sum_a, std::int64_t *sum_b);

// x[i] = rev_xfade(x[i], y[i], k0 + i * kinc) for i < n.
void rev_xfade_run(std::int32_t *x, const std::int32_t *y, int n, std::int32_t k0,
                   std::int32_t kinc);
void rev_xfade_run_avx2(std::int32_t *x, const std::int32_t *y, int n, std::int32_t k0,
                        std::int32_t kinc);
