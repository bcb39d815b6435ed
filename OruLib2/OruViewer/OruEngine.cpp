#include "OruLib2/OruViewer/OruEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>

#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/OruClasses/OruRootItem.h"
#include "OruLib2/OruViewer/OruSlideLoader.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/winInput.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

namespace {

WideString Num(double v) {
  std::string s;
  if (!std::isfinite(v)) {
    s = std::isnan(v) ? "nan" : (v < 0 ? "-inf" : "inf");
  } else if (v == std::floor(v) && std::fabs(v) < 1e15) {
    s = std::to_string(static_cast<long long>(v));
  } else {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    s = buf;
  }
  return WideString(s.begin(), s.end());
}

WideString Flag(bool v) { return v ? u"True" : u"False"; }

// Whole milliseconds of a time, held within 32 bits.
std::int32_t WholeMs(double t) {
  if (std::isnan(t)) return 0;
  if (t >= 2147483647.0) return INT32_MAX;
  if (t <= -2147483647.0) return INT32_MIN + 1;
  return static_cast<std::int32_t>(t);
}

}  // namespace

// ---- Records ---------------------------------------------------------------------------

void TOpenParams::Dispose() {
  Source = nullptr;
  FileAccess = nullptr;
  Ini = nullptr;
  TRefObject::Dispose();
}

// ---- TOruEngine ------------------------------------------------------------------------

TOruEngine::TOruEngine(TDrawDevice* device, std::uint8_t option, bool paused, bool ownsDevice,
                       TPostEventList* listener, TRef<TOruShowParts> parts,
                       TOruDrawController::TDrawerFactory drawerFactory)
    : TCustomOruEngine(listener), parts_(std::move(parts)), option_(option) {
  if (!parts_) parts_ = MakePlayerShowParts();
  paused_.store(paused);
  interpolator_ = MakeRef<TFrameInterpolator>();
  // A repaint, a size change or a lost device ends the engine's wait.
  controller_ = MakeRef<TOruDrawController>(device, ownsDevice, std::move(drawerFactory), [this] { Wake(); });
  if (parts_) root_ = parts_->MakeRoot();
}

void TOruEngine::Dispose() {
  if (!Stop()) {
    LogLine(u"TOruEngine: the engine thread did not stop; waiting on");
    Wait(kInfinite);
    StopLoader(true, true);
  }
  {
    std::lock_guard<std::mutex> g(requestLock_);
    pending_ = nullptr;
    processing_ = nullptr;
  }
  slides_.clear();
  if (root_) root_->SetOverlay(nullptr);
  overlay_ = nullptr;
  root_ = nullptr;
  source_ = nullptr;
  controller_ = nullptr;
  interpolator_ = nullptr;
  parts_ = nullptr;
  OnFramePresented = nullptr;
  OnFrameStood = nullptr;
  OnFrameDrawing = nullptr;
  OnPassWait = nullptr;
  TCustomOruEngine::Dispose();
}

bool TOruEngine::Start() {
  if (Running()) return false;
  drawStop_.Reset();
  return TCustomOruEngine::Start();
}

void TOruEngine::Terminate() {
  drawStop_.Request();
  TCustomOruEngine::Terminate();
}

bool TOruEngine::Stop(std::uint32_t timeoutMs) {
  if (!TOruThread::Stop(timeoutMs)) return false;
  StopLoader(true, true);
  return true;
}

void TOruEngine::DoStart() { lastTick_ = SysTimeMs(); }

void TOruEngine::DoStop() {
  if (!frameStepMs_) SetLoadCallbackMode(0);
  TCustomOruEngine::DoStop();
}

WideString TOruEngine::HoverName() {
  std::lock_guard<std::mutex> g(hoverLock_);
  return hoverName_;
}

// ---- Requests (any thread) ----

std::int32_t TOruEngine::RequestOpen(TFileAccessor* fileAccess, TIniFile* ini, std::int32_t time, bool paused) {
  if (!ini || !fileAccess) return RequestPosition(time, paused);
  TRef<TOpenParams> p = MakeRef<TOpenParams>();
  p->Paused = paused;
  p->Generation = NextGeneration();
  p->FileAccess = TRef<TFileAccessor>(fileAccess);
  p->Ini = TRef<TIniFile>(ini);
  p->Time = time;
  const std::int32_t g = p->Generation;
  Events()->Post(kOpenEvent, p.Detach());
  return g;
}

std::int32_t TOruEngine::RequestOpen(TOruSource* source, std::int32_t time, bool paused) {
  if (!source) return RequestPosition(time, paused);
  TRef<TOpenParams> p = MakeRef<TOpenParams>();
  p->Paused = paused;
  p->Generation = NextGeneration();
  p->Source = TRef<TOruSource>(source);
  p->Time = time;
  const std::int32_t g = p->Generation;
  Events()->Post(kOpenEvent, p.Detach());
  return g;
}

std::int32_t TOruEngine::RequestPosition(std::int32_t time, bool paused) {
  TRef<TOpenParams> p = MakeRef<TOpenParams>();
  p->Paused = paused;
  p->Generation = NextGeneration();
  p->Time = time;
  const std::int32_t g = p->Generation;
  Events()->Post(kOpenEvent, p.Detach());
  return g;
}

void TOruEngine::RequestPause(bool paused) {
  TRef<TModeData> m = MakeRef<TModeData>();
  m->Paused = paused;
  Events()->Post(kModeEvent, m.Detach());
}

// ---- Events (engine thread) ----

static_assert(TOruEngine::kLoaderRefusedEvent == TOruSlideLoader::kRefusedEvent);

void TOruEngine::HandleEvent(TRefObject* sender, std::int32_t id, bool& handled, TRefObject* data) {
  (void)sender;
  handled = true;
  switch (id) {
    case kMouseEvent: {
      auto* m = dynamic_cast<TMouseData*>(data);
      if (!m) return;
      pointer_.Kind = m->Kind;
      pointer_.X = m->X;
      pointer_.Y = m->Y;
      pointer_.Buttons = 0;
      // A button held stays held for the hover test of later frames: an
      // object pressed keeps its pressed look until the release.
      pointer_.Shift = m->Kind == 2 ? std::uint8_t(m->Shift & ~zm::ssLeft) : m->Shift;
      // Input may change what objects show (hover and click colours, the
      // panel) without the slides reporting a change: the next frame draws.
      // Stepped runs draw the frames they need anyway.
      if (!frameStepMs_) forcePending_ = true;
      TOruActionInfo action;
      // A move is no click: what it sets off was not asked for.
      const bool byUser = m->Kind != std::uint8_t(zm::TMouseKind::Move);
      if (OverlayMouse(*m, action)) {
        RunAction(action, byUser);
        return;
      }
      // An object with an action takes moves and the left button's events;
      // the action the form attached runs only where none takes it.
      const bool over = HitTest(*m, action);
      const bool taken = over && ((m->Buttons & 1) || m->Buttons == 0);
      if (!taken && m->Action.Code != acNone) action = m->Action;
      RunAction(action, byUser);
      return;
    }
    case kRenderEvent:
      RenderImage();
      return;
    case kCloseDialogEvent:
      if (overlay_) overlay_->CloseDialog(-1);
      return;
    case kHelpEvent:
      RequestDialog(u"help");
      return;
    case kDialogEvent:
      ShowMadeDialog(data);
      return;
    case kLoaderRefusedEvent:
      if (auto* refusal = dynamic_cast<TShowRefusal*>(data))
        PostToListener(kRefusedEvent, {}, true, MakeRef<TStrValue>(refusal->Text).Detach());
      return;
    case kSlideListEvent: {
      std::vector<TOruPreparedSlide> list;
      if (!loader_ || !loader_->TakeList(data, list)) return;
      slides_ = std::move(list);
      transitionsDue_ = true;
      WideString text = u">>>>>>>>>>>>> slide list synched : ";
      for (const TOruPreparedSlide& s : slides_) text += u"[" + Num(s.Times.Start) + u" - " + Num(s.Times.End) + u"] ";
      LogLine(text);
      return;
    }
    case kOpenEvent: {
      auto* p = dynamic_cast<TOpenParams*>(data);
      if (!p) return;
      std::lock_guard<std::mutex> g(requestLock_);
      const bool pause = pending_ ? pending_->Paused : paused_.load();
      if (p->IsOpen()) {
        LogLine(u"TOruEngine: OpenShow Async");
        pending_ = TRef<TOpenParams>(p);
      } else {
        LogLine(u"TOruEngine: SetPosition Async");
        if (pending_) {
          pending_->Generation = p->Generation;
          pending_->Time = p->Time;
        } else {
          pending_ = TRef<TOpenParams>(p);
        }
      }
      LogLine(u"TOruEngine: Current Pause Status: " + Flag(pause));
      LogLine(u"TOruEngine: Async Pause Status: " + Flag(p->Paused));
      pending_->Paused = p->Paused;
      return;
    }
    case kModeEvent: {
      auto* m = dynamic_cast<TModeData*>(data);
      if (!m) return;
      std::lock_guard<std::mutex> g(requestLock_);
      if (!pending_ && !processing_) {
        LogLine(u"TOruEngine: Before Pause Status: " + Flag(paused_.load()));
        paused_.store(m->Paused);
        LogLine(u"TOruEngine: SetPauseEvent Direct: " + Flag(m->Paused));
      } else {
        (pending_ ? pending_ : processing_)->Paused = m->Paused;
        LogLine(u"TOruEngine: SetPauseEvent Async: " + Flag(m->Paused));
      }
      return;
    }
    default:
      handled = false;
      LogLine(u"TOruEngine: unknown event " + Num(id));
      return;
  }
}

void TOruEngine::ProcessRequest() {
  TRef<TOpenParams> p;
  {
    std::lock_guard<std::mutex> g(requestLock_);
    if (!pending_) return;
    processing_ = std::move(pending_);
    p = processing_;
  }
  LogLine(u"TOruEngine: Begin ProcessAsyncOpen");
  if (p->IsOpen()) {
    LogLine(u"TOruEngine: Process AsyncEvent Open");
    try {
      const bool opened =
          p->Source ? OpenShow(p->Source.get(), p->Time) : OpenShow(p->FileAccess.get(), p->Ini.get(), p->Time);
      if (!opened) LogLine(u"TOruEngine: the show could not be opened");
    } catch (const std::exception& e) {
      const std::string what = e.what();
      LogLine(u"TOruEngine: the show could not be opened: " + WideString(what.begin(), what.end()));
    }
  } else {
    LogLine(u"TOruEngine: Process AsyncEvent SetPosition");
    SetActive(false);
    MoveTo(p->Time);
  }
  std::lock_guard<std::mutex> g(requestLock_);
  playingGeneration_.store(p->Generation);
  LogLine(u"TOruEngine: Process AsyncEvent Curren Pause Status: " + Flag(paused_.load()));
  paused_.store(p->Paused);
  LogLine(u"TOruEngine: Process AsyncEvent New Pause Status: " + Flag(p->Paused));
  processing_ = nullptr;
}

// ---- Opening ----

bool TOruEngine::OpenShow(TFileAccessor* fileAccess, TIniFile* ini, std::int32_t time) {
  ZM_ASSERT(ini != nullptr, "TOruEngine.OpenShow: Ini not Assigned");
  ZM_ASSERT(fileAccess != nullptr, "TOruEngine.OpenShow: FileAccess not Assigned");
  if (!ini || !fileAccess) return false;
  // The source takes over these references, also when it cannot be made.
  fileAccess->AddRef();
  ini->AddRef();
  TRef<TOruSource> source;
  try {
    source = MakeRef<TOruSource>(fileAccess, true, ini);
  } catch (const std::exception& e) {
    const std::string what = e.what();
    LogLine(u"TOruEngine.OpenShow: " + WideString(what.begin(), what.end()));
    return false;
  }
  return OpenShow(source.get(), time);
}

bool TOruEngine::OpenShow(TOruSource* source, std::int32_t time) {
  if (!source) return false;
  // Exact runs draw the same transitions every time.
  if (frameStepMs_) source->SetFixedSeed(true, 1);
  TRef<TOruSource> old = std::move(source_);
  source_ = TRef<TOruSource>(source);
  OpenInternal(source_, false, time);
  // The player holds its own reference to the show it plays.
  if (old && player_ && !player_->SourceFree()) LogLine(u"TOruEngine: the old show stays with the player");
  old = nullptr;
  return true;
}

zm::TRef<TOruMusicPlayer> TOruEngine::MakePlayer() {
  if (!source_) return nullptr;
  TRef<TOruMusicPlayer> player;
  source_->AddRef();  // the player's own reference, released also when it fails
  try {
    player = MakeRef<TOruMusicPlayer>(source_.get(), true);
  } catch (const std::exception& e) {
    const std::string what = e.what();
    LogLine(u"TOruEngine.MakePlayer: " + WideString(what.begin(), what.end()));
  }
  // A show whose music cannot be read plays on silent: the clock of a player
  // over a show without slides.
  if (!player) {
    try {
      TRef<TIniFile> blank = MakeRef<TIniFile>();
      blank->LoadFromText(TByteString("[Times]\r\nopt_slidescount=0\r\n"));
      TFileAccessor* access = source_->FileAccessor();
      if (access) access->AddRef();
      TRef<TOruSource> silent = MakeRef<TOruSource>(access, true, blank.Detach());
      player = MakeRef<TOruMusicPlayer>(silent.Detach(), true);
    } catch (const std::exception& e) {
      const std::string what = e.what();
      LogLine(u"TOruEngine.MakePlayer: no clock: " + WideString(what.begin(), what.end()));
      return nullptr;
    }
  }
  if (frameStepMs_) player->SetTickClock(true);
  player->Start();
  // Stopped at the show's start with its ready flag known, before the first
  // pass asks for it.
  player->Resync(barrier_.Time, 0);
  return player;
}

void TOruEngine::OpenInternal(TRef<TOruSource> source, bool reopen, double time) {
  endReported_ = false;
  stepEndDrawn_ = false;
  LogLine((reopen ? u"Reopen from new position>>>>>>>> " : u"Open from new position>>>>>>>> ") + Num(time));
  // A new show starts from its own time with its own clock, playing or not;
  // only a reopen of the same show while playing keeps the running clock.
  const bool fresh = paused_.load() || !reopen;
  if (fresh) SetActive(false);
  StopLoader(true, fresh);
  if (!source) return;

  ++loaderSerial_;
  if (parts_) {
    loader_ = parts_->MakeLoader(source.get(), kCacheCapacity, loaderWidth_, loaderHeight_, Events(),
                                 kSlideListEvent);
  }
  if (loader_) {
    TOruEngineLoader* loader = loader_.get();
    // Reaches the drawer through a link of its own, not through the engine:
    // a loader left running by StopLoader may still call it after the
    // engine is gone, and then finds the link cut.
    preloadLink_ = MakeRef<TPreloadLink>();
    preloadLink_->Controller = controller_.get();
    TRef<TPreloadLink> link = preloadLink_;
    loader_->SetPreloadCallback([link, loader](TRefObject* c) { PreloadCallback(link.get(), loader, c); });
  }
  else LogLine(u"TOruEngine: no slide loader");

  if (fresh || !player_) {
    player_ = MakePlayer();
    if (player_) player_->Deactivate();
  }

  if (!reopen && loader_) {
    const std::int32_t params[3] = {loader_->Width(), loader_->Height(), loader_->WindowKind()};
    PostToListener(kWindowEvent, params, false, nullptr);
    controller_->GetDrawer();
  }

  const TSize size = controller_->GetSize();
  loaderWidth_ = size.cx < 11 ? 10 : size.cx;
  loaderHeight_ = size.cy < 11 ? 10 : size.cy;
  if (loader_) {
    loader_->SetSize(loaderWidth_, loaderHeight_);
    loader_->Layout(cover_);
  }

  BuildOverlay();

  firstFrameReported_ = false;
  if (fresh) {
    MoveTo(time);
  } else if (loader_) {
    // The running show goes on where it stands; the new loader builds for
    // that time from its first pass.
    loader_->SetCurrentTime(time);
    loader_->SetRequestedTime(time);
  }
  LogLine(u"Loader Inited To Time : " + Num(time));
}

void TOruEngine::MoveTo(double time) {
  if (!std::isfinite(time)) time = 0;
  heldTime_ = time;
  pauseFollow_ = false;
  if (loader_) {
    loader_->SetCurrentTime(time);
    loader_->SetRequestedTime(time);
  }
  ResetReports();
  nextRun_ = TNextRun();
  barrier_ = TBarrier();
  ComputeNextRun(time);
  ComputeBarrier(time);
  stoppedAtBarrier_.store(false);
  // A show moved back before its end reports the end again when it gets there.
  endReported_ = false;
  stepEndDrawn_ = false;
}

void TOruEngine::ResetReports() { lastReportedTime_ = INT32_MIN + 1; }

void TOruEngine::StopLoader(bool freeLoader, bool freePlayer) {
  if (loader_) {
    loader_->Terminate();
    // The loader may wait in a send to this queue: keep taking its lists.
    // Bounded in real time (the stepped clock stands while nothing is
    // drawn), so a loader held in a read that never returns (a stalled
    // network mount) cannot hold the engine: it is left to itself.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLoaderStopWaitMs);
    while (loader_->Running() && std::chrono::steady_clock::now() < giveUp) {
      ProcessEvents();
      SysSleep(3);
    }
    if (loader_->Running()) {
      LogLine(u"TOruEngine.StopLoader: the loader did not stop");
      if (freeLoader) {
        // Still running: never freed under it, and cut off from the engine;
        // the program waits for it before its modules end.
        TOruEngineLoader* left = loader_.get();
        zm::LeaveRunning(left, [left] { return left->Running(); });
        if (preloadLink_) {
          std::lock_guard<std::mutex> g(preloadLink_->Lock);
          preloadLink_->Controller = nullptr;
        }
      }
    }
  }
  if (freePlayer && player_) {
    player_->Deactivate();
    player_ = nullptr;
  }
  if (freeLoader) {
    loader_ = nullptr;
    preloadLink_ = nullptr;
    slides_.clear();
    if (root_) root_->SetOverlay(nullptr);
    overlay_ = nullptr;
  }
}

void TOruEngine::PreloadCallback(TPreloadLink* preload, TOruEngineLoader* loader, TRefObject* container) {
  // Loader thread: only the slide it was given is touched.
  if (!loader || !container) return;
  // The drawer is held while the slide is prepared: a link cut meanwhile
  // frees nothing under it.
  TRef<TOruDrawerLink> link;
  {
    std::lock_guard<std::mutex> g(preload->Lock);
    if (preload->Controller) link = TRef<TOruDrawerLink>(preload->Controller->DrawerLink());
  }
  TDeviceDrawer* drawer = link ? link->Drawer() : nullptr;
  // Prepared here, off the engine thread, also before the show runs: the
  // engine would otherwise make the textures between two frames.
  if (drawer) {
    LogLine(u"preload from callback.............");
    loader->PrepareNewSlide(container, drawer);
  }
  loader->StartSlide(container, 0);
}

TDeviceDrawer* TOruEngine::Drawer() const {
  TOruDrawerLink* link = controller_ ? controller_->DrawerLink() : nullptr;
  return link ? link->Drawer() : nullptr;
}

// ---- Clock ----

double TOruEngine::GetShowTime() {
  if (!active_.load() || !player_) return heldTime_;
  const double clock = player_->Clock();
  const double raw = clock - heldTime_;
  // Stepped clocks are even already; smoothing would only make them lag
  // behind frames that waited for slides.
  if (frameStepMs_) return raw;
  const double smooth = interpolator_->Interpolate(raw, SysTimeMs());
  // The player holds its clock at the barrier (its end limit), a pause or
  // loop slide's end or the end of a show that ends: neither smoothing nor
  // the clock's offset from the show time may keep the show short of it.
  if (clock >= player_->BarrierTime() && player_->BarrierTime() == barrier_.Time)
    return std::max(smooth, barrier_.Time);
  return smooth;
}

void TOruEngine::SetActive(bool on) {
  if (on == active_.load()) return;
  if (on) {
    pauseFollow_ = false;
    if (loader_) {
      TDeviceDrawer* drawer = Drawer();
      for (const TOruPreparedSlide& s : slides_) {
        if (drawer) loader_->PrepareSlide(s.Container.get(), drawer);
        const double local = heldTime_ - s.Times.Start;
        LogLine(u"PreloadEx Time: " + Num(local));
        loader_->StartSlide(s.Container.get(), local);
      }
    }
    if (!player_) player_ = MakePlayer();
    if (player_) {
      if (player_->BarrierTime() != barrier_.Time) player_->Resync(barrier_.Time, player_->Clock());
      player_->Activate();
    }
    active_.store(true);
    // With the interpolator holding this is the player's clock minus the
    // show time: the running clock's offset.
    heldTime_ = GetShowTime();
    if (!frameStepMs_) SetLoadCallbackMode(2);
    interpolator_->Hold(false);
    // What stood through the pause moves on now: frames come at their pace
    // at once, not after the probe of a slide that settled meanwhile.
    lastChangeTick_ = SysTimeMs();
  } else {
    interpolator_->Hold(true);
    const double offset = heldTime_;
    active_.store(false);
    if (player_) player_->Deactivate();
    // The show stands where the clock stopped, not where the last pass
    // found it: on a still slide that pass may be a second old, and the
    // music would go back by as much when it resumes.
    double stood = loader_ ? loader_->CurrentTime() : offset;
    const double clock = player_ ? player_->Clock() : 0;
    if (player_ && std::isfinite(clock - offset)) stood = clock - offset;
    if (loader_ && stood != loader_->CurrentTime()) loader_->SetCurrentTime(stood);
    heldTime_ = stood;
    if (!frameStepMs_) SetLoadCallbackMode(0);
    if (player_ && player_->NeedsRebuild() && source_) {
      player_ = MakePlayer();
      if (player_) player_->Deactivate();
    }
    // Synchronised music sounds on for its stop's fade: the show follows it
    // to where it falls silent, so that the resume hears none of it again.
    pauseFollow_ = !frameStepMs_ && player_ && stood == clock - offset && player_->SilencePending();
    pauseLooks_ = 0;
    pauseClock_ = clock;
    pauseShown_ = stood;
    pauseOffset_ = offset;
  }
}

void TOruEngine::FollowPause() {
  if (!pauseFollow_) return;
  // Moved meanwhile (a seek, a barrier): that time holds.
  const double shown = loader_ ? loader_->CurrentTime() : heldTime_;
  if (active_.load() || !player_ || shown != pauseShown_) {
    pauseFollow_ = false;
    return;
  }
  // Looked at again soon (PassWait), a bounded number of times.
  if (player_->SilencePending() && ++pauseLooks_ < kPauseLooks) return;
  pauseFollow_ = false;
  double clock = 0;
  if (!player_->StandWhereSilent(pauseClock_, clock)) return;
  const double stood = clock - pauseOffset_;
  if (loader_) loader_->SetCurrentTime(stood);
  heldTime_ = stood;
  // The frame of that time comes at its turn.
  if (!frameStepMs_) stopFramePending_ = true;
}

void TOruEngine::Seek(double time) { RunAction(MakeActionInfo(acSeek, WholeMs(time), WideString())); }

void TOruEngine::SetVolume(float volume) {
  volume_.store(std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 1.0f);
}

// ---- Run-program and barrier look-ahead ----

bool TOruEngine::ShowEnds() const {
  return source_ && (source_->RepeatMode() == kRepeatClose || source_->RepeatMode() == kRepeatStop);
}

double TOruEngine::ShowEnd() const { return source_ ? source_->ShowLength() : 0; }

void TOruEngine::ComputeNextRun(double time) {
  const std::int32_t count = source_ ? source_->SlideCount() : 0;
  if (!barriersEnabled_ || count < 1 || std::isnan(time)) {
    nextRun_ = TNextRun();
    return;
  }
  const std::int64_t first = (nextRun_.Index != kNoSlide && time >= nextRun_.Time)
                                 ? static_cast<std::int64_t>(nextRun_.Index) + 1
                                 : source_->SlideAtTime(time);
  // One more than the show has, so that the first slide's next pass counts.
  for (std::int64_t k = 0; k <= count; ++k) {
    const std::int64_t i = first + k;
    if (i >= kNoSlide) break;
    if (i < 0) continue;
    // Bounds only: the slides' sections are read for their actions alone.
    double start = 0, end = 0;
    source_->GetSlideBounds(static_cast<std::int32_t>(i), start, end);
    WideString name;
    if (source_->GetSlideRunApp(static_cast<std::int32_t>(i % count), name) && start + 1 >= time) {
      nextRun_.Index = static_cast<std::int32_t>(i);
      nextRun_.Time = start + 1;
      nextRun_.FileName = name;
      return;
    }
  }
  nextRun_ = TNextRun();
}

void TOruEngine::ComputeBarrier(double time) {
  const std::int32_t count = source_ ? source_->SlideCount() : 0;
  const bool ends = ShowEnds();
  const std::int32_t limit = ends && count > 0 ? count - 1 : kNoSlide;
  const double defaultTime = ends ? ShowEnd() : kNever;
  if (barriersEnabled_ && count > 0 && !std::isnan(time)) {
    const std::int64_t first =
        (barrier_.Index != kNoSlide && time >= barrier_.Time) ? barrier_.Index : source_->SlideAtTime(time);
    for (std::int64_t k = 0; k <= count; ++k) {
      const std::int64_t i = first + k;
      if (i > limit) break;
      if (i < 0) continue;
      double start = 0, end = 0;
      source_->GetSlideBounds(static_cast<std::int32_t>(i), start, end);
      double loop = 0;
      if (end > time && source_->GetSlideEndAction(static_cast<std::int32_t>(i), loop)) {
        barrier_.Active = true;
        barrier_.Index = static_cast<std::int32_t>(i);
        barrier_.Time = end;
        // A loop of no length cannot go back: it holds like a pause.
        barrier_.LoopLength = std::isfinite(loop) && loop > 0 ? loop : 0;
        return;
      }
    }
  }
  barrier_.Active = false;
  barrier_.Index = limit;
  barrier_.Time = defaultTime;
  barrier_.LoopLength = 0;
}

// ---- Tests of a pass ----

bool TOruEngine::Covered(double time) const {
  if (active_.load()) return true;
  const std::int32_t capacity = loader_ ? std::max(1, loader_->Capacity()) : kCacheCapacity;
  if (static_cast<std::int32_t>(slides_.size()) < capacity) return false;
  const TSlideSpan& a = slides_.front().Times;
  const TSlideSpan& z = slides_.back().Times;
  return a.Start + a.OwnLength <= time && time <= z.VisibleUntil;
}

bool TOruEngine::DrawTest(double time) const {
  if (active_.load()) return true;
  switch (slides_.size()) {
    case 0:
      return false;
    case 1: {
      const TSlideSpan& a = slides_[0].Times;
      return a.Start + a.OwnLength <= time && time <= a.End;
    }
    case 2: {
      const TSlideSpan& a = slides_[0].Times;
      const TSlideSpan& b = slides_[1].Times;
      return a.Start + a.OwnLength <= time && time <= a.VisibleUntil && b.Start <= time && time <= b.End;
    }
    default:
      return Covered(time);
  }
}

bool TOruEngine::IsMusicReady() {
  if (!player_) return true;
  if (!active_.load()) {
    const double current = loader_ ? loader_->CurrentTime() : heldTime_;
    if (!(player_->Clock() == current && player_->BarrierTime() >= barrier_.Time))
      player_->Resync(barrier_.Time, current);
  }
  const bool ready = player_->Ready();
  if (active_.load() && !ready) LogLine(u"TOruEngine.IsMusicReady: False");
  return ready;
}

void TOruEngine::EndCheck(bool report) {
  if (!loader_ || !ShowEnds()) return;
  const double end = ShowEnd();
  if (loader_->CurrentTime() < end) return;
  loader_->SetCurrentTime(end);
  if (endReported_ || !report) return;
  endReported_ = true;
  ReportPosition(WholeMs(end), WholeMs(end), true);
}

void TOruEngine::ReportPosition(std::int32_t time, std::int32_t end, bool ended) {
  const std::int32_t params[4] = {playingGeneration_.load(), time, end, ended ? 1 : 0};
  PostToListener(kPositionEvent, params, false, nullptr);
}

// ---- The pass ----

void TOruEngine::Step() {
  if (player_ && player_->Volume() != volume_.load()) player_->SetVolume(volume_.load());

  TThreadEventList* queue = Events();
  if (!queue || queue->IsClosed()) {
    Terminate();
    return;
  }
  ProcessEvents();
  ProcessRequest();
  FollowPause();

  if (loader_ && !loader_->Running()) loader_->Start();
  // What was built may go on taking memory as it plays (clips decode ahead).
  if (loader_) loader_->WatchMemory(slides_.empty() ? -1 : slides_.front().Index);

  std::uint32_t state = controller_->GetState();
  // A repaint or a new size draws the next frame whatever the slides say.
  // Stepped runs draw every frame they need anyway: there a repaint, whose
  // moment depends on the display thread, must not add one, a new size must.
  if (state & TOruDrawController::dsReinited) forcePending_ = true;
  if ((state & TOruDrawController::dsSizeChanged) && (!frameStepMs_ || controller_->GetSize() != lastFrameSize_))
    forcePending_ = true;
  const double current = loader_ ? loader_->CurrentTime() : heldTime_;
  const bool endReached = ShowEnds() && current >= ShowEnd();
  bool newActive = source_ && loader_ && !paused_.load() && !stoppedAtBarrier_.load() && !endReached;
  if (newActive && source_->PauseWhenInactive() && !(state & TOruDrawController::dsActive)) newActive = false;
  // An open dialog that holds the show stops the clock.
  if (newActive && overlay_ && overlay_->HasHoldingDialog()) newActive = false;
  if (newActive) newActive = Covered(current);
  // On the real clock the show starts once its window shows (its first
  // frame asks for that): what the clock ran before would go by unseen, and
  // a machine slow to show the window would start the show at a later
  // slide, its music with it. Without a ready screen no frame shows it, and
  // the clock runs all the same.
  if (newActive && !frameStepMs_ && !windowSeen_ && (state & TOruDrawController::dsReady)) {
    windowSeen_ = controller_->WindowShown();
    newActive = windowSeen_;
  }
  // The player's ready flag changes on its own thread: a start that waits
  // for it looks again soon.
  musicWait_ = false;
  // A resume right after a pause waits until the music has fallen silent,
  // and then goes on from there.
  if (newActive && pauseFollow_) {
    newActive = false;
    musicWait_ = true;
  }
  if (newActive) musicWait_ = !(newActive = IsMusicReady());

  if (!newActive) {
    if (active_.load()) {
      LogLine(u"TOruEngine.MainLoop: SetActive(False) - Stop by not NewActive");
      state |= TOruDrawController::dsSizeChanged;
      // The frame of the time the show stands at comes at its turn, not
      // with the next look of a show that does not play.
      if (!frameStepMs_) stopFramePending_ = true;
    }
    SetActive(false);
  }

  if ((state & TOruDrawController::dsReady) && (state & TOruDrawController::dsReinited)) {
    firstFrameReported_ = false;
    newActive = false;
    if (active_.load()) LogLine(u"TOruEngine.MainLoop: SetActive(False) - Stop by Reinited");
    SetActive(false);
    TDeviceDrawer* drawer = Drawer();
    if (loader_)
      for (const TOruPreparedSlide& s : slides_) loader_->ReleaseSlide(s.Container.get(), drawer);
    const TSize size = controller_->GetSize();
    const std::int32_t w = size.cx < 11 ? 10 : size.cx, h = size.cy < 11 ? 10 : size.cy;
    if (source_ && (w != loaderWidth_ || h != loaderHeight_)) {
      LogLine(u"OpenInt on diff size: " + Num(size.cx) + u" " + Num(size.cy));
      OpenInternal(source_, true, GetShowTime());
    }
    drawer = Drawer();
    if (loader_ && drawer)
      for (std::size_t i = 1; i < slides_.size(); ++i) loader_->PrepareSlide(slides_[i].Container.get(), drawer);
    LogLine(u"DrawDevice Reinited (Slides:" + Num(static_cast<double>(slides_.size())) + u")");
  }

  if (newActive && !active_.load()) {
    LogLine(u"TOruEngine.MainLoop: SetActive(True) - Start by NewActive");
    SetActive(true);
  }

  if (Terminated()) return;

  const std::uint32_t passStart = SysTimeMs();
  // After a wait the smoothing would pull the clock back toward its old
  // pace: a frame that comes after a still spell shows the clock's time.
  if (!frameStepMs_ && static_cast<std::uint32_t>(passStart - lastTick_) > 2 * refreshMs_) interpolator_->Restart();
  const double t = GetShowTime();
  if (loader_) {
    loader_->SetRequestedTime(t);
    if (active_.load() && barrier_.Active && t >= barrier_.Time) {
      LogLine(u"TOruEngine.MainLoop: SetActive(False) - Stop by Barrier");
      SetActive(false);
      if (barrier_.LoopLength <= 0) {
        stopTime_ = barrier_.Time;
        stoppedAtBarrier_.store(true);
        loader_->SetCurrentTime(barrier_.Time);
        ComputeBarrier(barrier_.Time);
      } else {
        // Back by whole loop lengths, so the time lands before the end.
        const double over = t - barrier_.Time;
        double back = (std::floor(over / barrier_.LoopLength) + 1) * barrier_.LoopLength;
        double looped = t - back;
        if (!std::isfinite(looped) || looped >= barrier_.Time) looped = barrier_.Time - barrier_.LoopLength;
        loader_->SetCurrentTime(looped);
      }
      heldTime_ = loader_->CurrentTime();
      if (player_) player_->Resync(barrier_.Time, heldTime_);
    } else {
      loader_->SetCurrentTime(t);
    }
  }

  // A stepped run reports its end after its frame at the end: the window
  // closes on the report.
  EndCheck(!frameStepMs_);

  const double shown = loader_ ? loader_->CurrentTime() : heldTime_;
  if (active_.load() && shown >= nextRun_.Time) {
    const WideString name = nextRun_.FileName;
    ComputeNextRun(nextRun_.Time);
    RunAction(MakeActionInfo(acRunApp, 0, name), false);
  }

  if (overlay_) overlay_->Tick(shown);
  overlayDialog_.store(overlay_ && overlay_->DialogCount() > 0);

  framePresented_ = false;
  frameChanged_ = false;
  // On the real clock frames come at most once a refresh interval, however
  // many repaints ask for one: a frame not yet due waits for its turn.
  const bool frameDue = frameStepMs_ || !frameDrawn_ || static_cast<std::uint32_t>(passStart - lastFrameTick_) >= FrameGap();
  const bool drawable = !slides_.empty() && (state & TOruDrawController::dsReady);
  if (frameDue || !drawable) stopFramePending_ = false;
  // Nobody sees the window (minimised): no frame is drawn, the show goes on;
  // the frame of the moment comes as soon as it shows again, which a
  // repaint tells. Stepped frames are captured where they are drawn.
  offScreen_ = !frameStepMs_ && controller_->WindowOffScreen();
  if (offScreen_) {
    if (drawable && frameDue) forcePending_ = true;
  } else if (drawable && frameDue) {
    const bool stepWait = frameStepMs_ && loader_ && !loader_->SlidesReady(shown);
    // A stepped run that reached its end draws its frame at the end once,
    // then no more: whether a frame would still come (the loader handing
    // over its last list) is a matter of thread timing, and so is whether
    // the end frame comes in the last running pass or after it.
    const bool stepEnded = frameStepMs_ && endReached && stepEndDrawn_;
    if (!stepWait && !stepEnded && DrawTest(shown)) {
      const bool endFrame = frameStepMs_ && ShowEnds() && shown >= ShowEnd();
      const bool force = forcePending_ || (frameStepMs_ && (active_.load() || endFrame));
      forcePending_ = false;
      DrawFrame(force, passStart);
      if (endFrame) stepEndDrawn_ = true;
    } else if (forcePending_ && !stepWait) {
      // A stepped run waiting for its slides draws them next, not a frame
      // without them.
      forcePending_ = false;
      const std::vector<TOruPreparedSlide> none;
      if (root_) root_->Update(none);
      DrawFrame(true, passStart);
    }
  }

  // The end frame of a stepped run is out, or none can come.
  if (frameStepMs_ &&
      (stepEndDrawn_ || slides_.empty() || !(state & TOruDrawController::dsReady) || !DrawTest(shown)))
    EndCheck(true);

  // Right after a frame, so that neither the first frame nor the
  // transition's first one waits for it; while a slide stands (no frame for
  // two refresh intervals) at once: the next frame may be the transition's
  // first, and the one after it would wait for the work. Not for a window
  // nobody sees: its next frame comes when it shows again.
  const bool standing = firstFrameReported_ && !frameChanged_ &&
                        static_cast<std::uint32_t>(passStart - lastFrameTick_) >= 2 * FrameGap();
  if ((framePresented_ || standing) && !offScreen_ && transitionsDue_ && root_) {
    transitionsDue_ = false;
    root_->PrepareTransitions(controller_.get(), slides_);
  }

  if (std::fabs(shown - static_cast<double>(lastReportedTime_)) > 20) {
    lastReportedTime_ = WholeMs(shown);
    ReportPosition(lastReportedTime_, ShowEnds() ? WholeMs(ShowEnd()) : 0, false);
  }

  lastTick_ = passStart;
  if (frameStepMs_) {
    // Never sleeps while there is something to draw: a pass that drew
    // nothing waits for the loader's list. A screen that stands still shows
    // its frame again each step, paced in real time, so that what counts
    // program time or frames (timers, the run's end) still comes.
    if (!framePresented_ && StandsStill(state, shown)) {
      if (OnFrameStood) OnFrameStood(frameTime_.load());
      WaitForEvents(kStandingStepMs);
    } else if (!framePresented_) {
      WaitForEvents(1);
    }
  } else {
    const std::uint32_t wait = PassWait(shown, state);
    if (OnPassWait) OnPassWait(wait);
    else if (wait) WaitForEvents(wait);
  }
}

bool TOruEngine::StandsStill(std::uint32_t state, double shown) {
  // A frame is on screen and none is to come: the clock stands (not
  // waiting to start, for the music or for slides), and a show that closes
  // at its end is not kept (its end closes the window).
  if (!firstFrameReported_ || active_.load() || musicWait_ || slides_.empty()) return false;
  if (!(state & TOruDrawController::dsReady) || !loader_ || !loader_->SlidesReady(shown)) return false;
  if (source_ && source_->RepeatMode() == kRepeatClose && shown >= ShowEnd()) return false;
  std::lock_guard<std::mutex> g(requestLock_);
  return !pending_;
}

double TOruEngine::NextDueTime(double time) const {
  double due = kNever;
  const auto consider = [&](double at) {
    if (at > time && at < due) due = at;
  };
  // Where a slide, its transition or its visibility begins or ends.
  for (const TOruPreparedSlide& s : slides_) {
    consider(s.Times.Start);
    consider(s.Times.Start + s.Times.OwnLength);
    consider(s.Times.End);
    consider(s.Times.VisibleUntil);
    const auto next = std::upper_bound(s.ChangeTimes.begin(), s.ChangeTimes.end(), time);
    if (next != s.ChangeTimes.end()) consider(*next);
  }
  if (barrier_.Active) consider(barrier_.Time);
  consider(nextRun_.Time);
  if (ShowEnds()) consider(ShowEnd());
  return due;
}

std::uint32_t TOruEngine::PassWait(double shown, std::uint32_t state) {
  const std::uint32_t now = SysTimeMs();
  if (offScreen_) {
    // No frame to make: a look when something is due (a slide's time, an
    // action, the end, the music to start), at the latest after a while.
    std::uint32_t wait = kQuietProbeMs;
    const auto atMost = [&](double ms) {
      wait = std::min(wait, static_cast<std::uint32_t>(std::clamp(std::ceil(ms), 1.0, double(kQuietProbeMs))));
    };
    if (musicWait_) atMost(3);
    if (pauseFollow_) atMost(kPauseLookMs);
    if (active_.load()) {
      nextDue_ = NextDueTime(shown);
      if (nextDue_ < kNever) atMost(nextDue_ - shown);
    }
    return wait;
  }
  // Slides that change only at their known times need no looks in between:
  // such a slide costs a wake-up now and then, not ten a second.
  const bool still = !slides_.empty() && std::all_of(slides_.begin(), slides_.end(), [](const TOruPreparedSlide& s) {
    return s.StillBetweenChanges;
  });
  std::uint32_t wait = still ? kQuietProbeMs : kPausedProbeMs;
  const auto atMost = [&](double ms) {
    const double w = std::clamp(std::ceil(ms), 1.0, static_cast<double>(kQuietProbeMs));
    wait = std::min(wait, static_cast<std::uint32_t>(w));
  };
  const std::uint32_t sinceFrame = now - lastFrameTick_;
  const std::uint32_t gap = FrameGap();
  // The next frame's turn: right after a frame, or for a repaint not drawn yet.
  const double turn = frameDrawn_ && sinceFrame < gap ? double(gap - sinceFrame) : 0.0;
  if (framePresented_ || forcePending_ || stopFramePending_) atMost(turn);
  if (frameChanged_) lastChangeTick_ = now;
  // A start waiting for the music, a screen not ready yet, a panel or dialog
  // of the overlay on screen: each may change without an event.
  if (musicWait_) atMost(3);
  if (pauseFollow_) atMost(kPauseLookMs);
  if (!slides_.empty() && !(state & TOruDrawController::dsReady)) atMost(refreshMs_);
  if (overlay_ && (overlay_->PanelState() != 0 || overlay_->DialogCount() > 0)) atMost(refreshMs_);
  if (active_.load()) {
    // What was due has come: an object may start to move right after its
    // key time, where it still stands, so frames come at their pace again.
    if (shown >= nextDue_) lastChangeTick_ = now;
    // Something moved lately: it may go on moving. A slide that stood still
    // for a while is looked at less often until its next change is due.
    const bool settled = static_cast<std::uint32_t>(now - lastChangeTick_) >= kSettleMs;
    const double probe = still ? double(kQuietProbeMs) : double(kStillProbeMs);
    atMost(settled ? probe : turn > 0 ? turn : double(refreshMs_));
    nextDue_ = NextDueTime(shown);
    if (nextDue_ < kNever) atMost(nextDue_ - shown);
  } else {
    nextDue_ = kNever;
  }
  return wait;
}

// ---- Drawing ----

std::uint32_t TOruEngine::OutsideColor() const {
  if (colorOverride_) return overrideColor_;
  if (!source_ || !source_->HiderColor()) return 0;
  const std::uint8_t* c = source_->HiderColor();
  return (static_cast<std::uint32_t>(c[0]) << 16) | (static_cast<std::uint32_t>(c[1]) << 8) | c[2];
}

double TOruEngine::Unsharp() const {
  if (unsharpOverride_) return overrideUnsharp_;
  return source_ ? source_->UnsharpAmount() : 0;
}

void TOruEngine::DrawFrame(bool force, std::uint32_t tick) {
  if (!root_) return;
  const bool changed = root_->Update(ShownSlides());
  if (!changed && !force) return;
  frameChanged_ = true;
  frameDrawn_ = true;
  lastFrameTick_ = tick;
  lastFrameSize_ = controller_->GetSize();
  // Hover follows objects that move under a resting pointer. The pointer
  // stands: the overlay sees it as a move, never as the press it may have
  // been, and keeps its panel's hover when the pointer is over it.
  if (pointer_.Kind != 0 || pointer_.X != 0 || pointer_.Y != 0) {
    TMouseData resting;
    resting.X = pointer_.X;
    resting.Y = pointer_.Y;
    resting.Shift = pointer_.Shift;
    TOruActionInfo ignored;
    if (!OverlayMouse(resting, ignored)) HitTest(resting, ignored);
  }
  const TRect rect = loader_ ? loader_->ViewRect() : TRect{0, 0, loaderWidth_, loaderHeight_};
  const double shown = loader_ ? loader_->CurrentTime() : heldTime_;
  frameTime_.store(shown);
  if (OnFrameDrawing) OnFrameDrawing(shown);
  // A frame drawn into a window not shown yet is never seen: the window,
  // shown for the first frame, paints its own face and the frame is drawn
  // again. Its slides' objects are left out (drawn, still changed, once the
  // window shows), so that the first frame of a heavy slide is drawn once.
  // Stepped frames are all seen: they are captured where they are drawn.
  TLoadStop unseen;
  if (!frameStepMs_ && !controller_->WindowShown()) unseen.Request();
  bool drawn;
  {
    // An engine told to stop leaves the rest of the frame undrawn.
    const TDrawStopScope stop(unseen.Requested() ? &unseen : &drawStop_);
    drawn = root_->Draw(controller_.get(), rect, OutsideColor(), Unsharp());
  }
  if (!drawn || drawStop_.Requested()) return;
  framePresented_ = true;
  if (OnFramePresented) OnFramePresented(shown);
  if (!firstFrameReported_) {
    firstFrameReported_ = true;
    const TSize size = controller_->GetSize();
    const std::int32_t params[2] = {size.cx, size.cy};
    PostToListener(kFirstFrameEvent, params, false, nullptr);
  }
}

void TOruEngine::RenderImage() {
  // A frame saved as a picture shows no navigation panel.
  if (overlay_) overlay_->HidePanel = true;
  TRefObject* image = root_ ? root_->Render(controller_.get(), loader_ ? loader_->ViewRect() : TRect{},
                                            OutsideColor(), Unsharp())
                            : nullptr;
  if (overlay_) overlay_->HidePanel = false;
  if (!image) {
    LogLine(u"********************* Image not Assigned");
    return;
  }
  LogLine(u"********************* Image ");
  PostToListener(kImageEvent, {}, true, image);
}

// ---- Overlay ----

void TOruEngine::BuildOverlay() {
  if (root_) root_->SetOverlay(nullptr);
  overlay_ = nullptr;
  TFileAccessor* access = source_ ? source_->FileAccessor() : nullptr;
  if (!access || !loader_) return;
  const TSize device = controller_ ? controller_->GetSize() : TSize{loaderWidth_, loaderHeight_};
  overlay_ = TThirdSlide::Build(
      access, source_->Project(), loader_->ViewRect(), WholeMs(ShowEnd()), volume_.load(),
      {loader_->Width(), loader_->Height()}, {std::max(device.cx, 10), std::max(device.cy, 10)},
      [this] { return IsPlaying(); }, [this](double time) { Seek(time); },
      [this](double volume) { SetVolume(static_cast<float>(volume)); }, 0, option_,
      root_ ? root_->RootItem() : nullptr, nullptr);
  if (root_) root_->SetOverlay(overlay_.get());
}

bool TOruEngine::OverlayMouse(const TMouseData& pointer, TOruActionInfo& action) {
  if (!overlay_) return false;
  bool handled = false;
  TOruObject* hit = nullptr;
  const std::int32_t kind = pointer.Kind <= 2 ? pointer.Kind : 3;
  const std::int32_t button = (pointer.Buttons & 1) ? 1 : pointer.Buttons;
  overlay_->MouseEvent(pointer.Shift, pointer.X, pointer.Y, handled, hit, action, kind, button);
  if (handled) {
    const bool onPanel = overlay_->PanelState() == 2;
    hover_.store(onPanel || action.Code != acNone);
    std::lock_guard<std::mutex> g(hoverLock_);
    hoverName_ = onPanel ? WideString(u"NavPanel") : WideString();
  }
  return handled;
}

// ---- Pointer and actions ----

const std::vector<TOruPreparedSlide>& TOruEngine::ShownSlides() {
  // Where the show stands at a "pause" slide's end or at its own end, the
  // slide that would begin there has not begun: the one before stays. A show
  // that ends shows none of the slides a repeat would bring after its last.
  double stop = kNever;
  if (stoppedAtBarrier_.load()) stop = stopTime_;
  else if (ShowEnds() && loader_ && loader_->CurrentTime() >= ShowEnd()) stop = ShowEnd();
  const std::int32_t count = ShowEnds() && source_ ? source_->SlideCount() : 0;
  const auto hidden = [&](const TOruPreparedSlide& s) {
    return (stop != kNever && s.Times.Start >= stop) || (count > 0 && s.Index >= count);
  };
  if (std::none_of(slides_.begin(), slides_.end(), hidden)) return slides_;
  shownSlides_.clear();
  std::copy_if(slides_.begin(), slides_.end(), std::back_inserter(shownSlides_),
               [&](const TOruPreparedSlide& s) { return !hidden(s); });
  return shownSlides_.empty() ? slides_ : shownSlides_;
}

bool TOruEngine::HitTest(const TMouseData& pointer, TOruActionInfo& action) {
  action = TOruActionInfo();
  bool hover = false;
  WideString name;
  // The slides from the last to the first, each only while it is shown.
  double time = loader_ ? loader_->CurrentTime() : heldTime_;
  if (time < 0) time = 0.1;
  if (loader_) {
    const std::vector<TOruPreparedSlide>& shown = ShownSlides();
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
      if (time < it->Times.Start || time > it->Times.VisibleUntil) continue;
      WideString className;
      TOruActionInfo found;
      // An object with an action takes the event, whether it makes the
      // action now (a release) or not (a press, a move).
      if (loader_->HitSlide(it->Container.get(), pointer, time, className, found)) {
        hover = true;
        name = className;
        action = found;
        break;
      }
    }
  }
  hover_.store(hover);
  {
    std::lock_guard<std::mutex> g(hoverLock_);
    hoverName_ = name;
  }
  return hover;
}

void TOruEngine::RunAction(const TOruActionInfo& action, bool byUser) {
  switch (action.Code) {
    case acNone:
      return;
    case acHelp:
      RequestDialog(u"help");
      return;
    case acOpenDialog:
      RequestDialog(action.Text);
      return;
    case acCloseDialog:
      if (overlay_ && overlay_->DialogCount() > 0) {
        overlay_->CloseDialog(-1);
        return;
      }
      break;  // no dialog is open: goes on like the others
    case acPrevSlide:
    case acNextSlide:
    case acGotoSlide:
    case acRunPresentation:
      // Moving on closes the dialog that is open.
      if (overlay_) overlay_->CloseDialog(-1);
      break;
    default:
      break;
  }
  const std::int32_t params[3] = {action.Code, action.Value, byUser ? 0 : 1};
  PostToListener(kActionEvent, params, true, MakeRef<TStrValue>(action.Text).Detach());
}

void TOruEngine::RequestDialog(const WideString& name) {
  if (name.empty() || !overlay_ || !loader_) {
    LogLine(u"TOruEngine: no dialog \"" + name + u"\" to show");
    return;
  }
  if (!loader_->RequestDialog(name, kDialogEvent, loaderSerial_))
    LogLine(u"TOruEngine: the loader makes no dialog \"" + name + u"\"");
}

void TOruEngine::ShowMadeDialog(TRefObject* data) {
  auto* made = dynamic_cast<TDialogData*>(data);
  if (!made) return;
  // Made for a show or loader that is gone: its producer went with it.
  if (made->Token != loaderSerial_ || !overlay_ || !loader_) return;
  if (!made->Dialog) {
    LogLine(u"TOruEngine: the show has no dialog \"" + made->Name + u"\"");
    return;
  }
  if (TDeviceDrawer* drawer = Drawer()) made->Dialog->PrepareResources(*drawer);
  overlay_->ShowDialog(made->Dialog.get());
}

}  // namespace oru

// ---- The player's own parts ------------------------------------------------------------

namespace oru {

namespace {

using namespace zm;

// The drawing lock, so that a slide prepared on the loader thread never
// meets a frame being drawn.
class TDrawingHold {
public:
  TDrawingHold() : lock_(DrawingLock()) {
    if (lock_) lock_->Enter();
  }
  ~TDrawingHold() {
    if (lock_) lock_->Leave();
  }
  TDrawingHold(const TDrawingHold&) = delete;
  TDrawingHold& operator=(const TDrawingHold&) = delete;

private:
  TSafeCriticalSection* lock_;
};

// The bare class name of an object ("TOruButton"), from the compiler's
// mangled name: the last of its length-prefixed parts.
WideString ClassNameOf(const TRefObject& object) {
  const char* p = typeid(object).name();
  std::string last;
  while (*p) {
    if (*p < '0' || *p > '9') {
      ++p;
      continue;
    }
    std::size_t n = 0;
    while (*p >= '0' && *p <= '9' && n < 4096) n = n * 10 + static_cast<std::size_t>(*p++ - '0');
    std::size_t i = 0;
    while (i < n && p[i]) ++i;
    last.assign(p, i);
    p += i;
  }
  return WideString(last.begin(), last.end());
}

class TPlayerLoader : public TOruEngineLoader {
public:
  TPlayerLoader(TOruSource* source, std::int32_t capacity, std::int32_t width, std::int32_t height,
                TThreadEventList* listener, std::int32_t eventId)
      : loader_(MakeRef<TOruSlideLoader>(source, capacity, width, height, false)), size_{width, height} {
    loader_->SetListener(listener, eventId);
  }
  void Dispose() override {
    if (loader_) loader_->Cache()->OnSlidePrepared = nullptr;
    loader_ = nullptr;
    TOruEngineLoader::Dispose();
  }

  bool Start() override { return loader_->Start(); }
  bool Running() override { return loader_->Running(); }
  void WatchMemory(std::int32_t slide) override { loader_->WatchMemory(slide); }
  void Terminate() override { loader_->Terminate(); }
  double CurrentTime() override { return loader_->Timing()->CurrentTime.load(); }
  void SetCurrentTime(double time) override {
    loader_->Timing()->CurrentTime.store(time);
    loader_->TimeMoved(time);
  }
  double RequestedTime() override { return loader_->Timing()->RequestedTime.load(); }
  void SetRequestedTime(double time) override { loader_->Timing()->RequestedTime.store(time); }
  std::int32_t Width() override { return loader_->Width; }
  std::int32_t Height() override { return loader_->Height; }
  std::int32_t WindowKind() override { return loader_->WindowKind(); }
  void SetSize(std::int32_t width, std::int32_t height) override { size_ = TSize{width, height}; }
  void Layout(bool cover) override { loader_->Layout(size_, cover); }
  TRect ViewRect() override { return loader_->GetViewRect(); }
  std::int32_t Capacity() override { return loader_->Cache() ? loader_->Cache()->Capacity() : 0; }
  void SetPreloadCallback(std::function<void(TRefObject* container)> callback) override {
    if (!loader_->Cache()) return;
    if (!callback) {
      loader_->Cache()->OnSlidePrepared = nullptr;
      return;
    }
    loader_->Cache()->OnSlidePrepared = [callback](TSlideCache*, TDrawContainer* c) { callback(c); };
  }
  bool TakeList(TRefObject* data, std::vector<TOruPreparedSlide>& slides) override {
    auto* list = dynamic_cast<TSlideData*>(data);
    if (!list) return false;
    slides.clear();
    const std::int32_t n = std::clamp(list->Count, 0, kSlideCacheMaxCapacity);
    for (std::int32_t i = 0; i < n; ++i) {
      TDrawContainer* c = list->Containers[static_cast<std::size_t>(i)].get();
      if (!c) continue;
      TOruPreparedSlide s;
      s.Container = TRef<TRefObject>(c);
      s.Index = c->Index;
      s.Times = c->Times;
      s.ChangeTimes = c->ChangeTimes;
      s.StillBetweenChanges = c->StillBetweenChanges;
      slides.push_back(std::move(s));
    }
    return true;
  }
  bool SlidesReady(double time) override { return loader_->SlidesReady(time); }
  bool RequestDialog(const WideString& name, std::int32_t replyEventId, std::int32_t token) override {
    loader_->RequestDialog(name, replyEventId, token);
    return true;
  }

  void PrepareSlide(TRefObject* container, TDeviceDrawer* drawer) override {
    auto* c = dynamic_cast<TDrawContainer*>(container);
    if (!c || !c->Slide || !drawer) return;
    TDrawingHold hold;
    c->Slide->PrepareResources(*drawer);
  }
  void PrepareNewSlide(TRefObject* container, TDeviceDrawer* drawer) override {
    auto* c = dynamic_cast<TDrawContainer*>(container);
    if (!c || !c->Slide || !drawer) return;
    // No frame draws this slide yet: the drawer takes its locks a texture
    // tile at a time, where holding the drawing lock here would hold every
    // frame for the whole upload.
    c->Slide->PrepareResources(*drawer);
  }
  void StartSlide(TRefObject* container, double localTime) override {
    auto* c = dynamic_cast<TDrawContainer*>(container);
    if (c && std::isfinite(localTime)) c->SetTime(c->Times.Start + localTime);
  }
  void ReleaseSlide(TRefObject* container, TDeviceDrawer* drawer) override {
    auto* c = dynamic_cast<TDrawContainer*>(container);
    if (!c || !c->Slide || !drawer) return;
    TDrawingHold hold;
    c->Slide->ReleaseResources(*drawer);
  }
  bool HitSlide(TRefObject* container, const TMouseData& pointer, double time, WideString& className,
                TOruActionInfo& action) override {
    (void)time;
    auto* c = dynamic_cast<TDrawContainer*>(container);
    if (!c || !c->Slide) return false;
    // The left button held: the press itself, or a move (or a frame's
    // repeat of the resting pointer) while it is down, so that the object
    // keeps its pressed look until the release.
    const std::uint32_t keys = ((pointer.Buttons & 1) || (pointer.Shift & zm::ssLeft)) ? kSlideMouseLeftHeld : 0;
    // Only the left button presses objects; the others pass over them. A
    // record without buttons (a move, the repeat of a frame) counts as left.
    const bool left = (pointer.Buttons & 1) || pointer.Buttons == 0;
    const std::int32_t button = left ? kSlideMouseLeft : kSlideMouseLeft + 1;
    TOruObject* hit = c->Slide->HandleMouse(keys, static_cast<float>(pointer.X), true, action, pointer.Kind, button,
                                            static_cast<float>(pointer.Y));
    if (!hit || ParseActionString(hit->Action).IsEmpty()) return false;
    className = ClassNameOf(*hit);
    return true;
  }

private:
  TRef<TOruSlideLoader> loader_;
  TSize size_;
};

class TPlayerRoot : public TOruEngineRoot {
public:
  TPlayerRoot() : root_(TRootItem::Create(true)) {}
  void Dispose() override {
    overlay_ = nullptr;
    previousOverlay_ = nullptr;
    root_ = nullptr;
    TOruEngineRoot::Dispose();
  }

  bool Update(const std::vector<TOruPreparedSlide>& slides) override {
    std::vector<TDrawContainer*> list;
    for (const TOruPreparedSlide& s : slides)
      if (auto* c = dynamic_cast<TDrawContainer*>(s.Container.get())) list.push_back(c);
    root_->Update(list.data(), static_cast<std::int32_t>(list.size()), overlay_.get());
    previousOverlay_ = nullptr;
    return root_->IsChanged();
  }
  bool Draw(TOruDrawController* controller, const TRect& slideRect, std::uint32_t outsideColor,
            double unsharp) override {
    TDeviceDrawer* drawer = Begin(controller, slideRect, outsideColor, unsharp);
    return drawer && controller->Draw(root_.get());
  }
  void PrepareTransitions(TOruDrawController* controller, const std::vector<TOruPreparedSlide>& slides) override {
    TOruDrawerLink* link = controller ? controller->DrawerLink() : nullptr;
    auto* drawer = dynamic_cast<T3DDrawer*>(link ? link->Drawer() : nullptr);
    if (!drawer) return;
    // The outgoing slide is the entry before, as the root item pairs them.
    TDrawContainer* previous = nullptr;
    for (const TOruPreparedSlide& s : slides) {
      auto* c = dynamic_cast<TDrawContainer*>(s.Container.get());
      if (!c) continue;
      auto* f = dynamic_cast<TOruFilter*>(c->Filter.get());
      if (previous && f && f->Effect && !f->FilterMade) {
        drawer->PrepareTransition(previous->Slide.get(), f);
        // A slide pushed out leaves the whole pixels its pictures were
        // readied at: they are drawn from their levels' own textures, made
        // now rather than by the transition's second frame.
        if (previous->Slide && T3DDrawer::MovesOutgoingSlide(f)) {
          const T3DDrawer::TMovedPreparation moved;
          previous->Slide->PrepareResources(*drawer);
        }
      }
      previous = c;
    }
  }
  TRefObject* Render(TOruDrawController* controller, const TRect& slideRect, std::uint32_t outsideColor,
                     double unsharp) override {
    TDeviceDrawer* drawer = Begin(controller, slideRect, outsideColor, unsharp);
    if (!drawer) return nullptr;
    // The frame is read back from the unpresented back buffer, so the read
    // happens inside capture mode too.
    struct TCaptureScope {
      TDeviceDrawer* D;
      ~TCaptureScope() { D->CaptureMode = false; }
    } capture{drawer};
    drawer->CaptureMode = true;
    return controller->Draw(root_.get()) ? drawer->CaptureFrame().Detach() : nullptr;
  }
  void SetOverlay(TDrawItem* overlay) override {
    // The root item's list still names the old one until the next Update.
    if (overlay_) previousOverlay_ = overlay_;
    overlay_ = TRef<TDrawItem>(overlay);
  }
  TRootItem* RootItem() override { return root_.get(); }

private:
  TDeviceDrawer* Begin(TOruDrawController* controller, const TRect& slideRect, std::uint32_t outsideColor,
                       double unsharp) {
    TOruDrawerLink* link = controller ? controller->DrawerLink() : nullptr;
    TDeviceDrawer* drawer = link ? link->Drawer() : nullptr;
    if (!drawer) return nullptr;
    drawer->SetClipRect(slideRect);
    root_->OutsideColour = outsideColor & 0xFFFFFF;
    root_->SharpenAmount = std::isfinite(unsharp) ? static_cast<float>(unsharp) : 0.0f;
    return drawer;
  }

  TRef<TRootItem> root_;
  TRef<TDrawItem> overlay_;
  TRef<TDrawItem> previousOverlay_;
};

class TPlayerParts : public TOruShowParts {
public:
  TRef<TOruEngineLoader> MakeLoader(TOruSource* source, std::int32_t capacity, std::int32_t width,
                                    std::int32_t height, TThreadEventList* listener, std::int32_t eventId) override {
    if (!source) return nullptr;
    return MakeRef<TPlayerLoader>(source, capacity, width, height, listener, eventId);
  }
  TRef<TOruEngineRoot> MakeRoot() override { return MakeRef<TPlayerRoot>(); }
};

}  // namespace

TRef<TOruShowParts> MakePlayerShowParts() { return MakeRef<TPlayerParts>(); }

}  // namespace oru
