#include "ZmLib/Composite/winContextWrapper.h"

#include <cmath>

#include "Platform/User/PlatUser.h"

namespace zm {

// The drawing layer has no font objects yet (CreateFontIndirectW, SelectObject
// of fonts, SetTextColor, SetBkColor, SetBkMode, GetTextMetricsW): the wrapper
// keeps the description and the counts, and metrics are derived from the size.

TWinContextWrapper::TWinContextWrapper() {
  font_ = MakeFontParams(u"Tahoma", 0, false, 10, ColorRefToColor24(plat::GetSysColor(plat::COLOR_WINDOWTEXT)),
                         ColorRefToColor24(plat::GetSysColor(plat::COLOR_WINDOW)));
  plat::HDC screen = plat::GetDC(nullptr);
  if (screen) {
    std::int32_t x = plat::GetDeviceCaps(screen, plat::LOGPIXELSX), y = plat::GetDeviceCaps(screen, plat::LOGPIXELSY);
    if (x > 0 && y > 0) ppi_ = {x, y};
    plat::ReleaseDC(nullptr, screen);
  }
  MakeFont();
}

void TWinContextWrapper::Dispose() {
  dc_ = nullptr;
  bindCount_ = 0;
  TRefObject::Dispose();
}

void TWinContextWrapper::MakeFont() { ++fontsMade_; }
void TWinContextWrapper::SelectFont() {}
void TWinContextWrapper::ApplyColors() { ++colorsApplied_; }

void TWinContextWrapper::Bind(plat::HDC dc) {
  if (bindCount_ > 0) {
    ZM_ASSERT(dc == dc_, "TWinContextWrapper.Bind: bound to another context");
    ++bindCount_;
    return;
  }
  dc_ = dc;
  bindCount_ = 1;
  SelectFont();
  ApplyColors();
}

void TWinContextWrapper::Unbind() {
  ZM_ASSERT(bindCount_ > 0, "TWinContextWrapper.Unbind: not bound");
  if (--bindCount_ == 0) dc_ = nullptr;
}

void TWinContextWrapper::SetFont(const TFontParams& font) {
  bool face = !SameFontFace(font, font_);
  bool colors = !SameFontColors(font, font_) || font.BackColor != font_.BackColor;
  font_ = font;
  if (face) {
    MakeFont();
    if (bindCount_ > 0) SelectFont();
  }
  if (colors && bindCount_ > 0) ApplyColors();
}

TTextMetricsInfo TWinContextWrapper::GetTextMetrics() {
  ZM_ASSERT(bindCount_ > 0, "TWinContextWrapper.GetTextMetrics: not bound");
  TTextMetricsInfo m;
  double size = font_.Size > 0 ? font_.Size : 10;
  m.Height = std::int32_t(std::lround(size * ppi_.Y / 72.0 * 1.2));
  m.Ascent = std::int32_t(std::lround(m.Height * 0.8));
  m.Descent = m.Height - m.Ascent;
  return m;
}

}  // namespace zm
