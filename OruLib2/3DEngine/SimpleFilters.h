#pragma once
// The transitions without a shaped edge: the cross-fade, the mosaic of
// blocks fading in at random moments, and the incoming slide sliding in over
// the outgoing one or pushing it out. Each draws through the effecter's
// controller; DrawTo takes any controller, so the geometry can be checked
// without a device.
#include <cstdint>
#include <vector>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/3DEngine/EffTiles.h"

namespace oru {

// The incoming slide over the whole area with an opacity of 255 x t.
class TAlphaFilter : public TDrawFilter {
public:
  TAlphaFilter() { IsAlpha = true; }
  void Draw(TCustomD3DEffecter* controller) override;
  void DrawTo(TEffController* controller);
  bool UniformCoverage(float& coverage) const override;
};

// Cols x Rows blocks; each fades in over 255 units from its own random
// delay, the whole transition spanning Spread x 100 + 256 units.
class TRandomFilter : public TDrawFilter {
public:
  // Sides are kept within 1 .. 512 and the spread within 0 .. 1000 (NaN: 0).
  TRandomFilter(std::int32_t cols, std::int32_t rows, std::uint32_t seed, float spread);
  // The base Init, then the delays drawn from the seed, row by row.
  void Init(const zm::TRect& rect, float edgeWidth, float duration) override;
  void Draw(TCustomD3DEffecter* controller) override;
  void DrawTo(TEffController* controller);

  // The delay of a block; 0 outside the grid or before Init.
  std::int32_t Delay(std::int32_t col, std::int32_t row) const;
  // The threshold of the current progress, -256 at the start.
  std::int32_t Threshold() const;

  std::int32_t Cols = 1;
  std::int32_t Rows = 1;
  std::vector<std::int32_t> Delays;  // Delays[col * Rows + row]
  std::uint32_t Seed = 0;
  float Spread = 0;
};

// Direction codes: 1 towards +x, 2 towards -x, 3 towards +y, 4 towards -y.
// Other codes count as 1.
zm::TFloatPoint IncomingOffset(std::int32_t direction, float t, float width, float height);

// The incoming slide moves in over the outgoing one.
class TSlideFilter : public TDrawFilter {
public:
  explicit TSlideFilter(std::int32_t direction);
  void Draw(TCustomD3DEffecter* controller) override;
  void DrawTo(TEffController* controller);

  std::int32_t Direction = 1;
};

// The incoming slide pushes the outgoing one out: the drawer moves the
// outgoing slide by GetOutgoingOffset, this filter draws the incoming one.
class TPushFilter : public TDrawFilter {
public:
  explicit TPushFilter(std::int32_t direction);
  void Draw(TCustomD3DEffecter* controller) override;
  void DrawTo(TEffController* controller);
  TFilterPassMode PassMode() const override { return TFilterPassMode::Push; }
  zm::TFloatPoint PushOffset(const zm::TRect& visible) const override { return GetOutgoingOffset(visible); }
  // How far the outgoing slide has moved, by the size of Area.
  zm::TFloatPoint GetOutgoingOffset(const zm::TRect& area) const;

  std::int32_t Direction = 1;
};

}  // namespace oru
