#pragma once
// The renderer of the Direct3D 9 back end: scenes, clears, render targets,
// viewports, transforms, textures, shader constants, vertex lists with a
// fixed state table, resource creation and a present paced to the display.
// Every operation checks its result for a lost device and then drops the
// device store, so that the layer above makes a new renderer.
#include <atomic>
#include <climits>
#include <cstdint>

#include "ZmLib/3DBasics/D3D9/Dev3D9Resources.h"

namespace zm {

// The sleep of the paced present, in microseconds (tests replace it).
using TPresentSleepProc = void (*)(std::uint32_t us);
extern std::atomic<TPresentSleepProc> PresentSleepProc;
// Presents are shown on a grid of refresh periods: when the next one is due
// (microseconds of PresentClockUs), shared by all renderers;
// kNoPresentDue before the first.
constexpr std::int64_t kNoPresentDue = INT64_MIN;
extern std::atomic<std::int64_t> NextPresentDue3D;
// The pacing clock in microseconds: the steady clock, or the program clock's
// milliseconds while another time source drives it (tests).
std::int64_t PresentClockUs();
// The wait before a present at Now and when the one after it is due; refresh
// 0 counts as 60 Hz. A frame drawn in time waits for its turn; a late one is
// shown at once, keeping the grid when it is less than half a period late.
struct TPresentPace {
  std::int64_t WaitUs = 0;
  std::int64_t NextDueUs = 0;
};
TPresentPace PresentPace(std::uint32_t refreshRate, std::int64_t nowUs, std::int64_t dueUs);

class T3DRenderer9 : public T3DRenderer {
public:
  T3DRenderer9(TDrawDevice* device, T3DEngine9* engine);
  void Dispose() override;

  void UpdateBounds() override;
  bool BeginScene() override;
  bool EndScene() override;
  bool Present(const TRect& source, const TRect& dest) override;
  bool Clear(std::span<const TRect> rects, std::uint32_t flags, std::uint32_t color, float depth) override;
  bool ResetStates() override;
  bool SetRenderTarget(T3DSurface* surface) override;
  TRef<T3DSurface> GetRenderTarget() override;
  bool GetBackBuffer(TRef<T3DSurface>& surface) override;
  bool SetViewport(const TRect& rect, float minZ, float maxZ) override;
  bool DrawVertexList(T3DVertexList* list, std::span<TBaseTexture* const> textures, std::uint32_t flags) override;
  bool SetTexture(std::int32_t stage, TBaseTexture* texture) override;
  TRef<T3DTexture> CreateTexture(std::uint8_t kind, std::int32_t width, std::int32_t height,
                                 bool mipmapped) override;
  TRef<TVolumeTexture> CreateVolumeTexture(std::int32_t width, std::int32_t height, std::int32_t depth) override;
  TRef<T3DVertexList> CreateVertexList(std::int32_t vertexCount, std::uint32_t components,
                                       std::int32_t texCoordSets) override;
  bool StretchRects(T3DSurface* source, std::span<const TRect> sourceRects, T3DSurface* target,
                    std::span<const TRect> targetRects) override;
  bool BlendOverTextures(std::span<const TOverPiece> pieces, std::uint32_t factor) override;
  bool SetBlendMode(std::uint8_t mode) override;
  bool SetTransform(const T3DMatrix& matrix, std::uint8_t which) override;
  bool SetCullNone(bool on) override;
  bool SetScissor(const TRect* rect) override;
  bool SetExclusion(const TRect* rect) override;
  void GetPixelCenter(float& x, float& y) override;
  TRef<T3DShader> CreateShader(const TByteString& code, bool vertex) override;
  bool SetShader(T3DShader* shader) override;
  bool SetShaderConstants(bool vertex, std::int32_t firstRegister, std::span<const T3DFloat4> values) override;

  // Read-outs (the 3D lock guards the store link).
  TDevStore* Store() const;
  plat::gfx::Device* D3DDevice() const;
  bool UsesSwapChain() const { return usesSwapChain_; }
  plat::gfx::SwapChain* SwapChain() const { return swapChain_.Get(); }
  bool Exclusive() const { return exclusive_; }
  bool FullScreenRequested() const { return fullScreen_; }
  std::int32_t MaxAnisotropy() const { return maxAnisotropy_; }
  bool AnisotropyAvailable() const { return anisotropy_; }
  bool LodBiasAvailable() const { return lodBias_; }
  plat::gfx::Format DepthFormat() const { return depthFormat_; }
  std::int32_t RefreshRate() const { return refreshRate_; }
  std::uint8_t BlendMode() const { return blendMode_; }
  plat::gfx::VertexBuffer* StateBuffer() const { return stateBuffer_.Get(); }

private:
  friend class T3DEngine9;
  friend class TInitData;
  friend class TDevStore;

  // The store's device, or nil after marking the state 2.
  plat::gfx::Device* Dev();
  // Maps a result into the last result and the state; true on success.
  bool Check(plat::gfx::Result r);
  // Drops the store when the state says the device is lost.
  void DeviceLostCheck();
  bool DoResetStates(plat::gfx::Device* d);
  void LoseTopmost();

  TRef<T3DEngine9> engine_;
  bool usesSwapChain_ = false;
  plat::gfx::Ref<plat::gfx::SwapChain> swapChain_;
  bool exclusive_ = false;
  std::int32_t maxAnisotropy_ = 1;
  TRef<T3DSurface9> renderTarget_;  // guarded by the 3D lock
  TRef<T3DSurfaceRT> backBuffer_;   // guarded by the 3D lock
  std::atomic<std::uint8_t> blendMode_{bmNormal};
  bool anisotropy_ = false, lodBias_ = false;
  plat::gfx::Ref<plat::gfx::VertexBuffer> stateBuffer_;
  plat::gfx::Format depthFormat_ = plat::gfx::Format::Unknown;
  TDevStore* store_ = nullptr;  // guarded by the 3D lock
  std::int32_t refreshRate_ = 0;
  TInitData* initData_ = nullptr;  // guarded by the 3D lock
  bool active_ = false, fullScreen_ = false;
};

}  // namespace zm
