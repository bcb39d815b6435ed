#pragma once
// Frame controls: the windowless controls of the framework. Every panel,
// button or edit box the program draws itself is a TFrameControl attached to
// a draw frame that places it in the tree of one window; the top of each
// tree is a TRootControl. This unit holds the control state (size,
// visibility, focus, invalid area), the notifications a control raises to its
// listeners (tags), hit testing, keyboard focus navigation, mouse capture
// inside a tree, the refresh clock for animations, the deferred freeing of
// controls and TControlStyles, the global object controls read their
// colours, fonts and metrics from.
//
// Ownership: a parent control owns its child controls (the reference the
// creator got from NewControl); a control owns its frame. FreeControl tears a
// control down at once and releases its memory at the next safe point
// (ProcessDeferredFrees), so a control may be freed inside its own handler.
// UI thread only.
#include <cstdint>
#include <functional>
#include <vector>

#include "Platform/User/PlatUserTypes.h"
#include "ZmLib/Application2/zmTimer2.h"
#include "ZmLib/Composite/zmDrawFrames.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Win32/winInput.h"

namespace zm {

class TFrameControl;
class TRootControl;
class TFrameControlTheme;
class TFocusHelper;

// ---- Notification tags (event ids of a control's listeners) ----------------------------
constexpr std::int32_t ntDestroy = 0;
constexpr std::int32_t ntValue = 1;
constexpr std::int32_t ntRefresh = 2;
constexpr std::int32_t ntFocusGained = 3;
constexpr std::int32_t ntFocusLost = 4;
constexpr std::int32_t ntActiveChanged = 5;
constexpr std::int32_t ntVisibleChanged = 6;
constexpr std::int32_t ntBeforeResize = 7;
constexpr std::int32_t ntAfterResize = 8;
constexpr std::int32_t ntBeforeMove = 9;
constexpr std::int32_t ntAfterMove = 10;
constexpr std::int32_t ntMouse = 11;
constexpr std::int32_t ntMouseLeave = 12;
constexpr std::int32_t ntNotify13 = 13;
constexpr std::int32_t ntKey = 14;
constexpr std::int32_t ntInput = 15;
constexpr std::int32_t ntData16 = 16;
constexpr std::int32_t ntData17 = 17;
constexpr std::int32_t ntAfterFocusChange = 18;
constexpr std::int32_t ntBeforeFocusChange = 19;
constexpr std::int32_t ntNotify20 = 20;

// Visibility states.
constexpr std::uint8_t vsInherit = 0;
constexpr std::uint8_t vsVisible = 1;
constexpr std::uint8_t vsHidden = 2;

// Navigation modes and their bits in NavigationKinds.
constexpr std::uint8_t nmTabOrder = 0;
constexpr std::uint8_t nmArrows = 1;

// ---- Keyboard input --------------------------------------------------------------------
constexpr std::int32_t kkKeyDown = 0;
constexpr std::int32_t kkKeyUp = 1;
constexpr std::int32_t kkChar = 2;
// Shift states are the input translation's (ssShift, ssAlt, ssCtrl of winInput).

// A key event on its way through a control tree.
class TKeyboardData : public TRefObject {
public:
  bool Handled = false;
  std::int32_t Kind = kkKeyDown;
  std::uint8_t Shift = 0;
  std::uint16_t Key = 0;  // virtual key, or the character for kkChar
  // Whether a virtual key is held now (the window layer answers; none here).
  virtual bool KeyPressed(std::int32_t) { return false; }
};

// ---- Styles ------------------------------------------------------------------------------

// A reference-counted brush.
class TFrameBrush : public TRefObject {
public:
  explicit TFrameBrush(TColor32 color = {}) : Color(color) {}
  virtual TColor32 GetColor() { return Color; }
  virtual void Fill(TDrawSurface* canvas, const TRect& rect);
  // Fills the overlap of Rect and Clip; nothing when they do not overlap.
  virtual void FillClipped(TDrawSurface* canvas, const TRect& rect, const TRect& clip);
  TColor32 Color;
};

// A font record with its background flag.
struct TTextFormat {
  TFontParams Font;
  bool HasBackground = false;
};

class TControlStyles : public TRefObject {
public:
  TControlStyles();
  void Dispose() override;  // drops the brush, the focus pattern and the themes
  // Copies every field; the brush gets a new reference. The theme list stays.
  void Assign(const TControlStyles& other);
  // Reads the settings again (nothing in the base).
  virtual void Refresh() {}

  // Themes register here on construction; the list holds a reference each.
  void AddTheme(TRefObject* theme);
  // Drops the list's reference; false when the theme was not in it.
  bool RemoveTheme(TRefObject* theme);
  const std::vector<TRefObject*>& Themes() const { return themes_; }
  template <class T>
  T* FindTheme() const {
    for (auto* t : themes_)
      if (auto* x = dynamic_cast<T*>(t)) return x;
    return nullptr;
  }

  TTextFormat Font, DefaultFont, EditFont, SelectionFont;
  TColor32 FaceColor, FrameColor, LightColor, HighlightColor, ShadowColor, DarkShadowColor, MixedColor;
  TColor32 WindowColor, InfoBkColor;
  TColor32 BorderColor{0x64, 0x64, 0x64, 0xFF};  // one-pixel borders; the system settings leave it
  double ScaleX = 1, ScaleY = 1;
  TRef<TFrameBrush> Background;
  TRef<TImage> FocusPattern;

private:
  std::vector<TRefObject*> themes_;
};

// The global control styles (made on first use when none was installed).
TControlStyles* DefaultControlStyles();
// Installs Styles as the global one (taking over the caller's reference) and
// frees the previous one; nil frees it.
void SetDefaultControlStyles(TControlStyles* styles);

// Colour adjustment before the frame engine uses a colour: each channel is
// scaled by its factor and the offset added (clamped to 0..255); off leaves
// colours unchanged.
struct TColorAdjustment {
  bool Enabled = false;
  float Factor[3] = {1, 1, 1};    // red, green, blue
  std::int32_t Offset[3] = {0, 0, 0};
};
extern TColorAdjustment ColorAdjustment;
TColor32 AdjustColor(TColor32 c);

// The mouse filter new controls start with; 0 refuses wheel events.
extern std::uint8_t DefaultMouseFilter;

// ---- Refresh clock -------------------------------------------------------------------------

// Controls listen with code 2 (their HandleEvent then raises tag 2).
class TRefreshNotifier : public TEvents {
public:
  static constexpr std::int32_t kRefreshEvent = 2;
  explicit TRefreshNotifier(TRootControl* root) : root_(root) {}
  void AddListener(events::TEventHandler* control);
  void RemoveListener(events::TEventHandler* control);
  std::int32_t ListenerCount() const { return SubscriberCount(kRefreshEvent); }
  TRootControl* Root() const { return root_; }
  void ClearRoot() { root_ = nullptr; }

protected:
  void SubscriptionsChanged() override { ListenersChanged(); }
  virtual void ListenersChanged() {}
  TRootControl* root_;
};

// 1000 / the display's refresh rate, or 16 ms when the rate reads as 0 or less.
std::int32_t RefreshIntervalFor(std::int32_t rate);
std::int32_t RefreshInterval();  // from VREFRESH of the screen

// Holds a multi-timer registration while it has listeners; each tick runs
// the root's refresh step and fires the refresh event.
class TTimeRefreshNotifier : public TRefreshNotifier {
public:
  using TRefreshNotifier::TRefreshNotifier;
  void Dispose() override;
  virtual void Tick();
  bool Running() const { return timer_ != nullptr; }
  std::int32_t Interval() const;

protected:
  void ListenersChanged() override;

private:
  static void OnTimer(void* data, TMultiTimerEvent* event);
  TMultiTimerEvent* timer_ = nullptr;
};

// The notifier of controls without a root (made on first use).
TRefreshNotifier* GlobalRefreshNotifier();

// ---- TFrameControl -------------------------------------------------------------------------

class TFrameControl : public TFrameHandler {
public:
  // Frame nil makes a plain TDrawFrame; a given frame must not be in use
  // (assertion) and is owned by the control from now on.
  explicit TFrameControl(TDrawFrame* frame = nullptr);
  // A child of Parent on a frame made by the parent's frame (its class).
  // (Pass no argument, not nullptr, for a control without frame or parent.)
  explicit TFrameControl(TFrameControl* parent);

  // 0. Raises tag 0, clears the focus, frees the children, leaves the frame.
  void Dispose() override;
  // 1. Code 2 raises the refresh notification.
  void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) override;
  // 2. Moves the control under another frame (nil: out of the tree).
  virtual void SetParent(TDrawFrame* frame);
  void SetParentControl(TFrameControl* parent) { SetParent(parent ? parent->Frame() : nullptr); }
  // 4, 5.
  void BeforeMove() override;
  void AfterMove() override;
  // 6. Takes the invalid rectangle and resets the invalidation count.
  virtual void GetBounds(TRect& rect);
  // 8. Wheel events are refused when the mouse filter is 0; else hit test.
  virtual bool AcceptsMouse(const TMouseData& mouse);
  // 9, 10.
  virtual void MouseEvent(TMouseData& mouse);
  virtual void MouseLeave();
  // 11, 12, 13.
  virtual bool GetTabStop() { return tabStop_; }
  virtual void SetTabStop(bool on) { tabStop_ = on; }
  virtual std::uint8_t NavigationKinds() { return 3; }
  // 14.
  virtual TFrameControl* NextSiblingControl();
  // 15, 16 (called on the root).
  virtual void BeforeFocusChange();
  virtual void AfterFocusChange();
  // 17, 18.
  virtual void Notify16(std::intptr_t data);
  virtual void Notify17(std::intptr_t data);
  // 19. Negative values become 0.
  virtual void ConstrainSize(std::int32_t& width, std::int32_t& height);
  // 20, 21.
  virtual void BeforeResize();
  virtual void AfterResize();
  // 22.
  virtual void InvalidateAll();
  // 23.
  virtual void VisibilityChanged();
  // 24, 25, 26.
  virtual void Notify20();
  virtual void ActiveChanged();
  virtual void FocusChanged(bool gained);
  // 27, 28.
  virtual void KeyNotify(TKeyboardData* key);
  virtual void InputNotify(TKeyboardData* key);
  // 29, 30, 31.
  virtual void NotifyValue(std::intptr_t value);
  virtual void Notify13();
  virtual void NotifyRefresh();
  // 32, 34: the parent's, or the global styles' for a control without parent.
  virtual void GetTextFormat(TTextFormat& format);
  virtual TControlStyles* GetStyles();
  // 36.
  virtual bool HitTest(std::int32_t x, std::int32_t y);
  // 37. Whatever owns the tree (the form), asked of the root.
  virtual TRefObject* GetRootOwner();
  // 38. Adds the position, then continues through the parent.
  virtual void ToParent(std::int32_t x, std::int32_t y, TPoint& p);
  // 39, 40.
  virtual std::int32_t Width() { return width_; }
  virtual std::int32_t Height() { return height_; }

  // Frame handler side.
  bool HandleMouse(TMouseData& mouse) override;
  void Paint(TDrawSurface* surface) override;
  bool Shown() override { return IsVisible(); }
  void MouseLeft() override { MouseLeave(); }
  bool IsVisible() const;

  // ---- State ----
  void SetSize(std::int32_t width, std::int32_t height);
  void SetPosition(std::int32_t x, std::int32_t y);
  TPoint Position() const;
  // Merges Rect into the invalid rectangle and tells the frame. Nothing on a
  // freed control.
  void Invalidate(const TRect& rect);
  TRect InvalidRect() const { return invalid_; }
  std::int32_t InvalidationCount() const { return invalidCount_; }
  void SetVisibility(std::uint8_t state);
  std::uint8_t Visibility() const { return visibility_; }

  // Focus: refused (false) when Child is not a child control of this one.
  bool SetFocusedChild(TFrameControl* child);
  TFrameControl* FocusedChild() const { return focused_; }
  void SetFocus();
  bool Active() const { return active_; }
  bool Focused() const;  // active and the end of the focus chain

  // Refresh events while on.
  void SetRefreshing(bool on);

  // Tree (skipping frames whose handler is not a control).
  TFrameControl* ParentControl() const;
  TFrameControl* FirstChildControl() const;
  TFrameControl* LastChildControl() const;
  TFrameControl* PrevSiblingControl() const;
  TFrameControl* TopControl();  // the topmost control of the tree
  TRootControl* Root();         // TopControl when it is a root, else nil
  // Position of (0, 0) of this control in the coordinates of Ancestor.
  TPoint OriginIn(const TFrameControl* ancestor) const;
  bool IsInside(const TFrameControl* ancestor) const;  // this or below it

  // The notification list, made on first use.
  TEventsWithTags* Listeners();
  bool HasListeners() const { return listeners_ != nullptr; }
  std::uint8_t MouseFilter = 1;

  // Tears down now and releases the memory at the next safe point.
  void DeferredFree();
  bool Freed() const { return freed_; }
  bool TornDown() const { return tornDown_; }

protected:
  void Raise(std::int32_t tag, std::intptr_t data = 0);
  void SetActive(bool active);
  void TearDown();

private:
  friend class TRootControl;
  TEventsWithTags* listeners_ = nullptr;
  std::int32_t width_ = 0, height_ = 0;
  TFrameControl* focused_ = nullptr;
  bool active_ = false;
  bool tabStop_ = false;
  std::uint8_t visibility_ = vsInherit;
  bool freed_ = false;
  bool tornDown_ = false;
  bool refreshing_ = false;
  TRefreshNotifier* refreshNotifier_ = nullptr;
  TRect invalid_;
  std::int32_t invalidCount_ = 0;
};

// A control made with new, checked like MakeRef; the caller (or the parent
// given to the constructor) owns the reference.
template <class T, class... A>
T* NewControl(A&&... args) {
  T* c = new T(std::forward<A>(args)...);
  try {
    c->AfterConstruction();
  } catch (...) {
    c->Free();
    throw;
  }
  return c;
}
// FreeControl of nil does nothing.
void FreeControl(TFrameControl* control);

// ---- TRootControl ------------------------------------------------------------------------

class TRootControl : public TFrameControl {
public:
  // The frame must have no parent (assertion).
  explicit TRootControl(TDrawFrame* frame = nullptr);
  void Dispose() override;

  // 28: after the notification, Tab and arrow-key navigation.
  void InputNotify(TKeyboardData* key) override;
  // 37.
  TRefObject* GetRootOwner() override { return RootOwner; }
  // 41, 42, 43, 44.
  virtual TRefreshNotifier* CreateRefreshNotifier();
  virtual void RefreshStep() {}
  // The control at a point in root coordinates and the point in its
  // coordinates; nil when nothing is hit.
  virtual TFrameControl* FindControlAt(std::int32_t x, std::int32_t y, TPoint& local);
  virtual void SetRootActive(bool active) { SetActive(active); }

  // Moves the focus like Tab (mode 0) or the arrows (mode 1); true when a
  // control was focused.
  bool Navigate(std::uint8_t mode, bool backwards);
  // The end of the focus chain (the root itself when nothing is focused).
  TFrameControl* CurrentControl();
  std::uint8_t NavigationMode = nmTabOrder;

  // ---- Mouse inside the tree ----
  // Routes a mouse event given in root coordinates: to the capture, else to
  // the control under the point. A button-down that a control accepted
  // captures it until the button-up; moving to another control tells the
  // previous one the mouse left. The control that took it, or nil.
  TFrameControl* MouseInput(TMouseData mouse);
  void SetCapture(TFrameControl* control);
  void ReleaseCapture() { SetCapture(nullptr); }
  TFrameControl* CaptureControl() const { return capture_; }
  TFrameControl* HoverControl() const { return hover_; }
  // Told every capture change (new state).
  std::function<void(bool)> OnCaptureChanged;

  // A control of this tree goes away or leaves it: drops every pointer to it
  // or to controls below it.
  void ControlRemoved(TFrameControl* control);
  // Made on first use (CreateRefreshNotifier); nil once the root is torn down.
  TRefreshNotifier* RefreshNotifier();
  TRefObject* RootOwner = nullptr;  // not referenced

private:
  TRefreshNotifier* notifier_ = nullptr;
  TFrameControl* candidate_ = nullptr;  // of a running focus search
  TFrameControl* current_ = nullptr;
  TFrameControl* capture_ = nullptr;
  TFrameControl* hover_ = nullptr;
};

// A root bound to a window. The window side fills in the handle and the
// operations that need the window.
class TWinHandleRootControl : public TRootControl {
public:
  using TRootControl::TRootControl;
  virtual plat::HWND WindowHandle() { return nullptr; }
  // The zero point when there is no window.
  virtual TPoint ClientToScreen(const TPoint& p) { return p; }
  virtual void SystemSettingsChanged() { InvalidateAll(); }
  virtual void ResendMouse() {}
  // The focus cues may have changed (window UI state): the callback runs.
  void FocusCuesChanged() {
    if (OnFocusChanged) OnFocusChanged();
  }
  std::function<void()> OnFocusChanged;
  TFocusHelper* FocusHelper = nullptr;  // attached to the listeners, not owned here
};

// ---- Deferred freeing ------------------------------------------------------------------------

// Appends an object whose reference the caller hands over.
void DeferFree(TRefObject* object);
// The safe point: releases everything appended so far (also what is
// appended meanwhile).
void ProcessDeferredFrees();
std::size_t DeferredFreeCount();

void InitFrameControls();
void FiniFrameControls();

}  // namespace zm
