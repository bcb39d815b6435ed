#pragma once
// The event queue of a worker thread: any thread posts an event (an id and a
// data object) or sends one and waits until it has been handled; the owner
// thread drains the queue in each pass of its loop. The handler registry is
// the one of the posting event list.
#include <atomic>
#include <cstdint>
#include <deque>
#include <thread>

#include "ZmLib/Application2/zmEventList.h"

namespace zm {

// One queued event. Disposing it frees the data object and the reply event.
class TMessageItem : public TRefObject {
public:
  void Dispose() override;
  TEvent* ReplyEvent = nullptr;  // only for a send-and-wait
  std::int32_t EventId = 0;
  TRefObject* Data = nullptr;
};

// (object, Sender, EventId, Handled, Data): setting Handled keeps the
// registered handlers of the id from being called.
using TThreadEventHandler = void (*)(void* object, TRefObject* sender, std::int32_t eventId, bool& handled,
                                     TRefObject* data);

class TThreadEventList : public TPostEventList {
public:
  TThreadEventList();  // the queue starts open
  void Dispose() override;

  // Calls OnEvent, then (unless it handled the event) the registered handlers.
  virtual void Send(TRefObject* sender, std::int32_t eventId, TRefObject* data);
  // Queues the event; the list owns data from now on (a closed list frees it
  // at once). Never blocks on the owner.
  virtual void Post(std::int32_t eventId, TRefObject* data);
  // Queues the event and waits until the owner has handled it or the list
  // was closed. The caller keeps data. A closed list returns at once; a send
  // from the owner thread is handled directly.
  virtual void SendWait(std::int32_t eventId, TRefObject* data);
  // Called after an event was queued: kind 0 for a post, 1 for a send.
  virtual void WakeOwner(std::int32_t kind);

  void PostEvent(std::int32_t eventId, TRefObject* data) override { Post(eventId, data); }
  void SendAndWait(std::int32_t eventId, TRefObject* data) override { SendWait(eventId, data); }

  void Open();
  bool IsClosed();
  // Releases every waiting sender (its event is never handled) and frees the
  // posted events with their data.
  void Close();
  // The head item, taken out of the queue; false when closed or empty. The
  // caller holds the queue's reference.
  bool Pop(TMessageItem*& item);
  // Owner thread only: handles queued events until the queue is empty,
  // including those posted by the handlers meanwhile.
  void ProcessEvents();
  // Makes the calling thread the owner (ProcessEvents does it too), so that
  // its own sends are handled directly instead of waiting for itself.
  void BindOwner() { owner_.store(std::this_thread::get_id()); }
  bool IsOwnerThread() const { return owner_.load() == std::this_thread::get_id(); }
  std::size_t Count();

  // Set before the owner starts draining.
  TThreadEventHandler OnEventCode = nullptr;
  void* OnEventObject = nullptr;

private:
  void Finish(TMessageItem* item);

  std::deque<TMessageItem*> messages_;  // one reference each
  bool open_ = false;                   // guarded by queueLock_
  TRef<TSafeCriticalSection> queueLock_;
  std::atomic<std::thread::id> owner_{};
};

// The channel killer's list: its own draining loop tests Stop after each event.
class TMusicEventList : public TThreadEventList {
public:
  std::atomic<bool> Stop{false};
};

}  // namespace zm
