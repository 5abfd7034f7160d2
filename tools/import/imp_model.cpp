// Presets to patches: each zone becomes a map and a set of layer lines;
// zones with equal lines share a layer, and layers that do not fit the
// engine's four are folded as the warnings say.
#include "import/imp_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

std::string imp_number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.4f", v);
  std::string s = b;
  while (s.back() == '0')
    s.pop_back();
  if (s.back() == '.')
    s.pop_back();
  if (s == "-0")
    s = "0";
  return s;
}

namespace {

const auto num = imp_number;

// Levels below this many decibels are silence for the envelopes.
constexpr double FLOOR_DB = 100.0;
// The engine's silence: its volume envelopes end at -359 steps.
constexpr double RELEASE_DB = 120.0;
// Velocity and expression move the volume by this many steps per unit
// (0.19 dB): a straight line through the bank's squared-velocity curve.
constexpr const char *VEL_AMOUNT = "72";
// The attack starts this many steps below full level: the engine's
// envelopes move in decibels, the bank's attack in amplitude.
constexpr const char *ATTACK_FROM = "-54";
// A layer delay tick at 480 beats per minute, in seconds.
constexpr double FAST_TICK = 60.0 / 480.0 / 24.0;
constexpr int AT_ONCE = -12000; // timecents that mean no time at all
constexpr const char *EXTREME_TUNING = "extreme tuning: pitch values held within -256...256";


// A time value rounded to whole units (within 6 % of the time); 0 or less
// means at once and is left out.
bool time_line(std::vector<std::string> *out, const std::string &slot, double t) {
  const double r = std::round(t);
  if (r <= 0)
    return false;
  out->push_back(slot + " " + num(std::min(r, 126.0)));
  return true;
}

struct zone_plan {
  const imp_zone *z = nullptr;
  int keylo, keyhi, vello, velhi;
  int file = -1;                // index into the instrument's files
  double pitch = 64, vol = 127;
  std::uint32_t loop = 0;
  std::vector<std::string> lines; // without the pan line
  std::string pan;
  int side = SIDE_MONO;
  int partner = -1;             // plan index of the other side, -1
  double ring = 0;              // how long it sounds, seconds (infinite when looped)
  double tune = 0;              // the part of pitch from the tuning generators
};

struct converter {
  const imp_bank &bank;
  const imp_options &opts;
  def_instrument inst;
  std::map<std::string, int> file_index;
  std::map<std::string, int> wave_index;
  std::string where;            // "preset 0:73 Flute" for warnings

  void warn(const std::string &what) { inst.warnings.push_back(where + ": " + what); }

  // A pitch value the definition reader accepts: extreme tunings (1200
  // cents per key, +-120 semitones) are held at the range's ends.
  double fit_pitch(double v) {
    if (std::abs(v) <= IMP_MAX_NUMBER)
      return v;
    warn(EXTREME_TUNING);
    return std::clamp(v, -IMP_MAX_NUMBER, IMP_MAX_NUMBER);
  }

  int file_for(int sample, std::uint32_t begin, std::uint32_t end, int mix, std::uint32_t mixbegin) {
    char key[96];
    std::snprintf(key, sizeof key, "%d:%u:%u:%d:%u", sample, begin, end, mix, mixbegin);
    const auto it = file_index.find(key);
    if (it != file_index.end())
      return it->second;
    def_file f;
    f.sample = sample;
    f.begin = begin;
    f.end = end;
    f.mix = mix;
    f.mixbegin = mixbegin;
    std::string name;
    for (char c : bank.samples[static_cast<std::size_t>(sample)].name)
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')
        name += c;
      else if (!name.empty() && name.back() != '_')
        name += '_';
    name = name.substr(0, 24);
    char path[64];
    std::snprintf(path, sizeof path, "waves/%04zu%s%s%s.raw", inst.files.size(), name.empty() ? "" : "_",
                  name.c_str(), mix >= 0 ? "_mono" : "");
    f.path = path;
    inst.files.push_back(f);
    const int n = static_cast<int>(inst.files.size()) - 1;
    file_index[key] = n;
    return n;
  }

  // The volume envelope, the bank's delay-attack-hold-decay-sustain-release
  // as the engine's attack (the bank's attack), decay (its hold), sustain
  // segment (its decay, which a release may cut short) and release.
  void volume_lines(const imp_zone &z, int drumkey, std::vector<std::string> *l, double *ring) {
    const auto &g = z.gen;
    const double sus = std::min(std::max(g[GEN_VOLENV_SUSTAIN], 0) / 10.0, FLOOR_DB);
    const double keyofs = drumkey >= 0 ? 60.0 - drumkey : -4.0; // timecents scale at key 64
    if (g[GEN_VOLENV_ATTACK] > AT_ONCE) {
      l->push_back(std::string("vol.ilevel ") + ATTACK_FROM);
      time_line(l, "vol.atime", imp_time(g[GEN_VOLENV_ATTACK]));
    }
    const double hold = g[GEN_VOLENV_HOLD] + g[GEN_KEY_VOLENV_HOLD] * keyofs;
    if (g[GEN_VOLENV_HOLD] > AT_ONCE)
      time_line(l, "vol.dtime", imp_time(hold));
    const double decay = g[GEN_VOLENV_DECAY] + g[GEN_KEY_VOLENV_DECAY] * keyofs;
    // Volume levels at or below -127 steps (-42.5 dB) are silence to the
    // engine: a sustain that low ends the note when the decay gets there.
    const bool ends = imp_steps(sus) >= 127.0;
    if (ends) {
      l->push_back("vol.slevel -127");
      time_line(l, "vol.stime", imp_time(decay) + 6.0 * std::log2(RELEASE_DB / FLOOR_DB));
      if (sus < FLOOR_DB)
        warn("sustain below -42 dB: the note ends after its decay");
      *ring = std::min(*ring, 1.2 * std::pow(2.0, decay / 1200.0));
    } else if (sus > 0) {
      l->push_back("vol.slevel " + num(-imp_steps(sus)));
      time_line(l, "vol.stime", imp_time(decay) + 6.0 * std::log2(sus / FLOOR_DB));
    }
    if (drumkey < 0) {
      if (g[GEN_KEY_VOLENV_HOLD])
        l->push_back("key.vol.dtime " + num(-g[GEN_KEY_VOLENV_HOLD] / 200.0 * 128.0));
      if (g[GEN_KEY_VOLENV_DECAY] && sus > 0)
        l->push_back("key.vol.stime " + num(-g[GEN_KEY_VOLENV_DECAY] / 200.0 * 128.0));
    }
    // The release falls to the engine's silence (-120 dB) at the bank's
    // rate of 100 dB per release time.
    if (g[GEN_VOLENV_RELEASE] > AT_ONCE && !ends)
      time_line(l, "vol.rtime", imp_time(g[GEN_VOLENV_RELEASE]) + 6.0 * std::log2((RELEASE_DB - sus) / FLOOR_DB));
    else if (g[GEN_VOLENV_RELEASE] > AT_ONCE)
      time_line(l, "vol.rtime", imp_time(g[GEN_VOLENV_RELEASE]));
  }

  // The modulation envelope on one parameter, peak in that parameter's unit.
  void modenv_lines(const imp_zone &z, const std::string &par, double peak, std::vector<std::string> *l) {
    const auto &g = z.gen;
    const double frac = std::min(std::max(g[GEN_MODENV_SUSTAIN], 0), 1000) / 1000.0; // decrease
    const double sus = peak * (1.0 - frac);
    if (g[GEN_MODENV_ATTACK] > AT_ONCE)
      time_line(l, par + ".atime", imp_time(g[GEN_MODENV_ATTACK]));
    l->push_back(par + ".alevel " + num(peak));
    l->push_back(par + ".dlevel " + num(peak));
    if (g[GEN_MODENV_HOLD] > AT_ONCE)
      time_line(l, par + ".dtime", imp_time(g[GEN_MODENV_HOLD]));
    l->push_back(par + ".slevel " + num(sus));
    if (frac > 0)
      time_line(l, par + ".stime", imp_time(g[GEN_MODENV_DECAY]) + 6.0 * std::log2(frac));
    if (g[GEN_MODENV_RELEASE] > AT_ONCE && frac < 1)
      time_line(l, par + ".rtime", imp_time(g[GEN_MODENV_RELEASE]) + 6.0 * std::log2(1.0 - frac));
    if (g[GEN_MODENV_DELAY] > -7973 || g[GEN_KEY_MODENV_HOLD] || g[GEN_KEY_MODENV_DECAY])
      warn("modulation envelope delay and key scaling ignored");
  }

  // The layer lines of one zone; drumkey >= 0 for a drum key's layer.
  zone_plan plan_zone(const imp_zone &z, int drumkey) {
    const auto &g = z.gen;
    zone_plan p;
    p.z = &z;
    p.keylo = z.keylo;
    p.keyhi = z.keyhi;
    p.vello = z.vello;
    p.velhi = z.velhi;
    const imp_sample &s = bank.samples[static_cast<std::size_t>(z.sample)];
    p.side = s.side;
    // The data: start and end offsets, the loop, the sample modes.
    const auto size = static_cast<std::int64_t>(s.data.size());
    auto clampi = [&](std::int64_t v) { return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, size)); };
    const std::uint32_t begin = clampi(g[GEN_START] + 32768LL * g[GEN_COARSESTART]);
    std::uint32_t end = clampi(size + g[GEN_END] + 32768LL * g[GEN_COARSEEND]);
    if (end < begin)
      end = begin;
    const int modes = g[GEN_MODES] & 3;
    p.ring = static_cast<double>(end - begin) / s.rate;
    if (modes == 1 || modes == 3) {
      const std::int64_t ls = z.loopstart + g[GEN_LOOPSTART] + 32768LL * g[GEN_COARSELOOPSTART];
      const std::int64_t le = z.loopend + g[GEN_LOOPEND] + 32768LL * g[GEN_COARSELOOPEND];
      if (ls >= begin && le <= end && le - ls >= 2) {
        end = static_cast<std::uint32_t>(le);
        p.loop = static_cast<std::uint32_t>(le - ls);
        p.ring = 1e9;
        if (modes == 3)
          warn("loop that ends at note-off loops for ever");
      } else {
        warn("loop of sample " + s.name + " lies outside its data: plays once");
      }
    }
    p.file = file_for(z.sample, begin, end, -1, 0);
    // Pitch and level of the recording.
    const int root = g[GEN_ROOTKEY] >= 0 ? g[GEN_ROOTKEY] : z.root;
    const double tune = g[GEN_COARSETUNE] * 100.0 + g[GEN_FINETUNE] + z.correction;
    const int scale = g[GEN_SCALETUNE];
    p.pitch = imp_map_pitch(root, tune, drumkey >= 0 ? 100 : scale, s.rate);
    if (drumkey >= 0) // a preset's maps are held in range once their tuning is factored out
      p.pitch = fit_pitch(p.pitch);
    p.tune = -(g[GEN_COARSETUNE] * 100.0 + g[GEN_FINETUNE]) / 100.0;
    p.vol = 127.0 + imp_steps(std::max(g[GEN_ATTEN], 0) / 10.0);
    if (g[GEN_FIXEDKEY] >= 0 || g[GEN_FIXEDVEL] >= 0)
      warn("fixed key or velocity ignored");

    auto &l = p.lines;
    if (drumkey >= 0) {
      l.push_back("pitch.base " + num(fit_pitch(root + scale / 100.0 * (drumkey - root))));
      l.push_back("release noff");
    } else if (scale != 100) {
      l.push_back("key.pitch.base " + num(fit_pitch(128.0 * scale / 100.0)));
    }
    if (g[GEN_VOLENV_DELAY] > AT_ONCE) {
      const long ticks = std::lround(std::pow(2.0, g[GEN_VOLENV_DELAY] / 1200.0) / FAST_TICK);
      if (ticks > 0) {
        l.push_back("delay " + std::to_string(ticks));
        warn("envelope delay starts the sample late");
      }
    }
    volume_lines(z, drumkey, &l, &p.ring);
    l.push_back(std::string("vel.vol.base ") + VEL_AMOUNT);
    l.push_back(std::string("expr.vol.base ") + VEL_AMOUNT);

    // Filter: cut-off in cents is a key number times 100.
    const bool filter = g[GEN_FC] < 13500 || g[GEN_MODENV_FC] || g[GEN_MODLFO_FC];
    if (filter) {
      l.push_back("filt lowpass");
      l.push_back("cut.base " + num(std::clamp(g[GEN_FC], 1500, 13500) / 100.0));
      l.push_back("res.base " + num(std::round(imp_resonance(std::max(g[GEN_Q], 0)) * 100) / 100));
      if (g[GEN_MODENV_FC])
        modenv_lines(z, "cut", g[GEN_MODENV_FC] / 100.0, &l);
    }
    if (g[GEN_MODENV_PITCH])
      modenv_lines(z, "pitch", g[GEN_MODENV_PITCH] / 100.0, &l);

    // Vibrato: the vibrato LFO, and what the wheel and pressure add to it.
    const bool vib = g[GEN_VIBLFO_PITCH] || z.modwheel_vib || z.pressure_vib;
    const double lt = std::round(imp_lfo_time(g[GEN_VIBLFO_FREQ]) * 10) / 10;
    if (vib) {
      l.push_back("pitch.lfotime " + num(lt));
      if (g[GEN_VIBLFO_PITCH])
        l.push_back("pitch.lfo " + num(g[GEN_VIBLFO_PITCH] / 100.0));
      if (g[GEN_VIBLFO_DELAY] > -4300)
        warn("vibrato delay ignored");
    }
    if (drumkey < 0 || z.modwheel_vib)
      l.push_back("mod.pitch.lfo " + num(z.modwheel_vib / 100.0));
    if (z.pressure_vib)
      l.push_back("cat.pitch.lfo " + num(z.pressure_vib / 100.0));
    // The modulation LFO: its own LFO on volume and cut-off; on pitch only
    // when the vibrato LFO is not used.
    const double mt = std::round(imp_lfo_time(g[GEN_MODLFO_FREQ]) * 10) / 10;
    if (g[GEN_MODLFO_VOL]) {
      l.push_back("vol.lfo " + num(imp_steps(std::abs(g[GEN_MODLFO_VOL]) / 10.0)));
      l.push_back("vol.lfotime " + num(mt));
    }
    if (g[GEN_MODLFO_FC] && filter) {
      l.push_back("cut.lfo " + num(g[GEN_MODLFO_FC] / 100.0));
      l.push_back("cut.lfotime " + num(mt));
    }
    if (g[GEN_MODLFO_PITCH]) {
      if (vib) {
        warn("second pitch LFO dropped");
      } else {
        l.push_back("pitch.lfotime " + num(mt));
        l.push_back("pitch.lfo " + num(g[GEN_MODLFO_PITCH] / 100.0));
      }
    }
    if ((g[GEN_MODLFO_VOL] || g[GEN_MODLFO_FC] || g[GEN_MODLFO_PITCH]) && g[GEN_MODLFO_DELAY] > -4300)
      warn("modulation LFO delay ignored");
    if (g[GEN_CHORUS] > 0 || g[GEN_REVERB] > 0)
      warn("chorus and reverb sends are the channel's, not the zone's");

    // Pan: -500 ... 500 -> 0 ... 128; the two sides of a pair hard left and right.
    double pan = 64.0 + std::clamp(g[GEN_PAN], -500, 500) * 0.128;
    if (s.side == SIDE_LEFT && s.partner >= 0)
      pan = 0;
    else if (s.side == SIDE_RIGHT && s.partner >= 0)
      pan = 128;
    p.pan = pan == 64.0 ? "" : "pan.base " + num(pan);
    return p;
  }

  // Pairs each side of a stereo pair with the other zone of the same ranges.
  static void pair_sides(std::vector<zone_plan> &plans, const imp_bank &bank) {
    for (std::size_t i = 0; i < plans.size(); ++i) {
      zone_plan &a = plans[i];
      if (a.side != SIDE_LEFT || a.partner >= 0)
        continue;
      const int want = bank.samples[static_cast<std::size_t>(a.z->sample)].partner;
      for (std::size_t j = 0; j < plans.size(); ++j) {
        zone_plan &b = plans[j];
        if (b.side == SIDE_RIGHT && b.partner < 0 && b.z->sample == want && b.keylo == a.keylo &&
            b.keyhi == a.keyhi && b.vello == a.vello && b.velhi == a.velhi) {
          a.partner = static_cast<int>(j);
          b.partner = static_cast<int>(i);
          break;
        }
      }
    }
  }

  // The left side with the right side added, at the centre.
  zone_plan mixed(const std::vector<zone_plan> &plans, const zone_plan &l) {
    const zone_plan &r = plans[static_cast<std::size_t>(l.partner)];
    zone_plan m = l;
    const def_file fl = inst.files[static_cast<std::size_t>(l.file)];
    const def_file fr = inst.files[static_cast<std::size_t>(r.file)];
    m.file = file_for(fl.sample, fl.begin, fl.end, fr.sample, fr.begin);
    m.side = SIDE_MONO;
    m.partner = -1;
    m.pan = "";
    return m;
  }

  struct bin {
    std::string key;            // the group's lines
    std::vector<def_map> maps;
    std::vector<std::string> lines; // of the zone that opened the bin
    std::string pan;
  };

  static std::string key_of(const zone_plan &p) {
    std::string k;
    for (const std::string &s : p.lines)
      k += s + "\n";
    return k + p.pan;
  }

  static def_map map_of(const zone_plan &p) {
    def_map m;
    m.keylo = p.keylo;
    m.keyhi = p.keyhi;
    m.vello = p.vello;
    m.velhi = p.velhi;
    m.file = p.file;
    m.pitch = p.pitch;
    m.vol = p.vol;
    m.loop = p.loop;
    m.tune = p.tune;
    return m;
  }

  // Places zones into bins: same lines (unless any_lines), fitting maps.
  // Zones beyond max bins are counted in dropped (when drop is set) or
  // make the placement fail.
  static bool place(const std::vector<zone_plan> &plans, bool any_lines, std::size_t max,
                    bool drop, std::vector<bin> *bins, int *dropped) {
    std::vector<std::size_t> order(plans.size());
    for (std::size_t i = 0; i < order.size(); ++i)
      order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::tie(plans[a].keylo, plans[a].vello) < std::tie(plans[b].keylo, plans[b].vello);
    });
    *dropped = 0;
    for (std::size_t i : order) {
      const zone_plan &p = plans[i];
      const std::string k = any_lines ? std::string() : key_of(p);
      bool placed = false;
      for (bin &b : *bins)
        if (b.key == k && (placed = imp_add_map(&b.maps, map_of(p))))
          break;
      if (placed)
        continue;
      if (bins->size() >= max) {
        if (!drop)
          return false;
        ++*dropped;
        continue;
      }
      bins->push_back({k, {map_of(p)}, p.lines, p.pan});
    }
    return true;
  }

  int wave_for(const std::vector<def_map> &maps, const std::string &hint) {
    const std::string key = wave_key(maps);
    const auto it = wave_index.find(key);
    if (it != wave_index.end())
      return it->second;
    def_wave w;
    char name[24];
    std::snprintf(name, sizeof name, "w%03zu%s", inst.waves.size(), hint.c_str());
    w.name = name;
    w.maps = maps;
    inst.waves.push_back(w);
    const int n = static_cast<int>(inst.waves.size()) - 1;
    wave_index[key] = n;
    return n;
  }

  // The zone whose lines every zone takes when they cannot all have their own.
  static const zone_plan &middle(const std::vector<zone_plan> &plans) {
    int lo = 127, hi = 0;
    for (const zone_plan &p : plans) {
      lo = std::min(lo, p.keylo);
      hi = std::max(hi, p.keyhi);
    }
    const int mid = (lo + hi) / 2;
    const zone_plan *best = &plans[0];
    int dist = 1000;
    for (const zone_plan &p : plans) {
      const int d = mid < p.keylo ? p.keylo - mid : (mid > p.keyhi ? mid - p.keyhi : 0);
      if (d < dist || (d == dist && p.velhi > best->velhi && d == 0)) {
        dist = d;
        best = &p;
      }
    }
    return *best;
  }

  // One way to lay a preset out: its bins (layers) and what it costs.
  struct option {
    std::vector<bin> bins;
    std::vector<std::string> warns;
  };

  // Moves what all maps of a bin share, the generators' tuning and the
  // attenuation, into the layer, so that presets playing the same zones
  // differently share one wave.  False when a map's pitch had to be held
  // within the reader's range.
  static bool factor_bin(bin &b) {
    double tune = b.maps[0].tune, vol = b.maps[0].vol;
    bool same = true;
    for (const def_map &m : b.maps) {
      same = same && m.tune == tune;
      vol = std::min(vol, m.vol);
    }
    const double down = std::min(vol - 127.0, 200.0);
    bool fits = true;
    for (def_map &m : b.maps) {
      if (same)
        m.pitch -= m.tune;
      if (std::abs(m.pitch) > IMP_MAX_NUMBER) {
        m.pitch = std::clamp(m.pitch, -IMP_MAX_NUMBER, IMP_MAX_NUMBER);
        fits = false;
      }
      m.vol -= down;
      m.tune = 0;
    }
    if (same && tune != 0)
      b.lines.push_back("pitch.base " + num(64.0 - tune));
    if (down > 0)
      b.lines.push_back("vol.base " + num(127.0 - down));
    return fits;
  }

  // The ways to lay the preset out, richest first; the last holds one layer.
  std::vector<option> options(const imp_preset &pr) {
    std::vector<option> out;
    std::vector<zone_plan> plans;
    for (const imp_zone &z : pr.zones)
      if (z.keylo <= z.keyhi && z.vello <= z.velhi)
        plans.push_back(plan_zone(z, -1));
    if (plans.empty())
      return out;
    pair_sides(plans, bank);
    std::vector<zone_plan> mono;
    for (const zone_plan &p : plans)
      if (p.side != SIDE_RIGHT || p.partner < 0)
        mono.push_back(p.side == SIDE_LEFT && p.partner >= 0 ? mixed(plans, p) : p);
    const bool stereo = mono.size() != plans.size();
    // Every zone its own lines with stereo pairs as two layers; pairs mixed
    // to mono; every zone the lines of the middle key's zone; then only as
    // many overlapping zones as one layer holds.
    struct attempt { bool unify, monos; std::size_t max; };
    for (const attempt a : {attempt{false, false, 4}, attempt{false, true, 4}, attempt{true, false, 4},
                            attempt{true, true, 4}, attempt{true, true, 1}}) {
      if (a.monos && !stereo && a.max > 1)
        continue;
      std::vector<zone_plan> set = a.monos ? mono : plans;
      option o;
      if (a.unify) {
        const zone_plan mid = middle(set);
        for (zone_plan &p : set)
          p.lines = mid.lines;
        if (set.size() > 1 && std::any_of(set.begin(), set.end(), [&](const zone_plan &p) {
              return key_of(p) != key_of(mid) && p.side == SIDE_MONO;
            }))
          o.warns.push_back("zones differ in envelope, filter or vibrato: all take the zone of keys " +
                            std::to_string(mid.keylo) + "-" + std::to_string(mid.keyhi));
      }
      if (a.monos && stereo)
        o.warns.push_back("stereo pairs mixed to mono: no free layers");
      int dropped = 0;
      if (!place(set, false, a.max, a.max == 1, &o.bins, &dropped))
        continue;
      if (dropped)
        o.warns.push_back(std::to_string(dropped) + " overlapping zones dropped: no free layers");
      bool fits = true;
      for (bin &b : o.bins)
        fits = factor_bin(b) && fits;
      if (!fits)
        o.warns.push_back(EXTREME_TUNING);
      out.push_back(std::move(o));
    }
    return out;
  }

  static std::string wave_key(const std::vector<def_map> &maps) {
    std::string key;
    for (const def_map &m : maps) {
      char b[160];
      std::snprintf(b, sizeof b, "%d %d %d %d %d %.6f %.6f %u;", m.keylo, m.keyhi, m.vello, m.velhi,
                    m.file, m.pitch, m.vol, m.loop);
      key += b;
    }
    return key;
  }

  // Chooses one option per preset so that all waves fit: first the
  // leanest of each, then, program by program, the richest that still fits.
  void melodic(const std::vector<const imp_preset *> &presets) {
    std::vector<std::vector<option>> opts;
    for (const imp_preset *p : presets) {
      where = "preset " + std::to_string(p->program) + " " + p->name;
      opts.push_back(options(*p));
      if (opts.back().empty())
        warn("no zones: left out");
    }
    std::map<std::string, int> uses; // wave key -> layers using it
    for (const auto &entry : wave_index)
      uses[entry.first] = 1;         // the kit's waves stay
    std::vector<int> choice(presets.size(), -1);
    auto add = [&](std::size_t i, int c, int d) {
      for (const bin &b : opts[i][static_cast<std::size_t>(c)].bins) {
        int &u = uses[wave_key(b.maps)];
        u += d;
        if (u == 0)
          uses.erase(wave_key(b.maps));
      }
    };
    auto count = [&]() { return static_cast<int>(uses.size()); };
    for (std::size_t i = 0; i < presets.size(); ++i) {
      if (opts[i].empty())
        continue;
      const int last = static_cast<int>(opts[i].size()) - 1;
      add(i, last, 1);
      if (count() > IMP_MAX_WAVES) {
        add(i, last, -1);
        where = "preset " + std::to_string(presets[i]->program) + " " + presets[i]->name;
        warn("no room for more waves (the engine holds 128): left out");
        continue;
      }
      choice[i] = last;
    }
    for (std::size_t i = 0; i < presets.size(); ++i) {
      if (choice[i] <= 0)
        continue;
      for (int c = 0; c < choice[i]; ++c) {
        add(i, choice[i], -1);
        add(i, c, 1);
        if (count() <= IMP_MAX_WAVES) {
          choice[i] = c;
          break;
        }
        add(i, c, -1);
        add(i, choice[i], 1);
      }
    }
    for (std::size_t i = 0; i < presets.size(); ++i) {
      if (choice[i] < 0)
        continue;
      const imp_preset &pr = *presets[i];
      where = "preset " + std::to_string(pr.program) + " " + pr.name;
      const option &o = opts[i][static_cast<std::size_t>(choice[i])];
      for (const std::string &w : o.warns)
        warn(w);
      def_patch patch;
      patch.number = pr.program;
      bool cut = false;
      patch.name = imp_quote_name(pr.name, &cut);
      if (cut)
        warn("name cut to 46 characters");
      for (const bin &b : o.bins) {
        def_layer layer;
        layer.wave = wave_for(b.maps, "");
        layer.lines = b.lines;
        if (!b.pan.empty())
          layer.lines.push_back(b.pan);
        patch.fast_tempo = patch.fast_tempo || has_delay(layer.lines);
        patch.layers.push_back(layer);
      }
      for (const imp_zone &z : pr.zones)
        if (z.gen[GEN_EXCLUSIVE]) {
          warn("exclusive class of a melodic preset ignored");
          break;
        }
      inst.patches.push_back(patch);
    }
  }

  static bool has_delay(const std::vector<std::string> &lines) {
    return std::any_of(lines.begin(), lines.end(), [](const std::string &s) { return s.rfind("delay ", 0) == 0; });
  }

  void drums(const imp_preset &pr) {
    // The kit's zones fill shared waves; each key becomes a drum key whose
    // layers play the waves that hold a zone for it.
    std::vector<zone_plan> plans;
    for (const imp_zone &z : pr.zones)
      if (z.keylo <= z.keyhi && z.vello <= z.velhi)
        plans.push_back(plan_zone(z, z.keylo)); // the maps' pitch as for a drum key
    pair_sides(plans, bank);
    std::vector<bin> bins;
    int dropped = 0;
    const std::size_t room = static_cast<std::size_t>(std::clamp(IMP_MAX_WAVES - static_cast<int>(inst.waves.size()), 0, IMP_MAX_LAYERS));
    if (!place(plans, true, room, false, &bins, &dropped)) {
      std::vector<zone_plan> mono;
      for (const zone_plan &p : plans)
        if (p.side != SIDE_RIGHT || p.partner < 0)
          mono.push_back(p.side == SIDE_LEFT && p.partner >= 0 ? mixed(plans, p) : p);
      if (mono.size() != plans.size())
        warn("stereo pairs mixed to mono: no free layers");
      plans = mono;
      bins.clear();
      place(plans, true, room, true, &bins, &dropped);
      if (dropped)
        warn(std::to_string(dropped) + " overlapping zones dropped: more than four layers");
    }
    std::vector<int> waves;
    for (const bin &b : bins)
      waves.push_back(wave_for(b.maps, "_kit"));
    // Exclusive classes: each key cuts the key of its class that rings longest.
    std::map<int, std::map<int, double>> classes; // class -> key -> ring
    for (int key = 0; key < 128; ++key) {
      def_patch patch;
      patch.drum = true;
      patch.number = key;
      std::string name;
      for (std::size_t b = 0; b < bins.size(); ++b) {
        // The loudest zone of this bin for the key gives the layer's lines.
        const zone_plan *best = nullptr;
        int nzones = 0;
        std::set<std::string> kinds;
        for (const zone_plan &p : plans)
          if (p.keylo <= key && key <= p.keyhi && in_bin(bins[b], p)) {
            ++nzones;
            if (!best || p.velhi > best->velhi)
              best = &p;
          }
        if (!best)
          continue;
        const zone_plan kp = plan_zone(*best->z, key);
        for (const zone_plan &p : plans)
          if (p.keylo <= key && key <= p.keyhi && in_bin(bins[b], p))
            kinds.insert(key_of(plan_zone(*p.z, key)));
        if (kinds.size() > 1)
          warn("key " + std::to_string(key) + ": velocity zones differ in envelope: all take the loudest's");
        def_layer layer;
        layer.wave = waves[b];
        layer.lines = kp.lines;
        if (!best->pan.empty())
          layer.lines.push_back(best->pan);
        patch.fast_tempo = patch.fast_tempo || has_delay(layer.lines);
        patch.layers.push_back(layer);
        if (name.empty())
          name = bank.samples[static_cast<std::size_t>(best->z->sample)].name;
        if (best->z->gen[GEN_EXCLUSIVE])
          classes[best->z->gen[GEN_EXCLUSIVE]][key] = std::max(classes[best->z->gen[GEN_EXCLUSIVE]][key], kp.ring);
        (void)nzones;
      }
      if (patch.layers.empty())
        continue;
      bool cut = false;
      patch.name = imp_quote_name(name, &cut);
      inst.patches.push_back(patch);
    }
    for (const auto &[cls, keys] : classes) {
      if (keys.size() < 2)
        continue;
      std::string list;
      for (const auto &[key, ring] : keys) {
        int target = -1;
        double longest = -1;
        for (const auto &[other, r] : keys)
          if (other != key && r > longest) {
            longest = r;
            target = other;
          }
        for (def_patch &p : inst.patches)
          if (p.drum && p.number == key)
            p.ckey = target;
        list += (list.empty() ? "" : ", ") + std::to_string(key) + " cuts " + std::to_string(target);
      }
      if (keys.size() > 2)
        warn("exclusive class " + std::to_string(cls) + ": each key cuts one other key only (" + list + ")");
    }
  }

  // Drops the files no map names (those of layouts not chosen).
  void prune_files() {
    std::vector<int> remap(inst.files.size(), -1);
    std::vector<def_file> kept;
    for (def_wave &w : inst.waves)
      for (def_map &m : w.maps) {
        int &r = remap[static_cast<std::size_t>(m.file)];
        if (r < 0) {
          r = static_cast<int>(kept.size());
          def_file f = inst.files[static_cast<std::size_t>(m.file)];
          const std::size_t cut = f.path.find('_');
          char head[16];
          std::snprintf(head, sizeof head, "waves/%04d", r);
          f.path = head + (cut == std::string::npos ? std::string(".raw") : f.path.substr(cut));
          kept.push_back(f);
        }
        m.file = r;
      }
    inst.files = kept;
  }

  static bool in_bin(const bin &b, const zone_plan &p) {
    const def_map m = map_of(p);
    return std::any_of(b.maps.begin(), b.maps.end(), [&](const def_map &x) {
      return x.keylo == m.keylo && x.keyhi == m.keyhi && x.vello == m.vello && x.velhi == m.velhi &&
             x.file == m.file;
    });
  }
};

bool wanted(const imp_options &o, int program) {
  return o.programs.empty() || std::find(o.programs.begin(), o.programs.end(), program) != o.programs.end();
}

} // namespace

std::uint64_t def_instrument::sample_bytes() const {
  std::uint64_t n = 0;
  for (const def_wave &w : waves)
    for (const def_map &m : w.maps)
      n += 2ULL * files[static_cast<std::size_t>(m.file)].frames();
  return n;
}

std::size_t def_instrument::map_count() const {
  std::size_t n = 0;
  for (const def_wave &w : waves)
    n += w.maps.size();
  return n;
}

def_instrument imp_convert(const imp_bank &bank, const imp_options &opts) {
  converter c{bank, opts, {}, {}, {}, {}};
  // The kit first: its waves are few and shared by every drum key.
  if (opts.drums) {
    const imp_preset *kit = nullptr;
    for (const imp_preset &p : bank.presets)
      if (p.bank == 128 && (opts.kit < 0 ? (!kit || p.program < kit->program) : p.program == opts.kit))
        kit = &p;
    if (kit) {
      c.where = "kit " + std::to_string(kit->program) + " " + kit->name;
      c.drums(*kit);
    }
  }
  std::vector<const imp_preset *> order;
  for (const imp_preset &p : bank.presets)
    if (p.bank == opts.bank && p.program >= 0 && p.program < 128 && wanted(opts, p.program))
      order.push_back(&p);
  std::stable_sort(order.begin(), order.end(),
                   [](const imp_preset *a, const imp_preset *b) { return a->program < b->program; });
  std::vector<const imp_preset *> programs;
  for (const imp_preset *p : order) {
    if (!programs.empty() && programs.back()->program == p->program) {
      c.where = "preset " + std::to_string(p->program) + " " + p->name;
      c.warn("second preset of this program left out");
      continue;
    }
    programs.push_back(p);
  }
  c.melodic(programs);
  c.prune_files();
  // One line for each approximation, however many zones it touched.
  std::vector<std::string> unique;
  std::set<std::string> seen;
  for (const std::string &w : c.inst.warnings)
    if (seen.insert(w).second)
      unique.push_back(w);
  c.inst.warnings = unique;
  return c.inst;
}
