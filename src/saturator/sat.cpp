// The saturator module: input filters, 8x interpolation into a ring of
// 64-bit values, a curve evaluated by Catmull-Rom spline, decimation back
// to the input rate, an output low-pass and a gain.
#include "saturator/sat.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "saturator/sat_dsp.h"
#include "saturator/sat_tables.h"
#include "utils/cpu.h"
#include "utils/fixed.h"

const char *const SAT_SHAPE_NAMES[15] = {
    "poly",    "atan",   "tanh",    "soft_30", "med_30", "hard_30", "soft_42", "med_42",
    "hard_42", "soft_54", "med_54", "hard_54", "soft_66", "med_66", "hard_66"};

namespace {

constexpr std::int64_t ONE = SAT_ONE;

const orka_info INFO = {1, 1, 5, "default", 0, 0, nullptr, nullptr, 0, 0, 0};

const orka_ctlinfo CTLS[5] = {
    {ORKA_CTL_NUM, 0, 128, 127, "level", "Output Level"},
    {ORKA_CTL_NUM, 0, 128, 38, "prehp", "Input Hi-Pass Freq"},
    {ORKA_CTL_NUM, 0, 128, 117, "prelp", "Input Lo-Pass Freq"},
    {ORKA_CTL_NUM, 0, 128, 117, "postlp", "Input Lo-Pass Freq"},
    {ORKA_CTL_SEL, 0, 15, 0, "wave_shape", "Wave shape function"},
};

void sat_info(orka_info *out) { *out = INFO; }

void sat_ctlinfo(int ctl, orka_ctlinfo *out) {
  if (ctl >= 0 && ctl < 5)
    *out = CTLS[ctl];
}

void sat_selinfo(int, int val, char text[ORKA_TEXTLEN]) {
  if (val >= 0 && val < 15)
    std::snprintf(text, ORKA_TEXTLEN, "%s", SAT_SHAPE_NAMES[val]);
}

// Set-up thread.  The record comes from the system allocator, cleared, and
// with the first curve selected; run does nothing until the first start.
void *sat_new(const orka_hostcb *cb, void *arg) {
  auto *s = static_cast<sat_inst *>(std::calloc(1, sizeof(sat_inst)));
  if (!s)
    return nullptr;
  if (cb)
    s->hostcb = *cb;
  s->hostarg = arg;
  s->shape = SAT_CURVES[0];
  return s;
}

void sat_del(void *inst) { std::free(inst); }

void sat_reset(void *inst) {
  auto *s = static_cast<sat_inst *>(inst);
  std::memset(s->hist, 0, sizeof s->hist);
  std::memset(s->ring, 0, sizeof s->ring);
  s->hpos = s->rpos = 0;
  for (sat_filter *f : {&s->prehp, &s->prelp, &s->postlp})
    f->state = f->prev = 0;
  s->idle = s->rest; // cleared, the state is at rest
  s->heard = 0;
}

int sat_start(void *inst, int rateidx, int) {
  auto *s = static_cast<sat_inst *>(inst);
  s->rateidx = rateidx < 0 ? 0 : (rateidx >= ORKA_NRATES ? ORKA_NRATES - 1 : rateidx);
  s->started = 1;
  s->clock = 0;
  s->vec = cpu_avx2();
  s->rest = 1;
  sat_reset(inst);
  return 1;
}

void sat_stop(void *) {}

// One-pole low-pass: state += (1 - pole) (x - state), with coef = pole - 1.
inline std::int64_t lowpass(std::int64_t state, std::int32_t x, std::int32_t coef) {
  return state - (static_cast<std::int64_t>(x) - sat_sample(state)) * coef;
}

// State that silent input leaves as it is: no history, every filter
// state within [0, 1) of a unit (its sample value 0, which a one-pole step
// with input 0 does not move), and a silent high-pass input.
bool at_rest(const sat_inst *s) {
  auto settled = [](std::int64_t v) { return v >= 0 && v < ONE; };
  if (s->prehp.prev != 0 || !settled(s->prehp.state) || !settled(s->prelp.state) ||
      !settled(s->postlp.state))
    return false;
  for (std::int32_t v : s->hist)
    if (v)
      return false;
  for (std::int64_t v : s->ring)
    if (v)
      return false;
  return true;
}

// Processes n (1 ... SAT_GRID) samples.  The history of the last 16 inputs
// and of the last 120 shaped values is copied into linear arrays, so that
// no loop below wraps: the eight oversampled values of an input are
// 16-tap sums over the input history, the decimation a 127-tap sum over
// the shaped history (the same sums as scattering each input's products
// into a ring and completing eight slots per input).
void sat_block(sat_inst *s, const std::int32_t *x, std::int32_t *y, int n) {
  std::int32_t xh[16 + SAT_GRID];
  std::int64_t sh[121 + 8 * SAT_GRID];
  // xh[u] <-> hist slot hpos - 15 + u; sh[k] <-> ring slot rpos - 112 + k.
  for (int u = 0; u < 16; ++u)
    xh[u] = s->hist[(s->hpos - 15 + u) & 15];
  for (int k = 0; k < 120; ++k)
    sh[k] = s->ring[(s->rpos - 112 + k) & 255];

  // Input high-pass and low-pass.
  std::int64_t hp = s->prehp.state, lp = s->prelp.state;
  std::int32_t hprev = s->prehp.prev;
  const std::int32_t hpc = s->prehp.coef, lpc = s->prelp.coef;
  for (int i = 0; i < n; ++i) {
    hp = hp + static_cast<std::int64_t>(sat_sample(hp)) * hpc +
         (static_cast<std::int64_t>(x[i]) - hprev) * ONE;
    hprev = x[i];
    lp = lowpass(lp, sat_sample(hp), lpc);
    xh[16 + i] = sat_sample(lp);
  }
  s->prehp.state = hp;
  s->prehp.prev = hprev;
  s->prelp.state = lp;

  // Interpolation by 8 and shaping, then decimation.
  std::int32_t z[SAT_GRID];
  sh[120 + 8 * n] = 0; // read with tap 0
  if (s->vec) {
    sat_upsample_avx2(xh, sh + 120, n, s->shape);
    sat_downsample_avx2(sh, z, n);
  } else {
    sat_upsample(xh, sh + 120, n, s->shape);
    sat_downsample(sh, z, n);
  }

  // Output low-pass and level.
  std::int64_t post = s->postlp.state;
  const std::int32_t postc = s->postlp.coef;
  const std::int64_t level = s->level;
  for (int i = 0; i < n; ++i) {
    post = lowpass(post, z[i], postc);
    y[i] = q32_adds(y[i], (level * sat_sample(post)) >> 27);
  }
  s->postlp.state = post;

  s->hpos = (s->hpos + n) & 15;
  s->rpos = (s->rpos + 8 * n) & 255;
  for (int u = 0; u < 16; ++u)
    s->hist[(s->hpos - 15 + u) & 15] = xh[n + u];
  for (int k = 0; k < 120; ++k)
    s->ring[(s->rpos - 112 + k) & 255] = sh[8 * n + k];
}

} // namespace

// Audio thread.  At rest, a silent stretch costs only the scan for its end;
// the rest check falls on a fixed grid of frames, and skipping leaves the
// state exactly as processing would, so the output does not depend on the
// block size.
void sat_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n) {
  auto *s = static_cast<sat_inst *>(inst);
  if (!s->started)
    return;
  const std::int32_t *x = in[0];
  std::int32_t *y = out[0];
  int f = 0;
  while (f < n) {
    if (s->idle) {
      int z = f;
      while (z < n && x[z] == 0)
        ++z;
      const int k = z - f;
      s->hpos = (s->hpos + k) & 15;
      s->rpos = (s->rpos + 8 * k) & 255;
      s->clock = (s->clock + k) % SAT_GRID;
      f = z;
      if (f == n)
        break;
      s->idle = 0;
    }
    const int c = std::min(n - f, SAT_GRID - s->clock);
    for (int i = 0; i < c; ++i)
      s->heard |= x[f + i];
    sat_block(s, x + f, y + f, c);
    f += c;
    s->clock += c;
    if (s->clock == SAT_GRID) {
      s->clock = 0;
      if (s->rest && !s->heard && at_rest(s))
        s->idle = 1;
      s->heard = 0;
    }
  }
}

void sat_onctl(void *inst, int ctl, int val) {
  auto *s = static_cast<sat_inst *>(inst);
  // Filter values beyond the table's columns are held at its ends.
  const int v = val < 0 ? 0 : (val > 127 ? 127 : val);
  switch (ctl) {
  case 0: s->level = v * 528416; break;
  case 1: s->prehp.coef = v == 0 ? 0 : SAT_COEF[s->rateidx][v]; break;
  case 2: s->prelp.coef = v == 127 ? -ONE : SAT_COEF[s->rateidx][v]; break;
  case 3: s->postlp.coef = v == 127 ? -ONE : SAT_COEF[s->rateidx][v]; break;
  case 4:
    if (static_cast<unsigned>(val) > 14) {
      std::fputs("sat_onctl: bad shape number\n", stderr);
      std::abort();
    }
    s->shape = SAT_CURVES[val];
    break;
  default:
    std::fprintf(stderr, "sat_onctl: %u: bad control number\n", static_cast<unsigned>(ctl));
    std::abort();
  }
}

const orka_module SAT_MODULE = {
    sat_info,  sat_ctlinfo, sat_selinfo, nullptr,    nullptr, sat_new,
    sat_del,   sat_start,   sat_stop,    sat_reset,  sat_run, sat_onctl,
    nullptr,   nullptr,     nullptr,     nullptr,    nullptr,
};
