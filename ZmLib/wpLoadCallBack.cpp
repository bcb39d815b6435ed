#include "ZmLib/wpLoadCallBack.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "Platform/PlatMemoryUse.h"
#include "Platform/PlatPictureMemory.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {
constexpr std::uint32_t kNormalPriorityClass = 32;
constexpr std::uint32_t kHighPriorityClass = 128;

std::atomic<std::uint8_t> gMode{0};
std::atomic<std::uint32_t> gLastYield{0};
std::atomic<std::uint32_t> gPriorityClass{kNormalPriorityClass};
std::atomic<std::uint32_t> gYields{0};
TDefCallBack gDefCallBack;

bool ContinueAtOnce() { return true; }

template <std::uint32_t SleepMsValue>
bool ContinueYielding() {
  std::uint32_t now = GetTimeMs();
  if (now - gLastYield.load(std::memory_order_relaxed) < 6) return true;
  SleepMs(SleepMsValue);
  gYields.fetch_add(1, std::memory_order_relaxed);
  gLastYield.store(GetTimeMs(), std::memory_order_relaxed);
  return true;
}

bool Stop() { return false; }

thread_local TLoadStop* tLoadStop = nullptr;
thread_local TLoadStop* tDrawStop = nullptr;
}  // namespace

TDrawStopScope::TDrawStopScope(TLoadStop* stop) : previous_(tDrawStop) { tDrawStop = stop; }

TDrawStopScope::~TDrawStopScope() { tDrawStop = previous_; }

bool DrawStopRequested() { return tDrawStop && tDrawStop->Poll(); }

TLoadStopScope::TLoadStopScope(TLoadStop* stop) : previous_(tLoadStop) { tLoadStop = stop; }

TLoadStopScope::~TLoadStopScope() { tLoadStop = previous_; }

TLoadStop* CurrentLoadStop() { return tLoadStop; }

bool LoadStopRequested() { return tLoadStop && tLoadStop->Poll(); }

void CheckLoadStop() {
  if (LoadStopRequested()) throw ELoadStopped();
  if (TMemoryWatch* watch = tLoadStop ? tLoadStop->Watch() : nullptr) watch->Check();
}

void CheckMemoryAhead(std::int64_t bytes) {
  if (TMemoryWatch* watch = tLoadStop ? tLoadStop->Watch() : nullptr) watch->CheckAhead(bytes);
}

namespace {
// Pictures are taken through the picture memory, which asks here first.
void PictureGate(std::size_t bytes) { CheckMemoryAhead(static_cast<std::int64_t>(std::min<std::size_t>(bytes, INT64_MAX))); }
}  // namespace

void NoteLoadProgress(std::int64_t done, std::int64_t total) {
  if (TMemoryWatch* watch = tLoadStop ? tLoadStop->Watch() : nullptr) watch->NoteProgress(done, total);
}

namespace {
std::atomic<TMemoryWatch*> gShowWatch{nullptr};
}  // namespace

void SetShowMemoryWatch(TMemoryWatch* watch) { gShowWatch.store(watch); }

bool ShowMemoryOver(bool fresh) {
  TMemoryWatch* watch = gShowWatch.load();
  return watch && watch->Over(fresh) != 0;
}

// ---- TMemoryWatch ----------------------------------------------------------------------

namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Giving back what is kept costs a walk of the allocator: once in this long.
constexpr std::int64_t kGiveBackNs = 100000000;

}  // namespace

TMemoryWatch::TMemoryWatch(std::int64_t limit, std::int64_t (*held)()) : limit_(limit), held_(held) {}

std::int64_t TMemoryWatch::Held() const {
  const std::int64_t h = held_ ? held_() : plat::HeldMemoryBytes();
  // Where the system tells nothing, the pictures at least are counted.
  return h >= 0 ? h : plat::PictureMemoryBytes();
}

void TMemoryWatch::Check() {
  if (const std::int64_t held = Over()) throw EMemoryLimit(held, limit_);
}

std::int64_t TMemoryWatch::Over(bool fresh) {
  const std::int64_t now = NowNs();
  const std::int64_t pictures = plat::PictureMemoryBytes();
  // Between two looks the last one's finding stands.
  if (!fresh && now - lastLook_.load(std::memory_order_relaxed) < kLookNs &&
      pictures - lastPictures_.load(std::memory_order_relaxed) < kLookBytes)
    return lastOver_.load(std::memory_order_relaxed);
  lastLook_.store(now, std::memory_order_relaxed);
  lastPictures_.store(pictures, std::memory_order_relaxed);
  std::int64_t held = Held();
  if (held > limit_ && now - lastGiveBack_.load(std::memory_order_relaxed) >= kGiveBackNs) {
    lastGiveBack_.store(now, std::memory_order_relaxed);
    plat::GiveBackFreeMemory();
    held = Held();
  }
  std::int64_t peak = peak_.load(std::memory_order_relaxed);
  while (held > peak && !peak_.compare_exchange_weak(peak, held, std::memory_order_relaxed)) {
  }
  const std::int64_t over = held > limit_ ? held : 0;
  lastOver_.store(over, std::memory_order_relaxed);
  return over;
}

void TMemoryWatch::CheckAhead(std::int64_t bytes) {
  if (bytes <= 0) return;
  std::int64_t held = Held();
  if (held > limit_ - bytes) {
    const std::int64_t now = NowNs();
    if (now - lastGiveBack_.load(std::memory_order_relaxed) >= kGiveBackNs) {
      lastGiveBack_.store(now, std::memory_order_relaxed);
      plat::GiveBackFreeMemory();
      held = Held();
    }
  }
  if (held > limit_ - bytes) throw EMemoryLimit(held + bytes, limit_);
}

void TMemoryWatch::Begin() {
  begin_.store(Held(), std::memory_order_relaxed);
  done_.store(0, std::memory_order_relaxed);
  total_.store(0, std::memory_order_relaxed);
  lastOver_.store(0, std::memory_order_relaxed);
  lastLook_.store(NowNs(), std::memory_order_relaxed);
  lastPictures_.store(plat::PictureMemoryBytes(), std::memory_order_relaxed);
}

void TMemoryWatch::NoteProgress(std::int64_t done, std::int64_t total) {
  done_.store(done, std::memory_order_relaxed);
  total_.store(total, std::memory_order_relaxed);
}

std::int64_t TMemoryWatch::Estimate(std::int64_t heldNow) const {
  const std::int64_t begin = begin_.load(std::memory_order_relaxed);
  const std::int64_t done = done_.load(std::memory_order_relaxed), total = total_.load(std::memory_order_relaxed);
  if (done <= 0 || total <= done || heldNow <= begin) return heldNow;
  const double taken = double(heldNow - begin) * double(total) / double(done);
  return std::max(heldNow, std::int64_t(std::min(double(begin) + taken, 9.0e18)));
}

TLoadCallbackProc LoadCallbackProc = &ContinueAtOnce;
TDefCallBack* LoadCallbackClass = &gDefCallBack;

void SetLoadCallbackMode(std::uint8_t mode) {
  std::uint8_t old = gMode.load();
  if (mode == old) return;
  gLastYield.store(GetTimeMs());
  switch (mode) {
    case 0: LoadCallbackProc = &ContinueAtOnce; break;
    case 1: LoadCallbackProc = &ContinueYielding<0>; break;
    case 2: LoadCallbackProc = &ContinueYielding<1>; break;
    case 3: LoadCallbackProc = &Stop; break;
    default: ZM_FAIL("SetLoadCallbackMode: unknown mode " + std::to_string(mode));
  }
  gMode.store(mode);
  LoadCallbackClass = &gDefCallBack;
  // The priority class is recorded; a process cannot raise its own priority here.
  if (mode == 2) gPriorityClass.store(kHighPriorityClass);
  else if (old == 2) gPriorityClass.store(kNormalPriorityClass);
}

std::uint8_t LoadCallbackMode() { return gMode.load(); }
std::uint32_t LoadCallbackPriorityClass() { return gPriorityClass.load(); }
std::uint32_t LoadCallbackYields() { return gYields.load(); }

void InitLoadCallBack() {
  gMode.store(0);
  LoadCallbackProc = &ContinueAtOnce;
  gPriorityClass.store(kNormalPriorityClass);
  plat::SetPictureMemoryGate(&PictureGate);
}

void FiniLoadCallBack() {
  SetLoadCallbackMode(0);
  plat::SetPictureMemoryGate(nullptr);
}

}  // namespace zm
