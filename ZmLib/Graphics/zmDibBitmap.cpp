#include "ZmLib/Graphics/zmDibBitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

TAlphaBlendProc AlphaBlendProc = nullptr;
TTransparentBltProc TransparentBltProc = nullptr;

namespace {

THookInstall<TCreateBitmapProc> gDibCreateBitmap;

// Masks of the layouts the 15- and 16-bit formats name (red, green, blue).
constexpr std::uint32_t kMasks565[3] = {0x001F, 0x07E0, 0xF800};
constexpr std::uint32_t kMasks555X[3] = {0x003E, 0x07C0, 0xF800};
constexpr std::uint32_t kMasks888[3] = {0xFF0000, 0x00FF00, 0x0000FF};

// Red lowest, then green, then blue: the order the 16-bit format names read.
void MasksFromWidths16(std::int32_t r, std::int32_t g, std::int32_t b, std::uint32_t* masks) {
  masks[0] = (1u << r) - 1;
  masks[1] = ((1u << (r + g)) - 1) & ~masks[0];
  masks[2] = ((r + g + b >= 32 ? 0xFFFFFFFFu : (1u << (r + g + b)) - 1)) & ~(masks[0] | masks[1]);
}

// Blue lowest (the 32-bit layouts): blue, then green, then red.
void MasksFromWidths32(std::int32_t r, std::int32_t g, std::int32_t b, std::uint32_t* masks) {
  masks[2] = (1u << b) - 1;
  masks[1] = ((1u << (g + b)) - 1) & ~masks[2];
  masks[0] = ((r + g + b >= 32 ? 0xFFFFFFFFu : (1u << (r + g + b)) - 1)) & ~(masks[1] | masks[2]);
}

// The green width of a 16-bit screen: green 100 drawn and read back.
std::int32_t ScreenGreenBits() {
  plat::HDC screen = plat::GetDC(nullptr);
  std::int32_t bits = 6;
  if (plat::HDC dc = plat::CreateCompatibleDC(screen)) {
    if (plat::HBITMAP bm = plat::CreateCompatibleBitmap(screen, 1, 1)) {
      plat::HGDIOBJ old = plat::SelectObject(dc, reinterpret_cast<plat::HGDIOBJ>(bm));
      plat::SetPixel(dc, 0, 0, plat::RGB(0, 100, 0));
      if (plat::GetGValue(plat::GetPixel(dc, 0, 0)) < 100) bits = 5;
      plat::SelectObject(dc, old);
      plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(bm));
    }
    plat::DeleteDC(dc);
  }
  plat::ReleaseDC(nullptr, screen);
  return bits;
}

void WriteBytes(TStream* stream, const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  while (n > 0) {
    const std::size_t chunk = std::min<std::size_t>(n, 1u << 30);
    if (stream->Write(TWriteBuffer(b, chunk), std::int32_t(chunk), 0) != std::int32_t(chunk)) throw EStreamWriteError();
    b += chunk;
    n -= chunk;
  }
}

}  // namespace

std::int32_t DibStride(std::int32_t width, std::int32_t bitCount) {
  return std::int32_t(((std::int64_t(std::max(width, 0)) * bitCount + 31) & ~std::int64_t(31)) / 8);
}

TPixelFormat* DibPixelFormat(std::int32_t bitCount) {
  switch (bitCount) {
    case 8: return PixelFormatByName(PF_Y8);
    case 15: return PixelFormatByName(PF_B5G5R5X1);
    case 16: return PixelFormatByName(PF_B5G6R5);
    case 24: return PixelFormatByName(PF_R8G8B8);
    case 32: return PixelFormatByName(PF_A8R8G8B8);
    default: ZM_FAIL("DibPixelFormat - Unsupported Bit Count " + std::to_string(bitCount));
  }
}

// ============================================================================
// TFastDIB
// ============================================================================

TFastDIB::TFastDIB() { info_.bmiHeader.biSize = 40, info_.bmiHeader.biPlanes = 1; }

void TFastDIB::Dispose() {
  ReleaseSection();
  TRefObject::Dispose();
}

void TFastDIB::ReleaseSection() {
  if (dc_) {
    if (oldBitmap_) plat::SelectObject(dc_, oldBitmap_);
    if (ownsDc_) plat::DeleteDC(dc_);
  }
  if (section_ && ownsSection_) plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(section_));
  dc_ = nullptr;
  oldBitmap_ = nullptr;
  section_ = nullptr;
  rows_.clear();
  std::vector<std::uint8_t>().swap(plain_);
  bits_ = nullptr;
  ownsDc_ = ownsSection_ = ownsMemory_ = false;
}

void TFastDIB::SetMasks(const std::uint32_t* masks) {
  for (int i = 0; i < 3; ++i) {
    masks_[i] = masks ? masks[i] : 0;
    channelBits_[i] = std::popcount(masks_[i]);
    channelShift_[i] = channelBits_[i] < 8 ? 8 - channelBits_[i] : 0;
  }
}

void TFastDIB::SetSize(std::int32_t width, std::int32_t height, std::int32_t bitCount) {
  SetSizeEx(width, height, bitCount, 0, 0, 0, nullptr);
}

void TFastDIB::SetSizeEx(std::int32_t width, std::int32_t height, std::int32_t bitCount, std::int32_t redBits,
                         std::int32_t greenBits, std::int32_t blueBits, std::uint8_t* memory) {
  std::uint32_t masks[3] = {};
  const bool widths = redBits > 0 || greenBits > 0 || blueBits > 0;
  if (bitCount == 0) {
    plat::HDC screen = plat::GetDC(nullptr);
    bitCount = plat::GetDeviceCaps(screen, plat::BITSPIXEL);
    plat::ReleaseDC(nullptr, screen);
    if (bitCount == 16 && !widths) {
      redBits = 5, greenBits = ScreenGreenBits(), blueBits = 5;
      MasksFromWidths16(redBits, greenBits, blueBits, masks);
    }
  }
  if (widths) {
    ZM_ASSERT(redBits >= 0 && greenBits >= 0 && blueBits >= 0 && redBits + greenBits + blueBits <= 32,
              "TFastDIB.SetSize - Invalid Channel Widths");
    if (bitCount == 15 || bitCount == 16) MasksFromWidths16(redBits, greenBits, blueBits, masks);
    else MasksFromWidths32(redBits, greenBits, blueBits, masks);
  } else if (!masks[0]) {
    if (bitCount == 15) std::copy(kMasks555X, kMasks555X + 3, masks);
    else if (bitCount == 16) std::copy(kMasks565, kMasks565 + 3, masks);
  }
  Recreate(width, height, bitCount, masks[0] | masks[1] | masks[2] ? masks : nullptr, memory);
}

void TFastDIB::SetInfo(const plat::BITMAPINFO& info) {
  plat::BITMAPINFO copy = info;
  plat::BITMAPINFOHEADER& h = copy.bmiHeader;
  std::uint32_t masks[3];
  std::memcpy(masks, copy.bmiColors, sizeof masks);
  const bool anyMask = masks[0] | masks[1] | masks[2];
  if (h.biCompression == plat::BI_RLE8 || h.biCompression == plat::BI_RLE4)
    h.biCompression = anyMask ? plat::BI_BITFIELDS : plat::BI_RGB;
  const bool keepMasks = (h.biBitCount == 16 || h.biBitCount == 32) && h.biCompression == plat::BI_BITFIELDS;
  if (h.biBitCount <= 8) {
    const std::int32_t count = h.biClrUsed && h.biClrUsed <= 256 ? std::int32_t(h.biClrUsed) : 256;
    std::copy(copy.bmiColors, copy.bmiColors + count, info_.bmiColors);
    std::fill(info_.bmiColors + count, info_.bmiColors + 256, plat::RGBQUAD{});
  }
  info_.bmiHeader.biClrUsed = h.biBitCount <= 8 ? h.biClrUsed : 0;
  info_.bmiHeader.biXPelsPerMeter = h.biXPelsPerMeter;
  info_.bmiHeader.biYPelsPerMeter = h.biYPelsPerMeter;
  if (keepMasks) {
    Recreate(h.biWidth, h.biHeight, h.biBitCount, masks, nullptr);
  } else if (h.biBitCount == 16) {
    // 16-bit memory keeps the one layout its pixel format names.
    Recreate(h.biWidth, h.biHeight, 16, kMasks565, nullptr);
  } else {
    Recreate(h.biWidth, h.biHeight, h.biBitCount, nullptr, nullptr);
  }
}

void TFastDIB::SetColors(const plat::RGBQUAD* colors, std::int32_t count) {
  count = std::clamp(count, 0, 256);
  if (colors) std::copy(colors, colors + count, info_.bmiColors);
  std::fill(info_.bmiColors + count, info_.bmiColors + 256, plat::RGBQUAD{});
  info_.bmiHeader.biClrUsed = std::uint32_t(count);
}

void TFastDIB::Recreate(std::int32_t width, std::int32_t height, std::int32_t bitCount, const std::uint32_t* masks,
                        std::uint8_t* memory) {
  ZM_ASSERT(bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 15 || bitCount == 16 || bitCount == 24 ||
                bitCount == 32,
            "TFastDIB.SetSize - Unsupported Bit Count " + std::to_string(bitCount));
  ZM_ASSERT(width >= 0 && height != std::int32_t(0x80000000), "TFastDIB.SetSize - Invalid Size");
  if (bitCount == 32 && !masks) masks = kMasks888;
  const std::int32_t memBits = bitCount == 15 ? 16 : bitCount;
  std::uint32_t newMasks[3] = {};
  if (masks && (memBits == 16 || memBits == 32)) std::copy(masks, masks + 3, newMasks);
  const bool same = width == width_ && height == height_ && bitCount == bitCount_ && !memory &&
                    std::equal(newMasks, newMasks + 3, masks_) && (bits_ || width == 0 || height == 0);
  if (same) return;

  const std::int32_t absHeight = height < 0 ? -height : height;
  const std::int32_t stride = DibStride(width, memBits);
  const std::int64_t size = std::int64_t(stride) * absHeight;
  ReleaseSection();
  width_ = width;
  height_ = height;
  absHeight_ = absHeight;
  bitCount_ = bitCount;
  stride_ = stride;
  gap_ = stride - std::int32_t((std::int64_t(width) * memBits + 7) / 8);
  size_ = size;
  SetMasks(memBits == 16 || memBits == 32 ? newMasks : nullptr);
  // The 32-bit standard layout needs no masks in the header; every other
  // masked layout is announced as bit fields.
  const bool standard32 = memBits == 32 && std::equal(newMasks, newMasks + 3, kMasks888);
  compression_ = (memBits == 16 || (memBits == 32 && !standard32)) ? plat::BI_BITFIELDS : plat::BI_RGB;

  plat::BITMAPINFOHEADER& h = info_.bmiHeader;
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = std::uint16_t(memBits);
  h.biCompression = compression_;
  h.biSizeImage = std::uint32_t(std::min<std::int64_t>(size, 0xFFFFFFFF));
  if (compression_ == plat::BI_BITFIELDS) std::memcpy(info_.bmiColors, masks_, sizeof masks_);
  if (memBits <= 8 && h.biClrUsed > std::uint32_t(1 << memBits)) h.biClrUsed = 0;

  if (width == 0 || absHeight == 0) {
    if (OnChange) OnChange(this);
    return;
  }
  if (memory) {
    bits_ = memory;
  } else if (UseDibSection) {
    void* p = nullptr;
    section_ = plat::CreateDIBSection(nullptr, &info_, plat::DIB_RGB_COLORS, &p, nullptr, 0);
    if (!section_) {
      width_ = height_ = absHeight_ = 0;
      size_ = 0;
      throw EOutOfMemory("TFastDIB.SetSize - Can't Create DIB " + std::to_string(width) + " x " +
                         std::to_string(absHeight) + " x " + std::to_string(bitCount));
    }
    ownsSection_ = true;
    bits_ = static_cast<std::uint8_t*>(p);
    dc_ = plat::CreateCompatibleDC(nullptr);
    ownsDc_ = dc_ != nullptr;
    if (dc_) oldBitmap_ = plat::SelectObject(dc_, reinterpret_cast<plat::HGDIOBJ>(section_));
  } else {
    if (size > plat::kMaxDibBytes) {
      width_ = height_ = absHeight_ = 0;
      size_ = 0;
      throw EOutOfMemory("TFastDIB.SetSize - Can't Allocate DIB " + std::to_string(width) + " x " +
                         std::to_string(absHeight) + " x " + std::to_string(bitCount));
    }
    plain_.assign(std::size_t(size), 0);
    bits_ = plain_.data();
    ownsMemory_ = true;
  }
  rows_.resize(std::size_t(absHeight));
  for (std::int32_t i = 0; i < absHeight; ++i) rows_[std::size_t(i)] = bits_ + std::ptrdiff_t(i) * stride;
  if (OnChange) OnChange(this);
}

void TFastDIB::Assign(TFastDIB* other, bool copyBits) {
  if (!other || other == this) return;
  info_ = other->info_;
  const std::uint32_t* masks = other->bitCount_ == 15 || other->bitCount_ == 16 || other->bitCount_ == 32
                                   ? other->masks_
                                   : nullptr;
  Recreate(other->width_, other->height_, other->bitCount_, masks, nullptr);
  if (copyBits && bits_ && other->bits_ && size_ == other->size_) std::memcpy(bits_, other->bits_, std::size_t(size_));
}

void TFastDIB::FixAlpha() {
  ZM_ASSERT(bitCount_ == 32, "TFastDIB.FixAlpha - Not a 32-bit DIB");
  for (std::int32_t y = 0; y < absHeight_; ++y) {
    const std::uint8_t* p = rows_[std::size_t(y)];
    for (std::int32_t x = 0; x < width_; ++x)
      if (p[x * 4 + 3]) return;
  }
  for (std::int32_t y = 0; y < absHeight_; ++y) {
    std::uint8_t* p = rows_[std::size_t(y)];
    for (std::int32_t x = 0; x < width_; ++x) p[x * 4 + 3] = 255;
  }
}

void TFastDIB::Draw(plat::HDC dc, std::int32_t x, std::int32_t y) {
  if (!bits_) return;
  if (dc_) plat::BitBlt(dc, x, y, width_, absHeight_, dc_, 0, 0, plat::SRCCOPY);
  else
    plat::StretchDIBits(dc, x, y, width_, absHeight_, 0, 0, width_, absHeight_, bits_, &info_, plat::DIB_RGB_COLORS,
                        plat::SRCCOPY);
}

void TFastDIB::SaveToStream(TStream* stream) {
  ZM_ASSERT(stream, "TFastDIB.SaveToStream - Stream not Assigned");
  const plat::BITMAPINFOHEADER& h = info_.bmiHeader;
  std::int32_t paletteBytes = 0;
  if (h.biClrUsed) paletteBytes = std::int32_t(h.biClrUsed) * 4;
  else if (compression_ == plat::BI_BITFIELDS) paletteBytes = 12;
  else if (h.biBitCount <= 8) paletteBytes = (1 << h.biBitCount) * 4;
  plat::BITMAPFILEHEADER f;
  f.bfType = 0x4D42;  // "BM"
  f.bfSize = std::uint32_t(std::min<std::int64_t>(size_ + 54 + paletteBytes, 0xFFFFFFFF));
  f.bfOffBits = std::uint32_t(54 + paletteBytes);
  WriteBytes(stream, &f, sizeof f);
  WriteBytes(stream, &h, sizeof h);
  WriteBytes(stream, info_.bmiColors, std::size_t(paletteBytes));
  if (bits_) WriteBytes(stream, bits_, std::size_t(size_));
}

void TFastDIB::SaveToFile(const WideString& name) {
  TRef<TFileStream> f = MakeRef<TFileStream>(name, GENERIC_WRITE, CREATE_ALWAYS);
  SaveToStream(f.get());
}

namespace {

// The BMP run-length codes over rows of 8-bit indexes or packed nibbles:
// runs, end of line, end of bitmap, delta, and absolute runs padded to 16
// bits. Pixels outside the picture are dropped; the data ending early
// stops the unpacking.
void UnpackRLE(std::span<const std::uint8_t> data, const std::vector<std::uint8_t*>& rows, std::int32_t width,
               bool nibbles) {
  const auto height = std::int32_t(rows.size());
  std::size_t p = 0;
  std::int32_t x = 0, y = 0;
  auto put = [&](std::uint8_t v) {
    if (x < width && y < height) {
      if (!nibbles) {
        rows[std::size_t(y)][x] = v;
      } else {
        std::uint8_t& b = rows[std::size_t(y)][x / 2];
        b = (x & 1) ? std::uint8_t((b & 0xF0) | (v & 0x0F)) : std::uint8_t((b & 0x0F) | (v << 4));
      }
    }
    ++x;
  };
  // Pixel i of a byte sequence: the byte itself, or its high then low nibble.
  auto pixel = [nibbles](const std::uint8_t* bytes, int i) {
    return nibbles ? std::uint8_t((i & 1) ? bytes[i / 2] & 0x0F : bytes[i / 2] >> 4) : bytes[i];
  };
  while (p + 1 < data.size() && y < height) {
    const std::uint8_t n = data[p], v = data[p + 1];
    p += 2;
    if (n > 0) {
      const std::uint8_t run[1] = {v};
      for (int i = 0; i < n; ++i) put(nibbles ? pixel(run, i & 1) : v);
    } else if (v == 0) {
      x = 0, ++y;
    } else if (v == 1) {
      return;
    } else if (v == 2) {
      if (p + 1 >= data.size()) return;
      x += data[p], y += data[p + 1];
      p += 2;
    } else {
      const std::size_t bytes = nibbles ? (std::size_t(v) + 1) / 2 : v;
      if (p + bytes > data.size()) return;
      for (int i = 0; i < v; ++i) put(pixel(data.data() + p, i));
      p += bytes + (bytes & 1);
    }
  }
}

}  // namespace

void TFastDIB::DecodeRLE8(std::span<const std::uint8_t> data) {
  if (bitCount_ == 8 && bits_) UnpackRLE(data, rows_, width_, false);
}

void TFastDIB::DecodeRLE4(std::span<const std::uint8_t> data) {
  if (bitCount_ == 4 && bits_) UnpackRLE(data, rows_, width_, true);
}

// ============================================================================
// TDibBitmap
// ============================================================================

namespace {

std::vector<std::uint8_t*> DibRows(TFastDIB* dib) {
  ZM_ASSERT(dib, "TDibBitmap.Create - Dib not Assigned");
  const auto& rows = dib->Scanlines();
  std::vector<std::uint8_t*> out(rows.size());
  if (dib->TopDown()) std::copy(rows.begin(), rows.end(), out.begin());
  else std::reverse_copy(rows.begin(), rows.end(), out.begin());
  return out;
}

}  // namespace

TDibBitmap::TDibBitmap(TFastDIB* dib, TPixelFormat* format, bool owns)
    : TSysBitmap(TPoint{dib ? dib->Width() : 0, dib ? dib->AbsHeight() : 0}, DibRows(dib), format) {
  ZM_ASSERT(format->BitsPerPixel == (dib->BitCount() == 15 ? 16 : dib->BitCount()),
            "TDibBitmap.Create - Pixel Formats Not Compatible");
  const std::int32_t step = dib->TopDown() ? dib->Stride() : -dib->Stride();
  if (Height() > 1) ZM_ASSERT(Rows()[1] - Rows()[0] == step, "TDibBitmap.Create - Inconsistent line size");
  SetRowStep(step);
  dib_ = dib;
  ownsDib_ = owns;
  if (!owns) dib_->AddRef();
  const auto& h = dib->Info().bmiHeader;
  SetResolution(h.biXPelsPerMeter, h.biYPelsPerMeter);
}

void TDibBitmap::Dispose() {
  if (TFastDIB* d = std::exchange(dib_, nullptr)) d->ReleaseRef();
  TSysBitmap::Dispose();
}

TRef<TDibBitmap> WrapDibBitmap(TFastDIB* dib, bool owns) {
  ZM_ASSERT(dib, "WrapDibBitmap - Dib not Assigned");
  return MakeRef<TDibBitmap>(dib, DibPixelFormat(dib->BitCount()), owns);
}

TRef<TDibBitmap> NewDibBitmap(std::int32_t width, std::int32_t height, std::int32_t bitCount) {
  TPixelFormat* format = DibPixelFormat(bitCount);  // asserts the bit count first
  TRef<TFastDIB> dib = MakeRef<TFastDIB>();
  if (bitCount == 8) {
    plat::RGBQUAD grey[256];
    for (int i = 0; i < 256; ++i) grey[i] = plat::RGBQUAD{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
    dib->SetColors(grey, 256);
  }
  dib->SetSize(width, height, bitCount);
  return MakeRef<TDibBitmap>(dib.get(), format, false);
}

// ============================================================================
// Factory link and start-up
// ============================================================================

TRef<TBitmap> DibCreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                              const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass) {
  if (bitmapClass == TDibBitmap::StaticClass() && format) {
    for (std::int32_t bits : {8, 15, 16, 24, 32}) {
      if (DibPixelFormat(bits) != format) continue;
      ZM_ASSERT(BitmapSizeAllowed(width, height, format), "TDibBitmap.Create - Bitmap too Large");
      TRef<TDibBitmap> b = NewDibBitmap(width, height, bits);
      b->ProgressHandler = handler;
      if (source) {
        b->SetResolution(source->HorzResolution, source->VertResolution);
        b->CopyFrom(source);
      }
      return b;
    }
  }
  if (!gDibCreateBitmap.Saved()) return nullptr;
  return gDibCreateBitmap.Saved()(width, height, format, handler, source, bitmapClass);
}

void InitDibBitmap() {
  gDibCreateBitmap.Install(CreateBitmapHook, &DibCreateBitmap);
  AlphaBlendProc = reinterpret_cast<TAlphaBlendProc>(plat::GetMsimg32ProcAddress("AlphaBlend"));
  TransparentBltProc = reinterpret_cast<TTransparentBltProc>(plat::GetMsimg32ProcAddress("TransparentBlt"));
}

void FiniDibBitmap() {
  gDibCreateBitmap.Restore();
  AlphaBlendProc = nullptr;
  TransparentBltProc = nullptr;
}

}  // namespace zm
