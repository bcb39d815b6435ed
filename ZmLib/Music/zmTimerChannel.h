#pragma once
// The audio clock: a silent looping buffer in the standard output format
// whose millisecond counter runs on the system clock and is pulled one
// millisecond per step towards the buffer's play position, so the show clock
// follows the sound card. It never runs ahead of what the card has played by
// more than the card's own step (how far its play position moves at a time):
// when the card stalls, the clock stands until the card moves on.
#include <array>
#include <cstdint>
#include <mutex>

#include "ZmLib/Music/zmDirectSound.h"

namespace zm {

class TwinTimerChannel : public TTimerChannel {
public:
  static constexpr std::uint32_t kFlags = 0x18008;
  static constexpr std::uint32_t kBufferBytes = 352800;  // two seconds
  // The clock is pulled at most 1 ms per kStepMs towards the cursor.
  static constexpr std::uint32_t kStepMs = 10;
  // Readers step the clock when they read it; the feeder only keeps count of
  // the ring's laps (and pulls the clock) while nobody reads.
  static constexpr std::uint32_t kFeederMs = 250;

  // Raises "WaveOutDevice is not TwinWaveOutDevice" for another device and
  // "SoundBuffer = nil" when the buffer cannot be made.
  explicit TwinTimerChannel(TWaveOutDevice* device);
  void Dispose() override;

  // 0 until the clock has met the play cursor after Start (the stopped time
  // on a restart). While playing it never goes back, until SetTime.
  std::uint32_t GetTime() override;
  // The play cursor's own place, without the clock's smoothing: it moves
  // only as the output mixes.
  double SoundingTime() override;
  void SetTime(std::uint32_t ms) override;
  bool IsPlaying() override;
  // Starts from the time Stop left (0 at first). No-op while playing.
  void Start() override;
  void Stop() override;

  // The feeder thread's work, every kFeederMs. With ManualSteps set before
  // Start (tests), Start makes no feeder thread and the caller steps.
  void Step();
  bool ManualSteps = false;
  // The position of the play cursor as a time, run on from when the cursor
  // last moved: 0 before Start, the stopped time after Stop.
  std::uint32_t CursorTime();
  // How far the play position moves at a time (ms): the middle of its
  // recent moves.
  std::uint32_t CardStepMs();
  plat::IDirectSoundBuffer* SoundBuffer() const { return buffer_; }

private:
  static constexpr std::uint32_t kMovesKept = 16;

  static void StepProc(void* self) { static_cast<TwinTimerChannel*>(self)->Step(); }
  bool ReadCursor(std::uint32_t& play, bool logged);
  std::uint32_t CursorMs(std::uint32_t cursor) const;
  // One reading of the cursor: the first one after Start meets it; later
  // ones count laps and moves. False while it has not been met.
  bool Update(bool logged);
  void Meet(std::uint32_t cursor);
  void Note(std::uint32_t cursor);
  void Pull();
  // The time of the position played so far (no running on).
  std::uint32_t PlayedMs() const;

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
  std::uint32_t lastTick_ = 0;  // when lastCursor_ was first read
  std::uint32_t lastPull_ = 0;
  std::uint32_t lastAnswer_ = 0;
  std::array<std::uint32_t, kMovesKept> moves_{};
  std::uint32_t moveCount_ = 0;
  std::uint32_t moveNext_ = 0;
  std::uint32_t cardStepMs_ = kStepMs;
  TRef<TDSEventThread> feeder_;
  std::recursive_mutex cs_;
};

}  // namespace zm
