// The headless display: frame buffers stay in memory (the window manager
// keeps them), input comes from plat::headless, message boxes answer at once.
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Platform/PlatFrameClock.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUserBackend.h"

namespace plat::user {

namespace {

class THeadless final : public TBackend {
public:
  THeadless(std::int64_t quitAfterMs, std::string captureDir, std::int64_t captureLimit)
      : captureDir_(std::move(captureDir)), captureLimit_(captureLimit), quitAfter_(quitAfterMs) {
    start_ = TickCount32();
  }
  const char* Name() const override { return "headless"; }
  std::vector<TMonitorInfo> Monitors() override { return {}; }  // the configured ones
  NativeWin Create(const TNativeDesc&) override {
    live_.insert(++next_);
    return next_;
  }
  void Update(NativeWin, const TNativeDesc&) override {}
  void Destroy(NativeWin win) override { live_.erase(win); }
  void Present(NativeWin win, const std::uint32_t* bits, int stride, int width, int height, const RECT&) override {
    // Stepped frames are captured where the device presents them.
    if (captureDir_.empty() || width <= 0 || height <= 0 || FrameStepCaptures()) return;
    if (captureLimit_ >= 0 && frames_ >= captureLimit_) return;
    char name[32];
    std::snprintf(name, sizeof name, "%06lld.png", static_cast<long long>(frames_));
    if (!WriteCapturePng(captureDir_ + "/" + name, bits, stride, width, height)) return;
    AppendCaptureLine(captureDir_, frames_, TickCount32() - start_, win, LastFrameShowTime());
    ++frames_;
  }
  void Pump(TInputSink& sink) override {
    if (quitSent_ || live_.empty()) return;
    // A capture run ends with its last frame, also for a show that stands
    // at its end and draws no more.
    if (!captureDir_.empty() && captureLimit_ >= 0 &&
        (FrameStepCaptures() ? SteppedFrameCount() : frames_) >= captureLimit_) {
      quitSent_ = true;
      sink.CloseRequested(*live_.begin());
      return;
    }
    if (quitAfter_ < 0) return;
    // Captured stepped frames count show time: the run ends after the same
    // frames whatever the start-up took.
    const std::int64_t showTime = FrameStepCaptures() ? LastFrameShowTime() : -1;
    const std::int64_t programTime = std::int64_t(std::uint32_t(TickCount32() - start_));
    if (showTime >= 0) {
      // A show standing still (paused, waiting) still ends, later.
      if (showTime < quitAfter_ && programTime < 4 * quitAfter_ + 10000) return;
    } else if (FrameStepMs() && SteppedFrameCount() == 0) {
      // A stepped clock without frames never moves: real time ends the run.
      if (std::chrono::steady_clock::now() - realStart_ < std::chrono::milliseconds(quitAfter_)) return;
    } else if (programTime < quitAfter_) {
      return;
    }
    quitSent_ = true;
    sink.CloseRequested(*live_.begin());
  }
  bool WaitsNatively() const override { return false; }
  void Wait(int) override {}
  void Wake() override {}
  bool CursorPos(POINT&) override { return false; }
  void GrabPointer(bool) override {}
  void SetCursor(std::uintptr_t) override {}
  int TestWindowCount() override { return int(live_.size()); }

private:
  std::string captureDir_;
  std::int64_t captureLimit_ = -1;
  std::int64_t frames_ = 0;
  NativeWin next_ = 0;
  std::set<NativeWin> live_;
  std::int64_t quitAfter_;
  bool quitSent_ = false;
  std::uint32_t start_ = 0;
  std::chrono::steady_clock::time_point realStart_ = std::chrono::steady_clock::now();
};

}  // namespace

std::unique_ptr<TBackend> CreateHeadlessBackend() {
  // ZM_QUIT_AFTER_MS: the main window (the first one shown) is asked to close
  // after that much program time. ZM_CAPTURE_DIR: every presented frame of a
  // top-level as a PNG file with a line in frames.tsv; ZM_CAPTURE_LIMIT ends
  // the run (as ZM_QUIT_AFTER_MS does) once that many frames are captured.
  std::string dir;
  GetEnv("ZM_CAPTURE_DIR", dir);
  return CreateHeadlessBackend(GetEnvNumber("ZM_QUIT_AFTER_MS"), dir, GetEnvNumber("ZM_CAPTURE_LIMIT"));
}

std::unique_ptr<TBackend> CreateHeadlessBackend(std::int64_t quitAfterMs, const std::string& captureDir,
                                                std::int64_t captureLimit) {
  return std::make_unique<THeadless>(quitAfterMs, captureDir, captureLimit);
}

}  // namespace plat::user
