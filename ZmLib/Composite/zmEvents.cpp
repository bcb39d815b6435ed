#include "ZmLib/Composite/zmEvents.h"

#include <algorithm>

namespace zm {

using events::TEventLink;

// ---- TEventHandler ----------------------------------------------------------------

void events::TEventHandler::Dispose() {
  while (chain_) {
    TEventLink* l = chain_;
    l->Table->RemoveLink(l);
  }
  TRefObject::Dispose();
}

void events::TEventHandler::HandleEvent(TRefObject*, std::int32_t, std::intptr_t) {}

std::int32_t events::TEventHandler::SubscriptionCount() const {
  std::int32_t n = 0;
  for (TEventLink* l = chain_; l; l = l->HandlerNext) ++n;
  return n;
}

// ---- TEvents ------------------------------------------------------------------------

TEvents::TEvents(TRefObject* owner, std::int32_t bucketCount)
    : owner_(owner), buckets_(std::size_t(std::max<std::int32_t>(bucketCount, 1)), nullptr) {}

void TEvents::Dispose() {
  for (TEventLink*& head : buckets_) {
    for (TEventLink* l = head; l;) {
      TEventLink* next = l->BucketNext;
      if (l->Handler) ReleaseLink(l);
      l = next;
    }
    head = nullptr;
  }
  pool_.clear();
  free_ = nullptr;
  TRefObject::Dispose();
}

TEventLink* TEvents::NewLink() {
  if (!free_) {
    std::int32_t n = capacity_ == 0 ? 4 : capacity_;  // doubles the pool
    pool_.push_back(std::make_unique<TEventLink[]>(std::size_t(n)));
    TEventLink* block = pool_.back().get();
    for (std::int32_t i = n - 1; i >= 0; --i) {
      block[i].BucketNext = free_;
      free_ = &block[i];
    }
    capacity_ += n;
  }
  TEventLink* l = free_;
  free_ = l->BucketNext;
  *l = TEventLink{};
  l->Table = this;
  return l;
}

// Takes the link off its handler's chain; the bucket keeps it until purged.
void TEvents::ReleaseLink(TEventLink* l) {
  if (events::TEventHandler* h = l->Handler) {
    if (l->HandlerPrev) l->HandlerPrev->HandlerNext = l->HandlerNext;
    else h->chain_ = l->HandlerNext;
    if (l->HandlerNext) l->HandlerNext->HandlerPrev = l->HandlerPrev;
  }
  l->Handler = nullptr;
  l->HandlerNext = l->HandlerPrev = nullptr;
}

void TEvents::UnlinkFromBucket(TEventLink* l) {
  TEventLink** p = &buckets_[std::size_t(std::uint32_t(l->EventId) % buckets_.size())];
  while (*p && *p != l) p = &(*p)->BucketNext;
  if (*p) *p = l->BucketNext;
  l->BucketNext = free_;
  free_ = l;
}

void TEvents::RemoveLink(TEventLink* l) {
  ReleaseLink(l);
  if (walking_ > 0) dirty_ = true;
  else UnlinkFromBucket(l);
  SubscriptionsChanged();
}

void TEvents::Purge() {
  if (walking_ > 0 || !dirty_) return;
  dirty_ = false;
  for (TEventLink*& head : buckets_) {
    TEventLink** p = &head;
    while (*p) {
      TEventLink* l = *p;
      if (l->Handler) {
        p = &l->BucketNext;
        continue;
      }
      *p = l->BucketNext;
      l->BucketNext = free_;
      free_ = l;
    }
  }
}

void TEvents::Subscribe(std::int32_t eventId, std::int32_t code, events::TEventHandler* handler) {
  if (!handler) return;
  TEventLink* l = NewLink();
  l->Handler = handler;
  l->EventId = eventId;
  l->Code = code;
  TEventLink** p = &buckets_[std::size_t(std::uint32_t(eventId) % buckets_.size())];
  while (*p) p = &(*p)->BucketNext;
  *p = l;
  l->HandlerNext = handler->chain_;
  if (handler->chain_) handler->chain_->HandlerPrev = l;
  handler->chain_ = l;
  SubscriptionsChanged();
}

bool TEvents::Unsubscribe(std::int32_t eventId, events::TEventHandler* handler) {
  if (!handler) return false;
  bool any = false;
  TEventLink* l = buckets_[std::size_t(std::uint32_t(eventId) % buckets_.size())];
  while (l) {
    TEventLink* next = l->BucketNext;
    if (l->Handler == handler && l->EventId == eventId) {
      RemoveLink(l);
      any = true;
    }
    l = next;
  }
  return any;
}

bool TEvents::IsSubscribed(std::int32_t eventId, events::TEventHandler* handler) const {
  for (TEventLink* l = buckets_[std::size_t(std::uint32_t(eventId) % buckets_.size())]; l; l = l->BucketNext)
    if (l->Handler == handler && l->EventId == eventId && handler) return true;
  return false;
}

void TEvents::Fire(std::int32_t eventId, std::intptr_t param) {
  TKeepAlive self(this);  // the table outlives its own walk
  ++walking_;
  try {
    for (TEventLink* l = buckets_[std::size_t(std::uint32_t(eventId) % buckets_.size())]; l; l = l->BucketNext) {
      if (!l->Handler || l->EventId != eventId) continue;
      events::TEventHandler* h = l->Handler;
      TKeepAlive keep(h);
      h->HandleEvent(Owner(), l->Code, param);
    }
  } catch (...) {
    --walking_;
    Purge();
    throw;
  }
  --walking_;
  Purge();
}

std::int32_t TEvents::SubscriberCount(std::int32_t eventId) const {
  std::int32_t n = 0;
  for (TEventLink* l = buckets_[std::size_t(std::uint32_t(eventId) % buckets_.size())]; l; l = l->BucketNext)
    if (l->Handler && l->EventId == eventId) ++n;
  return n;
}

std::int32_t TEvents::SubscriberCount() const {
  std::int32_t n = 0;
  for (TEventLink* head : buckets_)
    for (TEventLink* l = head; l; l = l->BucketNext)
      if (l->Handler) ++n;
  return n;
}

// ---- TEventsWithTags ----------------------------------------------------------------

void TEventsWithTags::Dispose() {
  std::vector<TRefObject*> list;
  list.swap(attached_);
  for (auto it = list.rbegin(); it != list.rend(); ++it) (*it)->ReleaseRef();
  TEvents::Dispose();
}

void TEventsWithTags::Attach(TRefObject* object) {
  if (!object || std::find(attached_.begin(), attached_.end(), object) != attached_.end()) return;
  object->AddRef();
  attached_.push_back(object);
}

bool TEventsWithTags::Detach(TRefObject* object) {
  auto it = std::find(attached_.begin(), attached_.end(), object);
  if (it == attached_.end()) return false;
  attached_.erase(it);
  object->ReleaseRef();
  return true;
}

}  // namespace zm
