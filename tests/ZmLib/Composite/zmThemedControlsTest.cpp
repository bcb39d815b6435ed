#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ZmLib/Application2/zmTimer2.h"
#include "ZmLib/Composite/winProgressBarTheme.h"
#include "ZmLib/Composite/winSurface.h"
#include "ZmLib/Composite/zmFrameBevel.h"
#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmFrameImage.h"
#include "ZmLib/Composite/zmFramePanel.h"
#include "ZmLib/Composite/zmThemedBevel.h"
#include "ZmLib/Composite/zmThemedControlImages.h"
#include "ZmLib/Composite/zmThemedProgressBarStdTheme.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Composite/ThemedTestSupport.h"
#include "tests/support/FixedText.h"

using namespace zm;

namespace {

using themedtest::gNow;
using themedtest::ManualClock;
using themedtest::TManualRoot;
using zmtest::TFixedText;
// Every character 6 pixels wide, 10 high with ascent 8.
constexpr auto* FixedText = &zmtest::FixedText<>;

std::vector<std::pair<std::u16string, TPoint>> gDrawn;
void RecordText(TDrawSurface*, TTextElement* e, std::int32_t x, std::int32_t y) {
  gDrawn.push_back({static_cast<TFixedText*>(e)->Text, {x, y}});
}

struct Env : ::testing::Test {
  TRootControl* root = NewControl<TManualRoot>();
  // Themes register with their styles: each test has styles of its own.
  TRef<TControlStyles> styles = MakeRef<TControlStyles>();
  TFrameControl* box = NewControl<TFrameCaption>(root, styles.get());
  zm::THookScope<TControlClockProc> clock{ControlClockHook};
  zm::THookScope<TCreateTextElementProc> captionText{CreateCaptionTextHook};
  zm::THookScope<TDrawTextElementProc> drawText{DrawTextElementHook};
  Env() {
    root->SetSize(300, 200);
    box->SetSize(300, 200);
    clock.Set(&ManualClock);
    gNow = 1000;
    captionText.Set(FixedText);
    drawText.Set(&RecordText);
    gDrawn.clear();
  }
  ~Env() override {
    root->Free();
    ProcessDeferredFrees();
  }
};

TRef<TWinSurface> PaintOf(TFrameControl* c) {
  auto s = MakeRef<TWinSurface>(std::max(c->Width(), 1), std::max(c->Height(), 1));
  s->Invalidate({0, 0, s->Width(), s->Height()});
  s->FillRect({0, 0, s->Width(), s->Height()}, {1, 2, 3, 255});
  c->Paint(s.get());
  return s;
}

TRef<TDirectBitmap> Solid(int w, int h, TColor32 c, const char* format = PF_A8R8G8B8) {
  auto b = MakeRef<TDirectBitmap>(w, PixelFormatByName(format), h);
  b->FillRect({0, 0, w, h}, c);
  return b;
}

TColor24 C24(TColor32 c) { return {c.B, c.G, c.R}; }
const TColor24 kBack{1, 2, 3};

}  // namespace

// ---- State images -----------------------------------------------------------------------

namespace {
struct Part : TThemedControlAnimatedPart {
  using TThemedControlAnimatedPart::TThemedControlAnimatedPart;
  int creates = 0, finished = 0;
  void CreateImage(const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap) override {
    ++creates;
    if (key.empty()) return;  // a state without picture
    offset = {1, 1};
    bitmap = Solid(4, 4, key == u"a" ? TColor32{0, 0, 200, 255} : TColor32{200, 0, 0, 255});
  }
  void AnimationFinished() override { ++finished; }
};
}  // namespace

TEST_F(Env, StateImagesAreMadeOnceAndSwitchAtOnceWithoutDuration) {
  auto* p = NewControl<Part>(root);
  p->SetSize(8, 8);
  const int base = p->creates;
  p->SetStateAnimated(u"a", 0);
  p->Images()->GetImage(u"a");
  EXPECT_EQ(p->creates, base + 1);
  EXPECT_FALSE(p->Images()->Animating());
  EXPECT_EQ(p->finished, 2);  // the rebuild after the resize, then "a"
  auto s = PaintOf(p);
  EXPECT_EQ(s->Pixel(1, 1), (TColor24{0, 0, 200}));
  EXPECT_EQ(s->Pixel(0, 0), kBack);
  TRect r;
  p->GetBounds(r);
  EXPECT_EQ(r, (TRect{1, 1, 5, 5}));
  // A state without a picture shows nothing and does not fade.
  p->SetStateAnimated(u"", 100);
  EXPECT_FALSE(p->Images()->Animating());
  EXPECT_EQ(PaintOf(p)->Pixel(1, 1), kBack);
  p->GetBounds(r);
  EXPECT_EQ(r, TRect{});
}

TEST_F(Env, AFadeInterruptedStartsFromTheBlendAndEndsOnTheClock) {
  auto* p = NewControl<Part>(root);
  p->SetSize(8, 8);
  p->SetStateAnimated(u"a", 0);
  p->SetStateAnimated(u"b", 100);
  ASSERT_TRUE(p->Images()->Animating());
  gNow += 50;
  p->NotifyRefresh();
  EXPECT_NEAR(p->Images()->Progress(), 0.5f, 1e-6);
  const TColor24 half = PaintOf(p)->Pixel(2, 2);
  EXPECT_NEAR(half.R, 100, 2);
  EXPECT_NEAR(half.B, 100, 2);
  // Back to "a" from the half-way blend: the first step is not pure "b".
  p->SetStateAnimated(u"a", 100);
  gNow += 10;
  p->NotifyRefresh();
  const TColor24 c = PaintOf(p)->Pixel(2, 2);
  EXPECT_NEAR(c.R, 110, 3);
  EXPECT_NEAR(c.B, 90, 3);
  const int finished = p->finished;
  gNow += 95;
  p->NotifyRefresh();
  EXPECT_FALSE(p->Images()->Animating());
  EXPECT_EQ(p->finished, finished + 1);
  EXPECT_EQ(PaintOf(p)->Pixel(2, 2), (TColor24{0, 0, 200}));
  // Held, the end of the time keeps the fade running.
  p->Images()->SetState(u"b", 10, true);
  gNow += 50;
  p->Images()->Tick();
  EXPECT_TRUE(p->Images()->Animating());
  EXPECT_EQ(p->Images()->Progress(), 1.0f);
  // A resize drops the cache and builds the state again.
  p->SetSize(9, 9);
  EXPECT_FALSE(p->Images()->Animating());
  EXPECT_EQ(p->Images()->Count(), 1);
}

TEST_F(Env, ImagesWithoutCallbacksAssert) {
  auto images = MakeRef<TThemedControlImages>();
  EXPECT_ANY_THROW(images->GetImage(u"x"));
  images->OnCreateImage = [](const std::u16string&, TPoint&, TRef<TDirectBitmap>&) {};
  images->OnStart = images->OnStop = [] {};
  EXPECT_ANY_THROW(images->SetState(u"x", 0, false));
  images->OnFinished = [] {};
  images->SetState(u"x", 0, false);
  EXPECT_EQ(images->CurrentFrame().Bitmap, nullptr);
}

// ---- Caption, panel, image --------------------------------------------------------------

TEST_F(Env, CaptionShortensWithAnEllipsisAndPlacesChildren) {
  auto* c = NewControl<TFrameCaption>(root);
  c->SetSize(40, 20);
  c->SetShorten(true);
  c->SetText(u"&&Abcdefghij");  // "&Abcdefghij": 66 pixels
  EXPECT_EQ(c->Text(), u"&Abcdefghij");
  ASSERT_EQ(c->DisplayMode(), cdShortened);
  // 40 - 6 for the ellipsis leaves 34: five characters.
  EXPECT_EQ(c->ShortenedText(), u"&Abcd");
  EXPECT_EQ(c->TextWidth(), 36);
  EXPECT_EQ(c->TextPosition(), (TPoint{0, 5}));
  EXPECT_EQ(c->Baseline(), 13);
  c->Paint(nullptr);
  auto s = MakeRef<TWinSurface>(40, 20);
  c->Paint(s.get());
  ASSERT_EQ(gDrawn.size(), 2u);
  EXPECT_EQ(gDrawn[0].first, u"&Abcd");
  EXPECT_EQ(gDrawn[1].first, u"\u2026");
  EXPECT_EQ(gDrawn[1].second, (TPoint{30, 5}));
  TRect r;
  c->GetBounds(r);
  EXPECT_EQ(r, (TRect{0, 0, 40, 20}));
  // Right to left: the ellipsis first.
  gDrawn.clear();
  c->SetRightToLeft(true);
  c->Paint(s.get());
  EXPECT_EQ(gDrawn[0].first, u"\u2026");
  EXPECT_EQ(c->TextPosition().X, 4);  // automatic alignment is right now

  // Right-aligned with a child: the child goes left of the text.
  auto* d = NewControl<TFrameCaption>(root);
  d->SetSize(100, 20);
  auto* child = NewControl<TFrameControl>(d);
  child->SetSize(10, 10);
  d->SetText(u"abc");
  d->SetAlignment(caRight);
  EXPECT_EQ(d->DisplayMode(), cdFull);
  EXPECT_EQ(d->TextPosition().X, 82);
  EXPECT_EQ(child->Position(), (TPoint{68, 5}));
  d->SetAlignment(caLeft);
  EXPECT_EQ(child->Position(), (TPoint{22, 5}));
  EXPECT_FALSE(d->HitTest(5, 6));  // mouse transparent
  d->MouseTransparent = false;
  EXPECT_TRUE(d->HitTest(5, 6));
  EXPECT_FALSE(d->HitTest(30, 6));
  // No room left: nothing shown, nothing hit; bad alignment is refused.
  d->SetSize(8, 20);
  EXPECT_EQ(d->DisplayMode(), cdNone);
  EXPECT_FALSE(d->HitTest(1, 6));
  EXPECT_ANY_THROW(d->SetAlignment(4));
  d->SetSize(-5, -5);
  EXPECT_EQ(d->DisplayMode(), cdNone);
}

TEST_F(Env, CaptionClicksOnALeftReleaseInside) {
  auto* c = NewControl<TFrameCaption>(root);
  c->SetSize(50, 20);
  int clicks = 0;
  c->OnClick = [&](TFrameControl*) { ++clicks; };
  TMouseData m;
  m.Kind = mkUp;
  m.Buttons = mbLeft;
  m.X = 3, m.Y = 3;
  c->MouseEvent(m);
  m.X = 60;
  c->MouseEvent(m);
  m.X = 3, m.Buttons = mbRight;
  c->MouseEvent(m);
  EXPECT_EQ(clicks, 1);
}

TEST_F(Env, PanelHitTestFollowsTheBackgroundPictureAndCaptionIsAligned) {
  auto* p = CreateFramePanelHook(root);
  p->SetSize(20, 20);
  EXPECT_EQ(p->HitAlpha(5, 5), 255);
  EXPECT_EQ(p->HitAlpha(25, 5), 0);
  p->SetBackground(MakeRef<TBitmapBackground>(Solid(8, 6, {9, 9, 9, 255}, PF_R8G8B8).get()).Detach());
  EXPECT_EQ(p->HitAlpha(7, 5), 255);
  EXPECT_EQ(p->HitAlpha(8, 5), 0);
  EXPECT_EQ(p->HitAlpha(-1, 0), 0);
  EXPECT_FALSE(p->HitTest(10, 10));
  auto alpha = Solid(4, 4, {9, 9, 9, 77});
  p->SetBackground(MakeRef<TBitmapBackground>(alpha.get()).Detach());
  EXPECT_EQ(p->HitAlpha(1, 1), 77);
  p->SetBackground(nullptr);
  EXPECT_EQ(p->HitAlpha(1, 1), 255);
  p->TakesMouse = false;
  EXPECT_FALSE(p->HitTest(1, 1));
  p->SetSize(50, 20);
  p->SetCaption(u"abc");  // 18 x 10
  EXPECT_EQ(p->CaptionPosition(), (TPoint{16, 5}));
  p->SetAlignment(paRight);
  EXPECT_EQ(p->CaptionPosition(), (TPoint{32, 5}));
  p->SetSize(10, 20);
  p->SetAlignment(0);
  EXPECT_EQ(p->CaptionPosition().X, 0);  // never left of 0
  EXPECT_EQ(p->PreferredWidth(), 18);
  p->SetBackground(MakeRef<TColorBackground>(TColor32{0, 200, 0, 255}).Detach());
  EXPECT_EQ(PaintOf(p)->Pixel(9, 19), (TColor24{0, 200, 0}));
}

TEST_F(Env, ImageDrawsPlainTransformedOrGreyedAndHitsByAlpha) {
  auto* im = CreateFrameImageHook(root);
  im->SetSize(10, 10);
  EXPECT_EQ(PaintOf(im)->Pixel(0, 0), kBack);  // no bitmap
  auto pic = Solid(4, 4, {0, 0, 255, 255});
  pic->Row32(0)[3] = TColor32{0, 0, 255, 0}.Value();
  im->SetBitmap(pic.get(), false);
  auto s = PaintOf(im);
  EXPECT_EQ(s->Pixel(0, 0), (TColor24{0, 0, 255}));
  EXPECT_EQ(s->Pixel(3, 0), kBack);
  EXPECT_EQ(s->Pixel(5, 5), kBack);
  // Greyed: every alpha halved.
  im->SetEnabled(false);
  EXPECT_NEAR(PaintOf(im)->Pixel(0, 0).R, 128, 2);
  im->NoDisabledLook = true;
  EXPECT_EQ(PaintOf(im)->Pixel(0, 0).R, 255);
  // Scaled by two and moved by (2, 0).
  const float m[6] = {2, 0, 2, 0, 0, 2};
  im->SetTransform(m, false);
  im->SetDrawingMode(imTransformed);
  s = PaintOf(im);
  EXPECT_EQ(s->Pixel(1, 1), kBack);
  EXPECT_EQ(s->Pixel(2, 0), (TColor24{0, 0, 255}));
  EXPECT_EQ(s->Pixel(9, 7), (TColor24{0, 0, 255}));
  // Hit test by threshold.
  EXPECT_FALSE(im->HitTest(3, 3));  // 256: never
  im->HitThreshold = 0;
  EXPECT_TRUE(im->HitTest(0, 0));
  im->HitThreshold = 128;
  EXPECT_TRUE(im->HitTest(4, 4));
  EXPECT_FALSE(im->HitTest(1, 1));
  EXPECT_FALSE(im->HitTest(9, 0));  // the transparent corner
  im->SetBackgroundColor({0, 0, 0, 200});
  EXPECT_TRUE(im->HitTest(1, 1));
  // A transform that cannot be inverted draws only the background.
  const float flat[6] = {0, 0, 1, 1, 1, 1};
  im->SetTransform(flat, true);
  EXPECT_EQ(PaintOf(im)->Pixel(5, 5), (TColor24{0, 0, 0}));
  im->SetDrawingMode(7);
  EXPECT_EQ(im->DrawingMode(), imNone);
  im->SetBitmap(nullptr, true);
  PaintOf(im);
}

// ---- Bevels -----------------------------------------------------------------------------

TEST_F(Env, SunkenBevelWrapsItsControlAndFollowsItOnlyWhenAsked) {
  auto theme = MakeRef<TBevelTheme>(DefaultControlStyles());
  auto* b = NewControl<TThemedBevel>(root, theme.get());
  auto* c = NewControl<TFrameControl>(root);
  c->SetSize(100, 20);
  b->SetStyle(bsSunken);
  b->SetAutoSize(true);
  b->SetControl(c);
  EXPECT_EQ(b->Width(), 104);
  EXPECT_EQ(b->Height(), 24);
  EXPECT_EQ(c->Position(), (TPoint{2, 2}));
  EXPECT_EQ(c->Width(), 100);
  TPoint local;
  EXPECT_EQ(root->FindControlAt(1, 1, local), root);  // the bevel is never hit itself
  // The control grows: the bevel grows round it.
  c->SetSize(50, 30);
  EXPECT_EQ(b->Width(), 54);
  EXPECT_EQ(b->Height(), 34);
  // The bevel is resized: the control is fitted inside.
  b->SetSize(30, 10);
  EXPECT_EQ(c->Width(), 26);
  EXPECT_EQ(c->Height(), 6);
  c->SetPosition(40, 40);
  EXPECT_EQ(b->Position(), (TPoint{0, 0}));
  b->Follow = true;
  c->SetPosition(50, 60);
  EXPECT_EQ(b->Position(), (TPoint{48, 58}));
  // The control goes away; the bevel forgets it.
  FreeControl(c);
  ProcessDeferredFrees();
  EXPECT_EQ(b->Control(), nullptr);
  b->SetSize(20, 20);
  b->SetControl(b);  // itself: refused
  EXPECT_EQ(b->Control(), nullptr);
}

TEST_F(Env, BevelGeometryAndClassicDrawing) {
  auto theme = MakeRef<TBevelTheme>(DefaultControlStyles());
  TControlStyles* st = DefaultControlStyles();
  TRect r;
  theme->ClientRect(0, bsSunken, r, {30, 20});
  EXPECT_EQ(r, (TRect{0, 0, 30, 20}));
  theme->ClientRect(beLeft | beBottom, bsFlat, r, {30, 20});
  EXPECT_EQ(r, (TRect{1, 0, 30, 19}));
  theme->ClientRect(beAll, bsDefault, r, {30, 20});  // etched: 2
  EXPECT_EQ(r, (TRect{2, 2, 28, 18}));
  TSize outer;
  TPoint off;
  theme->OuterSize(beTop, bsFlat, outer, off, {-5, 7});
  EXPECT_EQ(outer, (TSize{0, 8}));
  EXPECT_EQ(off, (TPoint{0, 1}));
  auto def = NewControl<TDefFrameBevel>(root);
  def->SetEdges(beAll);
  def->ClientRect({7, 9}, r);
  EXPECT_EQ(r, (TRect{0, 0, 7, 9}));

  // A two-pixel divider on the left: shadow then highlight, nothing else.
  auto* b = NewControl<TThemedBevel>(root, theme.get());
  b->SetEdges(beLeft);
  b->SetSize(2, 10);
  auto s = PaintOf(b);
  EXPECT_EQ(s->Pixel(0, 5), C24(st->ShadowColor));
  EXPECT_EQ(s->Pixel(1, 5), C24(st->HighlightColor));
  // Sunken, all edges, 8 x 6: outer and inner rings, the window colour inside.
  b->SetEdges(beAll);
  b->SetStyle(bsSunken);
  b->SetSize(8, 6);
  s = PaintOf(b);
  EXPECT_EQ(s->Pixel(0, 0), C24(st->ShadowColor));
  EXPECT_EQ(s->Pixel(7, 5), C24(st->HighlightColor));
  EXPECT_EQ(s->Pixel(1, 1), C24(st->DarkShadowColor));
  EXPECT_EQ(s->Pixel(6, 4), C24(st->LightColor));
  EXPECT_EQ(s->Pixel(3, 3), C24(st->WindowColor));
  b->SetNoFill(true);
  EXPECT_EQ(PaintOf(b)->Pixel(3, 3), kBack);
  b->SetStyle(bsFlat);
  s = PaintOf(b);
  EXPECT_EQ(s->Pixel(0, 3), C24(st->BorderColor));
  EXPECT_EQ(s->Pixel(1, 3), kBack);
  b->SetSize(0, 0);
  PaintOf(b);
}

TEST_F(Env, ThemedBevelFactoryFindsOrMakesItsTheme) {
  TFrameBevel* a = AllocFrameBevel(box);
  TFrameBevel* b = AllocFrameBevel(box);
  auto* ta = dynamic_cast<TThemedBevel*>(a);
  ASSERT_NE(ta, nullptr);
  EXPECT_EQ(ta->Theme(), dynamic_cast<TThemedBevel*>(b)->Theme());
  // No visual styles here: the visual-style theme is sunken and draws the classic way.
  EXPECT_EQ(ta->Theme()->DefaultStyle(), bsSunken);
  TRect r;
  a->SetStyle(bsEtched);
  a->ClientRect({10, 10}, r);
  EXPECT_EQ(r, (TRect{2, 2, 8, 8}));
}

// ---- Progress bar -----------------------------------------------------------------------

namespace {
struct Bar {
  TRef<TRefreshNotifier> notifier = MakeRef<TRefreshNotifier>(nullptr);
  TThemedFrameProgressBar* bar;
  explicit Bar(TFrameControl* box) {
    auto* theme = AllocProgressBarTheme(box->GetStyles());
    theme->SetNotifier(notifier.get());
    bar = static_cast<TThemedFrameProgressBar*>(_AllocFrameProgressBar(box, nullptr));
  }
  void Tick() { notifier->Fire(TRefreshNotifier::kRefreshEvent); }
  // The filled columns of the middle row inside the bar.
  std::string Row() {
    auto s = PaintOf(bar);
    std::string out;
    const TColor24 face = C24(bar->GetStyles()->FaceColor);
    for (int x = 2; x < bar->Width() - 2; ++x) out += s->Pixel(x, bar->Height() / 2) == face ? '.' : '#';
    return out;
  }
};
std::string Blocks(int shown, int total, int w) {
  std::string s;
  for (int i = 0; i < total; ++i) s += std::string(6, i < shown ? '#' : '.') + "..";
  s.resize(std::size_t(w), '.');
  return s;
}
}  // namespace

TEST_F(Env, ProgressBlocksFollowTheValueAndStateColours) {
  Bar b(box);
  EXPECT_EQ(b.bar->Width(), 152);
  EXPECT_EQ(b.bar->Height(), 17);
  auto blocks = TProgressBlocks::For(152, 17);
  EXPECT_EQ(blocks.Width, 6);
  EXPECT_EQ(blocks.Count, 18);
  b.bar->SetBarState(2);
  b.bar->SetValue(0.5f);
  gNow += 200;
  EXPECT_EQ(b.Row(), Blocks(9, 18, 148));
  auto s = PaintOf(b.bar);
  EXPECT_EQ(s->Pixel(2, 8), (TColor24{0, 255, 255}));
  EXPECT_EQ(s->Pixel(0, 0), C24(styles->ShadowColor));
  EXPECT_EQ(s->Pixel(151, 16), C24(styles->HighlightColor));
  b.bar->SetValue(7.0f);
  gNow += 200;
  EXPECT_EQ(b.Row(), Blocks(18, 18, 148));
  b.bar->SetValue(-3.0f);
  gNow += 200;
  EXPECT_EQ(b.Row(), std::string(148, '.'));
  // Smooth states fill pixels.
  b.bar->SetBarState(3);
  b.bar->SetValue(0.25f);
  gNow += 200;
  EXPECT_EQ(b.Row(), std::string(37, '#') + std::string(111, '.'));
  EXPECT_EQ(PaintOf(b.bar)->Pixel(2, 8), (TColor24{255, 0, 0}));
  // Too low for blocks; too small for anything inside.
  b.bar->SetBarState(0);
  b.bar->SetSize(100, 8);
  b.bar->SetValue(1);
  gNow += 200;
  EXPECT_EQ(b.Row().find('#'), std::string::npos);
  b.bar->SetSize(3, 3);
  PaintOf(b.bar);
  b.bar->SetSize(-4, -4);
  PaintOf(b.bar);
  EXPECT_ANY_THROW(b.bar->SetBarState(5));
  EXPECT_EQ(b.bar->BarState(), 0);
  // Without a theme the bar takes changes and draws nothing.
  auto* bare = NewControl<TThemedFrameProgressBar>(box, nullptr, nullptr);
  bare->SetSize(20, 20);
  bare->SetValue(0.5f);
  bare->SetMarquee(true);
  bare->SetBarState(9);
  EXPECT_EQ(PaintOf(bare)->Pixel(10, 10), kBack);
}

// Each state in its own colour (B, G, R): 1 red and 2 yellow in blocks, 3
// blue and 4 red filled smooth.
TEST_F(Env, ProgressStatesHaveTheirColoursAndShapes) {
  Bar b(box);
  b.bar->SetValue(0.5f);
  gNow += 200;
  const struct {
    std::uint8_t State;
    TColor24 Colour;
    bool Smooth;
  } states[] = {{1, {0, 0, 255}, false}, {2, {0, 255, 255}, false}, {3, {255, 0, 0}, true}, {4, {0, 0, 255}, true}};
  for (const auto& st : states) {
    SCOPED_TRACE(int(st.State));
    b.bar->SetBarState(st.State);
    EXPECT_EQ(b.Row(), st.Smooth ? std::string(74, '#') + std::string(74, '.') : Blocks(9, 18, 148));
    EXPECT_EQ(PaintOf(b.bar)->Pixel(2, 8), st.Colour);
  }
}

TEST_F(Env, ProgressValueAnimatesAndTheThemeListensOnlyWithDrawers) {
  Bar b(box);
  auto* theme = styles->FindTheme<TProgressBarTheme>();
  auto* d = static_cast<TStdDrawer*>(b.bar->Drawer());
  b.bar->SetValue(1);
  EXPECT_TRUE(d->IsAnimating());
  gNow += 50;
  EXPECT_NEAR(d->ShownValue(), 0.25f, 1e-6);
  // A new target half-way starts from the value shown.
  b.bar->SetValue(0);
  gNow += 100;
  EXPECT_NEAR(d->ShownValue(), 0.125f, 1e-6);
  TRect r;
  b.bar->GetBounds(r);
  b.Tick();
  EXPECT_GT(b.bar->InvalidationCount(), 0);
  gNow += 100;
  b.Tick();
  EXPECT_FALSE(d->IsAnimating());
  EXPECT_EQ(d->ShownValue(), 0.0f);
  b.bar->GetBounds(r);
  b.Tick();
  EXPECT_EQ(b.bar->InvalidationCount(), 0);  // nothing moves, no repaint
  EXPECT_TRUE(theme->Listening());
  EXPECT_EQ(theme->DrawerCount(), 1);
  FreeControl(b.bar);
  ProcessDeferredFrees();
  EXPECT_EQ(theme->DrawerCount(), 0);
  b.Tick();
  EXPECT_FALSE(theme->Listening());
  EXPECT_EQ(b.notifier->ListenerCount(), 0);
  EXPECT_ANY_THROW(theme->RemoveDrawer(d));
}

TEST_F(Env, MarqueeRunsFiveBlocksAndKeepsItsPhaseWhenTurned) {
  Bar b(box);
  auto* d = static_cast<TStdDrawer*>(b.bar->Drawer());
  auto* a = d->Animator();
  b.bar->SetBarState(1);
  b.bar->SetMarquee(true);
  EXPECT_EQ(a->CycleLength, (18 + 5) * 8);
  EXPECT_ANY_THROW(a->ShownValue(gNow));
  gNow += 200;  // 40 pixels: blocks 0 to 4
  EXPECT_EQ(a->MarqueeOffset(gNow), 40);
  EXPECT_EQ(b.Row(), Blocks(5, 18, 148));
  gNow += 5;  // 41 pixels: blocks 1 to 5
  EXPECT_EQ(b.Row(), "........" + Blocks(5, 17, 140));
  // Smooth: a band of 40 pixels ending at the offset.
  b.bar->SetBarState(4);
  EXPECT_EQ(b.Row(), "." + std::string(40, '#') + std::string(107, '.'));
  const int before = a->MarqueeOffset(gNow);
  b.bar->SetReversed(true);
  EXPECT_EQ(a->MarqueeOffset(gNow), before);
  gNow += 5;
  EXPECT_EQ(a->MarqueeOffset(gNow), before - 1);
  b.bar->SetMarquee(false);
  EXPECT_ANY_THROW(a->MarqueeOffset(gNow));
  EXPECT_FALSE(d->IsAnimating());
}

TEST_F(Env, VisualStyleProgressThemeFallsBackToTheStandardPicture) {
  Bar std(box);
  std.bar->SetValue(0.5f);
  auto styles2 = MakeRef<TControlStyles>();
  auto* box2 = NewControl<TFrameCaption>(root, styles2.get());
  auto* theme = MakeWinProgressBarTheme(styles2.get());
  theme->SetNotifier(std.notifier.get());
  auto* win = static_cast<TThemedFrameProgressBar*>(AllocThemedFrameProgressBar(box2, nullptr));
  ASSERT_NE(dynamic_cast<TWinProgressBarDrawer*>(win->Drawer()), nullptr);
  win->SetValue(0.5f);
  gNow += 500;
  auto a = PaintOf(std.bar), b = PaintOf(win);
  for (int x = 0; x < 152; x += 3) EXPECT_EQ(a->Pixel(x, 8), b->Pixel(x, 8)) << x;
  EXPECT_FALSE(static_cast<TWinProgressBarDrawer*>(win->Drawer())->HasCachedPicture());
  FreeControl(box2);
  ProcessDeferredFrees();
}

TEST(FrameCaptionText, DrawsTheTextOnlyIntoDirtyCellsOfTheSurface) {
  TRootControl* root = NewControl<TRootControl>();
  root->SetSize(64, 24);
  auto* button = NewControl<TFrameButton>(root);
  button->SetSize(64, 24);
  button->SetText(u"&Hello");
  TFrameCaption* c = button->Caption();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(button->Caption(), c);
  EXPECT_TRUE(c->Shorten());
  c->SetSize(64, 24);
  EXPECT_EQ(c->Text(), u"Hello");
  ASSERT_EQ(c->DisplayMode(), cdFull);
  auto count = [&](TWinSurface* s, const TRect& in) {
    int inside = 0, outside = 0;
    for (int y = 0; y < s->Height(); ++y)
      for (int x = 0; x < s->Width(); ++x)
        if (s->Pixel(x, y) != TColor24{255, 255, 255}) {
          bool within = x >= in.Left && x < in.Right && y >= in.Top && y < in.Bottom;
          (within ? inside : outside)++;
        }
    return std::pair{inside, outside};
  };
  auto s = MakeRef<TWinSurface>(64, 24);
  s->Invalidate({0, 0, 64, 24});
  s->FillRect({0, 0, 64, 24}, {255, 255, 255, 255});
  c->Paint(s.get());
  const TPoint p = c->TextPosition();
  auto [in, out] = count(s.get(), {p.X - 2, 0, p.X + c->TextWidth() + 2, 24});
  EXPECT_GT(in, 5);
  EXPECT_EQ(out, 0);
  // Only the right half is dirty: the left half stays white.
  c->SetAlignment(caCenter);
  ASSERT_LT(c->TextPosition().X, 28);
  ASSERT_GT(c->TextPosition().X + c->TextWidth(), 36);
  auto t = MakeRef<TWinSurface>(64, 24);
  t->Invalidate({0, 0, 64, 24});
  t->FillRect({0, 0, 64, 24}, {255, 255, 255, 255});
  t->CollectPaintRects();
  t->Invalidate({32, 0, 64, 24});
  t->SetPaintClip({0, 0, 64, 24});
  c->Paint(t.get());
  auto [right, left] = count(t.get(), {32, 0, 64, 24});
  EXPECT_GT(right, 0);
  EXPECT_EQ(left, 0);
  root->Free();
  ProcessDeferredFrees();
}

namespace {

// The box of the dark pixels of a surface (right and bottom exclusive),
// empty when there are none.
TRect InkBox(TWinSurface* s) {
  TRect box{s->Width(), s->Height(), 0, 0};
  for (int y = 0; y < s->Height(); ++y)
    for (int x = 0; x < s->Width(); ++x) {
      const TColor24 p = s->Pixel(x, y);
      if (p.R + p.G + p.B >= 3 * 96) continue;
      box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
    }
  return box;
}

// The longest run of dark pixels in one row.
int DarkRun(TWinSurface* s, int y) {
  int best = 0, run = 0;
  for (int x = 0; x < s->Width(); ++x) {
    const TColor24 p = s->Pixel(x, y);
    run = p.R + p.G + p.B < 3 * 96 ? run + 1 : 0;
    best = std::max(best, run);
  }
  return best;
}

}  // namespace

// A caption is drawn in its own font where its layout put it: the ink of
// "Hello World" in Arial 24 fills the box the layout reserved, within a few
// pixels, on the caption's background colour; underline and strike-out are
// drawn as the style asks, also under blanks.
TEST(FrameCaptionText, DrawsInItsFontWhereItsLayoutPutsIt) {
  TRootControl* root = NewControl<TRootControl>();
  root->SetSize(200, 60);
  auto* c = NewControl<TFrameCaption>(root);
  c->SetSize(200, 60);
  c->SetAlignment(caLeft);
  const TColor24 yellow{0, 255, 255};
  TFontParams font = MakeFontParams(u"Arial", 0, false, 24, {0, 0, 0}, yellow);
  c->SetFont(font, fpName | fpSize | fpStyle | fpColors);
  c->SetText(u"Hello World");
  ASSERT_EQ(c->DisplayMode(), cdFull);
  auto paint = [&] {
    auto s = MakeRef<TWinSurface>(200, 60);
    s->Invalidate({0, 0, 200, 60});
    s->FillRect({0, 0, 200, 60}, {255, 255, 255, 255});
    c->Paint(s.get());
    return s;
  };
  const TPoint at = c->TextPosition();
  const std::int32_t baseline = c->Baseline();
  const std::int32_t height = c->PreferredHeight();
  ASSERT_GT(c->TextWidth(), 100);
  ASSERT_GT(height, 30);

  auto s = paint();
  const TRect ink = InkBox(s.get());
  EXPECT_NEAR(ink.Left, at.X, 4);
  EXPECT_NEAR(ink.Right, at.X + c->TextWidth(), 4);
  EXPECT_NEAR(ink.Bottom, baseline, 2);  // no descenders
  EXPECT_GE(ink.Top, at.Y);
  EXPECT_GE(ink.Bottom - ink.Top, height * 6 / 10);  // capitals of a 32-pixel em
  // The text's box is on the background colour; outside it nothing changed.
  EXPECT_EQ(s->Pixel(at.X + 1, at.Y + 1), yellow);
  EXPECT_EQ(s->Pixel(at.X + 1, at.Y + height + 1), (TColor24{255, 255, 255}));
  // Plain text leaves no bar: no row is dark across most of the text, and
  // nothing below the baseline.
  for (int y = 0; y < 60; ++y) EXPECT_LT(DarkRun(s.get(), y), c->TextWidth() * 8 / 10) << y;

  // Underlined: a bar under the baseline across the text.
  font.Style = fsUnderline;
  c->SetFont(font, fpName | fpSize | fpStyle | fpColors);
  s = paint();
  int under = 0;
  for (int y = baseline; y < baseline + 6; ++y) under = std::max(under, DarkRun(s.get(), y));
  EXPECT_GE(under, c->TextWidth() * 9 / 10);
  // Struck out: a bar above the baseline across the text.
  font.Style = fsStrikeOut;
  c->SetFont(font, fpName | fpSize | fpStyle | fpColors);
  s = paint();
  int struck = 0;
  for (int y = at.Y; y < baseline - 3; ++y) struck = std::max(struck, DarkRun(s.get(), y));
  EXPECT_GE(struck, c->TextWidth() * 9 / 10);

  // Transparent text leaves what was there around its ink.
  font.Style = 0;
  SetTransparentText(font, true);
  c->SetFont(font, fpName | fpSize | fpStyle | fpColors);
  s = paint();
  EXPECT_EQ(s->Pixel(at.X + 1, at.Y + 1), (TColor24{255, 255, 255}));
  EXPECT_NEAR(InkBox(s.get()).Right, ink.Right, 1);
  // Blanks draw no ink unless underlined.
  c->SetText(u"   ");
  s = paint();
  EXPECT_TRUE(IsEmptyRect(InkBox(s.get())));
  font.Style = fsUnderline;
  c->SetFont(font, fpName | fpSize | fpStyle | fpColors);
  s = paint();
  EXPECT_FALSE(IsEmptyRect(InkBox(s.get())));
  root->Free();
  ProcessDeferredFrees();
}

// A notifier whose clock cannot start (no window timer): the bar stays in its
// parent's tree without its animation, and the theme is left not listening.
namespace {
struct TStoppedNotifier : TRefreshNotifier {
  TStoppedNotifier() : TRefreshNotifier(nullptr) {}
  void ListenersChanged() override {
    if (ListenerCount() > 0) throw ETimerError();
  }
};
}  // namespace

TEST_F(Env, ABarWhoseAnimationCannotStartStaysSoundInItsTree) {
  auto notifier = MakeRef<TStoppedNotifier>();
  auto* theme = AllocProgressBarTheme(box->GetStyles());
  theme->SetNotifier(notifier.get());
  auto* bar = static_cast<TThemedFrameProgressBar*>(_AllocFrameProgressBar(box, nullptr));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->Drawer(), nullptr);
  EXPECT_EQ(theme->DrawerCount(), 0);
  EXPECT_FALSE(theme->Listening());
  EXPECT_EQ(notifier->ListenerCount(), 0);
  bar->SetValue(0.5f);
  PaintOf(bar);
}
