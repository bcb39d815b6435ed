#pragma once
// Where a device's mix goes: an SDL audio device, or a thread that pulls in
// real time and throws the mix away or records it to a WAV file. Each sink
// pulls from its bus until it is destroyed. Standard types only.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Sound/PlatSoundMixer.h"

namespace plat::sound {

class TSoundSink {
public:
  virtual ~TSoundSink() = default;  // stops pulling before it returns
};

// The recording of ZM_AUDIO=wav:FILE: the mix as a 44.1 kHz 16-bit stereo
// WAV file whose header is brought up to date about each second (and when
// it closes), so that a recording whose process is killed stays readable.
// A recording that cannot go on (the disk full, the file removed with its
// folder or alone) stops there: said once through ReportOutputFailure with
// the file and the system's reason; later writes do nothing.
class TWavWriter {
public:
  ~TWavWriter();
  // False (error: what, the file and the system's reason) when the file
  // cannot be made.
  bool Open(const std::string& path, std::string& error);
  // Count samples (both channels) of the mix.
  void Write(const std::int16_t* samples, std::size_t count);
  void Close();

private:
  static constexpr std::uint64_t kHeaderEveryBytes = std::uint64_t(kOutRate) * 4;
  void UpdateHeader();
  bool WriteHeader();
  void Fail(int code);

  std::string path_;
  std::FILE* file_ = nullptr;
  std::uint64_t data_ = 0;
  std::uint64_t headerData_ = 0;  // the count the header on disk holds
  bool failed_ = false;
  std::vector<std::uint8_t> bytes_;
};

// A diagnostic line of the sound layer to the debugger output, each text
// once per process (several devices may fail for the same reason).
void DebugOutputOnce(const std::string& text);

// 44100 Hz, 16-bit stereo, about 512 frames per callback. nullptr (and the
// reason in error) when SDL opens no audio device. The ALSA library's own
// messages go to DebugOutputOnce, not to the error output.
std::unique_ptr<TSoundSink> OpenSdlSink(std::shared_ptr<TMixBus> bus, std::string& error);
// How often a device was asked of SDL (OpenSdlSink calls) in this process.
std::uint32_t SdlSinkOpenings();

// Pulls by the steady clock every ~5 ms. With a wavPath the mix is written
// there as a 44.1 kHz 16-bit stereo WAV (sizes patched when the sink
// closes); nullptr when that file cannot be made (error: what, the file and
// the system's reason). A recording that cannot go on (the disk full, the
// file removed) stops, said once through ReportOutputFailure; the sink
// goes on pulling, so the show plays on.
std::unique_ptr<TSoundSink> OpenNullSink(std::shared_ptr<TMixBus> bus, const std::string& wavPath,
                                         std::string& error);

}  // namespace plat::sound
