// The player as a user meets it: shows play in process on the real clock and
// with the real slide loader, while a thread of the test presses keys and
// clicks through the window system. A "pause" slide is left by every way on;
// a click on a link runs only the link; a dialog's close text closes it; a
// screen saver ends on any key, any button and a move beyond 10 pixels, but
// not on a trembling hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Oru/OruViewer/OruScreenSaver.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmLists.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/kit/ShowBuilder.h"

namespace {

namespace hl = plat::headless;
using zm::WideString;

constexpr int kW = 320, kH = 180;
constexpr std::uint32_t kRed = 0xC82828, kGreen = 0x28C828, kBlue = 0x2828C8;
// Waiting for the player is bounded only to fail instead of hanging.
constexpr auto kPatience = std::chrono::seconds(60);

// The frames the player presents (show times), seen by the driving thread.
class TDriver {
public:
  // False when the run ended or Patience ran out first.
  bool WaitFor(const std::function<bool(const std::vector<std::int64_t>&)>& ready) {
    std::unique_lock<std::mutex> l(lock_);
    return changed_.wait_for(l, kPatience, [&] { return over_ || ready(times_); }) && !over_;
  }
  bool WaitForTime(std::int64_t at) {
    return WaitFor([at](const std::vector<std::int64_t>& t) { return !t.empty() && t.back() >= at; });
  }
  std::vector<std::int64_t> Times() {
    std::lock_guard<std::mutex> l(lock_);
    return times_;
  }
  // True when the run ended (by itself) within Patience.
  bool Ended() {
    std::unique_lock<std::mutex> l(lock_);
    return changed_.wait_for(l, kPatience, [&] { return over_; });
  }
  // Plays the show of Folder (with Switches) on the real clock while Drive
  // runs on its own thread; Drive ends the run, as a rule with Esc.
  orutest::TInProcessRun Play(const std::string& folder, const std::function<void()>& drive,
                              const WideString& switches = {}) {
    std::thread driver([&] {
      drive();
      // Whatever happened, the run ends.
      Esc();
    });
    const orutest::TInProcessRun run = orutest::PlayInProcess(
        u"player -filename \"" + plat::FromUtf8(folder + "/Project.oru") + u"\" " + switches, 0,
        [&](std::int64_t time, const std::uint32_t*, int, int) {
          std::lock_guard<std::mutex> l(lock_);
          times_.push_back(time);
          changed_.notify_all();
          return false;
        });
    {
      std::lock_guard<std::mutex> l(lock_);
      over_ = true;
    }
    changed_.notify_all();
    driver.join();
    hl::MoveMouse(plat::POINT{1919, 1079});  // out of the way of the next run
    return run;
  }

  // The player's window and a point of its client area on the screen.
  static plat::HWND Window() {
    plat::HWND w = plat::FindWindowExW(nullptr, nullptr, nullptr, u"OruViewer v5.6");
    return w ? w : plat::GetForegroundWindow();
  }
  static plat::POINT OnScreen(int x, int y) {
    plat::POINT p{x, y};
    plat::ClientToScreen(Window(), &p);
    return p;
  }
  static void Key(plat::UINT vk) {
    hl::Key(vk, true);
    hl::Key(vk, false);
  }
  static void Esc() { Key(27); }
  static void Click(int x, int y, int button = 1) {
    hl::MoveMouse(OnScreen(x, y));
    hl::Press(button);
    hl::Release(button);
  }
  // The colour the window shows at a client point (0x00RRGGBB; ~0u: none).
  static std::uint32_t Shown(int x, int y) {
    int w = 0, h = 0;
    const std::vector<std::uint32_t> bits = hl::CaptureClient(Window(), w, h);
    if (x < 0 || y < 0 || x >= w || y >= h) return ~0u;
    return bits[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xFFFFFF;
  }

private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::int64_t> times_;
  bool over_ = false;
};

bool Near(std::uint32_t got, std::uint32_t want, int tolerance = 12) {
  for (int s : {16, 8, 0})
    if (std::abs(int(got >> s & 0xFF) - int(want >> s & 0xFF)) > tolerance) return false;
  return true;
}

// A slide of one colour with a small box moving along its top edge, so that
// frames come all the time the show plays (and none while it stands).
void Solid(zmtest::TShowSlide& s, std::uint32_t rgb, long long lengthMs) {
  s.SolidBackground(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb)).Transition("quick", 0);
  zmtest::TShowObject& mover = s.Box("Mover", 40, 40, "255,255,255");
  mover.KeyPoint(0).Position(-90, -80).Scale(10, 10);
  mover.KeyPoint(lengthMs).Position(90, -80).Scale(10, 10);
}

// Three slides; the first (red) waits at its end, the second (green) comes
// without a transition, so that at the stop it has begun.
void PauseShow(zmtest::TShowBuilder& show) {
  show.ScreenSize(kW, kH).Main().Key("opt_scr_full", 0).Key("opt_leftmouse", "Next slide");
  Solid(show.AddSlide(1500), kRed, 1500);
  show.Slide(0).EndAction("pause");
  Solid(show.AddSlide(3500), kGreen, 2000);
  Solid(show.AddSlide(5500), kBlue, 2000);
  show.Write();
}

}  // namespace

TEST(Interaction, PauseSlideIsLeftByEveryWayOnAndDoesNotHoldAgain) {
  zmtest::TShowBuilder show;
  PauseShow(show);
  struct TWay {
    const char* Name;
    std::function<void()> Do;
  };
  const TWay ways[] = {
      {"Right", [] { TDriver::Key(39); }},
      {"Right twice",
       [] {
         TDriver::Key(39);
         TDriver::Key(39);
       }},
      {"Space", [] { TDriver::Key(32); }},
      {"left click set to next slide", [] { TDriver::Click(kW / 2, kH / 2); }},
      // The second press pauses the show that went on; a third plays it on.
      {"Space twice, then again",
       [] {
         for (int i = 0; i < 3; ++i) TDriver::Key(32);
       }},
  };
  for (const TWay& way : ways) {
    SCOPED_TRACE(way.Name);
    TDriver d;
    bool stopped = false, passed = false;
    std::uint32_t waiting = ~0u;
    const orutest::TInProcessRun run = d.Play(show.Folder(), [&] {
      // The stop: a frame at exactly the slide's end, and then none.
      stopped = d.WaitFor([](const std::vector<std::int64_t>& t) { return !t.empty() && t.back() == 1500; });
      if (!stopped) return;
      waiting = TDriver::Shown(kW / 2, kH / 2);
      way.Do();
      passed = d.WaitForTime(1700);
    });
    ASSERT_TRUE(run.Started);
    EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
    ASSERT_TRUE(stopped) << "the show never stood at the pause slide's end";
    EXPECT_TRUE(Near(waiting, kRed)) << std::hex << "the waiting slide is not on screen: 0x" << waiting;
    EXPECT_TRUE(passed) << "still at " << (d.Times().empty() ? -1 : d.Times().back());
    // Once past the stop the show never stood at it again.
    const std::vector<std::int64_t> t = d.Times();
    auto past = std::find(t.begin(), t.end(), 1500);
    while (past != t.end() && *past == 1500) ++past;
    EXPECT_EQ(std::count(past, t.end(), 1500), 0);
  }
}

// A box with the action "pause" on a show whose left click is "Next slide":
// clicking it twice pauses and plays again, in the same slide. Running the
// click option too would go to the second and the third slide.
TEST(Interaction, ClickOnALinkRunsOnlyTheLink) {
  zmtest::TShowBuilder show;
  show.ScreenSize(kW, kH).Main().Key("opt_scr_full", 0).Key("opt_leftmouse", "Next slide");
  Solid(show.AddSlide(4000), kRed, 4000);
  show.Slide(0).Box("Link", 160, 90, "255,255,255").Key("Action", "pause").KeyPoint(0).Scale(50, 50);
  Solid(show.AddSlide(8000), kGreen, 4000);
  Solid(show.AddSlide(12000), kBlue, 4000);
  show.Write();
  TDriver d;
  bool clicked = false, played = false;
  const orutest::TInProcessRun run = d.Play(show.Folder(), [&] {
    // The form takes no clicks in its first second.
    if (!d.WaitForTime(1200)) return;
    clicked = Near(TDriver::Shown(kW / 2, kH / 2), 0xFFFFFF);
    TDriver::Click(kW / 2 - 10, kH / 2);
    // Elsewhere on the link, so that it is no double click.
    TDriver::Click(kW / 2 + 10, kH / 2 + 10);
    played = d.WaitForTime(3000);
  });
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(clicked) << "the link is not where it was clicked";
  EXPECT_TRUE(played);
  const std::vector<std::int64_t> t = d.Times();
  for (std::size_t i = 1; i < t.size(); ++i) ASSERT_LT(t[i] - t[i - 1], 1000) << "a jump from " << t[i - 1];
  EXPECT_LT(t.back(), 4000);
}

// A named dialog that holds the show, opened by a box on the slide: its text
// "[close]" with the action "closedialog" shows its click colour while it is
// pressed and closes the dialog when released; the show plays on.
TEST(Interaction, DialogCloseTextIsPressedAndClosesTheDialog) {
  zmtest::TShowBuilder show;
  show.ScreenSize(kW, kH)
      .Main()
      .Key("opt_scr_full", 0)
      .Key("opt_customdialogscount", 1)
      .Key("custom_dialog1", "Info");
  Solid(show.AddSlide(6000), kRed, 6000);
  show.Slide(0)
      .Box("Open", 80, 60, "255,255,255")
      .Key("Action", "opendialog(\"Info\")")
      .KeyPoint(0)
      .Position(-50, 0)
      .Scale(33, 33);
  Solid(show.AddSlide(9000), kGreen, 3000);
  zmtest::TShowSection& dialog = show.Section("dialog_1_");
  dialog.Add("Panel", "Box").Pair("Size", 320, 180).Key("Color1", "60,60,60").KeyPoint(0).Scale(60, 60);
  dialog.Add("Close", "Text")
      .Text("Text", "[close]")
      .Key("FontName", "DejaVu Sans")
      .Key("TextColor", "255,255,255")
      .Key("TextColorHover", "255,255,0")
      .Key("TextColorClick", "0,255,255")
      .Key("ShadowEnable", 0)
      .Key("Action", "closedialog")
      .KeyPoint(0)
      .Position(40, 40)
      .Scale(25, 25);
  show.Write();
  // The text's place: its centre, and a rectangle around it.
  const int cx = kW / 2 + kW * 40 / 200, cy = kH / 2 + kH * 40 / 200;
  const auto showsText = [&](std::uint32_t colour) {
    int w = 0, h = 0;
    const std::vector<std::uint32_t> bits = hl::CaptureClient(TDriver::Window(), w, h);
    for (int y = cy - 12; y <= cy + 12; ++y)
      for (int x = cx - 40; x <= cx + 40; ++x)
        if (x >= 0 && y >= 0 && x < w && y < h && Near(bits[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xFFFFFF, colour, 30))
          return true;
    return false;
  };
  TDriver d;
  bool opened = false, pressed = false, played = false;
  const orutest::TInProcessRun run = d.Play(show.Folder(), [&] {
    if (!d.WaitForTime(1200)) return;
    TDriver::Click(kW / 4, kH / 2);
    opened = d.WaitFor([&](const std::vector<std::int64_t>&) { return Near(TDriver::Shown(kW / 2, kH / 2 - 40), 0x3C3C3C); });
    if (!opened) return;
    const std::int64_t held = d.Times().back();
    hl::MoveMouse(TDriver::OnScreen(cx, cy));
    hl::Press(1);
    pressed = d.WaitFor([&](const std::vector<std::int64_t>&) { return showsText(0x00FFFF); });
    hl::Release(1);
    played = d.WaitForTime(held + 1000);
  });
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
  ASSERT_TRUE(opened) << "the dialog did not open";
  EXPECT_TRUE(pressed) << "the pressed text did not take its click colour";
  EXPECT_TRUE(played) << "the dialog still holds the show";
}

// On a slide as in a dialog: a link text takes its click colour while the
// left button is held over it, also while the pointer moves on it and the
// frames go on.
TEST(Interaction, PressedLookShowsOnTheSlideWhileHeld) {
  zmtest::TShowBuilder show;
  show.ScreenSize(kW, kH).Main().Key("opt_scr_full", 0);
  Solid(show.AddSlide(8000), kRed, 8000);
  show.Slide(0)
      .TextObject("Link", "[link]")
      .Key("FontName", "DejaVu Sans")
      .Key("TextColor", "255,255,255")
      .Key("TextColorHover", "255,255,0")
      .Key("TextColorClick", "0,255,255")
      .Key("ShadowEnable", 0)
      .Key("Action", "pause")
      .KeyPoint(0)
      .Position(40, 40)
      .Scale(25, 25);
  show.Write();
  const int cx = kW / 2 + kW * 40 / 200, cy = kH / 2 + kH * 40 / 200;
  const auto showsText = [&](std::uint32_t colour) {
    int w = 0, h = 0;
    const std::vector<std::uint32_t> bits = hl::CaptureClient(TDriver::Window(), w, h);
    for (int y = cy - 12; y <= cy + 12; ++y)
      for (int x = cx - 40; x <= cx + 40; ++x)
        if (x >= 0 && y >= 0 && x < w && y < h &&
            Near(bits[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xFFFFFF, colour, 30))
          return true;
    return false;
  };
  TDriver d;
  bool hover = false, pressed = false, held = false;
  const orutest::TInProcessRun run = d.Play(show.Folder(), [&] {
    if (!d.WaitForTime(1200)) return;
    hl::MoveMouse(TDriver::OnScreen(cx, cy));
    hover = d.WaitFor([&](const std::vector<std::int64_t>&) { return showsText(0xFFFF00); });
    hl::Press(1);
    pressed = d.WaitFor([&](const std::vector<std::int64_t>&) { return showsText(0x00FFFF); });
    // A small move with the button down, then frames later still pressed.
    hl::MoveMouse(TDriver::OnScreen(cx + 2, cy));
    const std::int64_t at = d.Times().back();
    held = d.WaitForTime(at + 300) && showsText(0x00FFFF) && !showsText(0xFFFF00);
    hl::Release(1);
  });
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
  EXPECT_TRUE(hover) << "the link did not take its hover colour";
  EXPECT_TRUE(pressed) << "the link did not take its click colour";
  EXPECT_TRUE(held) << "the click colour did not last while the button was held";
}

// A link shows its hover colour while the pointer rests on it; when the
// pointer then leaves the window in one move (no move of it comes after the
// rest), the link is plain again.
TEST(Interaction, HoverEndsWhenTheRestingPointerLeavesTheWindow) {
  zmtest::TShowBuilder show;
  show.ScreenSize(kW, kH).Main().Key("opt_scr_full", 0);
  Solid(show.AddSlide(8000), kRed, 8000);
  show.Slide(0)
      .TextObject("Link", "[link]")
      .Key("FontName", "DejaVu Sans")
      .Key("TextColor", "255,255,255")
      .Key("TextColorHover", "255,255,0")
      .Key("ShadowEnable", 0)
      .Key("Action", "pause")
      .KeyPoint(0)
      .Position(40, 40)
      .Scale(25, 25);
  show.Write();
  const int cx = kW / 2 + kW * 40 / 200, cy = kH / 2 + kH * 40 / 200;
  const auto showsText = [&](std::uint32_t colour) {
    int w = 0, h = 0;
    const std::vector<std::uint32_t> bits = hl::CaptureClient(TDriver::Window(), w, h);
    for (int y = cy - 12; y <= cy + 12; ++y)
      for (int x = cx - 40; x <= cx + 40; ++x)
        if (x >= 0 && y >= 0 && x < w && y < h &&
            Near(bits[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xFFFFFF, colour, 30))
          return true;
    return false;
  };
  TDriver d;
  bool hover = false, rested = false, plain = false;
  const orutest::TInProcessRun run = d.Play(show.Folder(), [&] {
    if (!d.WaitForTime(1200)) return;
    hl::MoveMouse(TDriver::OnScreen(cx, cy));
    hover = d.WaitFor([&](const std::vector<std::int64_t>&) { return showsText(0xFFFF00); });
    // Past the second after which a resting pointer is no longer looked at.
    rested = d.WaitForTime(d.Times().back() + 1500) && showsText(0xFFFF00);
    hl::MoveMouse(TDriver::OnScreen(kW + 300, kH + 200));
    plain = d.WaitFor([&](const std::vector<std::int64_t>&) { return showsText(0xFFFFFF) && !showsText(0xFFFF00); });
  });
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
  ASSERT_TRUE(hover) << "the link did not take its hover colour";
  EXPECT_TRUE(rested) << "the hover colour did not last while the pointer rested";
  EXPECT_TRUE(plain) << "the hover colour stayed after the pointer left";
}

namespace {

// The program runs as the system's screen saver: its file ends in ".scr" and
// the system passed "/s".
class TAsScreenSaver {
public:
  TAsScreenSaver() : file_(zm::ProgramFile), args_(zm::CommandArgs), saver_(zm::MakeRef<zm::TStringList>()) {
    zm::ProgramFile = u"\\opt\\shows\\Show.scr";
    saver_->Add(u"/s");
    zm::CommandArgs = saver_.get();
  }
  ~TAsScreenSaver() {
    zm::ProgramFile = file_;
    zm::CommandArgs = args_;
    oru::FiniOruScreenSaver();
    oru::InitOruScreenSaver();
  }
  TAsScreenSaver(const TAsScreenSaver&) = delete;
  TAsScreenSaver& operator=(const TAsScreenSaver&) = delete;

private:
  WideString file_;
  zm::TStringList* args_;
  zm::TRef<zm::TStringList> saver_;
};

}  // namespace

// A show that says nothing of screen savers, run as one: any key, either
// button and a move of 11 pixels end it; moves within 9 pixels of where the
// pointer was first seen do not (the wheel still moves the show then).
TEST(Interaction, ScreenSaverEndsOnAnyInputButATremble) {
  zmtest::TShowBuilder show;
  show.ScreenSize(kW, kH).Main().Key("opt_scr_full", 0);
  Solid(show.AddSlide(20000), kRed, 20000);
  Solid(show.AddSlide(40000), kGreen, 20000);
  show.Write();
  const int x = kW / 2, y = kH / 2;
  struct TInput {
    const char* Name;
    std::function<void()> Do;
  };
  const TInput ends[] = {
      {"key A", [] { TDriver::Key('A'); }},
      {"Shift", [] { TDriver::Key(16); }},
      {"left button", [=] { TDriver::Click(x, y, 1); }},
      {"right button", [=] { TDriver::Click(x, y, 2); }},
      {"a move of 11 pixels", [=] { hl::MoveMouse(TDriver::OnScreen(x + 11, y)); }},
  };
  // The form has seen the pointer at (x, y) once a wheel notch behind that
  // move has moved the show 700 ms on (moves in a row may come as one).
  const auto seenAt = [&](TDriver& d) {
    hl::MoveMouse(TDriver::OnScreen(x, y));
    const std::int64_t before = d.Times().back();
    hl::Wheel(-120, TDriver::OnScreen(x, y));
    return d.WaitForTime(before + 700);
  };
  for (const TInput& input : ends) {
    SCOPED_TRACE(input.Name);
    TAsScreenSaver saver;
    TDriver d;
    bool ended = false;
    const orutest::TInProcessRun run = d.Play(show.Folder(), [&] {
      // The form takes no pointer in its first second.
      if (!d.WaitForTime(1200) || !seenAt(d)) return;
      input.Do();
      ended = d.Ended();
    });
    ASSERT_TRUE(run.Started);
    EXPECT_TRUE(ended) << "still playing at " << d.Times().back();
  }

  TAsScreenSaver saver;
  TDriver d;
  bool alive = false;
  const orutest::TInProcessRun run = d.Play(show.Folder(), [&] {
    if (!d.WaitForTime(1200) || !seenAt(d)) return;
    for (auto [dx, dy] : {std::pair{5, 4}, {-4, 5}, {9, 0}, {0, -9}, {-6, -3}})
      hl::MoveMouse(TDriver::OnScreen(x + dx, y + dy));
    // Still there: the wheel moves it on.
    alive = seenAt(d);
  });
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(alive) << "a trembling hand ended the screen saver";
}
