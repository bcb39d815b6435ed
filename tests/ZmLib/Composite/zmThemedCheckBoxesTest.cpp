#include "ZmLib/Composite/zmThemedCheckBoxes.h"

#include <cmath>

#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "tests/ZmLib/Composite/ThemedTestSupport.h"

using namespace themedtest;

namespace {

std::uint32_t Opaque(TColor32 c) { return c.Value(); }
const std::uint32_t kBlack = TColor32{0, 0, 0, 255}.Value();

TThemedFrameRadioButton* Radio(ThemedEnv& e, int y) {
  auto* r = NewControl<TThemedFrameRadioButton>(e.panel, nullptr, nullptr);
  r->SetPosition(10, y);
  r->SetSize(100, 16);
  return r;
}

}  // namespace

TEST(CheckGlyph, SideFollowsTextHeightAndScale) {
  EXPECT_EQ(CheckGlyphSide(12, 1), 13);  // the edge case: 96 dpi, text 12 high
  EXPECT_EQ(CheckGlyphSide(20, 1), 18);
  EXPECT_EQ(CheckGlyphSide(20, 1.5), 27);
  EXPECT_EQ(CheckGlyphSide(-40, 1), 13);
  EXPECT_EQ(CheckGlyphSide(INT32_MIN, 1), 13);
  EXPECT_EQ(CheckGlyphSide(12, 0), 13);
  EXPECT_EQ(CheckGlyphSide(12, 0.000001), 13);
  EXPECT_EQ(CheckGlyphSide(12, std::nan("")), 13);
  EXPECT_LE(CheckGlyphSide(2000000000, 1e9), 4096);
}

TEST_F(ThemedEnv, CheckLayoutReservesGlyphGapAndMargin) {
  auto t = MakeRef<TCheckBoxTheme>(styles.get());
  EXPECT_EQ(t->DefaultSize(13, {0, 0}), (TSize{13 + 4 + 2, 13}));
  EXPECT_EQ(t->DefaultSize(13, {30, 20}), (TSize{30 + 19, 20}));
  TRect r;
  t->CaptionRect(13, {100, 20}, r, 30, false);
  EXPECT_EQ(r, (TRect{17, 0, 49, 20}));
  t->CaptionRect(13, {100, 20}, r, 500, false);
  EXPECT_EQ(r.Right, 98);
  t->CaptionRect(13, {100, 20}, r, 30, true);
  EXPECT_EQ(r, (TRect{51, 0, 83, 20}));
  t->CaptionRect(13, {100, 20}, r, 500, true);
  EXPECT_EQ(r.Left, 2);
  t->CaptionRect(13, {5, 5}, r, 30, false);  // too narrow: empty, not inverted
  EXPECT_GE(r.Right, r.Left);
  t->CaptionRect(13, {5, 5}, r, 30, true);
  EXPECT_GE(r.Right, r.Left);
  // Extreme inputs neither overflow nor invert.
  for (bool rtl : {false, true}) {
    t->CaptionRect(INT32_MAX, {100, 20}, r, INT32_MAX, rtl);
    EXPECT_LE(r.Left, r.Right);
    t->CaptionRect(-5, {-100, -20}, r, -7, rtl);
    EXPECT_LE(r.Left, r.Right);
  }
  EXPECT_EQ(t->DefaultSize(INT32_MAX, {INT32_MAX, 5}).cx, INT32_MAX);
  t->GlyphRect(13, {100, 20}, r, false);
  EXPECT_EQ(r, (TRect{0, 3, 13, 16}));
  t->GlyphRect(13, {100, 20}, r, true);
  EXPECT_EQ(r, (TRect{87, 3, 100, 16}));
}

TEST_F(ThemedEnv, CheckKeysParseBackAndVisualStyleRules) {
  auto cb = MakeRef<TCheckBoxTheme>(styles.get());
  auto rb = MakeRef<TRadioButtonTheme>(styles.get());
  std::u16string k;
  cb->Key(cbChecked, cbsPressed | cbsHot, k);
  EXPECT_EQ(k, u"cbChecked|Pressed");
  cb->Key(cbNeutral, cbsPressed, k);
  EXPECT_EQ(k, u"cbNeutral|Hot");
  cb->Key(cbUnchecked, cbsDisabled | cbsHot, k);
  EXPECT_EQ(k, u"cbUnchecked|Disabled");
  std::uint8_t check = 9;
  std::uint32_t bits = 9;
  cb->ParseKey(u"cbNeutral|Disabled", check, bits);
  EXPECT_EQ(check, cbNeutral);
  EXPECT_EQ(bits, cbsDisabled);
  cb->ParseKey(u"nonsense", check, bits);
  EXPECT_EQ(check, cbUnchecked);
  EXPECT_EQ(bits, 0u);
  rb->Key(cbChecked, 0, k);
  EXPECT_EQ(k, u"rbChecked|Normal");
  rb->Key(cbNeutral, 0, k);  // a radio button has no neutral state
  EXPECT_EQ(k, u"rbUnchecked|Normal");
  rb->ParseKey(u"cbChecked|Hot", check, bits);
  EXPECT_EQ(check, cbUnchecked);
  rb->ParseKey(u"rbChecked|Hot", check, bits);
  EXPECT_EQ(check, cbChecked);
  EXPECT_EQ(bits, cbsHot);

  EXPECT_EQ(WinCheckBoxElement(cbNeutral, cbsHot), 25);
  EXPECT_EQ(WinCheckBoxElement(cbChecked, cbsDisabled | cbsPressed), 23);
  EXPECT_EQ(WinRadioButtonElement(cbChecked, cbsPressed), 14);
  EXPECT_EQ(WinRadioButtonElement(cbUnchecked, 0), 8);
  EXPECT_EQ(WinCheckTransition(0, 2u << 8), 50);  // check state changed
  EXPECT_EQ(WinCheckTransition(cbsHot, cbsHot), 0);
  EXPECT_EQ(WinCheckTransition(0, cbsHot), 500);
  EXPECT_EQ(WinCheckTransition(cbsHot, 0), 500);
  EXPECT_EQ(WinCheckTransition(cbsHot, cbsHot | cbsPressed), 50);
  EXPECT_EQ(WinCheckTransition(cbsHot | cbsPressed, 0), 50);
  // Without visual styles the visual-style themes draw the classic glyph, without fades.
  auto win = MakeRef<TWinCheckBoxTheme>(styles.get());
  std::int32_t ms = -1;
  EXPECT_FALSE(win->TransitionTime(0, cbsHot, ms));
  auto g = win->Draw(u"cbUnchecked|Normal", {13, 13});
  ASSERT_TRUE(g);
  EXPECT_EQ(ArgbPixel(g.get(), 6, 6), Opaque(styles->WindowColor));
}

TEST_F(ThemedEnv, ClassicCheckGlyphPixels) {
  auto t = MakeRef<TCheckBoxTheme>(styles.get());
  TControlStyles& st = *styles;
  auto g = t->DrawClassic(cbChecked, 0, 13);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Width(), 13);
  EXPECT_EQ(ArgbPixel(g.get(), 5, 0), Opaque(st.ShadowColor));
  EXPECT_EQ(ArgbPixel(g.get(), 0, 5), Opaque(st.ShadowColor));
  EXPECT_EQ(ArgbPixel(g.get(), 12, 5), Opaque(st.HighlightColor));
  EXPECT_EQ(ArgbPixel(g.get(), 5, 12), Opaque(st.HighlightColor));
  EXPECT_EQ(ArgbPixel(g.get(), 1, 5), Opaque(st.FaceColor));
  EXPECT_EQ(ArgbPixel(g.get(), 6, 3), Opaque(st.WindowColor));
  EXPECT_EQ(ArgbPixel(g.get(), 5, 8), kBlack);
  // Disabled: the box in face colour, the mark in shadow colour.
  auto d = t->DrawClassic(cbChecked, cbsDisabled, 13);
  EXPECT_EQ(ArgbPixel(d.get(), 6, 3), Opaque(st.FaceColor));
  EXPECT_EQ(ArgbPixel(d.get(), 5, 8), Opaque(st.ShadowColor));
  auto n = t->DrawClassic(cbNeutral, 0, 13);
  EXPECT_EQ(ArgbPixel(n.get(), 5, 5), Opaque(st.DarkShadowColor));
  n = t->DrawClassic(cbNeutral, cbsDisabled, 13);
  EXPECT_EQ(ArgbPixel(n.get(), 5, 5), Opaque(st.ShadowColor));
  // Raised swaps the edges; a doubled side doubles the grid.
  t->Raised = true;
  EXPECT_EQ(ArgbPixel(t->DrawClassic(cbUnchecked, 0, 13).get(), 5, 0), Opaque(st.HighlightColor));
  t->Raised = false;
  EXPECT_EQ(ArgbPixel(t->DrawClassic(cbChecked, 0, 26).get(), 11, 17), kBlack);
  // A mark that does not exist is refused before anything is painted; the next glyph still draws.
  EXPECT_ANY_THROW(t->DrawClassic(3, 0, 13));
  EXPECT_TRUE(t->DrawClassic(cbUnchecked, 0, 13));
  EXPECT_FALSE(t->DrawClassic(cbUnchecked, 0, 0));
  EXPECT_FALSE(t->DrawClassic(cbUnchecked, 0, -3));
  EXPECT_TRUE(t->Draw(u"cbChecked|Normal", {1, 1}));
}

TEST_F(ThemedEnv, ClassicRadioGlyphPixels) {
  auto t = MakeRef<TRadioButtonTheme>(styles.get());
  auto off = t->DrawClassic(cbUnchecked, 0, 13);
  ASSERT_TRUE(off);
  EXPECT_EQ(ArgbPixel(off.get(), 0, 0) >> 24, 0u);  // transparent corners
  EXPECT_EQ(ArgbPixel(off.get(), 6, 5), Opaque(styles->WindowColor));
  auto on = t->DrawClassic(cbChecked, 0, 13);
  EXPECT_EQ(ArgbPixel(on.get(), 6, 5), kBlack);
  auto dis = t->DrawClassic(cbChecked, cbsDisabled, 13);
  EXPECT_EQ(ArgbPixel(dis.get(), 6, 5), Opaque(styles->ShadowColor));
}

TEST_F(ThemedEnv, CheckBoxClicksOnReleaseOverItAndDrawsFocusAroundCaption) {
  auto* c = NewControl<TThemedFrameCheckBox>(panel, nullptr, nullptr);
  c->SetPosition(10, 10);
  c->SetSize(100, 16);
  c->SetText(u"Check");
  int clicks = 0;
  c->OnClick = [&](TFrameControl*) { ++clicks; };
  ASSERT_TRUE(c->Glyph());
  EXPECT_EQ(c->Glyph()->Position(), (TPoint{0, 1}));
  EXPECT_EQ(c->Glyph()->Width(), 13);
  EXPECT_EQ(c->Caption()->Position().X, 17);
  EXPECT_EQ(c->Glyph()->StateKey(), u"cbUnchecked|Normal");
  Mouse(mkMove, 20, 15);
  Mouse(mkDown, 20, 15);
  EXPECT_TRUE(c->Focused());
  EXPECT_EQ(c->Glyph()->StateKey(), u"cbUnchecked|Pressed");
  Mouse(mkUp, 20, 15);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(c->State(), cbChecked);
  EXPECT_EQ(c->Glyph()->StateKey(), u"cbChecked|Hot");
  Mouse(mkDown, 20, 15);
  Mouse(mkMove, 300, 15);
  EXPECT_EQ(c->Glyph()->StateKey(), u"cbChecked|Hot");  // pressed but away
  Mouse(mkUp, 300, 15);
  EXPECT_EQ(c->State(), cbChecked);
  EXPECT_EQ(clicks, 1);
  // Focus dots around the caption, on the check box itself.
  auto s = PaintOf(c);
  const TPoint cp = c->Caption()->Position();
  EXPECT_EQ(s->Pixel(cp.X - 1, cp.Y), (TColor24{0, 0, 0}));
  EXPECT_EQ(s->Pixel(5, 5), (TColor24{1, 2, 3}));
  // Disabled: input ignored, the glyph shows it.
  c->SetEnabled(false);
  EXPECT_EQ(c->Glyph()->StateKey(), u"cbChecked|Disabled");
  Mouse(mkDown, 20, 15);
  Mouse(mkUp, 20, 15);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(PaintOf(c)->Pixel(cp.X - 1, cp.Y), (TColor24{1, 2, 3}));
  // An empty caption still reserves the glyph, the gap and the margin.
  c->SetText(u"");
  int w = 0, h = 0;
  c->PreferredSize(w, h);
  EXPECT_EQ(w, 13 + 4 + 2);
  EXPECT_EQ(h, 13);
  c->SetRightToLeft(true);
  EXPECT_EQ(c->Glyph()->Position().X, 100 - 13);
  c->SetSize(0, 0);  // nothing to lay out: no failure
  PaintOf(c);
}

TEST_F(ThemedEnv, RadioGroupsCheckOneAndMoveWithArrows) {
  auto* a = Radio(*this, 10);
  auto* other = NewControl<TThemedFrameCheckBox>(panel, nullptr, nullptr);  // not in the group
  auto* b = Radio(*this, 30);
  auto* c = Radio(*this, 50);
  EXPECT_TRUE(a->Checked());
  EXPECT_TRUE(a->GetTabStop());
  EXPECT_FALSE(b->Checked() || c->Checked());
  EXPECT_FALSE(b->GetTabStop() || c->GetTabStop());
  EXPECT_EQ(RadioGroupOf(b).size(), 3u);
  c->SetChecked(true);
  EXPECT_FALSE(a->Checked());
  EXPECT_FALSE(a->GetTabStop());
  EXPECT_TRUE(c->GetTabStop());
  // Down on the last wraps to the first enabled one (the first is disabled).
  a->SetEnabled(false);
  c->SetFocus();
  Key(c, kkKeyDown, 40);
  EXPECT_TRUE(b->Focused());
  EXPECT_TRUE(b->Checked());
  EXPECT_TRUE(b->GetTabStop());
  EXPECT_FALSE(c->Checked() || c->GetTabStop());
  Key(b, kkKeyDown, 38);  // up from the second skips the disabled first, wrapping to the last
  EXPECT_TRUE(c->Focused());
  Key(c, kkKeyDown, 39);
  EXPECT_TRUE(b->Focused());
  EXPECT_TRUE(other->GetTabStop());
  // A click checks; a lone radio button has nowhere to move.
  Mouse(mkDown, 20, 55);
  Mouse(mkUp, 20, 55);
  EXPECT_TRUE(c->Checked());
  EXPECT_FALSE(b->Checked());
  auto* lonely = NewControl<TThemedFrameRadioButton>(root, nullptr, nullptr);
  EXPECT_TRUE(lonely->Checked());
  auto k = MakeRef<TKeyboardData>();
  k->Key = 40;
  lonely->KeyNotify(k.get());
  EXPECT_FALSE(k->Handled);
  EXPECT_TRUE(RadioGroupOf(nullptr).empty());
}

TEST(ThemedCheckBoxHooks, AllocatorsKeepCheckAndRadioThemesApart) {
  // The start-up modules may have installed them already.
  const bool installed = _AllocFrameCheckBox == &AllocThemedFrameCheckBox;
  if (installed) FiniThemedCheckBoxes();
  const auto beforeCheck = _AllocFrameCheckBox;
  const auto beforeRadio = _AllocFrameRadioButton;
  InitThemedCheckBoxes();
  auto styles = MakeRef<TControlStyles>();
  TRootControl* root = NewControl<TRootControl>();
  auto* r = dynamic_cast<TThemedFrameRadioButton*>(_AllocFrameRadioButton(root, styles.get()));
  auto* c = dynamic_cast<TThemedFrameCheckBox*>(_AllocFrameCheckBox(root, styles.get()));
  ASSERT_TRUE(r && c);
  EXPECT_NE(dynamic_cast<TWinRadioButtonTheme*>(r->Theme()), nullptr);
  EXPECT_NE(dynamic_cast<TWinCheckBoxTheme*>(c->Theme()), nullptr);
  EXPECT_EQ(dynamic_cast<TRadioButtonTheme*>(c->Theme()), nullptr);
  EXPECT_EQ(CheckBoxThemeOf(styles.get()), c->Theme());
  root->Free();
  ProcessDeferredFrees();
  FiniThemedCheckBoxes();
  EXPECT_EQ(_AllocFrameCheckBox, beforeCheck);
  EXPECT_EQ(_AllocFrameRadioButton, beforeRadio);
  if (installed) InitThemedCheckBoxes();
}
