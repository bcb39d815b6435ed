#include "ZmLib/Graphics/zmImageLib.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/_MyUtils.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/TestData.h"

using namespace zm;

namespace {

using TBytes = std::vector<std::uint8_t>;

const std::filesystem::path kSuite = std::filesystem::path(ZM_TESTDATA_DIR) / "pngsuite" / "png";

TBytes FileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t BE32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Calls F(offset of the chunk, length, type) for each whole chunk.
template <class F>
void EachChunk(const TBytes& b, F f) {
  for (std::size_t at = 8; at + 12 <= b.size();) {
    const std::uint32_t len = BE32(&b[at]);
    if (len > b.size() - at - 12) break;
    f(at, len, std::string(reinterpret_cast<const char*>(&b[at + 4]), 4));
    at += 12 + len;
  }
}

// The library takes colours as stored, so the reference must not apply the
// file's gamma or colour space.
TBytes WithoutColourChunks(const TBytes& b) {
  TBytes out(b.begin(), b.begin() + 8);
  EachChunk(b, [&](std::size_t at, std::uint32_t len, const std::string& type) {
    if (type != "gAMA" && type != "cHRM" && type != "sRGB" && type != "iCCP")
      out.insert(out.end(), b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + 12 + len));
  });
  return out;
}

// libpng's own simplified reader: B, G, R, A with straight alpha, 16-bit
// samples scaled as sRGB.
struct TReference {
  bool Ok = false;
  bool Alpha = false;
  std::int32_t Width = 0, Height = 0;
  TBytes Bgra;
};

TReference Reference(const TBytes& file) {
  TReference r;
  const TBytes b = WithoutColourChunks(file);
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, b.data(), b.size())) return r;
  img.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  r.Alpha = (img.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  img.format = PNG_FORMAT_BGRA;
  r.Bgra.resize(PNG_IMAGE_SIZE(img));
  r.Ok = png_image_finish_read(&img, nullptr, r.Bgra.data(), 0, nullptr) != 0;
  r.Width = std::int32_t(img.width);
  r.Height = std::int32_t(img.height);
  return r;
}

TBytes WritePng(std::int32_t w, std::int32_t h, const TBytes& rgba) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = png_uint_32(w);
  img.height = png_uint_32(h);
  img.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&img, nullptr, &size, 0, rgba.data(), 0, nullptr);
  TBytes out(size);
  EXPECT_TRUE(png_image_write_to_memory(&img, out.data(), &size, 0, rgba.data(), 0, nullptr));
  out.resize(size);
  return out;
}

std::vector<std::filesystem::path> SuiteFiles(bool damaged) {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(kSuite))
    if (e.path().extension() == ".png" && (e.path().filename().string()[0] == 'x') == damaged)
      files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

TSysBitmap* Level0(TBitmapStore* store) {
  return dynamic_cast<TSysBitmap*>(store->GetMipLevel(0, nullptr, nullptr));
}

int FakeCloseCount(const char* lib) {
  void* h = nullptr;
  if (!LoadDll(h, plat::FromUtf8(lib))) return -1;
  int* count = nullptr;
  LoadDllProc(h, "FakeCloseCount", true, count);
  const int n = count ? *count : -1;
  WinFreeLibrary(h);
  return n;
}

class ImageLibTest : public ::testing::Test {
protected:
  void SetUp() override { ClearImageLibraries(); }
  void TearDown() override { ClearImageLibraries(); }
  static void Register(const char* path, std::initializer_list<const char16_t*> ext = {u".png"}) {
    ASSERT_TRUE(RegisterImageLibrary(plat::FromUtf8(path), ext)) << path;
  }
};

}  // namespace

TEST_F(ImageLibTest, PngSuiteDecodesAsLibpngReadsIt) {
  ZM_SKIP_WITHOUT_TESTDATA("pngsuite");
  Register(ZM_PNGLIB_FILE);
  const auto files = SuiteFiles(false);
  ASSERT_GT(files.size(), 150u);
  for (const auto& f : files) {
    SCOPED_TRACE(f.filename().string());
    const TBytes bytes = FileBytes(f);
    // libpng's simplified reader gets interlaced 16-bit pictures wrong: those
    // are compared with their non-interlaced twin of the suite.
    const std::string name = f.filename().string();
    const bool twin = bytes.size() > 28 && bytes[24] == 16 && bytes[28] == 1;
    const TReference ref = Reference(twin ? FileBytes(kSuite / ("basn" + name.substr(4))) : bytes);
    ASSERT_TRUE(ref.Ok);
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(bytes);
    TRef<TBitmapStore> store = LoadImageLibStore(s.get(), plat::FromUtf8(f.filename().string()), false, {});
    ASSERT_TRUE(store);
    auto* lib = static_cast<TImageLibStore*>(store.get());
    const std::int32_t bpp = ref.Alpha ? 32 : 24;
    ASSERT_EQ(lib->Record().BitsPerPixel, bpp);
    TSysBitmap* b = Level0(store.get());
    ASSERT_TRUE(b);
    ASSERT_EQ(b->Width(), ref.Width);
    ASSERT_EQ(b->Height(), ref.Height);
    int bad = 0;
    for (std::int32_t y = 0; y < ref.Height; ++y) {
      const std::uint8_t* row = b->ScanLine(y);
      for (std::int32_t x = 0; x < ref.Width && bad < 3; ++x) {
        const std::uint8_t* e = &ref.Bgra[(std::size_t(y) * ref.Width + x) * 4];
        const std::uint8_t* g = row + x * (bpp / 8);
        // Invisible pixels take their neighbours' colour: only alpha counts.
        const bool invisible = bpp == 32 && e[3] == 0;
        bool same = bpp == 24 ? e[3] == 255 : g[3] == e[3];
        for (int c = 0; c < 3 && !invisible; ++c) same = same && g[c] == e[c];
        if (!same) {
          ++bad;
          ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(g[0]) << " " << int(g[1]) << " " << int(g[2])
                        << " expected " << int(e[0]) << " " << int(e[1]) << " " << int(e[2]) << " " << int(e[3]);
        }
      }
    }
  }
}

TEST_F(ImageLibTest, DamagedFilesAreDeclinedAndTheStreamKept) {
  ZM_SKIP_WITHOUT_TESTDATA("pngsuite");
  Register(ZM_PNGLIB_FILE);
  const auto files = SuiteFiles(true);
  ASSERT_GE(files.size(), 14u);
  std::vector<TBytes> inputs;
  for (const auto& f : files) inputs.push_back(FileBytes(f));
  // Cut short anywhere, and an empty stream.
  const TBytes good = FileBytes(kSuite / "basn2c08.png");
  ASSERT_GT(good.size(), 100u);
  for (std::size_t n : {std::size_t(0), std::size_t(7), std::size_t(8), std::size_t(33), good.size() / 2,
                        good.size() - 12, good.size() - 1})
    inputs.emplace_back(good.begin(), good.begin() + std::ptrdiff_t(n));
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const TBytes& in = inputs[i];
    SCOPED_TRACE(i < files.size() ? files[i].filename().string() : std::to_string(in.size()) + " bytes");
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(in);
    s->AddRef();  // kept in case the loader takes it over
    TRef<TMemoryStream> keep = TRef<TMemoryStream>::Adopt(s.get());
    if (!in.empty()) s->SetPosition(1);
    const std::int32_t refs = s->RefCount();
    EXPECT_FALSE(LoadImageLibStore(s.get(), u"bad.png", true, {}));
    EXPECT_EQ(s->GetPosition(), in.empty() ? 0 : 1);
    EXPECT_EQ(s->RefCount(), refs);
  }
}

TEST_F(ImageLibTest, BrokenDataInsideTheImageGivesAPictureOfItsSize) {
  ZM_SKIP_WITHOUT_TESTDATA("pngsuite");
  Register(ZM_PNGLIB_FILE);
  for (const char* name : {"basn2c08.png", "basi6a16.png", "basn3p02.png"}) {
    SCOPED_TRACE(name);
    TBytes b = FileBytes(kSuite / name);
    // Wreck the compressed data but keep the chunk whole.
    EachChunk(b, [&](std::size_t at, std::uint32_t len, const std::string& type) {
      if (type != "IDAT" || len < 8) return;
      for (std::size_t i = at + 8 + 2; i < at + 8 + len; i += 3) b[i] ^= 0x5A;
      const std::uint32_t crc = std::uint32_t(crc32(0, &b[at + 4], len + 4));
      for (int k = 0; k < 4; ++k) b[at + 8 + len + std::size_t(k)] = std::uint8_t(crc >> (24 - 8 * k));
    });
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(b);
    TRef<TBitmapStore> store = LoadImageLibStore(s.get(), u"a.png", false, {});
    ASSERT_TRUE(store);
    TSysBitmap* level = Level0(store.get());
    ASSERT_TRUE(level);
    EXPECT_EQ(level->Width(), 32);
    EXPECT_TRUE(store->GetMipLevel(3, nullptr, nullptr));
  }
}

TEST_F(ImageLibTest, RegistrationAndNames) {
  ZM_SKIP_WITHOUT_TESTDATA("pngsuite");
  EXPECT_FALSE(RegisterImageLibrary(u"/no/such/folder/libzmPngLib.so", {u".png"}));
  EXPECT_FALSE(RegisterImageLibrary(u"..\\no-such-lib.so", {u".png"}));
  EXPECT_EQ(ImageLibraryCount(), 0);
  const std::int32_t loaders = ImageLoaderCount();
  Register(ZM_PNGLIB_FILE, {u"png", u"*.PnG", u".x"});
  EXPECT_EQ(ImageLoaderCount(), loaders + 2);
  const TBytes png = FileBytes(kSuite / "basn2c08.png");
  for (const char16_t* name : {u"PIC.PNG", u"dir.x\\a.Png", u"b.x"}) {
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(png);
    EXPECT_TRUE(LoadImageLibStore(s.get(), name, false, {})) << plat::ToUtf8(name);
  }
  // A PNG is read by what it holds, whatever its name; other bytes under a
  // name of no library's are left to the others.
  for (const char16_t* name : {u"a.gif", u"png", u"a.png.bak", u"a.jpg", u""}) {
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(png);
    EXPECT_TRUE(LoadImageLibStore(s.get(), name, false, {})) << plat::ToUtf8(name);
    TRef<TMemoryStream> other = zmtest::MemoryStreamOf(std::string("GIF89a and more"));
    EXPECT_FALSE(LoadImageLibStore(other.get(), name, false, {})) << plat::ToUtf8(name);
  }
  EXPECT_FALSE(LoadImageLibStore(nullptr, u"a.png", false, {}));
  // Through the loader table; a ".bmp" holding PNG data goes to the PNG loaders.
  for (const char16_t* name : {u"a.png", u"a.bmp"}) {
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(png);
    TRef<TBitmapStore> store = LoadBitmapStore(s.get(), name, false, {});
    EXPECT_TRUE(dynamic_cast<TImageLibStore*>(store.get())) << plat::ToUtf8(name);
  }
  ClearImageLibraries();
  EXPECT_EQ(ImageLoaderCount(), loaders);
  // Relative to the folder the program loads its own libraries from,
  // written the Windows way.
  WideString relative = plat::FromUtf8(ZM_PNGLIB_FROM_CODE_DIR);
  std::replace(relative.begin(), relative.end(), u'/', u'\\');
  ASSERT_EQ(relative.substr(0, 3), u"..\\");
  EXPECT_TRUE(RegisterImageLibrary(relative, {u".png"}));
  EXPECT_TRUE(ImageLibraryAt(0));
}

TEST_F(ImageLibTest, TheFirstLibraryThatOpensThePictureWins) {
  ZM_SKIP_WITHOUT_TESTDATA("pngsuite");
  const int closed = FakeCloseCount(ZM_FAKELIB_DEPTH16);
  Register(ZM_FAKELIB_DEPTH16);       // opens with a depth nobody takes
  Register(ZM_FAKELIB_NO_OPEN_FILE);  // lacks an entry point
  Register(ZM_PNGLIB_FILE);
  Register(ZM_PNGLIB_FILE);
  const TBytes png = FileBytes(kSuite / "basn6a08.png");
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(png);
  TRef<TBitmapStore> store = LoadImageLibStore(s.get(), u"a.png", false, {});
  ASSERT_TRUE(store);
  EXPECT_EQ(static_cast<TImageLibStore*>(store.get())->Lib(), ImageLibraryAt(2).get());
  EXPECT_NE(ImageLibraryAt(2), ImageLibraryAt(3));
  EXPECT_FALSE(ImageLibraryAt(1));
  EXPECT_FALSE(ImageLibraryAt(4));
  EXPECT_FALSE(ImageLibraryAt(-1));
  EXPECT_EQ(FakeCloseCount(ZM_FAKELIB_DEPTH16), closed + 1);
  // Alone, the incomplete library declines everything.
  ClearImageLibraries();
  Register(ZM_FAKELIB_NO_OPEN_FILE);
  s->SetPosition(0);
  EXPECT_FALSE(LoadImageLibStore(s.get(), u"a.png", false, {}));
}

TEST_F(ImageLibTest, ALibraryThatDeliversNoRowsRaises) {
  Register(ZM_FAKELIB_NO_ROWS);
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(TBytes{1, 2, 3});
  TRef<TBitmapStore> store = LoadImageLibStore(s.get(), u"a.png", false, {});
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Params.Width, 2);
  EXPECT_THROW(store->GetMipLevel(0, nullptr, nullptr), EImageLib);
  EXPECT_THROW(store->GetMipLevel(1, nullptr, nullptr), EImageLib);
}

TEST_F(ImageLibTest, OwnedStreamGoesAndRowsOutliveTheStore) {
  ZM_SKIP_WITHOUT_TESTDATA("pngsuite");
  Register(ZM_PNGLIB_FILE);
  const TBytes png = FileBytes(kSuite / "basn6a08.png");
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(png);
  s->AddRef();  // the reference the loader takes over
  const std::int32_t refs = s->RefCount();
  TRef<TBitmapStore> store = LoadImageLibStore(s.get(), u"a.png", true, {});
  ASSERT_TRUE(store);
  EXPECT_EQ(s->RefCount(), refs - 1);
  s = nullptr;  // the rows are read after the stream is gone
  TRef<TBitmap> level(store->GetMipLevel(0, nullptr, nullptr));
  TRef<TBitmap> half(store->GetMipLevel(1, nullptr, nullptr));
  ASSERT_TRUE(level && half);
  EXPECT_EQ(half->Width(), 16);
  store = nullptr;
  auto* rows = dynamic_cast<TSysBitmap*>(level.get());
  ASSERT_TRUE(rows);
  const TReference ref = Reference(png);
  EXPECT_EQ(0, std::memcmp(rows->ScanLine(31) + 31 * 4, &ref.Bgra[(31 * 32 + 31) * 4], 4));
}

TEST_F(ImageLibTest, InvisiblePixelsTakeTheirNeighboursColour) {
  Register(ZM_PNGLIB_FILE);
  // Red, with a black hole of alpha 0 in the middle.
  TBytes rgba;
  for (int i = 0; i < 8 * 8; ++i) {
    const bool hole = i == 3 * 8 + 3;
    rgba.insert(rgba.end(), {std::uint8_t(hole ? 0 : 255), 0, 0, std::uint8_t(hole ? 0 : 255)});
  }
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(WritePng(8, 8, rgba));
  TRef<TBitmapStore> store = LoadImageLibStore(s.get(), u"hole.png", false, {});
  ASSERT_TRUE(store);
  TSysBitmap* b = Level0(store.get());
  ASSERT_TRUE(b);
  const std::uint8_t* p = b->ScanLine(3) + 3 * 4;
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 0);
  EXPECT_GE(p[2], 254);  // the averaging divides by multiplying
  EXPECT_EQ(p[3], 0);
}

TEST_F(ImageLibTest, ThreadsShareTheLibraryAsItLoads) {
  ZM_SKIP_WITHOUT_TESTDATA("pngsuite");
  Register(ZM_PNGLIB_FILE);
  const TBytes png = FileBytes(kSuite / "basi4a16.png");
  // Loaded by the first thread that needs it; one store read by all.
  TRef<TMemoryStream> shared = zmtest::MemoryStreamOf(png);
  TRef<TBitmapStore> sharedStore = LoadImageLibStore(shared.get(), u"a.png", false, {});
  ASSERT_TRUE(sharedStore);
  ClearImageLibraries();
  Register(ZM_PNGLIB_FILE);
  std::atomic<int> wrong{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  // Invisible pixels depend on the correction's alternating phase: only
  // their alpha is compared.
  auto rowsOf = [](TSysBitmap* b) {
    TBytes all;
    for (std::int32_t y = 0; b && y < b->Height(); ++y) all.insert(all.end(), b->ScanLine(y), b->ScanLine(y) + 128);
    for (std::size_t i = 0; i + 3 < all.size(); i += 4)
      if (all[i + 3] == 0) all[i] = all[i + 1] = all[i + 2] = 0;
    return all;
  };
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      const TBytes expected = rowsOf(Level0(sharedStore.get()));
      for (int i = 0; i < 10; ++i) {
        TRef<TMemoryStream> s = zmtest::MemoryStreamOf(png);
        TRef<TBitmapStore> store = LoadImageLibStore(s.get(), u"a.png", false, {});
        if (!store || expected.size() != 32 * 128 || rowsOf(Level0(store.get())) != expected) ++wrong;
      }
    });
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}
