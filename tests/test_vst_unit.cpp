// The plug-in's code linked in directly, over a recording module table and
// a test editor whose window this test's thread owns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/os.h"
#include "testutil.h"
#include "vst_fake.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace vstfake;

namespace {

TEST(VstConvert, SampleLimits) {
  struct row {
    float in;
    std::int32_t out;
  };
  for (const row &r : {row{1.0f, 134217728}, row{-1.0f, -134217728}, row{0.5f, 67108864},
                       row{1e-9f, 0}, row{16.0f, 2147483647}, row{-16.0f, -2147483647 - 1},
                       row{1e9f, 2147483647}, row{-1e9f, -2147483647 - 1},
                       row{INFINITY, 2147483647}, row{NAN, 0}})
    EXPECT_EQ(okvst_to_engine(r.in), r.out) << r.in;
  EXPECT_EQ(okvst_to_host(134217728), 1.0f);
  EXPECT_EQ(okvst_to_host(-67108864), -0.5f);
  EXPECT_EQ(orka_rateidx(44100.4), 7);
  EXPECT_EQ(orka_rateidx(192011.0), 14);
  EXPECT_EQ(orka_rateidx(NAN), -1);
  EXPECT_EQ(orka_rateidx(-5.0), -1);
}

// The bus converter against the conversion's definition (v x 2^-27 in
// double precision, rounded to single): values on both sides of every
// rounding step of single precision (ties included), the limits and a
// spread of others, at every length and lane, writing nothing beyond n.
TEST(VstConvert, BusConversionKeepsEveryBit) {
  std::vector<std::int32_t> v = {0, 1, -1, 134217728, -134217728, INT32_MAX, INT32_MIN};
  for (int e = 24; e <= 30; ++e) { // above 2^24 single precision rounds
    const std::int64_t step = std::int64_t{1} << (e - 23), half = step / 2;
    for (std::int64_t m : {std::int64_t{1} << 23, std::int64_t{3} << 21, (std::int64_t{1} << 24) - 1})
      for (std::int64_t d : {-half - 1, -half, -half + 1, std::int64_t{-1}, std::int64_t{0},
                             std::int64_t{1}, half - 1, half, half + 1, step + half})
        for (std::int64_t sign : {1, -1})
          v.push_back(static_cast<std::int32_t>(sign * (m * step + d)));
  }
  std::uint32_t x = 1;
  while (v.size() < (1u << 18)) {
    x = x * 1664525u + 1013904223u;
    v.push_back(static_cast<std::int32_t>(x));
  }
  auto expected = [](std::int32_t s) { return static_cast<float>(static_cast<double>(s) / 134217728.0); };
  std::vector<float> got(v.size() + 1, 7.0f);
  okvst_to_host_block(v.data(), got.data(), static_cast<int>(v.size()));
  for (std::size_t i = 0; i < v.size(); ++i) {
    ASSERT_EQ(got[i], expected(v[i])) << v[i];
    ASSERT_EQ(okvst_to_host(v[i]), expected(v[i])) << v[i];
  }
  EXPECT_EQ(got[v.size()], 7.0f);
  for (int n = 0; n <= 19; ++n)
    for (int from = 0; from < 3; ++from) {
      std::vector<float> out(32, 7.0f);
      okvst_to_host_block(v.data() + 20 + from, out.data(), n);
      for (int i = 0; i < 32; ++i)
        ASSERT_EQ(out[i], i < n ? expected(v[20 + from + i]) : 7.0f) << n << " " << i;
    }
}

TEST(VstParams, RoundingAndHandOver) {
  vst_effect *e = start_fake();
  // Switching on sent every control once, in order.
  const std::vector<std::pair<int, int>> initial = {{0, 100}, {1, 0}, {2, 1}, {3, 0}};
  EXPECT_EQ(g_rec.onctl, initial);
  g_rec.onctl.clear();
  std::vector<float> l(64), r(64);
  float *out[2] = {l.data(), r.data()};
  e->set_parameter(e, 0, 0.5f);
  EXPECT_FLOAT_EQ(e->get_parameter(e, 0), 64.0f / 127);
  e->set_parameter(e, 0, 0.5f); // twice: one hand-over
  e->process_replacing(e, nullptr, out, 64);
  const std::vector<std::pair<int, int>> one = {{0, 64}};
  EXPECT_EQ(g_rec.onctl, one);
  g_rec.onctl.clear();
  e->set_parameter(e, 2, 1.0f); // set and back before a block: nothing
  e->set_parameter(e, 2, 0.5f);
  e->process_replacing(e, nullptr, out, 64);
  EXPECT_TRUE(g_rec.onctl.empty());
  // A control with a single value stays at 0.
  e->set_parameter(e, 3, 0.9f);
  EXPECT_EQ(e->get_parameter(e, 3), 0.0f);
  // Conversion of the engine's output, and blocks beyond the block size.
  EXPECT_EQ(l[5], 1.0f);
  EXPECT_EQ(r[5], -0.5f);
  g_rec.runs = 0;
  std::vector<float> big(200), big2(200);
  float *bo[2] = {big.data(), big2.data()};
  e->process_replacing(e, nullptr, bo, 200);
  EXPECT_EQ(g_rec.runs, 4); // 64 + 64 + 64 + 8
  EXPECT_EQ(g_rec.last_n, 8);
  EXPECT_EQ(big[199], 1.0f);
  e->process_replacing(e, nullptr, bo, 0);
  EXPECT_EQ(g_rec.last_n, 0);
  close_fake(e);
}

TEST(VstBlockSize, SetWhileStartedWaitsForTheNextStart) {
  vst_effect *e = start_fake(64);
  std::vector<float> l(200), r(200);
  float *out[2] = {l.data(), r.data()};
  e->process_replacing(e, nullptr, out, 64);
  const std::int32_t *bus = g_rec.last_out;
  // The host changes the size during playback: the engine goes on with its
  // buffers and its size, and longer blocks are rendered in pieces.
  e->dispatcher(e, VST_EFF_SET_BLOCK_SIZE, 0, 128, nullptr, 0.0f);
  EXPECT_EQ(g_rec.stops, 0);
  EXPECT_EQ(g_rec.starts.size(), 1u);
  g_rec.runs = 0;
  e->process_replacing(e, nullptr, out, 200);
  EXPECT_EQ(g_rec.last_out, bus);
  EXPECT_EQ(g_rec.runs, 4); // 64 + 64 + 64 + 8
  EXPECT_EQ(l[199], 1.0f);
  // The next start takes the new size.
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 0, nullptr, 0.0f);
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 1, nullptr, 0.0f);
  ASSERT_EQ(g_rec.starts.size(), 2u);
  EXPECT_EQ(g_rec.starts[1], (std::pair<int, int>{8, 128}));
  g_rec.runs = 0;
  e->process_replacing(e, nullptr, out, 200);
  EXPECT_EQ(g_rec.runs, 2); // 128 + 72
  EXPECT_EQ(g_rec.last_n, 72);
  // Stopped, a new size is taken at once.
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 0, nullptr, 0.0f);
  e->dispatcher(e, VST_EFF_SET_BLOCK_SIZE, 0, 32, nullptr, 0.0f);
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 1, nullptr, 0.0f);
  EXPECT_EQ(g_rec.starts.back().second, 32);
  close_fake(e);
}

TEST(VstBlockSize, ZeroRefusesEveryBlock) {
  testutil::log_capture cap(1);
  vst_effect *e = open_fake(false);
  e->dispatcher(e, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  e->dispatcher(e, VST_EFF_SET_BLOCK_SIZE, 0, 0, nullptr, 0.0f);
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 1, nullptr, 0.0f);
  std::vector<float> l(16, 7.0f), r(16, 7.0f);
  float *out[2] = {l.data(), r.data()};
  e->process_replacing(e, nullptr, out, 16);
  EXPECT_TRUE(cap.has("0: block size too small")) << cap.all();
  EXPECT_EQ(g_rec.runs, 0);
  EXPECT_EQ(l[3], 0.0f); // silence, not the host's buffer back
  close_fake(e);
}

TEST(VstChunk, SetChunkDecisions) {
  testutil::log_capture cap(1);
  vst_effect *e = open_fake(false);
  e->set_parameter(e, 0, 0.5f);
  e->set_parameter(e, 2, 1.0f);
  const float level = e->get_parameter(e, 0);
  char *chunk = nullptr;
  const intptr_t n = e->dispatcher(e, VST_EFF_GET_CHUNK, 0, 0, &chunk, 0.0f);
  ASSERT_GT(n, 0);
  const std::string saved(chunk, static_cast<std::size_t>(n));
  EXPECT_EQ(saved, "name = \"init\"\nlevel = 64\non = 0\nmode = m2\nfixed = 0\n");
  // Nothing to read: the state stays, with a line in the log.
  struct row {
    const char *text;
    intptr_t len;
  };
  for (const row &rw : {row{nullptr, 10}, row{saved.c_str(), -1}, row{saved.c_str(), intptr_t{1} << 40},
                        row{saved.c_str(), (intptr_t{1} << 20) + 1}}) {
    cap.clear();
    e->dispatcher(e, VST_EFF_SET_CHUNK, 0, rw.len, const_cast<char *>(rw.text), 0.0f);
    EXPECT_EQ(e->get_parameter(e, 0), level) << rw.len;
    EXPECT_EQ(e->get_parameter(e, 2), 1.0f) << rw.len;
    EXPECT_TRUE(cap.has(rw.text ? "setchunk: bad size: state kept" : "setchunk: no text: state kept"))
        << cap.all();
  }
  // An empty text is a valid one: every default.
  e->dispatcher(e, VST_EFF_SET_CHUNK, 0, 0, const_cast<char *>(""), 0.0f);
  EXPECT_EQ(e->get_parameter(e, 2), 0.5f);
  // Values the module yields beyond a control's range are held at its ends.
  const int wild[4] = {1000, -5, 7, 3};
  g_rec.scan_vals = wild;
  e->dispatcher(e, VST_EFF_SET_CHUNK, 0, n, const_cast<char *>(saved.c_str()), 0.0f);
  g_rec.scan_vals = nullptr;
  EXPECT_EQ(e->get_parameter(e, 0), 1.0f);
  EXPECT_EQ(e->get_parameter(e, 1), 0.0f);
  EXPECT_EQ(e->get_parameter(e, 2), 1.0f);
  EXPECT_EQ(e->get_parameter(e, 3), 0.0f);
  // And the saved text brings everything back.
  e->dispatcher(e, VST_EFF_SET_CHUNK, 0, n, const_cast<char *>(saved.c_str()), 0.0f);
  EXPECT_EQ(e->get_parameter(e, 0), level);
  char *again = nullptr;
  const intptr_t m = e->dispatcher(e, VST_EFF_GET_CHUNK, 0, 0, &again, 0.0f);
  EXPECT_EQ(std::string(again, static_cast<std::size_t>(m)), saved);
  close_fake(e);
}

TEST(VstEvents, ListOrderAndLengths) {
  vst_effect *e = start_fake();
  unsigned char dump[] = {0xF0, 0x7E, 0x01, 0xF7};
  vst_sysex_event sx{};
  sx.type = VST_EVENT_SYSEX;
  sx.dump_bytes = 4;
  sx.dump = dump;
  vst_midi_event on{}, clock{}, bend{};
  on.type = clock.type = bend.type = VST_EVENT_MIDI;
  on.midi[0] = 0x90, on.midi[1] = 60, on.midi[2] = 100;
  clock.midi[0] = 0xF8;
  bend.midi[0] = 0xD3, bend.midi[1] = 5;
  struct {
    vst_events head;
    vst_event *more[2];
  } list{};
  list.head.count = 4;
  list.head.events[0] = reinterpret_cast<vst_event *>(&sx);
  list.head.events[1] = reinterpret_cast<vst_event *>(&on);
  list.more[0] = reinterpret_cast<vst_event *>(&clock);
  list.more[1] = reinterpret_cast<vst_event *>(&bend);
  EXPECT_EQ(e->dispatcher(e, VST_EFF_PROCESS_EVENTS, 0, 0, &list, 0.0f), 0);
  ASSERT_EQ(g_rec.midi.size(), 4u);
  EXPECT_EQ(g_rec.midi[0].n, 4);
  EXPECT_EQ(g_rec.midi[0].b[1], 0x7E);
  EXPECT_EQ(g_rec.midi[1].n, 3);
  EXPECT_EQ(g_rec.midi[1].b[1], 60);
  EXPECT_EQ(g_rec.midi[2].n, 0); // a clock byte: nothing for the engine
  EXPECT_EQ(g_rec.midi[3].n, 2);
  close_fake(e);
}

// Runs the window's pending requests for a while.
void pump(void *window, int ms) {
#ifdef _WIN32
  (void)window;
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const DWORD now = GetTickCount();
    if (now >= end)
      break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
#else
  for (int i = 0; i < ms / 5; ++i)
    os_window_pump(static_cast<os_window *>(window), 5);
#endif
}

void *make_window() {
#ifdef _WIN32
  return CreateWindowExW(0, L"STATIC", L"test editor", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
#else
  return os_window_new();
#endif
}

void free_window(void *w) {
#ifdef _WIN32
  DestroyWindow(static_cast<HWND>(w));
#else
  os_window_delete(static_cast<os_window *>(w));
#endif
}

int setctl_count(int ctl) {
  int n = 0;
  for (auto &c : g_ed.setctl)
    n += c.first == ctl;
  return n;
}

TEST(VstEditor, BridgeCarriesChangesOnceAndInOrder) {
  testutil::log_capture cap(1);
  vst_effect *e = open_fake(true);
  EXPECT_EQ(e->flags & VST_FLAG_HAS_EDITOR, VST_FLAG_HAS_EDITOR);
  void *window = make_window();
  g_ed.window = window;
  vst_rect *rect = nullptr;
  EXPECT_EQ(e->dispatcher(e, VST_EFF_EDIT_GET_RECT, 0, 0, &rect, 0.0f), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->right, 320);
  EXPECT_EQ(rect->bottom, 200);
  EXPECT_EQ(g_ed.creates, 1);
  EXPECT_EQ(e->dispatcher(e, VST_EFF_EDIT_OPEN, 0, 0, nullptr, 0.0f), 1);
  EXPECT_EQ(g_ed.creates, 1); // created once
  // Opening shows every value at once, in index order.
  const std::vector<std::pair<int, int>> shown = {{0, 100}, {1, 0}, {2, 1}, {3, 0}};
  EXPECT_EQ(g_ed.setctl, shown);
  EXPECT_EQ(e->dispatcher(e, VST_EFF_EDIT_OPEN, 0, 0, nullptr, 0.0f), 0);
  EXPECT_TRUE(cap.has("editopen: already open"));
  pump(window, 100);

  // Ten host changes of one control: the editor sees the latest, once.
  g_ed.setctl.clear();
  for (int k = 1; k <= 10; ++k)
    e->set_parameter(e, 0, k / 127.0f);
  pump(window, 300);
  ASSERT_EQ(setctl_count(0), 1);
  EXPECT_EQ(g_ed.setctl.back().second, 10);

  // A change made in the editor is automated and not echoed back.
  g_ed.setctl.clear();
  g_ed.cb->setctl(g_ed.cbarg, 2, 2);
  ASSERT_FALSE(g_host_calls.empty());
  EXPECT_EQ(g_host_calls.back().first, VST_HOST_AUTOMATE * 1000 + 2);
  EXPECT_EQ(g_host_calls.back().second, 1.0f);
  e->set_parameter(e, 1, 1.0f); // wakes the thread for another pass
  pump(window, 200);
  EXPECT_EQ(setctl_count(2), 0);
  EXPECT_EQ(setctl_count(1), 1);
  EXPECT_EQ(e->get_parameter(e, 2), 1.0f);

  // Three wake-ups before a pass: one editor wake-up.
  for (int k = 0; k < 3; ++k)
    g_rec.cb->wakeup(g_rec.cbarg);
  pump(window, 200);
  EXPECT_EQ(g_ed.wakeups, 1);
  // A preset name from the engine; an engine-side control change.
  g_rec.cb->setpreset(g_rec.cbarg, "From engine");
  g_rec.cb->setctl(g_rec.cbarg, 0, 77);
  pump(window, 200);
  ASSERT_EQ(g_ed.presets.size(), 1u);
  EXPECT_EQ(g_ed.presets[0], "From engine");
  EXPECT_EQ(g_ed.setctl.back(), (std::pair<int, int>{0, 77}));
  char name[32] = {};
  e->dispatcher(e, VST_EFF_GET_PROGRAM_NAME, 0, 0, name, 0.0f);
  EXPECT_STREQ(name, "From engine");
  // Editor callbacks: resize, preset, format.
  g_ed.cb->onresize(g_ed.cbarg, 640, 400);
  EXPECT_EQ(rect->right, 640);
  EXPECT_EQ(g_host_calls.back().first, VST_HOST_SIZE_WINDOW * 1000 + 640);
  g_ed.cb->setpreset(g_ed.cbarg, "Mine");
  EXPECT_EQ(g_host_calls.back().first, VST_HOST_UPDATE_DISPLAY * 1000);
  char fmt[ORKA_TEXTLEN];
  g_ed.cb->format(fmt);
  EXPECT_STREQ(fmt, "VST/x86_64");

  EXPECT_EQ(e->dispatcher(e, VST_EFF_EDIT_CLOSE, 0, 0, nullptr, 0.0f), 1);
  EXPECT_EQ(e->dispatcher(e, VST_EFF_EDIT_CLOSE, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(g_ed.detaches, 1);
  cap.clear();
  close_fake(e);
  // The stop sequence, in order.
  std::vector<std::string> stop;
  for (const std::string &l : cap.lines())
    if (l == "waiting for ui thread" || l == "destroying sem" || l == "destrying ui")
      stop.push_back(l);
  const std::vector<std::string> want = {"waiting for ui thread", "destroying sem", "destrying ui"};
  EXPECT_EQ(stop, want);
  EXPECT_EQ(g_ed.destroys, 1);
  free_window(window);
}

// Ends the process when a step hangs, so that a deadlock fails the suite
// instead of holding it up.
class watchdog {
public:
  watchdog(const char *what, int seconds)
      : thread_([this, what, seconds] {
          std::unique_lock<std::mutex> lk(m_);
          if (!cv_.wait_for(lk, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "%s: still waiting after %d s\n", what, seconds);
            std::_Exit(1);
          }
        }) {}
  ~watchdog() {
    {
      std::lock_guard<std::mutex> lk(m_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }

private:
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

TEST(VstEditor, ClosingWhileTheUiThreadWaitsForTheWindow) {
  // The window's thread changes a parameter and closes the instance
  // without handling its messages in between (also after "EditClose"):
  // the UI thread's request for the window must not hold the close up.
  for (bool edit_close_first : {false, true}) {
    vst_effect *e = open_fake(true);
    void *window = make_window();
    g_ed.window = window;
    ASSERT_EQ(e->dispatcher(e, VST_EFF_EDIT_OPEN, 0, 0, nullptr, 0.0f), 1);
    e->set_parameter(e, 0, 0.25f);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the UI thread asks
    if (edit_close_first)
      e->dispatcher(e, VST_EFF_EDIT_CLOSE, 0, 0, nullptr, 0.0f);
    const auto t0 = std::chrono::steady_clock::now();
    {
      watchdog dog("closing with a request for the window pending", 10);
      close_fake(e);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1)) << edit_close_first;
    EXPECT_EQ(g_ed.destroys, 1);
    g_ed.setctl.clear();
    pump(window, 50); // a request left behind finds its instance gone
    EXPECT_TRUE(g_ed.setctl.empty());
    free_window(window);
  }
}

TEST(VstEditor, ClosingWithTheWindowStillOpen) {
  vst_effect *e = open_fake(true);
  void *window = make_window();
  g_ed.window = window;
  EXPECT_EQ(e->dispatcher(e, VST_EFF_EDIT_OPEN, 0, 0, nullptr, 0.0f), 1);
  close_fake(e); // detaches first, so the thread stops without the window
  EXPECT_EQ(g_ed.detaches, 1);
  EXPECT_EQ(g_ed.destroys, 1);
  free_window(window);
}

TEST(VstThreads, AudioGoesOnWhileTheHostAndTheEditorChangeControls) {
  // As a workstation drives an instance: the audio thread renders and
  // automates, the host's thread sets parameters, saves and restores the
  // state and reads value texts, the window's thread shows the editor and
  // the user turns its knobs, and the engine reports preset names from yet
  // another thread.  Run under ThreadSanitizer as well.
  vst_effect *e = open_fake(true);
  e->dispatcher(e, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  e->dispatcher(e, VST_EFF_SET_BLOCK_SIZE, 0, 64, nullptr, 0.0f);
  e->dispatcher(e, VST_EFF_MAINS_CHANGED, 0, 1, nullptr, 0.0f);
  std::atomic<bool> stop{false}, shown{false}, opened{false};
  std::atomic<int> blocks{0};
  std::thread audio([&] {
    std::vector<float> l(100), r(100);
    float *out[2] = {l.data(), r.data()};
    for (int k = 0; !stop.load() || k < 200; ++k) {
      e->set_parameter(e, 1, static_cast<float>(k % 2));
      e->process_replacing(e, nullptr, out, k % 3 ? 64 : 100);
      blocks.fetch_add(1);
    }
  });
  std::thread gui([&] {
    void *window = make_window();
    g_ed.window = window;
    vst_rect *rect = nullptr;
    e->dispatcher(e, VST_EFF_EDIT_GET_RECT, 0, 0, &rect, 0.0f);
    e->dispatcher(e, VST_EFF_EDIT_OPEN, 0, 0, nullptr, 0.0f);
    opened = true;
    for (int k = 0; !stop.load() || k < 50; ++k) {
      g_ed.cb->setctl(g_ed.cbarg, 2, k % 3);
      pump(window, 5);
      if (k % 20 == 19) { // closed and opened again
        e->dispatcher(e, VST_EFF_EDIT_CLOSE, 0, 0, nullptr, 0.0f);
        e->dispatcher(e, VST_EFF_EDIT_OPEN, 0, 0, nullptr, 0.0f);
      }
    }
    shown = !g_ed.setctl.empty();
    e->dispatcher(e, VST_EFF_EDIT_CLOSE, 0, 0, nullptr, 0.0f);
    pump(window, 20);
    free_window(window);
  });
  // The engine reports preset names from a thread of its own: two names of
  // one length that differ in every byte, so that a name read while it is
  // being written shows as a mix of both.
  const std::string names[2] = {std::string(40, 'a'), std::string(40, 'B')};
  std::atomic<int> reported{0};
  std::thread engine([&] {
    for (int k = 0; !stop.load() || k < 200; ++k) {
      g_rec.cb->setpreset(g_rec.cbarg, names[k % 2].c_str());
      reported.fetch_add(1);
      if (k % 16 == 15)
        std::this_thread::yield();
    }
  });
  const auto known = [&](const std::string &name) {
    return name == "init" || name == names[0] || name == names[1];
  };
  while (!opened.load())
    std::this_thread::yield();
  char text[16];
  int torn = 0;
  for (int k = 0; k < 300; ++k) {
    e->set_parameter(e, 0, static_cast<float>(k % 128) / 127.0f);
    char *chunk = nullptr;
    const intptr_t n = e->dispatcher(e, VST_EFF_GET_CHUNK, 0, 0, &chunk, 0.0f);
    const std::string saved(chunk, static_cast<std::size_t>(n));
    char name[ORKA_TEXTLEN] = {};
    int vals[ORKA_MAXCTLS] = {};
    const char *pos = saved.data();
    std::size_t left = saved.size();
    EXPECT_EQ(orka_scan(&FAKE, name, vals, &pos, &left), 1) << saved;
    torn += known(name) ? 0 : 1;
    e->dispatcher(e, VST_EFF_SET_CHUNK, 0, n, const_cast<char *>(saved.data()), 0.0f);
    e->dispatcher(e, VST_EFF_GET_PARAM_DISPLAY, 2, 0, text, 0.0f);
    (void)e->get_parameter(e, 2);
  }
  stop = true;
  audio.join();
  gui.join();
  engine.join();
  EXPECT_GE(blocks.load(), 200);
  EXPECT_GE(reported.load(), 200);
  EXPECT_TRUE(shown.load());
  EXPECT_EQ(torn, 0) << "saved states with a name that was being written";
  for (const std::string &shown_name : g_ed.presets)
    EXPECT_TRUE(known(shown_name)) << shown_name;
  EXPECT_EQ(e->get_parameter(e, 0), 299 % 128 / 127.0f);
  close_fake(e);
}

} // namespace
