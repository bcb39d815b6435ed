#include "ZmLib/3DBasics/Dev3D.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace zm {

namespace {

bool IsEmptyRect(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

bool SameBounds(const TRect& a, const TRect& b) { return a == b || (IsEmptyRect(a) && IsEmptyRect(b)); }

std::int32_t Clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

// ---- T3DLostNotifier ---------------------------------------------------------------------

void T3DLostNotifier::SetLostEvent(T3DLostEvent event) {
  std::lock_guard<std::mutex> g(m_);
  event_ = std::move(event);
}

bool T3DLostNotifier::HasLostEvent() const {
  std::lock_guard<std::mutex> g(m_);
  return static_cast<bool>(event_);
}

void T3DLostNotifier::DoLost(TRefObject* sender) {
  T3DLostEvent event;
  {
    std::lock_guard<std::mutex> g(m_);
    event = event_;
  }
  if (event) event(sender);
}

// ---- TLostLink -------------------------------------------------------------------------

TLostLink::TLostLink() : state_(std::make_shared<TState>()) {}

T3DLostEvent TLostLink::Event(std::function<void()> fn) const {
  return [state = state_, fn = std::move(fn)](TRefObject*) {
    std::lock_guard<std::recursive_mutex> g(state->Lock);
    if (!state->Cut) fn();
  };
}

void TLostLink::Cut() {
  std::lock_guard<std::recursive_mutex> g(state_->Lock);
  state_->Cut = true;
}

// ---- TDrawDevice -------------------------------------------------------------------------

TDrawDevice::TDrawDevice(HWND window)
    : window_(window), lock_(MakeRef<TCriticalSection>()), objects_(MakeRef<TList>()) {}

void TDrawDevice::Dispose() {
  std::exception_ptr failure;
  // The window's objects go first and see no list while they go; a device
  // store that goes may still reach the renderers through their lost events.
  if (TRef<TList> objects = std::move(objects_)) {
    try {
      objects->DetachAndFree();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (lock_) {
    TLockScope g(lock_.get());
    for (T3DRenderer* r : renderers_) r->link_.Device = nullptr;
    renderers_.clear();
    renderers_.shrink_to_fit();
    onBoundsChanged_ = nullptr;
  }
  lock_ = nullptr;
  TRefObject::Dispose();
  if (failure) std::rethrow_exception(failure);
}

bool TDrawDevice::SetBounds(const TRect& bounds, const TPoint& screenOrigin, bool fullScreen) {
  TBoundsChangedEvent changed;
  {
    TLockScope g(lock_.get());
    if (SameBounds(bounds_, bounds) && screenOrigin_ == screenOrigin && fullScreen_ == fullScreen) return false;
    bounds_ = bounds;
    screenOrigin_ = screenOrigin;
    fullScreen_ = fullScreen;
    // A renderer told may free itself or others (a lost device): only those
    // still bound are told.
    const std::vector<T3DRenderer*> bound = renderers_;
    for (T3DRenderer* r : bound)
      if (std::find(renderers_.begin(), renderers_.end(), r) != renderers_.end() && r->link_.Whole)
        r->UpdateBounds();
    changed = onBoundsChanged_;
  }
  if (changed) changed(this);
  return true;
}

bool TDrawDevice::IsActive() { return true; }

TRect TDrawDevice::Bounds() const {
  TLockScope g(lock_.get());
  return bounds_;
}

TPoint TDrawDevice::ScreenOrigin() const {
  TLockScope g(lock_.get());
  return screenOrigin_;
}

bool TDrawDevice::FullScreen() const {
  TLockScope g(lock_.get());
  return fullScreen_;
}

TRect TDrawDevice::GetDeviceScreenRect() const {
  TLockScope g(lock_.get());
  const std::int64_t width = std::int64_t(bounds_.Right) - bounds_.Left;
  const std::int64_t height = std::int64_t(bounds_.Bottom) - bounds_.Top;
  return {screenOrigin_.X, screenOrigin_.Y, Clamp32(screenOrigin_.X + width), Clamp32(screenOrigin_.Y + height)};
}

void TDrawDevice::SetOnBoundsChanged(TBoundsChangedEvent event) {
  TLockScope g(lock_.get());
  onBoundsChanged_ = std::move(event);
}

std::int32_t TDrawDevice::RendererCount() const {
  TLockScope g(lock_.get());
  return static_cast<std::int32_t>(renderers_.size());
}

T3DRenderer* TDrawDevice::RendererAt(std::int32_t index) const {
  TLockScope g(lock_.get());
  if (index < 0 || std::size_t(index) >= renderers_.size()) return nullptr;
  return renderers_[std::size_t(index)];
}

// ---- T3DEngine ---------------------------------------------------------------------------

bool T3DEngine::CheckDevice() { return true; }

TCreate3DEngineHook Create3DEngineHook = nullptr;

// ---- T3DRenderer -------------------------------------------------------------------------

T3DRenderer::T3DRenderer(TDrawDevice* device) {
  link_.Owner = this;
  if (!device) return;
  ZM_ASSERT(device->lock_, "T3DRenderer.Create - the draw device is disposed");
  link_.Lock = device->lock_;
  TLockScope g(link_.Lock.get());
  device->renderers_.push_back(this);
  link_.Device = device;
}

void T3DRenderer::AfterConstruction() {
  TRefObject::AfterConstruction();
  if (TCriticalSection* lock = link_.Lock.get()) {
    TLockScope g(lock);
    link_.Whole = true;
  }
}

void T3DRenderer::TLink::Unlink() noexcept {
  if (!Lock) return;
  {
    TLockScope g(Lock.get());
    if (Device) {
      auto& list = Device->renderers_;
      list.erase(std::remove(list.begin(), list.end(), Owner), list.end());
      Device = nullptr;
    }
  }
  Lock = nullptr;
}

void T3DRenderer::Dispose() {
  link_.Unlink();
  TRefObject::Dispose();
}

TDrawDevice* T3DRenderer::Device() const {
  TCriticalSection* lock = link_.Lock.get();
  if (!lock) return nullptr;
  TLockScope g(lock);
  return link_.Device;
}

}  // namespace zm
