#pragma once
// The callback that long loops (image operations, loaders) poll: it may give
// up the processor, and it tells the loop whether to go on.
#include <atomic>
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

// 0 go on at once; 1 go on, yielding; 2 go on, sleeping 1 ms, the process at
// high priority; 3 stop.
void SetLoadCallbackMode(std::uint8_t mode);
std::uint8_t LoadCallbackMode();
// The priority class the process asked for (32 normal, 128 high).
std::uint32_t LoadCallbackPriorityClass();
// How often the callback has given up the processor.
std::uint32_t LoadCallbackYields();

using TLoadCallbackProc = bool (*)();
extern TLoadCallbackProc LoadCallbackProc;

// The object form of the callback; every mode uses TDefCallBack.
class TDefCallBack {
public:
  virtual ~TDefCallBack() = default;
  virtual bool Call() { return LoadCallbackProc(); }
};
extern TDefCallBack* LoadCallbackClass;

// ---- The stop of a thread's work ------------------------------------------------
// A thread whose work another may stop (the slide loader, building a
// slide) names its stop for the time of that work (TLoadStopScope). Loops
// on that thread, between their steps, and the helper threads it hands the
// stop to (a picture decoded in strips), look at it (CheckLoadStop) and give
// the work up by raising ELoadStopped: nothing half made is kept, and no
// step runs long after the stop was asked for.
class TLoadStop {
public:
  // Any thread.
  void Request() { requested_.store(true, std::memory_order_release); }
  // For the next work (no work running).
  void Reset() {
    requested_.store(false);
    polls_.store(0);
  }
  bool Requested() const { return requested_.load(std::memory_order_acquire); }
  // One look at the stop; true when the work is to end.
  bool Poll() {
    const std::uint64_t n = polls_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n == requestAt_.load(std::memory_order_relaxed)) Request();
    return Requested();
  }
  // How many looks there were: the steps of the work.
  std::uint64_t Polls() const { return polls_.load(std::memory_order_relaxed); }
  // Tests: the look numbered N asks for the stop itself, as a stop asked
  // for right then would (0: none).
  void RequestAtPoll(std::uint64_t n) { requestAt_.store(n, std::memory_order_relaxed); }

private:
  std::atomic<bool> requested_{false};
  std::atomic<std::uint64_t> polls_{0};
  std::atomic<std::uint64_t> requestAt_{0};
};

// The work that ends because its stop was asked for (no fault of its own).
class ELoadStopped : public EAbort {
public:
  ELoadStopped() : EAbort("The work was stopped") {}
};

// Stop (nil: none) is the calling thread's stop until the scope ends.
class TLoadStopScope {
public:
  explicit TLoadStopScope(TLoadStop* stop);
  ~TLoadStopScope();
  TLoadStopScope(const TLoadStopScope&) = delete;
  TLoadStopScope& operator=(const TLoadStopScope&) = delete;

private:
  TLoadStop* previous_;
};

// The stop of a frame being drawn, for the time of the draw: drawing loops
// leave the rest of the frame undrawn (DrawStopRequested). Nothing is
// raised: a frame is ended, never left half begun.
class TDrawStopScope {
public:
  explicit TDrawStopScope(TLoadStop* stop);
  ~TDrawStopScope();
  TDrawStopScope(const TDrawStopScope&) = delete;
  TDrawStopScope& operator=(const TDrawStopScope&) = delete;

private:
  TLoadStop* previous_;
};
// True when the frame the calling thread draws is to end (one look).
bool DrawStopRequested();

// The calling thread's stop; nil when its work cannot be stopped.
TLoadStop* CurrentLoadStop();
// Raises ELoadStopped when the calling thread's stop was asked for (one
// look); nothing on a thread without a stop.
void CheckLoadStop();
// The same without raising: true when the work is to end.
bool LoadStopRequested();

void InitLoadCallBack();
void FiniLoadCallBack();

}  // namespace zm
