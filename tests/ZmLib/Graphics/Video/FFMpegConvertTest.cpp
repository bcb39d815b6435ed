#include "ZmLib/Graphics/Video/FFMpegConvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

using namespace zm;

namespace {

TPixelFormat* Format(const char* name) { return PixelFormatByName(TByteString(name)); }

// A picture whose planes are plain bitmaps, exactly of the sizes the image
// reports (or of a forced size), as direct memory or as loose rows.
class TFakeImage : public TYUVImage {
public:
  enum TLayout { Yuv, Grey, Rgba };
  TFakeImage(int w, int h, TLayout layout, bool looseRows = false) : TYUVImage(w, h), loose_(looseRows) {
    SetGrayScale(layout == Grey);
    SetRGBA(layout == Rgba);
  }
  TRef<TBitmap> LockPlane(std::int32_t index) override {
    ++Locks;
    if (index == Refuse || !HasPlane(index)) return nullptr;
    TRef<TDirectBitmap>& d = Direct[index];
    if (!d) {
      const TPoint size = PlaneSize(index);
      const char* fmt = index == 4 ? PF_A8R8G8B8 : index == 3 ? PF_R5G6B5 : PF_Y8;
      d = MakeRef<TDirectBitmap>(size.X, Format(fmt), size.Y);
      std::memset(d->ScanLine(0), 0xEE, std::size_t(d->RowBytes()) * std::size_t(size.Y));
    }
    if (!loose_) return d;
    // Rows swapped in pairs: no fixed step between them.
    std::vector<std::uint8_t*> rows;
    for (int y = 0; y < d->Height(); ++y) rows.push_back(d->ScanLine((y ^ 1) < d->Height() ? y ^ 1 : y));
    Swapped = true;
    return MakeRef<TRefBitmap>(d->Size(), 0, false, d.get(), rows, d->PixelFormat());
  }
  bool UnlockPlane(std::int32_t, TRef<TBitmap>& plane) override {
    ++Unlocks;
    plane = nullptr;
    return !FailUnlock;
  }
  void Commit() override {}

  // The byte at (x, y) of plane Index as the image sees it.
  std::uint8_t At(int index, int x, int y, int byte = 0) {
    TDirectBitmap* d = Direct[index].get();
    int row = y;
    if (Swapped && (y ^ 1) < d->Height()) row = y ^ 1;  // undo the pair swap of loose rows
    return d->ScanLine(row)[x * d->BytesPerPixel() + byte];
  }

  TRef<TDirectBitmap> Direct[5];
  int Refuse = -1;
  bool FailUnlock = false;
  bool Swapped = false;
  int Locks = 0, Unlocks = 0;

private:
  bool loose_;
};

// A frame over buffers of exactly the bytes its planes need (plus Pad),
// so that a read past a plane is caught.
struct TFrame {
  TFrame(AVPixelFormat fmt, int w, int h, int pad = 0) {
    f.format = fmt;
    f.width = w;
    f.height = h;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    auto plane = [&](int i, int bytes, int rows) {
      const int stride = pad ? (bytes + 63) / 64 * 64 : bytes;
      buf[i].assign(std::size_t(stride) * std::size_t(rows) + std::size_t(pad), 0);
      f.data[i] = buf[i].data();
      f.linesize[i] = stride;
    };
    switch (fmt) {
      case AV_PIX_FMT_NV12: plane(0, w, h), plane(1, cw * 2, ch); break;
      case AV_PIX_FMT_BGRA: plane(0, w * 4, h); break;
      case AV_PIX_FMT_YUV422P: plane(0, w, h), plane(1, cw, h), plane(2, cw, h); break;
      default: plane(0, w, h), plane(1, cw, ch), plane(2, cw, ch); break;
    }
  }
  std::uint8_t& At(int i, int x, int y) { return f.data[i][y * f.linesize[i] + x]; }
  AVFrame f{};
  std::vector<std::uint8_t> buf[3];
};

std::uint8_t Pattern(int plane, int x, int y) { return std::uint8_t(17 + plane * 70 + x * 3 + y * 11); }

bool HaveFFmpeg() { return LoadFFmpegLibraries(); }

}  // namespace

TEST(GreyTable, SpansVideoRangeIn565) {
  const auto& t = GreyTable();
  auto grey = [](int v) { return std::uint16_t(((v >> 3) << 11) | ((v >> 2) << 5) | (v >> 3)); };
  EXPECT_EQ(t[0], grey(16));
  EXPECT_EQ(t[255], grey(235));
  EXPECT_EQ(t[128], grey(125));  // 128 * 219 / 255 + 16, truncated
}

// Planar 4:2:0 (both ranges) and NV12 go straight to the planes; odd sizes
// carry their last chroma column and row, and nothing is read or written
// outside either side.
TEST(ConvertToYUVImage, DirectLayoutsKeepEveryPixelAtAnySize) {
  const int sizes[][2] = {{1, 1}, {1, 5}, {2, 1}, {5, 3}, {7, 7}, {33, 18}};
  for (AVPixelFormat fmt : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_NV12}) {
    for (const auto& s : sizes) {
      const int w = s[0], h = s[1], cw = (w + 1) / 2, ch = (h + 1) / 2;
      SCOPED_TRACE(testing::Message() << "format " << fmt << " size " << w << "x" << h);
      TFrame fr(fmt, w, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) fr.At(0, x, y) = Pattern(0, x, y);
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
          if (fmt == AV_PIX_FMT_NV12) {
            fr.At(1, 2 * x, y) = Pattern(1, x, y);
            fr.At(1, 2 * x + 1, y) = Pattern(2, x, y);
          } else {
            fr.At(1, x, y) = Pattern(1, x, y);
            fr.At(2, x, y) = Pattern(2, x, y);
          }
        }
      TRef<TFakeImage> img = MakeRef<TFakeImage>(w, h, TFakeImage::Yuv);
      TRef<TFFVideoFormatConvertor> conv;
      ASSERT_TRUE(ConvertToYUVImage(img.get(), &fr.f, fmt, conv));
      EXPECT_EQ(img->Locks, 3);
      EXPECT_EQ(img->Unlocks, 3);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(img->At(0, x, y), Pattern(0, x, y)) << x << "," << y;
      for (int p = 1; p <= 2; ++p)
        for (int y = 0; y < ch; ++y)
          for (int x = 0; x < cw; ++x) ASSERT_EQ(img->At(p, x, y), Pattern(p, x, y)) << p << ":" << x << "," << y;

      // Luma of the same frame into a grey image, through the table.
      TRef<TFakeImage> grey = MakeRef<TFakeImage>(w, h, TFakeImage::Grey);
      ASSERT_TRUE(ConvertToYUVImage(grey.get(), &fr.f, fmt, conv));
      const std::uint16_t v = GreyTable()[Pattern(0, w - 1, h - 1)];
      EXPECT_EQ(grey->At(3, w - 1, h - 1, 0) | grey->At(3, w - 1, h - 1, 1) << 8, v);
    }
  }
}

TEST(ConvertToYUVImage, SizesThatDisagreeAreCutAndLayoutsThatDoNotFitRefused) {
  // A frame larger than the image's planes, and one smaller.
  TFrame big(AV_PIX_FMT_NV12, 9, 7);
  TRef<TFakeImage> small = MakeRef<TFakeImage>(4, 3, TFakeImage::Yuv);
  TRef<TFFVideoFormatConvertor> conv;
  EXPECT_TRUE(ConvertToYUVImage(small.get(), &big.f, AV_PIX_FMT_NV12, conv));
  TFrame tiny(AV_PIX_FMT_YUV420P, 3, 1);
  tiny.At(0, 2, 0) = 99;
  TRef<TFakeImage> large = MakeRef<TFakeImage>(8, 8, TFakeImage::Yuv);
  EXPECT_TRUE(ConvertToYUVImage(large.get(), &tiny.f, AV_PIX_FMT_YUV420P, conv));
  EXPECT_EQ(large->At(0, 2, 0), 99);
  EXPECT_EQ(large->At(0, 3, 0), 0xEE);  // beyond the frame: untouched

  // BGRA rows go only into an RGBA image; nothing else does.
  TFrame bgra(AV_PIX_FMT_BGRA, 3, 2);
  for (int i = 0; i < 24; ++i) bgra.buf[0][std::size_t(i)] = std::uint8_t(i);
  TRef<TFakeImage> rgba = MakeRef<TFakeImage>(3, 2, TFakeImage::Rgba);
  ASSERT_TRUE(ConvertToYUVImage(rgba.get(), &bgra.f, AV_PIX_FMT_BGRA, conv));
  EXPECT_EQ(rgba->At(4, 2, 1, 3), 23);
  EXPECT_FALSE(ConvertToYUVImage(MakeRef<TFakeImage>(3, 2, TFakeImage::Yuv).get(), &bgra.f, AV_PIX_FMT_BGRA, conv));
  EXPECT_FALSE(ConvertToYUVImage(rgba.get(), &tiny.f, AV_PIX_FMT_YUV420P, conv));

  // No frame, no pixel format, an empty frame.
  EXPECT_FALSE(ConvertToYUVImage(large.get(), nullptr, AV_PIX_FMT_YUV420P, conv));
  EXPECT_FALSE(ConvertToYUVImage(large.get(), &tiny.f, AV_PIX_FMT_NONE, conv));
  TFrame empty(AV_PIX_FMT_YUV420P, 0, 0);
  EXPECT_FALSE(ConvertToYUVImage(large.get(), &empty.f, AV_PIX_FMT_YUV420P, conv));
  // Planes of the wrong pixel size are refused rather than overrun.
  TRef<TFakeImage> wrong = MakeRef<TFakeImage>(3, 2, TFakeImage::Yuv);
  wrong->Direct[0] = MakeRef<TDirectBitmap>(3, Format(PF_R5G6B5), 2);
  EXPECT_FALSE(ConvertToYUVImage(wrong.get(), &tiny.f, AV_PIX_FMT_YUV420P, conv));
}

TEST(ConvertToYUVImage, RefusedPlanesAreGivenBackAndAFailedUnlockFails) {
  TFrame fr(AV_PIX_FMT_YUV420P, 4, 4);
  TRef<TFFVideoFormatConvertor> conv;
  TRef<TFakeImage> img = MakeRef<TFakeImage>(4, 4, TFakeImage::Yuv);
  img->Refuse = 1;
  EXPECT_FALSE(ConvertToYUVImage(img.get(), &fr.f, AV_PIX_FMT_YUV420P, conv));
  EXPECT_EQ(img->Locks, 2);    // plane 2 never asked for
  EXPECT_EQ(img->Unlocks, 1);  // plane 0 given back
  TRef<TFakeImage> packed = MakeRef<TFakeImage>(4, 4, TFakeImage::Grey);
  packed->Refuse = 3;
  EXPECT_FALSE(ConvertToYUVImage(packed.get(), &fr.f, AV_PIX_FMT_YUV420P, conv));
  EXPECT_EQ(packed->Unlocks, 0);
  TRef<TFakeImage> sticky = MakeRef<TFakeImage>(4, 4, TFakeImage::Yuv);
  sticky->FailUnlock = true;
  EXPECT_FALSE(ConvertToYUVImage(sticky.get(), &fr.f, AV_PIX_FMT_YUV420P, conv));
  EXPECT_EQ(sticky->Unlocks, 3);
}

// Formats without a direct path go through the scaler: straight into plane
// memory with room to spare after each row, else through the convertor's
// own buffer (exact rows, or rows lying anywhere).
TEST(ConvertToYUVImage, OtherFormatsGoThroughTheScaler) {
  if (!HaveFFmpeg()) GTEST_SKIP() << "FFmpeg libraries not loadable";
  enum { Exact, Loose, Wide };
  for (int kind : {Exact, Loose, Wide}) {
    for (int w : {1, 9, 64}) {
      const int h = 7, cw = (w + 1) / 2;
      SCOPED_TRACE(testing::Message() << "kind " << kind << " width " << w);
      TFrame fr(AV_PIX_FMT_YUV422P, w, h, 64);
      for (int y = 0; y < h; ++y) {
        std::memset(&fr.At(0, 0, y), 100, std::size_t(w));
        std::memset(&fr.At(1, 0, y), 60, std::size_t(cw));
        std::memset(&fr.At(2, 0, y), 200, std::size_t(cw));
      }
      const int iw = kind == Wide ? w + 200 : w;
      TRef<TFFVideoFormatConvertor> conv;
      TRef<TFakeImage> img = MakeRef<TFakeImage>(iw, h, TFakeImage::Yuv, kind == Loose);
      ASSERT_TRUE(ConvertToYUVImage(img.get(), &fr.f, AV_PIX_FMT_YUV422P, conv));
      ASSERT_TRUE(conv);
      EXPECT_EQ(conv->DestPixelFormat(), AV_PIX_FMT_YUV420P);
      EXPECT_EQ(conv->Plane(0) == img->Direct[0]->ScanLine(0), kind == Wide);
      EXPECT_NEAR(img->At(0, w - 1, h - 1), 100, 2);
      EXPECT_NEAR(img->At(1, cw - 1, (h + 1) / 2 - 1), 60, 2);
      EXPECT_NEAR(img->At(2, 0, 0), 200, 2);
      TRef<TFakeImage> grey = MakeRef<TFakeImage>(iw, h, TFakeImage::Grey, kind == Loose);
      ASSERT_TRUE(ConvertToYUVImage(grey.get(), &fr.f, AV_PIX_FMT_YUV422P, conv));
      const int g = grey->At(3, 0, h - 1, 1) >> 3;  // the red bits of the 5-6-5 grey
      EXPECT_NEAR(g, (GreyTable()[100] >> 11), 1);
    }
  }
  // The convertor follows a size change and refuses a frame of another size.
  TRef<TFFVideoFormatConvertor> conv = MakeRef<TFFVideoFormatConvertor>(AV_PIX_FMT_YUV420P, SWS_BICUBIC);
  EXPECT_FALSE(conv->AllocBuffer(0, 5));
  ASSERT_TRUE(conv->AllocBuffer(8, 6));
  TFrame other(AV_PIX_FMT_YUV422P, 10, 6, 64);
  EXPECT_FALSE(conv->Convert(&other.f, AV_PIX_FMT_YUV422P));
  EXPECT_FALSE(conv->Convert(&other.f, AV_PIX_FMT_NONE));
  ASSERT_TRUE(conv->AllocBuffer(10, 6));
  EXPECT_TRUE(conv->Convert(&other.f, AV_PIX_FMT_YUV422P));
}

TEST(ConvertToBitmap, GreyFrameGivesGreyPixelsInEveryBitmapKind) {
  if (!HaveFFmpeg()) GTEST_SKIP() << "FFmpeg libraries not loadable";
  TFrame fr(AV_PIX_FMT_YUV420P, 5, 3, 64);
  for (auto& b : fr.buf) std::memset(b.data(), 128, b.size());
  std::memset(fr.buf[0].data(), 126, fr.buf[0].size());
  TRef<TFFVideoFormatConvertor> conv;
  // Direct memory of the frame's size, and a larger one.
  for (int w : {5, 8}) {
    TRef<TDirectBitmap> bmp = MakeRef<TDirectBitmap>(w, Format(PF_R8G8B8), 4);
    ASSERT_TRUE(ConvertToBitmap(bmp.get(), &fr.f, AV_PIX_FMT_YUV420P, conv));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(bmp->ScanLine(2)[4 * 3 + c], 128, 3) << c;
  }
  // Smaller than the frame, with loose rows: cut to the bitmap.
  TRef<TDirectBitmap> back = MakeRef<TDirectBitmap>(2, Format(PF_R8G8B8), 2);
  std::vector<std::uint8_t*> rows = {back->ScanLine(1), back->ScanLine(0)};
  TRef<TRefBitmap> loose = MakeRef<TRefBitmap>(back->Size(), 0, false, back.get(), rows, back->PixelFormat());
  ASSERT_TRUE(ConvertToBitmap(loose.get(), &fr.f, AV_PIX_FMT_YUV420P, conv));
  EXPECT_NEAR(back->ScanLine(0)[5], 128, 3);
  // Not 3-byte pixels.
  TRef<TDirectBitmap> y8 = MakeRef<TDirectBitmap>(5, Format(PF_Y8), 3);
  EXPECT_FALSE(ConvertToBitmap(y8.get(), &fr.f, AV_PIX_FMT_YUV420P, conv));
  EXPECT_FALSE(ConvertToBitmap(nullptr, &fr.f, AV_PIX_FMT_YUV420P, conv));
}
