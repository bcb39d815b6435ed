#include "ZmLib/Composite/zmThemedBevel.h"

#include <algorithm>

#include "ZmLib/Composite/winSurface.h"
#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

namespace {
TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

void FillClipped(TDrawSurface* canvas, const TRect& r, const TRect& clip, TColor32 color) {
  TRect c = Intersect(r, clip);
  if (c.Right > c.Left && c.Bottom > c.Top) canvas->FillRect(c, color);
}

// One ring inside R on the chosen edges: top and left in Light, bottom and right in Dark.
void Ring(TDrawSurface* canvas, const TRect& r, const TRect& clip, std::uint8_t edges, TColor32 light, TColor32 dark) {
  if (edges & beTop) FillClipped(canvas, {r.Left, r.Top, r.Right, r.Top + 1}, clip, light);
  if (edges & beLeft) FillClipped(canvas, {r.Left, r.Top, r.Left + 1, r.Bottom}, clip, light);
  if (edges & beBottom) FillClipped(canvas, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, clip, dark);
  if (edges & beRight) FillClipped(canvas, {r.Right - 1, r.Top, r.Right, r.Bottom}, clip, dark);
}

TRect Inset(const TRect& r, std::uint8_t edges, std::int32_t n) {
  return {r.Left + (edges & beLeft ? n : 0), r.Top + (edges & beTop ? n : 0), r.Right - (edges & beRight ? n : 0),
          r.Bottom - (edges & beBottom ? n : 0)};
}

const TThemedElement kBorderElement = ThemedElement(TThemeKind::Edit, 2);
}  // namespace

// ---- TBevelTheme ------------------------------------------------------------------------

void TBevelTheme::ClientRect(std::uint8_t edges, std::uint8_t style, TRect& rect, const TSize& size) {
  rect = Inset({0, 0, size.cx, size.cy}, edges, Resolve(style) == bsFlat ? 1 : 2);
}

void TBevelTheme::OuterSize(std::uint8_t edges, std::uint8_t style, TSize& size, TPoint& offset, const TSize& inner) {
  TRect client;
  ClientRect(edges, style, client, {100, 100});
  const auto grow = [](std::int32_t v, std::int32_t d) {
    const std::int64_t r = std::int64_t(std::max(v, 0)) + d;
    return std::int32_t(std::min<std::int64_t>(r, INT32_MAX));
  };
  size = {grow(inner.cx, 100 - (client.Right - client.Left)), grow(inner.cy, 100 - (client.Bottom - client.Top))};
  offset = {client.Left, client.Top};
}

void TBevelTheme::SetDrawParams(TBevelDrawParams& params, std::uint8_t edges, std::uint8_t style, const TSize& size,
                                bool noFill) {
  params.Width = size.cx;
  params.Height = size.cy;
  params.Edges = edges & beAll;
  params.Style = Resolve(style);
  params.NoFill = noFill;
  params.Picture.reset();
}

void TBevelTheme::Draw(TDrawSurface* canvas, std::int32_t x, std::int32_t y, const TRect& clip,
                       TBevelDrawParams& params) {
  DrawClassic(canvas, x, y, clip, params);
}

void TBevelTheme::DrawClassic(TDrawSurface* canvas, std::int32_t x, std::int32_t y, const TRect& clip,
                              const TBevelDrawParams& p) {
  if (!canvas || p.Width < 1 || p.Height < 1) return;
  TControlStyles* st = Styles();
  const TRect r{x, y, x + p.Width, y + p.Height};
  // A single edge two pixels across is a divider.
  if ((p.Edges == beLeft || p.Edges == beRight) && p.Width == 2) {
    FillClipped(canvas, {x, r.Top, x + 1, r.Bottom}, clip, st->ShadowColor);
    FillClipped(canvas, {x + 1, r.Top, x + 2, r.Bottom}, clip, st->HighlightColor);
    return;
  }
  if ((p.Edges == beTop || p.Edges == beBottom) && p.Height == 2) {
    FillClipped(canvas, {r.Left, y, r.Right, y + 1}, clip, st->ShadowColor);
    FillClipped(canvas, {r.Left, y + 1, r.Right, y + 2}, clip, st->HighlightColor);
    return;
  }
  TRect inside;
  if (p.Style == bsFlat) {
    Ring(canvas, r, clip, p.Edges, st->BorderColor, st->BorderColor);
    inside = Inset(r, p.Edges, 1);
  } else {
    const bool sunken = p.Style == bsSunken;
    Ring(canvas, r, clip, p.Edges, st->ShadowColor, sunken ? st->HighlightColor : st->ShadowColor);
    const TRect inner = Inset(r, p.Edges, 1);
    if (inner.Right > inner.Left && inner.Bottom > inner.Top) {
      if (sunken)
        Ring(canvas, inner, clip, p.Edges, st->DarkShadowColor, st->LightColor);
      else
        Ring(canvas, inner, clip, p.Edges, st->HighlightColor, st->HighlightColor);
    }
    inside = Inset(r, p.Edges, 2);
  }
  if (!p.NoFill) FillClipped(canvas, inside, clip, st->WindowColor);
}

// ---- TWinBevelTheme ---------------------------------------------------------------------

void TWinBevelTheme::Dispose() {
  piece_.reset();
  TBevelTheme::Dispose();
}

std::uint8_t TWinBevelTheme::DefaultStyle() { return ThemesActive() ? bsFlat : bsSunken; }

void TWinBevelTheme::ClientRect(std::uint8_t edges, std::uint8_t style, TRect& rect, const TSize& size) {
  TBevelTheme::ClientRect(edges, style, rect, size);
  if (Resolve(style) != bsEtched || !ThemesActive()) return;
  const TRect bounds{0, 0, size.cx, size.cy};
  TRect content;
  plat::HDC dc = AcquireSharedScreenDC();
  const bool ok = ThemeServices()->GetElementContentRect(dc, kBorderElement, bounds, content);
  ReleaseSharedScreenDC();
  if (!ok) return;
  // Only the sides in the edge mask move in.
  rect = {edges & beLeft ? content.Left : 0, edges & beTop ? content.Top : 0,
          edges & beRight ? content.Right : size.cx, edges & beBottom ? content.Bottom : size.cy};
}

void TWinBevelTheme::Draw(TDrawSurface* canvas, std::int32_t x, std::int32_t y, const TRect& clip,
                          TBevelDrawParams& p) {
  if (p.Style != bsFlat || !ThemesActive() || p.Width < 1 || p.Height < 1 || !canvas) {
    DrawClassic(canvas, x, y, clip, p);
    return;
  }
  if (!piece_ || pieceW_ != p.Width || pieceH_ != p.Height || pieceEdges_ != p.Edges) {
    // Unwanted edges are pushed outside by rendering the element larger.
    const std::int32_t m = 8;
    const TRect el{p.Edges & beLeft ? 0 : -m, p.Edges & beTop ? 0 : -m, p.Width + (p.Edges & beRight ? 0 : m),
                   p.Height + (p.Edges & beBottom ? 0 : m)};
    auto dib = MakeRef<TFastDIB>();
    dib->SetSize(p.Width, -p.Height, 24);
    const TColor32 face = Styles()->FaceColor;
    for (std::int32_t row = 0; row < p.Height; ++row)
      std::fill_n(dib->Pixels24(row), p.Width, TColor24{face.B, face.G, face.R});
    if (!ThemeServices()->DrawElement(dib->Dc(), kBorderElement, el)) {
      DrawClassic(canvas, x, y, clip, p);
      return;
    }
    piece_ = MakeRef<TDirectBitmap>(p.Width, PixelFormatByName(PF_R8G8B8), p.Height);
    for (std::int32_t row = 0; row < p.Height; ++row) std::copy_n(dib->Pixels24(row), p.Width, piece_->Row24(row));
    pieceW_ = p.Width;
    pieceH_ = p.Height;
    pieceEdges_ = p.Edges;
  }
  canvas->DrawBitmap(x, y, piece_.get());
}

// ---- TThemedBevel -----------------------------------------------------------------------

TThemedBevel::TThemedBevel(TFrameControl* parent, TBevelTheme* theme) : TFrameBevel(parent), theme_(theme) {}

void TThemedBevel::Dispose() {
  params_.Picture.reset();
  theme_.reset();
  TFrameBevel::Dispose();
}

void TThemedBevel::SetEdges(std::uint8_t edges) {
  edges &= beAll;
  paramsValid_ = false;
  params_.Picture.reset();
  if (edges == edges_) return;
  edges_ = edges;
  InvalidateAll();
}

void TThemedBevel::ClientRect(const TSize& size, TRect& rect) {
  if (theme_)
    theme_->ClientRect(edges_, Style(), rect, size);
  else
    rect = {0, 0, size.cx, size.cy};
}

void TThemedBevel::OuterSize(const TSize& inner, TPoint& offset, TSize& size) {
  if (theme_) {
    theme_->OuterSize(edges_, Style(), size, offset, inner);
  } else {
    offset = {};
    size = inner;
  }
}

void TThemedBevel::SetNoFill(bool on) {
  paramsValid_ = false;
  params_.Picture.reset();
  TFrameBevel::SetNoFill(on);
}

void TThemedBevel::SetStyle(std::uint8_t style) {
  paramsValid_ = false;
  params_.Picture.reset();
  TFrameBevel::SetStyle(style);
}

void TThemedBevel::AfterResize() {
  paramsValid_ = false;
  params_.Picture.reset();
  TFrameBevel::AfterResize();
}

void TThemedBevel::Paint(TDrawSurface* surface) {
  if (!surface || !theme_) return;
  if (!paramsValid_) {
    theme_->SetDrawParams(params_, edges_, Style(), {Width(), Height()}, NoFill());
    paramsValid_ = true;
  }
  theme_->Draw(surface, 0, 0, {0, 0, Width(), Height()}, params_);
}

// ---- Factories --------------------------------------------------------------------------

TBevelThemeProc BevelThemeHook = nullptr;

TBevelTheme* MakeWinBevelTheme(TControlStyles* styles) { return MakeRef<TWinBevelTheme>(styles).get(); }

TFrameBevel* AllocThemedFrameBevel(TFrameControl* parent) {
  TControlStyles* styles = parent ? parent->GetStyles() : DefaultControlStyles();
  TBevelTheme* theme = styles->FindTheme<TBevelTheme>();
  if (!theme) {
    // The styles' list holds the theme; the factory's reference is gone with its TRef.
    theme = BevelThemeHook ? BevelThemeHook(styles) : MakeRef<TBevelTheme>(styles).get();
  }
  return NewControl<TThemedBevel>(parent, theme);
}

void InitThemedBevel() {
  BevelThemeHook = &MakeWinBevelTheme;
  AllocFrameBevel = &AllocThemedFrameBevel;
}

void FiniThemedBevel() {
  BevelThemeHook = nullptr;
  AllocFrameBevel = &AllocDefFrameBevel;
}

}  // namespace zm
