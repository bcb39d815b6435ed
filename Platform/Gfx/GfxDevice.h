#pragma once
// The software 3D device: all state with getters, scenes, clears, render
// targets, swap chains and present, resource creation, the loss state
// machine, fault injection, a video-memory budget and a call log. Every call
// runs under one recursive device mutex, so the device may be used from
// several threads (loader, engine, UI) as a multithreaded device.
#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "Platform/Gfx/GfxDefs.h"
#include "Platform/Gfx/GfxObject.h"
#include "Platform/Gfx/GfxResources.h"
#include "Platform/Gfx/GfxSystem.h"

namespace plat::gfx {

enum class LossMode : std::uint8_t {
  PresentOnly,  // Present answers DeviceLost; other calls work (draws and clears do nothing)
  EveryCall     // every device call answers DeviceLost
};

struct CallRecord {
  CallKind call;
  std::uint32_t arg0 = 0, arg1 = 0, arg2 = 0;
  Result result = Result::Ok;
};

class DeviceDebug {
public:
  void LoseDevice(LossMode mode);
  // The cause of the loss went: TestCooperativeLevel answers DeviceNotReset.
  void AllowReset();
  // Loses the device at every n-th present (0: never).
  void LoseEveryNPresents(std::uint32_t n);
  // The next count calls of that kind fail with result, doing nothing.
  void FailNext(CallKind call, Result result, int count = 1);
  void SetVideoMemoryBudget(std::uint64_t bytes);  // 0 = unlimited
  std::uint64_t VideoMemoryInUse() const;
  std::size_t LiveResources() const;
  void RecordCalls(bool on);
  std::vector<CallRecord> Calls() const;
  void ClearCalls();
  std::uint64_t Presents() const;
  // Draw calls handed to the pipeline.
  std::uint64_t Draws() const;
  // Draws left out as exact repeats of the last one, which had left its
  // target as it was (see Device::Draw).
  std::uint64_t RepeatsLeftOut() const;

private:
  friend class Device;
  explicit DeviceDebug(Device& device) : device_(device) {}
  Device& device_;
};

class Device : public Object {
public:
  Result TestCooperativeLevel();
  Result Reset(PresentParameters& pp);
  Result Present(const Rect* src, const Rect* dst, WindowId overrideWindow, const void* dirty);
  Result GetSwapChain(std::uint32_t index, Ref<SwapChain>& swapChain);
  Result CreateAdditionalSwapChain(PresentParameters& pp, Ref<SwapChain>& swapChain);
  Result GetBackBuffer(std::uint32_t swapChain, std::uint32_t index, BackBufferType type, Ref<Surface>& surface);

  Result BeginScene();
  Result EndScene();
  Result SetRenderTarget(std::uint32_t index, Surface* surface);
  Result GetRenderTarget(std::uint32_t index, Ref<Surface>& surface);
  Result SetViewport(const Viewport& viewport);
  Result GetViewport(Viewport& viewport) const;
  // The clip rectangle of draws and clears while RenderState::ScissorTestEnable
  // is set; cut to the target when drawing. Setting a render target sets it to
  // the whole target. A rectangle with right < left or bottom < top is refused.
  Result SetScissorRect(const Rect& rect);
  Result GetScissorRect(Rect& rect) const;
  // Not a Direct3D call: draws leave the pixels inside Rect (target pixels)
  // as they are, nullptr draws everywhere again (clears are not affected).
  // For what is known to be painted over later. Setting a render target
  // ends it. A rectangle with right < left or bottom < top is refused.
  Result SetExclusionRect(const Rect* rect);
  Result Clear(std::uint32_t count, const Rect* rects, std::uint32_t flags, std::uint32_t argb, float z,
               std::uint32_t stencil);

  Result SetRenderState(RenderState state, std::uint32_t value);
  Result GetRenderState(RenderState state, std::uint32_t& value) const;
  Result SetSamplerState(std::uint32_t sampler, SamplerState state, std::uint32_t value);
  Result GetSamplerState(std::uint32_t sampler, SamplerState state, std::uint32_t& value) const;
  Result SetTextureStageState(std::uint32_t stage, StageState state, std::uint32_t value);
  Result GetTextureStageState(std::uint32_t stage, StageState state, std::uint32_t& value) const;
  Result SetTexture(std::uint32_t stage, BaseTexture* texture);
  Result GetTexture(std::uint32_t stage, Ref<BaseTexture>& texture);
  Result SetTransform(TransformKind kind, const Matrix& matrix);
  Result GetTransform(TransformKind kind, Matrix& matrix) const;
  Result SetFVF(std::uint32_t fvf);
  Result GetFVF(std::uint32_t& fvf) const;
  Result SetStreamSource(std::uint32_t stream, VertexBuffer* buffer, std::uint32_t offset, std::uint32_t stride);
  Result GetStreamSource(std::uint32_t stream, Ref<VertexBuffer>& buffer, std::uint32_t& offset,
                         std::uint32_t& stride);
  // The code is a shader descriptor (GfxShaderAbi.h) of a registered shader.
  Result CreatePixelShader(std::span<const std::uint8_t> code, Ref<PixelShader>& shader);
  // Always refused: vertices go through the fixed vertex stage.
  Result CreateVertexShader(std::span<const std::uint8_t> code, Ref<VertexShader>& shader);
  // nullptr unbinds; the shader is held like a bound texture.
  Result SetPixelShader(PixelShader* shader);
  Result GetPixelShader(Ref<PixelShader>& shader);
  Result SetVertexShader(VertexShader* shader);
  // Registers c0..c31, float4 each.
  Result SetPixelShaderConstantF(std::uint32_t start, const float* data, std::uint32_t vec4Count);
  Result GetPixelShaderConstantF(std::uint32_t start, float* data, std::uint32_t vec4Count) const;
  Result SetVertexShaderConstantF(std::uint32_t start, const float* data, std::uint32_t vec4Count);
  Result GetVertexShaderConstantF(std::uint32_t start, float* data, std::uint32_t vec4Count) const;

  Result DrawPrimitive(PrimitiveType type, std::uint32_t startVertex, std::uint32_t primitiveCount);
  // Draws from caller memory; unbinds stream 0 afterwards, as documented.
  Result DrawPrimitiveUP(PrimitiveType type, std::uint32_t primitiveCount, const void* vertices,
                         std::uint32_t stride);
  Result StretchRect(Surface* src, const Rect* srcRect, Surface* dst, const Rect* dstRect, TextureFilter filter);
  Result GetRenderTargetData(Surface* renderTarget, Surface* systemMemory);
  // Not a Direct3D call: a picture drawn 1:1 and modulated by a constant
  // colour, blended premultiplied (One, InvSrcAlpha) over a target that holds
  // another picture, in one pass. For each piece, render-target pixel (x, y)
  // of Dest (cut to the viewport and, while enabled, the scissor) becomes
  // Over's level-0 texel (x - OverX, y - OverY) modulated by Factor, blended
  // over Under's texel (x - UnderX, y - UnderY): what drawing Over so onto
  // a target holding Under gives there. Both pictures are read as opaque
  // (alpha 255). Textures of 32-bit ARGB texels, an ARGB target, and every
  // texel read inside its texture, else InvalidCall and nothing drawn.
  struct OverPiece {
    Texture* under = nullptr;
    std::int32_t underX = 0, underY = 0;
    Texture* over = nullptr;
    std::int32_t overX = 0, overY = 0;
    Rect dest;
  };
  Result BlendOverTextures(std::span<const OverPiece> pieces, std::uint32_t factor);

  Result CreateTexture(std::uint32_t width, std::uint32_t height, std::uint32_t levels, std::uint32_t usage,
                       Format format, Pool pool, Ref<Texture>& texture);
  Result CreateVolumeTexture(std::uint32_t width, std::uint32_t height, std::uint32_t depth, std::uint32_t levels,
                             std::uint32_t usage, Format format, Pool pool, Ref<VolumeTexture>& texture);
  Result CreateVertexBuffer(std::uint32_t bytes, std::uint32_t usage, std::uint32_t fvf, Pool pool,
                            Ref<VertexBuffer>& buffer);
  Result CreateOffscreenPlainSurface(std::uint32_t width, std::uint32_t height, Format format, Pool pool,
                                     Ref<Surface>& surface);

  DeviceDebug& Debug() { return debug_; }
  System* OwnerSystem() const { return system_.Get(); }
  bool InScene() const;
  std::thread::id CreatingThread() const { return creatingThread_; }

private:
  friend class System;
  friend class DeviceDebug;
  friend class Resource;
  friend class Surface;
  friend class Texture;
  friend class VolumeTexture;
  friend class VertexBuffer;
  friend class SwapChain;

  enum class State : std::uint8_t { Operational, Lost, NotReset };

  Device(System* system, std::uint32_t adapter, WindowId focus, std::uint32_t flags);
  ~Device() override;
  void OnFinalRelease() override;

  // Runs under mutex_: fault injection and loss; Ok when the call may go on.
  Result Enter(CallKind call, bool lossAnswers);
  Result Log(CallKind call, Result result, std::uint32_t a0 = 0, std::uint32_t a1 = 0, std::uint32_t a2 = 0);
  bool Lost() const { return state_ != State::Operational; }
  Result ValidatePresentParameters(PresentParameters& pp, WindowId fallback) const;
  Result MakeSwapChain(const PresentParameters& pp, bool implicit, Ref<SwapChain>& out);
  Result Reserve(std::uint64_t bytes, Pool pool);
  std::int32_t PitchFor(std::uint32_t width, Format format) const;
  void Track(Resource* resource);
  void Untrack(Resource* resource);
  void ResetState();
  void SetTargetLocked(Surface* surface);
  Result PresentChain(SwapChain& chain, const Rect* src, const Rect* dst, WindowId window);
  Result Draw(CallKind call, PrimitiveType type, std::uint32_t primitiveCount, const std::uint8_t* vertices,
              std::uint64_t available, std::uint32_t stride);
  // Whether the draw about to be made repeats the last one exactly, as
  // RecordDraw noted it.
  bool RepeatsLastDraw(const TDrawCall& dc, const Surface* target) const;
  void RecordDraw(const TDrawCall& dc, const Surface* target);

  mutable std::recursive_mutex mutex_;
  Ref<System> system_;
  std::uint32_t adapter_;
  WindowId focus_;
  std::uint32_t flags_;
  std::thread::id creatingThread_;
  DeviceDebug debug_{*this};

  // Loss, faults, budget, log.
  State state_ = State::Operational;
  LossMode lossMode_ = LossMode::PresentOnly;
  bool resetAllowed_ = false;
  std::uint32_t loseEveryN_ = 0;
  std::array<Result, static_cast<std::size_t>(CallKind::Count)> faultResult_{};
  std::array<int, static_cast<std::size_t>(CallKind::Count)> faultCount_{};
  std::uint64_t budget_ = 0, inUse_ = 0;
  std::size_t liveResources_ = 0, resetBlockers_ = 0;
  bool recording_ = false;
  std::vector<CallRecord> calls_;
  std::uint64_t presents_ = 0, draws_ = 0, repeatsLeftOut_ = 0;

  // The last draw, to know an exact repeat of it. A draw that does what the
  // last one did (the same vertices, states, textures and target) onto a
  // target that the last one left unchanged would leave it unchanged again:
  // it is left out. (A picture drawn many times over itself stops changing
  // its pixels after a few times, its smoothed edges too.) Every call that
  // can change pixels or resources other than through the state and a draw
  // raises the epoch, which ends the run; a texture or target locked (being
  // written) ends it too.
  struct LastDraw {
    bool valid = false;
    bool keptTarget = false;  // it changed no pixel of its target
    std::uint64_t epoch = 0;
    PrimitiveType type = PrimitiveType::TriangleList;
    std::uint32_t primitiveCount = 0, stride = 0, fvf = 0;
    std::vector<std::uint8_t> vertices;
    const Surface* target = nullptr;  // compared, never followed
    Viewport viewport;
    bool scissorTest = false;
    Rect scissor;
    bool exclusionTest = false;
    Rect exclusion;
    Matrix world, view, projection;
    RenderStateTable renderStates{};
    std::array<SamplerStateTable, kMaxSamplers> samplerStates{};
    std::array<StageStateTable, kMaxTextureStages> stageStates{};
    std::array<const BaseTexture*, kMaxSamplers> textures{};
    const PixelShader* pixelShader = nullptr;
    std::array<float, kMaxShaderConstants * 4> psConstants{};
  };
  LastDraw lastDraw_;
  std::uint64_t epoch_ = 0;

  // State.
  Binding<SwapChain> implicitChain_;
  Binding<Surface> renderTarget_;
  Viewport viewport_;
  Rect scissor_;
  bool exclusionOn_ = false;
  Rect exclusion_;
  bool inScene_ = false;
  RenderStateTable renderStates_{};
  std::array<SamplerStateTable, kMaxSamplers> samplerStates_{};
  std::array<StageStateTable, kMaxTextureStages> stageStates_{};
  std::array<Binding<BaseTexture>, kMaxSamplers> textures_;
  Matrix world_, view_, projection_;
  std::uint32_t fvf_ = 0;
  Binding<VertexBuffer> stream_;
  std::uint32_t streamOffset_ = 0, streamStride_ = 0;
  Binding<PixelShader> pixelShader_;
  std::array<float, kMaxShaderConstants * 4> psConstants_{};
  std::array<float, 256 * 4> vsConstants_{};
};

}  // namespace plat::gfx
