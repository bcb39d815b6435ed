#include "Platform/User/PlatWindows.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatInput.h"
#include "Platform/User/PlatMessageQueues.h"
#include "Platform/User/PlatPainting.h"
#include "Platform/User/PlatTimers.h"
#include "Platform/User/PlatWindowPlacement.h"
#include "Platform/User/PlatWindowProc.h"

namespace plat::user {

// ---- handles ----------------------------------------------------------------------

namespace {
// A window handle: the generation above the slot index.
constexpr std::uintptr_t kSlotMask = 0xFFFFFF;
constexpr int kGenShift = 24;

HWND MakeHandle(std::uint32_t slot, std::uint32_t gen) {
  return reinterpret_cast<HWND>((std::uintptr_t(gen) << kGenShift) | slot);
}

std::uint32_t SlotOf(HWND h) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(h) & kSlotMask); }
}  // namespace

std::shared_ptr<TWindow> TWindowManager::Find(HWND h) const {
  std::uint32_t slot = SlotOf(h);
  std::uint64_t gen = reinterpret_cast<std::uintptr_t>(h) >> kGenShift;
  if (slot == 0 || slot >= Windows.Slots.size() || !Windows.Slots[slot] || Windows.Gens[slot] != gen) return nullptr;
  auto& w = Windows.Slots[slot];
  if (w->Life == TWindowLife::Gone) return nullptr;
  return w;
}

namespace {
std::shared_ptr<TClass> FindClass(const char16_t* name) {
  TWindowManager& wm = WindowManager();
  if (!name) return nullptr;
  if (IsAtom(name)) {
    ATOM a = ATOM(reinterpret_cast<std::uintptr_t>(name));
    for (auto& c : wm.Classes)
      if (c->Atom == a) return c;
    return nullptr;
  }
  std::u16string f = Fold(name);
  for (auto& c : wm.Classes)
    if (Fold(c->Name) == f) return c;
  return nullptr;
}

void FreeWindow(HWND h) {
  TWindowManager& wm = WindowManager();
  std::shared_ptr<TWindow> w;
  std::shared_ptr<TQueue> q;
  {
    auto l = wm.Lock();
    w = wm.Find(h);
    if (!w) return;
    w->Life = TWindowLife::Gone;
    std::uint32_t slot = SlotOf(h);
    wm.Windows.Slots[slot].reset();
    wm.Windows.FreeSlots.push_back(slot);
    if (w->Parent) {
      if (auto p = wm.Find(w->Parent)) {
        auto& ch = p->Children;
        ch.erase(std::remove(ch.begin(), ch.end(), h), ch.end());
      }
    }
    auto& z = wm.Windows.TopZ;
    z.erase(std::remove(z.begin(), z.end(), h), z.end());
    auto& created = wm.Windows.Created;
    created.erase(std::remove(created.begin(), created.end(), h), created.end());
    if (wm.Input.Active == h) wm.Input.Active = nullptr;
    if (wm.Input.Focus == h) wm.Input.Focus = nullptr;
    if (wm.Input.Capture == h) wm.Input.Capture = nullptr;
    w->Cls->Windows--;
    if (w->Native && wm.Backend && wm.OnUiThread()) wm.Backend->Destroy(w->Native);
    w->Native = 0;
    q = w->Queue;
  }
  if (q) RemoveWindowTimers(*q, h);
}
}  // namespace

void DestroyWindowsForTests() {
  TWindowManager& wm = WindowManager();
  std::vector<HWND> mine;
  {
    auto l = wm.Lock();
    for (HWND h : wm.Windows.Created)
      if (auto w = wm.Find(h); w && w->Tid == CurrentThreadId()) mine.push_back(h);
  }
  for (HWND h : mine) {
    try {
      if (IsWindow(h)) DestroyWindow(h);
    } catch (...) {
    }
  }
  auto l = wm.Lock();
  // Windows of other threads go without messages.
  for (std::size_t i = 1; i < wm.Windows.Slots.size(); ++i)
    if (wm.Windows.Slots[i]) {
      if (wm.Windows.Slots[i]->Native && wm.Backend) wm.Backend->Destroy(wm.Windows.Slots[i]->Native);
      wm.Windows.Slots[i]->Life = TWindowLife::Gone;
      wm.Windows.Slots[i].reset();
      wm.Windows.FreeSlots.push_back(std::uint32_t(i));
    }
  wm.Windows.TopZ.clear();
  wm.Windows.Created.clear();
  wm.Classes.clear();
}

}  // namespace plat::user

namespace plat {

using namespace user;

// ============================================================================
// Classes and windows
// ============================================================================

ATOM RegisterClassW(const WNDCLASSW* wc) {
  TWindowManager& wm = WindowManager();
  if (!wc || !wc->lpszClassName || IsAtom(wc->lpszClassName) || !*wc->lpszClassName || wc->cbWndExtra < 0 ||
      wc->cbWndExtra > 4096) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto l = wm.Lock();
  if (FindClass(wc->lpszClassName)) {
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  if (wm.NextAtom == 0xFFFF) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto c = std::make_shared<TClass>();
  c->Atom = wm.NextAtom++;
  c->Name = wc->lpszClassName;
  c->Wc = *wc;
  c->Wc.lpszClassName = nullptr;
  c->Wc.lpszMenuName = nullptr;
  wm.Classes.push_back(c);
  return c->Atom;
}

BOOL UnregisterClassW(const char16_t* className, HINSTANCE) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto c = FindClass(className);
  if (!c) {
    SetError(ERROR_CANNOT_FIND_WND_CLASS);
    return 0;
  }
  if (c->Windows > 0) {
    SetError(ERROR_CLASS_HAS_WINDOWS);
    return 0;
  }
  wm.Classes.erase(std::find(wm.Classes.begin(), wm.Classes.end(), c));
  return 1;
}

HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  TWindowManager& wm = WindowManager();
  auto q = CurrentQueue();
  std::shared_ptr<TWindow> w;
  {
    auto l = wm.Lock();
    auto c = FindClass(className);
    if (!c) {
      SetError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    std::shared_ptr<TWindow> p;
    if (parent) {
      p = FindAliveOrFail(wm, parent);
      if (!p) return nullptr;
    } else if (style & WS_CHILD) {
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::uint32_t slot;
    if (!wm.Windows.FreeSlots.empty()) {
      slot = wm.Windows.FreeSlots.back();
      wm.Windows.FreeSlots.pop_back();
    } else {
      if (wm.Windows.Slots.empty()) {
        wm.Windows.Slots.resize(1);
        wm.Windows.Gens.resize(1);
      }
      if (wm.Windows.Slots.size() >= 0xFFFFFF) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      slot = std::uint32_t(wm.Windows.Slots.size());
      wm.Windows.Slots.emplace_back();
      wm.Windows.Gens.push_back(0);
    }
    wm.Windows.Gens[slot]++;
    w = std::make_shared<TWindow>();
    w->H = MakeHandle(slot, wm.Windows.Gens[slot]);
    w->Cls = c;
    w->Proc = c->Wc.lpfnWndProc;
    w->Style = style & ~WS_VISIBLE;
    w->ExStyle = exStyle;
    w->Instance = instance;
    w->Extra.assign(std::size_t(c->Wc.cbWndExtra), 0);
    w->Text = FromChars(windowName);
    w->Queue = q;
    w->Tid = q->Tid;
    if (style & WS_CHILD) {
      w->Parent = parent;
      w->Id = reinterpret_cast<LONG_PTR>(menu);
      p->Children.push_back(w->H);
    } else {
      // A top-level's "parent" is its owner: the owner's top-level.
      if (p) w->Owner = TopLevelOf(p)->H;
      wm.Windows.Created.push_back(w->H);
      wm.Windows.TopZ.insert(wm.Windows.TopZ.begin(), w->H);
    }
    if (x == CW_USEDEFAULT) x = 100, y = 100;
    if (width == CW_USEDEFAULT) width = 640, height = 480;
    x = ClampCoordinate(x), y = ClampCoordinate(y);
    w->Rect = {x, y, x + ClampExtent(width), y + ClampExtent(height)};
    w->Normal = w->Rect;
    if (style & WS_MAXIMIZE) w->PendingShow = SW_SHOWMAXIMIZED;
    if (style & WS_MINIMIZE) w->PendingShow = SW_SHOWMINIMIZED;
    c->Windows++;
    wm.Windows.Slots[slot] = w;
  }
  HWND h = w->H;
  CREATESTRUCTW cs{param, instance, menu, parent, height, width, y, x, LONG(style), windowName, className, exStyle};
  bool ok = false;
  try {
    ok = SendMessageW(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) != 0 && IsWindow(h);
    if (ok) ok = SendMessageW(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) != -1 && IsWindow(h);
  } catch (...) {
    DestroyWindow(h);
    throw;
  }
  if (!ok) {
    DestroyWindow(h);
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (style & WS_VISIBLE) {
    int cmd = SW_SHOW;
    if (style & WS_MAXIMIZE) cmd = SW_SHOWMAXIMIZED;
    if (style & WS_MINIMIZE) cmd = SW_SHOWMINIMIZED;
    ShowWindow(h, cmd);
  }
  return IsWindow(h) ? h : nullptr;
}

BOOL DestroyWindow(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  std::vector<HWND> tree, owned;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    if (w->Tid != CurrentThreadId()) {
      SetError(ERROR_ACCESS_DENIED);
      return 0;
    }
    if (w->Life != TWindowLife::Alive) return 0;
    for (HWND t : wm.Windows.Created)
      if (auto o = wm.Find(t); o && o->Owner == hwnd && o->Life == TWindowLife::Alive) owned.push_back(t);
  }
  // Owned windows go first.
  for (HWND o : owned) DestroyWindow(o);
  HWND loser = nullptr;
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (!w || w->Life != TWindowLife::Alive) return 0;
    CollectTree(*w, tree);
    for (HWND t : tree)
      if (auto tw = wm.Find(t)) tw->Life = TWindowLife::Destroying;
    if (wm.Input.Capture && std::find(tree.begin(), tree.end(), wm.Input.Capture) != tree.end()) {
      loser = wm.Input.Capture;
      wm.Input.Capture = nullptr;
      if (wm.Backend && wm.OnUiThread()) wm.Backend->GrabPointer(false);
    }
    if (!(w->Style & WS_CHILD) && w->Native && wm.Backend && wm.OnUiThread()) {
      w->Style &= ~WS_VISIBLE;
      wm.Backend->Destroy(w->Native);
      w->Native = 0;
    }
  }
  std::exception_ptr err;
  auto safeSend = [&](HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
      std::shared_ptr<TWindow> w;
      {
        auto l = wm.Lock();
        w = wm.Find(h);
      }
      if (w) CallProc(w, m, wp, lp);
    } catch (...) {
      if (!err) err = std::current_exception();
    }
  };
  if (loser) safeSend(loser, WM_CAPTURECHANGED, 0, 0);
  if (wm.Input.Active == hwnd) DeactivateIf(hwnd);
  // WM_DESTROY parent first, WM_NCDESTROY children first; the handles stay
  // valid until their WM_NCDESTROY has been handled.
  for (HWND t : tree) safeSend(t, WM_DESTROY, 0, 0);
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
    safeSend(*it, WM_NCDESTROY, 0, 0);
    FreeWindow(*it);
  }
  if (err) std::rethrow_exception(err);
  return 1;
}

BOOL IsWindow(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  if (hwnd == kDesktop) return 1;
  auto l = wm.Lock();
  return wm.Find(hwnd) ? 1 : 0;
}

BOOL IsWindowVisible(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  while (w) {
    if (!(w->Style & WS_VISIBLE)) return 0;
    if (!(w->Style & WS_CHILD) || !w->Parent) return 1;
    w = wm.Find(w->Parent);
  }
  return 0;
}

BOOL IsWindowEnabled(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  return w && !(w->Style & WS_DISABLED) ? 1 : 0;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  TWindowManager& wm = WindowManager();
  bool was;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    was = (w->Style & WS_DISABLED) != 0;
    if (was == !enable) return was;
    if (enable)
      w->Style &= ~WS_DISABLED;
    else
      w->Style |= WS_DISABLED;
  }
  if (!enable) {
    if (GetCapture() == hwnd) ReleaseCapture();
    if (GetFocus() == hwnd) SetFocus(nullptr);
  }
  SendMessageW(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return was ? 1 : 0;
}

BOOL IsChild(HWND parent, HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  while (w && (w->Style & WS_CHILD) && w->Parent) {
    if (w->Parent == parent) return 1;
    w = wm.Find(w->Parent);
  }
  return 0;
}

HWND GetParent(HWND hwnd) {
  return OnWindow(hwnd, HWND(nullptr), [](TWindow& w) { return (w.Style & WS_CHILD) ? w.Parent : w.Owner; });
}

HWND GetWindowOwner(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  return w ? w->Owner : nullptr;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  return OnWindow(hwnd, DWORD(0), [&](TWindow& w) {
    if (processId) *processId = 1;
    return DWORD(w.Tid);
  });
}

HWND FindWindowExW(HWND parent, HWND childAfter, const char16_t* className, const char16_t* windowName) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  std::vector<HWND> list;
  if (parent) {
    auto p = FindOrFail(wm, parent);
    if (!p) return nullptr;
    list = p->Children;
  } else {
    list = wm.Windows.Created;
  }
  auto it = list.begin();
  if (childAfter) {
    it = std::find(list.begin(), list.end(), childAfter);
    if (it == list.end()) return nullptr;
    ++it;
  }
  std::shared_ptr<TClass> cls;
  if (className) {
    cls = FindClass(className);
    if (!cls) return nullptr;
  }
  for (; it != list.end(); ++it) {
    auto w = wm.Find(*it);
    if (!w) continue;
    if (cls && w->Cls != cls) continue;
    if (windowName && w->Text != windowName) continue;
    return *it;
  }
  return nullptr;
}

HWND FindWindowExA(HWND parent, HWND childAfter, const char* className, const char* windowName) {
  std::u16string c, n;
  if (className && !IsAtom(className)) c = FromUtf8(className);
  if (windowName) n = FromUtf8(windowName);
  const char16_t* cp = className ? (IsAtom(className) ? reinterpret_cast<const char16_t*>(className) : c.c_str())
                                 : nullptr;
  return FindWindowExW(parent, childAfter, cp, windowName ? n.c_str() : nullptr);
}

// ---- window longs -------------------------------------------------------------------

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = FindOrFail(wm, hwnd);
  if (!w) return 0;
  switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->Proc);
    case GWL_STYLE: return LONG_PTR(LONG(w->Style));
    case GWL_EXSTYLE: return LONG_PTR(LONG(w->ExStyle));
    case GWLP_USERDATA: return w->UserData;
    case GWLP_ID: return w->Id;
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->Instance);
    case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>((w->Style & WS_CHILD) ? w->Parent : w->Owner);
    default:
      if (index >= 0 && std::size_t(index) + sizeof(LONG_PTR) <= w->Extra.size()) {
        LONG_PTR v;
        std::memcpy(&v, &w->Extra[std::size_t(index)], sizeof v);
        return v;
      }
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
  }
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  TWindowManager& wm = WindowManager();
  LONG_PTR old = 0;
  STYLESTRUCT ss{};
  bool styleChanged = false;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    switch (index) {
      case GWLP_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(w->Proc);
        w->Proc = reinterpret_cast<WNDPROC>(value);
        return old;
      case GWL_STYLE:
      case GWL_EXSTYLE: {
        DWORD& field = index == GWL_STYLE ? w->Style : w->ExStyle;
        old = LONG_PTR(LONG(field));
        ss.styleOld = field;
        ss.styleNew = DWORD(value);
        if (index == GWL_STYLE) ss.styleNew = (ss.styleNew & ~WS_CHILD) | (field & WS_CHILD);
        field = ss.styleNew;
        styleChanged = ss.styleOld != ss.styleNew;
        // Clearing WS_EX_LAYERED ends both layered modes.
        if (index == GWL_EXSTYLE && !(ss.styleNew & WS_EX_LAYERED) && (ss.styleOld & WS_EX_LAYERED)) {
          w->Layered = TWindow::TLayered::None;
          w->LayeredFlags = w->LayeredKey = 0;
          w->LayeredAlpha = 255;
          w->LayeredImage.clear();
          w->LayeredW = w->LayeredH = 0;
          InvalidateAllLater(*w);
        }
        if (styleChanged) SyncNative(*w);
        break;
      }
      case GWLP_USERDATA: old = w->UserData, w->UserData = value; return old;
      case GWLP_ID: old = w->Id, w->Id = value; return old;
      case GWLP_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->Instance);
        w->Instance = reinterpret_cast<HINSTANCE>(value);
        return old;
      case GWLP_HWNDPARENT:
        if (w->Style & WS_CHILD) {
          SetError(ERROR_INVALID_PARAMETER);
          return 0;
        }
        old = reinterpret_cast<LONG_PTR>(w->Owner);
        w->Owner = reinterpret_cast<HWND>(value);
        return old;
      default:
        if (index >= 0 && std::size_t(index) + sizeof(LONG_PTR) <= w->Extra.size()) {
          std::memcpy(&old, &w->Extra[std::size_t(index)], sizeof old);
          std::memcpy(&w->Extra[std::size_t(index)], &value, sizeof value);
          return old;
        }
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
  }
  if (styleChanged) SendMessageW(hwnd, WM_STYLECHANGED, WPARAM(std::intptr_t(index)), reinterpret_cast<LPARAM>(&ss));
  return old;
}

LONG GetWindowLongW(HWND hwnd, int index) { return LONG(GetWindowLongPtrW(hwnd, index)); }
LONG SetWindowLongW(HWND hwnd, int index, LONG value) { return LONG(SetWindowLongPtrW(hwnd, index, value)); }

ULONG_PTR GetClassLongPtrW(HWND hwnd, int index) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = FindOrFail(wm, hwnd);
  if (!w) return 0;
  switch (index) {
    case GCLP_HCURSOR: return reinterpret_cast<ULONG_PTR>(w->Cls->Wc.hCursor);
    case GCL_STYLE: return w->Cls->Wc.style;
    case GCLP_HBRBACKGROUND: return reinterpret_cast<ULONG_PTR>(w->Cls->Wc.hbrBackground);
    default: SetError(ERROR_INVALID_PARAMETER); return 0;
  }
}

// ---- text -----------------------------------------------------------------------------------

std::u16string WindowText(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  return w ? w->Text : std::u16string();
}

int GetWindowTextW(HWND hwnd, char16_t* buffer, int maxCount) {
  if (!IsWindow(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    if (buffer && maxCount > 0) buffer[0] = 0;
    return 0;
  }
  if (!buffer || maxCount <= 0) return 0;
  DWORD tid = GetWindowThreadProcessId(hwnd, nullptr);
  if (tid == CurrentThreadId())
    return int(SendMessageW(hwnd, WM_GETTEXT, WPARAM(maxCount), reinterpret_cast<LPARAM>(buffer)));
  // Another thread's window: its stored text, without waiting for it.
  std::u16string t = WindowText(hwnd);
  int n = std::min<int>(int(t.size()), maxCount - 1);
  std::memcpy(buffer, t.data(), std::size_t(n) * 2);
  buffer[n] = 0;
  return n;
}

int GetWindowTextLengthW(HWND hwnd) {
  if (!IsWindow(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (GetWindowThreadProcessId(hwnd, nullptr) == CurrentThreadId())
    return int(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
  return int(WindowText(hwnd).size());
}

BOOL SetWindowTextW(HWND hwnd, const char16_t* text) {
  if (!IsWindow(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  static const char16_t kEmpty[] = u"";
  return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : kEmpty)) ? 1 : 0;
}

UINT RegisterWindowMessageW(const char16_t* name) {
  TWindowManager& wm = WindowManager();
  if (!name || !*name) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto l = wm.Lock();
  std::u16string f = Fold(name);
  auto it = wm.RegisteredMessages.find(f);
  if (it != wm.RegisteredMessages.end()) return it->second;
  if (wm.NextRegisteredMessage == 0xFFFF) return 0;
  return wm.RegisteredMessages[f] = wm.NextRegisteredMessage++;
}

}  // namespace plat
