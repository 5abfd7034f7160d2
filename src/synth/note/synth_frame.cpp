// The synthesizer's frame: library set-up, instances, the hosted effects
// and the run loop that turns one block of time into audio.
#include <cstring>
#include <initializer_list>

#include "chorus/cho.h"
#include "rev/rev.h"
#include "saturator/sat.h"
#include "synth/conf/conf.h"
#include "synth/note/synth.h"
#include "synth/note/tone_tables.h"
#include "utils/alloc.h"
#include "utils/cpu.h"
#include "utils/fixed.h"
#include "utils/log.h"

namespace {

// Length of a channel message by the status byte's high nibble.
int midi_length(int status) {
  static constexpr int LEN[8] = {3, 3, 3, 3, 2, 2, 3, 0};
  return status >= 0x80 ? LEN[(status >> 4) & 7] : 0;
}

int conv_midiev(char *out, std::size_t size, const std::int64_t *v) {
  const auto *m = reinterpret_cast<const unsigned char *>(static_cast<std::intptr_t>(v[0]));
  if (midi_length(m[0]) == 3)
    return xsnprintf(nullptr, out, size, "0x%02x 0x%02x 0x%02x", m[0], m[1], m[2]);
  return xsnprintf(nullptr, out, size, "0x%02x 0x%02x", m[0], m[1]);
}

int conv_sysex(char *out, std::size_t size, const std::int64_t *v) {
  const auto *m = reinterpret_cast<const unsigned char *>(static_cast<std::intptr_t>(v[0]));
  const auto n = static_cast<unsigned>(v[1]);
  int len = 0;
  for (unsigned i = 0; i < n; ++i) {
    const std::size_t at = static_cast<std::size_t>(len) < size ? static_cast<std::size_t>(len) : size;
    len += xsnprintf(nullptr, size > at ? out + at : nullptr, size - at, i ? " 0x%x" : "0x%x", m[i]);
  }
  if (n == 0 && size)
    out[0] = 0;
  return len;
}

int conv_mods(char *out, std::size_t size, const std::int64_t *v) {
  const auto *b = reinterpret_cast<const std::int32_t *>(static_cast<std::intptr_t>(v[0]));
  return xsnprintf(conv_call, out, size,
                   "base = {fp:%u,%d} env = [{fp:%u,%d} {fp:%u,%d} {fp:%u,%d} {fp:%u,%d} "
                   "{fp:%u,%d} {fp:%u,%d} {fp:%u,%d} {fp:%u,%d} {fp:%u,%d}]lfo = [{fp:%u,%d} "
                   "{fp:%u,%d}]",
                   20, b[0], 20, b[1], 20, b[2], 20, b[3], 20, b[4], 20, b[5], 20, b[6], 20, b[7],
                   20, b[8], 20, b[9], 20, b[10], 20, b[11]);
}

int conv_pars(char *out, std::size_t size, const std::int64_t *v) {
  const auto *b = reinterpret_cast<const std::int32_t *>(static_cast<std::intptr_t>(v[0]));
  return xsnprintf(conv_call, out, size,
                   "pitch: {mods:%p}\nvol    {mods:%p}\ncut    {mods:%p}\nres    "
                   "{mods:%p}\npan    {mods:%p}",
                   static_cast<const void *>(b), static_cast<const void *>(b + 16),
                   static_cast<const void *>(b + 32), static_cast<const void *>(b + 48),
                   static_cast<const void *>(b + 64));
}

void fx_setctl_none(void *, int, int) {}
const orka_hostcb FX_HOSTCB = {fx_setctl_none, nullptr, nullptr};

synth_fx *fx_new(const orka_module *table, const char *name) {
  auto *fx = static_cast<synth_fx *>(xmalloc(sizeof(synth_fx), XTAG));
  std::memset(fx, 0, sizeof *fx);
  fx->table = table;
  fx->name = name;
  orka_info info{};
  table->info(&info);
  fx->ninputs = info.ninputs;
  fx->noutputs = info.noutputs;
  fx->inst = table->new_(&FX_HOSTCB, nullptr);
  return fx;
}

void fx_del(synth_fx *fx) {
  fx->table->del(fx->inst);
  xfree(fx);
}

// False when the effect refuses to start (logged).
bool fx_start(synth_fx *fx, int rateidx, int blksz) {
  for (int i = 0; i < ORKA_MAXBUS; ++i) {
    fx->in[i] = i < fx->ninputs ? static_cast<std::int32_t *>(xmalloc(sizeof(std::int32_t) * blksz, XTAG)) : nullptr;
  }
  for (int i = 0; i < ORKA_MAXBUS; ++i) {
    fx->out[i] = i < fx->noutputs ? static_cast<std::int32_t *>(xmalloc(sizeof(std::int32_t) * blksz, XTAG)) : nullptr;
  }
  if (!fx->table->start(fx->inst, rateidx, blksz)) {
    log_printf(1, "%s: couldn't start orka", fx->name);
    return false;
  }
  return true;
}

void fx_free_buffers(synth_fx *fx) {
  for (int i = 0; i < ORKA_MAXBUS; ++i) {
    if (fx->in[i])
      xfree(fx->in[i]);
    if (fx->out[i])
      xfree(fx->out[i]);
    fx->in[i] = fx->out[i] = nullptr;
  }
}

void fx_stop(synth_fx *fx) {
  fx->table->stop(fx->inst);
  fx_free_buffers(fx);
}

void fx_clear(synth_fx *fx, int n) {
  for (int i = 0; i < fx->ninputs; ++i)
    std::memset(fx->in[i], 0, sizeof(std::int32_t) * n);
  for (int i = 0; i < fx->noutputs; ++i)
    std::memset(fx->out[i], 0, sizeof(std::int32_t) * n);
}

// Adds a stereo effect's output into the module's outputs.
void fx_mix(synth_fx *fx, std::int32_t *left, std::int32_t *right, int n) {
  std::int32_t *in[2] = {fx->in[0], fx->in[0]}; // the mono send feeds both inputs
  fx->table->run(fx->inst, in, fx->out, n);
  const std::int32_t *ol = fx->out[0], *orr = fx->out[1];
  for (int i = 0; i < n; ++i) {
    left[i] = q32_adds(left[i], ol[i]);
    right[i] = q32_adds(right[i], orr[i]);
  }
}

} // namespace

void synth_info(orka_info *out) {
  std::memset(out, 0, sizeof *out);
  out->noutputs = 2;
  out->preset = "default";
  int n = SYNTH_OWNCTLS;
  for (const orka_module *m : {&SAT_MODULE, &REV_MODULE, &CHO_MODULE}) {
    orka_info i{};
    m->info(&i);
    n += i.nctls;
  }
  out->nctls = n + 1; // and "programs" after the effects' controls
}

void synth_init() {
  log_open("Glimra", "Synth");
  conv_register(conv_midiev, "midiev:%p");
  conv_register(conv_sysex, "sysex:%p,%u");
  conv_register(conv_fp, "fp:%u,%d");
  conv_register(conv_mods, "mods:%p");
  conv_register(conv_pars, "pars:%p");
  // A definition in error is logged and discarded: the instrument is empty.
  conf_setup();
}

void synth_done() {
  conf_teardown();
  conv_unregister(conv_pars);
  conv_unregister(conv_mods);
  conv_unregister(conv_fp);
  conv_unregister(conv_sysex);
  conv_unregister(conv_midiev);
  log_close();
}

void *synth_new(const orka_hostcb *cb, void *arg) {
  auto *s = static_cast<synth *>(xmalloc(sizeof(synth), XTAG));
  std::memset(s, 0, sizeof *s);
  if (cb)
    s->hostcb = *cb;
  s->hostarg = arg;
  s->mastervol = -9;
  log_printf(1, "master volume: %d", s->mastervol);
  s->maxnotes = SYNTH_MAXNOTES;
  s->programs = SYNTH_PATCHCTL;
  s->patchctl = -1;
  pool_init(&s->tones, "tone", sizeof(tone), SYNTH_NTONES);
  pool_init(&s->hooks, "hook", sizeof(hook), SYNTH_NHOOKS);
  pool_init(&s->notes, "note", sizeof(note), SYNTH_MAXNOTES);
  for (int c = 0; c < SYNTH_CHANNELS; ++c)
    synth_chan_reset(s, c);
  s->rev = fx_new(&REV_MODULE, "rev");
  s->cho = fx_new(&CHO_MODULE, "cho");
  s->sat = fx_new(&SAT_MODULE, "sat");
  return s;
}

void synth_del(void *inst) {
  auto *s = static_cast<synth *>(inst);
  if (s->started) // the host may delete a running instance
    synth_stop(s);
  for (int c = 0; c < SYNTH_CHANNELS; ++c) // sounding notes go back to their pools
    synth_chan_reset(s, c);
  fx_del(s->sat);
  fx_del(s->rev);
  fx_del(s->cho);
  pool_done(&s->notes);
  pool_done(&s->hooks);
  pool_done(&s->tones);
  xfree(s);
}

int synth_start(void *inst, int rateidx, int blksz) {
  auto *s = static_cast<synth *>(inst);
  log_printf(2, "synth_start");
  if (rateidx < 0 || rateidx >= ORKA_NRATES || blksz < 0) {
    log_printf(1, "synth_start: bad rate %d or block size %d", rateidx, blksz);
    return 0;
  }
  if (s->started) // start is for a stopped instance; keep no buffers twice
    synth_stop(s);
  s->rateidx = rateidx;
  s->blksz = blksz;
  s->vec = cpu_avx2() ? 1 : 0;
  for (synth_fx *fx : {s->rev, s->cho, s->sat})
    if (!fx_start(fx, rateidx, blksz)) {
      // Unwind what did start; the instance stays stopped.
      for (synth_fx *f : {s->rev, s->cho, s->sat}) {
        if (f == fx) { // it has buffers but did not start
          fx_free_buffers(f);
          break;
        }
        fx_stop(f);
      }
      return 0;
    }
  s->started = 1;
  log_printf(2, "synth_start: done");
  return 1;
}

void synth_stop(void *inst) {
  auto *s = static_cast<synth *>(inst);
  log_printf(2, "synth_stop");
  if (!s->started)
    return;
  for (synth_fx *fx : {s->sat, s->rev, s->cho})
    fx_stop(fx);
  s->started = 0;
}

void synth_reset(void *inst) {
  auto *s = static_cast<synth *>(inst);
  log_printf(2, "synth_reset");
  for (synth_fx *fx : {s->rev, s->cho, s->sat})
    fx->table->reset(fx->inst);
}

void synth_fx_gain(synth *, int v, int *g, std::int32_t *q) {
  if (v < -359)
    *g = 0;
  else if (v >= 127)
    *g = 128;
  else
    *g = SYNTH_GAIN[v + 359] / (1 << 20);
  *q = *g * 1056832;
}

void synth_chain_gains(synth *s, const synth_chan *ch) {
  synth_fx *f = s->sat;
  auto set = [s](int value, int steps, int *g, std::int32_t *q) {
    if (value == 0) {
      *g = 0;
      *q = 0;
    } else {
      synth_fx_gain(s, steps, g, q);
    }
  };
  set(ch->volume, s->mastervol + ch->volume, &f->level, &f->level_q);
  set(ch->reverb, ch->reverb, &f->revsend, &f->revsend_q);
  set(ch->chorus, ch->chorus, &f->chosend, &f->chosend_q);
}

void synth_tone_delete(synth *s, tone *t) {
  const tone_ctx c = synth_tctx(s);
  tone_clear_events(&c, t);
  log_printf(2, "%s: deleted", t->map->path ? t->map->path : "");
  pool_put(&s->tones, t);
}

void synth_note_removed(synth *s, note *n) {
  pool_put(&s->notes, n);
  --s->nnotes;
  if (s->nnotes == 0 && s->nkilled > 0) {
    log_printf(1, "max polyphony reached, killed %u notes", static_cast<unsigned>(s->nkilled));
    s->nkilled = 0;
  }
}

namespace {

void run_block(synth *s, std::int32_t *left, std::int32_t *right, int n) {
  for (synth_fx *fx : {s->sat, s->rev, s->cho})
    fx_clear(fx, n);
  std::int32_t *const bus_main[4] = {left, right, s->rev->in[0], s->cho->in[0]};
  std::int32_t *const bus_fx[4] = {s->sat->in[0], s->sat->in[0], s->rev->in[0], s->cho->in[0]};
  const tone_ctx c = synth_tctx(s);

  for (synth_chan &ch : s->chan) {
    for (note **link = &ch.list; *link;) {
      note *nt = *link;
      bool alive = false;
      for (tone *&t : nt->tones) {
        if (!t)
          continue;
        // Voices are created with bus 0 or 4 only.
        if (!tone_run(&c, t, t->bus == 4 ? bus_fx : bus_main, n)) {
          synth_tone_delete(s, t);
          t = nullptr;
        } else {
          alive = true;
        }
      }
      if (alive) {
        link = &nt->next;
      } else {
        *link = nt->next;
        synth_note_removed(s, nt);
      }
    }
  }

  // The effect chain: saturator, then level and sends after it.
  synth_fx *sat = s->sat;
  sat->table->run(sat->inst, sat->in, sat->out, n);
  const std::int32_t *so = sat->out[0];
  std::int32_t *rv = s->rev->in[0], *ch = s->cho->in[0];
  const std::int64_t lq = sat->level_q, rq = sat->revsend_q, cq = sat->chosend_q;
  for (int i = 0; i < n; ++i) {
    const std::int64_t h = (so[i] * lq) >> 27;
    left[i] = q32_adds(left[i], h);
    right[i] = q32_adds(right[i], h);
    rv[i] = q32_adds(rv[i], (h * rq) >> 27);
    ch[i] = q32_adds(ch[i], (h * cq) >> 27);
  }
  fx_mix(s->rev, left, right, n);
  fx_mix(s->cho, left, right, n);
}

} // namespace

void synth_run(void *inst, std::int32_t *const *, std::int32_t *const *out, int n) {
  auto *s = static_cast<synth *>(inst);
  if (!s->started || n < 0)
    return;
  if (n == 0 || s->blksz == 0) {
    for (synth_fx *fx : {s->sat, s->rev, s->cho})
      fx->table->run(fx->inst, fx->in, fx->out, 0);
    return;
  }
  // More frames than the block size given to start are rendered in pieces;
  // the result is the same for any split.
  for (int done = 0; done < n; done += s->blksz) {
    const int m = n - done < s->blksz ? n - done : s->blksz;
    run_block(s, out[0] + done, out[1] + done, m);
  }
}

const orka_module SYNTH_MODULE = {
    synth_info,   synth_ctlinfo, synth_selinfo, synth_init,     synth_done,  synth_new,
    synth_del,    synth_start,   synth_stop,    synth_reset,    synth_run,   synth_onctl,
    synth_midi,   synth_print,   synth_scan,    synth_printval, synth_scanval,
};
