#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruText.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"

namespace {

using namespace oru_image_test;
using oru::objects::TOruText;

zm::TSize BufferSize(void*, TOruSlideHost*) { return {64, 32}; }
zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return {0, 0, -100}; }
TOruSource* NoSource(void*, TOruSlideHost*) { return nullptr; }

// Slides of one show are built on the loader thread while the engine lays
// out another: their texts in one font meet in the glyph cache and the
// host, and each gets the same picture it would get alone.
TEST(OruTextThreads, SlidesRenderTextsOfOneFontAtOnce) {
  oru_test::TGlyphTestScope glyphs;
  TOruHostCallbacks cb;
  cb.EffectBufferSize.Code = &BufferSize;
  cb.Camera.Code = &Camera;
  cb.ShowSource.Code = &NoSource;
  zm::TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  zm::TRef<TOruSlideHost> host = zm::MakeRef<TOruSlideHost>(accessor.get(), cb, u"", false);
  const std::string body = Obj("T", "Text", "Text=Hello <%SlideIndex%>\\nworld\r\nFontName=Arial\r\n") +
                           Obj("U", "Text", "Text=held\r\nFontName=Arial\r\nFontStyle=Bold\r\n");
  constexpr int kThreads = 3, kRounds = 8;
  std::latch start(kThreads);
  std::vector<std::vector<std::int32_t>> sizes(kThreads);
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n)
    threads.emplace_back([&, n] {
      start.arrive_and_wait();
      for (int i = 0; i < kRounds; ++i) {
        TTestTree t = BuildHostedTree(body, host.get());
        TLogDrawer d;
        t.Slide->PrepareResources(d);
        t.Layout(0);
        auto* a = dynamic_cast<TOruText*>(t.Find("T"));
        auto* b = dynamic_cast<TOruText*>(t.Find("U"));
        if (!a || !b || !a->Picture || !b->Picture) {
          sizes[std::size_t(n)].push_back(-1);
          continue;
        }
        sizes[std::size_t(n)].push_back(a->PictureWidth * 100000 + b->PictureWidth);
        t.Slide->ReleaseResources(d);
      }
    });
  for (std::thread& t : threads) t.join();
  for (const auto& s : sizes)
    for (std::int32_t v : s) EXPECT_EQ(v, sizes[0][0]);
  EXPECT_GT(sizes[0][0], 0);
  host = nullptr;
}

}  // namespace
