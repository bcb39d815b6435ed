#pragma once
// Number helpers with a defined result for every input. Converting a double
// to an integer with a plain cast is undefined for NaN and for values out of
// range; these saturate at the type's limits and give 0 for NaN instead.
// Rounding never depends on the floating-point rounding mode in effect.
#include <cstdint>

namespace zm {

// To the nearest integer, halves to the even one: 0.5 gives 0, 1.5 and 2.5
// give 2, -2.5 gives -2.
std::int32_t RoundHalfEven(double v);
std::int64_t RoundHalfEven64(double v);

// Toward zero: 2.9 gives 2, -2.9 gives -2.
std::int32_t TruncInt(double v);
std::int64_t TruncInt64(double v);

// 2 to the power n, exact wherever a double holds it; 0 below the smallest
// subnormal, +infinity above the largest double.
double IntPower2(std::int32_t n);

// Base-2 logarithm: -infinity for 0, NaN for negative values and NaN.
double Log2(double v);

}  // namespace zm
