#include "ZmLib/Music/zmMusicModules.h"

#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmDllDecoders.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmMusicPlayer.h"

namespace zm {

namespace {
const TModule kMusicModules[] = {
    {"zmDirectSound", &InitDirectSound, &FiniDirectSound},
    {"zmConverterFactory", &InitConverterFactory, &FiniConverterFactory},
    {"zmDllDecoders", &InitDllDecoders, &FiniDllDecoders},
    {"zmMusicChannel", &InitMusicChannel, &FiniMusicChannel},
    {"zmMusicPlayer", &InitMusicPlayer, &FiniMusicPlayer},
};
}  // namespace

std::span<const TModule> MusicModules() { return kMusicModules; }

}  // namespace zm
