// Packing a show with one large file against copying that file: the packer
// writes entries as it reads them, so both should run at about disk speed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "bench/BenchFiles.h"
#include "OruLib2/OruPack/OruPackWriter.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/OruPacker.h"

namespace {

constexpr std::int64_t kFileSize = std::int64_t(256) << 20;

// A show folder with "Project.oru" and one 256 MB file of mixed bytes,
// made once for all runs.
const zmbench::TBenchFolder& Show() {
  static zmbench::TBenchFolder folder;
  static bool made = [] {
    zmtest::WriteFileBytes(folder.File("show/Project.oru"), "\xEF\xBB\xBF[main]\r\nopt_repeat=stop\r\n");
    std::ofstream f(folder.File("show/video.bin"), std::ios::binary);
    std::vector<char> piece(std::size_t(1) << 20);
    std::uint32_t seed = 1;
    for (std::int64_t done = 0; done < kFileSize; done += std::int64_t(piece.size())) {
      for (std::size_t i = 0; i < piece.size(); i += 64) {
        seed = seed * 1103515245u + 12345u;
        piece[i] = static_cast<char>(seed >> 24);
      }
      f.write(piece.data(), std::streamsize(piece.size()));
    }
    return true;
  }();
  (void)made;
  return folder;
}

void BM_CopyFile(benchmark::State& state) {
  const auto& show = Show();
  std::vector<char> piece(std::size_t(1) << 20);
  for (auto _ : state) {
    std::ifstream in(show.File("show/video.bin"), std::ios::binary);
    std::ofstream out(show.File("copy.bin"), std::ios::binary | std::ios::trunc);
    while (in) {
      in.read(piece.data(), std::streamsize(piece.size()));
      out.write(piece.data(), in.gcount());
    }
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

// Method 0 stored, 2 enciphered (the packer's default), 1 deflated.
void BM_PackShow(benchmark::State& state) {
  const auto& show = Show();
  const char* method = state.range(0) == 0 ? "--stored" : state.range(0) == 1 ? "--deflated" : "--enciphered";
  for (auto _ : state) {
    std::ostringstream out, err;
    if (orupack::RunOruPack({method, show.File("show"), show.File("packed.orushow")}, out, err) != 0)
      state.SkipWithError(err.str().c_str());
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

}  // namespace

BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PackShow)->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
