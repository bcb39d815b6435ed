#include "ZmLib/Graphics/winImageUtils.h"

#include <gtest/gtest.h>

using namespace zm;

namespace {
std::pair<std::int32_t, std::int32_t> Fit(std::int32_t sw, std::int32_t sh, std::int32_t bw, std::int32_t bh) {
  std::int32_t w = -1, h = -1;
  FitSize(sw, sh, bw, bh, w, h);
  return {w, h};
}
}  // namespace

TEST(FitSize, KeepsProportions) {
  EXPECT_EQ(Fit(400, 300, 100, 100), std::make_pair(100, 75));
  EXPECT_EQ(Fit(300, 400, 100, 100), std::make_pair(75, 100));
  EXPECT_EQ(Fit(50, 40, 100, 100), std::make_pair(100, 80));  // enlarged unless asked not to
  EXPECT_EQ(Fit(100, 100, 60, 30), std::make_pair(30, 30));
  EXPECT_EQ(Fit(3, 2, 100, 100), std::make_pair(100, 67));
  EXPECT_EQ(Fit(8, 3, 5, 5), std::make_pair(5, 2));  // 1.875 rounds to 2
  // Degenerate sizes still give a picture.
  EXPECT_EQ(Fit(100000, 1, 100, 100), std::make_pair(100, 1));
  EXPECT_EQ(Fit(0, 10, 100, 50), std::make_pair(100, 50));
  EXPECT_EQ(Fit(10, 10, 0, -5), std::make_pair(1, 1));
  EXPECT_EQ(Fit(2147483647, 1, 2147483647, 2147483647), std::make_pair(2147483647, 1));
}
