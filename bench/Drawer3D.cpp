// Whole frames of the 3D drawer at 1920x1080 on the software device: a
// full-screen picture at 70 % opacity, and the same picture blurred through
// one separable pass pair (a blur of 2 pixels: strength 0, the smallest
// plan), on one worker thread and on all of them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>

#include "bench/DrawerStage.h"
#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/3DEngine/OruShaders.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmAppModules.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmImage.h"

namespace {

using namespace zm;

constexpr std::int32_t kW = 1920, kH = 1080;

class TFn : public TDrawItem {
public:
  TFn(std::function<void(TDeviceDrawer&)> fn, float radius) : fn_(std::move(fn)), radius_(radius) {}
  float GetBlurRadius() override { return radius_; }
  void Draw(TDeviceDrawer& d) override { fn_(d); }

private:
  std::function<void(TDeviceDrawer&)> fn_;
  float radius_;
};

// The drawer on a headless form whose client area is 1920 x 1080.
struct TSetup : TDrawerStage {
  TRef<TImage> picture;

  TSetup() : TDrawerStage(kW, kH) {
    TRef<TSysBitmap> b = CreateSysBitmap(kW, kH, pfA8R8G8B8);
    std::mt19937 rng(1);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const std::uint32_t p = rng() | 0xFF000000u;
        std::memcpy(b->ScanLine(y) + 4 * x, &p, 4);
      }
    TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"bench", TImageLoadHandler{}, false, b.get());
    picture = MakeRef<TImage>(store.get());
    drawer->PrepareImage(picture.get(), TImageDrawParams{});
  }
  ~TSetup() {
    picture = nullptr;
  }
};

TSetup& Setup() {
  static TSetup s;
  return s;
}

// Arg 0: threads (0: all processors); arg 1: 1 to blur the picture.
void BM_DrawerFrame(benchmark::State& state) {
  TSetup& s = Setup();
  auto& workers = plat::gfx::GfxWorkers::Instance();
  const std::uint32_t saved = workers.ThreadCount();
  const auto threads = static_cast<std::uint32_t>(state.range(0));
  workers.SetThreadCount(threads == 0 ? std::thread::hardware_concurrency() : threads);
  TImageDrawParams p;
  p.Opacity = 70;
  TRef<TFn> image = MakeRef<TFn>(
      [&](TDeviceDrawer& d) { d.DrawImage(s.picture.get(), {0, 0}, p, {1, 0}, {0, 1}); },
      state.range(1) ? 2000.0f : 0.0f);
  TRef<TFn> frame = MakeRef<TFn>(
      [&](TDeviceDrawer& d) {
        d.Clear(TColor32::FromValue(0xFF336699u), false);
        d.Draw(image.get());
      },
      0);
  for (auto _ : state)
    if (!s.drawer->Draw(frame.get())) state.SkipWithError("frame not drawn");
  workers.SetThreadCount(saved);
}

BENCHMARK(BM_DrawerFrame)
    ->ArgNames({"threads", "blur"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
