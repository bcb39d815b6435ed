#pragma once
// The entry object of the software 3D device: adapters (one per monitor),
// capabilities, format checks and device creation. Exclusive full screen is
// refused: the desktop keeps its mode and callers use a full-monitor window.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Gfx/GfxDefs.h"
#include "Platform/Gfx/GfxObject.h"

namespace plat::gfx {

class Device;
class PresentSink;

struct AdapterConfig {
  MonitorId monitor = nullptr;
  Rect bounds;  // the monitor's rectangle on the desktop
  DisplayMode mode;
};

struct SystemConfig {
  bool available = true;
  std::uint32_t vendorId = 0;  // neutral: no vendor rule applies
  std::u16string description = u"Software rasteriser";
  std::uint32_t pixelShaderVersion = PsVersion(2, 0), maxTextureSize = 8192, maxAnisotropy = 16;
  std::uint32_t rasterCaps = RasterAnisotropy | RasterMipLodBias;
  bool luminanceTextures = true, depth24 = true, depth16 = true;
  std::uint64_t videoMemoryBudget = 0;  // per device; 0 = unlimited
  unsigned workerThreads = 0;           // 0 = ZM_GFX_THREADS or the processor count
  bool padRowPitch = false;             // pitch = row bytes + 64, to catch code that assumes tight rows
  PresentSink* presentSink = nullptr;   // nullptr: the window's frame buffer
  std::vector<AdapterConfig> adapters;  // empty: one per monitor of the window layer
};

// The configuration CreateSystem uses by default (tests and debug switches set it).
SystemConfig CurrentConfig();
void SetCurrentConfig(const SystemConfig& config);

enum class CallKind : std::uint8_t {
  CreateDevice,
  TestCooperativeLevel,
  Reset,
  Present,
  GetSwapChain,
  CreateAdditionalSwapChain,
  GetBackBuffer,
  BeginScene,
  EndScene,
  SetRenderTarget,
  GetRenderTarget,
  SetViewport,
  Clear,
  SetRenderState,
  SetSamplerState,
  SetTextureStageState,
  SetTexture,
  SetTransform,
  SetFVF,
  SetStreamSource,
  SetPixelShaderConstantF,
  SetVertexShaderConstantF,
  DrawPrimitive,
  DrawPrimitiveUP,
  StretchRect,
  GetRenderTargetData,
  CreateTexture,
  CreateVolumeTexture,
  CreateVertexBuffer,
  CreateOffscreenPlainSurface,
  LockRect,
  UnlockRect,
  LockBox,
  UnlockBox,
  LockVertexBuffer,
  UnlockVertexBuffer,
  SwapChainPresent,
  CreatePixelShader,
  CreateVertexShader,
  SetPixelShader,
  SetVertexShader,
  SetScissorRect,
  BlendOverTextures,
  SetExclusionRect,
  Count
};

class System;

class SystemDebug {
public:
  // Every device of the system enters the lost state (present only).
  void LoseAllDevices();
  // The devices may be reset (TestCooperativeLevel answers DeviceNotReset).
  void AllowResetAll();
  // The next count CreateDevice calls fail with result.
  void FailNextCreateDevice(Result result, int count = 1);
  std::size_t LiveDevices() const;

private:
  friend class System;
  explicit SystemDebug(System& system) : system_(system) {}
  System& system_;
};

class System : public Object {
public:
  std::uint32_t AdapterCount() const;
  MonitorId AdapterMonitor(std::uint32_t adapter) const;
  Result AdapterDisplayMode(std::uint32_t adapter, DisplayMode& mode) const;
  Result DeviceCaps(std::uint32_t adapter, DeviceType type, Caps& caps) const;
  Result AdapterIdentifierOf(std::uint32_t adapter, std::uint32_t flags, AdapterIdentifier& id) const;
  Result CheckDeviceFormat(std::uint32_t adapter, DeviceType type, Format adapterFormat, std::uint32_t usage,
                           ResourceType resourceType, Format format) const;
  Result CreateDevice(std::uint32_t adapter, DeviceType type, WindowId focus, std::uint32_t flags,
                      PresentParameters& pp, Ref<Device>& device);
  SystemDebug& Debug() { return debug_; }
  const SystemConfig& Config() const { return config_; }

private:
  friend Ref<System> CreateSystem(std::uint32_t, const SystemConfig&);
  friend class SystemDebug;
  friend class Device;
  explicit System(const SystemConfig& config);
  void Register(Device* device);
  void Unregister(Device* device);

  SystemConfig config_;
  SystemDebug debug_{*this};
  mutable std::mutex mutex_;
  std::vector<Device*> devices_;
  Result createFault_ = Result::Ok;
  int createFaultCount_ = 0;
};

constexpr std::uint32_t kSdkVersion = 32;
// Empty when the configuration says the device is not available, or for
// another SDK version.
Ref<System> CreateSystem(std::uint32_t sdkVersion, const SystemConfig& config = CurrentConfig());

}  // namespace plat::gfx
