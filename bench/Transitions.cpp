// Transition frames at 1920x1080 through the 3D drawer on the software
// device: the cross-fade, a mosaic and a soft circle wipe half-way, each
// frame drawing the outgoing slide, rendering the incoming one into a
// picture and painting the filter's triangles, on one, two and all worker
// threads. Beside them the same transitions in FFmpeg's xfade filter
// (fade and circleopen) on two 1080p planar RGB sources kept in /dev/shm,
// when an ffmpeg program is on the path: one iteration is one ffmpeg run,
// its time per frame taken from ffmpeg's own -benchmark report.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "bench/DrawerStage.h"
#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/3DEngine/OruShaders.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "ZmLib/3DBasics/Dev3D9.h"
#include "ZmLib/3DBasics/Dev3D9Renderer.h"
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
  explicit TFn(std::function<void(TDeviceDrawer&)> fn) : fn_(std::move(fn)) {}
  void Draw(TDeviceDrawer& d) override { fn_(d); }

private:
  std::function<void(TDeviceDrawer&)> fn_;
};

TRef<TImage> NoisePicture(std::uint32_t seed) {
  TRef<TSysBitmap> b = CreateSysBitmap(kW, kH, pfA8R8G8B8);
  std::mt19937 rng(seed);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const std::uint32_t p = rng() | 0xFF000000u;
      std::memcpy(b->ScanLine(y) + 4 * x, &p, 4);
    }
  TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"bench", TImageLoadHandler{}, false, b.get());
  return MakeRef<TImage>(store.get());
}

// The drawer on a headless form whose client area is 1920 x 1080, with two
// full-screen slides.
struct TSetup : TDrawerStage {
  TRef<TImage> pictures[2];
  TRef<TFn> slides[2];

  TSetup() : TDrawerStage(kW, kH) {
    oru::CreateEffectFilterHook = &oru::CreateDrawerEffectFilter;
    for (int i = 0; i < 2; ++i) {
      pictures[i] = NoisePicture(std::uint32_t(i + 1));
      drawer->PrepareImage(pictures[i].get(), TImageDrawParams{});
      TImage* pic = pictures[i].get();
      slides[i] =
          MakeRef<TFn>([pic](TDeviceDrawer& d) { d.DrawImage(pic, {0, 0}, TImageDrawParams{}, {1, 0}, {0, 1}); });
    }
  }
  ~TSetup() {
    for (auto& s : slides) s = nullptr;
    for (auto& p : pictures) p = nullptr;
  }
};

TSetup& Setup() {
  static TSetup s;
  return s;
}

enum TKind { kFade = 0, kMosaic = 1, kCircle = 2 };

TRef<oru::TTransitionDef> Definition(int kind) {
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  switch (kind) {
    case kFade: d->Kind = 1; d->Flags = {1}; break;
    case kMosaic:
      // 32 x 18 blocks of 60 pixels, a spread of 50.
      d->Kind = 6;
      d->Flags = {1};
      d->Ints = {32, 18, 50, 1234};
      break;
    default:
      // A circle from the centre with an edge of a tenth of the width.
      d->Kind = 3;
      d->Flags = {0, 0, 1, 0, 0};
      d->Ints = {50, 50};
      d->Smoothline = 0.1;
      break;
  }
  return d;
}

// Arg 0: the transition (0 fade, 1 mosaic, 2 soft circle); arg 1: threads
// (0: all processors). Half-way through the transition. The circle is
// skipped while no circle filter is registered (the factory would measure
// its cross-fade stand-in).
void BM_TransitionFrame(benchmark::State& state) {
  TSetup& s = Setup();
  auto& workers = plat::gfx::GfxWorkers::Instance();
  const std::uint32_t saved = workers.ThreadCount();
  const auto threads = static_cast<std::uint32_t>(state.range(1));
  workers.SetThreadCount(threads == 0 ? std::thread::hardware_concurrency() : threads);
  TRef<oru::TTransitionDef> def = Definition(static_cast<int>(state.range(0)));
  TRef<oru::TOruFilter> params = MakeRef<oru::TOruFilter>();
  params->Effect = def;
  params->Progress = 0.5f;
  TRef<TFn> frame = MakeRef<TFn>([&](TDeviceDrawer& d) {
    d.Clear(TColor32::FromValue(0xFF000000u), false);
    static_cast<oru::T3DDrawer&>(d).DrawTransition(s.slides[0].get(), s.slides[1].get(), params.get());
  });
  if (!s.drawer->Draw(frame.get())) state.SkipWithError("frame not drawn");
  if (state.range(0) == kCircle && (!params->Filter || params->Filter->IsAlpha))
    state.SkipWithError("no circle filter registered");
  for (auto _ : state)
    if (!s.drawer->Draw(frame.get())) state.SkipWithError("frame not drawn");
  state.counters["threads"] = workers.ThreadCount();
  workers.SetThreadCount(saved);
}

BENCHMARK(BM_TransitionFrame)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{kFade, kMosaic, kCircle}, {1, 2, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- FFmpeg xfade on the same machine ------------------------------------------------------------------

constexpr int kFfmpegFrames = 60;

bool HaveFfmpeg() {
  static const bool have = std::system("ffmpeg -hide_banner -version > /dev/null 2>&1") == 0;
  return have;
}

// Two one-second 60 fps planar RGB sources in /dev/shm, made once.
bool Sources() {
  static const bool made = [] {
    const char* cmds[] = {
        "test -s /dev/shm/zm_xfade_a.raw || ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
        "\"testsrc2=s=1920x1080:r=60:d=1,format=gbrp\" -f rawvideo /dev/shm/zm_xfade_a.raw",
        "test -s /dev/shm/zm_xfade_b.raw || ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
        "\"mandelbrot=s=1920x1080:r=60,trim=duration=1,format=gbrp\" -f rawvideo /dev/shm/zm_xfade_b.raw",
    };
    for (const char* c : cmds)
      if (std::system(c) != 0) return false;
    return true;
  }();
  return made;
}

// rtime of ffmpeg's -benchmark line in File; negative when missing.
double ReadRtime(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  double rtime = -1;
  while (std::getline(in, line)) {
    const auto at = line.find("rtime=");
    if (at != std::string::npos) rtime = std::atof(line.c_str() + at + 6);
  }
  return rtime;
}

// Arg 0: 0 fade, 2 circleopen; arg 1: filter threads (0: all processors).
void BM_FfmpegXfade(benchmark::State& state) {
  if (!HaveFfmpeg() || !Sources()) {
    state.SkipWithError("ffmpeg not available");
    for (auto _ : state) {
    }
    return;
  }
  const unsigned threads = state.range(1) == 0 ? std::thread::hardware_concurrency() : unsigned(state.range(1));
  const char* transition = state.range(0) == kCircle ? "circleopen" : "fade";
  const std::string log = "/dev/shm/zm_xfade_bench.txt";
  std::ostringstream cmd;
  const std::string in = "-f rawvideo -pix_fmt gbrp -s 1920x1080 -r 60";
  cmd << "ffmpeg -hide_banner -nostats -benchmark " << in << " -i /dev/shm/zm_xfade_a.raw " << in
      << " -i /dev/shm/zm_xfade_b.raw -filter_complex_threads " << threads
      << " -filter_complex \"[0][1]xfade=transition=" << transition << ":duration=1:offset=0\" -f null - > " << log
      << " 2>&1";
  for (auto _ : state) {
    if (std::system(cmd.str().c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      break;
    }
    const double rtime = ReadRtime(log);
    if (rtime <= 0) {
      state.SkipWithError("no -benchmark figure");
      break;
    }
    state.SetIterationTime(rtime / kFfmpegFrames);  // per frame
  }
  state.counters["threads"] = threads;
}

BENCHMARK(BM_FfmpegXfade)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{kFade, kCircle}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
