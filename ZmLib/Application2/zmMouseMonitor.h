#pragma once
// TMouseMonitor watches the pointer over a form: whether it is inside the
// client area (polled every 20 ms while it is and has lately moved; once it
// rests, looked at again on the form's mouse events and when the window
// system says it left the window) and whether it has been still long enough
// to hide the cursor. UI thread only.
#include <cstdint>
#include <functional>

#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Application2/zmTimer2.h"

namespace zm {

// The pointer's screen position; false when it cannot be read. Tests
// install their own; nullptr restores the system's.
using TCursorPosHook = bool (*)(TPoint& screen);
TCursorPosHook SetCursorPosHook(TCursorPosHook hook);
bool GetCursorScreenPos(TPoint& screen);

class TMouseMonitor : public TRefObject {
 public:
  using TNotify = std::function<void(TMouseMonitor* sender)>;

  // Form must be given (assertion). With FreeWithForm the form's end also
  // releases the caller's reference.
  TMouseMonitor(TZmForm* form, bool freeWithForm);
  void Dispose() override;

  void SetOnEnter(TNotify method);
  // Runs Check at once when the pointer is inside.
  void SetOnLeave(TNotify method);
  TNotify OnFormEvent;
  TNotify OnHiddenChanged;
  TNotify OnTick;

  // The form is visible and the pointer lies in its client rectangle.
  bool IsInside();
  // Restarts the idle time; calls OnHiddenChanged on a change.
  void SetHidden(bool hidden);
  // Negative counts as 0 (never hidden by time).
  void SetHideDelay(std::int32_t ms);
  // Enter and leave, the polling timer, hiding after the delay.
  void Check();
  // Shows the cursor again after a move of 5 pixels or more on either axis.
  void MovedCheck();

  TZmForm* Form() const { return form_; }
  bool Inside() const { return inside_; }
  bool Hidden() const { return hidden_; }
  std::int32_t HideDelay() const { return hideDelay_; }
  bool Polling() const { return timer_ != nullptr; }
  // The polling interval now (ms); 0 while not polling.
  std::int32_t PollInterval() const;

  static constexpr std::int32_t kPollMs = 20;
  static constexpr std::int32_t kRestAfterMs = 1000;
  static constexpr std::int64_t kNoPoll = -1;

 private:
  static void FormEvent(void* data, TRefObject* sender, std::int32_t eventId, std::intptr_t param);
  static void TimerEvent(void* data, TMultiTimerEvent* event);
  void Detach();

  TZmForm* form_;
  bool freeWithForm_;
  TMultiTimerEvent* timer_ = nullptr;
  bool inside_ = false;
  TNotify onEnter_, onLeave_;
  std::int32_t hideDelay_ = 0;
  bool hidden_ = false;
  TPoint lastPos_{INT32_MIN + 1, INT32_MIN + 1};
  std::uint32_t lastMoveTick_ = 0;
  std::uint32_t lastEventTick_ = 0;  // the form's last mouse event
};

}  // namespace zm
