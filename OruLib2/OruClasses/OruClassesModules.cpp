#include "OruLib2/OruClasses/OruClassesModules.h"

#include "OruLib2/Effects/OruEffectManager.h"
#include "OruLib2/OruClasses/OruCalc.h"
#include "OruLib2/OruClasses/OruCurves.h"
#include "OruLib2/OruClasses/OruObjectProps.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruPackedImageReads.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruGlyphCache.h"
#include "OruLib2/OruClasses/OruTextBitmapStore.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruButton.h"
#include "OruLib2/OruClasses/OruText.h"
#include "OruLib2/OruClasses/OruVideo.h"
#include "OruLib2/OruClasses/OruViewPort.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "OruLib2/OruClasses/OruViewerColorTransform.h"

namespace oru {

static_assert(kMaxEffectSlideCount == kMaxSlideCount, "the effect definitions and the slide order cut counts alike");

namespace {

// The effect definitions find slide sections through the slide order.
TSlideSectionProc gSavedSlideSectionProc = nullptr;

void InitEffectSlideOrder() {
  gSavedSlideSectionProc = SlideSectionProc;
  SlideSectionProc = &GetSlideSection;
}

void FiniEffectSlideOrder() {
  if (gSavedSlideSectionProc) SlideSectionProc = gSavedSlideSectionProc;
  gSavedSlideSectionProc = nullptr;
}

// The show loader after the file access it opens shows through; the viewer
// colour transform chains over the transform hook that the graphics
// library's units installed before.
const zm::TModule kOruClassesModules[] = {
    {"OruSlideRandomList", &InitSlideRandomList, &FiniSlideRandomList},
    {"OruEffectSlideOrder", &InitEffectSlideOrder, &FiniEffectSlideOrder},
    {"OruFileAccess", &InitFileAccess, &FiniFileAccess},
    {"OruGlyphCache", &InitGlyphCache, &FiniGlyphCache},
    {"OruTextBitmapStore", &InitTextBitmapStore, &FiniTextBitmapStore},
    {"OruPackedImageReads", &InitPackedImageReads, &FiniPackedImageReads},
    {"OruShowLoader", &InitShowLoader, &FiniShowLoader},
    {"OruViewerColorTransform", &InitViewerColorTransform, &FiniViewerColorTransform},
    {"OruCalc", &InitCalc, &FiniCalc},
    {"OruCurves", &InitCurves, &FiniCurves},
    {"OruObjectProps", &InitOruObjectProps, &FiniOruObjectProps},
    {"OruObjects", &InitOruObjects, &FiniOruObjects},
    {"OruImageKinds", &InitOruImageKinds, &FiniOruImageKinds},
    {"OruButtonKind", &InitOruButtonKind, &FiniOruButtonKind},
    {"OruTextKind", &InitOruTextKind, &FiniOruTextKind},
    {"OruViewPorts", &InitOruViewPorts, &FiniOruViewPorts},
    {"OruVideo", &InitOruVideo, &FiniOruVideo},
};
}  // namespace

std::span<const zm::TModule> OruClassesModules() { return kOruClassesModules; }

}  // namespace oru
