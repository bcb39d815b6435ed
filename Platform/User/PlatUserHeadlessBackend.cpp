// The headless display: frame buffers stay in memory (the window manager
// keeps them), input comes from plat::headless, message boxes answer at once.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Platform/PlatFrameClock.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatPainting.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUserBackend.h"

namespace plat::user {

namespace {

class THeadless final : public TBackend {
public:
  explicit THeadless(std::int64_t quitAfterMs) : quitAfter_(quitAfterMs) {
    start_ = TickCount32();
    std::string dir;
    capture_ = GetEnv("ZM_CAPTURE_DIR", dir) && !dir.empty();
  }
  const char* Name() const override { return "headless"; }
  std::vector<TMonitorInfo> Monitors() override { return {}; }  // the configured ones
  NativeWin Create(const TNativeDesc&) override {
    live_.insert(++next_);
    return next_;
  }
  void Update(NativeWin, const TNativeDesc&) override {}
  void Destroy(NativeWin win) override { live_.erase(win); }
  // The frame buffers are the display: nothing to hand on.
  void Present(NativeWin, const TPixelMemory&, const std::uint32_t*, int, int, int, const RECT&) override {}
  void Pump(TInputSink& sink) override {
    if (quitSent_) return;
    if (live_.empty()) {
      // No window came (a show whose slides are not ready yet, or never
      // will be): the time still ends the run, as a terminating signal.
      if (QuitDue()) {
        quitSent_ = true;
        RequestTermination();
      }
      return;
    }
    // A capture run ends with its last frame, also for a show that stands
    // at its end and draws no more.
    if (CaptureLimitReached() || QuitDue()) {
      quitSent_ = true;
      sink.CloseRequested(*live_.begin());
    }
  }
  // Only a run that ends by itself needs looks: a capture with its limit,
  // and the quit time.
  std::uint32_t IdleWaitMs() override {
    if (quitSent_) return kUntilWoken;
    if (capture_ || FrameStepMs()) return 100;
    if (quitAfter_ < 0) return kUntilWoken;
    const std::int64_t programTime = std::int64_t(std::uint32_t(TickCount32() - start_));
    return std::uint32_t(std::clamp<std::int64_t>(quitAfter_ - programTime, 1, kUntilWoken - 1));
  }
  bool WaitsNatively() const override { return false; }
  void Wait(int) override {}
  void Wake() override {}
  // Its members are set once and the clocks it reads are atomic.
  bool QuitTimePassed() const override { return QuitDue(); }
  bool CursorPos(POINT&) override { return false; }
  void GrabPointer(bool) override {}
  void SetCursor(std::uintptr_t) override {}
  int TestWindowCount() override { return int(live_.size()); }

private:
  bool QuitDue() const {
    if (quitAfter_ < 0) return false;
    // Captured stepped frames count show time: the run ends after the same
    // frames whatever the start-up took.
    const std::int64_t showTime = FrameStepCaptures() ? LastFrameShowTime() : -1;
    const std::int64_t programTime = std::int64_t(std::uint32_t(TickCount32() - start_));
    if (showTime >= 0) {
      // A show standing still (paused, waiting) still ends, later.
      return showTime >= quitAfter_ || programTime >= 4 * quitAfter_ + 10000;
    }
    // A stepped clock without frames never moves: real time ends the run.
    if (FrameStepMs() && SteppedFrameCount() == 0)
      return std::chrono::steady_clock::now() - realStart_ >= std::chrono::milliseconds(quitAfter_);
    return programTime >= quitAfter_;
  }

  NativeWin next_ = 0;
  std::set<NativeWin> live_;
  std::int64_t quitAfter_;
  bool quitSent_ = false;
  bool capture_ = false;
  std::uint32_t start_ = 0;
  std::chrono::steady_clock::time_point realStart_ = std::chrono::steady_clock::now();
};

}  // namespace

std::unique_ptr<TBackend> CreateHeadlessBackend() {
  // ZM_QUIT_AFTER_MS: the main window (the first one shown) is asked to close
  // after that much program time; without a window the run ends as on a
  // terminating signal.
  return CreateHeadlessBackend(GetEnvNumber("ZM_QUIT_AFTER_MS"));
}

std::unique_ptr<TBackend> CreateHeadlessBackend(std::int64_t quitAfterMs) {
  return std::make_unique<THeadless>(quitAfterMs);
}

}  // namespace plat::user
