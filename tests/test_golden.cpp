// Golden renders: fixed scenes played through the engine library's module
// table with the default instrument, every 4096 output frames hashed and
// compared with committed values.  The same values hold on every platform
// and for every block size, so a change that moves one output bit fails
// here.  A deliberate change of behaviour regenerates the values, in a
// commit of its own that says why:
//   ORKA_GOLDEN_WRITE=$PWD/tests/data/golden.txt build/tests/test_golden
// (run from the build folder's parent; the test then passes and writes).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "golden_scenes.h"
#include "orka/orka.h"
#include "platform/os.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

// The engine library, loaded afresh for every scene so that each starts
// from the library's initial state (its shared random generator
// included), whatever ran before it.
class engine {
public:
  engine() {
    lib_ = os_dlopen(testutil::u16(ORKA_LIB).data());
    if (!lib_)
      return;
    auto entry = reinterpret_cast<orka_entry_fn>(os_dlsym(lib_, "orka_entry"));
    const orka_ui *ui = nullptr;
    if (entry)
      entry(&mod_, &ui);
    if (mod_)
      mod_->init();
  }
  ~engine() {
    if (mod_)
      mod_->done();
    if (lib_)
      os_dlclose(lib_);
  }
  engine(const engine &) = delete;
  engine &operator=(const engine &) = delete;
  const orka_module *mod() const { return mod_; }

private:
  void *lib_ = nullptr;
  const orka_module *mod_ = nullptr;
};

int ctl_index(const orka_module *m, const std::string &name) {
  orka_info info{};
  m->info(&info);
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    m->ctlinfo(i, &ci);
    if (name == ci.name)
      return i;
  }
  return -1;
}

int patch_values() {
  engine e;
  if (!e.mod())
    return 0;
  orka_ctlinfo ci{};
  e.mod()->ctlinfo(0, &ci);
  return ci.nvals;
}

// Plays a scene as the plug-in drives the engine (start, every control at
// its default, reset), with blocks of at most `block` frames, cut where a
// step falls; returns the hashes, or an empty list after a failure.
std::vector<std::uint64_t> render(const golden_scene &sc, int block) {
  engine e;
  const orka_module *m = e.mod();
  if (!m) {
    ADD_FAILURE() << "engine library did not load: " << ORKA_LIB;
    return {};
  }
  void *s = m->new_(nullptr, nullptr);
  EXPECT_EQ(m->start(s, sc.rateidx, block), 1);
  orka_info info{};
  m->info(&info);
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    m->ctlinfo(i, &ci);
    m->onctl(s, i, ci.def);
  }
  m->reset(s);
  golden_hasher h;
  std::vector<std::int32_t> l(static_cast<std::size_t>(block)), r(l.size());
  for (const golden_step &st : sc.steps) {
    switch (st.what) {
    case golden_step::MIDI: m->midi(s, st.bytes.data(), static_cast<int>(st.bytes.size())); break;
    case golden_step::CTL: {
      const int i = ctl_index(m, st.ctl);
      int v = st.value;
      EXPECT_GE(i, 0) << sc.name << ": no control " << st.ctl;
      if (i >= 0 && !st.text.empty()) {
        EXPECT_EQ(m->scanval(i, &v, st.text.c_str()), 1) << sc.name << ": " << st.ctl << " " << st.text;
      }
      if (i >= 0)
        m->onctl(s, i, v);
      break;
    }
    case golden_step::RUN:
      for (int left = st.value; left > 0;) {
        const int n = left < block ? left : block;
        std::fill(l.begin(), l.end(), 0);
        std::fill(r.begin(), r.end(), 0);
        std::int32_t *out[2] = {l.data(), r.data()};
        m->run(s, nullptr, out, n);
        h.add(l.data(), r.data(), n);
        left -= n;
      }
      break;
    }
  }
  m->stop(s);
  m->del(s);
  return h.finish();
}

std::string hex(std::uint64_t v) {
  char b[17];
  std::snprintf(b, sizeof b, "%016" PRIx64, v);
  return b;
}

// The committed values: one line per scene, its name then its hashes.
std::map<std::string, std::vector<std::string>> read_golden(const std::string &path) {
  std::map<std::string, std::vector<std::string>> g;
  std::istringstream in(testutil::read_file(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream w(line);
    std::string name, v;
    w >> name;
    while (w >> v)
      g[name].push_back(v);
  }
  return g;
}

class Golden : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // An installation of the default instrument for the engine to read.
    dir_ = new testutil::tempdir;
    const fs::path data = fs::path(dir_->path()) / "Glimra" / "Synth" / "data";
    fs::create_directories(data);
    fs::copy(ORKA_INSTRUMENT, data, fs::copy_options::recursive);
    testutil::set_env("PROGRAMFILES", dir_->path().c_str());
    testutil::set_env("APPDATA", dir_->path().c_str()); // no log folder there: logging off
  }
  static void TearDownTestSuite() {
    testutil::set_env("PROGRAMFILES", nullptr);
    testutil::set_env("APPDATA", nullptr);
    delete dir_;
  }
  static testutil::tempdir *dir_;
};
testutil::tempdir *Golden::dir_ = nullptr;

TEST_F(Golden, EveryScenePlaysItsCommittedBits) {
  const int patches = patch_values();
  ASSERT_GT(patches, 1) << "the default instrument did not load";
  const auto scenes = golden_scenes(patches);
  const char *write = std::getenv("ORKA_GOLDEN_WRITE");
  if (write && *write) {
    std::ofstream out(write, std::ios::binary);
    out << "# Golden renders of tests/golden_scenes.cpp: scene, then a hash of every 4096 frames.\n"
           "# Regenerated only for a deliberate change of behaviour (see tests/test_golden.cpp).\n";
    for (const golden_scene &sc : scenes) {
      out << sc.name;
      for (std::uint64_t v : render(sc, sc.block))
        out << ' ' << hex(v);
      out << '\n';
    }
    ASSERT_TRUE(out.good()) << write;
    return;
  }
  const auto golden = read_golden(ORKA_GOLDEN);
  ASSERT_FALSE(golden.empty()) << ORKA_GOLDEN;
  for (const golden_scene &sc : scenes) {
    const auto it = golden.find(sc.name);
    if (it == golden.end()) {
      ADD_FAILURE() << sc.name << ": no committed values (regenerate tests/data/golden.txt)";
      continue;
    }
    const auto got = render(sc, sc.block);
    const std::size_t n = std::min(got.size(), it->second.size());
    std::size_t first = 0;
    while (first < n && hex(got[first]) == it->second[first])
      ++first;
    EXPECT_TRUE(first == n && got.size() == it->second.size())
        << sc.name << ": output differs from frame " << first * 4096 << " ("
        << static_cast<double>(first * 4096) / sc.rate() << " s); " << got.size() << " windows, "
        << it->second.size() << " committed";
  }
}

// The same bits whatever the block size: a few scenes again with other
// largest blocks (events still fall between blocks at the same frames).
TEST_F(Golden, BlockSizeDoesNotMoveABit) {
  const auto scenes = golden_scenes(patch_values());
  for (const golden_scene &sc : scenes) {
    if (sc.name != "programs" && sc.name != "effects" && sc.name != "long_48000")
      continue;
    const auto want = render(sc, sc.block);
    for (int block : {1 + sc.block / 3, 4096})
      EXPECT_EQ(render(sc, block), want) << sc.name << " with blocks of " << block;
  }
}

// Each scene starts from the library's initial state: playing one twice,
// with another in between, gives the same bits.
TEST_F(Golden, ScenesDoNotDependOnWhatRanBefore) {
  const auto scenes = golden_scenes(patch_values());
  const golden_scene *drums = &scenes.front(), *poly = drums;
  for (const golden_scene &sc : scenes) {
    if (sc.name == "patch_" + std::to_string(patch_values() - 1))
      drums = &sc; // the kit's snare picks its zone at random
    if (sc.name == "polyphony")
      poly = &sc;
  }
  const auto first = render(*drums, drums->block);
  render(*poly, poly->block);
  EXPECT_EQ(render(*drums, drums->block), first);
}

TEST(GoldenHasher, WindowsDoNotDependOnTheSplit) {
  std::vector<std::int32_t> l(10000), r(10000);
  for (int i = 0; i < 10000; ++i) {
    l[static_cast<std::size_t>(i)] = i * 7919 - 5000000;
    r[static_cast<std::size_t>(i)] = -i;
  }
  golden_hasher a, b;
  a.add(l.data(), r.data(), 10000);
  for (int at = 0; at < 10000; at += 999)
    b.add(l.data() + at, r.data() + at, std::min(999, 10000 - at));
  const auto ha = a.finish();
  EXPECT_EQ(ha.size(), 3u); // two whole windows and the rest
  EXPECT_EQ(ha, b.finish());
  r[5000] ^= 1 << 20; // one bit in the second window
  golden_hasher c;
  c.add(l.data(), r.data(), 10000);
  const auto hc = c.finish();
  EXPECT_EQ(hc[0], ha[0]);
  EXPECT_NE(hc[1], ha[1]);
  EXPECT_EQ(hc[2], ha[2]);
}

} // namespace
