// Waves and their maps: the list kept while the definition is read, the
// range ordering that keeps lookups unambiguous, and the tree lookup.
#include "synth/wave/wave.h"

#include <algorithm>
#include <cstring>

#include "utils/alloc.h"

wave *wave_list = nullptr;
wave *wave_table[WAVE_MAX] = {};

namespace {
wave *g_last = nullptr; // the list's last wave whenever the list is not empty
std::size_t g_steps = 0; // links followed by wave_new and wave_addmap
} // namespace

std::size_t wave_steps() { return g_steps; }

wave *wave_new(const char *name) {
  auto *w = static_cast<wave *>(xmalloc(sizeof(wave), XTAG));
  std::memset(w, 0, sizeof *w);
  w->name = xstrdup(name, XTAG);
  w->before_keyhi = -1;
  (wave_list ? g_last->next : wave_list) = w;
  g_last = w;
  return w;
}

int wave_find(const char *name) {
  int i = 0;
  for (const wave *w = wave_list; w; w = w->next, ++i)
    if (std::strcmp(w->name, name) == 0)
      return i;
  return -1;
}

int wave_count() {
  int n = 0;
  for (const wave *w = wave_list; w; w = w->next)
    ++n;
  return n;
}

map *map_new() {
  auto *m = static_cast<map *>(xmalloc(sizeof(map), XTAG));
  std::memset(m, 0, sizeof *m);
  m->keyhi = m->velhi = m->rndhi = 127;
  m->pitch = 64 << 20;
  m->volume = 127 << 20;
  return m;
}

void map_delete(map *m) {
  if (m->path)
    xfree(m->path);
  if (m->samples)
    xfree(m->samples);
  xfree(m);
}

namespace {

// Where two ranges stand to each other: m entirely below r, entirely
// above, overlapping with a shared bound, or overlapping otherwise.
enum class order { below, above, shared, clash };

order compare(int rlo, int rhi, int mlo, int mhi) {
  if (rhi < mlo)
    return order::above;
  if (rlo > mhi)
    return order::below;
  return rlo == mlo || rhi == mhi ? order::shared : order::clash;
}

// Where m stands to r, by key range, then velocity, then random range; the
// random ranges may not overlap at all.
order place(const map *r, const map *m) {
  order o = compare(r->keylo, r->keyhi, m->keylo, m->keyhi);
  if (o == order::shared)
    o = compare(r->vello, r->velhi, m->vello, m->velhi);
  if (o == order::shared)
    o = compare(r->rndlo, r->rndhi, m->rndlo, m->rndhi);
  return o == order::shared ? order::clash : o;
}

bool same(int alo, int ahi, int blo, int bhi) { return alo == blo && ahi == bhi; }

// True when m sorts after every map of the list, as far as the bounds kept
// for the trailing runs can tell (false: walk the list).
bool after_all(const wave *w, const map *m) {
  const map *l = w->last;
  if (m->keylo > std::max(w->before_keyhi, l->keyhi))
    return true;
  if (!same(m->keylo, m->keyhi, l->keylo, l->keyhi) || m->keylo <= w->before_keyhi)
    return false;
  // Every map of the key run shares m's key range: velocity decides.
  if (m->vello > std::max(w->before_velhi, l->velhi))
    return true;
  return same(m->vello, m->velhi, l->vello, l->velhi) && m->vello > w->before_velhi &&
         m->rndlo > w->run_rndhi;
}

// Takes m, now the list's last map, into the trailing runs' bounds.
void note_last(wave *w, map *m) {
  const map *l = w->last;
  if (!l || !same(m->keylo, m->keyhi, l->keylo, l->keyhi)) {
    if (l)
      w->before_keyhi = std::max(w->before_keyhi, l->keyhi);
    w->keyrun = m;
    w->before_velhi = -1;
    w->run_rndhi = m->rndhi;
  } else if (!same(m->vello, m->velhi, l->vello, l->velhi)) {
    w->before_velhi = std::max(w->before_velhi, l->velhi);
    w->run_rndhi = m->rndhi;
  } else {
    w->run_rndhi = std::max(w->run_rndhi, m->rndhi);
  }
  w->last = m;
}

} // namespace

bool wave_addmap(wave *w, map *m) {
  if (w->last && after_all(w, m)) {
    m->right = nullptr;
    w->last->right = m;
    note_last(w, m);
    return true;
  }
  // The walk; in_prefix stays true while m would go before the key run.
  bool in_prefix = true;
  map **link = &w->maps;
  for (map *r; (r = *link) != nullptr; link = &r->right) {
    ++g_steps;
    const order o = place(r, m);
    if (o == order::below)
      break;
    if (o == order::clash)
      return false;
    if (r == w->keyrun)
      in_prefix = false;
  }
  m->right = *link;
  *link = m;
  if (in_prefix && w->last) {
    w->before_keyhi = std::max(w->before_keyhi, m->keyhi);
  } else {
    // m joined the key run or ends the list: take the run's bounds again.
    map *from = w->last ? w->keyrun : m;
    w->last = nullptr;
    for (map *r = from; r; r = r->right, ++g_steps)
      note_last(w, r);
  }
  return true;
}

const map *map_find(const wave *w, int key, int velocity) {
  const int r = static_cast<int>(rnd_step() >> 25);
  const map *m = w->maps;
  while (m) {
    const bool key_in = key >= m->keylo && key <= m->keyhi;
    const bool vel_in = velocity >= m->vello && velocity <= m->velhi;
    if (key > m->keyhi || (key_in && velocity > m->velhi) || (key_in && vel_in && r > m->rndhi))
      m = m->right;
    else if (key < m->keylo || (key_in && velocity < m->vello) ||
             (key_in && vel_in && r < m->rndlo))
      m = m->left;
    else
      return m;
  }
  return nullptr;
}
