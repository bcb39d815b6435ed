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
#include "tests/support/kit/PackedWriter.h"
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

namespace {

// A container of a thousand entries that all name one gzipped tar (its
// second member behind 63 MiB of zeros), looked at as a show's first
// command looks: the shared content is unpacked once. Each iteration is a
// first look (the container written anew, so nothing is kept from before).
void BM_ContainerOfSharedPackedEntries(benchmark::State& state) {
  static zm::TModuleRunner* modules = new zm::TModuleRunner(oru::ProgramModules());
  (void)modules;
  zmtest::TTempFolder folder;
  const std::string tgz =
      zmtest::Gzipped(zmtest::Tarred({{"zeros.bin", std::string(63 << 20, '\0')}, {"notes.txt", "plain text"}}));
  const std::string path = folder.File("show/shared.orushow");
  int written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    zmtest::TShowContainerWriter c;
    c.Add("Project.oru", "[Main]\n" + std::string(std::size_t(++written), ' '), zmtest::kDeflated);
    c.Add("data/0.tgz", tgz, zmtest::kStored);
    c.Bytes();
    const zmtest::TContainerEntry first = *c.Find("data/0.tgz");
    for (int i = 1; i < 1000; ++i) {
      zmtest::TContainerEntry& e = c.Add("data/" + std::to_string(i) + ".tgz", "", zmtest::kStored);
      e.PsText = std::to_string(first.Position);
      e.SzText = std::to_string(first.StoredSize);
    }
    c.WriteFile(path);
    zm::WideString error;
    const zm::TRef<oru::TOruShowLocator> show = oru::OpenContainerShow(plat::FromUtf8(path), error);
    state.ResumeTiming();
    if (!show || oru::FindCarriedCode(plat::FromUtf8(path), show.get()).Found()) state.SkipWithError("taken for code");
  }
  state.counters["entries"] = 1000;
}
BENCHMARK(BM_ContainerOfSharedPackedEntries)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
