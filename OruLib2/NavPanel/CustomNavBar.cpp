#include "OruLib2/NavPanel/CustomNavBar.h"

namespace oru {

TCreateNavBarProc CreateNavBarHook = nullptr;

void TCustomNavBar::SetButtons(std::span<const std::int32_t> codes) { buttons_.assign(codes.begin(), codes.end()); }

const std::vector<zm::WideString>& TCustomNavBar::AvailableActions() const {
  static const std::vector<zm::WideString> none;
  return none;
}

void TCustomNavBar::Dispose() {
  // Callbacks may hold references back to the owner.
  OnChange = nullptr;
  OnExitChange = nullptr;
  OnClick = nullptr;
  OnIsPlaying = nullptr;
  OnLoadBitmap = nullptr;
  OnGetDuration = nullptr;
  OnSeek = nullptr;
  OnSetVolume = nullptr;
  OnIsUpperHalf = nullptr;
  bitmap_ = nullptr;
  exitBitmap_ = nullptr;
  TRefObject::Dispose();
}

zm::TRef<TCustomNavBar> CreateNavBar(const zm::WideString& kind) {
  return CreateNavBarHook ? CreateNavBarHook(kind) : nullptr;
}

}  // namespace oru
