#pragma once
// Which characters a font covers, and which families are installed: gdi32's
// GetFontUnicodeRanges (BMP only) and EnumFontFamiliesW / ExW, and a small
// stand-in for the DirectWrite calls that ask the same questions over full
// code points (emoji and other characters beyond the BMP). Coverage is the
// realised face's Unicode cmap, read once per face and cached; a face without
// outlines (bitmaps only) covers nothing, as nothing here draws its strikes.
// Standard types only; safe to call from several threads.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"

namespace plat {

struct WCRANGE {
  char16_t wcLow = 0;
  WORD cGlyphs = 0;
};
// cRanges WCRANGEs follow the header: the whole takes 16 + 4 * cRanges bytes.
struct GLYPHSET {
  DWORD cbThis = 0;
  DWORD flAccel = 0;
  DWORD cGlyphsSupported = 0;
  DWORD cRanges = 0;
  WCRANGE ranges[1];
};
static_assert(sizeof(WCRANGE) == 4 && sizeof(GLYPHSET) == 20);

// The BMP characters the DC's font covers. set nullptr: the bytes needed;
// else the set is written (the caller gives at least that many bytes) and its
// size returned. 0 for a bad DC.
DWORD GetFontUnicodeRanges(HDC hdc, GLYPHSET* set);

constexpr DWORD RASTER_FONTTYPE = 0x0001, DEVICE_FONTTYPE = 0x0002, TRUETYPE_FONTTYPE = 0x0004;
constexpr BYTE FIXED_PITCH = 1, VARIABLE_PITCH = 2;

// Per family: lfFaceName, lfPitchAndFamily (FIXED_PITCH or VARIABLE_PITCH),
// lfWeight and lfItalic of a regular face; in the metrics only
// tmPitchAndFamily (the TMPF_ bits of GetTextMetricsW) is filled. FontType is
// TRUETYPE_FONTTYPE for outline faces (CFF too), RASTER_FONTTYPE for bitmap
// ones. Returning 0 stops the enumeration.
using FONTENUMPROCW = int (*)(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD fontType, LPARAM data);
// One call per installed family in sorted order, or only for the named family
// (matched without regard to case). The last callback's result; 0 when
// nothing was enumerated or the DC is bad.
int EnumFontFamiliesW(HDC hdc, const char16_t* family, FONTENUMPROCW proc, LPARAM data);
// The same, the family taken from log->lfFaceName (empty: all families).
int EnumFontFamiliesExW(HDC hdc, const LOGFONTW* log, FONTENUMPROCW proc, LPARAM data, DWORD flags);

// The DirectWrite stand-in: plain objects with shared ownership.
namespace dwrite {

using HRESULT = std::int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_NOT_SUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007Au);
inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

struct DWRITE_UNICODE_RANGE {
  std::uint32_t first = 0, last = 0;
};

struct TCoverage;  // shared, immutable ranges of one face

class FontFace {
public:
  // count 0 or a buffer too small: E_NOT_SUFFICIENT_BUFFER with *actual set;
  // else S_OK and the ranges. E_INVALIDARG when actual is nullptr.
  HRESULT GetUnicodeRanges(std::uint32_t maxRanges, DWRITE_UNICODE_RANGE* ranges, std::uint32_t* actual) const;
  const std::u16string& FamilyName() const { return Family; }

private:
  friend class Factory;
  std::shared_ptr<const TCoverage> Ranges;
  std::u16string Family;
};

class Factory {
public:
  // E_FAIL when no font is installed at all.
  static HRESULT Create(std::shared_ptr<Factory>* factory);
  // The installed families, sorted, one name each.
  HRESULT GetFamilyNames(std::vector<std::u16string>* names) const;
  // The face of the first family's regular font (the usability check).
  HRESULT CreateFirstFontFace(std::shared_ptr<FontFace>* face) const;
  // The face of the font selected into a DC (GetGdiInterop ->
  // CreateFontFaceFromHdc); E_INVALIDARG for a bad DC.
  HRESULT CreateFontFaceFromHdc(HDC hdc, std::shared_ptr<FontFace>* face) const;
  // Tests turn the stand-in off to reach the GDI coverage path; Create fails then.
  static void SetAvailable(bool available);
};

}  // namespace dwrite
}  // namespace plat
