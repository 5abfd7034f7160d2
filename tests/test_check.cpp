// The checker's warnings: volume releases that end audibly and maps played
// far above their recording.
#include <filesystem>
#include <string>
#include <vector>

#include "check_warn.h"
#include "conf_fixture.h"

namespace {

struct warn_case {
  const char *what;
  const char *map;   // the map line's ranges and its body
  const char *layer; // lines inside the layer
  const char *kind;  // "patch" or "drumkey"
  std::vector<std::string> want;
};

const warn_case WARN[] = {
    {"defaults", "key = 0:84 { data \"a\"\npitch 60\n}", "", "patch", {}},
    {"release to -20 steps", "key = 0:84 { data \"a\"\npitch 60\n}", "vol.rlevel -20", "patch",
     {"patch 5 \"p005\": layer 1: volume release ends at -7 dB: the voice stops there with a "
      "click"}},
    // A level of -127 or less is silence: the base takes the rest.
    {"release just above -90 dB", "key = 0:84 { data \"a\"\npitch 60\n}",
     "vol.base -15\nvol.rlevel -126", "patch",
     {"patch 5 \"p005\": layer 1: volume release ends at -90 dB: the voice stops there with a "
      "click"}},
    {"release below -90 dB", "key = 0:84 { data \"a\"\npitch 60\n}",
     "vol.base -17\nvol.rlevel -126", "patch", {}},
    {"a release that never ends", "key = 0:84 { data \"a\"\npitch 60\n}",
     "vol.rlevel -20\nvol.rtime 127", "patch", {}},
    {"a loud recording", "key = 0:84 { data \"a\"\npitch 60\n}", "vol.base 0\nvol.rlevel -126",
     "patch",
     {"patch 5 \"p005\": layer 1: volume release ends at -85 dB: the voice stops there with a "
      "click"}},
    {"a quiet recording", "key = 0:84 { data \"a\"\npitch 60\nvol 150\n}",
     "vol.base 0\nvol.rlevel -126", "patch", {}},
    {"high keys on one recording", "{ data \"a\"\npitch 60\n}", "", "patch",
     {"patch 5 \"p005\": layer 1: wave w: keys 85:127 play more than two octaves above their "
      "recording"}},
    {"an octave down", "{ data \"a\"\npitch 60\n}", "pitch.base 52", "patch",
     {"patch 5 \"p005\": layer 1: wave w: keys 97:127 play more than two octaves above their "
      "recording"}},
    {"half key tracking", "{ data \"a\"\npitch 60\n}", "key.pitch.base 64", "patch",
     {"patch 5 \"p005\": layer 1: wave w: keys 105:127 play more than two octaves above their "
      "recording"}},
    {"no key tracking", "key = 10:20 { data \"a\"\npitch 60\n}", "key.pitch.base 0\npitch.base 90",
     "patch",
     {"patch 5 \"p005\": layer 1: wave w: keys 10:20 play more than two octaves above their "
      "recording"}},
    {"a drum key pitched up", "{ data \"a\"\n}", "pitch.base 89", "drumkey",
     {"drumkey 5 \"k005\": layer 1: wave w: key 5 plays more than two octaves above its "
      "recording"}},
    {"a drum key is not key-tracked", "{ data \"a\"\n}", "key.pitch.base 128\npitch.base 88",
     "drumkey", {}},
};

class CheckWarn : public ConfTest, public ::testing::WithParamInterface<warn_case> {};

TEST_P(CheckWarn, Findings) {
  const warn_case &c = GetParam();
  conf(std::string("wav w {\nmap ") + c.map + "\n}\n" + c.kind + " 5 {\nlayer a {\nwav w\n" +
       c.layer + "\n}\n}\n");
  put("data/a", "");
  ASSERT_TRUE(load()) << c.what << "\n" << log_text();
  EXPECT_EQ(check_warnings(), c.want) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Layers, CheckWarn, ::testing::ValuesIn(WARN));

TEST_F(ConfTest, CheckCoversEveryMapOfEveryLayer) {
  // The second layer's second map is the one played too high.
  conf("wav lo {\nmap { data \"a\"\npitch 100\n}\n}\n"
       "wav hi {\nmap key = 0:63 { data \"a\"\npitch 40\n}\nmap key = 64:127 { data \"a\"\n"
       "pitch 60\n}\n}\n"
       "patch 0 {\nlayer a {\nwav lo\n}\nlayer b {\nwav hi\n}\n}\n");
  put("data/a", "");
  ASSERT_TRUE(load()) << log_text();
  const std::vector<std::string> want = {
      "patch 0 \"p000\": layer 1: wave lo: keys 125:127 play more than two octaves above their "
      "recording",
      "patch 0 \"p000\": layer 2: wave hi: keys 85:127 play more than two octaves above their "
      "recording"};
  EXPECT_EQ(check_warnings(), want);
}

} // namespace

namespace {

// The default instrument: over keys 21 ... 108 no layer plays a note more
// than an octave above the recording it takes (the resampler's cost grows
// with the speed), and the checker finds nothing to warn about.
TEST_F(ConfTest, DefaultInstrumentPlaysNoNoteFarAboveItsRecording) {
  const std::filesystem::path from = ORKA_INSTRUMENT_DIR;
  ASSERT_TRUE(std::filesystem::exists(from / "midisyn.conf")) << from;
  testutil::make_dirs(dir_.file("Glimra/Synth/data"));
  std::filesystem::copy(from, dir_.file("Glimra/Synth/data"),
                        std::filesystem::copy_options::recursive);
  ASSERT_TRUE(load()) << log_text();
  EXPECT_EQ(check_warnings(), std::vector<std::string>{});
  int checked = 0;
  for (int drum = 0; drum < 2; ++drum)
    for (int i = 0; i < PATCH_MAX; ++i) {
      const patch *p = (drum ? drumkey_table : patch_table)[i];
      if (!p)
        continue;
      for (const layer &l : p->layers) {
        if (l.wave < 0)
          continue;
        for (int key = drum ? i : 21; key <= (drum ? i : 108); ++key)
          for (int vel = 1; vel < 128; vel += 42) {
            const map *m = map_find(wave_table[l.wave], key, vel);
            ASSERT_NE(m, nullptr) << p->name << " key " << key;
            EXPECT_LE(check_key_pitch(l, drum, key) - m->pitch, 12 << 20)
                << p->name << " key " << key << " on " << m->path;
            ++checked;
          }
      }
    }
  EXPECT_GT(checked, 9 * 88 * 3);
}

} // namespace
