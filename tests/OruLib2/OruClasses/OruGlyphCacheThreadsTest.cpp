#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruGlyphCache.h"
#include "OruLib2/OruClasses/OruTextBitmapStore.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"

using namespace zm;
using namespace oru;
using oru_test::LinesOf;
using oru_test::TCountingVectorizer;
using oru_test::TestFont;
using oru_test::TGlyphTestScope;

// Texts built at once in one font make each glyph once, while the show
// changes under them: a text keeps every glyph it was built with.
TEST(GlyphCacheThreads, BuildersShareGlyphsWhileTheShowChanges) {
  TGlyphTestScope scope;
  constexpr int kBuilders = 4;
  std::latch start(kBuilders);
  std::vector<std::thread> threads;
  for (int t = 0; t < kBuilders; ++t)
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int i = 0; i < 10; ++i) {
        TRef<TCachedVectorText> text = BuildCachedVectorText(TestFont(), *LinesOf({u"abcdefgh"}));
        ASSERT_TRUE(text);
        EXPECT_EQ(text->MissingGlyphCount(), 0);
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(TCountingVectorizer::Made, 8);
  EXPECT_EQ(FontCache()->Count(), 1);

  std::latch again(3);
  std::thread switcher([&] {
    again.arrive_and_wait();
    for (int i = 0; i < 40; ++i) FontCache()->SetContext(i % 2 ? u"{one}" : u"{two}");
  });
  std::vector<std::thread> builders;
  for (int t = 0; t < 2; ++t)
    builders.emplace_back([&] {
      again.arrive_and_wait();
      for (int i = 0; i < 20; ++i) {
        TRef<TCachedVectorText> text = BuildCachedVectorText(TestFont(), *LinesOf({u"xyz", u"ab"}));
        ASSERT_TRUE(text);
        EXPECT_EQ(text->MissingGlyphCount(), 0);
        TPathPoints p;
        text->VectorizePart(1, 1, p);
        EXPECT_EQ(p.size(), 4u);
      }
    });
  switcher.join();
  for (std::thread& t : builders) t.join();
}

// Threads that ask one store for its picture at once get it rendered once.
TEST(GlyphCacheThreads, TextStoreRendersLevelZeroOnce) {
  TGlyphTestScope scope;
  TTextKeyParams p = DefaultTextKeyParams;
  p.FontName = u"Arial";
  TRef<TTextBitmapStore> store =
      TTextBitmapStore::Create(MakeTextKey(*LinesOf({u"ab"}), p).substr(6), nullptr);
  ASSERT_TRUE(store);
  TPixelFormat* format = PixelFormatByName(TByteString(PF_A8R8G8B8));
  std::latch start(3);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      EXPECT_TRUE(store->GetMipLevel(t % 2, format, nullptr));
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(store->RenderCount(), 1);
}
