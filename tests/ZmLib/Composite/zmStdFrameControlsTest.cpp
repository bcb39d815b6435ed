#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ZmLib/Composite/zmStdFrameControls.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

using namespace zm;

namespace {

struct Tree {
  TRootControl* root = NewControl<TRootControl>();
  Tree() { root->SetSize(200, 100); }
  ~Tree() {
    root->Free();
    ProcessDeferredFrees();
  }
};

bool Press(TRootControl* root, std::uint16_t vk) {
  auto k = MakeRef<TKeyboardData>();
  k->Key = vk;
  root->InputNotify(k.get());
  return k->Handled;
}

std::string Clicks(const std::vector<TFrameControl*>& log, const std::vector<TFrameControl*>& names) {
  std::string s;
  for (auto* c : log)
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == c) s += char('A' + i);
  return s;
}

TRef<TDirectBitmap> Argb(int w, int h) { return MakeRef<TDirectBitmap>(w, PixelFormatByName(PF_A8R8G8B8), h); }
TColor32 At(TDirectBitmap* b, int x, int y) { return TColor32::FromValue(b->Row32(y)[x]); }

}  // namespace

TEST(StdFrameControls, HotkeyMarksAreStrippedButADoubledOneStays) {
  EXPECT_EQ(StripHotkey(u"&&Save"), u"&Save");
  EXPECT_EQ(StripHotkey(u"&File"), u"File");
  EXPECT_EQ(StripHotkey(u"a&&&b"), u"a&b");
  EXPECT_EQ(StripHotkey(u"end&"), u"end");
  EXPECT_EQ(StripHotkey(u""), u"");
}

TEST(StdFrameControls, UnassignedFactoriesAssertWithTheirName) {
  Tree t;
  // The start-up table installed the themed factories: the defaults come back for this test.
  struct TSaved {
    TAllocFrameButtonProc b = AllocFrameButton;
    TAllocFrameSpeedButtonProc s = _AllocFrameSpeedButton;
    TAllocFrameScrollBarProc sb = AllocFrameScrollBar;
    TAllocFrameCheckBoxProc c = _AllocFrameCheckBox;
    TAllocFrameRadioButtonProc r = _AllocFrameRadioButton;
    TAllocFrameProgressBarProc p = _AllocFrameProgressBar;
    ~TSaved() {
      AllocFrameButton = b, _AllocFrameSpeedButton = s, AllocFrameScrollBar = sb;
      _AllocFrameCheckBox = c, _AllocFrameRadioButton = r, _AllocFrameProgressBar = p;
    }
  } saved;
  InitStdFrameControls();
  try {
    AllocFrameButton(t.root, nullptr);
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("AllocFrameButton not Assigned"), std::string::npos) << e.what();
  }
  EXPECT_ANY_THROW(_AllocFrameSpeedButton(t.root, nullptr));
  EXPECT_ANY_THROW(AllocFrameScrollBar(t.root, nullptr, 1));
}

TEST(StdFrameControls, ScrollBarClampsPageAndPositionAndRepaintsOnlyOnChange) {
  Tree t;
  auto* s = NewControl<TFrameScrollBar>(t.root, nullptr, std::uint8_t(1));
  s->SetSize(10, 50);
  EXPECT_TRUE(s->Vertical());
  TRect r;
  s->GetBounds(r);
  s->SetPageAndPosition(-0.2f, 1.5f);
  EXPECT_EQ(s->Page(), 0.0f);
  EXPECT_EQ(s->ScrollPosition(), 1.0f);
  EXPECT_GT(s->InvalidationCount(), 0);
  s->GetBounds(r);
  s->SetPageAndPosition(0, 7);  // the same once clamped
  EXPECT_EQ(s->InvalidationCount(), 0);
  s->SetPageAndPosition(std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity());
  EXPECT_EQ(s->Page(), 0.0f);
  EXPECT_EQ(s->ScrollPosition(), 1.0f);
  EXPECT_EQ(s->SmallChange(), 0.01f);
  EXPECT_EQ(s->LargeChange(), 0.1f);
  s->SetLargeChange(0.1f);
  EXPECT_EQ(s->InvalidationCount(), 0);
  s->SetLargeChange(0.5f);
  EXPECT_GT(s->InvalidationCount(), 0);
}

TEST(StdFrameControls, CheckBoxStateCyclesAndSpaceClicks) {
  Tree t;
  auto* c = NewControl<TFrameCheckBox>(t.root);
  int clicks = 0;
  c->OnClick = [&](TFrameControl*) { ++clicks; };
  c->AllowNeutral = true;
  std::vector<int> seen;
  for (int i = 0; i < 3; ++i) {
    c->Click();
    seen.push_back(c->State());
  }
  EXPECT_EQ(seen, (std::vector<int>{cbChecked, cbNeutral, cbUnchecked}));
  EXPECT_EQ(clicks, 3);
  c->NeutralFirst = true;
  EXPECT_EQ(c->NextState(cbUnchecked), cbNeutral);
  EXPECT_EQ(c->NextState(cbNeutral), cbChecked);
  EXPECT_EQ(c->NextState(cbChecked), cbUnchecked);
  c->AllowNeutral = false;
  EXPECT_EQ(c->NextState(cbNeutral), cbChecked);
  c->NeutralFirst = false;
  EXPECT_EQ(c->NextState(cbNeutral), cbUnchecked);
  EXPECT_EQ(c->NextState(cbUnchecked), cbChecked);
  c->SetState(9);  // refused
  EXPECT_EQ(c->State(), cbUnchecked);
  // Space on key-down clicks; key-up and other keys do not.
  auto k = MakeRef<TKeyboardData>();
  k->Key = kKeySpace;
  c->KeyNotify(k.get());
  EXPECT_TRUE(k->Handled);
  EXPECT_EQ(c->State(), cbChecked);
  k->Handled = false;
  k->Kind = kkKeyUp;
  c->KeyNotify(k.get());
  EXPECT_EQ(c->State(), cbChecked);
  c->AutoCheck = false;
  c->Click();
  EXPECT_EQ(c->State(), cbChecked);
  EXPECT_EQ(clicks, 5);
}

TEST(StdFrameControls, EnterAndEscapeClickTheDefaultCancelAndFocusedButtons) {
  Tree t;
  std::vector<TFrameControl*> log;
  auto* ok = NewControl<TFrameButton>(t.root);
  auto* cancel = NewControl<TFrameButton>(t.root);
  auto* other = NewControl<TFrameButton>(t.root);
  for (auto* b : {ok, cancel, other}) b->OnClick = [&](TFrameControl* c) { log.push_back(c); };
  EXPECT_FALSE(Press(t.root, kKeyEnter));  // no default yet
  ok->SetDefault(true);
  cancel->SetCancel(true);
  EXPECT_TRUE(Press(t.root, kKeyEnter));
  EXPECT_TRUE(Press(t.root, kKeyEscape));
  t.root->SetFocusedChild(other);
  EXPECT_TRUE(Press(t.root, kKeyEnter));  // still the default
  FocusedButtonIsDefault = true;
  EXPECT_TRUE(Press(t.root, kKeyEnter));
  t.root->SetFocusedChild(nullptr);
  EXPECT_TRUE(Press(t.root, kKeyEnter));  // focus gone: the default again
  FocusedButtonIsDefault = false;
  EXPECT_EQ(Clicks(log, {ok, cancel, other}), "ABACA");
  // A button freed inside its own click, then the keys find nothing.
  ok->OnClick = [&](TFrameControl* c) { FreeControl(c); };
  EXPECT_TRUE(Press(t.root, kKeyEnter));
  ProcessDeferredFrees();
  EXPECT_FALSE(Press(t.root, kKeyEnter));
  FreeControl(cancel);
  EXPECT_FALSE(Press(t.root, kKeyEscape));
  // One handler per root.
  EXPECT_EQ(ButtonHandlerOf(other), ButtonHandlerOf(t.root));
  EXPECT_EQ(ButtonHandlerOf(nullptr), nullptr);
}

TEST(StdFrameControls, ButtonWithoutRootAndRadioAndSpeedButtons) {
  // A button made outside any tree works without a handler.
  auto* lone = NewControl<TFrameButton>(static_cast<TFrameControl*>(nullptr));
  lone->SetDefault(true);
  EXPECT_TRUE(lone->IsDefault());
  FreeControl(lone);
  ProcessDeferredFrees();

  Tree t;
  auto* r = NewControl<TFrameRadioButton>(t.root);
  t.root->SetFocusedChild(r);
  EXPECT_TRUE(r->Checked());  // focus checks it
  r->SetChecked(false);
  EXPECT_EQ(t.root->FocusedChild(), nullptr);
  r->AutoCheck = false;
  r->Click();
  EXPECT_FALSE(r->Checked());

  auto* s = NewControl<TFrameSpeedButton>(t.root);
  int notified = 0;
  struct H : events::TEventHandler {
    int* n;
    void HandleEvent(TRefObject*, std::int32_t, std::intptr_t) override { ++*n; }
  };
  auto h = MakeRef<H>();
  h->n = &notified;
  s->Listeners()->Subscribe(ntNotify13, 0, h.get());
  s->Toggle = true;
  s->Click();
  EXPECT_TRUE(s->Down());
  s->Grouped = true;
  s->Click();
  EXPECT_TRUE(s->Down());
  s->SetMouseState(sbHot);
  s->SetMouseState(sbPressed);
  s->SetMouseState(sbPressed);
  EXPECT_EQ(notified, 1);
}

TEST(ThemedControlUtils, ClassicFrameAndArrowPixels) {
  auto b = Argb(8, 6);
  const TColor32 ol{1, 0, 0, 255}, il{2, 0, 0, 255}, od{3, 0, 0, 255}, id{4, 0, 0, 255}, face{5, 0, 0, 255};
  DrawClassicFrame(b.get(), {0, 0, 8, 6}, ol, il, od, id, face);
  EXPECT_EQ(At(b.get(), 0, 0).B, 1);
  EXPECT_EQ(At(b.get(), 1, 1).B, 2);
  EXPECT_EQ(At(b.get(), 7, 5).B, 3);
  EXPECT_EQ(At(b.get(), 7, 0).B, 3);  // the dark line owns the corner
  EXPECT_EQ(At(b.get(), 6, 4).B, 4);
  EXPECT_EQ(At(b.get(), 2, 2).B, 5);
  EXPECT_EQ(At(b.get(), 5, 3).B, 5);
  DrawClassicFrame(b.get(), {-5, -5, 100, 100}, ol, il, od, id, face);  // cut to the bitmap
  DrawClassicFrame(nullptr, {0, 0, 8, 6}, ol, il, od, id, face);
  DrawClassicFrame(b.get(), {5, 5, 2, 2}, ol, il, od, id, face);

  // A 5-row arrow pointing right centred on (4, 4): rows 1, 2, 3, 2, 1 long from x = 3.
  auto a = Argb(10, 10);
  const TColor32 ink{0, 0, 255, 255};
  DrawClassicArrow(a.get(), 4, 4, 5, false, ink);
  const int lens[5] = {1, 2, 3, 2, 1};
  for (int row = 0; row < 5; ++row)
    for (int x = 0; x < 10; ++x)
      EXPECT_EQ(At(a.get(), x, 2 + row).R, (x >= 3 && x < 3 + lens[row]) ? 255 : 0) << x << "," << row;
  auto l = Argb(10, 10);
  DrawClassicArrow(l.get(), 4, 4, 5, true, ink);
  EXPECT_EQ(At(l.get(), 5, 2).R, 255);  // the apex row sits at the right, flat side
  EXPECT_EQ(At(l.get(), 3, 2).R, 0);
  EXPECT_EQ(At(l.get(), 3, 4).R, 255);
  DrawClassicArrow(l.get(), -100, 4000, 7, true, ink);
  DrawClassicArrow(l.get(), 4, 4, 0, true, ink);
  DrawClassicArrow(l.get(), 4, 4, -3, false, ink);
}

TEST(ThemedControlUtils, ArrowGlyphsAreCachedPerSlotSizeAndColour) {
  const int before = ArrowGlyphBuilds();
  const TColor32 ink{0, 0, 0, 255};
  TDirectBitmap* g = ArrowGlyph(0, 16, ink, adDown);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(ArrowGlyph(0, 16, ink, adDown), g);
  EXPECT_EQ(ArrowGlyphBuilds(), before + 1);
  // Pointing down: covered at the centre of the base, open at the corners near the apex.
  EXPECT_GT(At(g, 8, 5).A, 200);
  EXPECT_EQ(At(g, 1, 11).A, 0);
  EXPECT_EQ(At(g, 8, 1).A, 0);
  TDirectBitmap* right = ArrowGlyph(1, 16, ink, adRight);
  EXPECT_GT(At(right, 5, 8).A, 200);
  EXPECT_EQ(At(right, 11, 1).A, 0);
  ArrowGlyph(0, 16, TColor32{0, 0, 255, 255}, adDown);  // a new colour rebuilds the slot
  EXPECT_EQ(ArrowGlyphBuilds(), before + 3);
  EXPECT_EQ(ArrowGlyph(2, 0, ink, adUp), nullptr);
  EXPECT_EQ(ArrowGlyph(2, -4, ink, adUp), nullptr);
  EXPECT_ANY_THROW(ArrowGlyph(8, 16, ink, adUp));
  EXPECT_ANY_THROW(ArrowGlyph(-1, 16, ink, adUp));
  EXPECT_ANY_THROW(ArrowGlyph(0, 16, ink, 4));
  FreeArrowGlyphs();
  ArrowGlyph(0, 16, ink, adDown);
  EXPECT_EQ(ArrowGlyphBuilds(), before + 4);
}
