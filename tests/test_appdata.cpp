// Installed files: path forming, limits and the reader's failures.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "platform/os.h"
#include "testutil.h"
#include "utils/alloc.h"
#include "utils/appdata.h"
#include "utils/log.h"

using namespace testutil;

namespace {
struct progfiles {
  explicit progfiles(const std::string &v) {
    set_env("PROGRAMFILES", v.empty() ? nullptr : v.c_str());
    os_set_default_root("");
  }
  ~progfiles() { set_env("PROGRAMFILES", nullptr); }
};

struct su16 {
  su16() { conv_register(conv_su16, "su16:%p"); }
  ~su16() { conv_unregister(conv_su16); }
};
} // namespace

TEST(Appdata, ReadsWholeFiles) {
  tempdir t;
  progfiles pf(t.path());
  write_file(t.file("Glimra/Synth/data/a.raw"), std::string("\x34\x12\xff\xff\x01", 5));
  write_file(t.file("Glimra/Synth/data/empty"), "");
  std::size_t n = 99;
  auto *p = static_cast<unsigned char *>(appdata_loadres("Glimra", "Synth", "data\\a.raw", &n));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(p[0], 0x34);
  EXPECT_EQ(p[4], 0x01);
  xfree(p);
  void *e = appdata_loadres("Glimra", "Synth", "data\\empty", &n);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(n, 0u);
  xfree(e);
}

TEST(Appdata, RefusesWithoutProgramFiles) {
  progfiles pf("");
  log_capture cap(1);
  std::size_t n;
  EXPECT_EQ(appdata_loadres("Glimra", "Synth", "x", &n), nullptr);
  EXPECT_TRUE(cap.has("appdata_loadres: can't get path to library"));
}

TEST(Appdata, PathLengthLimit) {
  tempdir t;
  // Grow a folder name so that the variable is exactly 250 units long.
  std::string root = t.path();
  std::string pad(250 - root.size() - 1, 'p');
  root += std::string(1, std::filesystem::path::preferred_separator) + pad;
  ASSERT_EQ(root.size(), 250u);
  make_dirs(root);
  progfiles pf(root);
  su16 conv;
  std::size_t n;
  {
    log_capture cap(1);
    // "\V\P\" plus 6 characters is 11: too long
    EXPECT_EQ(appdata_loadres("V", "P", "abcdef", &n), nullptr);
    EXPECT_TRUE(cap.has("appdata_loadres: library path too long")) << cap.all();
  }
  {
    log_capture cap(1);
    // a cut formatted text is caught too
    std::string huge(300, 'h');
    EXPECT_EQ(appdata_loadres("V", "P", huge.c_str(), &n), nullptr);
    EXPECT_TRUE(cap.has("appdata_loadres: library path too long"));
  }
  {
    log_capture cap(1);
    // 10 characters reach the file reader
    void *p = appdata_loadres("V", "P", "abcde", &n);
    EXPECT_FALSE(cap.has("appdata_loadres: library path too long"));
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(cap.lines().size(), 1u);
    // the message is the log's 255 characters of "<path>: can't open ..."
    std::string want = root + "\\V\\P\\abcde: can't open file for reading";
    EXPECT_EQ(cap.lines()[0], want.substr(0, 255));
  }
}

TEST(Appdata, MissingFileNamesTheFullPath) {
  tempdir t;
  progfiles pf(t.path());
  su16 conv;
  log_capture cap(1);
  std::size_t n;
  EXPECT_EQ(appdata_loadres("Glimra", "Synth", "data\\none.raw", &n), nullptr);
  EXPECT_TRUE(cap.has(t.path() + "\\Glimra\\Synth\\data\\none.raw: can't open file for reading"))
      << cap.all();
  auto path = u16(t.path());
  EXPECT_EQ(appdata_readfile(path.data(), &n), nullptr); // a folder is no file
}
