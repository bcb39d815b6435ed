#pragma once
// The hook manager: objects attach handlers to window messages without a
// window procedure of their own (per owner, for all messages or chosen ids),
// listeners see a message after it was handled, private message ids are
// handed out, and one low-level keyboard hook serves the whole process.
// UI thread only, except NextHookId.
#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "Platform/User/PlatUserTypes.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStringList.h"

namespace zm {

// A window message as hooks see it (pointer-sized fields).
struct TMessage {
  plat::UINT Msg = 0;
  plat::WPARAM WParam = 0;
  plat::LPARAM LParam = 0;
  plat::LRESULT Result = 0;
};

using TMsgHookProc = void (*)(void* data, plat::HWND window, TMessage& message, bool& handled);
using TMsgListenerProc = void (*)(void* data, plat::HWND window, TMessage& message);
using TKeyboardHookProc = void (*)(void* data, plat::WPARAM wParam, plat::LPARAM lParam, bool& handled);

class TMsgHook : public TRefObject {
public:
  TMsgHook* Next = nullptr;
  const void* Owner = nullptr;
  plat::UINT MsgId = 0;  // per-message hooks only
  void* Code = nullptr;
  void* Data = nullptr;
  bool Removed = false;
};

class TLLKbdHook : public TRefObject {
public:
  TLLKbdHook* Next = nullptr;
  TKeyboardHookProc Code = nullptr;
  void* Data = nullptr;
  bool Removed = false;
};

class THookManager : public TRefObject {
public:
  virtual std::int32_t NextHookId() = 0;
  virtual std::int32_t RegisterMessage(const WideString& name) = 0;
  virtual void AddMsgHook(const void* owner, TMsgHookProc code, void* data) = 0;
  virtual void RemoveMsgHook(const void* owner, TMsgHookProc code, void* data) = 0;
  virtual void AddMsgHooks(const void* owner, std::span<const plat::UINT> ids, TMsgHookProc code, void* data) = 0;
  virtual void RemoveMsgHooks(const void* owner, std::span<const plat::UINT> ids, TMsgHookProc code, void* data) = 0;
  virtual void CallMsgHooks(const void* owner, plat::HWND window, bool& handled, TMessage& message) = 0;
  virtual void AddMsgListener(const void* owner, TMsgListenerProc code, void* data) = 0;
  virtual void RemoveMsgListener(const void* owner, TMsgListenerProc code, void* data) = 0;
  virtual void CallMsgListeners(const void* owner, plat::HWND window, TMessage& message) = 0;
  virtual void AddKeyboardHook(TKeyboardHookProc code, void* data) = 0;
  virtual void RemoveKeyboardHook(TKeyboardHookProc code, void* data) = 0;
};

class TPrivateHookManager : public THookManager {
public:
  void Dispose() override;
  std::int32_t NextHookId() override;
  std::int32_t RegisterMessage(const WideString& name) override;
  void AddMsgHook(const void* owner, TMsgHookProc code, void* data) override;
  void RemoveMsgHook(const void* owner, TMsgHookProc code, void* data) override;
  void AddMsgHooks(const void* owner, std::span<const plat::UINT> ids, TMsgHookProc code, void* data) override;
  void RemoveMsgHooks(const void* owner, std::span<const plat::UINT> ids, TMsgHookProc code, void* data) override;
  void CallMsgHooks(const void* owner, plat::HWND window, bool& handled, TMessage& message) override;
  void AddMsgListener(const void* owner, TMsgListenerProc code, void* data) override;
  void RemoveMsgListener(const void* owner, TMsgListenerProc code, void* data) override;
  void CallMsgListeners(const void* owner, plat::HWND window, TMessage& message) override;
  void AddKeyboardHook(TKeyboardHookProc code, void* data) override;
  void RemoveKeyboardHook(TKeyboardHookProc code, void* data) override;

  // The installed system hook (nullptr while none is).
  plat::HHOOK KeyboardHookHandle() const { return kbdHandle_; }

private:
  static plat::LRESULT KeyboardProc(void* self, int code, plat::WPARAM wParam, plat::LPARAM lParam);
  static void Unlink(TMsgHook*& head, TMsgHook* h);

  std::atomic<std::int32_t> counter_{5120};
  TStringList* names_ = nullptr;  // names with their ids as objects, made on first use
  TMsgHook* buckets_[256] = {};
  TMsgHook* ownerHooks_ = nullptr;
  TMsgHook* listeners_ = nullptr;
  plat::HHOOK kbdHandle_ = nullptr;
  plat::HOOKPROC kbdThunk_ = nullptr;
  TLLKbdHook* kbdHooks_ = nullptr;
};

// The one hook manager, from the unit's initialisation to its finalisation.
extern THookManager* HookManager;

void InitWinHooks();
void FiniWinHooks();

}  // namespace zm
