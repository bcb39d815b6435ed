#include "OruLib2/OruClasses/OruClassesModules.h"

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"

namespace oru {

namespace {
const zm::TModule kOruClassesModules[] = {
    {"OruSlideRandomList", &InitSlideRandomList, &FiniSlideRandomList},
    {"OruFileAccess", &InitFileAccess, &FiniFileAccess},
};
}  // namespace

std::span<const zm::TModule> OruClassesModules() { return kOruClassesModules; }

}  // namespace oru
