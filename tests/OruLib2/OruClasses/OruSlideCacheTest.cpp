#include "OruLib2/OruClasses/OruSlideCache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruSlideHost.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowBuilder.h"

namespace {

using namespace oru;
using zm::TRef;
using zmtest::TIniText;

class TManualTiming : public ITiming {
public:
  double GetTime() override { return 0; }
};

TRef<TSlideProducer> Producer(const std::vector<long long>& ends, const char* repeat = "repeat") {
  TIniText t;
  t.Section("main").Key("opt_repeat", repeat).Key("opt_scr_width", 320).Key("opt_scr_height", 240);
  t.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
  for (std::size_t i = 0; i < ends.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
  for (std::size_t i = 0; i < ends.size(); ++i)
    t.Section("Slide" + std::to_string(i + 1)).Object("TheEffect", "AnEffect").Key("GUID", zmtest::NewShowGuid()).Key("time", 0).End();
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(t.Bytes(false)));
  // The source owns the description and the accessor; the producer owns the source.
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  TOruSource* source = zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach()).Detach();
  TRef<TSlideProducer> p = zm::MakeRef<TSlideProducer>(source, nullptr, 640, 480, true);
  p->SetOutputSize({640, 480}, false, 100, 100);
  p->SetTiming(zm::MakeRef<TManualTiming>().get());
  return p;
}

// What the callbacks saw, and the cache's own order kept.
struct TWatch {
  std::vector<std::int32_t> Prepared;
  std::vector<std::vector<std::int32_t>> Lists;
  void Attach(TSlideCache& cache) {
    cache.OnSlidePrepared = [this](TSlideCache*, TDrawContainer* c) { Prepared.push_back(c->Index); };
    cache.OnListChanged = [this](TSlideCache*, const TDrawContainers& list, std::int32_t count) {
      std::vector<std::int32_t> l;
      for (std::int32_t i = 0; i < count; ++i) l.push_back(list[static_cast<std::size_t>(i)]->Index);
      for (std::size_t i = static_cast<std::size_t>(count); i < list.size(); ++i) EXPECT_FALSE(list[i]);
      Lists.push_back(l);
    };
  }
};

std::vector<std::int32_t> Held(const TSlideCache& cache) {
  std::vector<std::int32_t> l;
  for (std::int32_t i = 0; i < cache.Count(); ++i) l.push_back(cache.Item(i)->Index);
  return l;
}

using V = std::vector<std::int32_t>;

TEST(SlideCache, OneBuildPerUpdateInOrder) {
  TRef<TSlideCache> cache = zm::MakeRef<TSlideCache>(Producer({1000, 2000, 3000, 4000}).Detach(), 3, true);
  TWatch w;
  w.Attach(*cache);
  EXPECT_EQ(cache->FirstIndex, std::numeric_limits<std::int32_t>::min() + 1);
  EXPECT_TRUE(cache->Update(500));
  EXPECT_TRUE(cache->Update(500));
  EXPECT_TRUE(cache->Update(500));
  EXPECT_FALSE(cache->Update(500));
  EXPECT_EQ(w.Prepared, (V{0, 1, 2}));
  EXPECT_EQ(w.Lists, (std::vector<V>{{0}, {0, 1}, {0, 1, 2}}));
  EXPECT_EQ(cache->FirstIndex, 0);

  // One slide on: the first goes, the next is built.
  w.Lists.clear();
  EXPECT_TRUE(cache->Update(1500));
  EXPECT_EQ(w.Lists, (std::vector<V>{{1, 2}, {1, 2, 3}}));

  // Back: what is missing is inserted in order, before the held ones.
  w.Lists.clear();
  EXPECT_TRUE(cache->Update(500));
  EXPECT_EQ(w.Lists, (std::vector<V>{{1, 2}, {0, 1, 2}}));
  EXPECT_EQ(Held(*cache), (V{0, 1, 2}));
  EXPECT_EQ(cache->Item(3), nullptr);
  EXPECT_EQ(cache->Item(-1), nullptr);

  cache->Clear();
  EXPECT_EQ(cache->Count(), 0);
  EXPECT_EQ(cache->FirstIndex, std::numeric_limits<std::int32_t>::min() + 1);
}

TEST(SlideCache, AJumpKeepsTheLastOldSlideUntilANewOneIsHeld) {
  for (std::int32_t capacity : {1, 2, 3}) {
    TRef<TSlideCache> cache = zm::MakeRef<TSlideCache>(Producer({1000, 2000, 3000, 4000}).Detach(), capacity, true);
    while (cache->Update(500)) {
    }
    ASSERT_EQ(cache->Count(), capacity);
    const std::int32_t lastOld = cache->Item(capacity - 1)->Index;
    TWatch w;
    w.Attach(*cache);
    // Far ahead: slides 40.. of the eleventh pass.
    EXPECT_TRUE(cache->Update(40500));
    EXPECT_EQ(Held(*cache), (V{lastOld, 40})) << capacity;
    for (const V& l : w.Lists) EXPECT_FALSE(l.empty());
    for (int k = 0; k < 4; ++k) cache->Update(40500);
    V want;
    for (std::int32_t i = 0; i < capacity; ++i) want.push_back(40 + i);
    EXPECT_EQ(Held(*cache), want) << capacity;
  }
}

TEST(SlideCache, AOneSlideShowHoldsItsRepetitions) {
  for (const char* repeat : {"repeat", "stop", "close"}) {
    TRef<TSlideCache> cache = zm::MakeRef<TSlideCache>(Producer({1000}, repeat).Detach(), 3, true);
    while (cache->Update(100)) {
    }
    EXPECT_EQ(Held(*cache), (V{0, 1, 2})) << repeat;
    EXPECT_EQ(cache->Item(2)->Times.Start, 2000);
    EXPECT_EQ(cache->Item(2)->Slide->Index, 0);
  }
}

TEST(SlideCache, BadArgumentsAndFailedBuilds) {
  TRef<TSlideProducer> p = Producer({1000});
  EXPECT_THROW(zm::MakeRef<TSlideCache>(nullptr, 3, false), std::exception);
  EXPECT_THROW(zm::MakeRef<TSlideCache>(p.get(), 0, false), std::exception);
  EXPECT_THROW(zm::MakeRef<TSlideCache>(p.get(), 4, false), std::exception);
  EXPECT_EQ(p->RefCount(), 1);  // the refused caches let it go

  // A show without slides: the build reports it, and the cache stays usable.
  TRef<TSlideCache> empty = zm::MakeRef<TSlideCache>(Producer({}).Detach(), 3, true);
  try {
    empty->Update(0);
    ADD_FAILURE() << "no report";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("No Slides in Presentation"), std::string::npos) << e.what();
  }
  EXPECT_EQ(empty->Count(), 0);

  // Absurd times: indexes near the top of the range never overflow.
  TRef<TSlideCache> far = zm::MakeRef<TSlideCache>(Producer({1, 2}).Detach(), 3, true);
  for (int k = 0; k < 5; ++k) far->Update(1e300);
  ASSERT_EQ(far->Count(), 3);
  EXPECT_GT(far->Item(0)->Index, 2000000000);
  EXPECT_LT(far->Item(0)->Index, far->Item(2)->Index);
  far->Update(std::nan(""));
  EXPECT_EQ(far->Count(), 3);
}

}  // namespace
