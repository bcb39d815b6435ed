#pragma once
// The application object: the one instance that owns the UI thread, runs its
// message loop, receives the events other threads post to it and, at the end,
// waits for registered workers.
#include <cstdint>

#include "ZmLib/Application2/zmEventList.h"

namespace zm {

class TApplication : public TPostEventListEx {
public:
  TApplication();  // asserts that no other instance exists
  void Dispose() override;
  // The shutdown wait; true for a clean end.
  virtual bool Finalize() = 0;
  virtual bool GetTerminated() = 0;
  virtual WideString GetTitle() = 0;
  virtual void SetTitle(const WideString& title) = 0;
  virtual void Initialize() = 0;
  // The message loop, then event 0 to the own handlers, then Finalize.
  virtual bool Run() = 0;
  // Handles every message already queued, without waiting.
  virtual void ProcessMessages() = 0;
  // Ends the loop; from any thread.
  virtual void Terminate() = 0;
  // Objects whose work must end before shutdown completes; any thread.
  virtual void AddWorker(TRefObject* worker) = 0;
  virtual void RemoveWorker(TRefObject* worker) = 0;
};

// The one application (nullptr when none exists).
extern TApplication* Application;

}  // namespace zm
