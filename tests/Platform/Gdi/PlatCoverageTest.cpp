#include "Platform/Gdi/PlatCoverage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Platform/Gdi/PlatFontInternal.h"
#include "tests/Platform/Gdi/FontDcKit.h"

using namespace plat;

namespace {

using plattest::TFontDc;

// The GDI answer as a set test over the BMP.
struct TGlyphSet {
  std::vector<std::uint8_t> Bytes;
  const GLYPHSET* Set() const { return reinterpret_cast<const GLYPHSET*>(Bytes.data()); }
  bool Has(char16_t c) const {
    const WCRANGE* r = Set()->ranges;
    for (DWORD i = 0; i < Set()->cRanges; ++i)
      if (c >= r[i].wcLow && c - r[i].wcLow < r[i].cGlyphs) return true;
    return false;
  }
};
TGlyphSet GdiRanges(HDC dc) {
  TGlyphSet s;
  DWORD size = GetFontUnicodeRanges(dc, nullptr);
  EXPECT_GE(size, 20u);
  s.Bytes.assign(size + 16, 0xCD);
  EXPECT_EQ(GetFontUnicodeRanges(dc, reinterpret_cast<GLYPHSET*>(s.Bytes.data())), size);
  EXPECT_EQ(s.Set()->cbThis, size);
  EXPECT_EQ(size, 16 + 4 * std::max<DWORD>(s.Set()->cRanges, 1));
  EXPECT_TRUE(std::all_of(s.Bytes.end() - 16, s.Bytes.end(), [](std::uint8_t b) { return b == 0xCD; }));
  DWORD total = 0;
  for (DWORD i = 0; i < s.Set()->cRanges; ++i) total += s.Set()->ranges[i].cGlyphs;
  EXPECT_EQ(total, s.Set()->cGlyphsSupported);
  return s;
}

// The stand-in's two-step protocol: the count query must fail for lack of room.
std::vector<dwrite::DWRITE_UNICODE_RANGE> DwRanges(const dwrite::Factory& f, HDC dc) {
  std::shared_ptr<dwrite::FontFace> face;
  EXPECT_EQ(f.CreateFontFaceFromHdc(dc, &face), dwrite::S_OK);
  if (!face) return {};
  std::uint32_t n = 0;
  EXPECT_EQ(face->GetUnicodeRanges(0, nullptr, &n), dwrite::E_NOT_SUFFICIENT_BUFFER);
  std::vector<dwrite::DWRITE_UNICODE_RANGE> r(n);
  if (n > 1) {
    EXPECT_EQ(face->GetUnicodeRanges(n - 1, r.data(), &n), dwrite::E_NOT_SUFFICIENT_BUFFER);
  }
  EXPECT_EQ(face->GetUnicodeRanges(n, r.data(), &n), dwrite::S_OK);
  EXPECT_EQ(r.size(), n);
  return r;
}
bool Has(const std::vector<dwrite::DWRITE_UNICODE_RANGE>& r, std::uint32_t c) {
  return std::any_of(r.begin(), r.end(), [c](const auto& x) { return c >= x.first && c <= x.last; });
}

class CoverageTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gdi::UseTestFonts()); }
};

TEST_F(CoverageTest, CjkAndEmojiAreAnsweredPerFont) {
  TFontDc latin(u"Liberation Sans"), dejavu(u"DejaVu Sans"), cjk(u"WenQuanYi Micro Hei");
  TGlyphSet l = GdiRanges(latin.Dc), d = GdiRanges(dejavu.Dc), c = GdiRanges(cjk.Dc);
  for (char16_t ch = u'A'; ch <= u'Z'; ++ch) EXPECT_TRUE(l.Has(ch)) << int(ch);
  EXPECT_FALSE(l.Has(0x4E2D));
  EXPECT_FALSE(d.Has(0x4E2D));
  EXPECT_TRUE(c.Has(0x4E2D));
  EXPECT_TRUE(d.Has(0x05D0));  // Hebrew
  EXPECT_FALSE(l.Has(0xD83D));  // no surrogate is a character

  std::shared_ptr<dwrite::Factory> f;
  ASSERT_EQ(dwrite::Factory::Create(&f), dwrite::S_OK);
  auto lr = DwRanges(*f, latin.Dc), dr = DwRanges(*f, dejavu.Dc), cr = DwRanges(*f, cjk.Dc);
  EXPECT_TRUE(Has(dr, 0x1F600));  // an emoji beyond the BMP
  EXPECT_FALSE(Has(lr, 0x1F600));
  EXPECT_TRUE(Has(cr, 0x4E2D));
  EXPECT_FALSE(Has(lr, 0x4E2D));
  // The two answers agree on the BMP.
  for (std::uint32_t ch : {0x41u, 0x5D0u, 0x4E2Du, 0xFFFDu}) EXPECT_EQ(Has(dr, ch), d.Has(char16_t(ch))) << ch;

  std::shared_ptr<dwrite::FontFace> first;
  EXPECT_EQ(f->CreateFirstFontFace(&first), dwrite::S_OK);
  EXPECT_EQ(first->GetUnicodeRanges(0, nullptr, nullptr), dwrite::E_INVALIDARG);
  std::shared_ptr<dwrite::FontFace> none;
  EXPECT_EQ(f->CreateFontFaceFromHdc(nullptr, &none), dwrite::E_INVALIDARG);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(GetFontUnicodeRanges(nullptr, nullptr), 0u);

  // Switched off, the stand-in cannot be made and callers take the GDI path.
  dwrite::Factory::SetAvailable(false);
  std::shared_ptr<dwrite::Factory> off;
  EXPECT_NE(dwrite::Factory::Create(&off), dwrite::S_OK);
  dwrite::Factory::SetAvailable(true);
  EXPECT_EQ(off, nullptr);
}

struct TEnumed {
  std::vector<std::u16string> Names;
  std::vector<BYTE> Pitch;
  std::vector<DWORD> Types;
  int StopAfter = -1;
};
int Collect(const LOGFONTW* log, const TEXTMETRICW* tm, DWORD type, LPARAM data) {
  auto* e = reinterpret_cast<TEnumed*>(data);
  e->Names.emplace_back(log->lfFaceName);
  e->Pitch.push_back(log->lfPitchAndFamily);
  e->Types.push_back(type);
  EXPECT_EQ((tm->tmPitchAndFamily & TMPF_FIXED_PITCH) != 0, log->lfPitchAndFamily == VARIABLE_PITCH);
  return e->StopAfter < 0 || static_cast<int>(e->Names.size()) < e->StopAfter;
}

TEST_F(CoverageTest, FamiliesAreEnumeratedSortedWithPitchAndStopOnRequest) {
  TFontDc dc(u"DejaVu Sans");
  TEnumed all;
  EXPECT_NE(EnumFontFamiliesW(dc.Dc, nullptr, Collect, reinterpret_cast<LPARAM>(&all)), 0);
  EXPECT_TRUE(std::is_sorted(all.Names.begin(), all.Names.end()));
  EXPECT_EQ(std::adjacent_find(all.Names.begin(), all.Names.end()), all.Names.end());
  auto at = [&](std::u16string_view name) {
    return std::find(all.Names.begin(), all.Names.end(), name) - all.Names.begin();
  };
  const auto sans = at(u"Liberation Sans"), mono = at(u"Liberation Mono");
  ASSERT_LT(sans, static_cast<long>(all.Names.size()));
  ASSERT_LT(mono, static_cast<long>(all.Names.size()));
  EXPECT_EQ(all.Pitch[sans], VARIABLE_PITCH);
  EXPECT_EQ(all.Pitch[mono], FIXED_PITCH);
  EXPECT_EQ(all.Types[sans], TRUETYPE_FONTTYPE);
  for (const std::u16string& n : all.Names) EXPECT_TRUE(!n.empty() && n[0] != u'@');

  TEnumed one;
  LOGFONTW log;
  std::u16string_view want = u"liberation SANS";
  std::copy(want.begin(), want.end(), log.lfFaceName);
  EXPECT_NE(EnumFontFamiliesExW(dc.Dc, &log, Collect, reinterpret_cast<LPARAM>(&one), 0), 0);
  EXPECT_EQ(one.Names, std::vector<std::u16string>{u"Liberation Sans"});

  TEnumed stop;
  stop.StopAfter = 2;
  EXPECT_EQ(EnumFontFamiliesW(dc.Dc, nullptr, Collect, reinterpret_cast<LPARAM>(&stop)), 0);
  EXPECT_EQ(stop.Names.size(), 2u);

  TEnumed none;
  EXPECT_EQ(EnumFontFamiliesW(dc.Dc, u"No Such Family", Collect, reinterpret_cast<LPARAM>(&none)), 0);
  EXPECT_EQ(EnumFontFamiliesW(nullptr, nullptr, Collect, reinterpret_cast<LPARAM>(&none)), 0);
  std::fill(std::begin(log.lfFaceName), std::end(log.lfFaceName), u'x');  // unterminated
  EXPECT_EQ(EnumFontFamiliesExW(dc.Dc, &log, Collect, reinterpret_cast<LPARAM>(&none), 0), 0);
  EXPECT_TRUE(none.Names.empty());
}

}  // namespace
