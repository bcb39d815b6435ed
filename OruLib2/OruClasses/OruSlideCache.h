#pragma once
// The slide cache: keeps the slides about to be shown already built. For the
// current show time it holds the visible slide and the next ones, up to
// three containers ordered by slide index. Each update drops what is no
// longer wanted and builds at most one missing slide, so an update never
// takes longer than one slide build; the last container is never dropped,
// so there is always something to draw.
//
// Used by one thread (the slide loader); the callbacks run on it.
#include <array>
#include <cstdint>
#include <functional>
#include <limits>

#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "ZmLib/zmTypes.h"

namespace oru {

constexpr std::int32_t kSlideCacheMaxCapacity = 3;

using TDrawContainers = std::array<zm::TRef<TDrawContainer>, kSlideCacheMaxCapacity>;

class TSlideCache : public zm::TRefObject {
public:
  // Producer must be given; Capacity must be 1 to 3 (assertions, checked
  // after the clamp so a bad capacity still leaves a usable cache in
  // builds whose assertions only report). OwnsProducer: the cache takes
  // over the caller's reference.
  TSlideCache(TSlideProducer* producer, std::int32_t capacity, bool ownsProducer);
  // Clear, then lets the producer go.
  void Dispose() override;

  // Frees every container.
  void Clear();
  // True when a slide was added.
  bool Update(double time);

  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return capacity_; }
  // Nil outside 0 .. Count - 1.
  TDrawContainer* Item(std::int32_t i) const;
  const TDrawContainers& Containers() const { return items_; }
  TSlideProducer* Producer() const { return producer_.get(); }

  // Told of every container built, before it joins the list.
  std::function<void(TSlideCache* sender, TDrawContainer* container)> OnSlidePrepared;
  // Told after every insertion and removal, with the list and its count.
  std::function<void(TSlideCache* sender, const TDrawContainers& containers, std::int32_t count)> OnListChanged;

  // Lowest integer plus 1 while nothing has been built since Clear.
  std::int32_t FirstIndex = std::numeric_limits<std::int32_t>::min() + 1;
  // The index of the slide being built (its build ended by an exception
  // leaves it set); -1 once it joined the list.
  std::int32_t BuildingIndex = -1;

private:
  // Asserts room and the order of indexes.
  void Insert(std::int32_t pos, zm::TRef<TDrawContainer> container);
  // Asserts Pos is held; gives the container back.
  zm::TRef<TDrawContainer> Delete(std::int32_t pos);
  void ListChanged();

  zm::TRef<TSlideProducer> producer_;
  bool ownsProducer_ = false;
  std::int32_t count_ = 0;
  TDrawContainers items_;
  std::int32_t capacity_ = 1;
};

}  // namespace oru
