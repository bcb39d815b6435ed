#include "ZmLib/Win32/winHooks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Win32/winVirtualMemoryManager.h"

using namespace zm;

namespace {

std::vector<std::string> gCalls;

void Hook(void* data, plat::HWND, TMessage& m, bool& handled) {
  gCalls.push_back(std::string(static_cast<const char*>(data)) + ":" + std::to_string(m.Msg));
  if (std::string(static_cast<const char*>(data)) == "handler") handled = true;
}

struct TSelfRemover {
  THookManager* M;
  const void* Owner;
};
void RemovesItself(void* data, plat::HWND, TMessage&, bool&) {
  auto* s = static_cast<TSelfRemover*>(data);
  gCalls.push_back("self");
  s->M->RemoveMsgHook(s->Owner, &RemovesItself, data);
}

void Listener(void*, plat::HWND, TMessage& m) { gCalls.push_back("listen:" + std::to_string(m.Result)); }

class WinHooks : public ::testing::Test {
protected:
  void SetUp() override {
    gCalls.clear();
    plat::headless::ResetForTests();
    mgr = new TPrivateHookManager();
    mgr->AfterConstruction();
  }
  void TearDown() override {
    mgr->Free();
    plat::headless::ResetForTests();
  }
  TPrivateHookManager* mgr;
  int owner = 0, other = 0;
};

TEST_F(WinHooks, PrivateIdsAndBuckets) {
  // Private ids start after the system's; a name registered twice keeps its id.
  EXPECT_EQ(mgr->NextHookId(), 5121);
  EXPECT_EQ(mgr->RegisterMessage(u"ZmWake"), 5122);
  EXPECT_EQ(mgr->RegisterMessage(u"ZmWake"), 5122);
  static char a[] = "a", b[] = "b";
  const plat::UINT id1[] = {0x410}, id2[] = {0x510};  // 256 apart: one bucket
  mgr->AddMsgHooks(&owner, id1, &Hook, a);
  mgr->AddMsgHooks(&owner, id2, &Hook, b);
  mgr->AddMsgHooks(&other, id1, &Hook, b);
  TMessage m;
  m.Msg = 0x410;
  bool handled = false;
  mgr->CallMsgHooks(&owner, nullptr, handled, m);
  EXPECT_EQ(gCalls, std::vector<std::string>{"a:1040"});
  mgr->RemoveMsgHooks(&owner, id1, &Hook, a);
  EXPECT_THROW(mgr->RemoveMsgHooks(&owner, id1, &Hook, a), EAbort);
  EXPECT_THROW(mgr->RemoveMsgListener(&owner, &Listener, nullptr), EAbort);
}

TEST_F(WinHooks, AllMatchingHooksRunAndMayRemoveThemselves) {
  static char handler[] = "handler", after[] = "after";
  TSelfRemover self{mgr, &owner};
  const plat::UINT ids[] = {plat::WM_TIMER};
  mgr->AddMsgHooks(&owner, ids, &Hook, after);
  mgr->AddMsgHook(&owner, &Hook, handler);
  mgr->AddMsgHook(&owner, &RemovesItself, &self);  // newest first
  mgr->AddMsgListener(&owner, &Listener, nullptr);
  TMessage m;
  m.Msg = plat::WM_TIMER;
  m.Result = 9;
  bool handled = false;
  mgr->CallMsgHooks(&owner, nullptr, handled, m);
  mgr->CallMsgListeners(&owner, nullptr, m);
  EXPECT_TRUE(handled);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"self", "handler:275", "after:275", "listen:9"}));
  gCalls.clear();
  handled = false;
  mgr->CallMsgHooks(&owner, nullptr, handled, m);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"handler:275", "after:275"}));
}

int gKeys = 0;
void CountKey(void*, plat::WPARAM w, plat::LPARAM l, bool& handled) {
  auto* k = reinterpret_cast<plat::KBDLLHOOKSTRUCT*>(l);
  if (w == plat::WM_KEYDOWN && k->vkCode == 'S') handled = true;
  ++gKeys;
}
void RemovesItselfKey(void* data, plat::WPARAM, plat::LPARAM, bool&) {
  ++gKeys;
  static_cast<THookManager*>(data)->RemoveKeyboardHook(&RemovesItselfKey, data);
}

plat::LRESULT Proc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  if (m == plat::WM_KEYDOWN) gCalls.push_back("key:" + std::to_string(w));
  return plat::DefWindowProcW(h, m, w, l);
}

TEST_F(WinHooks, KeyboardHookInstalledWhileHandlersExist) {
  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = u"HookTest";
  ASSERT_NE(plat::RegisterClassW(&wc), 0);
  plat::HWND h = plat::CreateWindowExW(0, u"HookTest", u"", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 10, 10, nullptr,
                                       nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  gKeys = 0;
  mgr->AddKeyboardHook(&CountKey, nullptr);
  EXPECT_NE(mgr->KeyboardHookHandle(), nullptr);
  plat::headless::Key('S', true);  // swallowed
  plat::headless::Key('T', true);
  plat::headless::PumpUntilIdle();
  EXPECT_EQ(gKeys, 2);
  EXPECT_EQ(gCalls, std::vector<std::string>{"key:84"});
  mgr->RemoveKeyboardHook(&CountKey, nullptr);
  EXPECT_EQ(mgr->KeyboardHookHandle(), nullptr);
  EXPECT_EQ(ExecutablePageCount(), 0);
  EXPECT_THROW(mgr->RemoveKeyboardHook(&CountKey, nullptr), EAbort);
  // Adding one again installs the hook again; a handler may remove itself.
  mgr->AddKeyboardHook(&RemovesItselfKey, mgr);
  EXPECT_NE(mgr->KeyboardHookHandle(), nullptr);
  plat::headless::Key('V', true);
  EXPECT_EQ(gKeys, 3);
  EXPECT_EQ(mgr->KeyboardHookHandle(), nullptr);
}

}  // namespace
