#include "Platform/User/PlatWindowManager.h"

#include <algorithm>
#include <thread>

#include "Platform/PlatFrameClock.h"
#include "Platform/User/PlatMessageQueues.h"
#include "Platform/User/PlatWindows.h"
#include "Platform/User/PlatX11Windows.h"

namespace plat::user {

TWindowManager& WindowManager() {
  static TWindowManager* wm = new TWindowManager;
  return *wm;
}

bool TWindowManager::OnUiThread() const { return CurrentThreadId() == UiTid; }

std::uint32_t Now() { return TickCount32(); }

// ---- the window tree -----------------------------------------------------------------

std::shared_ptr<TWindow> TopLevelOf(std::shared_ptr<TWindow> w) {
  TWindowManager& wm = WindowManager();
  while (w && (w->Style & WS_CHILD) && w->Parent) {
    auto p = wm.Find(w->Parent);
    if (!p) break;
    w = p;
  }
  return w;
}

void CollectTree(TWindow& w, std::vector<HWND>& preorder) {
  TWindowManager& wm = WindowManager();
  preorder.push_back(w.H);
  for (HWND c : w.Children)
    if (auto cw = wm.Find(c)) CollectTree(*cw, preorder);
}

// ---- geometry -------------------------------------------------------------------------

RECT Insets(DWORD style) {
  RECT r;
  if (style & WS_CHILD) {
    if (style & WS_BORDER) r = {1, 1, 1, 1};
    return r;
  }
  int f = 0;
  if (style & WS_THICKFRAME)
    f = 4;
  else if (style & WS_DLGFRAME)
    f = 3;
  else if (style & WS_BORDER)
    f = 1;
  r = {f, f, f, f};
  if ((style & WS_CAPTION) == WS_CAPTION) r.top += 23;
  return r;
}

POINT ClientOrigin(const TWindow& w) {
  RECT r = ScreenRect(w);
  RECT i = Insets(w.Style);
  return {r.left + i.left, r.top + i.top};
}

RECT ScreenRect(const TWindow& w) {
  TWindowManager& wm = WindowManager();
  if (!(w.Style & WS_CHILD) || !w.Parent) return w.Rect;
  auto p = wm.Find(w.Parent);
  if (!p) return w.Rect;
  POINT o = ClientOrigin(*p);
  return {w.Rect.left + o.x, w.Rect.top + o.y, w.Rect.right + o.x, w.Rect.bottom + o.y};
}

SIZE ClientSize(const TWindow& w) {
  RECT i = Insets(w.Style);
  return {std::max(0, w.Rect.right - w.Rect.left - i.left - i.right),
          std::max(0, w.Rect.bottom - w.Rect.top - i.top - i.bottom)};
}

bool Contains(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }
bool Empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
RECT Union(const RECT& a, const RECT& b) {
  if (Empty(a)) return b;
  if (Empty(b)) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}
RECT Intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (Empty(r)) return RECT{};
  return r;
}

// ---- names ------------------------------------------------------------------------------

std::u16string Fold(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return r;
}

std::u16string FromChars(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

bool IsAtom(const void* p) { return reinterpret_cast<std::uintptr_t>(p) < 0x10000; }

// ---- the back end ------------------------------------------------------------------------

namespace {
TNativeDesc DescOf(const TWindow& w) {
  TNativeDesc d;
  POINT o = ClientOrigin(w);
  SIZE s = ClientSize(w);
  d.Client = {o.x, o.y, o.x + s.cx, o.y + s.cy};
  d.Title = w.Text;
  d.Bordered = (w.Style & WS_CAPTION) == WS_CAPTION;
  d.Resizable = (w.Style & WS_THICKFRAME) != 0;
  d.Topmost = (w.ExStyle & WS_EX_TOPMOST) != 0;
  d.Utility = (w.ExStyle & WS_EX_TOOLWINDOW) != 0;
  d.SkipTaskbar = d.Utility || (w.Owner && !(w.ExStyle & WS_EX_APPWINDOW));
  d.Visible = (w.Style & WS_VISIBLE) != 0;
  d.State = w.State;
  if (w.Layered == TWindow::TLayered::Attributes && (w.LayeredFlags & LWA_ALPHA)) d.Opacity = w.LayeredAlpha;
  d.PerPixel = w.Layered == TWindow::TLayered::Image;
  d.Dialog = Fold(w.Cls->Name) == u"#32770";
  if (w.Owner)
    if (auto o = WindowManager().Find(w.Owner)) d.Owner = o->Native;
  return d;
}

}  // namespace

// Keeps the native window of a UI-thread top-level in step (under the lock,
// on the UI thread).
void SyncNative(TWindow& w) {
  TWindowManager& wm = WindowManager();
  if (!wm.Backend || (w.Style & WS_CHILD) || w.Tid != wm.UiTid || !wm.OnUiThread()) return;
  TNativeDesc d = DescOf(w);
  if (!w.Native) {
    if (!d.Visible) return;  // hidden windows never cost a native window
    w.Native = wm.Backend->Create(d);
  } else {
    wm.Backend->Update(w.Native, d);
  }
}

}  // namespace plat::user

namespace plat {

using namespace user;

// ============================================================================
// The window system
// ============================================================================

bool InitWindowSystem() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  if (wm.Refs > 0) {
    wm.Refs++;
    return true;
  }
  std::string want;
  GetEnv("ZM_DISPLAY", want);
  std::unique_ptr<TBackend> b;
  std::string problem;
  if (want != "headless") {
    std::string x11, wayland;
    const bool hasX11 = GetEnv("DISPLAY", x11) && !x11.empty();
    const bool hasWayland = GetEnv("WAYLAND_DISPLAY", wayland) && !wayland.empty();
    if (want == "sdl" || hasX11 || hasWayland) {
      std::string why;
      b = CreateSdlBackend(&why);
      if (!b) {
        const std::string named = hasX11 ? x11 : wayland;
        problem = named.empty() ? "the display cannot be opened" : "the display \"" + named + "\" cannot be opened";
        // SDL says of an X server that does not answer that X11 is not
        // available, as if the program lacked it.
        if (hasX11 && !X11DisplayAnswers(x11.c_str())) why = "no X server answers there";
        if (!why.empty()) problem += " (" + why + ")";
      }
    } else {
      problem = "no display is named (DISPLAY and WAYLAND_DISPLAY are not set)";
    }
  }
  // Headless stands in so that the window system works; whoever needs a
  // display that can be seen asks DisplayProblem.
  if (!b) b = CreateHeadlessBackend();
  if (!b) return false;
  wm.Backend = std::move(b);
  wm.DisplayProblem = problem;
  std::string dir;
  if (GetEnv("ZM_CAPTURE_DIR", dir) && !dir.empty()) {
    // A few writers keep a real-clock capture in step with the frames.
    const int writers = int(std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u));
    wm.Capture = std::make_unique<TCaptureWriter>(CaptureFolder(dir), GetEnvNumber("ZM_CAPTURE_LIMIT"), writers);
  }
  wm.WakeTarget.store(wm.Backend.get());
  wm.UiTid = CurrentThreadId();
  wm.Refs = 1;
  auto q = CurrentQueue();
  q->IsUi = true;
  return true;
}

void ShutdownWindowSystem() {
  TWindowManager& wm = WindowManager();
  {
    auto l = wm.Lock();
    if (wm.Refs == 0 || --wm.Refs > 0) return;
  }
  headless::ResetForTests();
  std::unique_ptr<TCaptureWriter> capture;
  {
    auto l = wm.Lock();
    capture = std::move(wm.Capture);
  }
  capture.reset();  // writes what is queued
  auto l = wm.Lock();
  wm.WakeTarget.store(nullptr);
  wm.Backend.reset();
  wm.DisplayProblem.clear();
  if (auto q = ThisThreadQueue()) q->IsUi = false;
  wm.UiTid = 0;
}

bool WindowSystemRunning() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Refs > 0;
}

std::string DisplayProblem() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Refs > 0 ? wm.DisplayProblem : std::string();
}

std::string WindowSystemBackEnd() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Backend ? wm.Backend->Name() : "";
}

std::uint32_t UIThreadId() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.UiTid;
}

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(std::uintptr_t(0x400000)); }

// ============================================================================
// Checks of the real display
// ============================================================================

namespace {
NativeWin NativeOf(HWND h) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(h);
  return w ? TopLevelOf(w)->Native : 0;
}
}  // namespace

bool InjectNativeClick(HWND hwnd, POINT client, int button) {
  TWindowManager& wm = WindowManager();
  NativeWin n = NativeOf(hwnd);
  auto l = wm.Lock();
  return n && wm.Backend && wm.OnUiThread() && wm.Backend->TestClick(n, client, button);
}

bool MoveNativePointer(POINT screen) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Backend && wm.OnUiThread() && wm.Backend->TestMovePointer(screen);
}

bool ReadNativePixel(HWND hwnd, POINT client, std::uint32_t& bgra) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  auto top = w ? TopLevelOf(w) : nullptr;
  if (!top || !top->Native || !wm.Backend || !wm.OnUiThread()) return false;
  // The native window shows the top-level's client area: a child's point moves into it.
  const POINT wo = ClientOrigin(*w), to = ClientOrigin(*top);
  const std::int64_t x = std::int64_t(client.x) + wo.x - to.x, y = std::int64_t(client.y) + wo.y - to.y;
  if (x < 0 || y < 0 || x > kMaxFrameBufferSide || y > kMaxFrameBufferSide) return false;
  return wm.Backend->TestPixel(top->Native, POINT{std::int32_t(x), std::int32_t(y)}, bgra);
}

bool ReadNativeWindowState(HWND hwnd, TNativeWindowState& state) {
  TWindowManager& wm = WindowManager();
  NativeWin n = NativeOf(hwnd);
  auto l = wm.Lock();
  return n && wm.Backend && wm.OnUiThread() && wm.Backend->TestWindowState(n, state);
}

bool ReadNativeCursor(bool& visible, std::uintptr_t& standardId) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Backend && wm.OnUiThread() && wm.Backend->TestCursor(visible, standardId);
}

int NativeWindowCount() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Backend ? wm.Backend->TestWindowCount() : 0;
}

// ============================================================================
// Test support
// ============================================================================

namespace headless {

void PumpUntilIdle() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(int(m.wParam));
      return;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

void ResetForTests() {
  DestroyWindowsForTests();
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  wm.Hooks.clear();
  wm.Input = TInputState{};
  wm.Screen = TScreenSettings{};
  wm.MessageBoxes = TMessageBoxLog{};
  ResetThreadQueueForTests();
}

}  // namespace headless

}  // namespace plat
