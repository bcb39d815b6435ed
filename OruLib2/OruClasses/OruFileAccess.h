#pragma once
// File access of a show: every file a show uses (its description, pictures,
// fonts, music, video, effect and style definitions) is opened by name
// through a TFileAccessor over a TFileSource that knows where the files live
// (a container, a project folder, plain disk files). The unit also keeps the
// shared cache of decoded pictures, the path variables ("%effects%",
// "%styles%"), the folder macros ("%APPDATA%", "%LOCALAPPDATA%",
// "%PROGRAMDATA%", "%SYSTEMROOT%", "%TEMP%") and the temporary folder.
//
// Paths use "\" as the show files do; the file layer converts them.
// Every function may be called from any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Platform/PlatShell.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

class TFileSource;

// A picture producer of a file source: Callback(Data, Source, Name) may make
// the picture of a name (nil: not this one). Freeing the handle removes it
// from its source.
using TImageCallbackProc = zm::TRef<zm::TImage> (*)(void* data, TFileSource* source, const WideString& name);

class TCallbackHandle : public zm::TRefObject {
public:
  TCallbackHandle(TFileSource* source, TImageCallbackProc code, void* data);
  void Dispose() override;  // leaves the source's list

  TFileSource* Source() const { return source_; }
  TImageCallbackProc Code() const { return code_; }
  void* Data() const { return data_; }

private:
  friend class TFileSource;
  TFileSource* source_;  // not owned; nil once the source is gone
  TImageCallbackProc code_;
  void* data_;
};

// Where the files of a show live.
class TFileSource : public zm::TRefObject {
public:
  TFileSource();
  void Dispose() override;  // detaches the remaining callback handles

  // The named file as a stream of its own, nil when absent. Callers hold
  // Lock() around it (TFileAccessor does).
  virtual zm::TStream* OpenFile(const WideString& name) = 0;
  // The bytes the named file takes where the source keeps it, -1 when
  // absent; the same lock. Sources that can tell it without opening the
  // file say so; this one opens it.
  virtual std::int64_t FileSize(const WideString& name);

  // Unique in the process.
  std::uint32_t SourceId() const { return id_; }
  zm::TSafeCriticalSection* Lock() const { return lock_.get(); }

  // The handle is the caller's; freeing it removes the callback.
  zm::TRef<TCallbackHandle> AddCallback(TImageCallbackProc code, void* data);
  // The callbacks' pictures in order; the first non-nil one, else nil.
  zm::TRef<zm::TImage> CallImageCallbacks(const WideString& name);

private:
  friend class TCallbackHandle;
  zm::TRef<zm::TSafeCriticalSection> lock_;
  std::uint32_t id_;
  zm::TRef<zm::TList> callbacks_;  // TCallbackHandle*, not owned
};

// Plain disk files: "name|rest" opens "name"; otherwise the name goes
// through ExpandPathVars and an existing file is opened for reading.
class TRealFileSource : public TFileSource {
public:
  zm::TStream* OpenFile(const WideString& name) override;
  std::int64_t FileSize(const WideString& name) override;  // without opening it
};

// One entry of the picture cache: the decoded picture of one name from one
// file source. It leaves the cache when its last reference goes; every
// reference is released under the cache lock, so a lookup never meets a
// handle on its way out.
class TImageHandle : public zm::TRefObject {
public:
  TImageHandle(std::uint32_t sourceId, zm::TKeyItem* bucket);
  void Dispose() override;  // runs under the cache lock

  std::uint32_t SourceId() const { return sourceId_; }
  // Set once the picture (or its placeholder) was made.
  bool Loaded() const { return loaded_.load(std::memory_order_acquire); }
  // The decoded picture; nil until loaded. Stable once loaded.
  zm::TImage* Image() const { return image_.get(); }

private:
  friend class TFileAccessor;
  zm::TRef<zm::TSafeCriticalSection> lock_;  // held while decoding
  zm::TKeyItem* bucket_;                     // nil outside the cache
  zm::TRef<zm::TImage> image_;
  std::uint32_t sourceId_;
  std::atomic<bool> loaded_{false};
  bool loading_ = false;  // under lock_: a callback asking for its own picture
};

class TOruImage;
// Installed into every picture GetImage hands out; NotifyAccess calls it.
using TOruImageAccessProc = void (*)(TOruImage* image);
extern TOruImageAccessProc OruImageAccessHook;

// The show-file picture: shares the decoded picture of the cache and keeps
// its cache entry alive.
class TOruImage : public zm::TImage {
public:
  // Handle may be nil (a picture outside the cache).
  TOruImage(zm::TBitmapStore* store, TImageHandle* handle);
  void Dispose() override;
  // A new image over the same picture and cache entry.
  zm::TRef<zm::TImage> CreateCopy() override;
  TImageHandle* Handle() const { return handle_.get(); }

  // The deepest mip level a drawer may use of this picture (0: no limit).
  std::int32_t MipLevelLimit = 0;
  TOruImageAccessProc AccessCallback = nullptr;
  void NotifyAccess() {
    if (AccessCallback) AccessCallback(this);
  }

private:
  zm::TRef<TImageHandle> handle_;
};

// Live cache entries (the cache is freed at exit only when none is left).
std::int32_t LiveImageHandleCount();

// Placeholder texts of pictures that are missing or do not decode.
inline constexpr char16_t kImageNotFoundText[] = u"Image not found";
inline constexpr char16_t kVideoNotFoundText[] = u"Video not found";
inline constexpr char16_t kImageLoadErrorText[] = u"Image load error:";
inline constexpr char16_t kVideoLoadErrorText[] = u"Video load error:";
inline constexpr char16_t kPathText[] = u"Path:";
// A picture of a format known but not read here (WebP, HEIF ...):
// "Image format not supported (WebP):", on its placeholder and in one line
// on standard error with its name.
inline constexpr char16_t kFormatNotReadText[] = u"Image format not supported";
WideString FormatNotReadText(const WideString& format);
// The placeholder picture: " <first line> " over " <file name> " (the first
// line says the format when NotRead names one), grey on light grey, its
// text drawn anew at the size each level is shown at (the largest
// kPlaceholderSide pixels on its longer side); a plain light grey picture
// when no text can be drawn here.
inline constexpr std::int32_t kPlaceholderSide = 4096;
zm::TRef<zm::TImage> MakePlaceholderImage(const WideString& name, bool found, bool isVideo,
                                          const WideString& notRead = WideString());
// The file name a placeholder shows: Name without its folder, a longer one
// than kPlaceholderNameLength characters cut to its start and its end with
// "…" between.
inline constexpr std::size_t kPlaceholderNameLength = 64;
WideString PlaceholderName(const WideString& name);
// The pixels of a packed picture are decoded at once, so that a picture
// whose pixels are damaged fails at its load (EGfxImageError) and shows the
// placeholder, instead of failing again whenever it is drawn. Other
// pictures are left as they are.
void DecodePackedPixels(zm::TImage* image);

// Handler(Data, Name) for files the source does not have: a stream, or nil.
using TMissingFileHandler = zm::TStream* (*)(void* data, const WideString& name);
// May replace the stream just opened for Name (nil allowed both ways).
using TOpenHook = void (*)(const WideString& name, zm::TStream*& stream);

class TFileAccessor : public zm::TRefObject {
public:
  // Takes a reference to Source (assertion when nil).
  explicit TFileAccessor(TFileSource* source);
  void Dispose() override;
  // A new accessor over the same source with the same base folder.
  virtual zm::TRef<TFileAccessor> CreateCopy();

  // The named file of the show, read through the load callback; the open
  // hook may replace it; when absent, the missing-file handler's result;
  // nil when absent or damaged (the source raised EStreamError, or the
  // file layer a file error). The caller owns the stream.
  zm::TStream* OpenFile(const WideString& name);
  // Name unchanged when that file exists; else after ExpandPathVars; else
  // its file name inside the base folder. Name becomes the one found; when
  // none is a file, the first of them that is a folder (which no open
  // takes).
  bool FindRealFile(WideString& name);
  // FindRealFile, then the file opened for reading; nil when not found.
  zm::TStream* OpenRealFile(const WideString& name);
  // The size of the named file as its source keeps it (TFileSource::FileSize),
  // -1 when absent or damaged; the open hook and the missing-file handler
  // are not asked.
  std::int64_t FileSize(const WideString& name);
  // The shared picture of a show file, with the mip level limit and
  // OruImageAccessHook applied. Pictures are shared per (name ignoring
  // case, source), so accessors over one source share them. The source's
  // image callbacks are asked first, then the file is opened through the
  // source itself (not the open hook or the missing-file handler) and
  // decoded by its extension; a placeholder picture when the file is
  // missing, damaged or does not decode; nil only when even that cannot be made
  // (and for a callback that asks for the very picture being made).
  // EAbort from a callback or a loader passes on, and a later call tries
  // again.
  zm::TRef<TOruImage> GetImage(const WideString& name);
  // As GetImage; IsVideo chooses the placeholder texts of video objects.
  zm::TRef<TOruImage> GetImage(const WideString& name, bool isVideo);

  TFileSource* Source() const { return source_.get(); }
  // The folder of the show's files, with its final "\".
  const WideString& BaseFolder() const { return baseFolder_; }
  void SetBaseFolder(const WideString& folder) { baseFolder_ = folder; }
  std::int32_t MipLevelLimit() const { return mipLevelLimit_; }
  void SetMipLevelLimit(std::int32_t limit) { mipLevelLimit_ = limit; }
  void SetMissingFileHandler(TMissingFileHandler handler, void* data) {
    missingHandler_ = handler;
    missingData_ = data;
  }
  void SetOpenHook(TOpenHook hook) { openHook_ = hook; }

private:
  zm::TRef<TFileSource> source_;
  TMissingFileHandler missingHandler_ = nullptr;
  void* missingData_ = nullptr;
  TOpenHook openHook_ = nullptr;
  WideString baseFolder_;
  std::int32_t mipLevelLimit_ = 0;
};

// An accessor over a TRealFileSource with the base folder of the global
// accessor when there is one.
zm::TRef<TFileAccessor> CreateRealFileAccessor();
// The accessor the module start made (over plain disk files); nil before.
TFileAccessor* GlobalFileAccessor();

// ---- Path variables ----------------------------------------------------------------

struct TPathVar {
  WideString name;  // case-folded, with its "%" signs
  WideString path;
  bool isDefault = false;
};
using TPathVarTable = std::vector<TPathVar>;

// Appends an entry: the path loses its final "\", folder macros at its very
// start are expanded, and a relative path is resolved against the program's
// folder.
void RegisterPathVar(TPathVarTable& table, const WideString& name, const WideString& path, bool isDefault);
// The built-in table: "%styles%" -> "All\Themes", "%LOCALAPPDATA%\Tavrel\Styles"
// (default); "%effects%" -> "All\Effects", "%LOCALAPPDATA%\Tavrel\Effects" (default).
TPathVarTable DefaultPathVars();
// Replaces the global table (project shows bring their own).
void SetPathVars(const TPathVarTable& table);
TPathVarTable GetPathVars();

// Each "%name%" token replaced by the first entry whose file exists (the
// part before any "|"), else by the last default entry met.
WideString ExpandPathVars(const WideString& name);
// The same over a table of the caller's.
WideString ExpandPathVars(const TPathVarTable& table, const WideString& name);
bool FileExistsExpanded(const WideString& name);
// The file opened for reading, sharing read, write and delete access; nil
// when it cannot be opened (missing, no rights, or no regular file: a
// folder, device, named pipe or socket, which the log names once).
zm::TStream* OpenFileForReading(const WideString& name);

// ---- Folders --------------------------------------------------------------------------

// Replaces the folder macros in Path; with OnlyAtStart only at its start.
// True when anything was replaced.
bool ExpandFolderMacros(WideString& path, bool onlyAtStart);
// "%TEMP%" expands to zm::GetTempDir (zmTempFiles), which the temporary-file
// manager below this library shares.
// The last component of a "\" path, one final "\" ignored.
WideString ExtractLastPathPart(const WideString& path);
// Everything before the last component.
WideString ExtractFolderPath(const WideString& path, bool withBackslash);
// The shell folder of a standard folder id (plat::CSIDL_APPDATA and the
// others of Platform/PlatShell.h) with its final "\"; empty when there is none.
WideString GetSpecialFolder(std::int32_t id);

void InitFileAccess();
void FiniFileAccess();

}  // namespace oru
