// Frame forms on headless windows: the paint cycle through the update
// region, mouse and keyboard routing, layered windows, the refresh timer
// and forms or controls that go away while they are being used.
#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/zmTimer2.h"
#include "ZmLib/Composite/winControlStyles.h"
#include "ZmLib/Composite/winFrameForms.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "tests/ZmLib/Composite/FrameTestSupport.h"

using namespace zm;
using frametest::AddBox;
using frametest::TBox;
namespace hl = plat::headless;

namespace {

constexpr TColor32 kRed{0, 0, 255, 255};
constexpr TColor32 kGreen{0, 255, 0, 255};
constexpr TColor32 kBlue{255, 0, 0, 255};

class FrameFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    hl::ResetForTests();
    app = new TZmApplication();
    app->AfterConstruction();
    app->Initialize();
  }
  void TearDown() override {
    for (TWinFrameForm* f : forms) f->Free();
    ProcessDeferredFrees();
    FiniZmTimer2();  // its window timer lives on this application's window
    if (!app->Finalized()) app->Finalize();
    app->Free();
    hl::ResetForTests();
  }
  TWinFrameForm* Make(int x, int y, int w, int h) {
    auto* f = static_cast<TWinFrameForm*>(CreateFrameFormHook(NormalFormStyle));
    forms.push_back(f);
    f->SetBounds({x, y, x + w, y + h});
    f->SetVisible(true);
    hl::PumpUntilIdle();
    return f;
  }
  static plat::HWND H(TWinFrameForm* f) { return f->WinForm()->WindowHandle(); }
  // The colour shown at a client point (0x00RRGGBB).
  static std::uint32_t At(TWinFrameForm* f, int x, int y) {
    int w = 0, h = 0;
    auto px = hl::CaptureClient(H(f), w, h);
    if (x < 0 || y < 0 || x >= w || y >= h) return 0xDEADBEEF;
    return px[std::size_t(y * w + x)] & 0xFFFFFF;
  }
  TZmApplication* app = nullptr;
  std::vector<TWinFrameForm*> forms;
};

}  // namespace

TEST_F(FrameFormTest, PaintsThroughTheUpdateRegionOnlyTheDirtyCells) {
  TWinFrameForm* f = Make(100, 100, 64, 48);
  TRootControl* root = f->RootControl();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Width(), 64);
  TBox* a = AddBox(root, 8, 8, 16, 16, kRed);
  TBox* b = AddBox(root, 40, 24, 16, 16, kRed);
  hl::PumpUntilIdle();
  EXPECT_EQ(At(f, 10, 10), 0xFF0000u);
  EXPECT_EQ(At(f, 45, 30), 0xFF0000u);
  EXPECT_EQ(At(f, 0, 0), SysColor32(plat::COLOR_BTNFACE).Value() & 0xFFFFFF);
  int aPaints = a->Paints;
  b->Color = kGreen;
  b->InvalidateAll();
  hl::PumpUntilIdle();
  EXPECT_EQ(At(f, 45, 30), 0x00FF00u);
  EXPECT_EQ(a->Paints, aPaints);
  ASSERT_FALSE(f->WinForm()->LastPaintRegion().empty());
  for (const TRect& r : f->WinForm()->LastPaintRegion())
    EXPECT_TRUE(r.Left >= 40 && r.Top >= 24 && r.Right <= 56 && r.Bottom <= 40);
  // Two invalidations before the next update merge into one paint.
  a->Color = kBlue;
  a->Invalidate({0, 0, 8, 8});
  a->Invalidate({8, 0, 16, 8});
  hl::PumpUntilIdle();
  EXPECT_EQ(f->WinForm()->LastPaintRegion(), (std::vector<TRect>{{8, 8, 24, 16}}));
  EXPECT_EQ(At(f, 20, 10), 0x0000FFu);
  EXPECT_EQ(At(f, 20, 20), 0xFF0000u);  // the lower half was not repainted
  // PaintTo copies the back buffer.
  TRef<TBitmap> copy = CreateBitmap(64, 48, PixelFormatByName("R8G8B8"), {}, nullptr, TDirectBitmap::StaticClass());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(f->PaintTo(copy.get(), 0, 0));
  EXPECT_FALSE(f->PaintTo(nullptr, 0, 0));
}

TEST_F(FrameFormTest, MouseIsCapturedByThePressedControlAndHoverLeaves) {
  plat::TManualClock clock(1000);
  TWinFrameForm* f = Make(100, 100, 64, 48);
  TBox* a = AddBox(f->RootControl(), 8, 8, 16, 16, kRed);
  hl::PumpUntilIdle();
  hl::MoveMouse({110, 110});
  hl::PumpUntilIdle();
  ASSERT_FALSE(a->Events.empty());
  EXPECT_EQ(a->Events.back().X, 2);
  hl::Press(1);
  hl::PumpUntilIdle();
  EXPECT_EQ(plat::GetCapture(), H(f));
  hl::MoveMouse({20, 20});  // outside the window
  hl::PumpUntilIdle();
  EXPECT_TRUE(a->Events.back().Captured);
  EXPECT_EQ(a->Events.back().X, 20 - 108);
  hl::Release(1);
  hl::PumpUntilIdle();
  EXPECT_NE(plat::GetCapture(), H(f));
  EXPECT_TRUE(f->WinForm()->LeaveTimerRunning());
  // The leave poll sees the mouse outside and tells the hovered control.
  clock.Advance(60);
  hl::PumpUntilIdle();
  EXPECT_GE(a->Leaves, 1);
  EXPECT_FALSE(f->WinForm()->LeaveTimerRunning());
}

TEST_F(FrameFormTest, TabMovesTheFocusAndAFocusedControlMayGoInsideItsHandler) {
  TWinFrameForm* f = Make(100, 100, 64, 48);
  TBox* a = AddBox(f->RootControl(), 0, 0, 16, 16, kRed);
  TBox* b = AddBox(f->RootControl(), 20, 0, 16, 16, kRed);
  TBox* c = AddBox(f->RootControl(), 40, 0, 16, 16, kRed);
  a->SetTabStop(true);
  b->SetTabStop(true);
  c->SetTabStop(true);
  hl::Activate(H(f));
  hl::PumpUntilIdle();
  auto tab = [] {
    hl::Key(plat::VK_TAB, true);
    hl::Key(plat::VK_TAB, false);
    hl::PumpUntilIdle();
  };
  tab();
  EXPECT_TRUE(a->Focused());
  tab();
  EXPECT_TRUE(b->Focused());
  // The focused control frees itself on a click, also holding the capture.
  b->OnMouse = [&](TMouseData& m) {
    if (m.Kind == mkDown) FreeControl(b);
  };
  hl::Click(1, {125, 105});
  hl::MoveMouse({126, 106});
  hl::PumpUntilIdle();
  tab();
  EXPECT_TRUE(c->Focused() || a->Focused());
}

TEST_F(FrameFormTest, LayeredWindowIsComposedOverWhatLiesBelow) {
  TWinFrameForm* below = Make(200, 200, 32, 32);
  AddBox(below->RootControl(), 0, 0, 32, 32, kBlue);
  hl::PumpUntilIdle();
  TWinFrameForm* top = Make(200, 200, 32, 32);
  TRef<TBitmap> bmp = CreateBitmap(32, 32, PixelFormatByName("A8R8G8B8"), {}, nullptr, TDirectBitmap::StaticClass());
  ASSERT_TRUE(bmp);
  auto* direct = dynamic_cast<TDirectBitmap*>(bmp.get());
  ASSERT_NE(direct, nullptr);
  direct->FillRect({0, 0, 32, 32}, TColor32{0, 0, 255, 128});  // half-transparent red
  direct->FillRect({16, 0, 32, 32}, TColor32{0, 0, 0, 0});     // right half invisible
  ASSERT_TRUE(UpdateLayeredForm(top, bmp.get(), false));
  EXPECT_TRUE(plat::GetWindowLongW(H(top), plat::GWL_EXSTYLE) & plat::WS_EX_LAYERED);
  hl::PumpUntilIdle();
  std::uint32_t px = 0;
  ASSERT_TRUE(hl::ReadScreenPixel({205, 205}, px));
  int r = (px >> 16) & 255, bl = px & 255;
  EXPECT_NEAR(r, 127, 4);
  EXPECT_NEAR(bl, 127, 4);
  ASSERT_TRUE(hl::ReadScreenPixel({225, 205}, px));
  EXPECT_EQ(px & 0xFFFFFF, 0x0000FFu);  // the blue form below shows through
  EXPECT_FALSE(UpdateLayeredForm(nullptr, bmp.get(), false));
  EXPECT_FALSE(UpdateLayeredForm(top, nullptr, false));
  // Constant alpha: 255 on a window without the style needs no change.
  EXPECT_TRUE(SetFormAlphaHook(below, 255));
  EXPECT_TRUE(SetFormAlphaHook(below, 100));
  EXPECT_TRUE(plat::GetWindowLongW(H(below), plat::GWL_EXSTYLE) & plat::WS_EX_LAYERED);
  EXPECT_TRUE(SetFormAlphaHook(below, 255));
  EXPECT_FALSE(plat::GetWindowLongW(H(below), plat::GWL_EXSTYLE) & plat::WS_EX_LAYERED);
}

TEST_F(FrameFormTest, RefreshTimerAnimatesAControlThroughTheWakeUpMessage) {
  plat::TManualClock clock(1000);
  TWinFrameForm* f = Make(100, 100, 64, 48);
  TBox* a = AddBox(f->RootControl(), 8, 8, 16, 16, kRed);
  hl::PumpUntilIdle();
  a->OnRefresh = [&] {
    EXPECT_GT(f->WinForm()->Nesting(), 0);
    a->Color = a->Refreshes % 2 ? kGreen : kBlue;
    a->InvalidateAll();
  };
  a->SetRefreshing(true);
  auto* n = dynamic_cast<TWinRefreshNotifier*>(f->RootControl()->RefreshNotifier());
  ASSERT_NE(n, nullptr);
  EXPECT_TRUE(n->Running());
  EXPECT_EQ(n->Interval(), RefreshInterval());
  clock.Advance(n->Interval() + 1);
  hl::PumpUntilIdle();
  ASSERT_EQ(a->Refreshes, 1);
  EXPECT_EQ(At(f, 10, 10), 0x00FF00u);
  clock.Advance(n->Interval() + 1);
  hl::PumpUntilIdle();
  ASSERT_EQ(a->Refreshes, 2);
  EXPECT_EQ(At(f, 10, 10), 0x0000FFu);
  a->SetRefreshing(false);
  EXPECT_FALSE(n->Running());
}

TEST_F(FrameFormTest, FormClosedInsideItsOwnHandlerAndBadBounds) {
  TWinFrameForm* f = Make(100, 100, 64, 48);
  TBox* a = AddBox(f->RootControl(), 8, 8, 16, 16, kRed);
  hl::PumpUntilIdle();
  // Empty bounds are ignored while the form has a size.
  f->SetBounds({10, 10, 5, 5});
  f->SetBounds({10, 10, 10, -20});
  EXPECT_EQ(f->GetBounds(), (TRect{100, 100, 164, 148}));
  plat::HWND h = H(f);
  a->OnMouse = [&](TMouseData& m) {
    if (m.Kind != mkDown) return;
    f->DefaultCloseAction = caFree;
    f->Close();
  };
  forms.clear();  // the form frees itself
  hl::Click(1, {110, 110});
  hl::PumpUntilIdle();
  EXPECT_FALSE(plat::IsWindow(h));
  ProcessDeferredFrees();
}
