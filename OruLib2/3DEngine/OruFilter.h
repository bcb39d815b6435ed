#pragma once
// The parameters of one slide transition as the drawer takes them: the
// effect, the progress, the options, and the filter made for it (kept while
// the transition runs).
#include <cstdint>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"

namespace oru {

class TOruFilter : public zm::TFilterParams {
public:
  void Dispose() override {
    Filter = nullptr;
    Effect = nullptr;
    zm::TFilterParams::Dispose();
  }

  zm::TRef<zm::TRefObject> Effect;  // the slide's effect definition
  float Progress = 0;
  std::uint8_t Options = 0;
  zm::TRef<TDrawFilter> Filter;  // made once by the drawer
  bool FilterMade = false;       // also when the factory gave nil
  // Made ahead of the first frame: for this frame rectangle and outgoing
  // slide (the first frame makes it again when they differ).
  bool MadeAhead = false;
  zm::TRect MadeFor;
  zm::TDrawItem* MadeOwner = nullptr;  // compared only, never followed
};

}  // namespace oru
