#include "ZmLib/Graphics/zmDibBitmap.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace {

std::uint32_t U32(const std::string& s, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

}  // namespace

TEST(FastDIB, StrideGapAndRowsInMemoryOrder) {
  TRef<TFastDIB> d = MakeRef<TFastDIB>();
  d->SetSize(3, 2, 24);
  EXPECT_EQ(d->Stride(), 12);
  EXPECT_EQ(d->Gap(), 3);
  for (auto [w, bits, stride] : {std::tuple{33, 1, 8}, {9, 4, 8}, {3, 16, 8}})
    EXPECT_EQ(DibStride(w, bits), stride) << w << " x " << bits;
  EXPECT_TRUE(Contains(AssertionOf([&] { d->SetSize(2, 2, 7); }), "Unsupported Bit Count"));
  EXPECT_THROW(d->SetSize(70000, 70000, 32), EOutOfMemory);
  EXPECT_EQ(d->Bits(), nullptr);
}

TEST(FastDIB, SixteenBitMemoryIsLaidOutAsItsFormatNames) {
  // The DIB, the pixel-format converters and the blits agree on 5-6-5.
  TRef<TDibBitmap> b = NewDibBitmap(2, 1, 16);
  EXPECT_EQ(b->PixelFormat()->Name, TByteString(PF_B5G6R5));
  EXPECT_EQ(b->Dib()->RedMask(), 0x001Fu);
  TRef<TSysBitmap> red = zmtest::BitmapOf(PF_A8R8G8B8, 2, 1, {0, 0, 255, 255, 255, 0, 0, 255});  // red, blue
  b->CopyFrom(red.get());
  TRef<TDibBitmap> out = NewDibBitmap(2, 1, 32);
  plat::BitBlt(out->Dib()->Dc(), 0, 0, 2, 1, b->Dib()->Dc(), 0, 0, plat::SRCCOPY);
  EXPECT_EQ(plat::GetPixel(out->Dib()->Dc(), 0, 0), plat::RGB(248, 0, 0));
  EXPECT_EQ(plat::GetPixel(out->Dib()->Dc(), 1, 0), plat::RGB(0, 0, 248));
  // The 15-bit layout: unused bit 0, red 1-5, green 6-10, blue 11-15.
  TRef<TDibBitmap> b15 = NewDibBitmap(1, 1, 15);
  EXPECT_EQ(b15->PixelFormat()->Name, TByteString(PF_B5G5R5X1));
  EXPECT_EQ(b15->Dib()->RedMask(), 0x003Eu);
}

TEST(FastDIB, FixAlphaOnlyWhenAllAlphaIsZero) {
  TRef<TFastDIB> d = MakeRef<TFastDIB>();
  d->SetSize(2, 2, 32);
  d->FixAlpha();
  EXPECT_EQ(d->Pixels32(1)[1] >> 24, 255u);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) d->Pixels32(y)[x] = x + y == 0 ? 0x10000000 : 0;
  d->FixAlpha();
  EXPECT_EQ(d->Pixels32(0)[1], 0u);  // one alpha was set: nothing changes
  TRef<TFastDIB> e = MakeRef<TFastDIB>();
  e->SetSize(1, 1, 24);
  EXPECT_TRUE(Contains(AssertionOf([&] { e->FixAlpha(); }), "Not a 32-bit DIB"));
}

TEST(FastDIB, SavesBmpFiles) {
  TRef<TFastDIB> d = MakeRef<TFastDIB>();
  d->SetSize(3, 2, 8);
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  d->SaveToStream(s.get());
  const std::string bytes = zmtest::StreamBytes(s.get());
  ASSERT_EQ(bytes.size(), 14u + 40 + 1024 + 8);
  EXPECT_EQ(U32(bytes, 10), 1078u);
  // Bit fields write their three masks.
  TRef<TDibBitmap> b = NewDibBitmap(1, 1, 16);
  TRef<TMemoryStream> t = MakeRef<TMemoryStream>();
  b->Dib()->SaveToStream(t.get());
  const std::string b16 = zmtest::StreamBytes(t.get());
  EXPECT_EQ(U32(b16, 10), 54u + 12);
  EXPECT_EQ(U32(b16, 54), 0x001Fu);
}

TEST(FastDIB, RunLengthDataIsUnpackedWithinTheRows) {
  TRef<TFastDIB> d = MakeRef<TFastDIB>();
  d->SetSize(6, 3, 8);
  // Run of 3 x 7, absolute run 1 2 3 (padded), end of line, delta (1, 1), run 2 x 9, end of bitmap.
  const std::uint8_t rle8[] = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 9, 0, 1};
  d->DecodeRLE8(rle8);
  const std::uint8_t row0[6] = {7, 7, 7, 1, 2, 3};
  EXPECT_EQ(std::memcmp(d->Pixels8(0), row0, 6), 0);
  EXPECT_EQ(d->Pixels8(2)[2], 9);
  // Runs past the row and rows past the picture are cut; data that ends early stops.
  const std::uint8_t wild[] = {200, 5, 0, 2, 0, 200, 4, 4, 0, 250, 1};
  d->DecodeRLE8(wild);
  EXPECT_EQ(d->Pixels8(0)[5], 5);
  TRef<TFastDIB> n = MakeRef<TFastDIB>();
  n->SetSize(5, 1, 4);
  // Run 1 2 1, absolute A B C (C past the row), end of bitmap.
  const std::uint8_t rle4[] = {3, 0x12, 0, 3, 0xAB, 0xC0, 0, 1};
  n->DecodeRLE4(rle4);
  EXPECT_EQ(n->Pixels8(0)[0], 0x12);
  EXPECT_EQ(n->Pixels8(0)[1], 0x1A);
  EXPECT_EQ(n->Pixels8(0)[2], 0xB0);
}

TEST(DibBitmap, RowZeroIsTheTopLine) {
  TRef<TDibBitmap> b = NewDibBitmap(2, 3, 24);
  TFastDIB* d = b->Dib();
  // Bottom-up: the top line is the last in memory.
  EXPECT_EQ(b->ScanLine(0), d->Scanlines()[2]);
  EXPECT_EQ(b->RowStep(), -d->Stride());
  // A top-down DIB is viewed top line first too.
  TRef<TFastDIB> t = MakeRef<TFastDIB>();
  t->SetSize(2, -3, 24);
  TRef<TDibBitmap> tb = WrapDibBitmap(t.get(), false);
  EXPECT_EQ(tb->ScanLine(0), t->Scanlines()[0]);
  EXPECT_TRUE(Contains(AssertionOf([&] { MakeRef<TDibBitmap>(d, FindPixelFormat(PF_A8R8G8B8), false); }),
                       "Pixel Formats Not Compatible"));
  EXPECT_TRUE(Contains(AssertionOf([&] { NewDibBitmap(2, 2, 12); }), "Unsupported Bit Count"));
}
