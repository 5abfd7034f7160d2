// The engine library end to end: loaded at run time from the build, set up
// over an installation written here, played through its module table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "orka/orka.h"
#include "platform/os.h"
#include "testutil.h"

namespace {

const char *const CONF = R"(wav tone {
  map { data "waves/tone.raw"
    loop 4800
  }
}
patch 0 "Sine" {
  layer a {
    wav tone
  }
}
patch 1 "Driven" {
  fx sat {
    level 127
    wave_shape tanh
  }
  layer a {
    wav tone
    output fx
  }
}
)";

class Library : public ::testing::Test {
protected:
  void SetUp() override {
    testutil::set_env("PROGRAMFILES", dir_.path().c_str());
    testutil::set_env("APPDATA", dir_.path().c_str());
    testutil::write_file(dir_.file("Glimra/Synth/data/midisyn.conf"), CONF);
    testutil::write_file(dir_.file("Glimra/Synth/data/waves/tone.raw"), testutil::raw_sine(48.0, 100, 16000));
    lib_ = os_dlopen(testutil::u16(ORKA_LIB).data());
    ASSERT_NE(lib_, nullptr) << ORKA_LIB;
    auto entry = reinterpret_cast<orka_entry_fn>(os_dlsym(lib_, "orka_entry"));
    ASSERT_NE(entry, nullptr);
    const orka_ui *ui = reinterpret_cast<const orka_ui *>(this);
    entry(&mod_, &ui);
    ASSERT_NE(mod_, nullptr);
    EXPECT_EQ(ui, nullptr);
    mod_->init();
  }
  void TearDown() override {
    if (mod_)
      mod_->done();
    if (lib_)
      os_dlclose(lib_);
    testutil::set_env("PROGRAMFILES", nullptr);
    testutil::set_env("APPDATA", nullptr);
  }
  void *start(int rateidx, int reverb, int chorus, int patch = 0) {
    void *s = mod_->new_(nullptr, nullptr);
    EXPECT_EQ(mod_->start(s, rateidx, 512), 1);
    orka_info info{};
    mod_->info(&info);
    for (int i = 0; i < info.nctls; ++i) {
      orka_ctlinfo ci{};
      mod_->ctlinfo(i, &ci);
      mod_->onctl(s, i, ci.def);
    }
    mod_->onctl(s, 0, patch);
    mod_->onctl(s, 3, reverb);
    mod_->onctl(s, 4, chorus);
    mod_->reset(s);
    return s;
  }
  std::vector<std::int32_t> render(void *s, int frames) {
    std::vector<std::int32_t> out;
    std::vector<std::int32_t> l(512), r(512);
    for (int done = 0; done < frames; done += 512) {
      std::fill(l.begin(), l.end(), 0);
      std::fill(r.begin(), r.end(), 0);
      std::int32_t *o[2] = {l.data(), r.data()};
      mod_->run(s, nullptr, o, 512);
      out.insert(out.end(), l.begin(), l.end());
    }
    return out;
  }
  void midi(void *s, std::vector<unsigned char> b) {
    mod_->midi(s, b.data(), static_cast<int>(b.size()));
  }

  testutil::tempdir dir_;
  void *lib_ = nullptr;
  const orka_module *mod_ = nullptr;
};

double rms(const std::vector<std::int32_t> &s, std::size_t from, std::size_t to) {
  double e = 0;
  for (std::size_t i = from; i < to; ++i)
    e += double(s[i]) * s[i];
  return std::sqrt(e / double(to - from));
}

TEST_F(Library, NotePitchAndLevelAtSeveralRates) {
  orka_info info{};
  mod_->info(&info);
  EXPECT_EQ(info.nctls, 22);
  for (int rateidx : {7, 8, 11}) {
    const double rate = ORKA_RATES[rateidx];
    void *s = start(rateidx, 0, 0);
    midi(s, {0x90, 64, 127});
    const auto on = render(s, static_cast<int>(rate / 2));
    EXPECT_NEAR(testutil::frequency_of(on, 2000, on.size(), rate), 1000.0, 0.5) << rate;
    // Master volume -9 steps, centre pan: 16000 * 2^12 * 2^-0.5 / 2.
    const double want = 16000.0 * 4096 * std::pow(2.0, -0.5) * 0.5 / std::sqrt(2.0);
    EXPECT_NEAR(rms(on, 2000, on.size()) / want, 1.0, 0.02) << rate;
    midi(s, {0x80, 64, 0});
    const auto off = render(s, 4096);
    EXPECT_LT(rms(off, 0, off.size()), 100.0) << rate;
    mod_->del(s);
  }
}

TEST_F(Library, ReverbAndChorusTailsDecay) {
  void *s = start(8, 127, 127);
  midi(s, {0x90, 64, 127});
  render(s, 24000);
  midi(s, {0x80, 64, 0});
  const auto tail = render(s, 96000);
  const double early = rms(tail, 0, 4800), late = rms(tail, 84000, 96000);
  EXPECT_GT(early, 1e5); // the sends are heard after the dry voice has gone
  EXPECT_LT(late, early / 10);
  mod_->del(s);
}

TEST_F(Library, FxLayerThroughTheSaturator) {
  void *s = start(8, 0, 0, 1);
  midi(s, {0x90, 64, 127});
  const auto out = render(s, 9600);
  EXPECT_GT(rms(out, 4800, 9600), 1e6);
  EXPECT_NEAR(testutil::frequency_of(out, 4800, out.size(), 48000), 1000.0, 1.0);
  mod_->del(s);
}

TEST_F(Library, SettingsTextThroughTheTable) {
  orka_info info{};
  mod_->info(&info);
  std::vector<int> vals(info.nctls), back(info.nctls);
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    mod_->ctlinfo(i, &ci);
    vals[i] = ci.nvals - 1;
  }
  const std::size_t n = mod_->print(nullptr, "All up", vals.data(), nullptr);
  std::string text(n, '\0');
  mod_->print(nullptr, "All up", vals.data(), text.data());
  char preset[ORKA_TEXTLEN] = {};
  EXPECT_EQ(mod_->scan(nullptr, preset, back.data(), text.data(), n), n);
  EXPECT_EQ(back, vals);
  EXPECT_STREQ(preset, "All up");
}

} // namespace
