// Image objects, boxes and view ports drawn by the 3D drawer on the software
// device, compared with small expected pictures.
#include <string>
#include <vector>

#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmObjectFilters.h"
#include "ZmLib/zmHookScope.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace oru_image_test;
using drawertest::Near;
using oru::objects::TOruImage;

// Every channel within this of the expected colour.
constexpr int kTolerance = 12;

// One letter per pixel of the top-left corner of the frame: K black, W
// white, R red, B blue, G green, '.' not checked (edges that antialiasing
// may blend).
std::uint32_t Letter(char c) {
  switch (c) {
    case 'K': return 0x000000;
    case 'W': return 0xFFFFFF;
    case 'R': return 0xFF0000;
    case 'B': return 0x0000FF;
    case 'G': return 0x00FF00;
    default: return 0;
  }
}

class ObjectsOnDevice : public drawertest::TDrawerOnDevice {
protected:
  void DrawTree(TTestTree& t, std::uint32_t background) {
    t.Layout(100);
    t.Slide->PrepareResources(*drawer);
    ASSERT_TRUE(Frame(background, [&](oru::T3DDrawer& d) { d.Draw(t.Slide.get()); }));
    Capture();
  }
  // The top-left corner as letters, to write the expected picture from.
  void Dump(int w0, int h0) {
    for (int y = 0; y < h0; ++y) {
      std::string row;
      for (int x = 0; x < w0; ++x) {
        const std::uint32_t c = At(x, y);
        char l = '?';
        for (char k : std::string("KWRBG"))
          if (Near(c, Letter(k), kTolerance)) l = k;
        row += l;
      }
      printf("%s\n", row.c_str());
    }
  }
  void ExpectPicture(const std::vector<std::string>& rows) {
    if (getenv("ZM_DUMP_PICTURES")) Dump(32, 28);
    for (std::size_t y = 0; y < rows.size(); ++y)
      for (std::size_t x = 0; x < rows[y].size(); ++x)
        if (rows[y][x] != '.') {
          EXPECT_TRUE(Near(At(int(x), int(y)), Letter(rows[y][x]), kTolerance)) << "at " << x << ", " << y;
        }
  }
};

// A 40 x 20 picture, red left half and blue right half, cropped to its
// middle 20 x 20 and framed by a white border of 10 % of its height (2 px):
// a 24 x 24 object on a slide of its size in the top-left corner. Sampled
// without filtering or smoothed edges, so that every pixel is exact.
TEST_F(ObjectsOnDevice, CroppedImageWithBorder) {
  zm::TRef<TImage> pic = MakePicture(40, 20, [](int x, int) { return x < 20 ? 0xFFFF0000u : 0xFF0000FFu; });
  TTestTree t = BuildTree(
      Obj("I", "Image",
          "EnableCrop=1\r\nCropRect=25,0,25,0\r\nEnableBorder=1\r\nBorderWidth=10\r\nBorderColor=255,255,255\r\n"
          "Filtering=Nearest\r\nAntialiased=0\r\n"),
      24, 24);
  auto* img = dynamic_cast<TOruImage*>(t.Find("I"));
  ASSERT_NE(img, nullptr);
  img->AssignPicture(pic.get(), false);
  DrawTree(t, 0xFF000000u);
  const std::string border = "WWWWWWWWWWWWWWWWWWWWWWWWKKKK";
  std::vector<std::string> rows = {border, border};
  for (int i = 0; i < 20; ++i) rows.push_back("WWRRRRRRRRRRBBBBBBBBBBWWKKKK");
  rows.push_back(border);
  rows.push_back(border);
  rows.push_back("KKKKKKKKKKKKKKKKKKKKKKKKKKKK");
  ExpectPicture(rows);
}

// The frame of an animated strip: a 4 x 1 strip of solid cells, 100 ms each.
TEST_F(ObjectsOnDevice, StripShowsTheDueCell) {
  const std::uint32_t cells[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  zm::TRef<TImage> pic = MakePicture(32, 8, [&](int x, int) { return cells[x / 8]; });
  TTestTree t = BuildTree(Obj("A", "Image",
                              "AnimEnable=1\r\nAnimColumns=4\r\nAnimCount=4\r\nAnimInterval=100\r\n"
                              "Filtering=Nearest\r\n"),
                          8, 8);
  auto* img = dynamic_cast<TOruImage*>(t.Find("A"));
  ASSERT_NE(img, nullptr);
  img->AssignPicture(pic.get(), false);
  t.Layout(150);  // the second cell
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.Draw(t.Slide.get()); }));
  Capture();
  std::vector<std::string> rows(8, "GGGGGGGGKK");
  rows.push_back("KKKKKKKKKK");
  ExpectPicture(rows);
}

// An opaque white square in the middle of a transparent picture casts a
// black shadow to the right: the grey background darkens there only.
TEST_F(ObjectsOnDevice, ImageShadowFallsAwayFromTheLight) {
  zm::TRef<TImage> pic = MakePicture(64, 48, [](int x, int y) {
    return x >= 24 && x < 40 && y >= 16 && y < 32 ? 0xFFFFFFFFu : 0x00000000u;
  });
  TTestTree t = BuildTree(Obj("I", "Image",
                              "ImageName=square.png\r\nShadowEnable=1\r\nShadowSize=2\r\nShadowOpacity=100\r\n"
                              "ShadowDistance=10\r\n"
                              "ShadowAngle=0\r\nShadowColor=0,0,0\r\n"),
                          64, 48);
  auto* img = dynamic_cast<TOruImage*>(t.Find("I"));
  ASSERT_NE(img, nullptr);
  img->AssignPicture(pic.get(), false);
  DrawTree(t, 0xFFC0C0C0u);
  ASSERT_NE(img->Shadow.get(), nullptr);
  ASSERT_NE(img->Shadow->Image(), nullptr);
  EXPECT_TRUE(Near(At(32, 24), 0xFFFFFF, kTolerance));   // the square itself
  EXPECT_TRUE(Near(At(18, 24), 0xC0C0C0, kTolerance));   // left of it: untouched
  EXPECT_TRUE(Near(At(32, 8), 0xC0C0C0, kTolerance));    // above it: untouched
  EXPECT_LT(drawertest::Channel(At(44, 24), 8), 0x80);   // right of it: in shadow
  EXPECT_TRUE(Near(At(2, 2), 0xC0C0C0, kTolerance));
}

zm::TRef<zm::TCustomColorGradeTexture> MakeGradeTexture(zm::TDeviceDrawer& drawer, std::uint8_t kind) {
  auto* d = dynamic_cast<oru::T3DDrawer*>(&drawer);
  if (!d || !d->Screen()) return nullptr;
  return zm::MakeRef<zm::TCustomColorGradeTexture>(d->Screen(), kind);
}

int gGradeTexturesMade = 0;
zm::TRef<zm::TCustomColorGradeTexture> CountGradeTexture(zm::TDeviceDrawer& drawer, std::uint8_t kind) {
  ++gGradeTexturesMade;
  return MakeGradeTexture(drawer, kind);
}

// A grading wrapper makes its texture once per kind and lays a new source
// on it only when the source changed; the volume keeps the table it was
// given after its caller let it go.
TEST_F(ObjectsOnDevice, GradeWrapperRemakesOnlyForAnotherKindAndUploadsOnlyChanges) {
  zm::THookScope grade(MakeGradeTextureHook, &CountGradeTexture);
  gGradeTexturesMade = 0;
  zm::TRef<zm::TObjectFilter> f1 = zm::TRef<zm::TObjectFilter>::Adopt(zm::NewObjectFilter<zm::TInvertColor>());
  zm::TRef<zm::TObjectFilter> f2 = zm::TRef<zm::TObjectFilter>::Adopt(zm::NewObjectFilter<zm::TInvertColor>());
  zm::TRef<oru::TColorGradeWrapper> w = zm::MakeRef<oru::TColorGradeWrapper>();
  w->SetSource(nullptr, f1.get());
  zm::TCustomColorGradeTexture* strip = w->Prepare(*drawer, false);
  ASSERT_NE(strip, nullptr);
  EXPECT_FALSE(strip->IsVolume());
  EXPECT_EQ(strip->GradeFilter(), f1.get());
  EXPECT_FALSE(w->Dirty());
  w->SetSource(nullptr, f1.get());
  EXPECT_FALSE(w->Dirty());  // the same source
  EXPECT_EQ(w->Prepare(*drawer, false), strip);
  w->SetSource(nullptr, f2.get());
  EXPECT_TRUE(w->Dirty());
  EXPECT_EQ(w->Prepare(*drawer, false), strip);
  EXPECT_EQ(strip->GradeFilter(), f2.get());
  EXPECT_EQ(gGradeTexturesMade, 1);

  zm::TRef<zm::TSysBitmap> table = zm::CreateSysBitmap(zm::kGradeCubeSize, zm::kGradeCubeRows, zm::pfA8R8G8B8);
  zm::FillIdentityCube32(table.get());
  zm::TSysBitmap* const tableSeen = table.get();
  w->SetSource(table.get(), f2.get());
  table = nullptr;
  zm::TCustomColorGradeTexture* volume = w->Prepare(*drawer, true);
  ASSERT_NE(volume, nullptr);
  EXPECT_TRUE(volume->IsVolume());
  EXPECT_EQ(volume->Source(), tableSeen);
  EXPECT_EQ(volume->GradeFilter(), f2.get());
  EXPECT_NE(volume->Realize(), nullptr);
  EXPECT_EQ(gGradeTexturesMade, 2);
  // Back to the strip: a new one, whose source stays the identity.
  strip = w->Prepare(*drawer, false);
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(strip->Source(), nullptr);
  EXPECT_EQ(gGradeTexturesMade, 3);
}

// Strip keys beyond the picture still draw one of its pixels.
TEST_F(ObjectsOnDevice, AbsurdStripGridDrawsAPixelCell) {
  zm::TRef<TImage> pic = MakePicture(4, 4, [](int, int) { return 0xFF00FF00u; });
  TTestTree t = BuildTree(Obj("A", "Image",
                              "AnimEnable=1\r\nAnimColumns=2147483647\r\nAnimRows=-7\r\nAnimCount=99999999\r\n"
                              "AnimInterval=1\r\nFiltering=Nearest\r\n"),
                          8, 8);
  auto* img = dynamic_cast<TOruImage*>(t.Find("A"));
  ASSERT_NE(img, nullptr);
  img->AssignPicture(pic.get(), false);
  DrawTree(t, 0xFF000000u);
  EXPECT_TRUE(Near(At(4, 4), 0x00FF00, kTolerance));
}

// A key frame's colour filter asks the drawer for per-channel grading
// with textures made on its screen.
TEST_F(ObjectsOnDevice, KeyFrameFilterGradesThePicture) {
  zm::TRef<TImage> pic = MakePicture(8, 8, [](int, int) { return 0xFF804020u; });
  TTestTree t = BuildTree(Obj("I", "Image",
                              "Filtering=Nearest\r\nAntialiased=0\r\n" +
                                  KeyAt(0, "object Filter:Filter\r\nobject Invert:Invert\r\nend\r\nend\r\n")),
                          8, 8);
  auto* img = dynamic_cast<TOruImage*>(t.Find("I"));
  ASSERT_NE(img, nullptr);
  img->AssignPicture(pic.get(), false);
  zm::THookScope grade(MakeGradeTextureHook, &MakeGradeTexture);
  DrawTree(t, 0xFF000000u);
  const zm::TImageDrawParams params = img->GetDrawParams(*drawer);
  grade.Restore();
  EXPECT_EQ(params.GradeMode, 2);
  ASSERT_NE(params.GradeTable1, nullptr);
  EXPECT_EQ(params.GradeTable1, params.GradeTable2);  // one key frame on both sides
  EXPECT_FALSE(params.GradeTable1->IsVolume());
  EXPECT_NE(params.GradeTable1->GradeFilter(), nullptr);
  EXPECT_NE(params.GradeTable1->Realize(), nullptr);
  EXPECT_TRUE(Near(At(12, 4), 0x000000, kTolerance));
  // Drawn inverted, not as the picture.
  for (int y = 0; y < 8; y += 7)
    for (int x = 0; x < 8; x += 7) EXPECT_TRUE(Near(At(x, y), 0x7FBFDF, 1)) << x << ", " << y;
}

// A vertical gradient box from red to blue, and a horizontal one: both run
// from their first colour to their second, top down and left to right.
TEST_F(ObjectsOnDevice, GradientBoxes) {
  TTestTree t = BuildTree(Obj("V", "Box", "Size=32,48\r\nFillMode=VGradient\r\nColor1=255,0,0\r\nColor2=0,0,255\r\n" +
                                              KeyAt(0, "Position=-50,0\r\n")) +
                              Obj("H", "Box", "Size=32,48\r\nFillMode=HGradient\r\nColor1=255,0,0\r\n"
                                              "Color2=0,0,255\r\n" + KeyAt(0, "Position=50,0\r\n")),
                          64, 48);
  DrawTree(t, 0xFF000000u);
  // Left box: red at the top, blue at the bottom, purple between.
  EXPECT_TRUE(Near(At(16, 0), 0xFF0000, 16));
  EXPECT_TRUE(Near(At(16, 47), 0x0000FF, 16));
  EXPECT_TRUE(Near(At(16, 24), 0x7F007F, 16));
  // Right box: red on its left edge, blue on its right.
  EXPECT_TRUE(Near(At(33, 24), 0xFF0000, 24));
  EXPECT_TRUE(Near(At(62, 24), 0x0000FF, 24));
}

TEST_F(ObjectsOnDevice, SplitterAndTransparentBoxesLeaveTheBackground) {
  TTestTree t = BuildTree(Obj("S", "Splitter", "Size=64,48\r\nColor1=255,255,255\r\n") +
                              Obj("A", "Box", "Size=64,48\r\nColor1=255,255,255\r\nAlpha1=0\r\nAlpha2=255\r\n") +
                              Obj("O", "Box", "Size=64,48\r\nColor1=255,255,255\r\n" + KeyAt(0, "Opacity=0.001\r\n")),
                          64, 48);
  DrawTree(t, 0xFF204060u);
  for (int y = 0; y < 48; y += 7)
    for (int x = 0; x < 64; x += 7) EXPECT_TRUE(Near(At(x, y), 0x204060, 2)) << x << ", " << y;
}

// A view port whose stencil is a white box over the left half shows its
// red content only there.
TEST_F(ObjectsOnDevice, ViewPortShowsContentThroughTheStencil) {
  TTestTree t = BuildTree(
      Obj("V", "ViewPort",
          "Size=64,48\r\n" +
              Obj("M", "MaskStencil",
                  Obj("MB", "Box", "Size=32,48\r\nColor1=255,255,255\r\n" + KeyAt(0, "Position=-50,0\r\n"))) +
              Obj("C", "MaskContent", Obj("CB", "Box", "Size=64,48\r\nColor1=255,0,0\r\n"))),
      64, 48);
  DrawTree(t, 0xFF000000u);
  EXPECT_TRUE(Near(At(8, 24), 0xFF0000, kTolerance));
  EXPECT_TRUE(Near(At(28, 10), 0xFF0000, kTolerance));
  EXPECT_TRUE(Near(At(40, 24), 0x000000, kTolerance));
  EXPECT_TRUE(Near(At(60, 40), 0x000000, kTolerance));
}

}  // namespace
