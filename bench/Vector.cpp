// Vector filling, affine drawing and the fixed-point resize, in megapixels
// (of the 1920 x 1080 destination) per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "ZmLib/Graphics/SysBilinearDrawer.h"
#include "ZmLib/Graphics/zmAffineDraw.h"
#include "ZmLib/Graphics/zmFixedPointResize.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/VectorGraphics/zmRasterizerUtils.h"
#include "ZmLib/VectorGraphics/zmSvgUtils.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "ZmLib/zmModules.h"

using namespace zm;

namespace {

constexpr std::int32_t kW = 1920, kH = 1080;
constexpr std::int32_t kPicW = 4000, kPicH = 3000;  // 12 megapixels

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), GraphicsModules(), VectorModules()}));
  return modules;
}

TRef<TSysBitmap> Picture(const char* format) {
  TRef<TSysBitmap> b = CreateSysBitmap(kPicW, kPicH, PixelFormatByName(TByteString(format)));
  std::uint32_t v = 3;
  for (std::int32_t y = 0; y < kPicH; ++y) {
    std::uint8_t* row = b->ScanLine(y);
    for (std::int32_t i = 0; i < kPicW * b->BytesPerPixel(); ++i) {
      v = v * 1664525u + 1013904223u;
      row[i] = std::uint8_t(v >> 24);
    }
  }
  return b;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(double(kW) * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// A 40-point polygon with slanted sides over the whole frame, half
// transparent so that every pixel is blended.
void BM_FillPolygonPath(benchmark::State& state) {
  Modules();
  TPathPoints path;
  const int n = 40;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * 3.14159265358979 * i / n;
    const double r = i % 2 ? 1.15 : 1.0;
    AddPathPoint(path, float(kW / 2 + r * kW * 0.6 * std::cos(a)), float(kH / 2 + r * kH * 0.6 * std::sin(a)),
                 i == 0 ? pcMove : pcLine);
  }
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->Color = TColor32{40, 80, 160, 200};
  h->BeginPaint(kW, kH, TColor32{0, 0, 0, 255});
  for (auto _ : state) h->AddPath(path, false);
  h->EndPaint();
  SetRate(state);
}
BENCHMARK(BM_FillPolygonPath)->Unit(benchmark::kMillisecond);

// The 12-megapixel picture scaled by 0.48 and turned 3 degrees, filling the frame.
TDrawerMatrix FrameMatrix() {
  const float s = 0.48f, a = 3 * 3.14159265f / 180;
  return {{-60, -40, s * std::cos(a), s * std::sin(a), -s * std::sin(a), s * std::cos(a)}};
}

// Cells of 8 x 8 (as the thumbnails use) and of 64 x 8.
void BM_BilinearDrawer(benchmark::State& state, const char* format) {
  Modules();
  TRef<TSysBitmap> pic = Picture(format);
  TRef<TSysBitmap> dst = CreateSysBitmap(kW, kH, PixelFormatByName(TByteString(PF_R8G8B8)));
  TRef<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(std::int32_t(state.range(0)), 8);
  d->SetSource(pic.get(), false);
  for (auto _ : state) {
    d->SetTransform({0, 0, kW, kH}, FrameMatrix());
    d->Draw(dst.get());
  }
  SetRate(state);
}
BENCHMARK_CAPTURE(BM_BilinearDrawer, R8G8B8, PF_R8G8B8)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BilinearDrawer, A8R8G8B8, PF_A8R8G8B8)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_AffineDrawBilinear(benchmark::State& state) {
  Modules();
  TRef<TSysBitmap> pic = Picture(PF_R8G8B8);
  TRef<TSysBitmap> dst = CreateSysBitmap(kW, kH, PixelFormatByName(TByteString(PF_R8G8B8)));
  const TDrawerMatrix m = FrameMatrix();
  auto at = [&m](float x, float y) { return TFloatPoint{m.M[0] + m.M[2] * x + m.M[4] * y, m.M[1] + m.M[3] * x + m.M[5] * y}; };
  TAffineFrame f;
  InitAffineFrame(f, kPicW, kPicH, at(0, 0), at(kPicW, 0), at(0, kPicH));
  for (auto _ : state) AffineDrawBilinear(f, dst.get(), pic.get(), 255, {0, 0, kW, kH}, false);
  SetRate(state);
}
BENCHMARK(BM_AffineDrawBilinear)->Unit(benchmark::kMillisecond);

void BM_FixedPointResize(benchmark::State& state, bool alpha) {
  Modules();
  TRef<TSysBitmap> pic = Picture(alpha ? PF_A8R8G8B8 : PF_R8G8B8);
  TRef<TSysBitmap> dst = CreateSysBitmap(kW, kH, pic->PixelFormat());
  for (auto _ : state) {
    if (alpha) ResizeBitmapRect(dst.get(), pic.get(), {0, 0, kW, kH}, 0, {0, 0, kPicW, kPicH});
    else ResizeBitmapRect24(dst.get(), pic.get(), {0, 0, kW, kH}, {0, 0, kPicW, kPicH});
  }
  SetRate(state);
}
BENCHMARK_CAPTURE(BM_FixedPointResize, R8G8B8, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FixedPointResize, A8R8G8B8, true)->Unit(benchmark::kMillisecond);

}  // namespace
