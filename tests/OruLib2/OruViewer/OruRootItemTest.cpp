// The root drawing item: what it picks from the prepared slides at a show
// time, when it reports a change, and in what order it draws.
#include "OruLib2/OruClasses/OruRootItem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "OruLib2/OruViewer/OruDrawerHooks.h"
#include "tests/ZmLib/3DBasics/DeviceDrawerDoubles.h"

using namespace oru;
using zm::TRef;

namespace {

class TClock : public ITiming {
public:
  double Now = 0;
  double GetTime() override { return Now; }
};

class TNoFiles : public TFileSource {
public:
  zm::TStream* OpenFile(const WideString&) override { return nullptr; }
};

// Logs the items drawn inside the frame by name, transitions, sharpening
// and the bands outside the slide.
class TLogDrawer : public zm::test::TRecordingDrawer {
public:
  std::vector<std::pair<zm::TDrawItem*, std::string>> Names;
  std::string Name(zm::TDrawItem* item) const {
    for (const auto& [i, n] : Names)
      if (i == item) return n;
    return item ? "?" : "nil";
  }
  bool Draw(zm::TDrawItem* item) override {
    if (DrawDepth > 0) log.push_back(Name(item));
    return TRecordingDrawer::Draw(item);
  }
  void DrawTransition(zm::TDrawItem* a, zm::TDrawItem* b, zm::TFilterParams*) override {
    log.push_back("transition " + Name(a) + " " + Name(b));
  }
  void BeginSharpen() override { log.push_back("sharpen"); }
  void EndSharpen(float amount) override { log.push_back("unsharp " + std::to_string(int(amount * 10))); }
};

// A filter that counts its resets and owns an item of its own.
class TCountingFilter : public TDrawFilter {
public:
  void Draw(TCustomD3DEffecter*) override {}
  void Reset(float value) override {
    ++Resets;
    LastValue = value;
  }
  zm::TDrawItem* SlideDrawItem() override { return Own.get(); }
  int Resets = 0;
  float LastValue = -1;
  TRef<zm::test::TScriptItem> Own = zm::MakeRef<zm::test::TScriptItem>();
};

class RootItem : public ::testing::Test {
protected:
  void SetUp() override {
    InstallDrawerHooks();
    clock = zm::MakeRef<TClock>();
    files = zm::MakeRef<TNoFiles>();
    accessor = zm::MakeRef<TFileAccessor>(files.get());
    TOruHostCallbacks cb;
    cb.Camera.Code = [](void*, TOruSlideHost*) { return zm::TFloatPoint3{50, 40, -100}; };
    cb.EffectBufferSize.Code = [](void*, TOruSlideHost*) { return zm::TSize{100, 80}; };
    cb.ShowSource.Code = [](void*, TOruSlideHost*) -> TOruSource* { return nullptr; };
    host = zm::MakeRef<TOruSlideHost>(accessor.get(), cb, WideString(), false);
    overlay = zm::MakeRef<zm::test::TScriptItem>();
    drawer = zm::MakeRef<TLogDrawer>();
    drawer->Bounds = {0, 0, 100, 80};
    drawer->ClipRect = {10, 0, 90, 80};
    drawer->Names.push_back({overlay.get(), "overlay"});
    root = TRootItem::Create(true);
  }
  void TearDown() override {
    root.reset();
    RemoveDrawerHooks();
  }

  // A slide shown over [start, visibleUntil] whose transition in lasts
  // inLength; Effect: with a cross-fade effect, else without one.
  TRef<TDrawContainer> Entry(const std::string& name, double start, double end, double inLength, bool effect) {
    TRef<TDrawContainer> c = zm::MakeRef<TDrawContainer>();
    c->Timing = clock;
    c->Slide = TOruSlide::Create(host.get(), nullptr, false);
    c->Times = {start, end, inLength, 0, end};
    TRef<TOruEffect> e;
    if (effect) {
      e = zm::MakeRef<TOruEffect>();
      e->Kind = 1;
    }
    c->Filter = SlideFilterHooks.Create(e.get(), inLength);
    drawer->Names.push_back({c->Slide.get(), name});
    return c;
  }
  // Sets the visible-until of A to cover B's transition in.
  static void Overlap(TDrawContainer* a, TDrawContainer* b) {
    a->Times.NextLength = b->Times.OwnLength;
    a->Times.VisibleUntil = a->Times.End + b->Times.OwnLength;
  }
  bool Update(std::vector<TRef<TDrawContainer>> list, zm::TDrawItem* over) {
    return root->Update(list.data(), static_cast<std::int32_t>(list.size()), over);
  }
  std::vector<std::string> Drawn() {
    drawer->log.clear();
    drawer->fills.clear();
    EXPECT_TRUE(drawer->Draw(root.get()));
    std::vector<std::string> out;
    for (const auto& s : drawer->log)
      if (s != "begin" && s != "end" && s != "draw" && s != "reset") out.push_back(s);
    return out;
  }

  TRef<TClock> clock;
  TRef<TNoFiles> files;
  TRef<TFileAccessor> accessor;
  TRef<TOruSlideHost> host;
  TRef<zm::test::TScriptItem> overlay;
  TRef<TLogDrawer> drawer;
  TRef<TRootItem> root;
};

TEST_F(RootItem, NothingVisibleAnswersFalse) {
  EXPECT_FALSE(root->Update(static_cast<TDrawContainer* const*>(nullptr), 5, overlay.get()));
  EXPECT_FALSE(Update({}, overlay.get()));
  EXPECT_FALSE(Update({nullptr, nullptr}, overlay.get()));
  // Before the first slide has started, and at a NaN time.
  auto a = Entry("A", 1000, 2000, 0, false);
  clock->Now = 999;
  EXPECT_FALSE(Update({a}, overlay.get()));
  clock->Now = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(Update({a}, overlay.get()));
  EXPECT_TRUE(root->DrawList().empty());
  // Drawn anyway, an empty root paints only the bands outside the slide.
  EXPECT_EQ(Drawn(), std::vector<std::string>{});
  EXPECT_EQ(drawer->fills.size(), 4u);  // the one-pixel ring too
}

TEST_F(RootItem, PicksTheSlidesOfTheShowTime) {
  auto a = Entry("A", 0, 1000, 0, false);
  auto b = Entry("B", 1000, 2000, 400, true);
  auto c = Entry("C", 2000, 3000, 400, false);
  Overlap(a.get(), b.get());
  Overlap(b.get(), c.get());

  // B not yet begun: A and the overlay only.
  clock->Now = 500;
  ASSERT_TRUE(Update({nullptr, a, b}, overlay.get()));
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"A", "overlay"}));
  EXPECT_FALSE(root->Filter());
  EXPECT_DOUBLE_EQ(a->Slide->LocalTime, 500);

  // Inside B's cross-fade: both slides through the filter, at a quarter.
  clock->Now = 1100;
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"transition A B", "overlay"}));
  ASSERT_EQ(root->Filter(), b->Filter.get());
  EXPECT_TRUE(root->HasTransition());
  EXPECT_NEAR(root->FilterProgress(), 0.25, 1e-6);
  EXPECT_DOUBLE_EQ(a->Slide->LocalTime, 1100);
  EXPECT_DOUBLE_EQ(b->Slide->LocalTime, 1100);

  // After A's visible time only B is left.
  clock->Now = 1401;
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"B", "overlay"}));
  EXPECT_FALSE(root->HasTransition());
  EXPECT_EQ(root->FilterProgress(), 0);

  // C's transition has no effect: B stays until its end, C is not drawn.
  clock->Now = 2200;
  ASSERT_TRUE(Update({b, c}, overlay.get()));
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"B", "overlay"}));
  EXPECT_FALSE(root->Filter());
  clock->Now = 2400;  // the end counts as visible
  ASSERT_TRUE(Update({b, c}, overlay.get()));
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"B", "overlay"}));
  clock->Now = 2401;
  ASSERT_TRUE(Update({b, c}, overlay.get()));
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"C", "overlay"}));

  // Past its end with nothing after it, the last slide stays at its end.
  clock->Now = 99000;
  ASSERT_TRUE(Update({c}, overlay.get()));
  EXPECT_DOUBLE_EQ(c->Slide->LocalTime, 3000);
  // Without an overlay the bands are painted in its place; the root as its
  // own overlay counts as none.
  for (zm::TDrawItem* none : {static_cast<zm::TDrawItem*>(nullptr), static_cast<zm::TDrawItem*>(root.get())}) {
    ASSERT_TRUE(Update({c}, none));
    (void)root->IsChanged();  // answers, never recurses
    EXPECT_EQ(Drawn(), (std::vector<std::string>{"C"}));
    EXPECT_EQ(drawer->fills.size(), 4u);  // the one-pixel ring too
  }
}

TEST_F(RootItem, ReportsChangesOfListProgressAndSlides) {
  auto a = Entry("A", 0, 1000, 0, false);
  auto b = Entry("B", 1000, 2000, 400, true);
  Overlap(a.get(), b.get());
  const auto settle = [&] {
    for (auto* s : {a->Slide.get(), b->Slide.get()}) s->Changed = s->StateChanged = false;
  };
  clock->Now = 1100;
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  EXPECT_TRUE(root->IsChanged());  // new list
  settle();
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  EXPECT_FALSE(root->IsChanged());  // same list, same progress
  b->Slide->StateChanged = true;
  EXPECT_TRUE(root->IsChanged());  // a slide's own change
  settle();
  clock->Now = 1200;
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  settle();
  EXPECT_TRUE(root->IsChanged());  // the transition moved on
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  EXPECT_FALSE(root->IsChanged());
  ASSERT_TRUE(Update({a, b}, nullptr));
  EXPECT_TRUE(root->IsChanged());  // the overlay went

  // The slide list let go between Update and Draw: the root keeps its
  // slides alive until the next Update.
  auto c = Entry("C", 0, 1000, 0, false);
  clock->Now = 10;
  ASSERT_TRUE(Update({c}, overlay.get()));
  c.reset();
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"C", "overlay"}));
}

TEST_F(RootItem, SharpensTheSlidesButNotTheOverlay) {
  auto a = Entry("A", 0, 1000, 0, false);
  auto b = Entry("B", 1000, 2000, 400, true);
  Overlap(a.get(), b.get());
  clock->Now = 1200;
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  root->SharpenAmount = 1.5f;
  EXPECT_EQ(Drawn(), (std::vector<std::string>{"sharpen", "transition A B", "unsharp 15", "overlay"}));
  for (float bad : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    root->SharpenAmount = bad;
    EXPECT_EQ(Drawn(), (std::vector<std::string>{"transition A B", "overlay"}));
  }
  // A root made without the bands never paints them.
  TRef<TRootItem> plain = TRootItem::Create(false);
  drawer->fills.clear();
  EXPECT_TRUE(drawer->Draw(plain.get()));
  EXPECT_TRUE(drawer->fills.empty());
}

TEST_F(RootItem, ResetReachesSlidesOverlayAndTheTransitionFilter) {
  auto a = Entry("A", 0, 1000, 0, false);
  auto b = Entry("B", 1000, 2000, 400, true);
  Overlap(a.get(), b.get());
  TRef<TCountingFilter> f = zm::MakeRef<TCountingFilter>();
  auto* params = dynamic_cast<TOruFilter*>(b->Filter.get());
  ASSERT_NE(params, nullptr);
  params->Filter = f;
  params->FilterMade = true;
  clock->Now = 1200;
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  overlay->resets = 0;
  Drawn();  // the top-level draw resets the root afterwards
  EXPECT_EQ(overlay->resets, 1);
  EXPECT_EQ(f->Resets, 1);
  EXPECT_NEAR(f->LastValue, 0.5f, 1e-6);
  EXPECT_EQ(f->Own->resets, 1);
  // Once the transition is over the filter is left alone.
  clock->Now = 1500;
  ASSERT_TRUE(Update({a, b}, overlay.get()));
  Drawn();
  EXPECT_EQ(f->Resets, 1);
}

}  // namespace
