// Library set-up of large definitions: reading, map ordering, sample data
// and tear-down must stay roughly linear in the size of the definition.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/os.h"
#include "synth/conf/conf.h"
#include "utils/log.h"

namespace {

// A temporary installation holding one definition and a 16-sample wave
// that every map names.
struct conf_install {
  std::filesystem::path root;
  explicit conf_install(const std::string &conf) {
    root = std::filesystem::temp_directory_path() /
           ("glimra-bench-conf-" + std::to_string(::getpid()));
    const auto data = root / "Glimra" / "Synth" / "data";
    std::filesystem::create_directories(data);
    std::ofstream(data / "d.raw", std::ios::binary) << std::string(32, '\x01');
    std::ofstream(data / "midisyn.conf", std::ios::binary) << conf;
    setenv("PROGRAMFILES", root.string().c_str(), 1);
    os_set_default_root("");
  }
  ~conf_install() { std::filesystem::remove_all(root); }
};

// One wave of n maps written in ascending order: every key, then velocity
// zones, then random zones, as a large multi-sampled instrument would.
std::string many_maps(int n) {
  std::string s = "wav big {\n";
  int made = 0;
  for (int key = 0; key < 128 && made < n; ++key)
    for (int vel = 0; vel < 128 && made < n; ++vel)
      for (int rnd = 0; rnd < 128 && made < n; rnd += 16, ++made)
        s += "map key = " + std::to_string(key) + " vel = " + std::to_string(vel) + " rnd = " + std::to_string(rnd) + ":" +
             std::to_string(rnd + 15) + " { data \"d.raw\"\n}\n";
  return s + "}\npatch 0 {\nlayer a {\nwav big\n}\n}\n";
}

// n waves of one map each (more than the table holds: refused at the end).
std::string many_waves(int n) {
  std::string s;
  for (int i = 0; i < n; ++i)
    s += "wav w" + std::to_string(i) + " {\nmap { data \"d.raw\"\n}\n}\n";
  return s;
}

void run_setup(benchmark::State &state, const std::string &conf) {
  conf_install inst(conf);
  log_level = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(conf_setup());
    conf_teardown();
  }
}

void BM_SetupMaps(benchmark::State &state) {
  run_setup(state, many_maps(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_SetupMaps)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(5)->ReportAggregatesOnly(true);

void BM_SetupWaves(benchmark::State &state) {
  run_setup(state, many_waves(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_SetupWaves)->Arg(30000)->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
