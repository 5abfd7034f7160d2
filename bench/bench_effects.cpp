// Cost per frame of the effect modules at 48000 Hz.
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

#include "chorus/cho.h"
#include "rev/rev.h"
#include "saturator/sat.h"

namespace {
constexpr int BLOCK = 256;

std::vector<std::int32_t> test_signal() {
  std::vector<std::int32_t> v(BLOCK);
  for (int i = 0; i < BLOCK; ++i)
    v[i] = static_cast<std::int32_t>(0.5 * 134217728.0 * std::sin(i * 0.03));
  return v;
}
} // namespace

static void BM_Saturator(benchmark::State &st) {
  void *s = SAT_MODULE.new_(nullptr, nullptr);
  SAT_MODULE.start(s, 8, BLOCK);
  int vals[5] = {127, 38, 117, 117, static_cast<int>(st.range(0))};
  for (int i = 0; i < 5; ++i)
    SAT_MODULE.onctl(s, i, vals[i]);
  auto in = test_signal();
  std::vector<std::int32_t> out(BLOCK);
  std::int32_t *ip = in.data(), *op = out.data();
  for (auto _ : st) {
    SAT_MODULE.run(s, &ip, &op, BLOCK);
    benchmark::DoNotOptimize(out.data());
  }
  st.SetItemsProcessed(st.iterations() * BLOCK);
  st.counters["ns_per_frame"] =
      benchmark::Counter(static_cast<double>(st.iterations()) * BLOCK,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  SAT_MODULE.del(s);
}
BENCHMARK(BM_Saturator)->Arg(2)->Arg(8);

static void BM_Chorus(benchmark::State &st) {
  void *c = CHO_MODULE.new_(nullptr, nullptr);
  CHO_MODULE.start(c, 8, BLOCK);
  CHO_MODULE.onctl(c, 0, 127);
  auto in = test_signal();
  std::vector<std::int32_t> outl(BLOCK), outr(BLOCK);
  std::int32_t *ip[2] = {in.data(), in.data()}, *op[2] = {outl.data(), outr.data()};
  for (auto _ : st) {
    CHO_MODULE.run(c, ip, op, BLOCK);
    benchmark::DoNotOptimize(outl.data());
  }
  st.counters["ns_per_frame"] =
      benchmark::Counter(static_cast<double>(st.iterations()) * BLOCK,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  CHO_MODULE.del(c);
}
BENCHMARK(BM_Chorus);

// Steady state (arg 0) and with a room change crossfading all the time (arg 1).
static void BM_Reverb(benchmark::State &st) {
  void *r = REV_MODULE.new_(nullptr, nullptr);
  REV_MODULE.start(r, 8, BLOCK);
  const int defs[9] = {0, 83, 27, 1, 8, 0, 82, 83, 0};
  for (int i = 0; i < 9; ++i)
    REV_MODULE.onctl(r, i, defs[i]);
  REV_MODULE.reset(r);
  auto in = test_signal();
  std::vector<std::int32_t> outl(BLOCK), outr(BLOCK);
  std::int32_t *ip[2] = {in.data(), in.data()}, *op[2] = {outl.data(), outr.data()};
  int model = 1;
  for (auto _ : st) {
    if (st.range(0)) {
      auto *ri = static_cast<rev_inst *>(r);
      if (ri->xfade.cur == 0 && ri->xfade.inc == 0)
        REV_MODULE.onctl(r, 3, model = (model + 1) % 3);
    }
    REV_MODULE.run(r, ip, op, BLOCK);
    benchmark::DoNotOptimize(outl.data());
  }
  st.counters["ns_per_frame"] =
      benchmark::Counter(static_cast<double>(st.iterations()) * BLOCK,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  REV_MODULE.stop(r);
  REV_MODULE.del(r);
}
BENCHMARK(BM_Reverb)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
