#pragma once
// The marker segments at the head of a JPEG file and, inside an APP13
// segment, the image-resource blocks in which image editors keep IPTC data.
// Both walks stop quietly at damaged or cut-off data: what came before is
// still reported.
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmStream.h"

namespace oru {

using zm::TRef;
using zm::TStream;

using zm::Exception;
ZM_DECLARE_EXCEPTION(EInvalidJPEGHeader, Exception)

constexpr std::uint8_t kJpegMarkerSOS = 0xDA;
constexpr std::uint8_t kJpegMarkerEOI = 0xD9;
constexpr std::uint8_t kJpegMarkerAPP0 = 0xE0;
constexpr std::uint8_t kJpegMarkerAPP1 = 0xE1;
constexpr std::uint8_t kJpegMarkerAPP13 = 0xED;

class TUserJPEGSegment : public zm::TRefObject {
public:
  TUserJPEGSegment();
  void Dispose() override;

  std::uint8_t Marker = 0;
  TRef<zm::TMemoryStream> Data;  // the bytes after the length field

  // An APP13 segment in the image-resource format.
  bool IsAdobeApp13();
  // The offset of the first resource block in Data (0 when not APP13).
  std::int32_t App13HeaderSize();
};

class TFoundJPEGSegment : public TUserJPEGSegment {
public:
  std::int64_t Offset = 0;  // of the segment's marker (its FF byte)
};

class TJPEGHeaderParser : public zm::TRefObject {
public:
  // The stream must stand at FF D8; otherwise EInvalidJPEGHeader.
  TJPEGHeaderParser(TStream* stream, bool ownsStream, const zm::TByteCharSet& markers);
  void Dispose() override;

  // Moves to the next segment whose marker is in the set; false at the end.
  bool MoveNext();
  // The segment MoveNext found (nil before the first and after the last).
  TFoundJPEGSegment* Current() const { return current_.get(); }

private:
  bool ReadMarker(std::uint8_t& marker, std::int64_t& offset);

  TStream* stream_;
  bool ownsStream_;
  std::int64_t start_;
  zm::TByteCharSet markers_;
  std::int64_t next_;
  bool ended_ = false;
  TRef<TFoundJPEGSegment> current_;
};

class TAdobeBlock : public zm::TRefObject {
public:
  TAdobeBlock();
  void Dispose() override;

  char Signature[4] = {};
  std::uint16_t TypeID = 0;
  zm::TByteString Name;
  TRef<zm::TMemoryStream> Data;

  // Resource 0x0404 holding IPTC datasets.
  bool IsIPTCBlock();
};

class TAdobeApp13Enumerator : public zm::TRefObject {
public:
  // The segment must be an APP13 segment (IsAdobeApp13); others enumerate nothing.
  explicit TAdobeApp13Enumerator(TUserJPEGSegment* segment);
  void Dispose() override;

  bool MoveNext();
  TAdobeBlock* Current() const { return current_.get(); }

private:
  TRef<zm::TMemoryStream> data_;
  std::int64_t next_;
  TRef<TAdobeBlock> current_;
};

}  // namespace oru
