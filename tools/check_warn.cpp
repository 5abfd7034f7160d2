// Findings about a loaded definition that deserve a warning.
#include "check_warn.h"

#include <cstdio>

namespace {

constexpr std::int64_t Q = 1 << 20;
// -90 dB in volume steps: 18 steps halve the amplitude (6.0206 dB).
constexpr std::int64_t RELEASE_AUDIBLE = -269 * Q;
constexpr std::int64_t TWO_OCTAVES = 24 * Q;

template <typename F>
void each_map(const map *m, F &&f) {
  // The trees are balanced: their depth is small.
  if (!m)
    return;
  each_map(m->left, f);
  f(*m);
  each_map(m->right, f);
}

std::string who(const char *kind, int number, const patch &p, int layer) {
  char s[96];
  std::snprintf(s, sizeof s, "%s %d \"%s\": layer %d: ", kind, number, p.name, layer + 1);
  return s;
}

void check_release(std::vector<std::string> &out, const std::string &head, const layer &l,
                   const wave &w) {
  if (l.par[PAR_VOL + MOD_RTIME] > 127 * Q)
    return; // the release never ends: nothing is cut
  std::int64_t top = INT64_MIN;
  each_map(w.maps, [&](const map &m) {
    const std::int64_t v = check_release_level(l, m);
    top = v > top ? v : top;
  });
  if (top <= RELEASE_AUDIBLE)
    return;
  const double db = static_cast<double>(top) / Q * 6.0206 / 18;
  char s[96];
  std::snprintf(s, sizeof s, "volume release ends at %.0f dB: the voice stops there with a click",
                db);
  out.push_back(head + s);
}

void check_speed(std::vector<std::string> &out, const std::string &head, const layer &l,
                 const wave &w, bool drum, int drumkey) {
  each_map(w.maps, [&](const map &m) {
    int lo = -1, hi = -1;
    for (int k = m.keylo < 0 ? 0 : m.keylo; k <= m.keyhi && k < 128; ++k) {
      if (drum && k != drumkey)
        continue;
      if (check_key_pitch(l, drum, k) - m.pitch > TWO_OCTAVES) {
        lo = lo < 0 ? k : lo;
        hi = k;
      }
    }
    if (lo < 0)
      return;
    char s[128];
    if (lo == hi)
      std::snprintf(s, sizeof s, "wave %s: key %d plays more than two octaves above its recording",
                    w.name, lo);
    else
      std::snprintf(s, sizeof s,
                    "wave %s: keys %d:%d play more than two octaves above their recording",
                    w.name, lo, hi);
    out.push_back(head + s);
  });
}

void check_table(std::vector<std::string> &out, const char *kind, patch *const *table, bool drum) {
  for (int i = 0; i < PATCH_MAX; ++i) {
    const patch *p = table[i];
    if (!p)
      continue;
    for (int n = 0; n < PATCH_LAYERS; ++n) {
      const layer &l = p->layers[n];
      if (l.wave < 0 || l.wave >= WAVE_MAX || !wave_table[l.wave])
        continue;
      const std::string head = who(kind, i, *p, n);
      check_release(out, head, l, *wave_table[l.wave]);
      check_speed(out, head, l, *wave_table[l.wave], drum, i);
    }
  }
}

} // namespace

std::int64_t check_key_pitch(const layer &l, bool drum, int key) {
  std::int64_t pitch = l.par[PAR_PITCH + MOD_BASE];
  if (!drum)
    for (const layer_dep &d : l.deps)
      if (d.source == SRC_KEY && d.slot == PAR_PITCH + MOD_BASE)
        pitch += (std::int64_t{d.amount} * ((std::int64_t{key} - 64) * Q)) >> 27;
  return pitch;
}

std::int64_t check_release_level(const layer &l, const map &m) {
  return std::int64_t{l.par[PAR_VOL + MOD_BASE]} + l.par[PAR_VOL + MOD_RLEVEL] - m.volume;
}

std::vector<std::string> check_warnings() {
  std::vector<std::string> out;
  check_table(out, "patch", patch_table, false);
  check_table(out, "drumkey", drumkey_table, true);
  return out;
}
