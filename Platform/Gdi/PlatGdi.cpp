#include "Platform/Gdi/PlatGdi.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include <sys/mman.h>

#include "Platform/Gdi/PlatFontInternal.h"
#include "Platform/Gdi/PlatGdiInternal.h"
#include "Platform/User/PlatUser.h"

namespace plat {

namespace {

// ============================================================================
// Objects and handles
// ============================================================================

enum class TKind : std::uint8_t { None = 0, Dc = 1, Bitmap = 2, Palette = 3, Region = 4, Font = 5 };

// Handles carry a marker so that they never look like window handles.
constexpr std::uintptr_t kMarker = std::uintptr_t(0x6D) << 48;
constexpr std::uint32_t kSlotBits = 24;

struct TBitmapObj {
  int Width = 0, Height = 0;  // Height positive
  bool TopDown = false;
  int BitCount = 0;
  DWORD Compression = BI_RGB;
  std::uint32_t Masks[3] = {};  // red, green, blue (16 and 32 bits)
  std::vector<RGBQUAD> Colors;
  int Stride = 0;
  std::uint8_t* Bits = nullptr;  // owned: calloc, or a mapping of MapSize bytes
  std::size_t MapSize = 0;
  HDC SelectedIn = nullptr;
  bool Stock = false;
};

enum class TDcType { Memory, Screen, Window };

struct TDcObj {
  TDcType Type = TDcType::Memory;
  HBITMAP Bitmap = nullptr;
  HWND Hwnd = nullptr;  // a window DC's window
  // The application clip (SelectClipRgn) and, for a BeginPaint DC, the
  // update region; drawing goes where both allow.
  bool HasClip = false, HasSystemClip = false;
  gdi::TRegion Clip, SystemClip;
  gdi::TDcText Text;  // Text.Font nullptr: the default font
};

struct TPaletteObj {
  std::vector<PALETTEENTRY> Entries;
};

struct TSlot {
  TKind Kind = TKind::None;
  std::uint16_t Gen = 0;
  TBitmapObj Bitmap;
  TDcObj Dc;
  TPaletteObj Palette;
  gdi::TRegion Region;
  std::shared_ptr<const gdi::TFontObject> Font;
  int FontSelections = 0;  // DCs the font is selected into
  bool FontStock = false;
};

// Every drawing object by handle, behind one recursive lock (a call may
// draw into a window while holding it).
class TGdiObjectTable {
public:
  using TGuard = std::lock_guard<std::recursive_mutex>;
  [[nodiscard]] TGuard Lock() { return TGuard(Mutex); }

  std::vector<TSlot> Slots;
  std::vector<std::uint32_t> Free;
  HBITMAP StockBitmap = nullptr;
  int Green16 = 6;  // green bits of a 16-bit screen
  int Live = 0;

private:
  std::recursive_mutex Mutex;
};

TGdiObjectTable& GdiObjects() {
  static TGdiObjectTable* t = new TGdiObjectTable;  // lives to the end of the process: handles may be freed late
  return *t;
}

// Large pixel memory is mapped in whole 2 MiB pages where the system allows
// them: a new 24-megapixel picture then costs a few dozen page faults
// instead of tens of thousands. Fresh mappings read as zero.
constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::uint8_t* AllocPixels(std::size_t size, std::size_t& mapSize) {
  mapSize = 0;
  if (size < kHugePage) return static_cast<std::uint8_t*>(std::calloc(size ? size : 1, 1));
  const std::size_t length = (size + kHugePage - 1) & ~(kHugePage - 1);
  void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(p, length, MADV_HUGEPAGE);
#endif
  mapSize = length;
  return static_cast<std::uint8_t*>(p);
}

void FreePixels(std::uint8_t* bits, std::size_t mapSize) {
  if (mapSize) munmap(bits, mapSize);
  else std::free(bits);
}

std::uintptr_t Encode(std::uint32_t slot, std::uint16_t gen, TKind kind) {
  return kMarker | (std::uintptr_t(kind) << 40) | (std::uintptr_t(gen) << kSlotBits) | (slot + 1);
}

TSlot* Find(const void* handle, TKind kind) {
  const auto v = reinterpret_cast<std::uintptr_t>(handle);
  if ((v & (std::uintptr_t(0xFFFF) << 48)) != kMarker) return nullptr;
  if (TKind((v >> 40) & 0xFF) != kind) return nullptr;
  const std::uint32_t slot = std::uint32_t(v & ((1u << kSlotBits) - 1));
  const auto gen = std::uint16_t(v >> kSlotBits);
  if (slot == 0 || slot > GdiObjects().Slots.size()) return nullptr;
  TSlot& s = GdiObjects().Slots[slot - 1];
  if (s.Kind != kind || s.Gen != gen) return nullptr;
  return &s;
}

std::uintptr_t Allocate(TKind kind, TSlot*& out, bool counted = true) {
  TGdiObjectTable& g = GdiObjects();
  std::uint32_t slot;
  if (!g.Free.empty()) {
    slot = g.Free.back();
    g.Free.pop_back();
  } else {
    if (g.Slots.size() >= (1u << kSlotBits) - 2) return 0;
    g.Slots.emplace_back();
    slot = std::uint32_t(g.Slots.size() - 1);
  }
  TSlot& s = g.Slots[slot];
  const std::uint16_t gen = s.Gen;
  s = TSlot{};
  s.Gen = gen;
  s.Kind = kind;
  out = &s;
  if (counted) ++g.Live;
  return Encode(slot, gen, kind);
}

void Release(TSlot* s) {
  TGdiObjectTable& g = GdiObjects();
  if (s->Kind == TKind::Bitmap) FreePixels(s->Bitmap.Bits, s->Bitmap.MapSize);
  if (s->Kind == TKind::Dc)
    if (TSlot* f = Find(s->Dc.Text.Font, TKind::Font)) --f->FontSelections;
  const auto index = std::uint32_t(s - g.Slots.data());
  const std::uint16_t gen = std::uint16_t(s->Gen + 1);
  *s = TSlot{};
  s->Gen = gen;
  g.Free.push_back(index);
  --g.Live;
}

// ============================================================================
// Pixel formats
// ============================================================================

int StrideOf(int width, int bits) { return int(((std::int64_t(width) * bits + 31) / 32) * 4); }


// Reads and writes pixels of one layout as B, G, R, A words.
struct TFmt {
  int Bits = 32;
  bool Standard32 = true;  // 32-bit B, G, R, A bytes
  std::uint32_t Mask[3] = {};
  int Shift[3] = {}, Width[3] = {};
  const RGBQUAD* Colors = nullptr;
  int ColorCount = 0;

  void Init(int bits, DWORD compression, const std::uint32_t* masks, const RGBQUAD* colors, int colorCount) {
    Bits = bits;
    Colors = colors;
    ColorCount = colorCount;
    std::uint32_t m[3] = {};
    if (bits == 16) {
      if (compression == BI_BITFIELDS) std::copy(masks, masks + 3, m);
      else m[0] = 0x7C00, m[1] = 0x03E0, m[2] = 0x001F;
    } else if (bits == 32) {
      if (compression == BI_BITFIELDS) std::copy(masks, masks + 3, m);
      else m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF;
    }
    Standard32 = bits == 32 && m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF;
    for (int i = 0; i < 3; ++i) {
      Mask[i] = m[i];
      Shift[i] = m[i] ? std::countr_zero(m[i]) : 0;
      Width[i] = std::popcount(m[i]);
    }
  }

  std::uint8_t Channel(std::uint32_t v, int i) const {
    if (!Mask[i]) return 0;
    std::uint32_t c = (v & Mask[i]) >> Shift[i];
    const int w = Width[i];
    return std::uint8_t(w >= 8 ? c >> (w - 8) : c << (8 - w));
  }
  std::uint32_t Field(std::uint8_t c, int i) const {
    if (!Mask[i]) return 0;
    const int w = Width[i];
    const std::uint32_t v = w >= 8 ? std::uint32_t(c) << (w - 8) : std::uint32_t(c) >> (8 - w);
    return (v << Shift[i]) & Mask[i];
  }
  std::uint32_t FromColor(const RGBQUAD& q) const {
    return std::uint32_t(q.rgbBlue) | std::uint32_t(q.rgbGreen) << 8 | std::uint32_t(q.rgbRed) << 16;
  }

  // B, G, R in the low bytes; alpha only from standard 32-bit pixels.
  std::uint32_t Read(const std::uint8_t* row, int x) const {
    switch (Bits) {
      case 1: case 4: case 8: {
        const int perByte = 8 / Bits;
        const std::uint8_t b = row[x / perByte];
        const int shift = 8 - Bits * (x % perByte + 1);
        const int index = (b >> shift) & ((1 << Bits) - 1);
        return index < ColorCount ? FromColor(Colors[index]) : 0;
      }
      case 16: {
        std::uint16_t v;
        std::memcpy(&v, row + x * 2, 2);
        return std::uint32_t(Channel(v, 2)) | std::uint32_t(Channel(v, 1)) << 8 | std::uint32_t(Channel(v, 0)) << 16;
      }
      case 24: return std::uint32_t(row[x * 3]) | std::uint32_t(row[x * 3 + 1]) << 8 | std::uint32_t(row[x * 3 + 2]) << 16;
      default: {
        std::uint32_t v;
        std::memcpy(&v, row + x * 4, 4);
        if (Standard32) return v;
        return std::uint32_t(Channel(v, 2)) | std::uint32_t(Channel(v, 1)) << 8 | std::uint32_t(Channel(v, 0)) << 16;
      }
    }
  }

  void Write(std::uint8_t* row, int x, std::uint32_t bgra) const {
    const auto b = std::uint8_t(bgra), g = std::uint8_t(bgra >> 8), r = std::uint8_t(bgra >> 16);
    switch (Bits) {
      case 1: case 4: case 8: {
        int best = 0;
        int bestDist = 1 << 30;
        for (int i = 0; i < ColorCount; ++i) {
          const int dr = Colors[i].rgbRed - r, dg = Colors[i].rgbGreen - g, db = Colors[i].rgbBlue - b;
          const int d = dr * dr + dg * dg + db * db;
          if (d < bestDist) bestDist = d, best = i;
        }
        const int perByte = 8 / Bits;
        std::uint8_t& byte = row[x / perByte];
        const int shift = 8 - Bits * (x % perByte + 1);
        const int mask = ((1 << Bits) - 1) << shift;
        byte = std::uint8_t((byte & ~mask) | ((best << shift) & mask));
        return;
      }
      case 16: {
        const auto v = std::uint16_t(Field(r, 0) | Field(g, 1) | Field(b, 2));
        std::memcpy(row + x * 2, &v, 2);
        return;
      }
      case 24: row[x * 3] = b, row[x * 3 + 1] = g, row[x * 3 + 2] = r; return;
      default: {
        const std::uint32_t v = Standard32 ? bgra : (Field(r, 0) | Field(g, 1) | Field(b, 2));
        std::memcpy(row + x * 4, &v, 4);
        return;
      }
    }
  }

  bool SameAs(const TFmt& o) const {
    if (Bits != o.Bits) return false;
    if (Bits <= 8) return false;  // palettes may differ; convert
    return std::equal(Mask, Mask + 3, o.Mask);
  }
};

// A run of pixel rows with its layout; row(y) is the y-th line from the top.
struct TSurface {
  std::uint8_t* Bits = nullptr;
  int Width = 0, Height = 0, Stride = 0;
  bool TopDown = true;
  bool Opaque = false;  // a window: alpha is always 255
  TFmt Fmt;
  std::uint8_t* Row(int y) const {
    return Bits + std::ptrdiff_t(TopDown ? y : Height - 1 - y) * std::ptrdiff_t(Stride);
  }
};

TSurface SurfaceOf(const TBitmapObj& b) {
  TSurface s;
  s.Bits = b.Bits;
  s.Width = b.Width;
  s.Height = b.Height;
  s.Stride = b.Stride;
  s.TopDown = b.TopDown;
  s.Fmt.Init(b.BitCount, b.Compression, b.Masks, b.Colors.data(), int(b.Colors.size()));
  return s;
}

// The pixels behind a DC: a memory DC's bitmap (the lock is held by the caller).
bool DcSurface(HDC hdc, TSurface& out) {
  TSlot* dc = Find(hdc, TKind::Dc);
  if (!dc || dc->Dc.Type != TDcType::Memory) return false;
  TSlot* bm = Find(dc->Dc.Bitmap, TKind::Bitmap);
  if (!bm || !bm->Bitmap.Bits) return false;
  out = SurfaceOf(bm->Bitmap);
  return true;
}

// A window DC: the window's client pixels while locked. Only the part inside
// the top-level's buffer is there: surface pixel (0, 0) is client point Shift,
// so DC coordinates less Shift are surface coordinates.
struct TWindowTarget {
  HWND Hwnd = nullptr;
  bool Locked = false;
  TSurface Surface;
  POINT Shift;
  RECT Dirty{};  // client coordinates; empty when nothing was drawn
  ~TWindowTarget() {
    if (Locked) UnlockWindowPixels(Hwnd, &Dirty);
  }
  bool Open(HDC hdc) {
    HWND h = reinterpret_cast<HWND>(hdc);
    if (TSlot* dc = Find(hdc, TKind::Dc)) {
      if (dc->Dc.Type != TDcType::Window) return false;
      h = dc->Dc.Hwnd;
    }
    if (!IsWindow(h)) return false;
    TWindowPixels px;
    if (!LockWindowPixels(h, px)) return false;
    Hwnd = h;
    Locked = true;
    Surface.Bits = reinterpret_cast<std::uint8_t*>(px.Bits);
    Surface.Width = px.Width;
    Surface.Height = px.Height;
    Surface.Stride = px.Stride * 4;
    Surface.TopDown = true;
    Surface.Opaque = true;
    Surface.Fmt.Init(32, BI_RGB, nullptr, nullptr, 0);
    Shift = px.Client;
    return true;
  }
};

// A rectangle of x, y, width, height kept inside the range of int.
RECT SpanRect(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
  auto fit = [](std::int64_t v) {
    return std::int32_t(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
  };
  return RECT{fit(x), fit(y), fit(x + w), fit(y + h)};
}

// Copies with conversion; the rectangle is already clipped. Per target pixel
// the source column and row come from the maps.
void CopyPixels(const TSurface& dst, int dx, int dy, int w, int h, const TSurface& src, const int* cols,
                const int* rows) {
  const bool same = dst.Fmt.SameAs(src.Fmt) && !dst.Opaque;
  const bool keepAlpha = src.Fmt.Bits == 32 && src.Fmt.Standard32;
  const int bpp = dst.Fmt.Bits / 8;
  for (int j = 0; j < h; ++j) {
    std::uint8_t* d = dst.Row(dy + j);
    const std::uint8_t* s = src.Row(rows[j]);
    bool contiguous = same && bpp > 0;
    for (int i = 1; contiguous && i < w; ++i) contiguous = cols[i] == cols[0] + i;
    if (contiguous) {
      std::memmove(d + std::ptrdiff_t(dx) * bpp, s + std::ptrdiff_t(cols[0]) * bpp, std::size_t(w) * bpp);
      continue;
    }
    for (int i = 0; i < w; ++i) {
      std::uint32_t v = src.Fmt.Read(s, cols[i]);
      if (dst.Opaque) v |= 0xFF000000u;
      else if (!keepAlpha) v &= 0x00FFFFFFu;
      dst.Fmt.Write(d, dx + i, v);
    }
  }
}

// Clips a same-size copy and runs it.
bool ClipAndCopy(const TSurface& dst, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h,
                 const TSurface& src, std::int64_t sx, std::int64_t sy) {
  std::int64_t l = x, t = y, r = x + w, b = y + h;
  std::int64_t ssx = sx, ssy = sy;
  if (l < 0) ssx -= l, l = 0;
  if (t < 0) ssy -= t, t = 0;
  if (ssx < 0) l -= ssx, ssx = 0;
  if (ssy < 0) t -= ssy, ssy = 0;
  r = std::min<std::int64_t>({r, dst.Width, l + (src.Width - ssx)});
  b = std::min<std::int64_t>({b, dst.Height, t + (src.Height - ssy)});
  if (r <= l || b <= t) return true;  // nothing visible is not a failure
  const int cw = int(r - l), ch = int(b - t);
  std::vector<int> cols(static_cast<std::size_t>(cw)), rows(static_cast<std::size_t>(ch));
  for (int i = 0; i < cw; ++i) cols[std::size_t(i)] = int(ssx) + i;
  for (int j = 0; j < ch; ++j) rows[std::size_t(j)] = int(ssy) + j;
  CopyPixels(dst, int(l), int(t), cw, ch, src, cols.data(), rows.data());
  return true;
}

// The area a DC lets drawing reach; false when nothing limits it.
bool DcClip(HDC hdc, gdi::TRegion& clip) {
  TSlot* dc = Find(hdc, TKind::Dc);
  if (!dc) return false;
  if (dc->Dc.HasClip && dc->Dc.HasSystemClip) clip = gdi::TRegion::Combine(dc->Dc.Clip, dc->Dc.SystemClip, RGN_AND);
  else if (dc->Dc.HasClip) clip = dc->Dc.Clip;
  else if (dc->Dc.HasSystemClip) clip = dc->Dc.SystemClip;
  else return false;
  return true;
}

// A same-size copy limited to the DC's clip; (x, y) and the clip are DC
// coordinates, the surface's pixel (0, 0) is DC point shift.
bool ClippedCopy(HDC dest, const TSurface& dst, int x, int y, int w, int h, const TSurface& src, int sx, int sy,
                 POINT shift = {}) {
  gdi::TRegion clip;
  if (!DcClip(dest, clip))
    return ClipAndCopy(dst, std::int64_t(x) - shift.x, std::int64_t(y) - shift.y, w, h, src, sx, sy);
  const std::int64_t r = std::int64_t(x) + w, b = std::int64_t(y) + h;
  for (const RECT& c : clip.Rects()) {
    const std::int64_t l = std::max<std::int64_t>(x, c.left), t = std::max<std::int64_t>(y, c.top);
    const std::int64_t cr = std::min<std::int64_t>(r, c.right), cb = std::min<std::int64_t>(b, c.bottom);
    if (cr <= l || cb <= t) continue;
    ClipAndCopy(dst, l - shift.x, t - shift.y, cr - l, cb - t, src, sx + (l - x), sy + (t - y));
  }
  return true;
}

// A DC's pixels for one call: a memory DC's bitmap or a window's locked
// client pixels (the GDI lock is held by the caller).
struct TDcPixels {
  TSurface Surface;
  TWindowTarget Window;
  POINT Shift;  // the DC point of surface pixel (0, 0)
  bool Open(HDC hdc) {
    if (DcSurface(hdc, Surface)) return true;
    if (!Window.Open(hdc)) return false;
    Surface = Window.Surface;
    Shift = Window.Shift;
    return true;
  }
  // The row of DC point (x, y) and its column in it; nullptr outside the pixels.
  std::uint8_t* At(int x, int y, int& column) const {
    const std::int64_t sx = std::int64_t(x) - Shift.x, sy = std::int64_t(y) - Shift.y;
    if (sx < 0 || sy < 0 || sx >= Surface.Width || sy >= Surface.Height) return nullptr;
    column = int(sx);
    return Surface.Row(int(sy));
  }
};

bool ValidBitCount(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// Checks a DIB header and fills the layout of a bitmap from it.
bool LayoutFromInfo(const BITMAPINFO* info, TBitmapObj& b) {
  if (!info) return false;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < 40 || h.biWidth < 1 || h.biHeight == 0 || h.biHeight == std::int32_t(0x80000000) || h.biPlanes != 1 ||
      !ValidBitCount(h.biBitCount))
    return false;
  if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (h.biBitCount == 16 || h.biBitCount == 32)))
    return false;
  b.Width = h.biWidth;
  b.Height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  b.TopDown = h.biHeight < 0;
  b.BitCount = h.biBitCount;
  b.Compression = h.biCompression;
  b.Stride = StrideOf(b.Width, b.BitCount);
  if (std::int64_t(b.Stride) * b.Height > kMaxDibBytes) return false;
  if (h.biCompression == BI_BITFIELDS) {
    std::memcpy(b.Masks, info->bmiColors, 12);
    if (!b.Masks[0] && !b.Masks[1] && !b.Masks[2]) return false;
  }
  if (b.BitCount <= 8) {
    const int max = 1 << b.BitCount;
    const int used = h.biClrUsed ? int(h.biClrUsed) : max;
    if (used > max) return false;
    b.Colors.assign(info->bmiColors, info->bmiColors + used);
  }
  return true;
}

int ScreenBits() {
  const int bits = ScreenDeviceCaps(BITSPIXEL);
  return bits == 16 || bits == 24 || bits == 32 ? bits : 32;
}

HBITMAP NewBitmap(TBitmapObj layout, bool stock = false) {
  const std::size_t size = std::size_t(layout.Stride) * std::size_t(layout.Height);
  std::size_t mapSize = 0;
  std::uint8_t* bits = AllocPixels(size, mapSize);
  if (!bits) return nullptr;
  TSlot* s = nullptr;
  const std::uintptr_t h = Allocate(TKind::Bitmap, s, !stock);
  if (!h) {
    FreePixels(bits, mapSize);
    return nullptr;
  }
  s->Bitmap = std::move(layout);
  s->Bitmap.Bits = bits;
  s->Bitmap.MapSize = mapSize;
  s->Bitmap.Stock = stock;
  return reinterpret_cast<HBITMAP>(h);
}

HBITMAP StockBitmap() {
  TGdiObjectTable& g = GdiObjects();
  if (!g.StockBitmap) {
    TBitmapObj b;
    b.Width = b.Height = 1;
    b.BitCount = 1;
    b.Stride = 4;
    b.Colors = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    g.StockBitmap = NewBitmap(std::move(b), true);
  }
  return g.StockBitmap;
}

}  // namespace

// ============================================================================
// Device contexts
// ============================================================================

HDC GetDC(HWND hwnd) {
  if (hwnd) return gdi::CreateWindowDc(hwnd, nullptr);
  auto l = GdiObjects().Lock();
  TSlot* s = nullptr;
  const std::uintptr_t h = Allocate(TKind::Dc, s);
  if (!h) return nullptr;
  s->Dc.Type = TDcType::Screen;
  return reinterpret_cast<HDC>(h);
}

int ReleaseDC(HWND, HDC hdc) {
  auto l = GdiObjects().Lock();
  TSlot* s = Find(hdc, TKind::Dc);
  if (s && s->Dc.Type == TDcType::Window) return gdi::ReleaseWindowDc(hdc) ? 1 : 0;
  if (!s || s->Dc.Type != TDcType::Screen) return 0;
  Release(s);
  return 1;
}

HDC CreateCompatibleDC(HDC hdc) {
  auto l = GdiObjects().Lock();
  if (hdc && !Find(hdc, TKind::Dc)) return nullptr;
  HBITMAP stock = StockBitmap();
  TSlot* s = nullptr;
  const std::uintptr_t h = Allocate(TKind::Dc, s);
  if (!h) return nullptr;
  s->Dc.Type = TDcType::Memory;
  s->Dc.Bitmap = stock;
  return reinterpret_cast<HDC>(h);
}

BOOL DeleteDC(HDC hdc) {
  auto l = GdiObjects().Lock();
  TSlot* s = Find(hdc, TKind::Dc);
  if (!s || s->Dc.Type != TDcType::Memory) return 0;
  if (TSlot* b = Find(s->Dc.Bitmap, TKind::Bitmap); b && !b->Bitmap.Stock) b->Bitmap.SelectedIn = nullptr;
  Release(s);
  return 1;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj) {
  auto l = GdiObjects().Lock();
  TSlot* dc = Find(hdc, TKind::Dc);
  if (TSlot* font = Find(obj, TKind::Font)) {
    if (!dc) return nullptr;
    HFONT previous = dc->Dc.Text.Font;
    if (TSlot* old = Find(previous, TKind::Font)) --old->FontSelections;
    ++font->FontSelections;
    dc->Dc.Text.Font = reinterpret_cast<HFONT>(obj);
    return previous ? reinterpret_cast<HGDIOBJ>(previous) : GetStockObject(DEFAULT_GUI_FONT);
  }
  TSlot* bm = Find(obj, TKind::Bitmap);
  if (!dc || !bm || dc->Dc.Type != TDcType::Memory) return nullptr;
  HBITMAP previous = dc->Dc.Bitmap;
  if (previous == reinterpret_cast<HBITMAP>(obj)) return obj;
  if (!bm->Bitmap.Stock && bm->Bitmap.SelectedIn) return nullptr;  // in another DC
  if (TSlot* old = Find(previous, TKind::Bitmap); old && !old->Bitmap.Stock) old->Bitmap.SelectedIn = nullptr;
  if (!bm->Bitmap.Stock) bm->Bitmap.SelectedIn = hdc;
  dc->Dc.Bitmap = reinterpret_cast<HBITMAP>(obj);
  return reinterpret_cast<HGDIOBJ>(previous);
}

BOOL DeleteObject(HGDIOBJ obj) {
  auto l = GdiObjects().Lock();
  if (TSlot* b = Find(obj, TKind::Bitmap)) {
    if (b->Bitmap.Stock) return 1;
    if (b->Bitmap.SelectedIn) return 0;
    Release(b);
    return 1;
  }
  if (TSlot* p = Find(obj, TKind::Palette)) {
    Release(p);
    return 1;
  }
  if (TSlot* r = Find(obj, TKind::Region)) {
    Release(r);
    return 1;
  }
  if (TSlot* f = Find(obj, TKind::Font)) {
    if (f->FontStock) return 1;
    if (f->FontSelections > 0) return 0;
    Release(f);
    return 1;
  }
  return 0;
}

int GetDeviceCaps(HDC hdc, int index) {
  {
    auto l = GdiObjects().Lock();
    if (!Find(hdc, TKind::Dc)) return 0;
  }
  switch (index) {
    case BITSPIXEL: return ScreenBits();
    case PLANES: return 1;
    case LOGPIXELSX: case LOGPIXELSY: case HORZRES: case VERTRES: case VREFRESH: return ScreenDeviceCaps(index);
    default: return 0;
  }
}

// ============================================================================
// Bitmaps
// ============================================================================

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  if (width < 1 || height < 1) return nullptr;
  auto l = GdiObjects().Lock();
  TSlot* dc = Find(hdc, TKind::Dc);
  if (!dc) return nullptr;
  TBitmapObj b;
  b.Width = width;
  b.Height = height;
  b.TopDown = true;
  if (dc->Dc.Type == TDcType::Memory) {
    TSlot* sel = Find(dc->Dc.Bitmap, TKind::Bitmap);
    if (!sel) return nullptr;
    b.BitCount = sel->Bitmap.BitCount;
    b.Compression = sel->Bitmap.Compression;
    std::copy(sel->Bitmap.Masks, sel->Bitmap.Masks + 3, b.Masks);
    b.Colors = sel->Bitmap.Colors;
  } else {
    b.BitCount = ScreenBits();
    if (b.BitCount == 16) {
      b.Compression = BI_BITFIELDS;
      if (GdiObjects().Green16 == 5) b.Masks[0] = 0x7C00, b.Masks[1] = 0x03E0, b.Masks[2] = 0x001F;
      else b.Masks[0] = 0xF800, b.Masks[1] = 0x07E0, b.Masks[2] = 0x001F;
    }
  }
  b.Stride = StrideOf(width, b.BitCount);
  if (std::int64_t(b.Stride) * height > kMaxDibBytes) return nullptr;
  return NewBitmap(std::move(b));
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, void* section, DWORD offset) {
  if (bits) *bits = nullptr;
  if (usage != DIB_RGB_COLORS || section || offset) return nullptr;
  auto l = GdiObjects().Lock();
  if (hdc && !Find(hdc, TKind::Dc)) return nullptr;
  TBitmapObj b;
  if (!LayoutFromInfo(info, b)) return nullptr;
  HBITMAP h = NewBitmap(std::move(b));
  if (h && bits) *bits = Find(h, TKind::Bitmap)->Bitmap.Bits;
  return h;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  auto l = GdiObjects().Lock();
  TDcPixels p;
  int column = 0;
  std::uint8_t* row = p.Open(hdc) ? p.At(x, y, column) : nullptr;
  if (!row) return CLR_INVALID;
  if (gdi::TRegion clip; DcClip(hdc, clip) && !clip.Contains(x, y)) return CLR_INVALID;
  std::uint32_t bgra = std::uint32_t(GetBValue(color)) | std::uint32_t(GetGValue(color)) << 8 |
                       std::uint32_t(GetRValue(color)) << 16;
  if (p.Surface.Opaque) bgra |= 0xFF000000u;
  p.Surface.Fmt.Write(row, column, bgra);
  p.Window.Dirty = SpanRect(x, y, 1, 1);
  const std::uint32_t v = p.Surface.Fmt.Read(row, column);
  return RGB(BYTE(v >> 16), BYTE(v >> 8), BYTE(v));
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  auto l = GdiObjects().Lock();
  TDcPixels p;
  int column = 0;
  const std::uint8_t* row = p.Open(hdc) ? p.At(x, y, column) : nullptr;
  if (!row) return CLR_INVALID;
  if (gdi::TRegion clip; DcClip(hdc, clip) && !clip.Contains(x, y)) return CLR_INVALID;
  const std::uint32_t v = p.Surface.Fmt.Read(row, column);
  return RGB(BYTE(v >> 16), BYTE(v >> 8), BYTE(v));
}

// ============================================================================
// Blits
// ============================================================================

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) {
  if (rop != SRCCOPY || width < 0 || height < 0) return 0;
  auto l = GdiObjects().Lock();
  TSurface from;
  if (!DcSurface(src, from)) return 0;
  TSurface to;
  if (DcSurface(dest, to)) return ClippedCopy(dest, to, x, y, width, height, from, xSrc, ySrc) ? 1 : 0;
  TWindowTarget window;
  if (!window.Open(dest)) return 0;
  window.Dirty = SpanRect(x, y, width, height);
  return ClippedCopy(dest, window.Surface, x, y, width, height, from, xSrc, ySrc, window.Shift) ? 1 : 0;
}

int StretchDIBits(HDC dest, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  if (rop != SRCCOPY || usage != DIB_RGB_COLORS || !bits) return 0;
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
  TBitmapObj layout;
  if (!LayoutFromInfo(info, layout)) return 0;
  TSurface from = SurfaceOf(layout);
  from.Bits = static_cast<std::uint8_t*>(const_cast<void*>(bits));
  // A bottom-up DIB counts the source rectangle from its bottom line.
  const std::int64_t top = layout.TopDown ? std::int64_t(ySrc) : std::int64_t(layout.Height) - ySrc - srcHeight;

  auto l = GdiObjects().Lock();
  TDcPixels target;
  if (!target.Open(dest)) return 0;
  target.Window.Dirty = SpanRect(xDest, yDest, destWidth, destHeight);
  const TSurface& to = target.Surface;
  // The DC's pixels in DC coordinates.
  const std::int64_t bx0 = target.Shift.x, by0 = target.Shift.y;
  const std::int64_t bx1 = bx0 + to.Width, by1 = by0 + to.Height;
  // Target pixels whose source pixel lies inside the DIB are drawn, within
  // each rectangle of the DC's clip.
  gdi::TRegion clip;
  const std::vector<RECT> areas =
      DcClip(dest, clip) ? clip.Rects() : std::vector<RECT>(1, SpanRect(bx0, by0, to.Width, to.Height));
  for (const RECT& area : areas) {
    const std::int64_t ax0 = std::max<std::int64_t>(bx0, area.left), ay0 = std::max<std::int64_t>(by0, area.top);
    const std::int64_t ax1 = std::min<std::int64_t>(bx1, area.right), ay1 = std::min<std::int64_t>(by1, area.bottom);
    std::vector<int> cols, rows;
    std::int64_t firstCol = -1, firstRow = -1;
    for (int i = 0; i < destWidth; ++i) {
      const std::int64_t tx = std::int64_t(xDest) + i;
      const std::int64_t sx = xSrc + std::int64_t(i) * srcWidth / destWidth;
      if (tx < ax0 || tx >= ax1 || sx < 0 || sx >= layout.Width) continue;
      if (firstCol < 0) firstCol = tx;
      else if (tx != firstCol + std::int64_t(cols.size())) break;
      cols.push_back(int(sx));
    }
    for (int j = 0; j < destHeight; ++j) {
      const std::int64_t ty = std::int64_t(yDest) + j;
      const std::int64_t sy = top + std::int64_t(j) * srcHeight / destHeight;
      if (ty < ay0 || ty >= ay1 || sy < 0 || sy >= layout.Height) continue;
      if (firstRow < 0) firstRow = ty;
      else if (ty != firstRow + std::int64_t(rows.size())) break;
      rows.push_back(int(sy));
    }
    if (!cols.empty() && !rows.empty())
      CopyPixels(to, int(firstCol - bx0), int(firstRow - by0), int(cols.size()), int(rows.size()), from, cols.data(),
                 rows.data());
  }
  return srcHeight;
}

// ============================================================================
// Regions
// ============================================================================

namespace {
HRGN NewRegion(gdi::TRegion area) {
  TSlot* s = nullptr;
  const std::uintptr_t h = Allocate(TKind::Region, s);
  if (!h) return nullptr;
  s->Region = std::move(area);
  return reinterpret_cast<HRGN>(h);
}
}  // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  auto l = GdiObjects().Lock();
  return NewRegion(gdi::TRegion(RECT{left, top, right, bottom}));
}

HRGN CreateRectRgnIndirect(const RECT* rect) {
  if (!rect) return nullptr;
  return CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom);
}

int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) {
  auto l = GdiObjects().Lock();
  TSlot* d = Find(dest, TKind::Region);
  TSlot* a = Find(src1, TKind::Region);
  if (!d || !a || mode < RGN_AND || mode > RGN_COPY) return RGN_ERROR;
  if (mode == RGN_COPY) {
    d->Region = a->Region;
    return d->Region.Type();
  }
  TSlot* b = Find(src2, TKind::Region);
  if (!b) return RGN_ERROR;
  d->Region = gdi::TRegion::Combine(a->Region, b->Region, mode);
  return d->Region.Type();
}

int OffsetRgn(HRGN region, int dx, int dy) {
  auto l = GdiObjects().Lock();
  TSlot* r = Find(region, TKind::Region);
  if (!r || !r->Region.Offset(dx, dy)) return RGN_ERROR;
  return r->Region.Type();
}

BOOL PtInRegion(HRGN region, int x, int y) {
  auto l = GdiObjects().Lock();
  TSlot* r = Find(region, TKind::Region);
  return r && r->Region.Contains(x, y) ? 1 : 0;
}

BOOL RectInRegion(HRGN region, const RECT* rect) {
  auto l = GdiObjects().Lock();
  TSlot* r = Find(region, TKind::Region);
  return r && rect && r->Region.Intersects(*rect) ? 1 : 0;
}

BOOL EqualRgn(HRGN a, HRGN b) {
  auto l = GdiObjects().Lock();
  TSlot* ra = Find(a, TKind::Region);
  TSlot* rb = Find(b, TKind::Region);
  return ra && rb && ra->Region == rb->Region ? 1 : 0;
}

int GetRgnBox(HRGN region, RECT* box) {
  auto l = GdiObjects().Lock();
  TSlot* r = Find(region, TKind::Region);
  if (!r || !box) return RGN_ERROR;
  *box = r->Region.Box();
  return r->Region.Type();
}

DWORD GetRegionData(HRGN region, DWORD count, RGNDATA* data) {
  auto l = GdiObjects().Lock();
  TSlot* r = Find(region, TKind::Region);
  if (!r) return 0;
  const auto& rects = r->Region.Rects();
  const std::size_t bytes = rects.size() * sizeof(RECT);
  const std::size_t size = sizeof(RGNDATAHEADER) + bytes;
  if (size > 0xFFFFFFFFu) return 0;
  if (!data) return DWORD(size);
  if (count < size) return 0;
  data->rdh = RGNDATAHEADER{};
  data->rdh.nCount = DWORD(rects.size());
  data->rdh.nRgnSize = DWORD(bytes);
  data->rdh.rcBound = r->Region.Box();
  if (bytes) std::memcpy(reinterpret_cast<char*>(data) + sizeof(RGNDATAHEADER), rects.data(), bytes);
  return DWORD(size);
}

HRGN ExtCreateRegion(const void* xform, DWORD count, const RGNDATA* data) {
  if (xform || !data || count < sizeof(RGNDATAHEADER)) return nullptr;
  const RGNDATAHEADER h = data->rdh;
  if (h.dwSize != sizeof(RGNDATAHEADER) || h.iType != RDH_RECTANGLES) return nullptr;
  if (std::uint64_t(h.nCount) * sizeof(RECT) > count - sizeof(RGNDATAHEADER)) return nullptr;
  std::vector<RECT> rects(h.nCount);
  if (h.nCount)
    std::memcpy(rects.data(), reinterpret_cast<const char*>(data) + sizeof(RGNDATAHEADER), h.nCount * sizeof(RECT));
  auto area = gdi::TRegion::FromRects(rects.data(), rects.size());
  auto l = GdiObjects().Lock();
  return NewRegion(std::move(area));
}

int SelectClipRgn(HDC hdc, HRGN region) {
  auto l = GdiObjects().Lock();
  TSlot* dc = Find(hdc, TKind::Dc);
  if (!dc) return RGN_ERROR;
  if (!region) {
    dc->Dc.HasClip = false;
    dc->Dc.Clip = {};
  } else {
    TSlot* r = Find(region, TKind::Region);
    if (!r) return RGN_ERROR;
    dc->Dc.HasClip = true;
    dc->Dc.Clip = r->Region;
  }
  gdi::TRegion clip;
  return DcClip(hdc, clip) ? clip.Type() : SIMPLEREGION;
}

int GetClipRgn(HDC hdc, HRGN region) {
  auto l = GdiObjects().Lock();
  TSlot* dc = Find(hdc, TKind::Dc);
  TSlot* r = Find(region, TKind::Region);
  if (!dc || !r) return -1;
  if (!dc->Dc.HasClip) return 0;
  r->Region = dc->Dc.Clip;
  return 1;
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  auto l = GdiObjects().Lock();
  TSlot* dc = Find(hdc, TKind::Dc);
  if (!dc) return RGN_ERROR;
  const gdi::TRegion rect(RECT{left, top, right, bottom});
  dc->Dc.Clip = dc->Dc.HasClip ? gdi::TRegion::Combine(dc->Dc.Clip, rect, RGN_AND) : rect;
  dc->Dc.HasClip = true;
  gdi::TRegion clip;
  DcClip(hdc, clip);
  return clip.Type();
}

// ============================================================================
// Palettes
// ============================================================================

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  if (!palette || palette->palNumEntries < 1 || palette->palNumEntries > 256) return nullptr;
  auto l = GdiObjects().Lock();
  TSlot* s = nullptr;
  const std::uintptr_t h = Allocate(TKind::Palette, s);
  if (!h) return nullptr;
  s->Palette.Entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
  return reinterpret_cast<HPALETTE>(h);
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
  auto l = GdiObjects().Lock();
  TSlot* s = Find(palette, TKind::Palette);
  if (!s) return 0;
  const auto size = UINT(s->Palette.Entries.size());
  if (!entries) return size;
  if (start >= size) return 0;
  const UINT n = std::min(count, size - start);
  std::copy_n(s->Palette.Entries.begin() + start, n, entries);
  return n;
}

// ============================================================================
// Extensions and settings
// ============================================================================

void* GetMsimg32ProcAddress(const char*) { return nullptr; }

void SetScreen16GreenBits(int bits) {
  auto l = GdiObjects().Lock();
  GdiObjects().Green16 = bits == 5 ? 5 : 6;
}

int LiveGdiObjectCount() {
  auto l = GdiObjects().Lock();
  return GdiObjects().Live;
}

}  // namespace plat

namespace plat::gdi {

bool RegionOf(HRGN region, TRegion& out) {
  auto l = GdiObjects().Lock();
  TSlot* r = Find(region, TKind::Region);
  if (!r) return false;
  out = r->Region;
  return true;
}

bool SetRegion(HRGN region, const TRegion& area) {
  auto l = GdiObjects().Lock();
  TSlot* r = Find(region, TKind::Region);
  if (!r) return false;
  r->Region = area;
  return true;
}

HDC CreateWindowDc(HWND hwnd, const TRegion* systemClip) {
  if (!IsWindow(hwnd)) return nullptr;
  auto l = GdiObjects().Lock();
  TSlot* s = nullptr;
  const std::uintptr_t h = Allocate(TKind::Dc, s);
  if (!h) return nullptr;
  s->Dc.Type = TDcType::Window;
  s->Dc.Hwnd = hwnd;
  if (systemClip) {
    s->Dc.HasSystemClip = true;
    s->Dc.SystemClip = *systemClip;
  }
  return reinterpret_cast<HDC>(h);
}

bool ReleaseWindowDc(HDC hdc) {
  auto l = GdiObjects().Lock();
  TSlot* s = Find(hdc, TKind::Dc);
  if (!s || s->Dc.Type != TDcType::Window) return false;
  Release(s);
  return true;
}

bool FillDc(HDC hdc, const RECT& rect, std::uint32_t bgra) {
  auto l = GdiObjects().Lock();
  TDcPixels p;
  if (!p.Open(hdc)) return false;
  const TSurface& s = p.Surface;
  if (s.Opaque) bgra |= 0xFF000000u;
  // What the DC's pixels hold of the rectangle, in DC coordinates.
  gdi::TRegion area(SpanRect(p.Shift.x, p.Shift.y, s.Width, s.Height));
  area = area.Intersect(rect);
  if (gdi::TRegion clip; DcClip(hdc, clip)) area = gdi::TRegion::Combine(area, clip, RGN_AND);
  for (const RECT& r : area.Rects())
    for (int y = r.top; y < r.bottom; ++y) {
      std::uint8_t* row = s.Row(y - p.Shift.y);
      for (int x = r.left; x < r.right; ++x) s.Fmt.Write(row, x - p.Shift.x, bgra);
    }
  p.Window.Dirty = area.Box();
  return true;
}

namespace {
void ReadSurface(const TSurface& s, int x, int y, int width, int height, std::vector<std::uint32_t>& out) {
  out.assign(std::size_t(width) * std::size_t(height), 0);
  const bool alpha = s.Fmt.Bits == 32 && s.Fmt.Standard32;
  for (int j = 0; j < height; ++j) {
    const std::int64_t sy = std::int64_t(y) + j;
    if (sy < 0 || sy >= s.Height) continue;
    const std::uint8_t* row = s.Row(int(sy));
    for (int i = 0; i < width; ++i) {
      const std::int64_t sx = std::int64_t(x) + i;
      if (sx < 0 || sx >= s.Width) continue;
      std::uint32_t v = s.Fmt.Read(row, int(sx));
      if (!alpha) v |= 0xFF000000u;
      out[std::size_t(j) * std::size_t(width) + std::size_t(i)] = v;
    }
  }
}
}  // namespace

bool ReadDcPixels(HDC hdc, int x, int y, int width, int height, std::vector<std::uint32_t>& out) {
  if (width <= 0 || height <= 0 || std::int64_t(width) * height > kMaxDibBytes / 4) return false;
  auto l = GdiObjects().Lock();
  TSurface s;
  if (!DcSurface(hdc, s)) return false;
  ReadSurface(s, x, y, width, height, out);
  return true;
}

HFONT NewFontHandle(std::shared_ptr<const TFontObject> font, bool stock) {
  if (!font) return nullptr;
  auto l = GdiObjects().Lock();
  TSlot* s = nullptr;
  const std::uintptr_t h = Allocate(TKind::Font, s, !stock);
  if (!h) return nullptr;
  s->Font = std::move(font);
  s->FontStock = stock;
  return reinterpret_cast<HFONT>(h);
}

std::shared_ptr<const TFontObject> FontObjectOf(HFONT font) {
  auto l = GdiObjects().Lock();
  TSlot* f = Find(font, TKind::Font);
  return f ? f->Font : nullptr;
}

bool GetDcText(HDC hdc, TDcText& out) {
  auto l = GdiObjects().Lock();
  TSlot* dc = Find(hdc, TKind::Dc);
  if (!dc) return false;
  out = dc->Dc.Text;
  return true;
}

bool SetDcText(HDC hdc, const TDcText& text) {
  auto l = GdiObjects().Lock();
  TSlot* dc = Find(hdc, TKind::Dc);
  if (!dc) return false;
  const HFONT font = dc->Dc.Text.Font;
  dc->Dc.Text = text;
  dc->Dc.Text.Font = font;
  return true;
}

bool DcHasPixels(HDC hdc) {
  auto l = GdiObjects().Lock();
  TDcPixels p;
  return p.Open(hdc);
}

bool BlendMaskDc(HDC hdc, int x, int y, int width, int height, const std::uint8_t* mask, int maskStride,
                 COLORREF color, const RECT* limit) {
  if (width < 0 || height < 0 || (width && height && !mask)) return false;
  auto l = GdiObjects().Lock();
  TDcPixels p;
  if (!p.Open(hdc)) return false;
  const TSurface& s = p.Surface;
  gdi::TRegion area(SpanRect(p.Shift.x, p.Shift.y, s.Width, s.Height));
  area = area.Intersect(SpanRect(x, y, width, height));
  if (limit) area = area.Intersect(*limit);
  if (gdi::TRegion clip; DcClip(hdc, clip)) area = gdi::TRegion::Combine(area, clip, RGN_AND);
  const int tr = GetRValue(color), tg = GetGValue(color), tb = GetBValue(color);
  auto mix = [](int c, int t, int m) { return std::uint32_t(c + ((t - c) * m + (t >= c ? 127 : -127)) / 255); };
  for (const RECT& r : area.Rects())
    for (int yy = r.top; yy < r.bottom; ++yy) {
      std::uint8_t* row = s.Row(yy - p.Shift.y);
      const std::uint8_t* m = mask + std::ptrdiff_t(yy - y) * maskStride;
      for (int xx = r.left; xx < r.right; ++xx) {
        const int a = m[xx - x];
        if (!a) continue;
        const std::uint32_t v = s.Fmt.Read(row, xx - p.Shift.x);
        const std::uint32_t out = mix(int(v >> 16 & 0xFF), tr, a) << 16 | mix(int(v >> 8 & 0xFF), tg, a) << 8 |
                                  mix(int(v & 0xFF), tb, a) | (s.Opaque ? 0xFF000000u : 0u);
        s.Fmt.Write(row, xx - p.Shift.x, out);
      }
    }
  p.Window.Dirty = area.Box();
  return true;
}

bool ReadBitmapPixels(HBITMAP bitmap, int& width, int& height, std::vector<std::uint32_t>& out, int& bitCount) {
  auto l = GdiObjects().Lock();
  TSlot* b = Find(bitmap, TKind::Bitmap);
  if (!b || !b->Bitmap.Bits) return false;
  TSurface s = SurfaceOf(b->Bitmap);
  width = s.Width;
  height = s.Height;
  bitCount = b->Bitmap.BitCount;
  ReadSurface(s, 0, 0, s.Width, s.Height, out);
  return true;
}

}  // namespace plat::gdi
