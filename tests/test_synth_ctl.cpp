// The synthesizer's control space, value texts, settings text, and what
// its own controls do to sounding voices; rendering independent of the
// block size.
#include <cstring>

#include "chorus/cho.h"
#include "rev/rev.h"
#include "saturator/sat.h"
#include "synth_rig.h"

namespace {

class Controls : public SynthTest {};

TEST_F(Controls, Descriptions) {
  orka_info info{};
  SYNTH_MODULE.info(&info);
  EXPECT_EQ(info.nctls, 22);
  EXPECT_EQ(info.ninputs, 0);
  EXPECT_EQ(info.noutputs, 2);
  EXPECT_STREQ(info.preset, "default");
  struct row {
    int ctl;
    const char *name, *label;
    int type, nvals, def;
  };
  const row rows[] = {
      {0, "patch", "Patch", ORKA_CTL_SEL, 5, 0},
      {1, "volume", "Volume", ORKA_CTL_NUM, 128, 127},
      {2, "pan", "Pan", ORKA_CTL_NUM, 128, 64},
      {3, "reverb", "Reverb", ORKA_CTL_NUM, 128, 64},
      {4, "chorus", "Chorus", ORKA_CTL_NUM, 128, 64},
      {5, "holdmode", "Hold mode", ORKA_CTL_SEL, 3, 0},
      {21, "programs", "Programs", ORKA_CTL_SEL, 2, 0}, // after the effects: no index moves
  };
  for (const row &r : rows) {
    orka_ctlinfo ci{};
    SYNTH_MODULE.ctlinfo(r.ctl, &ci);
    EXPECT_STREQ(ci.name, r.name);
    EXPECT_STREQ(ci.label, r.label);
    EXPECT_EQ(ci.type, r.type) << r.name;
    EXPECT_EQ(ci.nvals, r.nvals) << r.name;
    EXPECT_EQ(ci.def, r.def) << r.name;
    EXPECT_EQ(ci.flags, 0);
  }
  // Effect controls: the effect's record under a prefixed name.
  const char *const names[] = {"sat_level", "sat_prehp", "sat_prelp", "sat_postlp",
                               "sat_wave_shape", "rev_bypass", "rev_mix", "rev_depth",
                               "rev_model", "rev_pan", "rev_dist", "rev_decay",
                               "rev_hi_freq", "rev_lo_cut", "cho_wet_level"};
  const orka_module *mods[] = {&SAT_MODULE, &REV_MODULE, &CHO_MODULE};
  int i = 6;
  for (const orka_module *m : mods) {
    orka_info mi{};
    m->info(&mi);
    for (int j = 0; j < mi.nctls; ++j, ++i) {
      orka_ctlinfo own{}, shown{};
      m->ctlinfo(j, &own);
      SYNTH_MODULE.ctlinfo(i, &shown);
      EXPECT_STREQ(shown.name, names[i - 6]);
      EXPECT_STREQ(shown.label, own.label);
      EXPECT_EQ(shown.type, own.type);
      EXPECT_EQ(shown.nvals, own.nvals);
      EXPECT_EQ(shown.def, i == 12 ? 127 : own.def) << shown.name;
    }
  }
  EXPECT_EQ(i, 21);
  orka_ctlinfo past{};
  past.type = 77;
  std::strcpy(past.label, "x");
  SYNTH_MODULE.ctlinfo(22, &past);
  EXPECT_EQ(past.type, 77);
  EXPECT_STREQ(past.label, "");
}

TEST_F(Controls, SelectorAndValueTexts) {
  struct row {
    int ctl, val;
    const char *text;
  };
  const row sel[] = {{0, 0, "Sine"}, {0, 1, "Split"}, {0, 2, "Driven"}, {0, 3, "Held"},
                     {0, 4, "Percussions"}, {5, 0, "Pedal"}, {5, 1, "Bend-Wheel"},
                     {5, 2, "Mod-Wheel"}, {21, 0, "Patch control"}, {21, 1, "Program change"}};
  for (const row &r : sel) {
    char text[ORKA_TEXTLEN] = {};
    SYNTH_MODULE.selinfo(r.ctl, r.val, text);
    EXPECT_STREQ(text, r.text);
    char shown[ORKA_TEXTLEN] = {};
    SYNTH_MODULE.printval(r.ctl, r.val, shown);
    EXPECT_STREQ(shown, r.text);
    int back = -1;
    EXPECT_EQ(SYNTH_MODULE.scanval(r.ctl, &back, r.text), 1);
    EXPECT_EQ(back, r.val);
  }
  char text[ORKA_TEXTLEN] = {};
  SYNTH_MODULE.printval(1, 7, text);
  EXPECT_STREQ(text, "007");
  int v = 0;
  EXPECT_EQ(SYNTH_MODULE.scanval(1, &v, "300"), 1);
  EXPECT_EQ(v, 127);
  EXPECT_EQ(SYNTH_MODULE.scanval(0, &v, "Nothing"), 0);
  EXPECT_EQ(SYNTH_MODULE.scanval(22, &v, "1"), 0);
  // Effect value texts come from the effects: the reverb's own printer,
  // the generic rule for the saturator and the chorus.
  for (int ctl = 6; ctl < 21; ++ctl) {
    orka_ctlinfo ci{};
    SYNTH_MODULE.ctlinfo(ctl, &ci);
    for (int val : {0, ci.nvals / 2, ci.nvals - 1}) {
      char t[ORKA_TEXTLEN] = {};
      SYNTH_MODULE.printval(ctl, val, t);
      int back = -1;
      EXPECT_EQ(SYNTH_MODULE.scanval(ctl, &back, t), 1) << ci.name << " " << t;
      char again[ORKA_TEXTLEN] = {};
      SYNTH_MODULE.printval(ctl, back, again);
      EXPECT_STREQ(again, t) << ci.name;
    }
  }
  char shape[ORKA_TEXTLEN] = {};
  SYNTH_MODULE.selinfo(10, 2, shape);
  EXPECT_STREQ(shape, "tanh");
}

TEST_F(Controls, SettingsTextRoundTrip) {
  orka_info info{};
  SYNTH_MODULE.info(&info);
  std::vector<int> vals(info.nctls);
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    SYNTH_MODULE.ctlinfo(i, &ci);
    vals[i] = (ci.def + 1 + i) % ci.nvals;
  }
  vals[5] = 1; // "Bend-Wheel"
  vals[0] = 2; // "Driven"
  vals[21] = 1; // "Program change"
  const std::size_t n = SYNTH_MODULE.print(nullptr, "My sound", vals.data(), nullptr);
  std::string text(n, '\0');
  EXPECT_EQ(SYNTH_MODULE.print(nullptr, "My sound", vals.data(), text.data()), n);
  EXPECT_NE(text.find("Bend-Wheel"), std::string::npos);
  char preset[ORKA_TEXTLEN] = {};
  std::vector<int> back(info.nctls, -1);
  EXPECT_EQ(SYNTH_MODULE.scan(nullptr, preset, back.data(), text.data(), text.size()), n);
  EXPECT_STREQ(preset, "My sound");
  EXPECT_EQ(back, vals);
  // An empty text gives the defaults and consumes nothing.
  EXPECT_EQ(SYNTH_MODULE.scan(nullptr, preset, back.data(), "", 0), 0u);
  EXPECT_STREQ(preset, "default");
  EXPECT_EQ(back[12], 127);
}

TEST_F(Controls, OwnControlsOnSoundingVoices) {
  make();
  midi({0x90, 64, 127});
  tone *t = s_->chan[0].list->tones[0];
  const std::int32_t vol = t->par[PAR_VOL];
  // Volume 0 glides the main-bus voices down by about 359 steps.
  SYNTH_MODULE.onctl(s_, 1, 0);
  EXPECT_EQ(t->par[PAR_VOL], vol + VOL_OFF);
  EXPECT_EQ(t->glide[1].target, t->par[PAR_VOL]);
  EXPECT_GT(t->glide[1].time, 0);
  SYNTH_MODULE.onctl(s_, 1, 0); // the same value again: nothing
  EXPECT_EQ(t->par[PAR_VOL], vol + VOL_OFF);
  SYNTH_MODULE.onctl(s_, 1, 127);
  EXPECT_EQ(t->par[PAR_VOL], vol);
  // Pan moves the pan base; reverb and chorus reach the voice at once.
  SYNTH_MODULE.onctl(s_, 2, 100);
  EXPECT_EQ(t->par[PAR_PAN], 100 << 20);
  SYNTH_MODULE.onctl(s_, 3, 127);
  EXPECT_EQ(t->revgain, 1 << 27);
  SYNTH_MODULE.onctl(s_, 4, 109);
  EXPECT_EQ(t->chogain, (1 << 27) / 2);
  EXPECT_EQ(s_->sat->chosend, 64);
  // A new patch: sounding notes keep theirs.
  SYNTH_MODULE.onctl(s_, 0, 3);
  EXPECT_EQ(s_->chan[0].list->patch, patch_table[0]);
  EXPECT_EQ(s_->chan[15].patch, 7);
  // Out-of-range values are held at the ends.
  SYNTH_MODULE.onctl(s_, 0, 99);
  EXPECT_EQ(s_->chan[0].patch, 127);
  SYNTH_MODULE.onctl(s_, 5, -4);
  EXPECT_EQ(s_->holdmode, 0);
  SYNTH_MODULE.onctl(s_, 10, 500); // saturator shape: the last one, not a crash
  SYNTH_MODULE.onctl(s_, 21, 9);   // programs: the last value
  EXPECT_EQ(s_->programs, SYNTH_PROGCHANGE);
  SYNTH_MODULE.onctl(s_, 40, 1);   // past the end: ignored
}

TEST_F(Controls, PatchWithEffectSetsTheSaturator) {
  make();
  testutil::log_capture cap(2);
  SYNTH_MODULE.onctl(s_, 0, 2);
  EXPECT_TRUE(cap.has("sat: level -> 100"));
  EXPECT_TRUE(cap.has("sat: wave_shape -> poly"));
  EXPECT_EQ(s_->sat->level, 90);
}

// A fixed performance rendered with the given largest block size; blocks
// are split at the frames where MIDI arrives.
std::vector<std::int32_t> perform(SynthTest &t, synth *s, int blksz) {
  struct event {
    int frame;
    std::vector<unsigned char> bytes;
  };
  const std::vector<event> events = {
      {0, {0x90, 60, 100}},  {700, {0x91, 67, 80}}, {1500, {0xE0, 0, 90}},
      {2222, {0xB1, 11, 60}}, {3000, {0x80, 60, 0}}, {4100, {0x90, 72, 127, 0xB0, 1, 90}},
      {6000, {0x81, 67, 0}},  {7000, {0x80, 72, 0}},
  };
  (void)t;
  std::vector<std::int32_t> out;
  std::vector<std::int32_t> l(blksz), r(blksz);
  int frame = 0;
  std::size_t next = 0;
  const int total = 12000;
  while (frame < total) {
    while (next < events.size() && events[next].frame == frame) {
      SYNTH_MODULE.midi(s, events[next].bytes.data(), static_cast<int>(events[next].bytes.size()));
      ++next;
    }
    int n = std::min(blksz, total - frame);
    if (next < events.size())
      n = std::min(n, events[next].frame - frame);
    std::fill(l.begin(), l.end(), 0);
    std::fill(r.begin(), r.end(), 0);
    std::int32_t *o[2] = {l.data(), r.data()};
    SYNTH_MODULE.run(s, nullptr, o, n);
    for (int i = 0; i < n; ++i) {
      out.push_back(l[i]);
      out.push_back(r[i]);
    }
    frame += n;
  }
  return out;
}

TEST_F(Controls, BlockSizeDoesNotChangeTheOutput) {
  std::vector<std::int32_t> ref;
  for (int blksz : {1, 64, 500, 4096}) {
    rnd_state = 1234;
    synth *s = make(8, blksz);
    SYNTH_MODULE.onctl(s, 0, 1); // two layers
    const auto out = perform(*this, s, blksz);
    SYNTH_MODULE.del(s);
    s_ = nullptr;
    if (ref.empty())
      ref = out;
    else
      EXPECT_TRUE(out == ref) << "block size " << blksz;
  }
}

TEST_F(Controls, RunBeyondTheBlockSizeAndUnstarted) {
  synth *s = make(8, 64);
  midi({0x90, 60, 100});
  std::vector<std::int32_t> l(1000), r(1000);
  std::int32_t *o[2] = {l.data(), r.data()};
  SYNTH_MODULE.run(s, nullptr, o, 1000); // rendered in pieces of 64
  EXPECT_NE(l[999], 0);
  SYNTH_MODULE.stop(s);
  std::fill(l.begin(), l.end(), 0);
  SYNTH_MODULE.run(s, nullptr, o, 1000); // stopped: nothing
  EXPECT_EQ(l[500], 0);
  EXPECT_EQ(SYNTH_MODULE.start(s, 99, 64), 0);
  EXPECT_EQ(SYNTH_MODULE.start(s, 11, 64), 1);
  SYNTH_MODULE.run(s, nullptr, o, 0);
}

TEST(ControlsNoDefinition, OnlyTheDrumKit) {
  testutil::tempdir dir;
  testutil::set_env("PROGRAMFILES", dir.path().c_str());
  testutil::set_env("APPDATA", dir.path().c_str());
  os_set_default_root("");
  testutil::write_file(dir.file("Glimra/Synth/data/midisyn.conf"), "patch 0 {\nbroken\n");
  SYNTH_MODULE.init();
  orka_ctlinfo ci{};
  SYNTH_MODULE.ctlinfo(0, &ci);
  EXPECT_EQ(ci.nvals, 1);
  char text[ORKA_TEXTLEN] = {};
  SYNTH_MODULE.selinfo(0, 0, text);
  EXPECT_STREQ(text, "Percussions");
  auto *s = static_cast<synth *>(SYNTH_MODULE.new_(nullptr, nullptr));
  SYNTH_MODULE.start(s, 8, 128);
  SYNTH_MODULE.onctl(s, 0, 0);
  const unsigned char on[] = {0x90, 60, 100};
  SYNTH_MODULE.midi(s, on, 3);
  EXPECT_EQ(s->nnotes, 0);
  SYNTH_MODULE.del(s); // started: stops first
  SYNTH_MODULE.done();
  testutil::set_env("PROGRAMFILES", nullptr);
  testutil::set_env("APPDATA", nullptr);
}

} // namespace
