#include "ZmLib/Graphics/zmImageLib.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/sysCorrectInvisiblePixels.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmStream.h"

namespace zm {

const char16_t* const kPngLibraryFile = u"..\\Common\\Linux\\libzmPngLib.so";

namespace {

struct TLibEntry {
  WideString Path;
  TRef<TImageLib> Lib;
  bool Failed = false;  // could not be loaded: declines from now on
  std::vector<std::string> Extensions;  // ".PNG", upper case UTF-8
};

std::mutex gTableLock;
std::vector<TLibEntry> gTable;

std::string ExtensionKey(const WideString& extension) { return plat::ToUtf8(UpperCase(extension)); }

bool Serves(const TLibEntry& e, const std::string& key) {
  for (const std::string& x : e.Extensions)
    if (x == key) return true;
  return false;
}

// The callbacks run inside the library: nothing may be thrown through it.
std::int64_t StreamGetSize(void* s) noexcept {
  try {
    return s ? static_cast<TStream*>(s)->GetSize() : -1;
  } catch (...) {
    return -1;
  }
}

void StreamSetSize(void* s, std::int64_t size) noexcept {
  try {
    if (s && size >= 0) static_cast<TStream*>(s)->SetSize(size);
  } catch (...) {
  }
}

std::int32_t StreamReadAt(void* s, void* buffer, std::int32_t count, std::int64_t position) noexcept {
  if (!s || !buffer || count <= 0 || position < 0) return 0;
  try {
    auto* stream = static_cast<TStream*>(s);
    stream->SetPosition(position);
    const std::int32_t n =
        stream->Read(TReadBuffer(static_cast<std::uint8_t*>(buffer), std::size_t(count)), count, 0);
    return n < 0 ? 0 : n;
  } catch (...) {
    return 0;
  }
}

std::int32_t StreamWriteAt(void* s, const void* buffer, std::int32_t count, std::int64_t position) noexcept {
  if (!s || !buffer || count <= 0 || position < 0) return 0;
  try {
    auto* stream = static_cast<TStream*>(s);
    stream->SetPosition(position);
    const std::int32_t n =
        stream->Write(TWriteBuffer(static_cast<const std::uint8_t*>(buffer), std::size_t(count)), count, 0);
    return n < 0 ? 0 : n;
  } catch (...) {
    return 0;
  }
}

// Entry Index's library, loaded on first need; nil when it failed or the
// entry does not serve Key (an empty key matches every entry).
TRef<TImageLib> EntryLibrary(std::size_t index, const std::string& key, bool& past) {
  std::lock_guard<std::mutex> lock(gTableLock);
  past = index >= gTable.size();
  if (past) return nullptr;
  TLibEntry& e = gTable[index];
  if (e.Failed || (!key.empty() && !Serves(e, key))) return nullptr;
  if (!e.Lib) {
    e.Lib = TImageLib::Load(e.Path);
    e.Failed = !e.Lib;
  }
  return e.Lib;
}

// The correction works on pictures with memory of their own: the rows go
// through a copy, and only the invisible pixels come back. Pictures without
// any are left alone.
void CorrectInvisibleRows(TSysBitmap* bitmap) {
  const std::int32_t w = bitmap->Width(), h = bitmap->Height();
  bool any = false;
  for (std::int32_t y = 0; y < h && !any; ++y) {
    const std::uint8_t* row = bitmap->ScanLine(y);
    for (std::int32_t x = 0; x < w && !any; ++x) any = row[4 * x + 3] == 0;
  }
  if (!any) return;
  TRef<TDirectBitmap> copy = MakeRef<TDirectBitmap>(w, bitmap->PixelFormat(), h);
  for (std::int32_t y = 0; y < h; ++y) std::memcpy(copy->ScanLine(y), bitmap->ScanLine(y), std::size_t(w) * 4);
  CorrectInvisiblePixels(copy.get());
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* row = bitmap->ScanLine(y);
    const std::uint8_t* fixed = copy->ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x)
      if (row[4 * x + 3] == 0) std::memcpy(row + 4 * x, fixed + 4 * x, 3);
  }
}

bool RecordUsable(const TImageLibRecord& r) {
  return (r.BitsPerPixel == 24 || r.BitsPerPixel == 32) && r.Width > 0 && r.Height > 0 &&
         std::int64_t(r.Width) * r.Height <= kMaxImageLibPixels;
}

}  // namespace

// ---- TImageLib --------------------------------------------------------------------

TRef<TImageLib> TImageLib::Load(const WideString& path) {
  void* handle = nullptr;
  if (!LoadDll(handle, path)) return nullptr;
  TRef<TImageLib> lib = MakeRef<TImageLib>();
  lib->Handle = handle;
  LoadDllProc(handle, "OpenImage", true, lib->OpenImage);
  LoadDllProc(handle, "OpenImageFile", true, lib->OpenImageFile);
  LoadDllProc(handle, "ReadImage", true, lib->ReadImage);
  LoadDllProc(handle, "CloseImage", true, lib->CloseImage);
  if (!lib->OpenImage || !lib->OpenImageFile || !lib->ReadImage || !lib->CloseImage) return nullptr;
  return lib;
}

void TImageLib::Dispose() {
  OpenImage = nullptr;
  OpenImageFile = nullptr;
  ReadImage = nullptr;
  CloseImage = nullptr;
  if (Handle) WinFreeLibrary(Handle);
  Handle = nullptr;
  TRefObject::Dispose();
}

// ---- TImageLibPicture -------------------------------------------------------------

TImageLibPicture::TImageLibPicture(TImageLib* lib, const TImageLibRecord& record) : Lib(lib), Record(record) {}

void TImageLibPicture::Dispose() {
  if (Lib && Lib->CloseImage) Lib->CloseImage(&Record);
  Record = TImageLibRecord{};
  Lib = nullptr;
  TRefObject::Dispose();
}

// ---- TImageLibBitmap ---------------------------------------------------------------

TImageLibBitmap::TImageLibBitmap(const TPoint& size, std::vector<std::uint8_t*> rows, TPixelFormat* format,
                                 TImageLibPicture* picture)
    : TSysBitmap(size, std::move(rows), format), picture_(picture) {}

void TImageLibBitmap::Dispose() {
  TSysBitmap::Dispose();
  picture_ = nullptr;
}

// ---- TImageLibStore ---------------------------------------------------------------

TImageLibStore::TImageLibStore(TImageLibPicture* picture, const WideString& name, const TImageLoadHandler& handler,
                               TPixelFormat* format)
    : TSysBitmapStore(name, handler, TPoint{picture->Record.Width, picture->Record.Height}, format),
      picture_(picture) {}

void TImageLibStore::Dispose() {
  picture_ = nullptr;
  TSysBitmapStore::Dispose();
}

void TImageLibStore::GetSourceLevel(std::int32_t level, TMipLevelResult& result) {
  if (level != 0 || !picture_) return;
  TImageLibRecord& r = picture_->Record;
  if (!r.Rows) picture_->Lib->ReadImage(&r);
  if (!r.Rows) throw EImageLib("The picture library could not read \"" + plat::ToUtf8(Name()) + "\"");
  std::vector<std::uint8_t*> rows(r.Rows, r.Rows + Size().Y);
  for (std::uint8_t* row : rows)
    if (!row) throw EImageLib("The picture library gave an empty row for \"" + plat::ToUtf8(Name()) + "\"");
  TRef<TImageLibBitmap> bitmap = MakeRef<TImageLibBitmap>(Size(), std::move(rows), PixelFormat(), picture_.get());
  if (r.BitsPerPixel == 32) CorrectInvisibleRows(bitmap.get());
  if (ProgressHandler) ProgressHandler(1.0f);
  result.Bitmap = bitmap;
  result.Owned = true;
  result.Level = 0;
}

// ---- The table ----------------------------------------------------------------------

bool RegisterImageLibrary(const WideString& path, std::initializer_list<const char16_t*> extensions) {
  const WideString full = ExpandFromCodeDir(path);
  if (full.empty() || !FileExists(full)) return false;
  TLibEntry entry;
  entry.Path = full;
  std::vector<WideString> fresh;
  {
    std::lock_guard<std::mutex> lock(gTableLock);
    for (const char16_t* x : extensions) {
      if (!x) continue;
      const WideString ext = NormalizeExtension(x);
      const std::string key = ExtensionKey(ext);
      if (ext.size() < 2 || Serves(entry, key)) continue;
      entry.Extensions.push_back(key);
      bool known = false;
      for (const TLibEntry& e : gTable) known = known || Serves(e, key);
      if (!known) fresh.push_back(ext);
    }
    gTable.push_back(std::move(entry));
  }
  // One loader entry per extension asks every library of it.
  for (const WideString& ext : fresh) RegisterImageLoader(&LoadImageLibStore, {ext.c_str()});
  return true;
}

std::int32_t ImageLibraryCount() {
  std::lock_guard<std::mutex> lock(gTableLock);
  return std::int32_t(gTable.size());
}

TRef<TImageLib> ImageLibraryAt(std::int32_t index) {
  bool past = false;
  return index < 0 ? nullptr : EntryLibrary(std::size_t(index), std::string(), past);
}

void ClearImageLibraries() {
  UnregisterImageLoader(&LoadImageLibStore);
  std::vector<TLibEntry> gone;
  {
    std::lock_guard<std::mutex> lock(gTableLock);
    gone.swap(gTable);
  }
  // Released outside the lock: a library's unloading must not wait on it.
}

TRef<TBitmapStore> LoadImageLibStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                     const TImageLoadHandler& handler) {
  if (!stream) return nullptr;
  // The libraries of what the picture holds, whatever its name says.
  WideString ext = ExtractFileExt(fileName);
  const TPictureFormat format = PictureFormatOf(stream);
  if (!format.Extension.empty() && !format.ReadAs(ext)) ext = format.Extension;
  std::string key = ExtensionKey(NormalizeExtension(ext));
  if (key.size() < 2) return nullptr;
  const std::int64_t start = stream->GetPosition();
  const TImageLibStream callbacks{stream, &StreamGetSize, &StreamSetSize, &StreamReadAt, &StreamWriteAt};
  TRef<TBitmapStore> store;
  bool past = false;
  for (std::size_t i = 0; !store; ++i) {
    TRef<TImageLib> lib = EntryLibrary(i, key, past);
    if (past) break;
    if (!lib) continue;
    TImageLibRecord record{};
    if (!lib->OpenImage(&record, &callbacks)) continue;
    // Held from here on, so that CloseImage runs whatever happens next.
    TRef<TImageLibPicture> picture = MakeRef<TImageLibPicture>(lib.get(), record);
    if (!RecordUsable(record)) continue;
    TPixelFormat* format = PixelFormatByName(record.BitsPerPixel == 32 ? PF_A8R8G8B8 : PF_R8G8B8);
    store = MakeRef<TImageLibStore>(picture.get(), fileName, handler, format);
  }
  if (!store) {
    stream->SetPosition(start);
    return nullptr;
  }
  if (ownsStream) stream->ReleaseRef();
  return store;
}

void InitImageLib() { RegisterImageLibrary(kPngLibraryFile, {u".png"}); }

void FiniImageLib() { ClearImageLibraries(); }

}  // namespace zm
