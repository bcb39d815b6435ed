#include <gtest/gtest.h>

#include <vector>

#include "ZmLib/Composite/zmDrawFrames.h"
#include "ZmLib/Composite/zmEvents.h"

using namespace zm;

namespace {

TRef<TDrawFrame> NewFrame() { return MakeRef<TDrawFrame>(); }

class TCountingFrame : public TDrawFrame {
public:
  void Changed() override { ++changes; }
  int changes = 0;
};

class TMoveHandler : public TFrameHandler {
public:
  void BeforeMove() override { log.push_back("before"); }
  void AfterMove() override { log.push_back("after"); }
  std::vector<std::string> log;
};

class TScaleOwner : public TFrameOwner {
public:
  explicit TScaleOwner(double s) : scale(s) {}
  double FontScale() const override { return scale; }
  double scale;
};

class TOwnerFrame : public TDrawFrame {
public:
  TFrameOwner* Owner() override { return owner.get(); }
  TRef<TScaleOwner> owner;
};

}  // namespace

TEST(DrawFrames, ChildrenKeepInsertionOrderAndRemovalRelinks) {
  auto parent = NewFrame();
  auto a = NewFrame(), b = NewFrame(), c = NewFrame();
  parent->AddChildAfter(a.get(), nullptr);
  parent->AddChildAfter(b.get(), nullptr);
  parent->AddChildAfter(c.get(), nullptr);
  EXPECT_EQ(parent->FirstChild(), a.get());
  EXPECT_EQ(parent->LastChild(), c.get());  // drawn on top
  EXPECT_EQ(a->NextSibling(), b.get());
  EXPECT_EQ(c->PrevSibling(), b.get());

  b->RemoveFromParent();
  EXPECT_EQ(a->NextSibling(), c.get());
  EXPECT_EQ(c->PrevSibling(), a.get());
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_EQ(b->NextSibling(), nullptr);
  EXPECT_EQ(parent->ChildCount(), 2);

  // Before the first, and after a given child.
  parent->AddChildBefore(b.get(), nullptr);
  EXPECT_EQ(parent->FirstChild(), b.get());
  parent->AddChildAfter(b.get(), c.get());  // moves it to the end
  EXPECT_EQ(parent->LastChild(), b.get());
  EXPECT_EQ(parent->FirstChild(), a.get());
  // Removing the last and the first updates the parent's ends.
  b->RemoveFromParent();
  a->RemoveFromParent();
  EXPECT_EQ(parent->FirstChild(), c.get());
  EXPECT_EQ(parent->LastChild(), c.get());
}

TEST(DrawFrames, LinkingMisuseIsRefused) {
  auto parent = NewFrame(), other = NewFrame(), child = NewFrame();
  EXPECT_ANY_THROW(parent->AddChildAfter(nullptr, nullptr));
  EXPECT_ANY_THROW(parent->AddChildAfter(parent.get(), nullptr));
  EXPECT_ANY_THROW(parent->AddChildAfter(child.get(), other.get()));  // not a child of parent
  EXPECT_EQ(parent->ChildCount(), 0);
}

TEST(DrawFrames, DisposingAParentFreesPlainChildrenAndLetsHandledOnesGo) {
  auto parent = NewFrame();
  TDrawFrame* plain = MakeRef<TDrawFrame>().Detach();  // the tree owns it now
  auto handled = NewFrame();
  auto h = MakeRef<TMoveHandler>();
  h->SetFrame(handled.get());
  parent->AddChildAfter(plain, nullptr);
  parent->AddChildAfter(handled.get(), nullptr);
  parent = nullptr;  // disposes
  EXPECT_EQ(handled->Parent(), nullptr);
  EXPECT_EQ(h->Frame(), handled.get());
  // A frame that goes away detaches its handler.
  handled = nullptr;
  EXPECT_EQ(h->Frame(), nullptr);
}

TEST(DrawFrames, HandlerAttachmentMustAgree) {
  auto f1 = NewFrame(), f2 = NewFrame();
  auto h = MakeRef<TMoveHandler>(), g = MakeRef<TMoveHandler>();
  h->SetFrame(f1.get());
  EXPECT_EQ(f1->Handler(), h.get());
  EXPECT_ANY_THROW(f1->AttachHandler(g.get()));  // g does not point at f1
  EXPECT_ANY_THROW(g->SetFrame(f1.get()));       // f1 is in use
  h->SetFrame(f2.get());                         // moving detaches first
  EXPECT_EQ(f1->Handler(), nullptr);
  EXPECT_EQ(f2->Handler(), h.get());
}

TEST(DrawFrames, PositionNotifiesAroundTheMoveAndOriginsAdd) {
  auto root = NewFrame(), mid = NewFrame(), leaf = NewFrame();
  root->AddChildAfter(mid.get(), nullptr);
  mid->AddChildAfter(leaf.get(), nullptr);
  auto h = MakeRef<TMoveHandler>();
  h->SetFrame(leaf.get());
  mid->SetPosition(10, 20);
  leaf->SetPosition(-3, 4);
  EXPECT_EQ(h->log, (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(leaf->Origin(), (TPoint{7, 24}));
  EXPECT_EQ(leaf->ToWindow({1, 1}), (TPoint{8, 25}));
  EXPECT_EQ(root->Origin(), (TPoint{0, 0}));
}

TEST(DrawFrames, ClipChangesOnlyWhenSomethingChanged) {
  auto f = MakeRef<TCountingFrame>();
  f->SetClipRect({0, 0, 10, 10});
  f->SetClipRect({0, 0, 10, 10});
  EXPECT_EQ(f->changes, 1);
  f->SetClipRect({5, 5, 5, 9});  // empty
  EXPECT_EQ(f->changes, 2);
  f->SetClipRect({3, 3, 1, 1});  // empty again: no change
  EXPECT_EQ(f->changes, 2);
  f->SetClipped(true);
  f->SetClipped(true);
  EXPECT_EQ(f->changes, 3);
}

TEST(DrawFrames, TilePositionsFollowTheAnchor) {
  TPoint p[16];
  ASSERT_EQ(TDrawSurface::TilePositions({5, 5, 25, 25}, 10, 10, 0, 0, p, 16), 9);
  std::vector<std::int32_t> xs, ys;
  for (int i = 0; i < 3; ++i) xs.push_back(p[i].X);
  for (int i = 0; i < 9; i += 3) ys.push_back(p[i].Y);
  EXPECT_EQ(xs, (std::vector<std::int32_t>{0, 10, 20}));
  EXPECT_EQ(ys, (std::vector<std::int32_t>{0, 10, 20}));
  // Division truncates toward zero: left of the anchor starts at the anchor column.
  ASSERT_EQ(TDrawSurface::TilePositions({-15, 0, 5, 10}, 10, 10, 0, 0, p, 16), 2);
  EXPECT_EQ(p[0].X, -10);
  // Bad tiles and empty rectangles draw nothing.
  EXPECT_EQ(TDrawSurface::TilePositions({0, 0, 10, 10}, 0, 10, 0, 0, p, 16), 0);
  EXPECT_EQ(TDrawSurface::TilePositions({0, 0, 10, 10}, 10, -1, 0, 0, p, 16), 0);
  EXPECT_EQ(TDrawSurface::TilePositions({10, 0, 10, 10}, 10, 10, 0, 0, p, 16), 0);
}

TEST(DrawFrames, ScaledFontSizeUsesAPositiveOwnerScale) {
  auto root = MakeRef<TOwnerFrame>();
  auto child = NewFrame();
  root->AddChildAfter(child.get(), nullptr);
  EXPECT_FLOAT_EQ(child->ScaledFontSize(10, 3), 10);  // no owner
  root->owner = MakeRef<TScaleOwner>(2.0);
  EXPECT_FLOAT_EQ(child->ScaledFontSize(10, 3), 15);
  root->owner->scale = 0;
  EXPECT_FLOAT_EQ(child->ScaledFontSize(10, 3), 10);
}

// ---- Event tables -------------------------------------------------------------------

namespace {
class TRecorder : public events::TEventHandler {
public:
  void HandleEvent(TRefObject*, std::int32_t code, std::intptr_t param) override {
    calls.push_back(code);
    if (action) action(param);
  }
  std::vector<std::int32_t> calls;
  std::function<void(std::intptr_t)> action;
};
}  // namespace

TEST(Events, FireCallsInSubscriptionOrderAndSkipsRemovedLinks) {
  auto table = MakeRef<TEvents>();
  auto a = MakeRef<TRecorder>(), b = MakeRef<TRecorder>(), c = MakeRef<TRecorder>();
  table->Subscribe(1, 10, a.get());
  table->Subscribe(1, 20, b.get());
  table->Subscribe(17, 99, c.get());  // same bucket as 1 with 16 buckets
  table->Subscribe(1, 30, c.get());
  // a removes b during the walk: b is skipped this time already.
  a->action = [&](std::intptr_t) { table->Unsubscribe(1, b.get()); };
  table->Fire(1);
  EXPECT_EQ(a->calls, (std::vector<std::int32_t>{10}));
  EXPECT_TRUE(b->calls.empty());
  EXPECT_EQ(c->calls, (std::vector<std::int32_t>{30}));
  EXPECT_EQ(table->SubscriberCount(1), 2);
  EXPECT_EQ(table->SubscriberCount(17), 1);
}

TEST(Events, HandlerDisposedDuringTheWalkAndTablesDisposedFirst) {
  auto t1 = MakeRef<TEvents>(), t2 = MakeRef<TEvents>();
  auto* a = MakeRef<TRecorder>().Detach();
  auto b = MakeRef<TRecorder>();
  t1->Subscribe(5, 1, a);
  t1->Subscribe(5, 2, b.get());
  t2->Subscribe(5, 3, a);
  EXPECT_EQ(a->SubscriptionCount(), 2);
  a->action = [a](std::intptr_t) { a->Free(); };  // frees itself inside its handler
  t1->Fire(5);
  EXPECT_EQ(b->calls, (std::vector<std::int32_t>{2}));
  EXPECT_EQ(t1->SubscriberCount(5), 1);
  EXPECT_EQ(t2->SubscriberCount(5), 0);  // its links went with it
  t2->Fire(5);
  // A table that goes first leaves its handlers without links.
  t1 = nullptr;
  EXPECT_EQ(b->SubscriptionCount(), 0);
}

TEST(Events, PoolStartsWithFourAndDoubles) {
  auto t = MakeRef<TEvents>(nullptr, 0);  // one bucket
  auto h = MakeRef<TRecorder>();
  EXPECT_EQ(t->PoolCapacity(), 0);
  for (int i = 0; i < 5; ++i) t->Subscribe(i, i, h.get());
  EXPECT_EQ(t->PoolCapacity(), 8);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(t->Unsubscribe(i, h.get()));
  for (int i = 0; i < 8; ++i) t->Subscribe(i, i, h.get());
  EXPECT_EQ(t->PoolCapacity(), 8);  // freed records are reused
  t->Subscribe(1, 1, nullptr);      // nothing
  EXPECT_EQ(t->SubscriberCount(), 8);
}
