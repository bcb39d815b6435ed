#include "ZmLib/Composite/zmThemedTabsTheme.h"

#include <algorithm>

#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

namespace {
TRef<TDirectBitmap> NewArgb(std::int32_t w, std::int32_t h) {
  return MakeRef<TDirectBitmap>(std::max(w, 1), PixelFormatByName(PF_A8R8G8B8), std::max(h, 1));
}
void Fill(TDirectBitmap* b, std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t btm, TColor32 c) {
  l = std::max(l, 0), t = std::max(t, 0), r = std::min(r, b->Width()), btm = std::min(btm, b->Height());
  if (r > l && btm > t) b->FillRect({l, t, r, btm}, c);
}
TColor32 Opaque(TColor32 c) {
  c.A = 0xFF;
  return c;
}
TColor32 TextColor(TControlStyles* s) {
  const TColor24 t = s->Font.Font.TextColor;
  return {t.B, t.G, t.R, 0xFF};
}
// Element numbers of the tab class.
constexpr std::int32_t kTabItem = 22;          // normal, hot, selected follow
constexpr std::int32_t kTabItemBothEdges = 37;  // likewise
constexpr std::int32_t kTabPane = 42;
}  // namespace

TFontParams TFrameTabControlTheme::GetFont() {
  return Styles() ? Styles()->Font.Font : TFontParams{};
}

// ---- Classic ----------------------------------------------------------------------------

std::int32_t TWin9xTabsTheme::TextHeight() {
  auto e = CreateCaptionText(GetFont(), u"Wg");
  return e ? std::max(e->GetMetrics().Height, 0) : 0;
}

bool TWin9xTabsTheme::TouchesEdge(const TRect& tab, const TRect& strip, bool) {
  return tab.Left == strip.Left || tab.Right == strip.Right;
}

std::int32_t TWin9xTabsTheme::GetTabHeight() {
  const std::int32_t h = TextHeight();
  return h > 0 ? h + 2 * 2 : 22;
}

TRect TWin9xTabsTheme::GetTextRect(std::int32_t width, std::int32_t height) { return {7, 2, width - 7, height}; }

TPoint TWin9xTabsTheme::GetSelectedOffset(bool selected) { return selected ? TPoint{0, -2} : TPoint{0, 0}; }

TRect TWin9xTabsTheme::GetPageRect(std::int32_t width, std::int32_t height, std::uint8_t position) {
  // 22 pixels for the strip, unless the page's frame (2 pixels around it)
  // would then reach into a strip that a tall font made higher: then the
  // strip's own height.
  const std::int32_t strip = GetTabHeight() + 2;
  if (position == 0) return {6, 4 + (strip <= 4 + 22 - 2 ? 22 : strip), width - 6, height - 6};
  return {6, 4, width - 6, height - 6 - (strip <= 6 + 22 - 2 ? 22 : strip)};
}

TRect TWin9xTabsTheme::GetStripRect(std::int32_t width, std::int32_t height, std::uint8_t position, bool arrows) {
  const std::int32_t sh = GetTabHeight() + 2;
  TRect r = position == 0 ? TRect{0, 0, width, sh} : TRect{0, height - sh, width, height};
  if (arrows) r.Right -= 2 * (sh - 2);
  return r;
}

TRect TWin9xTabsTheme::GetArrowRect(std::int32_t index, std::int32_t width, std::int32_t height,
                                    std::uint8_t position) {
  const TRect strip = GetStripRect(width, height, position, false);
  const std::int32_t s = strip.Bottom - strip.Top - 2;
  const std::int32_t x = strip.Right - (index == 1 ? 2 * s : s);
  return {x, strip.Top, x + s, strip.Top + s};
}

std::string TWin9xTabsTheme::GetStateKey(std::int32_t kind, std::uint32_t flags) {
  std::string key;
  if (kind == 1) key += 'b';
  if (flags & tsPressed) key += 's';
  if (flags & tsHot) key += 'h';
  return key;
}

TTabBitmap TWin9xTabsTheme::DrawPage(std::int32_t width, std::int32_t height) {
  TControlStyles* s = Styles();
  auto b = NewArgb(width, height);
  DrawClassicFrame(b.get(), {0, 0, width, height}, Opaque(s->LightColor), Opaque(s->HighlightColor),
                   Opaque(s->DarkShadowColor), Opaque(s->ShadowColor), Opaque(s->FaceColor));
  return {b, {0, 0}};
}

TTabBitmap TWin9xTabsTheme::DrawArrow(const std::string& key, std::int32_t index, std::int32_t width,
                                      std::int32_t height) {
  TControlStyles* s = Styles();
  auto b = NewArgb(width, height);
  const bool down = key.find('s') != std::string::npos;
  if (down)
    DrawClassicFrame(b.get(), {0, 0, width, height}, Opaque(s->DarkShadowColor), Opaque(s->ShadowColor),
                     Opaque(s->LightColor), Opaque(s->HighlightColor), Opaque(s->FaceColor));
  else
    DrawClassicFrame(b.get(), {0, 0, width, height}, Opaque(s->LightColor), Opaque(s->HighlightColor),
                     Opaque(s->DarkShadowColor), Opaque(s->ShadowColor), Opaque(s->FaceColor));
  const std::int32_t glyph = width / 2 - width / 8;
  const std::int32_t shift = down ? 1 : 0;
  DrawClassicArrow(b.get(), width / 2 + shift, height / 2 + shift, glyph, index == 1, TextColor(s));
  return {b, {0, 0}};
}

TTabBitmap TWin9xTabsTheme::DrawTab(const std::string& key, std::int32_t kind, std::int32_t width,
                                    std::int32_t height, std::uint32_t cut) {
  TControlStyles* s = Styles();
  const bool selected = key.find('s') != std::string::npos;
  TPoint offset{0, 0};
  std::int32_t w = std::max(width, 1), h = std::max(height, 1);
  if (selected) {
    // Two pixels out on each side and two into the page, which it opens onto.
    const bool growLeft = kind != 4;
    w += growLeft ? 4 : 2;
    h += 4;
    offset = {growLeft ? -2 : 0, -2};
  }
  auto b = NewArgb(w, h);
  TDirectBitmap* p = b.get();
  const std::int32_t edgeBottom = selected ? h - 2 : h;
  const bool left = !(cut & tcCutLeft), right = !(cut & tcCutRight);
  const TColor32 light = Opaque(s->LightColor), face = Opaque(s->FaceColor);
  if (left) {
    Fill(p, 0, 2, 1, edgeBottom, light);
    Fill(p, 1, 1, 2, 2, light);
    Fill(p, 1, 2, 2, edgeBottom, face);
  }
  if (right) {
    Fill(p, w - 1, 2, w, edgeBottom, Opaque(s->DarkShadowColor));
    Fill(p, w - 2, 1, w - 1, 2, Opaque(s->DarkShadowColor));
    Fill(p, w - 2, 2, w - 1, edgeBottom, Opaque(s->ShadowColor));
  }
  const std::int32_t l = left ? 2 : 0, r = right ? w - 2 : w;
  Fill(p, l, 0, r, 1, light);
  Fill(p, l, 1, r, h, face);
  if (selected) Fill(p, 0, edgeBottom, w, h, face);
  return {b, offset};
}

// ---- Visual style -----------------------------------------------------------------------

std::int32_t TWinXPTabsTheme::GetTabHeight() {
  if (!ThemesActive()) return TWin9xTabsTheme::GetTabHeight();
  if (const std::int32_t h = TextHeight(); h > 0) return h + 5;
  TSize size{};
  if (ThemeServices()->GetElementSize(nullptr, ThemedElement(TThemeKind::Tab, kTabItem), nullptr, 1, size) &&
      size.cy > 0)
    return size.cy;
  return TWin9xTabsTheme::GetTabHeight();
}

TRect TWinXPTabsTheme::GetTextRect(std::int32_t width, std::int32_t height) {
  if (!ThemesActive()) return TWin9xTabsTheme::GetTextRect(width, height);
  return {6, 4, width - 6, height};
}

TRect TWinXPTabsTheme::GetStripRect(std::int32_t width, std::int32_t height, std::uint8_t position, bool arrows) {
  if (!ThemesActive()) return TWin9xTabsTheme::GetStripRect(width, height, position, arrows);
  const std::int32_t th = GetTabHeight(), sh = th + 2;
  TRect r = position == 0 ? TRect{0, 0, width, sh} : TRect{0, height - sh, width, height};
  r.Right -= arrows ? 2 * (th - 1) : 2;
  return r;
}

TRect TWinXPTabsTheme::GetArrowRect(std::int32_t index, std::int32_t width, std::int32_t height,
                                    std::uint8_t position) {
  if (!ThemesActive()) return TWin9xTabsTheme::GetArrowRect(index, width, height, position);
  const std::int32_t s = GetTabHeight() - 1;
  const TRect strip = GetStripRect(width, height, position, false);
  const std::int32_t right = strip.Right + 2;
  const std::int32_t x = right - (index == 1 ? 2 * s : s);
  return {x, strip.Top + 1, x + s, strip.Top + 1 + s};
}

TRect TWinXPTabsTheme::GetPageRect(std::int32_t width, std::int32_t height, std::uint8_t position) {
  if (!ThemesActive()) return TWin9xTabsTheme::GetPageRect(width, height, position);
  const std::int32_t sh = GetTabHeight() + 2;
  const TRect pane = position == 0 ? TRect{0, sh, width, height} : TRect{0, 0, width, height - sh};
  TRect content = pane;
  if (!ThemeServices()->GetElementContentRect(nullptr, ThemedElement(TThemeKind::Tab, kTabPane), pane, content))
    return pane;
  return content;
}

bool TWinXPTabsTheme::TouchesEdge(const TRect& tab, const TRect& strip, bool arrows) {
  if (TWin9xTabsTheme::TouchesEdge(tab, strip, arrows)) return true;
  if (!ThemesActive()) return false;
  if (tab.Left == strip.Left + 2) return true;
  // Beside the arrows an end tab never reaches the strip's edge.
  if (arrows) return false;
  return strip.Right <= tab.Right;
}

TPoint TWinXPTabsTheme::GetTabOffset() {
  if (!ThemesActive()) return TWin9xTabsTheme::GetTabOffset();
  return {2, 0};
}

std::int32_t TWinXPTabsTheme::GetSingleKind(std::uint8_t alignment) {
  if (!ThemesActive()) return TWin9xTabsTheme::GetSingleKind(alignment);
  switch (alignment) {
    case 0: return 4;
    case 1: return 1;
    case 2: return 5;
    default: return 0;
  }
}

TRef<TDirectBitmap> TWinXPTabsTheme::RenderTabElement(std::int32_t kind, std::int32_t element, std::int32_t width,
                                                      std::int32_t height) {
  if (width < 1 || height < 1) return nullptr;
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(width, -height, 32);
  const TColor32 face = Opaque(Styles()->FaceColor);
  for (std::int32_t row = 0; row < height; ++row) std::fill_n(dib->Pixels32(row), width, face.Value());
  const TRect r{0, 0, width, height};
  if (!ThemeServices()->DrawElement(dib->Dc(), ThemedElement(TThemeKind(kind), element), r, &r)) return nullptr;
  auto b = NewArgb(width, height);
  for (std::int32_t row = 0; row < height; ++row) std::copy_n(dib->Pixels32(row), width, b->Row32(row));
  return b;
}

TTabBitmap TWinXPTabsTheme::DrawPage(std::int32_t width, std::int32_t height) {
  if (ThemesActive())
    if (auto b = RenderTabElement(std::int32_t(TThemeKind::Tab), kTabPane, width, height)) return {b, {0, 0}};
  return TWin9xTabsTheme::DrawPage(width, height);
}

TTabBitmap TWinXPTabsTheme::DrawArrow(const std::string& key, std::int32_t index, std::int32_t width,
                                      std::int32_t height) {
  if (ThemesActive()) {
    const std::int32_t state = key.find('s') != std::string::npos ? 2 : key.find('h') != std::string::npos ? 1 : 0;
    const std::int32_t element = (index == 0 ? 10 : 14) + state;
    if (auto b = RenderTabElement(std::int32_t(TThemeKind::Spin), element, width, height)) return {b, {0, 0}};
  }
  return TWin9xTabsTheme::DrawArrow(key, index, width, height);
}

TTabBitmap TWinXPTabsTheme::DrawTab(const std::string& key, std::int32_t kind, std::int32_t width,
                                    std::int32_t height, std::uint32_t cut) {
  if (ThemesActive()) {
    const bool selected = key.find('s') != std::string::npos;
    const std::int32_t state = selected ? 2 : key.find('h') != std::string::npos ? 1 : 0;
    const std::int32_t element = (kind == 3 ? kTabItemBothEdges : kTabItem) + state;
    const std::int32_t grow = selected ? 2 : 0;
    if (auto b = RenderTabElement(std::int32_t(TThemeKind::Tab), element, width + 2 * grow, height + grow))
      return {b, {-grow, -grow}};
  }
  return TWin9xTabsTheme::DrawTab(key, kind, width, height, cut);
}

}  // namespace zm
