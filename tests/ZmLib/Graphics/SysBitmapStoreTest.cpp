#include "ZmLib/Graphics/SysBitmapStore.h"

#include <gtest/gtest.h>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace {

TRef<TSysBitmap> Numbered(std::int32_t w, std::int32_t h) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, pfR8G8B8);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->ScanLine(y)[x * 3] = std::uint8_t(y * w + x);
  return b;
}

std::uint8_t First(TBitmap* b, std::int32_t x, std::int32_t y) {
  return static_cast<TSysBitmap*>(b)->ScanLine(y)[x * b->BytesPerPixel()];
}

}  // namespace

TEST(SysBitmapStore, LevelSizesHalveRoundingUp) {
  TRef<TImage> odd = GetSysBitmapHook(Numbered(5, 3).get(), false, u"odd");
  const TPoint expect[] = {{5, 3}, {3, 2}, {2, 1}, {1, 1}, {1, 1}};
  for (int level = 0; level < 5; ++level)
    EXPECT_EQ(odd->Store()->GetMipLevel(level, nullptr, nullptr)->Size(), expect[level]) << level;
  TRef<TImage> one = GetSysBitmapHook(Numbered(1, 1).get(), false, u"one");
  EXPECT_EQ(one->Store()->GetMipLevel(3, nullptr, nullptr)->Size(), (TPoint{1, 1}));
  EXPECT_TRUE(Contains(AssertionOf([&] {
                         TMipLevelResult r;
                         static_cast<TSysBitmapStore*>(one->Store())->BuildMipLevel(-1, nullptr, r, nullptr);
                       }),
                       "'TSysBitmapStore.GetMipLevel - Index<0'"));
}

TEST(SysBitmapStore, WrapperAnswersLevelZeroWithItsBitmap) {
  TRef<TSysBitmap> b = Numbered(4, 4);
  b->SetResolution(300, 300);
  TRef<TImage> image = GetSysBitmapHook(b.get(), false, u"w");
  EXPECT_EQ(image->GetBitmap(), b.get());  // not a copy
  EXPECT_EQ(b->RefCount(), 3);             // ours, the store's and its level's
  TBitmap* l1 = image->Store()->GetMipLevel(1, nullptr, nullptr);
  EXPECT_EQ(l1->Size(), (TPoint{2, 2}));
  EXPECT_EQ(l1->HorzResolution, 300);
  // A class asked for that the level's bitmap is not: converted and kept.
  TBitmap* asDib = image->Store()->GetMipLevel(1, pfR8G8B8, TDibBitmap::StaticClass());
  EXPECT_EQ(First(asDib, 1, 1), First(l1, 1, 1));
  image = nullptr;
  EXPECT_EQ(b->RefCount(), 1);
  EXPECT_FALSE(GetSysBitmapHook(nullptr, true, u"nil"));
}

TEST(SysBitmapStore, OrientationFixUpsTurnTheSourceLevel) {
  TImageLoadHandler handler;
  std::vector<WideString> asked;
  int orientation = 6;
  handler.FixUpFor = [&](const WideString& name) {
    asked.push_back(name);
    return RotateBitmapProcFor(orientation);
  };
  TRef<TSysBitmap> b = CreateSysBitmap(640, 480, pfR8G8B8);
  b->ScanLine(0)[0] = 77;  // top-left
  TRef<TWrapperBitmapStore> s = MakeRef<TWrapperBitmapStore>(u"photo.jpg", handler, false, b.get());
  EXPECT_EQ(asked, std::vector<WideString>{u"photo.jpg"});
  TBitmap* l0 = s->GetMipLevel(0, nullptr, nullptr);
  EXPECT_EQ(l0->Size(), (TPoint{480, 640}));
  EXPECT_EQ(First(l0, 479, 0), 77);  // the top-left went to the top-right
  // A level in another format is converted to the working format first.
  TRef<TSysBitmap> grey = CreateSysBitmap(2, 1, FindPixelFormat(PF_Y8));
  TRef<TWrapperBitmapStore> sg = MakeRef<TWrapperBitmapStore>(u"g", handler, false, grey.get());
  TBitmap* tg = sg->GetMipLevel(0, nullptr, nullptr);
  EXPECT_EQ(tg->PixelFormat(), pfR8G8B8);
  EXPECT_EQ(tg->Size(), (TPoint{1, 2}));
  EXPECT_EQ(RotateBitmapProcFor(5), nullptr);
}
