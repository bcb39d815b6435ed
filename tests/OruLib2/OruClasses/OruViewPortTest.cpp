#include "tests/OruLib2/OruClasses/OruImageTestKit.h"

#include "ZmLib/zmHookScope.h"

namespace {

using namespace oru_image_test;

std::string Box(const std::string& name) { return Obj(name, "Box", "Size=10,10\r\nColor1=255,0,0\r\n"); }

TEST(OruViewPort, KindsAreMadeByTypeCode) {
  TTestTree t = BuildTree(Obj("V", "ViewPort", "Size=200,100\r\n" + Obj("M", "MaskStencil", "") +
                                                  Obj("C", "MaskContent", "TranspForClick=0\r\n")));
  auto* v = dynamic_cast<TOruViewPort*>(t.Find("V"));
  auto* m = dynamic_cast<TOruMaskStencil*>(t.Find("M"));
  auto* c = dynamic_cast<TOruMaskContent*>(t.Find("C"));
  ASSERT_TRUE(v && m && c);
  EXPECT_EQ(v->Width, 200);
  EXPECT_EQ(v->Height, 100);
  // Masks take the parent's size and let clicks through unless told not to.
  EXPECT_EQ(m->Width, 200);
  EXPECT_EQ(m->Height, 100);
  EXPECT_EQ(m->TranspForClick, 1);
  EXPECT_EQ(c->Width, 200);
  EXPECT_EQ(c->TranspForClick, 0);
  // Other codes still reach the creator behind the view-port module.
  EXPECT_NE(dynamic_cast<TOruBox*>(CreateViewPortObject(kOruObjBox, nullptr, nullptr).get()), nullptr);
  EXPECT_EQ(CreateViewPortObject(99, nullptr, nullptr).get(), nullptr);
}

TEST(OruViewPort, InitialSizeIsOneByOne) {
  zm::TRef<TOruViewPort> v = TOruObject::Create<TOruViewPort>(nullptr, nullptr);
  EXPECT_EQ(v->Width, 1);
  EXPECT_EQ(v->Height, 1);
}

TEST(OruViewPort, HalfAViewPortDrawsNothingAndKeepsItsChanges) {
  TTestTree t = BuildTree(Obj("V", "ViewPort", "Size=200,100\r\n" + Obj("M", "MaskStencil", Box("MB"))));
  t.Layout(100);
  TOruObject* mb = t.Find("MB");
  ASSERT_NE(mb, nullptr);
  ASSERT_TRUE(mb->IsChanged());
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  EXPECT_TRUE(d.masks.empty());
  EXPECT_TRUE(d.fills.empty());
  EXPECT_TRUE(mb->IsChanged());
  EXPECT_TRUE(t.Find("V")->IsChanged());
}

TEST(OruViewPort, LastStencilAndContentAreDrawnMasked) {
  TTestTree t = BuildTree(Obj("V", "ViewPort",
                              "Size=200,100\r\n" + KeyAt(0, "Opacity=40\r\n") + Obj("M1", "MaskStencil", Box("B1")) +
                                  Obj("C", "MaskContent", Box("B2")) + Obj("M2", "MaskStencil", Box("B3"))));
  t.Layout(100);
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  ASSERT_EQ(d.masks.size(), 1u);
  EXPECT_EQ(d.masks[0].Mask, t.Find("M2"));
  EXPECT_EQ(d.masks[0].Content, t.Find("C"));
  EXPECT_NEAR(d.masks[0].Opacity, 40, 1e-3);
  EXPECT_EQ(d.masks[0].Pattern, nullptr);  // the content has children
  // Content and the later stencil are drawn by the masked draw, the first stencil never.
  EXPECT_EQ(d.fills.size(), 2u);
  EXPECT_TRUE(t.Find("B1")->IsChanged());
  EXPECT_FALSE(t.Find("B3")->IsChanged());
  // The first stencil is never drawn: it keeps its changes, the view port commits its own.
  EXPECT_FALSE(t.Find("V")->Changed || t.Find("V")->StateChanged);
}

TEST(OruViewPort, HiddenViewPortCommitsItsSubtreeWithoutDrawing) {
  // The view port's time window ends before the slide's.
  TTestTree t = BuildTree(Obj("V", "ViewPort", "Size=200,100\r\nDeltaTime2=9000\r\n" +
                                                  Obj("M", "MaskStencil", Box("B1")) +
                                                  Obj("C", "MaskContent", Box("B2"))));
  t.Layout(5000);
  auto* v = dynamic_cast<TOruViewPort*>(t.Find("V"));
  ASSERT_NE(v, nullptr);
  EXPECT_FALSE(v->Active);
  ASSERT_TRUE(t.Find("B2")->IsChanged());
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  EXPECT_TRUE(d.masks.empty());
  EXPECT_TRUE(d.fills.empty());
  EXPECT_FALSE(t.Find("B1")->IsChanged());
  EXPECT_FALSE(t.Find("B2")->IsChanged());
}

TEST(OruViewPort, EmptyContentTakesTheDefaultPattern) {
  static zm::TRef<TImage> pattern;
  pattern = MakePicture(2, 2, [](int, int) { return 0xFF808080u; });
  zm::THookScope emptyContent(ViewPortEmptyContentHook, [](TOruObject*) { return pattern; });
  TTestTree t = BuildTree(
      Obj("V", "ViewPort", "Size=200,100\r\n" + Obj("M", "MaskStencil", Box("B1")) + Obj("C", "MaskContent", "")));
  t.Layout(100);
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  emptyContent.Restore();
  ASSERT_EQ(d.masks.size(), 1u);
  EXPECT_EQ(d.masks[0].Pattern, pattern.get());
  pattern = nullptr;
}

// View ports inside the content of view ports, far deeper than any slide
// has them: the tree is cut and the draw ends.
TEST(OruViewPort, RunawayNestingEnds) {
  std::string body = Box("Leaf");
  for (int i = 0; i < 150; ++i)
    body = Obj("V" + std::to_string(i), "ViewPort",
               "Size=10,10\r\n" + Obj("M" + std::to_string(i), "MaskStencil", Box("S" + std::to_string(i))) +
                   Obj("C" + std::to_string(i), "MaskContent", body));
  TTestTree t = BuildTree(body);
  t.Layout(100);
  TLogDrawer d;
  EXPECT_TRUE(d.Draw(t.Slide.get()));
  EXPECT_FALSE(d.masks.empty());
  EXPECT_LE(d.masks.size(), std::size_t(zm::TDeviceDrawer::kMaxDrawDepth));
}

}  // namespace
