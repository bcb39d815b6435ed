#pragma once
// Device-independent bitmaps: TFastDIB (a DIB section with its own memory
// DC, or plain memory, and a table of row pointers) and TDibBitmap, the
// TSysBitmap that views one, so imaging code can draw into memory that the
// drawing layer blits and BMP files hold. The unit also chains a link into
// the bitmap factory: asking for TDibBitmap in the standard format of a bit
// count makes one.
//
// Memory layouts by bit count and the pixel formats that name them:
//   8  "Y8"        an index (the DIB gets a grey palette, so index = grey)
//   15 "B5G5R5X1"  16-bit words: unused bit 0, red 1-5, green 6-10, blue 11-15
//   16 "B5G6R5"    16-bit words: red 0-4, green 5-10, blue 11-15
//   24 "R8G8B8"    bytes B, G, R
//   32 "A8R8G8B8"  bytes B, G, R, A
// 15- and 16-bit DIBs always carry bit-field masks in exactly these layouts,
// so blits and the pixel-format converters agree on every pixel.
//
// Rows: TFastDIB's row table is in memory order (for a bottom-up DIB, row 0
// is the bottom line); TDibBitmap's rows run from the top line down for
// either kind of DIB. A DIB must not be re-created while a TDibBitmap views it.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/zmStream.h"

namespace zm {

class TFastDIB : public TRefObject {
public:
  TFastDIB();  // empty, UseDibSection on
  void Dispose() override;

  // (Re)creates the DIB. BitCount 0 takes the screen's; a negative height
  // makes a top-down DIB. Without channel widths 16 bits are 5-6-5 and 32
  // bits 8-8-8; with them (red, green, blue bits) the masks are built from
  // them. Memory, when given, is used instead of new memory and not owned
  // (it must hold AbsHeight * Stride bytes and outlive the DIB). Unsupported
  // bit counts fail an assertion; a DIB that cannot be made (too large)
  // raises EOutOfMemory.
  void SetSize(std::int32_t width, std::int32_t height, std::int32_t bitCount);
  void SetSizeEx(std::int32_t width, std::int32_t height, std::int32_t bitCount, std::int32_t redBits,
                 std::int32_t greenBits, std::int32_t blueBits, std::uint8_t* memory = nullptr);
  // A header and 256 palette entries: RLE compression becomes bit fields
  // when any mask is set, else none; masks are kept only for 16 and 32 bits
  // with bit fields; palettes are copied for up to 8 bits.
  void SetInfo(const plat::BITMAPINFO& info);
  // The palette of DIBs up to 8 bits (Count entries, at most 256); it
  // takes effect at the next re-creation.
  void SetColors(const plat::RGBQUAD* colors, std::int32_t count);
  // Copies Other's description and, when asked, its pixel memory.
  void Assign(TFastDIB* other, bool copyBits);
  // For a 32-bit DIB (assertion otherwise) whose alpha bytes are all 0: all
  // become 255. Nothing when any alpha byte is set.
  void FixAlpha();
  // BitBlt from the DIB's own DC, else StretchDIBits at the same size.
  void Draw(plat::HDC dc, std::int32_t x, std::int32_t y);
  // A BMP file: file header, info header with the palette (or the masks),
  // then the pixel memory.
  void SaveToStream(TStream* stream);
  void SaveToFile(const WideString& name);
  // Unpacks BI_RLE8 / BI_RLE4 data into the rows (memory order), clipped to
  // the DIB; data that ends early or runs past the picture stops the unpacking.
  void DecodeRLE8(std::span<const std::uint8_t> data);
  void DecodeRLE4(std::span<const std::uint8_t> data);
  // Deletes the DC when owned, the section when owned, the row table and
  // the memory when owned.
  void ReleaseSection();

  // ---- Description -------------------------------------------------------------
  plat::HDC Dc() const { return dc_; }
  plat::HBITMAP Section() const { return section_; }
  std::uint8_t* Bits() const { return bits_; }
  const plat::BITMAPINFO& Info() const { return info_; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }  // negative: top-down
  std::int32_t AbsHeight() const { return absHeight_; }
  bool TopDown() const { return height_ < 0; }
  std::int32_t BitCount() const { return bitCount_; }
  std::uint32_t Compression() const { return compression_; }
  std::int32_t Stride() const { return stride_; }
  std::int32_t Gap() const { return gap_; }
  std::int64_t Size() const { return size_; }
  std::uint32_t RedMask() const { return masks_[0]; }
  std::uint32_t GreenMask() const { return masks_[1]; }
  std::uint32_t BlueMask() const { return masks_[2]; }
  // Per channel (red, green, blue): bit width and the shift to 8 bits.
  std::int32_t ChannelBits(int channel) const { return channelBits_[channel]; }
  std::int32_t ChannelShift(int channel) const { return channelShift_[channel]; }

  // Rows in memory order; typed forms for 8-, 16-, 24- and 32-bit access.
  const std::vector<std::uint8_t*>& Scanlines() const { return rows_; }
  std::uint8_t* Pixels8(std::int32_t row) const { return rows_[std::size_t(row)]; }
  std::uint16_t* Pixels16(std::int32_t row) const { return reinterpret_cast<std::uint16_t*>(rows_[std::size_t(row)]); }
  TColor24* Pixels24(std::int32_t row) const { return reinterpret_cast<TColor24*>(rows_[std::size_t(row)]); }
  std::uint32_t* Pixels32(std::int32_t row) const { return reinterpret_cast<std::uint32_t*>(rows_[std::size_t(row)]); }

  bool OwnsDc() const { return ownsDc_; }
  bool OwnsMemory() const { return ownsMemory_; }
  bool OwnsSection() const { return ownsSection_; }
  // True: new memory is a DIB section with a DC of its own; false: plain memory.
  bool UseDibSection = true;
  // Called after every re-creation.
  std::function<void(TFastDIB*)> OnChange;

private:
  void Recreate(std::int32_t width, std::int32_t height, std::int32_t bitCount, const std::uint32_t* masks,
                std::uint8_t* memory);
  void SetMasks(const std::uint32_t* masks);

  plat::HDC dc_ = nullptr;
  plat::HGDIOBJ oldBitmap_ = nullptr;
  plat::HBITMAP section_ = nullptr;
  std::uint8_t* bits_ = nullptr;
  std::vector<std::uint8_t> plain_;  // plain memory when owned
  plat::BITMAPINFO info_;
  std::int32_t width_ = 0, height_ = 0, absHeight_ = 0;
  std::int32_t bitCount_ = 0;
  std::uint32_t compression_ = plat::BI_RGB;
  std::int32_t stride_ = 0, gap_ = 0;
  std::int64_t size_ = 0;
  std::uint32_t masks_[3] = {};
  std::int32_t channelBits_[3] = {};
  std::int32_t channelShift_[3] = {};
  std::vector<std::uint8_t*> rows_;
  bool ownsDc_ = false, ownsMemory_ = false, ownsSection_ = false;
};

// Row stride in bytes of a DIB line (4-byte aligned).
std::int32_t DibStride(std::int32_t width, std::int32_t bitCount);
// The pixel format of a bit count (8, 15, 16, 24, 32); others fail an assertion.
TPixelFormat* DibPixelFormat(std::int32_t bitCount);

class TDibBitmap : public TSysBitmap {
  ZM_BITMAP_CLASS(TDibBitmap, TSysBitmap)
public:
  // Format's bit count must equal the DIB's ("Pixel Formats Not
  // Compatible"). Owns: the bitmap takes over the caller's reference, else
  // it takes one of its own; either is dropped in Dispose.
  TDibBitmap(TFastDIB* dib, TPixelFormat* format, bool owns);
  void Dispose() override;

  TFastDIB* Dib() const { return dib_; }
  bool OwnsDib() const { return ownsDib_; }

private:
  TFastDIB* dib_ = nullptr;
  bool ownsDib_ = false;
};

// A TDibBitmap over an existing DIB (its format from the bit count).
TRef<TDibBitmap> WrapDibBitmap(TFastDIB* dib, bool owns);
// A TDibBitmap over a new bottom-up DIB it owns.
TRef<TDibBitmap> NewDibBitmap(std::int32_t width, std::int32_t height, std::int32_t bitCount);

// The factory link of this unit (see the unit's note).
TRef<TBitmap> DibCreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                              const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass);

// The GDI extensions, looked up at start-up; nil when missing.
using TAlphaBlendProc = plat::BOOL (*)(plat::HDC, int, int, int, int, plat::HDC, int, int, int, int, std::uint32_t);
using TTransparentBltProc = plat::BOOL (*)(plat::HDC, int, int, int, int, plat::HDC, int, int, int, int,
                                           std::uint32_t);
extern TAlphaBlendProc AlphaBlendProc;
extern TTransparentBltProc TransparentBltProc;

// Module start and end: the factory link and the extensions.
void InitDibBitmap();
void FiniDibBitmap();

}  // namespace zm
