#pragma once
// The slide-based transition: its picture is an effect slide built from the
// effect definition's own objects, animated over the transition. Image
// objects of the effect slide that ask for an effect buffer show the
// outgoing or the incoming slide as the drawer rendered them, and the
// effect slide's background can be taken from either slide or cross-faded
// between both.
//
// This unit builds on the 3D engine's filter base: only programs that link
// the 3D engine use it. InitRealSlideFilter puts the maker into the
// factory's SlideEffectHook.
#include <cstdint>
#include <utility>
#include <vector>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "ZmLib/zmIni.h"

namespace oru {

// The drawer's base of slide-based filters: the drawer renders both slides
// first and draws the filter's own item; Draw itself draws nothing.
class TSlideEffFilter : public TDrawFilter {
public:
  void Draw(TCustomD3DEffecter* controller) override { (void)controller; }
  TFilterPassMode PassMode() const override { return TFilterPassMode::SlideEffect; }
};

// Where the effect slide's background comes from.
constexpr std::int32_t kEffBgOwn = 0;
constexpr std::int32_t kEffBgFrom = 1;
constexpr std::int32_t kEffBgTo = 2;
constexpr std::int32_t kEffBgCrossFade = 3;

class TRealSlideFilter : public TSlideEffFilter {
public:
  // Takes the effect slide (nil: a filter that shows nothing of its own);
  // Producer is kept while the slide lives, the slide pointing at it.
  TRealSlideFilter(bool transparentBg, std::int32_t customEffBg, TRef<TOruSlide> effectSlide,
                   TRef<TSlideProducer> producer = nullptr);
  // Lets go of any buffers still attached, then of the effect slide.
  void Dispose() override;

  // Every image object of the tree whose class is exactly the image class
  // and whose ReplaceWithEffectBuffer is 1 (2) gets the effecter's first
  // (second) slide picture attached to its picture; texts, buttons and
  // other values are left alone.
  void AttachEffectBuffers(TCustomD3DEffecter* effecter);
  // Takes off exactly what AttachEffectBuffers attached (a picture's own
  // textures stay, whatever order its list has).
  void DetachEffectBuffers();
  void PrepareResources(zm::TDeviceDrawer& drawer);
  // The effect slide's time: its begin + (next begin - begin) x Progress
  // (progress kept within 0 .. 1), with its layout; the progress is kept
  // for the background cross-fade.
  void SetEffectTime(float progress);
  // Applies CustomEffBg from the two slides; a side that is not a slide
  // leaves the effect slide's own background.
  void SetSlides(zm::TDrawItem* from, zm::TDrawItem* to) override;

  // The drawer's slide-effect sequence.
  bool SlideFlag() const override { return TransparentBg != 0; }
  void SetSlideValue(float value) override { SetEffectTime(value); }
  void SetEffecter(TCustomD3DEffecter* effecter) override { AttachEffectBuffers(effecter); }
  // The effect slide, prepared on the drawer it is drawn with.
  zm::TDrawItem* SlideDrawItem() override;
  void FinishSlideEffect() override { DetachEffectBuffers(); }

  TOruSlide* EffectSlide() const { return effectSlide_.get(); }
  float LastProgress() const { return lastProgress_; }
  // Attachments of the moment (tests, diagnostics).
  std::size_t AttachedCount() const { return attached_.size(); }

  std::uint8_t TransparentBg = 0;
  std::int32_t CustomEffBg = kEffBgOwn;

private:
  TRef<TOruSlide> effectSlide_;
  TRef<TSlideProducer> producer_;
  TRef<zm::TDrawItem> item_;  // draws the effect slide after preparing it
  float lastProgress_ = 0;
  // Picture and texture of each attachment, both kept alive until taken off.
  std::vector<std::pair<TRef<zm::TImage>, TRef<zm::TRefObject>>> attached_;
};

// The maker behind SlideEffectHook. Nil (the factory's cross-fade) when the
// owner is not a slide of a slide producer, the effect definition is
// missing or empty, or the effect slide cannot be built; a definition built
// while its own effect slide is being built (an effect that refers to
// itself) gets nil too.
zm::TRef<TDrawFilter> MakeRealSlideFilter(zm::TDrawItem* owner, zm::TRefObject* effectSection, bool ownerFlag);

// The one effect-slide producer: for the show source of Source, made again
// when another source asks. Released by ReleaseEffectProducer and at
// finalisation.
zm::TRef<TSlideProducer> EffectProducerFor(TOruSource* source);
void ReleaseEffectProducer();

// A slide's own slide-based filter, prepared with the slide: the drawer's
// clip rectangle becomes the filter's rectangle, the effect slide goes to
// the filter's fraction and is prepared. Other filters are left alone.
void PrepareSlideEffectFilter(zm::TRefObject* filter, zm::TDeviceDrawer& drawer);

// Installs MakeRealSlideFilter in SlideEffectHook and PrepareSlideEffectFilter
// in the slide's SlideEffectPrepareHook (the previous hooks are put back at
// finalisation, and the effect producer released).
void InitRealSlideFilter();
void FiniRealSlideFilter();

}  // namespace oru
