#include "OruLib2/3DEngine/RollFilter.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/FilterFactory.h"

namespace oru {

using namespace zm;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTiny = 2.94e-39;   // below this a quotient's divisor counts as 0
constexpr float kDiag = 0.70710677f;
constexpr double kMaxVolume = 1e6;  // beyond this the depths stop being finite

constexpr TFloatPoint kRollerDirs[8] = {{1, 0},          {-1, 0},         {0, -1},          {0, 1},
                                        {kDiag, kDiag},  {kDiag, -kDiag}, {-kDiag, kDiag}, {-kDiag, -kDiag}};

double Sign(double v) { return v < 0 ? -1.0 : 1.0; }

// The angle of (-e, -z0): the offset of a rolled point from the start edge
// measured from the sheet's plane towards the viewer. Literal atan with the
// half-turn added for negative results, as the turn below expects.
double TurnAngle(double z0, double e) {
  if (std::fabs(e) < kTiny) return kPi / 2;
  double a = std::atan(z0 / e);
  if (a < 0) a += kPi;
  return a;
}

// The along-axis offset from the roll line of a point D along the sheet:
// on the arc up to Arc, then straight on from the arc's end.
double Unroll(double d, double r, double phi) {
  return r * std::sin(phi) - std::cos(kPi - phi) * (d - phi * r);
}

TSepVertex At(double x, double y, double shade) {
  return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(shade)};
}

bool Finite(const TPoint3F& p) { return std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z); }

constexpr float kPlaneEps = 1e-3f;  // depths this close to the slide's plane lie on it

// The part of a triangle in front of the slide's plane (depth <= 0), as up
// to four corners; everything along an edge is linear, as the device
// interpolates it.
int ClipToFront(const TSheetPoint (&in)[3], TSheetPoint (&out)[4]) {
  int n = 0;
  for (int i = 0; i < 3; ++i) {
    const TSheetPoint& a = in[i];
    const TSheetPoint& b = in[(i + 1) % 3];
    const bool aIn = a.P.Z <= kPlaneEps, bIn = b.P.Z <= kPlaneEps;
    if (aIn) out[n++] = a;
    if (aIn == bIn) continue;
    const float t = (kPlaneEps - a.P.Z) / (b.P.Z - a.P.Z);
    const auto mix = [t](float u, float v) { return u + (v - u) * t; };
    out[n++] = {{mix(a.P.X, b.P.X), mix(a.P.Y, b.P.Y), mix(a.P.Z, b.P.Z)}, mix(a.X, b.X), mix(a.Y, b.Y),
                mix(a.C, b.C)};
  }
  return n;
}

}  // namespace

// ---- TRoller3 ---------------------------------------------------------------------------------------

TRoller3::TRoller3(std::int32_t kind, float volume, bool useVolume, const TRect& area) {
  Dir = kRollerDirs[(kind >= 1 && kind <= 8 ? kind : 1) - 1];
  const auto l = static_cast<float>(area.Left), t = static_cast<float>(area.Top);
  const auto r = static_cast<float>(area.Right), b = static_cast<float>(area.Bottom);
  NearX = Dir.X >= 0 ? l : r;
  FarX = Dir.X >= 0 ? r : l;
  NearY = Dir.Y >= 0 ? t : b;
  FarY = Dir.Y >= 0 ? b : t;
  Width = static_cast<float>(std::int64_t(area.Right) - area.Left);
  Height = static_cast<float>(std::int64_t(area.Bottom) - area.Top);
  UseVolume = useVolume && std::isfinite(volume) && volume > 0;
  Volume = UseVolume ? static_cast<float>(std::min<double>(volume, kMaxVolume)) : volume;
}

void TRoller3::GetRange(float& start, float& end) const {
  const double f = UseVolume ? kPi / 2 : 1.0;
  const double r = Radius;
  if (Dir.X == 0) {
    start = static_cast<float>(NearY - Sign(Dir.Y) * r * f);
    end = FarY;
  } else if (Dir.Y == 0) {
    start = static_cast<float>(NearX - Sign(Dir.X) * r * f);
    end = FarX;
  } else {
    start = static_cast<float>(NearX - Sign(Dir.X) * ((double(Height) - Width) / 2 + r * f / 1.41421356));
    end = FarX;
  }
}

void TRoller3::SetPosition(float position) {
  Position = position;
  if (ArcAngle > kTubeAngle) ArcAngle = kTubeAngle;
  if (Diagonal())
    GenerateDiagonal();
  else
    GenerateStraight();
}

double TRoller3::ShadeOf(double theta) const {
  theta = std::clamp(theta, 0.0, double(ArcAngle));
  return ShadeMin + std::fabs(std::cos(theta)) * (double(ShadeMax) - ShadeMin);
}

double TRoller3::SplitFor(double b, double y) const {
  if (!UseVolume) return kPi / 2;
  const double r = Radius;
  const double x = std::fabs(double(Height)) / Volume + r - b;
  const double d = y * y + x * x - 2 * x * r;
  if (!(d >= 0)) return kPi / 2;
  const double den = 2 * r - x;
  double best = INFINITY;
  for (const double root : {(-y + std::sqrt(d)) / den, (-y - std::sqrt(d)) / den}) {
    if (std::isnan(root)) continue;
    const double phi = std::fabs(root) < kTiny ? kPi / 2 : kPi - 2 * std::atan(1 / root);
    best = std::min(best, phi);
  }
  return std::isfinite(best) ? best : kPi / 2;
}

void TRoller3::EmitStrip(const TSepVertex& p, const TSepVertex& q, const TSepVertex& v, const TSepVertex& w,
                         bool firstOrder, bool back) {
  if (!Emit) return;
  if (firstOrder) {
    Emit({p, v, q}, back);
    Emit({v, w, q}, back);
  } else {
    Emit({p, q, v}, back);
    Emit({v, q, w}, back);
  }
}

void TRoller3::GenerateStraight() {
  const bool alongX = Dir.Y == 0;
  const double sign = alongX ? Dir.X : Dir.Y;
  const double start = alongX ? NearX : NearY, end = alongX ? FarX : FarY;
  AxisSign = static_cast<float>(sign);
  const double p = Position, r = Radius;
  double phiS = kPi / 2;
  if (UseVolume) {
    const double t = (start - p) * sign;
    // While the roll line has not reached the start edge the roll is turned
    // about that edge.
    const double a = t > 0 ? start - std::sin(t / r) * sign * r : p;
    const double b = t > 0 ? std::cos(t / r) * r : r;
    phiS = SplitFor(b, (a - (start + end) / 2) * sign);
  }
  splitAngle_ = phiS;
  const double arcEnd = p + sign * r * ArcAngle, split = p + sign * r * phiS;
  const auto ends = [&](double c, TSepVertex& first, TSepVertex& second) {
    const double shade = ShadeOf((c - p) * sign / r);
    first = alongX ? At(c, NearY, shade) : At(NearX, c, shade);
    second = alongX ? At(c, FarY, shade) : At(FarX, c, shade);
  };
  const bool firstOrder = Dir.Y < 0 || Dir.X > 0;
  double c = start;
  TSepVertex pv, qv;
  ends(c, pv, qv);
  while ((c - end) * sign < 0) {
    const double step = ((c + kFlatStep * sign - p) * sign < 0 || (c - arcEnd) * sign > 0) ? kFlatStep * sign
                                                                                          : ArcStep * sign;
    const bool back = (c - split) * sign >= 0;
    double next;
    if ((c + step - split) * sign > 0 && (c - split) * sign < 0)
      next = split;
    else if ((c + step - end) * sign > 0)
      next = end;
    else
      next = c + step;
    TSepVertex vv, wv;
    ends(next, vv, wv);
    EmitStrip(pv, qv, vv, wv, firstOrder, back);
    c = next;
    pv = vv;
    qv = wv;
  }
}

void TRoller3::GenerateDiagonal() {
  const double dx = Dir.X, s = Sign(Dir.X), s2 = Sign(Dir.Y);
  const double w = Width, h = Height, nx = NearX, ny = NearY, p = Position, r = Radius;
  WidthMark = static_cast<float>(nx + s * w / 2);
  HeightMark = static_cast<float>(nx + s * h / 2);
  DiagonalLine = static_cast<float>(p - s * (std::fabs(w) - std::fabs(h)) / 2);
  const double wm = WidthMark, hm = HeightMark, dl = DiagonalLine;
  const double firstCorner = nx + s * std::min(w, h) / 2, secondCorner = nx + s * std::max(w, h) / 2;
  const double end = firstCorner + secondCorner - nx;
  double phiS = kPi / 2;
  if (UseVolume) {
    const double e = nx - s * (h - w) / 2;
    const double t = (e - p) / dx;
    const double a = t > 0 ? (e + nx) / 2 - std::sin(t / r) * dx * r : dl;
    const double b = t > 0 ? std::cos(t / r) * r : r;
    phiS = SplitFor(b, (a - wm) / dx);
  }
  splitAngle_ = phiS;
  const double arcEnd = dl + dx * r * ArcAngle, split = dl + dx * r * phiS;
  // A cut line at c meets the edges 2 |c - NearX| from the near corner.
  const auto ends = [&](double c, TSepVertex& first, TSepVertex& second) {
    const double shade = ShadeOf((c - dl) / dx / r);
    first = (c - hm) * dx > 0 ? At(nx + 2 * s * std::fabs(c - hm), FarY, shade)
                              : At(nx, ny + 2 * s2 * std::fabs(c - nx), shade);
    second = (c - wm) * dx >= 0 ? At(FarX, ny + 2 * s2 * std::fabs(c - wm), shade)
                                : At(nx + 2 * s * std::fabs(c - nx), ny, shade);
  };
  const bool firstOrder = !(double(Dir.X) * Dir.Y > 0);
  double c = nx;
  TSepVertex pv, qv;
  ends(c, pv, qv);
  while ((c - end) * dx < 0) {
    const double step =
        ((c + kFlatStep * s - dl) * dx < 0 || (c - arcEnd) * dx > 0) ? kFlatStep * s : ArcStep * s;
    const bool back = (c - split) * dx >= 0;
    double next = c + step;
    bool cut = false;
    for (const double m : {firstCorner, secondCorner, split})
      if ((c + step - m) * dx > 0 && (c - m) * dx < 0) {
        next = m;
        cut = true;
        break;
      }
    if (!cut && (c + step - end) * dx > 0) next = end;
    TSepVertex vv, wv;
    ends(next, vv, wv);
    EmitStrip(pv, qv, vv, wv, firstOrder, back);
    c = next;
    pv = vv;
    qv = wv;
  }
}

bool TRoller3::HiddenByBack(const TPoint3F* points, std::int32_t count) const {
  if (UseVolume) return false;
  const double p = Position, r = Radius, arc = ArcAngle;
  const bool tube = arc > kPi + 1e-3;
  const double lx = std::min(NearX, FarX), hx = std::max(NearX, FarX);
  const double ly = std::min(NearY, FarY), hy = std::max(NearY, FarY);
  for (std::int32_t i = 0; i < count; ++i) {
    const double x = points[i].X, y = points[i].Y;
    if (!(x >= lx && x <= hx && y >= ly && y <= hy)) return false;
    // A: along the roll from the roll line; the sheet on this line runs from
    // AMin to AMax.
    double a, aMin, aMax;
    if (!Diagonal()) {
      const bool alongX = Dir.Y == 0;
      const double sign = alongX ? Dir.X : Dir.Y;
      a = ((alongX ? x : y) - p) * sign;
      aMin = ((alongX ? NearX : NearY) - p) * sign;
      aMax = ((alongX ? FarX : FarY) - p) * sign;
    } else {
      const double dx = Dir.X, s = Sign(Dir.X), fx = FarX;
      const double ax = std::fabs(x - FarX), ay = std::fabs(y - FarY);
      const double u = (ax + ay) / 2, v = (ax - ay) / 2;
      a = (fx - s * u - p) / dx;
      aMax = (fx - s * std::fabs(v) - p) / dx;
      aMin = (fx - s * std::min(double(Width) - v, double(Height) + v) - p) / dx;
    }
    // Every constraint is convex in (A, across), so a triangle whose corners
    // all pass lies wholly under the back.
    if (aMin > 0) return false;
    if (tube) {
      if (aMax < 1.5 * kPi * r || a < -r + 0.5) return false;
    } else {
      if (aMax < kPi * r || a < kPi * r - aMax + 0.5) return false;
    }
    if (a > r - 0.5) return false;
  }
  return count > 0;
}

TPoint3F TRoller3::Map(float x, float y) const { return Diagonal() ? MapDiagonal(x, y) : MapStraight(x, y); }

TPoint3F TRoller3::MapStraight(double x, double y) const {
  const bool alongX = Dir.Y == 0;
  const double sign = alongX ? Dir.X : Dir.Y;
  const double coord = alongX ? x : y, start = alongX ? NearX : NearY;
  const double p = Position, r = Radius, arc = ArcAngle;
  const bool before = UseVolume && (start - p) * sign > 0;
  const double anchor = before ? start : p;
  const double d = (coord - anchor) * sign;
  if (d <= 0) return {float(x), float(y), 0};
  const double phi = std::min(d / r, arc);
  double along = anchor + sign * Unroll(d, r, phi);
  double depth = 0;
  if (UseVolume) {
    depth = -r * (1 - std::cos(phi)) * Volume;
    if (before && depth != 0) {
      // Rolled up at the start edge, the roll turned about that edge so that
      // it comes into view as the roll line nears the edge.
      const double z0 = depth / Volume, e = (start - along) * sign;
      const double rho = std::sqrt(z0 * z0 + e * e);
      const double beta = TurnAngle(z0, e) + (start - p) * sign / r;
      along = start + sign * rho * std::cos(beta);
      depth = -rho * std::sin(beta) * Volume;
    }
  }
  return alongX ? TPoint3F{float(along), float(y), float(depth)} : TPoint3F{float(x), float(along), float(depth)};
}

TPoint3F TRoller3::MapDiagonal(double x, double y) const {
  const double dx = Dir.X, s = Sign(Dir.X), s2 = Sign(Dir.Y);
  const double fx = FarX, fy = FarY, p = Position, r = Radius, arc = ArcAngle;
  // The frame of the diagonal, anchored at the far corner.
  const double ax = std::fabs(x - fx), ay = std::fabs(y - fy);
  const double u = (ax + ay) / 2, v = (ax - ay) / 2;
  const double c = fx - s * u;
  const auto place = [&](double cc, double depth) {
    return TPoint3F{float(cc - s * v), float(fy - s2 * std::fabs(fx - cc) + s2 * v), float(depth)};
  };
  if (!UseVolume) {
    const double d = (c - p) / dx;
    if (d <= 0) return {float(x), float(y), 0};
    const double phi = std::min(d / r, arc);
    return place(Unroll(d, r, phi) * dx + p, 0);
  }
  const double e = double(NearX) - s * (double(Height) - Width) / 2;
  const double q = (e - p) / dx;
  const double anchor = q > 0 ? e : p;
  const double d = (c - anchor) / dx;
  const double phi = std::min(d / r, arc);
  if (!(phi > 0)) return {float(x), float(y), 0};
  const double c1 = Unroll(d, r, phi) * dx + anchor;
  const double depth = -r * (1 - std::cos(phi)) * Volume;
  if (!(q > 0) || depth == 0) return place(c1, depth);
  const double g = (e - c1) / dx, z0 = depth / Volume;
  const double rho = std::sqrt(g * g + z0 * z0);
  const double beta = TurnAngle(z0, g) + q / r;
  return place(std::cos(beta) * rho * dx + e, -rho * std::sin(beta) * Volume);
}

// ---- TRollEffect2 -----------------------------------------------------------------------------------

TRollEffect2::TRollEffect2(std::int32_t style, std::int32_t direction)
    : Style(style == 15 ? 15 : 14), Direction(direction >= 1 && direction <= 8 ? direction : 1) {
  MovesSlides = true;
  Reverse = Direction > 4;
}

void TRollEffect2::Dispose() {
  Roller = nullptr;
  PartSeparators[0] = nullptr;
  PartSeparators[1] = nullptr;
  Controller = nullptr;
  TDrawFilter::Dispose();
}

std::int32_t TRollEffect2::RollerKind() const {
  const bool diagonal = Style == 15;
  switch (Direction) {
    case 2:
    case 8: return diagonal ? 7 : 4;
    case 3:
    case 5: return diagonal ? 8 : 2;
    case 4:
    case 6: return diagonal ? 6 : 3;
    default: return diagonal ? 5 : 1;
  }
}

std::int32_t TRollEffect2::ArcStepFor(std::int32_t radius) {
  return radius < 100 ? std::max(3, radius / 10) : 8;
}

bool TRollEffect2::Prepare(TEffController* controller, const TRect& area) {
  const std::int64_t w = std::int64_t(area.Right) - area.Left, h = std::int64_t(area.Bottom) - area.Top;
  if (w <= 0 || h <= 0 || w > kMaxAreaSide || h > kMaxAreaSide) return false;
  const std::span<const float> xs = controller->XCuts(), ys = controller->YCuts();
  const bool same = Roller && PartSeparators[0] && area == madeArea_ &&
                    std::equal(xs.begin(), xs.end(), madeX_.begin(), madeX_.end()) &&
                    std::equal(ys.begin(), ys.end(), madeY_.begin(), madeY_.end());
  if (same) return true;
  Roller = nullptr;
  PartSeparators[0] = PartSeparators[1] = nullptr;
  madeArea_ = area;
  madeX_.assign(xs.begin(), xs.end());
  madeY_.assign(ys.begin(), ys.end());
  // The grid lines of the cells that meet the area, clipped to it.
  const auto clip = [](std::span<const float> cuts, std::int32_t count, float lo, float hi, std::int32_t& first,
                       std::vector<float>& out) {
    out.clear();
    first = -1;
    for (std::int32_t i = 0; i < count && std::size_t(i) + 1 < cuts.size(); ++i) {
      if (!(cuts[std::size_t(i) + 1] > lo && cuts[std::size_t(i)] < hi)) continue;
      if (first < 0) {
        first = i;
        out.push_back(std::max(cuts[std::size_t(i)], lo));
      }
      out.push_back(std::min(cuts[std::size_t(i) + 1], hi));
    }
    return out.size() >= 2;
  };
  std::vector<float> cx, cy;
  if (!clip(xs, controller->Cols(), float(area.Left), float(area.Right), firstCol_, cx) ||
      !clip(ys, controller->Rows(), float(area.Top), float(area.Bottom), firstRow_, cy))
    return false;
  const auto cols = static_cast<std::int32_t>(cx.size() - 1), rows = static_cast<std::int32_t>(cy.size() - 1);
  for (auto& s : PartSeparators) s = MakeRef<T2DSeparator>(cx, cols, cy, rows);

  Roller = MakeRef<TRoller3>(RollerKind(), Volume, UseVolume, area);
  Roller->ArcAngle = Tube ? float(2 * kPi) : float(kPi);
  const std::int32_t radius = std::clamp(Radius, 2, kMaxRadius);
  Roller->Radius = static_cast<float>(radius);
  Roller->ShadeMax = 255;
  Roller->ShadeMin = 50;
  Roller->ArcStep = ArcStepFor(radius);
  Roller->GetRange(RangeStart, RangeEnd);
  if (Reverse) std::swap(RangeStart, RangeEnd);
  Roller->Emit = [this](const TRollTriangle& t, bool back) {
    if (back)
      PartSeparators[0]->AddPolygon(TRollTriangle{t[0], t[2], t[1]});
    else
      PartSeparators[1]->AddPolygon(t);
  };
  return true;
}

void TRollEffect2::Draw(TCustomD3DEffecter* controller) {
  DrawTo(controller ? controller->Controller() : nullptr);
}

void TRollEffect2::DrawTo(TEffController* controller) {
  if (!controller) return;
  TRect area;
  controller->GetArea(area);
  if (!Prepare(controller, area)) return;
  Controller = controller;
  for (auto& s : PartSeparators) s->Clear();
  Roller->SetPosition(CurrentPosition());
  DrawPart(controller, 1);
  DrawPart(controller, 0);
  Controller = nullptr;
}

float TRollEffect2::CurrentPosition() const {
  const double t = std::clamp(static_cast<double>(Progress) * InvDuration, 0.0, 1.0);
  return static_cast<float>(std::lerp(double(RangeStart), double(RangeEnd), t));
}

bool TRollEffect2::DirectBands(std::vector<TDirectBand>& bands) {
  bands.clear();
  // Made by an earlier frame for this very area; depth moves the flat part
  // through the projection, a diagonal line would need a band per row.
  if (!Roller || Roller->UseVolume || Roller->Diagonal() || madeArea_ != TargetRect) return false;
  const TRoller3& rl = *Roller;
  const TRect& a = madeArea_;
  const bool alongX = rl.Dir.Y == 0;
  const double sign = alongX ? rl.Dir.X : rl.Dir.Y;
  const double p = CurrentPosition(), r = rl.Radius;
  const double arc = std::min(double(rl.ArcAngle), double(TRoller3::kTubeAngle));
  const double end = alongX ? rl.FarX : rl.FarY;
  if (!std::isfinite(p) || !(r > 0) || !(rl.ArcStep > 0)) return false;
  // Along the roll from the roll line: how far the rolled sheet reaches back
  // over the flat part (negative: over it; the arc dips below the line past
  // a half turn, the straight part after the arc runs back to the far
  // edge's point) and how far it reaches out (the arc's top, cut at the
  // quarter turn, or the far edge before it).
  const double dmax = (end - p) * sign;
  double back = 0, out = dmax;
  if (dmax > 0) {
    const double phi = std::min(dmax / r, arc);
    if (phi > kPi) back = phi >= 1.5 * kPi ? -r : r * std::sin(phi);
    back = std::min(back, Unroll(dmax, r, phi));
    out = phi >= kPi / 2 ? r * std::cos(std::min(rl.ArcStep / r, kPi) / 2) : r * std::sin(phi);
  }
  // The strip across the roll line maps its flat end too: whole pixels stop
  // an arc step short of the line; both intervals 2 pixels short of the
  // edges they end at. The flat part under the back is not read (its front
  // is left out or painted over), from the back's end to that strip.
  const double step = rl.ArcStep;
  const double whole = std::min(back, -step) - 2, cover = std::max(out - 2, whole);
  if (!std::isfinite(whole) || !std::isfinite(cover)) return false;
  const double axisLo = alongX ? a.Left : a.Top, axisHi = alongX ? a.Right : a.Bottom;
  // Along the axis between From and To past the roll line, in whole pixels.
  const auto span = [&](double from, double to, std::int32_t& lo, std::int32_t& hi) {
    double l = sign > 0 ? std::ceil(p + from) : std::ceil(p - to);
    double h = sign > 0 ? std::floor(p + to) : std::floor(p - from);
    l = std::max(l, axisLo);
    h = std::min(h, axisHi);
    lo = hi = 0;
    if (h > l) {
      lo = std::int32_t(l);
      hi = std::int32_t(h);
    }
  };
  // From the start edge.
  const double edge = (axisHi - axisLo) * -2.0 - 4;
  // Past the half turn the back lies flat, mirrored about the line half a
  // turn on: what of it lies beyond the start edge is not seen, nor read.
  // (The tube's end is turned towards the viewer in slivers that may still
  // touch a pixel.)
  double farUnread = INFINITY;
  if (arc < 1.5 * kPi) farUnread = kPi * r + std::max(0.0, (p - (alongX ? rl.NearX : rl.NearY)) * sign) + step + 2;
  std::int32_t wl, wh, ol, oh, ul, uh, fl, fh;
  span(edge, whole, wl, wh);
  span(edge, cover, ol, oh);
  span(back, -step, ul, uh);
  span(farUnread, dmax + 4, fl, fh);
  if (ol >= oh) return false;
  if (alongX) {
    bands.push_back({a.Top, a.Bottom, wl, wh, 0, 0, ol, oh, {{{ul, uh}, {fl, fh}}}});
    return true;
  }
  // Rows: the intervals across are the area's, a band where any of them
  // changes.
  std::int32_t cuts[8] = {wl, wh, ol, oh, ul, uh, fl, fh};
  std::sort(std::begin(cuts), std::end(cuts));
  const auto in = [](std::int32_t y, std::int32_t lo, std::int32_t hi) { return lo < hi && y >= lo && y < hi; };
  for (int i = 0; i + 1 < 8; ++i) {
    const std::int32_t top = cuts[i], bottom = cuts[i + 1];
    if (bottom <= top) continue;
    TDirectBand band{top, bottom};
    const bool w = in(top, wl, wh), o = in(top, ol, oh), u = in(top, ul, uh) || in(top, fl, fh);
    if (!w && !o && !u) continue;
    const auto across = [&](bool on, std::int32_t& l, std::int32_t& r) {
      l = on ? a.Left : 0;
      r = on ? a.Right : 0;
    };
    across(w, band.WholeLeft, band.WholeRight);
    across(o, band.OpaqueLeft, band.OpaqueRight);
    across(u, band.Unread[0].Left, band.Unread[0].Right);
    bands.push_back(band);
  }
  return true;
}

void TRollEffect2::DrawPart(TEffController* controller, std::int32_t part) {
  const T2DSeparator& sep = *PartSeparators[part];
  const bool coloured = part == 0 && UseColor;
  const bool deep = Roller->UseVolume;
  // The front under the opaque back is not drawn: up to half the fill.
  const bool cull = part == 1;
  const std::int32_t cols = sep.ColumnCount(), rows = sep.RowCount();
  for (std::int32_t ri = 0; ri < rows; ++ri) {
    const std::int32_t row = Roller->Dir.Y < 0 ? rows - 1 - ri : ri;
    for (std::int32_t ci = 0; ci < cols; ++ci) {
      const std::int32_t col = Roller->Dir.X < 0 ? cols - 1 - ci : ci;
      const TSepBand& band = sep.Cell(col, row);
      if (band.PolyCount == 0) continue;
      TEffTile* tile = controller->GetTileAt(firstCol_ + col, firstRow_ + row);
      if (!tile) continue;
      tile->Begin(coloured ? emPlain : emTextured, !coloured);
      std::int32_t begin = 0;
      for (std::int32_t i = 0; i < band.PolyCount; ++i) {
        const std::int32_t end = band.PolyEnds[std::size_t(i)];
        for (std::int32_t k = begin + 2; k < end; ++k) {
          const TSepVertex* src[3] = {&band.Vertices[std::size_t(begin)], &band.Vertices[std::size_t(k - 1)],
                                      &band.Vertices[std::size_t(k)]};
          TPoint3F m[3];
          bool ok = true;
          for (int j = 0; j < 3; ++j) {
            m[j] = Roller->Map(src[j]->x, src[j]->y);
            ok = ok && Finite(m[j]);
          }
          if (!ok) continue;
          if (cull && Roller->HiddenByBack(m, 3)) continue;
          TSheetPoint in[3], out[4];
          for (int j = 0; j < 3; ++j) in[j] = {m[j], src[j]->x, src[j]->y, src[j]->value};
          // Behind the slide's plane the outgoing slide hides the sheet.
          const int n = deep ? ClipToFront(in, out) : 3;
          const TSheetPoint* pts = deep ? out : in;
          for (int j = 1; j + 1 < n; ++j) EmitPiece(tile, pts[0], pts[j], pts[j + 1], coloured, deep);
        }
        begin = end;
      }
      tile->End();
    }
  }
}

void TRollEffect2::EmitPiece(TEffTile* tile, const TSheetPoint& a, const TSheetPoint& b, const TSheetPoint& c,
                             bool coloured, bool deep) {
  if (coloured) {
    TEffColors colours;
    const TSheetPoint* p[3] = {&a, &b, &c};
    for (int j = 0; j < 3; ++j) {
      const auto v = static_cast<std::uint32_t>(std::lround(std::clamp(p[j]->C, 0.0f, 255.0f)));
      colours[std::size_t(j)] =
          0xFF000000u | ((Color[0] * v >> 8) << 16) | ((Color[1] * v >> 8) << 8) | (Color[2] * v >> 8);
    }
    tile->AddColoredPoints({TPoint2F{a.P.X, a.P.Y}, TPoint2F{b.P.X, b.P.Y}, TPoint2F{c.P.X, c.P.Y}}, colours);
    return;
  }
  const TEffTriangle v{TEffVertex{a.X, a.Y, a.C}, TEffVertex{b.X, b.Y, b.C}, TEffVertex{c.X, c.Y, c.C}};
  if (deep)
    tile->AddShadedTriangle(v, {a.P, b.P, c.P});
  else
    tile->AddShadedTextureTriangle(v, {TPoint2F{a.P.X, a.P.Y}, TPoint2F{b.P.X, b.P.Y}, TPoint2F{c.P.X, c.P.Y}});
}

// ---- Maker ------------------------------------------------------------------------------------------

namespace {

TRef<TDrawFilter> MakeRoll(const TFilterRequest& r) {
  TRef<TRollEffect2> f = MakeRef<TRollEffect2>(r.Style, r.Direction);
  f->Tube = r.Tube;
  f->Radius = std::clamp(r.Radius, 2, TRollEffect2::kMaxRadius);
  f->UseColor = r.UseColor;
  f->Color[0] = r.Red;
  f->Color[1] = r.Green;
  f->Color[2] = r.Blue;
  f->UseVolume = r.UseVolume;
  f->Volume = r.Volume;
  return f;
}

TFilterMaker gPreviousRoll = nullptr;

}  // namespace

void InitRollFilters() { gPreviousRoll = RegisterFilterMaker(TFilterClass::Roll, &MakeRoll); }

void FiniRollFilters() {
  RegisterFilterMaker(TFilterClass::Roll, gPreviousRoll);
  gPreviousRoll = nullptr;
}

}  // namespace oru
