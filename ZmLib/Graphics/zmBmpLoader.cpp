#include "ZmLib/Graphics/zmBmpLoader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace zm {

namespace {

std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

bool ReadAll(TStream* s, std::uint8_t* p, std::int64_t n) {
  if (!s || n < 0 || n > INT32_MAX) return false;
  return n == 0 || s->Read(TReadBuffer(p, std::size_t(n)), std::int32_t(n), 0) == n;
}

bool SeekTo(TStream* s, std::int64_t pos, std::int64_t end) {
  if (pos < 0 || pos > end) return false;
  s->SetPosition(pos);
  return true;
}

// One channel of a 32-bit bit-field pixel, scaled to 8 bits.
struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  int Width = 0;
  // False for a mask whose bits are not contiguous.
  bool Set(std::uint32_t mask) {
    Mask = mask;
    Shift = mask ? __builtin_ctz(mask) : 0;
    Width = __builtin_popcount(mask);
    return !mask || (mask >> Shift) == (Width == 32 ? 0xFFFFFFFFu : (1u << Width) - 1);
  }
  std::uint8_t Get(std::uint32_t v) const {
    if (!Mask) return 0;
    const std::uint32_t c = (v & Mask) >> Shift;
    if (Width >= 8) return std::uint8_t(c >> (Width - 8));
    const std::uint32_t max = (1u << Width) - 1;
    return std::uint8_t((c * 255 + max / 2) / max);
  }
};

// A run of Count bytes at Pos stays inside the RLE buffer.
bool RunFits(std::int64_t pos, std::int64_t count, std::size_t size) { return pos + count <= std::int64_t(size); }

template <bool kFour>
bool DecodeRle(TStream* s, std::span<std::uint8_t> buffer, std::int32_t rowLength) {
  if (rowLength < 1) return false;
  const std::int64_t rows = std::int64_t(buffer.size()) / rowLength;
  std::int64_t row = 0, col = 0;
  std::uint8_t pair[2];
  std::uint8_t literal[256];
  while (row < rows) {
    if (!ReadAll(s, pair, 2)) return false;
    const std::int64_t pos = row * rowLength + col;
    if (pair[0] > 0) {
      const std::int32_t n = pair[0];
      if (!RunFits(pos, n, buffer.size())) return false;
      if (kFour) {
        for (std::int32_t i = 0; i < n; ++i) buffer[std::size_t(pos + i)] = (i & 1) ? pair[1] & 15 : pair[1] >> 4;
      } else {
        std::memset(buffer.data() + pos, pair[1], std::size_t(n));
      }
      col += n;
      continue;
    }
    switch (pair[1]) {
      case 0:
        col = 0;
        ++row;
        break;
      case 1:
        return true;
      case 2: {
        std::uint8_t d[2];
        if (!ReadAll(s, d, 2)) return false;
        col += d[0];
        row += d[1];
        break;
      }
      default: {
        const std::int32_t n = pair[1];
        const std::int32_t bytes = kFour ? (((n + 1) / 2 + 1) & ~1) : ((n + 1) & ~1);
        if (!ReadAll(s, literal, bytes)) return false;
        if (!RunFits(pos, n, buffer.size())) return false;
        for (std::int32_t i = 0; i < n; ++i)
          buffer[std::size_t(pos + i)] =
              kFour ? ((i & 1) ? literal[i / 2] & 15 : literal[i / 2] >> 4) : literal[i];
        col += n;
        break;
      }
    }
  }
  return true;
}

// Puts the stream back and answers nil on every failure.
class TRewind {
public:
  TRewind(TStream* s, std::int64_t pos) : s_(s), pos_(pos) {}
  ~TRewind() {
    if (armed_) {
      try {
        s_->SetPosition(pos_);
      } catch (...) {
      }
    }
  }
  void Disarm() { armed_ = false; }

private:
  TStream* s_;
  std::int64_t pos_;
  bool armed_ = true;
};

// All alpha bytes 0 means the file had no alpha: opaque.
void FixZeroAlpha(TDirectBitmap* b) {
  for (std::int32_t y = 0; y < b->Height(); ++y) {
    const std::uint8_t* row = b->ScanLine(y);
    for (std::int32_t x = 0; x < b->Width(); ++x)
      if (row[4 * x + 3] != 0) return;
  }
  for (std::int32_t y = 0; y < b->Height(); ++y) {
    std::uint8_t* row = b->ScanLine(y);
    for (std::int32_t x = 0; x < b->Width(); ++x) row[4 * x + 3] = 255;
  }
}

TRef<TDirectBitmap> Load(TStream* s, std::int64_t p) {
  const std::int64_t size = s->GetSize();
  if (size < 0 || size - p < 14) return nullptr;
  const std::int64_t end = size;
  TBmpFileHeader fh;
  if (!ReadBmpFileHeader(s, fh)) return nullptr;
  if (std::int64_t(fh.FileSize) > end - p) return nullptr;
  TBmpInfoHeader ih;
  if (!ReadBmpInfoHeader(s, ih)) return nullptr;

  const std::int32_t width = ih.Width;
  const std::int32_t height = ih.Height < 0 ? -ih.Height : ih.Height;
  const bool bottomUp = ih.Height > 0;
  const std::int32_t bits = ih.BitCount;
  const std::int64_t stride = ((std::int64_t(width) * bits + 31) / 32) * 4;
  const bool indexed = bits == 1 || bits == 4 || bits == 8;

  const char* formatName = nullptr;
  TChannel channels[4];  // blue, green, red, alpha of 32-bit bit fields
  bool bitFields32 = false;
  switch (ih.Compression) {
    case BI_RGB:
      if (indexed || bits == 24) formatName = PF_R8G8B8;
      else if (bits == 16) formatName = PF_X1R5G5B5;
      else if (bits == 32) formatName = PF_A8R8G8B8;
      break;
    case BI_RLE8:
      if (bits == 8) formatName = PF_R8G8B8;
      break;
    case BI_RLE4:
      if (bits == 4) formatName = PF_R8G8B8;
      break;
    case BI_BITFIELDS: {
      if ((bits != 16 && bits != 32) || ih.Size == 12) break;
      // The masks sit at offset 40 of the info header: inside longer
      // headers, right after a 40-byte one.
      std::uint8_t m[16] = {};
      // An alpha mask only when the header has room for it.
      const std::int32_t maskBytes = ih.Size >= 56 ? 16 : 12;
      if (!SeekTo(s, p + 14 + 40, end) || !ReadAll(s, m, maskBytes)) return nullptr;
      const std::uint32_t r = Le32(m), g = Le32(m + 4), b = Le32(m + 8), a = Le32(m + 12);
      if (bits == 16) {
        if (r == 0x7C00 && g == 0x03E0 && b == 0x001F) formatName = PF_X1R5G5B5;
        else if (r == 0xF800 && g == 0x07E0 && b == 0x001F) formatName = PF_R5G6B5;
        break;
      }
      if (!channels[0].Set(b) || !channels[1].Set(g) || !channels[2].Set(r) || !channels[3].Set(a)) break;
      bitFields32 = true;
      formatName = PF_A8R8G8B8;
      break;
    }
    default:
      break;
  }
  if (!formatName) return nullptr;
  TPixelFormat* format = PixelFormatByName(formatName);
  if (!BitmapSizeAllowed(width, height, format)) return nullptr;

  TBmpPalette palette{};
  if (indexed) {
    if (!SeekTo(s, p + 14 + std::int64_t(ih.Size), end) || !ReadBmpPalette(s, ih, palette)) return nullptr;
  }

  const std::int64_t data = p + std::int64_t(fh.DataOffset);
  const std::int64_t packedRow = (std::int64_t(width) * bits + 7) / 8;

  if (ih.Compression == BI_RLE8 || ih.Compression == BI_RLE4) {
    if (data >= end) return nullptr;
    const std::int64_t rowLength = stride * 8 / bits;
    const std::int64_t pixels = rowLength * height;
    if (pixels > kMinBmpRleBoundPixels && pixels / kMaxBmpRlePixelsPerByte > end - data) return nullptr;
    if (pixels > kMaxBitmapBytes) return nullptr;
    std::vector<std::uint8_t> buffer(std::size_t(pixels), 0);
    s->SetPosition(data);
    const bool ok = ih.Compression == BI_RLE8 ? DecodeBmpRle8(s, buffer, std::int32_t(rowLength))
                                              : DecodeBmpRle4(s, buffer, std::int32_t(rowLength));
    if (!ok) return nullptr;
    TRef<TDirectBitmap> result = MakeRef<TDirectBitmap>(width, format, height);
    for (std::int32_t r = 0; r < height; ++r) {
      const std::int32_t y = bottomUp ? height - 1 - r : r;
      ExpandPaletteRow(std::span(buffer).subspan(std::size_t(r * rowLength), std::size_t(width)), palette,
                       std::span(result->ScanLine(y), std::size_t(width) * 3));
    }
    return result;
  }

  // Every row must be present before the picture's memory is taken.
  if (data < p + 14 || data + (height - 1) * stride + packedRow > end) return nullptr;
  TRef<TDirectBitmap> result = MakeRef<TDirectBitmap>(width, format, height);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(packedRow));
  std::vector<std::uint8_t> indices(indexed ? std::size_t(width) : 0);
  for (std::int32_t r = 0; r < height; ++r) {
    const std::int32_t y = bottomUp ? height - 1 - r : r;
    s->SetPosition(data + r * stride);
    if (!ReadAll(s, row.data(), packedRow)) return nullptr;
    std::uint8_t* out = result->ScanLine(y);
    switch (bits) {
      case 1: ReadBmpRow1(row, indices, width); break;
      case 4: ReadBmpRow4(row, indices, width); break;
      case 8: ReadBmpRow8(row, indices, width); break;
      case 32:
        if (!bitFields32) {
          std::memcpy(out, row.data(), std::size_t(packedRow));
          continue;
        }
        for (std::int32_t x = 0; x < width; ++x) {
          const std::uint32_t v = Le32(row.data() + 4 * x);
          out[4 * x] = channels[0].Get(v);
          out[4 * x + 1] = channels[1].Get(v);
          out[4 * x + 2] = channels[2].Get(v);
          out[4 * x + 3] = channels[3].Mask ? channels[3].Get(v) : 255;
        }
        continue;
      default:  // 16 and 24 bits: the file's layout is the bitmap's
        std::memcpy(out, row.data(), std::size_t(packedRow));
        continue;
    }
    ExpandPaletteRow(indices, palette, std::span(out, std::size_t(width) * 3));
  }
  if (bits == 32) FixZeroAlpha(result.get());
  return result;
}

}  // namespace

bool ReadBmpFileHeader(TStream* stream, TBmpFileHeader& header) {
  std::uint8_t b[14];
  if (!ReadAll(stream, b, 14)) return false;
  header.Magic = Le16(b);
  header.FileSize = Le32(b + 2);
  header.Reserved1 = Le16(b + 6);
  header.Reserved2 = Le16(b + 8);
  header.DataOffset = Le32(b + 10);
  return header.Magic == kBmpMagic;
}

bool ReadBmpInfoHeader(TStream* stream, TBmpInfoHeader& header) {
  std::uint8_t b[40];
  if (!ReadAll(stream, b, 4)) return false;
  header = {};
  header.Size = Le32(b);
  if (header.Size == 12) {
    if (!ReadAll(stream, b + 4, 8)) return false;
    header.Width = Le16(b + 4);
    header.Height = Le16(b + 6);
    header.Planes = Le16(b + 8);
    header.BitCount = Le16(b + 10);
    if (header.BitCount == 0) return false;
  } else {
    if (header.Size < 40 || !ReadAll(stream, b + 4, 36)) return false;
    header.Width = std::int32_t(Le32(b + 4));
    header.Height = std::int32_t(Le32(b + 8));
    header.Planes = Le16(b + 12);
    header.BitCount = Le16(b + 14);
    header.Compression = Le32(b + 16);
    header.ImageSize = Le32(b + 20);
    header.XPelsPerMeter = std::int32_t(Le32(b + 24));
    header.YPelsPerMeter = std::int32_t(Le32(b + 28));
    header.ClrUsed = Le32(b + 32);
    header.ClrImportant = Le32(b + 36);
  }
  if (header.BitCount == 0 && header.Compression != BI_JPEG && header.Compression != BI_PNG) return false;
  return header.Width >= 1 && header.Height != 0 && header.Height != INT32_MIN && header.Planes == 1 &&
         header.Compression <= BI_PNG;
}

bool ReadBmpPalette(TStream* stream, const TBmpInfoHeader& header, TBmpPalette& palette) {
  palette = {};
  if (header.BitCount < 1 || header.BitCount > 8) return true;
  const std::uint32_t all = 1u << header.BitCount;
  const std::uint32_t count = header.ClrUsed == 0 ? all : std::min(header.ClrUsed, all);
  const std::int32_t entry = header.Size == 12 ? 3 : 4;
  std::uint8_t b[256 * 4];
  if (!ReadAll(stream, b, std::int64_t(count) * entry)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    palette[i][0] = b[i * entry];
    palette[i][1] = b[i * entry + 1];
    palette[i][2] = b[i * entry + 2];
  }
  return true;
}

namespace {
// Pixels both spans can hold.
std::int32_t RowPixels(std::span<const std::uint8_t> source, std::span<std::uint8_t> indices, std::int32_t width,
                       std::int64_t perByte) {
  return std::int32_t(std::max<std::int64_t>(
      0, std::min({std::int64_t(width), std::int64_t(indices.size()), std::int64_t(source.size()) * perByte})));
}
}  // namespace

void ReadBmpRow1(std::span<const std::uint8_t> source, std::span<std::uint8_t> indices, std::int32_t width) {
  width = RowPixels(source, indices, width, 8);
  for (std::int32_t x = 0; x < width; ++x) indices[std::size_t(x)] = (source[std::size_t(x >> 3)] >> (7 - (x & 7))) & 1;
}

void ReadBmpRow4(std::span<const std::uint8_t> source, std::span<std::uint8_t> indices, std::int32_t width) {
  width = RowPixels(source, indices, width, 2);
  for (std::int32_t x = 0; x < width; ++x) {
    const std::uint8_t v = source[std::size_t(x >> 1)];
    indices[std::size_t(x)] = (x & 1) ? v & 15 : v >> 4;
  }
}

void ReadBmpRow8(std::span<const std::uint8_t> source, std::span<std::uint8_t> indices, std::int32_t width) {
  width = RowPixels(source, indices, width, 1);
  if (width > 0) std::memcpy(indices.data(), source.data(), std::size_t(width));
}

void ExpandPaletteRow(std::span<const std::uint8_t> indices, const TBmpPalette& palette, std::span<std::uint8_t> bgr) {
  const std::size_t n = std::min(indices.size(), bgr.size() / 3);
  for (std::size_t x = 0; x < n; ++x) {
    const auto& e = palette[indices[x]];
    bgr[3 * x] = e[0];
    bgr[3 * x + 1] = e[1];
    bgr[3 * x + 2] = e[2];
  }
}

bool DecodeBmpRle8(TStream* stream, std::span<std::uint8_t> buffer, std::int32_t rowLength) {
  return DecodeRle<false>(stream, buffer, rowLength);
}

bool DecodeBmpRle4(TStream* stream, std::span<std::uint8_t> buffer, std::int32_t rowLength) {
  return DecodeRle<true>(stream, buffer, rowLength);
}

TRef<TDirectBitmap> LoadBitmapFromStream(TStream* stream) {
  if (!stream) return nullptr;
  const std::int64_t p = stream->GetPosition();
  TRewind rewind(stream, p);
  TRef<TDirectBitmap> result;
  try {
    result = Load(stream, p);
  } catch (const EStreamError&) {
    result = nullptr;
  } catch (const std::bad_alloc&) {
    result = nullptr;
  }
  if (result) rewind.Disarm();
  return result;
}

}  // namespace zm
