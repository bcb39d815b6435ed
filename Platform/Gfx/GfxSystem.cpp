#include "Platform/Gfx/GfxSystem.h"

#include "Platform/Gfx/GfxPixels.h"

#include <algorithm>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/User/PlatUser.h"

namespace plat::gfx {

namespace {

std::mutex& ConfigMutex() {
  static std::mutex m;
  return m;
}
SystemConfig& ConfigStore() {
  static SystemConfig c;
  return c;
}

BOOL CollectMonitor(HMONITOR monitor, HDC, RECT*, LPARAM data) {
  auto* out = reinterpret_cast<std::vector<AdapterConfig>*>(data);
  MONITORINFO info;
  if (!GetMonitorInfoA(monitor, &info)) return 1;
  AdapterConfig a;
  a.monitor = monitor;
  a.bounds = Rect{info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
  a.mode.width = static_cast<std::uint32_t>(std::max(0, info.rcMonitor.right - info.rcMonitor.left));
  a.mode.height = static_cast<std::uint32_t>(std::max(0, info.rcMonitor.bottom - info.rcMonitor.top));
  const int refresh = ScreenDeviceCaps(VREFRESH);
  a.mode.refreshRate = refresh > 1 ? static_cast<std::uint32_t>(refresh) : 60;
  a.mode.format = Format::X8R8G8B8;
  out->push_back(a);
  return 1;
}

bool IsTextureFormat(Format f) {
  const PixelFormatInfo* info = FindPixelFormat(f);
  return info && info->texture;
}

}  // namespace

SystemConfig CurrentConfig() {
  std::lock_guard<std::mutex> lock(ConfigMutex());
  return ConfigStore();
}

void SetCurrentConfig(const SystemConfig& config) {
  std::lock_guard<std::mutex> lock(ConfigMutex());
  ConfigStore() = config;
}

Ref<System> CreateSystem(std::uint32_t sdkVersion, const SystemConfig& config) {
  if (!config.available || sdkVersion != kSdkVersion) return {};
  return Ref<System>::Adopt(new System(config));
}

System::System(const SystemConfig& config) : config_(config) {
  if (config_.adapters.empty() && WindowSystemRunning())
    EnumDisplayMonitors(nullptr, nullptr, &CollectMonitor, reinterpret_cast<LPARAM>(&config_.adapters));
  if (config_.adapters.empty()) {
    // No window system: one desktop-sized adapter, so a memory sink still works.
    AdapterConfig a;
    a.bounds = Rect{0, 0, 1920, 1080};
    a.mode = DisplayMode{1920, 1080, 60, Format::X8R8G8B8};
    config_.adapters.push_back(a);
  }
}

std::uint32_t System::AdapterCount() const { return static_cast<std::uint32_t>(config_.adapters.size()); }

MonitorId System::AdapterMonitor(std::uint32_t adapter) const {
  return adapter < config_.adapters.size() ? config_.adapters[adapter].monitor : nullptr;
}

Result System::AdapterDisplayMode(std::uint32_t adapter, DisplayMode& mode) const {
  if (adapter >= config_.adapters.size()) return Result::InvalidCall;
  mode = config_.adapters[adapter].mode;
  return Result::Ok;
}

Result System::DeviceCaps(std::uint32_t adapter, DeviceType type, Caps& caps) const {
  if (adapter >= config_.adapters.size() || type != DeviceType::Hal) return Result::InvalidCall;
  caps = Caps{config_.pixelShaderVersion, config_.maxTextureSize, config_.maxTextureSize, config_.maxAnisotropy,
              config_.rasterCaps};
  return Result::Ok;
}

Result System::AdapterIdentifierOf(std::uint32_t adapter, std::uint32_t, AdapterIdentifier& id) const {
  if (adapter >= config_.adapters.size()) return Result::InvalidCall;
  id.vendorId = config_.vendorId;
  id.description = config_.description.substr(0, 511);
  return Result::Ok;
}

Result System::CheckDeviceFormat(std::uint32_t adapter, DeviceType type, Format adapterFormat, std::uint32_t usage,
                                 ResourceType resourceType, Format format) const {
  if (adapter >= config_.adapters.size() || type != DeviceType::Hal) return Result::InvalidCall;
  if (adapterFormat != Format::X8R8G8B8 && adapterFormat != Format::A8R8G8B8) return Result::NotAvailable;
  if (usage & UsageDepthStencil) {
    if (resourceType != ResourceType::Surface && resourceType != ResourceType::Texture) return Result::NotAvailable;
    if (format == Format::D24X8 && config_.depth24) return Result::Ok;
    if (format == Format::D16 && config_.depth16) return Result::Ok;
    return Result::NotAvailable;
  }
  if (usage & UsageRenderTarget)
    return (resourceType == ResourceType::Surface || resourceType == ResourceType::Texture) &&
                   IsRenderTargetFormat(format)
               ? Result::Ok
               : Result::NotAvailable;
  switch (resourceType) {
    case ResourceType::Surface:
    case ResourceType::Texture:
      if (format == Format::L8) return config_.luminanceTextures ? Result::Ok : Result::NotAvailable;
      return IsTextureFormat(format) ? Result::Ok : Result::NotAvailable;
    case ResourceType::Volume:
    case ResourceType::VolumeTexture:
      return format == Format::A8R8G8B8 || format == Format::X8R8G8B8 ? Result::Ok : Result::NotAvailable;
    default: return Result::NotAvailable;
  }
}

Result System::CreateDevice(std::uint32_t adapter, DeviceType type, WindowId focus, std::uint32_t flags,
                            PresentParameters& pp, Ref<Device>& device) {
  device = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (createFaultCount_ > 0) {
      --createFaultCount_;
      return createFault_;
    }
  }
  if (adapter >= config_.adapters.size() || type != DeviceType::Hal) return Result::InvalidCall;
  // The desktop keeps its mode: exclusive full screen is not offered.
  if (!pp.windowed) return Result::NotAvailable;
  Ref<Device> made = Ref<Device>::Adopt(new Device(this, adapter, focus, flags));
  std::lock_guard<std::recursive_mutex> lock(made->mutex_);
  made->budget_ = config_.videoMemoryBudget;
  const Result r = made->ValidatePresentParameters(pp, focus);
  if (r != Result::Ok) return r;
  Ref<SwapChain> chain;
  const Result rc = made->MakeSwapChain(pp, true, chain);
  if (rc != Result::Ok) return rc;
  made->implicitChain_.Set(chain.Get());
  made->ResetState();
  device = made;
  return Result::Ok;
}

void System::Register(Device* device) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.push_back(device);
}

void System::Unregister(Device* device) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
}

void SystemDebug::LoseAllDevices() {
  std::lock_guard<std::mutex> lock(system_.mutex_);
  for (Device* d : system_.devices_) d->Debug().LoseDevice(LossMode::PresentOnly);
}

void SystemDebug::AllowResetAll() {
  std::lock_guard<std::mutex> lock(system_.mutex_);
  for (Device* d : system_.devices_) d->Debug().AllowReset();
}

void SystemDebug::FailNextCreateDevice(Result result, int count) {
  std::lock_guard<std::mutex> lock(system_.mutex_);
  system_.createFault_ = result;
  system_.createFaultCount_ = count;
}

std::size_t SystemDebug::LiveDevices() const {
  std::lock_guard<std::mutex> lock(system_.mutex_);
  return system_.devices_.size();
}

}  // namespace plat::gfx
