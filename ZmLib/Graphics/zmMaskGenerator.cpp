#include "ZmLib/Graphics/zmMaskGenerator.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Graphics/SysBitmapStore.h"

namespace zm {

namespace {

// Keys come from show files: a mask never takes more than this many pixels
// (far beyond any screen), so a hostile key cannot ask for gigabytes.
constexpr std::int64_t kMaxMaskPixels = std::int64_t(1) << 26;

float Percent(float v) { return v > 0 ? std::min(v, 100.0f) : 0.0f; }  // NaN gives 0

double Ease(double t) { return t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t); }

void PutGrey(std::uint8_t* row, std::int32_t x, std::uint8_t grey) {
  row[std::size_t(x) * 3] = row[std::size_t(x) * 3 + 1] = row[std::size_t(x) * 3 + 2] = grey;
}

}  // namespace

std::uint8_t SoftEdgeValue(double d, double reach, double softness) {
  if (d < reach - softness) return 255;
  if (d > reach || !(softness > 0)) return 0;  // a hard edge is black on the line itself
  const double t = (d - reach + softness) / softness;
  return std::uint8_t(255 - std::int32_t(std::nearbyint(Ease(t) * 255)));  // ties to even
}

TRef<TImage> GeneratePresetMask(TMaskGenerator* generator, const TMaskParams& params) {
  ZM_ASSERT(params.Shape == kMaskRoundRect || params.Shape == kMaskEllipse, "GeneratePresetMask: Invalid Shape");
  const std::int32_t w = params.Width, h = params.Height;
  TPixelFormat* format = PixelFormatByName(PF_R8G8B8);
  if (w < 1 || h < 1 || std::int64_t(w) * h > kMaxMaskPixels || !BitmapSizeAllowed(w, h, format)) return nullptr;
  if (!GetSysBitmapHook) return nullptr;
  const double softness = Percent(params.Softness), corner = Percent(params.CornerSize);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const std::int32_t half = std::min(w / 2, h / 2);

  TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(w, format, h);
  if (params.Shape == kMaskRoundRect) {
    const auto r = std::int32_t(half * corner / 100);
    const double s = r * softness / 100 + 1;
    for (std::int32_t y = 0; y < h; ++y) {
      std::uint8_t* row = bitmap->ScanLine(y);
      const bool topBand = y < r, bottomBand = y >= h - r;
      for (std::int32_t x = 0; x < w; ++x) {
        const bool leftBand = x < r, rightBand = x >= w - r;
        std::uint8_t grey = 255;
        if ((topBand || bottomBand) && (leftBand || rightBand)) {
          const double ox = leftBand ? r : w - 1 - r, oy = topBand ? r : h - 1 - r;
          grey = SoftEdgeValue(std::hypot(x - ox, y - oy), r, s);
        } else if (topBand || bottomBand) {
          grey = SoftEdgeValue(std::fabs(y - cy), cy, s);
        } else if (leftBand || rightBand) {
          grey = SoftEdgeValue(std::fabs(x - cx), cx, s);
        }
        PutGrey(row, x, grey);
      }
      bool cancel = false;
      if (generator && generator->Progress) generator->Progress(generator, cancel);
      if (cancel) break;
    }
  } else {
    const double s = half * softness / 100;
    const double ratio = double(w) / double(h);
    for (std::int32_t y = 0; y < h; ++y) {
      std::uint8_t* row = bitmap->ScanLine(y);
      const double dy = (y - cy) * ratio;
      for (std::int32_t x = 0; x < w; ++x) PutGrey(row, x, SoftEdgeValue(std::hypot(x - cx, dy), cx, s));
      bool cancel = false;
      if (generator && generator->Progress) generator->Progress(generator, cancel);
      if (cancel) break;
    }
  }
  return GetSysBitmapHook(bitmap.Detach(), true, MakeMaskKey(params));
}

// ============================================================================
// Borders
// ============================================================================

const TBorderParams DefaultBorderParams{};

bool SameBorderParams(const TBorderParams& a, const TBorderParams& b) {
  return a.RadiusOn == b.RadiusOn && a.MarginsOn == b.MarginsOn && a.AspectCropOn == b.AspectCropOn &&
         a.Radius == b.Radius && a.Color == b.Color && a.MarginLeft == b.MarginLeft && a.MarginTop == b.MarginTop &&
         a.MarginRight == b.MarginRight && a.MarginBottom == b.MarginBottom && a.Aspect == b.Aspect &&
         a.Zoom == b.Zoom && a.OffsetX == b.OffsetX && a.OffsetY == b.OffsetY;
}

void CalcBorderGeometry(const TBorderParams& params, const TSize& size, float& radius, TFloatRect& rect, float scale) {
  const TFloatRect whole{0, 0, float(size.cx), float(size.cy)};
  radius = 0;
  rect = whole;
  if (!(scale > 0.001f) || !std::isfinite(scale)) scale = 1;
  const double w = double(size.cx) * scale, h = size.cy;
  if (!(w > 0) || !(h > 0)) return;

  double l = 0, t = 0, r = w, b = h, zw = w, zh = h;
  if (params.AspectCropOn) {
    const double a = params.Aspect > 0 && std::isfinite(params.Aspect) ? double(params.Aspect) : w / h;
    double fw = w, fh = h;
    if (a < w / h) {
      fw = h * a;
    } else {
      fh = w / a;
    }
    const double z = params.Zoom > 0 && params.Zoom < 100 ? double(params.Zoom) : 100.0;
    zw = fw * z / 100;
    zh = fh * z / 100;
    const auto offset = [](float v) { return std::isnan(v) ? 0.0 : std::clamp(double(v), -100.0, 100.0); };
    const double ox = offset(params.OffsetX), oy = offset(params.OffsetY);
    l = (w - zw) / 2 + (w - zw) / 2 * ox / 100;
    t = (h - zh) / 2 + (h - zh) / 2 * oy / 100;
    r = l + zw;
    b = t + zh;
  }
  if (params.RadiusOn) {
    const double rad = (b - t) * params.Radius / 100;
    radius = std::isfinite(rad) ? float(rad) : 0.0f;
  }
  if (params.MarginsOn) {
    l += params.MarginLeft / 100.0 * zw;
    t += params.MarginTop / 100.0 * zh;
    r -= params.MarginRight / 100.0 * zw;
    b -= params.MarginBottom / 100.0 * zh;
  }
  l /= scale;
  r /= scale;
  // A sliver still shows one pixel, on the side where there is room.
  if (r - l <= 0.001) {
    if (size.cx - r < 1.01)
      l -= 1;
    else
      r += 1;
  }
  if (b - t <= 0.001) {
    if (size.cy - b < 1.01)
      t -= 1;
    else
      b += 1;
  }
  l = std::max(l, 0.0);
  t = std::max(t, 0.0);
  r = std::min(r, double(size.cx));
  b = std::min(b, double(size.cy));
  if (!(r > l && b > t)) return;  // NaN falls back too
  rect = {float(l), float(t), float(r), float(b)};
}

}  // namespace zm
