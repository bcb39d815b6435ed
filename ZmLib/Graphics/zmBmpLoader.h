#pragma once
// Windows bitmap files (".bmp", ".dib") read into a new TDirectBitmap.
//
// Results: 1-, 4- and 8-bit pictures (also RLE8 and RLE4 coded) and 24-bit
// ones as "R8G8B8"; 32-bit as "A8R8G8B8" (alpha bytes that are all 0 are
// taken as opaque); 16-bit as the format whose layout the file's words have:
// "X1R5G5B5" (5-5-5, the default and bit fields 0x7C00/0x03E0/0x001F) or
// "R5G6B5" (bit fields 0xF800/0x07E0/0x001F); other 16-bit masks are
// refused. 32-bit bit fields take any contiguous masks, each channel scaled
// to 8 bits (alpha from its mask when the header has one, else opaque).
// Headers of 12 bytes (OS/2 1.x: 16-bit sizes, 3-byte palette entries) and
// of 40 bytes or more are read; the masks of bit-field files are always at
// offset 40 of the info header (inside longer headers, right after a 40-byte
// one). Run-coded rows are one byte per pixel, RowLength = stride * 8 / bits
// (the padded row in pixels), so RLE4 runs may fill the row's padding too.
//
// Bad data gives nil with the stream back where reading began. Sizes from
// the file are bounded by the data present before any memory is taken:
// uncompressed pixels must all be in the stream, RLE pictures may not
// expand beyond kMaxBmpRlePixelsPerByte pixels per coded byte (small ones
// excepted), and every picture stays within kMaxBitmapBytes. RLE streams
// cut short or running past the picture's end are refused.
#include <array>
#include <cstdint>
#include <span>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/zmStream.h"

namespace zm {

constexpr std::uint16_t kBmpMagic = 0x4D42;  // "BM"
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_JPEG = 4;
constexpr std::uint32_t BI_PNG = 5;

// RLE pictures of up to this many pixels load whatever their coded size.
constexpr std::int64_t kMinBmpRleBoundPixels = std::int64_t(1) << 22;
// Beyond that, at most this many pixels per byte of coded data.
constexpr std::int64_t kMaxBmpRlePixelsPerByte = 1024;

struct TBmpFileHeader {
  std::uint16_t Magic = 0;
  std::uint32_t FileSize = 0;
  std::uint16_t Reserved1 = 0;
  std::uint16_t Reserved2 = 0;
  std::uint32_t DataOffset = 0;  // from the start of the file header
};

struct TBmpInfoHeader {
  std::uint32_t Size = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;  // > 0 bottom-up, < 0 top-down
  std::uint16_t Planes = 0;
  std::uint16_t BitCount = 0;
  std::uint32_t Compression = 0;
  std::uint32_t ImageSize = 0;
  std::int32_t XPelsPerMeter = 0;
  std::int32_t YPelsPerMeter = 0;
  std::uint32_t ClrUsed = 0;
  std::uint32_t ClrImportant = 0;
};

// Entries blue, green, red, reserved; entries the file does not give are 0.
using TBmpPalette = std::array<std::array<std::uint8_t, 4>, 256>;

// Reads 14 bytes; false (position undefined) when fewer remain or the magic
// is not "BM".
bool ReadBmpFileHeader(TStream* stream, TBmpFileHeader& header);
// Reads the info header (40 bytes, or a 12-byte OS/2 one); false when it is
// short or its values cannot describe a picture (width < 1, height 0 or
// INT32_MIN, planes not 1, bits 0 without JPEG/PNG coding, compression > 5).
bool ReadBmpInfoHeader(TStream* stream, TBmpInfoHeader& header);
// Reads min(colours used, 2^bits) entries (all when colours used is 0) of
// 4 bytes (3 with a 12-byte header) from the position; false when short.
bool ReadBmpPalette(TStream* stream, const TBmpInfoHeader& header, TBmpPalette& palette);

// Index rows of Width pixels, one byte per pixel, from the packed file row;
// no more pixels than both spans hold.
void ReadBmpRow1(std::span<const std::uint8_t> source, std::span<std::uint8_t> indices, std::int32_t width);
void ReadBmpRow4(std::span<const std::uint8_t> source, std::span<std::uint8_t> indices, std::int32_t width);
void ReadBmpRow8(std::span<const std::uint8_t> source, std::span<std::uint8_t> indices, std::int32_t width);
// Indices to blue, green, red triples, as many as both spans hold.
void ExpandPaletteRow(std::span<const std::uint8_t> indices, const TBmpPalette& palette, std::span<std::uint8_t> bgr);

// Decodes the run stream from the position into Buffer, one byte per pixel,
// rows of RowLength bytes, from row 0 on. True when the end of the bitmap
// or the last row is reached; false when a run would leave the buffer or
// the data ends first (what was decoded stays in Buffer). RLE4 runs
// alternate the high and the low nibble of their value, high first;
// literal nibbles are taken high first, padded to 16 bits.
bool DecodeBmpRle8(TStream* stream, std::span<std::uint8_t> buffer, std::int32_t rowLength);
bool DecodeBmpRle4(TStream* stream, std::span<std::uint8_t> buffer, std::int32_t rowLength);

// The picture from the position on, or nil (the stream back at its starting
// position) when it is not a bitmap this reader can read.
TRef<TDirectBitmap> LoadBitmapFromStream(TStream* stream);

}  // namespace zm
