// The overturn and the two-slides transitions at 1920x1080 through the 3D
// drawer on the software device, a quarter of the way in (the card turned
// half-way to edge-on; both slides moving and tilted), on one, two and all
// worker threads. Beside them the own cost of FFmpeg's xfade wipeleft and
// smoothleft per 1080p frame, when an ffmpeg program is on the path
// (TransitionStage.h; xfade has nothing that turns a card or moves in
// depth: these give the cost of a plain full-frame transition on the same
// machine).
#include "bench/TransitionStage.h"
#include "OruLib2/3DEngine/PerspectiveFilters.h"

namespace {

using namespace zm;
using namespace transition_bench;

enum TKind { kOverturn = 0, kOverturnSpin = 1, kTwoSlides = 2, kTwoSlidesUp = 3 };

TRef<oru::TTransitionDef> Definition(int kind) {
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  switch (kind) {
    case kOverturn: d->Kind = 10; d->Flags = {0, 0, 1, 0, 0, 1}; d->Floats = {0.5f}; break;
    case kOverturnSpin: d->Kind = 10; d->Flags = {0, 0, 1, 0, 1, 0}; d->Floats = {0.5f}; break;
    // Sideways, with the floor reflection.
    case kTwoSlides: d->Kind = 11; d->Flags = {0, 0, 1, 0}; d->Floats = {4.0f, 1.0f, 60.0f}; break;
    default: d->Kind = 11; d->Flags = {0, 1, 0, 0}; d->Floats = {4.0f, 1.0f, 60.0f}; break;
  }
  return d;
}

// Arg 0: 0 overturn, 1 spinning overturn, 2 two slides sideways, 3 two
// slides upwards; arg 1: threads (0: all processors).
void BM_PerspectiveFrame(benchmark::State& state) {
  RunTransitionFrames(
      state, Definition(static_cast<int>(state.range(0))), 0.25f, static_cast<std::uint32_t>(state.range(1)),
      [](oru::TDrawFilter* f) { return f && !f->IsAlpha; },
      [](oru::TOruFilter& params) { params.Filter->Reset(params.Progress); });
}

BENCHMARK(BM_PerspectiveFrame)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{kOverturn, kOverturnSpin, kTwoSlides, kTwoSlidesUp}, {1, 2, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arg 0: 0 wipeleft, 1 smoothleft; arg 1: filter threads (0: all processors).
void BM_FfmpegXfade(benchmark::State& state) {
  RunFfmpegXfade(state, state.range(0) == 1 ? "smoothleft" : "wipeleft", unsigned(state.range(1)));
}

BENCHMARK(BM_FfmpegXfade)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
