#include "ZmLib/Composite/zmFrameEdit.h"

#include <algorithm>

#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

namespace {
TRect Inset(const TRect& r, std::int32_t dx, std::int32_t dy) {
  return {r.Left + dx, r.Top + dy, r.Right - dx, r.Bottom - dy};
}
TColor32 Opaque(TColor32 c) {
  c.A = 0xFF;
  return c;
}
TColor32 Mix(TColor32 a, TColor32 b) {
  return {std::uint8_t((a.B + b.B) / 2), std::uint8_t((a.G + b.G) / 2), std::uint8_t((a.R + b.R) / 2), 0xFF};
}
void Ring(TDirectBitmap* b, const TRect& r, TColor32 tl, TColor32 br) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  b->FillRect({r.Left, r.Top, r.Right, r.Top + 1}, tl);
  b->FillRect({r.Left, r.Top, r.Left + 1, r.Bottom}, tl);
  b->FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, br);
  b->FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, br);
}
}  // namespace

TFrameEditTheme::TFrameEditTheme(TControlStyles* styles, bool registerTheme)
    : styles_(styles ? styles : DefaultControlStyles()) {
  if (registerTheme) styles_->AddTheme(this);
  else held_ = TRef<TControlStyles>(styles_);
}

void TFrameEditTheme::Dispose() {
  held_.reset();
  TRefObject::Dispose();
}

void TFrameEditTheme::Layout(TEditLayout& l, std::int32_t width, std::int32_t kind, std::int32_t height) {
  l = TEditLayout{};
  l.Kind = kind == 1 ? ekButton : kind == 2 ? ekSpin : ekNoButton;
  l.Areas[0].Rect = {0, 0, width, height};
  l.TextRect = Inset(l.Areas[0].Rect, 5, 4);
  l.ClientRect = Inset(l.Areas[0].Rect, 2, 2);
  if (l.Kind == ekNoButton) return;
  const std::int32_t bw = std::max(l.ClientRect.Bottom - l.ClientRect.Top - 2, 0);
  const TRect c = l.ClientRect;
  const TRect button{std::max(c.Right - bw, c.Left), c.Top, c.Right, c.Bottom};
  l.TextRect.Right -= bw;
  l.ClientRect.Right -= bw;
  if (l.Kind == ekButton) {
    l.Areas[1].Rect = button;
  } else {
    const std::int32_t mid = button.Top + (button.Bottom - button.Top) / 2;
    l.Areas[1].Rect = {button.Left, button.Top, button.Right, mid};
    l.Areas[2].Rect = {button.Left, mid, button.Right, button.Bottom};
  }
}

void TFrameEditTheme::FrameSizeFor(std::int32_t contentWidth, std::int32_t contentHeight, TSize& size,
                                   std::int32_t kind) {
  contentWidth = std::max(contentWidth, 0);
  contentHeight = std::max(contentHeight, 0);
  size = {contentWidth + 10, contentHeight + 8};
  TEditLayout l;
  Layout(l, size.cx, kind, size.cy);
  size.cx += contentWidth - (l.TextRect.Right - l.TextRect.Left);
  size.cy += contentHeight - (l.TextRect.Bottom - l.TextRect.Top);
  Layout(l, size.cx, kind, size.cy);
  ZM_ASSERT(l.TextRect.Right - l.TextRect.Left == contentWidth, "text width differs (zmFrameEdit)");
}

std::string TFrameEditTheme::ClassicKey(std::int32_t width, std::int32_t height, bool pressed, bool enabled) {
  return "DefEditTh:" + std::to_string(width) + "," + std::to_string(height) + "," + (pressed ? "T" : "F") +
         (enabled ? "T" : "F");
}

void TFrameEditTheme::DrawButton(TEditButtonCache& cache, std::int32_t direction, bool enabled, bool pressed,
                                 std::int32_t, std::int32_t height, std::int32_t width) {
  DrawClassicButton(cache, direction, enabled, pressed, height, width);
}

void TFrameEditTheme::DrawClassicButton(TEditButtonCache& cache, std::int32_t direction, bool enabled, bool pressed,
                                        std::int32_t height, std::int32_t width) {
  if (width < 1 || height < 1) return;
  // Each button has a cache of its own, so the direction is not in the key.
  const std::string key = ClassicKey(width, height, pressed, enabled);
  if (cache.Bitmap && cache.Key == key) return;
  TControlStyles* s = styles_;
  auto b = MakeRef<TDirectBitmap>(width, PixelFormatByName(PF_A8R8G8B8), height);
  const TRect all{0, 0, width, height};
  const TColor32 face = Opaque(s->FaceColor);
  TRect inner = all;
  std::int32_t shift = 0;
  if (pressed || Flat) {
    Ring(b.get(), all, Opaque(s->ShadowColor), Opaque(s->ShadowColor));
    inner = Inset(all, 1, 1);
    shift = pressed ? 1 : 0;
    if (inner.Right > inner.Left && inner.Bottom > inner.Top) b->FillRect(inner, face);
  } else {
    DrawClassicFrame(b.get(), all, Opaque(s->LightColor), Opaque(s->HighlightColor), Opaque(s->DarkShadowColor),
                     Opaque(s->ShadowColor), face);
    inner = Inset(all, 2, 2);
  }
  const std::int32_t ih = inner.Bottom - inner.Top, iw = inner.Right - inner.Left;
  const std::int32_t t = std::min(std::max(ih / 4, 2), ih - 2);
  if (t >= 0 && iw > 0) {
    const TColor24 tc = s->Font.Font.TextColor;
    TColor32 color{tc.B, tc.G, tc.R, 0xFF};
    if (!enabled) color = Mix(color, face);
    const std::int32_t rows = t + 1;
    const std::int32_t top = inner.Top + (ih - rows) / 2 - (direction == edDown ? 1 : 0) + shift;
    const std::int32_t cx = inner.Left + iw / 2 + shift;
    for (std::int32_t i = 0; i < rows; ++i) {
      // The apex points the way the button scrolls.
      const std::int32_t half = direction == edDown ? t - i : i;
      const TRect row{std::max(cx - half, 0), top + i, std::min(cx + half + 1, width), top + i + 1};
      if (row.Top >= 0 && row.Bottom <= height && row.Right > row.Left) b->FillRect(row, color);
    }
  }
  cache.Key = key;
  cache.Bitmap = b;
}

void DrawFocusEdges(TDrawSurface* canvas, const TRect& r, const TRect& clip, TFrameBrush* brush) {
  if (!canvas || !brush || r.Right <= r.Left || r.Bottom <= r.Top) return;
  const TRect edges[4] = {{r.Left, r.Top, r.Right, r.Top + 1},
                          {r.Left, r.Bottom - 1, r.Right, r.Bottom},
                          {r.Left, r.Top + 1, r.Left + 1, r.Bottom - 1},
                          {r.Right - 1, r.Top + 1, r.Right, r.Bottom - 1}};
  for (const TRect& e : edges) brush->FillClipped(canvas, e, clip);
}

}  // namespace zm
