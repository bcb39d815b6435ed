#pragma once
// The audio side's entry point: the music player owns the output device and
// the audio clock and opens channels for file names. A channel is one
// playable track as its users see it; behind it runs one music channel at a
// time, replaced by a fresh one on a seek while playing or on a play after a
// stop, so the old one can fade out while the new one starts.
#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "ZmLib/Music/zmMediaInfo.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmWavConverter.h"
#include "ZmLib/Music/zmWaveOut.h"

namespace zm {

class TChannel;
class TChannelMusic;
class TMusicChannel;

struct TStreamOpenPair {
  TStreamOpenProc Proc = nullptr;
  void* Data = nullptr;
};

// A start position that leaves a new channel where it is.
constexpr std::uint32_t kNoStartPosition = 0xFFFFFFFFu;

class TMusicPlayer : public TRefObject {
public:
  virtual bool IsReady() = 0;
  virtual float GetVolume();
  virtual void SetVolume(float volume);
  virtual void SetCloseStream(TStreamCloseProc proc, void* data) = 0;
  virtual void SetOpenStream(TStreamOpenProc proc, void* data) = 0;
  virtual void GetOpenStream(TStreamOpenPair& pair) = 0;
  virtual void GetCloseStream(TStreamClosePair& pair) = 0;
  virtual double GetTime() = 0;  // ms
  // Where a ring that plays now starts to sound, on GetTime's scale.
  virtual double SoundingTime() { return GetTime(); }
  // Nil when the player is not ready or the file cannot be played.
  virtual TRef<TChannel> CreateChannel(const WideString& fileName, std::uint32_t startPosition) = 0;

protected:
  std::atomic<float> volume_{1.0f};
};

class TMusicPlayerClass : public TMusicPlayer {
public:
  // The device comes from the output-device factory hook (none without it).
  TMusicPlayerClass();
  void Dispose() override;

  bool IsReady() override;
  void SetVolume(float volume) override;
  void SetCloseStream(TStreamCloseProc proc, void* data) override;
  void SetOpenStream(TStreamOpenProc proc, void* data) override;
  void GetOpenStream(TStreamOpenPair& pair) override;
  void GetCloseStream(TStreamClosePair& pair) override;
  double GetTime() override;
  double SoundingTime() override;
  TRef<TChannel> CreateChannel(const WideString& fileName, std::uint32_t startPosition) override;

  // From a channel's Dispose.
  void RemoveChannel(TChannel* channel);
  std::size_t ChannelCount();
  TWaveOutDevice* Device() const { return device_.get(); }
  TTimerChannel* Clock();

private:
  std::vector<TChannel*> channels_;  // not owned
  TRef<TSafeCriticalSection> lock_;
  TRef<TWaveOutDevice> device_;
  TRef<TTimerChannel> clock_;
  std::mutex streamLock_;  // around the two pairs only
  TStreamOpenPair openStream_;
  TStreamClosePair closeStream_;
};

// Called when a track has played to its end (on the channel killer's thread).
using TChannelEndProc = void (*)(void* data, TChannel* channel);
struct TChannelEndCallback {
  TChannelEndProc Proc = nullptr;
  void* Data = nullptr;
};

class TChannel : public TRefObject {
public:
  virtual TMusicPlayer* GetPlayer() = 0;
  virtual WideString GetFileName() = 0;
  virtual float GetVolume() = 0;
  virtual void SetVolume(float volume) = 0;
  virtual std::uint32_t GetLength() = 0;    // ms
  virtual std::uint32_t GetPosition() = 0;  // ms
  virtual void SetPosition(std::uint32_t ms) = 0;
  virtual float GetMasterVolume();
  virtual void SetMasterVolume(float volume);
  virtual bool Play(std::uint32_t fadeMs) = 0;
  // Play with DelayMs of silence before the sound (a start made a little
  // ahead of its time), or, when it is negative, without as much of the
  // sound's start (a start that comes that late); channels that cannot
  // delay play at once.
  virtual bool PlayDelayed(std::uint32_t fadeMs, double delayMs);
  virtual bool Stop(std::uint32_t fadeMs) = 0;
  virtual bool IsPlaying() = 0;
  // Where the sound of the last Stop fell silent, ms into the track: false
  // while that is not known yet; NaN in place when it is not known at all
  // (no sound was stopped, or the output does not tell).
  virtual bool StopSilence(double& place);

  // Set before playing.
  TChannelEndCallback OnEnd;

protected:
  std::atomic<float> masterVolume_{1.0f};
};

class TCustomChannel : public TChannel {
public:
  TCustomChannel(TMusicPlayerClass* player, const WideString& fileName);
  void Dispose() override;

  TMusicPlayer* GetPlayer() override { return player_.get(); }
  WideString GetFileName() override { return fileName_; }
  const TMediaInfo& MediaInfo() const { return mediaInfo_; }

protected:
  TRef<TSafeCriticalSection> lock_;
  // Held so that the device outlives every channel made on it.
  TRef<TMusicPlayerClass> player_;
  WideString fileName_;
  TMediaInfo mediaInfo_{};  // kind 0: the file could not be identified
};

class TChannelMusic : public TCustomChannel {
public:
  // How long Dispose waits for the killer (10 ms a time).
  static constexpr int kDisposeWaits = 300;

  TChannelMusic(TMusicPlayerClass* player, TStreamCloseProc closeStream, void* closeData, TStreamOpenProc openStream,
                void* openData, const WideString& fileName);
  void Dispose() override;

  float GetVolume() override;
  void SetVolume(float volume) override;
  void SetMasterVolume(float volume) override;
  std::uint32_t GetLength() override;
  std::uint32_t GetPosition() override;
  void SetPosition(std::uint32_t ms) override;
  bool Play(std::uint32_t fadeMs) override;
  bool PlayDelayed(std::uint32_t fadeMs, double delayMs) override;
  bool Stop(std::uint32_t fadeMs) override;
  bool IsPlaying() override;
  bool StopSilence(double& place) override;

  bool Valid() const { return valid_; }
  // From the channel killer: the music channel's sound has played.
  void MusicChannelDone(TMusicChannel* musicChannel);
  // Music channels still alive (the current one and those fading out).
  std::size_t MusicChannelCount();
  // Those of them that play or play out a stopped run: not one that waits,
  // decoded ahead, for a Play.
  std::size_t SoundingCount();
  TRef<TMusicChannel> Current();
  TMusicPlayerClass* Player() const { return player_.get(); }

private:
  TMusicChannel* NewMusicChannel();  // nil when it cannot be set up
  TMusicChannel* CurrentLocked() const { return musicChannels_.empty() ? nullptr : musicChannels_.back(); }
  void ApplyVolume();

  friend class TMusicPlayerClass;
  std::atomic<float> volume_{1.0f};
  bool valid_ = false;
  bool registered_ = false;  // in the player's list
  std::vector<TMusicChannel*> musicChannels_;  // one reference each; the last is current
  std::uint32_t position_ = 0;
  // The run the last Stop stopped while it plays out; once it is done,
  // where it fell silent.
  TMusicChannel* stoppedRun_ = nullptr;
  double stopSilence_ = std::numeric_limits<double>::quiet_NaN();
};

// Makes the music player (nil until a module sets it): CreateMusicPlayer.
using TCreateMusicPlayerProc = TRef<TMusicPlayer> (*)();
extern TCreateMusicPlayerProc CreateMusicPlayerHook;
// A TMusicPlayerClass; its device is asked once for a timer channel.
TRef<TMusicPlayer> CreateMusicPlayer();

// The media information of a composite-track text; false when the text is
// not one or cannot be read. Nil until the soundtrack sets it.
using TCompositeTrackInfoProc = bool (*)(const WideString& text, TMediaInfo& info);
extern TCompositeTrackInfoProc CompositeTrackInfoHook;

// The converter that mixes a composite track for the player (whose stream
// procedures open the placed files); nil when it cannot be made. Nil until
// the soundtrack sets it.
using TCreateCompositeConverterProc = TRef<TWavConverter> (*)(TMusicPlayer* player, const WideString& text);
extern TCreateCompositeConverterProc CreateCompositeConverterHook;

// Start-up and finalisation: set the music-player factory hook, and restore it.
void InitMusicPlayer();
void FiniMusicPlayer();

}  // namespace zm
