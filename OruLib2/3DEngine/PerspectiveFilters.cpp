#include "OruLib2/3DEngine/PerspectiveFilters.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "ZmLib/zmMath.h"

namespace oru {

using namespace zm;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// Set once by the unit's initialisation (opaque black at every corner).
TEffColors gBlack = {0xFF000000u, 0xFF000000u, 0xFF000000u};

TEffController* ControllerOf(TCustomD3DEffecter* effecter) { return effecter ? effecter->Controller() : nullptr; }

// The fraction of the transition, kept within [0, 1].
float Fraction(const TDrawFilter& f) {
  const double t = static_cast<double>(f.Progress) * f.InvDuration;
  return t > 0.0 ? static_cast<float>(std::min(t, 1.0)) : 0.0f;
}

float Sane(float v, float def, float lo, float hi) { return std::isfinite(v) ? std::clamp(v, lo, hi) : def; }

float Lerp(float a, float b, float f) { return a + (b - a) * f; }

bool EmptyRect(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

float Wf(const TRect& r) { return static_cast<float>(std::int64_t(r.Right) - r.Left); }
float Hf(const TRect& r) { return static_cast<float>(std::int64_t(r.Bottom) - r.Top); }

TEffVertex Src(float x, float y, float grey) { return {x, y, std::clamp(grey, 0.0f, 255.0f)}; }

}  // namespace

void FillTilesBlack(TEffController* controller) {
  if (!controller) return;
  for (std::int32_t row = 0; row < controller->Rows(); ++row)
    for (std::int32_t col = 0; col < controller->Cols(); ++col) {
      TEffTile* tile = controller->GetTileAt(col, row);
      if (!tile) continue;
      const auto l = static_cast<float>(tile->Rect.Left), t = static_cast<float>(tile->Rect.Top);
      const auto r = static_cast<float>(tile->Rect.Right), b = static_cast<float>(tile->Rect.Bottom);
      tile->Begin(emPlain, false);
      tile->AddColoredTriangle({TEffVertex{l, t, 0}, TEffVertex{r, t, 0}, TEffVertex{l, b, 0}}, gBlack);
      tile->AddColoredTriangle({TEffVertex{l, b, 0}, TEffVertex{r, t, 0}, TEffVertex{r, b, 0}}, gBlack);
      tile->End();
    }
}

bool TileSourceRect(const TEffTile& tile, const TRect& target, TRect& source) {
  source = {std::max(tile.Rect.Left, target.Left), std::max(tile.Rect.Top, target.Top),
            std::min(tile.Rect.Right, target.Right), std::min(tile.Rect.Bottom, target.Bottom)};
  return !EmptyRect(source);
}

// ---- Overturn --------------------------------------------------------------------------------------

TOverturnEffect::TOverturnEffect(std::int32_t direction, bool nonLinear, float depth)
    : Direction(direction >= 1 && direction <= 8 ? direction : 1),
      NonLinear(nonLinear),
      Depth(Sane(depth, 0.5f, -4.0f, 4.0f)) {}

float TOverturnEffect::TurnAngle() const {
  const float t = Fraction(*this);
  return kPi * (NonLinear ? EaseUnit(t) : t);
}

std::uint8_t TOverturnEffect::GreyLevel() const {
  const double g = std::fabs(std::cos(static_cast<double>(TurnAngle()))) * 155.0 + 100.0;
  return static_cast<std::uint8_t>(std::clamp(RoundHalfEven(g), 0, 255));
}

std::array<TPoint3F, 4> TOverturnEffect::CardCorners(const TRect& bounds) const {
  const float theta = TurnAngle();
  const float a = Direction % 2 == 1 ? -theta : theta;
  // Past edge-on the card is not mirrored: its back shows the incoming
  // picture the right way round.
  const float k = std::fabs(a) < kPi / 2 ? 1.0f : -1.0f;
  const float left = static_cast<float>(bounds.Left), top = static_cast<float>(bounds.Top);
  const float right = static_cast<float>(bounds.Right), bottom = static_cast<float>(bounds.Bottom);
  const float half = VerticalAxis() ? (right - left) / 2 : (bottom - top) / 2;
  const float d = std::cos(a) * half * k;
  const float dz = std::sin(a) * half * Depth * k;
  // Turning behind the screen keeps the nearer edge in the screen plane.
  const float z0 = Spins() ? -dz : std::fabs(dz) - dz;
  const float z1 = Spins() ? dz : std::fabs(dz) + dz;
  if (VerticalAxis()) {
    const float cx = (left + right) / 2;
    return {TPoint3F{cx + d, top, z0}, TPoint3F{cx + d, bottom, z0}, TPoint3F{cx - d, top, z1},
            TPoint3F{cx - d, bottom, z1}};
  }
  const float cy = (top + bottom) / 2;
  return {TPoint3F{left, cy + d, z0}, TPoint3F{left, cy - d, z1}, TPoint3F{right, cy + d, z0},
          TPoint3F{right, cy - d, z1}};
}

TPoint3F TOverturnEffect::PlaceOnCard(const std::array<TPoint3F, 4>& q, const TRect& bounds, float x, float y) const {
  const float fx = (x - static_cast<float>(bounds.Left)) / Wf(bounds);
  const float fy = (y - static_cast<float>(bounds.Top)) / Hf(bounds);
  if (VerticalAxis()) return {Lerp(q[2].X, q[0].X, fx), Lerp(q[0].Y, q[1].Y, fy), Lerp(q[2].Z, q[0].Z, fx)};
  return {Lerp(q[0].X, q[2].X, fx), Lerp(q[1].Y, q[0].Y, fy), Lerp(q[1].Z, q[0].Z, fy)};
}

void TOverturnEffect::Draw(TCustomD3DEffecter* controller) { DrawTo(ControllerOf(controller)); }

void TOverturnEffect::DrawTo(TEffController* controller) {
  if (!controller) return;
  FillTilesBlack(controller);
  const TRect bounds = controller->GetBounds();
  // No card over an empty grid: its fractions would divide by zero.
  if (EmptyRect(bounds)) return;
  const std::array<TPoint3F, 4> q = CardCorners(bounds);
  const float g = GreyLevel();
  for (std::int32_t row = 0; row < controller->Rows(); ++row)
    for (std::int32_t col = 0; col < controller->Cols(); ++col) {
      TEffTile* tile = controller->GetTileAt(col, row);
      TRect s;
      if (!tile || !TileSourceRect(*tile, TargetRect, s)) continue;
      Tile = tile;
      const auto l = static_cast<float>(s.Left), t = static_cast<float>(s.Top);
      const auto r = static_cast<float>(s.Right), b = static_cast<float>(s.Bottom);
      const auto tri = [&](float x0, float y0, float x1, float y1, float x2, float y2) {
        tile->AddShadedTriangle({Src(x0, y0, g), Src(x1, y1, g), Src(x2, y2, g)},
                                {PlaceOnCard(q, bounds, x0, y0), PlaceOnCard(q, bounds, x1, y1),
                                 PlaceOnCard(q, bounds, x2, y2)});
      };
      tile->Begin(emTextured, true);
      if (VerticalAxis()) {
        tri(r, t, r, b, l, t);
        tri(l, t, r, b, l, b);
      } else {
        tri(l, b, l, t, r, b);
        tri(r, b, l, t, r, t);
      }
      tile->End();
    }
  Tile = nullptr;
}

// ---- Two slides ------------------------------------------------------------------------------------

TTwoSlidesEffect::TTwoSlidesEffect(std::int32_t direction, float depth, float distance, float angleDegrees)
    : Direction(direction >= 1 && direction <= 4 ? direction : 1),
      Depth(Sane(depth, 4.0f, 0.0f, 64.0f)),
      Distance(Sane(distance, 1.0f, -16.0f, 16.0f)),
      Angle(Sane(angleDegrees, 60.0f, 0.0f, 180.0f) * kPi / 180.0f) {}

void TTwoSlidesEffect::Reset(float value) {
  (void)value;
  DrawCount = 0;
}

TPoint3F TTwoSlidesEffect::Place(const TRect& bounds, float p, float w, float h, float x, float y) const {
  float dx = 0, dy = 0;
  switch (Direction) {
    case 2: dx = -w; break;
    case 3: dy = h; break;
    case 4: dy = -h; break;
    default: dx = w; break;
  }
  const float side = std::sin(kPi * p) * Distance;
  const float tilt = std::sin(p * Angle);
  // The tilt hinges on the slide's own edge wherever the area lies.
  const float rx = x - static_cast<float>(bounds.Left), ry = y - static_cast<float>(bounds.Top);
  float z = p * std::fabs(h) * Depth;
  if (dx > 0) z += (dx - rx) * tilt;
  if (dx < 0) z += rx * tilt;
  if (dy > 0) z += (dy - ry) * tilt;
  if (dy < 0) z += ry * tilt;
  return {x + dx * side, y + dy * side, z};
}

void TTwoSlidesEffect::Draw(TCustomD3DEffecter* controller) { DrawTo(ControllerOf(controller)); }

void TTwoSlidesEffect::DrawTo(TEffController* controller) {
  // Counted even when nothing can be drawn, so the pairs stay in step; kept
  // non-negative with the parity running on.
  DrawCount = DrawCount == INT32_MAX ? 0 : DrawCount + 1;
  const bool first = DrawCount % 2 == 1;
  if (!controller) return;
  if (first) FillTilesBlack(controller);
  const TRect bounds = controller->GetBounds();
  if (EmptyRect(bounds)) return;
  const float t = Fraction(*this);
  const float s = EaseUnit(t);
  const float w = Wf(bounds), h = Hf(bounds);
  const bool incoming = (t >= 0.5f) != first;
  const float p = incoming ? 1.0f - s : s;
  const float sw = incoming ? -w : w, sh = incoming ? -h : h;
  const bool reflect = Direction == 1 || Direction == 2;
  const auto top = static_cast<float>(TargetRect.Top), bottom = static_cast<float>(TargetRect.Bottom);
  const float floorY = top + 0.33f * (bottom - top);
  for (std::int32_t row = 0; row < controller->Rows(); ++row)
    for (std::int32_t col = 0; col < controller->Cols(); ++col) {
      TEffTile* tile = controller->GetTileAt(col, row);
      TRect sr;
      if (!tile || !TileSourceRect(*tile, TargetRect, sr)) continue;
      Tile = tile;
      const auto l = static_cast<float>(sr.Left), tp = static_cast<float>(sr.Top);
      const auto r = static_cast<float>(sr.Right), b = static_cast<float>(sr.Bottom);
      const auto at = [&](float x, float y) { return Place(bounds, p, sw, sh, x, y); };
      tile->Begin(emTextured, true);
      tile->AddShadedTriangle({Src(l, tp, 255), Src(r, tp, 255), Src(l, b, 255)}, {at(l, tp), at(r, tp), at(l, b)});
      tile->AddShadedTriangle({Src(l, b, 255), Src(r, tp, 255), Src(r, b, 255)}, {at(l, b), at(r, tp), at(r, b)});
      // Only the part below the floor line is reflected; a tile wholly
      // above it gives nothing to see.
      if (reflect && b > floorY) {
        const float t2 = std::max(tp, floorY), b2 = std::max(b, floorY);
        // Grey 128 at the bottom edge, fading to nothing at the floor line,
        // measured within the area so an area away from the origin fades alike.
        const auto grey = [&](float y) { return 192.0f * (y - top) / (bottom - top) - 64.0f; };
        const auto mirrored = [&](float x, float y) {
          TPoint3F q = at(x, y);
          q.Y = 2 * bottom - q.Y;
          return q;
        };
        const TEffVertex a2 = Src(l, t2, grey(t2)), b2v = Src(l, b2, grey(b2)), c2 = Src(r, t2, grey(t2)),
                         d2 = Src(r, b2, grey(b2));
        tile->AddShadedTriangle({a2, b2v, c2}, {mirrored(l, t2), mirrored(l, b2), mirrored(r, t2)});
        tile->AddShadedTriangle({b2v, d2, c2}, {mirrored(l, b2), mirrored(r, b2), mirrored(r, t2)});
      }
      tile->End();
    }
  Tile = nullptr;
}

// ---- Makers ----------------------------------------------------------------------------------------

namespace {

TRef<TDrawFilter> MakeOverturn(const TFilterRequest& r) {
  return MakeRef<TOverturnEffect>(r.Direction + (r.Spin ? 4 : 0), r.NonLinear, r.Depth);
}

TRef<TDrawFilter> MakeTwoSlides(const TFilterRequest& r) {
  return MakeRef<TTwoSlidesEffect>(r.Direction, r.Depth, r.Distance, r.Angle);
}

TFilterMaker gPreviousOverturn = nullptr, gPreviousTwoSlides = nullptr;

}  // namespace

void InitPerspectiveFilters() {
  gBlack = {0xFF000000u, 0xFF000000u, 0xFF000000u};
  gPreviousOverturn = RegisterFilterMaker(TFilterClass::Overturn, &MakeOverturn);
  gPreviousTwoSlides = RegisterFilterMaker(TFilterClass::TwoSlides, &MakeTwoSlides);
}

void FiniPerspectiveFilters() {
  RegisterFilterMaker(TFilterClass::Overturn, gPreviousOverturn);
  RegisterFilterMaker(TFilterClass::TwoSlides, gPreviousTwoSlides);
  gPreviousOverturn = gPreviousTwoSlides = nullptr;
}

}  // namespace oru
