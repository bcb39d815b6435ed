#include "ZmLib/Graphics/zmBitmap.h"

#include <gtest/gtest.h>

#include <climits>

#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace {

using Bytes = std::vector<std::uint8_t>;

TRef<TDirectBitmap> Direct(const char* format, std::int32_t w, std::int32_t h) {
  return MakeRef<TDirectBitmap>(w, FindPixelFormat(format), h);
}

Bytes BytesOf(TDirectBitmap& b) {
  Bytes out;
  for (std::int32_t y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + b.RowBytes());
  return out;
}

// 1-byte pixels numbered by position: row y, column x holds 10 * y + x.
TRef<TDirectBitmap> Numbered(std::int32_t w, std::int32_t h) {
  TRef<TDirectBitmap> b = Direct(PF_Y8, w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->Row8(y)[x] = std::uint8_t(10 * y + x);
  return b;
}

struct TClip {
  std::int32_t DestX, DestY, Width, Height, SourceX, SourceY;
  bool Ok;
  friend bool operator==(const TClip&, const TClip&) = default;
};

TClip Clip(std::int32_t dx, std::int32_t dy, std::int32_t w, std::int32_t h, TPoint sourceSize, TPoint destSize,
           std::int32_t sx, std::int32_t sy) {
  TClip c{dx, dy, w, h, sx, sy, false};
  c.Ok = ClipCopyRect(c.DestX, c.DestY, c.Width, c.Height, sourceSize, destSize, c.SourceX, c.SourceY);
  return c;
}

}  // namespace

namespace {
TCreateBitmapProc gNext = nullptr;
// A link of a later module: answers a TSysBitmap request of width 7 with a
// plain TDirectBitmap (the wrong class) and passes everything else on.
TRef<TBitmap> WrongClassLink(std::int32_t w, std::int32_t h, TPixelFormat* f, const TBitmapProgressEvent& p,
                             TBitmap* s, const TBitmapClass* c) {
  if (c == TSysBitmap::StaticClass() && w == 7) return MakeRef<TDirectBitmap>(w, f, h);
  return gNext(w, h, f, p, s, c);
}
}  // namespace

TEST(BitmapFactory, ClassesTheLinksMake) {
  TPixelFormat* f = pfA8R8G8B8;
  const TBitmapClass* direct = TDirectBitmap::StaticClass();
  EXPECT_EQ(CreateBitmap(3, 2, f, {}, nullptr, direct)->ClassType(), direct);
  for (const TBitmapClass* cls : {TSysBitmap::StaticClass(), static_cast<const TBitmapClass*>(nullptr)}) {
    auto w = RefCast<TSysDirectWrapper>(CreateBitmap(3, 2, f, {}, nullptr, cls));
    ASSERT_TRUE(w && w->Bitmap());
    EXPECT_EQ(w->Rows()[1], w->Bitmap()->ScanLine(1));
  }
  EXPECT_FALSE(CreateBitmap(3, 2, f, {}, nullptr, TCropBitmap::StaticClass()));  // no link makes crops
  zm::THookScope link(CreateBitmapHook, &WrongClassLink);
  gNext = link.Saved();
  EXPECT_THROW(CreateSysBitmap(7, 1, pfA8), EInvalidCast);
  EXPECT_TRUE(CreateSysBitmap(6, 1, pfA8));  // passed on down the chain
  link.Set(nullptr);
  EXPECT_FALSE(CreateSysBitmap(1, 1, pfA8));  // no link at all: nil
}

TEST(DirectBitmap, RefusesBadSizesBeforeTakingMemory) {
  TPixelFormat* f = pfA8R8G8B8;
  EXPECT_TRUE(Contains(AssertionOf([&] { Direct(PF_A8R8G8B8, 0, 1); }), "TDirectBitmap.Create - Invalid Width"));
  EXPECT_TRUE(Contains(AssertionOf([&] { MakeRef<TDirectBitmap>(1, nullptr, 1); }), "PixelFormat not Assigned"));
  // Sizes whose pixels would pass the limit, products past 32 bits included.
  EXPECT_TRUE(Contains(AssertionOf([&] { Direct(PF_A8R8G8B8, INT_MAX, INT_MAX); }), "Bitmap too Large"));
  EXPECT_TRUE(Contains(AssertionOf([&] { Direct("R4096G4096B4096", 1 << 20, 1); }), "Bitmap too Large"));
  EXPECT_THROW(CreateSysBitmap(1 << 16, 1 << 15, f), EAbort);
  EXPECT_TRUE(BitmapSizeAllowed(1 << 15, 1 << 13, f));  // exactly 1 GiB
  EXPECT_FALSE(BitmapSizeAllowed((1 << 15) + 1, 1 << 13, f));
  EXPECT_FALSE(BitmapSizeAllowed(1, 1, nullptr));
}

TEST(DirectBitmap, PixelReadersAndTheirAssertions) {
  TRef<TDirectBitmap> b = Direct(PF_A8R8G8B8, 3, 2);
  for (std::int32_t x = 0; x < 3; ++x) b->Row32(1)[x] = 0x01020300u + std::uint32_t(x);
  Bytes buf(12, 0xEE);
  EXPECT_EQ(b->GetPixels(buf, 2, 1, 1, 100), 8);  // cut to Width - X
  EXPECT_EQ(buf, (Bytes{0xEE, 0xEE, 1, 3, 2, 1, 2, 3, 2, 1, 0xEE, 0xEE}));
  EXPECT_EQ(b->GetPixels(buf, 0, 1, 1, -4), 0);
  // Reads outside the bitmap or the buffer fail their assertions.
  EXPECT_TRUE(Contains(AssertionOf([&] { b->GetPixels(buf, 0, 3, 0, 1); }), "GetPixels (X,Y) out of Bitmap.Size"));
  EXPECT_TRUE(Contains(AssertionOf([&] { b->GetPixels(buf, -1, 0, 0, 1); }), "GetPixels - Offset out of Bounds"));
  EXPECT_TRUE(Contains(AssertionOf([&] { b->GetPixels(buf, 8, 0, 0, 2); }), "Not Enought Pixel Buffer Space"));
  std::uint32_t words[4] = {};
  EXPECT_TRUE(Contains(AssertionOf([&] { b->GetPixels32(words, 2, 0, 0, 3); }), "Out of Pixel Buffer Bounds"));
  TColor24 c24[2];
  EXPECT_TRUE(Contains(AssertionOf([&] { b->GetPixels24(c24, 0, 0, 0, 1); }), "GetPixels24 - Invalid Pixel Size"));
}

TEST(ClipCopy, BothSidesMoveTogether) {
  // Left of the destination: the source point moves right by as much.
  EXPECT_EQ(Clip(-2, 0, 5, 1, {10, 10}, {10, 10}, 0, 0), (TClip{0, 0, 3, 1, 2, 0, true}));
  // Left of the source: the destination moves right by as much.
  EXPECT_EQ(Clip(0, 0, 5, 5, {10, 10}, {10, 10}, -3, -1), (TClip{3, 1, 2, 4, 0, 0, true}));
  // Cut by the far edges of both.
  EXPECT_EQ(Clip(8, 0, 5, 5, {4, 3}, {10, 10}, 1, 1), (TClip{8, 0, 2, 2, 1, 1, true}));
  // Wholly outside either side.
  EXPECT_FALSE(Clip(10, 0, 1, 1, {10, 10}, {10, 10}, 0, 0).Ok);
  EXPECT_FALSE(Clip(0, 0, 2, 2, {10, 10}, {10, 10}, -2, 0).Ok);
  EXPECT_FALSE(Clip(0, 0, 2, 2, {0, 0}, {10, 10}, 0, 0).Ok);
  // The ends of the 32-bit range do not wrap.
  EXPECT_EQ(Clip(INT_MIN, 0, INT_MAX, 1, {INT_MAX, 1}, {5, 1}, INT_MAX - 10, 0).Ok, false);
  EXPECT_EQ(Clip(-5, 0, INT_MAX, 1, {INT_MAX, 1}, {5, 1}, 0, 0), (TClip{0, 0, 5, 1, 5, 0, true}));
  EXPECT_FALSE(Clip(INT_MAX, INT_MAX, INT_MAX, INT_MAX, {INT_MAX, INT_MAX}, {INT_MAX, INT_MAX}, 0, 0).Ok);
}

TEST(DirectBitmap, CopyRectClipsAndConverts) {
  TRef<TDirectBitmap> src = Numbered(4, 3);
  TRef<TDirectBitmap> dst = Direct(PF_Y8, 4, 3);
  dst->CopyRect({-1, 1, 2, 3}, src.get(), {0, 0});  // partly left of 0: the source moves right
  EXPECT_EQ(BytesOf(*dst), (Bytes{0, 0, 0, 0, 1, 2, 0, 0, 11, 12, 0, 0}));
  TRef<TDirectBitmap> none = Direct(PF_Y8, 4, 3);
  none->CopyRect({4, 0, 8, 3}, src.get(), {0, 0});  // wholly outside
  none->CopyRect({2, 2, 1, 3}, src.get(), {0, 0});  // inverted
  EXPECT_EQ(BytesOf(*none), Bytes(12, 0));
  // Converted on the way, from a direct and from a system bitmap.
  TRef<TDirectBitmap> abgr = Direct(PF_A8B8G8R8, 2, 1);
  abgr->CopyFrom(zmtest::BitmapOf(PF_A8R8G8B8, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}).get());
  EXPECT_EQ(BytesOf(*abgr), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
  // Pixels wider than 4 bytes are placed by their own size.
  TRef<TDirectBitmap> wide = Direct("R16G16B16", 3, 1);
  for (int i = 0; i < 18; ++i) wide->ScanLine(0)[i] = std::uint8_t(i);
  TRef<TDirectBitmap> wide2 = Direct("R16G16B16", 3, 1);
  wide2->CopyRect({1, 0, 3, 1}, wide.get(), {0, 0});
  EXPECT_EQ(BytesOf(*wide2), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_TRUE(Contains(AssertionOf([&] { wide2->CopyRect({0, 0, 1, 1}, nullptr, {0, 0}); }), "Source not Assigned"));
}

TEST(DirectBitmap, FillRectPutsTheColourWhereTheFormatKeepsIt) {
  const TColor32 orange = MakeColor32(255, 128, 0, 200);
  auto fill = [&](const char* format) {
    TRef<TDirectBitmap> b = Direct(format, 3, 2);
    b->FillRect({1, 1, 10, 10}, orange);
    return BytesOf(*b);
  };
  EXPECT_EQ(fill(PF_Y8), (Bytes{0, 0, 0, 0, 127, 127}));  // grey (B + G + R) div 3
  Bytes pre = fill(PF_A8r8g8b8);
  EXPECT_EQ(Bytes(pre.begin() + 16, pre.begin() + 20), (Bytes{0, 100, 199, 200}));  // premultiplied
  // 16 bits: by each format's layout (read back through the converters).
  for (const char* f : {PF_B5G5R5X1, PF_R5G6B5}) {
    TRef<TDirectBitmap> b = Direct(f, 2, 1);
    b->FillRect({0, 0, 2, 1}, MakeColor32(255, 0, 0, 255));
    TRef<TDirectBitmap> back = Direct(PF_A8R8G8B8, 2, 1);
    back->CopyFrom(b.get());
    EXPECT_EQ(back->Row32(0)[1], 0xFFFF0000u) << f;
  }
  // Other pixel sizes are left alone.
  TRef<TDirectBitmap> wide = Direct("R16G16B16", 2, 1);
  wide->FillRect({0, 0, 2, 1}, orange);
  EXPECT_EQ(BytesOf(*wide), Bytes(12, 0));
  TRef<TDirectBitmap> empty = Direct(PF_Y8, 2, 2);
  empty->FillRect({1, 1, 1, 5}, orange);
  EXPECT_EQ(BytesOf(*empty), Bytes(4, 0));
}
