#pragma once
// The container layer: TList (a growable list of object pointers), the
// abstract sorter with its quicksort and binary search, callback sorting of
// any indexable data, THashList (wide-string keys to lists of values, with a
// one-entry lookup cache), TIntHashList (byte-string keys to integers) and
// the bit tables.
//
// Indexes are 0-based. Lists hold plain pointers: they do not take
// references; FreeAndClear and friends free the items explicitly.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// ============================================================================
// TList
// ============================================================================

using TListCompareFunc = std::int32_t (*)(TRefObject* a, TRefObject* b);
using TListCompareMethod = std::function<std::int32_t(TRefObject* a, TRefObject* b)>;

class TList : public TRefObject {
public:
  static constexpr std::int32_t kMaxListSize = 134217727;  // 0x7FFFFFF

  void Dispose() override;  // releases the array; items are not freed
  // I >= 0 stores the item, growing the count to I + 1 first when I is past
  // the end; a negative I fails an assertion.
  virtual void PutExpand(std::int32_t i, TRefObject* p);

  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return static_cast<std::int32_t>(items_.size()); }

  TRefObject* Get(std::int32_t i) const;  // nil out of range
  void Put(std::int32_t i, TRefObject* p);  // out of range: assertion
  std::int32_t Add(TRefObject* p);        // the new index, -1 when the list cannot grow
  bool Insert(std::int32_t i, TRefObject* p);
  void Delete(std::int32_t i);  // a bad index is ignored
  TRefObject* ExtractAt(std::int32_t i);
  std::int32_t Remove(TRefObject* p);
  std::int32_t IndexOf(TRefObject* p) const;
  TRefObject* First() const { return Get(0); }
  TRefObject* Last() const { return Get(count_ - 1); }
  void Exchange(std::int32_t i, std::int32_t j);
  // 0 <= n < kMaxListSize; other values are ignored.
  void SetCount(std::int32_t n);
  void Clear();
  void FreeAndClear();   // frees every item, then releases the array
  void DetachAndFree();  // the list reads empty while its items are freed
  // From index i on, the first item of class T or a descendant: true with
  // its index in i.
  template <class T>
  bool FindByClass(std::int32_t& i) const {
    for (std::int32_t k = i < 0 ? 0 : i; k < count_; ++k)
      if (dynamic_cast<T*>(items_[static_cast<std::size_t>(k)])) {
        i = k;
        return true;
      }
    return false;
  }
  void Sort(TListCompareFunc compare);
  void SortByMethod(const TListCompareMethod& compare);

protected:
  bool Grow(std::int32_t n);

private:
  std::vector<TRefObject*> items_;  // its length is the capacity
  std::int32_t count_ = 0;
};

// Sets the variable to nil, frees the list's items, then restores it (code
// run while the items are freed does not see the list).
void FreeListItems(TRef<TList>& list);

// ============================================================================
// Sorters
// ============================================================================

class TSorter : public TRefObject {
public:
  virtual std::int32_t GetCount() = 0;
  virtual std::int32_t Compare(std::int32_t i, std::int32_t j) = 0;
  // The key (whose type the descendant defines) against item i.
  virtual std::int32_t CompareKey(const void* key, std::int32_t i) = 0;
  virtual void Exchange(std::int32_t i, std::int32_t j) = 0;
  virtual void Sort();
  virtual void SortRange(std::int32_t lo, std::int32_t hi);
  // Binary search; index is where the key is or belongs.
  virtual bool Find(const void* key, std::int32_t& index);
  virtual bool FindInRange(const void* key, std::int32_t lo, std::int32_t hi, std::int32_t& index);

protected:
  void QuickSort(std::int32_t lo, std::int32_t hi);
  bool BinarySearch(const void* key, std::int32_t lo, std::int32_t hi, std::int32_t& index);
};

// What the two list sorters share: the list, its count and the swap.
class TListSorterBase : public TSorter {
public:
  explicit TListSorterBase(TList* list) : List(list) {}
  std::int32_t GetCount() override { return List ? List->Count() : 0; }
  void Exchange(std::int32_t i, std::int32_t j) override { List->Exchange(i, j); }

  TList* List;
};

// Sorts a TList with a function of two items; CompareKey takes the key as
// an item pointer.
class TListSorter : public TListSorterBase {
public:
  TListSorter(TList* list, TListCompareFunc compare) : TListSorterBase(list), CompareFunc(compare) {}
  std::int32_t Compare(std::int32_t i, std::int32_t j) override { return CompareFunc(List->Get(i), List->Get(j)); }
  std::int32_t CompareKey(const void* key, std::int32_t i) override;

  TListCompareFunc CompareFunc;
};

class TListSorter2 : public TListSorterBase {
public:
  TListSorter2(TList* list, TListCompareMethod compare) : TListSorterBase(list), CompareMethod(std::move(compare)) {}
  std::int32_t Compare(std::int32_t i, std::int32_t j) override { return CompareMethod(List->Get(i), List->Get(j)); }
  std::int32_t CompareKey(const void* key, std::int32_t i) override;

  TListCompareMethod CompareMethod;
};

// ============================================================================
// Callback sorting over any indexable data
// ============================================================================

using TSortCompareProc = std::int32_t (*)(void* data, std::int32_t i, std::int32_t j);
using TSortExchangeProc = void (*)(void* data, std::int32_t i, std::int32_t j);

struct TSortContext {
  TSortCompareProc CompareProc = nullptr;
  void* CompareData = nullptr;
  TSortExchangeProc ExchangeProc = nullptr;
  void* ExchangeData = nullptr;
};

void InitSortCallbacks(TSortContext& context, TSortCompareProc compare, void* compareData, TSortExchangeProc exchange,
                       void* exchangeData);
// Introsort: selection sort below 16 items, quicksort partitions, heap sort
// past a depth of 32.
void IntroSortRange(const TSortContext& context, std::int32_t lo, std::int32_t hi);
// Cheap when few items are out of place; returns the exchanges made.
std::int32_t ShakerSortRange(const TSortContext& context, std::int32_t lo, std::int32_t hi);

// ============================================================================
// Hashes
// ============================================================================

// PJW hash: at most 28 bits; 0 for the empty string.
std::uint32_t ElfHash(std::string_view bytes);  // of a byte string: ElfHash(s.View())
// Over the low byte of each character.
std::uint32_t ElfHashWide(WideStringView s);

// ============================================================================
// THashList
// ============================================================================

class THashList;
class TKeyItem;

// One bucket: a chain of entries in insertion order.
class THashItem : public TRefObject {
public:
  explicit THashItem(THashList* owner) : Owner(owner) {}
  void Dispose() override;  // frees the entries from the first

  THashList* Owner;
  TKeyItem* First = nullptr;
  TKeyItem* Last = nullptr;
};

// One key's entry; its list items are the values stored under the key.
class TKeyItem : public TList {
public:
  // Appends itself to the end of its bucket's chain.
  TKeyItem(THashItem* bucket, const WideString& key);
  void Dispose() override;  // unlinks itself, then releases the value list

  THashItem* Bucket;
  TKeyItem* Prev = nullptr;
  TKeyItem* Next = nullptr;
  WideString Key;
};

class THashList : public TRefObject {
public:
  explicit THashList(std::int32_t bucketCount);  // at least 1 bucket
  void Dispose() override;

  virtual std::uint32_t HashKey(const WideString& key);  // ElfHashWide
  virtual THashItem* GetBucket(std::uint32_t hash);       // hash modulo the bucket count
  virtual TKeyItem* NewItem(THashItem* bucket, const WideString& key);
  virtual void ForgetItem(TKeyItem* item);
  virtual bool SameKey(const WideString& a, const WideString& b);  // exact
  virtual bool Contains(const WideString& key);
  virtual TKeyItem* GetItem(const WideString& key);  // made when missing
  virtual TKeyItem* GetItemEx(const WideString& key, bool& created);
  virtual bool Find(const WideString& key, TKeyItem*& item);

  bool Delete(const WideString& key);  // frees the entry; its values stay
  void Clear(bool freeValues);
  std::int32_t BucketCount() const { return static_cast<std::int32_t>(buckets_.size()); }
  // The bucket at an index, nil when it was never used.
  THashItem* BucketAt(std::int32_t i) const;

protected:
  TKeyItem* Lookup(const WideString& key);

  WideString LastKey;
  THashItem* LastBucket = nullptr;
  TKeyItem* LastItem = nullptr;

private:
  friend class TKeyItem;
  std::vector<THashItem*> buckets_;
};

// ============================================================================
// TIntHashList: byte-string keys to integers, all entries in one array
// ============================================================================

class TIntHashList {
public:
  std::int32_t GetValue(const TByteString& key, std::int32_t def) const;
  bool Contains(const TByteString& key) const;
  void SetValue(const TByteString& key, std::int32_t value);
  void Clear();
  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return capacity_; }

private:
  struct TEntry {
    TByteString Key;
    std::uint32_t Hash = 0;
    std::int32_t Value = 0;
    std::int32_t Next = -1;
    std::int32_t Head = 0;  // index + 1 of the first entry of chain number i
  };
  std::int32_t IndexOf(const TByteString& key, std::uint32_t hash) const;
  void AddEntry(const TByteString& key, std::uint32_t hash, std::int32_t value);
  void Rehash(std::int32_t newCapacity);

  std::vector<TEntry> entries_;
  std::int32_t capacity_ = 0;  // a power of two, also the number of chains
  std::int32_t count_ = 0;
};

// ============================================================================
// TNameTable: many names filled at once, looked up from any thread
// ============================================================================

// Names (in the form the caller looks them up by: upper-cased, say) to
// values and texts: the name map and rotation table of a show, the effects
// of a show by name. Of two entries of one name the first counts.
// Filled on one thread (entries added, then the index made at once), then
// read from any. The index is made in one pass without comparing names, so
// a table of any length, however its names fall, is made in linear time;
// its chains are short for names the show could not choose to collide (the
// hash is mixed with a key of the process). Names and texts are kept one to
// three bytes a character, in blocks that never move.
class TNameTable {
public:
  void Add(std::u16string_view name, std::int32_t value, std::u16string_view text = {});
  // The same for a name and text of plain ASCII bytes.
  void AddAscii(std::string_view name, std::int32_t value, std::string_view text = {});
  // Takes the entries of part after those here (part is left empty).
  void Append(TNameTable&& part);
  // Makes the index over every entry added; Find sees only what it holds.
  void MakeIndex();
  // The first entry of the name: its value and text; false when none.
  bool Find(std::u16string_view name, std::int32_t& value, WideString* text = nullptr) const;
  // The same for a name of plain ASCII bytes.
  bool FindAscii(std::string_view name, std::int32_t& value) const;
  std::size_t EntryCount() const { return entries_; }
  // The most entries one lookup may look at.
  std::size_t LongestChain() const;
  void Clear();

private:
  struct TEntry {
    std::uint32_t Hash;
    std::uint32_t Block;
    std::uint32_t From;        // the name, then the text
    std::uint32_t NameBytes;
    std::uint32_t TextBytes;
    std::int32_t Value;
    std::uint32_t Next;  // entry + 1 of the chain, 0 at its end
  };
  static constexpr std::size_t kChunkShift = 12;
  TEntry& At(std::size_t i) const { return chunks_[i >> kChunkShift][i & ((std::size_t(1) << kChunkShift) - 1)]; }
  std::string_view NameOf(const TEntry& e) const { return {blocks_[e.Block].data() + e.From, e.NameBytes}; }
  std::size_t BucketOf(std::uint32_t hash) const { return hash & (heads_.size() - 1); }
  void AddEncoded(std::string_view name, std::int32_t value, std::string_view text);
  std::vector<std::string> blocks_;
  // The entries in order, in chunks that never move; the room a chunk of
  // an appended table left unused is a gap (Block kGap), in no chain.
  static constexpr std::uint32_t kGap = 0xFFFFFFFFu;
  std::vector<std::unique_ptr<TEntry[]>> chunks_;
  std::size_t count_ = 0;    // entries and gaps
  std::size_t entries_ = 0;  // entries
  // Entry + 1 of each chain's first, 0 for none; a power of two, at least
  // the entries. A chain holds earlier entries first.
  std::vector<std::uint32_t> heads_;
};

// ============================================================================
// Bit tables and functions
// ============================================================================

namespace detail {
constexpr std::array<std::uint8_t, 256> MakeBitTable(int kind) {
  std::array<std::uint8_t, 256> t{};
  constexpr std::uint8_t kNibbleReverse[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int b = 0; b < 256; ++b) {
    int v = 0;
    switch (kind) {
      case 0: v = (kNibbleReverse[b & 15] << 4) | kNibbleReverse[b >> 4]; break;
      case 1: for (int k = 0; k < 8; ++k) v += (b >> k) & 1; break;
      case 2: v = 8; for (int k = 7; k >= 0; --k) if (b & (1 << k)) { v = 7 - k; break; } break;
      case 3: v = 8; for (int k = 0; k < 8; ++k) if (b & (1 << k)) { v = k; break; } break;
    }
    t[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(v);
  }
  return t;
}
}  // namespace detail

inline constexpr std::array<std::uint8_t, 256> BitReverse8 = detail::MakeBitTable(0);
inline constexpr std::array<std::uint8_t, 256> PopCount8 = detail::MakeBitTable(1);
inline constexpr std::array<std::uint8_t, 256> LeadingZeros8 = detail::MakeBitTable(2);
inline constexpr std::array<std::uint8_t, 256> TrailingZeros8 = detail::MakeBitTable(3);

std::uint32_t PopCount32(std::uint32_t v);
// The smallest power of two not below v; 0 for 0 and for values above 2^31.
std::uint32_t NextPowerOfTwo(std::uint32_t v);

}  // namespace zm
