#include "ZmLib/Application2/zmForms.h"

#include <gtest/gtest.h>

#include <vector>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Application2/winForms.h"
#include "tests/support/HeadlessApp.h"

using namespace zm;
namespace hl = plat::headless;

namespace {

class TTestForm : public TZmForm {
public:
  explicit TTestForm(TFormControllerFactory f = nullptr) : TZmForm(f) {}
  std::int32_t Action = caHide;
  int Resizes = 0;
  void CloseQuery(std::int32_t& a) override { a = Action; }
  void Resized() override { ++Resizes; }
};

// Records the form's events; optionally runs something inside one of them.
struct TEventLog {
  std::vector<std::int32_t> Ids;
  bool Destroyed = false;
  std::int32_t ActOn = -1;
  std::function<void(TZmForm*)> Act;
  static void Handler(void* data, TRefObject* sender, std::int32_t id, std::intptr_t) {
    auto* self = static_cast<TEventLog*>(data);
    if (id == feDestroying) self->Destroyed = true;
    self->Ids.push_back(id);
    if (id == self->ActOn && self->Act) {
      auto act = std::move(self->Act);
      act(static_cast<TZmForm*>(sender));
    }
  }
  void Attach(TZmForm* f) {
    for (std::int32_t id = 0; id <= 23; ++id) f->Events()->AddHandler(id, &Handler, this);
  }
  bool Saw(std::int32_t id) const { return std::find(Ids.begin(), Ids.end(), id) != Ids.end(); }
};

class Forms : public zmtest::THeadlessAppTest {
protected:
  TTestForm* NewForm(TEventLog* log = nullptr) {
    auto* f = new TTestForm();
    f->AfterConstruction();
    if (log) log->Attach(f);
    return f;
  }
  static HWND Hwnd(TZmForm* f) { return static_cast<TWinFormController*>(f->Controller())->WindowHandle(); }
};

TEST_F(Forms, CreationDefaultsAndTheControllerHook) {
  TTestForm* f = NewForm();
  EXPECT_EQ(f->BorderStyle(), 1);
  EXPECT_EQ(f->BorderIcons(), 7);
  EXPECT_EQ(f->Cursor(), 0);
  EXPECT_EQ(f->WindowState(), 0);
  EXPECT_FALSE(f->Visible());
  EXPECT_EQ(Hwnd(f), nullptr);  // no window until one is needed
  // Three quarters of the work area, centred in it.
  const TRect& b = f->Bounds();
  plat::RECT work;
  plat::SystemParametersInfoA(plat::SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR(b.Right - b.Left, (work.right - plat::GetSystemMetrics(plat::SM_CXFRAME)) * 3 / 4, 1);
  EXPECT_NEAR(b.Left - work.left, work.right - b.Right, 1);
  EXPECT_NEAR(b.Top - work.top, work.bottom - b.Bottom, 1);
  f->Free();

  EXPECT_ANY_THROW(SetFormControllerHook(&CreateWinFormController));  // set once only
  ClearFormControllerHook(&CreateWinFormController);
  EXPECT_ANY_THROW(MakeRef<TTestForm>());  // neither hook nor factory
  SetFormControllerHook(&CreateWinFormController);
}

TEST_F(Forms, ChangeRecordsKeepSizeOrCornerAndRunLastToFirst) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  f->SetBounds({10, 20, 110, 70});
  log.Ids.clear();
  f->Resizes = 0;
  TFormChange c[3];
  c[0].Kind = fcPosition, c[0].X = 50, c[0].Y = 60;
  c[1].Kind = fcCaption, c[1].Caption.assign(1, u'x');
  c[2].Kind = fcSize, c[2].Width = 30, c[2].Height = -5;  // negative counts as 0
  f->ApplyChanges(c, 3);
  EXPECT_EQ(log.Ids, (std::vector<std::int32_t>{8, 3, 7}));
  EXPECT_EQ(f->Bounds(), (TRect{50, 60, 80, 60}));  // size at (10, 20), then moved keeping it
  EXPECT_EQ(f->Resizes, 1);
  log.Ids.clear();
  f->ApplyChanges(c, 3);  // nothing changes: no events
  EXPECT_TRUE(log.Ids.empty());
  TFormChange bad;
  bad.Kind = fcCaptureLost;
  EXPECT_ANY_THROW(f->ApplyChanges(&bad, 1));
  bad.Kind = 13;
  EXPECT_ANY_THROW(f->ApplyChanges(&bad, 1));
  f->ApplyChanges(nullptr, 5);
  f->ApplyChanges(c, -1);
  EXPECT_FALSE(f->SetBorderStyle(7));
  EXPECT_FALSE(f->SetWindowState(3));
  f->SetBorderIcons(0xFF);
  EXPECT_EQ(f->BorderIcons(), biAll);
  f->Free();
}

TEST_F(Forms, CaptionBeforeAndAfterTheWindowAndFromOutside) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  f->SetCaption(u"Show");
  EXPECT_EQ(f->Caption(), u"Show");
  EXPECT_TRUE(log.Saw(3));
  HWND h = f->Controller()->Handle();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(plat::WindowText(h), u"Show");
  log.Ids.clear();
  f->SetCaption(u"Next");
  EXPECT_EQ(plat::WindowText(h), u"Next");
  EXPECT_EQ(f->Caption(), u"Next");
  EXPECT_EQ(log.Ids, std::vector<std::int32_t>{3});
  plat::SetWindowTextW(h, u"Outside");  // the window side reports back
  EXPECT_EQ(f->Caption(), u"Outside");
  f->Free();
  EXPECT_FALSE(plat::IsWindow(h));
}

TEST_F(Forms, WindowMovesAndStatesComeBackAsChangeRecords) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  f->SetBounds({100, 100, 500, 400});
  f->SetVisible(true);
  HWND h = Hwnd(f);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(f->Visible());
  EXPECT_TRUE(plat::IsWindowVisible(h));
  EXPECT_TRUE(f->Active());
  plat::RECT r;
  plat::GetWindowRect(h, &r);
  EXPECT_EQ((TRect{r.left, r.top, r.right, r.bottom}), (TRect{100, 100, 500, 400}));

  log.Ids.clear();
  int resizes = f->Resizes;
  plat::MoveWindow(h, 30, 40, 200, 150, 1);
  EXPECT_EQ(f->Bounds(), (TRect{30, 40, 230, 190}));
  EXPECT_TRUE(log.Saw(7));
  EXPECT_TRUE(log.Saw(8));
  EXPECT_EQ(f->Resizes, resizes + 1);
  plat::SetWindowPos(h, plat::HWND_TOPMOST, 0, 0, 0, 0, plat::SWP_NOMOVE | plat::SWP_NOSIZE);
  EXPECT_TRUE(f->StayOnTop());
  f->SetStayOnTop(false);
  EXPECT_FALSE(plat::GetWindowLongPtrW(h, plat::GWL_EXSTYLE) & plat::WS_EX_TOPMOST);

  EXPECT_TRUE(f->SetWindowState(wsMaximized));
  EXPECT_TRUE(plat::IsZoomed(h));
  EXPECT_EQ(f->WindowState(), wsMaximized);
  plat::ShowWindow(h, plat::SW_MINIMIZE);
  EXPECT_EQ(f->WindowState(), wsMinimized);
  EXPECT_EQ(f->Bounds(), (TRect{30, 40, 230, 190}));  // the restored rectangle, not the icon's
  f->SetVisible(false);
  EXPECT_FALSE(plat::IsWindowVisible(h));
  EXPECT_FALSE(f->Visible());
  EXPECT_TRUE(f->SetWindowState(wsNormal));  // hidden: kept for the next show
  EXPECT_EQ(f->WindowState(), wsNormal);
  f->Free();
}

TEST_F(Forms, ZeroAndNegativeSizesGiveEmptyBoundsWithAndWithoutWindow) {
  TTestForm* f = NewForm();
  f->SetBounds({50, 50, 10, -20});
  EXPECT_EQ(f->Bounds(), (TRect{50, 50, 50, 50}));
  EXPECT_EQ(f->GetClientRect(), (TRect{0, 0, 0, 0}));  // makes the window
  f->SetBorderStyle(0);
  f->SetVisible(true);
  f->SetBounds({-10, -10, -30, -40});
  EXPECT_EQ(f->Bounds(), (TRect{-10, -10, -10, -10}));
  TSize nc = f->GetNonClientSize();
  EXPECT_EQ(nc, (TSize{0, 0}));
  f->SetVisible(false);  // a hidden window holds no pixels
  f->SetBounds({0, 0, INT32_MAX, INT32_MAX});
  EXPECT_EQ(f->Bounds(), (TRect{0, 0, 32767, 32767}));  // the window's limit comes back
  f->SetBounds({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
  EXPECT_GE(f->Bounds().Right, f->Bounds().Left);
  TTestForm* g = NewForm();  // without a window
  g->SetBounds({INT32_MIN, 0, INT32_MAX, 10});
  EXPECT_EQ(g->Bounds(), (TRect{INT32_MIN, 0, -1, 10}));  // the width stays in range
  TFormChange move;
  move.Kind = fcPosition;
  move.X = 100;
  g->ApplyChanges(&move, 1);
  EXPECT_EQ(g->Bounds().Right, INT32_MAX);  // clamped, not wrapped
  g->Free();
  f->Free();
}

TEST_F(Forms, BorderStylesAndIconsReachTheWindow) {
  TTestForm* f = NewForm();
  f->SetBounds({0, 0, 300, 200});
  HWND h = f->Controller()->Handle();
  auto style = [&] { return plat::DWORD(plat::GetWindowLongPtrW(h, plat::GWL_STYLE)); };
  EXPECT_TRUE(style() & plat::WS_THICKFRAME);
  EXPECT_TRUE(style() & plat::WS_SYSMENU);
  TSize nc = f->GetNonClientSize();
  EXPECT_GT(nc.cx, 0);
  EXPECT_GT(nc.cy, nc.cx);  // the caption
  EXPECT_TRUE(f->SetBorderStyle(0));
  EXPECT_EQ(f->BorderStyle(), 0);
  EXPECT_TRUE(style() & plat::WS_POPUP);
  EXPECT_FALSE(style() & (plat::WS_CAPTION | plat::WS_SYSMENU));
  EXPECT_EQ(f->GetNonClientSize(), (TSize{0, 0}));
  EXPECT_TRUE(f->SetBorderStyle(5));
  EXPECT_FALSE(style() & (plat::WS_THICKFRAME | plat::WS_MAXIMIZEBOX));
  EXPECT_TRUE(style() & plat::WS_MINIMIZEBOX);
  f->SetBorderIcons(0);
  EXPECT_FALSE(style() & plat::WS_SYSMENU);
  EXPECT_EQ(f->BorderIcons(), 0);
  // Styles changed by someone else: the bits the form decides come back.
  plat::SetWindowLongPtrW(h, plat::GWL_STYLE, plat::LONG_PTR((style() & ~plat::WS_CAPTION) | plat::WS_THICKFRAME));
  EXPECT_EQ(style() & plat::WS_CAPTION, plat::WS_CAPTION);
  EXPECT_FALSE(style() & plat::WS_THICKFRAME);
  plat::SetWindowLongPtrW(h, plat::GWL_EXSTYLE, plat::LONG_PTR(plat::WS_EX_LAYERED));
  auto ex = plat::DWORD(plat::GetWindowLongPtrW(h, plat::GWL_EXSTYLE));
  EXPECT_TRUE(ex & plat::WS_EX_LAYERED);  // not a bit of the form's
  EXPECT_TRUE(ex & WS_EX_CONTROLPARENT);
  f->Free();
}

TEST_F(Forms, TaskbarPresenceMakesTheWindowAgainWithoutOwner) {
  TTestForm* f = NewForm();
  f->SetVisible(true);
  HWND first = Hwnd(f);
  EXPECT_EQ(plat::GetWindowOwner(first), app->GetHandle());
  f->SetShowInTaskbar(true);
  HWND second = Hwnd(f);
  EXPECT_TRUE(f->ShowInTaskbar());
  EXPECT_FALSE(plat::IsWindow(first));
  ASSERT_TRUE(plat::IsWindow(second));
  EXPECT_EQ(plat::GetWindowOwner(second), nullptr);
  EXPECT_TRUE(f->Visible());
  EXPECT_TRUE(plat::IsWindowVisible(second));
  f->Free();
}

TEST_F(Forms, CursorNumbersShowAtOnceAndThroughSetCursor) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  f->SetCursor(-21);  // no window yet: stored, event 5
  EXPECT_EQ(f->Cursor(), -21);
  EXPECT_TRUE(log.Saw(5));
  f->SetBorderStyle(0);
  f->SetBounds({100, 100, 300, 300});
  f->SetVisible(true);
  HWND h = Hwnd(f);
  hl::MoveMouse({150, 150});  // WM_SETCURSOR over the client area
  EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_HAND));
  f->SetCursor(-1);  // the mouse is over it: hidden at once
  EXPECT_EQ(plat::GetCursor(), nullptr);
  f->SetCursor(-4);
  EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_IBEAM));
  f->SetCursor(17);  // out of the table: the arrow
  EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_ARROW));
  f->SetCursor(-11);
  hl::MoveMouse({1000, 900});  // away from the window: the cursor is no longer the form's to set
  f->SetCursor(-3);
  EXPECT_EQ(f->Cursor(), -3);
  EXPECT_NE(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_CROSS));
  EXPECT_EQ(FormCursorHandle(-14), plat::LoadCursorW(nullptr, plat::IDC_ARROW));  // own cursor missing
  EXPECT_EQ(FormCursorHandle(-24), plat::LoadCursorW(nullptr, plat::IDC_ARROW));
  EXPECT_EQ(GetCursorPoint(), (TPoint{1000, 900}));
  (void)h;
  f->Free();
}

TEST_F(Forms, MouseCaptureAndItsLoss) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  EXPECT_FALSE(f->HasMouseCapture());
  EXPECT_FALSE(f->SetMouseCapture());  // no window
  EXPECT_ANY_THROW(f->ReleaseMouseCapture());
  f->SetVisible(true);
  EXPECT_TRUE(f->SetMouseCapture());
  EXPECT_TRUE(f->HasMouseCapture());
  TTestForm* other = NewForm();
  other->SetVisible(true);
  other->SetMouseCapture();  // stolen
  EXPECT_FALSE(f->HasMouseCapture());
  EXPECT_TRUE(log.Saw(4));
  f->ReleaseMouseCapture();  // not held: the other keeps it
  EXPECT_TRUE(other->HasMouseCapture());
  other->Free();  // the window that held it goes
  EXPECT_EQ(plat::GetCapture(), nullptr);
  f->Free();
}

TEST_F(Forms, InputReachesTheFormEvents) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  f->SetBorderStyle(0);
  f->SetBounds({0, 0, 200, 200});
  f->SetVisible(true);
  TZmMouseData seenMouse;
  f->Events()->AddHandler(feMouse, [](void* d, TRefObject*, std::int32_t, std::intptr_t p) {
    auto* m = reinterpret_cast<TZmMouseData*>(p);
    if (m->Kind == TMouseKind::Down) static_cast<TZmMouseData*>(d)->Pos = m->Pos;
  }, &seenMouse);
  f->Events()->AddHandler(feKey, [](void*, TRefObject*, std::int32_t, std::intptr_t p) {
    auto* k = reinterpret_cast<TZmKeyData*>(p);
    if (k->Kind == TKeyKind::Char) k->Char = u'B';
  }, nullptr);
  hl::Click(1, {40, 50});
  hl::Key(plat::VK_SPACE, true);
  hl::Type(u"a");
  hl::PumpUntilIdle();
  EXPECT_TRUE(log.Saw(feMouse));
  EXPECT_TRUE(log.Saw(feKey));
  EXPECT_EQ(seenMouse.Pos, (TPoint{40, 50}));
  WideChar c = u'a';
  f->DoKey(TKeyKind::Char, 0, c, 0);
  EXPECT_EQ(c, u'B');  // written back
  // WM_SIZING goes through AdjustBounds, whose handlers may change it.
  f->Events()->AddHandler(feAdjustBounds, [](void*, TRefObject*, std::int32_t, std::intptr_t p) {
    reinterpret_cast<TZmAdjustBoundsData*>(p)->Bounds.Right = 77;
  }, nullptr);
  plat::RECT drag{0, 0, 500, 500};
  EXPECT_EQ(plat::SendMessageW(Hwnd(f), WM_SIZING, 8, reinterpret_cast<plat::LPARAM>(&drag)), 1);
  EXPECT_EQ(drag.right, 77);
  EXPECT_EQ(plat::SendMessageW(Hwnd(f), WM_MENUCHAR, 0, 0), MNC_CLOSE_RESULT);
  f->Free();
}

TEST_F(Forms, CloseActions) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  f->SetVisible(true);
  HWND h = Hwnd(f);
  f->Action = caNone;
  hl::RequestClose(h);  // the close box
  hl::PumpUntilIdle();
  EXPECT_TRUE(plat::IsWindowVisible(h));
  f->Action = caMinimize;
  f->Close();
  EXPECT_TRUE(plat::IsIconic(h));
  EXPECT_EQ(f->WindowState(), wsMinimized);
  f->Action = caHide;
  f->Close();
  EXPECT_FALSE(f->Visible());
  f->Action = 7;
  EXPECT_ANY_THROW(f->Close());
  // Action 2 with a window: freed only when the posted message is handled.
  f->Action = caFree;
  f->Close();
  f->Close();  // asked twice: freed once
  EXPECT_FALSE(log.Destroyed);
  EXPECT_TRUE(plat::IsWindow(h));
  hl::PumpUntilIdle();
  EXPECT_TRUE(log.Destroyed);
  EXPECT_FALSE(plat::IsWindow(h));
}

TEST_F(Forms, ClosedInsideItsOwnEventHandler) {
  // Without a window: freed at once, but only after the handler returned.
  TEventLog a;
  TTestForm* f = NewForm(&a);
  f->Action = caFree;
  a.ActOn = FormChangeEvent(fcCursor);
  a.Act = [](TZmForm* form) { form->Close(); };
  f->SetCursor(-5);
  EXPECT_TRUE(a.Destroyed);

  // With a window, from the visible event that the show itself raises.
  TEventLog b;
  TTestForm* g = NewForm(&b);
  g->Action = caFree;
  b.ActOn = FormChangeEvent(fcVisible);
  b.Act = [](TZmForm* form) { form->Close(); };
  g->SetVisible(true);
  EXPECT_FALSE(b.Destroyed);
  hl::PumpUntilIdle();
  EXPECT_TRUE(b.Destroyed);

  // A form freed by its creator while its free message is queued.
  TEventLog c;
  TTestForm* k = NewForm(&c);
  k->SetVisible(true);
  k->Action = caFree;
  HWND h = Hwnd(k);
  plat::SendMessageW(h, plat::WM_CLOSE, 0, 0);
  EXPECT_FALSE(c.Destroyed);
  plat::DestroyWindow(h);  // the window goes first: the form goes with it
  EXPECT_TRUE(c.Destroyed);
  hl::PumpUntilIdle();
}

TEST_F(Forms, WindowDestroyedFromOutside) {
  TEventLog log;
  TTestForm* f = NewForm(&log);
  f->SetCaption(u"A");
  f->SetVisible(true);
  f->SetMouseCapture();
  HWND h = Hwnd(f);
  plat::DestroyWindow(h);
  EXPECT_EQ(Hwnd(f), nullptr);
  EXPECT_FALSE(f->Visible());
  EXPECT_FALSE(f->Active());
  EXPECT_TRUE(log.Saw(4));  // the capture went with it
  EXPECT_FALSE(f->HasMouseCapture());
  f->SetBounds({1, 2, 3, 4});  // applied to the form alone
  EXPECT_EQ(f->Bounds(), (TRect{1, 2, 3, 4}));
  f->SetCaption(u"B");
  EXPECT_EQ(f->Caption(), u"B");
  EXPECT_ANY_THROW(f->Controller()->Invalidate(nullptr));
  f->SetVisible(true);  // a new window
  ASSERT_NE(Hwnd(f), nullptr);
  EXPECT_NE(Hwnd(f), h);
  EXPECT_EQ(plat::WindowText(Hwnd(f)), u"B");
  f->Controller()->Invalidate(nullptr);
  f->Free();
}

class TDependant : public TRefObject {
public:
  explicit TDependant(bool* gone) : gone_(gone) {}
  void Dispose() override {
    *gone_ = true;
    TRefObject::Dispose();
  }

private:
  bool* gone_;
};

TEST_F(Forms, DeviceFollowsClientBoundsAndOrigin) {
  TTestForm* f = NewForm();
  f->SetBounds({100, 100, 500, 400});
  f->SetVisible(true);
  auto dev = MakeRef<TZmFormDevice>(f);
  EXPECT_EQ(dev->Window(), Hwnd(f));
  int refreshes = 0;
  dev->SetOnRefresh([&](TZmFormDevice*) { ++refreshes; });
  f->SetBounds({200, 150, 600, 450});
  TRect client = f->GetClientRect();
  TSize nc = f->GetNonClientSize();
  EXPECT_EQ(client, (TRect{0, 0, 400 - nc.cx, 300 - nc.cy}));
  EXPECT_EQ(dev->Bounds(), client);
  TPoint origin = f->ClientToScreen({0, 0});
  EXPECT_EQ(dev->ScreenOrigin(), origin);
  EXPECT_GT(origin.X, 200);
  EXPECT_GT(origin.Y, origin.X - 200 + 150);  // the caption is above
  EXPECT_EQ(f->ScreenToClient(origin), (TPoint{0, 0}));
  EXPECT_EQ(refreshes, 1);
  f->SetBounds({200, 150, 200, 150});  // empty
  EXPECT_EQ(dev->Bounds(), (TRect{0, 0, 0, 0}));
  EXPECT_EQ(refreshes, 2);
  // Activation runs the refresh callback; IsActive follows the foreground.
  EXPECT_TRUE(dev->IsActive());
  hl::ActivateOtherProgram();
  EXPECT_FALSE(dev->IsActive());
  hl::Activate(Hwnd(f));
  EXPECT_TRUE(dev->IsActive());
  EXPECT_EQ(refreshes, 3);
  // Dependants go with the device; the form outlives it untouched.
  bool gone = false;
  dev->Objects()->Add(new TDependant(&gone));
  dev = nullptr;
  EXPECT_TRUE(gone);
  EXPECT_FALSE(f->OnActivate());
  f->SetBounds({0, 0, 50, 50});
  f->Free();
}

TEST_F(Forms, DeviceOutlivesItsForm) {
  TTestForm* f = NewForm();
  f->SetVisible(true);
  auto dev = MakeRef<TZmFormDevice>(f);
  f->Free();
  EXPECT_EQ(dev->Form(), nullptr);
  EXPECT_FALSE(dev->IsActive());
  dev->UpdateFromForm();
  EXPECT_ANY_THROW(MakeRef<TZmFormDevice>(nullptr));
}

TEST_F(Forms, HooksOfTheControllerSeeMessagesFirst) {
  TTestForm* f = NewForm();
  f->SetVisible(true);
  struct TSeen { int Hooked = 0, Listened = 0; } seen;
  auto hook = [](void* d, HWND, TMessage& m, bool& handled) {
    if (m.Msg == plat::WM_CLOSE) {
      ++static_cast<TSeen*>(d)->Hooked;
      handled = true;  // the close never reaches the form
    }
  };
  auto listener = [](void* d, HWND, TMessage& m) {
    if (m.Msg == plat::WM_CLOSE) ++static_cast<TSeen*>(d)->Listened;
  };
  HookManager->AddMsgHook(f->Controller(), hook, &seen);
  HookManager->AddMsgListener(f->Controller(), listener, &seen);
  f->Action = caHide;
  plat::SendMessageW(Hwnd(f), plat::WM_CLOSE, 0, 0);
  EXPECT_EQ(seen.Hooked, 1);
  EXPECT_EQ(seen.Listened, 1);
  EXPECT_TRUE(f->Visible());
  HookManager->RemoveMsgHook(f->Controller(), hook, &seen);
  HookManager->RemoveMsgListener(f->Controller(), listener, &seen);
  f->Free();
}

}  // namespace
