#include "ZmLib/Graphics/zmAffineDraw.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace zm {

namespace {

constexpr double kIntLimit = 1073741824.0;  // 2^30: floors and ceilings stay far from overflow

std::int32_t SafeFloor(double v) { return std::int32_t(std::clamp(std::floor(v), -kIntLimit, kIntLimit)); }
std::int32_t SafeCeil(double v) { return std::int32_t(std::clamp(std::ceil(v), -kIntLimit, kIntLimit)); }

TAffineEdge MakeEdge(const TFloatPoint& p, const TFloatPoint& q) {
  TAffineEdge e;
  const TFloatPoint& a = p.Y <= q.Y ? p : q;
  const TFloatPoint& b = p.Y <= q.Y ? q : p;
  e.X = a.X;
  e.Y = a.Y;
  e.Slope = b.Y == a.Y ? 0.0f : float((double(b.X) - a.X) / (double(b.Y) - a.Y));
  e.Left = SafeFloor(std::min(p.X, q.X));
  e.Top = SafeFloor(std::min(p.Y, q.Y));
  e.Right = SafeCeil(std::max(p.X, q.X));
  e.Bottom = SafeCeil(std::max(p.Y, q.Y));
  return e;
}

bool Finite(const float* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// The part of the frame's rows and the clip that can be drawn.
struct TDrawArea {
  TRect Clip;
  std::int32_t Top, Bottom;
};

bool PrepareDraw(const TAffineFrame& frame, TSysBitmap* dst, TSysBitmap* src, std::int32_t& opacity,
                 const TRect& clipRect, const char* name, TDrawArea& area) {
  const std::string n(name);
  ZM_ASSERT(dst && dst->BytesPerPixel() == 3, n + ": Destination must be 24-bit");
  ZM_ASSERT(src && (src->BytesPerPixel() == 3 || src->BytesPerPixel() == 4), n + ": Unsupported PixelFormat");
  ZM_ASSERT(src->Width() >= frame.Width && src->Height() >= frame.Height, n + ": Source smaller than Frame");
  if (opacity < 1 || frame.Width < 1 || frame.Height < 1) return false;
  opacity = std::min(opacity, 255);
  area.Clip = {std::max(clipRect.Left, 0), std::max(clipRect.Top, 0), std::min(clipRect.Right, dst->Width()),
               std::min(clipRect.Bottom, dst->Height())};
  area.Top = std::max(frame.Bounds.Top, area.Clip.Top);
  area.Bottom = std::min(frame.Bounds.Bottom, area.Clip.Bottom);
  return area.Clip.Left < area.Clip.Right && area.Top < area.Bottom;
}

// Walks the drawable rows; Fill(row, x, x2, u, v, du, dv) is called at the
// first pixel of each run whose centre maps inside the source and returns
// the first column after the run.
template <class F>
void WalkFrame(const TAffineFrame& frame, const TDrawArea& area, F fill) {
  const float* inv = frame.Inverse;
  const std::int64_t du = FloatToFixed16(inv[2]), dv = FloatToFixed16(inv[3]);
  const std::int64_t w = frame.Width, h = frame.Height;
  for (std::int32_t y = area.Top; y < area.Bottom; ++y) {
    std::int32_t x1, x2;
    if (!FindSpan(frame, y, x1, x2)) continue;
    x1 = std::max(x1, area.Clip.Left);
    x2 = std::min(x2, area.Clip.Right - 1);
    std::int32_t x = x1;
    while (x <= x2) {
      const double cx = x + 0.5, cy = y + 0.5;
      const std::int64_t u = FloatToFixed16(double(inv[0]) + double(inv[2]) * cx + double(inv[4]) * cy);
      const std::int64_t v = FloatToFixed16(double(inv[1]) + double(inv[3]) * cx + double(inv[5]) * cy);
      if ((u >> 16) >= 0 && (u >> 16) < w && (v >> 16) >= 0 && (v >> 16) < h) x = fill(y, x, x2, u, v, du, dv);
      else ++x;
    }
  }
}

inline bool Inside(std::int64_t u, std::int64_t v, std::int64_t w, std::int64_t h) {
  return (u >> 16) >= 0 && (u >> 16) < w && (v >> 16) >= 0 && (v >> 16) < h;
}

// ---- Nearest ---------------------------------------------------------------------------

template <int SrcBpp>
void DrawNearest(const TAffineFrame& frame, TSysBitmap* dst, TSysBitmap* src, std::int32_t o, const TDrawArea& area) {
  const std::int64_t w = frame.Width, h = frame.Height;
  WalkFrame(frame, area, [&](std::int32_t y, std::int32_t x, std::int32_t x2, std::int64_t u, std::int64_t v,
                             std::int64_t du, std::int64_t dv) {
    std::uint8_t* d = dst->ScanLine(y) + std::size_t(x) * 3;
    for (; x <= x2 && Inside(u, v, w, h); ++x, u += du, v += dv, d += 3) {
      const std::uint8_t* s = src->ScanLine(std::int32_t(v >> 16)) + std::size_t(u >> 16) * SrcBpp;
      const std::int32_t a = SrcBpp == 4 ? s[3] : 255;
      if (a == 255) {
        if (o == 255) {
          d[0] = s[0];
          d[1] = s[1];
          d[2] = s[2];
        } else {
          for (int c = 0; c < 3; ++c) d[c] = std::uint8_t(d[c] + (s[c] - d[c]) * o / 256);
        }
      } else {
        const std::int32_t weight = o == 255 ? a * 256 : a * o;
        for (int c = 0; c < 3; ++c) d[c] = std::uint8_t(d[c] + (s[c] - d[c]) * weight / 65536);
      }
    }
    return x;
  });
}

// ---- Bilinear --------------------------------------------------------------------------

// A sample: the colour (premultiplied by the opacity when the source is
// premultiplied) and the alpha with the opacity applied.
struct TSample {
  std::int32_t C[3];
  std::int32_t A;
};

template <int SrcBpp>
TSample Sample(TSysBitmap* src, std::int64_t w, std::int64_t h, std::int64_t su, std::int64_t sv, std::int32_t o,
               bool premultiplied) {
  const std::int64_t u = su >> 16, v = sv >> 16;
  const std::uint32_t fu = std::uint32_t(su & 0xFFFF), fv = std::uint32_t(sv & 0xFFFF);
  std::int64_t x0 = u, x1 = u + 1, y0 = v, y1 = v + 1;
  if (u < 0 || u >= w - 1 || v < 0 || v >= h - 1) {
    // The 2 x 2 neighbourhood leaves the source: missing neighbours are held at the edge.
    x0 = std::clamp<std::int64_t>(x0, 0, w - 1);
    x1 = std::clamp<std::int64_t>(x1, 0, w - 1);
    y0 = std::clamp<std::int64_t>(y0, 0, h - 1);
    y1 = std::clamp<std::int64_t>(y1, 0, h - 1);
  }
  const std::uint32_t w11 = (fu * fv) >> 16, w10 = fu - w11, w01 = fv - w11, w00 = 65536 - fu - fv + w11;
  const std::uint8_t* r0 = src->ScanLine(std::int32_t(y0));
  const std::uint8_t* r1 = src->ScanLine(std::int32_t(y1));
  const std::uint8_t* p00 = r0 + std::size_t(x0) * SrcBpp;
  const std::uint8_t* p10 = r0 + std::size_t(x1) * SrcBpp;
  const std::uint8_t* p01 = r1 + std::size_t(x0) * SrcBpp;
  const std::uint8_t* p11 = r1 + std::size_t(x1) * SrcBpp;
  auto mix = [&](int c) { return p00[c] * w00 + p10[c] * w10 + p01[c] * w01 + p11[c] * w11; };
  TSample s;
  const bool scaleColour = premultiplied && o < 255;
  for (int c = 0; c < 3; ++c)
    s.C[c] = scaleColour ? std::int32_t((std::uint64_t(mix(c)) * std::uint32_t(o)) >> 24) : std::int32_t(mix(c) >> 16);
  if (SrcBpp == 4) s.A = o < 255 ? std::int32_t((std::uint64_t(mix(3)) * std::uint32_t(o)) >> 24) : std::int32_t(mix(3) >> 16);
  else s.A = o;
  return s;
}

template <int SrcBpp>
void DrawBilinear(const TAffineFrame& frame, TSysBitmap* dst, TSysBitmap* src, std::int32_t o, const TDrawArea& area,
                  bool premultiplied) {
  const std::int64_t w = frame.Width, h = frame.Height;
  WalkFrame(frame, area, [&](std::int32_t y, std::int32_t x, std::int32_t x2, std::int64_t u, std::int64_t v,
                             std::int64_t du, std::int64_t dv) {
    std::uint8_t* d = dst->ScanLine(y) + std::size_t(x) * 3;
    for (; x <= x2 && Inside(u, v, w, h); ++x, u += du, v += dv, d += 3) {
      const TSample s = Sample<SrcBpp>(src, w, h, u - 32768, v - 32768, o, premultiplied);
      if (SrcBpp == 3) {
        if (o == 255) {
          for (int c = 0; c < 3; ++c) d[c] = std::uint8_t(s.C[c]);
        } else {
          for (int c = 0; c < 3; ++c) d[c] = std::uint8_t(s.C[c] + (((d[c] - s.C[c]) * (255 - o)) >> 8));
        }
      } else if (s.A >= 255 && !premultiplied) {
        for (int c = 0; c < 3; ++c) d[c] = std::uint8_t(s.C[c]);
      } else if (s.A > 0 || premultiplied) {
        const std::int32_t a = std::min(s.A, 255);
        for (int c = 0; c < 3; ++c) {
          const std::int32_t r = premultiplied ? s.C[c] + (d[c] * (255 - a) + 127) / 255
                                               : (s.C[c] * a + d[c] * (255 - a) + 127) / 255;
          d[c] = std::uint8_t(std::min(r, 255));
        }
      }
    }
    return x;
  });
}

}  // namespace

bool InvertAffineMatrix(const float m[6], double inverse[6]) {
  const double det = double(m[2]) * m[5] - double(m[4]) * m[3];
  if (!Finite(m, 6) || !std::isfinite(det) || !IsUsableDivisor(det)) return false;
  const double i2 = m[5] / det, i3 = -m[3] / det, i4 = -m[4] / det, i5 = m[2] / det;
  const double inv[6] = {-(i2 * m[0] + i4 * m[1]), -(i3 * m[0] + i5 * m[1]), i2, i3, i4, i5};
  for (double v : inv)
    if (!std::isfinite(v)) return false;
  std::copy(inv, inv + 6, inverse);
  return true;
}

std::int64_t FloatToFixed16(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kLimit = 70368744177664.0;  // 2^46
  return std::int64_t(std::clamp(std::nearbyint(65536.0 * v - 0.5), -kLimit, kLimit));
}

bool InitAffineFrame(TAffineFrame& f, std::int32_t w, std::int32_t h, const TFloatPoint& origin,
                     const TFloatPoint& xEnd, const TFloatPoint& yEnd) {
  f = TAffineFrame{};
  f.Width = w;
  f.Height = h;
  if (w < 1 || h < 1) return false;
  const double m[6] = {origin.X, origin.Y, (double(xEnd.X) - origin.X) / w, (double(xEnd.Y) - origin.Y) / w,
                       (double(yEnd.X) - origin.X) / h, (double(yEnd.Y) - origin.Y) / h};
  for (int i = 0; i < 6; ++i) f.Matrix[i] = float(m[i]);
  double inv[6];
  if (!InvertAffineMatrix(f.Matrix, inv)) return false;
  for (int i = 0; i < 6; ++i) f.Inverse[i] = float(inv[i]);
  if (!Finite(f.Inverse, 6)) return false;
  f.Corners[0] = origin;
  f.Corners[1] = xEnd;
  f.Corners[2] = {float(double(xEnd.X) + yEnd.X - origin.X), float(double(xEnd.Y) + yEnd.Y - origin.Y)};
  f.Corners[3] = yEnd;
  f.Bounds = {2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1};
  for (int i = 0; i < 4; ++i) {
    f.Edges[i] = MakeEdge(f.Corners[i], f.Corners[(i + 1) % 4]);
    f.Bounds.Left = std::min(f.Bounds.Left, f.Edges[i].Left);
    f.Bounds.Top = std::min(f.Bounds.Top, f.Edges[i].Top);
    f.Bounds.Right = std::max(f.Bounds.Right, f.Edges[i].Right);
    f.Bounds.Bottom = std::max(f.Bounds.Bottom, f.Edges[i].Bottom);
  }
  return true;
}

bool FindSpan(const TAffineFrame& f, std::int32_t y, std::int32_t& x1, std::int32_t& x2) {
  const std::int64_t y1 = y, y2 = std::int64_t(y) + 1;
  if (y2 <= f.Bounds.Top || y1 >= f.Bounds.Bottom) return false;
  bool found = false;
  std::int32_t lo = 2147483647, hi = -2147483647 - 1;
  for (const TAffineEdge& e : f.Edges) {
    if (!(e.Top < y2 && e.Bottom > y1)) continue;
    found = true;
    const double xa = (double(y1) - e.Y) * e.Slope + e.X;
    const double xb = (double(y2) - e.Y) * e.Slope + e.X;
    lo = std::min(lo, std::max(e.Left, SafeFloor(std::min(xa, xb))));
    hi = std::max(hi, std::min(e.Right - 1, SafeCeil(std::max(xa, xb)) - 1));
  }
  if (!found) ZM_FAIL("Line not Found for interval: " + std::to_string(y1) + " - " + std::to_string(y2));
  x1 = lo;
  x2 = hi;
  return true;
}

void AffineDrawNearest(const TAffineFrame& frame, TSysBitmap* dst, TSysBitmap* src, std::int32_t opacity,
                       const TRect& clipRect) {
  TDrawArea area;
  if (!PrepareDraw(frame, dst, src, opacity, clipRect, "AffineDrawNearest", area)) return;
  if (src->BytesPerPixel() == 3) DrawNearest<3>(frame, dst, src, opacity, area);
  else DrawNearest<4>(frame, dst, src, opacity, area);
}

void AffineDrawBilinear(const TAffineFrame& frame, TSysBitmap* dst, TSysBitmap* src, std::int32_t opacity,
                        const TRect& clipRect, bool premultiplied) {
  TDrawArea area;
  if (!PrepareDraw(frame, dst, src, opacity, clipRect, "AffineDrawBilinear", area)) return;
  if (src->BytesPerPixel() == 3) DrawBilinear<3>(frame, dst, src, opacity, area, false);
  else DrawBilinear<4>(frame, dst, src, opacity, area, premultiplied);
}

}  // namespace zm
