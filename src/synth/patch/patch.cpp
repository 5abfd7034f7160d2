// Patches and drum keys: defaults, layer parameters and dependencies, and
// the effect settings a patch carries.
#include "synth/patch/patch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "saturator/sat.h"
#include "utils/alloc.h"
#include "utils/log.h"

patch *patch_table[PATCH_MAX] = {};
patch *drumkey_table[PATCH_MAX] = {};
int fx_nctls = 0;

namespace {

unsigned g_defined = 0; // patches and drum keys made so far: their order

// Default values of one parameter's 16 slots.  The release levels of all
// but the volume equal the sustain level (0, added to the base), so that
// a voice released at once keeps its pitch, filter and pan.
struct par_defaults {
  std::int32_t base, ilevel, rlevel;
};
constexpr par_defaults PAR_DEFAULTS[5] = {
    {64 * Q20_ONE, 0, 0},              // pitch
    {127 * Q20_ONE, PAR_OFF, PAR_OFF}, // vol
    {64 * Q20_ONE, 0, 0},              // cut
    {0, PAR_OFF, 0},                   // res
    {64 * Q20_ONE, 64 * Q20_ONE, 0},   // pan
};

struct dep_default {
  int source, slot;
  std::int32_t amount;
};
constexpr dep_default PATCH_DEPS[] = {
    {SRC_KEY, PAR_PITCH + MOD_BASE, 128 * Q20_ONE},
    {SRC_VEL, PAR_VOL + MOD_BASE, 128 * Q20_ONE},
    {SRC_EXPR, PAR_VOL + MOD_BASE, 128 * Q20_ONE},
    {SRC_BEND, PAR_PITCH + MOD_BASE, 2 * Q20_ONE},
    {SRC_MOD, PAR_PITCH + MOD_LFO, Q20_ONE},
};
constexpr dep_default DRUM_DEPS[] = {
    {SRC_VEL, PAR_VOL + MOD_BASE, Q20_ONE},
};

void layer_init(layer *l, bool drum) {
  std::memset(l, 0, sizeof *l);
  l->wave = -1;
  for (int p = 0; p < 5; ++p) {
    std::int32_t *s = l->par + 16 * p;
    s[MOD_BASE] = PAR_DEFAULTS[p].base;
    s[MOD_ILEVEL] = PAR_DEFAULTS[p].ilevel;
    s[MOD_RLEVEL] = PAR_DEFAULTS[p].rlevel;
    s[MOD_ATIME] = s[MOD_DTIME] = s[MOD_STIME] = s[MOD_RTIME] = PAR_NOTIME;
    s[MOD_LFOTIME] = 67 * Q20_ONE;
  }
  l->shape[2] = l->shape[3] = 127;
  for (layer_dep &d : l->deps)
    d = {CONF_UNSET, 0, 0};
  if (drum) {
    l->release = 1;
    for (const dep_default &d : DRUM_DEPS)
      layer_setdep(l, d.source, d.slot, d.amount);
  } else {
    for (const dep_default &d : PATCH_DEPS)
      layer_setdep(l, d.source, d.slot, d.amount);
  }
}

patch *make(patch **table, int number, bool drum) {
  if (table[number])
    xfree(table[number]);
  auto *p = static_cast<patch *>(xmalloc(sizeof(patch) + sizeof(std::int32_t) * fx_nctls, XTAG));
  p->fxctl = reinterpret_cast<std::int32_t *>(p + 1);
  std::memset(p->name, 0, sizeof p->name);
  for (int i = 0; i < fx_nctls; ++i)
    p->fxctl[i] = CONF_UNSET;
  for (layer &l : p->layers)
    layer_init(&l, drum);
  p->tempo = 500000;
  p->ckey = -1;
  p->effect = -1;
  p->order = ++g_defined;
  std::snprintf(p->name, sizeof p->name, drum ? "k%03u" : "p%03u", static_cast<unsigned>(number));
  table[number] = p;
  return p;
}

// True when another patch than self, or the drum kit's entry, has the name.
bool name_taken(const char *name, const patch *self) {
  if (std::strcmp(name, PATCH_KIT_NAME) == 0)
    return true;
  for (const patch *q : patch_table)
    if (q && q != self && std::strcmp(q->name, name) == 0)
      return true;
  return false;
}

// True when a patch defined before p, or the drum kit's entry, has its name.
bool name_used_before(const patch *p) {
  if (std::strcmp(p->name, PATCH_KIT_NAME) == 0)
    return true;
  for (const patch *q : patch_table)
    if (q && q->order < p->order && std::strcmp(q->name, p->name) == 0)
      return true;
  return false;
}

// The name with suffix appended, cut before it at a character boundary so
// that the whole fits the name field.
void with_suffix(char out[ORKA_TEXTLEN], const char *name, const char *suffix) {
  const std::size_t room = PATCH_NAMELEN - std::strlen(suffix);
  std::size_t n = std::strlen(name);
  if (n > room) {
    n = room;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
      --n; // name[n] continues a character: cut before its start
  }
  std::snprintf(out, ORKA_TEXTLEN, "%.*s%s", static_cast<int>(n), name, suffix);
}

} // namespace

int patch_unique_names() {
  // Programs in the order their patches were defined.
  int progs[PATCH_MAX], n = 0;
  for (int i = 0; i < PATCH_MAX; ++i)
    if (patch_table[i])
      progs[n++] = i;
  std::sort(progs, progs + n,
            [](int a, int b) { return patch_table[a]->order < patch_table[b]->order; });
  int renamed = 0;
  for (int k = 0; k < n; ++k) {
    patch *p = patch_table[progs[k]];
    if (!name_used_before(p))
      continue;
    char name[ORKA_TEXTLEN];
    for (int again = 1;; ++again) {
      char suffix[24];
      if (again == 1)
        std::snprintf(suffix, sizeof suffix, " %d", progs[k]);
      else
        std::snprintf(suffix, sizeof suffix, " %d-%d", progs[k], again);
      with_suffix(name, p->name, suffix);
      if (!name_taken(name, p))
        break;
    }
    log_printf(1, "patch %d: name \"%s\" already taken, renamed \"%s\"", progs[k], p->name, name);
    std::memcpy(p->name, name, sizeof p->name);
    ++renamed;
  }
  return renamed;
}

patch *patch_new(int program) { return make(patch_table, program, false); }
patch *drumkey_new(int key) { return make(drumkey_table, key, true); }

void patch_free_all() {
  for (int i = 0; i < PATCH_MAX; ++i) {
    if (patch_table[i])
      xfree(patch_table[i]);
    if (drumkey_table[i])
      xfree(drumkey_table[i]);
    patch_table[i] = drumkey_table[i] = nullptr;
  }
}

layer *patch_addlayer(patch *p) {
  for (layer &l : p->layers)
    if (l.wave == -1)
      return &l;
  return nullptr;
}

const orka_module *patch_setfx(patch *p, const char *name) {
  if (std::strcmp(name, "sat") != 0)
    return nullptr;
  const orka_module *mod = &SAT_MODULE;
  p->effect = 0;
  for (int i = 0; i < fx_nctls; ++i) {
    orka_ctlinfo ci{};
    mod->ctlinfo(i, &ci);
    p->fxctl[i] = ci.def;
  }
  return mod;
}

void patch_setfxctl(patch *p, int ctl, int value) {
  if (ctl >= 0 && ctl < fx_nctls)
    p->fxctl[ctl] = value;
}

int fx_ctlbyname(const orka_module *mod, const char *name) {
  orka_info info{};
  mod->info(&info);
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    mod->ctlinfo(i, &ci);
    ci.name[ORKA_TEXTLEN - 1] = '\0';
    if (std::strcmp(ci.name, name) == 0)
      return i;
  }
  return -1;
}

int fx_ctltype(const orka_module *mod, int ctl) {
  orka_ctlinfo ci{};
  mod->ctlinfo(ctl, &ci);
  return ci.type;
}

int fx_selbyname(const orka_module *mod, int ctl, const char *name) {
  orka_ctlinfo ci{};
  mod->ctlinfo(ctl, &ci);
  for (int v = 0; v < ci.nvals; ++v) {
    char text[ORKA_TEXTLEN] = {};
    mod->selinfo(ctl, v, text);
    text[ORKA_TEXTLEN - 1] = '\0';
    if (std::strcmp(text, name) == 0)
      return v;
  }
  return -1;
}

void layer_setpar(layer *l, int slot, std::int32_t value) {
  if (slot < 0 || slot >= LAYER_NPARS)
    return;
  const int mod = slot % 16;
  const bool is_time = mod == MOD_ATIME || mod == MOD_DTIME || mod == MOD_STIME || mod == MOD_RTIME;
  const bool is_vol_level =
      slot >= PAR_VOL && slot < PAR_VOL + 16 &&
      (mod == MOD_BASE || mod == MOD_ILEVEL || mod == MOD_ALEVEL || mod == MOD_DLEVEL ||
       mod == MOD_SLEVEL || mod == MOD_RLEVEL);
  if (is_time && value == 0)
    value = PAR_NOTIME;
  else if (is_time && value == 127 * Q20_ONE)
    value = PAR_FOREVER;
  else if (is_vol_level && value <= -127 * Q20_ONE)
    value = PAR_OFF;
  l->par[slot] = value;
}

bool layer_setdep(layer *l, int source, int slot, std::int32_t amount) {
  for (layer_dep &d : l->deps)
    if (d.source == source && d.slot == slot) {
      d.amount = amount;
      return true;
    }
  if (amount == 0)
    return true;
  for (layer_dep &d : l->deps)
    if (d.amount == 0) {
      d = {source, amount, slot};
      return true;
    }
  return false;
}
