#include "Oru/OruViewer/OruCarriedCode.h"

#include <zlib.h>

#include <cstdint>
#include <string>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruUnpack.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatFiles.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLog.h"

namespace oru {

namespace {

constexpr std::int32_t kHeadSize = 4;
// A deflated entry's first bytes come from the first piece of its data; so
// much is read at most.
constexpr std::int32_t kDeflatedPiece = 512;
constexpr std::int32_t kMaxDeflatedRead = 65536;

bool HeadIsCode(const std::uint8_t* head, std::int32_t n) {
  return (n >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
         (n >= 2 && head[0] == '#' && head[1] == '!');
}

// The first bytes of a raw-deflated window, inflated a piece at a time.
std::int32_t InflatedHead(zm::TStream* window, std::uint8_t* head) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 0;
  std::uint8_t in[kDeflatedPiece];
  z.next_out = head;
  z.avail_out = kHeadSize;
  int r = Z_OK;
  for (std::int32_t read = 0; z.avail_out > 0 && r == Z_OK && read < kMaxDeflatedRead;) {
    const std::int32_t got = window->Read(zm::TReadBuffer(in), kDeflatedPiece, 0);
    if (got <= 0) break;
    read += got;
    z.next_in = in;
    z.avail_in = static_cast<uInt>(got);
    r = inflate(&z, Z_NO_FLUSH);
  }
  const std::int32_t n = kHeadSize - static_cast<std::int32_t>(z.avail_out);
  inflateEnd(&z);
  return n;
}

// The first entry of the container that starts as code.
WideString CodeInContainer(TOruUnpack* unpack) {
  zm::TIniFile* directory = unpack && unpack->Struc() ? unpack->Struc()->Ini() : nullptr;
  if (!directory) return {};
  zm::TRef<zm::TFileStream> file;
  for (std::int32_t i = 0; i < directory->SectionCount(); ++i) {
    zm::TIniSection* section = directory->Section(i);
    if (!section) continue;
    const WideString name = section->GetName();
    std::int64_t position = 0, size = 0;
    std::uint8_t method = kEntryStored;
    // An entry at the file's start is the program a self-playing show's
    // data follows: the container itself.
    if (name == WideString(u"$protection$") || !unpack->FindEntry(name, position, method, size) || size < 2 ||
        position == 0)
      continue;
    std::uint8_t head[kHeadSize] = {};
    std::int32_t n = 0;
    try {
      if (!file) file = unpack->OpenContainerFile();
      if (!file) return {};
      zm::TRef<TPartialStream> window = zm::MakeRef<TPartialStream>(file.get(), false, position, size);
      if (method == kEntryDeflated) {
        n = InflatedHead(window.get(), head);
      } else if (method == kEntryEnciphered) {
        zm::TRef<zm::TStream> crypt =
            zm::TRef<zm::TStream>::Adopt(new TCryptStream(window.get(), unpack->Key(), false));
        n = crypt->Read(zm::TReadBuffer(head), kHeadSize, 0);
      } else {
        n = window->Read(zm::TReadBuffer(head), kHeadSize, 0);
      }
    } catch (...) {
      // An entry that cannot be read is no code anyone could load.
      continue;
    }
    if (HeadIsCode(head, n)) return unpack->FileName() + u"|" + name;
  }
  return {};
}

}  // namespace

TCarriedCode FindCarriedCode(const WideString& showFile, TOruShowLocator* show, std::size_t maxEntries) {
  TCarriedCode found;
  const std::string native = plat::NativePath(showFile);
  const std::size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : slash == 0 ? "/" : native.substr(0, slash);
  const plat::TCodeSearch search = plat::FindCodeInFolder(folder, native, maxEntries);
  if (!search.Complete) {
    found.File = plat::FromUtf8(folder);
    found.TooManyFiles = true;
    return found;
  }
  if (!search.Found.empty()) {
    found.File = plat::FromUtf8(search.Found);
    return found;
  }
  if (show && show->FromContainer() && show->Accessor())
    if (auto* packed = dynamic_cast<TPackedFileSource*>(show->Accessor()->Source()))
      found.File = CodeInContainer(packed->Unpack());
  return found;
}

}  // namespace oru
