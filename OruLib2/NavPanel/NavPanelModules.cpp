#include "OruLib2/NavPanel/NavPanelModules.h"

#include "OruLib2/NavPanel/NavBar.h"
#include "OruLib2/NavPanel/VideoNavBar.h"

namespace oru {

std::span<const zm::TModule> NavPanelModules() {
  static const zm::TModule modules[] = {
      {"NavBar", &InitNavBar, &FiniNavBar},
      // After the skinned bar: it answers the video kind and hands the rest on.
      {"VideoNavBar", &InitVideoNavBar, &FiniVideoNavBar},
  };
  return modules;
}

}  // namespace oru
