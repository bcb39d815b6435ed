#pragma once
// Pictures that take long to make (shadows, pictures of image, text and box
// objects) are made by a worker thread instead of the drawing thread: an
// object queues a named task and the task's callback hands the picture
// back. A newer request for the same key replaces an older one that has not
// started; a task being made is never removed, only marked cancelled so that
// its result is dropped. The queue belongs to the slide host, which stops it
// when the show closes.
//
// The application postman is the process-wide list of pending messages,
// kept under a monitor.
#include <atomic>
#include <cstdint>
#include <functional>

#include "ZmLib/zmLists.h"
#include "ZmLib/zmMonitors.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TImageTask;

// Hands the finished picture to the requester: the task's Result (nil when
// it could not be made). Called on the worker thread under the queue's lock, so once
// CancelTask or StopQueue returned the callback of that key is not called
// any more; it must not wait for the drawing thread.
using TImageTaskCallback = void (*)(void* data, TImageTask* task);
// Makes the picture of a task, usually a TImage (runs on the worker thread
// without the lock).
using TImageTaskRenderer = std::function<TRef<TRefObject>(TImageTask* task)>;

// Task states.
constexpr std::uint8_t kTaskPending = 0;
constexpr std::uint8_t kTaskRunning = 1;
constexpr std::uint8_t kTaskCancelled = 2;
constexpr std::uint8_t kTaskDone = 3;

class TImageTask : public TRefObject {
public:
  void Dispose() override;  // releases Input and Result

  WideString Name;
  WideString Description;  // the cache-key text of the picture
  TImageTaskCallback Callback = nullptr;
  void* Data = nullptr;
  WideString Key;
  bool Flag = false;
  TRef<TRefObject> Input;
  TRef<TRefObject> Result;
  std::atomic<std::uint8_t> State{kTaskPending};
};

class TImageTaskQueue : public TActiveMonitor {
public:
  // Renderer may be empty: every task then gives nil.
  explicit TImageTaskQueue(TImageTaskRenderer renderer);
  // Stops the queue first.
  void Dispose() override;

  // Starts the worker thread; false when it runs already or cannot start.
  bool StartWorker();

  // Ignored once stopped.
  void AddTask(const WideString& key, const WideString& name, bool flag, const WideString& description,
               TImageTaskCallback callback, void* data);
  // Ignored once stopped or when empty.
  void CancelTask(const WideString& key);
  // Tells the worker to end, waits at most StopTimeoutMs for it, marks the
  // queue stopped and frees the tasks.
  void StopQueue();

  bool Stopped() const { return stopped_.load(); }
  // Tasks listed (being made and waiting) and waiting only.
  std::int32_t TaskCount();
  std::int32_t PendingCount();
  // Whether the last StopQueue saw the worker end in time.
  bool WorkerStopped() const { return workerStopped_.load(); }

  std::uint32_t StopTimeoutMs = 500;
  std::uint32_t StopStepMs = 100;

private:
  static void WorkerProc(void* arg);
  void Work();

  TImageTaskRenderer renderer_;
  TRef<TList> tasks_;           // TImageTask*, each holding the list's reference
  std::int32_t firstPending_ = 0;  // tasks before it are being made
  std::atomic<bool> stopped_{false};
  std::atomic<bool> workerStopped_{false};
  TRef<TEvent> workerEnded_;
};

// ---- The application postman --------------------------------------------------------

class TAppPostman : public TMonitor {
public:
  TAppPostman();
  // With messages still listed: the assertion "Invalid Messages List at
  // <class>.Dispose".
  void Dispose() override;
  TList* Messages() const { return messages_.get(); }

private:
  TRef<TList> messages_;
};

// The instance made by InitImageTasks; nil outside Init..Fini.
TAppPostman* AppPostman();

void InitImageTasks();
void FiniImageTasks();

}  // namespace zm
