#include "OruLib2/OruClasses/OruFileAccess.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatFiles.h"
#include "Platform/PlatShell.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysGfxLoader.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmStringList.h"
#include "ZmLib/zmTempFiles.h"

namespace oru {

using namespace zm;

TOruImageAccessProc OruImageAccessHook = nullptr;

namespace {

constexpr std::int32_t kImageCacheBuckets = 9997;
constexpr std::uint32_t kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ---- Global state -----------------------------------------------------------------------
// The locks outlive the module: handles may be released after it ended.

std::atomic<std::uint32_t> gNextSourceId{1};

// The pictures of each source that did not decode: a picture loaded again
// once its last user let it go is not reported again.
std::mutex gLoadErrorLock;
std::set<std::pair<std::uint32_t, WideString>> gLoadErrors;

bool FirstLoadError(std::uint32_t sourceId, const WideString& name) {
  std::lock_guard<std::mutex> guard(gLoadErrorLock);
  return gLoadErrors.emplace(sourceId, UpperCase(name)).second;
}

std::mutex gPathLock;
TPathVarTable gPathVars;

// Re-entered when a handle's picture is itself a cached picture.
std::recursive_mutex gCacheLock;
THashList* gCache = nullptr;
std::atomic<std::int32_t> gLiveHandles{0};

std::mutex gAccessorLock;
TRef<TFileAccessor> gAccessor;

// Callback lists of every source, and the callbacks running now, so that
// a handle freed by another thread waits until its callback returned.
std::mutex gCallbackLock;
std::condition_variable gCallbackDone;
std::vector<std::pair<const TCallbackHandle*, std::thread::id>> gRunningCallbacks;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

WideString BeforeBar(const WideString& name) {
  std::size_t bar = name.find(u'|');
  return bar == WideString::npos ? name : name.substr(0, bar);
}


// The source's stream of Name read through the load callback, nil when absent.
TStream* OpenThroughSource(TFileSource* source, const WideString& name) {
  TStream* stream;
  {
    TLockScope guard(source->Lock());
    stream = source->OpenFile(name);
  }
  if (!stream) return nullptr;
  std::int64_t size;
  try {
    size = stream->GetSize();
  } catch (...) {
    stream->Free();
    throw;
  }
  TRef<TPartialStream> partial = MakeRef<TPartialStream>(stream, true, 0, size);
  partial->SetReadCallback(TPartialStream::kCallbackBlockSize, &LoadCallbackRead, nullptr);
  return partial.Detach();
}

// ---- Folders ------------------------------------------------------------------------------

// The environment text expanded; empty when it stays as it was.
WideString ExpandedEnvOrEmpty(const WideString& text) {
  WideString value = ExpandEnvStrings(text);
  if (value == text) return {};
  std::replace(value.begin(), value.end(), u'/', u'\\');
  return value;
}

WideString WithBackslash(const WideString& folder) {
  return folder.empty() ? folder : IncludeTrailingBackslash(folder);
}

WideString MacroValue(const WideString& upperToken, bool& known) {
  known = true;
  if (upperToken == u"%APPDATA%" || upperToken == u"%LOCALAPPDATA%" || upperToken == u"%PROGRAMDATA%") {
    std::int32_t id = upperToken == u"%APPDATA%"        ? plat::CSIDL_APPDATA
                      : upperToken == u"%LOCALAPPDATA%" ? plat::CSIDL_LOCAL_APPDATA
                                                        : plat::CSIDL_COMMON_APPDATA;
    WideString folder = GetSpecialFolder(id);
    if (folder.empty()) folder = ExpandedEnvOrEmpty(u"%APPDATA%");
    return WithBackslash(folder);
  }
  if (upperToken == u"%SYSTEMROOT%") {
    WideString folder = GetSpecialFolder(plat::CSIDL_WINDOWS);
    if (folder.empty()) folder = ExpandedEnvOrEmpty(u"%SYSTEMROOT%");
    if (folder.empty()) folder = u"C:\\Windows";
    return WithBackslash(folder);
  }
  if (upperToken == u"%TEMP%") return GetTempDir(true);
  known = false;
  return {};
}

// ---- Path variables ---------------------------------------------------------------------

WideString ExpandWith(const TPathVarTable& table, const WideString& name) {
  WideString result = name;
  std::int32_t position = 1;
  WideString token;
  while (NextPercentToken(result, position, token, false)) {
    // position is just past the token (1-based); folding may change the length
    std::size_t end = static_cast<std::size_t>(position) - 1;
    std::size_t start = end - token.size();
    const WideString folded = CaseFold(token);
    const TPathVar* chosen = nullptr;
    for (const TPathVar& var : table) {
      if (var.name != folded) continue;
      WideString candidate = result.substr(0, start) + var.path + result.substr(end);
      if (FileExists(BeforeBar(candidate))) {
        chosen = &var;
        break;
      }
      if (var.isDefault) chosen = &var;
    }
    if (!chosen) continue;
    result = result.substr(0, start) + chosen->path + result.substr(end);
    position = static_cast<std::int32_t>(start + chosen->path.size()) + 1;
  }
  return result;
}

// ---- Pictures -----------------------------------------------------------------------------

// Every release of a handle reference goes through here.
void ReleaseHandle(TImageHandle* handle) {
  if (!handle) return;
  std::lock_guard<std::recursive_mutex> guard(gCacheLock);
  handle->ReleaseRef();
}

// Without a vectoriser or a font the picture stays blank.
TRef<TImage> PlainPlaceholder(const WideString& name) {
  try {
    TPixelFormat* format = PixelFormatByName(TByteString(PF_A8R8G8B8));
    if (!format) return nullptr;
    TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(160, format, 48);
    bitmap->FillRect(TRect{0, 0, bitmap->Width(), bitmap->Height()}, TColor32{230, 230, 230, 255});
    return SysBitmapToImage(bitmap.get(), false, name);
  } catch (const Exception&) {
    return nullptr;  // the graphics modules are not running
  }
}

}  // namespace

// ============================================================================
// File sources
// ============================================================================

TCallbackHandle::TCallbackHandle(TFileSource* source, TImageCallbackProc code, void* data)
    : source_(source), code_(code), data_(data) {}

void TCallbackHandle::Dispose() {
  {
    std::unique_lock<std::mutex> lock(gCallbackLock);
    if (source_) {
      source_->callbacks_->Remove(this);
      source_ = nullptr;
    }
    const std::thread::id self = std::this_thread::get_id();
    gCallbackDone.wait(lock, [this, self] {
      return std::none_of(gRunningCallbacks.begin(), gRunningCallbacks.end(),
                          [this, self](const auto& run) { return run.first == this && run.second != self; });
    });
  }
  TRefObject::Dispose();
}

TFileSource::TFileSource()
    : lock_(MakeRef<TSafeCriticalSection>()), id_(gNextSourceId.fetch_add(1)), callbacks_(MakeRef<TList>()) {}

std::int64_t TFileSource::FileSize(const WideString& name) {
  TRef<TStream> stream = TRef<TStream>::Adopt(OpenFile(name));
  return stream ? stream->GetSize() : -1;
}

void TFileSource::Dispose() {
  {
    std::lock_guard<std::mutex> guard(gCallbackLock);
    if (callbacks_) {
      for (std::int32_t i = 0; i < callbacks_->Count(); ++i)
        static_cast<TCallbackHandle*>(callbacks_->Get(i))->source_ = nullptr;
      callbacks_->Clear();
    }
  }
  callbacks_.reset();
  lock_.reset();
  TRefObject::Dispose();
}

TRef<TCallbackHandle> TFileSource::AddCallback(TImageCallbackProc code, void* data) {
  TRef<TCallbackHandle> handle = MakeRef<TCallbackHandle>(this, code, data);
  std::lock_guard<std::mutex> guard(gCallbackLock);
  callbacks_->Add(handle.get());
  return handle;
}

TRef<TImage> TFileSource::CallImageCallbacks(const WideString& name) {
  const std::thread::id self = std::this_thread::get_id();
  for (std::int32_t i = 0;; ++i) {
    const TCallbackHandle* handle;
    TImageCallbackProc code;
    void* data;
    {
      std::lock_guard<std::mutex> guard(gCallbackLock);
      if (i >= callbacks_->Count()) return nullptr;
      auto* h = static_cast<TCallbackHandle*>(callbacks_->Get(i));
      handle = h;
      code = h->code_;
      data = h->data_;
      gRunningCallbacks.emplace_back(handle, self);
    }
    // The handle may be gone after the call; only its address is used.
    auto finished = [handle, self] {
      {
        std::lock_guard<std::mutex> guard(gCallbackLock);
        auto it = std::find(gRunningCallbacks.begin(), gRunningCallbacks.end(), std::make_pair(handle, self));
        if (it != gRunningCallbacks.end()) gRunningCallbacks.erase(it);
      }
      gCallbackDone.notify_all();
    };
    TRef<TImage> image;
    try {
      if (code) image = code(data, this, name);
    } catch (...) {
      finished();
      throw;
    }
    finished();
    if (image) return image;
  }
}

TStream* OpenFileForReading(const WideString& name) { return OpenMediaFile(name, kShareAll).Detach(); }

TStream* TRealFileSource::OpenFile(const WideString& name) {
  if (name.find(u'|') != WideString::npos) return OpenFile(BeforeBar(name));
  WideString expanded = ExpandPathVars(name);
  // A folder is tried too: the open refuses it and the log says so.
  if (expanded.empty() || !(FileExists(expanded) || DirectoryExists(expanded))) return nullptr;
  return OpenFileForReading(expanded);
}

std::int64_t TRealFileSource::FileSize(const WideString& name) {
  if (name.find(u'|') != WideString::npos) return FileSize(BeforeBar(name));
  WideString expanded = ExpandPathVars(name);
  return expanded.empty() ? -1 : FileSizeOf(expanded);
}

// ============================================================================
// Pictures
// ============================================================================

TImageHandle::TImageHandle(std::uint32_t sourceId, TKeyItem* bucket)
    : lock_(MakeRef<TSafeCriticalSection>()), bucket_(bucket), sourceId_(sourceId) {
  gLiveHandles.fetch_add(1);
}

void TImageHandle::Dispose() {
  if (bucket_) {
    TKeyItem* bucket = std::exchange(bucket_, nullptr);
    bucket->Remove(this);
    if (bucket->Count() == 0 && gCache) {
      const WideString key = bucket->Key;  // the entry goes with the call
      gCache->Delete(key);
    }
  }
  image_.reset();
  lock_.reset();
  gLiveHandles.fetch_sub(1);
  TRefObject::Dispose();
}

TOruImage::TOruImage(TBitmapStore* store, TImageHandle* handle) : TImage(store), handle_(handle) {}

void TOruImage::Dispose() {
  ReleaseHandle(handle_.Detach());
  TImage::Dispose();
}

TRef<TImage> TOruImage::CreateCopy() {
  TRef<TOruImage> copy = MakeRef<TOruImage>(Store(), handle_.get());
  copy->MipLevelLimit = MipLevelLimit;
  copy->AccessCallback = AccessCallback;
  return copy;
}

std::int32_t LiveImageHandleCount() { return gLiveHandles.load(); }

void DecodePackedPixels(TImage* image) {
  auto* packed = image ? dynamic_cast<TGfxBitmapStore*>(image->Store()) : nullptr;
  if (packed && !packed->Image()->GetBitmap()) throw EGfxImageError();
}

namespace {

// The placeholder's text drawn at the size each level is shown at: its
// outlines are rendered for every level anew, never enlarged from a small
// picture nor kept once the textures hold them.
class TPlaceholderStore : public TSysBitmapStore {
public:
  TPlaceholderStore(const WideString& name, const TPoint& size, TVectorText* text, double scale, TColor32 ink,
                    TColor32 paper, TPixelFormat* format)
      : TSysBitmapStore(name, TImageLoadHandler{}, size, format), text_(text), scale_(scale), ink_(ink),
        paper_(paper) {}
  void Dispose() override {
    text_ = nullptr;
    TSysBitmapStore::Dispose();
  }
  bool RemakesLevels() const override { return true; }

  void GetSourceLevel(std::int32_t level, TMipLevelResult& result) override {
    if (!text_ || level < 0 || level > kMaxMipLevel) return;
    // The size halving would give the level.
    TPoint size = Size();
    for (std::int32_t i = 0; i < level; ++i) size = {(size.X + 1) / 2, (size.Y + 1) / 2};
    const double scale = scale_ * std::min(double(size.X) / Size().X, double(size.Y) / Size().Y);
    TRef<TTextProducer> producer = MakeRef<TTextProducer>();
    producer->SetText(text_.get(), false);
    TRef<TDirectBitmap> drawn = producer->Render(ink_, paper_, scale);
    producer->SetText(nullptr, false);
    TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(size.X, PixelFormat(), size.Y);
    bitmap->FillRect({0, 0, size.X, size.Y}, paper_);
    // Rounded to whole pixels, the text may miss the level's size by one.
    if (drawn) bitmap->CopyRect({0, 0, size.X, size.Y}, drawn.get(), {0, 0});
    result.Bitmap = MakeRef<TSysDirectWrapper>(bitmap.get(), false);
    result.Owned = true;
    result.Level = level;
  }

private:
  TRef<TVectorText> text_;
  double scale_;
  TColor32 ink_, paper_;
};

}  // namespace

WideString PlaceholderName(const WideString& name) {
  const WideString file = ExtractFileName(name);
  if (file.size() <= kPlaceholderNameLength) return file;
  std::size_t head = (kPlaceholderNameLength - 1) / 2, tail = kPlaceholderNameLength - 1 - head;
  // Never half a pair of surrogates on either side of the cut.
  if (head > 0 && file[head - 1] >= 0xD800 && file[head - 1] <= 0xDBFF) --head;
  if (tail > 0 && file[file.size() - tail] >= 0xDC00 && file[file.size() - tail] <= 0xDFFF) --tail;
  return file.substr(0, head) + u"\u2026" + file.substr(file.size() - tail);
}

WideString FormatNotReadText(const WideString& format) { return WideString(kFormatNotReadText) + u" (" + format + u"):"; }

TRef<TImage> MakePlaceholderImage(const WideString& name, bool found, bool isVideo, const WideString& notRead) {
  const WideString first = !notRead.empty() ? FormatNotReadText(notRead)
                           : found          ? (isVideo ? kVideoLoadErrorText : kImageLoadErrorText)
                                            : (isVideo ? kVideoNotFoundText : kImageNotFoundText);
  TRef<TStringList> lines = MakeRef<TStringList>();
  lines->Add(u" " + first + u" ");
  lines->Add(u" " + PlaceholderName(name) + u" ");
  const TColor24 ink{100, 100, 100};
  const TColor24 paper{230, 230, 230};
  TFontParams font = MakeFontParams(u"Tahoma", 0, false, 8.25f, ink, paper);
  try {
    if (TRef<TVectorText> text = CreateVectorText(font, *lines)) {
      // At its natural size the text is a small picture: its largest level
      // is made kPlaceholderSide pixels on its longer side, so that the
      // level a drawer takes for the size it shows it at is never enlarged.
      const TSize natural = text->GetSize(1.0, 0);
      const double scale =
          natural.cx > 0 && natural.cy > 0 ? std::max(1.0, double(kPlaceholderSide) / std::max(natural.cx, natural.cy))
                                           : 1.0;
      const TSize size = text->GetSize(scale, 0);
      TPixelFormat* format = PixelFormatByName(TByteString(PF_A8R8G8B8));
      if (format && size.cx > 0 && size.cy > 0 && BitmapSizeAllowed(size.cx, size.cy, format)) {
        TRef<TPlaceholderStore> store =
            MakeRef<TPlaceholderStore>(name, TPoint{size.cx, size.cy}, text.get(), scale,
                                       TColor32{ink.B, ink.G, ink.R, 255}, TColor32{paper.B, paper.G, paper.R, 255},
                                       format);
        return MakeRef<TImage>(store.get());
      }
    }
  } catch (const Exception&) {
    // no usable font: the plain picture below
  }
  return PlainPlaceholder(name);
}

// ============================================================================
// TFileAccessor
// ============================================================================

TFileAccessor::TFileAccessor(TFileSource* source) : source_(source) {
  ZM_ASSERT(source, "TFileAccessor.Create - Source not Assigned");
}

void TFileAccessor::Dispose() {
  source_.reset();
  TRefObject::Dispose();
}

TRef<TFileAccessor> TFileAccessor::CreateCopy() {
  TRef<TFileAccessor> copy = MakeRef<TFileAccessor>(source_.get());
  copy->SetBaseFolder(baseFolder_);
  return copy;
}

std::int64_t TFileAccessor::FileSize(const WideString& name) {
  TLockScope guard(source_->Lock());
  try {
    return source_->FileSize(name);
  } catch (const EStreamError&) {
    return -1;  // a damaged entry has nothing to read
  } catch (const EFileError&) {
    return -1;  // nor has a file the system cannot read
  }
}

TStream* TFileAccessor::OpenFile(const WideString& name) {
  TStream* stream = nullptr;
  try {
    stream = OpenThroughSource(source_.get(), name);
  } catch (const EStreamError&) {
    stream = nullptr;  // a damaged entry has nothing to read
  } catch (const EFileError&) {
    stream = nullptr;  // nor has a file the system cannot read (size or position)
  }
  if (openHook_) openHook_(name, stream);
  if (!stream && missingHandler_) stream = missingHandler_(missingData_, name);
  return stream;
}

bool TFileAccessor::FindRealFile(WideString& name) {
  if (name.empty()) return false;
  WideString candidates[3] = {name, ExpandPathVars(name)};
  if (!baseFolder_.empty()) candidates[2] = IncludeTrailingBackslash(baseFolder_) + ExtractFileName(name);
  for (const WideString& c : candidates)
    if (!c.empty() && FileExists(c)) {
      name = c;
      return true;
    }
  // Without a file, a folder of the name is the one meant: its open is
  // refused and logged, as it is for every other name that is no file.
  for (const WideString& c : candidates)
    if (!c.empty() && DirectoryExists(c)) {
      name = c;
      return true;
    }
  return false;
}

TStream* TFileAccessor::OpenRealFile(const WideString& name) {
  WideString found = name;
  if (!FindRealFile(found)) return nullptr;
  return OpenFileForReading(found);
}

TRef<TOruImage> TFileAccessor::GetImage(const WideString& name) { return GetImage(name, false); }

TRef<TOruImage> TFileAccessor::GetImage(const WideString& name, bool isVideo) {
  // 1. The entry of (name, source), made when missing, with a reference of ours.
  TImageHandle* handle = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(gCacheLock);
    const std::uint32_t id = source_->SourceId();
    if (gCache) {
      TKeyItem* bucket = gCache->GetItem(UpperCase(name));
      for (std::int32_t i = 0; i < bucket->Count() && !handle; ++i) {
        auto* h = static_cast<TImageHandle*>(bucket->Get(i));
        if (h->sourceId_ == id) {
          handle = h;
          handle->AddRef();
        }
      }
      if (!handle) {
        handle = MakeRef<TImageHandle>(id, bucket).Detach();
        bucket->Add(handle);
      }
    } else {
      handle = MakeRef<TImageHandle>(id, nullptr).Detach();
    }
  }
  struct TRelease {
    TImageHandle* h;
    ~TRelease() { ReleaseHandle(h); }
  } release{handle};

  // 2. The picture, decoded once, after the global lock was left.
  {
    TLockScope guard(handle->lock_.get());
    if (!handle->loaded_.load(std::memory_order_relaxed) && !handle->loading_) {
      handle->loading_ = true;
      struct TLoading {
        bool& flag;
        ~TLoading() { flag = false; }
      } loading{handle->loading_};
      TRef<TImage> image;
      bool found = false;
      WideString notRead;  // a format known but not read here
      try {
        image = source_->CallImageCallbacks(name);
        if (!image) {
          if (TStream* stream = OpenThroughSource(source_.get(), name)) {
            found = true;
            if (const TPictureFormat format = PictureFormatOf(stream); format.Extension.empty())
              notRead = format.Name;
            image = LoadImageFromStreamEx(stream, name, true);
            DecodePackedPixels(image.get());
          }
        }
      } catch (const EAbort&) {
        throw;  // stopped, not broken: a later call tries again
      } catch (const EStreamError&) {
        // A damaged entry (cut short, bad deflate data, past the inflate
        // limits) is there but unreadable.
        found = true;
        image.reset();
      } catch (const std::exception&) {
        if (!found) throw;  // a callback's own fault
        image.reset();
      }
      if (!image) {
        if (found && FirstLoadError(source_->SourceId(), name)) {
          if (!notRead.empty()) {
            // The user can do something about it: said without a log too.
            const WideString line = FormatNotReadText(notRead) + u" " + name;
            LogLine(line);
            if (!dynamic_cast<TStdLog*>(GetLog())) plat::WriteStdErr(plat::ToUtf8(line) + "\n");
          } else {
            LogLine(WideString(isVideo ? kVideoLoadErrorText : kImageLoadErrorText) + u" " + name);
          }
        }
        image = MakePlaceholderImage(name, found, isVideo, notRead);
      }
      handle->image_ = image;
      handle->loaded_.store(true, std::memory_order_release);
    }
  }

  // 3. A new image over the shared picture.
  if (!handle->image_) return nullptr;
  TRef<TOruImage> result = MakeRef<TOruImage>(handle->image_->Store(), handle);
  result->MipLevelLimit = mipLevelLimit_;
  result->AccessCallback = OruImageAccessHook;
  return result;
}

TRef<TFileAccessor> CreateRealFileAccessor() {
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  std::lock_guard<std::mutex> guard(gAccessorLock);
  if (gAccessor) accessor->SetBaseFolder(gAccessor->BaseFolder());
  return accessor;
}

TFileAccessor* GlobalFileAccessor() {
  std::lock_guard<std::mutex> guard(gAccessorLock);
  return gAccessor.get();
}

// ============================================================================
// Path variables
// ============================================================================

void RegisterPathVar(TPathVarTable& table, const WideString& name, const WideString& path, bool isDefault) {
  WideString resolved = ExcludeTrailingBackslash(path);
  if (ExpandFolderMacros(resolved, true)) resolved = ExcludeTrailingBackslash(resolved);
  resolved = ExcludeTrailingBackslash(ExpandFromAppDir(resolved));
  if (table.capacity() == 0) table.reserve(8);
  table.push_back(TPathVar{CaseFold(name), resolved, isDefault});
}

TPathVarTable DefaultPathVars() {
  TPathVarTable table;
  RegisterPathVar(table, u"%styles%", u"All\\Themes", false);
  RegisterPathVar(table, u"%styles%", u"%LOCALAPPDATA%\\Tavrel\\Styles", true);
  RegisterPathVar(table, u"%effects%", u"All\\Effects", false);
  RegisterPathVar(table, u"%effects%", u"%LOCALAPPDATA%\\Tavrel\\Effects", true);
  return table;
}

void SetPathVars(const TPathVarTable& table) {
  TPathVarTable copy = table;
  std::lock_guard<std::mutex> guard(gPathLock);
  gPathVars.swap(copy);
}

TPathVarTable GetPathVars() {
  std::lock_guard<std::mutex> guard(gPathLock);
  return gPathVars;
}

WideString ExpandPathVars(const WideString& name) {
  if (name.find(u'%') == WideString::npos) return name;
  std::lock_guard<std::mutex> guard(gPathLock);
  return ExpandWith(gPathVars, name);
}

WideString ExpandPathVars(const TPathVarTable& table, const WideString& name) { return ExpandWith(table, name); }

bool FileExistsExpanded(const WideString& name) { return FileExists(BeforeBar(ExpandPathVars(name))); }

// ============================================================================
// Folders
// ============================================================================

bool ExpandFolderMacros(WideString& path, bool onlyAtStart) {
  constexpr std::size_t kShortestMacro = 6;  // "%TEMP%"
  constexpr std::size_t kLongestToken = 14;  // longer tokens are no macros
  bool replaced = false;
  std::size_t i = 0;
  while (i + kShortestMacro <= path.size()) {
    std::size_t close = path[i] == u'%' ? path.find(u'%', i + 1) : WideString::npos;
    if (close == WideString::npos) {
      if (onlyAtStart) break;
      ++i;
      continue;
    }
    std::size_t length = close - i + 1;
    bool known = false;
    WideString value;
    if (length <= kLongestToken) {
      WideString upper(length, u'?');
      for (std::size_t k = 0; k < length; ++k) {
        char16_t c = path[i + k];
        if (c < 128) upper[k] = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
      }
      value = MacroValue(upper, known);
    }
    if (!known) {
      if (onlyAtStart) break;
      ++i;
      continue;
    }
    std::size_t end = close + 1;
    if (end < path.size() && IsSeparator(path[end])) ++end;
    path.replace(i, end - i, value);
    i += value.size();
    replaced = true;
  }
  return replaced;
}

WideString ExtractLastPathPart(const WideString& path) {
  std::size_t end = path.size();
  if (end > 0 && IsSeparator(path[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

WideString ExtractFolderPath(const WideString& path, bool withBackslash) {
  std::size_t end = path.size();
  if (end > 0 && IsSeparator(path[end - 1])) --end;
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  // end is just past the separator before the last component
  if (end == 0) return {};
  WideString folder = path.substr(0, end);
  return withBackslash ? folder : folder.substr(0, folder.size() - 1);
}

WideString GetSpecialFolder(std::int32_t id) {
  WideString folder;
  if (!plat::SHGetSpecialFolderPath(folder, id)) return {};
  return IncludeTrailingBackslash(folder);
}

// ============================================================================
// Module
// ============================================================================

void InitFileAccess() {
  SetPathVars(DefaultPathVars());
  {
    std::lock_guard<std::recursive_mutex> guard(gCacheLock);
    if (!gCache) gCache = MakeRef<THashList>(kImageCacheBuckets).Detach();
  }
  TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  std::lock_guard<std::mutex> guard(gAccessorLock);
  gAccessor = accessor;
}

void FiniFileAccess() {
  TRef<TFileAccessor> accessor;
  {
    std::lock_guard<std::mutex> guard(gAccessorLock);
    accessor.swap(gAccessor);
  }
  accessor.reset();
  SetPathVars({});
  // Pictures still alive keep the cache; their handles leave it later.
  std::lock_guard<std::recursive_mutex> guard(gCacheLock);
  if (gCache && gLiveHandles.load() == 0) {
    gCache->Free();
    gCache = nullptr;
  }
}

}  // namespace oru
