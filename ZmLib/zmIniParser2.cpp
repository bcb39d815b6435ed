#include "ZmLib/zmIniParser2.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Platform/PlatText.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winFileAPI.h"

namespace zm {

namespace {

constexpr TByteCharSet MakeBlankSet() {
  TByteCharSet s;
  s.AddRange(0, 9);
  s.Add(11);
  s.Add(12);
  s.AddRange(14, 32);
  return s;
}
constexpr TByteCharSet MakeIdentSet() {
  TByteCharSet s;
  s.AddRange('0', '9');
  s.AddRange('A', 'Z');
  s.AddRange('a', 'z');
  s.Add('_');
  return s;
}
constexpr TByteCharSet kBlank = MakeBlankSet();
constexpr TByteCharSet kIdent = MakeIdentSet();

inline bool IsLineEnd(std::uint8_t b) { return b == 13 || b == 10; }

// Reads exactly count bytes (a stream may hand them over in parts).
bool ReadFully(TStream* stream, std::uint8_t* p, std::int64_t count) {
  while (count > 0) {
    std::int32_t want = count > (1 << 30) ? (1 << 30) : static_cast<std::int32_t>(count);
    std::int32_t got = stream->Read(TReadBuffer(p, static_cast<std::size_t>(want)), want, 0);
    if (got <= 0) return false;
    p += got;
    count -= got;
  }
  return true;
}

bool ReadText(TStream* stream, std::uint32_t codePage, TByteString& text) {
  std::int64_t size = stream->GetSize();
  std::int64_t start = stream->GetPosition();
  if (size < 0 || start < 0) return false;
  std::int64_t remaining = size > start ? size - start : 0;
  if (remaining > kMaxIniTextSize) return false;

  std::uint8_t head[3] = {0, 0, 0};
  std::int32_t got = 0;
  while (got < 3) {
    std::int32_t n = stream->Read(TReadBuffer(head, 3), 3 - got, got);
    if (n <= 0) break;
    got += n;
  }

  if (got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    std::int64_t count = remaining > 3 ? remaining - 3 : 0;
    std::string bytes(static_cast<std::size_t>(count), '\0');
    if (!ReadFully(stream, reinterpret_cast<std::uint8_t*>(bytes.data()), count)) return false;
    text = TByteString(std::move(bytes));
    return true;
  }

  if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    stream->SetPosition(start + 2);
    std::int64_t units = remaining > 2 ? (remaining - 2) / 2 : 0;
    std::u16string wide(static_cast<std::size_t>(units), u'\0');
    if (!ReadFully(stream, reinterpret_cast<std::uint8_t*>(wide.data()), units * 2)) return false;
    // The file's code units are little-endian, as is this machine.
    text = TByteString(plat::ToUtf8(wide));
    return true;
  }

  stream->SetPosition(start);
  std::string bytes(static_cast<std::size_t>(remaining), '\0');
  if (!ReadFully(stream, reinterpret_cast<std::uint8_t*>(bytes.data()), remaining)) return false;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  // The ANSI code page reads valid UTF-8 unchanged: skip the round trip.
  if (codePage == plat::kCodePageAnsi && plat::IsValidUtf8(data, bytes.size())) {
    text = TByteString(std::move(bytes));
    return true;
  }
  std::u16string wide;
  if (!plat::CodePageToUtf16(codePage, data, bytes.size(), wide)) return false;
  text = TByteString(plat::ToUtf8(wide));
  return true;
}

}  // namespace

bool LoadIniText(TStream* stream, bool ownsStream, std::uint32_t codePage, TByteString& text) {
  text = TByteString();
  if (!stream) return false;
  bool ok = false;
  try {
    ok = ReadText(stream, codePage, text);
  } catch (const EStreamError&) {
    ok = false;
  } catch (const EFileError&) {
    ok = false;
  } catch (...) {
    if (ownsStream) stream->Free();
    throw;
  }
  if (!ok) text = TByteString();
  if (ownsStream) stream->Free();
  return ok;
}

// ============================================================================
// TIniTokenizer
// ============================================================================

TIniTokenizer::TIniTokenizer(TByteString text) : Text(std::move(text)) { End = Text.Length(); }

TIniTokenizer::TIniTokenizer(const TByteString& whole, std::int32_t from, std::int32_t to) : whole_(&whole) {
  End = std::clamp(to, 0, whole.Length());
  Position = LineStart = std::clamp(from, 0, End);
}

std::int32_t TIniTokenizer::LineEnd(std::int32_t from) const {
  const std::uint8_t* p = Source().Data();
  // Eight bytes at a time while none is below 14 (no CR or LF among them).
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  while (from + 8 <= End) {
    std::uint64_t w;
    std::memcpy(&w, p + from, sizeof w);
    if ((w - kOnes * 14) & ~w & kHighs) break;
    from += 8;
  }
  while (from < End) {
    std::uint8_t b = p[from];
    if (b <= 13 && IsLineEnd(b)) break;
    ++from;
  }
  return from;
}

std::int32_t TIniTokenizer::TrimEnd(std::int32_t from, std::int32_t to) const {
  const std::uint8_t* p = Source().Data();
  while (to > from && kBlank.Contains(p[to - 1])) --to;
  return to;
}

bool TIniTokenizer::KeywordAt(std::int32_t pos, const char* word, std::int32_t len) const {
  const std::uint8_t* p = Source().Data();
  if (End - pos < len) return false;
  for (std::int32_t k = 0; k < len; ++k)
    if ((p[pos + k] | 0x20) != static_cast<std::uint8_t>(word[k])) return false;
  std::int32_t after = pos + len;
  if (after < End && kIdent.Contains(p[after])) return false;
  while (after < End && kBlank.Contains(p[after])) ++after;
  return !(after < End && p[after] == '=');
}

void TIniTokenizer::ConsumeLineEnd(std::int32_t at) {
  const std::uint8_t* p = Source().Data();
  if (at >= End) {
    Position = End;
    LineEndKind = kIniNoLineEnd;
    return;
  }
  std::uint8_t b = p[at];
  ZM_ASSERT(IsLineEnd(b), "ParseIniLine: line end expected");
  std::uint8_t other = b == 13 ? 10 : 13;
  if (at + 1 < End && p[at + 1] == other) {
    LineEndKind = b == 13 ? kIniCrLf : kIniLfCr;
    Position = at + 2;
  } else {
    LineEndKind = b == 13 ? kIniCr : kIniLf;
    Position = at + 1;
  }
}

std::uint8_t TIniTokenizer::ParseIniLine() {
  const std::uint8_t* p = Source().Data();
  NameStart = NameLength = ValueStart = ValueLength = 0;
  LineStart = Position;
  std::int32_t i = Position;
  while (i < End && kBlank.Contains(p[i])) ++i;
  Indentation = i - LineStart;
  ValueStart = i;
  if (i >= End) {
    Position = End;
    LineEndKind = kIniNoLineEnd;
    return kIniTextLine;
  }

  std::uint8_t lead = p[i];
  std::uint8_t kind = kIniTextLine;
  std::int32_t lineEnd;
  if (IsLineEnd(lead)) {
    lineEnd = i;
  } else if (lead == ';' || lead == '=') {
    lineEnd = LineEnd(i);
    ValueLength = TrimEnd(i, lineEnd) - i;
  } else if (lead == '[') {
    std::int32_t q = i + 1;
    while (q < End && kBlank.Contains(p[q])) ++q;
    std::int32_t j = q;
    while (j < End && p[j] != ']' && !IsLineEnd(p[j])) ++j;
    if (j < End && p[j] == ']') {
      kind = kIniSectionLine;
      NameStart = q;
      NameLength = TrimEnd(q, j) - q;
      lineEnd = LineEnd(j + 1);
    } else {
      // No closing bracket on the line: a text line.
      lineEnd = j;
      ValueLength = TrimEnd(i, lineEnd) - i;
    }
  } else if (KeywordAt(i, "object", 6)) {
    kind = kIniObjectLine;
    std::int32_t n = i + 6;
    while (n < End && kBlank.Contains(p[n])) ++n;
    lineEnd = LineEnd(n);
    std::int32_t colon = lineEnd;
    while (colon > n && p[colon - 1] != ':') --colon;
    NameStart = n;
    if (colon > n) {
      NameLength = TrimEnd(n, colon - 1) - n;
      std::int32_t t = colon;
      while (t < lineEnd && kBlank.Contains(p[t])) ++t;
      ValueStart = t;
      ValueLength = TrimEnd(t, lineEnd) - t;
    } else {
      NameLength = TrimEnd(n, lineEnd) - n;
      ValueStart = lineEnd;
    }
  } else if (KeywordAt(i, "end", 3)) {
    kind = kIniEndLine;
    lineEnd = LineEnd(i + 3);
  } else {
    std::int32_t j = i + 1;
    while (j < End && p[j] != '=' && !IsLineEnd(p[j])) ++j;
    if (j < End && p[j] == '=') {
      kind = kIniKeyLine;
      NameStart = i;
      NameLength = TrimEnd(i, j) - i;
      ZM_ASSERT(NameLength >= 1, "ParseIniLine: empty key name");
      std::int32_t v = j + 1;
      while (v < End && kBlank.Contains(p[v])) ++v;
      lineEnd = LineEnd(v);
      ValueStart = v;
      ValueLength = TrimEnd(v, lineEnd) - v;
    } else {
      lineEnd = j;
      ValueLength = TrimEnd(i, lineEnd) - i;
    }
  }
  ConsumeLineEnd(lineEnd);
  return kind;
}

}  // namespace zm
