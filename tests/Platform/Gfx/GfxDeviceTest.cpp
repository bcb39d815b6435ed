#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxPresent.h"
#include "Platform/Gfx/GfxWorkers.h"

namespace gfxdevtest {

using namespace plat::gfx;

constexpr std::uint32_t kW = 16, kH = 12;

class GfxDeviceFixture : public ::testing::Test {
protected:
  void SetUp() override {
    SystemConfig cfg;
    cfg.presentSink = &sink;
    Configure(cfg);
    system = CreateSystem(kSdkVersion, cfg);
    ASSERT_TRUE(system);
    ASSERT_EQ(Make(device), Result::Ok);
  }
  virtual void Configure(SystemConfig&) {}
  Result Make(Ref<Device>& out, std::uint32_t w = kW, std::uint32_t h = kH) {
    PresentParameters pp;
    pp.backBufferWidth = w;
    pp.backBufferHeight = h;
    pp.backBufferFormat = Format::X8R8G8B8;
    return system->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, out);
  }
  Ref<Texture> RenderTexture(std::uint32_t w = kW, std::uint32_t h = kH, Format f = Format::A8R8G8B8) {
    Ref<Texture> t;
    EXPECT_EQ(device->CreateTexture(w, h, 1, UsageRenderTarget, f, Pool::Default, t), Result::Ok);
    return t;
  }
  Ref<Surface> Level0(Texture* t) {
    Ref<Surface> s;
    EXPECT_EQ(t->GetSurfaceLevel(0, s), Result::Ok);
    return s;
  }
  // The pixels of a render target, read back through system memory.
  std::vector<std::uint32_t> ReadBack(Surface* rt) {
    SurfaceDesc d;
    rt->GetDesc(d);
    Ref<Surface> sys;
    EXPECT_EQ(device->CreateOffscreenPlainSurface(d.width, d.height, d.format, Pool::SystemMem, sys), Result::Ok);
    EXPECT_EQ(device->GetRenderTargetData(rt, sys.Get()), Result::Ok);
    LockedRect lr;
    EXPECT_EQ(sys->LockRect(lr, nullptr, LockReadOnly | LockNoSysLock | LockNoDirtyUpdate), Result::Ok);
    std::vector<std::uint32_t> out;
    const FrameView f{static_cast<const std::uint8_t*>(lr.bits), lr.pitch, d.width, d.height, d.format};
    for (std::uint32_t y = 0; y < d.height; ++y)
      for (std::uint32_t x = 0; x < d.width; ++x) out.push_back(ReadPixelArgb(f, x, y));
    EXPECT_EQ(sys->UnlockRect(), Result::Ok);
    return out;
  }
  Ref<Surface> BackBuffer() {
    Ref<Surface> s;
    EXPECT_EQ(device->GetBackBuffer(0, 0, BackBufferType::Mono, s), Result::Ok);
    return s;
  }

  MemorySink sink;
  Ref<System> system;
  Ref<Device> device;
};

// ---- object lifetime ------------------------------------------------------------------------------

TEST_F(GfxDeviceFixture, ResourcesHoldTheirDeviceAndReleaseAnswersTheRemainingCount) {
  EXPECT_EQ(device->AddRef(), 2u);
  EXPECT_EQ(device->Release(), 1u);
  Ref<Texture> tex;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, tex), Result::Ok);
  Ref<Surface> level = Level0(tex.Get());
  // The texture's reference keeps the device; a level shares the texture's count.
  EXPECT_EQ(device->AddRef(), 3u);
  EXPECT_EQ(device->Release(), 2u);
  EXPECT_EQ(tex->AddRef(), 3u);
  EXPECT_EQ(tex->Release(), 2u);
  level = nullptr;
  EXPECT_EQ(tex->RefCount(), 1u);
  // The spin loop of the release path: count 1 once the resource went.
  tex = nullptr;
  EXPECT_EQ(device->AddRef(), 2u);
  EXPECT_EQ(device->Release(), 1u);
}

TEST_F(GfxDeviceFixture, ResourcesOutliveTheDevicesRelease) {
  Ref<Texture> tex;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, tex), Result::Ok);
  Ref<VertexBuffer> vb;
  ASSERT_EQ(device->CreateVertexBuffer(64, 0, FvfXyz | FvfDiffuse, Pool::Managed, vb), Result::Ok);
  ASSERT_EQ(device->SetTexture(0, tex.Get()), Result::Ok);
  EXPECT_EQ(device.Detach()->Release(), 2u);  // the two resources remain
  EXPECT_EQ(system->Debug().LiveDevices(), 1u);
  LockedRect lr;
  ASSERT_EQ(tex->LockRect(0, lr, nullptr, 0), Result::Ok);
  std::memset(lr.bits, 0x7F, 16);
  EXPECT_EQ(tex->UnlockRect(0), Result::Ok);
  void* data = nullptr;
  EXPECT_EQ(vb->Lock(0, 0, &data, 0), Result::Ok);
  EXPECT_EQ(vb->Unlock(), Result::Ok);
  tex = nullptr;
  EXPECT_EQ(system->Debug().LiveDevices(), 1u);
  vb = nullptr;
  EXPECT_EQ(system->Debug().LiveDevices(), 0u);
}

TEST_F(GfxDeviceFixture, TextureReleasedWhileBoundStaysUsableAndDoesNotPinTheDevice) {
  Ref<Texture> tex;
  ASSERT_EQ(device->CreateTexture(4, 4, 0, 0, Format::A8R8G8B8, Pool::Managed, tex), Result::Ok);
  ASSERT_EQ(device->SetTexture(3, tex.Get()), Result::Ok);
  EXPECT_EQ(tex.Detach()->Release(), 0u);
  // The binding keeps the memory but is no caller reference of the device.
  EXPECT_EQ(device->RefCount(), 1u);
  EXPECT_EQ(device->Debug().LiveResources(), 3u);  // swap chain, back buffer, the bound texture

  std::uint8_t quad[3 * 16] = {};
  ASSERT_EQ(device->SetFVF(FvfXyz | FvfDiffuse), Result::Ok);
  ASSERT_EQ(device->BeginScene(), Result::Ok);
  EXPECT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 1, quad, 16), Result::Ok);
  ASSERT_EQ(device->EndScene(), Result::Ok);

  Ref<BaseTexture> back;
  ASSERT_EQ(device->GetTexture(3, back), Result::Ok);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->RefCount(), 1u);
  EXPECT_EQ(device->RefCount(), 2u);  // a caller holds the texture again
  back = nullptr;
  EXPECT_EQ(device->RefCount(), 1u);
  ASSERT_EQ(device->SetTexture(3, nullptr), Result::Ok);
  EXPECT_EQ(device->Debug().LiveResources(), 2u);
}

TEST_F(GfxDeviceFixture, DeviceReleasedWithBindingsFreesEverything) {
  Ref<Texture> rt = RenderTexture();
  ASSERT_EQ(device->SetRenderTarget(0, Level0(rt.Get()).Get()), Result::Ok);
  Ref<VertexBuffer> vb;
  ASSERT_EQ(device->CreateVertexBuffer(64, 0, 0, Pool::Managed, vb), Result::Ok);
  ASSERT_EQ(device->SetStreamSource(0, vb.Get(), 0, 16), Result::Ok);
  rt = nullptr;
  vb = nullptr;
  EXPECT_EQ(device->RefCount(), 1u);
  device = nullptr;  // leak checking finds what would stay
  EXPECT_EQ(system->Debug().LiveDevices(), 0u);
}

// ---- system ------------------------------------------------------------------------------------------

TEST(GfxSystem, AvailabilityCapsFormatsAndRefusedFullScreen) {
  SystemConfig off;
  off.available = false;
  EXPECT_FALSE(CreateSystem(kSdkVersion, off));
  SystemConfig cfg;
  EXPECT_FALSE(CreateSystem(31, cfg));
  cfg.luminanceTextures = false;
  cfg.depth24 = false;
  cfg.vendorId = 0x8086;
  cfg.adapters = {AdapterConfig{nullptr, Rect{0, 0, 800, 600}, DisplayMode{800, 600, 75, Format::X8R8G8B8}}};
  Ref<System> sys = CreateSystem(kSdkVersion, cfg);
  ASSERT_TRUE(sys);
  EXPECT_EQ(sys->AdapterCount(), 1u);
  DisplayMode mode;
  EXPECT_EQ(sys->AdapterDisplayMode(0, mode), Result::Ok);
  EXPECT_EQ(mode.refreshRate, 75u);
  EXPECT_EQ(sys->AdapterDisplayMode(1, mode), Result::InvalidCall);
  Caps caps;
  EXPECT_EQ(sys->DeviceCaps(0, DeviceType::Hal, caps), Result::Ok);
  EXPECT_EQ(caps.pixelShaderVersion, 0xFFFF0200u);
  EXPECT_EQ(caps.rasterCaps & (RasterAnisotropy | RasterMipLodBias), RasterAnisotropy | RasterMipLodBias);
  EXPECT_EQ(sys->DeviceCaps(0, static_cast<DeviceType>(2), caps), Result::InvalidCall);
  AdapterIdentifier id;
  EXPECT_EQ(sys->AdapterIdentifierOf(0, 0, id), Result::Ok);
  EXPECT_EQ(id.vendorId, 0x8086u);
  const Format mf = Format::X8R8G8B8;
  EXPECT_EQ(sys->CheckDeviceFormat(0, DeviceType::Hal, mf, 0, ResourceType::Texture, Format::L8), Result::NotAvailable);
  EXPECT_EQ(sys->CheckDeviceFormat(0, DeviceType::Hal, mf, UsageDepthStencil, ResourceType::Surface, Format::D24X8),
            Result::NotAvailable);
  EXPECT_EQ(sys->CheckDeviceFormat(0, DeviceType::Hal, mf, UsageDepthStencil, ResourceType::Surface, Format::D16),
            Result::Ok);
  EXPECT_EQ(sys->CheckDeviceFormat(0, DeviceType::Hal, mf, UsageRenderTarget, ResourceType::Texture, Format::R5G6B5),
            Result::NotAvailable);
  EXPECT_EQ(sys->CheckDeviceFormat(0, DeviceType::Hal, mf, 0, ResourceType::Texture, Format::R5G6B5), Result::Ok);

  PresentParameters pp;
  pp.backBufferWidth = 8;
  pp.backBufferHeight = 8;
  Ref<Device> dev;
  pp.windowed = false;
  EXPECT_EQ(sys->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, dev), Result::NotAvailable);
  pp.windowed = true;
  pp.backBufferFormat = Format::R5G6B5;
  EXPECT_EQ(sys->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, dev), Result::NotAvailable);
  pp.backBufferFormat = Format::Unknown;  // takes the mode's format
  pp.backBufferWidth = 0;                 // no window to take a size from
  EXPECT_EQ(sys->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, dev), Result::InvalidCall);
  pp.backBufferWidth = 8;
  EXPECT_EQ(sys->CreateDevice(1, DeviceType::Hal, nullptr, 0x26, pp, dev), Result::InvalidCall);
  sys->Debug().FailNextCreateDevice(Result::NotAvailable);
  EXPECT_EQ(sys->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, dev), Result::NotAvailable);
  EXPECT_FALSE(dev);
  ASSERT_EQ(sys->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, dev), Result::Ok);
  EXPECT_EQ(pp.backBufferFormat, Format::X8R8G8B8);
  // A budget smaller than the back buffer refuses the device.
  cfg.videoMemoryBudget = 100;
  Ref<System> small = CreateSystem(kSdkVersion, cfg);
  EXPECT_EQ(small->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, dev), Result::OutOfVideoMemory);
  EXPECT_FALSE(dev);
}

TEST(GfxSystem, ResultBytes) {
  EXPECT_EQ(ResultByte(Result::Ok), 0);
  EXPECT_EQ(ResultByte(Result::InvalidCall), 1);
  EXPECT_EQ(ResultByte(Result::OutOfVideoMemory), 2);
  EXPECT_EQ(ResultByte(Result::DeviceLost), 3);
  EXPECT_EQ(ResultByte(Result::DeviceNotReset), 3);
  EXPECT_EQ(ResultByte(Result::OutOfMemory), 3);
}

// ---- creation: bad sizes, formats, budget ---------------------------------------------------------

TEST_F(GfxDeviceFixture, ZeroSizeHugeAndBadFormatsAreRefusedBeforeMemoryIsTaken) {
  const std::uint64_t before = device->Debug().VideoMemoryInUse();
  Ref<Texture> t;
  EXPECT_EQ(device->CreateTexture(0, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(4, 0, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(8193, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0, Format::A8R8G8B8, Pool::Managed, t),
            Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, Format::D16, Pool::Managed, t), Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, static_cast<Format>(999), Pool::Managed, t), Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(4, 4, 1, UsageRenderTarget, Format::A8R8G8B8, Pool::Managed, t), Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(4, 4, 1, UsageRenderTarget, Format::L8, Pool::Default, t), Result::InvalidCall);
  EXPECT_EQ(device->CreateTexture(4, 4, 4, 0, Format::A8R8G8B8, Pool::Managed, t), Result::InvalidCall);
  EXPECT_FALSE(t);
  Ref<VolumeTexture> v;
  EXPECT_EQ(device->CreateVolumeTexture(32, 0, 32, 1, 0, Format::A8R8G8B8, Pool::Managed, v), Result::InvalidCall);
  EXPECT_EQ(device->CreateVolumeTexture(100000, 32, 32, 1, 0, Format::A8R8G8B8, Pool::Managed, v), Result::InvalidCall);
  EXPECT_EQ(device->CreateVolumeTexture(32, 32, 32, 2, 0, Format::A8R8G8B8, Pool::Managed, v), Result::InvalidCall);
  Ref<VertexBuffer> vb;
  EXPECT_EQ(device->CreateVertexBuffer(0, 0, 0, Pool::Managed, vb), Result::InvalidCall);
  EXPECT_EQ(device->CreateVertexBuffer(8, 0, FvfXyz | FvfDiffuse, Pool::Managed, vb), Result::InvalidCall);
  EXPECT_EQ(device->CreateVertexBuffer(0xFFFFFFF0u, 0, 0, Pool::Managed, vb), Result::OutOfVideoMemory);
  Ref<Surface> s;
  EXPECT_EQ(device->CreateOffscreenPlainSurface(0, 1, Format::A8R8G8B8, Pool::SystemMem, s), Result::InvalidCall);
  EXPECT_EQ(device->CreateOffscreenPlainSurface(70000, 1, Format::A8R8G8B8, Pool::SystemMem, s), Result::InvalidCall);
  EXPECT_EQ(device->CreateOffscreenPlainSurface(4, 4, Format::A8R8G8B8, Pool::Managed, s), Result::InvalidCall);
  EXPECT_EQ(device->Debug().VideoMemoryInUse(), before);
  EXPECT_EQ(device->Debug().LiveResources(), 2u);

  // A full chain for levels 0, down to 1 x 1.
  ASSERT_EQ(device->CreateTexture(8, 2, 0, 0, Format::L8, Pool::Managed, t), Result::Ok);
  EXPECT_EQ(t->LevelCount(), 4u);
  SurfaceDesc d;
  EXPECT_EQ(t->GetLevelDesc(3, d), Result::Ok);
  EXPECT_EQ(d.width, 1u);
  EXPECT_EQ(d.height, 1u);
  EXPECT_EQ(t->GetLevelDesc(4, d), Result::InvalidCall);
  Ref<Surface> none;
  EXPECT_EQ(t->GetSurfaceLevel(4, none), Result::InvalidCall);
}

TEST_F(GfxDeviceFixture, VideoMemoryBudgetRefusesAndFreeingMakesRoom) {
  const std::uint64_t base = device->Debug().VideoMemoryInUse();
  EXPECT_EQ(base, std::uint64_t{kW} * 4 * kH);
  device->Debug().SetVideoMemoryBudget(base + 2 * 64 * 64 * 4);
  Ref<Texture> a, b, c;
  ASSERT_EQ(device->CreateTexture(64, 64, 1, 0, Format::A8R8G8B8, Pool::Managed, a), Result::Ok);
  ASSERT_EQ(device->CreateTexture(64, 64, 1, UsageRenderTarget, Format::X8R8G8B8, Pool::Default, b), Result::Ok);
  EXPECT_EQ(device->CreateTexture(64, 64, 1, 0, Format::A8R8G8B8, Pool::Managed, c), Result::OutOfVideoMemory);
  EXPECT_FALSE(c);
  // System memory is not video memory.
  Ref<Surface> sys;
  EXPECT_EQ(device->CreateOffscreenPlainSurface(64, 64, Format::A8R8G8B8, Pool::SystemMem, sys), Result::Ok);
  a = nullptr;
  EXPECT_EQ(device->CreateTexture(64, 64, 1, 0, Format::A8R8G8B8, Pool::Managed, c), Result::Ok);
  EXPECT_EQ(device->Debug().VideoMemoryInUse(), base + 2 * 64 * 64 * 4);
}

// ---- locks ----------------------------------------------------------------------------------------

class GfxPaddedFixture : public GfxDeviceFixture {
  void Configure(SystemConfig& cfg) override { cfg.padRowPitch = true; }
};

TEST_F(GfxPaddedFixture, LockRulesAndPitch) {
  Ref<Texture> rt = RenderTexture();
  LockedRect lr;
  EXPECT_EQ(rt->LockRect(0, lr, nullptr, 0), Result::InvalidCall);
  EXPECT_EQ(BackBuffer()->LockRect(lr, nullptr, 0), Result::InvalidCall);
  Ref<Texture> plainDefault;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Default, plainDefault), Result::Ok);
  EXPECT_EQ(plainDefault->LockRect(0, lr, nullptr, 0), Result::InvalidCall);

  Ref<Texture> tex;
  ASSERT_EQ(device->CreateTexture(5, 3, 1, 0, Format::L8, Pool::Managed, tex), Result::Ok);
  Ref<Surface> s = Level0(tex.Get());
  EXPECT_EQ(s->UnlockRect(), Result::InvalidCall);
  ASSERT_EQ(s->LockRect(lr, nullptr, LockNoSysLock), Result::Ok);
  EXPECT_GE(lr.pitch, 5 + 64);  // padded rows catch code that assumes tight ones
  auto* base = static_cast<std::uint8_t*>(lr.bits);
  LockedRect again;
  EXPECT_EQ(s->LockRect(again, nullptr, 0), Result::InvalidCall);
  ASSERT_EQ(s->UnlockRect(), Result::Ok);
  const Rect inside{1, 2, 3, 3};
  ASSERT_EQ(s->LockRect(lr, &inside, 0x8810), Result::Ok);
  EXPECT_EQ(static_cast<std::uint8_t*>(lr.bits), base + 2 * lr.pitch + 1);
  ASSERT_EQ(s->UnlockRect(), Result::Ok);
  for (const Rect& bad : {Rect{0, 0, 6, 1}, Rect{-1, 0, 1, 1}, Rect{2, 2, 2, 3}, Rect{0, 3, 1, 2}})
    EXPECT_EQ(s->LockRect(lr, &bad, 0), Result::InvalidCall);

  Ref<VertexBuffer> vb;
  ASSERT_EQ(device->CreateVertexBuffer(64, 0, FvfXyz | FvfDiffuse, Pool::Managed, vb), Result::Ok);
  void* p = nullptr;
  EXPECT_EQ(vb->Lock(60, 8, &p, 0), Result::InvalidCall);
  EXPECT_EQ(vb->Lock(0, 0, nullptr, 0), Result::InvalidCall);
  ASSERT_EQ(vb->Lock(16, 0, &p, 0), Result::Ok);
  EXPECT_EQ(static_cast<const std::uint8_t*>(p), vb->Data() + 16);
  EXPECT_EQ(vb->Lock(0, 0, &p, 0), Result::InvalidCall);
  EXPECT_EQ(vb->Unlock(), Result::Ok);
  EXPECT_EQ(vb->Unlock(), Result::InvalidCall);
}

TEST_F(GfxDeviceFixture, VolumeLockSlicesLieOneBelowTheOther) {
  Ref<VolumeTexture> v;
  ASSERT_EQ(device->CreateVolumeTexture(2, 2, 2, 1, 0, Format::A8R8G8B8, Pool::Managed, v), Result::Ok);
  LockedBox lb;
  ASSERT_EQ(v->LockBox(0, lb, nullptr, LockNoSysLock), Result::Ok);
  EXPECT_EQ(lb.rowPitch, 8);
  EXPECT_EQ(lb.slicePitch, 16);
  // Seen as a 2 x 4 bitmap, row 2 is slice 1, row 0.
  auto* bits = static_cast<std::uint8_t*>(lb.bits);
  const std::uint32_t marker = 0xFF112233u;
  std::memcpy(bits + 1 * lb.slicePitch, &marker, 4);
  EXPECT_EQ(v->LockBox(0, lb, nullptr, 0), Result::InvalidCall);
  ASSERT_EQ(v->UnlockBox(0), Result::Ok);
  const Box sub{1, 0, 2, 1, 1, 2};
  ASSERT_EQ(v->LockBox(0, lb, &sub, 0), Result::Ok);
  EXPECT_EQ(static_cast<std::uint8_t*>(lb.bits), bits + 16 + 4);
  ASSERT_EQ(v->UnlockBox(0), Result::Ok);
  const Box bad{0, 0, 2, 2, 0, 3};
  EXPECT_EQ(v->LockBox(0, lb, &bad, 0), Result::InvalidCall);
  EXPECT_EQ(v->LockBox(1, lb, nullptr, 0), Result::InvalidCall);
  EXPECT_EQ(v->UnlockBox(0), Result::InvalidCall);
  TTextureView view;
  v->FillView(view);
  EXPECT_EQ(view.kind, TTextureKind::Volume);
  std::uint32_t got;
  std::memcpy(&got, view.volume.bits + view.volume.slicePitch, 4);
  EXPECT_EQ(got, marker);
}

// ---- targets, viewport, clear, copies -----------------------------------------------------------------

TEST_F(GfxDeviceFixture, SetRenderTargetResetsTheViewportAndRefusesBadTargets) {
  Viewport vp{1, 1, 4, 4, 0.0f, 1.0f};
  ASSERT_EQ(device->SetViewport(vp), Result::Ok);
  Ref<Texture> rt = RenderTexture(8, 6);
  ASSERT_EQ(device->SetRenderTarget(0, Level0(rt.Get()).Get()), Result::Ok);
  ASSERT_EQ(device->GetViewport(vp), Result::Ok);
  EXPECT_EQ(vp, (Viewport{0, 0, 8, 6, 0.0f, 1.0f}));
  // A viewport must lie inside the target.
  EXPECT_EQ(device->SetViewport(Viewport{4, 0, 5, 6, 0.0f, 1.0f}), Result::InvalidCall);
  EXPECT_EQ(device->SetViewport(Viewport{0, 0, 0, 6, 0.0f, 1.0f}), Result::InvalidCall);
  EXPECT_EQ(device->SetViewport(Viewport{0, 0, 8, 6, 0.0f, std::nanf("")}), Result::InvalidCall);
  EXPECT_EQ(device->SetViewport(Viewport{0xFFFFFFFFu, 0, 2, 6, 0.0f, 1.0f}), Result::InvalidCall);

  EXPECT_EQ(device->SetRenderTarget(0, nullptr), Result::InvalidCall);
  EXPECT_EQ(device->SetRenderTarget(1, BackBuffer().Get()), Result::InvalidCall);
  Ref<Texture> plain;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, plain), Result::Ok);
  EXPECT_EQ(device->SetRenderTarget(0, Level0(plain.Get()).Get()), Result::InvalidCall);
  Ref<Surface> current;
  ASSERT_EQ(device->GetRenderTarget(0, current), Result::Ok);
  EXPECT_EQ(current->Desc().width, 8u);
  ASSERT_EQ(device->SetRenderTarget(0, BackBuffer().Get()), Result::Ok);
  ASSERT_EQ(device->GetViewport(vp), Result::Ok);
  EXPECT_EQ(vp.width, kW);
}

TEST_F(GfxDeviceFixture, ClearIsClippedToTheViewport) {
  Ref<Texture> rt = RenderTexture(8, 6);
  Ref<Surface> s = Level0(rt.Get());
  ASSERT_EQ(device->SetRenderTarget(0, s.Get()), Result::Ok);
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0), Result::Ok);
  ASSERT_EQ(device->SetViewport(Viewport{2, 1, 4, 3, 0.0f, 1.0f}), Result::Ok);
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0x80FF0000u, 1.0f, 0), Result::Ok);
  // A rectangle reaching outside the viewport (and the target) is cut.
  const Rect wide{-5, 3, 100, 100};
  ASSERT_EQ(device->Clear(1, &wide, ClearTarget, 0xFF00FF00u, 1.0f, 0), Result::Ok);
  const auto px = ReadBack(s.Get());
  for (std::uint32_t y = 0; y < 6; ++y)
    for (std::uint32_t x = 0; x < 8; ++x) {
      std::uint32_t want = 0xFF000000u;
      if (x >= 2 && x < 6 && y >= 1 && y < 4) want = y == 3 ? 0xFF00FF00u : 0x80FF0000u;
      EXPECT_EQ(px[y * 8 + x], want) << x << "," << y;
    }
  EXPECT_EQ(device->Clear(1, nullptr, ClearTarget, 0, 1.0f, 0), Result::InvalidCall);
  EXPECT_EQ(device->Clear(0, nullptr, ClearTarget | ClearZBuffer, 0, 1.0f, 0), Result::InvalidCall);
  // X8 targets keep alpha 0xFF.
  ASSERT_EQ(device->SetRenderTarget(0, BackBuffer().Get()), Result::Ok);
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0x00123456u, 1.0f, 0), Result::Ok);
  EXPECT_EQ(ReadBack(BackBuffer().Get())[0], 0xFF123456u);
}

TEST_F(GfxDeviceFixture, ScissorClipsDrawsAndClearsWithinTheViewport) {
  Ref<Texture> rt = RenderTexture(8, 6);
  Ref<Surface> s = Level0(rt.Get());
  ASSERT_EQ(device->SetRenderTarget(0, s.Get()), Result::Ok);
  Rect got;
  ASSERT_EQ(device->GetScissorRect(got), Result::Ok);
  EXPECT_EQ(got, (Rect{0, 0, 8, 6}));  // a new target: the whole of it
  EXPECT_EQ(device->SetScissorRect({3, 0, 2, 6}), Result::InvalidCall);
  EXPECT_EQ(device->SetScissorRect({0, 4, 8, 3}), Result::InvalidCall);
  struct V {
    float x, y, z, rhw;
    std::uint32_t c;
  };
  const V quad[6] = {{0, 0, 0, 1, 0xFFFFFFFFu}, {8, 0, 0, 1, 0xFFFFFFFFu}, {0, 6, 0, 1, 0xFFFFFFFFu},
                     {8, 0, 0, 1, 0xFFFFFFFFu}, {8, 6, 0, 1, 0xFFFFFFFFu}, {0, 6, 0, 1, 0xFFFFFFFFu}};
  ASSERT_EQ(device->SetFVF(FvfXyzRhw | FvfDiffuse), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::CullMode, static_cast<std::uint32_t>(Cull::None)), Result::Ok);
  // Each case: the scissor, the viewport, and the rectangle left drawn.
  struct Case {
    Rect scissor;
    Viewport viewport;
    Rect drawn;
  };
  const Case cases[] = {
      {{2, 1, 5, 4}, {0, 0, 8, 6, 0, 1}, {2, 1, 5, 4}},
      {{2, 1, 5, 4}, {3, 2, 4, 3, 0, 1}, {3, 2, 5, 4}},   // cut by the viewport
      {{4, 3, 5, 4}, {0, 0, 8, 6, 0, 1}, {4, 3, 5, 4}},   // one pixel
      {{4, 3, 4, 3}, {0, 0, 8, 6, 0, 1}, {}},             // empty
      {{20, 20, 30, 30}, {0, 0, 8, 6, 0, 1}, {}},         // outside the target
      {{-9, -9, 99, 99}, {0, 0, 8, 6, 0, 1}, {0, 0, 8, 6}},  // wider than the target
  };
  const auto check = [&](const Rect& drawn, std::uint32_t colour) {
    const auto px = ReadBack(s.Get());
    for (std::int32_t y = 0; y < 6; ++y)
      for (std::int32_t x = 0; x < 8; ++x) {
        const bool in = x >= drawn.left && x < drawn.right && y >= drawn.top && y < drawn.bottom;
        EXPECT_EQ(px[std::size_t(y * 8 + x)], in ? colour : 0xFF000000u) << x << "," << y;
      }
  };
  ASSERT_EQ(device->BeginScene(), Result::Ok);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.scissor.left << "," << c.scissor.top << " " << c.viewport.x);
    ASSERT_EQ(device->SetRenderState(RenderState::ScissorTestEnable, 0), Result::Ok);
    ASSERT_EQ(device->SetViewport(Viewport{0, 0, 8, 6, 0, 1}), Result::Ok);
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0), Result::Ok);
    ASSERT_EQ(device->SetViewport(c.viewport), Result::Ok);
    ASSERT_EQ(device->SetScissorRect(c.scissor), Result::Ok);
    ASSERT_EQ(device->SetRenderState(RenderState::ScissorTestEnable, 1), Result::Ok);
    ASSERT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 2, quad, sizeof(V)), Result::Ok);
    check(c.drawn, 0xFFFFFFFFu);
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0), Result::Ok);
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF00FF00u, 1.0f, 0), Result::Ok);
    check(c.drawn, 0xFF00FF00u);
  }
  // Off again: everything; a new target sets the rectangle to all of it, the test stays on.
  ASSERT_EQ(device->SetRenderState(RenderState::ScissorTestEnable, 0), Result::Ok);
  ASSERT_EQ(device->SetViewport(Viewport{0, 0, 8, 6, 0, 1}), Result::Ok);
  ASSERT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 2, quad, sizeof(V)), Result::Ok);
  check({0, 0, 8, 6}, 0xFFFFFFFFu);
  ASSERT_EQ(device->SetScissorRect({1, 1, 2, 2}), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::ScissorTestEnable, 1), Result::Ok);
  ASSERT_EQ(device->SetRenderTarget(0, s.Get()), Result::Ok);
  ASSERT_EQ(device->GetScissorRect(got), Result::Ok);
  EXPECT_EQ(got, (Rect{0, 0, 8, 6}));
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF0000FFu, 1.0f, 0), Result::Ok);
  check({0, 0, 8, 6}, 0xFF0000FFu);
  ASSERT_EQ(device->EndScene(), Result::Ok);
}

TEST_F(GfxDeviceFixture, StretchRectNeverOntoItselfAndCopiesBetweenTargets) {
  Ref<Texture> a = RenderTexture(8, 8), b = RenderTexture(8, 8), x8 = RenderTexture(8, 8, Format::X8R8G8B8);
  Ref<Surface> sa = Level0(a.Get()), sb = Level0(b.Get()), sx = Level0(x8.Get());
  ASSERT_EQ(device->SetRenderTarget(0, sa.Get()), Result::Ok);
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0x10000000u, 1.0f, 0), Result::Ok);
  const Rect corner{0, 0, 2, 2};
  ASSERT_EQ(device->Clear(1, &corner, ClearTarget, 0x80402010u, 1.0f, 0), Result::Ok);

  const Rect r1{0, 0, 4, 4}, r2{2, 2, 6, 6}, r3{4, 4, 8, 8};
  EXPECT_EQ(device->StretchRect(sa.Get(), &r1, sa.Get(), &r2, TextureFilter::None), Result::InvalidCall);
  EXPECT_EQ(device->StretchRect(sa.Get(), nullptr, sa.Get(), nullptr, TextureFilter::None), Result::InvalidCall);
  EXPECT_EQ(device->StretchRect(sa.Get(), &r1, sa.Get(), &r3, TextureFilter::None), Result::Ok);
  Ref<Texture> managed;
  ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, Format::A8R8G8B8, Pool::Managed, managed), Result::Ok);
  EXPECT_EQ(device->StretchRect(Level0(managed.Get()).Get(), nullptr, sb.Get(), nullptr, TextureFilter::None),
            Result::InvalidCall);
  const Rect outside{6, 6, 9, 9};
  EXPECT_EQ(device->StretchRect(sa.Get(), &outside, sb.Get(), nullptr, TextureFilter::None), Result::InvalidCall);
  EXPECT_EQ(device->StretchRect(nullptr, nullptr, sb.Get(), nullptr, TextureFilter::None), Result::InvalidCall);

  ASSERT_EQ(device->StretchRect(sa.Get(), nullptr, sb.Get(), nullptr, TextureFilter::Point), Result::Ok);
  auto pb = ReadBack(sb.Get());
  EXPECT_EQ(pb[0], 0x80402010u);
  EXPECT_EQ(pb[4 * 8 + 4], 0x80402010u);  // the copy within a
  EXPECT_EQ(pb[7 * 8 + 7], 0x10000000u);
  // Into X8: alpha is dropped. Halving picks the texel under each centre.
  const Rect half{0, 0, 4, 4};
  ASSERT_EQ(device->StretchRect(sa.Get(), nullptr, sx.Get(), &half, TextureFilter::Point), Result::Ok);
  auto px = ReadBack(sx.Get());
  EXPECT_EQ(px[0], 0xFF402010u);
  EXPECT_EQ(px[1], 0xFF000000u);
  EXPECT_EQ(px[2 * 8 + 2], 0xFF402010u);
}

// A copy large enough to be shared out over the workers: every row lands
// once, in its place, with any number of threads.
TEST_F(GfxDeviceFixture, LargeCopyWithinOneTargetMovesEveryRow) {
  GfxWorkers& workers = GfxWorkers::Instance();
  const std::uint32_t saved = workers.ThreadCount();
  Ref<Texture> t = RenderTexture(1030, 601);
  Ref<Surface> s = Level0(t.Get());
  ASSERT_EQ(device->SetRenderTarget(0, s.Get()), Result::Ok);
  for (const std::uint32_t threads : {1u, 2u, 8u}) {
    workers.SetThreadCount(threads);
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0, 1.0f, 0), Result::Ok);
    for (std::int32_t y = 0; y < 300; ++y) {
      const Rect row{0, y, 1030, y + 1};
      ASSERT_EQ(device->Clear(1, &row, ClearTarget, 0xFF000000u | static_cast<std::uint32_t>(y * 7 + threads), 1.0f, 0),
                Result::Ok);
    }
    const Rect from{1, 0, 1030, 300}, to{0, 301, 1029, 601};
    ASSERT_EQ(device->StretchRect(s.Get(), &from, s.Get(), &to, TextureFilter::None), Result::Ok);
    const auto px = ReadBack(s.Get());
    for (std::uint32_t y = 0; y < 300; ++y) {
      const std::uint32_t want = 0xFF000000u | (y * 7 + threads);
      ASSERT_EQ(px[(301 + y) * 1030], want) << "row " << y << " threads " << threads;
      ASSERT_EQ(px[(301 + y) * 1030 + 1028], want) << "row " << y << " threads " << threads;
      ASSERT_EQ(px[(301 + y) * 1030 + 1029], 0u) << "row " << y << " threads " << threads;
    }
    EXPECT_EQ(px[300 * 1030 + 5], 0u);
  }
  workers.SetThreadCount(saved);
}

// The one-pass fade: each pixel once, from the texels at its own offsets,
// on any number of threads, inside the scissor only; bad pieces draw nothing.
TEST_F(GfxDeviceFixture, BlendOverTexturesBlendsEachPixelFromItsTexelsOnce) {
  GfxWorkers& workers = GfxWorkers::Instance();
  const std::uint32_t saved = workers.ThreadCount();
  constexpr std::uint32_t kTW = 603, kTH = 509;
  const auto texel = [](std::uint32_t seed, std::uint32_t x, std::uint32_t y) {
    std::uint32_t v = (x * 73856093u) ^ (y * 19349663u) ^ (seed * 83492791u);
    v ^= v >> 13;
    return (v * 2654435761u) & 0x00FFFFFFu;  // the alpha byte is read as 255
  };
  Ref<Texture> pics[2];
  for (std::uint32_t k = 0; k < 2; ++k) {
    ASSERT_EQ(device->CreateTexture(kTW, kTH, 1, 0, k == 0 ? Format::X8R8G8B8 : Format::A8R8G8B8, Pool::Managed,
                                    pics[k]),
              Result::Ok);
    LockedRect lr;
    ASSERT_EQ(pics[k]->LockRect(0, lr, nullptr, 0), Result::Ok);
    for (std::uint32_t y = 0; y < kTH; ++y)
      for (std::uint32_t x = 0; x < kTW; ++x) {
        const std::uint32_t v = texel(k, x, y);
        std::memcpy(static_cast<std::uint8_t*>(lr.bits) + y * static_cast<std::uint32_t>(lr.pitch) + 4 * x, &v, 4);
      }
    ASSERT_EQ(pics[k]->UnlockRect(0), Result::Ok);
  }
  Ref<Texture> t = RenderTexture(kTW - 1, kTH - 2);
  Ref<Surface> s = Level0(t.Get());
  ASSERT_EQ(device->SetRenderTarget(0, s.Get()), Result::Ok);
  const std::uint32_t factor = 0x5A5A5A5Au;
  const auto want = [&](std::uint32_t x, std::uint32_t y) {
    // Over (one left, two up) modulated by the factor, premultiplied over Under (at 0, 0).
    const std::uint32_t o = texel(1, x + 1, y + 2) | 0xFF000000u, u = texel(0, x, y) | 0xFF000000u;
    std::uint32_t out = 0;
    for (int sh = 0; sh < 32; sh += 8) {
      const std::uint32_t m = (((o >> sh) & 255) * ((factor >> sh) & 255) + 127) / 255;
      const std::uint32_t c = (m * 255 + ((u >> sh) & 255) * (255 - (factor >> 24)) + 127) / 255;
      out |= std::min(c, 255u) << sh;
    }
    return out;
  };
  using Piece = Device::OverPiece;
  const Rect all{0, 0, static_cast<std::int32_t>(kTW - 1), static_cast<std::int32_t>(kTH - 2)};
  // A texel outside a picture, a turned rectangle, a missing picture: refused.
  const Piece bad[] = {{pics[0].Get(), 0, 0, pics[1].Get(), -2, 0, all},
                       {pics[0].Get(), 0, 0, pics[1].Get(), -1, -2, {5, 5, 4, 9}},
                       {nullptr, 0, 0, pics[1].Get(), -1, -2, {0, 0, 2, 2}}};
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0x11223344u, 1.0f, 0), Result::Ok);
  for (const Piece& p : bad) EXPECT_EQ(device->BlendOverTextures({&p, 1}, factor), Result::InvalidCall);
  EXPECT_EQ(ReadBack(s.Get())[0], 0x11223344u);
  for (const std::uint32_t threads : {1u, 3u, 8u}) {
    SCOPED_TRACE(threads);
    workers.SetThreadCount(threads);
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0x11223344u, 1.0f, 0), Result::Ok);
    // Two pieces side by side, the first also under the scissor's right edge.
    const Piece pieces[] = {{pics[0].Get(), 0, 0, pics[1].Get(), -1, -2, {0, 0, 300, all.bottom}},
                            {pics[0].Get(), 0, 0, pics[1].Get(), -1, -2, {300, 0, all.right, all.bottom}}};
    ASSERT_EQ(device->SetScissorRect({0, 1, all.right - 1, all.bottom}), Result::Ok);
    ASSERT_EQ(device->SetRenderState(RenderState::ScissorTestEnable, 1), Result::Ok);
    ASSERT_EQ(device->BlendOverTextures(pieces, factor), Result::Ok);
    ASSERT_EQ(device->SetRenderState(RenderState::ScissorTestEnable, 0), Result::Ok);
    const auto px = ReadBack(s.Get());
    for (std::uint32_t y = 0; y < kTH - 2; ++y)
      for (std::uint32_t x = 0; x < kTW - 1; ++x) {
        const bool in = y >= 1 && x + 1 < kTW - 1;
        ASSERT_EQ(px[y * (kTW - 1) + x], in ? want(x, y) : 0x11223344u) << x << "," << y;
      }
  }
  workers.SetThreadCount(saved);
}

TEST_F(GfxDeviceFixture, GetRenderTargetDataNeedsAMatchingSystemMemorySurface) {
  Ref<Texture> rt = RenderTexture(4, 4);
  Ref<Surface> s = Level0(rt.Get());
  Ref<Surface> sys, wrongSize, wrongFormat, defaultPlain;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, Format::A8R8G8B8, Pool::SystemMem, sys), Result::Ok);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 5, Format::A8R8G8B8, Pool::SystemMem, wrongSize), Result::Ok);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, Format::X8R8G8B8, Pool::SystemMem, wrongFormat), Result::Ok);
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, Format::A8R8G8B8, Pool::Default, defaultPlain), Result::Ok);
  EXPECT_EQ(device->GetRenderTargetData(s.Get(), wrongSize.Get()), Result::InvalidCall);
  EXPECT_EQ(device->GetRenderTargetData(s.Get(), wrongFormat.Get()), Result::InvalidCall);
  EXPECT_EQ(device->GetRenderTargetData(s.Get(), defaultPlain.Get()), Result::InvalidCall);
  EXPECT_EQ(device->GetRenderTargetData(sys.Get(), sys.Get()), Result::InvalidCall);
  EXPECT_EQ(device->GetRenderTargetData(nullptr, sys.Get()), Result::InvalidCall);
  // A DEFAULT plain surface may be locked; the system copy may not be locked during the copy.
  LockedRect lr;
  ASSERT_EQ(defaultPlain->LockRect(lr, nullptr, 0), Result::Ok);
  ASSERT_EQ(defaultPlain->UnlockRect(), Result::Ok);
  ASSERT_EQ(sys->LockRect(lr, nullptr, 0), Result::Ok);
  EXPECT_EQ(device->GetRenderTargetData(s.Get(), sys.Get()), Result::InvalidCall);
  ASSERT_EQ(sys->UnlockRect(), Result::Ok);
  ASSERT_EQ(device->SetRenderTarget(0, s.Get()), Result::Ok);
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0x11223344u, 1.0f, 0), Result::Ok);
  ASSERT_EQ(device->GetRenderTargetData(s.Get(), sys.Get()), Result::Ok);
  ASSERT_EQ(sys->LockRect(lr, nullptr, 0x8810), Result::Ok);
  std::uint32_t v;
  std::memcpy(&v, static_cast<std::uint8_t*>(lr.bits) + 3 * lr.pitch + 12, 4);
  EXPECT_EQ(v, 0x11223344u);
  ASSERT_EQ(sys->UnlockRect(), Result::Ok);
}

TEST_F(GfxDeviceFixture, AResourceOfAnotherDeviceIsRefused) {
  Ref<Device> other;
  ASSERT_EQ(Make(other), Result::Ok);
  Ref<Texture> foreign;
  ASSERT_EQ(other->CreateTexture(4, 4, 1, UsageRenderTarget, Format::A8R8G8B8, Pool::Default, foreign), Result::Ok);
  EXPECT_EQ(device->SetTexture(0, foreign.Get()), Result::InvalidCall);
  EXPECT_EQ(device->SetRenderTarget(0, Level0(foreign.Get()).Get()), Result::InvalidCall);
  Ref<VertexBuffer> vb;
  ASSERT_EQ(other->CreateVertexBuffer(64, 0, 0, Pool::Managed, vb), Result::Ok);
  EXPECT_EQ(device->SetStreamSource(0, vb.Get(), 0, 16), Result::InvalidCall);
  Ref<Surface> sys;
  ASSERT_EQ(other->CreateOffscreenPlainSurface(kW, kH, Format::X8R8G8B8, Pool::SystemMem, sys), Result::Ok);
  EXPECT_EQ(device->GetRenderTargetData(BackBuffer().Get(), sys.Get()), Result::InvalidCall);
}

// ---- state and drawing --------------------------------------------------------------------------------

TEST_F(GfxDeviceFixture, DefaultStatesGettersAndRangeChecks) {
  std::uint32_t v = 0;
  ASSERT_EQ(device->GetRenderState(RenderState::CullMode, v), Result::Ok);
  EXPECT_EQ(v, static_cast<std::uint32_t>(Cull::Ccw));
  ASSERT_EQ(device->GetRenderState(RenderState::Lighting, v), Result::Ok);
  EXPECT_EQ(v, 1u);
  ASSERT_EQ(device->GetTextureStageState(0, StageState::ColorOp, v), Result::Ok);
  EXPECT_EQ(v, static_cast<std::uint32_t>(TextureOp::Modulate));
  ASSERT_EQ(device->GetTextureStageState(1, StageState::ColorOp, v), Result::Ok);
  EXPECT_EQ(v, static_cast<std::uint32_t>(TextureOp::Disable));
  ASSERT_EQ(device->GetSamplerState(15, SamplerState::AddressU, v), Result::Ok);
  EXPECT_EQ(v, static_cast<std::uint32_t>(TextureAddress::Wrap));

  ASSERT_EQ(device->SetRenderState(RenderState::BlendOp, static_cast<std::uint32_t>(BlendOp::Max)), Result::Ok);
  ASSERT_EQ(device->GetRenderState(RenderState::BlendOp, v), Result::Ok);
  EXPECT_EQ(v, 5u);
  EXPECT_EQ(device->SetRenderState(static_cast<RenderState>(0), 1), Result::InvalidCall);
  EXPECT_EQ(device->SetRenderState(static_cast<RenderState>(4000), 1), Result::InvalidCall);
  EXPECT_EQ(device->SetSamplerState(16, SamplerState::AddressU, 1), Result::InvalidCall);
  EXPECT_EQ(device->SetSamplerState(0, static_cast<SamplerState>(99), 1), Result::InvalidCall);
  EXPECT_EQ(device->SetTextureStageState(8, StageState::ColorOp, 1), Result::InvalidCall);
  EXPECT_EQ(device->SetTexture(16, nullptr), Result::InvalidCall);
  EXPECT_EQ(device->SetTransform(static_cast<TransformKind>(7), Matrix{}), Result::InvalidCall);
  Matrix m;
  m.m[3][0] = 5.0f;
  ASSERT_EQ(device->SetTransform(TransformKind::Projection, m), Result::Ok);
  Matrix got;
  ASSERT_EQ(device->GetTransform(TransformKind::Projection, got), Result::Ok);
  EXPECT_EQ(got, m);
  EXPECT_EQ(device->SetFVF(FvfXyz | 0xF00), Result::InvalidCall);  // 15 coordinate sets
  // Constant registers are state of their own.
  const float c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(device->SetPixelShaderConstantF(30, c, 2), Result::Ok);
  EXPECT_EQ(device->SetPixelShaderConstantF(31, c, 2), Result::InvalidCall);
  EXPECT_EQ(device->SetPixelShaderConstantF(0xFFFFFFFFu, c, 2), Result::InvalidCall);
  float back[8] = {};
  ASSERT_EQ(device->GetPixelShaderConstantF(30, back, 2), Result::Ok);
  EXPECT_EQ(back[7], 8.0f);
}

TEST_F(GfxDeviceFixture, SceneRulesAndDrawValidation) {
  EXPECT_EQ(device->EndScene(), Result::InvalidCall);
  Ref<VertexBuffer> vb;
  ASSERT_EQ(device->CreateVertexBuffer(4 * 16, 0, FvfXyz | FvfDiffuse, Pool::Managed, vb), Result::Ok);
  ASSERT_EQ(device->SetFVF(FvfXyz | FvfDiffuse), Result::Ok);
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 0, 2), Result::InvalidCall);  // outside a scene
  ASSERT_EQ(device->BeginScene(), Result::Ok);
  EXPECT_EQ(device->BeginScene(), Result::InvalidCall);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::InvalidCall);
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 0, 2), Result::InvalidCall);  // no vertex buffer
  ASSERT_EQ(device->SetStreamSource(0, vb.Get(), 0, 16), Result::Ok);
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 0, 2), Result::Ok);
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 1, 2), Result::InvalidCall);   // past the end
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleList, 0, 2), Result::InvalidCall);
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 0xFFFFFFFFu, 0xFFFFFFFFu), Result::InvalidCall);
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 0, 0), Result::InvalidCall);
  EXPECT_EQ(device->DrawPrimitive(static_cast<PrimitiveType>(9), 0, 1), Result::InvalidCall);
  ASSERT_EQ(device->SetStreamSource(0, vb.Get(), 0, 8), Result::Ok);  // stride below the layout
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 0, 1), Result::InvalidCall);
  ASSERT_EQ(device->SetStreamSource(0, vb.Get(), 0, 16), Result::Ok);
  ASSERT_EQ(device->SetFVF(0), Result::Ok);
  EXPECT_EQ(device->DrawPrimitive(PrimitiveType::TriangleStrip, 0, 2), Result::InvalidCall);  // no layout
  ASSERT_EQ(device->SetFVF(FvfXyz | FvfDiffuse), Result::Ok);
  EXPECT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 1, nullptr, 16), Result::InvalidCall);
  const float tri[12] = {};
  EXPECT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 1, tri, 16), Result::Ok);
  Ref<VertexBuffer> bound;
  std::uint32_t offset = 1, stride = 1;
  ASSERT_EQ(device->GetStreamSource(0, bound, offset, stride), Result::Ok);
  EXPECT_FALSE(bound);  // unbound by the draw from memory
  EXPECT_EQ(device->Debug().Draws(), 2u);
  ASSERT_EQ(device->EndScene(), Result::Ok);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::Ok);
}

TEST_F(GfxDeviceFixture, CallLogKeepsOrderAndArguments) {
  device->Debug().RecordCalls(true);
  ASSERT_EQ(device->SetRenderState(RenderState::SrcBlend, 5), Result::Ok);
  EXPECT_EQ(device->SetSamplerState(20, SamplerState::MinFilter, 2), Result::InvalidCall);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::AlphaOp, 3), Result::Ok);
  const auto calls = device->Debug().Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].call, CallKind::SetRenderState);
  EXPECT_EQ(calls[0].arg0, 19u);
  EXPECT_EQ(calls[0].arg1, 5u);
  EXPECT_EQ(calls[1].result, Result::InvalidCall);
  EXPECT_EQ(calls[2].call, CallKind::SetTextureStageState);
  EXPECT_EQ(calls[2].arg1, 4u);
  EXPECT_EQ(calls[2].arg2, 3u);
}

// ---- loss, reset, faults ------------------------------------------------------------------------------

TEST_F(GfxDeviceFixture, LossStateMachineLostNotResetReset) {
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF0000FFu, 1.0f, 0), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::CullMode, 1), Result::Ok);
  device->Debug().LoseDevice(LossMode::PresentOnly);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::DeviceLost);
  EXPECT_EQ(device->TestCooperativeLevel(), Result::DeviceLost);
  // Clears and draws succeed and do nothing.
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFFFFFFFFu, 1.0f, 0), Result::Ok);
  ASSERT_EQ(device->BeginScene(), Result::Ok);
  const float tri[12] = {};
  ASSERT_EQ(device->SetFVF(FvfXyz | FvfDiffuse), Result::Ok);
  EXPECT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 1, tri, 16), Result::Ok);
  ASSERT_EQ(device->EndScene(), Result::Ok);
  EXPECT_EQ(device->Debug().Draws(), 0u);
  // Managed resources still lock.
  Ref<Texture> managed, dflt;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, managed), Result::Ok);
  LockedRect lr;
  ASSERT_EQ(managed->LockRect(0, lr, nullptr, 0), Result::Ok);
  ASSERT_EQ(managed->UnlockRect(0), Result::Ok);

  PresentParameters pp;
  pp.backBufferWidth = 20;
  pp.backBufferHeight = 10;
  EXPECT_EQ(device->Reset(pp), Result::DeviceLost);
  device->Debug().AllowReset();
  EXPECT_EQ(device->TestCooperativeLevel(), Result::DeviceNotReset);
  ASSERT_EQ(device->CreateTexture(4, 4, 1, UsageRenderTarget, Format::A8R8G8B8, Pool::Default, dflt), Result::Ok);
  EXPECT_EQ(device->Reset(pp), Result::InvalidCall);  // a DEFAULT-pool texture lives
  Ref<SwapChain> extra;
  dflt = nullptr;
  pp.backBufferWidth = 20;
  PresentParameters epp = pp;
  ASSERT_EQ(device->CreateAdditionalSwapChain(epp, extra), Result::Ok);
  EXPECT_EQ(device->Reset(pp), Result::InvalidCall);  // and so does an extra swap chain
  extra = nullptr;
  Result wrongThread = Result::Ok;
  std::thread([&] { wrongThread = device->Reset(pp); }).join();
  EXPECT_EQ(wrongThread, Result::InvalidCall);
  ASSERT_EQ(device->Reset(pp), Result::Ok);
  EXPECT_EQ(device->TestCooperativeLevel(), Result::Ok);
  std::uint32_t cull = 0;
  ASSERT_EQ(device->GetRenderState(RenderState::CullMode, cull), Result::Ok);
  EXPECT_EQ(cull, static_cast<std::uint32_t>(Cull::Ccw));  // states back to their defaults
  Viewport vp;
  ASSERT_EQ(device->GetViewport(vp), Result::Ok);
  EXPECT_EQ(vp.width, 20u);
  EXPECT_EQ(device->Debug().VideoMemoryInUse(), 20u * 4 * 10 + 4 * 4 * 4);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::Ok);
  EXPECT_EQ(sink.LastFrame(nullptr).width, 20u);
}

TEST_F(GfxDeviceFixture, EveryCallLossAndLossAfterPresents) {
  Ref<Texture> managed;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, managed), Result::Ok);
  Ref<Surface> plain;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, Format::A8R8G8B8, Pool::Default, plain), Result::Ok);
  device->Debug().LoseDevice(LossMode::EveryCall);
  EXPECT_EQ(device->SetRenderState(RenderState::CullMode, 1), Result::DeviceLost);
  EXPECT_EQ(device->BeginScene(), Result::DeviceLost);
  Ref<Texture> t;
  EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::DeviceLost);
  LockedRect lr;
  EXPECT_EQ(managed->LockRect(0, lr, nullptr, 0), Result::Ok);
  EXPECT_EQ(managed->UnlockRect(0), Result::Ok);
  EXPECT_EQ(plain->LockRect(lr, nullptr, 0), Result::DeviceLost);
  plain = nullptr;
  device->Debug().AllowReset();
  PresentParameters pp;
  pp.backBufferWidth = kW;
  pp.backBufferHeight = kH;
  ASSERT_EQ(device->Reset(pp), Result::Ok);

  device->Debug().LoseEveryNPresents(2);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::Ok);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::Ok);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::DeviceLost);
  EXPECT_EQ(sink.TotalPresents(), 2u);

  // The system reaches every device, the hidden one included.
  Ref<Device> other;
  ASSERT_EQ(Make(other), Result::Ok);
  system->Debug().LoseAllDevices();
  EXPECT_EQ(other->TestCooperativeLevel(), Result::DeviceLost);
  system->Debug().AllowResetAll();
  EXPECT_EQ(other->TestCooperativeLevel(), Result::DeviceNotReset);
  EXPECT_EQ(device->TestCooperativeLevel(), Result::DeviceNotReset);
}

TEST_F(GfxDeviceFixture, FaultInjectionFailsTheNextCallsOnly) {
  device->Debug().FailNext(CallKind::SetRenderState, Result::DeviceLost, 2);
  EXPECT_EQ(device->SetRenderState(RenderState::Lighting, 0), Result::DeviceLost);
  EXPECT_EQ(device->SetRenderState(RenderState::Lighting, 0), Result::DeviceLost);
  std::uint32_t v = 0;
  ASSERT_EQ(device->GetRenderState(RenderState::Lighting, v), Result::Ok);
  EXPECT_EQ(v, 1u);  // a failed call changes nothing
  EXPECT_EQ(device->SetRenderState(RenderState::Lighting, 0), Result::Ok);
  device->Debug().FailNext(CallKind::CreateTexture, Result::OutOfVideoMemory);
  Ref<Texture> t;
  EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::OutOfVideoMemory);
  EXPECT_FALSE(t);
  EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, t), Result::Ok);
  device->Debug().FailNext(CallKind::LockRect, Result::InvalidCall);
  LockedRect lr;
  EXPECT_EQ(t->LockRect(0, lr, nullptr, 0), Result::InvalidCall);
  EXPECT_EQ(lr.bits, nullptr);
  EXPECT_EQ(t->LockRect(0, lr, nullptr, 0), Result::Ok);
  EXPECT_EQ(t->UnlockRect(0), Result::Ok);
  device->Debug().FailNext(CallKind::Present, Result::DeviceNotReset);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::DeviceNotReset);
  EXPECT_EQ(device->TestCooperativeLevel(), Result::Ok);
  device->Debug().FailNext(CallKind::Count, Result::InvalidCall);  // ignored
}

// ---- swap chains and present ---------------------------------------------------------------------------

TEST_F(GfxDeviceFixture, SwapChainsAndPresentToTheSink) {
  Ref<SwapChain> chain0;
  ASSERT_EQ(device->GetSwapChain(0, chain0), Result::Ok);
  EXPECT_EQ(device->GetSwapChain(1, chain0), Result::InvalidCall);
  ASSERT_EQ(device->GetSwapChain(0, chain0), Result::Ok);
  Ref<Surface> bb;
  ASSERT_EQ(chain0->GetBackBuffer(0, bb), Result::Ok);
  EXPECT_EQ(bb.Get(), BackBuffer().Get());
  EXPECT_EQ(chain0->GetBackBuffer(1, bb), Result::InvalidCall);
  Ref<Surface> none;
  EXPECT_EQ(device->GetBackBuffer(0, 1, BackBufferType::Mono, none), Result::InvalidCall);

  const auto window = reinterpret_cast<WindowId>(std::uintptr_t{0x10});
  PresentParameters pp;
  pp.backBufferWidth = 4;
  pp.backBufferHeight = 2;
  pp.deviceWindow = window;
  Ref<SwapChain> extra;
  ASSERT_EQ(device->CreateAdditionalSwapChain(pp, extra), Result::Ok);
  Ref<Surface> extraBack;
  ASSERT_EQ(extra->GetBackBuffer(0, extraBack), Result::Ok);
  ASSERT_EQ(device->SetRenderTarget(0, extraBack.Get()), Result::Ok);
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFFABCDEFu, 1.0f, 0), Result::Ok);
  const Rect dst{1, 1, 5, 3};
  ASSERT_EQ(extra->Present(nullptr, &dst, nullptr, nullptr, 0), Result::Ok);
  MemorySink::Frame f = sink.LastFrame(window);
  ASSERT_EQ(f.width, 5u);
  EXPECT_EQ(f.pixels[0], 0u);
  EXPECT_EQ(f.pixels[1 * 5 + 1], 0xFFABCDEFu);
  EXPECT_EQ(f.pixels[2 * 5 + 4], 0xFFABCDEFu);
  const Rect bad{0, 0, 5, 2};
  EXPECT_EQ(extra->Present(&bad, nullptr, nullptr, nullptr, 0), Result::InvalidCall);
  // Stretched presents pick the nearest texel.
  const Rect big{0, 0, 8, 4};
  ASSERT_EQ(extra->Present(nullptr, &big, nullptr, nullptr, 0), Result::Ok);
  f = sink.LastFrame(window);
  EXPECT_EQ(f.pixels[3 * f.width + 7], 0xFFABCDEFu);
  ASSERT_EQ(device->BeginScene(), Result::Ok);
  EXPECT_EQ(extra->Present(nullptr, nullptr, nullptr, nullptr, 0), Result::InvalidCall);
  ASSERT_EQ(device->EndScene(), Result::Ok);
}

// ---- threads -------------------------------------------------------------------------------------------

TEST_F(GfxDeviceFixture, LoaderThreadFillsTexturesWhileTheEngineThreadDraws) {
  constexpr int kRounds = 40;
  std::thread loader([&] {
    for (int i = 0; i < kRounds; ++i) {
      Ref<Texture> t;
      ASSERT_EQ(device->CreateTexture(16, 16, 0, 0, Format::A8R8G8B8, Pool::Managed, t), Result::Ok);
      for (std::uint32_t l = 0; l < t->LevelCount(); ++l) {
        LockedRect lr;
        ASSERT_EQ(t->LockRect(l, lr, nullptr, LockNoSysLock), Result::Ok);
        std::memset(lr.bits, i, static_cast<std::size_t>(lr.pitch));
        ASSERT_EQ(t->UnlockRect(l), Result::Ok);
      }
      ASSERT_EQ(device->SetTexture(static_cast<std::uint32_t>(i % 4), t.Get()), Result::Ok);
    }
  });
  const float tri[3 * 4] = {};
  ASSERT_EQ(device->SetFVF(FvfXyz | FvfDiffuse), Result::Ok);
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_EQ(device->BeginScene(), Result::Ok);
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF000000u | static_cast<std::uint32_t>(i), 1.0f, 0), Result::Ok);
    ASSERT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 1, tri, 16), Result::Ok);
    ASSERT_EQ(device->EndScene(), Result::Ok);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), Result::Ok);
  }
  loader.join();
  for (std::uint32_t s = 0; s < 4; ++s) ASSERT_EQ(device->SetTexture(s, nullptr), Result::Ok);
  EXPECT_EQ(device->Debug().LiveResources(), 2u);
  EXPECT_EQ(device->Debug().VideoMemoryInUse(), std::uint64_t{kW} * 4 * kH);
}

// A picture drawn over itself stops changing the pixels after a few draws
// (its translucent texels and soft edge settle); each draw after one that
// changed nothing is left out. Anything that may change what the draw reads
// or writes ends the run: a lock of a texture or target (also one held
// through the draws), a clear, a state or a vertex of another value.
TEST_F(GfxDeviceFixture, ARepeatOfADrawThatChangedNothingIsLeftOut) {
  Ref<Texture> rt = RenderTexture();
  Ref<Surface> target = Level0(rt.Get());
  Ref<Texture> tex, other;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, tex), Result::Ok);
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, Format::A8R8G8B8, Pool::Managed, other), Result::Ok);
  const auto fill = [](Texture* t, std::uint32_t seed) {
    LockedRect lr;
    ASSERT_EQ(t->LockRect(0, lr, nullptr, 0), Result::Ok);
    for (std::uint32_t y = 0; y < 4; ++y)
      for (std::uint32_t x = 0; x < 4; ++x) {
        const std::uint32_t v = (x * 67 + y * 29 + seed) * 2654435761u;
        const std::uint32_t px = ((v >> 24) | 0x20u) << 24 | (v & 0x00FFFFFFu);  // translucent, never 0
        std::memcpy(static_cast<std::uint8_t*>(lr.bits) + y * static_cast<std::uint32_t>(lr.pitch) + x * 4, &px, 4);
      }
    ASSERT_EQ(t->UnlockRect(0), Result::Ok);
  };
  fill(tex.Get(), 1);
  fill(other.Get(), 2);
  struct V {
    float x, y, z, rhw;
    std::uint32_t c;
    float u, v;
  };
  // A quad off the pixel grid with a soft (vertex alpha) right edge.
  const V quad[6] = {{1.3f, 0.6f, 0, 1, 0xFFFFFFFFu, 0, 0},  {13.7f, 0.6f, 0, 1, 0x40FFFFFFu, 1, 0},
                     {1.3f, 10.2f, 0, 1, 0xFFFFFFFFu, 0, 1}, {13.7f, 0.6f, 0, 1, 0x40FFFFFFu, 1, 0},
                     {13.7f, 10.2f, 0, 1, 0x40FFFFFFu, 1, 1}, {1.3f, 10.2f, 0, 1, 0xFFFFFFFFu, 0, 1}};
  const std::uint32_t fvf = FvfXyzRhw | FvfDiffuse | FvfTex1;
  ASSERT_EQ(device->SetRenderTarget(0, target.Get()), Result::Ok);
  ASSERT_EQ(device->SetFVF(fvf), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::CullMode, static_cast<std::uint32_t>(Cull::None)), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::AlphaBlendEnable, 1), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::SrcBlend, static_cast<std::uint32_t>(Blend::SrcAlpha)), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::DestBlend, static_cast<std::uint32_t>(Blend::InvSrcAlpha)), Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::ColorOp, static_cast<std::uint32_t>(TextureOp::SelectArg1)),
            Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::ColorArg1, ArgTexture), Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::AlphaOp, static_cast<std::uint32_t>(TextureOp::Modulate)),
            Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::AlphaArg1, ArgTexture), Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::AlphaArg2, ArgDiffuse), Result::Ok);
  for (std::uint32_t s = 0; s < 1; ++s) {
    ASSERT_EQ(device->SetSamplerState(s, SamplerState::MagFilter, static_cast<std::uint32_t>(TextureFilter::Linear)),
              Result::Ok);
    ASSERT_EQ(device->SetSamplerState(s, SamplerState::MinFilter, static_cast<std::uint32_t>(TextureFilter::Linear)),
              Result::Ok);
  }
  ASSERT_EQ(device->SetTexture(0, tex.Get()), Result::Ok);
  ASSERT_EQ(device->BeginScene(), Result::Ok);
  const auto draw = [&] { ASSERT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, 2, quad, sizeof(V)), Result::Ok); };
  // Something that changes nothing but ends a run (a texture locked and unlocked).
  const auto breakRun = [&] {
    LockedRect lr;
    ASSERT_EQ(other->LockRect(0, lr, nullptr, LockReadOnly), Result::Ok);
    ASSERT_EQ(other->UnlockRect(0), Result::Ok);
  };
  const auto run = [&](int times, bool broken) {
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF204060u, 1.0f, 0), Result::Ok);
    for (int i = 0; i < times; ++i) {
      if (broken) breakRun();
      draw();
    }
  };
  constexpr int kTimes = 100;
  run(kTimes, true);
  EXPECT_EQ(device->Debug().RepeatsLeftOut(), 0u);
  const std::vector<std::uint32_t> expected = ReadBack(target.Get());
  const std::uint64_t draws = device->Debug().Draws();
  run(kTimes, false);
  EXPECT_EQ(ReadBack(target.Get()), expected);
  const std::uint64_t left = device->Debug().RepeatsLeftOut();
  EXPECT_GT(left, kTimes / 2u);
  EXPECT_EQ(device->Debug().Draws() - draws + left, std::uint64_t{kTimes});

  // A state set to another value and back, between repeats, keeps the run
  // (the read back ended it: two draws settle it again).
  draw();
  draw();
  ASSERT_EQ(device->SetRenderState(RenderState::DestBlend, static_cast<std::uint32_t>(Blend::One)), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::DestBlend, static_cast<std::uint32_t>(Blend::InvSrcAlpha)), Result::Ok);
  ASSERT_EQ(device->SetTexture(0, other.Get()), Result::Ok);
  ASSERT_EQ(device->SetTexture(0, tex.Get()), Result::Ok);
  draw();
  EXPECT_EQ(device->Debug().RepeatsLeftOut(), left + 1);

  // What ends a run: each is followed by a draw that must change the target.
  struct Case {
    const char* name;
    std::function<void()> between;
  };
  const Case cases[] = {
      {"the texture refilled", [&] { fill(tex.Get(), 3); }},
      {"another texture bound", [&] { ASSERT_EQ(device->SetTexture(0, other.Get()), Result::Ok); }},
      {"another blend", [&] {
         ASSERT_EQ(device->SetRenderState(RenderState::DestBlend, static_cast<std::uint32_t>(Blend::Zero)), Result::Ok);
       }},
      {"the target cleared", [&] { ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0), Result::Ok); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < kTimes; ++i) draw();  // settled
    const std::uint64_t before = device->Debug().RepeatsLeftOut();
    const std::vector<std::uint32_t> settled = ReadBack(target.Get());
    c.between();
    draw();
    EXPECT_EQ(device->Debug().RepeatsLeftOut(), before);
    EXPECT_NE(ReadBack(target.Get()), settled);
  }

  // A texture held locked (written at any time) is read by every draw.
  ASSERT_EQ(device->SetRenderState(RenderState::DestBlend, static_cast<std::uint32_t>(Blend::InvSrcAlpha)), Result::Ok);
  ASSERT_EQ(device->SetTexture(0, tex.Get()), Result::Ok);
  LockedRect held;
  ASSERT_EQ(tex->LockRect(0, held, nullptr, 0), Result::Ok);
  const std::uint64_t before = device->Debug().RepeatsLeftOut();
  for (int i = 0; i < kTimes; ++i) draw();
  EXPECT_EQ(device->Debug().RepeatsLeftOut(), before);
  ASSERT_EQ(tex->UnlockRect(0), Result::Ok);
  ASSERT_EQ(device->EndScene(), Result::Ok);
}

// Draws leave the pixels inside the exclusion rectangle as they were and
// draw every other pixel as they would without it: triangles inside it,
// across it and around it, rectangles inside, across, beyond and empty.
// A new target ends it; a bad rectangle is refused.
TEST_F(GfxDeviceFixture, DrawsLeaveTheExclusionRectangleAsItWas) {
  constexpr std::uint32_t w = 40, h = 30;
  Ref<Texture> rt = RenderTexture(w, h);
  Ref<Surface> target = Level0(rt.Get());
  Ref<Texture> tex;
  ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, Format::A8R8G8B8, Pool::Managed, tex), Result::Ok);
  {
    LockedRect lr;
    ASSERT_EQ(tex->LockRect(0, lr, nullptr, 0), Result::Ok);
    for (std::uint32_t y = 0; y < 8; ++y)
      for (std::uint32_t x = 0; x < 8; ++x) {
        const std::uint32_t px = (x * 0x1F3Bu + y * 0x2D71u) * 2654435761u | 0x40000000u;
        std::memcpy(static_cast<std::uint8_t*>(lr.bits) + y * static_cast<std::uint32_t>(lr.pitch) + x * 4, &px, 4);
      }
    ASSERT_EQ(tex->UnlockRect(0), Result::Ok);
  }
  struct V {
    float x, y, z, rhw;
    std::uint32_t c;
    float u, v;
  };
  std::mt19937 rng(77);
  std::uniform_real_distribution<float> pos(-6, 46), uv(-0.5f, 1.5f);
  std::vector<V> tris;
  for (int i = 0; i < 30; ++i)
    tris.push_back({pos(rng), pos(rng), 0, 1, static_cast<std::uint32_t>(rng()) | 0x80000000u, uv(rng), uv(rng)});
  // A picture with a soft edge: its inside, of one colour, and a band.
  const auto cell = [&](float x0, float y0, float x1, float y1, std::uint32_t c0, std::uint32_t c1) {
    const V a{x0, y0, 0, 1, c0, x0 / w, y0 / h}, b{x1, y0, 0, 1, c1, x1 / w, y0 / h}, c{x0, y1, 0, 1, c0, x0 / w, y1 / h},
        d{x1, y1, 0, 1, c1, x1 / w, y1 / h};
    tris.insert(tris.end(), {a, b, c, b, d, c});
  };
  cell(4.3f, 3.6f, 30.7f, 22.2f, 0xFFFFFFFFu, 0xFFFFFFFFu);
  cell(30.7f, 3.6f, 31.7f, 22.2f, 0xFFFFFFFFu, 0x00FFFFFFu);
  ASSERT_EQ(device->SetRenderTarget(0, target.Get()), Result::Ok);
  ASSERT_EQ(device->SetFVF(FvfXyzRhw | FvfDiffuse | FvfTex1), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::CullMode, static_cast<std::uint32_t>(Cull::None)), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::AlphaBlendEnable, 1), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::SrcBlend, static_cast<std::uint32_t>(Blend::SrcAlpha)), Result::Ok);
  ASSERT_EQ(device->SetRenderState(RenderState::DestBlend, static_cast<std::uint32_t>(Blend::InvSrcAlpha)), Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::ColorOp, static_cast<std::uint32_t>(TextureOp::Modulate)),
            Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::ColorArg1, ArgTexture), Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::ColorArg2, ArgDiffuse), Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::AlphaOp, static_cast<std::uint32_t>(TextureOp::Modulate)),
            Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::AlphaArg1, ArgTexture), Result::Ok);
  ASSERT_EQ(device->SetTextureStageState(0, StageState::AlphaArg2, ArgDiffuse), Result::Ok);
  ASSERT_EQ(device->SetSamplerState(0, SamplerState::MagFilter, static_cast<std::uint32_t>(TextureFilter::Linear)),
            Result::Ok);
  ASSERT_EQ(device->SetSamplerState(0, SamplerState::MinFilter, static_cast<std::uint32_t>(TextureFilter::Linear)),
            Result::Ok);
  ASSERT_EQ(device->SetTexture(0, tex.Get()), Result::Ok);
  ASSERT_EQ(device->BeginScene(), Result::Ok);
  const auto drawAll = [&](const Rect* exclusion) {
    ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF306090u, 1.0f, 0), Result::Ok);
    ASSERT_EQ(device->SetExclusionRect(exclusion), Result::Ok);
    ASSERT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, static_cast<std::uint32_t>(tris.size() / 3),
                                      tris.data(), sizeof(V)),
              Result::Ok);
    ASSERT_EQ(device->SetExclusionRect(nullptr), Result::Ok);
  };
  drawAll(nullptr);
  const std::vector<std::uint32_t> whole = ReadBack(target.Get());
  const Rect cases[] = {{5, 4, 30, 22}, {0, 0, 40, 30}, {-10, -10, 60, 60}, {12, 9, 13, 10}, {20, -5, 50, 12},
                        {10, 10, 10, 20}, {41, 0, 50, 30}, {30, 0, 32, 30}};
  for (const Rect& e : cases) {
    SCOPED_TRACE(testing::Message() << e.left << "," << e.top << "," << e.right << "," << e.bottom);
    drawAll(&e);
    const std::vector<std::uint32_t> got = ReadBack(target.Get());
    for (std::int32_t y = 0; y < std::int32_t(h); ++y)
      for (std::int32_t x = 0; x < std::int32_t(w); ++x) {
        const bool inside = x >= e.left && x < e.right && y >= e.top && y < e.bottom;
        ASSERT_EQ(got[std::size_t(y) * w + std::size_t(x)], inside ? 0xFF306090u : whole[std::size_t(y) * w + std::size_t(x)])
            << x << "," << y;
      }
  }
  // A new target, and the draw reaches everywhere again.
  const Rect all{0, 0, 40, 30};
  ASSERT_EQ(device->SetExclusionRect(&all), Result::Ok);
  ASSERT_EQ(device->SetRenderTarget(0, target.Get()), Result::Ok);
  ASSERT_EQ(device->Clear(0, nullptr, ClearTarget, 0xFF306090u, 1.0f, 0), Result::Ok);
  ASSERT_EQ(device->DrawPrimitiveUP(PrimitiveType::TriangleList, static_cast<std::uint32_t>(tris.size() / 3), tris.data(),
                                    sizeof(V)),
            Result::Ok);
  EXPECT_EQ(ReadBack(target.Get()), whole);
  const Rect turned{10, 10, 5, 20};
  EXPECT_EQ(device->SetExclusionRect(&turned), Result::InvalidCall);
  ASSERT_EQ(device->EndScene(), Result::Ok);
}

}  // namespace gfxdevtest
