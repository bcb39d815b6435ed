#pragma once
// The music player thread: plays the show's main music (play sequences) and
// the slides' voice comments, scheduling what has to sound within the next
// five seconds (the loader opens those files ahead of time), starting and
// stopping channels at their show times, pausing with the show and jumping
// when the engine sets a new position. It owns the show clock: the audio
// device's play clock, or the tick count when there is no sound device.
//
// Engine thread: SetRunRequested, SetTime, SetEndLimit, GetTime, IsReady and
// the volume. Everything else lives on the player thread.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruViewer/OruMusicLoader.h"
#include "OruLib2/OruViewer/OruMusicSource.h"
#include "OruLib2/OruViewer/OruThreads.h"

namespace oru {

constexpr std::int32_t kMusicRunEvent = 10;
constexpr std::int32_t kMusicPauseEvent = 11;
constexpr std::int32_t kMusicSetTimeEvent = 12;

// How far ahead the player schedules and opens music, ms.
constexpr double kMusicWindowMs = 5000.0;
// A running clock without playing items looks this often for music coming
// into the window: what comes is still opened seconds before it sounds.
constexpr std::uint32_t kIdleScheduleMs = 2500;
// Running synchronised music starts a channel this far ahead of its time,
// with silence up to it: it sounds from its first sample on that time,
// however late within it the pass comes.
constexpr double kStartLeadMs = 40.0;
// A run asked for on the audio clock waits at most this long (ms) for the
// music due at its time to be loaded before the clock starts without it.
constexpr std::uint32_t kStartWaitMs = 2000;
// A new time's old place sounds on until the new place's music starts, to
// fade out as it fades in; this long (ms) at most.
constexpr std::uint32_t kLeaveWaitMs = 100;
// A pause of synchronised music stops its channels this long (ms) after it
// was asked for, unless a new time comes first: a jump pauses the show
// before it sets the new time, and the old place is to fade out as the new
// one comes in, not before.
constexpr std::uint32_t kPauseGraceMs = 40;
constexpr double kNoEndLimit = 2147483647.0;

class TOruMusicPlayer;

// A negative field leaves the player's value unchanged.
class TTimeData : public zm::TRefObject {
public:
  TTimeData(double position, double endLimit, bool settle = false)
      : Position(position), EndLimit(endLimit), Settle(settle) {}
  double Position = -1;
  double EndLimit = -1;
  // The ready flag is worked out before the sender goes on (the engine's
  // resync reads it next), not with the next pass.
  bool Settle = false;
};

class TPlayItem : public zm::TRefObject {
public:
  explicit TPlayItem(TOruMusicPlayer* player);
  // Stops with force and leaves the player's items.
  void Dispose() override;
  virtual void Stop(bool force) = 0;
  virtual void ChannelLoaded(TOruChannel* channel) = 0;
  virtual void Sync(bool running, double time) = 0;
  // After a pause: the player time at which the channels it held fell
  // silent (the latest of them; NaN when none sounded). False while one of
  // them does not know yet.
  virtual bool SilentAt(double& time);
  // Whether what it sounds at player time t (within the start lead) is
  // loaded, so that a clock starting there starts it from its first sample.
  virtual bool LoadedAt(double t);

  TOruMusicPlayer* Player = nullptr;  // not owned
  std::int32_t Id = 0;
  bool Ready = false;
  bool Finished = false;

protected:
  // Stops (when sounding) or cancels the channel and hands it to the loader.
  void ReleaseChannel(zm::TRef<TOruChannel> channel);
};

class TPlayComment : public TPlayItem {
public:
  explicit TPlayComment(TOruMusicPlayer* player);
  void Dispose() override;
  void Stop(bool force) override;
  void ChannelLoaded(TOruChannel* channel) override;
  void Sync(bool running, double time) override;
  bool SilentAt(double& time) override;
  bool LoadedAt(double t) override;
  // Start and end are show times, ms; position is inside the file.
  void Open(const WideString& file, std::int32_t position, double end, double start);

  zm::TRef<TOruChannel> Channel;
  bool PauseWithShow = true;
};

class TPlaySequence : public TPlayItem {
public:
  // The list stays the source's.
  TPlaySequence(TOruMusicPlayer* player, bool synchronised, TPlayList* list);
  void Dispose() override;
  void Stop(bool force) override;
  void ChannelLoaded(TOruChannel* channel) override;
  void Sync(bool running, double time) override;
  bool SilentAt(double& time) override;
  bool LoadedAt(double t) override;

  std::vector<zm::TRef<TOruChannel>> Channels;
  TPlayList* List = nullptr;
  std::int64_t NextTrack = 0;
  bool Started = false;
  bool FreeRunning = false;
  double StartClock = 0;  // clock reading when a free-running sequence started
  double StartTime = 0;   // show time at which the sequence begins
  double Offset = 0;      // ms into the list at StartTime
  bool Preloaded = false;  // the channels of some time are asked for

private:
  // P is the time into the play list; channels starting within Lead after
  // it start now, with silence up to their time.
  void Preload(double p, double lead = 0, double clock = kNoClock);
  // Running at t past its start: it takes the place of the sequence before.
  void TakeOver(bool running, double t);
  void AddChannel(const TPlayListEntry& entry, double cut);
};

class TOruMusicPlayer : public TOruThread {
public:
  // Show must be given ("No OruSource for OruMusicPlayer"); with ownsShow the
  // player takes over the caller's reference.
  TOruMusicPlayer(TOruSource* show, bool ownsShow);
  void Dispose() override;

  // Starts the loader, then this thread.
  bool Start() override;
  // Stops the loader and this thread, then drops every item and the sound device.
  bool Stop(std::uint32_t timeoutMs = kDisposeWaitMs) override;
  void Step() override;
  void HandleEvent(zm::TRefObject* sender, std::int32_t id, bool& handled, zm::TRefObject* data) override;

  // ---- Engine thread ----
  void SetRunRequested(bool run);
  bool RunRequested() const { return runRequested_.load(); }
  // Negative fields are left alone; waits until the player thread took them.
  void SetTime(double endLimit, double position, bool settle = false);
  void SetEndLimit(double t) { SetTime(t, -2147483647.0); }
  double LastEndLimit() const { return lastEndLimit_.load(); }
  double GetTime();
  bool IsReady() const { return ready_.load(); }
  float GetVolume();
  void SetVolume(float volume);

  // The face the engine's show clock has: the clock runs while active.
  void Activate() { SetRunRequested(true); }
  void Deactivate() { SetRunRequested(false); }
  bool IsActive() const { return RunRequested(); }
  double Clock() { return GetTime(); }
  bool Ready() const { return IsReady(); }
  double BarrierTime() const { return LastEndLimit(); }
  // A move while active keeps the clock running from the new time.
  void Resync(double barrier, double time);
  // A pause of synchronised music: its stop fades out a little after the
  // clock stood, and the show may stand where the sound fell silent rather
  // than hear that part again on resume. Pending from the pause until the
  // player has learnt that place (or that nothing sounded); a resume or a
  // new time ends the wait.
  bool SilencePending();
  // Once learnt: moves the stood clock on from From to the time where the
  // paused music fell silent (the end limit at most), answered in Clock.
  // False, moving nothing, when nothing is to move or the clock no longer
  // stands at From.
  bool StandWhereSilent(double from, double& clock);
  float Volume() { return GetVolume(); }
  bool NeedsRebuild() const { return false; }
  // False while the player reads a show it does not own.
  bool SourceFree() const { return static_cast<bool>(show_); }

  // Exact frame stepping (captures) runs the show on the stepped tick count,
  // not the device's play clock: set before Start.
  void SetTickClock(bool on) { tickClock_.store(on); }

  // ---- Player thread ----
  // One pass of the loop without its wait (tests drive it by hand).
  void Pass();
  // The music clock, ms: the device's play clock, else the tick count.
  double MusicClock();
  // Where a ring played now starts to sound, on the music clock's scale
  // (NaN on the tick count).
  double SoundingClock();
  bool ClockRunning();
  double EndLimit();
  // While the clock stands: the pause was asked for at least kPauseGraceMs
  // ago, or a run has been asked for since.
  bool PauseSettled();

  TOruMusicSource* Source() const { return source_.get(); }
  zm::TMusicPlayer* MusicPlayer() const { return musicPlayer_.get(); }
  TMusicLoader* Loader() const { return loader_.get(); }
  TChannelOperator* ChannelOperator() const { return channelOperator_.get(); }
  const std::vector<TPlayItem*>& Items() const { return items_; }
  TPlaySequence* CurrentSequence() const { return currentSequence_; }
  TPlayComment* CurrentComment() const { return currentComment_; }
  bool Synchronised() const { return synchronised_; }

private:
  friend class TPlayItem;
  friend class TPlayComment;
  friend class TPlaySequence;

  std::int32_t NewItemId();
  void AddItem(TPlayItem* item);     // takes over the caller's reference
  void RemoveItem(TPlayItem* item);  // without freeing it
  void DestroyItem(TPlayItem* item);
  void DestroyAllItems();
  // Stops the channels of the place a new time left (they fade out).
  void ReleaseLeaving();
  void SetRunning(bool run, bool asRequested = false);
  void SetRunningLocked(bool run);
  // A run asked for on the audio clock: the clock starts once the music due
  // at its time is loaded (or kStartWaitMs have passed).
  void StartWhenLoaded();
  void Reset(bool clear, double t);
  // A paused pass: learns where the music of a pause fell silent.
  void SettlePause();
  void Schedule(bool initial, double to, double from);
  // The slide index (counting on through passes) whose span holds the time.
  std::int64_t SlideAt(std::int64_t from, double time) const;
  bool SlideSpanAt(std::int64_t index, double& start, double& end) const;
  double ClockLocked();

  zm::TRef<TOruSource> show_;  // held only when owned
  TOruSource* showPtr_ = nullptr;
  zm::TRef<TOruMusicSource> source_;
  zm::TRef<TFileAccessor> fileAccess_;
  zm::TRef<zm::TMusicPlayer> musicPlayer_;
  zm::TRef<TMusicLoader> loader_;
  zm::TRef<TChannelOperator> channelOperator_;
  std::vector<TPlayItem*> items_;  // one reference each
  // Sounding channels of the place a new time left: they play on until the
  // music of the new place starts (ReleaseLeaving), while a Reset collects.
  std::vector<zm::TRef<TOruChannel>> leaving_;
  std::uint32_t leavingTick_ = 0;
  bool collectLeaving_ = false;
  // The music clock reading of this pass's time (NaN: the clock stands).
  double passClock_ = kNoClock;
  // The clock reading the clock last started from (NaN: stopped).
  double startClock_ = kNoClock;
  TPlaySequence* currentSequence_ = nullptr;
  TPlayComment* currentComment_ = nullptr;
  bool synchronised_ = false;
  std::int32_t nextItemId_ = 0;
  std::int64_t slideIndex_ = 0;
  double horizon_ = 0;
  std::atomic<bool> runRequested_{false};
  std::atomic<bool> ready_{false};
  std::atomic<bool> tickClock_{false};
  std::atomic<double> lastEndLimit_{kNoEndLimit};

  std::mutex lock_;  // running_, base_, endLimit_, the pause's silence and the unwrapped tick count
  static constexpr int kSilenceNone = 0, kSilencePending = 1, kSilenceKnown = 2;
  int silence_ = kSilenceNone;
  double silentAt_ = 0;
  std::uint32_t pauseCount_ = 0;  // pauses and new times: which one a settling pass learns for
  bool running_ = false;
  double base_ = 0;
  double endLimit_ = kNoEndLimit;
  std::uint32_t lastTick_ = 0;
  double tickBase_ = -1;
  std::uint32_t runAskedTick_ = 0;  // when the last run was asked for
  std::uint32_t pauseTick_ = 0;     // when the last pause was asked for
};

}  // namespace oru
