// Renderers come and go on the engine's thread while the UI thread moves
// the device, and a device may go while its renderers go elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <mutex>
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

// A store tells its objects on the thread that let it go while their owners
// may be going on theirs: an owner that cuts its link while its lost event
// runs elsewhere waits for the call, which may still use the owner, and no
// call after the cut reaches it.
TEST(Dev3DThreads, OwnerGoingWaitsForItsLostEventUnderWay) {
  T3DLostNotifier device;
  TLostLink link;
  std::mutex m;
  std::condition_variable cv;
  bool inside = false, go = false, callEnded = false;
  int calls = 0;
  device.SetLostEvent(link.Event([&] {
    std::unique_lock<std::mutex> l(m);
    inside = true;
    ++calls;
    cv.notify_all();
    cv.wait(l, [&] { return go; });
    callEnded = true;  // the owner is still there
  }));
  std::thread lost([&] { device.DoLost(nullptr); });
  {
    std::unique_lock<std::mutex> l(m);
    cv.wait(l, [&] { return inside; });
  }
  std::atomic<bool> cutting{false}, cut{false};
  bool endedAtCut = false;
  std::thread owner([&] {
    cutting = true;
    link.Cut();
    std::lock_guard<std::mutex> g(m);
    endedAtCut = callEnded;
    cut = true;
  });
  while (!cutting) std::this_thread::yield();
  // A cut that did not wait would be through by now; this one cannot be.
  for (int i = 0; i < 20 && !cut; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(cut.load());
  {
    std::lock_guard<std::mutex> g(m);
    go = true;
  }
  cv.notify_all();
  lost.join();
  owner.join();
  EXPECT_TRUE(endedAtCut);
  device.DoLost(nullptr);
  EXPECT_EQ(calls, 1);
}
