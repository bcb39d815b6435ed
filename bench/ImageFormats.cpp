// Picture formats other than JPEG: a 24-megapixel PNG decoded through the
// external picture library (the zmPngLib plug-in, opened through the loader
// registry from a stream as a show's entry is) beside libpng's own decode of
// the same bytes in memory (rows into one buffer, the same transforms: the
// like-for-like yardstick) and beside pngtopnm on the same file (a process
// per run, start-up and output included); and a 1920 x 1080 24-bit BMP
// through the BMP loader. The pictures are made when the benchmark starts.
//
//   taskset -c 3 build/<release>/bench/bench_ImageFormats
// The plug-in is looked for in ../Oru/Common/Linux from the program's folder,
// or at $ZM_PNGLIB.

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmImageLib.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmModules.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;

namespace {

constexpr int kPngWidth = 6000, kPngHeight = 4000;
constexpr int kBmpWidth = 1920, kBmpHeight = 1080;

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), GraphicsModules()}));
  return modules;
}

// The plug-in registered for ".png"; false when it is not there.
bool PngLibrary() {
  static const bool registered = [] {
    Modules();
    std::string path;
    if (plat::GetEnv("ZM_PNGLIB", path) && !path.empty()) return RegisterImageLibrary(plat::FromUtf8(path), {u".png"});
    return RegisterImageLibrary(u"..\\Oru\\Common\\Linux\\libzmPngLib.so", {u".png"});
  }();
  return registered;
}

void MegapixelRate(benchmark::State& state, std::int64_t pixelsPerIteration) {
  state.counters["MP/s"] = benchmark::Counter(double(pixelsPerIteration) * double(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
}

// Photograph-like RGB: smooth shapes, checks and grain (grain keeps the PNG
// from shrinking to nothing, as with real photographs).
std::vector<std::uint8_t> PhotoPixels(int w, int h) {
  std::vector<std::uint8_t> rgb(std::size_t(w) * std::size_t(h) * 3);
  std::mt19937 rng(11);
  std::vector<std::uint8_t> grain(1 << 16);
  for (auto& g : grain) g = std::uint8_t(rng() % 12);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double fx = double(x) / w, fy = double(y) / h;
      const int n = grain[std::size_t((x * 31 + y * 17) & 0xFFFF)];
      const bool stripe = ((x / 150) + (y / 150)) % 2 == 0;
      std::uint8_t* c = &rgb[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3];
      c[0] = std::uint8_t(std::clamp(int(120 + 100 * std::sin(fx * 9) * fy) + n + (stripe ? 20 : 0), 0, 255));
      c[1] = std::uint8_t(std::clamp(int(110 + 90 * std::cos(fy * 7 + fx * 3)) + n, 0, 255));
      c[2] = std::uint8_t(std::clamp(int(60 + 150 * fx * fy) + n - (stripe ? 20 : 0), 0, 255));
    }
  return rgb;
}

struct TBigPng {
  zmbench::TBenchFolder Folder;
  std::string Path;
  std::string Bytes;
  TBigPng() {
    const std::vector<std::uint8_t> rgb = PhotoPixels(kPngWidth, kPngHeight);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = kPngWidth;
    image.height = kPngHeight;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr);
    Bytes.resize(size);
    if (!png_image_write_to_memory(&image, Bytes.data(), &size, 0, rgb.data(), 0, nullptr)) Bytes.clear();
    Bytes.resize(size);
    png_image_free(&image);
    Path = Folder.File("big.png");
    zmtest::WriteFileBytes(Path, Bytes);
  }
};

const TBigPng& BigPng() {
  static const TBigPng p;
  return p;
}

void Put16(std::string& s, std::uint32_t v) { s += char(v & 0xFF), s += char((v >> 8) & 0xFF); }
void Put32(std::string& s, std::uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// A 24-bit bottom-up BMP of the same kind of picture.
const std::string& FullHdBmp() {
  static const std::string bmp = [] {
    const std::vector<std::uint8_t> rgb = PhotoPixels(kBmpWidth, kBmpHeight);
    const std::uint32_t stride = (kBmpWidth * 3 + 3) & ~3u, data = stride * kBmpHeight;
    std::string s = "BM";
    Put32(s, 54 + data), Put32(s, 0), Put32(s, 54);
    Put32(s, 40), Put32(s, kBmpWidth), Put32(s, kBmpHeight), Put16(s, 1), Put16(s, 24);
    Put32(s, 0), Put32(s, data), Put32(s, 2835), Put32(s, 2835), Put32(s, 0), Put32(s, 0);
    for (int y = kBmpHeight - 1; y >= 0; --y) {
      const std::uint8_t* row = &rgb[std::size_t(y) * kBmpWidth * 3];
      for (int x = 0; x < kBmpWidth; ++x) s += char(row[x * 3 + 2]), s += char(row[x * 3 + 1]), s += char(row[x * 3]);
      s.append(stride - kBmpWidth * 3, '\0');
    }
    return s;
  }();
  return bmp;
}

// Level 0 of the first store the registry makes of the stream.
std::int64_t DecodeLevel0(TStream* stream, const char16_t* name) {
  TRef<TBitmapStore> store = LoadBitmapStore(stream, name, true, {});
  if (!store) return -1;
  TBitmap* b = store->GetMipLevel(0, nullptr, nullptr);
  if (!b) return -1;
  benchmark::DoNotOptimize(b);
  return std::int64_t(b->Width()) * b->Height();
}

// ---- PNG -------------------------------------------------------------------------------------

void BM_PngDecode(benchmark::State& state) {
  if (!PngLibrary()) return state.SkipWithError("libzmPngLib.so not found (build zmPngLib, or set ZM_PNGLIB)");
  const TBigPng& png = BigPng();
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(png.Bytes);
  std::int64_t pixels = 0;
  for (auto _ : state) {
    s->SetPosition(0);
    s->AddRef();  // handed over: the store keeps it
    if ((pixels = DecodeLevel0(s.get(), u"big.png")) < 0) return state.SkipWithError("the PNG did not decode");
  }
  MegapixelRate(state, pixels);
  state.counters["file_MB"] = double(png.Bytes.size()) / 1e6;
}
BENCHMARK(BM_PngDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same from the file.
void BM_PngDecodeFile(benchmark::State& state) {
  if (!PngLibrary()) return state.SkipWithError("libzmPngLib.so not found (build zmPngLib, or set ZM_PNGLIB)");
  const TBigPng& png = BigPng();
  const WideString path = plat::FromUtf8(png.Path);
  std::int64_t pixels = 0;
  for (auto _ : state) {
    TRef<TFileStream> f = OpenFileForRead(path);
    if ((pixels = DecodeLevel0(f.Detach(), u"big.png")) < 0) return state.SkipWithError("the PNG did not decode");
  }
  MegapixelRate(state, pixels);
}
BENCHMARK(BM_PngDecodeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

struct TMemoryReader {
  const std::string* Bytes;
  std::size_t At = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<TMemoryReader*>(png_get_io_ptr(png));
  if (n > r->Bytes->size() - r->At) png_error(png, "read past the end");
  std::memcpy(out, r->Bytes->data() + r->At, n);
  r->At += n;
}

// libpng's own decode of the same bytes with the plug-in's transforms, the
// rows into one buffer: the yardstick for BM_PngDecode.
std::int64_t LibpngDecode(const std::string& bytes, std::vector<std::uint8_t>& row) {
  TMemoryReader reader{&bytes};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::int64_t pixels = -1;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, &reader, &ReadFromMemory);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    row.resize(png_get_rowbytes(png, info));
    for (int p = 0; p < passes; ++p)
      for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, row.data(), nullptr);
    png_read_end(png, nullptr);
    pixels = std::int64_t(w) * h;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return pixels;
}

void BM_LibpngDecode(benchmark::State& state) {
  const TBigPng& png = BigPng();
  std::vector<std::uint8_t> row;
  std::int64_t pixels = 0;
  for (auto _ : state) {
    if ((pixels = LibpngDecode(png.Bytes, row)) < 0) return state.SkipWithError("libpng failed");
    benchmark::DoNotOptimize(row.data());
  }
  MegapixelRate(state, pixels);
}
BENCHMARK(BM_LibpngDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

// pngtopnm on the file: a process per run.
void BM_Pngtopnm(benchmark::State& state) {
  const TBigPng& png = BigPng();
  if (std::system("command -v pngtopnm >/dev/null 2>&1") != 0)
    return state.SkipWithError("pngtopnm (netpbm) is not installed");
  const std::string command = "pngtopnm '" + png.Path + "' >/dev/null 2>&1";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) return state.SkipWithError("pngtopnm failed");
  MegapixelRate(state, std::int64_t(kPngWidth) * kPngHeight);
}
BENCHMARK(BM_Pngtopnm)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- BMP -------------------------------------------------------------------------------------

void BM_BmpDecode(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(FullHdBmp());
  std::int64_t pixels = 0;
  for (auto _ : state) {
    s->SetPosition(0);
    s->AddRef();
    if ((pixels = DecodeLevel0(s.get(), u"full.bmp")) < 0) return state.SkipWithError("the BMP did not decode");
  }
  MegapixelRate(state, pixels);
}
BENCHMARK(BM_BmpDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
