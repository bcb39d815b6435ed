#include "Oru/OruViewer/OruCarriedCode.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <cstdint>
#include <string>
#include <string_view>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruUnpack.h"
#include "OruLib2/OruClasses/zmInflate.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatArchivePeek.h"
#include "Platform/PlatFiles.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLog.h"

namespace oru {

namespace {

constexpr std::int32_t kHeadSize = std::int32_t(plat::kPackedHeadSize);
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

// What packed entries of containers held, by the container as it is and
// the entry's place, method and size: entries at the same place are one
// content, unpacked once, and a look made again reads it no more.
std::mutex gEntriesLock;
std::map<std::string, plat::TPeekFinding> gEntries;
constexpr std::size_t kMaxKeptEntries = 4096;

// The first entry of the container that carries code, or that cannot be
// read or judged, or that the look had no time left for.
TCarriedCode CodeInContainer(TOruUnpack* unpack, const plat::TLookBudget& budget) {
  zm::TIniFile* directory = unpack && unpack->Struc() ? unpack->Struc()->Ini() : nullptr;
  if (!directory) return {};
  const std::string state = plat::FileStateOf(plat::NativePath(unpack->FileName()));
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
    const WideString where = unpack->FileName() + u"|" + name;
    if (const char* over = budget.Over()) return {where, plat::FromUtf8(over), false, true};
    const std::string key = state + "|" + std::to_string(position) + "|" + std::to_string(size) + "|" +
                            std::to_string(method);
    const auto said = [&where](const plat::TPeekFinding& found) -> TCarriedCode {
      if (found.Why == plat::TPeekFinding::TWhy::Code) return {where + plat::FromUtf8(found.Inside), {}};
      if (found.Why == plat::TPeekFinding::TWhy::Unjudged)
        return {where + plat::FromUtf8(found.Inside),
                found.Cut ? plat::FromUtf8(found.Reason)
                          : u"packed data that cannot be judged: " + plat::FromUtf8(found.Reason),
                false, found.Cut};
      return {};
    };
    if (!state.empty()) {
      std::lock_guard<std::mutex> lock(gEntriesLock);
      if (const auto it = gEntries.find(key); it != gEntries.end()) {
        if (TCarriedCode code = said(it->second); code.Found()) return code;
        continue;
      }
    }
    std::uint8_t head[kHeadSize] = {};
    std::int32_t n = 0;
    plat::TPeekFinding found;
    try {
      if (!file) file = unpack->OpenContainerFile();
      if (!file) return {unpack->FileName(), u"cannot be read"};
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
      const std::string_view text(reinterpret_cast<const char*>(head), std::size_t(n));
      if (HeadIsCode(head, n)) {
        found.Why = plat::TPeekFinding::TWhy::Code;
      } else if (plat::PackedKindOf(text) != plat::TPackedKind::None) {
        // Packed data: looked into from its start.
        zm::TRef<TPartialStream> again = zm::MakeRef<TPartialStream>(file.get(), false, position, size);
        zm::TRef<zm::TStream> data = again;
        zm::TRef<zm::TStream> decoded;
        if (method == kEntryDeflated) decoded = zm::TRef<zm::TStream>::Adopt(new TInflateStream(again.get(), -1));
        else if (method == kEntryEnciphered)
          decoded = zm::TRef<zm::TStream>::Adopt(new TCryptStream(again.get(), unpack->Key(), false));
        if (decoded) data = decoded;
        plat::TPeekLimits limits;
        limits.Budget = &budget;
        found = plat::PeekIntoPackedStream(
            [&data](void* buffer, std::size_t count) -> std::size_t {
              const std::size_t n = std::min<std::size_t>(count, 1 << 20);
              const std::int32_t got =
                  data->Read(zm::TReadBuffer(static_cast<std::uint8_t*>(buffer), n), std::int32_t(n), 0);
              return got > 0 ? std::size_t(got) : 0;
            },
            plat::ToUtf8(name), limits);
      }
    } catch (...) {
      // What cannot be read cannot be judged either.
      return {where, u"an entry that cannot be read"};
    }
    if (!found.Cut && !state.empty()) {
      std::lock_guard<std::mutex> lock(gEntriesLock);
      if (gEntries.size() >= kMaxKeptEntries) gEntries.clear();
      gEntries[key] = found;
    }
    if (TCarriedCode code = said(found); code.Found()) return code;
  }
  return {};
}

}  // namespace

TCarriedCode FindCarriedCode(const WideString& showFile, TOruShowLocator* show, std::size_t maxEntries) {
  TCarriedCodeLook look;
  look.MaxEntries = maxEntries;
  return FindCarriedCode(showFile, show, look);
}

TCarriedCode FindCarriedCode(const WideString& showFile, TOruShowLocator* show, const TCarriedCodeLook& look) {
  plat::TLookBudget ownBudget(kMaxLookMs);
  const plat::TLookBudget& budget = look.Budget ? *look.Budget : ownBudget;
  TCarriedCode found;
  const std::string native = plat::NativePath(showFile);
  const std::size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : slash == 0 ? "/" : native.substr(0, slash);
  TPackedFileSource* packed = show && show->FromContainer() && show->Accessor()
                                  ? dynamic_cast<TPackedFileSource*>(show->Accessor()->Source())
                                  : nullptr;
  plat::TCodeLook folderLook;
  folderLook.MaxEntries = look.MaxEntries;
  folderLook.Budget = &budget;
  // The show's description is looked at as every file of its folder is; a
  // container by its first bytes, its entries apart: a self-playing show
  // begins with the player's own program, which does not count.
  if (show && show->FromContainer()) {
    folderLook.Container = native;
    folderLook.ContainerIsPlayer = plat::StartsWithSameProgram(native, look.OwnProgram);
  }
  const plat::TCodeSearch search = plat::FindCodeInFolder(folder, folderLook);
  if (!search.Complete) {
    found.File = plat::FromUtf8(folder);
    found.TooManyFiles = true;
    return found;
  }
  if (!search.Found.empty()) {
    found.File = plat::FromUtf8(search.Found + search.Inside);
    found.Reason = plat::FromUtf8(search.Reason);
    found.Cut = search.Cut;
    return found;
  }
  if (packed) found = CodeInContainer(packed->Unpack(), budget);
  return found;
}

}  // namespace oru
