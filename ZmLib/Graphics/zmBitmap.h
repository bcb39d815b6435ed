#pragma once
// Bitmaps: the abstract TBitmap, TDirectBitmap (pixels in memory of its
// own), the replaceable bitmap factory, and the hooks through which all code
// reaches the pixel-format registry.
//
// Bitmaps are made through the factory: CreateBitmapHook(width, height,
// format, handler, source, class) answers with a bitmap of the class asked
// for, or of a descendant of it, or nil when no link can make that class.
// Modules that bring a bitmap class chain a link into the hook (they save
// the previous link, pass on what they cannot make and put it back when
// finalised). With the links of this library, asking for TDirectBitmap gives
// a TDirectBitmap and asking for TBitmap, TSysBitmap or no class gives a
// TSysDirectWrapper (SysBitmap). A size that cannot be made (width or height
// below 1, or pixels beyond kMaxBitmapBytes) fails an assertion before any
// memory is taken; loaders check sizes from files with BitmapSizeAllowed.
//
// Coordinates and counts are pixels, 0-based; offsets into pixel buffers are
// bytes for GetPixels and elements for GetPixels8..32. Misuse of the pixel
// readers and constructors fails an assertion whose message starts with the
// class name (".GetPixels (X,Y) out of Bitmap.Size" ...). Bitmaps are not
// locked: a bitmap belongs to the thread that uses it.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "Platform/PlatPictureMemory.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TBitmap;

// ---- Hooks into the pixel-format registry -------------------------------------------

// The format registered under a name; made on first use, never nil once the
// registry is running, shared and never freed by the caller.
using TPixelFormatByNameProc = TPixelFormat* (*)(const TByteString& name);
extern TPixelFormatByNameProc PixelFormatByNameHook;
// The converter from Source to Target; the caller does not own it.
using TPixelConverterProc = TPixelConverter* (*)(TPixelFormat* target, TPixelFormat* source);
extern TPixelConverterProc PixelConverterHook;

// Through the hooks; an assertion when the registry is not running.
TPixelFormat* PixelFormatByName(const TByteString& name);
TPixelConverter* PixelConverter(TPixelFormat* target, TPixelFormat* source);

// ---- Bitmap classes ----------------------------------------------------------------

// A class reference, as the factory is asked for one: the class and its
// ancestors up to TBitmap.
struct TBitmapClass {
  const char* Name;
  const TBitmapClass* Parent;
  // This class is Ancestor or descends from it; false for a nil ancestor.
  bool InheritsFrom(const TBitmapClass* ancestor) const;
};

// Declares the class reference of a bitmap class; every bitmap class starts
// with it: class TDibBitmap : public TSysBitmap { ZM_BITMAP_CLASS(TDibBitmap, TSysBitmap) ... };
#define ZM_BITMAP_CLASS(Name, Parent)                                  \
public:                                                                \
  static const ::zm::TBitmapClass* StaticClass() {                     \
    static const ::zm::TBitmapClass c{#Name, Parent::StaticClass()};   \
    return &c;                                                         \
  }                                                                    \
  const ::zm::TBitmapClass* ClassType() const override { return StaticClass(); }

// A function of the fraction done (0 to 1, 1.0 last); false asks the running
// operation to stop. Empty: never stops.
using TBitmapProgressEvent = std::function<bool(float fraction)>;

// ---- The bitmap factory --------------------------------------------------------------

// With a Source the new bitmap receives a copy of its pixels converted to
// Format. Nil when no link can make the class.
using TCreateBitmapProc = TRef<TBitmap> (*)(std::int32_t width, std::int32_t height, TPixelFormat* format,
                                            const TBitmapProgressEvent& handler, TBitmap* source,
                                            const TBitmapClass* bitmapClass);
extern TCreateBitmapProc CreateBitmapHook;

// Through CreateBitmapHook; nil when no hook is installed.
TRef<TBitmap> CreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                           const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass);
// The first link: a TDirectBitmap when TDirectBitmap is the class asked for
// or descends from it, else nil (also for no class).
TRef<TBitmap> DefCreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                              const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass);
// A copy of Bitmap through the factory: Format nil keeps Bitmap's format,
// an empty handler takes Bitmap's.
TRef<TBitmap> ConvertBitmap(TBitmap* bitmap, TPixelFormat* format, const TBitmapClass* bitmapClass,
                            const TBitmapProgressEvent& handler = {});
// False when Format is given and differs from Bitmap's; true when no class
// is given; else whether Bitmap is of that class or a descendant.
bool BitmapMatches(const TBitmap* bitmap, const TPixelFormat* format, const TBitmapClass* bitmapClass);

// Clips a copy of Width x Height pixels from (SourceX, SourceY) of a source
// of SourceSize to (DestX, DestY) of a destination of DestSize (sizes as
// points: X the width, Y the height). Positions and the size are moved and
// cut in place; false when nothing is left.
bool ClipCopyRect(std::int32_t& destX, std::int32_t& destY, std::int32_t& width, std::int32_t& height,
                  const TPoint& sourceSize, const TPoint& destSize, std::int32_t& sourceX, std::int32_t& sourceY);

// Bitmaps that own their pixels refuse width x height x bytes per pixel
// beyond this (1 GiB), before taking any memory.
constexpr std::int64_t kMaxBitmapBytes = std::int64_t(1) << 30;
// Width and height at least 1, a format, and the pixels within kMaxBitmapBytes.
bool BitmapSizeAllowed(std::int32_t width, std::int32_t height, const TPixelFormat* format);

// ---- TBitmap --------------------------------------------------------------------------

class TBitmap : public TRefObject {
public:
  static const TBitmapClass* StaticClass() {
    static const TBitmapClass c{"TBitmap", nullptr};
    return &c;
  }
  virtual const TBitmapClass* ClassType() const { return StaticClass(); }

  // A new bitmap of the same class, size and format with the pixels copied
  // (through the factory, with this bitmap's handler); nil when no link makes
  // the class.
  virtual TRef<TBitmap> CreateCompatible();
  // Copies up to Count pixels of row Y from column X into Buffer at byte
  // Offset; returns the bytes copied.
  virtual std::int32_t GetPixels(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                                 std::int32_t count) const = 0;
  // The same for a bitmap whose pixels are 1, 2, 3 or 4 bytes (asserted);
  // Offset and Count are elements, the result is bytes.
  virtual std::int32_t GetPixels8(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                                  std::int32_t count) const = 0;
  virtual std::int32_t GetPixels16(std::span<std::uint16_t> buffer, std::int32_t offset, std::int32_t x,
                                   std::int32_t y, std::int32_t count) const = 0;
  virtual std::int32_t GetPixels24(std::span<TColor24> buffer, std::int32_t offset, std::int32_t x, std::int32_t y,
                                   std::int32_t count) const = 0;
  virtual std::int32_t GetPixels32(std::span<std::uint32_t> buffer, std::int32_t offset, std::int32_t x,
                                   std::int32_t y, std::int32_t count) const = 0;

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  TPoint Size() const { return {width_, height_}; }
  TPixelFormat* PixelFormat() const { return format_; }
  std::int32_t BytesPerPixel() const { return format_ ? format_->BytesPerPixel : 1; }
  bool IsEmpty() const { return width_ < 1 || height_ < 1; }

  // The handler's answer; true when there is none.
  bool DoProgress(float fraction) const;

  TBitmapProgressEvent ProgressHandler;
  // The picture's resolution as its source gave it (horizontal, vertical);
  // 0 when unknown. Only carried along: nothing here scales by it.
  std::int32_t HorzResolution = 0;
  std::int32_t VertResolution = 0;
  void SetResolution(std::int32_t horz, std::int32_t vert) {
    HorzResolution = horz;
    VertResolution = vert;
  }

protected:
  TBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format)
      : width_(width), height_(height), format_(format) {}

  // "<class name><text>", the form of every assertion message of bitmaps.
  std::string Msg(const char* text) const;

private:
  std::int32_t width_;
  std::int32_t height_;
  TPixelFormat* format_;  // shared, not owned
};

// ---- TDirectBitmap ---------------------------------------------------------------------

// Pixels in memory of its own: Height rows of Width pixels, zero-filled at
// creation; a row is Width * bytes per pixel bytes, rows follow each other.
class TDirectBitmap : public TBitmap {
  ZM_BITMAP_CLASS(TDirectBitmap, TBitmap)
public:
  // Width >= 1, Height >= 1, a format and the size within kMaxBitmapBytes,
  // else an assertion before any memory is taken. (The order of the
  // arguments is the original one.)
  TDirectBitmap(std::int32_t width, TPixelFormat* format, std::int32_t height);
  void Dispose() override;

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

  // Copies into DestRect (right and bottom exclusive) of this bitmap the
  // pixels of Source from SourcePoint on, converting the format; clipped
  // against both bitmaps.
  virtual void CopyRect(const TRect& destRect, TBitmap* source, const TPoint& sourcePoint);
  // CopyRect of the whole bitmap from (0, 0).
  void CopyFrom(TBitmap* source);
  // Fills Rect, cut to the bitmap, with a colour: 1-byte pixels take the
  // grey (B + G + R) div 3; 2- to 4-byte pixels the colour converted from
  // "A8R8G8B8" to this format (so "R8G8B8" gets B, G, R, "A8R8G8B8" the
  // colour's 32 bits, "R5G6B5" (b shr 3) or (g shr 2) shl 5 or (r shr 3)
  // shl 11, and every other format its own layout). Other sizes: nothing.
  void FillRect(const TRect& rect, TColor32 color);

  // The address of a pixel (asserted inside the bitmap) and of a row.
  std::uint8_t* PixelAddress(std::int32_t x, std::int32_t y);
  const std::uint8_t* PixelAddress(std::int32_t x, std::int32_t y) const;
  std::uint8_t* ScanLine(std::int32_t y) { return pixels_.data() + std::size_t(y) * std::size_t(rowBytes_); }
  const std::uint8_t* ScanLine(std::int32_t y) const {
    return pixels_.data() + std::size_t(y) * std::size_t(rowBytes_);
  }
  std::int32_t RowBytes() const { return rowBytes_; }
  // Typed rows; the pixel size must match (assertion).
  std::uint8_t* Row8(std::int32_t y);
  std::uint16_t* Row16(std::int32_t y);
  TColor24* Row24(std::int32_t y);
  std::uint32_t* Row32(std::int32_t y);

private:
  void CheckRow(std::int32_t y, std::int32_t size) const;

  std::int32_t rowBytes_;
  plat::PictureMemory pixels_;
};

// Module start and end: the first factory link.
void InitBitmap();
void FiniBitmap();

}  // namespace zm
