#include "OruLib2/OruClasses/OruClassesModules.h"

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "OruLib2/OruClasses/OruViewerColorTransform.h"

namespace oru {

namespace {
// The show loader after the file access it opens shows through; the viewer
// colour transform chains over the transform hook that the graphics
// library's units installed before.
const zm::TModule kOruClassesModules[] = {
    {"OruSlideRandomList", &InitSlideRandomList, &FiniSlideRandomList},
    {"OruFileAccess", &InitFileAccess, &FiniFileAccess},
    {"OruShowLoader", &InitShowLoader, &FiniShowLoader},
    {"OruViewerColorTransform", &InitViewerColorTransform, &FiniViewerColorTransform},
};
}  // namespace

std::span<const zm::TModule> OruClassesModules() { return kOruClassesModules; }

}  // namespace oru
