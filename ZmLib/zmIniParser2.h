#pragma once
// The text form of ini documents: the loader that turns the bytes of a
// stream into UTF-8 text (byte-order marks and code pages), and the line
// tokenizer that cuts the text into typed lines.
//
// Positions are 0-based byte offsets into the text.
#include <cstdint>
#include <string_view>

#include "ZmLib/zmByteString.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// Streams larger than this are refused by the loader.
constexpr std::int64_t kMaxIniTextSize = 134217727;

// Reads the rest of a stream as document text: after the UTF-8 mark
// EF BB BF the bytes as they are; after the UTF-16 mark FF FE the
// little-endian code units converted to UTF-8; without a mark the bytes in
// the code page (0: the ANSI code page, which reads valid UTF-8 as it is and
// anything else as Windows-1252) converted to UTF-8. False, with empty text,
// for a stream larger than kMaxIniTextSize, a stream that delivers fewer
// bytes than its size, or a code page this system cannot convert. An owned
// stream is freed in every case.
bool LoadIniText(TStream* stream, bool ownsStream, std::uint32_t codePage, TByteString& text);

// Line kinds.
constexpr std::uint8_t kIniTextLine = 0;  // empty line, comment or plain text
constexpr std::uint8_t kIniKeyLine = 1;
constexpr std::uint8_t kIniSectionLine = 2;
constexpr std::uint8_t kIniObjectLine = 3;
constexpr std::uint8_t kIniEndLine = 4;

// Line-end kinds.
constexpr std::uint8_t kIniNoLineEnd = 0;  // end of the text
constexpr std::uint8_t kIniCrLf = 1;
constexpr std::uint8_t kIniLfCr = 2;
constexpr std::uint8_t kIniCr = 3;
constexpr std::uint8_t kIniLf = 4;

class TIniTokenizer {
public:
  TIniTokenizer() = default;
  explicit TIniTokenizer(TByteString text);
  // The lines of whole from byte from up to byte to, without a copy: whole
  // must outlive the tokenizer (its own Text stays empty).
  TIniTokenizer(const TByteString& whole, std::int32_t from, std::int32_t to);
  TIniTokenizer(const TIniTokenizer&) = delete;
  TIniTokenizer& operator=(const TIniTokenizer&) = delete;

  // Reads one line (call while Position < End) and returns its kind. The
  // name is that of a key, section or object; the value is that of a key,
  // the type of an object, or the text of a text line.
  std::uint8_t ParseIniLine();

  TByteString Name() const { return Source().Copy(NameStart, NameLength); }
  TByteString Value() const { return Source().Copy(ValueStart, ValueLength); }
  // The same bytes in place, valid while the text is.
  std::string_view NameView() const { return Source().View().substr(std::size_t(NameStart), std::size_t(NameLength)); }
  std::string_view ValueView() const {
    return Source().View().substr(std::size_t(ValueStart), std::size_t(ValueLength));
  }
  WideString WideName() const { return Source().ToWide(NameStart, NameLength); }
  WideString WideValue() const { return Source().ToWide(ValueStart, ValueLength); }
  // The text the positions count in: Text, or the whole of a part.
  const TByteString& Source() const { return whole_ ? *whole_ : Text; }
  bool AtEnd() const { return Position >= End; }

  std::int32_t NameStart = 0;
  std::int32_t NameLength = 0;
  std::int32_t ValueStart = 0;
  std::int32_t ValueLength = 0;
  TByteString Text;
  std::int32_t Position = 0;
  std::int32_t End = 0;
  std::int32_t LineStart = 0;
  std::int32_t Indentation = 0;
  std::uint8_t LineEndKind = kIniNoLineEnd;

private:
  const TByteString* whole_ = nullptr;
  std::int32_t LineEnd(std::int32_t from) const;
  std::int32_t TrimEnd(std::int32_t from, std::int32_t to) const;
  bool KeywordAt(std::int32_t pos, const char* word, std::int32_t len) const;
  void ConsumeLineEnd(std::int32_t at);
};

}  // namespace zm
