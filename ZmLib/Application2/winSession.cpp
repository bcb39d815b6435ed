#include "ZmLib/Application2/winSession.h"

#include <atomic>
#include <mutex>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Application2/winApplication.h"

namespace zm {

using namespace plat;

namespace {

using TRegister = BOOL (*)(HWND, DWORD);
using TUnregister = BOOL (*)(HWND);

class TSessionManager : public TRefObject {
public:
  TSessionManager() {
    reg_ = reinterpret_cast<TRegister>(GetUserProcAddress("WTSRegisterSessionNotification"));
    unreg_ = reinterpret_cast<TUnregister>(GetUserProcAddress("WTSUnRegisterSessionNotification"));
    if (!reg_ || !unreg_) return;  // the library is missing: never locked
    ZM_ASSERT(WinApplication != nullptr && WinApplication->GetHandle() != nullptr,
              "WinApllication not Initializaed");
    app_ = WinApplication;
    window_ = app_->GetHandle();
    registered_ = reg_(window_, NOTIFY_FOR_THIS_SESSION) != 0;
    const UINT ids[] = {WM_WTSSESSION_CHANGE};
    HookManager->AddMsgHooks(app_, ids, &Hook, this);
    hooked_ = true;
  }
  void Dispose() override {
    if (registered_ && unreg_) unreg_(window_);
    if (hooked_ && HookManager) {
      const UINT ids[] = {WM_WTSSESSION_CHANGE};
      HookManager->RemoveMsgHooks(app_, ids, &Hook, this);
    }
    registered_ = hooked_ = false;
    TRefObject::Dispose();
  }
  bool Locked() const { return locked_.load(); }

private:
  static void Hook(void* data, HWND, TMessage& m, bool&) {
    auto* self = static_cast<TSessionManager*>(data);
    if (m.WParam == WTS_SESSION_LOCK) self->locked_ = true;
    if (m.WParam == WTS_SESSION_UNLOCK) self->locked_ = false;
  }
  TRegister reg_ = nullptr;
  TUnregister unreg_ = nullptr;
  TWinApplication* app_ = nullptr;
  HWND window_ = nullptr;
  bool registered_ = false, hooked_ = false;
  std::atomic<bool> locked_{false};
};

std::mutex gLock;
TSessionManager* gManager = nullptr;

}  // namespace

bool IsSessionLocked() {
  std::lock_guard<std::mutex> l(gLock);
  if (!gManager) {
    // An application that has ended receives no more notifications: what
    // is still torn down after it (a full-screen device) finds no lock.
    if (WinApplication && WinApplication->Finalized()) return false;
    auto* m = new TSessionManager();
    m->AfterConstruction();
    gManager = m;
  }
  return gManager->Locked();
}

void FreeSessionManager() {
  std::lock_guard<std::mutex> l(gLock);
  FreeAndNil(gManager);
}

void InitWinSession() {}
void FiniWinSession() { FreeSessionManager(); }

}  // namespace zm
