#include "OruLib2/3DEngine/DrawFilter.h"

#include <cmath>

#include "OruLib2/3DEngine/FilterFactory.h"

namespace oru {

TCreateEffectFilterProc CreateEffectFilterHook = &CreateDrawerEffectFilter;

void TDrawFilter::Init(const zm::TRect& rect, float edgeWidth, float duration) {
  Rect = rect;
  // A softness or length that is not a sane number counts as none.
  EdgeWidth = std::isfinite(edgeWidth) && edgeWidth > 0.0f ? edgeWidth : 0.0f;
  Duration = std::isfinite(duration) && duration > 0.0f ? duration : 0.0f;
  InvDuration = SafeInv(Duration);
  Progress = 0;
}

void TDrawFilter::SetProgress(float value) {
  if (!(value > 0.0f))
    Progress = 0;
  else
    Progress = value > Duration ? Duration : value;
}

// ---- Ease ------------------------------------------------------------------------------------------

float EaseByte(float x) {
  if (!(x > 0.0f)) return 0.0f;
  if (x >= 255.0f) return 255.0f;
  // Halves meet at 127.5: the divisor is 127.5, so the curve is EaseUnit
  // scaled to bytes and has no step in the middle.
  if (x < 127.5f) return x * x / 127.5f;
  const float r = 255.0f - x;
  return 255.0f - r * r / 127.5f;
}

float EaseUnit(float x) {
  if (!(x > 0.0f)) return 0.0f;
  if (x >= 1.0f) return 1.0f;
  if (x < 0.5f) return 2.0f * x * x;
  const float r = 1.0f - x;
  return 1.0f - 2.0f * r * r;
}

const TEaseTable& EaseTable() {
  static const TEaseTable table = [] {
    TEaseTable t;
    for (int i = 0; i <= kEaseBands; ++i) {
      const float x = static_cast<float>(i) * 18.214285f;
      t[static_cast<std::size_t>(i)] = {x, EaseByte(x)};
    }
    return t;
  }();
  return table;
}

float Dist2(zm::TFloatPoint a, zm::TFloatPoint b) {
  const float dx = a.X - b.X, dy = a.Y - b.Y;
  return dx * dx + dy * dy;
}

double SafeInv(double v) { return v != 0.0 ? 1.0 / v : 0.0; }

}  // namespace oru
