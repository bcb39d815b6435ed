#include "OruLib2/OruViewer/OruThreads.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

// The thread's queue: each queued event wakes a loop that waits for work.
class TOruThreadQueue : public TThreadEventList {
public:
  explicit TOruThreadQueue(TOruThread* thread) : thread_(thread) {}
  void WakeOwner(std::int32_t kind) override {
    (void)kind;
    thread_->Wake();
  }

private:
  TOruThread* thread_;
};

// ---- TOruThread ------------------------------------------------------------------

TOruThread::TOruThread() {
  events_ = MakeRef<TOruThreadQueue>(this).Detach();
  events_->OnEventCode = &TOruThread::EventThunk;
  events_->OnEventObject = this;
}

void TOruThread::Dispose() {
  TThread::Dispose();
  if (events_) events_->Close();
  FreeAndNil(events_);
}

TThreadEventList* TOruThread::Events() const { return events_; }

void TOruThread::EventThunk(void* object, TRefObject* sender, std::int32_t id, bool& handled, TRefObject* data) {
  static_cast<TOruThread*>(object)->HandleEvent(sender, id, handled, data);
}

void TOruThread::Execute() {
  // Sends from the thread itself are handled at once, not queued for itself.
  if (events_) events_->BindOwner();
  DoStart();
  while (!Terminated()) Step();
  DoStop();
}

void TOruThread::Terminate() {
  if (events_) events_->Close();
  TThread::Terminate();
  Wake();
}

void TOruThread::HandleEvent(TRefObject* sender, std::int32_t id, bool& handled, TRefObject* data) {
  (void)sender;
  (void)id;
  (void)handled;
  (void)data;
}

void TOruThread::DoStop() { running_.store(false); }

bool TOruThread::Start() {
  const bool started = TThread::Start();
  running_.store(started);
  return started;
}

bool TOruThread::Stop(std::uint32_t timeoutMs) {
  Terminate();
  return Wait(timeoutMs);
}

void TOruThread::ProcessEvents() {
  if (events_) events_->ProcessEvents();
}

void TOruThread::Wake() {
  {
    std::lock_guard<std::mutex> g(wakeLock_);
    woken_ = true;
  }
  wakeCv_.notify_all();
}

bool TOruThread::WaitForEvents(std::uint32_t timeoutMs) {
  if (Terminated() || (events_ && events_->Count() > 0)) {
    std::lock_guard<std::mutex> g(wakeLock_);
    woken_ = false;
    return true;
  }
  std::unique_lock<std::mutex> l(wakeLock_);
  const auto woken = [this] { return woken_ || Terminated(); };
  bool result;
  if (timeoutMs == kInfinite)
    wakeCv_.wait(l, woken), result = true;
  else
    result = wakeCv_.wait_for(l, std::chrono::milliseconds(timeoutMs), woken);
  woken_ = false;
  return result;
}

// ---- TOruEventData -------------------------------------------------------------

TOruEventData::TOruEventData(std::int32_t id, std::span<const std::int32_t> params, bool ownsData, TRefObject* data)
    : Id(id), Params(params.begin(), params.end()), Data(data), OwnsData(ownsData) {}

void TOruEventData::Dispose() {
  if (OwnsData) FreeAndNil(Data);
  Data = nullptr;
  TRefObject::Dispose();
}

// ---- TCustomOruEngine ------------------------------------------------------------

TCustomOruEngine::TCustomOruEngine(TPostEventList* listener) {
  ZM_ASSERT(listener != nullptr, "Listener=nil");
  listener_ = TRef<TPostEventList>(listener);
  listenerEventId_ = listener->NewEventId();
  listener->AddHandler(listenerEventId_, &TCustomOruEngine::ListenerThunk, this);
}

void TCustomOruEngine::Dispose() {
  if (TRef<TPostEventList> l = std::move(listener_))
    l->RemoveHandler(listenerEventId_, &TCustomOruEngine::ListenerThunk, this);
  TOruThread::Dispose();
}

void TCustomOruEngine::PostToListener(std::int32_t id, std::span<const std::int32_t> params, bool ownsData,
                                      TRefObject* data) {
  TRef<TOruEventData> e = MakeRef<TOruEventData>(id, params, ownsData, data);
  if (listener_) {
    listener_->PostEvent(listenerEventId_, e.Detach());
  }
}

std::int32_t TCustomOruEngine::NextGeneration() { return generation_.fetch_add(1) + 1; }

void TCustomOruEngine::ListenerThunk(void* self, TRefObject* sender, std::int32_t eventId, std::intptr_t param) {
  (void)sender;
  auto* engine = static_cast<TCustomOruEngine*>(self);
  if (!engine || eventId != engine->listenerEventId_) return;
  auto* e = dynamic_cast<TOruEventData*>(reinterpret_cast<TRefObject*>(param));
  if (e) engine->HandleListenerEvent(e);
}

void TCustomOruEngine::HandleListenerEvent(TOruEventData* e) {
  switch (e->Id) {
    case kFirstFrameEvent:
      if (OnFirstFrame) OnFirstFrame(this);
      break;
    case kPositionEvent:
      // Reports of an older open are dropped; so is a report too short to read.
      if (e->Params.size() >= 4 && e->Params[0] == generation_.load() && OnPosition)
        OnPosition(this, e->Params[1], e->Params[3] != 0, e->Params[2]);
      break;
    default:
      if (OnEngineEvent) OnEngineEvent(this, e);
      break;
  }
}

// ---- TDeviceKilledMessenger2 -----------------------------------------------------------

void TDeviceKilledMessenger2::Dispose() {
  if (TOruDrawController* c = controller_.exchange(nullptr)) c->DeviceKilled();
  TRefObject::Dispose();
}

// ---- TOruDrawController ------------------------------------------------------------

TOruDrawController::TOruDrawController(TDrawDevice* device, bool ownsDevice, TDrawerFactory factory,
                                       std::function<void()> onChange)
    : factory_(std::move(factory)), onChange_(std::move(onChange)), device_(device),
      ownsDevice_(ownsDevice && device) {
  if (!device) return;
  if (ownsDevice_) device->AddRef();
  // A form's device calls its refresh callback on a repaint of its window,
  // an activation, a new renderer and a size change (its own bounds link
  // stays); a bare device only has its bounds.
  if (auto* form = dynamic_cast<TZmFormDevice*>(device))
    form->SetOnRefresh([this](TZmFormDevice*) { DeviceRefresh(); });
  else
    device->SetOnBoundsChanged([this](TDrawDevice*) { DeviceRefresh(); });
  TList* objects = device->Objects();
  messenger_ = MakeRef<TDeviceKilledMessenger2>(this).Detach();
  if (!objects || objects->Add(messenger_) < 0) {
    messenger_->controller_.store(nullptr);
    FreeAndNil(messenger_);
  }
}

void TOruDrawController::DeviceKilled() {
  std::lock_guard<std::mutex> g(deviceLock_);
  device_ = nullptr;
  messenger_ = nullptr;
}

void TOruDrawController::Dispose() {
  TDrawDevice* device;
  TDeviceKilledMessenger2* messenger;
  {
    std::lock_guard<std::mutex> g(deviceLock_);
    device = std::exchange(device_, nullptr);
    messenger = std::exchange(messenger_, nullptr);
  }
  // From here the messenger must not reach back into the controller.
  if (messenger) messenger->controller_.store(nullptr);
  if (device) {
    if (ownsDevice_) {
      device->Free();  // frees the messenger with the device's objects
      messenger = nullptr;
    } else {
      if (auto* form = dynamic_cast<TZmFormDevice*>(device))
        form->SetOnRefresh(nullptr);
      else
        device->SetOnBoundsChanged(nullptr);
      TList* objects = device->Objects();
      if (messenger && objects && objects->Remove(messenger) >= 0) FreeAndNil(messenger);
      messenger = nullptr;  // still listed: the device frees it
    }
  } else if (messenger) {
    FreeAndNil(messenger);
  }
  drawer_ = nullptr;
  factory_ = nullptr;
  TRefObject::Dispose();
}

TDrawDevice* TOruDrawController::Device() {
  std::lock_guard<std::mutex> g(deviceLock_);
  return device_;
}

void TOruDrawController::DeviceRefresh() {
  // A storm of repaints logs once: the flag is taken once per engine pass.
  if (!refreshPending_.exchange(true)) LogLine(u"TOruDrawController.DeviceRefresh: DrawDevice Refresh!");
  if (onChange_) onChange_();
}

void TOruDrawController::RndLost() {
  reinited_.store(true);
  LogLine(u"TOruDrawController.RndLost");
  if (onChange_) onChange_();
}

bool TOruDrawController::GetDrawer() {
  if (!drawer_) {
    if (!factory_) return false;
    drawer_ = factory_();
    if (!drawer_) return false;
    drawer_->OnDeviceRecreated = [this] { RndLost(); };
  }
  std::lock_guard<std::mutex> g(deviceLock_);
  return device_ && drawer_->Open(device_);
}

bool TOruDrawController::WindowShown() {
  std::lock_guard<std::mutex> g(deviceLock_);
  const HWND window = device_ ? device_->Window() : nullptr;
  return !window || plat::IsWindowVisible(window);
}

bool TOruDrawController::WindowOffScreen() {
  std::lock_guard<std::mutex> g(deviceLock_);
  const HWND window = device_ ? device_->Window() : nullptr;
  return window && plat::IsWindowOffScreen(window);
}

TSize TOruDrawController::GetSize() {
  std::lock_guard<std::mutex> g(deviceLock_);
  if (!device_) return TSize{0, 0};
  const TRect r = device_->Bounds();
  const auto side = [](std::int32_t a, std::int32_t b) {
    const std::int64_t d = static_cast<std::int64_t>(b) - a;
    return static_cast<std::int32_t>(d < 0 ? 0 : (d > INT32_MAX ? INT32_MAX : d));
  };
  return TSize{side(r.Left, r.Right), side(r.Top, r.Bottom)};
}

bool TOruDrawController::Draw(TDrawItem* rootItem) {
  TDeviceDrawer* d = drawer_ ? drawer_->Drawer() : nullptr;
  return d && d->Draw(rootItem);
}

namespace {

bool RectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

}  // namespace

std::uint32_t TOruDrawController::GetState() {
  std::uint32_t state = 0;
  bool sizeChanged = refreshPending_.exchange(false);
  {
    std::lock_guard<std::mutex> g(deviceLock_);
    if (device_ && device_->IsActive()) state |= dsActive;
    if (!sizeChanged && device_ && drawer_) {
      const TRect dev = device_->Bounds();
      const TRect scr = drawer_->ScreenRect();
      const bool bothEmpty = RectEmpty(dev) && RectEmpty(scr);
      sizeChanged = !bothEmpty && !(dev == scr);
    }
  }
  if (sizeChanged) state |= dsSizeChanged;
  // Re-initialised stays up until a pass finds the screen ready again.
  const bool ready = drawer_ && drawer_->ScreenReady();
  const bool reinited = ready ? reinited_.exchange(false) : reinited_.load();
  if (reinited) state |= dsReinited;
  if (ready) {
    state |= dsReady;
    if (reinited) LogLine(u"TOruDrawController.GetState: Inited, not Reinited");
  }
  return state;
}

}  // namespace oru
