#include <cmath>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Graphics/zmObjectFilters.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"

namespace {

using namespace oru_image_test;
using oru::objects::TOruImage;

TEST(OruImage, RequestKeys) {
  // Effect buffers: the effect slide's own texture, else the effect resource.
  EXPECT_EQ(ImageRequestKey(u"a.jpg", 1, u"640, 480", false, false, false), u"EffectResource:1, 640, 480");
  EXPECT_EQ(ImageRequestKey(u"a.jpg", 2, u"640, 480", true, true, true), u"SlideEffectBuffer:2, 640, 480");
  EXPECT_EQ(EffectBufferImageName(640, -1), u"640, -1");
  EXPECT_EQ(ImageRequestKey(u"a.png", 0, u"", false, true, false), u"Mask: a.png");
  // Only an animated GIF asks for the frame atlas, whatever the letter case.
  EXPECT_EQ(ImageRequestKey(u"x\\Run.GIF", 0, u"", false, false, true), u"x\\Run.GIF|framesatlas");
  EXPECT_EQ(ImageRequestKey(u"run.gif", 0, u"", false, false, false), u"run.gif");
  EXPECT_EQ(ImageRequestKey(u"run.gifx", 0, u"", false, false, true), u"run.gifx");
  EXPECT_EQ(ImageRequestKey(u"run.gif", 0, u"", false, true, true), u"Mask: run.gif|framesatlas");
}

TEST(OruImage, ShadowScales) {
  EXPECT_DOUBLE_EQ(ImageShadowScale(TImageKind::Image, 0, 400, 100, 0), 0.5);
  EXPECT_DOUBLE_EQ(ImageShadowScale(TImageKind::Image, 1, 400, 100, 0), 0.25);
  EXPECT_DOUBLE_EQ(ImageShadowScale(TImageKind::Button, 1, 999, 400, 0), 0.55);
  EXPECT_DOUBLE_EQ(ImageShadowScale(TImageKind::Text, 2, 1, 1, 400), 0.275);
  // Absurd sizes give no scale rather than NaN or infinity.
  EXPECT_EQ(ImageShadowScale(TImageKind::Image, 0, -4, 100, 0), 0);
  EXPECT_EQ(ImageShadowScale(TImageKind::Image, 0, 1e300, 1e300, 0), 0);
  EXPECT_GE(ImageShadowScale(TImageKind::Image, 1000000, 400, 100, 0), 0);
}

TEST(OruImage, StripCellsInTheDrawersLayout) {
  EXPECT_EQ(StripCellRect(40, 20, 4, 2, 1, 3), (TFloatRect{37, 13, 47, 23}));
  // Out-of-range cells and grids are held to the strip.
  EXPECT_EQ(StripCellRect(40, 20, 4, 2, 9, -1), (TFloatRect{1, 13, 11, 23}));
  EXPECT_EQ(StripCellRect(3, 3, 0, -2, 0, 0), (TFloatRect{1, 1, 4, 4}));
  EXPECT_EQ(StripCellRect(2, 2, 5, 5, 0, 0), (TFloatRect{1, 1, 2, 2}));
}

TEST(OruImage, GradingModeBetweenKeyFrames) {
  zm::TRef<zm::TObjectFilter> channel = zm::MakeRef<zm::TInvertColor>();
  EXPECT_EQ(ColorGradingMode(nullptr, nullptr, false), 0);
  EXPECT_EQ(ColorGradingMode(nullptr, nullptr, true), 3);  // the picture's own table needs the cube
  EXPECT_EQ(ColorGradingMode(channel.get(), nullptr, false), zm::fkChannel);
  EXPECT_EQ(ColorGradingMode(nullptr, channel.get(), true), 3);
  // Without a way to make textures the picture is drawn ungraded.
  TTestTree t =
      BuildTree(Obj("I", "Image", KeyAt(0, "object Filter:Filter\r\nobject Invert:Invert\r\nend\r\nend\r\n")));
  auto* i = dynamic_cast<TOruImage*>(t.Find("I"));
  ASSERT_NE(i, nullptr);
  t.Layout(0);
  TLogDrawer d;
  EXPECT_EQ(i->GetDrawParams(d).GradeMode, 0);
  EXPECT_EQ(i->GetColorGrading(), nullptr);
}

TEST(OruImage, ReadsKeysWithDefaults) {
  TTestTree t = BuildTree(Obj("I", "Image", "ImageName=a.png\r\nFiltering=nearest\r\nCropRect=1,2,3\r\n") +
                          Obj("J", "AniImage",
                              "Antialiased=0\r\nAnimEnable=1\r\nAnimColumns=4\r\nAnimRows=2\r\nAnimCount=8\r\n"
                              "AnimInterval=40,0,x\r\nImageIndex=3\r\nRestoreAlpha=1\r\nBorderColor=1,2,3,4\r\n"
                              "EnableBorder=1\r\n"));
  auto* i = dynamic_cast<TOruImage*>(t.Find("I"));
  auto* j = dynamic_cast<TOruImage*>(t.Find("J"));
  ASSERT_TRUE(i && j);
  EXPECT_EQ(i->Antialiased, 1);
  EXPECT_EQ(i->Filtering, 0);
  EXPECT_EQ(i->ImageName, u"a.png");
  EXPECT_EQ(i->Border.CropRect, TFloatRect{});  // three numbers keep the default
  EXPECT_EQ(i->Border.BorderWidth, 1.5f);
  EXPECT_EQ(i->Border.BorderColor.Value(), 0xFFFFFFFFu);
  EXPECT_EQ(i->ImageIndex, kImageIndexNone);
  EXPECT_FALSE(i->Animated());
  EXPECT_EQ(j->Antialiased, 0);
  EXPECT_TRUE(j->Animated());
  EXPECT_EQ(j->Animation.Delays, (std::vector<std::int32_t>{40, 100, 100, 100, 100, 100, 100, 100}));
  EXPECT_EQ(j->ImageIndex, 3);
  EXPECT_EQ(j->RestoreAlpha, 1);
  EXPECT_EQ(j->Border.BorderColor.Value(), 0x04010203u);
  // The main picture is an image with an index, not one without.
  WideString name;
  zm::TSize size;
  EXPECT_FALSE(i->GetMainPicture(name, size));
  EXPECT_TRUE(j->GetMainPicture(name, size));
}

TEST(OruImage, GeometryOfBorderCropAndStrip) {
  zm::TRef<TImage> pic = MakePicture(40, 20, [](int, int) { return 0xFF00FF00u; });
  TTestTree t = BuildTree(Obj("B", "Image", "EnableBorder=1\r\nBorderWidth=10\r\n") +
                          Obj("C", "Image", "EnableCrop=1\r\nCropRect=25,0,25,0\r\n") +
                          Obj("A", "Image", "AnimEnable=1\r\nAnimColumns=4\r\nAnimRows=2\r\nAnimCount=8\r\n"
                                            "EnableBorder=1\r\n") +
                          Obj("Z", "Image", "AnimEnable=1\r\nAnimColumns=0\r\nAnimRows=-3\r\n") +
                          Obj("Y", "Image", "AnimEnable=1\r\nAnimColumns=100000\r\nAnimRows=2147483647\r\n"
                                            "AnimCount=2147483647\r\nAnimInterval=1\r\n"));
  auto* b = dynamic_cast<TOruImage*>(t.Find("B"));
  auto* c = dynamic_cast<TOruImage*>(t.Find("C"));
  auto* a = dynamic_cast<TOruImage*>(t.Find("A"));
  auto* z = dynamic_cast<TOruImage*>(t.Find("Z"));
  auto* y = dynamic_cast<TOruImage*>(t.Find("Y"));
  ASSERT_TRUE(b && c && a && z && y);
  for (TOruImage* o : {b, c, a, z, y}) o->AssignPicture(pic.get(), false);
  // A grid finer than the picture's pixels is held to one pixel per cell.
  EXPECT_EQ(y->Width, 1);
  EXPECT_EQ(y->Height, 1);
  EXPECT_EQ(y->StripColumns(), 40);
  EXPECT_EQ(y->StripRows(), 20);
  // The border is 10 % of the picture's height on every side.
  EXPECT_EQ(b->Margin, 2);
  EXPECT_EQ(b->CropRect, (TFloatRect{0, 0, 40, 20}));
  EXPECT_EQ(b->Width, 44);
  EXPECT_EQ(b->Height, 24);
  EXPECT_EQ(c->CropRect, (TFloatRect{10, 0, 30, 20}));
  EXPECT_EQ(c->Width, 20);
  // A strip shows one cell and never a border.
  EXPECT_EQ(a->Width, 10);
  EXPECT_EQ(a->Height, 10);
  EXPECT_EQ(a->Margin, 0);
  EXPECT_EQ(z->Width, 40);  // a grid of no cells counts as one
  EXPECT_EQ(z->Height, 20);
  EXPECT_EQ(b->GetImageSize(), (zm::TSize{40, 20}));
  b->AssignPicture(nullptr, false);
  EXPECT_EQ(b->GetImageSize(), (zm::TSize{0, 0}));
  EXPECT_EQ(b->DrawnSize, (TFloatPoint{0, 0}));
  t.Layout(0);
  TLogDrawer d;
  EXPECT_TRUE(d.Draw(t.Slide.get()));  // without a picture nothing is drawn for it
  for (const TImageCall& call : d.images) EXPECT_NE(call.Image, nullptr);
}

// The picture exactly fills a slide of its drawn size.
TEST(OruImage, DrawsPictureInsideItsBorder) {
  zm::TRef<TImage> pic = MakePicture(40, 20, [](int, int) { return 0xFF00FF00u; });
  TTestTree t = BuildTree(Obj("B", "Image", "EnableBorder=1\r\nBorderWidth=10\r\nBorderColor=255,0,0,128\r\n"),
                          44, 24);
  auto* b = dynamic_cast<TOruImage*>(t.Find("B"));
  ASSERT_NE(b, nullptr);
  b->AssignPicture(pic.get(), false);
  t.Layout(0);
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  ASSERT_EQ(d.frames.size(), 1u);
  EXPECT_NEAR(d.frames[0].Origin.X, 0, 1e-3);
  EXPECT_NEAR(d.frames[0].Size.X, 44, 1e-3);
  EXPECT_NEAR(d.frames[0].Size.Y, 24, 1e-3);
  EXPECT_NEAR(d.frames[0].Border.X, 2, 1e-3);
  EXPECT_EQ(d.frames[0].Colour.A, 128);
  ASSERT_EQ(d.images.size(), 1u);
  EXPECT_NEAR(d.images[0].Origin.X, 2, 1e-3);
  EXPECT_NEAR(d.images[0].Origin.Y, 2, 1e-3);
  EXPECT_NEAR(d.images[0].AxisX.X, 1, 1e-4);
  EXPECT_NEAR(d.images[0].AxisY.Y, 1, 1e-4);
  EXPECT_EQ(d.images[0].Params.SourceRect, (TFloatRect{0, 0, 40, 20}));
  EXPECT_TRUE(d.images[0].Params.Antialiased);
  EXPECT_EQ(d.images[0].Params.BorderColour.A, 128);
  EXPECT_EQ(d.images[0].Params.GradeMode, 0);
}

TEST(OruImage, StripPlaysFramesAndStopsAfterItsRepetitions) {
  zm::TRef<TImage> pic = MakePicture(40, 20, [](int, int) { return 0xFF0000FFu; });
  TTestTree t = BuildTree(Obj("A", "Image", "AnimEnable=1\r\nAnimColumns=4\r\nAnimRows=2\r\nAnimCount=8\r\n"
                                            "AnimInterval=100\r\nAnimRepCount=2\r\n") +
                              Obj("O", "Image", "AnimEnable=1\r\nAnimCount=5\r\nAnimInterval=100\r\n") +
                              Obj("L", "Image", "AnimEnable=1\r\nAnimColumns=4\r\nAnimRows=2\r\nAnimCount=8\r\n"
                                                "AnimInterval=100\r\n"),
                          10, 10);
  auto* a = dynamic_cast<TOruImage*>(t.Find("A"));
  auto* o = dynamic_cast<TOruImage*>(t.Find("O"));
  ASSERT_TRUE(a && o);
  auto* l = dynamic_cast<TOruImage*>(t.Find("L"));
  ASSERT_NE(l, nullptr);
  a->AssignPicture(pic.get(), false);
  o->AssignPicture(pic.get(), false);
  l->AssignPicture(pic.get(), false);
  t.Layout(250);
  EXPECT_EQ(a->DueFrame(), 2);
  EXPECT_EQ(o->DueFrame(), 0);  // one cell: always the first frame
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  ASSERT_EQ(d.images.size(), 3u);
  // The third cell in the drawer's layout of the strip, each cell with a border.
  EXPECT_EQ(d.images[0].Params.SourceRect, (TFloatRect{25, 1, 35, 11}));
  EXPECT_NEAR(d.images[0].Origin.X, -25, 1e-3);
  EXPECT_NEAR(d.images[0].Origin.Y, -1, 1e-3);
  EXPECT_TRUE(d.images[0].Params.Tiled);
  EXPECT_FALSE(d.images[0].Params.Antialiased);
  EXPECT_EQ(d.images[0].Params.Columns, 4);
  EXPECT_EQ(d.frames.size(), 0u);
  EXPECT_EQ(a->LastFrame, 2);

  // A new frame due makes the object changed though nothing else moved.
  t.Slide->SetTime(true, 260);
  EXPECT_FALSE(a->IsChanged());
  t.Slide->SetTime(true, 350);
  EXPECT_TRUE(a->IsChanged());
  // Second pass, then the last frame stays.
  t.Slide->SetTime(true, 1050);
  EXPECT_EQ(a->DueFrame(), 2);
  t.Slide->SetTime(true, 9999);
  EXPECT_EQ(a->DueFrame(), 7);
  EXPECT_EQ(l->DueFrame(), 3);  // no repetition count: it loops
}

TEST(OruImage, OpacityZeroAndNoPictureDrawNothing) {
  zm::TRef<TImage> pic = MakePicture(4, 4, [](int, int) { return 0xFFFFFFFFu; });
  TTestTree t = BuildTree(Obj("I", "Image", KeyAt(0, "Opacity=0\r\n")) + Obj("N", "Image", "ImageName=x.png\r\n"));
  auto* i = dynamic_cast<TOruImage*>(t.Find("I"));
  ASSERT_NE(i, nullptr);
  i->AssignPicture(pic.get(), false);
  t.Layout(0);
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  EXPECT_TRUE(d.images.empty());
  // Without a host the picture is never fetched and nothing is prepared.
  t.Slide->PrepareResources(d);
  EXPECT_EQ(dynamic_cast<TOruImage*>(t.Find("N"))->Picture.get(), nullptr);
  ASSERT_EQ(d.prepared.size(), 1u);
  EXPECT_EQ(d.prepared[0].Image, pic.get());
  EXPECT_EQ(i->PreparedLevel, 0);
  t.Slide->ReleaseResources(d);
  EXPECT_EQ(i->PreparedLevel, -1);
  ASSERT_EQ(d.released.size(), 1u);
}

TEST(OruImage, ColourTableOnlyWithColourManagement) {
  zm::TRef<TImage> pic = MakePicture(4, 4, [](int, int) { return 0xFF102030u; });
  pic->Store()->ColorProfile = zm::TRef<zm::TColorProfile>(zm::AdobeRGBProfile());
  TTestTree t = BuildTree(Obj("I", "Image", ""));
  auto* i = dynamic_cast<TOruImage*>(t.Find("I"));
  ASSERT_NE(i, nullptr);
  const bool saved = ColorManagementEnabled.load();
  ColorManagementEnabled = false;
  i->AssignPicture(pic.get(), false);
  EXPECT_EQ(i->ColorTable.get(), nullptr);
  ColorManagementEnabled = true;
  i->AssignPicture(pic.get(), true);  // effect buffers are never converted
  EXPECT_EQ(i->ColorTable.get(), nullptr);
  i->AssignPicture(pic.get(), false);
  const bool transform = bool(zm::CreateColorTransform(zm::AdobeRGBProfile(), nullptr));
  EXPECT_EQ(i->ColorTable.get() != nullptr, transform && !NoColorManagement);
  if (zm::TSysBitmap* table = i->ColorTable.get()) {
    EXPECT_EQ(table->Width(), 32);
    EXPECT_EQ(table->Height(), 1024);
  }
  ColorManagementEnabled = saved;
  // A picture without its own profile needs no table.
  EXPECT_EQ(MakeProfileLookup(MakePicture(1, 1, [](int, int) { return 0u; }).get(), nullptr).get(), nullptr);
  EXPECT_EQ(MakeProfileLookup(nullptr, nullptr).get(), nullptr);
}

// ---- Through a slide host ---------------------------------------------------------------------

zm::TSize BufferSize(void*, TOruSlideHost*) { return {64, 32}; }
zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return {0, 0, -100}; }
TOruSource* NoSource(void*, TOruSlideHost*) { return nullptr; }
zm::TRef<TImage> EffectPicture(void*, TOruSlideHost*, const WideString&) {
  return MakePicture(8, 8, [](int, int) { return 0xFFFF00FFu; });
}

TEST(OruImage, PicturesComeThroughTheHost) {
  TOruHostCallbacks cb;
  cb.EffectBufferSize.Code = &BufferSize;
  cb.Camera.Code = &Camera;
  cb.ShowSource.Code = &NoSource;
  cb.EffectResource.Code = &EffectPicture;
  zm::TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  zm::TRef<TOruSlideHost> host = zm::MakeRef<TOruSlideHost>(accessor.get(), cb, u"", false);
  host->BufferSize1 = 64;
  host->BufferSize2 = 32;
  TTestTree t = BuildHostedTree(Obj("E", "Image", "ReplaceWithEffectBuffer=1\r\n") +
                                    Obj("M", "Image", "ImageName=no\\such\\picture.png\r\nShadowEnable=1\r\n"),
                                host.get());
  auto* e = dynamic_cast<TOruImage*>(t.Find("E"));
  auto* m = dynamic_cast<TOruImage*>(t.Find("M"));
  ASSERT_TRUE(e && m);
  TLogDrawer d;
  t.Slide->PrepareResources(d);
  EXPECT_EQ(e->ImageName, u"64, 32");
  EXPECT_EQ(e->RequestKey, u"EffectResource:1, 64, 32");
  EXPECT_NE(e->Picture.get(), nullptr);
  // A missing file still gives a picture to show: the placeholder.
  EXPECT_NE(m->Picture.get(), nullptr);
  EXPECT_GT(m->Width, 0);
  // Asking again keeps the picture held.
  TImage* held = m->Picture.get();
  m->RequestImage();
  EXPECT_EQ(m->Picture.get(), held);
  t.Slide->ReleaseResources(d);
  t.Slide = nullptr;
}


zm::TRef<TImage> LargePicture(void*, TOruSlideHost*, const WideString&) {
  return MakePicture(1024, 512, [](int, int) { return 0xFF204060u; });
}

TEST(OruImage, AFetchedPictureIsPreparedAtTheLevelItIsDrawnAt) {
  // The picture arrives inside PrepareResources, before any layout: its
  // textures are made at the level the frame then draws, not at full size.
  TOruHostCallbacks cb;
  cb.EffectBufferSize.Code = &BufferSize;
  cb.Camera.Code = &Camera;
  cb.ShowSource.Code = &NoSource;
  cb.EffectResource.Code = &LargePicture;
  zm::TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  zm::TRef<TOruSlideHost> host = zm::MakeRef<TOruSlideHost>(accessor.get(), cb, u"", false);
  // A 32 x 24 slide: the 1024 x 512 picture is shown far below its size.
  TTestTree t = BuildHostedTree(Obj("E", "Image", "ReplaceWithEffectBuffer=1\r\n") + Obj("F", "Image", ""),
                                host.get(), 32, 24);
  auto* e = dynamic_cast<TOruImage*>(t.Find("E"));
  auto* f = dynamic_cast<TOruImage*>(t.Find("F"));
  ASSERT_TRUE(e && f);
  TLogDrawer d;
  t.Slide->PrepareResources(d);
  ASSERT_EQ(d.prepared.size(), 1u);
  const std::int32_t prepared = d.prepared[0].Params.Level;
  EXPECT_EQ(e->PreparedLevel, prepared);
  // F shows the same picture, never prepared: the level a layout chooses freely.
  f->AssignPicture(e->Picture.get(), false);
  t.Layout(0);
  EXPECT_GT(f->MipLevel, 0);
  EXPECT_EQ(prepared, f->MipLevel);
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  ASSERT_EQ(d.images.size(), 2u);
  EXPECT_EQ(d.images[0].Params.Level, prepared);
  // Prepared again, both keep the picture and the level.
  t.Slide->PrepareResources(d);
  ASSERT_EQ(d.prepared.size(), 3u);
  EXPECT_EQ(d.prepared[1].Params.Level, prepared);
  EXPECT_EQ(d.prepared[2].Params.Level, prepared);
  t.Slide->ReleaseResources(d);
  t.Slide = nullptr;
}

}  // namespace
