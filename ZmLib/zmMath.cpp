#include "ZmLib/zmMath.h"

#include <cmath>
#include <limits>

namespace zm {

namespace {

// v is a whole number or NaN; saturates into T.
template <class T>
T SaturateWhole(double v) {
  if (std::isnan(v)) return 0;
  // The limits as doubles: -2^k is exact, 2^k - 1 rounds up to 2^k for 64
  // bits, so compare with >= against 2^k.
  constexpr double kLow = static_cast<double>(std::numeric_limits<T>::min());
  constexpr double kHigh = -kLow;
  if (v >= kHigh) return std::numeric_limits<T>::max();
  if (v <= kLow) return std::numeric_limits<T>::min();
  return static_cast<T>(v);
}

double RoundHalfEvenWhole(double v) {
  if (!std::isfinite(v)) return v;
  double r = std::floor(v);
  const double d = v - r;  // exact for doubles: 0 <= d < 1
  if (d > 0.5 || (d == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

}  // namespace

std::int32_t RoundHalfEven(double v) { return SaturateWhole<std::int32_t>(RoundHalfEvenWhole(v)); }
std::int64_t RoundHalfEven64(double v) { return SaturateWhole<std::int64_t>(RoundHalfEvenWhole(v)); }

std::int32_t TruncInt(double v) { return SaturateWhole<std::int32_t>(std::trunc(v)); }
std::int64_t TruncInt64(double v) { return SaturateWhole<std::int64_t>(std::trunc(v)); }

double IntPower2(std::int32_t n) {
  // ldexp takes an int; clamp far beyond the double range so that no
  // conversion can overflow.
  if (n > 4096) n = 4096;
  if (n < -4096) n = -4096;
  return std::ldexp(1.0, n);
}

double Log2(double v) {
  if (std::isnan(v) || v < 0.0) return std::numeric_limits<double>::quiet_NaN();
  if (v == 0.0) return -std::numeric_limits<double>::infinity();
  return std::log2(v);
}

}  // namespace zm
