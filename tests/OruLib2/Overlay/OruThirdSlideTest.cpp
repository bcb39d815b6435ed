#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/Overlay/OruThirdSlide.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winInput.h"
#include "ZmLib/zmHookScope.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"

namespace {

using namespace oru;
using oru_image_test::MakePicture;
using oru_image_test::TLogDrawer;
using zm::TRect;
using zm::TRef;

// Records draws and the bands in one sequence: "I" an image, "F" a fill.
class TOrderDrawer : public TLogDrawer {
public:
  std::string order;
  void FillRect(zm::TColor32, const zm::TRect&) override { order += 'F'; }
  void FillRectF(const zm::TFloatPoint&, const zm::TFloatPoint&, zm::TColor32) override { order += 'F'; }
  void DrawImage(zm::TImage* image, const zm::TFloatPoint& origin, const zm::TImageDrawParams& params,
                 const zm::TFloatPoint& ax, const zm::TFloatPoint& ay) override {
    order += 'I';
    TLogDrawer::DrawImage(image, origin, params, ax, ay);
  }
};

// A panel that shows one bar picture and records what reaches it.
class TFakePanel : public TOverlayPanel {
public:
  TOverlayPanelSetup setup;
  TRef<zm::TImage> bar = MakePicture(100, 20, [](int, int) { return 0xFF808080u; });
  std::int32_t barIndex = -1;
  std::string events;
  bool over = false;
  TOruActionInfo click;  // given back on the next press
  std::int32_t ticks = 0;

  void Tick(double) override { ++ticks; }
  void MouseDown(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, TOruActionInfo& a) override {
    events += 'D';
    a = click;
  }
  void MouseMove(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, TOruActionInfo&) override { events += 'M'; }
  void MouseUp(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, TOruActionInfo&) override { events += 'U'; }
  bool PointerOver() override { return over; }
  void ShowBar(const TRect& r) {
    zm::TImageDrawParams p;
    setup.OnBarPicture(bar.get(), p, barIndex, r);
  }
};

TFakePanel* gPanel = nullptr;
std::int32_t gPanelsMade = 0;
TRef<TOverlayPanel> MakeFakePanel(const TOverlayPanelSetup& setup) {
  TRef<TFakePanel> p = zm::MakeRef<TFakePanel>();
  p->setup = setup;
  p->ShowBar({10, 400, 110, 420});
  gPanel = p.get();
  ++gPanelsMade;
  return p;
}

class TNoFiles : public TFileSource {
public:
  zm::TStream* OpenFile(const WideString&) override { return nullptr; }
};

TRef<zm::TImage> gLogo;
TRef<zm::TImage> LogoCallback(void*, TFileSource*, const WideString& name) {
  return name == u"logo.png" ? gLogo : nullptr;
}
zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return {320, 240, -576}; }
zm::TSize BufferSize(void*, TOruSlideHost*) { return {640, 480}; }
TOruSource* NoSource(void*, TOruSlideHost*) { return nullptr; }

// A plain box of the size its properties give, so that dialogs have
// something to hit.
class TBoxKind : public TOruObject {
public:
  void ReadProps(TOruObjectProps* props, bool reload) override {
    const zm::TPoint sz = ReadPropPoint(props, u"Size", {0, 0});
    Width = static_cast<float>(sz.X);
    Height = static_cast<float>(sz.Y);
    TOruObject::ReadProps(props, reload);
  }
};
TRef<TOruObject> CreateBox(std::int32_t code, TOruObject* parent, TOruObjectProps* props) {
  return code >= 1 && code <= 11 ? TOruObject::Create<TBoxKind>(parent, props) : nullptr;
}

class ThirdSlide : public ::testing::Test {
protected:
  void SetUp() override {
    panelHook_.Set(&MakeFakePanel);
    // Colour-managed as before any show was opened (an earlier test may have opened one).
    ApplyShowColorManagement(nullptr);
    gPanel = nullptr;
    gPanelsMade = 0;
    source_ = zm::MakeRef<TNoFiles>();
    handle_ = source_->AddCallback(&LogoCallback, nullptr);
    access_ = zm::MakeRef<TFileAccessor>(source_.get());
    TOruHostCallbacks cb;
    cb.Camera.Code = &Camera;
    cb.EffectBufferSize.Code = &BufferSize;
    cb.ShowSource.Code = &NoSource;
    host_ = zm::MakeRef<TOruSlideHost>(access_.get(), cb, WideString(), false);
  }
  void TearDown() override {
    panelHook_.Restore();
    host_.reset();
    access_.reset();
    handle_.reset();
    gLogo.reset();
  }

  TRef<TThirdSlide> Make(const std::string& main, std::uint8_t option = 0, TRect slide = {0, 0, 1920, 1080},
                         zm::TSize slideSize = {1920, 1080}, TRootItem* root = nullptr) {
    TRef<zm::TIniFile> ini = zm::MakeRef<zm::TIniFile>();
    if (!main.empty()) ini->LoadFromText(zm::TByteString("[main]\r\n" + main));
    return TThirdSlide::Build(access_.get(), ini.get(), slide, 60000, 0.5, slideSize, {1920, 1080}, nullptr,
                              nullptr, nullptr, 0, option, root, nullptr);
  }
  TRef<TOruDialog> Dialog(const WideString& name, bool pause = true) {
    TRef<TOruDialog> d = TOruDialog::Create(host_.get(), nullptr, false);
    d->SetSize(200, 100);
    d->Name = name;
    d->Pause = pause;
    return d;
  }

  zm::THookScope<TCreateOverlayPanelProc> panelHook_{CreateOverlayPanelHook};
  TRef<TNoFiles> source_;
  TRef<TCallbackHandle> handle_;
  TRef<TFileAccessor> access_;
  TRef<TOruSlideHost> host_;
};

// ---- Build ---------------------------------------------------------------------------------------

TEST_F(ThirdSlide, BuildFromOptions) {
  TRef<zm::TIniFile> ini = zm::MakeRef<zm::TIniFile>();
  EXPECT_THROW(TThirdSlide::Build(nullptr, ini.get(), {0, 0, 10, 10}, 0, 0, {10, 10}, {10, 10}, nullptr, nullptr,
                                  nullptr, 0, 0, nullptr, nullptr),
               zm::Exception);
  // No description or no main section: an empty overlay, still changed.
  TRef<TThirdSlide> bare = TThirdSlide::Build(access_.get(), nullptr, {0, 0, 100, 50}, 0, 0, {200, 50}, {100, 50},
                                              nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr);
  EXPECT_TRUE(bare->IsChanged());
  EXPECT_TRUE(bare->Items().empty());
  EXPECT_FLOAT_EQ(bare->AspectFactor(), 0.5f);  // (100 / 200) * 50 / 50
  EXPECT_EQ(Make("")->Panel(), nullptr);

  // A logo switched on without a file name, and the panel switched off.
  TRef<TThirdSlide> o = Make("opt_logo=1\r\nopt_logo_fn=\r\nopt_fcp=0\r\n");
  EXPECT_EQ(o->LogoIndex(), -1);
  EXPECT_EQ(o->Panel(), nullptr);
  EXPECT_EQ(gPanelsMade, 0);
  EXPECT_EQ(o->PanelState(), 0);
  bool handled = true;
  TOruObject* hit = nullptr;
  TOruActionInfo action;
  action.Code = acHelp;
  o->MouseEvent(0, 5, 5, handled, hit, action, 1, 1);
  EXPECT_FALSE(handled);  // the slides get the press
  EXPECT_TRUE(action.IsEmpty());

  // The player's option byte keeps the panel away.
  EXPECT_EQ(Make("opt_fcp=1\r\n", 1)->Panel(), nullptr);
  EXPECT_EQ(gPanelsMade, 0);
}

TEST_F(ThirdSlide, LogoIsHalvedWhileTwiceTheSizeAndPlaced) {
  gLogo = MakePicture(2000, 1000, [](int x, int) { return x < 1000 ? 0xFFFF0000u : 0x800000FFu; });
  TRef<TThirdSlide> o = Make("opt_logo=1\r\nopt_logo_fn=logo.png\r\nopt_logo_size=10\r\nopt_logo_pos=4\r\n"
                             "opt_logo_opacity=60\r\n");
  ASSERT_EQ(o->LogoIndex(), 0);
  const TOverlayImageItem& item = o->Items()[0];
  ASSERT_TRUE(item.Image);
  zm::TBitmap* b = item.Image->GetBitmap();
  EXPECT_EQ(b->Width(), 250);
  EXPECT_EQ(b->Height(), 125);
  EXPECT_TRUE(b->PixelFormat()->HasAlpha);
  EXPECT_FLOAT_EQ(item.Params.Opacity, 60);
  // 216 x 108 on screen, centred in the 1920 x 1080 slide.
  EXPECT_NEAR(item.Scale.X * 250, 216, 1e-3);
  EXPECT_NEAR(item.Scale.Y * 125, 108, 1e-3);
  EXPECT_FLOAT_EQ(item.Position.X, 960 - 108);
  EXPECT_FLOAT_EQ(item.Position.Y, 540 - 54);

  // Right-Bottom with an offset: the slide rectangle's corner moved in.
  TRef<TThirdSlide> rb = Make("opt_logo=1\r\nopt_logo_fn=logo.png\r\nopt_logo_size=10\r\nopt_logo_pos=7\r\n"
                              "opt_logo_offset=0\r\n", 0, {100, 0, 2020, 1080});
  EXPECT_FLOAT_EQ(rb->Items()[0].Position.X, 2020 - 216);
  EXPECT_FLOAT_EQ(rb->Items()[0].Position.Y, 1080 - 108);

  // A small logo is not resampled; absurd sizes leave it out without failing.
  gLogo = MakePicture(40, 20, [](int, int) { return 0xFFFFFFFFu; });
  TRef<TThirdSlide> s = Make("opt_logo=1\r\nopt_logo_fn=logo.png\r\nopt_logo_size=50\r\n");
  EXPECT_EQ(s->Items()[0].Image->GetBitmap()->Width(), 40);
  for (const char* bad : {"-5", "0", "nan", "1e300"})
    EXPECT_NO_THROW(Make(std::string("opt_logo=1\r\nopt_logo_fn=logo.png\r\nopt_logo_size=") + bad + "\r\n"));
  // A missing file still gives a picture: the placeholder.
  EXPECT_NO_THROW(Make("opt_logo=1\r\nopt_logo_fn=gone.png\r\n"));
}

TEST_F(ThirdSlide, LogoOfAnotherColourSpaceGetsALookup) {
  gLogo = MakePicture(64, 32, [](int, int) { return 0xFF336699u; });
  gLogo->Store()->ColorProfile = zm::TRef<zm::TColorProfile>(zm::AdobeRGBProfile());
  TRef<TThirdSlide> o = Make("opt_logo=1\r\nopt_logo_fn=logo.png\r\n");
  ASSERT_NE(o->LogoLookup(), nullptr);
  EXPECT_EQ(o->LogoLookup()->Width(), 32);
  EXPECT_EQ(o->LogoLookup()->Height(), 1024);
  TOrderDrawer d;
  d.Draw(o.get());  // no grading texture maker installed: drawn plain
  EXPECT_EQ(d.order, "I");
}

TEST_F(ThirdSlide, PanelTakesTheOptions) {
  TRef<TThirdSlide> o = Make(
      "opt_fcp=1\r\nopt_cp=right-TOP\r\nopt_nav_offset=5\r\nopt_newnavbuttons_count=3\r\n"
      "opt_newnavbutton1=home\r\nopt_newnavbutton2=pause\r\nopt_newnavbutton3=exit\r\nopt_nav_wndbottom=0\r\n"
      "opt_nav_inifile=skin.ini\r\nopt_nav_hideinterval=3\r\nopt_hidenavbar=1\r\nopt_nav_viewscale=12.5\r\n",
      0, {100, 50, 1100, 550});
  ASSERT_NE(gPanel, nullptr);
  EXPECT_EQ(o->Panel(), gPanel);
  const TOverlayPanelSetup& s = gPanel->setup;
  EXPECT_EQ(s.Buttons, (std::vector<WideString>{u"home", u"pause", u"exit"}));
  EXPECT_EQ(s.Position, (zm::TFloatPoint{95, -95}));
  EXPECT_EQ(s.Anchor, (zm::TFloatPoint{100, -100}));
  EXPECT_EQ(s.Container, (TRect{100, 50, 1100, 550}));
  EXPECT_EQ(s.SkinFile, u"skin.ini");
  EXPECT_FLOAT_EQ(s.ViewScale, 12.5f);
  EXPECT_DOUBLE_EQ(s.ShowEnd, 60000);
  EXPECT_TRUE(s.VideoExit);
  EXPECT_EQ(o->Detector()->Interval(), 3000u);
  EXPECT_TRUE(o->PanelHidden());
  EXPECT_EQ(o->BarIndex(), 0);
  EXPECT_FLOAT_EQ(o->Items()[0].Params.Opacity, 0);  // hidden from the start

  // Defaults: whole device, centre, unknown position names too.
  TRef<TThirdSlide> d = Make("opt_fcp=1\r\nopt_cp=Nowhere\r\nopt_newnavbuttons_count=-4\r\n");
  EXPECT_EQ(gPanel->setup.Container, (TRect{0, 0, 1920, 1080}));
  EXPECT_EQ(gPanel->setup.Position, (zm::TFloatPoint{0, 0}));
  EXPECT_TRUE(gPanel->setup.Buttons.empty());
  EXPECT_FALSE(d->PanelHidden());
  EXPECT_FLOAT_EQ(d->PanelOpacity(), 100);
}

TRef<TOverlayPanel> ThrowingPanel(const TOverlayPanelSetup& setup) {
  std::int32_t index = -1;
  setup.OnBarPicture(nullptr, {}, index, {0, 0, 1, 1});
  throw zm::Exception("damaged skin");
}

TEST_F(ThirdSlide, PanelWithoutSkinOrWithADamagedOne) {
  gLogo = MakePicture(40, 20, [](int, int) { return 0xFFFFFFFFu; });
  const std::string show = "opt_logo=1\r\nopt_logo_fn=logo.png\r\nopt_fcp=1\r\nopt_nav_inifile=missing\\skin.ini\r\n";
  // The player's own panel: a skin that cannot be opened leaves it without a bar.
  panelHook_.Set(panelHook_.Saved());
  TRef<TRootItem> root = TRootItem::Create(true);
  TRef<TThirdSlide> o = Make(show, 0, {0, 0, 1920, 1080}, {1920, 1080}, root.get());
  ASSERT_NE(o->Panel(), nullptr);
  EXPECT_EQ(o->BarIndex(), -1);
  EXPECT_EQ(o->Items().size(), 1u);
  bool handled = true;
  TOruObject* hit = nullptr;
  TOruActionInfo action;
  o->MouseEvent(zm::ssLeft, 10, 10, handled, hit, action, 1, 1);
  o->Tick(0);
  TOrderDrawer d;
  d.Bounds = {0, 0, 1920, 1200};
  d.Draw(o.get());
  ASSERT_FALSE(d.order.empty());
  EXPECT_EQ(d.order[0], 'I');  // the logo, then the bands: no bar to lie beneath
  EXPECT_EQ(d.order.back(), 'F');
  // A panel that fails while opening: the rest of the overlay stays.
  panelHook_.Set(&ThrowingPanel);
  TRef<TThirdSlide> t = Make(show);
  EXPECT_EQ(t->Panel(), nullptr);
  EXPECT_EQ(t->BarIndex(), -1);
  EXPECT_EQ(t->LogoIndex(), 0);
  EXPECT_EQ(t->Items().size(), 1u);
}

// ---- Panel fade and pointer ----------------------------------------------------------------------

TEST_F(ThirdSlide, PanelFadeRestartsFromTheLevelReached) {
  plat::TManualClock clock(0xFFFFFE00u);  // the fades cross the clock's wrap
  TRef<TThirdSlide> o = Make("opt_fcp=1\r\nopt_hidenavbar=1\r\nopt_nav_hideinterval=1\r\n"
                             "opt_nav_fadein=500\r\nopt_nav_hidefadeout=1000\r\n");
  const auto bar = [&] { return o->Items()[std::size_t(o->BarIndex())].Params.Opacity; };
  o->Tick(0);
  EXPECT_FLOAT_EQ(bar(), 0);
  EXPECT_EQ(o->PanelState(), 0);
  bool handled;
  TOruObject* hit;
  TOruActionInfo action;
  o->MouseEvent(0, 100, 100, handled, hit, action, 0, 0);
  o->MouseEvent(0, 140, 100, handled, hit, action, 0, 0);  // moves: the panel fades in
  EXPECT_EQ(o->PanelState(), 1);
  o->Tick(0);
  EXPECT_FALSE(o->PanelHidden());
  clock.Advance(250);
  o->StateChanged = false;
  o->Tick(0);
  EXPECT_NEAR(bar(), 50, 0.01);
  EXPECT_TRUE(o->StateChanged);
  // Idle half way: fade out over the 500 ms that are left of 1000.
  o->Detector()->SetIdle(true);
  o->Tick(0);
  EXPECT_TRUE(o->PanelHidden());
  o->Tick(0);
  EXPECT_NEAR(bar(), 50, 0.01);
  clock.Advance(250);
  o->Tick(0);
  EXPECT_NEAR(bar(), 25, 0.01);
  clock.Advance(250);
  o->Tick(0);
  EXPECT_FLOAT_EQ(bar(), 0);
  clock.Advance(5000);
  o->Tick(0);
  EXPECT_FLOAT_EQ(bar(), 0);

  // Hovering keeps it shown however long the pointer rests.
  gPanel->over = true;
  o->Tick(0);
  clock.Advance(600);
  o->Tick(0);
  EXPECT_FLOAT_EQ(bar(), 100);
  clock.Advance(10000);
  o->Tick(0);
  EXPECT_FLOAT_EQ(bar(), 100);
  EXPECT_EQ(o->PanelState(), 2);
  EXPECT_GT(gPanel->ticks, 0);
}

TEST_F(ThirdSlide, PointerEventsReachDialogsDetectorAndPanel) {
  plat::TManualClock clock(1000);
  TRef<TThirdSlide> o = Make("opt_fcp=1\r\nopt_hidenavbar=1\r\nopt_nav_hideinterval=1\r\n");
  bool handled = true;
  TOruObject* hit = nullptr;
  TOruActionInfo action;
  // A press on the faded-out panel still reaches the bar.
  ASSERT_FLOAT_EQ(o->PanelOpacity(), 0);
  gPanel->click = MakeActionInfo(acHelp, 0, {});
  o->MouseEvent(zm::ssLeft, 20, 410, handled, hit, action, 1, 1);
  EXPECT_EQ(gPanel->events, "D");
  EXPECT_EQ(action.Code, acHelp);
  EXPECT_TRUE(handled);
  // Kind 3: the detector sees it, the panel does not.
  o->MouseEvent(0, 300, 300, handled, hit, action, 3, 0);
  EXPECT_EQ(gPanel->events, "D");
  EXPECT_FALSE(handled);
  EXPECT_TRUE(action.IsEmpty());
  EXPECT_EQ(o->PanelState(), 1);  // that was movement
  o->MouseEvent(0, 300, 300, handled, hit, action, 2, 1);
  o->MouseEvent(0, 300, 300, handled, hit, action, 0, 0);
  EXPECT_EQ(gPanel->events, "DUM");
  for (std::int32_t bad : {-1, 4, 1000}) EXPECT_THROW(o->MouseEvent(0, 0, 0, handled, hit, action, bad, 0), zm::Exception);
  EXPECT_EQ(gPanel->events, "DUM");
  // A dialog over the point sees the event first; nothing of it is hit here.
  o->ShowDialog(Dialog(u"help").get());
  o->MouseEvent(0, -5000, -5000, handled, hit, action, 1, 1);
  EXPECT_EQ(hit, nullptr);
}

// ---- Dialogs -------------------------------------------------------------------------------------

TEST_F(ThirdSlide, TopDialogTakesThePointerBeforeThePanel) {
  zm::THookScope objectHook(CreateOruObjectHook, &CreateBox);
  TRef<zm::TIniFile> ini = zm::MakeRef<zm::TIniFile>();
  ini->LoadFromText(zm::TByteString(std::string("[Slide1]\r\nobject A:Box\r\nGUID={A}\r\nSize=640,480\r\n"
                                                "Action=nextslide\r\nend\r\n")));
  const auto loaded = [&](const WideString& name) {
    TRef<TOruDialog> d = Dialog(name);
    d->SetSize(640, 480);
    d->SetViewCentre(320, 240);
    TSlideLoadArgs a;
    a.Section = ini->FindSection(u"Slide1");
    d->Load(a);
    d->SetTimeAndLayout(true, 0);
    return d;
  };
  TRef<TOruDialog> low = loaded(u"low"), top = loaded(u"top");
  objectHook.Restore();
  ASSERT_EQ(top->ChildCount(), 1);
  TRef<TThirdSlide> o = Make("opt_fcp=1\r\n");
  o->ShowDialog(low.get());
  o->ShowDialog(top.get());
  bool handled = false;
  TOruObject* hit = nullptr;
  TOruActionInfo action;
  o->MouseEvent(zm::ssLeft, 320, 240, handled, hit, action, 1, 1);
  EXPECT_EQ(hit, top->Child(0));
  EXPECT_TRUE(handled);
  EXPECT_EQ(gPanel->events, "D");
  // A panel click wins over the dialog under it.
  gPanel->click = MakeActionInfo(acHelp, 2, u"x");
  o->MouseEvent(zm::ssLeft, 320, 240, handled, hit, action, 1, 1);
  EXPECT_EQ(hit, nullptr);
  EXPECT_EQ(action, MakeActionInfo(acHelp, 2, u"x"));
  // Outside every dialog and panel: nothing is handled.
  gPanel->click = {};
  o->MouseEvent(0, -5000, -5000, handled, hit, action, 0, 0);
  EXPECT_FALSE(handled);
}

TEST_F(ThirdSlide, DialogsFadeInAndOutAndDoNotStack) {
  plat::TManualClock clock(5000);
  TRef<TThirdSlide> o = Make("");
  TOrderDrawer d;
  o->ShowDialog(Dialog(u"help").get());
  ASSERT_EQ(o->DialogCount(), 1);
  TOruDialog* help = o->Dialog(0);
  o->Tick(0);
  EXPECT_FLOAT_EQ(help->Opacity, 0);  // no fade before it is drawn once
  d.Draw(o.get());
  EXPECT_FALSE(o->IsChanged());
  o->Tick(0);
  clock.Advance(100);
  o->Tick(0);
  EXPECT_NEAR(help->Opacity, 50, 0.01);
  EXPECT_TRUE(o->StateChanged);
  clock.Advance(150);
  o->Tick(0);
  EXPECT_FLOAT_EQ(help->Opacity, 100);

  // The same name again closes it instead of stacking.
  o->ShowDialog(Dialog(u"help").get());
  EXPECT_EQ(o->DialogCount(), 1);
  EXPECT_TRUE(o->DialogClosing());
  o->ShowDialog(Dialog(u"other").get());  // dropped while one closes
  EXPECT_EQ(o->DialogCount(), 1);
  o->Tick(0);
  clock.Advance(50);
  o->Tick(0);
  EXPECT_NEAR(help->Opacity, 75, 0.01);
  clock.Advance(150);
  o->Tick(0);
  EXPECT_FLOAT_EQ(help->Opacity, 0);
  o->Tick(0);  // below 1 %: removed
  EXPECT_EQ(o->DialogCount(), 0);
  EXPECT_FALSE(o->DialogClosing());
  EXPECT_TRUE(o->Changed);
  o->Tick(0);

  EXPECT_THROW(o->RemoveDialog(-1), zm::Exception);
  EXPECT_THROW(o->RemoveDialog(3), zm::Exception);
  EXPECT_NO_THROW(o->CloseDialog(0));  // nothing open: nothing to close
  EXPECT_FALSE(o->DialogClosing());
  o->ShowDialog(nullptr);
  EXPECT_EQ(o->TopDialog(), nullptr);
}

TEST_F(ThirdSlide, HoldingDialogsCloseTogether) {
  plat::TManualClock clock(0);
  TRef<TThirdSlide> o = Make("");
  o->ShowDialog(Dialog(u"a", true).get());
  o->ShowDialog(Dialog(u"b", false).get());
  o->ShowDialog(Dialog(u"c", true).get());
  o->ShowDialog(Dialog(u"d", true).get());
  std::int32_t index = -1;
  EXPECT_EQ(o->FindDialog(u"c", index), o->Dialog(2));
  EXPECT_EQ(index, 2);
  EXPECT_EQ(o->FindDialog(u"C", index), nullptr);
  EXPECT_EQ(index, -1);
  EXPECT_TRUE(o->HasHoldingDialog());
  o->CloseHoldingDialogs();
  // "c" and "d" went at once; "a" fades out, "b" stays.
  ASSERT_EQ(o->DialogCount(), 2);
  EXPECT_EQ(o->Dialog(0)->Name, u"a");
  EXPECT_EQ(o->TopDialog()->Name, u"b");
  EXPECT_TRUE(o->DialogClosing());
  TOrderDrawer d;
  d.Draw(o.get());
  o->Tick(0);
  clock.Advance(300);
  o->Tick(0);
  o->Tick(0);
  ASSERT_EQ(o->DialogCount(), 1);
  EXPECT_EQ(o->TopDialog()->Name, u"b");
  EXPECT_FALSE(o->HasHoldingDialog());
  EXPECT_NO_THROW(o->CloseHoldingDialogs());
  EXPECT_FALSE(o->DialogClosing());
}

// ---- Drawing and picture updates -----------------------------------------------------------------

TEST_F(ThirdSlide, BandsLieBeneathThePanelAndItemsKeepTheirOpacity) {
  gLogo = MakePicture(40, 20, [](int, int) { return 0xFFFFFFFFu; });
  TRef<TRootItem> root = TRootItem::Create(true);
  TRef<zm::TIniFile> ini = zm::MakeRef<zm::TIniFile>();
  ini->LoadFromText(zm::TByteString("[main]\r\nopt_logo=1\r\nopt_logo_fn=logo.png\r\nopt_fcp=1\r\n"));
  TRef<TThirdSlide> o = TThirdSlide::Build(access_.get(), ini.get(), {100, 0, 1820, 1080}, 0, 1, {1720, 1080},
                                           {1920, 1080}, nullptr, nullptr, nullptr, 0, 0, root.get(), nullptr);
  ASSERT_EQ(o->LogoIndex(), 0);
  ASSERT_EQ(o->BarIndex(), 1);
  TOrderDrawer d;
  d.Bounds = {0, 0, 1920, 1080};
  d.ClipRect = {100, 0, 1820, 1080};
  d.Draw(o.get());
  const std::size_t firstFill = d.order.find('F');
  ASSERT_NE(firstFill, std::string::npos);
  EXPECT_EQ(d.order.substr(0, firstFill), "I");  // the logo, then the bands, then the bar
  EXPECT_EQ(d.order.back(), 'I');
  // Rendering into an image: no bar, the bands last.
  o->HidePanel = true;
  d.order.clear();
  d.Draw(o.get());
  EXPECT_EQ(d.order[0], 'I');
  EXPECT_EQ(d.order.find('I', 1), std::string::npos);
  EXPECT_EQ(d.order.back(), 'F');

  // A new bar picture replaces the image and rectangle but keeps the opacity.
  TOverlayImageItem& bar = const_cast<TOverlayImageItem&>(o->Items()[1]);
  bar.Params.Opacity = 30;
  TRef<zm::TImage> wider = MakePicture(200, 20, [](int, int) { return 0xFF000000u; });
  std::int32_t index = 1;
  zm::TImageDrawParams fresh;
  o->Changed = false;
  o->BarPictureChanged(wider.get(), fresh, index, {0, 0, 400, 40});
  EXPECT_EQ(index, 1);
  EXPECT_EQ(o->Items()[1].Image.get(), wider.get());
  EXPECT_FLOAT_EQ(o->Items()[1].Params.Opacity, 30);
  EXPECT_FLOAT_EQ(o->Items()[1].Scale.X, 2);
  EXPECT_TRUE(o->Changed);
  // An exit part comes as a new item; a picture without pixels draws nothing bad.
  index = -1;
  o->ExitPictureChanged(nullptr, fresh, index, {0, 0, 10, 10});
  EXPECT_EQ(index, 2);
  EXPECT_EQ(o->ExitIndex(), 2);
  o->HidePanel = false;
  EXPECT_NO_THROW(d.Draw(o.get()));
}

}  // namespace
