#include "Platform/User/PlatHooks.h"

namespace plat::user {

namespace {
struct THookCall {
  std::vector<std::shared_ptr<THook>> Chain;
  std::size_t Index;
};
thread_local std::vector<THookCall*> tHookCalls;

HHOOK HookHandle(const THook* h) { return reinterpret_cast<HHOOK>(const_cast<THook*>(h)); }

// Calls the chain from position i (the hooks removed meanwhile are skipped).
LRESULT CallChainFrom(THookCall& call, std::size_t i, int code, WPARAM wp, LPARAM lp) {
  TWindowManager& wm = WindowManager();
  for (; i < call.Chain.size(); ++i) {
    auto& h = call.Chain[i];
    bool removed;
    {
      auto l = wm.Lock();
      removed = h->Removed;
    }
    if (removed) continue;
    call.Index = i;
    tHookCalls.push_back(&call);
    struct Pop {
      ~Pop() { tHookCalls.pop_back(); }
    } pop;
    return h->Proc(code, wp, lp);
  }
  return 0;
}

}  // namespace

bool RunKeyboardHooks(WPARAM msg, KBDLLHOOKSTRUCT& k) {
  TWindowManager& wm = WindowManager();
  THookCall call;
  {
    auto l = wm.Lock();
    call.Chain = wm.Hooks;
  }
  if (call.Chain.empty()) return false;
  return CallChainFrom(call, 0, HC_ACTION, msg, reinterpret_cast<LPARAM>(&k)) != 0;
}

}  // namespace plat::user

namespace plat {

using namespace user;

HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE, DWORD threadId) {
  TWindowManager& wm = WindowManager();
  if (idHook != WH_KEYBOARD_LL || !proc || threadId != 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto h = std::make_shared<THook>();
  h->Proc = proc;
  auto l = wm.Lock();
  wm.Hooks.insert(wm.Hooks.begin(), h);
  return HookHandle(h.get());
}

HHOOK SetWindowsHookExA(int idHook, HOOKPROC proc, HINSTANCE instance, DWORD threadId) {
  return SetWindowsHookExW(idHook, proc, instance, threadId);
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  for (auto it = wm.Hooks.begin(); it != wm.Hooks.end(); ++it)
    if (HookHandle(it->get()) == hook) {
      (*it)->Removed = true;  // a call in progress skips it from now on
      wm.Hooks.erase(it);
      return 1;
    }
  SetError(ERROR_INVALID_HOOK_HANDLE);
  return 0;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
  // Find the call in progress that this hook belongs to.
  for (auto it = tHookCalls.rbegin(); it != tHookCalls.rend(); ++it) {
    THookCall& c = **it;
    if (c.Index < c.Chain.size() && (HookHandle(c.Chain[c.Index].get()) == hook || !hook))
      return CallChainFrom(c, c.Index + 1, code, wParam, lParam);
  }
  return 0;
}

}  // namespace plat
