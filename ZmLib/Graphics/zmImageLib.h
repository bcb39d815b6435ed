#pragma once
// Picture formats decoded by a separate library loaded at run time. Each
// registered library serves a list of extensions; the loader registered for
// them asks the libraries in registration order, and the first that opens
// the picture makes the store. A library is loaded when first needed; one
// that cannot be loaded or lacks one of the entry points "OpenImage",
// "OpenImageFile", "ReadImage" and "CloseImage" declines every picture from
// then on. The table may be used from any thread.
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmImageLibApi.h"

namespace zm {

// Pictures beyond this are refused whatever a library reports.
constexpr std::int64_t kMaxImageLibPixels = kMaxBitmapBytes / 4;

class TImageLib : public TRefObject {
public:
  // The library at Path with its four entry points; nil when it cannot be
  // loaded or an entry point is missing (the library is then unloaded).
  static TRef<TImageLib> Load(const WideString& path);
  // Unloads the library and clears the entry points.
  void Dispose() override;

  void* Handle = nullptr;
  TOpenImageProc OpenImage = nullptr;
  TOpenImageFileProc OpenImageFile = nullptr;
  TReadImageProc ReadImage = nullptr;
  TCloseImageProc CloseImage = nullptr;
};

// An opened picture of a library: CloseImage runs when the last holder goes
// (the store, or a level bitmap still in use over the library's rows).
class TImageLibPicture : public TRefObject {
public:
  TImageLibPicture(TImageLib* lib, const TImageLibRecord& record);
  void Dispose() override;

  TRef<TImageLib> Lib;
  TImageLibRecord Record;
};

// The library's rows of a picture as a bitmap; keeps the picture open.
class TImageLibBitmap : public TSysBitmap {
  ZM_BITMAP_CLASS(TImageLibBitmap, TSysBitmap)
public:
  TImageLibBitmap(const TPoint& size, std::vector<std::uint8_t*> rows, TPixelFormat* format,
                  TImageLibPicture* picture);
  void Dispose() override;

private:
  TRef<TImageLibPicture> picture_;
};

class TImageLibStore : public TSysBitmapStore {
public:
  // Format "R8G8B8" for 24 bits per pixel, "A8R8G8B8" for 32; the size is
  // the record's. The store keeps a reference to the picture.
  TImageLibStore(TImageLibPicture* picture, const WideString& name, const TImageLoadHandler& handler,
                 TPixelFormat* format);
  // Drops the store's hold on the picture, then as TSysBitmapStore.
  void Dispose() override;
  // Level 0 only: the library's rows (read on first need) seen as a bitmap,
  // not copied; 32-bit pictures get their invisible pixels recoloured.
  // A library that delivers no rows raises EImageLib.
  void GetSourceLevel(std::int32_t level, TMipLevelResult& result) override;

  TImageLib* Lib() const { return picture_->Lib.get(); }
  const TImageLibRecord& Record() const { return picture_->Record; }

private:
  TRef<TImageLibPicture> picture_;
};

class EImageLib : public Exception {
public:
  using Exception::Exception;
};

// Path expanded against the folder the program loads its own libraries
// from (CodeFolder, never the program's folder); when that file exists the
// library is added to the table for Extensions ("png", ".png" and "*.png"
// alike) and the answer is true; else false and nothing changes.
bool RegisterImageLibrary(const WideString& path, std::initializer_list<const char16_t*> extensions);
// The registered libraries (tests, diagnostics).
std::int32_t ImageLibraryCount();
// The library of entry Index, loaded on first need; nil when it failed.
TRef<TImageLib> ImageLibraryAt(std::int32_t index);
// Releases every library and empties the table.
void ClearImageLibraries();

// The loader of every registered extension.
TRef<TBitmapStore> LoadImageLibStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                     const TImageLoadHandler& handler);

// Where the picture library that the program looks for beside itself
// ("..\Common\Win32\zmPngLib.dll") lives on this system, relative to the
// folder the program loads its own libraries from (CodeFolder), not to the
// folder of the file it runs as.
extern const char16_t* const kPngLibraryFile;

// Registers kPngLibraryFile for ".png" when it exists.
void InitImageLib();
void FiniImageLib();

}  // namespace zm
