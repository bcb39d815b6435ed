#pragma once
// The slide order: slides are addressed by a 0-based index everywhere, and
// their sections ("Slide" + a 1-based number) are found through a
// per-project order table, so that the order in which slide sections are
// used can be permuted without touching the rest of the system. The same
// table type and its shuffle serve random track orders.
//
// The tables live in one registry keyed by the project's "ProjectFilePath";
// the registry and the growing or shuffling of a table happen under one
// global lock, which reads take too. The registry keeps every table someone
// holds a reference to (an open show holds its own), and at most
// kMaxIdleSlideRandomLists others, dropping the least recently used first:
// a run over many projects does not collect one table per path.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// The most slides a show may have: larger counts read from a description are
// cut to it, so a damaged count never asks for a huge table or time line.
constexpr std::int32_t kMaxSlideCount = 100000;

struct TSlideRandomEntry {
  std::int32_t Index = 0;  // the slide section's 0-based number
  std::int32_t Key = 0;    // sort key of the shuffle
};

class TSlideRandomList : public zm::TRefObject {
public:
  // Identity order of count entries (cut to 0 .. kMaxSlideCount).
  explicit TSlideRandomList(std::int32_t count);

  std::int32_t Count() const;
  // The section number of entry i; i itself outside the table.
  std::int32_t IndexAt(std::int32_t i) const;
  // Grows the table to at least count entries (at most kMaxSlideCount), each
  // new entry holding its own position.
  void Grow(std::int32_t count);
  // A fresh random order (ShuffleRandomOrder under the lock).
  void Shuffle();
  // IndexAt(i) for i = 0 .. count - 1, the table grown to count first (at
  // most kMaxSlideCount), under one taking of the lock.
  std::vector<std::int32_t> Indexes(std::int32_t count);

private:
  std::vector<TSlideRandomEntry> entries_;
};

// The table of the project's "ProjectFilePath" (main section), made with one
// entry per "opt_slidescount" of Times when missing; nil when the key is
// empty or the unit is not initialised. Documents of one path share the
// table while it is registered; keep the reference to keep the table (and
// its order) registered.
zm::TRef<TSlideRandomList> GetSlideRandomList(const zm::TIniFile* project);

// Tables nobody but the registry holds that it keeps for later look-ups.
constexpr std::size_t kMaxIdleSlideRandomLists = 32;
// The number of registered tables, held or not.
std::size_t RegisteredSlideRandomListCount();

// "Slide" + the 1-based section number of slide index i.
WideString GetSlideSectionName(const zm::TIniFile* project, std::int32_t i);
// The section of slide index i, nil when absent. Asserts a document.
zm::TIniSection* GetSlideSection(const zm::TIniFile* project, std::int32_t i);
// GetSlideSection for the slide indexes 0 .. count - 1 at once (count cut
// to kMaxSlideCount): one pass along the sections, not a look-up each.
std::vector<zm::TIniSection*> GetSlideSections(const zm::TIniFile* project, std::int32_t count);

// Reseeds the random generator, gives each entry a key Random(1000000) and
// sorts the entries by key, ascending.
void ShuffleRandomOrder(TSlideRandomEntry* entries, std::int32_t count);
// The sort of ShuffleRandomOrder: the greatest key of the first n entries
// (the earliest candidate kept on ties with position 0, else the latest)
// goes to position n - 1, for n from count down to 2. Counts above
// kExactSortLimit are sorted by key with the standard library instead
// (ties then keep no particular order).
constexpr std::int32_t kExactSortLimit = 4096;
void SortRandomEntries(TSlideRandomEntry* entries, std::int32_t count);

void InitSlideRandomList();
void FiniSlideRandomList();

}  // namespace oru
