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
class TMemoryWatch;

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
  // The memory the work may hold, looked at with the stop (nil: none).
  // Set while no work runs.
  void SetWatch(TMemoryWatch* watch) { watch_ = watch; }
  TMemoryWatch* Watch() const { return watch_; }

private:
  TMemoryWatch* watch_ = nullptr;
  std::atomic<bool> requested_{false};
  std::atomic<std::uint64_t> polls_{0};
  std::atomic<std::uint64_t> requestAt_{0};
};

// The work that ends because its stop was asked for (no fault of its own).
class ELoadStopped : public EAbort {
public:
  ELoadStopped() : EAbort("The work was stopped") {}

protected:
  explicit ELoadStopped(std::string message) : EAbort(std::move(message)) {}
};

// ---- What a work may hold ------------------------------------------------------------
// The memory the whole process holds, looked at between the steps of a work
// whose stop names the watch: past the limit the work ends by EMemoryLimit,
// as a stop ends it (nothing half made is kept). A look reads the system's
// figures, so one is made every kLookMs of the work, or sooner once the
// pictures held grew by kLookBytes (a large picture between two of its
// rows); before it gives up, the watch gives back what is kept for reuse
// and looks again.
class TMemoryWatch {
public:
  static constexpr std::int64_t kLookNs = 2000000;
  static constexpr std::int64_t kLookBytes = std::int64_t(8) << 20;
  // Held: where the bytes held are read (tests; nil: the process's own).
  explicit TMemoryWatch(std::int64_t limit, std::int64_t (*held)() = nullptr);

  std::int64_t Limit() const { return limit_; }
  // Any thread of the work. Raises EMemoryLimit past the limit.
  void Check();
  // The same look from anywhere: what is held when past the limit, else 0.
  // Fresh: a look now, whenever the last one was.
  std::int64_t Over(bool fresh = false);
  // A look before Bytes more are taken at once (a large picture, an entry
  // unpacked): raises EMemoryLimit when they would pass the limit.
  void CheckAhead(std::int64_t bytes);
  // The start of a work: what is held then, its share done none.
  void Begin();
  // The share of the work done so far (Done of Total steps, its objects).
  void NoteProgress(std::int64_t done, std::int64_t total);
  // What the work would take in all, the process's other holdings
  // included: what was held at its start, and what it took so far for the
  // share it did; at least what is held now.
  std::int64_t Estimate(std::int64_t heldNow) const;
  std::int64_t HeldAtBegin() const { return begin_.load(std::memory_order_relaxed); }
  // The largest figure a look saw.
  std::int64_t Peak() const { return peak_.load(std::memory_order_relaxed); }

private:
  std::int64_t Held() const;

  std::int64_t limit_;
  std::int64_t (*held_)();
  std::atomic<std::int64_t> lastLook_{0};      // ns of the steady clock
  std::atomic<std::int64_t> lastPictures_{0};  // picture bytes at the last look
  std::atomic<std::int64_t> lastGiveBack_{0};
  std::atomic<std::int64_t> lastOver_{0};  // what the last look found past the limit
  std::atomic<std::int64_t> begin_{0};
  std::atomic<std::int64_t> done_{0}, total_{0};
  std::atomic<std::int64_t> peak_{0};
};

// A work past what it may hold: Held bytes were held, more than Limit.
class EMemoryLimit : public ELoadStopped {
public:
  EMemoryLimit(std::int64_t held, std::int64_t limit)
      : ELoadStopped("The work holds more memory than it may"), Held(held), Limit(limit) {}
  std::int64_t Held;
  std::int64_t Limit;
};

// The calling thread's work tells its watch the share it did (nothing
// without one).
void NoteLoadProgress(std::int64_t done, std::int64_t total);
// The calling thread's work is about to take Bytes at once: its watch's
// CheckAhead (nothing without one).
void CheckMemoryAhead(std::int64_t bytes);

// The watch of the show that plays (nil: none), for what takes memory
// outside a work's steps as the show plays (pictures a clip decodes
// ahead into): set by whoever owns it, cleared before it goes.
void SetShowMemoryWatch(TMemoryWatch* watch);
// True when the show's watch finds the process past its limit (a look as
// TMemoryWatch::Over makes it, or a fresh one for Fresh: before something
// that goes on taking memory by itself starts); false without a watch.
bool ShowMemoryOver(bool fresh = false);

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
