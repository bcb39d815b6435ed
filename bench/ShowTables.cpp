// The tables a show description fills as the show opens: a container show
// (OpenContainerShow) whose description holds a "RotationState" or a
// "FileMap" of 100,000 and 600,000 lines, beside the same show without
// them, in this process (the description inflated, parsed and its tables
// filled, up to a first turn asked for). The time per line should not grow with the table (linear
// filling). The player's own figure is its launch to the first frame of
// such a show beside the plain one (tools/MeasurePlayer, MEASURE_PLAYER_FIRST_FRAME=1).
//
// Counters: lines; ns_per_line (the time over the plain show's, a line).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "OruLib2/OruClasses/OruClassesModules.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/zmModules.h"
#include "bench/BenchFiles.h"
#include "tests/support/kit/ShowProjectWriter.h"

using namespace zm;
using namespace oru;

namespace {

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), TextModules(), GraphicsModules(), OruClassesModules()}));
  return modules;
}

enum TTable { kNone, kRotation, kFileMap };

// A small show of three slides; with a table of the given lines, each line
// naming a picture of its own.
std::string WriteShow(const zmbench::TBenchFolder& folder, TTable table, int lines) {
  zmtest::TShowProjectWriter show;
  auto& d = show.Description();
  d.Section("main").Key("OruVersion", "5.0.1").Key("opt_scr_width", 640).Key("opt_scr_height", 360);
  d.Key("opt_repeat", "close").Key("ColorManagement", "");
  d.Section("Times").Key("opt_slidescount", 3);
  for (int i = 1; i <= 3; ++i) d.Key("opt_synchpos" + std::to_string(i), i * 3000);
  for (int i = 1; i <= 3; ++i) d.Section("Slide" + std::to_string(i)).Key("bstyle", 1).Key("bcolor", "0x406080");
  if (table != kNone) {
    d.Section(table == kRotation ? "RotationState" : "FileMap");
    char line[64];
    for (int i = 0; i < lines; ++i) {
      if (table == kRotation) std::snprintf(line, sizeof line, ";\"pictures\\p%07d.jpg\"=6", i);
      else std::snprintf(line, sizeof line, "\"pictures\\p%07d.jpg\"=\"other\\q%07d.jpg\"", i, i);
      d.Line(line);
    }
  }
  zmtest::TShowContainerWriter w;
  show.AddToContainer(w);
  const std::string file = folder.File("show" + std::to_string(int(table)) + "_" + std::to_string(lines) + ".orushow");
  w.WriteFile(file);
  return file;
}

double OpenMs(const WideString& file) {
  const auto start = std::chrono::steady_clock::now();
  WideString error;
  TRef<TOruShowLocator> show = OpenContainerShow(file, error);
  // The rotation table may still be read beside the opening: a turn asked
  // for waits for it.
  if (auto* source = show ? dynamic_cast<TMappedFileSource*>(show->Accessor()->Source()) : nullptr)
    source->RotationOf(u"pictures\\p0000001.jpg");
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!show) std::fprintf(stderr, "ShowTables: the show did not open\n");
  return ms;
}

void OpenShowWithTable(benchmark::State& state) {
  Modules();
  static zmbench::TBenchFolder folder;
  const auto table = static_cast<TTable>(state.range(0));
  const int lines = static_cast<int>(state.range(1));
  const WideString plain = plat::FromUtf8(WriteShow(folder, kNone, 0));
  const WideString withTable = plat::FromUtf8(WriteShow(folder, table, lines));
  double plainMs = 0, tableMs = 0;
  for (auto _ : state) {
    // Interleaved, so that both meet the same load.
    plainMs += OpenMs(plain);
    const double ms = OpenMs(withTable);
    tableMs += ms;
    state.SetIterationTime(ms / 1000);
  }
  state.counters["lines"] = lines;
  state.counters["ns_per_line"] =
      state.iterations() ? (tableMs - plainMs) * 1e6 / double(state.iterations()) / lines : 0;
}

}  // namespace

BENCHMARK(OpenShowWithTable)
    ->ArgNames({"table", "lines"})
    ->Args({kRotation, 100000})
    ->Args({kRotation, 600000})
    ->Args({kFileMap, 100000})
    ->Args({kFileMap, 600000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
