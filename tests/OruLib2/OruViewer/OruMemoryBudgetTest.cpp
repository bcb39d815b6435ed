// The memory budget of a show's objects: the heaviest slides the loader may
// hold at once, counted in the description (a long description's waiting
// sections too, without reading them), against the player's limit.
#include "OruLib2/OruViewer/OruMemoryBudget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/kit/IniText.h"

namespace {

using namespace oru;
using zm::TRef;

// Slides holding Objects[i] objects each: the slide's transition, then
// boxes, every other one with a key point.
TRef<TOruSource> BudgetShow(const std::vector<int>& objects, bool late) {
  zmtest::TIniText t;
  t.Section("main").Key("opt_repeat", "repeat");
  t.Section("Times").Key("opt_slidescount", static_cast<long long>(objects.size()));
  for (std::size_t i = 0; i < objects.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), (i + 1) * 1000LL);
  for (std::size_t i = 0; i < objects.size(); ++i) {
    t.Section("Slide" + std::to_string(i + 1));
    t.Object("TheEffect", "AnEffect").Key("GUID", "{E}").Key("ref", "quick").End();
    for (int made = 1; made < objects[i];) {
      t.Object("B" + std::to_string(made), "Box").Key("GUID", "{B}");
      if (++made < objects[i] && made % 2) {
        t.Object("KeyPoint", "KeyPoint").Key("Position", "0,0").End();
        ++made;
      }
      t.End();
    }
  }
  zm::THookScope<std::int32_t> lateBytes(zm::IniLateBytes);
  zm::IniLateBytes = late ? 1 : INT32_MAX;
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(t.Bytes(false)));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  return zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
}

TEST(MemoryBudget, TheHeaviestSlidesHeldAtOnce) {
  for (const bool late : {false, true}) {
    TRef<TOruSource> show = BudgetShow({1, 5, 3, 9, 7}, late);
    if (late) EXPECT_TRUE(show->SlideSection(3)->Pending());
    const TShowMemory m = ShowObjectMemory(show.get(), 3);
    EXPECT_EQ(m.Slide, 3);
    EXPECT_EQ(m.SlideObjects, 9);
    EXPECT_EQ(m.Bytes, (9 + 7 + 5) * kObjectRecordBytes);
    if (late) EXPECT_TRUE(show->SlideSection(3)->Pending());  // counted, not read
    // Fewer slides than the loader holds: all of them.
    EXPECT_EQ(ShowObjectMemory(show.get(), 10).Bytes, 25 * kObjectRecordBytes);
  }
  TRef<TOruSource> empty = BudgetShow({}, false);
  EXPECT_EQ(ShowObjectMemory(empty.get(), 3).Bytes, 0);
  EXPECT_EQ(ShowObjectMemory(empty.get(), 3).Slide, -1);
  EXPECT_EQ(ShowObjectMemory(nullptr, 3).Bytes, 0);
}

TEST(MemoryBudget, RefusalSaysWhyAgainstTheLimit) {
  TRef<TOruSource> show = BudgetShow({1, 129, 3, 257, 7}, false);
  const std::int64_t needs = (257 + 129 + 7) * kObjectRecordBytes;
  EXPECT_TRUE(ShowMemoryRefusal(show.get(), 3, needs).empty());
  EXPECT_EQ(ShowMemoryRefusal(show.get(), 3, 1 << 20),
            u"The show has more objects than the player can hold: slide 4 has 257 objects, and the slides held at "
            u"once would take about 2 MB, more than the 1 MB the player may take");
  EXPECT_FALSE(ShowMemoryRefusal(show.get(), 3, needs - 1).empty());
}

TEST(MemoryBudget, LimitIsTwoGigabytesOrHalfTheMachineUnlessSet) {
  {
    zmtest::TEnvGuard unset("ZM_MEMORY_LIMIT_MB", nullptr);
    const std::int64_t machine = plat::PhysicalMemoryBytes();
    ASSERT_GT(machine, 0);
    EXPECT_EQ(MemoryLimitBytes(), std::min<std::int64_t>(2048LL << 20, machine / 2));
  }
  {
    zmtest::TEnvGuard set("ZM_MEMORY_LIMIT_MB", "64");
    EXPECT_EQ(MemoryLimitBytes(), 64LL << 20);
  }
  {
    zmtest::TEnvGuard bad("ZM_MEMORY_LIMIT_MB", "lots");
    EXPECT_LE(MemoryLimitBytes(), 2048LL << 20);
  }
}

}  // namespace
