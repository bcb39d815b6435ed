#pragma once
// The window-system side of forms: the controller that creates and drives a
// top-level window for a TZmForm, the hidden utility window and the child
// window wrapper. UI thread only.
#include <cstdint>

#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Win32/winHooks.h"
#include "ZmLib/Win32/winInput.h"

namespace zm {

// The window layer's names, also reachable as zm:: (no ambiguity with plat::).
using plat::HTBOTTOMRIGHT;
using plat::HTLEFT;
using plat::WM_GETFONT;
using plat::WM_MENUCHAR;
using plat::WM_SETFONT;
using plat::WM_SIZING;
using plat::WS_EX_CONTEXTHELP;
using plat::WS_EX_CONTROLPARENT;
using plat::WS_EX_WINDOWEDGE;
constexpr plat::LRESULT MNC_CLOSE_RESULT = 0x10000;  // MNC_CLOSE in the high word

// The mouse position in screen coordinates; (0, 0) when it cannot be read.
TPoint GetCursorPoint();
// The cursor of a form cursor number (0 and -23..-1; any other number is 0).
// -1 is no cursor (nil). Own cursors missing from the program fall back to
// the arrow.
plat::HCURSOR FormCursorHandle(std::int32_t number);
// The window styles of a form with these values: style and extended style.
void FormWindowStyles(std::uint8_t borderStyle, std::uint8_t borderIcons, bool stayOnTop, bool visible,
                      std::uint8_t windowState, plat::DWORD& style, plat::DWORD& exStyle);
// The style bits that the form decides (the others belong to the window).
constexpr plat::DWORD kFormStyleMask = plat::WS_POPUP | plat::WS_CLIPSIBLINGS | plat::WS_CLIPCHILDREN |
                                       plat::WS_CAPTION | plat::WS_THICKFRAME | plat::WS_BORDER |
                                       plat::WS_SYSMENU | plat::WS_MINIMIZEBOX | plat::WS_MAXIMIZEBOX;
constexpr plat::DWORD kFormExStyleMask =
    WS_EX_WINDOWEDGE | plat::WS_EX_TOOLWINDOW | WS_EX_CONTEXTHELP | WS_EX_CONTROLPARENT;

// The framework setting read at start-up: 2 hides focus rectangles and
// accelerator underlines of a new form window until the keyboard is used.
extern int KeyboardCuesSetting;
// Message ids taken at start-up: the forms' private free message and the
// registered "TaskbarButtonCreated".
plat::UINT FormFreeMessage();
plat::UINT TaskbarButtonCreatedMessage();

// ============================================================================
// Form controllers on windows
// ============================================================================

class TCustomWinFormController : public TFormController {
public:
  using TFormController::TFormController;
  virtual bool HandleAllocated() const = 0;
  // Makes the window when there is none.
  virtual void CreateHandle() = 0;
  // Destroys the window (when it exists) and makes it again.
  virtual void RecreateHandle() = 0;
};

// Drives a Win32 window for its form. The window procedure runs the hook
// manager's hooks whose owner is this controller first (a handled message
// stops there), translates input into the form's DoKey/DoMouse/DoMouseWheel,
// handles its messages, passes the rest to DefWindowProcW, turns
// WM_ACTIVATE, WM_SHOWWINDOW and WM_SETTEXT into change records, and last
// runs the hook manager's listeners of this controller for every message.
class TWinFormController : public TCustomWinFormController {
public:
  explicit TWinFormController(TZmForm* form);
  // Destroys the window and frees the stub.
  void Dispose() override;

  TRect DefaultBounds() override;
  bool HasMouseCapture() override;
  bool SetMouseCapture() override;
  // Asserts when there is no window.
  void ReleaseMouseCapture() override;
  bool ClientToScreen(TPoint& p) override;
  bool ScreenToClient(TPoint& p) override;
  bool SetBounds(const TRect& bounds) override;
  bool SetCaption(const WideString& caption) override;
  bool SetCursor(std::int32_t cursor) override;
  bool SetVisible(bool visible) override;
  bool SetShowInTaskbar(bool on) override;
  bool SetStayOnTop(bool on) override;
  bool SetWindowState(std::uint8_t state) override;
  bool SetBorderStyle(std::uint8_t style) override;
  bool SetBorderIcons(std::uint8_t icons) override;
  // These make the window when it does not exist.
  TRect GetClientRect() override;
  TSize GetNonClientSize() override;
  void Invalidate(const TRect* rect) override;
  HWND Handle() override;
  // The window is the foreground window.
  bool IsActive() override;

  bool HandleAllocated() const override { return handle_ != nullptr; }
  void CreateHandle() override;
  void RecreateHandle() override;
  // The window handle without making it.
  HWND WindowHandle() const { return handle_; }

  // The taskbar button's progress (flag and value) as last set; stored only.
  void SetTaskbarProgress(std::uint32_t flag, std::uint64_t value) {
    taskbarFlag_ = flag;
    taskbarValue_ = value;
  }
  std::uint32_t TaskbarProgressFlag() const { return taskbarFlag_; }
  std::uint64_t TaskbarProgressValue() const { return taskbarValue_; }

protected:
  // Close action 2: posts the free message when the window exists.
  void FreeForm() override;
  // The window procedure (through the stub).
  virtual LRESULT WndProc(HWND h, UINT msg, WPARAM w, LPARAM l);

private:
  class TReceiver;
  static LRESULT InitProc(HWND h, UINT msg, WPARAM w, LPARAM l);
  static LRESULT StubEntry(void* self, HWND h, UINT msg, WPARAM w, LPARAM l);
  // The controller's own handling; Handled set when DefWindowProcW is not to run.
  void HandleMessage(HWND h, TMessage& m, bool& handled);
  // Applies the form's style bits to the window.
  void ApplyStyles();
  // Reports a border change and applies the styles; false without a window.
  bool ChangeStyles(const TFormChange& c);
  void ReportPlacement();
  void ShowForState(std::uint8_t state);
  void PostFree();

  HWND handle_ = nullptr;
  plat::WNDPROC stub_ = nullptr;
  bool disposing_ = false;
  bool changingStyles_ = false;
  bool recreating_ = false;
  bool freePosted_ = false;
  TInputTranslator translator_;
  std::uint32_t taskbarFlag_ = 0;
  std::uint64_t taskbarValue_ = 0;
};

// The factory of the window-system controller (the hook's value).
TFormController* CreateWinFormController(TZmForm* form);

// ============================================================================
// TDumbWindow
// ============================================================================

// A hidden utility window (class "TDumbWindow", WS_POPUP, WS_EX_TOOLWINDOW,
// no owner) with its own window procedure, made on first need.
class TDumbWindow : public TRefObject {
public:
  void Dispose() override;
  // Makes the window when needed and moves and sizes it, keeping it hidden
  // and inactive. Negative sizes count as 0.
  void SetBounds(const TRect& bounds);
  // The window, made when needed.
  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }

protected:
  // The base passes the message to DefWindowProcW.
  virtual LRESULT WndProc(HWND h, UINT msg, WPARAM w, LPARAM l);
  void CreateHandle();

private:
  static LRESULT InitProc(HWND h, UINT msg, WPARAM w, LPARAM l);
  static LRESULT StubEntry(void* self, HWND h, UINT msg, WPARAM w, LPARAM l);
  HWND handle_ = nullptr;
  plat::WNDPROC stub_ = nullptr;
  bool disposing_ = false;
};

// ============================================================================
// TWinControl
// ============================================================================

// A child window of a registered class, subclassed through a stub: it keeps
// WM_SETFONT and WM_GETFONT itself and passes every other message to the
// class's procedure; the stub goes at WM_NCDESTROY.
class TWinControl : public TRefObject {
public:
  void Dispose() override;
  // Makes the child window of Parent (nothing when it exists already);
  // false when the parent is not a window or creation failed.
  bool CreateHandle(HWND parent, const TRect& bounds);
  HWND Handle() const { return handle_; }
  bool SetBounds(const TRect& bounds);
  bool SetText(const WideString& text);
  bool SetVisible(bool visible);
  // Client rectangle; empty without a window.
  TRect GetClientRect();
  // The restored rectangle from the window placement (parent coordinates).
  TRect GetRestoredRect();

protected:
  // The class the window is made of: the base registers "TWinControl"
  // (DefWindowProcW, arrow cursor) when it is not registered yet.
  virtual WideString WindowClassName();
  virtual void RegisterWindowClass();
  virtual plat::DWORD WindowStyle() { return plat::WS_CHILD | plat::WS_CLIPSIBLINGS; }
  // The base keeps the font and passes the rest to the previous procedure.
  virtual LRESULT WndProc(UINT msg, WPARAM w, LPARAM l);
  LRESULT CallPrevious(UINT msg, WPARAM w, LPARAM l);

private:
  static LRESULT StubEntry(void* self, HWND h, UINT msg, WPARAM w, LPARAM l);
  HWND handle_ = nullptr;
  plat::WNDPROC stub_ = nullptr;
  plat::WNDPROC previous_ = nullptr;
  WPARAM font_ = 0;
};

void InitWinForms();
void FiniWinForms();

}  // namespace zm
