#include "ZmLib/Composite/zmThemedScrollBar.h"

#include <cmath>

#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "tests/ZmLib/Composite/ThemedTestSupport.h"

using namespace themedtest;

namespace {

int gStarts = 0, gStops = 0;

// Repeat timers that only count: the tests give the ticks.
struct ScrollEnv : ThemedEnv {
  TScrollBarTimerProcs saved = ScrollBarTimerProcs;
  ScrollEnv() {
    gStarts = gStops = 0;
    ScrollBarTimerProcs = {[](std::int32_t, TThemedScrollBarRepeater*) -> void* { return &++gStarts; },
                           [](void*) { ++gStops; }};
  }
  ~ScrollEnv() override {
    root->Free();
    root = nullptr;
    ProcessDeferredFrees();
    EXPECT_EQ(gStarts, gStops);  // no timer outlives its hold
    ScrollBarTimerProcs = saved;
  }
};

TThemedFrameScrollBar* Bar(ThemedEnv& e, std::uint8_t orientation, int x, int y) {
  auto* b = NewControl<TThemedFrameScrollBar>(e.panel, nullptr, orientation, nullptr);
  b->SetPosition(x, y);
  if (orientation == 1)
    b->SetSize(17, 121);
  else
    b->SetSize(121, 17);
  return b;
}

TRect RectOf(TFrameControl* c) {
  const TPoint p = c->Position();
  return {p.X, p.Y, p.X + c->Width(), p.Y + c->Height()};
}

auto* Repeater(TThemedFrameScrollBar* b, std::uint8_t kind) {
  return static_cast<TThemedScrollBarRepeater*>(b->Part(kind));
}

}  // namespace

TEST(ScrollBarRounding, HalvesGoToEven) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(2.6), 3);
  EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
  EXPECT_EQ(RoundHalfEven(1e300), 2147483647);
}

TEST_F(ScrollEnv, ScrollBarThemeGeometryAndMinimumThumb) {
  auto t = MakeRef<TWin9xFrameScrollBarTheme>(styles.get());
  EXPECT_EQ(t->DefaultSize(0), (TSize{121, 17}));
  EXPECT_EQ(t->DefaultSize(1), (TSize{17, 121}));
  TRect r;
  t->ButtonRect({121, 17}, 0, r, 0);
  EXPECT_EQ(r, (TRect{0, 0, 17, 17}));
  t->ButtonRect({121, 17}, 0, r, 1);
  EXPECT_EQ(r, (TRect{104, 0, 121, 17}));
  t->ButtonRect({17, 121}, 1, r, 1);
  EXPECT_EQ(r, (TRect{0, 104, 17, 121}));
  EXPECT_TRUE(t->TrackRect({121, 17}, 0, r));
  EXPECT_EQ(r, (TRect{17, 0, 104, 17}));
  EXPECT_EQ(t->ThumbLength(r, 0, 0.25f), 22);
  EXPECT_EQ(t->ThumbLength(r, 0, 0.0f), 17);
  EXPECT_EQ(t->ThumbLength(r, 0, std::nanf("")), 17);
  EXPECT_EQ(t->ThumbLength(r, 0, 7.0f), 87);
  // A track shorter than the minimum thumb still gets the minimum.
  t->TrackRect({40, 17}, 0, r);
  EXPECT_EQ(r, (TRect{17, 0, 23, 17}));
  EXPECT_EQ(t->ThumbLength(r, 0, 0.5f), 17);
  // A bar shorter than two buttons: the buttons share it, the track is empty.
  t->TrackRect({10, 17}, 0, r);
  EXPECT_EQ(r.Right, r.Left);
}

TEST_F(ScrollEnv, ScrollBarKeysParseBackAndVisualStyleRules) {
  auto t = MakeRef<TWinXPFrameScrollBarTheme>(styles.get());
  std::u16string k;
  t->CacheKey(spThumb, spsDisabled | spsPressed, k, 0);
  EXPECT_EQ(k, u"HsbThumbDisabled");
  t->CacheKey(spFirstButton, spsPressed, k, 1);
  EXPECT_EQ(k, u"VsbFirstButtonHot");  // held but the mouse is elsewhere
  t->CacheKey(spThumb, spsPressed, k, 1);
  EXPECT_EQ(k, u"VsbThumbPressed");
  t->CacheKey(spLowerTrack, spsBarHot, k, 0);
  EXPECT_EQ(k, u"HsbLowerTrackFocused");
  t->CacheKey(9, 0, k, 0);
  EXPECT_EQ(k, u"HNormal");
  EXPECT_ANY_THROW(t->CacheKey(spThumb, 0, k, 2));
  std::uint8_t o = 9, part = 9;
  std::uint32_t state = 99;
  EXPECT_TRUE(ParseScrollBarKey(u"VsbSecondButtonPressed", o, part, state));
  EXPECT_EQ(o, 1);
  EXPECT_EQ(part, spSecondButton);
  EXPECT_EQ(state, spsPressed | spsHover);
  for (const char16_t* bad : {u"", u"X", u"HsbThumb", u"HsbThumbNormalX", u"Hsb", u"VNormal"})
    EXPECT_FALSE(ParseScrollBarKey(bad, o, part, state)) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
  EXPECT_FALSE(t->Draw(u"junk", {10, 10}));
  EXPECT_FALSE(t->Draw(u"HsbThumbNormal", {0, 10}));

  EXPECT_EQ(WinXPScrollBarElement(spFirstButton, 0, 0, false), 10);
  EXPECT_EQ(WinXPScrollBarElement(spThumb, spsDisabled, 1, false), 26);
  EXPECT_EQ(WinXPScrollBarElement(spUpperTrack, spsPressed | spsHover, 0, false), 35);
  EXPECT_EQ(WinXPScrollBarElement(spLowerTrack, spsHover, 1, false), 39);
  EXPECT_EQ(WinXPScrollBarElement(spSecondButton, spsBarHot, 0, true), 63);
  EXPECT_EQ(WinXPScrollBarElement(spUpperTrack, spsBarHot, 1, true), 47);
  EXPECT_EQ(WinXPScrollBarElement(spSizeBox, spsBarHot, 1, true), 59);
  EXPECT_EQ(WinXPScrollBarTransition(0, spsHover), 100);
  EXPECT_EQ(WinXPScrollBarTransition(spsHover, 0), 500);
  EXPECT_EQ(WinXPScrollBarTransition(spsHover, spsHover | spsPressed), 50);
  EXPECT_EQ(WinXPScrollBarTransition(spsPressed | spsHover, spsHover), 50);
  std::int32_t ms = -1;
  EXPECT_FALSE(t->TransitionTime(0, spsHover, ms));  // no visual styles here
}

TEST_F(ScrollEnv, ClassicScrollBarPicturesByPartAndState) {
  auto t = MakeRef<TWin9xFrameScrollBarTheme>(styles.get());
  TControlStyles& st = *styles;
  auto b = t->Draw(u"HsbFirstButtonNormal", {17, 17});
  ASSERT_TRUE(b);
  EXPECT_EQ(ArgbPixel(b.get(), 0, 0), st.LightColor.Value());
  EXPECT_EQ(ArgbPixel(b.get(), 1, 1), st.HighlightColor.Value());
  EXPECT_EQ(ArgbPixel(b.get(), 16, 16), st.DarkShadowColor.Value());
  int ink = 0;
  for (int y = 2; y < 15; ++y)
    for (int x = 2; x < 15; ++x) ink += ArgbPixel(b.get(), x, y) != st.FaceColor.Value();
  EXPECT_GT(ink, 3);  // the arrow
  auto p = t->Draw(u"HsbFirstButtonPressed", {17, 17});
  EXPECT_EQ(ArgbPixel(p.get(), 0, 0), st.ShadowColor.Value());
  EXPECT_EQ(ArgbPixel(p.get(), 1, 1), st.FaceColor.Value());
  const std::uint32_t track = TColor32{0xF7, 0xF7, 0xF7, 0xFF}.Value();  // face and highlight mixed
  EXPECT_EQ(ArgbPixel(t->Draw(u"VsbUpperTrackNormal", {17, 30}).get(), 5, 5), track);
  EXPECT_EQ(ArgbPixel(t->Draw(u"VsbUpperTrackPressed", {17, 30}).get(), 5, 5), st.FrameColor.Value());
  EXPECT_EQ(ArgbPixel(t->Draw(u"VsbThumbDisabled", {17, 30}).get(), 0, 0), track);
  EXPECT_EQ(ArgbPixel(t->Draw(u"VsbThumbHot", {17, 30}).get(), 0, 0), st.LightColor.Value());
  for (int s = 1; s < 4; ++s) EXPECT_TRUE(t->Draw(u"VsbSecondButtonPressed", {s, s}));
}

TEST_F(ScrollEnv, ScrollBarLaysItsPartsOutFromPositionAndPage) {
  auto* b = Bar(*this, 0, 10, 100);
  ASSERT_TRUE(b->Part(spThumb));
  EXPECT_EQ(b->Part(5), nullptr);
  b->SetPageAndPosition(0.25f, 0.5f);
  // 17 + round-half-even(65 x 0.5 = 32.5) = 49.
  EXPECT_EQ(RectOf(b->Part(spThumb)), (TRect{49, 0, 71, 17}));
  EXPECT_EQ(RectOf(b->Part(spUpperTrack)), (TRect{17, 0, 49, 17}));
  EXPECT_EQ(RectOf(b->Part(spLowerTrack)), (TRect{71, 0, 104, 17}));
  EXPECT_EQ(RectOf(b->Part(spSecondButton)), (TRect{104, 0, 121, 17}));
  int w = 0, h = 0;
  b->SetSize(200, 40);
  b->PreferredSize(w, h);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 17);
  // Too small for its parts: nothing inverted, painting still works.
  b->SetSize(20, 5);
  for (std::uint8_t k = 0; k < 5; ++k) {
    EXPECT_GE(b->Part(k)->Width(), 0);
    PaintOf(b->Part(k));
  }
  b->SetSize(0, 0);
}

TEST_F(ScrollEnv, ArrowButtonStepsAtOnceThenAfter500ThenEvery50) {
  auto* b = Bar(*this, 0, 10, 100);
  b->SetPageAndPosition(0.25f, 0.5f);
  b->SetSmallChange(0.125f);
  int scrolls = 0;
  b->OnScroll = [&](TThemedFrameScrollBar*) { ++scrolls; };
  auto* second = Repeater(b, spSecondButton);
  Mouse(mkMove, 10 + 110, 108);
  Mouse(mkDown, 10 + 110, 108);
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.625f);
  EXPECT_EQ(second->TimerInterval(), 500);
  EXPECT_EQ(second->State() & (spsPressed | spsHover), spsPressed | spsHover);
  EXPECT_NE(b->Part(spThumb)->State() & spsBarHot, 0u);
  second->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.75f);
  EXPECT_EQ(second->TimerInterval(), 50);
  second->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.875f);
  EXPECT_EQ(second->TimerInterval(), 50);
  // Off the button while held: no steps, the key says hot.
  Mouse(mkMove, 10 + 50, 150);
  second->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.875f);
  EXPECT_EQ(second->StateKey(), u"HsbSecondButtonHot");
  Mouse(mkMove, 10 + 110, 108);
  second->TimerTick();
  second->TimerTick();  // clamped at the end
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 1.0f);
  Mouse(mkUp, 10 + 110, 108);
  EXPECT_EQ(second->TimerInterval(), 0);
  second->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 1.0f);
  EXPECT_EQ(scrolls, 4);
  // The first button steps back.
  Mouse(mkDown, 15, 108);
  Mouse(mkUp, 15, 108);
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.875f);
  // Leaving the bar clears every hover and the bar-hot flags.
  Mouse(mkMove, 300, 290);
  for (std::uint8_t k = 0; k < 5; ++k) EXPECT_EQ(b->Part(k)->State(), 0u) << int(k);
  EXPECT_EQ(b->Part(spThumb)->StateKey(), u"HsbThumbNormal");
}

TEST_F(ScrollEnv, HeldTrackStopsOnceTheThumbPassesTheMouse) {
  auto* b = Bar(*this, 0, 10, 100);
  b->SetPageAndPosition(0.25f, 0.0f);
  b->SetLargeChange(0.25f);
  auto* lower = Repeater(b, spLowerTrack);
  Mouse(mkMove, 10 + 80, 108);
  Mouse(mkDown, 10 + 80, 108);
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.25f);
  lower->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.5f);
  lower->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.75f);  // the thumb now covers x = 80
  lower->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.75f);
  EXPECT_FALSE(lower->Hover());
  lower->TimerTick();
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.75f);
  Mouse(mkUp, 10 + 80, 108);
  EXPECT_EQ(lower->TimerInterval(), 0);
  // The upper track pages back.
  Mouse(mkMove, 10 + 20, 108);
  Mouse(mkDown, 10 + 20, 108);
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.5f);
  Mouse(mkUp, 10 + 20, 108);
}

TEST_F(ScrollEnv, ThumbDragSnapsBackOutsideTheToleranceAndResumes) {
  auto* b = Bar(*this, 1, 200, 10);
  b->SetPageAndPosition(0.25f, 0.0f);
  // Track 17..104 (87), thumb 22: 65 pixels of travel.
  EXPECT_EQ(RectOf(b->Part(spThumb)), (TRect{0, 17, 17, 39}));
  Mouse(mkMove, 208, 10 + 20);
  Mouse(mkDown, 208, 10 + 20);
  EXPECT_TRUE(b->Part(spThumb)->Pressed());
  Mouse(mkMove, 208, 10 + 20 + 13);
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.2f);
  Mouse(mkMove, 208 + 200, 10 + 20 + 13);  // 200 across: back to the start
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.0f);
  Mouse(mkMove, 208 + 100, 10 + 20 + 26);  // within 128 again
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.4f);
  Mouse(mkMove, 208, 10 + 104 + 63);  // past the end but inside 64 along: clamped
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 1.0f);
  Mouse(mkMove, 208, 10 + 104 + 70);  // beyond 64 along: snaps back
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.0f);
  Mouse(mkUp, 208, 30);
  EXPECT_FALSE(b->Part(spThumb)->Pressed());
  // A thumb as long as its track cannot move.
  b->SetPageAndPosition(1.0f, 0.0f);
  Mouse(mkMove, 208, 40);
  Mouse(mkDown, 208, 40);
  Mouse(mkMove, 208, 90);
  EXPECT_FLOAT_EQ(b->ScrollPosition(), 0.0f);
  Mouse(mkUp, 208, 90);
}

TEST_F(ScrollEnv, DisabledScrollBarShowsItAndIgnoresTheMouse) {
  auto* b = Bar(*this, 0, 10, 100);
  b->SetPageAndPosition(0.25f, 0.5f);
  Mouse(mkMove, 10 + 110, 108);
  Mouse(mkDown, 10 + 110, 108);
  b->SetEnabled(false);  // while held: the hold ends
  EXPECT_EQ(Repeater(b, spSecondButton)->TimerInterval(), 0);
  Mouse(mkUp, 10 + 110, 108);
  const float pos = b->ScrollPosition();
  Mouse(mkDown, 10 + 110, 108);
  Mouse(mkUp, 10 + 110, 108);
  EXPECT_FLOAT_EQ(b->ScrollPosition(), pos);
  EXPECT_EQ(b->Part(spThumb)->StateKey(), u"HsbThumbDisabled");
  b->SetEnabled(true);
  EXPECT_EQ(b->Part(spThumb)->StateKey(), u"HsbThumbNormal");
  // Freed while an arrow is held: the timer goes with it.
  Mouse(mkDown, 10 + 110, 108);
  b->DeferredFree();
  ProcessDeferredFrees();
  Mouse(mkUp, 10 + 110, 108);
}

TEST(ThemedScrollBarHook, ChainsToThePreviousAllocatorWithoutATheme) {
  // The start-up modules may have installed it already.
  const bool installed = AllocFrameScrollBar == &AllocThemedFrameScrollBar;
  if (installed) FiniThemedScrollBar();
  const auto before = AllocFrameScrollBar;
  InitThemedScrollBar();
  auto styles = MakeRef<TControlStyles>();
  TRootControl* root = NewControl<TRootControl>();
  EXPECT_ANY_THROW(AllocFrameScrollBar(root, styles.get(), 1));  // the asserting default
  TFrameScrollBarTheme* theme = MakeWinXPFrameScrollBarTheme(styles.get());
  auto* bar = dynamic_cast<TThemedFrameScrollBar*>(AllocFrameScrollBar(root, styles.get(), 1));
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->Theme(), theme);
  EXPECT_TRUE(bar->Vertical());
  root->Free();
  ProcessDeferredFrees();
  FiniThemedScrollBar();
  EXPECT_EQ(AllocFrameScrollBar, before);
  if (installed) InitThemedScrollBar();
}
