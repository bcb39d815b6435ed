#pragma once
// A read-only view of a picture that was cut into Rows x Columns equal
// tiles: every tile gets a one-pixel border on each side that repeats its
// own edge pixels, so that the tiles can go to the device row by row and be
// filtered without bleeding into their neighbours.
//
// Tile width = source width div columns, tile height = source height div
// rows. A view column x maps, with t = x div (tile width + 2) and
// m = x mod (tile width + 2), to source column t * tile width for m = 0, to
// t * tile width + m - 1 for m = 1 .. tile width, and to the tile's last
// column for m = tile width + 1 (rows alike). The view is the source's size
// plus 2 x columns by 2 x rows, in the source's pixel format.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/zmBitmap.h"

namespace zm {

class TTileBitmap : public TBitmap {
  ZM_BITMAP_CLASS(TTileBitmap, TBitmap)
 public:
  // Source assigned (".Create - Bitmap not Assigned"), rows and columns at
  // least 1 and at most the source's height and width (".Create - Invalid
  // Tile Count"). Owning, the view takes over the caller's reference;
  // otherwise it takes one of its own. On a failed assertion the caller
  // keeps Source.
  TTileBitmap(TBitmap* source, bool ownsSource, std::int32_t rows, std::int32_t columns);
  void Dispose() override;

  // Up to Count pixels of view row Y from column X (fewer at the row's end)
  // into Buffer at byte Offset; the bytes written. Assertions: ".GetPixels
  // (X,Y) out of Bitmap.Size", ".GetPixels - Offset out of Bounds",
  // ".GetPixels - Not Enought Pixel Buffer Space", and ".GetPixels - Invalid
  // Pixel Size" for pixels of more than 4 bytes.
  std::int32_t GetPixels(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                         std::int32_t count) const override;
  // Typed forms: the pixel size must match; Offset and Count in elements.
  std::int32_t GetPixels8(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                          std::int32_t count) const override;
  std::int32_t GetPixels16(std::span<std::uint16_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                           std::int32_t count) const override;
  std::int32_t GetPixels24(std::span<TColor24> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                           std::int32_t count) const override;
  std::int32_t GetPixels32(std::span<std::uint32_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                           std::int32_t count) const override;

  TBitmap* Source() const { return source_; }
  std::int32_t TileWidth() const { return tileWidth_; }
  std::int32_t TileHeight() const { return tileHeight_; }
  bool OwnsSource() const { return ownsSource_; }
  // One byte per view column: 1 for a border column, 0 for an inner one.
  const std::vector<std::uint8_t>& ColumnMap() const { return columnMap_; }
  // The source column and row that a view column and row show.
  std::int32_t SourceColumn(std::int32_t x) const;
  std::int32_t SourceRow(std::int32_t y) const;

 private:
  template <class T>
  std::int32_t ReadRow(T* dest, std::int32_t x, std::int32_t y, std::int32_t count) const;
  template <class T>
  std::int32_t ReadTyped(const char* op, std::span<T> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                         std::int32_t count) const;

  TBitmap* source_ = nullptr;  // one reference held
  std::int32_t tileWidth_ = 0;
  std::int32_t tileHeight_ = 0;
  bool ownsSource_ = false;
  std::vector<std::uint8_t> columnMap_;
};

}  // namespace zm
