#pragma once
// The visual-style edit frame theme: while visual styles are active its
// buttons are rendered by the theme services, with a cross-fade between
// states; otherwise (always here) it lays out and draws like the classic
// theme. UI thread only.
#include <cstdint>

#include "ZmLib/Composite/zmFrameEdit.h"

namespace zm {

class TWinFrameEditTheme : public TFrameEditTheme {
public:
  using TFrameEditTheme::TFrameEditTheme;
  void FrameSizeFor(std::int32_t contentWidth, std::int32_t contentHeight, TSize& size, std::int32_t kind) override;
  void Layout(TEditLayout& layout, std::int32_t width, std::int32_t kind, std::int32_t height) override;
  void DrawButton(TEditButtonCache& cache, std::int32_t direction, bool enabled, bool pressed, std::int32_t fade,
                  std::int32_t height, std::int32_t width) override;
  static std::string ThemedKey(std::int32_t width, std::int32_t height, std::int32_t fade, bool pressed,
                               bool enabled);
};

// Old blended over New row by row with weight 256 - Fade (Fade 0..255,
// clamped); both "A8R8G8B8" of one size, else New is returned unchanged.
TRef<TDirectBitmap> CrossFade(TDirectBitmap* oldState, TDirectBitmap* newState, std::int32_t fade);

}  // namespace zm
