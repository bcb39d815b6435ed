#pragma once
// Timers live in the queue of their window's thread (or of the thread that
// set them) and become WM_TIMER when due.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// The next due timer that passes the filter, as WM_TIMER; re-armed from now
// when removed. Otherwise lowers waitMs to the time until the next one.
bool TakeDueTimer(TQueue& q, HWND filter, UINT mn, UINT mx, bool remove, MSG& out, std::uint32_t& waitMs);
bool TimerIsSet(TQueue& q, HWND hwnd, UINT_PTR id);
void RemoveWindowTimers(TQueue& q, HWND hwnd);

}  // namespace plat::user
