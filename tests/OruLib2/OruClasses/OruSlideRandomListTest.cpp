#include "OruLib2/OruClasses/OruSlideRandomList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/kit/IniText.h"

namespace {

using namespace oru;
using zm::TRef;

TRef<zm::TIniFile> Doc(const std::string& text) {
  TRef<zm::TIniFile> f = zm::MakeRef<zm::TIniFile>();
  f->LoadFromText(zm::TByteString(text));
  return f;
}

TRef<zm::TIniFile> Project(const std::string& path, long long slides) {
  zmtest::TIniText t;
  t.Section("main").Key("ProjectFilePath", path);
  t.Section("Times").Key("opt_slidescount", slides);
  for (int n = 1; n <= 8; ++n) {
    const std::string number = std::to_string(n);
    t.Section("Slide" + number).Key("slideid", std::string("s") += number);
  }
  return Doc(t.Bytes(false));
}

TEST(OruSlideRandomList, WithoutProjectPathSlidesMapInOrder) {
  TRef<zm::TIniFile> f = Doc("[main]\r\n[Slide1]\r\nslideid=a\r\n[Slide3]\r\n");
  EXPECT_EQ(GetSlideRandomList(f.get()), nullptr);
  EXPECT_EQ(GetSlideSectionName(f.get(), 41), u"Slide42");
  EXPECT_EQ(GetSlideSection(f.get(), 2), f->FindSection(u"Slide3"));
  EXPECT_EQ(GetSlideSection(f.get(), -1), nullptr);
  EXPECT_THROW(GetSlideSection(nullptr, 0), zm::EAbort);
}

TEST(OruSlideRandomList, AllSectionsAtOnceFollowTheOrderAsEachDoes) {
  // A shuffled table shorter than the slides asked for (it grows), a table
  // made longer by a document before, and no table at all.
  TRef<zm::TIniFile> shuffled = Project("/at-once/shuffled.oru", 4);
  GetSlideRandomList(shuffled.get())->Shuffle();
  TRef<zm::TIniFile> longer = Project("/at-once/longer.oru", 2);
  GetSlideSectionName(longer.get(), 7);
  TRef<zm::TIniFile> plain = Doc("[Slide2]\r\n[slide1]\r\n[Slide04]\r\n");
  for (zm::TIniFile* f : {shuffled.get(), longer.get(), plain.get()}) {
    const std::vector<zm::TIniSection*> all = GetSlideSections(f, 6);
    ASSERT_EQ(all.size(), 6u);
    for (std::int32_t i = 0; i < 6; ++i) EXPECT_EQ(all[std::size_t(i)], GetSlideSection(f, i)) << i;
  }
  EXPECT_TRUE(GetSlideSections(plain.get(), -3).empty());
  EXPECT_THROW(GetSlideSections(nullptr, 1), zm::EAbort);
}

TEST(OruSlideRandomList, ListGrowsForLaterSlidesAndIsShared) {
  TRef<zm::TIniFile> f = Project("/grow/a.oru", 3);
  TRef<TSlideRandomList> list = GetSlideRandomList(f.get());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(GetSlideSectionName(f.get(), 5), u"Slide6");
  EXPECT_EQ(list->Count(), 6);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(list->IndexAt(i), i);

  TRef<zm::TIniFile> a = Project("/shared/show.oru", 4);
  TRef<zm::TIniFile> b = Project("/shared/show.oru", 9);
  list = GetSlideRandomList(a.get());
  EXPECT_EQ(GetSlideRandomList(b.get()), list);
  EXPECT_EQ(list->Count(), 4);  // made by the first document
  EXPECT_NE(GetSlideRandomList(Project("/shared/other.oru", 4).get()), list);
  // A shuffled order moves the sections of both documents alike.
  list->Shuffle();
  std::vector<std::int32_t> seen;
  for (int i = 0; i < 4; ++i) {
    seen.push_back(list->IndexAt(i));
    EXPECT_EQ(GetSlideSectionName(b.get(), i), u"Slide" + zm::WideString(1, char16_t(u'1' + seen.back())));
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::int32_t>{0, 1, 2, 3}));
}

TEST(OruSlideRandomList, AbsurdCountsAndIndexesStayBounded) {
  TRef<zm::TIniFile> f = Project("/absurd/billion.oru", 1000000000);
  TRef<TSlideRandomList> list = GetSlideRandomList(f.get());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Count(), kMaxSlideCount);
  // Far past the table: identity, no growth.
  EXPECT_EQ(GetSlideSectionName(f.get(), 2147483647), u"Slide2147483648");
  EXPECT_EQ(list->Count(), kMaxSlideCount);
  TRef<zm::TIniFile> negative = Project("/absurd/negative.oru", -7);
  EXPECT_EQ(GetSlideRandomList(negative.get())->Count(), 0);
  EXPECT_EQ(GetSlideSectionName(negative.get(), 2), u"Slide3");
}

// The order of a table as GetSlideSectionName gives it.
std::vector<zm::WideString> OrderOf(const TRef<zm::TIniFile>& f, std::int32_t n) {
  std::vector<zm::WideString> names;
  for (std::int32_t i = 0; i < n; ++i) names.push_back(GetSlideSectionName(f.get(), i));
  return names;
}

TEST(OruSlideRandomList, RegistryKeepsHeldAndRecentTablesOnly) {
  constexpr std::int32_t kSlides = 40;
  TRef<zm::TIniFile> held = Project("/bound/held.oru", kSlides);
  TRef<zm::TIniFile> recent = Project("/bound/recent.oru", kSlides);
  TRef<zm::TIniFile> old = Project("/bound/old.oru", kSlides);
  TRef<TSlideRandomList> heldList = GetSlideRandomList(held.get());
  GetSlideRandomList(old.get())->Shuffle();
  const std::vector<zm::WideString> oldOrder = OrderOf(old, kSlides);
  GetSlideRandomList(recent.get())->Shuffle();
  const std::vector<zm::WideString> recentOrder = OrderOf(recent, kSlides);
  heldList->Shuffle();
  const std::vector<zm::WideString> heldOrder = OrderOf(held, kSlides);
  // 40 shuffled entries come back in identity order by chance once in 40!.
  const std::vector<zm::WideString> identity = OrderOf(Project("", kSlides), kSlides);
  ASSERT_NE(oldOrder, identity);
  ASSERT_NE(recentOrder, identity);

  // Descriptions that each name another path: the registry stays bounded.
  for (std::size_t k = 0; k < 3 * kMaxIdleSlideRandomLists; ++k) {
    if (k % 4 == 0) GetSlideSectionName(recent.get(), 0);  // kept in use
    GetSlideSectionName(Project("/bound/flood" + std::to_string(k) + ".oru", 2).get(), 1);
    // The idle ones, the held one and the newest (held while it was added).
    ASSERT_LE(RegisteredSlideRandomListCount(), kMaxIdleSlideRandomLists + 2) << k;
  }
  EXPECT_EQ(OrderOf(held, kSlides), heldOrder);      // held: never dropped
  EXPECT_EQ(OrderOf(recent, kSlides), recentOrder);  // recently used: kept
  EXPECT_EQ(OrderOf(old, kSlides), identity);        // idle the longest: dropped, made anew
  // Two documents of one path still share the table while it is kept.
  TRef<zm::TIniFile> twin = Project("/bound/held.oru", 3);
  EXPECT_EQ(GetSlideRandomList(twin.get()), heldList);
}

TEST(OruSlideRandomList, SortTieRuleAndShuffledPermutations) {
  // The greatest key of the first n moves to n - 1; on ties with position 0
  // that one, otherwise the latest one.
  std::vector<TSlideRandomEntry> e = {{0, 5}, {1, 5}, {2, 1}};
  SortRandomEntries(e.data(), 3);
  EXPECT_EQ(e[2].Index, 0);
  e = {{0, 1}, {1, 7}, {2, 7}, {3, 2}};
  SortRandomEntries(e.data(), 4);
  EXPECT_EQ(e[3].Index, 2);
  SortRandomEntries(nullptr, 5);

  for (std::int32_t n : {1, 17, kExactSortLimit + 500}) {
    std::vector<TSlideRandomEntry> r(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) r[static_cast<std::size_t>(i)].Index = i;
    ShuffleRandomOrder(r.data(), n);
    EXPECT_TRUE(std::is_sorted(r.begin(), r.end(), [](auto& x, auto& y) { return x.Key < y.Key; })) << n;
    std::vector<std::int32_t> indexes;
    for (auto& x : r) indexes.push_back(x.Index);
    std::sort(indexes.begin(), indexes.end());
    for (std::int32_t i = 0; i < n; ++i) ASSERT_EQ(indexes[static_cast<std::size_t>(i)], i);
  }
}

}  // namespace
