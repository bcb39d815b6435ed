#include "OruLib2/3DEngine/ShapeFilters.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/EffTiles.h"
#include "OruLib2/3DEngine/FilterFactory.h"

namespace oru {

using zm::TFloatPoint;

namespace {

float SaneFraction(float v) {
  if (!std::isfinite(v)) return 0.5f;
  return std::clamp(v, -100.0f, 100.0f);
}

double Width(const zm::TRect& r) { return double(r.Right) - double(r.Left); }
double Height(const zm::TRect& r) { return double(r.Bottom) - double(r.Top); }

}  // namespace

// ---- TCommonFilter ---------------------------------------------------------------------------------

TCommonFilter::TCommonFilter(float centerX, float centerY)
    : CenterX(SaneFraction(centerX)), CenterY(SaneFraction(centerY)) {}

void TCommonFilter::Init(const zm::TRect& rect, float edgeWidth, float duration) {
  TDrawFilter::Init(rect, edgeWidth, duration);
  CenterX = SaneFraction(CenterX);
  CenterY = SaneFraction(CenterY);
  Center = {float(Rect.Left + Width(Rect) * CenterX), float(Rect.Top + Height(Rect) * CenterY)};
  ComputeMaxRadius();
}

void TCommonFilter::Draw(TCustomD3DEffecter* controller) {
  DrawShape(controller ? controller->Controller() : nullptr);
}

void TCommonFilter::DrawShape(TEffController* controller) {
  if (controller) DrawInto(controller->GetMultiTile());
}

void TCommonFilter::DrawInto(TEffTile* tile) {
  if (!tile || !(Width(Rect) > 0) || !(Height(Rect) > 0)) return;
  double t = Progress * InvDuration;
  t = t > 0 ? std::min(t, 1.0) : 0.0;
  float r = float(t * MaxRadius);
  if (Reverse) r = MaxRadius - r;
  struct TileScope {
    TCommonFilter* f;
    ~TileScope() { f->Tile = nullptr; }
  } scope{this};
  Tile = tile;
  tile->Begin(emTextured, false);
  DrawRings(r, r - EdgeWidth);
  tile->End();
}

bool TCommonFilter::ReadBounds(zm::TRect& reads) {
  zm::TRef<TEffBoundsTile> box = zm::MakeRef<TEffBoundsTile>();
  DrawInto(box.get());
  return box->Bounds(TargetRect, reads);
}

void TCommonFilter::DrawRings(float a, float b) {
  if (!(a > 0.0f)) return;
  if (!(b <= a)) b = a;  // NaN or a negative softness: a hard edge
  if (b > 0.0f) DrawBand(-1, 255.0f, 255.0f, b, 0.0f);
  const float width = a - b;
  const TEaseTable& ease = EaseTable();
  float prevRadius = b, prevY = 0.0f;
  if (b < 0.0f) {
    // The edge is wider than the shape so far: start the ramp part-way,
    // at the centre. Width > 0 here, as b < 0 < a.
    prevRadius = 0.0f;
    prevY = EaseByte(-b * 255.0f / width);
  }
  int emitted = 0;
  for (int i = 1; i <= kEaseBands; ++i) {
    const float r = ease[std::size_t(i)].X * width / 255.0f + b;
    const float y = ease[std::size_t(i)].Y;
    if (!(r > 0.0f) || !(prevRadius < MaxRadius)) continue;
    // A thin band is merged into the next: it would cost triangles and show nothing.
    if (r - prevRadius < 2.0f && i != kEaseBands) continue;
    DrawBand(emitted++, 255.0f - y, 255.0f - prevY, r, prevRadius);
    prevRadius = r;
    prevY = y;
  }
}

void TCommonFilter::ComputeMaxRadius() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  const float far = std::max({Dist2(Center, {l, t}), Dist2(Center, {r, t}), Dist2(Center, {l, b}),
                              Dist2(Center, {r, b})});
  MaxRadius = std::sqrt(far) + EdgeWidth;
}

float TCommonFilter::OutsideX() const {
  return std::max({float(Rect.Left) - Center.X, 0.0f, Center.X - float(Rect.Right)});
}

float TCommonFilter::OutsideY() const {
  return std::max({float(Rect.Top) - Center.Y, 0.0f, Center.Y - float(Rect.Bottom)});
}

void TCommonFilter::Emit(TEffVertex a, TEffVertex b, TEffVertex c) {
  if (!Tile) return;
  const double w = Width(Rect), h = Height(Rect);
  if (!(w > 0) || !(h > 0)) return;
  const double sx = Width(TargetRect) / w, sy = Height(TargetRect) / h;
  const auto map = [&](TEffVertex v) {
    v.X = float(TargetRect.Left + (double(v.X) - Rect.Left) * sx);
    v.Y = float(TargetRect.Top + (double(v.Y) - Rect.Top) * sy);
    return v;
  };
  Tile->AddTriangle({map(a), map(b), map(c)});
}

void TCommonFilter::EmitQuad(TFloatPoint outer1, TFloatPoint outer2, TFloatPoint inner2, TFloatPoint inner1,
                             float outerCoverage, float innerCoverage, bool innerIsPoint) {
  const TEffVertex o1{outer1.X, outer1.Y, outerCoverage}, o2{outer2.X, outer2.Y, outerCoverage};
  const TEffVertex i1{inner1.X, inner1.Y, innerCoverage}, i2{inner2.X, inner2.Y, innerCoverage};
  Emit(o1, o2, i2);
  if (!innerIsPoint) Emit(o1, i2, i1);
}

// ---- TCircleFilter ---------------------------------------------------------------------------------

TCircleFilter::TCircleFilter(float centerX, float centerY, bool reverse) : TCommonFilter(centerX, centerY) {
  Reverse = reverse;
}

void TCircleFilter::ComputeMaxRadius() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  FarDist = std::sqrt(std::max({Dist2(Center, {l, t}), Dist2(Center, {r, t}), Dist2(Center, {l, b}),
                                Dist2(Center, {r, b})}));
  NearDist = std::hypot(OutsideX(), OutsideY());
  MaxRadius = FarDist - NearDist + EdgeWidth;
  // From outside, the visible arc is a small part of a large circle.
  Segments = NearDist > 0.0f ? 256 : 128;
}

void TCircleFilter::DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                             float innerRadius) {
  (void)index;
  const double ro = double(outerRadius) + NearDist, ri = double(innerRadius) + NearDist;
  if (!(ro > 0)) return;
  const int n = std::clamp(Segments, 3, 4096);
  // The polygon is drawn around the circle rather than inside it, so that
  // the core reaches every corner at the end. The hole of a centre outside
  // the area goes the other way, inside its circle, so that it never bites
  // into the area.
  const double half = std::cos(std::numbers::pi / n);
  const double go = ro / half, gi = innerRadius > 0.0f ? ri / half : ri * half;
  const bool innerIsPoint = !(ri > 0);
  const double cx = Center.X, cy = Center.Y;
  TFloatPoint prevOuter{float(cx + go), float(cy)}, prevInner{float(cx + gi), float(cy)};
  const TFloatPoint firstOuter = prevOuter, firstInner = prevInner;
  for (int s = 1; s <= n; ++s) {
    TFloatPoint outer = firstOuter, inner = firstInner;  // the strip closes on the first angle exactly
    if (s < n) {
      const double angle = 2.0 * std::numbers::pi * s / n;
      const double c = std::cos(angle), si = std::sin(angle);
      outer = {float(cx + go * c), float(cy + go * si)};
      inner = {float(cx + gi * c), float(cy + gi * si)};
    }
    EmitQuad(prevOuter, outer, inner, prevInner, outerCoverage, innerCoverage, innerIsPoint);
    prevOuter = outer;
    prevInner = inner;
  }
}

// ---- THLines / TVLines -----------------------------------------------------------------------------

void THLines::ComputeMaxRadius() {
  MaxRadius = std::max(std::fabs(Center.X - float(Rect.Left)), std::fabs(Center.X - float(Rect.Right))) + EdgeWidth;
}

void THLines::DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                       float innerRadius) {
  (void)index;
  const float t = float(Rect.Top), b = float(Rect.Bottom), cx = Center.X;
  for (const float side : {1.0f, -1.0f}) {
    const float xo = cx + side * outerRadius, xi = cx + side * innerRadius;
    EmitQuad({xo, t}, {xo, b}, {xi, b}, {xi, t}, outerCoverage, innerCoverage, false);
  }
}

void TVLines::ComputeMaxRadius() {
  MaxRadius = std::max(std::fabs(Center.Y - float(Rect.Top)), std::fabs(Center.Y - float(Rect.Bottom))) + EdgeWidth;
}

void TVLines::DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                       float innerRadius) {
  (void)index;
  const float l = float(Rect.Left), r = float(Rect.Right), cy = Center.Y;
  for (const float side : {1.0f, -1.0f}) {
    const float yo = cy + side * outerRadius, yi = cy + side * innerRadius;
    EmitQuad({l, yo}, {r, yo}, {r, yi}, {l, yi}, outerCoverage, innerCoverage, false);
  }
}

// ---- TDiagLines ------------------------------------------------------------------------------------

TDiagLines::TDiagLines(std::int32_t group, std::int32_t direction) : TCommonFilter(0.5f, 0.5f) {
  Swap = direction >= 3;
  const bool odd = direction == 1 || direction == 3;
  if (group == 8) {
    Mode = 1;
    Reverse = odd;
  } else {
    Mode = odd ? 0 : 2;
  }
}

void TDiagLines::ComputeMaxRadius() {
  const double w = Width(Rect), h = Height(Rect);
  double top = 0;
  if (Mode == 1)
    top = std::trunc((w + h) / 2);
  else if (Mode == 2)
    top = w + h;
  // From the middle diagonal both halves must be covered; with an odd
  // width + height the far one is a pixel longer.
  MaxRadius = float((Mode == 1 ? std::max(top, w + h - top) : w + h) + EdgeWidth);
  TopOffset = float(top);
  BottomOffset = float(top - h);
  if (Swap) std::swap(TopOffset, BottomOffset);
}

void TDiagLines::DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                          float innerRadius) {
  (void)index;
  const float l = float(Rect.Left), t = float(Rect.Top), b = float(Rect.Bottom);
  const auto band = [&](float ro, float ri) {
    EmitQuad({l + TopOffset + ro, t}, {l + BottomOffset + ro, b}, {l + BottomOffset + ri, b},
             {l + TopOffset + ri, t}, outerCoverage, innerCoverage, false);
  };
  if (Mode != 2) band(outerRadius, innerRadius);
  if (Mode != 0) band(-outerRadius, -innerRadius);
}

// ---- TRhombFilter ----------------------------------------------------------------------------------

void TRhombFilter::ComputeMaxRadius() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  const float dx = std::max(std::fabs(Center.X - l), std::fabs(Center.X - r));
  const float dy = std::max(std::fabs(Center.Y - t), std::fabs(Center.Y - b));
  Offset = OutsideX() + OutsideY();
  MaxRadius = dx + dy - Offset + EdgeWidth;
}

void TRhombFilter::DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                            float innerRadius) {
  (void)index;
  const float ro = outerRadius + Offset, ri = innerRadius + Offset;
  static constexpr TFloatPoint kDirs[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  const TFloatPoint c = Center;
  for (int q = 0; q < 4; ++q) {
    const TFloatPoint d1 = kDirs[q], d2 = kDirs[(q + 1) % 4];
    EmitQuad({c.X + d1.X * ro, c.Y + d1.Y * ro}, {c.X + d2.X * ro, c.Y + d2.Y * ro},
             {c.X + d2.X * ri, c.Y + d2.Y * ri}, {c.X + d1.X * ri, c.Y + d1.Y * ri}, outerCoverage, innerCoverage,
             !(ri > 0.0f));
  }
}

// ---- TSquareFilter ---------------------------------------------------------------------------------

void TSquareFilter::ComputeMaxRadius() {
  const double w = Width(Rect), h = Height(Rect);
  Aspect = w > 0 && h > 0 ? float(h / w) : 1.0f;
  const float k = 1.0f / Aspect;  // y distances in x units
  Offset = std::max(OutsideX(), OutsideY() * k);
  if (Offset > 0.0f) {
    MaxRadius = float(w) + EdgeWidth;
  } else {
    MaxRadius = std::max({Center.X - float(Rect.Left), float(Rect.Right) - Center.X,
                          (Center.Y - float(Rect.Top)) * k, (float(Rect.Bottom) - Center.Y) * k}) +
                EdgeWidth;
  }
}

void TSquareFilter::DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                             float innerRadius) {
  (void)index;
  const float wo = outerRadius + Offset, ho = wo * Aspect;
  const float wi = innerRadius + Offset, hi = wi * Aspect;
  const TFloatPoint c = Center;
  const TFloatPoint oTL{c.X - wo, c.Y - ho}, oTR{c.X + wo, c.Y - ho}, oBR{c.X + wo, c.Y + ho}, oBL{c.X - wo, c.Y + ho};
  const TFloatPoint iTL{c.X - wi, c.Y - hi}, iTR{c.X + wi, c.Y - hi}, iBR{c.X + wi, c.Y + hi}, iBL{c.X - wi, c.Y + hi};
  const bool point = !(wi > 0.0f);
  EmitQuad(oTL, oTR, iTR, iTL, outerCoverage, innerCoverage, point);
  EmitQuad(oTR, oBR, iBR, iTR, outerCoverage, innerCoverage, point);
  EmitQuad(oBR, oBL, iBL, iBR, outerCoverage, innerCoverage, point);
  EmitQuad(oBL, oTL, iTL, iBL, outerCoverage, innerCoverage, point);
}

// ---- Makers ---------------------------------------------------------------------------------------

namespace {

template <class T>
zm::TRef<TDrawFilter> MakeCentred(const TFilterRequest& r) {
  zm::TRef<TDrawFilter> f = zm::MakeRef<T>(r.Centre.X, r.Centre.Y);
  f->Reverse = r.Reverse;
  return f;
}

zm::TRef<TDrawFilter> MakeCircle(const TFilterRequest& r) {
  return zm::MakeRef<TCircleFilter>(r.Centre.X, r.Centre.Y, r.Reverse);
}

zm::TRef<TDrawFilter> MakeDiag(const TFilterRequest& r) { return zm::MakeRef<TDiagLines>(r.Group, r.Direction); }

struct TShapeMaker {
  TFilterClass Class;
  TFilterMaker Make;
};
constexpr TShapeMaker kShapeMakers[] = {
    {TFilterClass::Circle, &MakeCircle},
    {TFilterClass::Rhomb, &MakeCentred<TRhombFilter>},
    {TFilterClass::Square, &MakeCentred<TSquareFilter>},
    {TFilterClass::HLines, &MakeCentred<THLines>},
    {TFilterClass::VLines, &MakeCentred<TVLines>},
    {TFilterClass::DiagLines, &MakeDiag},
};
TFilterMaker gPrevious[std::size(kShapeMakers)] = {};

}  // namespace

void InitShapeFilters() {
  for (std::size_t i = 0; i < std::size(kShapeMakers); ++i)
    gPrevious[i] = RegisterFilterMaker(kShapeMakers[i].Class, kShapeMakers[i].Make);
}

void FiniShapeFilters() {
  for (std::size_t i = 0; i < std::size(kShapeMakers); ++i) {
    RegisterFilterMaker(kShapeMakers[i].Class, gPrevious[i]);
    gPrevious[i] = nullptr;
  }
}

}  // namespace oru
