// The demo show's navigation panel, end to end: the show plays in process on
// the stepped clock while another thread drives the pointer through the
// window system, as a user would. A press on "forward" that is dragged off
// the button before the release does nothing; a click on it jumps to the
// next slide at once, long before the slide would end by itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/NavPanel/NavBar.h"
#include "OruLib2/NavPanel/NavPanel.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmImageLib.h"
#include "ZmLib/zmIni.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/DemoShow.h"

using namespace oru;
using zm::TRef;

namespace {

constexpr std::uint32_t kStepMs = 20;
constexpr int kWidth = 320, kHeight = 180;

// What the frames tell the pointer thread, and what it did.
struct TShared {
  std::mutex Lock;
  std::condition_variable Changed;
  std::int64_t Frames = 0, Time = -1;
  int Width = 0, Height = 0;
  bool Over = false;
  // The frame counts when the press dragged off the button was released and
  // when the click was done, and the show time then (-1: not yet).
  std::int64_t DraggedAt = -1, ClickedAt = -1, ClickTime = -1;
  // Steps of the show time by more than a second (the show moved by itself
  // only in frame steps): after the drag and before the click, and after it.
  std::int64_t JumpBeforeClick = -1;
  std::int64_t JumpFrom = -1, JumpTo = -1, FramesToJump = -1;
  // The button's centre in the window, and the frame's colour there when
  // the click was done (-1: none seen).
  plat::POINT Aim{-1, -1};
  std::int64_t FaceColour = -1;
};

// The skin's textures and the logo are PNG pictures, read by the picture
// plug-in built beside the player.
bool RegisterPngLibrary() { return zm::RegisterImageLibrary(zm::kPngLibraryFile, {u".png"}); }

// The centre of a panel button in the window.
plat::POINT ButtonCentre(int button, int width, int height) {
  using L = TDemoShowLayout;
  const int barHeight = int(std::nearbyint(height * L::kNavViewScale / 100.0));
  const int barWidth = int(std::nearbyint(double(L::kNavBarWidth) * barHeight / L::kNavBarHeight));
  const TPercentPlacement place = AnchorFromPosition(npBottom, float(L::kNavOffset));
  const zm::TRect bar =
      PlaceRectByPercent(place.Position, place.Anchor, zm::TRect{0, 0, width, height}, barWidth, barHeight);
  const double sx = double(barWidth) / L::kNavBarWidth, sy = double(barHeight) / L::kNavBarHeight;
  plat::POINT p{bar.Left + int((L::kNavButtonLeft + button * L::kNavButtonStep + L::kNavButtonSize / 2) * sx),
                bar.Top + int((L::kNavButtonTop + L::kNavButtonSize / 2) * sy)};
  return p;
}

}  // namespace

// The skin's text and textures give the bar the size and the buttons the
// places that the layout promises (the pointer test aims by them): the
// rounded ends are transparent at the corners, every face is drawn opaque in
// its button's middle, and a press and release there clicks that button.
TEST(DemoNavPanel, SkinLaysOutTheButtonsTheLayoutNames) {
  using L = TDemoShowLayout;
  ASSERT_TRUE(RegisterPngLibrary()) << "the picture plug-in libzmPngLib.so was not built";
  TRef<zm::TIniFile> skin = zm::MakeRef<zm::TIniFile>();
  skin->LoadFromText(DemoNavSkin());
  const std::map<zm::WideString, std::string> files{{u"skins\\bar.png", DemoNavBarTexture()},
                                                    {u"skins\\buttons.png", DemoNavButtonsTexture()}};
  TRef<TNavBar> bar = zm::MakeRef<TNavBar>();
  std::vector<zm::WideString> missing;
  bar->OnLoadBitmap = [&](TCustomNavBar*, const zm::WideString& path) -> TRef<zm::TBitmap> {
    auto it = files.find(path);
    if (it == files.end()) {
      missing.push_back(path);
      return nullptr;
    }
    TRef<zm::TImage> image = zm::LoadImageFromStreamEx(zmtest::MemoryStreamOf(it->second).get(), path, false);
    zm::TBitmap* b = image ? image->GetBitmap() : nullptr;
    if (!b) return nullptr;
    TRef<zm::TSysBitmap> copy = zm::CreateSysBitmap(b->Width(), b->Height(), zm::pfA8R8G8B8);
    copy->CopyFrom(b);
    return copy;
  };
  std::vector<std::int32_t> clicks;
  bar->OnClick = [&](TCustomNavBar*, std::int32_t index) { clicks.push_back(index); };
  bar->Load(skin.get(), u"skins\\");
  ASSERT_TRUE(bar->Loaded());
  std::vector<std::int32_t> codes;
  for (const char* name : L::kNavButtons) {
    const auto& a = bar->AvailableActions();
    const auto at = std::find(a.begin(), a.end(), plat::FromUtf8(name));
    ASSERT_NE(at, a.end()) << name;
    codes.push_back(std::int32_t(at - a.begin()));
  }
  bar->SetButtons(codes);
  EXPECT_TRUE(missing.empty());
  ASSERT_EQ(bar->Width(), L::kNavBarWidth);
  ASSERT_EQ(bar->Height(), L::kNavBarHeight);
  zm::TSysBitmap* picture = bar->Bitmap();
  ASSERT_NE(picture, nullptr);
  ASSERT_EQ(picture->Width(), L::kNavBarWidth);
  const auto alpha = [&](int x, int y) {
    std::uint32_t p = 0;
    std::memcpy(&p, picture->ScanLine(y) + 4 * x, 4);
    return p >> 24;
  };
  EXPECT_EQ(alpha(0, 0), 0u);
  EXPECT_EQ(alpha(L::kNavBarWidth - 1, L::kNavBarHeight - 1), 0u);
  EXPECT_GT(alpha(L::kNavBarWidth / 2, 1), 0u);
  ASSERT_EQ(bar->ButtonCount(), L::kNavButtonCount);
  for (int i = 0; i < L::kNavButtonCount; ++i) {
    const TNavObject* b = bar->Button(i);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->X, L::kNavButtonLeft + i * L::kNavButtonStep) << i;
    EXPECT_EQ(b->Y, L::kNavButtonTop) << i;
    EXPECT_EQ(b->Width, L::kNavButtonSize) << i;
    EXPECT_EQ(b->Height, L::kNavButtonSize) << i;
    const int cx = b->X + b->Width / 2, cy = b->Y + b->Height / 2;
    // Pause's middle is the gap between its bars; the others' faces cover it.
    if (std::string(L::kNavButtons[i]) != "pause") {
      EXPECT_EQ(alpha(cx, cy), 255u) << i;
    }
    bar->MouseEvent(1, 0, cx, cy, nmDown);
    bar->MouseEvent(1, 0, cx, cy, nmUp);
  }
  EXPECT_EQ(clicks, (std::vector<std::int32_t>{0, 1, 2, 3}));
}

TEST(DemoNavPanel, ForwardClickedThroughTheWindowGoesToTheNextSlide) {
  ASSERT_TRUE(RegisterPngLibrary()) << "the picture plug-in libzmPngLib.so was not built";
  zmtest::TTempFolder folder;
  TDemoShowOptions o;
  o.Slides = 2;
  o.Width = kWidth;
  o.Height = kHeight;
  o.Video = false;
  WriteDemoShow(folder.File("project"), o);
  int forward = -1;
  for (int i = 0; i < TDemoShowLayout::kNavButtonCount; ++i)
    if (std::string(TDemoShowLayout::kNavButtons[i]) == "forward") forward = i;
  ASSERT_GE(forward, 0);

  TShared s;
  // Waits until Ready holds or the run is over; false when it is over.
  const auto await = [&s](std::unique_lock<std::mutex>& l, auto ready) {
    s.Changed.wait(l, [&] { return s.Over || ready(); });
    return !s.Over;
  };
  std::thread pointer([&] {
    namespace hl = plat::headless;
    std::unique_lock<std::mutex> l(s.Lock);
    // The form ignores the pointer for its first second (the click that
    // started the program).
    if (!await(l, [&] { return s.Time >= 1200 && s.Width > 0; })) return;
    s.Aim = ButtonCentre(forward, s.Width, s.Height);
    plat::POINT on = s.Aim;
    l.unlock();
    plat::HWND window = plat::FindWindowExW(nullptr, nullptr, nullptr, u"OruViewer demo");
    if (!window) window = plat::GetForegroundWindow();
    plat::ClientToScreen(window, &on);
    const plat::POINT off{on.x, on.y - 4 * TDemoShowLayout::kNavButtonSize};
    hl::MoveMouse(on);
    hl::Press(1);
    hl::MoveMouse(off);
    hl::Release(1);
    l.lock();
    s.DraggedAt = s.Frames;
    // Long enough to show that nothing moved, and for the next press not to
    // count as a double click.
    if (!await(l, [&] { return s.Frames >= s.DraggedAt + 40; })) return;
    l.unlock();
    hl::MoveMouse(on);
    l.lock();
    s.ClickedAt = s.Frames;
    s.ClickTime = s.Time;
    l.unlock();
    hl::Press(1);
    hl::Release(1);
  });

  const std::u16string command =
      u"player -filename \"" + plat::FromUtf8(folder.File("project") + "/Project.oru") + u"\"";
  const auto seen = [&](std::int64_t time, const std::uint32_t* bits, int w, int h) {
    std::lock_guard<std::mutex> g(s.Lock);
    ++s.Frames;
    if (s.ClickedAt >= 0 && s.FaceColour < 0 && bits && s.Aim.x >= 0 && s.Aim.x < w && s.Aim.y >= 0 && s.Aim.y < h)
      s.FaceColour = bits[std::size_t(s.Aim.y) * std::size_t(w) + std::size_t(s.Aim.x)] & 0xFFFFFF;
    if (w > 0 && h > 0) s.Width = w, s.Height = h;
    const bool jump = s.Time >= 0 && time - s.Time > 1000;
    if (jump && s.DraggedAt >= 0 && s.ClickedAt < 0 && s.JumpBeforeClick < 0) s.JumpBeforeClick = time;
    if (jump && s.ClickedAt >= 0 && s.JumpTo < 0) {
      s.JumpFrom = s.Time, s.JumpTo = time;
      s.FramesToJump = s.Frames - s.ClickedAt;
    }
    s.Time = time;
    s.Changed.notify_all();
    // Without a jump, the show reaching the next slide by itself is the end.
    const std::int64_t slideMs = TDemoShowLayout::kSlideLengthMs;
    return s.JumpTo >= 0 || (s.ClickedAt >= 0 && time > (s.ClickTime / slideMs + 1) * slideMs + 1000) ||
           s.Frames > 5000;
  };
  const orutest::TInProcessRun run = orutest::PlayInProcess(command, kStepMs, seen);
  {
    std::lock_guard<std::mutex> g(s.Lock);
    s.Over = true;
  }
  s.Changed.notify_all();
  pointer.join();
  // Out of the way of the windows of the tests that follow.
  plat::headless::MoveMouse(plat::POINT{1919, 1079});

  ASSERT_TRUE(run.Started);
  EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
  EXPECT_EQ(s.Width, kWidth);
  EXPECT_EQ(s.Height, kHeight);
  ASSERT_GE(s.DraggedAt, 0) << "the show never reached the time of the first press";
  EXPECT_EQ(s.JumpBeforeClick, -1) << "the press dragged off the button moved the show";
  ASSERT_GE(s.ClickedAt, 0) << "last show time " << s.Time;
  // The panel shows since the pointer first moved: the button's face (light
  // or warm, whatever its state), not the dark blue title beneath.
  ASSERT_GE(s.FaceColour, 0);
  EXPECT_TRUE((s.FaceColour >> 16) > 180 && (s.FaceColour >> 8 & 0xFF) > 130) << std::hex << s.FaceColour;
  ASSERT_GE(s.JumpTo, 0) << "no jump after the click at " << s.ClickTime << "; last show time " << s.Time;
  // The start of the slide after the one shown at the click.
  const std::int64_t slideMs = TDemoShowLayout::kSlideLengthMs;
  const std::int64_t next = (s.JumpFrom / slideMs + 1) * slideMs;
  EXPECT_GE(s.JumpTo, next) << "from " << s.JumpFrom << ", " << s.FramesToJump << " frames after the click";
  EXPECT_LT(s.JumpTo, next + 500) << "from " << s.JumpFrom;
}
