#include "Platform/Gdi/PlatOutline.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "Platform/Gdi/PlatFontInternal.h"

namespace plat {
namespace {

// 26.6 to 16.16, kept within what a FIXED can hold.
FIXED ToFixed(FT_Pos v) {
  long long f = static_cast<long long>(v) * 1024;
  f = std::clamp<long long>(f, INT_MIN, INT_MAX);
  auto u = static_cast<std::uint32_t>(static_cast<std::int32_t>(f));
  return FIXED{static_cast<WORD>(u & 0xFFFF), static_cast<std::int16_t>(static_cast<std::uint16_t>(u >> 16))};
}

POINTFX ToPointFx(FT_Vector p) { return POINTFX{ToFixed(p.x), ToFixed(p.y)}; }

FT_Fixed ToFtFixed(FIXED f) {
  const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<std::uint16_t>(f.value)) << 16 | f.fract;
  return static_cast<FT_Fixed>(static_cast<std::int32_t>(bits));
}

enum class TTag { On, Conic, Cubic };

struct TPt {
  FT_Vector P;
  TTag Tag;
};

FT_Vector Mid(FT_Vector a, FT_Vector b) { return FT_Vector{(a.x + b.x) / 2, (a.y + b.y) / 2}; }

class TWriter {
public:
  void Header(FT_Vector start) {
    HeaderAt = Bytes.size();
    TTPOLYGONHEADER h;
    h.pfxStart = ToPointFx(start);
    Append(&h, sizeof h);
    CurveAt = SIZE_MAX;
  }
  // Points of one record; a record of the same type as the last one continues it.
  void Points(WORD type, const FT_Vector* pts, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (CurveAt == SIZE_MAX || CurveType != type) {
        CurveAt = Bytes.size();
        CurveType = type;
        WORD head[2] = {type, 0};
        Append(head, sizeof head);
      }
      POINTFX p = ToPointFx(pts[i]);
      Append(&p, sizeof p);
      WORD cpfx;
      std::memcpy(&cpfx, Bytes.data() + CurveAt + 2, 2);
      ++cpfx;
      std::memcpy(Bytes.data() + CurveAt + 2, &cpfx, 2);
    }
  }
  // Closes the record so that the next one starts afresh (a QSPLINE ends at its on-curve point).
  void EndRecord() { CurveAt = SIZE_MAX; }
  void EndPolygon() {
    auto cb = static_cast<DWORD>(Bytes.size() - HeaderAt);
    std::memcpy(Bytes.data() + HeaderAt, &cb, 4);
  }
  std::vector<std::uint8_t> Bytes;

private:
  void Append(const void* p, std::size_t n) {
    auto b = static_cast<const std::uint8_t*>(p);
    Bytes.insert(Bytes.end(), b, b + n);
  }
  std::size_t HeaderAt = 0, CurveAt = SIZE_MAX;
  WORD CurveType = 0;
};

// One contour: start on the curve, walk back to the start.
void WriteContour(TWriter& w, std::vector<TPt> pts) {
  if (pts.empty()) return;
  auto on = std::find_if(pts.begin(), pts.end(), [](const TPt& p) { return p.Tag == TTag::On; });
  if (on == pts.end()) {
    pts.insert(pts.begin(), TPt{Mid(pts.back().P, pts.front().P), TTag::On});
  } else {
    std::rotate(pts.begin(), on, pts.end());
  }
  pts.push_back(pts.front());  // the closing point
  w.Header(pts[0].P);
  std::size_t i = 1;
  while (i < pts.size()) {
    if (pts[i].Tag == TTag::On) {
      w.Points(TT_PRIM_LINE, &pts[i].P, 1);
      ++i;
    } else if (pts[i].Tag == TTag::Conic) {
      std::vector<FT_Vector> q;
      while (i < pts.size() && pts[i].Tag == TTag::Conic) q.push_back(pts[i++].P);
      // Ends on the next on-curve point, or on an implied one before a cubic point.
      if (pts[i].Tag == TTag::On) {
        q.push_back(pts[i++].P);
      } else {
        q.push_back(Mid(q.back(), pts[i].P));
      }
      w.EndRecord();
      w.Points(TT_PRIM_QSPLINE, q.data(), q.size());
      w.EndRecord();
    } else {
      // Two cubic controls and an end point; a broken group becomes a line.
      if (i + 2 < pts.size() && pts[i + 1].Tag == TTag::Cubic && pts[i + 2].Tag == TTag::On) {
        FT_Vector c[3] = {pts[i].P, pts[i + 1].P, pts[i + 2].P};
        w.Points(TT_PRIM_CSPLINE, c, 3);
        i += 3;
      } else {
        w.Points(TT_PRIM_LINE, &pts[i].P, 1);
        ++i;
      }
    }
  }
  w.EndRecord();
  w.EndPolygon();
}

std::vector<std::uint8_t> NativeOutline(const FT_Outline& o) {
  TWriter w;
  int first = 0;
  for (int c = 0; c < o.n_contours; ++c) {
    int last = o.contours[c];
    if (last < first || last >= o.n_points) break;
    std::vector<TPt> pts;
    for (int p = first; p <= last; ++p) {
      char tag = FT_CURVE_TAG(o.tags[p]);
      pts.push_back(TPt{o.points[p], tag == FT_CURVE_TAG_ON      ? TTag::On
                                     : tag == FT_CURVE_TAG_CONIC ? TTag::Conic
                                                                 : TTag::Cubic});
    }
    WriteContour(w, std::move(pts));
    first = last + 1;
  }
  return std::move(w.Bytes);
}

int RoundFix(long long v) { return static_cast<int>(std::clamp<long long>((v + 0x8000) >> 16, INT_MIN, INT_MAX)); }

}  // namespace

DWORD GetGlyphOutlineW(HDC hdc, UINT ch, UINT format, GLYPHMETRICS* metrics, DWORD size, void* buffer,
                       const MAT2* matrix) {
  const UINT kind = format & ~(GGO_GLYPH_INDEX | GGO_UNHINTED);
  if (!matrix || (kind != GGO_NATIVE && kind != GGO_METRICS) || (kind == GGO_METRICS && !metrics)) return GDI_ERROR;
  gdi::TRealFontPtr font = gdi::RealiseDcFont(hdc);
  if (!font || !font->Scalable) return GDI_ERROR;
  unsigned glyph = ch;
  if (!(format & GGO_GLYPH_INDEX)) {
    if (ch > 0xFFFF) return GDI_ERROR;
    glyph = gdi::GlyphOfChar(*font, static_cast<char32_t>(ch));
  }
  const int advance = gdi::AdvancePx(*font, glyph);

  std::vector<std::uint8_t> bytes;
  FT_BBox box{0, 0, 0, 0};
  bool blank = true;
  {
    auto lock = gdi::LockFace(*font);
    if (!font->Face || glyph >= static_cast<unsigned>(font->Face->num_glyphs)) return GDI_ERROR;
    if (!gdi::LoadStyledGlyph(*font, glyph, true)) return GDI_ERROR;
    FT_GlyphSlot slot = font->Face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return GDI_ERROR;
    FT_Outline& outline = slot->outline;
    FT_Matrix m;
    m.xx = ToFtFixed(matrix->eM11);
    m.xy = ToFtFixed(matrix->eM21);
    m.yx = ToFtFixed(matrix->eM12);
    m.yy = ToFtFixed(matrix->eM22);
    FT_Outline_Transform(&outline, &m);
    if (outline.n_points > 0) {
      blank = false;
      FT_Outline_Get_CBox(&outline, &box);
      if (kind == GGO_NATIVE) bytes = NativeOutline(outline);
    }
  }

  if (metrics) {
    GLYPHMETRICS gm;
    if (blank) {
      gm.gmBlackBoxX = gm.gmBlackBoxY = 1;
    } else {
      long left = static_cast<long>(std::floor(box.xMin / 64.0)), right = static_cast<long>(std::ceil(box.xMax / 64.0));
      long bottom = static_cast<long>(std::floor(box.yMin / 64.0)), top = static_cast<long>(std::ceil(box.yMax / 64.0));
      gm.gmBlackBoxX = static_cast<UINT>(std::max(1L, right - left));
      gm.gmBlackBoxY = static_cast<UINT>(std::max(1L, top - bottom));
      gm.gmptGlyphOrigin = POINT{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top)};
    }
    // The advance (advance, 0) through the matrix.
    auto inc = [&](FIXED f) {
      const int v = RoundFix(static_cast<long long>(advance) * ToFtFixed(f));
      return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
    };
    gm.gmCellIncX = inc(matrix->eM11);
    gm.gmCellIncY = inc(matrix->eM12);
    *metrics = gm;
  }
  if (kind == GGO_METRICS) return 0;
  const auto need = static_cast<DWORD>(bytes.size());
  if (size == 0 || !buffer) return need;
  if (size < need) return GDI_ERROR;
  std::memcpy(buffer, bytes.data(), need);
  return need;
}

}  // namespace plat
