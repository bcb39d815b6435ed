#include "OruLib2/OruViewer/OruMusicLoader.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <exception>
#include <limits>
#include <mutex>
#include <set>
#include <utility>

#include "ZmLib/Music/zmDllDecoders.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

namespace {

const WideString kMarks = u"+++++++++++++++++++ ";

class TStopwatch {
public:
  std::int64_t Ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }

private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

// ---- TOruChannel -------------------------------------------------------------------

TOruChannel::TOruChannel(TChannelOperator* channelOperator, std::int32_t id, const WideString& text,
                         std::int32_t startPosition, double startTime, double endTime)
    : Operator(channelOperator),
      Text(text),
      StartPosition(startPosition),
      StartTime(startTime),
      EndTime(endTime),
      id_(id) {}

void TOruChannel::Dispose() {
  Destroy();
  TRefObject::Dispose();
}

void TOruChannel::Start() {
  if (!Loaded || Playing) return;
  Playing = true;
  if (Operator) Operator->Queue(this);
}

void TOruChannel::StartAt(double now, double clock) {
  if (!Loaded || Playing) return;
  DelayClock = clock;
  const double late = std::trunc(now - StartTime);
  JoinsLate = AudioChannel && late >= 1 && late < 2147483647.0 - StartPosition;
  if (JoinsLate) {
    StartPosition += static_cast<std::int32_t>(late);
    StartTime += late;
    positionDue_ = true;
  }
  // Late by part of a ms, it is negative.
  Delay = StartTime - now;
  if (positionDue_ && AudioChannel) AudioChannel->SetPosition(static_cast<std::uint32_t>(std::max(StartPosition, 0)));
  positionDue_ = false;
  Start();
}

void TOruChannel::Hold(double now) {
  if (!Playing) return;
  Stop();
  if (!Stopped || !AudioChannel) return;
  // Where it goes on is the place of Now, not what it had played when it
  // was stopped: that lags the time by as long as its sound took to start,
  // and each pause would add that lag again.
  const double played = std::trunc(now - StartTime);
  if (played >= 1 && played < 2147483647.0 - StartPosition) {
    StartPosition += static_cast<std::int32_t>(played);
    StartTime += played;
  }
  positionDue_ = true;
}

void TOruChannel::DecodeAhead() {
  if (!positionDue_ || Playing || !AudioChannel) return;
  positionDue_ = false;
  TStopwatch w;
  AudioChannel->SetPosition(static_cast<std::uint32_t>(std::max(StartPosition, 0)));
  LogInt(kMarks + u"Channel " + ChannelLogText(Text) + u" Decode Ahead Time ", w.Ms());
}

bool TOruChannel::SilentAt(double& time) {
  time = std::numeric_limits<double>::quiet_NaN();
  if (!Stopped || Playing || !AudioChannel) return true;
  double place = 0;
  if (!AudioChannel->StopSilence(place)) return false;
  // StartPosition sounds at StartTime, and the place goes on with the time.
  if (std::isfinite(place)) time = StartTime + (place - StartPosition);
  return true;
}

void TOruChannel::Stop() {
  if (!Playing) return;
  Playing = false;
  if (Operator && Operator->Unqueue(this)) return;
  // It was sounding.
  TStopwatch w;
  if (AudioChannel) AudioChannel->Stop(kChannelFadeMs);
  LogInt(kMarks + u"Channel " + ChannelLogText(Text) + u" Stop Time ", w.Ms());
  Stopped = true;
}

void TOruChannel::Destroy() {
  TRef<TChannel> c = std::move(AudioChannel);
  if (!c) return;
  TStopwatch w;
  if (Playing && !Stopped) c->Stop(kChannelFadeMs);
  c = nullptr;
  LogInt(kMarks + u"Destroy Channel " + ChannelLogText(Text) + u" Time ", w.Ms());
}

bool TOruChannel::FadeOut() {
  if (!AudioChannel) return false;
  if (Playing && !Stopped) {
    AudioChannel->Stop(kChannelFadeMs);
    Stopped = true;
  }
  return Stopped && PlayingOut();
}

bool TOruChannel::PlayingOut() {
  // Only a music channel hands its stopped runs to the channel killer; one
  // decoded ahead for a resume plays nothing out.
  auto* music = dynamic_cast<TChannelMusic*>(AudioChannel.get());
  return music && music->SoundingCount() > 0;
}

// ---- TChannelContainer -------------------------------------------------------------

TChannelContainer::TChannelContainer(TOruChannel* channel) : channel_(channel) {}

void TChannelContainer::Dispose() {
  TRef<TThreadEventList> returnTo = std::move(ReturnTo);
  if (returnTo && channel_ && (channel_->RefCount() == 1 || channel_->Cancelled())) {
    // A channel the player gave up before its answer arrived: dropping it
    // here would destroy the audio channel on the player's thread.
    returnTo->Post(kReleaseChannelEvent, MakeRef<TChannelContainer>(channel_.get()).Detach());
  }
  channel_ = nullptr;
  TRefObject::Dispose();
}

// ---- TChannelOperator --------------------------------------------------------------

void TChannelOperator::Dispose() {
  ClearQueue();
  TList::Dispose();
}

void TChannelOperator::Queue(TOruChannel* channel) {
  if (!channel || IsQueued(channel)) return;
  channel->AddRef();
  if (Add(channel) < 0) channel->Free();
}

bool TChannelOperator::Unqueue(TOruChannel* channel) {
  const std::int32_t i = IndexOf(channel);
  if (i < 0) return false;
  Delete(i);
  channel->Free();
  return true;
}

WideString ChannelLogText(const WideString& text) {
  static std::mutex lock;
  static std::set<WideString>* logged = new std::set<WideString>;  // lives to the end, for late threads
  const std::size_t end = text.find_first_of(u"\r\n");
  if (end == WideString::npos) return text;
  std::lock_guard<std::mutex> l(lock);
  return logged->insert(text).second ? text : text.substr(0, end);
}

void TChannelOperator::PlayPending(const std::function<double()>& sounding, bool clockStarts) {
  for (std::int32_t i = 0; i < Count(); ++i) {
    auto* c = static_cast<TOruChannel*>(Get(i));
    if (!c || !c->AudioChannel) continue;
    TStopwatch w;
    double delay = std::max(0.0, c->Delay);
    if (sounding && std::isfinite(c->DelayClock)) {
      // On its time to the frame: silence up to it, or so much of it left
      // out as the output has mixed past its place (a pass that came late).
      // A sound due as the clock starts (the show's start, a new time, a
      // resume) is heard whole, unless it joins its sound late anyway.
      const double now = sounding();
      if (std::isfinite(now) && std::abs(now - c->DelayClock) < 1000.0) {
        delay = c->Delay - (now - c->DelayClock);
        if (clockStarts && !c->JoinsLate) delay = std::max(0.0, delay);
      }
    }
    c->AudioChannel->PlayDelayed(kChannelFadeMs, delay);
    c->Delay = 0;
    c->DelayClock = kNoClock;
    c->Stopped = false;
    LogInt(kMarks + u"Play Channel " + ChannelLogText(c->Text) + u" Time ", w.Ms());
  }
  ClearQueue();
}

void TChannelOperator::ClearQueue() {
  // Emptied first: a release below must not meet the list half cleared.
  std::vector<TRefObject*> items;
  for (std::int32_t i = 0; i < Count(); ++i) items.push_back(Get(i));
  Clear();
  for (TRefObject* p : items) FreeObject(p);
}

// ---- TMusicLoader ------------------------------------------------------------------

TMusicLoader::TMusicLoader(TFileAccessor* fileAccess, TThreadEventList* playerEvents, TMusicPlayer* musicPlayer) {
  if (!fileAccess) {
    // The thread's own parts would be left behind by the failed construction.
    TOruThread::Dispose();
    ZM_FAIL("TMusicLoader: no file access");
  }
  fileAccess_ = TRef<TFileAccessor>(fileAccess);
  playerEvents_ = TRef<TThreadEventList>(playerEvents);
  musicPlayer_ = TRef<TMusicPlayer>(musicPlayer);
  if (musicPlayer_) {
    musicPlayer_->SetOpenStream(&TMusicLoader::OpenStream, this);
    musicPlayer_->SetCloseStream(&TMusicLoader::CloseStream, this);
  }
}

void TMusicLoader::Dispose() {
  TOruThread::Dispose();
  // A loader whose thread never ran still holds them.
  DropPlayedOut(true);
  if (musicPlayer_) {
    // Channels that outlive the loader must not call into it.
    TStreamOpenPair open;
    TStreamClosePair close;
    musicPlayer_->GetOpenStream(open);
    musicPlayer_->GetCloseStream(close);
    if (open.Data == this) musicPlayer_->SetOpenStream(nullptr, nullptr);
    if (close.Data == this) musicPlayer_->SetCloseStream(nullptr, nullptr);
  }
  musicPlayer_ = nullptr;
  playerEvents_ = nullptr;
  fileAccess_ = nullptr;
}

void TMusicLoader::Step() {
  ProcessEvents();
  DropPlayedOut(false);
  // Everything it does comes as an event; a stop wakes it too. Channels
  // playing out are looked at again soon.
  WaitForEvents(playingOut_.empty() ? kInfinite : kPlayOutPollMs);
}

void TMusicLoader::DoStop() {
  DropPlayedOut(true);
  TOruThread::DoStop();
}

void TMusicLoader::DropPlayedOut(bool all) {
  for (std::size_t i = playingOut_.size(); i-- > 0;) {
    if (!all && playingOut_[i]->PlayingOut()) continue;
    TRef<TOruChannel> c = std::move(playingOut_[i]);
    playingOut_.erase(playingOut_.begin() + std::ptrdiff_t(i));
    c = nullptr;
  }
}

void TMusicLoader::HandleEvent(TRefObject* sender, std::int32_t id, bool& handled, TRefObject* data) {
  (void)sender;
  auto* container = dynamic_cast<TChannelContainer*>(data);
  switch (id) {
    case kOpenChannelEvent:
      handled = true;
      if (container && container->Channel()) OpenChannel(container);
      break;
    case kReleaseChannelEvent:
      // The queue frees the container after this, dropping its reference;
      // one whose faded sound still plays is kept until it has.
      handled = true;
      if (container && container->Channel() && container->Channel()->FadeOut())
        playingOut_.push_back(TRef<TOruChannel>(container->Channel()));
      break;
    default:
      break;
  }
}

void TMusicLoader::OpenChannel(TChannelContainer* container) {
  TOruChannel* ch = container->Channel();
  if (!ch->Cancelled() && musicPlayer_ && !ch->AudioChannel) {
    TRef<TChannel> c;
    try {
      c = musicPlayer_->CreateChannel(ch->Text, static_cast<std::uint32_t>(std::max(ch->StartPosition, 0)));
    } catch (const std::exception& e) {
      DebugLog(std::string("TMusicLoader: ") + e.what());
      c = nullptr;
    }
    if (!c) {
      LogLine(kMarks + u"Channel Create ERROR");
    } else {
      const double left = static_cast<double>(c->GetLength()) - std::max(ch->StartPosition, 0);
      ch->EndTime.store(std::min(ch->EndTime.load(), left + ch->StartTime));
      ch->AudioChannel = std::move(c);
    }
  }
  TRef<TChannelContainer> answer = MakeRef<TChannelContainer>(ch);
  if (!playerEvents_) return;
  answer->ReturnTo = TRef<TThreadEventList>(Events());
  playerEvents_->Post(kChannelOpenedEvent, answer.Detach());
}

void TMusicLoader::OpenRequest(TOruChannel* channel) {
  if (!channel) return;
  TThreadEventList* events = Events();
  if (!events) return;
  events->Post(kOpenChannelEvent, MakeRef<TChannelContainer>(channel).Detach());
}

void TMusicLoader::Release(TRef<TOruChannel> channel) {
  if (!channel) return;
  TRef<TChannelContainer> c = MakeRef<TChannelContainer>(channel.get());
  channel = nullptr;
  if (TThreadEventList* events = Events()) events->Post(kReleaseChannelEvent, c.Detach());
}

TStream* TMusicLoader::OpenStream(void* loader, void* context, const WideString& name) {
  (void)context;
  auto* self = static_cast<TMusicLoader*>(loader);
  if (!self || !self->fileAccess_) return nullptr;
  try {
    const WideStringView prefix(kLoadFromDiskPrefix);
    if (name.starts_with(prefix)) return self->fileAccess_->OpenRealFile(name.substr(prefix.size()));
    return self->fileAccess_->OpenFile(name);
  } catch (const std::exception& e) {
    DebugLog(std::string("TMusicLoader.OpenStream: ") + e.what());
    return nullptr;
  }
}

void TMusicLoader::CloseStream(void* loader, void* context, TStream* stream) {
  (void)loader;
  (void)context;
  FreeObject(stream);
}

// ---- Decoder plug-ins --------------------------------------------------------------

TLoadPluginProc LoadOggPluginHook = &zm::LoadOgg;
TLoadPluginProc LoadWmaPluginHook = &zm::LoadWma;
TUnloadPluginProc UnloadOggPluginHook = &zm::UnloadOgg;
TUnloadPluginProc UnloadWmaPluginHook = &zm::UnloadWma;

namespace {

struct TPluginState {
  std::mutex lock;
  WideString oggPath, wmaPath;
  bool oggTried = false, wmaTried = false;
};

TPluginState& Plugins() {
  static TPluginState s;
  return s;
}

// Whether the show holds the entry; what it holds does not matter.
bool HasEntry(TFileAccessor* fileAccess, const WideString& entry) {
  if (entry.empty()) return false;
  try {
    return TRef<TStream>::Adopt(fileAccess->OpenFile(entry)) != nullptr;
  } catch (const std::exception& e) {
    DebugLog(std::string("PreparePlugins: ") + e.what());
    return false;
  }
}

void PreparePlugin(TFileAccessor* fileAccess, const WideString& entry, const WideString& libraryName,
                   TLoadPluginProc load, WideString& path, const WideString& failure) {
  path.clear();
  if (!HasEntry(fileAccess, entry)) return;
  bool loaded = false;
  try {
    loaded = load && load(libraryName);
  } catch (const std::exception& e) {
    DebugLog(std::string("PreparePlugins: ") + e.what());
  }
  if (loaded) path = libraryName;
  else LogLine(failure);
}

}  // namespace

void PreparePlugins(TFileAccessor* fileAccess, const TIniFile* ini) {
  if (!fileAccess || !ini) return;
  TPluginState& s = Plugins();
  std::lock_guard<std::mutex> g(s.lock);
  if (!s.wmaTried) {
    s.wmaTried = true;
    PreparePlugin(fileAccess, ini->ReadString(u"Main", u"opt_wmapath", {}), u"oruwma.dll", LoadWmaPluginHook,
                  s.wmaPath, u"WMA INITIALIZE FAILED");
  }
  if (!s.oggTried) {
    s.oggTried = true;
    PreparePlugin(fileAccess, ini->ReadString(u"main", u"opt_oggpath", {}), u"oruogg.dll", LoadOggPluginHook,
                  s.oggPath, u"OGG INITIALIZE FAILED");
  }
}

void RemovePlugins() {
  TPluginState& s = Plugins();
  std::lock_guard<std::mutex> g(s.lock);
  if (!s.wmaPath.empty() && UnloadWmaPluginHook) UnloadWmaPluginHook();
  if (!s.oggPath.empty() && UnloadOggPluginHook) UnloadOggPluginHook();
  s.wmaPath.clear();
  s.oggPath.clear();
  s.wmaTried = s.oggTried = false;
}

WideString OggPluginPath() {
  TPluginState& s = Plugins();
  std::lock_guard<std::mutex> g(s.lock);
  return s.oggPath;
}

WideString WmaPluginPath() {
  TPluginState& s = Plugins();
  std::lock_guard<std::mutex> g(s.lock);
  return s.wmaPath;
}

}  // namespace oru
