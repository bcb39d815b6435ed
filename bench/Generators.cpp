// Picture generators' speed: resampling a 24-megapixel 8-bit mask to
// 1920 x 1080 with the default kernel (the B-spline the shadows blur with),
// and the soft shadow of a 1920 x 1080 picture with alpha. Resample rates in
// megapixels per second count the source pixels read; the shadow's count
// the picture's pixels.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmResample.h"
#include "ZmLib/Graphics/zmShadows.h"
#include "ZmLib/zmModules.h"

using namespace zm;

namespace {

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), GraphicsModules()}));
  return modules;
}

void MegapixelRate(benchmark::State& state, std::int64_t pixelsPerIteration) {
  state.counters["MP/s"] = benchmark::Counter(double(pixelsPerIteration) * double(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
}

// 6532 x 3674 is 24.0 megapixels in 16:9, so one scale (1920 / 6532) fits
// both directions.
constexpr std::int32_t kSrcW = 6532, kSrcH = 3674;

void BM_StretchToFullHd(benchmark::State& state) {
  Modules();
  const TResampleFilterInfo& f = ResampleFilters[state.range(0)];
  TRef<TSysBitmap> src = CreateSysBitmap(kSrcW, kSrcH, FindPixelFormat(PF_A8));
  for (std::int32_t y = 0; y < kSrcH; ++y) {
    std::uint8_t* row = src->ScanLine(y);
    for (std::int32_t x = 0; x < kSrcW; ++x) row[x] = std::uint8_t((x * 7) ^ (y * 3));
  }
  TRef<TSysBitmap> dst = CreateSysBitmap(1920, 1080, FindPixelFormat(PF_A8));
  for (auto _ : state) {
    Stretch(src.get(), dst.get(), f.Filter, nullptr, nullptr, {}, nullptr, 1920.0f / kSrcW, f.Support);
    benchmark::DoNotOptimize(dst->ScanLine(0)[0]);
  }
  state.SetLabel(f.Name);
  MegapixelRate(state, std::int64_t(kSrcW) * kSrcH);
}
BENCHMARK(BM_StretchToFullHd)->Arg(kDefaultResampleFilter)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond);

// A picture shadow: a 1920 x 1080 picture whose alpha is a rounded blob,
// margins of 40 and a blur of 12, contour "Gaussian". The picture is worked
// at 960 x 540 (one halving).
void BM_SoftShadowFullHd(benchmark::State& state) {
  Modules();
  TRef<TSysBitmap> pic = CreateSysBitmap(1920, 1080, FindPixelFormat(PF_A8R8G8B8));
  for (std::int32_t y = 0; y < 1080; ++y) {
    std::uint32_t* row = pic->Row32(y);
    for (std::int32_t x = 0; x < 1920; ++x) {
      const double dx = (x - 960) / 900.0, dy = (y - 540) / 500.0;
      row[x] = (dx * dx * dx * dx + dy * dy * dy * dy < 1 ? 0xFF000000u : 0u) | 0x336699u;
    }
  }
  TRef<TImage> image = SysBitmapToImage(pic.get(), false, u"pic.png");
  const TImageAccessor accessor = [&](const WideString&) { return image; };
  TShadowParams p;
  p.Name = u"pic.png";
  p.Right = 1920;
  p.Bottom = 1080;
  p.MarginX = p.MarginY = 40;
  p.Blur = float(state.range(0));
  p.Contour = 5;
  TRef<TShadowGenerator> g = MakeRef<TShadowGenerator>();
  for (auto _ : state) {
    TRef<TImage> shadow = g->MakeShadow(p, accessor);
    benchmark::DoNotOptimize(shadow.get());
  }
  MegapixelRate(state, 1920 * 1080);
}
BENCHMARK(BM_SoftShadowFullHd)->Arg(12)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace
