#pragma once
// A frame form on a real top-level window: the message filter in front of
// the window procedure, the paint cycle (the root frame's surface copied
// through the update region), mouse and keyboard routing into the control
// tree, per-window alpha and per-pixel-alpha windows, colour-key dragging,
// the refresh timer of animated controls, and the frame draw device through
// which a 3D back end draws into a rectangle of the window. UI thread only.
#include <cstdint>

#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Composite/winFrames.h"
#include "ZmLib/Composite/zmFrameForms.h"

namespace zm {

class TWinForm;
class TWinFrameForm;
class TWinRootControl;

// The five style values of a new frame form.
class TWinFormStyle : public TRefObject {
public:
  TWinFormStyle(std::uint8_t border, bool taskbar, bool onTop, bool noActivate, bool mouseTransparent)
      : BorderStyle(border), ShowInTaskbar(taskbar), StayOnTop(onTop), NoActivate(noActivate),
        MouseTransparent(mouseTransparent) {}
  std::uint8_t BorderStyle;
  bool ShowInTaskbar, StayOnTop, NoActivate, MouseTransparent;
};
// Made at start-up (nil before and after).
extern TWinFormStyle* NormalFormStyle;
extern TWinFormStyle* PopupFormStyle;
extern TWinFormStyle* OverlayFormStyle;

class TWinKeyboardData : public TKeyboardData {
public:
  // Reads the keyboard state once per key event.
  bool KeyPressed(std::int32_t vk) override;
  bool SnapshotValid = false;
  std::uint8_t Snapshot[256] = {};
};

class TWinRefreshNotifier : public TTimeRefreshNotifier {
public:
  TWinRefreshNotifier(TWinRootControl* root);
  // Fires with the form's nesting raised, so what listeners invalidate is
  // painted through the wake-up message.
  void Tick() override;

private:
  TWinRootControl* winRoot_;
};

class TWinRootControl : public TWinHandleRootControl {
public:
  // Form nil: assertion. Takes over the caller's reference of the frame.
  TWinRootControl(TWinForm* form, TRootFrame* frame);
  void Dispose() override;
  TRefreshNotifier* CreateRefreshNotifier() override;
  TPoint ClientToScreen(const TPoint& p) override;
  void AfterResize() override;
  void SystemSettingsChanged() override;
  void InputNotify(TKeyboardData* key) override;
  void Paint(TDrawSurface* surface) override;
  plat::HWND WindowHandle() override;
  void ResendMouse() override;

  TWinForm* Form() const { return form_; }
  TWinKeyboardData* Keyboard() const { return keyboard_.get(); }
  bool CuesShown() const { return cuesShown_; }
  void ClearForm() { form_ = nullptr; }

private:
  TWinForm* form_;
  TRef<TWinKeyboardData> keyboard_;
  bool cuesShown_ = false;
};

class TWinForm : public TZmForm {
public:
  TWinForm();
  void Dispose() override;
  // The frame form's close action while it exists and the form is not freed, else 2.
  void CloseQuery(std::int32_t& action) override;

  TRootFrame* RootFrame() const { return rootFrame_.get(); }
  TWinRootControl* RootControl() const { return rootControl_; }
  TWinFormController* WinController() const { return controller_; }
  plat::HWND WindowHandle() const { return controller_ ? controller_->WindowHandle() : nullptr; }
  bool Sized() const { return sized_; }
  bool Busy() const { return busy_; }
  std::int32_t Nesting() const { return nesting_; }
  std::int32_t InputCount() const { return inputCount_; }
  bool LeaveTimerRunning() const { return leaveTimer_ != nullptr; }
  // The rectangles the last WM_PAINT copied (client coordinates).
  const std::vector<TRect>& LastPaintRegion() const { return lastPaint_; }
  void ResendMouse();
  // The refresh tick runs with this raised.
  void EnterNesting() { ++nesting_; }
  void LeaveNesting() { --nesting_; }

  bool NoActivate = false;
  bool MouseTransparent = false;
  // Set by the owner: the background is magenta and the window is painted
  // through the 32-bit layered copy; magenta pixels drag the window.
  bool ColorKeyTransparent = false;

private:
  friend class TWinFrameForm;
  static void FilterProc(void* data, plat::HWND window, TMessage& m, bool& handled);
  static void AfterProc(void* data, plat::HWND window, TMessage& m);
  static void LeaveTick(void* data, TMultiTimerEvent* event);
  void Filter(plat::HWND h, TMessage& m, bool& handled);
  void After(plat::HWND h, TMessage& m);
  void Paint(plat::HWND h, TMessage& m);
  plat::LRESULT MouseMessage(plat::HWND h, plat::UINT msg, plat::WPARAM w, plat::LPARAM l);
  void KeyMessage(plat::HWND h, TMessage& m, bool& handled);
  void Invalidated(TWinSurface* surface);
  TPoint ClientOrigin();

  TWinFrameForm* owner_ = nullptr;
  TRef<TRootFrame> rootFrame_;
  TWinRootControl* rootControl_ = nullptr;
  TWinFormController* controller_ = nullptr;
  bool sized_ = false;
  bool busy_ = false;
  bool freed_ = false;
  std::int32_t nesting_ = 0;
  TMultiTimerEvent* leaveTimer_ = nullptr;
  plat::UINT lastMsg_ = 0;
  plat::WPARAM lastW_ = 0;
  plat::LPARAM lastL_ = 0;
  plat::LRESULT lastResult_ = 0;
  std::int32_t inputCount_ = 0;
  TInputTranslator keys_;
  std::vector<TRect> lastPaint_;
};

class TWinFrameForm : public TFrameForm {
public:
  // Takes over the caller's reference of Form (nil: assertion).
  explicit TWinFrameForm(TWinForm* form);
  void Dispose() override;
  bool IsVisible() override;
  void SetVisible(bool visible) override;
  std::uint8_t GetWindowState() override;
  void SetWindowState(std::uint8_t state) override;
  TRect GetBounds() override;
  void SetBounds(const TRect& bounds) override;
  bool PaintTo(TBitmap* bitmap, std::int32_t x, std::int32_t y) override;
  TRootControl* RootControl() override;
  TWinForm* WinForm() const { return winForm_; }

protected:
  void FreeFrameForm() override;

private:
  friend class TWinForm;
  TWinForm* winForm_;
};

// A 3D back end's window surface inside a frame form.
class TWinDevice : public TDrawDevice {
public:
  using TDrawDevice::TDrawDevice;
  // The foreground window is the device's window.
  bool IsActive() override;
  // The repaint event (the host panel's WM_PAINT and renderer creation call it).
  std::function<void(TWinDevice* device)> OnRepaint;
  void Repaint() override {
    if (OnRepaint) OnRepaint(this);
  }
};

class TFrameDrawDevice : public TFrameControl {
public:
  using TFrameControl::TFrameControl;
  // A left press that no child took focuses the control.
  void MouseEvent(TMouseData& mouse) override;
  // Runs the callback, never re-entrantly.
  void FireBoundsChanged();
  std::function<void(TFrameDrawDevice* sender)> OnBoundsChanged;
  std::uint8_t Flag = 0;  // passed to the device's SetBounds

private:
  std::int32_t entered_ = 0;
};

class TWinFrameDrawDevice : public TFrameDrawDevice {
public:
  TWinFrameDrawDevice(TFrameControl* parent, const WideString& name);
  void Dispose() override;
  void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) override;
  void AfterResize() override;
  void AfterMove() override;
  void VisibilityChanged() override;
  void SetFlag(std::uint8_t flag);
  // Made on first request; nil without a window root.
  TWinDevice* GetDevice();
  void UpdateBounds();
  const WideString& Name() const { return name_; }

private:
  WideString name_;
  TRef<TWinDevice> device_;
};

// Per-pixel alpha: the bitmap premultiplied into a 32-bit DIB and shown
// through UpdateLayeredWindow; false on any failure.
bool UpdateLayeredForm(TWinFrameForm* form, TBitmap* bitmap, bool transparent);
bool SetWinFormAlpha(TWinFrameForm* form, std::uint8_t alpha);

void InitWinFrameForms();
void FiniWinFrameForms();

}  // namespace zm
