// The whole engine at 48000 Hz in blocks of 256 frames: voices with the
// lowpass filter on looped waves, all three effects running.
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_install.h"
#include "synth/note/synth.h"

namespace {

constexpr int BLOCK = 256;

} // namespace

// Args: number of notes (4 voices each) on keys 30 upward; patch 0 (one
// recording: keys above 60 play up to 2.75 octaves above it) or 1 (one
// recording per octave, every note at or below its recording).
static void BM_Engine(benchmark::State &st) {
  install inst;
  SYNTH_MODULE.init();
  void *s = started_synth(BLOCK);
  SYNTH_MODULE.onctl(s, 0, static_cast<int>(st.range(1)));
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
BENCHMARK(BM_Engine)->Args({0, 0})->Args({4, 0})->Args({64, 0})->Args({4, 1})->Args({64, 1})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
