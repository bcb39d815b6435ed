#include <gtest/gtest.h>

#include <vector>

#include "ZmLib/Composite/winFrameEditTheme.h"
#include "ZmLib/Composite/zmMenuDesc.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

using namespace zm;

namespace {

struct TRecordingSurface : TDrawSurface {
  std::vector<TRect> Fills;
  void FillRect(const TRect& r, TColor32) override { Fills.push_back(r); }
  void BlendRect(const TRect&, TColor32) override {}
  void DrawBitmap(std::int32_t, std::int32_t, TBitmap*) override {}
};

struct TFlagged : TRefObject {
  bool* Freed;
  explicit TFlagged(bool* f) : Freed(f) {}
  void Dispose() override {
    *Freed = true;
    TRefObject::Dispose();
  }
};

struct TListener : events::TEventHandler {
  std::vector<std::int32_t> Codes;
  void HandleEvent(TRefObject*, std::int32_t code, std::intptr_t) override { Codes.push_back(code); }
};

bool SameRect(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

TEST(MenuDesc, EditContextMenuAndItemLifecycle) {
  ASSERT_NE(EditContextMenu, nullptr);
  EXPECT_EQ(EditContextMenu->Name(), u"EditContextMenu");
  const std::vector<std::pair<std::u16string, std::int32_t>> want = {
      {u"Undo", 1}, {u"Redo", 2}, {u"-", 0}, {u"Cut", 3}, {u"Copy", 4},
      {u"Paste", 5}, {u"Delete", 6}, {u"-", 0}, {u"Select All", 7}};
  ASSERT_EQ(EditContextMenu->Count(), std::int32_t(want.size()));
  for (std::size_t i = 0; i < want.size(); ++i) {
    TMenuItemDesc* it = EditContextMenu->Item(std::int32_t(i));
    EXPECT_EQ(it->Caption, want[i].first);
    if (!it->IsSeparator()) {
      EXPECT_EQ(it->CommandId, want[i].second);
    }
    EXPECT_FALSE(it->Hidden);
  }
  EXPECT_EQ(EditContextMenu->Item(-1), nullptr);
  EXPECT_EQ(EditContextMenu->Item(9), nullptr);
  EXPECT_EQ(EditContextMenu->Current, -1);

  bool freed = false;
  auto listener = MakeRef<TListener>();
  {
    auto m = MakeRef<TMenuDesc>(u"m");
    m->Subscribe(TMenuDesc::kDestroyEvent, 42, listener.get());
    EXPECT_EQ(m->Capacity(), 0);
    for (int i = 0; i < 17; ++i) m->AddItem(u"i", i);
    EXPECT_EQ(m->Capacity(), 32);  // 16, doubled when full
    const std::int32_t k = m->AddNamedItem(u"Named", "cmd.open", false);
    EXPECT_TRUE(m->Item(k)->Hidden);
    EXPECT_EQ(m->Item(k)->CommandName, "cmd.open");
    m->Item(k)->Attachment = MakeRef<TFlagged>(&freed);
  }
  EXPECT_TRUE(freed);
  EXPECT_EQ(listener->Codes, std::vector<std::int32_t>{42});
}

struct EditEnv : ::testing::Test {
  TRef<TControlStyles> styles = MakeRef<TControlStyles>();
  TRef<TFrameEditTheme> theme = MakeRef<TFrameEditTheme>(styles.get(), false);
};

TEST_F(EditEnv, LayoutOfTheThreeKinds) {
  TEditLayout l;
  theme->Layout(l, 100, 5, 20);  // unknown kinds have no button
  EXPECT_EQ(l.Kind, ekNoButton);
  EXPECT_TRUE(SameRect(l.TextRect, {5, 4, 95, 16}));
  EXPECT_TRUE(SameRect(l.ClientRect, {2, 2, 98, 18}));
  EXPECT_TRUE(SameRect(l.Areas[1].Rect, {0, 0, 0, 0}));
  for (const TEditArea& a : l.Areas) {
    EXPECT_EQ(a.Delay, 500);
    EXPECT_EQ(a.Repeat, 300);
  }
  theme->Layout(l, 100, 1, 20);
  EXPECT_EQ(l.Kind, ekButton);
  EXPECT_TRUE(SameRect(l.Areas[1].Rect, {84, 2, 98, 18}));
  EXPECT_EQ(l.TextRect.Right, 95 - 14);
  EXPECT_EQ(l.ClientRect.Right, 84);
  // Spin buttons in a frame 10 high: halves of 3 pixels, 4 wide.
  theme->Layout(l, 40, 2, 10);
  EXPECT_EQ(l.Kind, ekSpin);
  EXPECT_TRUE(SameRect(l.Areas[1].Rect, {34, 2, 38, 5}));
  EXPECT_TRUE(SameRect(l.Areas[2].Rect, {34, 5, 38, 8}));
  // A frame narrower than its button keeps the button inside the client.
  theme->Layout(l, 6, 1, 30);
  EXPECT_GE(l.Areas[1].Rect.Left, 2);
  theme->Layout(l, 10, 2, 1);  // too low for any button
  EXPECT_LE(l.Areas[1].Rect.Right - l.Areas[1].Rect.Left, 0);

  TSize s;
  theme->FrameSizeFor(50, 12, s, 1);
  EXPECT_EQ(s.cx, 50 + 10 + 14);
  EXPECT_EQ(s.cy, 20);
  theme->Layout(l, s.cx, 1, s.cy);
  EXPECT_EQ(l.TextRect.Right - l.TextRect.Left, 50);
  theme->FrameSizeFor(-5, -5, s, 2);
  EXPECT_EQ(s.cy, 8);
}

TEST_F(EditEnv, ClassicButtonsAreCachedByState) {
  styles->FaceColor = {0x10, 0x10, 0x10, 255};
  styles->Font.Font.TextColor = {0xF0, 0xF0, 0xF0};
  TEditButtonCache c;
  theme->DrawButton(c, edUp, true, false, 0, 0, 20);
  EXPECT_EQ(c.Bitmap, nullptr);  // no height: nothing
  theme->DrawButton(c, edUp, true, false, 0, 16, 20);
  ASSERT_NE(c.Bitmap, nullptr);
  EXPECT_EQ(c.Key, "DefEditTh:20,16,FT");
  TDirectBitmap* first = c.Bitmap.get();
  theme->DrawButton(c, edUp, true, false, 0, 16, 20);
  EXPECT_EQ(c.Bitmap.get(), first);
  theme->DrawButton(c, edUp, true, true, 0, 16, 20);
  EXPECT_NE(c.Bitmap.get(), first);
  EXPECT_EQ(c.Key, "DefEditTh:20,16,TT");

  // The up arrow has its apex at the top, the down arrow at the bottom.
  auto rowInk = [](TDirectBitmap* b, int y) {
    int n = 0;
    for (int x = 0; x < b->Width(); ++x) n += (ArgbPixel(b, x, y) & 0xFF) == 0xF0;
    return n;
  };
  auto inkRows = [&](TDirectBitmap* b) {
    std::vector<int> rows;
    for (int y = 0; y < b->Height(); ++y)
      if (int n = rowInk(b, y)) rows.push_back(n);
    return rows;
  };
  TEditButtonCache up, down, off;
  theme->DrawButton(up, edUp, true, false, 0, 16, 20);
  theme->DrawButton(down, edDown, true, false, 0, 16, 20);
  const auto u = inkRows(up.Bitmap.get()), d = inkRows(down.Bitmap.get());
  ASSERT_EQ(u.size(), 4u);  // t = 12 / 4 = 3: four rows
  EXPECT_EQ(u.front(), 1);
  EXPECT_EQ(u.back(), 7);
  EXPECT_EQ(d.front(), 7);
  EXPECT_EQ(d.back(), 1);
  theme->DrawButton(off, edUp, false, false, 0, 16, 20);
  EXPECT_TRUE(inkRows(off.Bitmap.get()).empty());  // disabled ink is mixed toward the face
  // Tiny buttons draw without an arrow and without failing.
  TEditButtonCache tiny;
  theme->DrawButton(tiny, edDown, true, true, 0, 1, 1);
  EXPECT_NE(tiny.Bitmap, nullptr);
}

TEST_F(EditEnv, VisualStyleThemeFallsBackAndFades) {
  auto win = MakeRef<TWinFrameEditTheme>(styles.get(), true);
  EXPECT_EQ(styles->FindTheme<TRefObject>(), win.get());
  TEditButtonCache c;
  ASSERT_FALSE(ThemesActive());
  win->DrawButton(c, edDown, true, false, 128, 16, 20);
  EXPECT_EQ(c.Key, "DefEditTh:20,16,FT");
  TEditLayout a, b;
  win->Layout(a, 40, 2, 10);
  theme->Layout(b, 40, 2, 10);
  EXPECT_TRUE(SameRect(a.Areas[2].Rect, b.Areas[2].Rect));
  EXPECT_EQ(TWinFrameEditTheme::ThemedKey(20, 16, 255, true, false), "WinEditTh:20,16,255,TF");

  auto oldB = MakeRef<TDirectBitmap>(2, PixelFormatByName(PF_A8R8G8B8), 1);
  auto newB = MakeRef<TDirectBitmap>(2, PixelFormatByName(PF_A8R8G8B8), 1);
  oldB->Row32(0)[0] = 0xFF0000FF;
  newB->Row32(0)[0] = 0xFFFF0000;
  EXPECT_EQ(CrossFade(oldB.get(), newB.get(), 255).get(), newB.get());
  EXPECT_EQ(CrossFade(oldB.get(), newB.get(), 0)->Row32(0)[0], 0xFF0000FFu);
  const std::uint32_t mid = CrossFade(oldB.get(), newB.get(), 128)->Row32(0)[0];
  EXPECT_EQ(mid & 0xFF, 0x7Fu);
  EXPECT_EQ((mid >> 16) & 0xFF, 0x7Fu);
  auto other = MakeRef<TDirectBitmap>(3, PixelFormatByName(PF_A8R8G8B8), 1);
  EXPECT_EQ(CrossFade(other.get(), newB.get(), 10).get(), newB.get());  // sizes differ
  EXPECT_EQ(CrossFade(oldB.get(), nullptr, 10), nullptr);
}

TEST(FocusEdges, FourEdgesCutToTheClip) {
  auto s = MakeRef<TRecordingSurface>();
  auto brush = MakeRef<TFrameBrush>(TColor32{1, 1, 1, 255});
  DrawFocusEdges(s.get(), {0, 0, 10, 6}, {0, 0, 100, 100}, brush.get());
  ASSERT_EQ(s->Fills.size(), 4u);
  EXPECT_TRUE(SameRect(s->Fills[0], {0, 0, 10, 1}));
  EXPECT_TRUE(SameRect(s->Fills[3], {9, 1, 10, 5}));
  s->Fills.clear();
  DrawFocusEdges(s.get(), {0, 0, 10, 6}, {2, 0, 8, 3}, brush.get());  // only the top edge shows
  ASSERT_EQ(s->Fills.size(), 1u);
  EXPECT_TRUE(SameRect(s->Fills[0], {2, 0, 8, 1}));
  DrawFocusEdges(s.get(), {5, 5, 5, 9}, {0, 0, 100, 100}, brush.get());
  DrawFocusEdges(nullptr, {0, 0, 4, 4}, {0, 0, 4, 4}, brush.get());
  EXPECT_EQ(s->Fills.size(), 1u);
}

}  // namespace
