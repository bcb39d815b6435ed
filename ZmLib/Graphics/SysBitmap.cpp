#include "ZmLib/Graphics/SysBitmap.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

namespace {

THookInstall<TCreateBitmapProc> gSysCreateBitmap;

// The largest pattern TSysBitmap.FillRect copies rows from.
constexpr std::int32_t kFillPatternBytes = 3072;

void Premultiply(std::uint8_t* row, std::int32_t count, std::int32_t mode) {
  if (mode == pmShift8) PremultiplyRow256(row, count);
  else if (mode == pmDiv255) PremultiplyRow255(row, count);
}

// A byte span over typed elements.
template <class T>
std::span<std::uint8_t> AsBytes(std::span<T> s) {
  return {reinterpret_cast<std::uint8_t*>(s.data()), s.size_bytes()};
}

// An element offset in bytes: a negative one stays negative, a huge one
// stays past any buffer.
std::int32_t ByteOffset(std::int32_t offset, std::int32_t size) {
  const std::int64_t bytes = std::int64_t(offset) * size;
  return std::int32_t(std::clamp<std::int64_t>(bytes, -1, std::numeric_limits<std::int32_t>::max()));
}

std::vector<std::uint8_t*> WrapperRows(TDirectBitmap* bitmap) {
  ZM_ASSERT(bitmap, "TSysDirectWrapper.Create - Bitmap not Assigned");
  ZM_ASSERT(!bitmap->IsEmpty(), "TSysDirectWrapper.Create - Bitmap is Empty");
  std::vector<std::uint8_t*> rows(std::size_t(bitmap->Height()));
  for (std::int32_t y = 0; y < bitmap->Height(); ++y) rows[std::size_t(y)] = bitmap->ScanLine(y);
  return rows;
}

std::vector<std::uint8_t*> StepRows(const TPoint& size, std::int32_t rowStep, std::uint8_t* firstRow) {
  std::vector<std::uint8_t*> rows(std::size_t(std::max(size.Y, 0)));
  for (std::size_t i = 0; i < rows.size(); ++i)
    rows[i] = firstRow + std::ptrdiff_t(i) * std::ptrdiff_t(rowStep);
  return rows;
}

}  // namespace

void PremultiplyRow256(std::uint8_t* p, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i, p += 4) {
    const unsigned a = p[3];
    if (a == 255) continue;
    p[0] = std::uint8_t(p[0] * a >> 8);
    p[1] = std::uint8_t(p[1] * a >> 8);
    p[2] = std::uint8_t(p[2] * a >> 8);
  }
}

void PremultiplyRow255(std::uint8_t* p, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i, p += 4) {
    const unsigned a = p[3];
    if (a == 255) continue;
    p[0] = std::uint8_t(p[0] * a / 255);
    p[1] = std::uint8_t(p[1] * a / 255);
    p[2] = std::uint8_t(p[2] * a / 255);
  }
}

// ---- TSysBitmap -------------------------------------------------------------------------

TSysBitmap::TSysBitmap(const TPoint& size, std::vector<std::uint8_t*> rows, TPixelFormat* format)
    : TBitmap(size.X, size.Y, format), rows_(std::move(rows)) {
  ZM_ASSERT(size.X >= 0, "TSysBitmap.Create - Invalid Width");
  ZM_ASSERT(size.Y >= 0 && rows_.size() == std::size_t(size.Y), "TSysBitmap.Create - Invalid Rows Count");
  ZM_ASSERT(format, "TSysBitmap.Create - PixelFormat not Assigned");
}

void TSysBitmap::Dispose() {
  std::vector<std::uint8_t*>().swap(rows_);
  TBitmap::Dispose();
}

void TSysBitmap::SetRows(std::vector<std::uint8_t*> rows) {
  ZM_ASSERT(rows.size() == rows_.size(), Msg(".SetRows - Invalid Rows Count"));
  rows_ = std::move(rows);
}

std::int32_t TSysBitmap::GetPixels(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x,
                                   std::int32_t y, std::int32_t count) const {
  if (x < 0 || y < 0 || x >= Width() || y >= Height() || offset < 0 || std::size_t(offset) > buffer.size())
    return 0;
  const std::int64_t bpp = BytesPerPixel();
  const std::int64_t room = std::int64_t(buffer.size() - std::size_t(offset)) / bpp;
  const std::int64_t n = std::min<std::int64_t>({count, Width() - x, room});
  if (n <= 0) return 0;
  std::memmove(buffer.data() + offset, ScanLine(y) + x * bpp, std::size_t(n * bpp));
  return std::int32_t(n * bpp);
}

std::int32_t TSysBitmap::GetPixels8(std::span<std::uint8_t> buffer, std::int32_t offset, std::int32_t x,
                                    std::int32_t y, std::int32_t count) const {
  ZM_ASSERT(BytesPerPixel() == 1, Msg(".GetPixels8 - Invalid Pixel Size"));
  return GetPixels(buffer, offset, x, y, count);
}

std::int32_t TSysBitmap::GetPixels16(std::span<std::uint16_t> buffer, std::int32_t offset, std::int32_t x,
                                     std::int32_t y, std::int32_t count) const {
  ZM_ASSERT(BytesPerPixel() == 2, Msg(".GetPixels16 - Invalid Pixel Size"));
  return GetPixels(AsBytes(buffer), ByteOffset(offset, 2), x, y, count);
}

std::int32_t TSysBitmap::GetPixels24(std::span<TColor24> buffer, std::int32_t offset, std::int32_t x,
                                     std::int32_t y, std::int32_t count) const {
  ZM_ASSERT(BytesPerPixel() == 3, Msg(".GetPixels24 - Invalid Pixel Size"));
  return GetPixels(AsBytes(buffer), ByteOffset(offset, 3), x, y, count);
}

std::int32_t TSysBitmap::GetPixels32(std::span<std::uint32_t> buffer, std::int32_t offset, std::int32_t x,
                                     std::int32_t y, std::int32_t count) const {
  ZM_ASSERT(BytesPerPixel() == 4, Msg(".GetPixels32 - Invalid Pixel Size"));
  return GetPixels(AsBytes(buffer), ByteOffset(offset, 4), x, y, count);
}

bool TSysBitmap::CopyRect(const TRect& destRect, TBitmap* source, std::int32_t premultiply,
                          const TPoint& sourcePoint) {
  ZM_ASSERT(premultiply == pmNone || premultiply == pmDiv255 || premultiply == pmShift8,
            "Invalid APremultiply parameter Value");
  ZM_ASSERT(source, Msg(".CopyRect - Source not Assigned"));
  std::int32_t dx = destRect.Left, dy = destRect.Top, sx = sourcePoint.X, sy = sourcePoint.Y;
  const std::int64_t w64 = std::int64_t(destRect.Right) - destRect.Left;
  const std::int64_t h64 = std::int64_t(destRect.Bottom) - destRect.Top;
  if (w64 <= 0 || h64 <= 0) return false;
  std::int32_t w = std::int32_t(std::min<std::int64_t>(w64, std::numeric_limits<std::int32_t>::max()));
  std::int32_t h = std::int32_t(std::min<std::int64_t>(h64, std::numeric_limits<std::int32_t>::max()));
  if (!ClipCopyRect(dx, dy, w, h, source->Size(), Size(), sx, sy)) return false;

  // Premultiplying works on 4-byte pixels with alpha in the last byte.
  if (!PixelFormat()->HasAlpha || BytesPerPixel() != 4) premultiply = pmNone;

  const std::size_t bpp = std::size_t(BytesPerPixel());
  const std::size_t sbpp = std::size_t(source->BytesPerPixel());
  TPixelConverter* conv =
      source->PixelFormat() == PixelFormat() ? nullptr : FindPixelConverter(PixelFormat(), source->PixelFormat());
  auto* sys = dynamic_cast<TSysBitmap*>(source);
  std::vector<std::uint8_t> scratch;
  if (!sys) scratch.resize(std::size_t(w) * sbpp);

  for (std::int32_t i = 0; i < h; ++i) {
    if (!DoProgress(float(i) / float(h))) return false;
    const std::uint8_t* from;
    if (sys) {
      from = sys->ScanLine(sy + i) + std::size_t(sx) * sbpp;
    } else {
      source->GetPixels(scratch, 0, sx, sy + i, w);
      from = scratch.data();
    }
    std::uint8_t* to = ScanLine(dy + i) + std::size_t(dx) * bpp;
    if (conv) conv->Convert8(to, 0, from, 0, w);
    else std::memmove(to, from, std::size_t(w) * bpp);
    Premultiply(to, w, premultiply);
  }
  return DoProgress(1.0f);
}

bool TSysBitmap::CopyFrom(TBitmap* source) { return CopyRect({0, 0, Width(), Height()}, source, pmNone, {0, 0}); }

bool TSysBitmap::FillRect(const TRect& rect, TColor32 color) {
  const std::int32_t l = std::max(rect.Left, 0), t = std::max(rect.Top, 0);
  const std::int32_t r = std::min(rect.Right, Width()), b = std::min(rect.Bottom, Height());
  if (r <= l || b <= t) return false;
  const std::size_t bpp = std::size_t(BytesPerPixel());
  const std::size_t width = std::size_t(r - l);

  // One pixel, doubled into a pattern of at most kFillPatternBytes (and at
  // least one pixel), which rows are then copied from in pieces.
  const std::size_t patternPixels =
      std::min(width, std::max<std::size_t>(1, std::size_t(kFillPatternBytes) / bpp));
  std::vector<std::uint8_t> pattern(patternPixels * bpp);
  const std::uint8_t argb[4] = {color.B, color.G, color.R, color.A};
  TPixelConverter* conv = FindPixelConverter(PixelFormat(), FindPixelFormat(PF_A8R8G8B8));
  conv->Convert8(pattern.data(), 0, argb, 0, 1);
  for (std::size_t have = 1; have < patternPixels;) {
    const std::size_t n = std::min(have, patternPixels - have);
    std::memcpy(pattern.data() + have * bpp, pattern.data(), n * bpp);
    have += n;
  }
  for (std::int32_t y = t; y < b; ++y) {
    std::uint8_t* p = ScanLine(y) + std::size_t(l) * bpp;
    for (std::size_t done = 0; done < width;) {
      const std::size_t n = std::min(patternPixels, width - done);
      std::memcpy(p + done * bpp, pattern.data(), n * bpp);
      done += n;
    }
  }
  return DoProgress(1.0f);
}

void TSysBitmap::CheckRow(std::int32_t y, std::int32_t size) const {
  ZM_ASSERT(BytesPerPixel() == size, Msg(".Row - Invalid Pixel Size"));
  ZM_ASSERT(y >= 0 && y < Height(), Msg(".Row out of Bitmap.Size"));
}

std::uint8_t* TSysBitmap::Row8(std::int32_t y) const {
  CheckRow(y, 1);
  return ScanLine(y);
}

std::uint16_t* TSysBitmap::Row16(std::int32_t y) const {
  CheckRow(y, 2);
  return reinterpret_cast<std::uint16_t*>(ScanLine(y));
}

TColor24* TSysBitmap::Row24(std::int32_t y) const {
  CheckRow(y, 3);
  return reinterpret_cast<TColor24*>(ScanLine(y));
}

std::uint32_t* TSysBitmap::Row32(std::int32_t y) const {
  CheckRow(y, 4);
  return reinterpret_cast<std::uint32_t*>(ScanLine(y));
}

// ---- Views --------------------------------------------------------------------------------

TRefBitmap::TRefBitmap(const TPoint& size, std::int32_t rowStep, bool ownsSource, TBitmap* source,
                       std::vector<std::uint8_t*> rows, TPixelFormat* format)
    : TSysBitmap(size, std::move(rows), format), source_(source), ownsSource_(ownsSource) {
  SetRowStep(rowStep);
  if (source_ && !ownsSource_) source_->AddRef();
}

TRefBitmap::TRefBitmap(const TPoint& size, std::int32_t rowStep, std::uint8_t* firstRow, TPixelFormat* format)
    : TRefBitmap(size, rowStep, false, nullptr, StepRows(size, rowStep, firstRow), format) {}

void TRefBitmap::Dispose() {
  FreeAndNil(source_);
  TSysBitmap::Dispose();
}

TCropBitmap::TCrop TCropBitmap::CropRows(const TRect& rect, TSysBitmap* source) {
  ZM_ASSERT(source, "TCropBitmap.Create - Bitmap not Assigned");
  const std::int32_t l = std::max(rect.Left, 0), t = std::max(rect.Top, 0);
  const std::int32_t r = std::min(rect.Right, source->Width()), b = std::min(rect.Bottom, source->Height());
  ZM_ASSERT(r > l && b > t, "TCropBitmap.Create - Bitmap is Empty");
  TCrop crop{{r - l, b - t}, std::vector<std::uint8_t*>(std::size_t(b - t))};
  const std::size_t dx = std::size_t(l) * std::size_t(source->BytesPerPixel());
  for (std::int32_t y = t; y < b; ++y) crop.Rows[std::size_t(y - t)] = source->ScanLine(y) + dx;
  return crop;
}

TCropBitmap::TCropBitmap(const TRect& rect, bool ownsSource, TSysBitmap* source)
    : TCropBitmap(CropRows(rect, source), ownsSource, source) {}

TCropBitmap::TCropBitmap(TCrop crop, bool ownsSource, TSysBitmap* source)
    : TRefBitmap(crop.Size, source->RowStep(), ownsSource, source, std::move(crop.Rows), source->PixelFormat()) {}

TSysDirectWrapper::TSysDirectWrapper(TDirectBitmap* bitmap, bool ownsSource)
    : TSysBitmap(bitmap ? bitmap->Size() : TPoint{}, WrapperRows(bitmap), bitmap ? bitmap->PixelFormat() : nullptr),
      bitmap_(bitmap),
      ownsSource_(ownsSource) {
  if (!ownsSource_) bitmap_->AddRef();
}

void TSysDirectWrapper::Dispose() {
  FreeAndNil(bitmap_);
  TSysBitmap::Dispose();
}

// ---- The factory link ------------------------------------------------------------------------

TRef<TBitmap> SysCreateBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format,
                              const TBitmapProgressEvent& handler, TBitmap* source, const TBitmapClass* bitmapClass) {
  if (bitmapClass && !TSysDirectWrapper::StaticClass()->InheritsFrom(bitmapClass)) {
    if (!gSysCreateBitmap.Saved()) return nullptr;
    return gSysCreateBitmap.Saved()(width, height, format, handler, source, bitmapClass);
  }
  TRef<TDirectBitmap> direct = MakeRef<TDirectBitmap>(width, format, height);
  TRef<TSysDirectWrapper> wrapper = MakeRef<TSysDirectWrapper>(direct.get(), false);
  wrapper->ProgressHandler = handler;
  if (source) wrapper->CopyFrom(source);
  return wrapper;
}

TRef<TSysBitmap> CreateSysBitmap(std::int32_t width, std::int32_t height, TPixelFormat* format) {
  TRef<TBitmap> b = CreateBitmap(width, height, format, {}, nullptr, TSysBitmap::StaticClass());
  if (!b) return nullptr;
  TRef<TSysBitmap> s = RefCast<TSysBitmap>(b);
  if (!s) throw EInvalidCast("Invalid class typecast");
  return s;
}

TRef<TSysBitmap> CreateSysBitmapSize(const TPoint& size, TPixelFormat* format) {
  return CreateSysBitmap(size.X, size.Y, format);
}

void InitSysBitmap() { gSysCreateBitmap.Install(CreateBitmapHook, &SysCreateBitmap); }

void FiniSysBitmap() { gSysCreateBitmap.Restore(); }

}  // namespace zm
