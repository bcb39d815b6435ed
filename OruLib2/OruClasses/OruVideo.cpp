#include "OruLib2/OruClasses/OruVideo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "OruLib2/Effects/OruEffectManager.h"
#include "OruLib2/OruClasses/OruBox.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruShowServices.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"
#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmImageTasks.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace oru {

using namespace zm;

namespace {

bool Finite(double v) { return std::isfinite(v); }

// Clip values from the show description: a value that is not a number counts as Def.
double SaneTime(double v, double def = 0) { return Finite(v) ? v : def; }

double SaneMultiplier(double m) { return Finite(m) && m > 0 ? m : 1.0; }

WideString NumberText(double v) {
  if (!Finite(v)) return u"0";
  if (v == std::floor(v) && std::fabs(v) < 9e15) return IntToStr(std::int64_t(v));
  return FloatToStrDigits(v, 3);
}

// The file duration's clamps: a duration below 0 or past the file's end
// becomes the file's duration; a start outside the file becomes 0.
void ClampToFile(double fileDuration, double& duration, double& start) {
  if (!(fileDuration > 0)) return;
  if (!(duration >= 0) || duration > fileDuration) duration = fileDuration;
  if (!(start >= 0) || start > fileDuration) start = 0;
}

// The key colour as the chroma planes hold it (0..1).
void KeyToUV(TColor24 c, float& u, float& v) {
  const double r = c.R, g = c.G, b = c.B;
  u = float(std::clamp((-0.169 * r - 0.331 * g + 0.5 * b + 128) / 255.0, 0.0, 1.0));
  v = float(std::clamp((0.5 * r - 0.419 * g - 0.081 * b + 128) / 255.0, 0.0, 1.0));
}

TFloatPoint3 LocalToWorld(const TOruObject& o, float x, float y) { return FloatBasis3ToWorld(o.Basis, {x, y, 0}); }

TFloatPoint Sub(const TFloatPoint& a, const TFloatPoint& b) { return {a.X - b.X, a.Y - b.Y}; }

// The show description a property block was read from (the root of its sections).
const TIniFile* ProjectOf(const TOruObjectProps* props) {
  const TIniItem* item = props ? props->Section() : nullptr;
  for (std::int32_t depth = 0; item && depth < 4096; ++depth) {
    if (auto* file = dynamic_cast<const TIniFile*>(item)) return file;
    item = item->Owner();
  }
  return nullptr;
}

}  // namespace

std::int32_t VideoFieldAt(std::uint8_t type, bool interlaced, bool topFieldFirst, double start, double stop,
                          double t) {
  if (type == kDeinterlaceAuto)
    type = !interlaced ? kDeinterlaceWave : (topFieldFirst ? kDeinterlaceBobEven : kDeinterlaceBobOdd);
  if (type != kDeinterlaceBobEven && type != kDeinterlaceBobOdd) return 0;
  const bool firstHalf = t < (start + stop) * 0.5;
  if (type == kDeinterlaceBobEven) return firstHalf ? 1 : 2;
  return firstHalf ? 2 : 1;
}

// ---- TVideoFrameExtractor ------------------------------------------------------------------

TVideoFrameExtractor::TVideoFrameExtractor(TFrameSource* source)
    : TFrameExtractor(source), video_(TOruVideoExtractor::Create(source, false)) {}

void TVideoFrameExtractor::Dispose() {
  Flush();
  if (video_) {
    video_->Stop();
    video_ = nullptr;
  }
  TFrameExtractor::Dispose();
}

void TVideoFrameExtractor::Flush() {
  HeldUses = 0;
  if (video_) video_->PutBack(Held);
  Held = TVideoPoolEntry{};
}

std::int32_t VideoReadAheadFrames(const TFrameSourceInfo& info) {
  // About 160 ms of the clip: a decoder held up that long on a busy
  // machine does not hold the picture back.
  constexpr double kAheadMs = 160, kMostBytes = 64.0 * 1024 * 1024;
  constexpr std::int32_t kMostFrames = 8;
  const double fps = Finite(info.FrameRate) && info.FrameRate > 0 ? info.FrameRate : 25;
  std::int32_t frames = std::int32_t(std::clamp(std::ceil(fps * kAheadMs / 1000), 1.0, double(kMostFrames)));
  // The pictures of a clip take no more than kMostBytes; two always.
  const double bytes = double(std::max(info.Width, 1)) * double(std::max(info.Height, 1)) * (info.HasAlpha ? 4 : 1.5);
  const double fit = std::floor(kMostBytes / bytes) - 2;
  if (!(fit >= double(frames))) frames = fit > 0 ? std::int32_t(fit) : 0;
  return frames;
}

bool TVideoFrameExtractor::MakePictures(TDeviceDrawer& drawer) {
  if (picturesMade_) return true;
  // Past the memory the show may take, no further clip starts (the show is
  // refused for it).
  if (!video_ || !drawer.CanDraw() || ShowMemoryOver(true)) return false;
  const TFrameSourceInfo& info = video_->Info();
  // One picture shown, one being decoded, and those read ahead.
  const std::int32_t wanted = 2 + VideoReadAheadFrames(info);
  std::vector<TRef<TYUVImage>> pictures;
  for (std::int32_t i = 0; i < wanted; ++i) {
    // Nor does one read further ahead.
    if (i >= 2 && ShowMemoryOver()) break;
    TRef<TYUVImage> p = drawer.CreateVideoImage(info.Width, info.Height, info.HasAlpha);
    if (!p) break;
    pictures.push_back(p);
  }
  if (pictures.size() < 2) return false;
  for (const TRef<TYUVImage>& p : pictures) video_->AddImage(p.get());
  video_->SetReadAhead(std::int32_t(pictures.size()) - 2);
  picturesMade_ = true;
  return true;
}

bool TVideoFrameExtractor::Hold(double displayRate, double t, bool wait) {
  if (HeldUses > 0 && Held.Image) {
    ++HeldUses;
    return true;
  }
  if (!video_ || !picturesMade_) return false;
  if (wait) video_->Request(true, t);
  video_->TakeFrame(Held, displayRate, t);
  const auto unusable = [this] {
    return Held.Image && (Held.FrameIndex < 0 || Held.Image->ContentLost());
  };
  if (!Held.Image || unusable()) {
    video_->PutBack(Held);
    video_->Request(true, t);
    video_->TakeFrame(Held, displayRate, t);
  }
  if (!Held.Image) return false;
  HeldUses = 1;
  return true;
}

void TVideoFrameExtractor::Release() {
  if (HeldUses <= 0) return;
  if (--HeldUses == 0 && video_) video_->PutBack(Held);
}

// ---- TVideoClip2 ------------------------------------------------------------------------------

TVideoClip2::TVideoClip2(TOruSlideHost* host, TExtractorWrapper* wrapper, TIniList* entry)
    : host_(host), wrapper_(wrapper), entry_(entry) {
  if (wrapper_) wrapper_->Users.push_back(this);
}

void TVideoClip2::Dispose() {
  if (wrapper_) {
    auto& users = wrapper_->Users;
    users.erase(std::remove(users.begin(), users.end(), static_cast<void*>(this)), users.end());
    wrapper_ = nullptr;
  }
  entry_ = nullptr;
  host_ = nullptr;
  TRefObject::Dispose();
}

void TVideoClip2::ReadEntry(const TIniFile* project) {
  if (!entry_) return;
  LoadFromDisk = IniGetBool(entry_->Find(u"LoadFromDisk"), false);
  FileName = IniGetString(entry_->Find(u"FileName"));
  Duration = SaneTime(IniGetFloat(entry_->Find(u"Duration"), 0));
  StartVideoTime = SaneTime(IniGetFloat(entry_->Find(u"StartVideoTime"), 0));
  StartORUTime = SaneTime(IniGetFloat(entry_->Find(u"StartORUTime"), 0));
  FPSMultiplier = SaneMultiplier(IniGetFloat(entry_->Find(u"FPSMultiplier"), 1.0));
  ClipCaption = IniGetString(entry_->Find(u"ClipCaption"));
  Mute = IniGetBool(entry_->Find(u"Mute"), false);
  ClipGUID = IniGetString(entry_->Find(u"ClipGUID"));
  SynchPos = 0;
  const std::int32_t slide = IniGetInt(entry_->Find(u"StartSlideIdx"), 0);
  const TIniSection* times = project && slide >= 1 ? project->FindSection(u"Times") : nullptr;
  if (times) SynchPos = SaneTime(IniGetFloat(times->FindIndexed(u"opt_synchpos", slide), 0));
}

void TVideoClip2::WriteBack() {
  if (!entry_) return;
  entry_->WriteString(u"Duration", NumberText(Duration));
  entry_->WriteString(u"StartVideoTime", NumberText(StartVideoTime));
}

TVideoClip2* FindVideoClip(TExtractorWrapper* wrapper, const WideString& guid) {
  if (!wrapper || guid.empty()) return nullptr;
  for (void* p : wrapper->Users) {
    auto* clip = static_cast<TVideoClip2*>(p);
    if (WideSameText(clip->ClipGUID, guid)) return clip;
  }
  return nullptr;
}

// ---- TOruVideo ------------------------------------------------------------------------------------

void TOruVideo::Dispose() {
  if (Holding) {
    if (TVideoFrameExtractor* x = FrameExtractor()) x->Release();
    Holding = false;
  }
  CancelPendingShadow();
  Clip = nullptr;
  Wrapper = nullptr;
  Placeholder = nullptr;
  Shadow = nullptr;
  grading_ = nullptr;
  gradingTable_ = nullptr;
  TOruObject::Dispose();
}

void TOruVideo::InitState() {
  DisplayRate = 60;
  PixelAspect = 1.0;
  ImageIndex = kImageIndexNone;
  FPSMultiplier = 1.0;
  AntialiasedBorder = true;
  Border = TImageBorder{};
}

const WideString& TOruVideo::ClipFileName() const { return Clip ? Clip->FileName : FileName; }

TVideoFrameExtractor* TOruVideo::FrameExtractor() const {
  TExtractorWrapper* w = Clip ? Clip->Wrapper() : Wrapper.get();
  return w ? dynamic_cast<TVideoFrameExtractor*>(w->Extractor()) : nullptr;
}

TFrameSource* TOruVideo::Source() const {
  TExtractorWrapper* w = Clip ? Clip->Wrapper() : Wrapper.get();
  return w && w->Extractor() ? w->Extractor()->Source() : nullptr;
}

TSize TOruVideo::GetImageSize() {
  if (TFrameSource* s = Source()) return {s->Info.Width, s->Info.Height};
  return TOruObject::GetImageSize();
}

bool TOruVideo::GetMainPicture(WideString& fileName, TSize& size) {
  (void)fileName;
  (void)size;
  return false;  // answered by the video unit's media hook
}

void TOruVideo::ReadProps(TOruObjectProps* props, bool reload) {
  const WideString oldFile = ClipFileName();
  const WideString oldGuid = ClipGUID;
  const bool oldDisk = LoadFromDisk;
  ClipGUID = ReadPropString(props, u"ClipGUID");
  Mute = ReadPropBool(props, u"Mute", false);
  StartORUTime = SaneTime(ReadPropFloat(props, u"StartORUTime", 0));
  FPSMultiplier = SaneMultiplier(ReadPropFloat(props, u"FPSMultiplier", 1.0));
  LoadFromDisk = ReadPropBool(props, u"LoadFromDisk", false);
  FileName = ReadPropString(props, u"FileName");
  Duration = SaneTime(ReadPropFloat(props, u"Duration", 0));
  StartVideoTime = SaneTime(ReadPropFloat(props, u"StartVideoTime", 0));
  AntialiasedBorder = ReadPropBool(props, u"AntialiasedBorder", true);

  TImageBorder b;
  b.BorderOn = ReadPropBool(props, u"EnableBorder", false);
  b.CropOn = ReadPropBool(props, u"EnableCrop", false);
  b.AspectOn = ReadPropBool(props, u"EnableAspect", false);
  b.BorderWidth = float(ReadPropFloat(props, u"BorderWidth", 1.5));
  b.BorderColor = ReadPropColor(props, u"BorderColor", TColor32::FromValue(0xFFFFFFFFu));
  b.CropRect = ReadPropRectF(props, u"CropRect", TFloatRect{});
  b.Aspect = float(ReadPropFloat(props, u"Aspect", 0));
  Border = b;

  DeinterlaceType = std::uint8_t(ReadPropEnum(props, u"DeinterlaceType", DeinterlaceTypeNames, kDeinterlaceAuto));
  WaitForConvert = ReadPropBool(props, u"WaitForConvert", false);
  ChromaEnable = ReadPropBool(props, u"ChromaEnable", false);
  Chromakey = ReadPropRGB(props, u"Chromakey", TColor24{0, 255, 0});
  const double delta = ReadPropFloat(props, u"ChromaDelta", 0);
  ChromaDelta = Finite(delta) ? float(std::clamp(delta, 0.0, 1e6)) : 0.0f;
  ImageIndex = ReadPropInt(props, u"ImageIndex", kImageIndexNone);

  // The clip of the "Tracks" list, shared with the other objects naming it.
  TOruSlideHost* host = GetHost();
  TRef<TVideoClip2> clip;
  const TIniFile* project = ProjectOf(props);
  TIniList* entry = project ? FindVideoClipSection(project, ClipGUID) : nullptr;
  if (!entry) ClipGUID.clear();
  const bool lookUp = !reload || ClipGUID != oldGuid || LoadFromDisk != oldDisk ||
                      (entry ? IniGetString(entry->Find(u"FileName")) : FileName) != oldFile || (!Clip && !Wrapper);
  if (lookUp) {
    if (Holding) {
      if (TVideoFrameExtractor* x = FrameExtractor()) x->Release();
      Holding = false;
    }
    Clip = nullptr;
    Wrapper = nullptr;
    if (host && entry) {
      const WideString file = IniGetString(entry->Find(u"FileName"));
      const bool disk = IniGetBool(entry->Find(u"LoadFromDisk"), false);
      TRef<TExtractorWrapper> w = host->GetExtractor(file, disk);
      clip = TRef<TVideoClip2>(FindVideoClip(w.get(), ClipGUID));
      if (!clip) {
        clip = MakeRef<TVideoClip2>(host, w.get(), entry);
        clip->ReadEntry(project);
      }
      Clip = clip;
    } else if (host && !FileName.empty()) {
      Wrapper = host->GetExtractor(FileName, LoadFromDisk);
    }
    SetFile();
  } else {
    CalcLayout();
  }
  Changed = true;
  TOruObject::ReadProps(props, reload);
}

void TOruVideo::SetFile() {
  TExtractorWrapper* w = Clip ? Clip->Wrapper() : Wrapper.get();
  Placeholder = nullptr;
  if (w && w->Extractor()) {
    const double fileDuration = w->DurationMs();
    if (Clip) {
      const double d = Clip->Duration, s = Clip->StartVideoTime;
      ClampToFile(fileDuration, Clip->Duration, Clip->StartVideoTime);
      if (d != Clip->Duration || s != Clip->StartVideoTime) Clip->WriteBack();
    } else {
      ClampToFile(fileDuration, Duration, StartVideoTime);
    }
  } else {
    // No extractor: the file is missing, or opened but is no video we can read.
    const bool found = w && w->State() == kExtractorNoSource;
    Placeholder = RenderLoadErrorImage(ClipFileName(), found);
  }
  if (ImageIndex != kImageIndexNone)
    LayOutSiblings();
  else
    CalcLayout();
}

void TOruVideo::LayOutSiblings() {
  std::vector<TOruObject*> stack{Root()};
  std::int32_t guard = 0;
  while (!stack.empty() && guard++ < 1000000) {
    TOruObject* o = stack.back();
    stack.pop_back();
    if (auto* v = dynamic_cast<TOruVideo*>(o)) {
      const bool sameClip = !ClipGUID.empty() && WideSameText(v->ClipGUID, ClipGUID);
      if (v == this || sameClip || v->ImageIndex == ImageIndex) v->CalcLayout();
    }
    for (std::int32_t i = 0; i < o->ChildCount(); ++i) stack.push_back(o->Child(i));
  }
}

void TOruVideo::CalcLayout() {
  TSize size;
  PixelAspect = 1.0;
  if (TFrameSource* s = Source()) {
    size = {s->Info.Width, s->Info.Height};
    if (size.cx > 0 && size.cy > 0) {
      if (s->Info.AspectClass == ac4x3) PixelAspect = size.cy * 1.333333 / size.cx;
      if (s->Info.AspectClass == ac16x9) PixelAspect = size.cy * 1.777778 / size.cx;
    }
  } else if (Placeholder) {
    size = {Placeholder->Params.Width, Placeholder->Params.Height};
  }
  if (size.cx <= 0 || size.cy <= 0) {
    CropRect = TFloatRect{};
    DrawnSize = TFloatPoint{};
    Margin = 0;
    return;
  }
  if (!Finite(PixelAspect) || !(PixelAspect > 0)) PixelAspect = 1.0;
  if (Placeholder && !Source()) {
    // The placeholder fills the object's rectangle, unframed.
    CropRect = TFloatRect{0, 0, float(size.cx), float(size.cy)};
    Margin = 0;
  } else {
    Margin = 0;
    CalcBorderGeometry(ToBorderParams(Border), size, Margin, CropRect, float(PixelAspect));
    if (!Finite(Margin) || Margin < 0) Margin = 0;
  }
  DrawnSize = {float(FloatRectWidth(CropRect) * PixelAspect), FloatRectHeight(CropRect)};
  Width = DrawnSize.X + 2 * Margin;
  Height = DrawnSize.Y + 2 * Margin;
  Changed = true;
}

double TOruVideo::VideoTimeAt(double t) {
  double s = Clip ? Clip->StartORUTime : StartORUTime;
  const double m = SaneMultiplier(Clip ? Clip->FPSMultiplier : FPSMultiplier);
  const double v0 = (Clip ? Clip->StartVideoTime : StartVideoTime) / m;
  const double d = (Clip ? Clip->Duration : Duration) / m;
  const double parentStart = parent_ ? parent_->GetTimePoint(0) : GetTimePoint(0);
  double r = v0;
  if (Finite(t) && t >= std::max(parentStart, s)) {
    if (Clip) {
      TOruSlideHost* host = Clip->Host();
      s -= (host ? host->TimeOffset : 0.0) - Clip->SynchPos;
    }
    r = s + d >= t ? t - s + v0 : v0 + d;
  }
  r *= m;
  return Finite(r) ? r : 0.0;
}

void TOruVideo::SetTime(bool recursive, double t) {
  TOruSlideHost* host = GetHost();
  // The show time stood still or went back (pause, seek): the picture must
  // be taken again even when nothing else moved.
  if (t <= showTime_ + (host ? host->TimeOffset : 0.0)) Changed = true;
  showTime_ = t;
  TOruObject::SetTime(recursive, t);
}

bool TOruVideo::IsChanged() {
  if (TOruObject::IsChanged()) return true;
  if (shadowTicket_ && shadowTicket_->Ready.load()) return true;
  TVideoFrameExtractor* x = FrameExtractor();
  if (!x || !x->Video() || !Active) return false;
  // A playing clip changes whenever its due frame does.
  return x->Video()->FrameIndexAt(VideoTimeAt(showTime_)) != LastFrame;
}

TCustomColorGradeTexture* TOruVideo::GetColorGrading() { return grading_.get(); }

TCustomColorGradeTexture* TOruVideo::VideoGrading(TDeviceDrawer& drawer) {
  TFrameSource* s = Source();
  if (!s) return nullptr;
  const bool rgb = s->Info.HasAlpha;
  TRef<TSysBitmap> table = GetSharedGradeTable(rgb, nullptr);
  if (!table) return nullptr;
  if (!grading_ || rgb != gradingRgb_) {
    grading_ = MakeGradeTextureHook ? MakeGradeTextureHook(drawer, gkVolume) : nullptr;
    gradingTable_ = nullptr;
    if (!grading_) return nullptr;
    gradingRgb_ = rgb;
  }
  if (table != gradingTable_) {
    grading_->SetSource(table.get(), false);
    gradingTable_ = table;
  }
  return grading_.get();
}

void TOruVideo::PrepareAtTime(TDeviceDrawer& drawer, double t) {
  TVideoFrameExtractor* x = FrameExtractor();
  if (x && !x->Requested && x->MakePictures(drawer)) {
    x->Video()->Request(false, VideoTimeAt(t));
    x->Requested = true;
  }
  TOruObject::PrepareAtTime(drawer, t);
}

namespace {

void ShadowTaskDone(void* data, TImageTask* task) {
  auto* ticket = static_cast<TOruVideo::TShadowTicket*>(data);
  {
    std::lock_guard<std::mutex> g(ticket->Lock);
    ticket->Result = task ? task->Result : nullptr;
  }
  ticket->Ready.store(true);
}

}  // namespace

void TOruVideo::CancelPendingShadow() {
  // Once cancelled the queue no longer calls back into the ticket.
  if (pendingShadow_ && shadowQueue_) shadowQueue_->CancelTask(pendingShadow_->Key());
  shadowQueue_ = nullptr;
  pendingShadow_ = nullptr;
  shadowTicket_ = nullptr;
}

bool TOruVideo::PrepareShadow() {
  if (!ShadowEnable || !(Width > 0) || !(Height > 0)) return false;
  TShadowParams p;
  p.Name = kNoPictureName;
  p.Right = std::max(0.0f, Width - 2 * Margin);
  p.Bottom = std::max(0.0f, Height - 2 * Margin);
  p.Blur = ShadowSize;
  p.Contour = ShadowSpreadIndex;
  p.Direction = 8;
  p.StartOpacity = 255;
  p.EndOpacity = 255;
  p.MipLevel = 0;
  if (!(p.Right > 0) || !(p.Bottom > 0)) return false;
  if (Shadow && Shadow->SameParams(p)) {
    if (pendingShadow_) CancelPendingShadow();
    return Shadow->Image() != nullptr;
  }
  TOruSlideHost* host = GetHost();
  TImageTaskQueue* queue = host ? host->ImageTasks() : nullptr;
  if (!Shadow || !queue) {
    CancelPendingShadow();
    Shadow = TShadow::CreateRectShadow(p, ObjectShadowAccessor(*this, nullptr));
    return Shadow && Shadow->Image() != nullptr;
  }
  // Other parameters: the new shadow is rendered in the background while
  // the old one is still drawn.
  if (!pendingShadow_ || !pendingShadow_->SameParams(p)) {
    CancelPendingShadow();
    pendingShadow_ = TShadow::CreateRectShadow(p, [](const WideString&) { return TRef<TImage>(); });
    if (!pendingShadow_) return Shadow->Image() != nullptr;
    shadowTicket_ = MakeRef<TShadowTicket>();
    shadowQueue_ = TRef<TImageTaskQueue>(queue);
    queue->AddTask(pendingShadow_->Key(), u"shadow", false, pendingShadow_->Key(), &ShadowTaskDone,
                   shadowTicket_.get());
  } else if (shadowTicket_ && shadowTicket_->Ready.load()) {
    TRef<TImage> made;
    {
      std::lock_guard<std::mutex> g(shadowTicket_->Lock);
      made = TRef<TImage>(dynamic_cast<TImage*>(shadowTicket_->Result.get()));
    }
    const WideString key = pendingShadow_->Key();
    TImageAccessor fallback = ObjectShadowAccessor(*this, nullptr);
    TRef<TShadow> ready = TShadow::CreateRectShadow(p, [made, key, fallback](const WideString& name) {
      return made && name == key ? made : fallback(name);
    });
    pendingShadow_ = nullptr;
    shadowTicket_ = nullptr;
    shadowQueue_ = nullptr;
    if (ready) {
      Shadow = ready;
      NotifyChanged();
    }
  }
  return Shadow && Shadow->Image() != nullptr;
}

void TOruVideo::DrawShadow(TDeviceDrawer& drawer, float opacity) {
  if (!PrepareShadow()) return;
  const TShadowParams& sp = Shadow->Params();
  const float size = float(std::sqrt(std::max(0.0, double(sp.Right) * sp.Bottom)));
  const TFloatPoint3 o = LocalToWorld(*this, X0 + Margin, Y0 + Margin);
  const TFloatPoint3 c1 = LocalToWorld(*this, X0 + Width - Margin, Y0 + Margin);
  const TFloatPoint3 c2 = LocalToWorld(*this, X0 + Margin, Y0 + Height - Margin);
  const TFloatPoint3 xa{c1.X - o.X, c1.Y - o.Y, c1.Z - o.Z}, ya{c2.X - o.X, c2.Y - o.Y, c2.Z - o.Z};
  const std::uint32_t colour = std::uint32_t(ShadowColorCorrected.R) << 16 |
                               std::uint32_t(ShadowColorCorrected.G) << 8 | ShadowColorCorrected.B;
  TObjectShadowDrawer sd(drawer);
  Shadow->Draw(&sd, o, xa, ya, colour, opacity * ShadowOpacity / 100.0f / 100.0f, float(ShadowAngle),
               ShadowDistance, size);
}

void TOruVideo::DrawPlaceholder(TDeviceDrawer& drawer, float opacity) {
  if (!Placeholder || !(Width > 0) || !(Height > 0)) return;
  const float pw = float(std::max(1, Placeholder->Params.Width)), ph = float(std::max(1, Placeholder->Params.Height));
  const TFloatPoint o = ProjectObjectPoint(*this, LocalToWorld(*this, X0, Y0));
  const TFloatPoint ax = Sub(ProjectObjectPoint(*this, LocalToWorld(*this, X0 + Width / pw, Y0)), o);
  const TFloatPoint ay = Sub(ProjectObjectPoint(*this, LocalToWorld(*this, X0, Y0 + Height / ph)), o);
  TImageDrawParams p;
  p.Opacity = opacity;
  p.Antialiased = AntialiasedBorder;
  // The level of the size it shows at: the placeholder's largest is made
  // for the largest screens.
  const auto px = [](float v) { return std::isfinite(v) ? std::int32_t(std::clamp(v, 1.0f, 1e9f)) : 1; };
  p.Level = MipLevelForSize({Placeholder->Params.Width, Placeholder->Params.Height}, px(std::hypot(ax.X, ax.Y) * pw),
                            px(std::hypot(ay.X, ay.Y) * ph));
  drawer.DrawImage(Placeholder.get(), o, p, ax, ay);
}

void TOruVideo::PrepareDraw(TDeviceDrawer& drawer) {
  const float opacity = GetOpacity();
  if (opacity == 0) return;
  DrawShadow(drawer, opacity);
  TVideoFrameExtractor* x = FrameExtractor();
  if (!x || !x->Video()) {
    DrawPlaceholder(drawer, opacity);
    return;
  }
  if (!x->MakePictures(drawer)) return;
  const double t = VideoTimeAt(showTime_);
  TOruVideoExtractor* video = x->Video();
  if (!Holding) Holding = x->Hold(DisplayRate, t, drawer.CaptureMode || WaitForConvert);
  if (!Holding || !x->Held.Image || !(DrawnSize.X > 0) || !(DrawnSize.Y > 0)) return;

  const TFrameSourceInfo& info = video->Info();
  double start = 0, stop = 0;
  video->FrameTimeRange(x->Held.FrameIndex, start, stop);
  LastField = VideoFieldAt(DeinterlaceType, info.Interlaced, info.TopFieldFirst, start, stop, t);
  LastFrame = video->FrameIndexAt(t);

  TVideoDrawParams p;
  p.Image = x->Held.Image.get();
  p.Opacity = opacity;
  p.Antialiased = AntialiasedBorder;
  p.SourceRect = CropRect;
  p.ChromaKey = ChromaEnable;
  KeyToUV(Chromakey, p.KeyU, p.KeyV);
  p.KeyTolerance = ChromaDelta;
  p.Deinterlace = LastField;
  if (TCustomColorGradeTexture* g = VideoGrading(drawer)) {
    p.GradeMode = 1;
    p.GradeTable1 = g;
    p.GradeTable2 = g;
    p.GradeMix = 0;
  }

  // One source pixel is PixelAspect x 1 of the object.
  const float sx = float(PixelAspect), sy = 1.0f;
  if (Border.BorderOn && Margin > 0) {
    const TFloatPoint o = ProjectObjectPoint(*this, LocalToWorld(*this, X0, Y0));
    const TFloatPoint r = ProjectObjectPoint(*this, LocalToWorld(*this, X0 + Width, Y0 + Height));
    const TFloatPoint b = ProjectObjectPoint(*this, LocalToWorld(*this, X0 + Margin, Y0 + Margin));
    const TColor32 colour = CorrectDisplayColor32(Border.BorderColor);
    drawer.DrawGradientFrame(true, o, AntialiasedBorder, opacity, colour, Sub(r, o), Sub(b, o));
  }
  const float lx = X0 + Margin - CropRect.Left * sx, ly = Y0 + Margin - CropRect.Top * sy;
  const TFloatPoint o = ProjectObjectPoint(*this, LocalToWorld(*this, lx, ly));
  const TFloatPoint ax = Sub(ProjectObjectPoint(*this, LocalToWorld(*this, lx + sx, ly)), o);
  const TFloatPoint ay = Sub(ProjectObjectPoint(*this, LocalToWorld(*this, lx, ly + sy)), o);
  drawer.DrawVideoImage(p, o, ax, ay);
}

void TOruVideo::Reset(TDeviceDrawer& drawer) {
  if (Holding) {
    TVideoFrameExtractor* x = FrameExtractor();
    if (x && x->Video()) {
      const double fps = x->Video()->Info().FrameRate;
      const double rate = DisplayRate > 0 ? DisplayRate : 60;
      const double allowed = Finite(fps) && fps > 0 ? std::ceil(fps / rate) : 1;
      const std::int64_t lag = std::llabs(std::int64_t(x->Held.FrameIndex) - std::int64_t(x->Held.AskedIndex));
      // The picture shown lagged by more than a display refresh: draw again.
      if (double(lag) > allowed) Changed = true;
      x->Release();
    }
    Holding = false;
  }
  TOruObject::Reset(drawer);
}

// ---- The module ------------------------------------------------------------------------------------

namespace {

zm::THookInstall<TCreateOruObjectProc> gVideoObjectHook;
zm::THookInstall<TGetObjectMediaProc> gVideoMediaHook;
zm::THookInstall<TCreateFrameExtractorProc> gVideoExtractorHook;
std::int32_t gVideoInitCount = 0;

TRef<TOruObject> CreateVideoObject(std::int32_t typeCode, TOruObject* parent, TOruObjectProps* props) {
  if (typeCode == kOruObjVideo) return TOruObject::Create<TOruVideo>(parent, props);
  const TCreateOruObjectProc next = gVideoObjectHook.Saved();
  return next && next != &CreateVideoObject ? next(typeCode, parent, props) : nullptr;
}

TOruObject* GetVideoMedia(TOruObject* object, WideString& fileName, TSize& size) {
  if (auto* v = dynamic_cast<TOruVideo*>(object); v && v->ImageIndex != kImageIndexNone) {
    fileName = v->ClipFileName();
    if (TFrameSource* s = v->Source()) size = {s->Info.Width, s->Info.Height};
    return v;
  }
  const TGetObjectMediaProc next = gVideoMediaHook.Saved();
  if (next && next != &GetVideoMedia) return next(object, fileName, size);
  return GetBaseObjectMedia(object, fileName, size);
}

TRef<TFrameExtractor> CreateVideoExtractor(TFrameSource* source) {
  if (!source) return nullptr;
  return MakeRef<TVideoFrameExtractor>(source);
}

}  // namespace

void InitOruVideo() {
  if (gVideoInitCount++ > 0) return;
  gVideoObjectHook.Install(CreateOruObjectHook, &CreateVideoObject);
  gVideoMediaHook.Install(GetObjectMediaHook, &GetVideoMedia);
  gVideoExtractorHook.Install(CreateFrameExtractorHook, &CreateVideoExtractor);
}

void FiniOruVideo() {
  if (gVideoInitCount <= 0 || --gVideoInitCount > 0) return;
  gVideoExtractorHook.RestoreIfStillSet();
  gVideoMediaHook.RestoreIfStillSet();
  gVideoObjectHook.RestoreIfStillSet();
}

}  // namespace oru
