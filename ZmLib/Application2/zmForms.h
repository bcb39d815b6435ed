#pragma once
// Forms: the platform-free description of a top-level window (bounds,
// caption, cursor, visibility, taskbar, stay-on-top, window state, border
// style and icons) with an event list that reports every change and all
// input. The window itself belongs to a form controller; the form asks the
// controller to carry out each change, and the controller reports what the
// window really did back as change records. The form device lets the
// rendering layer draw on a form's window.
#include <cstdint>
#include <functional>
#include <mutex>

#include "ZmLib/3DBasics/Dev3D.h"
#include "ZmLib/Application2/zmEventList.h"
#include "ZmLib/Win32/winInput.h"
#include "ZmLib/Win32/winWndAPI.h"

namespace zm {

class TZmForm;
class TFormController;

// ---- change kinds; the event a change raises is kind + 1 ------------------------
constexpr std::uint8_t fcActivated = 0, fcDeactivated = 1, fcCaption = 2, fcCaptureLost = 3, fcCursor = 4,
                       fcVisible = 5, fcPosition = 6, fcSize = 7, fcShowInTaskbar = 8, fcStayOnTop = 9,
                       fcWindowState = 10, fcBorderStyle = 11, fcBorderIcons = 12;
constexpr std::uint8_t fcLastKind = fcBorderIcons;

// ---- further form events -------------------------------------------------------------
constexpr std::int32_t feDestroying = 0, feKey = 20, feMouse = 21, feWheel = 22, feAdjustBounds = 23;
// The window system says the pointer left the window (Param 0).
constexpr std::int32_t feMouseLeave = 24;
// The event a change kind raises.
constexpr std::int32_t FormChangeEvent(std::uint8_t kind) { return std::int32_t(kind) + 1; }

// ---- border icons (bit set) -------------------------------------------------------------
constexpr std::uint8_t biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8;
constexpr std::uint8_t biAll = biSystemMenu | biMinimize | biMaximize | biHelp;

// Window states: 0 normal, 1 minimised, 2 maximised. Border styles 0 to 6.
constexpr std::uint8_t wsNormal = 0, wsMinimized = 1, wsMaximized = 2;
constexpr std::uint8_t kMaxBorderStyle = 6;

// Close actions: 0 nothing, 1 hide, 2 free the form, 3 minimise.
constexpr std::int32_t caNone = 0, caHide = 1, caFree = 2, caMinimize = 3;

// One change as the controller reports it: the kind and the data it needs.
struct TFormChange {
  std::uint8_t Kind = 0;
  std::int32_t X = 0, Y = 0;           // position
  std::int32_t Width = 0, Height = 0;  // size (negative values count as 0)
  WideString Caption;
  std::int32_t Cursor = 0;
  bool Visible = false;
  bool ShowInTaskbar = false;
  bool StayOnTop = false;
  std::uint8_t WindowState = 0;
  std::uint8_t BorderStyle = 0;
  std::uint8_t BorderIcons = 0;
};

// ---- data objects of the input and adjust-bounds events (Param = the object) -----------
enum class TKeyKind : std::uint8_t { Down, Up, Char };

class TZmKeyData : public TRefObject {
public:
  TKeyKind Kind = TKeyKind::Down;
  std::uint16_t Key = 0;
  WideChar Char = 0;  // a handler may change it; the form writes it back
  TShiftState Shift = 0;
};

class TZmMouseData : public TRefObject {
public:
  TMouseKind Kind = TMouseKind::Move;
  TPoint Pos;      // client coordinates
  int Button = 0;  // 1 left, 4 right, 5 middle, 0 for a move
  TShiftState Shift = 0;
};

class TZmWheelData : public TRefObject {
public:
  TShiftState Shift = 0;
  TPoint Pos;
  int Notches = 0;  // positive away from the user
};

class TZmAdjustBoundsData : public TRefObject {
public:
  TRect Bounds;  // handlers may change it
};

// A reference-counted rectangle with one flag byte (a device keeps one per
// window as its next-time-windowed record).
class TRectangleWrapper : public TRefObject {
public:
  TRectangleWrapper() = default;
  TRectangleWrapper(const TRect& rect, std::uint8_t flag) : Rect(rect), Flag(flag) {}
  TRect Rect;
  std::uint8_t Flag = 0;
};

// Makes the controller of a form; the caller owns the reference returned.
using TFormControllerFactory = TFormController* (*)(TZmForm* form);

// The factory forms use when their creator passes none. It may be set once
// (a second non-nil value asserts); ClearFormControllerHook is for the
// module that set it, at finalisation.
TFormControllerFactory FormControllerHook();
void SetFormControllerHook(TFormControllerFactory factory);
void ClearFormControllerHook(TFormControllerFactory factory);

// ============================================================================
// TZmForm
// ============================================================================

// UI thread only. The form owns its controller. A form may be freed from
// inside its own handlers (a close with action 2): the public operations
// keep it alive until they return.
class TZmForm : public TRefObject {
public:
  // Factory nil: the hook; neither: assertion.
  explicit TZmForm(TFormControllerFactory factory = nullptr);
  // Event 0 first, then the controller, the event list and the data objects.
  void Dispose() override;

  // Sends event Kind + 1 (Param 0); kind 7 (size) also calls Resized.
  virtual void Changed(std::uint8_t kind);
  // Event 23 with the proposed rectangle; the rectangle handlers leave is the result.
  virtual void AdjustBounds(TRect& rect);
  // The action a close takes (preset 1); the base leaves it.
  virtual void CloseQuery(std::int32_t& action);
  virtual void Resized();
  // Event 20; a handler may change the character, which is written back.
  virtual void DoKey(TKeyKind kind, std::uint16_t key, WideChar& ch, TShiftState shift);
  virtual void DoMouse(TMouseKind kind, TPoint pos, int button, TShiftState shift);
  virtual void DoMouseWheel(TShiftState shift, TPoint pos, int notches);
  // Event 24.
  virtual void DoMouseLeave();

  // Setters: the controller first; when it cannot act (no window yet) the
  // form applies the change to itself. Out-of-range values (border style
  // above 6, window state above 2) are ignored and answer false.
  void SetBounds(const TRect& bounds);
  void SetCaption(const WideString& caption);
  void SetCursor(std::int32_t cursor);
  void SetVisible(bool visible);
  void SetShowInTaskbar(bool on);
  void SetStayOnTop(bool on);
  bool SetWindowState(std::uint8_t state);
  bool SetBorderStyle(std::uint8_t style);
  void SetBorderIcons(std::uint8_t icons);  // bits above 3 are dropped

  // Applies records from the last to the first; Changed(kind) after each
  // that changed a value. A kind of 3 or above 12 asserts (nothing after it
  // is applied).
  void ApplyChanges(const TFormChange* records, int count);

  void Close();
  TPoint ClientToScreen(TPoint p);
  TPoint ScreenToClient(TPoint p);
  TRect GetClientRect();
  // Width and height of borders and caption together.
  TSize GetNonClientSize();
  bool HasMouseCapture();
  bool SetMouseCapture();
  // Releases the capture when the form's window holds it.
  void ReleaseMouseCapture();

  const TRect& Bounds() const { return bounds_; }
  const WideString& Caption() const { return caption_; }
  std::int32_t Cursor() const { return cursor_; }
  bool Visible() const { return visible_; }
  bool ShowInTaskbar() const { return showInTaskbar_; }
  bool StayOnTop() const { return stayOnTop_; }
  std::uint8_t WindowState() const { return windowState_; }
  std::uint8_t BorderStyle() const { return borderStyle_; }
  std::uint8_t BorderIcons() const { return borderIcons_; }
  bool Active() const { return active_; }

  TEventList* Events() const { return events_; }
  TFormController* Controller() const { return controller_; }
  bool Disposing() const { return disposing_; }

  // Runs when the window is being activated (a form device installs one).
  using TActivateCallback = std::function<void(TZmForm* form)>;
  void SetOnActivate(TActivateCallback callback) { onActivate_ = std::move(callback); }
  const TActivateCallback& OnActivate() const { return onActivate_; }

  // A draw device covers the client area (a form device sets it while it
  // lives): the window then never paints the form's face over what the
  // device drew, only the device repaints.
  void SetDrawnByDevice(bool on) { drawnByDevice_ = on; }
  bool DrawnByDevice() const { return drawnByDevice_; }

private:
  friend class TFormGuard;
  // Applies one record; true when a value changed.
  bool ApplyOne(const TFormChange& c);
  void ApplySelf(const TFormChange& c) { ApplyChanges(&c, 1); }

  TFormController* controller_ = nullptr;
  TEventList* events_ = nullptr;
  TRect bounds_;
  WideString caption_;
  std::int32_t cursor_ = 0;
  bool visible_ = false;
  bool showInTaskbar_ = false;
  bool stayOnTop_ = false;
  std::uint8_t windowState_ = wsNormal;
  std::uint8_t borderStyle_ = 1;
  bool active_ = false;
  TZmKeyData* keyData_ = nullptr;
  TZmMouseData* mouseData_ = nullptr;
  TZmWheelData* wheelData_ = nullptr;
  TZmAdjustBoundsData* adjustData_ = nullptr;
  std::uint8_t borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  bool disposing_ = false;
  bool drawnByDevice_ = false;
  TActivateCallback onActivate_;
};

// Holds a reference of a form (or controller) while an operation runs, so
// that the object may be freed from inside; nothing while it is disposing.
class TFormGuard {
public:
  explicit TFormGuard(TRefObject* obj, bool disposing) : obj_(disposing ? nullptr : obj) {
    if (obj_) obj_->AddRef();
  }
  ~TFormGuard();
  TFormGuard(const TFormGuard&) = delete;
  TFormGuard& operator=(const TFormGuard&) = delete;

private:
  TRefObject* obj_;
};

// ============================================================================
// TFormController
// ============================================================================

// The window side of a form. The base has no window: every setter answers
// false, so the form applies its changes itself. A controller reports what
// its window did through Report (the form's ApplyChanges).
class TFormController : public TRefObject {
public:
  explicit TFormController(TZmForm* form);
  // The form; nil once the form has gone.
  TZmForm* Form() const { return form_; }
  // The form is going: the controller no longer reports to it.
  virtual void DetachForm() { form_ = nullptr; }

  // The bounds a new form gets.
  virtual TRect DefaultBounds();
  virtual bool HasMouseCapture() { return false; }
  virtual bool SetMouseCapture() { return false; }
  virtual void ReleaseMouseCapture() {}
  // False when there is no window; the point stays as it was.
  virtual bool ClientToScreen(TPoint& p);
  virtual bool ScreenToClient(TPoint& p);

  virtual bool SetBounds(const TRect&) { return false; }
  virtual bool SetCaption(const WideString&) { return false; }
  virtual bool SetCursor(std::int32_t) { return false; }
  virtual bool SetVisible(bool) { return false; }
  virtual bool SetShowInTaskbar(bool) { return false; }
  virtual bool SetStayOnTop(bool) { return false; }
  virtual bool SetWindowState(std::uint8_t) { return false; }
  virtual bool SetBorderStyle(std::uint8_t) { return false; }
  virtual bool SetBorderIcons(std::uint8_t) { return false; }

  // CloseQuery with action 1 preset, then: 0 nothing, 1 hide, 2 FreeForm,
  // 3 minimise; any other value asserts.
  virtual void Close();
  // Without a window: (0, 0, width, height) of the form's bounds.
  virtual TRect GetClientRect();
  // Without a window: none.
  virtual TSize GetNonClientSize() { return {}; }
  // Nil rectangle: the whole client area.
  virtual void Invalidate(const TRect* rect);
  // The window handle (made when needed); nil in the base.
  virtual HWND Handle() { return nullptr; }
  // Whether the form's window is the one the user works with.
  virtual bool IsActive();

protected:
  // Close action 2; the base frees the form at once.
  virtual void FreeForm();
  // Reports one change to the form (nothing once the form has gone).
  void Report(const TFormChange& change);
  void Report(const TFormChange* changes, int count);

private:
  TZmForm* form_;
};

// ============================================================================
// TZmFormDevice
// ============================================================================

// The draw device of a form's window. It follows the form: a size or
// position change sets its bounds to the client area (with the client
// origin on the screen), a cursor change shows at once, and the refresh callback runs
// when its bounds change or the window is activated. Its objects list holds
// dependants, freed with the device.
class TZmFormDevice : public TDrawDevice {
public:
  // The form's window is made when it does not exist. Nil form: assertion.
  explicit TZmFormDevice(TZmForm* form);
  void Dispose() override;
  bool IsActive() override;

  // Nil once the form has gone.
  TZmForm* Form() const { return form_; }

  using TRefreshCallback = std::function<void(TZmFormDevice* device)>;
  void SetOnRefresh(TRefreshCallback callback);
  // Runs the refresh callback when one is set.
  void Refresh();
  // The device's repaint event is its refresh.
  void Repaint() override { Refresh(); }
  // Sets the bounds from the form: its client area and client origin.
  void UpdateFromForm();

private:
  static void FormEvent(void* data, TRefObject* sender, std::int32_t eventId, std::intptr_t param);
  void Unlink();

  TZmForm* form_;
  std::mutex refreshLock_;
  TRefreshCallback onRefresh_;
};

}  // namespace zm
