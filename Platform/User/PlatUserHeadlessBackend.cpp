// The headless display: frame buffers stay in memory (the window manager
// keeps them), input comes from plat::headless, message boxes answer at once.
#include <set>
#include <string>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUserBackend.h"

namespace plat::user {

namespace {

class THeadless final : public TBackend {
public:
  explicit THeadless(std::int64_t quitAfterMs) : quitAfter_(quitAfterMs) { start_ = TickCount32(); }
  const char* Name() const override { return "headless"; }
  std::vector<TMonitorInfo> Monitors() override { return {}; }  // the configured ones
  NativeWin Create(const TNativeDesc&) override {
    live_.insert(++next_);
    return next_;
  }
  void Update(NativeWin, const TNativeDesc&) override {}
  void Destroy(NativeWin win) override { live_.erase(win); }
  void Present(NativeWin, const std::uint32_t*, int, int, int, const RECT&) override {}
  void Pump(TInputSink& sink) override {
    if (quitAfter_ < 0 || quitSent_ || live_.empty()) return;
    if (std::int64_t(std::uint32_t(TickCount32() - start_)) < quitAfter_) return;
    quitSent_ = true;
    sink.CloseRequested(*live_.begin());
  }
  bool WaitsNatively() const override { return false; }
  void Wait(int) override {}
  void Wake() override {}
  bool CursorPos(POINT&) override { return false; }
  void GrabPointer(bool) override {}
  void SetCursor(std::uintptr_t) override {}
  int MessageBox(NativeWin, const std::u16string& text, const std::u16string& caption, UINT,
                 int defaultAnswer) override {
    // One line on standard error, and the default button.
    std::string line = ToUtf8(caption) + ": " + ToUtf8(text);
    for (char& c : line)
      if (c == '\r' || c == '\n') c = ' ';
    WriteStdErr(line + "\n");
    return defaultAnswer;
  }

  int TestWindowCount() override { return int(live_.size()); }

private:
  NativeWin next_ = 0;
  std::set<NativeWin> live_;
  std::int64_t quitAfter_;
  bool quitSent_ = false;
  std::uint32_t start_ = 0;
};

}  // namespace

std::unique_ptr<TBackend> CreateHeadlessBackend() {
  // ZM_QUIT_AFTER_MS: the main window (the first one shown) is asked to close
  // after that much program time.
  std::int64_t quitAfter = -1;
  std::string v;
  if (GetEnv("ZM_QUIT_AFTER_MS", v)) {
    try {
      quitAfter = std::stoll(v);
    } catch (...) {
      quitAfter = -1;
    }
  }
  return CreateHeadlessBackend(quitAfter);
}

std::unique_ptr<TBackend> CreateHeadlessBackend(std::int64_t quitAfterMs) {
  return std::make_unique<THeadless>(quitAfterMs);
}

}  // namespace plat::user
