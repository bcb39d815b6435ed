// What the window layer hands to the display carries the show time of the
// frame its pixels came from, and the capture writes such frames off the
// presenting thread, in order, up to its limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatFrameClock.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatCapture.h"
#include "tests/Platform/User/UserTestSupport.h"
#include "tests/support/TempDir.h"

using namespace plat;

namespace {

struct TSeen {
  std::int64_t ShowTime;
  std::uint32_t Pixel;
};

class PlatCapture : public usertest::UserTest {
protected:
  void TearDown() override {
    headless::SetPresentObserver(nullptr);
    UserTest::TearDown();
  }
};

// Fills the client area of W with Colour on a thread of its own, as a
// device presenting a frame of ShowTime (-1: none).
void DrawOnAnotherThread(HWND w, std::uint32_t colour, std::int64_t showTime, bool readOnly = false) {
  std::thread([=] {
    SetPresentingShowTime(showTime);
    TWindowPixels px;
    ASSERT_TRUE(LockWindowPixels(w, px));
    if (!readOnly)
      for (int y = 0; y < px.Height; ++y)
        for (int x = 0; x < px.Width; ++x) px.Bits[std::size_t(y) * std::size_t(px.Stride) + std::size_t(x)] = colour;
    const RECT all{0, 0, px.Width, px.Height}, nothing{};
    UnlockWindowPixels(w, readOnly ? &nothing : &all);
  }).join();
}

// Width and height from a PNG file's header; 0 x 0 when it is not one.
std::pair<std::uint32_t, std::uint32_t> PngSize(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char h[24] = {};
  in.read(reinterpret_cast<char*>(h), sizeof h);
  if (!in || h[1] != 'P' || h[2] != 'N' || h[3] != 'G') return {0, 0};
  const auto be = [&](int i) {
    return std::uint32_t(h[i]) << 24 | std::uint32_t(h[i + 1]) << 16 | std::uint32_t(h[i + 2]) << 8 | h[i + 3];
  };
  return {be(16), be(20)};
}

}  // namespace

TEST_F(PlatCapture, PresentedPixelsCarryTheShowTimeOfTheFrameThatDrewThem) {
  HWND w = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 8, 6});
  Pump();
  std::vector<TSeen> seen;
  headless::SetPresentObserver([&](HWND window, std::int64_t showTime, const std::uint32_t* bits, int, int) {
    if (window == w) seen.push_back({showTime, bits[0]});
  });
  DrawOnAnotherThread(w, 0xFF112233u, 1500);
  Pump();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().ShowTime, 1500);
  EXPECT_EQ(seen.back().Pixel, 0xFF112233u);
  // A reading keeps the stamp; pixels written over the frame by a thread
  // that draws no frame of a show (the window's own face) show none.
  DrawOnAnotherThread(w, 0, 2500, true);
  InvalidateRect(w, nullptr, 0);
  Pump();
  EXPECT_EQ(seen.back().ShowTime, 1500);
  DrawOnAnotherThread(w, 0xFF445566u, -1);
  Pump();
  EXPECT_EQ(seen.back().ShowTime, -1);
  EXPECT_EQ(seen.back().Pixel, 0xFF445566u);
  DrawOnAnotherThread(w, 0xFF778899u, 3000);
  Pump();
  EXPECT_EQ(seen.back().ShowTime, 3000);
  EXPECT_EQ(seen.back().Pixel, 0xFF778899u);
  // The presenting thread's own time is its own.
  SetPresentingShowTime(-5);
  EXPECT_EQ(PresentingShowTime(), -1);
}

TEST(PlatCaptureWriter, FramesAreWrittenOffTheCallerInOrderUpToTheLimit) {
  zmtest::TTempDir dir;
  const std::string folder = dir.Path().string();
  std::vector<std::uint32_t> pixels(64 * 48);
  {
    user::TCaptureWriter writer(folder, 5, 3);
    for (int i = 0; i < 8; ++i) {
      // Frames of different sizes, each row padded in the source.
      const int width = 16 + 8 * i % 48, height = 12 + i;
      std::fill(pixels.begin(), pixels.end(), 0xFF000000u | std::uint32_t(i * 30));
      const bool taken = writer.Submit(1000u + std::uint32_t(i), 7, 100 * i, pixels.data(), 64, width, height);
      EXPECT_EQ(taken, i < 5) << i;
    }
    EXPECT_FALSE(writer.Submit(0, 7, 0, nullptr, 64, 16, 12));  // no pixels
    writer.Flush();
    EXPECT_EQ(writer.Frames(), 5);
  }
  std::ifstream tsv(dir.Path() / "frames.tsv");
  std::vector<std::string> lines;
  for (std::string line; std::getline(tsv, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    std::istringstream in(lines[std::size_t(i)]);
    long long frame = -1, clock = -1, window = -1, showTime = -1;
    in >> frame >> clock >> window >> showTime;
    EXPECT_EQ(frame, i);
    EXPECT_EQ(clock, 1000 + i);
    EXPECT_EQ(window, 7);
    EXPECT_EQ(showTime, 100 * i);
    char name[16];
    std::snprintf(name, sizeof name, "%06d.png", i);
    const auto size = PngSize(dir.Path() / name);
    EXPECT_EQ(size.first, std::uint32_t(16 + 8 * i % 48)) << name;
    EXPECT_EQ(size.second, std::uint32_t(12 + i)) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "000005.png"));
}

// A capture folder that cannot be written stops the capture, said once on
// the error output with the file, the system's reason and the missing folder, whichever writer
// met it first; the frames are still counted, so a limit still ends the run.
TEST(PlatCaptureWriter, AFolderThatCannotBeWrittenStopsTheCaptureSaidOnce) {
  zmtest::TTempDir dir;
  const std::string folder = (dir.Path() / "gone").string();
  std::vector<std::uint32_t> pixels(16 * 12, 0xFF203040u);
  testing::internal::CaptureStderr();
  {
    user::TCaptureWriter writer(folder, 6, 3);
    for (int i = 0; i < 8; ++i) writer.Submit(std::uint32_t(i), 7, 100 * i, pixels.data(), 16, 16, 12);
    writer.Flush();
    EXPECT_EQ(writer.Frames(), 6);
  }
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string start = "Frame capture stopped: cannot write " + folder + "/00000";
  EXPECT_EQ(said.rfind(start, 0), 0u) << said;
  EXPECT_NE(said.find(".png: No such file or directory (the capture folder " + folder +
                      " is not there); the show plays on.\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_TRUE(OutputFailed());
  EXPECT_FALSE(std::filesystem::exists(folder));
}
