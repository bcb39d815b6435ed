#pragma once
// UI-thread timers: the abstract window timer, the factory hook that makes
// one, and the multi-timer through which many short timed callbacks share a
// single window timer. Not for frame timing.
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmLists.h"

namespace zm {

ZM_COMMON_EXCEPTION(ETimerError, TCommonException)

// (data, Sender)
using TNotifyHandler = void (*)(void* data, TRefObject* sender);

class TCustomTimer : public TRefObject {
public:
  virtual bool GetEnabled() = 0;
  virtual std::uint32_t GetInterval() = 0;
  virtual TNotifyHandler GetOnTimer(void** data) = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual void SetInterval(std::uint32_t ms) = 0;
  virtual void SetOnTimer(TNotifyHandler code, void* data) = 0;
};

class TCustomWinTimer : public TCustomTimer {
public:
  void Dispose() override;
  bool GetEnabled() override { return enabled_; }
  std::uint32_t GetInterval() override { return interval_; }
  TNotifyHandler GetOnTimer(void** data) override;
  // The setters store the value and update the window timer: enabled and
  // interval only when they change, the handler always.
  void SetEnabled(bool enabled) override;
  void SetInterval(std::uint32_t ms) override;
  void SetOnTimer(TNotifyHandler code, void* data) override;
  virtual void UpdateTimer() = 0;
  bool Armed() const { return armed_; }

protected:
  bool enabled_ = false;
  std::uint32_t interval_ = 1000;
  TNotifyHandler code_ = nullptr;
  void* data_ = nullptr;
  bool armed_ = false;
};

// Makes a window timer; the application unit fills it.
using TCreateTimerHook = TCustomTimer* (*)();
extern TCreateTimerHook CreateTimerHook;

class TMultiTimerEvent;
// (data, Event)
using TTimedHandler = void (*)(void* data, TMultiTimerEvent* event);

class TMultiTimerEvent : public TRefObject {
public:
  void Dispose() override;
  std::int32_t Interval = 1;
  std::int32_t Tag = 0;
  TTimedHandler Code = nullptr;
  void* Data = nullptr;
  std::int32_t Ticks = 0;   // due times passed
  std::int32_t Missed = 0;  // due times skipped at the last call
  std::uint32_t Start = 0, Due = 0;
};

class TMultiTimer : public TRefObject {
public:
  TMultiTimer();
  void Dispose() override;
  TMultiTimerEvent* Register(std::int32_t interval, std::int32_t tag, TTimedHandler code, void* data);
  void Tick();
  std::size_t EventCount() const { return events_ ? std::size_t(events_->Count()) : 0; }
  TCustomTimer* WindowTimer() const { return timer_; }

private:
  friend class TMultiTimerEvent;
  static void OnTimer(void* data, TRefObject* sender);
  TCustomTimer* timer_ = nullptr;
  TRef<TList> events_;  // of TMultiTimerEvent; each holds its place until freed
  std::int64_t armed_ = -1;               // the earliest due time armed
};

// A timed callback: nullptr when the interval is below 1 or code is no routine.
TMultiTimerEvent* RegisterTimedCallback(std::int32_t interval, std::int32_t tag, TTimedHandler code, void* data);
// Drops the caller's registration (nothing for nullptr) and clears the variable.
void ReleaseTimedCallback(TMultiTimerEvent*& event);
// The global multi-timer (nullptr before the first registration).
TMultiTimer* MultiTimer();

void InitZmTimer2();
void FiniZmTimer2();

}  // namespace zm
