#pragma once
// One run of one track: the opened file, the converter that turns it into
// PCM, and the output ring it feeds with gain and fades applied. A channel
// that was stopped, or whose source ran out, still has sound queued; the
// channel killer waits until that has played and hands the channel back to
// its owner for disposal.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "ZmLib/Music/zmMediaInfo.h"
#include "ZmLib/Music/zmWavConverter.h"
#include "ZmLib/Music/zmWaveOut.h"

namespace zm {

class TChannelMusic;

struct TStreamClosePair {
  TStreamCloseProc Proc = nullptr;
  void* Data = nullptr;
};

class TMusicChannel : public TRefObject {
public:
  static constexpr std::int32_t kIdle = 0;
  static constexpr std::int32_t kPlaying = 1;
  static constexpr std::int32_t kStopping = 2;
  static constexpr std::uint32_t kNotScheduled = 0xFFFFFFFFu;
  // How much longer than its sound should take a channel waits for an
  // output that stalls.
  static constexpr std::uint32_t kStalledOutputMs = 5000;

  // Ready() is false when the format is unusable or the device made no ring.
  TMusicChannel(TChannelMusic* owner, const TMediaInfo& mediaInfo, TWaveOutDevice* device);
  void Dispose() override;

  // Opens the file (or the composite text) and sets up its converter.
  bool Open(const WideString& fileName);
  // Only while idle. A little further on than before, within what was
  // decoded ahead, it only drops what lies between.
  void SetPosition(std::uint32_t ms);
  // DelayFrames of silence (of the ring's format) come before the sound,
  // whose fade in starts with it; or the sound's first SkipFrames are left
  // out (a start that comes that late), as far as they were decoded ahead.
  void Play(std::uint32_t fadeMs, std::uint32_t delayFrames = 0, std::uint32_t skipFrames = 0);
  // The output fades what it would still play (queued, or taken already)
  // from its next mix on, unless the track's sound ends within the fade
  // anyway; the fade in place of what is queued follows on the ring's
  // thread as before.
  void Stop(std::uint32_t fadeMs);
  bool IsDone();
  std::uint32_t Position();
  // After Stop: where its sound fell silent, ms into the track (the end of
  // the stop's fade in what the ring plays). False while the ring has not
  // placed the fade yet; NaN in ms when the run never sounded or the ring
  // does not tell where its regions lie.
  bool SilentPlace(double& ms);

  bool Ready() const { return ready_; }
  std::int32_t State() const { return state_.load(); }
  bool Ended() const { return ended_.load(); }
  TChannelMusic* Owner() const { return owner_.load(); }
  // A channel whose owner gave up waiting is disposed of by the killer alone.
  void Orphan() { owner_.store(nullptr); }
  TWaveOutBuffer* Output() const { return output_.get(); }
  TWavConverter* Converter() const { return converter_.get(); }
  const TWaveFormatEx& Format() const { return format_; }
  std::uint32_t DoneAfterMs();
  float Gain();

  // The ring's callbacks run these between BeginRegion and EndRegion, which
  // note where the region lies in the stream the ring plays.
  void BeginRegion(const std::uint8_t* region);
  void EndRegion() { region_ = nullptr; }
  // The gain stage and the fade in place; public for the ring's callbacks.
  void ApplyGain(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t bytes);
  void FadeInPlace(std::uint8_t* region, std::uint32_t bytes);
  void Fill(std::uint8_t* destination, std::uint32_t bytes);
  void FirstFill(std::uint8_t* destination, std::uint32_t bytes);

private:
  static std::int32_t FadeFrames(std::uint32_t fadeMs, std::uint32_t rate);
  bool MakeOutput(const TWaveFormatEx& format);
  // ExtraBytes: sound still to play beyond the start of the region in hand.
  void ScheduleDone(std::uint32_t extraBytes);
  // Bytes from the start of the region in hand up to At; Outside when no
  // region is in hand.
  std::uint32_t RegionBytesTo(const std::uint8_t* at, std::uint32_t outside) const;
  // Bytes from the start of the region in hand (else From) up to the end of
  // its last frame that is not silent, looking no further than End.
  std::uint32_t SoundInRegion(const std::uint8_t* from, const std::uint8_t* end) const;
  // Under the fade lock: a stopped run's sound ends at that byte of the
  // region in hand.
  void NoteSilence(const std::uint8_t* at);
  // Scales the frames in place (or from source) while a fade runs.
  void Scale(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t bytes);
  // Under the prebuffer lock: the delay's silence, then what is left of the
  // prebuffer, through the gain stage into destination; the bytes given.
  std::uint32_t TakePrebuffer(std::uint8_t* destination, std::uint32_t bytes);

  std::atomic<TChannelMusic*> owner_;
  TRef<TWaveOutDevice> device_;
  TRef<TWaveOutBuffer> output_;
  bool ready_ = false;
  TStream* stream_ = nullptr;
  // How the stream is closed: the player's procedure as Open found it.
  TStreamClosePair closeStream_;
  void* closeContext_ = nullptr;
  TRef<TWavConverter> converter_;
  std::atomic<std::int32_t> state_{kIdle};

  // The fade state, touched by the ring's thread and by Play/Stop.
  std::mutex fadeLock_;
  std::int32_t fadeOutFrames_ = 1;
  std::int32_t fadeInFrames_ = 1;
  float gain_ = 1.0f;
  float step_ = 1.0f;
  bool fadingIn_ = false;
  bool fadingOut_ = false;
  // The region a callback was handed and where it lies in the stream (-1:
  // not told); the first silent byte of a stopped run in the stream (-1:
  // none yet), and whether it stopped before it ever sounded.
  static constexpr std::int64_t kNoStream = INT64_MAX;
  const std::uint8_t* region_ = nullptr;
  std::int64_t regionStream_ = -1;
  std::int64_t silentStream_ = -1;
  bool silentNever_ = false;
  // The output fades the stopped run itself (FadeOut answered true).
  bool outputFades_ = false;
  // Where in the stream the track's last sound ends, once it ran out (-1:
  // not yet, or the ring does not tell).
  std::atomic<std::int64_t> endStream_{-1};

  std::mutex doneLock_;
  std::uint32_t doneAfterMs_ = kNotScheduled;
  std::uint32_t doneTick_ = 0;
  // Where in the ring's stream the sound to wait for ends (-1: the ring
  // does not tell, and the time above alone counts).
  std::int64_t doneStream_ = -1;
  bool stopPending_ = false;
  std::atomic<bool> ended_{false};
  std::atomic<bool> started_{false};  // the ring asked for its first fill

  std::uint32_t positionBase_ = 0;
  TMediaInfo mediaInfo_{};
  TWaveFormatEx format_{};
  std::uint32_t bufferBytes_ = 0;
  std::uint32_t frameBytes_ = 0;
  std::vector<std::uint8_t> prebuffer_;
  bool hasPrebuffer_ = false;
  // The silence before the sound: all of it, and what is still to give.
  std::atomic<std::uint32_t> delayBytes_{0};
  std::uint32_t delayLeft_ = 0;
  std::mutex prebufferLock_;
};

// The process-wide thread that disposes of music channels once their queued
// sound has played.
class TChannelKiller : public TRefObject {
public:
  static constexpr std::int32_t kQuit = 1025;
  static constexpr std::int32_t kAdd = 1026;

  TChannelKiller();
  void Dispose() override;

  // Watches the channel (takes a reference) until it is done.
  void Add(TMusicChannel* channel);
  // Channels posted or watched.
  std::size_t Count();
  // Waits until no channel is posted or watched, at most TimeoutMs; true
  // when none is.
  bool WaitEmpty(std::uint32_t timeoutMs);
  // Held while a channel is handed to its owner; an owner that gives up
  // waiting takes it to orphan its channels.
  std::recursive_mutex& HandOverLock() { return handOver_; }
  bool IsOwnThread() const { return threadId_.load() == std::this_thread::get_id(); }

private:
  class TKillerThread;
  void Execute(TKillerThread* thread);
  bool DispatchEvents();  // false on quit
  void HandOver(TMusicChannel* channel);

  std::mutex queueLock_;
  std::vector<std::pair<std::int32_t, TMusicChannel*>> events_;
  std::vector<TMusicChannel*> channels_;  // the killer thread's alone
  std::atomic<std::size_t> count_{0};
  std::mutex emptyLock_;
  std::condition_variable empty_;  // count_ came to 0
  std::recursive_mutex handOver_;
  std::atomic<std::thread::id> threadId_{};
  TRef<TEvent> wake_;
  TRef<TThread> thread_;
};

// The one killer, made on first use (again after FiniMusicChannel).
TChannelKiller* ChannelKiller();
bool IsChannelKillerThread();

// Start-up and finalisation of the killer (finalisation ends its thread).
void InitMusicChannel();
void FiniMusicChannel();

}  // namespace zm
