#pragma once
// The shaping behind GetCharacterPlacementW, for the text code of the drawing
// layer (string-mode drawing and measuring can share it). Internal to Platform.
#include <cstdint>
#include <string_view>
#include <vector>

#include "Platform/Gdi/PlatFontInternal.h"

namespace plat::gdi {

struct TShapedText {
  // Per glyph, in visual order (left to right).
  std::vector<std::uint32_t> Glyphs;
  std::vector<int> Dx;        // whole px; 0 for glyphs the shaper gives no advance (marks, controls)
  std::vector<int> GlyphChar; // the first UTF-16 unit of the glyph's cluster
  // Per UTF-16 unit, in logical order.
  std::vector<int> FirstGlyph;  // the leftmost glyph of the unit's cluster
  std::vector<int> LastGlyph;   // the rightmost glyph of the unit's cluster
  std::vector<int> Visual;      // the unit's visual position (a permutation of 0..n-1)
  std::vector<std::uint8_t> Levels;
  std::vector<char> Classes;    // GCPCLASS_*
  int Width = 0;                // the sum of Dx
};

// Shapes a line: bidi levels (paragraph left-to-right) when reorder is set,
// else every unit at level 0; then level and script runs through HarfBuzz.
// False only for text too long to shape (over kMaxShapeUnits units).
constexpr std::size_t kMaxShapeUnits = 1u << 20;
bool ShapeText(const TRealFont& font, std::u16string_view text, bool reorder, TShapedText& out);

// The TStringShaper of PlatFontInternal.h (reordered, shaped), the one
// measuring and string-mode drawing use unless a test sets another.
bool ShapeLine(const TRealFont& font, const char16_t* text, int count, std::vector<unsigned>& glyphs,
                 std::vector<int>& dx);

}  // namespace plat::gdi
