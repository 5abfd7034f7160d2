// glimra-import: converts a SoundFont 2 or DLS bank into an instrument
// definition folder (midisyn.conf and waves/*.raw), ready to be the data
// folder of an installation.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "import/imp_model.h"
#include "import/imp_write.h"

namespace {

int fail(const std::string &msg) {
  std::fprintf(stderr, "glimra-import: %s\n", msg.c_str());
  return 1;
}

// "0-7,24,drums" -> programs 0...7 and 24, and whether the kit is wanted.
bool parse_list(const std::string &list, imp_options *o, std::string *err) {
  o->drums = false;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t comma = list.find(',', at);
    if (comma == std::string::npos)
      comma = list.size();
    const std::string item = list.substr(at, comma - at);
    at = comma + 1;
    if (item == "drums") {
      o->drums = true;
      continue;
    }
    int a = -1, b = -1;
    char extra = 0;
    const int n = std::sscanf(item.c_str(), "%d-%d%c", &a, &b, &extra);
    if (n == 1)
      b = a;
    if ((n != 1 && n != 2) || a < 0 || b > 127 || a > b) {
      *err = "--presets: '" + item + "' is neither a program, a range A-B of 0...127 nor 'drums'";
      return false;
    }
    for (int p = a; p <= b; ++p)
      o->programs.push_back(p);
  }
  if (o->programs.empty())
    o->programs.push_back(-1); // the kit alone
  return true;
}

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"Converts a SoundFont 2 or DLS bank into a Glimra Synth instrument definition."};
  std::string bankfile, outdir, presets;
  imp_options o;
  bool quiet = false;
  app.add_option("bank", bankfile, "SoundFont 2 (.sf2) or DLS (.dls) bank")->required();
  app.add_option("-o,--output", outdir, "folder to write midisyn.conf and waves/ into")->required();
  app.add_option("--bank", o.bank, "bank whose presets become patches")->capture_default_str();
  app.add_option("--kit", o.kit, "program of the percussion bank (128) that becomes the drum keys "
                                 "(default: the lowest)");
  app.add_option("--presets", presets, "programs to import, e.g. 0-7,24,drums (default: all)");
  app.add_flag("-q,--quiet", quiet, "no warnings and no progress bar");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    return app.exit(e);
  }
  std::string err;
  if (!presets.empty() && !parse_list(presets, &o, &err))
    return fail(err);

  const auto t0 = std::chrono::steady_clock::now();
  imp_bank bank;
  if (!imp_read_bank(bankfile, &bank, &err))
    return fail(err);
  const def_instrument inst = imp_convert(bank, o);
  if (inst.patches.empty())
    return fail(bankfile + ": no preset of bank " + std::to_string(o.bank) + " to import");
  if (!quiet)
    for (const std::string &w : inst.warnings)
      std::fprintf(stderr, "warning: %s\n", w.c_str());

  const bool bar = !quiet && isatty(2);
  if (!imp_write(inst, bank, outdir, std::filesystem::path(bankfile).filename().string(),
                 [&](std::size_t done, std::size_t total) {
                   if (!bar)
                     return;
                   const int w = total ? static_cast<int>(30 * done / total) : 30;
                   std::fprintf(stderr, "\r[%-30s] %zu/%zu sample files", std::string(static_cast<std::size_t>(w), '#').c_str(),
                                done, total);
                   if (done == total)
                     std::fprintf(stderr, "\n");
                 },
                 &err))
    return fail(err);
  // The engine's own reader checks what was written.
  if (!imp_check(outdir, &err))
    return fail("the written definition does not load: " + err);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  int patches = 0, drums = 0;
  for (const def_patch &p : inst.patches)
    (p.drum ? drums : patches)++;
  std::printf("%s: %d patches, %d drum keys, %zu waves, %zu maps, sample memory %.1f MB, "
              "%zu warnings, %.1f s\n",
              outdir.c_str(), patches, drums, inst.waves.size(), inst.map_count(),
              static_cast<double>(inst.sample_bytes()) / 1e6, inst.warnings.size(), secs);
  return 0;
}
