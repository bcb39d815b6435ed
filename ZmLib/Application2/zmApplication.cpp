#include "ZmLib/Application2/zmApplication.h"

namespace zm {

TApplication* Application = nullptr;

TApplication::TApplication() {
  ZM_ASSERT(Application == nullptr, "TApplication: an application exists already");
  Application = this;
}

void TApplication::Dispose() {
  if (Application == this) Application = nullptr;
  TPostEventListEx::Dispose();
}

}  // namespace zm
