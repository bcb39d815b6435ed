#pragma once
// The resources of the Direct3D 9 back end, the device store that owns one
// device and remembers everything made on it, and the host panel into which
// windowed devices draw.
//
// A store that goes cuts every renderer and resource off (their store link
// becomes nil) and calls their lost events; the resources keep their device
// objects until their owners free them, so a bitmap still locked on another
// thread stays valid.
#include <cstdint>
#include <vector>

#include "Platform/Gfx/GfxResources.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/Application2/winForms.h"

namespace zm {

class T3DTexture9;

// ---- Surfaces ----------------------------------------------------------------------------

class T3DSurface9 : public T3DSurface {
public:
  T3DSurface9(plat::gfx::Ref<plat::gfx::Surface> surface, T3DRenderer9* renderer, T3DTexture9* texture);
  void Dispose() override;

  bool CopyToBitmap(TBitmap* bitmap) override;
  TSize GetSize() override;
  TPixelFormat* GetPixelFormat() override;
  TRef<TSysBitmap> Lock(const TRect& rect, bool readOnly) override;
  bool Unlock(TRef<TSysBitmap>& bitmap) override;

  plat::gfx::Surface* Surface() const { return surface_.Get(); }
  T3DTexture9* Texture() const { return texture_; }

protected:
  // Locks the whole surface S read only, draws it into Bitmap, unlocks.
  bool DrawLocked(plat::gfx::Surface* s, TBitmap* bitmap);

  plat::gfx::Ref<plat::gfx::Surface> surface_;
  T3DRenderer9* renderer_;  // not owned; may have gone
  T3DTexture9* texture_;    // the owner of this wrapper, or nil
};

// A render-target surface: read back through system memory.
class T3DSurfaceRT : public T3DSurface9 {
public:
  using T3DSurface9::T3DSurface9;
  bool CopyToBitmap(TBitmap* bitmap) override;
};

// ---- Textures ------------------------------------------------------------------------------

class T3DTexture9 : public T3DTexture {
public:
  T3DTexture9(std::uint8_t kind, T3DRenderer9* renderer);
  void Dispose() override;

  std::int32_t GetLevelCount() override;
  TRef<T3DSurface> GetSurface(std::int32_t level) override;
  void PreLoad() override;
  void SetAddressing(std::uint8_t u, std::uint8_t v) override;
  void GetAddressing(std::uint8_t& u, std::uint8_t& v) override;
  void SetFilter(std::uint8_t filter) override;
  std::uint8_t GetFilter() override;
  void SetAnisotropic(bool on) override;
  void SetLodBias(float bias) override;

  std::uint8_t Kind() const { return kind_; }
  bool Premultiplied() const { return premultiplied_.load(); }
  void SetPremultiplied(bool on) override { premultiplied_.store(on); }
  bool Anisotropic() const { return anisotropic_.load(); }
  float LodBias() const { return lodBias_.load(); }
  plat::gfx::Texture* Texture() const { return texture_.Get(); }
  TDevStore* Store() const;

private:
  friend class T3DRenderer9;
  friend class TDevStore;
  std::uint8_t kind_;
  std::atomic<bool> premultiplied_{false};
  plat::gfx::Ref<plat::gfx::Texture> texture_;
  std::atomic<std::uint8_t> addressU_{taWrap}, addressV_{taWrap}, filter_{tfPoint};
  std::atomic<bool> anisotropic_{false};
  std::atomic<float> lodBias_{0.0f};
  std::vector<TRef<T3DSurface9>> levels_;  // guarded by the 3D lock
  T3DRenderer9* renderer_;
  TDevStore* store_ = nullptr;  // guarded by the 3D lock
};

class TVolumeTexture9 : public TVolumeTexture {
public:
  void Dispose() override;
  std::int32_t GetLevelCount() override;
  TRef<TSysBitmap> LockBox(std::int32_t level, const T3DBox& box) override;
  bool UnlockBox(std::int32_t level, TRef<TSysBitmap>& bitmap) override;

  plat::gfx::VolumeTexture* Texture() const { return texture_.Get(); }
  TDevStore* Store() const;

private:
  friend class T3DRenderer9;
  friend class TDevStore;
  plat::gfx::Ref<plat::gfx::VolumeTexture> texture_;
  TDevStore* store_ = nullptr;
};

// ---- Vertex lists and shaders ----------------------------------------------------------

class T3DVertexList9 : public T3DVertexList {
public:
  void Dispose() override;
  bool SetPrimitive(std::int32_t firstVertex, std::int32_t primitiveCount, std::uint8_t kind) override;
  bool SetVertices(std::int32_t destIndex, std::span<const T3DVertex> vertices, std::int32_t sourceIndex,
                   std::int32_t count) override;

  plat::gfx::VertexBuffer* Buffer() const { return buffer_.Get(); }
  std::uint32_t Fvf() const { return fvf_; }
  std::uint32_t Stride() const { return stride_; }
  std::uint32_t DiffuseOffset() const { return diffuseOffset_; }
  std::uint32_t SpecularOffset() const { return specularOffset_; }
  std::uint32_t NormalOffset() const { return normalOffset_; }
  std::uint32_t TexOffset() const { return texOffset_; }
  std::uint32_t TexCount() const { return texCount_; }
  std::uint32_t VertexCount() const { return stride_ ? buffer_.Get() ? buffer_->Size() / stride_ : 0 : 0; }
  std::uint8_t Primitive() const { return primitive_; }
  std::int32_t FirstVertex() const { return firstVertex_; }
  std::int32_t PrimitiveCount() const { return primitiveCount_; }
  TDevStore* Store() const;

private:
  friend class T3DRenderer9;
  friend class TDevStore;
  plat::gfx::Ref<plat::gfx::VertexBuffer> buffer_;
  std::uint8_t primitive_ = ptTriangleList;
  std::int32_t firstVertex_ = 0, primitiveCount_ = 0;
  std::uint32_t fvf_ = 0, stride_ = 0;
  std::uint32_t diffuseOffset_ = 0, specularOffset_ = 0, normalOffset_ = 0, texOffset_ = 0, texCount_ = 0;
  bool hasDiffuse_ = false, hasSpecular_ = false, hasNormal_ = false;
  TDevStore* store_ = nullptr;
};

// A shader made on the device from its code (the 4-byte count, then the
// shader descriptor): a pixel or a vertex shader, whichever the device made
// (the software device makes pixel shaders only).
class T3DShader9 : public T3DShader {
public:
  void Dispose() override;
  bool IsVertex() const { return vertex_; }
  const TByteString& Code() const { return code_; }
  TDevStore* Store() const;
  // Guarded by the 3D lock; nil after Dispose.
  plat::gfx::PixelShader* PixelShader() const { return pixelShader_.Get(); }
  plat::gfx::VertexShader* VertexShader() const { return vertexShader_.Get(); }

private:
  friend class T3DRenderer9;
  friend class TDevStore;
  TByteString code_;
  bool vertex_ = false;
  plat::gfx::Ref<plat::gfx::PixelShader> pixelShader_;
  plat::gfx::Ref<plat::gfx::VertexShader> vertexShader_;
  TDevStore* store_ = nullptr;
};

// Translates shader code before it is made (set by the drawer); nil: none.
using TShaderTranslateHook = TByteString (*)(const TByteString& code, bool vertex);
extern TShaderTranslateHook ShaderTranslateHook;

// ---- TDevStore -------------------------------------------------------------------------

class TDevStore : public TRefObject {
public:
  // Joins Device's window list (the list holds the reference returned).
  TDevStore(T3DEngine9* engine, TDrawDevice* device);
  void Dispose() override;

  TDrawDevice* DrawDevice() const { return device_; }
  T3DEngine9* Engine() const { return engine_.get(); }
  // Guarded by the 3D lock.
  plat::gfx::Device* Device() const { return d3dDevice_.Get(); }
  void SetDevice(plat::gfx::Ref<plat::gfx::Device> device) { d3dDevice_ = std::move(device); }
  std::size_t RendererCount() const { return renderers_.size(); }
  std::size_t ResourceCount() const { return textures_.size() + vertexLists_.size() + shaders_.size(); }

  // The 3D lock held.
  void AddRenderer(T3DRenderer9* r) { renderers_.push_back(r); }
  void RemoveRenderer(T3DRenderer9* r);
  void AddResource(TBaseTexture* t) { textures_.push_back(t); }
  void AddResource(T3DVertexList* l) { vertexLists_.push_back(l); }
  void AddResource(T3DShader* s) { shaders_.push_back(s); }
  void RemoveResource(TRefObject* o);

private:
  TDrawDevice* device_;
  TRef<T3DEngine9> engine_;
  plat::gfx::Ref<plat::gfx::Device> d3dDevice_;
  std::vector<T3DRenderer9*> renderers_;
  std::vector<TBaseTexture*> textures_;
  std::vector<T3DVertexList*> vertexLists_;
  std::vector<T3DShader*> shaders_;
};

// ---- TWinPanel --------------------------------------------------------------------------

// The child window of a draw device's window into which windowed devices
// present. Paints through the device's refresh, passes the cursor and
// the mouse on to the device's window.
class TWinPanel : public TWinControl {
public:
  // Makes the child window (UI thread) and joins Device's window list.
  explicit TWinPanel(TDrawDevice* device);
  void Dispose() override;
  // Nil once the draw device has gone (the panel may outlive it while
  // another thread still holds it).
  TDrawDevice* DrawDevice() const;
  HWND ParentWindow() const { return parent_; }
  bool EraseFlag() const { return erase_; }

protected:
  WideString WindowClassName() override;
  void RegisterWindowClass() override;
  LRESULT WndProc(UINT msg, WPARAM w, LPARAM l) override;

private:
  friend class TWinPanelLink;
  TDrawDevice* device_;
  class TWinPanelLink* link_ = nullptr;  // in the device's list; clears device_ when it goes
  HWND parent_;
  bool erase_ = true;
};

}  // namespace zm
