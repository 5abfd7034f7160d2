// Cost of the support code that the audio path may touch.
#include <benchmark/benchmark.h>

#include "synth/pool/pool.h"
#include "utils/log.h"

static void BM_LogDisabled(benchmark::State &s) {
  for (auto _ : s)
    log_printf(3, "midi voice event: %d", 42);
}
BENCHMARK(BM_LogDisabled);

static void BM_FormatFixedPoint(benchmark::State &s) {
  conv_register(conv_fp, "fp:%u,%d");
  char buf[256];
  for (auto _ : s)
    benchmark::DoNotOptimize(
        xsnprintf(conv_call, buf, sizeof buf, "pitch = {fp:%u,%d}", 20, 72876032));
  conv_unregister(conv_fp);
}
BENCHMARK(BM_FormatFixedPoint);

static void BM_PoolGetPut(benchmark::State &s) {
  pool p;
  pool_init(&p, "bench", 96, 256);
  for (auto _ : s) {
    void *x = pool_get(&p);
    benchmark::DoNotOptimize(x);
    pool_put(&p, x);
  }
  pool_done(&p);
}
BENCHMARK(BM_PoolGetPut);

BENCHMARK_MAIN();
