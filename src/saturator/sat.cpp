// The saturator module: input filters, 8x interpolation into a ring of
// 64-bit values, a curve evaluated by Catmull-Rom spline, decimation back
// to the input rate, an output low-pass and a gain.
#include "saturator/sat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "saturator/sat_tables.h"
#include "utils/fixed.h"

const char *const SAT_SHAPE_NAMES[15] = {
    "poly",    "atan",   "tanh",    "soft_30", "med_30", "hard_30", "soft_42", "med_42",
    "hard_42", "soft_54", "med_54", "hard_54", "soft_66", "med_66", "hard_66"};

namespace {

constexpr std::int64_t ONE = 134217728; // 1.0 in Q27

const orka_info INFO = {1, 1, 5, "default", 0, 0, nullptr, nullptr, 0, 0, 0};

const orka_ctlinfo CTLS[5] = {
    {ORKA_CTL_NUM, 0, 128, 127, "level", "Output Level"},
    {ORKA_CTL_NUM, 0, 128, 38, "prehp", "Input Hi-Pass Freq"},
    {ORKA_CTL_NUM, 0, 128, 117, "prelp", "Input Lo-Pass Freq"},
    {ORKA_CTL_NUM, 0, 128, 117, "postlp", "Input Lo-Pass Freq"},
    {ORKA_CTL_SEL, 0, 15, 0, "wave_shape", "Wave shape function"},
};

inline std::int32_t lo32(std::int64_t v) { return static_cast<std::int32_t>(v); }
// A 64-bit value in units of 2^-27 of a sample as a sample, saturated: a
// high-pass output or an oversampled value may lie beyond the 32-bit range.
inline std::int32_t sample_of(std::int64_t v) { return q32_sat(v >> 27); }

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
}

int sat_start(void *inst, int rateidx, int) {
  auto *s = static_cast<sat_inst *>(inst);
  s->rateidx = rateidx < 0 ? 0 : (rateidx >= ORKA_NRATES ? ORKA_NRATES - 1 : rateidx);
  s->started = 1;
  sat_reset(inst);
  return 1;
}

void sat_stop(void *) {}

// One-pole low-pass: state += (1 - pole) (x - state), with coef = pole - 1.
inline std::int64_t lowpass(std::int64_t state, std::int32_t x, std::int32_t coef) {
  return state - (static_cast<std::int64_t>(x) - sample_of(state)) * coef;
}

// The curve at an oversampled value v (Q27), as sample x 2^27.
inline std::int64_t shape_value(const std::int32_t *S, std::int32_t v) {
  if (v < -ONE)
    return static_cast<std::int64_t>(S[2]) * ONE;
  if (v >= ONE) // v = 1.0 exactly needs no interpolation
    return static_cast<std::int64_t>(S[1026]) * ONE;
  std::int64_t u = static_cast<std::int64_t>(v) + ONE;
  std::int64_t i = u >> 18;
  std::int64_t t = (u & 0x3FFFF) << 9;
  std::int64_t t2 = (t * t) >> 27;
  std::int64_t t3 = (t * t2) >> 27;
  std::int64_t r = S[i + 1] * (2 * t2 - t - t3) + S[i + 2] * (3 * t3 - 5 * t2 + 2 * ONE) +
                   S[i + 3] * (4 * t2 - 3 * t3 + t) + S[i + 4] * (t3 - t2);
  return r / 2;
}

} // namespace

void sat_run(void *inst, std::int32_t *const *in, std::int32_t *const *out, int n) {
  auto *s = static_cast<sat_inst *>(inst);
  if (!s->started)
    return;
  const std::int32_t *x = in[0];
  std::int32_t *y = out[0];
  const std::int32_t *h = SAT_FIR;
  const std::int32_t *S = s->shape;
  std::int64_t *ring = s->ring;
  std::int32_t *hist = s->hist;
  std::int64_t hp = s->prehp.state, lp = s->prelp.state, post = s->postlp.state;
  std::int32_t hprev = s->prehp.prev;
  const std::int32_t hpc = s->prehp.coef, lpc = s->prelp.coef, postc = s->postlp.coef;
  const std::int64_t level = s->level;
  int hpos = s->hpos, rpos = s->rpos;

  for (int i = 0; i < n; ++i) {
    // Input high-pass and low-pass.
    hp = hp + static_cast<std::int64_t>(sample_of(hp)) * hpc +
         (static_cast<std::int64_t>(x[i]) - hprev) * ONE;
    hprev = x[i];
    lp = lowpass(lp, sample_of(hp), lpc);
    ++hpos;
    hist[hpos & 15] = sample_of(lp);

    // Interpolation by 8, scattered into the ring.
    for (int k = 0; k < 8; ++k)
      ring[(rpos + 128 + k) & 255] = 0;
    rpos += 8;
    const int P = rpos;
    for (int k = 0; k < 8; ++k) {
      const std::int64_t smp = hist[(hpos - k) & 15];
      for (int j = 0; j < 8; ++j) {
        const std::int64_t a = smp * h[8 * k + j];
        ring[(P + j) & 255] += a;
        ring[(P + 128 - 16 * k - j) & 255] += a;
      }
    }
    ring[P & 255] += static_cast<std::int64_t>(hist[(hpos - 8) & 15]) * h[64];

    // Shaping of the eight finished slots.
    for (int j = 0; j < 8; ++j) {
      std::int64_t &slot = ring[(P + j) & 255];
      slot = shape_value(S, sample_of(slot));
    }

    // Decimation, centred on slot P - 56 (tap 0 is zero and skipped).  The
    // shaped slots hold curve values of about 1.0 at most, so their 32-bit
    // parts cannot wrap.
    std::int64_t sum = static_cast<std::int64_t>(h[64]) * lo32(ring[(P - 56) & 255] >> 27);
    for (int m = 1; m < 64; ++m)
      sum += static_cast<std::int64_t>(h[m]) *
             lo32((ring[(P + 8 - m) & 255] + ring[(P - 120 + m) & 255]) >> 27);
    const std::int32_t z = lo32((sum / 8) >> 27);

    // Output low-pass and level.
    post = lowpass(post, z, postc);
    y[i] = q32_adds(y[i], (level * sample_of(post)) >> 27);
  }

  s->prehp.state = hp;
  s->prehp.prev = hprev;
  s->prelp.state = lp;
  s->postlp.state = post;
  s->hpos = hpos & 15; // only the history slot matters
  s->rpos = rpos & 255; // only positions mod 256 matter
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
