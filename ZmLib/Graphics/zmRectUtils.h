#pragma once
// Small value types the drawing code shares: float rectangles, 2-D and 3-D
// float points, bases for mapping between local and world coordinates, and
// TRectList, a list of integer rectangles kept free of overlaps.
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmTypes.h"

namespace zm {

struct TFloatRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TFloatRect&, const TFloatRect&) = default;
};

struct TFloatPoint {
  float X = 0, Y = 0;
  friend bool operator==(const TFloatPoint&, const TFloatPoint&) = default;
};

struct TFloatPoint3 {
  float X = 0, Y = 0, Z = 0;
  friend bool operator==(const TFloatPoint3&, const TFloatPoint3&) = default;
};

// Origin and two axes; InvDet is 1 / det(Axis1, Axis2), 0 when singular.
struct TFloatBasis {
  TFloatPoint Origin, Axis1, Axis2;
  double InvDet = 0;
};

// Origin and three axes; InvDet is 1 / det(Axis1, Axis2, Axis3), 0 when singular.
struct TFloatBasis3 {
  TFloatPoint3 Origin, Axis1, Axis2, Axis3;
  double InvDet = 0;
};

// Right and bottom are exclusive. Intersections that do not overlap give
// this rectangle; it is also the neutral start of a union.
inline constexpr TRect kEmptyRect{2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1};
inline constexpr TFloatRect kEmptyFloatRect{2147483647.0f, 2147483647.0f, -2147483648.0f, -2147483648.0f};

// ---- Float rectangles ---------------------------------------------------------

TFloatRect FloatRect(float l, float t, float r, float b);
TFloatRect IntToFloatRect(const TRect& r);
TFloatRect SizeToFloatRect(float w, float h);  // (0, 0, w, h)
TFloatRect OffsetFloatRect(const TFloatRect& r, float dx, float dy);
// False, and R the empty rectangle, when A and B do not overlap (touching
// edges do not overlap).
bool IntersectFloatRect(const TFloatRect& a, const TFloatRect& b, TFloatRect& r);
bool IsFloatRectEmpty(const TFloatRect& r);  // right <= left or bottom <= top
bool SameFloatRect(const TFloatRect& a, const TFloatRect& b);
float FloatRectWidth(const TFloatRect& r);
float FloatRectHeight(const TFloatRect& r);

// ---- Integer rectangles --------------------------------------------------------

void MoveRect(TRect& r, std::int32_t dx, std::int32_t dy);
// A becomes the smallest rectangle holding A and B; an empty side adds nothing.
void UnionRectInPlace(TRect& a, const TRect& b);
bool RectInsideRect(const TRect& a, const TRect& b);  // A lies inside B

// ---- Points ---------------------------------------------------------------------

// Magnitude greater than 2.9411764705882355E-39.
bool IsUsableDivisor(double d);

TFloatPoint FloatPoint(float x, float y);
TFloatPoint FloatPointOf(float x, float y);
TFloatPoint MakeFloatPoint(float x, float y);
TFloatPoint3 FloatPoint3(float x, float y, float z);
TFloatPoint3 MakeFloatPoint3(float x, float y, float z);
TFloatPoint3 FloatPointTo3(const TFloatPoint& p, float z);
TFloatPoint3 FloatPointTo3Ex(const TFloatPoint& p, float z);
TFloatPoint OffsetFloatPoint(const TFloatPoint& p, float dx, float dy);
TFloatPoint AddFloatPoints(const TFloatPoint& a, const TFloatPoint& b);
TFloatPoint AddFloatPointsEx(const TFloatPoint& a, const TFloatPoint& b);
TFloatPoint SumFloatPoints(const TFloatPoint& a, const TFloatPoint& b);
TFloatPoint3 AddFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b);
TFloatPoint3 AddFloatPoints3Ex(const TFloatPoint3& a, const TFloatPoint3& b);
// B - A.
TFloatPoint SubFloatPoints(const TFloatPoint& a, const TFloatPoint& b);
TFloatPoint3 SubFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b);
TFloatPoint ScaleFloatPoint(const TFloatPoint& p, float s);
TFloatPoint3 ScaleFloatPoint3(const TFloatPoint3& p, float s);
// P / d, or P unchanged when d is not a usable divisor.
TFloatPoint DivideFloatPoint(const TFloatPoint& p, float d);
float FloatPointLength(const TFloatPoint& p);
float Distance3(const TFloatPoint3& a, const TFloatPoint3& b);
// Length 1, or P unchanged when its length is not a usable divisor.
TFloatPoint3 NormalizeFloatPoint3(const TFloatPoint3& p);
// P / max(|x|, |y|), or P unchanged when that is zero.
TFloatPoint NormalizeMaxFloatPoint(const TFloatPoint& p);
float DotFloatPoints(const TFloatPoint& a, const TFloatPoint& b);
TFloatPoint3 CrossFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b);
TFloatPoint RotateFloatPointMinus90(const TFloatPoint& p);  // (y, -x)
TFloatPoint RotateFloatPointPlus90(const TFloatPoint& p);   // (-y, x)
// A*s + B*t.
TFloatPoint CombineFloatPoints(const TFloatPoint& a, const TFloatPoint& b, float s, float t);
TFloatPoint3 CombineFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b, float s, float t);
TFloatPoint3 CombineFloatPoints3Ex(const TFloatPoint3& a, const TFloatPoint3& b, float s, float t);
float MinSingle(float a, float b);
float MaxSingle(float a, float b);
bool SameFloatPoint(const TFloatPoint& a, const TFloatPoint& b);
bool SameFloatBasis3(const TFloatBasis3& a, const TFloatBasis3& b);

// ---- Bases ------------------------------------------------------------------------

// Store the axes and the inverse determinant; false (inverse 0) when the
// determinant is not a usable divisor.
bool MakeFloatBasis(TFloatBasis& b, const TFloatPoint& origin, const TFloatPoint& axis1, const TFloatPoint& axis2);
bool MakeFloatBasis3(TFloatBasis3& b, const TFloatPoint3& origin, const TFloatPoint3& axis1,
                     const TFloatPoint3& axis2, const TFloatPoint3& axis3);
// Origin + Axis1 * x + Axis2 * y.
TFloatPoint FloatBasisToWorld(const TFloatBasis& b, const TFloatPoint& local);
// Local coordinates by Cramer's rule with the stored inverse determinant.
TFloatPoint FloatBasisToLocal(const TFloatBasis& b, const TFloatPoint& p);
// The axes combined without the origin.
TFloatPoint3 FloatBasis3Direction(const TFloatBasis3& b, const TFloatPoint3& local);
TFloatPoint3 FloatBasis3ToWorld(const TFloatBasis3& b, const TFloatPoint3& local);
TFloatPoint3 FloatBasis3ToLocal(const TFloatBasis3& b, const TFloatPoint3& p);

// ---- Rectangle lists -----------------------------------------------------------

// Integer rectangles; Include keeps them free of overlaps. The array grows
// from 4 entries, doubling.
struct TRectList {
  std::vector<TRect> Items;  // its length is the capacity
  std::int32_t Count = 0;

  void Clear();
  void Reset();
  // Appends R unless it is empty (then -1); returns the index.
  std::int32_t Add(const TRect& r);
  // Union of all entries; the empty rectangle for an empty list.
  TRect GetBounds() const;
  // Adds the parts of R that no entry covers yet.
  void Include(const TRect& r);
  // Include starting the overlap search at entry Index.
  void IncludeFrom(const TRect& r, std::int32_t index);
  void Offset(std::int32_t dx, std::int32_t dy);
  // Inside some entry (right and bottom edges excluded).
  bool PtIn(const TPoint& p) const;

  const TRect& operator[](std::int32_t i) const { return Items[static_cast<std::size_t>(i)]; }
};

// A copy of a TRectList that can be passed by reference.
class TRectListWrapper : public TRefObject {
public:
  explicit TRectListWrapper(const TRectList& list) : List(list) {}
  void Dispose() override;

  TRectList List;
};

}  // namespace zm
