// Notes: note on with a voice per layer, note off and release, cut keys,
// the 64-note limit with stealing, and velocity weights.  Audio thread of
// the instance.
#include <cstring>

#include "synth/note/synth.h"
#include "synth/wave/wave.h"
#include "utils/alloc.h"
#include "utils/log.h"

namespace {

// Removes every voice of a note.
void delete_tones(synth *s, note *n) {
  for (tone *&t : n->tones)
    if (t) {
      synth_tone_delete(s, t);
      t = nullptr;
    }
}

tone *start_layer(synth *s, const synth_chan &ch, note *n, int i, std::int64_t keypitch) {
  const patch *p = n->patch;
  const layer &l = p->layers[i];
  if (l.wave < 0 || l.wave >= WAVE_MAX || !wave_table[l.wave])
    return nullptr;
  const ::map *m = map_find(wave_table[l.wave], n->key, n->vel);
  if (!m)
    return nullptr;
  auto *t = static_cast<tone *>(pool_get(&s->tones));
  std::memset(t, 0, sizeof *t);
  t->map = m;
  std::memcpy(t->par, l.par, sizeof t->par);
  t->bus = l.output == 4 ? 4 : 0;
  if (t->bus == 0) {
    const std::int64_t vol = ch.volume == 0 ? VOL_OFF : std::int64_t{ch.volume - 127} << 20;
    t->par[PAR_VOL] = static_cast<std::int32_t>(t->par[PAR_VOL] + vol + (std::int64_t{s->mastervol} << 20));
    t->muted = ch.volume == 0;
    t->revgain = synth_send_gain(ch.reverb);
    t->chogain = synth_send_gain(ch.chorus);
  }
  if (ch.patch != SYNTH_PERCUSSION)
    synth_apply_deps(t, l, SRC_KEY, keypitch);
  synth_apply_deps(t, l, SRC_VEL, std::int64_t{n->vel - 127} << 20);
  synth_apply_deps(t, l, SRC_CAT, std::int64_t{ch.pressure} << 20);
  synth_apply_deps(t, l, SRC_BEND, (std::int64_t{ch.bend} - 8192) << 14);
  synth_apply_deps(t, l, SRC_MOD, std::int64_t{ch.mod} << 20);
  synth_apply_deps(t, l, SRC_EXPR, std::int64_t{ch.expr - 127} << 20);
  t->par[PAR_PAN] += (ch.pan - 64) << 20;
  t->weight = synth_weight(n, i, n->vel);
  tone_setfilt(t, l.filter);
  const int rate = ORKA_RATES[s->rateidx];
  const std::int64_t delay = std::int64_t{p->tempo} * l.delay / (24000000 / rate);
  t->delay = delay < 0 ? 0 : delay > (1 << 30) ? (1 << 30) : static_cast<int>(delay);
  const tone_ctx c = synth_tctx(s);
  tone_start(&c, t, p->tempo);
  log_printf(2, "%s: output = %u\n{pars:%p}", m->path ? m->path : "", static_cast<unsigned>(t->bus),
             static_cast<const void *>(t->par));
  return t;
}

} // namespace

std::int32_t synth_send_gain(int value) {
  return value == 0 ? 0 : tone_gain(std::int64_t{value} << 20);
}

void synth_apply_deps(tone *t, const layer &l, int source, std::int64_t value) {
  for (const layer_dep &d : l.deps)
    if (d.source == source && d.slot >= 0 && d.slot < TONE_NPARS)
      t->par[d.slot] += static_cast<std::int32_t>((std::int64_t{d.amount} * value) >> 27);
}

std::int32_t synth_weight(const note *n, int i, int v) {
  const int *sh = n->patch->layers[i].shape;
  std::int32_t w;
  if (v < sh[0])
    w = 0;
  else if (v < sh[1])
    w = (v - sh[0]) * ((1 << 27) / (sh[1] - sh[0]));
  else if (v <= sh[2])
    w = 1 << 27;
  else if (v < sh[3])
    w = ((1 << 27) / (sh[3] - sh[2])) * (sh[3] - v);
  else
    w = 0;
  log_printf(3, "weight[%u] = {fp:%u,%d}", static_cast<unsigned>(i), 27u, w);
  return w;
}

note *synth_notealloc(synth *s) {
  if (s->nnotes != s->maxnotes) {
    ++s->nnotes;
    return static_cast<note *>(pool_get(&s->notes));
  }
  if (s->nkilled == 0)
    log_printf(1, "%d notes reached, dropping", s->maxnotes);
  int best = -1, longest = 0;
  for (int c = 0; c < SYNTH_CHANNELS; ++c) {
    int len = 0;
    for (const note *n = s->chan[c].list; n; n = n->next)
      ++len;
    if (len > longest) {
      longest = len;
      best = c;
    }
  }
  note **link = &s->chan[best].list;
  while ((*link)->next)
    link = &(*link)->next;
  note *victim = *link;
  *link = nullptr;
  delete_tones(s, victim);
  log_printf(2, "killed chan = 0x%x, key = 0x%x, vel = 0x%x", static_cast<unsigned>(best),
             static_cast<unsigned>(victim->key), static_cast<unsigned>(victim->vel));
  ++s->nkilled;
  return victim;
}

void synth_noteon(synth *s, int c, int key, int velocity) {
  synth_chan &ch = s->chan[c];
  const int vel = ch.breath > 0 ? ch.breath : velocity;
  const patch *p = ch.patch == SYNTH_PERCUSSION ? drumkey_table[key] : patch_table[ch.patch & 127];
  if (!p)
    return;
  for (note **link = &ch.list; *link;) {
    if ((*link)->key == p->ckey)
      link = synth_noterelease(s, link, true);
    else
      link = &(*link)->next;
  }
  note *n = synth_notealloc(s);
  std::memset(n, 0, sizeof *n);
  n->state = NOTE_ON;
  n->key = key;
  n->vel = vel;
  n->patch = p;
  n->follow = ch.breath > 0 ? 1 : 0;
  const std::int64_t keypitch = (std::int64_t{key - 64} << 20) + s->tune[key];
  for (int i = 0; i < PATCH_LAYERS; ++i)
    n->tones[i] = start_layer(s, ch, n, i, keypitch);
  n->next = ch.list;
  ch.list = n;
}

void synth_noteoff(synth *s, int c, int key) {
  synth_chan &ch = s->chan[c];
  for (note **link = &ch.list; *link; link = &(*link)->next) {
    note *n = *link;
    if (n->state != NOTE_ON || n->key != key)
      continue;
    if (ch.hold)
      n->state = NOTE_HELD;
    else
      synth_noterelease(s, link, false);
    return;
  }
}

note **synth_noterelease(synth *s, note **link, bool force) {
  note *n = *link;
  const tone_ctx c = synth_tctx(s);
  bool alive = false;
  for (int i = 0; i < PATCH_LAYERS; ++i) {
    tone *t = n->tones[i];
    if (!t)
      continue;
    if ((!force && n->patch->layers[i].release == 1) || t->released) {
      alive = true;
      continue;
    }
    if (tone_release(&c, t)) {
      alive = true;
    } else {
      synth_tone_delete(s, t);
      n->tones[i] = nullptr;
    }
  }
  if (alive) {
    n->state = NOTE_RELEASED;
    return &n->next;
  }
  *link = n->next;
  synth_note_removed(s, n);
  return link;
}

void synth_chan_release_held(synth *s, int c) {
  for (note **link = &s->chan[c].list; *link;) {
    if ((*link)->state == NOTE_HELD)
      link = synth_noterelease(s, link, false);
    else
      link = &(*link)->next;
  }
}
