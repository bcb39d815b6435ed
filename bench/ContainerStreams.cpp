// Reading show data: deflated entries through the inflate stream and the
// inflater against plain zlib, enciphered and stored entries through their
// windows against memcpy. Each reads 8 MiB of output per iteration.
//
// Then the show container on disk: opening a 2 MiB and a 2 GiB container
// (the bulk a sparse entry) with the same directory of 2000 entries, which
// costs the same since opening reads only the trailer and the directory;
// and 8 MiB entries stored, deflated and enciphered read whole through
// their own handles, next to the file stream reading the stored bytes alone.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "OruLib2/OruClasses/OruUnpack.h"
#include "OruLib2/OruClasses/zmInflate.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmModules.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::TShowContainerWriter;

namespace {

constexpr std::size_t kPlainSize = 8 << 20;

// Show-description-like text: deflates to about a quarter.
const std::string& Plain() {
  static const std::string s = [] {
    std::mt19937 rng(5);
    static const char* words[] = {"object ", "end\r\n", "opt_", "Slide", "=", "1\r\n", "time=2000\r\n", "  "};
    std::string t;
    while (t.size() < kPlainSize) {
      t += words[rng() % 8];
      t += std::to_string(rng() % 1000);
    }
    t.resize(kPlainSize);
    return t;
  }();
  return s;
}

const std::string& Packed() {
  static const std::string s = TShowContainerWriter::Deflate(Plain(), 6);
  return s;
}

TRef<TMemoryStream> StreamOf(const std::string& bytes) { return zmtest::MemoryStreamOf(bytes); }

void Done(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kPlainSize));
}

}  // namespace

// zlib alone: raw inflate of the whole buffer into one output buffer.
static void BM_ZlibRawInflate(benchmark::State& state) {
  const std::string& packed = Packed();
  std::vector<std::uint8_t> out(kPlainSize);
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
  Done(state);
}
BENCHMARK(BM_ZlibRawInflate)->Unit(benchmark::kMillisecond);

// zlib alone, giving its output 32 KiB at a time as a streaming reader does.
static void BM_ZlibRawInflatePieces(benchmark::State& state) {
  const std::string& packed = Packed();
  std::vector<std::uint8_t> out(32768);
  for (auto _ : state) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    zs.avail_in = static_cast<uInt>(packed.size());
    int r;
    do {
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      r = inflate(&zs, Z_NO_FLUSH);
      benchmark::DoNotOptimize(out.data());
    } while (r == Z_OK);
    if (r != Z_STREAM_END) state.SkipWithError("inflate");
    inflateEnd(&zs);
  }
  Done(state);
}
BENCHMARK(BM_ZlibRawInflatePieces)->Unit(benchmark::kMillisecond);

// A deflated entry as the container opens it: window, inflate stream, copied
// whole into a memory stream.
static void BM_InflateStreamToMemory(benchmark::State& state) {
  auto file = StreamOf("program" + Packed() + "directory");
  for (auto _ : state) {
    auto window = MakeRef<TPartialStream>(file.get(), false, 7, static_cast<std::int64_t>(Packed().size()));
    auto z = MakeRef<TInflateStream>(window.get(), -1);
    auto mem = MakeRef<TMemoryStream>();
    mem->LoadFromStream(z.get());
    if (mem->GetSize() != static_cast<std::int64_t>(kPlainSize)) state.SkipWithError("size");
  }
  Done(state);
}
BENCHMARK(BM_InflateStreamToMemory)->Unit(benchmark::kMillisecond);

// The stream read in pieces of the argument's size by the caller.
static void BM_InflateStreamPieces(benchmark::State& state) {
  auto file = StreamOf(Packed());
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    file->SetPosition(0);
    auto z = MakeRef<TInflateStream>(file.get(), -1);
    std::int64_t total = 0;
    while (std::int32_t got = z->Read(buf)) total += got;
    if (total != static_cast<std::int64_t>(kPlainSize)) state.SkipWithError("size");
  }
  Done(state);
}
BENCHMARK(BM_InflateStreamPieces)->Arg(4096)->Arg(32768)->Unit(benchmark::kMillisecond);

// Into a memory stream whose storage is already there, as zlib's own
// output buffer above.
static void BM_InflatorToMemory(benchmark::State& state) {
  auto file = StreamOf(Packed());
  auto inflator = MakeRef<TInflator>();
  auto mem = MakeRef<TMemoryStream>();
  for (auto _ : state) {
    file->SetPosition(0);
    mem->SetPosition(0);
    inflator->Inflate(file.get(), mem.get());
    if (mem->GetSize() != static_cast<std::int64_t>(kPlainSize)) state.SkipWithError("size");
  }
  Done(state);
}
BENCHMARK(BM_InflatorToMemory)->Unit(benchmark::kMillisecond);

// Memory speed: one copy of the output size.
static void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint8_t> out(kPlainSize);
  for (auto _ : state) {
    std::memcpy(out.data(), Plain().data(), kPlainSize);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  Done(state);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// The same copy in 64 KiB pieces, as the window reads below move it.
static void BM_MemcpyPieces(benchmark::State& state) {
  std::vector<std::uint8_t> out(65536);
  for (auto _ : state) {
    for (std::size_t at = 0; at < kPlainSize; at += out.size()) {
      std::memcpy(out.data(), Plain().data() + at, out.size());
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }
  }
  Done(state);
}
BENCHMARK(BM_MemcpyPieces)->Unit(benchmark::kMillisecond);

// The memory stream alone read in 32 KiB pieces: what the windows below
// stand on. (On some processors glibc's large-copy path is slow for some
// relative alignments of source and destination; this shows it.)
static void BM_MemoryStreamRead(benchmark::State& state) {
  auto file = StreamOf(Plain());
  std::vector<std::uint8_t> buf(65536);
  for (auto _ : state) {
    file->SetPosition(0);
    std::int64_t total = 0;
    while (std::int32_t got = file->Read(buf, 32768, static_cast<std::int32_t>(total % 65536))) total += got;
    if (total != static_cast<std::int64_t>(kPlainSize)) state.SkipWithError("size");
  }
  Done(state);
}
BENCHMARK(BM_MemoryStreamRead)->Unit(benchmark::kMillisecond);

// Enciphered and stored entries read in 64 KiB pieces; the second argument
// puts the load callback on the window (256-byte blocks), as the file
// accessor does.
static void ReadWindow(benchmark::State& state, bool crypt) {
  std::string stored = crypt ? TShowContainerWriter::Encipher(Plain()) : Plain();
  auto file = StreamOf(stored);
  std::vector<std::uint8_t> buf(65536);
  for (auto _ : state) {
    auto window = MakeRef<TPartialStream>(file.get(), false, 0, static_cast<std::int64_t>(kPlainSize));
    if (state.range(0)) window->SetReadCallback(32768, &LoadCallbackRead, nullptr);
    TRef<TStream> s = window;
    if (crypt) s = MakeRef<TCryptStream>(window.get(), TByteString(std::string(TShowContainerWriter::kKey)), false);
    std::int64_t total = 0;
    while (std::int32_t got = s->Read(buf)) total += got;
    if (total != static_cast<std::int64_t>(kPlainSize)) state.SkipWithError("size");
  }
  Done(state);
}
static void BM_CryptStreamRead(benchmark::State& state) { ReadWindow(state, true); }
static void BM_StoredWindowRead(benchmark::State& state) { ReadWindow(state, false); }
BENCHMARK(BM_CryptStreamRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoredWindowRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// ============================================================================
// The show container on disk
// ============================================================================

namespace {

constexpr int kDirectoryEntries = 2000;

// Started once and never stopped: stopping them from a static destructor
// would outlive what they stop.
void StartModules() {
  static TModuleRunner* modules = new TModuleRunner(JoinModules({CoreModules()}));
  (void)modules;
}

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
  zmbench::TBenchFolder Folder;
  std::string Small = Folder.File("small.orushow"), Large = Folder.File("large.orushow");
  std::int64_t SmallSize = WriteSized(Small, std::int64_t(2) << 20);
  std::int64_t LargeSize = WriteSized(Large, std::int64_t(2) << 30);
};

const TOpenFiles& OpenFiles() {
  StartModules();
  static TOpenFiles files;
  return files;
}

// One container holding Plain() stored, enciphered and deflated.
const std::string& ReadContainerPath() {
  StartModules();
  static zmbench::TBenchFolder folder;
  static const std::string path = [] {
    TShowContainerWriter w;
    w.Add("stored.bin", Plain(), zmtest::kStored);
    w.Add("enciphered.bin", Plain(), zmtest::kEnciphered);
    w.Add("Project.oru", Plain(), zmtest::kDeflated);
    w.WriteFile(folder.File("read.orushow"));
    return folder.File("read.orushow");
  }();
  return path;
}

WideString Wide(const std::string& path) { return plat::FromUtf8(path); }

}  // namespace

// Argument: 0 the 2 MiB file, 1 the 2 GiB file.
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

// Arguments: the storage method (0 stored, 1 deflated, 2 enciphered), and 1
// to put the load callback on the window as the show's file source does
// (256-byte blocks, each a read of the file). The entry is found, opened
// over a new handle and read in 64 KiB pieces.
static void BM_ReadEntry(benchmark::State& state) {
  static const char16_t* names[] = {u"stored.bin", u"Project.oru", u"enciphered.bin"};
  TRef<TOruUnpack> u = MakeRef<TOruUnpack>(Wide(ReadContainerPath()));
  std::vector<std::uint8_t> buf(65536);
  for (auto _ : state) {
    std::int64_t pos, size;
    std::uint8_t method;
    if (!u->FindEntry(names[state.range(0)], pos, method, size)) state.SkipWithError("not found");
    TRef<TStream> s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
    if (state.range(1)) {
      auto* crypt = dynamic_cast<TCryptStream*>(s.get());
      auto* window = dynamic_cast<TPartialStream*>(crypt ? crypt->Source() : s.get());
      if (window) window->SetReadCallback(32768, &LoadCallbackRead, nullptr);
    }
    std::int64_t total = 0;
    while (std::int32_t got = s->Read(buf)) total += got;
    if (total != static_cast<std::int64_t>(kPlainSize)) state.SkipWithError("size");
  }
  Done(state);
}
BENCHMARK(BM_ReadEntry)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({0, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

// The stored entry's bytes through the file stream alone, in the same pieces.
static void BM_FileStreamRead(benchmark::State& state) {
  std::vector<std::uint8_t> buf(65536);
  WideString name = Wide(ReadContainerPath());
  for (auto _ : state) {
    TRef<TFileStream> f = MakeRef<TFileStream>(name, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    std::int64_t total = 0;
    while (total < static_cast<std::int64_t>(kPlainSize) && f->Read(buf) > 0) total += 65536;
  }
  Done(state);
}
BENCHMARK(BM_FileStreamRead)->Unit(benchmark::kMillisecond);
