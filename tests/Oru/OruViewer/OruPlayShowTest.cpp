// The player plays shows end to end, in process: the main form opens a show
// made by the show builder and plays it in its headless window with the
// stepped clock until the show closes itself; every frame is seen with its
// show time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruViewer/OruDrawerHooks.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/kit/BmpWriter.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/ShowBuilder.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tools/GifWriter.h"

using namespace oru;
using zm::TRef;

namespace {

constexpr std::uint32_t kStepMs = 20;
// A show that does not end by itself is cut off here (show time).
constexpr std::int64_t kGiveUpMs = 30000;

struct TFrame {
  std::int64_t Time = 0;
  std::uint32_t Centre = 0;  // 0x00RRGGBB
  std::size_t Hash = 0;
};

struct TRun {
  std::vector<TFrame> Frames;
  std::vector<std::string> Boxes;
  bool Started = false;
  // The centre colour of the first frame at or after Time; ~0u when none.
  std::uint32_t ColourAt(std::int64_t time) const {
    for (const TFrame& f : Frames)
      if (f.Time >= time) return f.Centre;
    return ~0u;
  }
};

// Plays the show project of Folder with the switches of Line, until it
// closes itself or a frame reaches Until (show time).
TRun Play(const std::string& folder, const WideString& line = {}, std::int64_t until = kGiveUpMs) {
  TRun run;
  const orutest::TInProcessRun played = orutest::PlayInProcess(
      u"player -filename \"" + plat::FromUtf8(folder + "/Project.oru") + u"\" " + line, kStepMs,
      [&](std::int64_t time, const std::uint32_t* bits, int w, int h) {
        TFrame f;
        f.Time = time;
        if (bits && w > 0 && h > 0) {
          f.Centre = bits[std::size_t(h / 2) * std::size_t(w) + std::size_t(w / 2)] & 0xFFFFFF;
          f.Hash = std::hash<std::string_view>()(
              std::string_view(reinterpret_cast<const char*>(bits), std::size_t(w) * std::size_t(h) * 4));
        }
        run.Frames.push_back(f);
        return time > kGiveUpMs || time >= until;
      });
  run.Started = played.Started;
  run.Boxes = played.Boxes;
  return run;
}

std::uint32_t Rgb(int r, int g, int b) { return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b); }
int Channel(std::uint32_t c, int shift) { return int(c >> shift) & 0xFF; }

// Each channel within Tolerance of the expected one.
::testing::AssertionResult Near(std::uint32_t got, std::uint32_t want, int tolerance) {
  for (int s : {16, 8, 0})
    if (std::abs(Channel(got, s) - Channel(want, s)) > tolerance)
      return ::testing::AssertionFailure() << std::hex << "got 0x" << got << ", want 0x" << want;
  return ::testing::AssertionSuccess();
}

// Three solid slides of 1 s; the second and third cross-fade in over 400 ms.
void SolidShow(zmtest::TShowBuilder& show) {
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.AddEffect("dissolve");
  show.AddSlide(1000).SolidBackground(200, 40, 40).Transition("quick", 0);
  show.AddSlide(2000).SolidBackground(40, 200, 40).Transition("dissolve", 400);
  show.AddSlide(3000).SolidBackground(40, 40, 200).Transition("dissolve", 400);
}

// The packed picture container: its fields say Width x Height, the BMP
// inside is what it is.
std::string PackedPicture(int width, int height, const std::string& bmp) {
  return zmtest::PackedPicture(zmtest::PackedPictureFields(width, height, "p.bmp", std::to_string(bmp.size())),
                               zmtest::RawDeflate(bmp));
}

}  // namespace

TEST(PlayShow, SolidSlidesAndCrossFadeAtTheirTimesAndAgainAlike) {
  zmtest::TShowBuilder show;
  SolidShow(show);
  show.Write();
  const TRun run = Play(show.Folder());
  ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
  ASSERT_FALSE(run.Frames.empty());
  // Frames follow the stepped clock, and the show closed itself at its end.
  for (std::size_t i = 1; i < run.Frames.size(); ++i)
    ASSERT_EQ(run.Frames[i].Time - run.Frames[i - 1].Time, kStepMs) << "frame " << i;
  EXPECT_LT(run.Frames.back().Time, kGiveUpMs);
  EXPECT_GE(run.Frames.back().Time, 2900);

  const std::uint32_t a = Rgb(200, 40, 40), b = Rgb(40, 200, 40), c = Rgb(40, 40, 200);
  EXPECT_TRUE(Near(run.ColourAt(500), a, 2));
  EXPECT_TRUE(Near(run.ColourAt(1700), b, 2));
  EXPECT_TRUE(Near(run.ColourAt(2700), c, 2));
  // Half-way through the cross-fade both slides show; the mix moves from the
  // old colour towards the new one.
  const std::uint32_t early = run.ColourAt(1100), mid = run.ColourAt(1200), late = run.ColourAt(1300);
  EXPECT_TRUE(Near(mid, Rgb(120, 120, 40), 40)) << std::hex << mid;
  EXPECT_GT(Channel(early, 16), Channel(mid, 16));
  EXPECT_GT(Channel(mid, 16), Channel(late, 16));
  EXPECT_LT(Channel(early, 8), Channel(late, 8));

  // A second run draws the same frames at the same times.
  const TRun again = Play(show.Folder());
  ASSERT_EQ(again.Frames.size(), run.Frames.size());
  for (std::size_t i = 0; i < run.Frames.size(); ++i) {
    ASSERT_EQ(again.Frames[i].Time, run.Frames[i].Time);
    ASSERT_EQ(again.Frames[i].Hash, run.Frames[i].Hash) << "frame " << i << " at " << run.Frames[i].Time;
  }
}

// An animated GIF as a video clip, through the frame source, the extractor
// and the video object: four solid frames of 250 ms, a 3500 ms clip. Loop
// count 0 keeps wrapping for the whole clip; loop count 2 holds the last
// frame from the end of the second pass. The video object waits for each
// frame, so the colour at a time is that time's frame on a loaded machine too.
TEST(PlayShow, GifClipLoopsAsItsFileSays) {
  const std::uint32_t colours[4] = {Rgb(220, 30, 30), Rgb(30, 220, 30), Rgb(30, 30, 220), Rgb(220, 220, 30)};
  for (int loops : {0, 2}) {
    SCOPED_TRACE(loops);
    oru::TGifAnimation gif;
    gif.Width = 160;
    gif.Height = 120;
    gif.Loops = loops;
    for (std::uint32_t c : colours)
      gif.Palette.push_back({std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
    for (std::uint8_t i = 0; i < 4; ++i)
      gif.Frames.push_back({std::vector<std::uint8_t>(std::size_t(gif.Width * gif.Height), i), 250});

    zmtest::TShowBuilder show;
    show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
    auto& slide = show.AddSlide(4000).SolidBackground(0, 0, 0).Transition("quick", 0);
    slide.Video(show.VideoClip("anim.gif", 3500).Value("ClipGUID")).Key("WaitForConvert", 1);
    show.AddFile("anim.gif", oru::WriteGif(gif));
    show.Write();
    const TRun run = Play(show.Folder());
    ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
    // 60 ms into each frame of three passes (a frame shows from half a
    // frame period before its time).
    for (int pass = 0; pass < 3; ++pass)
      for (int frame = 0; frame < 4; ++frame) {
        const std::int64_t t = pass * 1000 + frame * 250 + 60;
        const int want = loops == 0 || pass < loops ? frame : 3;
        EXPECT_TRUE(Near(run.ColourAt(t), colours[want], 2)) << "at " << t;
      }
    // Past the clip's end its last moment holds: 3500 ms is the third frame
    // of the fourth pass, or the held last frame.
    EXPECT_TRUE(Near(run.ColourAt(3700), colours[loops == 0 ? 2 : 3], 2));
  }
}

// Packed pictures: a BMP of another size than the container's fields say is
// drawn over the size they give; pixels that do not decode show the load
// error placeholder, with one log line, and nothing fails while the show
// plays on.
TEST(PlayShow, PackedPicturesOfAnotherSizeOrDamagedPixels) {
  struct TLines : zm::TLog {
    void WriteText(const WideString& line) override {
      std::lock_guard<std::mutex> l(Lock);
      Lines.push_back(line);
    }
    std::mutex Lock;
    std::vector<WideString> Lines;
  };
  static std::atomic<int> asserts{0};
  zm::THookScope assertNotify(zm::AssertNotifyProc, [](const std::string&, const std::string&, int) { ++asserts; });
  const std::string bmp = zmtest::SolidBmp(80, 60, Rgb(40, 180, 220));
  for (const bool damaged : {false, true}) {
    SCOPED_TRACE(damaged);
    asserts = 0;
    zmtest::TShowBuilder show;
    show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
    show.AddSlide(1500).SolidBackground(0, 0, 0).Transition("quick", 0).Image("Packed", "p.zmgfx");
    std::string packed = PackedPicture(160, 120, bmp);
    if (damaged) packed.resize(packed.size() - 20);  // the deflate stream cut short
    show.AddFile("p.zmgfx", packed);
    show.Write();
    auto* log = new TLines;
    zm::SetLog(log);
    const TRun run = Play(show.Folder());
    std::vector<WideString> lines;
    {
      std::lock_guard<std::mutex> l(log->Lock);
      lines = log->Lines;
    }
    zm::SetLog(nullptr);
    ASSERT_TRUE(run.Started);
    EXPECT_EQ(asserts.load(), 0);
    const std::size_t errors = std::count_if(lines.begin(), lines.end(), [](const WideString& line) {
      return line.find(u"Image load error: p.zmgfx") != WideString::npos;
    });
    EXPECT_EQ(errors, damaged ? 1u : 0u);
    const std::uint32_t centre = run.ColourAt(1000);
    if (damaged) {
      // The placeholder: grey text on light grey, never the black slide.
      EXPECT_TRUE(Near(centre, Rgb(Channel(centre, 8), Channel(centre, 8), Channel(centre, 8)), 4) &&
                  Channel(centre, 8) >= 90)
          << std::hex << centre;
    } else {
      EXPECT_TRUE(Near(centre, Rgb(40, 180, 220), 2));
    }
  }
}

// A missing picture's placeholder is drawn sharp at the size it is shown
// (its text's edges step from paper to ink within a pixel or two, as a text
// drawn at that size does, not over the several pixels of a small picture
// enlarged), also when its name is a quarter of a megabyte long (cut to
// its start and end, it shows at once).
TEST(PlayShow, AMissingPicturesPlaceholderIsSharpAtItsSize) {
  for (const std::size_t length : {std::size_t(12), std::size_t(256 * 1024)}) {
    SCOPED_TRACE(length);
    zmtest::TShowBuilder show;
    show.ScreenSize(640, 360).Main().Key("opt_scr_full", 0);
    show.AddSlide(600).SolidBackground(0, 0, 0).Transition("quick", 0).Image(
        "Photo", "pictures\\" + std::string(length, 'a') + ".jpg");
    show.Write();
    int steepest = -1, paper = 0;
    const orutest::TInProcessRun run = orutest::PlayInProcess(
        u"player -filename \"" + plat::FromUtf8(show.Folder() + "/Project.oru") + u"\"", kStepMs,
        [&](std::int64_t time, const std::uint32_t* bits, int w, int h) {
          if (time < 300 || !bits) return false;
          // Between neighbours on a row, both grey (the placeholder's ink,
          // paper and the shades between): the largest step.
          const auto grey = [](std::uint32_t c) {
            const int r = Channel(c, 16), g = Channel(c, 8), b = Channel(c, 0);
            return std::abs(r - g) <= 2 && std::abs(g - b) <= 2 && r >= 90 ? r : -1;
          };
          for (int y = 0; y < h; ++y)
            for (int x = 0; x + 1 < w; ++x) {
              const int a = grey(bits[std::size_t(y) * std::size_t(w) + std::size_t(x)]);
              const int b = grey(bits[std::size_t(y) * std::size_t(w) + std::size_t(x) + 1]);
              if (a >= 225) ++paper;
              if (a >= 0 && b >= 0) steepest = std::max(steepest, std::abs(a - b));
            }
          return true;
        });
    ASSERT_TRUE(run.Started);
    EXPECT_GT(paper, 640 * 20) << "no placeholder shown";
    // Ink 100 on paper 230.
    EXPECT_GE(steepest, 90);
  }
}

TEST(PlayShow, StartSwitchesAndADamagedPictureKeepTheShowGoing) {
  zmtest::TShowBuilder show;
  SolidShow(show);
  // The middle slide's picture is not a picture at all.
  show.Slide(1).Image("Broken", "broken.jpg");
  show.AddFile("broken.jpg", "this is not a JPEG");
  show.Write();

  const TRun run = Play(show.Folder());
  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(Near(run.ColourAt(2700), Rgb(40, 40, 200), 2)) << "the show went on after the damaged slide";
  EXPECT_GE(run.Frames.back().Time, 2900);

  // "-slide 3" starts at the third slide, "-time 1500" in the second.
  const TRun third = Play(show.Folder(), u"-slide 3");
  ASSERT_FALSE(third.Frames.empty());
  EXPECT_GE(third.Frames.front().Time, 2000);
  EXPECT_TRUE(Near(third.ColourAt(2500), Rgb(40, 40, 200), 2));
  const TRun timed = Play(show.Folder(), u"-time 1500");
  ASSERT_FALSE(timed.Frames.empty());
  EXPECT_GE(timed.Frames.front().Time, 1499);
  EXPECT_LT(timed.Frames.front().Time, 2000);
}

// Every transition the player has moves from the old slide to the new one,
// whether the show defines it in its main effect or only names it on the
// slide; a name the player does not have cross-fades. Never the old slide
// standing still and the new one cutting in at the end.
TEST(PlayShow, EveryNamedTransitionMovesWithOrWithoutItsDefinition) {
  struct TFamily {
    const char* Word;
    std::vector<std::pair<const char*, const char*>> Keys;  // the show's own settings
  };
  const std::vector<TFamily> families = {
      {"dissolve", {}},
      {"hourhand", {{"action", "10"}, {"direction", "100000000"}}},
      {"shapes", {{"action", "01"}, {"direction", "001"}}},
      {"gates", {{"direction", "01000000"}}},
      {"page", {{"direction", "00010000"}}},
      {"mosaic", {{"cols", "4"}, {"rows", "3"}}},
      {"push", {{"direction", "0100"}}},
      {"slide", {{"direction", "0001"}}},
      {"curling", {{"action", "10"}, {"direction", "10000000"}}},
      {"flip", {{"direction", "0100"}}},
      {"swap", {{"direction", "0010"}}}};
  constexpr long long kSlideMs = 600, kFadeMs = 300;
  const std::uint32_t colours[3] = {Rgb(210, 40, 40), Rgb(40, 190, 40), Rgb(40, 40, 220)};
  for (const bool defined : {true, false}) {
    SCOPED_TRACE(defined ? "defined in the show" : "named only");
    zmtest::TShowBuilder show;
    show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
    show.Repeat("close");
    std::vector<std::string> refs = {"quick"};
    for (const TFamily& f : families) {
      refs.push_back(f.Word);
      if (!defined) continue;
      zmtest::TShowObject& entry = show.AddEffect(f.Word);
      for (const auto& [key, value] : f.Keys) entry.Key(key, value);
    }
    refs.push_back("disolve");
    for (std::size_t i = 0; i < refs.size(); ++i) {
      const std::uint32_t c = colours[i % 3];
      show.AddSlide(kSlideMs * (long long)(i + 1))
          .SolidBackground(std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c))
          .Transition(refs[i], i == 0 ? 0 : kFadeMs);
    }
    show.Write();
    const TRun run = Play(show.Folder());
    ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
    const auto hashAt = [&](std::int64_t t) {
      for (const TFrame& f : run.Frames)
        if (f.Time >= t) return f.Hash;
      return std::size_t(0);
    };
    for (std::size_t i = 1; i < refs.size(); ++i) {
      SCOPED_TRACE(refs[i]);
      const std::int64_t start = kSlideMs * std::int64_t(i);
      std::set<std::size_t> during;
      for (const TFrame& f : run.Frames)
        if (f.Time > start && f.Time < start + kFadeMs) during.insert(f.Hash);
      // The slide before, moving pictures halfway, the new slide standing.
      EXPECT_GE(during.size(), 4u);
      const std::size_t before = hashAt(start - 100), middle = hashAt(start + kFadeMs / 2),
                        after = hashAt(start + kFadeMs + 100);
      EXPECT_NE(middle, before);
      EXPECT_NE(middle, after);
      EXPECT_NE(before, after);
    }
  }
}

TEST(PlayShow, ShowWithoutSlidesIsNotOpened) {
  zmtest::TShowBuilder show;
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.Write();
  // Nothing to play: the error box says so, and no frame is drawn.
  zm::ExitCode = 0;
  const TRun run = Play(show.Folder());
  EXPECT_EQ(zm::ExitCode, 1);
  zm::ExitCode = 0;
  ASSERT_EQ(run.Boxes.size(), 1u);
  EXPECT_EQ(run.Boxes.front().rfind("Slideshow Error: The show has no slides: opt_slidescount in [Times] is 0", 0), 0u)
      << run.Boxes.front();
  EXPECT_TRUE(run.Frames.empty());
}

TEST(PlayShow, EveryPictureBadStillPlaysToTheEnd) {
  zmtest::TShowBuilder show;
  SolidShow(show);
  show.AddSlide(4000).SolidBackground(200, 200, 40).Transition("dissolve", 400);
  // Missing, not a picture, cut short, empty: each slide's picture object
  // and slide picture.
  const char* const names[] = {"gone.jpg", "text.jpg", "cut.jpg", "empty.jpg"};
  for (std::size_t i = 0; i < 4; ++i) show.Slide(i).Picture(names[i]).Image("Photo", names[i]);
  zmtest::TJpegOptions whole;
  whole.Width = 64;
  whole.Height = 48;
  const std::string bytes = zmtest::WriteJpeg(whole);
  show.AddFile("text.jpg", "this is not a picture");
  show.AddFile("cut.jpg", bytes.substr(0, bytes.size() / 2));
  show.AddFile("empty.jpg", "");
  show.Write();

  const TRun run = Play(show.Folder());
  ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
  ASSERT_FALSE(run.Frames.empty());
  EXPECT_GE(run.Frames.back().Time, 3900) << "the show reached its last slide";
  EXPECT_LT(run.Frames.back().Time, kGiveUpMs) << "and closed itself";
  // Each slide is drawn: the frames inside the four slides all differ.
  std::vector<std::size_t> hashes;
  for (std::int64_t t : {600, 1600, 2600, 3600})
    for (const TFrame& f : run.Frames)
      if (f.Time >= t) {
        hashes.push_back(f.Hash);
        break;
      }
  ASSERT_EQ(hashes.size(), 4u);
  for (std::size_t i = 1; i < hashes.size(); ++i) EXPECT_NE(hashes[i], hashes[i - 1]) << "slide " << i + 1;
}

// A show that stops stands at its end on its last slide, not on the first
// slide of a pass that never comes.
TEST(PlayShow, ShowThatStopsStandsOnItsLastSlide) {
  zmtest::TShowBuilder show;
  SolidShow(show);
  show.Repeat("stop");
  show.Write();
  const TRun run = Play(show.Folder(), {}, 3000);
  ASSERT_TRUE(run.Started) << (run.Boxes.empty() ? "" : run.Boxes.back());
  ASSERT_FALSE(run.Frames.empty());
  EXPECT_EQ(run.Frames.back().Time, 3000);
  EXPECT_TRUE(Near(run.Frames.back().Centre, Rgb(40, 40, 200), 2)) << std::hex << run.Frames.back().Centre;
}
