#pragma once
// Keeps a font and the text colours selected into a device context, with a
// bind count so nested users share one selection.
#include <cstdint>

#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

struct TTextMetricsInfo {
  std::int32_t Ascent = 0, Descent = 0, Height = 0;
};

class TWinContextWrapper : public TRefObject {
public:
  TWinContextWrapper();
  // Selects the old font back when still bound, then deletes its own.
  void Dispose() override;
  // The first bind selects the font and applies the colours; a further bind
  // on the same context only counts; another context while bound is an
  // assertion.
  void Bind(plat::HDC dc);
  // An assertion when not bound; the last unbind selects the old font back.
  void Unbind();
  // Name, size or style changed: the font is made anew (and reselected while
  // bound); changed colours are applied while bound.
  void SetFont(const TFontParams& font);
  // The metrics of the selected font; asserts when not bound.
  TTextMetricsInfo GetTextMetrics();

  plat::HDC Dc() const { return dc_; }
  std::int32_t BindCount() const { return bindCount_; }
  const TFontParams& Font() const { return font_; }
  TPoint PixelsPerInch() const { return ppi_; }
  // The GDI font made from the description (nil when the layer refused it).
  plat::HFONT FontHandle() const { return fontHandle_; }
  // How often the font was made anew and colours applied (checks).
  std::int32_t FontsMade() const { return fontsMade_; }
  std::int32_t ColorsApplied() const { return colorsApplied_; }

private:
  void MakeFont();
  void SelectFont();
  void ApplyColors();

  plat::HDC dc_ = nullptr;
  std::int32_t bindCount_ = 0;
  TFontParams font_;
  TPoint ppi_{96, 96};
  plat::HFONT fontHandle_ = nullptr;
  // While bound: the font that was selected before ours.
  plat::HGDIOBJ oldFont_ = nullptr;
  std::int32_t fontsMade_ = 0, colorsApplied_ = 0;
};

}  // namespace zm
