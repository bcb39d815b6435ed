#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "ZmLib/Music/zmPcmResampler.h"
#include "ZmLib/Music/zmWavConverter.h"

using namespace zm;

namespace {

// Seconds of 16-bit stereo music-like sound (three tones and a little noise).
std::vector<std::int16_t> Stereo(std::uint32_t rate, std::int32_t seconds) {
  std::vector<std::int16_t> pcm(std::size_t(rate) * 2 * std::size_t(seconds));
  std::uint32_t seed = 1;
  for (std::size_t i = 0; i < pcm.size() / 2; ++i) {
    const double t = double(i) / rate;
    const double v = 5000 * std::sin(2 * 3.14159265358979 * 440 * t) + 4000 * std::sin(2 * 3.14159265358979 * 3000 * t) +
                     3000 * std::sin(2 * 3.14159265358979 * 15000 * t);
    seed = seed * 1103515245u + 12345u;
    pcm[2 * i] = std::int16_t(v + double(seed >> 24) - 128);
    pcm[2 * i + 1] = std::int16_t(-v);
  }
  return pcm;
}

// Converts the sound to the standard output format in the converter's
// 4096-byte blocks, flushing at the end; answers the output bytes.
std::int64_t ConvertAll(const TWaveFormatEx& in, const std::vector<std::int16_t>& pcm, std::vector<std::uint8_t>& out) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm.data());
  const std::int32_t total = std::int32_t(pcm.size() * 2), block = 4096;
  TPcmResampler r;
  std::int64_t made = 0;
  for (std::int32_t at = 0; at < total; at += block) {
    const std::int32_t n = total - at < block ? total - at : block;
    const std::int32_t most = r.Prepare(in, StandardOutputFormat(), n);
    if (std::size_t(most) > out.size()) out.resize(std::size_t(most));
    made += r.Resample(bytes + at, out.data());
  }
  const std::int32_t tail = r.FlushSize();
  if (std::size_t(tail) > out.size()) out.resize(std::size_t(tail));
  made += r.Flush(out.data());
  return made;
}

}  // namespace

// 48 kHz stereo 16-bit to the standard 44.1 kHz output, in the converter's
// 4096-byte blocks. "x_realtime" is seconds of sound made per second of work.
static void BM_Resample48kTo44k(benchmark::State& state) {
  const TWaveFormatEx in{1, 2, 48000, 192000, 4, 16, 0};
  const std::int32_t seconds = 10;
  const std::vector<std::int16_t> pcm = Stereo(48000, seconds);
  std::vector<std::uint8_t> out;
  for (auto _ : state) benchmark::DoNotOptimize(ConvertAll(in, pcm, out));
  state.SetBytesProcessed(state.iterations() * std::int64_t(pcm.size() * 2));
  state.SetItemsProcessed(state.iterations() * std::int64_t(pcm.size() / 2));
  state.counters["x_realtime"] =
      benchmark::Counter(double(seconds) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Resample48kTo44k)->Unit(benchmark::kMillisecond);

// A minute of stereo at the file's rate (the argument) brought to 44.1 kHz
// band-limited, as a converter does it for a music item: "core_pct" is the
// share of one core's real time it takes (the work over the sound's 60 s).
static void BM_ConvertAMinuteOfStereo(benchmark::State& state) {
  const std::uint32_t rate = std::uint32_t(state.range(0));
  const TWaveFormatEx in{1, 2, rate, rate * 4, 4, 16, 0};
  const std::vector<std::int16_t> pcm = Stereo(rate, 60);
  std::vector<std::uint8_t> out;
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(ConvertAll(in, pcm, out));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["core_pct"] = seconds / double(state.iterations()) / 60.0 * 100.0;
}
BENCHMARK(BM_ConvertAMinuteOfStereo)->Arg(48000)->Arg(96000)->Unit(benchmark::kMillisecond);
