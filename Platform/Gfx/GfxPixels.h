#pragma once
// Pixel formats: the table of what each format can be used for, and decoding
// to / encoding from packed 0xAARRGGBB with 8 bits a channel.
#include <cstddef>
#include <cstdint>

#include "Platform/Gfx/GfxDefs.h"

namespace plat::gfx {

struct PixelFormatInfo {
  Format format = Format::Unknown;
  std::uint32_t bytesPerPixel = 0;
  bool hasAlpha = false;      // alpha is stored (X8 and R5G6B5 read it as 1)
  bool texture = false;       // can be sampled
  bool renderTarget = false;  // can be drawn into
  bool depth = false;
  const char* name = "";
};

// nullptr for a format the device does not know.
const PixelFormatInfo* FindPixelFormat(Format f);

// 0 for unknown or depth formats, which have no colour.
std::uint32_t DecodePixel(Format f, const std::uint8_t* p);
// Does nothing for unknown or depth formats.
void EncodePixel(Format f, std::uint8_t* p, std::uint32_t argb);

// Whole rows; count pixels. The row pointers must hold count pixels.
void DecodeRow(Format f, const std::uint8_t* src, std::uint32_t* dst, std::size_t count);
void EncodeRow(Format f, const std::uint32_t* src, std::uint8_t* dst, std::size_t count);

// Rows written and not read back soon (presented frames): dst[i] = the
// 32-bit pixel at src + 4 * i, or-ed with orMask, with stores that bypass the
// caches where the row is long enough, so the writes cost no reads of the
// old contents. A band that used it calls StreamFence before another thread
// reads its rows.
void StreamRow(std::uint32_t* dst, const std::uint8_t* src, std::size_t count, std::uint32_t orMask);
void StreamFence();
// dst[i] = value (dst 4-byte aligned), through the cache with the
// processor's string stores where it has them: long runs written that way
// are not read first.
void FillPixels32(std::uint32_t* dst, std::uint32_t value, std::size_t count);

inline std::uint32_t Expand5(std::uint32_t v) { return (v << 3) | (v >> 2); }
inline std::uint32_t Expand6(std::uint32_t v) { return (v << 2) | (v >> 4); }

// Fast decoding of the formats that dominate sampling.
inline std::uint32_t DecodePixelInline(Format f, const std::uint8_t* p) {
  switch (f) {
    case Format::A8R8G8B8: {
      std::uint32_t v;
      __builtin_memcpy(&v, p, 4);
      return v;
    }
    case Format::X8R8G8B8: {
      std::uint32_t v;
      __builtin_memcpy(&v, p, 4);
      return v | 0xFF000000u;
    }
    case Format::L8: return 0xFF000000u | p[0] * 0x010101u;
    default: return DecodePixel(f, p);
  }
}

}  // namespace plat::gfx
