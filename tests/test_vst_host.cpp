// The plug-in as a host sees it: loaded from its file with the engine
// library in a temporary installation, driven through the test host.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"
#include "vsthost/vsthost.h"

using namespace testutil;

namespace {

#ifdef _WIN32
const char *const ENGINE_NAME = "liborka.dll";
#else
const char *const ENGINE_NAME = "liborka.so";
#endif

class Plugin : public ::testing::Test {
protected:
  void SetUp() override {
    set_env("PROGRAMFILES", dir_.path().c_str());
    set_env("APPDATA", dir_.path().c_str());
    write_file(dir_.file("Glimra-Synth/log2"), "");
    install(dir_.path());
  }
  void TearDown() override {
    for (vsthost *h : {&a_, &b_})
      if (h->eff)
        vsthost_close(h);
    set_env("PROGRAMFILES", nullptr);
    set_env("APPDATA", nullptr);
  }
  // An installation: the engine library, a definition and its wave.
  void install(const std::string &root) {
    const std::string synth = root + "/Glimra/Synth";
    make_dirs(synth + "/data");
    std::filesystem::copy_file(ORKA_ENGINE, synth + "/" + ENGINE_NAME,
                               std::filesystem::copy_options::overwrite_existing);
    define("patch 0 \"Sine\" {\nlayer a {\nwav tone\n}\n}\n");
    write_file(synth + "/data/tone.raw", raw_sine(48.0, 100, 16000));
  }
  // The definition: the wave "tone" and the given patches.
  void define(const std::string &patches) {
    write_file(dir_.path() + "/Glimra/Synth/data/midisyn.conf",
               "wav tone {\nmap { data \"tone.raw\"\nloop 4800\n}\n}\n" + patches);
  }
  std::string log() const { return read_file(dir_.file("Glimra-Synth/log2")); }
  bool logged(const std::string &text) const { return log().find(text) != std::string::npos; }
  int count(const std::string &text) const {
    const std::string l = log();
    int n = 0;
    for (std::size_t at = l.find(text); at != std::string::npos; at = l.find(text, at + 1))
      ++n;
    return n;
  }
  bool open(vsthost *h) { return vsthost_open(h, ORKA_PLUGIN); }
  // The state chunk ("GetChunk").
  static std::string chunk_of(vsthost *h) {
    char *c = nullptr;
    const intptr_t n = vsthost_dispatch(h, VST_EFF_GET_CHUNK, 0, 0, &c);
    return std::string(c, static_cast<std::size_t>(n));
  }
  // Open, rate, block size, switched on.
  void play(vsthost *h, float rate = 48000.0f, int blksz = 512) {
    ASSERT_TRUE(open(h));
    vsthost_dispatch(h, VST_EFF_OPEN);
    vsthost_dispatch(h, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, rate);
    vsthost_dispatch(h, VST_EFF_SET_BLOCK_SIZE, 0, blksz);
    // No reverb or chorus: only the voice is heard.
    h->eff->set_parameter(h->eff, 3, 0.0f);
    h->eff->set_parameter(h->eff, 4, 0.0f);
    vsthost_dispatch(h, VST_EFF_MAINS_CHANGED, 0, 1);
  }

  tempdir dir_;
  vsthost a_, b_;
};

TEST_F(Plugin, EffectRecord) {
  ASSERT_TRUE(open(&a_));
  const vst_effect *e = a_.eff;
  EXPECT_EQ(e->magic, VST_MAGIC);
  EXPECT_EQ(e->num_programs, 1);
  EXPECT_EQ(e->num_params, 22);
  EXPECT_EQ(e->num_inputs, 0);
  EXPECT_EQ(e->num_outputs, 2);
  EXPECT_EQ(e->flags, 16 | 32 | 256);
  EXPECT_EQ(e->unique_id, 0x64697163);
  EXPECT_EQ(e->version, 0);
  EXPECT_EQ(e->initial_delay, 0);
  EXPECT_EQ(e->process, nullptr);
  EXPECT_EQ(e->process_double, nullptr);
  EXPECT_NE(e->object, nullptr);
  ASSERT_FALSE(a_.calls.empty());
  EXPECT_EQ(a_.calls[0].opcode, VST_HOST_VERSION);
  EXPECT_TRUE(logged("vst host ver: 2400"));
  EXPECT_TRUE(logged("orka_load: loaded Glimra-Synth shared library"));
  // The path the engine was loaded from is named.
  EXPECT_TRUE(logged(std::string("\\Glimra\\Synth\\") + ENGINE_NAME + ": library loaded")) << log();
}

TEST_F(Plugin, LoadingRefusalsLeaveNothingBehind) {
  const std::string rel = std::string("/Glimra/Synth/") + ENGINE_NAME;
  struct row {
    std::string programfiles;
    const char *message;
  };
  const std::string empty = dir_.path() + "/empty";
  make_dirs(empty);
  const std::string noentry = dir_.path() + "/noentry";
  make_dirs(noentry + "/Glimra/Synth");
  std::filesystem::copy_file(ORKA_PLUGIN, noentry + "/Glimra/Synth/" + ENGINE_NAME);
  // Program-files paths whose length with the library's relative path is
  // exactly 260 and 261 units.
  const std::string at260 = "/" + std::string(260 - rel.size() - 1, 'x');
  const std::string at261 = at260 + "x";
  // The message names the path first, so a 260-unit one fills the line.
  const std::string at260_msg = "orka_load: " + at260.substr(0, 100);
  const row rows[] = {
      {"", "orka_load: can't get path to library"},
      {at261, "orka_load: library path too long"},
      {at260, at260_msg.c_str()},
      {empty, "couldn't load library"},
      {noentry, "orka_load: couldn't get entry point"},
  };
  for (const row &r : rows) {
    const int before = count(r.message), too_long = count("library path too long");
    set_env("PROGRAMFILES", r.programfiles.c_str());
    EXPECT_FALSE(open(&a_)) << r.message;
    EXPECT_EQ(count(r.message), before + 1) << r.message << "\n" << log();
    if (r.programfiles == at260) { // 260 units are accepted
      EXPECT_EQ(count("library path too long"), too_long);
    }
    // The next attempt, with the installation back, works.
    set_env("PROGRAMFILES", dir_.path().c_str());
    ASSERT_TRUE(open(&a_)) << r.message;
    vsthost_close(&a_);
  }
  // A host that answers the version question with 0 is refused too.
  a_.version = 0;
  EXPECT_FALSE(open(&a_));
  a_.version = 2400;
  EXPECT_TRUE(open(&a_));
}

TEST_F(Plugin, InstancesShareTheLibrary) {
  ASSERT_TRUE(open(&a_));
  ASSERT_TRUE(open(&b_));
  EXPECT_NE(a_.eff->object, b_.eff->object);
  EXPECT_EQ(count("loaded Glimra-Synth shared library"), 1);
  vsthost_close(&a_);
  EXPECT_EQ(count("orka_unload"), 0);
  vsthost_close(&b_);
  EXPECT_EQ(count("orka_unload"), 1);
  ASSERT_TRUE(open(&a_)); // loaded and set up again
  EXPECT_EQ(count("loaded Glimra-Synth shared library"), 2);
  EXPECT_EQ(count("loading waves..."), 2);
}

TEST_F(Plugin, OpenCloseCyclesLeakNothing) {
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(open(&a_));
    vsthost_dispatch(&a_, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 44100.0f);
    vsthost_dispatch(&a_, VST_EFF_SET_BLOCK_SIZE, 0, 64);
    vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1);
    void *chunk = nullptr;
    vsthost_dispatch(&a_, VST_EFF_GET_CHUNK, 0, 0, &chunk);
    vsthost_close(&a_);
  }
  EXPECT_EQ(count("orka_unload"), 200);
  EXPECT_FALSE(logged("allocated memory blocs"));
}

TEST_F(Plugin, DispatcherAnswers) {
  ASSERT_TRUE(open(&a_));
  struct row {
    int opcode, index;
    intptr_t value;
    intptr_t result;
    const char *text; // null: no text expected
  };
  const row rows[] = {
      {VST_EFF_OPEN, 0, 0, 0, nullptr},
      {VST_EFF_GET_PROGRAM, 0, 0, 0, nullptr},
      {VST_EFF_SET_PROGRAM, 0, 3, 0, nullptr},
      {VST_EFF_GET_PROGRAM_NAME, 0, 0, 1, "default"},
      {VST_EFF_GET_PROGRAM_NAME_INDEXED, 0, -1, 1, "default"},
      {VST_EFF_GET_PARAM_LABEL, 1, 0, 0, ""},
      {VST_EFF_GET_PARAM_DISPLAY, 1, 0, 0, "127"},
      {VST_EFF_GET_PARAM_DISPLAY, 10, 0, 0, "poly"},
      {VST_EFF_GET_PARAM_DISPLAY, 0, 0, 0, "Sine"},
      {VST_EFF_GET_PARAM_NAME, 1, 0, 0, "Volume"},
      {VST_EFF_GET_PARAM_NAME, 5, 0, 0, "Hold mo"},
      {VST_EFF_CAN_BE_AUTOMATED, 3, 0, 1, nullptr},
      {VST_EFF_STRING2PARAMETER, 1, 0, 0, nullptr},
      {VST_EFF_GET_PLUG_CATEGORY, 0, 0, 2, nullptr},
      {VST_EFF_GET_EFFECT_NAME, 0, 0, 1, "Synth"},
      {VST_EFF_GET_VENDOR_STRING, 0, 0, 1, "Glimra"},
      {VST_EFF_GET_PRODUCT_STRING, 0, 0, 1, "Synth"},
      {VST_EFF_GET_VENDOR_VERSION, 0, 0, 0, nullptr},
      {VST_EFF_GET_VST_VERSION, 0, 0, 2400, nullptr},
      {VST_EFF_GET_TAIL_SIZE, 0, 0, 0, nullptr},
      {VST_EFF_SET_BYPASS, 0, 1, 0, nullptr},
      {VST_EFF_EDIT_GET_RECT, 0, 0, 0, nullptr},
      {VST_EFF_EDIT_OPEN, 0, 0, 0, nullptr},
      {VST_EFF_EDIT_CLOSE, 0, 0, 0, nullptr},
      {VST_EFF_IDLE, 0, 0, 0, nullptr},
      {VST_EFF_GET_VU, 0, 0, 0, nullptr},
      {90, 0, 0, 0, nullptr},
  };
  for (const row &r : rows) {
    char text[128];
    std::memset(text, 'z', sizeof text);
    text[sizeof text - 1] = 0;
    const intptr_t got = vsthost_dispatch(&a_, r.opcode, r.index, r.value, text);
    EXPECT_EQ(got, r.result) << r.opcode;
    if (r.text) {
      EXPECT_STREQ(text, r.text) << r.opcode;
    }
  }
  EXPECT_TRUE(logged("getwinsize: no ui"));
  EXPECT_TRUE(logged("editopen: no ui"));
  EXPECT_TRUE(logged("editclose: not open"));
  EXPECT_TRUE(logged(": String2Parameter: code disabled"));
  EXPECT_TRUE(logged(": 90 (unknown): unhandled opcode, index = 0, value = 0"));
  EXPECT_TRUE(logged(": 9 (GetVu): unhandled opcode"));
  struct cando {
    const char *text;
    intptr_t answer;
  };
  for (const cando &c : {cando{"receiveVstMidiEvent", 1}, cando{"receiveVstMidiEvents", 1},
                         cando{"receiveVstEvents", 1}, cando{"supportsViewDpiScaling", 1},
                         cando{"sendVstEvents", 0}, cando{"bypass", 0}})
    EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_CAN_DO, 0, 0, const_cast<char *>(c.text)), c.answer)
        << c.text;
  // Tail after a rate: the reverb's 8000 ms is not the synth's; the synth says 0.
  vsthost_dispatch(&a_, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_TAIL_SIZE), 0);
}

TEST_F(Plugin, ParameterProperties) {
  ASSERT_TRUE(open(&a_));
  vst_param_props pp{};
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_PARAMETER_PROPERTIES, 1, 0, &pp), 1);
  EXPECT_FLOAT_EQ(pp.step, 1.0f / 127);
  EXPECT_EQ(pp.flags, 0);
  EXPECT_STREQ(pp.label, "Volume");
  pp = {};
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_PARAMETER_PROPERTIES, 5, 0, &pp), 1);
  EXPECT_EQ(pp.flags, 10);
  EXPECT_EQ(pp.max_integer, 2);
  EXPECT_EQ(pp.step_integer, 1);
  EXPECT_STREQ(pp.label, "Hold mode");
  pp = {};
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_PARAMETER_PROPERTIES, 11, 0, &pp), 1);
  EXPECT_EQ(pp.flags, 10); // the reverb's bypass switch
  EXPECT_EQ(pp.max_integer, 1);
  pp = {};
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_PARAMETER_PROPERTIES, 21, 0, &pp), 1);
  EXPECT_EQ(pp.flags, 10); // patch control or program change
  EXPECT_EQ(pp.max_integer, 1);
  EXPECT_STREQ(pp.label, "Programs");
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_PARAMETER_PROPERTIES, 22, 0, &pp), 0);
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_PARAMETER_PROPERTIES, 1, 0, nullptr), 0);
}

TEST_F(Plugin, RatesAndMainsChanged) {
  ASSERT_TRUE(open(&a_));
  vsthost_dispatch(&a_, VST_EFF_SET_BLOCK_SIZE, 0, 256);
  for (float r : {44088.0f, 44100.0f, 44112.9f}) {
    vsthost_dispatch(&a_, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, r);
    EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1), 0);
    EXPECT_EQ(count("mainschanged: no valid rate"), 0) << r;
    vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 0);
  }
  vsthost_dispatch(&a_, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 44087.0f);
  EXPECT_TRUE(logged("orka_rateidx: 44087 (44075): not found"));
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1);
  EXPECT_TRUE(logged("mainschanged: no valid rate"));
  vsthost_dispatch(&a_, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 96000.0f);
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1);
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1);
  EXPECT_TRUE(logged("mainschanged: already started"));
  vsthost_dispatch(&a_, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  EXPECT_TRUE(logged("setsamplerate: busy"));
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 0);
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 0);
  EXPECT_TRUE(logged("mainschanged: not started"));
  // After a valid rate the tail is the engine's (0 for the synth).
  EXPECT_EQ(vsthost_dispatch(&a_, VST_EFF_GET_TAIL_SIZE), 0);
}

TEST_F(Plugin, ChunkRoundTrip) {
  ASSERT_TRUE(open(&a_));
  a_.eff->set_parameter(a_.eff, 1, 0.5f);
  a_.eff->set_parameter(a_.eff, 5, 1.0f);
  a_.eff->set_parameter(a_.eff, 13, 0.25f);
  char *chunk = nullptr;
  const intptr_t n = vsthost_dispatch(&a_, VST_EFF_GET_CHUNK, 0, 0, &chunk);
  ASSERT_GT(n, 0);
  const std::string text(chunk, static_cast<std::size_t>(n));
  EXPECT_NE(text.find("Mod-Wheel"), std::string::npos);
  std::vector<float> before;
  for (int i = 0; i < 22; ++i)
    before.push_back(a_.eff->get_parameter(a_.eff, i));
  ASSERT_TRUE(open(&b_));
  vsthost_dispatch(&b_, VST_EFF_SET_CHUNK, 0, n, const_cast<char *>(text.data()));
  for (int i = 0; i < 22; ++i)
    EXPECT_EQ(b_.eff->get_parameter(b_.eff, i), before[i]) << i;
  char name[64] = {};
  vsthost_dispatch(&b_, VST_EFF_GET_PROGRAM_NAME, 0, 0, name);
  EXPECT_STREQ(name, "default");
  // A malformed third line: what came before it is taken, the rest is default.
  std::string broken;
  std::size_t lines = 0, at = 0;
  while (lines < 2 && (at = text.find('\n', at)) != std::string::npos) {
    ++at;
    ++lines;
  }
  broken = text.substr(0, at) + "volume = loud\n" + text.substr(text.find('\n', at) + 1);
  vsthost_dispatch(&b_, VST_EFF_SET_CHUNK, 0, static_cast<intptr_t>(broken.size()),
                   const_cast<char *>(broken.data()));
  EXPECT_EQ(b_.eff->get_parameter(b_.eff, 5), 0.0f); // back to its default
  EXPECT_EQ(b_.eff->get_parameter(b_.eff, 1), 1.0f);
}

TEST_F(Plugin, ProcessingRefusalsAndLimits) {
  ASSERT_TRUE(open(&a_));
  std::vector<std::vector<float>> out;
  std::vector<float> l(64, 7.0f), r(64, 7.0f);
  float *o[2] = {l.data(), r.data()};
  a_.eff->process_replacing(a_.eff, nullptr, o, 64); // not started: silence
  EXPECT_EQ(l[10], 0.0f);
  EXPECT_TRUE(logged("warning: not started"));
  vsthost_dispatch(&a_, VST_EFF_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1); // no block size yet
  std::fill(l.begin(), l.end(), 7.0f);
  a_.eff->process_replacing(a_.eff, nullptr, o, 64);
  EXPECT_TRUE(logged("warning: no bus allocated"));
  EXPECT_EQ(l[10], 0.0f);
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 0);
  vsthost_dispatch(&a_, VST_EFF_SET_BLOCK_SIZE, 0, 128);
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1);
  vsthost_events(&a_, {{0x90, 64, 127}});
  a_.eff->process_replacing(a_.eff, nullptr, o, 0); // nothing written
  EXPECT_EQ(l[10], 0.0f);
  vsthost_process(&a_, out, 1000); // longer than the block size: in pieces
  EXPECT_NE(out[0][999], 0.0f);
  // A block size of 0: every block is refused.
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 0);
  vsthost_dispatch(&a_, VST_EFF_SET_BLOCK_SIZE, 0, 0);
  vsthost_dispatch(&a_, VST_EFF_MAINS_CHANGED, 0, 1);
  vsthost_process(&a_, out, 64);
  EXPECT_TRUE(logged("0: block size too small"));
}

TEST_F(Plugin, BlockSizeChangedDuringPlaybackKeepsTheTails) {
  // Two instances play the same; one is told a new block size while it
  // plays.  It goes on with its buffers and its tails, sample for sample.
  play(&a_, 48000.0f, 256);
  play(&b_, 48000.0f, 256);
  for (vsthost *h : {&a_, &b_}) { // reverb and chorus on
    h->eff->set_parameter(h->eff, 3, 1.0f);
    h->eff->set_parameter(h->eff, 4, 1.0f);
    vsthost_events(h, {{0x90, 64, 127}});
  }
  std::vector<std::vector<float>> oa, ob;
  for (int k = 0; k < 40; ++k) {
    if (k == 8)
      vsthost_events(&a_, {{0x80, 64, 0}}), vsthost_events(&b_, {{0x80, 64, 0}});
    if (k == 10)
      vsthost_dispatch(&a_, VST_EFF_SET_BLOCK_SIZE, 0, 1024);
    vsthost_process(&a_, oa, 600); // longer than either size: in pieces
    vsthost_process(&b_, ob, 600);
    ASSERT_EQ(oa, ob) << "block " << k;
  }
  EXPECT_NE(oa[0][599], 0.0f); // the tail is still sounding
  EXPECT_TRUE(logged("setblocksize: busy, 1024 from the next start"));
}

TEST_F(Plugin, SelectorTextsReadBackThroughTheChunk) {
  // Patch names that hold "#", "-", leading and trailing blanks, or that
  // begin other names, and names of 46 characters.
  const std::vector<std::string> names = {
      "E.Piano", "E.Piano #2", "Organ ", "Organ", " Lead", "Pad - warm", "# not a comment",
      "Forty-six characters, with a # and a - in them", std::string(46, 'x')};
  std::string patches;
  for (std::size_t k = 0; k < names.size(); ++k)
    patches += "patch " + std::to_string(k) + " \"" + names[k] + "\" {\nlayer a {\nwav tone\n}\n}\n";
  define(patches);
  ASSERT_TRUE(open(&a_));
  ASSERT_TRUE(open(&b_));
  const int last = static_cast<int>(names.size()); // then "Percussions"
  for (int k = 0; k <= last; ++k) {
    for (int hold = 0; hold < 3; ++hold) {
      a_.eff->set_parameter(a_.eff, 0, static_cast<float>(k) / static_cast<float>(last));
      a_.eff->set_parameter(a_.eff, 5, hold / 2.0f);
      a_.eff->set_parameter(a_.eff, 15, 0.1f * (k + 1)); // the reverb's pan angle texts
      const std::string text = chunk_of(&a_);
      const std::string want = k < last ? names[static_cast<std::size_t>(k)] : "Percussions";
      EXPECT_NE(text.find("patch = " + want + "\n"), std::string::npos) << text;
      vsthost_dispatch(&b_, VST_EFF_SET_CHUNK, 0, static_cast<intptr_t>(text.size()),
                       const_cast<char *>(text.data()));
      EXPECT_EQ(chunk_of(&b_), text) << "patch " << k;
      EXPECT_EQ(b_.eff->get_parameter(b_.eff, 0), a_.eff->get_parameter(a_.eff, 0)) << k;
    }
  }
  // A preset name with "#" and blanks comes back too.
  std::string named = chunk_of(&a_);
  named.replace(0, named.find('\n'), "name = \" #1 \\\\ \\\"odd\\\" \"");
  vsthost_dispatch(&b_, VST_EFF_SET_CHUNK, 0, static_cast<intptr_t>(named.size()),
                   const_cast<char *>(named.data()));
  EXPECT_EQ(chunk_of(&b_), named);
  char name[32] = {};
  vsthost_dispatch(&b_, VST_EFF_GET_PROGRAM_NAME, 0, 0, name);
  EXPECT_STREQ(name, " #1 \\ \"odd\" ");
}

TEST_F(Plugin, NoteAtEverySupportedRate) {
  const float rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100,
                         48000, 64000, 88200, 96000, 128000, 176400, 192000};
  for (float rate : rates) {
    play(&a_, rate, 512);
    vsthost_events(&a_, {{0x90, 64, 127}});
    std::vector<float> all;
    std::vector<std::vector<float>> out;
    for (int k = 0; k < static_cast<int>(rate / 4) / 512 + 1; ++k) {
      vsthost_process(&a_, out, 512);
      all.insert(all.end(), out[0].begin(), out[0].end());
    }
    // 1000 Hz at every rate (at 8000 Hz still well below Nyquist).
    EXPECT_NEAR(frequency_of(all, all.size() / 4, all.size(), rate), 1000.0, 1.0) << rate;
    double peak = 0;
    for (float v : all)
      peak = std::fmax(peak, std::fabs(v));
    EXPECT_NEAR(peak, 16000.0 / 32768 * std::pow(2.0, -0.5) * 0.5, 0.01) << rate;
    vsthost_events(&a_, {{0x80, 64, 0}});
    vsthost_process(&a_, out, 512);
    vsthost_process(&a_, out, 512);
    EXPECT_LT(std::fabs(out[0][500]), 1e-5) << rate;
    vsthost_close(&a_);
  }
}

TEST_F(Plugin, EventsInListOrder) {
  play(&a_);
  // A tuning message and the note it retunes, in one list: the tuning
  // arrives first, so the note sounds a semitone up.
  vsthost_events(&a_, {{0xF0, 0x7F, 0x00, 0x08, 0x02, 0x00, 0x01, 0x40, 0x41, 0x00, 0x00, 0xF7},
                       {0x90, 64, 127},
                       {0xF8}});
  std::vector<float> all;
  std::vector<std::vector<float>> out;
  for (int k = 0; k < 40; ++k) {
    vsthost_process(&a_, out, 512);
    all.insert(all.end(), out[0].begin(), out[0].end());
  }
  EXPECT_NEAR(frequency_of(all, 4000, all.size(), 48000), 1000.0 * std::pow(2.0, 1.0 / 12), 1.0);
}

TEST_F(Plugin, Parameters) {
  ASSERT_TRUE(open(&a_));
  struct row {
    float in;
    float out;
  };
  for (const row &r : {row{0.5f, 64.0f / 127}, row{-3.0f, 0.0f}, row{7.0f, 1.0f},
                       row{0.25f, 32.0f / 127}, row{NAN, 0.0f}}) {
    a_.eff->set_parameter(a_.eff, 1, r.in);
    EXPECT_FLOAT_EQ(a_.eff->get_parameter(a_.eff, 1), r.out) << r.in;
  }
  EXPECT_EQ(a_.eff->get_parameter(a_.eff, -1), 0.0f);
  EXPECT_EQ(a_.eff->get_parameter(a_.eff, 22), 0.0f);
  a_.eff->set_parameter(a_.eff, 22, 0.5f); // ignored
  a_.eff->set_parameter(a_.eff, 5, 0.5f);
  EXPECT_FLOAT_EQ(a_.eff->get_parameter(a_.eff, 5), 0.5f); // 1 of 2
}

TEST_F(Plugin, ProgramsModeSavedAndRestored) {
  // In program-change mode channel 10 plays the drum kit, which this
  // instrument leaves empty; in patch-control mode it plays the sine.
  auto level_on_ten = [](vsthost *h) {
    std::vector<std::vector<float>> out;
    vsthost_process(h, out, 512); // restored values reach the engine first
    vsthost_events(h, {{0x99, 64, 127}});
    vsthost_process(h, out, 512);
    float peak = 0;
    for (float v : out[0])
      peak = std::fmax(peak, std::fabs(v));
    vsthost_events(h, {{0x89, 64, 0}});
    vsthost_process(h, out, 512);
    return peak;
  };
  play(&a_);
  play(&b_);
  EXPECT_GT(level_on_ten(&b_), 0.01f);
  a_.eff->set_parameter(a_.eff, 21, 1.0f);
  const std::string gm = chunk_of(&a_);
  EXPECT_NE(gm.find("\nprograms = Program change\n"), std::string::npos);
  vsthost_dispatch(&b_, VST_EFF_SET_CHUNK, 0, static_cast<intptr_t>(gm.size()), const_cast<char *>(gm.data()));
  EXPECT_EQ(b_.eff->get_parameter(b_.eff, 21), 1.0f);
  EXPECT_LT(level_on_ten(&b_), 1e-4f);
  // A text saved before the control existed restores patch control.
  const std::string old = gm.substr(0, gm.find("programs = "));
  vsthost_dispatch(&b_, VST_EFF_SET_CHUNK, 0, static_cast<intptr_t>(old.size()), const_cast<char *>(old.data()));
  EXPECT_EQ(b_.eff->get_parameter(b_.eff, 21), 0.0f);
  EXPECT_NE(chunk_of(&b_).find("\nprograms = Patch control\n"), std::string::npos);
  EXPECT_GT(level_on_ten(&b_), 0.01f);
  char name[16] = {};
  vsthost_dispatch(&b_, VST_EFF_GET_PARAM_NAME, 21, 0, name);
  EXPECT_STREQ(name, "Program");
}

// Threads as a workstation uses them; run under ThreadSanitizer as well.
using PluginThreads = Plugin;

TEST_F(PluginThreads, TwoInstancesPlayedAndSavedInParallel) {
  // Each instance renders notes on its own audio thread while its own host
  // thread automates it and saves and restores its state, both at once.
  play(&a_);
  play(&b_);
  std::string saved[2];
  std::atomic<int> playing{2};
  auto audio = [&](vsthost *h, int key) {
    std::vector<std::vector<float>> out;
    for (int k = 0; k < 60; ++k) {
      vsthost_events(h, {{0x90, static_cast<unsigned char>(key + k % 12), 100},
                         {0x80, static_cast<unsigned char>(key + (k + 6) % 12), 0}});
      vsthost_process(h, out, 256);
    }
    playing.fetch_sub(1);
  };
  auto host = [&](vsthost *h, int which) {
    for (int k = 0; k < 150 || playing.load() > 0; ++k) {
      h->eff->set_parameter(h->eff, 1, static_cast<float>(k % 128) / 127.0f);
      const std::string text = chunk_of(h);
      vsthost_dispatch(h, VST_EFF_SET_CHUNK, 0, static_cast<intptr_t>(text.size()),
                       const_cast<char *>(text.data()));
      char display[16];
      vsthost_dispatch(h, VST_EFF_GET_PARAM_DISPLAY, 1, 0, display);
      saved[which] = text;
    }
  };
  std::thread ta(audio, &a_, 48), tb(audio, &b_, 60), ha(host, &a_, 0), hb(host, &b_, 1);
  ta.join();
  tb.join();
  ha.join();
  hb.join();
  // Each instance's last save is its own state, whole.
  for (vsthost *h : {&a_, &b_})
    EXPECT_EQ(chunk_of(h), saved[h == &a_ ? 0 : 1]);
  EXPECT_NE(saved[0].find("volume = "), std::string::npos);
  EXPECT_FALSE(logged("double free"));
}

} // namespace
