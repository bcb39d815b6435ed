#include "Platform/User/PlatUser.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUserBackend.h"
#include "Platform/User/PlatUserHeadless.h"

namespace plat {

using user::NativeWin;
using user::TBackend;

namespace {

// ============================================================================
// State
// ============================================================================

struct TQueue;

struct TClass {
  ATOM Atom = 0;
  std::u16string Name;  // as registered
  WNDCLASSW Wc{};
  int Windows = 0;
};

struct TTimer {
  HWND Hwnd;
  UINT_PTR Id;
  UINT Interval;
  std::uint32_t Due;
  TIMERPROC Proc;
};

struct TSent {
  HWND Hwnd;
  UINT Msg;
  WPARAM W;
  LPARAM L;
  LRESULT Result = 0;
  bool Done = false;
  bool Notify = false;  // nobody waits
  std::shared_ptr<TQueue> Sender;
};

struct TQueue {
  std::uint32_t Tid = 0;
  std::atomic<bool> IsUi{false};
  std::mutex M;
  std::condition_variable Cv;
  std::deque<MSG> Posted;
  std::deque<std::shared_ptr<TSent>> Sent;
  std::vector<TTimer> Timers;
  bool Quit = false;
  int QuitCode = 0;
  bool Alive = true;
  std::uint64_t Events = 0;  // rises with everything that may end a wait
  std::uint8_t KeyState[256] = {};
};

struct TWindow {
  HWND H = nullptr;
  std::shared_ptr<TClass> Cls;
  WNDPROC Proc = nullptr;
  DWORD Style = 0, ExStyle = 0;
  HWND Parent = nullptr, Owner = nullptr;
  std::vector<HWND> Children;  // creation order = z-order, top first
  LONG_PTR Id = 0, UserData = 0;
  HINSTANCE Instance = nullptr;
  std::vector<std::uint8_t> Extra;
  std::u16string Text;
  RECT Rect;  // top-level: screen; child: parent's client coordinates
  int State = 0;  // 0 normal, 1 minimised, 2 maximised
  RECT Normal;
  int PendingShow = -1;  // placement stored on a hidden window
  std::shared_ptr<TQueue> Queue;
  std::uint32_t Tid = 0;
  bool HasUpdate = false, UpdateErase = false;
  RECT Update;
  int Life = 0;  // 0 alive, 1 destroying, 2 gone
  NativeWin Native = 0;
  std::vector<std::uint32_t> Fb;
  int FbW = 0, FbH = 0;
  int Presents = 0;
  bool NeedsPresent = false;
  std::shared_ptr<std::mutex> PixLock = std::make_shared<std::mutex>();
  DWORD UiState = 0;
  bool Wts = false;
};

struct THook {
  HOOKPROC Proc;
  bool Removed = false;
};

struct TGlobal {
  std::recursive_mutex M;
  std::vector<std::shared_ptr<TWindow>> Slots;  // index 0 unused
  std::vector<std::uint32_t> Gens;
  std::vector<std::uint32_t> FreeSlots;
  std::vector<std::shared_ptr<TClass>> Classes;
  ATOM NextAtom = 0xC000;
  std::map<std::u16string, UINT> RegMsgs;
  UINT NextRegMsg = 0xC000;
  std::map<std::uint32_t, std::shared_ptr<TQueue>> Queues;
  std::vector<HWND> TopZ;  // top-levels, front first
  std::vector<HWND> Created;  // top-levels in creation order
  HWND Active = nullptr, Focus = nullptr, Capture = nullptr;
  bool OtherProgramActive = false;
  POINT Cursor;
  std::uint8_t Async[256] = {};
  std::vector<std::shared_ptr<THook>> Hooks;  // newest first
  std::unique_ptr<TBackend> Backend;
  std::atomic<TBackend*> WakeTarget{nullptr};  // the back end, for wakes from any thread
  std::uint32_t UiTid = 0;
  int Refs = 0;
  std::vector<headless::TMonitorDesc> HeadlessMonitors;
  bool MultiMonApi = true, WtsApi = true;
  std::deque<int> MbScript;
  std::vector<std::string> MbShown;
  std::uintptr_t CursorId = IDC_ARROW;
  UINT_PTR NextThreadTimer = 1;
  // The last press, for double clicks.
  int LastButton = 0;
  std::uint32_t LastDownTime = 0;
  POINT LastDownPt;
};

TGlobal& G() {
  static TGlobal* g = new TGlobal;  // lives to the end: threads may outlive main
  return *g;
}

using Lock = std::lock_guard<std::recursive_mutex>;

HWND const kDesktop = reinterpret_cast<HWND>(std::uintptr_t(0xFFFF0001u));

void SetError(int code) { SetLastOSError(code); }

// ---- handles ----------------------------------------------------------------

HWND MakeHandle(std::uint32_t slot, std::uint32_t gen) {
  return reinterpret_cast<HWND>((std::uintptr_t(gen) << 24) | slot);
}

// Under G().M.
std::shared_ptr<TWindow> Find(HWND h) {
  TGlobal& g = G();
  std::uintptr_t v = reinterpret_cast<std::uintptr_t>(h);
  std::uint32_t slot = std::uint32_t(v & 0xFFFFFF);
  std::uint64_t gen = v >> 24;
  if (slot == 0 || slot >= g.Slots.size() || !g.Slots[slot] || g.Gens[slot] != gen) return nullptr;
  auto& w = g.Slots[slot];
  if (w->Life == 2) return nullptr;
  return w;
}

// Runs f on the window under the lock; a bad handle sets the error and gives fail.
template <class R, class F>
R OnWindow(HWND h, R fail, F f) {
  Lock l(G().M);
  auto w = Find(h);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return fail;
  }
  return f(*w);
}

// ---- queues ------------------------------------------------------------------

void DetachQueue(const std::shared_ptr<TQueue>& q);

struct TQueueHolder {
  std::shared_ptr<TQueue> Q;
  ~TQueueHolder() {
    if (Q) DetachQueue(Q);
  }
};
thread_local TQueueHolder tQueue;

std::shared_ptr<TQueue> CurrentQueue() {
  if (tQueue.Q) return tQueue.Q;
  auto q = std::make_shared<TQueue>();
  q->Tid = CurrentThreadId();
  {
    TGlobal& g = G();
    Lock l(g.M);
    q->IsUi = g.Refs > 0 && q->Tid == g.UiTid;
    g.Queues[q->Tid] = q;
  }
  tQueue.Q = q;
  return q;
}

void Wake(TQueue& q) {
  q.Events++;
  q.Cv.notify_all();
  if (q.IsUi.load()) {
    TBackend* b = G().WakeTarget.load();
    if (b && b->WaitsNatively()) b->Wake();
  }
}

void Complete(const std::shared_ptr<TSent>& s, LRESULT r) {
  if (!s->Sender) {
    s->Done = true;
    return;
  }
  std::lock_guard<std::mutex> l(s->Sender->M);
  s->Result = r;
  s->Done = true;
  Wake(*s->Sender);
}

void DetachQueue(const std::shared_ptr<TQueue>& q) {
  std::deque<std::shared_ptr<TSent>> pending;
  {
    TGlobal& g = G();
    Lock l(g.M);
    auto it = g.Queues.find(q->Tid);
    if (it != g.Queues.end() && it->second == q) g.Queues.erase(it);
    std::lock_guard<std::mutex> ql(q->M);
    q->Alive = false;
    pending.swap(q->Sent);
    q->Posted.clear();
    q->Timers.clear();
  }
  for (auto& s : pending) Complete(s, 0);
}

std::shared_ptr<TQueue> QueueOfThread(std::uint32_t tid) {
  TGlobal& g = G();
  Lock l(g.M);
  auto it = g.Queues.find(tid);
  return it == g.Queues.end() ? nullptr : it->second;
}

bool PostTo(const std::shared_ptr<TQueue>& q, const MSG& m, bool coalesceMove = false) {
  if (!q) return false;
  std::lock_guard<std::mutex> l(q->M);
  if (!q->Alive) return false;
  if (coalesceMove && !q->Posted.empty() && q->Posted.back().message == WM_MOUSEMOVE &&
      q->Posted.back().hwnd == m.hwnd)
    q->Posted.back() = m;
  else
    q->Posted.push_back(m);
  Wake(*q);
  return true;
}

// ---- calling window procedures ---------------------------------------------------

LRESULT CallProc(const std::shared_ptr<TWindow>& w, UINT msg, WPARAM wp, LPARAM lp) {
  WNDPROC p;
  HWND h;
  {
    Lock l(G().M);
    p = w->Proc;
    h = w->H;
  }
  if (!p) return 0;
  return p(h, msg, wp, lp);
}

// Serves messages sent to this thread from other threads.
void ServeSent(TQueue& q) {
  for (;;) {
    std::shared_ptr<TSent> s;
    {
      std::lock_guard<std::mutex> l(q.M);
      if (q.Sent.empty()) return;
      s = q.Sent.front();
      q.Sent.pop_front();
    }
    std::shared_ptr<TWindow> w;
    {
      Lock l(G().M);
      w = Find(s->Hwnd);
    }
    LRESULT r = 0;
    try {
      if (w) r = CallProc(w, s->Msg, s->W, s->L);
    } catch (...) {
      Complete(s, 0);
      throw;
    }
    Complete(s, r);
  }
}

std::uint32_t Now() { return TickCount32(); }

POINT CursorNow();

bool IsMouseMsg(UINT m) { return m >= WM_MOUSEFIRST && m <= WM_MOUSELAST; }

void SetKey(std::uint8_t* st, UINT vk, bool down) {
  vk &= 0xFF;
  if (down) {
    if (!(st[vk] & 0x80)) st[vk] ^= 1;
    st[vk] |= 0x80;
  } else {
    st[vk] &= 0x7F;
  }
}

// The thread's key state follows the messages it retrieves.
void NoteRetrieved(TQueue& q, const MSG& m) {
  if (m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN || m.message == WM_KEYUP ||
      m.message == WM_SYSKEYUP) {
    bool down = m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN;
    UINT vk = UINT(m.wParam & 0xFF);
    SetKey(q.KeyState, vk, down);
    bool ext = (m.lParam >> 24) & 1;
    if (vk == VK_SHIFT) SetKey(q.KeyState, ((m.lParam >> 16) & 0xFF) == 0x36 ? VK_RSHIFT : VK_LSHIFT, down);
    if (vk == VK_CONTROL) SetKey(q.KeyState, ext ? VK_RCONTROL : VK_LCONTROL, down);
    if (vk == VK_MENU) SetKey(q.KeyState, ext ? VK_RMENU : VK_LMENU, down);
  } else if (IsMouseMsg(m.message) && m.message != WM_MOUSEWHEEL && m.message != WM_MOUSEHWHEEL) {
    WPARAM mk = m.wParam;
    auto set = [&](UINT vk, bool d) {
      if (d)
        q.KeyState[vk] |= 0x80;
      else
        q.KeyState[vk] &= 0x7F;
    };
    set(VK_LBUTTON, mk & MK_LBUTTON);
    set(VK_RBUTTON, mk & MK_RBUTTON);
    set(VK_MBUTTON, mk & MK_MBUTTON);
  }
}

bool MatchFilter(const MSG& m, HWND filter, UINT mn, UINT mx) {
  if (filter && m.hwnd != filter && !IsChild(filter, m.hwnd)) return false;
  if (mn == 0 && mx == 0) return true;
  return m.message >= mn && m.message <= mx;
}

void PresentPending();
void PumpBackend();

// Fetches the next message for GetMessage (wait) and PeekMessage.
bool Fetch(MSG* out, HWND filter, UINT mn, UINT mx, bool remove, bool wait) {
  auto q = CurrentQueue();
  for (;;) {
    ServeSent(*q);
    if (q->IsUi) {
      PumpBackend();
      PresentPending();
      ServeSent(*q);
    }
    std::uint64_t seen;
    bool retry = false;
    // Posted and input messages, first in first out.
    {
      std::unique_lock<std::mutex> l(q->M);
      seen = q->Events;
      for (auto it = q->Posted.begin(); it != q->Posted.end(); ++it) {
        if (!MatchFilter(*it, filter, mn, mx)) continue;
        MSG m = *it;
        if (remove) q->Posted.erase(it);
        l.unlock();
        // Messages to a window destroyed meanwhile are dropped.
        if (m.hwnd && !IsWindow(m.hwnd)) {
          if (!remove) {
            std::lock_guard<std::mutex> l2(q->M);
            for (auto j = q->Posted.begin(); j != q->Posted.end(); ++j)
              if (j->hwnd == m.hwnd && j->message == m.message && j->time == m.time) {
                q->Posted.erase(j);
                break;
              }
          }
          retry = true;
          break;
        }
        if (remove) NoteRetrieved(*q, m);
        *out = m;
        return true;
      }
      if (retry) continue;
      if (q->Quit) {
        MSG m;
        m.message = WM_QUIT;
        m.wParam = WPARAM(q->QuitCode);
        m.time = Now();
        if (remove) q->Quit = false;
        *out = m;
        return true;
      }
    }
    // WM_PAINT for a visible window of this thread with something to paint.
    {
      HWND paint = nullptr;
      {
        TGlobal& g = G();
        Lock l(g.M);
        for (std::size_t i = 1; i < g.Slots.size() && !paint; ++i) {
          auto& w = g.Slots[i];
          if (w && w->Life == 0 && w->Tid == q->Tid && w->HasUpdate && IsWindowVisible(w->H)) {
            MSG m;
            m.hwnd = w->H;
            m.message = WM_PAINT;
            if (MatchFilter(m, filter, mn, mx)) paint = w->H;
          }
        }
      }
      if (paint) {
        MSG m;
        m.hwnd = paint;
        m.message = WM_PAINT;
        m.time = Now();
        m.pt = CursorNow();
        *out = m;
        return true;
      }
    }
    // WM_TIMER for a due timer; one per timer, re-armed from now.
    std::uint32_t waitMs = 100;
    {
      std::lock_guard<std::mutex> l(q->M);
      std::uint32_t now = Now();
      for (auto& t : q->Timers) {
        std::int32_t left = std::int32_t(t.Due - now);
        if (left <= 0) {
          MSG m;
          m.hwnd = t.Hwnd;
          m.message = WM_TIMER;
          m.wParam = t.Id;
          m.lParam = reinterpret_cast<LPARAM>(t.Proc);
          m.time = now;
          if (!MatchFilter(m, filter, mn, mx)) continue;
          if (remove) t.Due = now + t.Interval;
          *out = m;
          return true;
        }
        waitMs = std::min<std::uint32_t>(waitMs, std::uint32_t(left));
      }
    }
    if (!wait) return false;
    // Nothing to do: wait for a post, a send, an invalidation or a timer.
    if (q->IsUi && G().Backend && G().Backend->WaitsNatively()) {
      {
        std::lock_guard<std::mutex> l(q->M);
        if (q->Events != seen) continue;
      }
      G().Backend->Wait(int(waitMs));
    } else {
      std::unique_lock<std::mutex> l(q->M);
      q->Cv.wait_for(l, std::chrono::milliseconds(waitMs), [&] { return q->Events != seen; });
    }
  }
}

// ---- geometry helpers ------------------------------------------------------------

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

// Under the lock: the window rectangle in screen coordinates.
RECT ScreenRect(const TWindow& w);

POINT ClientOrigin(const TWindow& w) {
  RECT r = ScreenRect(w);
  RECT i = Insets(w.Style);
  return {r.left + i.left, r.top + i.top};
}

RECT ScreenRect(const TWindow& w) {
  if (!(w.Style & WS_CHILD) || !w.Parent) return w.Rect;
  auto p = Find(w.Parent);
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

std::shared_ptr<TWindow> TopLevelOf(std::shared_ptr<TWindow> w) {
  while (w && (w->Style & WS_CHILD) && w->Parent) {
    auto p = Find(w->Parent);
    if (!p) break;
    w = p;
  }
  return w;
}

std::u16string Fold(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return r;
}

std::u16string FromChars(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

bool IsAtom(const void* p) { return reinterpret_cast<std::uintptr_t>(p) < 0x10000; }

// ---- back end --------------------------------------------------------------------

std::vector<user::TMonitorInfo> Monitors() {
  TGlobal& g = G();
  std::vector<user::TMonitorInfo> m;
  if (g.Backend && std::string(g.Backend->Name()) == "sdl") m = g.Backend->Monitors();
  if (m.empty()) {
    for (auto& d : g.HeadlessMonitors) {
      user::TMonitorInfo i;
      i.Bounds = d.Bounds;
      i.Work = d.Work;
      i.Primary = d.Primary;
      i.Dpi = d.Dpi;
      i.Refresh = d.Refresh;
      i.BitsPerPixel = d.BitsPerPixel;
      m.push_back(i);
    }
  }
  if (m.empty()) {
    user::TMonitorInfo i;
    i.Bounds = {0, 0, 1920, 1080};
    i.Work = {0, 0, 1920, 1040};
    i.Primary = true;
    m.push_back(i);
  }
  // The primary monitor comes first.
  std::stable_partition(m.begin(), m.end(), [](const user::TMonitorInfo& i) { return i.Primary; });
  bool any = false;
  for (auto& i : m) any = any || i.Primary;
  if (!any) m[0].Primary = true;
  return m;
}

user::TNativeDesc DescOf(const TWindow& w) {
  user::TNativeDesc d;
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
  return d;
}

// Keeps the native window of a UI-thread top-level in step (under the lock,
// on the UI thread).
void SyncNative(TWindow& w) {
  TGlobal& g = G();
  if (!g.Backend || (w.Style & WS_CHILD) || w.Tid != g.UiTid || CurrentThreadId() != g.UiTid) return;
  user::TNativeDesc d = DescOf(w);
  if (!w.Native) {
    if (!d.Visible) return;  // hidden windows never cost a native window
    w.Native = g.Backend->Create(d);
  } else {
    g.Backend->Update(w.Native, d);
  }
}

// Under the lock: the frame buffer of a visible top-level has its client size.
void SizeFrameBuffer(TWindow& w) {
  SIZE s = ClientSize(w);
  if (s.cx == w.FbW && s.cy == w.FbH) return;
  std::lock_guard<std::mutex> pl(*w.PixLock);
  std::vector<std::uint32_t> fb(std::size_t(s.cx) * std::size_t(s.cy), 0);
  for (int y = 0; y < std::min(s.cy, w.FbH); ++y)
    std::memcpy(&fb[std::size_t(y) * s.cx], &w.Fb[std::size_t(y) * w.FbW],
                std::size_t(std::min(s.cx, w.FbW)) * 4);
  w.Fb.swap(fb);
  w.FbW = s.cx;
  w.FbH = s.cy;
}

void PresentPending() {
  TGlobal& g = G();
  Lock l(g.M);
  for (std::size_t i = 1; i < g.Slots.size(); ++i) {
    auto& w = g.Slots[i];
    if (!w || w->Life != 0 || !w->NeedsPresent) continue;
    w->NeedsPresent = false;
    w->Presents++;
    if (w->Native && g.Backend) {
      std::lock_guard<std::mutex> pl(*w->PixLock);
      g.Backend->Present(w->Native, w->Fb.data(), w->FbW, w->FbW, w->FbH, RECT{0, 0, w->FbW, w->FbH});
    }
  }
}

class TSink;
TSink& Sink();
void PumpBackend() {
  TGlobal& g = G();
  if (g.Backend) g.Backend->Pump(reinterpret_cast<user::TInputSink&>(Sink()));
}

POINT CursorNow() {
  TGlobal& g = G();
  Lock l(g.M);
  POINT p = g.Cursor;
  if (g.Backend && CurrentThreadId() == g.UiTid && g.Backend->CursorPos(p)) g.Cursor = p;
  return g.Cursor;
}

// Sends a message, reading the procedure afresh.
LRESULT Send(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return SendMessageW(h, msg, wp, lp); }

void SendWindowPosChanged(HWND h, UINT flags) {
  WINDOWPOS wp{};
  {
    Lock l(G().M);
    auto w = Find(h);
    if (!w) return;
    wp.hwnd = h;
    wp.x = w->Rect.left;
    wp.y = w->Rect.top;
    wp.cx = w->Rect.right - w->Rect.left;
    wp.cy = w->Rect.bottom - w->Rect.top;
    wp.flags = flags;
  }
  Send(h, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
}

void InvalidateAll(HWND h, bool erase) {
  InvalidateRect(h, nullptr, erase ? 1 : 0);
}

void DeactivateIf(HWND h);
void ActivateTop(HWND h, WPARAM how);

}  // namespace

// ============================================================================
// The window system
// ============================================================================

int user::DefaultMessageBoxAnswer(UINT type) {
  int buttons[3];
  int n = 1;
  switch (type & 0xF) {
    case MB_OKCANCEL: buttons[0] = IDOK, buttons[1] = IDCANCEL, n = 2; break;
    case MB_ABORTRETRYIGNORE: buttons[0] = IDABORT, buttons[1] = IDRETRY, buttons[2] = IDIGNORE, n = 3; break;
    case MB_YESNOCANCEL: buttons[0] = IDYES, buttons[1] = IDNO, buttons[2] = IDCANCEL, n = 3; break;
    case MB_YESNO: buttons[0] = IDYES, buttons[1] = IDNO, n = 2; break;
    case MB_RETRYCANCEL: buttons[0] = IDRETRY, buttons[1] = IDCANCEL, n = 2; break;
    default: buttons[0] = IDOK; break;
  }
  int d = int((type >> 8) & 0xF);
  return buttons[d < n ? d : 0];
}

bool InitWindowSystem() {
  TGlobal& g = G();
  Lock l(g.M);
  if (g.Refs > 0) {
    g.Refs++;
    return true;
  }
  std::string want;
  GetEnv("ZM_DISPLAY", want);
  std::unique_ptr<TBackend> b;
  if (want == "sdl") {
    b = user::CreateSdlBackend();
  } else if (want != "headless") {
    std::string d;
    if (GetEnv("DISPLAY", d) || GetEnv("WAYLAND_DISPLAY", d)) b = user::CreateSdlBackend();
  }
  if (!b) b = user::CreateHeadlessBackend();
  if (!b) return false;
  g.Backend = std::move(b);
  g.WakeTarget.store(g.Backend.get());
  g.UiTid = CurrentThreadId();
  g.Refs = 1;
  auto q = CurrentQueue();
  q->IsUi = true;
  return true;
}

void ShutdownWindowSystem() {
  TGlobal& g = G();
  {
    Lock l(g.M);
    if (g.Refs == 0 || --g.Refs > 0) return;
  }
  headless::ResetForTests();
  Lock l(g.M);
  g.WakeTarget.store(nullptr);
  g.Backend.reset();
  if (tQueue.Q) tQueue.Q->IsUi = false;
  g.UiTid = 0;
}

bool WindowSystemRunning() {
  Lock l(G().M);
  return G().Refs > 0;
}

std::string WindowSystemBackEnd() {
  Lock l(G().M);
  return G().Backend ? G().Backend->Name() : "";
}

std::uint32_t UIThreadId() {
  Lock l(G().M);
  return G().UiTid;
}

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(std::uintptr_t(0x400000)); }

// ============================================================================
// Classes and windows
// ============================================================================

namespace {
std::shared_ptr<TClass> FindClass(const char16_t* name) {
  TGlobal& g = G();
  if (!name) return nullptr;
  if (IsAtom(name)) {
    ATOM a = ATOM(reinterpret_cast<std::uintptr_t>(name));
    for (auto& c : g.Classes)
      if (c->Atom == a) return c;
    return nullptr;
  }
  std::u16string f = Fold(name);
  for (auto& c : g.Classes)
    if (Fold(c->Name) == f) return c;
  return nullptr;
}
}  // namespace

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (!wc || !wc->lpszClassName || IsAtom(wc->lpszClassName) || !*wc->lpszClassName || wc->cbWndExtra < 0 ||
      wc->cbWndExtra > 4096) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  TGlobal& g = G();
  Lock l(g.M);
  if (FindClass(wc->lpszClassName)) {
    SetError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  if (g.NextAtom == 0xFFFF) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto c = std::make_shared<TClass>();
  c->Atom = g.NextAtom++;
  c->Name = wc->lpszClassName;
  c->Wc = *wc;
  c->Wc.lpszClassName = nullptr;
  c->Wc.lpszMenuName = nullptr;
  g.Classes.push_back(c);
  return c->Atom;
}

BOOL UnregisterClassW(const char16_t* className, HINSTANCE) {
  TGlobal& g = G();
  Lock l(g.M);
  auto c = FindClass(className);
  if (!c) {
    SetError(ERROR_CANNOT_FIND_WND_CLASS);
    return 0;
  }
  if (c->Windows > 0) {
    SetError(ERROR_CLASS_HAS_WINDOWS);
    return 0;
  }
  g.Classes.erase(std::find(g.Classes.begin(), g.Classes.end(), c));
  return 1;
}

HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  TGlobal& g = G();
  auto q = CurrentQueue();
  std::shared_ptr<TWindow> w;
  {
    Lock l(g.M);
    auto c = FindClass(className);
    if (!c) {
      SetError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    std::shared_ptr<TWindow> p;
    if (parent) {
      p = Find(parent);
      if (!p || p->Life != 0) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    } else if (style & WS_CHILD) {
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::uint32_t slot;
    if (!g.FreeSlots.empty()) {
      slot = g.FreeSlots.back();
      g.FreeSlots.pop_back();
    } else {
      if (g.Slots.empty()) {
        g.Slots.resize(1);
        g.Gens.resize(1);
      }
      if (g.Slots.size() >= 0xFFFFFF) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      slot = std::uint32_t(g.Slots.size());
      g.Slots.emplace_back();
      g.Gens.push_back(0);
    }
    g.Gens[slot]++;
    w = std::make_shared<TWindow>();
    w->H = MakeHandle(slot, g.Gens[slot]);
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
      g.Created.push_back(w->H);
      g.TopZ.insert(g.TopZ.begin(), w->H);
    }
    if (x == CW_USEDEFAULT) x = 100, y = 100;
    if (width == CW_USEDEFAULT) width = 640, height = 480;
    w->Rect = {x, y, x + std::max(0, width), y + std::max(0, height)};
    w->Normal = w->Rect;
    if (style & WS_MAXIMIZE) w->PendingShow = SW_SHOWMAXIMIZED;
    if (style & WS_MINIMIZE) w->PendingShow = SW_SHOWMINIMIZED;
    c->Windows++;
    g.Slots[slot] = w;
  }
  HWND h = w->H;
  CREATESTRUCTW cs{param, instance, menu, parent, height, width, y, x, LONG(style), windowName, className, exStyle};
  bool ok = false;
  try {
    ok = Send(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) != 0 && IsWindow(h);
    if (ok) ok = Send(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) != -1 && IsWindow(h);
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

namespace {
void CollectTree(TWindow& w, std::vector<HWND>& preorder) {
  preorder.push_back(w.H);
  for (HWND c : w.Children)
    if (auto cw = Find(c)) CollectTree(*cw, preorder);
}

void FreeWindow(HWND h) {
  TGlobal& g = G();
  std::shared_ptr<TWindow> w;
  std::shared_ptr<TQueue> q;
  {
    Lock l(g.M);
    w = Find(h);
    if (!w) return;
    w->Life = 2;
    std::uintptr_t slot = reinterpret_cast<std::uintptr_t>(h) & 0xFFFFFF;
    g.Slots[slot].reset();
    g.FreeSlots.push_back(std::uint32_t(slot));
    if (w->Parent) {
      if (auto p = Find(w->Parent)) {
        auto& ch = p->Children;
        ch.erase(std::remove(ch.begin(), ch.end(), h), ch.end());
      }
    }
    g.TopZ.erase(std::remove(g.TopZ.begin(), g.TopZ.end(), h), g.TopZ.end());
    g.Created.erase(std::remove(g.Created.begin(), g.Created.end(), h), g.Created.end());
    if (g.Active == h) g.Active = nullptr;
    if (g.Focus == h) g.Focus = nullptr;
    if (g.Capture == h) g.Capture = nullptr;
    w->Cls->Windows--;
    if (w->Native && g.Backend && CurrentThreadId() == g.UiTid) g.Backend->Destroy(w->Native);
    w->Native = 0;
    q = w->Queue;
  }
  if (q) {
    std::lock_guard<std::mutex> l(q->M);
    q->Timers.erase(std::remove_if(q->Timers.begin(), q->Timers.end(), [&](const TTimer& t) { return t.Hwnd == h; }),
                    q->Timers.end());
  }
}
}  // namespace

BOOL DestroyWindow(HWND hwnd) {
  TGlobal& g = G();
  std::vector<HWND> tree, owned;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (w->Tid != CurrentThreadId()) {
      SetError(ERROR_ACCESS_DENIED);
      return 0;
    }
    if (w->Life != 0) return 0;
    for (HWND t : g.Created)
      if (auto o = Find(t); o && o->Owner == hwnd && o->Life == 0) owned.push_back(t);
  }
  // Owned windows go first.
  for (HWND o : owned) DestroyWindow(o);
  HWND loser = nullptr;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w || w->Life != 0) return 0;
    CollectTree(*w, tree);
    for (HWND t : tree)
      if (auto tw = Find(t)) tw->Life = 1;
    if (g.Capture && std::find(tree.begin(), tree.end(), g.Capture) != tree.end()) {
      loser = g.Capture;
      g.Capture = nullptr;
      if (g.Backend && CurrentThreadId() == g.UiTid) g.Backend->GrabPointer(false);
    }
    if (!(w->Style & WS_CHILD) && w->Native && g.Backend && CurrentThreadId() == g.UiTid) {
      w->Style &= ~WS_VISIBLE;
      g.Backend->Destroy(w->Native);
      w->Native = 0;
    }
  }
  std::exception_ptr err;
  auto safeSend = [&](HWND h, UINT m, WPARAM wp, LPARAM lp) {
    try {
      std::shared_ptr<TWindow> w;
      {
        Lock l(g.M);
        w = Find(h);
      }
      if (w) CallProc(w, m, wp, lp);
    } catch (...) {
      if (!err) err = std::current_exception();
    }
  };
  if (loser) safeSend(loser, WM_CAPTURECHANGED, 0, 0);
  if (g.Active == hwnd) DeactivateIf(hwnd);
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
  if (hwnd == kDesktop) return 1;
  Lock l(G().M);
  return Find(hwnd) ? 1 : 0;
}

BOOL IsWindowVisible(HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
  while (w) {
    if (!(w->Style & WS_VISIBLE)) return 0;
    if (!(w->Style & WS_CHILD) || !w->Parent) return 1;
    w = Find(w->Parent);
  }
  return 0;
}

BOOL IsWindowEnabled(HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
  return w && !(w->Style & WS_DISABLED) ? 1 : 0;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  bool was;
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
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
  Send(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return was ? 1 : 0;
}

BOOL IsChild(HWND parent, HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
  while (w && (w->Style & WS_CHILD) && w->Parent) {
    if (w->Parent == parent) return 1;
    w = Find(w->Parent);
  }
  return 0;
}

HWND GetParent(HWND hwnd) {
  return OnWindow(hwnd, HWND(nullptr), [](TWindow& w) { return (w.Style & WS_CHILD) ? w.Parent : w.Owner; });
}

HWND GetWindowOwner(HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
  return w ? w->Owner : nullptr;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  return OnWindow(hwnd, DWORD(0), [&](TWindow& w) {
    if (processId) *processId = 1;
    return DWORD(w.Tid);
  });
}

HWND FindWindowExW(HWND parent, HWND childAfter, const char16_t* className, const char16_t* windowName) {
  TGlobal& g = G();
  Lock l(g.M);
  std::vector<HWND> list;
  if (parent) {
    auto p = Find(parent);
    if (!p) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    list = p->Children;
  } else {
    list = g.Created;
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
    auto w = Find(*it);
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
  Lock l(G().M);
  auto w = Find(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
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
  TGlobal& g = G();
  LONG_PTR old = 0;
  STYLESTRUCT ss{};
  bool styleChanged = false;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
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
  if (styleChanged) Send(hwnd, WM_STYLECHANGED, WPARAM(std::intptr_t(index)), reinterpret_cast<LPARAM>(&ss));
  return old;
}

LONG GetWindowLongW(HWND hwnd, int index) { return LONG(GetWindowLongPtrW(hwnd, index)); }
LONG SetWindowLongW(HWND hwnd, int index, LONG value) { return LONG(SetWindowLongPtrW(hwnd, index, value)); }

ULONG_PTR GetClassLongPtrW(HWND hwnd, int index) {
  Lock l(G().M);
  auto w = Find(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GCLP_HCURSOR: return reinterpret_cast<ULONG_PTR>(w->Cls->Wc.hCursor);
    case GCL_STYLE: return w->Cls->Wc.style;
    case GCLP_HBRBACKGROUND: return reinterpret_cast<ULONG_PTR>(w->Cls->Wc.hbrBackground);
    default: SetError(ERROR_INVALID_PARAMETER); return 0;
  }
}

// ---- text -----------------------------------------------------------------------------------

std::u16string WindowText(HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
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
  if (tid == CurrentThreadId()) return int(Send(hwnd, WM_GETTEXT, WPARAM(maxCount), reinterpret_cast<LPARAM>(buffer)));
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
  if (GetWindowThreadProcessId(hwnd, nullptr) == CurrentThreadId()) return int(Send(hwnd, WM_GETTEXTLENGTH, 0, 0));
  return int(WindowText(hwnd).size());
}

BOOL SetWindowTextW(HWND hwnd, const char16_t* text) {
  if (!IsWindow(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  static const char16_t kEmpty[] = u"";
  return Send(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : kEmpty)) ? 1 : 0;
}

UINT RegisterWindowMessageW(const char16_t* name) {
  if (!name || !*name) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  TGlobal& g = G();
  Lock l(g.M);
  std::u16string f = Fold(name);
  auto it = g.RegMsgs.find(f);
  if (it != g.RegMsgs.end()) return it->second;
  if (g.NextRegMsg == 0xFFFF) return 0;
  return g.RegMsgs[f] = g.NextRegMsg++;
}

// ============================================================================
// Geometry and show state
// ============================================================================

namespace {
RECT WorkAreaFor(const RECT& r) {
  HMONITOR m = MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST);
  MONITORINFO mi;
  GetMonitorInfoA(m, &mi);
  return mi.rcWork;
}

// Changes rectangle and state; sends WM_WINDOWPOSCHANGED when it changed.
void Place(HWND h, const RECT& r, UINT flags) {
  bool changed = false;
  {
    Lock l(G().M);
    auto w = Find(h);
    if (!w) return;
    changed = !(w->Rect == r);
    w->Rect = r;
    if (w->State == 0) {
      if (w->Style & WS_CHILD)
        w->Normal = r;
      else
        w->Normal = r;
    }
    if (changed) {
      auto top = TopLevelOf(w);
      if (top && (top->Style & WS_VISIBLE)) SizeFrameBuffer(*top);
      SyncNative(*w);
    }
  }
  if (changed) {
    InvalidateAll(h, true);
    SendWindowPosChanged(h, flags);
  }
}
}  // namespace

BOOL ShowWindow(HWND hwnd, int cmd) {
  TGlobal& g = G();
  bool was, top, child;
  int oldState;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w || w->Life != 0) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    was = (w->Style & WS_VISIBLE) != 0;
    child = (w->Style & WS_CHILD) != 0;
    top = !child;
    oldState = w->State;
    if (cmd < SW_HIDE || cmd > SW_SHOWDEFAULT + 1) {
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    // A state stored by SetWindowPlacement on a hidden window takes effect now.
    if (!was && (cmd == SW_SHOW || cmd == SW_SHOWNA || cmd == SW_SHOWDEFAULT) && w->PendingShow >= 0)
      cmd = w->PendingShow;
    if (cmd != SW_HIDE) w->PendingShow = -1;
  }
  if (cmd == SW_HIDE) {
    if (!was) return 0;
    Send(hwnd, WM_SHOWWINDOW, 0, 0);
    {
      Lock l(g.M);
      auto w = Find(hwnd);
      if (!w) return 1;
      w->Style &= ~WS_VISIBLE;
      SyncNative(*w);
    }
    if (top) DeactivateIf(hwnd);
    if (child) {
      if (auto p = GetParent(hwnd)) InvalidateAll(p, true);
    }
    SendWindowPosChanged(hwnd, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    return 1;
  }
  int state = oldState;
  bool activate = top;
  switch (cmd) {
    case SW_SHOWNORMAL: case SW_RESTORE: case SW_SHOWDEFAULT: state = 0; break;
    case SW_SHOWNOACTIVATE: state = 0, activate = false; break;
    case SW_SHOWMINIMIZED: state = 1; break;
    case SW_MINIMIZE: case SW_SHOWMINNOACTIVE: state = 1, activate = false; break;
    case SW_SHOWMAXIMIZED: state = 2; break;
    case SW_SHOWNA: activate = false; break;
    default: break;  // SW_SHOW keeps the state
  }
  if (child && state == 2) state = 0;
  if (!was) Send(hwnd, WM_SHOWWINDOW, 1, 0);
  RECT target;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w) return was;
    if (w->State == 0) w->Normal = w->Rect;
    w->State = state;
    if (state == 2)
      target = WorkAreaFor(w->Normal);
    else if (state == 1)
      target = {-32000, -32000, -32000 + 160, -32000 + 28};
    else
      target = w->Normal;
    w->Style |= WS_VISIBLE;
    auto tw = TopLevelOf(w);
    if (tw && (tw->Style & WS_VISIBLE)) SizeFrameBuffer(*tw);
  }
  Place(hwnd, target, SWP_SHOWWINDOW | SWP_NOZORDER);
  {
    Lock l(g.M);
    if (auto w = Find(hwnd)) SyncNative(*w);
  }
  if (!was) {
    InvalidateAll(hwnd, true);
    if (child) InvalidateAll(hwnd, true);
    SendWindowPosChanged(hwnd, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  }
  if (activate && state != 1 && !(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_NOACTIVATE)) SetActiveWindow(hwnd);
  if (state == 1) DeactivateIf(hwnd);
  return was ? 1 : 0;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  TGlobal& g = G();
  RECT r;
  bool zChanged = false;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w || w->Life != 0) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    r = w->Rect;
    if (!(flags & SWP_NOMOVE)) {
      int wdt = r.right - r.left, hgt = r.bottom - r.top;
      r = {x, y, x + wdt, y + hgt};
    }
    if (!(flags & SWP_NOSIZE)) r.right = r.left + std::max(0, cx), r.bottom = r.top + std::max(0, cy);
    if (!(flags & SWP_NOZORDER) && !(w->Style & WS_CHILD)) {
      DWORD ex = w->ExStyle;
      if (insertAfter == HWND_TOPMOST) ex |= WS_EX_TOPMOST;
      if (insertAfter == HWND_NOTOPMOST) ex &= ~WS_EX_TOPMOST;
      zChanged = ex != w->ExStyle || insertAfter == HWND_TOP || insertAfter == HWND_BOTTOM;
      w->ExStyle = ex;
      auto& z = g.TopZ;
      z.erase(std::remove(z.begin(), z.end(), hwnd), z.end());
      if (insertAfter == HWND_BOTTOM) {
        z.push_back(hwnd);
      } else {
        // Topmost windows stay in front of the others.
        auto pos = z.begin();
        if (!(ex & WS_EX_TOPMOST))
          while (pos != z.end()) {
            auto o = Find(*pos);
            if (!o || !(o->ExStyle & WS_EX_TOPMOST)) break;
            ++pos;
          }
        z.insert(pos, hwnd);
      }
      SyncNative(*w);
    }
    if (w->State != 0 && !((flags & SWP_NOMOVE) && (flags & SWP_NOSIZE))) w->State = 0;
  }
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  RECT old;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w) return 0;
    old = w->Rect;
  }
  if (!(old == r))
    Place(hwnd, r, flags & ~(SWP_SHOWWINDOW | SWP_HIDEWINDOW));
  else if (zChanged || (flags & SWP_FRAMECHANGED))
    SendWindowPosChanged(hwnd, flags & ~(SWP_SHOWWINDOW | SWP_HIDEWINDOW));
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  else if (!(flags & (SWP_NOACTIVATE | SWP_HIDEWINDOW)) && !(flags & SWP_NOZORDER) && IsWindowVisible(hwnd) &&
           !(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD))
    SetActiveWindow(hwnd);
  return 1;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  if (!rect) return 0;
  if (hwnd == kDesktop) {
    auto m = Monitors();
    *rect = m[0].Bounds;
    return 1;
  }
  Lock l(G().M);
  auto w = Find(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  *rect = ScreenRect(*w);
  return 1;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  if (!rect) return 0;
  if (hwnd == kDesktop) {
    RECT b = Monitors()[0].Bounds;
    *rect = {0, 0, b.right - b.left, b.bottom - b.top};
    return 1;
  }
  Lock l(G().M);
  auto w = Find(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  SIZE s = ClientSize(*w);
  *rect = {0, 0, s.cx, s.cy};
  return 1;
}

BOOL ClientToScreen(HWND hwnd, POINT* pt) {
  if (!pt) return 0;
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    POINT o = ClientOrigin(w);
    pt->x += o.x;
    pt->y += o.y;
    return BOOL(1);
  });
}

BOOL ScreenToClient(HWND hwnd, POINT* pt) {
  if (!pt) return 0;
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    POINT o = ClientOrigin(w);
    pt->x -= o.x;
    pt->y -= o.y;
    return BOOL(1);
  });
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* wp) {
  if (!wp) return 0;
  Lock l(G().M);
  auto w = Find(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  wp->length = sizeof(WINDOWPLACEMENT);
  wp->flags = 0;
  if (!(w->Style & WS_VISIBLE))
    wp->showCmd = w->PendingShow >= 0 ? UINT(w->PendingShow) : UINT(SW_HIDE);
  else
    wp->showCmd = w->State == 1 ? SW_SHOWMINIMIZED : w->State == 2 ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  wp->ptMinPosition = {-1, -1};
  wp->ptMaxPosition = {-1, -1};
  wp->rcNormalPosition = w->State == 0 ? w->Rect : w->Normal;
  return 1;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* wp) {
  if (!wp) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  bool visible;
  int state;
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    w->Normal = wp->rcNormalPosition;
    visible = (w->Style & WS_VISIBLE) != 0;
    state = w->State;
    if (!visible) {
      // Stored for the next show; the window stays hidden.
      int cmd = int(wp->showCmd);
      if (cmd != SW_HIDE) w->PendingShow = cmd;
      if (cmd == SW_SHOWMAXIMIZED || cmd == SW_MAXIMIZE) w->State = 0;
    }
  }
  if (!visible) {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (w && w->State == 0) w->Rect = wp->rcNormalPosition;
    return 1;
  }
  int cmd = int(wp->showCmd);
  if (cmd == SW_HIDE) {
    // Placement never hides; only the rectangle changes.
    cmd = -1;
  }
  if (cmd < 0 || ((cmd == SW_SHOW || cmd == SW_SHOWNA) && state == 0) ||
      ((cmd == SW_SHOWNORMAL || cmd == SW_RESTORE || cmd == SW_SHOWNOACTIVATE) && state == 0)) {
    if (state == 0) Place(hwnd, wp->rcNormalPosition, SWP_NOZORDER | SWP_NOACTIVATE);
    return 1;
  }
  ShowWindow(hwnd, cmd);
  return 1;
}

BOOL IsIconic(HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
  return w && w->State == 1 && (w->Style & WS_VISIBLE) ? 1 : 0;
}

BOOL IsZoomed(HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
  return w && w->State == 2 ? 1 : 0;
}

namespace {
// The deepest visible, enabled child under a screen point (under the lock).
HWND ChildAt(const std::shared_ptr<TWindow>& w, POINT pt) {
  for (HWND c : w->Children) {
    auto cw = Find(c);
    if (!cw || !(cw->Style & WS_VISIBLE) || cw->Life != 0) continue;
    if (!Contains(ScreenRect(*cw), pt)) continue;
    if (cw->Style & WS_DISABLED) return w->H;
    return ChildAt(cw, pt);
  }
  return w->H;
}

std::vector<HWND> TopsAt(POINT pt) {
  TGlobal& g = G();
  Lock l(g.M);
  std::vector<HWND> r;
  for (HWND t : g.TopZ) {
    auto w = Find(t);
    if (!w || w->Life != 0 || !(w->Style & WS_VISIBLE) || w->State == 1) continue;
    if (!Contains(ScreenRect(*w), pt)) continue;
    r.push_back(ChildAt(w, pt));
  }
  return r;
}

// The window under a point, asking WM_NCHITTEST: HTTRANSPARENT passes the
// point to the parent, or to the next top-level beneath.
HWND HitWindow(POINT pt, LRESULT* hit) {
  for (HWND h : TopsAt(pt)) {
    while (h) {
      LRESULT r = Send(h, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
      if (r != HTTRANSPARENT) {
        if (hit) *hit = r;
        return h;
      }
      Lock l(G().M);
      auto w = Find(h);
      h = w && (w->Style & WS_CHILD) ? w->Parent : nullptr;
    }
  }
  if (hit) *hit = HTNOWHERE;
  return nullptr;
}
}  // namespace

HWND WindowFromPoint(POINT screen) {
  auto t = TopsAt(screen);
  return t.empty() ? nullptr : t.front();
}

// ============================================================================
// Procedures and messages
// ============================================================================

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!proc) return 0;
  return proc(hwnd, msg, wParam, lParam);
}

namespace {
HBRUSH ClassBrush(HWND h) { return reinterpret_cast<HBRUSH>(GetClassLongPtrW(h, GCLP_HBRBACKGROUND)); }

std::uint32_t SysColorBgra(int index) {
  DWORD c = GetSysColor(index);
  return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

void UpdateUiState(HWND h, WORD action, WORD bits) {
  std::vector<HWND> tree;
  {
    Lock l(G().M);
    auto w = Find(h);
    if (!w) return;
    if (action == UIS_SET || action == UIS_INITIALIZE) w->UiState |= bits;
    if (action == UIS_CLEAR) w->UiState &= ~DWORD(bits);
    CollectTree(*w, tree);
  }
  for (HWND t : tree) {
    {
      Lock l(G().M);
      auto w = Find(t);
      if (!w) continue;
      if (action == UIS_SET || action == UIS_INITIALIZE) w->UiState |= bits;
      if (action == UIS_CLEAR) w->UiState &= ~DWORD(bits);
    }
    Send(t, WM_UPDATEUISTATE, MAKEWPARAM(action, bits), 0);
  }
}
}  // namespace

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (msg) {
    case WM_NCCREATE: return 1;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE: Send(hwnd, WM_CLOSE, 0, 0); return 0;
        case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); return 0;
        case SC_MAXIMIZE: ShowWindow(hwnd, SW_MAXIMIZE); return 0;
        case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); return 0;
        default: return 0;
      }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      std::uintptr_t b = reinterpret_cast<std::uintptr_t>(ClassBrush(hwnd));
      if (b == 0 || b > 31) return 0;
      TWindowPixels px;
      if (!LockWindowPixels(hwnd, px)) return 0;
      std::uint32_t c = SysColorBgra(int(b - 1));
      for (int y = 0; y < px.Height; ++y)
        for (int x = 0; x < px.Width; ++x) px.Bits[std::size_t(y) * px.Stride + x] = c;
      UnlockWindowPixels(hwnd, nullptr);
      return 1;
    }
    case WM_NCHITTEST: {
      RECT wr, cr{};
      GetWindowRect(hwnd, &wr);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (!Contains(wr, p)) return HTNOWHERE;
      GetClientRect(hwnd, &cr);
      POINT c = p;
      ScreenToClient(hwnd, &c);
      if (Contains(cr, c)) return HTCLIENT;
      return c.y < 0 && c.x >= 0 && c.x < cr.right ? HTCAPTION : HTNOWHERE;
    }
    case WM_SETCURSOR: {
      HWND parent = nullptr;
      {
        Lock l(G().M);
        auto w = Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      if (parent && Send(parent, WM_SETCURSOR, wParam, lParam)) return 1;
      if (LOWORD(std::uintptr_t(lParam)) == HTCLIENT) {
        HCURSOR c = reinterpret_cast<HCURSOR>(GetClassLongPtrW(hwnd, GCLP_HCURSOR));
        if (c) SetCursor(c);
      } else {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
      }
      return 0;
    }
    case WM_MOUSEACTIVATE: {
      HWND parent = nullptr;
      {
        Lock l(G().M);
        auto w = Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      if (parent) {
        LRESULT r = Send(parent, WM_MOUSEACTIVATE, wParam, lParam);
        if (r) return r;
      }
      return MA_ACTIVATE;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !IsIconic(hwnd)) SetFocus(hwnd);
      return 0;
    case WM_NCACTIVATE: return 1;
    case WM_SETTEXT: {
      {
        Lock l(G().M);
        auto w = Find(hwnd);
        if (!w) return 0;
        w->Text = lParam ? std::u16string(reinterpret_cast<const char16_t*>(lParam)) : std::u16string();
        SyncNative(*w);
      }
      return 1;
    }
    case WM_GETTEXT: {
      auto* buf = reinterpret_cast<char16_t*>(lParam);
      int max = int(wParam);
      if (!buf || max <= 0) return 0;
      std::u16string t = WindowText(hwnd);
      int n = std::min<int>(int(t.size()), max - 1);
      std::memcpy(buf, t.data(), std::size_t(n) * 2);
      buf[n] = 0;
      return n;
    }
    case WM_GETTEXTLENGTH: return LRESULT(WindowText(hwnd).size());
    case WM_CANCELMODE:
      if (GetCapture() == hwnd) ReleaseCapture();
      return 0;
    case WM_CHANGEUISTATE: {
      WORD action = LOWORD(wParam), bits = HIWORD(wParam);
      HWND parent = nullptr;
      {
        Lock l(G().M);
        auto w = Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      if (parent) return Send(parent, WM_CHANGEUISTATE, wParam, lParam);
      UpdateUiState(hwnd, action, bits);
      return 0;
    }
    case WM_UPDATEUISTATE: return 0;
    case WM_QUERYUISTATE: {
      Lock l(G().M);
      auto w = Find(hwnd);
      return w ? LRESULT(w->UiState) : 0;
    }
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      HWND parent = nullptr;
      {
        Lock l(G().M);
        auto w = Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      return parent ? Send(parent, msg, wParam, lParam) : 0;
    }
    default: return 0;
  }
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<TWindow> w;
  std::shared_ptr<TQueue> target;
  {
    Lock l(G().M);
    w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    target = w->Queue;
  }
  if (w->Tid == CurrentThreadId()) return CallProc(w, msg, wParam, lParam);
  // Another thread: queue it there and wait, serving what is sent to us.
  auto me = CurrentQueue();
  auto s = std::make_shared<TSent>();
  s->Hwnd = hwnd;
  s->Msg = msg;
  s->W = wParam;
  s->L = lParam;
  s->Sender = me;
  {
    std::lock_guard<std::mutex> l(target->M);
    if (!target->Alive) return 0;
    target->Sent.push_back(s);
    Wake(*target);
  }
  for (;;) {
    ServeSent(*me);
    std::unique_lock<std::mutex> l(me->M);
    if (s->Done) return s->Result;
    if (!me->Sent.empty()) continue;
    std::uint64_t seen = me->Events;
    me->Cv.wait_for(l, std::chrono::milliseconds(100), [&] { return s->Done || me->Events != seen; });
    if (s->Done) return s->Result;
  }
}

BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<TWindow> w;
  {
    Lock l(G().M);
    w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  if (w->Tid == CurrentThreadId()) {
    CallProc(w, msg, wParam, lParam);
    return 1;
  }
  auto s = std::make_shared<TSent>();
  s->Hwnd = hwnd;
  s->Msg = msg;
  s->W = wParam;
  s->L = lParam;
  s->Notify = true;
  std::lock_guard<std::mutex> l(w->Queue->M);
  if (!w->Queue->Alive) return 0;
  w->Queue->Sent.push_back(s);
  Wake(*w->Queue);
  return 1;
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return PostThreadMessageW(CurrentThreadId(), msg, wParam, lParam);
  std::shared_ptr<TQueue> q;
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w || w->Life == 2) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = w->Queue;
  }
  MSG m;
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = Now();
  {
    Lock l(G().M);
    m.pt = G().Cursor;
  }
  if (!PostTo(q, m)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return 1;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto q = threadId == CurrentThreadId() ? CurrentQueue() : QueueOfThread(threadId);
  MSG m;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = Now();
  if (!PostTo(q, m)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return 1;
}

void PostQuitMessage(int exitCode) {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> l(q->M);
  q->Quit = true;
  q->QuitCode = exitCode;
  Wake(*q);
}

BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg || (hwnd && !IsWindow(hwnd))) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  Fetch(msg, hwnd, filterMin, filterMax, true, true);
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  if (!msg) return 0;
  return Fetch(msg, hwnd, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0, false) ? 1 : 0;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg) return 0;
  return msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN || msg->message == WM_KEYUP ||
                 msg->message == WM_SYSKEYUP
             ? 1
             : 0;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    // A timer procedure runs only while its timer exists.
    bool alive = false;
    auto q = CurrentQueue();
    {
      std::lock_guard<std::mutex> l(q->M);
      for (auto& t : q->Timers)
        if (t.Hwnd == msg->hwnd && t.Id == msg->wParam) alive = true;
    }
    if (alive) reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, Now());
    return 0;
  }
  if (!msg->hwnd) return 0;
  std::shared_ptr<TWindow> w;
  {
    Lock l(G().M);
    w = Find(msg->hwnd);
  }
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (w->Tid != CurrentThreadId()) {
    SetError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return CallProc(w, msg->message, msg->wParam, msg->lParam);
}

BOOL WaitMessageTimeout(std::uint32_t timeoutMs) {
  auto q = CurrentQueue();
  std::uint32_t start = Now();
  for (;;) {
    ServeSent(*q);
    if (q->IsUi) PumpBackend();
    std::uint64_t seen;
    {
      std::lock_guard<std::mutex> l(q->M);
      if (!q->Posted.empty() || q->Quit) return 1;
      seen = q->Events;
    }
    std::uint32_t spent = Now() - start;
    if (spent >= timeoutMs) return 0;
    std::uint32_t left = std::min<std::uint32_t>(timeoutMs - spent, 100);
    if (q->IsUi && G().Backend && G().Backend->WaitsNatively()) {
      G().Backend->Wait(int(left));
    } else {
      std::unique_lock<std::mutex> l(q->M);
      q->Cv.wait_for(l, std::chrono::milliseconds(left), [&] { return q->Events != seen; });
    }
  }
}

BOOL WaitMessage() {
  while (!WaitMessageTimeout(1000)) {
  }
  return 1;
}

// ============================================================================
// Timers
// ============================================================================

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  std::shared_ptr<TQueue> q;
  if (hwnd) {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w || w->Life != 0) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = w->Queue;
  } else {
    q = CurrentQueue();
    Lock l(G().M);
    if (id == 0 || true) id = G().NextThreadTimer++;
  }
  UINT interval = std::clamp<UINT>(elapseMs, 10, 0x7FFFFFFF);
  std::lock_guard<std::mutex> l(q->M);
  if (!q->Alive) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  TTimer t{hwnd, id, interval, Now() + interval, proc};
  bool replaced = false;
  for (auto& o : q->Timers)
    if (o.Hwnd == hwnd && o.Id == id) o = t, replaced = true;
  if (!replaced) q->Timers.push_back(t);
  Wake(*q);
  return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<TQueue> q;
  if (hwnd) {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = w->Queue;
  } else {
    q = CurrentQueue();
  }
  std::lock_guard<std::mutex> l(q->M);
  auto it = std::find_if(q->Timers.begin(), q->Timers.end(),
                         [&](const TTimer& t) { return t.Hwnd == hwnd && t.Id == id; });
  if (it == q->Timers.end()) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  q->Timers.erase(it);
  return 1;
}

// ============================================================================
// Hooks
// ============================================================================

namespace {
struct THookCall {
  std::vector<std::shared_ptr<THook>> Chain;
  std::size_t Index;
};
thread_local std::vector<THookCall*> tHookCalls;

HHOOK HookHandle(const THook* h) { return reinterpret_cast<HHOOK>(const_cast<THook*>(h)); }

// Calls the chain from position i (the hooks removed meanwhile are skipped).
LRESULT CallChainFrom(THookCall& call, std::size_t i, int code, WPARAM wp, LPARAM lp) {
  for (; i < call.Chain.size(); ++i) {
    auto& h = call.Chain[i];
    bool removed;
    {
      Lock l(G().M);
      removed = h->Removed;
    }
    if (removed) continue;
    call.Index = i;
    tHookCalls.push_back(&call);
    struct Pop {
      ~Pop() { tHookCalls.pop_back(); }
    } pop;
    return h->Proc(code, wp, lp);
  }
  return 0;
}

// Runs the keyboard hooks for one key; true when a hook swallowed it.
bool RunKeyboardHooks(WPARAM msg, KBDLLHOOKSTRUCT& k) {
  THookCall call;
  {
    Lock l(G().M);
    call.Chain = G().Hooks;
  }
  if (call.Chain.empty()) return false;
  return CallChainFrom(call, 0, HC_ACTION, msg, reinterpret_cast<LPARAM>(&k)) != 0;
}
}  // namespace

HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE, DWORD threadId) {
  if (idHook != WH_KEYBOARD_LL || !proc || threadId != 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto h = std::make_shared<THook>();
  h->Proc = proc;
  Lock l(G().M);
  G().Hooks.insert(G().Hooks.begin(), h);
  return HookHandle(h.get());
}

HHOOK SetWindowsHookExA(int idHook, HOOKPROC proc, HINSTANCE instance, DWORD threadId) {
  return SetWindowsHookExW(idHook, proc, instance, threadId);
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  TGlobal& g = G();
  Lock l(g.M);
  for (auto it = g.Hooks.begin(); it != g.Hooks.end(); ++it)
    if (HookHandle(it->get()) == hook) {
      (*it)->Removed = true;  // a call in progress skips it from now on
      g.Hooks.erase(it);
      return 1;
    }
  SetError(ERROR_INVALID_HOOK_HANDLE);
  return 0;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
  // Find the call in progress that this hook belongs to.
  for (auto it = tHookCalls.rbegin(); it != tHookCalls.rend(); ++it) {
    THookCall& c = **it;
    if (c.Index < c.Chain.size() && (HookHandle(c.Chain[c.Index].get()) == hook || !hook))
      return CallChainFrom(c, c.Index + 1, code, wParam, lParam);
  }
  return 0;
}

// ============================================================================
// Keyboard, focus, activation, capture, cursor
// ============================================================================

short GetKeyState(int vk) {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> l(q->M);
  std::uint8_t s = q->KeyState[vk & 0xFF];
  return short((s & 0x80 ? 0x8000 : 0) | (s & 1));
}

short GetAsyncKeyState(int vk) {
  Lock l(G().M);
  return (G().Async[vk & 0xFF] & 0x80) ? short(0x8000) : 0;
}

BOOL GetKeyboardState(std::uint8_t* state256) {
  if (!state256) return 0;
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> l(q->M);
  std::memcpy(state256, q->KeyState, 256);
  return 1;
}

int ToUnicode(UINT vk, UINT, const std::uint8_t* state, char16_t* buffer, int bufferSize, UINT) {
  if (!buffer || bufferSize < 1) return 0;
  bool shift = state && ((state[VK_SHIFT] & 0x80) != 0);
  bool caps = state && (state[VK_CAPITAL] & 1);
  bool ctrl = state && (state[VK_CONTROL] & 0x80);
  char16_t c = 0;
  if (vk >= 'A' && vk <= 'Z') {
    c = char16_t((shift != caps) ? vk : vk + 32);
    if (ctrl) c = char16_t(vk - 'A' + 1);
  } else if (vk >= '0' && vk <= '9') {
    static const char16_t kShifted[] = u")!@#$%^&*(";
    c = shift ? kShifted[vk - '0'] : char16_t(vk);
  } else if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) {
    c = char16_t(u'0' + (vk - VK_NUMPAD0));
  } else {
    switch (vk) {
      case VK_SPACE: c = u' '; break;
      case VK_RETURN: c = u'\r'; break;
      case VK_TAB: c = u'\t'; break;
      case VK_BACK: c = 8; break;
      case VK_ESCAPE: c = 27; break;
      case VK_OEM_MINUS: c = shift ? u'_' : u'-'; break;
      case VK_OEM_PLUS: c = shift ? u'+' : u'='; break;
      case VK_OEM_COMMA: c = shift ? u'<' : u','; break;
      case VK_OEM_PERIOD: c = shift ? u'>' : u'.'; break;
      case VK_OEM_1: c = shift ? u':' : u';'; break;
      case VK_OEM_2: c = shift ? u'?' : u'/'; break;
      case VK_OEM_3: c = shift ? u'~' : u'`'; break;
      case VK_OEM_4: c = shift ? u'{' : u'['; break;
      case VK_OEM_5: c = shift ? u'|' : u'\\'; break;
      case VK_OEM_6: c = shift ? u'}' : u']'; break;
      case VK_OEM_7: c = shift ? u'"' : u'\''; break;
      case VK_MULTIPLY: c = u'*'; break;
      case VK_ADD: c = u'+'; break;
      case VK_SUBTRACT: c = u'-'; break;
      case VK_DECIMAL: c = u'.'; break;
      case VK_DIVIDE: c = u'/'; break;
      default: return 0;
    }
  }
  buffer[0] = c;
  return 1;
}

HWND GetFocus() {
  Lock l(G().M);
  return G().Focus;
}

HWND SetFocus(HWND hwnd) {
  TGlobal& g = G();
  HWND old;
  {
    Lock l(g.M);
    old = g.Focus;
    if (hwnd) {
      auto w = Find(hwnd);
      if (!w || w->Life != 0) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (w->Style & WS_DISABLED) return nullptr;
    }
    if (old == hwnd) return old;
  }
  if (hwnd) {
    HWND top;
    {
      Lock l(g.M);
      top = TopLevelOf(Find(hwnd))->H;
    }
    if (GetActiveWindow() != top) {
      SetActiveWindow(top);
      Lock l(g.M);
      if (g.Focus == hwnd) return old;
    }
  }
  {
    Lock l(g.M);
    old = g.Focus;
    g.Focus = hwnd;
  }
  if (old && IsWindow(old)) Send(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd && IsWindow(hwnd)) Send(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetActiveWindow() {
  Lock l(G().M);
  return G().Active;
}

namespace {
void ActivateTop(HWND h, WPARAM how) {
  TGlobal& g = G();
  HWND old;
  {
    Lock l(g.M);
    old = g.Active;
    g.OtherProgramActive = false;
    if (old == h) return;
    g.Active = h;
  }
  if (old && IsWindow(old)) {
    Send(old, WM_NCACTIVATE, 0, 0);
    Send(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(h));
    Lock l(g.M);
    if (g.Focus && (g.Focus == old || IsChild(old, g.Focus))) g.Focus = nullptr;
  }
  if (h && IsWindow(h)) {
    Send(h, WM_NCACTIVATE, 1, 0);
    Send(h, WM_ACTIVATE, how, reinterpret_cast<LPARAM>(old));
  }
}

void DeactivateIf(HWND h) {
  TGlobal& g = G();
  HWND focus;
  {
    Lock l(g.M);
    if (g.Active != h) return;
    g.Active = nullptr;
    focus = g.Focus;
    if (focus && (focus == h || IsChild(h, focus)))
      g.Focus = nullptr;
    else
      focus = nullptr;
  }
  if (IsWindow(h)) {
    Send(h, WM_NCACTIVATE, 0, 0);
    Send(h, WM_ACTIVATE, WA_INACTIVE, 0);
  }
  if (focus && IsWindow(focus)) Send(focus, WM_KILLFOCUS, 0, 0);
}
}  // namespace

HWND SetActiveWindow(HWND hwnd) {
  HWND old = GetActiveWindow();
  if (hwnd) {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w || w->Life != 0) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    hwnd = TopLevelOf(w)->H;
  }
  if (hwnd)
    ActivateTop(hwnd, WA_ACTIVE);
  else if (old)
    DeactivateIf(old);
  return old;
}

HWND GetForegroundWindow() {
  Lock l(G().M);
  return G().OtherProgramActive ? nullptr : G().Active;
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (!IsWindow(hwnd) || hwnd == kDesktop) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  SetActiveWindow(hwnd);
  return 1;
}

HWND GetCapture() {
  Lock l(G().M);
  return G().Capture;
}

HWND SetCapture(HWND hwnd) {
  TGlobal& g = G();
  HWND old;
  {
    Lock l(g.M);
    if (!Find(hwnd)) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    old = g.Capture;
    g.Capture = hwnd;
    if (g.Backend && CurrentThreadId() == g.UiTid) g.Backend->GrabPointer(true);
  }
  if (old && old != hwnd && IsWindow(old)) Send(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
  return old;
}

BOOL ReleaseCapture() {
  TGlobal& g = G();
  HWND old;
  {
    Lock l(g.M);
    old = g.Capture;
    g.Capture = nullptr;
    if (old && g.Backend && CurrentThreadId() == g.UiTid) g.Backend->GrabPointer(false);
  }
  if (old && IsWindow(old)) Send(old, WM_CAPTURECHANGED, 0, 0);
  return 1;
}

BOOL GetCursorPos(POINT* pt) {
  if (!pt) return 0;
  *pt = CursorNow();
  return 1;
}

HCURSOR LoadCursorW(HINSTANCE instance, std::uintptr_t cursorId) {
  if (instance) return nullptr;  // no cursor resources of our own here
  switch (cursorId) {
    case IDC_ARROW: case IDC_IBEAM: case IDC_WAIT: case IDC_CROSS: case IDC_UPARROW: case IDC_SIZENWSE:
    case IDC_SIZENESW: case IDC_SIZEWE: case IDC_SIZENS: case IDC_SIZEALL: case IDC_NO: case IDC_HAND:
    case IDC_APPSTARTING: case IDC_HELP:
      return reinterpret_cast<HCURSOR>(cursorId);
    default: return nullptr;
  }
}

HCURSOR SetCursor(HCURSOR cursor) {
  TGlobal& g = G();
  Lock l(g.M);
  std::uintptr_t old = g.CursorId;
  std::uintptr_t id = reinterpret_cast<std::uintptr_t>(cursor);
  if (old != id) {
    g.CursorId = id;
    if (g.Backend && CurrentThreadId() == g.UiTid) g.Backend->SetCursor(id);
  }
  return reinterpret_cast<HCURSOR>(old);
}

HCURSOR GetCursor() {
  Lock l(G().M);
  return reinterpret_cast<HCURSOR>(G().CursorId);
}

// ============================================================================
// Painting
// ============================================================================

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  std::shared_ptr<TQueue> q;
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    SIZE s = ClientSize(*w);
    RECT all{0, 0, s.cx, s.cy};
    RECT r = rect ? Intersect(*rect, all) : all;
    if (Empty(r)) return 1;
    w->Update = w->HasUpdate ? Union(w->Update, r) : r;
    w->HasUpdate = true;
    if (erase) w->UpdateErase = true;
    // Children are covered by their parent's area.
    std::vector<HWND> tree;
    CollectTree(*w, tree);
    for (std::size_t i = 1; i < tree.size(); ++i) {
      auto c = Find(tree[i]);
      if (!c) continue;
      SIZE cs = ClientSize(*c);
      c->Update = {0, 0, cs.cx, cs.cy};
      c->HasUpdate = cs.cx > 0 && cs.cy > 0;
      if (erase) c->UpdateErase = true;
    }
    q = w->Queue;
  }
  std::lock_guard<std::mutex> l(q->M);
  Wake(*q);
  return 1;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  Lock l(G().M);
  auto w = Find(hwnd);
  if (!w) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!rect) {
    w->HasUpdate = false;
    w->UpdateErase = false;
    return 1;
  }
  // A rectangle list is not kept: what remains is the bounding box.
  RECT u = w->Update;
  if (rect->left <= u.left && rect->right >= u.right) {
    if (rect->top <= u.top && rect->bottom > u.top) u.top = std::min(u.bottom, rect->bottom);
    if (rect->bottom >= u.bottom && rect->top < u.bottom) u.bottom = std::max(u.top, rect->top);
  }
  if (rect->top <= u.top && rect->bottom >= u.bottom) {
    if (rect->left <= u.left && rect->right > u.left) u.left = std::min(u.right, rect->right);
    if (rect->right >= u.right && rect->left < u.right) u.right = std::max(u.left, rect->left);
  }
  w->Update = u;
  if (Empty(u)) w->HasUpdate = false, w->UpdateErase = false;
  return 1;
}

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    if (rect) *rect = w.HasUpdate ? w.Update : RECT{};
    return BOOL(w.HasUpdate ? 1 : 0);
  });
}

BOOL UpdateWindow(HWND hwnd) {
  bool has;
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    has = w->HasUpdate && (w->Style & WS_VISIBLE);
  }
  if (has && IsWindowVisible(hwnd)) Send(hwnd, WM_PAINT, 0, 0);
  return 1;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  if (!ps) return nullptr;
  bool erase;
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    ps->rcPaint = w->HasUpdate ? w->Update : RECT{};
    erase = w->UpdateErase;
    w->HasUpdate = false;
    w->UpdateErase = false;
  }
  // The drawing layer maps this token back to the window.
  ps->hdc = reinterpret_cast<HDC>(hwnd);
  ps->fErase = 0;
  if (erase) ps->fErase = Send(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(ps->hdc), 0) ? 0 : 1;
  return ps->hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (!IsWindow(hwnd)) return 0;
  UnlockWindowPixels(hwnd, ps ? &ps->rcPaint : nullptr);
  return 1;
}

namespace {
// The pixel lock taken by LockWindowPixels, per thread, for the unlock.
thread_local std::vector<std::shared_ptr<std::mutex>> tPixLocks;
}  // namespace

bool LockWindowPixels(HWND hwnd, TWindowPixels& px) {
  std::shared_ptr<std::mutex> lock;
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (!w) return false;
    auto top = TopLevelOf(w);
    if (!IsWindowVisible(hwnd) || !top) return false;
    SizeFrameBuffer(*top);
    POINT to = ClientOrigin(*top), wo = ClientOrigin(*w);
    SIZE s = ClientSize(*w);
    int ox = wo.x - to.x, oy = wo.y - to.y;
    // Clip to the top-level's buffer.
    int x0 = std::max(0, ox), y0 = std::max(0, oy);
    int x1 = std::min(top->FbW, ox + s.cx), y1 = std::min(top->FbH, oy + s.cy);
    if (x1 <= x0 || y1 <= y0) return false;
    lock = top->PixLock;
    lock->lock();
    px.Bits = top->Fb.data() + std::size_t(y0) * top->FbW + x0;
    px.Stride = top->FbW;
    px.Width = x1 - x0;
    px.Height = y1 - y0;
    px.Origin = {x0, y0};
  }
  tPixLocks.push_back(lock);
  return true;
}

void UnlockWindowPixels(HWND hwnd, const RECT*) {
  TGlobal& g = G();
  if (!tPixLocks.empty()) {
    tPixLocks.back()->unlock();
    tPixLocks.pop_back();
  }
  std::shared_ptr<TQueue> ui;
  {
    Lock l(g.M);
    auto w = Find(hwnd);
    if (!w) return;
    auto top = TopLevelOf(w);
    if (!top) return;
    top->NeedsPresent = true;
    auto it = g.Queues.find(g.UiTid);
    if (it != g.Queues.end()) ui = it->second;
  }
  if (CurrentThreadId() == g.UiTid)
    PresentPending();
  else if (ui) {
    std::lock_guard<std::mutex> l(ui->M);
    Wake(*ui);
  }
}

// ============================================================================
// Monitors and screen
// ============================================================================

namespace {
HMONITOR MonHandle(std::size_t i) { return reinterpret_cast<HMONITOR>(i + 1); }
}  // namespace

BOOL EnumDisplayMonitors(HDC, const RECT* clip, MONITORENUMPROC proc, LPARAM data) {
  if (!proc) return 0;
  std::vector<user::TMonitorInfo> m;
  {
    Lock l(G().M);
    m = Monitors();
  }
  for (std::size_t i = 0; i < m.size(); ++i) {
    RECT r = m[i].Bounds;
    if (clip) {
      r = Intersect(r, *clip);
      if (Empty(r)) continue;
    }
    if (!proc(MonHandle(i), nullptr, &r, data)) break;
  }
  return 1;
}

BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info) {
  if (!info || info->cbSize < sizeof(MONITORINFO)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<user::TMonitorInfo> m;
  {
    Lock l(G().M);
    m = Monitors();
  }
  std::uintptr_t i = reinterpret_cast<std::uintptr_t>(monitor);
  if (i == 0 || i > m.size()) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto& d = m[i - 1];
  info->rcMonitor = d.Bounds;
  info->rcWork = d.Work;
  info->dwFlags = d.Primary ? MONITORINFOF_PRIMARY : 0;
  if (info->cbSize >= sizeof(MONITORINFOEXA)) {
    auto* ex = static_cast<MONITORINFOEXA*>(info);
    std::string name = "\\\\.\\DISPLAY" + std::to_string(i);
    std::memset(ex->szDevice, 0, sizeof ex->szDevice);
    std::memcpy(ex->szDevice, name.data(), std::min(name.size(), sizeof ex->szDevice - 1));
  }
  return 1;
}

HMONITOR MonitorFromRect(const RECT* rect, DWORD flags) {
  if (!rect) return nullptr;
  std::vector<user::TMonitorInfo> m;
  {
    Lock l(G().M);
    m = Monitors();
  }
  // The monitor with the largest intersection, else by the flags.
  long long best = 0;
  std::size_t bi = 0;
  bool found = false;
  RECT r = *rect;
  if (Empty(r)) r.right = r.left + 1, r.bottom = r.top + 1;
  for (std::size_t i = 0; i < m.size(); ++i) {
    RECT x = Intersect(m[i].Bounds, r);
    long long a = Empty(x) ? 0 : (long long)(x.right - x.left) * (x.bottom - x.top);
    if (a > best) best = a, bi = i, found = true;
  }
  if (found) return MonHandle(bi);
  if (flags == MONITOR_DEFAULTTOPRIMARY) return MonHandle(0);
  if (flags == MONITOR_DEFAULTTONEAREST) {
    long long bd = -1;
    POINT c{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    for (std::size_t i = 0; i < m.size(); ++i) {
      auto& b = m[i].Bounds;
      long long dx = c.x < b.left ? b.left - c.x : c.x >= b.right ? c.x - b.right + 1 : 0;
      long long dy = c.y < b.top ? b.top - c.y : c.y >= b.bottom ? c.y - b.bottom + 1 : 0;
      long long d = dx * dx + dy * dy;
      if (bd < 0 || d < bd) bd = d, bi = i;
    }
    return MonHandle(bi);
  }
  return nullptr;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD flags) {
  RECT r{pt.x, pt.y, pt.x + 1, pt.y + 1};
  return MonitorFromRect(&r, flags);
}

HMONITOR MonitorFromWindow(HWND hwnd, DWORD flags) {
  RECT r;
  if (!GetWindowRect(hwnd, &r)) return flags == MONITOR_DEFAULTTONULL ? nullptr : MonHandle(0);
  {
    Lock l(G().M);
    auto w = Find(hwnd);
    if (w && w->State == 1) r = w->Normal;
  }
  return MonitorFromRect(&r, flags);
}

int GetSystemMetrics(int index) {
  std::vector<user::TMonitorInfo> m;
  {
    Lock l(G().M);
    m = Monitors();
  }
  switch (index) {
    case SM_CXSCREEN: return m[0].Bounds.right - m[0].Bounds.left;
    case SM_CYSCREEN: return m[0].Bounds.bottom - m[0].Bounds.top;
    case SM_CXVSCROLL: case SM_CYHSCROLL: case SM_CYVSCROLL: case SM_CXHSCROLL: case SM_CYVTHUMB:
    case SM_CXHTHUMB: return 17;
    case SM_CYCAPTION: return 23;
    case SM_CXBORDER: case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME: case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME: case SM_CYFRAME: return 4;
    case SM_CMONITORS: return int(m.size());
    case SM_CXVIRTUALSCREEN: case SM_CYVIRTUALSCREEN: {
      RECT u{};
      for (auto& i : m) u = Union(u, i.Bounds);
      return index == SM_CXVIRTUALSCREEN ? u.right - u.left : u.bottom - u.top;
    }
    default: return 0;
  }
}

BOOL SystemParametersInfoA(UINT action, UINT, void* data, UINT) {
  switch (action) {
    case SPI_GETWORKAREA: {
      if (!data) return 0;
      Lock l(G().M);
      *static_cast<RECT*>(data) = Monitors()[0].Work;
      return 1;
    }
    case SPI_GETKEYBOARDDELAY:
      if (!data) return 0;
      *static_cast<int*>(data) = 1;
      return 1;
    case SPI_GETKEYBOARDSPEED:
      if (!data) return 0;
      *static_cast<int*>(data) = 31;
      return 1;
    case SPI_SETSCREENSAVEACTIVE:
    case SPI_SETSCREENSAVERRUNNING: return 1;
    default: SetError(ERROR_INVALID_PARAMETER); return 0;
  }
}

HWND GetDesktopWindow() { return kDesktop; }

int ScreenDeviceCaps(int index) {
  std::vector<user::TMonitorInfo> m;
  {
    Lock l(G().M);
    m = Monitors();
  }
  switch (index) {
    case BITSPIXEL: return m[0].BitsPerPixel;
    case LOGPIXELSX: case LOGPIXELSY: return m[0].Dpi;
    case VREFRESH: return m[0].Refresh;
    case HORZRES: return m[0].Bounds.right - m[0].Bounds.left;
    case VERTRES: return m[0].Bounds.bottom - m[0].Bounds.top;
    default: return 0;
  }
}

DWORD GetSysColor(int index) {
  // The usual light palette (0x00BBGGRR).
  static const DWORD kColors[31] = {
      0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000, 0x000000,
      0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xD77800, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000,
      0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000, 0xE1FFFF, 0x000000, 0xCC6600, 0xEAD1B9, 0xF2E4D7, 0xD77800,
      0xF0F0F0};
  return index >= 0 && index < 31 ? kColors[index] : 0;
}

void* GetUserProcAddress(const char* name) {
  if (!name) return nullptr;
  std::string n(name);
  bool mm, wts;
  {
    Lock l(G().M);
    mm = G().MultiMonApi;
    wts = G().WtsApi;
  }
  if (mm) {
    if (n == "EnumDisplayMonitors") return reinterpret_cast<void*>(&EnumDisplayMonitors);
    if (n == "GetMonitorInfoA") return reinterpret_cast<void*>(&GetMonitorInfoA);
    if (n == "MonitorFromWindow") return reinterpret_cast<void*>(&MonitorFromWindow);
    if (n == "MonitorFromPoint") return reinterpret_cast<void*>(&MonitorFromPoint);
    if (n == "MonitorFromRect") return reinterpret_cast<void*>(&MonitorFromRect);
  }
  if (wts) {
    if (n == "WTSRegisterSessionNotification") return reinterpret_cast<void*>(&WTSRegisterSessionNotification);
    if (n == "WTSUnRegisterSessionNotification")
      return reinterpret_cast<void*>(&WTSUnRegisterSessionNotification);
  }
  return nullptr;
}

// ============================================================================
// Message boxes and sessions
// ============================================================================

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
  TGlobal& g = G();
  std::u16string t = FromChars(text), c = caption ? std::u16string(caption) : std::u16string(u"Error");
  int answer = user::DefaultMessageBoxAnswer(type);
  NativeWin native = 0;
  bool scripted = false;
  {
    Lock l(g.M);
    std::string line = ToUtf8(c) + ": " + ToUtf8(t);
    for (char& ch : line)
      if (ch == '\r' || ch == '\n') ch = ' ';
    g.MbShown.push_back(line);
    if (!g.MbScript.empty()) {
      answer = g.MbScript.front();
      g.MbScript.pop_front();
      scripted = true;
    }
    if (auto w = Find(owner)) native = TopLevelOf(w)->Native;
  }
  if (scripted) return answer;
  if (g.Backend && CurrentThreadId() == g.UiTid) return g.Backend->MessageBox(native, t, c, type, answer);
  std::string line = ToUtf8(c) + ": " + ToUtf8(t);
  for (char& ch : line)
    if (ch == '\r' || ch == '\n') ch = ' ';
  WriteStdErr(line + "\n");
  return answer;
}

BOOL WTSRegisterSessionNotification(HWND hwnd, DWORD) {
  return OnWindow(hwnd, BOOL(0), [](TWindow& w) { return BOOL(w.Wts = true); });
}

BOOL WTSUnRegisterSessionNotification(HWND hwnd) {
  return OnWindow(hwnd, BOOL(0), [](TWindow& w) {
    w.Wts = false;
    return BOOL(1);
  });
}

// ============================================================================
// Checks of the real display
// ============================================================================

namespace {
NativeWin NativeOf(HWND h) {
  Lock l(G().M);
  auto w = Find(h);
  return w ? TopLevelOf(w)->Native : 0;
}
}  // namespace

bool InjectNativeClick(HWND hwnd, POINT client, int button) {
  NativeWin n = NativeOf(hwnd);
  Lock l(G().M);
  return n && G().Backend && CurrentThreadId() == G().UiTid && G().Backend->TestClick(n, client, button);
}

bool ReadNativePixel(HWND hwnd, POINT client, std::uint32_t& bgra) {
  NativeWin n = NativeOf(hwnd);
  Lock l(G().M);
  return n && G().Backend && CurrentThreadId() == G().UiTid && G().Backend->TestPixel(n, client, bgra);
}

int NativeWindowCount() {
  Lock l(G().M);
  return G().Backend ? G().Backend->TestWindowCount() : 0;
}

// ============================================================================
// Input from the back ends
// ============================================================================

namespace {

class TSink final : public user::TInputSink {
public:
  void Key(UINT vk, UINT scan, bool extended, bool down, bool repeat) override {
    TGlobal& g = G();
    vk &= 0xFF;
    bool alt;
    {
      Lock l(g.M);
      alt = (g.Async[VK_MENU] & 0x80) != 0 || (vk == VK_MENU && down);
    }
    bool sys = alt || vk == VK_F10;
    bool ctrl;
    {
      Lock l(g.M);
      ctrl = (g.Async[VK_CONTROL] & 0x80) != 0;
    }
    if (ctrl && vk != VK_MENU && !(alt && vk != VK_MENU)) sys = vk == VK_F10;
    UINT msg = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    KBDLLHOOKSTRUCT k{vk, scan, DWORD((extended ? LLKHF_EXTENDED : 0) | (alt ? LLKHF_ALTDOWN : 0) |
                                        (down ? 0 : LLKHF_UP)),
                      Now(), 0};
    if (RunKeyboardHooks(msg, k)) return;  // swallowed
    HWND target;
    bool prev;
    {
      Lock l(g.M);
      prev = (g.Async[vk] & 0x80) != 0;
      SetKey(g.Async, vk, down);
      if (vk == VK_SHIFT) SetKey(g.Async, scan == 0x36 ? VK_RSHIFT : VK_LSHIFT, down);
      if (vk == VK_CONTROL) SetKey(g.Async, extended ? VK_RCONTROL : VK_LCONTROL, down);
      if (vk == VK_MENU) SetKey(g.Async, extended ? VK_RMENU : VK_LMENU, down);
      target = g.Focus;
      if (!target) {
        // Nothing has the focus: the active window gets the WM_SYS variant.
        target = g.Active;
        msg = down ? WM_SYSKEYDOWN : WM_SYSKEYUP;
      }
    }
    if (!target) return;
    std::uint32_t lp = 1 | ((scan & 0xFF) << 16) | (extended ? 1u << 24 : 0) | (alt ? 1u << 29 : 0);
    if (down) {
      if (repeat || prev) lp |= 1u << 30;
    } else {
      lp |= (1u << 30) | (1u << 31);
    }
    Post(target, msg, vk, LPARAM(std::int32_t(lp)));
  }

  void Text(const std::u16string& chars) override {
    HWND target;
    {
      Lock l(G().M);
      target = G().Focus ? G().Focus : G().Active;
    }
    if (!target) return;
    for (char16_t c : chars) Post(target, WM_CHAR, c, 1);
  }

  void MouseMove(POINT screen) override {
    HWND target;
    {
      Lock l(G().M);
      G().Cursor = screen;
      target = G().Capture;
    }
    LRESULT hit = HTCLIENT;
    if (!target) target = HitWindow(screen, &hit);
    if (!target) return;
    if (!GetCapture()) Send(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), MAKELPARAM(int(hit), WM_MOUSEMOVE));
    PostMouse(target, WM_MOUSEMOVE, screen, true);
  }

  void Button(int button, bool down, int clicks, POINT screen) override {
    TGlobal& g = G();
    UINT vk = button == 1 ? VK_LBUTTON : button == 2 ? VK_RBUTTON : VK_MBUTTON;
    HWND target;
    {
      Lock l(g.M);
      g.Cursor = screen;
      SetKey(g.Async, vk, down);
      target = g.Capture;
    }
    LRESULT hit = HTCLIENT;
    if (!target) target = HitWindow(screen, &hit);
    if (!target) return;
    UINT base = button == 1 ? WM_LBUTTONDOWN : button == 2 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
    UINT msg = base + (down ? 0 : 1);
    if (down) {
      if (clicks >= 2 && (clicks % 2) == 0 && (GetClassLongPtrW(target, GCL_STYLE) & CS_DBLCLKS)) msg = base + 2;
      // A press in an inactive top-level activates it unless it declines.
      HWND top;
      {
        Lock l(g.M);
        auto w = Find(target);
        if (!w) return;
        top = TopLevelOf(w)->H;
      }
      if (GetActiveWindow() != top || GetForegroundWindow() != top) {
        LRESULT r = Send(target, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(top), MAKELPARAM(int(hit), int(base)));
        if (r != MA_NOACTIVATE && r != MA_NOACTIVATEANDEAT && IsWindow(top)) ActivateTop(top, WA_CLICKACTIVE);
        if (r == MA_ACTIVATEANDEAT || r == MA_NOACTIVATEANDEAT) return;
      }
      if (!IsWindow(target)) return;
    }
    PostMouse(target, msg, screen, false);
  }

  void Wheel(int delta, bool horizontal, POINT screen) override {
    HWND target;
    {
      Lock l(G().M);
      G().Cursor = screen;
      target = G().Focus ? G().Focus : G().Active;
    }
    if (!target) target = HitWindow(screen, nullptr);
    if (!target) return;
    Post(target, horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL, MAKEWPARAM(int(KeyFlags()), delta),
         MAKELPARAM(screen.x, screen.y));
  }

  void Moved(NativeWin win, RECT client) override {
    HWND h = FromNative(win);
    if (!h) return;
    RECT r;
    {
      Lock l(G().M);
      auto w = Find(h);
      if (!w) return;
      RECT i = Insets(w->Style);
      r = {client.left - i.left, client.top - i.top, client.right + i.right, client.bottom + i.bottom};
      if (r == w->Rect) return;
      w->Rect = r;
      if (w->State == 0) w->Normal = r;
      SizeFrameBuffer(*w);
    }
    InvalidateAll(h, true);
    SendWindowPosChanged(h, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Focus(NativeWin win, bool gained) override {
    HWND h = FromNative(win);
    if (!h) return;
    if (gained) {
      ActivateTop(h, WA_ACTIVE);
    } else {
      DeactivateIf(h);
      Lock l(G().M);
      G().OtherProgramActive = true;
    }
  }

  void CloseRequested(NativeWin win) override {
    if (HWND h = FromNative(win)) Send(h, WM_SYSCOMMAND, SC_CLOSE, 0);
  }

  void Exposed(NativeWin win) override {
    if (HWND h = FromNative(win)) {
      Lock l(G().M);
      if (auto w = Find(h)) w->NeedsPresent = true;
    }
  }

  HWND FromNative(NativeWin win) {
    Lock l(G().M);
    for (auto& w : G().Slots)
      if (w && w->Native == win && w->Life == 0) return w->H;
    return nullptr;
  }

  static WPARAM KeyFlags() {
    Lock l(G().M);
    auto& a = G().Async;
    WPARAM mk = 0;
    if (a[VK_LBUTTON] & 0x80) mk |= MK_LBUTTON;
    if (a[VK_RBUTTON] & 0x80) mk |= MK_RBUTTON;
    if (a[VK_MBUTTON] & 0x80) mk |= MK_MBUTTON;
    if (a[VK_SHIFT] & 0x80) mk |= MK_SHIFT;
    if (a[VK_CONTROL] & 0x80) mk |= MK_CONTROL;
    return mk;
  }

  static void Post(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    std::shared_ptr<TQueue> q;
    {
      Lock l(G().M);
      auto w = Find(h);
      if (!w) return;
      q = w->Queue;
    }
    MSG m;
    m.hwnd = h;
    m.message = msg;
    m.wParam = wp;
    m.lParam = lp;
    m.time = Now();
    {
      Lock l(G().M);
      m.pt = G().Cursor;
    }
    PostTo(q, m);
  }

  static void PostMouse(HWND h, UINT msg, POINT screen, bool coalesce) {
    POINT c = screen;
    ScreenToClient(h, &c);
    std::shared_ptr<TQueue> q;
    {
      Lock l(G().M);
      auto w = Find(h);
      if (!w) return;
      q = w->Queue;
    }
    MSG m;
    m.hwnd = h;
    m.message = msg;
    m.wParam = KeyFlags();
    m.lParam = MAKELPARAM(c.x, c.y);
    m.time = Now();
    m.pt = screen;
    PostTo(q, m, coalesce);
  }
};

TSink& Sink() {
  static TSink* s = new TSink;
  return *s;
}

}  // namespace

// ============================================================================
// Headless controls
// ============================================================================

namespace headless {

void SetMonitors(const std::vector<TMonitorDesc>& monitors) {
  Lock l(G().M);
  G().HeadlessMonitors = monitors;
}

void SetMultiMonitorApiAvailable(bool available) {
  Lock l(G().M);
  G().MultiMonApi = available;
}

void SetSessionApiAvailable(bool available) {
  Lock l(G().M);
  G().WtsApi = available;
}

void SetSessionLocked(bool locked) {
  std::vector<HWND> targets;
  {
    Lock l(G().M);
    for (auto& w : G().Slots)
      if (w && w->Life == 0 && w->Wts) targets.push_back(w->H);
  }
  for (HWND h : targets) SendMessageW(h, WM_WTSSESSION_CHANGE, locked ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK, 1);
}

void Key(UINT vk, bool down, bool repeat) {
  static const UINT kScan[256] = {};
  (void)kScan;
  UINT scan = vk == VK_SHIFT ? 0x2A : vk == VK_CONTROL ? 0x1D : vk == VK_MENU ? 0x38 : (vk & 0x7F);
  Sink().Key(vk, scan, false, down, repeat);
}

void Type(const std::u16string& text) { Sink().Text(text); }

void MoveMouse(POINT screen) { Sink().MouseMove(screen); }

void Press(int button) {
  TGlobal& g = G();
  POINT p;
  int clicks = 1;
  {
    Lock l(g.M);
    p = g.Cursor;
    std::uint32_t now = Now();
    if (g.LastButton == button && now - g.LastDownTime <= 500 && std::abs(p.x - g.LastDownPt.x) <= 4 &&
        std::abs(p.y - g.LastDownPt.y) <= 4) {
      clicks = 2;
      g.LastButton = 0;
    } else {
      g.LastButton = button;
    }
    g.LastDownTime = now;
    g.LastDownPt = p;
  }
  Sink().Button(button, true, clicks, p);
}

void Release(int button) {
  POINT p;
  {
    Lock l(G().M);
    p = G().Cursor;
  }
  Sink().Button(button, false, 1, p);
}

void Click(int button, POINT screen) {
  MoveMouse(screen);
  Press(button);
  Release(button);
}

void Wheel(int delta, POINT screen) { Sink().Wheel(delta, false, screen); }

void ActivateOtherProgram() {
  HWND a = GetActiveWindow();
  if (a) DeactivateIf(a);
  Lock l(G().M);
  G().OtherProgramActive = true;
}

void Activate(HWND hwnd) {
  if (IsWindow(hwnd)) ActivateTop(hwnd, WA_ACTIVE);
}

void RequestClose(HWND hwnd) {
  if (IsWindow(hwnd)) SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void ScriptMessageBox(int answer) {
  Lock l(G().M);
  G().MbScript.push_back(answer);
}

std::vector<std::string> MessageBoxesShown() {
  Lock l(G().M);
  return G().MbShown;
}

std::vector<std::uint32_t> CaptureClient(HWND hwnd, int& width, int& height) {
  width = height = 0;
  TWindowPixels px;
  if (!LockWindowPixels(hwnd, px)) return {};
  std::vector<std::uint32_t> out(std::size_t(px.Width) * px.Height);
  for (int y = 0; y < px.Height; ++y)
    std::memcpy(&out[std::size_t(y) * px.Width], px.Bits + std::size_t(y) * px.Stride, std::size_t(px.Width) * 4);
  width = px.Width;
  height = px.Height;
  if (!tPixLocks.empty()) {
    tPixLocks.back()->unlock();
    tPixLocks.pop_back();
  }
  return out;
}

int PresentCount(HWND hwnd) {
  Lock l(G().M);
  auto w = Find(hwnd);
  return w ? w->Presents : 0;
}

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
  TGlobal& g = G();
  std::vector<HWND> mine;
  {
    Lock l(g.M);
    for (HWND h : g.Created)
      if (auto w = Find(h); w && w->Tid == CurrentThreadId()) mine.push_back(h);
  }
  for (HWND h : mine) {
    try {
      if (IsWindow(h)) DestroyWindow(h);
    } catch (...) {
    }
  }
  Lock l(g.M);
  // Windows of other threads go without messages.
  for (std::size_t i = 1; i < g.Slots.size(); ++i)
    if (g.Slots[i]) {
      if (g.Slots[i]->Native && g.Backend) g.Backend->Destroy(g.Slots[i]->Native);
      g.Slots[i]->Life = 2;
      g.Slots[i].reset();
      g.FreeSlots.push_back(std::uint32_t(i));
    }
  g.TopZ.clear();
  g.Created.clear();
  g.Classes.clear();
  g.Hooks.clear();
  g.Active = g.Focus = g.Capture = nullptr;
  g.OtherProgramActive = false;
  std::memset(g.Async, 0, sizeof g.Async);
  g.HeadlessMonitors.clear();
  g.MultiMonApi = g.WtsApi = true;
  g.MbScript.clear();
  g.MbShown.clear();
  g.Cursor = {};
  g.LastButton = 0;
  g.CursorId = IDC_ARROW;
  if (auto q = tQueue.Q) {
    std::lock_guard<std::mutex> ql(q->M);
    q->Posted.clear();
    q->Timers.clear();
    q->Quit = false;
    std::memset(q->KeyState, 0, sizeof q->KeyState);
  }
}

}  // namespace headless

}  // namespace plat
