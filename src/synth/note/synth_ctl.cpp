// The synthesizer's controls: its own six (patch, volume, pan, reverb,
// chorus, hold mode), the hosted effects' controls under prefixed names,
// then its "programs" control, last so that no earlier index moves.
#include <cstdio>
#include <cstring>

#include "chorus/cho.h"
#include "module/settings.h"
#include "rev/rev.h"
#include "saturator/sat.h"
#include "synth/note/synth.h"
#include "utils/log.h"

namespace {

struct own_ctl {
  int type, nvals, def;
  const char *name, *label;
};
constexpr own_ctl OWN[SYNTH_OWNCTLS] = {
    {ORKA_CTL_SEL, 0, 0, "patch", "Patch"},       {ORKA_CTL_NUM, 128, 127, "volume", "Volume"},
    {ORKA_CTL_NUM, 128, 64, "pan", "Pan"},        {ORKA_CTL_NUM, 128, 64, "reverb", "Reverb"},
    {ORKA_CTL_NUM, 128, 64, "chorus", "Chorus"},  {ORKA_CTL_SEL, 3, 0, "holdmode", "Hold mode"},
};
const char *const HOLD_TEXTS[3] = {"Pedal", "Bend-Wheel", "Mod-Wheel"};
constexpr own_ctl PROGRAMS = {ORKA_CTL_SEL, 2, SYNTH_PATCHCTL, "programs", "Programs"};
const char *const PROGRAMS_TEXTS[2] = {"Patch control", "Program change"};

struct fx_desc {
  const orka_module *mod;
  const char *prefix;
};
constexpr fx_desc FX[3] = {{&SAT_MODULE, "sat"}, {&REV_MODULE, "rev"}, {&CHO_MODULE, "cho"}};

// The effect (0 saturator, 1 reverb, 2 chorus) and its own index of a
// control of the synth; false past the end.
bool fx_of(int ctl, int *which, int *rel) {
  int j = ctl - SYNTH_OWNCTLS;
  if (j < 0)
    return false;
  for (int k = 0; k < 3; ++k) {
    orka_info info{};
    FX[k].mod->info(&info);
    if (j < info.nctls) {
      *which = k;
      *rel = j;
      return true;
    }
    j -= info.nctls;
  }
  return false;
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Channel level of a control value in Q20 volume steps.
std::int64_t level(int v) { return v == 0 ? VOL_OFF : std::int64_t{v - 127} << 20; }

template <typename F>
void for_main_voices(synth_chan &ch, F f) {
  for (note *n = ch.list; n; n = n->next)
    for (tone *t : n->tones)
      if (t && t->bus == 0)
        f(t);
}

} // namespace

void synth_chan_setpatch(synth *s, int c, int n) {
  synth_chan &ch = s->chan[c];
  ch.patch = n;
  const patch *p = patch_table[n];
  if (!p || p->effect == -1)
    return;
  if (p->effect != 0) {
    log_printf(1, "synth_chan_getfx: bad patch fx number");
    return;
  }
  for (int k = 0; k < fx_nctls; ++k) {
    orka_ctlinfo ci{};
    SAT_MODULE.ctlinfo(k, &ci);
    const int v = clamp(p->fxctl[k], 0, ci.nvals - 1);
    if (log_level >= 2) {
      if (ci.type == ORKA_CTL_SEL) {
        char text[ORKA_TEXTLEN] = {};
        SAT_MODULE.selinfo(k, v, text);
        log_printf(2, "%s: %s -> %s", "sat", ci.name, text);
      } else {
        log_printf(2, "%s: %s -> %d", "sat", ci.name, v);
      }
    }
    s->sat->table->onctl(s->sat->inst, k, v);
  }
  synth_chain_gains(s, &ch);
}

namespace {

void set_volume(synth *s, int c, int v) {
  synth_chan &ch = s->chan[c];
  if (v == ch.volume)
    return;
  const auto d = static_cast<std::int32_t>(level(v) - level(ch.volume));
  const tone_ctx tc = synth_tctx(s);
  for_main_voices(ch, [&](tone *t) {
    t->par[PAR_VOL] += d;
    t->muted = v == 0; // glides down, then exactly silent
    tone_parchanged(&tc, t);
  });
  ch.volume = v;
  synth_chain_gains(s, &ch);
}

void set_pan(synth *s, int c, int v) {
  synth_chan &ch = s->chan[c];
  if (v == ch.pan)
    return;
  const tone_ctx tc = synth_tctx(s);
  for_main_voices(ch, [&](tone *t) {
    t->par[PAR_PAN] += (v - ch.pan) << 20;
    tone_parchanged(&tc, t);
  });
  ch.pan = v;
}

void set_send(synth *s, int c, int v, bool reverb) {
  synth_chan &ch = s->chan[c];
  int &field = reverb ? ch.reverb : ch.chorus;
  if (v == field)
    return;
  const std::int32_t g = synth_send_gain(v);
  for_main_voices(ch, [&](tone *t) { (reverb ? t->revgain : t->chogain) = g; });
  field = v;
  synth_chain_gains(s, &ch);
}

} // namespace

int synth_patch_count() {
  int n = 1;
  for (int i = 0; i < SYNTH_PERCUSSION; ++i)
    n += patch_table[i] != nullptr;
  return n;
}

int synth_programs_ctl() {
  int n = SYNTH_OWNCTLS;
  for (const fx_desc &f : FX) {
    orka_info info{};
    f.mod->info(&info);
    n += info.nctls;
  }
  return n;
}

int synth_patch_at(int v) {
  for (int i = 0; i < SYNTH_PERCUSSION; ++i)
    if (patch_table[i] && v-- == 0)
      return i;
  return SYNTH_PERCUSSION;
}

void synth_ctlinfo(int ctl, orka_ctlinfo *out) {
  const bool programs = ctl == synth_programs_ctl();
  if ((ctl >= 0 && ctl < SYNTH_OWNCTLS) || programs) {
    const own_ctl &o = programs ? PROGRAMS : OWN[ctl];
    std::memset(out, 0, sizeof *out);
    out->type = o.type;
    out->nvals = ctl == 0 ? synth_patch_count() : o.nvals;
    out->def = o.def;
    std::snprintf(out->name, sizeof out->name, "%s", o.name);
    std::snprintf(out->label, sizeof out->label, "%s", o.label);
    return;
  }
  int which, rel;
  if (!fx_of(ctl, &which, &rel)) {
    out->label[0] = 0;
    return;
  }
  orka_ctlinfo ci{};
  FX[which].mod->ctlinfo(rel, &ci);
  ci.name[ORKA_TEXTLEN - 1] = 0;
  *out = ci;
  const int n = std::snprintf(out->name, sizeof out->name, "%s_%s", FX[which].prefix, ci.name);
  if (n >= ORKA_TEXTLEN) // the name is cut, not the host
    log_printf(1, "%s: %s: truncated", "synth_ctlinfo", out->name);
  if (which == 1 && std::strcmp(ci.name, "mix") == 0)
    out->def = 127;
}

void synth_selinfo(int ctl, int val, char text[ORKA_TEXTLEN]) {
  if (ctl == 0) {
    const int n = synth_patch_at(clamp(val, 0, synth_patch_count() - 1));
    const patch *p = n == SYNTH_PERCUSSION ? nullptr : patch_table[n];
    std::snprintf(text, ORKA_TEXTLEN, "%s", p ? p->name : "Percussions");
    return;
  }
  if (ctl == 5) {
    std::snprintf(text, ORKA_TEXTLEN, "%s", HOLD_TEXTS[clamp(val, 0, 2)]);
    return;
  }
  if (ctl == synth_programs_ctl()) {
    std::snprintf(text, ORKA_TEXTLEN, "%s", PROGRAMS_TEXTS[clamp(val, 0, 1)]);
    return;
  }
  if (ctl >= 1 && ctl <= 4) {
    log_printf(0, "%s: %d: not a selector", "synth_selinfo", ctl);
    text[0] = 0;
    return;
  }
  int which, rel;
  if (fx_of(ctl, &which, &rel) && FX[which].mod->selinfo)
    FX[which].mod->selinfo(rel, val, text);
}

void synth_onctl(void *inst, int ctl, int val) {
  auto *s = static_cast<synth *>(inst);
  if (ctl >= 0 && ctl < SYNTH_OWNCTLS) {
    if (ctl == 0) {
      const int n = synth_patch_at(clamp(val, 0, synth_patch_count() - 1));
      if (s->programs == SYNTH_PROGCHANGE) {
        synth_patchctl_programs(s, n);
        return;
      }
      s->patchctl = n;
      for (int c = 0; c < SYNTH_CHANNELS; ++c)
        synth_chan_setpatch(s, c, n);
      return;
    }
    if (ctl == 5) {
      s->holdmode = clamp(val, 0, 2);
      return;
    }
    const int v = clamp(val, 0, 127);
    for (int c = 0; c < SYNTH_CHANNELS; ++c) {
      switch (ctl) {
      case 1: set_volume(s, c, v); break;
      case 2: set_pan(s, c, v); break;
      case 3: set_send(s, c, v, true); break;
      default: set_send(s, c, v, false); break;
      }
    }
    return;
  }
  if (ctl == synth_programs_ctl()) {
    synth_set_programs(s, clamp(val, 0, 1));
    return;
  }
  int which, rel;
  if (!fx_of(ctl, &which, &rel))
    return;
  // Values outside a control's range are held at its ends: an effect may
  // not be handed a value it cannot take.
  orka_ctlinfo ci{};
  FX[which].mod->ctlinfo(rel, &ci);
  synth_fx *fx = which == 0 ? s->sat : which == 1 ? s->rev : s->cho;
  fx->table->onctl(fx->inst, rel, clamp(val, 0, ci.nvals - 1));
}

void synth_printval(int ctl, int val, char text[ORKA_TEXTLEN]) {
  log_printf(2, "%s: %d: %d", "synth_printval", ctl, val);
  if ((ctl >= 0 && ctl < SYNTH_OWNCTLS) || ctl == synth_programs_ctl()) {
    orka_printval(&SYNTH_MODULE, ctl, val, text);
    return;
  }
  int which, rel;
  if (!fx_of(ctl, &which, &rel))
    return;
  const orka_module *m = FX[which].mod;
  if (m->printval)
    m->printval(rel, val, text);
  else
    orka_printval(m, rel, val, text);
}

int synth_scanval(int ctl, int *val, const char *text) {
  log_printf(2, "%s: %d: %s", "synth_scanval", ctl, text);
  if ((ctl >= 0 && ctl < SYNTH_OWNCTLS) || ctl == synth_programs_ctl())
    return orka_scanval(&SYNTH_MODULE, ctl, val, text);
  int which, rel;
  if (!fx_of(ctl, &which, &rel))
    return 0;
  const orka_module *m = FX[which].mod;
  return m->scanval ? m->scanval(rel, val, text) : orka_scanval(m, rel, val, text);
}

std::size_t synth_print(void *, const char *preset, const int *vals, char *buf) {
  return orka_print(&SYNTH_MODULE, preset, vals, buf);
}

std::size_t synth_scan(void *, char preset[ORKA_TEXTLEN], int *vals, const char *text,
                       std::size_t len) {
  const char *pos = text;
  std::size_t left = len;
  if (!orka_scan(&SYNTH_MODULE, preset, vals, &pos, &left))
    return 0;
  return static_cast<std::size_t>(pos - text);
}
