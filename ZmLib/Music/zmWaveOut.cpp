#include "ZmLib/Music/zmWaveOut.h"

namespace zm {

TCreateWaveOutDeviceProc CreateWaveOutDeviceHook = nullptr;

}  // namespace zm
