#include "ZmLib/Application2/zmAppModules.h"

#include "ZmLib/Application2/zmEventList.h"

namespace zm {

namespace {
const TModule kAppModules[] = {
    {"zmEventList", &InitZmEventList, &FiniZmEventList},
};
}  // namespace

std::span<const TModule> AppModules() { return kAppModules; }

}  // namespace zm
