#include "ZmLib/zmImageTasks.h"

#include <string>
#include <vector>

#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

// ---- TImageTask ------------------------------------------------------------------------

void TImageTask::Dispose() {
  Input = nullptr;
  Result = nullptr;
  TRefObject::Dispose();
}

// ---- TImageTaskQueue -------------------------------------------------------------------

TImageTaskQueue::TImageTaskQueue(TImageTaskRenderer renderer)
    : renderer_(std::move(renderer)), tasks_(MakeRef<TList>()), workerEnded_(MakeRef<TEvent>()) {}

void TImageTaskQueue::Dispose() {
  StopQueue();
  tasks_ = nullptr;
  TActiveMonitor::Dispose();
}

bool TImageTaskQueue::StartWorker() {
  if (stopped_.load()) return false;
  workerEnded_->Reset();
  return Start(false, &TImageTaskQueue::WorkerProc, this);
}

void TImageTaskQueue::WorkerProc(void* arg) {
  auto* q = static_cast<TImageTaskQueue*>(arg);
  try {
    q->Work();
  } catch (...) {
    ReportSwallowedException();
  }
  // Set before the thread wrapper enters the monitor for the last time, so
  // that a StopQueue holding the lock does not have to give it up first.
  q->workerEnded_->Set();
}

void TImageTaskQueue::Work() {
  Enter();
  while (!Terminated()) {
    if (!tasks_ || firstPending_ >= tasks_->Count()) {
      Wait();  // until someone enters: a new task, a cancel or the stop
      continue;
    }
    TRef<TImageTask> task(static_cast<TImageTask*>(tasks_->Get(firstPending_)));
    ++firstPending_;
    task->State.store(kTaskRunning);
    Leave();

    TRef<TRefObject> picture;
    try {
      if (renderer_) picture = renderer_(task.get());
    } catch (...) {
      ReportSwallowedException();  // a picture that cannot be made is missing
      picture = nullptr;
    }

    Enter();
    std::int32_t i = tasks_ ? tasks_->IndexOf(task.get()) : -1;
    if (i >= 0) {
      tasks_->Delete(i);
      if (i < firstPending_) --firstPending_;
      task->ReleaseRef();  // the list's reference; ours keeps it alive
    }
    if (i >= 0 && !stopped_.load() && task->State.load() != kTaskCancelled) {
      task->State.store(kTaskDone);
      if (task->Callback) {
        try {
          task->Result = picture;
          task->Callback(task->Data, task.get());
          task->Result = nullptr;
        } catch (...) {
          ReportSwallowedException();
        }
      }
    }
  }
  Leave();
}

void TImageTaskQueue::AddTask(const WideString& key, const WideString& name, bool flag,
                              const WideString& description, TImageTaskCallback callback, void* data) {
  if (stopped_.load()) return;
  TRef<TImageTask> task = MakeRef<TImageTask>();
  task->Key = key;
  task->Name = name;
  task->Flag = flag;
  task->Description = description;
  task->Callback = callback;
  task->Data = data;

  TImageTask* removed = nullptr;
  Enter();
  if (!stopped_.load() && tasks_) {
    for (std::int32_t i = firstPending_; i < tasks_->Count(); ++i) {
      auto* t = static_cast<TImageTask*>(tasks_->Get(i));
      if (t->Key == key) {
        removed = t;
        tasks_->Delete(i);
        break;
      }
    }
    if (tasks_->Add(task.get()) >= 0) task.Detach();  // the list's reference now
  }
  Leave();
  if (removed) removed->ReleaseRef();
}

void TImageTaskQueue::CancelTask(const WideString& key) {
  if (stopped_.load()) return;
  std::vector<TImageTask*> removed;
  Enter();
  if (tasks_ && tasks_->Count() > 0) {
    for (std::int32_t i = 0; i < tasks_->Count();) {
      auto* t = static_cast<TImageTask*>(tasks_->Get(i));
      if (t->Key != key) {
        ++i;
      } else if (i < firstPending_) {
        t->State.store(kTaskCancelled);
        ++i;
      } else {
        removed.push_back(t);
        tasks_->Delete(i);
      }
    }
  }
  Leave();
  for (auto* t : removed) t->ReleaseRef();
}

void TImageTaskQueue::StopQueue() {
  Enter();
  if (stopped_.load()) {
    Leave();
    return;
  }
  Terminate();
  bool ended = State() == 0 || State() == 3 || workerEnded_->IsSet();
  std::uint32_t start = GetTimeMs();
  while (!ended) {
    std::uint32_t elapsed = GetTimeMs() - start;
    if (elapsed >= StopTimeoutMs) break;
    std::uint32_t step = StopStepMs < StopTimeoutMs - elapsed ? StopStepMs : StopTimeoutMs - elapsed;
    // Give the lock up while waiting: the worker needs it to finish.
    std::int32_t holds = HoldCount();
    for (std::int32_t k = 0; k < holds; ++k) Leave();
    ended = workerEnded_->Wait(step);
    for (std::int32_t k = 0; k < holds; ++k) Enter();
  }
  workerStopped_.store(ended);
  stopped_.store(true);
  std::vector<TImageTask*> all;
  if (tasks_) {
    for (std::int32_t i = 0; i < tasks_->Count(); ++i) {
      auto* t = static_cast<TImageTask*>(tasks_->Get(i));
      if (i < firstPending_) t->State.store(kTaskCancelled);
      all.push_back(t);
    }
    tasks_->Clear();
  }
  firstPending_ = 0;
  Leave();
  for (auto* t : all) t->ReleaseRef();
}

std::int32_t TImageTaskQueue::TaskCount() {
  Enter();
  std::int32_t n = tasks_ ? tasks_->Count() : 0;
  Leave();
  return n;
}

std::int32_t TImageTaskQueue::PendingCount() {
  Enter();
  std::int32_t n = tasks_ ? tasks_->Count() - firstPending_ : 0;
  Leave();
  return n;
}

// ---- TAppPostman -----------------------------------------------------------------------

TAppPostman::TAppPostman() : messages_(MakeRef<TList>()) {}

void TAppPostman::Dispose() {
  if (messages_ && messages_->Count() > 0)
    AssertFailed("Invalid Messages List at " + ClassName() + ".Dispose", __FILE__, __LINE__);
  messages_ = nullptr;
  TMonitor::Dispose();
}

namespace {
TAppPostman* gPostman = nullptr;
}

TAppPostman* AppPostman() { return gPostman; }

void InitImageTasks() {
  if (!gPostman) gPostman = MakeRef<TAppPostman>().Detach();
}

void FiniImageTasks() {
  TAppPostman* p = gPostman;
  gPostman = nullptr;
  if (p) {
    try {
      p->Free();
    } catch (...) {
      ReportSwallowedException();
    }
  }
}

}  // namespace zm
