#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/Fonts/winTextElement.h"
#include "ZmLib/zmModules.h"

using namespace zm;

namespace {

// The threads program runs without the font units (its tests expect no
// FontUtils); they run here for one test when the program has not started them.
struct TFontUnitsScope {
  TModuleRunner Runner;
  TFontUnitsScope() {
    if (CreateFontThreadHook == &DefCreateFontThread) Runner.Start(JoinModules({WinFontModules()}));
  }
};

}  // namespace

// The worker warms fonts through the shared replacer while other threads lay
// text out and read the published list: every copy is nil (not yet
// published) or the whole list, and every layout covers its text.
TEST(FontThreadThreads, WorkerMeetsLayoutsAndListReaders) {
  TFontUnitsScope units;
  TRef<TFontThread> t = CreateFontThreadHook();
  ASSERT_NE(t, nullptr);
  TRef<TStringList> expected = TWinFontThread::ListFontNames();
  std::atomic<int> bad{0}, published{0};
  std::vector<std::thread> threads;
  const WideString fonts[] = {u"Arial", u"Times New Roman", u"Courier New"};
  for (int k = 0; k < 3; ++k)
    threads.emplace_back([&, k] {
      for (int i = 0; i < 30; ++i) {
        TRef<TStringList> copy = t->CopyFontList();
        if (copy) {
          ++published;
          if (copy->GetCount() != expected->GetCount() || copy->GetString(0) != expected->GetString(0)) ++bad;
        }
        TRef<TWinTextElement> e =
            MakeRef<TWinTextElement>(MakeFontParams(fonts[k], 0, false, 12 + i % 5, TColor24{}, TColor24{}), 0);
        e->SetText(u"Sample \u05E9\u05DC\u05D5\u05DD \u4F60\u597D");
        std::int32_t covered = 0;
        for (const TWinFontRun& r : e->Runs()) covered += r.Count;
        if (covered != e->Length() || e->GetWidth() <= 0) ++bad;
      }
    });
  for (auto& th : threads) th.join();
  t->Join();
  EXPECT_EQ(bad.load(), 0);
  TRef<TStringList> last = t->CopyFontList();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->GetCount(), expected->GetCount());
  t->TerminateAndWait();
}

// The owners let go while their workers run: each finishes on its own
// reference.
TEST(FontThreadThreads, WorkersOutliveTheirOwners) {
  TFontUnitsScope units;
  const std::int32_t fonts = TWinFontThread::ListFontNames()->GetCount();
  // Held by the callbacks too: the last one may still be setting the event.
  auto warmed = std::make_shared<std::atomic<int>>(0);
  TRef<TEvent> done = MakeRef<TEvent>();
  for (int i = 0; i < 3; ++i) {
    TRef<TWinFontThread> t = MakeRef<TWinFontThread>();
    t->OnFontWarmed = [warmed, done, fonts](const WideString&) {
      if (warmed->fetch_add(1) + 1 == 3 * fonts) done->Set();
    };
    ASSERT_TRUE(t->StartJob());
  }
  done->WaitFor();
  EXPECT_EQ(warmed->load(), 3 * fonts);
}
