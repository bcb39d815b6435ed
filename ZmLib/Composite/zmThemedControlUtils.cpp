#include "ZmLib/Composite/zmThemedControlUtils.h"

#include <algorithm>

#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Graphics/zmBitmapUtils.h"
#include "ZmLib/Win32/winHooks.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/VectorGraphics/zmRasterizer.h"

namespace zm {

void DrawClassicFrame(TDirectBitmap* bitmap, const TRect& rect, TColor32 outerLight, TColor32 innerLight,
                      TColor32 outerDark, TColor32 innerDark, TColor32 face) {
  if (!bitmap || rect.Right <= rect.Left || rect.Bottom <= rect.Top) return;
  DrawBevelRect(bitmap, rect, outerLight, outerDark);
  TRect inner{rect.Left + 1, rect.Top + 1, rect.Right - 1, rect.Bottom - 1};
  DrawBevelRect(bitmap, inner, innerLight, innerDark);
  TRect inside{rect.Left + 2, rect.Top + 2, rect.Right - 2, rect.Bottom - 2};
  if (inside.Right > inside.Left && inside.Bottom > inside.Top) bitmap->FillRect(inside, face);
}

void DrawClassicArrow(TDirectBitmap* bitmap, std::int32_t cx, std::int32_t cy, std::int32_t height, bool pointsLeft,
                      TColor32 color) {
  if (!bitmap || height < 1 || height > 1 << 20) return;
  const std::int32_t width = (height + 1) / 2;
  const std::int32_t left = cx - width / 2;
  const std::int32_t top = cy - height / 2;
  for (std::int32_t i = 0; i < height; ++i) {
    std::int32_t len = std::min(i + 1, height - i);
    std::int32_t x = pointsLeft ? left + width - len : left;
    bitmap->FillRect({x, top + i, x + len, top + i + 1}, color);
  }
}

namespace {
struct TGlyphSlot {
  TRef<TDirectBitmap> Bitmap;
  std::int32_t Size = 0;
  std::uint32_t Color = 0;
  std::int32_t Direction = -1;
};
TGlyphSlot glyphs[kArrowGlyphSlots];
TRef<TRasterizer> rasterizer;
std::int32_t builds = 0;

TRef<TDirectBitmap> RenderArrow(std::int32_t size, TColor32 color, std::int32_t direction) {
  auto bitmap = MakeRef<TDirectBitmap>(size, PixelFormatByName(PF_A8R8G8B8), size);
  const float s = float(size), q = s / 4, h = s / 2;
  // Pointing down, then turned: the base a quarter in, the apex a quarter from the far side.
  TFloatPoint pts[3] = {{0, q}, {s, q}, {h, s - q}};
  for (auto& p : pts) {
    TFloatPoint t = p;
    if (direction == adUp) t = {p.X, s - p.Y};
    if (direction == adRight) t = {p.Y, p.X};
    if (direction == adLeft) t = {s - p.Y, p.X};
    p = t;
  }
  auto outline = MakeRef<TOutline>();
  outline->MoveTo(pts[0]);
  outline->AddPoint(pts[1]);
  outline->AddPoint(pts[2]);
  outline->Finish();
  outline->OnSpan = [&](std::int32_t row, const std::uint16_t* cov, std::int32_t first, std::int32_t last) {
    if (row < 0 || row >= size) return;
    std::uint32_t* line = bitmap->Row32(row);
    for (std::int32_t x = std::max(first, 0); x <= last && x < size; ++x) {
      TColor32 c = color;
      c.A = std::uint8_t(std::min<std::uint32_t>(255, std::uint32_t(color.A) * cov[x] / 256));
      line[x] = c.Value();
    }
  };
  if (!rasterizer) rasterizer = MakeRef<TRasterizer>();
  rasterizer->Rasterize(outline.get(), size, size);
  return bitmap;
}
}  // namespace

TDirectBitmap* ArrowGlyph(std::int32_t slot, std::int32_t size, TColor32 color, std::int32_t direction) {
  if (slot < 0 || slot >= kArrowGlyphSlots) ZM_FAIL("ArrowGlyph: slot out of range");
  if (direction < adLeft || direction > adDown) ZM_FAIL("ArrowGlyph: unknown direction");
  if (size < 1 || size > 1024) return nullptr;
  TGlyphSlot& g = glyphs[slot];
  if (g.Bitmap && g.Size == size && g.Color == color.Value() && g.Direction == direction) return g.Bitmap.get();
  g.Bitmap = RenderArrow(size, color, direction);
  g.Size = size;
  g.Color = color.Value();
  g.Direction = direction;
  ++builds;
  return g.Bitmap.get();
}

std::int32_t ArrowGlyphBuilds() { return builds; }

void FreeArrowGlyphs() {
  for (auto& g : glyphs) g = TGlyphSlot{};
  rasterizer.reset();
}

TRef<TDirectBitmap> ArgbBitmap(TBitmap* bitmap) {
  if (!bitmap || bitmap->Width() < 1 || bitmap->Height() < 1) return nullptr;
  TPixelFormat* argb = PixelFormatByName(PF_A8R8G8B8);
  if (auto* d = dynamic_cast<TDirectBitmap*>(bitmap); d && d->PixelFormat() == argb) return TRef<TDirectBitmap>(d);
  TRef<TDirectBitmap> copy = RefCast<TDirectBitmap>(ConvertBitmap(bitmap, argb, TDirectBitmap::StaticClass()));
  if (copy && (!bitmap->PixelFormat() || !bitmap->PixelFormat()->HasAlpha))
    for (std::int32_t y = 0; y < copy->Height(); ++y) {
      std::uint32_t* row = copy->Row32(y);
      for (std::int32_t x = 0; x < copy->Width(); ++x) row[x] |= 0xFF000000u;
    }
  return copy;
}

std::uint32_t ArgbPixel(TDirectBitmap* bitmap, std::int32_t x, std::int32_t y) {
  if (!bitmap || x < 0 || y < 0 || x >= bitmap->Width() || y >= bitmap->Height()) return 0;
  return bitmap->Row32(y)[x];
}

bool ThemesActive() { return WinApplication && HookManager && ThemeServices()->ThemesEnabled(); }

void InitThemedControlUtils() { builds = 0; }
void FiniThemedControlUtils() { FreeArrowGlyphs(); }

}  // namespace zm
