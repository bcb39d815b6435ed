// The demo show as run.sh plays it: generated, packed into a container and
// played headless on the stepped clock with frames captured. The title and
// the Exif caption show text; the PNG slide
// shows the slide's background through the picture's transparent parts and
// blends its soft edge; the animated GIF slide moves on from frame to frame.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruViewer/OruDrawerHooks.h"
#include "OruLib2/OruViewer/OruShowViewer.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmImageLib.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmCommandLine.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/DemoShow.h"
#include "tools/GifWriter.h"
#include "tools/OruPacker.h"

using namespace oru;
using zm::TRef;

namespace {

constexpr std::uint32_t kDemoStepMs = 20;
constexpr int kDemoWidth = 320, kDemoHeight = 180;
constexpr std::int64_t kDemoCaptured = 4;

struct TDemoPicture {
  int Width = 0, Height = 0;
  std::vector<std::uint32_t> Bits;  // 0x00RRGGBB
  std::uint32_t At(int x, int y) const { return Bits[std::size_t(y) * std::size_t(Width) + std::size_t(x)] & 0xFFFFFF; }
};

struct TDemoRun {
  bool Started = false;
  std::vector<std::string> Boxes;
  std::map<std::int64_t, TDemoPicture> Frames;  // the first frame at or after each asked time
  std::string Seen;                              // show times of the frames, for failure messages
};

// Plays the packed show from the start of a slide, keeping the frames at
// the given show times, until the last of them is past.
TDemoRun PlayPacked(const std::string& show, int slide, const std::vector<std::int64_t>& times, const std::string& captureDir) {
  TDemoRun run;
  const orutest::TInProcessRun played = orutest::PlayInProcess(
      u"player -exename \"" + plat::FromUtf8(show) + u"\" -slide " + plat::FromUtf8(std::to_string(slide)),
      kDemoStepMs,
      [&](std::int64_t time, const std::uint32_t* bits, int w, int h) {
        if (run.Seen.size() < 400) run.Seen += std::to_string(time) + (bits ? " " : "(no pixels) ");
        for (std::int64_t t : times)
          if (time >= t && !run.Frames.count(t) && bits && w > 0 && h > 0)
            run.Frames[t] =
                TDemoPicture{w, h, std::vector<std::uint32_t>(bits, bits + std::size_t(w) * std::size_t(h))};
        return run.Frames.size() == times.size() || time > times.back() + 5000;
      },
      captureDir, kDemoCaptured);
  run.Started = played.Started;
  run.Boxes = played.Boxes;
  return run;
}

int DemoChannel(std::uint32_t c, int shift) { return int(c >> shift) & 0xFF; }

std::string Hex(std::uint32_t c) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%06X", c);
  return s;
}

::testing::AssertionResult DemoNear(std::uint32_t got, std::uint32_t want, int tolerance) {
  for (int s : {16, 8, 0})
    if (std::abs(DemoChannel(got, s) - DemoChannel(want, s)) > tolerance)
      return ::testing::AssertionFailure() << "got " << Hex(got) << ", want " << Hex(want);
  return ::testing::AssertionSuccess();
}

// Every channel strictly between those of A and B (by a margin).
bool DemoBetween(std::uint32_t c, std::uint32_t a, std::uint32_t b) {
  for (int s : {16, 8, 0}) {
    const int lo = std::min(DemoChannel(a, s), DemoChannel(b, s)), hi = std::max(DemoChannel(a, s), DemoChannel(b, s));
    if (hi - lo > 40 && (DemoChannel(c, s) <= lo + 8 || DemoChannel(c, s) >= hi - 8)) return false;
  }
  return true;
}

// The mean x of the ball's pixels; -1 without any.
double BallX(const TDemoPicture& p) {
  double sum = 0;
  int n = 0;
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x)
      if (DemoNear(p.At(x, y), TDemoShowLayout::kGifBall, 24)) sum += x, ++n;
  return n > 20 ? sum / n : -1;
}

// The demo show written and packed as run.sh does it, once for the tests.
class DemoShow : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // PNG pictures go to the picture plug-in, built beside the player.
    pngLib_ = zm::RegisterImageLibrary(zm::kPngLibraryFile, {u".png"});
    folder_ = new zmtest::TTempFolder();
    TDemoShowOptions o;
    o.Slides = 3;
    o.Width = kDemoWidth;
    o.Height = kDemoHeight;
    layout_ = WriteDemoShow(folder_->File("project"), o);
    std::ostringstream out, err;
    packed_ = orupack::RunOruPack({folder_->File("project"), folder_->File("Demo.orushow")}, out, err) ==
              orupack::kPacked;
    ASSERT_TRUE(packed_) << err.str();
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  static std::string Show() { return folder_->File("Demo.orushow"); }

  static zmtest::TTempFolder* folder_;
  static TDemoShowLayout layout_;
  static bool packed_;
  static bool pngLib_;
};

zmtest::TTempFolder* DemoShow::folder_ = nullptr;
TDemoShowLayout DemoShow::layout_;
bool DemoShow::packed_ = false;
bool DemoShow::pngLib_ = false;

}  // namespace

TEST_F(DemoShow, PngSlideShowsTheBackgroundThroughItsTransparentParts) {
  ASSERT_TRUE(packed_);
  ASSERT_TRUE(pngLib_) << "the picture plug-in libzmPngLib.so was not built";
  // Past the cross-fade into the slide.
  const std::int64_t t = TDemoShowLayout::SlideStart(layout_.PngSlide) + TDemoShowLayout::kTransitionMs + 500;
  const std::string captures = folder_->File("captures");
  std::filesystem::create_directories(captures);
  const TDemoRun run = PlayPacked(Show(), layout_.PngSlide, {t}, captures);
  ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
  ASSERT_EQ(run.Frames.count(t), 1u);
  const TDemoPicture& p = run.Frames.at(t);
  ASSERT_EQ(p.Width, kDemoWidth);
  ASSERT_EQ(p.Height, kDemoHeight);
  const std::uint32_t bg = TDemoShowLayout::kPngBackground, disc = TDemoShowLayout::kPngDisc;
  // Fully transparent corners, the opaque centre, and the soft edge between.
  for (auto [x, y] : {std::pair{2, 2}, {kDemoWidth - 3, 2}, {2, kDemoHeight - 3}, {kDemoWidth - 3, kDemoHeight - 3}})
    EXPECT_TRUE(DemoNear(p.At(x, y), bg, 12)) << x << "," << y;
  EXPECT_TRUE(DemoNear(p.At(kDemoWidth / 2, kDemoHeight / 2), disc, 12));
  const int edge = kDemoHeight / 2 - int(0.3 * kDemoHeight * 0.8);  // 80 % of the disc's radius above the centre
  EXPECT_TRUE(DemoBetween(p.At(kDemoWidth / 2, edge), bg, disc)) << Hex(p.At(kDemoWidth / 2, edge));
  // The bar's opacity grows from left to right.
  const int barY = int(kDemoHeight * 0.88);
  const std::uint32_t left = p.At(int(kDemoWidth * 0.12), barY), right = p.At(int(kDemoWidth * 0.88), barY);
  EXPECT_LT(DemoChannel(left, 16), DemoChannel(right, 16));
  EXPECT_TRUE(DemoNear(right, 0xF0F0F0, 24)) << Hex(right);

  // The first frames went to the capture folder with a line each.
  std::ifstream tsv(captures + "/frames.tsv");
  int lines = 0;
  for (std::string line; std::getline(tsv, line);) lines += !line.empty();
  EXPECT_EQ(lines, kDemoCaptured);
  int pngs = 0;
  for (const auto& e : std::filesystem::directory_iterator(captures)) pngs += e.path().extension() == ".png";
  EXPECT_EQ(pngs, kDemoCaptured);
}

// A frame the program captured (libpng's simplified reader).
TDemoPicture ReadCapture(const std::string& file) {
  TDemoPicture p;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, file.c_str())) return p;
  img.format = PNG_FORMAT_BGRA;
  std::vector<std::uint32_t> bits(std::size_t(img.width) * img.height);
  if (png_image_finish_read(&img, nullptr, bits.data(), 0, nullptr)) {
    p.Width = int(img.width);
    p.Height = int(img.height);
    p.Bits = std::move(bits);
  }
  return p;
}

// The program itself, as built, finds the picture library where its build
// put it: the PNG slide shows its disc, not a placeholder.
TEST_F(DemoShow, ProgramDrawsThePngSlideWithTheLibraryBesideIt) {
  ASSERT_TRUE(packed_);
  const std::int64_t t = TDemoShowLayout::SlideStart(layout_.PngSlide) + TDemoShowLayout::kTransitionMs + 500;
  const std::string captures = folder_->File("program-captures");
  std::filesystem::create_directories(captures);
  const std::string command = "ZM_DISPLAY=headless ZM_AUDIO=none ZM_FRAME_STEP_MS=" + std::to_string(kDemoStepMs) +
                              " ZM_CAPTURE_DIR='" + captures + "' ZM_QUIT_AFTER_MS=" + std::to_string(t + 100) +
                              " '" ZM_PLAYER_FILE "' -exename '" + Show() + "' -slide " +
                              std::to_string(layout_.PngSlide);
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream tsv(captures + "/frames.tsv");
  std::string frame;
  for (std::string line; frame.empty() && std::getline(tsv, line);) {
    std::istringstream fields(line);
    std::string number, wall, window;
    std::int64_t time = -1;
    if (fields >> number >> wall >> window >> time && time >= t) frame = number;
  }
  ASSERT_FALSE(frame.empty()) << "no frame at " << t << " ms";
  frame.insert(0, 6 - std::min<std::size_t>(6, frame.size()), '0');
  const TDemoPicture p = ReadCapture(captures + "/" + frame + ".png");
  ASSERT_EQ(p.Width, kDemoWidth);
  ASSERT_EQ(p.Height, kDemoHeight);
  EXPECT_TRUE(DemoNear(p.At(kDemoWidth / 2, kDemoHeight / 2), TDemoShowLayout::kPngDisc, 12));
  EXPECT_TRUE(DemoNear(p.At(2, 2), TDemoShowLayout::kPngBackground, 12));
}

// Started as a user starts it, on the real clock: the window never shows its
// grey face (212, 208, 200) between the show's frames, and once the first
// frame of the show is out every frame is one of the show (the capture marks
// any other with the show time -1). Which thread comes first at the start
// varies; the runs give it a few chances.
TEST_F(DemoShow, ProgramShowsNoFrameOfTheWindowsFace) {
  ASSERT_TRUE(packed_);
  constexpr std::uint32_t kFace = 0xD4D0C8;
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string captures = folder_->File("face-captures-" + std::to_string(run));
    std::filesystem::create_directories(captures);
    const std::string command = "env -u ZM_FRAME_STEP_MS ZM_DISPLAY=headless ZM_AUDIO=none ZM_CAPTURE_DIR='" +
                                captures + "' ZM_CAPTURE_LIMIT=12 '" ZM_PLAYER_FILE "' -exename '" + Show() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream tsv(captures + "/frames.tsv");
    bool shown = false;
    int frames = 0;
    for (std::string line; std::getline(tsv, line);) {
      std::istringstream fields(line);
      std::string number, wall, window;
      std::int64_t time = -1;
      if (!(fields >> number >> wall >> window >> time)) continue;
      ++frames;
      if (shown) EXPECT_GE(time, 0) << "frame " << number << " after the first of the show";
      shown = shown || time >= 0;
      number.insert(0, 6 - std::min<std::size_t>(6, number.size()), '0');
      const TDemoPicture p = ReadCapture(captures + "/" + number + ".png");
      ASSERT_GT(p.Width, 0) << "frame " << number;
      for (const auto& [x, y] : {std::pair{0, 0}, {p.Width / 2, p.Height / 2}, {p.Width - 1, p.Height - 1}})
        EXPECT_NE(p.At(x, y), kFace) << "frame " << number << " at " << x << ", " << y;
    }
    EXPECT_TRUE(shown) << "no frame of the show in " << frames;
  }
}

// Small pictures of whole frames: the mean of each 10 x 10 block.
std::vector<std::uint32_t> Blocks(const TDemoPicture& p) {
  std::vector<std::uint32_t> out;
  for (int by = 0; by + 10 <= p.Height; by += 10)
    for (int bx = 0; bx + 10 <= p.Width; bx += 10) {
      int sum[3] = {0, 0, 0};
      for (int y = by; y < by + 10; ++y)
        for (int x = bx; x < bx + 10; ++x)
          for (int c = 0; c < 3; ++c) sum[c] += DemoChannel(p.At(x, y), 16 - 8 * c);
      out.push_back(std::uint32_t(sum[0] / 100) << 16 | std::uint32_t(sum[1] / 100) << 8 | std::uint32_t(sum[2] / 100));
    }
  return out;
}

struct TSeekRun {
  bool Started = false;
  std::vector<std::string> Boxes;
  std::vector<std::int64_t> Times;   // of the frame kept after each seek
  std::vector<TDemoPicture> Frames;  // that frame
  std::string Trouble;               // a cycle that never settled
};

// Plays the demo on the stepped clock and moves to each target in turn; with
// Resize the window is first made smaller and then given its size back, in
// an order that changes from cycle to cycle: the move before, with or after
// the window's size comes back. Keeps the first full-size frame at least
// Settle ms after each target (targets lie far apart), or, when Wanted is
// given, the first one at or after its time for that target: the resizes
// are made on the UI thread, which on a loaded machine may lag the frames,
// so a run with them keeps a later frame than a run without.
TSeekRun PlayWithSeeks(const std::string& show, const std::vector<std::int64_t>& targets, bool resize,
                       const std::vector<std::int64_t>* wanted = nullptr) {
  constexpr std::int64_t kSettle = 300;
  struct TState {
    std::mutex Lock;
    // Phase 0: smaller; 1: the size back; 3: the move a frame later; 2: wait for the frame.
    int Cycle = 0, Phase = 0;
    std::int64_t Frames = 0, FramesAtPhase = 0;
    bool Done = false;
  } st;
  TSeekRun run;
  const orutest::TInProcessRun played = orutest::PlayInProcess(
      u"player -exename \"" + plat::FromUtf8(show) + u"\"", kDemoStepMs,
      [&](std::int64_t time, const std::uint32_t* bits, int w, int h) {
        std::lock_guard<std::mutex> l(st.Lock);
        ++st.Frames;
        // Frames of before the move carry times of another slide.
        const std::size_t cycle = std::size_t(st.Cycle);
        const std::int64_t from = wanted ? (*wanted)[cycle] : targets[cycle] + kSettle;
        if (st.Phase == 2 && bits && w == kDemoWidth && h == kDemoHeight && time >= from && time < from + 2000) {
          run.Times.push_back(time);
          run.Frames.push_back(
              TDemoPicture{w, h, std::vector<std::uint32_t>(bits, bits + std::size_t(w) * std::size_t(h))});
          st.Phase = 0;
          st.FramesAtPhase = st.Frames;
          if (++st.Cycle == int(targets.size())) st.Done = true;
        } else if (st.Frames - st.FramesAtPhase > 2000) {
          run.Trouble = "cycle " + std::to_string(st.Cycle) + " phase " + std::to_string(st.Phase) + " never settled";
          st.Done = true;
        }
        return st.Done;
      },
      std::string(), -1,
      [&](TMainForm& form) {
        std::unique_lock<std::mutex> l(st.Lock);
        if (st.Done || st.Frames == 0) return;
        const plat::HWND window = form.Controller() ? form.Controller()->Handle() : nullptr;
        if (!window) return;
        const std::int64_t target = targets[std::size_t(st.Cycle)];
        const int order = st.Cycle % 3;
        plat::RECT outer, client;
        plat::GetWindowRect(window, &outer);
        plat::GetClientRect(window, &client);
        const int fw = (outer.right - outer.left) - client.right, fh = (outer.bottom - outer.top) - client.bottom;
        auto sizeTo = [&](int w, int h) {
          l.unlock();
          plat::headless::DragResize(window, 0, plat::RECT{outer.left, outer.top, outer.left + fw + w, outer.top + fh + h});
          l.lock();
        };
        auto seek = [&] {
          l.unlock();
          form.Viewer()->SetPosition(std::int32_t(target));
          l.lock();
        };
        if (st.Phase == 0) {
          if (resize) sizeTo(kDemoWidth * 5 / 8, kDemoHeight * 5 / 6);
          if (order == 0 || !resize) seek();
          st.Phase = resize ? 1 : 2;
          st.FramesAtPhase = st.Frames;
        } else if (st.Phase == 1 && st.Frames >= st.FramesAtPhase + 3) {
          if (resize) sizeTo(kDemoWidth, kDemoHeight);
          if (order == 1 && resize) seek();
          st.Phase = order == 2 && resize ? 3 : 2;
          st.FramesAtPhase = st.Frames;
        } else if (st.Phase == 3 && st.Frames >= st.FramesAtPhase + 1) {
          seek();
          st.Phase = 2;
        }
      });
  run.Started = played.Started;
  run.Boxes = played.Boxes;
  return run;
}

// Resizing the window and moving in the show, many times and in every order,
// leaves frames that a run without resizes shows at the same show times: the
// whole slide, laid out for the window, with the logo.
TEST_F(DemoShow, ResizesAndSeeksShowWhatACleanRunShows) {
  ASSERT_TRUE(packed_);
  std::vector<std::int64_t> targets;
  const int stills[] = {layout_.CaptionSlide, layout_.PngSlide, layout_.TitleSlide, layout_.CaptionSlide + 2};
  for (int i = 0; i < 12; ++i)
    targets.push_back(TDemoShowLayout::SlideStart(stills[i % 4]) + TDemoShowLayout::kTransitionMs + 200 + 40 * i);
  const TSeekRun resized = PlayWithSeeks(Show(), targets, true);
  ASSERT_TRUE(resized.Started) << (resized.Boxes.empty() ? "" : resized.Boxes.back());
  ASSERT_EQ(resized.Frames.size(), targets.size()) << resized.Trouble;
  const TSeekRun clean = PlayWithSeeks(Show(), targets, false, &resized.Times);
  ASSERT_TRUE(clean.Started) << (clean.Boxes.empty() ? "" : clean.Boxes.back());
  ASSERT_EQ(clean.Frames.size(), targets.size()) << clean.Trouble;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    SCOPED_TRACE("seek " + std::to_string(i) + " to " + std::to_string(targets[i]));
    // The same frame of a still slide: a zoom of 10 % over 4 s moves it by
    // far less than a block in a frame or two.
    EXPECT_LE(std::abs(resized.Times[i] - clean.Times[i]), 2 * std::int64_t(kDemoStepMs))
        << "clean run " << clean.Times[i] << ", resized " << resized.Times[i];
    const std::vector<std::uint32_t> a = Blocks(clean.Frames[i]), b = Blocks(resized.Frames[i]);
    int off = 0;
    for (std::size_t k = 0; k < a.size(); ++k) off += !DemoNear(a[k], b[k], 24);
    EXPECT_LE(off, int(a.size()) / 50) << off << " of " << a.size() << " blocks differ at " << resized.Times[i];
  }
}

TEST_F(DemoShow, GifSlidePlaysItsFrames) {
  ASSERT_TRUE(packed_);
  const std::int64_t start = TDemoShowLayout::SlideStart(layout_.GifSlide) + TDemoShowLayout::kTransitionMs;
  // Three frames of the animation apart.
  const std::int64_t a = start + 520, b = a + 3 * TDemoShowLayout::kGifFrameMs;
  const TDemoRun run = PlayPacked(Show(), layout_.GifSlide, {a, b}, {});
  ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
  ASSERT_EQ(run.Frames.size(), 2u);
  const double xa = BallX(run.Frames.at(a)), xb = BallX(run.Frames.at(b));
  ASSERT_GE(xa, 0) << "no ball in the first frame";
  ASSERT_GE(xb, 0) << "no ball in the second frame";
  // The ball moves 7 % of the width per frame, left to right or wrapping round.
  EXPECT_GT(std::abs(xb - xa), kDemoWidth * 0.07);
  EXPECT_TRUE(DemoNear(run.Frames.at(a).At(2, 2), TDemoShowLayout::kGifBackground, 12));
}

// Pixels of the box (fractions of the frame) that are near Colour, or
// (Near false) that are not.
int CountInBox(const TDemoPicture& p, double x0, double y0, double x1, double y1, std::uint32_t colour, int tolerance,
               bool near = true) {
  int n = 0;
  for (int y = int(y0 * p.Height); y < int(y1 * p.Height); ++y)
    for (int x = int(x0 * p.Width); x < int(x1 * p.Width); ++x)
      n += bool(DemoNear(p.At(x, y), colour, tolerance)) == near;
  return n;
}

// The title slide's text, and the first picture slide's caption made from
// its picture's Exif description and date: both only macros, so no pixels
// of the caption's colour mean the expansion failed.
TEST_F(DemoShow, TitleAndExifCaptionShowText) {
  ASSERT_TRUE(packed_);
  const std::int64_t t1 = TDemoShowLayout::SlideStart(layout_.TitleSlide) + 2000;
  const TDemoRun title = PlayPacked(Show(), layout_.TitleSlide, {t1}, {});
  ASSERT_TRUE(title.Started) << (title.Boxes.empty() ? "" : title.Boxes.back());
  ASSERT_EQ(title.Frames.count(t1), 1u);
  const TDemoPicture& p = title.Frames.at(t1);
  const std::uint32_t bg = TDemoShowLayout::kTitleBackground;
  EXPECT_TRUE(DemoNear(p.At(2, 2), bg, 12));
  EXPECT_TRUE(DemoNear(p.At(p.Width / 2, 4), bg, 12));
  const int box = int(0.4 * p.Width) * int(0.2 * p.Height);
  const int ink = CountInBox(p, 0.3, 0.4, 0.7, 0.6, bg, 40, false);
  EXPECT_GT(ink, box / 10) << "title text pixels";
  EXPECT_LT(ink, box * 9 / 10);  // letters, not a filled box
  EXPECT_GT(CountInBox(p, 0.3, 0.4, 0.7, 0.6, TDemoShowLayout::kTitleColour, 40), 10);

  const std::int64_t t2 = TDemoShowLayout::SlideStart(layout_.CaptionSlide) + TDemoShowLayout::kTransitionMs + 500;
  const TDemoRun captioned = PlayPacked(Show(), layout_.CaptionSlide, {t2}, {});
  ASSERT_TRUE(captioned.Started) << (captioned.Boxes.empty() ? "" : captioned.Boxes.back());
  ASSERT_EQ(captioned.Frames.count(t2), 1u) << "wanted " << t2 << ", frames at " << captioned.Seen;
  const TDemoPicture& c = captioned.Frames.at(t2);
  const std::uint32_t yellow = TDemoShowLayout::kCaptionColour;
  const int inCaption = CountInBox(c, 0.3, 0.82, 0.7, 0.88, yellow, 48);
  const int elsewhere = CountInBox(c, 0.3, 0.12, 0.7, 0.18, yellow, 48);
  EXPECT_GT(inCaption, elsewhere + 20) << "caption pixels: " << inCaption << ", elsewhere " << elsewhere;
}

// The tour: each of its transitions plays. Half-way through, the wipes
// (roll, clock, broom) show parts of the incoming picture untouched and,
// where the outgoing slide is a still picture, parts of that too, which a
// cross-fade stand-in would not; the two that move pictures in depth show
// their own geometry: the card edge-on leaves the frame black, the two
// slides side by side leave a black gap between them.
TEST_F(DemoShow, TourPlaysEachNewTransitionKind) {
  ASSERT_TRUE(packed_);
  const std::int64_t half = TDemoShowLayout::kTransitionMs / 2;
  std::vector<std::int64_t> times;
  for (int i = 0; i < TDemoShowLayout::kTourSlides; ++i) {
    const std::int64_t start = TDemoShowLayout::SlideStart(layout_.TourSlide + i);
    times.insert(times.end(), {start - 200, start + half, start + TDemoShowLayout::kTransitionMs + 200});
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  const TDemoRun run = PlayPacked(Show(), layout_.TourSlide, times, {});
  ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
  ASSERT_EQ(run.Frames.size(), times.size());
  // Pixels of A within 10 of B.
  const auto same = [](const TDemoPicture& a, const TDemoPicture& b) {
    int n = 0;
    for (int y = 0; y < a.Height; ++y)
      for (int x = 0; x < a.Width; ++x) n += bool(DemoNear(a.At(x, y), b.At(x, y), 10));
    return n;
  };
  for (int i = 0; i < TDemoShowLayout::kTourSlides; ++i) {
    const std::string kind = TDemoShowLayout::kTourEffects[i];
    const std::int64_t start = TDemoShowLayout::SlideStart(layout_.TourSlide + i);
    const TDemoPicture& before = run.Frames.at(start - 200);
    const TDemoPicture& mid = run.Frames.at(start + half);
    const TDemoPicture& after = run.Frames.at(start + TDemoShowLayout::kTransitionMs + 200);
    const int all = mid.Width * mid.Height;
    const int black = CountInBox(mid, 0, 0, 1, 1, 0x000000, 6);
    if (kind == "flip") {
      EXPECT_GT(black, all * 9 / 10) << kind;
    } else if (kind == "swap") {
      EXPECT_TRUE(DemoNear(mid.At(mid.Width / 2, mid.Height / 4), 0, 6)) << kind;
      EXPECT_LT(black, all * 9 / 10) << kind;
    } else {
      EXPECT_LT(black, all / 10) << kind;
      EXPECT_GT(same(mid, after), all / 10) << kind << ": nothing of the incoming picture";
      // The first tour slide follows the animated GIF slide.
      if (i > 0) {
        EXPECT_GT(same(mid, before), all / 10) << kind << ": nothing of the outgoing picture";
      }
    }
  }
}

// The demo's own GIF writer read back by the player's GIF loader: noise in
// 256 colours fills the code table several times over (clear codes and every
// code width), a two-colour frame takes the smallest code size, and the
// frame delays and loops come through.
TEST(DemoGifWriter, FramesComeBackExactlyThroughTheAtlasLoader) {
  TGifAnimation gif;
  gif.Width = 97;
  gif.Height = 61;
  gif.Loops = 3;
  for (int i = 0; i < 256; ++i)
    gif.Palette.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7)});
  std::mt19937 rng(5);
  const std::size_t n = std::size_t(gif.Width) * std::size_t(gif.Height);
  TGifFrame noise, runs, twoTone;
  for (std::size_t i = 0; i < n; ++i) {
    noise.Indices.push_back(std::uint8_t(rng()));
    runs.Indices.push_back(std::uint8_t(i / 300));
    twoTone.Indices.push_back(std::uint8_t((i / 7) % 2));
  }
  noise.DelayMs = 40, runs.DelayMs = 250, twoTone.DelayMs = 100;
  gif.Frames = {noise, runs, twoTone};
  TRef<zm::TMemoryStream> s = zmtest::MemoryStreamOf(WriteGif(gif));
  TRef<zm::TBitmapStore> store = zm::LoadBitmapStore(s.get(), u"w.gif|framesatlas", false, {});
  ASSERT_TRUE(store);
  auto* tiles = store->FindTag<zm::TTilesTag>();
  ASSERT_TRUE(tiles);
  ASSERT_EQ(tiles->FrameCount, 3);
  EXPECT_EQ(tiles->TileWidth, gif.Width);
  EXPECT_EQ(tiles->TileHeight, gif.Height);
  EXPECT_EQ(tiles->DelayText, u"40,250,100");
  auto* wrapper = dynamic_cast<zm::TWrapperBitmapStore*>(store.get());
  auto* direct = wrapper ? dynamic_cast<zm::TSysDirectWrapper*>(wrapper->Bitmap()) : nullptr;
  zm::TDirectBitmap* atlas = direct ? direct->Bitmap() : nullptr;
  ASSERT_TRUE(atlas);
  int wrong = 0;
  for (int f = 0; f < 3; ++f) {
    const int left = (f % tiles->ColumnCount) * tiles->TileWidth, top = (f / tiles->ColumnCount) * tiles->TileHeight;
    for (int y = 0; y < gif.Height; ++y)
      for (int x = 0; x < gif.Width; ++x) {
        const std::uint32_t v = atlas->Row32(top + y)[left + x];
        const auto& c = gif.Palette[gif.Frames[std::size_t(f)].Indices[std::size_t(y) * std::size_t(gif.Width) + std::size_t(x)]];
        const std::uint32_t want = 0xFF000000u | std::uint32_t(c[0]) << 16 | std::uint32_t(c[1]) << 8 | c[2];
        if (v != want && ++wrong < 5) ADD_FAILURE() << "frame " << f << " at " << x << "," << y;
      }
  }
  EXPECT_EQ(wrong, 0);

  // Bad input is refused, not written.
  TGifAnimation bad = gif;
  bad.Palette.resize(200);  // the noise frame uses indices past it
  EXPECT_THROW(WriteGif(bad), std::invalid_argument);
  bad = gif;
  bad.Frames[1].Indices.pop_back();
  EXPECT_THROW(WriteGif(bad), std::invalid_argument);
  bad = gif;
  bad.Palette.resize(1);
  EXPECT_THROW(WriteGif(bad), std::invalid_argument);
  bad.Palette.resize(257);
  EXPECT_THROW(WriteGif(bad), std::invalid_argument);
  bad = gif;
  bad.Frames.clear();
  EXPECT_THROW(WriteGif(bad), std::invalid_argument);
}
