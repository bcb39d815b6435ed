// Transition frames at 1920x1080 through the 3D drawer on the software
// device: the cross-fade, a mosaic, a soft circle wipe, the incoming slide
// sliding in and pushing the outgoing one out, half-way, each frame drawing
// the outgoing slide, rendering the incoming one into a picture and painting
// the filter's triangles (the cross-fade of two picture slides in one pass
// from both pictures), on one, two and all worker threads. Beside them the
// own cost of the nearest transitions of FFmpeg's xfade filter (fade,
// dissolve, circleopen, slideleft) per 1080p frame, when an ffmpeg program
// is on the path (TransitionStage.h: a run with the transition less the
// same run with a pass-through). Last, a
// 64 MB copy on one and two threads: how much a second thread can gain
// where the memory's bandwidth, not the processor, sets the pace.
#include "bench/TransitionStage.h"

#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace zm;
using namespace transition_bench;

enum TKind { kFade = 0, kMosaic = 1, kCircle = 2, kSlide = 3, kPush = 4 };

TRef<oru::TTransitionDef> Definition(int kind) {
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  switch (kind) {
    case kFade: d->Kind = 1; d->Flags = {1}; break;
    // From the right towards the left, as xfade's slideleft.
    case kSlide: d->Kind = 8; d->Flags = {1, 0, 0, 0}; break;
    case kPush: d->Kind = 7; d->Flags = {1, 0, 0, 0}; break;
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

// Arg 0: the transition (0 fade, 1 mosaic, 2 soft circle, 3 slide, 4
// push); arg 1: threads (0: all processors). Half-way through the
// transition. The circle is skipped while no circle filter is registered
// (the factory would measure its cross-fade stand-in).
void BM_TransitionFrame(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  RunTransitionFrames(state, Definition(kind), 0.5f, static_cast<std::uint32_t>(state.range(1)),
                      [kind](oru::TDrawFilter* f) { return kind != kCircle || (f && !f->IsAlpha); });
}

BENCHMARK(BM_TransitionFrame)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{kFade, kMosaic, kCircle, kSlide, kPush}, {1, 2, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The cross-fade half-way, in one pass from both pictures (arg 1: 1) and
// the general way (0), side by side; arg 0: threads (0: all processors).
void BM_CrossFadeWays(benchmark::State& state) {
  oru::T3DDrawer& drawer = *Setup().drawer;
  drawer.OnePassFades = state.range(1) != 0;
  RunTransitionFrames(state, Definition(kFade), 0.5f, static_cast<std::uint32_t>(state.range(0)), {});
  drawer.OnePassFades = true;
}

BENCHMARK(BM_CrossFadeWays)
    ->ArgNames({"threads", "onepass"})
    ->ArgsProduct({{1, 2, 0}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arg 0: 0 fade, 1 dissolve (pixels appearing at random), 2 circleopen, 3
// slideleft (both pictures moving: the push; the slide moves one); arg 1:
// filter threads (0: all processors).
void BM_FfmpegXfade(benchmark::State& state) {
  const char* const names[] = {"fade", "dissolve", "circleopen", "slideleft"};
  RunFfmpegXfade(state, names[state.range(0)], unsigned(state.range(1)));
}

BENCHMARK(BM_FfmpegXfade)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{kFade, kMosaic, kCircle, kSlide}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

// Arg 0: threads, each copying its share of 64 MB.
void BM_TransitionMemcpy64(benchmark::State& state) {
  constexpr std::size_t kBytes = std::size_t{64} << 20;
  const std::size_t threads = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> src(kBytes, 1), dst(kBytes, 0);
  const auto copyShare = [&](std::size_t t) {
    const std::size_t from = kBytes * t / threads, to = kBytes * (t + 1) / threads;
    std::memcpy(dst.data() + from, src.data() + from, to - from);
  };
  for (auto _ : state) {
    std::vector<std::thread> others;
    for (std::size_t t = 1; t < threads; ++t) others.emplace_back(copyShare, t);
    copyShare(0);
    for (std::thread& th : others) th.join();
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBytes));
}

BENCHMARK(BM_TransitionMemcpy64)->ArgNames({"threads"})->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
