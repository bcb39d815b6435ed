#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatMessageBoxes.h"
#include "Platform/User/PlatDisplayEvents.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUserBackend.h"
#include "tests/Platform/User/UserTestSupport.h"
#include "tests/support/EnvGuard.h"

using namespace plat;
using usertest::TRecorder;

namespace {

class PlatUser : public usertest::UserTest {};

const HWND kBogus = reinterpret_cast<HWND>(std::uintptr_t(0x12345));

// The next queued message, taken off the queue; 0 when there is none.
UINT Next(UINT first = 0, UINT last = 0) {
  MSG m;
  return PeekMessageW(&m, nullptr, first, last, PM_REMOVE) ? m.message : 0;
}

// The one message msg recorded since the last Clear.
usertest::TRecord One(UINT msg) {
  auto r = TRecorder::Get().Of(msg);
  EXPECT_EQ(r.size(), 1u) << msg;
  return r.empty() ? usertest::TRecord{} : r[0];
}

// Handles message m of window w (any window when null) with result r.
void Answer(HWND w, UINT m, LRESULT r) {
  TRecorder::Get().OnMessage = [=](HWND h, UINT msg, WPARAM, LPARAM, LRESULT& res) {
    if (msg != m || (w && h != w)) return false;
    res = r;
    return true;
  };
}

TEST_F(PlatUser, CreateAndDestroyOrder) {
  auto& rec = TRecorder::Get();
  HWND top = Make();
  HWND child = Make(WS_CHILD | WS_VISIBLE, top, {0, 0, 50, 50});
  HWND owned = Make(WS_POPUP, top);
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
  // A new window in the same slot gets another handle.
  EXPECT_NE(Make(), top);
  EXPECT_FALSE(IsWindow(top));
}

TEST_F(PlatUser, ClassesAndFailedCreation) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &usertest::RecordingProc;
  wc.lpszClassName = u"REC";  // names ignore case
  EXPECT_EQ(RegisterClassW(&wc), 0);
  EXPECT_EQ(LastOSError(), ERROR_CLASS_ALREADY_EXISTS);
  HWND h = Make();
  EXPECT_FALSE(UnregisterClassW(u"Rec", nullptr));  // in use
  EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateWindowExW(0, u"Rec", u"", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  // WM_CREATE answering -1 fails the creation; the window is gone.
  Answer(nullptr, WM_CREATE, -1);
  EXPECT_EQ(CreateWindowExW(0, u"Rec", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_FALSE(IsWindow(TRecorder::Get().Of(WM_CREATE).back().Hwnd));
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
    if (m != WM_NCCREATE) return false;
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SwappedProc));
    r = 1;
    return true;
  };
  HWND h = Make();
  auto msgs = TRecorder::Get().Msgs(h);
  ASSERT_GE(msgs.size(), 2u);
  EXPECT_EQ(msgs[0], WM_NCCREATE);
  EXPECT_EQ(msgs[1], WM_CREATE + 0x10000);
}

TEST_F(PlatUser, WindowLongsTextStyleAndPosition) {
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
  // Text is cut to the buffer, terminated.
  EXPECT_TRUE(SetWindowTextW(h, u"Title"));
  char16_t buf[4];
  EXPECT_EQ(GetWindowTextW(h, buf, 4), 3);
  EXPECT_EQ(std::u16string(buf), u"Tit");
  // One WM_WINDOWPOSCHANGED per real change; topmost is the extended style.
  TRecorder::Get().Clear();
  SetWindowPos(h, nullptr, 10, 20, 30, 40, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(h, nullptr, 10, 20, 30, 40, SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(TRecorder::Get().Of(WM_WINDOWPOSCHANGED).size(), 1u);
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r, (RECT{10, 20, 40, 60}));
  SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_TRUE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
  SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_FALSE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
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
  EXPECT_EQ(Next(), UINT(WM_QUIT));
  EXPECT_EQ(Next(), 0u);
  // Posts to a window destroyed meanwhile are dropped.
  PostMessageW(h, WM_USER + 4, 0, 0);
  DestroyWindow(h);
  EXPECT_EQ(Next(), 0u);
  EXPECT_EQ(GetMessageW(&m, kBogus, 0, 0), -1);
}

TEST_F(PlatUser, TimersWithManualClock) {
  TManualClock clock(1000);
  HWND h = Make();
  Pump();
  UINT_PTR id = reinterpret_cast<UINT_PTR>(&clock);  // pointer ids round-trip
  EXPECT_EQ(SetTimer(h, id, 100, nullptr), id);
  clock.Advance(99);
  EXPECT_EQ(Next(), 0u);
  // A late timer yields one message, re-armed from now.
  clock.Advance(1000);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, id);
  EXPECT_EQ(Next(), 0u);
  // Killing a due timer drops its message.
  clock.Advance(100);
  EXPECT_TRUE(KillTimer(h, id));
  EXPECT_EQ(Next(), 0u);
  // Timers die with their window.
  SetTimer(h, 8, 10, nullptr);
  DestroyWindow(h);
  clock.Advance(20);
  EXPECT_EQ(Next(), 0u);
}

TEST_F(PlatUser, PaintComesAfterPostedMessages) {
  HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  auto& rec = TRecorder::Get();
  Pump();  // the first paint
  EXPECT_FALSE(rec.Of(WM_PAINT).empty());
  InvalidateRect(h, nullptr, 0);
  PostMessageW(h, WM_USER, 0, 0);
  EXPECT_EQ(Next(), UINT(WM_USER));
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_PAINT);
  DispatchMessageW(&m);  // DefWindowProcW validates
  EXPECT_EQ(Next(), 0u);
  // Erasing only when asked; UpdateWindow paints at once.
  rec.Clear();
  InvalidateRect(h, nullptr, 0);
  UpdateWindow(h);
  InvalidateRect(h, nullptr, 1);
  UpdateWindow(h);
  EXPECT_EQ(rec.Msgs(h, {WM_PAINT, WM_ERASEBKGND}), (std::vector<UINT>{WM_PAINT, WM_PAINT, WM_ERASEBKGND}));
  // Hidden windows get no WM_PAINT.
  ShowWindow(h, SW_HIDE);
  InvalidateRect(h, nullptr, 1);
  EXPECT_EQ(Next(WM_PAINT, WM_PAINT), 0u);
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
  ASSERT_EQ(keys, (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYDOWN, WM_SYSKEYUP,
                                     WM_SYSKEYUP, WM_CHAR}));
  EXPECT_EQ((rec.Of(WM_KEYDOWN)[0].L >> 30) & 1, 0);     // first press
  EXPECT_EQ((rec.Of(WM_KEYDOWN)[1].L >> 30) & 1, 1);     // repeat
  EXPECT_EQ((rec.Of(WM_SYSKEYDOWN)[1].L >> 29) & 1, 1);  // X with Alt held
  EXPECT_EQ(rec.Of(WM_KEYUP)[0].L & (LPARAM(1) << 31), LPARAM(1) << 31);
  EXPECT_EQ(rec.Of(WM_CHAR)[0].W, WPARAM(u'é'));
  // Without focus the active window gets the WM_SYS variants.
  SetFocus(nullptr);
  rec.Clear();
  headless::Key(VK_F1, true);
  Pump();
  EXPECT_EQ(rec.Msgs(h, {WM_KEYDOWN, WM_SYSKEYDOWN}), (std::vector<UINT>{WM_SYSKEYDOWN}));
}

TEST_F(PlatUser, MouseRoutingCaptureAndDoubleClicks) {
  HWND top = Make(WS_POPUP | WS_VISIBLE, nullptr, {100, 100, 300, 300});
  HWND child = Make(WS_CHILD | WS_VISIBLE, top, {10, 10, 60, 60});
  Pump();
  auto& rec = TRecorder::Get();
  rec.Clear();
  headless::Click(1, {120, 130});
  Pump();
  EXPECT_EQ(One(WM_LBUTTONDOWN).Hwnd, child);
  EXPECT_EQ(One(WM_LBUTTONDOWN).L, MAKELPARAM(10, 20));  // client coordinates of the child
  // A second press at the same place is a double click (the class asks for them).
  rec.Clear();
  headless::Press(1);
  headless::Release(1);
  Pump();
  EXPECT_EQ(rec.Msgs(child, {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONUP}),
            (std::vector<UINT>{WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
  // A transparent child passes the point to its parent.
  Answer(child, WM_NCHITTEST, HTTRANSPARENT);
  rec.Clear();
  headless::Click(2, {125, 125});
  Pump();
  EXPECT_EQ(One(WM_RBUTTONDOWN).Hwnd, top);
  rec.OnMessage = nullptr;
  // Capture: messages keep coming outside every window; losing it is told.
  SetCapture(child);
  rec.Clear();
  headless::MoveMouse({900, 900});
  Pump();
  EXPECT_EQ(One(WM_MOUSEMOVE).Hwnd, child);
  EXPECT_EQ(GET_X_LPARAM(One(WM_MOUSEMOVE).L), 900 - 110);
  SetCapture(top);
  EXPECT_EQ(rec.Msgs(child, {WM_CAPTURECHANGED}).size(), 1u);
  // The wheel goes to the focus with the point in screen coordinates.
  SetFocus(child);
  rec.Clear();
  headless::Wheel(-120, {150, 160});
  Pump();
  auto wheel = rec.Of(WM_MOUSEWHEEL);
  ASSERT_FALSE(wheel.empty());
  EXPECT_EQ(wheel[0].Hwnd, child);
  EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel[0].W), -120);
  EXPECT_EQ(GET_X_LPARAM(wheel[0].L), 150);
}

// The headless display says as the real one does when the pointer leaves a
// top-level: once, to the top-level (not a child under the pointer), also
// when it goes straight into another window, and also under a capture.
TEST_F(PlatUser, PointerLeavingATopLevelIsTold) {
  HWND a = Make(WS_POPUP | WS_VISIBLE, nullptr, {100, 100, 300, 300});
  HWND child = Make(WS_CHILD | WS_VISIBLE, a, {10, 10, 60, 60});
  HWND b = Make(WS_POPUP | WS_VISIBLE, nullptr, {400, 100, 500, 200});
  Pump();
  auto& rec = TRecorder::Get();
  const auto leaves = [&](HWND h) { return rec.Msgs(h, {WM_MOUSELEAVE}).size(); };
  rec.Clear();
  headless::MoveMouse({115, 115});
  headless::MoveMouse({250, 250});
  Pump();
  EXPECT_EQ(rec.Of(WM_MOUSELEAVE).size(), 0u);
  headless::MoveMouse({450, 150});
  Pump();
  EXPECT_EQ(leaves(a), 1u);
  EXPECT_EQ(leaves(child), 0u);
  EXPECT_EQ(leaves(b), 0u);
  headless::MoveMouse({900, 900});
  headless::MoveMouse({950, 950});
  Pump();
  EXPECT_EQ(leaves(a), 1u);
  EXPECT_EQ(leaves(b), 1u);
  SetCapture(child);
  rec.Clear();
  headless::MoveMouse({120, 120});
  headless::MoveMouse({900, 900});
  Pump();
  EXPECT_EQ(leaves(a), 1u);
  EXPECT_EQ(rec.Msgs(child, {WM_MOUSEMOVE}).size(), 2u);
  ReleaseCapture();
}

TEST_F(PlatUser, HeadlessMessageBoxes) {
  // Headless boxes print one line and answer the default button.
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"Line one\r\nLine two", u"Slideshow Error", MB_ICONWARNING), IDOK);
  EXPECT_EQ(MessageBoxW(nullptr, u"Sure?", u"Q", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Slideshow Error: Line one  Line two\n"), std::string::npos);
}

TEST_F(PlatUser, MessageTextKeepsItsLineEndsAndWraps) {
  // Every character 10 px wide: at most 12 characters to a line.
  auto width = [](const std::u16string& s) { return int(s.size()) * 10; };
  using Lines = std::vector<std::u16string>;
  EXPECT_EQ(user::WrapMessageText(u"Can`t Load Show\r\"/a/b\"", 120, width),
            (Lines{u"Can`t Load", u"Show", u"\"/a/b\""}));
  EXPECT_EQ(user::WrapMessageText(u"one\r\ntwo\nthree\r\rfour", 120, width),
            (Lines{u"one", u"two", u"three", u"", u"four"}));
  // A path longer than a line breaks after a folder, else where it must.
  EXPECT_EQ(user::WrapMessageText(u"x \"/tmp/folder/show.orushow\"", 120, width),
            (Lines{u"x", u"\"/tmp/", u"folder/", u"show.orushow", u"\""}));
  EXPECT_EQ(user::WrapMessageText(u"abcdefghijklmnopqrstuvwxyz", 120, width),
            (Lines{u"abcdefghijkl", u"mnopqrstuvwx", u"yz"}));
  EXPECT_EQ(user::WrapMessageText(u"", 120, width), (Lines{u""}));
  // Nothing fits: one character a line, never an endless loop.
  EXPECT_EQ(user::WrapMessageText(u"abc", 0, width), (Lines{u"a", u"b", u"c"}));
  // Surrogate pairs stay whole.
  EXPECT_EQ(user::WrapMessageText(u"a\U0001F600b", 20, width), (Lines{u"a", u"\U0001F600", u"b"}));
}

// A terminating signal (here asked for directly) closes each visible,
// enabled top-level once, as its user would; one held back by a modal box
// is asked when the box has gone. Message boxes answer their default.
TEST_F(PlatUser, TerminationAsksEachTopLevelToCloseOnce) {
  auto& rec = TRecorder::Get();
  HWND main = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  HWND child = Make(WS_CHILD | WS_VISIBLE, main, {0, 0, 50, 50});
  HWND waiting = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  HWND hidden = Make(WS_OVERLAPPEDWINDOW);
  EnableWindow(waiting, 0);
  Answer(nullptr, WM_CLOSE, 0);  // the windows stay: only the asking counts
  rec.Clear();
  RequestTermination();
  EXPECT_TRUE(TerminationRequested());
  Pump();
  Pump();
  auto closes = [&](HWND h) {
    int n = 0;
    for (auto& r : rec.Of(WM_SYSCOMMAND)) n += r.Hwnd == h && (r.W & 0xFFF0) == SC_CLOSE;
    return n;
  };
  EXPECT_EQ(closes(main), 1);
  EXPECT_EQ(closes(child), 0);
  EXPECT_EQ(closes(waiting), 0);
  EXPECT_EQ(closes(hidden), 0);
  EnableWindow(waiting, 1);
  Pump();
  EXPECT_EQ(closes(waiting), 1);
  EXPECT_EQ(closes(main), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(main, u"Save?", u"Q", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Q: Save?\n"), std::string::npos);
  headless::ResetTerminationForTests();
  EXPECT_FALSE(TerminationRequested());
}

// A terminating signal that finds nothing on screen (a show whose window has
// not come yet, or never will) ends the UI thread's message loop at once,
// once; so does a run time limit that passes without a window.
TEST_F(PlatUser, TerminationWithNothingOnScreenEndsTheMessageLoop) {
  Make(WS_OVERLAPPEDWINDOW);  // hidden, as the main form until its first frame
  RequestTermination();
  MSG m;
  UINT got = 0;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE) && (got = m.message) != WM_QUIT) DispatchMessageW(&m);
  EXPECT_EQ(got, UINT(WM_QUIT));
  EXPECT_EQ(m.wParam, 0u);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  headless::ResetTerminationForTests();

  auto late = user::CreateHeadlessBackend(3600000);
  late->Pump(user::InputSink());
  EXPECT_FALSE(TerminationRequested());
  auto due = user::CreateHeadlessBackend(0);
  due->Pump(user::InputSink());
  EXPECT_TRUE(TerminationRequested());
  headless::ResetTerminationForTests();
}

// A burst of terminating signals (two from timeout(1), one more from a
// service manager signalling the group) asks for one orderly close and ends
// nothing; only a signal that comes once the close has had its grace ends
// the process at once, as without a handler. In children of their own: the
// handlers stay for a process's life.
TEST(PlatTerminationSignals, ABurstAsksOnceAndOnlyALateSignalEndsTheProcess) {
  EXPECT_EXIT(
      {
        if (!InstallTerminationSignals()) std::_Exit(2);
        raise(SIGTERM);
        raise(SIGTERM);
        raise(SIGHUP);
        std::_Exit(TerminationRequested() ? 7 : 3);
      },
      testing::ExitedWithCode(7), "");
  EXPECT_EXIT(
      {
        if (!InstallTerminationSignals()) std::_Exit(2);
        headless::SetTerminationGraceForTests(0);
        raise(SIGTERM);
        raise(SIGINT);
        std::_Exit(3);
      },
      testing::KilledBySignal(SIGINT), "");
}

TEST_F(PlatUser, BogusHandlesFailEveryCall) {
  HWND stale = Make();
  DestroyWindow(stale);
  for (HWND h : {stale, reinterpret_cast<HWND>(~std::uintptr_t(0)), kBogus}) {
    WINDOWPLACEMENT wp{};
    PAINTSTRUCT ps;
    char16_t buf[8] = {u'x'};
    TWindowPixels px;
    EXPECT_FALSE(SetWindowPos(h, nullptr, 0, 0, 1, 1, 0));
    EXPECT_FALSE(SetWindowPlacement(h, &wp));
    EXPECT_EQ(SetWindowLongPtrW(h, GWLP_WNDPROC, 0), 0);
    EXPECT_EQ(GetWindowTextW(h, buf, 8), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(BeginPaint(h, &ps), nullptr);
    EXPECT_FALSE(LockWindowPixels(h, px));
    EXPECT_EQ(SetCapture(h), nullptr);
    EXPECT_FALSE(DestroyWindow(h));
    EXPECT_EQ(DefWindowProcW(h, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(PostMessageW(h, WM_USER, 0, 0));
    EXPECT_EQ(SendMessageW(h, WM_USER, 0, 0), 0);
    EXPECT_EQ(SetTimer(h, 1, 10, nullptr), 0u);
  }
  EXPECT_FALSE(DestroyWindow(nullptr));
  MSG m{stale, WM_USER, 0, 0, 0, {}};
  EXPECT_EQ(DispatchMessageW(&m), 0);
  EXPECT_FALSE(PeekMessageW(nullptr, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(SetWindowsHookExA(4, +[](int, WPARAM, LPARAM) -> LRESULT { return 0; }, nullptr, 0), nullptr);
  EXPECT_FALSE(UnhookWindowsHookEx(reinterpret_cast<HHOOK>(std::uintptr_t(8))));
  WNDCLASSW noName{};
  EXPECT_FALSE(RegisterClassW(&noName));
  MONITORINFOEXA mi;
  EXPECT_FALSE(GetMonitorInfoA(reinterpret_cast<HMONITOR>(std::uintptr_t(9)), &mi));
  EXPECT_EQ(MonitorFromPoint({-500, 10}, MONITOR_DEFAULTTONULL), nullptr);
  EXPECT_FALSE(SystemParametersInfoA(SPI_GETWORKAREA, 0, nullptr, 0));
}

TEST_F(PlatUser, DestroyingFromItsOwnHandlerAndFromAnotherThread) {
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

}  // namespace

namespace {

// ZM_SCREEN_SIZE sizes the headless screen; monitors a test sets win, and a
// value that is not <width>x<height> within the frame buffer's bounds leaves
// 1920 x 1080.
TEST_F(PlatUser, HeadlessScreenTakesItsSizeFromTheEnvironment) {
  {
    zmtest::TEnvGuard env("ZM_SCREEN_SIZE", "3840x2160");
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 3840);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 2160);
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(work.right, 3840);
    EXPECT_EQ(work.bottom, 2120);
    headless::SetMonitors({{RECT{0, 0, 800, 600}, RECT{0, 0, 800, 560}, true}});
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    headless::SetMonitors({});
  }
  for (const char* bad : {"3840", "3840x", "x2160", "0x100", "100x-5", "9000x100", "3840x2160p", "big"}) {
    zmtest::TEnvGuard env("ZM_SCREEN_SIZE", bad);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920) << bad;
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080) << bad;
  }
}

}  // namespace

namespace {

// An idle UI thread is woken only for what needs it: a headless run that
// ends by itself looks again at its quit time, a capture every 100 ms, any
// other run waits for its events.
TEST_F(PlatUser, HeadlessBackEndLooksAgainOnlyWhenItsRunMayEnd) {
  plat::TManualClock clock(1000);
  {
    zmtest::TEnvGuard env("ZM_CAPTURE_DIR", nullptr);
    auto forever = user::CreateHeadlessBackend(-1);
    EXPECT_EQ(forever->IdleWaitMs(), user::TBackend::kUntilWoken);
    auto quits = user::CreateHeadlessBackend(5000);
    EXPECT_EQ(quits->IdleWaitMs(), 5000u);
    clock.Advance(4990);
    EXPECT_EQ(quits->IdleWaitMs(), 10u);
    clock.Advance(100);
    EXPECT_EQ(quits->IdleWaitMs(), 1u);  // due: looks at once
  }
  zmtest::TEnvGuard env("ZM_CAPTURE_DIR", "/nonexistent-capture");
  EXPECT_EQ(user::CreateHeadlessBackend(-1)->IdleWaitMs(), 100u);
}

}  // namespace
