#pragma once
// TRasterHelper: paints polygons and paths, filled or stroked, through a
// transform, in one colour or a linear gradient, into a new 32-bit bitmap
// ("A8R8G8B8", straight alpha) opened with BeginPaint and handed out by
// EndPaint. The transform, colour, paint source and stroke settings persist
// across paintings. A helper belongs to one drawing at a time.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/VectorGraphics/zmRasterizer.h"
#include "ZmLib/VectorGraphics/zmRasterizerTypes.h"

namespace zm {

// Coordinates beyond 67108863 in magnitude become plus or minus 67108864;
// a coordinate that is not a number becomes 0.
TFloatPoint ClampRasterPoint(const TFloatPoint& p);

// A linear gradient: the colour of pixel (x, y) is Table[t] with
// t = round(((x - Origin.X) * Direction.Y - (y - Origin.Y) * Direction.X) * Scale)
// held within 0..1024.
struct TLinearGradient {
  TFloatPoint Origin;
  TFloatPoint Direction;
  double Scale = 1;
  std::array<TColor32, 1025> Table{};
};

// Stroke modes: 0 fills; otherwise paths are stroked, 1 as a ring (the two
// sides of a polyline as separate contours), any other value as one band.
constexpr std::int32_t smFill = 0;
constexpr std::int32_t smRing = 1;
constexpr std::int32_t smBand = 2;

using TPointTransform = std::function<TFloatPoint(const TFloatPoint&)>;

class TRasterHelper : public TRefObject {
public:
  TRasterHelper();
  // Painting still open: the assertion "Previous TRasterHelper.BeginPaint
  // not Closed" (after everything is released).
  void Dispose() override;

  // A W x H target filled with Color. Assertions: painting already open
  // "Previous TRasterHelper.BeginPaint not Closed"; W or H below 1
  // "TRasterHelper.BeginPaint: W or H = 0".
  void BeginPaint(std::int32_t w, std::int32_t h, TColor32 color);
  // BeginPaint with the helper's colour at alpha 0.
  void BeginPaintTransparent(std::int32_t w, std::int32_t h);
  // The target (the caller owns it); painting ends. Without painting:
  // "No Previous Call of TRasterHelper.BeginPaint".
  TRef<TDirectBitmap> EndPaint();
  bool Painting() const { return bool(target_); }

  // Points pass unchanged.
  void ResetTransform();
  void SetMatrix(const TMatrix& m);
  // The current matrix (identity when none) times M: M acts after it.
  void ApplyMatrix(const TMatrix& m);
  // Any point transform (replaces the matrix).
  void SetPointTransform(TPointTransform transform);
  bool HasMatrix() const { return hasMatrix_; }
  const TMatrix& Matrix() const { return matrix_; }

  // With Count > 1 (and at most Points.size()), fills the polygon at once.
  // Without painting open: "No Previous Call of TRasterHelper.BeginPaint".
  void AddPolygon(std::span<const TFloatPoint> points, bool evenOdd, std::int32_t count);
  // Paints a parsed path, filled or stroked by StrokeMode. A path whose
  // first entry is not a move paints nothing; a code other than 0 to 3
  // fails "Unknown Path Command"; a curve cut short by the end of the list
  // is dropped.
  void AddPath(const TPathPoints& points, bool evenOdd);

  // Nil: paint in Color.
  void SetPaintSource(const TLinearGradient* gradient);
  TColor32 GradientColorAt(std::int32_t x, std::int32_t y) const;

  // Called by the outline for every covered run: blends the colour (its
  // alpha times the coverage) over the target.
  void BlendSpan(std::int32_t row, const std::uint16_t* coverage, std::int32_t first, std::int32_t last);

  std::int32_t StrokeMode = smFill;
  float StrokeWidth = 1;
  TColor32 Color{255, 255, 255, 255};
  // Spans are cut to it (right and bottom exclusive).
  TRect ClipRect{0, 0, 2147483647, 2147483647};

private:
  TFloatPoint Map(const TPathPoint& p) const;
  void LineTo(const TFloatPoint& p);
  void MoveTo(const TFloatPoint& p);
  void StrokeMoveTo(const TFloatPoint& p);
  void StrokeLineTo(const TFloatPoint& p);
  void FlushStroke();
  void CheckPainting() const;

  TRef<TRasterizer> rasterizer_;
  TRef<TOutline> outline_;
  TRef<TDirectBitmap> target_;
  TMatrix matrix_;
  bool hasMatrix_ = false;
  TPointTransform transform_;
  std::vector<TFloatPoint> stroke_;
  std::unique_ptr<TLinearGradient> gradient_;
  bool stroking_ = false;
};

}  // namespace zm
