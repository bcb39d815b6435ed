#pragma once
// Realised fonts, for the text code of the drawing layer (shaping, coverage,
// outlines) and for the handle table. Internal to Platform.
//
// A font handle holds only its LOGFONTW; it is realised on use into a
// TRealFont, shared and cached under (resolved face, ppem, synthetic styles).
// A TRealFont never changes after creation except through its FreeType face:
//  - every FreeType call on Face (load, render, set size, get kerning...)
//    is made while holding the lock from LockFace(font);
//  - hold the shared_ptr for the whole use: DeleteObject on another thread
//    then cannot free the face under you;
//  - FreeType faces are created and destroyed only inside this module (one
//    global lock covers the library and fontconfig).
// Metrics follow the font tables without hinting: s = Ppem / units per em.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>


#include "Platform/Gdi/PlatGdi.h"
#include "Platform/Gdi/PlatFont.h"

// FreeType's face handle, declared as FreeType does so that code without the
// FreeType headers (tests) can include this one.
struct FT_FaceRec_;
typedef struct FT_FaceRec_* FT_Face;
struct _FcConfig;
typedef struct _FcConfig FcConfig;

namespace plat::gdi {

// The bytes of one font file, shared by every size of every face in it
// (hb_blob_create can take Data without copying while the TFontFile lives).
struct TFontFile {
  std::string Path;
  std::vector<std::uint8_t> Data;
};

struct TRealFont {
  std::uint64_t Id = 0;                     // unique per realisation, for caches keyed by font
  LOGFONTW Log;                             // as created (face name, weight, italic, underline...)
  std::shared_ptr<const TFontFile> File;    // the file the face came from
  int FaceIndex = 0;                        // in a collection (.ttc)
  std::string Family;                       // the resolved family, UTF-8 ("Liberation Sans")
  std::u16string FaceName;                  // what GetTextFaceW answers (the resolved family)
  int Ppem = 12;                            // pixels per em, 1..2048
  bool SyntheticBold = false;               // emboldened by BoldStrength (26.6) in x and y
  bool SyntheticItalic = false;             // sheared by 0.2 to the right
  long BoldStrength = 0;                    // 26.6 px; 0 unless SyntheticBold
  bool Scalable = true;                     // outline face (TrueType or CFF)
  bool SymbolRemap = false;                 // the "Wingdings" stand-in: 'L' draws U+2639
  int UnitsPerEm = 1000;
  TEXTMETRICW Metrics;                      // what GetTextMetricsW answers
  OUTLINETEXTMETRICW Outline;               // what GetOutlineTextMetricsW answers (when Scalable)

  FT_Face Face = nullptr;                   // at Ppem; use under LockFace only
  mutable std::mutex FaceMutex;

  TRealFont() = default;
  TRealFont(const TRealFont&) = delete;
  TRealFont& operator=(const TRealFont&) = delete;
  ~TRealFont();
};
using TRealFontPtr = std::shared_ptr<const TRealFont>;

// The lock every FreeType call on font.Face is made under.
[[nodiscard]] inline std::unique_lock<std::mutex> LockFace(const TRealFont& font) {
  return std::unique_lock<std::mutex>(font.FaceMutex);
}

// The realised font of a font handle; nullptr for a bad, stale or deleted handle.
TRealFontPtr RealiseFont(HFONT font);
// The realised font of the font selected into a DC (the default GUI font,
// "Tahoma" 8 pt at 96 dpi, when none was selected); nullptr for a bad DC.
TRealFontPtr RealiseDcFont(HDC hdc);
// A LOGFONTW realised directly (never nullptr unless no font at all is installed).
TRealFontPtr RealiseLogFont(const LOGFONTW& log);

// The glyph of a code point through the cmap (with the symbol remap); 0 when
// the font lacks it. Takes the face lock itself.
unsigned GlyphOfChar(const TRealFont& font, char32_t code);
// The one advance function, in whole pixels (synthetic bold included): dx of
// shaping, text extents, C widths and string-mode ExtTextOutW all use it.
// Takes the face lock itself; 0 for a glyph index past the font's glyphs.
int AdvancePx(const TRealFont& font, unsigned glyph);
// Loads a glyph without hinting at the font's size into Face->glyph and
// applies the synthetic styles to its outline. The caller holds the face
// lock. False for a bad glyph index or a face without outlines.
bool LoadStyledGlyph(const TRealFont& font, unsigned glyph, bool outline);

// fontconfig is not thread-safe and tests run on a private configuration:
// every fontconfig call is made holding this lock, on FontConfig() (never on
// nullptr, which would load the system configuration). The lock is recursive
// and is the one font creation takes; take no face lock while holding it.
[[nodiscard]] std::unique_lock<std::recursive_mutex> LockFontSystem();
// The configuration in use, loaded on first use; nullptr when fontconfig
// cannot start. Call with LockFontSystem() held.
FcConfig* FontConfig();

// String shaping for GetTextExtentPoint32W and string-mode ExtTextOutW, so
// that measuring and drawing agree with GetCharacterPlacementW: glyphs in
// visual order and their advances in px. The shaper module installs it at
// start-up (before threads); until then one glyph per code point through the
// cmap is used. A shaper that returns false makes the call fail.
using TStringShaper = bool (*)(const TRealFont& font, const char16_t* text, int count, std::vector<unsigned>& glyphs,
                               std::vector<int>& dx);
void SetStringShaper(TStringShaper shaper);

// Tests: use only the fonts in dirs (no system configuration, no aliases),
// with fontconfig's cache in cacheDir. Realised fonts are dropped from the
// caches (held ones stay valid) unless the same set-up is already in use.
// False when fontconfig refuses the set-up.
bool UsePrivateFonts(const std::vector<std::string>& dirs, const std::string& cacheDir);
// The private set the tests run with: DejaVu, Liberation 2, WenQuanYi and
// Symbola (fonts-symbola's ancient-scripts folder) under
// /usr/share/fonts/truetype, cache in a per-process temporary folder.
bool UseTestFonts();
// The test main: the font system, when it starts, starts on UseTestFonts()'s
// set instead of the system configuration. Costs nothing until fonts are used.
void UseTestFontsWhenStarted();

// ---- Kept by the handle table (PlatGdi.cpp) -------------------------------------

// What CreateFontIndirectW stores.
struct TFontObject {
  LOGFONTW Log;
};
// The text state of a DC.
struct TDcText {
  HFONT Font = nullptr;  // nullptr: the default font
  COLORREF TextColor = 0;
  COLORREF BkColor = 0xFFFFFF;
  int BkMode = 2;        // OPAQUE
  UINT Align = 0;        // TA_TOP | TA_LEFT
};

// A stock font is not counted as live and DeleteObject ignores it.
HFONT NewFontHandle(std::shared_ptr<const TFontObject> font, bool stock = false);
std::shared_ptr<const TFontObject> FontObjectOf(HFONT font);
// The text state of a DC; false for a bad DC.
bool GetDcText(HDC hdc, TDcText& out);
// Replaces the colours, mode and alignment (not the font) of a DC; false for a bad DC.
bool SetDcText(HDC hdc, const TDcText& text);
// Blends a coverage mask (255 = full colour) at DC point (x, y) into the DC's
// pixels, linearly: c += (colour - c) * m / 255, rounded; limited to the DC's
// pixels, its clip and *limit when given. Alpha of touched 32-bit pixels
// becomes 0. False for a DC without pixels (a screen DC) or a bad DC.
bool BlendMaskDc(HDC hdc, int x, int y, int width, int height, const std::uint8_t* mask, int maskStride,
                 COLORREF color, const RECT* limit);
// Whether a DC has pixels to draw on (a memory DC or a window DC).
bool DcHasPixels(HDC hdc);

}  // namespace plat::gdi
