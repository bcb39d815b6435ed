// Clock and broom transition frames at 1920x1080 through the 3D drawer on
// the software device, a quarter and three quarters through: each frame
// draws the outgoing slide, renders the incoming one into a picture and
// paints the filter's triangles, on one, two and all worker threads; the
// brooms also with the swept part drawn straight (direct 1) against the
// general way (direct 0), side by side in one run. Beside
// them the own cost of FFmpeg's xfade transitions of the same families
// (radial for the clock; for the brooms wipeleft, a hard edge, and
// smoothleft, a soft one like theirs) per 1080p frame, when an ffmpeg
// program is on the path (TransitionStage.h).
#include "bench/TransitionStage.h"
#include "OruLib2/3DEngine/BroomFilters.h"
#include "OruLib2/3DEngine/EffTiles.h"

namespace {

using namespace zm;
using namespace transition_bench;

enum TKind { kClock = 0, kBroomSide = 1, kBroomCorner = 2 };

// Soft edges of a tenth of the width; the brooms' pivots a tenth of
// (width + height) / 2 outside.
TRef<oru::TTransitionDef> Definition(int kind) {
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  d->Kind = 2;
  d->Smoothline = 0.1;
  d->Floats = {0.1f};
  switch (kind) {
    case kClock: d->Flags = {0, 0, 0, 0, 0, 0, 1}; break;
    case kBroomSide: d->Flags = {0, 0, 0, 0, 0, 1}; break;  // from the left side
    default: d->Flags = {0, 0, 1}; break;                   // from the top-left corner
  }
  return d;
}

// Arg 0: the transition (0 clock, 1 broom from a side, 2 broom from a
// corner); arg 1: threads (0: all processors); arg 2: progress in percent;
// arg 3: 1 the direct way where the filter allows, 0 the general way.
// Skipped while the factory would make its cross-fade stand-in.
void BM_TransitionFrame(benchmark::State& state) {
  oru::T3DDrawer& drawer = *Setup().drawer;
  drawer.DirectFilterDraws = state.range(3) != 0;
  RunTransitionFrames(state, Definition(static_cast<int>(state.range(0))), float(state.range(2)) / 100.0f,
                      static_cast<std::uint32_t>(state.range(1)),
                      [](oru::TDrawFilter* f) { return f && !f->IsAlpha; });
  drawer.DirectFilterDraws = true;
}

BENCHMARK(BM_TransitionFrame)
    ->ArgNames({"kind", "threads", "percent", "direct"})
    ->ArgsProduct({{kClock, kBroomSide, kBroomCorner}, {1, 2, 0}, {25, 75}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The filters' own share of a frame: the triangles of one 1080p picture,
// handed to a tile that only counts them.
class TCountingTile : public oru::TEffTile {
public:
  TCountingTile() : TEffTile(nullptr, {}, {}) {}
  void Begin(std::int32_t, bool) override {}
  void AddTriangle(const oru::TEffTriangle&) override { ++Count; }
  void AddColoredTriangle(const oru::TEffTriangle&, const oru::TEffColors&) override {}
  void AddShadedTextureTriangle(const oru::TEffTriangle&, const oru::TEffPoints2&) override {}
  void AddColoredPoints(const oru::TEffPoints2&, const oru::TEffColors&) override {}
  void AddShadedTriangle(const oru::TEffTriangle&, const oru::TEffPoints3&) override {}
  void End() override {}
  std::int64_t Count = 0;
};

// Arg 0: 0 clock, 1 broom from a side, 2 broom from a corner; arg 1: progress in percent.
void BM_SweepGeometry(benchmark::State& state) {
  TRef<oru::TSweepEffect> f;
  if (state.range(0) == kClock)
    f = MakeRef<oru::TClockEffect>(0.5f, 0.5f, false);
  else
    f = MakeRef<oru::TBroomEffect>(state.range(0) == kBroomSide ? 4 : 8, (kW + kH) * 0.05f);
  f->Init({0, 0, kW, kH}, kW * 0.1f, 1);
  f->TargetRect = {0, 0, kW, kH};
  f->SetProgress(float(state.range(1)) / 100.0f);
  TRef<TCountingTile> tile = MakeRef<TCountingTile>();
  for (auto _ : state) f->DrawInto(tile.get());
  state.counters["triangles"] = double(tile->Count) / double(state.iterations());
}

BENCHMARK(BM_SweepGeometry)
    ->ArgNames({"kind", "percent"})
    ->ArgsProduct({{kClock, kBroomSide, kBroomCorner}, {25, 75}})
    ->Unit(benchmark::kMicrosecond);

// Arg 0: 0 radial, 1 wipeleft, 2 smoothleft; arg 1: filter threads (0: all
// processors).
void BM_FfmpegXfade(benchmark::State& state) {
  const char* const names[] = {"radial", "wipeleft", "smoothleft"};
  RunFfmpegXfade(state, names[state.range(0)], unsigned(state.range(1)));
}

BENCHMARK(BM_FfmpegXfade)
    ->ArgNames({"kind", "threads"})
    ->ArgsProduct({{0, 1, 2}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace
