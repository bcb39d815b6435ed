#pragma once
// Soft shadows of slide objects. A shadow is a white 32-bit picture whose
// alpha is the blurred, contour-shaped silhouette of the object (the alpha
// of its picture, or a plain or graded rectangle). It is made once per
// distinct set of parameters, cached under its shadow key (the key is also
// the picture's name) and drawn later, tinted and placed, by the host's
// ShadowDrawer.
//
// Rectangle shadows are normalised to about 200 x 200 pixels including
// their margins, so rectangles of the same proportions share one picture
// and it is scaled when drawn. Large silhouettes are worked at a reduced
// size: the width and height are halved (k doubling each time) while
// width x height >= 700000 and then while either is 10000 or more; the
// blur is divided by k alike. A wide blur is worked smaller too: the
// halving goes on while what the blur's margins add around the silhouette
// is 700000 pixels or more (as long as the silhouette keeps a pixel), so a
// shadow never costs much more than its object.
//
// The blur shrinks the mask by the radius r with the "B-Spline" kernel and
// enlarges it back, through the contour's table when a contour is chosen;
// the result is larger than the silhouette by Ceil(2.5 r) on every side.
// r is the given radius + 1, held to 1 .. kMaxShadowBlur.
//
// A soft shadow (r of 4 working pixels or more) is kept at half its working
// size: the blur leaves nothing that two working pixels would show apart,
// and the picture, drawn twice as large with its pixels interpolated, looks
// the same for a quarter of the memory. Its blur is enlarged straight to the
// kept size: along an odd side each kept pixel is the working one at its
// even place, along an even side the mean of a pair, so that every kept
// pixel lands where the working pixels it stands for lie.
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmContours.h"
#include "ZmLib/Graphics/zmGeneratorCallbacks.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmResample.h"

namespace zm {

// The blur radius of the drop shadow is held to this many working pixels.
constexpr double kMaxShadowBlur = 512.0;

// The working reduction of a silhouette of W x H blurred by Blur: k =
// 2^Halvings; W and H come back reduced. Sizes that are not finite give k 1
// and no halvings. KeptHalf: the picture is kept at half the working size
// (above).
struct TShadowWorkScale {
  double W = 0, H = 0;
  double K = 1;
  std::int32_t Halvings = 0;
  bool KeptHalf = false;
  // Object pixels per pixel of the kept picture.
  double KeptScale() const { return KeptHalf ? 2 * K : K; }
};
TShadowWorkScale ShadowWorkScale(const TShadowParams& params);

// Rectangle shadows: Left and Top 0 (assertion); s = Sqrt(40000 / ((Right
// + 2 MarginX) * (Bottom + 2 MarginY))) and Right, Bottom, MarginX, MarginY
// multiplied by s and rounded; the answer is s. Sizes that give no positive
// finite area are left as they are (answer 1).
double NormalizeRectShadowParams(TShadowParams& params);

// Blurs and shapes a mask.
class TDropShadow : public TRefObject {
public:
  TDropShadow();
  void Dispose() override;

  // Stored as Radius + 1.
  void SetBlurRadius(double radius) { blurRadius_ = radius + 1.0; }
  double BlurRadius() const { return blurRadius_; }
  TCurvesData& Contour() { return contour_; }

  // Mask 8-bit, or 32-bit whose alpha is used (else an assertion). False
  // when the progress callback cancelled (what was made stays in Result).
  bool Make(TSysBitmap* mask);
  // The blurred mask (8-bit), nil before the first Make.
  TSysBitmap* Result() const { return result_.get(); }
  // The small intermediate mask of the last Make.
  TSysBitmap* SmallMask() const { return small_.get(); }
  // The 4096-entry table of a contour table (entry i from the contour at
  // i * 255 / 4095, linearly between its entries).
  static void BuildContourLut(const std::array<std::uint8_t, 256>& contour, std::array<std::uint8_t, 4096>& lut);

  // Called after each row of the silhouette copy and through the resampler.
  TStretchCallback Progress = nullptr;
  void* ProgressData = nullptr;
  // The result at half the size (rounded up), each pixel where the
  // full-size ones it stands for are (see above).
  bool KeptHalf = false;

private:
  TCurvesData contour_;
  double blurRadius_ = 1.0;
  TRef<TSysBitmap> small_;
  TRef<TSysBitmap> result_;
};

// Turns a silhouette into the shadow picture.
class TShadowProducer : public TRefObject {
public:
  TShadowProducer();
  void Dispose() override;

  // Level 0 of Image as "A8R8G8B8" blurred into a new image named like
  // Image: colour with alpha = colour alpha * mask / 255. Nil for nil, or
  // when the progress callback cancelled.
  TRef<TImage> Make(TImage* image);
  // The same picture's bitmap.
  TRef<TSysBitmap> MakeBitmap(TImage* image);

  TDropShadow* DropShadow() const { return dropShadow_.get(); }
  void SetBlurRadius(double radius);
  double BlurRadius() const { return blurRadius_; }
  // Contour preset 0..9; any other index: no contour.
  void SetContour(std::int32_t preset);

  std::uint32_t Color = 0xFFFFFFFF;  // "A8R8G8B8"
  TStretchCallback Progress = nullptr;
  void* ProgressData = nullptr;

private:
  TRef<TDropShadow> dropShadow_;
  double blurRadius_ = 0;
};

// Makes shadow pictures from their parameters.
class TShadowGenerator : public TRefObject {
public:
  TShadowGenerator();
  void Dispose() override;

  // The shadow picture of Params, named by their key; the object's picture
  // is taken from Accessor. Nil when the size is empty or not finite (or
  // the work was cancelled). A missing picture leaves only the background.
  // Its store makes the picture again the same way once it was let go.
  TRef<TImage> MakeShadow(const TShadowParams& params, const TImageAccessor& accessor);
  // The same picture's bitmap.
  TRef<TSysBitmap> MakeBitmap(const TShadowParams& params, const TImageAccessor& accessor);

  TShadowProducer* Producer() const { return producer_.get(); }

private:
  TRef<TShadowProducer> producer_;
};

// What a slide object keeps of its shadow.
class TShadow : public TRefObject {
public:
  // For a picture: the key's name is the picture's name when Bitmap is
  // 32-bit with alpha, the name is not empty and IgnoreAlpha is clear, else
  // "N\A"; the key's blur is Blur * Scale. The image is asked of Accessor by
  // the key (nil when there is no accessor).
  static TRef<TShadow> CreateImageShadow(const TShadowParams& params, TBitmap* bitmap,
                                         const TImageAccessor& accessor, float scale);
  // The same for a picture of Format (that of its bitmap), which need not
  // be made for it.
  static TRef<TShadow> CreateImageShadowOfFormat(const TShadowParams& params, const TPixelFormat* format,
                                         const TImageAccessor& accessor, float scale);
  // For a rectangle: name "N\A", parameters normalised, the key's blur
  // Sqrt(w * h) * Blur / 400 with w x h the normalised rectangle.
  static TRef<TShadow> CreateRectShadow(const TShadowParams& params, const TImageAccessor& accessor);

  void Dispose() override;

  // Every field equal, Blur within 1e-4 relative; Params normalised first
  // for a rectangle shadow.
  bool SameParams(const TShadowParams& params) const;

  // Draws the shadow picture through Drawer: nothing when Opacity is not
  // above 0 or there is no picture. Angle in degrees, Distance in percent of
  // the object's pixel size (see DistanceScale).
  void Draw(ShadowDrawer* drawer, const TFloatPoint3& origin, const TFloatPoint3& xAxis,
            const TFloatPoint3& yAxis, std::uint32_t colour, float opacity, float angle, float distance,
            float texScale);
  void Precache(ShadowDrawer* drawer);
  void ReleaseCache(ShadowDrawer* drawer);

  const TShadowParams& Params() const { return params_; }
  bool IsRect() const { return isRect_ != 0; }
  TImage* Image() const { return image_.get(); }
  const WideString& Key() const { return key_; }
  // The working reduction of the picture asked for by the key.
  double WorkScale() const { return workScale_; }
  // Scales the offset distance: 1 for pictures; for rectangles the factor
  // from the normalised size back to the rectangle's own.
  double DistanceScale = 1.0;

private:
  TShadowParams params_;
  std::uint8_t isRect_ = 0;
  TRef<TImage> image_;
  WideString key_;
  double workScale_ = 1.0;
};

}  // namespace zm
