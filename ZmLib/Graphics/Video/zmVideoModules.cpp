#include "ZmLib/Graphics/Video/zmVideoModules.h"

#include "ZmLib/Graphics/Video/FFMpegApi.h"
#include "ZmLib/Graphics/Video/VideoSource2.h"

namespace zm {

namespace {
// The shared hardware device goes when the program ends.
const TModule kVideoModules[] = {
    {"FFMpegApi", nullptr, &FiniFFmpegApi},
    {"VideoSource2", &InitVideoSource2, &FiniVideoSource2},
};
}  // namespace

std::span<const TModule> VideoModules() { return kVideoModules; }

}  // namespace zm
