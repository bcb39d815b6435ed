// The show source and the slide order read from several threads while one
// thread draws transitions and others grow and shuffle a shared order.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/zmHookScope.h"

using namespace oru;
using zm::TRef;

namespace {

// Sections for more slides than the show has: the shared order grows and
// is shuffled while it is read, so any section may come up.
std::string ShowText(int slides, int sections) {
  std::string t = "[main]\r\nProjectFilePath=/threads/show.oru\r\nopt_repeat=repeat\r\n"
                  "object TheEffect:AnEffect\r\n  time=300\r\n"
                  "  object push:AnEffect\r\n    key=direction\r\n    direction=1111\r\n    stdidx=9\r\n  end\r\n"
                  "  object mosaic:AnEffect\r\n    checked=1\r\n    stdidx=8\r\n  end\r\nend\r\n";
  t += "[Times]\r\nopt_slidescount=" + std::to_string(slides) + "\r\n";
  for (int i = 1; i <= slides; ++i) t += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 1000) + "\r\n";
  for (int i = 1; i <= sections; ++i)
    t += "[Slide" + std::to_string(i) + "]\r\nPers_EndAction=loop\r\nobject TheEffect:AnEffect\r\n  ref=default\r\nend\r\n";
  return t;
}

}  // namespace

TEST(OruSourceThreads, ReadersMeetTheTransitionDrawer) {
  const int slides = 30;
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(ShowText(slides, slides + 200)));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
  ASSERT_EQ(source->SlideCount(), slides);

  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  // The slide producer: draws transitions.
  threads.emplace_back([&] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < 2000; ++i) {
      double t;
      float sl;
      TRef<TOruEffect> e = source->GetSlideEffect(i, t, sl);
      if (!e || t != 300) ++wrong;
    }
  });
  // The engine and the music player: times and actions.
  for (int r = 0; r < 3; ++r)
    threads.emplace_back([&, r] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 3000; ++i) {
        double time = (i * 37 + r * 11) % (slides * 3000) + 0.5;
        std::int32_t index = source->SlideAtTime(time);
        TSlideSpan span;
        source->GetSlideSpan(index, span);
        if (!(span.Start <= time && time <= span.End)) ++wrong;
        double d;
        if (!source->GetSlideEndAction(index, d)) ++wrong;
      }
    });
  // Others grow and shuffle the shared slide order meanwhile.
  threads.emplace_back([&] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < 200; ++i) {
      zm::WideString name = GetSlideSectionName(doc.get(), slides + i);
      if (name.size() < 6) ++wrong;
      if (i % 50 == 0) GetSlideRandomList(doc.get())->Shuffle();
    }
  });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GE(GetSlideRandomList(doc.get())->Count(), slides + 200);
}

TEST(OruSourceThreads, SlidesFirstDrawnOnSeveralThreadsAtOnce) {
  // Each slide's effect is made when its transition is first asked for:
  // several producers ask for the same slides at once.
  const int slides = 200;
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(ShowText(slides, slides)));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
  const zm::TByteString before = doc->SaveToValue();
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 4; ++r)
    threads.emplace_back([&, r] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < slides; ++i) {
        double t;
        float sl;
        TRef<TOruEffect> e = source->GetSlideEffect(r % 2 ? i : slides - 1 - i, t, sl);
        if (!e || t != 300) ++wrong;
      }
    });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(doc->SaveToValue(), before);  // making them only read the description
}

TEST(OruSourceThreads, SlidesReadLateMeetOnSeveralThreads) {
  // A long description: each slide's section is read and completed by the
  // first thread that asks, the others meeting it there.
  const int slides = 300;
  std::string text = ShowText(slides, slides);
  // A show of its own: the slide order of the other shows here is shuffled.
  text.replace(text.find("/threads/show.oru"), 17, "/threads/late.oru");
  for (int i = 1; i <= slides; i += 3) {
    // Some slides without a definition: the reading makes one.
    const std::string head = "[Slide" + std::to_string(i) + "]\r\n";
    const std::size_t at = text.find(head) + head.size();
    text.replace(at, text.find("end\r\n", at) + 5 - at, "Pers_EndAction=pause\r\n");
  }
  zm::THookScope<std::int32_t> lateBytes(zm::IniLateBytes);
  zm::IniLateBytes = 1;
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(text));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    while (!go.load()) std::this_thread::yield();
    for (int i = slides - 1; i >= 0; --i) {
      double t;
      float sl;
      if (!source->GetSlideEffect(i, t, sl) || t != 300) ++wrong;
    }
  });
  for (int r = 0; r < 3; ++r)
    threads.emplace_back([&, r] {
      while (!go.load()) std::this_thread::yield();
      for (int k = 0; k < slides; ++k) {
        const int i = (k * 7 + r * 101) % slides;
        TSlideSpan span;
        source->GetSlideSpan(i, span);
        if (span.OwnLength != 300 || span.NextLength != 300) ++wrong;
        // A pause, or a loop of the slide's span without its transition.
        double d = -1;
        if (!source->GetSlideEndAction(i, d) || d != (i % 3 == 0 ? 0 : 1000 - 300)) ++wrong;
      }
    });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  for (int i = 1; i <= slides; ++i)
    EXPECT_NE(source->SlideSection(i - 1)->FindObject(u"TheEffect"), nullptr) << i;
}
