// The SDL display for real: run under a virtual X server with ZM_DISPLAY=sdl.
#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUser.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;

namespace {

std::vector<MSG> gSeen;

LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  gSeen.push_back({h, m, w, l, 0, {}});
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(h, &ps);
    TWindowPixels px;
    if (LockWindowPixels(h, px)) {
      for (int y = 0; y < px.Height; ++y)
        for (int x = 0; x < px.Width; ++x) px.Bits[y * px.Stride + x] = GetParent(h) ? 0xFF00FF00 : 0xFF2060C0;
      UnlockWindowPixels(h, nullptr);
    }
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

const MSG* Seen(HWND h, UINT m) {
  for (auto& s : gSeen)
    if (s.hwnd == h && s.message == m) return &s;
  return nullptr;
}

TEST(SdlDisplay, WindowShownPaintedClickedDestroyed) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl") << "no display server: run under xvfb-run";
  WNDCLASSW wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = u"SdlTest";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND h = CreateWindowExW(0, u"SdlTest", u"Xvfb check", WS_OVERLAPPEDWINDOW, 50, 50, 320, 240, nullptr, nullptr,
                           ModuleInstance(), nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(NativeWindowCount(), 0);  // hidden windows have no native window
  ShowWindow(h, SW_SHOW);
  EXPECT_EQ(NativeWindowCount(), 1);
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return Seen(h, WM_PAINT) != nullptr; }));
  std::uint32_t px = 0;
  ASSERT_TRUE(ReadNativePixel(h, {10, 10}, px));
  EXPECT_EQ(px, 0xFF2060C0u);
  // A child paints into its top-level's frame.
  HWND child =
      CreateWindowExW(0, u"SdlTest", u"", WS_CHILD | WS_VISIBLE, 100, 100, 20, 20, h, nullptr, nullptr, nullptr);
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return Seen(child, WM_PAINT) != nullptr; }));
  ASSERT_TRUE(ReadNativePixel(h, {119, 119}, px));
  EXPECT_EQ(px, 0xFF00FF00u);
  ASSERT_TRUE(ReadNativePixel(h, {120, 120}, px));
  EXPECT_EQ(px, 0xFF2060C0u);
  // A click through SDL's own event queue arrives as button messages.
  ASSERT_TRUE(InjectNativeClick(h, {30, 40}, 1));
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return Seen(h, WM_LBUTTONUP) != nullptr; }));
  const MSG* down = Seen(h, WM_LBUTTONDOWN);
  ASSERT_NE(down, nullptr);
  EXPECT_EQ(down->lParam, MAKELPARAM(30, 40));
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_TRUE(Seen(h, WM_NCDESTROY));
  EXPECT_EQ(NativeWindowCount(), 0);
  EXPECT_TRUE(UnregisterClassW(u"SdlTest", nullptr));
  ShutdownWindowSystem();
}

// The display's pointer goes out of a window in one move (no move is
// reported outside): the window is told it left, after the pointer's last
// move there; GetCursorPos says where it went.
TEST(SdlDisplay, PointerThatLeavesInOneMoveIsSaidToLeave) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl");
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = u"SdlLeave";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND h = CreateWindowExW(0, u"SdlLeave", u"Leave", WS_POPUP | WS_VISIBLE, 100, 100, 300, 200, nullptr, nullptr,
                           ModuleInstance(), nullptr);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return Seen(h, WM_PAINT) != nullptr; }));
  POINT in{150, 100};
  ClientToScreen(h, &in);
  ASSERT_TRUE(MoveNativePointer(in));
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return Seen(h, WM_MOUSEMOVE) != nullptr; }));
  EXPECT_EQ(Seen(h, WM_MOUSEMOVE)->lParam, MAKELPARAM(150, 100));
  EXPECT_EQ(Seen(h, WM_MOUSELEAVE), nullptr);
  gSeen.clear();
  ASSERT_TRUE(MoveNativePointer({1000, 900}));
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return Seen(h, WM_MOUSELEAVE) != nullptr; }))
      << "the window was never told the pointer left";
  const auto leave = std::find_if(gSeen.begin(), gSeen.end(), [&](const MSG& m) { return m.message == WM_MOUSELEAVE; });
  EXPECT_EQ(std::count_if(leave, gSeen.end(), [&](const MSG& m) { return m.message == WM_MOUSEMOVE; }), 0);
  POINT at{};
  ASSERT_TRUE(GetCursorPos(&at));
  EXPECT_EQ(at.x, 1000);
  EXPECT_EQ(at.y, 900);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_TRUE(UnregisterClassW(u"SdlLeave", nullptr));
  ShutdownWindowSystem();
}

TEST(SdlDisplay, CaptionBordersTopmostAndCursorReachTheRealWindow) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl");
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = u"SdlForm";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND h = CreateWindowExW(WS_EX_TOPMOST, u"SdlForm", u"First", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 200, 150,
                           nullptr, nullptr, ModuleInstance(), nullptr);
  ASSERT_NE(h, nullptr);
  TNativeWindowState st;
  ASSERT_TRUE(ReadNativeWindowState(h, st));
  EXPECT_EQ(st.Title, u"First");
  EXPECT_TRUE(st.Bordered);
  EXPECT_TRUE(st.Resizable);
  EXPECT_TRUE(st.Topmost);
  // Changes after the window exists.
  SetWindowTextW(h, u"Zweiter Titel \u00e9");
  SetWindowLongW(h, GWL_STYLE, LONG(WS_POPUP | WS_VISIBLE));
  SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED | SWP_NOACTIVATE);
  ASSERT_TRUE(ReadNativeWindowState(h, st));
  EXPECT_EQ(st.Title, u"Zweiter Titel \u00e9");
  EXPECT_FALSE(st.Bordered);
  EXPECT_FALSE(st.Resizable);
  EXPECT_FALSE(st.Topmost);
  // Cursors: standard ones map to system cursors, null hides, made ones show.
  bool visible = false;
  std::uintptr_t id = 0;
  SetCursor(LoadCursorW(nullptr, IDC_IBEAM));
  ASSERT_TRUE(ReadNativeCursor(visible, id));
  EXPECT_TRUE(visible);
  EXPECT_EQ(id, IDC_IBEAM);
  SetCursor(nullptr);
  ASSERT_TRUE(ReadNativeCursor(visible, id));
  EXPECT_FALSE(visible);
  BITMAPINFO info = usertest::Dib32Info(8, 8);
  void* bits = nullptr;
  HBITMAP bm = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::fill_n(static_cast<std::uint32_t*>(bits), 64, 0xFFFF0000u);
  ICONINFO ii;
  ii.xHotspot = ii.yHotspot = 4;
  ii.hbmColor = ii.hbmMask = bm;
  HCURSOR made = CreateIconIndirect(&ii);
  ASSERT_NE(made, nullptr);
  SetCursor(made);
  ASSERT_TRUE(ReadNativeCursor(visible, id));
  EXPECT_TRUE(visible);
  EXPECT_EQ(id, 0u);
  EXPECT_TRUE(DestroyCursor(made));  // shown: the arrow comes back
  ASSERT_TRUE(ReadNativeCursor(visible, id));
  EXPECT_EQ(id, IDC_ARROW);
  DeleteObject(reinterpret_cast<HGDIOBJ>(bm));
  SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
  ASSERT_TRUE(ReadNativeCursor(visible, id));
  EXPECT_TRUE(visible);
  EXPECT_EQ(id, IDC_SIZEWE);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(ReadNativeWindowState(h, st));
  EXPECT_TRUE(UnregisterClassW(u"SdlForm", nullptr));
  ShutdownWindowSystem();
}

// What a timer saw of the open box before it asked the program to end.
struct TBoxSeen {
  RECT Rect{};
  std::vector<std::u16string> Lines;
  bool Found = false;
};
TBoxSeen gBox;
const char16_t* gBoxTitle = u"Question";

void LookAtTheBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowExW(nullptr, nullptr, nullptr, gBoxTitle);
  if (!box || !IsWindowVisible(box)) return;
  KillTimer(nullptr, id);
  gBox.Found = true;
  GetWindowRect(box, &gBox.Rect);
  for (HWND c = FindWindowExW(box, nullptr, u"STATIC", nullptr); c; c = FindWindowExW(box, c, u"STATIC", nullptr)) {
    char16_t text[512] = {};
    GetWindowTextW(c, text, 512);
    gBox.Lines.push_back(text);
  }
  // As SIGTERM does: the box ends with its default answer.
  RequestTermination();
}

TEST(SdlDisplay, MessageBoxWrapsItsLinesAndEndsOnTermination) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl");
  std::u16string text = u"First line of a question";
  for (int i = 0; i < 40; ++i) text += u" word";
  text += u"\r\"/a/path/after/a/line/break\"";
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, &LookAtTheBox);
  ASSERT_NE(timer, 0u);
  EXPECT_EQ(MessageBoxW(nullptr, text.c_str(), u"Question", MB_YESNO | MB_DEFBUTTON2), IDNO);
  headless::ResetTerminationForTests();
  ASSERT_TRUE(gBox.Found);
  ASSERT_GE(gBox.Lines.size(), 3u);
  EXPECT_EQ(gBox.Lines.front().rfind(u"First line", 0), 0u);
  EXPECT_EQ(gBox.Lines.back(), u"\"/a/path/after/a/line/break\"");
  const int screen = GetSystemMetrics(SM_CXSCREEN);
  EXPECT_LE((gBox.Rect.right - gBox.Rect.left) * 3, screen * 2);
  EXPECT_GE(gBox.Rect.left, 0);
  EXPECT_LE(gBox.Rect.right, screen);
  // Gone with its answer.
  EXPECT_EQ(FindWindowExW(nullptr, nullptr, nullptr, u"Question"), nullptr);
  ShutdownWindowSystem();
}

// The error box, its sign beside the text, keeps to two thirds of the
// screen with its frame, whatever its text: a path of many long folders
// breaks after a folder, a name longer than a line where it must.
TEST(SdlDisplay, ErrorBoxOfALongPathKeepsToTwoThirdsOfTheScreen) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl");
  std::u16string path = u"/home/someone";
  for (int i = 1; i <= 12; ++i) path += u"/a-rather-long-folder-name-" + FromUtf8(std::to_string(i));
  path += u"/" + std::u16string(300, u'w') + u"/show.bin";
  const std::u16string text = u"Can`t Load Show\r\"" + path + u"\" not found";
  gBox = TBoxSeen{};
  gBoxTitle = u"Slideshow Error";
  ASSERT_NE(SetTimer(nullptr, 0, 20, &LookAtTheBox), 0u);
  EXPECT_EQ(MessageBoxW(nullptr, text.c_str(), u"Slideshow Error", MB_ICONEXCLAMATION), IDOK);
  headless::ResetTerminationForTests();
  gBoxTitle = u"Question";
  ASSERT_TRUE(gBox.Found);
  const int screen = GetSystemMetrics(SM_CXSCREEN);
  EXPECT_LE((gBox.Rect.right - gBox.Rect.left) * 3, screen * 2) << "box " << gBox.Rect.right - gBox.Rect.left
                                                               << " px wide on a " << screen << " px screen";
  // Every character is there, in order, broken into lines (a blank where
  // a line breaks goes).
  const auto unblanked = [](std::u16string s) {
    s.erase(std::remove(s.begin(), s.end(), u' '), s.end());
    return s;
  };
  std::u16string joined;
  for (const auto& l : gBox.Lines)
    if (l.rfind(u"#", 0) != 0) joined += l;  // not the sign
  EXPECT_EQ(unblanked(joined), unblanked(u"Can`t Load Show\"" + path + u"\" not found"));
  EXPECT_GE(gBox.Lines.size(), 4u);
  ShutdownWindowSystem();
}

// What a timer saw of a box over its owner: the native facts a window
// manager reads, once the box had the display's keyboard.
struct TOwnedBoxSeen {
  HWND Owner = nullptr;
  TNativeWindowState Box, OwnerState;
  int Ticks = 0;
  bool Focused = false;
};
TOwnedBoxSeen gOwned;

void LookAtTheOwnedBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowExW(nullptr, nullptr, nullptr, u"Owned");
  ++gOwned.Ticks;
  TNativeWindowState st;
  const bool ready = box && ReadNativeWindowState(box, st) && st.Focused;
  if (!ready && gOwned.Ticks < 250) return;
  KillTimer(nullptr, id);
  gOwned.Focused = ready;
  gOwned.Box = st;
  ReadNativeWindowState(gOwned.Owner, gOwned.OwnerState);
  RequestTermination();
}

// Without a window manager: a box opens with the display's keyboard, as a
// dialog transient for its owner's window (so that a manager keeps it
// above, also over a full-screen show); the owner has the keyboard back
// when the box is gone.
TEST(SdlDisplay, BoxIsADialogOverItsOwnerAndGivesTheKeyboardBack) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl");
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = u"SdlOwner";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND owner = CreateWindowExW(0, u"SdlOwner", u"Owner", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                               ModuleInstance(), nullptr);
  ASSERT_NE(owner, nullptr);
  TNativeWindowState st;
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return ReadNativeWindowState(owner, st) && st.Focused; }));
  EXPECT_FALSE(st.DialogType);
  gOwned = TOwnedBoxSeen{};
  gOwned.Owner = owner;
  ASSERT_NE(SetTimer(nullptr, 0, 20, &LookAtTheOwnedBox), 0u);
  EXPECT_EQ(MessageBoxW(owner, u"Over the owner", u"Owned", MB_OKCANCEL), IDOK);
  headless::ResetTerminationForTests();
  EXPECT_TRUE(gOwned.Focused) << "the box never had the keyboard";
  EXPECT_TRUE(gOwned.Box.DialogType);
  EXPECT_NE(gOwned.OwnerState.NativeId, 0u);
  EXPECT_EQ(gOwned.Box.TransientFor, gOwned.OwnerState.NativeId);
  EXPECT_FALSE(gOwned.OwnerState.Focused);
  EXPECT_TRUE(usertest::PumpMessagesUntil([&] { return ReadNativeWindowState(owner, st) && st.Focused; }))
      << "the owner did not get the keyboard back";
  EXPECT_EQ(GetActiveWindow(), owner);
  EXPECT_TRUE(DestroyWindow(owner));
  EXPECT_TRUE(UnregisterClassW(u"SdlOwner", nullptr));
  ShutdownWindowSystem();
}

}  // namespace

namespace {

// Whether the tests run under a window manager (the openbox run sets it).
bool UnderAWindowManager() {
  std::string wm;
  return GetEnv("ZM_TEST_WM", wm) && !wm.empty();
}

HWND MakeShowWindow(const char16_t* cls, const char16_t* title) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = cls;
  RegisterClassW(&wc);
  return CreateWindowExW(0, cls, title, WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr, ModuleInstance(),
                         nullptr);
}

// What a timer saw of an open box once it had the display's keyboard (and,
// under a window manager, the manager's offer); then it answers the box.
struct TLooseBoxSeen {
  const char16_t* Title = u"";
  TNativeWindowState Box;
  bool Ready = false;
  int Ticks = 0;
  std::uint32_t Sign = 0, Mark = 0;  // pixels of the warning sign
};
TLooseBoxSeen gLoose;

void LookAtTheLooseBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowExW(nullptr, nullptr, nullptr, gLoose.Title);
  ++gLoose.Ticks;
  TNativeWindowState st;
  std::uint32_t sign = 0, mark = 0;
  // The sign's yellow inside the triangle, the black of its "!".
  const bool painted = box && ReadNativePixel(box, {22, 36}, sign) && ReadNativePixel(box, {27, 30}, mark);
  const bool ready = box && ReadNativeWindowState(box, st) && st.KeyboardFocus &&
                     (!UnderAWindowManager() || st.Movable) && painted && (sign & 0xFFFFFF) != 0;
  if (!ready && gLoose.Ticks < 250) return;
  KillTimer(nullptr, id);
  gLoose.Ready = ready;
  gLoose.Box = st;
  gLoose.Sign = sign;
  gLoose.Mark = mark;
  if (box) EndDialog(box, IDOK);
}

// A box opened with no owner (a refused command line) belongs to the window
// the user works in: a dialog transient for it that takes the keyboard,
// asks to be moved and closed only, and gives the keyboard back to it when
// it closes, with or without a window manager. The error box shows its sign.
TEST(SdlDisplay, OwnerlessBoxBelongsToTheActiveWindowAndGivesTheKeyboardBack) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl");
  HWND show = MakeShowWindow(u"SdlLooseOwner", u"Show");
  ASSERT_NE(show, nullptr);
  TNativeWindowState st;
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return ReadNativeWindowState(show, st) && st.KeyboardFocus; }));
  const std::uintptr_t showId = st.NativeId;
  for (UINT type : {UINT(MB_OK), UINT(MB_ICONEXCLAMATION)}) {
    SCOPED_TRACE(type);
    gLoose = TLooseBoxSeen{};
    gLoose.Title = type == MB_OK ? u"Refused" : u"Slideshow Error";
    ASSERT_NE(SetTimer(nullptr, 0, 20, &LookAtTheLooseBox), 0u);
    EXPECT_EQ(MessageBoxW(nullptr, u"Command line contains prohibited command and will not be performed.", gLoose.Title,
                          type),
              IDOK);
    EXPECT_TRUE(gLoose.Box.DialogType);
    EXPECT_EQ(gLoose.Box.TransientFor, showId);
    // Move and close only; openbox offers to minimise every dialog all the
    // same (the player undoes it over a full screen, Desktop.sh).
    EXPECT_EQ(gLoose.Box.MotifFunctions, 4 | 32);
    EXPECT_FALSE(gLoose.Box.Maximizable);
    if (type == MB_ICONEXCLAMATION) {
      EXPECT_TRUE(gLoose.Ready) << "the box never had the keyboard, or no sign";
      EXPECT_EQ(gLoose.Sign, 0xFFFFD700u);
      EXPECT_EQ(gLoose.Mark, 0xFF000000u);
    } else {
      EXPECT_TRUE(gLoose.Box.KeyboardFocus) << "the box never had the keyboard";
    }
    EXPECT_TRUE(usertest::PumpMessagesUntil([&] { return ReadNativeWindowState(show, st) && st.KeyboardFocus; }))
        << "the keyboard did not come back";
    EXPECT_EQ(GetActiveWindow(), show);
  }
  EXPECT_TRUE(DestroyWindow(show));
  UnregisterClassW(u"SdlLooseOwner", nullptr);
  ShutdownWindowSystem();
}

// What a timer saw of a box's client area; then it answers the box.
struct TTitledBoxSeen {
  const char16_t* Title = u"";
  RECT Client{};
  bool Found = false;
  int Ticks = 0;
};
TTitledBoxSeen gTitled;

void LookAtTheTitledBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowExW(nullptr, nullptr, nullptr, gTitled.Title);
  if (!box && ++gTitled.Ticks < 250) return;
  KillTimer(nullptr, id);
  gTitled.Found = box && GetClientRect(box, &gTitled.Client);
  if (box) EndDialog(box, IDOK);
}

// A title's width in the caption font.
int TitleWidth(const std::u16string& title) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return 0;
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(font));
  SIZE size{};
  GetTextExtentPoint32W(dc, title.c_str(), int(title.size()), &size);
  SelectObject(dc, old);
  DeleteObject(reinterpret_cast<HGDIOBJ>(font));
  ReleaseDC(nullptr, dc);
  return size.cx;
}

// A box is as wide as its title, which the window manager writes beside
// its buttons (the menu, minimise, close): the error box of a failed save,
// whose text is short, and a title far longer than its text.
TEST(SdlDisplay, BoxIsAsWideAsItsTitle) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl");
  for (const char16_t* title : {u"Slideshow Error", u"A title far longer than the one short line below it"}) {
    SCOPED_TRACE(ToUtf8(title));
    gTitled = TTitledBoxSeen{};
    gTitled.Title = title;
    ASSERT_NE(SetTimer(nullptr, 0, 20, &LookAtTheTitledBox), 0u);
    EXPECT_EQ(MessageBoxW(nullptr, u"Not saved.", title, MB_ICONEXCLAMATION), IDOK);
    ASSERT_TRUE(gTitled.Found);
    const int width = TitleWidth(title);
    EXPECT_GT(width, 0);
    EXPECT_GE(gTitled.Client.right, width + 3 * GetSystemMetrics(SM_CYCAPTION));
  }
  ShutdownWindowSystem();
}

}  // namespace
