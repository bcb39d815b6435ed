#include "ZmLib/Music/zmMusicModules.h"

#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDirectSound.h"

namespace zm {

namespace {
const TModule kMusicModules[] = {
    {"zmDirectSound", &InitDirectSound, &FiniDirectSound},
    {"zmConverterFactory", &InitConverterFactory, &FiniConverterFactory},
};
}  // namespace

std::span<const TModule> MusicModules() { return kMusicModules; }

}  // namespace zm
