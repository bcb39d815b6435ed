#include "Platform/Gfx/GfxPixels.h"

#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace plat::gfx {
namespace {

constexpr PixelFormatInfo kFormats[] = {
    {Format::A8R8G8B8, 4, true, true, true, false, "A8R8G8B8"},
    {Format::X8R8G8B8, 4, false, true, true, false, "X8R8G8B8"},
    {Format::R5G6B5, 2, false, true, false, false, "R5G6B5"},
    {Format::X1R5G5B5, 2, false, true, false, false, "X1R5G5B5"},
    {Format::A1R5G5B5, 2, true, true, false, false, "A1R5G5B5"},
    {Format::A8, 1, true, true, false, false, "A8"},
    {Format::L8, 1, false, true, false, false, "L8"},
    {Format::D24X8, 4, false, false, false, true, "D24X8"},
    {Format::D16, 2, false, false, false, true, "D16"},
};

std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void Store16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }
// 8 bits to n bits, rounded to the nearest level.
std::uint32_t Narrow(std::uint32_t v, std::uint32_t maxLevel) { return (v * maxLevel + 127) / 255; }

}  // namespace

const PixelFormatInfo* FindPixelFormat(Format f) {
  for (const auto& info : kFormats)
    if (info.format == f) return &info;
  return nullptr;
}

std::uint32_t DecodePixel(Format f, const std::uint8_t* p) {
  switch (f) {
    case Format::A8R8G8B8: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case Format::X8R8G8B8: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return v | 0xFF000000u;
    }
    case Format::R5G6B5: {
      const std::uint32_t v = Load16(p);
      return 0xFF000000u | Expand5(v >> 11) << 16 | Expand6((v >> 5) & 63) << 8 | Expand5(v & 31);
    }
    case Format::X1R5G5B5:
    case Format::A1R5G5B5: {
      const std::uint32_t v = Load16(p);
      const std::uint32_t a = f == Format::X1R5G5B5 || (v & 0x8000) ? 0xFF000000u : 0;
      return a | Expand5((v >> 10) & 31) << 16 | Expand5((v >> 5) & 31) << 8 | Expand5(v & 31);
    }
    case Format::A8: return std::uint32_t{p[0]} << 24;
    case Format::L8: return 0xFF000000u | p[0] * 0x010101u;
    default: return 0;
  }
}

void EncodePixel(Format f, std::uint8_t* p, std::uint32_t argb) {
  const std::uint32_t a = argb >> 24, r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
  switch (f) {
    case Format::A8R8G8B8: std::memcpy(p, &argb, 4); break;
    case Format::X8R8G8B8: {
      const std::uint32_t v = argb | 0xFF000000u;
      std::memcpy(p, &v, 4);
      break;
    }
    case Format::R5G6B5:
      Store16(p, static_cast<std::uint16_t>(Narrow(r, 31) << 11 | Narrow(g, 63) << 5 | Narrow(b, 31)));
      break;
    case Format::X1R5G5B5:
    case Format::A1R5G5B5: {
      const std::uint32_t top = f == Format::X1R5G5B5 || a >= 128 ? 0x8000 : 0;
      Store16(p, static_cast<std::uint16_t>(top | Narrow(r, 31) << 10 | Narrow(g, 31) << 5 | Narrow(b, 31)));
      break;
    }
    case Format::A8: p[0] = static_cast<std::uint8_t>(a); break;
    // Luma with the video weights, so a grey round-trips exactly.
    case Format::L8: p[0] = static_cast<std::uint8_t>((77 * r + 150 * g + 29 * b + 128) >> 8); break;
    default: break;
  }
}

void DecodeRow(Format f, const std::uint8_t* src, std::uint32_t* dst, std::size_t count) {
  const PixelFormatInfo* info = FindPixelFormat(f);
  if (info == nullptr || info->depth) {
    std::memset(dst, 0, count * 4);
    return;
  }
  if (f == Format::A8R8G8B8) {
    std::memcpy(dst, src, count * 4);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) dst[i] = DecodePixel(f, src + i * info->bytesPerPixel);
}

void EncodeRow(Format f, const std::uint32_t* src, std::uint8_t* dst, std::size_t count) {
  const PixelFormatInfo* info = FindPixelFormat(f);
  if (info == nullptr || info->depth) return;
  if (f == Format::A8R8G8B8) {
    std::memcpy(dst, src, count * 4);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) EncodePixel(f, dst + i * info->bytesPerPixel, src[i]);
}

namespace {

// Rows shorter than this go through the cache: streaming pays only once the
// stores fill whole lines.
constexpr std::size_t kStreamMin = 256;

#if defined(__SSE2__)
// Pixels up to the next 16-byte boundary (dst is 4-byte aligned).
std::size_t HeadTo16(const std::uint32_t* dst, std::size_t count) {
  const std::size_t head = (16 - reinterpret_cast<std::uintptr_t>(dst) % 16) % 16 / 4;
  return head < count ? head : count;
}
#endif

}  // namespace

void StreamRow(std::uint32_t* dst, const std::uint8_t* src, std::size_t count, std::uint32_t orMask) {
  const auto one = [&](std::size_t i) {
    std::uint32_t v;
    std::memcpy(&v, src + i * 4, 4);
    v |= orMask;
    std::memcpy(dst + i, &v, 4);
  };
  std::size_t i = 0;
#if defined(__SSE2__)
  if (count >= kStreamMin && reinterpret_cast<std::uintptr_t>(dst) % 4 == 0) {
    for (const std::size_t head = HeadTo16(dst, count); i < head; ++i) one(i);
    const __m128i m = _mm_set1_epi32(static_cast<int>(orMask));
    for (; i + 4 <= count; i += 4)
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i),
                       _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * 4)), m));
  }
#endif
  for (; i < count; ++i) one(i);
}

void FillPixels32(std::uint32_t* dst, std::uint32_t value, std::size_t count) {
#if defined(__x86_64__)
  if (count >= kStreamMin) {
    asm volatile("rep stosl" : "+D"(dst), "+c"(count) : "a"(value) : "memory");
    return;
  }
#endif
  for (std::size_t i = 0; i < count; ++i) std::memcpy(dst + i, &value, 4);
}

void StreamFence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace plat::gfx
