#include "ZmLib/Graphics/zmRectUtils.h"

#include <algorithm>
#include <cmath>

namespace zm {

namespace {

bool IsRectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

bool IntersectIntRect(const TRect& a, const TRect& b, TRect& r) {
  TRect i{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
  if (IsRectEmpty(i)) {
    r = kEmptyRect;
    return false;
  }
  r = i;
  return true;
}

double Det3(const TFloatPoint3& a, const TFloatPoint3& b, const TFloatPoint3& c) {
  // a . (b x c), in double so that near-singular bases are judged fairly.
  return double(a.X) * (double(b.Y) * c.Z - double(b.Z) * c.Y) - double(a.Y) * (double(b.X) * c.Z - double(b.Z) * c.X) +
         double(a.Z) * (double(b.X) * c.Y - double(b.Y) * c.X);
}

}  // namespace

// ---- Float rectangles ---------------------------------------------------------

TFloatRect FloatRect(float l, float t, float r, float b) { return {l, t, r, b}; }

TFloatRect IntToFloatRect(const TRect& r) {
  return {float(r.Left), float(r.Top), float(r.Right), float(r.Bottom)};
}

TFloatRect SizeToFloatRect(float w, float h) { return {0, 0, w, h}; }

TFloatRect OffsetFloatRect(const TFloatRect& r, float dx, float dy) {
  return {r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

bool IntersectFloatRect(const TFloatRect& a, const TFloatRect& b, TFloatRect& r) {
  TFloatRect i{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
  if (IsFloatRectEmpty(i)) {
    r = kEmptyFloatRect;
    return false;
  }
  r = i;
  return true;
}

bool IsFloatRectEmpty(const TFloatRect& r) { return !(r.Right > r.Left) || !(r.Bottom > r.Top); }

bool SameFloatRect(const TFloatRect& a, const TFloatRect& b) { return a == b; }

float FloatRectWidth(const TFloatRect& r) { return r.Right - r.Left; }

float FloatRectHeight(const TFloatRect& r) { return r.Bottom - r.Top; }

// ---- Integer rectangles --------------------------------------------------------

void MoveRect(TRect& r, std::int32_t dx, std::int32_t dy) {
  // Wraps like the 32-bit arithmetic it stands for, never undefined.
  auto add = [](std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
  };
  r.Left = add(r.Left, dx);
  r.Right = add(r.Right, dx);
  r.Top = add(r.Top, dy);
  r.Bottom = add(r.Bottom, dy);
}

void UnionRectInPlace(TRect& a, const TRect& b) {
  if (IsRectEmpty(b)) return;
  if (IsRectEmpty(a)) {
    a = b;
    return;
  }
  a.Left = std::min(a.Left, b.Left);
  a.Top = std::min(a.Top, b.Top);
  a.Right = std::max(a.Right, b.Right);
  a.Bottom = std::max(a.Bottom, b.Bottom);
}

bool RectInsideRect(const TRect& a, const TRect& b) {
  return a.Left >= b.Left && a.Top >= b.Top && a.Right <= b.Right && a.Bottom <= b.Bottom;
}

// ---- Points ---------------------------------------------------------------------

bool IsUsableDivisor(double d) { return std::fabs(d) > 2.9411764705882355E-39; }

TFloatPoint FloatPoint(float x, float y) { return {x, y}; }
TFloatPoint FloatPointOf(float x, float y) { return {x, y}; }
TFloatPoint MakeFloatPoint(float x, float y) { return {x, y}; }
TFloatPoint3 FloatPoint3(float x, float y, float z) { return {x, y, z}; }
TFloatPoint3 MakeFloatPoint3(float x, float y, float z) { return {x, y, z}; }
TFloatPoint3 FloatPointTo3(const TFloatPoint& p, float z) { return {p.X, p.Y, z}; }
TFloatPoint3 FloatPointTo3Ex(const TFloatPoint& p, float z) { return {p.X, p.Y, z}; }

TFloatPoint OffsetFloatPoint(const TFloatPoint& p, float dx, float dy) { return {p.X + dx, p.Y + dy}; }

TFloatPoint AddFloatPoints(const TFloatPoint& a, const TFloatPoint& b) { return {a.X + b.X, a.Y + b.Y}; }
TFloatPoint AddFloatPointsEx(const TFloatPoint& a, const TFloatPoint& b) { return AddFloatPoints(a, b); }
TFloatPoint SumFloatPoints(const TFloatPoint& a, const TFloatPoint& b) { return AddFloatPoints(a, b); }

TFloatPoint3 AddFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b) {
  return {a.X + b.X, a.Y + b.Y, a.Z + b.Z};
}
TFloatPoint3 AddFloatPoints3Ex(const TFloatPoint3& a, const TFloatPoint3& b) { return AddFloatPoints3(a, b); }

TFloatPoint SubFloatPoints(const TFloatPoint& a, const TFloatPoint& b) { return {b.X - a.X, b.Y - a.Y}; }
TFloatPoint3 SubFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b) {
  return {b.X - a.X, b.Y - a.Y, b.Z - a.Z};
}

TFloatPoint ScaleFloatPoint(const TFloatPoint& p, float s) { return {p.X * s, p.Y * s}; }
TFloatPoint3 ScaleFloatPoint3(const TFloatPoint3& p, float s) { return {p.X * s, p.Y * s, p.Z * s}; }

TFloatPoint DivideFloatPoint(const TFloatPoint& p, float d) {
  if (!IsUsableDivisor(d)) return p;
  return {p.X / d, p.Y / d};
}

float FloatPointLength(const TFloatPoint& p) { return float(std::hypot(double(p.X), double(p.Y))); }

float Distance3(const TFloatPoint3& a, const TFloatPoint3& b) {
  double dx = double(b.X) - a.X, dy = double(b.Y) - a.Y, dz = double(b.Z) - a.Z;
  return float(std::sqrt(dx * dx + dy * dy + dz * dz));
}

TFloatPoint3 NormalizeFloatPoint3(const TFloatPoint3& p) {
  double len = std::sqrt(double(p.X) * p.X + double(p.Y) * p.Y + double(p.Z) * p.Z);
  if (!IsUsableDivisor(len)) return p;
  return {float(p.X / len), float(p.Y / len), float(p.Z / len)};
}

TFloatPoint NormalizeMaxFloatPoint(const TFloatPoint& p) {
  float m = std::max(std::fabs(p.X), std::fabs(p.Y));
  if (m == 0) return p;
  return {p.X / m, p.Y / m};
}

float DotFloatPoints(const TFloatPoint& a, const TFloatPoint& b) { return a.X * b.X + a.Y * b.Y; }

TFloatPoint3 CrossFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b) {
  return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X};
}

TFloatPoint RotateFloatPointMinus90(const TFloatPoint& p) { return {p.Y, -p.X}; }
TFloatPoint RotateFloatPointPlus90(const TFloatPoint& p) { return {-p.Y, p.X}; }

TFloatPoint CombineFloatPoints(const TFloatPoint& a, const TFloatPoint& b, float s, float t) {
  return {a.X * s + b.X * t, a.Y * s + b.Y * t};
}
TFloatPoint3 CombineFloatPoints3(const TFloatPoint3& a, const TFloatPoint3& b, float s, float t) {
  return {a.X * s + b.X * t, a.Y * s + b.Y * t, a.Z * s + b.Z * t};
}
TFloatPoint3 CombineFloatPoints3Ex(const TFloatPoint3& a, const TFloatPoint3& b, float s, float t) {
  return CombineFloatPoints3(a, b, s, t);
}

float MinSingle(float a, float b) { return a < b ? a : b; }
float MaxSingle(float a, float b) { return a > b ? a : b; }

bool SameFloatPoint(const TFloatPoint& a, const TFloatPoint& b) { return a == b; }

bool SameFloatBasis3(const TFloatBasis3& a, const TFloatBasis3& b) {
  return a.Origin == b.Origin && a.Axis1 == b.Axis1 && a.Axis2 == b.Axis2 && a.Axis3 == b.Axis3 &&
         a.InvDet == b.InvDet;
}

// ---- Bases ------------------------------------------------------------------------

bool MakeFloatBasis(TFloatBasis& b, const TFloatPoint& origin, const TFloatPoint& axis1, const TFloatPoint& axis2) {
  b.Origin = origin;
  b.Axis1 = axis1;
  b.Axis2 = axis2;
  double det = double(axis1.X) * axis2.Y - double(axis1.Y) * axis2.X;
  if (!IsUsableDivisor(det)) {
    b.InvDet = 0;
    return false;
  }
  b.InvDet = 1.0 / det;
  return true;
}

bool MakeFloatBasis3(TFloatBasis3& b, const TFloatPoint3& origin, const TFloatPoint3& axis1,
                     const TFloatPoint3& axis2, const TFloatPoint3& axis3) {
  b.Origin = origin;
  b.Axis1 = axis1;
  b.Axis2 = axis2;
  b.Axis3 = axis3;
  double det = Det3(axis1, axis2, axis3);
  if (!IsUsableDivisor(det)) {
    b.InvDet = 0;
    return false;
  }
  b.InvDet = 1.0 / det;
  return true;
}

TFloatPoint FloatBasisToWorld(const TFloatBasis& b, const TFloatPoint& local) {
  return {b.Origin.X + b.Axis1.X * local.X + b.Axis2.X * local.Y, b.Origin.Y + b.Axis1.Y * local.X + b.Axis2.Y * local.Y};
}

TFloatPoint FloatBasisToLocal(const TFloatBasis& b, const TFloatPoint& p) {
  double dx = double(p.X) - b.Origin.X, dy = double(p.Y) - b.Origin.Y;
  double x = (dx * b.Axis2.Y - dy * b.Axis2.X) * b.InvDet;
  double y = (double(b.Axis1.X) * dy - double(b.Axis1.Y) * dx) * b.InvDet;
  return {float(x), float(y)};
}

TFloatPoint3 FloatBasis3Direction(const TFloatBasis3& b, const TFloatPoint3& local) {
  return {b.Axis1.X * local.X + b.Axis2.X * local.Y + b.Axis3.X * local.Z,
          b.Axis1.Y * local.X + b.Axis2.Y * local.Y + b.Axis3.Y * local.Z,
          b.Axis1.Z * local.X + b.Axis2.Z * local.Y + b.Axis3.Z * local.Z};
}

TFloatPoint3 FloatBasis3ToWorld(const TFloatBasis3& b, const TFloatPoint3& local) {
  return AddFloatPoints3(b.Origin, FloatBasis3Direction(b, local));
}

TFloatPoint3 FloatBasis3ToLocal(const TFloatBasis3& b, const TFloatPoint3& p) {
  TFloatPoint3 d{p.X - b.Origin.X, p.Y - b.Origin.Y, p.Z - b.Origin.Z};
  return {float(Det3(d, b.Axis2, b.Axis3) * b.InvDet), float(Det3(b.Axis1, d, b.Axis3) * b.InvDet),
          float(Det3(b.Axis1, b.Axis2, d) * b.InvDet)};
}

// ---- TRectList ------------------------------------------------------------------

void TRectList::Clear() {
  Count = 0;
  std::vector<TRect>().swap(Items);
}

void TRectList::Reset() { Clear(); }

std::int32_t TRectList::Add(const TRect& r) {
  if (IsRectEmpty(r)) return -1;
  if (static_cast<std::size_t>(Count) >= Items.size()) Items.resize(Items.empty() ? 4 : Items.size() * 2);
  Items[static_cast<std::size_t>(Count)] = r;
  return Count++;
}

TRect TRectList::GetBounds() const {
  TRect b = kEmptyRect;
  for (std::int32_t i = 0; i < Count; ++i) UnionRectInPlace(b, (*this)[i]);
  return b;
}

void TRectList::Include(const TRect& r) {
  if (IsRectEmpty(r)) return;
  if (Count == 1) {
    if (RectInsideRect(r, Items[0])) return;
    if (RectInsideRect(Items[0], r)) {
      Items[0] = r;
      return;
    }
  }
  IncludeFrom(r, 0);
}

void TRectList::IncludeFrom(const TRect& r, std::int32_t index) {
  // Depth-first over the pieces, as a recursion would go, but without a call
  // per entry: long lists must not exhaust the stack.
  struct TPiece {
    TRect R;
    std::int32_t From;
  };
  std::vector<TPiece> work{{r, std::max(index, 0)}};
  while (!work.empty()) {
    TPiece piece = work.back();
    work.pop_back();
    if (IsRectEmpty(piece.R)) continue;
    bool placed = false;
    for (std::int32_t i = piece.From; i < Count; ++i) {
      const TRect e = Items[static_cast<std::size_t>(i)];
      if (RectInsideRect(piece.R, e)) {
        placed = true;
        break;
      }
      TRect o;
      if (!IntersectIntRect(piece.R, e, o)) continue;
      const TRect& p = piece.R;
      // Pushed in reverse so that the band above is handled first.
      work.push_back({{o.Right, o.Top, p.Right, o.Bottom}, i + 1});   // right of the overlap
      work.push_back({{p.Left, o.Top, o.Left, o.Bottom}, i + 1});     // left of the overlap
      work.push_back({{p.Left, o.Bottom, p.Right, p.Bottom}, i + 1}); // band below
      work.push_back({{p.Left, p.Top, p.Right, o.Top}, i + 1});       // band above
      placed = true;
      break;
    }
    if (!placed) Add(piece.R);
  }
}

void TRectList::Offset(std::int32_t dx, std::int32_t dy) {
  for (std::int32_t i = 0; i < Count; ++i) MoveRect(Items[static_cast<std::size_t>(i)], dx, dy);
}

bool TRectList::PtIn(const TPoint& p) const {
  for (std::int32_t i = 0; i < Count; ++i) {
    const TRect& r = (*this)[i];
    if (p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom) return true;
  }
  return false;
}

void TRectListWrapper::Dispose() {
  List.Clear();
  TRefObject::Dispose();
}

}  // namespace zm
