#include <gtest/gtest.h>

#include <atomic>

#include "ZmLib/VectorGraphics/zmTextElement.h"

using namespace zm;

namespace {

struct TPublisher {
  TFontThread* Thread;
  std::atomic<int> Published{0};
};

// The worker publishes growing lists until it is told to stop.
void Publish(void* arg) {
  auto* p = static_cast<TPublisher*>(arg);
  TRef<TStringList> list = MakeRef<TStringList>();
  while (!p->Thread->Terminated() && list->GetCount() < 2000) {
    list->Add(u"Font " + WideString(1, char16_t(u'A' + list->GetCount() % 26)));
    p->Thread->SetFontList(list.get());
    p->Published++;
  }
}

}  // namespace

TEST(FontThread, ListsAreCopiedUnderTheMonitor) {
  TRef<TFontThread> t = MakeRef<TFontThread>();
  EXPECT_FALSE(t->CopyFontList());
  TPublisher pub{t.get()};
  ASSERT_TRUE(t->Start(false, &Publish, &pub));
  std::int32_t last = 0;
  for (int i = 0; i < 200 || pub.Published.load() == 0; ++i) {
    TRef<TStringList> copy = t->CopyFontList();
    if (!copy) continue;
    // A copy is a whole list, never one being changed: it only grows.
    EXPECT_GE(copy->GetCount(), last);
    if (copy->GetCount() > 0) {
      EXPECT_EQ(copy->GetString(0), u"Font A");
    }
    last = copy->GetCount();
  }
  t->TerminateAndWait();
  EXPECT_EQ(t->State(), 3);
  TRef<TStringList> final = t->CopyFontList();
  ASSERT_TRUE(final);
  EXPECT_EQ(final->GetCount(), pub.Published.load());
  t->SetFontList(nullptr);
  EXPECT_FALSE(t->CopyFontList());
}

namespace {

// Font services that count their disposal.
class TCountedFontUtils : public TFontUtils {
public:
  explicit TCountedFontUtils(int* disposed) : disposed_(disposed) {}
  void Dispose() override {
    ++*disposed_;
    TFontUtils::Dispose();
  }
  TTextMetricsRec GetTextMetrics(const TFontParams&) override { return {}; }
  TFontMetrics GetOutlineMetrics(const TFontParams&) override { return {}; }
  TSize MeasureTextEx(const TFontParams&, const WideString&, TSideOverhangs&, TTextMetricsRec&) override {
    return {};
  }
  TRef<TBitmap> DrawText(const TFontParams&, const WideString&) override { return nullptr; }

private:
  int* disposed_;
};

}  // namespace

TEST(FontUtils, TheGlobalIsNilUntilAFontUnitSetsIt) {
  ASSERT_EQ(FontUtils, nullptr);  // no font unit in this program
  int disposed = 0;
  FontUtils = MakeRef<TCountedFontUtils>(&disposed).Detach();  // as a font unit does
  FiniTextElement();  // the module's end frees what a font unit set
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(FontUtils, nullptr);
  FiniTextElement();  // and is harmless when nothing is set
  EXPECT_EQ(disposed, 1);
}
