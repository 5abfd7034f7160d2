// glimra-render: renders Standard MIDI Files through a VST 2 instrument to
// WAV or FLAC.
#include <CLI/CLI.hpp>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "render/render.h"
#include "render/render_install.h"
#include "synth/conf/conf.h"
#include "synth/patch/patch.h"
#include "tool_root.h"
#include "utils/appdata.h"
#include "utils/log.h"

#ifndef ORKA_PLUGIN_DEFAULT
#define ORKA_PLUGIN_DEFAULT ""
#endif

namespace {

int fail(const std::string &msg) {
  std::fprintf(stderr, "glimra-render: %s\n", msg.c_str());
  return 1;
}

bool supported_rate(int r) {
  for (int i = 0; i < ORKA_NRATES; ++i)
    if (ORKA_RATES[i] == r)
      return true;
  return false;
}

std::string ends_with(const std::string &s, int n) {
  return s.size() >= static_cast<std::size_t>(n) ? s.substr(s.size() - n) : std::string();
}

double dbfs(double v) { return v > 0 ? 20 * std::log10(v) : -999.0; }

// The instrument's patches and drum keys, read as the engine does: the
// installation beside this program first, as the plug-in beside it finds
// its engine there.
std::vector<render_patch> load_patches(std::vector<render_patch> *drums) {
  std::vector<render_patch> list;
  void (*sink)(const char *, std::size_t) = log_sink;
  const int level = log_level;
  const std::string mine = tool_installdir(); // empty with PROGRAMFILES (--instrument)
  if (!mine.empty())
    appdata_set_installdir(mine.c_str());
  log_level = 0; // the engine reports its own problems; this is a listing
  const bool ok = conf_setup();
  log_level = level;
  log_sink = sink;
  appdata_set_installdir(nullptr);
  if (ok) {
    for (int i = 0; i < PATCH_MAX - 1; ++i)
      if (patch_table[i])
        list.push_back({i, patch_table[i]->name});
    for (int i = 0; i < PATCH_MAX; ++i)
      if (drums && drumkey_table[i])
        drums->push_back({i, drumkey_table[i]->name});
  }
  list.push_back({127, "Percussions"});
  conf_teardown();
  return list;
}

// The log, when switched on, names every plug-in path tried, as the
// plug-in names every engine path.
struct log_session {
  log_session() { log_open("Glimra", "Synth"); }
  ~log_session() { log_close(); }
  log_session(const log_session &) = delete;
  log_session &operator=(const log_session &) = delete;
};

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"Renders Standard MIDI Files through a VST 2 instrument (by default Glimra Synth)."};
  render_opts o;
  std::string midi, output, output2, format = "16", state, instrument;
  std::vector<std::string> sets;
  bool list = false, quiet = false;
  app.add_option("midi", midi, "Standard MIDI File to render");
  app.add_option("output", output2, "output file, as -o");
  app.add_option("-o,--output", output, "output file, .wav or .flac (default: the MIDI file's name)");
  app.add_option("--plugin", o.plugin, "VST 2 instrument file (default: the installed Glimra Synth)");
  app.add_option("--instrument", instrument, "folder of an instrument definition (midisyn.conf and its "
                                             "waves) to play instead of the installed one");
  app.add_option("--rate", o.rate, "sample rate")->capture_default_str();
  app.add_option("--format", format, "sample format: 16, 24 or float")->capture_default_str();
  app.add_option("--patch", o.patch, "patch by name or program number");
  app.add_option("--set", sets, "NAME=VALUE: a control by its settings-text name");
  app.add_option("--state", state, "a settings text file, given to the plug-in as its state");
  app.add_option("--tail", o.tail, "seconds after the last event (default: until below -90 dBFS, at most 10)");
  app.add_option("--block", o.block, "largest block handed to the plug-in")->capture_default_str();
  app.add_option("--max-length", o.max_length, "longest file accepted, in seconds")->capture_default_str();
  app.add_flag("--gm", o.gm, "General MIDI: program changes select patches, drums on channel 10");
  app.add_flag("--list", list, "list patches, drum keys and controls, then stop");
  app.add_flag("-q,--quiet", quiet, "no progress bar and no summary");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    return app.exit(e);
  }
  if (!output2.empty() && !output.empty() && output2 != output)
    return fail("two outputs given: " + output + " and " + output2);
  if (output.empty())
    output = output2;
  const log_session logging;
  render_instrument inst;
  std::string err;
  std::vector<render_patch> drums, patches;
  // The plug-in (the installation's own, beside the renderer first), the
  // instrument it plays and that instrument's patches.
  auto prepare = [&]() {
    if (o.plugin.empty()) {
      const std::vector<std::string> tried = render_plugin_paths(ORKA_PLUGIN_DEFAULT);
      for (const std::string &p : tried) {
        const bool here = access(p.c_str(), R_OK) == 0;
        log_printf(1, here ? "%s: %s: plug-in found" : "%s: %s: no plug-in there", "glimra-render",
                   p.c_str());
        if (here) {
          o.plugin = p;
          break;
        }
      }
      if (o.plugin.empty()) {
        err = "no plug-in found (tried " + render_join(tried) + ")";
        return false;
      }
    }
    if (!instrument.empty() && !inst.open(instrument, o.plugin, &err))
      return false;
    patches = load_patches(&drums);
    return true;
  };
  // A plug-in that loads but gives no instance did not find its engine.
  auto explain = [&](const std::string &e) {
    if (e.find("the plug-in fails to load") == std::string::npos || access(o.plugin.c_str(), R_OK) != 0)
      return e;
    return e + " (its engine is looked for in " + render_join(render_engine_paths(o.plugin)) + ")";
  };
  if (list) {
    if (!prepare())
      return fail(err);
    std::printf("Patches:\n");
    for (const render_patch &p : patches)
      std::printf("  %3d  %s\n", p.number, p.name.c_str());
    std::printf("Drum keys:\n");
    for (const render_patch &p : drums)
      std::printf("  %3d  %s\n", p.number, p.name.c_str());
    std::vector<std::pair<std::string, std::string>> ctls;
    std::vector<std::vector<std::string>> values;
    if (!render_controls(o.plugin, &ctls, &values, &err))
      return fail(explain(err));
    std::printf("Controls (name = current value: possible values):\n");
    for (std::size_t i = 0; i < ctls.size(); ++i) {
      std::string v;
      for (const std::string &t : values[i])
        v += (v.empty() ? "" : ", ") + t;
      std::printf("  %s = %s: %s\n", ctls[i].first.c_str(), ctls[i].second.c_str(), v.c_str());
    }
    return 0;
  }

  if (midi.empty())
    return fail("no MIDI file given (see --help)");
  if (!supported_rate(o.rate))
    return fail("unsupported rate " + std::to_string(o.rate));
  for (const std::string &s : sets) {
    const std::size_t eq = s.find('=');
    if (eq == std::string::npos || eq == 0)
      return fail("--set needs NAME=VALUE, not '" + s + "'");
    o.sets.push_back({s.substr(0, eq), s.substr(eq + 1)});
  }
  if (!state.empty()) {
    std::ifstream in(state, std::ios::binary);
    if (!in)
      return fail(state + ": cannot open");
    std::stringstream ss;
    ss << in.rdbuf();
    o.state = ss.str();
  }
  int subtype = SF_FORMAT_PCM_16;
  if (format == "24")
    subtype = SF_FORMAT_PCM_24;
  else if (format == "float")
    subtype = SF_FORMAT_FLOAT;
  else if (format != "16")
    return fail("unknown sample format '" + format + "' (16, 24 or float)");
  if (output.empty()) {
    const std::size_t dot = midi.rfind('.');
    output = (dot == std::string::npos ? midi : midi.substr(0, dot)) + ".wav";
  }
  int major;
  if (ends_with(output, 4) == ".wav")
    major = SF_FORMAT_WAV;
  else if (ends_with(output, 5) == ".flac")
    major = SF_FORMAT_FLAC;
  else
    return fail("output must end in .wav or .flac: " + output);
  if (major == SF_FORMAT_FLAC && subtype == SF_FORMAT_FLOAT)
    return fail("FLAC holds 16 or 24-bit samples, not float");

  smf_file file;
  if (!smf_read(midi, &file, &err))
    return fail(err);
  if (!prepare())
    return fail(err);

  SF_INFO info{};
  info.samplerate = o.rate;
  info.channels = 2;
  info.format = major | subtype;
  SNDFILE *snd = sf_open(output.c_str(), SFM_WRITE, &info);
  if (!snd)
    return fail(output + ": " + sf_strerror(nullptr));
  sf_command(snd, SFC_SET_CLIPPING, nullptr, SF_TRUE);

  const bool bar = !quiet && isatty(2);
  const auto wall0 = std::chrono::steady_clock::now();
  const std::clock_t cpu0 = std::clock();
  double shown = -1;
  render_stats stats;
  const bool ok = render_file(
      o, file, patches,
      [&](const float *frames, int n, double progress) {
        sf_writef_float(snd, frames, n);
        if (bar && progress - shown >= 0.01) {
          shown = progress;
          const double el = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
          const double audio = static_cast<double>(stats.frames) / o.rate;
          const int w = static_cast<int>(progress * 30);
          std::fprintf(stderr, "\r[%-30s] %6.1f s rendered, %5.1f s elapsed, %6.1fx real time",
                       std::string(static_cast<std::size_t>(w), '#').c_str(), audio, el,
                       el > 0 ? audio / el : 0.0);
        }
      },
      &stats, &err);
  sf_close(snd);
  if (bar)
    std::fprintf(stderr, "\n");
  if (!ok) {
    std::remove(output.c_str());
    return fail(explain(err));
  }
  const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
  if (!quiet) {
    const double rms = stats.frames ? std::sqrt(stats.sumsq / (2.0 * stats.frames)) : 0;
    std::printf("%s: %.1f s, peak %.1f dBFS, RMS %.1f dBFS, %.1fx real time\n", output.c_str(),
                stats.seconds, dbfs(stats.peak), dbfs(rms), cpu > 0 ? stats.seconds / cpu : 0.0);
  }
  return 0;
}
