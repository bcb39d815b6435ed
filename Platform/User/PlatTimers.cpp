#include "Platform/User/PlatTimers.h"

#include <algorithm>

#include "Platform/User/PlatMessageQueues.h"

namespace plat::user {

bool TakeDueTimer(TQueue& q, HWND filter, UINT mn, UINT mx, bool remove, MSG& out, std::uint32_t& waitMs) {
  std::lock_guard<std::mutex> l(q.M);
  std::uint32_t now = Now();
  for (auto& t : q.Timers) {
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
      out = m;
      return true;
    }
    waitMs = std::min<std::uint32_t>(waitMs, std::uint32_t(left));
  }
  return false;
}

bool TimerIsSet(TQueue& q, HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> l(q.M);
  for (auto& t : q.Timers)
    if (t.Hwnd == hwnd && t.Id == id) return true;
  return false;
}

void RemoveWindowTimers(TQueue& q, HWND hwnd) {
  std::lock_guard<std::mutex> l(q.M);
  q.Timers.erase(std::remove_if(q.Timers.begin(), q.Timers.end(), [&](const TTimer& t) { return t.Hwnd == hwnd; }),
                 q.Timers.end());
}
}  // namespace plat::user

namespace plat {

using namespace user;

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  TWindowManager& wm = WindowManager();
  std::shared_ptr<TQueue> q;
  if (hwnd) {
    auto l = wm.Lock();
    auto w = FindAliveOrFail(wm, hwnd);
    if (!w) return 0;
    q = w->Queue;
  } else {
    q = CurrentQueue();
    auto l = wm.Lock();
    id = wm.NextThreadTimer++;  // a thread timer always gets a new id
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
  TWindowManager& wm = WindowManager();
  std::shared_ptr<TQueue> q;
  if (hwnd) {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
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

}  // namespace plat
