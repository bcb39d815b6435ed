#include "ZmLib/Graphics/zmColorProfiles.h"

#include <gtest/gtest.h>

#include <string_view>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace {

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Restores the display profile and the transform hook after a test.
class ColorProfiles : public ::testing::Test {
protected:
  void TearDown() override {
    SetDisplayColorProfile(nullptr, true);
    transform_.Restore();
  }
  zm::THookScope<TCreateColorTransformProc> transform_{CreateColorTransformHook};
};

// Counts the transforms made and the bitmaps they converted.
int gMade = 0;
class TInvertTransform : public TColorTransform {
public:
  using TColorTransform::TColorTransform;
  void TransformBitmap(TBitmap* bitmap) override {
    auto* b = static_cast<TSysBitmap*>(bitmap);
    for (std::int32_t y = 0; y < b->Height(); ++y)
      for (std::int32_t x = 0; x < b->Width() * 3; ++x) b->ScanLine(y)[x] = std::uint8_t(255 - b->ScanLine(y)[x]);
  }
};
TRef<TColorTransform> MakeInvert(TColorProfile* s, TColorProfile* t) {
  ++gMade;
  return MakeRef<TInvertTransform>(s, t);
}

}  // namespace

TEST_F(ColorProfiles, DataMentioningSRGBGivesTheBuiltInProfile) {
  const std::vector<std::uint8_t> copy = sRGBProfile()->Data();
  EXPECT_EQ(ColorProfileFromData(copy, u"from file").get(), sRGBProfile());
  EXPECT_FALSE(ColorProfileFromData({}, u"nothing"));
  EXPECT_NE(ColorProfileFromData(AdobeRGBProfile()->Data(), u"mine").get(), AdobeRGBProfile());
  // Only the first 512 bytes are searched.
  std::string late(600, 'x');
  late.replace(520, 17, "sRGB IEC61966-2.1");
  EXPECT_NE(ColorProfileFromData(Bytes(late), u"late").get(), sRGBProfile());
  std::string early(600, 'x');
  early.replace(495, 17, "sRGB IEC61966-2.1");
  EXPECT_EQ(ColorProfileFromData(Bytes(early), u"early").get(), sRGBProfile());
}

TEST_F(ColorProfiles, DisplayProfileAndTransforms) {
  EXPECT_EQ(CurrentColorProfile(), sRGBProfile());
  // Both sides sRGB: no transform.
  EXPECT_FALSE(CreateColorTransform(nullptr, nullptr));
  TRef<TColorProfile> mine = ColorProfileFromData(FunkyRGBProfile()->Data(), u"monitor");
  SetDisplayColorProfile(mine.get(), false);
  TRef<TColorTransform> t = CreateColorTransform(nullptr, nullptr);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Target(), mine.get());
  EXPECT_FALSE(CreateColorTransform(mine.get(), mine.get()));
  transform_.Set(nullptr);
  EXPECT_FALSE(CreateColorTransform(nullptr, mine.get()));
  SetDisplayColorProfile(nullptr, false);
  EXPECT_EQ(mine->RefCount(), 2);  // the transform still holds it
  t = nullptr;
  EXPECT_EQ(mine->RefCount(), 1);
}

TEST_F(ColorProfiles, SingleColoursThroughTheLookupGrid) {
  TColor24 out;
  // No display profile and no profile: unchanged.
  CorrectColorByProfile(nullptr, out, TColor24{1, 2, 3});
  EXPECT_EQ(out, (TColor24{1, 2, 3}));
  // The built-in sRGB itself: no transform, no grid, unchanged.
  CorrectColorByProfile(sRGBProfile(), out, TColor24{9, 8, 7});
  EXPECT_EQ(out, (TColor24{9, 8, 7}));
  EXPECT_EQ(sRGBProfile()->LookupBitmap(), nullptr);
  // A transform that inverts: the grid is made once and mixes between nodes.
  gMade = 0;
  transform_.Set(&MakeInvert);
  TRef<TColorProfile> p = MakeRef<TColorProfile>(FunkyRGBProfile()->Data(), u"p");
  CorrectColorByProfile(p.get(), out, TColor24{0, 0, 0});
  EXPECT_EQ(out, (TColor24{255, 255, 255}));
  CorrectColorByProfile(p.get(), out, TColor24{255, 255, 255});
  EXPECT_EQ(out, (TColor24{0, 0, 0}));
  CorrectColorByProfile(p.get(), out, TColor24{128, 60, 200});
  EXPECT_NEAR(out.G, 195, 1);
  EXPECT_EQ(gMade, 1);
}

TEST(ColorLut, IdentityGridAndExactNodes) {
  TRef<TSysBitmap> lut = CreateSysBitmap(32, 1024, pfR8G8B8);
  FillColorLut(lut.get());
  // Row blue * 32 + green, column red; level i stands for i * 8 + i div 4.
  EXPECT_EQ(lut->Row24(3 * 32 + 5)[7], (TColor24{24, 41, 57}));
  for (int c : {1, 8, 57, 200, 254}) {
    const auto v = std::uint8_t(c);
    const TColor24 got = LutLookup(lut.get(), TColor24{v, v, v});
    EXPECT_NEAR(got.B, c, 1) << c;
    EXPECT_EQ(got.B, got.R);
  }
  // Black and white are read from single nodes: poison the neighbours.
  lut->Row24(1)[1] = TColor24{99, 99, 99};
  lut->Row24(32)[0] = TColor24{99, 99, 99};
  lut->Row24(0)[1] = TColor24{99, 99, 99};
  EXPECT_EQ(LutLookup(lut.get(), TColor24{0, 0, 0}), (TColor24{0, 0, 0}));
  lut->Row24(30 * 32 + 30)[30] = TColor24{1, 1, 1};
  EXPECT_EQ(LutLookup(lut.get(), TColor24{255, 255, 255}), (TColor24{255, 255, 255}));
}
