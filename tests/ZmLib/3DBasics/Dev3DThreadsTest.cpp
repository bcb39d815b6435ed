// Renderers come and go on the engine's thread while the UI thread moves
// the device, and a device may go while its renderers go elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "ZmLib/3DBasics/Dev3D.h"
#include "tests/ZmLib/3DBasics/Dev3DDoubles.h"

using namespace zm;
using zmtest::TTestRenderer;

namespace {
HWND FakeWindow() { return reinterpret_cast<HWND>(std::uintptr_t(0x4321)); }

// A renderer that counts its disposal.
class TCountedRenderer : public TTestRenderer {
public:
  TCountedRenderer(TDrawDevice* device, int id, std::atomic<int>* gone) : TTestRenderer(device, id), gone_(gone) {}
  void Dispose() override {
    ++*gone_;
    TTestRenderer::Dispose();
  }

private:
  std::atomic<int>* gone_;
};
}  // namespace

TEST(Dev3DThreads, RenderersComeAndGoWhileBoundsChange) {
  TRef<TDrawDevice> d = MakeRef<TDrawDevice>(FakeWindow());
  TRef<TTestRenderer> steady = MakeRef<TTestRenderer>(d.get(), 0);
  constexpr int kRounds = 2000;
  std::latch start(2);
  std::thread engine([&] {
    start.arrive_and_wait();
    for (int i = 0; i < kRounds; ++i) {
      TRef<TTestRenderer> r = MakeRef<TTestRenderer>(d.get(), i + 1);
      EXPECT_EQ(r->Device(), d.get());
    }
  });
  start.arrive_and_wait();
  int changes = 0;
  for (int i = 0; i < kRounds; ++i) {
    if (d->SetBounds({0, 0, 100 + i % 7, 100}, {i % 3, 0}, false)) ++changes;
    (void)d->GetDeviceScreenRect();
  }
  engine.join();
  EXPECT_EQ(steady->Updates, changes);
  EXPECT_EQ(d->RendererCount(), 1);
}

TEST(Dev3DThreads, DeviceGoesWhileItsRenderersGo) {
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> renderersGone{0};
    int objectsGone = 0;
    TDrawDevice* d = new TDrawDevice(FakeWindow());
    d->AfterConstruction();
    const auto device = reinterpret_cast<std::uintptr_t>(d);
    d->Objects()->Add(MakeRef<zmtest::TDisposeCounter>(&objectsGone).Detach());
    std::vector<TCountedRenderer*> renderers;
    for (int i = 0; i < 8; ++i) {
      renderers.push_back(new TCountedRenderer(d, i, &renderersGone));
      renderers.back()->AfterConstruction();
    }
    TCountedRenderer* survivor = renderers.back();  // outlives the device
    renderers.pop_back();
    std::latch start(2);
    std::thread ui([&] {
      start.arrive_and_wait();
      d->Free();
    });
    start.arrive_and_wait();
    for (TCountedRenderer* r : renderers) {
      // Still bound, or already cut off: never a device half gone.
      const auto seen = reinterpret_cast<std::uintptr_t>(r->Device());
      EXPECT_TRUE(seen == device || seen == 0) << round;
      r->Free();
    }
    ui.join();
    EXPECT_EQ(objectsGone, 1);
    EXPECT_EQ(survivor->Device(), nullptr);
    survivor->Free();
    EXPECT_EQ(renderersGone.load(), 8);
  }
}
