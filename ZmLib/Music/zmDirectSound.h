#pragma once
// The output device on the DirectSound layer: the device, one streaming ring
// buffer per playing track, and the notification thread that refills it.
// Every sound-layer call is bracketed by "-> " and "<- " lines in the log.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "Platform/Sound/PlatDSound.h"
#include "ZmLib/Music/zmWaveOut.h"

namespace zm {

// How long the end of a sound thread is waited for before it is reported.
constexpr std::uint32_t kSoundThreadEndWaitMs = 1000;
// A buffer answering "lost" to Play is restored this often at most.
constexpr int kMaxLostBufferRetries = 100;

// Plays a buffer looping; a lost buffer is restored and played again, at most
// kMaxLostBufferRetries times. The calls are logged as name.Play and
// name.Restore at unit and line.
void PlayRestoringLost(plat::IDirectSoundBuffer* buffer, const WideString& name, const WideString& unit, int line);

// Gain (linear) to hundredths of a decibel, 6 dB per halving, clamped to
// -10000..0; a gain of 0.00001 (-100 dB) or less, or not a number, is
// -10000. And back: -10000 is 0.
std::int32_t GainToDSVolume(float gain);
float DSVolumeToGain(std::int32_t volume);

struct TDSThreadCallback {
  void (*Proc)(void* data) = nullptr;
  void* Data = nullptr;
};

// Calls OnStart once, then OnTick whenever it is woken or tickMs pass
// without a wake-up, until the stop event is set. Both events reset
// themselves when the thread takes them; stop is taken before wake.
class TDSEventThread : public TRefObject {
public:
  static constexpr std::uint32_t kDefaultTickMs = 100;
  explicit TDSEventThread(std::uint32_t tickMs = kDefaultTickMs) : tickMs_(tickMs) {}
  void Dispose() override;  // Finish

  TDSThreadCallback OnStart;
  TDSThreadCallback OnTick;

  bool Resume();  // starts the thread once; false when it cannot start
  void Wake();
  // Sets the stop event and waits kSoundThreadEndWaitMs for the thread. One
  // that does not end in time is reported as a failed assertion and then
  // waited for: it cannot be ended safely from outside. False on the
  // time-out. Called on the thread itself, it only sets the event.
  bool Finish();
  bool Running() const;

private:
  void Run();
  static void Call(const TDSThreadCallback& c);

  const std::uint32_t tickMs_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
  bool wake_ = false;
  bool ended_ = false;
  bool running_ = false;
  std::thread thread_;
  std::mutex finishLock_;
};

class TwinWaveOutDevice : public TWaveOutDevice {
public:
  // Makes the sound object and sets its cooperative level; the device is
  // ready only when both worked.
  TwinWaveOutDevice();
  void Dispose() override;
  bool IsReady() override { return ready_; }
  // Raise "WaveOutDevice is not TwinWaveOutDevice" for devices of other
  // classes (through the buffer's and the channel's constructors).
  TRef<TWaveOutBuffer> CreateBuffer(const TWaveFormatEx& format) override;
  TRef<TTimerChannel> CreateChannel() override;
  plat::IDirectSound8* DirectSound() const { return ds_; }

private:
  plat::IDirectSound8* ds_ = nullptr;
  bool ready_ = false;
};

// A two-second ring in the given format. The first fill (three quarters of
// the ring) and the refills (at most half a second each) run on the
// notification thread; Stop has the queued sound faded out from 25 ms past
// the write cursor on, and FadeOut has the sound layer fade what it would
// still play (that included) from its next mix on. A buffer whose sound buffer could not be made plays
// nothing. Callbacks must not dispose of the buffer.
class TwinWaveOutBuffer : public TWaveOutBuffer {
public:
  static constexpr std::uint32_t kFlags = 0x18088;
  static constexpr std::uint32_t kRefillMs = TDSEventThread::kDefaultTickMs;

  TwinWaveOutBuffer(TWaveOutDevice* device, const TWaveFormatEx& format);
  void Dispose() override;

  float GetVolume() override;
  void SetVolume(float gain) override;
  void Play() override;
  void Stop() override;
  std::uint32_t PrebufferSize() override;
  std::uint32_t QueuedBytes() override;
  // wrapMs + ms since the last cursor reading + the cursor in ms.
  std::uint32_t PlayedTime() override;
  std::int64_t RegionStream() override { return regionStream_.load(); }
  std::int64_t PlayedStream() override;
  bool FadePlaced() override { return fadePlaced_.load(); }
  bool FadeOut(std::uint32_t frames) override;
  std::int64_t FadedStream() override;
  std::int64_t ReadStream() override;
  void EndCallbacks() override;

  // The notification thread's two callbacks. With ManualTicks set before
  // Play (tests), Play runs FirstFill at once and makes no thread; the
  // caller runs Refill in its place.
  void FirstFill();
  void Refill();
  bool ManualTicks = false;

  std::uint32_t Size() const { return size_; }
  std::uint32_t MaxChunk() const { return maxChunk_; }
  std::uint32_t WriteEnd();
  plat::IDirectSoundBuffer* SoundBuffer() const { return buffer_; }

private:
  static void TickProc(void* self) { static_cast<TwinWaveOutBuffer*>(self)->Refill(); }
  // Locks bytes from offset on (wrapping), hands the parts to callback and
  // unlocks; answers the bytes handed over. Stream: where offset lies in
  // the stream (RegionStream).
  std::uint32_t FillRegion(std::uint32_t offset, std::uint32_t bytes, const TWaveRegionCallback& callback,
                           bool trackPosition, std::int64_t stream);
  bool ReadCursors(std::uint32_t& play, std::uint32_t& write);
  // What is written ahead of the play cursor, up to writeEnd_: the fills
  // stop at the cursor, so met there the whole ring is queued.
  std::uint32_t QueuedFrom(std::uint32_t play) const {
    return writeEnd_ > play ? writeEnd_ - play : size_ - (play - writeEnd_);
  }
  void PlayLooping();
  std::uint32_t RoundDown(std::uint32_t bytes) const { return bytes - bytes % frameBytes_; }

  TRef<TwinWaveOutDevice> device_;
  plat::IDirectSound8* ds_ = nullptr;
  plat::IDirectSoundBuffer* buffer_ = nullptr;
  TWaveFormatEx format_{};
  std::uint32_t size_ = 0;
  std::uint32_t maxChunk_ = 0;
  std::uint32_t frameBytes_ = 1;
  std::atomic<float> volume_{-1.0f};
  std::uint32_t writeEnd_ = 0;
  std::int64_t streamEnd_ = 0;  // the stream bytes written up to writeEnd_
  std::atomic<std::int64_t> regionStream_{-1};
  std::atomic<std::uint32_t> callbackPos_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> fadePlaced_{false};
  std::atomic<bool> closed_{false};
  std::atomic<bool> playCalled_{false};
  TRef<TDSEventThread> thread_;
  std::mutex threadLock_;  // around thread_ only
  std::recursive_mutex cs_;
  // Played-time bookkeeping, read from other threads.
  std::mutex timeLock_;
  std::uint32_t wrapMs_ = 0;
  std::uint32_t lastCursor_ = 0xFFFFFFFFu;
  std::uint32_t lastTick_ = 0;
};

// The factory of CreateWaveOutDeviceHook.
TRef<TWaveOutDevice> CreateWinWaveOutDevice();

// The hidden window every device gives as its cooperative-level window; the
// window layer of the program may set it. Nil: a null handle is given.
using TSoundWindowProc = void* (*)();
extern TSoundWindowProc SoundWindowHook;

// The DirectSoundCreate8 entry point as found at start-up; nil when it was
// not found, and then DirectSoundCreate alone is tried.
using TDirectSoundCreateProc = plat::HRESULT (*)(const void* guid, plat::IDirectSound8** ds, void* outer);
extern TDirectSoundCreateProc DirectSoundCreate8Proc;

// Sets the entry point and the output-device factory hook; finalisation puts
// back the hook it found.
void InitDirectSound();
void FiniDirectSound();

}  // namespace zm
