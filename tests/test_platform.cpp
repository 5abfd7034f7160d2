// The platform layer: text conversion, environment, threads and locks.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>
#include <gtest/gtest.h>

#include "platform/os.h"
#include "testutil.h"

using namespace testutil;

TEST(Platform, WidenDecodesUtf8AndKeepsOtherBytes) {
  struct {
    const char *in;
    std::vector<std::uint16_t> out;
  } cases[] = {
      {"abc", {'a', 'b', 'c'}},
      {"\xC3\xA9", {0xE9}},
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
      {"\xE9x", {0xE9, 'x'}},       // a lone Latin-1 byte
      {"\xC0\x80", {0xC0, 0x80}},   // overlong form: bytes as they are
      {"\xED\xA0\x80", {0xED, 0xA0, 0x80}}, // encoded surrogate
  };
  for (auto &c : cases) {
    std::uint16_t buf[16];
    int n = os_widen(c.in, buf, 16);
    ASSERT_EQ(n, static_cast<int>(c.out.size())) << c.in;
    for (int i = 0; i < n; ++i)
      EXPECT_EQ(buf[i], c.out[i]);
    EXPECT_EQ(buf[n], 0);
    char back[16];
    if (std::string(c.in) == "abc" || std::string(c.in) == "\xC3\xA9") {
      os_utf16_to_utf8(buf, back, sizeof back);
      EXPECT_STREQ(back, c.in);
    }
  }
  std::uint16_t small[3];
  EXPECT_EQ(os_widen("abcdef", small, 3), 6);
  EXPECT_EQ(small[2], 0);
}

TEST(Platform, EnvironmentAsUtf16) {
  set_env("ORKA_TEST_VAR", "v\xC3\xA9");
  std::uint16_t buf[8];
  EXPECT_EQ(os_getenv16("ORKA_TEST_VAR", buf, 8), 2);
  EXPECT_EQ(buf[1], 0xE9);
  EXPECT_GE(os_getenv16("ORKA_TEST_VAR", buf, 2), 2); // too small: reported as not fitting
  set_env("ORKA_TEST_VAR", nullptr);
  EXPECT_EQ(os_getenv16("ORKA_TEST_VAR", buf, 8), 0);
}

TEST(Platform, AppendOpenNeverCreates) {
  tempdir t;
  auto p = u16(t.file("log1"));
  EXPECT_EQ(os_open_append(p.data()), nullptr);
  write_file(t.file("log1"), "a");
  os_file *f = os_open_append(p.data());
  ASSERT_NE(f, nullptr);
  os_write(f, "bc", 2);
  os_close(f);
  EXPECT_EQ(read_file(t.file("log1")), "abc");
}

TEST(Platform, MissingLibrary) {
  auto p = u16("no-such-library-here.so");
  EXPECT_EQ(os_dlopen(p.data()), nullptr);
}

namespace {
struct shared_state {
  os_mutex *m;
  os_sem *sem;
  int counter = 0;
  std::atomic<int> woken{0};
};

void worker(void *arg) {
  auto *s = static_cast<shared_state *>(arg);
  for (int i = 0; i < 10000; ++i) {
    os_mutex_lock(s->m);
    ++s->counter;
    os_mutex_unlock(s->m);
  }
  os_sem_wait(s->sem);
  s->woken++;
}
} // namespace

TEST(Platform, ThreadsLocksAndSemaphores) {
  shared_state s;
  s.m = os_mutex_new();
  s.sem = os_sem_new(0);
  ASSERT_NE(s.sem, nullptr);
  os_thread *a = os_thread_start(worker, &s);
  os_thread *b = os_thread_start(worker, &s);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(os_sem_post(s.sem));
  EXPECT_TRUE(os_sem_post(s.sem));
  EXPECT_TRUE(os_thread_join(a));
  EXPECT_TRUE(os_thread_join(b));
  EXPECT_EQ(s.counter, 20000);
  EXPECT_EQ(s.woken.load(), 2);
  EXPECT_TRUE(os_sem_delete(s.sem));
  os_mutex_delete(s.m);
  EXPECT_NE(os_thread_id(), 0u);
}

TEST(Platform, CompareAndSwap) {
  volatile std::int32_t w = 0;
  EXPECT_EQ(os_cas32(&w, 0, 1), 0);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(os_cas32(&w, 0, 5), 1); // expected value absent: unchanged
  EXPECT_EQ(w, 1);
}

#ifndef _WIN32
// A program in <prefix>/bin reads the installation <prefix>/lib, found
// from its real file; PROGRAMFILES, when set, is left to decide.
TEST(Platform, ToolFindsTheLibFolderBesideItsBinFolder) {
  const std::string saved = std::getenv("PROGRAMFILES") ? std::getenv("PROGRAMFILES") : "";
  const bool had = std::getenv("PROGRAMFILES") != nullptr;
  set_env("PROGRAMFILES", nullptr);
  char exe[4096];
  ASSERT_NE(realpath("/proc/self/exe", exe), nullptr);
  std::string want = exe;
  want.resize(want.rfind('/'));
  want.resize(want.rfind('/'));
  want += "/lib";
  const std::vector<std::uint16_t> w = u16(want);
  std::uint16_t buf[OS_PATHMAX + 1];
  const int n = os_progfiles_tool16(buf, OS_PATHMAX + 1);
  ASSERT_EQ(n, static_cast<int>(want.size())); // an ASCII path: a unit per byte
  EXPECT_TRUE(std::equal(buf, buf + n + 1, w.begin())) << want;
  // Too small a buffer is reported as not fitting, by one unit or many.
  EXPECT_GE(os_progfiles_tool16(buf, n), n);
  EXPECT_GE(os_progfiles_tool16(buf, n - 3), n - 3);
  set_env("PROGRAMFILES", "/somewhere");
  EXPECT_EQ(os_progfiles_tool16(buf, OS_PATHMAX + 1), 0);
  set_env("PROGRAMFILES", had ? saved.c_str() : nullptr);
}

namespace {
struct run_req {
  std::uint32_t tid = 0;
};
void record_thread(void *arg) { static_cast<run_req *>(arg)->tid = os_thread_id(); }
struct pumper {
  std::atomic<os_window *> w{nullptr};
  std::atomic<bool> stop{false};
  std::atomic<std::uint32_t> tid{0};
};
void pump_loop(void *arg) {
  auto *p = static_cast<pumper *>(arg);
  p->tid = os_thread_id();
  p->w = os_window_new();
  while (!p->stop)
    os_window_pump(p->w, 5);
}
} // namespace

TEST(Platform, WindowRunsOnItsOwnThread) {
  pumper p;
  os_thread *t = os_thread_start(pump_loop, &p);
  while (!p.w)
    ;
  EXPECT_TRUE(os_wnd_hook(p.w));
  for (int i = 0; i < 20; ++i) {
    run_req r;
    EXPECT_TRUE(os_wnd_run(p.w, record_thread, &r));
    EXPECT_EQ(r.tid, p.tid);
  }
  p.stop = true;
  os_thread_join(t);
  os_window_delete(p.w);
}
#endif
