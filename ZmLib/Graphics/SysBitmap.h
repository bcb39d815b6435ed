#pragma once
// TSysBitmap: a bitmap whose pixels are reached through a table of row
// pointers (the memory belongs to whoever supplied the rows), its views
// TRefBitmap, TCropBitmap and TSysDirectWrapper, and the factory link that
// answers requests for TBitmap and TSysBitmap with a TSysDirectWrapper.
//
// Views keep their source bitmap alive: one that owns its source took the
// caller's reference, one that does not takes a reference of its own; both
// drop it in Dispose. Memory given only as rows (no source) must outlive the
// view.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/zmBitmap.h"

namespace zm {

// Premultiply modes of TSysBitmap.CopyRect.
constexpr std::int32_t pmNone = 0;
constexpr std::int32_t pmDiv255 = 255;  // colour * alpha div 255
constexpr std::int32_t pmShift8 = 256;  // colour * alpha shr 8

// Runs of 32-bit pixels, bytes B, G, R, A: every pixel with alpha below 255
// gets blue, green and red multiplied by alpha and shifted by 8 (256) or
// divided by 255 (255).
void PremultiplyRow256(std::uint8_t* pixels, std::int32_t count);
void PremultiplyRow255(std::uint8_t* pixels, std::int32_t count);

class TSysBitmap : public TBitmap {
  ZM_BITMAP_CLASS(TSysBitmap, TBitmap)
public:
  // Size as a point (X the width, Y the height). Width >= 0, a format, and
  // one row address per row (assertions).
  TSysBitmap(const TPoint& size, std::vector<std::uint8_t*> rows, TPixelFormat* format);
  void Dispose() override;

  // Copies what fits: the count is cut to Width - X and to the whole pixels
  // left in the buffer after Offset; 0 for a position outside the bitmap or
  // an offset outside the buffer.
  std::int32_t GetPixels(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                         std::int32_t count) const override;
  std::int32_t GetPixels8(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                          std::int32_t count) const override;
  std::int32_t GetPixels16(std::span<std::uint16_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                           std::int32_t count) const override;
  std::int32_t GetPixels24(std::span<TColor24> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                           std::int32_t count) const override;
  std::int32_t GetPixels32(std::span<std::uint32_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                           std::int32_t count) const override;

  // Copies into DestRect (right and bottom exclusive) the pixels of Source
  // from SourcePoint on, converting the format, clipped against both
  // bitmaps, then premultiplies the written pixels by Premultiply (pmNone,
  // pmDiv255, pmShift8; anything else is an assertion). Premultiplying needs
  // a 4-byte format with alpha; other formats are only copied. Progress is
  // reported before each row (i / rows) and a false answer stops the copy;
  // the result is the answer to the final DoProgress(1.0), false when nothing
  // was left to copy or the copy was stopped.
  virtual bool CopyRect(const TRect& destRect, TBitmap* source, std::int32_t premultiply,
                        const TPoint& sourcePoint);
  // CopyRect of the whole bitmap from (0, 0), no premultiplying.
  bool CopyFrom(TBitmap* source);
  // Fills Rect, cut to the bitmap, with a colour given as "A8R8G8B8"
  // (converted to this format). The answer to the final DoProgress(1.0);
  // false when the rectangle is empty.
  bool FillRect(const TRect& rect, TColor32 color);

  const std::vector<std::uint8_t*>& Rows() const { return rows_; }
  // Unchecked row access for inner loops.
  std::uint8_t* ScanLine(std::int32_t y) const { return rows_[std::size_t(y)]; }
  // Typed rows; the pixel size must match (assertion).
  std::uint8_t* Row8(std::int32_t y) const;
  std::uint16_t* Row16(std::int32_t y) const;
  TColor24* Row24(std::int32_t y) const;
  std::uint32_t* Row32(std::int32_t y) const;
  // Signed distance in bytes from one row to the next; 0 when not known.
  std::int32_t RowStep() const { return rowStep_; }

protected:
  void SetRowStep(std::int32_t step) { rowStep_ = step; }
  // Replaces the row table (same number of rows), for classes that make
  // their memory after construction.
  void SetRows(std::vector<std::uint8_t*> rows);

private:
  void CheckRow(std::int32_t y, std::int32_t size) const;

  std::vector<std::uint8_t*> rows_;
  std::int32_t rowStep_ = 0;
};

// A TSysBitmap over rows of another bitmap or of foreign memory.
class TRefBitmap : public TSysBitmap {
  ZM_BITMAP_CLASS(TRefBitmap, TSysBitmap)
public:
  TRefBitmap(const TPoint& size, std::int32_t rowStep, bool ownsSource, TBitmap* source,
             std::vector<std::uint8_t*> rows, TPixelFormat* format);
  // Over foreign memory: row i at FirstRow + i * RowStep.
  TRefBitmap(const TPoint& size, std::int32_t rowStep, std::uint8_t* firstRow, TPixelFormat* format);
  void Dispose() override;

  TBitmap* Source() const { return source_; }
  bool OwnsSource() const { return ownsSource_; }

private:
  TBitmap* source_ = nullptr;  // one reference held, see the unit's note
  bool ownsSource_ = false;
};

// A rectangle of a TSysBitmap. Rect is cut to the source; when nothing is
// left, the assertion "TCropBitmap.Create - Bitmap is Empty". Row step and
// format are the source's. On a failed assertion the caller keeps Source.
class TCropBitmap : public TRefBitmap {
  ZM_BITMAP_CLASS(TCropBitmap, TRefBitmap)
public:
  TCropBitmap(const TRect& rect, bool ownsSource, TSysBitmap* source);

private:
  struct TCrop {
    TPoint Size;
    std::vector<std::uint8_t*> Rows;
  };
  static TCrop CropRows(const TRect& rect, TSysBitmap* source);
  TCropBitmap(TCrop crop, bool ownsSource, TSysBitmap* source);
};

// A TDirectBitmap seen as a TSysBitmap: its rows are the direct bitmap's.
class TSysDirectWrapper : public TSysBitmap {
  ZM_BITMAP_CLASS(TSysDirectWrapper, TSysBitmap)
public:
  // Bitmap assigned (".Create - Bitmap not Assigned") and not empty
  // (".Create - Bitmap is Empty").
  TSysDirectWrapper(TDirectBitmap* bitmap, bool ownsSource);
  void Dispose() override;

  TDirectBitmap* Bitmap() const { return bitmap_; }
  bool OwnsSource() const { return ownsSource_; }

private:
  TDirectBitmap* bitmap_ = nullptr;  // one reference held
  bool ownsSource_ = false;
};

// The factory link of this unit: requests for no class, TBitmap, TSysBitmap
// or TSysDirectWrapper get a TSysDirectWrapper over a new TDirectBitmap it
// owns; every other request goes to the link installed before.
TRef<TBitmap> SysCreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                              const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass);
// A TSysBitmap through the factory, without handler or source. Nil when no
// link makes one; EInvalidCast when a link answers with another class.
TRef<TSysBitmap> CreateSysBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format);
TRef<TSysBitmap> CreateSysBitmapSize(const TPoint& size, TPixelFormat* format);

// Module start and end: chains SysCreateBitmap into CreateBitmapHook.
void InitSysBitmap();
void FiniSysBitmap();

}  // namespace zm
