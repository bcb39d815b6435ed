#pragma once
// The window manager's shared state: the records of classes, windows, queues,
// timers and hooks, and the one object that holds them behind a recursive
// lock. Internal to Platform/User; each unit (windows, queues, timers, hooks,
// input, painting, monitors, message boxes) works on its part of it.
//
// Locking: the manager's lock guards everything it holds and the fields of
// the window records; a queue's own mutex guards that queue. A queue's mutex
// may be taken under the manager's lock; under a queue's mutex only the
// message filter takes the manager's lock, briefly. Window procedures and
// hooks are always called with neither held.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Gdi/PlatRegion.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatCapture.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserBackend.h"
#include "Platform/User/PlatUserHeadless.h"

namespace plat::user {

struct TQueue;

// Where a window is in its life: destroying from the start of DestroyWindow
// until its WM_NCDESTROY has been handled, then gone (its handle is stale).
enum class TWindowLife : std::uint8_t { Alive, Destroying, Gone };

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

// A message sent to another thread's window, completed by that thread.
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

// The message queue of one thread, made on its first use.
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

// A top-level's frame buffer: FbW x FbH pixels in memory from the back end.
class TFrameBuffer {
public:
  std::uint32_t* data() const { return memory_ ? memory_->Bits() : nullptr; }
  std::uint32_t& operator[](std::size_t i) const { return data()[i]; }
  const TPixelMemory* Memory() const { return memory_.get(); }
  void Reset(std::unique_ptr<TPixelMemory> memory) { memory_ = std::move(memory); }

private:
  std::unique_ptr<TPixelMemory> memory_;
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
  TShowState State = TShowState::Normal;
  RECT Normal;
  std::optional<int> PendingShow;  // SW_ command stored by placement on a hidden window
  std::shared_ptr<TQueue> Queue;
  std::uint32_t Tid = 0;
  TWindowLife Life = TWindowLife::Alive;
  DWORD UiState = 0;
  bool Wts = false;  // registered for session notifications
  // Painting: the update area, and for a top-level its frame buffer and
  // native window.
  bool HasUpdate = false, UpdateErase = false;
  gdi::TRegion Update;  // client coordinates; HasUpdate == !Update.Empty()
  // Layered windows: attributes (constant alpha, colour key) or an image given
  // by UpdateLayeredWindow (premultiplied B, G, R, A, window-sized).
  enum class TLayered : std::uint8_t { None, Attributes, Image } Layered = TLayered::None;
  DWORD LayeredFlags = 0, LayeredKey = 0;
  std::uint8_t LayeredAlpha = 255;
  std::vector<std::uint32_t> LayeredImage;
  int LayeredW = 0, LayeredH = 0;
  HFONT Font = nullptr;  // WM_SETFONT
  NativeWin Native = 0;
  // A top-level the display keeps out of sight (minimised or unmapped by a
  // window manager or another program): its frames are not handed on.
  bool Unseen = false;
  TFrameBuffer Fb;
  int FbW = 0, FbH = 0;
  int Presents = 0;
  bool NeedsPresent = false;
  std::shared_ptr<std::mutex> PixLock = std::make_shared<std::mutex>();
  // The show time of the frame whose pixels the buffer holds (-1: none);
  // guarded by PixLock, as the pixels are.
  std::int64_t FbShowTime = -1;
  RECT FbShowArea{};  // where that frame's pixels lie in the buffer
};

struct THook {
  HOOKPROC Proc;
  bool Removed = false;
};

// Windows by handle: a handle is a slot and the slot's generation.
struct TWindowTable {
  std::vector<std::shared_ptr<TWindow>> Slots;  // index 0 unused
  std::vector<std::uint32_t> Gens;
  std::vector<std::uint32_t> FreeSlots;
  std::vector<HWND> TopZ;     // top-levels, front first
  std::vector<HWND> Created;  // top-levels in creation order
};

// Activation, focus, capture, the pointer and the keys as the display sees them.
struct TInputState {
  HWND Active = nullptr, Focus = nullptr, Capture = nullptr;
  bool OtherProgramActive = false;
  POINT Cursor;
  HWND PointerTop = nullptr;  // the top-level the pointer was last moved over
  std::uint8_t Async[256] = {};
  // The top-level each held key was pressed in: its repeats go there only.
  HWND KeyPressedIn[256] = {};
  std::uintptr_t CursorId = IDC_ARROW;
  // The last press, for double clicks.
  int LastButton = 0;
  std::uint32_t LastDownTime = 0;
  POINT LastDownPt;
};

// What the headless controls set about the screen and the optional functions.
struct TScreenSettings {
  std::vector<headless::TMonitorDesc> Monitors;
  bool MultiMonApi = true, WtsApi = true;
};

struct TMessageBoxLog {
  std::deque<int> Script;         // answers of the next boxes
  std::vector<std::string> Shown;  // "caption: text"
};

class TWindowManager {
public:
  using TGuard = std::lock_guard<std::recursive_mutex>;

  [[nodiscard]] TGuard Lock() { return TGuard(Mutex); }

  // Under Lock(): the window of a handle; nullptr when stale or gone.
  std::shared_ptr<TWindow> Find(HWND h) const;
  // Whether the calling thread is the UI thread (the only one that talks to
  // the back end).
  bool OnUiThread() const;

  // The display.
  std::unique_ptr<TBackend> Backend;
  std::atomic<TBackend*> WakeTarget{nullptr};  // the back end, for wakes from any thread
  std::string DisplayProblem;  // why headless stands in unasked; empty otherwise
  // ZM_CAPTURE_DIR: what top-level windows present (nil without).
  std::unique_ptr<TCaptureWriter> Capture;
  headless::TPresentObserver PresentObserver;  // tests
  std::uint32_t UiTid = 0;
  int Refs = 0;

  TWindowTable Windows;
  std::vector<std::shared_ptr<TClass>> Classes;
  ATOM NextAtom = 0xC000;
  std::map<std::u16string, UINT> RegisteredMessages;  // by folded name
  UINT NextRegisteredMessage = 0xC000;
  std::map<std::uint32_t, std::shared_ptr<TQueue>> Queues;  // by thread id
  UINT_PTR NextThreadTimer = 1;
  std::vector<std::shared_ptr<THook>> Hooks;  // newest first
  TInputState Input;
  TScreenSettings Screen;
  TMessageBoxLog MessageBoxes;

private:
  mutable std::recursive_mutex Mutex;
};

// The one window manager; it lives to the end, as threads may outlive main.
TWindowManager& WindowManager();

// ---- helpers shared by the units -------------------------------------------------

inline HWND const kDesktop = reinterpret_cast<HWND>(std::uintptr_t(0xFFFF0001u));

inline void SetError(int code) { SetLastOSError(code); }
std::uint32_t Now();

// Under the lock: the window of a handle; a bad handle sets the error and
// gives nullptr.
inline std::shared_ptr<TWindow> FindOrFail(const TWindowManager& wm, HWND h) {
  auto w = wm.Find(h);
  if (!w) SetError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}
// The same for a window that must still be alive (not being destroyed).
inline std::shared_ptr<TWindow> FindAliveOrFail(const TWindowManager& wm, HWND h) {
  auto w = wm.Find(h);
  if (w && w->Life == TWindowLife::Alive) return w;
  SetError(ERROR_INVALID_WINDOW_HANDLE);
  return nullptr;
}

// Runs f on the window under the lock; a bad handle sets the error and gives fail.
template <class R, class F>
R OnWindow(HWND h, R fail, F f) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = FindOrFail(wm, h);
  if (!w) return fail;
  return f(*w);
}

// Under the lock: the top-level a window belongs to (itself for a top-level).
std::shared_ptr<TWindow> TopLevelOf(std::shared_ptr<TWindow> w);
// Under the lock: the window and its descendants, parents first.
void CollectTree(TWindow& w, std::vector<HWND>& preorder);

// ---- geometry (under the lock) -------------------------------------------------------

// The frame widths of a style.
RECT Insets(DWORD style);
// The window rectangle in screen coordinates.
RECT ScreenRect(const TWindow& w);
POINT ClientOrigin(const TWindow& w);
SIZE ClientSize(const TWindow& w);

bool Contains(const RECT& r, POINT p);
bool Empty(const RECT& r);
RECT Union(const RECT& a, const RECT& b);
RECT Intersect(const RECT& a, const RECT& b);

// ---- names ----------------------------------------------------------------------------

// ASCII case folding, as class and message names compare.
std::u16string Fold(std::u16string_view s);
std::u16string FromChars(const char16_t* s);
// A class name given as an atom (MAKEINTATOM).
bool IsAtom(const void* p);

// ---- the back end ------------------------------------------------------------------------

// Under the lock, on the UI thread: keeps the native window of a UI-thread
// top-level in step with the record.
void SyncNative(TWindow& w);

}  // namespace plat::user
