// Log level selection from the log files, nesting, the sink and limits.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

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
