// The voice's sample loop: wave fill with loops, band-limited resampling,
// the two-pole filter, panning into the buses, and events inside the
// block.  Audio thread of the owning instance; no allocation, no locks.
#include <cstdint>

#include "synth/note/tone.h"
#include "synth/note/tone_dsp.h"
#include "synth/note/tone_loop.h"

namespace {

using namespace tone_dsp;

struct portable_kernels {
  static i32 near(const i32 *r, i32 phase) { return resample_near(r, phase); }
  static i32 wide(const i32 *r, i32 phase, i64 g) { return resample_wide(r, phase, g); }
  static void near_inputs(near_reader &r, int k0, int c, i32 *xs) { tone_dsp::near_inputs(r, k0, c, xs); }
  template <bool Sends> static void mix(const mix_job &j, int k0, int c, const i32 *ys) {
    tone_dsp::mix<Sends>(j, k0, c, ys);
  }
};

// The loop in its plain form, frame by frame, ring indices taken modulo
// Mask + 1: the reference the fast loops are checked against.
template <unsigned Mask>
int render_plain(const tone_ctx *c, tone *t, i32 *const bus[4], int n) {
  if (t->delay >= n) {
    t->delay -= n;
    return 1;
  }
  const int off = t->delay;
  n -= off;
  t->delay = 0;

  const ::map *m = t->map;
  const int len = m->nsamples;
  const int loop = m->loop < 0 ? 0 : m->loop > len ? len : m->loop;
  const std::int16_t *smp = m->samples;
  int rem = len - t->pos;
  int tt = t->events ? t->events->dt : n;
  i32 *left = bus[0] + off, *right = bus[1] + off, *rev = bus[2] + off, *cho = bus[3] + off;
  i32 *ring = t->ring;
  i32 phase = t->phase;
  unsigned ringpos = static_cast<unsigned>(t->ringpos);
  filt_state fs{t->fa, t->fb, t->fp, t->fq};
  const i32 lp = static_cast<i32>(t->lpmask), bp = static_cast<i32>(t->bpmask),
            hp = static_cast<i32>(t->hpmask);
  const i64 revgain = t->revgain, chogain = t->chogain;

  for (int i = 0;; ++i) {
    while (phase >= TONE_ONE) {
      if (rem == 0) {
        if (loop == 0)
          return 0;
        rem = loop;
      }
      ringpos = (ringpos - 1) & Mask;
      ring[ringpos] = ring[ringpos + TONE_RING] = i32{smp[len - rem]} * 32;
      --rem;
      phase -= TONE_ONE;
    }
    if (i == n)
      break;
    if (tt == 0) {
      do {
        t->events->dt = 0;
        if (!tone_event(c, t))
          return 0;
        tt = t->events ? t->events->dt : n - i;
      } while (tt == 0);
    }
    --tt;

    const i32 x = resample<Mask>(ring, ringpos, phase, kernel_step(t->inc));
    const i32 y = filter(fs, x, t->filtf, t->filtq, lp, bp, hp);
    const i32 l = static_cast<i32>((i64{t->gainl} * y) >> 27);
    const i32 r = static_cast<i32>((i64{t->gainr} * y) >> 27);
    const i32 s = q32_adds(l, r);
    left[i] = q32_adds(left[i], l);
    right[i] = q32_adds(right[i], r);
    rev[i] = q32_adds(rev[i], (revgain * s) >> 27);
    cho[i] = q32_adds(cho[i], (chogain * s) >> 27);

    t->inc += t->incslope;
    t->gainl += t->gainlslope;
    t->gainr += t->gainrslope;
    t->filtf += t->filtfslope;
    t->filtq += t->filtqslope;
    phase += t->inc;
  }

  t->phase = phase;
  t->ringpos = static_cast<int>(ringpos);
  t->fa = fs.a;
  t->fb = fs.b;
  t->fp = fs.p;
  t->fq = fs.q;
  t->pos = len - rem;
  if (t->events)
    t->events->dt = tt;
  return 1;
}

} // namespace

int tone_run(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n) {
  if (c->vec)
    return tone_run_avx2(c, t, bus, n);
  return tone_loop<portable_kernels>::render(c, t, bus, n);
}

int tone_run_portable(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n) {
  return tone_loop<portable_kernels>::render(c, t, bus, n);
}

int tone_run_plain(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n) {
  return render_plain<TONE_RING - 1>(c, t, bus, n);
}

int tone_run_ring256(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n) {
  return render_plain<255>(c, t, bus, n);
}
