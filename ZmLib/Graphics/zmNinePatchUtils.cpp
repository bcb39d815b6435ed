#include "ZmLib/Graphics/zmNinePatchUtils.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/SysPixelFormat.h"

namespace zm {

namespace {

bool IsArgb(const TBitmap* b) {
  const TPixelFormat* f = b ? b->PixelFormat() : nullptr;
  return f && f->BytesPerPixel == 4 && f->Name == TByteString(PF_A8R8G8B8);
}

// Rectangles in 64 bits: spans of 32-bit coordinates may not fit 32 bits.
struct TSpan64 {
  std::int64_t L, T, R, B;
  bool Empty() const { return R <= L || B <= T; }
};

TSpan64 Intersect(const TSpan64& a, const TSpan64& b) {
  return {std::max(a.L, b.L), std::max(a.T, b.T), std::min(a.R, b.R), std::min(a.B, b.B)};
}

std::uint32_t Pixel(const TSysBitmap* b, std::int64_t x, std::int64_t y) {
  return reinterpret_cast<const std::uint32_t*>(b->ScanLine(std::int32_t(y)))[x];
}

void BlendAt(TSysBitmap* target, std::int64_t x, std::int64_t y, std::uint32_t color) {
  BlendPixelOver(target->ScanLine(std::int32_t(y)) + x * 4, TColor32::FromValue(color));
}

// One entry of the bilinear tables: the two neighbours and the weight of the
// second in 1/65536.
struct TTap {
  std::int32_t P0, P1, F;
};

TTap MakeTap(std::int64_t i, std::int64_t dst, std::int64_t src0, std::int64_t srcLen, std::int32_t pictureLen) {
  const double factor = dst <= 1 ? 0.0 : 1.0 / double(dst - 1);
  const double t = double(i) * factor * double(srcLen - 1);
  const std::int64_t limit = std::min<std::int64_t>(src0 + srcLen, pictureLen) - 1;
  const std::int64_t p0 = std::clamp<std::int64_t>(std::int64_t(t) + src0, 0, std::max<std::int64_t>(limit, 0));
  const std::int64_t p1 = std::min(p0 + 1, std::max<std::int64_t>(limit, 0));
  const double frac = t - std::trunc(t);
  // nearbyint rounds halves to even in the default rounding mode.
  const std::int32_t f = std::clamp(std::int32_t(std::nearbyint(frac * 65536.0 - 0.5)), 0, 65535);
  return {std::int32_t(p0), std::int32_t(p1), f};
}

std::uint32_t Lerp(std::uint32_t c0, std::uint32_t c1, std::int32_t f) {
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const std::int32_t a = std::int32_t((c0 >> shift) & 0xFF), b = std::int32_t((c1 >> shift) & 0xFF);
    const std::int32_t v = a + (b - a) * f / 65536;  // truncating toward zero
    out |= std::uint32_t(v) << shift;
  }
  return out;
}

void Stretch(TSysBitmap* target, const TSpan64& cell, const TSpan64& visible, const TSysBitmap* src,
             const TSpan64& srcCell) {
  const std::int64_t dw = cell.R - cell.L, dh = cell.B - cell.T;
  const std::int64_t sw = srcCell.R - srcCell.L, sh = srcCell.B - srcCell.T;
  std::vector<TTap> cols;
  cols.reserve(std::size_t(visible.R - visible.L));
  for (std::int64_t x = visible.L; x < visible.R; ++x)
    cols.push_back(MakeTap(x - cell.L, dw, srcCell.L, sw, src->Width()));
  for (std::int64_t y = visible.T; y < visible.B; ++y) {
    const TTap row = MakeTap(y - cell.T, dh, srcCell.T, sh, src->Height());
    for (std::int64_t x = visible.L; x < visible.R; ++x) {
      const TTap& c = cols[std::size_t(x - visible.L)];
      const std::uint32_t a = Lerp(Pixel(src, c.P0, row.P0), Pixel(src, c.P1, row.P0), c.F);
      const std::uint32_t b = Lerp(Pixel(src, c.P0, row.P1), Pixel(src, c.P1, row.P1), c.F);
      BlendAt(target, x, y, Lerp(a, b, row.F));
    }
  }
}

}  // namespace

void NinePatchLines(std::int32_t a, std::int32_t b, std::int32_t m1, std::int32_t m2, std::int32_t lines[4]) {
  const std::int64_t sum = std::int64_t(a) + m1 + b - m2;
  const std::int64_t m = std::clamp<std::int64_t>(sum / 2, a, std::max(a, b));  // "/" truncates toward zero
  lines[0] = a;
  lines[1] = std::int32_t(std::min<std::int64_t>(std::int64_t(a) + m1, m));
  lines[2] = std::int32_t(std::max<std::int64_t>(std::int64_t(b) - m2, m));
  lines[3] = b;
}

void LoadNinePatch(TNinePatch& patch, TBitmap* picture, std::int32_t left, std::int32_t top, std::int32_t right,
                   std::int32_t bottom) {
  const TRect whole = picture ? TRect{0, 0, picture->Width(), picture->Height()} : TRect{};
  LoadNinePatchCell(patch, picture, whole, left, top, right, bottom);
}

void LoadNinePatchCell(TNinePatch& patch, TBitmap* picture, const TRect& rect, std::int32_t left, std::int32_t top,
                       std::int32_t right, std::int32_t bottom) {
  patch.Picture = nullptr;
  patch.Flags = 0;
  patch.Rect = {};
  patch.Margins = {std::max(left, 0), std::max(top, 0), std::max(right, 0), std::max(bottom, 0)};
  if (!picture || picture->IsEmpty()) return;
  const TRect r{std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, picture->Width()),
                std::min(rect.Bottom, picture->Height())};
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  const std::int32_t w = r.Right - r.Left, h = r.Bottom - r.Top;
  TRef<TSysBitmap> own = CreateSysBitmap(w, h, FindPixelFormat(PF_A8R8G8B8));
  own->CopyRect(TRect{0, 0, w, h}, picture, pmNone, TPoint{r.Left, r.Top});
  patch.Picture = own;
  patch.Rect = {0, 0, w, h};

  std::int32_t xs[4], ys[4];
  NinePatchLines(0, w, patch.Margins.Left, patch.Margins.Right, xs);
  NinePatchLines(0, h, patch.Margins.Top, patch.Margins.Bottom, ys);
  if (xs[2] > xs[1] && ys[2] > ys[1]) {
    const std::uint32_t first = Pixel(own.get(), xs[1], ys[1]);
    bool uniform = true;
    for (std::int32_t y = ys[1]; y < ys[2] && uniform; ++y)
      for (std::int32_t x = xs[1]; x < xs[2]; ++x)
        if (Pixel(own.get(), x, y) != first) {
          uniform = false;
          break;
        }
    if (uniform) patch.Flags |= npUniformCenter;
  }
}

void DrawNinePatch(TSysBitmap* target, const TRect& rect, const TNinePatch& patch) {
  const TRect all = target ? TRect{0, 0, target->Width(), target->Height()} : TRect{};
  DrawNinePatch(target, rect, all, patch);
}

void DrawNinePatch(TSysBitmap* target, const TRect& rect, const TRect& clip, const TNinePatch& patch) {
  ZM_ASSERT(IsArgb(target), "DrawNinePatch - Target is not A8R8G8B8");
  if (patch.IsEmpty()) return;
  ZM_ASSERT(IsArgb(patch.Picture.get()), "DrawNinePatch - Picture is not A8R8G8B8");
  const TSysBitmap* src = patch.Picture.get();
  const TSpan64 area = Intersect(TSpan64{clip.Left, clip.Top, clip.Right, clip.Bottom},
                                 TSpan64{0, 0, target->Width(), target->Height()});
  if (area.Empty() || Intersect(area, TSpan64{rect.Left, rect.Top, rect.Right, rect.Bottom}).Empty()) return;

  std::int32_t sx[4], sy[4], dx[4], dy[4];
  NinePatchLines(patch.Rect.Left, patch.Rect.Right, patch.Margins.Left, patch.Margins.Right, sx);
  NinePatchLines(patch.Rect.Top, patch.Rect.Bottom, patch.Margins.Top, patch.Margins.Bottom, sy);
  NinePatchLines(rect.Left, rect.Right, patch.Margins.Left, patch.Margins.Right, dx);
  NinePatchLines(rect.Top, rect.Bottom, patch.Margins.Top, patch.Margins.Bottom, dy);

  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) {
      const TSpan64 cell{dx[col], dy[row], dx[col + 1], dy[row + 1]};
      const TSpan64 srcCell{sx[col], sy[row], sx[col + 1], sy[row + 1]};
      if (cell.Empty() || srcCell.Empty()) continue;
      const TSpan64 visible = Intersect(cell, area);
      if (visible.Empty()) continue;

      if (row == 1 && col == 1 && (patch.Flags & npUniformCenter)) {
        const std::uint32_t color = Pixel(src, srcCell.L, srcCell.T);
        const std::uint32_t alpha = color >> 24;
        if (alpha == 0) continue;
        for (std::int64_t y = visible.T; y < visible.B; ++y) {
          auto* line = reinterpret_cast<std::uint32_t*>(target->ScanLine(std::int32_t(y)));
          for (std::int64_t x = visible.L; x < visible.R; ++x)
            if (alpha == 255)
              line[x] = color;
            else
              BlendAt(target, x, y, color);
        }
        continue;
      }

      if (cell.R - cell.L == srcCell.R - srcCell.L && cell.B - cell.T == srcCell.B - srcCell.T) {
        // One to one: the visible part, also cut to the picture.
        const std::int64_t ox = srcCell.L - cell.L, oy = srcCell.T - cell.T;
        const TSpan64 part = Intersect(visible, TSpan64{-ox, -oy, src->Width() - ox, src->Height() - oy});
        for (std::int64_t y = part.T; y < part.B; ++y)
          for (std::int64_t x = part.L; x < part.R; ++x) BlendAt(target, x, y, Pixel(src, x + ox, y + oy));
        continue;
      }
      Stretch(target, cell, visible, src, srcCell);
    }
}

}  // namespace zm
