#include "OruLib2/TileBitmap.h"

#include <algorithm>
#include <cstring>

namespace zm {

namespace {

// The view's size on one axis, or -1 when it does not fit 32 bits.
std::int32_t ViewLength(std::int32_t length, std::int32_t tiles) {
  const std::int64_t n = std::int64_t(length) + 2 * std::int64_t(tiles);
  return n > INT32_MAX ? -1 : std::int32_t(n);
}

}  // namespace

TTileBitmap::TTileBitmap(TBitmap* source, bool ownsSource, std::int32_t rows, std::int32_t columns)
    : TBitmap(source ? ViewLength(source->Width(), columns) : 0, source ? ViewLength(source->Height(), rows) : 0,
              source ? source->PixelFormat() : nullptr) {
  ZM_ASSERT(source, Msg(".Create - Bitmap not Assigned"));
  ZM_ASSERT(rows >= 1 && columns >= 1 && columns <= source->Width() && rows <= source->Height() && Width() > 0 &&
                Height() > 0,
            Msg(".Create - Invalid Tile Count"));
  tileWidth_ = source->Width() / columns;
  tileHeight_ = source->Height() / rows;
  columnMap_.resize(std::size_t(Width()));
  const std::int32_t step = tileWidth_ + 2;
  for (std::int32_t x = 0; x < Width(); ++x) {
    const std::int32_t m = x % step;
    // Columns past the last whole tile (the remainder of the division) start
    // with one border column of their own.
    columnMap_[std::size_t(x)] = (m == 0 || m == tileWidth_ + 1) ? 1 : 0;
  }
  if (!ownsSource) source->AddRef();
  source_ = source;
  ownsSource_ = ownsSource;
}

void TTileBitmap::Dispose() {
  TBitmap* s = std::exchange(source_, nullptr);
  TBitmap::Dispose();
  FreeObject(s);
}

std::int32_t TTileBitmap::SourceColumn(std::int32_t x) const {
  const std::int32_t t = x / (tileWidth_ + 2), m = x % (tileWidth_ + 2);
  const std::int32_t c = m == 0            ? t * tileWidth_
                         : m <= tileWidth_ ? t * tileWidth_ + m - 1
                                           : t * tileWidth_ + tileWidth_ - 1;
  return std::clamp(c, 0, source_->Width() - 1);
}

std::int32_t TTileBitmap::SourceRow(std::int32_t y) const {
  const std::int32_t t = y / (tileHeight_ + 2), m = y % (tileHeight_ + 2);
  const std::int32_t r = m == 0             ? t * tileHeight_
                         : m <= tileHeight_ ? t * tileHeight_ + m - 1
                                            : t * tileHeight_ + tileHeight_ - 1;
  return std::clamp(r, 0, source_->Height() - 1);
}

// Reads the source row into a scratch run and walks it: the source position
// moves on between view columns c and c + 1 only when both are border or
// both inner columns, which repeats a tile's edge pixel in its borders.
template <class T>
std::int32_t TTileBitmap::ReadRow(T* dest, std::int32_t x, std::int32_t y, std::int32_t count) const {
  const std::int32_t first = SourceColumn(x);
  const std::int32_t last = SourceColumn(x + count - 1);
  const std::int32_t n = last - first + 1;
  std::vector<T> run(std::size_t(std::max(n, 1)));
  const std::int32_t got = source_->GetPixels({reinterpret_cast<std::uint8_t*>(run.data()), run.size() * sizeof(T)}, 0,
                                              first, SourceRow(y), n);
  const std::int32_t have = got / std::int32_t(sizeof(T));
  std::int32_t s = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    if (i > 0 && columnMap_[std::size_t(x + i - 1)] == columnMap_[std::size_t(x + i)] && s + 1 < have) ++s;
    std::memcpy(dest + i, run.data() + (have > 0 ? s : 0), have > 0 ? sizeof(T) : 0);
  }
  return count * std::int32_t(sizeof(T));
}

std::int32_t TTileBitmap::GetPixels(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                                    std::int32_t count) const {
  ZM_ASSERT(x >= 0 && y >= 0 && x < Width() && y < Height(), Msg(".GetPixels (X,Y) out of Bitmap.Size"));
  ZM_ASSERT(offset >= 0, Msg(".GetPixels - Offset out of Bounds"));
  count = std::min(count, Width() - x);
  if (count <= 0) return 0;
  const std::int32_t bpp = BytesPerPixel();
  const std::int64_t bytes = std::int64_t(count) * bpp;
  ZM_ASSERT(bytes <= std::int64_t(buffer.size()) - offset, Msg(".GetPixels - Not Enought Pixel Buffer Space"));
  std::uint8_t* d = buffer.data() + offset;
  // Wider pixels go through a run of their own size, then byte by byte: the
  // buffer need not be aligned for them.
  auto through = [&](auto element) {
    std::vector<decltype(element)> tmp(static_cast<std::size_t>(count));
    ReadRow(tmp.data(), x, y, count);
    std::memcpy(d, tmp.data(), std::size_t(bytes));
    return std::int32_t(bytes);
  };
  switch (bpp) {
    case 1:
      return ReadRow(d, x, y, count);
    case 2:
      return through(std::uint16_t{});
    case 3:
      return through(TColor24{});
    case 4:
      return through(std::uint32_t{});
    default:
      ZM_FAIL(Msg(".GetPixels - Invalid Pixel Size"));
  }
}

template <class T>
std::int32_t TTileBitmap::ReadTyped(const char* op, std::span<T> buffer, std::int32_t offset, std::int32_t x,
                                    std::int32_t y, std::int32_t count) const {
  const std::string name = ClassName() + "." + op;
  ZM_ASSERT(BytesPerPixel() == std::int32_t(sizeof(T)), name + " - Invalid Pixel Size");
  ZM_ASSERT(x >= 0 && y >= 0 && std::int64_t(x) + std::max(count, 0) <= Width() && y < Height(),
            name + " out of Bitmap.Size");
  ZM_ASSERT(offset >= 0 && std::int64_t(offset) + std::max(count, 0) <= std::int64_t(buffer.size()),
            name + " - Out of Pixel Buffer Bounds");
  if (count <= 0) return 0;
  return ReadRow(buffer.data() + offset, x, y, count);
}

std::int32_t TTileBitmap::GetPixels8(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x,
                                     std::int32_t y, std::int32_t count) const {
  return ReadTyped("GetPixels8", buffer, offset, x, y, count);
}

std::int32_t TTileBitmap::GetPixels16(std::span<std::uint16_t> buffer, std::int32_t offset, std::int32_t x,
                                      std::int32_t y, std::int32_t count) const {
  return ReadTyped("GetPixels16", buffer, offset, x, y, count);
}

std::int32_t TTileBitmap::GetPixels24(std::span<TColor24> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                                      std::int32_t count) const {
  return ReadTyped("GetPixels24", buffer, offset, x, y, count);
}

std::int32_t TTileBitmap::GetPixels32(std::span<std::uint32_t> buffer, std::int32_t offset, std::int32_t x,
                                      std::int32_t y, std::int32_t count) const {
  return ReadTyped("GetPixels32", buffer, offset, x, y, count);
}

}  // namespace zm
