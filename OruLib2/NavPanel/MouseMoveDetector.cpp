#include "OruLib2/NavPanel/MouseMoveDetector.h"

#include "ZmLib/Win32/winSysUtils.h"

namespace oru {

namespace {
// Far-apart coordinates must not overflow the distance.
std::uint64_t Distance(std::int32_t a, std::int32_t b) {
  std::int64_t d = std::int64_t(a) - std::int64_t(b);
  return std::uint64_t(d < 0 ? -d : d);
}
}  // namespace

bool TMouseMoveDetector::MouseMove(std::int32_t x, std::int32_t y) {
  if (moveCount_ == 0) {
    lastX_ = x;
    lastY_ = y;
    ++moveCount_;
    return false;
  }
  if (Distance(lastX_, x) + Distance(lastY_, y) < 6) return false;
  lastX_ = x;
  lastY_ = y;
  lastActivity_ = zm::GetTimeMs();
  ++moveCount_;  // wraps after 255: the next event only stores the position
  return true;
}

void TMouseMoveDetector::SetIdle(bool idle) {
  restartPending_ = !idle;
  if (idle) lastActivity_ = zm::GetTimeMs() - interval_ - 1;
}

bool TMouseMoveDetector::IsIdle() {
  const std::uint32_t now = zm::GetTimeMs();
  if (restartPending_) {
    restartPending_ = false;
    lastActivity_ = now;
  }
  return std::uint32_t(now - lastActivity_) > interval_;
}

}  // namespace oru
