#include "ZmLib/3DBasics/CustomColorGradeTexture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <thread>

#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/zmHookScope.h"
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

namespace {

std::uint32_t Argb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | b;
}

// Samples a 32-bit cube as the grading shaders do: the colour scaled by
// 0.96875 and offset by 0.015625 (texel centres), trilinear, clamped.
std::uint32_t SampleCube(TSysBitmap* cube, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  auto at = [](std::uint8_t c, int& i, double& f) {
    const double t = (c / 255.0 * 0.96875 + 0.015625) * 32 - 0.5;
    i = std::min(30, int(t));
    f = t - i;
  };
  int ix, iy, iz;
  double fx, fy, fz;
  at(r, ix, fx), at(g, iy, fy), at(b, iz, fz);
  std::uint32_t out = 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    double sum = 0;
    for (int k = 0; k < 8; ++k) {
      const int dx = k & 1, dy = (k >> 1) & 1, dz = k >> 2;
      const double w = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy) * (dz ? fz : 1 - fz);
      sum += w * double((cube->Row32(32 * (iz + dz) + iy + dy)[ix + dx] >> shift) & 0xFF);
    }
    out |= std::uint32_t(sum + 0.5) << shift;
  }
  return out;
}

int MaxChannelDiff(std::uint32_t a, std::uint32_t b) {
  int d = 0;
  for (int shift = 0; shift < 32; shift += 8)
    d = std::max(d, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
  return d;
}

// Marks the cubes it transforms: entry (0, 0, 0) takes the target's first
// data byte as red.
class TMarkTransform : public TColorTransform {
public:
  using TColorTransform::TColorTransform;
  void TransformBitmap(TBitmap* bitmap) override {
    ++gCalls;
    auto* b = static_cast<TSysBitmap*>(bitmap);
    b->Row32(0)[0] = Argb(Target()->Data()[0], 0, 0);
  }
  static inline int gCalls = 0;
};

TRef<TColorTransform> MarkHook(TColorProfile* source, TColorProfile* target) {
  return MakeRef<TMarkTransform>(source, target);
}

class SharedGradeTable : public ::testing::Test {
protected:
  void SetUp() override {
    FreeSharedGradeTables();
    transform_.Set(&MarkHook);
    TMarkTransform::gCalls = 0;
  }
  void TearDown() override {
    transform_.Restore();
    FreeSharedGradeTables();
  }
  static TRef<TColorProfile> Profile(std::uint8_t tag, const char16_t* name) {
    const std::uint8_t data[4] = {tag, 1, 2, 3};
    return MakeRef<TColorProfile>(std::span<const std::uint8_t>(data), WideString(name));
  }
  zm::THookScope<TCreateColorTransformProc> transform_{CreateColorTransformHook};
};

}  // namespace

TEST(ColorGradeTable, LatticeLevels) {
  EXPECT_EQ(GradeLevel(0), 0);
  EXPECT_EQ(GradeLevel(1), 8);
  EXPECT_EQ(GradeLevel(4), 33);
  EXPECT_EQ(GradeLevel(16), 132);
  EXPECT_EQ(GradeLevel(31), 255);
}

TEST(ColorGradeTable, IdentityTablesOfBothWidths) {
  TRef<TSysBitmap> t24 = NewTable();
  FillIdentity24(t24.get());
  TRef<TSysBitmap> zero = NewTable();
  AddIdentity24(zero.get());
  EXPECT_EQ(BytesOf(*t24), BytesOf(*zero));

  TRef<TSysBitmap> cube = NewTable(PF_A8R8G8B8);
  FillIdentityCube32(cube.get());
  EXPECT_EQ(cube->Row32(0)[0], 0xFF000000u);
  EXPECT_EQ(cube->Row32(32 * 16 + 31)[1], Argb(8, 255, 132));
  EXPECT_EQ(cube->Row32(1023)[31], 0xFFFFFFFFu);

  TRef<TSysBitmap> strip = NewTable(PF_A8R8G8B8, 256, 16);
  FillIdentityStrip32(strip.get());
  for (int y : {0, 15}) {
    EXPECT_EQ(strip->Row32(y)[0], 0xFF000000u);
    EXPECT_EQ(strip->Row32(y)[128], 0xFF808080u);
    EXPECT_EQ(strip->Row32(y)[255], 0xFFFFFFFFu);
  }
}

TEST(ColorGradeTable, WrongSizedTablesAreRefusedUntouched) {
  struct Case {
    void (*Fill)(TSysBitmap*);
    const char* Format;
    std::int32_t W, H;
    const char* Name;
  } cases[] = {{FillIdentity24, PF_A8R8G8B8, 32, 1024, "FillIdentity24"},
               {FillIdentity24, PF_R8G8B8, 32, 1023, "FillIdentity24"},
               {FillIdentityCube32, PF_R8G8B8, 32, 1024, "FillIdentityCube32"},
               {FillIdentityCube32, PF_A8R8G8B8, 1024, 32, "FillIdentityCube32"},
               {FillIdentityStrip32, PF_A8R8G8B8, 256, 15, "FillIdentityStrip32"},
               {FillIdentityStrip32, PF_A8R8G8B8, 32, 1024, "FillIdentityStrip32"}};
  for (const Case& c : cases) {
    TRef<TSysBitmap> t = NewTable(c.Format, c.W, c.H);
    const std::vector<std::uint8_t> before = BytesOf(*t);
    EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { c.Fill(t.get()); }), c.Name)) << c.Name << " " << c.W << "x" << c.H;
    EXPECT_EQ(BytesOf(*t), before);
  }
  EXPECT_TRUE(zmtest::Contains(AssertionOf([] { FillIdentityCube32(nullptr); }), "FillIdentityCube32"));
}

TEST(ColorGradeTable, YuvEntriesFromTheFormula) {
  // Y 132, U 132, V 132 (index 16 each): Y' = 116 * 1.16438... = 135.068,
  // U' = V' = 4: red 141.45, green 130.24, blue 143.14, truncated.
  EXPECT_EQ(YuvGradeEntry(16, 16, 16), Argb(141, 130, 143));
  // Black below the video range clamps to 0; full V drives red past 255.
  EXPECT_EQ(YuvGradeEntry(16, 16, 0), Argb(0, 0, 0));
  // Y' = 239 * 1.16438 = 278.29; green 278.29 - 103.25 - 1.56 = 173.47.
  EXPECT_EQ(YuvGradeEntry(31, 16, 31), Argb(255, 173, 255));
}

TEST_F(SharedGradeTable, IdentityCubeSampledByTheShaderMappingGivesTheInputBack) {
  transform_.Set(nullptr);
  TRef<TSysBitmap> cube = GetSharedGradeTable(true, nullptr);
  ASSERT_TRUE(cube);
  TRef<TSysBitmap> expected = NewTable(PF_A8R8G8B8);
  FillIdentityCube32(expected.get());
  EXPECT_EQ(BytesOf(*cube), BytesOf(*expected));
  int worst = 0;
  for (int c = 0; c < 256; ++c) worst = std::max(worst, MaxChannelDiff(SampleCube(cube.get(), c, c, c), Argb(c, c, c)));
  std::mt19937 rng(11);
  for (int i = 0; i < 2000; ++i) {
    const std::uint8_t r = std::uint8_t(rng()), g = std::uint8_t(rng()), b = std::uint8_t(rng());
    worst = std::max(worst, MaxChannelDiff(SampleCube(cube.get(), r, g, b), Argb(r, g, b)));
  }
  // The lattice is 255 / 31 apart with levels 8i + i div 4: at most one step off.
  EXPECT_LE(worst, 1);
}

TEST_F(SharedGradeTable, CachedPerKindByProfileName) {
  TRef<TColorProfile> a = Profile(0x40, u"Monitor A");
  TRef<TColorProfile> sameName = Profile(0x41, u"Monitor A");
  TRef<TColorProfile> b = Profile(0x50, u"Monitor B");
  TRef<TSysBitmap> yuv1 = GetSharedGradeTable(false, a.get());
  ASSERT_TRUE(yuv1);
  EXPECT_EQ(TMarkTransform::gCalls, 1);
  EXPECT_EQ(yuv1->Row32(0)[0], Argb(0x40, 0, 0));
  EXPECT_EQ(yuv1->Row32(16 * 32 + 16)[16], YuvGradeEntry(16, 16, 16));
  // Same name: the same cube, no new transform; the identity has its own slot.
  EXPECT_EQ(GetSharedGradeTable(false, sameName.get()).get(), yuv1.get());
  TRef<TSysBitmap> id = GetSharedGradeTable(true, a.get());
  EXPECT_NE(id.get(), yuv1.get());
  EXPECT_EQ(GetSharedGradeTable(false, a.get()).get(), yuv1.get());
  EXPECT_EQ(TMarkTransform::gCalls, 2);
  // Another name rebuilds; the caller's old reference stays whole.
  TRef<TSysBitmap> yuv2 = GetSharedGradeTable(false, b.get());
  EXPECT_NE(yuv2.get(), yuv1.get());
  EXPECT_EQ(yuv2->Row32(0)[0], Argb(0x50, 0, 0));
  EXPECT_EQ(yuv1->Row32(0)[0], Argb(0x40, 0, 0));
  EXPECT_EQ(TMarkTransform::gCalls, 3);
}

namespace {
bool gManaged = true;
bool Managed() { return gManaged; }
}  // namespace

// With colour management switched off the profile is ignored: the cubes
// stay as made, and switching it on again makes them anew for the profile.
TEST_F(SharedGradeTable, ColourManagementOffLeavesTheCubesUntransformed) {
  zm::THookScope<std::atomic<TColorManagementOnProc>> managed{ColorManagementOnHook};
  managed.Set(&Managed);
  gManaged = false;
  TRef<TColorProfile> a = Profile(0x40, u"Monitor A");
  TRef<TSysBitmap> plain = GetSharedGradeTable(false, a.get());
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Row32(0)[0], YuvGradeEntry(0, 0, 0));
  TRef<TSysBitmap> identity = GetSharedGradeTable(true, nullptr);
  TRef<TSysBitmap> expected = NewTable(PF_A8R8G8B8);
  FillIdentityCube32(expected.get());
  EXPECT_EQ(BytesOf(*identity), BytesOf(*expected));
  EXPECT_EQ(TMarkTransform::gCalls, 0);
  EXPECT_EQ(GetSharedGradeTable(false, a.get()).get(), plain.get());
  gManaged = true;
  TRef<TSysBitmap> managedCube = GetSharedGradeTable(false, a.get());
  EXPECT_NE(managedCube.get(), plain.get());
  EXPECT_EQ(managedCube->Row32(0)[0], Argb(0x40, 0, 0));
  EXPECT_EQ(TMarkTransform::gCalls, 1);
}

TEST_F(SharedGradeTable, ThreadsAskingTogetherShareOneCube) {
  TRef<TColorProfile> a = Profile(1, u"A");
  std::vector<TRef<TSysBitmap>> got(4);
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < got.size(); ++i)
      threads.emplace_back([&, i] { got[i] = GetSharedGradeTable(false, a.get()); });
  }
  for (const auto& g : got) EXPECT_EQ(g.get(), got[0].get());
  EXPECT_EQ(TMarkTransform::gCalls, 1);
}
