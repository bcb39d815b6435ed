#pragma once
// The 3D application layer: the process's one 3D engine, and the 3D screen,
// which wraps one window's renderer with the device resources made on it,
// a stack of render targets, the viewport and projection, and batches of
// textured triangles. Built on the abstract device layer only.
//
// Space and projection: 3D points are in virtual units with the screen on
// the plane z = 0, y downwards, and the camera at (VW / 2, VH / 2, -VH) for
// a virtual size VW x VH. A point on the screen plane at (x, y) lands on the
// render target at (x * ScaleX - Left, y * ScaleY - Top), where the scales
// are Width / VW and Height / VH of the last SetProjection.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "ZmLib/3DBasics/Dev3D.h"
#include "ZmLib/zmModules.h"

namespace zm {

class T3DScreen;

// ---- The engine ------------------------------------------------------------------

// The process's engine, made through Create3DEngineHook on first use under the unit's
// lock. While the hook yields nil, every call asks it again. Nil before the
// unit is initialised and after it is finalised (which drops the unit's
// reference; a caller that still holds one keeps the engine until it lets go).
TRef<T3DEngine> Get3DEngine();

// The monitors' desktop rectangles, in order; full screen picks among them.
// The default reads the screen object of the core library.
using TMonitorRectsProc = std::vector<TRect> (*)();
extern TMonitorRectsProc MonitorRectsHook;

// ---- Small geometry --------------------------------------------------------------

struct TPoint2F {
  float X = 0, Y = 0;
  friend bool operator==(const TPoint2F&, const TPoint2F&) = default;
};

struct TPoint3F {
  float X = 0, Y = 0, Z = 0;
  friend bool operator==(const TPoint3F&, const TPoint3F&) = default;
};

// A source rectangle in texture pixels.
struct TRectF {
  float X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

// RGB times alpha / 255, truncated; alpha kept.
std::uint32_t PremultiplyColour(std::uint32_t colour);

// The texture extent of a length: max(32, the next power of two not below
// N), and its reciprocal; (0, 0) when N < 1 or no extent fits 32 bits.
struct TTextureExtent {
  std::int32_t Extent = 0;
  double Reciprocal = 0;
};
TTextureExtent TextureExtent(std::int32_t n);

// True when Point lies on the side of the plane (Origin, AxisX, AxisY) away
// from which AxisX x AxisY points.
bool IsPlaneFacingAway(const TPoint3F& origin, const TPoint3F& axisX, const TPoint3F& axisY, const TPoint3F& point);

// The point of the screen plane (z = 0) on the ray from Camera through Point.
// A camera on the screen plane fails the assertion "  Camera.Z = 0  ".
TPoint2F ProjectToScreenPlane(const TPoint3F& camera, const TPoint3F& point);
// The point of the plane (PlaneOrigin, PlaneNormal) on the ray from Camera
// through the screen-plane point ScreenPoint. Same assertion.
TPoint3F CameraRayToPlane(const TPoint3F& camera, const TPoint2F& screenPoint, const TPoint3F& planeOrigin,
                          const TPoint3F& planeNormal);

// ---- Resources of a screen -----------------------------------------------------

// Base of everything that holds device objects made on one screen: it joins
// the screen's resource list when made and leaves it when disposed. A
// resource that outlives its screen is cut loose (its screen reads nil).
class TScreenResource : public TRefObject {
public:
  // Asserts a screen ("<class> - Screen not Assigned").
  explicit TScreenResource(T3DScreen* screen, const char* className);
  void Dispose() override;
  T3DScreen* Screen() const { return screen_; }
  // Drops the device objects; they are made again on the next use.
  virtual void ReleaseDeviceObjects() = 0;

private:
  friend class T3DScreen;
  T3DScreen* screen_;
};

// What a batch needs of a texture made on a screen; the custom textures
// derive from it.
class TScreenTexture : public TScreenResource {
public:
  using TScreenResource::TScreenResource;
  // The device texture, made when missing; nil when none can be made.
  virtual T3DTexture* Realize() = 0;

  double RecipWidth = 0;   // 1 / the texture's extent
  double RecipHeight = 0;
  bool Premultiplied = false;
  bool PointSampling = false;
  bool Anisotropic = false;
  float LodBias = 0;
  std::uint8_t Alpha = 255;
};

// A compiled shader and the renderer's object made from it.
class TShader : public TScreenResource {
public:
  TShader(T3DScreen* screen, TByteString code, std::uint8_t kind);
  void Dispose() override;
  void ReleaseDeviceObjects() override;
  // Makes the device object when missing or lost and the screen can draw.
  void Prepare();
  T3DShader* DeviceShader() const { return shader_.get(); }
  const TByteString& Code() const { return code_; }
  std::uint8_t Kind() const { return kind_; }

private:
  TByteString code_;
  std::uint8_t kind_;
  TRef<T3DShader> shader_;
  TLostLink lostLink_;
};

// One pair of texture coordinates per stage, in texture pixels.
using TStageCoords = std::span<const TPoint2F>;

class TVertexBuffer : public TScreenResource {
public:
  static constexpr std::int32_t kDefaultCapacity = 1024;
  static constexpr std::int32_t kMaxStages = 8;

  explicit TVertexBuffer(T3DScreen* screen);
  void Dispose() override;
  // Frees the list and empties the batch.
  void ReleaseDeviceObjects() override;

  void Reserve(std::int32_t triangles, std::int32_t textureSets);
  // Opens a batch; Textures must hold at least StageCount entries.
  void Begin(std::span<TScreenTexture* const> textures, std::int32_t stageCount);
  void AddTriangle(const TPoint3F& p1, const TPoint3F& p2, const TPoint3F& p3, TStageCoords uv1, TStageCoords uv2,
                   TStageCoords uv3, std::uint32_t c1, std::uint32_t c2, std::uint32_t c3, std::int32_t stageCount);
  void Flush();

  T3DVertexList* List() const { return list_.get(); }
  std::int32_t Capacity() const { return capacity_; }
  std::int32_t Limit() const { return limit_; }
  std::int32_t Count() const { return count_; }
  std::int32_t TextureCount() const { return textureCount_; }
  std::int32_t TexCoordSets() const { return texCoordSets_; }
  const std::vector<T3DVertex>& Vertices() const { return vertices_; }

  bool ModulateColour = false;

private:
  void FreeList();

  TRef<T3DVertexList> list_;
  std::int32_t capacity_ = 0;
  std::int32_t limit_ = 0;
  std::int32_t count_ = 0;
  std::int32_t texCoordSets_ = 0;
  std::vector<TScreenTexture*> textures_;
  std::int32_t textureCount_ = 0;
  std::vector<T3DVertex> vertices_;
  TLostLink lostLink_;
};

// ---- The target stack and the device messenger -----------------------------------

class TRenderTargetWrapper : public TRefObject {
public:
  TRenderTargetWrapper(std::int32_t offsetX, std::int32_t offsetY, TRef<T3DSurface> surface)
      : OffsetX(offsetX), OffsetY(offsetY), Surface(std::move(surface)) {}
  std::int32_t OffsetX;
  std::int32_t OffsetY;
  TRef<T3DSurface> Surface;  // nil when the renderer reports none
  // The clip of draws into this target (target pixels), put back when the
  // target is current again after another one.
  bool Scissored = false;
  TRect Scissor;
};

// Sits in the draw device's list of window objects; the device frees it when
// it ends, which cuts the screen off the device.
class TDeviceKilledMessenger : public TRefObject {
public:
  explicit TDeviceKilledMessenger(T3DScreen* screen) : screen_(screen) {}
  void Dispose() override;
  T3DScreen* Screen() const { return screen_; }

private:
  friend class T3DScreen;
  T3DScreen* screen_;
};

// ---- The antialiased-edge quad -------------------------------------------------

// Vertex k lies in row k div 4 and column k mod 4; 5, 6, 9 and 10 are the
// quad's corners, the others a band one pixel wide outside each flagged edge.
struct TEdgeMesh {
  TPoint3F Pos[16];
  TPoint2F Tex[16];
};

// Edge bits of the antialiased-edge quad.
constexpr std::uint32_t ebLeft = 1;
constexpr std::uint32_t ebTop = 2;
constexpr std::uint32_t ebRight = 4;
constexpr std::uint32_t ebBottom = 8;

// ---- T3DScreen -----------------------------------------------------------------

struct T3DViewport {
  TRect Rect;
  float MinZ = 0;
  float MaxZ = 1;
};

struct T3DProjection {
  float Left = 0, Top = 0;
  double ScaleX = 1, ScaleY = 1;
  double VirtualWidth = 0, VirtualHeight = 0;  // 0 until set
};

struct T3DViewState {
  T3DViewport Viewport;
  T3DProjection Projection;
};

class T3DScreen : public TRefObject {
public:
  T3DScreen();
  void Dispose() override;

  // Asserts "DrawDevice=nil" without a device.
  void Open(TDrawDevice* device);
  void Close();
  bool CanDraw() const;
  void BeginFrame();
  bool EndFrame(bool present);
  void Clear(std::uint32_t colour, bool withDepth);
  void FillRect(std::uint32_t colour, const TRect& rect);
  void SetViewport(const TRect& rect, float minZ, float maxZ);
  void SetProjection(float left, float top, float width, float height, float virtualWidth, float virtualHeight);
  T3DViewState SaveView() const;
  void RestoreView(const T3DViewState& state);
  TRect GetVisibleRect() const;
  void SetRenderTarget(T3DTexture* target, std::int32_t offsetX, std::int32_t offsetY);
  void SetRenderTarget(T3DTexture* target) { SetRenderTarget(target, 0, 0); }
  // Draws and clears into the current target only inside Rect (its own
  // pixels) until called with nil or the target is left; a target pushed on
  // top starts unclipped. False when the back end has no such clip (nothing
  // changes then).
  bool SetScissor(const TRect* rect);
  void ReleaseResources();

  // The projection of the last SetProjection as the maths above.
  TPoint2F ProjectToTarget(const TPoint3F& point) const;
  TPoint3F TargetToPlane(const TPoint2F& point, const TPoint3F& planeOrigin, const TPoint3F& planeNormal) const;
  TPoint3F Camera() const;

  void FillColourQuad(const TPoint3F& p1, const TPoint3F& p2, const TPoint3F& p3, const TPoint3F& p4,
                      std::uint32_t c1, std::uint32_t c2, std::uint32_t c3, std::uint32_t c4);
  void DrawTexturedQuad(std::span<TScreenTexture* const> textures, std::int32_t stageCount, const TPoint3F& origin,
                        const TPoint2F& pivot, const TPoint3F& axisX, const TPoint3F& axisY,
                        std::span<const TRectF> rects, std::uint32_t c1, std::uint32_t c2, std::uint32_t c3,
                        std::uint32_t c4);
  void DrawTexture(TScreenTexture* texture, const TPoint3F& origin, const TPoint2F& pivot, const TPoint3F& axisX,
                   const TPoint3F& axisY, const TRectF& rect);
  void BuildEdgeMesh(const TPoint3F& origin, const TPoint2F& pivot, const TPoint3F& axisX, const TPoint3F& axisY,
                     const TRectF& rect, std::uint32_t edges, TEdgeMesh& mesh) const;
  void DrawEdgeMesh(std::span<TScreenTexture* const> textures, std::int32_t mode, const TEdgeMesh& mesh,
                    std::uint32_t c1, std::uint32_t c2, std::uint32_t c3, std::uint32_t c4, std::uint32_t edges);

  T3DRenderer* Renderer() const { return renderer_.get(); }
  // The renderer when the screen can draw, else nil: for threads other than
  // the drawing one (a clip's extractor making its textures), which may meet
  // a renderer being made anew.
  TRef<T3DRenderer> ReadyRenderer() const;
  TDrawDevice* DrawDevice() const { return drawDevice_; }
  TDeviceKilledMessenger* Messenger() const { return messenger_; }
  bool FullScreen() const { return fullScreen_; }
  TRect WindowRect() const { return windowRect_; }
  std::int32_t Adapter() const { return adapter_; }
  const T3DViewport& Viewport() const { return view_.Viewport; }
  const T3DProjection& Projection() const { return view_.Projection; }
  TRect TargetRect() const { return targetRect_; }
  double RecipWidth() const { return recipWidth_; }
  double RecipHeight() const { return recipHeight_; }
  TPoint TargetOffset() const { return targetOffset_; }
  TList* TargetStack() const { return targetStack_.get(); }
  TVertexBuffer* VertexBuffer() const { return vertexBuffer_; }
  TList* Resources() const { return resources_.get(); }

  // What the window shows of the screen; empty means all of it.
  TRect VisibleRect;
  // Told when the screen closes (the renderer went or the device was lost).
  std::function<void(T3DScreen* sender)> OnClose;
  // Told first when the renderer's device was lost (the next frame makes a
  // new one).
  std::function<void(T3DScreen* sender)> OnLost;

private:
  friend class TScreenResource;
  friend class TDeviceKilledMessenger;

  void Initialise();
  bool WantedRect(TDrawDevice* device, bool& fullScreen, TRect& rect) const;
  void SetTargetProjection();
  void ApplyTransforms();
  void ApplyTargetScissor();
  void ClearTargetStack();
  void DetachFromDevice();

  TRef<T3DRenderer> renderer_;  // changed under rendererLock_ (read so by other threads)
  mutable std::mutex rendererLock_;  // a leaf
  TDrawDevice* drawDevice_ = nullptr;
  TDeviceKilledMessenger* messenger_ = nullptr;  // one reference, held by the device's list
  bool fullScreen_ = false;
  TRect windowRect_;
  std::int32_t adapter_ = 0;
  T3DViewState view_;
  TRect targetRect_;
  double recipWidth_ = 0, recipHeight_ = 0;
  TPoint targetOffset_;
  TRef<TList> targetStack_;  // of TRenderTargetWrapper, owned
  TVertexBuffer* vertexBuffer_ = nullptr;  // owned
  TRef<TList> resources_;                  // not owned
  // From a BeginFrame that could not draw (or made the renderer anew for a
  // new surface) to its EndFrame: the frame draws nothing.
  std::atomic<bool> skipFrame_{false};
  bool scissorOn_ = false;  // the renderer's clip is on
  TLostLink lostLink_;      // of the renderer's lost event
};

// The module's start and end: the engine's lock, and the engine freed.
void InitDev3DApp2();
void FiniDev3DApp2();

// The units of the abstract 3D layer, in dependency order.
std::span<const TModule> Basics3DModules();

}  // namespace zm
