#pragma once
// The music loader: a worker thread that opens audio channels (finding the
// file, identifying it, building its decoder, pre-buffering) and destroys
// them (waiting for their sound to wind down), so that the music player's
// thread only posts requests and never blocks on either. A channel-to-be
// travels between the two threads inside counted containers:
//   player -> loader  kOpenChannelEvent     open it
//   loader -> player  kChannelOpenedEvent   opened (or failed: no audio channel)
//   player -> loader  kReleaseChannelEvent  release it
// The last reference of a channel is dropped on the loader's thread.
//
// The unit also extracts the optional decoder plug-ins a show carries.
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruViewer/OruThreads.h"
#include "ZmLib/Application2/zmThreadEventList.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLists.h"

namespace oru {

constexpr std::int32_t kOpenChannelEvent = 1;
constexpr std::int32_t kChannelOpenedEvent = 2;
constexpr std::int32_t kReleaseChannelEvent = 3;

// Fade used when the player starts and stops channels, ms.
constexpr std::uint32_t kChannelFadeMs = 10;
// How often the loader looks whether a channel given back has played out.
constexpr std::uint32_t kPlayOutPollMs = 10;

class TChannelOperator;

// No music clock reading.
inline constexpr double kNoClock = std::numeric_limits<double>::quiet_NaN();

// A channel's text for the log: whole the first time this process logs it
// (a composite track's description runs to many lines), then its first
// line only.
WideString ChannelLogText(const WideString& text);

// The player's handle on one channel-to-be. Flags and times are the player
// thread's; AudioChannel and EndTime are written by the loader before it
// answers. The player may cancel Id, and read EndTime of a channel that is
// still opening, while the loader works on it.
class TOruChannel : public zm::TRefObject {
public:
  TOruChannel(TChannelOperator* channelOperator, std::int32_t id, const WideString& text,
              std::int32_t startPosition, double startTime, double endTime);
  void Dispose() override;  // Destroy

  // Queues a loaded channel that does not play yet for the next PlayPending.
  void Start();
  // Start at time now (ms, the owner's time): a channel that comes after its
  // StartTime (it was loaded late) first moves on by as much, so that it
  // sounds with the show and not behind it; one that comes before it plays
  // silence up to it (Delay). Clock is the music clock's reading that Now
  // was taken from (NaN: none), against which PlayPending reckons the delay
  // again when it plays.
  void StartAt(double now, double clock = kNoClock);
  // A queued channel leaves the queue and never sounds; a sounding one fades out.
  void Stop();
  // A pause at time now (the owner's): Stop; a channel that sounded goes on
  // from the place of now (StartAt), decoded ahead from there by
  // DecodeAhead or else by StartAt.
  void Hold(double now);
  // While the show stands: what a Hold asked for. Not with the Hold itself,
  // so that a move that often follows a stop (a seek) does not wait for it.
  void DecodeAhead();
  // Held after it sounded: the time (the owner's, like StartTime) of the
  // place where its stop's fade fell silent. False while the output has
  // not placed that fade yet; NaN in time when the channel was not so held
  // or the place is not known.
  bool SilentAt(double& time);
  // Stops (when sounding) and destroys the audio channel.
  void Destroy();
  // Given back: one still sounding fades out now. Answers whether its sound
  // still plays out (destroying it would wait for that).
  bool FadeOut();
  bool PlayingOut();

  std::int32_t Id() const { return id_.load(); }
  void SetId(std::int32_t id) { id_.store(id); }
  // The loader does not open a cancelled channel.
  void Cancel() { id_.store(-1); }
  bool Cancelled() const { return id_.load() < 0; }

  TChannelOperator* Operator = nullptr;  // not owned
  zm::TRef<zm::TChannel> AudioChannel;   // nil when it could not be made
  bool Stopped = false;
  bool Loaded = false;
  bool Playing = false;
  WideString Text;                // file name or composite text
  std::int32_t StartPosition = 0;  // ms inside the file
  double StartTime = 0;           // ms in the owning item's time
  std::atomic<double> EndTime;
  double Delay = 0;  // ms of silence before the sound, for the next play (negative: late)
  double DelayClock = kNoClock;  // the music clock when Delay was reckoned
  bool JoinsLate = false;  // StartAt moved it on into its sound

private:
  std::atomic<std::int32_t> id_;
  bool positionDue_ = false;  // StartPosition is not the audio channel's yet
};

// One counted reference to a channel, the payload of the three events.
class TChannelContainer : public zm::TRefObject {
public:
  explicit TChannelContainer(TOruChannel* channel);
  // When this is the last reference, or the channel was cancelled meanwhile,
  // the channel goes back to ReturnTo as a release instead of being dropped
  // here (the loader sets it on its answers).
  void Dispose() override;

  TOruChannel* Channel() const { return channel_.get(); }
  zm::TRef<zm::TThreadEventList> ReturnTo;

private:
  zm::TRef<TOruChannel> channel_;
};

// The channels to start together at the end of a player pass; holds one
// reference to each. Player thread only.
class TChannelOperator : public zm::TList {
public:
  void Dispose() override;

  void Queue(TOruChannel* channel);
  // True when the channel was queued.
  bool Unqueue(TOruChannel* channel);
  bool IsQueued(TOruChannel* channel) const { return IndexOf(channel) >= 0; }
  // Plays every queued channel that has an audio channel, then empties the
  // queue. Sounding, when given, answers the music clock's time of what the
  // output mixes next: each delay is reckoned again from it (shorter by as
  // much as the output has mixed since the clock was read, longer by as
  // much as the clock ran ahead of the output; for a channel that joins its
  // sound late, negative by the part of a ms it comes late), so that the
  // sound lies on its time to the frame, whenever the output mixes.
  // ClockStarts: the clock starts in this pass, and a sound due now starts
  // whole rather than on its time to the frame.
  void PlayPending(const std::function<double()>& sounding = {}, bool clockStarts = false);
  void ClearQueue();
};

class TMusicLoader : public TOruThread {
public:
  static constexpr char16_t kLoadFromDiskPrefix[] = u"LoadFromDisk:";

  // FileAccess must be given. The loader takes over the music player's
  // stream procedures; without a music player every answer has no channel.
  TMusicLoader(TFileAccessor* fileAccess, zm::TThreadEventList* playerEvents, zm::TMusicPlayer* musicPlayer);
  void Dispose() override;

  void HandleEvent(zm::TRefObject* sender, std::int32_t id, bool& handled, zm::TRefObject* data) override;
  void Step() override;
  // Destroys the channels still playing out, on the loader's thread.
  void DoStop() override;

  // Player side: asks for the channel to be opened.
  void OpenRequest(TOruChannel* channel);
  // Player side: gives up the caller's reference; the channel is destroyed
  // on the loader's thread.
  void Release(zm::TRef<TOruChannel> channel);

  TFileAccessor* FileAccess() const { return fileAccess_.get(); }
  zm::TMusicPlayer* MusicPlayer() const { return musicPlayer_.get(); }
  zm::TThreadEventList* PlayerEvents() const { return playerEvents_.get(); }

  // The music player's stream procedures: "LoadFromDisk:" names come from
  // disk, any other name from the show.
  static zm::TStream* OpenStream(void* loader, void* context, const WideString& name);
  static void CloseStream(void* loader, void* context, zm::TStream* stream);

private:
  void OpenChannel(TChannelContainer* container);
  // Destroys the channels given back whose sound has played out (all: every one).
  void DropPlayedOut(bool all);

  zm::TRef<TFileAccessor> fileAccess_;
  zm::TRef<zm::TThreadEventList> playerEvents_;
  zm::TRef<zm::TMusicPlayer> musicPlayer_;
  // Given back while their faded sound still plays: destroyed once it has,
  // so that opening the next channel (a seek's) never waits behind them.
  std::vector<zm::TRef<TOruChannel>> playingOut_;
};

// ---- Decoder plug-ins ------------------------------------------------------------

// Loading and unloading of the Ogg and WMA decoder plug-ins: the decoder
// choice's by default; tests put their own in (nil: a plug-in fails to load).
using TLoadPluginProc = bool (*)(const WideString& path);
using TUnloadPluginProc = void (*)();
extern TLoadPluginProc LoadOggPluginHook;
extern TLoadPluginProc LoadWmaPluginHook;
extern TUnloadPluginProc UnloadOggPluginHook;
extern TUnloadPluginProc UnloadWmaPluginHook;

// Once per process for each plug-in (again after RemovePlugins): when the
// show holds the entry named by [Main] "opt_wmapath" / "opt_oggpath", the
// program's own plug-in "oruwma.dll" / "oruogg.dll" is loaded. The entry
// itself is never written out nor loaded: a show brings no code.
void PreparePlugins(TFileAccessor* fileAccess, const zm::TIniFile* ini);
// Unloads the plug-ins.
void RemovePlugins();
// The name the plug-in was loaded by; empty when not prepared.
WideString OggPluginPath();
WideString WmaPluginPath();

}  // namespace oru
