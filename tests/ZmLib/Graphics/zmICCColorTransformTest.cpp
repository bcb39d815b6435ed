#include "ZmLib/Graphics/zmICCColorTransform.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/Gdi/PlatMscms.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/winColorManagement.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;
using zmtest::BitmapOf;
using zmtest::BytesOf;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A picture of saturated and mixed colours with some alpha.
TRef<TSysBitmap> Colours(const char* format) {
  const bool four = TByteString(format) == TByteString(PF_A8R8G8B8);
  Bytes b;
  const std::uint8_t px[][4] = {{0, 0, 255, 10}, {0, 255, 0, 20}, {255, 0, 0, 30}, {40, 120, 200, 40},
                                {0, 0, 0, 50},   {255, 255, 255, 60}};
  for (const auto& p : px) b.insert(b.end(), p, p + (four ? 4 : 3));
  return BitmapOf(format, 3, 2, b);
}

const std::vector<std::uint8_t>& Icc(TColorProfile* p) { return p->Data(); }

int MaxDifference(const Bytes& a, const Bytes& b, int stride = 1) {
  int d = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (stride == 1 || i % std::size_t(stride) != std::size_t(stride - 1)) d = std::max(d, std::abs(a[i] - b[i]));
  return d;
}

bool gStop = false;
bool StopAtOnce() { return !gStop; }

}  // namespace

TEST(ICCTransform, SameProfileStaysWithinRounding) {
  for (const char* f : {PF_R8G8B8, PF_A8R8G8B8}) {
    TRef<TSysBitmap> b = Colours(f);
    const Bytes before = BytesOf(*b);
    EXPECT_TRUE(TransformBitmapRect(b.get(), b.get(), TRect{0, 0, 3, 2}, 0, Icc(AdobeRGBProfile()),
                                    Icc(AdobeRGBProfile()), nullptr));
    EXPECT_LE(MaxDifference(before, BytesOf(*b)), 2) << f;
  }
}

TEST(ICCTransform, ProfilesChangeColoursAndKeepAlpha) {
  TRef<TSysBitmap> b = Colours(PF_A8R8G8B8);
  const Bytes before = BytesOf(*b);
  TRef<TSysBitmap> out = CreateSysBitmap(3, 2, pfA8R8G8B8);
  EXPECT_TRUE(TransformBitmapRect(b.get(), out.get(), TRect{0, 0, 3, 2}, 0, Icc(sRGBProfile()),
                                  Icc(FunkyRGBProfile()), nullptr));
  const Bytes after = BytesOf(*out);
  EXPECT_GT(MaxDifference(before, after, 4), 20);  // a wide gamut moves saturated colours
  for (std::size_t i = 3; i < after.size(); i += 4) EXPECT_EQ(after[i], before[i]) << "alpha of pixel " << i / 4;
  EXPECT_EQ(BytesOf(*b), before);  // the source is untouched
  // Through the transform object made by the hook.
  TRef<TColorTransform> t = CreateColorTransform(sRGBProfile(), FunkyRGBProfile());
  t->TransformBitmap(b.get());
  EXPECT_LE(MaxDifference(BytesOf(*b), after), 1);
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([] { CreateICCColorTransform(nullptr, sRGBProfile()); }),
                               "Profile not Assigned"));
}

TEST(ICCTransform, WhatIsNotConvertedStaysAsItIs) {
  const auto transform = [](TSysBitmap* s, TSysBitmap* t, TRect r, const Bytes& from, bool (*stop)() = nullptr) {
    return TransformBitmapRect(s, t, r, 0, from, Icc(FunkyRGBProfile()), stop);
  };
  // A 16-bit bitmap, differing formats, a bad profile, a rectangle outside.
  TRef<TSysBitmap> w = BitmapOf(PF_B5G6R5, 2, 1, {1, 2, 3, 4});
  EXPECT_FALSE(transform(w.get(), w.get(), TRect{0, 0, 2, 1}, Icc(sRGBProfile())));
  EXPECT_EQ(BytesOf(*w), (Bytes{1, 2, 3, 4}));
  TRef<TSysBitmap> a = Colours(PF_R8G8B8), c = Colours(PF_A8R8G8B8);
  const Bytes before = BytesOf(*a);
  EXPECT_FALSE(transform(a.get(), c.get(), TRect{0, 0, 3, 2}, Icc(sRGBProfile())));
  EXPECT_FALSE(transform(a.get(), a.get(), TRect{0, 0, 3, 2}, Bytes(300, 0x5A)));
  EXPECT_FALSE(transform(a.get(), a.get(), TRect{5, 5, 9, 9}, Icc(sRGBProfile())));
  EXPECT_EQ(BytesOf(*a), before);
  // Only the part of the rectangle inside the bitmap is converted.
  EXPECT_TRUE(transform(a.get(), a.get(), TRect{2, -5, 9, 1}, Icc(sRGBProfile())));
  const Bytes part = BytesOf(*a);
  EXPECT_TRUE(std::equal(part.begin(), part.begin() + 6, before.begin()));
  EXPECT_NE(Bytes(part.begin() + 6, part.begin() + 9), Bytes(before.begin() + 6, before.begin() + 9));
  // The load callback stops the work.
  TRef<TSysBitmap> d = Colours(PF_R8G8B8);
  gStop = true;
  EXPECT_FALSE(transform(d.get(), d.get(), TRect{0, 0, 3, 2}, Icc(sRGBProfile()), &StopAtOnce));
  EXPECT_EQ(BytesOf(*d), before);
  // Without the library nothing happens at all.
  const TLcmsBinding saved = SetLcmsBinding(TLcmsBinding{});
  EXPECT_FALSE(transform(d.get(), d.get(), TRect{0, 0, 3, 2}, Icc(sRGBProfile())));
  SetLcmsBinding(saved);
  EXPECT_EQ(BytesOf(*d), before);
}

// ---- The system's colour folder and the monitor's profile ----------------------------------

namespace {
class ColorFolder : public ::testing::Test {
protected:
  void SetUp() override {
    plat::SetColorDirectoryForTests(WideString(dir_.Path().begin(), dir_.Path().end()));
    SetColorLibraryMissingForTests(false);
  }
  void TearDown() override {
    plat::SetColorDirectoryForTests(u"");
    plat::SetScreenProfileForTests(u"");
    plat::SetStandardProfileForTests(u"");
    SetColorLibraryMissingForTests(false);
  }
  WideString Wide(const std::string& s) { return WideString(s.begin(), s.end()); }
  zmtest::TTempFolder dir_;
};
}  // namespace

TEST_F(ColorFolder, NamesWithoutFolderAreFoundInTheColourFolder) {
  const WideString folder = GetColorDirectory();
  EXPECT_EQ(folder, Wide(dir_.Path()) + u"\\");  // a trailing "\" is added
  zmtest::WriteFileBytes(dir_.File("monitor.icc"), "icc");
  WideString p = u"monitor.icc";
  EXPECT_TRUE(ResolveProfilePath(p));
  EXPECT_EQ(p, folder + u"monitor.icc");
  WideString missing = u"nothere.icc";
  EXPECT_FALSE(ResolveProfilePath(missing));
  EXPECT_EQ(missing, u"nothere.icc");
}
