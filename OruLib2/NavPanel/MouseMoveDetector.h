#pragma once
// TMouseMoveDetector tells real pointer movement from jitter and whether the
// pointer has been still for an interval.
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"

namespace oru {

class TMouseMoveDetector : public zm::TRefObject {
 public:
  TMouseMoveDetector() = default;

  // True when the event counts as movement: 6 pixels or more (x and y
  // distances added) from the last counted position. The first event after
  // creation, and after every 256th counted move, only stores the position.
  bool MouseMove(std::int32_t x, std::int32_t y);
  // True: idle at once. False: the activity time restarts at the next IsIdle.
  void SetIdle(bool idle);
  // More than the interval passed since the last activity (wrapping clock).
  bool IsIdle();

  std::uint32_t Interval() const { return interval_; }
  void SetInterval(std::uint32_t ms) { interval_ = ms; }

 private:
  std::uint8_t moveCount_ = 0;
  bool restartPending_ = false;
  std::int32_t lastX_ = 0, lastY_ = 0;
  std::uint32_t lastActivity_ = 0;
  std::uint32_t interval_ = 0;
};

}  // namespace oru
