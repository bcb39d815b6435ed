#include "ZmLib/Music/zmMusicChannel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "Platform/PlatSystem.h"
#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

// Formats a ring can be made for; anything else (a damaged header) plays nothing.
constexpr std::uint32_t kMaxRate = 384000;
constexpr std::uint16_t kMaxChannels = 8;

bool UsableRingFormat(const TWaveFormatEx& f) {
  return f.wFormatTag == 1 && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nChannels >= 1 &&
         f.nChannels <= kMaxChannels && f.nSamplesPerSec >= 1 && f.nSamplesPerSec <= kMaxRate;
}

TWaveFormatEx RingFormat(const TMediaInfo& info) {
  const TWaveFormatEx& in = info.Format;
  TWaveFormatEx f{};
  if (in.wFormatTag == 1 && (in.wBitsPerSample == 8 || in.wBitsPerSample == 16)) {
    f.wFormatTag = 1;
    f.nChannels = in.nChannels;
    f.nSamplesPerSec = in.nSamplesPerSec;
    f.wBitsPerSample = in.wBitsPerSample;
    // Derived again: a header's own block and byte rate may lie.
    f.nBlockAlign = static_cast<std::uint16_t>(f.nChannels * (f.wBitsPerSample / 8));
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    return f;
  }
  return Pcm16Format(in.nChannels, in.nSamplesPerSec);
}

bool SameFormat(const TWaveFormatEx& a, const TWaveFormatEx& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
         a.wBitsPerSample == b.wBitsPerSample;
}

// Each call between BeginRegion and EndRegion, also when it raises.
template <void (TMusicChannel::*Work)(std::uint8_t*, std::uint32_t)>
void RegionProc(void* self, std::uint8_t* region, std::uint32_t bytes) {
  auto* c = static_cast<TMusicChannel*>(self);
  struct TEnd {
    TMusicChannel* C;
    ~TEnd() { C->EndRegion(); }
  } end{c};
  c->BeginRegion(region);
  (c->*Work)(region, bytes);
}

}  // namespace

// ---- TMusicChannel ---------------------------------------------------------------

TMusicChannel::TMusicChannel(TChannelMusic* owner, const TMediaInfo& mediaInfo, TWaveOutDevice* device)
    : owner_(owner), device_(device), mediaInfo_(mediaInfo) {
  ready_ = MakeOutput(RingFormat(mediaInfo_));
}

bool TMusicChannel::MakeOutput(const TWaveFormatEx& format) {
  output_ = nullptr;
  if (!device_ || !UsableRingFormat(format)) return false;
  format_ = format;
  frameBytes_ = std::uint32_t(format_.wBitsPerSample) * format_.nChannels / 8;
  bufferBytes_ = format_.nAvgBytesPerSec * 2;
  try {
    output_ = device_->CreateBuffer(format_);
  } catch (const Exception& e) {
    DebugLog(std::string("TMusicChannel: no output buffer: ") + e.what());
    output_ = nullptr;
  }
  if (!output_) return false;
  output_->OnFirstFill = {&RegionProc<&TMusicChannel::FirstFill>, this};
  output_->OnFade = {&RegionProc<&TMusicChannel::FadeInPlace>, this};
  output_->OnFill = {&RegionProc<&TMusicChannel::Fill>, this};
  return true;
}

void TMusicChannel::Dispose() {
  // The ring's callbacks read output_: end them before it is cleared.
  if (output_) output_->EndCallbacks();
  output_ = nullptr;
  converter_ = nullptr;
  {
    std::lock_guard<std::mutex> g(prebufferLock_);
    std::vector<std::uint8_t>().swap(prebuffer_);
    hasPrebuffer_ = false;
  }
  if (stream_) {
    StreamWrapper()->Close(closeContext_, stream_, closeStream_.Proc, closeStream_.Data);
    stream_ = nullptr;
  }
  device_ = nullptr;
  TRefObject::Dispose();
}

bool TMusicChannel::Open(const WideString& fileName) {
  TChannelMusic* owner = owner_.load();
  ZM_ASSERT(owner, "TMusicChannel.Open: no owner");
  TMusicPlayerClass* player = owner->Player();
  if (!ready_ || !player || converter_) return false;
  TStreamOpenPair open;
  player->GetOpenStream(open);
  player->GetCloseStream(closeStream_);
  closeContext_ = player;
  const bool composite = IsCompositeTrackHook && IsCompositeTrackHook(fileName);
  if (!composite) {
    if (mediaInfo_.Kind == kMediaMpeg && mediaInfo_.Embedded == 1 && mediaInfo_.DataOffset > 0) {
      stream_ = StreamWrapper()->OpenShifted(player, fileName, mediaInfo_.DataOffset, open.Proc, open.Data);
      mediaInfo_.DataOffset = 0;
    } else {
      stream_ = StreamWrapper()->Open(player, fileName, open.Proc, open.Data);
    }
    // A file that went away since it was identified.
    if (!stream_) return false;
  }
  try {
    if (!stream_ && CreateCompositeConverterHook) {
      converter_ = CreateCompositeConverterHook(player, fileName);
    } else if (CreateConverterHook) {
      converter_ = CreateConverterHook(mediaInfo_, fileName);
    }
    if (!converter_) return false;
    converter_->Stream = stream_;
    if (!converter_->SetInputFormat(mediaInfo_)) return false;
  } catch (const Exception& e) {
    DebugLog(std::string("TMusicChannel.Open: ") + e.what());
    converter_ = nullptr;
    return false;
  }
  // A converter that brings its source to another format (float and wide
  // samples to the standard format) needs a ring of that format.
  const TWaveFormatEx& out = converter_->Output().Format;
  if (out.nAvgBytesPerSec != 0 && !SameFormat(out, format_)) {
    TWaveFormatEx f = out;
    f.nBlockAlign = static_cast<std::uint16_t>(f.nChannels * (f.wBitsPerSample / 8));
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    f.cbSize = 0;
    ready_ = MakeOutput(f);
    if (!ready_) return false;
  }
  return true;
}

void TMusicChannel::SetPosition(std::uint32_t ms) {
  if (state_.load() != kIdle || !converter_ || !output_) return;
  {
    // A little further on inside what is decoded already (a channel that
    // starts late): the front of the prebuffer is dropped, not decoded again.
    std::lock_guard<std::mutex> g(prebufferLock_);
    const std::uint64_t skip =
        ms >= positionBase_ ? std::uint64_t(ms - positionBase_) * format_.nSamplesPerSec / 1000 * format_.nBlockAlign : 0;
    if (hasPrebuffer_ && ms >= positionBase_ && skip < prebuffer_.size() && format_.nBlockAlign) {
      prebuffer_.erase(prebuffer_.begin(), prebuffer_.begin() + static_cast<std::ptrdiff_t>(skip));
      positionBase_ = ms;
      return;
    }
  }
  positionBase_ = ms;
  const std::uint32_t n = output_->PrebufferSize();
  std::lock_guard<std::mutex> g(prebufferLock_);
  try {
    converter_->Seek(ms);
    ended_ = !converter_->Fill(static_cast<std::int32_t>(std::min<std::uint32_t>(n, 0x7FFFFFFF)));
  } catch (const Exception& e) {
    DebugLog(std::string("TMusicChannel.SetPosition: ") + e.what());
    ended_ = true;
  }
  prebuffer_.assign(n, format_.wBitsPerSample == 8 ? 128 : 0);
  TLocalBuffer& out = converter_->Output();
  const std::uint32_t have = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(std::max(out.Length(), 0)));
  if (have) std::memcpy(prebuffer_.data(), out.Data(), have);
  out.Consume(static_cast<std::int32_t>(have));
  hasPrebuffer_ = true;
}

std::int32_t TMusicChannel::FadeFrames(std::uint32_t fadeMs, std::uint32_t rate) {
  const std::uint64_t frames = std::uint64_t(fadeMs) * rate / 1000;
  return static_cast<std::int32_t>(std::clamp<std::uint64_t>(frames, 1, 0x7FFFFFFF));
}

void TMusicChannel::Play(std::uint32_t fadeMs, std::uint32_t delayFrames, std::uint32_t skipFrames) {
  if (!ready_ || !converter_ || !output_ || state_.load() != kIdle) return;
  bool has;
  {
    std::lock_guard<std::mutex> g(prebufferLock_);
    has = hasPrebuffer_;
  }
  if (!has) SetPosition(0);
  {
    std::lock_guard<std::mutex> g(prebufferLock_);
    const std::uint64_t delay = std::uint64_t(delayFrames) * frameBytes_;
    delayLeft_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(delay, bufferBytes_));
    delayBytes_ = delayLeft_;
    // Whole frames, and never the whole prebuffer: its end goes on in the fills.
    const std::uint64_t skip = std::uint64_t(skipFrames) * frameBytes_;
    if (skip && hasPrebuffer_ && skip < prebuffer_.size())
      prebuffer_.erase(prebuffer_.begin(), prebuffer_.begin() + static_cast<std::ptrdiff_t>(skip));
  }
  {
    std::lock_guard<std::mutex> g(fadeLock_);
    fadeInFrames_ = FadeFrames(fadeMs, format_.nSamplesPerSec);
    fadingIn_ = true;
    fadingOut_ = false;
    gain_ = 0.0f;
    step_ = 1.0f / float(fadeInFrames_);
    state_ = kPlaying;
  }
  output_->Play();
}

void TMusicChannel::Stop(std::uint32_t fadeMs) {
  if (state_.load() != kPlaying) return;
  const std::int32_t frames = FadeFrames(fadeMs, format_.nSamplesPerSec);
  // What the listener would still hear fades within the fade, the sound the
  // output has taken already with it: a new place that follows at once (a
  // seek) never sounds on top of the old one. A track whose sound ends
  // within the fade anyway ends as it is.
  bool outputFade = started_.load();
  const std::int64_t end = endStream_.load();
  if (outputFade && ended_.load() && end >= 0) {
    const std::int64_t read = output_->ReadStream();
    outputFade = read < 0 || end - read > std::int64_t(frames) * frameBytes_;
  }
  outputFade = outputFade && output_->FadeOut(static_cast<std::uint32_t>(frames));
  {
    std::lock_guard<std::mutex> g(fadeLock_);
    fadeOutFrames_ = frames;
    fadingIn_ = false;
    step_ = 1.0f / float(fadeOutFrames_);
    state_ = kStopping;
    silentNever_ = !started_.load();
    silentStream_ = -1;
    outputFades_ = outputFade;
  }
  {
    std::lock_guard<std::mutex> g(doneLock_);
    stopPending_ = true;
  }
  output_->Stop();
  // A ring that never asked for sound (no sound buffer) never fades either:
  // without this the channel would wait for the killer forever.
  if (!started_.load()) ScheduleDone(0);
}

void TMusicChannel::Scale(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t bytes) {
  bool schedule = false;
  std::uint32_t scheduleAt = 0;
  {
    std::lock_guard<std::mutex> g(fadeLock_);
    // A fill under way when Stop came lies behind the stop's fade: it keeps
    // its sound, and the fade placed next (from the play position on) has
    // it fade out with the rest.
    if (state_.load() == kStopping && !fadingOut_ && (!output_ || output_->FadePlaced())) {
      fadingOut_ = true;
      fadingIn_ = false;
    }
    std::uint32_t off = 0;
    const std::uint32_t fb = frameBytes_;
    while (fb && off + fb <= bytes) {
      if (!fadingIn_ && !fadingOut_) break;
      if (fadingOut_ && gain_ <= 0.0f) {
        NoteSilence(destination + off);
        std::memset(destination + off, format_.wBitsPerSample == 8 ? 128 : 0, bytes - off);
        if (!schedule) {
          schedule = true;
          scheduleAt = off;
        }
        off = bytes;
        break;
      }
      if (format_.wBitsPerSample == 8) {
        for (std::uint32_t i = 0; i < fb; ++i) {
          const double v = 128.0 + std::nearbyint((double(source[off + i]) - 128.0) * gain_);
          destination[off + i] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
      } else if (format_.wBitsPerSample == 16) {
        for (std::uint32_t i = 0; i + 1 < fb; i += 2) {
          std::int16_t s;
          std::memcpy(&s, source + off + i, 2);
          const double v = std::nearbyint(double(s) * gain_);
          const auto r = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
          std::memcpy(destination + off + i, &r, 2);
        }
      } else {
        ZM_FAIL("TMusicChannel: sample size");
      }
      off += fb;
      if (fadingIn_) {
        gain_ += step_;
        if (gain_ >= 1.0f) {
          fadingIn_ = false;
          gain_ = 1.0f;
        }
      } else if (fadingOut_) {
        gain_ -= step_;
        if (gain_ <= 0.0f) {
          gain_ = 0.0f;
          schedule = true;
          scheduleAt = off;
          NoteSilence(destination + off);
        }
      }
    }
    if (off < bytes && source != destination) std::memmove(destination + off, source + off, bytes - off);
  }
  if (schedule) ScheduleDone(RegionBytesTo(destination + scheduleAt, scheduleAt));
}

void TMusicChannel::BeginRegion(const std::uint8_t* region) {
  region_ = region;
  regionStream_ = output_ ? output_->RegionStream() : -1;
}

std::uint32_t TMusicChannel::RegionBytesTo(const std::uint8_t* at, std::uint32_t outside) const {
  const auto a = reinterpret_cast<std::uintptr_t>(at), r = reinterpret_cast<std::uintptr_t>(region_);
  return region_ && a >= r && a - r <= bufferBytes_ ? static_cast<std::uint32_t>(a - r) : outside;
}

std::uint32_t TMusicChannel::SoundInRegion(const std::uint8_t* from, const std::uint8_t* end) const {
  // Counted from the region's start (a first fill is given its prebuffer first).
  const std::uint32_t n = RegionBytesTo(end, static_cast<std::uint32_t>(end - from)), fb = frameBytes_;
  if (!fb) return n;
  const std::uint8_t silent = format_.wBitsPerSample == 8 ? 128 : 0;
  const std::uint8_t* start = end - n;
  std::uint32_t frames = n / fb;
  for (; frames > 0; --frames) {
    const std::uint8_t* p = start + std::size_t(frames - 1) * fb;
    if (std::any_of(p, p + fb, [silent](std::uint8_t b) { return b != silent; })) break;
  }
  return frames * fb;
}

void TMusicChannel::NoteSilence(const std::uint8_t* at) {
  if (state_.load() != kStopping) return;
  const auto a = reinterpret_cast<std::uintptr_t>(at), r = reinterpret_cast<std::uintptr_t>(region_);
  // A ring that does not tell where its regions lie: the place stays unknown.
  const std::int64_t stream = region_ && regionStream_ >= 0 && a >= r ? regionStream_ + std::int64_t(a - r) : kNoStream;
  // What plays first: the fade region lies before the fills made after it.
  if (silentStream_ < 0 || stream < silentStream_) silentStream_ = stream;
}

bool TMusicChannel::SilentPlace(double& ms) {
  ms = std::numeric_limits<double>::quiet_NaN();
  std::lock_guard<std::mutex> g(fadeLock_);
  if (silentNever_) return true;
  std::int64_t at = silentStream_;
  if (outputFades_) {
    // Where the output's own fade fell silent, or the track's sound ended
    // before that.
    at = output_ ? output_->FadedStream() : -1;
    if (at < 0) return false;
    const std::int64_t end = endStream_.load();
    if (ended_.load() && end >= 0 && end < at) at = end;
  } else if (silentStream_ < 0 || !output_ || !output_->FadePlaced()) {
    return false;
  }
  // Silent before its sound began (within the delay) it never sounded.
  const std::int64_t sound = at - std::int64_t(delayBytes_.load());
  if (at != kNoStream && sound >= 0 && format_.nAvgBytesPerSec)
    ms = double(positionBase_) + double(sound) * 1000.0 / double(format_.nAvgBytesPerSec);
  return true;
}

void TMusicChannel::ApplyGain(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t bytes) {
  if (!bytes) return;
  Scale(source, destination, bytes);
}

void TMusicChannel::FadeInPlace(std::uint8_t* region, std::uint32_t bytes) {
  {
    std::lock_guard<std::mutex> g(fadeLock_);
    fadingOut_ = true;
    fadingIn_ = false;
  }
  if (bytes) Scale(region, region, bytes);
}

void TMusicChannel::Fill(std::uint8_t* destination, std::uint32_t bytes) {
  started_ = true;
  {
    // What a delay left of the first block.
    std::lock_guard<std::mutex> g(prebufferLock_);
    if (delayLeft_ || hasPrebuffer_) {
      const std::uint32_t n = TakePrebuffer(destination, bytes);
      destination += n;
      bytes -= n;
    }
  }
  if (!bytes) return;
  std::uint32_t have = 0;
  bool ended = true;
  if (converter_ && bytes) {
    try {
      ended = !converter_->Fill(static_cast<std::int32_t>(std::min<std::uint32_t>(bytes, 0x7FFFFFFF)));
      TLocalBuffer& out = converter_->Output();
      have = std::min<std::uint32_t>(bytes, static_cast<std::uint32_t>(std::max(out.Length(), 0)));
      ApplyGain(out.Data(), destination, have);
      out.Consume(static_cast<std::int32_t>(have));
    } catch (const Exception& e) {
      // Damaged data past the first block: the track ends here.
      DebugLog(std::string("TMusicChannel.Fill: ") + e.what());
      ended = true;
    }
  }
  if (have < bytes) {
    std::memset(destination + have, format_.wBitsPerSample == 8 ? 128 : 0, bytes - have);
    // A stopped run whose track ran out before its fade is silent from here.
    std::lock_guard<std::mutex> g(fadeLock_);
    NoteSilence(destination + have);
  }
  ended_ = ended;
  // The track's last sound may lie in this region: it plays before the
  // killer may end the channel (the ring counts what is queued up to the
  // region's start only).
  if (ended) {
    const std::uint32_t sound = SoundInRegion(destination, destination + have);
    if (endStream_.load() < 0 && region_ && regionStream_ >= 0) endStream_ = regionStream_ + sound;
    ScheduleDone(sound);
  }
}

void TMusicChannel::FirstFill(std::uint8_t* destination, std::uint32_t bytes) {
  started_ = true;
  std::uint32_t n = 0;
  {
    std::lock_guard<std::mutex> g(prebufferLock_);
    n = TakePrebuffer(destination, bytes);
  }
  if (n < bytes) Fill(destination + n, bytes - n);
}

std::uint32_t TMusicChannel::TakePrebuffer(std::uint8_t* destination, std::uint32_t bytes) {
  std::uint32_t n = std::min(bytes, delayLeft_);
  if (n) std::memset(destination, format_.wBitsPerSample == 8 ? 128 : 0, n);
  delayLeft_ -= n;
  if (hasPrebuffer_ && n < bytes) {
    const auto m = std::min<std::uint32_t>(bytes - n, static_cast<std::uint32_t>(prebuffer_.size()));
    ApplyGain(prebuffer_.data(), destination + n, m);
    n += m;
    if (m < prebuffer_.size()) {
      prebuffer_.erase(prebuffer_.begin(), prebuffer_.begin() + m);
    } else {
      std::vector<std::uint8_t>().swap(prebuffer_);
      hasPrebuffer_ = false;
    }
  }
  return n;
}

void TMusicChannel::ScheduleDone(std::uint32_t extraBytes) {
  bool add = false;
  {
    std::lock_guard<std::mutex> g(doneLock_);
    const bool first = doneAfterMs_ == kNotScheduled;
    if (first || stopPending_) {
      const std::uint32_t queued = output_ ? output_->QueuedBytes() : 0;
      const double avg = std::max<std::uint32_t>(format_.nAvgBytesPerSec, 1);
      double ms = std::nearbyint((double(queued) + double(extraBytes)) / avg * 1000.0);
      if (ms < 1.0) ms += 2000.0;
      ms += 20.0;
      doneAfterMs_ = static_cast<std::uint32_t>(std::min(ms, 4.0e9));
      doneTick_ = plat::TickCount32();
      doneStream_ = region_ && regionStream_ >= 0 && queued + extraBytes > 0
                        ? regionStream_ + std::int64_t(extraBytes) + std::int64_t(avg) * 20 / 1000
                        : -1;
      add = first;
    }
    stopPending_ = false;
  }
  if (add) ChannelKiller()->Add(this);
}

bool TMusicChannel::IsDone() {
  std::uint32_t after, waited;
  std::int64_t stream;
  {
    std::lock_guard<std::mutex> g(doneLock_);
    if (doneAfterMs_ == kNotScheduled) return false;
    after = doneAfterMs_;
    waited = plat::TickCount32() - doneTick_;
    stream = doneStream_;
  }
  // Outside the lock: the ring's own lock is held by fills that schedule.
  const std::int64_t played = stream >= 0 && output_ ? output_->PlayedStream() : -1;
  if (played < 0) return waited > after;
  // Done once the output has mixed the sound, however long an output that
  // stalls (a busy machine) takes to: the time it should take would cut
  // off what it has not played yet. One that stands for good lets it go
  // a while later all the same.
  return played >= stream || waited > after + kStalledOutputMs;
}

std::uint32_t TMusicChannel::DoneAfterMs() {
  std::lock_guard<std::mutex> g(doneLock_);
  return doneAfterMs_;
}

float TMusicChannel::Gain() {
  std::lock_guard<std::mutex> g(fadeLock_);
  return gain_;
}

std::uint32_t TMusicChannel::Position() {
  const std::uint32_t played = output_ ? output_->PlayedTime() : 0;
  const std::uint64_t avg = format_.nAvgBytesPerSec;
  const auto delayMs = avg ? static_cast<std::uint32_t>(std::uint64_t(delayBytes_.load()) * 1000 / avg) : 0u;
  return (played > delayMs ? played - delayMs : 0) + positionBase_;
}

// ---- TChannelKiller --------------------------------------------------------------

class TChannelKiller::TKillerThread : public TThread {
public:
  explicit TKillerThread(TChannelKiller* killer) : killer_(killer) {}
  void Execute() override { killer_->Execute(this); }
  TRef<TEvent> Running = MakeRef<TEvent>();

private:
  TChannelKiller* killer_;
};

TChannelKiller::TChannelKiller() : wake_(MakeRef<TEvent>()) {
  TRef<TKillerThread> t = MakeRef<TKillerThread>(this);
  thread_ = t;
  if (t->Start()) {
    // Bounded: a thread refused at shutdown never runs.
    while (!t->Running->Wait(100) && t->IsRunning()) {
    }
  }
}

void TChannelKiller::Dispose() {
  if (thread_) {
    {
      std::lock_guard<std::mutex> g(queueLock_);
      events_.push_back({kQuit, nullptr});
    }
    wake_->Set();
    if (!thread_->Wait(1000)) thread_->Terminate();
    thread_ = nullptr;  // waits for the thread to end
  }
  // Posted after the quit, or never taken by a thread that did not run.
  std::vector<std::pair<std::int32_t, TMusicChannel*>> left;
  {
    std::lock_guard<std::mutex> g(queueLock_);
    left.swap(events_);
  }
  for (auto& [id, c] : left)
    if (id == kAdd) HandOver(c);
  wake_ = nullptr;
  TRefObject::Dispose();
}

void TChannelKiller::Add(TMusicChannel* channel) {
  if (!channel) return;
  channel->AddRef();
  count_.fetch_add(1);
  {
    std::lock_guard<std::mutex> g(queueLock_);
    events_.push_back({kAdd, channel});
  }
  wake_->Set();
}

std::size_t TChannelKiller::Count() { return count_.load(); }

bool TChannelKiller::WaitEmpty(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> l(emptyLock_);
  return empty_.wait_for(l, std::chrono::milliseconds(timeoutMs), [this] { return count_.load() == 0; });
}

bool TChannelKiller::DispatchEvents() {
  std::vector<std::pair<std::int32_t, TMusicChannel*>> events;
  {
    std::lock_guard<std::mutex> g(queueLock_);
    events.swap(events_);
  }
  bool quit = false;
  for (auto& [id, c] : events) {
    if (id == kQuit) {
      quit = true;
    } else if (id == kAdd) {
      channels_.push_back(c);
    }
  }
  return !quit;
}

void TChannelKiller::HandOver(TMusicChannel* channel) {
  {
    std::lock_guard<std::recursive_mutex> g(handOver_);
    if (TChannelMusic* owner = channel->Owner()) owner->MusicChannelDone(channel);
  }
  channel->Free();  // the killer's own reference
  if (count_.fetch_sub(1) == 1) {
    // Under the lock, so that a waiter between its look and its wait hears it.
    { std::lock_guard<std::mutex> g(emptyLock_); }
    empty_.notify_all();
  }
}

void TChannelKiller::Execute(TKillerThread* thread) {
  threadId_.store(std::this_thread::get_id());
  thread->Running->Set();
  for (;;) {
    if (!DispatchEvents()) break;
    if (!channels_.empty()) {
      for (std::size_t i = channels_.size(); i-- > 0;) {
        TMusicChannel* c = channels_[i];
        if (c->IsDone()) {
          channels_.erase(channels_.begin() + std::ptrdiff_t(i));
          HandOver(c);
        }
      }
      wake_->Wait(10);
      wake_->Reset();
    } else {
      // Nothing to watch: the next channel or the quit sets the event.
      wake_->WaitFor();
      wake_->Reset();
    }
  }
  if (!channels_.empty()) {
    // Ending with channels still playing out: hand them over now rather
    // than leave their owners waiting.
    DebugLog("TChannelKiller: channels left at the end");
    std::vector<TMusicChannel*> left;
    left.swap(channels_);
    for (TMusicChannel* c : left) HandOver(c);
  }
}

namespace {
std::mutex gKillerLock;
TRef<TChannelKiller> gKiller;
}  // namespace

TChannelKiller* ChannelKiller() {
  std::lock_guard<std::mutex> g(gKillerLock);
  if (!gKiller) gKiller = MakeRef<TChannelKiller>();
  return gKiller.get();
}

bool IsChannelKillerThread() {
  std::lock_guard<std::mutex> g(gKillerLock);
  return gKiller && gKiller->IsOwnThread();
}

void InitMusicChannel() {}

void FiniMusicChannel() {
  TRef<TChannelKiller> k;
  {
    std::lock_guard<std::mutex> g(gKillerLock);
    k = std::move(gKiller);
  }
}

}  // namespace zm
