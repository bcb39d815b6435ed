#pragma once
// Surfaces, textures, volume textures, vertex buffers and swap chains of the
// software device. Every resource keeps its device alive; memory is plain
// system memory, counted against the device's video-memory budget for the
// DEFAULT and MANAGED pools.
#include <cstdint>
#include <vector>

#include "Platform/Gfx/GfxDefs.h"
#include "Platform/PlatPictureMemory.h"
#include "Platform/Gfx/GfxObject.h"
#include "Platform/Gfx/GfxPipeline.h"

namespace plat::gfx {

class Device;

class Resource : public Object {
public:
  Device* OwnerDevice() const { return device_; }
  Pool ResourcePool() const { return pool_; }
  void PreLoad() {}

protected:
  // tracked: counts against the device (false for the levels of a texture).
  Resource(Device* device, Pool pool, std::uint64_t bytes, bool tracked);
  ~Resource() override;
  void OnFinalRelease() override;
  void OnRevive() override;

  Device* device_;
  Pool pool_;
  std::uint64_t bytes_;
  bool tracked_;
  bool blocksReset_ = false;  // a DEFAULT-pool object the caller made

private:
  friend class Device;
  bool holdsDevice_;
  Ref<Device> deviceRef_;
};

enum class SurfaceKind : std::uint8_t { Plain, TextureLevel, BackBuffer };

class Texture;

class Surface : public Resource {
public:
  Result GetDesc(SurfaceDesc& desc) const;
  // The whole surface when rect is nullptr.
  Result LockRect(LockedRect& locked, const Rect* rect, std::uint32_t flags);
  Result UnlockRect();

  // Levels share the count of their texture.
  std::uint32_t AddRef() override;
  std::uint32_t Release() override;
  std::uint32_t RefCount() const override;
  void AddInternalRef() override;
  void ReleaseInternalRef() override;

  // For the device.
  SurfaceKind Kind() const { return kind_; }
  bool IsRenderTarget() const { return kind_ == SurfaceKind::BackBuffer || (desc_.usage & UsageRenderTarget); }
  bool IsLockable() const;
  const SurfaceDesc& Desc() const { return desc_; }
  TSurfaceView View();
  Texture* Container() const { return container_; }
  bool Locked() const { return locked_; }

private:
  friend class Device;
  friend class Texture;
  Surface(Device* device, SurfaceKind kind, const SurfaceDesc& desc, std::int32_t pitch, Texture* container);

  SurfaceKind kind_;
  SurfaceDesc desc_;
  std::int32_t pitch_;
  PictureMemory bits_;
  Texture* container_;
  bool locked_ = false;
};

class BaseTexture : public Resource {
public:
  std::uint32_t LevelCount() const { return levelCount_; }
  // What the pipeline samples.
  virtual void FillView(TTextureView& view) = 0;

protected:
  BaseTexture(Device* device, Pool pool, std::uint64_t bytes, std::uint32_t levels)
      : Resource(device, pool, bytes, true), levelCount_(levels) {}
  std::uint32_t levelCount_;
};

class Texture : public BaseTexture {
public:
  Result GetSurfaceLevel(std::uint32_t level, Ref<Surface>& surface);
  Result GetLevelDesc(std::uint32_t level, SurfaceDesc& desc) const;
  Result LockRect(std::uint32_t level, LockedRect& locked, const Rect* rect, std::uint32_t flags);
  Result UnlockRect(std::uint32_t level);
  void FillView(TTextureView& view) override;
  // Without a reference; nullptr past the last level.
  Surface* Level(std::uint32_t level) const { return level < levels_.size() ? levels_[level] : nullptr; }

private:
  friend class Device;
  Texture(Device* device, Pool pool, std::uint64_t bytes, std::uint32_t levels);
  ~Texture() override;
  std::vector<Surface*> levels_;
};

class VolumeTexture : public BaseTexture {
public:
  Result GetLevelDesc(std::uint32_t level, VolumeDesc& desc) const;
  // The whole volume when box is nullptr.
  Result LockBox(std::uint32_t level, LockedBox& locked, const Box* box, std::uint32_t flags);
  Result UnlockBox(std::uint32_t level);
  void FillView(TTextureView& view) override;

private:
  friend class Device;
  VolumeTexture(Device* device, const VolumeDesc& desc, std::uint64_t bytes);
  VolumeDesc desc_;
  std::int32_t rowPitch_ = 0, slicePitch_ = 0;
  std::vector<std::uint8_t> bits_;
  bool locked_ = false;
};

class VertexBuffer : public Resource {
public:
  // bytes 0 with offset 0: the whole buffer.
  Result Lock(std::uint32_t offset, std::uint32_t bytes, void** data, std::uint32_t flags);
  Result Unlock();
  std::uint32_t Size() const { return static_cast<std::uint32_t>(bits_.size()); }
  std::uint32_t Fvf() const { return fvf_; }
  const std::uint8_t* Data() const { return bits_.data(); }

private:
  friend class Device;
  VertexBuffer(Device* device, Pool pool, std::uint32_t bytes, std::uint32_t fvf);
  std::vector<std::uint8_t> bits_;
  std::uint32_t fvf_;
  bool locked_ = false;
};

struct ShaderInfo;

// A pixel shader: a registered C++ function, found by the name in its
// descriptor. It takes no video memory and survives a reset.
class PixelShader : public Resource {
public:
  const ShaderInfo& Info() const { return *info_; }

private:
  friend class Device;
  PixelShader(Device* device, const ShaderInfo* info);
  const ShaderInfo* info_;
};

// Vertices are processed by the fixed stage only: none can be made, the type
// exists so that binding nil reads as Direct3D does.
class VertexShader : public Resource {
private:
  VertexShader() = delete;
};

class SwapChain : public Resource {
public:
  Result Present(const Rect* src, const Rect* dst, WindowId window, const void* dirty, std::uint32_t flags);
  Result GetBackBuffer(std::uint32_t index, Ref<Surface>& surface);
  const PresentParameters& Parameters() const { return pp_; }
  Surface* BackBuffer() const { return backBuffer_.Get(); }
  bool Implicit() const { return implicit_; }

private:
  friend class Device;
  SwapChain(Device* device, const PresentParameters& pp, Surface* backBuffer, bool implicit);
  ~SwapChain() override;
  PresentParameters pp_;
  Binding<Surface> backBuffer_;
  bool implicit_;
};

}  // namespace plat::gfx
