#pragma once
// Where a device's mix goes: an SDL audio device, or a thread that pulls in
// real time and throws the mix away or records it to a WAV file. Each sink
// pulls from its bus until it is destroyed. Standard types only.
#include <memory>
#include <string>

#include "Platform/Sound/PlatSoundMixer.h"

namespace plat::sound {

class TSoundSink {
public:
  virtual ~TSoundSink() = default;  // stops pulling before it returns
};

// A diagnostic line of the sound layer to the debugger output, each text
// once per process (several devices may fail for the same reason).
void DebugOutputOnce(const std::string& text);

// 44100 Hz, 16-bit stereo, about 512 frames per callback. nullptr (and the
// reason in error) when SDL opens no audio device. The ALSA library's own
// messages go to DebugOutputOnce, not to the error output.
std::unique_ptr<TSoundSink> OpenSdlSink(std::shared_ptr<TMixBus> bus, std::string& error);

// Pulls by the steady clock every ~5 ms. With a wavPath the mix is written
// there as a 44.1 kHz 16-bit stereo WAV (sizes patched when the sink
// closes); nullptr when that file cannot be made.
std::unique_ptr<TSoundSink> OpenNullSink(std::shared_ptr<TMixBus> bus, const std::string& wavPath,
                                         std::string& error);

}  // namespace plat::sound
