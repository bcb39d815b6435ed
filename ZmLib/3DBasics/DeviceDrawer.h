#pragma once
// The abstract drawer and the items it draws. Every top-level draw is one
// frame (begin, draw, end, present) under one process-wide drawing lock, so
// that the engine, loader and user-interface threads never draw at once.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TBitmap;
class TImage;
class TDrawDevice;
class TDeviceDrawer;
class TCustomColorGradeTexture;
class TYUVImage;

// Something the drawer can draw: slide objects, overlay items, filters.
class TDrawItem : public TRefObject {
public:
  bool Changed = false;         // a drawing property took a new value
  bool StateChanged = false;    // the state computed for now differs from the last one
  bool TransitionFlag = false;  // set by the drawer while a slide effect draws the item

  virtual bool IsChanged() { return Changed || StateChanged; }
  // At least 0.00001: Gaussian blur of that radius; negative: sharpen by
  // the magnitude; anything in between: neither.
  virtual float GetBlurRadius() { return 0.0f; }
  // After every top-level draw of the item, drawn or not.
  virtual void Reset(TDeviceDrawer& drawer) { (void)drawer; }
  virtual void Draw(TDeviceDrawer& drawer) = 0;
  // True when the item's drawing begins by painting every pixel of Rect
  // (virtual units) opaque, so that nothing drawn there before shows.
  virtual bool CoversOpaque(const TFloatRect& rect) {
    (void)rect;
    return false;
  }
};

// The empty base of the parameter objects of the transition filters.
class TFilterParams : public TRefObject {};

// Kind 0..3 corner gradients, 4..7 edge gradients, 8 solid.
struct TGradientFill {
  bool Edges[4] = {false, false, false, false};  // antialiased edges
  std::uint8_t Kind = 8;
  TColor32 Colour1 = TColor32::FromValue(0xFF000000u);
  TColor32 Colour2 = TColor32::FromValue(0xFF000000u);
  float ScaleX = 1.0f;
  float ScaleY = 1.0f;
  float Opacity = 100.0f;  // percent
};

struct TImageDrawParams {
  bool Antialiased = false;
  bool Premultiplied = false;
  float Opacity = 100.0f;      // percent
  std::uint8_t Filtering = 2;  // 0 nearest, 1 bilinear, 2 device default
  TFloatRect SourceRect;       // picture pixels; empty: the whole picture
  bool Tinted = false;
  TColor24 TintColour{255, 255, 255};
  std::int32_t Level = 0;  // mip level: 1 / 2^Level of the picture
  float MipLodBias = 0.0f;
  bool Tiled = false;  // a strip of Columns x Rows animation cells
  std::int32_t Columns = 1;
  std::int32_t Rows = 1;
  TColor32 BorderColour = TColor32::FromValue(0xFFFFFFFFu);
  float GradeMix = 0.0f;
  // Not owned: the image object holds them.
  TCustomColorGradeTexture* GradeTable1 = nullptr;
  TCustomColorGradeTexture* GradeTable2 = nullptr;
  std::int32_t GradeMode = 0;  // 0 none, 1 volume tables, 2 per-channel curves
  // For PrepareImage: the picture holds still where DrawImage will get these
  // origin and axes, so the drawer may ready it at the size it is drawn at.
  bool Still = false;
  TFloatPoint StillOrigin, StillAxisX, StillAxisY;
};

// What DrawVideoImage draws: a video image of the drawer's CreateVideoImage.
struct TVideoDrawParams {
  TYUVImage* Image = nullptr;  // not owned
  float Opacity = 100.0f;      // percent
  bool Antialiased = false;    // all four edges smoothed
  TFloatRect SourceRect;       // Y-plane pixels (the chroma planes use it halved); must not be empty
  bool ChromaKey = false;
  float KeyU = 0.0f;  // the key as chroma plane values, 0..1
  float KeyV = 0.0f;
  float KeyTolerance = 0.0f;  // 0 keys nothing out
  std::int32_t Deinterlace = 0;  // 0 none, 1 and 2 the two fields
  std::int32_t GradeMode = 0;    // 0 none, 1 volume tables, 2 per-channel curves
  // The three-plane path takes its colour only from these two volumes
  // (YUV to graded RGB), so it draws nothing without both.
  TCustomColorGradeTexture* GradeTable1 = nullptr;
  TCustomColorGradeTexture* GradeTable2 = nullptr;
  float GradeMix = 0.0f;  // t: 0 the first table, 1 the second
};

// The largest size of Source's aspect that fits Bounds (may enlarge);
// (0, 0) when either has a side below 1.
TSize FitSize(const TSize& source, const TSize& bounds);
// The same, never larger than Source.
TSize FitSizeNoEnlarge(const TSize& source, const TSize& bounds);

// The process-wide drawing lock; made on first use. The first of the locks
// of a frame's road (their order: beside Device3DLock, 3DBasics/D3D9/Dev3D9.h).
TSafeCriticalSection* DrawingLock();

class TDeviceDrawer : public TRefObject {
public:
  // Nested draws deeper than this draw nothing: a runaway item chain must
  // not take the stack with it.
  static constexpr std::int32_t kMaxDrawDepth = 64;

  bool OffsetSet = false;
  TFloatPoint DrawOffset;
  std::int32_t DrawDepth = 0;  // changed only by the thread that holds the drawing lock
  TFloatRect ViewRectF;
  TFloatPoint VirtualSize;
  TRect Bounds;  // (0, 0, surface width, surface height)
  TRect ClipRect;
  TRect FrameRect;
  TFloatPoint3 Camera;
  bool FixedFrameSizeSet = false;
  bool CaptureMode = false;

  virtual void BeginFrame() = 0;
  virtual bool EndFrame() = 0;  // true when ended and presented (or nothing to present)
  virtual bool CanDraw() = 0;
  virtual void SetClipRect(const TRect& rect) { ClipRect = rect; }
  virtual bool IsDrawingTransition() { return false; }
  virtual bool Open(TDrawDevice* device) = 0;
  virtual void Close() = 0;
  virtual void PrepareImage(TImage* image, const TImageDrawParams& params) = 0;
  virtual void ReleaseImageTextures(TImage* image) = 0;
  // Once Image's textures hold its pixels, lets the store's own copy go when
  // the store can make it again (a text, a shadow): a picture is then held
  // once, at the size it is drawn.
  virtual void LetLevelsGo(TImage* image) { (void)image; }
  virtual void SetFixedFrameSize(const TSize& size) = 0;
  virtual void RestoreDeviceStates() = 0;
  virtual void Clear(TColor32 colour, bool clearDepth) = 0;
  virtual void FillRect(TColor32 colour, const TRect& rect) = 0;
  virtual void SetDrawOffset(const TFloatPoint& offset);
  // Top level: one frame under the drawing lock; nested: the item only.
  // Nil or disposed items and items already being drawn by this drawer
  // (a cycle) draw nothing and give false.
  virtual bool Draw(TDrawItem* item);
  virtual void DrawTransition(TDrawItem* slideA, TDrawItem* slideB, TFilterParams* params) = 0;
  virtual void DrawImage(TImage* image, const TFloatPoint& origin, const TImageDrawParams& params,
                         const TFloatPoint& axisX, const TFloatPoint& axisY) = 0;
  virtual void FillGradientQuad(const TFloatPoint& origin, const TFloatPoint& offset, const TGradientFill& fill,
                                const TFloatPoint& axisX, const TFloatPoint& axisY) = 0;
  // What DrawImage with these arguments would paint over whole with opaque
  // texels, as an axis-aligned rectangle of whole pixels (virtual units):
  // whatever is drawn there before cannot show. False when it cannot say.
  virtual bool OpaqueImageRect(TImage* image, const TFloatPoint& origin, const TImageDrawParams& params,
                               const TFloatPoint& axisX, const TFloatPoint& axisY, TFloatRect& rect) {
    (void)image, (void)origin, (void)params, (void)axisX, (void)axisY, (void)rect;
    return false;
  }
  // Whether the objects drawn now go straight onto the target, with nothing
  // that reads its pixels back (no pass, mask, trail or look at a slide):
  // what a later draw paints over whole cannot show, and may be left out.
  virtual bool CanLeaveOutHidden() { return false; }
  // Where DrawImage3D with these arguments changes pixels, as rectangles of
  // target pixels: Reach holds every pixel it may change, Inner only pixels
  // inside its edges (painted by its inside alone, not its smoothed edges),
  // Cover only pixels it paints over whole with opaque texels (empty when
  // none). False when it cannot say (a picture turned in 3D, not drawn
  // filtered from a rectangle of its source).
  virtual bool ImagePixels(TImage* image, const TFloatPoint3& origin, const TImageDrawParams& params,
                           const TFloatPoint3& axisX, const TFloatPoint3& axisY, TRect& reach, TRect& inner,
                           TRect& cover) {
    (void)image, (void)origin, (void)params, (void)axisX, (void)axisY, (void)reach, (void)inner, (void)cover;
    return false;
  }
  // Draws from now on leave the target pixels of Rect as they are (what
  // later draws paint over); nil draws everywhere again. False when the
  // drawer cannot (everything is drawn).
  virtual bool LeaveOut(const TRect* rect) {
    (void)rect;
    return false;
  }
  virtual void DrawGradientFrame(bool quad, const TFloatPoint& origin, bool flag, float opacity, TColor32 colour,
                                 const TFloatPoint& size, const TFloatPoint& border) = 0;
  // The same placed in 3D (z away from the viewer, the screen plane at 0):
  // seen from Camera, a turned quad is drawn in perspective. The base draws
  // the parallelogram that the three points span on the screen plane.
  virtual void DrawImage3D(TImage* image, const TFloatPoint3& origin, const TImageDrawParams& params,
                           const TFloatPoint3& axisX, const TFloatPoint3& axisY);
  virtual void FillGradientQuad3D(const TFloatPoint3& origin, const TGradientFill& fill, const TFloatPoint3& axisX,
                                  const TFloatPoint3& axisY);
  // Where a point in 3D shows on the screen plane, seen from Camera (the
  // point itself without a camera in front of the plane, or at or behind
  // the camera).
  TFloatPoint ProjectToScreen(const TFloatPoint3& point) const;
  // A picture for a frame source to fill; nil for a size below 1 or
  // without a device.
  virtual TRef<TYUVImage> CreateVideoImage(std::int32_t width, std::int32_t height, bool rgba) = 0;
  virtual void DrawVideoImage(const TVideoDrawParams& params, const TFloatPoint& origin, const TFloatPoint& axisX,
                              const TFloatPoint& axisY) = 0;
  virtual void FillRectF(const TFloatPoint& topLeft, const TFloatPoint& bottomRight, TColor32 colour) = 0;
  virtual bool DrawMasked(TDrawItem* mask, TDrawItem* content) = 0;
  // Opacity in percent; Pattern (nil: none) is tiled under the content.
  virtual bool DrawMasked(TDrawItem* mask, TDrawItem* content, float opacity, TImage* pattern) {
    (void)opacity, (void)pattern;
    return DrawMasked(mask, content);
  }
  virtual void BeginSharpen() = 0;
  virtual void EndSharpen(float amount) = 0;
  virtual void BeginTrail(float decay) = 0;
  virtual void EndTrail() = 0;
  virtual bool ReadFrame(TBitmap* bitmap) = 0;
  // The finished frame as an image over an "R8G8B8" bitmap of Bounds' size;
  // nil when it cannot be read.
  virtual TRef<TImage> CaptureFrame();
  virtual void SetView(const TFloatRect& viewRect, const TFloatPoint& virtualSize, bool resetViewport,
                       const TFloatPoint3& camera);

  // ClipRect when not empty, else Bounds.
  TRect GetVisibleRect() const;
  // ViewRectF when not empty, else Bounds.
  TFloatRect GetViewRectF() const;
  // VirtualSize when both sides are positive, else the size of Bounds.
  TFloatPoint GetVirtualSize() const;

  // Paints the bands between the visible rect and Bounds grown by one
  // pixel; Colour is 0xRRGGBB, drawn opaque.
  void FillOutsideVisible(std::uint32_t colour);
  // The parallelogram from Origin spanned towards the two corners.
  void FillQuad(const TFloatPoint& origin, const TFloatPoint& corner1, const TFloatPoint& corner2, TColor32 colour);

private:
  bool DrawLocked(TDrawItem* item);

  std::vector<TDrawItem*> drawing_;  // the items on this drawer's draw stack
};

}  // namespace zm
