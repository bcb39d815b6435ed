#pragma once
// The GDI font services: TWinFontUtils turns a TFontParams into a GDI font,
// measures text, reads text and outline metrics and draws a line of text into
// a new bitmap (keyed to transparency when asked). The unit's start stores one
// instance in FontUtils. Also: GDI regions to rectangle lists and back.
//
// Sizes are points at the screen's vertical density. Text is measured and
// drawn on the screen and memory DCs of the drawing layer; every call takes
// its own DC, so the services may be used from several threads.
#include <cstdint>
#include <span>
#include <vector>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/VectorGraphics/zmTextElement.h"
#include "ZmLib/zmModules.h"

namespace zm {

// The screen's vertical pixels per inch (96 when it cannot be read).
std::int32_t ScreenPixelsPerInchY();

// The system's message font and the button colours; "Tahoma" (or "MS Sans
// Serif" on systems without it) at 8.25 points when the metrics cannot be read.
TFontParams GetDefaultFontParams();

// The LOGFONTW of a font description at Dpi: height -round(size * dpi / 72),
// weight 700 for bold, italic, underline and strike-out from the style,
// DEFAULT_CHARSET, PROOF_QUALITY. A name of 32 or more characters asserts; a
// size that is not a number counts as 0, a huge one is held within the
// layer's range.
plat::LOGFONTW MakeGdiLogFont(const TFontParams& font, std::int32_t dpi);
// CreateFontIndirectW of MakeGdiLogFont at the screen's density. The caller
// deletes it; nullptr only when the layer refuses.
plat::HFONT CreateGdiFont(const TFontParams& font);

// A screen DC with a font of a description selected, released (font
// deselected and deleted, DC given back) at the end of the scope.
class TScreenFontDc {
public:
  explicit TScreenFontDc(const TFontParams& font);
  // With a LOGFONTW as it is.
  explicit TScreenFontDc(const plat::LOGFONTW& log);
  ~TScreenFontDc();
  TScreenFontDc(const TScreenFontDc&) = delete;
  TScreenFontDc& operator=(const TScreenFontDc&) = delete;
  // nullptr when the DC or the font could not be had.
  plat::HDC Dc() const { return selected_ ? dc_ : nullptr; }

private:
  void Select(const plat::LOGFONTW& log);
  plat::HDC dc_ = nullptr;
  plat::HFONT font_ = nullptr;
  plat::HGDIOBJ old_ = nullptr;
  bool selected_ = false;
};

// The measured box of a line of text, relative to the drawing origin (0, 0)
// at the top-left of the text cell; right and bottom exclusive.
struct TTextBox {
  TRect Box;
  TSize Extent;              // GetTextExtentPoint32W
  TSideOverhangs Overhangs;  // A of the first, C of the last character
  TTextMetricsRec Metrics;
};

class TWinFontUtils : public TFontUtils {
public:
  // Zeros when the font cannot be measured.
  TTextMetricsRec GetTextMetrics(const TFontParams& font) override;
  // The outline metrics; a face without them gives its ascent and descent
  // and no bars.
  TFontMetrics GetOutlineMetrics(const TFontParams& font) override;
  // The advance width widened by each negative overhang, and the cell
  // height; (0, 0) when the font cannot be measured.
  TSize MeasureTextEx(const TFontParams& font, const WideString& text, TSideOverhangs& overhangs,
                      TTextMetricsRec& metrics) override;
  // A 32-bit bitmap with straight alpha for transparent text, else a 24-bit
  // one on the background colour; at least 1 x 1. nil when no font or bitmap
  // could be made.
  TRef<TBitmap> DrawText(const TFontParams& font, const WideString& text) override;

  // The box DrawText paints (see the source); false when the font cannot be measured.
  bool GetTextBox(const TFontParams& font, const WideString& text, TTextBox& box);
};

// The key colour of transparent drawing: the background colour, or the
// colour contrasting with the text when the mode is tmAutoKey or a channel
// of the background lies within 16 of the text's.
TColor24 TransparentKeyColor(const TFontParams& font);
// Alpha of one pixel P drawn in Text over Key, P's channels made straight.
// P == Key gives alpha 0, P == Text alpha 255.
std::uint8_t KeyedPixelAlpha(TColor24& p, TColor24 key, TColor24 text);

// The rectangles of a region (empty for none or a bad handle).
std::vector<TRect> RegionToRects(plat::HRGN region);
// A region of the rectangles with Bounds in the header; nullptr for an empty list.
plat::HRGN RectsToRegion(std::span<const TRect> rects, const TRect& bounds);

void InitWinFontUtils();
void FiniWinFontUtils();

// The Windows font units in start order (font utilities, then coverage and
// substitution); after the text, graphics and vector tables.
std::span<const TModule> WinFontModules();

}  // namespace zm
