// The show window's placement, the monitor choice, and the stepped clock with
// its frame capture.
#include "OruLib2/OruViewer/OruShowViewer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Platform/PlatFrameClock.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/zmCommandLine.h"
#include "tests/support/TempDir.h"

using namespace oru;

namespace {

zm::TRef<zm::TCommandsStorage> Switches(const WideString& line) {
  zm::TRef<zm::TStringList> args = zm::MakeRef<zm::TStringList>();
  zm::TRef<zm::TCommandsStorage> commands = zm::MakeRef<zm::TCommandsStorage>();
  zm::TStringsAdapter list(args.get());
  zm::ParseCommandLine(u"player " + line, list, *commands);
  return commands;
}

}  // namespace

TEST(ShowWindow, BorderStylesSizesAndCentring) {
  const zm::TRect monitor{0, 0, 1366, 768};
  const zm::TSize frame{16, 39};
  // Framed: fixed frame, sizing frame with "resize"; the others have none.
  EXPECT_EQ(PlaceShowWindow(640, 480, wkFramed, false, monitor, frame).BorderStyle, 5);
  EXPECT_EQ(PlaceShowWindow(640, 480, wkFramed, true, monitor, frame).BorderStyle, 1);
  EXPECT_EQ(PlaceShowWindow(640, 480, wkBorderless, true, monitor, frame).BorderStyle, 0);
  EXPECT_EQ(PlaceShowWindow(640, 480, wkFullScreen, true, monitor, frame).BorderStyle, 0);

  // A window that fits keeps its size and is centred with its frame.
  TWindowPlacement p = PlaceShowWindow(640, 480, wkFramed, false, monitor, frame);
  EXPECT_EQ(p.Content, (zm::TSize{640, 480}));
  EXPECT_EQ(p.Outer, (zm::TRect{355, 124, 1011, 643}));
  // A borderless window ignores the frame size.
  p = PlaceShowWindow(640, 480, wkBorderless, false, monitor, frame);
  EXPECT_EQ(p.Outer, (zm::TRect{363, 144, 1003, 624}));

  // 1920 x 1080 framed on 1366 x 768: shrinks with its aspect until window
  // and frame fit, then centres.
  p = PlaceShowWindow(1920, 1080, wkFramed, false, monitor, frame);
  EXPECT_EQ(p.Content, (zm::TSize{1296, 729}));
  EXPECT_LE(p.Content.cy + frame.cy, 768);
  EXPECT_EQ(p.Outer.Left, (1366 - 1296 - 16) / 2);
  EXPECT_EQ(p.Outer.Right - p.Outer.Left, 1296 + 16);

  // Full screen takes the monitor, wherever it lies.
  p = PlaceShowWindow(10, 10, wkFullScreen, false, zm::TRect{-1280, 100, 0, 1124}, frame);
  EXPECT_EQ(p.Content, (zm::TSize{1280, 1024}));
  EXPECT_EQ(p.Outer, (zm::TRect{-1280, 100, 0, 1124}));
  // Centring halves toward zero on a monitor left of the origin.
  p = PlaceShowWindow(101, 100, wkBorderless, false, zm::TRect{-1280, 0, 0, 1024}, frame);
  EXPECT_EQ(p.Outer.Left, (-1280 + 0 - 101) / 2);
}

TEST(ShowWindow, AbsurdSizesStayDrawable) {
  const zm::TRect monitor{0, 0, 800, 600};
  for (auto [w, h] : {std::pair{0, 0}, std::pair{-5, 300}, std::pair{100000, 100000}, std::pair{1, 2000000000}}) {
    const TWindowPlacement p = PlaceShowWindow(w, h, wkFramed, false, monitor, zm::TSize{10, 30});
    EXPECT_GE(p.Content.cx, 1) << w << "x" << h;
    EXPECT_GE(p.Content.cy, 1) << w << "x" << h;
    EXPECT_LE(p.Content.cx, 800) << w << "x" << h;
    EXPECT_LE(p.Content.cy, 600) << w << "x" << h;
  }
  // A monitor smaller than the frame, and an empty one.
  EXPECT_GE(PlaceShowWindow(640, 480, wkFramed, false, zm::TRect{0, 0, 8, 8}, zm::TSize{10, 30}).Content.cx, 1);
  EXPECT_GE(PlaceShowWindow(640, 480, wkFullScreen, false, zm::TRect{}, zm::TSize{}).Content.cy, 1);
}

TEST(ShowWindow, DisplaySwitchAndPrimaryMonitor) {
  auto primaryIs = [](std::int32_t p) { return [p](std::int32_t i) { return i == p; }; };
  EXPECT_EQ(ChooseDisplay(Switches(u"-display 2").get(), 2, primaryIs(0)), 1);
  // "display 3" on two monitors, "display x", "display 0": the primary one.
  EXPECT_EQ(ChooseDisplay(Switches(u"-display 3").get(), 2, primaryIs(1)), 1);
  EXPECT_EQ(ChooseDisplay(Switches(u"-display x").get(), 3, primaryIs(2)), 2);
  EXPECT_EQ(ChooseDisplay(Switches(u"-display 0").get(), 3, primaryIs(0)), 0);
  EXPECT_EQ(ChooseDisplay(Switches(u"-display").get(), 3, primaryIs(1)), 1);
  EXPECT_EQ(ChooseDisplay(Switches(u"-display 99999999999").get(), 2, primaryIs(1)), 1);
  // Without the switch; monitor 0 is never searched, none primary gives 0.
  EXPECT_EQ(ChooseDisplay(Switches(u"").get(), 3, primaryIs(-1)), 0);
  EXPECT_EQ(ChooseDisplay(nullptr, 0, nullptr), 0);
}

TEST(FrameClock, StepsOnlyWithFramesAndCapturesWithShowTime) {
  zmtest::TTempDir dir;
  const std::string folder = dir.Path().string();
  plat::headless::ResetForTests();
  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = plat::DefWindowProcW;
  wc.lpszClassName = u"FrameClockTest";
  ASSERT_NE(plat::RegisterClassW(&wc), 0);
  plat::HWND w = plat::CreateWindowExW(0, u"FrameClockTest", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 8, 6,
                                       nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);

  plat::SetFrameStepping(40, folder, 2);
  const std::uint32_t t0 = plat::TickCount32();
  EXPECT_EQ(plat::TickCount32(), t0) << "the stepped clock moves only with frames";
  std::vector<std::int64_t> seen;
  std::vector<bool> read;
  plat::SetFrameObserver([&](std::int64_t, std::int64_t time, const std::uint32_t* bits, int width, int height) {
    seen.push_back(time);
    read.push_back(bits && width == 8 && height == 6);
  });
  plat::FramePresented(w, 0);
  plat::FramePresented(w, 1234);
  plat::FramePresented(w, 1274);  // past the capture limit: counted, not written
  plat::FramePresented(nullptr, 1314);  // no window to read: the clock still moves
  EXPECT_EQ(plat::TickCount32() - t0, 160u);
  EXPECT_EQ(plat::SteppedFrameCount(), 4);
  EXPECT_EQ(plat::LastFrameShowTime(), 1314);
  EXPECT_EQ(seen, (std::vector<std::int64_t>{0, 1234, 1274, 1314}));
  EXPECT_EQ(read, (std::vector<bool>{true, true, true, false}));
  plat::SetFrameStepping(0);
  EXPECT_TRUE(plat::TimeSourceIsSteady());
  // Real-clock frames are seen too, timed only: no pixels are read.
  plat::FramePresented(w, 2000);
  EXPECT_EQ(seen.back(), 2000);
  EXPECT_FALSE(read.back());
  EXPECT_EQ(plat::SteppedFrameCount(), 0);
  plat::SetFrameObserver(nullptr);
  plat::FramePresented(w, 2040);
  EXPECT_EQ(seen.size(), 5u);

  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "000000.png"));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "000001.png"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "000002.png"));
  std::ifstream tsv(dir.Path() / "frames.tsv");
  std::string line;
  std::vector<std::string> columns;
  std::getline(tsv, line);
  std::getline(tsv, line);
  std::istringstream in(line);
  for (std::string c; std::getline(in, c, '\t');) columns.push_back(c);
  ASSERT_EQ(columns.size(), 4u) << line;
  EXPECT_EQ(columns[0], "1");
  EXPECT_EQ(std::stoul(columns[1]), t0 + 40);
  EXPECT_EQ(columns[3], "1234");
  plat::DestroyWindow(w);
  plat::headless::ResetForTests();
}
