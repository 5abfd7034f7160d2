// The plug-in's code linked in directly, over a recording module table and
// a test editor whose window this test's thread owns.
#include <gtest/gtest.h>

#include <cmath>
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

} // namespace
