#include "Platform/Gdi/PlatCoverage.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include "Platform/Gdi/PlatFontInternal.h"
#include "Platform/PlatUtf8.h"

namespace plat {
namespace dwrite {

struct TCoverage {
  std::vector<DWRITE_UNICODE_RANGE> Ranges;  // sorted, disjoint, not touching
};

}  // namespace dwrite

namespace {

using dwrite::DWRITE_UNICODE_RANGE;
using dwrite::TCoverage;

// The cmap of a face as ranges, read once per face file and index.
std::shared_ptr<const TCoverage> CoverageOf(const gdi::TRealFont& font) {
  static std::mutex mutex;
  static auto* cache = new std::map<std::pair<std::string, int>, std::shared_ptr<const TCoverage>>();
  auto key = std::make_pair(font.File ? font.File->Path : font.Family, font.FaceIndex);
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache->find(key);
    if (it != cache->end()) return it->second;
  }
  auto cov = std::make_shared<TCoverage>();
  {
    auto lock = gdi::LockFace(font);
    FT_Face face = font.Face;
    // Text is drawn from outlines: a face of bitmaps only (colour emoji
    // strikes) covers nothing, so that fallback finds an outline font.
    if (face && font.Scalable) {
      FT_UInt index = 0;
      FT_ULong code = FT_Get_First_Char(face, &index);
      while (index != 0) {
        auto c = static_cast<std::uint32_t>(code);
        if (!cov->Ranges.empty() && cov->Ranges.back().last + 1 == c)
          cov->Ranges.back().last = c;
        else if (cov->Ranges.empty() || cov->Ranges.back().last < c)
          cov->Ranges.push_back(DWRITE_UNICODE_RANGE{c, c});
        code = FT_Get_Next_Char(face, code, &index);
      }
    }
  }
  std::lock_guard<std::mutex> lock(mutex);
  return cache->emplace(key, std::move(cov)).first->second;
}

struct TFamily {
  std::u16string Name;
  bool Outline = false;
  bool Fixed = false;
};

// The installed families of the current fontconfig set, sorted by name.
std::vector<TFamily> InstalledFamilies() {
  std::map<std::u16string, TFamily> byName;
  auto lock = gdi::LockFontSystem();
  FcConfig* config = gdi::FontConfig();
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_SPACING, FC_OUTLINE, static_cast<char*>(nullptr));
  FcFontSet* set = config && pattern && objects ? FcFontList(config, pattern, objects) : nullptr;
  if (set) {
    for (int i = 0; i < set->nfont; ++i) {
      FcChar8* family = nullptr;
      if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) != FcResultMatch || !family || !*family) continue;
      std::u16string name = FromUtf8(reinterpret_cast<const char*>(family));
      if (name.empty() || name[0] == u'@') continue;
      FcBool outline = FcTrue;
      FcPatternGetBool(set->fonts[i], FC_OUTLINE, 0, &outline);
      int spacing = FC_PROPORTIONAL;
      FcPatternGetInteger(set->fonts[i], FC_SPACING, 0, &spacing);
      TFamily& f = byName[name];
      if (f.Name.empty()) f.Fixed = spacing >= FC_MONO;
      f.Name = name;
      f.Outline = f.Outline || outline;
    }
    FcFontSetDestroy(set);
  }
  if (objects) FcObjectSetDestroy(objects);
  if (pattern) FcPatternDestroy(pattern);
  std::vector<TFamily> out;
  out.reserve(byName.size());
  for (auto& [name, f] : byName) out.push_back(std::move(f));
  return out;
}

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return Fold(x) == Fold(y);
         });
}

bool ValidDc(HDC hdc) { return gdi::RealiseDcFont(hdc) != nullptr; }

std::atomic<bool> gDirectWriteAvailable{true};

}  // namespace

DWORD GetFontUnicodeRanges(HDC hdc, GLYPHSET* set) {
  gdi::TRealFontPtr font = gdi::RealiseDcFont(hdc);
  if (!font) return 0;
  std::shared_ptr<const TCoverage> cov = CoverageOf(*font);
  // BMP ranges, each cut to what a WCRANGE can count.
  std::vector<WCRANGE> ranges;
  DWORD total = 0;
  for (const DWRITE_UNICODE_RANGE& r : cov->Ranges) {
    if (r.first > 0xFFFF) break;
    std::uint32_t first = r.first, last = std::min<std::uint32_t>(r.last, 0xFFFF);
    while (first <= last) {
      std::uint32_t n = std::min<std::uint32_t>(last - first + 1, 0xFFFF);
      ranges.push_back(WCRANGE{static_cast<char16_t>(first), static_cast<WORD>(n)});
      total += n;
      first += n;
    }
  }
  const auto bytes = static_cast<DWORD>(16 + 4 * std::max<std::size_t>(ranges.size(), 1));
  if (!set) return bytes;
  set->cbThis = bytes;
  set->flAccel = 0;
  set->cGlyphsSupported = total;
  set->cRanges = static_cast<DWORD>(ranges.size());
  WCRANGE* out = set->ranges;
  for (std::size_t i = 0; i < ranges.size(); ++i) out[i] = ranges[i];
  return bytes;
}

int EnumFontFamiliesW(HDC hdc, const char16_t* family, FONTENUMPROCW proc, LPARAM data) {
  if (!proc || !ValidDc(hdc)) return 0;
  std::u16string_view wanted = family ? std::u16string_view(family) : std::u16string_view();
  int result = 0;
  for (const TFamily& f : InstalledFamilies()) {
    if (!wanted.empty() && !SameName(wanted, f.Name)) continue;
    LOGFONTW log;
    std::size_t n = std::min<std::size_t>(f.Name.size(), LF_FACESIZE - 1);
    std::copy_n(f.Name.begin(), n, log.lfFaceName);
    log.lfFaceName[n] = 0;
    log.lfWeight = FW_NORMAL;
    log.lfCharSet = DEFAULT_CHARSET;
    log.lfPitchAndFamily = f.Fixed ? FIXED_PITCH : VARIABLE_PITCH;
    TEXTMETRICW tm;
    tm.tmWeight = FW_NORMAL;
    tm.tmPitchAndFamily =
        static_cast<BYTE>((f.Fixed ? 0 : TMPF_FIXED_PITCH) | (f.Outline ? TMPF_VECTOR | TMPF_TRUETYPE : 0));
    result = proc(&log, &tm, f.Outline ? TRUETYPE_FONTTYPE : RASTER_FONTTYPE, data);
    if (result == 0) break;
  }
  return result;
}

int EnumFontFamiliesExW(HDC hdc, const LOGFONTW* log, FONTENUMPROCW proc, LPARAM data, DWORD flags) {
  if (!log || flags != 0) return 0;
  const char16_t* end = std::find(log->lfFaceName, log->lfFaceName + LF_FACESIZE, u'\0');
  if (end == log->lfFaceName + LF_FACESIZE) return 0;  // unterminated name
  return EnumFontFamiliesW(hdc, log->lfFaceName[0] ? log->lfFaceName : nullptr, proc, data);
}

namespace dwrite {

HRESULT FontFace::GetUnicodeRanges(std::uint32_t maxRanges, DWRITE_UNICODE_RANGE* ranges,
                                   std::uint32_t* actual) const {
  if (!actual) return E_INVALIDARG;
  const auto n = static_cast<std::uint32_t>(Ranges ? Ranges->Ranges.size() : 0);
  *actual = n;
  if (n > maxRanges || (n > 0 && !ranges)) return E_NOT_SUFFICIENT_BUFFER;
  if (n > 0) std::copy_n(Ranges->Ranges.begin(), n, ranges);
  return S_OK;
}

HRESULT Factory::Create(std::shared_ptr<Factory>* factory) {
  if (!factory) return E_INVALIDARG;
  factory->reset();
  if (!gDirectWriteAvailable.load()) return E_FAIL;
  LOGFONTW log;
  if (!gdi::RealiseLogFont(log)) return E_FAIL;
  *factory = std::make_shared<Factory>();
  return S_OK;
}

HRESULT Factory::GetFamilyNames(std::vector<std::u16string>* names) const {
  if (!names) return E_INVALIDARG;
  names->clear();
  for (TFamily& f : InstalledFamilies()) names->push_back(std::move(f.Name));
  return names->empty() ? E_FAIL : S_OK;
}

HRESULT Factory::CreateFirstFontFace(std::shared_ptr<FontFace>* face) const {
  if (!face) return E_INVALIDARG;
  face->reset();
  std::vector<TFamily> families = InstalledFamilies();
  if (families.empty()) return E_FAIL;
  LOGFONTW log;
  log.lfHeight = -16;
  std::size_t n = std::min<std::size_t>(families[0].Name.size(), LF_FACESIZE - 1);
  std::copy_n(families[0].Name.begin(), n, log.lfFaceName);
  gdi::TRealFontPtr font = gdi::RealiseLogFont(log);
  if (!font) return E_FAIL;
  auto f = std::make_shared<FontFace>();
  f->Ranges = CoverageOf(*font);
  f->Family = font->FaceName;
  *face = std::move(f);
  return S_OK;
}

HRESULT Factory::CreateFontFaceFromHdc(HDC hdc, std::shared_ptr<FontFace>* face) const {
  if (!face) return E_INVALIDARG;
  face->reset();
  gdi::TRealFontPtr font = gdi::RealiseDcFont(hdc);
  if (!font) return E_INVALIDARG;
  auto f = std::make_shared<FontFace>();
  f->Ranges = CoverageOf(*font);
  f->Family = font->FaceName;
  *face = std::move(f);
  return S_OK;
}

void Factory::SetAvailable(bool available) { gDirectWriteAvailable.store(available); }

}  // namespace dwrite
}  // namespace plat
