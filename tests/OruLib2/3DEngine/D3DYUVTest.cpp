// Video pictures on the software device: planes written through the plane
// locks and drawn through the YUV volumes, the grey and RGBA layouts, the
// fill beyond the frame, chroma keying, deinterlacing and bad input.
#include "OruLib2/3DEngine/D3DYUV.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "tests/support/DrawerOnDevice.h"

namespace yuvtest {

using namespace zm;
using drawertest::Channel;
using drawertest::Near;
using oru::T3DDrawer;
using oru::T3DYUV;

constexpr std::uint32_t kBlack = 0xFF000000u;
constexpr std::uint32_t kBlue = 0xFF0000FFu;

// Writes plane Index: Value(x, y) for every pixel of the plane's view.
bool WritePlane(TYUVImage* image, std::int32_t index, const std::function<std::uint32_t(int, int)>& value) {
  TRef<TBitmap> plane = image->LockPlane(index);
  auto* bits = dynamic_cast<TSysBitmap*>(plane.get());
  if (!bits) return false;
  const int bytes = index == 4 ? 4 : index == 3 ? 2 : 1;
  for (int y = 0; y < bits->Height(); ++y)
    for (int x = 0; x < bits->Width(); ++x) {
      const std::uint32_t v = value(x, y);
      std::memcpy(bits->ScanLine(y) + x * bytes, &v, std::size_t(bytes));
    }
  return image->UnlockPlane(index, plane) && !plane;
}

bool WriteYuv(TYUVImage* image, const std::function<std::uint32_t(int, int)>& y, std::uint8_t u, std::uint8_t v) {
  return WritePlane(image, 0, y) && WritePlane(image, 1, [u](int, int) { return u; }) &&
         WritePlane(image, 2, [v](int, int) { return v; });
}

class TVideoOnDevice : public drawertest::TDrawerOnDevice {
protected:
  void SetUp() override {
    TDrawerOnDevice::SetUp();
    // BT.601 video range, as the drawer's YUV volumes hold it.
    table = CreateSysBitmap(kGradeCubeSize, kGradeCubeRows, pfA8R8G8B8);
    for (int row = 0; row < kGradeCubeRows; ++row)
      for (int x = 0; x < kGradeCubeSize; ++x)
        table->Row32(row)[x] = YuvGradeEntry(x, row % kGradeCubeSize, row / kGradeCubeSize);
    volume = MakeRef<TCustomColorGradeTexture>(drawer->Screen(), gkVolume);
    volume->SetSource(table.get(), false);
  }
  void TearDown() override {
    volume = nullptr;
    table = nullptr;
    TDrawerOnDevice::TearDown();
  }
  TVideoDrawParams Params(TYUVImage* image) {
    TVideoDrawParams p;
    p.Image = image;
    p.SourceRect = {0, 0, float(image->Width()), float(image->Height())};
    p.GradeTable1 = p.GradeTable2 = volume.get();
    return p;
  }
  TRef<TSysBitmap> table;
  TRef<TCustomColorGradeTexture> volume;
};

TEST_F(TVideoOnDevice, PlanesDrawnThroughTheVolumesShowTheFrameColours) {
  TRef<TYUVImage> v = drawer->CreateVideoImage(16, 8, false);
  ASSERT_TRUE(v);
  ASSERT_TRUE(static_cast<T3DYUV*>(v.get())->ThreePlanes());
  EXPECT_EQ(drawer->VideoImages.size(), 1u);
  // Left half red (Y 81, U 90, V 240), right half white (235, 128, 128).
  ASSERT_TRUE(WritePlane(v.get(), 0, [](int x, int) { return x < 8 ? 81u : 235u; }));
  ASSERT_TRUE(WritePlane(v.get(), 1, [](int x, int) { return x < 4 ? 90u : 128u; }));
  ASSERT_TRUE(WritePlane(v.get(), 2, [](int x, int) { return x < 4 ? 240u : 128u; }));
  EXPECT_EQ(static_cast<T3DYUV*>(v.get())->LockCount(), 0);
  TVideoDrawParams half = Params(v.get());
  half.Opacity = 50;
  half.SourceRect = {8, 0, 16, 8};  // the white half only
  ASSERT_TRUE(Frame(kBlue, [&](T3DDrawer& d) {
    d.DrawVideoImage(Params(v.get()), {4, 4}, {1, 0}, {0, 1});
    d.DrawVideoImage(half, {30, 4}, {1, 0}, {0, 1});
    TVideoDrawParams none = Params(v.get());
    none.GradeTable2 = nullptr;  // the planes have no colour without both volumes
    d.DrawVideoImage(none, {4, 20}, {1, 0}, {0, 1});
  }));
  Capture();
  EXPECT_TRUE(Near(At(6, 8), 0xFF0000u, 12));
  EXPECT_TRUE(Near(At(17, 8), 0xFFFFFFu, 6));
  EXPECT_EQ(At(3, 8), 0x0000FFu);
  EXPECT_EQ(At(21, 8), 0x0000FFu);
  // Half the white over blue; the source rectangle starts at x 8, drawn where
  // it lies in the frame.
  EXPECT_TRUE(Near(At(41, 8), 0x7F7FFFu, 6));
  EXPECT_EQ(At(36, 8), 0x0000FFu);
  EXPECT_EQ(At(8, 24), 0x0000FFu);
  v = nullptr;
  EXPECT_TRUE(drawer->VideoImages.empty());
}

TEST_F(TVideoOnDevice, WithoutTheLuminanceFormatFramesAreGreyOrRgba) {
  drawer->Screen()->Renderer()->SetLuminance8Available(false);
  TRef<TYUVImage> grey = drawer->CreateVideoImage(16, 8, false);
  TRef<TYUVImage> rgba = drawer->CreateVideoImage(8, 8, true);
  ASSERT_TRUE(grey && rgba);
  EXPECT_TRUE(grey->IsGrayScale());
  EXPECT_FALSE(static_cast<T3DYUV*>(grey.get())->ThreePlanes());
  EXPECT_FALSE(grey->LockPlane(0));  // no luma plane in this layout
  EXPECT_TRUE(rgba->IsRGBA());
  // 5-6-5 grey (16, 32, 16) and opaque green.
  ASSERT_TRUE(WritePlane(grey.get(), 3, [](int, int) { return 0x8410u; }));
  ASSERT_TRUE(WritePlane(rgba.get(), 4, [](int, int) { return 0xFF00FF00u; }));
  TVideoDrawParams edged = Params(rgba.get());
  edged.Antialiased = true;
  ASSERT_TRUE(Frame(kBlack, [&](T3DDrawer& d) {
    d.DrawVideoImage(Params(grey.get()), {2, 2}, {1, 0}, {0, 1});
    d.DrawVideoImage(Params(rgba.get()), {30, 2}, {1, 0}, {0, 1});
    d.DrawVideoImage(edged, {30, 20}, {1, 0}, {0, 1});
  }));
  Capture();
  const std::uint32_t g = At(8, 5);
  EXPECT_EQ(Channel(g, 16), Channel(g, 0));
  EXPECT_NEAR(Channel(g, 8), 130, 4);
  EXPECT_EQ(At(33, 5), 0x00FF00u);
  EXPECT_EQ(At(33, 23), 0x00FF00u);
  // The smoothed edge lies between the green and the black.
  EXPECT_GT(Channel(At(29, 23), 8), 0);
  EXPECT_LT(Channel(At(29, 23), 8), 255);
}

TEST_F(TVideoOnDevice, TexelsBeyondOddFramesRepeatTheEdges) {
  TRef<TYUVImage> v = drawer->CreateVideoImage(5, 3, false);
  auto* yuv = static_cast<T3DYUV*>(v.get());
  ASSERT_TRUE(yuv->ThreePlanes());
  ASSERT_TRUE(WriteYuv(v.get(), [](int x, int y) { return 10u * std::uint32_t(y) + std::uint32_t(x) + 1; }, 100, 200));
  // U: 3 x 2, the halves rounded up as the frame writers fill them; the odd
  // last column and row are the frame's own and stay as written.
  ASSERT_TRUE(WritePlane(v.get(), 1, [](int x, int y) { return 50u + 10u * std::uint32_t(y) + std::uint32_t(x); }));
  const auto read = [&](std::int32_t index, const std::function<void(TSysBitmap*)>& check) {
    TRef<T3DSurface> s = yuv->Texture(index)->DeviceTexture()->GetSurface(0);
    const TSize e = yuv->Texture(index)->Extent();
    TRef<TSysBitmap> b = s->Lock({0, 0, e.cx, e.cy}, true);
    ASSERT_TRUE(b);
    check(b.get());
    s->Unlock(b);
  };
  read(0, [](TSysBitmap* b) {
    ASSERT_EQ(b->Width(), 64);  // a chroma extent of 32 is half of it
    EXPECT_EQ(b->ScanLine(0)[4], 5);
    EXPECT_EQ(b->ScanLine(0)[63], 5);
    EXPECT_EQ(b->ScanLine(1)[40], 15);
    for (int y = 3; y < b->Height(); ++y)
      for (int x = 0; x < b->Width(); ++x) ASSERT_EQ(b->ScanLine(y)[x], b->ScanLine(2)[x]) << x << "," << y;
  });
  read(1, [](TSysBitmap* b) {
    ASSERT_EQ(b->Width(), 32);
    EXPECT_EQ(b->ScanLine(0)[0], 50);
    EXPECT_EQ(b->ScanLine(0)[1], 51);
    EXPECT_EQ(b->ScanLine(0)[2], 52);
    EXPECT_EQ(b->ScanLine(0)[31], 52);
    EXPECT_EQ(b->ScanLine(1)[2], 62);
    EXPECT_EQ(b->ScanLine(31)[0], 60);
    EXPECT_EQ(b->ScanLine(31)[31], 62);
  });
  read(2, [](TSysBitmap* b) { EXPECT_EQ(b->ScanLine(31)[31], 200); });
  // A frame one pixel wide still has one chroma column, repeated beyond it.
  TRef<TYUVImage> thin = drawer->CreateVideoImage(1, 3, false);
  auto* thinYuv = static_cast<T3DYUV*>(thin.get());
  ASSERT_TRUE(WritePlane(thin.get(), 0, [](int, int y) { return 7u + std::uint32_t(y); }));
  ASSERT_TRUE(WritePlane(thin.get(), 1, [](int, int y) { return 20u + std::uint32_t(y); }));
  ASSERT_TRUE(WritePlane(thin.get(), 2, [](int, int) { return 2u; }));
  TRef<T3DSurface> s = thinYuv->Texture(1)->DeviceTexture()->GetSurface(0);
  const TSize e = thinYuv->Texture(1)->Extent();
  TRef<TSysBitmap> b = s->Lock({0, 0, e.cx, e.cy}, true);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->ScanLine(0)[0], 20);
  EXPECT_EQ(b->ScanLine(0)[e.cx - 1], 20);
  EXPECT_EQ(b->ScanLine(1)[0], 21);
  EXPECT_EQ(b->ScanLine(e.cy - 1)[e.cx - 1], 21);
  s->Unlock(b);
}

TEST_F(TVideoOnDevice, TexturesLetGoMarkThePictureLost) {
  TRef<TYUVImage> v = drawer->CreateVideoImage(8, 8, false);
  int calls = 0;
  v->SetContentLostCallback([](void* n, TYUVImage*) { ++*static_cast<int*>(n); }, &calls);
  ASSERT_TRUE(WriteYuv(v.get(), [](int, int) { return 81u; }, 90, 240));
  EXPECT_FALSE(v->ContentLost());
  // Lost while the luma plane is being written: the write still lands in
  // memory that lives until the unlock.
  TRef<TBitmap> y = v->LockPlane(0);
  ASSERT_TRUE(y);
  drawer->Screen()->ReleaseResources();
  EXPECT_TRUE(v->ContentLost());
  EXPECT_EQ(calls, 3);
  std::memset(static_cast<TSysBitmap*>(y.get())->ScanLine(7), 1, 8);
  v->UnlockPlane(0, y);
  // Written again, the frame shows.
  v->ClearContentLost();
  ASSERT_TRUE(WriteYuv(v.get(), [](int, int) { return 81u; }, 90, 240));
  ASSERT_TRUE(Frame(kBlue, [&](T3DDrawer& d) { d.DrawVideoImage(Params(v.get()), {2, 2}, {1, 0}, {0, 1}); }));
  Capture();
  EXPECT_TRUE(Near(At(5, 5), 0xFF0000u, 12));
  v->SetContentLostCallback(nullptr, nullptr);
}

TEST_F(TVideoOnDevice, ChromaKeyToleranceZeroKeysNothingOut) {
  TRef<TYUVImage> v = drawer->CreateVideoImage(8, 8, false);
  ASSERT_TRUE(WriteYuv(v.get(), [](int, int) { return 81u; }, 90, 240));
  TVideoDrawParams keyed = Params(v.get());
  keyed.ChromaKey = true;
  keyed.KeyU = 90.0f / 255.0f;
  keyed.KeyV = 240.0f / 255.0f;
  TVideoDrawParams tolerant = keyed;
  tolerant.KeyTolerance = 0.2f;
  TVideoDrawParams fielded = tolerant;
  fielded.Deinterlace = 1;
  ASSERT_TRUE(Frame(kBlue, [&](T3DDrawer& d) {
    d.DrawVideoImage(keyed, {2, 2}, {1, 0}, {0, 1});
    d.DrawVideoImage(tolerant, {20, 2}, {1, 0}, {0, 1});
    d.DrawVideoImage(fielded, {40, 2}, {1, 0}, {0, 1});
  }));
  Capture();
  EXPECT_TRUE(Near(At(5, 5), 0xFF0000u, 12));
  EXPECT_EQ(At(23, 5), 0x0000FFu);
  EXPECT_EQ(At(43, 5), 0x0000FFu);
}

TEST_F(TVideoOnDevice, DeinterlaceModesShowOneField) {
  // Even rows white, odd rows black.
  TRef<TYUVImage> v = drawer->CreateVideoImage(16, 16, false);
  ASSERT_TRUE(WriteYuv(v.get(), [](int, int y) { return y % 2 ? 16u : 235u; }, 128, 128));
  TVideoDrawParams p[3] = {Params(v.get()), Params(v.get()), Params(v.get())};
  p[1].Deinterlace = 1;
  p[2].Deinterlace = 2;
  ASSERT_TRUE(Frame(kBlue, [&](T3DDrawer& d) {
    for (int m = 0; m < 3; ++m) d.DrawVideoImage(p[m], {float(20 * m), 0}, {1, 0}, {0, 1});
  }));
  Capture();
  for (int y = 2; y < 14; ++y) {
    EXPECT_TRUE(Near(At(28, y), 0xFFFFFFu, 8)) << y;
    EXPECT_TRUE(Near(At(48, y), 0x000000u, 8)) << y;
    // No field chosen: both fields reach the picture.
    EXPECT_GT(Channel(At(8, y), 8), 40) << y;
    EXPECT_LT(Channel(At(8, y), 8), 215) << y;
  }
}

TEST_F(TVideoOnDevice, BadInputIsRefusedAndLockedPicturesGo) {
  EXPECT_FALSE(drawer->CreateVideoImage(0, 8, false));
  EXPECT_FALSE(drawer->CreateVideoImage(8, -1, true));
  TRef<TYUVImage> v = drawer->CreateVideoImage(8, 8, false);
  EXPECT_ANY_THROW(v->LockPlane(5));
  EXPECT_ANY_THROW(v->LockPlane(-1));
  TRef<TBitmap> none;
  EXPECT_ANY_THROW(v->UnlockPlane(0, none));  // nothing locked
  TRef<TBitmap> y = v->LockPlane(0);
  ASSERT_TRUE(y);
  EXPECT_FALSE(v->LockPlane(0));  // already locked
  EXPECT_FALSE(v->LockPlane(3));  // not this layout
  TVideoDrawParams empty = Params(v.get());
  empty.SourceRect = {4, 0, 4, 8};
  TVideoDrawParams field = Params(v.get());
  field.Deinterlace = 3;
  EXPECT_ANY_THROW(drawer->DrawVideoImage(empty, {0, 0}, {1, 0}, {0, 1}));
  EXPECT_ANY_THROW(drawer->DrawVideoImage(field, {0, 0}, {1, 0}, {0, 1}));
  // Released while a plane is locked: the lock goes with it.
  y = nullptr;
  v = nullptr;
  EXPECT_TRUE(drawer->VideoImages.empty());
  // A picture that outlives its drawer no longer reaches it.
  TRef<TYUVImage> left = drawer->CreateVideoImage(8, 8, true);
  drawer = nullptr;
  EXPECT_FALSE(left->LockPlane(4));
  left = nullptr;
}

}  // namespace yuvtest
