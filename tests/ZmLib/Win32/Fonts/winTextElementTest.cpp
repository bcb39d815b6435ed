#include "ZmLib/Win32/Fonts/winTextElement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/zmHookScope.h"

using namespace zm;

namespace {

TFontParams Font(const WideString& name, float size = 12, std::uint8_t style = 0) {
  return MakeFontParams(name, style, false, size, TColor24{}, TColor24{255, 255, 255});
}

TRef<TWinTextElement> Laid(const WideString& text, const TFontParams& font = Font(u"Arial"),
                           std::uint8_t direction = tdNone) {
  TRef<TWinTextElement> e = MakeRef<TWinTextElement>(font, 0);
  if (direction) e->SetDirection(direction);
  e->SetText(text);
  return e;
}

WideString Units(std::initializer_list<char16_t> units) { return WideString(units); }

std::int32_t AdvanceOf(const TFontParams& font, const WideString& text) {
  TScreenFontDc dc(font);
  plat::SIZE size;
  return plat::GetTextExtentPoint32W(dc.Dc(), text.data(), int(text.size()), &size) ? size.cx : -1;
}

// What every layout must hold, whatever the text: runs in visual order tile
// the text, glyph counts and advances add up, parts follow each other, and
// every caret lies within the line.
void ExpectConsistent(TWinTextElement* e) {
  const std::int32_t n = e->Length();
  std::vector<int> seen(std::size_t(n), 0);
  std::int32_t glyphs = 0, width = 0;
  for (const TWinFontRun& r : e->Runs()) {
    EXPECT_GT(r.Count, 0);
    for (std::int32_t i = r.Start; i < r.Start + r.Count; ++i) {
      ASSERT_TRUE(i >= 0 && i < n) << i;
      ++seen[std::size_t(i)];
    }
    glyphs += r.GlyphCount;
    width += r.Width;
  }
  EXPECT_EQ(seen, std::vector<int>(std::size_t(n), 1));
  EXPECT_EQ(glyphs, e->GetPartCount());
  EXPECT_EQ(width, e->GetWidth());
  EXPECT_EQ(e->CharAdvance(n), -1);
  std::int32_t x = 0;
  for (std::int32_t i = 0; i < e->GetPartCount(); ++i) {
    TTextPart p;
    ASSERT_TRUE(e->GetPart(i, p));
    EXPECT_EQ(p.X, x) << "part " << i;
    x += p.Advance;
    EXPECT_EQ(p.Height, p.Ascent + p.Descent);
  }
  EXPECT_EQ(x, e->GetWidth());
  for (std::int32_t i = 0; i <= n; ++i) {
    EXPECT_GE(e->CaretPos(i), 0) << i;
    EXPECT_LE(e->CaretPos(i), e->GetWidth()) << i;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    EXPECT_GE(e->ClusterGlyph(i), 0);
    EXPECT_LT(e->ClusterGlyph(i), std::max(e->GetPartCount(), 1));
  }
  TTextPart none;
  EXPECT_FALSE(e->GetPart(-1, none));
  EXPECT_FALSE(e->GetPart(e->GetPartCount(), none));
}

}  // namespace

TEST(WinTextElement, EmptyAndPlainLatin) {
  TRef<TWinTextElement> empty = Laid(u"");
  EXPECT_TRUE(empty->Runs().empty());
  EXPECT_EQ(empty->GetPartCount(), 0);
  const TTextOverhangs none = empty->GetOverhangs();
  EXPECT_EQ(none.First | none.Second | none.Third | none.Width, 0);
  EXPECT_EQ(empty->GetCharBounds(1).Start, 0);
  EXPECT_EQ(empty->MeasureRange(1, 5), 0);
  EXPECT_EQ(empty->FitChars(1, 100, nullptr), 0);
  ExpectConsistent(empty.get());

  const TFontParams arial = Font(u"Arial");
  TRef<TWinTextElement> e = Laid(u"Wim", arial);
  ASSERT_EQ(e->Runs().size(), 1u);
  EXPECT_TRUE(e->Runs()[0].Found);
  const std::int32_t w1 = AdvanceOf(arial, u"W"), w2 = AdvanceOf(arial, u"i"), all = AdvanceOf(arial, u"Wim");
  EXPECT_EQ(e->CaretPos(0), 0);
  EXPECT_EQ(e->CaretPos(1), w1);
  EXPECT_EQ(e->CaretPos(2), w1 + w2);
  EXPECT_EQ(e->CaretPos(3), all);
  EXPECT_EQ(e->GetWidth(), all);
  for (std::int32_t i = -1; i <= 5; ++i) EXPECT_FALSE(e->IsClusterContinuation(i)) << i;
  // Bounds are caret ranges; indexes outside 0..length are held within it.
  EXPECT_EQ(e->GetCharBounds(2).Start, w1);
  EXPECT_EQ(e->GetCharBounds(2).End, w1 + w2);
  EXPECT_EQ(e->GetCharBounds(-7).Start, 0);
  EXPECT_EQ(e->GetCharBounds(-7).End, 0);
  EXPECT_EQ(e->GetCharBounds(99).End, all);
  EXPECT_EQ(e->CharEdges(0).Start, 0);
  EXPECT_EQ(e->CharEdges(0).End, w1);
  // The ink: W starts at its A width and the extent adds up to the advance.
  const TTextOverhangs o = e->GetOverhangs();
  EXPECT_EQ(o.Width, all);
  EXPECT_GT(o.Second, 0);
  EXPECT_EQ(o.First + o.Second + o.Third, o.Width);
  // Ranges are measured in their run's font and held within the text.
  EXPECT_EQ(e->MeasureRange(1, 3), all);
  EXPECT_EQ(e->MeasureRange(2, 99), AdvanceOf(arial, u"im"));
  EXPECT_EQ(e->MeasureRange(0, 1), 0);
  EXPECT_EQ(e->MeasureRange(3, -1), 0);
  ExpectConsistent(e.get());

  TTextPart p;
  ASSERT_TRUE(e->GetPart(1, p));
  // Glyphs are keyed by the face drawn with, never by a family it stands in
  // for: a show's stored glyph cache of the real "Arial" has other indices.
  EXPECT_EQ(p.FontKey, u"Liberation Sans:");
  EXPECT_EQ(p.Size, 12);
  EXPECT_EQ(p.X, w1);
  EXPECT_EQ(p.Advance, w2);
  EXPECT_EQ(p.A + p.B + p.C, w2);  // i has no kerning of its own
  TRef<TWinTextElement> styled = Laid(u"x", Font(u"Arial", 24, fsBold | fsItalic));
  ASSERT_TRUE(styled->GetPart(0, p));
  EXPECT_EQ(p.FontKey, u"Liberation Sans:Bold,Italic");
  TRef<TWinTextElement> big = Laid(u"x", Font(u"Arial", 24));
  EXPECT_GT(big->GetUnderlineSize(), 0);
  EXPECT_LT(big->GetUnderlinePos(), 0);  // below the base line
  EXPECT_GT(styled->GetMetrics().Ascent, 0);
}

TEST(WinTextElement, LineFittingWithRealFonts) {
  TRef<TWinTextElement> e = Laid(u"one two three");
  const std::int32_t w = e->GetWidth();
  int calls = 0;
  auto spaces = [&calls](TTextElement* el, std::int32_t count, std::int32_t) {
    ++calls;
    const WideString& t = static_cast<TWinTextElement*>(el)->Text();
    for (std::int32_t n = count - 1; n > 0; --n)
      if (t[std::size_t(n)] == u' ') return n;  // break before the blank
    return 0;
  };
  EXPECT_EQ(e->FitChars(1, w, spaces), 13);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(e->FitChars(1, w - 1, spaces), 7);  // "one two"
  EXPECT_EQ(e->FitChars(1, e->MeasureRange(1, 3), spaces), 3);
  EXPECT_LE(e->FitChars(1, 0, spaces), 0);
  // From a start past the end only the last character is tried.
  EXPECT_EQ(e->FitChars(40, w, spaces), 1);
  // Measuring a prefix twice measures it once; a change of text starts over.
  EXPECT_EQ(e->MeasureCached(1, 3), e->MeasureCached(1, 3));
  e->InsertText(1, u">>", 1, 2);
  EXPECT_EQ(e->MeasureCached(1, 2), e->MeasureRange(1, 2));
  EXPECT_EQ(e->FitChars(1, e->GetWidth(), nullptr), 15);
}

TEST(WinTextElement, RightToLeftAndDirectionCodes) {
  // A Hebrew word: carets run right to left, the end lies left of the last character.
  TRef<TWinTextElement> he = Laid(u"\u05E9\u05DC\u05D5\u05DD");
  ASSERT_EQ(he->Runs().size(), 1u);
  for (std::int32_t i = 1; i <= 4; ++i) EXPECT_LT(he->CaretPos(i), he->CaretPos(i - 1)) << i;
  EXPECT_EQ(he->CaretPos(0), he->GetWidth());
  EXPECT_EQ(he->CaretPos(4), 0);
  const TCharBounds b = he->CharEdges(0);
  EXPECT_GT(b.Start, b.End);  // (right, left)
  ExpectConsistent(he.get());

  // A text starting with U+202E is laid out as a right-to-left override,
  // and the override carries into the runs of other fonts.
  for (const WideString& t : {WideString(u"\u202Eabc"), WideString(u"\u202Eab\u4E2D")}) {
    TRef<TWinTextElement> e = Laid(t);
    EXPECT_GT(e->CaretPos(1), e->CaretPos(2)) << e->Length();
    EXPECT_GT(e->CaretPos(2), e->CaretPos(3));
    EXPECT_LT(e->CaretPos(e->Length()), e->CaretPos(e->Length() - 1));
    ExpectConsistent(e.get());
  }
  // The same through the direction code; runs of other fonts are ordered with it.
  TRef<TWinTextElement> rlo = Laid(u"ab\u4E2D", Font(u"Arial"), tdRightToLeftOverride);
  EXPECT_GT(rlo->CaretPos(0), rlo->CaretPos(1));
  EXPECT_GT(rlo->CaretPos(1), rlo->CaretPos(2));
  EXPECT_EQ(rlo->CaretPos(0), rlo->GetWidth());
  ExpectConsistent(rlo.get());
  // A left-to-right override keeps Hebrew in logical order.
  TRef<TWinTextElement> lro = Laid(u"\u05D0\u05D1", Font(u"Arial"), tdLeftToRightOverride);
  EXPECT_LT(lro->CaretPos(0), lro->CaretPos(1));
  // Codes beyond 4 mean none.
  TRef<TWinTextElement> odd = Laid(u"ab", Font(u"Arial"), 9);
  EXPECT_EQ(odd->Direction(), tdNone);
  EXPECT_LT(odd->CaretPos(0), odd->CaretPos(1));
}

TEST(WinTextElement, ClustersAndMarks) {
  // A base letter with a combining mark shares its cluster glyph.
  TRef<TWinTextElement> e = Laid(u"e\u0301x");
  EXPECT_EQ(e->ClusterGlyph(0), e->ClusterGlyph(1));
  EXPECT_FALSE(e->IsClusterContinuation(1));
  EXPECT_TRUE(e->IsClusterContinuation(2));
  EXPECT_FALSE(e->IsClusterContinuation(3));
  EXPECT_EQ(e->CharEdges(0).Start, e->CharEdges(1).Start);
  EXPECT_EQ(e->CharEdges(0).End, e->CharEdges(1).End);
  EXPECT_EQ(e->CharAdvance(1), 0);
  ExpectConsistent(e.get());
  // Arabic joins and runs right to left; lam-alef may become one glyph.
  TRef<TWinTextElement> ar = Laid(u"\u0644\u0627\u0645");
  EXPECT_GE(ar->CaretPos(0), ar->CaretPos(2));
  EXPECT_LE(ar->GetPartCount(), 3);
  ExpectConsistent(ar.get());
}

TEST(WinTextElement, MixedScriptsEachCharacterGetsAGlyph) {
  const WideString text = u"Hi \u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627 \u4E2D\u6587 \U0001F600 ok";
  TRef<TWinTextElement> e = Laid(text);
  ExpectConsistent(e.get());
  EXPECT_GE(e->Runs().size(), 4u);  // Latin, Hebrew, Arabic, CJK at least
  for (const TWinFontRun& r : e->Runs()) EXPECT_TRUE(r.Found) << r.Start;
  for (std::uint16_t g : e->Glyphs()) EXPECT_NE(g, 0);  // nothing fell to the missing glyph
  // Runs in visual order: right-to-left runs run right to left inside, left-to-right ones
  // left to right, and every run lies right of the one before.
  std::int32_t x = 0;
  for (const TWinFontRun& r : e->Runs()) {
    for (std::int32_t i = r.Start + 1; i < r.Start + r.Count; ++i) {
      if (e->IsClusterContinuation(i + 1)) continue;
      const char16_t c = text[std::size_t(i)];
      const bool rtl = (c >= 0x0590 && c <= 0x06FF);
      if (rtl) {
        EXPECT_LT(e->CaretPos(i), e->CaretPos(i - 1)) << i;
      } else if (c != u' ' && text[std::size_t(i - 1)] != u' ') {
        EXPECT_GT(e->CaretPos(i), e->CaretPos(i - 1)) << i;
      }
    }
    for (std::int32_t i = r.Start; i < r.Start + r.Count; ++i) {
      EXPECT_GE(e->CaretPos(i), x) << i;
      EXPECT_LE(e->CaretPos(i), x + r.Width) << i;
    }
    x += r.Width;
  }
  // The two right-to-left words make one block, the Arabic word left of the
  // Hebrew one; the Chinese follows it.
  EXPECT_LT(e->CaretPos(8), e->CaretPos(3));
  EXPECT_LT(e->CaretPos(3), e->CaretPos(14));
  // The emoji pair is one cluster.
  EXPECT_TRUE(e->IsClusterContinuation(19));
}

// Hebrew with digits and blanks between Latin words, and in brackets: the
// Hebrew is a run of its own, and each run is ordered as the whole line
// orders it, the blanks too ("abc 123 GBA def", "[123 GBA]" as seen, GBA the
// Hebrew letters in visual order).
TEST(WinTextElement, MixedDirectionsKeepTheirBlanksWhereTheLineOrdersThem) {
  struct {
    WideString Text;
    std::vector<std::int32_t> Seen;  // the characters from left to right
  } const cases[] = {
      {u"abc \u05D0\u05D1\u05D2 123 def", {0, 1, 2, 3, 8, 9, 10, 7, 6, 5, 4, 11, 12, 13, 14}},
      {u"[\u05D0\u05D1\u05D2 123]", {0, 5, 6, 7, 4, 3, 2, 1, 8}},
      // A comma between the word and the digits goes with the word.
      {u"abc \u05D0\u05D1\u05D2, 123 def", {0, 1, 2, 3, 9, 10, 11, 8, 7, 6, 5, 4, 12, 13, 14, 15}},
  };
  for (const auto& c : cases) {
    TRef<TWinTextElement> e = Laid(c.Text);
    ExpectConsistent(e.get());
    EXPECT_GE(e->Runs().size(), 2u);
    std::vector<std::pair<std::int32_t, std::int32_t>> lefts;
    for (std::int32_t i = 0; i < e->Length(); ++i) {
      const TCharBounds b = e->CharEdges(i);
      EXPECT_NE(b.Start, b.End) << i;  // every character, blanks too, has its width
      lefts.emplace_back(std::min(b.Start, b.End), i);
    }
    std::sort(lefts.begin(), lefts.end());
    std::vector<std::int32_t> seen;
    for (const auto& l : lefts) seen.push_back(l.second);
    EXPECT_EQ(seen, c.Seen) << e->Length();
    // The glyphs are drawn in that order: the blank after the Hebrew word
    // is drawn between the digits and the word.
    std::vector<std::int32_t> drawn;
    for (std::int32_t i = 0; i < e->Length(); ++i) drawn.push_back(e->ClusterGlyph(i));
    std::vector<std::int32_t> byGlyph;
    for (std::int32_t i : c.Seen) byGlyph.push_back(drawn[std::size_t(i)]);
    EXPECT_TRUE(std::is_sorted(byGlyph.begin(), byGlyph.end())) << e->Length();
  }
}

TEST(WinTextElement, DamagedTextAndOddFonts) {
  const WideString texts[] = {
      Units({0xD800}),                    // a lone high surrogate
      Units({0xDC00, u'a'}),              // a lone low one first
      Units({u'a', 0xDBFF}),              // a high one last
      Units({0xDC00, 0xD800}),            // the halves the wrong way round
      Units({0, 1, u'\t', u'\r', u'\n'}), // control characters and NUL
      Units({0x202C, 0x200D, 0xFFFF, 0xFEFF}),
      Units({0xE000, 0xD83D, 0xDE00, 0xDB80, 0xDC00}),  // private use, an emoji, a plane-15 private
      WideString(300, u'\u202E'),
  };
  for (const WideString& t : texts) {
    TRef<TWinTextElement> e = Laid(t);
    ExpectConsistent(e.get());
    EXPECT_GT(e->GetPartCount(), 0);
  }
  // Characters no font has are laid out and drawn as 'L' in "Wingdings";
  // the halves of an unknown pair make one cluster.
  TRef<TWinTextElement> lost = Laid(Units({0xDB80, 0xDC00, u'a'}));
  ASSERT_FALSE(lost->Runs().empty());
  const TWinFontRun& first = lost->Runs()[0];
  EXPECT_FALSE(first.Found);
  EXPECT_EQ(first.Font.Name, u"Wingdings");
  EXPECT_TRUE(lost->IsClusterContinuation(2));
  TTextPart p;
  ASSERT_TRUE(lost->GetPart(0, p));
  EXPECT_EQ(p.FontKey, u"DejaVu Sans:");
  EXPECT_EQ(p.Advance, first.Width);

  // Sizes that are not above 0 become 8; huge ones stay within the layer's range.
  for (float size : {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN()}) {
    TRef<TWinTextElement> e = Laid(u"abc", Font(u"Arial", size));
    EXPECT_EQ(e->FontParams().Size, 8.0f);
    EXPECT_GT(e->GetWidth(), 0);
  }
  for (float size : {5000.0f, 1e30f, std::numeric_limits<float>::infinity()}) {
    TRef<TWinTextElement> e = Laid(u"a\u4E2D\u05D0", Font(u"Arial", size));
    ExpectConsistent(e.get());
    EXPECT_GT(e->GetWidth(), 0);
    EXPECT_LT(e->GetWidth(), 1 << 20);
  }
  // Unknown and overlong face names still lay out.
  ExpectConsistent(Laid(u"abc", Font(u"No Such Face At All")).get());
  TRef<TWinTextElement> longName = Laid(u"abc", Font(WideString(60, u'x')));
  EXPECT_EQ(longName->FontParams().Name.size(), 31u);
  EXPECT_GT(longName->GetMetrics().Height, 0);
  ExpectConsistent(longName.get());
}

TEST(WinTextElement, EditingCloningAndHooks) {
  TRef<TWinTextElement> e = Laid(u"bd");
  e->InsertText(2, u"xcx", 2, 1);   // "bcd"
  e->InsertText(-5, u"a", 0, 9);    // position and source held: "abcd"
  e->InsertText(99, u"ef", 1, 99);  // at the end: "abcdef"
  e->InsertText(3, u"zz", 1, 0);    // nothing
  e->InsertText(3, u"", 1, 4);
  EXPECT_EQ(e->Text(), u"abcdef");
  EXPECT_EQ(e->GetWidth(), Laid(u"abcdef")->GetWidth());
  e->InsertText(1, u"\u05D0", 1, 1);
  ExpectConsistent(e.get());

  // A clone has the text, direction and DC provider, not the run callback.
  std::atomic<int> got{0}, released{0};
  e->SetDcProcs(
      [&] {
        ++got;
        return plat::GetDC(nullptr);
      },
      [&](plat::HDC dc) {
        ++released;
        plat::ReleaseDC(nullptr, dc);
      });
  e->SetDirection(tdRightToLeft);
  EXPECT_GT(got.load(), 0);
  EXPECT_EQ(got.load(), released.load());
  e->OnFontRun = [](TWinTextElement*, const TFontParams&, std::int32_t, std::int32_t, bool&) {};
  TRef<TTextElement> copy = e->Clone();
  auto* c = dynamic_cast<TWinTextElement*>(copy.get());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Text(), e->Text());
  EXPECT_EQ(c->Direction(), tdRightToLeft);
  EXPECT_EQ(c->GetWidth(), e->GetWidth());
  EXPECT_FALSE(c->OnFontRun);
  EXPECT_EQ(got.load(), released.load());
  // A provider without a DC falls back to the screen.
  e->SetDcProcs([] { return plat::HDC(nullptr); }, [](plat::HDC) { ADD_FAILURE() << "nothing to release"; });
  e->SetText(u"abc");
  EXPECT_EQ(e->GetWidth(), Laid(u"abc")->GetWidth());

  // A refused font gives its characters to the next fallback font; refusing
  // every font leaves the uncovered run, which is always taken.
  TRef<TWinTextElement> picky = MakeRef<TWinTextElement>(Font(u"Arial"), 0);
  std::vector<WideString> offered;
  picky->OnFontRun = [&](TWinTextElement* el, const TFontParams& f, std::int32_t start, std::int32_t count,
                         bool& accept) {
    EXPECT_EQ(el, picky.get());
    EXPECT_GE(start, 0);
    EXPECT_GT(count, 0);
    offered.push_back(f.Name);
    accept = f.Name != u"Arial";
  };
  picky->SetText(u"abc");
  ASSERT_FALSE(picky->Runs().empty());
  EXPECT_EQ(offered.front(), u"Arial");
  EXPECT_NE(picky->Runs()[0].Font.Name, u"Arial");
  picky->OnFontRun = [](TWinTextElement*, const TFontParams&, std::int32_t, std::int32_t, bool& accept) {
    accept = false;
  };
  picky->SetText(u"abc");
  ExpectConsistent(picky.get());
  for (const TWinFontRun& r : picky->Runs()) EXPECT_FALSE(r.Found);
  // A callback that lays out another element is not deadlocked.
  picky->OnFontRun = [](TWinTextElement*, const TFontParams&, std::int32_t, std::int32_t, bool& accept) {
    TRef<TWinTextElement> inner = Laid(u"inner");
    accept = true;
  };
  picky->SetText(u"abc");
  ExpectConsistent(picky.get());
}

TEST(WinTextElement, PlacementFallbackAndNoWidths) {
  // A DC that is no DC: identity order, no glyph widths, nothing written past the arrays.
  TPlacement p;
  EXPECT_EQ(GetPlacement(nullptr, u"abc", 3, p, gpOrder | gpDx | gpCaret | gpClasses | gpGlyphs | gpOutString,
                         kLayoutPlacementFlags),
            0u);
  EXPECT_FALSE(p.Shaped);
  EXPECT_EQ(p.GlyphCount, 3);
  EXPECT_EQ(p.Order[2], 2u);
  EXPECT_EQ(p.Order[3], plat::UINT(-1));
  EXPECT_EQ(p.Dx[0], 0);
  EXPECT_EQ(GetPlacement(nullptr, nullptr, 5, p, gpOrder, 0), 0u);
  EXPECT_EQ(p.Order.size(), 1u);
  EXPECT_EQ(GetPlacement(nullptr, u"abc", -1, p, gpGlyphs, 0), 0u);
  // The fallback in a real font measures glyphs by their ABC widths.
  {
    TScreenFontDc dc(Font(u"Arial"));
    zm::THookScope abcWidths(CharABCWidthsProc);
    ASSERT_TRUE(abcWidths.Saved());
    GetPlacement(dc.Dc(), u"ab", 2, p, gpDx | gpGlyphs, 0);
    EXPECT_TRUE(p.Shaped);
    const int shaped = p.Dx[0];
    // Without ABC widths the ink is unknown but the advances stay.
    abcWidths.Set(nullptr);
    TRef<TWinTextElement> e = Laid(u"abc");
    abcWidths.Restore();
    EXPECT_EQ(e->GetWidth(), Laid(u"abc")->GetWidth());
    EXPECT_EQ(e->GetOverhangs().Second, 0);
    EXPECT_EQ(e->GetOverhangs().Third, e->GetWidth());
    EXPECT_GT(shaped, 0);
  }
}

TEST(WinTextElement, ThreadsLayOutAtOnce) {
  const WideString texts[] = {u"plain Latin", u"\u05E9\u05DC\u05D5\u05DD abc", u"\u4E2D\u6587 \U0001F600",
                              u"\u0645\u0631\u062D\u0628\u0627 9"};
  std::vector<std::int32_t> expected;
  for (const WideString& t : texts) expected.push_back(Laid(t)->GetWidth());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      for (int round = 0; round < 20; ++round) {
        const std::size_t i = std::size_t(k + round) % 4;
        if (Laid(texts[i])->GetWidth() != expected[i]) ++wrong;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}
