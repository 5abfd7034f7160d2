// Offline rendering through the test host's plug-in loader.
#include "render/render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "vsthost/vsthost.h"

namespace {

constexpr double QUIET = 3.1622776601683795e-5; // -90 dBFS
constexpr double MAX_TAIL = 10.0;               // seconds
constexpr const char *PROGRAMS = "programs";    // the engine's program-change switch

struct instance {
  vsthost h;
  std::vector<std::vector<unsigned char>> pending; // events for the next block
  ~instance() {
    if (h.eff)
      vsthost_close(&h);
  }
};

std::string get_chunk(vsthost *h) {
  char *p = nullptr;
  const intptr_t n = vsthost_dispatch(h, VST_EFF_GET_CHUNK, 0, 0, &p);
  return n > 0 && p ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

void set_chunk(vsthost *h, const std::string &text) {
  vsthost_dispatch(h, VST_EFF_SET_CHUNK, 0, static_cast<intptr_t>(text.size()),
                   const_cast<char *>(text.data()));
}

// The "key = value" lines of a settings text, in order.
std::vector<std::pair<std::string, std::string>> lines_of(const std::string &text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t nl = text.find('\n', at);
    if (nl == std::string::npos)
      nl = text.size();
    const std::string line = text.substr(at, nl - at);
    const std::size_t eq = line.find(" = ");
    if (eq != std::string::npos)
      out.push_back({line.substr(0, eq), line.substr(eq + 3)});
    at = nl + 1;
  }
  return out;
}

std::string text_of(const std::vector<std::pair<std::string, std::string>> &lines) {
  std::string t;
  for (const auto &l : lines)
    t += l.first + " = " + l.second + "\n";
  return t;
}

bool is_number(const std::string &s) {
  return !s.empty() && s.size() < 4 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The patch list position of a program number, or -1.
int position_of(const std::vector<render_patch> &patches, int number) {
  for (std::size_t i = 0; i < patches.size(); ++i)
    if (patches[i].number == number)
      return static_cast<int>(i);
  return -1;
}

bool has_line(const std::vector<std::pair<std::string, std::string>> &lines, const std::string &key) {
  return std::any_of(lines.begin(), lines.end(), [&](const auto &l) { return l.first == key; });
}

// "12.5 seconds", "3.0 minutes", "1250000.0 hours".
std::string duration_text(double s) {
  char buf[64];
  if (s < 120)
    std::snprintf(buf, sizeof buf, "%.1f seconds", s);
  else if (s < 7200)
    std::snprintf(buf, sizeof buf, "%.1f minutes", s / 60);
  else
    std::snprintf(buf, sizeof buf, "%.1f hours", s / 3600);
  return buf;
}

// Loads the plug-in, gives it the rate, the block size and the state, then
// the controls asked for, read back to check them.  For General MIDI an
// instrument with a "programs" control plays in program-change mode, its
// channels starting on gm_patch unless a patch was asked for.
bool setup(instance &in, const render_opts &o, const std::string &patch, const std::string &gm_patch,
           std::string *err) {
  if (!vsthost_open(&in.h, o.plugin)) {
    *err = o.plugin + ": the plug-in fails to load";
    return false;
  }
  vsthost *h = &in.h;
  if (h->eff->num_outputs < 1) {
    *err = o.plugin + ": the plug-in has no audio output";
    return false;
  }
  vsthost_dispatch(h, VST_EFF_OPEN);
  vsthost_dispatch(h, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, static_cast<float>(o.rate));
  vsthost_dispatch(h, VST_EFF_SET_BLOCK_SIZE, 0, o.block);
  if (!o.state.empty())
    set_chunk(h, o.state);
  std::vector<std::pair<std::string, std::string>> want = o.sets;
  auto lines = lines_of(get_chunk(h));
  std::string p = patch;
  if (o.gm && has_line(lines, PROGRAMS)) {
    if (!has_line(o.sets, PROGRAMS))
      want.insert(want.begin(), {PROGRAMS, "Program change"});
    if (p.empty())
      p = gm_patch;
  }
  if (!p.empty())
    want.insert(want.begin(), {"patch", p});
  if (!want.empty()) {
    for (const auto &w : want) {
      auto it = std::find_if(lines.begin(), lines.end(), [&](const auto &l) { return l.first == w.first; });
      if (it == lines.end() || w.first == "name") {
        *err = "unknown control '" + w.first + "'";
        return false;
      }
      it->second = w.second;
    }
    set_chunk(h, text_of(lines));
    const auto got = lines_of(get_chunk(h));
    for (const auto &w : want) {
      auto it = std::find_if(got.begin(), got.end(), [&](const auto &l) { return l.first == w.first; });
      if (it == got.end() || it->second != w.second) {
        *err = "unknown value '" + w.second + "' for control '" + w.first + "'";
        return false;
      }
    }
  }
  vsthost_dispatch(h, VST_EFF_MAINS_CHANGED, 0, 1);
  return true;
}

} // namespace

bool render_file(const render_opts &o, const smf_file &midi, const std::vector<render_patch> &patches,
                 const render_sink &sink, render_stats *stats, std::string *err) {
  if (o.block < 1 || o.block > 65536) {
    *err = "block size must be 1 to 65536";
    return false;
  }
  if (!(o.max_length > 0)) {
    *err = "the length limit must be above 0 seconds";
    return false;
  }
  // The patch a plain render starts with.
  std::string patch = o.patch;
  if (is_number(patch)) {
    const int pos = position_of(patches, std::stoi(patch));
    if (pos < 0) {
      *err = "no patch numbered " + patch;
      return false;
    }
    patch = patches[static_cast<std::size_t>(pos)].name;
  } else if (!patch.empty() && !patches.empty() &&
             std::none_of(patches.begin(), patches.end(), [&](const render_patch &p) { return p.name == patch; })) {
    *err = "no patch named '" + patch + "'";
    return false;
  }

  // A file can place its last event thousands of hours in: refuse it before
  // any rendering.  The automatic tail (at most MAX_TAIL) is not counted.
  const std::vector<std::uint64_t> frames = smf_frames(midi, o.rate);
  const std::uint64_t last = frames.empty() ? 0 : frames.back();
  const double length = static_cast<double>(last) / o.rate + (o.tail >= 0 ? o.tail : 0.0);
  if (!(length <= o.max_length)) {
    *err = std::string(o.tail >= 0 ? "the file and its tail last " : "the file lasts ") +
           duration_text(length) + ", longer than the limit of " + duration_text(o.max_length) +
           " (--max-length SECONDS changes it)";
    return false;
  }

  // One instance plays every channel.  With General MIDI, channels without
  // a program change play program 0 when it is defined.
  const int piano = position_of(patches, 0);
  instance in;
  if (!setup(in, o, patch, piano >= 0 ? patches[static_cast<std::size_t>(piano)].name : "", err))
    return false;

  const double tail = o.tail >= 0 ? o.tail : MAX_TAIL;
  const double total = static_cast<double>(last) + tail * o.rate;

  std::vector<float> mix(static_cast<std::size_t>(o.block) * 2);
  std::vector<std::vector<float>> out;
  std::uint64_t pos = 0;
  std::uint64_t loud_end = 0; // the frame after the last one at -90 dBFS or above
  auto render_block = [&](int n) {
    if (!in.pending.empty()) {
      vsthost_events(&in.h, in.pending);
      in.pending.clear();
    }
    vsthost_process(&in.h, out, n);
    const float *l = out[0].data(), *r = out.size() > 1 ? out[1].data() : out[0].data();
    double peak = 0;
    for (int i = 0; i < n; ++i) {
      mix[2 * static_cast<std::size_t>(i)] = l[i];
      mix[2 * static_cast<std::size_t>(i) + 1] = r[i];
      const double a = std::fabs(static_cast<double>(l[i])), b = std::fabs(static_cast<double>(r[i]));
      stats->sumsq += a * a + b * b;
      const double p = std::max(a, b);
      if (p >= QUIET)
        loud_end = pos + static_cast<std::uint64_t>(i) + 1;
      peak = std::max(peak, p);
    }
    stats->peak = std::max(stats->peak, peak);
    pos += static_cast<std::uint64_t>(n);
    stats->frames = pos;
    sink(mix.data(), n, std::min(1.0, static_cast<double>(pos) / std::max(1.0, total)));
  };
  auto render_until = [&](std::uint64_t target) {
    while (pos < target)
      render_block(static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(o.block), target - pos)));
  };

  for (std::size_t k = 0; k < midi.events.size(); ++k) {
    render_until(frames[k]);
    if (!midi.events[k].bytes.empty()) // empty: a tempo change
      in.pending.push_back(midi.events[k].bytes);
  }
  if (o.tail >= 0) {
    render_until(last + static_cast<std::uint64_t>(o.tail * o.rate));
  } else {
    // The end is the first frame after the last event that follows a tenth
    // of a second of quiet, decided frame by frame: no block is rendered
    // past the earliest end still possible, so every block size gives the
    // same length.
    const std::uint64_t cap = last + static_cast<std::uint64_t>(MAX_TAIL * o.rate);
    const auto hold = static_cast<std::uint64_t>(std::ceil(o.rate / 10.0));
    auto end = [&] { return std::min(cap, std::max(last, loud_end) + hold); };
    while (pos < end())
      render_block(static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(o.block), end() - pos)));
  }
  stats->seconds = static_cast<double>(pos) / o.rate;
  return true;
}

bool render_controls(const std::string &plugin, std::vector<std::pair<std::string, std::string>> *out,
                     std::vector<std::vector<std::string>> *values, std::string *err) {
  instance in;
  if (!vsthost_open(&in.h, plugin)) {
    *err = plugin + ": the plug-in fails to load";
    return false;
  }
  vsthost *h = &in.h;
  const auto lines = lines_of(get_chunk(h));
  out->clear();
  values->clear();
  int ctl = 0;
  for (const auto &l : lines) {
    if (l.first == "name")
      continue;
    out->push_back(l);
    std::vector<std::string> texts;
    vst_param_props pp{};
    if (ctl < h->eff->num_params && vsthost_dispatch(h, VST_EFF_GET_PARAMETER_PROPERTIES, ctl, 0, &pp) &&
        (pp.flags & VST_PARAM_USES_INT_MINMAX) && pp.max_integer > 0) {
      const float keep = h->eff->get_parameter(h->eff, ctl);
      for (int v = 0; v <= pp.max_integer; ++v) {
        h->eff->set_parameter(h->eff, ctl, static_cast<float>(v) / static_cast<float>(pp.max_integer));
        const auto now = lines_of(get_chunk(h));
        for (const auto &x : now)
          if (x.first == l.first)
            texts.push_back(x.second);
      }
      h->eff->set_parameter(h->eff, ctl, keep);
    } else if (pp.step > 0) {
      texts.push_back("0 ... " + std::to_string(static_cast<int>(std::lround(1.0 / pp.step))));
    }
    values->push_back(texts);
    ++ctl;
  }
  return true;
}
