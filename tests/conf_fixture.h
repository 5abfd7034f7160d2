// An installation in a temporary folder, for tests that read definitions.
#pragma once

#include <cstddef>
#include <gtest/gtest.h>
#include <string>

#include "platform/os.h"
#include "saturator/sat.h"
#include "synth/conf/conf.h"
#include "synth/patch/patch.h"
#include "synth/wave/wave.h"
#include "testutil.h"
#include "utils/alloc.h"
#include "utils/log.h"

class ConfTest : public ::testing::Test {
protected:
  void SetUp() override {
    testutil::set_env("PROGRAMFILES", dir_.path().c_str());
    os_set_default_root("");
    conv_register(conv_su16, "su16:%p");
    baseline_ = xmem_count();
  }
  void TearDown() override {
    conf_teardown();
    conv_unregister(conv_su16);
    testutil::set_env("PROGRAMFILES", nullptr);
    EXPECT_EQ(xmem_count(), baseline_) << "blocks left over";
  }
  // Writes a file below the installation directory; rel uses "/".
  void put(const std::string &rel, const std::string &bytes) {
    testutil::write_file(dir_.file("Glimra/Synth/" + rel), bytes);
  }
  void conf(const std::string &text) { put("data/midisyn.conf", text); }
  // Reads the installation as the library set-up does, capturing messages.
  bool load(int level = 2) {
    testutil::log_capture cap(level);
    const bool ok = conf_setup();
    lines_ = cap.lines();
    return ok;
  }
  bool logged(const std::string &line) const {
    for (const std::string &l : lines_)
      if (l == line)
        return true;
    return false;
  }
  std::string log_text() const {
    std::string s;
    for (const std::string &l : lines_)
      s += l + "\n";
    return s;
  }
  // Nothing of the definition is left.
  void expect_empty() const {
    for (int i = 0; i < PATCH_MAX; ++i) {
      EXPECT_EQ(patch_table[i], nullptr);
      EXPECT_EQ(drumkey_table[i], nullptr);
    }
    EXPECT_EQ(wave_list, nullptr);
    EXPECT_EQ(wave_table[0], nullptr);
    EXPECT_EQ(xmem_count(), baseline_);
  }

  testutil::tempdir dir_;
  std::size_t baseline_ = 0;
  std::vector<std::string> lines_;
};
