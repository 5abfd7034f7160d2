// The definition reader: every message with the line it is reported on,
// what statements build, "load", and that an error leaves nothing behind.
#include <string>

#include "conf_fixture.h"

namespace {

constexpr std::int32_t Q = 1 << 20;

struct bad_case {
  const char *text;
  int line; // as logged
  const char *message;
  int value_line = 0; // of the value at fault, when not the line logged
};

const bad_case BAD[] = {
    {"foo\n", 1, "definition expected"},
    {"\n\n  12\n", 3, "definition expected"},
    {"load x\n", 1, "string expected after 'load'"},
    {"load \"a\" b\n", 1, "endline expected after 'load'"},
    {"wav {\n", 1, "name expected after 'wav'"},
    {"wav w\n{\n}\n", 1, "'{' expected"},
    {"wav w {\n pitch 3\n}\n", 2, "'}' expected"},
    {"wav w {\n map {\n  pitch 60\n }\n}\n", 4, "'data' path expected", 2},
    {"wav w {\n map { }}\n", 2, "'data' path expected"},
    {"wav w {\n map {\n  pitch 60\n }\n\n\n}\n", 4, "'data' path expected", 2},
    {"wav w {\nmap key = 64:80 { data \"a\"\n}\nmap key = 60:72 { data \"b\"\n}\n}\n", 5,
     "incompatible map ranges", 4},
    {"wav w {\nmap key 60 {\n", 2, "'=' expected"},
    {"wav w {\nmap {\ndata \"a\"\ndata \"b\"\n}\n}\n", 5, "map file already set", 4},
    {"wav w {\nmap {\ndata x\n", 3, "string expected"},
    {"wav w {\nmap key = 128 {\n", 2, "not a number in 0..127 range"},
    {"wav w {\nmap key = 1:200 {\n", 2, "not a number in 0..127 range"},
    {"wav w {\nmap {\npitch 257\n", 3, "number not in -256..256 range"},
    {"wav w {\nmap {\npitch 1/0\n", 3, "divisor not in 1..128 range"},
    {"wav w {\nmap {\nvol 1/129\n", 3, "divisor not in 1..128 range"},
    {"wav w {\nmap {\nloop x\n", 3, "number expected"},
    {"wav w {\nmap {\nloop 3000000000\n", 3, "number expected"},
    {"wav w {\nmap {\nloop 5 6\n", 3, "endline expected"},
    {"patch x {\n", 1, "number expected after 'patch'"},
    {"drumkey x {\n", 1, "number expected after 'patch'"},
    {"patch 128 {\n", 1, "patch not in 0..127 range"},
    {"patch -1 {\n", 1, "patch not in 0..127 range"},
    {"patch 4294967295 {\n", 1, "patch not in 0..127 range"},
    {"drumkey 128 {\n", 1, "key not in 0..127 range"},
    {"patch 1\n{\n}\n", 1, "'{' expected"},
    {"patch 1 \"12345678901234567890123456789012345678901234567\" {\n", 1,
     "patch name too long"},
    // A name is one line of a saved state: no line feed, no control byte.
    {"patch 1 \"Organ\n\" {\n", 1, "control character in patch name"},
    {"\npatch 1 \"a\tb\" {\n", 2, "control character in patch name"},
    {"drumkey 1 \"a\x1f\" {\n", 1, "control character in patch name"},
    {"patch 1 \"x\" \"\x7f\" {\n", 1, "control character in patch name"},
    {"patch 1 {\nwav w\n", 2, "'}' expected"},
    // A value is checked by its parent on the token after its line.
    {"patch 1 {\ntempo 19\n}\n", 3, "tempo out of range", 2},
    {"patch 1 {\ntempo 481 # fast\n\n}\n", 3, "tempo out of range", 2},
    {"patch 1 {\nfx {\n", 2, "name expected after 'fx'"},
    {"patch 1 {\nfx chorus {\n", 2, "unknown fx"},
    {"patch 1 {\nfx sat\n", 2, "'{' expected"},
    {"patch 1 {\nfx sat {\n3\n", 3, "fx param or '}' expected"},
    {"patch 1 {\nfx sat {\nbogus 1\n", 3, "bad fx control name"},
    {"patch 1 {\nfx sat {\nlevel x\n", 3, "number expected"},
    {"patch 1 {\nfx sat {\nwave_shape 3\n", 3, "name expected"},
    {"patch 1 {\nfx sat {\nwave_shape square\n}\n", 4, "bad fx selector entry", 3},
    {"patch 1 {\nfx sat {\nwave_shape tanh x\n", 3, "endline expected after name"},
    {"patch 1 {\nlayer {\n", 2, "name expected after 'layer'"},
    {"patch 1 {\nlayer main {\n", 2, "name expected after 'layer'"},
    {"patch 1 {\nlayer a\n", 2, "'{' expected"},
    {"wav w {\n}\npatch 1 {\nlayer a {\nwav w\n}\nlayer b {\nwav w\n}\nlayer c {\nwav w\n}\n"
     "layer d {\nwav w\n}\nlayer e {\n",
     16, "too many layers"},
    {"patch 1 {\nlayer a {\nwav nowave\n}\n", 4, "no such wave", 3},
    {"patch 1 {\nlayer a {\nbase 1\n", 3, "'}' expected"},
    {"patch 1 {\nlayer a {\nilevel.base 1\n", 3, "parameter not implemented"},
    {"patch 1 {\nlayer a {\npitch.level 1\n", 3, "modulator not implemented"},
    {"patch 1 {\nlayer a {\npitch base 1\n", 3, "'.' expected"},
    {"patch 1 {\nlayer a {\nkey cut.base 1\n", 3, "'.' expected"},
    {"patch 1 {\nlayer a {\npitch.lfotype 3\n", 3, "lfo type expected"},
    {"patch 1 {\nlayer a {\npitch.lfotype square\n", 3, "no such lfo type"},
    {"patch 1 {\nlayer a {\npitch.lfoticks 9601\n}\n", 4, "lfo ticks out of range", 3},
    {"patch 1 {\nlayer a {\npitch.lfoticks -1\n}\n", 4, "lfo ticks out of range", 3},
    {"patch 1 {\nlayer a {\ndelay x\n", 3, "number expected"},
    {"patch 1 {\nlayer a {\nfilt notch\n", 3, "wrong filter type"},
    {"patch 1 {\nlayer a {\nrelease off\n", 3, "wrong release type"},
    {"patch 1 {\nlayer a {\noutput left\n", 3, "wrong output destination"},
    {"patch 1 {\nlayer a {\noutput fx\n}\nfx sat {\n}\n}\n", 3, "no fx for this patch"},
    {"patch 1 {\nlayer a {\nshape 0 20 10 127\n", 3, "bad shape definition"},
    {"patch 1 {\nlayer a {\nshape 0 20 30 128\n", 3, "not a number in 0..127 range"},
    {"patch 1 {\nlayer a {\nshape 0 20\n", 3, "not a number in 0..127 range"},
    {"patch 1 {\nlayer a {\nvol.base 1 2\n", 3, "endline expected"},
    {"patch 1 {\nlayer a {\nkey.cut.base 1\nkey.res.base 1\nkey.pan.base 1\nvel.cut.base 1\n}\n",
     7, "too many controls", 6},
    // Lexer messages arrive through the same report.
    {"patch 1 {\n$\n", 2, "character doesn't start any token"},
    {"patch 1 {\nckey 4294967296\n", 2, "overflow in decimal"},
    {"patch 1 \"a\\n\" {\n", 1, "unknown escape sequence"},
    {"patch 1 {\nckey 2147483648\n", 2, "number expected"},
};

class ConfBad : public ConfTest, public ::testing::WithParamInterface<bad_case> {};

TEST_P(ConfBad, ReportsFileLineAndMessageThenDiscards) {
  const bad_case &c = GetParam();
  conf(c.text);
  EXPECT_FALSE(load());
  const std::string want =
      "data\\midisyn.conf: " + std::to_string(c.line) + ": " + c.message;
  EXPECT_TRUE(logged(want)) << "want: " << want << "\nlog:\n" << log_text();
  EXPECT_TRUE(logged(CONF_DISCARDED));
  // Tools name the line of the value at fault.
  EXPECT_STREQ(conf_first_fault.path, "data\\midisyn.conf");
  EXPECT_EQ(conf_first_fault.line, c.line);
  EXPECT_EQ(conf_first_fault.value_line, c.value_line ? c.value_line : c.line) << c.text;
  EXPECT_STREQ(conf_first_fault.message, c.message);
  expect_empty();
}

INSTANTIATE_TEST_SUITE_P(Messages, ConfBad, ::testing::ValuesIn(BAD));

struct loader_case {
  const char *text;
  const char *message; // null: the text is accepted
};

// Each text is read as it stands and with a final line feed added: both
// load alike, whatever the last line ends in.
const loader_case ENDINGS[] = {
    {"patch 1 {\n}", nullptr},
    {"patch 1 {\n} # last", nullptr},
    {"# only a comment", nullptr},
    {"patch 1 {\n}\nload \"a.conf\"", nullptr},
    {"patch 1 {\n}\n12", "data\\midisyn.conf: 3: definition expected"},
    {"patch 1 {\n}\nwav", "data\\midisyn.conf: 3: name expected after 'wav'"},
    {"patch 1 {\nckey 7", "stack not empty"},
    {"patch 1 \"open", "bad lexer state"},
    {"patch 1 \"\\", "data\\midisyn.conf: 1: unknown escape sequence"},
    {"patch 1 {", "stack not empty"},
    {"wav w {\nmap {\ndata \"a\"\n}", "stack not empty"},
    {"", nullptr},
};

class ConfEnding : public ConfTest, public ::testing::WithParamInterface<loader_case> {};

TEST_P(ConfEnding, LastLineWithOrWithoutLineFeed) {
  const loader_case &c = GetParam();
  put("data/a", "");
  put("data/a.conf", "patch 2 {\n}\n");
  for (const std::string &text : {std::string(c.text), std::string(c.text) + "\n"}) {
    conf(text);
    const bool ok = load();
    if (!c.message) {
      EXPECT_TRUE(ok) << text << "\n" << log_text();
      EXPECT_EQ(patch_table[1] != nullptr, text.find("patch 1") != std::string::npos) << text;
      EXPECT_EQ(patch_table[2] != nullptr, text.find("load") != std::string::npos) << text;
    } else {
      EXPECT_FALSE(ok) << text;
      EXPECT_TRUE(logged(c.message)) << text << "\n" << log_text();
      expect_empty();
    }
    conf_teardown();
  }
}

INSTANTIATE_TEST_SUITE_P(Loader, ConfEnding, ::testing::ValuesIn(ENDINGS));

TEST_F(ConfTest, WorkedExample) {
  conf("wav piano {\n"
       "map key = 0:59 {\n"
       "data \"piano/low.raw\"\n"
       "pitch 48\n"
       "}\n"
       "map key = 60:127 { data \"piano/high.raw\"\n"
       "pitch 72.5\n"
       "loop 1000\n"
       "} }\n"
       "patch 0 \"Piano\" {\n"
       "layer soft {\n"
       "wav piano\n"
       "vol.rtime 73\n"
       "vel.vol.base 64\n"
       "}\n"
       "}");
  put("data/piano/low.raw", std::string("\x01\x00\x02\x00", 4));
  put("data/piano/high.raw", std::string("\xff\x7f", 2));
  ASSERT_TRUE(load()) << log_text();
  EXPECT_TRUE(logged("loading data\\midisyn.conf"));
  ASSERT_NE(wave_table[0], nullptr);
  EXPECT_EQ(wave_table[1], nullptr);
  EXPECT_STREQ(wave_table[0]->name, "piano");
  // Two maps: the tree's root is the first, the second its right child.
  const map *lo = wave_table[0]->maps;
  ASSERT_NE(lo, nullptr);
  const map *hi = lo->right;
  ASSERT_NE(hi, nullptr);
  EXPECT_EQ(lo->left, nullptr);
  EXPECT_STREQ(lo->path, "data\\piano/low.raw");
  EXPECT_EQ(lo->keylo, 0);
  EXPECT_EQ(lo->keyhi, 59);
  EXPECT_EQ(lo->pitch, 48 * Q);
  EXPECT_EQ(lo->loop, 0);
  EXPECT_EQ(lo->nsamples, 2);
  EXPECT_EQ(lo->samples[1], 2);
  EXPECT_STREQ(hi->path, "data\\piano/high.raw");
  EXPECT_EQ(hi->keylo, 60);
  EXPECT_EQ(hi->pitch, 72 * Q + Q / 2);
  EXPECT_EQ(hi->loop, 1000);
  EXPECT_EQ(hi->volume, 127 * Q);
  EXPECT_EQ(hi->samples[0], 32767);

  const patch *p = patch_table[0];
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->name, "Piano");
  EXPECT_EQ(p->layers[0].wave, 0);
  EXPECT_EQ(p->layers[1].wave, -1);
  EXPECT_EQ(p->layers[0].par[PAR_VOL + MOD_RTIME], 73 * Q);
  const layer_dep &d = p->layers[0].deps[1];
  EXPECT_EQ(d.source, SRC_VEL);
  EXPECT_EQ(d.slot, PAR_VOL);
  EXPECT_EQ(d.amount, 64 * Q);
  for (int i = 1; i < PATCH_MAX; ++i)
    EXPECT_EQ(patch_table[i], nullptr);
}

TEST_F(ConfTest, PatchNamesNumbersAndReplacement) {
  conf("patch 5 \"A\" \"B\" {\nckey 40\ntempo 120\n}\n"
       "patch 6 {\ntempo 480\n}\n"
       "patch 7 {\ntempo 20\n}\n"
       "drumkey 36 {\n}\n"
       "patch 8 \"1234567890123456789012345678901234567890123456\" {\n}\n"
       "patch 9 {\nckey 3\n}\npatch 9 {\n}\n");
  ASSERT_TRUE(load()) << log_text();
  EXPECT_STREQ(patch_table[5]->name, "B");
  EXPECT_EQ(patch_table[5]->ckey, 40);
  EXPECT_EQ(patch_table[5]->tempo, 500000);
  EXPECT_STREQ(patch_table[6]->name, "p006");
  EXPECT_EQ(patch_table[6]->tempo, 125000);
  EXPECT_EQ(patch_table[7]->tempo, 3000000);
  EXPECT_STREQ(drumkey_table[36]->name, "k036");
  EXPECT_EQ(patch_table[36], nullptr);
  EXPECT_EQ(std::string(patch_table[8]->name).size(), 46u);
  EXPECT_EQ(patch_table[9]->ckey, -1); // the second block starts from defaults
}

TEST_F(ConfTest, DuplicatePatchNamesAreMadeUnique) {
  conf("patch 20 \"Strings\" {\n}\npatch 3 \"Strings\" {\n}\n"
       "drumkey 38 \"Strings\" {\n}\n");
  ASSERT_TRUE(load(1)) << log_text();
  EXPECT_STREQ(patch_table[20]->name, "Strings");
  EXPECT_STREQ(patch_table[3]->name, "Strings 3");
  EXPECT_STREQ(drumkey_table[38]->name, "Strings");
  EXPECT_TRUE(logged("patch 3: name \"Strings\" already taken, renamed \"Strings 3\"")) << log_text();
}

TEST_F(ConfTest, MapValuesAndRanges) {
  conf("wav w {\n"
       "map key = 60 vel = 1:64 rnd = 0:63 {\ndata \"a\"\npitch 1/3\nvol -1/3\n}\n"
       "map key = 60 vel = 1:64 rnd = 64:127 {\ndata \"a\"\npitch 300.5\nvol -2.25\n}\n"
       "map key = 61:72 {\ndata \"a\"\npitch -256\nvol 256/128\n}\n"
       "}\n");
  put("data/a", "");
  ASSERT_TRUE(load()) << log_text();
  const map *root = wave_table[0]->maps; // middle of three
  ASSERT_NE(root, nullptr);
  const map *m0 = root->left, *m2 = root->right;
  ASSERT_NE(m0, nullptr);
  ASSERT_NE(m2, nullptr);
  EXPECT_EQ(m0->keylo, 60);
  EXPECT_EQ(m0->keyhi, 60);
  EXPECT_EQ(m0->vello, 1);
  EXPECT_EQ(m0->velhi, 64);
  EXPECT_EQ(m0->rndhi, 63);
  EXPECT_EQ(m0->pitch, 349525);
  EXPECT_EQ(m0->volume, -349525);
  EXPECT_EQ(root->rndlo, 64);
  EXPECT_EQ(root->pitch, 300 * Q + Q / 2);
  EXPECT_EQ(root->volume, -2 * Q - Q / 4);
  EXPECT_EQ(m2->keylo, 61);
  EXPECT_EQ(m2->keyhi, 72);
  EXPECT_EQ(m2->vello, 0);
  EXPECT_EQ(m2->velhi, 127);
  EXPECT_EQ(m2->pitch, -256 * Q);
  EXPECT_EQ(m2->volume, 2 * Q);
}

TEST_F(ConfTest, LayerStatements) {
  conf("wav w {\n}\n"
       "patch 1 {\n"
       "layer a {\nvol.base 3\n}\n" // no wave: the slot stays free
       "layer b {\nwav w\nvol.base -6\nvel.cut.lfo 0.5\npitch.lfotype gauss\n"
       "pitch.lfoticks 9600\nfilt bandrej\nrelease never\nshape 0 10 10 127\ndelay 12\n"
       "output main\n}\n"
       "fx sat {\nlevel 100\nwave_shape tanh\n}\n"
       "layer c {\nwav w\noutput fx\n}\n"
       "}\n");
  ASSERT_TRUE(load()) << log_text();
  const patch *p = patch_table[1];
  const layer &b = p->layers[0];
  EXPECT_EQ(b.wave, 0);
  EXPECT_EQ(b.par[PAR_VOL], -6 * Q); // overwrote the 3 left by layer a
  EXPECT_EQ(b.par[PAR_PITCH + MOD_LFOTYPE], 5);
  EXPECT_EQ(b.par[PAR_PITCH + MOD_LFOTICKS], 9600);
  EXPECT_EQ(b.filter, 4);
  EXPECT_EQ(b.release, 1);
  EXPECT_EQ(b.shape[0], 0);
  EXPECT_EQ(b.shape[1], 10);
  EXPECT_EQ(b.shape[2], 10);
  EXPECT_EQ(b.shape[3], 127);
  EXPECT_EQ(b.delay, 12);
  EXPECT_EQ(b.output, 0);
  const layer_dep &d = b.deps[5];
  EXPECT_EQ(d.source, SRC_VEL);
  EXPECT_EQ(d.slot, 42);
  EXPECT_EQ(d.amount, 524288);
  EXPECT_EQ(p->layers[1].output, 4);
  EXPECT_EQ(p->layers[2].wave, -1);
  EXPECT_EQ(p->effect, 0);
  EXPECT_EQ(p->fxctl[fx_ctlbyname(&SAT_MODULE, "level")], 100);
  EXPECT_EQ(p->fxctl[fx_ctlbyname(&SAT_MODULE, "wave_shape")], 2);
  EXPECT_EQ(p->fxctl[fx_ctlbyname(&SAT_MODULE, "prehp")], 38); // default
}

TEST_F(ConfTest, LoadReadsRelativeToEachFile) {
  conf("load \"sub/kit.conf\"\nwav top {\nmap {\ndata \"t.raw\"\n}\n}\n");
  put("data/sub/kit.conf", "wav kit {\nmap {\ndata \"snare.raw\"\n}\n}\nload \"deep/more.conf\"\n");
  put("data/sub/deep/more.conf", "patch 3 {\nlayer a {\nwav kit\n}\n}\n");
  put("data/sub/snare.raw", "ab");
  put("data/t.raw", "cdef");
  ASSERT_TRUE(load()) << log_text();
  EXPECT_TRUE(logged("loading data\\sub\\kit.conf"));
  EXPECT_TRUE(logged("loading data\\sub\\deep\\more.conf"));
  EXPECT_STREQ(wave_table[0]->name, "kit");
  EXPECT_STREQ(wave_table[0]->maps->path, "data\\sub\\snare.raw");
  EXPECT_EQ(wave_table[0]->maps->nsamples, 1);
  EXPECT_STREQ(wave_table[1]->name, "top");
  EXPECT_EQ(wave_table[1]->maps->nsamples, 2);
  EXPECT_EQ(patch_table[3]->layers[0].wave, 0);
}

TEST_F(ConfTest, MissingFilesAreSkipped) {
  conf("load \"none.conf\"\npatch 2 {\n}\n");
  EXPECT_TRUE(load()) << log_text();
  EXPECT_NE(patch_table[2], nullptr);
  // No definition at all: an empty instrument, not an error.
  conf_teardown();
  testutil::set_env("PROGRAMFILES", (dir_.path() + "/nothing").c_str());
  EXPECT_TRUE(load());
  EXPECT_EQ(patch_table[2], nullptr);
}

TEST_F(ConfTest, ErrorInNestedFileDiscardsEverything) {
  conf("wav a {\nmap {\ndata \"x\"\n}\n}\npatch 1 {\n}\nload \"b.conf\"\npatch 2 {\n}\n");
  put("data/b.conf", "drumkey 3 {\n}\nwav b {\nmap key = 3 {\ndata \"y\"\n");
  put("data/x", "12");
  EXPECT_FALSE(load());
  EXPECT_TRUE(logged("stack not empty")) << log_text();
  expect_empty();
}

TEST_F(ConfTest, ErrorWithObjectsInFlightLeavesNoBlocks) {
  // A map with its path, a copied name and a load name are all held by
  // parse frames when these errors strike.
  const char *const texts[] = {
      "wav w {\nmap key = 1 {\ndata \"p\"\n$",
      "wav w {\n}\npatch 1 {\nlayer a {\nwav w x\n",
      "patch 1 {\nfx sat {\nwave_shape tanh\n$",
      "load \"x\" $",
      "wav w {\nmap {\ndata \"p\" $",
  };
  for (const char *t : texts) {
    conf(t);
    EXPECT_FALSE(load()) << t;
    expect_empty();
  }
}

TEST_F(ConfTest, LoadNestingIsLimited) {
  conf("load \"midisyn.conf\"\n");
  EXPECT_FALSE(load());
  EXPECT_TRUE(logged("data\\midisyn.conf: load nested too deep")) << log_text();
  int loading = 0;
  for (const std::string &l : lines_)
    loading += l == "loading data\\midisyn.conf";
  EXPECT_EQ(loading, CONF_DEPTH);
  expect_empty();
}

TEST_F(ConfTest, SixteenFilesDeepIsAllowed) {
  for (int i = 1; i < CONF_DEPTH; ++i)
    put("data/f" + std::to_string(i), "load \"f" + std::to_string(i + 1) + "\"\n");
  put("data/f" + std::to_string(CONF_DEPTH), "patch 4 {\n}\n");
  conf("load \"f1\"\n");
  EXPECT_FALSE(load()); // f16 is the 17th file
  EXPECT_TRUE(logged("data\\f16: load nested too deep"));
  conf_teardown();
  put("data/f15", "patch 4 {\n}\n"); // now the 16th file
  EXPECT_TRUE(load()) << log_text();
  EXPECT_NE(patch_table[4], nullptr);
}

TEST_F(ConfTest, FanOutOfLoadsIsLimited) {
  // Each file loads the next one twice: 4095 files within 12 levels, unless
  // the count of files stops it.
  conf("load \"f1\"\nload \"f1\"\n");
  for (int i = 1; i < 11; ++i)
    put("data/f" + std::to_string(i),
        "load \"f" + std::to_string(i + 1) + "\"\nload \"f" + std::to_string(i + 1) + "\"\n");
  put("data/f11", "patch 1 {\n}\n");
  EXPECT_FALSE(load(1));
  int loading = 0;
  for (const std::string &l : lines_)
    loading += l.rfind("loading ", 0) == 0;
  EXPECT_EQ(loading, CONF_MAXFILES);
  EXPECT_TRUE(logged("data\\f11: too many files")) << log_text();
  EXPECT_TRUE(logged(CONF_DISCARDED));
  expect_empty();
}

TEST_F(ConfTest, FileCountLimitCountsEveryFileTried) {
  put("data/empty", "");
  for (const char *name : {"empty", "missing"}) {
    std::string text;
    for (int i = 1; i < CONF_MAXFILES; ++i)
      text += std::string("load \"") + name + "\"\n";
    conf(text + "patch 1 {\n}\n");
    EXPECT_TRUE(load(1)) << name; // the top-level file and 1023 more
    EXPECT_NE(patch_table[1], nullptr);
    conf_teardown();
    conf(text + "load \"" + name + "\"\npatch 1 {\n}\n");
    EXPECT_FALSE(load(1)) << name;
    EXPECT_TRUE(logged(std::string("data\\") + name + ": too many files")) << name;
    expect_empty();
    // A later set-up counts afresh.
    conf("patch 2 {\n}\n");
    EXPECT_TRUE(load(1));
    conf_teardown();
  }
}

TEST_F(ConfTest, PathTooLong) {
  const std::string name(250, 'n'); // 5 for "data\\", 1 more: above 255
  conf("load \"" + name + "\"\n");
  EXPECT_FALSE(load());
  // A log line holds at most 255 characters.
  EXPECT_TRUE(logged((name + ": path too long").substr(0, 255))) << log_text();
  expect_empty();
  // One shorter fits: the file is missing, which is no error.
  conf("load \"" + name.substr(1) + "\"\n");
  EXPECT_TRUE(load());
  EXPECT_TRUE(logged(("loading data\\" + name.substr(1)).substr(0, 255)));
}

TEST_F(ConfTest, WaveTableLimit) {
  std::string text;
  for (int i = 0; i < WAVE_MAX; ++i)
    text += "wav w" + std::to_string(i) + " {\n}\n";
  conf(text);
  ASSERT_TRUE(load());
  EXPECT_STREQ(wave_table[127]->name, "w127");
  conf_teardown();
  conf(text + "wav extra {\n}\n");
  EXPECT_FALSE(load());
  EXPECT_TRUE(logged("data\\midisyn.conf: too many waves"));
  expect_empty();
}

} // namespace
