// The reverb's signal path and instance life.
#include <cstring>
#include <initializer_list>

#include "rev/rev.h"
#include "rev/rev_tables.h"
#include "utils/alloc.h"
#include "utils/fixed.h"
#include "utils/log.h"

namespace {

constexpr std::int32_t ONE = 134217728;
constexpr std::int32_t INV_SQRT2 = 0x5A82799;

// (a * b) >> 27 kept in 64 bits (rounding toward minus infinity): sums of
// such terms are formed in 64 bits and saturated once, where they are
// stored as 32-bit samples.
inline std::int64_t mul27(std::int64_t a, std::int64_t b) { return (a * b) >> 27; }

// Delayed read with the crossfade between old and new delay (K = xfade).
inline std::int32_t xread(const std::int32_t *buf, int size, int pos, const rev_delay &d,
                          std::int32_t k) {
  int i = pos - d.old;
  if (i < 0)
    i += size;
  const std::int32_t x = buf[i];
  if (k == 0)
    return x;
  int j = pos - d.new_;
  if (j < 0)
    j += size;
  const std::int32_t y = buf[j];
  return q32_sat(x + mul27(k, y) - mul27(k, x));
}

// One-pole low-pass step lp + c (x - lp), c in Q27 (0 ... 1.0).  Rounded
// toward zero: the filters sit inside the feedback loop and the lo-cut,
// and with silent input their state must shrink to exactly 0.
inline std::int32_t lp_step(std::int32_t lp, std::int32_t c, std::int32_t x) {
  return q32_shz(std::int64_t{lp} * ONE + std::int64_t{c} * (std::int64_t{x} - lp), 27);
}

inline void step(rev_ramp &r) { r.cur += r.inc; }

inline void seg_start(rev_ramp &r, int seg) {
  r.cur = r.tgt;
  r.inc = static_cast<std::int32_t>((static_cast<std::int64_t>(r.req) - r.tgt) / seg);
  r.tgt = r.req;
}
inline void seg_start(rev_delay &d) {
  d.old = d.new_;
  d.new_ = d.req;
}

void segment_start(rev_inst *r) {
  r->seg = ORKA_RATES[r->rateidx] / 16;
  const int seg = r->seg;
  for (rev_ramp *p : {&r->out_gain, &r->byp_gain, &r->late[0], &r->late[1], &r->direct})
    seg_start(*p, seg);
  for (rev_tap &t : r->tap) {
    for (rev_ramp &g : t.gain)
      seg_start(g, seg);
    seg_start(t.dly[0]);
    seg_start(t.dly[1]);
  }
  for (rev_line &l : r->line) {
    for (int c = 0; c < 2; ++c) {
      seg_start(l.gain[c], seg);
      seg_start(l.dly[c]);
    }
  }
  r->xfade.cur = r->xfade.start;
  r->xfade.inc = static_cast<std::int32_t>(
      (static_cast<std::int64_t>(r->xfade.end) - r->xfade.start) / seg);
  r->xfade.start = r->xfade.end = 0;
}

// Largest delay of any tap in any room record, Q27 seconds.
std::int32_t largest_tap_delay() {
  std::int32_t d = 0;
  for (const auto &rec : REV_ROOMS)
    for (int t = 0; t < 25; ++t)
      for (int s = 0; s < 2; ++s)
        if (rec[3 + 6 * t + s] > d)
          d = rec[3 + 6 * t + s];
  return d;
}

void free_buffers(rev_inst *r) {
  for (rev_line &l : r->line)
    for (int c = 0; c < 2; ++c) {
      if (l.buf[c])
        xfree(l.buf[c]);
      l.buf[c] = nullptr;
      l.size[c] = 0;
    }
  for (rev_stage &s : r->stage) {
    for (auto &b : s.buf) {
      if (b)
        xfree(b);
      b = nullptr;
    }
    s.size = 0;
  }
}

} // namespace

// Set-up thread.
void *rev_new(const orka_hostcb *cb, void *arg) {
  auto *r = static_cast<rev_inst *>(xmalloc(sizeof(rev_inst), XTAG));
  std::memset(r, 0, sizeof *r);
  if (cb)
    r->hostcb = *cb;
  r->hostarg = arg;
  r->room = REV_ROOMS[40];
  return r;
}

// Set-up thread.  Also releases the buffers of an instance still started.
void rev_del(void *inst) {
  auto *r = static_cast<rev_inst *>(inst);
  free_buffers(r);
  xfree(r);
}

// Set-up thread.  Buffers are sized for the largest room, so a change of
// room never allocates; they start with random contents and a pending reset.
// The control values survive stop and start.
int rev_start(void *inst, int rateidx, int) {
  auto *r = static_cast<rev_inst *>(inst);
  free_buffers(r); // a second start without stop keeps no old buffers
  r->rateidx = rateidx < 0 ? 0 : (rateidx >= ORKA_NRATES ? ORKA_NRATES - 1 : rateidx);
  const std::int64_t rate = ORKA_RATES[r->rateidx];
  for (int k = 0; k < 16; ++k) {
    rev_line &l = r->line[k];
    for (int c = 0; c < 2; ++c) {
      int len = 0;
      for (int m = 0; m < 3; ++m) {
        int v = REV_LINES[m][c][k][1 + r->rateidx];
        if (v > len)
          len = v;
      }
      l.size[c] = len;
    }
    l.buf[0] = static_cast<std::int32_t *>(xmalloc(sizeof(std::int32_t) * l.size[0], XTAG));
    l.buf[1] = static_cast<std::int32_t *>(xmalloc(sizeof(std::int32_t) * l.size[1], XTAG));
    rnd_fill(l.buf[0], sizeof(std::int32_t) * l.size[0]);
    rnd_fill(l.buf[1], sizeof(std::int32_t) * l.size[1]);
  }
  const int slen = static_cast<int>((rate * largest_tap_delay()) >> 27) + 1;
  for (rev_stage &s : r->stage) {
    s.size = slen;
    s.buf[0] = static_cast<std::int32_t *>(xmalloc(sizeof(std::int32_t) * slen, XTAG));
    s.buf[1] = static_cast<std::int32_t *>(xmalloc(sizeof(std::int32_t) * slen, XTAG));
    rnd_fill(s.buf[0], sizeof(std::int32_t) * slen);
    rnd_fill(s.buf[1], sizeof(std::int32_t) * slen);
  }
  r->xfade.end = 0;
  // Every derived value (delays in samples, coefficients, gains) belongs to
  // the old rate: the first run recomputes them all from the control values
  // kept, whether or not the host sends the controls again, then clears the
  // buffers.
  r->dirty = REV_DIRTY_ALL;
  return 1;
}

// Set-up thread.
void rev_stop(void *inst) { free_buffers(static_cast<rev_inst *>(inst)); }

void rev_reset(void *inst) {
  auto *r = static_cast<rev_inst *>(inst);
  log_printf(2, "%s", "rev_reset");
  auto settle = [](rev_ramp &g) {
    g.cur = g.tgt = g.req;
    g.inc = 0;
  };
  for (rev_line &l : r->line)
    for (int c = 0; c < 2; ++c) {
      l.pos[c] = 0;
      if (l.size[c])
        std::memset(l.buf[c], 0, sizeof(std::int32_t) * l.size[c]);
      l.dly[c].old = l.dly[c].new_ = l.dly[c].req;
      settle(l.gain[c]);
      l.filt[c].lp = 0;
    }
  for (rev_stage &s : r->stage) {
    s.pos = 0;
    if (s.size)
      for (auto *b : s.buf)
        std::memset(b, 0, sizeof(std::int32_t) * s.size);
    s.filt[0].lp = s.filt[1].lp = 0;
  }
  for (rev_tap &t : r->tap) {
    for (rev_ramp &g : t.gain)
      settle(g);
    for (rev_delay &d : t.dly)
      d.old = d.new_ = d.req;
  }
  settle(r->late[0]);
  settle(r->late[1]);
  settle(r->direct);
  r->out_gain.tgt = r->out_gain.req;
  r->byp_gain.tgt = r->byp_gain.req;
  r->out_gain.cur = 0;
  r->byp_gain.cur = ONE;
  r->out_gain.inc = r->byp_gain.inc = 0;
  r->lc_state[0] = r->lc_state[1] = 0;
  r->lc_prev[0] = r->lc_prev[1] = 0;
  r->xfade.cur = r->xfade.start = r->xfade.end;
  r->xfade.inc = 0;
  r->seg = 0;
}

// Audio thread.  Does nothing unless started.
void rev_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n) {
  auto *r = static_cast<rev_inst *>(inst);
  if (!r->stage[0].buf[0])
    return; // before start or after stop: no buffers
  rev_update(r);
  const std::int32_t *inl = in[0], *inr = in[1];
  std::int32_t *outl = out[0], *outr = out[1];
  const int n1 = r->room[1], n2 = r->room[2];
  for (int f = 0; f < n; ++f) {
    const std::int32_t L = inl[f], R = inr[f];
    if (r->seg == 0)
      segment_start(r);
    const std::int32_t K = r->xfade.cur;

    // Direct sound from stage 0.
    std::int32_t m = q32_sat(mul27(std::int64_t{L} + R, INV_SQRT2));
    std::int32_t s = q32_sat(mul27(std::int64_t{L} - R, INV_SQRT2));
    rev_stage &s0 = r->stage[0];
    s0.buf[0][s0.pos] = m;
    s0.buf[1][s0.pos] = s;
    rev_tap &t0 = r->tap[0];
    const std::int32_t dirL =
        q32_sat(mul27(t0.gain[0].cur, xread(s0.buf[0], s0.size, s0.pos, t0.dly[0], K)) +
                mul27(t0.gain[2].cur, xread(s0.buf[1], s0.size, s0.pos, t0.dly[0], K)));
    const std::int32_t dirR =
        q32_sat(mul27(t0.gain[1].cur, xread(s0.buf[0], s0.size, s0.pos, t0.dly[1], K)) +
                mul27(t0.gain[3].cur, xread(s0.buf[1], s0.size, s0.pos, t0.dly[1], K)));
    for (rev_ramp &g : t0.gain)
      step(g);
    if (++s0.pos == s0.size)
      s0.pos = 0;

    // Early reflections of stages 1 and 2.
    std::int64_t erL = 0, erR = 0;
    int t = 1;
    for (int st = 1; st <= 2; ++st) {
      rev_stage &sg = r->stage[st];
      m = sg.filt[0].lp = lp_step(sg.filt[0].lp, sg.filt[0].lpcoef, m);
      s = sg.filt[1].lp = lp_step(sg.filt[1].lp, sg.filt[1].lpcoef, s);
      sg.buf[0][sg.pos] = m;
      sg.buf[1][sg.pos] = s;
      const int count = st == 1 ? n1 : n2;
      for (int k = 0; k < count; ++k, ++t) {
        rev_tap &tp = r->tap[t];
        erL += mul27(tp.gain[0].cur, xread(sg.buf[0], sg.size, sg.pos, tp.dly[0], K)) +
               mul27(tp.gain[2].cur, xread(sg.buf[1], sg.size, sg.pos, tp.dly[0], K));
        erR += mul27(tp.gain[1].cur, xread(sg.buf[0], sg.size, sg.pos, tp.dly[1], K)) +
               mul27(tp.gain[3].cur, xread(sg.buf[1], sg.size, sg.pos, tp.dly[1], K));
        for (rev_ramp &g : tp.gain)
          step(g);
      }
      if (++sg.pos == sg.size)
        sg.pos = 0;
    }
    r->xfade.cur += r->xfade.inc;
    const std::int32_t K2 = r->xfade.cur;

    // Feedback lines: all reads before any write.  The loop gain rounds
    // toward zero, so a silent loop dies out instead of circling.
    std::int64_t sumA = 0, sumB = 0;
    for (int k = 0; k < 16; ++k) {
      rev_line &l = r->line[k];
      std::int32_t y[2];
      for (int c = 0; c < 2; ++c) {
        const std::int32_t x = xread(l.buf[c], l.size[c], l.pos[c], l.dly[c], K2);
        l.filt[c].lp = lp_step(l.filt[c].lp, l.filt[c].lpcoef, x);
        y[c] = q32_mulz(l.gain[c].cur, l.filt[c].lp, 27);
      }
      l.out[0] = k < 8 ? y[0] : y[1];
      l.out[1] = k < 8 ? y[1] : y[0];
      sumA += l.out[0];
      sumB += l.out[1];
    }
    // Row j of the sign matrix is row m = 15 - j of the Walsh-Hadamard
    // matrix W[m][k] = (-1)^popcount(m & k), negated or not (a test checks
    // the table for this form), so the 16 sums of each channel are one fast
    // transform of the outputs, each with the sign of its row's first entry.
    std::int64_t v0[16], v1[16];
    for (int k = 0; k < 16; ++k) {
      v0[k] = r->line[k].out[0];
      v1[k] = r->line[k].out[1];
    }
    for (int h = 1; h < 16; h <<= 1)
      for (int i = 0; i < 16; i += 2 * h)
        for (int k = i; k < i + h; ++k) {
          const std::int64_t a0 = v0[k], b0 = v0[k + h], a1 = v1[k], b1 = v1[k + h];
          v0[k] = a0 + b0;
          v0[k + h] = a0 - b0;
          v1[k] = a1 + b1;
          v1[k + h] = a1 - b1;
        }
    for (int j = 0; j < 16; ++j) {
      const int m = 15 - j;
      const bool plus = REV_SIGNS[j] & 1;
      rev_line &l = r->line[j];
      l.buf[0][l.pos[0]] = q32_sat(plus ? L + v0[m] : L - v0[m]);
      l.buf[1][l.pos[1]] = q32_sat(plus ? R + v1[m] : R - v1[m]);
      if (++l.pos[0] == l.size[0])
        l.pos[0] = 0;
      if (++l.pos[1] == l.size[1])
        l.pos[1] = 0;
      step(l.gain[0]);
      step(l.gain[1]);
    }

    // Wet signal, lo-cut, output.
    const std::int32_t wL =
        q32_sat(mul27(r->late[0].cur, q32_sat(sumA)) + mul27(dirL, r->direct.cur) + q32_sat(erL));
    const std::int32_t wR =
        q32_sat(mul27(r->late[1].cur, q32_sat(sumB)) + mul27(dirR, r->direct.cur) + q32_sat(erR));
    r->lc_state[0] =
        q32_sat(std::int64_t{lp_step(r->lc_state[0], r->lc_coef, L)} - r->lc_prev[0] + wL);
    r->lc_prev[0] = wL;
    r->lc_state[1] =
        q32_sat(std::int64_t{lp_step(r->lc_state[1], r->lc_coef, R)} - r->lc_prev[1] + wR);
    r->lc_prev[1] = wR;
    outl[f] = q32_sat(mul27(r->out_gain.cur, r->lc_state[0]) + mul27(r->byp_gain.cur, L));
    outr[f] = q32_sat(mul27(r->byp_gain.cur, R) + mul27(r->out_gain.cur, r->lc_state[1]));
    for (rev_ramp *p : {&r->out_gain, &r->byp_gain, &r->late[0], &r->late[1], &r->direct})
      step(*p);
    --r->seg;
  }
}
