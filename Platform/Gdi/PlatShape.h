#pragma once
// Character placement (gdi32): bidirectional order through fribidi and
// shaping through HarfBuzz, in the font selected into a DC, and plain cmap
// glyph indices. Standard types only.
//
// The paragraph is left-to-right; LRE, RLE, LRO, RLO and PDF are honoured.
// Kerning and Latin ligatures stay off (one glyph per Latin character, as
// GDI's call does); the shaping a script needs (Arabic joining, required
// ligatures, marks) stays on. A lone surrogate is shaped as U+FFFD in its
// own slot; a control character keeps one zero-width glyph.
#include <cstdint>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"

namespace plat {

constexpr DWORD GCP_REORDER = 0x0002, GCP_USEKERNING = 0x0008, GCP_GLYPHSHAPE = 0x0010, GCP_LIGATE = 0x0020,
                GCP_DIACRITIC = 0x0100, GCP_KASHIDA = 0x0400, GCP_ERROR = 0x8000, GCP_CLASSIN = 0x80000,
                GCP_MAXEXTENT = 0x100000;

// Classes written to lpClass: resolved, not raw, so that blanks between
// letters get the direction of the text around them.
constexpr char GCPCLASS_LATIN = 1, GCPCLASS_HEBREW = 2, GCPCLASS_ARABIC = 2, GCPCLASS_NEUTRAL = 3,
               GCPCLASS_LOCALNUMBER = 4, GCPCLASS_LATINNUMBER = 5;

constexpr DWORD GGI_MARK_NONEXISTING_GLYPHS = 0x0001;

// Every array is optional. Arrays per character (lpOutString, lpOrder,
// lpCaretPos, lpClass) have count entries; arrays per glyph (lpGlyphs, and
// lpDx when glyphs are asked for) have nGlyphs entries on input.
struct GCP_RESULTSW {
  DWORD lStructSize = sizeof(GCP_RESULTSW);
  char16_t* lpOutString = nullptr;  // the characters in visual order
  UINT* lpOrder = nullptr;          // per character: its cluster's leftmost glyph (else its visual position)
  int* lpDx = nullptr;              // per glyph (per visual character without glyphs), whole px
  int* lpCaretPos = nullptr;        // per character: the leading edge of its cluster
  char* lpClass = nullptr;          // per character: GCPCLASS_*
  char16_t* lpGlyphs = nullptr;     // glyph indices in visual order; 0 is the missing glyph
  UINT nGlyphs = 0;                 // in: room per glyph; out: glyphs (or characters) written
  int nMaxFit = 0;                  // characters that fit in the extent (GCP_MAXEXTENT), else count
};

// MAKELONG(width, tmHeight) of the placed text; 0 on failure: a bad DC, a
// negative count or null text, too little room in nGlyphs for the glyphs
// (nothing is then written past any array), or an empty string.
DWORD GetCharacterPlacementW(HDC hdc, const char16_t* text, int count, int maxExtent, GCP_RESULTSW* results,
                             DWORD flags);
// Glyph indices through the cmap, no shaping; a lone surrogate is one missing
// character. Missing characters give 0, or 0xFFFF with
// GGI_MARK_NONEXISTING_GLYPHS. The count converted, GDI_ERROR on failure.
DWORD GetGlyphIndicesW(HDC hdc, const char16_t* text, int count, WORD* glyphs, DWORD flags);
// Whether the font selected into the DC has a glyph of its own for a code
// point of any plane (what it lacks is drawn as its missing glyph, alike
// for every such character). False for a bad DC, a surrogate or a value
// past U+10FFFF.
bool HasGlyph(HDC hdc, std::uint32_t code);

}  // namespace plat
