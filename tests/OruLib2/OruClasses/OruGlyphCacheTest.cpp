#include "OruLib2/OruClasses/OruGlyphCache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruSlideHost.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using oru_test::LinesOf;
using oru_test::TCountingVectorizer;
using oru_test::TestFont;
using oru_test::TGlyphTestScope;

namespace {

std::string SavedText(TVectorText* text) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  SaveCachedVectorText(text, s.get());
  return zmtest::StreamBytes(s.get());
}

std::string SavedGlyphs(const WideString& fontKey) {
  std::int32_t index;
  TRef<TGlyphCache> cache = FontCache()->Find(fontKey, index);
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  if (cache) cache->SaveToStream(s.get());
  return zmtest::StreamBytes(s.get());
}

TRef<TCachedVectorText> LoadText(const std::string& bytes) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(bytes);
  s->SetPosition(std::int64_t(bytes.size()));  // loading starts at 0 wherever the stream stands
  return LoadCachedVectorText(s.get(), nullptr, nullptr);
}

void PutInt(std::string& bytes, std::size_t at, std::int32_t v) { std::memcpy(&bytes[at], &v, 4); }

TPathPoints PartOutline(TVectorText* text, std::int32_t line, std::int32_t part) {
  TPathPoints p;
  text->VectorizePart(line, part, p);
  return p;
}

void ExpectSameLayout(TVectorText* a, TVectorText* b) {
  ASSERT_EQ(a->LineCount(), b->LineCount());
  for (std::int32_t i = 0; i < a->LineCount(); ++i) {
    TLineMetrics ma, mb;
    a->GetLineMetrics(i, ma);
    b->GetLineMetrics(i, mb);
    EXPECT_EQ(ma.Width, mb.Width) << i;
    EXPECT_EQ(ma.Leading, mb.Leading) << i;
    EXPECT_EQ(ma.Trailing, mb.Trailing) << i;
    EXPECT_EQ(ma.BlackWidth, mb.BlackWidth) << i;
    EXPECT_EQ(ma.Ascent, mb.Ascent) << i;
    EXPECT_EQ(ma.Descent, mb.Descent) << i;
    ASSERT_EQ(a->GetPartCount(i), b->GetPartCount(i)) << i;
    for (std::int32_t k = 0; k < a->GetPartCount(i); ++k) EXPECT_EQ(PartOutline(a, i, k), PartOutline(b, i, k));
  }
  EXPECT_EQ(a->GetSize(1.5).cx, b->GetSize(1.5).cx);
  EXPECT_EQ(a->GetSize(1.5).cy, b->GetSize(1.5).cy);
}

}  // namespace

// Two texts in one font share its glyph cache and each glyph is made once;
// the style makes another font; the show's "ExeGUID" decides when the cache
// starts afresh.
TEST(GlyphCache, GlyphsAreSharedPerFontAndLiveUntilTheShowChanges) {
  TGlyphTestScope scope;
  TRef<TCachedVectorText> a = BuildCachedVectorText(TestFont(), *LinesOf({u"abba", u"b a"}));
  ASSERT_TRUE(a);
  EXPECT_EQ(TCountingVectorizer::Made, 3);  // a, b and the blank
  TRef<TCachedVectorText> b = BuildCachedVectorText(TestFont(), *LinesOf({u"baa"}));
  EXPECT_EQ(TCountingVectorizer::Made, 3);
  EXPECT_EQ(FontCache()->Count(), 1);
  std::int32_t index = -2;
  TRef<TGlyphCache> arial = FontCache()->Find(u"Arial:", index);
  ASSERT_TRUE(arial);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(arial->Count(), 3);
  EXPECT_EQ(a->Lines()[0]->Glyphs[0]->Data, b->Lines()[0]->Glyphs[1]->Data);

  BuildCachedVectorText(TestFont(u"Arial", fsBold), *LinesOf({u"a"}));
  EXPECT_EQ(TCountingVectorizer::Made, 4);
  EXPECT_EQ(FontCache()->Count(), 2);
  EXPECT_FALSE(FontCache()->Find(u"arial:", index));
  EXPECT_EQ(index, -1);

  // The slide host tells the cache the show's "ExeGUID" through the hook.
  ASSERT_TRUE(GlyphCacheContextHook);
  const WideString same = FontCache()->Context();
  GlyphCacheContextHook(same);
  EXPECT_EQ(FontCache()->Count(), 2);
  GlyphCacheContextHook(u"{another show}");
  EXPECT_EQ(FontCache()->Count(), 0);
  // Texts made before keep their outlines.
  EXPECT_EQ(PartOutline(a.get(), 0, 0).size(), 4u);
  BuildCachedVectorText(TestFont(), *LinesOf({u"a"}));
  EXPECT_EQ(TCountingVectorizer::Made, 5);

  // Adding the same font again gives the listed cache.
  std::int32_t again = -2;
  EXPECT_EQ(FontCache()->Add(u"Arial:", again), FontCache()->Find(u"Arial:", index));
  EXPECT_EQ(again, index);
}

// The cached text measures and draws like the text laid out directly;
// a line without glyphs takes the font's extents; a font without outlines
// is replaced by the default one; without a vectoriser nothing is made.
TEST(GlyphCache, CachedTextMatchesTheLaidOutText) {
  TGlyphTestScope scope;
  TRef<TStringList> lines = LinesOf({u"Tg i", u"", u"ab"});
  TRef<TCachedVectorText> cached = BuildCachedVectorText(TestFont(), *lines);
  ASSERT_TRUE(cached);
  TRef<TVectorText> direct = CreateVectorText(TestFont(), *lines);
  ExpectSameLayout(cached.get(), direct.get());

  TLineMetrics empty;
  cached->GetLineMetrics(1, empty);
  EXPECT_EQ(empty.Ascent, 8);
  EXPECT_EQ(empty.Descent, 2);
  EXPECT_EQ(empty.Height, 10);
  EXPECT_EQ(empty.Width, 0);
  TLineMetrics first;
  cached->GetLineMetrics(0, first);
  EXPECT_EQ(first.Ascent, 11);  // 'T'
  EXPECT_EQ(first.Descent, 4);  // 'g'
  // Lines and parts outside the text are empty, not faults.
  EXPECT_EQ(cached->GetPartCount(7), 0);
  EXPECT_TRUE(PartOutline(cached.get(), 0, 99).empty());
  TPartBox box;
  cached->GetPartBox(-1, 0, box);
  EXPECT_EQ(box.Advance, 0);

  BuildCachedVectorText(TestFont(u"Bitmap Font", fsItalic), *LinesOf({u"x"}));
  EXPECT_EQ(TCountingVectorizer::LastFontName(), kDefaultVectorFontName);
  std::int32_t index;
  EXPECT_TRUE(FontCache()->Find(u"Arial:Italic", index));

  TGlyphTestScope none(false);
  EXPECT_FALSE(BuildCachedVectorText(TestFont(), *lines));
}

// A glyph made at one size and wanted at another is scaled, outline and
// extents alike, so that the line still measures what is drawn.
TEST(GlyphCache, GlyphsMadeAtAnotherSizeAreScaled) {
  TGlyphTestScope scope;
  TRef<TCachedVectorText> small = BuildCachedVectorText(TestFont(u"Arial", 0, 16), *LinesOf({u"T"}));
  TRef<TCachedVectorText> large = BuildCachedVectorText(TestFont(u"Arial", 0, 48), *LinesOf({u"T"}));
  EXPECT_EQ(TCountingVectorizer::Made, 1);
  const TPathPoints a = PartOutline(small.get(), 0, 0), b = PartOutline(large.get(), 0, 0);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_FLOAT_EQ(b[i].X, a[i].X * 3);
    EXPECT_FLOAT_EQ(b[i].Y, a[i].Y * 3);
    EXPECT_EQ(b[i].Code, a[i].Code);
  }
  TLineMetrics m;
  large->GetLineMetrics(0, m);
  EXPECT_FLOAT_EQ(m.Width, 30);
  EXPECT_FLOAT_EQ(m.Ascent, 33);
}

// Texts and glyph caches come back as stored; the font callback hears every
// glyph pointer's font before glyphs are looked up, so that it can load the
// font's stored glyphs in time; glyphs the cache lacks are left out.
TEST(GlyphCache, StoredTextsAndGlyphsRoundTrip) {
  TGlyphTestScope scope;
  TRef<TCachedVectorText> text =
      BuildCachedVectorText(TestFont(), *LinesOf({u"Tag", u"", u"i i"}));
  const std::string textBytes = SavedText(text.get());
  const std::string glyphBytes = SavedGlyphs(u"Arial:");

  TRef<TCachedVectorText> again = LoadText(textBytes);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->MissingGlyphCount(), 0);
  ExpectSameLayout(text.get(), again.get());
  EXPECT_EQ(again->FontMetrics().UnderlinePosition, text->FontMetrics().UnderlinePosition);
  EXPECT_EQ(SavedText(again.get()), textBytes);

  // Another show: the stored text finds no glyphs until the callback loads them.
  GlyphCacheContextHook(u"{other}");
  TRef<TCachedVectorText> bare = LoadText(textBytes);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->MissingGlyphCount(), 6);
  EXPECT_TRUE(PartOutline(bare.get(), 0, 0).empty());
  TLineMetrics m;
  bare->GetLineMetrics(0, m);
  EXPECT_EQ(m.Width, 0);
  EXPECT_EQ(m.Height, 10);

  struct TCalls {
    std::vector<WideString> keys;
    std::string glyphs;
  } calls{{}, glyphBytes};
  auto loadFont = [](void* data, const WideString& key) {
    auto* c = static_cast<TCalls*>(data);
    c->keys.push_back(key);
    std::int32_t index;
    if (FontCache()->Find(key, index)) return;
    TRef<TGlyphCache> cache = MakeRef<TGlyphCache>(key);
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(c->glyphs);
    ASSERT_TRUE(cache->LoadFromStream(s.get()));
    FontCache()->Insert(cache.get());
  };
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(textBytes);
  TRef<TCachedVectorText> loaded = LoadCachedVectorText(s.get(), loadFont, &calls);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(calls.keys, std::vector<WideString>(6, u"Arial:"));
  EXPECT_EQ(loaded->MissingGlyphCount(), 0);
  ExpectSameLayout(text.get(), loaded.get());
  EXPECT_EQ(TCountingVectorizer::Made, 5);  // T, a, g, i and the blank, all before the show changed
  EXPECT_EQ(SavedGlyphs(u"Arial:"), glyphBytes);

  // Only a TCachedVectorText can be stored.
  TRef<TVectorText> plain = CreateVectorText(TestFont(), *LinesOf({u"x"}));
  TRef<TMemoryStream> out = MakeRef<TMemoryStream>();
  EXPECT_NE(zmtest::RaisedText([&] { SaveCachedVectorText(plain.get(), out.get()); })
                .find("SaveCachedVectorText - Not a TCachedVectorText"),
            std::string::npos);
}

// Damaged stored texts and glyph caches load as nothing: every truncation,
// counts beyond the data (no list is sized by them), numbers that are not
// numbers, and path codes the rasteriser does not know. A failed glyph load
// leaves the cache empty.
TEST(GlyphCache, DamagedStoredDataLoadsAsNothing) {
  TGlyphTestScope scope;
  TRef<TCachedVectorText> text = BuildCachedVectorText(TestFont(), *LinesOf({u"ab", u"c"}));
  const std::string textBytes = SavedText(text.get());
  const std::string glyphBytes = SavedGlyphs(u"Arial:");

  for (std::size_t n = 0; n < textBytes.size(); ++n) EXPECT_FALSE(LoadText(textBytes.substr(0, n))) << n;
  // Extra bytes after the text are ignored.
  EXPECT_TRUE(LoadText(textBytes + "junk"));

  // Offsets: line count 0, metrics 4..27, first line's glyph count 28, its
  // first pointer: x 32, scale 36, index 40, key length 42.
  const auto damaged = [&](std::size_t at, std::int32_t v) {
    std::string b = textBytes;
    PutInt(b, at, v);
    return LoadText(b);
  };
  EXPECT_FALSE(damaged(0, 0x7FFFFFFF));
  EXPECT_FALSE(damaged(0, -1));
  EXPECT_FALSE(damaged(28, 0x40000000));
  EXPECT_FALSE(damaged(42, 0x7FFFFFFF));
  EXPECT_FALSE(damaged(42, -5));
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  std::int32_t bits;
  std::memcpy(&bits, &nan, 4);
  EXPECT_FALSE(damaged(36, bits));
  EXPECT_FALSE(damaged(12, bits));
  std::memcpy(&bits, &inf, 4);
  EXPECT_FALSE(damaged(36, bits));
  EXPECT_TRUE(damaged(0, 1));  // fewer lines than stored: what is left is ignored
  EXPECT_FALSE(LoadCachedVectorText(nullptr, nullptr, nullptr));

  TRef<TGlyphCache> cache = MakeRef<TGlyphCache>(u"Arial:");
  const auto loads = [&](const std::string& b) {
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(b);
    return cache->LoadFromStream(s.get());
  };
  ASSERT_TRUE(loads(glyphBytes));
  EXPECT_EQ(cache->Count(), 3);
  for (std::size_t n = 0; n < glyphBytes.size(); ++n) {
    EXPECT_FALSE(loads(glyphBytes.substr(0, n))) << n;
    EXPECT_EQ(cache->Count(), 0) << n;
  }
  // Offsets: glyph count 0, key length 4, key 8..19 ("Arial:"), first glyph
  // index 20, extents 22..41, outline scale 42, point count 46, first point
  // x 50, y 54, code 58.
  const auto damagedGlyphs = [&](std::size_t at, std::int32_t v) {
    std::string b = glyphBytes;
    PutInt(b, at, v);
    return loads(b);
  };
  EXPECT_FALSE(damagedGlyphs(0, 0x7FFFFFFF));
  EXPECT_FALSE(damagedGlyphs(4, 0x7FFFFFFF));
  EXPECT_FALSE(damagedGlyphs(46, 0x10000000));
  EXPECT_FALSE(damagedGlyphs(46, -1));
  EXPECT_FALSE(damagedGlyphs(58, 4));
  EXPECT_FALSE(damagedGlyphs(58, -1));
  std::memcpy(&bits, &nan, 4);
  EXPECT_FALSE(damagedGlyphs(50, bits));
  EXPECT_FALSE(damagedGlyphs(42, bits));
  EXPECT_TRUE(damagedGlyphs(58, pcControl3));
  EXPECT_EQ(cache->Count(), 3);
  // The stored key is not the cache's: the cache keeps its own.
  EXPECT_EQ(cache->FontKey(), u"Arial:");
  EXPECT_FALSE(cache->LoadFromStream(nullptr));
  EXPECT_EQ(cache->Count(), 0);
}
