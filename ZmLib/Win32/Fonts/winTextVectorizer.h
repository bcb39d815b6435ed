#pragma once
// The GDI text vectoriser: TWinVectorizer lays text out with the GDI text
// element and turns each glyph into outline path points with
// GetGlyphOutlineW. The unit's start stores its factory in
// CreateVectorizerHook. Every GDI call runs on one shared screen DC under
// the unit's lock, so the vectoriser may be used from any thread.
#include <cstddef>
#include <cstdint>

#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/Win32/Fonts/winTextElement.h"

namespace zm {

class TWinVectorizer : public TVectorizer {
public:
  // A text element laid out with Text; runs go only to outline fonts.
  TRef<TTextElementEx> CreateTextElement(const TFontParams& font, const WideString& text) override;
  // The outline of the part's glyph, y down from the base line, in pixels
  // of the part's font; nothing for a blank glyph or a font key it cannot use.
  void VectorizePart(const TTextPart& part, TPathPoints& sink) override;
  // From the outline metrics, else derived from the ascent and descent.
  void GetFontMetrics(const TFontParams& font, TFontMetrics& metrics) override;
  // TrueType, or a vector device font.
  bool IsOutlineFont(const TFontParams& font) override;
};

// The face name and style of a font key: "name:Bold, Italic". Blanks and
// tabs before a style word are skipped, at most four words count, fields
// after a second colon are ignored.
void ParseFontKey(const WideString& key, WideString& name, std::uint8_t& style);

// Appends the GGO_NATIVE records of one glyph as path points: a move per
// contour, lines, quadratic curves as (control, end) with the implied
// midpoints made explicit, cubic curves as (control, control, end). A
// polygon header of another type fails with "GetGlyphOutline: don't exist
// HeaderType"; records cut short end the walk.
void NativeOutlineToPath(const std::uint8_t* data, std::size_t size, TPathPoints& sink);

// Keeps the points of one glyph (from From on) within its black box
// [A, A + B]: moved right when they start left of A, then narrowed when they
// end right of A + B.
void FitToBlackBox(TPathPoints& points, std::size_t from, std::int32_t a, std::int32_t b);

TRef<TVectorizer> CreateWinVectorizer();

void InitWinTextVectorizer();
void FiniWinTextVectorizer();

}  // namespace zm
