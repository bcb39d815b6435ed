#include "ZmLib/Application2/zmTimer2.h"

#include <algorithm>
#include <vector>

#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

TCreateTimerHook CreateTimerHook = nullptr;

// ---- TCustomWinTimer ---------------------------------------------------------------

void TCustomWinTimer::Dispose() {
  SetEnabled(false);
  TCustomTimer::Dispose();
}

TNotifyHandler TCustomWinTimer::GetOnTimer(void** data) {
  if (data) *data = data_;
  return code_;
}

void TCustomWinTimer::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  UpdateTimer();
}

void TCustomWinTimer::SetInterval(std::uint32_t ms) {
  if (interval_ == ms) return;
  interval_ = ms;
  UpdateTimer();
}

void TCustomWinTimer::SetOnTimer(TNotifyHandler code, void* data) {
  code_ = code;
  data_ = data;
  UpdateTimer();
}

// ---- the multi-timer ------------------------------------------------------------------

namespace {
TMultiTimer* gMultiTimer = nullptr;  // UI thread
}

TMultiTimer* MultiTimer() { return gMultiTimer; }

void TMultiTimerEvent::Dispose() {
  // The last reference is gone: leave the list, and stop the window timer
  // when nothing is left.
  if (TMultiTimer* m = gMultiTimer) {
    if (m->events_) m->events_->Remove(this);
    if (m->EventCount() == 0 && m->timer_) {
      m->timer_->SetEnabled(false);
      m->armed_ = -1;
    }
  }
  TRefObject::Dispose();
}

TMultiTimer::TMultiTimer() : events_(MakeRef<TList>()) {
  ZM_ASSERT(CreateTimerHook != nullptr, "CreateTimerHook not Assigned");
  timer_ = CreateTimerHook();
  ZM_ASSERT(timer_ != nullptr, "CreateTimerHook made no timer");
  timer_->SetOnTimer(&TMultiTimer::OnTimer, this);
}

void TMultiTimer::Dispose() {
  ZM_ASSERT(EventCount() == 0, "TMultiTimer: timed callbacks left at exit");
  FreeAndNil(timer_);
  events_ = nullptr;
  TRefObject::Dispose();
}

TMultiTimerEvent* TMultiTimer::Register(std::int32_t interval, std::int32_t tag, TTimedHandler code, void* data) {
  auto* e = new TMultiTimerEvent();
  e->AfterConstruction();
  e->Interval = interval;
  e->Tag = tag;
  e->Code = code;
  e->Data = data;
  e->Start = GetTimeMs();
  e->Due = e->Start + std::uint32_t(interval);
  if (events_->Add(e) < 0) {
    e->Free();
    return nullptr;
  }
  if (timer_->GetEnabled() && armed_ >= 0 && std::int32_t(std::uint32_t(armed_) - e->Due) < 1) return e;
  try {
    timer_->SetInterval(std::uint32_t(interval));
    armed_ = e->Due;
    timer_->SetEnabled(true);
  } catch (...) {
    // The caller never gets the event: it must not stay registered.
    events_->Remove(e);
    e->Free();
    throw;
  }
  return e;
}

void TMultiTimer::OnTimer(void* data, TRefObject*) { static_cast<TMultiTimer*>(data)->Tick(); }

void TMultiTimer::Tick() {
  std::uint32_t now = GetTimeMs();
  std::int32_t nearest = 2147483647;
  // Each event is held while its turn runs; one released meanwhile (only our
  // reference left) is passed over.
  std::vector<TMultiTimerEvent*> held;
  for (std::int32_t k = 0; k < events_->Count(); ++k) held.push_back(static_cast<TMultiTimerEvent*>(events_->Get(k)));
  for (auto* e : held) e->AddRef();
  std::size_t i = 0;
  try {
    for (; i < held.size(); ++i) {
      TMultiTimerEvent* e = held[i];
      if (e->RefCount() >= 2) {
        std::int32_t delta = std::int32_t(e->Due - now);
        if (delta < 1) {
          std::int32_t count = 0;
          while (std::int32_t(e->Due - now) < 1) {
            e->Due += std::uint32_t(e->Interval);
            ++count;
          }
          e->Missed = count - 1;
          e->Ticks += count;
          delta = std::int32_t(e->Due - now);
          e->Code(e->Data, e);
        }
        nearest = std::min(nearest, delta);
      }
      e->ReleaseRef();
    }
  } catch (...) {
    for (++i; i < held.size(); ++i) held[i]->ReleaseRef();
    throw;
  }
  // The window timer waits for the earliest due time, longer as well as
  // shorter: a late tick must not leave it running at a shorter interval
  // than any callback asks for.
  if (timer_->GetEnabled() && nearest > 0 && nearest < 2147483647) {
    if (timer_->GetInterval() != std::uint32_t(nearest)) timer_->SetInterval(std::uint32_t(nearest));
    armed_ = std::int64_t(std::uint32_t(now + std::uint32_t(nearest)));
  }
}

TMultiTimerEvent* RegisterTimedCallback(std::int32_t interval, std::int32_t tag, TTimedHandler code, void* data) {
  if (interval < 1 || reinterpret_cast<std::uintptr_t>(code) <= 65535) return nullptr;
  if (!gMultiTimer) {
    ZM_ASSERT(CreateTimerHook != nullptr, "CreateTimerHook not Assigned");
    auto* m = new TMultiTimer();
    m->AfterConstruction();
    gMultiTimer = m;
  }
  return gMultiTimer->Register(interval, tag, code, data);
}

void ReleaseTimedCallback(TMultiTimerEvent*& event) {
  TMultiTimerEvent* e = event;
  event = nullptr;
  if (e) e->ReleaseRef();
}

void InitZmTimer2() {}

void FiniZmTimer2() { FreeAndNil(gMultiTimer); }

}  // namespace zm
