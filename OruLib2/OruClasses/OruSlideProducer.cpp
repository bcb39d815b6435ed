#include "OruLib2/OruClasses/OruSlideProducer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLog.h"

namespace oru {

using zm::TRef;

TSlideFilterHooks SlideFilterHooks;

namespace {

// The highest container index handed out: the cache asks for a few past it.
constexpr std::int64_t kMaxSlideIndex = std::numeric_limits<std::int32_t>::max() - 16;

// Nearest integer, halves to even; NaN gives 0 and values out of range the
// nearest bound.
std::int32_t RoundToInt(double v) {
  constexpr double kBound = 1 << 30;
  if (std::isnan(v)) return 0;
  v = std::nearbyint(v);
  return static_cast<std::int32_t>(std::clamp(v, -kBound, kBound));
}

float UsablePercent(float p) { return std::isfinite(p) && p > 0 ? p : 100.0f; }

// The producer's own host: the callbacks read the output it keeps, so they
// stay valid for as long as any slide holds the host, even after the
// producer is gone.
class TProducerHost : public TOruSlideHost {
public:
  TProducerHost(TOruSource* source, const TOruHostCallbacks& callbacks, const WideString& prefix)
      : TOruSlideHost(source->FileAccessor(), callbacks, prefix, false), Source(source) {}
  void Dispose() override {
    TOruSlideHost::Dispose();
    Source = nullptr;
  }
  TRef<TOruSource> Source;
  // Set by the layout, read by slides being drawn on another thread.
  std::atomic<std::int32_t> Width{0}, Height{0};
};

TProducerHost* ProducerHost(TOruSlideHost* host) { return dynamic_cast<TProducerHost*>(host); }

}  // namespace

// ---- Draw container ------------------------------------------------------------------------

void TDrawContainer::Dispose() {
  Slide = nullptr;
  Filter = nullptr;
  Timing = nullptr;
  zm::TRefObject::Dispose();
}

void TDrawContainer::SetTime(double t) {
  if (!std::isfinite(t)) return;
  if (Slide) Slide->SetTimeAndLayout(true, t - LoopOffset);
  if (Filter && SlideFilterHooks.SetProgress) SlideFilterHooks.SetProgress(Filter.get(), t - Times.Start, Times.OwnLength);
}

double TDrawContainer::CurrentTime() { return Timing ? Timing->GetTime() : 0.0; }

// ---- Layout --------------------------------------------------------------------------------

zm::TSize LayoutViewSize(zm::TSize output, double ratio, bool cover, float percentX, float percentY) {
  percentX = UsablePercent(percentX);
  percentY = UsablePercent(percentY);
  if (!(std::isfinite(ratio) && ratio > 0)) ratio = 4.0 / 3.0;
  const std::int32_t pw = RoundToInt(output.cx / static_cast<double>(percentX) * 100);
  const std::int32_t ph = RoundToInt(output.cy / static_cast<double>(percentY) * 100);
  if (pw < 1 || ph < 1) return {};
  std::int32_t vw = RoundToInt(ph * ratio);
  std::int32_t vh = ph;
  if (vw < 1) vw = 1;
  const double rw = static_cast<double>(pw) / vw, rh = static_cast<double>(ph) / vh;
  const double k = cover ? 1.0 / std::min(1.0 / rw, 1.0 / rh) : std::min(rw, rh);
  if (k != 1) {
    vw = RoundToInt(vw * k);
    vh = RoundToInt(vh * k);
  }
  vw = RoundToInt(vw * static_cast<double>(percentX) / 100);
  vh = RoundToInt(vh * static_cast<double>(percentY) / 100);
  // An even size centres on whole pixels; an odd one that fills the output
  // exactly stays as it is.
  if (vw % 2 != 0 && vw < output.cx) ++vw;
  if (vh % 2 != 0 && vh < output.cy) ++vh;
  // A slide of absurd aspect keeps at least a pixel a side.
  return {std::clamp(vw, 1, kMaxOutputSide), std::clamp(vh, 1, kMaxOutputSide)};
}

// ---- The producer --------------------------------------------------------------------------

TSlideProducer::TSlideProducer(TOruSource* source, TOruSlideHost* host, std::int32_t width, std::int32_t height,
                               bool ownsSource) {
  ZM_ASSERT(source != nullptr, "Source not assigned");
  source_ = ownsSource ? TRef<TOruSource>::Adopt(source) : TRef<TOruSource>(source);
  ownsSource_ = ownsSource;
  zm::TIniSection* main = source->MainSection();
  const WideString buttons = zm::IniGetString(zm::IniFind(main, u"PathToButtons"));
  OutputWidth = std::clamp(width, 0, kMaxOutputSide);
  OutputHeight = std::clamp(height, 0, kMaxOutputSide);
  if (host) {
    host_ = TRef<TOruSlideHost>(host);
  } else {
    TOruHostCallbacks callbacks;
    callbacks.EffectBufferSize.Code = &TSlideProducer::BufferSizeCallback;
    callbacks.Camera.Code = &TSlideProducer::CameraCallback;
    callbacks.ShowSource.Code = &TSlideProducer::SourceCallback;
    TRef<TProducerHost> own = zm::MakeRef<TProducerHost>(source, callbacks, buttons);
    own->Width = OutputWidth;
    own->Height = OutputHeight;
    host_ = own;
    ownsHost_ = true;
  }
  // The show's size as its transitions take it: a show that leaves it out
  // (or gives no usable side) is 1920 x 1080, as the source's effects are.
  DesignWidth = source->ScreenWidth();
  DesignHeight = source->ScreenHeight();
  FixedSize = zm::IniGetBool(zm::IniFind(main, u"opt_scr_fullfixedsize"), false) ? 1 : 0;
  host_->SlideCount = source->SlideCount();
  host_->BufferSize1 = DesignWidth;
  host_->BufferSize2 = DesignHeight;
  ViewCentreX = OutputWidth / 2.0f;
  ViewCentreY = OutputHeight / 2.0f;
}

void TSlideProducer::Dispose() {
  CurrentTiming = nullptr;
  host_ = nullptr;
  source_ = nullptr;
  zm::TRefObject::Dispose();
}

zm::TSize TSlideProducer::BufferSizeCallback(void*, TOruSlideHost* host) {
  TProducerHost* h = ProducerHost(host);
  return h ? zm::TSize{h->Width.load(), h->Height.load()} : zm::TSize{};
}

zm::TFloatPoint3 TSlideProducer::CameraCallback(void*, TOruSlideHost* host) {
  TProducerHost* h = ProducerHost(host);
  return h ? CameraForOutput(h->Width.load(), h->Height.load()) : zm::TFloatPoint3{};
}

TOruSource* TSlideProducer::SourceCallback(void*, TOruSlideHost* host) {
  TProducerHost* h = ProducerHost(host);
  return h ? h->Source.get() : nullptr;
}

void TSlideProducer::SetOutputSize(zm::TSize size, bool cover, float percentY, float percentX) {
  PercentX = percentX;
  PercentY = percentY;
  zm::TIniSection* main = source_->MainSection();
  const std::int32_t minor = zm::IniGetInt(zm::IniFind(main, u"MinorVersion"), 13);
  size.cx = std::clamp(size.cx, 0, kMaxOutputSide);
  size.cy = std::clamp(size.cy, 0, kMaxOutputSide);
  if (minor >= 13) {
    ZM_ASSERT(DesignHeight >= 1, "ZeroSize of Presentation!");
    AspectRatio = static_cast<double>(DesignWidth) / DesignHeight;
  } else {
    AspectRatio = size.cy < 1 ? 4.0 / 3.0 : static_cast<double>(size.cx) / size.cy;
    if (zm::TIniItem* r = zm::IniFind(main, u"opt_scr_ratio")) AspectRatio = r->GetFloat(AspectRatio);
  }
  LayoutMode = cover ? kLayoutCover : kLayoutFit;
  OutputWidth = size.cx;
  OutputHeight = size.cy;
  ViewCentreX = size.cx / 2.0f;
  ViewCentreY = size.cy / 2.0f;
  zm::TSize view;
  if (FixedSize) {
    const zm::TSize design{DesignWidth, DesignHeight};
    view = FixedNoEnlarge ? zm::FitSizeNoEnlarge(design, size) : zm::FitSize(design, size);
  } else {
    view = LayoutViewSize(size, AspectRatio, cover, PercentX, PercentY);
  }
  ViewWidth = std::clamp(view.cx, 0, kMaxOutputSide);
  ViewHeight = std::clamp(view.cy, 0, kMaxOutputSide);
  if (TProducerHost* h = ProducerHost(host_.get())) {
    h->Width = OutputWidth;
    h->Height = OutputHeight;
  }
}

void TSlideProducer::SetDesignSize(zm::TSize size) {
  DesignWidth = size.cx;
  DesignHeight = size.cy;
  host_->BufferSize1 = size.cx;
  host_->BufferSize2 = size.cy;
}

zm::TRect TSlideProducer::GetViewRect() const {
  const std::int64_t left = RoundToInt(ViewCentreX - ViewWidth / 2.0);
  const std::int64_t top = RoundToInt(ViewCentreY - ViewHeight / 2.0);
  const std::int64_t l = std::max<std::int64_t>(left, 0), t = std::max<std::int64_t>(top, 0);
  const std::int64_t r = std::min<std::int64_t>(left + ViewWidth, OutputWidth);
  const std::int64_t b = std::min<std::int64_t>(top + ViewHeight, OutputHeight);
  if (r <= l || b <= t) return {};
  return {static_cast<std::int32_t>(l), static_cast<std::int32_t>(t), static_cast<std::int32_t>(r),
          static_cast<std::int32_t>(b)};
}

zm::TFloatPoint TSlideProducer::ScreenScale() const {
  const float s = static_cast<float>(OutputHeight / static_cast<double>(UsablePercent(PercentY)) * 100);
  return {s, -s};
}

// ---- Times ---------------------------------------------------------------------------------

TSlideSpan TSlideProducer::GetSlideTimes(std::int32_t index) const {
  TSlideSpan span;
  source_->GetSlideSpan(index, span);
  return span;
}

void TSlideProducer::GetSlideRange(double time, std::int32_t& first, std::int32_t& second) {
  // An empty show still answers slide 0, whose build reports the show.
  const std::int64_t top = source_->SlideCount() > 0 ? kMaxSlideIndex : 0;
  std::int64_t c = std::clamp<std::int64_t>(SlideCursor, -1, top);
  if (!std::isnan(time)) {
    const double t = std::nearbyint(time);
    const auto visibleUntil = [this](std::int64_t i) {
      return std::nearbyint(GetSlideTimes(static_cast<std::int32_t>(i)).VisibleUntil);
    };
    // Back while the slide before is still visible, forward while the
    // cursor's slide is over. The spans grow with the index, so a long way
    // is found by doubling steps and halving rather than one by one; the
    // answer is the one the single steps would reach.
    const auto startsHere = [&](std::int64_t j) { return j <= -1 || !(visibleUntil(j - 1) > t); };
    if (!startsHere(c)) {
      std::int64_t bad = c, good = -1;
      for (std::int64_t step = 1;; step *= 2) {
        const std::int64_t j = std::max<std::int64_t>(-1, c - step);
        if (startsHere(j)) {
          good = j;
          break;
        }
        bad = j;
      }
      while (bad - good > 1) {
        const std::int64_t mid = good + (bad - good) / 2;
        (startsHere(mid) ? good : bad) = mid;
      }
      c = good;
    }
    const auto over = [&](std::int64_t i) { return t > visibleUntil(i); };
    if (c < top && over(c)) {
      std::int64_t good = c, bad = top;
      for (std::int64_t step = 1;; step *= 2) {
        const std::int64_t j = std::min(top, c + step);
        if (j == top || !over(j)) {
          bad = j;
          break;
        }
        good = j;
      }
      while (bad - good > 1) {
        const std::int64_t mid = good + (bad - good) / 2;
        (over(mid) ? good : bad) = mid;
      }
      c = bad;
    }
    SlideCursor = static_cast<std::int32_t>(c);
    first = second = SlideCursor;
    if (c < top) {
      const TSlideSpan next = GetSlideTimes(static_cast<std::int32_t>(c + 1));
      if (!(t < std::nearbyint(next.Start)) && !(t > std::nearbyint(next.VisibleUntil))) second = first + 1;
    }
    return;
  }
  SlideCursor = static_cast<std::int32_t>(c);
  first = second = SlideCursor;
}

// ---- Building ------------------------------------------------------------------------------

TRef<TDrawContainer> TSlideProducer::CreateContainer(std::int32_t index) {
  ZM_ASSERT(CurrentTiming, "TSlideProducer.CurrentTiming not Assigned");
  TRef<TDrawContainer> c = zm::MakeRef<TDrawContainer>();
  c->Index = index;
  c->Timing = CurrentTiming;
  c->Times = GetSlideTimes(index);
  zm::LogLine(u"....................................... " + zm::IntToStr(index));
  const std::int32_t count = source_->SlideCount();
  std::int32_t local = index, loop = 0;
  if (count > 0 && index >= count) {
    loop = index / count;
    local = index % count;
    c->LoopOffset = loop * source_->ShowLength();
  }
  try {
    c->Slide = CreateSlide(local, loop);
  } catch (const zm::EAbort&) {
    throw;  // stopped, or a fault of the show's structure: the loader's pass ends
  } catch (const std::exception& e) {
    // What one slide's data does (a picture the decoder chokes on, memory
    // it cannot have) leaves that slide empty; the show goes on.
    zm::LogLine(u"Slide " + zm::IntToStr(index) + u" could not be built: " + zm::UTF8Decode(zm::TByteString(e.what())));
    c->Slide = nullptr;
  }
  if (c->Slide) {
    for (const double t : c->Slide->ChangeTimes()) {
      const double at = t + c->LoopOffset;
      if (at >= c->Times.Start && at <= c->Times.VisibleUntil) c->ChangeTimes.push_back(at);
    }
    c->StillBetweenChanges = c->Slide->StillBetweenChangeTimes();
  }
  if (index >= 0 && c->Slide && SlideFilterHooks.Create)
    c->Filter = SlideFilterHooks.Create(c->Slide->Effect.get(), c->Times.OwnLength);
  return c;
}

void TSlideProducer::PrepareSlide(TOruSlide* slide, zm::TIniList* section, std::int32_t index, TOruEffect* effect,
                                  double inLength, double outLength) {
  slide->SetSize(static_cast<float>(ViewWidth), static_cast<float>(ViewHeight));
  slide->SetViewCentre(ViewCentreX, ViewCentreY);
  TSlideLoadArgs args;
  args.Main = source_->MainSection();
  args.Times = source_->TimesSection();
  args.Section = section;
  args.Index = index;
  args.SlideCount = source_->SlideCount();
  args.InDuration = inLength;
  args.OutDuration = outLength;
  args.Effect = effect;
  slide->Load(args);
  // The slide's own scale: its view size in percent of its size.
  if (TOruObjectProps* props = slide->Props()) {
    props->SetBaseParam(kParamScaleX, slide->Width > 0 ? ViewWidth * 100.0 / slide->Width : 100.0);
    props->SetBaseParam(kParamScaleY, slide->Height > 0 ? ViewHeight * 100.0 / slide->Height : 100.0);
  }
}

TRef<TOruSlide> TSlideProducer::CreateSlide(std::int32_t index, std::int32_t loop) {
  (void)loop;
  const std::int32_t count = source_->SlideCount();
  if (index >= 0) {
    ZM_ASSERT(count > 0, "No Slides in Presentation");
    index %= count;
    zm::TIniSection* section = source_->SlideSection(index);
    if (!section) return nullptr;
    double effectTime = 0;
    float smoothline = 0;
    TRef<TOruEffect> effect = source_->GetSlideEffect(index, effectTime, smoothline);
    const TSlideSpan span = GetSlideTimes(index);
    TRef<TOruSlide> slide = TOruSlide::Create(host_.get(), this, false);
    PrepareSlide(slide.get(), section, index, effect.get(), span.OwnLength, span.NextLength);
    return slide;
  }
  // The lead-in slide: empty, before the show, with the first slide's background.
  TRef<TOruSlide> slide = TOruSlide::Create(host_.get(), this, false);
  const TSlideSpan span = GetSlideTimes(index);
  PrepareSlide(slide.get(), nullptr, index, nullptr, span.OwnLength, span.NextLength);
  slide->Begin = span.Start;
  slide->NextBegin = span.End;
  if (count > 0)
    if (zm::TIniSection* first = source_->SlideSection(0)) {
      ReadSlideBackground(source_->MainSection(), first, slide->Background, !NoColorManagement);
      slide->Background2 = slide->Background;
    }
  return slide;
}

zm::TIniSection* TSlideProducer::FindDialogSection(const WideString& name) const {
  zm::TIniFile* project = source_->Project();
  if (!project) return nullptr;
  const auto numbered = [project](std::int64_t i) {
    return project->FindSection(u"dialog_" + zm::IntToStr(i) + u"_");
  };
  if (zm::SameText(name, u"help")) {
    for (std::int64_t i = 1;; ++i) {
      zm::TIniSection* s = numbered(i);
      if (!s) return nullptr;
      if (zm::IniGetBool(s->Find(u"help"), false)) return s;
    }
  }
  zm::TIniSection* main = source_->MainSection();
  // No more names than keys: an absurd count cannot make a long search.
  const std::int32_t count =
      std::min(zm::IniGetInt(zm::IniFind(main, u"opt_customdialogscount"), 0), main ? main->Count() : 0);
  for (std::int32_t i = 1; i <= count; ++i) {
    zm::TIniItem* item = main->FindIndexed(u"custom_dialog", i);
    if (item && zm::SameText(zm::IniGetString(item), name)) return numbered(i);
  }
  return project->FindSection(u"dialog_" + name);
}

TRef<TOruDialog> TSlideProducer::CreateDialog(const WideString& name) {
  zm::TIniSection* section = FindDialogSection(name);
  if (!section) return nullptr;
  TRef<TOruDialog> dialog = TOruDialog::Create(host_.get(), this, false);
  dialog->Pause = zm::IniGetBool(section->Find(u"DialogPause"), true);
  PrepareSlide(dialog.get(), section, -1, nullptr, 0, 0);
  dialog->Name = name;
  dialog->SetTimeAndLayout(true, 0);
  // Laid out again as a slide is on its next frames: the first layout makes
  // the texts, which give their buttons the widths they need in the second,
  // where the captions then take their places on them.
  for (int pass = 0; pass < 2; ++pass) dialog->UpdateLayout(true);
  return dialog;
}

}  // namespace oru
