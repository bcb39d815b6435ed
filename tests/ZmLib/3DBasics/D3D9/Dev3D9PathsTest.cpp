// The hidden device's reset, the host panel's forwarding, the bounded
// release on the UI thread, and present pacing without a known refresh.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/winSession.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/HeadlessApp.h"

namespace {

namespace gfx = plat::gfx;
using namespace zm;

struct TSeenMessage {
  UINT Msg;
  WPARAM W;
  LPARAM L;
};

// A draw device's window that records what reaches it.
class TRecordingWindow : public TDumbWindow {
public:
  std::vector<TSeenMessage> Seen;

protected:
  LRESULT WndProc(HWND h, UINT msg, WPARAM w, LPARAM l) override {
    if (msg == plat::WM_SETCURSOR || (msg >= plat::WM_MOUSEFIRST && msg <= plat::WM_MOUSELAST)) {
      Seen.push_back({msg, w, l});
      return msg == plat::WM_SETCURSOR ? 1 : 7;
    }
    return TDumbWindow::WndProc(h, msg, w, l);
  }
};

std::vector<std::uint32_t> gSleeps;
void RecordSleep(std::uint32_t ms) { gSleeps.push_back(ms); }

class D3D9Paths : public zmtest::THeadlessAppTest {
protected:
  void SetUp() override {
    THeadlessAppTest::SetUp();
    gSleeps.clear();
    presentSleep_.Set(&RecordSleep);
    window = MakeRef<TRecordingWindow>();
    window->SetBounds({100, 50, 200, 150});
    device = MakeRef<TDrawDevice>(window->Handle());
    device->SetBounds({10, 20, 74, 68}, {0, 0}, false);
    engine = RefCast<T3DEngine9>(Create3DEngineHook(0));
  }
  void TearDown() override {
    device = nullptr;
    engine = nullptr;
    window = nullptr;
    presentSleep_.Restore();
    THeadlessAppTest::TearDown();
  }
  TRef<T3DRenderer9> MakeRenderer(std::int32_t refresh) {
    T3DDisplayMode mode;
    EXPECT_TRUE(engine->GetDisplayMode(0, mode));
    mode.RefreshRate = refresh;
    return RefCast<T3DRenderer9>(engine->CreateRenderer(device.get(), mode));
  }
  static std::size_t CountCalls(gfx::Device* d, gfx::CallKind kind) {
    std::size_t n = 0;
    for (const gfx::CallRecord& c : d->Debug().Calls()) n += c.call == kind;
    return n;
  }

  THookScope<std::atomic<TPresentSleepProc>> presentSleep_{PresentSleepProc};
  TRef<TRecordingWindow> window;
  TRef<TDrawDevice> device;
  TRef<T3DEngine9> engine;
};

// ---- The hidden device ------------------------------------------------------------

TEST_F(D3D9Paths, CheckDeviceResetsTheHiddenDeviceOnlyWhenItMayBeReset) {
  ASSERT_TRUE(engine);
  gfx::Device* hidden = engine->HiddenDevice();
  ASSERT_NE(hidden, nullptr);
  hidden->Debug().RecordCalls(true);
  EXPECT_TRUE(engine->CheckDevice());
  EXPECT_EQ(CountCalls(hidden, gfx::CallKind::Reset), 0u);

  // Lost and not yet resettable: false, nothing reset.
  hidden->Debug().LoseDevice(gfx::LossMode::PresentOnly);
  EXPECT_FALSE(engine->CheckDevice());
  EXPECT_EQ(CountCalls(hidden, gfx::CallKind::Reset), 0u);

  // Resettable, but the reset fails: false and the code; the next check tries again.
  hidden->Debug().AllowReset();
  hidden->Debug().FailNext(gfx::CallKind::Reset, gfx::Result::OutOfVideoMemory);
  EXPECT_FALSE(engine->CheckDevice());
  EXPECT_EQ(engine->LastResult(), drOutOfVideoMemory);
  EXPECT_EQ(hidden->TestCooperativeLevel(), gfx::Result::DeviceNotReset);
  EXPECT_TRUE(engine->CheckDevice());
  EXPECT_EQ(CountCalls(hidden, gfx::CallKind::Reset), 2u);
  EXPECT_EQ(hidden->TestCooperativeLevel(), gfx::Result::Ok);
  EXPECT_EQ(engine->LastResult(), drOk);

  // A locked desktop is not asked about at all.
  hidden->Debug().ClearCalls();
  plat::headless::SetSessionLocked(true);
  app->ProcessMessages();
  ASSERT_TRUE(IsSessionLocked());
  EXPECT_FALSE(engine->CheckDevice());
  EXPECT_EQ(CountCalls(hidden, gfx::CallKind::TestCooperativeLevel), 0u);
  plat::headless::SetSessionLocked(false);
  app->ProcessMessages();
}

TEST_F(D3D9Paths, CheckDeviceFromAnotherThreadPostsTheReset) {
  ASSERT_TRUE(engine);
  gfx::Device* hidden = engine->HiddenDevice();
  ASSERT_NE(hidden, nullptr);
  hidden->Debug().LoseDevice(gfx::LossMode::PresentOnly);
  hidden->Debug().AllowReset();
  bool answer = false;
  std::thread t([&] { answer = engine->CheckDevice(); });
  t.join();
  EXPECT_TRUE(answer);  // the reset is on its way
  EXPECT_EQ(hidden->TestCooperativeLevel(), gfx::Result::DeviceNotReset);
  app->ProcessMessages();
  EXPECT_EQ(hidden->TestCooperativeLevel(), gfx::Result::Ok);
}

// ---- The host panel -----------------------------------------------------------------

TEST_F(D3D9Paths, PanelPassesMouseAndCursorToTheDeviceWindow) {
  ASSERT_TRUE(engine);
  TRef<T3DRenderer9> r = MakeRenderer(60);
  ASSERT_TRUE(r);
  TRef<TWinPanel> panel = FindDeviceObject<TWinPanel>(device.get());
  ASSERT_TRUE(panel);
  HWND p = panel->Handle();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(panel->ParentWindow(), window->Handle());
  auto send = [&](UINT msg, WPARAM w, LPARAM l) { return WndAPIClass->SendMessage(p, msg, w, l); };
  auto xy = [](int x, int y) { return LPARAM((std::uint32_t(std::uint16_t(y)) << 16) | std::uint16_t(x)); };

  // The cursor question goes on unchanged and its answer comes back.
  EXPECT_EQ(send(plat::WM_SETCURSOR, WPARAM(p), 0x02000001), 1);
  // Client points move by the panel's place in the window, also negative ones.
  EXPECT_EQ(send(plat::WM_MOUSEMOVE, 0, xy(5, 6)), 7);
  send(plat::WM_LBUTTONDOWN, 1, xy(-3, -4));
  // The wheel carries screen coordinates: they stay as they are.
  send(plat::WM_MOUSEWHEEL, WPARAM(120) << 16, xy(300, 400));
  send(plat::WM_MOUSEHWHEEL, WPARAM(120) << 16, xy(-30, 40));
  // Outside the mouse range nothing is passed on.
  send(plat::WM_MOUSELAST + 1, 0, xy(1, 1));
  ASSERT_EQ(window->Seen.size(), 5u);
  EXPECT_EQ(window->Seen[0].Msg, UINT(plat::WM_SETCURSOR));
  EXPECT_EQ(window->Seen[0].W, WPARAM(p));
  EXPECT_EQ(window->Seen[0].L, 0x02000001);
  EXPECT_EQ(window->Seen[1].L, xy(15, 26));
  EXPECT_EQ(window->Seen[2].W, 1u);
  EXPECT_EQ(window->Seen[2].L, xy(7, 16));
  EXPECT_EQ(window->Seen[3].Msg, UINT(plat::WM_MOUSEWHEEL));
  EXPECT_EQ(window->Seen[3].L, xy(300, 400));
  EXPECT_EQ(window->Seen[4].L, xy(-30, 40));

  // A panel whose device went answers for itself and passes nothing on.
  TRef<TWinPanel> keep = panel;
  r = nullptr;
  device = nullptr;
  window->Seen.clear();
  WndAPIClass->SendMessage(p, plat::WM_MOUSEMOVE, 0, xy(1, 1));
  WndAPIClass->SendMessage(p, plat::WM_SETCURSOR, WPARAM(p), 0);
  EXPECT_TRUE(window->Seen.empty());
}

// A draw device that counts its repaint events.
class TRepaintCounter : public TDrawDevice {
public:
  using TDrawDevice::TDrawDevice;
  int Repaints = 0;
  void Repaint() override { ++Repaints; }
};

TEST_F(D3D9Paths, PanelShowsTheFaceUntilItsFirstPaintAndPaintsThroughTheDevice) {
  ASSERT_TRUE(engine);
  auto counter = MakeRef<TRepaintCounter>(window->Handle());
  counter->SetBounds({10, 20, 74, 68}, {0, 0}, false);
  device = counter;
  TRef<T3DRenderer9> r = MakeRenderer(60);
  ASSERT_TRUE(r);
  // A new renderer asks its device for a picture.
  const int made = counter->Repaints;
  EXPECT_EQ(made, 1);
  TRef<TWinPanel> panel = FindDeviceObject<TWinPanel>(device.get());
  ASSERT_TRUE(panel);
  ASSERT_TRUE(panel->EraseFlag());

  // Erasing paints the whole client area in the face colour.
  plat::BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 64;
  bi.bmiHeader.biHeight = -48;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  plat::HBITMAP bmp = plat::CreateDIBSection(nullptr, &bi, plat::DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bmp, nullptr);
  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  plat::HGDIOBJ old = plat::SelectObject(dc, reinterpret_cast<plat::HGDIOBJ>(bmp));
  const plat::COLORREF face = plat::GetSysColor(plat::COLOR_BTNFACE);
  HWND p = panel->Handle();
  EXPECT_EQ(WndAPIClass->SendMessage(p, plat::WM_ERASEBKGND, WPARAM(dc), 0), 1);
  EXPECT_EQ(plat::GetPixel(dc, 0, 0), face);
  EXPECT_EQ(plat::GetPixel(dc, 63, 47), face);

  // The first paint goes to the device; from then on the device's picture
  // is never erased.
  WndAPIClass->SendMessage(p, plat::WM_PAINT, 0, 0);
  EXPECT_EQ(counter->Repaints, made + 1);
  EXPECT_FALSE(panel->EraseFlag());
  plat::SetPixel(dc, 0, 0, 0);
  EXPECT_EQ(WndAPIClass->SendMessage(p, plat::WM_ERASEBKGND, WPARAM(dc), 0), 1);
  EXPECT_EQ(plat::GetPixel(dc, 0, 0), 0u);
  plat::SelectObject(dc, old);
  plat::DeleteDC(dc);
  plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(bmp));
}

// ---- Release on the UI thread -------------------------------------------------------

TEST_F(D3D9Paths, ReleaseWaitsABoundedWhileForOtherHolders) {
  ASSERT_TRUE(engine);
  gfx::PresentParameters pp;
  pp.backBufferWidth = pp.backBufferHeight = 8;
  pp.backBufferFormat = gfx::Format::X8R8G8B8;
  pp.backBufferCount = 1;
  pp.swapEffect = gfx::SwapEffect::Copy;
  pp.windowed = true;
  pp.deviceWindow = window->Handle();
  const std::size_t live = engine->D3D()->Debug().LiveDevices();
  auto makeDevice = [&] {
    gfx::Ref<gfx::Device> d;
    EXPECT_EQ(engine->D3D()->CreateDevice(0, gfx::DeviceType::Hal, window->Handle(), 0x26, pp, d), gfx::Result::Ok);
    return d;
  };

  // Nobody else holds it: released at once, the window placed back.
  {
    TRef<TReleaseData> data = MakeRef<TReleaseData>();
    data->Device = makeDevice();
    data->Window = window->Handle();
    data->Rect = {30, 40, 90, 100};
    TReleaseData* raw = data.get();
    TRef<TReleaseData> keep = data;
    engine->PostRelease(std::move(data));
    EXPECT_FALSE(raw->Device);
    EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), live);
    plat::WINDOWPLACEMENT wp;
    ASSERT_TRUE(plat::GetWindowPlacement(window->Handle(), &wp));
    EXPECT_EQ(wp.rcNormalPosition.left, 30);
    EXPECT_EQ(wp.rcNormalPosition.bottom, 100);
  }
  // A texture still holds it: the wait ends after its bound, the texture
  // keeps the device until it goes itself.
  {
    gfx::Ref<gfx::Device> d = makeDevice();
    gfx::Ref<gfx::Texture> leaked;
    ASSERT_EQ(d->CreateTexture(4, 4, 1, 0, gfx::Format::A8R8G8B8, gfx::Pool::Managed, leaked), gfx::Result::Ok);
    TRef<TReleaseData> data = MakeRef<TReleaseData>();
    data->Device = std::move(d);
    TReleaseData* raw = data.get();
    TRef<TReleaseData> keep = data;
    engine->PostRelease(std::move(data));  // returns: no hang
    EXPECT_FALSE(raw->Device);
    EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), live + 1);
    leaked = nullptr;
    EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), live);
  }
  // From another thread the release is posted to the UI thread.
  {
    TRef<TReleaseData> data = MakeRef<TReleaseData>();
    data->Device = makeDevice();
    std::thread t([&] { engine->PostRelease(std::move(data)); });
    t.join();
    EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), live + 1);
    app->ProcessMessages();
    EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), live);
  }
}

// ---- Pacing -------------------------------------------------------------------------

TEST_F(D3D9Paths, PresentWithoutAKnownRefreshPacesAtSixtyHertz) {
  ASSERT_TRUE(engine);
  plat::TManualClock clock(7000);
  for (std::int32_t refresh : {0, -5}) {
    TRef<T3DRenderer9> r = MakeRenderer(refresh);
    ASSERT_TRUE(r);
    gSleeps.clear();
    NextPresentDue3D = std::int64_t(GetTimeMs()) * 1000;
    EXPECT_TRUE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
    clock.Advance(2);
    EXPECT_TRUE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
    clock.Advance(100);
    EXPECT_TRUE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
    ASSERT_EQ(gSleeps.size(), 3u);
    EXPECT_EQ(gSleeps[0], 0u);
    EXPECT_EQ(gSleeps[1], 1000000u / 60 - 2000);
    EXPECT_EQ(gSleeps[2], 0u);
  }
}

}  // namespace
