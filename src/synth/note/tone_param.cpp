// Voice parameters at control rate: the event list, envelopes, LFOs, base
// glides, the amplitude ramp, and the evaluation that aims the render
// values at the next event.  Audio thread of the owning instance.
#include <climits>
#include <cstring>

#include "synth/note/tone.h"
#include "synth/note/tone_tables.h"
#include "utils/alloc.h"
#include "utils/log.h"

namespace {

constexpr std::int32_t Q27 = 1 << 27;
constexpr std::int64_t TIME_FOREVER = 127LL << 20; // longer times never end
constexpr std::int64_t LFO_MAXSTEP = 1 << 30;      // longest LFO step in samples
constexpr int P_VOL = 1;

std::int32_t clamp32(std::int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(v);
}

// Where a straight line stands after elapsed samples.
std::int32_t at(std::int32_t value, std::int32_t slope, std::int64_t elapsed) {
  return clamp32(value + elapsed * slope);
}

std::int32_t slope_of(std::int64_t from, std::int64_t to, std::int64_t n) {
  return clamp32((to - from) / n);
}

// Linear interpolation on 20 fraction bits, u >= 0; the last entry stands
// for everything at and above it.
std::int32_t interp(const std::int32_t *table, int last, std::int64_t u) {
  const auto i = static_cast<int>(u >> 20);
  if (i >= last)
    return table[last];
  const std::int64_t frac = u & 0xFFFFF;
  return table[i] + static_cast<std::int32_t>(((std::int64_t{table[i + 1]} - table[i]) * frac) >> 20);
}

int rate_of(const tone_ctx *c) { return ORKA_RATES[c->rateidx]; }
const std::int32_t *block(const tone *t, int p) { return t->par + 16 * p; }

// What the amplitude ramps toward: the velocity weight, or silence.
std::int32_t amp_target(const tone *t) { return t->muted ? 0 : t->weight; }

// The render values for the given glide, envelope, LFO and amplitude values.
tone_aim evaluate(const tone_ctx *c, const tone *t, const std::int64_t *G,
                  const std::int64_t *E, const std::int64_t *L, std::int64_t amp) {
  auto depth = [t](int p, std::int64_t l) { return (std::int64_t{block(t, p)[10]} * l) >> 27; };
  const std::int64_t pitch = G[0] + E[0] + depth(0, L[0]);
  const std::int64_t vol = G[1] + E[1] + depth(1, L[1] - Q27);
  const std::int64_t cut = G[2] + E[2] + depth(2, L[2]);
  const std::int64_t res = E[3] + depth(3, L[3] + Q27) + (t->filt != FILT_BANDREJ ? G[3] : 0);
  std::int64_t pan = G[4] + E[4] + depth(4, L[4]);
  pan = pan < 0 ? 0 : pan > Q27 ? Q27 : pan;
  tone_aim r;
  r.inc = tone_pitch2inc(pitch + TONE_PITCHOFS[c->rateidx] - t->map->pitch + (68LL << 20));
  const std::int64_t g = (std::int64_t{tone_gain(vol - t->map->volume + (127LL << 20))} * amp) >> 27;
  r.gainl = clamp32((g * (Q27 - pan)) >> 27);
  r.gainr = clamp32((g * pan) >> 27);
  tone_filtcoef(c, t, &r.filtf, &r.filtq, cut, res);
  return r;
}

bool pending(const tone *t, int kind, int idx) {
  for (const hook *h = t->events; h; h = h->next)
    if (h->kind == kind && h->idx == idx)
      return true;
  return false;
}

// An envelope segment from -> to over time tm: 1 when it runs (or stays at
// from for ever), 0 when the time is negative and it is over at once.
int envseg(const tone_ctx *c, tone *t, int p, std::int32_t from, std::int32_t to,
           std::int32_t tm) {
  tone_env &e = t->env[p];
  if (tm < 0) {
    e.value = to;
    e.time = e.slope = 0;
    return 0;
  }
  e.value = from;
  e.time = e.slope = 0;
  if (tm > TIME_FOREVER)
    return 1;
  // A length of 0 samples (short times at low rates) takes one sample.
  std::int32_t n = tone_samples(c, tm);
  if (n < 1)
    n = 1;
  e.time = n;
  e.slope = slope_of(from, to, n);
  tone_schedule(c, t, HOOK_ENV, p, n);
  return 1;
}

// Stops the envelope of parameter p at the value it has now.
void envhold(const tone_ctx *c, tone *t, int p) {
  tone_env &e = t->env[p];
  int due = 0;
  if (tone_unschedule(c, t, HOOK_ENV, p, &due))
    // A segment that ends at this very moment has reached its level:
    // alevel, dlevel, slevel or rlevel by stage.
    e.value = due > 0 ? at(e.value, e.slope, std::int64_t{e.time} - due)
                      : block(t, p)[3 + 2 * e.stage];
  e.time = e.slope = 0;
  e.stage = 3;
}

// The release of parameter p: 0 when its time refuses it (the envelope is
// then at its release level at once).
int envrel(const tone_ctx *c, tone *t, int p) {
  tone_env &e = t->env[p];
  const std::int32_t *b = block(t, p);
  const std::int32_t tm = b[8];
  // An endless release stops the envelope where it is, in any stage.
  if (tm > TIME_FOREVER) {
    envhold(c, t, p);
    return 1;
  }
  if (e.stage < 2)
    return 1; // the release starts when the decay ends
  e.stage = 3;
  int due = 0;
  if (tm < 0) {
    tone_unschedule(c, t, HOOK_ENV, p, &due);
    e.value = b[9];
    e.time = e.slope = 0;
    return 0;
  }
  std::int32_t start = b[7];
  if (tone_unschedule(c, t, HOOK_ENV, p, &due) && due > 0)
    start = at(e.value, e.slope, std::int64_t{e.time} - due);
  std::int32_t n = tone_samples(c, tm);
  if (n < 1)
    n = 1;
  e.value = start;
  e.time = n;
  e.slope = slope_of(start, b[9], n);
  tone_schedule(c, t, HOOK_ENV, p, n);
  return 1;
}

// The end of an envelope segment: 0 when the voice ends.
int env_event(const tone_ctx *c, tone *t, int p) {
  tone_env &e = t->env[p];
  const std::int32_t *b = block(t, p);
  switch (e.stage) {
  case 0:
    e.stage = 1;
    if (envseg(c, t, p, b[3], b[5], b[4]))
      return 1;
    [[fallthrough]];
  case 1:
    e.stage = 2;
    if (t->released) {
      e.value = b[5]; // the decay has reached its level
      e.time = e.slope = 0;
      return envrel(c, t, p) || p != P_VOL; // a refused release ends the voice
    }
    if (envseg(c, t, p, b[5], b[7], b[6]))
      return 1;
    [[fallthrough]];
  case 2:
    if (b[7] != b[9]) {
      e.value = b[7];
      e.time = e.slope = 0;
      return 1;
    }
    [[fallthrough]];
  default:
    e.value = b[9];
    e.time = e.slope = 0;
    return p == P_VOL ? 0 : 1;
  }
}

void lfo_start(const tone_ctx *c, tone *t, int p, int tempo) {
  tone_lfo &l = t->lfo[p];
  const std::int32_t *b = block(t, p);
  l.step = 0;
  l.value = tone_lfonext(t, p);
  const int rate = rate_of(c);
  std::int64_t steplen, frac, fracmod;
  if (b[13] > 0) { // tempo-locked: a cycle of lfoticks / 24 beats
    const std::int64_t d = std::int64_t{24000000 / rate} * 32;
    const std::int64_t n = std::int64_t{b[13]} * tempo; // 64 bits: no overflow
    steplen = n / d;
    frac = n % d;
    fracmod = d;
  } else { // free-running, never faster than 12 cycles per second
    std::int64_t n = tone_samples(c, b[11]);
    if (n < rate / 12)
      n = rate / 12;
    steplen = n / 32;
    frac = n % 32;
    fracmod = 32;
  }
  if (steplen > LFO_MAXSTEP) {
    steplen = LFO_MAXSTEP;
    frac = 0;
  }
  l.steplen = static_cast<std::int32_t>(steplen);
  l.frac = static_cast<std::int32_t>(frac < 0 ? 0 : frac);
  l.fracmod = static_cast<std::int32_t>(fracmod);
  l.fracacc = 0;
  l.time = l.steplen;
  if (l.steplen >= 1) {
    l.slope = slope_of(l.value, tone_lfonext(t, p), l.steplen);
    tone_schedule(c, t, HOOK_LFO, p, l.steplen);
  } else {
    l.slope = 0;
  }
}

void lfo_event(const tone_ctx *c, tone *t, int p) {
  tone_lfo &l = t->lfo[p];
  l.value = at(l.value, l.slope, l.time);
  l.time = l.steplen;
  l.fracacc += l.frac;
  if (l.fracacc >= l.fracmod) { // spread the remainder: exact average length
    l.fracacc -= l.fracmod;
    l.time += 1;
  }
  l.slope = slope_of(l.value, tone_lfonext(t, p), l.time);
  tone_schedule(c, t, HOOK_LFO, p, l.time);
}

// Moves a glide or the amplitude toward target over a tenth of a second,
// unless one is under way.
void ramp(const tone_ctx *c, tone *t, tone_glide &g, int kind, int idx, std::int32_t target) {
  if (pending(t, kind, idx))
    return;
  const int n = rate_of(c) / 10;
  g.time = n;
  g.target = target;
  g.slope = slope_of(g.value, target, n);
  tone_schedule(c, t, kind, idx, n);
}

void ramp_event(const tone_ctx *c, tone *t, tone_glide &g, int kind, int idx,
                std::int32_t target) {
  g.value = g.target;
  g.time = g.slope = 0;
  if (target != g.target)
    ramp(c, t, g, kind, idx, target);
}

} // namespace

std::int32_t tone_pitch2inc(std::int64_t x) {
  if (x < -(12LL << 20))
    return TONE_PITCH[0];
  if (x > (139LL << 20))
    return TONE_PITCH[151];
  return interp(TONE_PITCH, 151, x + (12LL << 20));
}

std::int32_t tone_gain(std::int64_t x) {
  if (x < -(359LL << 20))
    return 0;
  if (x >= (127LL << 20))
    return Q27;
  return interp(SYNTH_GAIN, 486, x + (359LL << 20));
}

std::int32_t tone_samples(const tone_ctx *c, std::int64_t t) {
  const std::int64_t u = t + TONE_TIMEOFS[c->rateidx];
  if (u < 0)
    return 0;
  if (u > (127LL << 20))
    return TONE_TIME[127];
  return interp(TONE_TIME, 127, u);
}

void tone_schedule(const tone_ctx *c, tone *t, int kind, int idx, int n) {
  auto *h = static_cast<hook *>(pool_get(c->hooks));
  hook **link = &t->events;
  while (*link && n >= (*link)->dt) {
    n -= (*link)->dt;
    link = &(*link)->next;
  }
  h->kind = kind;
  h->idx = idx;
  h->dt = n;
  h->next = *link;
  if (*link)
    (*link)->dt -= n;
  *link = h;
}

bool tone_unschedule(const tone_ctx *c, tone *t, int kind, int idx, int *due) {
  int sum = 0;
  for (hook **link = &t->events; *link; link = &(*link)->next) {
    hook *h = *link;
    sum += h->dt;
    if (h->kind != kind || h->idx != idx)
      continue;
    if (h->next)
      h->next->dt += h->dt;
    *link = h->next;
    pool_put(c->hooks, h);
    *due = sum;
    return true;
  }
  return false;
}

void tone_clear_events(const tone_ctx *c, tone *t) {
  while (hook *h = t->events) {
    t->events = h->next;
    pool_put(c->hooks, h);
  }
}

std::int32_t tone_lfonext(tone *t, int p) {
  const int s = t->lfo[p].step & 31;
  std::int32_t v;
  switch (block(t, p)[12]) {
  case 0: v = TONE_SINE[s]; break;
  case 1: v = s == 0 ? Q27 : 0; break;
  case 2: v = static_cast<std::int32_t>(rnd_step() >> 3) - Q27; break;
  case 3: v = rnd_step() < (1u << 28) ? Q27 : 0; break;
  case 4: v = (rnd_step() & 0x80000000u) ? Q27 : 0; break;
  case 5: v = TONE_GAUSS[s]; break;
  default:
    // A modulator pushed the shape out of range: play a sine rather than
    // stop the host; say so once per voice.
    if (!t->lfowarned) {
      log_printf(1, "tone_lfonext: bad lfo type");
      t->lfowarned = 1;
    }
    v = TONE_SINE[s];
  }
  t->lfo[p].step = (s + 1) & 31;
  return v;
}

void tone_update(const tone_ctx *c, tone *t) {
  std::int64_t G[5], E[5], L[5];
  for (int p = 0; p < 5; ++p) {
    G[p] = t->glide[p].value;
    E[p] = t->env[p].value;
    L[p] = t->lfo[p].value;
  }
  std::int64_t amp = t->amp.value;
  if (!t->events) {
    const tone_aim r = evaluate(c, t, G, E, L, amp);
    t->inc = r.inc;
    t->gainl = r.gainl;
    t->gainr = r.gainr;
    t->filtf = r.filtf;
    t->filtq = r.filtq;
    t->incslope = t->gainlslope = t->gainrslope = t->filtfslope = t->filtqslope = 0;
    t->aim = r;
    return;
  }
  const int w = t->events->dt;
  if (w == 0)
    return; // the due event comes first
  // Records with an event are taken to the moment of the first event.
  std::int64_t sum = 0;
  for (const hook *h = t->events; h; h = h->next) {
    sum += h->dt;
    const std::int64_t rest = w - sum; // elapsed = time - sum + w
    const int p = h->idx;
    switch (h->kind) {
    case HOOK_ENV: E[p] = at(t->env[p].value, t->env[p].slope, t->env[p].time + rest); break;
    case HOOK_LFO: L[p] = at(t->lfo[p].value, t->lfo[p].slope, t->lfo[p].time + rest); break;
    case HOOK_GLIDE: G[p] = at(t->glide[p].value, t->glide[p].slope, t->glide[p].time + rest); break;
    default: amp = at(t->amp.value, t->amp.slope, t->amp.time + rest); break;
    }
  }
  const tone_aim r = evaluate(c, t, G, E, L, amp);
  t->aim = r;
  t->incslope = slope_of(t->inc, r.inc, w);
  t->gainlslope = slope_of(t->gainl, r.gainl, w);
  t->gainrslope = slope_of(t->gainr, r.gainr, w);
  t->filtfslope = slope_of(t->filtf, r.filtf, w);
  t->filtqslope = slope_of(t->filtq, r.filtq, w);
}

int tone_event(const tone_ctx *c, tone *t) {
  // The slopes are rounded toward zero: land exactly where they aimed, so
  // that a gain aimed at 0 is 0.
  t->inc = t->aim.inc;
  t->gainl = t->aim.gainl;
  t->gainr = t->aim.gainr;
  t->filtf = t->aim.filtf;
  t->filtq = t->aim.filtq;
  hook *h = t->events;
  t->events = h->next;
  if (h->next)
    h->next->dt += h->dt;
  const int kind = h->kind, p = h->idx;
  pool_put(c->hooks, h);
  switch (kind) {
  case HOOK_ENV:
    if (!env_event(c, t, p))
      return 0;
    break;
  case HOOK_LFO: lfo_event(c, t, p); break;
  case HOOK_GLIDE: ramp_event(c, t, t->glide[p], HOOK_GLIDE, p, block(t, p)[0]); break;
  default: ramp_event(c, t, t->amp, HOOK_AMP, 0, amp_target(t)); break;
  }
  tone_update(c, t);
  return 1;
}

int tone_release(const tone_ctx *c, tone *t) {
  t->released = 1;
  for (int p = 0; p < 5; ++p)
    if (!envrel(c, t, p) && p == P_VOL)
      return 0;
  tone_update(c, t);
  return 1;
}

void tone_parchanged(const tone_ctx *c, tone *t) {
  for (int p = 0; p < 5; ++p)
    if (block(t, p)[0] != t->glide[p].target)
      ramp(c, t, t->glide[p], HOOK_GLIDE, p, block(t, p)[0]);
  ramp(c, t, t->amp, HOOK_AMP, 0, amp_target(t));
  tone_update(c, t);
}

void tone_start(const tone_ctx *c, tone *t, int tempo) {
  t->events = nullptr;
  t->pos = 0;
  t->phase = TONE_ONE;
  t->ringpos = 0;
  std::memset(t->ring, 0, sizeof t->ring);
  t->fa = t->fb = 0;
  t->fp = t->fq = 0;
  t->released = 0;
  t->lfowarned = 0;
  for (int p = 0; p < 5; ++p)
    lfo_start(c, t, p, tempo);
  for (int p = 0; p < 5; ++p) {
    const std::int32_t *b = block(t, p);
    tone_env &e = t->env[p];
    e.stage = 0;
    if (envseg(c, t, p, b[1], b[3], b[2]))
      continue;
    e.stage = 1;
    if (envseg(c, t, p, b[3], b[5], b[4]))
      continue;
    e.stage = 2;
    if (!envseg(c, t, p, b[5], b[7], b[6]))
      e.value = b[7];
  }
  for (int p = 0; p < 5; ++p)
    t->glide[p] = {block(t, p)[0], 0, 0, block(t, p)[0]};
  t->amp = {amp_target(t), 0, 0, amp_target(t)};
  // Set the render values as they are now, then aim them at the first event.
  hook *events = t->events;
  t->events = nullptr;
  tone_update(c, t);
  t->events = events;
  tone_update(c, t);
}
