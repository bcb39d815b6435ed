#include "ZmLib/Application2/zmMouseMonitor.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {

bool SystemCursorPos(TPoint& screen) {
  plat::POINT pt;
  if (!plat::GetCursorPos(&pt)) return false;
  screen = {pt.x, pt.y};
  return true;
}

TCursorPosHook gCursorPos = &SystemCursorPos;

constexpr std::array<std::int32_t, 5> kEvents = {feDestroying, FormChangeEvent(fcCaptureLost),
                                                 FormChangeEvent(fcVisible), feMouse, feMouseLeave};

}  // namespace

TCursorPosHook SetCursorPosHook(TCursorPosHook hook) {
  TCursorPosHook previous = gCursorPos;
  gCursorPos = hook ? hook : &SystemCursorPos;
  return previous;
}

bool GetCursorScreenPos(TPoint& screen) { return gCursorPos(screen); }

TMouseMonitor::TMouseMonitor(TZmForm* form, bool freeWithForm) : form_(form), freeWithForm_(freeWithForm) {
  ZM_ASSERT(form, "Form not Assigned");
  if (form_->Events()) form_->Events()->AddHandlers(kEvents, &FormEvent, this);
}

void TMouseMonitor::Dispose() {
  freeWithForm_ = false;
  Detach();
  TRefObject::Dispose();
}

void TMouseMonitor::Detach() {
  ReleaseTimedCallback(timer_);
  if (!form_) return;
  if (form_->Events()) form_->Events()->RemoveHandlers(kEvents, &FormEvent, this);
  form_ = nullptr;
  if (freeWithForm_) {
    freeWithForm_ = false;
    Free();
  }
}

void TMouseMonitor::SetOnEnter(TNotify method) { onEnter_ = std::move(method); }

void TMouseMonitor::SetOnLeave(TNotify method) {
  onLeave_ = std::move(method);
  if (IsInside()) {
    // Found inside: watched closely at first, as after a move.
    inside_ = true;
    lastEventTick_ = GetTimeMs();
    Check();
  }
}

bool TMouseMonitor::IsInside() {
  if (!form_ || !form_->Visible()) return false;
  TPoint p;
  if (!GetCursorScreenPos(p)) return false;
  p = form_->ScreenToClient(p);
  TRect r = form_->GetClientRect();
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

void TMouseMonitor::SetHidden(bool hidden) {
  lastMoveTick_ = GetTimeMs();
  TPoint p;
  if (GetCursorScreenPos(p)) lastPos_ = p;
  if (hidden == hidden_) return;
  hidden_ = hidden;
  if (OnHiddenChanged) OnHiddenChanged(this);
}

void TMouseMonitor::SetHideDelay(std::int32_t ms) {
  if (ms < 0) ms = 0;
  if (ms == hideDelay_) return;
  hideDelay_ = ms;
  SetHidden(hidden_);
}

void TMouseMonitor::Check() {
  TRef<TMouseMonitor> keep(this);  // a callback may drop the last other reference
  if (OnTick) OnTick(this);
  if (hideDelay_ >= 1 && !hidden_ && std::uint32_t(GetTimeMs() - lastMoveTick_) > std::uint32_t(hideDelay_))
    SetHidden(true);
  if (onEnter_ || onLeave_) {
    const bool inside = IsInside();
    if (inside != inside_) {
      inside_ = inside;
      if (inside) lastEventTick_ = GetTimeMs();
      if (inside && onEnter_)
        onEnter_(this);
      else if (!inside && onLeave_)
        onLeave_(this);
    }
    if (!inside_ || !form_) {
      ReleaseTimedCallback(timer_);
    } else {
      // A pointer that moved lately may leave between its moves; a resting
      // one only moves with an event of the form (a move, or the window's
      // leave when it goes out in one move), which looks again: it is
      // looked at only in time to hide it.
      const std::uint32_t now = GetTimeMs();
      const bool resting = std::uint32_t(now - lastEventTick_) >= std::uint32_t(kRestAfterMs);
      const bool hideDue = hideDelay_ >= 1 && !hidden_;
      std::int64_t interval = resting ? kNoPoll : kPollMs;
      if (hideDue) {
        const std::int64_t toHide = std::int64_t(hideDelay_) + 1 - std::int64_t(std::uint32_t(now - lastMoveTick_));
        interval = std::max<std::int64_t>(kPollMs, interval == kNoPoll ? toHide : std::min(interval, toHide));
      }
      if (timer_ && (interval == kNoPoll || timer_->Interval != interval)) ReleaseTimedCallback(timer_);
      if (!timer_ && interval != kNoPoll) timer_ = RegisterTimedCallback(std::int32_t(interval), 0, &TimerEvent, this);
    }
  }
}

std::int32_t TMouseMonitor::PollInterval() const { return timer_ ? timer_->Interval : 0; }

void TMouseMonitor::MovedCheck() {
  if (hideDelay_ == 0) return;
  TPoint p;
  if (!GetCursorScreenPos(p)) return;
  if (std::llabs(std::int64_t(p.X) - lastPos_.X) >= 5 || std::llabs(std::int64_t(p.Y) - lastPos_.Y) >= 5)
    SetHidden(false);
}

void TMouseMonitor::TimerEvent(void* data, TMultiTimerEvent* /*event*/) { static_cast<TMouseMonitor*>(data)->Check(); }

void TMouseMonitor::FormEvent(void* data, TRefObject* /*sender*/, std::int32_t eventId, std::intptr_t /*param*/) {
  auto* self = static_cast<TMouseMonitor*>(data);
  switch (eventId) {
    case feDestroying:
      self->Detach();
      break;
    case FormChangeEvent(fcCaptureLost):
      if (self->form_ && !self->form_->HasMouseCapture() && self->OnFormEvent) self->OnFormEvent(self);
      break;
    case FormChangeEvent(fcVisible):
    case feMouseLeave:
      self->Check();
      break;
    case feMouse: {
      TRef<TMouseMonitor> keep(self);
      self->lastEventTick_ = GetTimeMs();
      self->Check();
      self->MovedCheck();
      break;
    }
    default:
      ZM_ASSERT(false, "Unexpected form event");
  }
}

}  // namespace zm
