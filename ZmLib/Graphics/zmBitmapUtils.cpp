#include "ZmLib/Graphics/zmBitmapUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysBitmapUtils.h"

namespace zm {

namespace {

TPixelFormat* Argb() { return PixelFormatByName(PF_A8R8G8B8); }

// Alpha as a channel of its own: grey ("Y8") does not count.
bool ImageHasAlpha(TImage* image, TBitmap* picture) {
  const TPixelFormat* f = image->Params.PixelFormat ? image->Params.PixelFormat : picture->PixelFormat();
  return f && f->HasAlpha && f->Name.View().find_first_of("Aa") != std::string_view::npos;
}

// The image's level 0 as a TDirectBitmap of Format: the store's own when it
// can hand one out, else a new copy (Owned set).
TRef<TDirectBitmap> DirectPicture(TImage* image, TPixelFormat* format, bool& owned) {
  owned = false;
  TBitmap* level = image->Store() ? image->Store()->GetMipLevel(0, format, TDirectBitmap::StaticClass()) : nullptr;
  if (auto* direct = dynamic_cast<TDirectBitmap*>(level)) return TRef<TDirectBitmap>(direct);
  TBitmap* source = level ? level : image->GetBitmap();
  if (!source) return nullptr;
  owned = true;
  return RefCast<TDirectBitmap>(ConvertBitmap(source, format, TDirectBitmap::StaticClass()));
}

TRef<TSysDirectWrapper> Wrap(TDirectBitmap* b) { return MakeRef<TSysDirectWrapper>(b, false); }

std::int64_t FloorMod(std::int64_t a, std::int64_t m) {
  const std::int64_t r = a % m;
  return r < 0 ? r + m : r;
}

}  // namespace

// ============================================================================
// TImageAnimator
// ============================================================================

void ClearAnimatorSlot(TAnimatorSlot& slot) {
  slot.Image = nullptr;
  slot.Bitmap = nullptr;
  slot.Owned = false;
  slot.X = slot.Y = 0;
}

void TImageAnimator::Dispose() {
  ClearAnimatorSlot(Slots[0]);
  ClearAnimatorSlot(Slots[1]);
  Result = nullptr;
  LastCopy = nullptr;
  TRefObject::Dispose();
}

void TImageAnimator::SetImage(std::int32_t index, TImage* image, bool keep, const TPoint& offset) {
  ZM_ASSERT(index >= 0 && index <= 1, "TImageAnimator.SetImage: Index must be in [0,1]");
  TAnimatorSlot& slot = Slots[index];
  ClearAnimatorSlot(slot);
  if (!image) return;
  TBitmap* picture = image->GetBitmap();
  if (!picture) return;
  bool owned = false;
  TRef<TDirectBitmap> bitmap;
  if (ImageHasAlpha(image, picture)) {
    bitmap = DirectPicture(image, Argb(), owned);
  } else {
    // Opaque pictures are copied so that the cross-fade can work in 32 bits.
    bitmap = RefCast<TDirectBitmap>(ConvertBitmap(picture, Argb(), TDirectBitmap::StaticClass()));
    owned = true;
  }
  if (!bitmap) return;
  slot.Bitmap = bitmap;
  slot.Owned = owned;
  slot.X = offset.X;
  slot.Y = offset.Y;
  if (keep) slot.Image = TRef<TImage>(image);
}

std::int32_t TImageAnimator::PhaseWeight(double phase) const {
  if (!(phase >= 0)) phase = 0;  // NaN too
  if (BackAndForth) {
    if (phase >= 1) phase = std::fmod(phase, 1.0);
    if (!(phase >= 0)) phase = 0;  // infinity
    phase = phase < 0.5 ? 2 * phase : 2 - 2 * phase;
  } else if (phase > 1) {
    phase = 1;
  }
  if (Easing) {
    double p = phase * 256;
    p = p < 128 ? p * p / 128 : 256 - (256 - p) * (256 - p) / 128;
    phase = p / 256;
  }
  return std::clamp(std::int32_t(std::nearbyint(phase * 256)), 0, 256);  // ties to even
}

void TImageAnimator::SetPhase(double phase) {
  ZM_ASSERT(Slots[0].Bitmap && Slots[1].Bitmap, "TImageAnimator.SetPhase: Images not Set");
  std::int64_t l = INT64_MAX, t = INT64_MAX, r = INT64_MIN, b = INT64_MIN;
  for (const TAnimatorSlot& s : Slots) {
    l = std::min<std::int64_t>(l, s.X);
    t = std::min<std::int64_t>(t, s.Y);
    r = std::max<std::int64_t>(r, std::int64_t(s.X) + s.Bitmap->Width());
    b = std::max<std::int64_t>(b, std::int64_t(s.Y) + s.Bitmap->Height());
  }
  ZM_ASSERT(r - l <= INT32_MAX && b - t <= INT32_MAX, "TImageAnimator.SetPhase: Result too Large");
  const auto w = std::int32_t(r - l), h = std::int32_t(b - t);
  Origin = {std::int32_t(l), std::int32_t(t)};
  if (!Result || Result->Width() != w || Result->Height() != h) Result = MakeRef<TDirectBitmap>(w, Argb(), h);

  const std::int32_t w1 = PhaseWeight(phase);
  const std::int32_t weights[2] = {256 - w1, w1};
  const std::size_t rowBytes = std::size_t(w) * 4;
  for (std::int32_t y = 0; y < h; ++y) std::memset(Result->ScanLine(y), 0, rowBytes);
  for (int i = 0; i < 2; ++i) {
    const std::int32_t weight = weights[i];
    if (weight < 1) continue;
    const TAnimatorSlot& s = Slots[i];
    const std::int32_t dx = std::int32_t(std::int64_t(s.X) - l), dy = std::int32_t(std::int64_t(s.Y) - t);
    const std::size_t n = std::size_t(s.Bitmap->Width()) * 4;
    for (std::int32_t y = 0; y < s.Bitmap->Height(); ++y) {
      const std::uint8_t* src = s.Bitmap->ScanLine(y);
      std::uint8_t* dst = Result->ScanLine(y + dy) + std::size_t(dx) * 4;
      for (std::size_t k = 0; k < n; ++k) dst[k] = std::uint8_t(dst[k] + src[k] * weight / 256);
    }
  }
}

TRef<TImage> TImageAnimator::GetImage() {
  if (!Result || !GetSysBitmapHook) return nullptr;
  TRef<TDirectBitmap> copy = MakeRef<TDirectBitmap>(Result->Width(), Argb(), Result->Height());
  copy->CopyFrom(Result.get());
  LastCopy = copy;
  return GetSysBitmapHook(copy.get(), false, WideString());
}

// ============================================================================
// Drawing utilities
// ============================================================================

void DrawDirectBitmap32On24(TDirectBitmap* target, TDirectBitmap* source, const TRect& sourceRect,
                            const TPoint& point) {
  if (!target || !source) return;
  BlendBitmap32On24(Wrap(target).get(), Wrap(source).get(), sourceRect, point);
}

void TileImageOnBitmap(TDirectBitmap* target, const TRect& rect, TImage* image, const TPoint& origin) {
  if (!target || !image) return;
  const TRect area{std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, target->Width()),
                   std::min(rect.Bottom, target->Height())};
  if (area.Right <= area.Left || area.Bottom <= area.Top) return;
  TBitmap* picture = image->GetBitmap();
  if (!picture) return;
  const bool blend = target->BytesPerPixel() == 3 && ImageHasAlpha(image, picture);
  bool owned = false;
  TRef<TDirectBitmap> tile = DirectPicture(image, blend ? Argb() : target->PixelFormat(), owned);
  if (!tile) return;
  const std::int64_t tw = tile->Width(), th = tile->Height();
  const std::int64_t x0 = area.Left - FloorMod(std::int64_t(area.Left) - origin.X, tw);
  const std::int64_t y0 = area.Top - FloorMod(std::int64_t(area.Top) - origin.Y, th);
  for (std::int64_t y = y0; y < area.Bottom; y += th)
    for (std::int64_t x = x0; x < area.Right; x += tw) {
      // The part of this copy inside the area, in tile coordinates.
      const auto sl = std::int32_t(std::max<std::int64_t>(area.Left - x, 0));
      const auto st = std::int32_t(std::max<std::int64_t>(area.Top - y, 0));
      const auto sr = std::int32_t(std::min<std::int64_t>(area.Right - x, tw));
      const auto sb = std::int32_t(std::min<std::int64_t>(area.Bottom - y, th));
      const TPoint at{std::int32_t(x + sl), std::int32_t(y + st)};
      if (blend)
        DrawDirectBitmap32On24(target, tile.get(), TRect{sl, st, sr, sb}, at);
      else
        target->CopyRect(TRect{at.X, at.Y, at.X + sr - sl, at.Y + sb - st}, tile.get(), TPoint{sl, st});
    }
}

void DrawRectLine(TDirectBitmap* bitmap, const TRect& rect, TColor32 color) {
  if (bitmap) bitmap->FillRect(rect, color);
}

void DrawBevelRect(TDirectBitmap* bitmap, const TRect& rect, TColor32 lightColor, TColor32 darkColor) {
  if (!bitmap || rect.Right <= rect.Left || rect.Bottom <= rect.Top) return;
  DrawRectLine(bitmap, {rect.Left, rect.Top, rect.Left + 1, rect.Bottom}, lightColor);
  DrawRectLine(bitmap, {rect.Left, rect.Top, rect.Right, rect.Top + 1}, lightColor);
  DrawRectLine(bitmap, {rect.Right - 1, rect.Top, rect.Right, rect.Bottom}, darkColor);
  DrawRectLine(bitmap, {rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom}, darkColor);
}

void DrawBevelRectEx(TDirectBitmap* bitmap, const TRect& rect, TColor32 color1, bool sunken, TColor32 color2) {
  if (sunken) std::swap(color1, color2);
  DrawBevelRect(bitmap, rect, color1, color2);
}

void FrameDirectRectWithImage(TDirectBitmap* target, const TPoint& point, TImage* image, const TRect& rect) {
  if (!target) return;
  FrameRectWithImage(Wrap(target).get(), point, image, rect);
}

bool HitTestImage(TImage* image, const TPoint& point) {
  if (!image) return false;
  TBitmap* picture = image->GetBitmap();
  if (!picture || point.X < 0 || point.Y < 0 || point.X >= picture->Width() || point.Y >= picture->Height())
    return false;
  if (!ImageHasAlpha(image, picture)) return true;
  std::uint32_t pixel = 0;
  TBitmap* argb = image->Store() ? image->Store()->GetMipLevel(0, Argb(), nullptr) : nullptr;
  if (!argb || argb->GetPixels32(std::span<std::uint32_t>(&pixel, 1), 0, point.X, point.Y, 1) <= 0) return false;
  return (pixel >> 24) != 0;
}

}  // namespace zm
