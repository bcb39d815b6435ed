// Window frames without a window: invalidation, the paint pass, mouse
// capture and hover, and frames that go away while in use.
#include <gtest/gtest.h>

#include "Platform/User/PlatUserTypes.h"
#include "ZmLib/Composite/winFrames.h"
#include "tests/ZmLib/Composite/FrameTestSupport.h"

using namespace zm;
using frametest::AddBox;
using frametest::TBox;

namespace {

constexpr TColor32 kWhite{255, 255, 255, 255};
constexpr TColor32 kBlue{255, 0, 0, 255};

// A root frame with a root control that paints white.
struct TTree {
  TTree(int w, int h) {
    root = MakeRef<TRootFrame>();
    root->AddRef();  // the control's reference
    top = NewControl<TRootControl>(root.get());
    root->SetBounds(0, 0, w, h);
    top->SetSize(w, h);
    root->OnPaint = [](TWinFrame*, TWinSurface* s) { s->FillRect({0, 0, 10000, 10000}, kWhite); };
  }
  ~TTree() {
    FreeControl(top);
    ProcessDeferredFrees();
  }
  TRef<TRootFrame> root;
  TRootControl* top;
};

TColor24 Px(TTree& t, int x, int y) { return t.root->OwnSurface()->Pixel(x, y); }

}  // namespace

TEST(WinFrames, GrowingTheRootInvalidatesOnlyTheNewStrips) {
  TTree t(96, 96);
  t.root->PrepareUpdate();
  t.root->SetBounds(0, 0, 160, 120);
  EXPECT_EQ(t.root->PendingCount(), 2);
  ASSERT_TRUE(t.root->PrepareUpdate());
  // (96, 0, 160, 96) and (0, 96, 160, 120): 8 x 12 + 20 x 3 cells of 64 pixels.
  std::int64_t area = 0;
  for (const TRect& r : t.root->UpdateRegion()) {
    EXPECT_TRUE(r.Left >= 96 || r.Top >= 96);
    area += std::int64_t(r.Right - r.Left) * (r.Bottom - r.Top);
  }
  EXPECT_EQ(area, (8 * 12 + 20 * 3) * 64);
  // Zero and negative sizes count as 1 pixel; nothing breaks.
  t.root->SetBounds(0, 0, 0, -5);
  EXPECT_EQ(t.root->OwnSurface()->Width(), 1);
  EXPECT_EQ(t.root->OwnSurface()->Height(), 1);
  t.top->SetSize(-3, -3);
  EXPECT_EQ(t.top->Width(), 0);
  t.root->PrepareUpdate();
}

TEST(WinFrames, InvalidationsMergeIntoCellRunsAndOnlyDirtyCellsArePainted) {
  TTree t(64, 48);
  TBox* a = AddBox(t.top, 0, 0, 8, 8, kBlue);
  TBox* b = AddBox(t.top, 8, 0, 8, 8, kBlue);
  TBox* far = AddBox(t.top, 40, 32, 8, 8, kBlue);
  ASSERT_TRUE(t.root->PrepareUpdate());
  EXPECT_EQ(Px(t, 44, 36).B, 255);
  EXPECT_FALSE(t.root->PrepareUpdate());  // nothing changed
  int farPaints = far->Paints;
  a->InvalidateAll();
  b->InvalidateAll();
  ASSERT_TRUE(t.root->PrepareUpdate());
  ASSERT_EQ(t.root->UpdateRegion().size(), 1u);
  EXPECT_EQ(t.root->UpdateRegion()[0], (TRect{0, 0, 16, 8}));
  EXPECT_EQ(far->Paints, farPaints);  // its cells were clean
  // One pixel marks one cell.
  t.top->Invalidate({9, 9, 10, 10});
  ASSERT_TRUE(t.root->PrepareUpdate());
  EXPECT_EQ(t.root->UpdateRegion(), (std::vector<TRect>{{8, 8, 16, 16}}));
}

TEST(WinFrames, MovingOrHidingAFrameRepaintsItsOldAndNewCells) {
  TTree t(64, 48);
  TBox* a = AddBox(t.top, 0, 0, 8, 8, kBlue);
  t.root->PrepareUpdate();
  EXPECT_EQ(Px(t, 2, 2).B, 255);
  EXPECT_EQ(Px(t, 2, 2).G, 0);
  a->SetPosition(24, 16);
  ASSERT_TRUE(t.root->PrepareUpdate());
  EXPECT_EQ(t.root->UpdateRegion(), (std::vector<TRect>{{0, 0, 8, 8}, {24, 16, 32, 24}}));
  EXPECT_EQ(Px(t, 2, 2).G, 255);  // white again
  EXPECT_EQ(Px(t, 26, 18).G, 0);
  a->SetVisibility(vsHidden);
  ASSERT_TRUE(t.root->PrepareUpdate());
  EXPECT_EQ(Px(t, 26, 18).G, 255);
  // A freed control's place is repainted, and its frame takes no more work.
  a->SetVisibility(vsVisible);
  t.root->PrepareUpdate();
  TRef<TDrawFrame> keep(a->Frame());
  FreeControl(a);
  a->Invalidate({0, 0, 8, 8});
  keep->Invalidate({0, 0, 8, 8});
  ASSERT_TRUE(t.root->PrepareUpdate());
  EXPECT_EQ(Px(t, 26, 18).G, 255);
  ProcessDeferredFrees();
}

TEST(WinFrames, ButtonDownCapturesUntilReleaseAndHoverLeaves) {
  TTree t(64, 48);
  TBox* a = AddBox(t.top, 8, 8, 16, 16, kBlue);
  std::vector<bool> changes;
  t.root->OnCaptureChanged = [&](bool on) { changes.push_back(on); };
  t.root->MouseEvent(mkMove, 10, 10, 0);
  ASSERT_EQ(a->Events.size(), 1u);
  EXPECT_EQ(a->Events[0].X, 2);
  t.root->MouseEvent(mkMove, 40, 40, 0);  // over the root only
  EXPECT_EQ(a->Leaves, 1);
  t.root->MouseEvent(mkDown, 12, 12, mbLeft);
  EXPECT_TRUE(t.root->Captured());
  EXPECT_EQ(t.root->MouseData().CaptureId, static_cast<TWinFrame*>(a->Frame())->Id());
  t.root->MouseEvent(mkMove, -50, 200, mbLeft);  // outside the window
  ASSERT_EQ(a->Events.size(), 3u);
  EXPECT_TRUE(a->Events[2].Captured);
  EXPECT_EQ(a->Events[2].X, -58);
  t.root->MouseEvent(mkUp, -50, 200, mbLeft);
  EXPECT_FALSE(t.root->Captured());
  EXPECT_EQ(changes, (std::vector<bool>{true, false}));
  // A press on the bare root captures the root itself.
  t.root->MouseEvent(mkDown, 50, 40, mbRight);
  EXPECT_TRUE(t.root->Captured());
  t.root->MouseEvent(mkUp, 50, 40, mbLeft);  // not the captured button
  EXPECT_TRUE(t.root->Captured());
  t.root->MouseEvent(mkUp, 50, 40, mbRight);
  EXPECT_FALSE(t.root->Captured());
}

TEST(WinFrames, AControlFreedWhileHoldingTheCaptureInsideItsHandler) {
  TTree t(64, 48);
  TBox* a = AddBox(t.top, 8, 8, 16, 16, kBlue);
  a->OnMouse = [&](TMouseData& m) {
    if (m.Kind == mkMove && m.Captured) FreeControl(a);
  };
  t.root->MouseEvent(mkDown, 10, 10, mbLeft);
  EXPECT_TRUE(t.root->Captured());
  t.root->MouseEvent(mkMove, 11, 11, mbLeft);  // frees itself
  t.root->MouseEvent(mkMove, 12, 12, mbLeft);  // the capture holder is gone
  EXPECT_FALSE(t.root->Captured());
  t.root->MouseEvent(mkUp, 12, 12, mbLeft);
  ProcessDeferredFrees();
  EXPECT_TRUE(t.root->PrepareUpdate());
}

TEST(WinFrames, RegistryRepaintsEveryRootOnThemeChange) {
  TTree t(32, 32);
  TTree u(16, 16);
  t.root->PrepareUpdate();
  u.root->PrepareUpdate();
  EXPECT_GE(RootFrameRegistry()->Count(), 2u);
  EXPECT_FALSE(RootFrameRegistry()->SystemMessage(plat::WM_PAINT));
  EXPECT_TRUE(RootFrameRegistry()->SystemMessage(plat::WM_THEMECHANGED));
  EXPECT_TRUE(t.root->OwnSurface()->Changed());
  ASSERT_TRUE(u.root->PrepareUpdate());
  EXPECT_EQ(u.root->UpdateRegion(), (std::vector<TRect>{{0, 0, 16, 8}, {0, 8, 16, 16}}));
  EXPECT_GT(RootFrameRegistry()->PixelsPerInch(), 0);
  TRef<TRootFrame> lone = MakeRef<TRootFrame>();
  EXPECT_THROW(lone->GetAbsolutePos(), std::exception);
}
