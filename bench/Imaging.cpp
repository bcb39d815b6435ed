// Imaging speed: decoding a 24-megapixel JPEG at 1/1, 1/2, 1/4 and 1/8
// through the loader (from memory and from the file), side by side with
// libjpeg's own decode of the same bytes at the same scale (what djpeg does,
// in-process) and with djpeg itself (a process per run); the two alpha-blend
// row routines; the bilinear resizes. Rates in megapixels per second count
// the pixels written.
//
//   taskset -c 2-5 build/<release>/bench/bench_Imaging --benchmark_filter='[Jj]peg'
//
// (several cores: the loader's default decodes large pictures in two strips
// on two threads; threads:1 is one decoder, like libjpeg's own figure).

#include <benchmark/benchmark.h>

#include <cstdio>
// jpeglib.h wants size_t and FILE declared first.
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "ZmLib/Graphics/SysAlphaRow.h"
#include "ZmLib/Graphics/SysBilinearSampler.h"
#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmJpegLoader.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmModules.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;

namespace {

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), GraphicsModules()}));
  return modules;
}

void MegapixelRate(benchmark::State& state, std::int64_t pixelsPerIteration) {
  state.counters["MP/s"] = benchmark::Counter(double(pixelsPerIteration) * double(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
}

// A 6000 x 4000 photograph-like picture (smooth shapes, edges and grain),
// quality 90, 4:2:0, written once into a temporary folder.
struct TBigJpeg {
  zmbench::TBenchFolder Folder;
  std::string Path;
  std::string Bytes;
  TBigJpeg() {
    zmtest::TJpegOptions opts;
    opts.Width = 6000;
    opts.Height = 4000;
    opts.Quality = 90;
    std::mt19937 rng(11);
    std::vector<std::uint8_t> grain(1 << 16);
    for (auto& g : grain) g = std::uint8_t(rng() % 24);
    opts.Pixel = [&grain](int x, int y, std::uint8_t* c) {
      const double fx = x / 6000.0, fy = y / 4000.0;
      const int n = grain[std::size_t((x * 31 + y * 17) & 0xFFFF)];
      const bool stripe = ((x / 150) + (y / 150)) % 2 == 0;
      c[0] = std::uint8_t(std::clamp(int(120 + 100 * std::sin(fx * 9) * fy) + n + (stripe ? 20 : 0), 0, 255));
      c[1] = std::uint8_t(std::clamp(int(110 + 90 * std::cos(fy * 7 + fx * 3)) + n, 0, 255));
      c[2] = std::uint8_t(std::clamp(int(60 + 150 * fx * fy) + n - (stripe ? 20 : 0), 0, 255));
    };
    Bytes = zmtest::WriteJpeg(opts);
    Path = Folder.File("big.jpg");
    zmtest::WriteFileBytes(Path, Bytes);
  }
};

const TBigJpeg& BigJpeg() {
  static const TBigJpeg j;
  return j;
}

// The loader's decode of one level through the store, from the picture's
// bytes in memory handed over as the player hands its streams (decoded in
// place, no copy), the store made anew each time; threads: the decoders
// one decode may run (0: as many as the loader takes by default).
void BM_JpegDecode(benchmark::State& state) {
  Modules();
  const TBigJpeg& jpeg = BigJpeg();
  const auto level = std::int32_t(state.range(0));
  SetJpegDecodeThreads(std::int32_t(state.range(1)));
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(jpeg.Bytes);
  std::int64_t pixels = 0;
  for (auto _ : state) {
    s->SetPosition(0);
    s->AddRef();  // handed over: the store keeps it
    TRef<TBitmapStore> store = LoadJpegBitmapStore(s.get(), u"big.jpg", true, {});
    TBitmap* b = store->GetMipLevel(level, nullptr, nullptr);
    pixels = std::int64_t(b->Width()) * b->Height();
    benchmark::DoNotOptimize(b);
  }
  SetJpegDecodeThreads(0);
  MegapixelRate(state, pixels);
}
BENCHMARK(BM_JpegDecode)
    ->ArgNames({"level", "threads"})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same from the file: opened as a file is, read in blocks at the decode.
void BM_JpegDecodeFile(benchmark::State& state) {
  Modules();
  const TBigJpeg& jpeg = BigJpeg();
  const auto level = std::int32_t(state.range(0));
  const WideString path(jpeg.Path.begin(), jpeg.Path.end());
  std::int64_t pixels = 0;
  for (auto _ : state) {
    TRef<TFileStream> f = OpenFileForRead(path);
    TRef<TBitmapStore> store = LoadJpegBitmapStore(f.Detach(), u"big.jpg", true, {});
    TBitmap* b = store->GetMipLevel(level, nullptr, nullptr);
    pixels = std::int64_t(b->Width()) * b->Height();
    benchmark::DoNotOptimize(b);
  }
  MegapixelRate(state, pixels);
}
BENCHMARK(BM_JpegDecodeFile)->ArgName("level")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

// What djpeg does, without its process and output file: libjpeg's own
// decode of the same bytes in memory at the same scale, with its defaults,
// the rows into one small buffer. The yardstick for BM_JpegDecode.
void BM_LibjpegDecode(benchmark::State& state) {
  const TBigJpeg& jpeg = BigJpeg();
  const unsigned denom = 1u << state.range(0);
  std::int64_t pixels = 0;
  std::vector<std::uint8_t> rows;
  for (auto _ : state) {
    jpeg_decompress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.Bytes.data()),
                 static_cast<unsigned long>(jpeg.Bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = denom;
    jpeg_start_decompress(&info);
    const std::size_t stride = std::size_t(info.output_width) * std::size_t(info.output_components);
    const int group = std::max(info.rec_outbuf_height, 1);
    rows.resize(stride * std::size_t(group));
    JSAMPROW ptrs[16];
    for (int k = 0; k < group && k < 16; ++k) ptrs[k] = rows.data() + stride * std::size_t(k);
    while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, ptrs, JDIMENSION(std::min(group, 16)));
    pixels = std::int64_t(info.output_width) * info.output_height;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(rows.data());
  }
  MegapixelRate(state, pixels);
}
BENCHMARK(BM_LibjpegDecode)->ArgName("level")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

// djpeg itself on the file: a process per run, so its start-up and its
// output are part of its figure.
void BM_Djpeg(benchmark::State& state) {
  const TBigJpeg& jpeg = BigJpeg();
  const int denom = 1 << state.range(0);
  const std::string command =
      "djpeg -scale 1/" + std::to_string(denom) + " -outfile /dev/null '" + jpeg.Path + "' 2>/dev/null";
  if (std::system("djpeg -version >/dev/null 2>&1") != 0) {
    state.SkipWithError("djpeg (libjpeg-turbo-progs) is not installed");
    return;
  }
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("djpeg failed");
  MegapixelRate(state, (6000 / denom) * (4000 / denom));
}
BENCHMARK(BM_Djpeg)->ArgName("level")->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Alpha-blend rows ---------------------------------------------------------------------

void AlphaRows(benchmark::State& state, TAlphaBlendRowProc proc) {
  Modules();
  constexpr int kPixels = 1920;
  std::vector<std::uint8_t> a(kPixels * 4), b(kPixels * 4), d(kPixels * 4);
  std::mt19937 rng(3);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = std::uint8_t(rng()), b[i] = std::uint8_t(rng());
  int alpha = 0;
  for (auto _ : state) {
    proc(d.data(), a.data(), b.data(), alpha, kPixels * 4);
    alpha = (alpha + 37) & 255;
    benchmark::DoNotOptimize(d.data());
  }
  MegapixelRate(state, kPixels);
}
void BM_AlphaBlendRowPlain(benchmark::State& state) { AlphaRows(state, &AlphaBlendRowPlain); }
void BM_AlphaBlendRowSSE2(benchmark::State& state) { AlphaRows(state, &AlphaBlendRowSSE2); }
BENCHMARK(BM_AlphaBlendRowPlain);
BENCHMARK(BM_AlphaBlendRowSSE2);

// ---- Bilinear resizes -----------------------------------------------------------------------

TRef<TSysBitmap> Picture(std::int32_t w, std::int32_t h, TPixelFormat* f) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, f);
  std::mt19937 rng(9);
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* p = b->ScanLine(y);
    for (std::int32_t i = 0; i < w * f->BytesPerPixel; ++i) p[i] = std::uint8_t(rng());
  }
  return b;
}

// A bitmap-to-bitmap operation from a source of one size to a target of
// the size in the arguments.
template <bool (*Op)(TSysBitmap*, TSysBitmap*)>
void BitmapOp(benchmark::State& state, std::int32_t sw, std::int32_t sh, TPixelFormat* format) {
  Modules();
  TRef<TSysBitmap> src = Picture(sw, sh, format);
  TRef<TSysBitmap> dst = CreateSysBitmap(std::int32_t(state.range(0)), std::int32_t(state.range(1)), format);
  for (auto _ : state) Op(src.get(), dst.get());
  MegapixelRate(state, state.range(0) * state.range(1));
}

void BM_ResizeBilinear32(benchmark::State& state) { BitmapOp<&ResizeBilinear32>(state, 3000, 2000, pfA8R8G8B8); }
void BM_ResizeBilinear24(benchmark::State& state) { BitmapOp<&ResizeBilinear24>(state, 3000, 2000, pfR8G8B8); }
void BM_HalveBitmap24(benchmark::State& state) { BitmapOp<&HalveBitmap24>(state, 6000, 4000, pfR8G8B8); }
BENCHMARK(BM_ResizeBilinear32)->Args({1920, 1080})->Args({4800, 3200})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeBilinear24)->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalveBitmap24)->Args({3000, 2000})->Unit(benchmark::kMillisecond);

// The resampler of pixel layouts, 3000 x 2000 to the size in the arguments.
void BM_BilinearResizeLayout(benchmark::State& state) {
  Modules();
  TRef<TSysBitmap> src = Picture(3000, 2000, pfA8R8G8B8);
  TPixelLayout s = GetBitmapLayout(src.get());
  TPixelLayout d(std::int32_t(state.range(0)), std::int32_t(state.range(1)), 32);
  for (auto _ : state) BilinearResizeLayout(s, d);
  MegapixelRate(state, state.range(0) * state.range(1));
}
BENCHMARK(BM_BilinearResizeLayout)->Args({1920, 1080})->Args({4800, 3200})->Unit(benchmark::kMillisecond);

}  // namespace
