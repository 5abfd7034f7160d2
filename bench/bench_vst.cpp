// A 256-frame block through the plug-in's processReplacing against the
// engine's run called directly, with 16 voices sounding.
#include <benchmark/benchmark.h>
#include <vector>

#include "bench_install.h"
#include "synth/note/synth.h"
#include "vst/okvst.h"

extern "C" vst_effect *VSTPluginMain(vst_hostcb host);

namespace {
constexpr int BLOCK = 256;

intptr_t VST_CALL host(vst_effect *, std::int32_t op, std::int32_t, intptr_t, void *, float) {
  return op == VST_HOST_VERSION ? 2400 : 0;
}

void notes(void *engine) {
  for (int k = 0; k < 4; ++k) {
    const unsigned char on[] = {0x90, static_cast<unsigned char>(48 + 5 * k), 100};
    SYNTH_MODULE.midi(engine, on, 3);
  }
}
} // namespace

static void BM_EngineRun(benchmark::State &st) {
  install inst;
  SYNTH_MODULE.init();
  void *s = started_synth(BLOCK);
  SYNTH_MODULE.reset(s); // as the plug-in does after switching on
  notes(s);
  std::vector<std::int32_t> l(BLOCK), r(BLOCK);
  std::int32_t *out[2] = {l.data(), r.data()};
  for (auto _ : st) {
    std::fill(l.begin(), l.end(), 0);
    std::fill(r.begin(), r.end(), 0);
    SYNTH_MODULE.run(s, nullptr, out, BLOCK);
    benchmark::DoNotOptimize(l.data());
  }
  SYNTH_MODULE.del(s);
  SYNTH_MODULE.done();
}
BENCHMARK(BM_EngineRun)->Unit(benchmark::kMicrosecond);

static void BM_PluginProcess(benchmark::State &st) {
  install inst;
  okvst_g = okvst_global{};
  okvst_g.ninst = 1; // the engine linked in stands for the loaded library
  okvst_g.lib = &okvst_g;
  okvst_g.mod = &SYNTH_MODULE;
  SYNTH_MODULE.init();
  vst_effect *e = VSTPluginMain(host);
  e->dispatcher(e, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  e->dispatcher(e, VST_EFF_SET_BLOCK_SIZE, 0, BLOCK, nullptr, 0.0f);
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 1, nullptr, 0.0f);
  notes(okvst_of(e)->engine);
  std::vector<float> l(BLOCK), r(BLOCK);
  float *out[2] = {l.data(), r.data()};
  for (auto _ : st) {
    e->process_replacing(e, nullptr, out, BLOCK);
    benchmark::DoNotOptimize(l.data());
  }
  e->dispatcher(e, VST_EFF_CLOSE, 0, 0, nullptr, 0.0f);
  SYNTH_MODULE.done();
  okvst_g = okvst_global{};
}
BENCHMARK(BM_PluginProcess)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
