#include "ZmLib/Composite/zmFrameForms.h"

#include "ZmLib/Application2/zmApplication.h"

namespace zm {

TCreateFrameFormProc CreateFrameFormHook = [](TRefObject*) -> TFrameForm* { return nullptr; };
TUpdateLayeredFormProc UpdateLayeredFormHook = [](TFrameForm*, TImage*) { return false; };
TSetFormAlphaProc SetFormAlphaHook = [](TFrameForm*, std::uint8_t) { return false; };
TTaskbarProgressProc TaskbarProgressHook = [](TFrameForm*, std::int32_t&, std::uint64_t&) { return 0; };
TAllocFrameDrawDeviceProc AllocFrameDrawDevice = [](TFrameControl*, const WideString&) -> TFrameControl* {
  return nullptr;
};

TFrameForm::TFrameForm(TZmForm* form) : form_(form) {
  ZM_ASSERT(form != nullptr, "TFrameForm.Create: no form");
  if (Application) {
    Application->AddHandler(0, &AppEvent, this);
    listening_ = true;
  }
}

void TFrameForm::Dispose() {
  if (listening_ && Application) Application->RemoveHandler(0, &AppEvent, this);
  listening_ = false;
  if (TZmForm* f = form_) {
    form_ = nullptr;
    f->Free();
  }
  TRefObject::Dispose();
}

void TFrameForm::AppEvent(void* data, TRefObject* sender, std::int32_t eventId, std::intptr_t param) {
  static_cast<TFrameForm*>(data)->HandleEvent(sender, eventId, param);
}

void TFrameForm::HandleEvent(TRefObject*, std::int32_t eventId, std::intptr_t) {
  if (eventId != 0) return;
  TKeepAlive self(this);
  std::int32_t action = caHide;
  if (MayClose()) {
    action = caFree;
    if (form_) form_->CloseQuery(action);
  }
  DoCloseAction(action);
}

void TFrameForm::DoCloseAction(std::int32_t action) {
  switch (action) {
    case caNone: break;
    case caHide: Hide(); break;
    case caFree: FreeFrameForm(); break;
    case caMinimize:
      if (GetWindowState() != wsMinimized) Minimize();
      break;
    default: ZM_ASSERT(false, "TFrameForm: bad close action"); break;
  }
}

void TFrameForm::FreeFrameForm() { Free(); }

void TFrameForm::SetVisible(bool visible) {
  if (form_) form_->SetVisible(visible);
}

void TFrameForm::SetCaption(const WideString& caption) {
  if (form_) form_->SetCaption(caption);
}

void TFrameForm::SetWindowState(std::uint8_t state) {
  if (form_) form_->SetWindowState(state);
}

void TFrameForm::SetBounds(const TRect& bounds) {
  if (form_) form_->SetBounds(bounds);
}

void TFrameForm::Close() {
  TKeepAlive self(this);
  DoCloseAction(CloseAction());
}

bool TFrameForm::PaintTo(TBitmap*, std::int32_t, std::int32_t) { return false; }

}  // namespace zm
