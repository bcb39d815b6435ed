// GIF animation speed: a 200-frame 640 x 480 animation (a full first frame,
// then a 320 x 240 sprite with transparent holes moving over it, disposals
// 1, 1, 2, 3 in turn; LZW-compressed as an encoder would write it). Figures:
// the open (scanning every frame), composing every frame in order (one decode
// each), composing frames in a shuffled order (walks from key frames), and
// the frames atlas (cut at its pixel limit: 85 tiles of 640 x 480).
//
//   taskset -c 3 build/<release>/bench/bench_GifAnimation

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "ZmLib/Graphics/zmGifLoader.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/zmModules.h"

using namespace zm;

namespace {

using Bytes = std::vector<std::uint8_t>;

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), GraphicsModules()}));
  return modules;
}

// Plain LZW with 8-bit roots, a clear code when the table is full.
Bytes Lzw(const Bytes& pixels) {
  Bytes out;
  std::uint32_t acc = 0;
  int n = 0, size = 9, next = 258;
  const auto put = [&](int code) {
    acc |= std::uint32_t(code) << n;
    for (n += size; n >= 8; n -= 8, acc >>= 8) out.push_back(std::uint8_t(acc));
  };
  std::unordered_map<std::uint32_t, int> table;
  put(256);
  int cur = pixels[0];
  for (std::size_t i = 1; i < pixels.size(); ++i) {
    const std::uint32_t key = std::uint32_t(cur) << 8 | pixels[i];
    const auto it = table.find(key);
    if (it != table.end()) {
      cur = it->second;
      continue;
    }
    put(cur);
    if (next < 4096) {
      table[key] = next++;
      if (next > (1 << size) && size < 12) ++size;
    } else {
      put(256);
      table.clear();
      size = 9;
      next = 258;
    }
    cur = pixels[i];
  }
  put(cur);
  if (next < 4096 && ++next > (1 << size) && size < 12) ++size;
  put(257);
  if (n > 0) out.push_back(std::uint8_t(acc));
  return out;
}

Bytes MakeAnimation(int frames) {
  const int sw = 640, sh = 480;
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  const auto u16 = [&](int v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
  };
  u16(sw);
  u16(sh);
  b.insert(b.end(), {0xF7, 0, 0});
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7)});
  b.insert(b.end(), {'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0});
  std::mt19937 rng(5);
  for (int f = 0; f < frames; ++f) {
    const bool full = f == 0;
    const int w = full ? sw : 320, h = full ? sh : 240;
    const int left = full ? 0 : (f * 7) % (sw - w), top = full ? 0 : (f * 5) % (sh - h);
    Bytes px(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int v = ((x / 16 + y / 12 + f) % 40) + 1;
        if (!full && ((x / 20 + y / 20) % 5 == 0)) v = 255;  // holes
        if (rng() % 50 == 0) v = int(rng() % 200) + 1;       // grain
        px[std::size_t(y) * std::size_t(w) + std::size_t(x)] = std::uint8_t(v);
      }
    static constexpr int kDisposal[4] = {1, 1, 2, 3};
    b.insert(b.end(), {'!', 0xF9, 4, std::uint8_t(kDisposal[f % 4] << 2 | 1), 4, 0, 255, 0});
    b.push_back(',');
    u16(left);
    u16(top);
    u16(w);
    u16(h);
    b.push_back(0);
    b.push_back(8);
    const Bytes data = Lzw(px);
    for (std::size_t i = 0; i < data.size(); i += 255) {
      const std::size_t m = std::min<std::size_t>(255, data.size() - i);
      b.push_back(std::uint8_t(m));
      b.insert(b.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + m));
    }
    b.push_back(0);
  }
  b.push_back(';');
  return b;
}

const Bytes& Animation() {
  static const Bytes a = MakeAnimation(200);
  return a;
}

TRef<TMemoryStream> StreamOf(const Bytes& b) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->Write(TWriteBuffer(b.data(), b.size()));
  s->SetPosition(0);
  return s;
}

TRef<TGifVideoSource> OpenSource(TMemoryStream* s) {
  TRef<TGifVideoSource> source = MakeRef<TGifVideoSource>(s, u"bench.gif", false);
  return source->Open() ? source : nullptr;
}

void BM_GifOpen(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> s = StreamOf(Animation());
  for (auto _ : state) {
    TRef<TGifVideoSource> source = OpenSource(s.get());
    if (!source) state.SkipWithError("open failed");
    benchmark::DoNotOptimize(source.get());
  }
  state.counters["bytes"] = double(Animation().size());
}
BENCHMARK(BM_GifOpen)->Unit(benchmark::kMillisecond);

// Every frame in order on a fresh source: one decode and one composition each.
void BM_GifComposeSequential(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> s = StreamOf(Animation());
  std::int64_t frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TRef<TGifVideoSource> source = OpenSource(s.get());
    TRef<TDirectBitmap> out = MakeRef<TDirectBitmap>(640, PixelFormatByName(TByteString("A8R8G8B8")), 480);
    state.ResumeTiming();
    for (std::int32_t n = 0; n < source->FrameCount(); ++n)
      if (!source->ComposeFrame(n, out.get())) state.SkipWithError("compose failed");
    frames += source->FrameCount();
  }
  state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GifComposeSequential)->Unit(benchmark::kMillisecond);

// 200 frames in a shuffled order: each jump walks from the nearest key frame.
void BM_GifComposeShuffled(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> s = StreamOf(Animation());
  std::vector<std::int32_t> order(200);
  for (int i = 0; i < 200; ++i) order[std::size_t(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(3));
  std::int64_t frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TRef<TGifVideoSource> source = OpenSource(s.get());
    TRef<TDirectBitmap> out = MakeRef<TDirectBitmap>(640, PixelFormatByName(TByteString("A8R8G8B8")), 480);
    state.ResumeTiming();
    for (std::int32_t n : order)
      if (!source->ComposeFrame(n, out.get())) state.SkipWithError("compose failed");
    frames += std::int64_t(order.size());
  }
  state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GifComposeShuffled)->Unit(benchmark::kMillisecond);

void BM_GifFramesAtlas(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> s = StreamOf(Animation());
  std::int32_t tiles = 0;
  for (auto _ : state) {
    s->SetPosition(0);
    TRef<TBitmapStore> store = LoadGif(s.get(), u"bench.gif|framesatlas", false, {}, true);
    if (!store) state.SkipWithError("atlas failed");
    else if (TTilesTag* tag = store->FindTag<TTilesTag>()) tiles = tag->FrameCount;
  }
  state.counters["tiles"] = tiles;
}
BENCHMARK(BM_GifFramesAtlas)->Unit(benchmark::kMillisecond);

}  // namespace
