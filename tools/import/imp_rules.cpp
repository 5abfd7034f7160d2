// The unit conversions from a bank's generator scales to the definition
// language's scales, the engine's map ordering rule, and name quoting.
#include <cmath>
#include <cstdio>

#include "import/imp_model.h"

double imp_time(double timecents) { return 79.0 + timecents / 200.0; }

double imp_steps(double db) { return db * 18.0 / (20.0 * std::log10(2.0)); }

double imp_map_pitch(int root, double tune_cents, int scale, int rate) {
  const double s = scale / 100.0;
  return 64.0 + s * (root - 64) - tune_cents / 100.0 + 12.0 * std::log2(48000.0 / rate);
}

double imp_resonance(int centibels) {
  // The bank gives the peak above the pass band; a flat response is the
  // quality 0.707 of two equal poles' Butterworth shape.  Resonance c has
  // the quality 0.5 * 254^(c/127).
  const double q = std::max(0.5, std::sqrt(0.5) * std::pow(10.0, centibels / 200.0));
  return std::min(127.0, 127.0 * std::log(q / 0.5) / std::log(254.0));
}

double imp_lfo_time(int cents) {
  const double hz = 8.176 * std::pow(2.0, cents / 1200.0);
  return 79.0 - 6.0 * std::log2(hz);
}

std::string imp_quote_name(const std::string &name, bool *cut) {
  std::string s;
  std::size_t bytes = 0;
  *cut = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F)
      c = ' ';
    // A multi-byte UTF-8 sequence is kept whole or left out whole.
    std::size_t len = 1;
    if (c >= 0xC0)
      while (i + len < name.size() && (static_cast<unsigned char>(name[i + len]) & 0xC0) == 0x80)
        ++len;
    if (bytes + len > IMP_MAX_NAME) {
      *cut = true;
      break;
    }
    if (c == '"' || c == '\\')
      s += '\\';
    s.append(len == 1 ? std::string(1, static_cast<char>(c)) : name.substr(i, len));
    bytes += len;
    i += len - 1;
  }
  while (!s.empty() && s.back() == ' ' && (s.size() < 2 || s[s.size() - 2] != '\\'))
    s.pop_back();
  return "\"" + s + "\"";
}

bool imp_add_map(std::vector<def_map> *maps, const def_map &m) {
  // The engine keeps a wave's maps ordered by key range, then velocity
  // range; overlapping ranges must share a bound (random ranges are not
  // used here, so maps with equal key and velocity ranges never fit).
  for (std::size_t i = 0; i < maps->size(); ++i) {
    const def_map &r = (*maps)[i];
    if (r.keyhi < m.keylo)
      continue;
    if (r.keylo > m.keyhi) {
      maps->insert(maps->begin() + static_cast<std::ptrdiff_t>(i), m);
      return true;
    }
    if (r.keylo != m.keylo && r.keyhi != m.keyhi)
      return false;
    if (r.velhi < m.vello)
      continue;
    if (r.vello > m.velhi) {
      maps->insert(maps->begin() + static_cast<std::ptrdiff_t>(i), m);
      return true;
    }
    return false;
  }
  maps->push_back(m);
  return true;
}
