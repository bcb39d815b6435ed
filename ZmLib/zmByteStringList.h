#pragma once
// Splitting byte strings without copying: line stepping, separated lists
// (TCommaList), a growable array of byte strings (TByteStringList) and the
// parser of "name: value; name: value" parameter texts (TPListParser).
// Positions are 0-based byte offsets.
#include <cstdint>
#include <vector>

#include "ZmLib/zmByteString.h"

namespace zm {

// The length of the line that begins at start (up to the next CR or LF);
// false when start is at or past the end.
bool GetFirstLine(const TByteString& text, std::int32_t start, std::int32_t& len);
// Moves start past the current line and one line break (CR, LF, CR LF or
// LF CR; two equal break bytes are two breaks) and measures the next line;
// false at the end of the text.
bool GetNextLine(const TByteString& text, std::int32_t& start, std::int32_t& len);

// The fields of a separated list, found once and read by index. Up to five
// separators below position 63 are packed into one integer; more go to an
// array.
struct TCommaList {
  TByteString Text;
  std::int32_t Packed = 0;  // <= 0: packed positions; > 0: separators in Positions
  std::vector<std::int32_t> Positions;

  std::int32_t Count() const;  // separators + 1; 0 for an empty text
  // Start and length of field n (0-based); false when the field is empty or
  // n is beyond the last field (start is then 0 for a negative n, else the
  // text length).
  bool GetBounds(std::int32_t n, std::int32_t& start, std::int32_t& len) const;
  TByteString GetItem(std::int32_t n) const;  // empty when missing
  WideString GetWide(std::int32_t n) const;
  std::int32_t GetInt(std::int32_t n, std::int32_t def) const;
  double GetFloat(std::int32_t n, double def) const;

  void Reset(const TByteString& text);
  void AddSeparator(std::int32_t pos);
  std::int32_t SeparatorCount() const;
  std::int32_t SeparatorAt(std::int32_t k) const;
  bool IsPacked() const { return Packed <= 0; }
};

void MakeCommaList(const TByteString& text, std::uint8_t separator, TCommaList& list);
void MakeCommaListWide(const WideString& s, std::uint8_t separator, TCommaList& list);

struct TByteStringList {
  std::vector<TByteString> Items;  // its length is the capacity
  std::int32_t FCount = 0;

  std::int32_t Count() const { return FCount; }
  std::int32_t AddEmpty();  // capacity 16 at first, then doubled; returns the index
  std::int32_t Add(const TByteString& s);
  const TByteString& Get(std::int32_t i) const;  // empty out of range
};

// Parameter texts made of name and value pairs, read into slots by name.
// Names must appear in the order they were registered (some may be left out).
struct TPListParser {
  TByteStringList Names;       // UTF-8
  std::vector<std::int32_t> Slots;  // made only when a slot differs from its name's index

  // Slots must rise (assertion).
  void AddName(const TByteString& name, std::int32_t slot);
  void AddName(const TByteString& name) { AddName(name, Names.Count()); }
  // The number of pairs read, or, on an error, the bitwise complement of the
  // byte position where the failing name began (a negative number).
  std::int32_t Parse(const TByteString& text, std::vector<TByteString>& results, std::uint8_t pairSeparator = ';',
                     std::uint8_t nameSeparator = ':') const;
  std::int32_t SlotCount() const;
  std::int32_t SlotOf(std::int32_t nameIndex) const;
};

}  // namespace zm
