#include "ZmLib/Application2/winApplication.h"

#include <algorithm>
#include <cstdlib>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winCommonDialogs.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

using namespace plat;

TWinApplication* WinApplication = nullptr;
std::int32_t ExitCode = 0;

namespace {
void DefaultExitProcess(std::int32_t code) { std::_Exit(code); }
}  // namespace
TExitProcessProc ExitProcessProc = &DefaultExitProcess;

// ============================================================================
// TWinApplication
// ============================================================================

TWinApplication::TWinApplication() : workersLock_(MakeRef<TCriticalSection>()), wake_(MakeRef<TEvent>()) {
  ZM_ASSERT(WinApplication == nullptr, "TWinApplication: an application exists already");
  ZM_ASSERT(HookManager != nullptr, "TWinApplication: no hook manager");
  WinApplication = this;
  postMsg_ = UINT(HookManager->NextHookId());
  const UINT ids[] = {postMsg_};
  HookManager->AddMsgHooks(this, ids, &PostedEventHook, this);
}

void TWinApplication::Dispose() {
  ZM_ASSERT(finalized_.load(), "Application MUST be finalesed before destroy!");
  if (HookManager) {
    const UINT ids[] = {postMsg_};
    HookManager->RemoveMsgHooks(this, ids, &PostedEventHook, this);
  }
  FreeAndNil(workers_);
  wake_ = nullptr;
  workersLock_ = nullptr;
  if (WinApplication == this) WinApplication = nullptr;
  TApplication::Dispose();
}

bool TWinApplication::WakeOwner(std::int32_t sequence) {
  if (finalized_.load()) return false;
  // Until the window exists (or once it is gone) the event stays queued for
  // the next dispatch of the whole queue.
  if (HWND h = GetHandle()) WndAPIClass->PostMessage(h, postMsg_, WPARAM(std::uint32_t(sequence)), 0);
  if (wake_) wake_->Set();
  return true;
}

void TWinApplication::PostedEventHook(void* data, HWND, TMessage& message, bool& handled) {
  auto* app = static_cast<TWinApplication*>(data);
  handled = true;
  bool found = app->DispatchEvent(std::int32_t(std::uint32_t(message.WParam)));
  ZM_ASSERT(found, "Posted event not found");
}

bool TWinApplication::Finalize() {
  std::uint32_t start = GetTimeMs();
  bool clean = false;
  while (GetTimeMs() - start < kWorkerWaitMs) {
    DispatchAll();
    if (WorkerCount() == 0) {
      clean = true;
      break;
    }
    if (wake_->Wait(100)) wake_->Reset();
  }
  finalized_.store(true);  // posts are refused from now on
  DispatchAll();
  if (!clean && WorkerCount() > 0) {
    try {
      ZM_FAIL("Application workers still running after " + std::to_string(kWorkerWaitMs) + " ms");
    } catch (const EAbort&) {
    }
    ExitProcessProc(ExitCode);
  }
  return clean;
}

std::size_t TWinApplication::WorkerCount() {
  workersLock_->Enter();
  std::size_t n = workers_ ? std::size_t(workers_->Count()) : 0;
  workersLock_->Leave();
  return n;
}

void TWinApplication::AddWorker(TRefObject* worker) {
  workersLock_->Enter();
  if (!workers_) {
    workers_ = new TList();
    workers_->AfterConstruction();
  }
  workers_->Add(worker);
  workersLock_->Leave();
}

void TWinApplication::RemoveWorker(TRefObject* worker) {
  workersLock_->Enter();
  bool found = false;
  if (workers_ && workers_->Remove(worker) >= 0) {
    found = true;
    if (workers_->Count() == 0) FreeAndNil(workers_);
  }
  workersLock_->Leave();
  ZM_ASSERT(found, "RemoveWorker: worker not registered");
  wake_->Set();
}

void TWinApplication::HandleException() {
  if (HWND c = GetCapture()) WndAPIClass->SendMessage(c, WM_CANCELMODE, 0, 0);
  ShowCurrentException();
}

// ============================================================================
// TZmApplication
// ============================================================================

namespace {
constexpr char16_t kClassName[] = u"TZmApplication";
}

TZmApplication::TZmApplication() : loopThread_(plat::CurrentThreadId()) {}

LRESULT TZmApplication::WindowProc(HWND window, UINT msg, WPARAM w, LPARAM l) {
  TWinApplication* app = WinApplication;
  if (!app) return WndAPIClass->DefWindowProc(window, msg, w, l);
  TMessage m;
  m.Msg = msg;
  m.WParam = w;
  m.LParam = l;
  bool handled = false;
  HookManager->CallMsgHooks(app, window, handled, m);
  if (!handled) m.Result = WndAPIClass->DefWindowProc(window, msg, w, l);
  HookManager->CallMsgListeners(app, window, m);
  return m.Result;
}

void TZmApplication::CreateHandle() {
  if (handle_.load()) return;
  WNDCLASSW wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = &WindowProc;
  wc.hInstance = ModuleInstance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  if (!WndAPIClass->RegisterClass(wc)) RaiseLastOSError();
  TWndCreateParams p;
  p.ExStyle = WS_EX_TOOLWINDOW;
  p.ClassName = kClassName;
  p.WindowName = title_;
  p.Style = 0x06CF0000;  // clip siblings and children, overlapped window, hidden
  handle_.store(WndAPIClass->CreateWindow(p));
  if (!handle_.load()) {
    int err = LastOSError();
    WndAPIClass->UnregisterClass(kClassName, ModuleInstance());
    RaiseOSError(err);
  }
}

void TZmApplication::SetTitle(const WideString& title) {
  title_ = title;
  if (HWND h = handle_.load()) WndAPIClass->SetWindowText(h, title);
}

bool TZmApplication::Run() {
  MSG m;
  while (!terminated_.load()) {
    if (!WndAPIClass->GetMessage(m, nullptr, 0, 0)) {
      terminated_.store(true);
      break;
    }
    try {
      WndAPIClass->TranslateMessage(m);
      WndAPIClass->DispatchMessage(m);
    } catch (...) {
      HandleException();
    }
  }
  SendEvent(this, 0, 0);  // the loop has ended
  return Finalize();
}

void TZmApplication::ProcessMessages() {
  MSG m;
  while (WndAPIClass->PeekMessage(m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      terminated_.store(true);
      return;
    }
    WndAPIClass->TranslateMessage(m);
    WndAPIClass->DispatchMessage(m);
  }
}

void TZmApplication::Terminate() {
  if (plat::CurrentThreadId() == loopThread_)
    PostQuitMessage(0);
  else
    PostThreadMessageW(loopThread_, WM_QUIT, 0, 0);
}

bool TZmApplication::Finalize() {
  if (HWND h = handle_.exchange(nullptr)) {
    WndAPIClass->DestroyWindow(h);
    WndAPIClass->UnregisterClass(kClassName, ModuleInstance());
  }
  return TWinApplication::Finalize();
}

// ============================================================================
// TTimer
// ============================================================================

void TTimer::UpdateTimer() {
  TWinApplication* app = WinApplication;
  HWND h = app ? app->GetHandle() : nullptr;
  const UINT ids[] = {WM_TIMER};
  if (armed_) {
    if (h) KillTimer(h, reinterpret_cast<UINT_PTR>(this));
    if (HookManager && app) HookManager->RemoveMsgHooks(app, ids, &TimerHook, this);
    armed_ = false;
  }
  if (interval_ != 0 && enabled_ && code_) {
    if (!h || !SetTimer(h, reinterpret_cast<UINT_PTR>(this), interval_, nullptr)) throw ETimerError();
    HookManager->AddMsgHooks(app, ids, &TimerHook, this);
    armed_ = true;
  }
}

void TTimer::TimerHook(void* data, HWND, TMessage& message, bool& handled) {
  auto* t = static_cast<TTimer*>(data);
  if (message.WParam != reinterpret_cast<WPARAM>(t)) return;  // another timer's
  handled = true;
  if (t->code_) t->code_(t->data_, t);
}

// ============================================================================
// Module
// ============================================================================

namespace {
THookInstall<TCreateTimerHook> gWinTimerHook;

TCustomTimer* CreateWinTimer() {
  auto* t = new TTimer();
  t->AfterConstruction();
  return t;
}

// The owner of dialogs given none.
HWND ApplicationHandle() { return WinApplication ? WinApplication->GetHandle() : nullptr; }
}  // namespace

void InitWinApplication() {
  gWinTimerHook.Install(CreateTimerHook, &CreateWinTimer);
  ApplicationWindowHook = &ApplicationHandle;
}

void FiniWinApplication() {
  gWinTimerHook.RestoreIfStillSet();
  if (ApplicationWindowHook == &ApplicationHandle) ApplicationWindowHook = nullptr;
}

}  // namespace zm
