// Cost of the support code that the audio path may touch.
#include <benchmark/benchmark.h>

#include <vector>

#include "synth/pool/pool.h"
#include "utils/alloc.h"
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

// One allocation and one release with range(0) other blocks alive: the
// cost must not grow with the number of live blocks.
static void BM_AllocFreeWithLiveBlocks(benchmark::State &s) {
  std::vector<void *> live(static_cast<std::size_t>(s.range(0)));
  for (void *&p : live)
    p = xmalloc(24, XTAG);
  std::size_t i = 0;
  for (auto _ : s) {
    // free an old block (not the newest) and put a new one in its place
    xfree(live[i]);
    live[i] = xmalloc(24, XTAG);
    i = (i + 7919) % live.size();
  }
  for (void *p : live)
    xfree(p);
}
BENCHMARK(BM_AllocFreeWithLiveBlocks)->Arg(16)->Arg(1000)->Arg(100000);

BENCHMARK_MAIN();
