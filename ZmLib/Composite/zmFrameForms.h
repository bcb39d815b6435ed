#pragma once
// The frame form: a form whose content is a tree of frame controls. The
// platform-free part decides what happens to the form when the message loop
// ends and holds the start-up hooks through which higher units make frame
// forms, layered images, form alpha, taskbar progress and frame draw
// devices. UI thread only.
#include <cstdint>

#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Composite/zmFrameControls.h"

namespace zm {

class TFrameForm : public TRefObject {
public:
  // Takes over the caller's reference of Form (nil: assertion) and listens
  // for the application's event 0 (the message loop has ended).
  explicit TFrameForm(TZmForm* form);
  // Stops listening and frees the form.
  void Dispose() override;

  // The application's events: 0 closes the form with the action it chooses.
  virtual void HandleEvent(TRefObject* sender, std::int32_t eventId, std::intptr_t param);
  virtual bool IsVisible() { return form_ && form_->Visible(); }
  virtual void SetVisible(bool visible);
  virtual WideString GetCaption() { return form_ ? form_->Caption() : WideString(); }
  virtual void SetCaption(const WideString& caption);
  // 0 normal, 1 minimised, 2 maximised.
  virtual std::uint8_t GetWindowState() { return form_ ? form_->WindowState() : 0; }
  virtual void SetWindowState(std::uint8_t state);
  virtual TRect GetBounds() { return form_ ? form_->Bounds() : TRect{}; }
  virtual void SetBounds(const TRect& bounds);
  virtual void Close();
  // Copies the form's picture into Bitmap at (X, Y); false without one.
  virtual bool PaintTo(TBitmap* bitmap, std::int32_t x, std::int32_t y);
  // The top of the form's control tree (nil in the base).
  virtual TRootControl* RootControl() { return nullptr; }

  // What a close does (0 nothing, 1 hide, 2 free, 3 minimise).
  virtual std::int32_t CloseAction() { return DefaultCloseAction; }
  std::int32_t DefaultCloseAction = caHide;
  TZmForm* Form() const { return form_; }

protected:
  virtual void Hide() { SetVisible(false); }
  virtual void Minimize() { SetWindowState(wsMinimized); }
  virtual bool MayClose() { return true; }
  // Close action 2: the base frees the frame form.
  virtual void FreeFrameForm();
  // Applies a close action; another value asserts.
  void DoCloseAction(std::int32_t action);
  TZmForm* form_;

private:
  static void AppEvent(void* data, TRefObject* sender, std::int32_t eventId, std::intptr_t param);
  bool listening_ = false;
};

// ---- start-up hooks (each answers nil / false / 0 until a unit fills it) ----
// A frame form for a style object (nil: the default style).
using TCreateFrameFormProc = TFrameForm* (*)(TRefObject* style);
extern TCreateFrameFormProc CreateFrameFormHook;
// Shows the image as the form's per-pixel-alpha picture.
using TUpdateLayeredFormProc = bool (*)(TFrameForm* form, TImage* image);
extern TUpdateLayeredFormProc UpdateLayeredFormHook;
// Alpha 0..255 of the whole form.
using TSetFormAlphaProc = bool (*)(TFrameForm* form, std::uint8_t alpha);
extern TSetFormAlphaProc SetFormAlphaHook;
// State 0 asks (answered in State), 1..5 set the taskbar progress.
using TTaskbarProgressProc = std::int32_t (*)(TFrameForm* form, std::int32_t& state, std::uint64_t& value);
extern TTaskbarProgressProc TaskbarProgressHook;
// A frame control that hosts a draw device under Parent.
using TAllocFrameDrawDeviceProc = TFrameControl* (*)(TFrameControl* parent, const WideString& name);
extern TAllocFrameDrawDeviceProc AllocFrameDrawDevice;

}  // namespace zm
