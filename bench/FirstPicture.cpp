// A 24-megapixel JPEG on its way to the screen of a 1080p show: the level a
// 1920x1080 output needs (1 for 6000 x 4000 fitted to 1620 x 1080) decoded
// and made into the drawer's tiled texture; then the tiles alone, from a
// level decoded already; then the first frame drawing those tiles.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "bench/DrawerStage.h"
#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "ZmLib/Graphics/zmImage.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/StreamBytes.h"

namespace {

using namespace zm;

constexpr std::int32_t kW = 1920, kH = 1080, kPictureW = 6000, kPictureH = 4000;

// Smooth shapes and rings, so that the decoder has real work, as a photo.
const std::string& BigJpeg() {
  static const std::string bytes = [] {
    zmtest::TJpegOptions opts;
    opts.Width = kPictureW;
    opts.Height = kPictureH;
    opts.Quality = 88;
    opts.Pixel = [](int x, int y, std::uint8_t* c) {
      const double fx = x / double(kPictureW), fy = y / double(kPictureH);
      const double ring = 0.5 + 0.5 * std::cos(std::hypot(x - 2000.0, y - 1500.0) / 12.0);
      c[0] = std::uint8_t(std::clamp(int(60 + 140 * fx + 40 * ring), 0, 255));
      c[1] = std::uint8_t(std::clamp(int(110 + 90 * std::sin(fy * 7 + fx * 3)), 0, 255));
      c[2] = std::uint8_t(std::clamp(int(200 - 150 * fx * fy + 30 * ring), 0, 255));
    };
    return zmtest::WriteJpeg(opts);
  }();
  return bytes;
}

TDrawerStage& Stage() {
  static TDrawerStage s(kW, kH);
  return s;
}

TImageDrawParams Params() {
  TImageDrawParams p;
  const double fit = std::min(double(kW) / kPictureW, double(kH) / kPictureH);
  p.Level = MipLevelForSize({kPictureW, kPictureH}, std::int32_t(kPictureW * fit), std::int32_t(kPictureH * fit));
  return p;
}

TRef<TImage> LoadBig() {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(BigJpeg());
  TRef<TBitmapStore> store = LoadBitmapStore(s.get(), u"big.jpg", false, {});
  return store ? MakeRef<TImage>(store.get()) : nullptr;
}

// Decode of the level and its tiles, as the slide's preparation does.
void BM_PictureToTexture(benchmark::State& state) {
  TDrawerStage& stage = Stage();
  BigJpeg();
  const TImageDrawParams p = Params();
  for (auto _ : state) {
    TRef<TImage> image = LoadBig();
    if (!image) {
      state.SkipWithError("the JPEG did not load");
      return;
    }
    stage.drawer->PrepareImage(image.get(), p);
    state.PauseTiming();
    stage.drawer->ReleaseImageTextures(image.get());
    image = nullptr;
    state.ResumeTiming();
  }
  state.counters["level"] = p.Level;
}
BENCHMARK(BM_PictureToTexture)->Unit(benchmark::kMillisecond)->UseRealTime();

// The tiles alone (the tile textures come back from the drawer's free list).
void BM_LevelToTiles(benchmark::State& state) {
  TDrawerStage& stage = Stage();
  const TImageDrawParams p = Params();
  TRef<TImage> image = LoadBig();
  if (!image) {
    state.SkipWithError("the JPEG did not load");
    return;
  }
  image->Store()->GetMipLevel(p.Level, nullptr, nullptr);
  for (auto _ : state) {
    stage.drawer->PrepareImage(image.get(), p);
    state.PauseTiming();
    stage.drawer->ReleaseImageTextures(image.get());
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LevelToTiles)->Unit(benchmark::kMillisecond)->UseRealTime();

class TPictureItem : public TDrawItem {
public:
  TPictureItem(TImage* image, const TImageDrawParams& params) : image_(image), params_(params) {}
  void Draw(TDeviceDrawer& d) override {
    d.Clear(TColor32::FromValue(0xFF000000u), false);
    const float fit = std::min(float(kW) / kPictureW, float(kH) / kPictureH);
    const TFloatPoint origin{(kW - kPictureW * fit) / 2, (kH - kPictureH * fit) / 2};
    d.DrawImage(image_, origin, params_, {fit, 0}, {0, fit});
  }

private:
  TImage* image_;
  TImageDrawParams params_;
};

// The frame that shows the picture fitted to the window, tiles prepared.
void BM_FirstFrameDraw(benchmark::State& state) {
  TDrawerStage& stage = Stage();
  TImageDrawParams p = Params();
  p.Antialiased = true;
  TRef<TImage> image = LoadBig();
  if (!image) {
    state.SkipWithError("the JPEG did not load");
    return;
  }
  stage.drawer->PrepareImage(image.get(), p);
  TRef<TPictureItem> item = MakeRef<TPictureItem>(image.get(), p);
  for (auto _ : state) benchmark::DoNotOptimize(stage.drawer->Draw(item.get()));
  stage.drawer->ReleaseImageTextures(image.get());
}
BENCHMARK(BM_FirstFrameDraw)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
