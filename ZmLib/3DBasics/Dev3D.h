#pragma once
// The device-independent face of the 3D back end: the draw device (a window
// that renderers draw into), the 3D engine (one per process), the renderer
// (one per draw device and display mode) and the resources a renderer makes
// (surfaces, textures, volume textures, vertex lists, shaders).
//
// Everything but the draw device's bookkeeping is abstract here; a back end
// implements it, and the layers above use only these declarations. The
// values of the enumerations below are part of the interface: back ends and
// callers exchange them as plain numbers.
//
// Device and renderers: a renderer joins its draw device's list when it is
// made and leaves it when it goes. When the device goes first, every bound
// renderer loses its device link and never touches the device again. Both
// sides guard the link with one lock of the device, which the renderers
// share, so renderers may come and go on any thread while the device's
// bounds change on another.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TBitmap;
class TSysBitmap;
class TPixelFormat;

class T3DRenderer;
class T3DSurface;
class TBaseTexture;
class T3DTexture;
class TVolumeTexture;
class T3DVertexList;
class T3DShader;

// ---- Enumerations ------------------------------------------------------------------

// Texture kinds of CreateTexture.
enum T3DTextureKind : std::uint8_t {
  tkColorAlpha = 0,   // colour with alpha
  tkTarget = 1,       // render target without alpha
  tkTargetAlpha = 2,  // render target with alpha
  tkLuminance8 = 3,   // 8-bit luminance
  tkColor565 = 4,     // 16-bit colour, 5-6-5
};

enum T3DAddressing : std::uint8_t { taWrap = 0, taClamp = 1, taMirror = 2 };
enum T3DFilter : std::uint8_t { tfPoint = 0, tfLinear = 1 };

enum T3DPrimitive : std::uint8_t {
  ptPointList = 0,
  ptLineList = 1,
  ptLineStrip = 2,
  ptTriangleList = 3,
  ptTriangleStrip = 4,
  ptTriangleFan = 5,
};

enum T3DBlendMode : std::uint8_t { bmNormal = 0, bmMaximum = 1, bmSeparateAlpha = 2 };
enum T3DTransformKind : std::uint8_t { ttWorld = 0, ttView = 1, ttProjection = 2 };

// Bits of DrawVertexList's flags.
constexpr std::uint32_t dfTextured = 1;
constexpr std::uint32_t dfModulateColor = 2;  // colour times the vertex colour
constexpr std::uint32_t dfModulateAlpha = 4;  // alpha times the vertex alpha
constexpr std::uint32_t dfLighting = 8;

// Bits of Clear's flags; the depth only counts when the renderer has a depth
// surface.
constexpr std::uint32_t cfTarget = 1;
constexpr std::uint32_t cfDepth = 2;

// Bits of CreateVertexList's components (the position is always there).
constexpr std::uint32_t vcDiffuse = 1;
constexpr std::uint32_t vcNormal = 2;
constexpr std::uint32_t vcSpecular = 4;

// Renderer states.
constexpr std::uint8_t rsReady = 0;
constexpr std::uint8_t rsCreationPending = 1;  // the UI thread has yet to make its device
constexpr std::uint8_t rsDeviceLost = 2;       // device lost or missing

// Result codes of the last device call, kept by every device object.
constexpr std::uint8_t drOk = 0;
constexpr std::uint8_t drInvalidCall = 1;
constexpr std::uint8_t drOutOfVideoMemory = 2;
constexpr std::uint8_t drFailed = 3;  // device lost, or any other failure

// ---- Records -------------------------------------------------------------------------

// A display mode as the engine reports it and CreateRenderer takes it.
struct T3DDisplayMode {
  TRect MonitorRect;
  std::int32_t RefreshRate = 0;  // hertz
  std::int32_t Format = 0;       // the Direct3D 9 format number (22 for X8R8G8B8)
  std::int32_t Adapter = 0;
};
static_assert(sizeof(T3DDisplayMode) == 28, "seven 32-bit words");

struct T3DTexCoord {
  float U = 0;
  float V = 0;
};

// The vertex record SetVertices takes: 96 bytes, whatever the list keeps of
// it. Colours are A8R8G8B8 values (0xAARRGGBB).
struct T3DVertex {
  float X = 0, Y = 0, Z = 0;
  T3DTexCoord Tex[8];
  std::uint32_t Diffuse = 0;
  std::uint32_t Specular = 0;
  float NX = 0, NY = 0, NZ = 0;
};
static_assert(sizeof(T3DVertex) == 96, "the vertex record is 96 bytes");

// A 4 x 4 transform, rows first; points are row vectors (p' = p M).
struct T3DMatrix {
  float M[4][4] = {};
};

// Four floats of one shader constant register.
struct T3DFloat4 {
  float X = 0, Y = 0, Z = 0, W = 0;
};

// A box of a volume texture: right, bottom and back exclusive.
struct T3DBox {
  std::int32_t Left = 0, Top = 0, Front = 0;
  std::int32_t Right = 0, Bottom = 0, Back = 0;
};

// ---- Shared fields of the device objects -------------------------------------------------

// What a device object keeps of its last device call: the result code
// (drOk ... drFailed) and the device-lost marker that the back end sets.
// Read from any thread.
class T3DCallState {
public:
  std::uint8_t LastResult() const { return lastResult_.load(std::memory_order_acquire); }
  void SetLastResult(std::uint8_t code) { lastResult_.store(code, std::memory_order_release); }
  std::uint8_t DeviceLost() const { return deviceLost_.load(std::memory_order_acquire); }
  void SetDeviceLost(std::uint8_t marker) { deviceLost_.store(marker, std::memory_order_release); }

private:
  std::atomic<std::uint8_t> lastResult_{drOk};
  std::atomic<std::uint8_t> deviceLost_{0};
};

// Called with the object whose device went (its store was disposed), so that
// its owner drops it and makes it again on the next use.
using T3DLostEvent = std::function<void(TRefObject* sender)>;

// The lost event of renderers and resources; unassigned by default. Set and
// fired from any thread; the event runs outside the guard, so it may set a
// new event or free the object's owner.
class T3DLostNotifier {
public:
  void SetLostEvent(T3DLostEvent event);
  bool HasLostEvent() const;
  // Calls the event with Sender when one is assigned.
  void DoLost(TRefObject* sender);

private:
  mutable std::mutex m_;
  T3DLostEvent event_;
};

// Ties the lost events an owner sets to the owner's life. A store tells its
// objects on whichever thread let it go, while their owners may be going on
// their own threads: the owner cuts the link before it goes, which waits for
// a call under way on another thread, and no call runs its code afterwards.
class TLostLink {
public:
  TLostLink();
  // An event that runs Fn while the link is whole.
  T3DLostEvent Event(std::function<void()> fn) const;
  void Cut();

private:
  struct TState {
    std::recursive_mutex Lock;  // held while Fn runs
    bool Cut = false;
  };
  std::shared_ptr<TState> state_;
};

// ---- TDrawDevice ------------------------------------------------------------------------

// The surface that one window offers to the renderers. The base keeps the
// bounds, the renderers bound to it and the objects that belong to its
// window; window-backed devices add their own fields.
class TDrawDevice : public TRefObject {
public:
  // Called by SetBounds after a change, outside the device's lock.
  using TBoundsChangedEvent = std::function<void(TDrawDevice* sender)>;

  explicit TDrawDevice(HWND window);
  // Frees the objects still in the window list (the list reads nil while
  // they go), cuts every bound renderer off, then the inherited dispose.
  void Dispose() override;

  // Stores the bounds (client coordinates of the window), the desktop
  // position of their top-left corner and the full-screen request, and tells
  // every bound renderer (UpdateBounds, in list order). Two rectangles are
  // the same when their four coordinates match or when both are empty
  // (right <= left or bottom <= top). When all three are unchanged: false,
  // and nothing happens. The bound renderers are told under the device's
  // lock: UpdateBounds must not wait for a thread that makes or frees a
  // renderer of this device.
  virtual bool SetBounds(const TRect& bounds, const TPoint& screenOrigin, bool fullScreen);
  // True here; window-backed devices ask their window.
  virtual bool IsActive();
  // The repaint event: called when the device's picture must be drawn again
  // (the host panel was painted, a renderer was made). Nothing here;
  // devices with an owner that draws them pass it on.
  virtual void Repaint() {}

  HWND Window() const { return window_; }
  TRect Bounds() const;
  TPoint ScreenOrigin() const;
  bool FullScreen() const;
  // The screen origin extended by the bounds' width and height (each cut to
  // the 32-bit range).
  TRect GetDeviceScreenRect() const;

  // The objects that belong to the device's window (window records, host
  // panel, device stores). The list holds one reference of each and frees
  // them with the device. Nil while and after the device is disposed. The
  // back end guards it with its own device lock.
  TList* Objects() const { return objects_.get(); }
  // The first object of class T (or a descendant) in the list, or nil.
  template <class T>
  T* FindObject() const {
    TList* list = objects_.get();
    std::int32_t i = 0;
    return list && list->FindByClass<T>(i) ? static_cast<T*>(list->Get(i)) : nullptr;
  }

  void SetOnBoundsChanged(TBoundsChangedEvent event);

  std::int32_t RendererCount() const;
  // The bound renderer at an index (0-based), nil out of range.
  T3DRenderer* RendererAt(std::int32_t index) const;

private:
  friend class T3DRenderer;

  HWND window_;
  // Guards the renderer list, every bound renderer's device link, the
  // bounds and the callback. Shared with the renderers, which outlive the
  // device.
  TRef<TCriticalSection> lock_;
  std::vector<T3DRenderer*> renderers_;
  TRef<TList> objects_;
  bool fullScreen_ = false;
  TRect bounds_;
  TPoint screenOrigin_;
  TBoundsChangedEvent onBoundsChanged_;
};

// ---- T3DEngine ------------------------------------------------------------------------

// One per process: adapters, capabilities, display modes, renderers.
class T3DEngine : public TRefObject {
public:
  // The adapter whose monitor overlaps Rect most.
  virtual std::int32_t FindAdapter(const TRect& rect) = 0;
  // Capability values and texts by key (compared in lower case); 0 or an
  // empty text for keys the engine does not know.
  virtual std::uint32_t GetCapValue(std::int32_t adapter, std::string_view key) = 0;
  virtual WideString GetCapText(std::int32_t adapter, std::string_view key) = 0;
  virtual bool GetDisplayMode(std::int32_t adapter, T3DDisplayMode& mode) = 0;
  // A renderer bound to Device, or nil when none can be made.
  virtual TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const T3DDisplayMode& mode) = 0;
  // Whether devices can be used now; true here.
  virtual bool CheckDevice();
  // 0, 1 or 2.
  virtual std::int32_t GetShaderLevel(std::int32_t adapter) = 0;
};

// Makes the process's engine (the argument is reserved, 0); nil when no back
// end can start. A back end's initialisation fills it; nil until then.
using TCreate3DEngineHook = TRef<T3DEngine> (*)(std::int32_t flags);
extern TCreate3DEngineHook Create3DEngineHook;

// ---- T3DRenderer -------------------------------------------------------------------------

// Draws the frames of one draw device. Made by the engine for a device; it
// joins the device's renderer list at once and leaves it in Dispose. The
// device tells it of new bounds only once it is whole: AfterConstruction,
// which MakeRef calls after the constructors, marks it so (in C++ a
// renderer whose derived constructor still runs cannot take virtual calls).
// Code that makes renderers without MakeRef calls AfterConstruction on a
// pointer of the renderer's own type.
class T3DRenderer : public TRefObject, public T3DCallState, public T3DLostNotifier {
public:
  // A nil device makes a renderer bound to nothing.
  explicit T3DRenderer(TDrawDevice* device);
  // Hides TRefObject's: the renderer may be told of bounds from now on.
  void AfterConstruction();
  // Leaves the device's list when the device still exists, then the
  // inherited dispose.
  void Dispose() override;

  // The device it was made for; nil once the device has gone. The device
  // may go at any time on another thread: a caller that holds no reference
  // of its own must know that it lives.
  TDrawDevice* Device() const;

  std::uint8_t State() const { return state_.load(std::memory_order_acquire); }
  void SetState(std::uint8_t state) { state_.store(state, std::memory_order_release); }
  bool Luminance8Available() const { return luminance8_.load(std::memory_order_acquire); }
  void SetLuminance8Available(bool on) { luminance8_.store(on, std::memory_order_release); }

  // The device's bounds changed.
  virtual void UpdateBounds() = 0;
  virtual bool BeginScene() = 0;
  virtual bool EndScene() = 0;
  virtual bool Present(const TRect& source, const TRect& dest) = 0;
  // No rectangles clears the whole viewport. Colour is A8R8G8B8.
  virtual bool Clear(std::span<const TRect> rects, std::uint32_t flags, std::uint32_t color, float depth) = 0;
  virtual bool ResetStates() = 0;
  virtual bool SetRenderTarget(T3DSurface* surface) = 0;
  virtual TRef<T3DSurface> GetRenderTarget() = 0;
  virtual bool GetBackBuffer(TRef<T3DSurface>& surface) = 0;
  virtual bool SetViewport(const TRect& rect, float minZ, float maxZ) = 0;
  // One texture per stage (nil entries bind nothing).
  virtual bool DrawVertexList(T3DVertexList* list, std::span<TBaseTexture* const> textures, std::uint32_t flags) = 0;
  virtual bool SetTexture(std::int32_t stage, TBaseTexture* texture) = 0;
  virtual TRef<T3DTexture> CreateTexture(std::uint8_t kind, std::int32_t width, std::int32_t height,
                                         bool mipmapped) = 0;
  virtual TRef<TVolumeTexture> CreateVolumeTexture(std::int32_t width, std::int32_t height, std::int32_t depth) = 0;
  virtual TRef<T3DVertexList> CreateVertexList(std::int32_t vertexCount, std::uint32_t components,
                                               std::int32_t texCoordSets) = 0;
  // Pairs of rectangles: SourceRects[i] of Source to TargetRects[i] of
  // Target; both spans have the same length.
  virtual bool StretchRects(T3DSurface* source, std::span<const TRect> sourceRects, T3DSurface* target,
                            std::span<const TRect> targetRects) = 0;
  // One pass over the current target for a picture drawn 1:1 and modulated
  // by Factor, blended premultiplied over another one: each piece's Dest
  // pixels get Over's texel (x - OverAt.X, y - OverAt.Y) so over Under's
  // texel (x - UnderAt.X, ...), both read opaque, as drawing Over onto a
  // target holding Under gives them. False where the back end has no such
  // pass (nothing drawn): the caller draws them the usual way.
  struct TOverPiece {
    T3DTexture* Under = nullptr;
    TPoint UnderAt;
    T3DTexture* Over = nullptr;
    TPoint OverAt;
    TRect Dest;
  };
  virtual bool BlendOverTextures(std::span<const TOverPiece> pieces, std::uint32_t factor) {
    (void)pieces, (void)factor;
    return false;
  }
  virtual bool SetBlendMode(std::uint8_t mode) = 0;
  virtual bool SetTransform(const T3DMatrix& matrix, std::uint8_t which) = 0;
  virtual bool SetCullNone(bool on) = 0;
  // Draws and clears only inside Rect (target pixels) from now on; nil
  // draws everywhere again. False where the back end has no such clip.
  virtual bool SetScissor(const TRect* rect) {
    (void)rect;
    return false;
  }
  // Draws leave the pixels inside Rect (target pixels) as they are from now
  // on, for what is painted over later; nil draws everywhere again, and so
  // does a new target. False where the back end has no such clip (it
  // draws everywhere).
  virtual bool SetExclusion(const TRect* rect) {
    (void)rect;
    return false;
  }
  // The offset between texel and pixel centres.
  virtual void GetPixelCenter(float& x, float& y) = 0;
  // Code is the shader as the back end stores it.
  virtual TRef<T3DShader> CreateShader(const TByteString& code, bool vertex) = 0;
  virtual bool SetShader(T3DShader* shader) = 0;
  // One register per value, from FirstRegister on.
  virtual bool SetShaderConstants(bool vertex, std::int32_t firstRegister, std::span<const T3DFloat4> values) = 0;

private:
  friend class TDrawDevice;

  // The renderer's side of the device link. It also unlinks a renderer that
  // dies without Dispose (a constructor of a derived class threw).
  struct TLink {
    TRef<TCriticalSection> Lock;   // the device's, kept after it goes
    TDrawDevice* Device = nullptr;  // guarded by Lock
    bool Whole = false;             // guarded by Lock
    T3DRenderer* Owner = nullptr;
    void Unlink() noexcept;
    TLink() = default;
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;
    ~TLink() { Unlink(); }
  };

  TLink link_;
  std::atomic<std::uint8_t> state_{rsReady};
  std::atomic<bool> luminance8_{false};
};

// ---- Resources ---------------------------------------------------------------------------

class T3DSurface : public TRefObject, public T3DCallState {
public:
  // Draws the surface into Bitmap at (0, 0).
  virtual bool CopyToBitmap(TBitmap* bitmap) = 0;
  // Width and height; empty when the surface has no content.
  virtual TSize GetSize() = 0;
  virtual TPixelFormat* GetPixelFormat() = 0;
  // A bitmap over the locked bits of Rect, or nil.
  virtual TRef<TSysBitmap> Lock(const TRect& rect, bool readOnly) = 0;
  // Unlocks and drops the bitmap of Lock (the variable becomes nil).
  virtual bool Unlock(TRef<TSysBitmap>& bitmap) = 0;
};

class TBaseTexture : public TRefObject, public T3DCallState, public T3DLostNotifier {
public:
  virtual std::int32_t GetLevelCount() = 0;
};

class T3DTexture : public TBaseTexture {
public:
  virtual TRef<T3DSurface> GetSurface(std::int32_t level) = 0;
  virtual void PreLoad() = 0;
  virtual void SetAddressing(std::uint8_t u, std::uint8_t v) = 0;
  virtual void GetAddressing(std::uint8_t& u, std::uint8_t& v) = 0;
  virtual void SetFilter(std::uint8_t filter) = 0;
  virtual std::uint8_t GetFilter() = 0;
  virtual void SetAnisotropic(bool on) = 0;
  virtual void SetLodBias(float bias) = 0;
  // Premultiplied colour changes how the texture blends; back ends that do
  // not blend by it ignore it.
  virtual void SetPremultiplied(bool on) { (void)on; }
};

class TVolumeTexture : public TBaseTexture {
public:
  // A bitmap over the locked box, its slices one below the other
  // (width = right - left, rows = (bottom - top) * (back - front)), or nil.
  virtual TRef<TSysBitmap> LockBox(std::int32_t level, const T3DBox& box) = 0;
  // Unlocks and drops the bitmap of LockBox (the variable becomes nil).
  virtual bool UnlockBox(std::int32_t level, TRef<TSysBitmap>& bitmap) = 0;
};

class T3DVertexList : public TRefObject, public T3DCallState, public T3DLostNotifier {
public:
  virtual bool SetPrimitive(std::int32_t firstVertex, std::int32_t primitiveCount, std::uint8_t kind) = 0;
  // Count records of Vertices from SourceIndex on, into the list from
  // DestIndex on.
  virtual bool SetVertices(std::int32_t destIndex, std::span<const T3DVertex> vertices, std::int32_t sourceIndex,
                           std::int32_t count) = 0;
};

class T3DShader : public TRefObject, public T3DCallState, public T3DLostNotifier {};

}  // namespace zm
