#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruViewer/OruEngine.h"
#include "OruLib2/Overlay/OruThirdSlide.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/zmHookScope.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"

using namespace zm;
using namespace oru;

namespace {

zm::TFloatPoint3 DialogCamera(void*, TOruSlideHost*) { return {320, 240, -576}; }
zm::TSize DialogBuffer(void*, TOruSlideHost*) { return {640, 480}; }
TOruSource* DialogSource(void*, TOruSlideHost*) { return nullptr; }

// ---- Doubles: a loader without slides, a root that records the overlay,
// and a panel the test steers. ----

class TOvLoader : public TOruEngineLoader {
public:
  bool Start() override { return running_ = true; }
  bool Running() override { return running_; }
  void Terminate() override { running_ = false; }
  double CurrentTime() override { return current_; }
  void SetCurrentTime(double time) override { current_ = time; }
  double RequestedTime() override { return current_; }
  void SetRequestedTime(double) override {}
  std::int32_t Width() override { return 320; }
  std::int32_t Height() override { return 240; }
  std::int32_t WindowKind() override { return 1; }
  void SetSize(std::int32_t, std::int32_t) override {}
  void Layout(bool) override {}
  TRect ViewRect() override { return TRect{0, 0, 320, 240}; }
  std::int32_t Capacity() override { return 3; }
  void SetPreloadCallback(std::function<void(TRefObject*)>) override {}
  bool TakeList(TRefObject*, std::vector<TOruPreparedSlide>& slides) override {
    slides = Slides;
    return !Slides.empty();
  }
  void PrepareSlide(TRefObject*, TDeviceDrawer*) override {}
  void StartSlide(TRefObject*, double) override {}
  void ReleaseSlide(TRefObject*, TDeviceDrawer*) override {}
  bool HitSlide(TRefObject*, const TMouseData&, double, WideString&, TOruActionInfo&) override { return false; }
  std::vector<TOruPreparedSlide> Slides;  // handed over on a slide-list event

private:
  bool running_ = false;
  double current_ = 0;
};

class TOvRoot : public TOruEngineRoot {
public:
  bool Update(const std::vector<TOruPreparedSlide>&) override { return Changes; }
  bool Draw(TOruDrawController*, const TRect&, std::uint32_t, double) override {
    ++Draws;
    return true;
  }
  bool Changes = false;
  int Draws = 0;
  TRefObject* Render(TOruDrawController*, const TRect&, std::uint32_t, double) override {
    auto* o = dynamic_cast<TThirdSlide*>(Overlay);
    Renders.push_back(o && o->HidePanel);
    return nullptr;
  }
  void SetOverlay(TDrawItem* overlay) override {
    Overlay = overlay;
    ++OverlaysSet;
  }
  TDrawItem* Overlay = nullptr;
  int OverlaysSet = 0;
  std::vector<bool> Renders;  // per render: the panel was hidden
};

class TOvParts : public TOruShowParts {
public:
  TRef<TOruEngineLoader> MakeLoader(TOruSource*, std::int32_t, std::int32_t, std::int32_t, TThreadEventList*,
                                    std::int32_t) override {
    Last = MakeRef<TOvLoader>();
    return TRef<TOruEngineLoader>(Last.get());
  }
  TRef<TOruEngineRoot> MakeRoot() override { return TRef<TOruEngineRoot>(Root.get()); }
  TRef<TOvLoader> Last;
  TRef<TOvRoot> Root = MakeRef<TOvRoot>();
};

class TOvDevice : public TDrawDevice {
public:
  TOvDevice() : TDrawDevice(nullptr) {}
  bool IsActive() override { return true; }
};

class TOvLink : public TOruDrawerLink {
public:
  TDeviceDrawer* Drawer() override { return nullptr; }
  bool Open(TDrawDevice* device) override { return device != nullptr; }
  bool ScreenReady() override { return true; }
  TRect ScreenRect() override { return TRect{}; }
};

class TOvPanel : public TOverlayPanel {
public:
  void Tick(double) override { ++Ticks; }
  void MouseDown(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, TOruActionInfo& a) override { a = Click; }
  void MouseMove(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, TOruActionInfo&) override {}
  void MouseUp(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, TOruActionInfo&) override {}
  bool PointerOver() override { return Over; }
  bool Over = false;
  TOruActionInfo Click;
  int Ticks = 0;
};

TOvPanel* gPanel = nullptr;
TRef<TOverlayPanel> MakePanel(const TOverlayPanelSetup&) {
  TRef<TOvPanel> p = MakeRef<TOvPanel>();
  gPanel = p.get();
  return p;
}

TEST(OruEngineOverlay, OverlaySeesThePointerFirstAndLeavesRenderedFramesWithoutPanel) {
  orutest::TClockPlayerHook noSound{false};
  plat::TManualClock clock{1000};
  zm::THookScope panelHook(CreateOverlayPanelHook, &MakePanel);
  TRef<TOvParts> parts = MakeRef<TOvParts>();
  TRef<TOvDevice> device = MakeRef<TOvDevice>();
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  std::vector<std::int32_t> actions;
  {
    TRef<TOruEngine> engine = MakeRef<TOruEngine>(device.get(), 0, true, false, listener.get(),
                                                  TRef<TOruShowParts>(parts.get()));
    engine->SetFrameStep(10);
    engine->OnEngineEvent = [&](TCustomOruEngine*, TOruEventData* e) {
      if (e->Id == TOruEngine::kActionEvent) actions.push_back(e->Params.at(0));
    };
    TRef<TIniFile> ini = MakeRef<TIniFile>();
    ini->LoadFromText(TByteString(std::string("[main]\r\nopt_fcp=1\r\n[Times]\r\nopt_slidescount=1\r\n"
                                              "opt_synchpos1=1000\r\n[Slide1]\r\n")));
    TRef<TFileAccessor> access = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
    ASSERT_TRUE(engine->OpenShow(access.get(), ini.get(), 0));
    ASSERT_NE(engine->Overlay(), nullptr);
    EXPECT_EQ(parts->Root->Overlay, engine->Overlay());
    ASSERT_NE(gPanel, nullptr);
    const auto pass = [&] {
      clock.Advance(10);
      engine->Step();
      listener->ProcessEvents();
    };
    pass();
    EXPECT_GT(gPanel->Ticks, 0);

    // Over the panel: the panel's action runs, not the one the press
    // carries for the slides.
    gPanel->Over = true;
    gPanel->Click = MakeActionInfo(acPause, 0, u"");
    TRef<TMouseData> m = MakeRef<TMouseData>();
    m->Kind = 1;
    m->Buttons = 1;
    m->Action = MakeActionInfo(acGotoSlide, 2, u"");
    engine->Events()->Post(TOruEngine::kMouseEvent, TRef<TMouseData>(m.get()).Detach());
    pass();
    EXPECT_EQ(actions, (std::vector<std::int32_t>{acPause}));
    EXPECT_EQ(engine->HoverName(), u"NavPanel");
    // Elsewhere the press goes on to the slides.
    gPanel->Over = false;
    gPanel->Click = {};
    engine->Events()->Post(TOruEngine::kMouseEvent, m.Detach());
    pass();
    EXPECT_EQ(actions, (std::vector<std::int32_t>{acPause, acGotoSlide}));

    engine->Events()->Post(TOruEngine::kRenderEvent, nullptr);
    pass();
    EXPECT_EQ(parts->Root->Renders, (std::vector<bool>{true}));
    EXPECT_FALSE(engine->Overlay()->HidePanel);

    // A dialog of the show: other threads see it (the main form's keys go
    // to it), and the close-dialog event starts closing it.
    EXPECT_FALSE(engine->OverlayShowsDialog());
    TOruHostCallbacks cb;
    cb.Camera.Code = &DialogCamera;
    cb.EffectBufferSize.Code = &DialogBuffer;
    cb.ShowSource.Code = &DialogSource;
    TRef<TOruSlideHost> host = MakeRef<TOruSlideHost>(access.get(), cb, WideString(), false);
    {
      TRef<TOruDialog> dialog = TOruDialog::Create(host.get(), nullptr, false);
      dialog->SetSize(200, 100);
      dialog->Pause = false;
      engine->Overlay()->ShowDialog(dialog.get());
    }
    pass();
    EXPECT_TRUE(engine->OverlayShowsDialog());
    engine->Events()->Post(TOruEngine::kCloseDialogEvent, nullptr);
    pass();
    EXPECT_TRUE(engine->Overlay()->DialogClosing());  // it fades out as it is drawn
    EXPECT_TRUE(engine->Stop(5000));
    host = nullptr;
  }
  // The engine let go of its overlay: the root no longer names it.
  EXPECT_EQ(parts->Root->Overlay, nullptr);
  gPanel = nullptr;
}

TEST(OruEngineOverlay, HoverOverThePanelLastsThroughTheFramesDrawnAfterIt) {
  orutest::TClockPlayerHook noSound{false};
  plat::TManualClock clock{1000};
  zm::THookScope panelHook(CreateOverlayPanelHook, &MakePanel);
  TRef<TOvParts> parts = MakeRef<TOvParts>();
  TRef<TOvDevice> device = MakeRef<TOvDevice>();
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  {
    TRef<TOruEngine> engine = MakeRef<TOruEngine>(device.get(), 0, true, false, listener.get(),
                                                  TRef<TOruShowParts>(parts.get()),
                                                  [] { return TRef<TOruDrawerLink>(MakeRef<TOvLink>()); });
    engine->SetFrameStep(10);
    TRef<TIniFile> ini = MakeRef<TIniFile>();
    ini->LoadFromText(TByteString(std::string("[main]\r\nopt_fcp=1\r\n[Times]\r\nopt_slidescount=1\r\n"
                                              "opt_synchpos1=1000\r\n[Slide1]\r\n")));
    TRef<TFileAccessor> access = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
    ASSERT_TRUE(engine->OpenShow(access.get(), ini.get(), 0));
    ASSERT_NE(gPanel, nullptr);
    // One slide, shown while the show stands at its start; it moves.
    TOruPreparedSlide slide;
    slide.Container = MakeRef<TRefObject>();
    slide.Times.End = slide.Times.VisibleUntil = 1000;
    parts->Last->Slides = {slide};
    engine->Events()->Post(TOruEngine::kSlideListEvent, MakeRef<TRefObject>().Detach());
    parts->Root->Changes = true;
    const auto pass = [&] {
      clock.Advance(10);
      engine->Step();
      listener->ProcessEvents();
    };
    pass();
    const int draws = parts->Root->Draws;
    ASSERT_GT(draws, 0);

    // The pointer comes to rest over the panel.
    gPanel->Over = true;
    TRef<TMouseData> m = MakeRef<TMouseData>();
    m->X = 100;
    m->Y = 200;
    engine->Events()->Post(TOruEngine::kMouseEvent, m.Detach());
    pass();
    for (int i = 0; i < 5; ++i) pass();
    EXPECT_GT(parts->Root->Draws, draws + 3);
    EXPECT_TRUE(engine->Hover());
    EXPECT_EQ(engine->HoverName(), u"NavPanel");
    // The panel goes from under the resting pointer: the next frame says so.
    gPanel->Over = false;
    pass();
    EXPECT_FALSE(engine->Hover());
    EXPECT_TRUE(engine->Stop(5000));
  }
  gPanel = nullptr;
}

}  // namespace
