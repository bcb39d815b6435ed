#include "OruLib2/OruClasses/OruSlideRandomList.h"

#include <algorithm>
#include <list>
#include <memory>
#include <unordered_map>
#include <utility>

#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmRandom.h"

namespace oru {

using namespace zm;

namespace {

constexpr std::int32_t kShuffleKeyRange = 1000000;

// Tables by path, the most recently used first. The registry owns one
// reference of each, so tables still registered when the program ends
// without finalising the unit are freed with it.
class TRegistry {
public:
  TRef<TSlideRandomList> Find(const WideString& path) {
    auto at = index_.find(path);
    if (at == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, at->second);
    return at->second->second;
  }

  void Add(const WideString& path, TRef<TSlideRandomList> list) {
    order_.emplace_front(path, std::move(list));
    index_[path] = order_.begin();
    DropIdle();
  }

  std::size_t Count() const { return order_.size(); }

private:
  // Drops the least recently used tables that only the registry holds; a
  // held table cannot gain a reference meanwhile, as references are only
  // handed out under the registry's lock.
  void DropIdle() {
    std::size_t idle = 0;
    for (const auto& entry : order_) idle += entry.second->RefCount() == 1 ? 1 : 0;
    for (auto it = order_.end(); idle > kMaxIdleSlideRandomLists && it != order_.begin();) {
      --it;
      if (it->second->RefCount() != 1) continue;
      index_.erase(it->first);
      it = order_.erase(it);
      --idle;
    }
  }

  using TEntry = std::pair<WideString, TRef<TSlideRandomList>>;
  std::list<TEntry> order_;
  std::unordered_map<WideString, std::list<TEntry>::iterator> index_;
};

std::unique_ptr<TRegistry> gRegistry;
TRef<TSafeCriticalSection> gLock;

class TRegistryLock {
public:
  TRegistryLock() : lock_(gLock) {
    if (lock_) lock_->Enter();
  }
  ~TRegistryLock() {
    if (lock_) lock_->Leave();
  }
  TRegistryLock(const TRegistryLock&) = delete;
  TRegistryLock& operator=(const TRegistryLock&) = delete;

private:
  TRef<TSafeCriticalSection> lock_;
};

std::int32_t ClampCount(std::int32_t n) { return std::clamp(n, 0, kMaxSlideCount); }

std::int32_t SlideCountOf(const TIniFile* project) {
  return ClampCount(project->ReadInteger(u"Times", u"opt_slidescount", 0));
}

}  // namespace

// ---- TSlideRandomList ---------------------------------------------------------------

TSlideRandomList::TSlideRandomList(std::int32_t count) { Grow(count); }

std::int32_t TSlideRandomList::Count() const {
  TRegistryLock guard;
  return static_cast<std::int32_t>(entries_.size());
}

std::int32_t TSlideRandomList::IndexAt(std::int32_t i) const {
  TRegistryLock guard;
  if (i < 0 || i >= static_cast<std::int32_t>(entries_.size())) return i;
  return entries_[static_cast<std::size_t>(i)].Index;
}

void TSlideRandomList::Grow(std::int32_t count) {
  count = ClampCount(count);
  TRegistryLock guard;
  for (auto n = static_cast<std::int32_t>(entries_.size()); n < count; ++n) entries_.push_back({n, 0});
}

void TSlideRandomList::Shuffle() {
  TRegistryLock guard;
  ShuffleRandomOrder(entries_.data(), static_cast<std::int32_t>(entries_.size()));
}

std::vector<std::int32_t> TSlideRandomList::Indexes(std::int32_t count) {
  count = ClampCount(count);
  TRegistryLock guard;
  for (auto n = static_cast<std::int32_t>(entries_.size()); n < count; ++n) entries_.push_back({n, 0});
  std::vector<std::int32_t> indexes(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < indexes.size(); ++i) indexes[i] = entries_[i].Index;
  return indexes;
}

// ---- Registry and look-ups ------------------------------------------------------------

TRef<TSlideRandomList> GetSlideRandomList(const TIniFile* project) {
  if (!project) return nullptr;
  WideString path = project->ReadString(u"main", u"ProjectFilePath", {});
  if (path.empty()) return nullptr;
  const std::int32_t count = SlideCountOf(project);
  TRegistryLock guard;
  if (!gRegistry) return nullptr;  // before the unit is initialised or after it is finalised
  if (TRef<TSlideRandomList> list = gRegistry->Find(path)) return list;
  TRef<TSlideRandomList> list = MakeRef<TSlideRandomList>(count);
  gRegistry->Add(path, list);
  return list;
}

std::size_t RegisteredSlideRandomListCount() {
  TRegistryLock guard;
  return gRegistry ? gRegistry->Count() : 0;
}

WideString GetSlideSectionName(const TIniFile* project, std::int32_t i) {
  std::int32_t number = i;
  if (TRef<TSlideRandomList> list = GetSlideRandomList(project)) {
    // Positions past the table hold themselves; the table only grows as far
    // as a show may have slides.
    if (i >= 0 && i < kMaxSlideCount) list->Grow(i + 1);
    number = list->IndexAt(i);
  }
  return u"Slide" + IntToStr(std::int64_t(number) + 1);
}

TIniSection* GetSlideSection(const TIniFile* project, std::int32_t i) {
  ZM_ASSERT(project != nullptr, "GetSlideSection: no show description");
  return project->FindSection(GetSlideSectionName(project, i));
}

std::vector<TIniSection*> GetSlideSections(const TIniFile* project, std::int32_t count) {
  ZM_ASSERT(project != nullptr, "GetSlideSections: no show description");
  count = ClampCount(count);
  std::vector<std::int32_t> numbers;
  if (TRef<TSlideRandomList> list = GetSlideRandomList(project)) {
    numbers = list->Indexes(count);
  } else {
    numbers.resize(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) numbers[static_cast<std::size_t>(i)] = i;
  }
  std::int32_t highest = 0;
  for (std::int32_t n : numbers) highest = std::max(highest, n + 1);
  std::vector<TIniSection*> byNumber;
  project->FindIndexedSections(u"Slide", highest, byNumber);
  std::vector<TIniSection*> sections(numbers.size(), nullptr);
  for (std::size_t i = 0; i < numbers.size(); ++i)
    if (numbers[i] >= 0) sections[i] = byNumber[static_cast<std::size_t>(numbers[i])];
  return sections;
}

// ---- Shuffle ------------------------------------------------------------------------------

void SortRandomEntries(TSlideRandomEntry* entries, std::int32_t count) {
  if (!entries || count < 2) return;
  if (count > kExactSortLimit) {
    std::sort(entries, entries + count,
              [](const TSlideRandomEntry& a, const TSlideRandomEntry& b) { return a.Key < b.Key; });
    return;
  }
  for (std::int32_t n = count; n >= 2; --n) {
    std::int32_t best = 0;
    for (std::int32_t p = n - 1; p >= 1; --p)
      if (entries[p].Key > entries[best].Key) best = p;
    if (best != n - 1) std::swap(entries[best], entries[n - 1]);
  }
}

void ShuffleRandomOrder(TSlideRandomEntry* entries, std::int32_t count) {
  if (!entries || count < 1) return;
  Randomize();
  for (std::int32_t i = 0; i < count; ++i) entries[i].Key = Random(kShuffleKeyRange);
  SortRandomEntries(entries, count);
}

// ---- Module --------------------------------------------------------------------------------

void InitSlideRandomList() {
  gLock = MakeRef<TSafeCriticalSection>();
  gRegistry = std::make_unique<TRegistry>();
}

void FiniSlideRandomList() {
  std::unique_ptr<TRegistry> registry;
  {
    TRegistryLock guard;
    registry = std::move(gRegistry);
  }
  // Tables still held elsewhere live on unregistered.
  registry.reset();
  gLock.reset();
}

}  // namespace oru
