#include "ZmLib/Composite/winSurface.h"

#include <algorithm>
#include <cstring>

#include "Platform/User/PlatUser.h"

namespace zm {

namespace {
TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

std::int32_t SatAdd(std::int32_t a, std::int32_t b) {
  std::int64_t s = std::int64_t(a) + b;
  return std::int32_t(std::clamp<std::int64_t>(s, INT32_MIN, INT32_MAX));
}

plat::HDC gScreenDC = nullptr;
std::int32_t gScreenUsers = 0;

inline std::uint8_t Mix(std::uint8_t c, std::uint8_t target, std::uint32_t a) {
  return std::uint8_t(c + ((std::int32_t(target) - std::int32_t(c)) * std::int32_t(a) >> 8));
}
}  // namespace

plat::HDC AcquireSharedScreenDC() {
  if (gScreenUsers == 0) gScreenDC = plat::GetDC(nullptr);
  ++gScreenUsers;
  return gScreenDC;
}

void ReleaseSharedScreenDC() {
  if (gScreenUsers == 0) return;
  if (--gScreenUsers == 0 && gScreenDC) {
    plat::ReleaseDC(nullptr, gScreenDC);
    gScreenDC = nullptr;
  }
}

std::int32_t SharedScreenDCUsers() { return gScreenUsers; }

// ---- TWinSurface ----------------------------------------------------------------------

TWinSurface::TWinSurface(std::int32_t width, std::int32_t height) : dirty_(kEmptyRect) {
  context_ = MakeRef<TWinContextWrapper>();
  width = std::max(width, 1);
  height = std::max(height, 1);
  NewDib(width, height, false);
  width_ = width;
  height_ = height;
  cellsX_ = (width_ - 1) / kSurfaceCell + 1;
  cellsY_ = (height_ - 1) / kSurfaceCell + 1;
  cells_.assign(std::size_t(cellsX_) * std::size_t(cellsY_), 0);
}

void TWinSurface::Dispose() {
  while (context_ && context_->BindCount() > 0) context_->Unbind();
  bitmap_ = nullptr;
  dib_ = nullptr;
  alphaDib_ = nullptr;
  context_ = nullptr;
  drawn_ = nullptr;
  TDrawSurface::Dispose();
}

void TWinSurface::CheckDib() const {
  ZM_ASSERT(dib_ && dib_->BitCount() == 24, "TWinSurface: the surface DIB is not 24-bit");
}

TColor24* TWinSurface::Row(std::int32_t y) const {
  // Bottom-up: the top line is the last in memory.
  return dib_->Pixels24(dib_->TopDown() ? y : dib_->AbsHeight() - 1 - y);
}

void TWinSurface::NewDib(std::int32_t width, std::int32_t height, bool keepContent) {
  TRef<TFastDIB> dib = MakeRef<TFastDIB>();
  dib->SetSize(width, height, 24);
  if (keepContent && dib_) {
    std::int32_t w = std::min(width_, width), h = std::min(height_, height);
    for (std::int32_t y = 0; y < h; ++y)
      std::memcpy(dib->Pixels24(dib->AbsHeight() - 1 - y), Row(y), std::size_t(w) * 3);
  }
  plat::HDC oldDc = dib_ ? dib_->Dc() : nullptr;
  std::int32_t binds = 0;
  if (context_ && oldDc && context_->Dc() == oldDc)
    while (context_->BindCount() > 0) {
      context_->Unbind();
      ++binds;
    }
  bitmap_ = nullptr;
  dib_ = dib;
  bitmap_ = WrapDibBitmap(dib_.get(), false);
  if (alphaDib_) {
    alphaDib_->SetSize(width, height, 32);
    ZM_ASSERT(alphaDib_->BitCount() == 32, "TWinSurface: the alpha DIB is not 32-bit");
  }
  for (std::int32_t i = 0; i < binds; ++i) context_->Bind(dib_->Dc());
}

void TWinSurface::SetSize(std::int32_t width, std::int32_t height, bool keepContent) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == width_ && height == height_) return;
  std::int32_t dw = dib_->Width(), dh = dib_->AbsHeight();
  if (width > dw || height > dh || dw - width > 100 || dh - height > 100) NewDib(width, height, keepContent);
  width_ = width;
  height_ = height;
  std::int32_t cx = (width_ - 1) / kSurfaceCell + 1, cy = (height_ - 1) / kSurfaceCell + 1;
  std::vector<std::uint8_t> cells(std::size_t(cx) * std::size_t(cy), 0);
  for (std::int32_t r = 0; r < std::min(cy, cellsY_); ++r)
    for (std::int32_t c = 0; c < std::min(cx, cellsX_); ++c)
      cells[std::size_t(r) * std::size_t(cx) + std::size_t(c)] = cells_[std::size_t(r) * std::size_t(cellsX_) + std::size_t(c)];
  cells_.swap(cells);
  cellsX_ = cx;
  cellsY_ = cy;
  if (!IsEmptyRect(dirty_)) {
    dirty_ = Intersect(dirty_, {0, 0, width_, height_});
    if (IsEmptyRect(dirty_)) dirty_ = kEmptyRect;
  }
}

bool TWinSurface::Invalidate(const TRect& rect) {
  TRect r = Intersect(rect, {0, 0, width_, height_});
  if (IsEmptyRect(r)) return false;
  UnionRectInPlace(dirty_, r);
  for (std::int32_t row = r.Top / kSurfaceCell; row <= (r.Bottom - 1) / kSurfaceCell; ++row)
    for (std::int32_t col = r.Left / kSurfaceCell; col <= (r.Right - 1) / kSurfaceCell; ++col)
      cells_[std::size_t(row) * std::size_t(cellsX_) + std::size_t(col)] = 1;
  return true;
}

bool TWinSurface::InvalidateList(const TRect* rects, std::int32_t count) {
  bool any = false;
  for (std::int32_t i = 0; rects && i < count; ++i) any = Invalidate(rects[i]) || any;
  return any;
}

bool TWinSurface::NextDirtyRun(const TRect& clip, std::uint8_t flag, TDirtyRunCursor& cur, TRect& run) const {
  TRect c = Intersect(clip, {0, 0, width_, height_});
  if (IsEmptyRect(c)) return false;
  std::int32_t c0 = c.Left / kSurfaceCell, c1 = (c.Right - 1) / kSurfaceCell;
  std::int32_t r0 = c.Top / kSurfaceCell, r1 = (c.Bottom - 1) / kSurfaceCell;
  if (cur.Row < r0) {
    cur.Row = r0;
    cur.Col = c0;
  }
  for (; cur.Row <= r1; ++cur.Row, cur.Col = c0) {
    const std::uint8_t* line = &cells_[std::size_t(cur.Row) * std::size_t(cellsX_)];
    while (cur.Col <= c1 && line[cur.Col] != flag) ++cur.Col;
    if (cur.Col > c1) continue;
    std::int32_t start = cur.Col;
    while (cur.Col <= c1 && line[cur.Col] == flag) ++cur.Col;
    run = {std::max(start * kSurfaceCell, c.Left), std::max(cur.Row * kSurfaceCell, c.Top),
           std::min(cur.Col * kSurfaceCell, c.Right), std::min((cur.Row + 1) * kSurfaceCell, c.Bottom)};
    return true;
  }
  return false;
}

void TWinSurface::CollectPaintRects() {
  paintRects_.clear();
  TDirtyRunCursor cur;
  TRect run;
  while (NextDirtyRun({0, 0, width_, height_}, 1, cur, run)) paintRects_.push_back(run);
  std::fill(cells_.begin(), cells_.end(), 0);
  dirty_ = kEmptyRect;
}

bool TWinSurface::CellDirty(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= cellsX_ || row >= cellsY_) return false;
  return cells_[std::size_t(row) * std::size_t(cellsX_) + std::size_t(col)] != 0;
}

std::int32_t TWinSurface::DirtyCellCount() const {
  return std::int32_t(std::count_if(cells_.begin(), cells_.end(), [](std::uint8_t b) { return b != 0; }));
}

void TWinSurface::SetChanged(bool changed) {
  if (changed == changed_) return;
  changed_ = changed;
  if (OnChanged) OnChanged(this);
}

TRectList* TWinSurface::SwapDrawnList(TRectList* list) {
  TRectList* old = drawn_;
  drawn_ = list;
  return old;
}

bool TWinSurface::Prepare(const TRect& rect, TRect& clipped) {
  CheckDib();
  TRect r{SatAdd(rect.Left, origin_.X), SatAdd(rect.Top, origin_.Y), SatAdd(rect.Right, origin_.X),
          SatAdd(rect.Bottom, origin_.Y)};
  if (drawn_) drawn_->Add(r);
  clipped = Intersect(Intersect(r, dirty_), {0, 0, width_, height_});
  return !IsEmptyRect(clipped);
}

template <class F>
void TWinSurface::ForRuns(const TRect& area, F&& f) {
  TDirtyRunCursor cur;
  TRect run;
  while (NextDirtyRun(area, 1, cur, run)) f(run);
}

void TWinSurface::FillRect(const TRect& rect, TColor32 color) {
  if (color.A < 255) {
    BlendRect(rect, color);
    return;
  }
  TRect area;
  if (!Prepare(rect, area)) return;
  TColor24 c{color.B, color.G, color.R};
  ForRuns(area, [&](const TRect& run) {
    for (std::int32_t y = run.Top; y < run.Bottom; ++y) std::fill(Row(y) + run.Left, Row(y) + run.Right, c);
  });
}

void TWinSurface::BlendRect(const TRect& rect, TColor32 color) {
  TRect area;
  if (!Prepare(rect, area) || color.A == 0) return;
  ForRuns(area, [&](const TRect& run) {
    for (std::int32_t y = run.Top; y < run.Bottom; ++y) {
      TColor24* p = Row(y);
      for (std::int32_t x = run.Left; x < run.Right; ++x) {
        p[x].B = Mix(p[x].B, color.B, color.A);
        p[x].G = Mix(p[x].G, color.G, color.A);
        p[x].R = Mix(p[x].R, color.R, color.A);
      }
    }
  });
}

void TWinSurface::DrawBitmap(std::int32_t x, std::int32_t y, TBitmap* bitmap) {
  if (!bitmap || bitmap->IsEmpty()) return;
  TRect rect{x, y, SatAdd(x, bitmap->Width()), SatAdd(y, bitmap->Height())};
  TRect area;
  if (!Prepare(rect, area)) return;
  TPixelFormat* fmt = bitmap->PixelFormat();
  bool alpha = fmt && fmt->HasAlpha;
  bool premultiplied = alpha && fmt->Premultiplied;
  // Every path reads 32-bit pixels: the source converted once.
  TRef<TBitmap> src(bitmap);
  TPixelFormat* argb = PixelFormatByName(premultiplied ? "A8r8g8b8" : "A8R8G8B8");
  if (fmt != argb) src = ConvertBitmap(bitmap, argb, nullptr);
  if (!src) return;
  std::int32_t sx0 = SatAdd(x, origin_.X), sy0 = SatAdd(y, origin_.Y);
  std::vector<std::uint32_t> line;
  ForRuns(area, [&](const TRect& run) {
    std::int32_t n = run.Right - run.Left;
    line.resize(std::size_t(n));
    for (std::int32_t yy = run.Top; yy < run.Bottom; ++yy) {
      src->GetPixels32(line, 0, run.Left - sx0, yy - sy0, n);
      TColor24* p = Row(yy) + run.Left;
      for (std::int32_t i = 0; i < n; ++i) {
        TColor32 s = TColor32::FromValue(line[std::size_t(i)]);
        if (!alpha || s.A == 255) {
          p[i] = {s.B, s.G, s.R};
        } else if (premultiplied) {
          std::uint32_t k = 255u - s.A;
          p[i] = {std::uint8_t(std::min<std::uint32_t>(255, s.B + p[i].B * k / 255)),
                  std::uint8_t(std::min<std::uint32_t>(255, s.G + p[i].G * k / 255)),
                  std::uint8_t(std::min<std::uint32_t>(255, s.R + p[i].R * k / 255))};
        } else if (s.A != 0) {
          p[i] = {Mix(p[i].B, s.B, s.A), Mix(p[i].G, s.G, s.A), Mix(p[i].R, s.R, s.A)};
        }
      }
    }
  });
}

bool TWinSurface::PaintTo(plat::HDC dc, std::int32_t x, std::int32_t y) {
  return PaintRectsTo(dc, x, y, paintRects_.data(), std::int32_t(paintRects_.size()));
}

bool TWinSurface::PaintRectsTo(plat::HDC dc, std::int32_t x, std::int32_t y, const TRect* rects, std::int32_t count) {
  CheckDib();
  bool ok = true;
  for (std::int32_t i = 0; rects && i < count; ++i) {
    TRect r = Intersect(rects[i], {0, 0, width_, height_});
    if (IsEmptyRect(r)) continue;
    ok = plat::BitBlt(dc, x + r.Left, y + r.Top, r.Right - r.Left, r.Bottom - r.Top, dib_->Dc(), r.Left, r.Top,
                      plat::SRCCOPY) != 0 && ok;
  }
  return ok;
}

void TWinSurface::EnsureAlphaDib() {
  if (!alphaDib_) {
    alphaDib_ = MakeRef<TFastDIB>();
    alphaDib_->SetSize(dib_->Width(), dib_->AbsHeight(), 32);
  }
  ZM_ASSERT(alphaDib_->BitCount() == 32, "TWinSurface: the alpha DIB is not 32-bit");
}

bool TWinSurface::PaintLayeredTo(plat::HDC dc, std::int32_t x, std::int32_t y, const TRect* rects,
                                 std::int32_t count) {
  CheckDib();
  EnsureAlphaDib();
  bool ok = true;
  for (std::int32_t i = 0; rects && i < count; ++i) {
    TRect r = Intersect(rects[i], {0, 0, width_, height_});
    if (IsEmptyRect(r)) continue;
    for (std::int32_t yy = r.Top; yy < r.Bottom; ++yy) {
      const TColor24* s = Row(yy);
      std::uint32_t* d = alphaDib_->Pixels32(alphaDib_->TopDown() ? yy : alphaDib_->AbsHeight() - 1 - yy);
      for (std::int32_t xx = r.Left; xx < r.Right; ++xx) {
        const TColor24& c = s[xx];
        d[xx] = (c.R == 255 && c.G == 0 && c.B == 255) ? kLayeredTransparent
                                                       : TColor32{c.B, c.G, c.R, 255}.Value();
      }
    }
    ok = plat::BitBlt(dc, x + r.Left, y + r.Top, r.Right - r.Left, r.Bottom - r.Top, alphaDib_->Dc(), r.Left,
                      r.Top, plat::SRCCOPY) != 0 && ok;
  }
  return ok;
}

TColor24 TWinSurface::Pixel(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
  return Row(y)[x];
}

}  // namespace zm
