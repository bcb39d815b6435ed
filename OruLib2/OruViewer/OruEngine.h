#pragma once
// TOruEngine: the thread that plays a show. It owns the show clock, decides
// in every pass whether the show plays or stands, keeps the slide loader in
// step with the clock, stops at slides that wait for the user, loops where a
// slide loops, draws each frame through the draw controller and reports the
// position to the user-interface thread. Other threads talk to it only
// through events posted to its queue; it answers through TOruEventData
// records posted to its listener.
//
// Times are milliseconds of show time. The loader, its slides and the root
// drawing item are reached through TOruShowParts, so that the engine can be
// driven pass by pass (tests) over simpler parts than the player's own.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "OruLib2/OruClasses/OruActions.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruViewer/OruFrameInterpolation.h"
#include "OruLib2/OruViewer/OruMusicPlayer.h"
#include "OruLib2/OruViewer/OruThreads.h"
#include "OruLib2/Overlay/OruThirdSlide.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

// ---- Records exchanged with the engine ------------------------------------------

// An open (Source or Ini given) or a move (neither) of the show.
class TOpenParams : public zm::TRefObject {
public:
  void Dispose() override;
  bool IsOpen() const { return Source || Ini; }
  bool Paused = false;
  std::int32_t Generation = 0;
  zm::TRef<TOruSource> Source;  // a show made already
  zm::TRef<TFileAccessor> FileAccess;
  zm::TRef<zm::TIniFile> Ini;  // a show to make; nil for a position request
  std::int32_t Time = 0;
};

class TModeData : public zm::TRefObject {
public:
  bool Paused = false;
};

class TMouseData : public zm::TRefObject {
public:
  std::uint8_t Kind = 0;
  std::int32_t X = 0;
  std::int32_t Y = 0;
  std::int32_t Buttons = 0;
  std::uint8_t Shift = 0;
  TOruActionInfo Action;
};

class TStrValue : public zm::TRefObject {
public:
  explicit TStrValue(WideString value = {}) : Value(std::move(value)) {}
  WideString Value;
};

// ---- The parts the engine drives -------------------------------------------------

// A prepared slide as the engine holds it: the loader's container, the
// five times of its index and the show times at which its objects may
// start or stop moving (sorted; empty when the loader cannot tell).
struct TOruPreparedSlide {
  zm::TRef<zm::TRefObject> Container;
  std::int32_t Index = 0;
  TSlideSpan Times;  // Start, End, OwnLength (transition in), NextLength, VisibleUntil
  std::vector<double> ChangeTimes;
  // Nothing changes between those times unannounced (false: unknown).
  bool StillBetweenChanges = false;
};

// One slide loader per opened show: its thread prepares the slides ahead of
// the clock and sends their list to the engine's queue.
class TOruEngineLoader : public zm::TRefObject {
public:
  virtual bool Start() = 0;
  virtual bool Running() = 0;
  virtual void Terminate() = 0;
  // The time the show shows (the slides read it) and the clock's time.
  virtual double CurrentTime() = 0;
  virtual void SetCurrentTime(double time) = 0;
  virtual double RequestedTime() = 0;
  virtual void SetRequestedTime(double time) = 0;
  // Window wanted by the show: size and kind (0 full screen, 1 framed, 2
  // without frame).
  virtual std::int32_t Width() = 0;
  virtual std::int32_t Height() = 0;
  virtual std::int32_t WindowKind() = 0;
  virtual void SetSize(std::int32_t width, std::int32_t height) = 0;
  virtual void Layout(bool cover) = 0;
  virtual zm::TRect ViewRect() = 0;
  virtual std::int32_t Capacity() = 0;
  // Called on the loader thread with every newly prepared container.
  virtual void SetPreloadCallback(std::function<void(zm::TRefObject* container)> callback) = 0;
  // The prepared-slide list carried by a list event (the loader's data).
  virtual bool TakeList(zm::TRefObject* data, std::vector<TOruPreparedSlide>& slides) = 0;
  // True when the slides a frame at Time needs are all in the engine's list
  // (exact frame stepping waits for it).
  virtual bool SlidesReady(double time) {
    (void)time;
    return true;
  }
  // Asks the loader thread to make the dialog Name and post it, as a
  // TDialogData carrying Token, to the list's listener under ReplyEventId.
  // False when this loader makes no dialogs.
  // A look at the memory the process holds while the show plays (what is
  // built decodes ahead): past the limit the show is refused, naming Slide.
  virtual void WatchMemory(std::int32_t slide) { (void)slide; }
  virtual bool RequestDialog(const WideString& name, std::int32_t replyEventId, std::int32_t token) {
    (void)name;
    (void)replyEventId;
    (void)token;
    return false;
  }

  // ---- The loader's containers ----
  // Resources made for the drawer (any thread: under the drawing lock).
  virtual void PrepareSlide(zm::TRefObject* container, zm::TDeviceDrawer* drawer) = 0;
  // The same for a container no frame draws yet (the loader thread, before
  // the container joins a list): it may run while a frame is drawn.
  virtual void PrepareNewSlide(zm::TRefObject* container, zm::TDeviceDrawer* drawer) {
    PrepareSlide(container, drawer);
  }
  virtual void StartSlide(zm::TRefObject* container, double localTime) = 0;
  virtual void ReleaseSlide(zm::TRefObject* container, zm::TDeviceDrawer* drawer) = 0;
  // True when the object under the pointer has an action; Action is what the
  // event makes it do (Code 0: nothing yet, as on a press, or another button
  // than the left one).
  virtual bool HitSlide(zm::TRefObject* container, const TMouseData& pointer, double time, WideString& className,
                        TOruActionInfo& action) = 0;
};

// The root drawing item with the drawer it draws through.
class TOruEngineRoot : public zm::TRefObject {
public:
  // Takes the prepared slides; false when nothing changed since the last call.
  virtual bool Update(const std::vector<TOruPreparedSlide>& slides) = 0;
  // One frame of the slide rectangle; true when it was presented.
  virtual bool Draw(TOruDrawController* controller, const zm::TRect& slideRect, std::uint32_t outsideColor,
                    double unsharp) = 0;
  // The frame drawn off screen; nil when there is none.
  virtual zm::TRefObject* Render(TOruDrawController* controller, const zm::TRect& slideRect,
                                 std::uint32_t outsideColor, double unsharp) = 0;
  // Between frames: readies the transitions of the slides ahead, so that
  // their first frames do not make them.
  virtual void PrepareTransitions(TOruDrawController* controller, const std::vector<TOruPreparedSlide>& slides) {
    (void)controller;
    (void)slides;
  }
  // The overlay drawn above the slides (nil: none); roots without one
  // ignore it.
  virtual void SetOverlay(zm::TDrawItem* overlay) { (void)overlay; }
  // The drawing item the overlay fills the bands through; nil when none.
  virtual TRootItem* RootItem() { return nullptr; }
};

class TOruShowParts : public zm::TRefObject {
public:
  // The loader sends its slide lists to Listener with event EventId.
  virtual zm::TRef<TOruEngineLoader> MakeLoader(TOruSource* source, std::int32_t capacity, std::int32_t width,
                                                std::int32_t height, zm::TThreadEventList* listener,
                                                std::int32_t eventId) = 0;
  virtual zm::TRef<TOruEngineRoot> MakeRoot() = 0;
};

// The player's own parts: the slide loader thread with its cache, and the
// root drawing item.
zm::TRef<TOruShowParts> MakePlayerShowParts();

// ---- The engine -----------------------------------------------------------------------

class TOruEngine : public TCustomOruEngine {
public:
  static constexpr std::int32_t kMouseEvent = 11;
  // Params: the code, the value, and 1 when no click or key of the user
  // asked for it (a program a slide runs at its start).
  static constexpr std::int32_t kActionEvent = 12;
  static constexpr std::int32_t kRenderEvent = 13;
  static constexpr std::int32_t kImageEvent = 14;
  static constexpr std::int32_t kCloseDialogEvent = 15;
  static constexpr std::int32_t kHelpEvent = 16;
  static constexpr std::int32_t kWindowEvent = 17;
  // The show cannot be held (TStrValue: why); it plays no further.
  static constexpr std::int32_t kRefusedEvent = 18;
  static constexpr std::int32_t kSlideListEvent = 101;
  static constexpr std::int32_t kOpenEvent = 102;
  static constexpr std::int32_t kModeEvent = 103;
  // A dialog made by the loader (TDialogData).
  static constexpr std::int32_t kDialogEvent = 104;
  // The loader refused the show (TShowRefusal).
  static constexpr std::int32_t kLoaderRefusedEvent = 105;
  static constexpr std::int32_t kCacheCapacity = 3;
  // How long stopping waits for the slide loader (real time) before it is
  // logged and left running: a show always stops within 5 s.
  static constexpr std::int32_t kLoaderStopWaitMs = 4000;
  static constexpr std::uint32_t kStandingStepMs = 5;
  static constexpr std::int32_t kNoSlide = 2147483646;
  static constexpr double kNever = 3.4e38;
  // Real clock: at most one frame per refresh interval; a slide that stood
  // still for kSettleMs is looked at every kStillProbeMs (modifiers, videos
  // and animated pictures may change unannounced) and woken when its next
  // change is due (an object's key frame among them); a show that does not play
  // looks every kPausedProbeMs (pictures that arrive late) unless woken.
  // Slides known to change only at their change times are looked at every
  // kQuietProbeMs, playing or not.
  static constexpr std::uint32_t kRefreshMs = 16;
  // A frame may begin this long before its turn: the present waits for the
  // turn itself, and a frame begun late has less time to be drawn.
  static constexpr std::uint32_t kFrameLeadMs = 4;
  static constexpr std::uint32_t kSettleMs = 500;
  static constexpr std::uint32_t kStillProbeMs = 100;
  static constexpr std::uint32_t kPausedProbeMs = 250;
  static constexpr std::uint32_t kQuietProbeMs = 1000;
  // After a pause of synchronised music: how often, and how many times at
  // most, the engine looks whether the player knows where it fell silent.
  static constexpr std::uint32_t kPauseLookMs = 5;
  static constexpr std::int32_t kPauseLooks = 60;

  // Listener gets the engine's events (the application's event list); Parts
  // nil takes the player's own. Created paused as a rule.
  TOruEngine(zm::TDrawDevice* device, std::uint8_t option, bool paused, bool ownsDevice, zm::TPostEventList* listener,
             zm::TRef<TOruShowParts> parts = nullptr,
             TOruDrawController::TDrawerFactory drawerFactory = nullptr);
  void Dispose() override;

  void HandleEvent(zm::TRefObject* sender, std::int32_t id, bool& handled, zm::TRefObject* data) override;
  void DoStart() override;
  void DoStop() override;
  void Step() override;
  bool Stop(std::uint32_t timeoutMs = kDisposeWaitMs) override;
  bool Start() override;
  // Also ends a frame being drawn at its next object.
  void Terminate() override;

  // Opens a show on the calling thread (before the engine thread runs, or on
  // it); Ini must be given. False when no show could be made.
  bool OpenShow(TFileAccessor* fileAccess, zm::TIniFile* ini, std::int32_t time);
  // The same with the show's source made already (it is shared, not copied:
  // the engine takes a reference); false for nil.
  bool OpenShow(TOruSource* source, std::int32_t time);
  // Queues an open (Ini given) or a move; returns the request's generation.
  std::int32_t RequestOpen(TFileAccessor* fileAccess, zm::TIniFile* ini, std::int32_t time, bool paused);
  // Queues an open of a source made already (a move when nil).
  std::int32_t RequestOpen(TOruSource* source, std::int32_t time, bool paused);
  std::int32_t RequestPosition(std::int32_t time, bool paused);
  void RequestPause(bool paused);

  void StopLoader(bool freeLoader, bool freePlayer);
  void SetActive(bool on);
  double GetShowTime();
  // The overlay's callbacks (engine thread): volume, play state, and a seek
  // (an action for the user-interface thread).
  void SetVolume(float volume);
  bool IsPlaying() const { return !paused_.load(); }
  void Seek(double time);

  // ---- Set by the viewer before the thread starts ----
  // With a step, the program clock advances by exactly that many ms per
  // presented frame (the platform does that); the engine then never sleeps,
  // reads the clock unsmoothed, draws every frame while the clock runs, and
  // only frames whose slides are all prepared, so no frame depends on
  // thread timing.
  void SetFrameStep(std::uint32_t ms) { frameStepMs_ = ms; }
  // The display's refresh interval (ms, at least 1); before the thread starts.
  void SetRefreshInterval(std::uint32_t ms) { refreshMs_ = std::max<std::uint32_t>(ms, 1); }
  void SetBarriersEnabled(bool on) { barriersEnabled_ = on; }
  void SetCover(bool on) { cover_ = on; }
  void SetColorOverride(bool on, std::uint32_t color) { colorOverride_ = on, overrideColor_ = color & 0xFFFFFF; }
  void SetUnsharpOverride(bool on, double value) { unsharpOverride_ = on, overrideUnsharp_ = value; }
  // Called on the engine thread after each presented frame with its show time.
  std::function<void(double showTime)> OnFramePresented;
  // Stepped clock: called on the engine thread for each step the screen
  // stands still (paused, held at a slide, at the end of a show that stops
  // there), about every kStandingStepMs of real time, with the show time of
  // the frame on screen: the frame counts again, and the clock goes on.
  std::function<void(double showTime)> OnFrameStood;
  // Right before a frame is drawn, with the show time it will show.
  std::function<void(double showTime)> OnFrameDrawing;
  // Tests: takes the place of the real-clock wait that ends a pass, with
  // how long the pass would wait for an event (ms).
  std::function<void(std::uint32_t ms)> OnPassWait;

  // ---- State, read from any thread ----
  bool Paused() const { return paused_.load(); }
  bool Active() const { return active_.load(); }
  bool StoppedAtBarrier() const { return stoppedAtBarrier_.load(); }
  // Lets the show go on from the "pause" slide it stands at; false when it
  // stands at none (any thread).
  bool GoOn() {
    bool stopped = true;
    return stoppedAtBarrier_.compare_exchange_strong(stopped, false);
  }
  std::int32_t PlayingGeneration() const { return playingGeneration_.load(); }
  // The show time of the frame drawn last (or being drawn).
  double FrameTime() const { return frameTime_.load(); }
  bool Hover() const { return hover_.load(); }
  WideString HoverName();

  // ---- Engine thread, open for tests ----
  TOruSource* Source() const { return source_.get(); }
  TOruEngineLoader* Loader() const { return loader_.get(); }
  TOruMusicPlayer* Player() const { return player_.get(); }
  const std::vector<TOruPreparedSlide>& Slides() const { return slides_; }
  struct TNextRun {
    std::int32_t Index = kNoSlide;
    double Time = kNever;
    WideString FileName;
  };
  struct TBarrier {
    bool Active = false;
    std::int32_t Index = kNoSlide;
    double Time = kNever;
    double LoopLength = 0;
  };
  const TNextRun& NextRun() const { return nextRun_; }
  const TBarrier& Barrier() const { return barrier_; }
  double HeldTime() const { return heldTime_; }
  // The overlay of the open show; nil before one is open.
  TThirdSlide* Overlay() const { return overlay_.get(); }
  // Whether the overlay showed a dialog at the last pass (any thread).
  bool OverlayShowsDialog() const { return overlayDialog_.load(); }

private:
  void ProcessRequest();
  void OpenInternal(zm::TRef<TOruSource> source, bool reopen, double time);
  // What the loader's preload callback reaches the drawer through.
  class TPreloadLink : public zm::TRefObject {
  public:
    std::mutex Lock;
    TOruDrawController* Controller = nullptr;  // guarded by Lock; nil once cut
  };
  static void PreloadCallback(TPreloadLink* preload, TOruEngineLoader* loader, zm::TRefObject* container);
  void ComputeNextRun(double time);
  void ComputeBarrier(double time);
  void MoveTo(double time);
  bool ShowEnds() const;
  double ShowEnd() const;
  bool Covered(double time) const;
  bool DrawTest(double time) const;
  // The prepared slides that may show: while the show stands at a "pause"
  // slide or at its end, not those that would begin there.
  const std::vector<TOruPreparedSlide>& ShownSlides();
  bool IsMusicReady();
  // A pause of synchronised music: the show moves on to where the music's
  // sound fell silent, once the player knows it, and stands there.
  void FollowPause();
  // Report: tell the listener the end (once); otherwise the time is only held there.
  void EndCheck(bool report);
  // Tick: the pass's start, the frame's turn on the real clock.
  void DrawFrame(bool force, std::uint32_t tick);
  // The next show time after Time at which the prepared slides, their
  // objects, the barrier, a program to run or the show's end change what is
  // shown.
  double NextDueTime(double time) const;
  // Stepped clock: a frame is on screen and, while nothing happens, none
  // is to come (see OnFrameStood).
  bool StandsStill(std::uint32_t state, double shown);
  // How long the pass may wait for events on the real clock.
  std::uint32_t PassWait(double shown, std::uint32_t state);
  bool HitTest(const TMouseData& pointer, TOruActionInfo& action);
  // ByUser: a click or a key of the user asked for it.
  void RunAction(const TOruActionInfo& action, bool byUser = true);
  // The loader makes the dialog; it shows once its reply arrives.
  void RequestDialog(const WideString& name);
  void ShowMadeDialog(zm::TRefObject* data);
  void RenderImage();
  void BuildOverlay();
  // True when the overlay took the pointer event; Action is then its own.
  bool OverlayMouse(const TMouseData& pointer, TOruActionInfo& action);
  void ReportPosition(std::int32_t time, std::int32_t end, bool ended);
  zm::TRef<TOruMusicPlayer> MakePlayer();
  std::uint32_t OutsideColor() const;
  double Unsharp() const;
  void ResetReports();
  zm::TDeviceDrawer* Drawer() const;

  zm::TRef<TOruShowParts> parts_;
  zm::TRef<TOruSource> source_;
  std::atomic<bool> paused_{true};
  std::atomic<std::int32_t> playingGeneration_{0};
  std::mutex requestLock_;
  zm::TRef<TOpenParams> pending_;     // guarded by requestLock_
  zm::TRef<TOpenParams> processing_;  // guarded by requestLock_
  zm::TRef<TOruDrawController> controller_;
  zm::TRef<TOruEngineRoot> root_;
  zm::TRef<TThirdSlide> overlay_;
  std::atomic<bool> active_{false};
  double heldTime_ = 0;
  zm::TRef<TOruMusicPlayer> player_;
  std::uint8_t option_ = 0;
  zm::TRef<TOruEngineLoader> loader_;
  zm::TRef<TPreloadLink> preloadLink_;  // the loader's way to the drawer
  zm::TLoadStop drawStop_;  // asked for by Terminate, looked at between a frame's objects
  // Counts the loaders made: a dialog made by an earlier one is dropped.
  std::int32_t loaderSerial_ = 0;
  std::atomic<bool> overlayDialog_{false};
  std::vector<TOruPreparedSlide> slides_;
  std::vector<TOruPreparedSlide> shownSlides_;  // ShownSlides' list when it leaves some out
  bool firstFrameReported_ = false;
  std::int32_t lastReportedTime_ = INT32_MIN + 1;
  TMouseData pointer_;
  TNextRun nextRun_;
  TBarrier barrier_;
  std::atomic<bool> stoppedAtBarrier_{false};
  double stopTime_ = kNever;  // where the show last stopped at a "pause" slide
  bool endReported_ = false;
  bool stepEndDrawn_ = false;  // a stepped run drew its frame at the show's end
  std::atomic<float> volume_{1.0f};
  bool framePresented_ = false;
  bool transitionsDue_ = false;  // a new slide list whose transitions are not readied yet
  bool colorOverride_ = false;
  std::uint32_t overrideColor_ = 0;
  bool unsharpOverride_ = false;
  double overrideUnsharp_ = 0;
  std::uint32_t lastTick_ = 0;
  std::uint32_t refreshMs_ = kRefreshMs;
  // The least time from one frame's start to the next one's.
  std::uint32_t FrameGap() const { return refreshMs_ > kFrameLeadMs ? refreshMs_ - kFrameLeadMs : 1; }
  bool forcePending_ = false;    // a repaint or new size waits for its frame
  bool offScreen_ = false;       // nobody sees the window: frames wait for it
  bool stopFramePending_ = false;  // the frame where the show stopped waits for its turn
  bool frameDrawn_ = false;      // a frame was drawn since the engine started
  bool windowSeen_ = false;      // the window has shown, the clock may run
  bool frameChanged_ = false;    // this pass drew
  bool musicWait_ = false;       // the clock waits for the music to be ready
  // A pause that follows its music to where it fell silent: the player's
  // clock and the show time where it stood, the clock's offset then.
  bool pauseFollow_ = false;
  std::int32_t pauseLooks_ = 0;
  double pauseClock_ = 0;
  double pauseShown_ = 0;
  double pauseOffset_ = 0;
  std::uint32_t lastFrameTick_ = 0;
  zm::TSize lastFrameSize_;  // the device's size at the last frame
  std::uint32_t lastChangeTick_ = 0;
  double nextDue_ = kNever;  // NextDueTime at the last pass that played
  bool barriersEnabled_ = true;
  std::atomic<bool> hover_{false};
  std::mutex hoverLock_;
  WideString hoverName_;  // guarded by hoverLock_
  std::int32_t loaderWidth_ = 640;
  std::int32_t loaderHeight_ = 480;
  bool cover_ = false;
  std::uint32_t frameStepMs_ = 0;
  std::atomic<double> frameTime_{0};
  zm::TRef<TFrameInterpolator> interpolator_;
};

}  // namespace oru
