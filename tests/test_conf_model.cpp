// The patch and map model: defaults, parameter adjustments, dependency
// capacity, map ordering and lookups.
#include <cstdio>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <utility>
#include <vector>

#include "saturator/sat.h"
#include "synth/conf/conf.h"
#include "synth/patch/patch.h"
#include "synth/wave/wave.h"
#include "utils/alloc.h"

namespace {

constexpr std::int32_t Q = 1 << 20;

class Model : public ::testing::Test {
protected:
  void SetUp() override {
    baseline_ = xmem_count();
    conf_init();
  }
  void TearDown() override {
    conf_done();
    wave_free_all();
    EXPECT_EQ(xmem_count(), baseline_);
  }
  std::size_t baseline_ = 0;
};

int deps_in_use(const layer &l) {
  int n = 0;
  for (const layer_dep &d : l.deps)
    n += d.amount != 0;
  return n;
}

TEST_F(Model, PatchDefaults) {
  patch *p = patch_new(5);
  EXPECT_STREQ(p->name, "p005");
  EXPECT_EQ(p->tempo, 500000);
  EXPECT_EQ(p->ckey, -1);
  EXPECT_EQ(p->effect, -1);
  ASSERT_EQ(fx_nctls, 5);
  for (int i = 0; i < fx_nctls; ++i)
    EXPECT_EQ(p->fxctl[i], CONF_UNSET);
  struct row {
    int slot;
    std::int32_t value;
  };
  const row rows[] = {
      {PAR_PITCH + MOD_BASE, 64 * Q}, {PAR_PITCH + MOD_ILEVEL, 0},
      {PAR_PITCH + MOD_ATIME, -1},    {PAR_PITCH + MOD_LFOTIME, 67 * Q},
      {PAR_VOL + MOD_BASE, 127 * Q},  {PAR_VOL + MOD_ILEVEL, PAR_OFF},
      {PAR_VOL + MOD_ALEVEL, 0},      {PAR_VOL + MOD_RLEVEL, PAR_OFF},
      {PAR_VOL + MOD_RTIME, -1},      {PAR_CUT + MOD_BASE, 64 * Q},
      {PAR_RES + MOD_BASE, 0},        {PAR_RES + MOD_ILEVEL, PAR_OFF},
      {PAR_RES + MOD_RLEVEL, 0},      {PAR_PAN + MOD_BASE, 64 * Q},
      {PAR_PAN + MOD_ILEVEL, 64 * Q}, {PAR_PAN + MOD_RLEVEL, 0},
      {PAR_PAN + MOD_STIME, -1},      {PAR_PAN + MOD_LFOTYPE, 0},
      {PAR_PAN + 15, 0},
  };
  for (const layer &l : p->layers) {
    EXPECT_EQ(l.wave, -1);
    for (const row &r : rows)
      EXPECT_EQ(l.par[r.slot], r.value) << "slot " << r.slot;
    EXPECT_EQ(l.release, 0);
    EXPECT_EQ(l.shape[1], 0);
    EXPECT_EQ(l.shape[2], 127);
    EXPECT_EQ(deps_in_use(l), 5);
    EXPECT_EQ(l.deps[0].source, SRC_KEY);
    EXPECT_EQ(l.deps[0].amount, 128 * Q);
    EXPECT_EQ(l.deps[3].source, SRC_BEND);
    EXPECT_EQ(l.deps[3].amount, 2 * Q);
    EXPECT_EQ(l.deps[4].slot, PAR_PITCH + MOD_LFO);
    EXPECT_EQ(l.deps[7].source, CONF_UNSET);
  }
  EXPECT_EQ(patch_table[5], p);
}

TEST_F(Model, DrumKeyDefaultsAndReplacement) {
  patch *k = drumkey_new(36);
  EXPECT_STREQ(k->name, "k036");
  for (const layer &l : k->layers) {
    EXPECT_EQ(l.release, 1);
    EXPECT_EQ(deps_in_use(l), 1);
    EXPECT_EQ(l.deps[0].source, SRC_VEL);
    EXPECT_EQ(l.deps[0].amount, Q);
  }
  k->ckey = 9;
  const std::size_t live = xmem_count();
  patch *k2 = drumkey_new(36);
  EXPECT_EQ(xmem_count(), live); // the first one was released
  EXPECT_EQ(drumkey_table[36], k2);
  EXPECT_EQ(k2->ckey, -1);
  EXPECT_EQ(patch_table[36], nullptr);
}

struct names_case {
  const char *what;
  // Patches in the order they are defined: program, name (null: default).
  std::vector<std::pair<int, const char *>> defs;
  // Expected names afterwards, by program.
  std::vector<std::pair<int, std::string>> want;
  int renamed;
};

const std::string N46(46, 'n');

const names_case NAMES[] = {
    {"distinct names stay", {{5, "A"}, {9, "B"}, {7, nullptr}}, {{5, "A"}, {9, "B"}, {7, "p007"}}, 0},
    {"a later duplicate gets its program", {{9, "Piano"}, {5, "Piano"}},
     {{9, "Piano"}, {5, "Piano 5"}}, 1},
    {"three alike", {{1, "X"}, {2, "X"}, {3, "X"}}, {{1, "X"}, {2, "X 2"}, {3, "X 3"}}, 2},
    {"a default name taken by hand", {{7, nullptr}, {8, "p007"}}, {{7, "p007"}, {8, "p007 8"}}, 1},
    {"the new name is taken too", {{3, "A 9"}, {5, "A"}, {9, "A"}},
     {{3, "A 9"}, {5, "A"}, {9, "A 9-2"}}, 1},
    {"the drum kit's entry is taken", {{4, "Percussions"}}, {{4, "Percussions 4"}}, 1},
    {"a long name is cut to make room", {{1, N46.c_str()}, {100, N46.c_str()}},
     {{1, N46}, {100, std::string(42, 'n') + " 100"}}, 1},
    {"a replaced patch no longer counts", {{5, "A"}, {6, "A"}, {5, "B"}}, {{5, "B"}, {6, "A"}}, 0},
};

class UniqueNames : public Model, public ::testing::WithParamInterface<names_case> {};

TEST_P(UniqueNames, LaterDuplicatesRenamed) {
  const names_case &c = GetParam();
  for (const auto &[prog, name] : c.defs) {
    patch *p = patch_new(prog);
    if (name)
      std::snprintf(p->name, sizeof p->name, "%s", name);
  }
  drumkey_new(36); // drum keys take part in nothing: their names are no selector values
  std::snprintf(drumkey_table[36]->name, sizeof drumkey_table[36]->name, "A");
  EXPECT_EQ(patch_unique_names(), c.renamed) << c.what;
  for (const auto &[prog, name] : c.want)
    EXPECT_EQ(patch_table[prog]->name, name) << c.what;
  EXPECT_STREQ(drumkey_table[36]->name, "A");
}

INSTANTIATE_TEST_SUITE_P(Patches, UniqueNames, ::testing::ValuesIn(NAMES));

TEST_F(Model, CutNamesKeepWholeCharacters) {
  // Room for 43 bytes before " 12" ends inside the two-byte character.
  const std::string name = std::string(42, 'a') + "\xc3\xa9" + "b";
  patch_new(1);
  patch_new(12);
  std::snprintf(patch_table[1]->name, sizeof patch_table[1]->name, "%s", name.c_str());
  std::snprintf(patch_table[12]->name, sizeof patch_table[12]->name, "%s", name.c_str());
  EXPECT_EQ(patch_unique_names(), 1);
  EXPECT_EQ(std::string(patch_table[12]->name), std::string(42, 'a') + " 12");
}

TEST_F(Model, SetparAdjustments) {
  struct row {
    int slot;
    std::int32_t in, stored;
  };
  const row rows[] = {
      {PAR_VOL + MOD_BASE, -127 * Q, PAR_OFF},
      {PAR_VOL + MOD_BASE, -200 * Q, PAR_OFF},
      {PAR_VOL + MOD_BASE, -126 * Q, -126 * Q},
      {PAR_VOL + MOD_SLEVEL, -127 * Q, PAR_OFF},
      {PAR_VOL + MOD_RLEVEL, -127 * Q - 5, PAR_OFF},
      {PAR_VOL + MOD_LFO, -127 * Q, -127 * Q},   // not a level
      {PAR_PITCH + MOD_BASE, -127 * Q, -127 * Q}, // not vol
      {PAR_PITCH + MOD_ATIME, 0, -1},
      {PAR_PITCH + MOD_ATIME, 127 * Q, 133169153},
      {PAR_PITCH + MOD_ATIME, 126 * Q, 126 * Q},
      {PAR_PAN + MOD_RTIME, 0, -1},
      {PAR_CUT + MOD_DTIME, 127 * Q, 133169153},
      {PAR_RES + MOD_STIME, 5, 5},
      {PAR_VOL + MOD_RTIME, 0, -1},
      {PAR_PITCH + MOD_BASE, 0, 0},
      {PAR_PITCH + MOD_LFOTIME, 0, 0},
      {PAR_PITCH + MOD_LFOTICKS, 127 * Q, 127 * Q},
  };
  patch *p = patch_new(0);
  for (const row &r : rows) {
    layer_setpar(&p->layers[0], r.slot, r.in);
    EXPECT_EQ(p->layers[0].par[r.slot], r.stored) << "slot " << r.slot << " value " << r.in;
  }
}

TEST_F(Model, SetdepCapacity) {
  layer &l = patch_new(0)->layers[0];
  EXPECT_TRUE(layer_setdep(&l, SRC_KEY, PAR_PITCH, 64 * Q));
  EXPECT_EQ(l.deps[0].amount, 64 * Q);
  EXPECT_EQ(deps_in_use(l), 5);
  EXPECT_TRUE(layer_setdep(&l, SRC_CAT, PAR_CUT, 0)); // nothing to clear
  EXPECT_EQ(deps_in_use(l), 5);
  EXPECT_TRUE(layer_setdep(&l, SRC_CAT, PAR_CUT, Q));
  EXPECT_TRUE(layer_setdep(&l, SRC_CAT, PAR_RES, Q));
  EXPECT_TRUE(layer_setdep(&l, SRC_CAT, PAR_PAN, Q));
  EXPECT_FALSE(layer_setdep(&l, SRC_MOD, PAR_PAN, Q));
  EXPECT_TRUE(layer_setdep(&l, SRC_CAT, PAR_PAN, 2 * Q)); // existing pairs still change
  // Clearing an entry makes room again.
  EXPECT_TRUE(layer_setdep(&l, SRC_EXPR, PAR_VOL, 0));
  EXPECT_TRUE(layer_setdep(&l, SRC_MOD, PAR_PAN, Q));
  EXPECT_EQ(deps_in_use(l), 8);

  layer &d = drumkey_new(1)->layers[2];
  for (int i = 0; i < 7; ++i)
    EXPECT_TRUE(layer_setdep(&d, SRC_KEY, i, Q)) << i;
  EXPECT_FALSE(layer_setdep(&d, SRC_KEY, 7, Q));
}

TEST_F(Model, AddLayerAndEffect) {
  patch *p = patch_new(1);
  layer *a = patch_addlayer(p);
  EXPECT_EQ(a, &p->layers[0]);
  EXPECT_EQ(patch_addlayer(p), a); // still free without a wave
  for (layer &l : p->layers)
    l.wave = 0;
  EXPECT_EQ(patch_addlayer(p), nullptr);

  EXPECT_EQ(patch_setfx(p, "chorus"), nullptr);
  EXPECT_EQ(p->effect, -1);
  const orka_module *m = patch_setfx(p, "sat");
  ASSERT_EQ(m, &SAT_MODULE);
  EXPECT_EQ(p->effect, 0);
  for (int i = 0; i < fx_nctls; ++i) {
    orka_ctlinfo ci{};
    m->ctlinfo(i, &ci);
    EXPECT_EQ(p->fxctl[i], ci.def);
  }
  EXPECT_EQ(p->fxctl[fx_ctlbyname(m, "level")], 127);
  EXPECT_EQ(fx_ctlbyname(m, "Level"), -1);
  const int shape = fx_ctlbyname(m, "wave_shape");
  EXPECT_EQ(fx_ctltype(m, shape), ORKA_CTL_SEL);
  EXPECT_EQ(fx_selbyname(m, shape, "hard_66"), 14);
  EXPECT_EQ(fx_selbyname(m, shape, "hard"), -1);
}

struct rng {
  int keylo, keyhi, vello, velhi, rndlo, rndhi;
};

map *make_map(const rng &r) {
  map *m = map_new();
  m->keylo = r.keylo;
  m->keyhi = r.keyhi;
  m->vello = r.vello;
  m->velhi = r.velhi;
  m->rndlo = r.rndlo;
  m->rndhi = r.rndhi;
  return m;
}

struct addmap_case {
  const char *what;
  rng first, second;
  bool accepted;
  bool second_first; // expected list order when accepted
};

const addmap_case ADDMAP[] = {
    {"keys apart", {60, 127, 0, 127, 0, 127}, {0, 59, 0, 127, 0, 127}, true, true},
    {"keys after", {0, 59, 0, 127, 0, 127}, {60, 127, 0, 127, 0, 127}, true, false},
    {"keys overlap", {64, 80, 0, 127, 0, 127}, {60, 72, 0, 127, 0, 127}, false, false},
    {"keys share low, vel apart", {60, 72, 64, 127, 0, 127}, {60, 80, 0, 63, 0, 127}, true, true},
    {"keys share high, vel apart", {60, 72, 0, 63, 0, 127}, {50, 72, 64, 127, 0, 127}, true, false},
    {"vel overlap", {60, 72, 0, 80, 0, 127}, {60, 72, 40, 127, 0, 127}, false, false},
    {"vel share, rnd apart", {60, 72, 0, 127, 0, 63}, {60, 72, 0, 127, 64, 127}, true, false},
    {"rnd share a bound", {60, 72, 0, 127, 0, 63}, {60, 72, 0, 127, 0, 20}, false, false},
    {"identical", {60, 72, 0, 127, 0, 127}, {60, 72, 0, 127, 0, 127}, false, false},
};

class AddMap : public Model, public ::testing::WithParamInterface<addmap_case> {};

TEST_P(AddMap, OrderAndRefusal) {
  const addmap_case &c = GetParam();
  wave *w = wave_new("w");
  map *a = make_map(c.first);
  map *b = make_map(c.second);
  ASSERT_TRUE(wave_addmap(w, a));
  ASSERT_EQ(wave_addmap(w, b), c.accepted) << c.what;
  if (!c.accepted) {
    EXPECT_EQ(w->maps, a);
    EXPECT_EQ(a->right, nullptr);
    map_delete(b);
    return;
  }
  EXPECT_EQ(w->maps, c.second_first ? b : a) << c.what;
  EXPECT_EQ(w->maps->right, c.second_first ? a : b) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Ranges, AddMap, ::testing::ValuesIn(ADDMAP));

// The ordering rules applied by walking the whole list, as a reference for
// wave_addmap, which skips the walk when a map sorts after all others.
int ref_compare(int rlo, int rhi, int mlo, int mhi) {
  if (rhi < mlo)
    return 1; // m above r
  if (rlo > mhi)
    return -1; // m below r
  return rlo == mlo || rhi == mhi ? 0 : 2;
}

bool ref_insert(std::vector<rng> &list, const rng &m) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    const rng &r = list[i];
    int o = ref_compare(r.keylo, r.keyhi, m.keylo, m.keyhi);
    if (o == 0)
      o = ref_compare(r.vello, r.velhi, m.vello, m.velhi);
    if (o == 0)
      o = ref_compare(r.rndlo, r.rndhi, m.rndlo, m.rndhi);
    if (o == -1) {
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(i), m);
      return true;
    }
    if (o != 1)
      return false;
  }
  list.push_back(m);
  return true;
}

TEST_F(Model, AddMapMatchesTheFullWalk) {
  // Each range from the one before: the same, sharing a bound, touching or
  // just after it (the shortcut's case), or anywhere, inverted included, so
  // that shared bounds and clashes are common.
  std::uint32_t seed = 99;
  auto next = [&](int n) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 8) % static_cast<unsigned>(n));
  };
  auto range = [&](int plo, int phi, int *lo, int *hi) {
    switch (next(5)) {
    case 0: *lo = plo; *hi = phi; break;
    case 1: *lo = plo; *hi = plo + next(4); break;
    case 2: *hi = phi; *lo = phi - next(4); break;
    case 3: *lo = phi + next(3); *hi = *lo + next(3); break;
    default: *lo = next(12); *hi = next(12); break;
    }
  };
  for (int trial = 0; trial < 3000; ++trial) {
    wave *w = wave_new("w");
    std::vector<rng> want;
    rng r{0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 30; ++i) {
      range(r.keylo, r.keyhi, &r.keylo, &r.keyhi);
      range(r.vello, r.velhi, &r.vello, &r.velhi);
      range(r.rndlo, r.rndhi, &r.rndlo, &r.rndhi);
      map *m = make_map(r);
      const bool ok = ref_insert(want, r);
      ASSERT_EQ(wave_addmap(w, m), ok) << "trial " << trial << " map " << i;
      if (!ok)
        map_delete(m);
    }
    std::size_t i = 0;
    for (const map *m = w->maps; m; m = m->right, ++i) {
      ASSERT_LT(i, want.size());
      const rng &x = want[i];
      ASSERT_TRUE(m->keylo == x.keylo && m->keyhi == x.keyhi && m->vello == x.vello &&
                  m->velhi == x.velhi && m->rndlo == x.rndlo && m->rndhi == x.rndhi)
          << "trial " << trial << " position " << i;
    }
    EXPECT_EQ(i, want.size());
    wave_free_all();
  }
}

void *free_all_waves(void *) {
  wave_free_all();
  return nullptr;
}

TEST_F(Model, LongMapListsAreFreedWithoutDeepRecursion) {
  // A definition in error is freed while its maps are still a list: one
  // call level per map would overflow the stack of a host's thread.
  wave *w = wave_new("long");
  map **link = &w->maps;
  for (int i = 0; i < (1 << 16); ++i) {
    *link = map_new();
    link = &(*link)->right;
  }
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t t;
  ASSERT_EQ(pthread_create(&t, &attr, free_all_waves, nullptr), 0);
  ASSERT_EQ(pthread_join(t, nullptr), 0);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(wave_list, nullptr);
}

TEST_F(Model, InsertsInTheMiddle) {
  wave *w = wave_new("w");
  map *m[3] = {make_map({0, 9, 0, 127, 0, 127}), make_map({20, 29, 0, 127, 0, 127}),
               make_map({10, 19, 0, 127, 0, 127})};
  for (map *x : m)
    ASSERT_TRUE(wave_addmap(w, x));
  EXPECT_EQ(w->maps, m[0]);
  EXPECT_EQ(m[0]->right, m[2]);
  EXPECT_EQ(m[2]->right, m[1]);
}

TEST_F(Model, FindAlternatesBetweenRandomRanges) {
  wave *w = wave_new("w");
  map *a = make_map({60, 72, 0, 127, 0, 63});
  map *b = make_map({60, 72, 0, 127, 64, 127});
  map *c = make_map({0, 59, 0, 127, 0, 127});
  ASSERT_TRUE(wave_addmap(w, a));
  ASSERT_TRUE(wave_addmap(w, b));
  ASSERT_TRUE(wave_addmap(w, c));
  ASSERT_TRUE(wave_load(w)); // no data paths: only the tree is built
  rnd_state = 12345;
  int na = 0, nb = 0;
  for (int i = 0; i < 10000; ++i) {
    const map *m = map_find(w, 64, 100);
    na += m == a;
    nb += m == b;
  }
  EXPECT_EQ(na + nb, 10000);
  EXPECT_GT(na, 4500);
  EXPECT_GT(nb, 4500);
  EXPECT_EQ(map_find(w, 10, 1), c);
  // A key nothing covers: none, and the generator still steps.
  const std::uint32_t before = rnd_state;
  EXPECT_EQ(map_find(w, 73, 64), nullptr);
  EXPECT_NE(rnd_state, before);
}

TEST_F(Model, FindWithVelocityZones) {
  wave *w = wave_new("w");
  map *soft = make_map({0, 127, 0, 63, 0, 127});
  map *loud = make_map({0, 127, 64, 127, 0, 127});
  ASSERT_TRUE(wave_addmap(w, loud));
  ASSERT_TRUE(wave_addmap(w, soft));
  ASSERT_TRUE(wave_load(w));
  for (int v = 0; v < 128; ++v)
    EXPECT_EQ(map_find(w, 50, v), v < 64 ? soft : loud) << v;
}

TEST_F(Model, WaveWithoutMaps) {
  wave *w = wave_new("empty");
  ASSERT_TRUE(wave_load(w));
  EXPECT_EQ(w->maps, nullptr);
  EXPECT_EQ(map_find(w, 60, 60), nullptr);
}

TEST_F(Model, WaveFindTakesTheFirst) {
  wave_new("a");
  wave_new("b");
  wave_new("a");
  EXPECT_EQ(wave_find("a"), 0);
  EXPECT_EQ(wave_find("b"), 1);
  EXPECT_EQ(wave_find("c"), -1);
  EXPECT_EQ(wave_count(), 3);
}

} // namespace
