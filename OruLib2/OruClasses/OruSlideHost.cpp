#include "OruLib2/OruClasses/OruSlideHost.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <thread>
#include <vector>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/Graphics/zmShadows.h"
#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmStringList.h"

namespace oru {

using zm::TImage;
using zm::TRef;

TCreateFrameExtractorProc CreateFrameExtractorHook = nullptr;
TGlyphCacheContextProc GlyphCacheContextHook = nullptr;
TCreateTextBitmapMakerProc CreateTextBitmapMakerHook = nullptr;
double DefaultHostScale = 1.0;
std::atomic<bool> ColorManagementEnabled{true};

namespace {

// Generated pictures larger than this on a side are refused.
constexpr std::int32_t kMaxGeneratedSide = 16384;
// The "ExeGUID" entry is a short text; more than this is not read.
constexpr std::int64_t kMaxExeGuidBytes = 1 << 20;

bool SizeAllowed(std::int32_t w, std::int32_t h) {
  return w >= 1 && h >= 1 && w <= kMaxGeneratedSide && h <= kMaxGeneratedSide;
}

// Owns the caller's reference of a stream.
TRef<zm::TStream> AdoptStream(zm::TStream* stream) { return TRef<zm::TStream>::Adopt(stream); }

// A new 32-bit bitmap; nil for sizes outside the allowed range.
TRef<zm::TDirectBitmap> NewBitmap32(std::int32_t w, std::int32_t h) {
  if (!SizeAllowed(w, h)) return nullptr;
  return zm::MakeRef<zm::TDirectBitmap>(w, zm::PixelFormatByName(zm::PF_A8R8G8B8), h);
}

TRef<zm::TSysBitmap> AsSysBitmap(zm::TDirectBitmap* bitmap) {
  return zm::MakeRef<zm::TSysDirectWrapper>(bitmap, false);
}

TRef<TImage> ToImage(TRef<zm::TDirectBitmap> bitmap, const WideString& name) {
  if (!bitmap) return nullptr;
  return zm::SysBitmapToImage(bitmap.Detach(), true, name);
}

// The numbers of a ", "-separated list; items that are not integers give
// nothing (the list ends there).
std::vector<std::int32_t> ReadNumbers(const WideString& text) {
  std::vector<std::int32_t> numbers;
  std::size_t start = 0;
  while (start <= text.size() && numbers.size() < 8) {
    std::size_t comma = text.find(u',', start);
    std::int32_t v = 0;
    if (!zm::TryStrToInt(zm::Trim(text.substr(start, comma == WideString::npos ? WideString::npos : comma - start)),
                         v))
      break;
    numbers.push_back(v);
    if (comma == WideString::npos) break;
    start = comma + 1;
  }
  return numbers;
}

// ---- The hosts behind ResolveGeneratedImageHook ----------------------------------------

std::mutex gHostsLock;
std::vector<TOruSlideHost*> gHosts;                // live hosts, newest last
zm::THookInstall<zm::TResolveGeneratedImageProc> gResolveHook;  // from the first host to the last
std::condition_variable gHostCallsDone;
std::vector<std::pair<TOruSlideHost*, std::int32_t>> gHostCalls;  // calls in flight per host

std::int32_t& CallCount(TOruSlideHost* host) {
  for (auto& c : gHostCalls)
    if (c.first == host) return c.second;
  gHostCalls.emplace_back(host, 0);
  return gHostCalls.back().second;
}

TRef<TImage> ResolveThroughNewestHost(const WideString& name) {
  TOruSlideHost* host = nullptr;
  {
    std::lock_guard<std::mutex> g(gHostsLock);
    if (gHosts.empty()) return nullptr;
    host = gHosts.back();
    ++CallCount(host);
  }
  struct TDone {
    TOruSlideHost* host;
    ~TDone() {
      {
        std::lock_guard<std::mutex> g(gHostsLock);
        --CallCount(host);
      }
      gHostCallsDone.notify_all();
    }
  } done{host};
  return host->ResolveImage(name);
}

void RegisterHost(TOruSlideHost* host) {
  std::lock_guard<std::mutex> g(gHostsLock);
  gHosts.push_back(host);
  if (!gResolveHook.Installed()) gResolveHook.Install(zm::ResolveGeneratedImageHook, &ResolveThroughNewestHost);
}

// Waits for the hook's calls into the host (other than this thread's own).
void UnregisterHost(TOruSlideHost* host) {
  std::unique_lock<std::mutex> lock(gHostsLock);
  auto it = std::find(gHosts.begin(), gHosts.end(), host);
  if (it == gHosts.end()) return;
  gHosts.erase(it);
  gHostCallsDone.wait_for(lock, std::chrono::seconds(10), [host] { return CallCount(host) == 0; });
  gHostCalls.erase(std::remove_if(gHostCalls.begin(), gHostCalls.end(), [host](auto& c) { return c.first == host; }),
                   gHostCalls.end());
  if (gHosts.empty()) gResolveHook.Restore();
}

// The width and height of a "TextWithSize:" name (after its prefix).
bool SizedTextSize(const WideString& rest, std::int32_t& w, std::int32_t& h) {
  std::vector<std::int32_t> n = ReadNumbers(rest);
  w = n.size() > 0 ? n[0] : 0;
  h = n.size() > 1 ? n[1] : 0;
  return w >= 1 && h >= 1;
}

}  // namespace

zm::TFloatPoint3 CameraForOutput(std::int32_t width, std::int32_t height) {
  return {float(width * 0.5), float(height * 0.5), float(-height * kCameraDepthFactor)};
}

// ---- TFrameExtractor -------------------------------------------------------------------

TFrameExtractor::TFrameExtractor(zm::TFrameSource* source) : source_(source) {}

void TFrameExtractor::Dispose() {
  source_ = nullptr;
  TRefObject::Dispose();
}

std::int32_t TFrameExtractor::FrameCount() const { return source_ ? zm::PlayedFrameCount(source_->Info) : 0; }
double TFrameExtractor::FrameRate() const { return source_ ? source_->Info.FrameRate : 0; }

// ---- TExtractorWrapper -----------------------------------------------------------------

TExtractorWrapper::TExtractorWrapper(TOruSlideHost* host, bool plainFile) : host_(host), plainFile_(plainFile) {}

void TExtractorWrapper::Dispose() {
  if (extractor_) {
    extractor_->Flush();
    extractor_ = nullptr;
  }
  if (host_) host_->RemoveExtractor(this);
  Users.clear();
  Users.shrink_to_fit();
  TRefObject::Dispose();
}

void TExtractorWrapper::SetMediaName(const WideString& name) {
  if (state_ != kExtractorUnset && name == mediaName_) return;
  mediaName_ = name;
  TFileAccessor* accessor = host_ ? host_->FileAccessor() : nullptr;
  TRef<zm::TStream> stream;
  WideString path = name;
  if (accessor) {
    if (plainFile_) {
      if (accessor->FindRealFile(path)) stream = AdoptStream(OpenFileForReading(path));
    } else {
      stream = AdoptStream(accessor->OpenFile(name));
    }
  }
  filePath_ = path;
  const bool multiThread = host_ ? host_->VideoMultiThread : true;
  const bool hardware = host_ ? host_->VideoUseHardware : false;
  TRef<zm::TFrameSource> source;
  if (stream) {
    try {
      source = zm::CreateFrameSource(stream.Detach(), true, path, multiThread, hardware);
    } catch (const zm::EAbort&) {
      throw;
    } catch (const std::exception&) {
      source = nullptr;  // a clip that does not decode has no frames
    }
    state_ = kExtractorNoSource;
  } else {
    state_ = kExtractorNoFile;
  }
  // The old clip's extractor goes whether or not the new one opens: the
  // holder must not show a file it no longer names.
  if (extractor_) {
    extractor_->Flush();
    extractor_ = nullptr;
  }
  if (!source) return;
  extractor_ = CreateFrameExtractorHook ? CreateFrameExtractorHook(source.get())
                                        : zm::MakeRef<TFrameExtractor>(source.get());
  state_ = extractor_ ? kExtractorReady : kExtractorNoSource;
}

double TExtractorWrapper::DurationMs() const {
  if (!extractor_) return 0;
  double rate = extractor_->FrameRate();
  if (!(rate > 0) || !std::isfinite(rate)) return 0;
  return extractor_->FrameCount() / rate * 1000.0;
}

// ---- TColorGradeWrapper ----------------------------------------------------------------

TMakeGradeTextureProc MakeGradeTextureHook = nullptr;

void TColorGradeWrapper::Dispose() {
  texture_ = nullptr;
  filter_ = nullptr;
  table_ = nullptr;
  TRefObject::Dispose();
}

void TColorGradeWrapper::SetSource(zm::TSysBitmap* table, zm::TObjectFilter* filter) {
  if (table == table_.get() && filter == filter_.get()) return;
  table_ = TRef<zm::TSysBitmap>(table);
  filter_ = TRef<zm::TObjectFilter>(filter);
  dirty_ = true;
}

zm::TCustomColorGradeTexture* TColorGradeWrapper::Prepare(zm::TDeviceDrawer& drawer, bool mode3) {
  if (!texture_ || mode3 != mode3_ || &drawer != drawer_) {
    texture_ = MakeGradeTextureHook ? MakeGradeTextureHook(drawer, mode3 ? zm::gkVolume : zm::gkStrip) : nullptr;
    drawer_ = &drawer;
    mode3_ = mode3;
    dirty_ = true;
  }
  if (!texture_) return nullptr;
  if (dirty_) {
    // A strip's source stays the identity: only the filter changes it.
    if (mode3) texture_->SetSource(table_.get(), true);
    texture_->SetGradeFilter(filter_.get());
    dirty_ = false;
  }
  return texture_.get();
}

// ---- TOruSlideHost ---------------------------------------------------------------------

TOruSlideHost::TOruSlideHost(TFileAccessor* accessor, const TOruHostCallbacks& callbacks,
                             const WideString& namePrefix, bool ownsAccessor)
    : callbacks_(callbacks), namePrefix_(namePrefix) {
  ZM_ASSERT(accessor, "TOruSlideHost.Create - FileAccessor not Assigned");
  ZM_ASSERT(callbacks.EffectBufferSize, "TOruSlideHost.Create - EffectBufferSize not Assigned");
  ZM_ASSERT(callbacks.Camera, "TOruSlideHost.Create - Camera not Assigned");
  ZM_ASSERT(callbacks.ShowSource, "TOruSlideHost.Create - ShowSource not Assigned");
  accessor_ = ownsAccessor ? TRef<TFileAccessor>::Adopt(accessor) : TRef<TFileAccessor>(accessor);
  Scale = DefaultHostScale;

  resolverHandle_ = accessor_->Source()->AddCallback(&TOruSlideHost::ResolverCallback, this);
  zm::ButtonPictureLoader loader = [this](const WideString& name) { return LoadSkinPicture(name); };
  buttonHost_ = zm::MakeRef<zm::TButtonProducerHost>(loader, zm::ButtonProgressCallback{});
  textProducer_ = zm::MakeRef<zm::TTextProducer>();
  maskGenerator_ = zm::MakeRef<zm::TMaskGenerator>();

  if (TRef<zm::TStream> s = AdoptStream(accessor_->OpenFile(u"ExeGUID"))) {
    std::int64_t size = s->GetSize();
    std::vector<std::uint8_t> bytes;
    if (size > 0) {
      bytes.resize(std::size_t(std::min(size, kMaxExeGuidBytes)));
      std::int32_t got = s->Read(zm::TReadBuffer(bytes.data(), bytes.size()));
      bytes.resize(std::size_t(std::max(got, 0)));
    }
    zm::UTF8DecodeBuf(bytes, 0, exeGuid_, std::int32_t(bytes.size()));
    if (GlyphCacheContextHook) GlyphCacheContextHook(exeGuid_);
  }

  TFileAccessor* acc = accessor_.get();
  TRef<TFileAccessor> keep = accessor_;
  imageTasks_ = zm::MakeRef<zm::TImageTaskQueue>([keep, acc](zm::TImageTask* task) -> TRef<zm::TRefObject> {
    return TRef<zm::TRefObject>(acc->GetImage(task->Description));
  });
  imageTasks_->StartWorker();
  RegisterHost(this);
}

void TOruSlideHost::Dispose() {
  UnregisterHost(this);
  if (imageTasks_) {
    imageTasks_->StopQueue();
    imageTasks_ = nullptr;
  }
  // Freeing the handle waits for resolver calls of other threads, which
  // still use the producers.
  resolverHandle_ = nullptr;
  buttonHost_ = nullptr;
  {
    std::lock_guard<std::mutex> g(textLock_);
    textProducer_ = nullptr;
  }
  maskGenerator_ = nullptr;
  {
    std::lock_guard<std::mutex> g(textLock_);
    if (textMaker_) textMaker_->Flush();
    textMaker_ = nullptr;
  }
  std::vector<TRef<TExtractorWrapper>> wrappers;
  {
    std::lock_guard<std::mutex> g(extractorLock_);
    wrappers.swap(extractors_);
    for (auto& w : wrappers) w->host_ = nullptr;
  }
  wrappers.clear();
  accessor_ = nullptr;
  TRefObject::Dispose();
}

zm::TButtonProducer* TOruSlideHost::GetButtonProducer(const WideString& skinName) {
  if (skinName.empty() || !buttonHost_) return nullptr;
  return buttonHost_->GetProducer(skinName);
}

bool TOruSlideHost::LoadButtonSkin(const WideString& skinName, const WideString& skinFileName) {
  zm::TButtonProducer* producer = GetButtonProducer(skinName);
  if (!producer || !accessor_) return false;
  TRef<zm::TStream> stream = AdoptStream(accessor_->OpenFile(namePrefix_ + skinName + u"\\" + skinFileName));
  if (!stream) return false;
  TRef<zm::TIniFile> ini = zm::MakeRef<zm::TIniFile>();
  if (!ini->LoadFromStream(stream.get())) return false;
  producer->SkinName = skinName;
  producer->Load(ini.get());
  return true;
}

TRef<TExtractorWrapper> TOruSlideHost::GetExtractor(const WideString& mediaName, bool plainFile) {
  {
    std::lock_guard<std::mutex> g(extractorLock_);
    for (auto& w : extractors_)
      if (w->MediaName() == mediaName && w->plainFile_ == plainFile) return w;
  }
  // The file is opened outside the list's lock: a slow read holds up no
  // other caller, and a holder given up on the way (a failed or stopped
  // load) leaves the list without waiting on its own caller.
  TRef<TExtractorWrapper> made = zm::MakeRef<TExtractorWrapper>(this, plainFile);
  made->SetMediaName(mediaName);
  TRef<TExtractorWrapper> found;
  {
    std::lock_guard<std::mutex> g(extractorLock_);
    for (auto& w : extractors_)
      if (w->MediaName() == mediaName && w->plainFile_ == plainFile) found = w;
    if (!found) extractors_.push_back(made);
  }
  // Another caller listed the name meanwhile: its holder is the one;
  // ours goes here, with the lock left.
  return found ? found : made;
}

std::int32_t TOruSlideHost::ExtractorCount() {
  std::lock_guard<std::mutex> g(extractorLock_);
  return std::int32_t(extractors_.size());
}

std::int32_t TOruSlideHost::DropUnusedExtractors() {
  std::vector<TRef<TExtractorWrapper>> unused;
  {
    std::lock_guard<std::mutex> g(extractorLock_);
    // Only this list hands holders out, so a count of 1 cannot rise meanwhile.
    for (auto it = extractors_.begin(); it != extractors_.end();) {
      if ((*it)->RefCount() == 1) {
        (*it)->host_ = nullptr;
        unused.push_back(std::move(*it));
        it = extractors_.erase(it);
      } else {
        ++it;
      }
    }
  }
  return std::int32_t(unused.size());
}

void TOruSlideHost::RemoveExtractor(TExtractorWrapper* wrapper) {
  std::lock_guard<std::mutex> g(extractorLock_);
  // Reached only for holders already out of the list (the list keeps a
  // reference); nothing to do but make sure.
  for (auto it = extractors_.begin(); it != extractors_.end(); ++it)
    if (it->get() == wrapper) {
      it->Detach();
      extractors_.erase(it);
      break;
    }
}

TTextBitmapMaker* TOruSlideHost::TextBitmapMaker() {
  std::lock_guard<std::mutex> g(textLock_);
  if (!textMaker_ && CreateTextBitmapMakerHook) textMaker_ = CreateTextBitmapMakerHook();
  return textMaker_.get();
}

zm::TSize TOruSlideHost::SlideEffectBufferSize() {
  return callbacks_.EffectBufferSize.Code(callbacks_.EffectBufferSize.Data, this);
}

zm::TFloatPoint3 TOruSlideHost::CameraPoint() { return callbacks_.Camera.Code(callbacks_.Camera.Data, this); }

TOruSource* TOruSlideHost::ShowSource() { return callbacks_.ShowSource.Code(callbacks_.ShowSource.Data, this); }

void TOruSlideHost::NotifyObjectChanged(TOruObject* object) {
  if (callbacks_.ObjectChanged) callbacks_.ObjectChanged.Code(callbacks_.ObjectChanged.Data, object);
}

WideString TOruSlideHost::EffectBufferKey(bool resource, std::int32_t buffer) const {
  auto num = [](std::int32_t v) {
    std::string s = std::to_string(v);
    return WideString(s.begin(), s.end());
  };
  return WideString(resource ? u"EffectResource:" : u"SlideEffectBuffer:") + num(buffer) + u", " + num(BufferSize1) +
         u", " + num(BufferSize2);
}

TRef<TImage> TOruSlideHost::GetImage(const WideString& name) {
  if (!accessor_) return nullptr;
  return TRef<TImage>(accessor_->GetImage(name));
}

TRef<TImage> TOruSlideHost::LoadSkinPicture(const WideString& name) {
  if (!accessor_) return nullptr;
  const WideString full = namePrefix_ + name;
  TRef<zm::TStream> stream = AdoptStream(accessor_->OpenFile(full));
  if (!stream) return nullptr;
  try {
    return zm::LoadImageFromStreamEx(stream.Detach(), full, true);
  } catch (const zm::EAbort&) {
    throw;
  } catch (const std::exception&) {
    return nullptr;  // a skin picture that does not decode is missing
  }
}

TRef<TImage> TOruSlideHost::ResolverCallback(void* data, TFileSource* /*source*/, const WideString& name) {
  // A size below 1 is a caller's fault that the direct call asserts; a
  // picture asked for by name just becomes the placeholder.
  std::int32_t w = 0, h = 0;
  if (zm::GeneratedImageKind(name) == zm::TGeneratedImageKind::TextWithSize &&
      !SizedTextSize(name.substr(zm::GeneratedImageKindPrefix(zm::TGeneratedImageKind::TextWithSize).size()), w, h))
    return nullptr;
  try {
    return static_cast<TOruSlideHost*>(data)->ResolveImage(name);
  } catch (const zm::EAbort&) {
    throw;
  } catch (const std::exception&) {
    return nullptr;  // the accessor then gives the placeholder picture
  }
}

TRef<TImage> TOruSlideHost::ResolveImage(const WideString& name) {
  using K = zm::TGeneratedImageKind;
  const K kind = zm::GeneratedImageKind(name);
  if (kind == K::None) return nullptr;
  const WideString rest = name.substr(zm::GeneratedImageKindPrefix(kind).size());
  switch (kind) {
    case K::Button: {
      zm::TButtonKeyParams p;
      zm::ParseButtonKey(name, p);
      zm::TButtonProducer* producer = GetButtonProducer(p.SkinName);
      if (!producer || !producer->Loaded) return nullptr;
      return producer->MakeBitmap(p.State, p.Width, p.Hue, p.Saturation, p.Lightness);
    }
    case K::Shadow: {
      zm::TShadowParams p;
      zm::ParseShadowKey(name, p);
      TRef<zm::TShadowGenerator> generator = zm::MakeRef<zm::TShadowGenerator>();
      TRef<TFileAccessor> acc = accessor_;
      return generator->MakeShadow(p, [acc](const WideString& n) -> TRef<TImage> {
        return acc ? TRef<TImage>(acc->GetImage(n)) : nullptr;
      });
    }
    case K::Text: {
      TTextBitmapMaker* maker = TextBitmapMaker();
      return maker ? maker->MakeTextBitmap(rest, accessor_.get()) : nullptr;
    }
    case K::Mask:
      return MakeMask(rest);
    case K::PresetMask: {
      zm::TMaskParams p;
      zm::ParseMaskKey(name, p);
      if (!SizeAllowed(p.Width, p.Height)) return nullptr;
      return zm::GeneratePresetMask(maskGenerator_.get(), p);
    }
    case K::SlideEffectBuffer:
      return MakeSlideEffectBuffer();
    case K::EffectResource:
      return MakeEffectResource(rest);
    case K::TextWithSize:
      return MakeSizedTextPlaceholder(rest);
    case K::None:
      break;
  }
  return nullptr;
}

TRef<TImage> TOruSlideHost::MakeMask(const WideString& pictureName) {
  TRef<TImage> picture = GetImage(pictureName);
  zm::TBitmap* source = picture ? picture->GetBitmap() : nullptr;
  if (!source) return nullptr;
  TRef<zm::TDirectBitmap> copy = NewBitmap32(source->Width(), source->Height());
  if (!copy) return nullptr;
  copy->CopyFrom(source);
  // Pictures without transparency of their own give their brightness as alpha.
  if (zm::IsOpaqueBitmap(source)) zm::BrightnessToAlpha(AsSysBitmap(copy.get()).get());
  return ToImage(std::move(copy), u"Mask: " + pictureName);
}

TRef<TImage> TOruSlideHost::MakeSlideEffectBuffer() {
  zm::TSize size = SlideEffectBufferSize();
  TRef<zm::TDirectBitmap> bitmap = NewBitmap32(std::clamp(size.cx, 1, kMaxGeneratedSide),
                                               std::clamp(size.cy, 1, kMaxGeneratedSide));
  return ToImage(std::move(bitmap), kSlideEffectBufferName);
}

TRef<TImage> TOruSlideHost::MakeEffectResource(const WideString& rest) {
  if (!callbacks_.EffectResource) return nullptr;
  // The buffer number, then the width and height asked for.
  std::vector<std::int32_t> n = ReadNumbers(rest);
  if (n.size() < 3 || !SizeAllowed(n[1], n[2])) return nullptr;
  TRef<TImage> picture = callbacks_.EffectResource.Code(callbacks_.EffectResource.Data, this, u"EffectResource:" + rest);
  TRef<zm::TDirectBitmap> target = NewBitmap32(n[1], n[2]);
  if (!target) return nullptr;
  zm::TBitmap* source = picture ? picture->GetBitmap() : nullptr;
  if (source && source->Width() > 0 && source->Height() > 0) {
    TRef<zm::TDirectBitmap> source32 = NewBitmap32(source->Width(), source->Height());
    if (source32) {
      source32->CopyFrom(source);
      zm::ResizeBilinear32(AsSysBitmap(source32.get()).get(), AsSysBitmap(target.get()).get());
    }
  }
  return ToImage(std::move(target), kEffectResourceName);
}

TRef<TImage> TOruSlideHost::MakeSizedTextPlaceholder(const WideString& rest) {
  std::int32_t w = 0, h = 0;
  ZM_ASSERT(SizedTextSize(rest, w, h), "TOruSlideHost: TextWithSize size below 1");
  TRef<zm::TDirectBitmap> bitmap = NewBitmap32(w, h);
  if (!bitmap) return nullptr;
  const zm::TColor32 frameGrey = zm::MakeColor32(128, 128, 128, 255);
  const zm::TColor32 paperGrey = zm::MakeColor32(200, 200, 200, 255);
  const zm::TColor32 inkGrey = zm::MakeColor32(96, 96, 96, 255);
  bitmap->FillRect({0, 0, w, h}, frameGrey);
  const std::int32_t fx = std::max(1, std::int32_t(std::lround(w * 0.02)));
  const std::int32_t fy = std::max(1, std::int32_t(std::lround(h * 0.02)));
  bitmap->FillRect({fx, fy, w - fx, h - fy}, paperGrey);

  try {
    TRef<zm::TStringList> lines = zm::MakeRef<zm::TStringList>();
    lines->Add(kSizedTextPlaceholderText);
    zm::TFontParams font = zm::MakeFontParams(u"Tahoma", 0, true, 20.0f, zm::TColor24{96, 96, 96},
                                              zm::TColor24{200, 200, 200});
    if (TRef<zm::TVectorText> text = zm::CreateVectorText(font, *lines)) {
      zm::TSize ts = text->GetSize(1.0);
      if (ts.cx > 0 && ts.cy > 0) {
        double scale = std::min(0.9 * w / ts.cx, 0.2 * h / ts.cy);
        std::lock_guard<std::mutex> g(textLock_);
        if (textProducer_ && scale > 0) {
          textProducer_->SetText(text.get(), false);
          TRef<zm::TDirectBitmap> rendered = textProducer_->Render(inkGrey, zm::TransparentColor32(inkGrey), scale);
          textProducer_->SetText(nullptr, false);
          if (rendered && rendered->PixelFormat() == bitmap->PixelFormat()) {
            const zm::TPoint at{(w - rendered->Width()) / 2, (h - rendered->Height()) / 2};
            zm::BlendBitmap32Over32(AsSysBitmap(bitmap.get()).get(), AsSysBitmap(rendered.get()).get(),
                                    {0, 0, rendered->Width(), rendered->Height()}, at);
          }
        }
      }
    }
  } catch (const zm::EAbort&) {
    throw;
  } catch (const std::exception&) {
    // No usable font here: the frame alone still holds the place.
  }
  return ToImage(std::move(bitmap), u"TextWithSize:" + rest);
}

// ---- TDeviceShadowDrawer ---------------------------------------------------------------

void TDeviceShadowDrawer::DrawImage(zm::TImage* image, const zm::TShadowDrawRecord& record,
                                    const zm::TFloatPoint3& origin, const zm::TFloatPoint3& xAxis,
                                    const zm::TFloatPoint3& yAxis, float texScale) {
  if (!drawer_ || !image) return;
  zm::TImageDrawParams params;
  params.Opacity = std::clamp(record.Opacity, 0.0f, 1.0f) * 100.0f;
  params.Tinted = true;
  params.TintColour = zm::TColor24{record.Blue, record.Green, record.Red};
  params.Filtering = 1;
  // A picture drawn smaller than its pixels may come from a smaller level.
  if (texScale > 0 && texScale < 1 && std::isfinite(texScale))
    params.Level = std::clamp(std::int32_t(std::floor(std::log2(1.0 / texScale))), 0, zm::kMaxMipLevel);
  drawer_->DrawImage(image, {origin.X, origin.Y}, params, {xAxis.X, xAxis.Y}, {yAxis.X, yAxis.Y});
}

void TDeviceShadowDrawer::Precache(zm::TImage* image) {
  if (drawer_ && image) drawer_->PrepareImage(image, zm::TImageDrawParams{});
}

void TDeviceShadowDrawer::ReleaseCache(zm::TImage* image) {
  if (drawer_ && image) drawer_->ReleaseImageTextures(image);
}

}  // namespace oru
