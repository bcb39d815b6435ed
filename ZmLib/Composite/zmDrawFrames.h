#pragma once
// Draw frames: the tree that places drawn things inside one window. A frame
// has a parent, ordered children (the last is drawn on top), a position in
// its parent, an optional clip rectangle and one attached handler that
// receives its notifications and paints it. The window side (the root frame
// bound to a window, invalidation and painting) derives from TDrawFrame.
// A parent frame holds no reference to its children; the creator of a frame
// (in practice its control) owns it, and disposing a frame frees the frames
// below it. UI thread only.
#include <cstdint>

#include "ZmLib/Composite/zmEvents.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TDrawFrame;

// Kinds of mouse events.
constexpr std::int32_t mkMove = 0;
constexpr std::int32_t mkDown = 1;
constexpr std::int32_t mkUp = 2;
constexpr std::int32_t mkDoubleClick = 3;
constexpr std::int32_t mkWheel = 4;
// Buttons (the MK_ bits of the window layer).
constexpr std::int32_t mbLeft = 1;
constexpr std::int32_t mbRight = 2;
constexpr std::int32_t mbMiddle = 0x10;

// One mouse event as the frame tree passes it on. X and Y are local to the
// frame or control that receives it.
struct TMouseData {
  std::int32_t Kind = mkMove;
  std::int32_t Buttons = 0;     // no buttons for wheel events
  std::int32_t WheelDelta = 0;  // wheel events only
  std::int32_t X = 0, Y = 0;
  std::int32_t WindowX = 0, WindowY = 0;
  std::int32_t Cursor = 0;      // asked for by the handling control; 0 the arrow
  bool Captured = false;        // delivered through a capture
  bool Handled = false;
};

// What a root frame answers for the whole tree.
class TFrameOwner : public TRefObject {
public:
  // The scale that font sizes are divided by; 0 or less means none.
  virtual double FontScale() const { return 0; }
};

// The drawing side: what handlers paint on. Rectangles are in the
// coordinates of the frame being painted; the surface adds its origin.
class TDrawSurface : public TRefObject {
public:
  virtual void FillRect(const TRect& rect, TColor32 color) = 0;
  // Each channel moves toward the colour by its alpha.
  virtual void BlendRect(const TRect& rect, TColor32 color) = 0;
  virtual void DrawBitmap(std::int32_t x, std::int32_t y, TBitmap* bitmap) = 0;
  // Fills Rect with a tile of W x H anchored at (OX, OY), through DrawTileAt.
  void Tile(const TRect& rect, std::int32_t w, std::int32_t h, std::int32_t ox, std::int32_t oy, TBitmap* tile);
  // The places a tile is drawn at, in order (row by row); none for a tile
  // below 1 x 1 or an empty rectangle.
  static std::int32_t TilePositions(const TRect& rect, std::int32_t w, std::int32_t h, std::int32_t ox,
                                    std::int32_t oy, TPoint* out, std::int32_t max);
};

// The handler attached to a frame (in practice a frame control).
class TFrameHandler : public events::TEventHandler {
public:
  void Dispose() override;
  TDrawFrame* Frame() const { return frame_; }
  // Detaches from the old frame (telling it with nil), then attaches to the
  // new one (telling it with this handler).
  void SetFrame(TDrawFrame* frame);

  // Frame notifications.
  virtual void FrameNotify(std::int32_t code, std::intptr_t data);
  virtual void BeforeMove();
  virtual void AfterMove();
  // Called when the frame goes away while still attached.
  virtual void FrameDetached();
  // The frame's default painting.
  virtual void Paint(TDrawSurface* surface);
  // A mouse event for this handler; true when it took the event.
  virtual bool HandleMouse(TMouseData& mouse);
  // Whether the handler shows (frames of hidden handlers are not painted).
  virtual bool Shown() { return true; }
  // The mouse left the handler (or its capture was cancelled).
  virtual void MouseLeft() {}

private:
  friend class TDrawFrame;
  TDrawFrame* frame_ = nullptr;
};

class TDrawFrame : public TRefObject {
public:
  TDrawFrame();
  // Tells the handler to detach, unlinks the frame from its parent, frees the children.
  void Dispose() override;

  // Takes (handler non-nil) or drops (nil) the handler; asserts that the
  // frame and the handler agree.
  virtual void AttachHandler(TFrameHandler* handler);
  // After the clip rectangle or the clipped flag changed.
  virtual void Changed();
  // A new frame of the same class.
  virtual TRef<TDrawFrame> CreateFrame();
  virtual void SetPosition(std::int32_t x, std::int32_t y);
  // Asks the parent; the root answers (nil in the base).
  virtual TFrameOwner* Owner();
  // The parent's origin plus the position; the root's is the window's zero point.
  virtual TPoint Origin();
  // Links Child after After (nil: at the end) / before Before (nil: at the front).
  virtual void AddChildAfter(TDrawFrame* child, TDrawFrame* after);
  virtual void AddChildBefore(TDrawFrame* child, TDrawFrame* before);
  // Drawing: a part of the frame needs painting (nothing without a window);
  // the default painting asks the handler.
  virtual void Invalidate(const TRect& rect);
  virtual void PaintDefault(TDrawSurface* surface);
  // Size * Factor / scale when the owner reports a positive scale, else Size.
  virtual float ScaledFontSize(float size, float factor);
  virtual TPoint ToWindow(const TPoint& p);

  // Unlinks from the parent (nothing without one).
  virtual void RemoveFromParent();
  void SetClipRect(const TRect& r);
  void SetClipped(bool clipped);
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  // The handler and then each child, depth first.
  void NotifyTree(std::int32_t code, std::intptr_t data);

  TFrameHandler* Handler() const { return handler_; }
  TDrawFrame* Parent() const { return parent_; }
  TDrawFrame* NextSibling() const { return next_; }
  TDrawFrame* PrevSibling() const { return prev_; }
  TDrawFrame* FirstChild() const { return first_; }
  TDrawFrame* LastChild() const { return last_; }
  std::int32_t ChildCount() const;
  TPoint Position() const { return pos_; }
  TRect ClipRect() const { return clip_; }
  bool Clipped() const { return clipped_; }
  bool Enabled() const { return enabled_; }

private:
  void Link(TDrawFrame* parent, TDrawFrame* prev, TDrawFrame* next);

  TFrameHandler* handler_ = nullptr;
  TDrawFrame* parent_ = nullptr;
  TDrawFrame* next_ = nullptr;
  TDrawFrame* prev_ = nullptr;
  TDrawFrame* first_ = nullptr;
  TDrawFrame* last_ = nullptr;
  TPoint pos_;
  TRect clip_;
  bool clipped_ = false;
  bool enabled_ = true;
};

bool IsEmptyRect(const TRect& r);  // right <= left or bottom <= top

}  // namespace zm
