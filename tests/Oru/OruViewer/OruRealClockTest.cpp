// The player on the real clock, as a user runs it (no frame stepping), in
// process: what the window shows is taken where the window layer hands it to
// the display, with the show time its pixels carry. The tests wait for
// frames, never for a time: a loaded machine only makes them slower.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruViewer/OruShowViewer.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/kit/ShowBuilder.h"

using namespace oru;

namespace {

constexpr std::uint32_t Rgb(int r, int g, int b) {
  return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}
constexpr std::uint32_t kSlideColours[3] = {Rgb(220, 40, 40), Rgb(40, 200, 40), Rgb(40, 40, 220)};
constexpr long long kSlideMs = 1500;
constexpr long long kShowMs = 3 * kSlideMs;
// A run that never gets what it waits for ends here (program time), and fails.
constexpr std::uint32_t kGiveUpMs = 60000;

bool CloseTo(std::uint32_t got, std::uint32_t want) {
  for (int s : {16, 8, 0})
    if (std::abs(int(got >> s & 0xFF) - int(want >> s & 0xFF)) > 4) return false;
  return true;
}

// The slide (0-2) whose colour Colour is, or -1.
int SlideOf(std::uint32_t colour) {
  for (int i = 0; i < 3; ++i)
    if (CloseTo(colour, kSlideColours[i])) return i;
  return -1;
}

struct TPresent {
  std::int64_t ShowTime = -1;
  int Width = 0, Height = 0;
  std::uint32_t Centre = 0, TopLeft = 0, BottomRight = 0;  // 0x00RRGGBB
  // The whole frame shows one slide's colour.
  int Slide() const {
    const int s = SlideOf(Centre);
    return s >= 0 && SlideOf(TopLeft) == s && SlideOf(BottomRight) == s ? s : -1;
  }
};

plat::HWND Window(TMainForm& form) { return form.Controller() ? form.Controller()->Handle() : nullptr; }

struct TRealRun {
  std::vector<TPresent> Presents;  // of the main window, in order
  std::vector<std::string> Boxes;
  bool Started = false;
  bool GaveUp = false;
  std::vector<std::uint32_t> EngineFrames;  // program clock of each frame the engine presented
};

// Three solid slides of kSlideMs with hard cuts, in a 160 x 120 window with
// a frame (the user may resize it with "-resize"); repeated, or standing at
// its end with Stop.
std::string HardCutShow(zmtest::TShowBuilder& show, bool stop = false) {
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0).Key("opt_withoutborder", 0);
  if (stop) show.Main().Key("opt_repeat", "stop");
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t c = kSlideColours[i];
    show.AddSlide(kSlideMs * (i + 1))
        .SolidBackground(std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c))
        .Transition("quick", 0);
  }
  show.Write();
  return show.Folder();
}

// Plays the show of Folder on the real clock until it closes itself, or
// Tick (on the UI thread, with the presents so far) closes it. Drawn, when
// given, is told of each frame of the engine (on its thread) as it is drawn.
TRealRun PlayReal(const std::string& folder, const zm::WideString& line,
                  const std::function<void(TMainForm&, const std::vector<TPresent>&)>& tick = nullptr,
                  const std::function<void()>& drawn = nullptr) {
  TRealRun run;
  // Named by the first tick. A busy machine may present the first frames
  // before it: they wait here until then. (Presents and ticks both come on
  // the UI thread.)
  plat::HWND main = nullptr;
  std::vector<std::pair<plat::HWND, TPresent>> early;
  plat::headless::SetPresentObserver([&](plat::HWND window, std::int64_t showTime, const std::uint32_t* bits,
                                         int width, int height) {
    if ((main && window != main) || !bits || width <= 0 || height <= 0) return;
    TPresent p;
    p.ShowTime = showTime;
    p.Width = width;
    p.Height = height;
    const auto at = [&](int x, int y) { return bits[std::size_t(y) * std::size_t(width) + std::size_t(x)] & 0xFFFFFF; };
    p.Centre = at(width / 2, height / 2);
    p.TopLeft = at(0, 0);
    p.BottomRight = at(width - 1, height - 1);
    if (main) run.Presents.push_back(p);
    else early.emplace_back(window, p);
  });
  const std::uint32_t start = plat::TickCount32();
  std::mutex lock;
  const orutest::TInProcessRun played = orutest::PlayInProcess(
      u"player -filename \"" + plat::FromUtf8(folder + "/Project.oru") + u"\" " + line, 0,
      [&](std::int64_t, const std::uint32_t*, int, int) {
        std::lock_guard<std::mutex> l(lock);
        run.EngineFrames.push_back(plat::TickCount32());
        if (drawn) drawn();
        return false;
      },
      {}, -1,
      [&](TMainForm& form) {
        if (!main && Window(form)) {
          main = Window(form);
          for (const auto& [window, p] : early)
            if (window == main) run.Presents.push_back(p);
          early.clear();
        }
        if (plat::TickCount32() - start > kGiveUpMs) {
          run.GaveUp = true;
          form.Close();
          return;
        }
        if (tick) tick(form, run.Presents);
      });
  plat::headless::SetPresentObserver(nullptr);
  run.Started = played.Started;
  run.Boxes = played.Boxes;
  return run;
}

// Every frame that shows a slide carries a show time inside that slide's
// span: no slide shows before its start or after its end.
void ExpectStampsMatchTheSlides(const TRealRun& run) {
  int shown = 0;
  for (std::size_t i = 0; i < run.Presents.size(); ++i) {
    const TPresent& p = run.Presents[i];
    const int s = SlideOf(p.Centre);
    if (s < 0) continue;
    ++shown;
    EXPECT_GE(p.ShowTime, kSlideMs * s) << "present " << i << " shows slide " << s + 1 << " before its start";
    EXPECT_LE(p.ShowTime, kSlideMs * (s + 1)) << "present " << i << " shows slide " << s + 1 << " after its end";
  }
  EXPECT_GT(shown, 0);
}

// The frames before the engine's first one show no slide; the
// engine's first frame on screen shows the slide of the start.
void ExpectStartSlideFirst(const TRealRun& run, int slide) {
  ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
  ASSERT_FALSE(run.GaveUp);
  auto first =
      std::find_if(run.Presents.begin(), run.Presents.end(), [](const TPresent& p) { return p.ShowTime >= 0; });
  ASSERT_NE(first, run.Presents.end()) << "no frame of the show reached the window";
  EXPECT_EQ(first->Slide(), slide) << std::hex << "centre 0x" << first->Centre << " at " << std::dec
                                   << first->ShowTime;
  ExpectStampsMatchTheSlides(run);
}

}  // namespace

TEST(RealClock, FirstSlideShowsFromTheStartForEveryStartPosition) {
  zmtest::TShowBuilder show;
  const std::string folder = HardCutShow(show);
  {
    const TRealRun run = PlayReal(folder, u"");
    ExpectStartSlideFirst(run, 0);
    // Each slide shows for its span, and the show closed itself at its end
    // on the last slide (not the first one of a next pass).
    std::vector<int> order;
    for (const TPresent& p : run.Presents)
      if (p.Slide() >= 0 && (order.empty() || order.back() != p.Slide())) order.push_back(p.Slide());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  }
  ExpectStartSlideFirst(PlayReal(folder, u"-slide 2"), 1);
  ExpectStartSlideFirst(PlayReal(folder, u"-time 3500"), 2);
  // A machine too busy to show the window at once: its UI thread is held up
  // for two seconds as the engine's first frame asks it to show the window.
  // The show waits for its window, and starts with the first slide all the
  // same.
  std::mutex lock;
  std::condition_variable held;
  bool holding = false, first = true;
  const TRealRun late = PlayReal(
      folder, u"",
      [&](TMainForm&, const std::vector<TPresent>&) {
        {
          std::lock_guard<std::mutex> l(lock);
          if (std::exchange(holding, true)) return;
        }
        held.notify_all();
        std::this_thread::sleep_for(std::chrono::seconds(2));
      },
      [&] {
        std::unique_lock<std::mutex> l(lock);
        if (std::exchange(first, false)) held.wait_for(l, std::chrono::seconds(30), [&] { return holding; });
      });
  ExpectStartSlideFirst(late, 0);
}

TEST(RealClock, ResizedWindowShowsTheSlideLaidOutAnewPlayingAndPaused) {
  zmtest::TShowBuilder show;
  const std::string folder = HardCutShow(show);
  for (const bool paused : {false, true}) {
    SCOPED_TRACE(paused ? "paused" : "playing");
    bool resized = false, done = false;
    int slide = -1;
    const TRealRun run = PlayReal(folder, u"-resize", [&](TMainForm& form, const std::vector<TPresent>& presents) {
      if (done || presents.empty()) return;
      const TPresent& last = presents.back();
      if (!resized) {
        // Once the first slide is on screen: pause (or not), then make the
        // window twice as large.
        if (last.Slide() != 0) return;
        if (paused) form.Viewer()->SetPaused(true);
        plat::RECT r;
        plat::GetWindowRect(Window(form), &r);
        plat::headless::DragResize(Window(form), plat::WMSZ_BOTTOMRIGHT,
                                   plat::RECT{r.left, r.top, r.right + 160, r.bottom + 120});
        resized = true;
        return;
      }
      // The whole larger window shows a slide, laid out for its size.
      if (last.Width == 320 && last.Height == 240 && last.Slide() >= 0) {
        slide = last.Slide();
        done = true;
        if (paused) form.Close();
      }
    });
    ASSERT_TRUE(run.Started);
    EXPECT_FALSE(run.GaveUp);
    EXPECT_TRUE(done) << "no frame filled the resized window";
    if (paused) EXPECT_EQ(slide, 0) << "the paused show moved on";
    ExpectStampsMatchTheSlides(run);
  }
}

TEST(RealClock, TinyWindowsAndAResizeOnEveryFrameDrawNothingWrong) {
  zmtest::TShowBuilder show;
  const std::string folder = HardCutShow(show);
  // Client sizes the user drags the window to, one per tick once the show
  // is on screen, among them none at all and a single pixel.
  const plat::SIZE sizes[] = {{1, 1}, {0, 0}, {3, 2}, {500, 300}, {1, 1}, {161, 121}, {0, 0}, {320, 240}};
  std::size_t next = 0;
  bool settled = false;
  const TRealRun run = PlayReal(folder, u"-resize", [&](TMainForm& form, const std::vector<TPresent>& presents) {
    if (settled || presents.empty()) return;
    if (next == 0 && presents.back().Slide() < 0) return;
    if (next < std::size(sizes)) {
      plat::RECT outer, client;
      plat::GetWindowRect(Window(form), &outer);
      plat::GetClientRect(Window(form), &client);
      const int fw = (outer.right - outer.left) - client.right, fh = (outer.bottom - outer.top) - client.bottom;
      plat::headless::DragResize(Window(form), plat::WMSZ_BOTTOMRIGHT,
                                 plat::RECT{outer.left, outer.top, outer.left + fw + sizes[next].cx,
                                            outer.top + fh + sizes[next].cy});
      ++next;
      return;
    }
    // The last size stays: a frame fills it with a slide.
    const TPresent& last = presents.back();
    if (last.Width == 320 && last.Height == 240 && last.Slide() >= 0) settled = true;
  });
  ASSERT_TRUE(run.Started);
  EXPECT_FALSE(run.GaveUp);
  EXPECT_EQ(next, std::size(sizes));
  EXPECT_TRUE(settled) << "no frame filled the window after the resizes";
  ExpectStampsMatchTheSlides(run);
}

TEST(RealClock, RepaintStormDrawsAtMostOneFramePerRefreshInterval) {
  zmtest::TShowBuilder show;
  const std::string folder = HardCutShow(show);
  std::uint32_t stormStart = 0, stormEnd = 0;
  int repaints = 0, framesBeforeEnd = 0;
  std::atomic<int> frames{0};
  bool answered = false;
  const auto storm = [&](TMainForm& form, const std::vector<TPresent>& presents) {
    if (answered || presents.empty()) return;
    if (repaints >= 1000) {
      // The last repaint is answered too: a frame of the engine follows it
      // (however long a busy machine takes to draw it), and the window
      // shows the slide.
      if (frames.load() > framesBeforeEnd && presents.back().Slide() == 0) {
        answered = true;
        form.Close();
      }
      return;
    }
    if (repaints == 0) {
      // On a still slide: only the repaints make frames.
      if (presents.back().Slide() != 0) return;
      form.Viewer()->SetPaused(true);
      stormStart = plat::TickCount32();
    }
    // A burst of repaints of the whole window on every tick.
    for (int i = 0; i < 50 && repaints < 1000; ++i, ++repaints) {
      plat::InvalidateRect(Window(form), nullptr, 1);
      plat::UpdateWindow(Window(form));
    }
    if (repaints == 1000) {
      stormEnd = plat::TickCount32();
      framesBeforeEnd = frames.load();
    }
  };
  const TRealRun run = PlayReal(folder, u"", storm, [&] { ++frames; });
  ASSERT_TRUE(run.Started);
  ASSERT_EQ(repaints, 1000);
  EXPECT_TRUE(answered) << "the last repaint drew no frame";
  EXPECT_FALSE(run.GaveUp);
  // The engine's frames during the storm: one per 16 ms at most. (How many
  // come is the machine's matter: a busy one may draw none until it ends.)
  const auto during = std::count_if(run.EngineFrames.begin(), run.EngineFrames.end(), [&](std::uint32_t t) {
    return std::int32_t(t - stormStart) >= 0 && std::int32_t(stormEnd - t) >= 0;
  });
  EXPECT_LE(during, std::int64_t((stormEnd - stormStart) / 16) + 2);
  ExpectStampsMatchTheSlides(run);
}

// A window nobody sees (minimised by the window manager) gets no frame, and
// the engine draws none, while the show goes on; back on screen it shows
// the slide of that moment at once.
TEST(RealClock, MinimisedWindowGetsNoFrameAndShowsTheSlideOfTheMomentWhenBack) {
  zmtest::TShowBuilder show;
  const std::string folder = HardCutShow(show, true);
  enum { kPlaying, kAway, kBack, kDone } phase = kPlaying;
  std::size_t presentsAway = 0, presentsBack = 0;
  int framesAway = 0;
  std::atomic<int> frames{0};
  std::int32_t timeAway = -1, timeBack = -1;
  const TRealRun run = PlayReal(folder, u"", [&](TMainForm& form, const std::vector<TPresent>& presents) {
    if (presents.empty()) return;
    switch (phase) {
      case kPlaying:
        if (presents.back().Slide() != 0) return;
        plat::headless::SetSeenByDisplay(Window(form), false);
        presentsAway = presents.size();
        framesAway = frames.load();
        timeAway = form.Viewer()->Time();
        phase = kAway;
        return;
      case kAway:
        // The show goes on to its third slide unseen.
        if (form.Viewer()->Time() < 2 * kSlideMs + 100) return;
        presentsAway = presents.size() - presentsAway;
        framesAway = frames.load() - framesAway;
        timeBack = form.Viewer()->Time();
        plat::headless::SetSeenByDisplay(Window(form), true);
        presentsBack = presents.size();
        phase = kBack;
        return;
      case kBack:
        for (std::size_t i = presentsBack; i < presents.size(); ++i)
          if (presents[i].Slide() == 2 && presents[i].ShowTime >= timeBack) {
            phase = kDone;
            form.Close();
            return;
          }
        return;
      case kDone: return;
    }
  }, [&] { ++frames; });
  ASSERT_TRUE(run.Started);
  EXPECT_FALSE(run.GaveUp);
  ASSERT_GE(timeAway, 0);
  EXPECT_EQ(presentsAway, 0u) << "frames reached the window while nobody saw it";
  // A frame the engine was drawing as the window went may still end.
  EXPECT_LE(framesAway, 1) << "the engine drew while nobody saw the window";
  EXPECT_EQ(phase, kDone) << "no frame of the third slide came back";
  ExpectStampsMatchTheSlides(run);
}
