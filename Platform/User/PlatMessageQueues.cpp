#include "Platform/User/PlatMessageQueues.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "Platform/User/PlatDisplayEvents.h"
#include "Platform/User/PlatInput.h"
#include "Platform/User/PlatPainting.h"
#include "Platform/User/PlatTimers.h"
#include "Platform/User/PlatWindowProc.h"

namespace plat::user {

namespace {
// The longest an idle UI thread sleeps, woken or not.
constexpr std::uint32_t kLongestIdleWaitMs = 10000;
}  // namespace

void DetachQueue(const std::shared_ptr<TQueue>& q);

struct TQueueHolder {
  std::shared_ptr<TQueue> Q;
  ~TQueueHolder() {
    if (Q) DetachQueue(Q);
  }
};
thread_local TQueueHolder tQueue;

std::shared_ptr<TQueue> CurrentQueue() {
  TWindowManager& wm = WindowManager();
  if (tQueue.Q) return tQueue.Q;
  auto q = std::make_shared<TQueue>();
  q->Tid = CurrentThreadId();
  {
    auto l = wm.Lock();
    q->IsUi = wm.Refs > 0 && q->Tid == wm.UiTid;
    wm.Queues[q->Tid] = q;
  }
  tQueue.Q = q;
  return q;
}

void Wake(TQueue& q) {
  TWindowManager& wm = WindowManager();
  q.Events++;
  q.Cv.notify_all();
  if (q.IsUi.load()) {
    TBackend* b = wm.WakeTarget.load();
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
  TWindowManager& wm = WindowManager();
  std::deque<std::shared_ptr<TSent>> pending;
  {
    auto l = wm.Lock();
    auto it = wm.Queues.find(q->Tid);
    if (it != wm.Queues.end() && it->second == q) wm.Queues.erase(it);
    std::lock_guard<std::mutex> ql(q->M);
    q->Alive = false;
    pending.swap(q->Sent);
    q->Posted.clear();
    q->Timers.clear();
  }
  for (auto& s : pending) Complete(s, 0);
}

std::shared_ptr<TQueue> QueueOfThread(std::uint32_t tid) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto it = wm.Queues.find(tid);
  return it == wm.Queues.end() ? nullptr : it->second;
}

bool PostTo(const std::shared_ptr<TQueue>& q, const MSG& m, bool coalesceMove) {
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

MSG PostedMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG m;
  m.hwnd = h;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = Now();
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  m.pt = wm.Input.Cursor;
  return m;
}

void ServeSent(TQueue& q) {
  TWindowManager& wm = WindowManager();
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
      auto l = wm.Lock();
      w = wm.Find(s->Hwnd);
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

bool MatchFilter(const MSG& m, HWND filter, UINT mn, UINT mx) {
  if (filter && m.hwnd != filter && !IsChild(filter, m.hwnd)) return false;
  if (mn == 0 && mx == 0) return true;
  return m.message >= mn && m.message <= mx;
}

std::shared_ptr<TQueue> ThisThreadQueue() { return tQueue.Q; }

void ResetThreadQueueForTests() {
  if (auto q = tQueue.Q) {
    std::lock_guard<std::mutex> ql(q->M);
    q->Posted.clear();
    q->Timers.clear();
    q->Quit = false;
    std::memset(q->KeyState, 0, sizeof q->KeyState);
  }
}

namespace {
bool Fetch(MSG* out, HWND filter, UINT mn, UINT mx, bool remove, bool wait) {
  TWindowManager& wm = WindowManager();
  auto q = CurrentQueue();
  for (;;) {
    ServeSent(*q);
    if (q->IsUi) {
      PumpBackend();
      PresentPending();
      ThrottleCapture();
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
    if (HWND paint = FindWindowToPaint(q->Tid, filter, mn, mx)) {
      MSG m;
      m.hwnd = paint;
      m.message = WM_PAINT;
      m.time = Now();
      m.pt = CursorNow();
      *out = m;
      return true;
    }
    // WM_TIMER for a due timer; one per timer, re-armed from now. An idle UI
    // thread sleeps until woken (or its back end must look), other threads
    // look now and then.
    std::uint32_t waitMs = 100;
    if (q->IsUi && wm.Backend) waitMs = std::min(wm.Backend->IdleWaitMs(), kLongestIdleWaitMs);
    if (TakeDueTimer(*q, filter, mn, mx, remove, *out, waitMs)) return true;
    if (!wait) return false;
    // Nothing to do: wait for a post, a send, an invalidation or a timer.
    if (q->IsUi && wm.Backend && wm.Backend->WaitsNatively()) {
      {
        std::lock_guard<std::mutex> l(q->M);
        if (q->Events != seen) continue;
      }
      wm.Backend->Wait(int(waitMs));
    } else {
      std::unique_lock<std::mutex> l(q->M);
      q->Cv.wait_for(l, std::chrono::milliseconds(waitMs), [&] { return q->Events != seen; });
    }
  }
}

std::shared_ptr<TSent> NewSent(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto s = std::make_shared<TSent>();
  s->Hwnd = hwnd;
  s->Msg = msg;
  s->W = wParam;
  s->L = lParam;
  return s;
}

// Hands a sent message to another thread's queue; false when that thread's
// queue is gone.
bool QueueSent(TQueue& q, const std::shared_ptr<TSent>& s) {
  std::lock_guard<std::mutex> l(q.M);
  if (!q.Alive) return false;
  q.Sent.push_back(s);
  Wake(q);
  return true;
}
}  // namespace

}  // namespace plat::user

namespace plat {

using namespace user;

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TWindowManager& wm = WindowManager();
  std::shared_ptr<TWindow> w;
  std::shared_ptr<TQueue> target;
  {
    auto l = wm.Lock();
    w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    target = w->Queue;
  }
  if (w->Tid == CurrentThreadId()) return CallProc(w, msg, wParam, lParam);
  // Another thread: queue it there and wait, serving what is sent to us.
  auto me = CurrentQueue();
  auto s = NewSent(hwnd, msg, wParam, lParam);
  s->Sender = me;
  if (!QueueSent(*target, s)) return 0;
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
  TWindowManager& wm = WindowManager();
  std::shared_ptr<TWindow> w;
  {
    auto l = wm.Lock();
    w = FindOrFail(wm, hwnd);
    if (!w) return 0;
  }
  if (w->Tid == CurrentThreadId()) {
    CallProc(w, msg, wParam, lParam);
    return 1;
  }
  auto s = NewSent(hwnd, msg, wParam, lParam);
  s->Notify = true;
  return QueueSent(*w->Queue, s) ? 1 : 0;
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TWindowManager& wm = WindowManager();
  if (!hwnd) return PostThreadMessageW(CurrentThreadId(), msg, wParam, lParam);
  std::shared_ptr<TQueue> q;
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (!w || w->Life == TWindowLife::Gone) {
      SetError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = w->Queue;
  }
  if (!PostTo(q, PostedMessage(hwnd, msg, wParam, lParam))) {
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
  TWindowManager& wm = WindowManager();
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
    auto l = wm.Lock();
    w = FindOrFail(wm, msg->hwnd);
  }
  if (!w) return 0;
  if (w->Tid != CurrentThreadId()) {
    SetError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return CallProc(w, msg->message, msg->wParam, msg->lParam);
}

BOOL WaitMessageTimeout(std::uint32_t timeoutMs) {
  TWindowManager& wm = WindowManager();
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
    if (q->IsUi && wm.Backend && wm.Backend->WaitsNatively()) {
      wm.Backend->Wait(int(left));
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

}  // namespace plat
