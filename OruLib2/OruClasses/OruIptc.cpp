#include "OruLib2/OruClasses/OruIptc.h"

#include <algorithm>
#include <string>

#include "OruLib2/OruClasses/OruJpegSegments.h"
#include "ZmLib/wpUnicode.h"

namespace oru {

namespace {

constexpr std::uint8_t kTagMarker = 0x1C;

WideString IptcAscii(const std::string& s) { return WideString(s.begin(), s.end()); }

bool IsNumericDataset(std::uint8_t record, std::uint8_t dataset) {
  if (record == 2) return dataset == 0;
  if (record == 1) return dataset == 0 || dataset == 20 || dataset == 22 || dataset == 120 || dataset == 122;
  return false;
}

// Days from 1 January 1970 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

// ---- TIPTCTag ----------------------------------------------------------------

TIPTCTag::TIPTCTag(TIPTCSection* section, std::uint8_t dataset) : Dataset(dataset), Section(section) {}

WideString TIPTCTag::AsString() const {
  const std::uint8_t record = Section ? Section->Record : 0;
  if (IsNumericDataset(record, Dataset)) {
    switch (Data.size()) {
      case 1:
        return IptcAscii(std::to_string(Data[0]));
      case 2:
        return IptcAscii(std::to_string(Data[0] << 8 | Data[1]));
      case 4:
        return IptcAscii(std::to_string(std::uint32_t(Data[0]) << 24 | Data[1] << 16 | Data[2] << 8 | Data[3]));
      default:
        break;
    }
  }
  if (Data.empty()) return {};
  const bool utf8 = Section && Section->Owner && Section->Owner->UTF8;
  if (utf8) return zm::TByteString(Data.data(), Data.size()).ToWide();
  WideString s;
  zm::AnsiRangeToWide(Data, 0, s, zm::CP_ACP, static_cast<std::int32_t>(Data.size()));
  return s;
}

// ---- TIPTCSection -------------------------------------------------------------

TIPTCSection::TIPTCSection(TIPTCData* owner, std::uint8_t record) : Owner(owner), Record(record) {}

void TIPTCSection::Dispose() {
  Tags.clear();
  TRefObject::Dispose();
}

TIPTCTag* TIPTCSection::AddTag(std::uint8_t dataset, std::int32_t index) {
  ZM_ASSERT(index >= 0 && index <= static_cast<std::int32_t>(Tags.size()), "IPTC tag index out of range");
  auto tag = zm::MakeRef<TIPTCTag>(this, dataset);
  TIPTCTag* p = tag.get();
  Tags.insert(Tags.begin() + index, std::move(tag));
  Modified = true;
  return p;
}

TIPTCTag* TIPTCSection::Find(std::uint8_t dataset) const {
  for (const auto& t : Tags) {
    if (t->Dataset == dataset) return t.get();
    if (Sorted && t->Dataset > dataset) break;
  }
  return nullptr;
}

void TIPTCSection::Clear() {
  Tags.clear();
  Sorted = true;
  Modified = false;
}

// ---- TIPTCData ------------------------------------------------------------------

TIPTCData::TIPTCData() {
  for (int i = 0; i < 9; ++i) sections_[i] = zm::MakeRef<TIPTCSection>(this, static_cast<std::uint8_t>(i + 1));
}

void TIPTCData::Dispose() {
  for (auto& s : sections_) {
    if (s) s->Owner = nullptr;
    s = nullptr;
  }
  TRefObject::Dispose();
}

TIPTCSection* TIPTCData::Section(std::int32_t record) const {
  if (record < 1 || record > 9) return nullptr;
  return sections_[record - 1].get();
}

void TIPTCData::LoadFromJPEG(TStream* stream) {
  zm::TByteCharSet markers;
  markers.Add(kJpegMarkerAPP13);
  auto parser = zm::MakeRef<TJPEGHeaderParser>(stream, false, markers);
  while (parser->MoveNext()) {
    TFoundJPEGSegment* seg = parser->Current();
    if (!seg->IsAdobeApp13()) continue;
    auto blocks = zm::MakeRef<TAdobeApp13Enumerator>(seg);
    while (blocks->MoveNext()) {
      if (blocks->Current()->IsIPTCBlock()) {
        LoadFromStream(blocks->Current()->Data.get());
        return;
      }
    }
  }
  for (auto& s : sections_) s->Clear();
}

void TIPTCData::LoadFromStream(TStream* stream) {
  for (auto& s : sections_) s->Clear();
  const bool savedUTF8 = UTF8;
  UTF8 = DefaultUTF8;
  bool anyRead = false;
  // Settle the flags whichever way the loop ends.
  auto finish = [&] {
    if (!anyRead) UTF8 = savedUTF8;
    for (auto& s : sections_) {
      s->Modified = false;
      s->Sorted = std::is_sorted(s->Tags.begin(), s->Tags.end(),
                                 [](const TRef<TIPTCTag>& a, const TRef<TIPTCTag>& b) { return a->Dataset < b->Dataset; });
    }
  };
  try {
    while (stream && stream->GetRemaining() >= 5) {
      if (stream->ReadByte() != kTagMarker) {
        stream->SetPosition(stream->GetPosition() - 1);
        break;
      }
      const std::uint8_t record = stream->ReadByte();
      if (record == 0 || record >= 10)
        throw EInvalidIPTCData(zm::FormatPrintf("Invalid IPTC record number (%d)", {int(record)}));
      const std::uint8_t dataset = stream->ReadByte();
      std::uint32_t size = stream->ReadWordBE();
      if (size & 0x8000) {
        const std::uint32_t fieldSize = size & 0x7FFF;
        if (fieldSize != 1 && fieldSize != 2 && fieldSize != 4)
          throw EInvalidIPTCData(zm::FormatPrintf("Invalid IPTC tag size field (%d)", {int(fieldSize)}));
        if (stream->GetRemaining() < std::int64_t(fieldSize)) break;
        size = 0;
        for (std::uint32_t i = 0; i < fieldSize; ++i) size = size << 8 | stream->ReadByte();
      }
      // A size beyond the data left is a cut-off tag: keep what came before
      // rather than allocate what the field claims.
      const std::int64_t remaining = stream->GetRemaining();
      if (remaining >= 0 && std::int64_t(size) > remaining) break;
      std::vector<std::uint8_t> data(size);
      if (size > 0 && stream->Read(zm::TReadBuffer(data)) != static_cast<std::int32_t>(size)) break;
      TIPTCTag* tag = sections_[record - 1]->AddTag(dataset);
      tag->Data = std::move(data);
      anyRead = true;
      if (record == 1 && dataset == 90 && tag->Data.size() == 3 && tag->Data[0] == 0x1B && tag->Data[1] == 0x25 &&
          tag->Data[2] == 0x47)
        UTF8 = true;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

WideString TIPTCData::GetString(std::uint8_t dataset, std::uint8_t record) const {
  const TIPTCSection* s = Section(record);
  const TIPTCTag* t = s ? s->Find(dataset) : nullptr;
  return t ? t->AsString() : WideString();
}

std::vector<WideString> TIPTCData::GetStrings(std::uint8_t dataset, std::uint8_t record) const {
  std::vector<WideString> out;
  const TIPTCSection* s = Section(record);
  if (!s) return out;
  for (const auto& t : s->Tags) {
    if (t->Dataset == dataset) out.push_back(t->AsString());
    else if (s->Sorted && t->Dataset > dataset) break;
  }
  return out;
}

void TIPTCData::GetStringList(std::uint8_t dataset, zm::TStringList& list) const {
  list.Clear();
  for (const WideString& v : GetStrings(dataset)) list.Add(v);
}

void TIPTCData::GetPairs(std::uint8_t first, std::uint8_t second, zm::TStringList& list) const {
  list.Clear();
  const std::vector<WideString> a = GetStrings(first), b = GetStrings(second);
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i)
    list.Add((i < a.size() ? a[i] : WideString()) + u"=" + (i < b.size() ? b[i] : WideString()));
}

void TIPTCData::GetBylineValues(zm::TStringList& list) const { GetPairs(80, 85, list); }

void TIPTCData::GetContentLocationValues(zm::TStringList& list) const { GetPairs(26, 27, list); }

double TIPTCData::GetDate(std::uint8_t record, std::uint8_t dataset) const {
  const WideString s = GetString(dataset, record);
  if (s.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (s[i] < u'0' || s[i] > u'9') return 0;
    v[i] = s[i] - u'0';
  }
  const int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  const int month = v[4] * 10 + v[5];
  const int day = v[6] * 10 + v[7];
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1) return 0;
  if (day > kDays[month - 1] + (month == 2 && IsLeapYear(year))) return 0;
  return static_cast<double>(DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30));
}

std::int32_t TIPTCData::ActionAdvised() const {
  const WideString s = GetString(42);
  if (s.empty() || s.size() > 2) return 0;
  std::int32_t n = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return 0;
    n = n * 10 + (c - u'0');
  }
  return n >= 1 && n <= 99 ? n : 0;
}

std::int32_t TIPTCData::PriorityOf(std::uint8_t record, std::uint8_t dataset) const {
  const TIPTCSection* s = Section(record);
  const TIPTCTag* t = s ? s->Find(dataset) : nullptr;
  if (!t || t->Data.size() != 1) return 0;
  static constexpr char kOrder[] = {'\0', '8', '7', '6', '5', '4', '3', '2', '1', '9', '0'};
  for (std::int32_t i = 0; i < 11; ++i)
    if (static_cast<std::uint8_t>(kOrder[i]) == t->Data[0]) return i;
  return 0;
}

std::int32_t TIPTCData::EnvelopePriority() const { return PriorityOf(1, 60); }

std::int32_t TIPTCData::Urgency() const { return PriorityOf(2, 10); }

}  // namespace oru
