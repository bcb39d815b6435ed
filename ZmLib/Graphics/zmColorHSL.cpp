#include "ZmLib/Graphics/zmColorHSL.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Graphics/SysBitmap.h"

namespace zm {

namespace {

std::int32_t Round255(double v) { return std::clamp(std::int32_t(std::nearbyint(v)), 0, 255); }

}  // namespace

void RGBToHSL255(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s, std::int32_t& l) {
  const std::int32_t mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const double lf = (mx + mn) / 2.0;
  double hf = 0, sf = 0;
  if (mx != mn) {
    const double d = mx - mn;
    sf = lf < 128 ? 255.0 * d / (mx + mn) : 255.0 * d / (511 - mx - mn);
    if (mx == r) hf = (g - b) / d;
    else if (mx == g) hf = (b - r) / d + 2;
    else hf = (r - g) / d + 4;
    hf *= 42.5;
    if (hf < 0) hf += 255;
    if (hf >= 255) hf -= 255;
  }
  h = std::int32_t(std::nearbyint(hf));
  s = std::int32_t(std::nearbyint(sf));
  l = std::int32_t(std::nearbyint(lf));
}

std::int32_t HueToChannel255(double h, double m1, double m2) {
  if (h >= 255) h -= 255;
  if (h < 0) h += 255;
  double v;
  if (h < 42.5) v = m1 + (m2 - m1) * h / 42.5;
  else if (h < 127.5) v = m2;
  else if (h < 170) v = m1 + (m2 - m1) * (170 - h) / 42.5;
  else v = m1;
  return Round255(v * 255);
}

void HSL255ToRGB(std::int32_t h, std::int32_t s, std::int32_t l, std::int32_t& r, std::int32_t& g, std::int32_t& b) {
  if (s == 0) {
    r = g = b = l;
    return;
  }
  const double m2 = l >= 128 ? (l + s - l * s / 255.0) / 255.0 : (255.0 + s) * l / 65025.0;
  const double m1 = 2.0 * l / 255.0 - m2;
  r = HueToChannel255(h + 85, m1, m2);
  g = HueToChannel255(h, m1, m2);
  b = HueToChannel255(h - 85, m1, m2);
}

void AdjustHSL(TBitmap* bitmap, const TRect& rect, TDefCallBack* callback, std::int32_t hue, std::int32_t saturation,
               std::int32_t lightness) {
  if (!bitmap || !bitmap->PixelFormat() || bitmap->PixelFormat()->Name != PF_A8R8G8B8) return;
  if (hue == 0 && saturation == 0 && lightness == 0) return;
  auto* sys = dynamic_cast<TSysBitmap*>(bitmap);
  auto* direct = dynamic_cast<TDirectBitmap*>(bitmap);
  if (!sys && !direct) return;
  // Shifts on the 0-255 scale; the hue wraps around whatever its size.
  const std::int32_t dh = std::int32_t(((std::int64_t(hue) * 256 / 360) % 256 + 256) % 256);
  const std::int64_t ds = std::int64_t(saturation) * 256 / 100, dl = std::int64_t(lightness) * 256 / 100;
  const std::int32_t left = std::max(rect.Left, 0), top = std::max(rect.Top, 0);
  const std::int32_t right = std::min(rect.Right, bitmap->Width()), bottom = std::min(rect.Bottom, bitmap->Height());
  for (std::int32_t y = top; y < bottom; ++y) {
    std::uint8_t* p = (sys ? sys->ScanLine(y) : direct->ScanLine(y)) + std::size_t(left) * 4;
    for (std::int32_t x = left; x < right; ++x, p += 4) {
      std::int32_t h, s, l, r, g, b;
      RGBToHSL255(p[2], p[1], p[0], h, s, l);
      h += dh;
      if (h > 255) h -= 256;
      s = std::int32_t(std::clamp<std::int64_t>(s + ds, 0, 255));
      l = std::int32_t(std::clamp<std::int64_t>(l + dl, 0, 255));
      HSL255ToRGB(h, s, l, r, g, b);
      p[0] = std::uint8_t(b);
      p[1] = std::uint8_t(g);
      p[2] = std::uint8_t(r);
    }
    if (!(callback ? callback->Call() : LoadCallbackProc())) return;
  }
}

}  // namespace zm
