#include "ZmLib/Application2/zmAppModules.h"

#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/winSession.h"
#include "ZmLib/Application2/zmEventList.h"
#include "ZmLib/Application2/zmTimer2.h"

namespace zm {

namespace {
const TModule kAppModules[] = {
    {"zmEventList", &InitZmEventList, &FiniZmEventList},
    {"zmTimer2", &InitZmTimer2, &FiniZmTimer2},
    {"winApplication", &InitWinApplication, &FiniWinApplication},
    {"winSession", &InitWinSession, &FiniWinSession},
    {"winForms", &InitWinForms, &FiniWinForms},
};
}  // namespace

std::span<const TModule> AppModules() { return kAppModules; }

}  // namespace zm
