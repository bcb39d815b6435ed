#include "ZmLib/Application2/winForms.h"

#include <gtest/gtest.h>

#include <vector>

#include "Platform/User/PlatUser.h"
#include "tests/support/HeadlessApp.h"

using namespace zm;

namespace {

class WinWindows : public zmtest::THeadlessAppTest {};

class TCountingDumb : public TDumbWindow {
public:
  std::vector<plat::UINT> Msgs;

protected:
  LRESULT WndProc(HWND h, UINT msg, WPARAM w, LPARAM l) override {
    Msgs.push_back(msg);
    return TDumbWindow::WndProc(h, msg, w, l);
  }
};

TEST_F(WinWindows, DumbWindowStaysHiddenAndInactive) {
  auto d = MakeRef<TCountingDumb>();
  EXPECT_FALSE(d->HandleAllocated());
  d->SetBounds({0, 0, 16, 16});
  HWND h = d->Handle();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(plat::IsWindowVisible(h));
  EXPECT_EQ(plat::GetActiveWindow(), nullptr);
  EXPECT_EQ(plat::GetWindowOwner(h), nullptr);
  auto ex = plat::GetWindowLongPtrW(h, plat::GWL_EXSTYLE);
  EXPECT_TRUE(ex & plat::WS_EX_TOOLWINDOW);
  plat::RECT r;
  plat::GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 16);
  EXPECT_EQ(r.bottom - r.top, 16);
  // The object's procedure saw the window from its first message on.
  ASSERT_FALSE(d->Msgs.empty());
  EXPECT_EQ(d->Msgs.front(), plat::WM_NCCREATE);
  d->SetBounds({5, 5, -10, 2});  // negative width counts as 0
  plat::GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 0);
  EXPECT_FALSE(plat::IsWindowVisible(h));
  // Destroyed from outside: forgotten, and made again on the next need.
  plat::DestroyWindow(h);
  EXPECT_FALSE(d->HandleAllocated());
  d->SetBounds({0, 0, 16, 16});
  EXPECT_TRUE(d->HandleAllocated());
  HWND h2 = d->Handle();
  d = nullptr;
  EXPECT_FALSE(plat::IsWindow(h2));
}

class TFontControl : public TWinControl {};

TEST_F(WinWindows, WinControlIsAChildWindowThatKeepsItsFont) {
  auto parentForm = MakeRef<TDumbWindow>();
  parentForm->SetBounds({0, 0, 300, 300});
  HWND parent = parentForm->Handle();
  auto c = MakeRef<TFontControl>();
  EXPECT_FALSE(c->CreateHandle(nullptr, {0, 0, 10, 10}));
  EXPECT_FALSE(c->SetBounds({0, 0, 1, 1}));
  EXPECT_EQ(c->GetClientRect(), (TRect{}));
  ASSERT_TRUE(c->CreateHandle(parent, {10, 20, 110, 70}));
  HWND h = c->Handle();
  EXPECT_TRUE(plat::GetWindowLongPtrW(h, plat::GWL_STYLE) & plat::WS_CHILD);
  EXPECT_EQ(plat::GetParent(h), parent);
  EXPECT_EQ(c->GetClientRect(), (TRect{0, 0, 100, 50}));
  EXPECT_TRUE(c->SetBounds({5, 5, 25, -5}));
  EXPECT_EQ(c->GetClientRect(), (TRect{0, 0, 20, 0}));
  EXPECT_EQ(c->GetRestoredRect(), (TRect{5, 5, 25, 5}));
  EXPECT_TRUE(c->SetVisible(true));
  EXPECT_TRUE(plat::GetWindowLongPtrW(h, plat::GWL_STYLE) & plat::WS_VISIBLE);
  c->SetVisible(false);
  EXPECT_FALSE(plat::GetWindowLongPtrW(h, plat::GWL_STYLE) & plat::WS_VISIBLE);
  EXPECT_TRUE(c->SetText(u"Panel"));
  EXPECT_EQ(plat::WindowText(h), u"Panel");
  plat::SendMessageW(h, WM_SETFONT, 1234, 0);
  EXPECT_EQ(plat::SendMessageW(h, WM_GETFONT, 0, 0), 1234);
  // The parent goes first: the control forgets its window and its stub.
  parentForm = nullptr;
  EXPECT_FALSE(plat::IsWindow(h));
  EXPECT_EQ(c->Handle(), nullptr);
  EXPECT_FALSE(c->SetText(u"x"));
  c = nullptr;
}

TEST_F(WinWindows, FormStylesTable) {
  plat::DWORD s, ex;
  FormWindowStyles(1, biAll, false, false, 0, s, ex);
  EXPECT_EQ(s, 0x06C40000u | plat::WS_SYSMENU | plat::WS_MINIMIZEBOX | plat::WS_MAXIMIZEBOX);
  EXPECT_EQ(ex, WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT | WS_EX_CONTEXTHELP);
  FormWindowStyles(0, biAll, true, true, 2, s, ex);
  EXPECT_EQ(s, plat::WS_POPUP | plat::WS_VISIBLE | plat::WS_MAXIMIZE);
  EXPECT_EQ(ex, WS_EX_CONTROLPARENT | plat::WS_EX_TOPMOST);
  FormWindowStyles(3, biSystemMenu, false, false, 1, s, ex);
  EXPECT_TRUE(ex & plat::WS_EX_TOOLWINDOW);
  EXPECT_TRUE(s & plat::WS_MINIMIZE);
  FormWindowStyles(4, biAll, false, false, 0, s, ex);
  EXPECT_EQ(s, plat::WS_POPUP | plat::WS_BORDER);
  FormWindowStyles(6, biAll, false, false, 0, s, ex);
  EXPECT_EQ(s, plat::WS_CAPTION | plat::WS_SYSMENU);
  FormWindowStyles(2, biMinimize, false, false, 0, s, ex);  // no system menu: no boxes
  EXPECT_FALSE(s & (plat::WS_SYSMENU | plat::WS_MINIMIZEBOX));
}

}  // namespace
