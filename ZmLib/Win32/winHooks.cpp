#include "ZmLib/Win32/winHooks.h"

#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/winWndAPI.h"

namespace zm {

THookManager* HookManager = nullptr;

namespace {

template <class T>
T* NewHook() {
  auto* h = new T();
  h->AfterConstruction();
  return h;
}

void Push(TMsgHook*& head, TMsgHook* h) {
  h->Next = head;
  head = h;
}

void ReleaseChain(TMsgHook*& head) {
  while (head) {
    TMsgHook* n = head->Next;
    head->Removed = true;
    head->ReleaseRef();
    head = n;
  }
}

// The matching hooks, each held by a reference while the calls run, so a
// handler may remove itself or others; a removed hook is not called.
template <class T, class Match>
std::vector<T*> Snapshot(T* head, Match match) {
  std::vector<T*> r;
  for (T* h = head; h; h = h->Next)
    if (match(h)) {
      h->AddRef();
      r.push_back(h);
    }
  return r;
}

template <class T, class Call>
void CallAll(std::vector<T*>& list, Call call) {
  std::size_t i = 0;
  try {
    for (; i < list.size(); ++i) {
      if (!list[i]->Removed) call(list[i]);
      list[i]->ReleaseRef();
    }
  } catch (...) {
    for (; i < list.size(); ++i) list[i]->ReleaseRef();
    throw;
  }
}

}  // namespace

void TPrivateHookManager::Unlink(TMsgHook*& head, TMsgHook* h) {
  for (TMsgHook** p = &head; *p; p = &(*p)->Next)
    if (*p == h) {
      *p = h->Next;
      h->Next = nullptr;
      h->Removed = true;
      h->ReleaseRef();
      return;
    }
}

void TPrivateHookManager::Dispose() {
  for (auto& b : buckets_) ReleaseChain(b);
  ReleaseChain(ownerHooks_);
  ReleaseChain(listeners_);
  while (kbdHooks_) {
    TLLKbdHook* n = kbdHooks_->Next;
    kbdHooks_->Removed = true;
    kbdHooks_->ReleaseRef();
    kbdHooks_ = n;
  }
  if (kbdHandle_) plat::UnhookWindowsHookEx(kbdHandle_);
  kbdHandle_ = nullptr;
  if (kbdThunk_) FreeThunk(reinterpret_cast<const void*>(kbdThunk_));
  kbdThunk_ = nullptr;
  FreeAndNil(names_);
  THookManager::Dispose();
}

std::int32_t TPrivateHookManager::NextHookId() { return counter_.fetch_add(1) + 1; }

std::int32_t TPrivateHookManager::RegisterMessage(const WideString& name) {
  if (!names_) {
    names_ = new TStringList();
    names_->AfterConstruction();
  }
  std::int32_t i = names_->IndexOf(name);
  if (i >= 0) return std::int32_t(reinterpret_cast<std::intptr_t>(names_->GetObject(i)));
  std::int32_t id = NextHookId();
  names_->AddObject(name, reinterpret_cast<TRefObject*>(std::intptr_t(id)));
  return id;
}

void TPrivateHookManager::AddMsgHook(const void* owner, TMsgHookProc code, void* data) {
  auto* h = NewHook<TMsgHook>();
  h->Owner = owner;
  h->Code = reinterpret_cast<void*>(code);
  h->Data = data;
  Push(ownerHooks_, h);
}

void TPrivateHookManager::RemoveMsgHook(const void* owner, TMsgHookProc code, void* data) {
  for (TMsgHook* h = ownerHooks_; h; h = h->Next)
    if (h->Owner == owner && h->Code == reinterpret_cast<void*>(code) && h->Data == data) {
      Unlink(ownerHooks_, h);
      return;
    }
  ZM_FAIL("RemoveMsgHook: hook not found");
}

void TPrivateHookManager::AddMsgHooks(const void* owner, std::span<const plat::UINT> ids, TMsgHookProc code,
                                      void* data) {
  for (plat::UINT id : ids) {
    auto* h = NewHook<TMsgHook>();
    h->Owner = owner;
    h->MsgId = id;
    h->Code = reinterpret_cast<void*>(code);
    h->Data = data;
    Push(buckets_[id & 255], h);
  }
}

void TPrivateHookManager::RemoveMsgHooks(const void* owner, std::span<const plat::UINT> ids, TMsgHookProc code,
                                         void* data) {
  for (plat::UINT id : ids) {
    TMsgHook*& head = buckets_[id & 255];
    TMsgHook* found = nullptr;
    for (TMsgHook* h = head; h && !found; h = h->Next)
      if (h->Owner == owner && h->MsgId == id && h->Code == reinterpret_cast<void*>(code) && h->Data == data)
        found = h;
    ZM_ASSERT(found != nullptr, "UnHook error");
    Unlink(head, found);
  }
}

void TPrivateHookManager::CallMsgHooks(const void* owner, plat::HWND window, bool& handled, TMessage& message) {
  // Every matching hook is called, whether or not one of them handled it.
  auto all = Snapshot(ownerHooks_, [&](TMsgHook* h) { return h->Owner == owner; });
  auto byId = Snapshot(buckets_[message.Msg & 255],
                       [&](TMsgHook* h) { return h->Owner == owner && h->MsgId == message.Msg; });
  all.insert(all.end(), byId.begin(), byId.end());
  CallAll(all, [&](TMsgHook* h) {
    reinterpret_cast<TMsgHookProc>(h->Code)(h->Data, window, message, handled);
  });
}

void TPrivateHookManager::AddMsgListener(const void* owner, TMsgListenerProc code, void* data) {
  auto* h = NewHook<TMsgHook>();
  h->Owner = owner;
  h->Code = reinterpret_cast<void*>(code);
  h->Data = data;
  Push(listeners_, h);
}

void TPrivateHookManager::RemoveMsgListener(const void* owner, TMsgListenerProc code, void* data) {
  for (TMsgHook* h = listeners_; h; h = h->Next)
    if (h->Owner == owner && h->Code == reinterpret_cast<void*>(code) && h->Data == data) {
      Unlink(listeners_, h);
      return;
    }
  ZM_FAIL("RemoveMsgListener: listener not found");
}

void TPrivateHookManager::CallMsgListeners(const void* owner, plat::HWND window, TMessage& message) {
  auto all = Snapshot(listeners_, [&](TMsgHook* h) { return h->Owner == owner; });
  CallAll(all, [&](TMsgHook* h) { reinterpret_cast<TMsgListenerProc>(h->Code)(h->Data, window, message); });
}

plat::LRESULT TPrivateHookManager::KeyboardProc(void* self, int code, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto* m = static_cast<TPrivateHookManager*>(self);
  if (code >= 0) {
    bool handled = false;
    auto all = Snapshot(m->kbdHooks_, [](TLLKbdHook*) { return true; });
    CallAll(all, [&](TLLKbdHook* h) { h->Code(h->Data, wParam, lParam, handled); });
    if (handled) return 1;  // the key is swallowed
  }
  return plat::CallNextHookEx(m->kbdHandle_, code, wParam, lParam);
}

void TPrivateHookManager::AddKeyboardHook(TKeyboardHookProc code, void* data) {
  if (!kbdThunk_) kbdThunk_ = MakeHookThunk(this, &KeyboardProc);
  if (!kbdHandle_)
    kbdHandle_ = plat::SetWindowsHookExA(plat::WH_KEYBOARD_LL, kbdThunk_, plat::ModuleInstance(), 0);
  auto* h = NewHook<TLLKbdHook>();
  h->Code = code;
  h->Data = data;
  h->Next = kbdHooks_;
  kbdHooks_ = h;
}

void TPrivateHookManager::RemoveKeyboardHook(TKeyboardHookProc code, void* data) {
  TLLKbdHook** p = &kbdHooks_;
  while (*p && !((*p)->Code == code && (*p)->Data == data)) p = &(*p)->Next;
  ZM_ASSERT(*p != nullptr, "RemoveKeyboardHook: hook not found");
  TLLKbdHook* h = *p;
  *p = h->Next;
  h->Next = nullptr;
  h->Removed = true;
  h->ReleaseRef();
  if (!kbdHooks_) {
    if (kbdHandle_) plat::UnhookWindowsHookEx(kbdHandle_);
    kbdHandle_ = nullptr;
    // The stub may be running (a handler removing itself): it ends in a jump,
    // so freeing it now is safe.
    if (kbdThunk_) FreeThunk(reinterpret_cast<const void*>(kbdThunk_));
    kbdThunk_ = nullptr;
  }
}

void InitWinHooks() {
  auto* m = new TPrivateHookManager();
  m->AfterConstruction();
  HookManager = m;
}

void FiniWinHooks() { FreeAndNil(HookManager); }

}  // namespace zm
