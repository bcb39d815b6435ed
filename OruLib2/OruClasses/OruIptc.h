#pragma once
// IPTC-IIM datasets as a JPEG file carries them in its APP13 resource block,
// answered by record and dataset number.
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmStringList.h"

namespace oru {

using zm::TRef;
using zm::TStream;
using zm::WideString;

using zm::Exception;
ZM_DECLARE_EXCEPTION(EInvalidIPTCData, Exception)

class TIPTCData;
class TIPTCSection;

class TIPTCTag : public zm::TRefObject {
public:
  TIPTCTag(TIPTCSection* section, std::uint8_t dataset);

  std::uint8_t Dataset;
  std::vector<std::uint8_t> Data;
  TIPTCSection* Section;  // not owned

  // The value as text: a decimal number for the numeric datasets of 1 or 2
  // or 4 bytes, else text in the data's character set.
  WideString AsString() const;
};

class TIPTCSection : public zm::TRefObject {
public:
  TIPTCSection(TIPTCData* owner, std::uint8_t record);
  void Dispose() override;

  TIPTCData* Owner;  // not owned
  std::uint8_t Record;
  std::vector<TRef<TIPTCTag>> Tags;  // file order
  bool Sorted = true;                // dataset numbers never decrease
  bool Modified = false;

  // Inserts a tag at index (0 to the tag count; else an assertion error).
  TIPTCTag* AddTag(std::uint8_t dataset, std::int32_t index);
  TIPTCTag* AddTag(std::uint8_t dataset) { return AddTag(dataset, static_cast<std::int32_t>(Tags.size())); }
  // The first tag of the dataset, or nil.
  TIPTCTag* Find(std::uint8_t dataset) const;
  void Clear();
};

class TIPTCData : public zm::TRefObject {
public:
  TIPTCData();
  void Dispose() override;

  // Records 1 to 9.
  TIPTCSection* Section(std::int32_t record) const;

  // Finds the IPTC block of the APP13 segments and loads it; without one all
  // sections are emptied. EInvalidJPEGHeader for a stream that is no JPEG.
  void LoadFromJPEG(TStream* stream);
  // Reads datasets from the stream's position. Malformed data raises
  // EInvalidIPTCData; the sections keep what was read before.
  void LoadFromStream(TStream* stream);

  WideString GetString(std::uint8_t dataset, std::uint8_t record = 2) const;
  std::vector<WideString> GetStrings(std::uint8_t dataset, std::uint8_t record = 2) const;
  void GetStringList(std::uint8_t dataset, zm::TStringList& list) const;  // record 2
  // Items "value1=value2" of by-line (2:80) with by-line title (2:85).
  void GetBylineValues(zm::TStringList& list) const;
  // Items "code=name" of content location (2:26 with 2:27).
  void GetContentLocationValues(zm::TStringList& list) const;
  // A CCYYMMDD text as a day count from 30 December 1899; 0 when invalid.
  double GetDate(std::uint8_t record, std::uint8_t dataset) const;
  std::int32_t ActionAdvised() const;     // 2:42: 1 to 99, else 0
  std::int32_t EnvelopePriority() const;  // 1:60
  std::int32_t Urgency() const;           // 2:10

  bool UTF8 = false;
  bool DefaultUTF8 = false;

private:
  std::int32_t PriorityOf(std::uint8_t record, std::uint8_t dataset) const;
  void GetPairs(std::uint8_t first, std::uint8_t second, zm::TStringList& list) const;

  TRef<TIPTCSection> sections_[9];
};

}  // namespace oru
