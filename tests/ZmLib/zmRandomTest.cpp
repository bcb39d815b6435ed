#include "ZmLib/zmRandom.h"

#include <gtest/gtest.h>

TEST(Random, RangesSeedsAndBounds) {
  EXPECT_EQ(zm::Random(0), 0);
  EXPECT_EQ(zm::Random(-5), 0);
  for (int i = 0; i < 2000; ++i) {
    std::int32_t v = zm::Random(7);
    ASSERT_TRUE(v >= 0 && v < 7) << v;
    double f = zm::RandomFloat();
    ASSERT_TRUE(f >= 0.0 && f < 1.0) << f;
  }
  EXPECT_LT(zm::Random(2147483647), 2147483647);
  zm::SetRandSeed(42);
  std::int32_t a = zm::Random(1000000);
  zm::SetRandSeed(42);
  EXPECT_EQ(zm::Random(1000000), a);
  zm::Randomize();
}
