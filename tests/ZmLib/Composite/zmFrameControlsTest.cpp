#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZmLib/Composite/zmFrameControls.h"

#include "ZmLib/zmHookScope.h"

using namespace zm;

namespace {

// Records the tags a control raises.
class TTagLog : public events::TEventHandler {
public:
  void Watch(TFrameControl* c, std::initializer_list<std::int32_t> tags) {
    for (auto t : tags) c->Listeners()->Subscribe(t, t, this);
  }
  void HandleEvent(TRefObject*, std::int32_t code, std::intptr_t) override {
    tags.push_back(code);
    if (action) action(code);
  }
  std::vector<std::int32_t> tags;
  std::function<void(std::int32_t)> action;
};

class TFrameRecorder : public TDrawFrame {
public:
  TRef<TDrawFrame> CreateFrame() override { return MakeRef<TFrameRecorder>(); }
  void Invalidate(const TRect& r) override { invalidated.push_back(r); }
  std::vector<TRect> invalidated;
};

struct Tree {
  TRootControl* root;
  Tree() {
    root = NewControl<TRootControl>();
    root->SetSize(100, 100);
  }
  ~Tree() {
    root->Free();
    ProcessDeferredFrees();
  }
  TFrameControl* Add(TFrameControl* parent, int x, int y, int w, int h, bool tab = true) {
    auto* c = NewControl<TFrameControl>(parent);
    c->SetPosition(x, y);
    c->SetSize(w, h);
    c->SetTabStop(tab);
    return c;
  }
};

TKeyboardData* Key(std::uint16_t vk, std::uint8_t shift = 0) {
  auto* k = MakeRef<TKeyboardData>().Detach();
  k->Key = vk;
  k->Shift = shift;
  return k;
}

bool Press(TRootControl* root, std::uint16_t vk, std::uint8_t shift = 0) {
  TRef<TKeyboardData> k = TRef<TKeyboardData>::Adopt(Key(vk, shift));
  root->InputNotify(k.get());
  return k->Handled;
}

}  // namespace

TEST(FrameControls, InvalidationMergesAndBoundsResetTheCount) {
  auto* frame = MakeRef<TFrameRecorder>().Detach();
  auto* c = NewControl<TFrameControl>(static_cast<TDrawFrame*>(frame));
  c->Invalidate({0, 0, 10, 10});
  c->Invalidate({5, 5, 20, 20});
  EXPECT_EQ(c->InvalidRect(), (TRect{0, 0, 20, 20}));
  EXPECT_EQ(c->InvalidationCount(), 2);
  EXPECT_EQ(frame->invalidated.size(), 2u);
  TRect r;
  c->GetBounds(r);
  EXPECT_EQ(r, (TRect{0, 0, 20, 20}));
  EXPECT_EQ(c->InvalidationCount(), 0);
  // Nothing pending: the new rectangle replaces the old, even an empty one.
  c->Invalidate({3, 3, 3, 3});
  EXPECT_EQ(c->InvalidRect(), (TRect{3, 3, 3, 3}));
  // An empty pending rectangle is replaced; an empty new one keeps the pending one.
  c->Invalidate({1, 2, 3, 4});
  EXPECT_EQ(c->InvalidRect(), (TRect{1, 2, 3, 4}));
  c->Invalidate({9, 9, 0, 0});
  EXPECT_EQ(c->InvalidRect(), (TRect{1, 2, 3, 4}));
  EXPECT_EQ(c->InvalidationCount(), 3);
  FreeControl(c);
  c->Invalidate({0, 0, 50, 50});  // freed: the memory lives until the safe point, nothing happens
  EXPECT_EQ(c->InvalidationCount(), 3);
  ProcessDeferredFrees();
}

TEST(FrameControls, SizesAreNeverNegativeAndResizesNotify) {
  Tree t;
  auto* c = t.Add(t.root, 0, 0, 1, 1);
  auto log = MakeRef<TTagLog>();
  log->Watch(c, {ntBeforeResize, ntAfterResize});
  c->SetSize(-5, 10);
  EXPECT_EQ(c->Width(), 0);
  EXPECT_EQ(c->Height(), 10);
  c->SetSize(-7, 10);  // same after constraining: nothing
  EXPECT_EQ(log->tags, (std::vector<std::int32_t>{ntBeforeResize, ntAfterResize}));
  EXPECT_FALSE(c->HitTest(0, 0));  // zero width hits nothing
}

TEST(FrameControls, VisibilityFollowsTheParent) {
  Tree t;
  auto* parent = t.Add(t.root, 0, 0, 50, 50);
  auto* child = t.Add(parent, 0, 0, 10, 10);
  auto log = MakeRef<TTagLog>();
  log->Watch(child, {ntVisibleChanged});
  parent->SetVisibility(vsHidden);
  EXPECT_FALSE(child->IsVisible());
  EXPECT_EQ(log->tags.size(), 1u);
  parent->SetVisibility(vsVisible);
  EXPECT_TRUE(child->IsVisible());
  EXPECT_EQ(log->tags.size(), 2u);
  child->SetVisibility(vsVisible);  // no change of the result: no notification
  EXPECT_EQ(log->tags.size(), 2u);
  parent->SetVisibility(vsHidden);  // the child decides for itself now
  EXPECT_TRUE(child->IsVisible());
  EXPECT_EQ(log->tags.size(), 2u);
}

TEST(FrameControls, FocusMovesAlongTheChainAndActivates) {
  Tree t;
  auto* a = t.Add(t.root, 0, 0, 50, 50);
  auto* a1 = t.Add(a, 0, 0, 10, 10);
  auto* b = t.Add(t.root, 50, 0, 50, 50);
  auto* b1 = t.Add(b, 0, 0, 10, 10);
  auto la = MakeRef<TTagLog>(), lb = MakeRef<TTagLog>();
  la->Watch(a1, {ntFocusGained, ntFocusLost, ntActiveChanged});
  lb->Watch(b1, {ntFocusGained, ntFocusLost, ntActiveChanged});

  EXPECT_FALSE(t.root->SetFocusedChild(a1));  // not a direct child: refused
  a1->SetFocus();
  EXPECT_TRUE(t.root->Active());
  EXPECT_TRUE(a->Active());
  EXPECT_TRUE(a1->Focused());
  EXPECT_EQ(t.root->CurrentControl(), a1);

  b1->SetFocus();
  EXPECT_FALSE(a->Active());
  EXPECT_FALSE(a1->Active());
  EXPECT_TRUE(b1->Focused());
  EXPECT_EQ(a->FocusedChild(), a1);  // the old branch remembers its child
  EXPECT_EQ(lb->tags, (std::vector<std::int32_t>{ntFocusGained, ntActiveChanged}));

  // The window losing the focus makes the chain inactive but keeps it.
  t.root->SetRootActive(false);
  EXPECT_FALSE(b1->Active());
  EXPECT_EQ(t.root->CurrentControl(), b1);
  t.root->SetRootActive(true);
  EXPECT_TRUE(b1->Focused());
}

TEST(FrameControls, RemovingTheFocusedControlClearsTheChain) {
  Tree t;
  auto* a = t.Add(t.root, 0, 0, 50, 50);
  auto* a1 = t.Add(a, 0, 0, 10, 10);
  a1->SetFocus();
  FreeControl(a);  // a holds the focus chain
  EXPECT_EQ(t.root->FocusedChild(), nullptr);
  EXPECT_EQ(t.root->CurrentControl(), t.root);
  EXPECT_TRUE(a1->TornDown());
  ProcessDeferredFrees();
  EXPECT_FALSE(Press(t.root, 9));  // nothing left to navigate to

  // Moving a focused control out of the tree clears its parent's link.
  auto* b = t.Add(t.root, 0, 0, 10, 10);
  b->SetFocus();
  b->SetParent(nullptr);
  EXPECT_EQ(t.root->FocusedChild(), nullptr);
  FreeControl(b);
  ProcessDeferredFrees();
}

TEST(FrameControls, TabAndArrowNavigation) {
  Tree t;
  auto* a = t.Add(t.root, 0, 0, 10, 10);
  auto* panel = t.Add(t.root, 10, 0, 40, 40, false);
  auto* b = t.Add(panel, 0, 0, 10, 10);
  auto* hidden = t.Add(panel, 10, 0, 10, 10);
  hidden->SetVisibility(vsHidden);
  auto* disabled = t.Add(panel, 20, 0, 10, 10);
  disabled->Frame()->SetEnabled(false);
  auto* c = t.Add(t.root, 60, 0, 10, 10);

  EXPECT_TRUE(Press(t.root, 9));  // nothing focused: the first candidate
  EXPECT_TRUE(a->Focused());
  EXPECT_TRUE(Press(t.root, 9));
  EXPECT_TRUE(b->Focused());  // depth first, skipping the panel (no tab stop)
  EXPECT_TRUE(Press(t.root, 9));
  EXPECT_TRUE(c->Focused());  // hidden and disabled ones are skipped
  EXPECT_TRUE(Press(t.root, 9));
  EXPECT_TRUE(a->Focused());  // wraps to the first
  EXPECT_FALSE(Press(t.root, 9, ssShift));  // nothing before the first
  EXPECT_TRUE(a->Focused());
  EXPECT_FALSE(Press(t.root, 9, ssCtrl));   // Ctrl+Tab is not navigation
  EXPECT_TRUE(Press(t.root, 39));           // right arrow
  EXPECT_TRUE(b->Focused());
  EXPECT_TRUE(Press(t.root, 38));           // up goes back
  EXPECT_TRUE(a->Focused());

  // A listener that marks the key handled stops the navigation.
  auto log = MakeRef<TTagLog>();
  log->Watch(t.root, {ntInput});
  TRef<TKeyboardData> k = TRef<TKeyboardData>::Adopt(Key(9));
  log->action = [&](std::int32_t) { k->Handled = true; };
  t.root->InputNotify(k.get());
  EXPECT_TRUE(a->Focused());
}

TEST(FrameControls, HitTestingPrefersTheTopmostSibling) {
  Tree t;
  auto* low = t.Add(t.root, 10, 10, 30, 30);
  auto* high = t.Add(t.root, 20, 20, 30, 30);
  auto* inner = t.Add(low, 2, 2, 5, 5);
  TPoint local;
  EXPECT_EQ(t.root->FindControlAt(25, 25, local), high);
  EXPECT_EQ(local, (TPoint{5, 5}));
  EXPECT_EQ(t.root->FindControlAt(13, 13, local), inner);
  EXPECT_EQ(local, (TPoint{1, 1}));
  EXPECT_EQ(t.root->FindControlAt(5, 5, local), t.root);
  EXPECT_EQ(t.root->FindControlAt(-1, 5, local), nullptr);
  EXPECT_EQ(t.root->FindControlAt(100, 5, local), nullptr);
  // A clipping frame hides what lies outside its clip rectangle.
  low->Frame()->SetClipRect({0, 0, 3, 3});
  low->Frame()->SetClipped(true);
  EXPECT_EQ(t.root->FindControlAt(13, 13, local), t.root);
  high->SetVisibility(vsHidden);
  EXPECT_EQ(t.root->FindControlAt(45, 45, local), t.root);
  // A root without size hits nothing.
  t.root->SetSize(0, 100);
  EXPECT_EQ(t.root->FindControlAt(0, 0, local), nullptr);
}

TEST(FrameControls, CaptureHoldsTheMouseUntilTheButtonIsReleased) {
  Tree t;
  auto* a = t.Add(t.root, 0, 0, 20, 20);
  auto* b = t.Add(t.root, 50, 50, 20, 20);
  auto la = MakeRef<TTagLog>(), lb = MakeRef<TTagLog>();
  la->Watch(a, {ntMouse, ntMouseLeave});
  lb->Watch(b, {ntMouse, ntMouseLeave});
  std::vector<bool> changes;
  t.root->OnCaptureChanged = [&](bool on) { changes.push_back(on); };

  TMouseData m;
  m.Kind = mkDown;
  m.Buttons = mbLeft;
  m.X = m.Y = 5;
  EXPECT_EQ(t.root->MouseInput(m), a);
  EXPECT_EQ(t.root->CaptureControl(), a);
  m.Kind = mkMove;
  m.X = m.Y = 55;  // over b, but a holds the capture
  EXPECT_EQ(t.root->MouseInput(m), a);
  EXPECT_TRUE(lb->tags.empty());
  m.Kind = mkUp;
  EXPECT_EQ(t.root->MouseInput(m), a);
  EXPECT_EQ(t.root->CaptureControl(), nullptr);
  m.Kind = mkMove;
  EXPECT_EQ(t.root->MouseInput(m), b);
  EXPECT_EQ(la->tags.back(), ntMouseLeave);
  EXPECT_EQ(changes, (std::vector<bool>{true, false}));

  // The control holding the capture goes away: the capture is dropped.
  m.Kind = mkDown;
  EXPECT_EQ(t.root->MouseInput(m), b);
  FreeControl(b);
  EXPECT_EQ(t.root->CaptureControl(), nullptr);
  EXPECT_EQ(t.root->HoverControl(), nullptr);
  m.Kind = mkMove;
  EXPECT_EQ(t.root->MouseInput(m), t.root);
  ProcessDeferredFrees();

  // Wheel events are refused by a control whose mouse filter is 0.
  a->MouseFilter = 0;
  m.Kind = mkWheel;
  m.X = m.Y = 5;
  EXPECT_EQ(t.root->MouseInput(m), nullptr);
}

TEST(FrameControls, AControlFreedInsideItsOwnHandlerLivesToTheSafePoint) {
  Tree t;
  auto* a = t.Add(t.root, 0, 0, 20, 20);
  auto* a1 = t.Add(a, 0, 0, 5, 5);
  auto log = MakeRef<TTagLog>();
  log->Watch(a, {ntMouse, ntDestroy});
  log->action = [&](std::int32_t tag) {
    if (tag == ntMouse) FreeControl(a);
  };
  TMouseData m;
  m.Kind = mkDown;
  m.Buttons = mbLeft;
  m.X = m.Y = 10;
  EXPECT_EQ(t.root->MouseInput(m), nullptr);  // gone before it could take the capture
  EXPECT_EQ(t.root->CaptureControl(), nullptr);
  EXPECT_TRUE(a->Freed());
  EXPECT_TRUE(a1->TornDown());
  EXPECT_EQ(log->tags, (std::vector<std::int32_t>{ntMouse, ntDestroy}));
  EXPECT_EQ(DeferredFreeCount(), 2u);
  FreeControl(a);  // a second free is ignored
  EXPECT_EQ(DeferredFreeCount(), 2u);
  ProcessDeferredFrees();
  EXPECT_EQ(DeferredFreeCount(), 0u);
  EXPECT_EQ(t.root->FirstChildControl(), nullptr);
}

TEST(FrameControls, StylesAndTextFormatComeFromTheParentOrTheGlobal) {
  Tree t;
  auto* c = t.Add(t.root, 0, 0, 5, 5);
  EXPECT_EQ(c->GetStyles(), DefaultControlStyles());
  TTextFormat f;
  c->GetTextFormat(f);
  EXPECT_EQ(f.Font.Name, DefaultControlStyles()->DefaultFont.Font.Name);
  auto copy = MakeRef<TControlStyles>();
  copy->Assign(*DefaultControlStyles());
  EXPECT_EQ(copy->Background, DefaultControlStyles()->Background);
  EXPECT_EQ(copy->FaceColor, DefaultControlStyles()->FaceColor);
  TPoint p;
  c->SetPosition(3, 4);
  c->ToParent(1, 1, p);
  EXPECT_EQ(p, (TPoint{4, 5}));
}

TEST(FrameControls, ColorAdjustmentScalesAndOffsets) {
  TColor32 c{100, 100, 100, 255};
  EXPECT_EQ(AdjustColor(c), c);
  ColorAdjustment.Enabled = true;
  ColorAdjustment.Factor[0] = 2;  // red
  ColorAdjustment.Offset[2] = -150;  // blue
  TColor32 r = AdjustColor(c);
  ColorAdjustment = TColorAdjustment{};
  EXPECT_EQ(r.R, 200);
  EXPECT_EQ(r.G, 100);
  EXPECT_EQ(r.B, 0);
}

TEST(FrameControls, RefreshClockRunsWhileControlsListen) {
  EXPECT_EQ(RefreshIntervalFor(60), 16);
  EXPECT_EQ(RefreshIntervalFor(0), 16);
  EXPECT_EQ(RefreshIntervalFor(-5), 16);
  EXPECT_EQ(RefreshIntervalFor(100), 10);

  // Without a window timer the multi-timer cannot arm; a stand-in timer counts.
  struct TFakeTimer : TCustomWinTimer {
    void UpdateTimer() override {}
  };
  zm::THookScope timers(CreateTimerHook, [] {
    auto* t = new TFakeTimer();
    t->AfterConstruction();
    return static_cast<TCustomTimer*>(t);
  });
  {
    Tree t;
    auto* a = t.Add(t.root, 0, 0, 5, 5);
    auto* n = dynamic_cast<TTimeRefreshNotifier*>(t.root->RefreshNotifier());
    ASSERT_NE(n, nullptr);
    EXPECT_FALSE(n->Running());
    auto log = MakeRef<TTagLog>();
    log->Watch(a, {ntRefresh});
    a->SetRefreshing(true);
    EXPECT_TRUE(n->Running());
    EXPECT_EQ(n->Interval(), RefreshInterval());
    n->Tick();
    EXPECT_EQ(log->tags.size(), 1u);
    // Moved out of the tree it listens to the global clock instead.
    a->SetParent(nullptr);
    EXPECT_FALSE(n->Running());
    EXPECT_EQ(GlobalRefreshNotifier()->ListenerCount(), 1);
    a->SetParentControl(t.root);
    EXPECT_TRUE(n->Running());
    FreeControl(a);
    EXPECT_FALSE(n->Running());
    EXPECT_EQ(GlobalRefreshNotifier()->ListenerCount(), 0);
  }
}
