// Checked allocator, pools and the shared generator.
#include <cstring>
#include <gtest/gtest.h>
#include <set>

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
  EXPECT_EQ(rnd_state, s);
}

TEST(Alloc, FreshBlocksAreFilledAndGuardedFromTheGenerator) {
  std::uint32_t s = rnd_state;
  auto *a = static_cast<unsigned char *>(xmalloc(37, "t:1"));
  auto *b = static_cast<unsigned char *>(xmalloc(3, "t:2"));
  for (int i = 0; i < 37; ++i)
    ASSERT_EQ(a[i], 0xD0);
  // 16 consecutive steps make the two guards, each copied behind the data
  unsigned char want[16];
  for (unsigned char &w : want)
    w = static_cast<unsigned char>((s = lcg(s)) >> 24);
  EXPECT_EQ(std::memcmp(a - 8, want, 8), 0);
  EXPECT_EQ(std::memcmp(a + 37, want, 8), 0);
  EXPECT_EQ(std::memcmp(b - 8, want + 8, 8), 0);
  EXPECT_EQ(std::memcmp(b + 3, want + 8, 8), 0);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
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
