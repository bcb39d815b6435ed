// Opening show containers and reading their entries from disk.
//
// BM_OpenContainer: a 2 MiB and a 2 GiB container (the bulk a sparse entry)
// with the same directory of 2000 entries: opening reads only the trailer
// and the directory, so both cost the same.
//
// BM_ReadEntry: an 8 MiB entry stored, enciphered and deflated, read whole
// in 64 KiB pieces through its own handle, next to zlib inflating the same
// data from memory, memcpy of 8 MiB, and the file stream reading the
// stored bytes alone.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruUnpack.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmModules.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;
using namespace oru;
using zmtest::TShowContainerWriter;

namespace {

constexpr std::size_t kEntrySize = 8 << 20;
constexpr int kDirectoryEntries = 2000;

// Show-description-like text: deflates to about a quarter.
const std::string& Plain() {
  static const std::string s = [] {
    std::mt19937 rng(11);
    static const char* words[] = {"object ", "end\r\n", "opt_", "Slide", "=", "1\r\n", "time=2000\r\n", "  "};
    std::string t;
    while (t.size() < kEntrySize) {
      t += words[rng() % 8];
      t += std::to_string(rng() % 1000);
    }
    t.resize(kEntrySize);
    return t;
  }();
  return s;
}

void StartModules() { static TModuleRunner modules(JoinModules({CoreModules()})); }

// A program-sized sparse entry, then the same 2000 small entries.
std::int64_t WriteSized(const std::string& path, std::int64_t bulk) {
  TShowContainerWriter w;
  w.TrailerForm = 2;
  w.AddSparse("OruViewer5", bulk);
  for (int i = 0; i < kDirectoryEntries; ++i)
    w.Add("pics\\img" + std::to_string(1000 + i) + ".jpg", std::string(64, 'j'), zmtest::kEnciphered);
  w.Add("Project.oru", std::string(4000, 'p'), zmtest::kDeflated);
  return w.WriteFile(path);
}

struct TOpenFiles {
  zmtest::TTempFolder Folder;
  std::string Small = Folder.File("small.orushow"), Large = Folder.File("large.orushow");
  std::int64_t SmallSize = WriteSized(Small, std::int64_t(2) << 20);
  std::int64_t LargeSize = WriteSized(Large, std::int64_t(2) << 30);
};

const TOpenFiles& OpenFiles() {
  StartModules();
  static TOpenFiles files;
  return files;
}

struct TReadFiles {
  zmtest::TTempFolder Folder;
  std::string Read = Folder.File("read.orushow");
  std::string Packed = TShowContainerWriter::Deflate(Plain());
  TReadFiles() {
    TShowContainerWriter w;
    w.Add("stored.bin", Plain(), zmtest::kStored);
    w.Add("enciphered.bin", Plain(), zmtest::kEnciphered);
    w.Add("Project.oru", Plain(), zmtest::kDeflated);
    w.WriteFile(Read);
  }
};

const TReadFiles& ReadFiles() {
  StartModules();
  static TReadFiles files;
  return files;
}

WideString Wide(const std::string& path) { return plat::FromUtf8(path); }

void PerEntry(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kEntrySize));
}

}  // namespace

static void BM_OpenContainer(benchmark::State& state) {
  bool large = state.range(0) != 0;
  WideString name = Wide(large ? OpenFiles().Large : OpenFiles().Small);
  for (auto _ : state) {
    TRef<TOruUnpack> u = MakeRef<TOruUnpack>(name);
    if (!u->HasShow()) state.SkipWithError("no show");
    benchmark::DoNotOptimize(u.get());
  }
  state.SetLabel(std::to_string((large ? OpenFiles().LargeSize : OpenFiles().SmallSize) >> 20) + " MiB file");
}
BENCHMARK(BM_OpenContainer)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Argument: the storage method (0 stored, 1 deflated, 2 enciphered).
static void BM_ReadEntry(benchmark::State& state) {
  static const char16_t* names[] = {u"stored.bin", u"Project.oru", u"enciphered.bin"};
  TRef<TOruUnpack> u = MakeRef<TOruUnpack>(Wide(ReadFiles().Read));
  std::vector<std::uint8_t> buf(65536);
  for (auto _ : state) {
    std::int64_t pos, size;
    std::uint8_t method;
    if (!u->FindEntry(names[state.range(0)], pos, method, size)) state.SkipWithError("not found");
    TRef<TStream> s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
    std::int64_t total = 0;
    while (std::int32_t got = s->Read(buf)) total += got;
    if (total != static_cast<std::int64_t>(kEntrySize)) state.SkipWithError("size");
  }
  PerEntry(state);
}
BENCHMARK(BM_ReadEntry)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The stored bytes through the file stream alone, in the same pieces.
static void BM_FileStreamRead(benchmark::State& state) {
  std::vector<std::uint8_t> buf(65536);
  WideString name = Wide(ReadFiles().Read);
  for (auto _ : state) {
    TRef<TFileStream> f = MakeRef<TFileStream>(name, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    std::int64_t total = 0;
    while (total < static_cast<std::int64_t>(kEntrySize) && f->Read(buf) > 0) total += 65536;
  }
  PerEntry(state);
}
BENCHMARK(BM_FileStreamRead)->Unit(benchmark::kMillisecond);

// zlib alone: the same deflate data from memory into one output buffer.
static void BM_ZlibRawInflate(benchmark::State& state) {
  const std::string& packed = ReadFiles().Packed;
  std::vector<std::uint8_t> out(kEntrySize);
  for (auto _ : state) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    zs.avail_in = static_cast<uInt>(packed.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (inflate(&zs, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate");
    inflateEnd(&zs);
    benchmark::DoNotOptimize(out.data());
  }
  PerEntry(state);
}
BENCHMARK(BM_ZlibRawInflate)->Unit(benchmark::kMillisecond);

static void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint8_t> out(kEntrySize);
  for (auto _ : state) {
    std::memcpy(out.data(), Plain().data(), kEntrySize);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  PerEntry(state);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
