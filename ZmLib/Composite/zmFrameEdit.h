#pragma once
// The classic edit frame theme: the layout of an edit frame with no
// button, a drop-down button or a pair of spin buttons, and the drawing of
// those buttons into a cached bitmap. UI thread only.
#include <cstdint>
#include <string>

#include "ZmLib/Composite/zmFrameControls.h"

namespace zm {

// Layout kinds.
constexpr std::int32_t ekNoButton = 1;
constexpr std::int32_t ekButton = 2;
constexpr std::int32_t ekSpin = 3;
// Button directions.
constexpr std::int32_t edUp = 1;
constexpr std::int32_t edDown = 2;

struct TEditArea {
  TRect Rect;
  std::int32_t Delay = 500;   // ms before a held button repeats
  std::int32_t Repeat = 300;  // ms between repeats
};

struct TEditLayout {
  TEditArea Areas[3];  // the frame, the first button, the second button
  std::int32_t Kind = ekNoButton;
  TRect TextRect;
  TRect ClientRect;
};

// A bitmap a control keeps per button, with the key it was drawn under.
struct TEditButtonCache {
  std::string Key;
  TRef<TDirectBitmap> Bitmap;
};

class TFrameEditTheme : public TRefObject {
public:
  // Register: the styles' theme list takes the theme over. Styles nil takes
  // the global ones.
  TFrameEditTheme(TControlStyles* styles, bool registerTheme);
  void Dispose() override;
  TControlStyles* Styles() const { return styles_; }

  // The frame size that gives a text rectangle of the content size (kind
  // as for Layout).
  virtual void FrameSizeFor(std::int32_t contentWidth, std::int32_t contentHeight, TSize& size, std::int32_t kind);
  // Kind 0 no button, 1 a drop-down button, 2 spin buttons; others as 0.
  virtual void Layout(TEditLayout& layout, std::int32_t width, std::int32_t kind, std::int32_t height);
  // Draws into the cache unless it already holds the bitmap of this state.
  // Fade (0..255) is the cross-fade position of visual styles.
  virtual void DrawButton(TEditButtonCache& cache, std::int32_t direction, bool enabled, bool pressed,
                          std::int32_t fade, std::int32_t height, std::int32_t width);
  // The classic key and drawing.
  static std::string ClassicKey(std::int32_t width, std::int32_t height, bool pressed, bool enabled);
  void DrawClassicButton(TEditButtonCache& cache, std::int32_t direction, bool enabled, bool pressed,
                         std::int32_t height, std::int32_t width);
  // One single ring instead of the two raised rings.
  bool Flat = false;

private:
  TControlStyles* styles_;
  TRef<TControlStyles> held_;  // when not registered
};

// The four one-pixel edges of Rect, each cut to Clip, in the brush.
void DrawFocusEdges(TDrawSurface* canvas, const TRect& rect, const TRect& clip, TFrameBrush* brush);

}  // namespace zm
