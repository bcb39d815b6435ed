#include "Platform/Gdi/PlatShape.h"

#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <fribidi.h>
#include <hb-ot.h>
#include <hb.h>

#include "Platform/Gdi/PlatShapeInternal.h"

namespace plat {
namespace gdi {
namespace {

// One hb_face per font file and face index, for the process life: HarfBuzz
// keeps its shaping plans there, and a read-only face is safe to share.
class THbFaces {
public:
  hb_face_t* Get(const TRealFont& font) {
    if (!font.File) return nullptr;
    std::lock_guard<std::mutex> lock(Mutex);
    auto key = std::make_pair(font.File->Path, font.FaceIndex);
    auto it = Faces.find(key);
    if (it != Faces.end()) return it->second.Face;
    TEntry e;
    e.File = font.File;
    hb_blob_t* blob = hb_blob_create(reinterpret_cast<const char*>(e.File->Data.data()),
                                     static_cast<unsigned>(e.File->Data.size()), HB_MEMORY_MODE_READONLY, nullptr,
                                     nullptr);
    e.Face = hb_face_create(blob, static_cast<unsigned>(font.FaceIndex));
    hb_blob_destroy(blob);
    hb_face_make_immutable(e.Face);
    hb_face_t* face = e.Face;
    Faces.emplace(key, std::move(e));
    return face;
  }

private:
  struct TEntry {
    std::shared_ptr<const TFontFile> File;  // keeps the bytes the blob points into
    hb_face_t* Face = nullptr;
  };
  std::mutex Mutex;
  std::map<std::pair<std::string, int>, TEntry> Faces;
};

THbFaces& HbFaces() {
  static THbFaces* faces = new THbFaces();  // never freed: faces may be in use at exit
  return *faces;
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsWeakScript(hb_script_t s) {
  return s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN;
}

struct TRun {
  std::size_t FirstCp = 0, EndCp = 0;  // code points
  FriBidiLevel Level = 0;
  hb_script_t Script = HB_SCRIPT_COMMON;
};

// The visual order of level runs (rule L2: from the highest level down to the
// lowest odd one, reverse every sequence of runs at that level or above).
std::vector<std::size_t> VisualRunOrder(const std::vector<TRun>& runs) {
  std::vector<std::size_t> order(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) order[i] = i;
  int maxLevel = 0, minOdd = INT_MAX;
  for (const TRun& r : runs) {
    maxLevel = std::max<int>(maxLevel, r.Level);
    if (r.Level % 2) minOdd = std::min<int>(minOdd, r.Level);
  }
  for (int level = maxLevel; level >= minOdd && level > 0; --level) {
    std::size_t i = 0;
    while (i < order.size()) {
      if (runs[order[i]].Level < level) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < order.size() && runs[order[j]].Level >= level) ++j;
      std::reverse(order.begin() + static_cast<std::ptrdiff_t>(i), order.begin() + static_cast<std::ptrdiff_t>(j));
      i = j;
    }
  }
  return order;
}

}  // namespace

bool ShapeText(const TRealFont& font, std::u16string_view text, bool reorder, TShapedText& out) {
  out = TShapedText();
  const std::size_t n = text.size();
  if (n > kMaxShapeUnits) return false;
  if (n == 0) return true;

  // Code points with their first unit; a lone surrogate stands for U+FFFD.
  std::u16string units(text);
  if (font.SymbolRemap)
    for (char16_t& c : units)
      if (c == u'L') c = 0x2639;
  std::vector<FriBidiChar> cps;
  std::vector<std::size_t> cpUnit;
  cps.reserve(n);
  cpUnit.reserve(n + 1);
  for (std::size_t i = 0; i < n; ++i) {
    cpUnit.push_back(i);
    char16_t c = units[i];
    if (IsHigh(c) && i + 1 < n && IsLow(units[i + 1])) {
      cps.push_back(0x10000 + ((FriBidiChar(c) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else {
      cps.push_back(IsHigh(c) || IsLow(c) ? 0xFFFD : c);
    }
  }
  cpUnit.push_back(n);
  const std::size_t m = cps.size();
  const auto len = static_cast<FriBidiStrIndex>(m);

  std::vector<FriBidiCharType> types(m);
  fribidi_get_bidi_types(cps.data(), len, types.data());
  std::vector<FriBidiLevel> levels(m, 0);
  std::vector<FriBidiStrIndex> map(m);  // visual position -> logical code point
  for (std::size_t i = 0; i < m; ++i) map[i] = static_cast<FriBidiStrIndex>(i);
  if (reorder) {
    std::vector<FriBidiBracketType> brackets(m);
    fribidi_get_bracket_types(cps.data(), len, types.data(), brackets.data());
    FriBidiParType dir = FRIBIDI_PAR_LTR;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), len, &dir, levels.data()) == 0 ||
        fribidi_reorder_line(0, types.data(), len, 0, dir, levels.data(), nullptr, map.data()) == 0) {
      std::fill(levels.begin(), levels.end(), 0);
      for (std::size_t i = 0; i < m; ++i) map[i] = static_cast<FriBidiStrIndex>(i);
    }
  }

  // Per unit: level, class and visual position (a pair keeps its two units in order).
  out.Levels.resize(n);
  out.Classes.resize(n);
  out.Visual.resize(n);
  for (std::size_t k = 0; k < m; ++k) {
    bool digit = types[k] == FRIBIDI_TYPE_EN || types[k] == FRIBIDI_TYPE_AN;
    char cls = levels[k] % 2 ? (digit ? GCPCLASS_LOCALNUMBER : GCPCLASS_HEBREW)
                             : (digit ? GCPCLASS_LATINNUMBER : GCPCLASS_LATIN);
    for (std::size_t u = cpUnit[k]; u < cpUnit[k + 1]; ++u) {
      out.Levels[u] = levels[k];
      out.Classes[u] = cls;
    }
  }
  for (std::size_t v = 0, pos = 0; v < m; ++v) {
    std::size_t k = static_cast<std::size_t>(map[v]);
    for (std::size_t u = cpUnit[k]; u < cpUnit[k + 1]; ++u) out.Visual[u] = static_cast<int>(pos++);
  }

  // Runs of one level and one script; common and inherited characters join
  // the script before them (or after them at the start).
  hb_unicode_funcs_t* ufuncs = hb_unicode_funcs_get_default();
  std::vector<hb_script_t> scripts(m);
  hb_script_t last = HB_SCRIPT_INVALID;
  for (std::size_t k = 0; k < m; ++k) {
    hb_script_t s = hb_unicode_script(ufuncs, cps[k]);
    if (IsWeakScript(s)) {
      scripts[k] = last;
    } else {
      scripts[k] = last = s;
      for (std::size_t j = k; j > 0 && scripts[j - 1] == HB_SCRIPT_INVALID; --j) scripts[j - 1] = s;
    }
  }
  for (hb_script_t& s : scripts)
    if (s == HB_SCRIPT_INVALID) s = HB_SCRIPT_COMMON;
  std::vector<TRun> runs;
  for (std::size_t k = 0; k < m; ++k) {
    if (runs.empty() || runs.back().Level != levels[k] || runs.back().Script != scripts[k])
      runs.push_back(TRun{k, k, levels[k], scripts[k]});
    runs.back().EndCp = k + 1;
  }

  hb_face_t* face = HbFaces().Get(font);
  hb_font_t* hbFont = face ? hb_font_create(face) : nullptr;
  if (hbFont) hb_font_set_scale(hbFont, font.Ppem * 64, font.Ppem * 64);
  static const hb_feature_t kFeatures[] = {
      {HB_TAG('k', 'e', 'r', 'n'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END},
      {HB_TAG('l', 'i', 'g', 'a'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END},
      {HB_TAG('c', 'l', 'i', 'g'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END},
  };
  hb_buffer_t* buf = hb_buffer_create();
  out.FirstGlyph.assign(n, -1);
  out.LastGlyph.assign(n, -1);
  std::vector<std::uint8_t> clusterStart(n, 0);
  for (std::size_t r : VisualRunOrder(runs)) {
    const TRun& run = runs[r];
    const std::size_t u0 = cpUnit[run.FirstCp], u1 = cpUnit[run.EndCp];
    const std::size_t base = out.Glyphs.size();
    if (hbFont) {
      hb_buffer_clear_contents(buf);
      hb_buffer_add_utf16(buf, reinterpret_cast<const std::uint16_t*>(units.data()), static_cast<int>(n),
                          static_cast<unsigned>(u0), static_cast<int>(u1 - u0));
      hb_buffer_set_direction(buf, run.Level % 2 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
      hb_buffer_set_script(buf, run.Script);  // no language: results must not follow the locale
      hb_shape(hbFont, buf, kFeatures, sizeof kFeatures / sizeof kFeatures[0]);
      unsigned count = 0;
      const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &count);
      const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf, &count);
      for (unsigned g = 0; g < count; ++g) {
        std::size_t c = std::clamp<std::size_t>(info[g].cluster, u0, u1 - 1);
        out.Glyphs.push_back(info[g].codepoint);
        out.Dx.push_back(pos[g].x_advance == 0 ? 0 : AdvancePx(font, info[g].codepoint));
        out.GlyphChar.push_back(static_cast<int>(c));
        clusterStart[c] = 1;
      }
    } else {
      // No shaper face: one cmap glyph per code point, in visual order.
      for (std::size_t k = run.FirstCp; k < run.EndCp; ++k) {
        std::size_t kk = run.Level % 2 ? run.EndCp - 1 - (k - run.FirstCp) : k;
        unsigned g = GlyphOfChar(font, cps[kk]);
        out.Glyphs.push_back(g);
        out.Dx.push_back(AdvancePx(font, g));
        out.GlyphChar.push_back(static_cast<int>(cpUnit[kk]));
        clusterStart[cpUnit[kk]] = 1;
      }
    }
    // Each unit belongs to the cluster that starts at or before it in its run.
    for (std::size_t g = base; g < out.Glyphs.size(); ++g) {
      auto c = static_cast<std::size_t>(out.GlyphChar[g]);
      int gi = static_cast<int>(g);
      if (out.FirstGlyph[c] < 0 || gi < out.FirstGlyph[c]) out.FirstGlyph[c] = gi;
      out.LastGlyph[c] = std::max(out.LastGlyph[c], gi);
    }
    // A run without glyphs (never from HarfBuzz) gets empty clusters.
    int first = static_cast<int>(base), lastG = static_cast<int>(base) - 1;
    for (std::size_t u = u0; u < u1; ++u) {
      if (clusterStart[u] && out.FirstGlyph[u] >= 0) {
        first = out.FirstGlyph[u];
        lastG = out.LastGlyph[u];
      }
      out.FirstGlyph[u] = first;
      out.LastGlyph[u] = lastG;
    }
  }
  hb_buffer_destroy(buf);
  if (hbFont) hb_font_destroy(hbFont);
  long long width = 0;
  for (int d : out.Dx) width += d;
  out.Width = static_cast<int>(std::min<long long>(width, INT_MAX));
  return true;
}

bool ShapeLine(const TRealFont& font, const char16_t* text, int count, std::vector<unsigned>& glyphs,
                 std::vector<int>& dx) {
  glyphs.clear();
  dx.clear();
  if (count < 0 || (count > 0 && !text)) return false;
  TShapedText s;
  if (!ShapeText(font, std::u16string_view(text, static_cast<std::size_t>(count)), true, s)) return false;
  glyphs.assign(s.Glyphs.begin(), s.Glyphs.end());
  dx = std::move(s.Dx);
  return true;
}

}  // namespace gdi

DWORD GetCharacterPlacementW(HDC hdc, const char16_t* text, int count, int maxExtent, GCP_RESULTSW* results,
                             DWORD flags) {
  if (!text || count <= 0 || static_cast<std::size_t>(count) > gdi::kMaxShapeUnits) return 0;
  gdi::TRealFontPtr font = gdi::RealiseDcFont(hdc);
  if (!font) return 0;
  gdi::TShapedText s;
  if (!gdi::ShapeText(*font, std::u16string_view(text, static_cast<std::size_t>(count)), (flags & GCP_REORDER) != 0,
                      s))
    return 0;
  const auto n = static_cast<std::size_t>(count);
  const std::size_t glyphs = s.Glyphs.size();
  if (results) {
    const bool glyphMode = results->lpGlyphs != nullptr;
    if (glyphMode && results->nGlyphs < glyphs) return 0;
    std::vector<int> penX(glyphs + 1, 0);
    for (std::size_t g = 0; g < glyphs; ++g) penX[g + 1] = penX[g] + s.Dx[g];
    std::vector<std::size_t> visualToUnit(n);
    for (std::size_t u = 0; u < n; ++u) visualToUnit[static_cast<std::size_t>(s.Visual[u])] = u;
    auto clusterWidth = [&](std::size_t u) {
      return s.FirstGlyph[u] < 0 || s.LastGlyph[u] < s.FirstGlyph[u]
                 ? 0
                 : penX[static_cast<std::size_t>(s.LastGlyph[u]) + 1] - penX[static_cast<std::size_t>(s.FirstGlyph[u])];
    };
    // A unit that starts its cluster carries the cluster's width; the rest carry 0.
    auto ownWidth = [&](std::size_t u) {
      return u > 0 && s.FirstGlyph[u] == s.FirstGlyph[u - 1] ? 0 : clusterWidth(u);
    };
    if (results->lpOutString)
      for (std::size_t v = 0; v < n; ++v) results->lpOutString[v] = text[visualToUnit[v]];
    if (results->lpOrder)
      for (std::size_t u = 0; u < n; ++u)
        results->lpOrder[u] = static_cast<UINT>(glyphMode ? std::max(s.FirstGlyph[u], 0) : s.Visual[u]);
    if (results->lpDx) {
      if (glyphMode)
        for (std::size_t g = 0; g < glyphs; ++g) results->lpDx[g] = s.Dx[g];
      else
        for (std::size_t v = 0; v < n; ++v) results->lpDx[v] = ownWidth(visualToUnit[v]);
    }
    if (results->lpCaretPos)
      for (std::size_t u = 0; u < n; ++u) {
        auto g = static_cast<std::size_t>(std::clamp<int>(s.FirstGlyph[u], 0, static_cast<int>(glyphs)));
        results->lpCaretPos[u] = penX[g] + (s.Levels[u] % 2 ? clusterWidth(u) : 0);
      }
    if (results->lpClass)
      for (std::size_t u = 0; u < n; ++u) results->lpClass[u] = s.Classes[u];
    if (glyphMode)
      for (std::size_t g = 0; g < glyphs; ++g)
        results->lpGlyphs[g] = static_cast<char16_t>(std::min<std::uint32_t>(s.Glyphs[g], 0xFFFF));
    results->nGlyphs = static_cast<UINT>(glyphMode ? glyphs : n);
    results->nMaxFit = count;
    if (flags & GCP_MAXEXTENT) {
      long long sum = 0;
      int fit = 0;
      for (std::size_t u = 0; u < n; ++u) {
        sum += ownWidth(u);
        if (sum > maxExtent) break;
        fit = static_cast<int>(u + 1);
      }
      results->nMaxFit = fit;
    }
  }
  const int width = std::min(s.Width, 0xFFFF);
  return static_cast<DWORD>(width) | static_cast<DWORD>(font->Metrics.tmHeight & 0xFFFF) << 16;
}

DWORD GetGlyphIndicesW(HDC hdc, const char16_t* text, int count, WORD* glyphs, DWORD flags) {
  if (!text || !glyphs || count < 0 || (flags & ~GGI_MARK_NONEXISTING_GLYPHS) != 0) return GDI_ERROR;
  gdi::TRealFontPtr font = gdi::RealiseDcFont(hdc);
  if (!font) return GDI_ERROR;
  const WORD missing = (flags & GGI_MARK_NONEXISTING_GLYPHS) ? 0xFFFF : 0;
  for (int i = 0; i < count; ++i) {
    char16_t c = text[i];
    unsigned g = c >= 0xD800 && c <= 0xDFFF ? 0 : gdi::GlyphOfChar(*font, c);
    glyphs[i] = g == 0 || g > 0xFFFF ? missing : static_cast<WORD>(g);
  }
  return static_cast<DWORD>(count);
}

bool HasGlyph(HDC hdc, std::uint32_t code) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  gdi::TRealFontPtr font = gdi::RealiseDcFont(hdc);
  return font && gdi::GlyphOfChar(*font, code) != 0;
}

}  // namespace plat
