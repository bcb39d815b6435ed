#pragma once
// A root with hand-given refresh ticks, fixed-size text, a manual clock and
// styles of their own for the themed-control tests.
#include <gtest/gtest.h>

#include <string>

#include "ZmLib/Composite/winSurface.h"
#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmStdFrameControls.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/FixedText.h"

namespace themedtest {

using namespace zm;

inline std::uint32_t gNow = 0;
inline std::uint32_t ManualClock() { return gNow; }

// Every character 6 pixels wide, 12 high with ascent 9.
using zmtest::TFixedText;
inline constexpr auto* FixedText = &zmtest::FixedText<9, 3>;
inline void NoDraw(TDrawSurface*, TTextElement*, std::int32_t, std::int32_t) {}

struct TManualRoot : TRootControl {
  TRefreshNotifier* CreateRefreshNotifier() override { return MakeRef<TRefreshNotifier>(this).Detach(); }
};

// A parent that hands out the test's styles.
struct TStyledPanel : TStdFrameControl {
  using TStdFrameControl::TStdFrameControl;
};

struct ThemedEnv : ::testing::Test {
  TRootControl* root = NewControl<TManualRoot>();
  TRef<TControlStyles> styles = MakeRef<TControlStyles>();
  TFrameControl* panel = NewControl<TStyledPanel>(root, styles.get());
  zm::THookScope<TControlClockProc> clock{ControlClockHook};
  zm::THookScope<TCreateTextElementProc> captionText{CreateCaptionTextHook};
  zm::THookScope<TDrawTextElementProc> drawText{DrawTextElementHook};
  ThemedEnv() {
    root->SetSize(400, 300);
    panel->SetSize(400, 300);
    clock.Set(&ManualClock);
    gNow = 1000;
    captionText.Set(FixedText);
    drawText.Set(&NoDraw);
    root->SetFocus();
  }
  ~ThemedEnv() override {
    if (root) root->Free();
    ProcessDeferredFrees();
  }
  // A mouse event given in root coordinates, as the window would route it.
  TFrameControl* Mouse(std::int32_t kind, std::int32_t x, std::int32_t y, std::int32_t buttons = mbLeft) {
    TMouseData m;
    m.Kind = kind;
    m.X = x;
    m.Y = y;
    m.Buttons = kind == mkMove ? 0 : buttons;
    return root->MouseInput(m);
  }
  static void Key(TFrameControl* c, std::int32_t kind, std::uint16_t key) {
    auto k = MakeRef<TKeyboardData>();
    k->Kind = kind;
    k->Key = key;
    c->KeyNotify(k.get());
  }
  static TRef<TWinSurface> PaintOf(TFrameControl* c) {
    auto s = MakeRef<TWinSurface>(std::max(c->Width(), 1), std::max(c->Height(), 1));
    s->Invalidate({0, 0, s->Width(), s->Height()});
    s->FillRect({0, 0, s->Width(), s->Height()}, {1, 2, 3, 255});
    c->Paint(s.get());
    return s;
  }
};

inline TColor24 C24(TColor32 c) { return {c.B, c.G, c.R}; }

}  // namespace themedtest
