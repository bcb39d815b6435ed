// Text objects drawn by the 3D drawer on the software device. The test
// vectoriser outlines every glyph as a solid box ("T" from 11 units above
// the baseline down to it; 8 units of ascent and 2 of descent), so a text's
// picture is known: a line is 13 units high (the T's 3 units over the
// ascent, then ascent and descent), the T a bar over its top 11.
#include <string>

#include "OruLib2/OruClasses/OruText.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/zmModules.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace oru_image_test;
using drawertest::Near;
using oru::objects::TOruText;

// Every channel within this of the expected colour; edge pixels that the
// sampling blends are not checked.
constexpr int kTolerance = 12;

zm::TSize BufferSize(void*, TOruSlideHost*) { return {64, 48}; }
zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return {0, 0, -100}; }
TOruSource* NoSource(void*, TOruSlideHost*) { return nullptr; }

class TextOnDevice : public drawertest::TDrawerOnDevice {
protected:
  void SetUp() override {
    drawertest::TDrawerOnDevice::SetUp();
    TOruHostCallbacks cb;
    cb.EffectBufferSize.Code = &BufferSize;
    cb.Camera.Code = &Camera;
    cb.ShowSource.Code = &NoSource;
    accessor = CreateRealFileAccessor();
    host = zm::MakeRef<TOruSlideHost>(accessor.get(), cb, u"", false);
  }
  void TearDown() override {
    if (tree.Slide) tree.Slide->ReleaseResources(*drawer);
    tree = {};
    host = nullptr;
    drawertest::TDrawerOnDevice::TearDown();
  }
  TOruText* Build(const std::string& keys) {
    tree = BuildHostedTree(Obj("T", "Text", keys), host.get(), 64, 48);
    return dynamic_cast<TOruText*>(tree.Find("T"));
  }
  void Draw() {
    tree.Layout(100);
    tree.Slide->PrepareResources(*drawer);
    ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.Draw(tree.Slide.get()); }));
    Capture();
  }
  // The runs of a column, top to bottom: 'C' near Colour, 'K' near black,
  // other pixels (blended edges) left out, repeats collapsed.
  std::string Column(int x, std::uint32_t colour) const {
    std::string runs;
    for (int y = 0; y < h; ++y) {
      char c = Near(At(x, y), colour, kTolerance) ? 'C' : Near(At(x, y), 0, kTolerance) ? 'K' : 0;
      if (c && (runs.empty() || runs.back() != c)) runs += c;
    }
    return runs;
  }

  oru_test::TGlyphTestScope glyphs;
  zm::TRef<TFileAccessor> accessor;
  zm::TRef<TOruSlideHost> host;
  TTestTree tree;
};

// One "T" at Scale 100 %: its line as high as the slide, the bar over the
// top 11/13 of it (rows 0-40 of 48), centred, in the text colour; the
// descent below stays background. Hovering tints the same bitmap.
TEST_F(TextOnDevice, OneLineFillsTheHeightAndTakesTheMouseStateColour) {
  TOruText* t = Build("Text=T\r\nTextColor=255,0,0\r\nTextColorHover=0,255,0\r\nShadowEnable=0\r\n");
  ASSERT_NE(t, nullptr);
  Draw();
  ASSERT_NE(t->Picture.get(), nullptr);
  EXPECT_EQ(Column(32, 0xFF0000), "CK");  // top to bottom
  EXPECT_TRUE(Near(At(32, 1), 0xFF0000, kTolerance));
  EXPECT_TRUE(Near(At(32, 39), 0xFF0000, kTolerance));
  EXPECT_TRUE(Near(At(32, 43), 0, kTolerance));
  EXPECT_TRUE(Near(At(1, 24), 0, kTolerance));
  EXPECT_TRUE(Near(At(62, 24), 0, kTolerance));
  // Symmetric about the centre.
  int left = 0, right = 0;
  for (int x = 0; x < 32; ++x) left += Near(At(x, 24), 0xFF0000, kTolerance);
  for (int x = 32; x < 64; ++x) right += Near(At(x, 24), 0xFF0000, kTolerance);
  EXPECT_GT(left, 2);
  EXPECT_LE(std::abs(left - right), 1);

  const std::int32_t renders = t->RenderCount;
  t->MouseState = 1;
  t->Changed = true;
  Draw();
  EXPECT_EQ(Column(32, 0x00FF00), "CK");
  EXPECT_EQ(t->RenderCount, renders);
}

// Two lines with a line's height of spacing between them: two bars, each
// with its descent and the spacing below it, the block as high as the slide.
TEST_F(TextOnDevice, LineSpacingOpensAGapBetweenParagraphs) {
  TOruText* t = Build("Text=T\\nT\r\nTextColor=0,0,255\r\nLineSpacing=200\r\nShadowEnable=0\r\n");
  ASSERT_NE(t, nullptr);
  Draw();
  ASSERT_NE(t->Picture.get(), nullptr);
  EXPECT_EQ(Column(32, 0x0000FF), "CKCK");
  EXPECT_TRUE(Near(At(32, 1), 0x0000FF, kTolerance));
  EXPECT_TRUE(Near(At(32, 47), 0, kTolerance));
}

// A real font of the test set: "I" in DejaVu Sans is a bar from the cap
// height down to the baseline, inside the line's ascent and descent.
TEST_F(TextOnDevice, SystemFontDrawsTheGlyphInItsLine) {
  zm::TModuleRunner fonts(zm::JoinModules({zm::VectorModules(), zm::WinFontModules()}));
  FontCache()->SetContext(u"real fonts");
  TOruText* t = Build("Text=I\r\nFontName=DejaVu Sans\r\nTextColor=255,255,255\r\nShadowEnable=0\r\n");
  ASSERT_NE(t, nullptr);
  Draw();
  ASSERT_NE(t->Picture.get(), nullptr);
  // Above the cap height, the bar, the descent: rows 0-47 of the 48-pixel line.
  EXPECT_EQ(Column(32, 0xFFFFFF), "KCK");
  std::string row;
  for (int x = 0; x < 64; ++x)
    if (char c = Near(At(x, 24), 0xFFFFFF, kTolerance) ? 'C' : Near(At(x, 24), 0, kTolerance) ? 'K' : 0;
        c && (row.empty() || row.back() != c))
      row += c;
  EXPECT_EQ(row, "KCK");
  int bar = 0;
  for (int x = 0; x < 64; ++x) bar += Near(At(x, 24), 0xFFFFFF, kTolerance);
  EXPECT_GE(bar, 3);   // a stroke, not a hairline
  EXPECT_LE(bar, 10);  // nor a filled box
  tree.Slide->ReleaseResources(*drawer);
  tree = {};
}

}  // namespace
