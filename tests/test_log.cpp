// Log level selection from the log files, nesting, the sink and limits.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "testutil.h"
#include "utils/alloc.h"
#include "utils/log.h"

using namespace testutil;

namespace {

// A log folder "<tmp>\Glimra-Test" with the given log files, APPDATA
// pointing at it.
struct logdir {
  tempdir tmp;
  explicit logdir(std::initializer_list<int> levels) {
    make_dirs(tmp.file("Glimra-Test"));
    for (int n : levels)
      write_file(tmp.file("Glimra-Test/log" + std::to_string(n)), "");
    set_env("APPDATA", tmp.path().c_str());
  }
  ~logdir() { set_env("APPDATA", nullptr); }
  std::string content(int n) const { return read_file(tmp.file("Glimra-Test/log" + std::to_string(n))); }
};

} // namespace

TEST(Log, HighestFileWinsAndReceivesMessages) {
  logdir d({2, 5});
  log_open("Glimra", "Test");
  EXPECT_EQ(log_level, 5);
  log_printf(5, "five %d", 5);
  log_printf(6, "six");
  log_close();
  EXPECT_EQ(log_level, 0);
  EXPECT_EQ(d.content(5), "log open\nfive 5\nlog closed\n");
  EXPECT_EQ(d.content(2), "");
}

TEST(Log, LevelFollowsTheDigit) {
  for (int n : {1, 2, 3, 9}) {
    logdir d({n});
    log_open("Glimra", "Test");
    EXPECT_EQ(log_level, n);
    log_printf(1, "error");
    log_printf(3, "traffic");
    log_close();
    std::string want = std::string(n >= 2 ? "log open\n" : "") + "error\n" +
                       (n >= 3 ? "traffic\n" : "") + (n >= 2 ? "log closed\n" : "");
    EXPECT_EQ(d.content(n), want) << n;
  }
}

TEST(Log, NoFileMeansStderrAndLevelZero) {
  logdir d({});
  testing::internal::CaptureStderr();
  log_open("Glimra", "Test");
  log_printf(1, "hidden");
  log_printf(0, "shown %s", "always");
  log_close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown always\n");
  EXPECT_FALSE(std::filesystem::exists(d.tmp.file("Glimra-Test/log1")));
}

TEST(Log, NestedOpenAndClose) {
  logdir d({2});
  log_open("Glimra", "Test");
  log_open("Glimra", "Test");
  log_close();
  EXPECT_EQ(log_level, 2);
  log_printf(2, "still open");
  log_close();
  EXPECT_EQ(log_level, 0);
  EXPECT_EQ(d.content(2), "log open\nstill open\nlog closed\n");
}

TEST(Log, DisabledMessageEvaluatesNoArgument) {
  log_capture cap(2);
  int calls = 0;
  auto arg = [&] { return ++calls; };
  log_printf(3, "traffic %d", arg());
  EXPECT_EQ(calls, 0);
  log_printf(2, "progress %d", arg());
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(cap.has("progress 1"));
}

TEST(Log, LongMessagesAreCutTo255) {
  log_capture cap(9);
  std::string s(300, 'x');
  log_printf(1, "%s", s.c_str());
  ASSERT_EQ(cap.lines().size(), 1u);
  EXPECT_EQ(cap.lines()[0], std::string(255, 'x'));
  log_printf(1, "inner\nline");
  EXPECT_EQ(cap.lines()[1], "inner\nline");
}

TEST(Log, CloseListsLiveBlocksNewestFirst) {
  logdir d({1});
  log_open("Glimra", "Test");
  void *a = xmalloc(4, "older:1");
  void *b = xmalloc(4, "newer:2");
  std::size_t before = xmem_count();
  log_close();
  EXPECT_EQ(xmem_count(), before); // the list is left as it is
  xfree(b);
  xfree(a);
  std::string c = d.content(1);
  EXPECT_NE(c.find("allocated memory blocs: \nnewer:2\nolder:1\n"), std::string::npos) << c;
}

namespace {
std::atomic<int> g_sunk{0};
void counting_sink(const char *, std::size_t) { g_sunk.fetch_add(1); }
int conv_tick(char *out, std::size_t size, const std::int64_t *values) {
  return std::snprintf(out, size, "<%d>", static_cast<int>(values[0]));
}
} // namespace

TEST(LogThreads, PrintingGoesOnWhileTheLogIsSetUpAndTornDown) {
  // One thread prints through a named conversion while another registers
  // and removes it and opens and closes the log file: no message is lost
  // half-way, nothing freed is used.
  logdir d({1});
  const int saved_level = log_level;
  const log_sink_fn saved_sink = log_sink;
  log_level = 1;
  log_sink = counting_sink;
  g_sunk = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> printed{0};
  std::thread printer([&] {
    while (!stop.load()) {
      log_printf(1, "msg {tick:%d}", printed.load());
      printed.fetch_add(1);
    }
  });
  for (int i = 0; i < 300; ++i) {
    conv_register(conv_tick, "tick:%d");
    conv_unregister(conv_tick);
  }
  stop = true;
  printer.join();
  EXPECT_EQ(g_sunk.load(), printed.load());

  stop = false;
  std::atomic<int> tries{0};
  std::thread filer([&] {
    for (int k = 0; !stop.load(); ++k) {
      log_printf(1, "line %d", k);
      tries.fetch_add(1);
    }
  });
  for (int i = 0; i < 100; ++i) {
    log_open("Glimra", "Test");
    for (const int t = tries.load(); tries.load() < t + 5;) // the other thread writes a few
      std::this_thread::yield();
    log_close();
  }
  stop = true;
  filer.join();
  log_level = saved_level;
  log_sink = saved_sink;
  // Every message that reached the file is whole, on a line of its own.
  const std::string c = d.content(1);
  std::size_t at = 0, ours = 0;
  for (std::size_t nl; (nl = c.find('\n', at)) != std::string::npos; at = nl + 1) {
    const std::string l = c.substr(at, nl - at);
    if (l.find("line") == std::string::npos)
      continue; // the listing of blocks other tests left alive
    ++ours;
    EXPECT_EQ(l.find_first_not_of("0123456789", 5), std::string::npos) << l;
    EXPECT_EQ(l.compare(0, 5, "line "), 0) << l;
  }
  EXPECT_EQ(at, c.size());
  EXPECT_GT(ours, 0u);
}
