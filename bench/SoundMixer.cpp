#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/Sound/PlatSoundMixer.h"

using namespace plat::sound;

namespace {

// Voices (eight unless said) of one format playing two-second rings with a little noise,
// one at -6 dB, mixed as SDL asks for it: 512 frames at a time.
void MixEight(benchmark::State& state, std::uint32_t rate, std::uint32_t channels, int voices = 8) {
  const std::uint32_t block = channels * 2, frames = rate * 2;
  std::vector<std::vector<std::uint8_t>> rings(std::size_t(voices), std::vector<std::uint8_t>(std::size_t(frames) * block));
  std::uint32_t seed = 1;
  for (auto& r : rings)
    for (auto& b : r) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  std::vector<std::unique_ptr<TMixSource>> sources;
  auto mixer = std::make_shared<TMixer>();
  TMixBus bus;
  bus.Attach(mixer);
  for (int i = 0; i < voices; ++i) {
    auto s = std::make_unique<TMixSource>();
    s->ring = rings[i].data();
    s->frames = frames;
    s->block = block;
    s->channels = channels;
    s->bits = 16;
    s->rate = rate;
    if (i == 0) s->gain = GainOfVolume(-600);
    mixer->Play(s.get());
    sources.push_back(std::move(s));
  }
  std::vector<std::int16_t> out(512 * 2);
  double ns = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    // One second of output.
    for (std::uint32_t done = 0; done < kOutRate; done += 512) {
      bus.Pull(out.data(), std::min<std::uint32_t>(512, kOutRate - done));
      benchmark::DoNotOptimize(out.data());
    }
    ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
  }
  const double perSecond = ns / double(state.iterations());
  state.counters["ns_per_out_s"] = perSecond;
  state.counters["core_pct"] = perSecond / 1e7;
  for (auto& s : sources) mixer->Stop(s.get());
}

}  // namespace

static void BM_MixEightStereo16At44100(benchmark::State& state) { MixEight(state, 44100, 2); }
BENCHMARK(BM_MixEightStereo16At44100)->Unit(benchmark::kMillisecond);

static void BM_MixEightMono16At48000(benchmark::State& state) { MixEight(state, 48000, 1); }
BENCHMARK(BM_MixEightMono16At48000)->Unit(benchmark::kMillisecond);

// One stereo ring of another rate, read through the mixer's band-limited
// converter: "core_pct" is its share of one core's real time.
static void BM_MixOneStereo16At48000(benchmark::State& state) { MixEight(state, 48000, 2, 1); }
BENCHMARK(BM_MixOneStereo16At48000)->Unit(benchmark::kMillisecond);

static void BM_MixOneStereo16At96000(benchmark::State& state) { MixEight(state, 96000, 2, 1); }
BENCHMARK(BM_MixOneStereo16At96000)->Unit(benchmark::kMillisecond);
