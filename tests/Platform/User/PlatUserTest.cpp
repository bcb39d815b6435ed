#include <gtest/gtest.h>

#include <thread>

#include "Platform/PlatSystem.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;
using usertest::TRecorder;

namespace {

class PlatUser : public usertest::UserTest {};

TEST_F(PlatUser, CreateAndDestroyOrder) {
  auto& rec = TRecorder::Get();
  HWND top = Make();
  HWND child = Make(WS_CHILD | WS_VISIBLE, top, {0, 0, 50, 50});
  HWND owned = Make(WS_POPUP, top);
  EXPECT_EQ(GetParent(child), top);
  EXPECT_EQ(GetParent(owned), top);
  EXPECT_EQ((rec.Msgs(child, {WM_NCCREATE, WM_CREATE})), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  // The handle stays valid until its WM_NCDESTROY was handled.
  bool validInNcDestroy = false;
  rec.OnMessage = [&](HWND h, UINT m, WPARAM, LPARAM, LRESULT&) {
    if (m == WM_NCDESTROY && h == top) validInNcDestroy = IsWindow(h) != 0;
    return false;
  };
  rec.Clear();
  EXPECT_TRUE(DestroyWindow(top));
  std::vector<std::pair<HWND, UINT>> seq;
  for (auto& r : rec.Log)
    if (r.Msg == WM_DESTROY || r.Msg == WM_NCDESTROY) seq.push_back({r.Hwnd, r.Msg});
  std::vector<std::pair<HWND, UINT>> want{{owned, WM_DESTROY}, {owned, WM_NCDESTROY}, {top, WM_DESTROY},
                                          {child, WM_DESTROY}, {child, WM_NCDESTROY}, {top, WM_NCDESTROY}};
  EXPECT_EQ(seq, want);
  EXPECT_TRUE(validInNcDestroy);
  // Stale handles fail every call.
  for (HWND h : {top, child, owned}) {
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(SendMessageW(h, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessageW(h, WM_USER, 0, 0));
    EXPECT_FALSE(SetWindowTextW(h, u"x"));
    EXPECT_FALSE(DestroyWindow(h));
    EXPECT_EQ(SetTimer(h, 1, 10, nullptr), 0u);
  }
  // A new window in the same slot gets another handle.
  HWND again = Make();
  EXPECT_NE(again, top);
  EXPECT_FALSE(IsWindow(top));
}

TEST_F(PlatUser, ClassesAndFailedCreation) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &usertest::RecordingProc;
  wc.lpszClassName = u"REC";  // names ignore case
  EXPECT_EQ(RegisterClassW(&wc), 0);
  EXPECT_EQ(LastOSError(), ERROR_CLASS_ALREADY_EXISTS);
  HWND h = Make();
  EXPECT_FALSE(UnregisterClassW(u"Rec", nullptr));
  EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateWindowExW(0, u"Rec", u"", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  // WM_CREATE answering -1 fails the creation; the window is gone.
  HWND failed = nullptr;
  TRecorder::Get().OnMessage = [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT& r) {
    if (m == WM_CREATE) {
      failed = w;
      r = -1;
      return true;
    }
    return false;
  };
  EXPECT_EQ(CreateWindowExW(0, u"Rec", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_NE(failed, nullptr);
  EXPECT_FALSE(IsWindow(failed));
  TRecorder::Get().OnMessage = nullptr;
  DestroyWindow(h);
  EXPECT_TRUE(UnregisterClassW(u"Rec", nullptr));
  EXPECT_FALSE(UnregisterClassW(u"Rec", nullptr));
}

LRESULT SwappedProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  TRecorder::Get().Log.push_back({h, m + 0x10000, w, l});
  return DefWindowProcW(h, m, w, l);
}

TEST_F(PlatUser, ProcedureReplacedDuringCreation) {
  // The class procedure installs another one at the first message; every
  // later message of the creation reaches the new one.
  TRecorder::Get().OnMessage = [](HWND h, UINT m, WPARAM, LPARAM, LRESULT& r) {
    if (m == WM_NCCREATE) {
      SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SwappedProc));
      r = 1;
      return true;
    }
    return false;
  };
  HWND h = Make();
  auto msgs = TRecorder::Get().Msgs(h);
  ASSERT_GE(msgs.size(), 2u);
  EXPECT_EQ(msgs[0], WM_NCCREATE);
  EXPECT_EQ(msgs[1], WM_CREATE + 0x10000);
  EXPECT_EQ(GetWindowLongPtrW(h, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&SwappedProc));
  EXPECT_EQ(CallWindowProcW(&SwappedProc, h, WM_USER, 1, 2), 0);
}

TEST_F(PlatUser, WindowLongsAndStyleChange) {
  HWND h = Make();
  EXPECT_EQ(SetWindowLongPtrW(h, 8, LONG_PTR(0x1122334455667788)), 0);
  EXPECT_EQ(GetWindowLongPtrW(h, 8), LONG_PTR(0x1122334455667788));
  EXPECT_EQ(GetWindowLongPtrW(h, 16), 0);  // beyond the extra bytes
  EXPECT_EQ(LastOSError(), ERROR_INVALID_PARAMETER);
  // A handler may put its bits back from inside WM_STYLECHANGED.
  TRecorder::Get().OnMessage = [](HWND w, UINT m, WPARAM wp, LPARAM l, LRESULT&) {
    if (m == WM_STYLECHANGED && LONG(wp) == GWL_STYLE) {
      auto* s = reinterpret_cast<STYLESTRUCT*>(l);
      if (!(s->styleNew & WS_CAPTION)) SetWindowLongW(w, GWL_STYLE, LONG(s->styleNew | WS_CAPTION));
    }
    return false;
  };
  SetWindowLongW(h, GWL_STYLE, LONG(WS_POPUP));
  EXPECT_EQ(DWORD(GetWindowLongW(h, GWL_STYLE)), WS_POPUP | WS_CAPTION);
  EXPECT_EQ(TRecorder::Get().Of(WM_STYLECHANGED).size(), 2u);
  EXPECT_TRUE(SetWindowTextW(h, u"Title"));
  char16_t buf[4];
  EXPECT_EQ(GetWindowTextW(h, buf, 4), 3);
  EXPECT_EQ(std::u16string(buf), u"Tit");
  EXPECT_EQ(GetWindowTextLengthW(h), 5);
  EXPECT_EQ(RegisterWindowMessageW(u"TaskbarButtonCreated"), RegisterWindowMessageW(u"taskbarbuttoncreated"));
  EXPECT_GE(RegisterWindowMessageW(u"MSWHEEL_ROLLMSG"), 0xC000u);
}

TEST_F(PlatUser, QueueOrder) {
  HWND h = Make();
  Pump();
  ASSERT_TRUE(PostMessageW(h, WM_USER + 1, 0, 0));
  PostQuitMessage(3);
  ASSERT_TRUE(PostMessageW(h, WM_USER + 2, 0, 0));
  ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 3, 0, 0));  // a thread message
  std::vector<UINT> got;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) got.push_back(m.message);
  EXPECT_EQ(got, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
  EXPECT_EQ(m.wParam, 3u);
  // PeekMessage consumes the quit request.
  PostQuitMessage(0);
  EXPECT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  // Posts to a window destroyed meanwhile are dropped.
  PostMessageW(h, WM_USER + 4, 0, 0);
  DestroyWindow(h);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(GetMessageW(&m, reinterpret_cast<HWND>(std::uintptr_t(0x12345)), 0, 0), -1);
}

TEST_F(PlatUser, TimersWithManualClock) {
  TManualClock clock(1000);
  HWND h = Make();
  Pump();
  UINT_PTR id = reinterpret_cast<UINT_PTR>(&clock);  // pointer ids round-trip
  EXPECT_EQ(SetTimer(h, id, 100, nullptr), id);
  MSG m;
  clock.Advance(99);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  clock.Advance(1);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.wParam, id);
  // A late timer yields one message, re-armed from now.
  clock.Advance(1000);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  clock.Advance(100);
  // Killing a due timer drops its message.
  EXPECT_TRUE(KillTimer(h, id));
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(KillTimer(h, id));
  // A timer killed inside its own handler.
  SetTimer(h, 7, 10, nullptr);
  int calls = 0;
  TRecorder::Get().OnMessage = [&](HWND w, UINT msg, WPARAM wp, LPARAM, LRESULT&) {
    if (msg == WM_TIMER && wp == 7) {
      ++calls;
      KillTimer(w, 7);
      return true;
    }
    return false;
  };
  clock.Advance(10);
  Pump();
  clock.Advance(50);
  Pump();
  EXPECT_EQ(calls, 1);
  // Timers die with their window.
  SetTimer(h, 8, 10, nullptr);
  DestroyWindow(h);
  clock.Advance(20);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(PlatUser, PaintComesAfterPostedMessages) {
  HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  auto& rec = TRecorder::Get();
  Pump();  // the first paint
  EXPECT_FALSE(rec.Of(WM_PAINT).empty());
  rec.Clear();
  InvalidateRect(h, nullptr, 0);
  PostMessageW(h, WM_USER, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_PAINT);
  DispatchMessageW(&m);  // DefWindowProcW validates
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  // Erasing only when asked; UpdateWindow paints at once.
  rec.Clear();
  InvalidateRect(h, nullptr, 0);
  UpdateWindow(h);
  EXPECT_EQ(rec.Msgs(h, {WM_PAINT, WM_ERASEBKGND}), (std::vector<UINT>{WM_PAINT}));
  rec.Clear();
  RECT part{10, 10, 20, 20};
  InvalidateRect(h, &part, 1);
  RECT u;
  EXPECT_TRUE(GetUpdateRect(h, &u, 0));
  EXPECT_EQ(u, part);
  UpdateWindow(h);
  EXPECT_EQ(rec.Msgs(h, {WM_PAINT, WM_ERASEBKGND}), (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
  EXPECT_FALSE(GetUpdateRect(h, &u, 0));
  // Hidden windows get no WM_PAINT.
  ShowWindow(h, SW_HIDE);
  InvalidateRect(h, nullptr, 1);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
}

TEST_F(PlatUser, PixelsOfChildrenLandInTheTopLevel) {
  HWND top = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 40, 30});
  HWND child = Make(WS_CHILD | WS_VISIBLE, top, {10, 5, 20, 15});
  Pump();
  TRecorder::Get().OnMessage = [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT& r) {
    if (m != WM_PAINT || w != child) return false;
    PAINTSTRUCT ps;
    BeginPaint(w, &ps);
    TWindowPixels px;
    if (LockWindowPixels(w, px)) {
      for (int y = 0; y < px.Height; ++y)
        for (int x = 0; x < px.Width; ++x) px.Bits[y * px.Stride + x] = 0xFF00FF00;
      UnlockWindowPixels(w, nullptr);
    }
    EndPaint(w, &ps);
    r = 0;
    return true;
  };
  InvalidateRect(child, nullptr, 0);
  Pump();
  int wdt, hgt;
  auto px = headless::CaptureClient(top, wdt, hgt);
  ASSERT_EQ(wdt, 40);
  ASSERT_EQ(hgt, 30);
  EXPECT_EQ(px[size_t(5 * 40 + 10)], 0xFF00FF00u);
  EXPECT_EQ(px[size_t(14 * 40 + 19)], 0xFF00FF00u);
  EXPECT_NE(px[size_t(15 * 40 + 20)], 0xFF00FF00u);
  EXPECT_GT(headless::PresentCount(top), 0);
}

TEST_F(PlatUser, KeysReachTheFocusWithWin32Bits) {
  HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  Pump();
  EXPECT_EQ(GetFocus(), h);
  auto& rec = TRecorder::Get();
  rec.Clear();
  headless::Key('A', true);
  headless::Key('A', true, true);
  // The thread's key state changes only when the message is retrieved.
  EXPECT_EQ(GetKeyState('A') & 0x8000, 0);
  Pump();
  EXPECT_NE(GetKeyState('A') & 0x8000, 0);
  headless::Key('A', false);
  headless::Key(VK_MENU, true);
  headless::Key('X', true);
  headless::Key('X', false);
  headless::Key(VK_MENU, false);
  headless::Type(u"é");
  Pump();
  auto keys = rec.Msgs(h, {WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_CHAR});
  EXPECT_EQ(keys, (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYDOWN, WM_SYSKEYUP,
                                     WM_SYSKEYUP, WM_CHAR}));
  auto downs = rec.Of(WM_KEYDOWN);
  EXPECT_EQ((downs[0].L >> 30) & 1, 0);  // first press
  EXPECT_EQ((downs[1].L >> 30) & 1, 1);  // repeat
  auto sys = rec.Of(WM_SYSKEYDOWN);
  EXPECT_EQ(sys[1].W, WPARAM('X'));
  EXPECT_EQ((sys[1].L >> 29) & 1, 1);  // Alt held
  EXPECT_EQ(rec.Of(WM_KEYUP)[0].L & (LPARAM(1) << 31), LPARAM(1) << 31);
  EXPECT_EQ(rec.Of(WM_CHAR)[0].W, WPARAM(u'é'));
  EXPECT_EQ(GetKeyState('A') & 0x8000, 0);
  // Without focus the active window gets the WM_SYS variants.
  SetFocus(nullptr);
  rec.Clear();
  headless::Key(VK_F1, true);
  Pump();
  EXPECT_EQ(rec.Msgs(h, {WM_KEYDOWN, WM_SYSKEYDOWN}), (std::vector<UINT>{WM_SYSKEYDOWN}));
}

struct THookLog {
  static inline std::vector<int> Calls;
  static inline HHOOK First = nullptr, Second = nullptr;
  static inline bool Swallow = false;
  static inline bool RemoveSelf = false;
};

LRESULT FirstHook(int code, WPARAM w, LPARAM l) {
  THookLog::Calls.push_back(1);
  if (THookLog::RemoveSelf) UnhookWindowsHookEx(THookLog::First);
  if (THookLog::Swallow) return 1;
  return CallNextHookEx(THookLog::First, code, w, l);
}

LRESULT SecondHook(int code, WPARAM w, LPARAM l) {
  auto* k = reinterpret_cast<KBDLLHOOKSTRUCT*>(l);
  THookLog::Calls.push_back(int(k->vkCode));
  return CallNextHookEx(THookLog::Second, code, w, l);
}

TEST_F(PlatUser, KeyboardHookSeesAndSwallowsKeys) {
  THookLog::Calls.clear();
  THookLog::Swallow = THookLog::RemoveSelf = false;
  HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  Pump();
  EXPECT_EQ(SetWindowsHookExA(4, &FirstHook, nullptr, 0), nullptr);  // only the low-level keyboard hook
  THookLog::Second = SetWindowsHookExA(WH_KEYBOARD_LL, &SecondHook, ModuleInstance(), 0);
  THookLog::First = SetWindowsHookExA(WH_KEYBOARD_LL, &FirstHook, ModuleInstance(), 0);
  ASSERT_NE(THookLog::First, nullptr);
  headless::Key('Q', true);
  EXPECT_EQ(THookLog::Calls, (std::vector<int>{1, 'Q'}));  // newest first
  THookLog::Swallow = true;
  headless::Key('W', true);
  auto& rec = TRecorder::Get();
  rec.Clear();
  Pump();
  EXPECT_EQ(rec.Of(WM_KEYDOWN).size(), 1u);  // only Q
  EXPECT_EQ(rec.Of(WM_KEYDOWN)[0].W, WPARAM('Q'));
  // A hook removed while it runs still passes the key on, and is gone after.
  THookLog::Swallow = false;
  THookLog::RemoveSelf = true;
  THookLog::Calls.clear();
  headless::Key('E', true);
  EXPECT_EQ(THookLog::Calls, (std::vector<int>{1, 'E'}));
  THookLog::Calls.clear();
  headless::Key('R', true);
  EXPECT_EQ(THookLog::Calls, (std::vector<int>{'R'}));
  EXPECT_FALSE(UnhookWindowsHookEx(THookLog::First));
  EXPECT_TRUE(UnhookWindowsHookEx(THookLog::Second));
  (void)h;
}

TEST_F(PlatUser, MouseRoutingCaptureAndDoubleClicks) {
  HWND top = Make(WS_POPUP | WS_VISIBLE, nullptr, {100, 100, 300, 300});
  HWND child = Make(WS_CHILD | WS_VISIBLE, top, {10, 10, 60, 60});
  Pump();
  auto& rec = TRecorder::Get();
  rec.Clear();
  headless::Click(1, {120, 130});
  Pump();
  auto downs = rec.Of(WM_LBUTTONDOWN);
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0].Hwnd, child);
  EXPECT_EQ(GET_X_LPARAM(downs[0].L), 10);  // client coordinates of the child
  EXPECT_EQ(GET_Y_LPARAM(downs[0].L), 20);
  EXPECT_EQ(downs[0].W & MK_LBUTTON, MK_LBUTTON);
  // A second press at the same place is a double click (the class asks for them).
  rec.Clear();
  headless::Press(1);
  headless::Release(1);
  Pump();
  EXPECT_EQ(rec.Msgs(child, {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONUP}),
            (std::vector<UINT>{WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
  // A transparent child passes the point to its parent.
  rec.OnMessage = [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT& r) {
    if (w == child && m == WM_NCHITTEST) {
      r = HTTRANSPARENT;
      return true;
    }
    return false;
  };
  rec.Clear();
  headless::Click(2, {125, 125});
  Pump();
  ASSERT_EQ(rec.Of(WM_RBUTTONDOWN).size(), 1u);
  EXPECT_EQ(rec.Of(WM_RBUTTONDOWN)[0].Hwnd, top);
  rec.OnMessage = nullptr;
  // Capture: messages keep coming outside every window; losing it is told.
  SetCapture(child);
  rec.Clear();
  headless::MoveMouse({900, 900});
  Pump();
  ASSERT_EQ(rec.Of(WM_MOUSEMOVE).size(), 1u);
  EXPECT_EQ(rec.Of(WM_MOUSEMOVE)[0].Hwnd, child);
  EXPECT_EQ(GET_X_LPARAM(rec.Of(WM_MOUSEMOVE)[0].L), 900 - 110);
  SetCapture(top);
  EXPECT_EQ(rec.Msgs(child, {WM_CAPTURECHANGED}).size(), 1u);
  SendMessageW(top, WM_CANCELMODE, 0, 0);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(rec.Msgs(top, {WM_CAPTURECHANGED}).size(), 1u);
  // The wheel goes to the focus with the point in screen coordinates.
  SetFocus(child);
  rec.Clear();
  headless::Wheel(-120, {150, 160});
  Pump();
  auto wheel = rec.Of(WM_MOUSEWHEEL);
  ASSERT_GE(wheel.size(), 1u);
  EXPECT_EQ(wheel[0].Hwnd, child);
  EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel[0].W), -120);
  EXPECT_EQ(GET_X_LPARAM(wheel[0].L), 150);
}

TEST_F(PlatUser, NoActivateAndForeground) {
  HWND a = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 100, 100});
  HWND b = Make(WS_POPUP, nullptr, {200, 0, 300, 100});
  ShowWindow(b, SW_SHOWNA);
  Pump();
  EXPECT_EQ(GetActiveWindow(), a);
  TRecorder::Get().OnMessage = [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT& r) {
    if (w == b && m == WM_MOUSEACTIVATE) {
      r = MA_NOACTIVATE;
      return true;
    }
    return false;
  };
  headless::Click(1, {250, 50});
  Pump();
  EXPECT_EQ(GetActiveWindow(), a);
  EXPECT_EQ(TRecorder::Get().Msgs(b, {WM_LBUTTONDOWN}).size(), 1u);
  headless::ActivateOtherProgram();
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  headless::Activate(b);
  EXPECT_EQ(GetForegroundWindow(), b);
  EXPECT_FALSE(SetForegroundWindow(reinterpret_cast<HWND>(std::uintptr_t(0x4711))));
}

TEST_F(PlatUser, PlacementOfHiddenWindowStoresWithoutShowing) {
  HWND h = Make();
  WINDOWPLACEMENT wp;
  ASSERT_TRUE(GetWindowPlacement(h, &wp));
  wp.showCmd = SW_SHOWMAXIMIZED;
  ASSERT_TRUE(SetWindowPlacement(h, &wp));
  EXPECT_FALSE(IsWindowVisible(h));
  WINDOWPLACEMENT back;
  GetWindowPlacement(h, &back);
  EXPECT_EQ(back.showCmd, UINT(SW_SHOWMAXIMIZED));
  // The stored state takes effect at the next show.
  ShowWindow(h, SW_SHOW);
  EXPECT_TRUE(IsZoomed(h));
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r, (RECT{0, 0, 1920, 1040}));  // the work area
  ShowWindow(h, SW_RESTORE);
  GetWindowRect(h, &r);
  EXPECT_EQ(r, (RECT{100, 100, 420, 340}));
  ShowWindow(h, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(h));
  GetWindowPlacement(h, &back);
  EXPECT_EQ(back.rcNormalPosition, (RECT{100, 100, 420, 340}));
}

TEST_F(PlatUser, SetWindowPosReportsOnceAndTopmost) {
  HWND h = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 100, 100});
  Pump();
  auto& rec = TRecorder::Get();
  rec.Clear();
  SetWindowPos(h, nullptr, 10, 20, 30, 40, SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(rec.Of(WM_WINDOWPOSCHANGED).size(), 1u);
  auto* pos = reinterpret_cast<WINDOWPOS*>(rec.Of(WM_WINDOWPOSCHANGED)[0].L);
  (void)pos;  // only valid during the call
  RECT r, c;
  GetWindowRect(h, &r);
  GetClientRect(h, &c);
  EXPECT_EQ(r, (RECT{10, 20, 40, 60}));
  EXPECT_EQ(c, (RECT{0, 0, 30, 40}));
  rec.Clear();
  SetWindowPos(h, nullptr, 10, 20, 30, 40, SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(rec.Of(WM_WINDOWPOSCHANGED).empty());
  SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_TRUE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
  SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_FALSE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
  POINT p{5, 5};
  ClientToScreen(h, &p);
  EXPECT_EQ(p, (POINT{15, 25}));
  EXPECT_EQ(WindowFromPoint({15, 25}), h);
}

TEST_F(PlatUser, MonitorsAndMetrics) {
  headless::SetMonitors({{{0, 0, 1280, 1024}, {0, 0, 1280, 984}, true, 96, 60, 32},
                         {{1280, 0, 3200, 1080}, {1280, 0, 3200, 1080}, false, 120, 0, 32}});
  std::vector<RECT> seen;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR, HDC, RECT* r, LPARAM d) -> BOOL {
        reinterpret_cast<std::vector<RECT>*>(d)->push_back(*r);
        return 1;
      },
      reinterpret_cast<LPARAM>(&seen));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
  EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), 3200);
  HMONITOR m = MonitorFromPoint({2000, 10}, MONITOR_DEFAULTTONULL);
  MONITORINFOEXA mi;
  ASSERT_TRUE(GetMonitorInfoA(m, &mi));
  EXPECT_EQ(mi.rcMonitor, (RECT{1280, 0, 3200, 1080}));
  EXPECT_EQ(mi.dwFlags, 0u);
  EXPECT_STREQ(mi.szDevice, "\\\\.\\DISPLAY2");
  EXPECT_EQ(MonitorFromPoint({-500, 10}, MONITOR_DEFAULTTONULL), nullptr);
  EXPECT_EQ(MonitorFromPoint({-500, 10}, MONITOR_DEFAULTTONEAREST), MonitorFromPoint({0, 0}, 0));
  EXPECT_FALSE(GetMonitorInfoA(reinterpret_cast<HMONITOR>(std::uintptr_t(9)), &mi));
  RECT work;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(work, (RECT{0, 0, 1280, 984}));
  EXPECT_EQ(ScreenDeviceCaps(VREFRESH), 60);
  EXPECT_NE(GetUserProcAddress("EnumDisplayMonitors"), nullptr);
  headless::SetMultiMonitorApiAvailable(false);
  EXPECT_EQ(GetUserProcAddress("EnumDisplayMonitors"), nullptr);
}

TEST_F(PlatUser, MessageBoxesAnswerTheDefaultButton) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"Line one\r\nLine two", u"Slideshow Error", MB_ICONWARNING), IDOK);
  EXPECT_EQ(MessageBoxW(nullptr, u"Sure?", u"Q", MB_YESNO | MB_DEFBUTTON2), IDNO);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Slideshow Error: Line one  Line two\n"), std::string::npos);
  headless::ScriptMessageBox(IDCANCEL);
  EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(headless::MessageBoxesShown().size(), 3u);
}

TEST_F(PlatUser, CloseRequestDestroysThroughDefWindowProc) {
  HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  headless::RequestClose(h);
  EXPECT_FALSE(IsWindow(h));
  auto msgs = TRecorder::Get().Msgs(nullptr, {WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY});
  EXPECT_EQ(msgs, (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}));
}

}  // namespace

#include <filesystem>
#include <fstream>

#include "Platform/User/PlatUserBackend.h"

namespace {

class TCloseSink : public plat::user::TInputSink {
public:
  std::vector<plat::user::NativeWin> Closed;
  void Key(UINT, UINT, bool, bool, bool) override {}
  void Text(const std::u16string&) override {}
  void MouseMove(POINT) override {}
  void Button(int, bool, int, POINT) override {}
  void Wheel(int, bool, POINT) override {}
  void Moved(plat::user::NativeWin, RECT) override {}
  void Focus(plat::user::NativeWin, bool) override {}
  void CloseRequested(plat::user::NativeWin w) override { Closed.push_back(w); }
  void Exposed(plat::user::NativeWin) override {}
};

TEST(HeadlessDisplay, QuitAfterClosesTheMainWindowOnce) {
  TManualClock clock(100);
  auto b = plat::user::CreateHeadlessBackend(250);
  TCloseSink sink;
  b->Pump(sink);  // no window yet
  auto main = b->Create({});
  b->Create({});
  clock.Advance(249);
  b->Pump(sink);
  EXPECT_TRUE(sink.Closed.empty());
  clock.Advance(1);
  b->Pump(sink);
  b->Pump(sink);
  EXPECT_EQ(sink.Closed, std::vector<plat::user::NativeWin>{main});
  auto never = plat::user::CreateHeadlessBackend(-1);
  never->Create({});
  clock.Advance(100000);
  TCloseSink other;
  never->Pump(other);
  EXPECT_TRUE(other.Closed.empty());
}

}  // namespace

namespace {

TEST(HeadlessDisplay, CapturedFramesArePngFilesWithAnIndex) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("zm_capture_" + std::to_string(plat::CurrentThreadId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  auto b = plat::user::CreateHeadlessBackend(-1, dir.string(), 2);
  auto w = b->Create({});
  const std::uint32_t px[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0x80FFFFFF};
  for (int i = 0; i < 3; ++i) b->Present(w, px, 2, 2, 2, RECT{0, 0, 2, 2});
  EXPECT_TRUE(fs::exists(dir / "000000.png"));
  EXPECT_TRUE(fs::exists(dir / "000001.png"));
  EXPECT_FALSE(fs::exists(dir / "000002.png"));  // the limit
  std::ifstream f(dir / "000000.png", std::ios::binary);
  char sig[8] = {};
  f.read(sig, 8);
  EXPECT_EQ(std::string(sig + 1, 3), "PNG");
  std::ifstream tsv(dir / "frames.tsv");
  std::string line;
  int lines = 0;
  while (std::getline(tsv, line)) {
    EXPECT_EQ(line.rfind(std::to_string(lines) + "\t", 0), 0u) << line;
    ++lines;
  }
  EXPECT_EQ(lines, 2);
  fs::remove_all(dir);
}

}  // namespace

namespace {

class PlatUserBadInput : public usertest::UserTest {};

TEST_F(PlatUserBadInput, BogusHandlesFailEveryCall) {
  HWND stale = Make();
  DestroyWindow(stale);
  const HWND bogus[] = {nullptr, stale, reinterpret_cast<HWND>(std::uintptr_t(1)),
                        reinterpret_cast<HWND>(~std::uintptr_t(0)), reinterpret_cast<HWND>(std::uintptr_t(0xFFFFFF))};
  for (HWND h : bogus) {
    RECT r;
    POINT p{};
    WINDOWPLACEMENT wp;
    PAINTSTRUCT ps;
    char16_t buf[8];
    TWindowPixels px;
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(IsWindowVisible(h));
    EXPECT_FALSE(ShowWindow(h, SW_SHOW));
    EXPECT_FALSE(SetWindowPos(h, nullptr, 0, 0, 1, 1, 0));
    EXPECT_FALSE(GetWindowRect(h, &r));
    EXPECT_FALSE(GetClientRect(h, &r));
    EXPECT_FALSE(ClientToScreen(h, &p));
    EXPECT_FALSE(GetWindowPlacement(h, &wp));
    EXPECT_FALSE(SetWindowPlacement(h, &wp));
    EXPECT_EQ(GetWindowLongPtrW(h, GWL_STYLE), 0);
    EXPECT_EQ(SetWindowLongPtrW(h, GWLP_WNDPROC, 0), 0);
    EXPECT_EQ(GetWindowTextW(h, buf, 8), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_FALSE(InvalidateRect(h, nullptr, 1));
    EXPECT_FALSE(UpdateWindow(h));
    EXPECT_EQ(BeginPaint(h, &ps), nullptr);
    EXPECT_FALSE(LockWindowPixels(h, px));
    EXPECT_FALSE(KillTimer(h, 1));
    EXPECT_EQ(SetCapture(h), nullptr);
    EXPECT_FALSE(EnableWindow(h, 0));
    EXPECT_EQ(DefWindowProcW(h, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(DispatchMessageW(nullptr), 0);
    EXPECT_EQ(MonitorFromWindow(h, MONITOR_DEFAULTTONULL), nullptr);
    if (h) {
      EXPECT_EQ(SetFocus(h), nullptr);
      EXPECT_FALSE(PostMessageW(h, WM_USER, 0, 0));
    }
  }
  MSG m{};
  m.hwnd = stale;
  m.message = WM_USER;
  EXPECT_EQ(DispatchMessageW(&m), 0);
  EXPECT_FALSE(UnhookWindowsHookEx(reinterpret_cast<HHOOK>(std::uintptr_t(8))));
  EXPECT_EQ(CallNextHookEx(nullptr, 0, 0, 0), 0);
  EXPECT_FALSE(RegisterClassW(nullptr));
  WNDCLASSW noName{};
  EXPECT_FALSE(RegisterClassW(&noName));
  EXPECT_EQ(RegisterWindowMessageW(u""), 0u);
  EXPECT_FALSE(GetMonitorInfoA(nullptr, nullptr));
  EXPECT_FALSE(SystemParametersInfoA(SPI_GETWORKAREA, 0, nullptr, 0));
  EXPECT_FALSE(PeekMessageW(nullptr, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(PlatUserBadInput, DestroyingFromItsOwnHandlerAndFromAnotherThread) {
  HWND h = Make();
  // A window destroyed while it handles a message stays safe to return from.
  TRecorder::Get().OnMessage = [](HWND w, UINT m, WPARAM, LPARAM, LRESULT& r) {
    if (m != WM_USER) return false;
    DestroyWindow(w);
    r = 5;
    return true;
  };
  EXPECT_EQ(SendMessageW(h, WM_USER, 0, 0), 5);
  EXPECT_FALSE(IsWindow(h));
  // Only the owner thread destroys a window.
  HWND g = Make();
  BOOL r = 1;
  std::thread([&] { r = DestroyWindow(g); }).join();
  EXPECT_FALSE(r);
  EXPECT_TRUE(IsWindow(g));
}

TEST_F(PlatUserBadInput, UiStateReachesEveryDescendant) {
  HWND top = Make();
  HWND child = Make(WS_CHILD, top, {0, 0, 10, 10});
  HWND grand = Make(WS_CHILD, child, {0, 0, 5, 5});
  SendMessageW(grand, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);  // goes up to the top-level
  EXPECT_EQ(TRecorder::Get().Of(WM_UPDATEUISTATE).size(), 3u);
  EXPECT_EQ(SendMessageW(child, WM_QUERYUISTATE, 0, 0), LRESULT(UISF_HIDEFOCUS));
  SendMessageW(top, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  EXPECT_EQ(SendMessageW(grand, WM_QUERYUISTATE, 0, 0), 0);
}

}  // namespace
