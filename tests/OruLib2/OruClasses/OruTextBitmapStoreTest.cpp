#include "OruLib2/OruClasses/OruTextBitmapStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <span>
#include <string>

#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using oru_test::LinesOf;
using oru_test::TCountingVectorizer;
using oru_test::TGlyphTestScope;

namespace {

class TTextTestSource : public TFileSource {
public:
  std::map<WideString, std::string> files;
  TStream* OpenFile(const WideString& name) override {
    auto it = files.find(name);
    return it == files.end() ? nullptr : zmtest::MemoryStreamOf(it->second).Detach();
  }
};

TPixelFormat* Format32() { return PixelFormatByName(TByteString(PF_A8R8G8B8)); }

// The description of "Hi" / "go" in Arial at Scale.
WideString Description(double scale, std::uint8_t style = 0) {
  TTextKeyParams p = DefaultTextKeyParams;
  p.FontName = u"Arial";
  p.Style = style;
  p.Scale = scale;
  return MakeTextKey(*EncodeMarkedLines(*LinesOf({u"Hi", u"go"})), p).substr(6);
}

std::int32_t CoveredPixels(TBitmap* b) {
  std::int32_t n = 0;
  std::vector<std::uint32_t> row(std::size_t(b->Width()));
  for (std::int32_t y = 0; y < b->Height(); ++y) {
    b->GetPixels32(std::span<std::uint32_t>(row), 0, 0, y, b->Width());
    for (std::uint32_t px : row)
      if (px >> 24) {
        ++n;
        EXPECT_EQ(px & 0xFFFFFF, 0xFFFFFFu);  // the default colour, coverage as alpha
      }
  }
  return n;
}

class TextBitmapStore : public ::testing::Test {
protected:
  void SetUp() override {
    source_ = MakeRef<TTextTestSource>();
    accessor_ = MakeRef<TFileAccessor>(source_.get());
  }

  // Stores the outlines of Description's text as a show made with another
  // process would carry them, then starts a fresh glyph cache.
  void StoreOutlines(const WideString& description, bool withGlyphs = true) {
    TRef<TStringList> marked = MakeRef<TStringList>();
    TTextKeyParams p = DefaultTextKeyParams;
    ParseTextKey(kTextKeyPrefix + description, *marked, p);
    TRef<TStringList> lines = MakeRef<TStringList>();
    for (std::int32_t i = 0; i < marked->GetCount(); ++i) lines->Add(DecodeMarkedText(marked->GetString(i)));
    TRef<TCachedVectorText> text =
        BuildCachedVectorText(MakeFontParams(p.FontName, p.Style, true, kCachedTextFontSize, {}, {}), *lines);
    ASSERT_TRUE(text);
    TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
    SaveCachedVectorText(text.get(), s.get());
    source_->files[MakeVectorTextKey(kTextKeyPrefix + description)] = zmtest::StreamBytes(s.get());
    if (withGlyphs) {
      std::int32_t index;
      TRef<TMemoryStream> g = MakeRef<TMemoryStream>();
      FontCache()->Find(text->Lines()[0]->Glyphs[0]->FontKey, index)->SaveToStream(g.get());
      source_->files[VectorTextCacheName(text->Lines()[0]->Glyphs[0]->FontKey)] = zmtest::StreamBytes(g.get());
    }
    storedSize_ = text->GetSize(p.Scale, p.LineSpacing);
    GlyphCacheContextHook(u"{show made elsewhere}");
    TCountingVectorizer::Made = 0;
    TCountingVectorizer::Elements = 0;
  }

  TRef<TTextTestSource> source_;
  TRef<TFileAccessor> accessor_;
  TSize storedSize_;
};

}  // namespace

// A show that carries the text's outlines renders them with no vectoriser
// at all; level 0 is rendered once, on demand, and the smaller levels are
// halved from it by the base store.
TEST_F(TextBitmapStore, StoredOutlinesRenderWithoutVectorising) {
  TGlyphTestScope scope;
  const WideString d = Description(0.5);
  StoreOutlines(d);
  scope.Vectorizer.Set(&DefCreateVectorizer);

  TRef<TTextBitmapStore> store = TTextBitmapStore::Create(d, accessor_.get());
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Text()->MissingGlyphCount(), 0);
  std::int32_t index;
  EXPECT_TRUE(FontCache()->Find(u"Arial:", index));
  EXPECT_EQ(store->Size().X, storedSize_.cx);
  EXPECT_EQ(store->Size().Y, storedSize_.cy);
  EXPECT_EQ(store->RenderCount(), 0);

  TMipLevelResult other;
  store->GetSourceLevel(1, other);
  EXPECT_FALSE(other.Bitmap);
  TBitmap* full = store->GetMipLevel(0, Format32(), nullptr);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->Width(), store->Size().X);
  EXPECT_EQ(full->Height(), store->Size().Y);
  EXPECT_GT(CoveredPixels(full), 20);
  store->GetMipLevel(0, Format32(), nullptr);
  TBitmap* half = store->GetMipLevel(1, Format32(), nullptr);
  ASSERT_TRUE(half);
  EXPECT_EQ(half->Width(), (store->Size().X + 1) / 2);
  EXPECT_EQ(store->RenderCount(), 1);
  EXPECT_EQ(TCountingVectorizer::Made + TCountingVectorizer::Elements, 0);

  // Sizes that are not positive numbers mean the store's own.
  const TSize own = store->Measure(0.5);
  for (double bad : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(store->Measure(bad).cx, own.cx);
    EXPECT_EQ(store->Measure(bad).cy, own.cy);
    EXPECT_EQ(store->LineHeight(bad), store->LineHeight(0.5));
  }
  EXPECT_GT(store->Measure(1.0).cx, own.cx);
}

// A text the show does not carry is vectorised once; its glyphs enter the
// glyph cache and serve the next text. The slide host's hook makes images
// over these stores.
TEST_F(TextBitmapStore, MissingOutlinesAreMadeOnceAndCached) {
  TGlyphTestScope scope;
  TRef<TTextBitmapStore> a = TTextBitmapStore::Create(Description(1.0), accessor_.get());
  ASSERT_TRUE(a);
  EXPECT_EQ(TCountingVectorizer::Made, 4);  // H, i, g, o
  TRef<TTextBitmapStore> b = TTextBitmapStore::Create(Description(2.0), nullptr);
  ASSERT_TRUE(b);
  EXPECT_EQ(TCountingVectorizer::Made, 4);
  // The style is part of the font: underlined glyphs are a font of their
  // own, and the renderer draws the bar.
  TRef<TTextBitmapStore> c = TTextBitmapStore::Create(Description(1.0, fsUnderline), accessor_.get());
  ASSERT_TRUE(c);
  EXPECT_EQ(TCountingVectorizer::Made, 8);
  EXPECT_GT(CoveredPixels(c->GetMipLevel(0, Format32(), nullptr)),
            CoveredPixels(a->GetMipLevel(0, Format32(), nullptr)) + 10);

  ASSERT_TRUE(CreateTextBitmapMakerHook);
  TRef<TTextBitmapMaker> maker = CreateTextBitmapMakerHook();
  TRef<TImage> image = maker->MakeTextBitmap(Description(2.0), accessor_.get());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Params.Width, b->Size().X);
  EXPECT_EQ(image->GetBitmap()->Height(), b->Size().Y);
  EXPECT_EQ(TCountingVectorizer::Made, 8);
}

// Stored outlines that are damaged or lack their glyphs are made again when
// a vectoriser can; without one an incomplete text still makes a store and
// a damaged one none. Scales that give no picture give no store.
TEST_F(TextBitmapStore, DamagedOrIncompleteOutlinesAndBadScales) {
  TGlyphTestScope scope;
  const WideString d = Description(1.0);
  StoreOutlines(d, false);
  scope.Vectorizer.Set(&DefCreateVectorizer);
  TRef<TTextBitmapStore> incomplete = TTextBitmapStore::Create(d, accessor_.get());
  ASSERT_TRUE(incomplete);
  EXPECT_EQ(incomplete->Text()->MissingGlyphCount(), 4);
  EXPECT_EQ(CoveredPixels(incomplete->GetMipLevel(0, Format32(), nullptr)), 0);

  scope.Vectorizer.Set(&oru_test::CreateCountingVectorizer);
  TRef<TTextBitmapStore> rebuilt = TTextBitmapStore::Create(d, accessor_.get());
  ASSERT_TRUE(rebuilt);
  EXPECT_EQ(rebuilt->Text()->MissingGlyphCount(), 0);
  EXPECT_EQ(rebuilt->Size().X, storedSize_.cx);
  EXPECT_EQ(TCountingVectorizer::Made, 4);

  // A damaged glyph entry counts as none; a damaged text entry is made
  // again, which takes a vectoriser.
  GlyphCacheContextHook(u"{again}");
  scope.Vectorizer.Set(&DefCreateVectorizer);
  source_->files[VectorTextCacheName(u"Arial:")] = std::string(40, '\xFF');
  TRef<TTextBitmapStore> noGlyphs = TTextBitmapStore::Create(d, accessor_.get());
  ASSERT_TRUE(noGlyphs);
  EXPECT_EQ(noGlyphs->Text()->MissingGlyphCount(), 4);
  source_->files[MakeVectorTextKey(kTextKeyPrefix + d)] = std::string("\x02\x00", 2);
  EXPECT_FALSE(TTextBitmapStore::Create(d, accessor_.get()));
  EXPECT_FALSE(CreateTextBitmapMakerHook()->MakeTextBitmap(d, accessor_.get()));
  scope.Vectorizer.Set(&oru_test::CreateCountingVectorizer);
  EXPECT_TRUE(TTextBitmapStore::Create(d, accessor_.get()));

  scope.Vectorizer.Set(&oru_test::CreateCountingVectorizer);
  for (double scale : {0.0, -2.0, 1e9}) EXPECT_FALSE(TTextBitmapStore::Create(Description(scale), nullptr)) << scale;
}

// What a slide cannot show is cut however the text arrives: a description
// of too many lines, and stored outlines of more than their name says.
TEST_F(TextBitmapStore, TextsLargerThanASlideAreCut) {
  TGlyphTestScope scope;
  TRef<TStringList> many = MakeRef<TStringList>();
  for (std::size_t i = 0; i < kMaxTextLines + 500; ++i) many->Add(u"ab");
  TTextKeyParams p = DefaultTextKeyParams;
  p.FontName = u"Arial";
  TRef<TTextBitmapStore> made =
      TTextBitmapStore::Create(MakeTextKey(*EncodeMarkedLines(*many), p).substr(6), accessor_.get());
  ASSERT_TRUE(made);
  EXPECT_EQ(made->Text()->Lines().size(), kMaxTextLines);
  EXPECT_EQ(TCountingVectorizer::Elements, std::int32_t(kMaxTextLines));

  // Outlines of 1500 lines of 30 glyphs stored under the name of "Hi" / "go".
  TRef<TStringList> stored = MakeRef<TStringList>();
  for (int i = 0; i < 1500; ++i) stored->Add(WideString(30, u'x'));
  TRef<TCachedVectorText> text =
      BuildCachedVectorText(MakeFontParams(u"Arial", 0, true, kCachedTextFontSize, {}, {}), *stored);
  ASSERT_TRUE(text);
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  SaveCachedVectorText(text.get(), s.get());
  const WideString d = Description(1.0);
  source_->files[MakeVectorTextKey(kTextKeyPrefix + d)] = zmtest::StreamBytes(s.get());
  const WideString font = text->Lines()[0]->Glyphs[0]->FontKey;
  std::int32_t index;
  TRef<TMemoryStream> g = MakeRef<TMemoryStream>();
  FontCache()->Find(font, index)->SaveToStream(g.get());
  source_->files[VectorTextCacheName(font)] = zmtest::StreamBytes(g.get());
  GlyphCacheContextHook(u"{show made elsewhere}");
  TGlyphTestScope none(false);
  TRef<TTextBitmapStore> read = TTextBitmapStore::Create(d, accessor_.get());
  ASSERT_TRUE(read);
  std::size_t glyphs = 0;
  for (const TRef<TGlyphLine>& line : read->Text()->Lines()) glyphs += line->Glyphs.size();
  EXPECT_LE(read->Text()->Lines().size(), kMaxTextLines);
  EXPECT_EQ(glyphs, kMaxTextLength);
}
