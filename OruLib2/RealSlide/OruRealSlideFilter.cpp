#include "OruLib2/RealSlide/OruRealSlideFilter.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <typeinfo>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruObjectProps.h"
#include "ZmLib/3DBasics/Dev3DRTPool.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmMath.h"

namespace oru {

using zm::MakeRef;

namespace {

// Draws the effect slide, prepared first on the drawer of the moment: the
// drawer renders the slide-based kind without a preparing pass of its own.
class TEffectSlideItem : public zm::TDrawItem {
public:
  explicit TEffectSlideItem(TOruSlide* slide) : slide_(slide) {}
  void Draw(zm::TDeviceDrawer& drawer) override {
    if (!slide_) return;
    slide_->PrepareResources(drawer);
    drawer.Draw(slide_.get());
  }
  void Reset(zm::TDeviceDrawer& drawer) override {
    if (slide_) slide_->Reset(drawer);
  }

private:
  TRef<TOruSlide> slide_;
};

template <class Fn>
void ForEachObject(TOruObject* o, const Fn& fn) {
  if (!o) return;
  fn(o);
  // A copy: nothing here changes the tree, but the list must not move under us.
  const std::vector<TRef<TOruObject>> children = o->Children();
  for (const TRef<TOruObject>& c : children) ForEachObject(c.get(), fn);
}

void CopyBackground(const TSlideBackground& from, TSlideBackground& to) {
  to.Kind = from.Kind;
  to.PictureName = from.PictureName;
  to.PictureSize = from.PictureSize;
  to.Colour1 = from.Colour1;
  to.Colour2 = from.Colour2;
  to.DisplayColour1 = from.DisplayColour1;
  to.DisplayColour2 = from.DisplayColour2;
}

}  // namespace

// ---- The filter ------------------------------------------------------------------------------------

TRealSlideFilter::TRealSlideFilter(bool transparentBg, std::int32_t customEffBg, TRef<TOruSlide> effectSlide,
                                   TRef<TSlideProducer> producer)
    : TransparentBg(transparentBg ? 1 : 0),
      CustomEffBg(customEffBg),
      effectSlide_(std::move(effectSlide)),
      producer_(std::move(producer)) {}

void TRealSlideFilter::Dispose() {
  DetachEffectBuffers();
  item_ = nullptr;
  effectSlide_ = nullptr;
  producer_ = nullptr;
  TSlideEffFilter::Dispose();
}

void TRealSlideFilter::AttachEffectBuffers(TCustomD3DEffecter* effecter) {
  // Whatever a frame left attached goes first: a picture lists a slide
  // texture at most once per image.
  DetachEffectBuffers();
  if (!effecter || !effectSlide_) return;
  ForEachObject(effectSlide_.get(), [&](TOruObject* o) {
    if (typeid(*o) != typeid(objects::TOruImage)) return;
    auto* image = static_cast<objects::TOruImage*>(o);
    const std::int32_t which = image->ReplaceWithEffectBuffer;
    if (which != 1 && which != 2) return;
    // The first frame comes before any preparing pass: the picture the
    // texture rides on is fetched here.
    if (!image->Picture) {
      image->RequestImage();
      if (image->Picture) image->LayOutFromRoot();
    }
    if (!image->Picture) return;
    zm::TRenderTargetTexture* texture = effecter->GetPicture(which - 1);
    if (!texture) return;
    image->Picture->GetCacheList()->Add(texture);
    attached_.emplace_back(image->Picture, TRef<zm::TRefObject>(texture));
  });
}

void TRealSlideFilter::DetachEffectBuffers() {
  for (auto& [picture, texture] : attached_)
    if (picture && !(picture->Flags() & zm::TRefObject::kDisposed)) picture->GetCacheList()->Remove(texture.get());
  attached_.clear();
}

void TRealSlideFilter::PrepareResources(zm::TDeviceDrawer& drawer) {
  if (effectSlide_) effectSlide_->PrepareResources(drawer);
}

void TRealSlideFilter::SetEffectTime(float progress) {
  const float p = std::isfinite(progress) ? std::clamp(progress, 0.0f, 1.0f) : 0.0f;
  lastProgress_ = p;
  if (!effectSlide_) return;
  const double begin = effectSlide_->GetTimePoint(0), next = effectSlide_->GetTimePoint(2);
  effectSlide_->SetTimeAndLayout(true, begin + (next - begin) * p);
}

void TRealSlideFilter::SetSlides(zm::TDrawItem* from, zm::TDrawItem* to) {
  if (!effectSlide_) return;
  auto* a = dynamic_cast<TOruSlide*>(from);
  auto* b = dynamic_cast<TOruSlide*>(to);
  TOruSlide& e = *effectSlide_;
  const auto take = [&](TOruSlide* s) {
    CopyBackground(s->Background, e.Background);
    e.BgObjects = SlideBackgroundObjects(s);
    // Only the first background shows.
    e.Background2 = e.Background;
    e.Background2.Blend = 0;
    e.BgObjects2.clear();
  };
  switch (CustomEffBg) {
    case kEffBgFrom:
      if (a) take(a);
      break;
    case kEffBgTo:
      if (b) take(b);
      break;
    case kEffBgCrossFade:
      if (!a || !b) break;
      take(a);
      CopyBackground(b->Background, e.Background2);
      e.Background2.Blend = lastProgress_;
      e.BgObjects2 = SlideBackgroundObjects(b);
      break;
    default: break;
  }
}

zm::TDrawItem* TRealSlideFilter::SlideDrawItem() {
  if (!effectSlide_) return nullptr;
  if (!item_) item_ = MakeRef<TEffectSlideItem>(effectSlide_.get());
  return item_.get();
}

// ---- The effect producer ---------------------------------------------------------------------------

namespace {

std::mutex gProducerLock;
TRef<TSlideProducer> gProducer;
TOruSource* gProducerSource = nullptr;  // compared only

// Set on the thread that is building an effect slide.
thread_local bool tBuilding = false;

zm::THookInstall<std::atomic<TSlideEffectProc>> gRealSlideHook;
zm::THookInstall<TSlideEffectPrepareProc> gRealSlidePrepareHook;

std::int32_t ScreenSide(const zm::TIniList* section, const char16_t* key, std::int32_t def) {
  const std::int32_t v = zm::IniGetInt(zm::IniFind(section, key), def);
  return v >= 1 && v <= kMaxOutputSide ? v : def;
}

// Owner side x scale percent, to the nearest pixel, kept within the
// layout's limits.
std::int32_t ScaledSide(double side, double percent) {
  const double v = side * percent * 0.01;
  if (!std::isfinite(v) || v <= 0) return 0;
  return zm::RoundHalfEven(std::min(v, double(kMaxOutputSide)));
}

// A scale the layout can divide by: 100 for none or a broken one.
float UsablePercent(double percent) {
  return std::isfinite(percent) && percent >= 0.01 && percent <= 1e6 ? static_cast<float>(percent) : 100.0f;
}

}  // namespace

TRef<TSlideProducer> EffectProducerFor(TOruSource* source) {
  if (!source) return nullptr;
  TRef<TSlideProducer> old;
  std::lock_guard<std::mutex> lock(gProducerLock);
  if (!gProducer || gProducerSource != source) {
    old = std::move(gProducer);
    gProducer = MakeRef<TSlideProducer>(source, nullptr, 1920, 1080, false);
    gProducerSource = source;
  }
  return gProducer;
}

void ReleaseEffectProducer() {
  TRef<TSlideProducer> old;
  std::lock_guard<std::mutex> lock(gProducerLock);
  old = std::move(gProducer);
  gProducerSource = nullptr;
}

TRef<TDrawFilter> MakeRealSlideFilter(zm::TDrawItem* owner, zm::TRefObject* effectSection, bool ownerFlag) {
  (void)ownerFlag;
  auto* slide = dynamic_cast<TOruSlide*>(owner);
  auto* ownerProducer = slide ? dynamic_cast<TSlideProducer*>(slide->Producer) : nullptr;
  auto* section = dynamic_cast<zm::TIniList*>(effectSection);
  if (!ownerProducer || !ownerProducer->Source()) return nullptr;
  // No definition, or one without keys and objects: the plain cross-fade.
  if (!section || section->Count() == 0) return nullptr;
  // An effect slide whose objects ask for this kind again while it is
  // built would build itself without end.
  if (tBuilding) return nullptr;
  tBuilding = true;
  struct TDone {
    ~TDone() { tBuilding = false; }
  } done;
  try {
    TRef<TSlideProducer> producer = EffectProducerFor(ownerProducer->Source());
    if (!producer) return nullptr;
    // The producer serves one thread at a time.
    static std::mutex buildLock;
    std::lock_guard<std::mutex> lock(buildLock);
    const bool cover = zm::IniGetBool(zm::IniFind(section, u"CoverMode"), true);
    const std::int32_t w = ScreenSide(section, u"opt_scr_width", 1920);
    const std::int32_t h = ScreenSide(section, u"opt_scr_height", 1080);
    producer->SetDesignSize({w, h});
    const float sx = UsablePercent(slide->ScaleX()), sy = UsablePercent(slide->ScaleY());
    const zm::TSize out{ScaledSide(slide->Width, sx), ScaledSide(slide->Height, sy)};
    producer->SetOutputSize(out, cover, sy, sx);

    TOruSource* source = producer->Source();
    TRef<TOruSlide> effectSlide = TOruSlide::Create(producer->Host(), producer.get(), false);
    // Marked first: its image objects ask for slide buffers as they load.
    effectSlide->EffectSlide = 1;
    effectSlide->SetSize(static_cast<float>(producer->ViewWidth), static_cast<float>(producer->ViewHeight));
    effectSlide->SetViewCentre(producer->ViewCentreX, producer->ViewCentreY);
    TSlideLoadArgs args;
    args.Main = source->MainSection();
    // The definition's own time line, when it has one.
    args.Times = section;
    args.Section = section;
    args.Index = 0;
    args.SlideCount = 1;
    // Never a transition of its own: that would be this filter again.
    args.Effect = nullptr;
    effectSlide->Load(args);
    // Without a time line the objects run over the definition's own time
    // (1 s when it has none), so that progress moves them.
    if (!(effectSlide->NextBegin > effectSlide->Begin)) {
      const double t = zm::IniGetFloat(zm::IniFind(section, u"time"), 0);
      effectSlide->NextBegin = effectSlide->Begin + (std::isfinite(t) && t > 0 && t < 1e9 ? t : 1000.0);
    }
    if (TOruObjectProps* props = effectSlide->Props()) {
      const float vw = static_cast<float>(producer->ViewWidth), vh = static_cast<float>(producer->ViewHeight);
      props->SetBaseParam(kParamScaleX, effectSlide->Width > 0 ? vw * 100.0 / effectSlide->Width : 100.0);
      props->SetBaseParam(kParamScaleY, effectSlide->Height > 0 ? vh * 100.0 / effectSlide->Height : 100.0);
    }
    // Pictures before the first layout: the first frame places the images
    // by their pictures' sizes.
    ForEachObject(effectSlide.get(), [](TOruObject* o) {
      if (typeid(*o) == typeid(objects::TOruImage)) static_cast<objects::TOruImage*>(o)->RequestImage();
    });
    const bool transparent = zm::IniGetBool(zm::IniFind(section, u"TransparentBg"), false);
    const std::int32_t customBg = zm::IniGetInt(zm::IniFind(section, u"CustomEffBg"), kEffBgOwn);
    TRef<TRealSlideFilter> f = MakeRef<TRealSlideFilter>(transparent, customBg, effectSlide, producer);
    f->SetEffectTime(0);
    return f;
  } catch (const std::exception&) {
    // A definition the slide classes refuse plays as the cross-fade.
    return nullptr;
  }
}

void PrepareSlideEffectFilter(zm::TRefObject* filter, zm::TDeviceDrawer& drawer) {
  auto* f = dynamic_cast<TRealSlideFilter*>(filter);
  if (!f) return;
  f->Rect = drawer.ClipRect;
  f->SetEffectTime(f->Value());
  f->PrepareResources(drawer);
}

void InitRealSlideFilter() {
  gRealSlideHook.Install(SlideEffectHook, &MakeRealSlideFilter);
  gRealSlidePrepareHook.Install(SlideEffectPrepareHook, &PrepareSlideEffectFilter);
}

void FiniRealSlideFilter() {
  gRealSlideHook.Restore();
  gRealSlidePrepareHook.Restore();
  ReleaseEffectProducer();
}

}  // namespace oru
