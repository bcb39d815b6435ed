#include "ZmLib/Composite/winProgressBarTheme.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

namespace {
constexpr std::int32_t kProgressClass = 9;  // "progress"
constexpr std::int32_t kBarPart = 1, kFillPart = 5;
// Fill states: normal, error, paused, partial.
std::int32_t FillState(std::uint8_t barState) {
  static const std::int32_t states[5] = {1, 2, 3, 4, 2};
  return states[barState < 5 ? barState : 0];
}
}  // namespace

void TWinProgressBarTheme::Dispose() {
  TProgressBarStdTheme::Dispose();
  picture_.reset();
}

TRef<TProgressBarDrawer> TWinProgressBarTheme::MakeDrawer() {
  auto animator = MakeRef<TStdProgressAnimator>();
  return MakeRef<TWinProgressBarDrawer>(this, animator.get());
}

TFastDIB* TWinProgressBarTheme::Picture(std::int32_t width, std::int32_t height) {
  if (!picture_) picture_ = MakeRef<TFastDIB>();
  const std::int32_t w = std::max(width, picture_->Width()), h = std::max(height, picture_->AbsHeight());
  if (w != picture_->Width() || h != picture_->AbsHeight()) picture_->SetSize(w, -h, 32);
  return picture_.get();
}

TWinProgressBarDrawer::TWinProgressBarDrawer(TWinProgressBarTheme* theme, TStdProgressAnimator* animator)
    : TStdDrawer(theme, animator), winTheme_(theme) {}

void TWinProgressBarDrawer::Dispose() {
  cached_.reset();
  TStdDrawer::Dispose();
}

void TWinProgressBarDrawer::SetSize(std::int32_t width, std::int32_t height) {
  TStdDrawer::SetSize(width, height);
  cached_.reset();
}

bool TWinProgressBarDrawer::RenderThemed(TDrawSurface* canvas) {
  const std::int32_t w = BarWidth(), h = BarHeight();
  const float v = std::clamp(ShownValue(), 0.0f, 1.0f);
  if (!cached_ || cachedValue_ != v) {
    TFastDIB* dib = winTheme_->Picture(w, h);
    for (std::int32_t row = 0; row < h; ++row) std::fill_n(dib->Pixels32(row), w, 0u);
    const TRect bar{0, 0, w, h};
    if (!ThemeServices()->DrawElement(dib->Dc(), {kProgressClass, kBarPart, 1}, bar, &bar)) return false;
    TRect content = bar;
    ThemeServices()->GetElementContentRect(dib->Dc(), {kProgressClass, kBarPart, 1}, bar, content);
    const auto fill = std::int32_t(std::lround(double(content.Right - content.Left) * v));
    if (fill > 0) {
      const TRect r{content.Left, content.Top, content.Left + fill, content.Bottom};
      ThemeServices()->DrawElement(dib->Dc(), {kProgressClass, kFillPart, FillState(State())}, r, &bar);
    }
    dib->FixAlpha();
    cached_ = MakeRef<TDirectBitmap>(w, PixelFormatByName(PF_A8R8G8B8), h);
    for (std::int32_t row = 0; row < h; ++row) std::copy_n(dib->Pixels32(row), w, cached_->Row32(row));
    cachedValue_ = v;
  }
  canvas->DrawBitmap(0, 0, cached_.get());
  return true;
}

void TWinProgressBarDrawer::Paint(TDrawSurface* canvas) {
  const bool themed = ThemesActive();
  if (themed != themed_) {
    cached_.reset();
    themed_ = themed;
  }
  if (themed && !MarqueeOn() && canvas && BarWidth() > 0 && BarHeight() > 0 && RenderThemed(canvas)) return;
  PaintStd(canvas);
}

TProgressBarTheme* MakeWinProgressBarTheme(TControlStyles* styles) {
  return MakeRef<TWinProgressBarTheme>(styles).get();  // the styles' list holds it
}

}  // namespace zm
