#include "ZmLib/zmLists.h"

#include <algorithm>
#include <random>

namespace zm {

// ============================================================================
// TList
// ============================================================================

void TList::Dispose() {
  std::vector<TRefObject*>().swap(items_);
  count_ = 0;
  TRefObject::Dispose();
}

bool TList::Grow(std::int32_t n) {
  if (n < 1) return false;
  std::int64_t newCount = std::int64_t(count_) + n;
  if (newCount >= kMaxListSize) return false;
  std::int64_t capacity = static_cast<std::int64_t>(items_.size());
  if (capacity < newCount) {
    while (capacity < newCount) {
      if (capacity <= 8) capacity += 4;
      else if (capacity <= 64) capacity += 16;
      else capacity *= 2;
    }
    items_.resize(static_cast<std::size_t>(capacity), nullptr);
  }
  count_ = static_cast<std::int32_t>(newCount);
  return true;
}

TRefObject* TList::Get(std::int32_t i) const {
  if (i < 0 || i >= count_) return nullptr;
  return items_[static_cast<std::size_t>(i)];
}

void TList::Put(std::int32_t i, TRefObject* p) {
  ZM_ASSERT(i >= 0 && i < count_, "TList.Put index out of range");
  items_[static_cast<std::size_t>(i)] = p;
}

void TList::PutExpand(std::int32_t i, TRefObject* p) {
  ZM_ASSERT(i >= 0, "TList.PutExpand negative index");
  if (i >= count_ && !Grow(i + 1 - count_)) ZM_FAIL("TList.PutExpand cannot grow");
  items_[static_cast<std::size_t>(i)] = p;
}

std::int32_t TList::Add(TRefObject* p) {
  if (!Grow(1)) return -1;
  items_[static_cast<std::size_t>(count_ - 1)] = p;
  return count_ - 1;
}

bool TList::Insert(std::int32_t i, TRefObject* p) {
  if (i < 0 || i > count_) return false;
  if (!Grow(1)) return false;
  auto at = items_.begin() + i;
  std::move_backward(at, items_.begin() + (count_ - 1), items_.begin() + count_);
  *at = p;
  return true;
}

void TList::Delete(std::int32_t i) {
  if (i < 0 || i >= count_) return;
  std::move(items_.begin() + i + 1, items_.begin() + count_, items_.begin() + i);
  --count_;
  items_[static_cast<std::size_t>(count_)] = nullptr;
}

TRefObject* TList::ExtractAt(std::int32_t i) {
  TRefObject* p = Get(i);
  Delete(i);
  return p;
}

std::int32_t TList::Remove(TRefObject* p) {
  std::int32_t i = IndexOf(p);
  if (i >= 0) Delete(i);
  return i;
}

std::int32_t TList::IndexOf(TRefObject* p) const {
  for (std::int32_t i = 0; i < count_; ++i)
    if (items_[static_cast<std::size_t>(i)] == p) return i;
  return -1;
}

void TList::Exchange(std::int32_t i, std::int32_t j) {
  TRefObject* a = Get(i);
  TRefObject* b = Get(j);
  Put(i, b);
  Put(j, a);
}

void TList::SetCount(std::int32_t n) {
  if (n < 0 || n >= kMaxListSize || n == count_) return;
  if (static_cast<std::size_t>(n) > items_.size()) items_.resize(static_cast<std::size_t>(n), nullptr);
  for (std::int32_t i = n; i < count_; ++i) items_[static_cast<std::size_t>(i)] = nullptr;
  count_ = n;
}

void TList::Clear() {
  count_ = 0;
  std::vector<TRefObject*>().swap(items_);
}

void TList::FreeAndClear() {
  for (std::int32_t i = 0; i < count_; ++i) {
    TRefObject* p = items_[static_cast<std::size_t>(i)];
    items_[static_cast<std::size_t>(i)] = nullptr;
    if (p) p->Free();
  }
  Clear();
}

void TList::DetachAndFree() {
  std::vector<TRefObject*> items;
  items.swap(items_);
  std::int32_t n = count_;
  count_ = 0;
  for (std::int32_t i = 0; i < n; ++i)
    if (TRefObject* p = items[static_cast<std::size_t>(i)]) p->Free();
}

void TList::Sort(TListCompareFunc compare) {
  TRef<TListSorter> s = MakeRef<TListSorter>(this, compare);
  s->SortRange(0, count_ - 1);
}

void TList::SortByMethod(const TListCompareMethod& compare) {
  TRef<TListSorter2> s = MakeRef<TListSorter2>(this, compare);
  s->SortRange(0, count_ - 1);
}

void FreeListItems(TRef<TList>& list) {
  TRef<TList> saved = std::move(list);
  list = nullptr;
  if (saved) saved->FreeAndClear();
  list = std::move(saved);
}

namespace {

// One partition step of the quicksort over lo..hi around the item at p:
// afterwards lo..j holds the lesser items and i..hi the greater.
template <class TCompare, class TExchange>
void Partition(std::int32_t lo, std::int32_t hi, std::int32_t p, std::int32_t& i, std::int32_t& j, TCompare compare,
               TExchange exchange) {
  i = lo;
  j = hi;
  do {
    // the bounds only matter for a comparison that contradicts itself
    while (i < hi && compare(i, p) < 0) ++i;
    while (j > lo && compare(j, p) > 0) --j;
    if (i <= j) {
      // the pivot index follows its item
      if (i == p) p = j;
      else if (j == p) p = i;
      exchange(i, j);
      ++i;
      --j;
    }
  } while (i <= j);
}

}  // namespace

// ============================================================================
// TSorter
// ============================================================================

void TSorter::Sort() {
  std::int32_t n = GetCount();
  if (n >= 2) QuickSort(0, n - 1);
}

void TSorter::SortRange(std::int32_t lo, std::int32_t hi) {
  if (hi > lo) QuickSort(lo, hi);
}

bool TSorter::Find(const void* key, std::int32_t& index) { return BinarySearch(key, 0, GetCount() - 1, index); }

bool TSorter::FindInRange(const void* key, std::int32_t lo, std::int32_t hi, std::int32_t& index) {
  return BinarySearch(key, lo, hi, index);
}

void TSorter::QuickSort(std::int32_t lo, std::int32_t hi) {
  while (lo < hi) {
    std::int32_t i, j;
    Partition(lo, hi, static_cast<std::int32_t>((std::int64_t(lo) + hi) >> 1), i, j,
              [this](std::int32_t a, std::int32_t b) { return Compare(a, b); },
              [this](std::int32_t a, std::int32_t b) { Exchange(a, b); });
    // Recurse into the smaller part and loop on the larger: the result is
    // the same, and the stack stays shallow on any input.
    if (j - lo < hi - i) {
      if (lo < j) QuickSort(lo, j);
      lo = i;
    } else {
      if (i < hi) QuickSort(i, hi);
      hi = j;
    }
  }
}

bool TSorter::BinarySearch(const void* key, std::int32_t lo, std::int32_t hi, std::int32_t& index) {
  while (true) {
    if (hi < lo) {
      index = lo;
      return false;
    }
    if (hi == lo) {
      std::int32_t c = CompareKey(key, lo);
      index = c > 0 ? lo + 1 : lo;
      return c == 0;
    }
    if (hi == lo + 1) {
      std::int32_t c = CompareKey(key, lo);
      if (c > 0) {
        c = CompareKey(key, hi);
        index = c > 0 ? hi + 1 : hi;
      } else {
        index = lo;
      }
      return c == 0;
    }
    std::int32_t m = lo + (hi - lo) / 2;
    std::int32_t c = CompareKey(key, m);
    if (c == 0) {
      index = m;
      return true;
    }
    if (c > 0) lo = m + 1;
    else hi = m - 1;
  }
}

std::int32_t TListSorter::CompareKey(const void* key, std::int32_t i) {
  return CompareFunc(static_cast<TRefObject*>(const_cast<void*>(key)), List->Get(i));
}

std::int32_t TListSorter2::CompareKey(const void* key, std::int32_t i) {
  return CompareMethod(static_cast<TRefObject*>(const_cast<void*>(key)), List->Get(i));
}

// ============================================================================
// Callback sorting
// ============================================================================

void InitSortCallbacks(TSortContext& context, TSortCompareProc compare, void* compareData, TSortExchangeProc exchange,
                       void* exchangeData) {
  context.CompareProc = compare;
  context.CompareData = compareData;
  context.ExchangeProc = exchange;
  context.ExchangeData = exchangeData;
}

namespace {

struct TCallbackSort {
  const TSortContext& C;
  std::int32_t Compare(std::int32_t i, std::int32_t j) const { return C.CompareProc(C.CompareData, i, j); }
  void Exchange(std::int32_t i, std::int32_t j) const { C.ExchangeProc(C.ExchangeData, i, j); }

  void SelectionSort(std::int32_t lo, std::int32_t hi) const {
    for (std::int32_t end = hi; end > lo; --end) {
      std::int32_t m = end;
      for (std::int32_t k = lo; k < end; ++k)
        if (Compare(m, k) < 0) m = k;
      if (m != end) Exchange(m, end);
    }
  }

  void SiftDown(std::int32_t lo, std::int32_t i, std::int32_t hi) const {
    while (true) {
      std::int64_t c = 2 * std::int64_t(i) - lo + 1;
      if (c > hi) return;
      std::int32_t ci = static_cast<std::int32_t>(c);
      if (ci < hi && Compare(ci, ci + 1) < 0) ++ci;
      if (Compare(i, ci) >= 0) return;
      Exchange(i, ci);
      i = ci;
    }
  }

  void HeapSort(std::int32_t lo, std::int32_t hi) const {
    for (std::int32_t i = lo + (hi - lo - 1) / 2; i >= lo; --i) SiftDown(lo, i, hi);
    for (std::int32_t end = hi; end > lo; --end) {
      Exchange(lo, end);
      SiftDown(lo, lo, end - 1);
    }
  }

  void IntroSort(std::int32_t lo, std::int32_t hi, int depth) const {
    do {
      std::int32_t i, j;
      Partition(lo, hi, lo + (hi - lo) / 2, i, j, [this](std::int32_t a, std::int32_t b) { return Compare(a, b); },
                [this](std::int32_t a, std::int32_t b) { Exchange(a, b); });
      if (j - lo < 16) {
        if (j > lo) SelectionSort(lo, j);
      } else if (depth != 0) {
        IntroSort(lo, j, depth - 1);
      } else {
        HeapSort(lo, j);
      }
      lo = i;
    } while (lo < hi);
  }
};

}  // namespace

void IntroSortRange(const TSortContext& context, std::int32_t lo, std::int32_t hi) {
  if (!context.CompareProc || !context.ExchangeProc || hi <= lo) return;
  TCallbackSort s{context};
  if (hi - lo < 16) s.SelectionSort(lo, hi);
  else s.IntroSort(lo, hi, 32);
}

std::int32_t ShakerSortRange(const TSortContext& context, std::int32_t lo, std::int32_t hi) {
  if (!context.CompareProc || !context.ExchangeProc || hi <= lo) return 0;
  TCallbackSort s{context};
  std::int32_t l = lo + 1, r = hi, last = hi, count = 0;
  while (l <= r) {
    for (std::int32_t k = r; k >= l; --k)
      if (s.Compare(k - 1, k) > 0) {
        s.Exchange(k - 1, k);
        ++count;
        last = k;
      }
    l = last + 1;
    for (std::int32_t k = l; k <= r; ++k)
      if (s.Compare(k - 1, k) > 0) {
        s.Exchange(k - 1, k);
        ++count;
        last = k;
      }
    r = last - 1;
  }
  return count;
}

// ============================================================================
// Hashes
// ============================================================================

namespace {
inline std::uint32_t ElfStep(std::uint32_t h, std::uint8_t b) {
  h = (h << 4) + b;
  if (h > 0x0FFFFFFFu) h = (h ^ ((h & 0xF0000000u) >> 24)) & 0x0FFFFFFFu;
  return h;
}
}  // namespace

std::uint32_t ElfHash(std::string_view bytes) {
  std::uint32_t h = 0;
  for (char c : bytes) h = ElfStep(h, static_cast<std::uint8_t>(c));
  return h;
}

std::uint32_t ElfHashWide(WideStringView s) {
  std::uint32_t h = 0;
  for (char16_t c : s) h = ElfStep(h, static_cast<std::uint8_t>(c));
  return h;
}

// ============================================================================
// THashList
// ============================================================================

void THashItem::Dispose() {
  while (TKeyItem* e = First) e->Free();  // each entry unlinks itself
  TRefObject::Dispose();
}

TKeyItem::TKeyItem(THashItem* bucket, const WideString& key) : Bucket(bucket), Key(key) {
  ZM_ASSERT(bucket != nullptr, "TKeyItem without bucket");
  Prev = bucket->Last;
  if (bucket->Last) bucket->Last->Next = this;
  else bucket->First = this;
  bucket->Last = this;
}

void TKeyItem::Dispose() {
  if (THashItem* b = Bucket) {
    if (Prev) {
      ZM_ASSERT(Prev->Next == this, "TKeyItem chain broken");
      Prev->Next = Next;
    } else {
      ZM_ASSERT(b->First == this, "TKeyItem chain broken");
      b->First = Next;
    }
    if (Next) {
      ZM_ASSERT(Next->Prev == this, "TKeyItem chain broken");
      Next->Prev = Prev;
    } else {
      ZM_ASSERT(b->Last == this, "TKeyItem chain broken");
      b->Last = Prev;
    }
    Prev = Next = nullptr;
    Bucket = nullptr;
    if (b->Owner) b->Owner->ForgetItem(this);
  }
  TList::Dispose();
}

THashList::THashList(std::int32_t bucketCount)
    : buckets_(static_cast<std::size_t>(std::max(bucketCount, 1)), nullptr) {}

void THashList::Dispose() {
  for (std::size_t i = buckets_.size(); i-- > 0;) {
    THashItem* b = buckets_[i];
    buckets_[i] = nullptr;
    if (b) b->Free();
  }
  LastBucket = nullptr;
  LastItem = nullptr;
  TRefObject::Dispose();
}

std::uint32_t THashList::HashKey(const WideString& key) { return ElfHashWide(key); }

THashItem* THashList::GetBucket(std::uint32_t hash) {
  std::size_t i = hash % buckets_.size();
  if (!buckets_[i]) buckets_[i] = new THashItem(this);
  return buckets_[i];
}

THashItem* THashList::BucketAt(std::int32_t i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= buckets_.size()) return nullptr;
  return buckets_[static_cast<std::size_t>(i)];
}

TKeyItem* THashList::NewItem(THashItem* bucket, const WideString& key) { return new TKeyItem(bucket, key); }

void THashList::ForgetItem(TKeyItem* item) {
  if (item == LastItem) {
    LastItem = nullptr;
    LastBucket = nullptr;
  }
}

bool THashList::SameKey(const WideString& a, const WideString& b) { return a == b; }

TKeyItem* THashList::Lookup(const WideString& key) {
  if (LastBucket && LastKey == key) return LastItem;
  LastKey = key;
  LastItem = nullptr;
  LastBucket = GetBucket(HashKey(key));
  for (TKeyItem* e = LastBucket->First; e; e = e->Next)
    if (SameKey(e->Key, key)) {
      LastItem = e;
      break;
    }
  return LastItem;
}

bool THashList::Contains(const WideString& key) { return Lookup(key) != nullptr; }

TKeyItem* THashList::GetItem(const WideString& key) {
  bool created;
  return GetItemEx(key, created);
}

TKeyItem* THashList::GetItemEx(const WideString& key, bool& created) {
  created = false;
  if (TKeyItem* e = Lookup(key)) return e;
  TKeyItem* e = NewItem(LastBucket, key);
  LastItem = e;
  created = true;
  return e;
}

bool THashList::Find(const WideString& key, TKeyItem*& item) {
  item = Lookup(key);
  return item != nullptr;
}

bool THashList::Delete(const WideString& key) {
  TKeyItem* e = Lookup(key);
  if (!e) return false;
  e->Free();
  return true;
}

void THashList::Clear(bool freeValues) {
  for (std::size_t i = buckets_.size(); i-- > 0;) {
    THashItem* b = buckets_[i];
    if (!b) continue;
    while (TKeyItem* e = b->First) {
      if (freeValues) e->FreeAndClear();
      e->Free();
    }
  }
  LastBucket = nullptr;
  LastItem = nullptr;
}

// ============================================================================
// TNameTable
// ============================================================================

void TNameTable::Clear() {
  blocks_.clear();
  blocks_.shrink_to_fit();
  chunks_.clear();
  chunks_.shrink_to_fit();
  count_ = 0;
  entries_ = 0;
  heads_.clear();
  heads_.shrink_to_fit();
}

namespace {

// A key of the process mixed into every name's hash: which names share a
// chain cannot be worked out beforehand.
std::uint64_t ProcessHashKey() {
  static const std::uint64_t key = [] {
    std::random_device device;
    return (std::uint64_t(device()) << 32 | device()) | 1;
  }();
  return key;
}

std::uint32_t NameHash(std::string_view name) {
  std::uint64_t h = (std::hash<std::string_view>()(name) ^ ProcessHashKey()) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// Each UTF-16 unit on its own in one to three bytes (a lone surrogate too):
// two names are equal exactly when their bytes are.
void EncodeUnits(std::u16string_view name, std::string& out) {
  out.clear();
  for (const char16_t c : name) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

WideString DecodeUnits(std::string_view bytes) {
  WideString out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      i += 1;
    } else if (b < 0xE0) {
      out += static_cast<char16_t>((b & 0x1F) << 6 | (static_cast<std::uint8_t>(bytes[i + 1]) & 0x3F));
      i += 2;
    } else {
      out += static_cast<char16_t>((b & 0x0F) << 12 | (static_cast<std::uint8_t>(bytes[i + 1]) & 0x3F) << 6 |
                                   (static_cast<std::uint8_t>(bytes[i + 2]) & 0x3F));
      i += 3;
    }
  }
  return out;
}

// Bytes of one block of names.
constexpr std::size_t kNameBlock = std::size_t(1) << 17;

}  // namespace

void TNameTable::AddEncoded(std::string_view name, std::int32_t value, std::string_view text) {
  // Counts and places are 32-bit: a description (at most kMaxIniTextSize
  // bytes) is far shorter.
  const std::size_t bytes = name.size() + text.size();
  if (count_ >= INT32_MAX / 4 || bytes > UINT32_MAX) return;
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < bytes) {
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(kNameBlock, bytes));
  }
  std::string& block = blocks_.back();
  if ((count_ >> kChunkShift) == chunks_.size()) chunks_.emplace_back(new TEntry[std::size_t(1) << kChunkShift]);
  ++entries_;
  At(count_++) = {NameHash(name),
                  static_cast<std::uint32_t>(blocks_.size() - 1),
                  static_cast<std::uint32_t>(block.size()),
                  static_cast<std::uint32_t>(name.size()),
                  static_cast<std::uint32_t>(text.size()),
                  value,
                  0};
  block.append(name);
  block.append(text);
}

void TNameTable::Add(std::u16string_view name, std::int32_t value, std::u16string_view text) {
  std::string nameBytes, textBytes;
  EncodeUnits(name, nameBytes);
  EncodeUnits(text, textBytes);
  AddEncoded(nameBytes, value, textBytes);
}

void TNameTable::AddAscii(std::string_view name, std::int32_t value, std::string_view text) {
  AddEncoded(name, value, text);
}

void TNameTable::Append(TNameTable&& part) {
  const std::size_t chunk = std::size_t(1) << kChunkShift;
  if (part.entries_ == 0) return;
  // The rest of the last chunk here stays a gap: the part's chunks follow.
  for (; count_ % chunk != 0; ++count_) At(count_).Block = kGap;
  const auto blocks = static_cast<std::uint32_t>(blocks_.size());
  for (std::size_t i = 0; i < part.count_; ++i)
    if (TEntry& e = part.At(i); e.Block != kGap) e.Block += blocks;
  for (std::string& block : part.blocks_) blocks_.push_back(std::move(block));
  for (std::unique_ptr<TEntry[]>& entries : part.chunks_) chunks_.push_back(std::move(entries));
  count_ += part.count_;
  entries_ += part.entries_;
  part.Clear();
}

void TNameTable::MakeIndex() {
  std::size_t size = 16;
  while (size < count_) size *= 2;
  heads_.assign(size, 0);
  // From the last entry to the first, each put first in its chain: a chain
  // holds earlier entries first, and the first of a name is found first. A
  // later entry of the same name just put there gives its place up.
  for (std::size_t k = count_; k-- > 0;) {
    TEntry& e = At(k);
    if (e.Block == kGap) continue;
    std::uint32_t& head = heads_[BucketOf(e.Hash)];
    e.Next = head;
    if (head) {
      const TEntry& first = At(head - 1);
      if (first.Hash == e.Hash && NameOf(first) == NameOf(e)) e.Next = first.Next;
    }
    head = static_cast<std::uint32_t>(k + 1);
  }
}

bool TNameTable::FindAscii(std::string_view name, std::int32_t& value) const {
  if (heads_.empty()) return false;
  const std::uint32_t hash = NameHash(name);
  for (std::uint32_t i = heads_[BucketOf(hash)]; i; i = At(i - 1).Next) {
    const TEntry& e = At(i - 1);
    if (e.Hash != hash || NameOf(e) != name) continue;
    value = e.Value;
    return true;
  }
  return false;
}

bool TNameTable::Find(std::u16string_view name, std::int32_t& value, WideString* text) const {
  if (heads_.empty()) return false;
  std::string bytes;
  EncodeUnits(name, bytes);
  const std::uint32_t hash = NameHash(bytes);
  for (std::uint32_t i = heads_[BucketOf(hash)]; i; i = At(i - 1).Next) {
    const TEntry& e = At(i - 1);
    if (e.Hash != hash || NameOf(e) != bytes) continue;
    value = e.Value;
    if (text) *text = DecodeUnits(std::string_view(blocks_[e.Block]).substr(e.From + e.NameBytes, e.TextBytes));
    return true;
  }
  return false;
}

std::size_t TNameTable::LongestChain() const {
  std::size_t longest = 0;
  for (std::uint32_t head : heads_) {
    std::size_t n = 0;
    for (std::uint32_t i = head; i; i = At(i - 1).Next) ++n;
    longest = std::max(longest, n);
  }
  return longest;
}

// ============================================================================
// TIntHashList
// ============================================================================

std::int32_t TIntHashList::IndexOf(const TByteString& key, std::uint32_t hash) const {
  if (capacity_ == 0) return -1;
  std::uint32_t chain = hash & static_cast<std::uint32_t>(capacity_ - 1);
  for (std::int32_t i = entries_[chain].Head - 1; i >= 0; i = entries_[static_cast<std::size_t>(i)].Next) {
    const TEntry& e = entries_[static_cast<std::size_t>(i)];
    if (e.Hash == hash && e.Key == key) return i;
  }
  return -1;
}

std::int32_t TIntHashList::GetValue(const TByteString& key, std::int32_t def) const {
  std::int32_t i = IndexOf(key, ElfHash(key.View()));
  return i < 0 ? def : entries_[static_cast<std::size_t>(i)].Value;
}

bool TIntHashList::Contains(const TByteString& key) const { return IndexOf(key, ElfHash(key.View())) >= 0; }

void TIntHashList::SetValue(const TByteString& key, std::int32_t value) {
  std::uint32_t hash = ElfHash(key.View());
  std::int32_t i = IndexOf(key, hash);
  if (i >= 0) entries_[static_cast<std::size_t>(i)].Value = value;
  else AddEntry(key, hash, value);
}

void TIntHashList::AddEntry(const TByteString& key, std::uint32_t hash, std::int32_t value) {
  if (count_ >= capacity_) {
    ZM_ASSERT(capacity_ < (1 << 30), "TIntHashList is full");
    Rehash(capacity_ == 0 ? 16 : capacity_ * 2);
    ZM_ASSERT(count_ < capacity_, "TIntHashList.Rehash made no room");
  }
  std::int32_t index = count_++;
  std::uint32_t chain = hash & static_cast<std::uint32_t>(capacity_ - 1);
  TEntry& e = entries_[static_cast<std::size_t>(index)];
  e.Key = key;
  e.Hash = hash;
  e.Value = value;
  e.Next = entries_[chain].Head - 1;
  entries_[chain].Head = index + 1;
}

void TIntHashList::Rehash(std::int32_t newCapacity) {
  ZM_ASSERT(newCapacity > 0 && (newCapacity & (newCapacity - 1)) == 0, "TIntHashList capacity not a power of two");
  for (TEntry& e : entries_) e.Head = 0;
  entries_.resize(static_cast<std::size_t>(newCapacity));
  capacity_ = newCapacity;
  for (std::int32_t i = 0; i < count_; ++i) {
    TEntry& e = entries_[static_cast<std::size_t>(i)];
    std::uint32_t chain = e.Hash & static_cast<std::uint32_t>(capacity_ - 1);
    e.Next = entries_[chain].Head - 1;
    entries_[chain].Head = i + 1;
  }
}

void TIntHashList::Clear() {
  std::vector<TEntry>().swap(entries_);
  capacity_ = 0;
  count_ = 0;
}

// ============================================================================
// Bit functions
// ============================================================================

std::uint32_t PopCount32(std::uint32_t v) {
  v = v - ((v >> 1) & 0x55555555u);
  v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0Fu;
  return (v * 0x01010101u) >> 24;
}

std::uint32_t NextPowerOfTwo(std::uint32_t v) {
  if (v == 0 || v > 0x80000000u) return 0;
  --v;
  v |= v >> 1;
  v |= v >> 2;
  v |= v >> 4;
  v |= v >> 8;
  v |= v >> 16;
  return v + 1;
}

}  // namespace zm
