#include "Platform/Gfx/GfxResources.h"

#include <mutex>

#include "Platform/Gfx/GfxDevice.h"

namespace plat::gfx {

// ---- Resource -------------------------------------------------------------------------------------------

Resource::Resource(Device* device, Pool pool, std::uint64_t bytes, bool holdsDevice)
    : device_(device), pool_(pool), bytes_(bytes), tracked_(false), holdsDevice_(holdsDevice) {
  if (holdsDevice_) {
    // The internal reference keeps the device's memory for our destructor;
    // the counted one keeps the device alive for the callers.
    device_->AddInternalRef();
    deviceRef_ = Ref<Device>(device_);
  }
}

Resource::~Resource() {
  if (tracked_) device_->Untrack(this);
  deviceRef_.Reset();
  if (holdsDevice_) device_->ReleaseInternalRef();
}

void Resource::OnFinalRelease() {
  if (!holdsDevice_) return;
  Ref<Device> drop;
  {
    std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
    if (RefCount() == 0) drop = std::move(deviceRef_);
  }
}

void Resource::OnRevive() {
  // Only through the device's getters, under its mutex.
  if (holdsDevice_ && !deviceRef_) deviceRef_ = Ref<Device>(device_);
}

// ---- PixelShader -----------------------------------------------------------------------------------------

PixelShader::PixelShader(Device* device, const ShaderInfo* info)
    : Resource(device, Pool::Managed, 0, true), info_(info) {}

// ---- Surface ----------------------------------------------------------------------------------------------

Surface::Surface(Device* device, SurfaceKind kind, const SurfaceDesc& desc, std::int32_t pitch, Texture* container)
    : Resource(device, desc.pool, 0, container == nullptr),
      kind_(kind),
      desc_(desc),
      pitch_(pitch),
      container_(container) {
  bits_ = PictureMemory(static_cast<std::size_t>(pitch_) * desc_.height);
}

std::uint32_t Surface::AddRef() { return container_ ? container_->AddRef() : Resource::AddRef(); }
std::uint32_t Surface::Release() { return container_ ? container_->Release() : Resource::Release(); }
std::uint32_t Surface::RefCount() const { return container_ ? container_->RefCount() : Resource::RefCount(); }
void Surface::AddInternalRef() {
  if (container_)
    container_->AddInternalRef();
  else
    Resource::AddInternalRef();
}
void Surface::ReleaseInternalRef() {
  if (container_)
    container_->ReleaseInternalRef();
  else
    Resource::ReleaseInternalRef();
}

bool Surface::IsLockable() const {
  // DEFAULT-pool targets, texture levels and back buffers live on the card:
  // they are read back through GetRenderTargetData instead.
  if (desc_.pool != Pool::Default) return true;
  if (kind_ == SurfaceKind::BackBuffer || (desc_.usage & UsageRenderTarget)) return false;
  return kind_ == SurfaceKind::Plain || (desc_.usage & UsageDynamic);
}

TSurfaceView Surface::View() { return TSurfaceView{bits_.data(), pitch_, desc_.width, desc_.height, desc_.format}; }

Result Surface::GetDesc(SurfaceDesc& desc) const {
  desc = desc_;
  return Result::Ok;
}

Result Surface::LockRect(LockedRect& locked, const Rect* rect, std::uint32_t flags) {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  locked = LockedRect{};
  if (Result r = device_->Enter(CallKind::LockRect, false); r != Result::Ok) return device_->Log(CallKind::LockRect, r);
  if (!IsLockable() || locked_) return device_->Log(CallKind::LockRect, Result::InvalidCall, flags);
  if (device_->Lost() && device_->lossMode_ == LossMode::EveryCall && desc_.pool == Pool::Default)
    return device_->Log(CallKind::LockRect, Result::DeviceLost, flags);
  Rect r{0, 0, static_cast<std::int32_t>(desc_.width), static_cast<std::int32_t>(desc_.height)};
  if (rect) {
    r = *rect;
    if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom ||
        static_cast<std::uint32_t>(r.right) > desc_.width || static_cast<std::uint32_t>(r.bottom) > desc_.height)
      return device_->Log(CallKind::LockRect, Result::InvalidCall, flags);
  }
  locked.pitch = pitch_;
  locked.bits = bits_.data() + static_cast<std::ptrdiff_t>(r.top) * pitch_ +
                static_cast<std::ptrdiff_t>(r.left) * BytesPerPixel(desc_.format);
  locked_ = true;
  return device_->Log(CallKind::LockRect, Result::Ok, flags);
}

Result Surface::UnlockRect() {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  if (Result r = device_->Enter(CallKind::UnlockRect, false); r != Result::Ok)
    return device_->Log(CallKind::UnlockRect, r);
  if (!locked_) return device_->Log(CallKind::UnlockRect, Result::InvalidCall);
  locked_ = false;
  return device_->Log(CallKind::UnlockRect, Result::Ok);
}

// ---- Texture ---------------------------------------------------------------------------------------------

Texture::Texture(Device* device, Pool pool, std::uint64_t bytes, std::uint32_t levels)
    : BaseTexture(device, pool, bytes, levels) {}

Texture::~Texture() {
  for (Surface* s : levels_) delete s;
}

Result Texture::GetSurfaceLevel(std::uint32_t level, Ref<Surface>& surface) {
  surface = nullptr;
  if (level >= levels_.size()) return Result::InvalidCall;
  surface = Ref<Surface>(levels_[level]);
  return Result::Ok;
}

Result Texture::GetLevelDesc(std::uint32_t level, SurfaceDesc& desc) const {
  if (level >= levels_.size()) return Result::InvalidCall;
  desc = levels_[level]->Desc();
  return Result::Ok;
}

Result Texture::LockRect(std::uint32_t level, LockedRect& locked, const Rect* rect, std::uint32_t flags) {
  locked = LockedRect{};
  if (level >= levels_.size()) return Result::InvalidCall;
  return levels_[level]->LockRect(locked, rect, flags);
}

Result Texture::UnlockRect(std::uint32_t level) {
  if (level >= levels_.size()) return Result::InvalidCall;
  return levels_[level]->UnlockRect();
}

void Texture::FillView(TTextureView& view) {
  view.kind = TTextureKind::Texture2D;
  view.levelCount = static_cast<std::uint32_t>(levels_.size());
  for (std::size_t i = 0; i < levels_.size() && i < kMaxMipLevels; ++i) view.levels[i] = levels_[i]->View();
  view.renderTarget = !levels_.empty() && (levels_[0]->Desc().usage & UsageRenderTarget);
}

// ---- VolumeTexture ----------------------------------------------------------------------------------

VolumeTexture::VolumeTexture(Device* device, const VolumeDesc& desc, std::uint64_t bytes)
    : BaseTexture(device, desc.pool, bytes, 1), desc_(desc) {
  bits_.assign(bytes, 0);
}

Result VolumeTexture::GetLevelDesc(std::uint32_t level, VolumeDesc& desc) const {
  if (level != 0) return Result::InvalidCall;
  desc = desc_;
  return Result::Ok;
}

Result VolumeTexture::LockBox(std::uint32_t level, LockedBox& locked, const Box* box, std::uint32_t flags) {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  locked = LockedBox{};
  if (Result r = device_->Enter(CallKind::LockBox, false); r != Result::Ok) return device_->Log(CallKind::LockBox, r);
  if (level != 0 || locked_ || pool_ == Pool::Default) return device_->Log(CallKind::LockBox, Result::InvalidCall, flags);
  Box b{0, 0, desc_.width, desc_.height, 0, desc_.depth};
  if (box) {
    b = *box;
    if (b.left >= b.right || b.top >= b.bottom || b.front >= b.back || b.right > desc_.width ||
        b.bottom > desc_.height || b.back > desc_.depth)
      return device_->Log(CallKind::LockBox, Result::InvalidCall, flags);
  }
  locked.rowPitch = rowPitch_;
  locked.slicePitch = slicePitch_;
  locked.bits = bits_.data() + static_cast<std::size_t>(b.front) * slicePitch_ +
                static_cast<std::size_t>(b.top) * rowPitch_ + static_cast<std::size_t>(b.left) * BytesPerPixel(desc_.format);
  locked_ = true;
  return device_->Log(CallKind::LockBox, Result::Ok, flags);
}

Result VolumeTexture::UnlockBox(std::uint32_t level) {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  if (Result r = device_->Enter(CallKind::UnlockBox, false); r != Result::Ok)
    return device_->Log(CallKind::UnlockBox, r);
  if (level != 0 || !locked_) return device_->Log(CallKind::UnlockBox, Result::InvalidCall);
  locked_ = false;
  return device_->Log(CallKind::UnlockBox, Result::Ok);
}

void VolumeTexture::FillView(TTextureView& view) {
  view.kind = TTextureKind::Volume;
  view.levelCount = 1;
  view.volume = TVolumeView{bits_.data(), rowPitch_, slicePitch_, desc_.width, desc_.height, desc_.depth, desc_.format};
}

// ---- VertexBuffer -----------------------------------------------------------------------------------------

VertexBuffer::VertexBuffer(Device* device, Pool pool, std::uint32_t bytes, std::uint32_t fvf)
    : Resource(device, pool, bytes, true), fvf_(fvf) {
  bits_.assign(bytes, 0);
}

Result VertexBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, void** data, std::uint32_t flags) {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  if (data) *data = nullptr;
  if (Result r = device_->Enter(CallKind::LockVertexBuffer, false); r != Result::Ok)
    return device_->Log(CallKind::LockVertexBuffer, r);
  if (!data || locked_ || offset > bits_.size() || std::uint64_t{offset} + bytes > bits_.size())
    return device_->Log(CallKind::LockVertexBuffer, Result::InvalidCall, offset, bytes, flags);
  if (device_->Lost() && device_->lossMode_ == LossMode::EveryCall && pool_ == Pool::Default)
    return device_->Log(CallKind::LockVertexBuffer, Result::DeviceLost, offset, bytes, flags);
  *data = bits_.data() + offset;
  locked_ = true;
  return device_->Log(CallKind::LockVertexBuffer, Result::Ok, offset, bytes, flags);
}

Result VertexBuffer::Unlock() {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  if (Result r = device_->Enter(CallKind::UnlockVertexBuffer, false); r != Result::Ok)
    return device_->Log(CallKind::UnlockVertexBuffer, r);
  if (!locked_) return device_->Log(CallKind::UnlockVertexBuffer, Result::InvalidCall);
  locked_ = false;
  return device_->Log(CallKind::UnlockVertexBuffer, Result::Ok);
}

// ---- SwapChain -----------------------------------------------------------------------------------------------

SwapChain::SwapChain(Device* device, const PresentParameters& pp, Surface* backBuffer, bool implicit)
    : Resource(device, Pool::Default, 0, true), pp_(pp), implicit_(implicit) {
  backBuffer_.Set(backBuffer);
}

SwapChain::~SwapChain() = default;

Result SwapChain::Present(const Rect* src, const Rect* dst, WindowId window, const void*, std::uint32_t) {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  if (Result r = device_->Enter(CallKind::SwapChainPresent, true); r != Result::Ok)
    return device_->Log(CallKind::SwapChainPresent, r);
  if (device_->inScene_) return device_->Log(CallKind::SwapChainPresent, Result::InvalidCall);
  if (device_->Lost()) return device_->Log(CallKind::SwapChainPresent, Result::DeviceLost);
  return device_->Log(CallKind::SwapChainPresent, device_->PresentChain(*this, src, dst, window));
}

Result SwapChain::GetBackBuffer(std::uint32_t index, Ref<Surface>& surface) {
  std::lock_guard<std::recursive_mutex> lock(device_->mutex_);
  surface = nullptr;
  if (index >= pp_.backBufferCount || !backBuffer_) return Result::InvalidCall;
  surface = Ref<Surface>(backBuffer_.Get());
  return Result::Ok;
}

}  // namespace plat::gfx
