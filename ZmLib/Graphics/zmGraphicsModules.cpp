#include "ZmLib/Graphics/zmGraphicsModules.h"

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmBitmap.h"

namespace zm {

namespace {
// The factory's first link, then the registry the bitmaps convert through,
// then the link that chains over the first.
const TModule kGraphicsModules[] = {
    {"zmBitmap", &InitBitmap, &FiniBitmap},
    {"SysPixelFormat", &InitSysPixelFormat, &FiniSysPixelFormat},
    {"SysBitmap", &InitSysBitmap, &FiniSysBitmap},
};
}  // namespace

std::span<const TModule> GraphicsModules() { return kGraphicsModules; }

}  // namespace zm
