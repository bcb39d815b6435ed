#pragma once
// A fake engine whose renderers record what the 3D screen asks of them, with
// surfaces, textures, vertex lists and shaders that remember their state,
// and a device loss that fires the lost events as a back end's store does.
#include <string>
#include <vector>

#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "tests/ZmLib/3DBasics/Dev3DDoubles.h"

namespace zmtest {

class TFakeSurface : public zm::T3DSurface {
public:
  explicit TFakeSurface(zm::TSize size) : Size(size) {}
  bool CopyToBitmap(zm::TBitmap*) override { return false; }
  zm::TSize GetSize() override { return Size; }
  zm::TPixelFormat* GetPixelFormat() override { return nullptr; }
  zm::TRef<zm::TSysBitmap> Lock(const zm::TRect&, bool) override { return nullptr; }
  bool Unlock(zm::TRef<zm::TSysBitmap>& b) override {
    b = nullptr;
    return false;
  }
  zm::TSize Size;
};

class TFakeTexture : public zm::T3DTexture {
public:
  // A nil surface makes a texture that cannot be drawn into.
  explicit TFakeTexture(zm::TRef<zm::T3DSurface> surface) : Surface(std::move(surface)) {}
  std::int32_t GetLevelCount() override { return 1; }
  zm::TRef<zm::T3DSurface> GetSurface(std::int32_t level) override { return level == 0 ? Surface : nullptr; }
  void PreLoad() override {}
  void SetAddressing(std::uint8_t u, std::uint8_t v) override { U = u, V = v; }
  void GetAddressing(std::uint8_t& u, std::uint8_t& v) override { u = U, v = V; }
  void SetFilter(std::uint8_t f) override { Filter = f; }
  std::uint8_t GetFilter() override { return Filter; }
  void SetAnisotropic(bool on) override { Anisotropic = on; }
  void SetLodBias(float bias) override { LodBias = bias; }
  zm::TRef<zm::T3DSurface> Surface;
  std::uint8_t U = 0, V = 0, Filter = 9;
  bool Anisotropic = false;
  float LodBias = 0;
};

class TFakeVertexList : public zm::T3DVertexList {
public:
  TFakeVertexList(std::int32_t count, std::int32_t sets) : Records(std::size_t(count)), Sets(sets) {}
  bool SetPrimitive(std::int32_t first, std::int32_t count, std::uint8_t kind) override {
    First = first, PrimCount = count, Kind = kind;
    return true;
  }
  bool SetVertices(std::int32_t dest, std::span<const zm::T3DVertex> v, std::int32_t src,
                   std::int32_t count) override {
    if (dest < 0 || src < 0 || count < 0 || std::size_t(dest + count) > Records.size() ||
        std::size_t(src + count) > v.size())
      return false;
    std::copy(v.begin() + src, v.begin() + src + count, Records.begin() + dest);
    return true;
  }
  std::vector<zm::T3DVertex> Records;
  std::int32_t Sets;
  std::int32_t First = -1, PrimCount = -1;
  std::uint8_t Kind = 255;
};

class TFakeShader : public zm::T3DShader {};

// One draw as the renderer saw it.
struct TDrawCall {
  std::vector<zm::T3DVertex> Vertices;  // the triangles drawn
  std::vector<zm::TBaseTexture*> Textures;
  std::uint32_t Flags = 0;
};

class TRecRenderer : public TTestRenderer {
public:
  TRecRenderer(zm::TDrawDevice* device, zm::TSize backSize)
      : TTestRenderer(device, 0), Back(zm::MakeRef<TFakeSurface>(backSize)), Current(Back) {}

  bool BeginScene() override { return Note("BeginScene"), true; }
  bool EndScene() override {
    Note("EndScene");
    if (LoseInEndScene) LoseDevice();
    return EndOk;
  }
  bool Present(const zm::TRect& s, const zm::TRect& d) override {
    Note("Present");
    PresentSource = s, PresentDest = d;
    return true;
  }
  bool Clear(std::span<const zm::TRect> rects, std::uint32_t flags, std::uint32_t colour, float depth) override {
    Note("Clear");
    ClearRects.assign(rects.begin(), rects.end());
    ClearFlags = flags, ClearColour = colour, ClearDepth = depth;
    return true;
  }
  bool SetRenderTarget(zm::T3DSurface* s) override {
    Note("SetRenderTarget");
    Current = zm::TRef<zm::T3DSurface>(s);
    return true;
  }
  zm::TRef<zm::T3DSurface> GetRenderTarget() override { return Current; }
  bool GetBackBuffer(zm::TRef<zm::T3DSurface>& s) override {
    s = Back;
    return true;
  }
  bool SetViewport(const zm::TRect& r, float minZ, float maxZ) override {
    Note("SetViewport");
    Viewport = r, MinZ = minZ, MaxZ = maxZ;
    return true;
  }
  bool DrawVertexList(zm::T3DVertexList* list, std::span<zm::TBaseTexture* const> textures,
                      std::uint32_t flags) override {
    auto* l = static_cast<TFakeVertexList*>(list);
    TDrawCall call;
    if (l->Kind == zm::ptTriangleList && l->First == 0)
      call.Vertices.assign(l->Records.begin(), l->Records.begin() + 3 * l->PrimCount);
    call.Textures.assign(textures.begin(), textures.end());
    call.Flags = flags;
    Draws.push_back(std::move(call));
    return true;
  }
  zm::TRef<zm::T3DVertexList> CreateVertexList(std::int32_t count, std::uint32_t components,
                                               std::int32_t sets) override {
    Note("CreateVertexList " + std::to_string(count) + " " + std::to_string(components) + " " +
         std::to_string(sets));
    auto l = zm::MakeRef<TFakeVertexList>(count, sets);
    Lists.push_back(l);
    return l;
  }
  bool SetTransform(const zm::T3DMatrix& m, std::uint8_t which) override {
    if (which < 3) Transforms[which] = m;
    ++TransformCalls;
    return true;
  }
  bool SetCullNone(bool on) override { return Note(on ? "SetCullNone 1" : "SetCullNone 0"), true; }
  zm::TRef<zm::T3DShader> CreateShader(const zm::TByteString&, bool) override {
    auto s = zm::MakeRef<TFakeShader>();
    Shaders.push_back(s);
    return s;
  }

  // As a back end's store going: the device is marked lost, every object
  // made on it is told, then the renderer's owner.
  void LoseDevice() {
    SetState(zm::rsDeviceLost);
    for (auto& l : Lists) l->DoLost(l.get());
    for (auto& s : Shaders) s->DoLost(s.get());
    DoLost(this);
  }

  void Note(const std::string& s) { Calls.push_back(s); }
  bool Called(const std::string& s) const { return std::find(Calls.begin(), Calls.end(), s) != Calls.end(); }

  zm::TRef<zm::T3DSurface> Back, Current;
  std::vector<std::string> Calls;
  std::vector<TDrawCall> Draws;
  std::vector<zm::TRef<TFakeVertexList>> Lists;
  std::vector<zm::TRef<TFakeShader>> Shaders;
  zm::T3DMatrix Transforms[3];
  int TransformCalls = 0;
  zm::TRect Viewport, PresentSource, PresentDest;
  float MinZ = -1, MaxZ = -1;
  std::vector<zm::TRect> ClearRects;
  std::uint32_t ClearFlags = 0, ClearColour = 0;
  float ClearDepth = 0;
  bool EndOk = true;
  bool LoseInEndScene = false;
};

// One adapter per monitor rectangle; renderers get a back buffer of the
// rectangle's size.
class TFakeEngine : public zm::T3DEngine {
public:
  std::int32_t FindAdapter(const zm::TRect& rect) override {
    ++FindCalls;
    std::int32_t best = 0;
    std::int64_t bestArea = -1;
    for (std::size_t i = 0; i < Monitors.size(); ++i) {
      const zm::TRect& m = Monitors[i];
      const std::int64_t w = std::int64_t(std::min(m.Right, rect.Right)) - std::max(m.Left, rect.Left);
      const std::int64_t h = std::int64_t(std::min(m.Bottom, rect.Bottom)) - std::max(m.Top, rect.Top);
      const std::int64_t a = w > 0 && h > 0 ? w * h : 0;
      if (a > bestArea) bestArea = a, best = std::int32_t(i);
    }
    return best;
  }
  std::uint32_t GetCapValue(std::int32_t, std::string_view) override { return 0; }
  zm::WideString GetCapText(std::int32_t, std::string_view) override { return {}; }
  bool GetDisplayMode(std::int32_t adapter, zm::T3DDisplayMode& mode) override {
    if (!ModeOk) return false;
    mode.RefreshRate = 60;
    mode.Format = 22;
    mode.Adapter = adapter;
    return true;
  }
  zm::TRef<zm::T3DRenderer> CreateRenderer(zm::TDrawDevice* device, const zm::T3DDisplayMode& mode) override {
    if (!RendererOk) return nullptr;
    const zm::TRect r = device->GetDeviceScreenRect();
    zm::TSize size{r.Right - r.Left, r.Bottom - r.Top};
    if (device->FullScreen() && std::size_t(mode.Adapter) < Monitors.size()) {
      const zm::TRect& m = Monitors[std::size_t(mode.Adapter)];
      size = {m.Right - m.Left, m.Bottom - m.Top};
    }
    auto renderer = zm::MakeRef<TRecRenderer>(device, size);
    renderer->SetState(NewState);
    Renderers.push_back(renderer);
    return renderer;
  }
  std::int32_t GetShaderLevel(std::int32_t) override { return 2; }

  TRecRenderer* Last() const { return Renderers.empty() ? nullptr : Renderers.back().get(); }

  std::vector<zm::TRect> Monitors{{0, 0, 1920, 1080}};
  std::vector<zm::TRef<TRecRenderer>> Renderers;
  bool ModeOk = true;
  bool RendererOk = true;
  std::uint8_t NewState = zm::rsReady;
  int FindCalls = 0;
};

// A texture of a screen over a fake device texture of W x H pixels.
class TFakeScreenTexture : public zm::TScreenTexture {
public:
  TFakeScreenTexture(zm::T3DScreen* screen, std::int32_t w, std::int32_t h)
      : zm::TScreenTexture(screen, "TFakeScreenTexture"), W(w), H(h) {
    RecipWidth = zm::TextureExtent(w).Reciprocal;
    RecipHeight = zm::TextureExtent(h).Reciprocal;
  }
  zm::T3DTexture* Realize() override {
    if (!Device && CanRealize) Device = zm::MakeRef<TFakeTexture>(zm::MakeRef<TFakeSurface>(zm::TSize{W, H}));
    return Device.get();
  }
  void ReleaseDeviceObjects() override {
    ++Releases;
    Device = nullptr;
  }
  std::int32_t W, H;
  zm::TRef<TFakeTexture> Device;
  bool CanRealize = true;
  int Releases = 0;
};

}  // namespace zmtest
