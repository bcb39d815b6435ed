#include "ZmLib/3DBasics/DeviceDrawer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmImage.h"

namespace zm {

namespace {

// Draw calls of this thread that hold the drawing lock. A thread already
// inside a draw (of any drawer) never takes the lock again.
thread_local std::int32_t tDrawingLockHeld = 0;

class TDrawingLockHold {
public:
  TDrawingLockHold() {
    if (tDrawingLockHeld == 0) DrawingLock()->Enter();
    ++tDrawingLockHeld;
  }
  ~TDrawingLockHold() {
    if (--tDrawingLockHeld == 0) DrawingLock()->Leave();
  }
  TDrawingLockHold(const TDrawingLockHold&) = delete;
  TDrawingLockHold& operator=(const TDrawingLockHold&) = delete;
};

// Width x num / den with the product wrapped to 32 bits, rounded half to even.
std::int32_t ScaleRounded(std::int32_t value, std::int32_t num, std::int32_t den) {
  const auto product = static_cast<std::int32_t>(static_cast<std::int64_t>(value) * num);
  const double q = std::nearbyint(static_cast<double>(product) / den);
  return static_cast<std::int32_t>(q);  // |q| <= 2^31 / den, den >= 1
}

TSize Fit(const TSize& source, const TSize& bounds, bool enlarge) {
  if (source.cx < 1 || source.cy < 1 || bounds.cx < 1 || bounds.cy < 1) return {};
  const double boundsRatio = static_cast<double>(bounds.cx) / bounds.cy;
  const double sourceRatio = static_cast<double>(source.cx) / source.cy;
  TSize r;
  if (boundsRatio >= sourceRatio) {
    r.cy = enlarge ? bounds.cy : std::min(source.cy, bounds.cy);
    r.cx = ScaleRounded(r.cy, source.cx, source.cy);
  } else {
    r.cx = enlarge ? bounds.cx : std::min(source.cx, bounds.cx);
    r.cy = ScaleRounded(r.cx, source.cy, source.cx);
  }
  return r;
}

bool RectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// Surface sides never come near the limits, but a damaged rectangle must
// not overflow.
std::int32_t Grow(std::int32_t v, std::int32_t by) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t(v) + by, INT32_MIN, INT32_MAX));
}

std::int64_t Span(std::int32_t from, std::int32_t to) { return std::int64_t(to) - from; }

}  // namespace

TSize FitSize(const TSize& source, const TSize& bounds) { return Fit(source, bounds, true); }

TSize FitSizeNoEnlarge(const TSize& source, const TSize& bounds) { return Fit(source, bounds, false); }

TSafeCriticalSection* DrawingLock() {
  static const TRef<TSafeCriticalSection> lock = MakeRef<TSafeCriticalSection>();
  return lock.get();
}

void TDeviceDrawer::SetDrawOffset(const TFloatPoint& offset) {
  DrawOffset = offset;
  OffsetSet = offset.X != 0.0f || offset.Y != 0.0f;
}

bool TDeviceDrawer::Draw(TDrawItem* item) {
  if (!item || (item->Flags() & kDisposed)) return false;
  TDrawingLockHold hold;
  return DrawLocked(item);
}

bool TDeviceDrawer::DrawLocked(TDrawItem* item) {
  if (DrawDepth > 0 &&
      (DrawDepth >= kMaxDrawDepth || std::find(drawing_.begin(), drawing_.end(), item) != drawing_.end()))
    return false;

  // The item stays alive while it draws, also when it drops its last
  // outside reference from inside its own Draw.
  const TRef<TDrawItem> keep(item);
  struct TDepthScope {
    TDeviceDrawer& d;
    explicit TDepthScope(TDeviceDrawer& drawer, TDrawItem* it) : d(drawer) {
      ++d.DrawDepth;
      d.drawing_.push_back(it);
    }
    ~TDepthScope() {
      d.drawing_.pop_back();
      --d.DrawDepth;
    }
    TDepthScope(const TDepthScope&) = delete;
    TDepthScope& operator=(const TDepthScope&) = delete;
  } depth(*this, item);

  if (DrawDepth == 1) {
    BeginFrame();
    if (CanDraw()) item->Draw(*this);
    const bool result = EndFrame();
    item->Reset(*this);
    return result;
  }
  if (!CanDraw()) return false;
  item->Draw(*this);
  return true;
}

TRef<TImage> TDeviceDrawer::CaptureFrame() {
  const std::int64_t w = Span(Bounds.Left, Bounds.Right);
  const std::int64_t h = Span(Bounds.Top, Bounds.Bottom);
  if (w > INT32_MAX || h > INT32_MAX || !pfR8G8B8 || !GetSysBitmapHook ||
      !BitmapSizeAllowed(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), pfR8G8B8))
    return nullptr;
  TRef<TSysBitmap> bitmap = CreateSysBitmap(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), pfR8G8B8);
  if (!bitmap || !ReadFrame(bitmap.get())) return nullptr;
  // The hook takes over the reference it is given.
  return GetSysBitmapHook(bitmap.Detach(), true, WideString());
}

void TDeviceDrawer::SetView(const TFloatRect& viewRect, const TFloatPoint& virtualSize, bool resetViewport,
                            const TFloatPoint3& camera) {
  (void)resetViewport;  // for the implementation
  ViewRectF = viewRect;
  VirtualSize = virtualSize;
  Camera = camera;
}

TFloatPoint TDeviceDrawer::ProjectToScreen(const TFloatPoint3& p) const {
  if (p.Z == 0 || !(Camera.Z < 0)) return {p.X, p.Y};
  const double depth = double(p.Z) - Camera.Z;
  if (!(depth > 1e-6)) return {p.X, p.Y};
  const double t = -double(Camera.Z) / depth;
  const double x = Camera.X + (double(p.X) - Camera.X) * t, y = Camera.Y + (double(p.Y) - Camera.Y) * t;
  if (!std::isfinite(x) || !std::isfinite(y)) return {p.X, p.Y};
  return {static_cast<float>(x), static_cast<float>(y)};
}

void TDeviceDrawer::DrawImage3D(TImage* image, const TFloatPoint3& origin, const TImageDrawParams& params,
                                const TFloatPoint3& axisX, const TFloatPoint3& axisY) {
  const TFloatPoint o = ProjectToScreen(origin);
  const TFloatPoint x = ProjectToScreen({origin.X + axisX.X, origin.Y + axisX.Y, origin.Z + axisX.Z});
  const TFloatPoint y = ProjectToScreen({origin.X + axisY.X, origin.Y + axisY.Y, origin.Z + axisY.Z});
  DrawImage(image, o, params, {x.X - o.X, x.Y - o.Y}, {y.X - o.X, y.Y - o.Y});
}

void TDeviceDrawer::FillGradientQuad3D(const TFloatPoint3& origin, const TGradientFill& fill,
                                       const TFloatPoint3& axisX, const TFloatPoint3& axisY) {
  const TFloatPoint o = ProjectToScreen(origin);
  const TFloatPoint x = ProjectToScreen({origin.X + axisX.X, origin.Y + axisX.Y, origin.Z + axisX.Z});
  const TFloatPoint y = ProjectToScreen({origin.X + axisY.X, origin.Y + axisY.Y, origin.Z + axisY.Z});
  FillGradientQuad(o, {}, fill, {x.X - o.X, x.Y - o.Y}, {y.X - o.X, y.Y - o.Y});
}

TRect TDeviceDrawer::GetVisibleRect() const { return RectEmpty(ClipRect) ? Bounds : ClipRect; }

TFloatRect TDeviceDrawer::GetViewRectF() const {
  if (ViewRectF.Right > ViewRectF.Left && ViewRectF.Bottom > ViewRectF.Top) return ViewRectF;
  return {static_cast<float>(Bounds.Left), static_cast<float>(Bounds.Top), static_cast<float>(Bounds.Right),
          static_cast<float>(Bounds.Bottom)};
}

TFloatPoint TDeviceDrawer::GetVirtualSize() const {
  if (VirtualSize.X > 0 && VirtualSize.Y > 0) return VirtualSize;
  return {static_cast<float>(Span(Bounds.Left, Bounds.Right)), static_cast<float>(Span(Bounds.Top, Bounds.Bottom))};
}

void TDeviceDrawer::FillOutsideVisible(std::uint32_t colour) {
  const TColor32 c = TColor32::FromValue((colour & 0x00FFFFFFu) | 0xFF000000u);
  const TRect g{Grow(Bounds.Left, -1), Grow(Bounds.Top, -1), Grow(Bounds.Right, 1), Grow(Bounds.Bottom, 1)};
  const TRect v = GetVisibleRect();
  const TRect bands[4] = {{g.Left, g.Top, g.Right, v.Top},
                          {g.Left, v.Top, v.Left, v.Bottom},
                          {v.Right, v.Top, g.Right, v.Bottom},
                          {g.Left, v.Bottom, g.Right, g.Bottom}};
  for (const TRect& band : bands)
    if (!RectEmpty(band)) FillRect(c, band);
}

void TDeviceDrawer::FillQuad(const TFloatPoint& origin, const TFloatPoint& corner1, const TFloatPoint& corner2,
                             TColor32 colour) {
  TGradientFill fill;
  fill.Colour1 = colour;
  fill.Opacity = static_cast<float>(colour.A) / 255.0f * 100.0f;
  FillGradientQuad(origin, {0, 0}, fill, {corner1.X - origin.X, corner1.Y - origin.Y},
                   {corner2.X - origin.X, corner2.Y - origin.Y});
}

}  // namespace zm
