#include "OruLib2/3DEngine/BroomFilters.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/EffTiles.h"
#include "OruLib2/3DEngine/FilterFactory.h"

namespace oru {

namespace {

constexpr double kPi = std::numbers::pi;

float NonNegative(float v) { return std::isfinite(v) && v > 0.0f ? v : 0.0f; }

TSweepArea SaneArea(const TSweepArea& a) {
  TSweepArea r = a;
  r.Top = std::isfinite(a.Top) ? a.Top : 0.0f;
  r.Left = std::isfinite(a.Left) ? a.Left : 0.0f;
  r.Width = NonNegative(a.Width);
  r.Height = NonNegative(a.Height);
  return r;
}

float Ramp(const TSweepRamp& ramp, double index) {
  if (!(index > 0.0)) return ramp[0];
  if (index >= 255.0) return ramp[255];
  return ramp[static_cast<std::size_t>(std::nearbyint(index))];  // ties to even
}

TEffVertex V(double x, double y, double c) { return {float(x), float(y), float(c)}; }

}  // namespace

const TSweepRamp& BroomRamp() {
  static const TSweepRamp ramp = [] {
    TSweepRamp r{};
    for (int i = 0; i < 128; ++i) {
      const int v = (i * i) >> 7;
      r[std::size_t(i)] = float(v);
      r[std::size_t(255 - i)] = float(255 - v);
    }
    return r;
  }();
  return ramp;
}

// One immutable table serves both: rebuilding a shared table while another
// filter reads it would race for nothing.
const TSweepRamp& ArrowRamp() { return BroomRamp(); }

// ---- TBroom ----------------------------------------------------------------------------------------

TBroom::TBroom(const TSweepArea& area, float edgeWidth, float offset) {
  const TSweepArea a = SaneArea(area);
  Top = a.Top;
  Height = a.Height;
  Left = a.Left;
  Width = a.Width;
  EdgeWidth = std::min(NonNegative(edgeWidth), 4.0f * (Width + Height) + 1.0f);
  Offset = std::min(NonNegative(offset), 2.0f * (Width + Height));
}

namespace {

// The terms of the broom table.
struct TBroomTerms {
  double b, e, w, h, aW, aH, cW, cH, d;
  explicit TBroomTerms(const TBroom& br, float edgeWidth)
      : b(br.Offset), e(edgeWidth), w(br.Width), h(br.Height) {
    // atan2 rather than atan of a quotient: a side of 0 is no division by zero.
    aW = std::atan2(2 * b, w);
    aH = std::atan2(2 * b, h);
    cW = std::atan2(b, w + b);
    cH = std::atan2(b, h + b);
    d = std::hypot(w / 2 + b, h / 2 + b);
  }
  double Edge(double dist) const { return 2 * std::atan2(e / 2, dist); }
};

void SetBroom(TBroom& br, double px, double py, double edge, double start, double end) {
  br.PivotX = float(px);
  br.PivotY = float(py);
  br.EdgeAngle = float(edge);
  br.StartAngle = float(start);
  br.EndAngle = float(end);
  br.CurrentAngle = br.StartAngle;
}

}  // namespace

TBroomUp::TBroomUp(const TSweepArea& area, float edgeWidth, float offset) : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.h / 2 + t.b);
  SetBroom(*this, Left + t.w / 2, Top - t.b, ea, kPi / 2 - ea + t.aW, 3 * kPi / 2 - t.aW);
}

TBroomRight::TBroomRight(const TSweepArea& area, float edgeWidth, float offset) : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.w / 2 + t.b);
  SetBroom(*this, Left + t.w + t.b, Top + t.h / 2, ea, kPi - ea + t.aH, 2 * kPi - t.aH);
}

TBroomDown::TBroomDown(const TSweepArea& area, float edgeWidth, float offset) : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.h / 2 + t.b);
  SetBroom(*this, Left + t.w / 2, Top + t.h + t.b, ea, 3 * kPi / 2 - ea + t.aW, 5 * kPi / 2 - t.aW);
  WrapAngles = true;
}

TBroomLeft::TBroomLeft(const TSweepArea& area, float edgeWidth, float offset) : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.w / 2 + t.b);
  SetBroom(*this, Left - t.b, Top + t.h / 2, ea, -ea + t.aH, kPi - t.aH);
}

TBroomUpRight::TBroomUpRight(const TSweepArea& area, float edgeWidth, float offset)
    : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.d);
  SetBroom(*this, Left + t.w + t.b, Top - t.b, ea, kPi - ea + t.cH, 3 * kPi / 2 - t.cW);
}

TBroomDownRight::TBroomDownRight(const TSweepArea& area, float edgeWidth, float offset)
    : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.d);
  SetBroom(*this, Left + t.w + t.b, Top + t.h + t.b, ea, 3 * kPi / 2 - ea + t.cW, 2 * kPi - t.cH);
}

TBroomDownLeft::TBroomDownLeft(const TSweepArea& area, float edgeWidth, float offset)
    : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.d);
  SetBroom(*this, Left - t.b, Top + t.h + t.b, ea, -ea + t.cH, kPi / 2 - t.cW);
}

TBroomUpLeft::TBroomUpLeft(const TSweepArea& area, float edgeWidth, float offset)
    : TBroom(area, edgeWidth, offset) {
  const TBroomTerms t(*this, EdgeWidth);
  const double ea = t.Edge(t.d);
  SetBroom(*this, Left - t.b, Top - t.b, ea, kPi / 2 - ea + t.cW, kPi - t.cH);
}

zm::TRef<TBroom> MakeBroom(std::int32_t direction, const TSweepArea& area, float edgeWidth, float offset) {
  switch (direction) {
    case 2: return zm::MakeRef<TBroomRight>(area, edgeWidth, offset);
    case 3: return zm::MakeRef<TBroomDown>(area, edgeWidth, offset);
    case 4: return zm::MakeRef<TBroomLeft>(area, edgeWidth, offset);
    case 5: return zm::MakeRef<TBroomUpRight>(area, edgeWidth, offset);
    case 6: return zm::MakeRef<TBroomDownRight>(area, edgeWidth, offset);
    case 7: return zm::MakeRef<TBroomDownLeft>(area, edgeWidth, offset);
    case 8: return zm::MakeRef<TBroomUpLeft>(area, edgeWidth, offset);
    default: return zm::MakeRef<TBroomUp>(area, edgeWidth, offset);
  }
}

void TBroom::Sweep(float phi) {
  CurrentAngle = phi;
  if (!std::isfinite(phi) || !Emit) return;
  constexpr float kStep = 0.0062831854f;  // 2pi / 1000
  constexpr int kSamples = 1000;
  const double px = PivotX, py = PivotY;
  // The rim must lie beyond the farthest corner, also for a far pivot, where
  // width + height + offset falls short; the chords of the fan cut a little
  // inside the circle.
  double far = 0;
  for (const double x : {double(Left), double(Left) + Width})
    for (const double y : {double(Top), double(Top) + Height}) far = std::max(far, std::hypot(x - px, y - py));
  const double r = std::max(double(Width) + Height + Offset, far * 1.001 + 1.0);
  const double edge = EdgeAngle > 0.0f ? EdgeAngle : 0.0;
  const TSweepRamp& ramp = BroomRamp();
  const auto theta = [&](int i) {
    double t = float(float(i) * kStep);
    if (WrapAngles && t < kPi) t += 2 * kPi;
    return t;
  };
  const auto coverage = [&](double t) -> double {
    if (t < phi) return 0.0;
    if (t < phi + edge) return Ramp(ramp, (t - phi) * 255.0 / edge);
    return 255.0;
  };
  int i = 0;
  double ti = theta(0), ci = coverage(ti);
  while (i < kSamples) {
    // Sample by sample inside the soft edge and just before it.
    const int s = (ti + 10.0 * kStep >= phi && phi + edge >= ti) ? 1 : 10;
    const int j = std::min(i + s, kSamples);
    const double tj = theta(j), cj = coverage(tj);
    Emit(V(px, py, (ci + cj) / 2), V(px + r * std::sin(tj), py - r * std::cos(tj), cj),
         V(px + r * std::sin(ti), py - r * std::cos(ti), ci));
    i = j;
    ti = tj;
    ci = cj;
  }
}

// ---- TSweepEffect ----------------------------------------------------------------------------------

void TSweepEffect::Draw(TCustomD3DEffecter* controller) {
  TEffController* c = controller ? controller->Controller() : nullptr;
  if (c) DrawInto(c->GetMultiTile());
}

void TSweepEffect::DrawInto(TEffTile* tile) {
  const TSweepArea a = Area();
  if (!tile || !(a.Width > 0) || !(a.Height > 0)) return;
  Tile = tile;
  tile->Begin(emTextured, false);
  try {
    Sweep();
  } catch (...) {
    tile->End();
    Tile = nullptr;
    throw;
  }
  tile->End();
  Tile = nullptr;
}

bool TSweepEffect::ReadBounds(zm::TRect& reads) {
  zm::TRef<TEffBoundsTile> box = zm::MakeRef<TEffBoundsTile>();
  DrawInto(box.get());
  return box->Bounds(TargetRect, reads);
}

TSweepArea TSweepEffect::Area() const {
  const double w = double(Rect.Right) - Rect.Left, h = double(Rect.Bottom) - Rect.Top;
  return {float(Rect.Top), float(std::max(h, 0.0)), float(Rect.Left), float(std::max(w, 0.0))};
}

float TSweepEffect::Fraction() const {
  const double t = Progress * InvDuration;
  return t > 0 ? float(std::min(t, 1.0)) : 0.0f;
}

void TSweepEffect::EmitCoverage(TEffVertex a, TEffVertex b, TEffVertex c) {
  // Where none of the slide shows the tile would blend nothing: the
  // untouched part of the area is not drawn at all.
  if (!Tile || (a.C >= 255.0f && b.C >= 255.0f && c.C >= 255.0f)) return;
  const double w = double(Rect.Right) - Rect.Left, h = double(Rect.Bottom) - Rect.Top;
  if (!(w > 0) || !(h > 0)) return;
  const double sx = (double(TargetRect.Right) - TargetRect.Left) / w;
  const double sy = (double(TargetRect.Bottom) - TargetRect.Top) / h;
  const auto map = [&](TEffVertex v) {
    return TEffVertex{float(TargetRect.Left + (double(v.X) - Rect.Left) * sx),
                      float(TargetRect.Top + (double(v.Y) - Rect.Top) * sy), 255.0f - v.C};
  };
  Tile->AddTriangle({map(a), map(b), map(c)});
}

bool TSweepEffect::Stale() {
  const bool stale = !(MadeFor == Rect) || MadeEdge != EdgeWidth;
  MadeFor = Rect;
  MadeEdge = EdgeWidth;
  return stale;
}

void TSweepEffect::EmitWholeArea() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  EmitCoverage({l, t, 0}, {l, b, 0}, {r, t, 0});
  EmitCoverage({r, t, 0}, {l, b, 0}, {r, b, 0});
}

// ---- TBroomEffect ----------------------------------------------------------------------------------

TBroomEffect::TBroomEffect(std::int32_t code, float spread) : Spread(NonNegative(spread)) {
  if (code < 1 || code > 16) code = 1;
  if (code > 8) {
    Reverse = true;
    code -= 8;
  }
  Direction = code;
}

void TBroomEffect::Dispose() {
  Broom = nullptr;
  TSweepEffect::Dispose();
}

void TBroomEffect::MakeBroomIfStale() {
  const bool stale = Stale();
  if (Broom && !stale) return;
  Broom = MakeBroom(Direction, Area(), EdgeWidth, Spread);
  Broom->Emit = [this](const TEffVertex& p, const TEffVertex& q, const TEffVertex& r) { EmitCoverage(p, q, r); };
  BaseAngle = Broom->StartAngle;
  AngleRange = Broom->EndAngle - Broom->StartAngle;
}

void TBroomEffect::Sweep() {
  MakeBroomIfStale();
  const float t = Reverse ? 1.0f - Fraction() : Fraction();
  // The ends exactly: a hard or narrow edge would leave a sample-wide
  // blend at the first and last corner.
  if (t <= 0.0f) return;
  if (t >= 1.0f) {
    EmitWholeArea();
    return;
  }
  Broom->Sweep(AngleRange * t + BaseAngle);
}

namespace {

// a x + b y + c >= 0 over target pixels.
struct TBroomHalfPlane {
  double a = 0, b = 0, c = 0;
};

// The pixels kept a margin inside the true edges: the fan's pivot may be
// moved two pixels out where it lies on the area's left or top edge, and
// pixel centres may sit half a pixel either way.
constexpr double kBroomMargin = 3.5;
// Rows per unit of the band search, and the cost of one more band (the
// extra draws it takes) against pixels drawn the long way, as a share of
// the frame's pixels.
constexpr std::int32_t kBroomUnitRows = 16;
constexpr double kBroomBandShare = 1.0 / 8;

// The pixels x of row y inside every plane: [lo, hi], empty when lo > hi.
void BroomRowInterval(const std::vector<TBroomHalfPlane>& planes, double y, double& lo, double& hi) {
  lo = -1e30;
  hi = 1e30;
  for (const TBroomHalfPlane& h : planes) {
    const double k = h.b * y + h.c;
    if (h.a > 1e-12) {
      lo = std::max(lo, -k / h.a);
    } else if (h.a < -1e-12) {
      hi = std::min(hi, -k / h.a);
    } else if (k < 0) {
      lo = 1e30;
      hi = -1e30;
    }
  }
}

struct TBroomSpan {
  std::int32_t l = 0, r = 0;  // empty when l >= r
  std::int32_t Width() const { return r > l ? r - l : 0; }
};

// The whole pixels of rows [y0, y1) a pixel inside every plane, cut to [minX, maxX).
TBroomSpan BroomBandSpan(const std::vector<TBroomHalfPlane>& planes, std::int32_t y0, std::int32_t y1,
                         std::int32_t minX, std::int32_t maxX) {
  if (planes.empty()) return {};
  double lo0, hi0, lo1, hi1;
  BroomRowInterval(planes, double(y0) - 1.0, lo0, hi0);
  BroomRowInterval(planes, double(y1) + 1.0, lo1, hi1);
  const double lo = std::max(lo0, lo1) + 1.0, hi = std::min(hi0, hi1) - 1.0;
  if (!(lo < hi)) return {};
  TBroomSpan s;
  s.l = std::int32_t(std::max(std::ceil(std::max(lo, double(minX))), double(minX)));
  s.r = std::int32_t(std::min(std::floor(std::min(hi, double(maxX))), double(maxX)));
  return s.l < s.r ? s : TBroomSpan{};
}

TBroomSpan BroomMeet(TBroomSpan a, TBroomSpan b) {
  const TBroomSpan m{std::max(a.l, b.l), std::min(a.r, b.r)};
  return m.l < m.r ? m : TBroomSpan{};
}

}  // namespace

bool TBroomEffect::DirectBands(std::vector<TDirectBand>& bands) {
  bands.clear();
  const TSweepArea area = Area();
  const zm::TRect& T = TargetRect;
  if (!(area.Width > 0) || !(area.Height > 0) || T.Right <= T.Left || T.Bottom <= T.Top) return false;
  // Beyond any screen the band table is not made.
  if (std::int64_t(T.Right) - T.Left > 65536 || std::int64_t(T.Bottom) - T.Top > 65536) return false;
  MakeBroomIfStale();
  const float t = Reverse ? 1.0f - Fraction() : Fraction();
  if (!(t > 0.0f) || !(t < 1.0f) || !Broom) return false;
  const TBroom& br = *Broom;
  // The angle Sweep is given, in the same float steps.
  const double phi = AngleRange * t + BaseAngle;
  if (!std::isfinite(phi)) return false;
  constexpr double kStep = 2 * kPi / 1000;
  const double edge = br.EdgeAngle > 0.0f ? br.EdgeAngle : 0.0;
  const double fanLow = br.WrapAngles ? kPi : 0.0;
  // The swept part: the fan's full triangles reach to within a sample of Phi;
  // the part ahead: past the soft edge and the sample that closes it.
  const double inLow = std::max(double(br.StartAngle) + edge, fanLow), inHigh = phi - 2 * kStep;
  const double outLow = phi + edge + 2 * kStep, outHigh = br.EndAngle;
  // Area pixels to target pixels, as EmitCoverage maps them.
  const double sx = (double(T.Right) - T.Left) / area.Width, sy = (double(T.Bottom) - T.Top) / area.Height;
  const auto plane = [&](double angle, double sign) {
    // n . (p - pivot) with n = (cos, sin): positive ahead of the hand at Angle.
    const double nx = std::cos(angle) * sign, ny = std::sin(angle) * sign;
    TBroomHalfPlane h{nx / sx, ny / sy,
                      nx * (area.Left - T.Left / sx - br.PivotX) + ny * (area.Top - T.Top / sy - br.PivotY)};
    const double len = std::hypot(h.a, h.b);
    h.a /= len;
    h.b /= len;
    h.c = h.c / len - kBroomMargin;
    return h;
  };
  std::vector<TBroomHalfPlane> in, out;
  if (inHigh > inLow) in = {plane(inLow, 1.0), plane(inHigh, -1.0)};
  if (outHigh > outLow) out = {plane(outLow, 1.0), plane(outHigh, -1.0)};
  const std::int64_t rows = std::int64_t(T.Bottom) - T.Top;
  const std::int32_t units = std::int32_t((rows + kBroomUnitRows - 1) / kBroomUnitRows);
  std::vector<TBroomSpan> whole(static_cast<std::size_t>(units)), clear(static_cast<std::size_t>(units));
  const auto unitTop = [&](std::int32_t u) { return T.Top + u * kBroomUnitRows; };
  const auto unitBottom = [&](std::int32_t u) { return std::min(T.Bottom, unitTop(u) + kBroomUnitRows); };
  for (std::int32_t u = 0; u < units; ++u) {
    // Whole pixels stay clear of the area's first rows and columns, where the
    // fan's corners are moved out.
    if (unitTop(u) >= T.Top + 3) whole[std::size_t(u)] = BroomBandSpan(in, unitTop(u), unitBottom(u), T.Left + 3, T.Right);
    clear[std::size_t(u)] = BroomBandSpan(out, unitTop(u), unitBottom(u), T.Left, T.Right);
  }
  // Units joined into bands: each band costs a few draws, each pixel a band
  // loses to its narrower intervals is drawn the long way.
  const double bandCost = std::max(64.0, kBroomBandShare * double(rows) * (double(T.Right) - T.Left));
  std::vector<double> best(std::size_t(units) + 1, 0.0);
  std::vector<std::int32_t> from(std::size_t(units) + 1, 0);
  for (std::int32_t j = 1; j <= units; ++j) {
    best[std::size_t(j)] = 1e300;
    TBroomSpan w{-(1 << 29), 1 << 29}, c{-(1 << 29), 1 << 29};
    double wSum = 0, cSum = 0;
    std::int64_t n = 0;
    for (std::int32_t i = j - 1; i >= 0; --i) {
      const std::int64_t h = unitBottom(i) - unitTop(i);
      w = BroomMeet(w, whole[std::size_t(i)]);
      c = BroomMeet(c, clear[std::size_t(i)]);
      wSum += double(h) * whole[std::size_t(i)].Width();
      cSum += double(h) * clear[std::size_t(i)].Width();
      n += h;
      const double lost = 2.5 * (wSum - double(n) * w.Width()) + (cSum - double(n) * c.Width());
      const double cost = best[std::size_t(i)] + bandCost + lost;
      if (cost < best[std::size_t(j)]) {
        best[std::size_t(j)] = cost;
        from[std::size_t(j)] = i;
      }
    }
  }
  for (std::int32_t j = units; j > 0; j = from[std::size_t(j)]) {
    const std::int32_t i = from[std::size_t(j)];
    TBroomSpan w{-(1 << 29), 1 << 29}, c{-(1 << 29), 1 << 29};
    for (std::int32_t k = i; k < j; ++k) {
      w = BroomMeet(w, whole[std::size_t(k)]);
      c = BroomMeet(c, clear[std::size_t(k)]);
    }
    bands.push_back({unitTop(i), unitBottom(j - 1), w.l, w.r, c.l, c.r});
  }
  std::reverse(bands.begin(), bands.end());
  return true;
}

// ---- TArrow ----------------------------------------------------------------------------------------

TArrow::TArrow(const TSweepArea& area, float centerX, float centerY, float edgeWidth) {
  const TSweepArea a = SaneArea(area);
  Top = a.Top;
  Height = a.Height;
  Left = a.Left;
  Width = a.Width;
  CenterX = std::isfinite(centerX) ? centerX : Left + Width / 2;
  CenterY = std::isfinite(centerY) ? centerY : Top + Height / 2;
  // Wider than a few areas the edge is all there is; kept finite.
  EdgeWidth = edgeWidth > 0.0f ? std::min(edgeWidth, 4.0f * (Width + Height) + 1.0f) : 0.001f;
}

namespace {

struct TP {
  double x, y;
};
TP Lerp(TP a, TP b, double u) { return {(1 - u) * a.x + u * b.x, (1 - u) * a.y + u * b.y}; }

// The arrow's picture for one angle; the values are worked out in doubles,
// the lines through the pivot kept as offsets along the turning direction so
// that a horizontal hand needs no tangent.
class TArrowPainter {
public:
  TArrowPainter(const TArrow& a, double phi) : arrow_(a), phi_(phi) {
    e_ = a.EdgeWidth;
    cx_ = a.CenterX;
    cy_ = a.CenterY;
    c_ = std::cos(phi);
    s_ = std::sin(phi);
    top_ = a.Top;
    bottom_ = double(a.Top) + a.Height;
    left_ = a.Left;
    right_ = double(a.Left) + a.Width;
    x0_ = cx_ - e_ / 2;
    firstHalf_ = phi < kPi;
    const double sg = firstHalf_ ? 1.0 : -1.0;
    xa_ = cx_ + sg * e_ / 2;
    xi_ = cx_ - sg * e_ / 2;
    sideA_ = firstHalf_ ? right_ : left_;
    sideI_ = firstHalf_ ? left_ : right_;
    oU_ = firstHalf_ ? -e_ / 2 : e_ / 2;
    oD_ = -oU_;
    c0_ = firstHalf_ ? 255.0 : 0.0;
  }

  void Paint() {
    for (int k = 0; k < 10; ++k) Strip(k);
    // The regions outside both bands: right above, right below, left above, left below.
    // Right above is swept whichever half the hand is in, left above never.
    const double xr = firstHalf_ ? xa_ : xi_, xl = firstHalf_ ? xi_ : xa_;
    Region(xr, right_, true, 0.0);
    Region(xr, right_, false, c0_);
    Region(xl, left_, true, 255.0);
    Region(xl, left_, false, c0_);
  }

private:
  // The point of the line at offset O along the turning direction at x = X.
  TP At(double o, double x) const { return {x, cy_ + (o - c_ * (x - cx_)) / s_}; }
  double Xk(int k) const { return k == 10 ? cx_ + e_ / 2 : x0_ + e_ * k / 10; }
  // Hand-band line k: k / 10 of the way from the ahead boundary to the behind one.
  double Ok(int k) const { return k == 10 ? -e_ / 2 : e_ / 2 - e_ * k / 10; }

  void Tri(TP a, double va, TP b, double vb, TP c, double vc) const {
    arrow_.Emit(V(a.x, a.y, va), V(b.x, b.y, vb), V(c.x, c.y, vc));
  }
  void Quad(TP a, double va, TP b, double vb, TP c, double vc, TP d, double vd) const {
    Tri(a, va, b, vb, c, vc);
    Tri(a, va, c, vc, d, vd);
  }

  // The value of a point in the overlap of the two bands.
  double Blend(TP p) const {
    const TSweepRamp& ramp = ArrowRamp();
    const double a = Ramp(ramp, 255.0 * (p.x - x0_) / e_);
    const double f = (e_ / 2 - (c_ * (p.x - cx_) + s_ * (p.y - cy_))) / e_;
    const double b = Ramp(ramp, 255.0 * f);
    constexpr double k09 = 0.9 * kPi, k11 = 1.1 * kPi;
    double s;
    if (phi_ < k09) {
      const double m = std::min(a, b), w = (k09 - phi_) / k09;
      s = m + (a + b - 255.0 - m) * w * w;
    } else if (phi_ < kPi) {
      s = std::min(a, b);
    } else if (phi_ <= k11) {
      s = std::max(a, b);
    } else {
      const double m = std::max(a, b), w = (phi_ - k11) / k09;
      s = m + (a + b - m) * w * w;
    }
    return 255.0 - std::clamp(s, 0.0, 255.0);
  }

  // One piece of the overlap: rulings a-a2 and b-b2 cut into twenty steps.
  void Piece(TP a, TP b, TP a2, TP b2) const {
    const TP m = Lerp(a, a2, 0.5), m2 = Lerp(b, b2, 0.5);
    for (const bool second : {false, true}) {
      const TP from = second ? a2 : a, from2 = second ? b2 : b;
      for (int j = 0; j < 10; ++j) {
        const TP s0 = Lerp(from, m, j / 10.0), s1 = Lerp(from, m, (j + 1) / 10.0);
        const TP t0 = Lerp(from2, m2, j / 10.0), t1 = Lerp(from2, m2, (j + 1) / 10.0);
        Quad(s0, Blend(s0), s1, Blend(s1), t1, Blend(t1), t0, Blend(t0));
      }
    }
  }

  void Strip(int k) const {
    const TSweepRamp& ramp = ArrowRamp();
    const double xk = Xk(k), xk1 = Xk(k + 1);
    const TP uk = At(oU_, xk), uk1 = At(oU_, xk1), dk = At(oD_, xk), dk1 = At(oD_, xk1);
    const TP pk = At(Ok(k), xa_), pk1 = At(Ok(k + 1), xa_), nk = At(Ok(k), xi_), nk1 = At(Ok(k + 1), xi_);
    Piece(uk, uk1, pk, pk1);
    Piece(nk, nk1, dk, dk1);
    const double va = Ramp(ramp, 255.0 * (10 - k) / 10), vb = Ramp(ramp, 255.0 * (9 - k) / 10);
    // Above the overlap, up to the top edge. Where the boundary leaves
    // through the top edge inside the strip the quad closes on the crossing:
    // folded over it, it would draw the slide twice.
    TP q0{xk, top_}, q3{xk1, top_};
    if (uk1.y <= top_) {
      q3 = uk1;
    } else if (uk.y <= top_) {
      q0 = uk;
    }
    Quad(q0, va, uk, va, uk1, vb, q3, vb);
    // The hand band on the active side, out to the side edge.
    Quad(pk, va, pk1, vb, At(Ok(k + 1), sideA_), vb, At(Ok(k), sideA_), va);
    // Below the overlap, down to the bottom edge; likewise closed where the
    // boundary leaves through the bottom edge on the strip's right.
    const TP q2 = dk1.y >= bottom_ ? dk1 : TP{xk1, bottom_};
    Quad(dk, c0_, dk1, c0_, q2, c0_, {xk, bottom_}, c0_);
    // The hand band on the inactive side.
    Quad(nk, c0_, nk1, c0_, At(Ok(k + 1), sideI_), c0_, At(Ok(k), sideI_), c0_);
  }

  // The region beyond band edge X on one side, above the hand band or below.
  // Each is decided on its own boundary point: with a pivot off the centre
  // the two sides are not mirror images.
  void Region(double x, double side, bool above, double v) const {
    const double o = above ? oU_ : oD_, edge = above ? top_ : bottom_;
    const TP corner = At(o, x), q = At(o, side), e{x, edge};
    const bool leaves = above ? q.y < top_ : q.y > bottom_;
    if (leaves) {
      Tri(e, v, corner, v, q, v);
    } else {
      const TP areaCorner{side, edge};
      Tri(e, v, corner, v, areaCorner, v);
      Tri(corner, v, q, v, areaCorner, v);
    }
  }

  const TArrow& arrow_;
  double phi_, e_, cx_, cy_, c_, s_, top_, bottom_, left_, right_, x0_, xa_, xi_, sideA_, sideI_, oU_, oD_, c0_;
  bool firstHalf_;
};

}  // namespace

void TArrow::Sweep(float phi) {
  if (std::isnan(phi)) return;
  constexpr float kTwoPi = float(2 * kPi);
  phi = std::clamp(phi, 0.0f, kTwoPi);
  CurrentAngle = phi;
  if (!Emit) return;
  if (std::fabs(double(phi)) < 0.000001) return;
  // A half turn is drawn as just under it, by the rules of the first half.
  if (std::fabs(double(phi) - kPi) < 0.000001) phi = std::bit_cast<float>(0x40490FD6u);
  const double l = Left, t = Top, r = double(Left) + Width, b = double(Top) + Height;
  if (std::fabs(double(phi) - 2 * kPi) < 0.000001) {
    Emit(V(l, t, 0), V(l, b, 0), V(r, t, 0));
    Emit(V(r, t, 0), V(l, b, 0), V(r, b, 0));
    return;
  }
  const double p = phi, e = EdgeWidth, tn = std::tan(p);
  TanAngle = float(tn);
  // Where the band's boundaries cross the bottom edge; kept finite for a
  // hand that is all but horizontal.
  const double ahead = double(CenterX) + e / 2 * std::cos(p) - ((b - CenterY) - e / 2 * std::sin(p)) * tn;
  const double behind = ahead - e / std::cos(p);
  const auto keep = [](double v) { return float(std::clamp(v, -1e30, 1e30)); };
  BandRightX = keep(std::max(ahead, behind));
  BandLeftX = keep(std::min(ahead, behind));
  TArrowPainter(*this, p).Paint();
}

// ---- TClockEffect ----------------------------------------------------------------------------------

TClockEffect::TClockEffect(float centerX, float centerY, bool mirror)
    : CenterX(std::isfinite(centerX) ? std::clamp(centerX, -100.0f, 100.0f) : 0.5f),
      CenterY(std::isfinite(centerY) ? std::clamp(centerY, -100.0f, 100.0f) : 0.5f),
      Mirror(mirror) {}

void TClockEffect::Dispose() {
  Arrow = nullptr;
  TSweepEffect::Dispose();
}

void TClockEffect::Sweep() {
  const TSweepArea a = Area();
  const bool stale = Stale();
  if (!Arrow || stale) {
    const float cx = std::trunc(a.Width * CenterX + a.Left), cy = std::trunc(a.Height * CenterY + a.Top);
    Arrow = zm::MakeRef<TArrow>(a, cx, cy, EdgeWidth);
    Arrow->Emit = [this](const TEffVertex& p, const TEffVertex& q, const TEffVertex& r) {
      if (!Mirror) {
        EmitCoverage(p, r, q);
        return;
      }
      // Reflected, the order is kept: the winding on screen stays the same.
      const float sum = float(double(Rect.Left) + Rect.Right);
      EmitCoverage({sum - p.X, p.Y, p.C}, {sum - q.X, q.Y, q.C}, {sum - r.X, r.Y, r.C});
    };
  }
  Arrow->Sweep(float(2 * kPi * Fraction()));
}

// ---- Makers ---------------------------------------------------------------------------------------

namespace {

zm::TRef<TDrawFilter> MakeClock(const TFilterRequest& r) {
  return zm::MakeRef<TClockEffect>(r.Centre.X, r.Centre.Y, r.Mirror);
}
zm::TRef<TDrawFilter> MakeBroomEffect(const TFilterRequest& r) {
  return zm::MakeRef<TBroomEffect>(r.Direction, r.Offset);
}

TFilterMaker gPrevClock = nullptr, gPrevBroom = nullptr;

}  // namespace

void InitBroomFilters() {
  gPrevClock = RegisterFilterMaker(TFilterClass::Clock, &MakeClock);
  gPrevBroom = RegisterFilterMaker(TFilterClass::Broom, &MakeBroomEffect);
}

void FiniBroomFilters() {
  RegisterFilterMaker(TFilterClass::Clock, gPrevClock);
  RegisterFilterMaker(TFilterClass::Broom, gPrevBroom);
  gPrevClock = gPrevBroom = nullptr;
}

}  // namespace oru
