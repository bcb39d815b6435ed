#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/OruLib2/OruClasses/OruObjectsTestKit.h"
#include "tests/ZmLib/3DBasics/DeviceDrawerDoubles.h"

namespace oru_objects_test {
namespace {

std::string Box(const std::string& name, const std::string& body = {}, const std::string& size = "100,50") {
  return Obj(name, "Box", "Size=" + size + "\r\n" + body);
}

void ExpectPoint(const TFloatPoint3& p, float x, float y, float z, float tol = 1e-3f) {
  EXPECT_NEAR(p.X, x, tol);
  EXPECT_NEAR(p.Y, y, tol);
  EXPECT_NEAR(p.Z, z, tol);
}

// ---- Creation by type code ---------------------------------------------------------------

TEST(OruObjectsCreate, EveryTypeCodeAndUnknownOnes) {
  TKindsGuard kinds;
  const char* types[] = {"Frame", "Box", "Splitter", "Image", "AniImage", "Text",
                         "Button", "Video", "ViewPort", "MaskStencil", "MaskContent"};
  std::string body;
  for (int i = 0; i < 11; ++i) {
    body += Obj("o" + std::to_string(i + 1), types[i], "");
    // Unknown kinds between the known ones are left out; their siblings stay.
    body += Obj("u" + std::to_string(i), "Widget", Obj("under" + std::to_string(i), "Box", ""));
  }
  TTestTree t = BuildTree(body);
  ASSERT_EQ(t.Slide->ChildCount(), 11);
  for (int i = 0; i < 11; ++i) {
    auto* k = dynamic_cast<TTestKind*>(t.Slide->Child(i));
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->Code, i + 1);
    EXPECT_EQ(k->Key.Str(), "{o" + std::to_string(i + 1) + "}");
    EXPECT_EQ(k->Parent(), t.Slide.get());
  }
  EXPECT_NE(dynamic_cast<TTestImage*>(t.Slide->Child(4)), nullptr);
  EXPECT_NE(dynamic_cast<TTestText*>(t.Slide->Child(5)), nullptr);
  EXPECT_NE(dynamic_cast<TTestVideo*>(t.Slide->Child(7)), nullptr);
  EXPECT_NE(dynamic_cast<TTestViewPort*>(t.Slide->Child(10)), nullptr);

  for (int code : {0, 12, 255, -1, 2147483647}) EXPECT_EQ(CreateOruObjectHook(code, nullptr, nullptr), nullptr);
  // A code 1..7 without a registered class gives nil too.
  TOruObjectClassProc box = SetOruObjectClass(2, nullptr);
  EXPECT_EQ(CreateBaseOruObject(2, nullptr, nullptr), nullptr);
  SetOruObjectClass(2, box);
  EXPECT_EQ(SetOruObjectClass(8, box), nullptr);
  EXPECT_EQ(SetOruObjectClass(0, box), nullptr);
}

TEST(OruObjectsCreate, ReloadKeepsBoundObjectsAndBindingIsOneToOne) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Box("A", Box("A1")) + Box("B"));
  TOruObject* a = t.Find("A");
  TOruObject* a1 = t.Find("A1");
  ASSERT_TRUE(a && a1);
  EXPECT_EQ(BoundOruObject(a->Props()), a);
  t.Slide->Load(t.Props.get(), true);
  ASSERT_EQ(t.Slide->ChildCount(), 2);
  EXPECT_EQ(t.Slide->Child(0), a);
  EXPECT_EQ(a->ChildCount(), 1);
  EXPECT_EQ(a->Child(0), a1);

  // Properties already bound cannot make a second object.
  EXPECT_THROW(TOruObject::Create<TTestKind>(nullptr, a->Props()), zm::EAbort);
  EXPECT_EQ(BoundOruObject(a->Props()), a);

  // Releasing the tree unbinds every object and asks the host to forget keys.
  TOruObjectProps* a1Props = a1->Props();
  TRef<TOruObject> keep(a1);  // held elsewhere: survives, cut from its parent
  t.Slide = nullptr;
  EXPECT_EQ(BoundOruObject(t.Props.get()), nullptr);
  EXPECT_EQ(keep->Parent(), nullptr);
  EXPECT_EQ(BoundOruObject(a1Props), a1);
  keep = nullptr;
  EXPECT_EQ(BoundOruObject(a1Props), nullptr);
}

TEST(OruObjectsCreate, MissingAndDuplicateGuidsAndDeepNesting) {
  TKindsGuard kinds;
  // Without a GUID the properties make one; two blocks with one GUID are
  // still two objects.
  TTestTree t = BuildTree(Obj("N", "Box", "", "") + Obj("D1", "Box", "", "{D}") + Obj("D2", "Box", "", "{D}"));
  ASSERT_EQ(t.Slide->ChildCount(), 3);
  EXPECT_FALSE(t.Slide->Child(0)->Key.IsEmpty());
  EXPECT_NE(t.Slide->Child(1), t.Slide->Child(2));
  EXPECT_NE(t.Slide->Child(1)->Props(), t.Slide->Child(2)->Props());
  t.Layout(0);

  // A hostile nesting depth is cut; evaluation, hit testing and drawing of
  // what is left run without exhausting the stack.
  std::string deep;
  for (int i = 0; i < 400; ++i) deep = Box("d" + std::to_string(i), deep);
  TTestTree d = BuildTree(deep);
  int depth = 0;
  for (TOruObject* o = d.Slide.get(); o->ChildCount() > 0; o = o->Child(0)) ++depth;
  EXPECT_GT(depth, 10);
  EXPECT_LE(depth, kMaxOruObjectDepth);
  d.Layout(100);
  float x = 0, y = 0;
  EXPECT_NE(d.Slide->HitTest({160, 120}, nullptr, x, y), nullptr);
  zm::test::TRecordingDrawer drawer;
  EXPECT_TRUE(drawer.Draw(d.Slide.get()));
}

TEST(OruObjectsCreate, MainPictureSearch) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Obj("T", "Text", "ImageIndex=1\r\nImageName=t.jpg\r\n") +
                          Obj("Btn", "Button", "ImageIndex=1\r\nImageName=b.jpg\r\n") +
                          Obj("NoIndex", "Image", "ImageName=n.jpg\r\n") +
                          Box("Group", Obj("Inner", "Image", "ImageIndex=0\r\nImageName=inner.jpg\r\nSize=40,30\r\n")) +
                          Obj("Later", "Image", "ImageIndex=2\r\nImageName=later.jpg\r\n"));
  WideString name;
  zm::TSize size;
  TOruObject* found = GetObjectMediaHook(t.Slide.get(), name, size);
  EXPECT_EQ(found, t.Find("Inner"));
  EXPECT_EQ(name, u"inner.jpg");
  EXPECT_EQ(size, (zm::TSize{40, 30}));
  EXPECT_EQ(GetObjectMediaHook(t.Find("T"), name, size), nullptr);
  EXPECT_EQ(GetObjectMediaHook(nullptr, name, size), nullptr);
}

// ---- Time ------------------------------------------------------------------------------------

TEST(OruObjectsTime, ActiveWindowEdgesAndChangeFlags) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Box("A", "DeltaTime1=1000\r\nDeltaTime2=2000\r\n"));
  TOruObject* a = t.Find("A");
  struct Case {
    double T;
    bool Active;
  } cases[] = {{0, false},       {999.99998, false}, {999.999995, true}, {1000, true},
               {8000, true},     {8000.000005, true}, {8000.00002, false}, {1e12, false}};
  for (const Case& c : cases) {
    t.Slide->CommitFrame(true);
    const bool was = a->Active != 0;
    t.Slide->SetTime(true, c.T);
    EXPECT_EQ(a->Active != 0, c.Active) << c.T;
    EXPECT_EQ(a->StateChanged, was != c.Active) << c.T;
  }
  // NaN and infinite show times give a clear answer, never a trap.
  t.Slide->SetTimeAndLayout(true, std::nan(""));
  t.Slide->SetTimeAndLayout(true, -INFINITY);
  EXPECT_EQ(a->Active, 0);
}

TEST(OruObjectsTime, FrameChangedOnlyWhenSomethingMoves) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Box("Still") +
                          Box("Moving", KeyAt(0, "Position=0,0\r\n") + KeyAt(1000, "Position=100,0\r\n")));
  TOruObject* still = t.Find("Still");
  TOruObject* moving = t.Find("Moving");
  t.Layout(100);
  t.Slide->CommitFrame(true);
  EXPECT_FALSE(t.Slide->IsChanged());
  t.Layout(100);
  EXPECT_FALSE(t.Slide->IsChanged());
  t.Layout(200);
  EXPECT_FALSE(still->IsChanged());
  EXPECT_TRUE(moving->IsChanged());
  EXPECT_TRUE(t.Slide->IsChanged());  // through its child
  t.Slide->CommitFrame(true);
  t.Layout(5000);  // past the last key frame: moved once more, then still
  EXPECT_TRUE(moving->IsChanged());
  t.Slide->CommitFrame(true);
  t.Layout(6000);
  EXPECT_FALSE(t.Slide->IsChanged());
  // Opacity of the slide counts as a change of every object.
  t.Slide->OpacityPercent = 50;
  t.Layout(6000);
  EXPECT_TRUE(still->StateChanged);
  EXPECT_FLOAT_EQ(still->GetOpacity(), 50);
}

// ---- Key-framed values -------------------------------------------------------------------------

TEST(OruObjectsKeyFrames, PositionScaleRotationOpacityAtChosenTimes) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Box("A",
                              KeyAt(0, "Opacity=0\r\nPosition=0,0\r\nScaleX=100\r\nScaleY=100\r\nAngle=0\r\n"
                                       "Blur=0\r\n") +
                                  KeyAt(1000, "Opacity=100\r\nPosition=100,-100\r\nScaleX=200\r\nScaleY=50\r\n"
                                              "Angle=90\r\nBlur=2\r\n"),
                              "160,120"));
  TOruObject* a = t.Find("A");
  // Fit of 160 x 120 into 320 x 240 is 2.
  t.Layout(0);
  EXPECT_FLOAT_EQ(a->GetOpacity(), 0);
  ExpectPoint(a->Basis.Origin, 160, 120, 0);
  ExpectPoint(a->Basis.Axis1, 2, 0, 0);

  t.Layout(500);
  EXPECT_NEAR(a->GetOpacity(), 50, 1e-3);
  ExpectPoint(a->Basis.Origin, 160 + 80, 120 - 60, 0);
  EXPECT_NEAR(a->ZoomX, 3, 1e-9);
  EXPECT_NEAR(a->ZoomY, 1.5, 1e-9);
  const float c45 = static_cast<float>(std::sqrt(0.5));
  ExpectPoint(a->Basis.Axis1, 3 * c45, 3 * c45, 0);
  ExpectPoint(a->Basis.Axis2, -1.5f * c45, 1.5f * c45, 0);
  EXPECT_NEAR(a->GetBlurRadius(), 320 * 0.01, 1e-4);

  t.Layout(1000);
  EXPECT_NEAR(a->GetOpacity(), 100, 1e-3);
  ExpectPoint(a->Basis.Origin, 320, 0, 0);
  ExpectPoint(a->Basis.Axis1, 0, 4, 0);
  ExpectPoint(a->Basis.Axis2, -1, 0, 0);
  // The depth axis takes zoom Y, not zoom X.
  ExpectPoint(a->Basis.Axis3, 0, 0, 1);
  t.Layout(99999);
  ExpectPoint(a->Basis.Origin, 320, 0, 0);
}

// ---- Layout maths ------------------------------------------------------------------------------

TEST(OruObjectsLayout, FitCoverPercentAndCentreForSeveralOutputSizes) {
  TKindsGuard kinds;
  struct Output {
    float W, H;
  } outputs[] = {{320, 240}, {640, 480}, {1920, 1080}, {100, 300}, {1, 1}};
  for (const Output& out : outputs) {
    TTestTree t = BuildTree(Box("Fit", "", "160,60") + Box("Cover", "FitMode=cover\r\n", "160,60") +
                                Box("Right", KeyAt(0, "Position=100,0\r\n"), "20,20") +
                                Box("Corner", KeyAt(0, "Position=-100,-100\r\nCenterPos=100,100\r\n"), "20,20") +
                                Box("Abs", "PosMode=Absolute\r\n" + KeyAt(0, "Position=10,-20\r\nZPos=50\r\n"), "20,20"),
                            out.W, out.H);
    t.Layout(0);
    const double fit = std::min(out.W / 160.0, out.H / 60.0), cover = std::max(out.W / 160.0, out.H / 60.0);
    SCOPED_TRACE(std::to_string(out.W) + "x" + std::to_string(out.H));
    // Scale 100 and no rotation: the fit factor is the scale.
    EXPECT_NEAR(t.Find("Fit")->ZoomX, fit, 1e-9);
    EXPECT_NEAR(t.Find("Fit")->ZoomY, fit, 1e-9);
    EXPECT_NEAR(t.Find("Cover")->ZoomX, cover, 1e-9);
    const float tol = 1e-3f * std::max(out.W, out.H);
    ExpectPoint(t.Find("Right")->Basis.Origin, out.W, out.H / 2, 0, tol);
    // Centre 100, 100: the rotation centre is the bottom-right corner.
    TOruObject* corner = t.Find("Corner");
    ExpectPoint(corner->Basis.Origin, 0, 0, 0, tol);
    EXPECT_FLOAT_EQ(corner->X0, -20);
    EXPECT_FLOAT_EQ(corner->Y0, -20);
    TFloatPoint3 c[4];
    corner->GetWorldCorners(c);
    ExpectPoint(c[3], 0, 0, 0, tol);
    // Absolute positions stand as they are; depth is percent of the height.
    ExpectPoint(t.Find("Abs")->Basis.Origin, out.W / 2 + 10, out.H / 2 - 20, out.H / 4, tol);
  }
}

TEST(OruObjectsLayout, NestingRotationAndPerspective) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Box("P", KeyAt(0, "Position=50,0\r\nAngle=90\r\n") +
                                       Box("C", KeyAt(0, "Position=100,0\r\n"), "80,60"),
                              "160,120") +
                          Box("Turned", KeyAt(0, "AngleY=90\r\n"), "160,120"));
  t.Slide->Persp = 0.5f;
  t.Layout(0);
  TOruObject* p = t.Find("P");
  TOruObject* c = t.Find("C");
  ExpectPoint(p->Basis.Origin, 240, 120, 0);
  ExpectPoint(p->Basis.Axis1, 0, 2, 0);
  // The child's position is in its container's units, through the parent's basis.
  ExpectPoint(c->Basis.Origin, 240, 120 + 160, 0);
  ExpectPoint(c->Basis.Axis1, 0, 4, 0);
  ExpectPoint(c->Basis.Axis2, -4, 0, 0);
  // Depth components are scaled by the slide's perspective factor.
  ExpectPoint(t.Find("Turned")->Basis.Axis1, 0, 0, 1);
  EXPECT_TRUE(t.Find("Turned")->BasisValid);
}

// ---- Hit testing -----------------------------------------------------------------------------------

TEST(OruObjectsHit, TopmostRotatedNestedAndFiltered) {
  TKindsGuard kinds;
  // Under fills the slide (fit 2); Over is 80 x 60 pixels at the centre
  // (fit 4, scale 25 %); P is turned a quarter with zoom 1 and holds C.
  TTestTree t = BuildTree(Box("Under", "", "160,120") + Box("Over", KeyAt(0, "ScaleX=25\r\nScaleY=25\r\n"), "80,60") +
                          Box("P", KeyAt(0, "Position=50,0\r\nAngle=90\r\nScaleX=50\r\nScaleY=50\r\n") +
                                       Box("C", KeyAt(0, "Position=100,0\r\n"), "80,60"),
                              "160,120"));
  t.Layout(0);
  float x = 0, y = 0;
  TOruObject* over = t.Find("Over");
  TOruObject* under = t.Find("Under");
  EXPECT_EQ(t.Slide->HitTest({130, 100}, nullptr, x, y), over);
  EXPECT_NEAR(x, -30, 1e-3);
  EXPECT_NEAR(y, -20, 1e-3);
  TOruHitFilter notOver = [&](TOruObject* o) { return o != over; };
  EXPECT_EQ(t.Slide->HitTest({130, 100}, notOver, x, y), under);
  EXPECT_NEAR(x, -15, 1e-3);
  EXPECT_NEAR(y, -10, 1e-3);
  EXPECT_EQ(t.Slide->HitTest({-50, -50}, nullptr, x, y), nullptr);

  // C: local (x, y) lies at screen (240 - 2y, 200 + 2x).
  TOruObject* c = t.Find("C");
  EXPECT_EQ(t.Slide->HitTest({240, 250}, nullptr, x, y), c);
  EXPECT_NEAR(x, 25, 1e-3);
  EXPECT_NEAR(y, 0, 1e-3);
  EXPECT_EQ(t.Slide->HitTest({240 + 2 * 25, 200}, nullptr, x, y), c);
  EXPECT_NEAR(y, -25, 1e-3);
  EXPECT_EQ(t.Slide->HitTest({240 + 2 * 35, 200}, nullptr, x, y), under);
  // Without Deep only the object itself is asked (the slide never hits).
  EXPECT_EQ(t.Slide->ObjectAt({240, 250}, false, x, y), nullptr);
  EXPECT_EQ(t.Slide->ObjectAt({240, 250}, true, x, y), c);
  EXPECT_EQ(c->ObjectAt({240, 250}, false, x, y), c);
}

TEST(OruObjectsHit, EdgeOnSingularAndWithoutCamera) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Box("EdgeOn", KeyAt(0, "AngleY=90\r\n"), "160,120") +
                          Box("Flat", KeyAt(0, "ScaleX=0\r\n"), "160,120") +
                          Box("Empty", "", "0,0") + Box("Huge", "", "2147483647,1"));
  t.Layout(0);
  float x = 0, y = 0;
  EXPECT_FALSE(t.Find("Flat")->BasisValid);
  EXPECT_FALSE(t.Find("Empty")->BasisValid);
  zm::TFloatPoint3 local;
  EXPECT_FALSE(t.Find("EdgeOn")->ScreenToLocal({160, 120}, local));
  EXPECT_FALSE(t.Find("Flat")->ScreenToLocal({160, 120}, local));
  EXPECT_EQ(t.Slide->HitTest({160, 120}, nullptr, x, y), t.Find("Huge"));
  t.Slide->HasEye = false;
  EXPECT_EQ(t.Slide->HitTest({160, 120}, nullptr, x, y), nullptr);
  t.Slide->HasEye = true;
  t.Slide->EyeDepth = 0;  // a camera on the screen plane
  EXPECT_EQ(t.Slide->HitTest({160, 120}, nullptr, x, y), nullptr);
}

// ---- Facing test, hiding and drawing --------------------------------------------------------------

TEST(OruObjectsDraw, HideModesChildInvisAndDrawOrder) {
  TKindsGuard kinds;
  const std::string back = KeyAt(0, "AngleY=180\r\n");
  TTestTree t = BuildTree(Box("Front0") + Box("Front1", "HideMode=1\r\n") + Box("Front2", "HideMode=2\r\n") +
                          Box("Front3", "HideMode=3\r\n") + Box("Back1", "HideMode=1\r\n" + back) +
                          Box("Back2", "HideMode=2\r\n" + back) +
                          Box("Inv", "ChildInvis=1\r\nHideMode=2\r\n" + Box("InvKid")) +
                          Box("NoInv", "HideMode=2\r\n" + Box("NoInvKid")) +
                          Box("Late", "DeltaTime1=5000\r\n" + Box("LateKid")));
  t.Layout(1000);
  EXPECT_TRUE(t.Find("Front1")->FacingVisible());
  EXPECT_FALSE(t.Find("Front2")->FacingVisible());
  EXPECT_FALSE(t.Find("Back1")->FacingVisible());
  EXPECT_TRUE(t.Find("Back2")->FacingVisible());
  EXPECT_TRUE(t.Find("Inv")->Hidden);
  EXPECT_TRUE(t.Find("InvKid")->Hidden);
  EXPECT_FALSE(t.Find("NoInv")->Hidden);

  zm::test::TRecordingDrawer drawer;
  ASSERT_TRUE(drawer.Draw(t.Slide.get()));
  const std::vector<std::string> expected = {"{Front0}", "{Front1}", "{Back2}", "{NoInvKid}", "{LateKid}"};
  EXPECT_EQ(DrawLog(), expected);
  EXPECT_FALSE(t.Slide->IsChanged());
  // A drawer that cannot draw prepares nothing.
  drawer.canDraw = false;
  t.Slide->PrepareResources(drawer);
  t.Slide->PrepareAtTime(drawer, 0);
  t.Slide->ReleaseResources(drawer);
}

TEST(OruObjectsDraw, NotifyAndForgetReachTheSlide) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Box("A", Box("A1")));
  TOruObject* a1 = t.Find("A1");
  a1->NotifyChanged();
  ASSERT_EQ(t.Slide->Changes.size(), 1u);
  EXPECT_EQ(t.Slide->Changes[0], a1);
  EXPECT_EQ(a1->GetHost(), nullptr);
  // The root is no slide here: asking for it fails an assertion.
  EXPECT_THROW(a1->GetSlide(), zm::EAbort);
  EXPECT_DOUBLE_EQ(a1->GetTimePoint(3), 10000);
}

// ---- Keys read from the description ----------------------------------------------------------------

TEST(OruObjectsReader, BaseKeysDefaultsAndBadValues) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(
      Obj("Img", "Image",
          "FitMode=cover\r\nPosMode=ABSOLUTE\r\nCenterMode=percent\r\nTranspForClick=1\r\nShadowColor=255,0,0\r\n"
          "HideMode=3\r\nChildInvis=1\r\nAction=GoToSlide(3)\r\n3DShadow=1\r\nShadowSpreadIndex=4\r\n") +
      Obj("Txt", "Text", "") + Obj("TxtOff", "Text", "ShadowEnable=0\r\n") +
      Obj("Bad", "Image",
          "FitMode=Sideways\r\nShadowEnable=yes\r\nShadowSize=1e300\r\nShadowOpacity=abc\r\nShadowAngle=nan\r\n"
          "HideMode=2.5\r\nTranspForClick=true\r\nShadowDistance=\r\n") +
      Obj("Two", "Image", "HideMode=2\r\n") + Obj("One", "Image", "HideMode=1\r\n"));
  TOruObject* img = t.Find("Img");
  EXPECT_EQ(img->FitMode, kFitCover);
  EXPECT_EQ(img->PosMode, kPosAbsolute);
  EXPECT_EQ(img->CenterMode, kPosPercent);
  EXPECT_EQ(img->TranspForClick, 1);
  EXPECT_EQ(img->ShadowEnable, 0);
  EXPECT_EQ(img->ShadowColor, (zm::TColor24{0, 0, 255}));
  EXPECT_EQ(img->HideNegative, 1);
  EXPECT_EQ(img->HideNonNegative, 1);
  EXPECT_EQ(img->ChildInvis, 1);
  EXPECT_EQ(img->Action, u"GoToSlide(3)");
  EXPECT_EQ(img->Shadow3D, 1);
  EXPECT_EQ(img->ShadowSpreadIndex, 4);
  EXPECT_EQ(t.Find("Txt")->ShadowEnable, 1);
  EXPECT_EQ(t.Find("TxtOff")->ShadowEnable, 0);

  TOruObject* bad = t.Find("Bad");
  EXPECT_EQ(bad->FitMode, kFitPlaceInto);
  EXPECT_EQ(bad->ShadowEnable, 0);
  EXPECT_FLOAT_EQ(bad->ShadowSize, 16);
  EXPECT_FLOAT_EQ(bad->ShadowOpacity, 59);
  EXPECT_DOUBLE_EQ(bad->ShadowAngle, 45);
  EXPECT_FLOAT_EQ(bad->ShadowDistance, 1.5f);
  EXPECT_EQ(bad->HideMode, 0);
  EXPECT_EQ(bad->TranspForClick, 0);
  EXPECT_EQ(t.Find("Two")->HideNegative, 1);
  EXPECT_EQ(t.Find("Two")->HideNonNegative, 0);
  EXPECT_EQ(t.Find("One")->HideNegative, 0);
  EXPECT_EQ(t.Find("One")->HideNonNegative, 1);

  // The readers with nothing to read give their defaults.
  EXPECT_EQ(ReadPropInt(nullptr, u"HideMode", 7), 7);
  EXPECT_EQ(ReadPropEnum(nullptr, u"FitMode", FitModeNames, 1), 1);
  EXPECT_EQ(ReadPropRectF(img->Props(), u"CropRect", {1, 2, 3, 4}), (zm::TFloatRect{1, 2, 3, 4}));
}

TEST(OruObjectsReader, TextAndButtonKeys) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Obj("T", "Text",
                              "TextColor=10,20,30\r\nTextColorClick=1,2,3\r\nFontStyle=Bold,Italic\r\n"
                              "TextAlign=right\r\nLineSpacing=abc\r\nRasterize=1\r\nRasterizedGUID={R}\r\n") +
                          Obj("T2", "Text", "TextAlign=middle\r\nTextColor=1,2,3,4,5\r\n") +
                          Obj("B", "Button", "BtnOpacity=50\r\nHue=-30\r\nBtnOffsetX=1e99\r\nTheme=aqua\r\n"));
  TOruTextKeys k;
  k.FontName = u"Arial";
  ReadOruTextKeys(t.Find("T")->Props(), k);
  EXPECT_EQ(k.TextColor, (zm::TColor24{30, 20, 10}));
  EXPECT_EQ(k.TextColorHover, k.TextColor);  // defaults to the colour just read
  EXPECT_EQ(k.TextColorClick, (zm::TColor24{3, 2, 1}));
  EXPECT_EQ(k.FontName, u"Arial");
  EXPECT_EQ(k.FontStyle, 3);
  EXPECT_EQ(k.TextAlign, 2);
  EXPECT_EQ(k.LineSpacing, 0);
  EXPECT_TRUE(k.Rasterize);
  EXPECT_EQ(k.RasterizedGUID, u"{R}");
  EXPECT_FALSE(k.IsComment);
  TOruTextKeys k2;
  k2.TextColor = {1, 1, 1};
  ReadOruTextKeys(t.Find("T2")->Props(), k2);
  EXPECT_EQ(k2.TextAlign, 1);
  EXPECT_EQ(k2.TextColor, (zm::TColor24{1, 1, 1}));
  EXPECT_EQ(k2.TextColorClick, (zm::TColor24{1, 1, 1}));

  TOruButtonKeys b;
  b.BtnMinWidth = 42;
  ReadOruButtonKeys(t.Find("B")->Props(), b);
  ReadOruButtonLateKeys(t.Find("B")->Props(), b);
  EXPECT_EQ(b.Theme, u"aqua");
  EXPECT_FLOAT_EQ(b.BtnOpacity, 50);
  EXPECT_FLOAT_EQ(b.TxtOpacity, 100);
  EXPECT_EQ(b.Hue, -30);
  EXPECT_FLOAT_EQ(b.BtnMinWidth, 42);
  EXPECT_FLOAT_EQ(b.BtnOffsetX, 100);
  // Nothing to read: every key keeps its default.
  TOruButtonKeys none;
  ReadOruButtonKeys(nullptr, none);
  EXPECT_FLOAT_EQ(none.BtnOpacity, 100);
}

TEST(OruObjectsReader, FitModeNoneAndAbsoluteCentreAreLaidOutAsPlaceIntoAndPercent) {
  TKindsGuard kinds;
  TTestTree t = BuildTree(Obj("N", "Box", "FitMode=none\r\nSize=10,10\r\n"));
  EXPECT_EQ(t.Find("N")->FitMode, kFitNone);
  EXPECT_NO_THROW(t.Layout(0));
  TTestTree c = BuildTree(Obj("C", "Box", "CenterMode=Absolute\r\nSize=10,10\r\n"));
  EXPECT_NO_THROW(c.Layout(0));
}

TEST(OruObjectsReader, AbsurdValuesAndManyKeyFrames) {
  TKindsGuard kinds;
  std::string frames;
  for (int i = 0; i < 3000; ++i) frames += KeyAt(i * 3, "Position=" + std::to_string(i % 200 - 100) + ",0\r\n");
  TTestTree t = BuildTree(Box("Many", frames) +
                          Box("Wild", KeyAt(0, "Position=1e300,-1e300\r\nScaleX=1e308\r\nAngle=1e300\r\n"
                                               "Opacity=nan\r\nZPos=inf\r\nCenterPos=1e39,5\r\n"),
                              "-5,2147483647"));
  for (double time : {0.0, 4500.0, 8999.0, 20000.0}) {
    t.Layout(time);
    float x = 0, y = 0;
    t.Slide->HitTest({160, 120}, nullptr, x, y);
  }
  TOruObject* wild = t.Find("Wild");
  EXPECT_TRUE(std::isfinite(wild->GetOpacity()));
  EXPECT_TRUE(std::isfinite(wild->X0));
  zm::test::TRecordingDrawer drawer;
  EXPECT_TRUE(drawer.Draw(t.Slide.get()));
}

}  // namespace
}  // namespace oru_objects_test
