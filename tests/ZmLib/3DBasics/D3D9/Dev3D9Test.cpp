#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/HeadlessApp.h"

namespace {

namespace gfx = plat::gfx;
using namespace zm;

std::vector<std::uint32_t> gSleeps;
void RecordSleep(std::uint32_t ms) { gSleeps.push_back(ms); }

class D3D9Test : public zmtest::THeadlessAppTest {
protected:
  void SetUp() override {
    plat::headless::ResetForTests();
    savedConfig_ = gfx::CurrentConfig();
    THeadlessAppTest::SetUp();
    gSleeps.clear();
    presentSleep_.Set(&RecordSleep);
    window = MakeRef<TDumbWindow>();
    window->SetBounds({0, 0, 64, 48});
    device = MakeRef<TDrawDevice>(window->Handle());
    device->SetBounds({0, 0, 64, 48}, {0, 0}, false);
  }
  void TearDown() override {
    device = nullptr;
    engine = nullptr;
    window = nullptr;
    presentSleep_.Restore();
    gfx::SetCurrentConfig(savedConfig_);
    THeadlessAppTest::TearDown();
  }
  T3DEngine9* MakeEngine() {
    engine = Create3DEngineHook ? RefCast<T3DEngine9>(Create3DEngineHook(0)) : nullptr;
    return engine.get();
  }
  TRef<T3DRenderer9> MakeRenderer() {
    T3DDisplayMode mode;
    EXPECT_TRUE(engine->GetDisplayMode(0, mode));
    return RefCast<T3DRenderer9>(engine->CreateRenderer(device.get(), mode));
  }

  gfx::SystemConfig savedConfig_;
  THookScope<std::atomic<TPresentSleepProc>> presentSleep_{PresentSleepProc};
  TRef<TDumbWindow> window;
  TRef<TDrawDevice> device;
  TRef<T3DEngine9> engine;
};

// ---- Engine --------------------------------------------------------------------------

TEST_F(D3D9Test, HookMakesEngineOrNothing) {
  ASSERT_NE(MakeEngine(), nullptr);
  EXPECT_NE(engine->HiddenDevice(), nullptr);  // made at once on the UI thread
  EXPECT_TRUE(engine->CheckDevice());
  gfx::SystemConfig c = gfx::CurrentConfig();
  c.available = false;
  gfx::SetCurrentConfig(c);
  EXPECT_EQ(Create3DEngineHook(0), nullptr);
}

TEST_F(D3D9Test, CapabilitiesAndShaderLevel) {
  gfx::SystemConfig c = gfx::CurrentConfig();
  c.vendorId = 0x8086;
  c.pixelShaderVersion = gfx::PsVersion(2, 0);
  c.maxTextureSize = 4096;
  gfx::SetCurrentConfig(c);
  ASSERT_NE(MakeEngine(), nullptr);
  EXPECT_EQ(engine->GetShaderLevel(0), 1);
  EXPECT_EQ(engine->GetCapValue(0, "MaxTexWidth"), 4096u);
  EXPECT_EQ(engine->GetCapValue(0, "vendor"), 0x8086u);
  EXPECT_EQ(engine->GetCapValue(0, "nonsense"), 0u);
  EXPECT_EQ(engine->GetCapText(0, "VENDOR"), u"Software rasteriser");
  EXPECT_TRUE(engine->GetCapText(0, "raster").empty());
  // An adapter that does not exist caches nothing and answers 0.
  EXPECT_EQ(engine->GetCapValue(7, "raster"), 0u);
  EXPECT_EQ(engine->LastResult(), drInvalidCall);

  c.vendorId = 0x1002;
  gfx::SetCurrentConfig(c);
  ASSERT_NE(MakeEngine(), nullptr);
  EXPECT_EQ(engine->GetShaderLevel(0), 2);
}

TEST_F(D3D9Test, FindAdapterTakesLargestOverlapAndLowerOnTie) {
  plat::headless::SetMonitors({{{0, 0, 100, 100}, {0, 0, 100, 100}, true},
                               {{100, 0, 200, 100}, {100, 0, 200, 100}, false}});
  ASSERT_NE(MakeEngine(), nullptr);
  EXPECT_EQ(engine->FindAdapter({60, 0, 160, 10}), 1);
  EXPECT_EQ(engine->FindAdapter({40, 0, 140, 10}), 0);
  EXPECT_EQ(engine->FindAdapter({50, 0, 150, 10}), 0);  // tie
  EXPECT_EQ(engine->FindAdapter({500, 500, 600, 600}), 0);
  T3DDisplayMode m;
  ASSERT_TRUE(engine->GetDisplayMode(1, m));
  EXPECT_EQ(m.MonitorRect, (TRect{100, 0, 200, 100}));
  EXPECT_FALSE(engine->GetDisplayMode(5, m));
}

TEST(D3D9Mapping, ResultsBecomeCodesAndLostMarks) {
  struct TObj : T3DCallState {} obj;
  const std::pair<gfx::Result, std::uint8_t> cases[] = {
      {gfx::Result::Ok, 0},         {gfx::Result::InvalidCall, 1}, {gfx::Result::OutOfVideoMemory, 2},
      {gfx::Result::DeviceNotReset, 3}, {gfx::Result::NotAvailable, 3}, {gfx::Result::OutOfMemory, 3}};
  for (auto [r, code] : cases) {
    EXPECT_EQ(MapDxResult(obj, r), code);
    EXPECT_EQ(obj.LastResult(), code);
    EXPECT_EQ(obj.DeviceLost(), 0);
  }
  EXPECT_EQ(MapDxResult(obj, gfx::Result::DeviceLost), 3);
  EXPECT_EQ(obj.DeviceLost(), 2);
}

// ---- Renderer creation -------------------------------------------------------------------

TEST_F(D3D9Test, WindowedRendererDrawsAndPresents) {
  ASSERT_NE(MakeEngine(), nullptr);
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->State(), rsReady);
  EXPECT_TRUE(r->UsesSwapChain());  // a plain draw device
  EXPECT_TRUE(r->Luminance8Available());
  EXPECT_EQ(r->DepthFormat(), gfx::Format::D24X8);
  EXPECT_EQ(r->MaxAnisotropy(), 4);
  EXPECT_TRUE(FindDeviceObject<TDevStore>(device.get()));
  EXPECT_TRUE(FindDeviceObject<TWinPanel>(device.get()));
  ASSERT_TRUE(FindDeviceObject<TRectangleWrapper>(device.get()));
  EXPECT_TRUE(r->GetRenderTarget());

  ASSERT_TRUE(r->BeginScene());
  EXPECT_TRUE(r->Clear({}, cfTarget | cfDepth, 0xFF102030, 1.0f));
  EXPECT_TRUE(r->EndScene());
  EXPECT_TRUE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
  EXPECT_EQ(gSleeps.size(), 1u);
  // A second renderer of the same window shares the device.
  TRef<T3DRenderer9> r2 = MakeRenderer();
  ASSERT_TRUE(r2);
  EXPECT_EQ(r2->D3DDevice(), r->D3DDevice());
  EXPECT_EQ(r->Store()->RendererCount(), 2u);
}

TEST_F(D3D9Test, FailedCreationGivesNoRendererAndTheCode) {
  ASSERT_NE(MakeEngine(), nullptr);
  engine->D3D()->Debug().FailNextCreateDevice(gfx::Result::OutOfVideoMemory);
  EXPECT_FALSE(MakeRenderer());
  EXPECT_EQ(engine->LastResult(), drOutOfVideoMemory);
  EXPECT_EQ(device->RendererCount(), 0);
  EXPECT_FALSE(FindDeviceObject<TDevStore>(device.get()));
  // Exclusive full screen is refused by the desktop: no renderer either.
  Exclusive3DAllowed = true;
  device->SetBounds({0, 0, 64, 48}, {0, 0}, true);
  EXPECT_FALSE(MakeRenderer());
  EXPECT_EQ(engine->LastResult(), drFailed);
  Exclusive3DAllowed = false;
  // Without exclusive mode full screen is a window over the monitor.
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->Exclusive());
  EXPECT_TRUE(r->FullScreenRequested());
}

// ---- Loss ----------------------------------------------------------------------------

TEST_F(D3D9Test, LostMidFrameDropsStoreTellsResourcesAndIsMadeAgain) {
  ASSERT_NE(MakeEngine(), nullptr);
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  TRef<T3DTexture> tex = r->CreateTexture(tkColorAlpha, 8, 8, false);
  TRef<T3DVertexList> list = r->CreateVertexList(4, vcDiffuse, 1);
  ASSERT_TRUE(tex && list);
  int lostTex = 0, lostList = 0, lostRenderer = 0;
  tex->SetLostEvent([&](TRefObject* s) { lostTex += s == tex.get(); });
  list->SetLostEvent([&](TRefObject*) { ++lostList; });
  r->SetLostEvent([&](TRefObject*) { ++lostRenderer; });
  ASSERT_TRUE(r->BeginScene());
  r->D3DDevice()->Debug().LoseDevice(gfx::LossMode::EveryCall);
  EXPECT_FALSE(r->Clear({}, cfTarget, 0, 1.0f));
  EXPECT_EQ(r->State(), rsDeviceLost);
  EXPECT_EQ(r->LastResult(), drFailed);
  EXPECT_FALSE(FindDeviceObject<TDevStore>(device.get()));
  EXPECT_EQ(r->Store(), nullptr);
  EXPECT_EQ(lostTex, 1);
  EXPECT_EQ(lostList, 1);
  EXPECT_EQ(lostRenderer, 1);
  EXPECT_EQ(static_cast<T3DTexture9*>(tex.get())->Store(), nullptr);
  EXPECT_EQ(FindDeviceObject<TRectangleWrapper>(device.get())->Flag, 1);  // windowed
  // Later calls fail without touching a device.
  EXPECT_FALSE(r->EndScene());
  EXPECT_FALSE(r->CreateTexture(tkColorAlpha, 8, 8, false));
  // The layer above makes a new renderer; the old texture is refused there.
  r = nullptr;
  TRef<T3DRenderer9> again = MakeRenderer();
  ASSERT_TRUE(again);
  ASSERT_TRUE(again->BeginScene());
  TBaseTexture* stale[] = {tex.get()};
  TRef<T3DVertexList> list2 = again->CreateVertexList(4, vcDiffuse, 1);
  ASSERT_TRUE(list2);
  EXPECT_FALSE(again->DrawVertexList(list2.get(), stale, dfTextured));
  EXPECT_EQ(again->LastResult(), drInvalidCall);
  EXPECT_EQ(again->State(), rsReady);
  EXPECT_TRUE(again->EndScene());
}

TEST_F(D3D9Test, LostAtPresentAndStoreGoingWithTheDevice) {
  ASSERT_NE(MakeEngine(), nullptr);
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  r->D3DDevice()->Debug().LoseDevice(gfx::LossMode::PresentOnly);
  EXPECT_FALSE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
  EXPECT_EQ(r->State(), rsDeviceLost);
  EXPECT_FALSE(FindDeviceObject<TDevStore>(device.get()));

  TRef<T3DRenderer9> r2 = MakeRenderer();
  ASSERT_TRUE(r2);
  TRef<TVolumeTexture> vol = r2->CreateVolumeTexture(32, 32, 32);
  ASSERT_TRUE(vol);
  int lost = 0;
  vol->SetLostEvent([&](TRefObject*) { ++lost; });
  device = nullptr;  // the window goes: its store cuts everything off
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(r2->State(), rsDeviceLost);
  EXPECT_FALSE(r2->BeginScene());
  EXPECT_EQ(r2->Device(), nullptr);
}

// A texture or renderer whose last reference goes on another thread waits
// for the 3D lock with a count of 0; the store going meanwhile (a new window
// size, the window closing) must leave it nothing to touch.
TEST_F(D3D9Test, StoreGoingWhileItsObjectsDieOnAnotherThread) {
  ASSERT_NE(MakeEngine(), nullptr);
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  TRef<T3DTexture> tex = r->CreateTexture(tkTarget, 8, 8, false);
  ASSERT_TRUE(tex);
  T3DTexture9* tex9 = static_cast<T3DTexture9*>(tex.get());
  T3DRenderer9* r9 = r.get();
  std::vector<std::thread> dying;
  {
    std::unique_lock<std::recursive_mutex> held(Device3DLock());
    dying.emplace_back([t = std::move(tex)]() mutable { t = nullptr; });
    dying.emplace_back([t = std::move(r)]() mutable { t = nullptr; });
    while (tex9->RefCount() != 0 || r9->RefCount() != 0) std::this_thread::yield();
    device = nullptr;  // its store goes while both wait for the lock
  }
  for (auto& t : dying) t.join();
}

// ---- Pacing ----------------------------------------------------------------------------

TEST(D3D9Pacing, PauseFollowsRefreshAndElapsedTime) {
  constexpr std::int64_t p = 1000000 / 60;
  const auto pace = [](std::uint32_t rate, std::int64_t now, std::int64_t due) {
    const TPresentPace r = PresentPace(rate, now, due);
    return std::pair{r.WaitUs, r.NextDueUs};
  };
  // The first present goes at once and starts the grid.
  EXPECT_EQ(pace(60, 1000000, kNoPresentDue), std::pair(std::int64_t(0), 1000000 + p));
  // A frame drawn in time waits for its turn to the microsecond; the next
  // turn is a period after it, whatever the frame cost.
  EXPECT_EQ(pace(60, 1004000, 1000000 + p), std::pair(p - 4000, 1000000 + 2 * p));
  EXPECT_EQ(pace(60, 1000000 + p - 1, 1000000 + p), std::pair(std::int64_t(1), 1000000 + 2 * p));
  // A little late: at once, on the same grid, so the next frame has less to
  // catch up; half a period late or more: at once, and the grid moves.
  EXPECT_EQ(pace(60, 1000000 + p + 3000, 1000000 + p), std::pair(std::int64_t(0), 1000000 + 2 * p));
  EXPECT_EQ(pace(60, 1000000 + p + p / 2, 1000000 + p), std::pair(std::int64_t(0), 1000000 + 2 * p + p / 2));
  EXPECT_EQ(pace(60, 9000000, 1000000 + p), std::pair(std::int64_t(0), 9000000 + p));  // after a still spell
  // Unknown refresh: 60 Hz; 100 Hz: a 10 ms grid.
  EXPECT_EQ(pace(0, 1000000, 1000000 + 5000), std::pair(std::int64_t(5000), 1000000 + 5000 + p));
  EXPECT_EQ(pace(100, 1000000, 1000000 + 2000), std::pair(std::int64_t(2000), std::int64_t(1012000)));
  // A clock that went back (or a wrapped one) waits one period at most.
  EXPECT_EQ(pace(60, 1000000, 1000000 + 50 * p), std::pair(p, 1000000 + 2 * p));
}

TEST_F(D3D9Test, PresentSleepsTheRemainingPeriodOnTheClock) {
  plat::TManualClock clock(5000);
  ASSERT_NE(MakeEngine(), nullptr);
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  NextPresentDue3D = kNoPresentDue;
  EXPECT_TRUE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
  clock.Advance(4);
  EXPECT_TRUE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
  clock.Advance(30);
  EXPECT_TRUE(r->Present({0, 0, 64, 48}, {0, 0, 64, 48}));
  ASSERT_EQ(gSleeps.size(), 3u);
  EXPECT_EQ(gSleeps[0], 0u);
  EXPECT_EQ(gSleeps[1], 1000000u / 60 - 4000);
  EXPECT_EQ(gSleeps[2], 0u);  // 34 ms after two turns of 16.67: late, at once
}

// ---- Threads ---------------------------------------------------------------------------

TEST_F(D3D9Test, CreationFromAnotherThreadIsPostedToTheUIThread) {
  ASSERT_NE(MakeEngine(), nullptr);
  T3DDisplayMode mode;
  ASSERT_TRUE(engine->GetDisplayMode(0, mode));
  TRef<T3DRenderer> r, gone;
  std::thread t([&] {
    r = engine->CreateRenderer(device.get(), mode);
    gone = engine->CreateRenderer(device.get(), mode);
  });
  t.join();
  ASSERT_TRUE(r && gone);
  EXPECT_EQ(r->State(), rsCreationPending);
  EXPECT_FALSE(r->BeginScene());  // no device yet
  EXPECT_EQ(r->State(), rsCreationPending);
  gone = nullptr;                 // freed before the UI thread got to it
  app->ProcessMessages();
  EXPECT_EQ(r->State(), rsReady);
  EXPECT_EQ(device->RendererCount(), 1);
  EXPECT_TRUE(r->BeginScene());
  EXPECT_TRUE(r->EndScene());
}

// ---- Resources -----------------------------------------------------------------------

TEST_F(D3D9Test, TextureSizesKindsAndSurfaces) {
  ASSERT_NE(MakeEngine(), nullptr);
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->CreateTexture(tkColorAlpha, 0, 16, false));
  EXPECT_EQ(r->LastResult(), drInvalidCall);
  EXPECT_FALSE(r->CreateTexture(tkColorAlpha, -5, 16, false));
  EXPECT_FALSE(r->CreateTexture(tkColorAlpha, 100000, 100000, false));
  EXPECT_EQ(r->LastResult(), drInvalidCall);
  r->D3DDevice()->Debug().SetVideoMemoryBudget(1024);
  EXPECT_FALSE(r->CreateTexture(tkColorAlpha, 64, 64, false));
  EXPECT_EQ(r->LastResult(), drOutOfVideoMemory);
  EXPECT_EQ(r->State(), rsReady);
  r->D3DDevice()->Debug().SetVideoMemoryBudget(0);

  TRef<T3DTexture> target = r->CreateTexture(tkTargetAlpha, 16, 16, true);
  TRef<T3DTexture> mipped = r->CreateTexture(tkColorAlpha, 16, 16, true);
  ASSERT_TRUE(target && mipped);
  EXPECT_EQ(target->GetLevelCount(), 1);
  EXPECT_EQ(mipped->GetLevelCount(), 5);
  TRef<T3DSurface> s = target->GetSurface(0);
  ASSERT_TRUE(s);
  EXPECT_EQ(s.get(), target->GetSurface(0).get());
  EXPECT_TRUE(dynamic_cast<T3DSurfaceRT*>(s.get()));
  EXPECT_EQ(s->GetSize(), (TSize{16, 16}));
  EXPECT_FALSE(target->GetSurface(3));
  // A render target cannot be locked; it is read back instead.
  EXPECT_FALSE(s->Lock({0, 0, 4, 4}, true));
  ASSERT_TRUE(r->BeginScene());
  ASSERT_TRUE(r->SetRenderTarget(s.get()));
  ASSERT_TRUE(r->Clear({}, cfTarget, 0xFF336699, 1.0f));
  EXPECT_TRUE(r->EndScene());
  std::vector<std::uint32_t> pixels(16 * 16);
  std::vector<std::uint8_t*> rows;
  for (int y = 0; y < 16; ++y) rows.push_back(reinterpret_cast<std::uint8_t*>(&pixels[std::size_t(y) * 16]));
  TRef<TSysBitmap> out = MakeRef<TSysBitmap>(TPoint{16, 16}, rows, FindPixelFormat("A8R8G8B8"));
  EXPECT_TRUE(s->CopyToBitmap(out.get()));
  EXPECT_EQ(pixels[5 * 16 + 7], 0xFF336699u);
}

TEST_F(D3D9Test, VertexLayoutVolumeLockAndReleasedWhileBound) {
  ASSERT_NE(MakeEngine(), nullptr);
  TRef<T3DRenderer9> r = MakeRenderer();
  ASSERT_TRUE(r);
  TRef<T3DVertexList> l = r->CreateVertexList(4, vcDiffuse, 2);
  ASSERT_TRUE(l);
  auto* l9 = static_cast<T3DVertexList9*>(l.get());
  EXPECT_EQ(l9->Stride(), 32u);
  EXPECT_EQ(l9->TexOffset(), 16u);
  EXPECT_FALSE(r->CreateVertexList(0, vcDiffuse, 1));
  EXPECT_FALSE(r->CreateVertexList(4, 0, 9));
  T3DVertex v[4];
  for (int i = 0; i < 4; ++i) {
    v[i].X = float(i & 1) * 64;
    v[i].Y = float(i >> 1) * 48;
    v[i].Diffuse = 0xFFFF0000;
  }
  EXPECT_TRUE(l->SetVertices(0, v, 0, 4));
  EXPECT_FALSE(l->SetVertices(2, v, 0, 4));  // past the end of the list
  EXPECT_FALSE(l->SetVertices(0, v, 2, 4));  // past the end of the records

  TRef<TVolumeTexture> vol = r->CreateVolumeTexture(32, 32, 32);
  ASSERT_TRUE(vol);
  TRef<TSysBitmap> box = vol->LockBox(0, {0, 0, 0, 2, 2, 2});
  ASSERT_TRUE(box);
  EXPECT_EQ(box->Width(), 2);
  EXPECT_EQ(box->Height(), 4);
  EXPECT_TRUE(vol->UnlockBox(0, box));
  EXPECT_FALSE(box);
  EXPECT_FALSE(vol->LockBox(0, {0, 0, 0, 0, 2, 2}));

  TRef<T3DTexture> tex = r->CreateTexture(tkColorAlpha, 4, 4, false);
  ASSERT_TRUE(tex);
  ASSERT_TRUE(r->BeginScene());
  ASSERT_TRUE(r->SetTexture(0, tex.get()));
  tex = nullptr;  // released while bound
  ASSERT_TRUE(l->SetPrimitive(0, 2, ptTriangleStrip));
  TBaseTexture* none[] = {nullptr, nullptr};
  EXPECT_TRUE(r->DrawVertexList(l.get(), none, dfTextured | dfModulateColor));
  EXPECT_TRUE(r->SetTexture(0, nullptr));
  EXPECT_TRUE(r->EndScene());
  EXPECT_EQ(r->Store()->ResourceCount(), 2u);  // the list and the volume
}

}  // namespace
