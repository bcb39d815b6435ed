#pragma once
// The off-screen surface a window's controls are drawn into: a 24-bit DIB
// with a grid of dirty cells of 8 x 8 pixels. Drawing acts only on dirty
// cells, and only they are copied to the window. Every drawing operation
// appends the window rectangle it drew to the drawn-rectangle list (the frame
// pass swaps in each frame's own list while that frame paints).
#include <cstdint>
#include <functional>
#include <vector>

#include "ZmLib/Composite/winContextWrapper.h"
#include "ZmLib/Composite/zmDrawFrames.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

constexpr std::int32_t kSurfaceCell = 8;
// What magenta pixels become in layered output: fully transparent.
constexpr std::uint32_t kLayeredTransparent = 0;

// Where NextDirtyRun goes on from.
struct TDirtyRunCursor {
  std::int32_t Row = -1, Col = 0;
};

class TWinSurface : public TDrawSurface {
public:
  TWinSurface(std::int32_t width = 1, std::int32_t height = 1);
  void Dispose() override;

  // Values below 1 become 1. The DIB is made anew when it must grow, or
  // shrink by more than 100 pixels in a direction; else only the logical
  // size changes.
  void SetSize(std::int32_t width, std::int32_t height, bool keepContent);
  // Clipped to the surface; marks the cells it touches. Whether anything was marked.
  bool Invalidate(const TRect& rect);
  bool InvalidateList(const TRect* rects, std::int32_t count);
  // The next horizontal run of cells in Clip's cell range whose byte equals
  // Flag, clipped to Clip; false when the rows are exhausted.
  bool NextDirtyRun(const TRect& clip, std::uint8_t flag, TDirtyRunCursor& cursor, TRect& run) const;
  // All dirty runs of the surface become the paint list; every cell is cleared.
  void CollectPaintRects();
  const std::vector<TRect>& PaintRects() const { return paintRects_; }
  bool CellDirty(std::int32_t col, std::int32_t row) const;
  std::int32_t DirtyCellCount() const;

  // Changed flag with its notification (called when the flag changes).
  void SetChanged(bool changed);
  bool Changed() const { return changed_; }
  std::function<void(TWinSurface*)> OnChanged;

  // The origin added to every drawing coordinate.
  void SetOrigin(std::int32_t x, std::int32_t y) { origin_ = {x, y}; }
  TPoint Origin() const { return origin_; }
  // The paint clip is the dirty rectangle (the frame pass narrows it and puts it back).
  TRect PaintClip() const { return dirty_; }
  void SetPaintClip(const TRect& r) { dirty_ = r; }
  TRect DirtyRect() const { return dirty_; }
  // Swaps in another drawn-rectangle list (nil: none) and returns the previous one.
  TRectList* SwapDrawnList(TRectList* list);
  TRectList* DrawnList() const { return drawn_; }

  // Drawing (frame coordinates plus the origin).
  void FillRect(const TRect& rect, TColor32 color) override;  // solid unless alpha < 255
  void BlendRect(const TRect& rect, TColor32 color) override;
  void DrawBitmap(std::int32_t x, std::int32_t y, TBitmap* bitmap) override;

  // Copies the collected rectangles (or the given ones, cut to the surface)
  // to a device context at an offset; false when a copy failed.
  bool PaintTo(plat::HDC dc, std::int32_t x, std::int32_t y);
  bool PaintRectsTo(plat::HDC dc, std::int32_t x, std::int32_t y, const TRect* rects, std::int32_t count);
  // The same through the 32-bit DIB: alpha 255, magenta made transparent.
  bool PaintLayeredTo(plat::HDC dc, std::int32_t x, std::int32_t y, const TRect* rects, std::int32_t count);

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t CellsAcross() const { return cellsX_; }
  std::int32_t CellsDown() const { return cellsY_; }
  TFastDIB* Dib() const { return dib_.get(); }
  TFastDIB* AlphaDib() const { return alphaDib_.get(); }
  TDibBitmap* Bitmap() const { return bitmap_.get(); }
  TWinContextWrapper* Context() const { return context_.get(); }
  // A pixel of the logical picture (B, G, R); black outside.
  TColor24 Pixel(std::int32_t x, std::int32_t y) const;

private:
  TColor24* Row(std::int32_t y) const;
  void NewDib(std::int32_t width, std::int32_t height, bool keepContent);
  void EnsureAlphaDib();
  void CheckDib() const;
  // The drawing rectangle: translated, recorded, clipped to the paint clip.
  bool Prepare(const TRect& rect, TRect& clipped);
  template <class F>
  void ForRuns(const TRect& area, F&& f);

  TRef<TFastDIB> dib_;
  TRef<TDibBitmap> bitmap_;
  TRef<TFastDIB> alphaDib_;
  TRef<TWinContextWrapper> context_;
  std::int32_t width_ = 0, height_ = 0;
  std::int32_t cellsX_ = 0, cellsY_ = 0;
  TRect dirty_;
  std::vector<std::uint8_t> cells_;
  TPoint origin_;
  bool changed_ = false;
  std::vector<TRect> paintRects_;
  TRectList* drawn_ = nullptr;
};

// The shared screen context, taken on first use and counted.
plat::HDC AcquireSharedScreenDC();
void ReleaseSharedScreenDC();
std::int32_t SharedScreenDCUsers();

}  // namespace zm
