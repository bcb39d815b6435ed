#include <gtest/gtest.h>

#include <atomic>

#include "Platform/Gdi/PlatCoverage.h"
#include "ZmLib/Win32/Fonts/winDWTextUtils.h"
#include "ZmLib/Win32/Fonts/winTextElement.h"

using namespace zm;

namespace {

// Strictly increasing without regard to case: sorted and no name twice.
void ExpectSortedUnique(TStringList* list) {
  ASSERT_NE(list, nullptr);
  ASSERT_GT(list->GetCount(), 3);
  TRef<TStringList> folded = MakeRef<TStringList>();
  folded->SetIgnoreCase(true);
  for (std::int32_t i = 1; i < list->GetCount(); ++i)
    EXPECT_LT(folded->CompareStrings(list->GetString(i - 1), list->GetString(i)), 0) << i;
}

std::vector<WideString> Names(TStringList* list) {
  std::vector<WideString> names;
  if (list)
    for (std::int32_t i = 0; i < list->GetCount(); ++i) names.push_back(list->GetString(i));
  return names;
}

struct TGdiOnlyScope {
  TGdiOnlyScope() {
    plat::dwrite::Factory::SetAvailable(false);
    ResetDirectWriteUsable();
  }
  ~TGdiOnlyScope() {
    plat::dwrite::Factory::SetAvailable(true);
    ResetDirectWriteUsable();
  }
};

}  // namespace

TEST(FontThread, BothRoutesListTheSameSortedNamesOnce) {
  TRef<TStringList> dw = TWinFontThread::ListFontNames();
  ExpectSortedUnique(dw.get());
  std::int32_t index;
  EXPECT_TRUE(dw->Find(u"dejavu sans", index));
  EXPECT_TRUE(dw->Find(u"Liberation Serif", index));
  TGdiOnlyScope gdi;
  TRef<TStringList> list = TWinFontThread::ListFontNames();
  ExpectSortedUnique(list.get());
  EXPECT_EQ(Names(list.get()), Names(dw.get()));
  for (std::int32_t i = 0; i < list->GetCount(); ++i) {
    auto* info = dynamic_cast<TFontInfo*>(list->GetObject(i));
    ASSERT_NE(info, nullptr) << i;
    EXPECT_EQ(info->Name, list->GetString(i));
    EXPECT_FALSE(info->Name.empty() || info->Name[0] == u'@');
  }
  ASSERT_TRUE(list->Find(u"DejaVu Sans Mono", index));
  auto* mono = static_cast<TFontInfo*>(list->GetObject(index));
  EXPECT_TRUE(mono->Outline && mono->FixedPitch);
  ASSERT_TRUE(list->Find(u"DejaVu Sans", index));
  EXPECT_FALSE(static_cast<TFontInfo*>(list->GetObject(index))->FixedPitch);
  // The same name keeps its info, so published copies never dangle.
  EXPECT_EQ(TWinFontThread::ListFontNames()->GetObject(index), list->GetObject(index));
  // Told to stop at once: nothing is listed.
  EXPECT_EQ(TWinFontThread::ListFontNames([] { return true; })->GetCount(), 0);
}

TEST(FontThread, SampleSizeGivesTwentyTwoPixels) {
  for (const WideString name : {u"DejaVu Sans", u"Liberation Serif", u"WenQuanYi Micro Hei", u"No Such Font"}) {
    const float size = TWinFontThread::SampleSize(name);
    ASSERT_GT(size, 0) << std::string(name.begin(), name.end());
    TRef<TWinTextElement> e =
        MakeRef<TWinTextElement>(MakeFontParams(name, 0, false, size, TColor24{}, TColor24{}), 0);
    const std::int32_t height = e->GetMetrics().Height;
    EXPECT_LE(height, 22) << size;
    EXPECT_GE(height, 19) << size;
  }
}

TEST(FontThread, WorkerPublishesThenStopsBetweenFontsWhenTold) {
  TRef<TWinFontThread> t = MakeRef<TWinFontThread>();
  t->TerminateAndWait();  // never started: returns at once
  EXPECT_EQ(t->CopyFontList(), nullptr);
  TRef<TEvent> reached = MakeRef<TEvent>(), go = MakeRef<TEvent>();
  std::atomic<int> warmed{0};
  t->OnFontWarmed = [&](const WideString&) {
    if (warmed.fetch_add(1) == 0) {
      reached->Set();
      go->WaitFor();
    }
  };
  ASSERT_TRUE(t->StartJob());
  EXPECT_FALSE(t->StartJob());  // one job per worker
  reached->WaitFor();
  // The list is published before the first font is warmed.
  TRef<TStringList> copy = t->CopyFontList();
  ExpectSortedUnique(copy.get());
  EXPECT_EQ(Names(copy.get()), Names(TWinFontThread::ListFontNames().get()));
  t->Terminate();
  go->Set();
  t->TerminateAndWait();
  EXPECT_EQ(warmed.load(), 1);
  EXPECT_EQ(t->State(), 3);
}

TEST(FontThread, HookMakesARunningWorkerThatFinishes) {
  TRef<TFontThread> t = CreateFontThreadHook();
  ASSERT_NE(dynamic_cast<TWinFontThread*>(t.get()), nullptr);
  t->Join();  // the whole job: every font warmed
  ExpectSortedUnique(t->CopyFontList().get());
  t->TerminateAndWait();  // after the end: nothing to wait for
}
