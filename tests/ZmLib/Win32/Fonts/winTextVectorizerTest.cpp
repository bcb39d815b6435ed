#include "ZmLib/Win32/Fonts/winTextVectorizer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatOutline.h"
#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/Fonts/winTextElement.h"

using namespace zm;

namespace {

TFontParams Font(const WideString& name, float size = 12, std::uint8_t style = 0) {
  return MakeFontParams(name, style, false, size, TColor24{}, TColor24{255, 255, 255});
}

// GGO_NATIVE records built by hand: Put appends raw values.
struct TRecords {
  std::vector<std::uint8_t> Bytes;
  template <class T>
  void Put(T v) {
    const std::size_t at = Bytes.size();
    Bytes.resize(at + sizeof v);
    std::memcpy(Bytes.data() + at, &v, sizeof v);
  }
  void Point(double x, double y) {
    auto fx = [](double v) {
      const double f = std::floor(v);
      return plat::FIXED{std::uint16_t((v - f) * 65536), std::int16_t(f)};
    };
    Put(plat::POINTFX{fx(x), fx(y)});
  }
  // A polygon header; its size is filled by End.
  std::size_t Begin(double x, double y, std::uint32_t type = plat::TT_POLYGON_TYPE) {
    const std::size_t at = Bytes.size();
    Put(std::uint32_t(0));
    Put(type);
    Point(x, y);
    return at;
  }
  void End(std::size_t header) {
    const std::uint32_t cb = std::uint32_t(Bytes.size() - header);
    std::memcpy(Bytes.data() + header, &cb, 4);
  }
  void Curve(std::uint16_t type, std::initializer_list<std::pair<double, double>> points) {
    Put(type);
    Put(std::uint16_t(points.size()));
    for (auto [x, y] : points) Point(x, y);
  }
};

TPathPoints Walk(const std::vector<std::uint8_t>& bytes, std::size_t size = std::size_t(-1)) {
  TPathPoints out;
  NativeOutlineToPath(bytes.data(), std::min(size, bytes.size()), out);
  return out;
}

// The ink of each glyph of a one-line text as the text producer paints it in
// Colour on a transparent ground: the alpha of the glyph's box, cut to the
// pixels it covers, and whether every painted pixel is of Colour.
struct TGlyphInk {
  std::int32_t Width = 0, Height = 0;
  std::vector<std::uint8_t> Alpha;
  bool InColour = true;
};

std::vector<TGlyphInk> GlyphInks(const TFontParams& font, const WideString& line, TColor32 colour) {
  TRef<TStringList> lines = MakeRef<TStringList>();
  lines->Add(line);
  TRef<TVectorText> text = CreateVectorText(font, *lines);
  if (!text) return {};
  TRef<TTextProducer> producer = MakeRef<TTextProducer>();
  producer->SetText(text.get(), false);
  std::vector<std::pair<TPartBox, TFloatPoint>> boxes;
  producer->OnPart = [&](std::int32_t, std::int32_t, const TPartBox& box, const TFloatPoint& origin) {
    boxes.emplace_back(box, origin);
  };
  TColor32 clear = colour;
  clear.A = 0;
  TRef<TDirectBitmap> b = producer->Render(colour, clear, 1.0);
  if (!b) return {};
  std::vector<std::uint32_t> row(std::size_t(b->Width()));
  std::vector<TGlyphInk> out;
  for (const auto& [box, origin] : boxes) {
    // The glyph's black box, a pixel wider each way for the edges' shading.
    const auto left = std::max<std::int32_t>(0, std::int32_t(std::floor(origin.X + box.A)) - 1);
    const auto right = std::min<std::int32_t>(b->Width(), std::int32_t(std::ceil(origin.X + box.A + box.B)) + 1);
    std::int32_t x0 = right, x1 = left, y0 = b->Height(), y1 = 0;
    std::vector<std::uint8_t> alpha(std::size_t(b->Width()) * std::size_t(b->Height()), 0);
    TGlyphInk ink;
    for (std::int32_t y = 0; y < b->Height(); ++y) {
      b->GetPixels32({row.data(), row.size()}, 0, 0, y, b->Width());
      for (std::int32_t x = left; x < right; ++x) {
        const std::uint32_t px = row[std::size_t(x)];
        if (!(px >> 24)) continue;
        ink.InColour = ink.InColour && (px & 0xFFFFFF) == (colour.Value() & 0xFFFFFF);
        alpha[std::size_t(y) * std::size_t(b->Width()) + std::size_t(x)] = std::uint8_t(px >> 24);
        x0 = std::min(x0, x), x1 = std::max(x1, x + 1), y0 = std::min(y0, y), y1 = std::max(y1, y + 1);
      }
    }
    if (x1 > x0 && y1 > y0) {
      ink.Width = x1 - x0;
      ink.Height = y1 - y0;
      for (std::int32_t y = y0; y < y1; ++y)
        for (std::int32_t x = x0; x < x1; ++x)
          ink.Alpha.push_back(alpha[std::size_t(y) * std::size_t(b->Width()) + std::size_t(x)]);
    }
    out.push_back(std::move(ink));
  }
  return out;
}

// Two inks are the same picture when their boxes match and their alphas
// differ by at most 2 % of the ink in all.
bool SameInk(const TGlyphInk& a, const TGlyphInk& b) {
  if (a.Width != b.Width || a.Height != b.Height) return false;
  std::int64_t diff = 0, total = 0;
  for (std::size_t i = 0; i < a.Alpha.size(); ++i) {
    diff += std::abs(int(a.Alpha[i]) - int(b.Alpha[i]));
    total += a.Alpha[i];
  }
  return diff * 50 <= total;
}

TTextPart PartOf(TVectorizer* v, const TFontParams& font, const WideString& text, std::int32_t index = 0) {
  TRef<TTextElementEx> e = v->CreateTextElement(font, text);
  TTextPart part;
  EXPECT_TRUE(e->GetPart(index, part));
  return part;
}

}  // namespace

TEST(WinVectorizer, FontKeys) {
  WideString name;
  std::uint8_t style = 99;
  ParseFontKey(u"Arial:Bold, Italic", name, style);
  EXPECT_EQ(name, u"Arial");
  EXPECT_EQ(style, fsBold | fsItalic);
  ParseFontKey(u"Segoe UI:\t Underline,StrikeOut:Bold", name, style);  // a third field is ignored
  EXPECT_EQ(name, u"Segoe UI");
  EXPECT_EQ(style, fsUnderline | fsStrikeOut);
  ParseFontKey(u"A:Italic,Italic,Italic,Italic,Bold", name, style);  // four words at most
  EXPECT_EQ(style, fsItalic);
  ParseFontKey(u"A:bold,Bold ,", name, style);  // words match exactly
  EXPECT_EQ(style, 0);
  ParseFontKey(u"Tahoma", name, style);
  EXPECT_EQ(name, u"Tahoma");
  EXPECT_EQ(style, 0);
  ParseFontKey(u":Bold", name, style);
  EXPECT_EQ(name, u"");
  EXPECT_EQ(style, fsBold);
}

TEST(WinVectorizer, NativeRecordsBecomePaths) {
  TRecords r;
  std::size_t h = r.Begin(0, 0);
  r.Curve(plat::TT_PRIM_QSPLINE, {{2, 0}, {4, 2}, {4, 4}});
  r.Curve(plat::TT_PRIM_LINE, {{0, 4}, {0, 0}});
  r.End(h);
  h = r.Begin(10, -0.5);
  r.Curve(plat::TT_PRIM_CSPLINE, {{11, 0}, {12, 1}, {13, 2}, {14, 3}});
  r.End(h);
  const TPathPoints p = Walk(r.Bytes);
  const TPathPoints want = {
      {0, 0, pcMove},     {2, 0, pcControl2},  {3, 1, pcLine},      {4, 2, pcControl2}, {4, 4, pcLine},
      {0, 4, pcLine},     {0, 0, pcLine},      {10, -0.5, pcMove},  {11, 0, pcControl3}, {12, 1, pcControl2},
      {13, 2, pcLine},    {14, 3, pcLine}};
  EXPECT_EQ(p, want);

  // A header of another type is refused; damaged sizes end the walk
  // without reading past the data.
  TRecords bad;
  bad.End(bad.Begin(1, 1, 25));
  EXPECT_ANY_THROW(Walk(bad.Bytes));
  for (std::size_t cut = 0; cut < r.Bytes.size(); ++cut) {
    const std::vector<std::uint8_t> head(r.Bytes.begin(), r.Bytes.begin() + std::ptrdiff_t(cut));
    const TPathPoints q = Walk(head);
    EXPECT_LE(q.size(), want.size()) << cut;
  }
  TRecords huge;
  h = huge.Begin(0, 0);
  huge.Curve(plat::TT_PRIM_LINE, {{1, 1}});
  huge.End(h);
  std::vector<std::uint8_t> b = huge.Bytes;
  b[0] = 0xFF;  // cb beyond the data
  EXPECT_TRUE(Walk(b).empty());
  b = huge.Bytes;
  b[0] = 4;  // cb shorter than a header
  EXPECT_TRUE(Walk(b).empty());
  b = huge.Bytes;
  b[18] = 0;  // a record of no points
  EXPECT_EQ(Walk(b).size(), 1u);
  b = huge.Bytes;
  b[18] = 0xFF;  // more points than the polygon holds
  EXPECT_EQ(Walk(b).size(), 1u);
  TPathPoints none;
  NativeOutlineToPath(nullptr, 100, none);
  EXPECT_TRUE(none.empty());
}

// An outline left of its black box moves right, one reaching past it is
// narrowed into it; fractions of a pixel stay apart (small sizes keep
// their curves). Points before From are another glyph's.
TEST(WinVectorizer, FitIntoTheBlackBoxKeepsFractions) {
  TPathPoints p = {{9, 9, pcMove}, {-1, 0, pcMove}, {-0.75f, 1, pcLine}, {-0.5f, 2, pcControl2}, {3.5f, 3, pcLine}};
  FitToBlackBox(p, 1, 1, 2);
  const float want[] = {9, 1, 1 + 0.25f / 2.25f, 1 + 0.5f / 2.25f, 3};
  for (std::size_t i = 0; i < p.size(); ++i) EXPECT_NEAR(p[i].X, want[i], 1e-5f) << i;
  EXPECT_EQ(p[3].Y, 2);
  // Within the box already: untouched; a single point or nothing at all: no division.
  TPathPoints inside = {{1.5f, 0, pcMove}, {2.25f, 1, pcLine}};
  FitToBlackBox(inside, 0, 1, 2);
  EXPECT_EQ(inside[1].X, 2.25f);
  TPathPoints one = {{5, 0, pcMove}};
  FitToBlackBox(one, 0, 0, 1);
  EXPECT_EQ(one[0].X, 5);
  FitToBlackBox(one, 3, 0, 1);
}

TEST(WinVectorizer, GlyphOutlines) {
  ASSERT_EQ(CreateVectorizerHook, &CreateWinVectorizer);
  TRef<TVectorizer> v = CreateVectorizerHook();
  ASSERT_TRUE(v);
  const TFontParams arial = Font(u"Arial", 12);
  TFontMetrics m;
  v->GetFontMetrics(arial, m);
  EXPECT_GT(m.Ascent, 0);
  EXPECT_GT(m.Descent, 0);
  EXPECT_LT(m.UnderlinePosition, 0);
  EXPECT_GT(m.StrikeOutPosition, 0);
  EXPECT_TRUE(v->IsOutlineFont(arial));

  // I is one closed contour of four sides, o two contours of curves, a blank nothing.
  TPathPoints pts;
  v->VectorizePart(PartOf(v.get(), arial, u"I"), pts);
  ASSERT_EQ(pts.size(), 5u);
  EXPECT_EQ(pts[0].Code, pcMove);
  EXPECT_EQ(pts[4].X, pts[0].X);
  EXPECT_EQ(pts[4].Y, pts[0].Y);
  pts.clear();
  v->VectorizePart(PartOf(v.get(), arial, u"o"), pts);
  std::size_t moves = 0, controls = 0;
  for (const TPathPoint& p : pts) {
    moves += p.Code == pcMove;
    controls += p.Code == pcControl2;
  }
  EXPECT_EQ(moves, 2u);
  EXPECT_GT(controls, 4u);
  pts.clear();
  v->VectorizePart(PartOf(v.get(), arial, u" "), pts);
  EXPECT_TRUE(pts.empty());

  // Every glyph of a mixed line lies within its black box and the font's height.
  const WideString line = u"Ag \u05E9 \u0645\u0631 \u4E2D \U0001F600";
  TRef<TTextElementEx> e = v->CreateTextElement(arial, line);
  ASSERT_GT(e->GetPartCount(), 8);
  for (std::int32_t i = 0; i < e->GetPartCount(); ++i) {
    TTextPart part;
    ASSERT_TRUE(e->GetPart(i, part));
    TPathPoints g;
    v->VectorizePart(part, g);
    for (const TPathPoint& p : g) {
      EXPECT_GE(p.X, float(part.A) - 1) << i;
      EXPECT_LE(p.X, float(part.A + part.B) + 1) << i;
      EXPECT_GE(p.Y, -float(part.Ascent) - 2) << i;
      EXPECT_LE(p.Y, float(part.Descent) + 2) << i;
    }
  }
  EXPECT_FALSE(static_cast<TWinTextElement*>(e.get())->OnFontRun);  // the check is gone again

  // Parts the vectoriser cannot use give nothing; huge sizes stay within the layer's range.
  TTextPart odd = PartOf(v.get(), arial, u"a");
  TTextPart p = odd;
  p.Size = 0;
  pts.clear();
  v->VectorizePart(p, pts);
  EXPECT_TRUE(pts.empty());
  p = odd;
  p.GlyphIndex = 0xFFFF;
  v->VectorizePart(p, pts);
  EXPECT_TRUE(pts.empty());
  p = odd;
  p.FontKey = WideString(40, u'x') + u":Bold";
  v->VectorizePart(p, pts);
  EXPECT_TRUE(pts.empty());
  p = odd;
  p.Size = 1 << 30;
  v->VectorizePart(p, pts);
  ASSERT_FALSE(pts.empty());
  for (const TPathPoint& q : pts) EXPECT_TRUE(std::isfinite(q.X) && std::abs(q.Y) < 32768.f);
}

TEST(WinVectorizer, TextProducerDrawsTheOutlines) {
  // The placeholder of a missing picture: two lines in the default font, grey on grey.
  TRef<TStringList> lines = MakeRef<TStringList>();
  lines->Add(u" Image not found ");
  lines->Add(u" holiday.jpg ");
  const TFontParams font = MakeFontParams(u"Tahoma", 0, false, 8.25f, TColor24{100, 100, 100}, TColor24{230, 230, 230});
  TRef<TVectorText> text = CreateVectorText(font, *lines);
  ASSERT_TRUE(text);
  ASSERT_EQ(text->LineCount(), 2);
  EXPECT_GT(text->GetPartCount(0), 10);
  TRef<TTextProducer> producer = MakeRef<TTextProducer>();
  producer->SetText(text.get(), false);
  TRef<TDirectBitmap> b = producer->Render(TColor32{100, 100, 100, 255}, TColor32{230, 230, 230, 255}, 1.0);
  ASSERT_TRUE(b);
  EXPECT_GT(b->Width(), 60);
  EXPECT_GT(b->Height(), 20);
  std::int32_t dark = 0;
  std::vector<std::uint32_t> row(std::size_t(b->Width()));
  for (std::int32_t y = 0; y < b->Height(); ++y) {
    b->GetPixels32({row.data(), row.size()}, 0, 0, y, b->Width());
    for (std::uint32_t px : row) dark += (px & 0xFF) < 180;
  }
  EXPECT_GT(dark, 100);  // the letters are there
}

// Emoji in a DejaVu Sans text, and a character no font has: 😀 is DejaVu
// Sans's own; 🎉 and 👍 come from the fallback list's emoji font, whose
// stand-in is an outline font (Symbola), at a size whose ascent stays within
// DejaVu Sans's; the last is the frowning face U+2639 that marks what no
// font covers. Each emoji is painted as its own glyph, in the text's colour.
TEST(WinVectorizer, EmojiAreDrawnAsTheirOwnGlyphs) {
  const TFontParams dejavu = Font(u"DejaVu Sans", 24);
  const WideString text = u"\U0001F389\U0001F44D\U0001F600\U0010FFFD";
  TRef<TWinTextElement> e = MakeRef<TWinTextElement>(dejavu, 0);
  e->SetText(text);
  const std::vector<TWinFontRun>& runs = e->Runs();
  ASSERT_EQ(runs.size(), 3u);
  const struct {
    std::int32_t Start, Count;
    const char16_t* Font;
    bool Found;
  } expected[] = {{0, 4, u"EmojiOne Color", true}, {4, 2, u"DejaVu Sans", true}, {6, 2, u"Wingdings", false}};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].Start, expected[i].Start) << i;
    EXPECT_EQ(runs[i].Count, expected[i].Count) << i;
    EXPECT_EQ(runs[i].Font.Name, expected[i].Font) << i;
    EXPECT_EQ(runs[i].Found, expected[i].Found) << i;
  }
  {
    TScreenFontDc dc(runs[0].Font);
    char16_t face[64] = {};
    ASSERT_TRUE(dc.Dc());
    ASSERT_GT(plat::GetTextFaceW(dc.Dc(), 64, face), 0);
    EXPECT_EQ(WideString(face), u"Symbola");
  }
  TRef<TWinFontUtils> utils = MakeRef<TWinFontUtils>();
  EXPECT_LE(utils->GetTextMetrics(runs[0].Font).Ascent, utils->GetTextMetrics(dejavu).Ascent);

  const TColor32 colour{40, 90, 200, 255};
  const std::vector<TGlyphInk> inks = GlyphInks(dejavu, text, colour);
  const std::vector<TGlyphInk> frown = GlyphInks(dejavu, u"\u2639", colour);
  ASSERT_EQ(inks.size(), 5u);  // the last pair's second half has a glyph without ink
  ASSERT_EQ(frown.size(), 1u);
  ASSERT_GT(frown[0].Width, 10);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_GT(inks[i].Width, 10) << i;
    EXPECT_GT(inks[i].Height, 10) << i;
    EXPECT_TRUE(inks[i].InColour) << i;
    EXPECT_FALSE(SameInk(inks[i], frown[0])) << i;
    for (std::size_t j = i + 1; j < 3; ++j) EXPECT_FALSE(SameInk(inks[i], inks[j])) << i << " " << j;
  }
  EXPECT_TRUE(SameInk(inks[3], frown[0]));
  EXPECT_EQ(inks[4].Width, 0);

}

TEST(WinVectorizer, ThreadsShareTheContext) {
  TRef<TVectorizer> v = CreateWinVectorizer();
  const TTextPart parts[] = {PartOf(v.get(), Font(u"Arial", 20), u"g"), PartOf(v.get(), Font(u"Arial", 9), u"\u4E2D"),
                             PartOf(v.get(), Font(u"Times New Roman", 30, fsBold), u"Q")};
  std::vector<TPathPoints> expected(3);
  for (int i = 0; i < 3; ++i) v->VectorizePart(parts[i], expected[std::size_t(i)]);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      for (int round = 0; round < 25; ++round) {
        const int i = (k + round) % 3;
        TPathPoints got;
        v->VectorizePart(parts[i], got);
        if (got != expected[std::size_t(i)]) ++wrong;
        TFontMetrics m;
        v->GetFontMetrics(Font(u"Arial", float(8 + i)), m);
        if (m.Ascent <= 0) ++wrong;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}
