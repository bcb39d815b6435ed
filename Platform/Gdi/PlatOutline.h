#pragma once
// Glyph outlines (gdi32 GetGlyphOutlineW) from the unhinted FreeType outline
// of the font selected into a DC. Standard types only.
//
// GGO_NATIVE gives, per contour, a TTPOLYGONHEADER followed by TTPOLYCURVE
// records, laid out byte for byte: LINE records for runs of on-curve points;
// QSPLINE records in GDI's B-spline form (off-curve points with implied
// midpoints between them, the last point on the curve); CSPLINE records in
// groups of three points. Each contour starts on the curve (the midpoint of
// its last and first points when it has no on-curve point) and its last
// record ends back at the start. Coordinates are 16.16 px at the font's size
// after the MAT2 (eM22 = -1 makes y grow downwards).
#include <cstdint>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"

namespace plat {

constexpr UINT GGO_METRICS = 0, GGO_BITMAP = 1, GGO_NATIVE = 2, GGO_BEZIER = 3, GGO_GRAY8_BITMAP = 6,
               GGO_GLYPH_INDEX = 0x80, GGO_UNHINTED = 0x100;
constexpr DWORD TT_POLYGON_TYPE = 24;
constexpr WORD TT_PRIM_LINE = 1, TT_PRIM_QSPLINE = 2, TT_PRIM_CSPLINE = 3;

struct FIXED {
  WORD fract = 0;
  std::int16_t value = 0;
};
struct POINTFX {
  FIXED x, y;
};
struct TTPOLYGONHEADER {
  DWORD cb = 0;  // bytes of this header and its curve records
  DWORD dwType = TT_POLYGON_TYPE;
  POINTFX pfxStart;
};
struct TTPOLYCURVE {
  WORD wType = 0;
  WORD cpfx = 0;
  POINTFX apfx[1];  // cpfx points: the record takes (cpfx - 1) * 8 + 12 bytes
};
static_assert(sizeof(FIXED) == 4 && sizeof(POINTFX) == 8);
static_assert(sizeof(TTPOLYGONHEADER) == 16 && sizeof(TTPOLYCURVE) == 12);

struct GLYPHMETRICS {
  UINT gmBlackBoxX = 0, gmBlackBoxY = 0;  // at least 1 x 1
  POINT gmptGlyphOrigin;                  // top-left of the black box, y up from the baseline
  std::int16_t gmCellIncX = 0, gmCellIncY = 0;
};
struct MAT2 {
  FIXED eM11, eM12, eM21, eM22;
};

inline constexpr FIXED FixedFromInt(int v) { return FIXED{0, static_cast<std::int16_t>(v)}; }
inline constexpr double FixedToDouble(FIXED f) { return f.value + f.fract / 65536.0; }

// format: GGO_NATIVE or GGO_METRICS, with GGO_GLYPH_INDEX (ch is a glyph
// index, else a BMP character through the cmap) and GGO_UNHINTED (always
// unhinted). GGO_NATIVE: the bytes needed when size is 0 or buffer nullptr,
// else the bytes written; a blank glyph gives 0. GGO_METRICS: 0. metrics, when
// given, is filled either way. GDI_ERROR for a bad DC, a null matrix, another
// format, a glyph index past the font's glyphs, a face without outlines, or a
// buffer too small (then nothing is written).
DWORD GetGlyphOutlineW(HDC hdc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD size, void* buffer,
                       const MAT2* matrix);

}  // namespace plat
