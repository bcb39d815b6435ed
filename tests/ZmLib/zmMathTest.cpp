// Rounding and truncation to integers for every double, powers and
// logarithms of two.
#include "ZmLib/zmMath.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

using namespace zm;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(Math, RoundHalfEvenTiesAndNeighbours) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(2.4999999999999996), 2);
  EXPECT_EQ(RoundHalfEven(2.5000000000000004), 3);
  EXPECT_EQ(RoundHalfEven(-3.5000000000000004), -4);
  // The largest double below 0.5 must not round up (floor(v + 0.5) would).
  EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0);
  EXPECT_EQ(RoundHalfEven64(4503599627370497.0), 4503599627370497LL);  // 2^52 + 1: already whole
  EXPECT_EQ(RoundHalfEven64(-2.5), -2);
}

TEST(Math, RoundingIgnoresTheRoundingMode) {
  const int saved = std::fegetround();
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    EXPECT_EQ(RoundHalfEven(2.5), 2) << mode;
    EXPECT_EQ(RoundHalfEven(-3.5), -4) << mode;
    EXPECT_EQ(RoundHalfEven(0.6), 1) << mode;
  }
  std::fesetround(saved);
}

TEST(Math, ConversionsSaturateAndNaNGivesZero) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
  for (double v : {kNaN, -kNaN}) {
    EXPECT_EQ(RoundHalfEven(v), 0);
    EXPECT_EQ(RoundHalfEven64(v), 0);
    EXPECT_EQ(TruncInt(v), 0);
    EXPECT_EQ(TruncInt64(v), 0);
  }
  EXPECT_EQ(RoundHalfEven(kInf), kMax);
  EXPECT_EQ(RoundHalfEven(-kInf), kMin);
  EXPECT_EQ(RoundHalfEven(2147483647.4), kMax);
  EXPECT_EQ(RoundHalfEven(2147483647.5), kMax);  // rounds to 2^31: beyond the range
  EXPECT_EQ(RoundHalfEven(-2147483648.5), kMin);
  EXPECT_EQ(RoundHalfEven(1e300), kMax);
  EXPECT_EQ(TruncInt(2147483647.9), kMax);
  EXPECT_EQ(TruncInt(-2147483648.9), kMin);
  EXPECT_EQ(TruncInt(-2.9), -2);
  EXPECT_EQ(TruncInt(2.9), 2);
  EXPECT_EQ(TruncInt(-0.0), 0);
  // 2^63 is the first double above the 64-bit range; 2^63 - 1024 the last inside.
  EXPECT_EQ(TruncInt64(9223372036854775808.0), kMax64);
  EXPECT_EQ(TruncInt64(9223372036854774784.0), 9223372036854774784LL);
  EXPECT_EQ(TruncInt64(-9223372036854775808.0), kMin64);
  EXPECT_EQ(RoundHalfEven64(-kInf), kMin64);
  EXPECT_EQ(RoundHalfEven64(1e19), kMax64);
}

TEST(Math, PowersAndLogarithmsOfTwo) {
  EXPECT_EQ(IntPower2(0), 1.0);
  EXPECT_EQ(IntPower2(10), 1024.0);
  EXPECT_EQ(IntPower2(-2), 0.25);
  EXPECT_EQ(IntPower2(-1074), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(IntPower2(-1075), 0.0);
  EXPECT_EQ(IntPower2(1024), kInf);
  EXPECT_EQ(IntPower2(std::numeric_limits<std::int32_t>::max()), kInf);
  EXPECT_EQ(IntPower2(std::numeric_limits<std::int32_t>::min()), 0.0);
  EXPECT_EQ(Log2(8.0), 3.0);
  EXPECT_EQ(Log2(0.5), -1.0);
  EXPECT_EQ(Log2(0.0), -kInf);
  EXPECT_EQ(Log2(-0.0), -kInf);
  EXPECT_TRUE(std::isnan(Log2(-1.0)));
  EXPECT_TRUE(std::isnan(Log2(kNaN)));
  EXPECT_EQ(Log2(kInf), kInf);
}
