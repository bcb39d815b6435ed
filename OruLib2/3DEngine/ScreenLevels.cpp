#include "OruLib2/3DEngine/ScreenLevels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <vector>

#include "Platform/Gfx/GfxSampler.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpLoadCallBack.h"

namespace oru {

using namespace zm;

namespace {

// A device coordinate on the 1/256 grid, as the rasteriser snaps vertices.
double Snap(double v) { return std::floor(v * 256.0 + 0.5) / 256.0; }

// The taps of one axis: for texel k the two level texels and the weight of
// the second, as the sampler snaps the level coordinate of the centre of
// device pixel first + k (texel centres at i + 0.5, edges clamped).
struct TTaps {
  std::vector<std::int32_t> I0, I1;
  std::vector<std::uint32_t> W;
};

TTaps MakeTaps(std::int32_t count, std::int32_t first, double edge, double from, double ratio, std::int32_t size) {
  TTaps t;
  t.I0.resize(std::size_t(count));
  t.I1.resize(std::size_t(count));
  t.W.resize(std::size_t(count));
  const auto clamp = plat::gfx::TextureAddress::Clamp;
  for (std::int32_t k = 0; k < count; ++k) {
    const double s = from + (double(first + k) - edge) * ratio;
    const std::int64_t f = plat::gfx::SnapCoordinate(s / size, std::uint32_t(size), true);
    t.I0[std::size_t(k)] = std::int32_t(plat::gfx::AddressTexel(f >> 8, std::uint32_t(size), clamp));
    t.I1[std::size_t(k)] = std::int32_t(plat::gfx::AddressTexel((f >> 8) + 1, std::uint32_t(size), clamp));
    t.W[std::size_t(k)] = std::uint32_t(f & 255);
  }
  return t;
}

bool Near(double a, double b) { return std::fabs(a - b) <= 0.001; }

}  // namespace

bool PlaceOnScreen(const TPoint2F& topLeft, const TPoint2F& topRight, const TPoint2F& bottomLeft, bool smoothed,
                   TScreenPlacement& place) {
  const double pc = PixelCentre(smoothed);
  const double l = double(topLeft.X) - pc, t = double(topLeft.Y) - pc;
  const double r = double(topRight.X) - pc, b = double(bottomLeft.Y) - pc;
  for (const double v : {l, t, r, b, double(topRight.Y), double(bottomLeft.X)})
    if (!std::isfinite(v) || std::fabs(v) > 1e8) return false;
  if (!Near(topRight.Y, topLeft.Y) || !Near(bottomLeft.X, topLeft.X)) return false;
  TScreenPlacement p;
  p.Smoothed = smoothed;
  p.Left = Snap(l);
  p.Top = Snap(t);
  p.Right = Snap(r);
  p.Bottom = Snap(b);
  // Covered: pixel centres from the left edge on, up to the right one (the
  // top-left rule).
  const double x0 = std::ceil(p.Left), x1 = std::ceil(p.Right), y0 = std::ceil(p.Top), y1 = std::ceil(p.Bottom);
  if (!(x1 > x0) || !(y1 > y0) || x1 - x0 > kMaxScreenLevelSide || y1 - y0 > kMaxScreenLevelSide) return false;
  p.X = std::int32_t(x0) - 1;
  p.Y = std::int32_t(y0) - 1;
  p.Width = std::int32_t(x1 - x0) + 2;
  p.Height = std::int32_t(y1 - y0) + 2;
  place = p;
  return true;
}

bool ReadsOneToOne(const TRectF& source, const TScreenPlacement& place) {
  const double fx = double(source.X0) - place.Left, fy = double(source.Y0) - place.Top;
  return double(source.X1) - source.X0 == place.Right - place.Left &&
         double(source.Y1) - source.Y0 == place.Bottom - place.Top && fx - std::floor(fx) == 0.5 &&
         fy - std::floor(fy) == 0.5;
}

std::string ScreenLevelKey(std::int32_t level, const TScreenPlacement& place, const TRectF& source) {
  char s[200];
  const auto grid = [](double v) { return static_cast<long long>(std::llround(v * 256.0)); };
  std::snprintf(s, sizeof s, "ScreenTexID: %d:%c:%lld:%lld:%lld:%lld:%08X:%08X:%08X:%08X", int(level),
                place.Smoothed ? 'S' : 'P', grid(place.Left), grid(place.Top), grid(place.Right), grid(place.Bottom),
                unsigned(std::bit_cast<std::uint32_t>(source.X0)), unsigned(std::bit_cast<std::uint32_t>(source.Y0)),
                unsigned(std::bit_cast<std::uint32_t>(source.X1)), unsigned(std::bit_cast<std::uint32_t>(source.Y1)));
  return s;
}

TRef<TSysBitmap> MakeScreenLevel(TBitmap* level, const TRectF& source, const TScreenPlacement& place) {
  if (!level || !pfA8R8G8B8 || place.Width < 1 || place.Height < 1 || place.Width > kMaxScreenLevelSide + 2 ||
      place.Height > kMaxScreenLevelSide + 2 || !(place.Right > place.Left) || !(place.Bottom > place.Top))
    return nullptr;
  const std::int32_t lw = level->Width(), lh = level->Height();
  if (lw < 1 || lh < 1) return nullptr;
  if (!(source.X1 > source.X0) || !(source.Y1 > source.Y0) || !std::isfinite(source.X0) ||
      !std::isfinite(source.Y0) || !std::isfinite(source.X1) || !std::isfinite(source.Y1))
    return nullptr;
  if (level->PixelFormat() != pfA8R8G8B8 && !(level->PixelFormat() && PixelConverter(pfA8R8G8B8, level->PixelFormat())))
    return nullptr;
  const std::int32_t w = place.Width, h = place.Height;
  // The level coordinate along the quad, as the device's planes give it
  // from the snapped edges and the source's own coordinates there.
  const TTaps cols = MakeTaps(w, place.X, place.Left, source.X0,
                              (double(source.X1) - source.X0) / (place.Right - place.Left), lw);
  const TTaps rows = MakeTaps(h, place.Y, place.Top, source.Y0,
                              (double(source.Y1) - source.Y0) / (place.Bottom - place.Top), lh);
  TRef<TSysBitmap> out = CreateSysBitmap(w, h, pfA8R8G8B8);
  // One level row in A8R8G8B8, converted as the tiles convert it.
  TRef<TSysBitmap> line = CreateSysBitmap(lw, 1, pfA8R8G8B8);
  if (!out || !line) return nullptr;

  // The last two level rows, filtered across the output columns.
  struct TKept {
    std::int32_t Row = -1;
    std::vector<std::uint32_t> Texels;
  } kept[2];
  // Row r; rows come in rising order, so the lower one kept goes, unless
  // it is keep.
  const auto filtered = [&](std::int32_t r, std::int32_t keep) -> const std::uint32_t* {
    for (TKept& k : kept)
      if (k.Row == r) return k.Texels.data();
    const int lower = kept[0].Row <= kept[1].Row ? 0 : 1;
    TKept& k = kept[lower].Row == keep ? kept[1 - lower] : kept[lower];
    line->CopyRect({0, 0, lw, 1}, level, 0, {0, r});
    const std::uint32_t* in = line->Row32(0);
    k.Texels.resize(std::size_t(w));
    for (std::int32_t i = 0; i < w; ++i) {
      const std::size_t c = std::size_t(i);
      k.Texels[c] = plat::gfx::LerpArgb(in[cols.I0[c]], in[cols.I1[c]], cols.W[c]);
    }
    k.Row = r;
    return k.Texels.data();
  };
  for (std::int32_t j = 0; j < h; ++j) {
    // A slide's builder told to stop ends here within a band of rows.
    if (j % 64 == 0) zm::CheckLoadStop();
    const std::size_t r = std::size_t(j);
    const std::uint32_t* top = filtered(rows.I0[r], -1);
    std::uint32_t* dst = out->Row32(j);
    const std::uint32_t wy = rows.W[r];
    if (wy == 0) {
      std::copy(top, top + w, dst);
      continue;
    }
    const std::uint32_t* bottom = filtered(rows.I1[r], rows.I0[r]);
    for (std::int32_t i = 0; i < w; ++i) dst[i] = plat::gfx::LerpArgb(top[i], bottom[i], wy);
  }
  return out;
}

}  // namespace oru
