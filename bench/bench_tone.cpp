// Cost per voice-frame of the voice loop at 48000 Hz, by increment and
// filter.
#include <benchmark/benchmark.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "synth/conf/conf.h"
#include "synth/note/tone.h"
#include "synth/patch/patch.h"
#include "utils/cpu.h"

namespace {
constexpr int BLOCK = 256;
constexpr std::int32_t Q20 = 1 << 20;
} // namespace

// Args: increment in quarters (2 = 0.5, 4 = 1.0, 8 = 2.0, 16 = 4.0, 32 =
// 8.0, 128 = 32.0), filter type, loop (0 portable, 1 AVX2 where the
// processor has it).
static void BM_Voice(benchmark::State &st) {
  if (st.range(2) == 1 && !cpu_avx2()) {
    st.SkipWithError("no AVX2 on this processor");
    return;
  }
  pool hooks;
  pool_init(&hooks, "hook", sizeof(hook), 64);
  tone_ctx ctx{&hooks, 8, static_cast<int>(st.range(2))};
  conf_init();
  static tone t;
  std::memset(&t, 0, sizeof t);
  std::memcpy(t.par, patch_new(0)->layers[0].par, sizeof t.par);
  conf_done();
  std::vector<std::int16_t> data(48000);
  for (int i = 0; i < 48000; ++i)
    data[i] = static_cast<std::int16_t>(20000 * std::sin(i * 0.0313));
  ::map m{};
  m.samples = data.data();
  m.nsamples = 48000;
  m.loop = 48000;
  m.pitch = 64 * Q20;
  m.volume = 127 * Q20;
  t.map = &m;
  t.weight = 1 << 27;
  t.revgain = t.chogain = 1 << 25;
  const double inc = st.range(0) / 4.0;
  t.par[PAR_PITCH] = static_cast<std::int32_t>(std::lround((64 + 12 * std::log2(inc)) * Q20));
  t.par[PAR_CUT] = 90 * Q20;
  t.par[PAR_RES] = 40 * Q20;
  tone_setfilt(&t, static_cast<int>(st.range(1)));
  tone_start(&ctx, &t, 500000);
  std::vector<std::int32_t> buf[4];
  std::int32_t *bus[4];
  for (int k = 0; k < 4; ++k) {
    buf[k].assign(BLOCK, 0);
    bus[k] = buf[k].data();
  }
  for (auto _ : st) {
    // Cleared as the engine clears them for every block (4 KB, about 0.1 ns
    // per frame): buses summed over and over would saturate, and the
    // saturating sums would take their rare path every frame.
    for (auto &b : buf)
      std::memset(b.data(), 0, BLOCK * sizeof b[0]);
    tone_run(&ctx, &t, bus, BLOCK);
    benchmark::DoNotOptimize(buf[0].data());
  }
  st.counters["ns_per_frame"] =
      benchmark::Counter(static_cast<double>(st.iterations()) * BLOCK,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  // The kernel has 8 taps at normal speed and below, 8 x increment above.
  st.counters["ns_per_tap"] = benchmark::Counter(
      static_cast<double>(st.iterations()) * BLOCK * 8 * std::max(1.0, inc),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  tone_clear_events(&ctx, &t);
  pool_done(&hooks);
}
BENCHMARK(BM_Voice)->ArgsProduct({{2, 4, 8, 16, 32, 128}, {FILT_OFF, FILT_LOWPASS}, {0, 1}});
BENCHMARK_MAIN();
