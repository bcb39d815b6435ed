#include "ZmLib/Composite/zmCompositeModules.h"

#include "ZmLib/Composite/winControlStyles.h"
#include "ZmLib/Composite/winFrameForms.h"
#include "ZmLib/Composite/winFrames.h"
#include "ZmLib/Composite/winMouseCursor.h"
#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Composite/zmFrameControls.h"

namespace zm {

namespace {
// The cursor hooks, the plain focus-helper factory and the theme services
// before the window styles that chain over them.
const TModule kCompositeModules[] = {
    {"zmFrameControls", &InitFrameControls, &FiniFrameControls},
    {"winMouseCursor", &InitMouseCursor, &FiniMouseCursor},
    {"zmControlThemes", &InitControlThemes, &FiniControlThemes},
    {"winThemes2", &InitWinThemes2, &FiniWinThemes2},
    {"winControlStyles", &InitWinControlStyles, &FiniWinControlStyles},
    {"winFrames", &InitWinFrames, &FiniWinFrames},
    {"winFrameForms", &InitWinFrameForms, &FiniWinFrameForms},
};
}  // namespace

std::span<const TModule> CompositeModules() { return kCompositeModules; }

}  // namespace zm
