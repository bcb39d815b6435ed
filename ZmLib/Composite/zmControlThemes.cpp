#include "ZmLib/Composite/zmControlThemes.h"

namespace zm {

TFrameControlTheme::TFrameControlTheme(TControlStyles* styles)
    : styles_(styles ? styles : DefaultControlStyles()) {
  styles_->AddTheme(this);
}

TCreateFocusHelperProc CreateFocusHelperHook = nullptr;

TFocusHelper* CreatePlainFocusHelper(TFrameControl* control) {
  TRootControl* root = control ? control->Root() : nullptr;
  if (!root || root->TornDown()) return nullptr;
  TEventsWithTags* list = root->Listeners();
  if (auto* h = list->FindAttached<TFocusHelper>()) return h;
  TRef<TFocusHelper> h = MakeRef<TFocusHelper>(root, 16);
  list->Attach(h.get());
  return h.get();
}

TFocusHelper* GetFocusHelper(TFrameControl* control) {
  return CreateFocusHelperHook ? CreateFocusHelperHook(control) : nullptr;
}

void InitControlThemes() { CreateFocusHelperHook = &CreatePlainFocusHelper; }
void FiniControlThemes() { CreateFocusHelperHook = nullptr; }

}  // namespace zm
