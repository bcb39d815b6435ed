#include "ZmLib/Text/zmTextModules.h"

#include "ZmLib/Text/zmUnicodeCharInfo.h"
#include "ZmLib/Text/zmWideStringUtils.h"

namespace zm {

namespace {
const TModule kTextModules[] = {
    {"zmUnicodeCharInfo", &InitUnicodeCharInfo, &FiniUnicodeCharInfo},
    {"zmWideStringUtils", &InitWideStringUtils, &FiniWideStringUtils},
};
}  // namespace

std::span<const TModule> TextModules() { return kTextModules; }

}  // namespace zm
