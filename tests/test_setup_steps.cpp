// Set-up of large definitions stays linear: list links followed while
// waves and maps are added, and allocator entries examined while the
// definition is released, counted rather than timed.
#include <gtest/gtest.h>
#include <string>

#include "conf_fixture.h"

namespace {

// n maps in ascending order: every key, then velocity zones, then random
// zones, as a large multi-sampled instrument is written.
std::string ascending_maps(int n) {
  std::string s = "wav big {\n";
  int made = 0;
  for (int key = 0; key < 128 && made < n; ++key)
    for (int vel = 0; vel < 128 && made < n; vel += 4)
      for (int rnd = 0; rnd < 128 && made < n; rnd += 32, ++made)
        s += "map key = " + std::to_string(key) + " vel = " + std::to_string(vel) + ":" +
             std::to_string(vel + 3) + " rnd = " + std::to_string(rnd) + ":" +
             std::to_string(rnd + 31) + " { data \"d.raw\"\n}\n";
  return s + "}\npatch 0 {\nlayer a {\nwav big\n}\n}\n";
}

using SetupSteps = ConfTest;

TEST_F(SetupSteps, MapsInOrderAreAppendedWithoutWalkingTheList) {
  constexpr int N = 6000; // a walk per map would follow about 18 million links
  put("data/d.raw", std::string(32, '\x01'));
  conf(ascending_maps(N));
  const std::size_t steps = wave_steps();
  ASSERT_TRUE(load()) << log_text();
  EXPECT_LE(wave_steps() - steps, std::size_t{N});
  ASSERT_NE(wave_table[0], nullptr);
  // Releasing the definition: a few allocator entries per block.
  const std::size_t live = xmem_count() - baseline_;
  EXPECT_GE(live, std::size_t{3 * N}); // each map, its path and its samples
  const std::size_t probes = xmem_probes();
  conf_teardown();
  EXPECT_LE(xmem_probes() - probes, 4 * live) << "per block: " << double(xmem_probes() - probes) / live;
}

TEST_F(SetupSteps, WavesAreAppendedWithoutWalkingTheList) {
  constexpr int N = 6000;
  conf_init();
  const std::size_t steps = wave_steps();
  for (int i = 0; i < N; ++i) {
    wave *w = wave_new(("w" + std::to_string(i)).c_str());
    map *m = map_new();
    ASSERT_TRUE(wave_addmap(w, m));
  }
  EXPECT_LE(wave_steps() - steps, std::size_t{N});
  EXPECT_EQ(wave_count(), N);
  conf_done();
  wave_free_all();
}

} // namespace
