#include "ZmLib/Composite/zmThemedButtons.h"

#include "ZmLib/Composite/zmThemedControlUtils.h"

#include "tests/ZmLib/Composite/ThemedTestSupport.h"

using namespace themedtest;

namespace {

TThemedFrameButton* MakeButton(ThemedEnv& e, TButtonTheme* theme = nullptr) {
  auto* b = NewControl<TThemedFrameButton>(e.panel, nullptr, theme);
  b->SetPosition(10, 10);
  b->SetSize(80, 30);
  return b;
}

std::uint32_t Pixel(TDirectBitmap* b, int x, int y) { return ArgbPixel(b, x, y); }

// Fades every change over 100 ms.
struct TFadeTheme : TButtonTheme {
  using TButtonTheme::TButtonTheme;
  bool TransitionTime(std::uint32_t, std::uint32_t, std::int32_t& ms) override {
    ms = 100;
    return true;
  }
};

}  // namespace

TEST_F(ThemedEnv, ClassicPushButtonPictureRingsByState) {
  auto theme = MakeRef<TButtonTheme>(styles.get());
  TControlStyles& st = *styles;
  auto normal = theme->DrawClassic(0, {40, 20});
  ASSERT_TRUE(normal);
  EXPECT_EQ(Pixel(normal.get(), 0, 0), st.HighlightColor.Value());
  EXPECT_EQ(Pixel(normal.get(), 1, 1), st.LightColor.Value());
  EXPECT_EQ(Pixel(normal.get(), 39, 19), st.DarkShadowColor.Value());
  EXPECT_EQ(Pixel(normal.get(), 38, 18), st.ShadowColor.Value());
  EXPECT_EQ(Pixel(normal.get(), 20, 10), st.FaceColor.Value());
  // The default button gets a frame ring first; the 3D rings move in by one.
  auto def = theme->DrawClassic(pbsDefaulted, {40, 20});
  EXPECT_EQ(Pixel(def.get(), 0, 0), st.FrameColor.Value());
  EXPECT_EQ(Pixel(def.get(), 39, 19), st.FrameColor.Value());
  EXPECT_EQ(Pixel(def.get(), 1, 1), st.HighlightColor.Value());
  EXPECT_EQ(Pixel(def.get(), 38, 18), st.DarkShadowColor.Value());
  // Pressed: frame, then a shadow ring all round, then face.
  auto pressed = theme->DrawClassic(pbsPressed, {40, 20});
  EXPECT_EQ(Pixel(pressed.get(), 0, 0), st.FrameColor.Value());
  EXPECT_EQ(Pixel(pressed.get(), 1, 1), st.ShadowColor.Value());
  EXPECT_EQ(Pixel(pressed.get(), 38, 18), st.ShadowColor.Value());
  EXPECT_EQ(Pixel(pressed.get(), 2, 2), st.FaceColor.Value());
  // Focus dots one pixel inside the face, alternating.
  auto focused = theme->DrawClassic(pbsFocused, {40, 20});
  const std::uint32_t ink = TColor32{0, 0, 0, 255}.Value();
  EXPECT_EQ(Pixel(focused.get(), 3, 3), ink);
  EXPECT_EQ(Pixel(focused.get(), 4, 3), st.FaceColor.Value());
  EXPECT_EQ(Pixel(focused.get(), 5, 3), ink);
  // Degenerate sizes give no picture and tiny ones do not overrun.
  EXPECT_FALSE(theme->DrawClassic(0, {0, 20}));
  EXPECT_FALSE(theme->DrawClassic(0, {-5, -5}));
  EXPECT_FALSE(theme->DrawClassic(0, {100000, 2}));
  for (int s = 1; s < 6; ++s) EXPECT_TRUE(theme->DrawClassic(pbsPressed | pbsDefaulted | pbsFocused, {s, s}));
}

TEST_F(ThemedEnv, PushButtonStateNamesParseBackAndVisualStyleRules) {
  auto classic = MakeRef<TButtonTheme>(styles.get());
  std::u16string n;
  classic->StateName(pbsAnimated | pbsHot, n);
  EXPECT_EQ(n, u"Invalid");
  classic->StateName(pbsDisabled | pbsPressed, n);
  EXPECT_EQ(n, u"Disabled");
  classic->StateName(pbsPressed | pbsHot | pbsDefaulted | pbsFocused, n);
  EXPECT_EQ(n, u"Pressed|Focused");
  EXPECT_EQ(classic->ParseState(n), pbsPressed | pbsFocused);
  classic->StateName(pbsDefaulted | pbsHot, n);
  EXPECT_EQ(n, u"Defaulted");
  WinXPButtonStateName(pbsDefaulted | pbsHot, n);
  EXPECT_EQ(n, u"Hot");
  WinXPButtonStateName(pbsAnimated | pbsPressed | pbsFocused, n);
  EXPECT_EQ(n, u"Animated|Focused");
  EXPECT_EQ(classic->ParseState(u"Hotter|NotPressed"), 0u);  // whole names only
  EXPECT_EQ(classic->ParseState(u""), 0u);

  EXPECT_EQ(WinXPButtonTransition(pbsHot, 0), 500);
  EXPECT_EQ(WinXPButtonTransition(pbsPressed | pbsHot, pbsHot), 30);
  EXPECT_EQ(WinXPButtonTransition(0, pbsHot), 500);
  EXPECT_EQ(WinXPButtonTransition(pbsDefaulted, pbsDefaulted | pbsAnimated), 2000);
  EXPECT_EQ(WinXPButtonTransition(pbsFocused | pbsHot, pbsHot), 30);  // nothing added, but focus left
  EXPECT_EQ(WinXPButtonTransition(pbsHot, pbsHot | pbsPressed), 30);
  EXPECT_EQ(WinXPButtonElement(u"Pressed|Focused"), 4);
  EXPECT_EQ(WinXPButtonElement(u"Animated"), 7);
  EXPECT_EQ(WinXPButtonElement(u"Disabled"), 5);
  EXPECT_EQ(WinXPButtonElement(u"garbage"), 2);

  // Without visual styles the visual-style theme answers like the classic one.
  auto xp = MakeRef<TWinXPButtonTheme>(styles.get());
  std::int32_t ms = -1;
  EXPECT_FALSE(xp->TransitionTime(pbsHot, 0, ms));
  EXPECT_EQ(ms, 0);
  TPoint off;
  EXPECT_FALSE(xp->HitMask(u"Normal", {20, 20}, off));
  auto b = xp->Draw(u"Defaulted", {20, 10}, off);
  ASSERT_TRUE(b);
  EXPECT_EQ(ArgbPixel(b.get(), 0, 0), styles->FrameColor.Value());
}

TEST_F(ThemedEnv, PushButtonSizesFromFontAndCaption) {
  auto* b = MakeButton(*this);
  TButtonTheme* t = b->Theme();
  ASSERT_TRUE(t);
  // "Wg" is 12 pixels: round(12 x 3.8125) = 46, + 18; text 12 high + 12.
  EXPECT_EQ(t->DefaultSize(b), (TSize{64, 24}));
  int w = 0, h = 0;
  b->SetText(u"&Ok");
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 64);  // 12 + 18 is below the default
  EXPECT_EQ(h, 24);
  b->SetText(u"A much longer caption");
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 21 * 6 + 18);
  b->WidthMode = smFromCaption | smAtMostDefault;
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 64);
  b->WidthMode = 0;
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 80);  // the present width
  // The caption sits in the content rectangle and moves by (1, 1) while pressed.
  TFrameCaption* c = b->Caption();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Position(), (TPoint{9, 6}));
  EXPECT_EQ(c->Width(), 80 - 18);
  b->SetHeldDown(true);
  EXPECT_EQ(c->Position(), (TPoint{10, 7}));
  EXPECT_GE(b->Baseline(), 7);
}

TEST_F(ThemedEnv, PushButtonClicksOnlyWhenReleasedOverIt) {
  auto* b = MakeButton(*this);
  int clicks = 0;
  b->OnClick = [&](TFrameControl*) { ++clicks; };
  Mouse(mkMove, 20, 20);
  EXPECT_TRUE(b->Hover());
  Mouse(mkDown, 20, 20);
  EXPECT_TRUE(b->MousePressed());
  EXPECT_TRUE(b->Focused());
  EXPECT_EQ(b->State() & (pbsPressed | pbsHot), pbsPressed | pbsHot);
  Mouse(mkMove, 200, 200);  // captured: the button still hears it
  EXPECT_FALSE(b->Hover());
  EXPECT_EQ(b->State() & pbsPressed, 0u);
  EXPECT_NE(b->State() & pbsHot, 0u);  // held, so still hot
  Mouse(mkUp, 200, 200);
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(b->MousePressed());
  // Moving back before the release clicks.
  Mouse(mkMove, 20, 20);
  Mouse(mkDown, 20, 20);
  Mouse(mkMove, 200, 200);
  Mouse(mkMove, 25, 25);
  Mouse(mkUp, 25, 25);
  EXPECT_EQ(clicks, 1);
  // A right click does nothing.
  Mouse(mkDown, 20, 20, mbRight);
  Mouse(mkUp, 20, 20, mbRight);
  EXPECT_EQ(clicks, 1);
}

TEST_F(ThemedEnv, SpaceShowsPressedUntilReleasedThenClicksOnce) {
  auto* b = MakeButton(*this);
  int clicks = 0;
  b->OnClick = [&](TFrameControl*) { ++clicks; };
  b->SetFocus();
  Key(b, kkKeyUp, kKeySpace);  // a release without press
  EXPECT_EQ(clicks, 0);
  Key(b, kkKeyDown, kKeySpace);
  Key(b, kkKeyDown, kKeySpace);  // auto-repeat
  EXPECT_NE(b->State() & pbsPressed, 0u);
  EXPECT_EQ(clicks, 0);
  Key(b, kkKeyUp, kKeySpace);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(b->State() & pbsPressed, 0u);
  Key(b, kkKeyUp, kKeySpace);
  EXPECT_EQ(clicks, 1);
  // Disabling drops a held key and the mouse; a disabled button ignores input.
  Key(b, kkKeyDown, kKeySpace);
  b->SetEnabled(false);
  EXPECT_FALSE(b->KeyPressed());
  EXPECT_EQ(b->State() & (pbsPressed | pbsFocused), 0u);
  EXPECT_NE(b->State() & pbsDisabled, 0u);
  Key(b, kkKeyUp, kKeySpace);
  Mouse(mkDown, 20, 20);
  Mouse(mkUp, 20, 20);
  EXPECT_EQ(clicks, 1);
  // A button that clicks itself away is not touched afterwards.
  b->SetEnabled(true);
  b->OnClick = [](TFrameControl* s) { s->DeferredFree(); };
  Mouse(mkDown, 20, 20);
  Mouse(mkUp, 20, 20);
  ProcessDeferredFrees();
}

TEST_F(ThemedEnv, PushButtonPaintsItsStatePictureAndFadesWhenTheThemeAsks) {
  auto* b = MakeButton(*this);
  b->SetDefault(true);
  auto s = PaintOf(b);
  EXPECT_EQ(s->Pixel(0, 0), C24(styles->FrameColor));
  EXPECT_EQ(b->LastState(), pbsDefaulted);
  TFadeTheme* fade = MakeRef<TFadeTheme>(styles.get()).get();  // the styles keep it
  auto* f = MakeButton(*this, fade);
  PaintOf(f);
  EXPECT_FALSE(f->Images()->Animating());  // the first picture shows at once
  f->SetHeldDown(true);
  PaintOf(f);
  EXPECT_TRUE(f->Images()->Animating());
  gNow += 50;
  f->NotifyRefresh();
  EXPECT_NEAR(f->Images()->Progress(), 0.5f, 0.01f);
  gNow += 60;
  f->NotifyRefresh();
  EXPECT_FALSE(f->Images()->Animating());
  EXPECT_EQ(PaintOf(f)->Pixel(1, 1), C24(styles->ShadowColor));
  // A resize to nothing paints nothing and does not fail.
  f->SetSize(0, 0);
  PaintOf(f);
  EXPECT_TRUE(f->HitTest(0, 0) == false);
}

// ---- Speed buttons ----------------------------------------------------------------------

TEST_F(ThemedEnv, SpeedButtonKeysPushedInAndVisualStyleRules) {
  auto t = MakeRef<TSpeedButtonTheme>(styles.get());
  EXPECT_TRUE(t->IsPushedIn(sbsChecked));
  EXPECT_FALSE(t->IsPushedIn(sbsChecked | sbsHot));
  EXPECT_TRUE(t->IsPushedIn(sbsChecked | sbsHot | sbsPressed));
  EXPECT_FALSE(t->IsPushedIn(sbsHot));
  std::u16string k;
  t->StateName(0, sbsPressed, k, false);
  EXPECT_EQ(k, u"SpeedButton|Hot");  // pressed but not hot shows hot
  t->StateName(1, sbsPressed | sbsHot | sbsChecked, k, true);
  EXPECT_EQ(k, u"DropDownButton|Checked|Pressed");
  t->StateName(0, sbsDisabled | sbsHot, k, false);
  EXPECT_EQ(k, u"SpeedButton|Disabled");
  EXPECT_EQ(WinXPSpeedButtonElement(u"SpeedButton|Checked|Hot"), 7);
  EXPECT_EQ(WinXPSpeedButtonElement(u"SpeedButton|Checked|Normal"), 6);
  EXPECT_EQ(WinXPSpeedButtonElement(u"DropDownButton|Pressed"), 16);
  EXPECT_EQ(WinXPSpeedButtonElement(u"DropDownButton|Disabled"), 17);
  EXPECT_EQ(WinXPSpeedButtonTransition(sbsHot, 0), 500);
  EXPECT_EQ(WinXPSpeedButtonTransition(0, sbsHot), 150);
  EXPECT_EQ(WinXPSpeedButtonTransition(sbsHot, sbsHot | sbsPressed), 30);
  EXPECT_EQ(WinXPSpeedButtonTransition(sbsHot, sbsHot | sbsChecked), 30);
  EXPECT_EQ(WinXPSpeedButtonTransition(sbsHot | sbsPressed, sbsChecked), 30);

  EXPECT_EQ(t->DefaultSize(nullptr, 0), (TSize{23, 22}));
  EXPECT_EQ(t->DefaultSize(nullptr, 1), (TSize{38, 22}));
  styles->ScaleX = styles->ScaleY = 1.5;
  TRect r;
  t->ContentRect(1, sbsChecked, r, {60, 30});
  EXPECT_EQ(r, (TRect{10, 7, 60 - 9 - 15 + 1, 30 - 6 + 1}));
  t->ContentRect(0, 0, r, {INT32_MIN, INT32_MIN});
  EXPECT_GE(r.Right, r.Left);
  t->ContentRect(0, 0, r, {4, 4});  // smaller than the margins: empty, never inverted
  EXPECT_GE(r.Right, r.Left);
  EXPECT_GE(r.Bottom, r.Top);
  TSize sz;
  t->SizeForContent(1, {16, 16}, sz);
  EXPECT_EQ(sz, (TSize{16 + 18 + 15, 16 + 12}));
}

TEST_F(ThemedEnv, SpeedButtonPressesClicksAndOpensItsDropDown) {
  auto* b = NewControl<TThemedSpeedButton>(panel, nullptr, nullptr);
  b->SetPosition(10, 10);
  b->SetSize(38, 22);
  b->SetKind(1);
  int clicks = 0, drops = 0;
  b->OnClick = [&](TFrameControl*) { ++clicks; };
  b->OnDropDown = [&](TThemedSpeedButton*) { ++drops; };
  EXPECT_EQ(b->HitPart(5, 5), 1);
  EXPECT_EQ(b->HitPart(30, 5), 2);
  EXPECT_EQ(b->HitPart(38, 5), 0);
  EXPECT_EQ(b->HitPart(-1, 5), 0);
  // The drop-down part opens and does nothing else.
  Mouse(mkMove, 40, 15);
  Mouse(mkDown, 40, 15);
  EXPECT_EQ(drops, 1);
  EXPECT_FALSE(b->Pressed());
  Mouse(mkUp, 40, 15);
  EXPECT_EQ(clicks, 0);
  // Press and release on the main part clicks; released outside it does not.
  Mouse(mkMove, 15, 15);
  Mouse(mkDown, 15, 15);
  EXPECT_TRUE(b->Pressed());
  EXPECT_EQ(b->MouseState(), sbPressed);
  Mouse(mkUp, 15, 15);
  EXPECT_EQ(clicks, 1);
  Mouse(mkDown, 15, 15);
  Mouse(mkMove, 100, 100);
  Mouse(mkUp, 100, 100);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(b->Pressed());
  // Leaving clears hover and pressed; disabled ignores input.
  Mouse(mkMove, 15, 15);
  b->MouseLeave();
  EXPECT_FALSE(b->Hover());
  b->SetEnabled(false);
  Mouse(mkDown, 15, 15);
  Mouse(mkUp, 15, 15);
  EXPECT_EQ(clicks, 1);
  EXPECT_NE(b->State() & sbsDisabled, 0u);
  // A checked, not hot button paints pushed in.
  b->SetEnabled(true);
  b->SetDown(true);
  auto s = PaintOf(b);
  EXPECT_EQ(s->Pixel(0, 0), C24(styles->ShadowColor));
  // Sizes: the default scaled, unless fixed; automatic width from the content.
  b->SetSize(5, 5);
  int w = 0, h = 0;
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 38);
  EXPECT_EQ(h, 22);
  b->AutoWidth = true;
  b->ContentSize = {16, 16};
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 16 + 12 + 15);
  b->FixedSize = true;
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 5);
}

TEST(ThemedButtonHooks, AllocatorsUseTheStylesThemeAndRestoreTheirPredecessors) {
  // The start-up modules may have installed them already.
  const bool installed = AllocFrameButton == &AllocThemedFrameButton;
  if (installed) FiniThemedButtons();
  const auto before = AllocFrameButton;
  const auto beforeSpeed = _AllocFrameSpeedButton;
  InitThemedButtons();
  InitThemedButtons();  // once only
  auto styles = MakeRef<TControlStyles>();
  TRootControl* root = NewControl<TRootControl>();
  TFrameButton* a = AllocFrameButton(root, styles.get());
  TFrameButton* b = AllocFrameButton(root, styles.get());
  auto* ta = dynamic_cast<TThemedFrameButton*>(a);
  auto* tb = dynamic_cast<TThemedFrameButton*>(b);
  ASSERT_TRUE(ta && tb);
  EXPECT_EQ(ta->Theme(), tb->Theme());
  EXPECT_NE(dynamic_cast<TWinXPButtonTheme*>(ta->Theme()), nullptr);
  auto* sp = dynamic_cast<TThemedSpeedButton*>(_AllocFrameSpeedButton(root, styles.get()));
  ASSERT_TRUE(sp);
  EXPECT_NE(dynamic_cast<TWinXPSpeedButtonTheme*>(sp->Theme()), nullptr);
  root->Free();
  ProcessDeferredFrees();
  FiniThemedButtons();
  FiniThemedButtons();
  EXPECT_EQ(AllocFrameButton, before);
  EXPECT_EQ(_AllocFrameSpeedButton, beforeSpeed);
  EXPECT_EQ(ThemeElementScratchSize(), TSize{});
  if (installed) InitThemedButtons();
}
