#include "ZmLib/VectorGraphics/zmRasterizerUtils.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/VectorGraphics/zmSvgUtils.h"

namespace zm {

namespace {

float ClampRasterCoord(float v) {
  if (std::isnan(v)) return 0;
  if (v > 67108863.0f) return 67108864.0f;
  if (v < -67108863.0f) return -67108864.0f;
  return v;
}

// Lines one painting may take from curves; far beyond any real drawing.
constexpr std::int64_t kCurveLineBudget = std::int64_t(1) << 20;

}  // namespace

TFloatPoint ClampRasterPoint(const TFloatPoint& p) { return {ClampRasterCoord(p.X), ClampRasterCoord(p.Y)}; }

TRasterHelper::TRasterHelper() {
  rasterizer_ = MakeRef<TRasterizer>();
  outline_ = MakeRef<TOutline>();
  outline_->OnSpan = [this](std::int32_t row, const std::uint16_t* coverage, std::int32_t first, std::int32_t last) {
    BlendSpan(row, coverage, first, last);
  };
  stroke_.reserve(64);
}

void TRasterHelper::Dispose() {
  const bool open = bool(target_);
  target_ = nullptr;
  if (outline_) outline_->OnSpan = nullptr;
  outline_ = nullptr;
  rasterizer_ = nullptr;
  gradient_.reset();
  transform_ = nullptr;
  TRefObject::Dispose();
  if (open) ZM_FAIL("Previous TRasterHelper.BeginPaint not Closed");
}

void TRasterHelper::BeginPaint(std::int32_t w, std::int32_t h, TColor32 color) {
  if (target_) ZM_FAIL("Previous TRasterHelper.BeginPaint not Closed");
  if (w < 1 || h < 1) ZM_FAIL("TRasterHelper.BeginPaint: W or H = 0");
  TRef<TDirectBitmap> b = MakeRef<TDirectBitmap>(w, PixelFormatByName(TByteString(PF_A8R8G8B8)), h);
  b->FillRect({0, 0, w, h}, color);
  target_ = b;
}

void TRasterHelper::BeginPaintTransparent(std::int32_t w, std::int32_t h) { BeginPaint(w, h, TransparentColor32(Color)); }

TRef<TDirectBitmap> TRasterHelper::EndPaint() {
  if (!target_) ZM_FAIL("No Previous Call of TRasterHelper.BeginPaint");
  return std::move(target_);
}

void TRasterHelper::CheckPainting() const {
  if (!target_) ZM_FAIL("No Previous Call of TRasterHelper.BeginPaint");
}

void TRasterHelper::ResetTransform() {
  hasMatrix_ = false;
  matrix_ = IdentityMatrix();
  transform_ = nullptr;
}

void TRasterHelper::SetMatrix(const TMatrix& m) {
  matrix_ = m;
  hasMatrix_ = true;
  transform_ = [this](const TFloatPoint& p) { return TransformPoint(matrix_, p.X, p.Y); };
}

void TRasterHelper::ApplyMatrix(const TMatrix& m) { SetMatrix(MultiplyMatrix(hasMatrix_ ? matrix_ : IdentityMatrix(), m)); }

void TRasterHelper::SetPointTransform(TPointTransform transform) {
  hasMatrix_ = false;
  matrix_ = IdentityMatrix();
  transform_ = std::move(transform);
}

TFloatPoint TRasterHelper::Map(const TPathPoint& p) const {
  const TFloatPoint q{p.X, p.Y};
  return ClampRasterPoint(transform_ ? transform_(q) : q);
}

void TRasterHelper::AddPolygon(std::span<const TFloatPoint> points, bool evenOdd, std::int32_t count) {
  CheckPainting();
  count = std::int32_t(std::min<std::int64_t>(count, std::int64_t(points.size())));
  if (count <= 1) return;
  outline_->Reset();
  outline_->FillEvenOdd = evenOdd;
  for (std::int32_t i = 0; i < count; ++i) {
    const TFloatPoint p = Map({points[i].X, points[i].Y, pcLine});
    if (i == 0) outline_->MoveTo(p);
    else outline_->AddPoint(p);
  }
  rasterizer_->Rasterize(outline_.get(), target_->Width(), target_->Height());
}

void TRasterHelper::MoveTo(const TFloatPoint& p) {
  if (stroking_) StrokeMoveTo(p);
  else outline_->MoveTo(p);
}

void TRasterHelper::LineTo(const TFloatPoint& p) {
  if (stroking_) StrokeLineTo(p);
  else outline_->AddPoint(p);
}

void TRasterHelper::AddPath(const TPathPoints& points, bool evenOdd) {
  CheckPainting();
  outline_->Reset();
  stroke_.clear();
  stroking_ = StrokeMode != smFill;
  if (stroking_ && !(StrokeWidth > 0.0001f)) return;
  outline_->FillEvenOdd = stroking_ ? false : evenOdd;
  if (points.empty() || points[0].Code != pcMove) return;

  // Pieces of curves that lie wholly beyond one side of the bitmap (and of
  // the stroke's reach around it) cannot change a pixel: they go straight.
  TBezierContext ctx;
  const float reach = (stroking_ ? StrokeWidth / 2 : 0) + 2;
  ctx.HasCut = true;
  ctx.Cut = {-reach, -reach, float(target_->Width()) + reach, float(target_->Height()) + reach};
  std::int64_t budget = kCurveLineBudget;
  ctx.Budget = &budget;
  TFloatPoint current{};
  ctx.LineTo = [this, &current](const TFloatPoint& p) {
    LineTo(p);
    current = p;
  };

  const std::size_t n = points.size();
  std::size_t i = 0;
  while (i < n) {
    const TFloatPoint p = Map(points[i]);
    switch (points[i].Code) {
      case pcMove:
        MoveTo(p);
        current = p;
        ++i;
        break;
      case pcLine:
        LineTo(p);
        current = p;
        ++i;
        break;
      case pcControl2:
        if (i + 1 >= n) {
          i = n;
          break;
        }
        ctx.P[0] = current;
        ctx.P[1] = p;
        ctx.P[2] = Map(points[i + 1]);
        FlattenQuadBezier(ctx, current, ctx.P[2], 32, 1, 0);
        i += 2;
        break;
      case pcControl3:
        if (i + 2 >= n) {
          i = n;
          break;
        }
        ctx.P[0] = current;
        ctx.P[1] = p;
        ctx.P[2] = Map(points[i + 1]);
        ctx.P[3] = Map(points[i + 2]);
        FlattenCubicBezier(ctx, current, ctx.P[3], 32, 1, 0);
        i += 3;
        break;
      default:
        ZM_FAIL("Unknown Path Command");
    }
  }
  if (stroking_) FlushStroke();
  rasterizer_->Rasterize(outline_.get(), target_->Width(), target_->Height());
}

void TRasterHelper::StrokeMoveTo(const TFloatPoint& p) {
  FlushStroke();
  stroke_.push_back(p);
}

void TRasterHelper::StrokeLineTo(const TFloatPoint& p) {
  if (stroke_.size() == stroke_.capacity()) stroke_.reserve(stroke_.capacity() * 2);
  stroke_.push_back(p);
}

void TRasterHelper::FlushStroke() {
  const std::size_t n = stroke_.size();
  if (n > 1) {
    const double h = double(StrokeWidth) / 2;
    bool started = false;
    auto emit = [this, &started](double x, double y, bool newContour) {
      const TFloatPoint q = ClampRasterPoint({float(x), float(y)});
      if (newContour || !started) outline_->MoveTo(q);
      else outline_->AddPoint(q);
      started = true;
    };
    // One side forward, the other side backward; segments of no length have
    // no normal and are skipped.
    auto side = [&](std::size_t from, std::size_t to, bool newContour) {
      const TFloatPoint& a = stroke_[from];
      const TFloatPoint& b = stroke_[to];
      const double dx = double(b.X) - a.X, dy = double(b.Y) - a.Y;
      const double len = std::hypot(dx, dy);
      if (!(len > 0) || !std::isfinite(len)) return false;
      const double nx = dy / len * h, ny = -dx / len * h;
      emit(a.X + nx, a.Y + ny, newContour);
      emit(b.X + nx, b.Y + ny, false);
      return true;
    };
    for (std::size_t i = 1; i < n; ++i) side(i - 1, i, false);
    if (started) {
      bool first = true;
      for (std::size_t i = n - 1; i >= 1; --i)
        if (side(i, i - 1, first && StrokeMode == smRing)) first = false;
    }
  }
  stroke_.clear();
}

void TRasterHelper::SetPaintSource(const TLinearGradient* gradient) {
  if (gradient) gradient_ = std::make_unique<TLinearGradient>(*gradient);
  else gradient_.reset();
}

TColor32 TRasterHelper::GradientColorAt(std::int32_t x, std::int32_t y) const {
  if (!gradient_) return Color;
  const TLinearGradient& g = *gradient_;
  const double v =
      ((double(x) - g.Origin.X) * g.Direction.Y - (double(y) - g.Origin.Y) * g.Direction.X) * g.Scale;
  std::int32_t t = 0;
  if (v >= 1024) t = 1024;
  else if (v > 0) t = std::int32_t(std::nearbyint(v));
  return g.Table[std::size_t(t)];
}

void TRasterHelper::BlendSpan(std::int32_t row, const std::uint16_t* coverage, std::int32_t first,
                              std::int32_t last) {
  if (!target_ || row < ClipRect.Top || row >= ClipRect.Bottom || row >= target_->Height()) return;
  const std::int32_t from = std::max({first, ClipRect.Left, 0});
  const std::int32_t to = std::min({last, ClipRect.Right - 1, target_->Width() - 1});
  TColor32* dst = reinterpret_cast<TColor32*>(target_->ScanLine(row));
  const bool solid = !gradient_;
  for (std::int32_t c = from; c <= to; ++c) {
    const std::uint32_t cov = coverage[c];
    if (cov == 0) continue;
    TColor32 col = solid ? Color : GradientColorAt(c, row);
    if (cov != 256) col.A = std::uint8_t((col.A * cov) >> 8);
    BlendOverColor32(dst[c], col);
  }
}

}  // namespace zm
