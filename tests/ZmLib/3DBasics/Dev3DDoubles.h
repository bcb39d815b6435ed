#pragma once
// Small stand-ins for a back end: a renderer that records what it is told,
// and objects that count their disposal.
#include <atomic>
#include <functional>
#include <vector>

#include "ZmLib/3DBasics/Dev3D.h"
#include "ZmLib/Graphics/SysBitmap.h"

namespace zmtest {

class TTestRenderer : public zm::T3DRenderer {
public:
  TTestRenderer(zm::TDrawDevice* device, int id, std::vector<int>* log = nullptr)
      : zm::T3DRenderer(device), Id(id), Log(log) {}

  void UpdateBounds() override {
    ++Updates;
    if (Log) Log->push_back(Id);
    if (OnUpdate) OnUpdate(this);
  }
  bool BeginScene() override { return true; }
  bool EndScene() override { return true; }
  bool Present(const zm::TRect&, const zm::TRect&) override { return true; }
  bool Clear(std::span<const zm::TRect>, std::uint32_t, std::uint32_t, float) override { return true; }
  bool ResetStates() override { return true; }
  bool SetRenderTarget(zm::T3DSurface*) override { return true; }
  zm::TRef<zm::T3DSurface> GetRenderTarget() override { return nullptr; }
  bool GetBackBuffer(zm::TRef<zm::T3DSurface>& surface) override {
    surface = nullptr;
    return false;
  }
  bool SetViewport(const zm::TRect&, float, float) override { return true; }
  bool DrawVertexList(zm::T3DVertexList*, std::span<zm::TBaseTexture* const>, std::uint32_t) override {
    return true;
  }
  bool SetTexture(std::int32_t, zm::TBaseTexture*) override { return true; }
  zm::TRef<zm::T3DTexture> CreateTexture(std::uint8_t, std::int32_t, std::int32_t, bool) override { return nullptr; }
  zm::TRef<zm::TVolumeTexture> CreateVolumeTexture(std::int32_t, std::int32_t, std::int32_t) override {
    return nullptr;
  }
  zm::TRef<zm::T3DVertexList> CreateVertexList(std::int32_t, std::uint32_t, std::int32_t) override {
    return nullptr;
  }
  bool StretchRects(zm::T3DSurface*, std::span<const zm::TRect>, zm::T3DSurface*,
                    std::span<const zm::TRect>) override {
    return false;
  }
  bool SetBlendMode(std::uint8_t) override { return true; }
  bool SetTransform(const zm::T3DMatrix&, std::uint8_t) override { return true; }
  bool SetCullNone(bool) override { return true; }
  void GetPixelCenter(float& x, float& y) override { x = y = 0.5f; }
  zm::TRef<zm::T3DShader> CreateShader(const zm::TByteString&, bool) override { return nullptr; }
  bool SetShader(zm::T3DShader*) override { return true; }
  bool SetShaderConstants(bool, std::int32_t, std::span<const zm::T3DFloat4>) override { return true; }

  int Id;
  std::vector<int>* Log;
  std::atomic<int> Updates{0};
  std::function<void(TTestRenderer*)> OnUpdate;
};

// Counts how often objects of the test are disposed.
class TDisposeCounter : public zm::TRefObject {
public:
  explicit TDisposeCounter(int* count, std::function<void()> onDispose = {})
      : count_(count), onDispose_(std::move(onDispose)) {}
  void Dispose() override {
    ++*count_;
    if (onDispose_) onDispose_();
    zm::TRefObject::Dispose();
  }

private:
  int* count_;
  std::function<void()> onDispose_;
};

}  // namespace zmtest
