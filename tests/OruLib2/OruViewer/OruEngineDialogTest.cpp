#include <gtest/gtest.h>

#include <string>

#include "OruLib2/OruClasses/OruActions.h"
#include "OruLib2/OruViewer/OruEngine.h"
#include "Platform/PlatSystem.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"
#include "tests/support/kit/IniText.h"

using namespace zm;
using namespace oru;

namespace {

// Dialogs are made by the player's own loader thread and handed to the
// engine, which is driven pass by pass on this thread.
class OruEngineDialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    engine = MakeRef<TOruEngine>(nullptr, 0, true, false, listener.get());
    engine->SetFrameStep(10);
    engine->OnEngineEvent = [this](TCustomOruEngine*, TOruEventData* e) {
      if (e->Id == TOruEngine::kActionEvent) ++actions;
    };
  }
  void TearDown() override {
    EXPECT_TRUE(engine->Stop(5000));
    engine = nullptr;
    listener->ProcessEvents();
  }
  void Open(bool withHelp) {
    TIniText t;
    t.Section("main").Key("opt_repeat", "close").Key("opt_pausewheninactive", 0);
    t.Key("opt_scr_width", 640).Key("opt_scr_height", 480);
    t.Section("Times").Key("opt_slidescount", 2).Key("opt_synchpos1", 1000).Key("opt_synchpos2", 2000);
    t.Section("Slide1");
    t.Section("Slide2");
    if (withHelp) t.Section("dialog_1_").Key("help", 1);
    t.Section("dialog_credits").Key("DialogPause", 0);
    TRef<TIniFile> doc = MakeRef<TIniFile>();
    doc->LoadFromText(TByteString(t.Bytes(false)));
    engine->RequestOpen(MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()).get(), doc.get(), 0, true);
    ASSERT_TRUE(PassUntil([&] { return engine->PlayingGeneration() == engine->Generation() && engine->Overlay(); }));
  }
  void Action(std::uint8_t code, const WideString& text) {
    TRef<TMouseData> m = MakeRef<TMouseData>();
    m->Kind = 1;
    m->X = -50;
    m->Y = -50;
    m->Action = MakeActionInfo(code, 0, text);
    engine->Events()->Post(TOruEngine::kMouseEvent, m.Detach());
  }
  template <class F>
  bool PassUntil(F done, int limit = 20000) {
    for (int i = 0; i < limit; ++i) {
      engine->Step();
      listener->ProcessEvents();
      if (done()) return true;
    }
    return false;
  }
  bool Shows(const WideString& name) {
    std::int32_t index = -1;
    return engine->Overlay() && engine->Overlay()->FindDialog(name, index);
  }

  orutest::TClockPlayerHook noSound{false};
  plat::TManualClock clock{0};
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  TRef<TOruEngine> engine;
  int actions = 0;  // actions passed on to the main form
};

TEST_F(OruEngineDialogTest, HelpShowsByActionAndEventAndClosesByEvent) {
  Open(true);
  Action(acHelp, u"");
  ASSERT_TRUE(PassUntil([&] { return Shows(u"help"); }));
  EXPECT_EQ(engine->Overlay()->DialogCount(), 1);
  EXPECT_TRUE(engine->Overlay()->HasHoldingDialog());
  engine->Events()->Post(TOruEngine::kCloseDialogEvent, nullptr);
  ASSERT_TRUE(PassUntil([&] { return engine->Overlay()->DialogClosing(); }));

  // The help event on a fresh show makes the same dialog.
  Open(true);
  EXPECT_EQ(engine->Overlay()->DialogCount(), 0);
  engine->Events()->Post(TOruEngine::kHelpEvent, nullptr);
  ASSERT_TRUE(PassUntil([&] { return Shows(u"help"); }));
  EXPECT_EQ(engine->Overlay()->DialogCount(), 1);
}

TEST_F(OruEngineDialogTest, NamedDialogShowsAndMissingOnesShowNothing) {
  Open(false);
  // Requests are answered in order: once the last one shows, the missing
  // ones before it have been answered with nothing.
  Action(acHelp, u"");
  engine->Events()->Post(TOruEngine::kHelpEvent, nullptr);
  Action(acOpenDialog, u"nosuch");
  Action(acOpenDialog, u"");
  Action(acOpenDialog, u"credits");
  ASSERT_TRUE(PassUntil([&] { return Shows(u"credits"); }));
  EXPECT_EQ(engine->Overlay()->DialogCount(), 1);
  EXPECT_FALSE(engine->Overlay()->HasHoldingDialog());  // DialogPause=0
  EXPECT_EQ(actions, 0);  // dialogs are the engine's own business
}

TEST_F(OruEngineDialogTest, DialogAskedJustBeforeAReopenNeverShowsInTheNewShow) {
  Open(true);
  Action(acOpenDialog, u"credits");
  engine->Events()->Post(TOruEngine::kHelpEvent, nullptr);
  // The reopen replaces loader and overlay while the old loader may be
  // making the dialogs or have posted them already.
  Open(true);
  Action(acOpenDialog, u"credits");
  ASSERT_TRUE(PassUntil([&] { return Shows(u"credits"); }));
  for (int i = 0; i < 50; ++i) engine->Step();
  EXPECT_EQ(engine->Overlay()->DialogCount(), 1);
  EXPECT_FALSE(Shows(u"help"));
}

}  // namespace
