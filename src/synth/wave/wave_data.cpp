// Sample data: the balanced map tree, reading raw 16-bit files into memory
// at set-up, and releasing it all at tear-down.
#include <bit>
#include <cstring>

#include "synth/wave/wave.h"
#include "utils/alloc.h"
#include "utils/appdata.h"
#include "utils/log.h"

namespace {

// Builds the tree over the next n maps of the list at *cur, in one pass:
// the root is the middle map (the lower of two), so an in-order walk gives
// the list's order back.
map *build_tree(map **cur, int n) {
  if (n == 0)
    return nullptr;
  const int nleft = (n - 1) / 2;
  map *left = build_tree(cur, nleft);
  map *root = *cur;
  *cur = root->right;
  root->left = left;
  root->right = build_tree(cur, n - 1 - nleft);
  return root;
}

// Data files are raw; a ".wav" ending (exactly so, after the last dot) is
// refused rather than played as noise.
bool is_wav_path(const char *path) {
  const char *dot = std::strrchr(path, '.');
  return dot && std::strcmp(dot + 1, "wav") == 0;
}

bool load_map(map *m) {
  if (!m->path || m->samples)
    return true;
  log_printf(2, "loading %s", m->path);
  std::size_t size = 0;
  void *block = appdata_loadres("Glimra", "Synth", m->path, &size);
  if (!block) {
    log_printf(1, "%s: failed to open for reading", m->path);
    log_printf(1, "%s: couldn't load wave", m->path);
    return false;
  }
  if (is_wav_path(m->path)) {
    log_printf(1, "%s: .wav files not supported", m->path);
    xfree(block);
    log_printf(1, "%s: couldn't load wave", m->path);
    return false;
  }
  m->nsamples = wave_decode(block, size);
  m->samples = static_cast<std::int16_t *>(block);
  return true;
}

bool load_tree(map *m) {
  if (!m)
    return true;
  return load_tree(m->left) && load_tree(m->right) && load_map(m);
}

// Frees a tree, or a list linked through right, without recursion: a left
// child is rotated up until the map at hand has none, then the map goes.
void free_tree(map *m) {
  while (m) {
    if (map *l = m->left) {
      m->left = l->right;
      l->right = m;
      m = l;
    } else {
      map *next = m->right;
      map_delete(m);
      m = next;
    }
  }
}

} // namespace

int wave_decode(void *bytes, std::size_t n) {
  auto *b = static_cast<unsigned char *>(bytes);
  auto *s = static_cast<std::int16_t *>(bytes);
  const std::size_t count = n / 2;
  // On a little-endian machine the file's bytes already are the samples.
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<int>(count);
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned v = b[2 * k] | (unsigned{b[2 * k + 1]} << 8);
    s[k] = static_cast<std::int16_t>(v);
  }
  return static_cast<int>(count);
}

bool wave_load(wave *w) {
  int n = 0;
  for (const map *m = w->maps; m; m = m->right)
    ++n;
  map *cur = w->maps;
  w->maps = build_tree(&cur, n); // a wave without maps keeps an empty tree
  return load_tree(w->maps);
}

void wave_free(wave *w) {
  free_tree(w->maps);
  xfree(w->name);
  xfree(w);
}

void wave_free_all() {
  while (wave *w = wave_list) {
    wave_list = w->next;
    wave_free(w);
  }
  std::memset(wave_table, 0, sizeof wave_table);
}
