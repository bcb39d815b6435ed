#include "OruLib2/NavPanel/NavPanelModules.h"

#include "OruLib2/NavPanel/NavBar.h"

namespace oru {

std::span<const zm::TModule> NavPanelModules() {
  static const zm::TModule modules[] = {
      {"NavBar", &InitNavBar, &FiniNavBar},
  };
  return modules;
}

}  // namespace oru
