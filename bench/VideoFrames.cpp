// Whole frames of the 3D drawer at 1920x1080 on the software device with a
// playing 1080p video: a full-screen slide picture, then the video image
// over it, converted from YUV through the volumes; the video's three planes
// are written every other frame (a 30 fps clip on a 60 Hz show). Device
// threads: ZM_GFX_THREADS when set, else 2. The load average is reported
// beside the time, since other work on the machine changes it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "OruLib2/3DEngine/D3DYUV.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmImage.h"
#include "bench/DrawerStage.h"

namespace {

using namespace zm;

constexpr std::int32_t kW = 1920, kH = 1080;

class TFn : public TDrawItem {
public:
  explicit TFn(std::function<void(TDeviceDrawer&)> fn) : fn_(std::move(fn)) {}
  void Draw(TDeviceDrawer& d) override { fn_(d); }

private:
  std::function<void(TDeviceDrawer&)> fn_;
};

struct TSetup : TDrawerStage {
  TRef<TImage> picture;
  TRef<TYUVImage> video;
  TRef<TSysBitmap> table;
  TRef<TCustomColorGradeTexture> volume, volume2;
  std::vector<std::uint8_t> planes[3];  // what a decoder would hand over

  TSetup() : TDrawerStage(kW, kH) {
    std::mt19937 rng(1);
    TRef<TSysBitmap> b = CreateSysBitmap(kW, kH, pfA8R8G8B8);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const std::uint32_t p = rng() | 0xFF000000u;
        std::memcpy(b->ScanLine(y) + 4 * x, &p, 4);
      }
    TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"bench", TImageLoadHandler{}, false, b.get());
    picture = MakeRef<TImage>(store.get());
    drawer->PrepareImage(picture.get(), TImageDrawParams{});
    table = CreateSysBitmap(kGradeCubeSize, kGradeCubeRows, pfA8R8G8B8);
    for (int row = 0; row < kGradeCubeRows; ++row)
      for (int x = 0; x < kGradeCubeSize; ++x)
        table->Row32(row)[x] = YuvGradeEntry(x, row % kGradeCubeSize, row / kGradeCubeSize);
    volume = MakeRef<TCustomColorGradeTexture>(drawer->Screen(), gkVolume);
    volume->SetSource(table.get(), false);
    volume2 = MakeRef<TCustomColorGradeTexture>(drawer->Screen(), gkVolume);
    volume2->SetSource(table.get(), false);
    video = drawer->CreateVideoImage(kW, kH, false);
    for (int i = 0; i < 3; ++i) {
      const std::size_t n = i == 0 ? std::size_t(kW) * kH : std::size_t(kW / 2) * (kH / 2);
      planes[i].resize(n);
      for (auto& v : planes[i]) v = std::uint8_t(16 + rng() % 220);
    }
  }
  ~TSetup() {
    video = nullptr;
    volume2 = nullptr;
    volume = nullptr;
    picture = nullptr;
  }

  bool WriteFrame() {
    for (int i = 0; i < 3; ++i) {
      TRef<TBitmap> plane = video->LockPlane(i);
      auto* bits = dynamic_cast<TSysBitmap*>(plane.get());
      if (!bits) return false;
      const int w = i == 0 ? kW : kW / 2, h = i == 0 ? kH : kH / 2;
      for (int y = 0; y < h; ++y) std::memcpy(bits->ScanLine(y), &planes[i][std::size_t(y) * w], std::size_t(w));
      if (!video->UnlockPlane(i, plane)) return false;
    }
    return true;
  }
};

double LoadAverage() {
  std::ifstream f("/proc/loadavg");
  double v = 0;
  f >> v;
  return v;
}

void BM_VideoFrame(benchmark::State& state) {
  static TSetup s;
  if (!s.video || !static_cast<oru::T3DYUV*>(s.video.get())->ThreePlanes()) {
    state.SkipWithError("no three-plane video image on this device");
    return;
  }
  auto& workers = plat::gfx::GfxWorkers::Instance();
  const std::uint32_t saved = workers.ThreadCount();
  if (!std::getenv("ZM_GFX_THREADS")) workers.SetThreadCount(2);
  TVideoDrawParams vp;
  vp.Image = s.video.get();
  vp.SourceRect = {0, 0, float(kW), float(kH)};
  vp.GradeTable1 = vp.GradeTable2 = s.volume.get();
  vp.Antialiased = true;
  TImageDrawParams pp;
  // Arg: 0 the whole frame, 1 without the video, 2 without the slide
  // picture, 3 without writing the planes, 4 the whole frame mixing two
  // distinct volumes halfway (no volume can be skipped).
  const std::int64_t part = state.range(0);
  if (part == 4) {
    vp.GradeTable2 = s.volume2.get();
    vp.GradeMix = 0.5f;
  }
  TRef<TFn> frame = MakeRef<TFn>([&](TDeviceDrawer& d) {
    d.Clear(TColor32::FromValue(0xFF000000u), false);
    if (part != 2) d.DrawImage(s.picture.get(), {0, 0}, pp, {1, 0}, {0, 1});
    if (part != 1) d.DrawVideoImage(vp, {0, 0}, {1, 0}, {0, 1});
  });
  std::int64_t n = 0;
  for (auto _ : state) {
    if (part != 3 && n++ % 2 == 0 && !s.WriteFrame()) state.SkipWithError("planes not written");
    if (!s.drawer->Draw(frame.get())) state.SkipWithError("frame not drawn");
  }
  state.counters["threads"] = double(workers.ThreadCount());
  state.counters["load"] = LoadAverage();
  workers.SetThreadCount(saved);
}

BENCHMARK(BM_VideoFrame)
    ->ArgName("part")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace
