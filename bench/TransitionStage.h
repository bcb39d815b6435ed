#pragma once
// What the transition benchmarks share: the drawer at 1920x1080 with two
// full-screen slides drawn as a show draws a picture slide (a solid
// background about a noise picture with smoothed edges), one transition
// frame timed on a given number of worker threads as the show's root item
// draws it, and the own cost of FFmpeg's xfade filter on two 1080p planar
// RGB sources (below).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "bench/BenchFiles.h"
#include "bench/DrawerStage.h"
#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmImage.h"

namespace transition_bench {

constexpr std::int32_t kW = 1920, kH = 1080;

class TFn : public zm::TDrawItem {
public:
  explicit TFn(std::function<void(zm::TDeviceDrawer&)> fn) : fn_(std::move(fn)) {}
  void Draw(zm::TDeviceDrawer& d) override { fn_(d); }

private:
  std::function<void(zm::TDeviceDrawer&)> fn_;
};

// A photo-like picture without alpha (as a JPEG decodes): noise, so that no
// pass can skip work on repeated colours.
inline zm::TRef<zm::TImage> NoisePicture(std::uint32_t seed) {
  using namespace zm;
  TRef<TSysBitmap> b = CreateSysBitmap(kW, kH, pfR8G8B8);
  std::mt19937 rng(seed);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const std::uint32_t p = rng();
      std::memcpy(b->ScanLine(y) + 3 * x, &p, 3);
    }
  TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"bench", TImageLoadHandler{}, false, b.get());
  return MakeRef<TImage>(store.get());
}

// A slide as a show draws one: a solid background reaching well past the
// slide (drawn as the bands about its picture where the picture is opaque)
// and a full-screen picture with smoothed edges over it.
class TPictureSlide : public zm::TDrawItem {
public:
  explicit TPictureSlide(zm::TImage* picture) : picture_(picture) {}
  static zm::TImageDrawParams Params() {
    zm::TImageDrawParams p;
    p.Antialiased = true;
    p.SourceRect = {0, 0, float(kW), float(kH)};
    return p;
  }
  void Draw(zm::TDeviceDrawer& d) override {
    using namespace zm;
    const TImageDrawParams p = Params();
    const float l = -kW / 2.0f, t = -kH / 2.0f, r = 1.5f * kW, b = 1.5f * kH;
    const TColor32 black = TColor32::FromValue(0xFF000000u);
    TFloatRect hole;
    if (d.OpaqueImageRect(picture_, {0, 0}, p, {1, 0}, {0, 1}, hole) && hole.Right > hole.Left &&
        hole.Bottom > hole.Top) {
      const auto band = [&](float x0, float y0, float x1, float y1) {
        if (x1 > x0 && y1 > y0) d.FillQuad({x0, y0}, {x1, y0}, {x0, y1}, black);
      };
      band(l, t, r, hole.Top);
      band(l, hole.Bottom, r, b);
      band(l, hole.Top, hole.Left, hole.Bottom);
      band(hole.Right, hole.Top, r, hole.Bottom);
    } else {
      d.FillQuad({l, t}, {r, t}, {l, b}, black);
    }
    d.DrawImage(picture_, {0, 0}, p, {1, 0}, {0, 1});
  }
  bool CoversOpaque(const zm::TFloatRect& rect) override {
    return rect.Left > -kW / 2.0f && rect.Top > -kH / 2.0f && rect.Right < 1.5f * kW && rect.Bottom < 1.5f * kH;
  }

private:
  zm::TImage* picture_;
};

// The drawer on a headless form whose client area is 1920 x 1080, with two
// full-screen slides.
struct TSetup : TDrawerStage {
  zm::TRef<zm::TImage> pictures[2];
  zm::TRef<TPictureSlide> slides[2];

  TSetup() : TDrawerStage(kW, kH) {
    using namespace zm;
    oru::CreateEffectFilterHook = &oru::CreateDrawerEffectFilter;
    for (int i = 0; i < 2; ++i) {
      pictures[i] = NoisePicture(std::uint32_t(i + 1));
      drawer->PrepareImage(pictures[i].get(), TPictureSlide::Params());
      slides[i] = MakeRef<TPictureSlide>(pictures[i].get());
    }
  }
  ~TSetup() {
    for (auto& s : slides) s = nullptr;
    for (auto& p : pictures) p = nullptr;
  }
};

inline TSetup& Setup() {
  static TSetup s;
  return s;
}

// Times frames of def at progress on threads worker threads (0: all
// processors). isWanted tells whether the factory made the filter meant
// (not its cross-fade stand-in); the benchmark is skipped otherwise.
// afterFrame runs after each timed frame, as the engine's pass would.
inline void RunTransitionFrames(benchmark::State& state, zm::TRef<oru::TTransitionDef> def, float progress,
                                std::uint32_t threads, const std::function<bool(oru::TDrawFilter*)>& isWanted,
                                const std::function<void(oru::TOruFilter&)>& afterFrame = {}) {
  using namespace zm;
  TSetup& s = Setup();
  auto& workers = plat::gfx::GfxWorkers::Instance();
  const std::uint32_t saved = workers.ThreadCount();
  workers.SetThreadCount(threads == 0 ? std::thread::hardware_concurrency() : threads);
  TRef<oru::TOruFilter> params = MakeRef<oru::TOruFilter>();
  params->Effect = def;
  params->Progress = progress;
  // As the show's root item draws a frame: the transition, then the colour
  // outside the visible rectangle.
  TRef<TFn> frame = MakeRef<TFn>([&](TDeviceDrawer& d) {
    static_cast<oru::T3DDrawer&>(d).DrawTransition(s.slides[0].get(), s.slides[1].get(), params.get());
    d.FillOutsideVisible(0);
  });
  if (!s.drawer->Draw(frame.get())) state.SkipWithError("frame not drawn");
  if (isWanted && !isWanted(params->Filter.get())) state.SkipWithError("the transition's filter is not registered");
  for (auto _ : state) {
    if (!s.drawer->Draw(frame.get())) state.SkipWithError("frame not drawn");
    if (afterFrame) afterFrame(*params);
  }
  state.counters["threads"] = workers.ThreadCount();
  workers.SetThreadCount(saved);
}

// ---- FFmpeg xfade on the same machine ----------------------------------------------------------------
//
// The filter's own cost: one ffmpeg run with the transition minus the same
// run with a pass-through in its place, on one thread (or as many as asked)
// everywhere ffmpeg has threads. Both runs read one 1080p planar RGB picture
// per input once and repeat it for the second's 60 frames, so that reading
// and making the inputs, starting ffmpeg and writing to its null output cost
// the same in both and drop out.

constexpr int kFfmpegFrames = 60;

inline bool HaveFfmpeg() {
  static const bool have = std::system("ffmpeg -hide_banner -version > /dev/null 2>&1") == 0;
  return have;
}

// The run's files in memory (/dev/shm): the sources and ffmpeg's logs.
inline const zmbench::TBenchFolder& XfadeFolder() {
  static const zmbench::TBenchFolder folder(true);
  return folder;
}

// One frame of each source, made once.
inline bool Sources() {
  static const bool made = [] {
    const std::pair<const char*, const char*> sources[] = {{"a1.raw", "testsrc2"}, {"b1.raw", "mandelbrot"}};
    for (const auto& [file, source] : sources) {
      const std::string cmd = std::string("ffmpeg -hide_banner -loglevel error -y -f lavfi -i \"") + source +
                              "=s=1920x1080:r=60,format=gbrp\" -frames:v 1 -f rawvideo '" + XfadeFolder().File(file) +
                              "'";
      if (std::system(cmd.c_str()) != 0) return false;
    }
    return true;
  }();
  return made;
}

// rtime of ffmpeg's -benchmark line in file; negative when missing.
inline double ReadRtime(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  double rtime = -1;
  while (std::getline(in, line)) {
    const auto at = line.find("rtime=");
    if (at != std::string::npos) rtime = std::atof(line.c_str() + at + 6);
  }
  return rtime;
}

// Seconds of one ffmpeg run of the two repeated sources through Graph (fed
// [a] and [b]) on Threads threads; negative when it failed.
inline double RunFfmpegGraph(const std::string& graph, unsigned threads, const std::string& log) {
  std::ostringstream cmd;
  const std::string in = "-f rawvideo -pix_fmt gbrp -s 1920x1080 -r 60";
  const std::string loop = "loop=loop=" + std::to_string(kFfmpegFrames - 1) + ":size=1:start=0";
  cmd << "ffmpeg -hide_banner -nostats -benchmark -threads " << threads << " -filter_threads " << threads
      << " -filter_complex_threads " << threads << " " << in << " -i '" << XfadeFolder().File("a1.raw") << "' "
      << in << " -i '" << XfadeFolder().File("b1.raw") << "' -filter_complex \"[0]" << loop << "[a];[1]" << loop
      << "[b];" << graph << "\" -f null - > '" << log << "' 2>&1";
  if (std::system(cmd.str().c_str()) != 0) return -1;
  return ReadRtime(log);
}

// One xfade transition on threads threads (0: all processors); the
// iteration time is the filter's own time per frame.
inline void RunFfmpegXfade(benchmark::State& state, const std::string& transition, unsigned threads) {
  if (!HaveFfmpeg() || !Sources()) {
    state.SkipWithError("ffmpeg not available");
    for (auto _ : state) {
    }
    return;
  }
  if (threads == 0) threads = std::thread::hardware_concurrency();
  const std::string log = XfadeFolder().File(transition + ".txt");
  const std::string xfade = "[a][b]xfade=transition=" + transition + ":duration=1:offset=0";
  double whole = 0;
  for (auto _ : state) {
    const double plain = RunFfmpegGraph("[a]null;[b]nullsink", threads, log);
    const double with = RunFfmpegGraph(xfade, threads, log);
    if (plain < 0 || with < 0) {
      state.SkipWithError("ffmpeg failed or gave no -benchmark figure");
      break;
    }
    whole += with;
    state.SetIterationTime(std::max(0.0, with - plain) / kFfmpegFrames);  // per frame
  }
  state.counters["threads"] = threads;
  // The whole run per frame, inputs and start included: what the filter's own time leaves out.
  if (state.iterations() > 0) state.counters["run_ms"] = 1000.0 * whole / double(state.iterations()) / kFfmpegFrames;
}

}  // namespace transition_bench
