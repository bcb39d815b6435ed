#include "ZmLib/Application2/zmThreadEventList.h"

#include <vector>

namespace zm {

void TMessageItem::Dispose() {
  FreeAndNil(Data);
  FreeAndNil(ReplyEvent);
  TRefObject::Dispose();
}

namespace {
TMessageItem* NewMessageItem(std::int32_t eventId, TRefObject* data, TEvent* reply) {
  auto* item = new TMessageItem();
  item->AfterConstruction();
  item->EventId = eventId;
  item->Data = data;
  item->ReplyEvent = reply;
  return item;
}
}  // namespace

TThreadEventList::TThreadEventList() : queueLock_(MakeRef<TSafeCriticalSection>()) { Open(); }

void TThreadEventList::Dispose() {
  if (queueLock_) Close();
  queueLock_ = nullptr;
  TPostEventList::Dispose();
}

void TThreadEventList::Open() {
  TLockScope<TSafeCriticalSection> g(queueLock_.get());
  open_ = true;
}

bool TThreadEventList::IsClosed() {
  TLockScope<TSafeCriticalSection> g(queueLock_.get());
  return !open_;
}

std::size_t TThreadEventList::Count() {
  TLockScope<TSafeCriticalSection> g(queueLock_.get());
  return messages_.size();
}

void TThreadEventList::Close() {
  std::deque<TMessageItem*> items;
  {
    TLockScope<TSafeCriticalSection> g(queueLock_.get());
    if (!open_) return;
    open_ = false;
    items.swap(messages_);
    // Senders are released while the list is still locked, so none of them
    // can be left waiting once Close returns.
    for (TMessageItem* it : items)
      if (it->ReplyEvent) it->ReplyEvent->Set();
  }
  // The queue's references go outside the lock: a data object's clean-up
  // may post again. A released sender holds its own reference and clears
  // Data before dropping it, so only posted data is freed here.
  for (TMessageItem* it : items) it->ReleaseRef();
}

void TThreadEventList::Post(std::int32_t eventId, TRefObject* data) {
  TMessageItem* item = NewMessageItem(eventId, data, nullptr);
  bool queued = false;
  {
    TLockScope<TSafeCriticalSection> g(queueLock_.get());
    if (open_) {
      messages_.push_back(item);
      queued = true;
    }
  }
  if (!queued) {
    item->ReleaseRef();  // closed: the data goes with it
    return;
  }
  WakeOwner(0);
}

void TThreadEventList::SendWait(std::int32_t eventId, TRefObject* data) {
  if (IsClosed()) return;
  if (IsOwnerThread()) {
    // Waiting for ourselves would never end.
    Send(this, eventId, data);
    return;
  }
  auto* reply = new TEvent();
  reply->AfterConstruction();
  TMessageItem* item = NewMessageItem(eventId, data, reply);
  item->AddRef();  // the sender's reference
  bool queued = false;
  {
    TLockScope<TSafeCriticalSection> g(queueLock_.get());
    if (open_) {
      messages_.push_back(item);
      queued = true;
    }
  }
  if (queued) {
    WakeOwner(1);
    // Nothing of the list is touched after this: it may be gone once the
    // sender is released.
    reply->WaitFor();
  } else {
    item->ReleaseRef();  // the queue's reference, never used
  }
  item->Data = nullptr;  // the caller's
  item->ReleaseRef();
}

void TThreadEventList::WakeOwner(std::int32_t) {}

bool TThreadEventList::Pop(TMessageItem*& item) {
  item = nullptr;
  TLockScope<TSafeCriticalSection> g(queueLock_.get());
  if (!open_ || messages_.empty()) return false;
  item = messages_.front();
  messages_.pop_front();
  return true;
}

void TThreadEventList::Finish(TMessageItem* item) {
  if (item->ReplyEvent) item->ReplyEvent->Set();
  item->ReleaseRef();
}

void TThreadEventList::ProcessEvents() {
  BindOwner();
  TMessageItem* item;
  while (Pop(item)) {
    try {
      Send(this, item->EventId, item->Data);
    } catch (...) {
      // The sender is released and the item dropped before the error goes on.
      Finish(item);
      throw;
    }
    Finish(item);
  }
}

void TThreadEventList::Send(TRefObject* sender, std::int32_t eventId, TRefObject* data) {
  if (OnEventCode) {
    bool handled = false;
    OnEventCode(OnEventObject, sender, eventId, handled, data);
    if (handled) return;
  }
  SendEvent(sender, eventId, reinterpret_cast<std::intptr_t>(data));
}

}  // namespace zm
