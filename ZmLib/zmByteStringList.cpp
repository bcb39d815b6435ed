#include "ZmLib/zmByteStringList.h"

#include <algorithm>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

// ============================================================================
// Lines
// ============================================================================

namespace {
bool IsBreak(std::uint8_t b) { return b == 13 || b == 10; }
}  // namespace

bool GetFirstLine(const TByteString& text, std::int32_t start, std::int32_t& len) {
  len = 0;
  if (start < 0 || start >= text.Length()) return false;
  std::int32_t i = start;
  while (i < text.Length() && !IsBreak(text.GetByte(i))) ++i;
  len = i - start;
  return true;
}

bool GetNextLine(const TByteString& text, std::int32_t& start, std::int32_t& len) {
  std::int64_t pos = std::int64_t(std::max(start, 0)) + std::max(len, 0);
  std::int32_t n = text.Length();
  if (pos >= n) {
    start = n;
    len = 0;
    return false;
  }
  std::uint8_t b = text.GetByte(static_cast<std::int32_t>(pos));
  if (IsBreak(b)) {
    ++pos;
    if (pos < n && IsBreak(text.GetByte(static_cast<std::int32_t>(pos))) &&
        text.GetByte(static_cast<std::int32_t>(pos)) != b)
      ++pos;  // CR LF or LF CR
  }
  start = static_cast<std::int32_t>(pos);
  return GetFirstLine(text, start, len);
}

// ============================================================================
// TCommaList
// ============================================================================

namespace {
constexpr std::uint32_t kSignBit = 0x80000000u;
constexpr int kPackedFields = 5;
constexpr std::int32_t kPackedLimit = 63;

std::uint32_t Field(std::uint32_t packed, int i) { return (packed >> (6 * i)) & 0x3F; }
}  // namespace

void TCommaList::Reset(const TByteString& text) {
  Text = text;
  Packed = 0;
  Positions.clear();
}

std::int32_t TCommaList::SeparatorCount() const {
  if (Packed > 0) return Packed;
  std::uint32_t p = static_cast<std::uint32_t>(Packed);
  int n = 0;
  while (n < kPackedFields && Field(p, n) != 0) ++n;
  return n;
}

std::int32_t TCommaList::SeparatorAt(std::int32_t k) const {
  if (Packed > 0) return Positions[static_cast<std::size_t>(k)];
  return static_cast<std::int32_t>(Field(static_cast<std::uint32_t>(Packed), k)) - 1;
}

void TCommaList::AddSeparator(std::int32_t pos) {
  if (Packed <= 0) {
    std::int32_t n = SeparatorCount();
    if (n < kPackedFields && pos >= 0 && pos < kPackedLimit) {
      std::uint32_t p = static_cast<std::uint32_t>(Packed) | kSignBit;
      p |= static_cast<std::uint32_t>(pos + 1) << (6 * n);
      Packed = static_cast<std::int32_t>(p);
      return;
    }
    // switch to the array form
    std::vector<std::int32_t> unpacked(8);
    for (std::int32_t k = 0; k < n; ++k) unpacked[static_cast<std::size_t>(k)] = SeparatorAt(k);
    Positions.swap(unpacked);
    Packed = n;
  }
  if (static_cast<std::size_t>(Packed) >= Positions.size()) Positions.resize(Positions.size() * 2);
  Positions[static_cast<std::size_t>(Packed)] = pos;
  ++Packed;
}

std::int32_t TCommaList::Count() const { return Text.IsEmpty() ? 0 : SeparatorCount() + 1; }

bool TCommaList::GetBounds(std::int32_t n, std::int32_t& start, std::int32_t& len) const {
  len = 0;
  if (n < 0) {
    start = 0;
    return false;
  }
  if (n >= Count()) {
    start = Text.Length();
    return false;
  }
  start = n == 0 ? 0 : SeparatorAt(n - 1) + 1;
  std::int32_t end = n == SeparatorCount() ? Text.Length() : SeparatorAt(n);
  len = end - start;
  return len > 0;
}

TByteString TCommaList::GetItem(std::int32_t n) const {
  std::int32_t start, len;
  if (!GetBounds(n, start, len)) return TByteString();
  return Text.Copy(start, len);
}

WideString TCommaList::GetWide(std::int32_t n) const {
  std::int32_t start, len;
  if (!GetBounds(n, start, len)) return WideString();
  return Text.ToWide(start, len);
}

std::int32_t TCommaList::GetInt(std::int32_t n, std::int32_t def) const {
  std::int32_t start, len;
  if (!GetBounds(n, start, len)) return def;
  return Text.ToIntDef(start, len, def);
}

double TCommaList::GetFloat(std::int32_t n, double def) const {
  std::int32_t start, len;
  if (!GetBounds(n, start, len)) return def;
  return Text.ToFloatDef(start, len, def);
}

void MakeCommaList(const TByteString& text, std::uint8_t separator, TCommaList& list) {
  list.Reset(text);
  for (std::int32_t i = 0; i < text.Length(); ++i)
    if (text.GetByte(i) == separator) list.AddSeparator(i);
}

void MakeCommaListWide(const WideString& s, std::uint8_t separator, TCommaList& list) {
  MakeCommaList(WideToByteString(s), separator, list);
}

// ============================================================================
// TByteStringList
// ============================================================================

std::int32_t TByteStringList::AddEmpty() {
  if (static_cast<std::size_t>(FCount) >= Items.size()) {
    ZM_ASSERT(Items.size() < (1u << 30), "TByteStringList is full");
    Items.resize(Items.empty() ? 16 : Items.size() * 2);
  }
  Items[static_cast<std::size_t>(FCount)] = TByteString();
  return FCount++;
}

std::int32_t TByteStringList::Add(const TByteString& s) {
  std::int32_t i = AddEmpty();
  Items[static_cast<std::size_t>(i)] = s;
  return i;
}

const TByteString& TByteStringList::Get(std::int32_t i) const {
  static const TByteString kEmpty;
  if (i < 0 || i >= FCount) return kEmpty;
  return Items[static_cast<std::size_t>(i)];
}

// ============================================================================
// TPListParser
// ============================================================================

void TPListParser::AddName(const TByteString& name, std::int32_t slot) {
  std::int32_t index = Names.Count();
  if (index > 0) ZM_ASSERT(slot > SlotOf(index - 1), "TPListParser.AddName: slots must rise");
  else ZM_ASSERT(slot >= 0, "TPListParser.AddName: negative slot");
  Names.Add(name);
  if (slot != index && Slots.empty()) {
    Slots.resize(Names.Items.size());
    for (std::int32_t k = 0; k < index; ++k) Slots[static_cast<std::size_t>(k)] = k;
  }
  if (!Slots.empty()) {
    if (Slots.size() < Names.Items.size()) Slots.resize(Names.Items.size());
    Slots[static_cast<std::size_t>(index)] = slot;
  }
}

std::int32_t TPListParser::SlotOf(std::int32_t nameIndex) const {
  return Slots.empty() ? nameIndex : Slots[static_cast<std::size_t>(nameIndex)];
}

std::int32_t TPListParser::SlotCount() const {
  if (Names.Count() == 0) return 0;
  return Slots.empty() ? Names.Count() : SlotOf(Names.Count() - 1) + 1;
}

std::int32_t TPListParser::Parse(const TByteString& text, std::vector<TByteString>& results,
                                 std::uint8_t pairSeparator, std::uint8_t nameSeparator) const {
  results.assign(static_cast<std::size_t>(SlotCount()), TByteString());
  std::int32_t n = text.Length();
  std::int32_t pos = 0, cursor = 0, pairs = 0;
  auto blank = [&](std::int32_t i) { return text.GetByte(i) <= 32; };
  while (pos < n) {
    while (pos < n && blank(pos)) ++pos;
    if (pos >= n) break;  // only blanks after the last pair
    std::int32_t nameStart = pos;
    std::int32_t sep = pos;
    while (sep < n && text.GetByte(sep) != nameSeparator) ++sep;
    if (sep >= n) return ~nameStart;
    std::int32_t nameEnd = sep;
    while (nameEnd > nameStart && blank(nameEnd - 1)) --nameEnd;
    TByteString name = text.Copy(nameStart, nameEnd - nameStart);
    while (cursor < Names.Count() && Names.Get(cursor).CompareText(name) != 0) ++cursor;
    if (cursor >= Names.Count()) return ~nameStart;
    pos = sep + 1;
    while (pos < n && blank(pos)) ++pos;
    std::int32_t valueStart = pos;
    while (pos < n && text.GetByte(pos) != pairSeparator) ++pos;
    std::int32_t valueEnd = pos;
    while (valueEnd > valueStart && blank(valueEnd - 1)) --valueEnd;
    if (pos < n) ++pos;  // the pair separator
    if (valueEnd > valueStart)
      results[static_cast<std::size_t>(SlotOf(cursor))] = text.Copy(valueStart, valueEnd - valueStart);
    ++pairs;
  }
  return pairs;
}

}  // namespace zm
