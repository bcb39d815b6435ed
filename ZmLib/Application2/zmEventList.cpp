#include "ZmLib/Application2/zmEventList.h"

#include <algorithm>

namespace zm {

namespace {
thread_local bool tOwnerThread = false;
}

bool IsEventOwnerThread() { return tOwnerThread; }

// ============================================================================
// TEventList
// ============================================================================

TEventList::TEventList(std::int32_t bucketCount, std::int32_t firstId)
    : lock_(MakeRef<TCriticalSection>()),
      bucketCount_(std::clamp<std::int32_t>(bucketCount, 1, 4096)),
      idCounter_(MakeRef<TInterlockedCounter>(firstId)) {}

void TEventList::Dispose() {
  if (lock_) Clear();
  lock_ = nullptr;
  idCounter_ = nullptr;
  TCustomEventList::Dispose();
}

std::size_t TEventList::BucketIndex(std::int32_t eventId) const {
  return std::size_t(std::uint32_t(eventId) % std::uint32_t(bucketCount_));
}

std::int32_t TEventList::NewEventId() { return idCounter_->Increment(); }

TEventListItem* TEventList::GetBucket(std::int32_t eventId) {
  std::size_t i = BucketIndex(eventId);
  return i < buckets_.size() ? buckets_[i] : nullptr;
}

void TEventList::SetBucket(std::int32_t eventId, TEventListItem* item) {
  std::size_t i = BucketIndex(eventId);
  if (i >= buckets_.size()) buckets_.resize(i + 1, nullptr);
  buckets_[i] = item;
}

void TEventList::AddHandler(std::int32_t eventId, TEventHandler code, void* data) {
  auto* item = new TEventListItem(eventId, code, data);
  item->AfterConstruction();
  lock_->Enter();
  item->Next = GetBucket(eventId);
  SetBucket(eventId, item);
  lock_->Leave();
}

void TEventList::RemoveHandler(std::int32_t eventId, TEventHandler code, void* data) {
  TEventListItem* found = nullptr;
  lock_->Enter();
  TEventListItem* prev = nullptr;
  for (TEventListItem* it = GetBucket(eventId); it; prev = it, it = it->Next) {
    if (it->EventId != eventId || it->Code != code || it->Data != data) continue;
    if (prev) {
      prev->Next = it->Next;
    } else {
      SetBucket(eventId, it->Next);
      // The only item of the last bucket: the array gets shorter.
      std::size_t i = BucketIndex(eventId);
      if (!it->Next && i + 1 == buckets_.size()) buckets_.pop_back();
    }
    it->Next = nullptr;
    found = it;
    break;
  }
  lock_->Leave();
  if (found) found->ReleaseRef();
}

void TEventList::SendEvent(TRefObject* sender, std::int32_t eventId, std::intptr_t param) {
  lock_->Enter();
  CallChain(GetBucket(eventId), sender, param, eventId);
}

void TEventList::CallChain(TEventListItem* item, TRefObject* sender, std::intptr_t param, std::int32_t eventId) {
  // Every matching item is held by a reference taken under the lock; the
  // lock is left before the first handler runs; the calls go from the tail
  // (the oldest registration) to the head.
  std::vector<TEventListItem*> held;
  try {
    for (TEventListItem* it = item; it; it = it->Next)
      if (it->EventId == eventId) {
        it->AddRef();
        held.push_back(it);
      }
  } catch (...) {
    lock_->Leave();
    for (auto* h : held) h->ReleaseRef();
    throw;
  }
  lock_->Leave();
  std::size_t i = held.size();
  try {
    for (; i > 0; --i) {
      TEventListItem* it = held[i - 1];
      // Fewer than two references: removed while the chain was walked.
      if (it->RefCount() >= 2) it->Code(it->Data, sender, eventId, param);
      it->ReleaseRef();
    }
  } catch (...) {
    // The handler's item and those not yet reached are released still.
    for (; i > 0; --i) held[i - 1]->ReleaseRef();
    throw;
  }
}

void TEventList::Clear() {
  std::vector<TEventListItem*> all;
  lock_->Enter();
  for (TEventListItem* head : buckets_)
    for (TEventListItem* it = head; it; it = it->Next) all.push_back(it);
  buckets_.clear();
  for (auto* it : all) it->Next = nullptr;
  lock_->Leave();
  for (auto* it : all) it->ReleaseRef();
}

void TEventList::AddHandlers(std::span<const std::int32_t> ids, TEventHandler code, void* data) {
  for (std::int32_t id : ids) AddHandler(id, code, data);
}

void TEventList::RemoveHandlers(std::span<const std::int32_t> ids, TEventHandler code, void* data) {
  for (std::int32_t id : ids) RemoveHandler(id, code, data);
}

std::int32_t TEventList::RegisterEvent(TEventHandler code, void* data) {
  std::int32_t id = NewEventId();
  AddHandler(id, code, data);
  return id;
}

bool TEventList::LockIsFree() {
  bool free = false;
  std::thread([&] {
    free = lock_->TryEnter();
    if (free) lock_->Leave();
  }).join();
  return free;
}

// ============================================================================
// Queued events
// ============================================================================

void TEventItem::Dispose() {
  FreeAndNil(Data);
  TRefObject::Dispose();
}

TPostEventListEx::TPostEventListEx()
    : queueLock_(MakeRef<TCriticalSection>()),
      sendMutex_(MakeRef<TSafeCriticalSection>()),
      replyEvent_(MakeRef<TEvent>()) {}

void TPostEventListEx::Dispose() {
  if (queueLock_) {
    queueLock_->Enter();
    TEventItem* it = head_;
    head_ = tail_ = nullptr;
    queueLock_->Leave();
    while (it) {
      TEventItem* n = it->Next;
      if (it->ReplyEvent) {
        // A sender still waits: it keeps its data and goes on.
        it->Data = nullptr;
        it->ReplyEvent->Set();
      }
      it->Free();
      it = n;
    }
  }
  queueLock_ = nullptr;
  sendMutex_ = nullptr;
  replyEvent_ = nullptr;
  TPostEventList::Dispose();
}

bool TPostEventListEx::IsOwnerThread() { return IsEventOwnerThread(); }

TEventItem* TPostEventListEx::Queue(std::int32_t eventId, TRefObject* data, bool atHead, TEvent* reply,
                                    std::int32_t& sequence) {
  auto* item = new TEventItem();
  item->AfterConstruction();
  item->EventId = eventId;
  item->Data = data;
  item->ReplyEvent = reply;
  queueLock_->Enter();
  item->Sequence = nextSequence_;
  sequence = nextSequence_;
  nextSequence_ = nextSequence_ == 2147483647 ? 0 : nextSequence_ + 1;
  if (atHead) {
    // A sent event overtakes the posted ones.
    item->Next = head_;
    head_ = item;
    if (!tail_) tail_ = item;
  } else {
    if (tail_)
      tail_->Next = item;
    else
      head_ = item;
    tail_ = item;
  }
  queueLock_->Leave();
  return item;
}

TEventItem* TPostEventListEx::Unlink(std::int32_t sequence) {
  queueLock_->Enter();
  TEventItem* prev = nullptr;
  TEventItem* it = head_;
  while (it && it->Sequence != sequence) prev = it, it = it->Next;
  if (it) {
    (prev ? prev->Next : head_) = it->Next;
    if (tail_ == it) tail_ = prev;
    it->Next = nullptr;
  }
  queueLock_->Leave();
  return it;
}

void TPostEventListEx::PostEvent(std::int32_t eventId, TRefObject* data) {
  std::int32_t seq;
  TEventItem* item = Queue(eventId, data, false, nullptr, seq);
  if (WakeOwner(seq)) return;
  // The owner cannot be reached: take the event back and drop it.
  TEventItem* back = Unlink(seq);
  if (!back) return;  // the owner dispatched it meanwhile
  ZM_ASSERT(back == item, "PostEvent: queued event changed");
  back->Free();
}

void TPostEventListEx::SendAndWait(std::int32_t eventId, TRefObject* data) {
  if (IsOwnerThread()) {
    SendEvent(this, eventId, reinterpret_cast<std::intptr_t>(data));
    return;
  }
  // The reply event is in the item before the item can be seen, so the
  // owner never takes the sender's data for its own.
  sendMutex_->Enter();
  try {
    replyEvent_->Reset();
    std::int32_t seq;
    Queue(eventId, data, true, replyEvent_.get(), seq);
    if (WakeOwner(seq)) {
      replyEvent_->WaitFor();
    } else if (TEventItem* back = Unlink(seq)) {
      // Not woken: the event must not run after the sender went on.
      back->Data = nullptr;
      back->Free();
    } else {
      replyEvent_->WaitFor();  // already being dispatched
    }
  } catch (...) {
    sendMutex_->Leave();
    throw;
  }
  sendMutex_->Leave();
}

bool TPostEventListEx::DispatchEvent(std::int32_t sequence) {
  TEventItem* item = Unlink(sequence);
  if (!item) return false;
  auto finish = [item] {
    if (item->ReplyEvent) {
      item->Data = nullptr;  // the sender owns it
      item->ReplyEvent->Set();
    }
    item->Free();
  };
  try {
    SendEvent(this, item->EventId, reinterpret_cast<std::intptr_t>(item->Data));
  } catch (...) {
    // The sender is released and the item freed before the error passes on.
    finish();
    throw;
  }
  finish();
  return true;
}

void TPostEventListEx::DispatchAll() {
  for (;;) {
    queueLock_->Enter();
    TEventItem* head = head_;
    std::int32_t seq = head ? head->Sequence : 0;
    queueLock_->Leave();
    if (!head) return;
    // False: a poster that could not wake the owner took it back meanwhile.
    DispatchEvent(seq);
  }
}

std::size_t TPostEventListEx::QueueLength() {
  queueLock_->Enter();
  std::size_t n = 0;
  for (TEventItem* it = head_; it; it = it->Next) ++n;
  queueLock_->Leave();
  return n;
}

// ============================================================================
// Module
// ============================================================================

void InitZmEventList() {
  ZM_ASSERT(!tOwnerThread, "zmEventList: owner thread already set");
  tOwnerThread = true;
}

void FiniZmEventList() { tOwnerThread = false; }

}  // namespace zm
