// The look for code a show carries, made at its first command: a show
// folder of 10,000 photos (a JPEG's first bytes and 16 KiB each, in ten
// subfolders) looked through, four bytes of each; and a container of
// 10,000 photo entries, deflated and stored. The files stay in the page
// cache between iterations: these are the warm figures.
#include <benchmark/benchmark.h>

#include <string>

#include "Oru/OruViewer/OruCarriedCode.h"
#include "Oru/OruViewer/OruModules.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmModules.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/TempFolder.h"

namespace {

constexpr int kPhotos = 10000;

std::string Photo(int i) { return "\xFF\xD8\xFF\xE0" + std::string(16 * 1024, char('a' + i % 26)); }

void BM_ShowFolderOfTenThousandPhotos(benchmark::State& state) {
  zmtest::TTempFolder folder;
  zmtest::WriteFileBytes(folder.File("Project.oru"), "[Main]\n");
  for (int i = 0; i < kPhotos; ++i)
    zmtest::WriteFileBytes(folder.File("photos" + std::to_string(i % 10) + "/" + std::to_string(i) + ".jpg"), Photo(i));
  for (auto _ : state) {
    const plat::TCodeSearch found = plat::FindCodeInFolder(folder.Path(), plat::TCodeLook());
    benchmark::DoNotOptimize(found.Entries);
    if (!found.Found.empty() || !found.Complete) state.SkipWithError("a photo taken for code");
  }
  state.counters["files"] = kPhotos;
}
BENCHMARK(BM_ShowFolderOfTenThousandPhotos)->Unit(benchmark::kMillisecond);

void BM_ContainerOfTenThousandPhotos(benchmark::State& state) {
  // Started once for every run of the benchmark, never stopped.
  static zm::TModuleRunner* modules = new zm::TModuleRunner(oru::ProgramModules());
  (void)modules;
  zmtest::TTempFolder folder;
  zmtest::TShowContainerWriter c;
  for (int i = 0; i < kPhotos; ++i)
    c.Add("photos/" + std::to_string(i) + ".jpg", Photo(i), i % 2 ? zmtest::kDeflated : zmtest::kStored);
  c.Add("Project.oru", "[Main]\n");
  c.WriteFile(folder.File("show/show.orushow"));
  zm::WideString error;
  const zm::TRef<oru::TOruShowLocator> show =
      oru::OpenContainerShow(plat::FromUtf8(folder.File("show/show.orushow")), error);
  if (!show) {
    state.SkipWithError("no container");
    return;
  }
  for (auto _ : state) {
    const oru::TCarriedCode found = oru::FindCarriedCode(plat::FromUtf8(folder.File("show/show.orushow")), show.get());
    if (found.Found()) state.SkipWithError("a photo taken for code");
  }
  state.counters["entries"] = kPhotos;
}
BENCHMARK(BM_ContainerOfTenThousandPhotos)->Unit(benchmark::kMillisecond);

}  // namespace
