#include "ZmLib/Graphics/SysBitmapUtils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

namespace {

void Need(TSysBitmap* b, std::int32_t bytes) {
  ZM_ASSERT(b, "SysBitmapUtils - Bitmap not Assigned");
  ZM_ASSERT(b->BytesPerPixel() == bytes, b->ClassName() + " - Invalid Pixel Size " +
                                              std::to_string(b->BytesPerPixel()) + ", " + std::to_string(bytes) +
                                              " Expected");
}

// Runs Body(y) for rows 0..n-1 with progress before each row and 1.0 at the end.
template <class Body>
bool RowsWithProgress(TBitmap* target, std::int32_t n, Body body) {
  for (std::int32_t y = 0; y < n; ++y) {
    if (!target->DoProgress(float(y) / float(n))) return false;
    body(y);
  }
  return target->DoProgress(1.0f);
}

// The visible part of a copy of SourceRect to Point.
struct TClip {
  std::int32_t DX, DY, SX, SY, W, H;
};

bool ClipBlend(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point, TClip& c) {
  // Cut to the source first, in 64 bits: a rectangle may span the whole
  // 32-bit range, whose width does not fit 32 bits.
  const std::int64_t sl = std::max<std::int64_t>(sourceRect.Left, 0);
  const std::int64_t st = std::max<std::int64_t>(sourceRect.Top, 0);
  const std::int64_t sr = std::min<std::int64_t>(sourceRect.Right, source->Width());
  const std::int64_t sb = std::min<std::int64_t>(sourceRect.Bottom, source->Height());
  if (sr <= sl || sb <= st) return false;
  const std::int64_t dx = std::int64_t(point.X) + (sl - sourceRect.Left);
  const std::int64_t dy = std::int64_t(point.Y) + (st - sourceRect.Top);
  if (dx >= target->Width() || dy >= target->Height() || dx + (sr - sl) <= 0 || dy + (sb - st) <= 0) return false;
  // Every value now lies within the bitmaps' sizes of the target's edges.
  c.DX = std::int32_t(dx), c.DY = std::int32_t(dy), c.SX = std::int32_t(sl), c.SY = std::int32_t(st);
  c.W = std::int32_t(sr - sl), c.H = std::int32_t(sb - st);
  return ClipCopyRect(c.DX, c.DY, c.W, c.H, source->Size(), target->Size(), c.SX, c.SY);
}

// ---- Bilinear resize --------------------------------------------------------------

struct TColumn {
  std::int32_t C0, C1;  // byte offsets of the two source pixels
  std::uint32_t F;      // fraction 0..65535
};

template <int Bpp>
bool ResizeBilinear(TSysBitmap* source, TSysBitmap* target) {
  Need(source, Bpp);
  Need(target, Bpp);
  const std::int32_t sw = source->Width(), sh = source->Height(), tw = target->Width(), th = target->Height();
  if (sw < 1 || sh < 1 || tw < 1 || th < 1) return target->DoProgress(1.0f);
  const std::int64_t sx = (std::int64_t(sw - 1) * 65536) / tw;
  const std::int64_t sy = (std::int64_t(sh - 1) * 65536) / th;
  std::vector<TColumn> cols(static_cast<std::size_t>(tw));
  for (std::int32_t i = 0; i < tw; ++i) {
    const std::int64_t x = 32768 + i * sx;
    const std::int32_t c0 = std::int32_t(x >> 16);
    const std::int32_t c1 = std::min(c0 + 1, sw - 1);
    cols[std::size_t(i)] = {c0 * Bpp, c1 * Bpp, std::uint32_t(x & 65535)};
  }
  return RowsWithProgress(target, th, [&](std::int32_t j) {
    const std::int64_t y = 32768 + j * sy;
    const std::int32_t r0 = std::int32_t(y >> 16);
    const std::int32_t r1 = std::min(r0 + 1, sh - 1);
    const std::uint32_t fy = std::uint32_t(y & 65535);
    const std::uint32_t wy0 = 65536 - fy, wy1 = fy + 1;
    const std::uint8_t* p0 = source->ScanLine(r0);
    const std::uint8_t* p1 = source->ScanLine(r1);
    std::uint8_t* d = target->ScanLine(j);
    for (const TColumn& c : cols) {
      const std::uint32_t w01 = (wy0 * c.F) >> 16, w00 = wy0 - w01;
      const std::uint32_t w11 = (wy1 * c.F) >> 16, w10 = wy1 - w11;
      const std::uint8_t *a = p0 + c.C0, *b = p0 + c.C1, *e = p1 + c.C0, *f = p1 + c.C1;
      for (int k = 0; k < Bpp; ++k)
        d[k] = std::uint8_t((a[k] * w00 + b[k] * w01 + e[k] * w10 + f[k] * w11) >> 16);
      d += Bpp;
    }
  });
}

// ---- Halving -----------------------------------------------------------------------------

template <int Bpp>
bool Halve(TSysBitmap* source, TSysBitmap* target) {
  Need(source, Bpp);
  Need(target, Bpp);
  const std::int32_t sw = source->Width(), sh = source->Height();
  const std::int32_t tw = std::min(target->Width(), (sw + 1) / 2);
  const std::int32_t th = std::min(target->Height(), (sh + 1) / 2);
  if (tw < 1 || th < 1) return target->DoProgress(1.0f);
  return RowsWithProgress(target, th, [&](std::int32_t y) {
    const std::int32_t cy = 2 * y;
    const std::uint8_t* r0 = source->ScanLine(std::max(cy - 1, 0));
    const std::uint8_t* r1 = source->ScanLine(std::min(cy, sh - 1));
    const std::uint8_t* r2 = source->ScanLine(std::min(cy + 1, sh - 1));
    std::uint8_t* d = target->ScanLine(y);
    const auto pixel = [&](std::int32_t x, std::int32_t x0, std::int32_t x1, std::int32_t x2) {
      for (int k = 0; k < Bpp; ++k) {
        const std::uint32_t s = r0[x0 + k] + 2u * r0[x1 + k] + r0[x2 + k] + 2u * (r1[x0 + k] + 2u * r1[x1 + k] + r1[x2 + k]) +
                                r2[x0 + k] + 2u * r2[x1 + k] + r2[x2 + k];
        d[x * Bpp + k] = std::uint8_t(s >> 4);
      }
    };
    const auto edge = [&](std::int32_t x) {
      const std::int32_t cx = 2 * x;
      pixel(x, std::max(cx - 1, 0) * Bpp, std::min(cx, sw - 1) * Bpp, std::min(cx + 1, sw - 1) * Bpp);
    };
    // Inside, no neighbour needs holding to the picture.
    const std::int32_t inner = std::min(tw, (sw - 1) / 2);
    if (tw > 0) edge(0);
    for (std::int32_t x = 1; x < inner; ++x) pixel(x, (2 * x - 1) * Bpp, 2 * x * Bpp, (2 * x + 1) * Bpp);
    for (std::int32_t x = std::max(inner, 1); x < tw; ++x) edge(x);
  });
}

// ---- Rotation ----------------------------------------------------------------------------

template <int Bpp>
bool Rotate180(TSysBitmap* b) {
  Need(b, Bpp);
  const std::int32_t w = b->Width(), h = b->Height();
  const std::int32_t pairs = (h + 1) / 2;
  auto swapPixel = [](std::uint8_t* p, std::uint8_t* q) {
    for (int k = 0; k < Bpp; ++k) std::swap(p[k], q[k]);
  };
  return RowsWithProgress(b, pairs, [&](std::int32_t i) {
    std::uint8_t* top = b->ScanLine(i);
    std::uint8_t* bottom = b->ScanLine(h - 1 - i);
    if (top == bottom) {
      for (std::int32_t x = 0; x < w / 2; ++x) swapPixel(top + x * Bpp, top + (w - 1 - x) * Bpp);
      return;
    }
    for (std::int32_t x = 0; x < w; ++x) swapPixel(top + x * Bpp, bottom + (w - 1 - x) * Bpp);
  });
}

template <int Bpp>
bool RotateQuarter(TSysBitmap* source, TSysBitmap* target, bool clockwise) {
  Need(source, Bpp);
  Need(target, Bpp);
  const std::int32_t w = source->Width(), h = source->Height();
  ZM_ASSERT(target->Width() == h && target->Height() == w,
            std::string(clockwise ? "RotateBitmapCW" : "RotateBitmapCCW") + " - Target Size Mismatch");
  return RowsWithProgress(target, h, [&](std::int32_t y) {
    const std::uint8_t* s = source->ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x) {
      std::uint8_t* d = clockwise ? target->ScanLine(x) + (h - 1 - y) * Bpp : target->ScanLine(w - 1 - x) + y * Bpp;
      std::memcpy(d, s + x * Bpp, Bpp);
    }
  });
}

// ---- The alpha-over table -----------------------------------------------------------------

struct TAlphaOver {
  std::uint8_t OutAlpha;
  std::uint8_t DestWeight;
  float InvAlpha;
  std::uint32_t R;
};

std::once_flag gAlphaOverOnce;
std::vector<TAlphaOver> gAlphaOver;  // [da * 256 + sa]

void BuildAlphaOverTable() {
  gAlphaOver.resize(256 * 256);
  for (int da = 0; da < 256; ++da)
    for (int sa = 0; sa < 256; ++sa) {
      TAlphaOver& e = gAlphaOver[std::size_t(da * 256 + sa)];
      const int out = 255 - (255 - da) * (255 - sa) / 255;
      e.OutAlpha = std::uint8_t(out);
      e.DestWeight = std::uint8_t((255 - sa) * da / 255);
      e.InvAlpha = out > 0 ? 1.0f / float(out) : 0.0f;
      std::uint32_t r = out > 0 ? std::uint32_t((1048576.0 / out) + 0.5) : 0;
      if (r == 4112) ++r;
      e.R = r;
    }
}

const TAlphaOver* AlphaOverTable() {
  std::call_once(gAlphaOverOnce, BuildAlphaOverTable);
  return gAlphaOver.data();
}

// Alpha is a channel of its own (not grey).
bool HasAlphaChannel(const TPixelFormat* f) {
  if (!f || !f->HasAlpha) return false;
  return f->Name.View().find_first_of("Aa") != std::string_view::npos;
}

// The picture of an image in the working format of its alpha.
TRef<TSysBitmap> ImageBitmap(TImage* image, bool& withAlpha) {
  if (!image) return nullptr;
  TBitmap* b = image->GetBitmap();
  if (!b) return nullptr;
  withAlpha = HasAlphaChannel(image->Params.PixelFormat ? image->Params.PixelFormat : b->PixelFormat());
  TPixelFormat* want = PixelFormatByName(withAlpha ? PF_A8R8G8B8 : PF_R8G8B8);
  if (b->PixelFormat() == want)
    if (auto* s = dynamic_cast<TSysBitmap*>(b)) return TRef<TSysBitmap>(s);
  return RefCast<TSysBitmap>(ConvertBitmap(b, want, TSysBitmap::StaticClass()));
}

// Copies or blends a clipped rectangle of the working picture.
void PutRect(TSysBitmap* target, TSysBitmap* picture, bool blend, const TRect& sourceRect, const TPoint& point) {
  const std::int32_t tb = target->BytesPerPixel();
  ZM_ASSERT(tb == 3 || tb == 4, "DrawImageOnBitmap - Invalid Pixel Size " + std::to_string(tb));
  if (blend && picture->BytesPerPixel() == 4) {
    if (tb == 4) DrawBitmapOver32(target, picture, sourceRect, point);
    else BlendBitmap32On24(target, picture, sourceRect, point);
    return;
  }
  TClip c;
  if (!ClipBlend(target, picture, sourceRect, point, c)) return;
  target->CopyRect(TRect{c.DX, c.DY, c.DX + c.W, c.DY + c.H}, picture, pmNone, TPoint{c.SX, c.SY});
}

}  // namespace

bool ResizeBilinear24(TSysBitmap* source, TSysBitmap* target) { return ResizeBilinear<3>(source, target); }
bool ResizeBilinear32(TSysBitmap* source, TSysBitmap* target) { return ResizeBilinear<4>(source, target); }
bool HalveBitmap24(TSysBitmap* source, TSysBitmap* target) { return Halve<3>(source, target); }
bool HalveBitmap32(TSysBitmap* source, TSysBitmap* target) { return Halve<4>(source, target); }

bool SetAlphaRect(TSysBitmap* bitmap, const TRect& rect, std::uint8_t alpha) {
  Need(bitmap, 4);
  const std::int32_t l = std::max(rect.Left, 0), r = std::min(rect.Right, bitmap->Width());
  const std::int32_t t = std::max(rect.Top, 0), b = std::min(rect.Bottom, bitmap->Height());
  if (r <= l || b <= t) return bitmap->DoProgress(1.0f);
  return RowsWithProgress(bitmap, b - t, [&](std::int32_t i) {
    std::uint8_t* p = bitmap->ScanLine(t + i);
    for (std::int32_t x = l; x < r; ++x) p[x * 4 + 3] = alpha;
  });
}

namespace {

// Row(d, s, count) for each visible row of SourceRect of a 32-bit source
// placed at Point on a target of TargetBpp bytes per pixel.
template <int TargetBpp, class Row>
void ClippedRows(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point, Row row) {
  Need(target, TargetBpp);
  Need(source, 4);
  TClip c;
  if (!ClipBlend(target, source, sourceRect, point, c)) return;
  for (std::int32_t j = 0; j < c.H; ++j)
    row(target->ScanLine(c.DY + j) + c.DX * TargetBpp, source->ScanLine(c.SY + j) + c.SX * 4, c.W);
}

// Op(d, s, a) gives each colour byte of a 24-bit target.
template <class Op>
void Blend32On24(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point, Op op) {
  ClippedRows<3>(target, source, sourceRect, point, [op](std::uint8_t* d, const std::uint8_t* s, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i, d += 3, s += 4)
      for (int k = 0; k < 3; ++k) d[k] = std::uint8_t(op(int(d[k]), int(s[k]), int(s[3])));
  });
}

}  // namespace

void BlendBitmap32On24(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point) {
  Blend32On24(target, source, sourceRect, point, [](int d, int s, int a) { return d + (s - d) * a / 256; });
}

void BlendPremul32On24(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point) {
  Blend32On24(target, source, sourceRect, point,
              [](int d, int s, int a) { return std::min(d * (255 - a) / 256 + s, 255); });
}

void BlendBitmap32Over32(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point) {
  ClippedRows<4>(target, source, sourceRect, point, [](std::uint8_t* d, const std::uint8_t* s, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i, d += 4, s += 4) BlendPixelOver(d, TColor32{s[0], s[1], s[2], s[3]});
  });
}

void BlendPixelOver(std::uint8_t* pixel, TColor32 color) {
  TColor32 d{pixel[0], pixel[1], pixel[2], pixel[3]};
  BlendOverColor32(d, color);
  pixel[0] = d.B, pixel[1] = d.G, pixel[2] = d.R, pixel[3] = d.A;
}

bool IsOpaqueBitmap(TBitmap* bitmap) {
  if (!bitmap) return false;
  TPixelFormat* f = bitmap->PixelFormat();
  if (!HasAlphaChannel(f)) return true;
  const std::int32_t w = bitmap->Width();
  std::vector<std::uint8_t> row(std::size_t(w) * 4);
  TPixelFormat* argb = PixelFormatByName(PF_A8R8G8B8);
  const bool direct = f->BytesPerPixel == 4 && (f == argb || f == PixelFormatByName(PF_A8r8g8b8) ||
                                                f == PixelFormatByName(PF_A8B8G8R8));
  std::vector<std::uint8_t> raw(std::size_t(w) * std::size_t(f->BytesPerPixel));
  TPixelConverter* conv = direct ? nullptr : PixelConverter(argb, f);
  for (std::int32_t y = 0; y < bitmap->Height(); ++y) {
    bitmap->GetPixels(raw, 0, 0, y, w);
    const std::uint8_t* p = raw.data();
    if (!direct) {
      conv->Convert8(row.data(), 0, raw.data(), 0, w);
      p = row.data();
    }
    for (std::int32_t x = 0; x < w; ++x)
      if (p[x * 4 + 3] != 255) return false;
  }
  return true;
}

bool BrightnessToAlpha(TSysBitmap* bitmap) {
  ZM_ASSERT(bitmap && bitmap->PixelFormat() == PixelFormatByName(PF_A8R8G8B8),
            "BrightnessToAlpha - A8R8G8B8 Bitmap Expected");
  return RowsWithProgress(bitmap, bitmap->Height(), [&](std::int32_t y) {
    std::uint8_t* p = bitmap->ScanLine(y);
    for (std::int32_t x = 0; x < bitmap->Width(); ++x, p += 4) {
      const int b = p[0], g = p[1], r = p[2];
      p[3] = std::uint8_t(std::max({r, g, b}));
      if (r == g && g == b) {
        p[0] = p[1] = p[2] = 255;
        continue;
      }
      const std::int64_t f = std::int64_t(255 - std::abs(b - g)) * (255 - std::abs(g - r)) * (255 - std::abs(r - b));
      for (int k = 0; k < 3; ++k) p[k] = std::uint8_t(p[k] + (255 - p[k]) * f / 16581375);
    }
  });
}

bool RotateBitmap180_24(TSysBitmap* bitmap) { return Rotate180<3>(bitmap); }
bool RotateBitmap180_32(TSysBitmap* bitmap) { return Rotate180<4>(bitmap); }
bool RotateBitmapCW24(TSysBitmap* source, TSysBitmap* target) { return RotateQuarter<3>(source, target, true); }
bool RotateBitmapCW32(TSysBitmap* source, TSysBitmap* target) { return RotateQuarter<4>(source, target, true); }
bool RotateBitmapCCW24(TSysBitmap* source, TSysBitmap* target) { return RotateQuarter<3>(source, target, false); }
bool RotateBitmapCCW32(TSysBitmap* source, TSysBitmap* target) { return RotateQuarter<4>(source, target, false); }

void GrayscaleBitmap32(TSysBitmap* bitmap) {
  Need(bitmap, 4);
  for (std::int32_t y = 0; y < bitmap->Height(); ++y) {
    std::uint8_t* p = bitmap->ScanLine(y);
    for (std::int32_t x = 0; x < bitmap->Width(); ++x, p += 4)
      p[0] = p[1] = p[2] = std::uint8_t((p[0] + p[1] + p[2]) / 3);
  }
}

void DisabledBitmap32(TSysBitmap* bitmap) {
  Need(bitmap, 4);
  for (std::int32_t y = 0; y < bitmap->Height(); ++y) {
    std::uint8_t* p = bitmap->ScanLine(y);
    for (std::int32_t x = 0; x < bitmap->Width(); ++x, p += 4) {
      p[0] = p[1] = p[2] = std::uint8_t((p[0] + p[1] + p[2]) / 3);
      p[3] = std::uint8_t(p[3] / 4);
    }
  }
}

namespace {

// TileBitmapRectEx with the offset in 64 bits: an anchor far outside the
// target puts it beyond 32 bits.
void TileRect(TSysBitmap* target, TSysBitmap* pattern, const TRect& fillRect, std::int64_t offsetX,
              std::int64_t offsetY, const TRect& patternRect) {
  Need(target, 4);
  Need(pattern, 4);
  const std::int64_t pl = std::max(patternRect.Left, 0), pt = std::max(patternRect.Top, 0);
  const std::int64_t pw = std::int64_t(std::min(patternRect.Right, pattern->Width())) - pl;
  const std::int64_t ph = std::int64_t(std::min(patternRect.Bottom, pattern->Height())) - pt;
  if (pw <= 0 || ph <= 0) return;
  const std::int32_t l = std::max(fillRect.Left, 0), t = std::max(fillRect.Top, 0);
  const std::int32_t r = std::min(fillRect.Right, target->Width()), b = std::min(fillRect.Bottom, target->Height());
  if (r <= l || b <= t) return;
  auto wrap = [](std::int64_t v, std::int64_t n) { return std::int32_t(((v % n) + n) % n); };
  for (std::int32_t y = t; y < b; ++y) {
    const std::int32_t py = std::int32_t(pt) + wrap(std::int64_t(y) - fillRect.Top + offsetY, ph);
    const std::uint8_t* src = pattern->ScanLine(py) + pl * 4;
    std::uint8_t* dst = target->ScanLine(y);
    std::int32_t px = wrap(std::int64_t(l) - fillRect.Left + offsetX, pw);
    for (std::int32_t x = l; x < r; ++x) {
      // The pattern may be the target itself.
      std::memmove(dst + std::size_t(x) * 4, src + std::size_t(px) * 4, 4);
      if (++px == pw) px = 0;
    }
  }
}

}  // namespace

void TileBitmapRect(TSysBitmap* target, TSysBitmap* pattern, const TRect& anchorRect, const TRect& clipRect,
                    const TRect& patternRect) {
  Need(target, 4);
  const TRect fill{std::max({anchorRect.Left, clipRect.Left, 0}), std::max({anchorRect.Top, clipRect.Top, 0}),
                   std::min({anchorRect.Right, clipRect.Right, target->Width()}),
                   std::min({anchorRect.Bottom, clipRect.Bottom, target->Height()})};
  if (fill.Right <= fill.Left || fill.Bottom <= fill.Top) return;
  TileRect(target, pattern, fill, std::int64_t(fill.Left) - anchorRect.Left, std::int64_t(fill.Top) - anchorRect.Top,
           patternRect);
}

void TileBitmapRectEx(TSysBitmap* target, TSysBitmap* pattern, const TRect& fillRect, const TPoint& offset,
                      const TRect& patternRect) {
  TileRect(target, pattern, fillRect, offset.X, offset.Y, patternRect);
}

void BlendRowOver(std::uint8_t* dest, const std::uint8_t* source, std::int32_t count) {
  const TAlphaOver* table = AlphaOverTable();
  for (std::int32_t i = 0; i < count; ++i, dest += 4, source += 4) {
    const int sa = source[3], da = dest[3];
    if (sa == 0) continue;
    if (sa == 255 || da == 0) {
      std::memcpy(dest, source, 4);
      continue;
    }
    const TAlphaOver& e = table[da * 256 + sa];
    if (e.OutAlpha == 0) continue;
    for (int k = 0; k < 3; ++k)
      dest[k] = std::uint8_t(((std::uint32_t(dest[k]) * e.DestWeight + std::uint32_t(source[k]) * std::uint32_t(sa)) *
                              e.R) >> 20);
    dest[3] = e.OutAlpha;
  }
}

void DrawBitmapOver32(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point) {
  ClippedRows<4>(target, source, sourceRect, point, &BlendRowOver);
}

void DrawImageOnBitmap(TSysBitmap* target, const TPoint& point, TImage* image, bool noAlpha, const TRect& rect) {
  ZM_ASSERT(target, "DrawImageOnBitmap - Bitmap not Assigned");
  bool withAlpha = false;
  TRef<TSysBitmap> picture = ImageBitmap(image, withAlpha);
  if (!picture) return;
  PutRect(target, picture.get(), withAlpha && !noAlpha, rect, point);
}

void FrameRectWithImage(TSysBitmap* target, const TPoint& point, TImage* image, const TRect& rect) {
  ZM_ASSERT(target, "FrameRectWithImage - Bitmap not Assigned");
  const std::int32_t tb = target->BytesPerPixel();
  ZM_ASSERT(tb == 3 || tb == 4, "FrameRectWithImage - Invalid Pixel Size " + std::to_string(tb));
  const std::int64_t l = std::int64_t(rect.Left) + point.X, t = std::int64_t(rect.Top) + point.Y;
  const std::int64_t w = std::int64_t(rect.Right) - rect.Left, h = std::int64_t(rect.Bottom) - rect.Top;
  if (w <= 0 || h <= 0) return;
  bool withAlpha = false;
  TRef<TSysBitmap> picture = ImageBitmap(image, withAlpha);
  if (!picture) return;
  const std::int32_t pw = picture->Width(), ph = picture->Height(), pb = picture->BytesPerPixel();
  // One border pixel: the picture pixel under it, copied or blended.
  auto put = [&](std::int64_t x, std::int64_t y, std::int32_t sx, std::int32_t sy) {
    if (x < 0 || y < 0 || x >= target->Width() || y >= target->Height()) return;
    std::uint8_t* d = target->ScanLine(std::int32_t(y)) + x * tb;
    const std::uint8_t* s = picture->ScanLine(sy) + sx * pb;
    if (withAlpha && tb == 4) {
      BlendRowOver(d, s, 1);
    } else if (withAlpha) {
      for (int k = 0; k < 3; ++k) d[k] = std::uint8_t(d[k] + (s[k] - d[k]) * s[3] / 256);
    } else {
      std::memcpy(d, s, 3);
      if (tb == 4) d[3] = pb == 4 ? s[3] : 255;
    }
  };
  // Only the columns and rows that can be visible are visited.
  const std::int64_t x0 = std::max<std::int64_t>(l, 0), x1 = std::min<std::int64_t>(l + w, target->Width());
  const std::int64_t y0 = std::max<std::int64_t>(t + 1, 0), y1 = std::min<std::int64_t>(t + h - 1, target->Height());
  for (std::int64_t x = x0; x < x1; ++x) {
    const auto sx = std::int32_t((x - l) * pw / w);
    put(x, t, sx, 0);
    if (h > 1) put(x, t + h - 1, sx, ph - 1);
  }
  for (std::int64_t y = y0; y < y1; ++y) {
    const auto sy = std::int32_t((y - t) * ph / h);
    put(l, y, 0, sy);
    if (w > 1) put(l + w - 1, y, pw - 1, sy);
  }
}

}  // namespace zm
