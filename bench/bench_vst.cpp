// The plug-in at 48000 Hz in blocks of 64 frames.
//
// BM_DensePlugin plays a dense passage of 10 000 blocks (--blocks=N) through the built
// plug-in, loaded from its file as a host loads it, which loads the built
// engine library from a temporary installation: 64 notes of a four-layer
// patch (256 voices, two layers through the saturator), reverb and chorus
// sends on, a note starting every second block (stealing the oldest), a
// controller every block, pitch bends and a host parameter change now and
// then.  It reports the 50th, 99th and 99.9th percentile of one
// processReplacing call, in microseconds and as a share of the block's
// duration, and the 99.9th of a whole block (events and processing).
// BM_DenseEngine plays the same passage through the engine's module table
// alone, clearing its buses as the plug-in does.  BM_PluginOwn* put a null
// engine under the plug-in: what the plug-in's own work costs per block.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/os.h"
#include "synth/note/synth.h"
#include "vst/okvst.h"
#include "vsthost/vsthost.h"

extern "C" vst_effect *VSTPluginMain(vst_hostcb host);

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr int RATE = 48000;
constexpr int BLOCK = 64;
int g_blocks = 10000;       // timed blocks of the passage (--blocks=N)
constexpr int WARMUP = 200; // blocks played before the timed ones
constexpr int CTL_VOLUME = 1;
constexpr double BLOCK_US = 1e6 * BLOCK / RATE;

// The passage's definition: one sine recording per octave, each at the top
// of its zone, and one patch of four filtered layers.
std::string dense_definition() {
  std::string s = "wav tone {\n";
  for (int lo = 0, top = 35; lo <= 127; lo = top + 1, top += 12)
    s += "map key = " + std::to_string(lo) + ":" + std::to_string(std::min(top, 127)) +
         " { data \"tone.raw\"\npitch " + std::to_string(top) + "\nloop 47960\n}\n";
  return s + "}\n"
             "patch 0 \"Dense\" {\n"
             "fx sat {\nlevel 110\nwave_shape tanh\n}\n"
             "layer a {\nwav tone\nfilt lowpass\ncut.base 90\nres.base 30\ncut.lfo 12\nvol.rtime 70\n}\n"
             "layer b {\nwav tone\nfilt lowpass\ncut.base 100\npan.lfo 30\npan.lfotime 60\nvol.rtime 70\n}\n"
             "layer c {\nwav tone\noutput fx\nfilt lowpass\ncut.base 80\nvol.rtime 70\n}\n"
             "layer d {\nwav tone\noutput fx\nfilt bandpass\ncut.base 70\nres.base 40\nvol.rtime 70\n}\n"
             "}\n";
}

// A temporary installation: the engine library and the definition.
struct dense_install {
  fs::path root;
  dense_install() {
    root = fs::temp_directory_path() / ("glimra-bench-vst-" + std::to_string(::getpid()));
    const fs::path synth = root / "Glimra" / "Synth";
    fs::create_directories(synth / "data");
    fs::copy_file(ORKA_ENGINE, synth / "liborka.so", fs::copy_options::overwrite_existing);
    std::string raw;
    for (int i = 0; i < 48000; ++i) {
      const auto v = static_cast<std::int16_t>(12000 * std::sin(i * 2 * 3.14159265358979 / 109.0));
      raw += static_cast<char>(v & 0xFF);
      raw += static_cast<char>((v >> 8) & 0xFF);
    }
    std::ofstream(synth / "data" / "tone.raw", std::ios::binary) << raw;
    std::ofstream(synth / "data" / "midisyn.conf") << dense_definition();
    setenv("PROGRAMFILES", root.string().c_str(), 1);
    setenv("APPDATA", root.string().c_str(), 1);
    os_set_default_root("");
  }
  ~dense_install() { fs::remove_all(root); }
};

// One block's input: MIDI messages and at most one control change.
struct block_input {
  std::vector<std::array<unsigned char, 3>> midi;
  int ctl = -1, val = 0;
};

// The passage: the 64 notes first, then the stream of events.
std::vector<block_input> make_passage(int blocks) {
  std::vector<block_input> p(static_cast<std::size_t>(blocks));
  std::uint32_t seed = 12345;
  auto next = [&seed](int n) {
    seed = seed * 69069u + 1u;
    return static_cast<int>((seed >> 16) % static_cast<unsigned>(n));
  };
  int held[16][4];
  for (int c = 0; c < 16; ++c)
    for (int k = 0; k < 4; ++k) {
      held[c][k] = 36 + next(60);
      p[0].midi.push_back({static_cast<unsigned char>(0x90 | c), static_cast<unsigned char>(held[c][k]),
                           static_cast<unsigned char>(40 + next(88))});
    }
  for (int b = 1; b < blocks; ++b) {
    block_input &in = p[static_cast<std::size_t>(b)];
    const int c = b % 16;
    in.midi.push_back({static_cast<unsigned char>(0xB0 | c), 1, static_cast<unsigned char>((b * 7) % 128)});
    if (b % 2 == 0) { // the channel's oldest note ends and a new one starts
      const int ch = (b / 2) % 16, slot = (b / 32) % 4;
      in.midi.push_back({static_cast<unsigned char>(0x80 | ch), static_cast<unsigned char>(held[ch][slot]), 64});
      held[ch][slot] = 36 + next(60);
      in.midi.push_back({static_cast<unsigned char>(0x90 | ch), static_cast<unsigned char>(held[ch][slot]),
                         static_cast<unsigned char>(40 + next(88))});
    }
    if (b % 32 == 5)
      in.midi.push_back({static_cast<unsigned char>(0xE0 | c), 0, static_cast<unsigned char>(next(128))});
    if (b % 50 == 25) {
      in.ctl = CTL_VOLUME;
      in.val = (b / 50) % 2 ? 120 : 127;
    }
  }
  return p;
}

// The passage as VST event lists, built before anything is timed.
struct event_lists {
  std::vector<std::vector<vst_midi_event>> events;
  std::vector<std::vector<unsigned char>> storage;
  explicit event_lists(const std::vector<block_input> &p) : events(p.size()), storage(p.size()) {
    for (std::size_t b = 0; b < p.size(); ++b) {
      auto &ev = events[b];
      for (const auto &m : p[b].midi) {
        vst_midi_event e{};
        e.type = VST_EVENT_MIDI;
        e.byte_size = sizeof e;
        e.midi[0] = static_cast<char>(m[0]);
        e.midi[1] = static_cast<char>(m[1]);
        e.midi[2] = static_cast<char>(m[2]);
        ev.push_back(e);
      }
      storage[b].assign(sizeof(vst_events) + sizeof(vst_event *) * ev.size(), 0);
      auto *list = reinterpret_cast<vst_events *>(storage[b].data());
      list->count = static_cast<std::int32_t>(ev.size());
      auto **slots = reinterpret_cast<vst_event **>(storage[b].data() + offsetof(vst_events, events));
      for (std::size_t i = 0; i < ev.size(); ++i)
        slots[i] = reinterpret_cast<vst_event *>(&ev[i]);
    }
  }
  vst_events *list(std::size_t b) { return reinterpret_cast<vst_events *>(storage[b].data()); }
};

double percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const auto at = static_cast<std::size_t>(q * static_cast<double>(v.size()));
  return v[std::min(at, v.size() - 1)];
}

double us_between(clock_type::time_point a, clock_type::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

// The calling thread's processor time in microseconds: what a block costs
// without the time the scheduler gave to other programs meanwhile.
double thread_us() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return 1e6 * static_cast<double>(t.tv_sec) + 1e-3 * static_cast<double>(t.tv_nsec);
}

// Plays the passage: events(b) hands block b's input over, process()
// renders it.  The counters give processReplacing's (or run's) times in
// microseconds: percentiles of elapsed time (p50_us ...), of processor
// time (cpu_p50_us ...), the 99.9th as a share of the block's duration,
// and the 99.9th of the whole block, events included.
template <class Events, class Process>
void play(benchmark::State &st, int blocks, Events events, Process process) {
  const auto timed = static_cast<std::size_t>(blocks - WARMUP);
  std::vector<double> wall(timed), cpu(timed), whole(timed);
  for (auto _ : st)
    for (int b = 0; b < blocks; ++b) {
      const auto t0 = clock_type::now();
      events(b);
      const double c1 = thread_us();
      const auto t1 = clock_type::now();
      process();
      const auto t2 = clock_type::now();
      const double c2 = thread_us();
      if (b >= WARMUP) {
        const auto i = static_cast<std::size_t>(b - WARMUP);
        wall[i] = us_between(t1, t2);
        cpu[i] = c2 - c1;
        whole[i] = us_between(t0, t2);
      }
    }
  double total = 0;
  for (double t : whole)
    total += t;
  st.SetIterationTime(total * 1e-6);
  st.counters["p50_us"] = percentile(wall, 0.50);
  st.counters["p99_us"] = percentile(wall, 0.99);
  st.counters["p999_us"] = percentile(wall, 0.999);
  st.counters["p999_pct"] = 100.0 * percentile(wall, 0.999) / BLOCK_US;
  st.counters["cpu_p50_us"] = percentile(cpu, 0.50);
  st.counters["cpu_p99_us"] = percentile(cpu, 0.99);
  st.counters["cpu_p999_us"] = percentile(cpu, 0.999);
  st.counters["cpu_p999_pct"] = 100.0 * percentile(cpu, 0.999) / BLOCK_US;
  st.counters["block_p999_us"] = percentile(whole, 0.999);
}

intptr_t VST_CALL bare_host(vst_effect *, std::int32_t op, std::int32_t, intptr_t, void *, float) {
  return op == VST_HOST_VERSION ? 2400 : 0;
}

} // namespace

static void BM_DensePlugin(benchmark::State &st) {
  dense_install inst;
  const auto passage = make_passage(WARMUP + g_blocks);
  event_lists lists(passage);
  vsthost h;
  if (!vsthost_open(&h, ORKA_PLUGIN)) {
    st.SkipWithError("the plug-in did not load");
    return;
  }
  vsthost_dispatch(&h, VST_EFF_OPEN);
  vsthost_dispatch(&h, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, static_cast<float>(RATE));
  vsthost_dispatch(&h, VST_EFF_SET_BLOCK_SIZE, 0, BLOCK);
  vsthost_dispatch(&h, VST_EFF_MAINS_CHANGED, 0, 1);
  vst_effect *e = h.eff;
  std::vector<float> l(BLOCK), r(BLOCK);
  float *out[2] = {l.data(), r.data()};
  play(
      st, WARMUP + g_blocks,
      [&](int b) {
        const block_input &in = passage[static_cast<std::size_t>(b)];
        if (in.ctl >= 0) // volume: 0 ... 127
          e->set_parameter(e, in.ctl, static_cast<float>(in.val) / 127.0f);
        e->dispatcher(e, VST_EFF_PROCESS_EVENTS, 0, 0, lists.list(static_cast<std::size_t>(b)), 0.0f);
      },
      [&] {
        e->process_replacing(e, nullptr, out, BLOCK);
        benchmark::DoNotOptimize(l.data());
      });
  vsthost_close(&h);
}
BENCHMARK(BM_DensePlugin)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

static void BM_DenseEngine(benchmark::State &st) {
  dense_install inst;
  const auto passage = make_passage(WARMUP + g_blocks);
  SYNTH_MODULE.init();
  void *s = SYNTH_MODULE.new_(nullptr, nullptr);
  SYNTH_MODULE.start(s, 8, BLOCK);
  orka_info info{};
  SYNTH_MODULE.info(&info);
  for (int i = 0; i < info.nctls; ++i) { // as the plug-in does when switched on
    orka_ctlinfo ci{};
    SYNTH_MODULE.ctlinfo(i, &ci);
    SYNTH_MODULE.onctl(s, i, ci.def);
  }
  SYNTH_MODULE.reset(s);
  std::vector<std::int32_t> l(BLOCK), r(BLOCK);
  std::int32_t *out[2] = {l.data(), r.data()};
  const auto *sy = static_cast<const synth *>(s);
  double voices = 0;
  play(
      st, WARMUP + g_blocks,
      [&](int b) {
        const block_input &in = passage[static_cast<std::size_t>(b)];
        if (in.ctl >= 0)
          SYNTH_MODULE.onctl(s, in.ctl, in.val);
        for (const auto &m : in.midi) // the passage holds three-byte messages only
          SYNTH_MODULE.midi(s, m.data(), 3);
        if (b >= WARMUP)
          voices += sy->tones.used;
      },
      [&] {
        std::fill(l.begin(), l.end(), 0);
        std::fill(r.begin(), r.end(), 0);
        SYNTH_MODULE.run(s, nullptr, out, BLOCK);
        benchmark::DoNotOptimize(l.data());
      });
  st.counters["voices"] = voices / g_blocks;
  SYNTH_MODULE.del(s);
  SYNTH_MODULE.done();
}
BENCHMARK(BM_DenseEngine)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

namespace {

void null_run(void *, std::int32_t *const *, std::int32_t *const *, int) {}
void null_onctl(void *, int, int) {}
void null_midi(void *, const unsigned char *, int) {}

// The plug-in with the synthesizer's table but an engine that renders,
// takes and plays nothing: only the plug-in's own work remains.
struct null_plugin {
  orka_module mod = SYNTH_MODULE;
  vst_effect *e = nullptr;
  explicit null_plugin(int block) {
    mod.run = null_run;
    mod.onctl = null_onctl;
    mod.midi = null_midi;
    okvst_g = okvst_global{};
    okvst_g.ninst = 1; // the table below stands for a loaded library
    okvst_g.mod = &mod;
    e = VSTPluginMain(bare_host);
    e->dispatcher(e, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, static_cast<float>(RATE));
    e->dispatcher(e, VST_EFF_SET_BLOCK_SIZE, 0, block, nullptr, 0.0f);
    e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 1, nullptr, 0.0f);
  }
  ~null_plugin() {
    e->dispatcher(e, VST_EFF_CLOSE, 0, 0, nullptr, 0.0f);
    okvst_g = okvst_global{};
  }
};

} // namespace

// processReplacing alone: control scan, bus clearing, conversion.
static void BM_PluginOwnProcess(benchmark::State &st) {
  const int block = static_cast<int>(st.range(0));
  null_plugin p(block);
  std::vector<float> l(static_cast<std::size_t>(block)), r(static_cast<std::size_t>(block));
  float *out[2] = {l.data(), r.data()};
  for (auto _ : st) {
    p.e->process_replacing(p.e, nullptr, out, block);
    benchmark::DoNotOptimize(l.data());
  }
}
BENCHMARK(BM_PluginOwnProcess)->Arg(BLOCK)->Arg(512);

// The passage's blocks in turn: parameter changes, event lists, processing.
static void BM_PluginOwnPassage(benchmark::State &st) {
  null_plugin p(BLOCK);
  const auto passage = make_passage(WARMUP + g_blocks);
  event_lists lists(passage);
  std::vector<float> l(BLOCK), r(BLOCK);
  float *out[2] = {l.data(), r.data()};
  std::size_t b = 0;
  for (auto _ : st) {
    const block_input &in = passage[b];
    if (in.ctl >= 0)
      p.e->set_parameter(p.e, in.ctl, static_cast<float>(in.val) / 127.0f);
    p.e->dispatcher(p.e, VST_EFF_PROCESS_EVENTS, 0, 0, lists.list(b), 0.0f);
    p.e->process_replacing(p.e, nullptr, out, BLOCK);
    benchmark::DoNotOptimize(l.data());
    b = b + 1 == passage.size() ? 1 : b + 1;
  }
}
BENCHMARK(BM_PluginOwnPassage);

// --blocks=N sets the passage's length (CI plays a short one); every other
// argument goes to the benchmark library.
int main(int argc, char **argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--blocks=", 9) == 0)
      g_blocks = std::max(10, std::atoi(argv[i] + 9));
    else
      argv[kept++] = argv[i];
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
