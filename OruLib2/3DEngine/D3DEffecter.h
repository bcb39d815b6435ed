#pragma once
// The effect controller on the 3D screen: the effecter renders a slide into
// a render target and lets the filter's triangles paint that picture, with
// a per-vertex opacity, over what the frame already holds. Two slides are
// combined this way: the outgoing one is the frame's background, the
// incoming one comes through the effecter.
#include <cstdint>
#include <functional>
#include <vector>

#include "OruLib2/3DEngine/EffTiles.h"
#include "ZmLib/3DBasics/Dev3DRTPool.h"

namespace oru {

// What a filter's pass needs of the effecter's picture beyond the default:
// Covered, the slide paints the whole area (and the replication margin)
// opaque itself, so nothing is cleared under it; Reads, when not empty, the
// only part of the area (target pixels) that the filter reads: the slide is
// rendered there (and 2 pixels round) alone.
struct TEffectPass {
  bool Covered = false;
  zm::TRect Reads;
  // When not empty, the slide is rendered only inside these (target pixels)
  // as well, once for each.
  std::vector<zm::TRect> Parts;
};

class TCustomD3DEffecter;
class TD3DTriController;

// Draws one slide; Effecter's screen has the picture as its render target.
using TRenderSlideProc = std::function<void(void* data, TCustomD3DEffecter* effecter, const zm::TRect& clipRect)>;

class TD3DTriController : public TEffController {
public:
  explicit TD3DTriController(TCustomD3DEffecter* effecter) : Effecter(effecter) {}
  zm::TRef<TEffTile> CreateTile(const zm::TRect& rect, const zm::TPoint& cell) override;
  // The effecter's clip rectangle.
  void GetArea(zm::TRect& rect) override;

  TCustomD3DEffecter* Effecter;  // not owned
};

class TD3DTriTile : public TEffTile {
public:
  TD3DTriTile(TD3DTriController* controller, const zm::TRect& rect, const zm::TPoint& cell);
  void Dispose() override;
  // Asserts that no batch is open.
  void Begin(std::int32_t mode, bool shaded) override;
  void AddTriangle(const TEffTriangle& v) override;
  void AddColoredTriangle(const TEffTriangle& v, const TEffColors& colors) override;
  void AddShadedTextureTriangle(const TEffTriangle& v, const TEffPoints2& p) override;
  void AddColoredPoints(const TEffPoints2& p, const TEffColors& colors) override;
  void AddShadedTriangle(const TEffTriangle& v, const TEffPoints3& p) override;
  // Asserts an open batch; draws it.
  void End() override;

  bool BatchOpen() const { return open_; }

  TCustomD3DEffecter* Effecter;        // not owned
  zm::TVertexBuffer* Batch = nullptr;  // nil between batches (and when nothing can be drawn)

private:
  void Add(const zm::TPoint3F (&pos)[3], const zm::TPoint2F (&uv)[3], const std::uint32_t (&col)[3], bool textured);

  bool open_ = false;
  bool shaded_ = false;
  std::int32_t mode_ = emPlain;
};

class TCustomD3DEffecter : public zm::TRefObject {
public:
  static constexpr std::int32_t kCopySide = 256;       // the copy target's side
  static constexpr std::int32_t kCopyBatch = 20;       // rectangle pairs per flush
  static constexpr std::int32_t kMaxReplication = 32;  // columns or rows of the full edge replication

  // Asserts a screen; TargetPool (not owned) gives the pictures of the
  // two-slide case and may be nil.
  TCustomD3DEffecter(zm::T3DScreen* screen, zm::TRenderTargetManager* targetPool);
  // Gives both pictures back, frees the copy target, the vertex buffers,
  // the controller and the manager.
  void Dispose() override;

  // Sizes the own pool to the rectangle, stores it and sets the controller's
  // grid to one cell spanning it (an empty grid for an empty rectangle).
  virtual void SetArea(const zm::TRect& rect);
  void SetClipRect(const zm::TRect& rect) { clipRect_ = rect; }

  // 0 or 1 (anything else is an assertion); nil while not taken.
  zm::TRenderTargetTexture* GetPicture(std::int32_t index) const;
  void TogglePicture() { current_ = !current_; }

  // Prepares the pictures, renders a slide into picture 0 (cleared to alpha
  // 0 first, grey 128 under it unless the picture is premultiplied; the
  // border column and row replicated) and returns
  // the controller for the filter's Draw. Nil when no picture can be had or
  // the screen cannot draw.
  TEffController* RunEffect(bool twoPictures, const TRenderSlideProc& renderSlide, void* data,
                            const TEffectPass& pass = {});
  // The direct render pass: renders a slide into the current picture (1 when
  // Current is set, else 0), cleared to transparent black, and replicates
  // its border up to 32 pixels out. False when nothing was rendered.
  bool RenderPicture(const TRenderSlideProc& renderSlide, void* data);
  // Gives both pictures back to their pools (the end of a transition; also
  // before the pools change size).
  void ReleasePictures();
  // Makes the pictures a transition takes (two from the target pool when
  // TwoPictures, else one from the own pool) and the copy target, and gives
  // the pictures back: the pools keep them. Nothing while a picture is out.
  void PrepareTargets(bool twoPictures);

  // The rectangle rendered into picture Index (target pixels; its corner is
  // the picture's texel 0, 0); empty before a render.
  zm::TRect RenderedRect(std::int32_t index) const;

  // Batches of the tiles. Mode emTextured: the first buffer with picture 0
  // as texture; emPlain: the second, untextured. Nil when nothing can be
  // drawn (no screen, no picture).
  zm::TVertexBuffer* BeginBatch(std::int32_t mode, bool shaded);
  void EndBatch(zm::TVertexBuffer* batch);

  zm::T3DScreen* Screen() const { return screen_; }
  zm::TRenderTargetManager* TargetPool() const { return targetPool_; }
  zm::TRenderTargetManager* RTManager() const { return rtManager_.get(); }
  zm::TRect Area() const { return area_; }
  zm::TRect ClipRect() const { return clipRect_; }
  TD3DTriController* Controller() const { return controller_.get(); }
  zm::TRenderTargetTexture* CopyTarget() const { return copyTarget_.get(); }
  bool Current() const { return current_; }
  // Copies made through the copy target since creation (pieces, flushes).
  std::int32_t CopyPieces() const { return copyPieces_; }
  std::int32_t CopyFlushes() const { return copyFlushes_; }

protected:
  // Copies Source of the picture to Dest of the same picture through the
  // copy target, in pieces of at most 256 x 256 (sizes equal; clipped to the
  // picture). The pieces wait in the batch until FlushCopies.
  void CopyInPicture(zm::TRenderTargetTexture* picture, const zm::TRect& source, const zm::TPoint& dest);
  void FlushCopies();
  // Full form: doubling copies up to 32 pixels out; reduced: one column and
  // one row.
  void ReplicateEdges(zm::TRenderTargetTexture* picture, const zm::TRect& rect, bool full);

private:
  // Margin: the cleared columns and rows past the rendered rectangle, all
  // of the picture when negative.
  bool RenderInto(std::int32_t index, std::uint32_t clearColour, std::int32_t margin,
                  const TRenderSlideProc& renderSlide, void* data, const TEffectPass& pass = {});
  bool TakePicture(std::int32_t index, zm::TRenderTargetManager* pool);

  zm::T3DScreen* screen_;
  zm::TRenderTargetManager* targetPool_;  // not owned
  zm::TRef<zm::TRenderTargetManager> rtManager_;
  zm::TRect area_;
  zm::TRect clipRect_;
  zm::TRef<zm::TVertexBuffer> buffers_[2];
  zm::TRef<TD3DTriController> controller_;
  zm::TRef<zm::TRenderTargetTexture> pictures_[2];
  zm::TRect rendered_[2];
  zm::TRef<zm::TRenderTargetTexture> copyTarget_;
  bool current_ = false;

  // The copy batch: pieces packed in shelves over the copy target.
  zm::TRenderTargetTexture* copyPicture_ = nullptr;
  std::vector<zm::TRect> copySources_, copyPlaces_, copyDests_;
  std::int32_t shelfX_ = 0, shelfY_ = 0, shelfH_ = 0;
  std::int32_t copyPieces_ = 0, copyFlushes_ = 0;
};

}  // namespace oru
