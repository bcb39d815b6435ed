#pragma once
// The slide producer: turns the show source into drawable slides. It lays
// the slides out on the output (fit or cover), gives every slide index its
// times on the show time line (later passes of a repeating show and the
// lead-in slide before the first included), builds a slide's or a dialog's
// object tree, and wraps a built slide with its times in a TDrawContainer,
// the unit the slide cache keeps and the engine draws.
//
// Times are milliseconds of show time held as doubles. A producer is used by
// one thread at a time (the slide loader); containers are handed on to the
// engine, which then alone sets their time.
#include <cstdint>
#include <vector>

#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

class TOruSlideHost;

// The clock a container reads: the time the show shows now. The loader's
// timing object implements it; the engine writes it.
class ITiming : public zm::TRefObject {
public:
  virtual double GetTime() = 0;
};

// ---- The transition filter of a container ---------------------------------------------

// The drawer's filter parameters live with the 3D engine, which this library
// does not link; the side that links both fills these hooks. Empty hooks:
// containers carry no filter (a transition then shows the outgoing slide
// until its end).
struct TSlideFilterHooks {
  // The filter parameters of a slide's transition. Effect may be nil (a
  // slide without a transition); Duration is the transition's length in ms.
  zm::TRef<zm::TFilterParams> (*Create)(TOruEffect* effect, double duration) = nullptr;
  // Elapsed: ms since the transition began (negative before it); Duration
  // as given to Create.
  void (*SetProgress)(zm::TFilterParams* filter, double elapsed, double duration) = nullptr;
};
extern TSlideFilterHooks SlideFilterHooks;

// ---- Draw container -----------------------------------------------------------------------

// A built slide with its times, as the cache keeps it and the engine draws
// it. Index may be past the slide count (a later pass of a repeating show)
// and is negative for the lead-in slide.
class TDrawContainer : public zm::TRefObject {
public:
  void Dispose() override;
  // Brings the slide to show time T (its local time is T - LoopOffset) and
  // the filter's progress to T - Times.Start. Non-finite T is ignored.
  void SetTime(double t);
  // The timing's time; 0 without a timing.
  double CurrentTime();

  zm::TRef<ITiming> Timing;
  zm::TRef<TOruSlide> Slide;  // nil when the slide has no section
  // Start, End, OwnLength (the transition in), NextLength (the next
  // slide's transition), VisibleUntil (End + NextLength).
  TSlideSpan Times;
  double LoopOffset = 0;
  // Show times within Times.Start .. Times.VisibleUntil at which an object
  // of the slide may start or stop changing (sorted; made with the slide).
  std::vector<double> ChangeTimes;
  // Nothing of the slide changes between those times by itself.
  bool StillBetweenChanges = false;
  zm::TRef<zm::TFilterParams> Filter;  // nil without a filter hook
  std::int32_t Index = 0;
};

// ---- Layout --------------------------------------------------------------------------------

constexpr std::int32_t kLayoutFit = 0;
constexpr std::int32_t kLayoutCover = 1;
// Output and view sizes are clamped to this many pixels a side: a show
// that asks for more still lays out without overflowing.
constexpr std::int32_t kMaxOutputSide = 32768;

// The view size of the non-fixed layout for an output of Output pixels
// shown at PercentX / PercentY, slides of aspect Ratio (width / height).
// (0, 0) for an empty output.
zm::TSize LayoutViewSize(zm::TSize output, double ratio, bool cover, float percentX, float percentY);

// ---- The producer --------------------------------------------------------------------------

class TSlideProducer : public zm::TRefObject {
public:
  // Source must be given (assertion). Host nil: the producer makes and owns
  // one over the show's file access. OwnsSource: the producer takes over
  // the caller's reference.
  TSlideProducer(TOruSource* source, TOruSlideHost* host, std::int32_t width, std::int32_t height, bool ownsSource);
  void Dispose() override;

  // The layout for an output of Size. Asserts "ZeroSize of Presentation!"
  // for a show of version 13 or later whose design height is below 1 (only
  // SetDesignSize can give one: the show's own size is the source's, which
  // takes 1920 x 1080 for sides it lacks).
  void SetOutputSize(zm::TSize size, bool cover, float percentY, float percentX);
  void SetDesignSize(zm::TSize size);
  bool IsCover() const { return LayoutMode == kLayoutCover; }
  // The view rectangle clipped to the output; empty when nothing is left.
  zm::TRect GetViewRect() const;
  // The scales of the screen transform, whose origin is the output's centre:
  // the output height over the vertical percentage, negated for y (up).
  zm::TFloatPoint ScreenScale() const;

  // The five times of a slide index (see TOruSource::GetSlideSpan).
  TSlideSpan GetSlideTimes(std::int32_t index) const;
  // The slides visible at Time: First, and Second = First + 1 while the
  // next slide's transition runs, else First. Moves the cursor.
  void GetSlideRange(double time, std::int32_t& first, std::int32_t& second);

  // Asserts "TSlideProducer.CurrentTiming not Assigned" without a timing.
  // A slide whose build raises anything but EAbort (the assertions) is
  // logged and left out: the container holds no slide, as for a missing
  // section.
  zm::TRef<TDrawContainer> CreateContainer(std::int32_t index);
  // Index >= 0 (asserts "No Slides in Presentation" for an empty show): the
  // slide of Index mod count, nil when its section is missing. Index < 0:
  // the lead-in slide.
  zm::TRef<TOruSlide> CreateSlide(std::int32_t index, std::int32_t loop);
  // The dialog of Name ("help" or a custom dialog); nil without a section.
  zm::TRef<TOruDialog> CreateDialog(const WideString& name);
  // The section CreateDialog loads Name from; nil when there is none.
  zm::TIniSection* FindDialogSection(const WideString& name) const;

  void SetTiming(ITiming* timing) { CurrentTiming = zm::TRef<ITiming>(timing); }
  TOruSource* Source() const { return source_.get(); }
  TOruSlideHost* Host() const { return host_.get(); }

  // ---- Fields ----------------------------------------------------------------------
  std::int32_t OutputWidth = 0, OutputHeight = 0;
  float PercentX = 100, PercentY = 100;
  double AspectRatio = 4.0 / 3.0;
  std::int32_t LayoutMode = kLayoutFit;
  float ViewCentreX = 0, ViewCentreY = 0;
  std::int32_t ViewWidth = 0, ViewHeight = 0;
  std::int32_t DesignWidth = 0, DesignHeight = 0;
  std::uint8_t FixedSize = 0;
  std::int32_t SlideCursor = 0;
  zm::TRef<ITiming> CurrentTiming;
  // With FixedSize: 0 fits the design size even when that enlarges it,
  // 1 never enlarges.
  std::uint8_t FixedNoEnlarge = 0;

private:
  void PrepareSlide(TOruSlide* slide, zm::TIniList* section, std::int32_t index, TOruEffect* effect, double inLength,
                    double outLength);
  static zm::TSize BufferSizeCallback(void* data, TOruSlideHost* host);
  static zm::TFloatPoint3 CameraCallback(void* data, TOruSlideHost* host);
  static TOruSource* SourceCallback(void* data, TOruSlideHost* host);

  zm::TRef<TOruSource> source_;
  zm::TRef<TOruSlideHost> host_;
  bool ownsSource_ = false;
  bool ownsHost_ = false;
};

}  // namespace oru
