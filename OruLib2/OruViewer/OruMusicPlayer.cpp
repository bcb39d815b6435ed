#include "OruLib2/OruViewer/OruMusicPlayer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "Platform/PlatSystem.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

namespace {

const WideString kMarks = u"+++++++++++++++++++ ";

// Sequences made for one window at most: over a very short show only the
// last passes can sound anyway, each one stopping the one before.
constexpr std::int64_t kMaxPassesPerWindow = 16;
// Play-list entries opened by one sequence in one pass; the rest follow in
// the next passes (a list of countless tiny tracks must not stall the thread).
constexpr int kMaxEntriesPerPass = 64;

class TStopwatch {
public:
  double Ms() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  }

private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void LogSlow(const WideString& text, const TStopwatch& w) {
  const double ms = w.Ms();
  if (ms > 1) LogInt(text, static_cast<std::int64_t>(ms));
}

}  // namespace

// ---- TPlayItem -----------------------------------------------------------------------

TPlayItem::TPlayItem(TOruMusicPlayer* player) : Player(player) {
  if (Player) Id = Player->NewItemId();
}

void TPlayItem::Dispose() {
  Stop(true);
  if (Player) Player->RemoveItem(this);
  TRefObject::Dispose();
}

bool TPlayItem::SilentAt(double& time) {
  time = std::numeric_limits<double>::quiet_NaN();
  return true;
}

bool TPlayItem::LoadedAt(double t) {
  (void)t;
  return true;
}

void TPlayItem::ReleaseChannel(TRef<TOruChannel> channel) {
  if (!channel) return;
  // Left by a new time while it sounds: it fades out as the new place comes in.
  if (Player && Player->collectLeaving_ && channel->Playing && channel->AudioChannel &&
      !(channel->Operator && channel->Operator->IsQueued(channel.get()))) {
    Player->leaving_.push_back(std::move(channel));
    return;
  }
  if (channel->Playing)
    channel->Stop();
  else
    channel->Cancel();
  if (Player && Player->loader_)
    Player->loader_->Release(std::move(channel));
}

// ---- TPlayComment --------------------------------------------------------------------

TPlayComment::TPlayComment(TOruMusicPlayer* player) : TPlayItem(player) {}

void TPlayComment::Dispose() {
  if (Player && Player->currentComment_ == this) {
    Player->currentComment_ = nullptr;
    LogLine(u"Clear CurComment !!!!!!!!!!!");
  } else {
    LogLine(u"Dispose noncurrent channel !!!!!!!!!!!");
  }
  TPlayItem::Dispose();
}

void TPlayComment::Open(const WideString& file, std::int32_t position, double end, double start) {
  if (Channel || !Player) return;
  Channel = MakeRef<TOruChannel>(Player->channelOperator_.get(), Id, file, position, start, end);
  if (Player->loader_) Player->loader_->OpenRequest(Channel.get());
}

void TPlayComment::ChannelLoaded(TOruChannel* channel) {
  if (!channel || channel != Channel.get()) return;
  channel->Loaded = true;
  Ready = true;
}

void TPlayComment::Sync(bool running, double time) {
  if (Finished || !Ready || !Channel) return;
  if (Channel->EndTime.load() - 10 <= time) {
    Stop(true);
    return;
  }
  if (Channel->Playing) {
    if (!running && PauseWithShow && Player->PauseSettled()) Channel->Hold(time);
  } else if (running && time + kStartLeadMs >= Channel->StartTime) {
    Channel->StartAt(time, Player->passClock_);
    Player->currentComment_ = this;
  } else if (!running) {
    Channel->DecodeAhead();
  }
}

bool TPlayComment::LoadedAt(double t) {
  return Finished || !Channel || Channel->Loaded || Channel->StartTime > t + kStartLeadMs;
}

bool TPlayComment::SilentAt(double& time) {
  if (!Channel || !PauseWithShow) return TPlayItem::SilentAt(time);
  if (Channel->Playing) return false;  // held once the pause settles
  return Channel->SilentAt(time);
}

void TPlayComment::Stop(bool force) {
  (void)force;
  Finished = true;
  ReleaseChannel(std::move(Channel));
}

// ---- TPlaySequence -------------------------------------------------------------------

TPlaySequence::TPlaySequence(TOruMusicPlayer* player, bool synchronised, TPlayList* list)
    : TPlayItem(player), List(list), FreeRunning(!synchronised) {
  Ready = !List || List->Count() == 0;
}

void TPlaySequence::Dispose() {
  Stop(true);
  if (Player && Player->currentSequence_ == this) {
    Player->currentSequence_ = nullptr;
    LogLine(u"Clear CurSequence");
  }
  TPlayItem::Dispose();
  Channels.clear();
  LogLine(u"TPlaySequence.Disposed");
}

void TPlaySequence::Stop(bool force) {
  if (Finished) return;
  // Free-running music plays on through a new position.
  if (FreeRunning && !force) return;
  Finished = true;
  if (Player) LogInt(u"Finally sequence stop ", static_cast<std::int64_t>(Player->MusicClock() - StartClock));
  std::vector<TRef<TOruChannel>> channels = std::move(Channels);
  Channels.clear();
  for (TRef<TOruChannel>& c : channels) {
    if (c->Playing) LogLine(u"Stop Channel: " + ChannelLogText(c->Text));
    ReleaseChannel(std::move(c));
  }
}

bool TPlaySequence::SilentAt(double& time) {
  time = std::numeric_limits<double>::quiet_NaN();
  if (FreeRunning) return true;
  for (const TRef<TOruChannel>& c : Channels) {
    // Still sounding, to be held once the pause settles.
    if (Started && c->Playing) return false;
    double t = 0;
    if (!c->SilentAt(t)) return false;
    if (std::isfinite(t) && !(t <= time)) time = t;
  }
  // From the time into the list to the player's.
  if (std::isfinite(time)) time += StartTime - Offset;
  return true;
}

void TPlaySequence::ChannelLoaded(TOruChannel* channel) {
  auto it = std::find_if(Channels.begin(), Channels.end(), [&](const TRef<TOruChannel>& c) { return c.get() == channel; });
  if (it == Channels.end()) return;
  channel->Loaded = true;
  Ready = std::all_of(Channels.begin(), Channels.end(), [](const TRef<TOruChannel>& c) { return c->Loaded; });
}

void TPlaySequence::Sync(bool running, double t) {
  if (Finished || !Player) return;
  // Running synchronised music starts ahead of its time (the first item of
  // a pass of the show among it), to sound from its first sample on it; so
  // does free-running music's next loop.
  const double lead = running || FreeRunning ? kStartLeadMs : 0.0;
  // The clock reading its time into the list comes from.
  double clock = FreeRunning ? Player->MusicClock() : Player->passClock_;
  if (Started) {
    if (!running && !FreeRunning) {
      // A pause (once no new time followed it at once, which would take its
      // channels over): the channels go on from the place of this time on
      // resume.
      if (!Player->PauseSettled()) return;
      const double p = t - StartTime + Offset;
      for (TRef<TOruChannel>& c : Channels)
        if (c->Playing) c->Hold(p);
      Started = false;
    }
    if (Started) {
      Preload(FreeRunning ? clock - StartClock + Offset : t - StartTime + Offset, lead, clock);
      if (!Finished) TakeOver(running, t);
    }
    return;
  }
  if (t + lead >= StartTime) {
    if (running) {
      Started = true;
      // Free-running music counts from where its first sound lies in the
      // output (the clock may not have met the output yet), so that its
      // loops follow on to the frame.
      if (FreeRunning) {
        const double sounding = Player->SoundingClock();
        if (std::isfinite(sounding)) clock = sounding;
        StartClock = clock;
      }
      LogFloat(u"Sequence started at abs Time ", t);
    }
    Preload(FreeRunning ? Offset : t - StartTime + Offset, lead, clock);
    if (Finished) return;
    // Paused: the channels a pause stopped make ready to go on at once.
    if (!running)
      for (TRef<TOruChannel>& c : Channels) c->DecodeAhead();
    TakeOver(running, t);
  } else {
    Preload(Offset);
  }
}

void TPlaySequence::TakeOver(bool running, double t) {
  // Started ahead of its time, the sequence before plays on up to it.
  if ((running || !FreeRunning) && t >= StartTime && Player->currentSequence_ != this) {
    if (TPlaySequence* old = Player->currentSequence_) old->Stop(true);
    Player->currentSequence_ = this;
  }
}

bool TPlaySequence::LoadedAt(double t) {
  if (Finished || !List || FreeRunning) return true;
  if (t + kStartLeadMs < StartTime) return true;
  if (!Preloaded) return false;
  const double p = t - StartTime + Offset;
  return std::all_of(Channels.begin(), Channels.end(),
                     [&](const TRef<TOruChannel>& c) { return c->Loaded || c->StartTime > p + kStartLeadMs; });
}

void TPlaySequence::Preload(double p, double lead, double clock) {
  if (!List) return;
  Preloaded = true;
  const std::int32_t count = List->Count();
  const double total = List->Total();
  std::int64_t limit;
  if (List->Repeat()) {
    // A repeating list of no length would never get past its first window.
    if (count == 0 || !(total > 0)) return;
    limit = std::numeric_limits<std::int32_t>::max();
  } else {
    if (p > total) {
      Stop(true);
      return;
    }
    limit = count;
  }
  std::int64_t index = NextTrack;
  TPlayListEntry e;
  for (int added = 0; index < limit && added < kMaxEntriesPerPass; ++index, ++added) {
    if (!List->Get(index, e) || e.Start >= p + kMusicWindowMs) break;
    if (e.Start + e.Duration > p) {
      LogLine(u"Preload " + ChannelLogText(e.Text));
      LogFloat(u"Preload to time start ", e.Start);
      AddChannel(e, std::max(0.0, p - e.Start));
    }
  }
  NextTrack = index;

  if (!Started) return;
  TStopwatch w;
  for (std::size_t i = 0; i < Channels.size();) {
    TRef<TOruChannel> c = Channels[i];
    if (c->EndTime.load() <= p) {
      Channels.erase(Channels.begin() + std::ptrdiff_t(i));
      if (c->Playing) LogFloat(u"Stop Channel: " + ChannelLogText(c->Text) + u"   IntTime: ", p);
      TStopwatch r;
      ReleaseChannel(std::move(c));
      LogSlow(u"Release Channel Time ", r);
      continue;
    }
    if (c->Loaded && !c->Playing && c->StartTime <= p + lead) {
      LogFloat(u"Start Channel: " + ChannelLogText(c->Text) + u"   IntTime: ", p);
      c->StartAt(p, clock);
    }
    ++i;
  }
  LogSlow(u"|||||||||||||||||||||||||| Watch Synch Time ", w);
}

void TPlaySequence::AddChannel(const TPlayListEntry& entry, double cut) {
  if (!(cut <= entry.Duration)) return;
  const double pos = std::clamp(std::trunc(entry.StartPosition + cut), 0.0, 2147483647.0);
  TRef<TOruChannel> c = MakeRef<TOruChannel>(Player->channelOperator_.get(), Id, entry.Text,
                                             static_cast<std::int32_t>(pos), entry.Start + cut,
                                             entry.Start + entry.Duration);
  Channels.push_back(c);
  Ready = false;
  if (Player->loader_) Player->loader_->OpenRequest(c.get());
}

// ---- TOruMusicPlayer -----------------------------------------------------------------

TOruMusicPlayer::TOruMusicPlayer(TOruSource* show, bool ownsShow) {
  if (!show) {
    TOruThread::Dispose();
    ZM_FAIL("No OruSource for OruMusicPlayer");
  }
  showPtr_ = show;
  if (ownsShow) show_ = TRef<TOruSource>::Adopt(show);
  try {
    source_ = MakeRef<TOruMusicSource>(show);
    synchronised_ = source_->Synchronised();
    fileAccess_ = TRef<TFileAccessor>(show->FileAccessor());
    PreparePlugins(fileAccess_.get(), show->Project());
    if (CreateMusicPlayerHook) {
      musicPlayer_ = CreateMusicPlayerHook();
      if (musicPlayer_ && !musicPlayer_->IsReady()) musicPlayer_ = nullptr;
    }
    // The audio clock's ring plays from now on: by the time the show first
    // runs it has met the card's cursor, and the clock goes on from the
    // pass that starts it, as the music does.
    if (musicPlayer_) musicPlayer_->GetTime();
    loader_ = MakeRef<TMusicLoader>(fileAccess_.get(), Events(), musicPlayer_.get());
    channelOperator_ = MakeRef<TChannelOperator>();
    // Synchronised main music comes from the schedule, pass by pass.
    if (source_->MainList() && !synchronised_) {
      auto seq = MakeRef<TPlaySequence>(this, synchronised_, source_->MainList());
      currentSequence_ = seq.get();
      AddItem(seq.Detach());
    }
    Reset(false, 0);
  } catch (...) {
    Dispose();
    throw;
  }
}

void TOruMusicPlayer::Dispose() {
  Stop();
  DestroyAllItems();
  loader_ = nullptr;
  source_ = nullptr;
  fileAccess_ = nullptr;
  channelOperator_ = nullptr;
  musicPlayer_ = nullptr;
  show_ = nullptr;
  showPtr_ = nullptr;
  TOruThread::Dispose();
  RemovePlugins();
}

bool TOruMusicPlayer::Start() {
  if (loader_) loader_->Start();
  return TOruThread::Start();
}

bool TOruMusicPlayer::Stop(std::uint32_t timeoutMs) {
  bool ok = true;
  if (loader_) ok = loader_->Stop(timeoutMs);
  ok = TOruThread::Stop(timeoutMs) && ok;
  if (!items_.empty()) {
    DestroyAllItems();
    plat::SleepMs(15);
  }
  TRef<TMusicPlayer> device;
  {
    // GetTime may still read it.
    std::lock_guard<std::mutex> g(lock_);
    device = std::move(musicPlayer_);
  }
  if (device) {
    device = nullptr;
    plat::SleepMs(15);
  }
  return ok;
}

void TOruMusicPlayer::Step() {
  Pass();
  // Playing items follow the clock closely. Without any, a running clock
  // only brings music into the look-ahead window, which is seconds long; a
  // standing one changes nothing until an event (run, pause, a new time, a
  // loaded channel) comes.
  std::uint32_t wait = 5;
  if (items_.empty()) wait = ClockRunning() && source_ && source_->HasMusic() ? kIdleScheduleMs : kInfinite;
  WaitForEvents(wait);
}

std::int32_t TOruMusicPlayer::NewItemId() {
  const std::int32_t id = nextItemId_;
  nextItemId_ = id == std::numeric_limits<std::int32_t>::max() ? 0 : id + 1;
  return id;
}

void TOruMusicPlayer::AddItem(TPlayItem* item) {
  if (item) items_.push_back(item);
}

void TOruMusicPlayer::RemoveItem(TPlayItem* item) {
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
}

void TOruMusicPlayer::DestroyItem(TPlayItem* item) {
  RemoveItem(item);
  item->Free();
}

void TOruMusicPlayer::DestroyAllItems() {
  while (!items_.empty()) DestroyItem(items_.back());
  currentSequence_ = nullptr;
  currentComment_ = nullptr;
  ReleaseLeaving();
}

void TOruMusicPlayer::ReleaseLeaving() {
  std::vector<TRef<TOruChannel>> leaving = std::move(leaving_);
  leaving_.clear();
  for (TRef<TOruChannel>& c : leaving) {
    c->Stop();
    if (loader_) loader_->Release(std::move(c));
  }
}

void TOruMusicPlayer::HandleEvent(TRefObject* sender, std::int32_t id, bool& handled, TRefObject* data) {
  (void)sender;
  handled = true;
  switch (id) {
    case kChannelOpenedEvent: {
      auto* container = dynamic_cast<TChannelContainer*>(data);
      TOruChannel* channel = container ? container->Channel() : nullptr;
      if (!channel) return;
      LogLine(u"Receive Channel: " + ChannelLogText(channel->Text));
      // A cancelled channel belongs to nobody: its container gives it back.
      if (channel->Cancelled()) return;
      for (TPlayItem* item : items_)
        if (item->Id == channel->Id()) {
          item->ChannelLoaded(channel);
          break;
        }
      return;
    }
    case kMusicPauseEvent:
      // A pause silences a place a new time left at once.
      ReleaseLeaving();
      [[fallthrough]];
    case kMusicRunEvent:
      // The clock was stopped by the sender; the tick clock starts now, the
      // audio clock once its music is loaded (StartWhenLoaded). A late
      // event only confirms it.
      if (!runRequested_.load() || !musicPlayer_ || tickClock_.load()) SetRunning(true, true);
      return;
    case kMusicSetTimeEvent: {
      auto* d = dynamic_cast<TTimeData*>(data);
      if (!d) return;
      LogFloat(u"Set Time ", d->Position);
      if (d->EndLimit >= 0) {
        std::lock_guard<std::mutex> g(lock_);
        endLimit_ = d->EndLimit;
      }
      if (d->Position >= 0) Reset(true, d->Position);
      if (d->Settle)
        ready_.store(ClockRunning() ||
                     std::all_of(items_.begin(), items_.end(), [](TPlayItem* i) { return i->Ready; }));
      return;
    }
    default:
      handled = false;
      ZM_FAIL("Unknown EventID");
  }
}

// ---- Engine side ---------------------------------------------------------------------

void TOruMusicPlayer::SetRunRequested(bool run) {
  {
    // The engine reads the show clock right after it stops it: the clock
    // stops here, and the event wakes the thread for its channels. The audio
    // clock starts on the thread, in the pass that starts the channels: the
    // show runs from when its music sounds, not ahead of it by as long as a
    // busy machine keeps the thread waiting (the music would skip as much
    // to catch up).
    std::lock_guard<std::mutex> g(lock_);
    if (runRequested_.exchange(run) == run) return;
    if (!run || !musicPlayer_ || tickClock_.load()) SetRunningLocked(run);
    if (run) runAskedTick_ = plat::TickCount32();
    else pauseTick_ = plat::TickCount32();
    // A clock asked to run counts as running for the music's readiness at
    // once, not from the thread's next pass: a time set just before (a
    // resync as the show starts) left it unready, and the engine would stop
    // the show again before that pass.
    if (run) ready_.store(true);
    // Synchronised music on the audio clock stops with a fade that still
    // sounds after the clock stood: where it fell silent is learnt next.
    ++pauseCount_;
    silence_ = !run && synchronised_ && musicPlayer_ && !tickClock_.load() ? kSilencePending : kSilenceNone;
  }
  if (TThreadEventList* e = Events()) e->Post(run ? kMusicRunEvent : kMusicPauseEvent, nullptr);
}

void TOruMusicPlayer::SetTime(double endLimit, double position, bool settle) {
  // A non-finite request would poison the clock.
  if (!std::isfinite(position)) position = -1;
  if (!std::isfinite(endLimit)) endLimit = -1;
  if (position >= 0) {
    runRequested_.store(false);
    ready_.store(false);
  }
  if (endLimit >= 0) lastEndLimit_.store(endLimit);
  TRef<TTimeData> data = MakeRef<TTimeData>(position, endLimit, settle);
  if (TThreadEventList* e = Events()) e->SendWait(kMusicSetTimeEvent, data.get());
}

void TOruMusicPlayer::Resync(double barrier, double time) {
  const bool run = RunRequested();
  SetTime(barrier, time, true);
  if (run) SetRunRequested(true);
}

bool TOruMusicPlayer::SilencePending() {
  std::lock_guard<std::mutex> g(lock_);
  return silence_ == kSilencePending;
}

bool TOruMusicPlayer::StandWhereSilent(double from, double& clock) {
  std::lock_guard<std::mutex> g(lock_);
  const int silence = silence_;
  silence_ = kSilenceNone;
  if (silence != kSilenceKnown || running_ || runRequested_.load() || std::min(base_, endLimit_) != from) return false;
  const double to = std::min(silentAt_, endLimit_);
  if (!(to > from)) return false;
  base_ = to;
  clock = to;
  return true;
}

void TOruMusicPlayer::SettlePause() {
  std::uint32_t pause;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (silence_ != kSilencePending) return;
    pause = pauseCount_;
  }
  double at = std::numeric_limits<double>::quiet_NaN();
  for (TPlayItem* item : items_) {
    double t = 0;
    // Its output has not placed the fade yet: the next pass looks again.
    if (!item->SilentAt(t)) return;
    if (std::isfinite(t) && !(t <= at)) at = t;
  }
  std::lock_guard<std::mutex> g(lock_);
  // A resume or a new time since: this answer is no longer asked for.
  if (pause != pauseCount_ || silence_ != kSilencePending) return;
  silentAt_ = at;
  silence_ = std::isfinite(at) ? kSilenceKnown : kSilenceNone;
}

double TOruMusicPlayer::GetTime() {
  std::lock_guard<std::mutex> g(lock_);
  double t = running_ ? ClockLocked() - base_ : base_;
  return std::min(t, endLimit_);
}

bool TOruMusicPlayer::PauseSettled() {
  std::lock_guard<std::mutex> g(lock_);
  // A run asked for again ends the pause: what it stops goes on from the
  // place of its time, as the clock does.
  return runRequested_.load() || plat::TickCount32() - pauseTick_ >= kPauseGraceMs;
}

double TOruMusicPlayer::EndLimit() {
  std::lock_guard<std::mutex> g(lock_);
  return endLimit_;
}

bool TOruMusicPlayer::ClockRunning() {
  std::lock_guard<std::mutex> g(lock_);
  return running_;
}

float TOruMusicPlayer::GetVolume() {
  TRef<TMusicPlayer> p = musicPlayer_;
  return p ? p->GetVolume() : 0.0f;
}

void TOruMusicPlayer::SetVolume(float volume) {
  if (TRef<TMusicPlayer> p = musicPlayer_) p->SetVolume(volume);
}

// ---- Clock ---------------------------------------------------------------------------

double TOruMusicPlayer::MusicClock() {
  std::lock_guard<std::mutex> g(lock_);
  return ClockLocked();
}

double TOruMusicPlayer::SoundingClock() {
  std::lock_guard<std::mutex> g(lock_);
  if (musicPlayer_ && !tickClock_.load()) return musicPlayer_->SoundingTime();
  return kNoClock;
}

double TOruMusicPlayer::ClockLocked() {
  if (musicPlayer_ && !tickClock_.load()) return musicPlayer_->GetTime();
  // The 32-bit tick count wraps; counted on so that the clock never jumps back.
  const std::uint32_t now = plat::TickCount32();
  if (tickBase_ < 0) tickBase_ = now;
  else tickBase_ += static_cast<std::uint32_t>(now - lastTick_);
  lastTick_ = now;
  return tickBase_;
}

void TOruMusicPlayer::SetRunning(bool run, bool asRequested) {
  std::lock_guard<std::mutex> g(lock_);
  // The request is read under the lock that switches the clock: a late event
  // must not undo a newer request.
  SetRunningLocked(asRequested ? runRequested_.load() : run);
}

void TOruMusicPlayer::SetRunningLocked(bool run) {
  if (run == running_) return;
  // The same subtraction turns a start reading into the current time and back.
  double clock = ClockLocked();
  if (run && musicPlayer_ && !tickClock_.load()) {
    // The time runs from the output's own place, to the frame (the clock
    // counts whole ms): music started in this pass sounds from its time.
    const double sounding = musicPlayer_->SoundingTime();
    if (std::isfinite(sounding) && std::abs(sounding - clock) < 1000.0) clock = sounding;
  }
  base_ = clock - base_;
  running_ = run;
  startClock_ = run ? clock : kNoClock;
}

void TOruMusicPlayer::Reset(bool clear, double t) {
  {
    std::lock_guard<std::mutex> g(lock_);
    running_ = false;
    base_ = t;
    ++pauseCount_;
    silence_ = kSilenceNone;
  }
  if (clear) {
    // What sounds now plays on until the new place's music starts.
    const std::size_t before = leaving_.size();
    collectLeaving_ = true;
    std::vector<TPlayItem*> items = items_;
    for (TPlayItem* item : items) item->Stop(false);
    collectLeaving_ = false;
    if (leaving_.size() != before) leavingTick_ = plat::TickCount32();
  }
  horizon_ = t + kMusicWindowMs;
  Schedule(true, horizon_, t);
}

void TOruMusicPlayer::StartWhenLoaded() {
  double t;
  std::uint32_t asked;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (running_ || !runRequested_.load()) return;
    t = std::min(base_, endLimit_);
    asked = runAskedTick_;
  }
  // The music of the time the clock stands at not loaded yet (the items of
  // a new time, just asked for): it would start behind the clock and skip
  // as much to catch up. The clock waits for it, the show with it.
  const bool loaded =
      std::all_of(items_.begin(), items_.end(), [t](TPlayItem* i) { return i->Finished || i->LoadedAt(t); });
  if (!loaded && plat::TickCount32() - asked < kStartWaitMs) return;
  SetRunning(true, true);
}

void TOruMusicPlayer::Pass() {
  ProcessEvents();
  const bool wasRunning = ClockRunning();
  StartWhenLoaded();
  double t = 0;
  bool running = false;
  {
    std::lock_guard<std::mutex> g(lock_);
    running = running_;
    // The pass that starts the clock reads it where it started: the tick
    // clock may stand a few ms past the output's place (a busy machine
    // between the two reads), and the music due as it starts would be
    // taken as joining late and lose its first ms.
    if (running && !wasRunning && std::isfinite(startClock_)) passClock_ = startClock_;
    else passClock_ = running ? ClockLocked() : kNoClock;
    t = std::min(running ? passClock_ - base_ : base_, endLimit_);
    // Held at the end limit, the time no longer follows the clock.
    if (t >= endLimit_ - 1) {
      t = endLimit_ - 1;
      passClock_ = kNoClock;
    }
  }
  if (running) {
    TStopwatch w;
    // The window never shrinks: a clamped time (a lowered end limit) would
    // schedule the slides between the two horizons a second time.
    const double newHorizon = t + kMusicWindowMs;
    if (newHorizon > horizon_) {
      Schedule(false, newHorizon, horizon_);
      horizon_ = newHorizon;
    }
    LogSlow(kMarks + u"Main Synch Time ", w);
  }
  {
    TStopwatch w;
    // Items may be added (a sequence stops the current one) while syncing.
    std::vector<TPlayItem*> items = items_;
    for (TPlayItem* item : items)
      if (!item->Finished) item->Sync(running, t);
    LogSlow(kMarks + u"Total Synch Time ", w);
  }
  // The old place of a new time fades out from the mix in which the new
  // place's music starts (its fade in), or once the clock runs without any.
  if (!leaving_.empty() &&
      (channelOperator_->Count() > 0 || running || plat::TickCount32() - leavingTick_ >= kLeaveWaitMs))
    ReleaseLeaving();
  channelOperator_->PlayPending([this] { return SoundingClock(); }, running && !wasRunning);
  if (!running) SettlePause();
  {
    TStopwatch w;
    std::vector<TPlayItem*> finished;
    for (TPlayItem* item : items_)
      if (item->Finished) finished.push_back(item);
    for (TPlayItem* item : finished) DestroyItem(item);
    // A clock asked to run counts as running: it starts in the next pass,
    // and the engine that asked must not find the music unready meanwhile.
    ready_.store(running || runRequested_.load() ||
                 std::all_of(items_.begin(), items_.end(), [](TPlayItem* i) { return i->Ready; }));
    LogSlow(kMarks + u"Total Free and Pack Time ", w);
  }
}

// ---- Schedule ------------------------------------------------------------------------

bool TOruMusicPlayer::SlideSpanAt(std::int64_t index, double& start, double& end) const {
  const std::int32_t count = source_->SlideCount();
  const double length = source_->Length();
  if (count <= 0 || index < 0) return false;
  // The bounds alone: walking the slides makes none of their records.
  double first = 0, last = 0;
  if (!source_->SlideBounds(static_cast<std::int32_t>(index % count), first, last)) return false;
  const double pass = static_cast<double>(index / count) * length;
  start = pass + first;
  end = pass + last;
  return true;
}

std::int64_t TOruMusicPlayer::SlideAt(std::int64_t from, double time) const {
  const std::int32_t count = source_->SlideCount();
  const double length = source_->Length();
  if (count <= 0 || !(length > 0) || !std::isfinite(time)) return 0;
  // A far jump starts at its pass instead of walking slide by slide.
  const double pass = std::floor(std::max(time, 0.0) / length);
  if (pass > 1e12) return 0;
  const std::int64_t passStart = static_cast<std::int64_t>(pass) * count;
  if (from < passStart - count || from > passStart + 2 * count) from = passStart;
  double start = 0, end = 0;
  std::int64_t i = std::max<std::int64_t>(from, 0);
  // Bounded: spans that do not cover the time line must not hang the thread.
  for (std::int64_t guard = 0; guard < 4 * std::int64_t(count) + 4 && SlideSpanAt(i, start, end); ++guard) {
    if (time < start && i > 0) --i;
    else if (time >= end && end > start) ++i;
    else break;
  }
  return i;
}

void TOruMusicPlayer::Schedule(bool initial, double to, double from) {
  if (!source_->HasMusic()) return;
  const double length = source_->Length();
  const bool repeat = showPtr_->RepeatMode() == kRepeatLoop;
  TPlayList* mainList = source_->MainList();
  if (synchronised_ && mainList && length > 0) {
    std::int64_t k0 = static_cast<std::int64_t>(std::min(from / length, 1e15)) + (initial ? 0 : 1);
    const std::int64_t k1 = repeat ? static_cast<std::int64_t>(std::min(to / length, 1e15)) : 0;
    k0 = std::max(k0, k1 - kMaxPassesPerWindow + 1);
    for (std::int64_t k = k0; k <= k1; ++k) {
      auto seq = MakeRef<TPlaySequence>(this, true, mainList);
      const double s = length * static_cast<double>(k);
      if (s > from) {
        seq->StartTime = s;
      } else {
        seq->StartTime = from;
        seq->Offset = from - s;
      }
      AddItem(seq.Detach());
    }
  }

  const std::int32_t count = source_->SlideCount();
  if (count <= 0 || !(length > 0)) return;
  slideIndex_ = SlideAt(slideIndex_, from);
  const std::int64_t first = initial ? std::max<std::int64_t>(0, slideIndex_ - count) : slideIndex_ + 1;
  std::int64_t last = SlideAt(slideIndex_, to);
  // A show that does not repeat has no comments past its last slide.
  if (!repeat) last = std::min<std::int64_t>(last, count - 1);
  for (std::int64_t i = first; i <= last; ++i) {
    // A far seek looks back over a whole pass: slides without a comment of
    // their own are passed without making their records.
    if (!source_->MayHaveComment(static_cast<std::int32_t>(i % count))) continue;
    const TSlideMusicInfo* info = source_->Slide(static_cast<std::int32_t>(i % count));
    if (!info || info->Comment.empty()) continue;
    LogLine(u"New Comment begin " + info->Comment);
    double start = static_cast<double>(i / count) * length + info->Span.Start;
    double cut = 0;
    if (start < from) {
      cut = from - start;
      start = from;
    }
    if (!(cut < info->CommentLength)) continue;
    const double position = std::clamp(std::round(info->CommentStartPosition + cut), 0.0, 2147483647.0);
    const double end = start + info->CommentLength - cut;
    LogFloats(u"~~~~~~~~~~~~~~~~~~~~~~~New Comment params ", std::vector<double>{start, position, end});
    auto comment = MakeRef<TPlayComment>(this);
    TPlayComment* c = comment.get();
    AddItem(comment.Detach());
    c->Open(info->Comment, static_cast<std::int32_t>(position), end, start);
  }
}

}  // namespace oru
