#include "OruLib2/3DEngine/SimpleFilters.h"

#include <algorithm>
#include <cmath>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "ZmLib/zmMath.h"
#include "ZmLib/zmRandomGenerator.h"

namespace oru {

using namespace zm;

namespace {

TEffController* ControllerOf(TCustomD3DEffecter* effecter) { return effecter ? effecter->Controller() : nullptr; }

// The fraction of the transition, kept within [0, 1].
double Fraction(const TDrawFilter& f) {
  const double t = static_cast<double>(f.Progress) * f.InvDuration;
  return t > 0.0 ? std::min(t, 1.0) : 0.0;
}

struct TTargetArea {
  float Left, Top, Width, Height;
  bool Empty() const { return !(Width > 0.0f && Height > 0.0f); }
};

TTargetArea AreaOf(const TRect& r) {
  return {static_cast<float>(r.Left), static_cast<float>(r.Top),
          static_cast<float>(std::int64_t(r.Right) - r.Left), static_cast<float>(std::int64_t(r.Bottom) - r.Top)};
}

// The rectangle as two triangles (top-left, top-right, bottom-left; then
// bottom-right, bottom-left, top-right), one coverage at every corner.
void AddQuad(TEffTile* tile, float x0, float y0, float x1, float y1, float c) {
  tile->AddTriangle({TEffVertex{x0, y0, c}, TEffVertex{x1, y0, c}, TEffVertex{x0, y1, c}});
  tile->AddTriangle({TEffVertex{x1, y1, c}, TEffVertex{x0, y1, c}, TEffVertex{x1, y0, c}});
}

std::int32_t ValidDirection(std::int32_t d) { return d >= 1 && d <= 4 ? d : 1; }

// The incoming slide moved by its offset, cut into the controller's tiles.
void DrawMoved(const TDrawFilter& f, std::int32_t direction, TEffController* controller) {
  if (!controller) return;
  const TTargetArea a = AreaOf(f.TargetRect);
  if (a.Empty()) return;
  const TFloatPoint o = IncomingOffset(direction, static_cast<float>(Fraction(f)), a.Width, a.Height);
  const float mx0 = a.Left + o.X, my0 = a.Top + o.Y;
  const float mx1 = mx0 + a.Width, my1 = my0 + a.Height;
  for (std::int32_t row = 0; row < controller->Rows(); ++row)
    for (std::int32_t col = 0; col < controller->Cols(); ++col) {
      TEffTile* tile = controller->GetTileAt(col, row);
      if (!tile) continue;
      const float x0 = std::max(mx0, static_cast<float>(tile->Rect.Left));
      const float y0 = std::max(my0, static_cast<float>(tile->Rect.Top));
      const float x1 = std::min(mx1, static_cast<float>(tile->Rect.Right));
      const float y1 = std::min(my1, static_cast<float>(tile->Rect.Bottom));
      if (!(x1 > x0 && y1 > y0)) continue;
      // Source points where the unmoved slide has them, drawn at the offset.
      const auto src = [&](float x, float y) { return TEffVertex{x - o.X, y - o.Y, 255.0f}; };
      tile->Begin(emTextured, true);
      tile->AddShadedTextureTriangle({src(x0, y0), src(x1, y0), src(x0, y1)},
                                     {TPoint2F{x0, y0}, TPoint2F{x1, y0}, TPoint2F{x0, y1}});
      tile->AddShadedTextureTriangle({src(x1, y1), src(x0, y1), src(x1, y0)},
                                     {TPoint2F{x1, y1}, TPoint2F{x0, y1}, TPoint2F{x1, y0}});
      tile->End();
    }
}

}  // namespace

// ---- Cross-fade ------------------------------------------------------------------------------------

void TAlphaFilter::Draw(TCustomD3DEffecter* controller) { DrawTo(ControllerOf(controller)); }

void TAlphaFilter::DrawTo(TEffController* controller) {
  if (!controller) return;
  const TTargetArea a = AreaOf(TargetRect);
  if (a.Empty()) return;
  TEffTile* tile = controller->GetMultiTile();
  if (!tile) return;
  float c = 0;
  UniformCoverage(c);
  tile->Begin(emTextured, false);
  AddQuad(tile, a.Left, a.Top, a.Left + a.Width, a.Top + a.Height, c);
  tile->End();
}

bool TAlphaFilter::UniformCoverage(float& coverage) const {
  coverage = static_cast<float>(std::clamp(255.0 * Fraction(*this), 0.0, 255.0));
  return true;
}

// ---- Mosaic ----------------------------------------------------------------------------------------

TRandomFilter::TRandomFilter(std::int32_t cols, std::int32_t rows, std::uint32_t seed, float spread)
    : Cols(std::clamp(cols, 1, kMaxMosaicSide)),
      Rows(std::clamp(rows, 1, kMaxMosaicSide)),
      Seed(seed),
      Spread(spread > 0.0f ? std::min(spread, 1000.0f) : 0.0f) {}

void TRandomFilter::Init(const TRect& rect, float edgeWidth, float duration) {
  TDrawFilter::Init(rect, edgeWidth, duration);
  const double n = RoundHalfEven(static_cast<double>(Spread * 100.0f));
  Delays.assign(static_cast<std::size_t>(Cols) * static_cast<std::size_t>(Rows), 0);
  // The same sequence as the unit-level generator seeded with Seed, kept
  // local so that filters made on different threads cannot mix their draws.
  std::uint32_t state = Seed;
  for (std::int32_t row = 0; row < Rows; ++row)
    for (std::int32_t col = 0; col < Cols; ++col) {
      state = KhnutLewisStep(state);
      Delays[static_cast<std::size_t>(col) * static_cast<std::size_t>(Rows) + static_cast<std::size_t>(row)] =
          RoundHalfEven(static_cast<double>(RawToUnitFloat(state)) * n);
    }
}

std::int32_t TRandomFilter::Delay(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= Cols || row >= Rows) return 0;
  const std::size_t i = static_cast<std::size_t>(col) * static_cast<std::size_t>(Rows) + static_cast<std::size_t>(row);
  return i < Delays.size() ? Delays[i] : 0;
}

std::int32_t TRandomFilter::Threshold() const {
  return RoundHalfEven(Fraction(*this) * (static_cast<double>(Spread) * 100.0 + 256.0) - 256.0);
}

void TRandomFilter::Draw(TCustomD3DEffecter* controller) { DrawTo(ControllerOf(controller)); }

void TRandomFilter::DrawTo(TEffController* controller) {
  if (!controller) return;
  const TTargetArea a = AreaOf(TargetRect);
  if (a.Empty()) return;
  TEffTile* tile = controller->GetMultiTile();
  if (!tile) return;
  const std::int32_t threshold = Threshold();
  const float w = a.Width / static_cast<float>(Cols), h = a.Height / static_cast<float>(Rows);
  tile->Begin(emTextured, false);
  for (std::int32_t row = 0; row < Rows; ++row)
    for (std::int32_t col = 0; col < Cols; ++col) {
      const std::int32_t d = Delay(col, row) - threshold;
      if (d >= 255) continue;  // still the outgoing slide
      const float c = d < 0 ? 255.0f : static_cast<float>(255 - d);
      const float x0 = a.Left + static_cast<float>(col) * w, y0 = a.Top + static_cast<float>(row) * h;
      AddQuad(tile, x0, y0, a.Left + static_cast<float>(col + 1) * w, a.Top + static_cast<float>(row + 1) * h, c);
    }
  tile->End();
}

// ---- Slide and push --------------------------------------------------------------------------------

TFloatPoint IncomingOffset(std::int32_t direction, float t, float width, float height) {
  switch (ValidDirection(direction)) {
    case 2: return {width - width * t, 0};
    case 3: return {0, -height + height * t};
    case 4: return {0, height - height * t};
    default: return {-width + width * t, 0};
  }
}

TSlideFilter::TSlideFilter(std::int32_t direction) : Direction(ValidDirection(direction)) { MovesSlides = true; }

void TSlideFilter::Draw(TCustomD3DEffecter* controller) { DrawTo(ControllerOf(controller)); }

void TSlideFilter::DrawTo(TEffController* controller) { DrawMoved(*this, Direction, controller); }

TPushFilter::TPushFilter(std::int32_t direction) : Direction(ValidDirection(direction)) { MovesSlides = true; }

void TPushFilter::Draw(TCustomD3DEffecter* controller) { DrawTo(ControllerOf(controller)); }

void TPushFilter::DrawTo(TEffController* controller) { DrawMoved(*this, Direction, controller); }

TFloatPoint TPushFilter::GetOutgoingOffset(const TRect& area) const {
  const TTargetArea a = AreaOf(area);
  if (a.Empty()) return {};
  const float t = static_cast<float>(Fraction(*this));
  switch (Direction) {
    case 2: return {-a.Width * t, 0};
    case 3: return {0, a.Height * t};
    case 4: return {0, -a.Height * t};
    default: return {a.Width * t, 0};
  }
}

}  // namespace oru
