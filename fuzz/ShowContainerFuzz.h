#pragma once
// Shared by the show-container fuzz targets and by the test that writes and
// checks their seeds: the container file served from memory through the
// file API, the check that opens a container and reads every entry, and the
// container made around a directory text.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "OruLib2/OruClasses/OruUnpack.h"
#include "OruLib2/OruClasses/zmInflate.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winFileAPI.h"
#include "fuzz/FuzzCommon.h"
#include "tests/support/kit/ContainerReader.h"
#include "tests/support/kit/ShowContainerWriter.h"

namespace zmfuzz {

inline constexpr char16_t kContainerName[] = u"mem:show.orushow";

// Serves one file, kContainerName, from memory; every handle has its own
// position. Writing is refused.
class TMemoryFileAPI : public zm::TFileAPI {
public:
  explicit TMemoryFileAPI(std::string_view data) : data_(data) {}

  zm::THandle CreateFile(const zm::WideString& name, std::uint32_t access, std::uint32_t, const void*,
                         std::uint32_t, std::uint32_t, zm::THandle) override {
    if (name != kContainerName || (access & zm::GENERIC_WRITE)) {
      plat::SetLastOSError(2);
      return zm::INVALID_HANDLE_VALUE;
    }
    zm::THandle h = next_++;
    positions_[h] = 0;
    return h;
  }
  std::int64_t GetFileSize(zm::THandle h) override {
    return positions_.count(h) ? static_cast<std::int64_t>(data_.size()) : Fail();
  }
  std::int64_t Seek(zm::THandle h, std::int64_t distance, std::uint32_t origin) override {
    auto it = positions_.find(h);
    if (it == positions_.end()) return Fail();
    std::int64_t from = origin == zm::FILE_BEGIN ? 0 : origin == zm::FILE_CURRENT ? it->second
                                                                                   : static_cast<std::int64_t>(data_.size());
    std::int64_t to;
    if (__builtin_add_overflow(from, distance, &to) || to < 0) return Fail();
    return it->second = to;
  }
  bool ReadFile(zm::THandle h, void* buffer, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    auto it = positions_.find(h);
    if (it == positions_.end()) return Fail() == 0;
    std::int64_t size = static_cast<std::int64_t>(data_.size());
    if (it->second < size) {
      done = static_cast<std::uint32_t>(std::min<std::int64_t>(count, size - it->second));
      std::memcpy(buffer, data_.data() + it->second, done);
      it->second += done;
    }
    return true;
  }
  bool WriteFile(zm::THandle, const void*, std::uint32_t, std::uint32_t& done) override {
    done = 0;
    return Fail() == 0;
  }
  bool CloseFile(zm::THandle h) override { return positions_.erase(h) == 1 || Fail() == 0; }

  std::size_t OpenHandles() const { return positions_.size(); }

private:
  static std::int64_t Fail() {
    plat::SetLastOSError(22);
    return -1;
  }

  std::string data_;
  std::map<zm::THandle, std::int64_t> positions_;
  zm::THandle next_ = 100;
};

// The entry name whose escaped form is the section name.
inline zm::WideString UnescapeSectionName(const zm::WideString& s) {
  auto hex = [](char16_t c) { return c >= u'0' && c <= u'9' ? c - u'0' : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1; };
  zm::WideString out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c == u'<') c = u'[';
    else if (c == u'>') c = u']';
    else if (c == u'#' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0 &&
             hex(s[i + 1]) * 16 + hex(s[i + 2]) < 32) {
      c = static_cast<char16_t>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    }
    out += c;
  }
  return out;
}

// Zlib's own raw inflate of the bytes, when the stream ends within them.
inline bool ZlibInflate(std::string_view packed, std::string& out) {
  try {
    out = zmtest::RawInflate(std::string(packed));
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// What the check lets a container's deflated entries unpack in all: the
// player holds what it unpacks within its memory budget, not each entry
// within its own limit alone (a small container whose many entries name one
// deflate bomb unpacks it again for each).
inline constexpr std::int64_t kUnpackedTotal = std::int64_t(16) << 20;

// Opens the file as a container and reads every entry its directory names,
// each through its own handle, comparing with what the file holds; deflated
// entries may unpack kUnpackedTotal bytes in all, an entry past what is left
// is refused as too large. Returns the number of entries read whole; aborts
// on a broken promise.
inline int CheckContainer(std::string_view file) {
  using namespace zm;
  using namespace oru;
  TRef<TMemoryFileAPI> api = MakeRef<TMemoryFileAPI>(file);
  TRef<TFileAPI> saved = FileAPIClass;
  FileAPIClass = api;
  struct TRestore {
    TRef<TFileAPI>& Saved;
    ~TRestore() { FileAPIClass = Saved; }
  } restore{saved};

  const std::int64_t fileSize = static_cast<std::int64_t>(file.size());
  int read = 0;
  std::int64_t unpacked = 0;
  {
    TRef<TOruUnpack> unpack;
    try {
      unpack = MakeRef<TOruUnpack>(kContainerName);
    } catch (const EStreamError&) {
      Check(api->OpenHandles() == 0);
      return 0;
    }
    if (!unpack->HasShow()) {
      Check(unpack->Struc() == nullptr && api->OpenHandles() == 0);
      return 0;
    }
    Check(unpack->EndMark() >= 12 && unpack->EndMark() <= fileSize && unpack->Shift() >= 0);
    TIniFile* ini = unpack->Struc()->Ini();
    for (std::int32_t i = 0; i < ini->SectionCount() && i < 4096; ++i) {
      WideString name = UnescapeSectionName(ini->Section(i)->GetName());
      std::int64_t pos = 0, size = 0;
      std::uint8_t method = 0;
      if (!unpack->FindEntry(name, pos, method, size)) continue;
      Check(pos != -1 && size != -1);
      bool inside = pos >= 0 && size >= 0 && pos <= fileSize && size <= fileSize - pos;
      TRef<TStream> s;
      TOruUnpack::TInflateLimits limits;
      limits.MaxBytes = std::min(limits.MaxBytes, kUnpackedTotal - unpacked);
      try {
        s = TOruUnpack::OpenEntryStream(unpack->OpenContainerFile().Detach(), method, true, unpack->Key(), pos, size,
                                        limits);
      } catch (const EStreamReadError& e) {
        // Past the sum: deflated data that unpacks to more than is left.
        Check(inside && method == kEntryDeflated &&
              (e.Message() == TOruUnpack::kEntryTooLargeText || e.Message() == TOruUnpack::kEntryTooSlowText));
        continue;
      } catch (const EZDecompressionError&) {
        std::string ignored;
        Check(inside && method == kEntryDeflated &&
              !ZlibInflate(file.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(size)), ignored));
        continue;
      } catch (const EStreamError& e) {
        Check(!inside && e.Message() == "Insufficient Source Size");
        continue;
      }
      Check(inside && s);
      std::string_view stored = file.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(size));
      std::string got;
      std::uint8_t buf[3001];
      while (std::int32_t n = s->Read(TReadBuffer(buf), 1 + (static_cast<std::int32_t>(got.size()) % 3000), 0))
        got.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
      if (method == kEntryDeflated) {
        std::string expected;
        Check(ZlibInflate(stored, expected) && got == expected);
        unpacked += static_cast<std::int64_t>(got.size());
        Check(unpacked <= kUnpackedTotal);
      } else if (method == kEntryEnciphered) {
        Check(got == zmtest::TShowContainerWriter::Encipher(stored));
      } else {
        Check(got == stored);
      }
      ++read;
    }
  }
  Check(api->OpenHandles() == 0);  // every entry's handle went with its stream
  return read;
}

// A sound container of four entries (one of each method and an escaped
// name) whose directory text is replaced by text; flags bit 0 chooses the
// second trailer form, bit 1 puts the show behind a program.
inline zmtest::TShowContainerWriter FixedEntries(std::uint8_t flags) {
  zmtest::TShowContainerWriter w;
  w.TrailerForm = (flags & 1) ? 2 : 1;
  if (flags & 2) {
    w.Prefix = "\x7f" "ELF program bytes";
    w.PrefixEntryName = "OruViewer5";
  }
  w.Add("stored.txt", "plain entry bytes", zmtest::kStored);
  w.Add("Project.oru", "\xEF\xBB\xBF[main]\r\nopt_repeat=repeat\r\n[Slide1]\r\nobject TheEffect\r\nend\r\n",
        zmtest::kDeflated);
  w.Add("pics\\[1].jpg", std::string(100, 'J'), zmtest::kEnciphered);
  w.Add(std::string("ctl\x01", 4), "control", zmtest::kStored);
  return w;
}

// The container for a directory-fuzz input: a flags byte, then the text.
inline std::string ContainerWithDirectory(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return {};
  zmtest::TShowContainerWriter w = FixedEntries(data[0]);
  w.DirectoryText = std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  return w.Bytes();
}

}  // namespace zmfuzz
