// The reverb's signal path and instance life.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "rev/rev.h"
#include "rev/rev_dsp.h"
#include "rev/rev_tables.h"
#include "utils/alloc.h"
#include "utils/cpu.h"
#include "utils/fixed.h"
#include "utils/log.h"

namespace {

constexpr std::int32_t ONE = REV_ONE;
constexpr std::int32_t INV_SQRT2 = 0x5A82799;

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
  // Stage rings: the largest delay plus a stretch, stored twice over (see
  // run_chunk).  The random fill covers the largest delay's length only:
  // the shared generator steps as it always has.
  const int slen = static_cast<int>((rate * largest_tap_delay()) >> 27) + 1;
  for (rev_stage &s : r->stage) {
    s.size = slen + REV_CHUNK;
    for (auto &b : s.buf) {
      b = static_cast<std::int32_t *>(xmalloc(sizeof(std::int32_t) * 2 * s.size, XTAG));
      rnd_fill(b, sizeof(std::int32_t) * slen);
    }
  }
  r->xfade.end = 0;
  // Every derived value (delays in samples, coefficients, gains) belongs to
  // the old rate: the first run recomputes them all from the control values
  // kept, whether or not the host sends the controls again, then clears the
  // buffers.
  r->dirty = REV_DIRTY_ALL;
  r->vec = cpu_avx2();
  r->rest = 1;
  r->idle = 0;
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
        std::memset(b, 0, sizeof(std::int32_t) * 2 * s.size);
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
  r->idle = r->rest; // cleared, the state is at rest
  r->heard = 0;
}

namespace {

// Where a stretch's reads start: the value `d` frames before frame 0 at
// write position `pos` of a ring of `size`.
inline int read_start(int pos, int d, int size) {
  const int i = pos - d;
  return i < 0 ? i + size : i;
}

// Copies n values of a ring from position `at` on, wrapping at `size`.
void ring_read(std::int32_t *dst, const std::int32_t *ring, int size, int at, int n) {
  const int first = std::min(n, size - at);
  std::memcpy(dst, ring + at, sizeof(std::int32_t) * first);
  std::memcpy(dst + first, ring, sizeof(std::int32_t) * (n - first));
}
void ring_write(std::int32_t *ring, int size, int at, const std::int32_t *src, int n) {
  const int first = std::min(n, size - at);
  std::memcpy(ring + at, src, sizeof(std::int32_t) * first);
  std::memcpy(ring, src + first, sizeof(std::int32_t) * (n - first));
}

// The value a ramp has k frames into a stretch.
inline std::int32_t at(const rev_ramp &g, int k) {
  return static_cast<std::int32_t>(g.cur + std::int64_t{k} * g.inc);
}

// Moves every ramp and the crossfade on by n frames.
void advance_ramps(rev_inst *r, int n) {
  for (rev_ramp *p : {&r->out_gain, &r->byp_gain, &r->late[0], &r->late[1], &r->direct})
    p->cur = at(*p, n);
  for (rev_tap &t : r->tap)
    for (rev_ramp &g : t.gain)
      g.cur = at(g, n);
  for (rev_line &l : r->line)
    for (rev_ramp &g : l.gain)
      g.cur = at(g, n);
  r->xfade.cur = static_cast<std::int32_t>(r->xfade.cur + std::int64_t{n} * r->xfade.inc);
}

// Lane c of the feedback kernels: line c & 15, channel `lane_ch(c)`.
inline int lane_ch(int c) { return (c < 16) == ((c & 15) < 8) ? 0 : 1; }

// Whether silent input would leave every value as it is: all buffers and
// filter states 0.
bool all_quiet(const rev_inst *r) {
  if (r->lc_state[0] | r->lc_state[1] | r->lc_prev[0] | r->lc_prev[1])
    return false;
  for (const rev_stage &s : r->stage) {
    if (s.filt[0].lp | s.filt[1].lp)
      return false;
    for (const std::int32_t *b : s.buf)
      for (int i = 0; i < s.size; ++i)
        if (b[i])
          return false;
  }
  for (const rev_line &l : r->line)
    for (int c = 0; c < 2; ++c) {
      if (l.filt[c].lp)
        return false;
      for (int i = 0; i < l.size[c]; ++i)
        if (l.buf[c][i])
          return false;
    }
  return true;
}

// Skips n silent frames at rest: the outputs are 0, the state stays 0, and
// only the positions and ramps move on.
void skip_quiet(rev_inst *r, std::int32_t *outl, std::int32_t *outr, int n) {
  std::memset(outl, 0, sizeof(std::int32_t) * n);
  std::memset(outr, 0, sizeof(std::int32_t) * n);
  const int spos = (r->stage[0].pos + n) % r->stage[0].size;
  for (rev_stage &s : r->stage)
    s.pos = spos;
  for (rev_line &l : r->line)
    for (int c = 0; c < 2; ++c)
      l.pos[c] = (l.pos[c] + n) % l.size[c];
  advance_ramps(r, n);
  r->seg -= n;
}

// Processes n (1 ... REV_CHUNK) frames within one segment.  All inputs of
// the stretch enter the stages before the taps read them (the rings are
// REV_CHUNK longer than the largest delay, and mirrored: every value is
// stored at p and p + size, so a stretch reads without wrapping); every
// line is longer than a stretch, so all of a stretch's line reads precede
// its writes.
void run_chunk(rev_inst *r, const std::int32_t *L, const std::int32_t *R, std::int32_t *outl,
               std::int32_t *outr, int n) {
  // Stages: mid and side, then the absorption filters of stages 1 and 2.
  const int size = r->stage[0].size, pos = r->stage[0].pos;
  {
    std::int32_t lp[4] = {r->stage[1].filt[0].lp, r->stage[1].filt[1].lp, r->stage[2].filt[0].lp,
                          r->stage[2].filt[1].lp};
    const std::int32_t c1m = r->stage[1].filt[0].lpcoef, c1s = r->stage[1].filt[1].lpcoef;
    const std::int32_t c2m = r->stage[2].filt[0].lpcoef, c2s = r->stage[2].filt[1].lpcoef;
    std::int32_t *b[6] = {r->stage[0].buf[0], r->stage[0].buf[1], r->stage[1].buf[0],
                          r->stage[1].buf[1], r->stage[2].buf[0], r->stage[2].buf[1]};
    int p = pos;
    for (int i = 0; i < n; ++i) {
      const std::int32_t m = q32_sat(rev_mul27(std::int64_t{L[i]} + R[i], INV_SQRT2));
      const std::int32_t s = q32_sat(rev_mul27(std::int64_t{L[i]} - R[i], INV_SQRT2));
      lp[0] = rev_lowpass(lp[0], c1m, m);
      lp[1] = rev_lowpass(lp[1], c1s, s);
      lp[2] = rev_lowpass(lp[2], c2m, lp[0]);
      lp[3] = rev_lowpass(lp[3], c2s, lp[1]);
      const std::int32_t v[6] = {m, s, lp[0], lp[1], lp[2], lp[3]};
      for (int k = 0; k < 6; ++k)
        b[k][p] = b[k][p + size] = v[k];
      if (++p == size)
        p = 0;
    }
    r->stage[1].filt[0].lp = lp[0];
    r->stage[1].filt[1].lp = lp[1];
    r->stage[2].filt[0].lp = lp[2];
    r->stage[2].filt[1].lp = lp[3];
    for (rev_stage &st : r->stage)
      st.pos = p;
  }

  // Taps: tap 0 gives the direct sound, the others the reflections.  A
  // crossfade reads the new delay too, unless it equals the old one (the
  // crossfade then gives the old read exactly).
  std::int64_t acc[4][REV_CHUNK] = {}; // direct A, B; reflections A, B
  const std::int32_t k0 = r->xfade.cur, kinc = r->xfade.inc;
  const bool fading = k0 != 0 || kinc != 0;
  {
    rev_tapjob jobs[50];
    int nj = 0;
    const int ntaps = 1 + r->room[1] + r->room[2];
    for (int t = 0; t < ntaps; ++t) {
      const rev_stage &st = r->stage[t == 0 ? 0 : (t <= r->room[1] ? 1 : 2)];
      const rev_tap &tp = r->tap[t];
      for (int side = 0; side < 2; ++side) {
        const rev_delay &d = tp.dly[side];
        rev_tapjob &j = jobs[nj++];
        const int ro = read_start(pos, d.old, size);
        j.mid = st.buf[0] + ro;
        j.side = st.buf[1] + ro;
        j.midn = j.siden = nullptr;
        if (fading && d.new_ != d.old) {
          const int rn = read_start(pos, d.new_, size);
          j.midn = st.buf[0] + rn;
          j.siden = st.buf[1] + rn;
        }
        const rev_ramp &gm = tp.gain[side], &gs = tp.gain[2 + side];
        j.gm = gm.cur;
        j.gm_inc = gm.inc;
        j.gs = gs.cur;
        j.gs_inc = gs.inc;
        j.acc = acc[(t == 0 ? 0 : 2) + side];
      }
    }
    (r->vec ? rev_taps_avx2 : rev_taps)(jobs, nj, n, k0, kinc);
    for (int t = 0; t < ntaps; ++t)
      for (rev_ramp &g : r->tap[t].gain)
        g.cur = at(g, n);
  }

  // Feedback lines: the stretch's delayed reads, the network, the writes.
  std::int64_t sum_a[REV_CHUNK], sum_b[REV_CHUNK];
  {
    alignas(32) std::int32_t x[32][REV_CHUNK], fb[32][REV_CHUNK], y[REV_CHUNK];
    rev_lanes st;
    const std::int32_t lk0 = static_cast<std::int32_t>(k0 + kinc); // after the stages' step
    for (int c = 0; c < 32; ++c) {
      rev_line &l = r->line[c & 15];
      const int ch = lane_ch(c);
      const rev_delay &d = l.dly[ch];
      ring_read(x[c], l.buf[ch], l.size[ch], read_start(l.pos[ch], d.old, l.size[ch]), n);
      if (fading && d.new_ != d.old) {
        ring_read(y, l.buf[ch], l.size[ch], read_start(l.pos[ch], d.new_, l.size[ch]), n);
        (r->vec ? rev_xfade_run_avx2 : rev_xfade_run)(x[c], y, n, lk0, kinc);
      }
      for (int i = n; i < (n + 7) / 8 * 8; ++i)
        x[c][i] = 0; // a vector kernel reads whole groups of eight
      st.lp[c] = l.filt[ch].lp;
      st.coef[c] = l.filt[ch].lpcoef;
      st.g[c] = l.gain[ch].cur;
      st.ginc[c] = l.gain[ch].inc;
      st.y[c] = l.out[c < 16 ? 0 : 1];
    }
    (r->vec ? rev_lines_avx2 : rev_lines)(&st, x, L, R, n, fb, sum_a, sum_b);
    for (int c = 0; c < 32; ++c) {
      rev_line &l = r->line[c & 15];
      const int ch = lane_ch(c);
      l.filt[ch].lp = st.lp[c];
      l.gain[ch].cur = st.g[c];
      l.out[c < 16 ? 0 : 1] = st.y[c];
    }
    for (int j = 0; j < 16; ++j) {
      rev_line &l = r->line[j];
      for (int ch = 0; ch < 2; ++ch) {
        ring_write(l.buf[ch], l.size[ch], l.pos[ch], fb[16 * ch + j], n);
        l.pos[ch] = (l.pos[ch] + n) % l.size[ch];
      }
    }
  }

  // Wet signal, lo-cut, output.
  std::int32_t lc0 = r->lc_state[0], lc1 = r->lc_state[1];
  std::int32_t lp0 = r->lc_prev[0], lp1 = r->lc_prev[1];
  const std::int32_t lcc = r->lc_coef;
  for (int i = 0; i < n; ++i) {
    const std::int32_t dir_l = q32_sat(acc[0][i]), dir_r = q32_sat(acc[1][i]);
    const std::int32_t direct = at(r->direct, i);
    const std::int32_t wl = q32_sat(rev_mul27(at(r->late[0], i), q32_sat(sum_a[i])) +
                                    rev_mul27(dir_l, direct) + q32_sat(acc[2][i]));
    const std::int32_t wr = q32_sat(rev_mul27(at(r->late[1], i), q32_sat(sum_b[i])) +
                                    rev_mul27(dir_r, direct) + q32_sat(acc[3][i]));
    lc0 = q32_sat(std::int64_t{rev_lowpass(lc0, lcc, L[i])} - lp0 + wl);
    lp0 = wl;
    lc1 = q32_sat(std::int64_t{rev_lowpass(lc1, lcc, R[i])} - lp1 + wr);
    lp1 = wr;
    const std::int32_t og = at(r->out_gain, i), bg = at(r->byp_gain, i);
    outl[i] = q32_sat(rev_mul27(og, lc0) + rev_mul27(bg, L[i]));
    outr[i] = q32_sat(rev_mul27(bg, R[i]) + rev_mul27(og, lc1));
  }
  r->lc_state[0] = lc0;
  r->lc_state[1] = lc1;
  r->lc_prev[0] = lp0;
  r->lc_prev[1] = lp1;
  for (rev_ramp *p : {&r->out_gain, &r->byp_gain, &r->late[0], &r->late[1], &r->direct})
    p->cur = at(*p, n);
  r->xfade.cur = static_cast<std::int32_t>(k0 + std::int64_t{n} * kinc);
  r->seg -= n;
}

} // namespace

// Audio thread.  Does nothing unless started.  Works in stretches that
// end at segment starts; at rest, silent frames are skipped up to the
// next input or segment start (skipping leaves the state exactly as
// processing would, so the output does not depend on the block size).
void rev_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n) {
  auto *r = static_cast<rev_inst *>(inst);
  if (!r->stage[0].buf[0])
    return; // before start or after stop: no buffers
  rev_update(r);
  const std::int32_t *inl = in[0], *inr = in[1];
  std::int32_t *outl = out[0], *outr = out[1];
  int f = 0;
  while (f < n) {
    if (r->seg == 0) {
      if (r->rest && !r->idle && !r->heard && all_quiet(r))
        r->idle = 1;
      r->heard = 0;
      segment_start(r);
    }
    int c = std::min(n - f, r->seg);
    if (r->idle) {
      int z = f;
      while (z < f + c && (inl[z] | inr[z]) == 0)
        ++z;
      skip_quiet(r, outl + f, outr + f, z - f);
      if (z < f + c)
        r->idle = 0;
      f = z;
      continue;
    }
    c = std::min(c, REV_CHUNK);
    for (int i = f; i < f + c; ++i)
      r->heard |= inl[i] | inr[i];
    run_chunk(r, inl + f, inr + f, outl + f, outr + f, c);
    f += c;
  }
}
