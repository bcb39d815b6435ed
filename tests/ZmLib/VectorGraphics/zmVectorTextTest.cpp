#include "ZmLib/VectorGraphics/zmVectorText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/ZmLib/VectorGraphics/FakeVectorizer.h"

using namespace zm;
using zmtest::AlphaPicture;
using zmtest::TFakeTextElement;

namespace {

TRef<TStringList> Lines(std::initializer_list<const char16_t*> lines) {
  TRef<TStringList> l = MakeRef<TStringList>();
  for (const char16_t* s : lines) l->Add(s);
  return l;
}

TFontParams Font(std::uint8_t transparency = tmKeyed, std::uint8_t style = 0) {
  TFontParams f;
  f.Name = u"Test Sans";
  f.Size = 10;
  f.Style = style;
  f.Transparency = transparency;
  return f;
}

}  // namespace

// ---- Text elements -------------------------------------------------------------------

TEST(TextElement, FitCharsTakesTheWholeTextWithoutBreaks) {
  TRef<TFakeTextElement> e = MakeRef<TFakeTextElement>(Font(), u"abcd");
  int breaks = 0;
  TPrevBreakFunc prev = [&](TTextElement*, std::int32_t n, std::int32_t flags) {
    ++breaks;
    EXPECT_EQ(flags, 0);
    return n - 1;
  };
  EXPECT_EQ(e->FitChars(1, 40, prev), 4);
  EXPECT_EQ(breaks, 0);
  EXPECT_EQ(e->MeasureCalls, 0);
  EXPECT_EQ(e->FitChars(1, 25, prev), 2);
  EXPECT_EQ(breaks, 2);
  EXPECT_EQ(e->FitChars(9, 100, prev), 1);  // a start beyond the length is the last character
  // Word breaks: from 4 characters of "ab cd" straight back to 2.
  TRef<TFakeTextElement> w = MakeRef<TFakeTextElement>(Font(), u"ab cd");
  TPrevBreakFunc words = [](TTextElement*, std::int32_t n, std::int32_t) { return n > 2 ? 2 : 0; };
  EXPECT_EQ(w->FitChars(1, 30, words), 2);
  // A break function that gives no smaller count still ends.
  TPrevBreakFunc stuck = [](TTextElement*, std::int32_t n, std::int32_t) { return n + 5; };
  EXPECT_EQ(w->FitChars(1, 21, stuck), 2);
  EXPECT_EQ(w->FitChars(1, 21, nullptr), 2);
  EXPECT_EQ(MakeRef<TFakeTextElement>(Font(), u"")->FitChars(1, 100, prev), 0);
}

TEST(TextElement, RangeWidthsAreCachedAtBothEnds) {
  TRef<TFakeTextElement> e = MakeRef<TFakeTextElement>(Font(), u"abcdi");
  EXPECT_EQ(e->MeasureCached(1, 2), 20);
  EXPECT_EQ(e->MeasureCached(1, 2), 20);
  EXPECT_EQ(e->MeasureCalls, 1);  // the same prefix measured once
  EXPECT_EQ(e->MeasureCached(4, 2), 14);
  EXPECT_EQ(e->MeasureCached(4, 2), 14);
  EXPECT_EQ(e->MeasureCalls, 2);  // a suffix likewise
  EXPECT_EQ(e->MeasureCached(1, 5), 44);  // the whole text is GetWidth
  EXPECT_EQ(e->MeasureCalls, 2);
  e->MeasureCached(1, 99);  // beyond the text: measured, never cached out of range
  e->MeasureCached(0, 0);
}

// ---- Vector text ---------------------------------------------------------------------

TEST(VectorText, NothingWithoutAVectorizer) {
  TRef<TStringList> lines = Lines({u"abc"});
  EXPECT_FALSE(CreateVectorText(Font(), *lines));
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { MakeRef<TSimpleVectorText>(Font(), *lines); }),
                               "CreateVectorizerHook not Assigned"));
}

TEST(VectorText, LinesPartsAndLayout) {
  zmtest::TFakeVectorizerScope scope;
  TRef<TStringList> lines = Lines({u"Ti", u"", u"gap"});
  TRef<TVectorText> t = CreateVectorText(Font(), *lines);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->GetPartCount(7), 0);
  TLineMetrics m;
  t->GetLineMetrics(1, m);  // an empty line has the font's extents
  EXPECT_EQ(m.Height, 10);
  TTextLayout l = t->LayoutLines(0, 1);
  ASSERT_EQ(l.Lines.size(), 3u);
  EXPECT_EQ(l.Lines[2].Origin.Y, 20);
  EXPECT_EQ(l.OverTop, 3);     // the tall T
  EXPECT_EQ(l.OverBottom, 2);  // the deep g
  EXPECT_EQ(t->GetSize(1), (TSize{32, 37}));
  // Spacing adds (ascent + descent) * scale * spacing / 200 between lines.
  EXPECT_EQ(t->LayoutLines(100, 1).Lines[2].Origin.Y, 30);
  EXPECT_EQ(t->GetSize(2), (TSize{62, 72}));
  // Absurd scales stay within bounds.
  t->GetSize(std::numeric_limits<double>::quiet_NaN());
  t->GetSize(1e300);
}

// ---- Text producer ----------------------------------------------------------------------

TEST(TextProducer, RendersGlyphOutlines) {
  zmtest::TFakeVectorizerScope scope;
  TRef<TStringList> lines = Lines({u"ab"});
  TRef<TTextProducer> p = MakeRef<TTextProducer>();
  EXPECT_FALSE(p->Render(TColor32{0, 0, 255, 255}, TColor32{0, 0, 255, 0}, 1));  // no text yet
  p->SetText(CreateVectorText(Font(), *lines).Detach(), true);
  const TColor32 red{0, 0, 255, 255};
  TRef<TDirectBitmap> b = p->Render(red, TransparentColor32(red), 1);
  ASSERT_TRUE(b);
  std::vector<std::string> expected(12, std::string(22, '.'));
  for (int y = 1; y <= 8; ++y) expected[std::size_t(y)] = "..########..########..";
  EXPECT_EQ(AlphaPicture(*b), expected);
  // Underline and strike-out bars across the line.
  b = p->RenderEx(red, TransparentColor32(red), 0, {0, 0}, true, true, 1);
  expected[6] = ".####################.";
  expected[10] = ".####################.";
  EXPECT_EQ(AlphaPicture(*b), expected);
  // An opaque background: the text is blended over it.
  const TColor32 half{0, 0, 255, 128};
  b = p->Render(half, TColor32{255, 0, 0, 255}, 1);
  EXPECT_EQ(TColor32::FromValue(b->Row32(4)[5]), (TColor32{127, 0, 127, 255}));
  // Bad scales give no picture.
  for (double s : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e12})
    EXPECT_FALSE(p->Render(red, TransparentColor32(red), s)) << s;
  b = p->Render(red, TransparentColor32(red), 2);  // the helper is free again after a failed render
  EXPECT_EQ(AlphaPicture(*b)[5], "...################....################...");
}

TEST(TextProducer, NoLinesAndBlankLines) {
  zmtest::TFakeVectorizerScope scope;
  TRef<TStringList> none = Lines({});
  TRef<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetText(CreateVectorText(Font(), *none).Detach(), true);
  const TColor32 c{9, 9, 9, 255};
  EXPECT_EQ(p->Render(c, TransparentColor32(c), 1)->Size(), (TPoint{2, 2}));  // the margin alone
  TRef<TStringList> blanks = Lines({u"  ", u""});
  p->SetText(CreateVectorText(Font(), *blanks).Detach(), true);
  EXPECT_EQ(AlphaPicture(*p->Render(c, TransparentColor32(c), 1)), std::vector<std::string>(22, std::string(14, '.')));
  p->SetText(nullptr, false);
  EXPECT_FALSE(p->Render(c, TransparentColor32(c), 1));
}
