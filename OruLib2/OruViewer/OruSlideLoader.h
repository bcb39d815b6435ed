#pragma once
// The slide loader: builds the coming slides off the engine thread. The
// engine writes the show time into the loader's timing on every pass; the
// loader keeps its slide cache up to date for that time and hands each new
// list of prepared slides to the engine's queue. It also carries the window
// parameters the show asks for.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "OruLib2/OruClasses/OruSlideCache.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruViewer/OruThreads.h"
#include "ZmLib/Application2/zmThreadEventList.h"
#include "ZmLib/wpLoadCallBack.h"

namespace oru {

// The show times shared by the engine (writer) and the loader and the
// prepared slides (readers). Atomic so that each read sees one whole value.
class TTiming : public ITiming {
public:
  double GetTime() override { return CurrentTime.load(std::memory_order_relaxed); }

  // The time the show shows now (ms).
  std::atomic<double> CurrentTime{0};
  // The clock's time (ms); equal to CurrentTime except at a barrier or loop.
  std::atomic<double> RequestedTime{0};
};

// A snapshot of the cache's list, as the engine receives it (event data of
// the loader's listener event). The receiver copies what it keeps: the
// loader frees the snapshot after the send.
class TSlideData : public zm::TRefObject {
public:
  void Dispose() override;

  std::array<zm::TRef<TDrawContainer>, kSlideCacheMaxCapacity> Containers;
  std::int32_t Count = 0;
};

// A dialog the loader made on request (event data of the reply). Dialog is
// nil when the show has no such dialog or it could not be made.
class TDialogData : public zm::TRefObject {
public:
  void Dispose() override;

  WideString Name;
  std::int32_t Token = 0;  // the requester's, handed back unchanged
  std::int32_t ReplyEventId = 0;
  zm::TRef<TOruDialog> Dialog;
};

// Why the show cannot be held (event data of the loader's refusal).
class TShowRefusal : public zm::TRefObject {
public:
  explicit TShowRefusal(WideString text) : Text(std::move(text)) {}
  WideString Text;
};

// The window a show asks for.
class TSlideShowParams : public TOruThread {
public:
  void Dispose() override;

  std::int32_t Width = 0;
  std::int32_t Height = 0;
  WideString Caption = u"OruShow";
  bool Framed = false;
  TOruSource* Source() const { return source_; }
  bool OwnsSource() const { return ownsSource_; }
  // The source's show description.
  zm::TIniFile* Project() const { return source_ ? source_->Project() : nullptr; }

protected:
  TOruSource* source_ = nullptr;  // one reference when owned
  bool ownsSource_ = false;
};

class TOruSlideLoader : public TSlideShowParams {
public:
  static constexpr std::int32_t kEngineEventId = 101;
  // On the loader's own queue: a dialog to make (TDialogData without Dialog).
  static constexpr std::int32_t kMakeDialogEvent = 1;
  // To the listener: the show cannot be held (TShowRefusal). A slide whose
  // build would take the memory the player holds past its limit
  // (MemoryLimitBytes) ends there, and the loader builds nothing more.
  static constexpr std::int32_t kRefusedEvent = 105;
  // A pass that built a slide sleeps this long unless woken; one whose build
  // failed tries again after kRetryMs. A pass with nothing left to build
  // sleeps until the show time leaves the span in which the list stays the
  // same (TimeMoved), an event or a stop; kSettledSleepMs at most.
  static constexpr std::uint32_t kPassSleepMs = 10;
  static constexpr std::uint32_t kRetryMs = 250;
  static constexpr std::uint32_t kSettledSleepMs = 1000;

  // Source must be given (assertion). Width and Height are the size the
  // slides are built for; the window fields (Width, Height, Caption,
  // Framed) come from the primary screen and the show's options.
  // OwnsSource: the loader takes over the caller's reference.
  TOruSlideLoader(TOruSource* source, std::int32_t cacheCapacity, std::int32_t width, std::int32_t height,
                  bool ownsSource);
  // Stops the thread (waiting as long as it takes) before anything it uses
  // goes.
  void Dispose() override;
  // Also stops the slide being built: it ends at its next step (between two
  // objects, or between the steps of a picture).
  void Terminate() override;
  bool Start() override;

  // 0 full screen, 1 framed window, 2 window without frame.
  std::int32_t WindowKind() const;
  // Lays the slides out for the window size (Width x Height) or for Size.
  // Before the thread starts or while it is stopped.
  void Layout(bool cover);
  void Layout(zm::TSize size, bool cover);
  zm::TRect GetViewRect() const;

  // The list changes go to Queue under EventId (nil: nowhere). Set before
  // the thread starts.
  void SetListener(zm::TThreadEventList* queue, std::int32_t eventId = kEngineEventId);
  zm::TThreadEventList* ListenerQueue() const { return listenerQueue_.get(); }
  std::int32_t ListenerEventId() const { return listenerEventId_; }

  // Makes the dialog Name on the loader thread, which owns the producer, and
  // posts it as a TDialogData (Name and Token as given) to the listener
  // under ReplyEventId. Nothing is posted once the loader stops or without
  // a listener.
  void RequestDialog(const WideString& name, std::int32_t replyEventId, std::int32_t token);
  void HandleEvent(zm::TRefObject* sender, std::int32_t id, bool& handled, zm::TRefObject* data) override;

  // One pass, then a sleep (above) unless woken.
  void Step() override;
  // The writer of the timing's current time tells the loader (any thread):
  // a time outside the span of the last settled pass wakes it; a loader
  // still building finds the time on its next pass.
  void TimeMoved(double time);
  // One pass: the cache brought to the timing's current time (at most one
  // slide built). False when a slide was built; true when there was nothing
  // left to build, the build failed (logged) or the time is not finite.
  // Loader thread only, or a caller while the thread does not run.
  bool Pass();

  // ---- Waiting for slides (exact frame stepping) -------------------------------------
  // True once a pass at exactly Time (the timing's current time) had
  // nothing left to build, or failed, and the listener has taken every list
  // of that pass: the slides a frame at Time needs are all in its list.
  // When not, the loader is woken for its next pass at once.
  bool SlidesReady(double time);
  // Blocks until SlidesReady(Time) or the time-out (false). Only for a
  // caller that does not have to drain the listener queue meanwhile (with
  // SendDirect, or another listener thread).
  bool WaitSlidesReady(double time, std::uint32_t timeoutMs);
  // Called on the loader thread when a pass makes the slides ready (once
  // per time); a waiting engine can wake itself with it. Set before start.
  std::function<void(TOruSlideLoader* sender)> OnSlidesReady;

  // ---- Fields -------------------------------------------------------------------------
  TSlideCache* Cache() const { return cache_.get(); }
  TSlideProducer* Producer() const { return cache_ ? cache_->Producer() : nullptr; }
  TTiming* Timing() const { return timing_.get(); }
  // The stop of the loader's work (its steps counted), for tests.
  zm::TLoadStop& WorkStop() { return stop_; }
  // The memory its builds may hold: the process's figure against Limit
  // (Held: tests, where the figure is read). Before the thread starts.
  void SetMemoryLimit(std::int64_t limit, std::int64_t (*held)() = nullptr);
  zm::TMemoryWatch* MemoryWatch() const { return watch_.get(); }
  // Why the show was refused; empty while it was not.
  WideString Refusal() const;
  // What is built holds on to memory as it plays (clips decode ahead): a
  // look from the engine's thread, which refuses the show past the limit,
  // naming Slide (its index in the cache's count, -1: none).
  void WatchMemory(std::int32_t slide);
  // True: list changes are handled on the loader thread (Send); false: they
  // are queued to the listener and the loader waits until taken (SendWait).
  std::atomic<bool> SendDirect{false};
  // "opt_scr_full": 0 window, 1 full screen, 2 full screen keeping the
  // screen size, 3 window of the show's size.
  std::int32_t FullScreenMode = 1;

private:
  void ListChanged(const TDrawContainers& containers, std::int32_t count);
  // Notes and tells why the show cannot be held: Slide (cache index) would
  // take Bytes (any thread; once).
  void Refuse(std::int32_t slide, std::int64_t bytes, std::int64_t limit);
  void MakeDialog(TDialogData* request);
  // After a settled pass: the span of show times its list holds for.
  void SetStableSpan();

  zm::TRef<TSlideCache> cache_;
  zm::TRef<TTiming> timing_;
  // Asked for by Terminate; a new start clears it.
  zm::TLoadStop stop_;
  std::unique_ptr<zm::TMemoryWatch> watch_;
  std::atomic<bool> building_{false};  // a pass runs: its own looks refuse
  mutable std::mutex refusalLock_;
  WideString refusal_;  // guarded by refusalLock_
  zm::TRef<zm::TThreadEventList> listenerQueue_;
  std::int32_t listenerEventId_ = kEngineEventId;

  std::mutex readyLock_;
  std::condition_variable readyCv_;
  bool wake_ = false;         // guarded by readyLock_
  bool ready_ = false;        // guarded by readyLock_: a settled pass at readyTime_
  double readyTime_ = 0;      // guarded by readyLock_
  bool failedLogged_ = false;  // loader thread only
  bool failed_ = false;        // loader thread only: the last pass's build failed
  // The show times between which the last settled pass's list holds (an
  // empty span while building).
  std::atomic<double> stableFrom_{1.0};
  std::atomic<double> stableUntil_{0.0};
};

}  // namespace oru
