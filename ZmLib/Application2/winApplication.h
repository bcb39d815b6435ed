#pragma once
// The application on the window system: a hidden message window receives the
// private message that announces posted events, message hooks go through the
// hook manager, and the window timers live on that window.
#include <cstdint>

#include "ZmLib/Application2/zmApplication.h"
#include "ZmLib/Application2/zmTimer2.h"
#include "ZmLib/Win32/winHooks.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmLists.h"

namespace zm {

class TWinApplication : public TApplication {
public:
  TWinApplication();
  void Dispose() override;
  // Posts the private message for the queued event; false once finalised.
  bool WakeOwner(std::int32_t sequence) override;
  bool Finalize() override;
  void AddWorker(TRefObject* worker) override;
  void RemoveWorker(TRefObject* worker) override;
  void Initialize() override { CreateHandle(); }
  virtual void CreateHandle() = 0;
  virtual plat::HWND GetHandle() = 0;
  // The id of the private message for posted events.
  plat::UINT PostMessageId() const { return postMsg_; }
  bool Finalized() const { return finalized_.load(); }
  std::size_t WorkerCount();
  // Cancels a mouse capture and shows the exception being handled.
  void HandleException();

protected:
  static void PostedEventHook(void* data, plat::HWND window, TMessage& message, bool& handled);

private:
  TRef<TCriticalSection> workersLock_;
  TRef<TEvent> wake_;
  TList* workers_ = nullptr;  // made on the first registration, freed when empty
  std::atomic<bool> finalized_{false};
  plat::UINT postMsg_ = 0;
};

class TZmApplication : public TWinApplication {
public:
  TZmApplication();
  bool Finalize() override;
  bool GetTerminated() override { return terminated_.load(); }
  WideString GetTitle() override { return title_; }
  void SetTitle(const WideString& title) override;
  bool Run() override;
  void ProcessMessages() override;
  void Terminate() override;
  void CreateHandle() override;
  plat::HWND GetHandle() override { return handle_.load(); }

private:
  static plat::LRESULT WindowProc(plat::HWND window, plat::UINT msg, plat::WPARAM w, plat::LPARAM l);
  std::atomic<plat::HWND> handle_{nullptr};  // WakeOwner reads it from any thread
  WideString title_;
  std::atomic<bool> terminated_{false};
  std::uint32_t loopThread_;
};

// The application on the window system (nullptr when none exists).
extern TWinApplication* WinApplication;

// A window timer on the application's hidden window; its id is the object.
class TTimer : public TCustomWinTimer {
public:
  void UpdateTimer() override;

private:
  static void TimerHook(void* data, plat::HWND window, TMessage& message, bool& handled);
};

// The process's exit code, and how the process ends when the shutdown wait
// runs out (tests replace it).
extern std::int32_t ExitCode;
using TExitProcessProc = void (*)(std::int32_t code);
extern TExitProcessProc ExitProcessProc;
// Milliseconds the shutdown waits for workers.
constexpr std::uint32_t kWorkerWaitMs = 30000;

void InitWinApplication();
void FiniWinApplication();

}  // namespace zm
