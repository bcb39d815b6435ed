#include "OruLib2/OruClasses/OruUnpack.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmInflate.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "ZmLib/wpLoadCallBack.h"

namespace oru {

using zm::MakeRef;
using zm::TRef;

namespace {

constexpr std::int32_t kTrailerSize = 12;  // directory offset + tag
constexpr std::int32_t kBaseFieldSize = 8;
constexpr std::int64_t kFirstCapacity = 65536;
// The time limit is looked at between pieces of this size.
constexpr std::int32_t kMaxReadPiece = 1 << 20;

[[noreturn]] void RaiseInflateLimit(const char* text) {
  zm::EStreamReadError e;
  e.SetMessage(text);
  throw e;
}

// The whole inflated output of a raw-deflate window (never sized by what
// the data says); nil when the output exceeds limit or no memory can be had
// for it. Raises past maxMs. The output is inflated into pieces, each as
// large as all before it, joined once at the end: each byte is written
// twice at most, and no memory is cleared first (a long description's
// entry is read as its show opens).
TRef<zm::TMemoryStream> InflateWhole(zm::TStream* window, std::int64_t limit, std::int64_t maxMs) {
  const auto start = std::chrono::steady_clock::now();
  const auto late = [&] { return std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(maxMs); };
  limit = std::clamp<std::int64_t>(limit, 0, zm::TMemoryStream::kMaxSize - 2);
  window->SetPosition(0);
  TRef<TInflateStream> z = MakeRef<TInflateStream>(window, -1);
  struct TPiece {
    std::unique_ptr<std::uint8_t[]> Bytes;
    std::int64_t Size;
    std::int64_t Used;
  };
  std::vector<TPiece> pieces;
  // Deflate seldom makes data larger, so the window's size is a fair start.
  std::int64_t next = std::min(std::max(window->GetSize(), kFirstCapacity), limit + 1);
  std::int64_t size = 0;
  for (;;) {
    if (size > 0 && late()) RaiseInflateLimit(TOruUnpack::kEntryTooSlowText);
    zm::CheckLoadStop();  // the thread's work stopped (a show opening that the user quits)
    if (pieces.empty() || pieces.back().Used == pieces.back().Size) {
      if (size > limit) return nullptr;
      const std::int64_t bytes = std::max<std::int64_t>(std::min(next, limit + 1 - size), 1);
      // What the entry takes is part of what a slide's build may hold.
      zm::CheckMemoryAhead(bytes);
      std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)]);
      if (!piece) return nullptr;
      pieces.push_back({std::move(piece), bytes, 0});
      next = size + bytes;
    }
    TPiece& p = pieces.back();
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(p.Size - p.Used, kMaxReadPiece));
    const std::int32_t got = z->Read(zm::TReadBuffer(p.Bytes.get() + p.Used, static_cast<std::size_t>(want)), want, 0);
    if (got <= 0) break;
    p.Used += got;
    size += got;
    if (size > limit) return nullptr;
  }
  TRef<zm::TMemoryStream> mem = MakeRef<zm::TMemoryStream>();
  if (size > 0) {
    zm::CheckMemoryAhead(size);
    mem->SetSize(size);
    if (mem->GetSize() != size) return nullptr;  // no memory for it
    std::int64_t at = 0;
    for (const TPiece& p : pieces) {
      if (p.Used) std::memcpy(mem->Memory() + at, p.Bytes.get(), static_cast<std::size_t>(p.Used));
      at += p.Used;
    }
  }
  mem->SetPosition(0);
  return mem;
}

TRef<zm::TStream> OpenEntryStreamLimited(zm::TStream* source, std::uint8_t method, bool ownsSource,
                                         const zm::TByteString& key, std::int64_t position, std::int64_t size,
                                         const TOruUnpack::TInflateLimits& limits, bool& tooLarge) {
  tooLarge = false;
  if (!source) return nullptr;
  // The window takes over an owned source, also when it refuses the range.
  TRef<TPartialStream> window = MakeRef<TPartialStream>(source, ownsSource, position, size);
  switch (method) {
    case kEntryDeflated: {
      TRef<zm::TMemoryStream> mem = InflateWhole(window.get(), limits.MaxBytes, limits.MaxMs);
      tooLarge = !mem;
      return mem;
    }
    case kEntryEnciphered:
      return TRef<zm::TStream>::Adopt(new TCryptStream(window.Detach(), key, true));
    default:
      return window;
  }
}

// A decimal 64-bit integer, optionally signed, and nothing else.
bool ParseInt64(std::string_view s, std::int64_t& v) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

WideString EscapeEntryName(const WideString& name) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  WideString out;
  out.reserve(name.size());
  for (char16_t c : name) {
    if (c == u'[') out += u'<';
    else if (c == u']') out += u'>';
    else if (c < 32) {
      out += u'#';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else out += c;
  }
  return out;
}

// ============================================================================
// TUnpackStruc
// ============================================================================

TUnpackStruc::TUnpackStruc() : ini_(MakeRef<zm::TIniFile>()) {}

void TUnpackStruc::Dispose() {
  ini_ = nullptr;
  zm::TRefObject::Dispose();
}

bool TUnpackStruc::LoadFromStream(zm::TStream* stream) { return ini_->LoadFromStream(stream); }

zm::TIniSection* TUnpackStruc::FindEntrySection(const WideString& name) const {
  // An empty name would find the document itself.
  if (name.empty() || !ini_) return nullptr;
  return ini_->FindSection(EscapeEntryName(name));
}

// ============================================================================
// TOruUnpack
// ============================================================================

TOruUnpack::TOruUnpack(const WideString& fileName) : fileName_(fileName), key_(kKey) {
  stream_ = MakeRef<zm::TFileStream>(fileName_, zm::GENERIC_READ, zm::OPEN_EXISTING, zm::FILE_SHARE_READ);
  bool accepted = false;
  try {
    accepted = ReadStructure();
  } catch (...) {
    Close();
    throw;
  }
  if (!accepted) Close();
}

void TOruUnpack::Dispose() {
  Close();
  zm::TRefObject::Dispose();
}

void TOruUnpack::Close() {
  struc_ = nullptr;
  stream_ = nullptr;
}

bool TOruUnpack::ReadTrailer(std::int64_t& base) {
  end_ = stream_->GetSize();
  base = 0;
  char tag[4];
  auto readTagAt = [&](std::int64_t pos) {
    stream_->SetPosition(pos);
    return stream_->Read(zm::TReadBuffer(reinterpret_cast<std::uint8_t*>(tag), 4)) == 4 &&
           std::string_view(tag, 4) == kTag;
  };
  if (end_ < 4) return false;
  if (!readTagAt(end_ - 4)) {
    if (end_ < kTrailerSize || !readTagAt(end_ - kTrailerSize)) return false;
    end_ -= kBaseFieldSize;
    stream_->SetPosition(end_);
    std::int64_t x = stream_->ReadInt64();
    // A base that cannot be computed places the directory nowhere.
    if (__builtin_sub_overflow(end_, x, &base)) base = INT64_MIN;
  }
  return end_ >= kTrailerSize;
}

bool TOruUnpack::ReadStructure() {
  std::int64_t base = 0;
  if (!ReadTrailer(base)) return false;

  stream_->SetPosition(end_ - kTrailerSize);
  std::int64_t offset = stream_->ReadInt64();
  std::int64_t d = -1;
  std::int64_t length = 0;
  // Anything outside [0, E - 12] leaves d at -1, which the window refuses
  // with "Insufficient Source Size".
  if (!__builtin_add_overflow(offset, base, &d) && d >= 0 && d <= end_ - kTrailerSize) length = end_ - kTrailerSize - d;
  else d = -1;

  bool tooLarge = false;
  TRef<zm::TStream> text = OpenEntryStreamLimited(stream_.get(), kEntryDeflated, false, key_, d, length,
                                                  TInflateLimits{kMaxDirectorySize, kMaxInflateMs}, tooLarge);
  if (!text) return false;
  text->SetPosition(0);
  TRef<TUnpackStruc> struc = MakeRef<TUnpackStruc>();
  if (!struc->LoadFromStream(text.get())) return false;
  text = nullptr;
  struc_ = struc;

  zm::TIniSection* protection = struc_->Ini()->FindSection(WideString(kProtection.begin(), kProtection.end()));
  zm::TIniItem* strucPos = protection ? protection->Find(u"strucpos") : nullptr;
  std::string s = strucPos ? strucPos->GetValue().Str() : std::string();
  shift_ = 0;
  if (!s.empty() && s != std::to_string(d)) {
    zm::TIniItem* allow = protection->Find(u"allowmodify");
    if (!allow || allow->GetValue().Str() != "1") {
      errorText_ = u"Slide-show File Modified";
      return false;
    }
    // The directory can only have moved forward, from a real position.
    std::int64_t p = 0;
    if (!ParseInt64(s, p) || p < 0 || p > d) {
      errorText_ = u"Slide-show File Damaged";
      return false;
    }
    shift_ = d - p;
  }
  version_ = protection ? zm::IniGetString(protection->Find(u"oruversion")) : WideString();
  return true;
}

bool TOruUnpack::FindEntry(const WideString& name, std::int64_t& position, std::uint8_t& method,
                           std::int64_t& size) const {
  position = -1;
  size = -1;
  method = kEntryStored;
  if (!struc_) return false;
  zm::TIniSection* section = struc_->FindEntrySection(name);
  if (!section) return false;
  std::int64_t ps = zm::IniGetInt64(section->Find(u"_ps"), -1);
  size = zm::IniGetInt64(section->Find(u"_sz"), -1);
  std::int32_t pm = zm::IniGetInt(section->Find(u"_pm"), kEntryStored);
  method = pm >= 0 && pm <= 255 ? static_cast<std::uint8_t>(pm) : kEntryStored;
  // An absent position stays unusable whatever the shift; so does one that
  // the shift turns into the mark of an absent one.
  if (ps == -1 || __builtin_add_overflow(ps, shift_, &position) || position == -1) {
    position = -1;
    return false;
  }
  return size != -1;
}

TRef<zm::TFileStream> TOruUnpack::OpenContainerFile() const {
  if (!stream_) return nullptr;
  return MakeRef<zm::TFileStream>(fileName_, zm::GENERIC_READ, zm::OPEN_EXISTING, zm::FILE_SHARE_READ);
}

TRef<zm::TStream> TOruUnpack::OpenEntryStream(zm::TStream* source, std::uint8_t method, bool ownsSource,
                                              const zm::TByteString& key, std::int64_t position,
                                              std::int64_t size) {
  return OpenEntryStream(source, method, ownsSource, key, position, size, TInflateLimits{});
}

TRef<zm::TStream> TOruUnpack::OpenEntryStream(zm::TStream* source, std::uint8_t method, bool ownsSource,
                                              const zm::TByteString& key, std::int64_t position, std::int64_t size,
                                              const TInflateLimits& limits) {
  bool tooLarge = false;
  TRef<zm::TStream> s = OpenEntryStreamLimited(source, method, ownsSource, key, position, size, limits, tooLarge);
  if (tooLarge) RaiseInflateLimit(kEntryTooLargeText);
  return s;
}

bool ReadShowContainerVersion(const WideString& fileName, WideString& version) {
  version.clear();
  try {
    TRef<TOruUnpack> unpack = MakeRef<TOruUnpack>(fileName);
    if (!unpack->HasShow()) return false;
    version = unpack->Version();
    return true;
  } catch (const zm::EStreamError&) {
    return false;
  } catch (const zm::EFileError&) {
    return false;
  }
}

}  // namespace oru
