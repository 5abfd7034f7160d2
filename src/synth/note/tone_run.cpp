// The voice's sample loop: wave fill with loops, band-limited resampling,
// the two-pole filter, panning into the buses, and events inside the
// block.  Audio thread of the owning instance; no allocation, no locks.
#include <cstdint>

#include "synth/note/tone.h"
#include "synth/note/tone_dsp.h"

namespace {

using namespace tone_dsp;

// The render values and their slopes, held in registers over a run of
// frames without events.
struct hot {
  i32 inc, incs, gl, gls, gr, grs, ff, ffs, fq, fqs;

  void load(const tone *t) {
    inc = t->inc, incs = t->incslope;
    gl = t->gainl, gls = t->gainlslope;
    gr = t->gainr, grs = t->gainrslope;
    ff = t->filtf, ffs = t->filtfslope;
    fq = t->filtq, fqs = t->filtqslope;
  }
  void store(tone *t) const {
    t->inc = inc, t->gainl = gl, t->gainr = gr, t->filtf = ff, t->filtq = fq;
  }
};

// Ring indices are taken modulo Mask + 1.
template <unsigned Mask>
int render(const tone_ctx *c, tone *t, i32 *const bus[4], int n) {
  if (t->delay >= n) {
    t->delay -= n;
    return 1;
  }
  const int off = t->delay;
  n -= off;
  t->delay = 0;

  const ::map *m = t->map;
  const int len = m->nsamples;
  // A loop longer than the data, or negative, would read outside it.
  const int loop = m->loop < 0 ? 0 : m->loop > len ? len : m->loop;
  const std::int16_t *smp = m->samples;
  int rem = len - t->pos;
  int tt = t->events ? t->events->dt : n; // frames to the next event

  i32 *left = bus[0] + off, *right = bus[1] + off, *rev = bus[2] + off, *cho = bus[3] + off;
  i32 *ring = t->ring;
  i32 phase = t->phase;
  unsigned ringpos = static_cast<unsigned>(t->ringpos);
  filt_state fs{t->fa, t->fb, t->fp, t->fq};
  const i32 lp = static_cast<i32>(t->lpmask), bp = static_cast<i32>(t->bpmask),
            hp = static_cast<i32>(t->hpmask);
  const i64 revgain = t->revgain, chogain = t->chogain;
  hot h;
  h.load(t);

  for (int i = 0;; ++i) {
    // Fill: read the wave as fast as the phase demands.
    while (phase >= TONE_ONE) {
      if (rem == 0) {
        if (loop == 0)
          return 0;
        rem = loop;
      }
      ringpos = (ringpos - 1) & Mask;
      ring[ringpos] = i32{smp[len - rem]} * 32;
      --rem;
      phase -= TONE_ONE;
    }
    if (i == n)
      break;

    if (tt == 0) { // control-rate work, then new slopes
      h.store(t);
      do {
        t->events->dt = 0;
        if (!tone_event(c, t))
          return 0;
        tt = t->events ? t->events->dt : n - i;
      } while (tt == 0);
      h.load(t);
    }
    --tt;

    const i32 x = resample<Mask>(ring, ringpos, phase, kernel_step(h.inc));
    const i32 y = filter(fs, x, h.ff, h.fq, lp, bp, hp);

    // Mix; gains are 0 ... 2^27, so the products stay within y's range,
    // and every sum saturates.
    const i32 l = static_cast<i32>((i64{h.gl} * y) >> 27);
    const i32 r = static_cast<i32>((i64{h.gr} * y) >> 27);
    const i32 s = q32_adds(l, r);
    left[i] = q32_adds(left[i], l);
    right[i] = q32_adds(right[i], r);
    rev[i] = q32_adds(rev[i], (revgain * s) >> 27);
    cho[i] = q32_adds(cho[i], (chogain * s) >> 27);

    h.inc += h.incs;
    h.gl += h.gls;
    h.gr += h.grs;
    h.ff += h.ffs;
    h.fq += h.fqs;
    phase += h.inc;
  }

  h.store(t);
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
  return render<TONE_RING - 1>(c, t, bus, n);
}

int tone_run_ring256(const tone_ctx *c, tone *t, std::int32_t *const bus[4], int n) {
  return render<255>(c, t, bus, n);
}
