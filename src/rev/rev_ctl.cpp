// The reverb's controls: descriptions, value texts, the recomputation of
// the requested values, the settings text and the module table.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/settings.h"
#include "rev/rev.h"
#include "rev/rev_tables.h"
#include "utils/log.h"

// Slots of the signal path (rev_core.cpp).
void *rev_new(const orka_hostcb *cb, void *arg);
void rev_del(void *inst);
int rev_start(void *inst, int rateidx, int blksz);
void rev_stop(void *inst);

namespace {

constexpr std::int32_t ONE = 134217728;
constexpr int NCTLS = 9;
enum { C_BYPASS, C_MIX, C_DEPTH, C_MODEL, C_PAN, C_DIST, C_DECAY, C_HIFREQ, C_LOCUT };

const orka_info INFO = {2, 2, NCTLS, "Default", 0, 8000, "Glimra", "Room", 1, 5, 8};

const orka_ctlinfo CTLS[NCTLS] = {
    {ORKA_CTL_SWITCH, 0, 2, 0, "bypass", "Bypass"},
    {ORKA_CTL_NUM, 0, 128, 83, "mix", "Mix"},
    {ORKA_CTL_NUM, 0, 128, 27, "depth", "Diffusion"},
    {ORKA_CTL_SEL, 0, 3, 1, "model", "Room size"},
    {ORKA_CTL_SEL, 0, 17, 8, "pan", "Pan angle"},
    {ORKA_CTL_SEL, 0, 5, 0, "dist", "Distance"},
    {ORKA_CTL_NUM, 0, 128, 82, "decay", "Decay"},
    {ORKA_CTL_NUM, 0, 128, 83, "hi_freq", "Brightness"},
    {ORKA_CTL_NUM, 0, 128, 0, "lo_cut", "Lo-Bypass"},
};

const char *const MODEL_SEL[3] = {"small", "medium", "large"};
const char *const MODEL_TEXT[3] = {"Small", "Medium", "Large"};
const char *const PAN_SEL[17] = {"l200", "l175", "l150", "l125", "l100", "l075",
                                 "l050", "l025", "center", "r025", "r050", "r075",
                                 "r100", "r125", "r150", "r175", "r200"};
const char *const DIST_SEL[5] = {"d100", "d125", "d150", "d175", "d200"};

inline std::int32_t mul27(std::int64_t a, std::int64_t b) {
  return static_cast<std::int32_t>((a * b) >> 27);
}

int clampv(int ctl, int v) {
  const int hi = CTLS[ctl].nvals - 1;
  return v < 0 ? 0 : (v > hi ? hi : v);
}

const rev_valtext *text_table(int ctl, int *rows) {
  switch (ctl) {
  case C_MIX:
  case C_DEPTH: *rows = 128; return REV_TEXT_MIX;
  case C_DECAY: *rows = 128; return REV_TEXT_DECAY;
  case C_HIFREQ: *rows = 128; return REV_TEXT_HIFREQ;
  case C_LOCUT: *rows = 128; return REV_TEXT_LOCUT;
  case C_PAN: *rows = 17; return REV_TEXT_PAN;
  case C_DIST: *rows = 5; return REV_TEXT_DIST;
  default: *rows = 0; return nullptr;
  }
}

void rev_info(orka_info *out) { *out = INFO; }

void rev_ctlinfo(int ctl, orka_ctlinfo *out) {
  if (ctl >= 0 && ctl < NCTLS)
    *out = CTLS[ctl];
}

void rev_selinfo(int ctl, int val, char text[ORKA_TEXTLEN]) {
  const char *t = nullptr;
  if (ctl == C_MODEL && val >= 0 && val < 3)
    t = MODEL_SEL[val];
  else if (ctl == C_PAN && val >= 0 && val < 17)
    t = PAN_SEL[val];
  else if (ctl == C_DIST && val >= 0 && val < 5)
    t = DIST_SEL[val];
  if (t)
    std::snprintf(text, ORKA_TEXTLEN, "%s", t);
}

// Row of a sum of log-time values: row i stands for the ratio 10^(3i/64 - 5).
int index_of(std::int32_t x) {
  const int i = static_cast<int>((static_cast<std::int64_t>(x) + 0x6AAAAAA) >> 20);
  if (i < 0) {
    log_printf(1, "rev_t60func: %d: negative index", i);
    return 0;
  }
  if (i >= 128) {
    log_printf(1, "rev_t60func: %d + %d: index too large", 128, i - 128);
    return 127;
  }
  return i;
}

void rev_setout(rev_inst *r) {
  if (r->bypass) {
    r->out_gain.req = 0;
    r->byp_gain.req = ONE;
  } else {
    r->out_gain.req = REV_LOCUT[r->lo_cut][r->rateidx].gain;
    r->byp_gain.req = 0;
  }
}

void rev_setmodel(rev_inst *r) {
  for (int k = 0; k < 16; ++k)
    for (int c = 0; c < 2; ++c)
      r->line[k].dly[c].req = REV_LINES[r->model][c][k][1 + r->rateidx];
  r->xfade.end = ONE;
}

void rev_t60func(rev_inst *r) {
  std::int32_t sum[2] = {0, 0};
  for (int k = 0; k < 16; ++k)
    for (int c = 0; c < 2; ++c) {
      const std::int32_t dlog = REV_LINES[r->model][c][k][0];
      const std::int32_t g = REV_FBGAIN[index_of(dlog - REV_DECAY[r->decay])];
      r->line[k].gain[c].req = k & 1 ? g : -g;
      sum[c] += mul27(g, g);
    }
  for (int c = 0; c < 2; ++c) {
    int row = (sum[c] + 0x10000) >> 17;
    row = row < 1 ? 1 : (row > 1023 ? 1023 : row); // row 0 holds no value
    r->norm[c] = REV_NORM[row];
  }
  for (int k = 0; k < 16; ++k)
    for (int c = 0; c < 2; ++c) {
      const std::int32_t dlog = REV_LINES[r->model][c][k][0];
      r->line[k].filt[c].lpcoef =
          r->hi_freq == 127
              ? ONE
              : REV_DAMP[r->rateidx][index_of(dlog + REV_BRIGHT[r->hi_freq] - REV_DECAY[r->decay])];
    }
}

void rev_erfilter(rev_inst *r) {
  const std::int32_t coef =
      r->hi_freq == 127
          ? ONE
          : REV_DAMP[r->rateidx][index_of(r->room[282] + REV_BRIGHT[r->hi_freq] - REV_DECAY[r->decay])];
  for (rev_stage &s : r->stage)
    s.filt[0].lpcoef = s.filt[1].lpcoef = coef;
}

// Linear interpolation of a table with rows of 1/128 at a Q27 position.
std::int32_t interp(const std::int32_t *t, std::int32_t x) {
  const int i = x >> 20;
  if (i >= 128)
    return t[128];
  return t[i] + static_cast<std::int32_t>((static_cast<std::int64_t>(t[i + 1] - t[i]) * (x & 0xFFFFF)) >> 20);
}

void rev_tapgains(rev_inst *r) {
  const rev_level lv = rev_levels(r);
  const std::int32_t rho = interp(r->room + 153, lv.ref);
  std::int32_t e = ONE;
  int t = 0;
  for (int st = 0; st < 3; ++st) {
    for (int k = 0; k < r->room[st]; ++k, ++t)
      for (int j = 0; j < 4; ++j)
        r->tap[t].gain[j].req = mul27(r->room[3 + 6 * t + 2 + j], e);
    e = mul27(e, rho);
  }
}

void rev_settaps(rev_inst *r) {
  const std::int64_t rate = ORKA_RATES[r->rateidx];
  for (int t = 0; t < 25; ++t)
    for (int s = 0; s < 2; ++s)
      r->tap[t].dly[s].req = static_cast<std::int32_t>((rate * r->room[3 + 6 * t + s]) >> 27);
  if (r->tap[0].dly[1].req > 0)
    r->tap[0].dly[1].req = 0;
  else if (r->tap[0].dly[0].req > 0)
    r->tap[0].dly[0].req = 0;
  r->xfade.end = ONE;
}

} // namespace

rev_level rev_levels(const rev_inst *r) {
  const std::int32_t a = REV_MIXCURVE[r->mix], f = REV_MIXCURVE[r->depth], dc = r->room[283];
  const std::int32_t c = ONE - mul27(ONE - dc, a);
  rev_level lv;
  lv.dir = mul27(interp(REV_CIRCLE, a), c);
  const std::int32_t h = interp(REV_CIRCLE, lv.dir);
  lv.ref = mul27(interp(REV_CIRCLE, f), h);
  lv.dif = mul27(f, h);
  const std::int32_t tot = mul27(lv.dir, lv.dir) + mul27(lv.ref, lv.ref) + mul27(lv.dif, lv.dif);
  log_printf(2,
             "rev: dir = {fp:%u,%d}, ref = {fp:%u,%d}, dif = {fp:%u,%d}, tot = {fp:%u,%d}: "
             "dist_corr: {fp:%u,%d} -> {fp:%u,%d}",
             27u, lv.dir, 27u, lv.ref, 27u, lv.dif, 27u, tot, 27u, dc, 27u, c);
  return lv;
}

void rev_update(rev_inst *r) {
  const int d = r->dirty;
  if (!d)
    return;
  if (d & REV_DIRTY_MODEL)
    rev_setmodel(r);
  if (d & REV_DIRTY_T60)
    rev_t60func(r);
  if (d & REV_DIRTY_ERFILT)
    rev_erfilter(r);
  if (d & REV_DIRTY_ERGAIN)
    rev_tapgains(r);
  if (d & REV_DIRTY_TAPS)
    rev_settaps(r);
  if (d & REV_DIRTY_LATE) {
    const rev_level lv = rev_levels(r);
    for (int c = 0; c < 2; ++c)
      r->late[c].req = static_cast<std::int32_t>((static_cast<std::int64_t>(lv.dif) * r->norm[c]) >> 17);
  }
  if (d & REV_DIRTY_DIRECT)
    r->direct.req = rev_levels(r).dir;
  if (d & REV_DIRTY_OUT) {
    r->lc_coef = REV_LOCUT[r->lo_cut][r->rateidx].coef;
    rev_setout(r);
  }
  if (d & REV_DIRTY_RESET)
    rev_reset(r);
  r->dirty = 0;
}

void rev_onctl(void *inst, int ctl, int val) {
  auto *r = static_cast<rev_inst *>(inst);
  log_printf(2, "%s: %d -> %d", "rev_onctl", ctl, val);
  if (ctl < 0 || ctl >= NCTLS)
    return;
  const int v = clampv(ctl, val); // the room index must never leave the table
  switch (ctl) {
  case C_BYPASS: r->bypass = v; rev_setout(r); break;
  case C_MIX: r->mix = v; r->dirty |= 0xC8; break;
  case C_DEPTH: r->depth = v; r->dirty |= 0xC8; break;
  case C_MODEL:
  case C_PAN:
  case C_DIST:
    (ctl == C_MODEL ? r->model : ctl == C_PAN ? r->pan : r->dist) = v;
    r->room = REV_ROOMS[(r->model * 17 + r->pan) * 5 + r->dist];
    r->dirty |= ctl == C_MODEL ? 0xFE : 0xF8;
    break;
  case C_DECAY: r->decay = v; r->dirty |= 0x44; break;
  case C_HIFREQ: r->hi_freq = v; r->dirty |= 0x54; break;
  case C_LOCUT:
    r->lo_cut = v;
    r->lc_coef = REV_LOCUT[v][r->rateidx].coef;
    rev_setout(r);
    break;
  default: break;
  }
}

namespace {

void rev_printval(int ctl, int val, char text[ORKA_TEXTLEN]) {
  if (ctl < 0 || ctl >= NCTLS) {
    std::snprintf(text, ORKA_TEXTLEN, "%03d", val);
    return;
  }
  const int v = clampv(ctl, val);
  int rows;
  if (ctl == C_BYPASS)
    std::snprintf(text, ORKA_TEXTLEN, "%u", val != 0 ? 1u : 0u);
  else if (ctl == C_MODEL)
    std::snprintf(text, ORKA_TEXTLEN, "%s", MODEL_TEXT[v]);
  else
    std::snprintf(text, ORKA_TEXTLEN, "%s", text_table(ctl, &rows)[v].text);
}

// Compares a text with a room-size name, blanks skipped and case folded;
// the end of either string counts as a match.
bool model_matches(const char *t, const char *name) {
  for (;;) {
    while (*t == ' ')
      ++t;
    while (*name == ' ')
      ++name;
    if (!*t || !*name)
      return true;
    char a = *t >= 'A' && *t <= 'Z' ? static_cast<char>(*t + 32) : *t;
    char b = *name >= 'A' && *name <= 'Z' ? static_cast<char>(*name + 32) : *name;
    if (a != b)
      return false;
    ++t, ++name;
  }
}

int rev_scanval(int ctl, int *val, const char *text) {
  if (ctl == C_BYPASS) {
    char *end;
    long v = std::strtol(text, &end, 10);
    if (end == text)
      return 0;
    *val = v != 0 ? 1 : 0;
    return 1;
  }
  if (ctl == C_MODEL) {
    if (!*text)
      return 0;
    for (int k = 0; k < 3; ++k)
      if (model_matches(text, MODEL_SEL[k])) {
        *val = k;
        return 1;
      }
    return 0;
  }
  int rows;
  const rev_valtext *tab = text_table(ctl, &rows);
  if (!tab)
    return 0;
  if (ctl == C_LOCUT && !std::strcmp(text, tab[0].text)) {
    *val = 0; // "Disabled", the one text that is not a number
    return 1;
  }
  char *end;
  double x = std::strtod(text, &end);
  if (end == text)
    return 0;
  int best = 0;
  for (int k = 1; k < rows; ++k)
    if (std::fabs(tab[k].value - x) < std::fabs(tab[best].value - x))
      best = k;
  *val = best;
  return 1;
}

// Restore aliases of pan and distance.
int rev_alias(int ctl, const char *t) {
  struct {
    int ctl;
    const char *text;
    int val;
  } const aliases[] = {{C_PAN, "full_left", 0}, {C_PAN, "left", 4},   {C_PAN, "right", 12},
                       {C_PAN, "full_right", 16}, {C_DIST, "near", 0}, {C_DIST, "medium", 2},
                       {C_DIST, "far", 4}};
  for (auto &a : aliases)
    if (a.ctl == ctl && !std::strcmp(a.text, t))
      return a.val;
  return -1;
}

std::size_t rev_dump(void *, const char *preset, const int *vals, char *buf) {
  const orka_text_opts o = {"rev_dump: unknown ctl type", "%s: ignored unknown setting", nullptr};
  return orka_print_ex(&REV_MODULE, preset, vals, buf, &o);
}

std::size_t rev_restore(void *, char preset[ORKA_TEXTLEN], int *vals, const char *text,
                        std::size_t len) {
  const orka_text_opts o = {"rev_restore: unknown ctl type", "rev_restore: %s: ignored unknown setting",
                            rev_alias};
  const char *pos = text;
  std::size_t left = len;
  if (!orka_scan_ex(&REV_MODULE, preset, vals, &pos, &left, &o))
    return 0;
  return static_cast<std::size_t>(pos - text);
}

void rev_init() {
  log_open("Glimra", "Room");
  conv_register(conv_fp, "fp:%u,%d");
  conv_register(conv_su16, "su16:%p");
}

void rev_done() {
  conv_unregister(conv_fp);
  conv_unregister(conv_su16);
  log_close();
}

} // namespace

const orka_module REV_MODULE = {
    rev_info,    rev_ctlinfo, rev_selinfo, rev_init,  rev_done,    rev_new,
    rev_del,     rev_start,   rev_stop,    rev_reset, rev_run,     rev_onctl,
    nullptr,     rev_dump,    rev_restore, rev_printval, rev_scanval,
};
