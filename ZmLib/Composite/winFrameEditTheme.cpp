#include "ZmLib/Composite/winFrameEditTheme.h"

#include <algorithm>

#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

namespace {
// Spin elements: up normal, hot, pressed, disabled; down likewise.
constexpr std::int32_t kSpinUp = 1;
constexpr std::int32_t kSpinDown = 5;

TRef<TDirectBitmap> ToArgb(TFastDIB* dib, std::int32_t w, std::int32_t h) {
  auto b = MakeRef<TDirectBitmap>(w, PixelFormatByName(PF_A8R8G8B8), h);
  for (std::int32_t row = 0; row < h; ++row) {
    if (dib->BitCount() == 32) {
      std::copy_n(dib->Pixels32(row), w, b->Row32(row));
    } else {
      const TColor24* in = dib->Pixels24(row);
      std::uint32_t* out = b->Row32(row);
      for (std::int32_t x = 0; x < w; ++x)
        out[x] = 0xFF000000u | std::uint32_t(in[x].R) << 16 | std::uint32_t(in[x].G) << 8 | in[x].B;
    }
  }
  return b;
}

// The element in a 32-bit DIB; again over the background in 24 bits when it
// carries no alpha. Nil when the services refuse.
TRef<TDirectBitmap> RenderPart(const TThemedElement& e, std::int32_t w, std::int32_t h, TColor32 background) {
  const TRect r{0, 0, w, h};
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(w, -h, 32);
  for (std::int32_t row = 0; row < h; ++row) std::fill_n(dib->Pixels32(row), w, 0u);
  if (!ThemeServices()->DrawElement(dib->Dc(), e, r, &r)) return nullptr;
  bool alpha = false;
  for (std::int32_t row = 0; row < h && !alpha; ++row)
    alpha = std::any_of(dib->Pixels32(row), dib->Pixels32(row) + w, [](std::uint32_t p) { return (p >> 24) != 0; });
  if (alpha) return ToArgb(dib.get(), w, h);
  dib->SetSize(w, -h, 24);
  for (std::int32_t row = 0; row < h; ++row)
    std::fill_n(dib->Pixels24(row), w, TColor24{background.B, background.G, background.R});
  if (!ThemeServices()->DrawElement(dib->Dc(), e, r, &r)) return nullptr;
  return ToArgb(dib.get(), w, h);
}
}  // namespace

TRef<TDirectBitmap> CrossFade(TDirectBitmap* oldState, TDirectBitmap* newState, std::int32_t fade) {
  if (!newState) return nullptr;
  TRef<TDirectBitmap> n(newState);
  if (!oldState || oldState->Width() != newState->Width() || oldState->Height() != newState->Height() ||
      oldState->BytesPerPixel() != 4 || newState->BytesPerPixel() != 4)
    return n;
  const std::uint32_t f = std::uint32_t(std::clamp(fade, 0, 255));
  if (f == 255) return n;
  auto out = MakeRef<TDirectBitmap>(newState->Width(), PixelFormatByName(PF_A8R8G8B8), newState->Height());
  const std::uint32_t wOld = 256 - f;
  for (std::int32_t row = 0; row < newState->Height(); ++row) {
    const std::uint32_t* a = oldState->Row32(row);
    const std::uint32_t* b = newState->Row32(row);
    std::uint32_t* o = out->Row32(row);
    for (std::int32_t x = 0; x < newState->Width(); ++x) {
      std::uint32_t v = 0;
      for (int sh = 0; sh < 32; sh += 8) {
        const std::uint32_t ca = (a[x] >> sh) & 0xFF, cb = (b[x] >> sh) & 0xFF;
        v |= std::min<std::uint32_t>((ca * wOld + cb * (256 - wOld)) >> 8, 255) << sh;
      }
      o[x] = v;
    }
  }
  return out;
}

std::string TWinFrameEditTheme::ThemedKey(std::int32_t width, std::int32_t height, std::int32_t fade, bool pressed,
                                          bool enabled) {
  return "WinEditTh:" + std::to_string(width) + "," + std::to_string(height) + "," + std::to_string(fade) + "," +
         (pressed ? "T" : "F") + (enabled ? "T" : "F");
}

void TWinFrameEditTheme::Layout(TEditLayout& layout, std::int32_t width, std::int32_t kind, std::int32_t height) {
  TFrameEditTheme::Layout(layout, width, kind, height);
  if (!ThemesActive() || layout.Kind == ekNoButton) return;
  // Themed buttons reach over the client inset to the frame's edge.
  for (std::int32_t i = 1; i <= 2; ++i) {
    TRect& r = layout.Areas[i].Rect;
    if (r.Right <= r.Left) continue;
    r.Right += 1;
    if (i == 1) r.Top -= 1;
    if (i == 2 || layout.Kind == ekButton) r.Bottom += 1;
  }
}

void TWinFrameEditTheme::FrameSizeFor(std::int32_t contentWidth, std::int32_t contentHeight, TSize& size,
                                      std::int32_t kind) {
  TFrameEditTheme::FrameSizeFor(contentWidth, contentHeight, size, kind);
}

void TWinFrameEditTheme::DrawButton(TEditButtonCache& cache, std::int32_t direction, bool enabled, bool pressed,
                                    std::int32_t fade, std::int32_t height, std::int32_t width) {
  if (!ThemesActive()) {
    DrawClassicButton(cache, direction, enabled, pressed, height, width);
    return;
  }
  if (width < 1 || height < 1) return;
  fade = std::clamp(fade, 0, 255);
  const std::string key = ThemedKey(width, height, fade, pressed, enabled);
  if (cache.Bitmap && cache.Key == key) return;
  const std::int32_t state = !enabled ? 3 : pressed ? 2 : 0;
  const TThemedElement e = ThemedElement(TThemeKind::Spin, (direction == edDown ? kSpinDown : kSpinUp) + state);
  TColor32 face = Styles()->FaceColor;
  face.A = 0xFF;
  TRef<TDirectBitmap> now = RenderPart(e, width, height, face);
  if (!now) {
    DrawClassicButton(cache, direction, enabled, pressed, height, width);
    return;
  }
  cache.Bitmap = CrossFade(cache.Bitmap.get(), now.get(), fade);
  cache.Key = key;
}

}  // namespace zm
