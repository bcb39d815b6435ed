#include "Platform/Gdi/PlatFont.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <list>
#include <map>
#include <unordered_map>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_ADVANCES_H

#include "Platform/Gdi/PlatFontInternal.h"
#include "Platform/Gdi/PlatShapeInternal.h"
#include "Platform/Gdi/PlatGdiInternal.h"

namespace plat::gdi {

namespace {

// ============================================================================
// Windows family names and what stands in for them
// ============================================================================

struct TSubstitute {
  const char* Windows;           // folded (lower case)
  const char* Families[3];       // tried in order; the first installed wins
};

// Read in order; names not here are looked up as they are.
constexpr TSubstitute kSubstitutes[] = {
    {"", {"Liberation Sans", "Arimo", "DejaVu Sans"}},
    {"arial", {"Liberation Sans", "Arimo", nullptr}},
    {"helvetica", {"Liberation Sans", "Arimo", nullptr}},
    {"times new roman", {"Liberation Serif", "Tinos", nullptr}},
    {"times", {"Liberation Serif", "Tinos", nullptr}},
    {"courier new", {"Liberation Mono", "Cousine", nullptr}},
    {"courier", {"Liberation Mono", "Cousine", nullptr}},
    {"segoe ui", {"Noto Sans", "DejaVu Sans", nullptr}},
    {"verdana", {"DejaVu Sans", nullptr, nullptr}},
    {"tahoma", {"DejaVu Sans", nullptr, nullptr}},
    {"ms sans serif", {"DejaVu Sans", nullptr, nullptr}},
    {"microsoft sans serif", {"DejaVu Sans", nullptr, nullptr}},
    {"ms shell dlg", {"DejaVu Sans", nullptr, nullptr}},
    {"ms shell dlg 2", {"DejaVu Sans", nullptr, nullptr}},
    {"georgia", {"DejaVu Serif", nullptr, nullptr}},
    {"ebrima", {"Noto Sans Ethiopic", nullptr, nullptr}},
    {"gadugi", {"Noto Sans Cherokee", nullptr, nullptr}},
    // Outline fonts only: emoji runs are drawn as outlines, in the text's
    // colour. Symbola has nearly all emoji; the others cover fewer.
    {"emojione color", {"Symbola", "Noto Sans Symbols2", "DejaVu Sans"}},
    {"leelawadee ui", {"Noto Sans Thai", nullptr, nullptr}},
    {"malgun gothic", {"Noto Sans CJK KR", "WenQuanYi Micro Hei", nullptr}},
    {"microsoft jhenghei ui", {"Noto Sans CJK TC", "WenQuanYi Micro Hei", nullptr}},
    {"microsoft yahei ui", {"Noto Sans CJK SC", "WenQuanYi Micro Hei", nullptr}},
    {"yu gothic ui", {"Noto Sans CJK JP", "WenQuanYi Micro Hei", nullptr}},
    {"mongolian baiti", {"Noto Sans Mongolian", nullptr, nullptr}},
    {"microsoft phagspa", {"Noto Sans PhagsPa", nullptr, nullptr}},
    {"nirmala ui", {"Noto Sans Devanagari", nullptr, nullptr}},
    {"wingdings", {"DejaVu Sans", nullptr, nullptr}},
};
constexpr const char* kLastResort = "DejaVu Sans";

std::string Utf8Of(const std::u16string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    if (c < 0x80) out += char(c);
    else if (c < 0x800) out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
    else if (c < 0x10000)
      out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
    else
      out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F)), out += char(0x80 | (c >> 6 & 0x3F)),
          out += char(0x80 | (c & 0x3F));
  }
  return out;
}

std::u16string Utf16Of(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t c = 0xFFFD;
    int n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (i + std::size_t(n) > s.size()) n = 1;
    if (n == 1) c = b < 0x80 ? b : 0xFFFD;
    else {
      c = b & (0x7F >> n);
      for (int k = 1; k < n; ++k) c = c << 6 | (static_cast<unsigned char>(s[i + std::size_t(k)]) & 0x3F);
    }
    i += std::size_t(n);
    if (c >= 0x10000) out += char16_t(0xD800 + ((c - 0x10000) >> 10)), out += char16_t(0xDC00 + (c & 0x3FF));
    else out += char16_t(c);
  }
  return out;
}

std::string Fold(const std::string& s) {
  std::string out;
  for (char c : s) out += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  const auto b = out.find_first_not_of(' '), e = out.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : out.substr(b, e - b + 1);
}

// ============================================================================
// The font system: FreeType, fontconfig and the caches, under one lock
// ============================================================================

// A face picked for a request, before a size is known.
struct TResolved {
  std::string Path;
  int Index = 0;
  std::string Family;
  bool SyntheticBold = false, SyntheticItalic = false;
};

class TFontSystem {
public:
  std::recursive_mutex Mutex;  // FreeType library, fontconfig, the caches
  FT_Library Library = nullptr;
  FcConfig* Config = nullptr;
  bool Private = false;
  std::string PrivateXml;  // the private set-up in use
  std::map<std::string, std::shared_ptr<const TFontFile>> Files;
  std::map<std::string, TResolved> Resolved;  // by folded name, bold, italic
  // Realised fonts by LOGFONT, most recently used first.
  std::list<std::pair<std::string, TRealFontPtr>> Lru;
  std::unordered_map<std::string, std::list<std::pair<std::string, TRealFontPtr>>::iterator> ByKey;
  std::atomic<std::uint64_t> NextId{1};
  static constexpr std::size_t kMaxRealised = 256;

  bool Start();
  void DropCaches() {
    Resolved.clear();
    ByKey.clear();
    Lru.clear();
    Files.clear();
  }
};

TFontSystem& Fonts() {
  static TFontSystem* s = new TFontSystem;  // lives to the end: fonts may be released late
  return *s;
}

// Measuring and string-mode drawing shape as GetCharacterPlacementW does.
std::atomic<TStringShaper> gShaper{&ShapeLine};
std::atomic<bool> gTestFonts{false};

bool TFontSystem::Start() {
  if (!Library && FT_Init_FreeType(&Library)) Library = nullptr;
  if (!Config && gTestFonts.load()) UseTestFonts();
  if (!Config) {
    Config = FcInitLoadConfigAndFonts();
    // fontconfig keeps parts of a loaded set-up where leak checks cannot
    // see them; give it all back at exit (faces do not depend on it).
    static const bool atExit = (std::atexit([] {
      TFontSystem& fs = Fonts();
      std::lock_guard<std::recursive_mutex> lock(fs.Mutex);
      if (fs.Config && !fs.Private) {
        FcConfigDestroy(fs.Config);
        fs.Config = nullptr;
        FcFini();
      }
    }), true);
    (void)atExit;
  }
  return Library && Config;
}

std::shared_ptr<const TFontFile> LoadFile(const std::string& path) {
  TFontSystem& fs = Fonts();
  if (auto it = fs.Files.find(path); it != fs.Files.end()) return it->second;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return nullptr;
  const std::streamoff size = in.tellg();
  // Font files are a few MB at most; anything else is not a font we load.
  if (size <= 0 || size > (std::streamoff(1) << 30)) return nullptr;
  auto file = std::make_shared<TFontFile>();
  file->Path = path;
  file->Data.resize(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(file->Data.data()), size)) return nullptr;
  fs.Files[path] = file;
  return file;
}

// The installed faces of a family, the nearest to the weight and slant
// asked for; false when the family is not installed.
bool PickFace(const std::string& family, int weight, bool italic, TResolved& out) {
  TFontSystem& fs = Fonts();
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_WEIGHT, FC_SLANT, FC_WIDTH, nullptr);
  FcFontSet* set = FcFontList(fs.Config, pat, os);
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  if (!set) return false;
  const int wantWeight = FcWeightFromOpenType(weight);
  long best = -1;
  int bestWeight = 0, bestSlant = 0;
  for (int i = 0; i < set->nfont; ++i) {
    FcPattern* f = set->fonts[i];
    FcChar8* file = nullptr;
    int index = 0, w = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN, width = FC_WIDTH_NORMAL;
    if (FcPatternGetString(f, FC_FILE, 0, &file) != FcResultMatch) continue;
    FcPatternGetInteger(f, FC_INDEX, 0, &index);
    FcPatternGetInteger(f, FC_WEIGHT, 0, &w);
    FcPatternGetInteger(f, FC_SLANT, 0, &slant);
    FcPatternGetInteger(f, FC_WIDTH, 0, &width);
    const bool slanted = slant != FC_SLANT_ROMAN;
    // Slant matters most, then the width (DejaVu's condensed faces share the
    // family), then the weight; ties go to the lower index and file name.
    const long score = (slanted != italic ? 100000L : 0L) + std::labs(long(width) - FC_WIDTH_NORMAL) * 100L +
                       std::labs(long(w) - wantWeight);
    const std::string path = reinterpret_cast<const char*>(file);
    if (best < 0 || score < best || (score == best && (index < out.Index || (index == out.Index && path < out.Path)))) {
      best = score;
      out.Path = path;
      out.Index = index;
      bestWeight = w;
      bestSlant = slant;
      FcChar8* name = nullptr;
      out.Family = FcPatternGetString(f, FC_FAMILY, 0, &name) == FcResultMatch ? reinterpret_cast<char*>(name) : family;
    }
  }
  FcFontSetDestroy(set);
  if (best < 0) return false;
  out.SyntheticBold = weight >= 600 && bestWeight < FC_WEIGHT_DEMIBOLD;
  out.SyntheticItalic = italic && bestSlant == FC_SLANT_ROMAN;
  return true;
}

// fontconfig's own choice for a name (system configuration only: its aliases
// know metric twins and generic names).
bool MatchFace(const std::string& family, int weight, bool italic, TResolved& out) {
  TFontSystem& fs = Fonts();
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(fs.Config, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* m = FcFontMatch(fs.Config, pat, &result);
  FcPatternDestroy(pat);
  if (!m) return false;
  FcChar8* file = nullptr;
  FcChar8* name = nullptr;
  int w = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  bool ok = FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch;
  if (ok) {
    out.Path = reinterpret_cast<const char*>(file);
    out.Index = 0;
    FcPatternGetInteger(m, FC_INDEX, 0, &out.Index);
    out.Family = FcPatternGetString(m, FC_FAMILY, 0, &name) == FcResultMatch ? reinterpret_cast<char*>(name) : family;
    FcPatternGetInteger(m, FC_WEIGHT, 0, &w);
    FcPatternGetInteger(m, FC_SLANT, 0, &slant);
    out.SyntheticBold = weight >= 600 && w < FC_WEIGHT_DEMIBOLD;
    out.SyntheticItalic = italic && slant == FC_SLANT_ROMAN;
  }
  FcPatternDestroy(m);
  return ok;
}

// Any installed scalable face at all: the end of the line when even the last
// resort is missing.
bool AnyFace(TResolved& out) {
  TFontSystem& fs = Fonts();
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, nullptr);
  FcFontSet* set = FcFontList(fs.Config, pat, os);
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  if (!set) return false;
  bool ok = false;
  for (int i = 0; i < set->nfont; ++i) {
    FcChar8* file = nullptr;
    FcChar8* name = nullptr;
    if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
    const std::string path = reinterpret_cast<const char*>(file);
    if (ok && path >= out.Path) continue;
    ok = true;
    out.Path = path;
    out.Index = 0;
    FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &out.Index);
    out.Family = FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch ? reinterpret_cast<char*>(name) : "";
  }
  FcFontSetDestroy(set);
  return ok;
}

// Name -> face: the table, the name itself, fontconfig's match (system set-up
// only), the last resort, anything installed. The lock is held.
bool Resolve(const std::string& folded, const std::string& name, int weight, bool italic, TResolved& out) {
  TFontSystem& fs = Fonts();
  const std::string key = folded + '\x1f' + std::to_string(weight) + (italic ? "i" : "r");
  if (auto it = fs.Resolved.find(key); it != fs.Resolved.end()) {
    out = it->second;
    return true;
  }
  bool found = false;
  for (const TSubstitute& s : kSubstitutes)
    if (folded == s.Windows) {
      for (const char* family : s.Families)
        if (!found && family) found = PickFace(family, weight, italic, out);
      break;
    }
  if (!found && !folded.empty()) found = PickFace(name, weight, italic, out);
  if (!found && !fs.Private && !folded.empty()) found = MatchFace(name, weight, italic, out);
  if (!found) found = PickFace(kLastResort, weight, italic, out);
  if (!found) found = AnyFace(out);
  if (found) fs.Resolved[key] = out;
  return found;
}

long RoundScaled(long units, int ppem, int upem) {
  return std::lround(double(units) * ppem / (upem > 0 ? upem : 1000));
}

bool CmapHas(FT_Face face, FT_ULong code) { return FT_Get_Char_Index(face, code) != 0; }

// The metrics of §"Metrics": from the font tables, unhinted.
void FillMetrics(TRealFont& f) {
  FT_Face face = f.Face;
  const int ppem = f.Ppem, upem = f.UnitsPerEm;
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
  auto* post = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST));
  long winAscent = face->ascender, winDescent = -face->descender;
  if (os2 && os2->version != 0xFFFF && (os2->usWinAscent || os2->usWinDescent)) {
    winAscent = os2->usWinAscent;
    winDescent = os2->usWinDescent;
  } else if (hhea) {
    winAscent = hhea->Ascender;
    winDescent = -hhea->Descender;
  }
  TEXTMETRICW& tm = f.Metrics;
  const int boldPx = f.SyntheticBold ? int(f.BoldStrength / 64) : 0;
  if (FT_IS_SCALABLE(face)) {
    tm.tmAscent = RoundScaled(winAscent, ppem, upem);
    tm.tmDescent = RoundScaled(winDescent, ppem, upem);
  } else {
    tm.tmAscent = LONG(face->size ? face->size->metrics.ascender / 64 : ppem);
    tm.tmDescent = LONG(face->size ? -face->size->metrics.descender / 64 : 0);
  }
  tm.tmHeight = tm.tmAscent + tm.tmDescent;
  tm.tmInternalLeading = std::max<LONG>(0, tm.tmHeight - ppem);
  if (hhea) {
    const long excess = (winAscent + winDescent) - (long(hhea->Ascender) - hhea->Descender);
    tm.tmExternalLeading = LONG(std::max<long>(0, RoundScaled(long(hhea->Line_Gap) - excess, ppem, upem)));
    tm.tmMaxCharWidth = LONG(RoundScaled(hhea->advance_Width_Max, ppem, upem)) + boldPx;
  }
  if (os2 && os2->version != 0xFFFF) {
    tm.tmAveCharWidth = LONG(RoundScaled(os2->xAvgCharWidth, ppem, upem));
    tm.tmFirstChar = char16_t(std::min<unsigned>(os2->usFirstCharIndex, 0xFFFF));
    tm.tmLastChar = char16_t(std::min<unsigned>(os2->usLastCharIndex, 0xFFFF));
  } else {
    tm.tmAveCharWidth = ppem / 2;
    tm.tmFirstChar = 0x20;
    tm.tmLastChar = 0xFFFF;
  }
  const bool bold = f.Log.lfWeight >= 600;
  tm.tmWeight = bold ? 700 : (os2 && os2->version != 0xFFFF && os2->usWeightClass ? os2->usWeightClass : 400);
  tm.tmItalic = f.Log.lfItalic ? 255 : 0;
  tm.tmUnderlined = f.Log.lfUnderline ? 255 : 0;
  tm.tmStruckOut = f.Log.lfStrikeOut ? 255 : 0;
  tm.tmBreakChar = 0x20;
  // A code the cmap lacks, so that shaping it gives the missing glyph.
  tm.tmDefaultChar = 0xFFFF;
  const unsigned candidates[] = {os2 && os2->version >= 2 ? unsigned(os2->usDefaultChar) : 0u, 0x1Fu, 0xFFFFu};
  for (unsigned c : candidates)
    if (c && !CmapHas(face, c)) {
      tm.tmDefaultChar = char16_t(c);
      break;
    }
  tm.tmPitchAndFamily = BYTE((FT_IS_FIXED_WIDTH(face) ? 0 : TMPF_FIXED_PITCH) |
                             (FT_IS_SCALABLE(face) ? (TMPF_VECTOR | TMPF_TRUETYPE) : 0));
  tm.tmCharSet = 0;

  OUTLINETEXTMETRICW& otm = f.Outline;
  otm.otmTextMetrics = tm;
  otm.otmEMSquare = UINT(upem);
  otm.otmAscent = int(RoundScaled(hhea ? hhea->Ascender : face->ascender, ppem, upem));
  otm.otmDescent = int(RoundScaled(hhea ? hhea->Descender : face->descender, ppem, upem));
  otm.otmLineGap = UINT(std::max<long>(0, RoundScaled(hhea ? hhea->Line_Gap : 0, ppem, upem)));
  if (post) {
    otm.otmsUnderscorePosition = int(RoundScaled(post->underlinePosition, ppem, upem));
    otm.otmsUnderscoreSize = int(std::max<long>(1, RoundScaled(post->underlineThickness, ppem, upem)));
    otm.otmItalicAngle = int(std::lround(double(post->italicAngle) / 65536.0 * 10.0));
  } else {
    otm.otmsUnderscorePosition = -std::max(1, ppem / 10);
    otm.otmsUnderscoreSize = std::max(1, ppem / 14);
  }
  if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize) {
    otm.otmsStrikeoutPosition = int(RoundScaled(os2->yStrikeoutPosition, ppem, upem));
    otm.otmsStrikeoutSize = UINT(std::max<long>(1, RoundScaled(os2->yStrikeoutSize, ppem, upem)));
  } else {
    otm.otmsStrikeoutPosition = int(tm.tmAscent / 3);
    otm.otmsStrikeoutSize = UINT(otm.otmsUnderscoreSize);
  }
  if (os2 && os2->version >= 2) {
    otm.otmsXHeight = UINT(std::max<long>(0, RoundScaled(os2->sxHeight, ppem, upem)));
    otm.otmsCapEmHeight = UINT(std::max<long>(0, RoundScaled(os2->sCapHeight, ppem, upem)));
  }
  otm.otmrcFontBox = RECT{LONG(RoundScaled(face->bbox.xMin, ppem, upem)), LONG(RoundScaled(face->bbox.yMax, ppem, upem)),
                          LONG(RoundScaled(face->bbox.xMax, ppem, upem)), LONG(RoundScaled(face->bbox.yMin, ppem, upem))};
}

int PpemOf(LONG height, FT_Face face) {
  std::int64_t ppem = 12;
  if (height < 0) ppem = -std::int64_t(height);
  else if (height > 0) {
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    std::int64_t cell = face->ascender - face->descender;
    if (os2 && os2->version != 0xFFFF && (os2->usWinAscent || os2->usWinDescent))
      cell = std::int64_t(os2->usWinAscent) + os2->usWinDescent;
    const std::int64_t upem = face->units_per_EM ? face->units_per_EM : 1000;
    ppem = cell > 0 ? (std::int64_t(height) * upem + cell / 2) / cell : height;
  }
  return int(std::clamp<std::int64_t>(ppem, 1, 2048));
}

std::string LogKey(const LOGFONTW& log, const std::string& folded) {
  LOGFONTW k = log;
  std::memset(k.lfFaceName, 0, sizeof(k.lfFaceName));
  std::string key(reinterpret_cast<const char*>(&k), sizeof(k));
  return key + folded;
}

bool ValidFaceName(const LOGFONTW& log) {
  for (int i = 0; i < LF_FACESIZE; ++i)
    if (!log.lfFaceName[i]) return true;
  return false;  // 32 characters without a terminator
}

TRealFontPtr Realise(const LOGFONTW& log) {
  if (!ValidFaceName(log)) return nullptr;
  const std::u16string face16(log.lfFaceName);
  const std::string name = Utf8Of(face16);
  const std::string folded = Fold(name);
  const std::string key = LogKey(log, folded);
  TFontSystem& fs = Fonts();
  std::lock_guard<std::recursive_mutex> lock(fs.Mutex);
  if (!fs.Start()) return nullptr;
  if (auto it = fs.ByKey.find(key); it != fs.ByKey.end()) {
    fs.Lru.splice(fs.Lru.begin(), fs.Lru, it->second);
    return it->second->second;
  }
  const int weight = log.lfWeight <= 0 ? 400 : std::clamp<int>(log.lfWeight, 1, 1000);
  TResolved r;
  if (!Resolve(folded, name, weight, log.lfItalic != 0, r)) return nullptr;
  std::shared_ptr<const TFontFile> file = LoadFile(r.Path);
  if (!file) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Memory_Face(fs.Library, file->Data.data(), FT_Long(file->Data.size()), r.Index, &face)) return nullptr;
  auto f = std::make_shared<TRealFont>();
  f->Face = face;  // owned from here
  f->Id = fs.NextId++;
  f->Log = log;
  f->File = file;
  f->FaceIndex = r.Index;
  f->Family = r.Family;
  f->FaceName = Utf16Of(r.Family);
  f->SymbolRemap = folded == "wingdings";
  f->Scalable = FT_IS_SCALABLE(face);
  f->UnitsPerEm = face->units_per_EM ? face->units_per_EM : 1000;
  f->Ppem = PpemOf(log.lfHeight, face);
  f->SyntheticBold = r.SyntheticBold && f->Scalable;
  f->SyntheticItalic = r.SyntheticItalic && f->Scalable;
  f->BoldStrength = f->SyntheticBold ? std::max(1L, std::lround(f->Ppem / 24.0)) * 64 : 0;
  if (f->Scalable) {
    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(f->Ppem))) return nullptr;
  } else if (face->num_fixed_sizes > 0) {
    // A bitmap face: the strike nearest the size asked for.
    int best = 0;
    for (int i = 1; i < face->num_fixed_sizes; ++i)
      if (std::abs(face->available_sizes[i].y_ppem / 64 - f->Ppem) <
          std::abs(face->available_sizes[best].y_ppem / 64 - f->Ppem))
        best = i;
    if (FT_Select_Size(face, best)) return nullptr;
    f->Ppem = std::max(1, int(face->available_sizes[best].y_ppem / 64));
  }
  FillMetrics(*f);
  fs.Lru.emplace_front(key, f);
  fs.ByKey[key] = fs.Lru.begin();
  while (fs.Lru.size() > TFontSystem::kMaxRealised) {
    fs.ByKey.erase(fs.Lru.back().first);
    fs.Lru.pop_back();
  }
  return f;
}

LOGFONTW DefaultLogFont() {
  LOGFONTW log;
  log.lfHeight = -11;  // 8 pt at 96 dpi
  log.lfCharSet = DEFAULT_CHARSET;
  const char16_t name[] = u"Tahoma";
  std::copy(std::begin(name), std::end(name), log.lfFaceName);
  return log;
}

HFONT StockFont() {
  static const HFONT font = NewFontHandle(std::make_shared<TFontObject>(TFontObject{DefaultLogFont()}), true);
  return font;
}

// ============================================================================
// Glyph raster cache
// ============================================================================

struct TGlyphImage {
  int Left = 0, Top = 0, Width = 0, Height = 0;  // Top: rows above the baseline
  std::vector<std::uint8_t> Pixels;
};
using TGlyphImagePtr = std::shared_ptr<const TGlyphImage>;

class TGlyphCache {
public:
  static constexpr std::size_t kBudget = std::size_t(8) << 20;
  TGlyphImagePtr Get(const TRealFont& font, unsigned glyph) {
    const std::string key = font.File->Path + '\x1f' + std::to_string(font.FaceIndex) + '\x1f' +
                            std::to_string(font.Ppem) + '\x1f' + char('0' + font.SyntheticBold) +
                            char('0' + font.SyntheticItalic) + std::to_string(glyph);
    {
      std::lock_guard<std::mutex> l(Mutex);
      if (auto it = Map.find(key); it != Map.end()) {
        Order.splice(Order.begin(), Order, it->second);
        return it->second->second;
      }
    }
    auto image = std::make_shared<TGlyphImage>();
    {
      auto lock = LockFace(font);
      if (LoadStyledGlyph(font, glyph, true) && FT_Render_Glyph(font.Face->glyph, FT_RENDER_MODE_NORMAL) == 0) {
        const FT_Bitmap& b = font.Face->glyph->bitmap;
        if (b.pixel_mode == FT_PIXEL_MODE_GRAY && b.width > 0 && b.rows > 0) {
          image->Left = font.Face->glyph->bitmap_left;
          image->Top = font.Face->glyph->bitmap_top;
          image->Width = int(b.width);
          image->Height = int(b.rows);
          image->Pixels.resize(std::size_t(b.width) * b.rows);
          for (unsigned y = 0; y < b.rows; ++y) {
            const unsigned char* src = b.buffer + std::ptrdiff_t(y) * b.pitch;
            std::copy(src, src + b.width, image->Pixels.begin() + std::ptrdiff_t(y) * b.width);
          }
        }
      }
    }
    std::lock_guard<std::mutex> l(Mutex);
    if (auto it = Map.find(key); it != Map.end()) return it->second->second;  // another thread was first
    Order.emplace_front(key, image);
    Map[key] = Order.begin();
    Bytes += image->Pixels.size() + key.size() + 64;
    while (Bytes > kBudget && Order.size() > 1) {
      Bytes -= Order.back().second->Pixels.size() + Order.back().first.size() + 64;
      Map.erase(Order.back().first);
      Order.pop_back();
    }
    return image;
  }

private:
  std::mutex Mutex;
  std::list<std::pair<std::string, TGlyphImagePtr>> Order;
  std::unordered_map<std::string, std::list<std::pair<std::string, TGlyphImagePtr>>::iterator> Map;
  std::size_t Bytes = 0;
};

TGlyphCache& Glyphs() {
  static TGlyphCache* c = new TGlyphCache;
  return *c;
}

// One glyph per code point through the cmap; lone surrogates are U+FFFD.
void CmapShape(const TRealFont& font, const char16_t* text, int count, std::vector<unsigned>& glyphs,
               std::vector<int>& dx, std::vector<int>* units) {
  for (int i = 0; i < count; ++i) {
    char32_t c = text[i];
    int n = 1;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      n = 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    const unsigned g = GlyphOfChar(font, c);
    glyphs.push_back(g);
    dx.push_back(AdvancePx(font, g));
    if (units) units->push_back(n);
    i += n - 1;
  }
}

bool ShapeString(const TRealFont& font, const char16_t* text, int count, std::vector<unsigned>& glyphs,
                 std::vector<int>& dx) {
  glyphs.clear();
  dx.clear();
  if (TStringShaper s = gShaper.load()) return s(font, text, count, glyphs, dx) && glyphs.size() == dx.size();
  CmapShape(font, text, count, glyphs, dx, nullptr);
  return true;
}

bool Abc(const TRealFont& font, unsigned glyph, ABC& abc) {
  const int advance = AdvancePx(font, glyph);
  auto lock = LockFace(font);
  if (glyph >= unsigned(font.Face->num_glyphs)) return false;
  abc = ABC{0, 0, advance};
  if (!LoadStyledGlyph(font, glyph, true)) return true;  // a bitmap face: the advance only
  FT_BBox box;
  FT_Outline_Get_CBox(&font.Face->glyph->outline, &box);
  if (font.Face->glyph->outline.n_points == 0 || box.xMax <= box.xMin) return true;
  const int a = int(std::floor(box.xMin / 64.0));
  const int right = int(std::ceil(box.xMax / 64.0));
  abc.abcA = a;
  abc.abcB = UINT(right - a);
  abc.abcC = advance - right;
  return true;
}

}  // namespace

// ============================================================================
// The internal interface
// ============================================================================

TRealFont::~TRealFont() {
  if (!Face) return;
  std::lock_guard<std::recursive_mutex> l(Fonts().Mutex);
  FT_Done_Face(Face);
}

TRealFontPtr RealiseLogFont(const LOGFONTW& log) { return Realise(log); }

TRealFontPtr RealiseFont(HFONT font) {
  std::shared_ptr<const TFontObject> obj = FontObjectOf(font);
  return obj ? Realise(obj->Log) : nullptr;
}

TRealFontPtr RealiseDcFont(HDC hdc) {
  TDcText text;
  if (!GetDcText(hdc, text)) return nullptr;
  if (text.Font)
    if (std::shared_ptr<const TFontObject> obj = FontObjectOf(text.Font)) return Realise(obj->Log);
  return Realise(DefaultLogFont());  // none selected, or deleted under the DC
}

unsigned GlyphOfChar(const TRealFont& font, char32_t code) {
  if (font.SymbolRemap && code == U'L') code = 0x2639;
  auto lock = LockFace(font);
  return FT_Get_Char_Index(font.Face, code);
}

int AdvancePx(const TRealFont& font, unsigned glyph) {
  auto lock = LockFace(font);
  if (glyph >= unsigned(font.Face->num_glyphs)) return 0;
  FT_Fixed units = 0;
  if (!font.Scalable) {
    if (FT_Load_Glyph(font.Face, glyph, FT_LOAD_DEFAULT)) return 0;
    return int(font.Face->glyph->advance.x / 64);
  }
  if (FT_Get_Advance(font.Face, glyph, FT_LOAD_NO_SCALE, &units)) return 0;
  return int(RoundScaled(long(units), font.Ppem, font.UnitsPerEm)) + int(font.BoldStrength / 64);
}

bool LoadStyledGlyph(const TRealFont& font, unsigned glyph, bool outline) {
  FT_Face face = font.Face;
  if (glyph >= unsigned(face->num_glyphs)) return false;
  if (!font.Scalable) return !outline && FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT) == 0;
  if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP)) return false;
  FT_GlyphSlot slot = face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  if (font.SyntheticItalic) {
    FT_Matrix shear{0x10000, 0x3333, 0, 0x10000};  // x += 0.2 y
    FT_Outline_Transform(&slot->outline, &shear);
  }
  if (font.SyntheticBold) {
    FT_Outline_Embolden(&slot->outline, font.BoldStrength);
    slot->advance.x += font.BoldStrength;
  }
  return true;
}

void SetStringShaper(TStringShaper shaper) { gShaper.store(shaper); }

std::unique_lock<std::recursive_mutex> LockFontSystem() { return std::unique_lock<std::recursive_mutex>(Fonts().Mutex); }

FcConfig* FontConfig() { return Fonts().Start() ? Fonts().Config : nullptr; }

bool UsePrivateFonts(const std::vector<std::string>& dirs, const std::string& cacheDir) {
  auto escape = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '&') out += "&amp;";
      else if (c == '<') out += "&lt;";
      else if (c == '>') out += "&gt;";
      else out += c;
    }
    return out;
  };
  std::string xml = "<?xml version=\"1.0\"?><fontconfig>";
  for (const std::string& d : dirs) xml += "<dir>" + escape(d) + "</dir>";
  xml += "<cachedir>" + escape(cacheDir) + "</cachedir></fontconfig>";
  TFontSystem& fs = Fonts();
  std::lock_guard<std::recursive_mutex> lock(fs.Mutex);
  if (fs.Private && fs.PrivateXml == xml) return fs.Start();  // already in use: keep its fonts and caches
  FcConfig* config = FcConfigCreate();
  if (!config) return false;
  if (!FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(xml.c_str()), FcTrue) ||
      !FcConfigBuildFonts(config)) {
    FcConfigDestroy(config);
    return false;
  }
  fs.DropCaches();
  if (fs.Config) FcConfigDestroy(fs.Config);
  fs.Config = config;
  fs.Private = true;
  fs.PrivateXml = xml;
  return fs.Start();
}

void UseTestFontsWhenStarted() { gTestFonts.store(true); }

bool UseTestFonts() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string cache = std::string(tmp && *tmp ? tmp : "/tmp") + "/zm-test-fontconfig-cache";
  return UsePrivateFonts({"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/truetype/liberation2",
                          "/usr/share/fonts/truetype/wqy", "/usr/share/fonts/truetype/ancient-scripts"},
                         cache);
}

}  // namespace plat::gdi

// ============================================================================
// The calls
// ============================================================================

namespace plat {

using gdi::TRealFontPtr;

HFONT CreateFontIndirectW(const LOGFONTW* log) {
  if (!log || !gdi::ValidFaceName(*log)) return nullptr;
  return gdi::NewFontHandle(std::make_shared<gdi::TFontObject>(gdi::TFontObject{*log}));
}

HGDIOBJ GetStockObject(int index) {
  return index == DEFAULT_GUI_FONT ? reinterpret_cast<HGDIOBJ>(gdi::StockFont()) : nullptr;
}

BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics) {
  if (!metrics) return 0;
  TRealFontPtr f = gdi::RealiseDcFont(hdc);
  if (!f) return 0;
  *metrics = f->Metrics;
  return 1;
}

UINT GetOutlineTextMetricsW(HDC hdc, UINT size, OUTLINETEXTMETRICW* metrics) {
  TRealFontPtr f = gdi::RealiseDcFont(hdc);
  if (!f || !f->Scalable) return 0;
  if (!metrics || size == 0) return sizeof(OUTLINETEXTMETRICW);
  if (size < sizeof(OUTLINETEXTMETRICW)) return 0;
  *metrics = f->Outline;
  return sizeof(OUTLINETEXTMETRICW);
}

BOOL GetCharABCWidthsW(HDC hdc, UINT first, UINT last, ABC* abc) {
  if (!abc || first > last || last > 0x10FFFF) return 0;
  TRealFontPtr f = gdi::RealiseDcFont(hdc);
  if (!f) return 0;
  for (UINT c = first; c <= last; ++c)
    if (!gdi::Abc(*f, gdi::GlyphOfChar(*f, c), abc[c - first])) return 0;
  return 1;
}

BOOL GetCharABCWidthsI(HDC hdc, UINT first, UINT count, const WORD* glyphs, ABC* abc) {
  if (!abc) return 0;
  TRealFontPtr f = gdi::RealiseDcFont(hdc);
  if (!f) return 0;
  for (UINT i = 0; i < count; ++i) {
    const std::uint64_t g = glyphs ? glyphs[i] : std::uint64_t(first) + i;
    if (g > 0xFFFFFFFFu || !gdi::Abc(*f, unsigned(g), abc[i])) return 0;
  }
  return 1;
}

BOOL GetTextExtentPoint32W(HDC hdc, const char16_t* text, int count, SIZE* size) {
  if (!size || count < 0 || (count > 0 && !text)) return 0;
  TRealFontPtr f = gdi::RealiseDcFont(hdc);
  if (!f) return 0;
  std::vector<unsigned> glyphs;
  std::vector<int> dx;
  if (!gdi::ShapeString(*f, text, count, glyphs, dx)) return 0;
  std::int64_t cx = 0;
  for (int d : dx) cx += d;
  size->cx = LONG(std::clamp<std::int64_t>(cx, 0, 0x7FFFFFFF));
  size->cy = f->Metrics.tmHeight;
  return 1;
}

int GetTextFaceW(HDC hdc, int count, char16_t* name) {
  TRealFontPtr f = gdi::RealiseDcFont(hdc);
  if (!f) return 0;
  const int length = int(f->FaceName.size());
  if (!name) return length + 1;
  if (count < 1) return 0;
  const int n = std::min(length, count - 1);
  std::copy(f->FaceName.begin(), f->FaceName.begin() + n, name);
  name[n] = 0;
  return n + 1;
}

namespace {
template <class T, class Get, class Set>
T SwapText(HDC hdc, T value, T failure, Get get, Set set) {
  gdi::TDcText t;
  if (!gdi::GetDcText(hdc, t)) return failure;
  const T previous = get(t);
  set(t, value);
  return gdi::SetDcText(hdc, t) ? previous : failure;
}
}  // namespace

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  return SwapText<COLORREF>(
      hdc, color & 0xFFFFFF, CLR_INVALID, [](const gdi::TDcText& t) { return t.TextColor; },
      [](gdi::TDcText& t, COLORREF v) { t.TextColor = v; });
}
COLORREF GetTextColor(HDC hdc) {
  gdi::TDcText t;
  return gdi::GetDcText(hdc, t) ? t.TextColor : CLR_INVALID;
}
COLORREF SetBkColor(HDC hdc, COLORREF color) {
  return SwapText<COLORREF>(
      hdc, color & 0xFFFFFF, CLR_INVALID, [](const gdi::TDcText& t) { return t.BkColor; },
      [](gdi::TDcText& t, COLORREF v) { t.BkColor = v; });
}
COLORREF GetBkColor(HDC hdc) {
  gdi::TDcText t;
  return gdi::GetDcText(hdc, t) ? t.BkColor : CLR_INVALID;
}
int SetBkMode(HDC hdc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return SwapText<int>(
      hdc, mode, 0, [](const gdi::TDcText& t) { return t.BkMode; }, [](gdi::TDcText& t, int v) { t.BkMode = v; });
}
int GetBkMode(HDC hdc) {
  gdi::TDcText t;
  return gdi::GetDcText(hdc, t) ? t.BkMode : 0;
}
UINT SetTextAlign(HDC hdc, UINT align) {
  if (align != TA_TOP && align != TA_BASELINE) return GDI_ERROR;
  return SwapText<UINT>(
      hdc, align, GDI_ERROR, [](const gdi::TDcText& t) { return t.Align; },
      [](gdi::TDcText& t, UINT v) { t.Align = v; });
}
UINT GetTextAlign(HDC hdc) {
  gdi::TDcText t;
  return gdi::GetDcText(hdc, t) ? t.Align : GDI_ERROR;
}

namespace {
std::uint32_t Bgr(COLORREF c) { return std::uint32_t(GetRValue(c)) << 16 | std::uint32_t(GetGValue(c)) << 8 | GetBValue(c); }

// r limited to *limit when given; false when nothing is left.
bool Limit(RECT& r, const RECT* limit) {
  if (limit) {
    r.left = std::max(r.left, limit->left);
    r.top = std::max(r.top, limit->top);
    r.right = std::min(r.right, limit->right);
    r.bottom = std::min(r.bottom, limit->bottom);
  }
  return r.right > r.left && r.bottom > r.top;
}

LONG Fit(std::int64_t v) { return LONG(std::clamp<std::int64_t>(v, -0x40000000, 0x40000000)); }
}  // namespace

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, const char16_t* text, UINT count,
                 const int* dx) {
  if (options & ~(ETO_OPAQUE | ETO_CLIPPED | ETO_GLYPH_INDEX)) return 0;
  if ((count > 0 && !text) || count > 0x7FFFFFFF) return 0;
  gdi::TDcText state;
  if (!gdi::GetDcText(hdc, state)) return 0;
  TRealFontPtr f = gdi::RealiseDcFont(hdc);
  if (!f) return 0;
  if (!gdi::DcHasPixels(hdc)) return 1;  // a screen DC: nothing to draw on
  const RECT* clip = (options & ETO_CLIPPED) && rect ? rect : nullptr;
  if ((options & ETO_OPAQUE) && rect) {
    RECT r = *rect;
    if (Limit(r, nullptr)) gdi::FillDc(hdc, r, Bgr(state.BkColor));
  }
  // Glyphs and advances; a caller's dx counts per UTF-16 unit in string mode.
  std::vector<unsigned> glyphs;
  std::vector<int> advances;
  if (options & ETO_GLYPH_INDEX) {
    for (UINT i = 0; i < count; ++i) {
      glyphs.push_back(text[i]);
      advances.push_back(dx ? dx[i] : gdi::AdvancePx(*f, text[i]));
    }
  } else if (dx) {
    std::vector<int> units;
    gdi::CmapShape(*f, text, int(count), glyphs, advances, &units);
    for (std::size_t g = 0, i = 0; g < glyphs.size(); i += std::size_t(units[g]), ++g)
      advances[g] = dx[i] + (units[g] == 2 ? dx[i + 1] : 0);
  } else if (!gdi::ShapeString(*f, text, int(count), glyphs, advances)) {
    return 0;
  }
  std::int64_t total = 0;
  for (int a : advances) total += a;
  const int ascent = f->Metrics.tmAscent;
  const std::int64_t baseline = state.Align == TA_BASELINE ? std::int64_t(y) : std::int64_t(y) + ascent;
  const std::int64_t top = baseline - ascent;
  if (state.BkMode == OPAQUE && total > 0) {
    RECT cell{Fit(x), Fit(top), Fit(std::int64_t(x) + total), Fit(top + f->Metrics.tmHeight)};
    if (Limit(cell, clip)) gdi::FillDc(hdc, cell, Bgr(state.BkColor));
  }
  std::int64_t pen = x;
  for (std::size_t g = 0; g < glyphs.size(); ++g) {
    if (gdi::TGlyphImagePtr img = gdi::Glyphs().Get(*f, glyphs[g]); img && !img->Pixels.empty()) {
      const std::int64_t gx = pen + img->Left, gy = baseline - img->Top;
      if (std::abs(gx) < 0x40000000 && std::abs(gy) < 0x40000000)
        gdi::BlendMaskDc(hdc, int(gx), int(gy), img->Width, img->Height, img->Pixels.data(), img->Width,
                         state.TextColor, clip);
    }
    pen += advances[g];
  }
  // Underline and strike-out across the whole advance, blanks included.
  auto bar = [&](int position, int thickness) {
    RECT r{Fit(x), Fit(baseline - position), Fit(std::int64_t(x) + total), Fit(baseline - position + std::max(1, thickness))};
    if (Limit(r, clip)) gdi::FillDc(hdc, r, Bgr(state.TextColor));
  };
  if (f->Log.lfUnderline && total > 0) bar(f->Outline.otmsUnderscorePosition, f->Outline.otmsUnderscoreSize);
  if (f->Log.lfStrikeOut && total > 0) bar(f->Outline.otmsStrikeoutPosition, int(f->Outline.otmsStrikeoutSize));
  return 1;
}

}  // namespace plat
