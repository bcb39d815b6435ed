#include "OruLib2/3DEngine/DrawFilter.h"

#include <cmath>

namespace oru {

TCreateEffectFilterProc CreateEffectFilterHook = nullptr;

void TDrawFilter::Init(const zm::TRect& rect, float edgeWidth, float duration) {
  Rect = rect;
  EdgeWidth = edgeWidth;
  Duration = duration;
  InvDuration = duration != 0.0f ? 1.0 / duration : 0.0;
  Progress = 0;
}

void TDrawFilter::SetProgress(float value) {
  if (!(value > 0.0f))
    Progress = 0;
  else
    Progress = value > Duration ? Duration : value;
}

}  // namespace oru
