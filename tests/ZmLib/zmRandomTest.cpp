#include "ZmLib/zmRandom.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Random, RangesSeedsAndBounds) {
  EXPECT_EQ(zm::Random(0), 0);
  EXPECT_EQ(zm::Random(-5), 0);
  EXPECT_EQ(zm::Random(1), 0);
  std::vector<int> seen(7, 0);
  for (int i = 0; i < 2000; ++i) {
    std::int32_t v = zm::Random(7);
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 7);
    ++seen[static_cast<std::size_t>(v)];
    double f = zm::RandomFloat();
    ASSERT_GE(f, 0.0);
    ASSERT_LT(f, 1.0);
  }
  for (int n : seen) EXPECT_GT(n, 150);
  EXPECT_LT(zm::Random(2147483647), 2147483647);

  zm::SetRandSeed(42);
  std::int32_t a = zm::Random(1000000), b = zm::Random(1000000);
  zm::SetRandSeed(42);
  EXPECT_EQ(zm::Random(1000000), a);
  EXPECT_EQ(zm::Random(1000000), b);
  zm::Randomize();
}

}  // namespace
