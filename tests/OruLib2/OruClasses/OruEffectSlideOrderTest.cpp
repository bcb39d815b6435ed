// The effect definitions reach slide sections through the show's slide
// order, which the show document's modules install.
#include <gtest/gtest.h>

#include "OruLib2/Effects/OruEffectManager.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "ZmLib/zmHookScope.h"

using namespace oru;

TEST(EffectSlideOrder, EffectsFollowTheShuffledOrder) {
  zm::TRef<zm::TIniFile> project = zm::MakeRef<zm::TIniFile>();
  project->LoadFromText(zm::TByteString(
      "[main]\r\nProjectFilePath=/effects/order.oru\r\n[Times]\r\nopt_slidescount=2\r\n"
      "[Slide1]\r\nobject TheEffect:AnEffect\r\n  time=111\r\nend\r\n"
      "[Slide2]\r\nobject TheEffect:AnEffect\r\n  time=222\r\nend\r\n"));
  auto held = GetSlideRandomList(project.get());
  TSlideRandomList* list = &*held;
  list->Grow(2);
  for (int i = 0; i < 64 && list->IndexAt(0) == 0; ++i) list->Shuffle();
  ASSERT_EQ(list->IndexAt(0), 1);

  auto firstTime = [&] {
    zm::TRef<TORUEffectManager> m = zm::MakeRef<TORUEffectManager>(project.get(), 0, 0);
    return m->GetEffectTime(0);
  };
  EXPECT_EQ(SlideSectionProc, &GetSlideSection);
  EXPECT_EQ(firstTime(), 222);
  // Without the show document's lookup: the sections in sequence.
  zm::THookScope sequential(SlideSectionProc, &SequentialSlideSection);
  EXPECT_EQ(firstTime(), 111);
  sequential.Restore();
  EXPECT_EQ(SequentialSlideSection(nullptr, 0), nullptr);
}
