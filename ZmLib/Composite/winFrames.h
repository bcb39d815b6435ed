#pragma once
// Draw frames bound to a window. A TWinFrame draws into the window's shared
// surface and remembers what it covered there, so that a move, a visibility
// change or its removal repaints both the old and the new place. The
// TRootFrame owns the surface: it turns the dirty cells into the window's
// update region, copies the surface to the window, and turns window mouse
// messages into frame mouse events with capture and hover tracking. The
// registry of root frames repaints every window when the system colours or
// the theme change. UI thread only.
#include <cstdint>
#include <functional>
#include <vector>

#include "Platform/User/PlatUserTypes.h"
#include "ZmLib/Composite/winSurface.h"
#include "ZmLib/Composite/zmDrawFrames.h"

namespace zm {

class TRootFrame;
class TRootFrameRegistry;

// Where invisible or clipped-away frames are (a rectangle no mouse reaches).
inline constexpr TRect kHiddenFrameRect{-30000, -30000, -29999, -29999};

// The mouse event of a root with its capture and hover record.
struct TMouseDataEx : TMouseData {
  std::uint32_t HoverId = 0;      // the frame that had the mouse
  std::uint32_t NextHoverId = 0;  // the frame that took this event
  bool Capture = false;
  std::uint32_t CaptureId = 0;
  std::int32_t CaptureButton = 0;
};

class TWinFrame : public TDrawFrame {
public:
  // Surface nil: the frame draws nowhere until it joins a tree that has one.
  explicit TWinFrame(TWinSurface* surface);
  // Repaints what the frame covered, then leaves the tree.
  void Dispose() override;

  std::uint32_t Id() const { return id_; }
  TWinSurface* Surface() const { return surface_.get(); }
  // Invisible: the hidden rectangle; clipping: its clip rectangle on the
  // window; else everything. A change repaints the frame's last cells.
  virtual void UpdateVisibleRect();
  // A new frame on the same surface.
  virtual TRef<TWinFrame> Clone();
  TRef<TDrawFrame> CreateFrame() override;
  void SetPosition(std::int32_t x, std::int32_t y) override;
  void Changed() override;
  // Frame coordinates: kept until the next update puts it on the surface.
  void Invalidate(const TRect& rect) override;
  // The handler's client area (the clip rectangle without a control) and every frame below.
  virtual void InvalidateAll();
  void AddChildAfter(TDrawFrame* child, TDrawFrame* after) override;
  void AddChildBefore(TDrawFrame* child, TDrawFrame* before) override;
  void RemoveFromParent() override;
  // 1 taken by a handler, -1 delivered through the capture, 0 not taken.
  virtual std::int32_t DispatchMouse(TMouseDataEx& mouse, bool cancel);
  // This frame or the first frame below it with the id; nil when none.
  virtual TWinFrame* FindById(std::uint32_t id);

  // Recursive steps of the root's update.
  bool UpdatePositions(TPoint offset);
  void PaintFrame();

  bool Visible();
  TRect VisibleRect() const { return visible_; }
  TRect InvalidBounds() const { return bounds_; }
  const TRectList& RegionList() const { return region_; }
  std::int32_t PendingCount() const { return pending_.Count; }
  TPoint AbsolutePos() const { return absPos_; }
  // Paints instead of the default painting when set.
  std::function<void(TWinFrame* frame, TWinSurface* surface)> OnPaint;

protected:
  void SetSurface(TWinSurface* surface) { surface_ = TRef<TWinSurface>(surface); }
  void MarkChanged();
  // Puts the region lists of this frame and all below on the surface.
  bool InvalidateRegions();

private:
  std::uint32_t id_;
  TRef<TWinSurface> surface_;
  TRect visible_;
  TRectList pending_;  // frame coordinates
  TRectList region_;   // window coordinates: what the last paint drew
  TRect bounds_;       // window coordinates
  TPoint absPos_;
};

// The top frame of one window.
class TRootFrame : public TWinFrame {
public:
  TRootFrame();
  void Dispose() override;

  TRootFrameRegistry* GetRegistry();
  // Through OnGetAbsolutePos; asserts when it is not assigned.
  TPoint GetAbsolutePos();
  bool SetCursor(std::int32_t cursor);
  // A frame mouse event in root coordinates. Buttons: for down, up and
  // double-click the button concerned, for moves the held ones; for wheel
  // events the delta.
  void MouseEvent(std::int32_t kind, std::int32_t x, std::int32_t y, std::int32_t buttonsOrDelta);
  // Repaints the whole tree.
  virtual void SystemChanged();
  void InvalidateAll() override;

  // Decodes a window mouse message (512..526 and the wheel message); Origin
  // is the client origin on the screen. False for other messages and while
  // a message is being handled.
  bool HandleMessage(plat::UINT msg, plat::WPARAM w, plat::LPARAM l, TPoint origin, plat::HWND window);
  // Runs the position update and the paint pass when the surface changed;
  // true when an update region was made.
  bool PrepareUpdate();
  // The last update region (window coordinates).
  const std::vector<TRect>& UpdateRegion() const { return update_; }
  // Frame position and size; the surface keeps its content and the new
  // strips are invalidated. Sizes below 1 count as 1.
  void SetBounds(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);
  // Copies the rectangles (window coordinates) from the surface; the
  // layered form goes through the 32-bit conversion.
  bool PaintTo(plat::HDC dc, std::int32_t x, std::int32_t y, const std::vector<TRect>& region, bool layered);

  TWinSurface* OwnSurface() const { return Surface(); }
  const TMouseDataEx& MouseData() const { return mouse_; }
  bool Captured() const { return mouse_.Capture; }
  void CancelCapture() { cancel_ = true; }
  TPoint FrameOrigin() const { return origin_; }
  void SetFrameOrigin(TPoint p) { origin_ = p; }
  plat::HWND Window() const { return window_; }
  void SetWindow(plat::HWND h) { window_ = h; }

  std::function<void(bool captured)> OnCaptureChanged;
  std::function<TPoint()> OnGetAbsolutePos;

private:
  TMouseDataEx mouse_;
  plat::HWND window_ = nullptr;
  std::int32_t entered_ = 0;
  TPoint origin_;
  bool cancel_ = false;
  std::int32_t width_ = 1, height_ = 1;
  std::vector<TRect> update_;
};

// All root frames of the process.
class TRootFrameRegistry : public TRefObject {
public:
  void Add(TRootFrame* root);
  void Remove(TRootFrame* root);
  std::size_t Count() const { return roots_.size(); }
  std::int32_t PixelsPerInch() const { return ppi_; }
  // WM_SYSCOLORCHANGE and WM_THEMECHANGED: the pixels per inch are read
  // again and every root repaints. True for those messages.
  bool SystemMessage(plat::UINT msg);
  void ReadPixelsPerInch();

private:
  std::vector<TRootFrame*> roots_;
  std::int32_t ppi_ = 96;
};

// Made on first use; freed at the unit's finalisation.
TRootFrameRegistry* RootFrameRegistry();

void InitWinFrames();
void FiniWinFrames();

}  // namespace zm
