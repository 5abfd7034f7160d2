// Cost per frame of the effect modules at 48000 Hz.  Arguments: the
// saturator's curve; for the reverb whether a room change crossfades all
// the time (1) or not (0); and last, for the saturator and the reverb,
// whether the portable code runs (1) instead of the vector code the
// processor allows (0).  The "AtRest" rows feed silence to effects whose
// state has died away.
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

#include "chorus/cho.h"
#include "rev/rev.h"
#include "saturator/sat.h"
#include "utils/cpu.h"

namespace {
constexpr int BLOCK = 256;

std::vector<std::int32_t> test_signal() {
  std::vector<std::int32_t> v(BLOCK);
  for (int i = 0; i < BLOCK; ++i)
    v[i] = static_cast<std::int32_t>(0.5 * 134217728.0 * std::sin(i * 0.03));
  return v;
}

void per_frame(benchmark::State &st) {
  st.counters["ns_per_frame"] =
      benchmark::Counter(static_cast<double>(st.iterations()) * BLOCK,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The three effects started at 48000 Hz with the host's controls.
struct effects {
  void *sat, *rev, *cho;
  int model = 1;
  explicit effects(bool portable) {
    cpu_force_portable(portable);
    sat = SAT_MODULE.new_(nullptr, nullptr);
    SAT_MODULE.start(sat, 8, BLOCK);
    rev = REV_MODULE.new_(nullptr, nullptr);
    REV_MODULE.start(rev, 8, BLOCK);
    cho = CHO_MODULE.new_(nullptr, nullptr);
    CHO_MODULE.start(cho, 8, BLOCK);
    cpu_force_portable(false);
    const int sat_vals[5] = {127, 38, 117, 117, 0};
    for (int i = 0; i < 5; ++i)
      SAT_MODULE.onctl(sat, i, sat_vals[i]);
    const int rev_vals[9] = {0, 83, 27, 1, 8, 0, 82, 83, 0};
    for (int i = 0; i < 9; ++i)
      REV_MODULE.onctl(rev, i, rev_vals[i]);
    REV_MODULE.reset(rev);
    CHO_MODULE.onctl(cho, 0, 127);
  }
  ~effects() {
    SAT_MODULE.del(sat);
    REV_MODULE.stop(rev);
    REV_MODULE.del(rev);
    CHO_MODULE.stop(cho);
    CHO_MODULE.del(cho);
  }
  // Asks for the next room size whenever the last change has faded in, so
  // that every other segment crossfades.
  void change_room() {
    auto *ri = static_cast<rev_inst *>(rev);
    if (ri->xfade.cur == 0 && ri->xfade.inc == 0)
      REV_MODULE.onctl(rev, 3, model = (model + 1) % 3);
  }
};

struct buses {
  std::vector<std::int32_t> in = test_signal(), l = std::vector<std::int32_t>(BLOCK),
                            r = std::vector<std::int32_t>(BLOCK);
  std::int32_t *ip[2] = {in.data(), in.data()}, *op[2] = {l.data(), r.data()};
};

} // namespace

static void BM_Saturator(benchmark::State &st) {
  effects fx(st.range(1) != 0);
  SAT_MODULE.onctl(fx.sat, 4, static_cast<int>(st.range(0)));
  buses b;
  for (auto _ : st) {
    SAT_MODULE.run(fx.sat, b.ip, b.op, BLOCK);
    benchmark::DoNotOptimize(b.l.data());
  }
  st.SetItemsProcessed(st.iterations() * BLOCK);
  per_frame(st);
}
BENCHMARK(BM_Saturator)->Args({2, 0})->Args({8, 0})->Args({2, 1});

static void BM_Chorus(benchmark::State &st) {
  effects fx(false);
  buses b;
  for (auto _ : st) {
    CHO_MODULE.run(fx.cho, b.ip, b.op, BLOCK);
    benchmark::DoNotOptimize(b.l.data());
  }
  per_frame(st);
}
BENCHMARK(BM_Chorus);

static void BM_Reverb(benchmark::State &st) {
  effects fx(st.range(1) != 0);
  buses b;
  for (auto _ : st) {
    if (st.range(0))
      fx.change_room();
    REV_MODULE.run(fx.rev, b.ip, b.op, BLOCK);
    benchmark::DoNotOptimize(b.l.data());
  }
  per_frame(st);
}
BENCHMARK(BM_Reverb)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1});

// All three in a row, the room changing (argument: portable code).
static void BM_AllEffects(benchmark::State &st) {
  effects fx(st.range(0) != 0);
  buses b;
  for (auto _ : st) {
    fx.change_room();
    SAT_MODULE.run(fx.sat, b.ip, b.op, BLOCK);
    REV_MODULE.run(fx.rev, b.ip, b.op, BLOCK);
    CHO_MODULE.run(fx.cho, b.ip, b.op, BLOCK);
    benchmark::DoNotOptimize(b.l.data());
  }
  per_frame(st);
}
BENCHMARK(BM_AllEffects)->Arg(0)->Arg(1);

// All three fed silence once their state has died away.
static void BM_AllEffectsAtRest(benchmark::State &st) {
  effects fx(false);
  buses b;
  b.in.assign(BLOCK, 0);
  for (auto _ : st) {
    SAT_MODULE.run(fx.sat, b.ip, b.op, BLOCK);
    REV_MODULE.run(fx.rev, b.ip, b.op, BLOCK);
    CHO_MODULE.run(fx.cho, b.ip, b.op, BLOCK);
    benchmark::DoNotOptimize(b.l.data());
  }
  per_frame(st);
}
BENCHMARK(BM_AllEffectsAtRest);

BENCHMARK_MAIN();
