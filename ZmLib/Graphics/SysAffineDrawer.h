#pragma once
// Drawing of a bitmap under an affine transformation into a 24-bit
// destination, on the processor, cell by cell. The destination is cut into
// cells of a fixed size; each transformation classifies every cell once
// (outside, on the picture's edge, inside, inside and opaque) and each kind
// is filled by its own span procedure, so that inner cells run without
// bounds tests. TBilinearDrawer (SysBilinearDrawer) is the drawer in use.
//
// Pixel (i, j) is taken at its centre (i + 0.5, j + 0.5); positions in the
// source are 16.16 fixed point, held in 64 bits. Rectangles are right and
// bottom exclusive. A drawer belongs to one thread at a time.
#include <cstdint>
#include <functional>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

// Destination from source: (x, y) maps to (M[0] + M[2] x + M[4] y,
// M[1] + M[3] x + M[5] y): the translation, then the images of the unit x
// and unit y steps.
struct TDrawerMatrix {
  float M[6] = {0, 0, 1, 0, 0, 1};
  friend bool operator==(const TDrawerMatrix&, const TDrawerMatrix&) = default;
};

// Cell kinds.
constexpr std::uint8_t ckOutside = 0;
constexpr std::uint8_t ckEdge = 1;
constexpr std::uint8_t ckInner = 2;
constexpr std::uint8_t ckOpaque = 3;

struct TDrawCell {
  TRect Rect;             // the cell cut to the clip
  float SX = 0, SY = 0;   // the source position of its first pixel's centre, minus half a pixel
  std::int64_t FX = 0, FY = 0;  // the same in 16.16
  std::uint8_t Kind = ckOutside;
};

struct TDrawCellRow {
  std::int32_t FirstColumn = 0;
  std::vector<TDrawCell> Cells;
};

// More cells than this are never made (a 4K picture in 2 x 2 cells is
// about two million).
constexpr std::int64_t kMaxDrawCells = std::int64_t(1) << 22;

using TDrawSpanProc = std::function<void(const TDrawCell& cell, TSysBitmap* destination)>;

class TAffineDrawer : public TRefObject {
public:
  // Cells of CellWidth x CellHeight pixels (both at least 1, asserted).
  TAffineDrawer(std::int32_t cellWidth, std::int32_t cellHeight);
  void Dispose() override;

  // Chooses the span procedures and the inner and opaque areas; false when
  // nothing can be drawn.
  virtual bool Prepare();
  // Fills every classified cell; nothing when the cells are not valid. The
  // destination must be 24-bit and reach the clip's right and bottom
  // (assertions).
  virtual void Draw(TSysBitmap* destination);
  virtual void SetSource(TSysBitmap* bitmap, bool owned);

  // Classifies the cells for a clip and a matrix. The clip's left and top
  // must not be negative (asserted). A matrix that cannot be inverted, a
  // failed Prepare, an area larger than any bitmap or more than
  // kMaxDrawCells cells leave no cells.
  void SetTransform(const TRect& clipRect, const TDrawerMatrix& matrix);
  // 0..255 (held there); the cells must be classified again.
  void SetOpacity(std::int32_t opacity);

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t Opacity() const { return opacity_; }
  const TDrawerMatrix& Matrix() const { return matrix_; }
  bool Ready() const { return ready_; }
  const TRect& ClipRect() const { return clipRect_; }
  std::int32_t FirstCellRow() const { return firstCellRow_; }
  const std::vector<TDrawCellRow>& CellRows() const { return cellRows_; }
  // The 16.16 source displacement for one destination pixel right and down.
  std::int64_t StepXX() const { return stepX_[0]; }
  std::int64_t StepXY() const { return stepX_[1]; }
  std::int64_t StepYX() const { return stepY_[0]; }
  std::int64_t StepYY() const { return stepY_[1]; }

protected:
  void SetSourceSize(std::int32_t w, std::int32_t h);
  void Invalidate() { ready_ = false; }

  TRect SourceRect{};
  // The source area where every bilinear tap lies inside the source (in
  // sample positions: pixel centres minus half a pixel); empty when none.
  TRect InnerRect{};
  // The area that may use the fastest procedure; empty when not applicable.
  TRect OpaqueRect{};
  TDrawSpanProc SpanProc1, SpanProc2, SpanProc3;

private:
  void ClearCells();
  void MarkInner(const TRect& area, std::uint8_t kind);

  std::int32_t width_ = 0, height_ = 0;
  std::int32_t opacity_ = 255;
  TDrawerMatrix matrix_;
  bool haveInverse_ = false;
  double inverse_[6] = {};
  std::int32_t cellWidth_, cellHeight_;
  long double invCellWidth_;
  TRect clipRect_{};
  std::int32_t firstCellRow_ = 0;
  std::vector<TDrawCellRow> cellRows_;
  bool ready_ = false;
  std::int64_t stepX_[2] = {}, stepY_[2] = {};
};

// A drawer with a source bitmap: "R8G8B8" or "A8R8G8B8", else the assertion
// "Unsupported PixelFormat". An owned source is freed when replaced and at
// the end; one not owned is shared (a reference is taken).
class TImageDrawer : public TAffineDrawer {
public:
  using TAffineDrawer::TAffineDrawer;
  void Dispose() override;
  void SetSource(TSysBitmap* bitmap, bool owned) override;

  TSysBitmap* Source() const { return source_.get(); }
  bool OwnsSource() const { return ownsSource_; }

private:
  TRef<TSysBitmap> source_;
  bool ownsSource_ = false;
};

}  // namespace zm
