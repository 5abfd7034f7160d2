// The whole engine at 48000 Hz in blocks of 256 frames: voices with the
// lowpass filter on looped waves, all three effects running.
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/os.h"
#include "synth/note/synth.h"

namespace {

constexpr int BLOCK = 256;

// An installation with one four-layer patch, in a fresh temporary folder.
struct install {
  std::filesystem::path root;
  install() {
    root = std::filesystem::temp_directory_path() / ("glimra-bench-" + std::to_string(::getpid()));
    const auto data = root / "Glimra" / "Synth" / "data";
    std::filesystem::create_directories(data);
    std::string raw;
    for (int i = 0; i < 48000; ++i) {
      const auto v = static_cast<std::int16_t>(12000 * std::sin(i * 2 * 3.14159265358979 / 109.0));
      raw += static_cast<char>(v & 0xFF);
      raw += static_cast<char>((v >> 8) & 0xFF);
    }
    std::ofstream(data / "w.raw", std::ios::binary) << raw;
    std::string conf = "wav w {\nmap { data \"w.raw\"\nloop 47960\n}\n}\npatch 0 {\n";
    for (int l = 0; l < 4; ++l)
      conf += "layer l {\nwav w\nfilt lowpass\ncut.base 90\nres.base 30\ncut.lfo 12\n}\n";
    conf += "}\n";
    std::ofstream(data / "midisyn.conf") << conf;
    setenv("PROGRAMFILES", root.string().c_str(), 1);
    setenv("APPDATA", root.string().c_str(), 1);
    os_set_default_root("");
  }
  ~install() { std::filesystem::remove_all(root); }
};

} // namespace

// Arg: number of notes (4 voices each).
static void BM_Engine(benchmark::State &st) {
  install inst;
  SYNTH_MODULE.init();
  void *s = SYNTH_MODULE.new_(nullptr, nullptr);
  SYNTH_MODULE.start(s, 8, BLOCK);
  orka_info info{};
  SYNTH_MODULE.info(&info);
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    SYNTH_MODULE.ctlinfo(i, &ci);
    SYNTH_MODULE.onctl(s, i, ci.def);
  }
  const int notes = static_cast<int>(st.range(0));
  for (int k = 0; k < notes; ++k) {
    const unsigned char on[] = {static_cast<unsigned char>(0x90 | (k % 16)),
                                static_cast<unsigned char>(30 + k), 100};
    SYNTH_MODULE.midi(s, on, 3);
  }
  std::vector<std::int32_t> l(BLOCK), r(BLOCK);
  std::int32_t *out[2] = {l.data(), r.data()};
  for (auto _ : st) {
    SYNTH_MODULE.run(s, nullptr, out, BLOCK);
    benchmark::DoNotOptimize(l.data());
  }
  const auto *sy = static_cast<const synth *>(s);
  const double frames = static_cast<double>(st.iterations()) * BLOCK;
  st.counters["voices"] = 4.0 * sy->nnotes;
  st.counters["ns_per_frame"] =
      benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  st.counters["ns_per_voice_frame"] = benchmark::Counter(
      frames * 4 * sy->nnotes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  st.counters["realtime_factor"] =
      benchmark::Counter(frames / 48000.0, benchmark::Counter::kIsRate);
  SYNTH_MODULE.del(s);
  SYNTH_MODULE.done();
}
BENCHMARK(BM_Engine)->Arg(0)->Arg(4)->Arg(64)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
