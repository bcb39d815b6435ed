#pragma once
// Event lists: handlers registered per numeric event id and called in
// registration order. A posting list adds a queue through which any thread
// hands an event to the list's owner thread (the UI thread), either going on
// at once (post) or waiting until the owner has handled it (send and wait).
#include <cstdint>
#include <span>
#include <vector>

#include "ZmLib/Win32/SysLocks.h"

namespace zm {

// A handler: (data, Sender, EventId, Param). Param is pointer-sized; in posted
// events it is the data object.
using TEventHandler = void (*)(void* data, TRefObject* sender, std::int32_t eventId, std::intptr_t param);

class TEventListItem : public TRefObject {
public:
  TEventListItem(std::int32_t id, TEventHandler code, void* data) : EventId(id), Code(code), Data(data) {}
  TEventListItem* Next = nullptr;  // the list holds a reference to each item
  std::int32_t EventId;
  TEventHandler Code;
  void* Data;
};

class TCustomEventList : public TRefObject {};

class TEventList : public TCustomEventList {
public:
  // Bucket counts below 2 become 1, above 4096 become 4096.
  explicit TEventList(std::int32_t bucketCount = 16, std::int32_t firstId = 0);
  void Dispose() override;
  virtual std::int32_t NewEventId();
  virtual void AddHandler(std::int32_t eventId, TEventHandler code, void* data);
  virtual void RemoveHandler(std::int32_t eventId, TEventHandler code, void* data);
  virtual void SendEvent(TRefObject* sender, std::int32_t eventId, std::intptr_t param);
  // Called with the lock held; leaves it exactly once, before any handler runs.
  virtual void CallChain(TEventListItem* item, TRefObject* sender, std::intptr_t param, std::int32_t eventId);
  virtual TEventListItem* GetBucket(std::int32_t eventId);
  virtual void SetBucket(std::int32_t eventId, TEventListItem* item);
  virtual void Clear();

  void AddHandlers(std::span<const std::int32_t> ids, TEventHandler code, void* data);
  void RemoveHandlers(std::span<const std::int32_t> ids, TEventHandler code, void* data);
  std::int32_t RegisterEvent(TEventHandler code, void* data);
  std::int32_t BucketCount() const { return bucketCount_; }
  std::size_t BucketArrayLength() const { return buckets_.size(); }
  // True when no other thread holds the list's lock (for checks).
  bool LockIsFree();

protected:
  std::size_t BucketIndex(std::int32_t eventId) const;
  TRef<TCriticalSection> lock_;

private:
  std::vector<TEventListItem*> buckets_;
  std::int32_t bucketCount_;
  TRef<TInterlockedCounter> idCounter_;
};

// One queued event.
class TEventItem : public TRefObject {
public:
  void Dispose() override;
  std::int32_t Sequence = 0;
  std::int32_t EventId = 0;
  TRefObject* Data = nullptr;  // owned while queued, unless a sender waits
  TEvent* ReplyEvent = nullptr;
  TEventItem* Next = nullptr;
};

class TPostEventList : public TEventList {
public:
  TPostEventList() : TEventList(4096, 0) {}
  // Queues the event for the owner thread and wakes it; when it cannot be
  // woken the event is dropped and its data freed.
  virtual void PostEvent(std::int32_t eventId, TRefObject* data) = 0;
  // Handles the event on the owner thread and returns after that; the caller
  // keeps its data.
  virtual void SendAndWait(std::int32_t eventId, TRefObject* data) = 0;
};

class TPostEventListEx : public TPostEventList {
public:
  TPostEventListEx();
  void Dispose() override;
  void PostEvent(std::int32_t eventId, TRefObject* data) override;
  void SendAndWait(std::int32_t eventId, TRefObject* data) override;
  virtual bool IsOwnerThread();
  // Asks the owner thread to dispatch the queued event of that number.
  virtual bool WakeOwner(std::int32_t sequence) = 0;

  // Owner thread: dispatch one queued event (false when it is not queued), or
  // all of them.
  bool DispatchEvent(std::int32_t sequence);
  void DispatchAll();
  std::size_t QueueLength();

private:
  // The new item and its sequence number (read under the lock: the owner may
  // dispatch and free the item as soon as it is queued).
  TEventItem* Queue(std::int32_t eventId, TRefObject* data, bool atHead, TEvent* reply, std::int32_t& sequence);
  TEventItem* Unlink(std::int32_t sequence);

  TRef<TCriticalSection> queueLock_;
  TRef<TSafeCriticalSection> sendMutex_;
  TRef<TEvent> replyEvent_;
  std::int32_t nextSequence_ = 0;
  TEventItem* head_ = nullptr;
  TEventItem* tail_ = nullptr;
};

// The owner thread is the one that initialised the unit.
bool IsEventOwnerThread();

void InitZmEventList();
void FiniZmEventList();

}  // namespace zm
