#pragma once
// The per-thread message queues: posting, sending across threads, and
// retrieving messages in their order (sent, posted and input, quit, paint,
// timer).
#include <memory>

#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// The calling thread's queue, made on first use and detached at thread exit.
std::shared_ptr<TQueue> CurrentQueue();
// The calling thread's queue if it has one (nullptr otherwise).
std::shared_ptr<TQueue> ThisThreadQueue();
std::shared_ptr<TQueue> QueueOfThread(std::uint32_t tid);
// Under q.M: ends a wait of the queue's thread (in the back end, too).
void Wake(TQueue& q);
// False when the queue is gone. A mouse move may replace the last queued
// move to the same window.
bool PostTo(const std::shared_ptr<TQueue>& q, const MSG& m, bool coalesceMove = false);
// A message to post, stamped with the time and the last known cursor position.
MSG PostedMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
// Serves messages sent to this thread from other threads.
void ServeSent(TQueue& q);
// Whether a message passes a GetMessage/PeekMessage window and range filter.
bool MatchFilter(const MSG& m, HWND filter, UINT mn, UINT mx);

// Empties the calling thread's queue and key state.
void ResetThreadQueueForTests();

}  // namespace plat::user
