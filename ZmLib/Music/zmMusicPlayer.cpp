#include "ZmLib/Music/zmMusicPlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace zm {

TCreateMusicPlayerProc CreateMusicPlayerHook = nullptr;
TCompositeTrackInfoProc CompositeTrackInfoHook = nullptr;
TCreateCompositeConverterProc CreateCompositeConverterHook = nullptr;

// ---- TMusicPlayer ----------------------------------------------------------------

float TMusicPlayer::GetVolume() { return volume_.load(); }
void TMusicPlayer::SetVolume(float volume) { volume_.store(volume); }

// ---- TMusicPlayerClass -----------------------------------------------------------

TMusicPlayerClass::TMusicPlayerClass() : lock_(MakeRef<TSafeCriticalSection>()) {
  if (CreateWaveOutDeviceHook) {
    try {
      device_ = CreateWaveOutDeviceHook();
    } catch (const Exception& e) {
      DebugLog(std::string("TMusicPlayerClass: no device: ") + e.what());
    }
  }
}

void TMusicPlayerClass::Dispose() {
  if (lock_) {
    TLockScope<TSafeCriticalSection> scope(lock_.get());
    // Channels hold the player, so none can be left here.
    channels_.clear();
  }
  clock_ = nullptr;
  device_ = nullptr;
  lock_ = nullptr;
  TMusicPlayer::Dispose();
}

bool TMusicPlayerClass::IsReady() { return device_ && device_->IsReady(); }

void TMusicPlayerClass::SetVolume(float volume) {
  TMusicPlayer::SetVolume(volume);
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  for (TChannel* c : channels_) c->SetMasterVolume(volume);
}

// The stream procedures have a lock of their own: channels ask for them under
// their own lock, while the player holds its lock when it calls channels.
void TMusicPlayerClass::SetCloseStream(TStreamCloseProc proc, void* data) {
  std::lock_guard<std::mutex> g(streamLock_);
  closeStream_ = {proc, data};
}

void TMusicPlayerClass::SetOpenStream(TStreamOpenProc proc, void* data) {
  std::lock_guard<std::mutex> g(streamLock_);
  openStream_ = {proc, data};
}

void TMusicPlayerClass::GetOpenStream(TStreamOpenPair& pair) {
  std::lock_guard<std::mutex> g(streamLock_);
  pair = openStream_;
}

void TMusicPlayerClass::GetCloseStream(TStreamClosePair& pair) {
  std::lock_guard<std::mutex> g(streamLock_);
  pair = closeStream_;
}

TTimerChannel* TMusicPlayerClass::Clock() {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  if (!clock_ && device_) {
    try {
      clock_ = device_->CreateChannel();
    } catch (const Exception& e) {
      DebugLog(std::string("TMusicPlayerClass: no clock: ") + e.what());
    }
  }
  return clock_.get();
}

double TMusicPlayerClass::GetTime() {
  TTimerChannel* clock = Clock();
  if (!clock) return 0.0;
  if (!clock->IsPlaying()) clock->Start();
  return clock->GetTime();
}

double TMusicPlayerClass::SoundingTime() {
  TTimerChannel* clock = Clock();
  if (!clock) return 0.0;
  if (!clock->IsPlaying()) clock->Start();
  return clock->SoundingTime();
}

TRef<TChannel> TMusicPlayerClass::CreateChannel(const WideString& fileName, std::uint32_t startPosition) {
  if (!IsReady()) return nullptr;
  TStreamOpenPair open;
  TStreamClosePair close;
  GetOpenStream(open);
  GetCloseStream(close);
  TRef<TChannelMusic> c = MakeRef<TChannelMusic>(this, close.Proc, close.Data, open.Proc, open.Data, fileName);
  if (!c->Valid()) return nullptr;
  // Decoding ahead to the start takes a while: not under the lock that the
  // audio clock takes too (the show clock would stand meanwhile). Nobody
  // else knows the channel yet.
  if (startPosition != kNoStartPosition) c->SetPosition(startPosition);
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  const float v = volume_.load();
  if (v != 1.0f) c->SetMasterVolume(v);
  channels_.push_back(c.get());
  c->registered_ = true;
  return c;
}

void TMusicPlayerClass::RemoveChannel(TChannel* channel) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  auto it = std::find(channels_.begin(), channels_.end(), channel);
  ZM_ASSERT(it != channels_.end(), "TMusicPlayerClass.RemoveChannel: not a channel of the player");
  channels_.erase(it);
}

std::size_t TMusicPlayerClass::ChannelCount() {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return channels_.size();
}

// ---- TChannel --------------------------------------------------------------------

float TChannel::GetMasterVolume() { return masterVolume_.load(); }

bool TChannel::StopSilence(double& place) {
  place = std::numeric_limits<double>::quiet_NaN();
  return true;
}
bool TChannel::PlayDelayed(std::uint32_t fadeMs, double delayMs) {
  (void)delayMs;
  return Play(fadeMs);
}
void TChannel::SetMasterVolume(float volume) { masterVolume_.store(volume); }

// ---- TCustomChannel --------------------------------------------------------------

TCustomChannel::TCustomChannel(TMusicPlayerClass* player, const WideString& fileName)
    : lock_(MakeRef<TSafeCriticalSection>()), player_(player), fileName_(fileName) {}

void TCustomChannel::Dispose() {
  player_ = nullptr;
  lock_ = nullptr;
  TChannel::Dispose();
}

// ---- TChannelMusic ---------------------------------------------------------------

TChannelMusic::TChannelMusic(TMusicPlayerClass* player, TStreamCloseProc closeStream, void* closeData,
                             TStreamOpenProc openStream, void* openData, const WideString& fileName)
    : TCustomChannel(player, fileName) {
  LogLine(u"TChannelMusic.Create " + fileName);
  bool known = false;
  try {
    if (CompositeTrackInfoHook && CompositeTrackInfoHook(fileName, mediaInfo_)) {
      known = true;
    } else {
      mediaInfo_ = TMediaInfo{};
      TStream* s = StreamWrapper()->Open(player, fileName, openStream, openData);
      if (s) {
        try {
          known = TMediaInfoExtractor().Extract(s, fileName, mediaInfo_);
        } catch (const Exception& e) {
          DebugLog(std::string("TChannelMusic: ") + e.what());
        }
        StreamWrapper()->Close(player, s, closeStream, closeData);
      }
    }
  } catch (const Exception& e) {
    DebugLog(std::string("TChannelMusic: ") + e.what());
  }
  if (!known) mediaInfo_ = TMediaInfo{};
  if (mediaInfo_.Kind != kMediaUnknown) {
    TLockScope<TSafeCriticalSection> scope(lock_.get());
    NewMusicChannel();
  }
  valid_ = musicChannels_.size() == 1;
}

TMusicChannel* TChannelMusic::NewMusicChannel() {
  if (!player_) return nullptr;
  try {
    TRef<TMusicChannel> m = MakeRef<TMusicChannel>(this, mediaInfo_, player_->Device());
    if (!m->Ready() || !m->Open(fileName_)) return nullptr;
    m->Output()->SetVolume(volume_.load() * masterVolume_.load());
    musicChannels_.push_back(m.Detach());
    return musicChannels_.back();
  } catch (const Exception& e) {
    DebugLog(std::string("TChannelMusic: no music channel: ") + e.what());
    return nullptr;
  }
}

void TChannelMusic::Dispose() {
  if (lock_) {
    {
      TLockScope<TSafeCriticalSection> scope(lock_.get());
      for (std::size_t i = musicChannels_.size(); i-- > 0;) {
        TMusicChannel* m = musicChannels_[i];
        if (m->State() == TMusicChannel::kIdle) {
          musicChannels_.erase(musicChannels_.begin() + std::ptrdiff_t(i));
          if (m == stoppedRun_) stoppedRun_ = nullptr;
          m->Free();
        } else if (m->State() == TMusicChannel::kPlaying) {
          m->Stop(10);
        }
      }
    }
    // On the killer's own thread nobody would hand them over while we wait.
    if (!IsChannelKillerThread()) {
      for (int i = 0; i < kDisposeWaits && MusicChannelCount() > 0; ++i) SysSleep(10);
    }
    if (MusicChannelCount() > 0) {
      // Left to the killer, which disposes of channels without an owner.
      DebugLog("TChannelMusic.Dispose: music channels still playing out");
      std::lock_guard<std::recursive_mutex> h(ChannelKiller()->HandOverLock());
      TLockScope<TSafeCriticalSection> scope(lock_.get());
      for (TMusicChannel* m : musicChannels_) {
        m->Orphan();
        m->Free();
      }
      musicChannels_.clear();
      stoppedRun_ = nullptr;
    }
    if (registered_ && player_) player_->RemoveChannel(this);
  }
  TCustomChannel::Dispose();
}

float TChannelMusic::GetVolume() { return volume_.load(); }

void TChannelMusic::ApplyVolume() {
  if (TMusicChannel* m = CurrentLocked()) {
    if (m->Output()) m->Output()->SetVolume(volume_.load() * masterVolume_.load());
  }
}

void TChannelMusic::SetVolume(float volume) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  volume_.store(volume);
  ApplyVolume();
}

void TChannelMusic::SetMasterVolume(float volume) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  masterVolume_.store(volume);
  ApplyVolume();
}

std::uint32_t TChannelMusic::GetLength() { return mediaInfo_.Duration; }

std::uint32_t TChannelMusic::GetPosition() {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  // A stopping channel plays its faded tail on: its position is the one Stop kept.
  TMusicChannel* m = CurrentLocked();
  if (m && m->State() != TMusicChannel::kStopping) position_ = m->Position();
  return position_;
}

void TChannelMusic::SetPosition(std::uint32_t ms) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  position_ = ms;
  TMusicChannel* m = CurrentLocked();
  const std::int32_t state = m ? m->State() : TMusicChannel::kStopping;
  if (state == TMusicChannel::kIdle) {
    m->SetPosition(ms);
  } else if (state == TMusicChannel::kPlaying) {
    m->Stop(10);
    if (TMusicChannel* n = NewMusicChannel()) {
      n->SetPosition(ms);
      n->Play(10);
    }
  } else if (TMusicChannel* n = NewMusicChannel()) {
    n->SetPosition(ms);
  }
}

bool TChannelMusic::Play(std::uint32_t fadeMs) { return PlayDelayed(fadeMs, 0); }

bool TChannelMusic::PlayDelayed(std::uint32_t fadeMs, double delayMs) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  TMusicChannel* m = CurrentLocked();
  if (m && m->State() == TMusicChannel::kPlaying) return false;
  if (!m || m->State() != TMusicChannel::kIdle) {
    m = NewMusicChannel();
    // The file is gone since the channel was made.
    if (!m) return false;
    m->SetPosition(position_);
  }
  // Whole frames of the ring; a second at most. A negative delay leaves out
  // as much of the sound's start.
  const double rate = m->Format().nSamplesPerSec / 1000.0;
  const double frames = std::nearbyint(std::clamp(delayMs, 0.0, 1000.0) * rate);
  const double skip = std::nearbyint(std::clamp(-delayMs, 0.0, 1000.0) * rate);
  m->Play(fadeMs, static_cast<std::uint32_t>(frames), static_cast<std::uint32_t>(skip));
  return true;
}

bool TChannelMusic::Stop(std::uint32_t fadeMs) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  TMusicChannel* m = CurrentLocked();
  if (!m || m->State() != TMusicChannel::kPlaying) return false;
  position_ = m->Position();
  m->Stop(fadeMs);
  stoppedRun_ = m;
  return true;
}

bool TChannelMusic::StopSilence(double& place) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  if (stoppedRun_) return stoppedRun_->SilentPlace(place);
  place = stopSilence_;
  return true;
}

bool TChannelMusic::IsPlaying() {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  TMusicChannel* m = CurrentLocked();
  return m && m->State() == TMusicChannel::kPlaying;
}

void TChannelMusic::MusicChannelDone(TMusicChannel* musicChannel) {
  bool callEnd = false;
  {
    TLockScope<TSafeCriticalSection> scope(lock_.get());
    auto it = std::find(musicChannels_.begin(), musicChannels_.end(), musicChannel);
    if (it == musicChannels_.end()) {
      DebugLog("TChannelMusic.MusicChannelDone: not a music channel of the channel");
      return;
    }
    const bool current = musicChannel == CurrentLocked();
    if (musicChannel == stoppedRun_) {
      // Known by now: its sound has played out.
      musicChannel->SilentPlace(stopSilence_);
      stoppedRun_ = nullptr;
    }
    musicChannels_.erase(it);
    // Only a track that ran out by itself: a stopped one kept its position
    // at Stop, and its faded tail must not move it on.
    callEnd = musicChannel->Ended() && musicChannel->State() == TMusicChannel::kPlaying;
    if (current && callEnd) position_ = musicChannel->Position();
  }
  if (callEnd && OnEnd.Proc) OnEnd.Proc(OnEnd.Data, this);
  musicChannel->Free();
}

std::size_t TChannelMusic::MusicChannelCount() {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return musicChannels_.size();
}

std::size_t TChannelMusic::SoundingCount() {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return static_cast<std::size_t>(std::count_if(musicChannels_.begin(), musicChannels_.end(), [](TMusicChannel* m) {
    return m->State() != TMusicChannel::kIdle;
  }));
}

TRef<TMusicChannel> TChannelMusic::Current() {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return TRef<TMusicChannel>(CurrentLocked());
}

// ---- Factory ---------------------------------------------------------------------

TRef<TMusicPlayer> CreateMusicPlayer() {
  TRef<TMusicPlayerClass> p = MakeRef<TMusicPlayerClass>();
  if (TWaveOutDevice* d = p->Device()) {
    // Asked once so the sound layer is up before the first track.
    try {
      TRef<TTimerChannel> t = d->CreateChannel();
    } catch (const Exception& e) {
      DebugLog(std::string("CreateMusicPlayer: ") + e.what());
    }
  }
  return p;
}

namespace {
THookInstall<TCreateMusicPlayerProc> gMusicPlayerHook;
}

void InitMusicPlayer() {
  gMusicPlayerHook.Install(CreateMusicPlayerHook, &CreateMusicPlayer);
}

void FiniMusicPlayer() {
  gMusicPlayerHook.RestoreIfStillSet();
}

}  // namespace zm
