#pragma once
// The visual-style progress-bar theme: while visual styles are active and
// no marquee runs, the bar is rendered from the theme's progress elements
// into a picture the theme shares between its drawers; otherwise (always
// here, where there are no visual styles) the standard drawing is used.
#include <cstdint>

#include "ZmLib/Composite/zmThemedProgressBarStdTheme.h"
#include "ZmLib/Graphics/zmDibBitmap.h"

namespace zm {

class TWinProgressBarTheme : public TProgressBarStdTheme {
public:
  using TProgressBarStdTheme::TProgressBarStdTheme;
  void Dispose() override;
  TRef<TProgressBarDrawer> MakeDrawer() override;
  // The shared 32-bit picture, grown to W x H when smaller (never shrunk).
  TFastDIB* Picture(std::int32_t width, std::int32_t height);

private:
  TRef<TFastDIB> picture_;
};

class TWinProgressBarDrawer : public TStdDrawer {
public:
  TWinProgressBarDrawer(TWinProgressBarTheme* theme, TStdProgressAnimator* animator);
  void Dispose() override;
  void Paint(TDrawSurface* canvas) override;
  void SetSize(std::int32_t width, std::int32_t height) override;
  bool HasCachedPicture() const { return cached_ != nullptr; }

private:
  bool RenderThemed(TDrawSurface* canvas);
  TWinProgressBarTheme* winTheme_;  // the base holds the reference
  TRef<TDirectBitmap> cached_;
  float cachedValue_ = -1;
  bool themed_ = false;  // the visual-styles switch when the picture was made
};

TProgressBarTheme* MakeWinProgressBarTheme(TControlStyles* styles);

}  // namespace zm
