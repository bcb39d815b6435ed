#include "ZmLib/3DBasics/Dev3DRTPool.h"

#include <gtest/gtest.h>

#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/3DBasics/Dev3DAppDoubles.h"

using namespace zm;
using namespace zmtest;

namespace rt_pool_test {

// Textures of any kind over fake surfaces; remembers what it was asked for.
class TPoolRenderer : public TRecRenderer {
public:
  using TRecRenderer::TRecRenderer;
  TRef<T3DTexture> CreateTexture(std::uint8_t kind, std::int32_t w, std::int32_t h, bool) override {
    Note("CreateTexture " + std::to_string(kind) + " " + std::to_string(w) + "x" + std::to_string(h));
    SetLastResult(drOk);
    auto t = MakeRef<TFakeTexture>(MakeRef<TFakeSurface>(TSize{w, h}));
    Textures.push_back(t);
    return t;
  }
  void LoseAll() {
    SetState(rsDeviceLost);
    for (auto& t : Textures) t->DoLost(t.get());
    LoseDevice();
  }
  int Creates() const {
    int n = 0;
    for (const std::string& c : Calls) n += c.rfind("CreateTexture", 0) == 0;
    return n;
  }
  std::vector<TRef<TFakeTexture>> Textures;
};

TPoolRenderer* gLast = nullptr;

class TPoolEngine : public TFakeEngine {
public:
  TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const T3DDisplayMode&) override {
    auto r = MakeRef<TPoolRenderer>(device, TSize{320, 240});
    Renderers.push_back(r);
    gLast = r.get();
    return r;
  }
};

TRef<TPoolEngine> gEngine;
TRef<T3DEngine> EngineHook(std::int32_t) { return gEngine; }

class RTPool : public ::testing::Test {
protected:
  void SetUp() override {
    FiniDev3DApp2();
    gEngine = MakeRef<TPoolEngine>();
    engine_.Set(&EngineHook);
    InitDev3DApp2();
    device = MakeRef<TDrawDevice>(reinterpret_cast<HWND>(std::uintptr_t(0x4343)));
    device->SetBounds({0, 0, 320, 240}, {0, 0}, false);
    screen = MakeRef<T3DScreen>();
    screen->Open(device.get());
    ASSERT_TRUE(screen->CanDraw());
    screen->BeginFrame();
  }
  void TearDown() override {
    screen = nullptr;
    device = nullptr;
    FiniDev3DApp2();
    engine_.Restore();
    gEngine = nullptr;
    gLast = nullptr;
    InitDev3DApp2();
  }
  TRef<TDrawDevice> device;
  TRef<T3DScreen> screen;

private:
  zm::THookScope<TCreate3DEngineHook> engine_{Create3DEngineHook};
};

TEST_F(RTPool, SizesRoundUpToPowersOfTwoAndOnlyAChangeEmptiesThePool) {
  TRef<TRenderTargetManager> pool = MakeRef<TRenderTargetManager>(false);
  EXPECT_EQ(pool->PoolSize(), (TSize{0, 0}));
  pool->SetPoolSize(300, 200);
  EXPECT_EQ(pool->PoolSize(), (TSize{512, 256}));
  TRef<TRenderTargetTexture> t = pool->Acquire(screen.get());
  pool->ReturnTexture(t.get());
  pool->SetPoolSize(400, 250);  // rounds to the same size
  EXPECT_EQ(pool->FreeCount(), 1);
  pool->SetPoolSize(512, 256);
  EXPECT_EQ(pool->FreeCount(), 1);
  pool->SetPoolSize(513, 256);
  EXPECT_EQ(pool->PoolSize(), (TSize{1024, 256}));
  EXPECT_EQ(pool->FreeCount(), 0);
  // Zero stays zero, a negative side counts as zero, one is a power of two.
  pool->SetPoolSize(0, -7);
  EXPECT_EQ(pool->PoolSize(), (TSize{0, 0}));
  pool->SetPoolSize(1, 1 << 30);
  EXPECT_EQ(pool->PoolSize(), (TSize{1, 1 << 30}));
  EXPECT_THROW(pool->SetPoolSize((1 << 30) + 1, 4), Exception);
  EXPECT_EQ(pool->PoolSize(), (TSize{1, 1 << 30}));
}

TEST_F(RTPool, LastReturnedIsHandedOutFirstAndNothingIsMadeAgain) {
  TRef<TRenderTargetManager> pool = MakeRef<TRenderTargetManager>(true);
  pool->SetPoolSize(100, 60);
  TRef<TRenderTargetTexture> a = pool->Acquire(screen.get());
  TRef<TRenderTargetTexture> b = pool->Acquire(screen.get());
  ASSERT_NE(a, b);
  EXPECT_EQ(gLast->Creates(), 2);
  EXPECT_TRUE(gLast->Called("CreateTexture 2 128x64"));
  EXPECT_EQ(a->Kind(), tkTargetAlpha);
  EXPECT_TRUE(a->Premultiplied);
  EXPECT_EQ(a->Pool(), pool.get());
  ASSERT_NE(a->DeviceTexture(), nullptr);  // realised when handed out

  TRenderTargetTexture* rawA = a.get();
  TRenderTargetTexture* rawB = b.get();
  pool->ReturnTexture(a.get());
  pool->ReturnTexture(b.get());
  EXPECT_EQ(a->Pool(), nullptr);
  a = nullptr, b = nullptr;  // the free list keeps them
  EXPECT_EQ(pool->FreeCount(), 2);
  TRef<TRenderTargetTexture> first = pool->Acquire(screen.get());
  TRef<TRenderTargetTexture> second = pool->Acquire(screen.get());
  EXPECT_EQ(first.get(), rawB);
  EXPECT_EQ(second.get(), rawA);
  EXPECT_EQ(first->Pool(), pool.get());
  EXPECT_EQ(gLast->Creates(), 2);

  // Handing back through the texture; one without a pool is just dropped.
  TRenderTargetTexture::FreeTarget(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(pool->FreeCount(), 1);
  TRef<TRenderTargetTexture> loose = MakeRef<TRenderTargetTexture>(screen.get(), true, TSize{128, 64});
  TRenderTargetTexture::FreeTarget(loose);
  TRenderTargetTexture::FreeTarget(loose);  // nil
  EXPECT_EQ(pool->FreeCount(), 1);
  pool->ReturnTexture(nullptr);
  EXPECT_EQ(pool->FreeCount(), 1);
  pool->ReturnTexture(second.get());
  second = nullptr;
  pool->ClearPool();
  EXPECT_EQ(pool->FreeCount(), 0);
  EXPECT_EQ(screen->Resources()->Count(), 1);  // only the vertex buffer is left
}

TEST_F(RTPool, ATextureOfAnotherSizeOrAlphaModeIsRefused) {
  TRef<TRenderTargetManager> pool = MakeRef<TRenderTargetManager>(false);
  pool->SetPoolSize(64, 64);
  TRef<TRenderTargetTexture> out = pool->Acquire(screen.get());
  EXPECT_EQ(out->Kind(), tkTarget);
  EXPECT_FALSE(out->Premultiplied);
  pool->SetPoolSize(128, 64);  // while a texture is out
  EXPECT_THROW(pool->ReturnTexture(out.get()), Exception);
  EXPECT_EQ(pool->FreeCount(), 0);
  TRef<TRenderTargetTexture> alpha = MakeRef<TRenderTargetTexture>(screen.get(), true, TSize{128, 64});
  EXPECT_THROW(pool->ReturnTexture(alpha.get()), Exception);
  EXPECT_EQ(pool->FreeCount(), 0);
  EXPECT_THROW(pool->Acquire(nullptr), Exception);
}

TEST_F(RTPool, ZeroSizedPoolHandsOutTexturesWithoutDeviceObjects) {
  TRef<TRenderTargetManager> pool = MakeRef<TRenderTargetManager>(false);
  TRef<TRenderTargetTexture> t = pool->Acquire(screen.get());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->DeviceTexture(), nullptr);
  EXPECT_EQ(gLast->Creates(), 0);
  pool->ReturnTexture(t.get());
  EXPECT_EQ(pool->Acquire(screen.get()), t);
}

TEST_F(RTPool, FreeTexturesLetTheirDeviceObjectsGoWithTheDeviceAndComeBack) {
  TRef<TRenderTargetManager> pool = MakeRef<TRenderTargetManager>(false);
  pool->SetPoolSize(32, 32);
  TRef<TRenderTargetTexture> t = pool->Acquire(screen.get());
  ASSERT_NE(t->DeviceTexture(), nullptr);
  pool->ReturnTexture(t.get());
  TRef<TPoolRenderer> old(gLast);
  old->LoseAll();
  EXPECT_EQ(t->DeviceTexture(), nullptr);
  // No screen that can draw: handed out without a device texture.
  EXPECT_EQ(pool->Acquire(screen.get()), t);
  EXPECT_EQ(t->DeviceTexture(), nullptr);
  pool->ReturnTexture(t.get());
  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  ASSERT_NE(gLast, old.get());
  EXPECT_EQ(pool->Acquire(screen.get()), t);
  EXPECT_NE(t->DeviceTexture(), nullptr);
  EXPECT_EQ(gLast->Creates(), 1);
  pool->ReturnTexture(t.get());

  // Free textures of a screen that went are not handed out on another one.
  TRef<T3DScreen> other = MakeRef<T3DScreen>();
  TRef<TRenderTargetTexture> fresh = pool->Acquire(other.get());
  EXPECT_NE(fresh, t);
  EXPECT_EQ(pool->FreeCount(), 0);
}

TEST_F(RTPool, AManagerFreedWhileATextureIsOutStaysUntilItComesBack) {
  TRef<TRenderTargetManager> pool = MakeRef<TRenderTargetManager>(false);
  pool->SetPoolSize(32, 32);
  TRef<TRenderTargetTexture> t = pool->Acquire(screen.get());
  TRenderTargetManager* raw = pool.get();
  pool = nullptr;
  ASSERT_EQ(t->Pool(), raw);
  TRenderTargetTexture::FreeTarget(t);  // back to the pool, which then goes with it
  EXPECT_EQ(screen->Resources()->Count(), 1);
}

TEST_F(RTPool, BoxAntialiaserDrawsTheWhiteTextureScaledToTheAxes) {
  EXPECT_THROW(MakeRef<TBoxAntialiaser>(nullptr), Exception);
  TRef<TBoxAntialiaser> box = MakeRef<TBoxAntialiaser>(screen.get());
  ASSERT_NE(box->Texture(), nullptr);
  EXPECT_EQ(box->Texture()->Size(), (TSize{256, 256}));
  EXPECT_NE(box->Texture()->DeviceTexture(), nullptr);
  EXPECT_TRUE(gLast->Called("CreateTexture 0 256x256"));

  gLast->Draws.clear();
  box->DrawBox(screen.get(), {40, 0, 0}, 0, 0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u, {0, 20, 0},
               {10, 5, 0});
  ASSERT_EQ(gLast->Draws.size(), 1u);
  const TDrawCall& d = gLast->Draws[0];
  // Every cell is drawn; without feathered edges the bands have no area.
  ASSERT_EQ(d.Vertices.size(), 54u);
  ASSERT_EQ(d.Textures.size(), 1u);
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
  for (const T3DVertex& v : d.Vertices) {
    minX = std::min(minX, v.X), maxX = std::max(maxX, v.X);
    minY = std::min(minY, v.Y), maxY = std::max(maxY, v.Y);
  }
  EXPECT_FLOAT_EQ(minX, 10);
  EXPECT_FLOAT_EQ(maxX, 50);
  EXPECT_FLOAT_EQ(minY, 5);
  EXPECT_FLOAT_EQ(maxY, 25);
  box->DrawBox(nullptr, {40, 0, 0}, 15, 0, 0, 0, 0, {0, 20, 0});
  EXPECT_EQ(gLast->Draws.size(), 1u);
  // Feathered on the left only: the band reaches one pixel further out.
  box->DrawBox(screen.get(), {40, 0, 0}, ebLeft, ~0u, ~0u, ~0u, ~0u, {0, 20, 0}, {10, 5, 0});
  ASSERT_EQ(gLast->Draws.size(), 2u);
  minX = 1e9f, maxX = -1e9f;
  for (const T3DVertex& v : gLast->Draws[1].Vertices) minX = std::min(minX, v.X), maxX = std::max(maxX, v.X);
  EXPECT_NEAR(minX, 9, 1e-3);
  EXPECT_FLOAT_EQ(maxX, 50);
}

}  // namespace rt_pool_test
