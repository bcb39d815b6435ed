#include "OruLib2/OruViewer/OruSlideLoader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <utility>

#include "OruLib2/OruViewer/OruMemoryBudget.h"
#include "ZmLib/Win32/winScreen.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

namespace {

// The watch of the newest loader is the show's; one that goes clears it
// only while it is its own.
void ShowWatchOf(TMemoryWatch* watch, bool set) {
  // Never destroyed: a loader may go while the program ends.
  static std::mutex* lock = new std::mutex;
  static TMemoryWatch* current = nullptr;
  std::lock_guard<std::mutex> g(*lock);
  if (set) {
    current = watch;
    SetShowMemoryWatch(watch);
  } else if (current == watch) {
    current = nullptr;
    SetShowMemoryWatch(nullptr);
  }
}

constexpr std::int32_t kDefaultWindowWidth = 640;
constexpr std::int32_t kDefaultWindowHeight = 480;
// A damaged time (NaN) still finds the pass made at it.
bool SameTime(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

// ---- TSlideData ---------------------------------------------------------------------

void TSlideData::Dispose() {
  for (auto& c : Containers) c = nullptr;
  Count = 0;
  TRefObject::Dispose();
}

// ---- TDialogData --------------------------------------------------------------------

void TDialogData::Dispose() {
  Dialog = nullptr;
  TRefObject::Dispose();
}

// ---- TSlideShowParams ---------------------------------------------------------------

void TSlideShowParams::Dispose() {
  TOruSource* source = std::exchange(source_, nullptr);
  if (ownsSource_) {
    ownsSource_ = false;
    FreeObject(source);
  }
  TOruThread::Dispose();
}

// ---- TOruSlideLoader ----------------------------------------------------------------

TOruSlideLoader::TOruSlideLoader(TOruSource* source, std::int32_t cacheCapacity, std::int32_t width,
                                 std::int32_t height, bool ownsSource) {
  source_ = source;
  ownsSource_ = ownsSource && source;
  // Slides are built ahead, while frames are drawn: the drawing threads come
  // first for the processor, or a picture decoded during a transition makes
  // its frames late. (Threads the loader starts, such as a JPEG's strips,
  // run at its priority.)
  SetPriority(-1);
  try {
    ZM_ASSERT(source != nullptr, "Source=nil");
    const TSize screen = ScreenSize();
    Width = screen.cx >= 1 ? screen.cx : kDefaultWindowWidth;
    Height = screen.cy >= 1 ? screen.cy : kDefaultWindowHeight;
    timing_ = MakeRef<TTiming>();
    TRef<TSlideProducer> producer = MakeRef<TSlideProducer>(source, nullptr, width, height, false);
    producer->SetTiming(timing_.get());
    cacheCapacity = std::clamp(cacheCapacity, std::int32_t{1}, kSlideCacheMaxCapacity);
    cache_ = MakeRef<TSlideCache>(producer.get(), cacheCapacity, false);
    SetMemoryLimit(MemoryLimitBytes());
    cache_->OnListChanged = [this](TSlideCache*, const TDrawContainers& containers, std::int32_t count) {
      ListChanged(containers, count);
    };

    const TIniSection* main = source->MainSection();
    Caption = IniReadString(main, u"projectname", Caption);
    FullScreenMode = IniGetInt(main ? main->Find(u"opt_scr_full") : nullptr, 1);
    if (FullScreenMode == 0) {
      Framed = !IniGetBool(main ? main->Find(u"opt_withoutborder") : nullptr, true);
      if (Framed) Caption = IniReadString(main, u"opt_scr_caption", Caption);
    } else {
      Framed = false;
    }
    if (FullScreenMode == 0 || FullScreenMode == 3) {
      // The show's own size, 1920 x 1080 when it gives none.
      Width = source->ScreenWidth();
      Height = source->ScreenHeight();
    }
  } catch (...) {
    // Nothing of a loader that failed half-way outlives it.
    TOruSlideLoader::Dispose();
    throw;
  }
}

void TOruSlideLoader::Dispose() {
  // The thread uses the cache and the timing: it must have ended first.
  Terminate();
  if (!Wait(kDisposeWaitMs)) Kill();
  if (watch_) {
    ShowWatchOf(watch_.get(), false);
    stop_.SetWatch(nullptr);
  }
  cache_ = nullptr;  // with it the producer
  timing_ = nullptr;
  listenerQueue_ = nullptr;
  TSlideShowParams::Dispose();
}

bool TOruSlideLoader::Start() {
  if (Running()) return false;
  stop_.Reset();
  return TSlideShowParams::Start();
}

void TOruSlideLoader::Terminate() {
  stop_.Request();
  TOruThread::Terminate();
  {
    std::lock_guard<std::mutex> g(readyLock_);
    wake_ = true;
  }
  readyCv_.notify_all();
}

std::int32_t TOruSlideLoader::WindowKind() const {
  if (FullScreenMode == 1) return 0;
  return Framed ? 1 : 2;
}

void TOruSlideLoader::Layout(bool cover) { Layout(TSize{Width, Height}, cover); }

void TOruSlideLoader::Layout(TSize size, bool cover) {
  if (TSlideProducer* p = Producer()) p->SetOutputSize(size, cover, 100, 100);
}

TRect TOruSlideLoader::GetViewRect() const {
  TSlideProducer* p = Producer();
  return p ? p->GetViewRect() : TRect{};
}

void TOruSlideLoader::SetListener(TThreadEventList* queue, std::int32_t eventId) {
  listenerQueue_ = TRef<TThreadEventList>(queue);
  listenerEventId_ = eventId;
}

void TOruSlideLoader::ListChanged(const TDrawContainers& containers, std::int32_t count) {
  TThreadEventList* queue = listenerQueue_.get();
  // A stopping loader sends nothing more: its engine may no longer drain.
  if (!queue || Terminated()) return;
  TRef<TSlideData> data = MakeRef<TSlideData>();
  data->Count = std::clamp(count, std::int32_t{0}, kSlideCacheMaxCapacity);
  for (std::int32_t i = 0; i < data->Count; ++i) data->Containers[i] = containers[i];
  // A closed queue returns at once, so a stopping loader never blocks here.
  if (SendDirect.load())
    queue->Send(this, listenerEventId_, data.get());
  else
    queue->SendWait(listenerEventId_, data.get());
}

void TOruSlideLoader::RequestDialog(const WideString& name, std::int32_t replyEventId, std::int32_t token) {
  TRef<TDialogData> request = MakeRef<TDialogData>();
  request->Name = name;
  request->Token = token;
  request->ReplyEventId = replyEventId;
  Events()->Post(kMakeDialogEvent, request.Detach());
  std::lock_guard<std::mutex> g(readyLock_);
  wake_ = true;
  readyCv_.notify_all();
}

void TOruSlideLoader::HandleEvent(TRefObject* sender, std::int32_t id, bool& handled, TRefObject* data) {
  if (id != kMakeDialogEvent) {
    TSlideShowParams::HandleEvent(sender, id, handled, data);
    return;
  }
  handled = true;
  if (auto* request = dynamic_cast<TDialogData*>(data)) MakeDialog(request);
}

void TOruSlideLoader::MakeDialog(TDialogData* request) {
  TRef<TDialogData> reply = MakeRef<TDialogData>();
  reply->Name = request->Name;
  reply->Token = request->Token;
  reply->ReplyEventId = request->ReplyEventId;
  TSlideProducer* producer = Producer();
  try {
    const TLoadStopScope scope(&stop_);
    if (producer) reply->Dialog = producer->CreateDialog(request->Name);
  } catch (const ELoadStopped&) {
    return;  // the loader stops: nobody waits for the dialog
  } catch (const std::exception& e) {
    LogLine(u"TOruSlideLoader: dialog \"" + request->Name + u"\" could not be made: " +
            UTF8Decode(TByteString(e.what())));
  } catch (...) {
    LogLine(u"TOruSlideLoader: dialog \"" + request->Name + u"\" could not be made");
  }
  TThreadEventList* queue = listenerQueue_.get();
  if (!queue || Terminated()) return;
  queue->Post(request->ReplyEventId, reply.Detach());
}

void TOruSlideLoader::SetMemoryLimit(std::int64_t limit, std::int64_t (*held)()) {
  if (watch_) ShowWatchOf(watch_.get(), false);
  watch_ = std::make_unique<TMemoryWatch>(limit, held);
  stop_.SetWatch(watch_.get());
  ShowWatchOf(watch_.get(), true);
}

WideString TOruSlideLoader::Refusal() const {
  std::lock_guard<std::mutex> g(refusalLock_);
  return refusal_;
}

void TOruSlideLoader::Refuse(std::int32_t slide, std::int64_t bytes, std::int64_t limit) {
  const std::int32_t count = source_ ? source_->SlideCount() : 0;
  if (count > 0 && slide >= 0) slide %= count;
  const WideString text = MemoryRefusalText(std::max(slide, 0), bytes, limit);
  {
    std::lock_guard<std::mutex> g(refusalLock_);
    if (!refusal_.empty()) return;
    refusal_ = text;
  }
  LogLine(u"TOruSlideLoader: " + text);
  TThreadEventList* queue = listenerQueue_.get();
  if (queue && !Terminated()) queue->Post(kRefusedEvent, MakeRef<TShowRefusal>(text).Detach());
}

void TOruSlideLoader::WatchMemory(std::int32_t slide) {
  // While a slide is built, its own looks refuse it, with what it would take.
  if (!watch_ || building_.load() || !Refusal().empty()) return;
  if (const std::int64_t held = watch_->Over()) Refuse(slide, held, watch_->Limit());
}

bool TOruSlideLoader::Pass() {
  if (!cache_ || !timing_) return true;
  const double time = timing_->CurrentTime.load();
  bool settled = true;
  failed_ = false;
  stableFrom_.store(1.0);
  stableUntil_.store(0.0);
  // A show refused is built no further.
  if (std::isfinite(time) && Refusal().empty()) {
    try {
      // The slide being built ends at its next step once the loader is
      // told to stop, or once it would hold more memory than it may.
      const TLoadStopScope scope(&stop_);
      struct TBuilding {
        std::atomic<bool>& Flag;
        explicit TBuilding(std::atomic<bool>& flag) : Flag(flag) { Flag.store(true); }
        ~TBuilding() { Flag.store(false); }
      } building(building_);
      if (watch_) watch_->Begin();
      settled = !cache_->Update(time);
      failedLogged_ = false;
      if (settled) SetStableSpan();
    } catch (const EMemoryLimit& e) {
      // Nothing half built is kept; the show is refused.
      const std::int32_t building = cache_->BuildingIndex;
      cache_->BuildingIndex = -1;
      Refuse(building, watch_->Estimate(e.Held), e.Limit);
      failed_ = true;
    } catch (const ELoadStopped&) {
      // Nothing half built is kept; the thread ends.
      settled = false;
    } catch (const std::exception& e) {
      // A slide that cannot be built stays missing; the show goes on with
      // what there is. One report per run of failures.
      if (!failedLogged_) LogLine(u"TOruSlideLoader: slide build failed: " + UTF8Decode(TByteString(e.what())));
      failedLogged_ = true;
      failed_ = true;
    } catch (...) {
      if (!failedLogged_) LogLine(u"TOruSlideLoader: slide build failed");
      failedLogged_ = true;
      failed_ = true;
    }
  }
  bool news;
  {
    std::lock_guard<std::mutex> g(readyLock_);
    news = settled && !(ready_ && SameTime(readyTime_, time));
    ready_ = settled;
    readyTime_ = time;
  }
  readyCv_.notify_all();
  if (news && OnSlidesReady) OnSlidesReady(this);
  return settled;
}

void TOruSlideLoader::SetStableSpan() {
  // The cache's first slide, and with it the whole list, stays while the
  // rounded time lies after the end of visibility of the slide before it
  // and not after its own (both rounded). The end itself belongs to the
  // span: a show standing at its end, or at a slide that waits, stands
  // exactly there, and must not wake the loader pass after pass.
  TSlideProducer* producer = Producer();
  const std::int32_t first = cache_->FirstIndex;
  if (!producer || first < 0) return;
  const double from =
      first == 0 ? -std::numeric_limits<double>::max()
                 : std::nextafter(std::nearbyint(producer->GetSlideTimes(first - 1).VisibleUntil) + 0.5,
                                  std::numeric_limits<double>::infinity());
  const double until = std::nearbyint(producer->GetSlideTimes(first).VisibleUntil);
  if (!(from <= until)) return;
  stableFrom_.store(from);
  stableUntil_.store(until);
}

void TOruSlideLoader::TimeMoved(double time) {
  const double from = stableFrom_.load(), until = stableUntil_.load();
  // While it builds (no span), it paces its own passes: building slide after
  // slide without a break would take the processor from the frames; a pass
  // that settles looks at the time itself.
  if (!(from <= until) || (time >= from && time <= until)) return;
  {
    std::lock_guard<std::mutex> g(readyLock_);
    if (wake_) return;
    wake_ = true;
  }
  readyCv_.notify_all();
}

void TOruSlideLoader::Step() {
  ProcessEvents();
  const bool settled = Pass();
  std::uint32_t sleep = kPassSleepMs;
  if (failed_) sleep = kRetryMs;
  else if (settled) sleep = kSettledSleepMs;
  std::unique_lock<std::mutex> l(readyLock_);
  readyCv_.wait_for(l, std::chrono::milliseconds(sleep), [this] {
    if (wake_ || Terminated()) return true;
    // The time moved on while the pass ran.
    const double t = timing_ ? timing_->CurrentTime.load() : 0.0;
    return !(t >= stableFrom_.load() && t <= stableUntil_.load()) && stableFrom_.load() <= stableUntil_.load();
  });
  wake_ = false;
}

bool TOruSlideLoader::SlidesReady(double time) {
  {
    std::lock_guard<std::mutex> g(readyLock_);
    if (ready_ && SameTime(readyTime_, time)) return true;
    wake_ = true;
  }
  readyCv_.notify_all();
  return false;
}

bool TOruSlideLoader::WaitSlidesReady(double time, std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> l(readyLock_);
  wake_ = true;
  readyCv_.notify_all();
  return readyCv_.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] {
    if (ready_ && SameTime(readyTime_, time)) return true;
    // Each pass clears the request: ask again for the next one.
    wake_ = true;
    return false;
  });
}

}  // namespace oru
