#include "ZmLib/3DBasics/Dev3DApp2.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/ZmLib/3DBasics/Dev3DAppDoubles.h"

using namespace zm;
using namespace zmtest;

// Named, not anonymous: test files may be compiled together.
namespace dev3dapp_test {

// The engine and monitors the hooks hand out; each test sets them up.
TRef<TFakeEngine> gEngine;
std::vector<TRect> gMonitors;
std::atomic<int> gHookCalls{0};
int gNilAnswers = 0;  // the hook yields nil this many times first

TRef<T3DEngine> FakeEngineHook(std::int32_t) {
  ++gHookCalls;
  if (gNilAnswers > 0) {
    --gNilAnswers;
    return nullptr;
  }
  return gEngine;
}
std::vector<TRect> FakeMonitors() { return gMonitors; }

class TLinesLog : public TLog {
public:
  void WriteText(const WideString& line) override { Lines.push_back(line); }
  std::vector<WideString> Lines;
};

// Each test starts with the unit's singleton empty, and leaves it so.
class Dev3DApp : public ::testing::Test {
protected:
  void SetUp() override {
    FiniDev3DApp2();
    gEngine = MakeRef<TFakeEngine>();
    gMonitors = {{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}};
    gEngine->Monitors = gMonitors;
    gHookCalls = 0;
    gNilAnswers = 0;
    engine_.Set(&FakeEngineHook);
    monitors_.Set(&FakeMonitors);
    InitDev3DApp2();
    device = MakeRef<TDrawDevice>(reinterpret_cast<HWND>(std::uintptr_t(0x5678)));
    device->SetBounds({0, 0, 640, 480}, {100, 50}, false);
    screen = MakeRef<T3DScreen>();
  }
  void TearDown() override {
    screen = nullptr;
    device = nullptr;
    FiniDev3DApp2();
    engine_.Restore();
    monitors_.Restore();
    gEngine = nullptr;
    InitDev3DApp2();
  }
  TRecRenderer* Rnd() const { return static_cast<TRecRenderer*>(screen->Renderer()); }
  void OpenAndBegin() {
    screen->Open(device.get());
    ASSERT_TRUE(screen->CanDraw());
    screen->BeginFrame();
  }

  TRef<TDrawDevice> device;
  TRef<T3DScreen> screen;
  zm::THookScope<TCreate3DEngineHook> engine_{Create3DEngineHook};
  zm::THookScope<TMonitorRectsProc> monitors_{MonitorRectsHook};
};

// The target pixel of a point through the matrices and viewport the screen
// set, as a device maps it; Z gets the depth.
TPoint3F ToTarget(const TRecRenderer& r, const TPoint3F& p) {
  float v[4] = {p.X, p.Y, p.Z, 1};
  for (int m = 0; m < 3; ++m) {
    float o[4] = {};
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 4; ++k) o[c] += v[k] * r.Transforms[m].M[k][c];
    std::copy(o, o + 4, v);
  }
  const float w = v[3];
  const TRect& vp = r.Viewport;
  return {vp.Left + (v[0] / w + 1) / 2 * float(vp.Right - vp.Left),
          vp.Top + (1 - v[1] / w) / 2 * float(vp.Bottom - vp.Top), v[2] / w};
}

}  // namespace dev3dapp_test

using namespace dev3dapp_test;

// ---- The engine singleton ------------------------------------------------------------

TEST_F(Dev3DApp, EngineIsAskedForAgainWhileTheHookYieldsNil) {
  gNilAnswers = 2;
  EXPECT_EQ(Get3DEngine().get(), nullptr);
  EXPECT_EQ(Get3DEngine().get(), nullptr);
  EXPECT_EQ(Get3DEngine().get(), gEngine.get());
  EXPECT_EQ(Get3DEngine().get(), gEngine.get());
  EXPECT_EQ(gHookCalls, 3);
  // The unit keeps one reference and drops it at finalisation; after that
  // nothing is made.
  EXPECT_EQ(gEngine->RefCount(), 2);
  FiniDev3DApp2();
  EXPECT_EQ(gEngine->RefCount(), 1);
  EXPECT_EQ(Get3DEngine().get(), nullptr);
  EXPECT_EQ(gHookCalls, 3);
}

TEST_F(Dev3DApp, EngineHookThatThrowsOrIsMissingGivesNone) {
  engine_.Set([](std::int32_t) -> TRef<T3DEngine> { throw std::runtime_error("no device"); });
  EXPECT_EQ(Get3DEngine().get(), nullptr);
  engine_.Set(nullptr);
  EXPECT_EQ(Get3DEngine().get(), nullptr);
  // The screen stays closed without an engine, and says so without raising.
  screen->Open(device.get());
  EXPECT_FALSE(screen->CanDraw());
  EXPECT_EQ(screen->DrawDevice(), device.get());
  engine_.Set(&FakeEngineHook);
  EXPECT_EQ(Get3DEngine().get(), gEngine.get());
}

// ---- Opening and closing --------------------------------------------------------------

TEST_F(Dev3DApp, OpenWindowedAndAgainOnlyOnChanges) {
  EXPECT_THROW(screen->Open(nullptr), EAbort);
  auto tex = MakeRef<TFakeScreenTexture>(screen.get(), 64, 64);
  tex->Realize();
  screen->Open(device.get());
  ASSERT_EQ(gEngine->Renderers.size(), 1u);
  EXPECT_TRUE(screen->CanDraw());
  EXPECT_FALSE(screen->FullScreen());
  EXPECT_EQ(screen->WindowRect(), (TRect{100, 50, 740, 530}));
  EXPECT_EQ(screen->Adapter(), 0);
  EXPECT_EQ(device->Objects()->IndexOf(screen->Messenger()), 0);
  const int releasesOnFirstOpen = tex->Releases;  // a new device releases all
  // The same device, mode and rectangle: nothing at all.
  screen->Open(device.get());
  EXPECT_EQ(gEngine->Renderers.size(), 1u);
  // A moved window on the same device: a new renderer, resources kept.
  device->SetBounds({0, 0, 640, 480}, {2000, 50}, false);
  screen->Open(device.get());
  EXPECT_EQ(gEngine->Renderers.size(), 2u);
  EXPECT_EQ(screen->Adapter(), 1);
  EXPECT_EQ(tex->Releases, releasesOnFirstOpen);
  // An empty window is no change.
  device->SetBounds({0, 0, 0, 480}, {2000, 50}, false);
  screen->Open(device.get());
  EXPECT_EQ(gEngine->Renderers.size(), 2u);
  // Another device: the messenger moves to it.
  auto other = MakeRef<TDrawDevice>(reinterpret_cast<HWND>(std::uintptr_t(0x9999)));
  other->SetBounds({0, 0, 320, 200}, {0, 0}, false);
  screen->Open(other.get());
  EXPECT_EQ(device->Objects()->Count(), 0);
  EXPECT_EQ(other->Objects()->IndexOf(screen->Messenger()), 0);
  EXPECT_EQ(tex->Releases, releasesOnFirstOpen + 1);
  EXPECT_EQ(screen->DrawDevice(), other.get());
}

TEST_F(Dev3DApp, FullScreenTakesTheMonitorHoldingMostOfTheWindow) {
  // 120 pixels on the first monitor, 280 on the second.
  device->SetBounds({0, 0, 400, 300}, {1800, 100}, true);
  screen->Open(device.get());
  EXPECT_TRUE(screen->FullScreen());
  EXPECT_EQ(screen->WindowRect(), (TRect{1920, 0, 3840, 1080}));
  EXPECT_EQ(screen->Adapter(), 1);
  // A tie goes to the first; a window on no monitor as well.
  device->SetBounds({0, 0, 400, 300}, {1720, 100}, true);
  screen->Open(device.get());
  EXPECT_EQ(screen->WindowRect(), (TRect{0, 0, 1920, 1080}));
  device->SetBounds({0, 0, 400, 300}, {-5000, -5000}, true);
  screen->Open(device.get());
  EXPECT_EQ(screen->WindowRect(), (TRect{0, 0, 1920, 1080}));
}

TEST_F(Dev3DApp, FailedStepsLeaveTheScreenClosed) {
  auto* log = new TLinesLog;
  SetLog(log);
  engine_.Set(nullptr);
  screen->Open(device.get());
  EXPECT_FALSE(screen->CanDraw());
  engine_.Set(&FakeEngineHook);
  gEngine->ModeOk = false;
  screen->BeginFrame();
  EXPECT_FALSE(screen->CanDraw());
  EXPECT_EQ(log->Lines, (std::vector<WideString>{u"Can't init", u"Can't GetDisplayMode"}));
  SetLog(nullptr);
  gEngine->ModeOk = true;
  gEngine->RendererOk = false;
  screen->BeginFrame();  // tries again, fails again, draws nothing
  EXPECT_FALSE(screen->CanDraw());
  EXPECT_FALSE(screen->EndFrame(true));
  // Nothing of a closed screen raises or draws.
  screen->Clear(0xFF000000u, true);
  screen->SetViewport({0, 0, 10, 10}, 0, 1);
  screen->SetRenderTarget(nullptr);
  screen->FillColourQuad({}, {}, {}, {}, 1, 2, 3, 4);
  gEngine->RendererOk = true;
  screen->BeginFrame();
  EXPECT_TRUE(screen->CanDraw());
}

TEST_F(Dev3DApp, PendingRendererCannotDraw) {
  gEngine->NewState = rsCreationPending;
  screen->Open(device.get());
  ASSERT_NE(screen->Renderer(), nullptr);
  EXPECT_FALSE(screen->CanDraw());
  screen->BeginFrame();
  EXPECT_FALSE(Rnd()->Called("BeginScene"));
  EXPECT_EQ(screen->VertexBuffer()->List(), nullptr);  // no list while creation is pending
  Rnd()->SetState(rsReady);
  screen->BeginFrame();
  EXPECT_TRUE(Rnd()->Called("BeginScene"));
  EXPECT_NE(screen->VertexBuffer()->List(), nullptr);
}

TEST_F(Dev3DApp, DeviceAndScreenMayGoInEitherOrder) {
  screen->Open(device.get());
  device = nullptr;  // the device ends: its messenger cuts the screen off
  EXPECT_EQ(screen->DrawDevice(), nullptr);
  EXPECT_EQ(screen->Messenger(), nullptr);
  EXPECT_TRUE(screen->CanDraw());  // the renderer outlives the device
  screen->BeginFrame();
  EXPECT_TRUE(Rnd()->Called("BeginScene"));

  auto d2 = MakeRef<TDrawDevice>(reinterpret_cast<HWND>(std::uintptr_t(0x42)));
  d2->SetBounds({0, 0, 100, 100}, {0, 0}, false);
  auto s2 = MakeRef<T3DScreen>();
  s2->Open(d2.get());
  ASSERT_EQ(d2->Objects()->Count(), 1);
  auto orphan = MakeRef<TFakeScreenTexture>(s2.get(), 8, 8);
  s2 = nullptr;  // the screen ends first: it leaves the device's list
  EXPECT_EQ(d2->Objects()->Count(), 0);
  EXPECT_EQ(orphan->Screen(), nullptr);  // cut loose, freed later safely
  EXPECT_THROW(MakeRef<TFakeScreenTexture>(nullptr, 8, 8), EAbort);
  EXPECT_THROW(MakeRef<TVertexBuffer>(nullptr), EAbort);
}

// ---- Frames --------------------------------------------------------------------------

TEST_F(Dev3DApp, FrameBeginsAndEnds) {
  int closes = 0;
  screen->OnClose = [&](T3DScreen*) { ++closes; };
  OpenAndBegin();
  TRecRenderer* r = Rnd();
  EXPECT_TRUE(r->Called("SetCullNone 1"));
  EXPECT_TRUE(r->Called("CreateVertexList 96 1 2"));  // 32 triangles, diffuse, 2 sets
  EXPECT_EQ(screen->TargetStack()->Count(), 1);
  EXPECT_EQ(screen->TargetRect(), (TRect{0, 0, 640, 480}));
  EXPECT_DOUBLE_EQ(screen->RecipWidth(), 1.0 / 640);
  EXPECT_EQ(r->Viewport, (TRect{0, 0, 640, 480}));
  EXPECT_EQ(r->MaxZ, 1.0f);
  EXPECT_EQ(r->Calls.back(), "BeginScene");
  screen->Clear(0xFF102030u, true);
  EXPECT_EQ(r->ClearRects, (std::vector<TRect>{{0, 0, 640, 480}}));
  EXPECT_EQ(r->ClearFlags, cfTarget | cfDepth);
  EXPECT_EQ(r->ClearDepth, 1.0f);
  screen->FillRect(0x11, {5, 5, 10, 10});
  EXPECT_EQ(r->ClearFlags, cfTarget);
  screen->FillRect(0x11, {5, 5, 5, 10});  // empty: no clear
  EXPECT_EQ(r->ClearRects, (std::vector<TRect>{{5, 5, 10, 10}}));
  EXPECT_TRUE(screen->EndFrame(true));
  EXPECT_EQ(r->PresentSource, (TRect{0, 0, 640, 480}));
  EXPECT_EQ(r->PresentDest, (TRect{0, 0, 640, 480}));
  // Without present only the scene ends.
  r->Calls.clear();
  EXPECT_TRUE(screen->EndFrame(false));
  EXPECT_FALSE(r->Called("Present"));
  r->EndOk = false;
  EXPECT_FALSE(screen->EndFrame(true));
  EXPECT_FALSE(r->Called("Present"));
  EXPECT_EQ(closes, 0);
  EXPECT_EQ(screen->GetVisibleRect(), (TRect{0, 0, 640, 480}));
  screen->VisibleRect = {10, 10, 20, 20};
  EXPECT_EQ(screen->GetVisibleRect(), (TRect{10, 10, 20, 20}));
}

TEST_F(Dev3DApp, LostDeviceReleasesResourcesAndTheScreenReopens) {
  int closes = 0;
  screen->OnClose = [&](T3DScreen*) { ++closes; };
  auto shader = MakeRef<TShader>(screen.get(), TByteString("code"), 3);
  EXPECT_EQ(shader->DeviceShader(), nullptr);  // no renderer yet
  OpenAndBegin();
  ASSERT_NE(shader->DeviceShader(), nullptr);  // made at frame start
  ASSERT_NE(screen->VertexBuffer()->List(), nullptr);
  TRef<TRecRenderer> lost(Rnd());
  lost->LoseInEndScene = true;
  EXPECT_FALSE(screen->EndFrame(true));  // lost in the frame's end: nothing presented
  EXPECT_FALSE(lost->Called("Present"));
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(screen->Renderer(), nullptr);
  EXPECT_EQ(screen->TargetStack()->Count(), 0);
  EXPECT_EQ(screen->VertexBuffer()->List(), nullptr);
  EXPECT_EQ(shader->DeviceShader(), nullptr);
  EXPECT_FALSE(screen->EndFrame(true));
  // The next frame makes a new renderer and everything again.
  screen->BeginFrame();
  ASSERT_EQ(gEngine->Renderers.size(), 2u);
  EXPECT_TRUE(screen->CanDraw());
  EXPECT_NE(shader->DeviceShader(), nullptr);
  EXPECT_EQ(Rnd()->Lists.size(), 1u);
  EXPECT_EQ(screen->TargetStack()->Count(), 1);
  EXPECT_TRUE(screen->EndFrame(true));
  // Released on request: every resource drops its device objects.
  auto tex = MakeRef<TFakeScreenTexture>(screen.get(), 16, 16);
  tex->Realize();
  screen->ReleaseResources();
  EXPECT_EQ(tex->Device, nullptr);
  EXPECT_EQ(shader->DeviceShader(), nullptr);
  EXPECT_EQ(screen->VertexBuffer()->List(), nullptr);
  EXPECT_EQ(screen->Resources()->Count(), 3);
  shader = nullptr;
  EXPECT_EQ(screen->Resources()->Count(), 2);
}

// ---- Viewport and projection -------------------------------------------------------------

TEST_F(Dev3DApp, ProjectionPutsVirtualPointsOnTheirPixels) {
  OpenAndBegin();
  const TRecRenderer& r = *Rnd();
  // Camera (320, 240, -480): a point on the screen plane stays where it is;
  // one 480 behind it is seen at half the distance from the centre.
  const struct {
    TPoint3F p;
    TPoint2F want;
  } cases[] = {
      {{0, 0, 0}, {0, 0}},
      {{640, 480, 0}, {640, 480}},
      {{320, 240, 480}, {320, 240}},
      {{0, 0, 480}, {160, 120}},
      {{640, 0, -240}, {960, -240}},  // halfway to the camera: twice as far out
  };
  for (const auto& c : cases) {
    const TPoint3F t = ToTarget(r, c.p);
    EXPECT_NEAR(t.X, c.want.X, 1e-3) << c.p.X << "," << c.p.Y << "," << c.p.Z;
    EXPECT_NEAR(t.Y, c.want.Y, 1e-3);
    EXPECT_GT(t.Z, 0);
    EXPECT_LT(t.Z, 1);
    const TPoint2F s = screen->ProjectToTarget(c.p);
    EXPECT_NEAR(s.X, c.want.X, 1e-3);
    EXPECT_NEAR(s.Y, c.want.Y, 1e-3);
  }
  // Half-size output at (-10, -20): target = virtual * 0.5 - (10, 20),
  // whatever viewport is set.
  screen->SetViewport({100, 50, 400, 350}, 0, 1);
  screen->SetProjection(10, 20, 320, 240, 640, 480);
  EXPECT_DOUBLE_EQ(screen->Projection().ScaleX, 0.5);
  for (const TPoint3F& p : {TPoint3F{640, 480, 0}, TPoint3F{0, 0, 480}}) {
    const TPoint3F t = ToTarget(r, p);
    const TPoint2F s = screen->ProjectToTarget(p);
    EXPECT_NEAR(t.X, s.X, 1e-3);
    EXPECT_NEAR(t.Y, s.Y, 1e-3);
  }
  EXPECT_NEAR(screen->ProjectToTarget({640, 480, 0}).X, 310, 1e-4);
  EXPECT_NEAR(screen->ProjectToTarget({640, 480, 0}).Y, 220, 1e-4);
  // Back from the target onto a plane: the inverse.
  const TPoint3F back = screen->TargetToPlane({310, 220}, {0, 0, 0}, {0, 0, 1});
  EXPECT_NEAR(back.X, 640, 1e-3);
  EXPECT_NEAR(back.Y, 480, 1e-3);
  EXPECT_NEAR(back.Z, 0, 1e-4);
}

TEST_F(Dev3DApp, BadViewportAndProjectionAreIgnored) {
  OpenAndBegin();
  TRecRenderer* r = Rnd();
  const T3DViewState before = screen->SaveView();
  const int calls = r->TransformCalls;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  screen->SetViewport({10, 10, 10, 50}, 0, 1);
  screen->SetViewport({0, 0, 50, 50}, nan, 1);
  screen->SetProjection(0, 0, 0, 480, 640, 480);
  screen->SetProjection(0, 0, 640, 480, 640, -1);
  screen->SetProjection(0, 0, nan, 480, 640, 480);
  screen->SetProjection(nan, 0, 640, 480, 640, 480);
  screen->SetProjection(0, 0, 640, 480, inf, 480);
  EXPECT_EQ(r->TransformCalls, calls);
  EXPECT_EQ(r->Viewport, (TRect{0, 0, 640, 480}));
  EXPECT_EQ(screen->Projection().VirtualWidth, before.Projection.VirtualWidth);
  // Saved and restored whole, and set on the renderer again.
  screen->SetViewport({1, 2, 30, 40}, 0.25f, 0.5f);
  screen->SetProjection(5, 6, 100, 100, 200, 200);
  screen->RestoreView(before);
  EXPECT_EQ(r->Viewport, (TRect{0, 0, 640, 480}));
  EXPECT_EQ(screen->Projection().ScaleX, 1.0);
  EXPECT_NEAR(ToTarget(*r, {640, 480, 0}).X, 640, 1e-3);
  // NaN points project to NaN, never a fault.
  const TPoint2F p = screen->ProjectToTarget({nan, 0, 0});
  EXPECT_TRUE(std::isnan(p.X));
}

// ---- The render-target stack -----------------------------------------------------------

TEST_F(Dev3DApp, RenderTargetStackKeepsItsBottom) {
  OpenAndBegin();
  TRecRenderer* r = Rnd();
  T3DSurface* back = r->Back.get();
  auto target = MakeRef<TFakeTexture>(MakeRef<TFakeSurface>(TSize{256, 128}));
  screen->SetRenderTarget(target.get(), 10, 20);
  EXPECT_EQ(r->Current.get(), target->Surface.get());
  EXPECT_EQ(screen->TargetStack()->Count(), 2);
  EXPECT_EQ(screen->TargetOffset(), (TPoint{10, 20}));
  EXPECT_EQ(screen->Viewport().Rect, (TRect{0, 0, 256, 128}));
  EXPECT_EQ(screen->TargetRect(), (TRect{0, 0, 640, 480}));
  EXPECT_DOUBLE_EQ(screen->Projection().ScaleX, 256.0 / 640);
  EXPECT_EQ(screen->Projection().Left, 10);
  // A texture without a surface is not pushed.
  auto broken = MakeRef<TFakeTexture>(nullptr);
  screen->SetRenderTarget(broken.get(), 1, 1);
  EXPECT_EQ(screen->TargetStack()->Count(), 2);
  EXPECT_EQ(r->Current.get(), target->Surface.get());
  // Popping past the bottom stays at the back buffer with offset (0, 0).
  for (int i = 0; i < 3; ++i) {
    screen->SetRenderTarget(nullptr);
    EXPECT_EQ(screen->TargetStack()->Count(), 1);
    EXPECT_EQ(r->Current.get(), back);
    EXPECT_EQ(screen->TargetOffset(), (TPoint{0, 0}));
    EXPECT_EQ(screen->Viewport().Rect, (TRect{0, 0, 640, 480}));
  }
  // Deep nesting unwinds in order.
  std::vector<TRef<TFakeTexture>> targets;
  for (int i = 0; i < 64; ++i) {
    targets.push_back(MakeRef<TFakeTexture>(MakeRef<TFakeSurface>(TSize{32 + i, 32})));
    screen->SetRenderTarget(targets.back().get(), i, -i);
  }
  EXPECT_EQ(screen->TargetStack()->Count(), 65);
  for (int i = 63; i >= 0; --i) {
    EXPECT_EQ(r->Current.get(), targets[std::size_t(i)]->Surface.get());
    EXPECT_EQ(screen->TargetOffset(), (TPoint{i, -i}));
    screen->SetRenderTarget(nullptr);
  }
  EXPECT_EQ(r->Current.get(), back);
  // A stray entry on the stack is an assertion, not a fault.
  screen->TargetStack()->Add(MakeRef<TRefObject>().Detach());
  EXPECT_THROW(screen->SetRenderTarget(nullptr), EAbort);
}

// ---- Batches ----------------------------------------------------------------------------

TEST_F(Dev3DApp, FullOneTextureBatchFlushesAndGoesOn) {
  OpenAndBegin();
  TRecRenderer* r = Rnd();
  TVertexBuffer* vb = screen->VertexBuffer();
  ASSERT_EQ(vb->Capacity(), 32);
  auto tex = MakeRef<TFakeScreenTexture>(screen.get(), 64, 16);  // extents 64 and 32
  tex->PointSampling = true;
  TScreenTexture* one[] = {tex.get()};
  const TPoint2F uv[1] = {{32, 16}};
  vb->Begin(one, 1);
  for (int i = 0; i < 33; ++i)
    vb->AddTriangle({float(i), 0, 0}, {0, 1, 0}, {1, 1, 0}, uv, uv, uv, 0x80FFFFFFu, 2, 3, 1);
  ASSERT_EQ(r->Draws.size(), 1u);
  EXPECT_EQ(r->Draws[0].Vertices.size(), 96u);
  EXPECT_EQ(vb->Count(), 1);
  vb->Flush();
  ASSERT_EQ(r->Draws.size(), 2u);
  ASSERT_EQ(r->Draws[1].Vertices.size(), 3u);
  EXPECT_EQ(r->Draws[1].Vertices[0].X, 32);  // the 33rd triangle
  const T3DVertex& v = r->Draws[0].Vertices[0];
  EXPECT_FLOAT_EQ(v.Tex[0].U, 0.5f);
  EXPECT_FLOAT_EQ(v.Tex[0].V, 0.5f);
  EXPECT_EQ(v.Diffuse, 0x80FFFFFFu);
  EXPECT_EQ(r->Draws[0].Flags, dfTextured | dfModulateAlpha);
  EXPECT_EQ(r->Draws[0].Textures, (std::vector<TBaseTexture*>{tex->Device.get()}));
  EXPECT_EQ(tex->Device->U, taClamp);
  EXPECT_EQ(tex->Device->Filter, tfPoint);
  EXPECT_EQ(vb->Count(), 0);
  EXPECT_TRUE(vb->Vertices().empty());
  vb->Flush();  // an empty batch draws nothing
  EXPECT_EQ(r->Draws.size(), 2u);

  // Two textures: a full batch is an assertion.
  auto tex2 = MakeRef<TFakeScreenTexture>(screen.get(), 32, 32);
  TScreenTexture* two[] = {tex.get(), tex2.get()};
  const TPoint2F uv2[2] = {{0, 0}, {0, 0}};
  vb->Begin(two, 2);
  for (int i = 0; i < 32; ++i) vb->AddTriangle({}, {}, {}, uv2, uv2, uv2, 0, 0, 0, 2);
  EXPECT_THROW(vb->AddTriangle({}, {}, {}, uv2, uv2, uv2, 0, 0, 0, 2), EAbort);
  vb->Flush();
  EXPECT_EQ(r->Draws.back().Flags, dfTextured);
  EXPECT_EQ(r->Draws.back().Vertices.size(), 96u);
}

TEST_F(Dev3DApp, BatchRulesAndDrawFlags) {
  OpenAndBegin();
  TRecRenderer* r = Rnd();
  TVertexBuffer* vb = screen->VertexBuffer();
  auto tex = MakeRef<TFakeScreenTexture>(screen.get(), 32, 32);
  TScreenTexture* one[] = {tex.get()};
  const TPoint2F uv[1] = {{0, 0}};
  const TPoint2F uv2[2] = {};
  EXPECT_THROW(vb->Begin(one, 2), EAbort);  // fewer textures than stages
  vb->Begin(one, 1);
  EXPECT_THROW(vb->AddTriangle({}, {}, {}, uv2, uv2, uv2, 0, 0, 0, 2), EAbort);  // more stages than textures
  EXPECT_THROW(vb->AddTriangle({}, {}, {}, uv, uv, {}, 0, 0, 0, 1), EAbort);     // a list of the wrong length
  tex->Premultiplied = true;
  vb->AddTriangle({}, {}, {}, uv, uv, uv, 0x80FF4020u, 0x00FFFFFFu, 0xFFFFFFFFu, 1);
  vb->Flush();
  ASSERT_EQ(r->Draws.size(), 1u);
  EXPECT_EQ(r->Draws[0].Vertices[0].Diffuse, 0x80802010u);
  EXPECT_EQ(r->Draws[0].Vertices[1].Diffuse, 0x00000000u);
  EXPECT_EQ(r->Draws[0].Flags, dfTextured | dfModulateColor | dfModulateAlpha);
  // A texture that yields no device texture leaves its stage empty.
  tex->Premultiplied = false;
  tex->CanRealize = false;
  tex->ReleaseDeviceObjects();
  vb->Begin(one, 1);
  vb->AddTriangle({}, {}, {}, uv, uv, uv, 0, 0, 0, 1);
  vb->Flush();
  EXPECT_EQ(r->Draws.back().Textures, (std::vector<TBaseTexture*>{nullptr}));
  EXPECT_EQ(r->Draws.back().Flags, dfTextured | dfModulateAlpha);
  // Colour fills: no texture, flag 6; triangles (P1, P2, P3) and (P2, P4, P3).
  screen->FillColourQuad({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, 1, 2, 3, 4);
  const TDrawCall& fill = r->Draws.back();
  EXPECT_EQ(fill.Flags, dfModulateColor | dfModulateAlpha);
  ASSERT_EQ(fill.Vertices.size(), 6u);
  const std::uint32_t colours[] = {1, 2, 3, 2, 4, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(fill.Vertices[std::size_t(i)].Diffuse, colours[i]);
  // Triangles added while the screen cannot draw are dropped; the flush
  // still empties the batch.
  vb->Begin(one, 1);
  Rnd()->SetState(rsCreationPending);
  vb->AddTriangle({}, {}, {}, uv, uv, uv, 0, 0, 0, 1);
  EXPECT_EQ(vb->Count(), 0);
  const std::size_t draws = r->Draws.size();
  vb->Flush();
  EXPECT_EQ(r->Draws.size(), draws);
  EXPECT_EQ(vb->TextureCount(), 0);
  // Reserve: absurd sizes are refused, smaller ones only lower the limit.
  Rnd()->SetState(rsReady);
  vb->Reserve(0, 2);
  vb->Reserve(-5, 2);
  vb->Reserve(std::numeric_limits<std::int32_t>::max(), 2);
  EXPECT_EQ(vb->Capacity(), 32);
  vb->Reserve(8, 2);
  EXPECT_EQ(vb->Capacity(), 32);
  EXPECT_EQ(vb->Limit(), 8);
  vb->Reserve(64, 3);
  EXPECT_EQ(vb->Capacity(), 64);
  EXPECT_EQ(vb->TexCoordSets(), 3);
  EXPECT_TRUE(Rnd()->Called("CreateVertexList 192 1 3"));
}

TEST_F(Dev3DApp, TexturedQuadCornersAndModulation) {
  OpenAndBegin();
  TRecRenderer* r = Rnd();
  auto tex = MakeRef<TFakeScreenTexture>(screen.get(), 100, 100);  // extent 128
  tex->Alpha = 0x40;
  screen->DrawTexture(tex.get(), {10, 20, 0}, {5, 5}, {2, 0, 0}, {0, 3, 0}, {5, 5, 69, 37});
  ASSERT_EQ(r->Draws.size(), 1u);
  const TDrawCall& d = r->Draws[0];
  ASSERT_EQ(d.Vertices.size(), 6u);
  EXPECT_EQ(d.Flags, dfTextured | dfModulateColor | dfModulateAlpha);  // modulated while drawing
  EXPECT_FALSE(screen->VertexBuffer()->ModulateColour);
  // A = (x0, y1), B = (x0, y0), C = (x1, y1), D = (x1, y0); triangles (A, B, C) and (C, B, D).
  const float ax = 10, ay = 20 + 32 * 3, cx = 10 + 64 * 2;
  const float want[6][2] = {{ax, ay}, {10, 20}, {cx, ay}, {cx, ay}, {10, 20}, {cx, 20}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(d.Vertices[std::size_t(i)].X, want[i][0]) << i;
    EXPECT_EQ(d.Vertices[std::size_t(i)].Y, want[i][1]) << i;
    EXPECT_EQ(d.Vertices[std::size_t(i)].Diffuse, 0x40FFFFFFu);
  }
  EXPECT_FLOAT_EQ(d.Vertices[0].Tex[0].U, 5.0f / 128);
  EXPECT_FLOAT_EQ(d.Vertices[0].Tex[0].V, 37.0f / 128);
  tex->Alpha = 0;
  screen->DrawTexture(tex.get(), {}, {}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1, 1});
  EXPECT_EQ(r->Draws.size(), 1u);
  EXPECT_THROW(screen->DrawTexture(nullptr, {}, {}, {}, {}, {}), EAbort);
  // An assertion that ends a quad early still clears the modulation.
  TScreenTexture* one[] = {tex.get()};
  EXPECT_THROW(screen->DrawTexturedQuad(one, 1, {}, {}, {}, {}, {}, 0, 0, 0, 0), EAbort);
  EXPECT_FALSE(screen->VertexBuffer()->ModulateColour);
  EXPECT_THROW(screen->DrawTexturedQuad(one, 2, {}, {}, {}, {}, std::vector<TRectF>(2), 0, 0, 0, 0), EAbort);
  EXPECT_FALSE(screen->VertexBuffer()->ModulateColour);
}

// ---- The antialiased-edge quad -------------------------------------------------------------

TEST_F(Dev3DApp, EdgeMeshBandsOneUnitOutside) {
  OpenAndBegin();
  TEdgeMesh m;
  screen->BuildEdgeMesh({100, 100, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 100, 50}, 15, m);
  auto near = [](const TPoint3F& p, float x, float y) {
    return std::fabs(p.X - x) < 1e-3f && std::fabs(p.Y - y) < 1e-3f && std::fabs(p.Z) < 1e-3f;
  };
  EXPECT_TRUE(near(m.Pos[5], 100, 100));
  EXPECT_TRUE(near(m.Pos[10], 200, 150));
  EXPECT_TRUE(near(m.Pos[1], 100, 99));   // top band above
  EXPECT_TRUE(near(m.Pos[4], 99, 100));   // left band to the left
  EXPECT_TRUE(near(m.Pos[0], 99, 99));    // the outer corner
  EXPECT_TRUE(near(m.Pos[11], 201, 150));
  EXPECT_TRUE(near(m.Pos[14], 200, 151));
  EXPECT_TRUE(near(m.Pos[15], 201, 151));
  EXPECT_EQ(m.Tex[5], (TPoint2F{0, 0}));
  EXPECT_EQ(m.Tex[10], (TPoint2F{100, 50}));
  EXPECT_NEAR(m.Tex[0].X, -1, 1e-3);
  EXPECT_NEAR(m.Tex[15].Y, 51, 1e-3);
  // A bit left out: no band on that side.
  screen->BuildEdgeMesh({100, 100, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 100, 50}, ebTop, m);
  EXPECT_TRUE(near(m.Pos[4], 100, 100));
  EXPECT_TRUE(near(m.Pos[1], 100, 99));
  // Seen nearly edge-on (squashed to 0.05 pixels high): no band at all.
  screen->BuildEdgeMesh({100, 100, 0}, {0, 0}, {1, 0, 0}, {0, 0.001f, 0}, {0, 0, 100, 50}, 15, m);
  EXPECT_TRUE(near(m.Pos[1], m.Pos[5].X, m.Pos[5].Y));
  EXPECT_TRUE(near(m.Pos[0], m.Pos[5].X, m.Pos[5].Y));
  // Sheared so far that the right and top edges meet at about 11 degrees
  // (cosine 0.98): no band either.
  screen->BuildEdgeMesh({100, 100, 0}, {0, 0}, {1, 0, 0}, {1, 0.2f, 0}, {0, 0, 100, 50}, 15, m);
  EXPECT_TRUE(near(m.Pos[7], m.Pos[6].X, m.Pos[6].Y));
  // ... while a milder shear (cosine 0.89) keeps its bands.
  screen->BuildEdgeMesh({100, 100, 0}, {0, 0}, {1, 0, 0}, {1, 0.52f, 0}, {0, 0, 100, 50}, 15, m);
  EXPECT_FALSE(near(m.Pos[7], m.Pos[6].X, m.Pos[6].Y));
  // NaN input gives a mesh without bands, not a fault.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  screen->BuildEdgeMesh({nan, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 10, 10}, 15, m);
}

TEST_F(Dev3DApp, EdgeMeshDrawsTheCellsOfItsEdges) {
  OpenAndBegin();
  TRecRenderer* r = Rnd();
  TEdgeMesh m;
  screen->BuildEdgeMesh({100, 100, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 100, 50}, 15, m);
  const std::uint32_t c1 = 0x80112233u, c2 = 0xFF445566u, c3 = 0x10778899u, c4 = 0xC0AABBCCu;
  // Only the top edge: cells (1, 2, 6, 5) and (5, 6, 10, 9), each (a, b, d), (d, b, c).
  screen->DrawEdgeMesh({}, 0, m, c1, c2, c3, c4, ebTop);
  ASSERT_EQ(r->Draws.size(), 1u);
  const TDrawCall& top = r->Draws[0];
  const int order[] = {1, 2, 5, 5, 2, 6, 5, 6, 9, 9, 6, 10};
  ASSERT_EQ(top.Vertices.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    const T3DVertex& v = top.Vertices[std::size_t(i)];
    const TPoint3F& p = m.Pos[order[i]];
    EXPECT_TRUE(v.X == p.X && v.Y == p.Y) << i;
  }
  EXPECT_EQ(top.Vertices[0].Diffuse, c1 & 0x00FFFFFFu);  // band vertices fade out
  EXPECT_EQ(top.Vertices[1].Diffuse, c2 & 0x00FFFFFFu);
  EXPECT_EQ(top.Vertices[2].Diffuse, c1);  // the corners keep their alpha
  EXPECT_EQ(top.Vertices[11].Diffuse, c4);
  EXPECT_EQ(top.Flags, dfModulateColor | dfModulateAlpha);
  EXPECT_FALSE(screen->VertexBuffer()->ModulateColour);
  // No edge: the centre cell alone.
  screen->DrawEdgeMesh({}, 0, m, c1, c2, c3, c4, 0);
  EXPECT_EQ(r->Draws.back().Vertices.size(), 6u);
  // All four: nine cells, 18 triangles, and every vertex but the corners clear.
  screen->DrawEdgeMesh({}, 0, m, c1, c2, c3, c4, 15);
  const TDrawCall& all = r->Draws.back();
  ASSERT_EQ(all.Vertices.size(), 54u);
  for (const T3DVertex& v : all.Vertices) {
    const bool corner = (v.X == 100 || v.X == 200) && (v.Y == 100 || v.Y == 150);
    EXPECT_EQ(v.Diffuse >> 24 != 0, corner);
  }
  // Three planes of a video frame: chroma coordinates at half scale.
  auto y = MakeRef<TFakeScreenTexture>(screen.get(), 128, 128);
  TScreenTexture* planes[] = {y.get(), y.get(), y.get()};
  screen->DrawEdgeMesh(planes, 3, m, c1, c2, c3, c4, 0);
  const T3DVertex& v = r->Draws.back().Vertices[0];  // vertex 9: (0, 50)
  EXPECT_FLOAT_EQ(v.Tex[0].V, 50.0f / 128);
  EXPECT_FLOAT_EQ(v.Tex[1].V, 25.0f / 128);
  // Other modes are assertions; the batch is closed either way.
  EXPECT_THROW(screen->DrawEdgeMesh(planes, 2, m, c1, c2, c3, c4, 0), EAbort);
  EXPECT_FALSE(screen->VertexBuffer()->ModulateColour);
  EXPECT_EQ(screen->VertexBuffer()->Count(), 0);
}

// ---- Free routines ------------------------------------------------------------------------

TEST(Dev3DAppRoutines, ColourExtentAndPlaneSide) {
  EXPECT_EQ(PremultiplyColour(0xFFABCDEFu), 0xFFABCDEFu);
  EXPECT_EQ(PremultiplyColour(0x00ABCDEFu), 0x00000000u);
  EXPECT_EQ(PremultiplyColour(0x7FFF0102u), 0x7F7F0000u);  // truncated
  EXPECT_EQ(TextureExtent(0).Extent, 0);
  EXPECT_EQ(TextureExtent(-3).Reciprocal, 0);
  EXPECT_EQ(TextureExtent(1).Extent, 32);
  EXPECT_EQ(TextureExtent(33).Extent, 64);
  EXPECT_EQ(TextureExtent(1024).Extent, 1024);
  EXPECT_DOUBLE_EQ(TextureExtent(1025).Reciprocal, 1.0 / 2048);
  EXPECT_EQ(TextureExtent(std::numeric_limits<std::int32_t>::max()).Extent, 0);
  // AxisX right, AxisY down: the normal points into the screen, the camera
  // in front lies on the side away from it.
  EXPECT_TRUE(IsPlaneFacingAway({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -10}));
  EXPECT_FALSE(IsPlaneFacingAway({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 10}));
  EXPECT_FALSE(IsPlaneFacingAway({0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, -10}));  // no plane
  try {
    ProjectToScreenPlane({0, 0, 0}, {1, 1, 1});
    ADD_FAILURE();
  } catch (const EAbort& e) {
    EXPECT_NE(std::string(e.what()).find("'  Camera.Z = 0  '"), std::string::npos);
  }
  EXPECT_THROW(CameraRayToPlane({0, 0, 0}, {0, 0}, {}, {0, 0, 1}), EAbort);
  // A point at the camera's depth, and a ray along the plane: finite, huge.
  const TPoint2F far = ProjectToScreenPlane({0, 0, -10}, {1, 0, -10});
  EXPECT_TRUE(std::isfinite(far.X));
  const TPoint3F along = CameraRayToPlane({0, 0, -10}, {1, 0}, {0, 5, 0}, {0, 1, 0});
  EXPECT_TRUE(std::isfinite(along.X));
}
