#pragma once
// Scratch render targets kept between frames, and the white texture that
// antialiased boxes are stretched from.
//
// The pool hands out render-target textures of one size and alpha mode, last
// returned first out, so that passes needing a target each frame do not make
// device textures again. It does not track the textures that are out: a
// caller that changes the size must return its textures first, since a
// texture of another size is refused when it comes back.
#include <cstdint>
#include <vector>

#include "ZmLib/3DBasics/CustomTexture.h"

namespace zm {

class TRenderTargetManager;

// A render target of the pool: drawn into only, never filled from memory.
class TRenderTargetTexture : public TCustomTexture {
public:
  TRenderTargetTexture(T3DScreen* screen, bool withAlpha, const TSize& size);
  void FillLevel(TSysBitmap*) override {}
  void Upload() override {}
  bool WithAlpha() const { return withAlpha_; }
  // The pool while the texture is out; nil while it lies in the free list.
  TRenderTargetManager* Pool() const { return pool_.get(); }

  // What a user does with a texture it is done with: back to its pool when it
  // records one, else the reference is only dropped. Nil does nothing.
  static void FreeTarget(TRef<TRenderTargetTexture>& texture);

private:
  friend class TRenderTargetManager;
  bool withAlpha_;
  TRef<TRenderTargetManager> pool_;
};

class TRenderTargetManager : public TRefObject {
public:
  explicit TRenderTargetManager(bool withAlpha);
  void Dispose() override;

  // Rounds each side up to a power of two (0 stays 0; below 0 counts as 0,
  // above 2^30 is refused by an assertion). A change frees the free textures.
  void SetPoolSize(std::int32_t width, std::int32_t height);
  // The last returned texture, or a new one of the pool's size; realised
  // before it is handed out (it has no device texture when the screen cannot
  // draw or the size is 0). Asserts a screen; a free texture of another
  // screen is freed rather than handed out.
  TRef<TRenderTargetTexture> Acquire(T3DScreen* screen);
  // Asserts the pool's size and alpha mode. Nil does nothing.
  void ReturnTexture(TRenderTargetTexture* texture);
  // Frees every free texture.
  void ClearPool();

  bool WithAlpha() const { return withAlpha_; }
  TSize PoolSize() const { return size_; }
  std::int32_t FreeCount() const { return std::int32_t(free_.size()); }

private:
  bool withAlpha_;
  TSize size_;
  std::vector<TRef<TRenderTargetTexture>> free_;
};

// A 256 x 256 opaque white texture, drawn with per-vertex colours and
// feathered edges to give antialiased boxes.
class TBoxAntiTexture : public TCustomTexture {
public:
  TBoxAntiTexture(T3DScreen* screen, TRef<TSysBitmap> source);
  void Dispose() override;
  void FillLevel(TSysBitmap* data) override;
  TSysBitmap* Source() const { return source_.get(); }

private:
  TRef<TSysBitmap> source_;
};

class TBoxAntialiaser : public TRefObject {
public:
  static constexpr std::int32_t kSide = 256;

  explicit TBoxAntialiaser(T3DScreen* screen);
  void Dispose() override;

  // Draws the box Origin + s * AxisX + t * AxisY (s, t in 0..1; the axes in
  // pixels) on Screen with the four colours at its corners (top left, top
  // right, bottom left, bottom right) and the edges of Edges (ebLeft ...
  // ebBottom) feathered. Nothing happens without a screen.
  void DrawBox(T3DScreen* screen, const TPoint3F& axisX, std::uint32_t edges, std::uint32_t c1, std::uint32_t c2,
               std::uint32_t c3, std::uint32_t c4, const TPoint3F& axisY, const TPoint3F& origin = {});

  TBoxAntiTexture* Texture() const { return texture_.get(); }

private:
  TRef<TBoxAntiTexture> texture_;
};

}  // namespace zm
