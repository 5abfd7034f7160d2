// tone_loop.h - the voice's sample loop, written once over a kernel
// policy K:
//   static i32 near(const i32 *r, i32 phase);        the resampler's sum, g = 2^27
//   static i32 wide(const i32 *r, i32 phase, i64 g); the same, g < 2^27
//   static void near_inputs(near_reader &, int k0, int c, i32 *xs);
//                                                    a stretch's inputs below normal speed
//   template <bool Sends> static void mix(const mix_job &, int k0, int c, const i32 *ys);
//                                                    gains and buses
// each giving the bits of tone_dsp's plain forms.  tone_run.cpp
// instantiates it with the portable functions, tone_run_avx2.cpp with AVX2
// ones.  The template has internal linkage, so each file keeps its own
// copy compiled for its own processor.
//
// The block is cut at the voice's events into runs in which the render
// values move along fixed slopes, and runs into chunks of up to CHUNK
// frames, each done in three passes: the resampler's inputs, the filter,
// the gains and buses.  Only the filter carries a long dependency from
// frame to frame (its integrators); the passes before and after it have
// none, so the processor works on them while the filter's chain runs.  A
// run whose increments all stay below normal speed reads at most one wave
// sample per frame; a run above normal speed with a constant increment
// keeps one kernel step; any other run takes the step frame by frame.
// The ring is mirrored (every sample also TONE_RING entries further on),
// so a frame's taps are consecutive entries.
#pragma once

#include <algorithm>
#include <cstdint>

#include "synth/note/tone.h"
#include "synth/note/tone_dsp.h"

namespace {

template <class K> struct tone_loop {
  using i32 = tone_dsp::i32;
  using i64 = tone_dsp::i64;
  static constexpr int CHUNK = 16;

  // Where a run reads the wave.
  const std::int16_t *smp;
  int len, loop, rem;
  i32 *ring;
  unsigned ringpos;
  i32 phase;
  // Render values and slopes, the filter, the buses.
  i32 inc, incs, gl, gls, gr, grs, ff, ffs, fq, fqs;
  tone_dsp::filt_state fs;
  i32 lp, bp, hp;
  bool plain; // the filter is a plain delay: type off, fixed coefficients
  i64 revgain, chogain;
  i32 *left, *right, *rev, *cho;

  [[gnu::always_inline]] void load_values(const tone *t) {
    inc = t->inc, incs = t->incslope;
    gl = t->gainl, gls = t->gainlslope;
    gr = t->gainr, grs = t->gainrslope;
    ff = t->filtf, ffs = t->filtfslope;
    fq = t->filtq, fqs = t->filtqslope;
    plain = t->filt == FILT_OFF && ff == tone_dsp::FILT_OFF_F && fq == tone_dsp::FILT_OFF_Q &&
            ffs == 0 && fqs == 0;
  }
  [[gnu::always_inline]] void store_values(tone *t) const {
    t->inc = inc, t->gainl = gl, t->gainr = gr, t->filtf = ff, t->filtq = fq;
  }
  // Moves every render value m frames on.
  [[gnu::always_inline]] void move(int m) {
    using tone_dsp::value_at;
    inc = value_at(inc, incs, m);
    gl = value_at(gl, gls, m);
    gr = value_at(gr, grs, m);
    ff = value_at(ff, ffs, m);
    fq = value_at(fq, fqs, m);
  }

  // Reads the next wave sample into the ring: false when a wave without
  // a loop has ended.
  [[gnu::always_inline]] bool read_one() {
    if (rem == 0) [[unlikely]] {
      if (loop == 0)
        return false;
      rem = loop;
    }
    ringpos = (ringpos - 1) & (TONE_RING - 1);
    const i32 v = i32{smp[len - rem]} * 32;
    ring[ringpos] = v;
    ring[ringpos + TONE_RING] = v;
    --rem;
    phase -= TONE_ONE;
    return true;
  }
  // Reads as many samples as the phase has passed.
  [[gnu::always_inline]] bool fill() {
    while (phase >= TONE_ONE)
      if (!read_one())
        return false;
    return true;
  }

  // Filter and mix of frames k0 ... k0 + c - 1 of the run that began at
  // frame i0, inputs xs.
  template <bool Sends> [[gnu::always_inline]] void output(int i0, int k0, int c, const i32 *xs) {
    i32 ys[CHUNK];
    tone_dsp::filt_state f = fs;
    if (plain) {
      for (int k = 0; k < c; ++k)
        ys[k] = tone_dsp::filter(f, xs[k], tone_dsp::FILT_OFF_F, tone_dsp::FILT_OFF_Q, -1, 0, 0);
    } else {
      for (int k = 0; k < c; ++k)
        ys[k] = tone_dsp::filter(f, xs[k], tone_dsp::value_at(ff, ffs, k0 + k),
                                 tone_dsp::value_at(fq, fqs, k0 + k), lp, bp, hp);
    }
    fs = f;
    const tone_dsp::mix_job j{left + i0, right + i0, rev + i0, cho + i0, gl, gls, gr, grs, revgain, chogain};
    K::template mix<Sends>(j, k0, c, ys);
  }

  // Frames i ... i + m - 1, every increment of them (the last one too,
  // which moves the phase after the last frame) below normal speed: each
  // frame reads at most one wave sample.  Stretches that cannot reach the
  // end of the data read without checking for it.
  template <bool Sends> [[gnu::always_inline]] bool run_near(int i, int m) {
    for (const int end = i + m; i < end;) {
      if (rem == 0) { // at the end of the data: one frame that may wrap or end
        const i32 x = K::near(ring + ringpos, phase);
        output<Sends>(i, 0, 1, &x);
        move(1);
        phase += inc;
        if (phase >= TONE_ONE && !read_one())
          return false;
        ++i;
        continue;
      }
      const int run = std::min(end - i, rem);
      tone_dsp::near_reader rd{ring, ringpos, 0, phase, smp + (len - rem), inc, incs};
      i32 xs[CHUNK];
      for (int k0 = 0; k0 < run; k0 += CHUNK) {
        const int c = std::min(CHUNK, run - k0);
        K::near_inputs(rd, k0, c, xs);
        output<Sends>(i, k0, c, xs);
      }
      move(run);
      phase = rd.ph;
      ringpos = (rd.rp0 - rd.got) & (TONE_RING - 1);
      rem -= static_cast<int>(rd.got);
      i += run;
    }
    return true;
  }
  // Frames at one increment above normal speed.
  template <bool Sends> [[gnu::always_inline]] bool run_wide(int i, int m) {
    const i64 g = tone_dsp::kernel_step(inc);
    i32 xs[CHUNK];
    for (int k0 = 0; k0 < m; k0 += CHUNK) {
      const int c = std::min(CHUNK, m - k0);
      for (int k = 0; k < c; ++k) {
        xs[k] = K::wide(ring + ringpos, phase, g);
        phase += inc; // constant in this run
        if (!fill()) {
          output<Sends>(i, k0, k + 1, xs);
          return false;
        }
      }
      output<Sends>(i, k0, c, xs);
    }
    move(m);
    return true;
  }
  // Frames whose increment crosses normal speed or moves above it.
  template <bool Sends> [[gnu::always_inline]] bool run_any(int i, int m) {
    for (int k = 0; k < m; ++k) {
      const i64 g = tone_dsp::kernel_step(inc);
      const i32 x = g == tone_dsp::KSTEP_NORMAL ? K::near(ring + ringpos, phase)
                                                : K::wide(ring + ringpos, phase, g);
      output<Sends>(i + k, 0, 1, &x);
      move(1);
      phase += inc;
      if (!fill())
        return false;
    }
    return true;
  }
  template <bool Sends> [[gnu::always_inline]] bool run(int i, int m) {
    // The increments this run uses: inc for its first frame, inc + m incs
    // for the phase after its last.
    const i64 last = i64{inc} + i64{m} * incs;
    if (std::max<i64>(inc, last) < TONE_ONE)
      return run_near<Sends>(i, m);
    if (incs == 0)
      return run_wide<Sends>(i, m);
    return run_any<Sends>(i, m);
  }

  static int render(const tone_ctx *c, tone *t, i32 *const bus[4], int n) {
    if (t->delay >= n) {
      t->delay -= n;
      return 1;
    }
    const int off = t->delay;
    n -= off;
    t->delay = 0;

    tone_loop s;
    const ::map *m = t->map;
    s.smp = m->samples;
    s.len = m->nsamples;
    // A loop longer than the data, or negative, would read outside it.
    s.loop = m->loop < 0 ? 0 : m->loop > s.len ? s.len : m->loop;
    s.rem = s.len - t->pos;
    s.ring = t->ring;
    s.ringpos = static_cast<unsigned>(t->ringpos);
    s.phase = t->phase;
    s.fs = {t->fa, t->fb, t->fp, t->fq};
    s.lp = static_cast<i32>(t->lpmask), s.bp = static_cast<i32>(t->bpmask),
    s.hp = static_cast<i32>(t->hpmask);
    s.revgain = t->revgain, s.chogain = t->chogain;
    s.left = bus[0] + off, s.right = bus[1] + off, s.rev = bus[2] + off, s.cho = bus[3] + off;
    s.load_values(t);
    // Sends of gain 0 add nothing.
    const bool sends = s.revgain != 0 || s.chogain != 0;

    int tt = t->events ? t->events->dt : n; // frames to the next event
    if (!s.fill())
      return 0;
    for (int i = 0; i < n;) {
      if (tt == 0) { // control-rate work, then new slopes
        s.store_values(t);
        do {
          t->events->dt = 0;
          if (!tone_event(c, t))
            return 0;
          tt = t->events ? t->events->dt : n - i;
        } while (tt == 0);
        s.load_values(t);
      }
      const int run = std::min(tt, n - i);
      if (!(sends ? s.template run<true>(i, run) : s.template run<false>(i, run)))
        return 0;
      i += run;
      tt -= run;
    }

    s.store_values(t);
    t->phase = s.phase;
    t->ringpos = static_cast<int>(s.ringpos);
    t->fa = s.fs.a;
    t->fb = s.fs.b;
    t->fp = s.fs.p;
    t->fq = s.fs.q;
    t->pos = s.len - s.rem;
    if (t->events)
      t->events->dt = tt;
    return 1;
  }
};

} // namespace
