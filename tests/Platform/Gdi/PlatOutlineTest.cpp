#include "Platform/Gdi/PlatOutline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "Platform/Gdi/PlatFontInternal.h"
#include "tests/Platform/Gdi/FontDcKit.h"
#include "Platform/Gdi/PlatShape.h"

using namespace plat;

namespace {

using plattest::TFontDc;

constexpr MAT2 kFlipY{FixedFromInt(1), FixedFromInt(0), FixedFromInt(0), FixedFromInt(-1)};
constexpr MAT2 kIdentity{FixedFromInt(1), FixedFromInt(0), FixedFromInt(0), FixedFromInt(1)};

struct TPoint {
  double X, Y;
  bool operator==(const TPoint&) const = default;
};
TPoint Pt(const POINTFX& p) { return TPoint{FixedToDouble(p.x), FixedToDouble(p.y)}; }

struct TContour {
  TPoint Start;
  std::vector<WORD> Types;  // per record
  std::vector<TPoint> Points;
  TPoint End;               // the last point of the last record
};

// The two calls the vectoriser makes, then a strict walk of the records:
// every size must add up exactly.
std::vector<TContour> Outline(HDC dc, UINT glyph, const MAT2& m, GLYPHMETRICS* gm = nullptr) {
  GLYPHMETRICS local;
  DWORD size = GetGlyphOutlineW(dc, glyph, GGO_NATIVE | GGO_GLYPH_INDEX, gm ? gm : &local, 0, nullptr, &m);
  EXPECT_NE(size, GDI_ERROR);
  if (size == GDI_ERROR || size == 0) return {};
  std::vector<std::uint8_t> buf(size);
  EXPECT_EQ(GetGlyphOutlineW(dc, glyph, GGO_NATIVE | GGO_GLYPH_INDEX, &local, size, buf.data(), &m), size);
  std::vector<TContour> out;
  std::size_t at = 0;
  while (at < size) {
    TTPOLYGONHEADER h;
    EXPECT_GE(size - at, sizeof h);
    if (size - at < sizeof h) break;
    std::memcpy(&h, buf.data() + at, sizeof h);
    EXPECT_EQ(h.dwType, TT_POLYGON_TYPE);
    EXPECT_LE(h.cb, size - at);
    if (h.cb > size - at || h.cb < sizeof h) break;
    TContour c;
    c.Start = c.End = Pt(h.pfxStart);
    std::size_t rec = at + sizeof h;
    while (rec < at + h.cb) {
      WORD head[2];
      std::memcpy(head, buf.data() + rec, 4);
      const std::size_t bytes = (head[1] - 1u) * 8 + 12;
      EXPECT_GE(head[1], 1);
      EXPECT_TRUE(head[0] >= TT_PRIM_LINE && head[0] <= TT_PRIM_CSPLINE);
      if (head[0] == TT_PRIM_CSPLINE) {
        EXPECT_EQ(head[1] % 3, 0);
      }
      EXPECT_LE(rec + bytes, at + h.cb);
      if (head[1] < 1 || rec + bytes > at + h.cb) return out;
      c.Types.push_back(head[0]);
      for (WORD i = 0; i < head[1]; ++i) {
        POINTFX p;
        std::memcpy(&p, buf.data() + rec + 4 + i * 8u, 8);
        c.Points.push_back(Pt(p));
      }
      c.End = c.Points.back();
      rec += bytes;
    }
    EXPECT_EQ(rec, at + h.cb);
    out.push_back(c);
    at += h.cb;
  }
  return out;
}

std::size_t PointCount(const std::vector<TContour>& contours) {
  std::size_t n = 0;
  for (const TContour& c : contours) n += c.Points.size();
  return n;
}

class OutlineTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gdi::UseTestFonts()); }
};

TEST_F(OutlineTest, GlyphsGiveTheirContoursAndPointsClosedAtTheStart) {
  TFontDc dc(u"Liberation Sans", 64);
  // Liberation Sans 2.1.5 (glyph, contours, points): every point appears once
  // in the records, the start once more as the closing point.
  struct {
    UINT Glyph;
    std::size_t Contours, Points;
  } const glyphs[] = {{50, 2, 27} /* O */, {55, 1, 8} /* T */, {68, 2, 49} /* a */, {76, 2, 8} /* i */};
  for (const auto& g : glyphs) {
    SCOPED_TRACE(g.Glyph);
    std::vector<TContour> c = Outline(dc.Dc, g.Glyph, kFlipY);
    ASSERT_EQ(c.size(), g.Contours);
    EXPECT_EQ(PointCount(c), g.Points);
    for (const TContour& k : c) EXPECT_EQ(k.End, k.Start);
  }
  // Subscript zero: its inner contour has no on-curve point, so it starts at
  // the midpoint of its last and first points and takes one more point.
  std::vector<TContour> zero = Outline(dc.Dc, 2061, kFlipY);
  ASSERT_EQ(zero.size(), 2u);
  EXPECT_EQ(PointCount(zero), 18u + 1);
  EXPECT_EQ(zero[1].Types, std::vector<WORD>{TT_PRIM_QSPLINE});
  EXPECT_EQ(zero[1].End, zero[1].Start);
  const std::vector<TPoint>& q = zero[1].Points;
  EXPECT_NEAR(zero[1].Start.X, (q.front().X + q[q.size() - 2].X) / 2, 1 / 64.0);
  EXPECT_NEAR(zero[1].Start.Y, (q.front().Y + q[q.size() - 2].Y) / 2, 1 / 64.0);
}

TEST_F(OutlineTest, EveryGlyphOfAFontGivesWellFormedRecords) {
  // Composites, contours without on-curve points, marks and blanks alike.
  TFontDc dc(u"DejaVu Sans", 20);
  UINT glyph = 0;
  for (; !HasFailure(); ++glyph) {
    GLYPHMETRICS gm;
    if (GetGlyphOutlineW(dc.Dc, glyph, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, 0, nullptr, &kFlipY) == GDI_ERROR) break;
    for (const TContour& c : Outline(dc.Dc, glyph, kFlipY)) {
      EXPECT_FALSE(c.Points.empty()) << glyph;
      EXPECT_EQ(c.End, c.Start) << glyph;
    }
  }
  EXPECT_EQ(glyph, 6253u);  // the font's glyph count: the first index past it fails
}

TEST_F(OutlineTest, MatrixAndMetricsPlaceTheGlyph) {
  TFontDc dc(u"Liberation Sans", 64);
  WORD t = 0;
  ASSERT_EQ(GetGlyphIndicesW(dc.Dc, u"T", 1, &t, 0), 1u);
  GLYPHMETRICS down, up;
  std::vector<TContour> flipped = Outline(dc.Dc, t, kFlipY, &down);
  std::vector<TContour> upright = Outline(dc.Dc, t, kIdentity, &up);
  ASSERT_EQ(flipped.size(), 1u);
  ASSERT_EQ(upright.size(), 1u);
  double minY = 0, maxY = 0;
  for (const TPoint& p : flipped[0].Points) minY = std::min(minY, p.Y), maxY = std::max(maxY, p.Y);
  EXPECT_LT(minY, -40);  // the cap height of 'T' at 64 px, above the baseline = negative y
  EXPECT_LE(maxY, 0.5);
  for (std::size_t i = 0; i < upright[0].Points.size(); ++i)
    EXPECT_EQ(upright[0].Points[i].Y, -flipped[0].Points[i].Y);
  EXPECT_EQ(up.gmptGlyphOrigin.y, static_cast<int>(std::ceil(-minY)));
  ABC abc;
  ASSERT_TRUE(GetCharABCWidthsI(dc.Dc, t, 1, nullptr, &abc));
  EXPECT_EQ(up.gmCellIncX, abc.abcA + static_cast<int>(abc.abcB) + abc.abcC);
  EXPECT_EQ(up.gmBlackBoxX, abc.abcB);
  GLYPHMETRICS only;
  EXPECT_EQ(GetGlyphOutlineW(dc.Dc, u'T', GGO_METRICS, &only, 0, nullptr, &kIdentity), 0u);
  EXPECT_EQ(only.gmCellIncX, up.gmCellIncX);
}

TEST_F(OutlineTest, BlanksBadGlyphsAndBadCallsFailCleanly) {
  TFontDc dc(u"Liberation Sans", 32);
  GLYPHMETRICS gm;
  EXPECT_EQ(GetGlyphOutlineW(dc.Dc, 3 /* space */, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, 0, nullptr, &kFlipY), 0u);
  EXPECT_EQ(gm.gmBlackBoxX, 1u);
  EXPECT_GT(gm.gmCellIncX, 0);

  for (UINT bad : {2620u, 0xFFFFu, 0x7FFFFFFFu})
    EXPECT_EQ(GetGlyphOutlineW(dc.Dc, bad, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, 0, nullptr, &kFlipY), GDI_ERROR)
        << bad;
  const DWORD size = GetGlyphOutlineW(dc.Dc, 50, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, 0, nullptr, &kFlipY);
  ASSERT_NE(size, GDI_ERROR);
  std::vector<std::uint8_t> buf(size, 0xAB);
  EXPECT_EQ(GetGlyphOutlineW(dc.Dc, 50, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, size - 1, buf.data(), &kFlipY),
            GDI_ERROR);
  EXPECT_EQ(buf, std::vector<std::uint8_t>(size, 0xAB));
  EXPECT_EQ(GetGlyphOutlineW(dc.Dc, 50, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, 0, nullptr, nullptr), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineW(dc.Dc, 50, GGO_BITMAP | GGO_GLYPH_INDEX, &gm, 0, nullptr, &kFlipY), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineW(dc.Dc, 50, GGO_METRICS | GGO_GLYPH_INDEX, nullptr, 0, nullptr, &kFlipY), GDI_ERROR);
  EXPECT_EQ(GetGlyphOutlineW(nullptr, 50, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, 0, nullptr, &kFlipY), GDI_ERROR);
  // A huge matrix saturates instead of overflowing.
  const MAT2 huge{FIXED{0, 32000}, FixedFromInt(0), FixedFromInt(0), FIXED{0, -32000}};
  EXPECT_NE(GetGlyphOutlineW(dc.Dc, 50, GGO_NATIVE | GGO_GLYPH_INDEX, &gm, 0, nullptr, &huge), GDI_ERROR);
}

}  // namespace
