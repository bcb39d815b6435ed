#include "ZmLib/3DBasics/CustomColorGradeTexture.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::BytesOf;

namespace {

TRef<TSysBitmap> NewTable(const char* format = PF_R8G8B8, std::int32_t w = kGradeCubeSize,
                          std::int32_t h = kGradeCubeRows) {
  return CreateSysBitmap(w, h, FindPixelFormat(format));
}

// The entry of red index x, green index y, blue index z.
TColor24 Entry(TSysBitmap* table, int x, int y, int z) { return table->Row24(32 * z + y)[x]; }

}  // namespace

TEST(ColorGradeTable, ZeroDifferencesGiveTheIdentityCube) {
  TRef<TSysBitmap> t = NewTable();
  AddIdentityLut24(t.get());
  for (int z = 0; z < 32; ++z)
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        ASSERT_EQ(Entry(t.get(), x, y, z), (TColor24{GradeLevel(z), GradeLevel(y), GradeLevel(x)})) << x << y << z;
}

TEST(ColorGradeTable, DifferencesWrapAroundPerByte) {
  TRef<TSysBitmap> t = NewTable();
  // 255 is -1: every level but 0 drops by one, and 0 wraps to 255.
  t->FillRect({0, 0, 32, 1024}, TColor32::FromValue(0xFFFFFFFF));
  AddIdentityLut24(t.get());
  EXPECT_EQ(Entry(t.get(), 0, 0, 0), (TColor24{255, 255, 255}));
  EXPECT_EQ(Entry(t.get(), 31, 16, 1), (TColor24{7, 131, 254}));
  EXPECT_EQ(Entry(t.get(), 31, 31, 31), (TColor24{254, 254, 254}));
}

TEST(ColorGradeTable, StoredDifferencesTurnBackIntoTheColours) {
  // A table of colours, stored as differences from the identity, comes back
  // whole: what a show's stored transform relies on.
  std::mt19937 rng(7);
  TRef<TSysBitmap> colours = NewTable();
  for (int row = 0; row < kGradeCubeRows; ++row)
    for (int x = 0; x < 32; ++x)
      colours->Row24(row)[x] = {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())};
  TRef<TSysBitmap> table = NewTable();
  for (int row = 0; row < kGradeCubeRows; ++row)
    for (int x = 0; x < 32; ++x) {
      const TColor24 c = colours->Row24(row)[x];
      table->Row24(row)[x] = {std::uint8_t(c.B - GradeLevel(row / 32)), std::uint8_t(c.G - GradeLevel(row % 32)),
                              std::uint8_t(c.R - GradeLevel(x))};
    }
  AddIdentityLut24(table.get());
  EXPECT_EQ(BytesOf(*table), BytesOf(*colours));
}

TEST(ColorGradeTable, OtherBitmapsAreRefusedUntouched) {
  EXPECT_NE(AssertionOf([] { AddIdentityLut24(nullptr); }), "(no assertion)");
  struct Case {
    const char* Format;
    std::int32_t W, H;
  } cases[] = {{PF_A8R8G8B8, 32, 1024}, {PF_R8G8B8, 32, 1023}, {PF_R8G8B8, 33, 1024}, {PF_R8G8B8, 1024, 32}};
  for (const Case& c : cases) {
    TRef<TSysBitmap> t = NewTable(c.Format, c.W, c.H);
    const std::vector<std::uint8_t> before = BytesOf(*t);
    EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { AddIdentityLut24(t.get()); }), "AddIdentityLut24"))
        << c.Format << " " << c.W << "x" << c.H;
    EXPECT_EQ(BytesOf(*t), before);
  }
}
