// Debian's General MIDI bank imported and playing the demo piece: every
// program of the demo in tune, no channel silent.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>

#include "import/imp_model.h"
#include "import/imp_write.h"
#include "import_rig.h"
#include "render/smf.h"
#include "synth/conf/conf.h"
#include "utils/appdata.h"

using namespace testutil;

namespace {

constexpr const char *GM_BANK = "/usr/share/sounds/sf2/TimGM6mb.sf2";

double rms(const std::vector<float> &v) {
  double s = 0;
  for (float x : v)
    s += static_cast<double>(x) * x;
  return v.empty() ? 0 : std::sqrt(s / static_cast<double>(v.size()));
}

TEST(ImportGm, DemoPlaysInTune) {
  if (!std::filesystem::exists(GM_BANK))
    GTEST_SKIP() << GM_BANK << " is not installed (scripts/setup.sh installs it)";
  tempdir dir;
  const auto t0 = std::chrono::steady_clock::now();
  imp_bank bank;
  std::string err;
  ASSERT_TRUE(imp_read_bank(GM_BANK, &bank, &err)) << err;
  const def_instrument inst = imp_convert(bank, imp_options{});
  const std::string data = dir.path() + "/inst/data";
  ASSERT_TRUE(imp_write(inst, bank, data, "TimGM6mb.sf2", nullptr, &err)) << err;
  ASSERT_TRUE(imp_check(data, &err)) << err;
  std::printf("import: %.2f s, %zu patches and drum keys, sample memory %.1f MB, %zu warnings\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
              inst.patches.size(), static_cast<double>(inst.sample_bytes()) / 1e6, inst.warnings.size());
  appdata_set_installdir((dir.path() + "/inst").c_str());
  ASSERT_TRUE(conf_setup());

  smf_file demo;
  ASSERT_TRUE(smf_read("demo.mid", &demo, &err)) << err;
  // Each channel's programs, with the first key each plays and the ticks
  // from its program change on.
  struct use {
    int channel, program, key = -1;
    std::uint64_t from = 0;
  };
  std::vector<use> uses;
  std::map<int, int> current; // channel -> index into uses
  for (const smf_event &e : demo.events) {
    if (e.bytes.empty())
      continue;
    const int st = e.bytes[0] & 0xF0, ch = e.bytes[0] & 0x0F;
    if (st == 0xC0 || (st == 0x90 && ch == 9 && !current.count(ch))) {
      uses.push_back({ch, st == 0xC0 ? e.bytes[1] : -1, -1, e.tick});
      current[ch] = static_cast<int>(uses.size()) - 1;
    }
    if (st == 0x90 && e.bytes[2] > 0 && current.count(ch)) {
      use &u = uses[static_cast<std::size_t>(current[ch])];
      if (u.key < 0) {
        u.key = e.bytes[1];
        u.from = e.tick;
      }
    }
  }
  ASSERT_GE(uses.size(), 6u) << "the demo's five programs and its drums";

  import_rig rig(data);
  ASSERT_TRUE(rig.ok()) << rig.error();
  for (const use &u : uses) {
    ASSERT_GE(u.key, 0);
    // A short excerpt of the channel from the use's first note: it sounds.
    smf_track t;
    if (u.program >= 0)
      t.add(0, {static_cast<unsigned char>(0xC0 | u.channel), static_cast<unsigned char>(u.program)});
    for (const smf_event &e : demo.events)
      if (!e.bytes.empty() && e.bytes[0] < 0xF0 && (e.bytes[0] & 0x0F) == u.channel &&
          (e.bytes[0] & 0xF0) != 0xC0 && e.tick >= u.from && e.tick < u.from + 3 * demo.division)
        t.add(e.tick - u.from + 10, e.bytes);
    const std::vector<float> part = rig.render({t});
    EXPECT_GT(rms(part), 1e-3) << "channel " << u.channel + 1 << " program " << u.program << " is silent";
    if (u.program < 0)
      continue; // drums have no pitch to hold
    // The program's first key held alone: its fundamental within 5 cents.
    const std::vector<float> held = rig.note(u.program, u.key, 1.2);
    const double f = pitch_of(held, 12000, 24000, 48000);
    const double want = 440.0 * std::pow(2.0, (u.key - 69) / 12.0);
    std::printf("program %3d key %d: %+.1f cents\n", u.program, u.key, 1200 * std::log2(f / want));
    EXPECT_NEAR(1200 * std::log2(f / want), 0, 5)
        << "program " << u.program << " key " << u.key << ": " << f << " Hz";
  }
  conf_teardown();
  appdata_set_installdir(nullptr);
}

} // namespace
