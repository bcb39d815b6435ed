#pragma once
// Point lists and matrices of the vector drawing: 3x3 matrices applied to
// row vectors (x, y, 1), and path points with their codes.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

// Nine singles m0..m8 in rows: x' = x*m0 + y*m3 + m6, y' = x*m1 + y*m4 + m7.
struct TMatrix {
  float M[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  friend bool operator==(const TMatrix&, const TMatrix&) = default;
};

TMatrix IdentityMatrix();
TMatrix TranslationMatrix(float dx, float dy);
// m0 = sx, m4 = sy, m8 = 1, zeros elsewhere.
TMatrix ScalingMatrix(float sx, float sy);
TFloatPoint TransformPoint(const TMatrix& m, float x, float y);
// A x B: applying the product is applying A, then B.
TMatrix MultiplyMatrix(const TMatrix& a, const TMatrix& b);

// Path point codes: a move is one entry (0), a line one entry (1), a
// quadratic curve two (control 2, end 1), a cubic curve three (3, 2, 1).
constexpr std::int32_t pcMove = 0;
constexpr std::int32_t pcLine = 1;
constexpr std::int32_t pcControl2 = 2;
constexpr std::int32_t pcControl3 = 3;

struct TPathPoint {
  float X = 0, Y = 0;
  std::int32_t Code = pcMove;
  friend bool operator==(const TPathPoint&, const TPathPoint&) = default;
};

// The entries of a path, in order; the vector's size is the count.
using TPathPoints = std::vector<TPathPoint>;

// Appends an entry; the array grows from 16 entries by doubling.
void AddPathPoint(TPathPoints& points, float x, float y, std::int32_t code);

}  // namespace zm
