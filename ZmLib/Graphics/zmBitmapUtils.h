#pragma once
// TImageAnimator, which cross-fades two images into one result bitmap
// (animated control images and slide objects), and small drawing utilities
// on TDirectBitmaps: a 32-bit picture blended onto a 24-bit one, tiling,
// 1-pixel bevel borders, the frame of an image and a hit test.
//
// 24-bit means "R8G8B8" pixels (bytes B, G, R), 32-bit "A8R8G8B8" (bytes
// B, G, R, A, straight alpha). Rectangles have exclusive right and bottom
// edges and every drawing is clipped to its target.
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmImage.h"

namespace zm {

// One input image of the animator.
struct TAnimatorSlot {
  TRef<TImage> Image;          // held only when the caller asked to keep it
  TRef<TDirectBitmap> Bitmap;  // "A8R8G8B8"
  bool Owned = false;          // Bitmap is the animator's own copy
  std::int32_t X = 0, Y = 0;   // where the image lies in the result
};

// Drops the slot's image and bitmap; the offset becomes (0, 0).
void ClearAnimatorSlot(TAnimatorSlot& slot);

class TImageAnimator : public TRefObject {
 public:
  TImageAnimator() = default;
  // Clears both slots and frees the result and the copy handed out last.
  void Dispose() override;

  // Index 0 or 1, else the assertion "TImageAnimator.SetImage: Index must be
  // in [0,1]". A picture with alpha is used as its store's own level-0
  // bitmap; one without is copied into a new "A8R8G8B8" bitmap. Keep: the
  // slot holds the image too. A nil image leaves the slot empty.
  void SetImage(std::int32_t index, TImage* image, bool keep, const TPoint& offset);
  // Makes the result for Phase (0 gives image 0, 1 gives image 1); without
  // both bitmaps the assertion "TImageAnimator.SetPhase: Images not Set".
  void SetPhase(double phase);
  // A copy of the result wrapped as an image; nil before the first SetPhase.
  TRef<TImage> GetImage();

  // The weight of image 1 (0..256) that SetPhase uses for Phase under the
  // current modes.
  std::int32_t PhaseWeight(double phase) const;

  TAnimatorSlot Slots[2];
  TPoint Origin;                 // the result's top-left in slot coordinates
  TRef<TDirectBitmap> Result;    // "A8R8G8B8"
  TRef<TDirectBitmap> LastCopy;  // what GetImage handed out last
  bool Easing = false;
  bool BackAndForth = false;
};

// SourceRect of a 32-bit straight-alpha source onto a 24-bit target with its
// top-left at Point: d += (s - d) * a / 256 per colour byte. Nil bitmaps: nothing.
void DrawDirectBitmap32On24(TDirectBitmap* target, TDirectBitmap* source, const TRect& sourceRect, const TPoint& point);
// Covers Rect (cut to the target) with copies of the image, the grid
// anchored at Origin. A 24-bit target with a picture that has alpha blends;
// everything else is copied.
void TileImageOnBitmap(TDirectBitmap* target, const TRect& rect, TImage* image, const TPoint& origin);
// Fills a 1-pixel-wide rectangle (cut to the bitmap).
void DrawRectLine(TDirectBitmap* bitmap, const TRect& rect, TColor32 color);
// A 1-pixel border inside Rect: left and top lines in LightColor, then right
// and bottom lines in DarkColor (the dark lines own the top-right and
// bottom-left corners).
void DrawBevelRect(TDirectBitmap* bitmap, const TRect& rect, TColor32 lightColor, TColor32 darkColor);
// DrawBevelRect with Color1 light and Color2 dark, exchanged when Sunken.
void DrawBevelRectEx(TDirectBitmap* bitmap, const TRect& rect, TColor32 color1, bool sunken, TColor32 color2);
// FrameRectWithImage for a TDirectBitmap target (24- or 32-bit).
void FrameDirectRectWithImage(TDirectBitmap* target, const TPoint& point, TImage* image, const TRect& rect);
// Point lies inside the image's picture and, for a picture with alpha, the
// pixel there is not fully transparent. False for nil.
bool HitTestImage(TImage* image, const TPoint& point);

}  // namespace zm
