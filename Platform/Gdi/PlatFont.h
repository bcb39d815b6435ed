#pragma once
// Fonts of the drawing stand-in (gdi32): creation from a LOGFONTW, metrics,
// ABC widths, text extents and ExtTextOutW into DC pixels. Windows family
// names resolve through a fixed table to installed fonts ("Arial" ->
// Liberation Sans ...), then through fontconfig; a font always comes back
// (the last resort is DejaVu Sans), as GDI substitutes.
//
// Sizes: a negative lfHeight is the em height in px, a positive one the cell
// height (ascent + descent); 0 means 12 px; the em is kept within 1..2048.
// A weight of 600 or more asks for bold. lfWidth, lfEscapement, lfOrientation
// and the character set are not used. A family without a bold or italic face
// gets one made from its regular face (emboldened, sheared by 0.2).
// Metrics come from the font tables without hinting, so they scale exactly
// and do not depend on the FreeType build. Text is drawn unhinted, 8-bit
// grey, blended linearly (c += (text - c) * coverage / 255); 32-bit targets
// get alpha 0 where text was drawn.
//
// Font handles share the handle table of PlatGdi.h: SelectObject of a font
// returns the previous font (the default font's stock handle at first),
// DeleteObject of a font still selected into a DC fails, and a stale handle
// makes every call fail cleanly. Safe to call from several threads.
#include <cstdint>

#include "Platform/Gdi/PlatGdi.h"

namespace plat {

struct TEXTMETRICW {
  LONG tmHeight = 0, tmAscent = 0, tmDescent = 0, tmInternalLeading = 0, tmExternalLeading = 0;
  LONG tmAveCharWidth = 0, tmMaxCharWidth = 0, tmWeight = 0, tmOverhang = 0;
  LONG tmDigitizedAspectX = 96, tmDigitizedAspectY = 96;
  char16_t tmFirstChar = 0, tmLastChar = 0, tmDefaultChar = 0, tmBreakChar = 0;
  BYTE tmItalic = 0, tmUnderlined = 0, tmStruckOut = 0, tmPitchAndFamily = 0, tmCharSet = 0;
};

struct PANOSE {
  BYTE bytes[10] = {};
};

// The fields callers read; positions are px above the baseline (an
// underline is negative).
struct OUTLINETEXTMETRICW {
  UINT otmSize = sizeof(OUTLINETEXTMETRICW);
  TEXTMETRICW otmTextMetrics;
  UINT otmEMSquare = 0;
  int otmAscent = 0, otmDescent = 0;
  UINT otmLineGap = 0;
  UINT otmsCapEmHeight = 0, otmsXHeight = 0;
  int otmItalicAngle = 0;  // tenths of a degree, counter-clockwise
  UINT otmsStrikeoutSize = 0;
  int otmsStrikeoutPosition = 0;
  int otmsUnderscoreSize = 0;
  int otmsUnderscorePosition = 0;
  RECT otmrcFontBox;
};

struct ABC {
  int abcA = 0;
  UINT abcB = 0;
  int abcC = 0;
};

constexpr LONG FW_DONTCARE = 0, FW_NORMAL = 400, FW_BOLD = 700;
constexpr BYTE DEFAULT_CHARSET = 1, PROOF_QUALITY = 2;
constexpr BYTE TMPF_FIXED_PITCH = 0x01, TMPF_VECTOR = 0x02, TMPF_TRUETYPE = 0x04, TMPF_DEVICE = 0x08;
constexpr int TRANSPARENT = 1, OPAQUE = 2;
constexpr UINT TA_LEFT = 0, TA_TOP = 0, TA_BASELINE = 24;
constexpr UINT ETO_OPAQUE = 0x0002, ETO_CLIPPED = 0x0004, ETO_GLYPH_INDEX = 0x0010;
constexpr DWORD GDI_ERROR = 0xFFFFFFFF;
constexpr int LF_FACESIZE = 32;

// A font for the LOGFONTW (face names of 31 characters at most; longer or
// unterminated names fail). nullptr only for a null or bad LOGFONTW.
HFONT CreateFontIndirectW(const LOGFONTW* log);
// DEFAULT_GUI_FONT (17): a stock "Tahoma" 8 pt font that DeleteObject ignores.
constexpr int DEFAULT_GUI_FONT = 17;
HGDIOBJ GetStockObject(int index);
// Fonts go through SelectObject and DeleteObject of PlatGdi.h.

// The metrics of the font selected into the DC; FALSE for a bad DC.
BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics);
// size 0 or metrics nullptr: the size needed. Else the size written, 0 when
// size is too small or the face has no outlines.
UINT GetOutlineTextMetricsW(HDC hdc, UINT size, OUTLINETEXTMETRICW* metrics);
// ABC widths of the characters first..last (BMP, first <= last); the control
// box without hinting: A = floor(xMin), B = ceil(xMax) - A, C = advance - A - B;
// a blank has A 0, B 0, C advance.
BOOL GetCharABCWidthsW(HDC hdc, UINT first, UINT last, ABC* abc);
// The same by glyph index: count glyphs from first when glyphs is nullptr,
// else the listed ones. FALSE for a glyph past the font's glyphs.
BOOL GetCharABCWidthsI(HDC hdc, UINT first, UINT count, const WORD* glyphs, ABC* abc);
// cx = the sum of the advances (one glyph per code point, missing ones give
// the missing glyph's advance), cy = tmHeight. count 0 gives (0, tmHeight).
BOOL GetTextExtentPoint32W(HDC hdc, const char16_t* text, int count, SIZE* size);
// The resolved family name ("Liberation Sans" for "Arial"), terminated and cut
// to count - 1 characters; the characters copied with the terminator (the
// length + 1 when name is nullptr), 0 for a bad DC or count < 1.
int GetTextFaceW(HDC hdc, int count, char16_t* name);

COLORREF SetTextColor(HDC hdc, COLORREF color);  // the previous colour, CLR_INVALID for a bad DC
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);  // TRANSPARENT or OPAQUE; the previous mode, 0 on failure
int GetBkMode(HDC hdc);
UINT SetTextAlign(HDC hdc, UINT align);  // TA_TOP or TA_BASELINE (| TA_LEFT); the previous, GDI_ERROR on failure
UINT GetTextAlign(HDC hdc);

// Draws text at (x, y) (the top-left of the cell, or the baseline with
// TA_BASELINE). Flags: ETO_CLIPPED (clip to *rect), ETO_OPAQUE (fill *rect
// with the bk colour first), ETO_GLYPH_INDEX (text holds glyph indices).
// dx, when given, holds each character's advance in px. The OPAQUE bk mode
// fills the text cell first. Underline and strike-out of the font are drawn
// across the whole advance. Other flags fail; a DC without pixels draws
// nothing and succeeds.
BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, const char16_t* text, UINT count,
                 const int* dx);

}  // namespace plat
