// The 3D screen on a form's window through the real engine and the software
// device: frames drawn, presented and read back from the window, and a
// device lost in the middle of a frame.
#include <gtest/gtest.h>

#include "tests/support/FormDevice.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Graphics/SysBitmap.h"

namespace {

namespace gfx = plat::gfx;
using namespace zm;

// A 32 x 32 texture of four 16 x 16 blocks, made on the screen's renderer
// when first drawn and dropped when the device goes.
class TBlockTexture : public TScreenTexture {
public:
  static constexpr std::uint32_t kBlocks[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0x80FFFFFFu};
  explicit TBlockTexture(T3DScreen* screen) : TScreenTexture(screen, "TBlockTexture") {
    RecipWidth = RecipHeight = 1.0 / 32;
  }
  void Dispose() override {
    ReleaseDeviceObjects();
    TScreenTexture::Dispose();
  }
  void ReleaseDeviceObjects() override {
    if (TRef<T3DTexture> t = std::move(texture_)) {
      t->SetLostEvent(nullptr);
      ++Released;
    }
  }
  T3DTexture* Realize() override {
    if (texture_) return texture_.get();
    T3DScreen* s = Screen();
    if (!s || !s->CanDraw()) return nullptr;
    TRef<T3DTexture> t = s->Renderer()->CreateTexture(tkColorAlpha, 32, 32, false);
    if (!t) return nullptr;
    TRef<T3DSurface> level = t->GetSurface(0);
    if (!level) return nullptr;
    TRef<TSysBitmap> bits = level->Lock({0, 0, 32, 32}, false);
    if (!bits) return nullptr;
    for (std::int32_t y = 0; y < 32; ++y)
      for (std::int32_t x = 0; x < 32; ++x) bits->Row32(y)[x] = kBlocks[(y / 16) * 2 + x / 16];
    level->Unlock(bits);
    t->SetLostEvent([this](TRefObject*) { ReleaseDeviceObjects(); });
    texture_ = std::move(t);
    ++Made;
    return texture_.get();
  }
  T3DTexture* Current() const { return texture_.get(); }
  int Made = 0, Released = 0;

private:
  TRef<T3DTexture> texture_;
};

class ScreenOnDevice : public zmtest::TScreenOnDevice {
protected:
  ScreenOnDevice() : TScreenOnDevice(140, 120, false) {}
  void SetUp() override {
    savedConfig_ = gfx::CurrentConfig();
    TScreenOnDevice::SetUp();
  }
  void TearDown() override {
    TScreenOnDevice::TearDown();
    gfx::SetCurrentConfig(savedConfig_);
  }

  T3DRenderer9* Renderer() const { return dynamic_cast<T3DRenderer9*>(screen->Renderer()); }
  gfx::Device* Dev() const { return Renderer() ? Renderer()->D3DDevice() : nullptr; }

  // One frame: clear, the texture's 32 x 32 pixels drawn at (X0, Y0) with
  // Alpha, ended and presented. The pixel centres are at integer
  // coordinates: the quad's corners sit half a pixel off.
  bool Frame(std::uint32_t clear, TBlockTexture* tex, std::uint8_t alpha, float x0, float y0) {
    screen->BeginFrame();
    if (!screen->CanDraw()) return false;
    screen->Clear(clear, false);
    tex->Alpha = alpha;
    screen->DrawTexture(tex, {x0 - 0.5f, y0 - 0.5f, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 32, 32});
    return screen->EndFrame(true);
  }

  std::vector<std::uint32_t> Capture(int& w, int& h) const {
    return plat::headless::CaptureClient(device->Window(), w, h);
  }

  gfx::SystemConfig savedConfig_;
};

// Source over destination with the draw's alpha, as the blend set-up does.
std::uint32_t Over(std::uint32_t src, std::uint8_t alpha, std::uint32_t dst) {
  const double a = ((src >> 24) / 255.0) * (alpha / 255.0);
  std::uint32_t out = 0xFF000000u;
  for (int shift : {16, 8, 0}) {
    const double c = ((src >> shift) & 0xFF) * a + ((dst >> shift) & 0xFF) * (1 - a);
    out |= std::uint32_t(std::lround(c)) << shift;
  }
  return out;
}

// Colour channels within Tolerance of each other (alpha is not compared:
// the window keeps whatever the back buffer's format leaves there).
bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift : {16, 8, 0})
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  return true;
}

// A 4 x 4 image sampled at the block centres of the quad at (X0, Y0) and
// from the cleared area around it.
void ExpectImage(const std::vector<std::uint32_t>& px, int w, int h, std::uint32_t clear, std::uint8_t alpha,
                 int x0, int y0) {
  constexpr int kTolerance = 2;  // rounding of the 8-bit blend
  ASSERT_GE(w, x0 + 40);
  ASSERT_GE(h, y0 + 40);
  for (int by = 0; by < 2; ++by)
    for (int bx = 0; bx < 2; ++bx)
      for (int dy : {4, 11})
        for (int dx : {4, 11}) {
          const int x = x0 + bx * 16 + dx, y = y0 + by * 16 + dy;
          const std::uint32_t want = Over(TBlockTexture::kBlocks[by * 2 + bx], alpha, clear);
          EXPECT_TRUE(Near(px[std::size_t(y) * std::size_t(w) + std::size_t(x)], want, kTolerance))
              << "at " << x << "," << y << std::hex << " got " << px[std::size_t(y) * w + x] << " want " << want;
        }
  // Just outside the quad's edges the clear colour is untouched.
  for (auto [x, y] : {std::pair{x0 - 1, y0 + 5}, {x0 + 32, y0 + 5}, {x0 + 5, y0 - 1}, {x0 + 5, y0 + 32}, {0, 0},
                      {w - 1, h - 1}})
    EXPECT_TRUE(Near(px[std::size_t(y) * std::size_t(w) + std::size_t(x)], clear, 0)) << "at " << x << "," << y;
}

TEST_F(ScreenOnDevice, FrameWithATexturedQuadReachesTheWindow) {
  ASSERT_EQ(Create3DEngineHook, &Create3DEngine9);
  screen->Open(device.get());
  ASSERT_TRUE(screen->CanDraw());
  ASSERT_NE(Renderer(), nullptr);
  EXPECT_FALSE(Renderer()->UsesSwapChain());  // a form presents through the device's own chain
  TRef<TBlockTexture> tex = MakeRef<TBlockTexture>(screen.get());
  const TRect client = device->Bounds();
  ASSERT_GE(client.Right - client.Left, 60);
  ASSERT_GE(client.Bottom - client.Top, 60);

  const std::uint32_t clear = 0xFF204060u;
  ASSERT_TRUE(Frame(clear, tex.get(), 160, 10, 12));
  int w = 0, h = 0;
  std::vector<std::uint32_t> px = Capture(w, h);
  EXPECT_EQ(w, client.Right - client.Left);
  EXPECT_EQ(h, client.Bottom - client.Top);
  ExpectImage(px, w, h, clear, 160, 10, 12);
  EXPECT_EQ(tex->Made, 1);

  // The next frame reuses the device objects and replaces the whole image.
  ASSERT_TRUE(Frame(0xFF000000u, tex.get(), 255, 20, 4));
  px = Capture(w, h);
  ExpectImage(px, w, h, 0xFF000000u, 255, 20, 4);
  EXPECT_EQ(tex->Made, 1);
  EXPECT_EQ(plat::headless::PresentCount(device->Window()), 2);
}

TEST_F(ScreenOnDevice, DeviceLostInTheMiddleOfAFrameDropsItAndTheNextFrameDrawsAgain) {
  screen->Open(device.get());
  ASSERT_TRUE(screen->CanDraw());
  TRef<TBlockTexture> tex = MakeRef<TBlockTexture>(screen.get());
  int closes = 0;
  screen->OnClose = [&](T3DScreen*) { ++closes; };
  const std::uint32_t clear = 0xFF102030u;
  ASSERT_TRUE(Frame(clear, tex.get(), 255, 8, 8));
  int w = 0, h = 0;
  const std::vector<std::uint32_t> before = Capture(w, h);
  const int presents = plat::headless::PresentCount(device->Window());
  TRef<T3DEngine9> engine = RefCast<T3DEngine9>(Get3DEngine());
  ASSERT_TRUE(engine);
  const std::size_t liveDevices = engine->D3D()->Debug().LiveDevices();

  // Lost after the clear: the draw finds it, the frame goes nowhere.
  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  screen->Clear(0xFFFFFFFFu, false);
  Dev()->Debug().LoseDevice(gfx::LossMode::EveryCall);
  screen->DrawTexture(tex.get(), {7.5f, 7.5f, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 32, 32});
  EXPECT_EQ(screen->Renderer(), nullptr);
  EXPECT_FALSE(screen->CanDraw());
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(screen->EndFrame(true));
  // Everything made on the lost device went with it.
  EXPECT_EQ(tex->Current(), nullptr);
  EXPECT_EQ(tex->Released, 1);
  EXPECT_EQ(screen->VertexBuffer()->List(), nullptr);
  EXPECT_EQ(screen->TargetStack()->Count(), 0);
  EXPECT_FALSE(FindDeviceObject<TDevStore>(device.get()));
  EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), liveDevices - 1);
  EXPECT_EQ(plat::headless::PresentCount(device->Window()), presents);
  std::vector<std::uint32_t> px = Capture(w, h);
  EXPECT_EQ(px, before);
  // Calls between the loss and the next frame are harmless.
  screen->Clear(0xFFFFFFFFu, false);
  screen->DrawTexture(tex.get(), {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 32, 32});

  // The next frame opens a new device and draws the same image again.
  ASSERT_TRUE(Frame(clear, tex.get(), 200, 8, 8));
  EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), liveDevices);
  EXPECT_EQ(tex->Made, 2);
  EXPECT_EQ(screen->VertexBuffer()->Capacity(), 32);
  px = Capture(w, h);
  ExpectImage(px, w, h, clear, 200, 8, 8);
}

TEST_F(ScreenOnDevice, LossFoundByAnyScreenCallClosesItSafely) {
  TRef<TBlockTexture> tex = MakeRef<TBlockTexture>(screen.get());
  int closes = 0;
  screen->OnClose = [&](T3DScreen*) { ++closes; };
  // The screen holds the renderer's only reference: the loss frees it in
  // the middle of the call that found it.
  TRef<T3DTexture> target;
  const std::function<void()> calls[] = {
      [&] { screen->Clear(0xFF000000u, false); },
      [&] { screen->FillRect(0xFF000000u, {1, 1, 5, 5}); },
      [&] { screen->SetViewport({0, 0, 20, 20}, 0, 1); },
      [&] { screen->SetProjection(0, 0, 20, 20, 40, 40); },
      [&] { screen->RestoreView(screen->SaveView()); },
      [&] { screen->FillColourQuad({0, 0, 0}, {9, 0, 0}, {0, 9, 0}, {9, 9, 0}, ~0u, ~0u, ~0u, ~0u); },
      [&] { screen->SetRenderTarget(target.get(), 2, 3); },
      [&] { screen->SetRenderTarget(nullptr); },
      [&] { screen->EndFrame(true); },
  };
  int round = 0;
  for (const auto& call : calls) {
    screen->Open(device.get());
    screen->BeginFrame();
    ASSERT_TRUE(screen->CanDraw()) << round;
    target = screen->Renderer()->CreateTexture(tkTarget, 16, 16, false);
    ASSERT_TRUE(target);
    Dev()->Debug().LoseDevice(gfx::LossMode::EveryCall);
    call();
    EXPECT_EQ(screen->Renderer(), nullptr) << round;
    EXPECT_EQ(closes, ++round);
    EXPECT_FALSE(screen->EndFrame(true));
  }
  // Lost between frames: the frame start finds it. (Open of the same
  // window does nothing; the frame start makes the renderer again.)
  screen->Open(device.get());
  EXPECT_FALSE(screen->CanDraw());
  screen->BeginFrame();
  ASSERT_TRUE(screen->EndFrame(false));
  Dev()->Debug().LoseDevice(gfx::LossMode::EveryCall);
  screen->BeginFrame();
  EXPECT_EQ(screen->Renderer(), nullptr);
  EXPECT_FALSE(screen->EndFrame(true));
  ASSERT_TRUE(Frame(0xFF000000u, tex.get(), 255, 4, 4));
  int w = 0, h = 0;
  std::vector<std::uint32_t> px = Capture(w, h);
  ExpectImage(px, w, h, 0xFF000000u, 255, 4, 4);
}

TEST_F(ScreenOnDevice, LossReportedAtPresentDropsTheScreenUntilTheNextFrame) {
  screen->Open(device.get());
  TRef<TBlockTexture> tex = MakeRef<TBlockTexture>(screen.get());
  TRef<T3DEngine9> engine = RefCast<T3DEngine9>(Get3DEngine());
  ASSERT_TRUE(engine);
  engine->D3D()->Debug().LoseAllDevices();  // the renderer's and the hidden one
  EXPECT_FALSE(Frame(0xFF000000u, tex.get(), 255, 4, 4));
  EXPECT_EQ(screen->Renderer(), nullptr);
  EXPECT_EQ(tex->Current(), nullptr);
  // Windowed: the next creation stays windowed whatever the hidden device says.
  TRef<TRectangleWrapper> record = FindDeviceObject<TRectangleWrapper>(device.get());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Flag, 1);
  engine->D3D()->Debug().AllowResetAll();
  EXPECT_TRUE(engine->CheckDevice());  // the hidden device is reset here
  ASSERT_TRUE(Frame(0xFF000000u, tex.get(), 255, 4, 4));
  int w = 0, h = 0;
  std::vector<std::uint32_t> px = Capture(w, h);
  ExpectImage(px, w, h, 0xFF000000u, 255, 4, 4);
}

}  // namespace

// A frame that finds a new size makes the device anew and draws nothing: what
// it was given was laid out for the surface before, and the device (made at
// once on this, the UI thread) would take it. The window keeps the last
// frame; the next frame draws at the new size.
TEST_F(ScreenOnDevice, FrameThatFindsANewSizeDrawsNothingAndTheNextDraws) {
  screen->Open(device.get());
  TRef<TBlockTexture> tex = MakeRef<TBlockTexture>(screen.get());
  const std::uint32_t clear = 0xFF304050u;
  ASSERT_TRUE(Frame(clear, tex.get(), 255, 6, 6));
  int w0 = 0, h0 = 0;
  const std::vector<std::uint32_t> before = Capture(w0, h0);
  const int presents = plat::headless::PresentCount(device->Window());

  const TRect b = form->Bounds();
  form->SetBounds({b.Left, b.Top, b.Right + 40, b.Bottom + 20});
  screen->BeginFrame();
  EXPECT_FALSE(screen->CanDraw());
  screen->Clear(0xFFFFFFFFu, false);
  screen->DrawTexture(tex.get(), {9.5f, 9.5f, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 32, 32});
  EXPECT_FALSE(screen->EndFrame(true));
  EXPECT_EQ(plat::headless::PresentCount(device->Window()), presents);
  int w = 0, h = 0;
  std::vector<std::uint32_t> px = Capture(w, h);
  ASSERT_GE(w, w0);
  ASSERT_GE(h, h0);
  for (int y = 0; y < h0; y += 3)
    for (int x = 0; x < w0; x += 3)
      ASSERT_EQ(px[std::size_t(y) * w + x] & 0xFFFFFF, before[std::size_t(y) * w0 + x] & 0xFFFFFF) << x << "," << y;

  // The screen is ready for the next frame, on the new surface.
  EXPECT_TRUE(screen->CanDraw());
  ASSERT_TRUE(Frame(clear, tex.get(), 255, 20, 10));
  px = Capture(w, h);
  const TRect client = device->Bounds();
  EXPECT_EQ(w, client.Right - client.Left);
  EXPECT_EQ(h, client.Bottom - client.Top);
  ExpectImage(px, w, h, clear, 255, 20, 10);
}

// A full-screen device is let go on the UI thread only once nothing holds
// it: closing the screen drops what was made on it first, so the device
// goes with the close, not at some later teardown (or never).
TEST_F(ScreenOnDevice, ClosingAFullScreenScreenLetsItsDeviceGoAtOnce) {
  const TRect b = device->Bounds();
  ASSERT_TRUE(device->SetBounds(b, {b.Left, b.Top}, true));
  screen->Open(device.get());
  ASSERT_TRUE(screen->FullScreen());
  TRef<TBlockTexture> tex = MakeRef<TBlockTexture>(screen.get());
  ASSERT_TRUE(Frame(0xFF102030u, tex.get(), 255, 4, 4));
  ASSERT_NE(tex->Current(), nullptr);
  TRef<T3DEngine9> engine = RefCast<T3DEngine9>(Get3DEngine());
  ASSERT_TRUE(engine);
  const std::size_t live = engine->D3D()->Debug().LiveDevices();
  ASSERT_GE(live, 1u);
  screen->Close();
  EXPECT_EQ(tex->Current(), nullptr);
  EXPECT_EQ(engine->D3D()->Debug().LiveDevices(), live - 1);
}
