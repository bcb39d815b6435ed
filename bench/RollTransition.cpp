// Roll transition frames at 1920x1080 through the 3D drawer on the software
// device: a straight roll, a diagonal one and a shaded tube with a tinted
// back, each a third of the way through (curl, folded back and flat part all
// on screen), on one, two and all worker threads. Beside them the own cost
// of FFmpeg's xfade wipes of the same family (wipeleft, smoothleft) per
// 1080p frame, when an ffmpeg program is on the path (TransitionStage.h).
#include "bench/TransitionStage.h"
#include "OruLib2/3DEngine/RollFilter.h"

namespace {

using namespace zm;
using namespace transition_bench;

enum TKind { kStraight = 0, kDiagonal = 1, kTube = 2, kShow = 3 };

// The show's "curling" definitions: a radius of a tenth of the width.
TRef<oru::TTransitionDef> Definition(int kind) {
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  d->Kind = 9;
  d->Flags = std::vector<std::uint8_t>(12, 0);
  d->Floats = {0.1f, 0.5f};
  d->Ints = {0, 0x00305080};
  switch (kind) {
    case kStraight: d->Flags[6] = 1; break;
    case kShow:
      d->Flags[3] = 1;  // straight, upwards
      d->Ints = {0, 0};
      break;
    case kDiagonal: d->Flags[2] = 1; break;
    default:
      d->Flags[6] = 1;
      d->Ints[0] = 1;     // tube
      d->Flags[10] = 1;   // tinted back
      d->Flags[11] = 1;   // shaded, with depth
      break;
  }
  return d;
}

// Arg 0: the roll (0 straight, 1 diagonal, 2 shaded tube); arg 1: threads
// (0: all processors).
void BM_RollFrame(benchmark::State& state) {
  RunTransitionFrames(state, Definition(static_cast<int>(state.range(0))), 0.35f,
                      static_cast<std::uint32_t>(state.range(1)),
                      [](oru::TDrawFilter* f) { return dynamic_cast<oru::TRollEffect2*>(f) != nullptr; });
}

BENCHMARK(BM_RollFrame)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{kStraight, kDiagonal, kTube}, {1, 2, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The show's roll. Arg 0: threads; arg 1: progress in percent; arg 2: 1 the
// direct way where the filter allows, 0 the general way.
void BM_RollShowFrame(benchmark::State& state) {
  oru::T3DDrawer& drawer = *Setup().drawer;
  drawer.DirectFilterDraws = state.range(2) != 0;
  RunTransitionFrames(state, Definition(kShow), float(state.range(1)) / 100.0f,
                      static_cast<std::uint32_t>(state.range(0)),
                      [](oru::TDrawFilter* f) { return dynamic_cast<oru::TRollEffect2*>(f) != nullptr; });
  drawer.DirectFilterDraws = true;
}

BENCHMARK(BM_RollShowFrame)
    ->ArgNames({"threads", "percent", "direct"})
    ->ArgsProduct({{1, 2}, {35, 65, 90}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arg 0: 0 wipeleft, 1 smoothleft; arg 1: filter threads (0: all processors).
void BM_FfmpegXfadeWipe(benchmark::State& state) {
  RunFfmpegXfade(state, state.range(0) == 1 ? "smoothleft" : "wipeleft", unsigned(state.range(1)));
}

BENCHMARK(BM_FfmpegXfadeWipe)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
