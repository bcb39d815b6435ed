#include "Platform/Gdi/PlatShape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Gdi/PlatFontInternal.h"
#include "tests/Platform/Gdi/FontDcKit.h"

using namespace plat;

namespace {

using plattest::TFontDc;

// Every array of one placement call, with room for count * 3 / 2 + 16 glyphs
// (what the text code gives); glyph arrays only when asked for.
struct TPlacement {
  std::vector<UINT> Order;
  std::vector<int> Dx;
  std::vector<char> Class;
  std::vector<char16_t> Glyphs, Out;
  GCP_RESULTSW R;
  DWORD Result = 0;
  TPlacement(HDC dc, std::u16string_view text, DWORD flags, bool glyphs = true) {
    const std::size_t n = text.size(), room = n * 3 / 2 + 16;
    Order.assign(n, 0xDEAD);
    Dx.assign(room, -1);
    Class.assign(n, 0);
    Out.assign(n, 0);
    Glyphs.assign(room, 0);
    R.lpOrder = Order.data();
    R.lpDx = Dx.data();
    R.lpClass = Class.data();
    R.lpOutString = Out.data();
    R.lpGlyphs = glyphs ? Glyphs.data() : nullptr;
    R.nGlyphs = static_cast<UINT>(room);
    Result = GetCharacterPlacementW(dc, text.data(), static_cast<int>(n), 0, &R, flags);
  }
  int Width() const { return static_cast<int>(Result & 0xFFFF); }
};

constexpr DWORD kWholeText = 0x80132;  // REORDER, GLYPHSHAPE, LIGATE, DIACRITIC, CLASSIN
constexpr DWORD kCoverage = 0x8112;    // REORDER, GLYPHSHAPE, DIACRITIC, ERROR

WORD CmapGlyph(HDC dc, char16_t c) {
  WORD g = 0;
  GetGlyphIndicesW(dc, &c, 1, &g, GGI_MARK_NONEXISTING_GLYPHS);
  return g;
}

class ShapeTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gdi::UseTestFonts()); }
};

TEST_F(ShapeTest, MixedDirectionsGetVisualOrderAndRightToLeftRuns) {
  TFontDc dc(u"DejaVu Sans", 16);
  const std::u16string text = u"abc \u05D0\u05D1\u05D2 def";

  // Order alone is the visual position: the Hebrew word is reversed in place,
  // so a cut at order jumps above 1 isolates it.
  TPlacement visual(dc.Dc, text, GCP_REORDER, false);
  ASSERT_NE(visual.Result, 0u);
  EXPECT_EQ(visual.Order, (std::vector<UINT>{0, 1, 2, 3, 6, 5, 4, 7, 8, 9, 10}));
  EXPECT_EQ(std::u16string(visual.Out.begin(), visual.Out.end()), u"abc \u05D2\u05D1\u05D0 def");
  TPlacement logical(dc.Dc, text, 0, false);
  EXPECT_EQ(logical.Order, (std::vector<UINT>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

  // With glyphs: one glyph per character, order names the glyph, classes are
  // resolved (the blanks between Latin words are Latin), dx adds up.
  TPlacement p(dc.Dc, text, kWholeText);
  ASSERT_NE(p.Result, 0u);
  ASSERT_EQ(p.R.nGlyphs, 11u);
  EXPECT_EQ(p.Order, visual.Order);
  EXPECT_EQ(p.Class, (std::vector<char>{1, 1, 1, 1, 2, 2, 2, 1, 1, 1, 1}));
  for (std::size_t i = 0; i < text.size(); ++i) EXPECT_EQ(p.Glyphs[p.Order[i]], CmapGlyph(dc.Dc, text[i])) << i;
  EXPECT_EQ(std::accumulate(p.Dx.begin(), p.Dx.begin() + 11, 0), p.Width());
  SIZE extent;
  ASSERT_TRUE(GetTextExtentPoint32W(dc.Dc, text.data(), static_cast<int>(text.size()), &extent));
  EXPECT_EQ(extent.cx, p.Width());
  TEXTMETRICW tm;
  ASSERT_TRUE(GetTextMetricsW(dc.Dc, &tm));
  EXPECT_EQ(static_cast<LONG>(p.Result >> 16), tm.tmHeight);

  // An Arabic word after Latin text is one right-to-left run at the end.
  TPlacement a(dc.Dc, u"ab \u0633\u0644\u0627\u0645", kWholeText);
  ASSERT_NE(a.Result, 0u);
  EXPECT_EQ(a.Class[3], 2);
  EXPECT_EQ(a.Order[0], 0u);
  EXPECT_GT(a.Order[3], a.Order[4]);  // the first Arabic letter is drawn right of the next
  EXPECT_GE(a.Order[3], 3u);
}

TEST_F(ShapeTest, ArabicJoiningChangesGlyphsAndLigaturesShareOneCluster) {
  TFontDc dc(u"DejaVu Sans", 16);
  // Initial, medial and final beh: three glyphs, none the isolated one of the cmap.
  TPlacement beh(dc.Dc, u"\u0628\u0628\u0628", kWholeText);
  ASSERT_NE(beh.Result, 0u);
  ASSERT_EQ(beh.R.nGlyphs, 3u);
  EXPECT_EQ(beh.Order, (std::vector<UINT>{2, 1, 0}));
  const WORD isolated = CmapGlyph(dc.Dc, u'\u0628');
  for (int g = 0; g < 3; ++g) EXPECT_NE(beh.Glyphs[g], isolated) << g;
  EXPECT_NE(beh.Glyphs[0], beh.Glyphs[1]);
  EXPECT_NE(beh.Glyphs[1], beh.Glyphs[2]);

  // Lam + alef is one required ligature: both characters name the same glyph.
  TPlacement lamAlef(dc.Dc, u"\u0644\u0627", kWholeText);
  ASSERT_NE(lamAlef.Result, 0u);
  EXPECT_EQ(lamAlef.R.nGlyphs, 1u);
  EXPECT_EQ(lamAlef.Order, (std::vector<UINT>{0, 0}));
}

TEST_F(ShapeTest, LatinStaysOneGlyphPerCharacterAndMarksJoinTheirBase) {
  TFontDc dc(u"Liberation Sans", 20);
  TPlacement fi(dc.Dc, u"fi", kWholeText);
  ASSERT_EQ(fi.R.nGlyphs, 2u);  // no "fi" ligature
  EXPECT_EQ(fi.Glyphs[0], CmapGlyph(dc.Dc, u'f'));

  TPlacement mark(dc.Dc, u"e\u0301x", kWholeText);
  ASSERT_NE(mark.Result, 0u);
  EXPECT_EQ(mark.Order[0], mark.Order[1]);
  EXPECT_EQ(mark.Order[2], mark.R.nGlyphs - 1);
  EXPECT_EQ(mark.Glyphs[mark.Order[2]], CmapGlyph(dc.Dc, u'x'));

  // A pair the font lacks is one missing glyph for both units.
  TPlacement emoji(dc.Dc, u"\U0001F600", kCoverage);
  ASSERT_EQ(emoji.R.nGlyphs, 1u);
  EXPECT_EQ(emoji.Order, (std::vector<UINT>{0, 0}));
  EXPECT_EQ(emoji.Glyphs[0], 0);

  // A leading override gets order 0 and one zero-width glyph; the rest runs
  // right to left.
  TPlacement rlo(dc.Dc, u"\u202Eabc", kWholeText);
  ASSERT_EQ(rlo.R.nGlyphs, 4u);
  EXPECT_EQ(rlo.Order, (std::vector<UINT>{0, 3, 2, 1}));
  EXPECT_EQ(rlo.Dx[0], 0);
  EXPECT_EQ(rlo.Glyphs[1], CmapGlyph(dc.Dc, u'c'));
  EXPECT_EQ(rlo.Class[1], 2);
}

TEST_F(ShapeTest, MissingCharactersAndTooLittleRoom) {
  TFontDc dc(u"Liberation Sans", 20);
  // A CJK character the font lacks: the missing glyph 0 when shaped, 0xFFFF
  // or 0 from the cmap, and the same glyph as the font's default character.
  TPlacement cjk(dc.Dc, u"a\u4E2D", kCoverage);
  ASSERT_NE(cjk.Result, 0u);
  EXPECT_EQ(cjk.Glyphs[cjk.Order[1]], 0);
  WORD g[2] = {};
  EXPECT_EQ(GetGlyphIndicesW(dc.Dc, u"a\u4E2D", 2, g, GGI_MARK_NONEXISTING_GLYPHS), 2u);
  EXPECT_EQ(g[1], 0xFFFF);
  EXPECT_EQ(GetGlyphIndicesW(dc.Dc, u"a\u4E2D", 2, g, 0), 2u);
  EXPECT_EQ(g[1], 0);
  TEXTMETRICW tm;
  ASSERT_TRUE(GetTextMetricsW(dc.Dc, &tm));
  TPlacement def(dc.Dc, std::u16string(1, tm.tmDefaultChar), GCP_GLYPHSHAPE);
  ASSERT_NE(def.Result, 0u);
  EXPECT_EQ(def.Glyphs[0], 0);

  // Room for fewer glyphs than the text needs: failure, nothing written.
  std::vector<char16_t> glyphs(8, 0xBEEF);
  std::vector<UINT> order(6, 77);
  GCP_RESULTSW r;
  r.lpGlyphs = glyphs.data();
  r.lpOrder = order.data();
  r.nGlyphs = 5;
  EXPECT_EQ(GetCharacterPlacementW(dc.Dc, u"abcdef", 6, 0, &r, kWholeText), 0u);
  EXPECT_EQ(glyphs, std::vector<char16_t>(8, 0xBEEF));
  EXPECT_EQ(order, std::vector<UINT>(6, 77));
}

TEST_F(ShapeTest, DamagedTextAndBadArgumentsGiveClearResults) {
  TFontDc dc(u"DejaVu Sans", 16);
  const std::u16string texts[] = {
      std::u16string(1, char16_t(0xD800)),                       // lone high surrogate
      std::u16string{char16_t(0xDC00), u'a'},                    // lone low surrogate first
      std::u16string{u'a', char16_t(0xD800), char16_t(0xD800), u'b'},
      std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)},        // U+10FFFF, a valid pair
      std::u16string{u'\0', u'\a', char16_t(0xFFFF), char16_t(0xFEFF), u'\r', u'\n'},
      std::u16string(130, char16_t(0x202B)) + u"a\u05D0" + std::u16string(3, char16_t(0x202C)),  // too deep
      std::u16string{char16_t(0x0301), char16_t(0x0627), char16_t(0x0301)},  // a mark with no base
  };
  for (const std::u16string& t : texts) {
    SCOPED_TRACE(testing::PrintToString(std::vector<int>(t.begin(), t.end())));
    TPlacement p(dc.Dc, t, kWholeText);
    ASSERT_NE(p.Result, 0u);
    ASSERT_GE(p.R.nGlyphs, 1u);
    ASSERT_LE(p.R.nGlyphs, t.size() * 3 / 2 + 16);
    for (UINT o : p.Order) EXPECT_LT(o, p.R.nGlyphs);
    TPlacement v(dc.Dc, t, GCP_REORDER, false);
    std::vector<UINT> sorted = v.Order;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < sorted.size(); ++i) EXPECT_EQ(sorted[i], i);  // a permutation
  }
  // A surrogate on its own is no character of the cmap.
  WORD g[2] = {};
  const char16_t pair[] = {0xD83D, 0xDE00};
  EXPECT_EQ(GetGlyphIndicesW(dc.Dc, pair, 2, g, GGI_MARK_NONEXISTING_GLYPHS), 2u);
  EXPECT_EQ(g[0], 0xFFFF);
  EXPECT_EQ(g[1], 0xFFFF);

  GCP_RESULTSW r;
  EXPECT_EQ(GetCharacterPlacementW(dc.Dc, u"", 0, 0, &r, GCP_REORDER), 0u);
  EXPECT_EQ(GetCharacterPlacementW(dc.Dc, nullptr, 3, 0, &r, GCP_REORDER), 0u);
  EXPECT_EQ(GetCharacterPlacementW(dc.Dc, u"abc", -1, 0, &r, GCP_REORDER), 0u);
  EXPECT_EQ(GetCharacterPlacementW(nullptr, u"abc", 3, 0, &r, GCP_REORDER), 0u);
  EXPECT_EQ(GetCharacterPlacementW(reinterpret_cast<HDC>(dc.Font), u"abc", 3, 0, &r, GCP_REORDER), 0u);
  EXPECT_NE(GetCharacterPlacementW(dc.Dc, u"abc", 3, 0, nullptr, GCP_REORDER), 0u);  // width only
  EXPECT_EQ(GetGlyphIndicesW(dc.Dc, u"abc", 3, nullptr, 0), GDI_ERROR);
  EXPECT_EQ(GetGlyphIndicesW(dc.Dc, u"abc", 3, g, 0x8000), GDI_ERROR);
  EXPECT_EQ(GetGlyphIndicesW(nullptr, u"abc", 3, g, 0), GDI_ERROR);
}

TEST_F(ShapeTest, ThreadsShapingTheSameFontAgree) {
  const std::u16string text = u"Text \u05E9\u05DC\u05D5\u05DD \u0633\u0644\u0627\u0645 e\u0301 \u4E2D";
  std::vector<char16_t> expected;
  {
    TFontDc dc(u"DejaVu Sans", 18);
    TPlacement p(dc.Dc, text, kWholeText);
    ASSERT_NE(p.Result, 0u);
    expected.assign(p.Glyphs.begin(), p.Glyphs.begin() + p.R.nGlyphs);
  }
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      TFontDc dc(u"DejaVu Sans", 18);
      for (int i = 0; i < 40; ++i) {
        TPlacement p(dc.Dc, text, kWholeText);
        if (p.Result == 0 || std::vector<char16_t>(p.Glyphs.begin(), p.Glyphs.begin() + p.R.nGlyphs) != expected)
          ++mismatches[t];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace

// Whether a font has its own glyph, in any plane: what it lacks would draw
// as the one missing glyph.
TEST_F(ShapeTest, HasGlyphInAnyPlane) {
  TFontDc dc(u"DejaVu Sans", 12);
  for (std::uint32_t c : {0x41u, 0x5D0u, 0x1F600u}) EXPECT_TRUE(HasGlyph(dc.Dc, c)) << c;
  for (std::uint32_t c : {0x4E2Du, 0xE000u, 0xD800u, 0x110000u, 0xFFFFFFFFu}) EXPECT_FALSE(HasGlyph(dc.Dc, c)) << c;
  EXPECT_FALSE(HasGlyph(nullptr, 0x41));
}
