#pragma once
// The generators behind masked and framed slide objects: soft-edged preset
// masks (a rounded rectangle or an ellipse, white inside and black outside,
// as a grey 24-bit picture named by its "PresetedMask:" key) and the
// geometry of a framed object's border.
#include <cstdint>
#include <functional>

#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

class TMaskGenerator;

// Called after every row of a mask; setting Cancel stops the generation.
using TMaskProgressCallback = std::function<void(TMaskGenerator* generator, bool& cancel)>;

class TMaskGenerator : public TRefObject {
 public:
  TMaskProgressCallback Progress;
};

// The grey of a pixel at distance D from the shape's centre line or point,
// for a reach R and a softness S: 255 inside R - S, 0 beyond R, eased between.
std::uint8_t SoftEdgeValue(double d, double reach, double softness);

// The mask picture ("R8G8B8", every pixel's three bytes the grey), owned by
// its image and named MakeMaskKey(Params). Softness and corner size are held
// within 0..100. Nil when the size cannot be made (below 1 or too large) or
// GetSysBitmapHook is not set. A shape other than kMaskRoundRect and
// kMaskEllipse fails the assertion "GeneratePresetMask: Invalid Shape".
// A cancel keeps the rows made so far (the rest stays black). Generator may
// be nil.
TRef<TImage> GeneratePresetMask(TMaskGenerator* generator, const TMaskParams& params);

// ---- Borders ----------------------------------------------------------------------

struct TBorderParams {
  std::uint8_t RadiusOn = 0;
  std::uint8_t MarginsOn = 0;
  std::uint8_t AspectCropOn = 0;
  float Radius = 0;  // percent of the framed height
  TColor32 Color;
  float MarginLeft = 0, MarginTop = 0, MarginRight = 0, MarginBottom = 0;  // percent
  float Aspect = 0;                // width / height; 0 or less: the object's own
  float Zoom = 0;                  // percent; 0 or less, or 100 and more: 100
  float OffsetX = 0, OffsetY = 0;  // percent, -100..100
};

// The record framed objects start from: everything off, a black frame.
extern const TBorderParams DefaultBorderParams;

// Every field equal.
bool SameBorderParams(const TBorderParams& a, const TBorderParams& b);

// From the border and the object's size (width, height): the corner Radius
// and the Rect in which the object's picture is shown. Scale is the
// horizontal pixel factor (values up to 0.001 count as 1). A result that
// would be empty or reversed, or a size without area, gives the whole
// object (0, 0, width, height).
void CalcBorderGeometry(const TBorderParams& params, const TSize& size, float& radius, TFloatRect& rect, float scale);

}  // namespace zm
