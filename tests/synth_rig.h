// The synthesizer with an instrument written into a temporary
// installation: set up through its module table, played with MIDI bytes.
#pragma once

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/os.h"
#include "synth/note/synth.h"
#include "testutil.h"
#include "utils/alloc.h"
#include "utils/log.h"

inline std::string raw_const(std::int16_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  }
  return s;
}

// A definition with: wave "tone" (a 1000 Hz sine recorded at key 64, looped),
// wave "flat" (a constant), patches 0 (one layer), 1 (two velocity layers),
// 5 (fx sat, layer to fx), 7 (release never, cut key 50), drum keys 36 and 42.
extern const char *const RIG_CONF;

class SynthTest : public ::testing::Test {
protected:
  void SetUp() override { install(RIG_CONF); }
  void TearDown() override {
    teardown();
    testutil::set_env("PROGRAMFILES", nullptr);
    testutil::set_env("APPDATA", nullptr);
    EXPECT_EQ(xmem_count(), baseline_) << "blocks left over";
  }
  void install(const std::string &conf) {
    testutil::set_env("PROGRAMFILES", dir_.path().c_str());
    testutil::set_env("APPDATA", dir_.path().c_str());
    os_set_default_root("");
    baseline_ = xmem_count();
    put("data/midisyn.conf", conf);
    put("data/tone.raw", testutil::raw_sine(48.0, 100, 16000));
    put("data/flat.raw", raw_const(16000, 4800));
    SYNTH_MODULE.init();
    inited_ = true;
  }
  void teardown() {
    if (s_)
      SYNTH_MODULE.del(s_);
    s_ = nullptr;
    if (inited_)
      SYNTH_MODULE.done();
    inited_ = false;
  }
  void put(const std::string &rel, const std::string &bytes) {
    testutil::write_file(dir_.file("Glimra/Synth/" + rel), bytes);
  }
  // A started instance with every control at its default.
  synth *make(int rateidx = 8, int blksz = 256) {
    s_ = static_cast<synth *>(SYNTH_MODULE.new_(nullptr, nullptr));
    EXPECT_EQ(SYNTH_MODULE.start(s_, rateidx, blksz), 1);
    orka_info info{};
    SYNTH_MODULE.info(&info);
    for (int i = 0; i < info.nctls; ++i) {
      orka_ctlinfo ci{};
      SYNTH_MODULE.ctlinfo(i, &ci);
      SYNTH_MODULE.onctl(s_, i, ci.def);
    }
    SYNTH_MODULE.reset(s_);
    return s_;
  }
  void midi(std::initializer_list<int> bytes) {
    std::vector<unsigned char> b;
    for (int x : bytes)
      b.push_back(static_cast<unsigned char>(x));
    SYNTH_MODULE.midi(s_, b.data(), static_cast<int>(b.size()));
  }
  // Renders n frames in blocks; appends to left and right.
  void run(int n, int block = 256) {
    std::vector<std::int32_t> l(block), r(block);
    while (n > 0) {
      const int m = n < block ? n : block;
      std::fill(l.begin(), l.end(), 0);
      std::fill(r.begin(), r.end(), 0);
      std::int32_t *out[2] = {l.data(), r.data()};
      SYNTH_MODULE.run(s_, nullptr, out, m);
      left_.insert(left_.end(), l.begin(), l.begin() + m);
      right_.insert(right_.end(), r.begin(), r.begin() + m);
      n -= m;
    }
  }
  int notes(int c) const {
    int n = 0;
    for (const note *x = s_->chan[c].list; x; x = x->next)
      ++n;
    return n;
  }
  double peak(std::size_t from, std::size_t to) const {
    double p = 0;
    for (std::size_t i = from; i < to && i < left_.size(); ++i)
      p = std::fmax(p, std::fabs(double(left_[i])));
    return p;
  }

  testutil::tempdir dir_;
  std::size_t baseline_ = 0;
  bool inited_ = false;
  synth *s_ = nullptr;
  std::vector<std::int32_t> left_, right_;
};
