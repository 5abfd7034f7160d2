// Waves and their maps: the list kept while the definition is read, the
// range ordering that keeps lookups unambiguous, and the tree lookup.
#include "synth/wave/wave.h"

#include <cstring>

#include "utils/alloc.h"

wave *wave_list = nullptr;
wave *wave_table[WAVE_MAX] = {};

wave *wave_new(const char *name) {
  auto *w = static_cast<wave *>(xmalloc(sizeof(wave), XTAG));
  w->next = nullptr;
  w->maps = nullptr;
  w->name = xstrdup(name, XTAG);
  wave **tail = &wave_list;
  while (*tail)
    tail = &(*tail)->next;
  *tail = w;
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

} // namespace

bool wave_addmap(wave *w, map *m) {
  map **link = &w->maps;
  for (map *r; (r = *link) != nullptr; link = &r->right) {
    const order o = place(r, m);
    if (o == order::below)
      break;
    if (o == order::clash)
      return false;
  }
  m->right = *link;
  *link = m;
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
