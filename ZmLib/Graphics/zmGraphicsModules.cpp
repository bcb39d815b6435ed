#include "ZmLib/Graphics/zmGraphicsModules.h"

#include "ZmLib/Graphics/SysAlphaRow.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapLoader.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysGfxLoader.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/winColorManagement.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmCPUInfo.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Graphics/zmGifLoader.h"
#include "ZmLib/Graphics/zmICCColorTransform.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmImageLib.h"
#include "ZmLib/Graphics/zmJpegLoader.h"
#include "ZmLib/Graphics/zmObjectFilters.h"

namespace zm {

namespace {
// The factory's first link, then the registry the bitmaps convert through,
// then the links that chain over the first; the processor record before the
// routines chosen from it; the loader table and the profiles before the
// loaders that register in them.
const TModule kGraphicsModules[] = {
    {"zmBitmap", &InitBitmap, &FiniBitmap},
    {"SysPixelFormat", &InitSysPixelFormat, &FiniSysPixelFormat},
    {"SysBitmap", &InitSysBitmap, &FiniSysBitmap},
    {"zmCPUInfo", &InitCPUInfo, &FiniCPUInfo},
    {"SysAlphaRow", &InitAlphaRow, &FiniAlphaRow},
    {"zmImage", &InitImage, &FiniImage},
    {"zmColorProfiles", &InitColorProfiles, &FiniColorProfiles},
    {"SysBitmapStore", &InitSysBitmapStore, &FiniSysBitmapStore},
    {"zmDibBitmap", &InitDibBitmap, &FiniDibBitmap},
    {"SysGfxLoader", &InitSysGfxLoader, &FiniSysGfxLoader},
    {"SysBitmapLoader", &InitSysBitmapLoader, &FiniSysBitmapLoader},
    {"zmJpegLoader", &InitJpegLoader, &FiniJpegLoader},
    {"zmGifLoader", &InitGifLoader, &FiniGifLoader},
    {"zmImageLib", &InitImageLib, &FiniImageLib},
    {"zmICCColorTransform", &InitICCColorTransform, &FiniICCColorTransform},
    {"winColorManagement", &InitColorManagement, &FiniColorManagement},
    {"zmObjectFilters", &InitObjectFilters, &FiniObjectFilters},
};
}  // namespace

std::span<const TModule> GraphicsModules() { return kGraphicsModules; }

}  // namespace zm
