#include "OruLib2/OruClasses/OruSlideCache.h"

#include <algorithm>
#include <utility>

namespace oru {

using zm::TRef;

TSlideCache::TSlideCache(TSlideProducer* producer, std::int32_t capacity, bool ownsProducer) {
  ZM_ASSERT(producer != nullptr, "Producer not assigned");
  producer_ = ownsProducer ? TRef<TSlideProducer>::Adopt(producer) : TRef<TSlideProducer>(producer);
  ownsProducer_ = ownsProducer;
  capacity_ = std::clamp(capacity, 1, kSlideCacheMaxCapacity);
  ZM_ASSERT(capacity == capacity_, "Capacity must be 1, 2 or 3");
}

void TSlideCache::Dispose() {
  Clear();
  producer_ = nullptr;
  zm::TRefObject::Dispose();
}

void TSlideCache::Clear() {
  TDrawContainers old;
  std::swap(old, items_);
  count_ = 0;
  FirstIndex = std::numeric_limits<std::int32_t>::min() + 1;
  // old releases the containers here.
}

TDrawContainer* TSlideCache::Item(std::int32_t i) const {
  return i >= 0 && i < count_ ? items_[static_cast<std::size_t>(i)].get() : nullptr;
}

void TSlideCache::ListChanged() {
  if (OnListChanged) OnListChanged(this, items_, count_);
}

void TSlideCache::Insert(std::int32_t pos, TRef<TDrawContainer> container) {
  ZM_ASSERT(container && count_ < kSlideCacheMaxCapacity && pos >= 0 && pos <= count_, "Slide cache is full");
  const std::int32_t index = container->Index;
  ZM_ASSERT((pos == 0 || items_[static_cast<std::size_t>(pos - 1)]->Index < index) &&
                (pos == count_ || items_[static_cast<std::size_t>(pos)]->Index > index),
            "Slide cache order");
  for (std::int32_t i = count_; i > pos; --i)
    items_[static_cast<std::size_t>(i)] = std::move(items_[static_cast<std::size_t>(i - 1)]);
  items_[static_cast<std::size_t>(pos)] = std::move(container);
  ++count_;
}

TRef<TDrawContainer> TSlideCache::Delete(std::int32_t pos) {
  ZM_ASSERT(pos >= 0 && pos < count_, "Slide cache position");
  TRef<TDrawContainer> c = std::move(items_[static_cast<std::size_t>(pos)]);
  for (std::int32_t i = pos; i + 1 < count_; ++i)
    items_[static_cast<std::size_t>(i)] = std::move(items_[static_cast<std::size_t>(i + 1)]);
  --count_;
  items_[static_cast<std::size_t>(count_)] = nullptr;
  return c;
}

bool TSlideCache::Update(double time) {
  std::int32_t first = 0, second = 0;
  producer_->GetSlideRange(time, first, second);
  FirstIndex = first;
  const std::int64_t lo = first;
  const std::int64_t hi = std::min<std::int64_t>(lo + capacity_ - 1, std::numeric_limits<std::int32_t>::max());
  const auto wanted = [&](const TDrawContainer* c) { return c->Index >= lo && c->Index <= hi; };

  // Drop what is not wanted, but never the last one: something must be drawn.
  for (std::int32_t i = 0; i < count_ && count_ >= 2;) {
    if (wanted(items_[static_cast<std::size_t>(i)].get())) {
      ++i;
      continue;
    }
    TRef<TDrawContainer> gone = Delete(i);
    ListChanged();
  }

  // Build the first missing one.
  for (std::int64_t index = lo; index <= hi; ++index) {
    std::int32_t pos = 0;
    bool held = false;
    for (; pos < count_; ++pos) {
      const std::int64_t have = items_[static_cast<std::size_t>(pos)]->Index;
      if (have == index) held = true;
      if (have >= index) break;
    }
    if (held) continue;
    BuildingIndex = static_cast<std::int32_t>(index);
    TRef<TDrawContainer> c = producer_->CreateContainer(static_cast<std::int32_t>(index));
    if (OnSlidePrepared) OnSlidePrepared(this, c.get());
    Insert(pos, std::move(c));
    BuildingIndex = -1;
    ListChanged();
    return true;
  }
  return false;
}

}  // namespace oru
