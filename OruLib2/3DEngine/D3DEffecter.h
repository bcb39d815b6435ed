#pragma once
// What a transition filter draws through: the effecter renders a slide into
// a render target of the pool and lets the filter paint that picture onto
// the frame. Two pictures are kept, so that filters that move both slides
// can use the outgoing one while the incoming one is rendered.
#include <cstdint>
#include <functional>

#include "ZmLib/3DBasics/Dev3DRTPool.h"

namespace oru {

class TCustomD3DEffecter : public zm::TRefObject {
public:
  // Asserts a screen; the pool is not owned.
  TCustomD3DEffecter(zm::T3DScreen* screen, zm::TRenderTargetManager* pool);
  void Dispose() override;

  virtual void SetArea(const zm::TRect& rect) { area_ = rect; }
  zm::TRect Area() const { return area_; }
  void SetClipRect(const zm::TRect& rect) { clipRect_ = rect; }
  zm::TRect ClipRect() const { return clipRect_; }

  // Brackets one transition frame; Finish gives both pictures back.
  virtual void Start();
  virtual void Finish();
  bool Running() const { return running_; }

  // Renders one slide: Draw runs with the next picture as the render target,
  // cleared to transparent black. The picture stays until the same slot is
  // rendered again or Finish. Nil when no target can be had.
  virtual zm::TRenderTargetTexture* DrawSlide(const std::function<void()>& draw, std::uint8_t options);
  // The last picture rendered, nil before the first.
  zm::TRenderTargetTexture* Picture() const { return last_; }
  std::uint8_t PictureOptions() const { return lastOptions_; }
  // Paints the last picture over the current target, in target pixels
  // within ClipRect (Area when that is empty), with the given vertex alpha.
  virtual void DrawPicture(std::uint8_t alpha);

  zm::T3DScreen* Screen() const { return screen_; }

private:
  void ReleasePictures();

  zm::T3DScreen* screen_;
  zm::TRef<zm::TRenderTargetManager> pool_;
  zm::TRect area_;
  zm::TRect clipRect_;
  zm::TRef<zm::TRenderTargetTexture> pictures_[2];
  zm::TRenderTargetTexture* last_ = nullptr;
  std::uint8_t lastOptions_ = 0;
  bool current_ = false;
  bool running_ = false;
};

}  // namespace oru
