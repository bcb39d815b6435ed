#include "ZmLib/zmLists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace zm;

namespace {

// An object that counts how many of its kind are alive.
class TCounted : public TRefObject {
public:
  explicit TCounted(int v = 0) : Value(v) { ++Alive; }
  void Dispose() override {
    --Alive;
    TRefObject::Dispose();
  }
  int Value;
  static int Alive;
};
int TCounted::Alive = 0;

class TOther : public TCounted {};

std::int32_t ByValue(TRefObject* a, TRefObject* b) {
  return static_cast<TCounted*>(a)->Value - static_cast<TCounted*>(b)->Value;
}

// A sorter over a vector of ints.
class TIntSorter : public TSorter {
public:
  std::vector<int> Items;
  std::int32_t GetCount() override { return static_cast<std::int32_t>(Items.size()); }
  std::int32_t Compare(std::int32_t i, std::int32_t j) override {
    return Items[static_cast<std::size_t>(i)] - Items[static_cast<std::size_t>(j)];
  }
  std::int32_t CompareKey(const void* key, std::int32_t i) override {
    return *static_cast<const int*>(key) - Items[static_cast<std::size_t>(i)];
  }
  void Exchange(std::int32_t i, std::int32_t j) override {
    std::swap(Items[static_cast<std::size_t>(i)], Items[static_cast<std::size_t>(j)]);
  }
};

// Callback sorting over a vector, counting compares and checking indexes.
struct TCallbackData {
  std::vector<int> Items;
  int Compares = 0;
};
std::int32_t CompareInts(void* data, std::int32_t i, std::int32_t j) {
  auto* d = static_cast<TCallbackData*>(data);
  ++d->Compares;
  return d->Items.at(static_cast<std::size_t>(i)) - d->Items.at(static_cast<std::size_t>(j));
}
void ExchangeInts(void* data, std::int32_t i, std::int32_t j) {
  auto* d = static_cast<TCallbackData*>(data);
  std::swap(d->Items.at(static_cast<std::size_t>(i)), d->Items.at(static_cast<std::size_t>(j)));
}

}  // namespace

TEST(List, CapacityStepsAndBounds) {
  TRef<TList> l = MakeRef<TList>();
  std::vector<std::int32_t> capacities;
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(l->Add(nullptr), i);
    if (capacities.empty() || capacities.back() != l->Capacity()) capacities.push_back(l->Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{4, 8, 12, 28}));
  EXPECT_EQ(l->Get(-1), nullptr);
  EXPECT_THROW(l->Put(1000, nullptr), EAbort);
  EXPECT_THROW(l->PutExpand(-1, nullptr), EAbort);
  EXPECT_FALSE(l->Insert(-1, nullptr));
  EXPECT_FALSE(l->Insert(l->Count() + 1, nullptr));
  l->Delete(-1);
  l->Delete(5000);
  EXPECT_EQ(l->Count(), 13);
  l->Put(3, l.get());
  l->SetCount(3);
  l->SetCount(5);
  EXPECT_EQ(l->Get(3), nullptr);  // slots past the old count were cleared
  l->SetCount(-1);
  l->SetCount(TList::kMaxListSize);
  EXPECT_EQ(l->Count(), 5);
}

TEST(List, FreeingItemsAndSorting) {
  int before = TCounted::Alive;
  TRef<TList> l = MakeRef<TList>();
  for (int v : {5, 3, 9, 1, 7, 3}) l->Add(new TCounted(v));
  l->Add(new TOther());
  std::int32_t i = 0;
  EXPECT_TRUE(l->FindByClass<TOther>(i));
  EXPECT_EQ(i, 6);
  l->Sort(&ByValue);
  std::vector<int> got;
  for (int k = 0; k < l->Count(); ++k) got.push_back(static_cast<TCounted*>(l->Get(k))->Value);
  EXPECT_EQ(got, (std::vector<int>{0, 1, 3, 3, 5, 7, 9}));
  l->DetachAndFree();
  EXPECT_EQ(TCounted::Alive, before);
  l->Add(new TCounted());
  l->Add(nullptr);
  FreeListItems(l);
  EXPECT_EQ(TCounted::Alive, before);
}

TEST(Sorter, QuickSortAndBinarySearch) {
  TRef<TIntSorter> s = MakeRef<TIntSorter>();
  s->Items = {10, 20, 30, 40, 50};
  const std::pair<int, std::int32_t> misses[] = {{60, 5}, {5, 0}, {35, 3}};
  std::int32_t index = -1;
  for (auto [key, at] : misses) {
    EXPECT_FALSE(s->Find(&key, index));
    EXPECT_EQ(index, at) << key;
  }
  int key = 25;
  EXPECT_FALSE(s->FindInRange(&key, 1, 2, index));
  EXPECT_EQ(index, 2);
  // The pivot item is exchanged during partitioning; its index follows it.
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    s->Items.resize(static_cast<std::size_t>(rng() % 40));
    for (int& v : s->Items) v = static_cast<int>(rng() % 10);
    std::vector<int> expected = s->Items;
    std::sort(expected.begin(), expected.end());
    s->Sort();
    ASSERT_EQ(s->Items, expected);
  }
  s->Items = {3, 2, 1, 0};
  s->SortRange(1, 2);
  s->SortRange(2, 1);  // empty range: nothing
  EXPECT_EQ(s->Items, (std::vector<int>{3, 1, 2, 0}));
  // A comparison that contradicts itself still stays in range.
  class TLiar : public TIntSorter {
  public:
    std::int32_t Compare(std::int32_t i, std::int32_t j) override {
      EXPECT_TRUE(i >= 0 && i < GetCount() && j >= 0 && j < GetCount()) << i << " " << j;
      return -1;  // everything is less than everything
    }
  };
  TRef<TLiar> liar = MakeRef<TLiar>();
  liar->Items.assign(100, 0);
  liar->Sort();
}

TEST(CallbackSort, IntroSelectionAndShaker) {
  TSortContext c;
  TCallbackData d;
  InitSortCallbacks(c, &CompareInts, &d, &ExchangeInts, &d);
  d.Items = {14, 3, 9, 0, 12, 7, 1, 13, 5, 8, 2, 11, 6, 10, 4};  // 15 items
  IntroSortRange(c, 0, 14);
  EXPECT_TRUE(std::is_sorted(d.Items.begin(), d.Items.end()));
  // the selection sort compares every pair of a shrinking range: 14+13+...+1
  EXPECT_EQ(d.Compares, 105);
  std::mt19937 rng(3);
  for (int n : {16, 100, 3000}) {  // Items.at() catches an index out of range
    d.Items.resize(static_cast<std::size_t>(n));
    for (int& v : d.Items) v = static_cast<int>(rng() % 50);
    IntroSortRange(c, 0, n - 1);
    EXPECT_TRUE(std::is_sorted(d.Items.begin(), d.Items.end()));
  }
  EXPECT_EQ(ShakerSortRange(c, 0, 2999), 0);  // already sorted: no exchange
  d.Items = {1, 2, 3, 5, 4, 6, 0};
  EXPECT_EQ(ShakerSortRange(c, 0, 6), 7);
}

TEST(HashList, BucketsCacheAndEntries) {
  TRef<THashList> h = MakeRef<THashList>(0);
  EXPECT_EQ(h->BucketCount(), 1);
  THashItem* bucket = h->GetBucket(1);  // buckets are made on first use
  EXPECT_EQ(bucket, h->BucketAt(0));
  TRef<THashList> g = MakeRef<THashList>(251);
  for (std::uint32_t hash : {251u, 252u, 0xFFFFFFFFu}) {
    bucket = g->GetBucket(hash);
    EXPECT_EQ(bucket, g->BucketAt(static_cast<std::int32_t>(hash % 251)));
  }
  TKeyItem* found = g->GetItem(u"Logo");
  EXPECT_FALSE(g->Contains(u"logo"));  // exact keys
  // After deleting the cached key a lookup of it answers "absent".
  EXPECT_TRUE(g->Contains(u"Logo"));
  EXPECT_TRUE(g->Delete(u"Logo"));
  EXPECT_FALSE(g->Contains(u"Logo"));
  EXPECT_FALSE(g->Find(u"Logo", found));
  EXPECT_EQ(found, nullptr);
  // Keys that share a bucket keep their insertion order; unlinking the middle one.
  TRef<THashList> one = MakeRef<THashList>(1);
  TKeyItem* a = one->GetItem(u"a");
  one->GetItem(u"b");
  TKeyItem* c = one->GetItem(u"c");
  EXPECT_TRUE(one->Delete(u"b"));
  EXPECT_EQ(a->Next, c);
  EXPECT_EQ(c->Prev, a);
  // Clearing frees the values, or leaves them to their other owners.
  int before = TCounted::Alive;
  one->GetItem(u"a")->Add(new TCounted(1));
  one->Clear(true);
  EXPECT_EQ(TCounted::Alive, before);
  TRef<TCounted> kept = MakeRef<TCounted>(1);
  one->GetItem(u"x")->Add(kept.get());
  one->Clear(false);
  EXPECT_EQ(kept->RefCount(), 1);
}

TEST(HashList, IntHashListAndHashes) {
  TIntHashList h;
  EXPECT_EQ(h.GetValue("missing", -1), -1);  // empty table
  for (int i = 0; i < 1000; ++i) h.SetValue(TByteString(std::string("k").append(std::to_string(i))), i);
  EXPECT_EQ(h.Capacity(), 1024);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(h.GetValue(TByteString(std::string("k").append(std::to_string(i))), -1), i);
  EXPECT_FALSE(h.Contains("K999"));
  EXPECT_EQ(ElfHash(std::string_view()), 0u);
  EXPECT_LE(ElfHash(std::string(1000, 'z')), 0x0FFFFFFFu);
  EXPECT_EQ(ElfHashWide(u"\u0141B"), ElfHash("AB"));  // the low byte of each character
  // The fold of the top four bits back into bits 4..7 once a step passes 28
  // bits: the values other programs get for the same names (the screen
  // saver's instance lock is named by them).
  EXPECT_EQ(ElfHash("printf"), 0x077905A6u);
  EXPECT_EQ(ElfHash("/usr/local/bin/OruViewer5.scr"), 106416850u);
  EXPECT_EQ(ElfHashWide(u"/usr/local/bin"), 98319054u);
  EXPECT_EQ(ElfHash(std::string(8, '\xFF')), 4335u);
  EXPECT_EQ(NextPowerOfTwo(17), 32u);
  EXPECT_EQ(NextPowerOfTwo(16), 16u);
  EXPECT_EQ(NextPowerOfTwo(0x80000001u), 0u);
}

TEST(NameTable, LookupsStayShortHoweverTheNamesRun) {
  // Names that differ in a digit or two, and one name many times over: no
  // lookup looks along more than a handful of entries, and the first of a
  // name counts.
  TNameTable table;
  constexpr int kNames = 200000;
  for (int i = 0; i < kNames; ++i) table.AddAscii("PICTURES\\P" + std::to_string(i) + ".JPG", i);
  for (int i = 0; i < kNames; ++i) table.AddAscii("SAME", i);
  table.Add(u"\u00DC", 7, u"\u00E4\U0001F600");
  table.MakeIndex();
  EXPECT_LE(table.LongestChain(), 16u);
  std::int32_t value = -1;
  WideString text;
  EXPECT_TRUE(table.Find(u"PICTURES\\P123456.JPG", value) && value == 123456);
  EXPECT_TRUE(table.Find(u"SAME", value) && value == 0);
  EXPECT_TRUE(table.Find(u"\u00DC", value, &text) && value == 7 && text == u"\u00E4\U0001F600");
  EXPECT_FALSE(table.Find(u"PICTURES\\P200000.JPG", value));
  EXPECT_TRUE(table.FindAscii("PICTURES\\P7.JPG", value) && value == 7);
  EXPECT_FALSE(table.FindAscii("pictures\\p7.jpg", value));  // as added: the caller's form
  EXPECT_FALSE(table.Find(u"", value));
}
