// The PNG picture library: reads the whole file through the program's stream
// at open (the stream may be gone when the rows are read), checks its chunk
// structure and header, and decodes on ReadImage into B, G, R rows (24 bits)
// or B, G, R, A with straight alpha (32 bits, for alpha channels and tRNS).
// 16-bit samples are scaled to 8; colours are taken as stored (no gamma).
// Nothing is thrown or longjmp'ed out of the four entry points.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <new>
#include <vector>

#include "ZmLib/Graphics/zmImageLibApi.h"

#define ZM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Larger files and pictures are refused.
constexpr std::int64_t kMaxFileBytes = std::int64_t(1) << 29;
constexpr std::uint32_t kMaxSide = 1u << 16;
constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 28;

struct TPng {
  std::vector<std::uint8_t> Data;
  std::size_t Pos = 0;
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  std::uint32_t Width = 0, Height = 0, Channels = 0;
  std::vector<std::uint8_t> Pixels;
  std::vector<std::uint8_t*> Rows;

  ~TPng() { Release(); }
  void Release() {
    if (Png) png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
    Png = nullptr;
    Info = nullptr;
  }
};

void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

void ReadData(png_structp png, png_bytep out, std::size_t n) {
  auto* p = static_cast<TPng*>(png_get_io_ptr(png));
  if (n > p->Data.size() - p->Pos) png_error(png, "cut short");
  std::memcpy(out, p->Data.data() + p->Pos, n);
  p->Pos += n;
}

std::uint32_t BE32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The signature, then whole chunks with IHDR first, IDAT present and IEND
// last; critical chunks with a wrong CRC refuse the file.
bool ChunksWhole(const std::vector<std::uint8_t>& d) {
  if (d.size() < 8 || png_sig_cmp(d.data(), 0, 8) != 0) return false;
  std::size_t at = 8;
  bool first = true, idat = false;
  while (d.size() - at >= 12) {
    const std::uint32_t len = BE32(&d[at]);
    if (len > 0x7FFFFFFFu || len > d.size() - at - 12) return false;
    const std::uint8_t* type = &d[at + 4];
    const bool critical = (type[0] & 0x20) == 0;
    const std::uint32_t crc = BE32(&d[at + 8 + len]);
    if (critical && crc32(crc32(0, nullptr, 0), type, len + 4) != crc) return false;
    if (first && std::memcmp(type, "IHDR", 4) != 0) return false;
    first = false;
    if (std::memcmp(type, "IDAT", 4) == 0) idat = true;
    if (std::memcmp(type, "IEND", 4) == 0) return idat;
    at += 12 + std::size_t(len);
  }
  return false;
}

// Header and transformations; false on any libpng error.
bool ReadHeader(TPng* p) {
  if (setjmp(png_jmpbuf(p->Png))) return false;
  png_set_read_fn(p->Png, p, &ReadData);
  png_set_user_limits(p->Png, kMaxSide, kMaxSide);
  png_read_info(p->Png, p->Info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(p->Png, p->Info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
  if (w == 0 || h == 0 || std::uint64_t(w) * h > kMaxPixels) return false;
  png_set_expand(p->Png);
  png_set_scale_16(p->Png);
  png_set_gray_to_rgb(p->Png);
  png_set_bgr(p->Png);
  png_set_interlace_handling(p->Png);
  png_read_update_info(p->Png, p->Info);
  const png_byte channels = png_get_channels(p->Png, p->Info);
  if ((channels != 3 && channels != 4) || png_get_bit_depth(p->Png, p->Info) != 8 ||
      png_get_rowbytes(p->Png, p->Info) != std::size_t(w) * channels)
    return false;
  p->Width = w;
  p->Height = h;
  p->Channels = channels;
  return true;
}

// Decodes into the rows; what damaged data leaves undecoded stays zero.
void ReadRows(TPng* p) {
  if (setjmp(png_jmpbuf(p->Png))) return;
  png_read_image(p->Png, p->Rows.data());
}

bool Open(TImageLibRecord* image, TPng* p) {
  if (!ChunksWhole(p->Data)) return false;
  p->Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &OnError, &OnWarning);
  if (!p->Png) return false;
  p->Info = png_create_info_struct(p->Png);
  if (!p->Info || !ReadHeader(p)) return false;
  image->ImageHandle = p;
  image->BitsPerPixel = std::int32_t(p->Channels * 8);
  image->Width = std::int32_t(p->Width);
  image->Height = std::int32_t(p->Height);
  image->Rows = nullptr;
  image->Reserved = nullptr;
  return true;
}

}  // namespace

ZM_EXPORT bool OpenImage(TImageLibRecord* image, const TImageLibStream* stream) {
  if (!image || !stream || !stream->GetSize || !stream->ReadAt) return false;
  TPng* p = nullptr;
  try {
    const std::int64_t size = stream->GetSize(stream->Stream);
    if (size < 8 || size > kMaxFileBytes) return false;
    p = new TPng;
    p->Data.resize(std::size_t(size));
    std::int64_t done = 0;
    while (done < size) {
      const std::int32_t want = std::int32_t(std::min<std::int64_t>(size - done, 1 << 20));
      const std::int32_t got = stream->ReadAt(stream->Stream, p->Data.data() + done, want, done);
      if (got <= 0 || got > want) break;
      done += got;
    }
    p->Data.resize(std::size_t(done));
    if (Open(image, p)) return true;
  } catch (...) {
  }
  delete p;
  return false;
}

ZM_EXPORT bool OpenImageFile(TImageLibRecord* image, const char* utf8FileName) {
  if (!image || !utf8FileName) return false;
  TPng* p = nullptr;
  try {
    std::ifstream in(utf8FileName, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 8 || size > kMaxFileBytes) return false;
    in.seekg(0);
    p = new TPng;
    p->Data.resize(std::size_t(size));
    in.read(reinterpret_cast<char*>(p->Data.data()), size);
    p->Data.resize(std::size_t(in.gcount()));
    if (Open(image, p)) return true;
  } catch (...) {
  }
  delete p;
  return false;
}

ZM_EXPORT void ReadImage(TImageLibRecord* image) {
  if (!image || !image->ImageHandle || image->Rows) return;
  auto* p = static_cast<TPng*>(image->ImageHandle);
  if (!p->Png) return;
  try {
    const std::size_t stride = std::size_t(p->Width) * p->Channels;
    p->Pixels.assign(stride * p->Height, 0);
    p->Rows.resize(p->Height);
    for (std::uint32_t y = 0; y < p->Height; ++y) p->Rows[y] = p->Pixels.data() + y * stride;
  } catch (...) {
    p->Pixels.clear();
    p->Rows.clear();
    return;
  }
  ReadRows(p);
  // The file is not needed any more.
  p->Release();
  std::vector<std::uint8_t>().swap(p->Data);
  image->Rows = p->Rows.data();
}

ZM_EXPORT void CloseImage(TImageLibRecord* image) {
  if (!image) return;
  delete static_cast<TPng*>(image->ImageHandle);
  image->ImageHandle = nullptr;
  image->Rows = nullptr;
}
