#pragma once
// The audio clock: a silent looping buffer in the standard output format
// whose millisecond counter runs on the system clock and is pulled one
// millisecond per step towards the buffer's play position, so the show clock
// follows the sound card.
#include <cstdint>
#include <mutex>

#include "ZmLib/Music/zmDirectSound.h"

namespace zm {

class TwinTimerChannel : public TTimerChannel {
public:
  static constexpr std::uint32_t kFlags = 0x18008;
  static constexpr std::uint32_t kBufferBytes = 352800;  // two seconds
  static constexpr std::uint32_t kStepMs = 10;

  // Raises "WaveOutDevice is not TwinWaveOutDevice" for another device and
  // "SoundBuffer = nil" when the buffer cannot be made.
  explicit TwinTimerChannel(TWaveOutDevice* device);
  void Dispose() override;

  // 0 until the clock has met the play cursor after Start.
  std::uint32_t GetTime() override;
  void SetTime(std::uint32_t ms) override;
  bool IsPlaying() override;
  // Starts from the time Stop left (0 at first). No-op while playing.
  void Start() override;
  void Stop() override;

  // The feeder thread's work, every kStepMs. With ManualSteps set before
  // Start (tests), Start makes no feeder thread and the caller steps.
  void Step();
  bool ManualSteps = false;
  // The position of the play cursor as a time: 0 before Start, the stopped
  // time after Stop.
  std::uint32_t CursorTime();
  plat::IDirectSoundBuffer* SoundBuffer() const { return buffer_; }

private:
  static void StepProc(void* self) { static_cast<TwinTimerChannel*>(self)->Step(); }
  bool ReadCursor(std::uint32_t& play);
  std::uint32_t CursorMs(std::uint32_t cursor) const;

  TRef<TwinWaveOutDevice> device_;
  plat::IDirectSound8* ds_ = nullptr;
  plat::IDirectSoundBuffer* buffer_ = nullptr;
  TWaveFormatEx format_{};
  bool playing_ = false;
  bool first_ = true;
  std::uint32_t origin_ = 0;
  std::uint32_t offset_ = 0;
  std::uint32_t stoppedMs_ = 0;
  std::uint32_t wrapMs_ = 0;
  std::uint32_t lastCursor_ = 0xFFFFFFFFu;
  std::uint32_t lastTick_ = 0;
  std::uint32_t stepCount_ = 0;
  TRef<TDSEventThread> feeder_;
  std::recursive_mutex cs_;
};

}  // namespace zm
