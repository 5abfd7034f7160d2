// Saturating and wrapping fixed-point helpers at the edges of the range.
#include <cstdint>
#include <gtest/gtest.h>

#include "utils/fixed.h"

namespace {

constexpr std::int32_t MAX = INT32_MAX, MIN = INT32_MIN;

TEST(Fixed, SaturatingSumsClampAtBothEnds) {
  struct row {
    std::int32_t a;
    std::int64_t b;
    std::int32_t want;
  } rows[] = {
      {1, 2, 3},
      {MAX, 1, MAX},
      {MAX - 5, 5, MAX},
      {MIN, -1, MIN},
      {MIN + 3, -4, MIN},
      {MAX, MIN, -1},
      {0, std::int64_t{1} << 40, MAX},
      {-7, -(std::int64_t{1} << 40), MIN},
      {MIN, std::int64_t{1} << 40, -1}, // the contribution is clamped before the sum
  };
  for (const auto &r : rows)
    EXPECT_EQ(q32_adds(r.a, r.b), r.want) << r.a << " + " << r.b;
}

TEST(Fixed, WrappingSumsAreModular) {
  EXPECT_EQ(q32_addw(MAX, 1), MIN);
  EXPECT_EQ(q32_subw(MIN, 1), MAX);
  EXPECT_EQ(q32_addw(-3, 5), 2);
}

TEST(Fixed, ProductsShiftArithmeticallyAndSaturate) {
  EXPECT_EQ(q32_mul(-1, 1, 1), -1); // rounds toward minus infinity
  EXPECT_EQ(q32_mul(3, 1, 1), 1);
  EXPECT_EQ(q32_mul(1 << 27, 1 << 26, 27), 1 << 26);
  EXPECT_EQ(q32_mul(MAX, MAX, 27), MAX);
  EXPECT_EQ(q32_mul(MIN, MAX, 27), MIN);
  EXPECT_EQ(q32_sat(std::int64_t{MIN} - 1), MIN);
}

TEST(Fixed, TowardZeroShrinksBothSigns) {
  EXPECT_EQ(q32_shz(-1, 27), 0); // where the arithmetic shift gives -1
  EXPECT_EQ(q32_shz(-(std::int64_t{1} << 27), 27), -1);
  EXPECT_EQ(q32_shz(-(std::int64_t{3} << 26), 27), -1); // -1.5
  EXPECT_EQ(q32_shz(std::int64_t{3} << 26, 27), 1);
  EXPECT_EQ(q32_shz(std::int64_t{1} << 60, 27), MAX);
  EXPECT_EQ(q32_shz(-(std::int64_t{1} << 60), 27), MIN);
  EXPECT_EQ(q32_mulz(-5, 1 << 26, 27), -2); // -2.5
  EXPECT_EQ(q32_mulz(5, -(1 << 26), 27), -2);
  EXPECT_EQ(q32_mulz(-5, -(1 << 26), 27), 2);
  EXPECT_EQ(q32_mulz(MIN, MIN, 27), MAX);
  // a value decaying through a gain below 1 reaches 0 from either side
  for (std::int32_t v : {1000, -1000}) {
    int steps = 0;
    while (v != 0 && steps < 10000) {
      v = q32_mulz(v, 134217727, 27);
      ++steps;
    }
    EXPECT_EQ(v, 0);
  }
}

} // namespace
