#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ZmLib/Music/zmPcmResampler.h"
#include "ZmLib/Music/zmWavConverter.h"

using namespace zm;

// 48 kHz stereo 16-bit to the standard 44.1 kHz output, in the converter's
// 4096-byte blocks. "x_realtime" is seconds of sound made per second of work.
static void BM_Resample48kTo44k(benchmark::State& state) {
  const TWaveFormatEx in{1, 2, 48000, 192000, 4, 16, 0};
  const std::int32_t seconds = 10, block = 4096;
  std::vector<std::int16_t> pcm(std::size_t(48000 * 2 * seconds));
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    pcm[i] = std::int16_t(16000 * std::sin(double(i / 2) * 2 * 3.14159265358979 * 440 / 48000));
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm.data());
  const std::int32_t total = std::int32_t(pcm.size() * 2);
  std::vector<std::uint8_t> out(std::size_t(block) * 2);
  for (auto _ : state) {
    TPcmResampler r;
    for (std::int32_t at = 0; at < total; at += block) {
      const std::int32_t n = total - at < block ? total - at : block;
      const std::int32_t made = r.Prepare(in, StandardOutputFormat(), n);
      r.Resample(bytes + at, out.data());
      benchmark::DoNotOptimize(made);
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(total));
  state.SetItemsProcessed(state.iterations() * std::int64_t(pcm.size() / 2));
  state.counters["x_realtime"] =
      benchmark::Counter(double(seconds) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Resample48kTo44k)->Unit(benchmark::kMillisecond);
