#pragma once
// The drawn bevel and its themes: TBevelTheme draws the classic border
// (a one-pixel line, a sunken edge or an etched groove; a two-pixel divider
// for a single edge), TWinBevelTheme uses the visual style's border element
// while visual styles are active, TThemedBevel asks its theme.
#include <cstdint>

#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Composite/zmFrameBevel.h"

namespace zm {

// What a theme prepared for drawing one bevel.
struct TBevelDrawParams {
  std::int32_t Width = 0, Height = 0;
  std::uint8_t Edges = 0;
  std::uint8_t Style = 0;
  bool NoFill = false;
  TRef<TDirectBitmap> Picture;  // dropped whenever the parameters are set
};

class TBevelTheme : public TFrameControlTheme {
public:
  using TFrameControlTheme::TFrameControlTheme;
  virtual std::uint8_t DefaultStyle() { return bsEtched; }
  // Each side whose edge bit is set is inset by the border width (1 for a
  // flat bevel, else 2).
  virtual void ClientRect(std::uint8_t edges, std::uint8_t style, TRect& rect, const TSize& size);
  // Outer = inner plus the border sizes; the offset is where the inside starts.
  virtual void OuterSize(std::uint8_t edges, std::uint8_t style, TSize& size, TPoint& offset, const TSize& inner);
  virtual void SetDrawParams(TBevelDrawParams& params, std::uint8_t edges, std::uint8_t style, const TSize& size,
                             bool noFill);
  // Draws the bevel with its top-left at (X, Y), within Clip.
  virtual void Draw(TDrawSurface* canvas, std::int32_t x, std::int32_t y, const TRect& clip,
                    TBevelDrawParams& params);
  // The classic drawing (the visual-style theme falls back on it).
  void DrawClassic(TDrawSurface* canvas, std::int32_t x, std::int32_t y, const TRect& clip,
                   const TBevelDrawParams& params);
  std::uint8_t Resolve(std::uint8_t style) { return style == bsDefault ? DefaultStyle() : style; }
};

class TWinBevelTheme : public TBevelTheme {
public:
  using TBevelTheme::TBevelTheme;
  void Dispose() override;
  // Flat while visual styles are active, else sunken.
  std::uint8_t DefaultStyle() override;
  void ClientRect(std::uint8_t edges, std::uint8_t style, TRect& rect, const TSize& size) override;
  void Draw(TDrawSurface* canvas, std::int32_t x, std::int32_t y, const TRect& clip,
            TBevelDrawParams& params) override;

private:
  // The border element rendered for one size and edge set.
  TRef<TDirectBitmap> piece_;
  std::int32_t pieceW_ = 0, pieceH_ = 0;
  std::uint8_t pieceEdges_ = 0;
};

class TThemedBevel : public TFrameBevel {
public:
  // Without a theme the bevel has no border and draws nothing.
  TThemedBevel(TFrameControl* parent, TBevelTheme* theme);
  void Dispose() override;
  std::uint8_t GetEdges() override { return edges_; }
  void SetEdges(std::uint8_t edges) override;
  void ClientRect(const TSize& size, TRect& rect) override;
  void OuterSize(const TSize& inner, TPoint& offset, TSize& size) override;
  void SetNoFill(bool on) override;
  void SetStyle(std::uint8_t style) override;
  void Paint(TDrawSurface* surface) override;
  void AfterResize() override;
  TBevelTheme* Theme() const { return theme_.get(); }

private:
  std::uint8_t edges_ = beAll;
  TRef<TBevelTheme> theme_;
  TBevelDrawParams params_;
  bool paramsValid_ = false;
};

// Makes the visual-style theme (installed at start-up); nil: plain TBevelTheme.
using TBevelThemeProc = TBevelTheme* (*)(TControlStyles* styles);
extern TBevelThemeProc BevelThemeHook;
TBevelTheme* MakeWinBevelTheme(TControlStyles* styles);
// The theme from the styles' list (made and added when missing), then a TThemedBevel.
TFrameBevel* AllocThemedFrameBevel(TFrameControl* parent);

void InitThemedBevel();
void FiniThemedBevel();

}  // namespace zm
