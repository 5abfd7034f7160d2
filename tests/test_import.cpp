// The bank importer: its unit rules, a small bank written here and read
// back through the engine's reader, and what it sounds like.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "import/imp_model.h"
#include "import/imp_write.h"
#include "import_rig.h"
#include "sf2_image.h"
#include "synth/conf/conf.h"
#include "synth/note/tone.h"
#include "synth/patch/patch.h"
#include "synth/wave/wave.h"
#include "testutil.h"
#include "utils/appdata.h"

using namespace testutil;

namespace {

constexpr double Q20 = 1048576.0;

TEST(ImportRules, Scales) {
  struct row {
    const char *what;
    double got, want;
  };
  const row rows[] = {
      {"1 s", imp_time(0), 79},
      {"2 s", imp_time(1200), 85},
      {"1 ms", imp_time(-12000), 19},
      {"6.02 dB", imp_steps(20 * std::log10(2.0)), 18},
      {"root at 48 kHz", imp_map_pitch(60, 0, 100, 48000), 60},
      {"44.1 kHz plays high", imp_map_pitch(60, 0, 100, 44100), 60 + 12 * std::log2(48000.0 / 44100)},
      {"+50 cents", imp_map_pitch(60, 50, 100, 48000), 59.5},
      {"half scale", imp_map_pitch(72, 0, 50, 48000), 68},
      {"no resonance", imp_resonance(0), 127 * std::log(std::sqrt(2.0)) / std::log(254.0)},
      {"resonance top", imp_resonance(1440), 127},
      {"8.176 Hz", imp_lfo_time(0), 79 - 6 * std::log2(8.176)},
      {"doubled", imp_lfo_time(1200), 79 - 6 * std::log2(2 * 8.176)},
  };
  for (const row &r : rows)
    EXPECT_NEAR(r.got, r.want, 1e-3) << r.what;
}

TEST(ImportRules, Names) {
  bool cut = false;
  EXPECT_EQ(imp_quote_name("Grand \"Piano\" \\1", &cut), "\"Grand \\\"Piano\\\" \\\\1\"");
  EXPECT_FALSE(cut);
  EXPECT_EQ(imp_quote_name("tab\there", &cut), "\"tab here\"");
  const std::string longname(50, 'x');
  EXPECT_EQ(imp_quote_name(longname, &cut), "\"" + std::string(46, 'x') + "\"");
  EXPECT_TRUE(cut);
  // A two-byte character at bytes 46 and 47 is left out whole.
  EXPECT_EQ(imp_quote_name(std::string(45, 'a') + "\xC3\xA9z", &cut), "\"" + std::string(45, 'a') + "\"");
  EXPECT_TRUE(cut);
}

TEST(ImportRules, MapsFitTheEnginesOrder) {
  auto m = [](int klo, int khi, int vlo = 0, int vhi = 127) {
    def_map d;
    d.keylo = klo;
    d.keyhi = khi;
    d.vello = vlo;
    d.velhi = vhi;
    return d;
  };
  struct row {
    const char *what;
    std::vector<def_map> have;
    def_map add;
    bool fits;
    int at; // position it takes
  };
  const std::vector<row> rows = {
      {"after", {m(0, 59)}, m(60, 127), true, 1},
      {"before", {m(60, 127)}, m(0, 59), true, 0},
      {"between", {m(0, 10), m(50, 60)}, m(20, 30), true, 1},
      {"velocity split, same keys", {m(0, 60, 0, 63)}, m(0, 60, 64, 127), true, 1},
      {"velocity split, shared low key", {m(0, 60, 64, 127)}, m(0, 40, 0, 63), true, 0},
      {"overlap without a shared bound", {m(0, 60, 0, 63)}, m(40, 80, 64, 127), false, 0},
      {"same zone twice", {m(0, 127)}, m(0, 127), false, 0},
      {"velocity overlap", {m(0, 60, 0, 80)}, m(0, 60, 64, 127), false, 0},
  };
  for (const row &r : rows) {
    std::vector<def_map> maps = r.have;
    EXPECT_EQ(imp_add_map(&maps, r.add), r.fits) << r.what;
    if (r.fits) {
      ASSERT_EQ(maps.size(), r.have.size() + 1) << r.what;
      EXPECT_EQ(maps[static_cast<std::size_t>(r.at)].keylo, r.add.keylo) << r.what;
      EXPECT_EQ(maps[static_cast<std::size_t>(r.at)].vello, r.add.vello) << r.what;
    } else {
      EXPECT_EQ(maps.size(), r.have.size()) << r.what;
    }
  }
}

// The maps of a loaded wave, in key order.
void in_order(const map *m, std::vector<const map *> *out) {
  if (!m)
    return;
  in_order(m->left, out);
  out->push_back(m);
  in_order(m->right, out);
}

std::vector<const map *> maps_of(int wave) {
  std::vector<const map *> out;
  in_order(wave_table[wave]->maps, &out);
  return out;
}

std::int32_t par(const layer &l, int p, int k) { return l.par[16 * p + k]; }

class ImportBank : public ::testing::Test {
protected:
  void SetUp() override {
    imp_bank bank;
    std::string err;
    const std::string file = dir_.file("test.sf2");
    write_file(file, test_bank());
    ASSERT_TRUE(imp_read_bank(file, &bank, &err)) << err;
    inst_ = imp_convert(bank, imp_options{});
    out_ = dir_.path() + "/inst/data";
    ASSERT_TRUE(imp_write(inst_, bank, out_, "test.sf2", nullptr, &err)) << err;
    ASSERT_TRUE(imp_check(out_, &err)) << err;
    appdata_set_installdir((dir_.path() + "/inst").c_str());
    ASSERT_TRUE(conf_setup());
  }
  void TearDown() override {
    conf_teardown();
    appdata_set_installdir(nullptr);
  }
  bool warned(const std::string &text) const {
    for (const std::string &w : inst_.warnings)
      if (w.find(text) != std::string::npos)
        return true;
    return false;
  }
  tempdir dir_;
  def_instrument inst_;
  std::string out_;
};

TEST_F(ImportBank, ZonesBecomeMapsWithTheirTuningAndLoops) {
  const patch *lead = patch_table[0];
  ASSERT_NE(lead, nullptr);
  EXPECT_STREQ(lead->name, "Lead");
  const layer &l = lead->layers[0];
  EXPECT_EQ(lead->layers[1].wave, -1) << "both zones share one envelope, so one layer";
  const auto maps = maps_of(l.wave);
  ASSERT_EQ(maps.size(), 2u);
  // Low zone: root 48 at 22050 Hz, coarse +1, fine -30 and the preset's +10 cents.
  EXPECT_EQ(maps[0]->keylo, 0);
  EXPECT_EQ(maps[0]->keyhi, 59);
  EXPECT_NEAR(maps[0]->pitch / Q20, 48 - 0.8 + 12 * std::log2(48000.0 / 22050), 1e-3);
  EXPECT_NEAR(maps[0]->volume / Q20, 127 + imp_steps(6.0), 1e-3) << "60 cB of attenuation";
  EXPECT_EQ(maps[0]->loop, 0);
  EXPECT_EQ(maps[0]->nsamples, 22050);
  // High zone: root 69 at 44100 Hz, looped from 4410 to its end.
  EXPECT_NEAR(maps[1]->pitch / Q20, 69 - 0.1 + 12 * std::log2(48000.0 / 44100), 1e-3);
  EXPECT_EQ(maps[1]->loop, 44100 - 4410);
  EXPECT_EQ(maps[1]->nsamples, 44100);
  // The envelope: attack 1 s from -54 steps, decay 0.5 s to -6 dB, release 2 s.
  EXPECT_EQ(par(l, 1, 1), -54 * 1048576);
  EXPECT_EQ(par(l, 1, 2), 79 * 1048576);
  EXPECT_NEAR(par(l, 1, 7) / Q20, -imp_steps(6.0), 1e-3);
  EXPECT_EQ(par(l, 1, 6), 49 * 1048576) << "0.5 s x 6/100 of the full range";
  EXPECT_EQ(par(l, 1, 8), 86 * 1048576) << "2 s x 114/100: from -6 dB to the engine's -120 dB";
  EXPECT_EQ(par(l, 1, 9), static_cast<std::int32_t>(0xE98FFFFF)) << "silence";
  EXPECT_EQ(l.filter, 0);
}

TEST_F(ImportBank, StereoPairIsTwoLayersPannedApart) {
  const patch *pad = patch_table[1];
  ASSERT_NE(pad, nullptr);
  EXPECT_NE(pad->layers[0].wave, -1);
  EXPECT_NE(pad->layers[1].wave, -1);
  EXPECT_EQ(pad->layers[2].wave, -1);
  EXPECT_NE(pad->layers[0].wave, pad->layers[1].wave);
  EXPECT_EQ(par(pad->layers[0], 4, 0), 0) << "left";
  EXPECT_EQ(par(pad->layers[1], 4, 0), 128 * 1048576) << "right";
  const auto left = maps_of(pad->layers[0].wave), right = maps_of(pad->layers[1].wave);
  ASSERT_EQ(left.size(), 1u);
  ASSERT_EQ(right.size(), 1u);
  EXPECT_EQ(left[0]->samples[100], 1000) << "the left sample's data";
  EXPECT_EQ(right[0]->samples[100], -1000) << "the right sample's data";
}

TEST_F(ImportBank, DrumKitWithExclusiveClass) {
  for (int k : {36, 42, 44, 46})
    ASSERT_NE(drumkey_table[k], nullptr) << k;
  EXPECT_EQ(drumkey_table[37], nullptr);
  EXPECT_EQ(drumkey_table[36]->ckey, -1);
  EXPECT_EQ(drumkey_table[42]->ckey, 46) << "closed cuts the open hat, which rings longest";
  EXPECT_EQ(drumkey_table[44]->ckey, 46);
  EXPECT_EQ(drumkey_table[46]->ckey, 42);
  EXPECT_TRUE(warned("exclusive class 1: each key cuts one other key only"));
  EXPECT_STREQ(drumkey_table[46]->name, "HatO");
  const layer &kick = drumkey_table[36]->layers[0];
  EXPECT_EQ(par(kick, 0, 0), 36 * 1048576) << "plays at the overriding root: recorded speed";
  EXPECT_EQ(kick.release, 0) << "note-off releases drums as the bank does";
  // All drum keys play from the kit's shared wave.
  EXPECT_EQ(drumkey_table[42]->layers[0].wave, kick.wave);
  EXPECT_EQ(maps_of(kick.wave).size(), 4u);
}

// The amount a MIDI source adds to a parameter slot, 0 when none.
double dep_amount(const layer &l, int source, int slot) {
  for (const layer_dep &d : l.deps)
    if (d.amount != 0 && d.source == source && d.slot == slot)
      return d.amount / Q20;
  return 0;
}

TEST_F(ImportBank, VelocityZonesBecomeVelocityRanges) {
  const patch *p = patch_table[2];
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->layers[1].wave, -1) << "equal settings: one layer";
  const auto maps = maps_of(p->layers[0].wave);
  ASSERT_EQ(maps.size(), 2u);
  EXPECT_EQ(maps[0]->vello, 0);
  EXPECT_EQ(maps[0]->velhi, 63);
  EXPECT_EQ(maps[1]->vello, 64);
  EXPECT_EQ(maps[1]->velhi, 127);
  // Each range plays its own recording: the soft one at half the level.
  auto peak = [](const map *m) {
    int hi = 0;
    for (int i = 0; i < m->nsamples; ++i)
      hi = std::max(hi, std::abs(int{m->samples[i]}));
    return hi;
  };
  EXPECT_EQ(peak(maps[0]), 6000);
  EXPECT_EQ(peak(maps[1]), 12000);
  EXPECT_EQ(map_find(wave_table[p->layers[0].wave], 60, 63), maps[0]);
  EXPECT_EQ(map_find(wave_table[p->layers[0].wave], 60, 64), maps[1]);
}

// Delay, hold, filter and vibrato of one zone, on the language's scales.
TEST_F(ImportBank, DelayHoldFilterAndVibrato) {
  const patch *p = patch_table[3];
  ASSERT_NE(p, nullptr);
  const layer &l = p->layers[0];
  struct row {
    const char *what;
    double got, want, tol;
  };
  const row rows[] = {
      {"tempo: delay ticks at 480 beats per minute", double(p->tempo), 125000, 0},
      {"delay 0.5 s in ticks of 1/192 s", double(l.delay), 96, 0},
      {"hold 1 s as the decay stage", par(l, 1, 4) / Q20, 79, 0},
      {"filter", double(l.filter), FILT_LOWPASS, 0},
      {"cut-off 6900 cents: key 69", par(l, 2, 0) / Q20, 69, 0},
      {"resonance 10 dB", par(l, 3, 0) / Q20, imp_resonance(100), 0.01},
      {"vibrato depth 50 cents", par(l, 0, 10) / Q20, 0.5, 0},
      {"vibrato at 4.088 Hz", par(l, 0, 11) / Q20, imp_lfo_time(-1200), 0.06},
      {"the wheel's vibrato: the zone's 100 cents replace the default", dep_amount(l, SRC_MOD, 10), 1.0, 0},
      {"channel pressure's default vibrato", dep_amount(l, SRC_CAT, 10), 0.5, 0},
  };
  for (const row &r : rows)
    EXPECT_NEAR(r.got, r.want, r.tol) << r.what;
  EXPECT_TRUE(warned("preset 3 Shaped: envelope delay starts the sample late"));
  // Without a filter or vibrato of its own a zone gets neither, and the
  // wheel's default of 50 cents.
  const layer &lead = patch_table[0]->layers[0];
  EXPECT_EQ(lead.filter, FILT_OFF);
  EXPECT_EQ(par(lead, 0, 10), 0);
  EXPECT_EQ(lead.delay, 0);
  EXPECT_EQ(dep_amount(lead, SRC_MOD, 10), 0.5);
}

// Scale tuning of 1200 cents per key and coarse tuning of +-120 semitones
// take pitches far beyond what a definition may hold: they are clamped,
// with a warning, and the definition still loads.
TEST(ImportExtremes, TuningsBeyondThePitchRangeAreClamped) {
  using namespace sf2;
  std::vector<sample> s = {{"Low8k", std::vector<std::int16_t>(800, 1000), 8000, 60, 0, 8, 790, 1, 0}};
  const std::vector<instrument> insts = {
      {"Stretch",
       {{{43, range(0, 63)}, {56, 1200}, {58, 0}, {53, 0}}, {{43, range(64, 127)}, {56, 1200}, {58, 127}, {53, 0}}},
       {}},
      // Only with the tuning taken into the layer does this map's pitch
      // leave the range: -169 for the zone, -289 for the map.
      {"Down", {{{43, range(0, 127)}, {56, 600}, {51, -120}, {58, 0}, {53, 0}}}, {}},
      {"Kit", {{{43, range(0, 0)}, {56, 1200}, {53, 0}}, {{43, range(127, 127)}, {51, -120}, {58, 127}, {53, 0}}}, {}},
  };
  const std::vector<preset> presets = {
      {"Stretch", 0, 0, {{{41, 0}}}}, {"Down", 1, 0, {{{41, 1}}}}, {"Kit", 0, 128, {{{41, 2}}}}};
  tempdir dir;
  const std::string file = dir.file("extreme.sf2");
  write_file(file, image(s, insts, presets));
  imp_bank bank;
  std::string err;
  ASSERT_TRUE(imp_read_bank(file, &bank, &err)) << err;
  const def_instrument inst = imp_convert(bank, imp_options{});
  const std::string out = dir.path() + "/inst/data";
  ASSERT_TRUE(imp_write(inst, bank, out, "extreme.sf2", nullptr, &err)) << err;
  EXPECT_TRUE(imp_check(out, &err)) << err;
  for (const char *who : {"preset 0 Stretch", "preset 1 Down", "kit 0 Kit"}) {
    bool found = false;
    for (const std::string &w : inst.warnings)
      found = found || w == std::string(who) + ": extreme tuning: pitch values held within -256...256";
    EXPECT_TRUE(found) << who;
  }
  // Every pitch written lies within the range, the clamped ones at its ends.
  double lo = 0, hi = 0;
  for (const def_wave &w : inst.waves)
    for (const def_map &m : w.maps) {
      lo = std::min(lo, m.pitch);
      hi = std::max(hi, m.pitch);
    }
  EXPECT_EQ(lo, -256);
  EXPECT_EQ(hi, 256);
}

TEST_F(ImportBank, SoundsAtThePitchTheBankGives) {
  import_rig rig(out_);
  ASSERT_TRUE(rig.ok()) << rig.error();
  struct row {
    int program, key;
    double hz;
  };
  const row rows[] = {
      {0, 69, 440.0 * std::pow(2.0, 10 / 1200.0)},              // the preset's +10 cents
      {0, 48, 130.8128 * std::pow(2.0, 80 / 1200.0)},           // +1 semitone -30 +10 cents
      {0, 59, 130.8128 * std::pow(2.0, (1100 + 80) / 1200.0)},  // the low zone's top key
      {0, 60, 261.6256 * std::pow(2.0, 10 / 1200.0)},           // the high zone's bottom key
      {1, 60, 261.6256},
  };
  for (const row &r : rows) {
    const std::vector<float> mono = rig.note(r.program, r.key, 1.0);
    ASSERT_FALSE(mono.empty()) << rig.error();
    const double f = frequency_of(mono, 4800, 19200, 48000);
    EXPECT_NEAR(pitch_of(mono, 4800, 14400, 48000), f, f * 1e-3) << "the two measures agree";
    EXPECT_NEAR(1200 * std::log2(f / r.hz), 0, 5) << "program " << r.program << " key " << r.key;
  }
}

} // namespace
