// Library set-up and tear-down of the default instrument as the build
// writes it: the engine's init (definition, then every wave's data) and
// done, in milliseconds, and init alone.  A second case switches the log on at level 2, as
// a user chasing a problem would, to show what the messages cost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/os.h"
#include "synth/note/synth.h"

namespace {

namespace fs = std::filesystem;

// A temporary installation whose data folder is the built instrument.
struct default_install {
  fs::path root;
  explicit default_install(bool logging) {
    root = fs::temp_directory_path() / ("glimra-bench-setup-" + std::to_string(::getpid()));
    const fs::path synth = root / "Glimra" / "Synth";
    fs::create_directories(synth);
    fs::create_directory_symlink(ORKA_INSTRUMENT_DIR, synth / "data");
    if (logging) {
      fs::create_directories(root / "Glimra-Synth");
      std::ofstream(root / "Glimra-Synth" / "log2");
    }
    setenv("PROGRAMFILES", root.string().c_str(), 1);
    setenv("APPDATA", root.string().c_str(), 1);
    os_set_default_root("");
  }
  ~default_install() { fs::remove_all(root); }
};

// Time per iteration: init and done; init_ms: init alone, the loading.
void run(benchmark::State &state, bool logging) {
  default_install inst(logging);
  double init_ms = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    SYNTH_MODULE.init();
    init_ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    SYNTH_MODULE.done();
  }
  state.counters["init_ms"] = init_ms / static_cast<double>(state.iterations());
}

void BM_DefaultInstrument(benchmark::State &state) { run(state, false); }
BENCHMARK(BM_DefaultInstrument)->Unit(benchmark::kMillisecond);

void BM_DefaultInstrumentLogged(benchmark::State &state) { run(state, true); }
BENCHMARK(BM_DefaultInstrumentLogged)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
