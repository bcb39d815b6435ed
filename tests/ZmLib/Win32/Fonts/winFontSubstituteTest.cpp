#include "ZmLib/Win32/Fonts/winFontSubstitute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "Platform/Gdi/PlatCoverage.h"
#include "Platform/Gdi/PlatFontInternal.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "tests/support/TempDir.h"

using namespace zm;

namespace {

TFontParams Font(const WideString& name, float size = 12, std::uint8_t style = 0) {
  return MakeFontParams(name, style, false, size, TColor24{}, TColor24{255, 255, 255});
}

struct TRun {
  std::int32_t Start = 0, Count = 0;
  bool Found = false;
  TFontParams Font;
};

std::vector<TRun> Divide(TFontReplacer* r, const WideString& text, const TFontParams& font, std::int32_t start = 1,
                         std::int32_t count = -1) {
  std::vector<TRun> runs;
  r->ReplaceFonts(text, start, [&](const WideString&, std::int32_t s, bool&, bool found, const TFontParams& f,
                                   std::int32_t n) { runs.push_back(TRun{s, n, found, f}); },
                  font, count < 0 ? std::int32_t(text.size()) : count);
  return runs;
}

// Whether the installed face of a font has every code point of a piece,
// asked of the font layer directly.
bool FaceCovers(const TFontParams& font, const WideString& piece) {
  std::shared_ptr<plat::dwrite::Factory> factory;
  if (!plat::dwrite::SUCCEEDED(plat::dwrite::Factory::Create(&factory))) return false;
  TScreenFontDc dc(font);
  std::shared_ptr<plat::dwrite::FontFace> face;
  if (!dc.Dc() || !plat::dwrite::SUCCEEDED(factory->CreateFontFaceFromHdc(dc.Dc(), &face))) return false;
  std::uint32_t n = 0;
  face->GetUnicodeRanges(0, nullptr, &n);
  std::vector<plat::dwrite::DWRITE_UNICODE_RANGE> ranges(n);
  face->GetUnicodeRanges(n, ranges.data(), &n);
  for (std::size_t i = 0; i < piece.size(); ++i) {
    char32_t c = piece[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < piece.size()) c = 0x10000 + ((c - 0xD800) << 10) + (piece[++i] - 0xDC00);
    bool in = false;
    for (const auto& r : ranges) in |= c >= r.first && c <= r.last;
    if (!in) return false;
  }
  return true;
}

// Runs follow each other without gaps or overlaps and cover [start, start + count).
void ExpectTiled(const std::vector<TRun>& runs, std::int32_t start, std::int32_t count) {
  std::vector<int> seen(std::size_t(count), 0);
  for (const TRun& r : runs) {
    ASSERT_GT(r.Count, 0);
    for (std::int32_t i = r.Start; i < r.Start + r.Count; ++i) {
      ASSERT_TRUE(i >= start && i < start + count) << i;
      ++seen[std::size_t(i - start)];
    }
  }
  EXPECT_EQ(seen, std::vector<int>(std::size_t(count), 1));
}

// Found runs name a font that has every character of the run.
void ExpectCovered(const WideString& text, const std::vector<TRun>& runs) {
  for (const TRun& r : runs)
    if (r.Found) {
      EXPECT_TRUE(FaceCovers(r.Font, text.substr(std::size_t(r.Start - 1), std::size_t(r.Count))))
          << "run at " << r.Start << " in " << std::string(r.Font.Name.begin(), r.Font.Name.end());
    }
}

std::int32_t AscentOf(const TFontParams& f) { return MakeRef<TWinFontUtils>()->GetTextMetrics(f).Ascent; }

}  // namespace

TEST(FontCoverage, PagesAndRanges) {
  TRef<TFontUnicodeChars> set = MakeRef<TFontUnicodeChars>();
  EXPECT_FALSE(set->Contains(u'A'));
  EXPECT_FALSE(set->Contains(0xFFFFFFFF));  // beyond Unicode: no page, no crash
  set->AddRange(0x41, 0x5A);
  set->AddRange(0x0200, 0x05FF);   // three whole pages
  set->AddRange(0x06F0, 0x0710);   // across a page border, both parts partial
  set->AddRange(0x1F600, 0x1F64F); // far: the page array grows
  set->AddRange(0x90, 0x10);       // reversed: nothing
  set->AddRange(0x10FFF0, 0xFFFFFFFF);  // held at the last code point
  EXPECT_TRUE(set->Contains(u'A') && set->Contains(u'Z'));
  EXPECT_FALSE(set->Contains(u'@') || set->Contains(u'[') || set->Contains(u'a'));
  EXPECT_TRUE(set->Contains(0x06F0) && set->Contains(0x0700) && set->Contains(0x0710));
  EXPECT_FALSE(set->Contains(0x06EF) || set->Contains(0x0711));
  EXPECT_TRUE(set->Contains(0x1F600) && set->Contains(0x10FFFF));
  EXPECT_FALSE(set->Contains(0x1F650));
  // Whole pages are the shared full page; adding into one leaves it alone.
  for (int page = 2; page <= 5; ++page) EXPECT_EQ(set->Page(page), SharedFullBitSet()) << page;
  set->AddRange(0x0300, 0x0310);
  EXPECT_TRUE(SharedFullBitSet()->Contains(0x0399));
  EXPECT_EQ(set->Page(1), nullptr);
  EXPECT_GE(set->Capacity(), 0x10FF + 1);
  EXPECT_EQ(set->Capacity() & (set->Capacity() - 1), 0);  // doubled from 4
  // The shared page outlives every set that took it.
  const std::int32_t refs = SharedFullBitSet()->RefCount();
  {
    TRef<TFontUnicodeChars> other = MakeRef<TFontUnicodeChars>();
    other->AddRange(0, 0xFFFF);
    EXPECT_EQ(SharedFullBitSet()->RefCount(), refs + 256);
  }
  EXPECT_EQ(SharedFullBitSet()->RefCount(), refs);
}

TEST(FontSubstitution, FallbackNamesByVersionAndLanguage) {
  std::vector<WideString> win8 = FallbackFontNames(13, 0x09);
  ASSERT_EQ(win8.size(), 15u);
  EXPECT_EQ(win8[0], u"Arial");
  EXPECT_EQ(win8[6], u"EmojiOne Color");
  EXPECT_EQ(win8[14], u"Yu Gothic UI");
  std::vector<WideString> zh = FallbackFontNames(12, 0x04);
  EXPECT_EQ(zh[6], u"Microsoft JhengHei UI");
  EXPECT_EQ(zh[7], u"Microsoft YaHei UI");
  EXPECT_EQ(zh[8], u"EmojiOne Color");
  EXPECT_EQ(std::count(zh.begin(), zh.end(), u"Microsoft YaHei UI"), 1);
  EXPECT_EQ(FallbackFontNames(12, 0x11)[6], u"Yu Gothic UI");
  EXPECT_EQ(FallbackFontNames(12, 0x12)[6], u"Malgun Gothic");
  EXPECT_EQ(FallbackFontNames(11, 0x09).size(), 14u + 9u);
  std::vector<WideString> vista = FallbackFontNames(10, 0x09);
  EXPECT_EQ(vista[15], u"\tDFKai-SB");
  EXPECT_EQ(FallbackFontNames(8, 0x09).size(), 14u);

  // A name that occurs twice keeps its first place.
  TFontReplacer* r = FontReplacer();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->FallbackCount(), 15);
  const std::vector<WideString> twice = {u"ARIAL", u"Verdana"};
  r->AddFallbackFonts(twice);
  EXPECT_EQ(r->FallbackCount(), 15);
  EXPECT_EQ(r->FallbackItem(0)->Params().Name, u"Arial");
  EXPECT_EQ(r->FallbackItem(15), nullptr);
  EXPECT_EQ(r->FallbackItem(-1), nullptr);
}

TEST(FontSubstitution, LatinAndAChineseWord) {
  TFontReplacer* r = FontReplacer();
  ASSERT_TRUE(r->UsesDirectWrite());
  const TFontParams arial = Font(u"Arial", 12);
  // Latin alone: one run in the requested font, unchanged.
  std::vector<TRun> runs = Divide(r, u"Plain Latin text.", arial);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].Found);
  EXPECT_TRUE(SameFontFace(runs[0].Font, arial));
  EXPECT_EQ(runs[0].Count, 17);

  const WideString text = u"Say 你好世界 now";
  runs = Divide(r, text, arial);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].Font.Name, u"Arial");
  EXPECT_EQ(runs[1].Start, 5);
  EXPECT_EQ(runs[1].Count, 4);
  EXPECT_TRUE(runs[1].Found);
  EXPECT_NE(runs[1].Font.Name, u"Arial");
  EXPECT_EQ(runs[2].Font.Name, u"Arial");
  ExpectCovered(text, runs);
  // The first font in list order, of Arial's pitch kind, that has the word.
  TFontItem* arialItem = r->GetFontItem(arial);
  for (std::int32_t i = 1; i < r->FallbackCount(); ++i) {
    TFontItem* f = r->FallbackItem(i);
    if (f->VariablePitch() != arialItem->VariablePitch() || !FaceCovers(f->Params(), u"你好世界")) continue;
    EXPECT_EQ(runs[1].Font.Name, f->Params().Name);
    break;
  }
  // Its size: the largest whose ascent does not pass Arial's.
  const std::int32_t want = AscentOf(arial);
  EXPECT_LE(AscentOf(runs[1].Font), want);
  TFontParams bigger = runs[1].Font;
  bigger.Size += 72.0f / r->PixelsPerInch();  // one pixel more
  EXPECT_GT(AscentOf(bigger), want);
  // The colours and style of the request are kept.
  EXPECT_EQ(runs[1].Font.TextColor, arial.TextColor);
  EXPECT_EQ(runs[1].Font.BackColor, arial.BackColor);
}

TEST(FontSubstitution, MixedScriptsEachGetAFont) {
  TFontReplacer* r = FontReplacer();
  // Latin, Arabic, Hebrew, CJK, an emoji (a surrogate pair) and marks.
  const WideString text = u"Hi مرحبا שלום 日本語 \U0001F600 e\u0301 ok";
  std::vector<TRun> runs = Divide(r, text, Font(u"Arial", 16));
  ExpectTiled(runs, 1, std::int32_t(text.size()));
  ExpectCovered(text, runs);
  for (const TRun& run : runs) EXPECT_TRUE(run.Found) << run.Start;
  // A surrogate pair and a base with its mark are never cut apart.
  const std::int32_t emoji = std::int32_t(text.find(u'\xD83D')) + 1;
  const std::int32_t mark = std::int32_t(text.find(u'\u0301')) + 1;
  for (const TRun& run : runs) {
    EXPECT_NE(run.Start, emoji + 1);
    EXPECT_NE(run.Start, mark);
  }
  // A part of the text: runs stay inside it.
  runs = Divide(r, text, Font(u"Arial", 16), 4, 12);
  ExpectTiled(runs, 4, 12);

  // A right-to-left word inside left-to-right text is divided apart from its
  // neighbours, though one font covers all of it.
  runs = Divide(r, u"abc שלום def", Font(u"Arial", 16));
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].Start, 5);
  EXPECT_EQ(runs[1].Count, 4);
  for (const TRun& run : runs) EXPECT_EQ(run.Font.Name, u"Arial");
}

TEST(FontSubstitution, UncoveredClustersAndDamagedText) {
  TFontReplacer* r = FontReplacer();
  const TFontParams arial = Font(u"Arial", 12);
  // A pair no font has (plane 16) is one uncovered run of two characters.
  std::vector<TRun> runs = Divide(r, u"a\U0010FFFDb", arial);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_FALSE(runs[1].Found);
  EXPECT_EQ(runs[1].Start, 2);
  EXPECT_EQ(runs[1].Count, 2);
  EXPECT_TRUE(SameFontFace(runs[1].Font, arial));
  // A base letter with a mark no font has goes along with its mark.
  runs = Divide(r, u"xa\u1DFEy", arial);
  ExpectTiled(runs, 1, 4);
  for (const TRun& run : runs) EXPECT_NE(run.Start, 3);
  // Lone surrogates, control characters, a NUL and a noncharacter.
  const WideString damaged = {u'a', 0xD800, u'b', 0xDC00, 0x0001, 0x0000, 0x001F, 0xFFFF, 0xD83D};
  runs = Divide(r, damaged, arial);
  ExpectTiled(runs, 1, std::int32_t(damaged.size()));
  ExpectCovered(damaged, runs);
  for (const TRun& run : runs)
    if (run.Start <= 2 && run.Start + run.Count > 2) {
      EXPECT_FALSE(run.Found);
    }
  // Nothing at all for empty text, a count of 0 or a start past the end;
  // ranges past the end are held to it.
  EXPECT_TRUE(Divide(r, u"", arial).empty());
  EXPECT_TRUE(Divide(r, u"abc", arial, 1, 0).empty());
  EXPECT_TRUE(Divide(r, u"abc", arial, 4, 1).empty());
  runs = Divide(r, u"abc", arial, 2, 100);
  ExpectTiled(runs, 2, 2);
}

TEST(FontSubstitution, OddFontsAndSizes) {
  TFontReplacer* r = FontReplacer();
  const WideString text = u"Zoë 中文";
  // An unknown family is measured as GDI substitutes it: covered runs keep its name.
  std::vector<TRun> runs = Divide(r, text, Font(u"No Such Family 7", 12));
  ExpectTiled(runs, 1, std::int32_t(text.size()));
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs[0].Font.Name, u"No Such Family 7");
  // A name no GDI font can carry: one uncovered run, no item.
  runs = Divide(r, text, Font(WideString(40, u'n'), 12));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_FALSE(runs[0].Found);
  // Size 0 and huge sizes end, with finite positive sizes for substitutes.
  for (float size : {0.0f, 0.5f, 400.0f, 1e30f}) {
    runs = Divide(r, text, Font(u"Arial", size));
    ExpectTiled(runs, 1, std::int32_t(text.size()));
    for (const TRun& run : runs) {
      EXPECT_TRUE(std::isfinite(run.Font.Size)) << size;
      EXPECT_GE(run.Font.Size, 0.0f) << size;
    }
  }
  // Bold italic has its own coverage and keeps its style.
  runs = Divide(r, text, Font(u"Arial", 12, fsBold | fsItalic));
  for (const TRun& run : runs) EXPECT_EQ(run.Font.Style, fsBold | fsItalic);
}

// A face of bitmaps only (as Noto Color Emoji's colour strikes are) takes no
// run, as text is drawn from outlines: a text asked for in it goes to the
// outline fonts of the fallback list, the emoji to the emoji font's stand-in.
TEST(FontSubstitution, BitmapOnlyFaceTakesNoRun) {
  zmtest::TTempDir dir;
  // One strike of 8 pixels with a full square for 'A' and for U+1F389.
  std::string bdf =
      "STARTFONT 2.1\nFONT -zm-Zm Strikes Only-medium-r-normal--8-80-75-75-c-80-iso10646-1\nSIZE 8 75 75\n"
      "FONTBOUNDINGBOX 8 8 0 0\nSTARTPROPERTIES 4\nFAMILY_NAME \"Zm Strikes Only\"\nFONT_ASCENT 8\n"
      "FONT_DESCENT 0\nCHARSET_REGISTRY \"ISO10646\"\nENDPROPERTIES\nCHARS 2\n";
  for (const char* code : {"65", "127881"})
    bdf += std::string("STARTCHAR g") + code + "\nENCODING " + code +
           "\nSWIDTH 1000 0\nDWIDTH 8 0\nBBX 8 8 0 0\nBITMAP\nFF\nFF\nFF\nFF\nFF\nFF\nFF\nFF\nENDCHAR\n";
  dir.Write("strikes/zm.bdf", bdf + "ENDFONT\n");
  struct TRestore {
    ~TRestore() { EXPECT_TRUE(plat::gdi::UseTestFonts()); }
  } restore;
  ASSERT_TRUE(plat::gdi::UsePrivateFonts(
      {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/truetype/liberation2",
       "/usr/share/fonts/truetype/ancient-scripts", (dir.Path() / "strikes").string()},
      (dir.Path() / "cache").string()));
  const TFontParams strikes = Font(u"Zm Strikes Only", 12);
  {
    TScreenFontDc dc(strikes);
    char16_t face[64] = {};
    ASSERT_TRUE(dc.Dc());
    ASSERT_GT(plat::GetTextFaceW(dc.Dc(), 64, face), 0);
    ASSERT_EQ(WideString(face), u"Zm Strikes Only");  // the face is there, and measured
  }
  const WideString text = u"A\U0001F389";
  const std::vector<TRun> runs = Divide(FontReplacer(), text, strikes);
  ExpectTiled(runs, 1, 3);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].Font.Name, u"Arial");
  EXPECT_EQ(runs[1].Font.Name, u"EmojiOne Color");
  for (const TRun& r : runs) EXPECT_TRUE(r.Found);
  ExpectCovered(text, runs);
}

TEST(FontSubstitution, RefusedRunsAndReentry) {
  TFontReplacer* r = FontReplacer();
  const TFontParams arial = Font(u"Arial", 12);
  // Refusing the requested font hands the run to a fallback font.
  std::vector<TRun> runs;
  r->ReplaceFonts(u"abc", 1, [&](const WideString&, std::int32_t s, bool& handled, bool found, const TFontParams& f,
                                 std::int32_t n) {
    if (found && f.Name == u"Arial") {
      handled = false;
      return;
    }
    runs.push_back(TRun{s, n, found, f});
  }, arial, 3);
  ExpectTiled(runs, 1, 3);
  ASSERT_FALSE(runs.empty());
  EXPECT_NE(runs[0].Font.Name, u"Arial");
  // A callback that divides text itself is refused rather than deadlocked,
  // and the previous callback is back afterwards.
  int outer = 0, inner = 0;
  r->OnFontRun = [&](const WideString&, std::int32_t, bool&, bool, const TFontParams&, std::int32_t) { ++outer; };
  r->ReplaceFonts(u"abc", 1, [&](const WideString& t, std::int32_t, bool&, bool, const TFontParams& f, std::int32_t) {
    r->ReplaceFonts(t, 1, [&](const WideString&, std::int32_t, bool&, bool, const TFontParams&, std::int32_t) {
      ++inner;
    }, f, 1);
  }, arial, 3);
  EXPECT_EQ(inner, 0);
  r->ReplaceFonts(u"abc", 1, TFontRunEvent{}, arial, 3);  // no callback given: OnFontRun
  EXPECT_EQ(outer, 1);
  r->OnFontRun = nullptr;
}

TEST(FontSubstitution, ThreadsShareTheReplacer) {
  TFontReplacer* r = FontReplacer();
  const WideString texts[] = {u"One 一 \U0001F600", u"שתיים two", u"three مرحبا 三"};
  std::vector<std::vector<TRun>> want;
  for (const WideString& t : texts) want.push_back(Divide(r, t, Font(u"Arial", 11)));
  std::vector<int> bad(3, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        std::vector<TRun> got = Divide(r, texts[t], Font(u"Arial", 11));
        bool same = got.size() == want[std::size_t(t)].size();
        for (std::size_t k = 0; same && k < got.size(); ++k) {
          const TRun &a = got[k], &b = want[std::size_t(t)][k];
          same = a.Start == b.Start && a.Count == b.Count && a.Found == b.Found && SameFontFace(a.Font, b.Font);
        }
        if (!same) ++bad[std::size_t(t)];
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad, std::vector<int>(3, 0));
}

TEST(FontSubstitution, GdiCoverageWithoutDirectWrite) {
  plat::dwrite::Factory::SetAvailable(false);
  ResetDirectWriteUsable();
  EXPECT_FALSE(IsDirectWriteUsable());
  TFontUnicodeChars* probe = MakeRef<TFontUnicodeChars>().Detach();
  EXPECT_FALSE(DWGetFontCoverage(Font(u"Arial"), probe));  // fails cleanly, set unchanged
  EXPECT_EQ(probe->Page(0), nullptr);
  probe->Free();
  const WideString text = u"Say 你好 \U0001F600 \U0010FFFD";
  std::vector<TRun> runs;
  {
    TRef<TFontReplacer> r = MakeRef<TFontReplacer>();
    EXPECT_FALSE(r->UsesDirectWrite());
    const std::vector<WideString> names = FallbackFontNames(13, 0x09);
    r->AddFallbackFonts(names);
    // Coverage is built for all four styles when an item is initialised.
    TFontItem* arial = r->GetFontItem(Font(u"Arial"));
    for (int style = 0; style < 4; ++style) EXPECT_NE(arial->Coverage(style), nullptr) << style;
    runs = Divide(r.get(), text, Font(u"Arial"));
    ExpectTiled(runs, 1, std::int32_t(text.size()));
    ASSERT_GE(runs.size(), 3u);
    EXPECT_TRUE(runs[1].Found);
    EXPECT_EQ(runs[1].Start, 5);
    // GDI's ranges hold the BMP only; shaping still finds the emoji's glyph.
    const std::int32_t emoji = std::int32_t(text.find(u'\xD83D')) + 1;
    for (const TRun& run : runs)
      if (run.Start == emoji) {
        EXPECT_TRUE(run.Found);
      }
    EXPECT_FALSE(runs.back().Found);
    EXPECT_EQ(runs.back().Count, 2);
  }
  plat::dwrite::Factory::SetAvailable(true);
  ResetDirectWriteUsable();
  EXPECT_TRUE(IsDirectWriteUsable());
  ExpectCovered(text, runs);
}
