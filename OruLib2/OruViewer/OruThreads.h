#pragma once
// The player's worker threads (start step, loop step until told to stop,
// stop step, an event queue drained by the loop), the engine's events to its
// listener on the user-interface thread, and the engine's link to the draw
// device, which folds device events into a state word read once per pass.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "ZmLib/3DBasics/Dev3D.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/Application2/zmThreadEventList.h"
#include "ZmLib/Win32/SysLocks.h"

namespace oru {

class TOruThreadQueue;

class TOruThread : public zm::TThread {
public:
  TOruThread();
  void Dispose() override;
  // Start step, loop step until terminated, stop step.
  void Execute() override;
  // Closes the queue first, so that no sender stays blocked on a thread
  // that will not drain again.
  void Terminate() override;
  // Every event posted or sent to the thread, on the thread.
  virtual void HandleEvent(zm::TRefObject* sender, std::int32_t id, bool& handled, zm::TRefObject* data);
  virtual void DoStart() {}
  virtual void DoStop();
  virtual void Step() = 0;
  // False when the thread could not be started (or already runs).
  virtual bool Start();
  // True when the thread ended within the wait.
  virtual bool Stop(std::uint32_t timeoutMs = kDisposeWaitMs);

  zm::TThreadEventList* Events() const;
  bool Running() const { return running_.load(); }

protected:
  // Handles every queued event (on the thread).
  void ProcessEvents();
  // Ends a wait in WaitForEvents now or, when none runs, the next one at once.
  void Wake();
  // Blocks until an event is queued, the thread is told to stop or the
  // time-out passes; false on time-out.
  bool WaitForEvents(std::uint32_t timeoutMs);

private:
  friend class TOruThreadQueue;
  static void EventThunk(void* object, zm::TRefObject* sender, std::int32_t id, bool& handled,
                         zm::TRefObject* data);

  TOruThreadQueue* events_ = nullptr;  // owned
  std::atomic<bool> running_{false};
  std::mutex wakeLock_;
  std::condition_variable wakeCv_;
  bool woken_ = false;  // guarded by wakeLock_
};

// What the engine tells its listener; the listener's thread owns it once
// it was posted.
class TOruEventData : public zm::TRefObject {
public:
  TOruEventData(std::int32_t id, std::span<const std::int32_t> params, bool ownsData, zm::TRefObject* data);
  void Dispose() override;

  std::int32_t Id = 0;
  std::vector<std::int32_t> Params;
  zm::TRefObject* Data = nullptr;
  bool OwnsData = false;
};

class TCustomOruEngine : public TOruThread {
public:
  static constexpr std::int32_t kFirstFrameEvent = 1;
  static constexpr std::int32_t kPositionEvent = 2;

  using TFirstFrameEvent = std::function<void(TCustomOruEngine* sender)>;
  using TPositionEvent = std::function<void(TCustomOruEngine* sender, std::int32_t time, bool ended,
                                            std::int32_t endTime)>;
  using TEngineEvent = std::function<void(TCustomOruEngine* sender, TOruEventData* eventData)>;

  // Listener must be given.
  explicit TCustomOruEngine(zm::TPostEventList* listener);
  void Dispose() override;

  // Queued for the listener's thread; with OwnsData the record frees Data.
  void PostToListener(std::int32_t id, std::span<const std::int32_t> params, bool ownsData, zm::TRefObject* data);
  // Every open or position request carries the number returned here.
  std::int32_t NextGeneration();
  std::int32_t Generation() const { return generation_.load(); }
  std::int32_t ListenerEventId() const { return listenerEventId_; }

  // Set before the thread starts; called on the listener's thread.
  TFirstFrameEvent OnFirstFrame;
  TPositionEvent OnPosition;
  TEngineEvent OnEngineEvent;

private:
  static void ListenerThunk(void* self, zm::TRefObject* sender, std::int32_t eventId, std::intptr_t param);
  void HandleListenerEvent(TOruEventData* eventData);

  zm::TRef<zm::TPostEventList> listener_;
  std::int32_t listenerEventId_ = 0;
  std::atomic<std::int32_t> generation_{0};
};

// What the controller needs of the 3D drawer and its screen.
class TOruDrawerLink : public zm::TRefObject {
public:
  virtual zm::TDeviceDrawer* Drawer() = 0;
  // The drawer's open operation on the device.
  virtual bool Open(zm::TDrawDevice* device) = 0;
  virtual bool ScreenReady() = 0;
  virtual zm::TRect ScreenRect() = 0;
  // Called by the screen after the device was lost and made again.
  std::function<void()> OnDeviceRecreated;
};

class TOruDrawController;

// Sits in the draw device's object list; when the device ends it frees the
// messenger, which cuts the controller off the device.
class TDeviceKilledMessenger2 : public zm::TRefObject {
public:
  explicit TDeviceKilledMessenger2(TOruDrawController* controller) : controller_(controller) {}
  void Dispose() override;

private:
  friend class TOruDrawController;
  std::atomic<TOruDrawController*> controller_;
};

class TOruDrawController : public zm::TRefObject {
public:
  static constexpr std::uint32_t dsReady = 1;
  static constexpr std::uint32_t dsReinited = 2;
  static constexpr std::uint32_t dsSizeChanged = 4;
  static constexpr std::uint32_t dsActive = 8;

  using TDrawerFactory = std::function<zm::TRef<TOruDrawerLink>()>;

  // The drawer is made by Factory on first use; without one there is none.
  // OnChange runs (on the device's thread) after every refresh or device
  // loss, so that a waiting engine passes again at once.
  TOruDrawController(zm::TDrawDevice* device, bool ownsDevice, TDrawerFactory factory,
                     std::function<void()> onChange = nullptr);
  void Dispose() override;

  void DeviceRefresh();
  void RndLost();
  bool GetDrawer();
  zm::TSize GetSize();
  bool Draw(zm::TDrawItem* rootItem);
  std::uint32_t GetState();

  zm::TDrawDevice* Device();
  TOruDrawerLink* DrawerLink() const { return drawer_.get(); }
  // False while the device's window is not shown yet (or hidden): nothing
  // drawn into it is seen. True without a device or a window.
  bool WindowShown();
  // True while the device's window is shown but nobody can see it
  // (minimised, or kept out of sight by the display).
  bool WindowOffScreen();

private:
  friend class TDeviceKilledMessenger2;
  void DeviceKilled();

  TDrawerFactory factory_;
  const std::function<void()> onChange_;
  zm::TRef<TOruDrawerLink> drawer_;
  std::mutex deviceLock_;  // the device and messenger links: the device may end on another thread
  zm::TDrawDevice* device_ = nullptr;             // one reference when owned
  TDeviceKilledMessenger2* messenger_ = nullptr;  // the device's list holds its reference
  bool ownsDevice_ = false;
  std::atomic<bool> refreshPending_{false};
  std::atomic<bool> reinited_{false};
};

}  // namespace oru
