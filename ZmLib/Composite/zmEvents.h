#pragma once
// Event tables of the frame engine: a TEvents object belongs to one owner and
// holds subscriptions (event id, a code chosen by the subscriber, a handler
// object). Each subscription is chained in a bucket of its table and in its
// handler's own chain, so disposing either side drops every link between
// them. Firing calls the handlers of one event in subscription order; links
// removed during a walk are skipped and unlinked when the walk ends.
// UI thread only.
//
// The handler class lives in zm::events: zm::TEventHandler already names the
// callback type of the application's event lists.
#include <cstdint>
#include <memory>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

class TEvents;

// Holds a reference for a scope, so that an object freed by a handler it
// calls outlives the call; takes none while the object is being disposed
// (its count is 0 then, and a reference would dispose it a second time).
class TKeepAlive {
public:
  explicit TKeepAlive(TRefObject* p) : p_(p && p->RefCount() > 0 ? p : nullptr) {
    if (p_) p_->AddRef();
  }
  ~TKeepAlive() {
    if (p_) {
      try {
        p_->ReleaseRef();
      } catch (...) {
        ReportSwallowedException();
      }
    }
  }
  TKeepAlive(const TKeepAlive&) = delete;
  TKeepAlive& operator=(const TKeepAlive&) = delete;

private:
  TRefObject* p_;
};

namespace events {

struct TEventLink;

class TEventHandler : public TRefObject {
public:
  // Drops every subscription of this handler, in every table.
  void Dispose() override;
  // Sender is the owner of the table that fired; Code the subscriber's code.
  virtual void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param);
  std::int32_t SubscriptionCount() const;

private:
  friend class zm::TEvents;
  TEventLink* chain_ = nullptr;  // this handler's links, any table
};

struct TEventLink {
  TEvents* Table = nullptr;
  TEventHandler* Handler = nullptr;  // nil: removed, waiting to be unlinked
  std::int32_t EventId = 0;
  std::int32_t Code = 0;
  TEventLink* BucketNext = nullptr;
  TEventLink* HandlerNext = nullptr;
  TEventLink* HandlerPrev = nullptr;
};

}  // namespace events

class TEvents : public TRefObject {
public:
  // Owner is passed to the handlers as the sender (not referenced); nil
  // passes the table itself. Bucket counts below 1 become 1.
  explicit TEvents(TRefObject* owner = nullptr, std::int32_t bucketCount = 16);
  void Dispose() override;

  // Adds a subscription at the end of the event's chain; nothing for a nil handler.
  void Subscribe(std::int32_t eventId, std::int32_t code, events::TEventHandler* handler);
  // Removes the handler's subscriptions of that event; true when any existed.
  bool Unsubscribe(std::int32_t eventId, events::TEventHandler* handler);
  bool IsSubscribed(std::int32_t eventId, events::TEventHandler* handler) const;
  // Calls HandleEvent(owner, code, param) of each subscription of the event.
  void Fire(std::int32_t eventId, std::intptr_t param = 0);
  std::int32_t SubscriberCount(std::int32_t eventId) const;
  std::int32_t SubscriberCount() const;
  TRefObject* Owner() const { return owner_ ? owner_ : const_cast<TEvents*>(this); }
  void SetOwner(TRefObject* owner) { owner_ = owner; }
  // Records in the pool (grows from 4, doubling).
  std::int32_t PoolCapacity() const { return capacity_; }

protected:
  // Called after the set of subscriptions changed.
  virtual void SubscriptionsChanged() {}

private:
  friend class events::TEventHandler;
  events::TEventLink* NewLink();
  void ReleaseLink(events::TEventLink* link);  // off the handler chain, onto the free list
  void UnlinkFromBucket(events::TEventLink* link);
  void Purge();  // unlinks removed links once no walk runs
  void RemoveLink(events::TEventLink* link);

  TRefObject* owner_;
  std::vector<events::TEventLink*> buckets_;
  std::vector<std::unique_ptr<events::TEventLink[]>> pool_;
  events::TEventLink* free_ = nullptr;
  std::int32_t capacity_ = 0;
  std::int32_t walking_ = 0;
  bool dirty_ = false;
};

// The notification table of a control: 16 buckets and a list of attached
// objects (one reference each, released with the table).
class TEventsWithTags : public TEvents {
public:
  explicit TEventsWithTags(TRefObject* owner) : TEvents(owner, 16) {}
  void Dispose() override;
  // Takes a reference; nothing for nil or an object already attached.
  void Attach(TRefObject* object);
  // Drops the reference; false when it was not attached.
  bool Detach(TRefObject* object);
  const std::vector<TRefObject*>& Attached() const { return attached_; }
  // The first attached object of class T, or nil.
  template <class T>
  T* FindAttached() const {
    for (TRefObject* o : attached_)
      if (auto* t = dynamic_cast<T*>(o)) return t;
    return nullptr;
  }

private:
  std::vector<TRefObject*> attached_;
};

}  // namespace zm
