// Checked allocator, pools and the shared generator.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

#include "synth/pool/pool.h"
#include "testutil.h"
#include "utils/alloc.h"
#include "utils/log.h"

namespace {
std::uint32_t lcg(std::uint32_t s) { return s * 1664525u + 1013904223u; }
} // namespace

TEST(Random, StepsAndFill) {
  std::uint32_t s = rnd_state;
  EXPECT_EQ(rnd_step(), lcg(s));
  s = rnd_state;
  unsigned char b[5];
  rnd_fill(b, sizeof b);
  for (unsigned char x : b) {
    s = lcg(s);
    EXPECT_EQ(x, s >> 24);
  }
  EXPECT_EQ(rnd_state.load(), s);
}

TEST(Random, ThreadsStepOneSequenceWithoutLosingSteps) {
  // Audio threads of several instances step the one generator at once:
  // every step must advance it, so after all of them the state is the one
  // that as many steps in a row give, and no two callers got the same value.
  constexpr int STEPS = 300000;
  for (int round = 0; round < 10; ++round) {
    std::uint32_t want = rnd_state;
    for (int i = 0; i < 2 * STEPS; ++i)
      want = lcg(want);
    std::atomic<int> ready{0};
    std::vector<std::uint32_t> got[2];
    auto stepper = [&](int t) {
      got[t].resize(STEPS);
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      for (std::uint32_t &v : got[t])
        v = rnd_step();
    };
    std::thread a(stepper, 0), b(stepper, 1);
    a.join();
    b.join();
    ASSERT_EQ(rnd_state.load(), want) << "round " << round;
    std::vector<std::uint32_t> all(got[0]);
    all.insert(all.end(), got[1].begin(), got[1].end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "round " << round;
  }
}

TEST(Alloc, FreshBlocksAreFilledAndGuardedFromTheGenerator) {
  std::uint32_t s = rnd_state;
  auto *a = static_cast<unsigned char *>(xmalloc(37, "t:1"));
  auto *b = static_cast<unsigned char *>(xmalloc(3, "t:2"));
  // A block left unfilled for a file read takes its guard the same way.
  auto *c = static_cast<unsigned char *>(xmalloc_unfilled(5, "t:3"));
  for (int i = 0; i < 37; ++i)
    ASSERT_EQ(a[i], 0xD0);
  // 24 consecutive steps make the three guards, each copied behind the data
  unsigned char want[24];
  for (unsigned char &w : want)
    w = static_cast<unsigned char>((s = lcg(s)) >> 24);
  EXPECT_EQ(std::memcmp(a - 8, want, 8), 0);
  EXPECT_EQ(std::memcmp(a + 37, want, 8), 0);
  EXPECT_EQ(std::memcmp(b - 8, want + 8, 8), 0);
  EXPECT_EQ(std::memcmp(b + 3, want + 8, 8), 0);
  EXPECT_EQ(std::memcmp(c - 8, want + 16, 8), 0);
  EXPECT_EQ(std::memcmp(c + 5, want + 16, 8), 0);
  EXPECT_EQ(rnd_state.load(), s);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
  xfree(c);
  xfree(b);
  xfree(a);
}

TEST(Alloc, ZeroSizeAndStrdup) {
  std::size_t n = xmem_count();
  void *z = xmalloc(0, "t:0");
  EXPECT_EQ(std::memcmp(static_cast<char *>(z) - 8, z, 8), 0); // trailer right behind
  char *s = xstrdup("hello", "t:s");
  EXPECT_STREQ(s, "hello");
  EXPECT_EQ(xmem_count(), n + 2);
  xfree(s);
  xfree(z);
  EXPECT_EQ(xmem_count(), n);
}

TEST(Alloc, LiveListStaysWholeWhateverTheOrderOfRelease) {
  testutil::log_capture cap(1);
  const std::size_t n0 = xmem_count();
  // Enough blocks to make the live set grow several times, released from
  // the middle, the oldest end and the newest end.
  std::vector<char *> p(5000);
  for (std::size_t i = 0; i < p.size(); ++i)
    p[i] = static_cast<char *>(xmalloc(i % 13, i % 2 ? "t:odd" : "t:even"));
  EXPECT_EQ(xmem_count(), n0 + p.size());
  for (std::size_t i = 0; i < p.size(); i += 3)
    xfree(std::exchange(p[i], nullptr));
  xfree(std::exchange(p[p.size() - 1], nullptr)); // the newest
  xfree(std::exchange(p[1], nullptr));
  std::size_t alive = 0;
  for (char *q : p)
    alive += q != nullptr;
  EXPECT_EQ(xmem_count(), n0 + alive);
  // The listing still walks every live block, newest first.
  xmem_list();
  std::size_t listed = 0;
  for (const std::string &l : cap.lines())
    listed += l == "t:odd" || l == "t:even";
  EXPECT_EQ(listed, alive);
  std::size_t last = p.size() - 1; // newest still alive
  while (!p[last])
    --last;
  auto first = std::find_if(cap.lines().begin(), cap.lines().end(),
                            [](const std::string &l) { return l == "t:odd" || l == "t:even"; });
  ASSERT_NE(first, cap.lines().end());
  EXPECT_EQ(*first, last % 2 ? "t:odd" : "t:even");
  for (char *q : p)
    if (q)
      xfree(q);
  EXPECT_EQ(xmem_count(), n0);
}

// Recognising a pointer as live must not walk the live blocks: releasing
// many blocks, oldest first (the far end of a newest-first list), examines
// a few entries per release, not one per live block.
TEST(Alloc, ReleaseExaminesAFewEntriesWhateverTheLiveCount) {
  constexpr std::size_t N = 20000;
  std::vector<void *> p(N);
  for (std::size_t i = 0; i < N; ++i)
    p[i] = xmalloc(i % 24, XTAG);
  const std::size_t before = xmem_probes();
  for (void *q : p)
    xfree(q);
  const std::size_t probes = xmem_probes() - before;
  EXPECT_GE(probes, N); // each release looks at least once
  EXPECT_LE(probes, 4 * N) << "per release: " << double(probes) / N;
}

TEST(Alloc, ThreadsAllocateAndFreeAtOnce) {
  // Instances are saved and opened from several host threads at a time.
  const std::size_t n0 = xmem_count();
  auto work = [](int seed) {
    std::vector<void *> mine;
    for (int i = 0; i < 20000; ++i) {
      if (mine.size() < 64 && (i * seed) % 3 != 0)
        mine.push_back(xmalloc(static_cast<std::size_t>(i % 100), XTAG));
      else if (!mine.empty()) {
        xfree(mine.back());
        mine.pop_back();
      }
    }
    for (void *q : mine)
      xfree(q);
  };
  std::vector<std::thread> t;
  for (int k = 1; k <= 4; ++k)
    t.emplace_back(work, k);
  for (auto &x : t)
    x.join();
  EXPECT_EQ(xmem_count(), n0);
}

using AllocDeath = ::testing::Test;

TEST(AllocDeath, CorruptTrailerAborts) {
  EXPECT_DEATH(
      {
        log_level = 1;
        auto *p = static_cast<char *>(xmalloc(10, "src/x.cpp:12"));
        p[10] ^= 0x55;
        xfree(p);
      },
      "xfree: src/x.cpp:12: block trailer corrupted");
}

TEST(AllocDeath, FreeOfUnknownPointerAborts) {
  EXPECT_DEATH(
      {
        log_level = 1;
        void *p = xmalloc(10, "t:1");
        xfree(p);
        xfree(p);
      },
      "xfree: \\?: .*: not allocated \\(double free\\?\\)");
  EXPECT_DEATH(
      {
        log_level = 1;
        auto *p = static_cast<char *>(xmalloc(100, "t:1"));
        xfree(p + 48); // inside a live block, where a header could seem to be
      },
      "not allocated");
  static int not_heap;
  EXPECT_DEATH(
      {
        log_level = 1;
        xfree(&not_heap);
      },
      "not allocated");
}

TEST(AllocDeath, AllocationFailureAborts) {
  EXPECT_DEATH(
      {
        log_level = 1;
        xmalloc(SIZE_MAX - 8, "t:1");
      },
      "xmalloc: failed to allocate .* bytes");
}

TEST(Pool, SizesOrderAndReuse) {
  struct {
    std::size_t ask, got;
  } sizes[] = {{1, 8}, {8, 8}, {12, 16}, {17, 24}, {0, 8}};
  for (auto &c : sizes) {
    pool p;
    pool_init(&p, "sz", c.ask, 2);
    EXPECT_EQ(p.itemsize, c.got);
    pool_done(&p);
  }
  pool p;
  pool_init(&p, "order", 12, 4);
  auto *base = static_cast<unsigned char *>(p.block);
  unsigned char *got[4];
  for (int i = 0; i < 4; ++i) {
    got[i] = static_cast<unsigned char *>(pool_get(&p));
    EXPECT_EQ(got[i], base + (3 - i) * 16); // highest address first
    for (int k = 0; k < 16; ++k)
      ASSERT_EQ(got[i][k], 0xD0);
  }
  EXPECT_EQ(p.used, 4u);
  pool_put(&p, got[1]);
  for (int k = 8; k < 16; ++k)
    EXPECT_EQ(got[1][k], 0xDF);
  EXPECT_EQ(pool_get(&p), got[1]); // last in, first out
  for (auto *g : got)
    pool_put(&p, g);
  EXPECT_EQ(p.used, 0u);
  pool_done(&p);
}

TEST(Pool, DoneWarnsAboutItemsInUse) {
  testutil::log_capture cap(1);
  pool p;
  pool_init(&p, "busy", 8, 3);
  pool_get(&p);
  pool_get(&p);
  pool_done(&p);
  EXPECT_TRUE(cap.has("busy: WARNING: 2 items still allocated")) << cap.all();
}

TEST(AllocDeath, PoolLimits) {
  EXPECT_DEATH(
      {
        log_level = 1;
        pool p;
        pool_init(&p, "hook", 8, 3);
        for (int i = 0; i < 4; ++i)
          pool_get(&p);
      },
      "hook: pool empty");
  EXPECT_DEATH(
      {
        log_level = 1;
        pool p;
        pool_init(&p, "note", 8, 3);
        void *x = pool_get(&p);
        pool_put(&p, x);
        pool_put(&p, x);
      },
      "note: pool is full");
}
