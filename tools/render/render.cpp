// Offline rendering through the test host's plug-in loader.
#include "render/render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "vsthost/vsthost.h"

namespace {

constexpr double QUIET = 3.1622776601683795e-5; // -90 dBFS
constexpr double MAX_TAIL = 10.0;               // seconds

struct instance {
  vsthost h;
  int channel = 0;
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

bool setup(instance &in, const render_opts &o, const std::string &patch, std::string *err) {
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
  if (!patch.empty())
    want.insert(want.begin(), {"patch", patch});
  if (!want.empty()) {
    auto lines = lines_of(get_chunk(h));
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

  // Instances: one, or one per channel that the file uses.
  std::vector<std::unique_ptr<instance>> insts;
  int of_channel[16];
  std::fill(std::begin(of_channel), std::end(of_channel), -1);
  bool used[16] = {};
  for (const smf_event &e : midi.events)
    if (!e.bytes.empty() && e.bytes[0] >= 0x80 && e.bytes[0] < 0xF0)
      used[e.bytes[0] & 15] = true;
  const int kit_pos = static_cast<int>(patches.size()) - 1; // the drum kit ends the list
  for (int c = 0; c < 16; ++c) {
    if (!o.gm && c > 0)
      break;
    if (o.gm && !used[c])
      continue;
    auto in = std::make_unique<instance>();
    in->channel = c;
    std::string p = patch;
    if (o.gm && c == 9 && !patches.empty())
      p = "Percussions";
    else if (o.gm && p.empty() && position_of(patches, 0) >= 0)
      p = patches[static_cast<std::size_t>(position_of(patches, 0))].name;
    if (!setup(*in, o, p, err))
      return false;
    of_channel[c] = static_cast<int>(insts.size());
    insts.push_back(std::move(in));
  }
  if (insts.empty()) { // a file without channel messages: one silent instance
    auto in = std::make_unique<instance>();
    if (!setup(*in, o, patch, err))
      return false;
    of_channel[0] = 0;
    insts.push_back(std::move(in));
  }

  const std::vector<std::uint64_t> frames = smf_frames(midi, o.rate);
  const std::uint64_t last = frames.empty() ? 0 : frames.back();
  const double tail = o.tail >= 0 ? o.tail : MAX_TAIL;
  const double total = static_cast<double>(last) + tail * o.rate;

  std::vector<float> mix(static_cast<std::size_t>(o.block) * 2);
  std::vector<std::vector<float>> out;
  std::uint64_t pos = 0;
  double quiet_frames = 0;
  auto render_block = [&](int n) {
    std::fill(mix.begin(), mix.begin() + 2 * n, 0.0f);
    for (auto &in : insts) {
      if (!in->pending.empty()) {
        vsthost_events(&in->h, in->pending);
        in->pending.clear();
      }
      vsthost_process(&in->h, out, n);
      const float *l = out[0].data(), *r = out.size() > 1 ? out[1].data() : out[0].data();
      for (int i = 0; i < n; ++i) {
        mix[2 * i] += l[i];
        mix[2 * i + 1] += r[i];
      }
    }
    double peak = 0;
    for (int i = 0; i < 2 * n; ++i) {
      const double v = std::fabs(mix[static_cast<std::size_t>(i)]);
      peak = std::max(peak, v);
      stats->sumsq += v * v;
    }
    stats->peak = std::max(stats->peak, peak);
    quiet_frames = peak < QUIET ? quiet_frames + n : 0;
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
    const smf_event &e = midi.events[k];
    if (e.bytes.empty())
      continue; // a tempo change
    const int status = e.bytes[0];
    if (status == 0xF0 || status < 0x80 || status == 0xF7) {
      for (auto &in : insts) // system messages reach every instance
        in->pending.push_back(e.bytes);
      continue;
    }
    const int c = status & 15;
    if (o.gm && (status & 0xF0) == 0xC0) {
      // A program change selects that patch when it is defined; the drum
      // channel stays on the kit.
      const int idx = of_channel[c];
      const int p = e.bytes.size() > 1 ? position_of(patches, e.bytes[1]) : -1;
      if (idx >= 0 && p >= 0 && c != 9 && kit_pos > 0) {
        // The plug-in hands control values over at the start of a block:
        // earlier events go first, then an empty block carries the change,
        // so notes at this same frame already use the new patch.
        instance &in = *insts[static_cast<std::size_t>(idx)];
        if (!in.pending.empty()) {
          vsthost_events(&in.h, in.pending);
          in.pending.clear();
        }
        in.h.eff->set_parameter(in.h.eff, 0, static_cast<float>(p) / static_cast<float>(kit_pos));
        vsthost_process(&in.h, out, 0);
      }
      continue;
    }
    const int idx = o.gm ? of_channel[c] : 0;
    if (idx >= 0)
      insts[static_cast<std::size_t>(idx)]->pending.push_back(e.bytes);
  }
  if (o.tail >= 0) {
    render_until(last + static_cast<std::uint64_t>(o.tail * o.rate));
  } else {
    const std::uint64_t cap = last + static_cast<std::uint64_t>(MAX_TAIL * o.rate);
    quiet_frames = 0;
    while (pos < cap && quiet_frames < o.rate / 10.0)
      render_block(static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(o.block), cap - pos)));
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
