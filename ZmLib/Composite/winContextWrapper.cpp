#include "ZmLib/Composite/winContextWrapper.h"

#include "Platform/Gdi/PlatFont.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"

namespace zm {

namespace {
plat::HGDIOBJ AsObj(plat::HFONT f) { return reinterpret_cast<plat::HGDIOBJ>(f); }
plat::COLORREF Ref(TColor24 c) { return plat::RGB(c.R, c.G, c.B); }
}  // namespace

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
  if (bindCount_ > 0 && dc_ && oldFont_) plat::SelectObject(dc_, oldFont_);
  oldFont_ = nullptr;
  dc_ = nullptr;
  bindCount_ = 0;
  if (fontHandle_) plat::DeleteObject(AsObj(fontHandle_));
  fontHandle_ = nullptr;
  TRefObject::Dispose();
}

void TWinContextWrapper::MakeFont() {
  ++fontsMade_;
  TFontParams f = font_;
  if (f.Name.size() >= std::size_t(plat::LF_FACESIZE)) f.Name.resize(plat::LF_FACESIZE - 1);
  const plat::LOGFONTW log = MakeGdiLogFont(f, ppi_.Y);
  plat::HFONT made = plat::CreateFontIndirectW(&log);
  plat::HFONT old = fontHandle_;
  fontHandle_ = made;
  // The new font goes in before the old one can be deleted: a selected font
  // cannot be.
  if (bindCount_ > 0) {
    if (made) {
      SelectFont();
    } else if (oldFont_) {
      plat::SelectObject(dc_, oldFont_);
      oldFont_ = nullptr;
    }
  }
  if (old) plat::DeleteObject(AsObj(old));
}

void TWinContextWrapper::SelectFont() {
  if (!dc_ || !fontHandle_) return;
  plat::HGDIOBJ previous = plat::SelectObject(dc_, AsObj(fontHandle_));
  if (!oldFont_) oldFont_ = previous;
}

void TWinContextWrapper::ApplyColors() {
  ++colorsApplied_;
  if (!dc_) return;
  plat::SetTextColor(dc_, Ref(font_.TextColor));
  plat::SetBkColor(dc_, Ref(font_.BackColor));
  plat::SetBkMode(dc_, IsTransparentText(font_) ? plat::TRANSPARENT : plat::OPAQUE);
}

void TWinContextWrapper::Bind(plat::HDC dc) {
  if (bindCount_ > 0) {
    ZM_ASSERT(dc == dc_, "TWinContextWrapper.Bind: bound to another context");
    ++bindCount_;
    return;
  }
  dc_ = dc;
  bindCount_ = 1;
  oldFont_ = nullptr;
  SelectFont();
  ApplyColors();
}

void TWinContextWrapper::Unbind() {
  ZM_ASSERT(bindCount_ > 0, "TWinContextWrapper.Unbind: not bound");
  if (--bindCount_ > 0) return;
  if (dc_ && oldFont_) plat::SelectObject(dc_, oldFont_);
  oldFont_ = nullptr;
  dc_ = nullptr;
}

void TWinContextWrapper::SetFont(const TFontParams& font) {
  bool face = !SameFontFace(font, font_);
  bool colors = !SameFontColors(font, font_) || font.BackColor != font_.BackColor;
  font_ = font;
  if (face) MakeFont();
  if (colors && bindCount_ > 0) ApplyColors();
}

TTextMetricsInfo TWinContextWrapper::GetTextMetrics() {
  ZM_ASSERT(bindCount_ > 0, "TWinContextWrapper.GetTextMetrics: not bound");
  TTextMetricsInfo m;
  plat::TEXTMETRICW tm;
  if (dc_ && plat::GetTextMetricsW(dc_, &tm)) {
    m.Ascent = tm.tmAscent;
    m.Descent = tm.tmDescent;
    m.Height = tm.tmHeight;
  }
  return m;
}

}  // namespace zm
