#include "ZmLib/Graphics/zmBitmap.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <limits>

namespace zm {

TPixelFormatByNameProc PixelFormatByNameHook = nullptr;
TPixelConverterProc PixelConverterHook = nullptr;
TCreateBitmapProc CreateBitmapHook = nullptr;

TPixelFormat* PixelFormatByName(const TByteString& name) {
  ZM_ASSERT(PixelFormatByNameHook, "PixelFormatByNameHook not Assigned");
  return PixelFormatByNameHook(name);
}

TPixelConverter* PixelConverter(TPixelFormat* target, TPixelFormat* source) {
  ZM_ASSERT(PixelConverterHook, "PixelConverterHook not Assigned");
  return PixelConverterHook(target, source);
}

// ---- Classes and the factory ---------------------------------------------------------

bool TBitmapClass::InheritsFrom(const TBitmapClass* ancestor) const {
  for (const TBitmapClass* c = this; c; c = c->Parent)
    if (c == ancestor) return true;
  return false;
}

TRef<TBitmap> CreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                           const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass) {
  if (!CreateBitmapHook) return nullptr;
  return CreateBitmapHook(width, height, format, handler, source, bitmapClass);
}

TRef<TBitmap> DefCreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                              const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass) {
  if (!bitmapClass || !TDirectBitmap::StaticClass()->InheritsFrom(bitmapClass)) return nullptr;
  TRef<TDirectBitmap> b = MakeRef<TDirectBitmap>(width, format, height);
  b->ProgressHandler = handler;
  if (source) b->CopyFrom(source);
  return b;
}

TRef<TBitmap> ConvertBitmap(TBitmap* bitmap, TPixelFormat* format, const TBitmapClass* bitmapClass,
                            const TBitmapProgressEvent& handler) {
  if (!bitmap) return nullptr;
  return CreateBitmap(bitmap->Width(), bitmap->Height(), format ? format : bitmap->PixelFormat(),
                      handler ? handler : bitmap->ProgressHandler, bitmap, bitmapClass);
}

bool BitmapMatches(const TBitmap* bitmap, const TPixelFormat* format, const TBitmapClass* bitmapClass) {
  if (!bitmap) return false;
  if (format && format != bitmap->PixelFormat()) return false;
  if (!bitmapClass) return true;
  return bitmap->ClassType()->InheritsFrom(bitmapClass);
}

namespace {
// Clips the span start..end to 0..limit; paired, the matching position on
// the other side, moves on as far as start does. False when nothing is left.
bool ClipSpan(std::int64_t& start, std::int64_t& end, std::int64_t limit, std::int64_t& paired) {
  if (limit <= start || end <= 0) return false;
  if (start < 0) {
    paired -= start;
    start = 0;
  }
  end = std::min(end, limit);
  return true;
}
}  // namespace

bool ClipCopyRect(std::int32_t& destX, std::int32_t& destY, std::int32_t& width, std::int32_t& height,
                  const TPoint& sourceSize, const TPoint& destSize, std::int32_t& sourceX, std::int32_t& sourceY) {
  // 64-bit throughout: positions near the ends of the 32-bit range must not wrap.
  std::int64_t l = destX, t = destY, r = l + width, b = t + height;
  std::int64_t sx = sourceX, sy = sourceY;
  if (!ClipSpan(l, r, destSize.X, sx) || !ClipSpan(t, b, destSize.Y, sy)) return false;
  std::int64_t sr = sx + (r - l), sb = sy + (b - t);
  if (!ClipSpan(sx, sr, sourceSize.X, l) || !ClipSpan(sy, sb, sourceSize.Y, t)) return false;
  if (sr - sx <= 0 || sb - sy <= 0) return false;
  destX = std::int32_t(l);
  destY = std::int32_t(t);
  sourceX = std::int32_t(sx);
  sourceY = std::int32_t(sy);
  width = std::int32_t(sr - sx);
  height = std::int32_t(sb - sy);
  return true;
}

bool BitmapSizeAllowed(std::int32_t width, std::int32_t height, const TPixelFormat* format) {
  if (width < 1 || height < 1 || !format || format->BytesPerPixel < 1) return false;
  // Checked in steps so that the product cannot overflow.
  const std::int64_t row = std::int64_t(width) * format->BytesPerPixel;
  return row <= kMaxBitmapBytes && row * height <= kMaxBitmapBytes;
}

// ---- TBitmap --------------------------------------------------------------------------

TRef<TBitmap> TBitmap::CreateCompatible() { return ConvertBitmap(this, PixelFormat(), ClassType(), ProgressHandler); }

bool TBitmap::DoProgress(float fraction) const { return ProgressHandler ? ProgressHandler(fraction) : true; }

std::string TBitmap::Msg(const char* text) const { return ClassName() + text; }

// ---- TDirectBitmap ---------------------------------------------------------------------

TDirectBitmap::TDirectBitmap(std::int32_t width, TPixelFormat* format, std::int32_t height)
    : TBitmap(width, height, format), rowBytes_(0) {
  ZM_ASSERT(width >= 1, "TDirectBitmap.Create - Invalid Width");
  ZM_ASSERT(height >= 1, "TDirectBitmap.Create - Invalid Height");
  ZM_ASSERT(format, "TDirectBitmap.Create - PixelFormat not Assigned");
  ZM_ASSERT(BitmapSizeAllowed(width, height, format), "TDirectBitmap.Create - Bitmap too Large");
  rowBytes_ = width * format->BytesPerPixel;
  pixels_ = plat::PictureMemory(std::size_t(rowBytes_) * std::size_t(height));
}

void TDirectBitmap::Dispose() {
  pixels_.Release();
  TBitmap::Dispose();
}

std::int32_t TDirectBitmap::GetPixels(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x,
                                      std::int32_t y, std::int32_t count) const {
  ZM_ASSERT(x >= 0 && y >= 0 && x < Width() && y < Height(), Msg(".GetPixels (X,Y) out of Bitmap.Size"));
  ZM_ASSERT(offset >= 0, Msg(".GetPixels - Offset out of Bounds"));
  count = std::min(count, Width() - x);
  if (count <= 0) return 0;
  const std::int64_t bytes = std::int64_t(count) * BytesPerPixel();
  ZM_ASSERT(std::int64_t(offset) + bytes <= std::int64_t(buffer.size()),
            Msg(".GetPixels - Not Enought Pixel Buffer Space"));
  std::memmove(buffer.data() + offset, PixelAddress(x, y), std::size_t(bytes));
  return std::int32_t(bytes);
}

namespace {
// What the typed readers share: the checks, then the copy; returns the
// bytes copied.
template <class T>
std::int32_t GetTyped(const TDirectBitmap& b, const char* op, std::size_t size, std::span<T> buffer,
                      std::int32_t offset, std::int32_t x, std::int32_t y, std::int32_t count) {
  const std::string name = b.ClassName() + "." + op;
  ZM_ASSERT(b.BytesPerPixel() == std::int32_t(size), name + " - Invalid Pixel Size");
  ZM_ASSERT(x >= 0 && y >= 0 && std::int64_t(x) + count <= b.Width() && y < b.Height(), name + " out of Bitmap.Size");
  ZM_ASSERT(offset >= 0 && std::int64_t(offset) + std::max(count, 0) <= std::int64_t(buffer.size()),
            name + " - Out of Pixel Buffer Bounds");
  const std::int64_t n = count > 0 ? std::int64_t(count) * std::int64_t(size) : 0;
  if (n) std::memmove(buffer.data() + offset, b.PixelAddress(x, y), std::size_t(n));
  return std::int32_t(n);
}
}  // namespace

std::int32_t TDirectBitmap::GetPixels8(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x,
                                       std::int32_t y, std::int32_t count) const {
  return GetTyped(*this, "GetPixels8", 1, buffer, offset, x, y, count);
}

std::int32_t TDirectBitmap::GetPixels16(std::span<std::uint16_t> buffer, std::int32_t offset, std::int32_t x,
                                        std::int32_t y, std::int32_t count) const {
  return GetTyped(*this, "GetPixels16", 2, buffer, offset, x, y, count);
}

std::int32_t TDirectBitmap::GetPixels24(std::span<TColor24> buffer, std::int32_t offset, std::int32_t x,
                                        std::int32_t y, std::int32_t count) const {
  return GetTyped(*this, "GetPixels24", 3, buffer, offset, x, y, count);
}

std::int32_t TDirectBitmap::GetPixels32(std::span<std::uint32_t> buffer, std::int32_t offset, std::int32_t x,
                                        std::int32_t y, std::int32_t count) const {
  return GetTyped(*this, "GetPixels32", 4, buffer, offset, x, y, count);
}

void TDirectBitmap::CopyRect(const TRect& destRect, TBitmap* source, const TPoint& sourcePoint) {
  ZM_ASSERT(source, Msg(".CopyRect - Source not Assigned"));
  std::int32_t dx = destRect.Left, dy = destRect.Top, sx = sourcePoint.X, sy = sourcePoint.Y;
  std::int64_t w64 = std::int64_t(destRect.Right) - destRect.Left, h64 = std::int64_t(destRect.Bottom) - destRect.Top;
  if (w64 <= 0 || h64 <= 0) return;
  std::int32_t w = std::int32_t(std::min<std::int64_t>(w64, std::numeric_limits<std::int32_t>::max()));
  std::int32_t h = std::int32_t(std::min<std::int64_t>(h64, std::numeric_limits<std::int32_t>::max()));
  if (!ClipCopyRect(dx, dy, w, h, source->Size(), Size(), sx, sy)) return;

  const std::int32_t bpp = BytesPerPixel();
  if (source->PixelFormat() == PixelFormat() && bpp >= 1 && bpp <= 4) {
    // Same format: each row is read straight into place.
    for (std::int32_t i = 0; i < h; ++i) {
      std::uint8_t* row = PixelAddress(dx, dy + i);
      switch (bpp) {
        case 1: source->GetPixels8({row, std::size_t(w)}, 0, sx, sy + i, w); break;
        case 2: source->GetPixels16({reinterpret_cast<std::uint16_t*>(row), std::size_t(w)}, 0, sx, sy + i, w); break;
        case 3: source->GetPixels24({reinterpret_cast<TColor24*>(row), std::size_t(w)}, 0, sx, sy + i, w); break;
        default: source->GetPixels32({reinterpret_cast<std::uint32_t*>(row), std::size_t(w)}, 0, sx, sy + i, w); break;
      }
    }
    return;
  }

  TPixelConverter* conv = PixelConverter(PixelFormat(), source->PixelFormat());
  ZM_ASSERT(conv, Msg(".CopyRect - No Pixel Converter"));
  std::vector<std::uint8_t> scratch(std::size_t(w) * std::size_t(source->BytesPerPixel()));
  for (std::int32_t i = 0; i < h; ++i) {
    source->GetPixels(scratch, 0, sx, sy + i, w);
    std::uint8_t* row = ScanLine(dy + i);
    switch (bpp) {
      case 2: conv->Convert16(reinterpret_cast<std::uint16_t*>(row), dx, scratch.data(), 0, w); break;
      case 3: conv->Convert24(reinterpret_cast<TColor24*>(row), dx, scratch.data(), 0, w); break;
      case 4: conv->Convert32(reinterpret_cast<std::uint32_t*>(row), dx, scratch.data(), 0, w); break;
      // Convert8 counts X in bytes, so other sizes pass the pixel's own address.
      default: conv->Convert8(PixelAddress(dx, dy + i), 0, scratch.data(), 0, w); break;
    }
  }
}

void TDirectBitmap::CopyFrom(TBitmap* source) { CopyRect({0, 0, Width(), Height()}, source, {0, 0}); }

void TDirectBitmap::FillRect(const TRect& rect, TColor32 color) {
  const std::int32_t l = std::max(rect.Left, 0), t = std::max(rect.Top, 0);
  const std::int32_t r = std::min(rect.Right, Width()), b = std::min(rect.Bottom, Height());
  const std::int32_t bpp = BytesPerPixel();
  if (r <= l || b <= t || bpp < 1 || bpp > 4) return;
  // One pixel of this format: grey for 1-byte pixels, otherwise the colour
  // converted from "A8R8G8B8" so that the channels land where the format
  // keeps them.
  std::uint8_t pixel[4] = {};
  if (bpp == 1) {
    pixel[0] = std::uint8_t((color.B + color.G + color.R) / 3);
  } else {
    const std::uint8_t src[4] = {color.B, color.G, color.R, color.A};
    TPixelConverter* conv = PixelConverter(PixelFormat(), PixelFormatByName(PF_A8R8G8B8));
    ZM_ASSERT(conv, Msg(".FillRect - No Pixel Converter"));
    conv->Convert8(pixel, 0, src, 0, 1);
  }
  // Each width its own loop, which the compiler turns into wide stores.
  const auto fill = [&](auto bytes) {
    constexpr std::size_t n = decltype(bytes)::value;
    for (std::int32_t y = t; y < b; ++y) {
      std::uint8_t* p = PixelAddress(l, y);
      for (std::int32_t x = l; x < r; ++x, p += n) std::memcpy(p, pixel, n);
    }
  };
  switch (bpp) {
    case 4: fill(std::integral_constant<std::size_t, 4>{}); break;
    case 3: fill(std::integral_constant<std::size_t, 3>{}); break;
    case 2: fill(std::integral_constant<std::size_t, 2>{}); break;
    default: fill(std::integral_constant<std::size_t, 1>{}); break;
  }
}

std::uint8_t* TDirectBitmap::PixelAddress(std::int32_t x, std::int32_t y) {
  return const_cast<std::uint8_t*>(std::as_const(*this).PixelAddress(x, y));
}

const std::uint8_t* TDirectBitmap::PixelAddress(std::int32_t x, std::int32_t y) const {
  ZM_ASSERT(x >= 0 && y >= 0 && x < Width() && y < Height(), Msg(".PixelAddress (X,Y) out of Bitmap.Size"));
  return ScanLine(y) + std::size_t(x) * std::size_t(BytesPerPixel());
}

void TDirectBitmap::CheckRow(std::int32_t y, std::int32_t size) const {
  ZM_ASSERT(BytesPerPixel() == size, Msg(".Row - Invalid Pixel Size"));
  ZM_ASSERT(y >= 0 && y < Height(), Msg(".Row out of Bitmap.Size"));
}

std::uint8_t* TDirectBitmap::Row8(std::int32_t y) {
  CheckRow(y, 1);
  return ScanLine(y);
}

std::uint16_t* TDirectBitmap::Row16(std::int32_t y) {
  CheckRow(y, 2);
  return reinterpret_cast<std::uint16_t*>(ScanLine(y));
}

TColor24* TDirectBitmap::Row24(std::int32_t y) {
  CheckRow(y, 3);
  return reinterpret_cast<TColor24*>(ScanLine(y));
}

std::uint32_t* TDirectBitmap::Row32(std::int32_t y) {
  CheckRow(y, 4);
  return reinterpret_cast<std::uint32_t*>(ScanLine(y));
}

void InitBitmap() { CreateBitmapHook = &DefCreateBitmap; }

void FiniBitmap() { CreateBitmapHook = nullptr; }

}  // namespace zm
