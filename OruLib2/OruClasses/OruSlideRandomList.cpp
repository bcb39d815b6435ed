#include "OruLib2/OruClasses/OruSlideRandomList.h"

#include <algorithm>

#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmRandom.h"

namespace oru {

using namespace zm;

namespace {

constexpr std::int32_t kRegistryBuckets = 251;
constexpr std::int32_t kShuffleKeyRange = 1000000;

TRef<THashList> gRegistry;
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

// ---- Registry and look-ups ------------------------------------------------------------

TSlideRandomList* GetSlideRandomList(const TIniFile* project) {
  if (!project) return nullptr;
  WideString path = project->ReadString(u"main", u"ProjectFilePath", {});
  if (path.empty()) return nullptr;
  TRegistryLock guard;
  if (!gRegistry) return nullptr;  // before the unit is initialised or after it is finalised
  bool created = false;
  TKeyItem* item = gRegistry->GetItemEx(path, created);
  if (created || item->Count() == 0) {
    TRef<TSlideRandomList> list = MakeRef<TSlideRandomList>(SlideCountOf(project));
    item->Add(list.Detach());
  }
  return static_cast<TSlideRandomList*>(item->Get(0));
}

WideString GetSlideSectionName(const TIniFile* project, std::int32_t i) {
  std::int32_t number = i;
  if (TSlideRandomList* list = GetSlideRandomList(project)) {
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
  gRegistry = MakeRef<THashList>(kRegistryBuckets);
}

void FiniSlideRandomList() {
  TRef<THashList> registry;
  {
    TRegistryLock guard;
    registry = std::move(gRegistry);
  }
  if (registry) registry->Clear(true);
  registry.reset();
  gLock.reset();
}

}  // namespace oru
